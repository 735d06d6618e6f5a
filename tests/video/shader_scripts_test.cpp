// The shader script reader: what it keeps from the stock grammar, which
// definition the table keeps, and that hostile scripts cost one problem line
// and only the shader they break.
#include "video/shader_scripts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct Read {
    ShaderTable table;
    std::vector<std::string> problems;
    int added = 0;
};

// The text is copied into a buffer of exactly its size, so the address
// sanitizer catches any read past the end.
void AddExact(Read* read, const std::string& text, const char* file = "scripts/t.shader") {
    std::vector<char> exact(text.begin(), text.end());
    read->added += read->table.AddScript(file, exact.data(), exact.size(), &read->problems);
}

Read ReadScript(const std::string& text) {
    Read read;
    AddExact(&read, text);
    return read;
}

TEST(ShaderScriptGrammar, KeepsWhatTheRendererUses) {
    const Read read = ReadScript(
        "// header comment { not a brace\n"
        "textures\\cosmo_block\\Sand02\r\n{\r\n"
        "\tQER_EditorImage textures/proto2/concrete01dark.jpg // trailing note\r\n"
        "\tSURFACEPARM NoDraw\n\tsurfaceparm sky\n\tskyParms env/space1 512 -\n"
        "\t/* a comment over\n\t   two lines */\n"
        "\t{\r\t\tMap $LIGHTMAP \r\t\tblendfunc filter\r\t}\n"
        "\t{ clampMap textures/a\\clamp.tga\n blendFunc GL_DST_COLOR GL_ZERO }\n"
        "\t{\n\t\tanimMap 8 textures/a/f1.tga textures/a/f2.tga\n\t\tblendFunc add\n\t}\n"
        "}\n"
        "\"team icon/with space\"{ {\tmap *white}}\n");
    ASSERT_EQ(read.problems, std::vector<std::string>{});
    ASSERT_EQ(read.added, 2);
    const ShaderDefinition* sand = read.table.Find("textures/cosmo_block/sand02");
    ASSERT_NE(sand, nullptr);
    EXPECT_EQ(sand->name, "textures/cosmo_block/Sand02");
    EXPECT_EQ(sand->editorImage, "textures/proto2/concrete01dark.jpg");
    EXPECT_TRUE(sand->nodraw && sand->sky);
    EXPECT_FALSE(sand->fog || sand->portal);
    EXPECT_EQ(sand->skyBox, "env/space1");
    EXPECT_EQ(sand->sourceFile, "scripts/t.shader");
    EXPECT_EQ(sand->sourceLine, 2);
    ASSERT_EQ(sand->stages.size(), 3u);
    EXPECT_TRUE(sand->stages[0].isLightmap);
    EXPECT_EQ(sand->stages[0].blend, BlendKind::kOther);
    EXPECT_EQ(sand->stages[1].map, "textures/a/clamp.tga");
    EXPECT_EQ(sand->stages[1].blend, BlendKind::kOther);
    EXPECT_EQ(sand->stages[2].map, "textures/a/f1.tga");
    EXPECT_EQ(sand->stages[2].blend, BlendKind::kAdditive);
    const ShaderDefinition* icon = read.table.Find("TEAM ICON/with space");
    ASSERT_NE(icon, nullptr);
    ASSERT_EQ(icon->stages.size(), 1u);
    EXPECT_TRUE(icon->stages[0].isWhiteImage);
}

TEST(ShaderScriptGrammar, ArgumentsEndWithTheirLine) {
    const Read read = ReadScript(
        "a/1 {\n surfaceparm\n nodraw\n qer_editorimage e.tga extra.tga\n skyparms - 512 -\n fogParms ( 1 1 1 ) 64\n"
        " portal\n { map\n x.tga\n }\n { map x.tga y.tga\n } }\n");
    // The words left on lines of their own are keywords it does not know.
    ASSERT_EQ(read.problems, std::vector<std::string>{"scripts/t.shader:3: shader 'a/1' has unknown keywords, "
                                                      "skipped: 'nodraw' (and 1 more)"});
    const ShaderDefinition* a = read.table.Find("a/1");
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->nodraw);
    EXPECT_EQ(a->editorImage, "e.tga");
    EXPECT_EQ(a->skyBox, "");
    EXPECT_TRUE(a->fog && a->portal);
    EXPECT_EQ(a->fogOpaqueDistance, 64.0f);
    ASSERT_EQ(a->stages.size(), 2u);
    EXPECT_EQ(a->stages[0].map, "");
    EXPECT_EQ(a->stages[1].map, "x.tga");
}

TEST(ShaderScriptGrammar, BlendFuncForms) {
    const std::pair<const char*, BlendKind> cases[] = {
        {"", BlendKind::kOpaque},           {"blendFunc add", BlendKind::kAdditive},
        {"BLENDFUNC Add", BlendKind::kAdditive}, {"blendfunc GL_ONE GL_ONE", BlendKind::kAdditive},
        {"blendFunc gl_one Gl_One", BlendKind::kAdditive}, {"blendFunc filter", BlendKind::kOther},
        {"blendFunc blend", BlendKind::kOther}, {"blendFunc GL_DST_COLOR GL_ZERO", BlendKind::kOther},
        {"blendFunc GL_ONE GL_ZERO", BlendKind::kOpaque},
        {"blendFunc GL_ONE GL_ONE_MINUS_SRC_ALPHA", BlendKind::kOther},
    };
    for (const auto& [line, blend] : cases) {
        const Read read = ReadScript(std::string("s/1\n{\n{\nmap $lightmap\n}\n{\nmap a.tga\n") + line + "\n}\n}\n");
        ASSERT_NE(read.table.Find("s/1"), nullptr) << line;
        EXPECT_EQ(FirstDrawnStageBlend(*read.table.Find("s/1")), blend) << line;
    }
}

