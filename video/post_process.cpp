#include "video/post_process.h"

#include <algorithm>
#include <string>
#include <utility>

#include "base/message_output.h"
#include "video/d3d9/d3dx9.h"
#include "video/shader_set.h"
#include "video/video_system.h"
#include "video/video_cvars.h"

void SetSolidState(IDirect3DDevice9* device) {
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
}

namespace {

void SetFilter(IDirect3DDevice9* device, DWORD stage, DWORD filter) {
    device->SetSamplerState(stage, D3DSAMP_MINFILTER, filter);
    device->SetSamplerState(stage, D3DSAMP_MAGFILTER, filter);
    device->SetSamplerState(stage, D3DSAMP_MIPFILTER, filter);
}

void SetAddress(IDirect3DDevice9* device, DWORD stage, DWORD mode) {
    device->SetSamplerState(stage, D3DSAMP_ADDRESSU, mode);
    device->SetSamplerState(stage, D3DSAMP_ADDRESSV, mode);
    device->SetSamplerState(stage, D3DSAMP_ADDRESSW, mode);
}

// Direct3D refuses a null render target 0; a target that could not be made
// leaves whatever is bound in place.
void BindTarget(IDirect3DDevice9* device, IDirect3DSurface9* target) {
    if (target != nullptr) device->SetRenderTarget(0, target);
}

// The state every composite starts from: solid fill, stages 0 and 1 linear
// and clamped.
void CompositeState(IDirect3DDevice9* device) {
    SetSolidState(device);
    SetLinearFilter(device, 0);
    SetClampAddress(device, 0);
    SetLinearFilter(device, 1);
    SetClampAddress(device, 1);
}

template <typename Shader>
void ReleaseShader(Shader** shader) {
    if (*shader != nullptr) (*shader)->Release();
    *shader = nullptr;
}

// The full-screen quad for a width x height target, moved half of its pixel
// left and up so that each pixel samples the texel under it.
void PassQuad(UINT width, UINT height, GpuVertex* vertices) {
    const float corners[4][4] = {{-1, 1, 0, 0}, {1, 1, 1, 0}, {-1, -1, 0, 1}, {1, -1, 1, 1}};
    for (int i = 0; i < 4; ++i) {
        vertices[i] = GpuVertex{};
        vertices[i].position[0] = corners[i][0] - 1.0f / static_cast<float>(width);
        vertices[i].position[1] = corners[i][1] + 1.0f / static_cast<float>(height);
        vertices[i].normal[2] = 1.0f;
        vertices[i].colour = 0xFFFFFFFF;
        vertices[i].texCoord[0] = corners[i][2];
        vertices[i].texCoord[1] = corners[i][3];
    }
}

// x mod n for a possibly negative x.
int Wrap(int x, int n) { return ((x % n) + n) % n; }

}  // namespace

void SetLinearFilter(IDirect3DDevice9* device, DWORD stage) { SetFilter(device, stage, D3DTEXF_LINEAR); }
void SetPointFilter(IDirect3DDevice9* device, DWORD stage) { SetFilter(device, stage, D3DTEXF_POINT); }
void SetWrapAddress(IDirect3DDevice9* device, DWORD stage) { SetAddress(device, stage, D3DTADDRESS_WRAP); }
void SetClampAddress(IDirect3DDevice9* device, DWORD stage) { SetAddress(device, stage, D3DTADDRESS_CLAMP); }

void TargetAndClear(IDirect3DDevice9* device, IDirect3DSurface9* target) {
    BindTarget(device, target);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00000000, 1.0f, 0);
}

// ---------------------------------------------------------------------------
// Targets
// ---------------------------------------------------------------------------

void PostProcess::CreateTarget(IDirect3DDevice9* device, UINT width, UINT height, DWORD usage, D3DFORMAT format,
                               Target* target, const char* failure, int index) {
    ReleaseTarget(target);
    if (FAILED(device->CreateTexture(width, height, 1, usage, format, D3DPOOL_DEFAULT, &target->texture, nullptr)) ||
        target->texture == nullptr) {
        target->texture = nullptr;
        PrintLine(failure, index);
        return;
    }
    if (FAILED(target->texture->GetSurfaceLevel(0, &target->surface))) target->surface = nullptr;
}

void PostProcess::ReleaseTarget(Target* target) {
    if (target->surface != nullptr) target->surface->Release();
    if (target->texture != nullptr) target->texture->Release();
    *target = Target{};
}

