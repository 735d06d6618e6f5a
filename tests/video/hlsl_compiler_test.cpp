#include "video/d3d9/hlsl_compiler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

std::string ShaderFilePath() {
    std::string here = __FILE__;  // .../tests/video/hlsl_compiler_test.cpp
    for (int i = 0; i < 3; ++i) here = here.substr(0, here.find_last_of('/'));
    return here + "/content/shaders.hlsl";
}

std::string ReadShaderFile() {
    std::ifstream file(ShaderFilePath());
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

struct Entry {
    const char* name;
    const char* profile;
};
const Entry kEntries[] = {
    {"q3_main_vs", "vs.2.0"},   {"q3_main_ps", "ps.2.0"},   {"def_main_vs", "vs.2.0"},
    {"def_main_ps", "ps.2.0"},  {"hdr_pre_ps", "ps.2.0"},   {"hdr_post_ps", "ps.2.0"},
    {"blur_post_ps", "ps.2.0"}, {"blur_hdr_post_ps", "ps.2.0"}, {"sky_main_ps", "ps.2.0"},
    {"depthoffield_ps", "ps.2.0"}, {"hdr_glow_ps", "ps.2.0"}, {"hdr_trail_ps", "ps.2.0"},
    {"hdr_trail_glow_ps", "ps.2.0"}, {"dof_blur_ps", "ps.2.0"}, {"dof_half_blur_ps", "ps.2.0"},
};

CompiledShader MustCompile(const std::string& source, const std::string& entry, const std::string& profile) {
    CompiledShader shader;
    std::string messages;
    EXPECT_TRUE(CompileHlsl(source, entry, profile, &shader, &messages)) << entry << ":\n" << messages;
    return shader;
}

// "in vec2 osp_TEXCOORD0;" lines of a stage: name -> type.
std::map<std::string, std::string> Declared(const std::string& glsl, const std::string& storage) {
    std::map<std::string, std::string> result;
    std::istringstream lines(glsl);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string first, type, name;
        words >> first >> type >> name;
        if (first == storage && !name.empty() && name.back() == ';') result[name.substr(0, name.size() - 1)] = type;
    }
    return result;
}

class ShaderFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        source_ = ReadShaderFile();
        ASSERT_FALSE(source_.empty()) << "cannot read " << ShaderFilePath();
    }
    std::string source_;
};

TEST_F(ShaderFileTest, EveryEntryPointCompilesToPlainGlsl330) {
    for (const Entry& e : kEntries) {
        const CompiledShader shader = MustCompile(source_, e.name, e.profile);
        EXPECT_EQ(shader.stage, e.profile[0] == 'v' ? ShaderStage::kVertex : ShaderStage::kPixel) << e.name;
        EXPECT_EQ(shader.glsl.rfind("#version 330\n", 0), 0u) << e.name;
        // Nothing a GL 3.3 core driver cannot take.
        EXPECT_EQ(shader.glsl.find("#extension"), std::string::npos) << e.name << shader.glsl;
        EXPECT_EQ(shader.glsl.find("binding"), std::string::npos) << e.name;
        EXPECT_EQ(shader.glsl.find("offset"), std::string::npos) << e.name;
        if (shader.stage == ShaderStage::kVertex) {
            EXPECT_NE(shader.glsl.find("gl_Position ="), std::string::npos) << e.name;
        } else {
            EXPECT_NE(shader.glsl.find("layout(location = 0) out vec4 osp_target0;"), std::string::npos) << e.name;
        }
    }
}

