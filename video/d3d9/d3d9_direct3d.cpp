// The Direct3D object: adapter questions answered from a temporary OpenGL
// context, and device creation.
#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "video/d3d9/d3d9_internal.h"

namespace d3d9 {

namespace {

void CopyText(char* target, size_t capacity, const std::string& text) {
    const size_t length = std::min(capacity - 1, text.size());
    std::memcpy(target, text.data(), length);
    target[length] = '\0';
}

}  // namespace

void FillCaps(const AdapterInfo& adapter, D3DCAPS9* caps) {
    std::memset(caps, 0, sizeof(*caps));
    caps->DeviceType = D3DDEVTYPE_HAL;
    caps->AdapterOrdinal = D3DADAPTER_DEFAULT;
    caps->PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    caps->MaxTextureWidth = static_cast<DWORD>(adapter.maxTextureSize);
    caps->MaxTextureHeight = static_cast<DWORD>(adapter.maxTextureSize);
    caps->MaxTextureRepeat = 8192;
    caps->MaxTextureAspectRatio = static_cast<DWORD>(adapter.maxTextureSize);
    caps->MaxAnisotropy = 1;
    caps->MaxTextureBlendStages = kMaxStages;
    caps->MaxSimultaneousTextures = kMaxStages;
    caps->MaxPointSize = 1.0f;
    caps->MaxPrimitiveCount = 0xFFFFFF;
    caps->MaxVertexIndex = 0xFFFFFF;
    caps->MaxStreams = 1;
    caps->MaxStreamStride = 255;
    caps->VertexShaderVersion = D3DVS_VERSION(2, 0);
    caps->MaxVertexShaderConst = kConstantRegisters;
    caps->PixelShaderVersion = D3DPS_VERSION(2, 0);
    caps->PixelShader1xMaxValue = 1.0f;
    caps->NumSimultaneousRTs = kMaxRenderTargets;
    caps->MasterAdapterOrdinal = 0;
    caps->NumberOfAdaptersInGroup = 1;
}

bool IsSupportedFormat(DWORD usage, D3DRESOURCETYPE type, D3DFORMAT format) {
    if (type != D3DRTYPE_SURFACE && type != D3DRTYPE_TEXTURE) return false;
    const FormatInfo* info = FindTextureFormat(format);
    if (info == nullptr) return false;
    if ((usage & D3DUSAGE_DEPTHSTENCIL) != 0 && !info->depth) return false;
    if ((usage & D3DUSAGE_RENDERTARGET) != 0 && info->depth) return false;
    return true;
}

HRESULT Direct3D::GetAdapterIdentifier(UINT adapter, DWORD, D3DADAPTER_IDENTIFIER9* identifier) {
    if (adapter != D3DADAPTER_DEFAULT || identifier == nullptr) return D3DERR_INVALIDCALL;
    const AdapterInfo& info = QueryAdapter();
    if (!info.valid) return D3DERR_NOTAVAILABLE;
    std::memset(identifier, 0, sizeof(*identifier));
    CopyText(identifier->Driver, sizeof(identifier->Driver), info.vendor);
    CopyText(identifier->DeviceName, sizeof(identifier->DeviceName), info.renderer);
    CopyText(identifier->Description, sizeof(identifier->Description), info.version);
    return D3D_OK;
}

HRESULT Direct3D::GetAdapterDisplayMode(UINT adapter, D3DDISPLAYMODE* mode) {
    if (adapter != D3DADAPTER_DEFAULT || mode == nullptr) return D3DERR_INVALIDCALL;
    // Without a display the screen is a virtual 1920 x 1080 one.
    mode->Width = 1920;
    mode->Height = 1080;
    mode->RefreshRate = 60;
    mode->Format = D3DFMT_X8R8G8B8;
    SDL_DisplayMode desktop;
    const bool hasDisplay = displayWindow_ == nullptr || displayWindow_->HasDisplay();
    if (hasDisplay && SDL_WasInit(SDL_INIT_VIDEO) != 0 && SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
        mode->Width = static_cast<UINT>(desktop.w);
        mode->Height = static_cast<UINT>(desktop.h);
        if (desktop.refresh_rate > 0) mode->RefreshRate = static_cast<UINT>(desktop.refresh_rate);
    }
    return D3D_OK;
}

HRESULT Direct3D::CheckDeviceFormat(UINT adapter, D3DDEVTYPE type, D3DFORMAT adapterFormat, DWORD usage,
                                    D3DRESOURCETYPE resourceType, D3DFORMAT format) {
    if (adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL) return D3DERR_INVALIDCALL;
    if (adapterFormat != D3DFMT_X8R8G8B8) return D3DERR_NOTAVAILABLE;
    return IsSupportedFormat(usage, resourceType, format) ? D3D_OK : D3DERR_NOTAVAILABLE;
}

HRESULT Direct3D::GetDeviceCaps(UINT adapter, D3DDEVTYPE type, D3DCAPS9* caps) {
    if (adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL || caps == nullptr) return D3DERR_INVALIDCALL;
    const AdapterInfo& info = QueryAdapter();
    if (!info.valid) return D3DERR_NOTAVAILABLE;
    FillCaps(info, caps);
    return D3D_OK;
}

HRESULT Direct3D::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND window, DWORD,
                               D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) {
    if (device == nullptr) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (adapter != D3DADAPTER_DEFAULT || type != D3DDEVTYPE_HAL || parameters == nullptr) return D3DERR_INVALIDCALL;
    HWND target = parameters->hDeviceWindow != nullptr ? parameters->hDeviceWindow : window;
    if (target == nullptr) return D3DERR_INVALIDCALL;
    Device* created = nullptr;
    std::string error;
    const HRESULT result = Device::Create(this, target, *parameters, &created, &error);
    if (FAILED(result)) {
        std::fprintf(stderr, "Direct3D 9 layer: %s\n", error.c_str());
        return result;
    }
    displayWindow_ = target;
    *device = created;
    return D3D_OK;
}

}  // namespace d3d9

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return new d3d9::Direct3D();
}

void D3D9SetTrace(IDirect3DDevice9* device, std::vector<std::string>* sink) {
    if (device != nullptr) static_cast<d3d9::Device*>(device)->SetTrace(sink);
}

bool D3D9SaveLastFrame(IDirect3DDevice9* device, const char* path) {
    if (device == nullptr || path == nullptr) return false;
    return static_cast<d3d9::Device*>(device)->SaveLastFrame(path);
}

bool D3D9GetCounters(IDirect3DDevice9* device, D3D9Counters* counters) {
    if (device == nullptr || counters == nullptr) return false;
    d3d9::Device* implementation = static_cast<d3d9::Device*>(device);
    implementation->CollectSamples(true);
    *counters = implementation->Counters();
    return true;
}

bool D3D9CountSamples(IDirect3DDevice9* device, bool begin) {
    return device != nullptr && static_cast<d3d9::Device*>(device)->CountSamples(begin);
}

bool D3D9ReadBackBuffer(IDirect3DDevice9* device, std::vector<uint32_t>* argb, int* width, int* height) {
    if (device == nullptr || argb == nullptr || width == nullptr || height == nullptr) return false;
    return static_cast<d3d9::Device*>(device)->ReadBackBuffer(argb, width, height);
}