TEST(ShaderScriptGrammar, SkyParmsKeepBoxCloudHeightAndNearBox) {
    const Read read = ReadScript(
        "textures/skies/clouds\n{\n\tsurfaceparm sky\n\tskyParms - 512 -\n}\n"
        "textures/skies/full\n{\n\tskyparms full 700 env/near\\box\n}\n"
        "textures/skies/nocloud\n{\n\tskyParms env/desert/desert - - //farbox cloudheight nearbox\n}\n"
        "textures/skies/bad\n{\n\tskyParms env/a -40 -\n}\n"
        "textures/skies/word\n{\n\tskyParms env/b high\n}\n"
        "textures/skies/none\n{\n\tsurfaceparm sky\n}\n");
    ASSERT_EQ(read.problems, std::vector<std::string>{});
    const ShaderDefinition* clouds = read.table.Find("textures/skies/clouds");
    ASSERT_NE(clouds, nullptr);
    EXPECT_TRUE(clouds->skyParms);
    EXPECT_EQ(clouds->skyBox, "");
    EXPECT_EQ(clouds->cloudHeight, 512.0f);
    EXPECT_EQ(clouds->skyNearBox, "");
    const ShaderDefinition* full = read.table.Find("textures/skies/full");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->skyBox, "full");
    EXPECT_EQ(full->cloudHeight, 700.0f);
    EXPECT_EQ(full->skyNearBox, "env/near/box");
    // "-", a negative height and a word all leave the default height.
    for (const char* name : {"textures/skies/nocloud", "textures/skies/bad", "textures/skies/word"}) {
        const ShaderDefinition* shader = read.table.Find(name);
        ASSERT_NE(shader, nullptr) << name;
        EXPECT_TRUE(shader->skyParms) << name;
        EXPECT_EQ(shader->cloudHeight, 128.0f) << name;
        EXPECT_EQ(shader->skyNearBox, "") << name;
    }
    EXPECT_EQ(read.table.Find("textures/skies/nocloud")->skyBox, "env/desert/desert");
    EXPECT_FALSE(read.table.Find("textures/skies/none")->skyParms);
}

TEST(ShaderScriptGrammar, StageBlendFactorsMotionAndColour) {
    const Read read = ReadScript(
        "textures/skies/layers\n{\n\tskyParms - 512 -\n"
        "\t{ map textures/skies/a.tga\n tcMod scale 3 2\n tcMod scroll 0.05 -.03\n }\n"
        "\t{ map textures/skies/b.tga\n blendFunc filter\n rgbGen identityLighting\n }\n"
        "\t{ map textures/skies/c.tga\n blendFunc add\n rgbGen const ( 0.5 0.25 2 )\n alphaGen const 0.3\n }\n"
        "\t{ map textures/skies/d.tga\n blendFunc blend\n rgbGen const (1 0 0)\n tcMod turb 0 .1 0 1\n"
        "\t  tcMod rotate 30\n tcMod scroll x 2\n }\n"
        "\t{ map textures/skies/e.tga\n blendFunc GL_ONE_MINUS_DST_COLOR gl_src_alpha\n rgbGen const ( 1 x 1 )\n"
        "\t  tcMod scale 1 1\n tcMod scale 2 2\n tcMod scale 3 3\n tcMod scale 4 4\n tcMod scale 5 5\n }\n"
        "\t{ map textures/skies/f.tga\n blendFunc GL_ONE GL_BOGUS\n alphaGen const\n }\n"
        "}\n");
    ASSERT_EQ(read.problems, std::vector<std::string>{});
    const ShaderDefinition* shader = read.table.Find("textures/skies/layers");
    ASSERT_NE(shader, nullptr);
    ASSERT_EQ(shader->stages.size(), 6u);
    const ShaderScriptStage& a = shader->stages[0];
    EXPECT_EQ(a.sourceFactor, BlendFactor::kOne);
    EXPECT_EQ(a.destinationFactor, BlendFactor::kZero);
    ASSERT_EQ(a.motionCount, 2);
    EXPECT_EQ(a.motions[0].kind, TexCoordMotion::Kind::kScale);
    EXPECT_EQ(a.motions[0].s, 3.0f);
    EXPECT_EQ(a.motions[0].t, 2.0f);
    EXPECT_EQ(a.motions[1].kind, TexCoordMotion::Kind::kScroll);
    EXPECT_FLOAT_EQ(a.motions[1].s, 0.05f);
    EXPECT_FLOAT_EQ(a.motions[1].t, -0.03f);
    const ShaderScriptStage& b = shader->stages[1];
    EXPECT_EQ(b.sourceFactor, BlendFactor::kDestinationColor);
    EXPECT_EQ(b.destinationFactor, BlendFactor::kZero);
    EXPECT_EQ(b.colour[0], 1.0f);
    const ShaderScriptStage& c = shader->stages[2];
    EXPECT_EQ(c.sourceFactor, BlendFactor::kOne);
    EXPECT_EQ(c.destinationFactor, BlendFactor::kOne);
    EXPECT_EQ(c.colour[0], 0.5f);
    EXPECT_EQ(c.colour[1], 0.25f);
    EXPECT_EQ(c.colour[2], 1.0f);  // kept to one
    EXPECT_FLOAT_EQ(c.alpha, 0.3f);
    // Turbulence without a form is a sine; a scroll that is not a number
    // scrolls by nothing on that axis.
    const ShaderScriptStage& d = shader->stages[3];
    EXPECT_EQ(d.sourceFactor, BlendFactor::kSourceAlpha);
    EXPECT_EQ(d.destinationFactor, BlendFactor::kOneMinusSourceAlpha);
    EXPECT_EQ(d.colour[0], 1.0f);
    EXPECT_EQ(d.colour[1], 0.0f);
    ASSERT_EQ(d.motionCount, 3);
    EXPECT_EQ(d.motions[0].kind, TexCoordMotion::Kind::kTurb);
    EXPECT_EQ(d.motions[0].wave.form, WaveForm::kSin);
    EXPECT_FLOAT_EQ(d.motions[0].wave.amplitude, 0.1f);
    EXPECT_EQ(d.motions[0].wave.frequency, 1.0f);
    EXPECT_EQ(d.motions[1].kind, TexCoordMotion::Kind::kRotate);
    EXPECT_EQ(d.motions[1].s, 30.0f);
    EXPECT_EQ(d.motions[2].kind, TexCoordMotion::Kind::kScroll);
    EXPECT_EQ(d.motions[2].s, 0.0f);
    EXPECT_EQ(d.motions[2].t, 2.0f);
    // A colour that is not three numbers leaves white; more motions than a
    // stage keeps are dropped.
    const ShaderScriptStage& e = shader->stages[4];
    EXPECT_EQ(e.sourceFactor, BlendFactor::kOneMinusDestinationColor);
    EXPECT_EQ(e.destinationFactor, BlendFactor::kSourceAlpha);
    EXPECT_EQ(e.colour[1], 1.0f);
    EXPECT_EQ(e.motionCount, ShaderScriptStage::kMaxMotions);
    EXPECT_EQ(e.motions[ShaderScriptStage::kMaxMotions - 1].s, 4.0f);
    // An unknown factor leaves the stage unblended; alphaGen without a value
    // leaves it opaque.
    const ShaderScriptStage& f = shader->stages[5];
    EXPECT_EQ(f.sourceFactor, BlendFactor::kOne);
    EXPECT_EQ(f.destinationFactor, BlendFactor::kZero);
    EXPECT_EQ(f.alpha, 1.0f);
}

