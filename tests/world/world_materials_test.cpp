// Faces drawn by their shader stages (r_materials 1): blends of every kind
// over what is behind them, the alpha test, moving and animated images at
// a known time on the frame clock, and see-through faces drawn farthest
// first; with r_materials 0 the same world drawn as image times lightmap.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/game_system.h"
#include "platform/operating_system.h"
#include "support/loaded_world.h"
#include "video/d3d9/d3d9.h"
#include "video/renderer.h"
#include "video/video_cvars.h"
#include "video/world_pictures.h"

namespace {

// An uncompressed 32-bit TGA, one row, of the given texels (r, g, b, a each).
std::string RowTga(const std::vector<std::vector<uint8_t>>& texels) {
    std::string file(18, '\0');
    file[2] = 2;
    file[12] = static_cast<char>(texels.size());
    file[14] = 1;
    file[16] = 32;
    file[17] = 8;
    for (const std::vector<uint8_t>& t : texels) {
        file += {static_cast<char>(t[2]), static_cast<char>(t[1]), static_cast<char>(t[0]), static_cast<char>(t[3])};
    }
    return file;
}

// A square like Square's whose image coordinates run from (0, 0) to
// (span, span) across it.
std::vector<BspVertex> MappedSquare(float z, float half, float span) {
    return {BspBuilder::Vertex(-half, -half, z, 0, span), BspBuilder::Vertex(half, -half, z, span, span),
            BspBuilder::Vertex(half, half, z, span, 0), BspBuilder::Vertex(-half, half, z, 0, 0)};
}

class WorldMaterials : public DrawnWorld {
protected:
    void SetUp() override {
        DrawnWorld::SetUp();
        r_materials.intValue = 1;
        folder_.Write("textures/test/red.tga", SolidTga(2, 2, 255, 0, 0));
        folder_.Write("textures/test/green.tga", SolidTga(2, 2, 0, 255, 0));
        folder_.Write("textures/test/blue.tga", SolidTga(2, 2, 0, 0, 255));
        folder_.Write("textures/test/grey.tga", SolidTga(2, 2, 128, 128, 128));
        folder_.Write("textures/test/white.tga", SolidTga(2, 2, 255, 255, 255));
        folder_.Write("textures/test/clear.tga", RowTga({{0, 0, 255, 0}, {0, 0, 255, 0}}));
        folder_.Write("textures/test/solid.tga", RowTga({{0, 0, 255, 255}, {0, 0, 255, 255}}));
        folder_.Write("textures/test/redgreen.tga", RowTga({{255, 0, 0, 255}, {0, 255, 0, 255}}));
    }
    void TearDown() override {
        if (clock_ != nullptr) g_operatingSystem.SwapTimeSource(std::move(clock_), g_operatingSystem.FrameTime());
        DrawnWorld::TearDown();
    }

    // Puts the frame clock at ms milliseconds for the frames that follow;
    // the clock it replaced comes back at the end of the test.
    void SetClock(double ms) {
        std::unique_ptr<TimeSource> before = g_operatingSystem.SwapTimeSource(std::make_unique<FixedStepTimeSource>(0.0), ms);
        if (clock_ == nullptr) clock_ = std::move(before);
        g_operatingSystem.frame();
        ASSERT_EQ(g_operatingSystem.FrameTime(), ms);
    }

    // A wall of `back` 200 units ahead, lit white by its lightmap, and in
    // front of it faces of the given textures, each nearer than the last,
    // lightmapped alike; the shader script as given.
    World* Layers(const char* back, const std::vector<std::string>& fronts, const std::string& script,
                  float span = 0.0f) {
        if (!script.empty()) folder_.Write("scripts/test.shader", script);
        ForgetWorldShaders();  // read afresh by the load
        BspBuilder builder;
        builder.AddTexture(back);
        builder.AddLightmap(64, 64, 64);  // four times the stored light: white
        builder.AddPolygon(Square(-200.0f, 150.0f, 255, 255, 255), 0, 0);
        float z = -150.0f;
        for (const std::string& front : fronts) {
            const int32_t texture = builder.AddTexture(front);
            builder.AddPolygon(span > 0.0f ? MappedSquare(z, 60.0f, span) : Square(z, 60.0f, 255, 255, 255), texture,
                               0);
            z += 20.0f;
        }
        AddHiddenMesh(&builder);
        builder.BuildSingleLeafTree();
        return Load(builder);
    }

