// HLSL -> SPIR-V (glslang) -> GLSL 330 core (SPIRV-Cross), with the
// reflection the device needs to bind shaders the Direct3D 9 way.
//
// Naming in the generated GLSL, the same for every shader of the file:
//   vertex inputs             osp_attr_<SEMANTIC><n>   (osp_attr_TEXCOORD1)
//   vertex -> pixel values    osp_<SEMANTIC><n>        (osp_TEXCOORD0, osp_COLOR0)
//   pixel outputs             osp_target<n>, layout(location = n)
//   samplers                  osp_vs_s<n> / osp_ps_s<n> for register s<n>
//   constants                 uniform block VertexConstants / PixelConstants
// A missing semantic index reads as 0, so TEXCOORD and TEXCOORD0 meet. The
// vertex and pixel constants live in blocks of different names because
// Direct3D 9 keeps two separate register files.
//
// A vertex output with the plain POSITION semantic (what shader model 2 code
// writes) is the clip-space position just like SV_Position: glslang keeps it
// an ordinary output, so its Location decoration is turned into BuiltIn
// Position in the SPIR-V before cross-compiling.

#include "video/d3d9/hlsl_compiler.h"

// Debian's glslang is built with HLSL, but its installed headers show the
// HLSL-only inline setters (setEnvTargetHlslFunctionality1) only under this
// macro; they are inline and change no layout.
#ifndef ENABLE_HLSL
#define ENABLE_HLSL 1
#endif
#include <glslang/Public/ResourceLimits.h>
#include <glslang/Public/ShaderLang.h>
#include <glslang/MachineIndependent/localintermediate.h>
#include <glslang/SPIRV/GlslangToSpv.h>
#include <spirv_cross/spirv_cross_c.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "video/d3d9/hlsl_globals.h"

namespace {

// ---------------------------------------------------------------------------
// Semantics

struct Semantic {
    std::string name;  // upper case, without the index
    int index = 0;
};

Semantic ParseSemantic(const std::string& text) {
    Semantic s;
    size_t digits = text.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(text[digits - 1]))) --digits;
    s.name = text.substr(0, digits);
    for (char& c : s.name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (digits < text.size()) s.index = std::atoi(text.c_str() + digits);
    return s;
}

std::string SemanticLabel(const Semantic& s) { return s.name + std::to_string(s.index); }

bool VertexUsageFor(const Semantic& s, VertexUsage* usage) {
    if (s.name == "POSITION" || s.name == "SV_POSITION") *usage = VertexUsage::kPosition;
    else if (s.name == "NORMAL") *usage = VertexUsage::kNormal;
    else if (s.name == "TEXCOORD") *usage = VertexUsage::kTexCoord;
    else if (s.name == "COLOR") *usage = VertexUsage::kColor;
    else return false;
    return true;
}

// ---------------------------------------------------------------------------
// SPIR-V words

constexpr uint32_t kSpirvMagic = 0x07230203;
constexpr uint32_t kOpVariable = 59;
constexpr uint32_t kOpDecorate = 71;
constexpr uint32_t kOpDecorateString = 5632;  // also OpDecorateStringGOOGLE
constexpr uint32_t kDecorationBuiltIn = 11;
constexpr uint32_t kDecorationLocation = 30;
constexpr uint32_t kDecorationUserSemantic = 5635;
constexpr uint32_t kBuiltInPosition = 0;
constexpr uint32_t kStorageOutput = 3;

// The UserSemantic strings glslang attaches to interface variables.
std::map<uint32_t, std::string> ReadSemantics(const std::vector<uint32_t>& spirv) {
    std::map<uint32_t, std::string> semantics;
    for (size_t i = 5; i < spirv.size();) {
        const uint32_t count = spirv[i] >> 16;
        const uint32_t op = spirv[i] & 0xFFFF;
        if (count == 0 || i + count > spirv.size()) break;
        if (op == kOpDecorateString && count >= 4 && spirv[i + 2] == kDecorationUserSemantic) {
            const char* text = reinterpret_cast<const char*>(&spirv[i + 3]);
            semantics[spirv[i + 1]] = std::string(text, strnlen(text, (count - 3) * 4));
        }
        i += count;
    }
    return semantics;
}

