#include "video/renderer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "camera/camera.h"
#include "platform/message_output.h"
#include "platform/operating_system.h"
#include "video/d3d9/d3dx9.h"
#include "video/shader_set.h"
#include "video/text_overlay.h"
#include "video/video_cvars.h"

const char* const kSkyImages[kSkyFaceCount] = {
    "textures\\negz.jpg", "textures\\posz.jpg", "textures\\posx.jpg",
    "textures\\negx.jpg", "textures\\posy.jpg",
};

namespace {

GpuVertex Vertex(float x, float y, float z, float nx, float ny, float nz, float u, float v) {
    return GpuVertex{{x, y, z}, {nx, ny, nz}, 0xFFFFFFFF, {u, v}, {0.0f, 0.0f, 0.0f}};
}

void SetSolidState(IDirect3DDevice9* device) {
    device->SetRenderState(D3DRS_ZENABLE, TRUE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
}

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

void Release(IDirect3DTexture9** texture) {
    if (*texture != nullptr) (*texture)->Release();
    *texture = nullptr;
}

}  // namespace

const char* EffectLabel(int32_t mode) {
    switch (mode) {
        case 1: return "Render Effect: Fake HDR";
        case 2: return "Render Effect: 8x Motion Blur";
        case 3: return "Render Effect: HDR Blur";
        case 4: return "Render Effect: Depth of Field";
        default: return "Render Effect: None";
    }
}

CRenderer::CRenderer() {
    Setup("CRenderer");
    RegisterSubsystem(this);
    priority = 35;

    quad_[0] = Vertex(-1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
    quad_[1] = Vertex(1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f);
    quad_[2] = Vertex(-1.0f, -1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f);
    quad_[3] = Vertex(1.0f, -1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f);

    const float s = kSkyHalfSize;
    const GpuVertex faces[kSkyFaceCount][4] = {
        {Vertex(-s, s, -s, 0, 0, 1, 0, 0), Vertex(s, s, -s, 0, 0, 1, 1, 0),
         Vertex(-s, -s, -s, 0, 0, 1, 0, 1), Vertex(s, -s, -s, 0, 0, 1, 1, 1)},
        {Vertex(s, s, s, 0, 0, -1, 0, 0), Vertex(-s, s, s, 0, 0, -1, 1, 0),
         Vertex(s, -s, s, 0, 0, -1, 0, 1), Vertex(-s, -s, s, 0, 0, -1, 1, 1)},
        {Vertex(s, s, -s, -1, 0, 0, 0, 0), Vertex(s, s, s, -1, 0, 0, 1, 0),
         Vertex(s, -s, -s, -1, 0, 0, 0, 1), Vertex(s, -s, s, -1, 0, 0, 1, 1)},
        {Vertex(-s, s, s, 1, 0, 0, 0, 0), Vertex(-s, s, -s, 1, 0, 0, 1, 0),
         Vertex(-s, -s, s, 1, 0, 0, 0, 1), Vertex(-s, -s, -s, 1, 0, 0, 1, 1)},
        {Vertex(-s, s, -s, 0, -1, 0, 0, 0), Vertex(s, s, -s, 0, -1, 0, 1, 0),
         Vertex(-s, s, s, 0, -1, 0, 0, 1), Vertex(s, s, s, 0, -1, 0, 1, 1)},
    };
    std::memcpy(sky_, faces, sizeof sky_);
}

CRenderer::~CRenderer() {
    UnregisterSubsystem(this);
    Teardown();
}

void CRenderer::shutdown(int32_t) { finished = 1; }

void CRenderer::CreateImages(IDirect3DDevice9* device) {
    for (int face = 0; face < kSkyFaceCount; ++face) {
        Release(&skyTextures_[face]);
        if (FAILED(D3DXCreateTextureFromFileA(device, kSkyImages[face], &skyTextures_[face]))) {
            skyTextures_[face] = nullptr;
            PrintLine("Error creating sky texture %i", face);
        }
    }
    Release(&loadingImage_);
    if (FAILED(D3DXCreateTextureFromFileA(device, kLoadingImage, &loadingImage_))) {
        loadingImage_ = nullptr;
        PrintLine("Error loading 'loading.jpg'");
    }
}

void CRenderer::ReleaseImages() {
    for (IDirect3DTexture9*& texture : skyTextures_) Release(&texture);
    Release(&loadingImage_);
}

void CRenderer::SetupRenderCaches(uint32_t textureCount) {
    tgaSet_.lists.clear();
    mainSet_.lists.clear();
    tgaSet_.lists.resize(textureCount);
    mainSet_.lists.resize(textureCount);
    PrintLine("Initializing render caches for %i textures", static_cast<int32_t>(textureCount));
    if (tgaSet_.lists.size() != textureCount || mainSet_.lists.size() != textureCount) {
        PrintLine("Error allocating render caches.");
        finished = 1;
        return;
    }
    for (uint32_t t = 0; t < textureCount; ++t) {
        RenderList& tga = tgaSet_.lists[t];
        RenderList& main = mainSet_.lists[t];
        tga.items.assign(kTgaListCapacity, RenderItem{});
        main.items.assign(kMainListCapacity, RenderItem{});
        tga.capacity = static_cast<uint32_t>(tga.items.size());
        main.capacity = static_cast<uint32_t>(main.items.size());
        if (tga.capacity != kTgaListCapacity || main.capacity != kMainListCapacity) {
            PrintLine("Error allocating render sub-caches.");
            finished = 1;
        }
    }
    active = 1;
}

void CRenderer::EmptyCaches() {
    for (RenderList& list : tgaSet_.lists) list.used = 0;
    for (RenderList& list : mainSet_.lists) list.used = 0;
}

RenderItem* CRenderer::AllocateRenderItem(uint32_t textureIndex, uint32_t flags) {
    if (!active) return nullptr;
    RenderCacheSet& set = (flags & 1) ? tgaSet_ : mainSet_;
    if (textureIndex >= set.lists.size()) return nullptr;
    RenderList& list = set.lists[textureIndex];
    if (list.used >= list.capacity) return nullptr;
    RenderItem* item = &list.items[list.used++];
    *item = RenderItem{};
    return item;
}

int32_t CRenderer::frame() {
    const int32_t result = DrawFrame();
    finished = result & finished;
    return finished;
}

int32_t CRenderer::DrawFrame() {
    if (!active) return 1;
    CVideoSystem* video = GetVideoSystem();
    if (video == nullptr || video->finished) return 0;
    IDirect3DDevice9* device = video->GetDevice();
    if (device == nullptr) return 1;

    video->BeginFrame();
    D3DXMATRIX viewProjection;
    D3DXMatrixMultiply(&viewProjection, &g_camera.View(), &g_camera.Projection());
    device->SetVertexShaderConstantF(0, viewProjection, 4);
    device->SetFVF(kGpuVertexFvf);

    // The post-process paths join here; every mode draws without effect
    // until they exist, and the overlay says so.
    itemsDrawn_ = 0;
    DrawNoEffect(device);
    DrawOverlay(EffectLabel(0));

    video->EndFrame();
    return 1;
}

void CRenderer::DrawSky(IDirect3DDevice9* device) {
    SetAddress(device, 0, D3DTADDRESS_CLAMP);
    BindSkyShaders();
    g_videoSystem.BindFallbackTexture(1);
    for (int face = 0; face < kSkyFaceCount; ++face) {
        device->SetTexture(0, skyTextures_[face]);
        g_videoSystem.DrawQuadStrip(sky_[face], 4);
    }
}

void CRenderer::DrawNoEffect(IDirect3DDevice9* device) {
    DrawSky(device);
    SetAddress(device, 0, D3DTADDRESS_WRAP);
    SetAddress(device, 1, D3DTADDRESS_CLAMP);
    SetSolidState(device);
    SetFilter(device, 0, D3DTEXF_LINEAR);
    SetFilter(device, 1, D3DTEXF_LINEAR);
    BindWorldShaders();
    DrawCacheSet(device, &mainSet_, true, true);
    DrawCacheSet(device, &tgaSet_, true, false);
}

void CRenderer::DrawCacheSet(IDirect3DDevice9* device, RenderCacheSet* set, bool empty,
                             bool mainSet) {
    if (mainSet) {
        if (device == nullptr) {
            PrintLine("Error: cannot render opaque buffer with an invalid d3d device");
            return;
        }
        device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    } else if (device == nullptr) {
        return;
    }
    for (RenderList& list : set->lists) {
        for (uint32_t k = 0; k < list.used; ++k) {
            const RenderItem& item = list.items[k];
            if (k == 0) {
                if (item.surfaceTexture != nullptr) device->SetTexture(0, item.surfaceTexture);
                else g_videoSystem.BindFallbackTexture(0);
            }
            if (item.lightmapTexture != nullptr) device->SetTexture(1, item.lightmapTexture);
            else g_videoSystem.BindFallbackTexture(1);
            if (item.count < 1) break;

            device->SetStreamSource(0, item.vertexBuffer, 0, sizeof(GpuVertex));
            if (item.indexBuffer != nullptr) device->SetIndices(item.indexBuffer);
            const UINT count = static_cast<UINT>(item.count);
            switch (item.primitiveType) {
                case D3DPT_TRIANGLELIST:
                    device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, item.baseVertex, 0, count,
                                                 static_cast<UINT>(item.startIndex), count / 3);
                    break;
                case D3DPT_TRIANGLESTRIP:
                    device->DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, item.baseVertex, 0, count, 0,
                                                 count - 2);
                    break;
                case D3DPT_TRIANGLEFAN:
                    device->DrawPrimitive(D3DPT_TRIANGLEFAN, static_cast<UINT>(item.baseVertex),
                                          count - 2);
                    break;
                default:
                    continue;
            }
            ++itemsDrawn_;
        }
        if (empty) list.used = 0;
    }
}

void CRenderer::ShowLoadingScreen(const char* text) {
    if (loadingImage_ == nullptr || g_operatingSystem.WindowHeight() > 720) return;
    CVideoSystem* video = GetVideoSystem();
    IDirect3DDevice9* device = video != nullptr ? video->GetDevice() : nullptr;
    if (device == nullptr) return;
    SetSolidState(device);
    SetFilter(device, 0, D3DTEXF_POINT);
    SetFilter(device, 1, D3DTEXF_POINT);
    BindDefaultShaders();
    video->BeginFrame();
    device->SetTexture(0, loadingImage_);
    video->DrawQuadStrip(quad_, 4);
    if (text != nullptr && text[0] != '\0') DrawOverlayText(10.0f, 10.0f, 0xFFFFFFFF, "%s", text);
    video->EndFrame();
}

void SetupRenderCaches(uint32_t textureCount) { g_renderer.SetupRenderCaches(textureCount); }

RenderItem* AllocateRenderItem(uint32_t textureIndex, uint32_t flags) {
    return g_renderer.AllocateRenderItem(textureIndex, flags);
}

void ShowLoadingMessage(const char* format, ...) {
    char text[260];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ShowStatusText(text);
    g_renderer.ShowLoadingScreen(text);
}
