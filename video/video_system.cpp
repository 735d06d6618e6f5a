#include "video/video_system.h"

#include <cstring>

#include "base/message_output.h"
#include "base/paths.h"
#include "camera/camera.h"
#include "platform/font_files.h"
#include "platform/operating_system.h"
#include "platform/platform_window.h"
#include "video/d3d9/d3dx9.h"
#include "video/renderer.h"
#include "video/screenshot.h"
#include "video/video_cvars.h"

namespace {

struct ResultName {
    char name[252];
    HRESULT code;
};

const ResultName kResultNames[5] = {
    {"S_OK", static_cast<HRESULT>(0x00000000)},
    {"D3DERR_INVALIDCALL", static_cast<HRESULT>(0x8876086C)},
    {"D3DERR_DEVICELOST", static_cast<HRESULT>(0x88760868)},
    {"D3DERR_NOTAVAILABLE", static_cast<HRESULT>(0x8876086A)},
    {"D3DERR_OUTOFVIDEOMEMORY", static_cast<HRESULT>(0x8876017C)},
};

// The lowest vertex shader model the engine accepts: 1.1.
constexpr DWORD kMinimumVertexShaderVersion = 0xFFFE0101;

}  // namespace

const char* LookupResultName(HRESULT code) {
    for (const ResultName& row : kResultNames) {
        if (row.code == code) return row.name;
    }
    return nullptr;
}

CVideoSystem* GetVideoSystem() { return g_videoSystem.Initialised() ? &g_videoSystem : nullptr; }
IDirect3DDevice9* GetDevice() { return g_videoSystem.GetDevice(); }

CVideoSystem::CVideoSystem() {
    Setup("CVideoSystem");
    RegisterSubsystem(this);
    priority = 8;
}

CVideoSystem::~CVideoSystem() {
    UnregisterSubsystem(this);
    Teardown();
    // Whatever is still held goes with the process; the GL context may
    // already be gone, so nothing is released here.
}

int32_t CVideoSystem::Initialise() {
    if (initialised_) {
        PrintLine("VID Error: Cannot initialize an already initialized device");
        return 0;
    }
    direct3D_ = Direct3DCreate9(D3D_SDK_VERSION);
    if (direct3D_ == nullptr) {
        PrintLine("VID Error: Error creating Direct3D object");
        return 0;
    }
    D3DDISPLAYMODE mode{};
    if (FAILED(direct3D_->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) {
        PrintLine("VID Error: GetAdapterDisplayMode failed");
        return 0;
    }
    if (FAILED(direct3D_->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format,
                                            D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, D3DFMT_D16))) {
        PrintLine("VID Error: Osprel requires at least a 16bit depth buffer");
        return 0;
    }
    if (FAILED(direct3D_->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps_))) {
        PrintLine("VID Error:  detecting device capabilities");
        return 0;
    }
    if (static_cast<uint32_t>(caps_.VertexShaderVersion) < kMinimumVertexShaderVersion) {
        PrintLine("VID Error: You need at least Direct3D 9.0 support to run this engine");
        return 0;
    }

    const char* title = g_operatingSystem.WindowTitle();
    if (title == nullptr) {
        PrintLine("VID Error: Unable to capture current window. Is OSH active?");
        return 0;
    }
    HWND window = FindPlatformWindow(title);
    if (window == nullptr) {
        PrintLine("VID Error: Unable to capture window from COperatingSystem!");
        return 0;
    }

    const int32_t width = g_operatingSystem.WindowWidth();
    const int32_t height = g_operatingSystem.WindowHeight();
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = static_cast<UINT>(width);
    parameters.BackBufferHeight = static_cast<UINT>(height);
    parameters.BackBufferFormat = mode.Format;
    parameters.BackBufferCount = 0;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = window;
    parameters.Windowed = g_windowSettings.fullscreen == 0 ? TRUE : FALSE;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFMT_D24S8;
    parameters.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    PrintLine("Width: %i Height: %i", width, height);

    const HRESULT created = direct3D_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                                    D3DCREATE_HARDWARE_VERTEXPROCESSING,
                                                    &parameters, &device_);
    presentation_ = parameters;
    refusedWidth_ = refusedHeight_ = 0;
    if (FAILED(created)) {
        const char* name = LookupResultName(created);
        PrintLine("VID Error: Unable to create 3D Device hr = %s", name != nullptr ? name : "(null)");
        device_ = nullptr;
        return 0;
    }

    D3DVIEWPORT9 viewport{};
    device_->GetViewport(&viewport);
    if (viewport.Width != static_cast<DWORD>(width)) viewport.Width = static_cast<DWORD>(width);
    if (viewport.Height != static_cast<DWORD>(height)) viewport.Height = static_cast<DWORD>(height);
    device_->SetViewport(&viewport);

    if (FAILED(device_->GetDeviceCaps(&caps_))) {
        PrintLine("VID Error: Unable to capture D3D Device capabilities");
        ReleaseFailedStart();
        return 0;
    }
    if (!shaders_.Build(device_)) {
        PrintLine("Error initializing shaders.");
        ReleaseFailedStart();
        return 0;
    }
    if (!BuildFont()) {
        ReleaseFailedStart();
        return 0;
    }

    ApplyDefaultStates();
    PublishAdapterNames();

    if (FAILED(D3DXCreateTextureFromFileA(device_, kFallbackTextureName, &fallbackTexture_))) {
        fallbackTexture_ = nullptr;
        PrintLine("[Warning] Error loading %s", kFallbackTextureName);
        ReleaseFailedStart();
        return static_cast<int32_t>(E_FAIL);
    }
    g_renderer.CreateImages(device_);

    initialised_ = 1;
    return 1;
}