// Makes the vertex output carrying the POSITION semantic the built-in
// position, unless the shader already writes one (SV_Position).
void PromotePositionOutput(std::vector<uint32_t>* spirv, const std::map<uint32_t, std::string>& semantics) {
    std::set<uint32_t> outputs;
    bool hasBuiltInPosition = false;
    std::vector<size_t> locationDecorations;
    std::vector<uint32_t>& words = *spirv;
    for (size_t i = 5; i < words.size();) {
        const uint32_t count = words[i] >> 16;
        const uint32_t op = words[i] & 0xFFFF;
        if (count == 0 || i + count > words.size()) break;
        if (op == kOpVariable && count >= 4 && words[i + 3] == kStorageOutput) outputs.insert(words[i + 2]);
        if (op == kOpDecorate && count >= 4) {
            if (words[i + 2] == kDecorationBuiltIn && words[i + 3] == kBuiltInPosition) hasBuiltInPosition = true;
            if (words[i + 2] == kDecorationLocation) locationDecorations.push_back(i);
        }
        i += count;
    }
    if (hasBuiltInPosition) return;
    for (size_t at : locationDecorations) {
        const uint32_t id = words[at + 1];
        const auto semantic = semantics.find(id);
        if (!outputs.count(id) || semantic == semantics.end()) continue;
        const Semantic s = ParseSemantic(semantic->second);
        if (s.name != "POSITION" || s.index != 0) continue;
        words[at + 2] = kDecorationBuiltIn;
        words[at + 3] = kBuiltInPosition;
        return;
    }
}

// ---------------------------------------------------------------------------
// glslang

void InitializeGlslang() {
    static std::once_flag once;
    std::call_once(once, [] { glslang::InitializeProcess(); });
}

void AppendLog(std::string* messages, const char* log) {
    if (!log || !*log) return;
    if (!messages->empty() && messages->back() != '\n') messages->push_back('\n');
    messages->append(log);
}

bool HlslToSpirv(const std::string& source, const std::string& entry, EShLanguage stage,
                 std::vector<uint32_t>* spirv, std::string* messages) {
    InitializeGlslang();
    const auto rules = static_cast<EShMessages>(EShMsgReadHlsl | EShMsgHlslDX9Compatible | EShMsgSpvRules |
                                                EShMsgHlslLegalization);
    glslang::TShader shader(stage);
    const char* text = source.c_str();
    const int length = static_cast<int>(source.size());
    shader.setStringsWithLengths(&text, &length, 1);
    shader.setEntryPoint(entry.c_str());
    shader.setSourceEntryPoint(entry.c_str());
    shader.setEnvInput(glslang::EShSourceHlsl, stage, glslang::EShClientVulkan, 100);
    shader.setEnvClient(glslang::EShClientVulkan, glslang::EShTargetVulkan_1_0);
    shader.setEnvTarget(glslang::EShTargetSpv, glslang::EShTargetSpv_1_0);
    shader.setEnvTargetHlslFunctionality1();
    const bool parsed = shader.parse(GetDefaultResources(), 100, false, rules);
    AppendLog(messages, shader.getInfoLog());
    AppendLog(messages, shader.getInfoDebugLog());
    if (!parsed) return false;

    glslang::TProgram program;
    program.addShader(&shader);
    const bool linked = program.link(rules);
    AppendLog(messages, program.getInfoLog());
    AppendLog(messages, program.getInfoDebugLog());
    if (!linked || !program.getIntermediate(stage)) return false;
    // glslang only warns about a missing entry point and compiles an empty
    // shader; for us it is an error, worded as D3DX words it.
    if (program.getIntermediate(stage)->getNumEntryPoints() < 1) {
        AppendLog(messages, ("error X3501: '" + entry + "': entrypoint not found").c_str());
        return false;
    }

    spv::SpvBuildLogger logger;
    glslang::SpvOptions options;
    options.disableOptimizer = false;  // HLSL needs the legalization passes
    glslang::GlslangToSpv(*program.getIntermediate(stage), *spirv, &logger, &options);
    AppendLog(messages, logger.getAllMessages().c_str());
    return spirv->size() > 5 && (*spirv)[0] == kSpirvMagic;
}