TEST(ShaderScriptHostile, StagesPastTheCapAreReadAndNotKept) {
    constexpr int kKept = 64;  // the reader's cap
    std::string text = "textures/many/stages\n{\n";
    for (int i = 0; i < kKept + 40; ++i) {
        text += "\t{ map textures/many/s" + std::to_string(i) + ".tga\n blendFunc add\n }\n";
    }
    text += "\tsurfaceparm sky\n}\nlater/shader\n{\n}\n";
    const Read read = ReadScript(text);
    EXPECT_EQ(read.problems, std::vector<std::string>{});
    EXPECT_EQ(read.added, 2);
    const ShaderDefinition* many = read.table.Find("textures/many/stages");
    ASSERT_NE(many, nullptr);
    ASSERT_EQ(many->stages.size(), static_cast<size_t>(kKept));
    EXPECT_EQ(many->stages.back().map, "textures/many/s" + std::to_string(kKept - 1) + ".tga");
    EXPECT_TRUE(many->sky);  // what follows the dropped stages is still read
}

TEST(ShaderScriptGrammar, VertexLightIsAskedForByRgbGenVertexForms) {
    const std::pair<const char*, bool> cases[] = {
        {"", false},
        {"rgbGen vertex", true},
        {"RGBGEN ExactVertex", true},
        {"rgbgen oneMinusVertex", true},
        {"rgbGen identity", false},
        {"rgbGen identityLighting", false},
        {"rgbGen wave sin 0 1 0 1", false},
        {"rgbGen lightingDiffuse", false},
        {"rgbGen", false},
        {"rgbGen vertexes", false},
        {"map vertex", false},
    };
    for (const auto& [line, vertex] : cases) {
        const Read read = ReadScript(std::string("s/1\n{\n{\nmap a.tga\n") + line + "\n}\n}\n");
        ASSERT_NE(read.table.Find("s/1"), nullptr) << line;
        EXPECT_EQ(AsksForVertexLight(*read.table.Find("s/1")), vertex) << line;
    }
    // Any stage asks, not only the first; a later rgbGen of the same stage
    // is the one that counts.
    const Read read = ReadScript(
        "two/1 { { map a.tga } { map $lightmap\n rgbGen exactVertex } }\n"
        "redone/1 { { map a.tga\n rgbGen vertex\n rgbGen identity } }\n"
        "none/1 { surfaceparm nodraw\n }\n");
    ASSERT_TRUE(read.table.Find("two/1") && read.table.Find("redone/1") && read.table.Find("none/1"));
    EXPECT_TRUE(AsksForVertexLight(*read.table.Find("two/1")));
    EXPECT_FALSE(AsksForVertexLight(*read.table.Find("redone/1")));
    EXPECT_FALSE(AsksForVertexLight(*read.table.Find("none/1")));
}

TEST(ShaderScriptGrammar, CullChoosesTheSidesDrawn) {
    const std::pair<const char*, FaceSides> cases[] = {
        {"", FaceSides::kFront},                {"cull front", FaceSides::kFront},
        {"cull back", FaceSides::kBack},        {"CULL Back", FaceSides::kBack},
        {"cull none", FaceSides::kBoth},        {"cull disable", FaceSides::kBoth},
        {"cull twosided", FaceSides::kBoth},    {"Cull TwoSided", FaceSides::kBoth},
        {"cull", FaceSides::kFront},            {"cull sideways", FaceSides::kFront},
        {"cull none\ncull back", FaceSides::kBack},
    };
    for (const auto& [line, sides] : cases) {
        std::string text = std::string("s/1\n{\n") + line + "\n{\nmap a.tga\n}\n}\ns/2\n{\n{\nmap b.tga\n}\n}\n";
        const Read read = ReadScript(text);
        ASSERT_NE(read.table.Find("s/1"), nullptr) << line;
        EXPECT_EQ(read.table.Find("s/1")->sides, sides) << line;
        // It is the shader's own: the next one draws its front.
        ASSERT_NE(read.table.Find("s/2"), nullptr) << line;
        EXPECT_EQ(read.table.Find("s/2")->sides, FaceSides::kFront) << line;
        EXPECT_TRUE(read.problems.empty()) << line;
    }
    // Inside a stage it is not the shader's.
    const Read staged = ReadScript("s/1\n{\n{\nmap a.tga\ncull none\n}\n}\n");
    ASSERT_NE(staged.table.Find("s/1"), nullptr);
    EXPECT_EQ(staged.table.Find("s/1")->sides, FaceSides::kFront);
}