// A start that failed half-way lets go of what it made while the window
// (and with it the GL context) still exists; nothing else would release it
// before the process ends without a context.
void CVideoSystem::ReleaseFailedStart() {
    DestroyFont();
    ReleaseFontLookup();
    shaders_.Release();
    if (device_ != nullptr) device_->Release();
    device_ = nullptr;
    if (direct3D_ != nullptr) direct3D_->Release();
    direct3D_ = nullptr;
}

bool CVideoSystem::BuildFont() {
    DestroyFont();
    font_ = OverlayFont::Create("Courier New", 10, 0);
    if (font_ == nullptr) {
        PrintLine("VID Error: Unable to create D3D Font");
        return false;
    }
    font_->BuildGlyphTexture(device_);  // a failed atlas leaves text undrawn
    if (FAILED(font_->CreateDeviceObjects())) {
        PrintLine("VID Error: Unable to initialize D3D Font");
        return false;
    }
    SetOverlayFont(font_.get());
    return true;
}

void CVideoSystem::DestroyFont() {
    if (font_ == nullptr) return;
    SetOverlayFont(nullptr);
    font_->DestroyDeviceObjects();
    font_.reset();
}

void CVideoSystem::ApplyDefaultStates() {
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
}

void CVideoSystem::PublishAdapterNames() {
    D3DADAPTER_IDENTIFIER9 identifier{};
    if (FAILED(direct3D_->GetAdapterIdentifier(D3DADAPTER_DEFAULT, 0, &identifier))) return;
    vid_driver.SetString(identifier.Driver);
    vid_device.SetString(identifier.DeviceName);
    vid_description.SetString(identifier.Description);
}

int32_t CVideoSystem::frame() {
    if (!initialised_ && !finished) {
        ReportError(
            "VID Error: You cannot update the video system without initializing it first.\n"
            "Shutting down.");
        return 1;
    }
    ++frameCount_;
    if (initialised_) FollowWindowSize();
    return finished;
}

void CVideoSystem::FollowWindowSize() {
    const int32_t width = g_operatingSystem.WindowWidth();
    const int32_t height = g_operatingSystem.WindowHeight();
    if (width <= 0 || height <= 0 || device_ == nullptr) return;
    if (static_cast<UINT>(width) == presentation_.BackBufferWidth &&
        static_cast<UINT>(height) == presentation_.BackBufferHeight) {
        return;
    }
    if (width == refusedWidth_ && height == refusedHeight_) return;
    D3DPRESENT_PARAMETERS parameters = presentation_;
    parameters.BackBufferWidth = static_cast<UINT>(width);
    parameters.BackBufferHeight = static_cast<UINT>(height);
    if (FAILED(device_->Reset(&parameters))) {
        PrintLine("VID Error: Unable to resize the back buffer to %ix%i", width, height);
        refusedWidth_ = width;
        refusedHeight_ = height;
        return;
    }
    presentation_ = parameters;
    g_renderer.ResizeTargets(device_, width, height);
    g_camera.SetAspect(static_cast<float>(width), static_cast<float>(height));
    vid_width.intValue = width;
    vid_height.intValue = height;
    PrintLine("Width: %i Height: %i", width, height);
}