// ---------------------------------------------------------------------------
// SPIRV-Cross

struct CrossContext {
    spvc_context context = nullptr;
    std::string errors;
    CrossContext() {
        if (spvc_context_create(&context) != SPVC_SUCCESS) context = nullptr;
        if (context) {
            spvc_context_set_error_callback(
                context,
                [](void* user, const char* error) {
                    auto* self = static_cast<CrossContext*>(user);
                    AppendLog(&self->errors, error);
                },
                this);
        }
    }
    ~CrossContext() {
        if (context) spvc_context_destroy(context);
    }
    CrossContext(const CrossContext&) = delete;
    CrossContext& operator=(const CrossContext&) = delete;
};

struct ResourceList {
    const spvc_reflected_resource* items = nullptr;
    size_t count = 0;
};

ResourceList GetResources(spvc_resources resources, spvc_resource_type type) {
    ResourceList list;
    spvc_resources_get_resource_list_for_type(resources, type, &list.items, &list.count);
    return list;
}

// The register a sampler variable reads: its register(sN), else the next
// free one in declaration order.
class SamplerAllocator {
public:
    explicit SamplerAllocator(const std::vector<HlslGlobal>& globals) {
        for (const HlslGlobal& g : globals) {
            if (g.isSampler && g.registerNumber >= 0 && (g.registerClass == 's' || g.registerClass == 't')) {
                annotated_[g.name] = g.registerNumber;
                used_.insert(g.registerNumber);
            }
        }
    }
    int Allocate(const std::string& name) {
        const auto it = annotated_.find(name);
        if (it != annotated_.end()) return it->second;
        while (used_.count(next_)) ++next_;
        used_.insert(next_);
        return next_;
    }

private:
    std::map<std::string, int> annotated_;
    std::set<int> used_;
    int next_ = 0;
};

bool Fail(std::string* messages, const std::string& text) {
    AppendLog(messages, text.c_str());
    return false;
}

bool ExpressBlockInStd140(std::string* glsl, const std::string& blockName,
                          const std::map<uint32_t, uint32_t>& sizeAtOffset, std::string* messages);

