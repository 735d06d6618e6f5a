// Shader objects, GL programs per (vertex, pixel) pair, constant registers
// copied into the stages' uniform blocks, and vertex input from the FVF.
//
// The compiled GLSL is wrapped before it is built: its main becomes
// osprel_main, and a new main adds what Direct3D 9 does around a shader.
//   Vertex stage: Direct3D 9 puts pixel centres at integer window
//   coordinates, GL at half-integers. Every position written is moved by half
//   a pixel right and down (+1/width, -1/height in clip space, times w), so
//   geometry lands on the same pixels as on Direct3D 9. A full-screen quad
//   that the engine shifts by -1/width, +1/height (as Direct3D 9 needs for
//   1:1 texels) therefore ends up exactly on GL's pixel grid.
//   Pixel stage: the alpha test (D3DRS_ALPHATESTENABLE/ALPHAFUNC/ALPHAREF),
//   which GL 3.3 core no longer has, discards fragments.
#include <algorithm>
#include <cstring>
#include <regex>

#include "video/d3d9/d3d9_internal.h"

namespace d3d9 {

namespace {

// Alpha compared as Direct3D does, in 8-bit steps against ALPHAREF.
const char kAlphaTestGlsl[] = R"(
uniform ivec2 osprel_AlphaTest;  // x: D3DCMPFUNC, 0 when the test is off; y: reference 0..255
bool osprel_AlphaPasses(float alpha) {
    int a = int(floor(clamp(alpha, 0.0, 1.0) * 255.0 + 0.5));
    int r = osprel_AlphaTest.y;
    switch (osprel_AlphaTest.x) {
        case 1: return false;
        case 2: return a < r;
        case 3: return a == r;
        case 4: return a <= r;
        case 5: return a > r;
        case 6: return a != r;
        case 7: return a >= r;
        default: return true;
    }
}
)";

// Inserts declarations after the #version line (or adds one).
std::string InsertAfterVersion(const std::string& source, const std::string& text) {
    const size_t version = source.find("#version");
    if (version == std::string::npos) return "#version 330 core\n" + text + source;
    const size_t lineEnd = source.find('\n', version);
    if (lineEnd == std::string::npos) return source + "\n" + text;
    return source.substr(0, lineEnd + 1) + text + source.substr(lineEnd + 1);
}

bool RenameMain(std::string* source) {
    static const std::regex kMain(R"(void\s+main\s*\(\s*(void)?\s*\))");
    std::smatch match;
    if (!std::regex_search(*source, match, kMain)) return false;
    source->replace(static_cast<size_t>(match.position(0)), static_cast<size_t>(match.length(0)),
                    "void osprel_main()");
    return true;
}

std::string PixelBlockName(const std::string& block) { return block + "_ps"; }

}  // namespace

GLuint CompileGlSource(GLenum stage, const std::string& source, std::string* error) {
    const GLuint shader = glCreateShader(stage);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return shader;
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(static_cast<size_t>(std::max(length, 1)), '\0');
    glGetShaderInfoLog(shader, length, nullptr, log.data());
    *error = "GLSL compile failed: " + std::string(log.c_str());
    glDeleteShader(shader);
    return 0;
}

GLuint CompileGlStage(const CompiledShader& compiled, std::string* error) {
    std::string source = compiled.glsl;
    if (!RenameMain(&source)) {
        *error = "the shader's GLSL has no main";
        return 0;
    }
    if (compiled.stage == ShaderStage::kVertex) {
        source = InsertAfterVersion(source, "uniform vec4 osprel_PixelOffset;\n");
        source += "\nvoid main() {\n    osprel_main();\n"
                  "    gl_Position.xy += osprel_PixelOffset.xy * gl_Position.w;\n}\n";
        return CompileGlSource(GL_VERTEX_SHADER, source, error);
    }
    // Both stages may carry a block of the same name with different members;
    // GL would refuse to link them, so the pixel stage's gets its own name.
    if (!compiled.constantBlock.empty()) {
        const std::regex block("uniform\\s+" + compiled.constantBlock + "\\b");
        source = std::regex_replace(source, block, "uniform " + PixelBlockName(compiled.constantBlock),
                                    std::regex_constants::format_first_only);
    }
    // The alpha test looks at render target 0's output (COLOR0), which every
    // pixel stage names osp_target0.
    static const std::regex kTarget0(R"(\bout\s+(?:(?:highp|mediump|lowp)\s+)?vec4\s+osp_target0\s*;)");
    std::string body = "\nvoid main() {\n    osprel_main();\n";
    if (std::regex_search(source, kTarget0)) body += "    if (!osprel_AlphaPasses(osp_target0.a)) discard;\n";
    body += "}\n";
    source = InsertAfterVersion(source, kAlphaTestGlsl) + body;
    return CompileGlSource(GL_FRAGMENT_SHADER, source, error);
}