void PostProcess::CreateTargets(IDirect3DDevice9* device, UINT width, UINT height) {
    Release();
    motion_ = 0;
    history_ = 0;
    motionSumRead_ = 0;
    if (device == nullptr) return;
    blurWidth_ = std::max(1u, width / kDofBlurDivisor);
    blurHeight_ = std::max(1u, height / kDofBlurDivisor);

    static const char kTextureFailure[] = "Error creating destination renderer texture";
    static const char kMotionFailure[] = "Error creating destination motion texture %i";
    CreateTarget(device, width, height, 0, D3DFMT_D24S8, &depth_,
                 "Error creating destination depth stencil texture", 0);
    CreateTarget(device, width, height, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, &scene_, kTextureFailure, 0);
    if (FAILED(device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer_))) {
        backBuffer_ = nullptr;
        PrintLine("Error creating destination renderer target");
    }
    if (FAILED(device->GetDepthStencilSurface(&defaultDepth_))) {
        defaultDepth_ = nullptr;
        PrintLine("Error retrieving default depth stencil surface.");
    }
    CreateTarget(device, kBrightPassSize, kBrightPassSize, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, &bright_,
                 kTextureFailure, 0);
    for (int i = 0; i < kMotionFrameCount; ++i) {
        CreateTarget(device, width, height, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, &frames_[i], kMotionFailure, i);
    }
    for (int i = 0; i < kBrightHistoryCount; ++i) {
        CreateTarget(device, kBrightPassSize, kBrightPassSize, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                     &histories_[i], kMotionFailure, i);
    }
    CreateTarget(device, kGlowSize, kGlowSize, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, &glow_, kTextureFailure, 0);
    CreateTarget(device, kBrightPassSize, kBrightPassSize, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, &trail_,
                 kTextureFailure, 0);
    CreateTarget(device, kBrightPassSize, kBrightPassSize, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, &trailGlow_,
                 kTextureFailure, 0);
    CreateTarget(device, blurWidth_, blurHeight_, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, &dofBlur_,
                 kTextureFailure, 0);
    CreateTarget(device, blurWidth_, blurHeight_, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, &dofHalfBlur_,
                 kTextureFailure, 0);
    // 16 bits a channel: carried from frame to frame, 8 would drift.
    for (Target& sum : motionSums_) {
        CreateTarget(device, width, height, D3DUSAGE_RENDERTARGET, D3DFMT_A16B16G16R16, &sum, kTextureFailure, 0);
    }
    CreatePassShaders(device);
}

void PostProcess::CreatePassShaders(IDirect3DDevice9* device) {
    if (ID3DXBuffer* code = CompileShaderEntry("def_main_vs", "vs.2.0")) {
        if (FAILED(device->CreateVertexShader(static_cast<const DWORD*>(code->GetBufferPointer()), &passVs_))) {
            ReleaseShader(&passVs_);
        }
        code->Release();
    }
    const std::pair<const char*, IDirect3DPixelShader9**> pixels[] = {{"hdr_glow_ps", &glowPs_},
                                                                      {"hdr_trail_ps", &trailPs_},
                                                                      {"hdr_trail_glow_ps", &trailGlowPs_},
                                                                      {"dof_blur_ps", &dofBlurPs_},
                                                                      {"dof_half_blur_ps", &dofHalfBlurPs_},
                                                                      {"blur_post_seed_ps", &motionSeedPs_},
                                                                      {"blur_post_step_ps", &motionStepPs_}};
    // A shader file with only the ten entries the engine requires is a
    // good one: the passes it lacks fall back quietly, and one line (once,
    // not again on every resize) says which they are.
    std::string missing;
    for (const auto& [entry, shader] : pixels) {
        bool absent = false;
        *shader = CreateOptionalPixelShader(device, kShaderFile, entry, &absent);
        if (absent) missing += std::string(missing.empty() ? "" : ", ") + entry;
    }
    if (!missing.empty() && missing != missingReported_) {
        PrintLine("%s has no %s; the effects do without those passes", kShaderFile, missing.c_str());
    }
    missingReported_ = missing;
}

void PostProcess::Release() {
    ReleaseTarget(&depth_);
    ReleaseTarget(&scene_);
    if (backBuffer_ != nullptr) backBuffer_->Release();
    backBuffer_ = nullptr;
    if (defaultDepth_ != nullptr) defaultDepth_->Release();
    defaultDepth_ = nullptr;
    ReleaseTarget(&bright_);
    for (Target& target : frames_) ReleaseTarget(&target);
    for (Target& target : histories_) ReleaseTarget(&target);
    ReleaseTarget(&glow_);
    ReleaseTarget(&trail_);
    ReleaseTarget(&trailGlow_);
    ReleaseTarget(&dofBlur_);
    ReleaseTarget(&dofHalfBlur_);
    for (Target& sum : motionSums_) ReleaseTarget(&sum);
    motionSumKept_ = false;
    ReleaseShader(&passVs_);
    ReleaseShader(&glowPs_);
    ReleaseShader(&trailPs_);
    ReleaseShader(&trailGlowPs_);
    ReleaseShader(&dofBlurPs_);
    ReleaseShader(&dofHalfBlurPs_);
    ReleaseShader(&motionSeedPs_);
    ReleaseShader(&motionStepPs_);
}