bool SpirvToGlsl(const std::vector<uint32_t>& spirv, ShaderStage stage, const std::vector<HlslGlobal>& globals,
                 CompiledShader* out, std::string* messages) {
    CrossContext cross;
    if (!cross.context) return Fail(messages, "SPIRV-Cross: cannot create a context");
    auto crossFail = [&](const char* what) {
        return Fail(messages, cross.errors.empty() ? std::string("SPIRV-Cross: ") + what : cross.errors);
    };

    spvc_parsed_ir ir = nullptr;
    spvc_compiler compiler = nullptr;
    if (spvc_context_parse_spirv(cross.context, spirv.data(), spirv.size(), &ir) != SPVC_SUCCESS)
        return crossFail("cannot parse the SPIR-V");
    if (spvc_context_create_compiler(cross.context, SPVC_BACKEND_GLSL, ir, SPVC_CAPTURE_MODE_TAKE_OWNERSHIP,
                                     &compiler) != SPVC_SUCCESS)
        return crossFail("cannot create the GLSL compiler");

    spvc_compiler_options options = nullptr;
    spvc_compiler_create_compiler_options(compiler, &options);
    spvc_compiler_options_set_uint(options, SPVC_COMPILER_OPTION_GLSL_VERSION, 330);
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ES, SPVC_FALSE);
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_VULKAN_SEMANTICS, SPVC_FALSE);
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_ENABLE_420PACK_EXTENSION, SPVC_FALSE);
    spvc_compiler_options_set_bool(options, SPVC_COMPILER_OPTION_GLSL_SEPARATE_SHADER_OBJECTS, SPVC_FALSE);
    spvc_compiler_install_compiler_options(compiler, options);

    const bool vertex = stage == ShaderStage::kVertex;
    const std::map<uint32_t, std::string> semantics = ReadSemantics(spirv);
    auto semanticOf = [&](spvc_variable_id id, Semantic* s) {
        const auto it = semantics.find(id);
        if (it == semantics.end()) return false;
        *s = ParseSemantic(it->second);
        return true;
    };

    // DX10-style textures with separate sampler states become combined
    // samplers; shader model 2 sampler2D already is one.
    if (spvc_compiler_build_combined_image_samplers(compiler) != SPVC_SUCCESS)
        return crossFail("cannot combine textures and samplers");

    spvc_resources resources = nullptr;
    if (spvc_compiler_create_shader_resources(compiler, &resources) != SPVC_SUCCESS)
        return crossFail("cannot reflect the shader's resources");

    // Vertex inputs: named after their semantic, bound by name.
    const ResourceList inputs = GetResources(resources, SPVC_RESOURCE_TYPE_STAGE_INPUT);
    for (size_t i = 0; i < inputs.count; ++i) {
        const spvc_variable_id id = inputs.items[i].id;
        Semantic s;
        if (!semanticOf(id, &s)) {
            return Fail(messages, std::string("error: input '") + inputs.items[i].name + "' has no semantic");
        }
        spvc_compiler_unset_decoration(compiler, id, SpvDecorationLocation);
        if (!vertex) {
            spvc_compiler_set_name(compiler, id, ("osp_" + SemanticLabel(s)).c_str());
            continue;
        }
        CompiledShader::Attribute attribute;
        if (!VertexUsageFor(s, &attribute.usage) || s.index > 255) {
            return Fail(messages, "error: vertex input '" + std::string(inputs.items[i].name) + "' uses semantic " +
                                      SemanticLabel(s) +
                                      ", which the vertex layout cannot feed (POSITION, NORMAL, COLORn, TEXCOORDn)");
        }
        attribute.usageIndex = static_cast<uint8_t>(s.index);
        attribute.name = "osp_attr_" + SemanticLabel(s);
        spvc_compiler_set_name(compiler, id, attribute.name.c_str());
        out->attributes.push_back(attribute);
    }

    // Outputs: vertex ones named after their semantic like the pixel inputs
    // above; pixel ones are render targets at their location.
    const ResourceList outputs = GetResources(resources, SPVC_RESOURCE_TYPE_STAGE_OUTPUT);
    for (size_t i = 0; i < outputs.count; ++i) {
        const spvc_variable_id id = outputs.items[i].id;
        Semantic s;
        if (!semanticOf(id, &s)) {
            return Fail(messages, std::string("error: output '") + outputs.items[i].name + "' has no semantic");
        }
        if (vertex) {
            spvc_compiler_unset_decoration(compiler, id, SpvDecorationLocation);
            spvc_compiler_set_name(compiler, id, ("osp_" + SemanticLabel(s)).c_str());
            continue;
        }
        if (s.name != "COLOR" && s.name != "SV_TARGET") {
            return Fail(messages, "error: pixel output '" + std::string(outputs.items[i].name) + "' uses semantic " +
                                      SemanticLabel(s) + "; only COLORn and SV_Targetn are supported");
        }
        spvc_compiler_set_decoration(compiler, id, SpvDecorationLocation, static_cast<unsigned>(s.index));
        spvc_compiler_set_name(compiler, id, ("osp_target" + std::to_string(s.index)).c_str());
    }

    // Samplers: s0-s7, named after their register.
    SamplerAllocator allocator(globals);
    const std::string samplerPrefix = vertex ? "osp_vs_s" : "osp_ps_s";
    const ResourceList sampled = GetResources(resources, SPVC_RESOURCE_TYPE_SAMPLED_IMAGE);
    for (size_t i = 0; i < sampled.count; ++i) {
        const spvc_variable_id id = sampled.items[i].id;
        CompiledShader::Sampler sampler;
        sampler.stage = allocator.Allocate(spvc_compiler_get_name(compiler, id));
        sampler.name = samplerPrefix + std::to_string(sampler.stage);
        spvc_compiler_set_name(compiler, id, sampler.name.c_str());
        spvc_compiler_unset_decoration(compiler, id, SpvDecorationBinding);
        spvc_compiler_unset_decoration(compiler, id, SpvDecorationDescriptorSet);
        out->samplers.push_back(sampler);
    }
    const spvc_combined_image_sampler* combined = nullptr;
    size_t combinedCount = 0;
    spvc_compiler_get_combined_image_samplers(compiler, &combined, &combinedCount);
    for (size_t i = 0; i < combinedCount; ++i) {
        CompiledShader::Sampler sampler;
        sampler.stage = allocator.Allocate(spvc_compiler_get_name(compiler, combined[i].sampler_id));
        sampler.name = samplerPrefix + std::to_string(sampler.stage);
        spvc_compiler_set_name(compiler, combined[i].combined_id, sampler.name.c_str());
        out->samplers.push_back(sampler);
    }
    std::set<int> stages;
    for (const CompiledShader::Sampler& sampler : out->samplers) {
        if (sampler.stage < 0 || sampler.stage > 15 || !stages.insert(sampler.stage).second) {
            return Fail(messages, "error: sampler register s" + std::to_string(sampler.stage) +
                                      " is out of range or used twice");
        }
    }

    // Constants: the file's globals, one std140 block.
    std::map<uint32_t, uint32_t> sizeAtOffset;
    const ResourceList blocks = GetResources(resources, SPVC_RESOURCE_TYPE_UNIFORM_BUFFER);
    for (size_t b = 0; b < blocks.count; ++b) {
        const spvc_reflected_resource& block = blocks.items[b];
        const std::string blockName = spvc_compiler_get_name(compiler, block.base_type_id);
        if (blockName != "$Global") {
            return Fail(messages, "error: constant buffer '" + blockName +
                                      "' is not supported; declare constants at global scope");
        }
        out->constantBlock = vertex ? "VertexConstants" : "PixelConstants";
        spvc_compiler_set_name(compiler, block.base_type_id, out->constantBlock.c_str());
        spvc_compiler_set_name(compiler, block.id, vertex ? "osp_vc" : "osp_pc");
        spvc_compiler_unset_decoration(compiler, block.id, SpvDecorationBinding);
        spvc_compiler_unset_decoration(compiler, block.id, SpvDecorationDescriptorSet);

        const spvc_type type = spvc_compiler_get_type_handle(compiler, block.base_type_id);
        size_t blockSize = 0;
        spvc_compiler_get_declared_struct_size(compiler, type, &blockSize);
        out->constantBlockSize = static_cast<uint32_t>((blockSize + 15) / 16 * 16);
        const unsigned members = spvc_type_get_num_member_types(type);
        for (unsigned m = 0; m < members; ++m) {
            CompiledShader::Constant constant;
            constant.name = spvc_compiler_get_member_name(compiler, block.base_type_id, m);
            unsigned offset = 0;
            size_t size = 0;
            spvc_compiler_type_struct_member_offset(compiler, type, m, &offset);
            spvc_compiler_get_declared_struct_member_size(compiler, type, m, &size);
            constant.offset = offset;
            constant.firstRegister = static_cast<int>(offset / 16);
            constant.registerCount = std::max(1, static_cast<int>((offset % 16 + size + 15) / 16));
            out->constants.push_back(constant);
            sizeAtOffset[offset] = static_cast<uint32_t>(size);
        }
        out->constantBlockSize = std::max<uint32_t>(out->constantBlockSize, 16);
    }

    const char* glsl = nullptr;
    if (spvc_compiler_compile(compiler, &glsl) != SPVC_SUCCESS || !glsl) return crossFail("cannot write GLSL");
    out->glsl = glsl;
    return out->constantBlock.empty() ||
           ExpressBlockInStd140(&out->glsl, out->constantBlock, sizeAtOffset, messages);
}