bool LinkProgram(GLuint vertex, GLuint pixel, const std::vector<std::string>& attributeNames, Program* program,
                 std::string* error) {
    const GLuint name = glCreateProgram();
    glAttachShader(name, vertex);
    glAttachShader(name, pixel);
    for (size_t i = 0; i < attributeNames.size(); ++i) {
        glBindAttribLocation(name, static_cast<GLuint>(i), attributeNames[i].c_str());
    }
    glLinkProgram(name);
    glDetachShader(name, vertex);
    glDetachShader(name, pixel);
    GLint ok = GL_FALSE;
    glGetProgramiv(name, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        GLint length = 0;
        glGetProgramiv(name, GL_INFO_LOG_LENGTH, &length);
        std::string log(static_cast<size_t>(std::max(length, 1)), '\0');
        glGetProgramInfoLog(name, length, nullptr, log.data());
        *error = "GLSL link failed: " + std::string(log.c_str());
        glDeleteProgram(name);
        return false;
    }
    program->name = name;
    program->pixelOffset = glGetUniformLocation(name, "osprel_PixelOffset");
    program->alphaTest = glGetUniformLocation(name, "osprel_AlphaTest");
    program->viewport = glGetUniformLocation(name, "osprel_Viewport");
    program->stageOps = glGetUniformLocation(name, "osprel_ColorOps");
    program->alphaOps = glGetUniformLocation(name, "osprel_AlphaOps");
    program->textureFactor = glGetUniformLocation(name, "osprel_TextureFactor");
    return true;
}

bool BuildVertexLayout(DWORD fvf, VertexLayout* layout, std::string* error) {
    constexpr DWORD kHandled = D3DFVF_POSITION_MASK | D3DFVF_NORMAL | D3DFVF_PSIZE | D3DFVF_DIFFUSE |
                               D3DFVF_SPECULAR | D3DFVF_TEXCOUNT_MASK | 0xFFFF0000u;
    layout->elements.clear();
    layout->pretransformed = false;
    if ((fvf & ~kHandled) != 0) {
        *error = "FVF " + FvfText(fvf) + " has bits this device does not handle";
        return false;
    }
    UINT offset = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
        case D3DFVF_XYZ:
            layout->elements.push_back({VertexUsage::kPosition, 0, 3, GL_FLOAT, GL_FALSE, offset});
            offset += 12;
            break;
        case D3DFVF_XYZRHW:
            layout->elements.push_back({VertexUsage::kPosition, 0, 4, GL_FLOAT, GL_FALSE, offset});
            layout->pretransformed = true;
            offset += 16;
            break;
        case 0:
            *error = "FVF " + FvfText(fvf) + " has no position";
            return false;
        default:
            *error = "FVF " + FvfText(fvf) + " has a position type other than D3DFVF_XYZ or D3DFVF_XYZRHW";
            return false;
    }
    if ((fvf & D3DFVF_NORMAL) != 0) {
        layout->elements.push_back({VertexUsage::kNormal, 0, 3, GL_FLOAT, GL_FALSE, offset});
        offset += 12;
    }
    if ((fvf & D3DFVF_PSIZE) != 0) offset += 4;
    // D3DCOLOR is ARGB in a little-endian word, so B, G, R, A in memory.
    if ((fvf & D3DFVF_DIFFUSE) != 0) {
        layout->elements.push_back({VertexUsage::kColor, 0, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, offset});
        offset += 4;
    }
    if ((fvf & D3DFVF_SPECULAR) != 0) {
        layout->elements.push_back({VertexUsage::kColor, 1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, offset});
        offset += 4;
    }
    const DWORD texCount = (fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT;
    if (texCount > 8) {
        *error = "FVF " + FvfText(fvf) + " has more than 8 texture coordinate sets";
        return false;
    }
    for (DWORD set = 0; set < texCount; ++set) {
        static const GLint kComponents[] = {2, 3, 4, 1};  // D3DFVF_TEXTUREFORMAT2, 3, 4, 1
        const GLint components = kComponents[(fvf >> (16 + set * 2)) & 3];
        layout->elements.push_back(
            {VertexUsage::kTexCoord, static_cast<int>(set), components, GL_FLOAT, GL_FALSE, offset});
        offset += static_cast<UINT>(components) * 4;
    }
    layout->stride = offset;
    return true;
}