    uint32_t Centre(World* world) { return Pixel(world, D3DXVECTOR3(0.0f, 0.0f, 0.0f), 0.0f, 0.0f, 2, 0xDEADDEAD); }

    std::unique_ptr<TimeSource> clock_;
};

TEST_F(WorldMaterials, EachBlendCombinesTheStageWithWhatIsBehindIt) {
    struct Case {
        const char* blend;
        const char* image;
        int r, g, b;
    };
    // Over a red wall: adding green makes yellow; a grey filter halves the
    // red; green blended by a quarter alpha leaves three quarters of red;
    // the explicit pair of one-minus-destination times green over red.
    const Case cases[] = {
        {"blendFunc add", "green", 255, 255, 0},
        {"blendFunc filter", "grey", 128, 0, 0},
        {"blendFunc blend\n\t\talphaGen const 0.25", "green", 191, 64, 0},
        {"blendFunc GL_ONE_MINUS_DST_COLOR GL_ONE", "green", 255, 255, 0},
        {"blendFunc GL_ZERO GL_ONE", "green", 255, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.blend);
        const std::string script = std::string("textures/test/front\n{\n\t{\n\t\tmap textures/test/") + c.image +
                                   ".tga\n\t\t" + c.blend + "\n\t}\n}\n";
        World* world = Layers("textures/test/red", {"textures/test/front"}, script);
        ASSERT_NE(world, nullptr);
        EXPECT_RGB_NEAR(Centre(world), c.r, c.g, c.b, 3);
    }
}

TEST_F(WorldMaterials, StagesAreDrawnInTheirOrderOverTheFirst) {
    // Blue, then the lightmap multiplied in at half (a grey image filter),
    // then green added: (0, 255, 128).
    const std::string script =
        "textures/test/front\n{\n\t{\n\t\tmap textures/test/blue.tga\n\t}\n"
        "\t{\n\t\tmap textures/test/grey.tga\n\t\tblendFunc filter\n\t}\n"
        "\t{\n\t\tmap textures/test/green.tga\n\t\tblendFunc add\n\t}\n}\n";
    World* world = Layers("textures/test/red", {"textures/test/front"}, script);
    ASSERT_NE(world, nullptr);
    EXPECT_RGB_NEAR(Centre(world), 0, 255, 128, 3);

    // Switched off, the same face is its first image times its lightmap, as
    // before materials: blue, opaque, under the stored light doubled.
    r_materials.intValue = 0;
    EXPECT_RGB_NEAR(Centre(world), 0, 0, 128, 3);
}

TEST_F(WorldMaterials, AStageDrawingTheRecordsOwnImageSharesItsTexture) {
    const std::string script =
        "textures/test/front\n{\n\t{\n\t\tmap textures/test/blue.tga\n\t}\n"
        "\t{\n\t\tmap textures/test/green.tga\n\t\tblendFunc add\n\t}\n}\n";
    World* world = Layers("textures/test/red", {"textures/test/front"}, script);
    ASSERT_NE(world, nullptr);
    const WorldPictures& pictures = world->Pictures();
    // The record is drawn from the script's first image: its stage takes
    // that texture, and only the second image is loaded for the material.
    ASSERT_EQ(pictures.materials[1].stageCount, 2);
    EXPECT_EQ(pictures.materials[1].stages[0].frames[0], pictures.textures[1].texture);
    EXPECT_EQ(pictures.materialImages.size(), 1u);
}

TEST_F(WorldMaterials, TheAlphaTestLetsWhatIsBehindShowThrough) {
    struct Case {
        const char* image;
        const char* test;
        bool kept;
    };
    const Case cases[] = {
        {"clear", "GE128", false}, {"solid", "GE128", true}, {"clear", "GT0", false},
        {"solid", "GT0", true},    {"clear", "LT128", true}, {"solid", "LT128", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.image) + " " + c.test);
        const std::string script = std::string("textures/test/grate\n{\n\t{\n\t\tmap textures/test/") + c.image +
                                   ".tga\n\t\talphaFunc " + c.test + "\n\t\tdepthWrite\n\t}\n}\n";
        World* world = Layers("textures/test/red", {"textures/test/grate"}, script);
        ASSERT_NE(world, nullptr);
        if (c.kept) {
            EXPECT_RGB_NEAR(Centre(world), 0, 0, 255, 3);
        } else {
            EXPECT_RGB_NEAR(Centre(world), 255, 0, 0, 3);
        }
    }
}