// SPIRV-Cross keeps a block whose members are not in std140 order as it is,
// with layout(offset = N) and GL_ARB_enhanced_layouts, which GL 3.3 does not
// have. Registers placed out of declaration order do that, so the block is
// rewritten here: members sorted by offset, gaps filled with padding, so that
// plain std140 rules put every member where the registers say.
bool ExpressBlockInStd140(std::string* glsl, const std::string& blockName,
                          const std::map<uint32_t, uint32_t>& sizeAtOffset, std::string* messages) {
    const std::string extension = "#extension GL_ARB_enhanced_layouts : require\n";
    const size_t extensionAt = glsl->find(extension);
    if (extensionAt == std::string::npos) return true;
    const size_t head = glsl->find("uniform " + blockName + "\n{\n");
    const size_t bodyBegin = head == std::string::npos ? head : glsl->find('\n', head) + 3;
    const size_t bodyEnd = head == std::string::npos ? head : glsl->find("\n}", bodyBegin);
    if (bodyEnd == std::string::npos) return Fail(messages, "error: cannot lay out the constants for GLSL 330");

    struct Member {
        uint32_t offset;
        std::string declaration;
    };
    std::vector<Member> members;
    size_t lineBegin = bodyBegin;
    while (lineBegin <= bodyEnd) {
        size_t lineEnd = glsl->find('\n', lineBegin);
        if (lineEnd == std::string::npos || lineEnd > bodyEnd) lineEnd = bodyEnd + 1;
        std::string line = glsl->substr(lineBegin, lineEnd - lineBegin);
        lineBegin = lineEnd + 1;
        line.erase(0, line.find_first_not_of(' '));
        if (line.empty()) continue;
        // "layout(row_major, offset = 64) mat4 m;": drop the offset, keep the rest.
        if (line.rfind("layout(", 0) != 0) return Fail(messages, "error: cannot lay out the constants for GLSL 330");
        const size_t close = line.find(')');
        const std::string qualifiers = line.substr(7, close - 7);
        std::string kept;
        Member member{0, ""};
        bool haveOffset = false;
        size_t at = 0;
        while (at <= qualifiers.size()) {
            size_t comma = qualifiers.find(',', at);
            if (comma == std::string::npos) comma = qualifiers.size();
            std::string item = qualifiers.substr(at, comma - at);
            item.erase(0, item.find_first_not_of(' '));
            if (item.rfind("offset", 0) == 0) {
                member.offset = static_cast<uint32_t>(std::strtoul(item.c_str() + item.find('=') + 1, nullptr, 10));
                haveOffset = true;
            } else if (!item.empty()) {
                kept += (kept.empty() ? "" : ", ") + item;
            }
            at = comma + 1;
        }
        if (!haveOffset || !sizeAtOffset.count(member.offset))
            return Fail(messages, "error: cannot lay out the constants for GLSL 330");
        std::string rest = line.substr(close + 1);
        rest.erase(0, rest.find_first_not_of(' '));
        member.declaration = (kept.empty() ? "" : "layout(" + kept + ") ") + rest;
        members.push_back(member);
    }
    std::stable_sort(members.begin(), members.end(),
                     [](const Member& a, const Member& b) { return a.offset < b.offset; });

    std::string body;
    uint32_t end = 0;
    int pads = 0;
    for (const Member& m : members) {
        if (m.offset < end) return Fail(messages, "error: constants overlap in the register file");
        while (end < m.offset) {
            const std::string name = "osp_pad" + std::to_string(pads++);
            if (end % 16 == 0 && m.offset - end >= 16) {
                body += "    vec4 " + name + "[" + std::to_string((m.offset - end) / 16) + "];\n";
                end += (m.offset - end) / 16 * 16;
            } else {
                body += "    float " + name + ";\n";
                end += 4;
            }
        }
        body += "    " + m.declaration + "\n";
        end = m.offset + sizeAtOffset.at(m.offset);
    }
    glsl->replace(bodyBegin, bodyEnd + 1 - bodyBegin, body);
    glsl->erase(extensionAt, extension.size());
    return true;
}