// ---------------------------------------------------------------------------
// Shader objects
// ---------------------------------------------------------------------------
template <class Interface>
Shader<Interface>::~Shader() {
    if (link_->device != nullptr) {
        link_->device->MakeCurrent();
        link_->device->ForgetShader(id_);
        glDeleteShader(name_);
    }
}

template <class Interface>
HRESULT Shader<Interface>::GetDevice(IDirect3DDevice9** device) {
    if (device == nullptr || link_->device == nullptr) return D3DERR_INVALIDCALL;
    *device = link_->device;
    link_->device->AddRef();
    return D3D_OK;
}

template class Shader<IDirect3DVertexShader9>;
template class Shader<IDirect3DPixelShader9>;

namespace {

template <class Interface>
HRESULT CreateShader(Device* device, const char* call, ShaderStage stage, const DWORD* function, uint64_t id,
                     Interface** shader) {
    if (shader == nullptr) return device->Invalid("%s: no pointer to receive the shader", call);
    *shader = nullptr;
    if (function == nullptr) return device->Invalid("%s: no shader code", call);
    CompiledShader compiled;
    if (!DeserializeShader(function, &compiled)) {
        return device->Invalid("%s: the code is not a shader from D3DXCompileShaderFromFileA", call);
    }
    if (compiled.stage != stage) {
        return device->Invalid("%s: the code is a %s shader", call,
                               compiled.stage == ShaderStage::kVertex ? "vertex" : "pixel");
    }
    device->MakeCurrent();
    std::string error;
    const GLuint name = CompileGlStage(compiled, &error);
    if (name == 0) return device->Invalid("%s: %s", call, error.c_str());
    *shader = new Shader<Interface>(device->Link(), std::move(compiled), name, id);
    return D3D_OK;
}

}  // namespace

HRESULT Device::CreateVertexShader(const DWORD* function, IDirect3DVertexShader9** shader) {
    if (Tracing()) Trace("CreateVertexShader()");
    return CreateShader(this, "CreateVertexShader", ShaderStage::kVertex, function, nextShaderId_++, shader);
}

HRESULT Device::CreatePixelShader(const DWORD* function, IDirect3DPixelShader9** shader) {
    if (Tracing()) Trace("CreatePixelShader()");
    return CreateShader(this, "CreatePixelShader", ShaderStage::kPixel, function, nextShaderId_++, shader);
}

void Device::ForgetShader(uint64_t id) {
    for (auto entry = programs_.begin(); entry != programs_.end();) {
        if (entry->first.first == id || entry->first.second == id) {
            glDeleteProgram(entry->second.name);
            for (Program::ConstantBlock& block : entry->second.blocks) {
                if (block.buffer != 0) {
                    BufferDeleted(block.buffer);
                    glDeleteBuffers(1, &block.buffer);
                }
            }
            if (vertexInput_.program == &entry->second) vertexInputKnown_ = false;
            ForgetGlState();
            entry = programs_.erase(entry);
        } else {
            ++entry;
        }
    }
}