TEST_F(WorldMaterials, ScrollsAndAnimationsFollowTheFrameClock) {
    // The image's left texel is red and its right green; the face's middle
    // shows the left texel's centre until the scroll moves it by half.
    const std::string script =
        "textures/test/scroll\n{\n\t{\n\t\tmap textures/test/redgreen.tga\n\t\ttcMod scroll 0.25 0\n\t}\n}\n"
        "textures/test/anim\n{\n\t{\n\t\tanimMap 2 textures/test/red.tga textures/test/green.tga "
        "textures/test/blue.tga\n\t}\n}\n";
    World* world = Layers("textures/test/white", {"textures/test/scroll"}, script, 0.5f);
    ASSERT_NE(world, nullptr);
    SetClock(0.0);
    EXPECT_RGB_NEAR(Centre(world), 255, 0, 0, 8);
    SetClock(2000.0);  // moved by half the image
    EXPECT_RGB_NEAR(Centre(world), 0, 255, 0, 8);
    SetClock(4000.0);  // the whole image: back where it began
    EXPECT_RGB_NEAR(Centre(world), 255, 0, 0, 8);

    world = Layers("textures/test/white", {"textures/test/anim"}, script);
    ASSERT_NE(world, nullptr);
    const struct {
        double ms;
        int r, g, b;
    } frames[] = {{250.0, 255, 0, 0}, {750.0, 0, 255, 0}, {1250.0, 0, 0, 255}, {1750.0, 255, 0, 0}};
    for (const auto& frame : frames) {
        SCOPED_TRACE(frame.ms);
        SetClock(frame.ms);
        EXPECT_RGB_NEAR(Centre(world), frame.r, frame.g, frame.b, 3);
    }
}

TEST_F(WorldMaterials, SeeThroughFacesAreDrawnFarthestFirst) {
    // Two half-transparent faces over a red wall: the nearer (blue) is
    // blended last, so it weighs half and the farther (green) a quarter.
    const std::string script =
        "textures/test/far\n{\n\t{\n\t\tmap textures/test/green.tga\n\t\tblendFunc blend\n\t\talphaGen const 0.5\n"
        "\t}\n}\ntextures/test/near\n{\n\t{\n\t\tmap textures/test/blue.tga\n\t\tblendFunc blend\n"
        "\t\talphaGen const 0.5\n\t}\n}\n";
    // Listed near first, so that list order alone would draw them wrongly.
    BspBuilder builder;
    folder_.Write("scripts/test.shader", script);
    builder.AddTexture("textures/test/red");
    const int32_t nearTexture = builder.AddTexture("textures/test/near");
    const int32_t farTexture = builder.AddTexture("textures/test/far");
    builder.AddLightmap(64, 64, 64);
    builder.AddPolygon(Square(-200.0f, 150.0f, 255, 255, 255), 0, 0);
    builder.AddPolygon(Square(-120.0f, 60.0f, 255, 255, 255), nearTexture, 0);
    builder.AddPolygon(Square(-160.0f, 60.0f, 255, 255, 255), farTexture, 0);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr);
    EXPECT_RGB_NEAR(Centre(world), 64, 64, 128, 4);
}