bool StageForProfile(const std::string& profile, ShaderStage* stage) {
    // "vs.2.0", "vs_2_0", "ps_3_0"...: the kind, then a separator and a model.
    if (profile.size() < 4 || (profile[2] != '.' && profile[2] != '_') ||
        !std::isdigit(static_cast<unsigned char>(profile[3])))
        return false;
    const std::string kind = profile.substr(0, 2);
    if (kind == "vs") *stage = ShaderStage::kVertex;
    else if (kind == "ps") *stage = ShaderStage::kPixel;
    else return false;
    return true;
}

}  // namespace

bool CompileHlsl(const std::string& source, const std::string& entry, const std::string& profile,
                 CompiledShader* shader, std::string* messages) {
    std::string log;
    CompiledShader result;
    bool ok = false;
    if (!StageForProfile(profile, &result.stage)) {
        log = "error: unknown shader profile '" + profile + "' (expected vs_2_0 or ps_2_0 style)";
    } else if (entry.empty()) {
        log = "error: no entry point given";
    } else {
        // Unannotated constants get registers after the annotated ones, as
        // the Direct3D 9 compiler allocates them; glslang alone would put
        // them on top of annotated ones.
        const std::vector<HlslGlobal> globals = ScanHlslGlobals(source);
        const std::string placed = AssignConstantRegisters(source, globals);
        const EShLanguage language = result.stage == ShaderStage::kVertex ? EShLangVertex : EShLangFragment;
        std::vector<uint32_t> spirv;
        if (HlslToSpirv(placed, entry, language, &spirv, &log)) {
            if (result.stage == ShaderStage::kVertex) PromotePositionOutput(&spirv, ReadSemantics(spirv));
            ok = SpirvToGlsl(spirv, result.stage, globals, &result, &log);
        }
    }
    if (messages) *messages = log;
    if (ok && shader) *shader = std::move(result);
    return ok;
}

