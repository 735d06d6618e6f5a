// The post-process render paths: fake HDR, 8-frame motion blur, HDR blur and
// depth of field. Each draws the sky and the cached world items into
// textures and combines them on the back buffer with the full-screen quad and
// a composite pixel shader. The renderer owns one PostProcess, creates its
// targets when the device comes up and runs the path vid_effectmode picks.
#pragma once

#include <cstdint>
#include <string>

#include "video/d3d9/d3d9.h"

// vid_effectmode values.
enum EffectMode : int32_t {
    kEffectNone = 0,
    kEffectFakeHdr = 1,
    kEffectMotionBlur = 2,
    kEffectHdrBlur = 3,
    kEffectDepthOfField = 4,
};

constexpr int kMotionFrameCount = 8;    // frames the motion blur averages
constexpr int kBrightHistoryCount = 7;  // bright passes the HDR blur keeps
constexpr UINT kBrightPassSize = 256;   // the bright-pass targets are square
constexpr UINT kGlowSize = 128;         // the fake HDR glow target, square
constexpr UINT kDofBlurDivisor = 4;     // the depth of field's blurs: a quarter of each side

// State groups shared by every render path.
// D3DRS_ZENABLE TRUE, D3DRS_CULLMODE none, D3DRS_FILLMODE solid.
void SetSolidState(IDirect3DDevice9* device);
// Min, mag and mip filter of a stage: linear or point.
void SetLinearFilter(IDirect3DDevice9* device, DWORD stage);
void SetPointFilter(IDirect3DDevice9* device, DWORD stage);
// U, V and W addressing of a stage: wrap or clamp.
void SetWrapAddress(IDirect3DDevice9* device, DWORD stage);
void SetClampAddress(IDirect3DDevice9* device, DWORD stage);
// Binds target as render target 0 (an empty target leaves the current one
// bound, as Direct3D refuses it), then clears colour to 0 and depth to 1.
void TargetAndClear(IDirect3DDevice9* device, IDirect3DSurface9* target);

// What the paths draw of the scene; the renderer supplies it.
class PostProcessScene {
public:
    // Clamp on stage 0, sky pair, the five faces.
    virtual void DrawSky(IDirect3DDevice9* device) = 0;
    // Both cache sets, main then tga; empty: forget the items once drawn.
    virtual void DrawCaches(IDirect3DDevice9* device, bool empty) = 0;
    // The full-screen quad.
    virtual void DrawFullScreenQuad() = 0;

protected:
    ~PostProcessScene() = default;
};

class PostProcess {
public:
    // The targets belong to the device: Release lets go of them before the
    // device goes, and destruction leaves them alone (the device may be gone).
    PostProcess() = default;
    ~PostProcess() = default;
    PostProcess(const PostProcess&) = delete;
    PostProcess& operator=(const PostProcess&) = delete;

    // Creates every target for a width x height back buffer, in this order:
    // depth texture, scene texture, back-buffer surface, default depth-stencil
    // surface, bright-pass texture, frame textures 0-7, bright-pass history
    // 0-6. A failure prints its message and leaves that target empty; the
    // others are still made. Both frame indices start again at 0.
    void CreateTargets(IDirect3DDevice9* device, UINT width, UINT height);
    // Lets go of every target (they belong to the device).
    void Release();

    // Runs the path of an effect mode (1 to 4) and returns true; any other
    // mode does nothing and returns false.
    bool Run(int32_t mode, IDirect3DDevice9* device, PostProcessScene* scene);

    void DrawFakeHdr(IDirect3DDevice9* device, PostProcessScene* scene);
    void DrawMotionBlur(IDirect3DDevice9* device, PostProcessScene* scene);
    void DrawHdrBlur(IDirect3DDevice9* device, PostProcessScene* scene);
    void DrawDepthOfField(IDirect3DDevice9* device, PostProcessScene* scene);

    // Motion index 0-7: the frame texture the next motion-blur frame draws.
    int MotionIndex() const { return motion_; }
    // History index 0-6: the history texture the next HDR-blur frame draws.
    int HistoryIndex() const { return history_; }

    IDirect3DTexture9* DepthTexture() const { return depth_.texture; }
    IDirect3DTexture9* SceneTexture() const { return scene_.texture; }
    IDirect3DTexture9* BrightPassTexture() const { return bright_.texture; }
    IDirect3DTexture9* FrameTexture(int index) const { return frames_[index].texture; }
    IDirect3DTexture9* HistoryTexture(int index) const { return histories_[index].texture; }
    // Level 0 of the textures above, as bound for rendering.
    IDirect3DSurface9* DepthSurface() const { return depth_.surface; }
    IDirect3DSurface9* SceneSurface() const { return scene_.surface; }
    IDirect3DSurface9* BrightPassSurface() const { return bright_.surface; }
    IDirect3DSurface9* FrameSurface(int index) const { return frames_[index].surface; }
    IDirect3DSurface9* HistorySurface(int index) const { return histories_[index].surface; }
    IDirect3DSurface9* BackBuffer() const { return backBuffer_; }
    IDirect3DSurface9* DefaultDepthStencil() const { return defaultDepth_; }

