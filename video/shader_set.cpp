#include "video/shader_set.h"

#include <cstring>

#include "base/message_output.h"
#include "video/d3d9/d3dx9.h"
#include "video/video_system.h"

const char* const kShaderEntryPoints[kShaderSlotCount] = {
    "q3_main_vs",  "q3_main_ps",       "def_main_vs",      "def_main_ps",
    "hdr_pre_ps",  "hdr_post_ps",      "blur_post_ps",     "blur_hdr_post_ps",
    "sky_main_ps", "depthoffield_ps",
};

namespace {

bool IsVertexSlot(int slot) { return slot == kShaderQ3MainVs || slot == kShaderDefMainVs; }


void BindPair(ShaderSlot vertex, ShaderSlot pixel) {
    CVideoSystem* video = GetVideoSystem();
    if (video == nullptr) return;
    IDirect3DDevice9* device = video->GetDevice();
    device->SetVertexShader(video->Shaders().Vertex(vertex));
    device->SetPixelShader(video->Shaders().Pixel(pixel));
}

// The compiler's error for an entry point the file does not define.
constexpr const char kEntryNotFound[] = "X3501";

ID3DXBuffer* Compile(const char* file, const char* entry, const char* profile, bool* missing) {
    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* messages = nullptr;
    const HRESULT result = D3DXCompileShaderFromFileA(file, nullptr, nullptr, entry, profile,
                                                      0, &code, &messages, nullptr);
    if (messages != nullptr) {
        const char* text = static_cast<const char*>(messages->GetBufferPointer());
        const bool absent = missing != nullptr && FAILED(result) && std::strstr(text, kEntryNotFound) != nullptr;
        if (absent) {
            *missing = true;
        } else {
            PrintLine("%s", text);
        }
        messages->Release();
    }
    if (FAILED(result)) {
        if (code != nullptr) code->Release();
        return nullptr;
    }
    return code;
}

}  // namespace

ID3DXBuffer* CompileShaderEntry(const char* entry, const char* profile) {
    return Compile(kShaderFile, entry, profile, nullptr);
}

IDirect3DVertexShader9* CreateOptionalVertexShader(IDirect3DDevice9* device, const char* file, const char* entry,
                                                   bool* missing) {
    bool absent = false;
    ID3DXBuffer* code = Compile(file, entry, "vs.2.0", &absent);
    if (missing != nullptr) *missing = absent;
    if (code == nullptr) return nullptr;
    IDirect3DVertexShader9* shader = nullptr;
    if (FAILED(device->CreateVertexShader(static_cast<const DWORD*>(code->GetBufferPointer()), &shader))) {
        shader = nullptr;
    }
    code->Release();
    return shader;
}

IDirect3DPixelShader9* CreateOptionalPixelShader(IDirect3DDevice9* device, const char* file, const char* entry,
                                                 bool* missing) {
    bool absent = false;
    ID3DXBuffer* code = Compile(file, entry, "ps.2.0", &absent);
    if (missing != nullptr) *missing = absent;
    if (code == nullptr) return nullptr;
    IDirect3DPixelShader9* shader = nullptr;
    if (FAILED(device->CreatePixelShader(static_cast<const DWORD*>(code->GetBufferPointer()), &shader))) {
        shader = nullptr;
    }
    code->Release();
    return shader;
}

int32_t ShaderSet::CompileVertexShader(IDirect3DDevice9* device, const char* entry,
                                       ShaderSlot slot) {
    if (entry == nullptr || device == nullptr) return 0;
    ID3DXBuffer* code = CompileShaderEntry(entry, "vs.2.0");
    if (code == nullptr) return 0;
    const HRESULT result = device->CreateVertexShader(
        static_cast<const DWORD*>(code->GetBufferPointer()), &vertex_[slot]);
    code->Release();
    if (FAILED(result)) {
        if (vertex_[slot] != nullptr) vertex_[slot]->Release();
        vertex_[slot] = nullptr;
        return 0;
    }
    return 1;
}

int32_t ShaderSet::CompilePixelShader(IDirect3DDevice9* device, const char* entry,
                                      ShaderSlot slot) {
    if (entry == nullptr || device == nullptr) return 0;
    ID3DXBuffer* code = CompileShaderEntry(entry, "ps.2.0");
    if (code == nullptr) return 0;
    const HRESULT result = device->CreatePixelShader(
        static_cast<const DWORD*>(code->GetBufferPointer()), &pixel_[slot]);
    code->Release();
    if (FAILED(result)) {
        if (pixel_[slot] != nullptr) pixel_[slot]->Release();
        pixel_[slot] = nullptr;
        return 0;
    }
    return 1;
}

bool ShaderSet::Build(IDirect3DDevice9* device) {
    bool all = true;
    for (int slot = 0; slot < kShaderSlotCount; ++slot) {
        const ShaderSlot s = static_cast<ShaderSlot>(slot);
        const int32_t ok = IsVertexSlot(slot) ? CompileVertexShader(device, kShaderEntryPoints[slot], s)
                                              : CompilePixelShader(device, kShaderEntryPoints[slot], s);
        all = all && ok != 0;
    }
    return all;
}

void ShaderSet::Release() {
    for (int slot = 0; slot < kShaderSlotCount; ++slot) {
        if (vertex_[slot] != nullptr) vertex_[slot]->Release();
        if (pixel_[slot] != nullptr) pixel_[slot]->Release();
        vertex_[slot] = nullptr;
        pixel_[slot] = nullptr;
    }
}

void BindDefaultShaders() { BindPair(kShaderDefMainVs, kShaderDefMainPs); }
void BindWorldShaders() { BindPair(kShaderQ3MainVs, kShaderQ3MainPs); }
void BindSkyShaders() { BindPair(kShaderQ3MainVs, kShaderSkyMainPs); }
void BindBrightPassShaders() { BindPair(kShaderQ3MainVs, kShaderHdrPrePs); }
void BindFakeHdrShaders() { BindPair(kShaderDefMainVs, kShaderHdrPostPs); }
void BindMotionBlurShaders() { BindPair(kShaderDefMainVs, kShaderBlurPostPs); }
void BindHdrBlurShaders() { BindPair(kShaderDefMainVs, kShaderBlurHdrPostPs); }
void BindDepthOfFieldShaders() { BindPair(kShaderDefMainVs, kShaderDepthOfFieldPs); }