// ---------------------------------------------------------------------------
// Byte form:
//   header   "OSPS"  u32 total size  u32 version  u32 FNV-1a of the body
//   body     u8 stage, str glsl,
//            u32 n, n x (str name, u8 usage, u8 index),
//            u32 n, n x (str name, i32 stage),
//            str block, u32 block size,
//            u32 n, n x (str name, u32 offset, i32 first, i32 count)
// str = u32 length + bytes; all numbers little-endian.

namespace {

constexpr uint8_t kMagic[4] = {'O', 'S', 'P', 'S'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderSize = 16;
constexpr uint32_t kMaxSize = 64u << 20;

uint32_t Fnv1a(const uint8_t* data, size_t size) {
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
    return hash;
}

class Writer {
public:
    std::vector<uint8_t> bytes;
    void U8(uint8_t v) { bytes.push_back(v); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void I32(int v) { U32(static_cast<uint32_t>(v)); }
    void Str(const std::string& s) {
        U32(static_cast<uint32_t>(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool U8(uint8_t* v) {
        if (size_ - pos_ < 1) return false;
        *v = data_[pos_++];
        return true;
    }
    bool U32(uint32_t* v) {
        if (size_ - pos_ < 4) return false;
        *v = 0;
        for (int i = 0; i < 4; ++i) *v |= static_cast<uint32_t>(data_[pos_ + i]) << (8 * i);
        pos_ += 4;
        return true;
    }
    bool I32(int* v) {
        uint32_t u = 0;
        if (!U32(&u)) return false;
        *v = static_cast<int>(u);
        return true;
    }
    bool Str(std::string* s) {
        uint32_t length = 0;
        if (!U32(&length) || size_ - pos_ < length) return false;
        s->assign(reinterpret_cast<const char*>(data_ + pos_), length);
        pos_ += length;
        return true;
    }
    // A count of records that each take at least minBytes.
    bool Count(uint32_t* n, size_t minBytes) { return U32(n) && *n <= (size_ - pos_) / minBytes; }
    bool AtEnd() const { return pos_ == size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace

std::vector<uint8_t> SerializeShader(const CompiledShader& shader) {
    Writer body;
    body.U8(static_cast<uint8_t>(shader.stage));
    body.Str(shader.glsl);
    body.U32(static_cast<uint32_t>(shader.attributes.size()));
    for (const auto& a : shader.attributes) {
        body.Str(a.name);
        body.U8(static_cast<uint8_t>(a.usage));
        body.U8(a.usageIndex);
    }
    body.U32(static_cast<uint32_t>(shader.samplers.size()));
    for (const auto& s : shader.samplers) {
        body.Str(s.name);
        body.I32(s.stage);
    }
    body.Str(shader.constantBlock);
    body.U32(shader.constantBlockSize);
    body.U32(static_cast<uint32_t>(shader.constants.size()));
    for (const auto& c : shader.constants) {
        body.Str(c.name);
        body.U32(c.offset);
        body.I32(c.firstRegister);
        body.I32(c.registerCount);
    }

    Writer out;
    out.bytes.assign(kMagic, kMagic + 4);
    out.U32(static_cast<uint32_t>(kHeaderSize + body.bytes.size()));
    out.U32(kVersion);
    out.U32(Fnv1a(body.bytes.data(), body.bytes.size()));
    out.bytes.insert(out.bytes.end(), body.bytes.begin(), body.bytes.end());
    return out.bytes;
}

bool DeserializeShader(const void* bytes, CompiledShader* shader) {
    if (!bytes || !shader) return false;
    const auto* data = static_cast<const uint8_t*>(bytes);
    if (std::memcmp(data, kMagic, 4) != 0) return false;
    Reader header(data + 4, kHeaderSize - 4);
    uint32_t size = 0, version = 0, checksum = 0;
    header.U32(&size);
    header.U32(&version);
    header.U32(&checksum);
    if (size < kHeaderSize || size > kMaxSize || version != kVersion) return false;
    const uint8_t* body = data + kHeaderSize;
    const size_t bodySize = size - kHeaderSize;
    if (Fnv1a(body, bodySize) != checksum) return false;

    Reader in(body, bodySize);
    CompiledShader result;
    uint8_t stage = 0;
    if (!in.U8(&stage) || stage > static_cast<uint8_t>(ShaderStage::kPixel)) return false;
    result.stage = static_cast<ShaderStage>(stage);
    if (!in.Str(&result.glsl)) return false;

    uint32_t n = 0;
    if (!in.Count(&n, 6)) return false;
    for (uint32_t i = 0; i < n; ++i) {
        CompiledShader::Attribute a;
        uint8_t usage = 0;
        if (!in.Str(&a.name) || !in.U8(&usage) || !in.U8(&a.usageIndex)) return false;
        a.usage = static_cast<VertexUsage>(usage);
        if (a.usage != VertexUsage::kPosition && a.usage != VertexUsage::kNormal &&
            a.usage != VertexUsage::kTexCoord && a.usage != VertexUsage::kColor)
            return false;
        result.attributes.push_back(a);
    }
    if (!in.Count(&n, 8)) return false;
    for (uint32_t i = 0; i < n; ++i) {
        CompiledShader::Sampler s;
        if (!in.Str(&s.name) || !in.I32(&s.stage) || s.stage < 0 || s.stage > 15) return false;
        result.samplers.push_back(s);
    }
    if (!in.Str(&result.constantBlock) || !in.U32(&result.constantBlockSize)) return false;
    if (!in.Count(&n, 16)) return false;
    for (uint32_t i = 0; i < n; ++i) {
        CompiledShader::Constant c;
        if (!in.Str(&c.name) || !in.U32(&c.offset) || !in.I32(&c.firstRegister) || !in.I32(&c.registerCount))
            return false;
        if (c.firstRegister < 0 || c.registerCount < 1 || c.offset >= result.constantBlockSize) return false;
        result.constants.push_back(c);
    }
    if (!in.AtEnd()) return false;
    *shader = std::move(result);
    return true;
}
