// The shader script reader: what it keeps from the stock grammar, which
// definition the table keeps, and that hostile scripts cost one problem line
// and only the shader they break.
#include "video/shader_scripts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
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
    ASSERT_EQ(read.problems, std::vector<std::string>{});
    const ShaderDefinition* a = read.table.Find("a/1");
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(a->nodraw);
    EXPECT_EQ(a->editorImage, "e.tga");
    EXPECT_EQ(a->skyBox, "");
    EXPECT_TRUE(a->fog && a->portal);
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
    // Turbulence and rotation are read and left out; a scroll that is not
    // a number scrolls by nothing on that axis.
    const ShaderScriptStage& d = shader->stages[3];
    EXPECT_EQ(d.sourceFactor, BlendFactor::kSourceAlpha);
    EXPECT_EQ(d.destinationFactor, BlendFactor::kOneMinusSourceAlpha);
    EXPECT_EQ(d.colour[0], 1.0f);
    EXPECT_EQ(d.colour[1], 0.0f);
    ASSERT_EQ(d.motionCount, 1);
    EXPECT_EQ(d.motions[0].kind, TexCoordMotion::Kind::kScroll);
    EXPECT_EQ(d.motions[0].s, 0.0f);
    EXPECT_EQ(d.motions[0].t, 2.0f);
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

}  // namespace