TEST(ShaderScriptGrammar, ImageSkipsLightmapAndWhiteAndFallsBack) {
    const Read read = ReadScript(
        "lit/1 { { map $lightmap } { map $whiteimage\n blendfunc add } { map b.tga\n } }\n"
        "editor/1 { qer_editorimage e.jpg\n { map $lightmap } }\n"
        "bare/1 { surfaceparm nodraw\n }\n");
    const ShaderDefinition* lit = read.table.Find("lit/1");
    const ShaderDefinition* editor = read.table.Find("editor/1");
    const ShaderDefinition* bare = read.table.Find("bare/1");
    ASSERT_TRUE(lit && editor && bare);
    EXPECT_EQ(ShaderImage(*lit), "b.tga");
    EXPECT_EQ(FirstDrawnStageBlend(*lit), BlendKind::kAdditive);  // the white stage draws
    EXPECT_EQ(ShaderImage(*editor), "e.jpg");
    EXPECT_EQ(FirstDrawnStageBlend(*editor), BlendKind::kOpaque);
    EXPECT_EQ(ShaderImage(*bare), "");
}

TEST(ShaderTableLookup, FirstDefinitionWinsAndNamesMatchLoosely) {
    Read read;
    AddExact(&read, "Textures/Base/Wall { qer_editorimage first.tga\n}\nTEXTURES/BASE/WALL { qer_editorimage x.tga\n}");
    AddExact(&read, "textures\\base\\wall { qer_editorimage later.tga\n }\ntextures/base/new { }", "scripts/b.shader");
    EXPECT_EQ(read.added, 2);
    EXPECT_EQ(read.table.Size(), 2u);
    for (const char* name :
         {"textures/base/wall", "TEXTURES\\BASE\\WALL", "textures/base/wall.tga", "textures/base/wall.JPG"}) {
        const ShaderDefinition* found = read.table.Find(name);
        ASSERT_NE(found, nullptr) << name;
        EXPECT_EQ(found->editorImage, "first.tga");
    }
    EXPECT_EQ(read.table.Find("textures/base"), nullptr);
    EXPECT_EQ(read.table.Find("textures/base/wall.bsp"), nullptr);
    read.table.Clear();
    EXPECT_EQ(read.table.Find("textures/base/wall"), nullptr);
}

struct HostileCase {
    const char* what;
    std::string text;
    int problemLine;  // the line the one problem must name
    std::vector<const char*> kept;
    std::vector<const char*> dropped;
};

TEST(ShaderScriptHostile, OneProblemPerFaultAndLaterShadersSurvive) {
    const std::string good = "good/1 { { map g.tga } }\n";
    const std::string nul(1, '\0');
    const std::string binary("\x01\x02\0\x7f\x03\x04\x05", 7);
    const HostileCase cases[] = {
        {"extra '}'", "a/1 {\n}\n}\n}\n" + good, 3, {"a/1", "good/1"}, {}},
        {"missing shader '}'", "a/1 {\n{\nmap x\n}\n" + good, 1, {"good/1"}, {"a/1"}},
        {"missing stage '}'", "a/1 {\n{\nmap x\n{\nmap y\n}\n}\n" + good, 4, {"good/1"}, {"a/1"}},
        {"missing '}' at the end", good + "a/1 {\n{ map x }\n", 2, {"good/1"}, {"a/1"}},
        {"three levels", "a/1 {\n{\n{ map x }\n}\n}\n" + good, 3, {"good/1"}, {"a/1"}},
        {"quote in a stage", "a/1 {\n{\nmap \"x.tga\n}\n}\n" + good, 3, {"good/1"}, {"a/1"}},
        {"quote in a name", "\"a/1\n{\n}\n" + good, 1, {"good/1"}, {"a/1"}},
        {"body without name", "\n{\nmap x\n}\n" + good, 2, {"good/1"}, {"map"}},
        {"name without '{'", "a/1\nnopicmip\n{\nmap x\n}\n}\n" + good, 1, {"good/1"}, {"a/1", "nopicmip"}},
        {"orphan name", "a/1\n" + good, 1, {"good/1"}, {"a/1"}},
        {"overlong token", "a/1 {\nmap " + std::string(2000, 'x') + "\n}\n" + good, 2, {"good/1"}, {"a/1"}},
        {"endless comment", good + "a/1 { } /* no end\n b/2 { }", 2, {"good/1", "a/1"}, {"b/2"}},
        {"NUL inside", good + "a/1 {\n" + nul + "\n}\nb/2 { }", 3, {"good/1"}, {"a/1", "b/2"}},
        {"NUL in a quote", good + "a/1 { map \"x" + nul + "\" }\n", 2, {"good/1"}, {"a/1"}},
        {"binary", "a/1 { }\n" + binary + "\n" + good, 2, {}, {"a/1", "good/1"}},
    };
    for (const HostileCase& c : cases) {
        const Read read = ReadScript(c.text);
        ASSERT_EQ(read.problems.size(), 1u) << c.what << "\n" << ::testing::PrintToString(read.problems);
        const std::string at = "scripts/t.shader:" + std::to_string(c.problemLine) + ": ";
        EXPECT_EQ(read.problems[0].rfind(at, 0), 0u) << c.what << ": " << read.problems[0];
        for (const char* name : c.kept) EXPECT_NE(read.table.Find(name), nullptr) << c.what << ": " << name;
        for (const char* name : c.dropped) EXPECT_EQ(read.table.Find(name), nullptr) << c.what << ": " << name;
    }
}

TEST(ShaderScriptHostile, EveryTruncationStaysInBoundsWithAtMostOneProblem) {
    const std::string script =
        "\xEF\xBB\xBF// c\r\na\\1 { qer_editorimage \"e x.tga\"\r\n"
        " { animMap 2 f1 f2 /* x */\n blendFunc GL_ONE GL_ONE }\r}\n"
        "\"q/2\" { skyparms env/x - -\n { clampmap c.tga } }\n";
    for (size_t length = 0; length <= script.size(); ++length) {
        Read read;
        AddExact(&read, script.substr(0, length));
        EXPECT_LE(read.problems.size(), 1u) << length << ": " << ::testing::PrintToString(read.problems);
    }
    const Read whole = ReadScript(script);
    EXPECT_EQ(whole.added, 2);
    EXPECT_EQ(whole.problems, std::vector<std::string>{});
}

