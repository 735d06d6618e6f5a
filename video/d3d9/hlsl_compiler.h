// HLSL for Direct3D 9 shader models, compiled for OpenGL: glslang's HLSL front
// end (DX9-compatible mode) to SPIR-V, then SPIRV-Cross to GLSL 330 core.
// The result carries what the device needs to bind it the Direct3D way:
// vertex inputs by semantic, constant registers c0... and samplers s0-s7.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class ShaderStage : uint8_t { kVertex, kPixel };

// Vertex input semantics, as Direct3D 9 declaration usages.
enum class VertexUsage : uint8_t {
    kPosition = 0,   // D3DDECLUSAGE_POSITION
    kNormal = 3,     // D3DDECLUSAGE_NORMAL
    kTexCoord = 5,   // D3DDECLUSAGE_TEXCOORD
    kColor = 10,     // D3DDECLUSAGE_COLOR
};

struct CompiledShader {
    ShaderStage stage = ShaderStage::kVertex;
    // Complete GLSL 330 core source of the stage. Values passed from the
    // vertex to the pixel stage are named after their semantic, so any
    // vertex shader links with any pixel shader reading a subset of them.
    // A vertex shader's clip-space position is written to gl_Position.
    std::string glsl;

    struct Attribute {
        std::string name;     // GLSL input name
        VertexUsage usage;
        uint8_t usageIndex;   // TEXCOORD1 -> 1
    };
    std::vector<Attribute> attributes;  // vertex shaders only

    struct Sampler {
        std::string name;  // GLSL sampler uniform name
        int stage;         // texture stage 0-7 (register s0-s7)
    };
    std::vector<Sampler> samplers;

    // The file's global constants arrive in one std140 uniform block. Each
    // member reads registerCount float4 registers starting at firstRegister
    // and sits at offset bytes in the block; the device fills the block by
    // copying registers straight into those offsets.
    std::string constantBlock;  // empty when the stage reads no constants
    uint32_t constantBlockSize = 0;
    struct Constant {
        std::string name;
        uint32_t offset;
        int firstRegister;
        int registerCount;
    };
    std::vector<Constant> constants;
};

// Compiles one entry point of source. profile is "vs.2.0"/"vs_2_0" style for
// vertex shaders and "ps.2.0"/"ps_2_0" style for pixel shaders (the model
// number decides nothing more). messages receives the compiler's own text
// for errors and warnings (empty when it had nothing to say). Returns false
// when the shader did not compile.
bool CompileHlsl(const std::string& source, const std::string& entry, const std::string& profile,
                 CompiledShader* shader, std::string* messages);

// The byte form handed through ID3DXBuffer to CreateVertexShader and
// CreatePixelShader. It begins with a header that records its own size, so
// the reader needs no length.
std::vector<uint8_t> SerializeShader(const CompiledShader& shader);
// Reads the byte form; false for anything that is not one.
bool DeserializeShader(const void* bytes, CompiledShader* shader);