TEST_F(WorldMaterials, VertexAlphaBlendsTheLayersOfALightmappedFace) {
    // A terrain-like face: its second layer blended in by the vertices'
    // alpha, which lightmapped faces keep.
    folder_.Write("scripts/test.shader",
                  "textures/test/terrain\n{\n\t{\n\t\tmap textures/test/red.tga\n\t}\n"
                  "\t{\n\t\tmap textures/test/green.tga\n\t\tblendFunc blend\n\t\talphaGen vertex\n\t}\n"
                  "\t{\n\t\tmap $lightmap\n\t\tblendFunc filter\n\t}\n}\n");
    BspBuilder builder;
    builder.AddTexture("textures/test/terrain");
    builder.AddLightmap(32, 32, 32);  // half light
    std::vector<BspVertex> square = Square(-100.0f, 60.0f, 255, 255, 255);
    for (BspVertex& vertex : square) vertex.colour[3] = 64;  // a quarter of green
    builder.AddPolygon(square, 0, 0);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr);
    EXPECT_RGB_NEAR(Centre(world), 96, 32, 0, 4);
}

TEST_F(WorldMaterials, FacesInAFogVolumeFadeIntoItsColourByTheirDepthInIt) {
    folder_.Write("scripts/test.shader", "textures/test/fog\n{\n\tsurfaceparm fog\n\tfogParms ( 0 0 1 ) 400\n}\n");
    BspBuilder builder;
    builder.AddTexture("textures/test/red");
    const int32_t fogTexture = builder.AddTexture("textures/test/fog");
    builder.AddLightmap(64, 64, 64);
    // Small, so that its corners lie as deep in the fog as its middle.
    const int32_t wall = builder.AddPolygon(Square(-200.0f, 20.0f, 255, 255, 255), 0, 0);
    AddHiddenMesh(&builder);
    builder.AddFog("textures/test/fog", builder.AddBoxBrush({{-1000, -1000, -1000}, {1000, 1000, 1000}}, fogTexture));
    for (BspFace& face : builder.Faces()) face.effect = -1;
    builder.Faces()[static_cast<size_t>(wall)].effect = 0;
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr);
    // 200 units of the 400 that hide everything: half red, half blue.
    EXPECT_RGB_NEAR(Centre(world), 128, 0, 127, 5);
    // From 100 units farther back: three quarters.
    EXPECT_RGB_NEAR(Pixel(world, D3DXVECTOR3(0.0f, 0.0f, 100.0f), 0.0f, 0.0f, 2, 0xDEADDEAD), 64, 0, 191, 5);
    // Without materials there is no fog.
    r_materials.intValue = 0;
    EXPECT_RGB_NEAR(Centre(world), 128, 0, 0, 3);
}