bool PostProcess::DrawPass(IDirect3DDevice9* device, const Target& target, UINT width, UINT height,
                           IDirect3DPixelShader9* shader) {
    if (target.surface == nullptr || shader == nullptr || passVs_ == nullptr) return false;
    GpuVertex quad[4];
    PassQuad(width, height, quad);
    // The quad covers the whole target, so there is nothing to clear, and it
    // must neither test nor write the depth buffer the bright pass left.
    device->SetRenderTarget(0, target.surface);
    device->SetRenderState(D3DRS_ZENABLE, FALSE);
    device->SetVertexShader(passVs_);
    device->SetPixelShader(shader);
    device->SetFVF(kGpuVertexFvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(GpuVertex));
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    return true;
}

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

bool PostProcess::Run(int32_t mode, IDirect3DDevice9* device, PostProcessScene* scene) {
    switch (mode) {
        case kEffectFakeHdr: DrawFakeHdr(device, scene); return true;
        case kEffectMotionBlur: DrawMotionBlur(device, scene); return true;
        case kEffectHdrBlur: DrawHdrBlur(device, scene); return true;
        case kEffectDepthOfField: DrawDepthOfField(device, scene); return true;
        default: return false;
    }
}

// The lit scene with its sky, plus a 256x256 bright pass of the world,
// combined and tone mapped.
void PostProcess::DrawFakeHdr(IDirect3DDevice9* device, PostProcessScene* scene) {
    SetWrapAddress(device, 0);
    SetClampAddress(device, 1);
    SetSolidState(device);
    TargetAndClear(device, scene_.surface);
    scene->DrawSky(device);
    SetWrapAddress(device, 0);
    BindWorldShaders();
    scene->DrawCaches(device, false);

    SetLinearFilter(device, 0);
    SetLinearFilter(device, 1);
    TargetAndClear(device, bright_.surface);
    BindBrightPassShaders();
    scene->DrawCaches(device, true);

    // The wide glow once per four bright-pass texels, read back with one tap.
    SetClampAddress(device, 1);
    device->SetTexture(1, bright_.texture);
    const bool glow = DrawPass(device, glow_, kGlowSize, kGlowSize, glowPs_);

    BindTarget(device, backBuffer_);
    CompositeState(device);
    BindFakeHdrShaders();
    device->SetTexture(0, scene_.texture);
    device->SetTexture(1, glow ? glow_.texture : bright_.texture);
    scene->DrawFullScreenQuad();
}

// This frame goes into frame texture m over what it held eight frames ago;
// the composite averages the eight, stage s holding the frame of s frames ago.
void PostProcess::DrawMotionBlur(IDirect3DDevice9* device, PostProcessScene* scene) {
    if (vid_multisample.intValue > 0) return;
    SetSolidState(device);
    SetLinearFilter(device, 0);
    SetClampAddress(device, 1);
    SetLinearFilter(device, 1);
    BindTarget(device, frames_[motion_].surface);
    scene->DrawSky(device);
    SetWrapAddress(device, 0);
    BindWorldShaders();
    scene->DrawCaches(device, true);

    BindTarget(device, backBuffer_);
    CompositeState(device);
    BindMotionBlurShaders();
    for (int s = 0; s < kMotionFrameCount; ++s) {
        const DWORD stage = static_cast<DWORD>(s);
        SetClampAddress(device, stage);
        SetLinearFilter(device, stage);
        device->SetTexture(stage, frames_[Wrap(motion_ - s, kMotionFrameCount)].texture);
    }
    motion_ = (motion_ + 1) % kMotionFrameCount;
    if (!DrawMotionComposite(device, scene)) {
        motionSumKept_ = false;
        scene->DrawFullScreenQuad();
    }
}