TEST_F(ShaderFileTest, WorldVertexShaderReadsTheEngineVertexC0ToC3AndTheLightScaleInC4) {
    const CompiledShader vs = MustCompile(source_, "q3_main_vs", "vs.2.0");
    std::set<std::pair<VertexUsage, int>> usages;
    std::set<std::string> names;
    for (const auto& a : vs.attributes) {
        usages.insert({a.usage, a.usageIndex});
        names.insert(a.name);
        EXPECT_NE(vs.glsl.find("in vec"), std::string::npos);
        EXPECT_EQ(Declared(vs.glsl, "in").count(a.name), 1u) << a.name;
    }
    const std::set<std::pair<VertexUsage, int>> expected = {
        {VertexUsage::kPosition, 0}, {VertexUsage::kNormal, 0}, {VertexUsage::kColor, 0},
        {VertexUsage::kTexCoord, 0}, {VertexUsage::kTexCoord, 1}};
    EXPECT_EQ(usages, expected);
    EXPECT_EQ(names.size(), vs.attributes.size());

    EXPECT_FALSE(vs.constantBlock.empty());
    EXPECT_NE(vs.glsl.find("uniform " + vs.constantBlock), std::string::npos);
    ASSERT_EQ(vs.constants.size(), 2u);
    const auto byRegister = [&](int first) {
        for (const auto& c : vs.constants) {
            if (c.firstRegister == first) return &c;
        }
        return static_cast<decltype(&vs.constants[0])>(nullptr);
    };
    ASSERT_NE(byRegister(0), nullptr);
    EXPECT_EQ(byRegister(0)->registerCount, 4);
    EXPECT_EQ(byRegister(0)->offset, 0u);
    ASSERT_NE(byRegister(4), nullptr);
    EXPECT_EQ(byRegister(4)->registerCount, 1);
    EXPECT_EQ(byRegister(4)->offset, 64u);
    EXPECT_EQ(vs.constantBlockSize, 80u);
    EXPECT_TRUE(vs.samplers.empty());
}

TEST_F(ShaderFileTest, SamplersSitOnTheirTextureStages) {
    const std::map<std::string, std::set<int>> expected = {
        {"q3_main_ps", {0, 1}},          {"hdr_pre_ps", {0, 1}},   {"sky_main_ps", {0}},
        {"def_main_ps", {0}},            {"hdr_post_ps", {0, 1}},  {"blur_post_ps", {0, 1, 2, 3, 4, 5, 6, 7}},
        {"blur_hdr_post_ps", {0, 1}},    {"depthoffield_ps", {0, 1, 2, 3}}, {"hdr_glow_ps", {1}},
        {"hdr_trail_ps", {1, 2, 3, 4, 5, 6, 7}}, {"hdr_trail_glow_ps", {1}}, {"dof_blur_ps", {0}},
        {"dof_half_blur_ps", {0}}};
    for (const auto& [entry, stages] : expected) {
        const CompiledShader ps = MustCompile(source_, entry, "ps.2.0");
        std::set<int> got;
        for (const auto& s : ps.samplers) {
            got.insert(s.stage);
            EXPECT_NE(ps.glsl.find("uniform sampler2D " + s.name + ";"), std::string::npos) << entry << " " << s.name;
        }
        EXPECT_EQ(got, stages) << entry;
        EXPECT_EQ(got.size(), ps.samplers.size()) << entry;
    }
}

// ps_2_0 allows 32 texture reads; the engine's pixel shaders run once per
// screen pixel on a software rasteriser, so a loop or trigonometry that
// survives compilation costs every pixel, as does each read.
TEST_F(ShaderFileTest, PixelShadersStayWithinTheirProfileAndCompileToStraightCode) {
    const std::map<std::string, int> maxReads = {
        {"hdr_post_ps", 2}, {"blur_hdr_post_ps", 2}, {"hdr_glow_ps", 17}, {"hdr_trail_ps", 7},
        {"hdr_trail_glow_ps", 5}, {"blur_post_ps", 8}, {"depthoffield_ps", 5}, {"dof_blur_ps", 17},
        {"dof_half_blur_ps", 17}};
    for (const Entry& e : kEntries) {
        if (e.profile[0] != 'p') continue;
        const std::string glsl = MustCompile(source_, e.name, e.profile).glsl;
        int reads = 0;
        for (size_t at = glsl.find("texture("); at != std::string::npos; at = glsl.find("texture(", at + 1)) ++reads;
        EXPECT_LE(reads, 32) << e.name;
        const auto it = maxReads.find(e.name);
        if (it != maxReads.end()) {
            EXPECT_LE(reads, it->second) << e.name;
        }
        for (const char* word : {"for (", "while (", "sin(", "cos("}) {
            EXPECT_EQ(glsl.find(word), std::string::npos) << e.name << " keeps " << word << "\n" << glsl;
        }
    }
}

