// The shader program set: two vertex and eight pixel shaders compiled from
// "shaders.hlsl" when the video device comes up, bound in eight fixed pairs.
#pragma once

#include <cstdint>

#include "video/d3d9/d3d9.h"

enum ShaderSlot {
    kShaderQ3MainVs,
    kShaderQ3MainPs,
    kShaderDefMainVs,
    kShaderDefMainPs,
    kShaderHdrPrePs,
    kShaderHdrPostPs,
    kShaderBlurPostPs,
    kShaderBlurHdrPostPs,
    kShaderSkyMainPs,
    kShaderDepthOfFieldPs,
    kShaderSlotCount
};

constexpr const char* kShaderFile = "shaders.hlsl";
// The shaders of the worlds' materials, compiled when a world first draws one.
constexpr const char* kMaterialShaderFile = "materials.hlsl";

class ID3DXBuffer;
// Compiles one entry of the shader file for profile; prints whatever the
// compiler said. Null when it fails.
ID3DXBuffer* CompileShaderEntry(const char* entry, const char* profile);
// The shaders of an entry a file of shaders need not have (vs.2.0 and
// ps.2.0), made on device: null when the file lacks the entry (nothing is
// printed; *missing, when given, is set) or when it fails (which is printed).
IDirect3DVertexShader9* CreateOptionalVertexShader(IDirect3DDevice9* device, const char* file, const char* entry,
                                                   bool* missing = nullptr);
IDirect3DPixelShader9* CreateOptionalPixelShader(IDirect3DDevice9* device, const char* file, const char* entry,
                                                 bool* missing = nullptr);

class ShaderSet {
public:
    ShaderSet() = default;
    ~ShaderSet() { Release(); }
    ShaderSet(const ShaderSet&) = delete;
    ShaderSet& operator=(const ShaderSet&) = delete;

    // Compiles all ten entries, each even after another failed; true when all
    // did. Shaders that compiled stay in their slots.
    bool Build(IDirect3DDevice9* device);
    void Release();

    // Compile one entry into a slot; 1 on success, 0 on failure. The
    // compiler's messages are printed as they come.
    int32_t CompileVertexShader(IDirect3DDevice9* device, const char* entry, ShaderSlot slot);
    int32_t CompilePixelShader(IDirect3DDevice9* device, const char* entry, ShaderSlot slot);

    IDirect3DVertexShader9* Vertex(ShaderSlot slot) const { return vertex_[slot]; }
    IDirect3DPixelShader9* Pixel(ShaderSlot slot) const { return pixel_[slot]; }

private:
    IDirect3DVertexShader9* vertex_[kShaderSlotCount] = {};
    IDirect3DPixelShader9* pixel_[kShaderSlotCount] = {};
};

// The entry point of each slot.
extern const char* const kShaderEntryPoints[kShaderSlotCount];

// The eight pairs; each does nothing while the video subsystem is down.
void BindDefaultShaders();
void BindWorldShaders();
void BindSkyShaders();
void BindBrightPassShaders();
void BindFakeHdrShaders();
void BindMotionBlurShaders();
void BindHdrBlurShaders();
void BindDepthOfFieldShaders();