    // The post-process code's own passes, each computed once per texel of a
    // target smaller than the screen so that the composites read it with a
    // tap instead of blurring per screen pixel:
    // - the fake HDR glow (the wide blur of the bright pass), 128x128;
    // - the HDR blur trail (the weighted sum of the seven bright passes) and
    //   the trail's glow, 256x256 each;
    // - the depth of field's blurs of the scene, at the widest radius and at
    //   half of it, at a quarter of the back buffer's width and height.
    // They are made after the targets above, with their own pixel shaders
    // (hdr_glow_ps, hdr_trail_ps, hdr_trail_glow_ps, dof_blur_ps,
    // dof_half_blur_ps) and
    // def_main_vs; a pass whose target or shaders are missing is skipped and
    // its composite reads what the pass would have read instead (the raw
    // bright pass, the trail, the sharp scene).
    //
    // The motion blur's composite also writes, as its second render target,
    // the weighted sum of the newest seven frames into one of two screen-size
    // 16-bit targets (blur_post_seed_ps, reading all eight frames). While that
    // sum matches the frame textures, the next composite reads this frame,
    // the sum and the frame about to leave it instead of all eight
    // (blur_post_step_ps): the same picture from three reads. Any frame of
    // the path that cannot keep the sum draws the plain composite and starts
    // it again next time.
    IDirect3DTexture9* GlowTexture() const { return glow_.texture; }
    IDirect3DSurface9* GlowSurface() const { return glow_.surface; }
    IDirect3DTexture9* TrailTexture() const { return trail_.texture; }
    IDirect3DSurface9* TrailSurface() const { return trail_.surface; }
    IDirect3DTexture9* TrailGlowTexture() const { return trailGlow_.texture; }
    IDirect3DSurface9* TrailGlowSurface() const { return trailGlow_.surface; }
    IDirect3DTexture9* DofBlurTexture() const { return dofBlur_.texture; }
    IDirect3DSurface9* DofBlurSurface() const { return dofBlur_.surface; }
    IDirect3DTexture9* DofHalfBlurTexture() const { return dofHalfBlur_.texture; }
    IDirect3DSurface9* DofHalfBlurSurface() const { return dofHalfBlur_.surface; }
    IDirect3DVertexShader9* PassVertexShader() const { return passVs_; }
    IDirect3DPixelShader9* GlowShader() const { return glowPs_; }
    IDirect3DPixelShader9* TrailShader() const { return trailPs_; }
    IDirect3DPixelShader9* TrailGlowShader() const { return trailGlowPs_; }
    IDirect3DPixelShader9* DofBlurShader() const { return dofBlurPs_; }
    IDirect3DPixelShader9* DofHalfBlurShader() const { return dofHalfBlurPs_; }
    IDirect3DTexture9* MotionSumTexture(int index) const { return motionSums_[index].texture; }
    IDirect3DPixelShader9* MotionSeedShader() const { return motionSeedPs_; }
    IDirect3DPixelShader9* MotionStepShader() const { return motionStepPs_; }
    // Whether the next motion-blur frame carries the running sum on.
    bool MotionSumKept() const { return motionSumKept_; }

private:
    // A texture and its level 0, kept for binding.
    struct Target {
        IDirect3DTexture9* texture = nullptr;
        IDirect3DSurface9* surface = nullptr;
    };

    static void CreateTarget(IDirect3DDevice9* device, UINT width, UINT height, DWORD usage, D3DFORMAT format,
                             Target* target, const char* failure, int index);
    static void ReleaseTarget(Target* target);
    void CreatePassShaders(IDirect3DDevice9* device);
    // Draws the quad for a width x height target into target with the pass
    // shaders; false (and nothing drawn) when the target or a shader is
    // missing.
    bool DrawPass(IDirect3DDevice9* device, const Target& target, UINT width, UINT height,
                  IDirect3DPixelShader9* shader);
    // The motion blur's composite with the running sum as second target;
    // false (and nothing drawn) when a target or shader it needs is missing.
    bool DrawMotionComposite(IDirect3DDevice9* device, PostProcessScene* scene);

    Target depth_;
    Target scene_;
    IDirect3DSurface9* backBuffer_ = nullptr;
    IDirect3DSurface9* defaultDepth_ = nullptr;
    Target bright_;
    Target frames_[kMotionFrameCount];
    Target histories_[kBrightHistoryCount];
    Target glow_;
    Target trail_;
    Target trailGlow_;
    Target dofBlur_;
    Target dofHalfBlur_;
    Target motionSums_[2];
    UINT blurWidth_ = 1;
    UINT blurHeight_ = 1;
    IDirect3DVertexShader9* passVs_ = nullptr;
    IDirect3DPixelShader9* glowPs_ = nullptr;
    IDirect3DPixelShader9* trailPs_ = nullptr;
    IDirect3DPixelShader9* trailGlowPs_ = nullptr;
    IDirect3DPixelShader9* dofBlurPs_ = nullptr;
    IDirect3DPixelShader9* dofHalfBlurPs_ = nullptr;
    IDirect3DPixelShader9* motionSeedPs_ = nullptr;
    IDirect3DPixelShader9* motionStepPs_ = nullptr;
    int motionSumRead_ = 0;       // the sum target the next step reads
    bool motionSumKept_ = false;  // it holds the newest seven frames' sum
    int motion_ = 0;
    int history_ = 0;
    // The pass shaders the shader file lacked when last made, as printed.
    std::string missingReported_;
};