TEST_F(ShaderFileTest, EveryVertexShaderFeedsEveryPixelShader) {
    for (const char* vsName : {"q3_main_vs", "def_main_vs"}) {
        const auto outputs = Declared(MustCompile(source_, vsName, "vs.2.0").glsl, "out");
        for (const Entry& e : kEntries) {
            if (e.profile[0] != 'p') continue;
            for (const auto& [name, type] : Declared(MustCompile(source_, e.name, e.profile).glsl, "in")) {
                ASSERT_EQ(outputs.count(name), 1u) << vsName << " lacks " << name << " for " << e.name;
                EXPECT_EQ(outputs.at(name), type) << name;
            }
        }
    }
}

TEST_F(ShaderFileTest, MissingEntryPointFailsOnlyThatEntry) {
    std::string source = source_;
    const size_t at = source.find("sky_main_ps(");
    ASSERT_NE(at, std::string::npos);
    source.replace(at, 11, "sky_unused_ps");
    std::string messages;
    CompiledShader shader;
    EXPECT_FALSE(CompileHlsl(source, "sky_main_ps", "ps.2.0", &shader, &messages));
    EXPECT_NE(messages.find("Entry point not found"), std::string::npos) << messages;
    EXPECT_NE(messages.find("sky_main_ps"), std::string::npos) << messages;
    for (const Entry& e : kEntries) {
        if (std::string(e.name) != "sky_main_ps") MustCompile(source, e.name, e.profile);
    }
}

TEST(HlslCompilerTest, BadInputFailsWithTheCompilersMessage) {
    std::string messages;
    CompiledShader shader;
    shader.glsl = "untouched";
    EXPECT_FALSE(CompileHlsl("float4 ps(float2 uv : TEXCOORD0) : COLOR0 { return uv.xyxy +; }", "ps", "ps_2_0",
                             &shader, &messages));
    EXPECT_NE(messages.find("ERROR: 0:1:"), std::string::npos) << messages;
    EXPECT_EQ(shader.glsl, "untouched");

    EXPECT_FALSE(CompileHlsl("float4 ps() : COLOR0 { return 1; }", "ps", "gs_4_0", &shader, &messages));
    EXPECT_NE(messages.find("gs_4_0"), std::string::npos) << messages;

    EXPECT_FALSE(CompileHlsl("}}}{{(;", "main", "vs_2_0", &shader, &messages));
    EXPECT_FALSE(messages.empty());
    EXPECT_FALSE(CompileHlsl(std::string("\x01\xff\x80\0garbage", 12), "main", "ps.2.0", &shader, &messages));
    EXPECT_FALSE(messages.empty());
}

TEST(HlslCompilerTest, ProfilesPickTheStage) {
    const std::string source =
        "float4 vs(float3 p : POSITION) : POSITION { return float4(p, 1); }\n"
        "float4 ps() : COLOR { return 1; }\n";
    for (const char* profile : {"vs.2.0", "vs_2_0", "vs_3_0"}) {
        EXPECT_EQ(MustCompile(source, "vs", profile).stage, ShaderStage::kVertex) << profile;
    }
    for (const char* profile : {"ps.2.0", "ps_2_0"}) {
        EXPECT_EQ(MustCompile(source, "ps", profile).stage, ShaderStage::kPixel) << profile;
    }
}

TEST(HlslCompilerTest, PositionAndSvPositionBothBecomeGlPosition) {
    for (const char* semantic : {"POSITION", "POSITION0", "SV_Position"}) {
        const std::string source = std::string("struct O { float4 p : ") + semantic +
                                   "; float2 t : TEXCOORD; };\n"
                                   "O vs(float3 p : POSITION, float2 t : TEXCOORD0) { O o; o.p = float4(p, 1); "
                                   "o.t = t; return o; }\n";
        const CompiledShader vs = MustCompile(source, "vs", "vs_2_0");
        EXPECT_NE(vs.glsl.find("gl_Position = vec4(osp_attr_POSITION0, 1.0);"), std::string::npos) << vs.glsl;
        // TEXCOORD without an index is TEXCOORD0.
        EXPECT_EQ(Declared(vs.glsl, "out"), (std::map<std::string, std::string>{{"osp_TEXCOORD0", "vec2"}}));
    }
}