Program* Device::FindProgram(VertexShader* vertex, PixelShader* pixel, std::string* error) {
    const std::pair<uint64_t, uint64_t> key(vertex->Id(), pixel->Id());
    auto found = programs_.find(key);
    if (found != programs_.end()) return &found->second;

    Program program;
    std::vector<std::string> names;
    for (const CompiledShader::Attribute& attribute : vertex->Compiled().attributes) {
        names.push_back(attribute.name);
        program.attributes.emplace_back(attribute.usage, attribute.usageIndex);
    }
    if (!LinkProgram(vertex->Name(), pixel->Name(), names, &program, error)) return nullptr;
    program.vertex = &vertex->Compiled();
    program.pixel = &pixel->Compiled();
    glUseProgram(program.name);
    ForgetGlState();
    for (const CompiledShader* stage : {program.vertex, program.pixel}) {
        for (const CompiledShader::Sampler& sampler : stage->samplers) {
            const GLint location = glGetUniformLocation(program.name, sampler.name.c_str());
            if (location >= 0) glUniform1i(location, sampler.stage);
        }
    }
    if (!program.vertex->constantBlock.empty()) {
        const GLuint index = glGetUniformBlockIndex(program.name, program.vertex->constantBlock.c_str());
        if (index != GL_INVALID_INDEX) {
            glUniformBlockBinding(program.name, index, 0);
            program.vertexBlock = static_cast<GLint>(index);
        }
    }
    if (!program.pixel->constantBlock.empty()) {
        const GLuint index =
            glGetUniformBlockIndex(program.name, PixelBlockName(program.pixel->constantBlock).c_str());
        if (index != GL_INVALID_INDEX) {
            glUniformBlockBinding(program.name, index, 1);
            program.pixelBlock = static_cast<GLint>(index);
        }
    }
    return &programs_.emplace(key, std::move(program)).first->second;
}

namespace {

// Registers are copied raw into the members' offsets, in offset order, so
// that a member smaller than a register is overwritten by its successor
// rather than the other way round.
void FillBlock(const CompiledShader& shader, const float* registers, std::vector<uint8_t>* block) {
    block->assign(shader.constantBlockSize, 0);
    std::vector<const CompiledShader::Constant*> ordered;
    for (const CompiledShader::Constant& constant : shader.constants) ordered.push_back(&constant);
    std::sort(ordered.begin(), ordered.end(),
              [](const CompiledShader::Constant* a, const CompiledShader::Constant* b) { return a->offset < b->offset; });
    for (const CompiledShader::Constant* constant : ordered) {
        if (constant->firstRegister < 0 || constant->registerCount <= 0 ||
            constant->firstRegister >= kConstantRegisters || constant->offset >= block->size()) {
            continue;
        }
        const int count = std::min(constant->registerCount, kConstantRegisters - constant->firstRegister);
        const size_t bytes = std::min(static_cast<size_t>(count) * 16, block->size() - constant->offset);
        std::memcpy(block->data() + constant->offset, registers + constant->firstRegister * 4, bytes);
    }
}

}  // namespace