void CVideoSystem::shutdown(int32_t) {
    finished = 1;
    PrintLine("Shutting down CVideoSystem");
    if (!initialised_) {
        PrintLine("VID Error: Cannot shutdown an un-initialized device");
        return;
    }
    SaveExitScreenshot();
    WritePendingScreenshots();
    initialised_ = 0;
    framePresented_ = false;
    for (DWORD stage = 0; stage < caps_.MaxSimultaneousTextures; ++stage) {
        device_->SetTexture(stage, nullptr);
    }
    device_->SetVertexDeclaration(nullptr);
    device_->SetIndices(nullptr);
    device_->SetPixelShader(nullptr);
    device_->SetVertexShader(nullptr);
    device_->SetStreamSource(0, nullptr, 0, 0);
    device_->SetFVF(0);

    DestroyFont();
    ReleaseFontLookup();
    // The renderer's images go with the device that made them.
    g_renderer.ReleaseImages();
    shaders_.Release();
    if (fallbackTexture_ != nullptr) fallbackTexture_->Release();
    fallbackTexture_ = nullptr;
    D3D9GetCounters(device_, &releasedCounters_);
    device_->Release();
    device_ = nullptr;
    direct3D_->Release();
    direct3D_ = nullptr;
}

void CVideoSystem::BeginFrame() {
    if (device_ == nullptr) return;
    device_->BeginScene();
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0x00000000,
                   1.0f, 0);
}

void CVideoSystem::EndFrame() {
    if (device_ == nullptr) return;
    device_->EndScene();
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    framePresented_ = true;
    if (!pendingScreenshots_.empty()) WritePendingScreenshots();
}

void CVideoSystem::DrawQuadStrip(const GpuVertex* vertices, uint32_t count) {
    if (device_ == nullptr || vertices == nullptr || count < 3) return;
    device_->SetFVF(kGpuVertexFvf);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, count - 2, vertices, sizeof(GpuVertex));
}

void CVideoSystem::BindFallbackTexture(DWORD stage) {
    if (initialised_) device_->SetTexture(stage, fallbackTexture_);
}

D3D9Counters CVideoSystem::DeviceCounters() const {
    D3D9Counters counters;
    if (!D3D9GetCounters(GetDevice(), &counters)) return releasedCounters_;
    return counters;
}

void CVideoSystem::SetExitScreenshot(const char* path) { exitScreenshot_ = path != nullptr ? path : ""; }

void CVideoSystem::SaveExitScreenshot() {
    if (exitScreenshot_.empty() || !initialised_) return;
    const std::string path = exitScreenshot_;
    exitScreenshot_.clear();
    if (!D3D9SaveLastFrame(device_, path.c_str())) {
        PrintLine("Error: no frame to write to %s", path.c_str());
    }
}

void CVideoSystem::RequestScreenshot(const std::string& path) { pendingScreenshots_.push_back(path); }

void CVideoSystem::WritePendingScreenshots() {
    // Taken out first, so the list is empty whatever happens while writing.
    std::vector<std::string> requests;
    requests.swap(pendingScreenshots_);
    for (const std::string& request : requests) {
        if (!framePresented_) {
            PrintLine("Error: screenshot %s not written: no frame was presented",
                      request.empty() ? "(next number)" : request.c_str());
            continue;
        }
        std::string path = request;
        if (path.empty()) {
            std::string error;
            path = NextScreenshotPath(&error);
            if (path.empty()) {
                PrintLine("Error: screenshot not written: %s", error.c_str());
                continue;
            }
        }
        if (!D3D9SaveLastFrame(device_, ResolvePath(path.c_str()).c_str())) {
            PrintLine("Error: could not write screenshot %s", path.c_str());
        } else {
            PrintLine("Wrote %s", path.c_str());
        }
    }
}