TEST(HlslCompilerTest, ConstantRegistersFollowDirect3D9Allocation) {
    const std::string source =
        "float4 early;\n"
        "float4 tint : register(c5);\n"
        "column_major float4x4 columns;\n"
        "float scale;\n"
        "float4 arr[2] : register(c9);\n"
        "float4 late;\n"
        "float4 ps() : COLOR0 { return tint * scale + early + mul(late, columns) + arr[1]; }\n";
    const CompiledShader ps = MustCompile(source, "ps", "ps_2_0");
    EXPECT_EQ(ps.constantBlock.empty(), false);
    std::map<std::string, CompiledShader::Constant> byName;
    for (const auto& c : ps.constants) byName[c.name] = c;
    // Annotated ones where they say; the rest after c10 in declaration order.
    const std::map<std::string, std::pair<int, int>> expected = {
        {"tint", {5, 1}}, {"arr", {9, 2}}, {"early", {11, 1}}, {"columns", {12, 4}}, {"scale", {16, 1}},
        {"late", {17, 1}}};
    ASSERT_EQ(byName.size(), expected.size());
    for (const auto& [name, reg] : expected) {
        EXPECT_EQ(byName[name].firstRegister, reg.first) << name;
        EXPECT_EQ(byName[name].registerCount, reg.second) << name;
        EXPECT_EQ(byName[name].offset, 16u * reg.first) << name;
    }
    EXPECT_EQ(ps.constantBlockSize, 18u * 16u);
    EXPECT_EQ(ps.glsl.find("#extension"), std::string::npos) << ps.glsl;
}

TEST(HlslCompilerTest, UnannotatedSamplersTakeFreeStagesInDeclarationOrder) {
    const std::string source =
        "sampler2D first;\n"
        "sampler2D fixedOne : register(s0);\n"
        "sampler2D second;\n"
        "float4 ps(float2 uv : TEXCOORD0) : COLOR0 {\n"
        "  return tex2D(first, uv) + tex2D(fixedOne, uv) + tex2D(second, uv); }\n";
    const CompiledShader ps = MustCompile(source, "ps", "ps_2_0");
    std::set<int> stages;
    for (const auto& s : ps.samplers) stages.insert(s.stage);
    EXPECT_EQ(stages, (std::set<int>{0, 1, 2}));
    // first -> s1, second -> s2: the GLSL samples s1 before s0 before s2.
    const size_t s1 = ps.glsl.find("texture(osp_ps_s1");
    const size_t s0 = ps.glsl.find("texture(osp_ps_s0");
    const size_t s2 = ps.glsl.find("texture(osp_ps_s2");
    ASSERT_NE(s1, std::string::npos);
    EXPECT_LT(s1, s0);
    EXPECT_LT(s0, s2);
}

TEST(HlslCompilerTest, VertexInputsTheLayoutCannotFeedAreErrors) {
    std::string messages;
    CompiledShader shader;
    EXPECT_FALSE(CompileHlsl("float4 vs(float4 w : BLENDWEIGHT0) : POSITION { return w; }", "vs", "vs_2_0",
                             &shader, &messages));
    EXPECT_NE(messages.find("BLENDWEIGHT0"), std::string::npos) << messages;
}

// ---------------------------------------------------------------------------
// Byte form

CompiledShader SampleShader() {
    CompiledShader s;
    s.stage = ShaderStage::kVertex;
    s.glsl = "#version 330\nvoid main() {}\n";
    s.attributes = {{"osp_attr_POSITION0", VertexUsage::kPosition, 0}, {"osp_attr_TEXCOORD1", VertexUsage::kTexCoord, 1}};
    s.samplers = {{"osp_vs_s3", 3}};
    s.constantBlock = "VertexConstants";
    s.constantBlockSize = 80;
    s.constants = {{"m", 0, 0, 4}, {"v", 64, 4, 1}};
    return s;
}