void Device::UploadConstants(Program& program) {
    const struct {
        const CompiledShader* shader;
        GLint block;
        const float* registers;
    } stages[] = {{program.vertex, program.vertexBlock, state_.vertexConstants.data()},
                  {program.pixel, program.pixelBlock, state_.pixelConstants.data()}};
    if (!constantBuffersKnown_) {
        boundConstantBuffers_.fill(0xFFFFFFFFu);
        constantBuffersKnown_ = true;
    }
    for (size_t i = 0; i < 2; ++i) {
        if (stages[i].shader == nullptr || stages[i].block < 0 || stages[i].shader->constantBlockSize == 0) continue;
        Program::ConstantBlock& block = program.blocks[i];
        const uint64_t generation = constantGeneration_[i];
        if (block.buffer == 0) {
            FillBlock(*stages[i].shader, stages[i].registers, &block.bytes);
            for (const CompiledShader::Constant& constant : stages[i].shader->constants) block.ordered.push_back(&constant);
            std::sort(block.ordered.begin(), block.ordered.end(),
                      [](const CompiledShader::Constant* a, const CompiledShader::Constant* b) {
                          return a->offset < b->offset;
                      });
            glGenBuffers(1, &block.buffer);
            glBindBuffer(GL_UNIFORM_BUFFER, block.buffer);
            glBufferData(GL_UNIFORM_BUFFER, static_cast<GLsizeiptr>(block.bytes.size()), block.bytes.data(),
                         GL_DYNAMIC_DRAW);
            block.uploaded = generation;
            ++counters_.constantUploads;
            counters_.constantBytes += block.bytes.size();
        } else if (block.uploaded != generation) {
            // Copy the members whose registers changed since the last upload,
            // and any later member they overlap (a later member wins, as in
            // FillBlock), then write only that byte range.
            const uint64_t* stamps = registerStamps_[i].data();
            size_t low = block.bytes.size();
            size_t high = 0;
            for (const CompiledShader::Constant* constant : block.ordered) {
                if (constant->firstRegister < 0 || constant->registerCount <= 0 ||
                    constant->firstRegister >= kConstantRegisters || constant->offset >= block.bytes.size()) {
                    continue;
                }
                const int count = std::min(constant->registerCount, kConstantRegisters - constant->firstRegister);
                bool dirty = constant->offset < high;
                for (int r = 0; r < count && !dirty; ++r) dirty = stamps[constant->firstRegister + r] > block.uploaded;
                if (!dirty) continue;
                const size_t bytes = std::min(static_cast<size_t>(count) * 16, block.bytes.size() - constant->offset);
                std::memcpy(block.bytes.data() + constant->offset, stages[i].registers + constant->firstRegister * 4,
                            bytes);
                low = std::min(low, static_cast<size_t>(constant->offset));
                high = std::max(high, constant->offset + bytes);
            }
            if (low < high) {
                glBindBuffer(GL_UNIFORM_BUFFER, block.buffer);
                glBufferSubData(GL_UNIFORM_BUFFER, static_cast<GLintptr>(low), static_cast<GLsizeiptr>(high - low),
                                block.bytes.data() + low);
                ++counters_.constantUploads;
                counters_.constantBytes += high - low;
            }
            block.uploaded = generation;
        }
        if (boundConstantBuffers_[i] != block.buffer) {
            glBindBufferBase(GL_UNIFORM_BUFFER, static_cast<GLuint>(i), block.buffer);
            boundConstantBuffers_[i] = block.buffer;
        }
    }
}

void Device::BindVertexInput(const Program& program, const VertexLayout& layout, GLuint buffer, size_t offset,
                             UINT stride) {
    if (vertexInputKnown_ && vertexInput_.program == &program && vertexInput_.layout == &layout &&
        vertexInput_.buffer == buffer && vertexInput_.offset == offset && vertexInput_.stride == stride) {
        return;
    }
    vertexInput_ = VertexInput{&program, &layout, buffer, offset, stride};
    vertexInputKnown_ = true;
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    for (GLuint location = 0; location < 16; ++location) glDisableVertexAttribArray(location);
    for (size_t i = 0; i < program.attributes.size(); ++i) {
        const GLuint location = static_cast<GLuint>(i);
        const auto [usage, index] = program.attributes[i];
        const VertexElement* element = nullptr;
        for (const VertexElement& candidate : layout.elements) {
            if (candidate.usage == usage && candidate.usageIndex == index) element = &candidate;
        }
        if (element == nullptr) {
            // Inputs the vertex lacks read as Direct3D's defaults.
            if (usage == VertexUsage::kColor) {
                glVertexAttrib4f(location, 1.0f, 1.0f, 1.0f, 1.0f);
            } else {
                glVertexAttrib4f(location, 0.0f, 0.0f, 0.0f, 1.0f);
            }
            continue;
        }
        glEnableVertexAttribArray(location);
        glVertexAttribPointer(location, element->components, element->type, element->normalized,
                              static_cast<GLsizei>(stride),
                              reinterpret_cast<const void*>(offset + element->offset));
    }
}

}  // namespace d3d9