bool PostProcess::DrawMotionComposite(IDirect3DDevice9* device, PostProcessScene* scene) {
    // A frame drawn while one of the frame targets was missing went elsewhere.
    for (const Target& frame : frames_) {
        if (frame.texture == nullptr) return false;
    }
    const Target& read = motionSums_[motionSumRead_];
    const Target& write = motionSums_[1 - motionSumRead_];
    if (read.texture == nullptr || write.surface == nullptr || motionSeedPs_ == nullptr || motionStepPs_ == nullptr) {
        return false;
    }
    if (motionSumKept_) {
        device->SetTexture(1, read.texture);
        device->SetPixelShader(motionStepPs_);
    } else {
        device->SetPixelShader(motionSeedPs_);
    }
    device->SetRenderTarget(1, write.surface);
    scene->DrawFullScreenQuad();
    device->SetRenderTarget(1, nullptr);
    motionSumRead_ = 1 - motionSumRead_;
    motionSumKept_ = true;
    return true;
}

// The lit world (no sky) plus the bright passes of this and the last six
// frames, so highlights glow and leave a trail.
void PostProcess::DrawHdrBlur(IDirect3DDevice9* device, PostProcessScene* scene) {
    if (vid_multisample.intValue > 0) return;
    SetClampAddress(device, 1);
    SetSolidState(device);
    SetLinearFilter(device, 0);
    SetLinearFilter(device, 1);
    SetWrapAddress(device, 0);
    BindWorldShaders();
    TargetAndClear(device, scene_.surface);
    scene->DrawCaches(device, false);

    TargetAndClear(device, histories_[history_].surface);
    BindBrightPassShaders();
    scene->DrawCaches(device, true);

    // The seven bright passes summed once per texel into the trail, and the
    // trail's glow once per texel, which the composite reads with one tap.
    for (int s = 1; s < kMotionFrameCount; ++s) {
        const DWORD stage = static_cast<DWORD>(s);
        SetClampAddress(device, stage);
        SetLinearFilter(device, stage);
        device->SetTexture(stage, histories_[(history_ + 8 - s) % kBrightHistoryCount].texture);
    }
    const bool trail = DrawPass(device, trail_, kBrightPassSize, kBrightPassSize, trailPs_);
    IDirect3DTexture9* glow = trail ? trail_.texture : histories_[history_].texture;
    device->SetTexture(1, glow);
    if (DrawPass(device, trailGlow_, kBrightPassSize, kBrightPassSize, trailGlowPs_)) glow = trailGlow_.texture;

    TargetAndClear(device, backBuffer_);
    CompositeState(device);
    BindHdrBlurShaders();
    device->SetTexture(0, scene_.texture);
    device->SetTexture(1, glow);
    for (int s = 2; s < kMotionFrameCount; ++s) {
        const DWORD stage = static_cast<DWORD>(s);
        SetClampAddress(device, stage);
        SetLinearFilter(device, stage);
        device->SetTexture(stage, histories_[(history_ + 8 - s) % kBrightHistoryCount].texture);
    }
    history_ = (history_ + 1) % kBrightHistoryCount;
    scene->DrawFullScreenQuad();
}

// The scene and its depth drawn into textures; the composite blurs each
// pixel by how far its depth lies from the focus.
void PostProcess::DrawDepthOfField(IDirect3DDevice9* device, PostProcessScene* scene) {
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_FILLMODE, r_wireframe.intValue == 1 ? D3DFILL_WIREFRAME : D3DFILL_SOLID);
    SetLinearFilter(device, 0);
    SetLinearFilter(device, 1);

    BindTarget(device, scene_.surface);
    if (depth_.surface != nullptr) device->SetDepthStencilSurface(depth_.surface);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00000000, 1.0f, 0);
    BindWorldShaders();
    SetWrapAddress(device, 0);
    SetClampAddress(device, 1);
    scene->DrawCaches(device, true);
    scene->DrawSky(device);

    BindTarget(device, backBuffer_);
    if (defaultDepth_ != nullptr) device->SetDepthStencilSurface(defaultDepth_);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00000000, 1.0f, 0);
    CompositeState(device);

    // The two blurs once per four screen pixels; the composite blends each
    // pixel from the sharp scene through them.
    device->SetTexture(0, scene_.texture);
    const bool blurred = DrawPass(device, dofBlur_, blurWidth_, blurHeight_, dofBlurPs_);
    const bool halfBlurred = DrawPass(device, dofHalfBlur_, blurWidth_, blurHeight_, dofHalfBlurPs_);
    BindTarget(device, backBuffer_);

    BindDepthOfFieldShaders();
    device->SetTexture(0, scene_.texture);
    device->SetTexture(1, depth_.texture);
    SetClampAddress(device, 2);
    SetLinearFilter(device, 2);
    device->SetTexture(2, blurred ? dofBlur_.texture : scene_.texture);
    SetClampAddress(device, 3);
    SetLinearFilter(device, 3);
    device->SetTexture(3, halfBlurred ? dofHalfBlur_.texture : scene_.texture);
    scene->DrawFullScreenQuad();
}