TEST_F(WorldMaterials, SwitchedOffTheFrameIsTheOneOfTheSameImagesWithoutScripts) {
    // Stages that move, blend and animate, a cloud sky and a fog volume:
    // with r_materials 0 none of it counts, byte for byte.
    folder_.Write("scripts/test.shader",
                  "textures/test/front\n{\n\t{\n\t\tmap textures/test/blue.tga\n\t\ttcMod scroll 0.5 0\n\t}\n"
                  "\t{\n\t\tmap textures/test/green.tga\n\t\tblendFunc add\n\t\trgbGen wave sin 0.5 0.5 0 1\n\t}\n}\n"
                  "textures/test/fog\n{\n\tsurfaceparm fog\n\tfogParms ( 1 1 1 ) 300\n}\n"
                  "textures/test/sky\n{\n\tsurfaceparm sky\n\tskyParms - 512 -\n\t{\n\t\tmap textures/test/red.tga\n"
                  "\t\ttcMod scroll 0.1 0\n\t}\n}\n");
    const auto build = [](const char* front, bool fog) {
        BspBuilder builder;
        builder.AddTexture("textures/test/white");
        const int32_t texture = builder.AddTexture(front);
        builder.AddLightmap(64, 64, 64);
        builder.AddPolygon(Square(-200.0f, 150.0f, 255, 255, 255), 0, 0);
        builder.AddPolygon(Square(-150.0f, 60.0f, 255, 255, 255), texture, 0);
        AddHiddenMesh(&builder);
        for (BspFace& face : builder.Faces()) face.effect = fog ? 0 : -1;
        if (fog) {
            const int32_t fogTexture = builder.AddTexture("textures/test/fog");
            builder.AddTexture("textures/test/sky");
            builder.AddFog("textures/test/fog",
                           builder.AddBoxBrush({{-1000, -1000, -1000}, {1000, 1000, 1000}}, fogTexture));
        }
        builder.BuildSingleLeafTree();
        return builder;
    };
    const auto frame = [&](World* world, bool materials, double ms) {
        r_materials.intValue = materials ? 1 : 0;
        SetClock(ms);
        return Frame(world, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    };
    World* world = Load(build("textures/test/front", true));
    ASSERT_NE(world, nullptr);
    const std::vector<uint32_t> on = frame(world, true, 250.0);
    const std::vector<uint32_t> off = frame(world, false, 250.0);
    const std::vector<uint32_t> offLater = frame(world, false, 1250.0);

    world_.reset();
    world = Load(build("textures/test/blue", false));
    ASSERT_NE(world, nullptr);
    const std::vector<uint32_t> plain = frame(world, false, 250.0);
    ASSERT_FALSE(plain.empty());
    EXPECT_TRUE(off == plain);
    EXPECT_TRUE(offLater == plain);  // nothing moves
    EXPECT_FALSE(on == plain);
}

TEST_F(WorldMaterials, SpritesTurnTowardsTheEye) {
    folder_.Write("scripts/test.shader",
                  "textures/test/flare\n{\n\tdeformVertexes autosprite\n\t{\n\t\tmap textures/test/green.tga\n"
                  "\t\tblendFunc add\n\t}\n}\n");
    BspBuilder builder;
    builder.AddTexture("textures/test/red");
    const int32_t flare = builder.AddTexture("textures/test/flare");
    builder.AddLightmap(64, 64, 64);
    builder.AddPolygon(Square(-200.0f, 150.0f, 255, 255, 255), 0, 0);
    // Level with the eye and edge on: nothing of it shows unless turned.
    builder.AddPolygon({BspBuilder::Vertex(-20, 0, -120, 0, 0), BspBuilder::Vertex(20, 0, -120, 1, 0),
                        BspBuilder::Vertex(20, 0, -80, 1, 1), BspBuilder::Vertex(-20, 0, -80, 0, 1)},
                       flare, 0);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->Pictures().sprites.QuadCount(), 1u);
    EXPECT_RGB_NEAR(Centre(world), 255, 255, 0, 3);
    r_materials.intValue = 0;
    EXPECT_RGB_NEAR(Centre(world), 128, 0, 0, 3);
}

TEST_F(WorldMaterials, FacesOfOneMaterialBufferAndLightmapAreDrawnTogetherStageByStage) {
    folder_.Write("scripts/test.shader",
                  "textures/test/front\n{\n\t{\n\t\tmap textures/test/blue.tga\n\t}\n"
                  "\t{\n\t\tmap textures/test/green.tga\n\t\tblendFunc add\n\t}\n}\n");
    BspBuilder builder;
    builder.AddTexture("textures/test/front");
    builder.AddLightmap(64, 64, 64);
    for (float x : {-40.0f, 40.0f}) {
        std::vector<BspVertex> square = Square(-150.0f, 35.0f, 255, 255, 255);
        for (BspVertex& vertex : square) vertex.position[0] += x;
        builder.AddPolygon(square, 0, 0);
    }
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr);
    std::vector<std::string> trace;
    D3D9SetTrace(GetDevice(), &trace);
    const std::vector<uint32_t> argb = Frame(world, D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    D3D9SetTrace(GetDevice(), nullptr);
    ASSERT_FALSE(argb.empty());
    // Both faces show both stages.
    for (int column : {width_ / 2 - width_ / 8, width_ / 2 + width_ / 8}) {
        EXPECT_RGB_NEAR(argb[static_cast<size_t>(height_ / 2) * width_ + column] & 0xFFFFFF, 0, 255, 255, 3);
    }
    // Neither fan is drawn by itself: one merged draw per stage takes both.
    for (const std::string& line : trace) EXPECT_EQ(line.rfind("DrawPrimitive(D3DPT_TRIANGLEFAN", 0), std::string::npos);
    EXPECT_EQ(g_renderer.ItemsDrawn(), 3u);  // the two faces and the hidden mesh, each counted once
}

}  // namespace