TEST(HlslSerializeTest, RoundTripKeepsEverything) {
    const CompiledShader in = SampleShader();
    const std::vector<uint8_t> bytes = SerializeShader(in);
    CompiledShader out;
    ASSERT_TRUE(DeserializeShader(bytes.data(), &out));
    EXPECT_EQ(out.stage, in.stage);
    EXPECT_EQ(out.glsl, in.glsl);
    ASSERT_EQ(out.attributes.size(), 2u);
    EXPECT_EQ(out.attributes[1].name, "osp_attr_TEXCOORD1");
    EXPECT_EQ(out.attributes[1].usage, VertexUsage::kTexCoord);
    EXPECT_EQ(out.attributes[1].usageIndex, 1);
    ASSERT_EQ(out.samplers.size(), 1u);
    EXPECT_EQ(out.samplers[0].name, "osp_vs_s3");
    EXPECT_EQ(out.samplers[0].stage, 3);
    EXPECT_EQ(out.constantBlock, "VertexConstants");
    EXPECT_EQ(out.constantBlockSize, 80u);
    ASSERT_EQ(out.constants.size(), 2u);
    EXPECT_EQ(out.constants[1].name, "v");
    EXPECT_EQ(out.constants[1].offset, 64u);
    EXPECT_EQ(out.constants[1].firstRegister, 4);
    EXPECT_EQ(out.constants[0].registerCount, 4);

    // A real compiled shader survives too.
    const CompiledShader real = MustCompile(ReadShaderFile(), "blur_post_ps", "ps.2.0");
    const std::vector<uint8_t> realBytes = SerializeShader(real);
    ASSERT_TRUE(DeserializeShader(realBytes.data(), &out));
    EXPECT_EQ(out.glsl, real.glsl);
    EXPECT_EQ(out.samplers.size(), 8u);
}

TEST(HlslSerializeTest, RejectsTruncatedAndCorruptedBytes) {
    const std::vector<uint8_t> good = SerializeShader(SampleShader());
    CompiledShader out;
    out.glsl = "untouched";

    // Every single flipped byte, header included except the size field
    // (a larger size would make the reader run off this buffer).
    for (size_t i = 0; i < good.size(); ++i) {
        if (i >= 4 && i < 8) continue;
        std::vector<uint8_t> bad = good;
        bad[i] ^= 0x5A;
        EXPECT_FALSE(DeserializeShader(bad.data(), &out)) << "byte " << i;
    }
    // A size that cuts the record short.
    for (uint32_t size : {0u, 8u, 16u, 17u, static_cast<uint32_t>(good.size() - 1)}) {
        std::vector<uint8_t> bad = good;
        for (int b = 0; b < 4; ++b) bad[4 + b] = static_cast<uint8_t>(size >> (8 * b));
        EXPECT_FALSE(DeserializeShader(bad.data(), &out)) << "size " << size;
    }
    // Truncated bytes followed by zeros.
    for (size_t keep : {size_t{3}, size_t{16}, good.size() / 2, good.size() - 4}) {
        std::vector<uint8_t> bad(good.begin(), good.begin() + keep);
        bad.resize(good.size() + 16, 0);
        EXPECT_FALSE(DeserializeShader(bad.data(), &out)) << "kept " << keep;
    }
    // Garbage that starts like the real thing.
    std::vector<uint8_t> garbage(256);
    uint32_t seed = 12345;
    for (uint8_t& b : garbage) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    std::copy(good.begin(), good.begin() + 4, garbage.begin());
    for (int b = 0; b < 4; ++b) garbage[4 + b] = static_cast<uint8_t>(256u >> (8 * b));
    for (int b = 0; b < 4; ++b) garbage[8 + b] = good[8 + b];  // the version
    EXPECT_FALSE(DeserializeShader(garbage.data(), &out));

    // A checksum that matches a body whose GLSL length runs past the end.
    std::vector<uint8_t> overrun = good;
    overrun[17] = 0xFF;
    overrun[18] = 0xFF;
    uint32_t hash = 2166136261u;
    for (size_t i = 16; i < overrun.size(); ++i) hash = (hash ^ overrun[i]) * 16777619u;
    for (int b = 0; b < 4; ++b) overrun[12 + b] = static_cast<uint8_t>(hash >> (8 * b));
    EXPECT_FALSE(DeserializeShader(overrun.data(), &out));
    EXPECT_FALSE(DeserializeShader(nullptr, &out));
    EXPECT_EQ(out.glsl, "untouched");
}

}  // namespace