TEST(ShaderScriptHostile, HugeInputsAreCappedAndLinear) {
    const auto start = std::chrono::steady_clock::now();
    const std::string deep[] = {std::string(100000, '{'), "a/1 " + std::string(100000, '{'), std::string(100000, '}'),
                                "a/1 {\n" + std::string(100000, '\n') + "}\n"};
    for (const std::string& text : deep) {
        const Read read = ReadScript(text + "\n");
        EXPECT_EQ(read.problems.size(), 1u) << ::testing::PrintToString(read.problems);
    }

    std::string many = "a/1 {\n";
    for (int i = 0; i < 20000; ++i) many += " cull none\n";
    const Read tooManyTokens = ReadScript(many + "}\ngood/1 { }\n");
    EXPECT_EQ(tooManyTokens.problems.size(), 1u);
    EXPECT_EQ(tooManyTokens.table.Find("a/1"), nullptr);
    EXPECT_NE(tooManyTokens.table.Find("good/1"), nullptr);

    std::string faults;
    for (int i = 0; i < 1000; ++i) faults += "{ }\n";
    EXPECT_EQ(ReadScript(faults).problems.size(), static_cast<size_t>(ShaderTable::kMaxProblemsPerScript) + 1);

    std::string shaders;
    for (int i = 0; i <= ShaderTable::kMaxShadersPerScript; ++i) shaders += "s/" + std::to_string(i) + "{}\n";
    const Read tooManyShaders = ReadScript(shaders);
    EXPECT_EQ(tooManyShaders.added, ShaderTable::kMaxShadersPerScript);
    EXPECT_EQ(tooManyShaders.problems.size(), 1u);

    std::string huge(20u * 1024u * 1024u, ' ');
    huge.replace(0, 8, "a/1 { }\n");
    const Read refused = ReadScript(huge);
    EXPECT_EQ(refused.added, 0);
    ASSERT_EQ(refused.problems.size(), 1u);
    EXPECT_EQ(refused.problems[0].rfind("scripts/t.shader:1:", 0), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

// The stages of shader s/1, read from `stages` with nothing said about them.
std::vector<ShaderScriptStage> StagesOf(const std::string& stages) {
    const Read read = ReadScript("s/1\n{\n" + stages + "\n}\n");
    EXPECT_EQ(read.problems, std::vector<std::string>{}) << stages;
    const ShaderDefinition* shader = read.table.Find("s/1");
    return shader != nullptr ? shader->stages : std::vector<ShaderScriptStage>{};
}

TEST(ShaderScriptStageKeywords, SourcesAndTestsByName) {
    using C = ColourSource;
    using A = AlphaSource;
    using T = TexCoordSource;
    struct Case {
        const char* lines;
        C colour;
        A alpha;
        T texCoords;
        AlphaTest test;
    };
    const Case cases[] = {
        {"map a.tga", C::kIdentity, A::kIdentity, T::kBase, AlphaTest::kNone},
        {"rgbGen vertex\nrgbGen identityLighting", C::kIdentity, A::kIdentity, T::kBase, AlphaTest::kNone},
        {"rgbGen exactVertex\nalphaGen vertex", C::kVertex, A::kVertex, T::kBase, AlphaTest::kNone},
        {"RGBGEN OneMinusVertex\nalphaGen oneMinusVertex", C::kOneMinusVertex, A::kOneMinusVertex, T::kBase,
         AlphaTest::kNone},
        {"rgbGen lightingDiffuse\nalphaGen lightingSpecular", C::kLightingDiffuse, A::kLightingSpecular, T::kBase,
         AlphaTest::kNone},
        {"rgbGen entity\nalphaGen entity", C::kEntity, A::kEntity, T::kBase, AlphaTest::kNone},
        {"rgbGen oneMinusEntity\nalphaGen oneMinusEntity", C::kOneMinusEntity, A::kOneMinusEntity, T::kBase,
         AlphaTest::kNone},
        {"rgbGen const ( 1 x 1 )\nalphaGen const", C::kIdentity, A::kIdentity, T::kBase, AlphaTest::kNone},
        {"alphaFunc GT0\nalphaGen portal", C::kIdentity, A::kPortal, T::kBase, AlphaTest::kGreaterThanZero},
        {"alphafunc lt128\ntcGen lightmap", C::kIdentity, A::kIdentity, T::kLightmap, AlphaTest::kLessThanHalf},
        {"AlphaFunc Ge128\ntcGen environment", C::kIdentity, A::kIdentity, T::kEnvironment, AlphaTest::kAtLeastHalf},
        {"map $lightmap", C::kIdentity, A::kIdentity, T::kLightmap, AlphaTest::kNone},
        {"tcGen environment\nmap $lightmap", C::kIdentity, A::kIdentity, T::kEnvironment, AlphaTest::kNone},
        {"map $lightmap\ntcGen base", C::kIdentity, A::kIdentity, T::kBase, AlphaTest::kNone},
        {"tcGen environment\ntcGen texture", C::kIdentity, A::kIdentity, T::kBase, AlphaTest::kNone},
        {"tcGen vector ( 1 2 3 )", C::kIdentity, A::kIdentity, T::kBase, AlphaTest::kNone},  // needs two
    };
    for (const Case& c : cases) {
        const std::vector<ShaderScriptStage> stages = StagesOf(std::string("{\n") + c.lines + "\n}");
        ASSERT_EQ(stages.size(), 1u) << c.lines;
        EXPECT_EQ(stages[0].colourSource, c.colour) << c.lines;
        EXPECT_EQ(stages[0].alphaSource, c.alpha) << c.lines;
        EXPECT_EQ(stages[0].texCoordSource, c.texCoords) << c.lines;
        EXPECT_EQ(stages[0].alphaTest, c.test) << c.lines;
    }
}

TEST(ShaderScriptStageKeywords, ImagesWavesAndMotionsKeepTheirArguments) {
    const std::vector<ShaderScriptStage> s = StagesOf(
        "{ clampMap textures/a\\b.tga\n blendFunc GL_ONE GL_ZERO\n depthWrite\n depthFunc equal\n detail }\n"
        "{ animMap 4 f1 f2 f3 f4 f5 f6 f7 f8 f9 f10\n clampMap c.tga\n animMap -3 g1 g2\n depthFunc equal\n"
        "  depthFunc lequal }\n"
        "{ map a.tga\n rgbGen wave Triangle 0.2 0.5 0.25 2\n alphaGen wave inverseSawtooth 0 1 0 0.5 }\n"
        "{ rgbGen constant (2 -1 0.5)\n alphaGen const 0.25\n tcGen vector ( 0.5 0 0 ) (0 2 0) }\n"
        "{ alphaGen portal 512\n tcMod stretch sin 0.75 0.25 0 1\n tcMod turb noise 0 0.5 0.125 2\n"
        "  tcMod transform 1 2 3 4 5 6\n tcMod rotate -45 }\n"
        "{ tcMod transform 2 0 0 }");
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[0].map, "textures/a/b.tga");
    EXPECT_TRUE(s[0].clamp && s[0].blendGiven && s[0].depthWrite && s[0].depthEqual && s[0].detail);
    EXPECT_FALSE(s[1].clamp || s[1].blendGiven || s[1].depthWrite || s[1].depthEqual || s[1].detail);
    EXPECT_EQ(s[1].frames, (std::vector<std::string>{"g1", "g2"}));  // the last image line wins
    EXPECT_EQ(s[1].map, "g1");
    EXPECT_EQ(s[1].framesPerSecond, 0.0f);
    EXPECT_EQ(s[2].colourSource, ColourSource::kWave);
    EXPECT_EQ(s[2].colourWave.form, WaveForm::kTriangle);
    EXPECT_EQ(s[2].colourWave.amplitude, 0.5f);
    EXPECT_EQ(s[2].colourWave.phase, 0.25f);
    EXPECT_EQ(s[2].colourWave.frequency, 2.0f);
    EXPECT_EQ(s[2].alphaSource, AlphaSource::kWave);
    EXPECT_EQ(s[2].alphaWave.form, WaveForm::kInverseSawtooth);
    EXPECT_EQ(s[3].colourSource, ColourSource::kConst);
    EXPECT_EQ(std::vector<float>(s[3].colour, s[3].colour + 3), (std::vector<float>{1.0f, 0.0f, 0.5f}));
    EXPECT_EQ(s[3].alphaSource, AlphaSource::kConst);
    EXPECT_EQ(s[3].alpha, 0.25f);
    EXPECT_EQ(s[3].texCoordSource, TexCoordSource::kVector);
    EXPECT_EQ(s[3].texCoordVectors[0][0], 0.5f);
    EXPECT_EQ(s[3].texCoordVectors[1][1], 2.0f);
    EXPECT_EQ(s[3].texCoordVectors[1][0], 0.0f);
    EXPECT_EQ(s[4].portalRange, 512.0f);
    ASSERT_EQ(s[4].motionCount, 4);
    EXPECT_EQ(s[4].motions[0].kind, TexCoordMotion::Kind::kStretch);
    EXPECT_EQ(s[4].motions[0].wave.base, 0.75f);
    EXPECT_EQ(s[4].motions[1].kind, TexCoordMotion::Kind::kTurb);
    EXPECT_EQ(s[4].motions[1].wave.form, WaveForm::kNoise);
    EXPECT_EQ(s[4].motions[1].wave.phase, 0.125f);
    EXPECT_EQ(s[4].motions[2].kind, TexCoordMotion::Kind::kTransform);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(s[4].motions[2].matrix[i], static_cast<float>(i + 1));
    EXPECT_EQ(s[4].motions[3].kind, TexCoordMotion::Kind::kRotate);
    EXPECT_EQ(s[4].motions[3].s, -45.0f);
    const float identityButOne[6] = {2.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f};  // what is missing stays
    for (int i = 0; i < 6; ++i) EXPECT_EQ(s[5].motions[0].matrix[i], identityButOne[i]) << i;
}

TEST(ShaderScriptShaderKeywords, SortFlagsFogAndDeforms) {
    const std::pair<const char*, float> sorts[] = {
        {"portal", 1}, {"Sky", 2},  {"opaque", 3}, {"decal", 4},  {"seeThrough", 5}, {"banner", 6}, {"UNDERWATER", 8},
        {"additive", 10}, {"nearest", 16}, {"12", 12}, {"0", 1}, {"-4", 1}, {"99", 16}, {"6.5", 6.5f},
    };
    for (const auto& [word, sort] : sorts) {
        const Read read = ReadScript(std::string("s/1 {\nsort ") + word + "\n}\n");
        ASSERT_NE(read.table.Find("s/1"), nullptr) << word;
        EXPECT_EQ(read.table.Find("s/1")->sort, sort) << word;
    }
    const Read read = ReadScript(
        "s/flags {\npolygonOffset\nNoPicMip\nnomipmaps\nsurfaceparm nolightmap\nsurfaceparm trans\n"
        "fogParms ( 0.5 2 -1 ) 768\n}\ns/plain { fogparms\n}\n"
        "s/deforms {\ndeformVertexes wave 100 sin 1 2 3 4\ndeformVertexes normal 0.5 3\n"
        "deformVertexes projectionShadow\ndeformVertexes text0\ndeformVertexes bulge 3 4 5\n"
        "deformVertexes autosprite2\n}\n"
        "s/more {\ndeformVertexes move 1 2 3 triangle 0 5 0 0.5\ndeformVertexes autosprite\n}\n");
    EXPECT_EQ(read.problems, std::vector<std::string>{});
    const ShaderDefinition* flags = read.table.Find("s/flags");
    const ShaderDefinition* plain = read.table.Find("s/plain");
    const ShaderDefinition* deforms = read.table.Find("s/deforms");
    const ShaderDefinition* more = read.table.Find("s/more");
    ASSERT_TRUE(flags && plain && deforms && more);
    EXPECT_TRUE(flags->polygonOffset && flags->noPicmip && flags->noMipmaps && flags->noLightmap && flags->trans);
    EXPECT_FALSE(plain->polygonOffset || plain->noPicmip || plain->noMipmaps || plain->noLightmap || plain->trans);
    EXPECT_EQ(std::vector<float>(flags->fogColour, flags->fogColour + 3), (std::vector<float>{0.5f, 1.0f, 0.0f}));
    EXPECT_EQ(flags->fogOpaqueDistance, 768.0f);
    EXPECT_TRUE(flags->fog && plain->fog);
    EXPECT_EQ(plain->fogOpaqueDistance, 0.0f);
    EXPECT_EQ(plain->deformCount, 0);
    // Shadows and text take no place; past the cap the rest are dropped.
    ASSERT_EQ(deforms->deformCount, ShaderDefinition::kMaxDeforms);
    const VertexDeform* d = deforms->deforms;
    EXPECT_EQ(d[0].kind, VertexDeform::Kind::kWave);
    EXPECT_FLOAT_EQ(d[0].spread, 0.01f);  // one over the written 100
    EXPECT_EQ(d[0].wave.base, 1.0f);
    EXPECT_EQ(d[0].wave.frequency, 4.0f);
    EXPECT_EQ(d[1].kind, VertexDeform::Kind::kNormal);
    EXPECT_EQ(d[1].wave.amplitude, 0.5f);
    EXPECT_EQ(d[1].wave.frequency, 3.0f);
    EXPECT_EQ(d[2].kind, VertexDeform::Kind::kBulge);
    EXPECT_EQ(d[2].bulgeWidth + 10 * d[2].bulgeHeight + 100 * d[2].bulgeSpeed, 543.0f);
    ASSERT_EQ(more->deformCount, 2);
    EXPECT_EQ(more->deforms[0].kind, VertexDeform::Kind::kMove);
    EXPECT_EQ(std::vector<float>(more->deforms[0].moveVector, more->deforms[0].moveVector + 3),
              (std::vector<float>{1.0f, 2.0f, 3.0f}));
    EXPECT_EQ(more->deforms[0].wave.form, WaveForm::kTriangle);
    EXPECT_EQ(more->deforms[0].wave.amplitude, 5.0f);
    EXPECT_EQ(more->deforms[1].kind, VertexDeform::Kind::kAutosprite);
}

TEST(ShaderScriptShaderKeywords, SortOfShadersWithoutOne) {
    const std::pair<const char*, float> cases[] = {
        {"", kSortOpaque},
        {"{ map a.tga\n blendFunc GL_ONE GL_ZERO }", kSortOpaque},
        {"{ map a.tga\n blendFunc blend }", kSortBlended},
        {"{ map a.tga\n blendFunc add\n depthWrite }", kSortOpaque},
        {"{ map a.tga }\n{ map b.tga\n blendFunc add }", kSortOpaque},  // only the first stage counts
        {"surfaceparm sky\n{ map a.tga\n blendFunc add }", kSortSky},
        {"fogparms ( 1 1 1 ) 300", kSortFog},
        {"polygonOffset\n{ map a.tga\n blendFunc filter }", kSortDecal},
        {"sort nearest\nsurfaceparm sky", kSortNearest},
    };
    for (const auto& [lines, sort] : cases) {
        const Read read = ReadScript(std::string("s/1\n{\n") + lines + "\n}\n");
        ASSERT_NE(read.table.Find("s/1"), nullptr) << lines;
        EXPECT_EQ(ShaderSortOf(*read.table.Find("s/1")), sort) << lines;
    }
}

TEST(ShaderScriptWaves, ShapesAtKnownPointsAndNoiseIsSmooth) {
    using W = WaveForm;
    const std::tuple<W, double, float> points[] = {
        {W::kSin, 0.0, 0.0f},         {W::kSin, 0.25, 1.0f},       {W::kSin, -0.25, -1.0f},
        {W::kSin, 3.25, 1.0f},        {W::kTriangle, 0.0, 0.0f},   {W::kTriangle, 0.125, 0.5f},
        {W::kTriangle, 0.25, 1.0f},   {W::kTriangle, 0.5, 0.0f},   {W::kTriangle, 0.75, -1.0f},
        {W::kTriangle, -0.125, -0.5f}, {W::kSquare, 0.1, 1.0f},    {W::kSquare, -0.3, -1.0f},
        {W::kSawtooth, 5.3, 0.3f},    {W::kSawtooth, -0.25, 0.75f}, {W::kInverseSawtooth, 0.0, 1.0f},
        {W::kInverseSawtooth, 0.3, 0.7f},
    };
    for (const auto& [form, x, value] : points) {
        EXPECT_NEAR(WaveShape(form, x), value, 1e-5) << static_cast<int>(form) << " at " << x;
    }
    for (const W form : {W::kSin, W::kTriangle, W::kSquare, W::kSawtooth, W::kInverseSawtooth, W::kNoise}) {
        for (const double x : {1e300, -1e300, 4294967296.5, -4294967296.5}) {
            const float v = WaveShape(form, x);
            EXPECT_TRUE(v >= -1.0f && v <= 1.0f) << static_cast<int>(form) << " at " << x;
        }
        EXPECT_EQ(WaveShape(form, std::nan("")), 0.0f);
    }
    const Wave square{W::kSquare, 1.0f, 2.0f, 0.25f, 0.5f};
    EXPECT_FLOAT_EQ(WaveValue(square, 0.4), 3.0f);   // at 0.45 of its period
    EXPECT_FLOAT_EQ(WaveValue(square, 1.0), -1.0f);  // at 0.75
    EXPECT_TRUE(std::isfinite(WaveValue(Wave{W::kSquare, 3e38f, 3e38f, 0.0f, 0.0f}, 0.0)));

    // The noise: the same curve every time, no jumps even across whole
    // numbers, and over twenty periods it wobbles.
    float lowest = 1.0f;
    float highest = -1.0f;
    float previous = WaveShape(W::kNoise, -5.0);
    for (int i = 1; i <= 20000; ++i) {
        const double x = i * 0.001 - 5.0;
        const float v = WaveShape(W::kNoise, x);
        ASSERT_EQ(v, WaveShape(W::kNoise, x)) << x;
        ASSERT_LT(std::fabs(v - previous), 0.01f) << x;
        previous = v;
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    EXPECT_GT(highest - lowest, 0.5f);
}

TEST(ShaderScriptUnknownKeywords, OneLinePerShaderNamingTheFirst) {
    // Editor and map-compiler words are known and said nothing about.
    std::string text = "s/known {\nq3map_surfacelight 300\nQER_NoCarve\ntessSize 64\nlight 100\nentityMergable\n"
                       "deformVertexes text3\n{ videoMap v.roq }\n}\n"  // lines 1-9
                       "s/unknown {\nqer_editorimage e.tga\n";
    for (int i = 0; i < 300; ++i) text += "sparkle" + std::to_string(i) + " 1 2\n";  // lines 12-311
    text += "{ map a.tga\n twinkle\n rgbGen glitter\n}\nsurfaceparm nodraw\n}\n"
            "s/args {\nsort sideways\n{ map a.tga\n tcMod wobble 1\n alphaFunc GT1\n}\n}\n"  // s/args on 318
            "s/long {\n" + std::string(1000, 'k') + "\n}\n";
    const Read read = ReadScript(text);
    EXPECT_EQ(read.added, 4);
    ASSERT_EQ(read.problems.size(), 3u) << ::testing::PrintToString(read.problems);
    EXPECT_EQ(read.problems[0],
              "scripts/t.shader:12: shader 's/unknown' has unknown keywords, skipped: 'sparkle0' (and 301 more)");
    EXPECT_EQ(read.problems[1],
              "scripts/t.shader:319: shader 's/args' has unknown keywords, skipped: 'sort sideways' (and 2 more)");
    EXPECT_LT(read.problems[2].size(), 160u) << read.problems[2];  // a long word is cut short
    // The shader keeps everything it knows.
    const ShaderDefinition* unknown = read.table.Find("s/unknown");
    ASSERT_NE(unknown, nullptr);
    EXPECT_TRUE(unknown->nodraw);
    ASSERT_EQ(unknown->stages.size(), 1u);
    EXPECT_EQ(unknown->stages[0].map, "a.tga");
}

TEST(ShaderScriptUnknownKeywords, NotesAreCappedAndNeverStopTheReading) {
    const int shaders = ShaderTable::kMaxProblemsPerScript + 30;
    std::string text;
    for (int i = 0; i < shaders; ++i) text += "n/" + std::to_string(i) + " { glow }\n";
    text += "{ }\nlast/1 { }\n";  // a fault after them is still reported, and reading goes on
    const Read read = ReadScript(text);
    EXPECT_EQ(read.added, shaders + 1);
    ASSERT_EQ(read.problems.size(), static_cast<size_t>(ShaderTable::kMaxNoteLinesPerScript) + 2);
    EXPECT_NE(read.problems[ShaderTable::kMaxNoteLinesPerScript].find("not listed"), std::string::npos);
    EXPECT_NE(read.problems.back().find("'{' without a shader name"), std::string::npos);
    // A shader dropped for a fault says nothing about its unknown words.
    EXPECT_EQ(ReadScript("d/1 {\n glow\n{ map a\n{\n}\n}\n}\n").problems.size(), 1u);
}

TEST(ShaderScriptHostile, FramesMotionsAndDeformsAreCappedAndTruncationsStayInBounds) {
    std::string text = "big/1\n{\n";
    for (int i = 0; i < 500; ++i) text += "deformVertexes move 0 0 " + std::to_string(i) + " sin 0 1 0 1\n";
    text += "{\nanimMap 10";
    for (int i = 0; i < 2000; ++i) text += " f" + std::to_string(i);
    text += "\n";
    for (int i = 0; i < 1000; ++i) text += "tcMod rotate " + std::to_string(i) + "\n";
    const Read read = ReadScript(text + "}\n}\n");  // some 10000 tokens, under the shader's cap
    EXPECT_EQ(read.problems, std::vector<std::string>{});
    const ShaderDefinition* big = read.table.Find("big/1");
    ASSERT_NE(big, nullptr);
    ASSERT_EQ(big->deformCount, ShaderDefinition::kMaxDeforms);
    EXPECT_EQ(big->deforms[ShaderDefinition::kMaxDeforms - 1].moveVector[2], ShaderDefinition::kMaxDeforms - 1.0f);
    ASSERT_EQ(big->stages.size(), 1u);
    EXPECT_EQ(big->stages[0].frames.size(), static_cast<size_t>(ShaderScriptStage::kMaxFrames));
    ASSERT_EQ(big->stages[0].motionCount, ShaderScriptStage::kMaxMotions);
    EXPECT_EQ(big->stages[0].motions[ShaderScriptStage::kMaxMotions - 1].s, ShaderScriptStage::kMaxMotions - 1.0f);

    const std::string script =
        "a/1 { sort 6 polygonOffset\n fogParms ( 1 0 0 ) 64\n deformVertexes wave 50 noise 0 1 0 2\n"
        " deformVertexes move 0 0 1 sin 0 2 0 1\n { animMap 4 x y z\n alphaFunc GE128\n depthFunc equal\n"
        "   rgbGen wave square 0 1 0 1\n alphaGen portal 300\n tcGen vector ( 1 0 0 ) ( 0 1 0 )\n"
        "   tcMod turb sin 0 1 0 1\n tcMod transform 1 0 0 1 0 0\n tcMod stretch triangle 1 1 0 1 } }\n";
    for (size_t length = 0; length <= script.size(); ++length) {
        Read cut;
        AddExact(&cut, script.substr(0, length));
        EXPECT_LE(cut.problems.size(), 1u) << length << ": " << ::testing::PrintToString(cut.problems);
    }
    EXPECT_EQ(ReadScript(script).problems, std::vector<std::string>{});
}

}  // namespace
