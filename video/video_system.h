// The video subsystem: owns the engine's one Direct3D 9 device, checks the
// adapter, compiles the shader set, sets the default states, publishes the
// adapter's names, loads the fallback texture, and offers the frame helpers
// every pass shares.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/subsystem.h"
#include "video/d3d9/d3d9.h"
#include "video/shader_set.h"
#include "video/text_overlay.h"

// The vertex every pass draws with: 48 bytes.
struct GpuVertex {
    float position[3];
    float normal[3];
    D3DCOLOR colour;
    float texCoord[2];
    float lightmapCoord[3];
};
static_assert(sizeof(GpuVertex) == 48, "the GPU vertex is 48 bytes");

constexpr DWORD kGpuVertexFvf =
    D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(1);
static_assert(kGpuVertexFvf == 0x40252, "the GPU vertex's flexible format");

constexpr const char* kFallbackTextureName = "noshader.jpg";

class CVideoSystem : public Subsystem {
public:
    CVideoSystem();
    ~CVideoSystem() override;

    // Brings the device up; 1 on success, 0 or a failure code otherwise.
    int32_t Initialise();
    int32_t frame() override;
    void shutdown(int32_t reason) override;

    bool Initialised() const { return initialised_ != 0; }
    IDirect3DDevice9* GetDevice() const { return initialised_ ? device_ : nullptr; }
    const D3DCAPS9& Caps() const { return caps_; }
    ShaderSet& Shaders() { return shaders_; }
    OverlayFont* Font() const { return font_.get(); }
    uint32_t FrameCount() const { return frameCount_; }

    // The last presented frame is written to path as PNG when the device is
    // about to go (or at the end of the run); once.
    void SetExitScreenshot(const char* path);
    void SaveExitScreenshot();
    // The device's running totals of work handed to the graphics driver;
    // without a device, those of the last one released (all zero before).
    D3D9Counters DeviceCounters() const;
    // The next presented frame is written to path as PNG, or, with an empty
    // path, to the next free screenshots/shotNNNN.png; one line tells where
    // it went or why it could not. Requests still waiting when the device
    // goes get the last presented frame.
    void RequestScreenshot(const std::string& path);
    size_t PendingScreenshots() const { return pendingScreenshots_.size(); }

    // Frame helpers.
    void BeginFrame();
    void EndFrame();
    void DrawQuadStrip(const GpuVertex* vertices, uint32_t count);
    void BindFallbackTexture(DWORD stage);

    // The back buffer's size: the window's, followed every frame.
    UINT BackBufferWidth() const { return presentation_.BackBufferWidth; }
    UINT BackBufferHeight() const { return presentation_.BackBufferHeight; }

private:
    // A window of a new size gets a back buffer, render targets and a
    // projection of that size.
    void FollowWindowSize();
    bool BuildFont();
    void ReleaseFailedStart();
    void DestroyFont();
    void ApplyDefaultStates();
    void PublishAdapterNames();
    void WritePendingScreenshots();

    int32_t initialised_ = 0;
    IDirect3D9* direct3D_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    D3DCAPS9 caps_{};
    D3DPRESENT_PARAMETERS presentation_{};
    int32_t refusedWidth_ = 0;  // a size the device could not take; not tried again
    int32_t refusedHeight_ = 0;
    ShaderSet shaders_;
    IDirect3DTexture9* fallbackTexture_ = nullptr;
    std::unique_ptr<OverlayFont> font_;
    uint32_t frameCount_ = 0;
    std::string exitScreenshot_;
    // The counts of the device as it was released: a run that ends by quit
    // still reads what its frames drew.
    D3D9Counters releasedCounters_;
    std::vector<std::string> pendingScreenshots_;  // "" for the next free number
    bool framePresented_ = false;
};

extern CVideoSystem g_videoSystem;

// The video subsystem while it is initialised, else null.
CVideoSystem* GetVideoSystem();
// The device while the video subsystem is initialised, else null.
IDirect3DDevice9* GetDevice();

// The name of a Direct3D result code, or null for a code not in the table.
const char* LookupResultName(HRESULT code);
