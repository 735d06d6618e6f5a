// Worlds drawn with r_materials on: brush entities drawn where the file puts
// them, and faces drawn only from the sides their shader names, in the
// world file's winding. With r_materials off, neither.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/game_system.h"
#include "base/archive_files.h"
#include "support/loaded_world.h"
#include "video/shader_library.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"

namespace {

// A square in the plane z, its front towards +z: seen from the front its
// corners run clockwise around its normal in the file's Z-up space, as the
// map compiler writes faces.
std::vector<BspVertex> FrontSquare(float z, float half) {
    std::vector<BspVertex> points = {BspBuilder::Vertex(-half, -half, z), BspBuilder::Vertex(half, -half, z),
                                     BspBuilder::Vertex(half, half, z), BspBuilder::Vertex(-half, half, z)};
    for (BspVertex& point : points) {
        point.normal[1] = 0.0f;
        point.normal[2] = 1.0f;
    }
    return points;
}

// A flat 3 x 3 patch in the plane z, its front (the way its control points'
// normals point) towards +z: rows run down, columns right.
std::vector<BspVertex> FrontPatch(float z, float half) {
    std::vector<BspVertex> points;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            BspVertex point = BspBuilder::Vertex(-half + half * static_cast<float>(column),
                                                 half - half * static_cast<float>(row), z);
            point.normal[1] = 0.0f;
            point.normal[2] = 1.0f;
            points.push_back(point);
        }
    }
    return points;
}

constexpr float kHalfTurn = 180.0f;  // degrees
constexpr uint32_t kGreen = 0x008000;  // white x the lightmap (0, 32, 0) at the worlds' scale of four

class WorldSides : public DrawnWorld {
protected:
    void SetUp() override {
        DrawnWorld::SetUp();
        r_materials.intValue = 1;
        folder_.Write("textures/test/white.tga", SolidTga(2, 2, 255, 255, 255));
    }

    // The world with its wall texture (0) and green lightmap (0).
    static BspBuilder Start() {
        BspBuilder builder;
        builder.AddTexture("textures/test/white");
        builder.AddLightmap(0, 32, 0);
        return builder;
    }

    // The centre pixel as 0xRRGGBB, seen from the front (the origin, looking
    // down -Z at faces in z = -200) or from behind them (z = -400, turned).
    uint32_t Centre(World* world, bool fromBehind) {
        return fromBehind ? Pixel(world, D3DXVECTOR3(0.0f, 0.0f, -400.0f), kHalfTurn, 0.0f, 2, 0xFFFFFFFFu)
                          : Pixel(world, D3DXVECTOR3(0.0f, 0.0f, 0.0f), 0.0f, 0.0f, 2, 0xFFFFFFFFu);
    }
    // The green lightmap's light: 128 at the worlds' scale of four, 64 at the
    // engine's doubling (r_materials 0).
    static bool IsGreen(uint32_t pixel) {
        const int green = r_materials.intValue != 0 ? 128 : 64;
        return ((pixel >> 16) & 0xFF) <= 3 && std::abs(static_cast<int>((pixel >> 8) & 0xFF) - green) <= 3 &&
               (pixel & 0xFF) <= 3;
    }
};

}  // namespace

TEST_F(WorldSides, FacesAreDrawnFromTheirFrontOnlyPolygonsMeshesAndPatchesAlike) {
    const auto check = [&](BspBuilder builder, const char* kind) {
        AddHiddenMesh(&builder);
        builder.BuildSingleLeafTree();
        World* world = Load(builder);
        ASSERT_NE(world, nullptr) << kind << ::testing::PrintToString(loadLines_);
        EXPECT_TRUE(IsGreen(Centre(world, false))) << kind << std::hex << " " << Centre(world, false);
        EXPECT_FALSE(IsGreen(Centre(world, true))) << kind;
        // Without materials, both sides as always.
        r_materials.intValue = 0;
        EXPECT_TRUE(IsGreen(Centre(world, false))) << kind;
        EXPECT_TRUE(IsGreen(Centre(world, true))) << kind;
        r_materials.intValue = 1;
        EXPECT_FALSE(IsGreen(Centre(world, true))) << kind;
    };
    BspBuilder polygon = Start();
    polygon.AddPolygon(FrontSquare(-200.0f, 100.0f), 0, 0);
    check(polygon, "polygon");

    BspBuilder mesh = Start();
    const std::vector<BspVertex> square = FrontSquare(-200.0f, 100.0f);
    mesh.AddMesh(square, {0, 1, 2, 0, 2, 3}, 0, 0);
    check(mesh, "mesh");

    // The fan and the mesh merge when there are two of them.
    BspBuilder merged = Start();
    merged.AddPolygon(FrontSquare(-200.0f, 100.0f), 0, 0);
    merged.AddPolygon(FrontSquare(-250.0f, 100.0f), 0, 0);
    check(merged, "merged");

    BspBuilder patch = Start();
    patch.AddPatch(3, 3, FrontPatch(-200.0f, 100.0f), 0, 0);
    check(patch, "patch");
}

TEST_F(WorldSides, CullInTheShaderChoosesTheSides) {
    const auto frontAndBack = [&](const char* cull, bool patch) {
        world_.reset();
        ForgetWorldShaders();
        folder_.Write("scripts/test.shader", std::string("textures/test/white\n{\n\t") + cull +
                                                 "\n\t{\n\t\tmap $lightmap\n\t}\n}\n");
        BspBuilder builder = Start();
        if (patch) {
            builder.AddPatch(3, 3, FrontPatch(-200.0f, 100.0f), 0, 0);
        } else {
            builder.AddPolygon(FrontSquare(-200.0f, 100.0f), 0, 0);
        }
        AddHiddenMesh(&builder);
        builder.BuildSingleLeafTree();
        World* world = Load(builder);
        EXPECT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
        if (world == nullptr) return std::pair<bool, bool>{false, false};
        return std::pair<bool, bool>{IsGreen(Centre(world, false)), IsGreen(Centre(world, true))};
    };
    for (const bool patch : {false, true}) {
        EXPECT_EQ(frontAndBack("", patch), (std::pair<bool, bool>{true, false})) << patch;
        EXPECT_EQ(frontAndBack("cull front", patch), (std::pair<bool, bool>{true, false})) << patch;
        EXPECT_EQ(frontAndBack("cull back", patch), (std::pair<bool, bool>{false, true})) << patch;
        EXPECT_EQ(frontAndBack("cull none", patch), (std::pair<bool, bool>{true, true})) << patch;
        EXPECT_EQ(frontAndBack("cull disable", patch), (std::pair<bool, bool>{true, true})) << patch;
        EXPECT_EQ(frontAndBack("cull twosided", patch), (std::pair<bool, bool>{true, true})) << patch;
    }
}

TEST_F(WorldSides, BackToBackFacesShowTheirOwnSide) {
    // Two faces in one plane, back to back, lit differently: each side shows
    // its own, where drawn from both sides they fight over the depth.
    BspBuilder builder = Start();
    const int32_t grey = builder.AddLightmap(32, 32, 32);
    builder.AddPolygon(FrontSquare(-200.0f, 100.0f), 0, 0);
    std::vector<BspVertex> back = FrontSquare(-200.0f, 100.0f);
    std::reverse(back.begin(), back.end());
    builder.AddPolygon(back, 0, grey);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    EXPECT_TRUE(IsGreen(Centre(world, false)));
    const uint32_t behind = Centre(world, true);
    EXPECT_NEAR(static_cast<int>((behind >> 16) & 0xFF), 128, 3) << std::hex << behind;
    EXPECT_NEAR(static_cast<int>(behind & 0xFF), 128, 3) << std::hex << behind;
}

TEST_F(WorldSides, TheWorldsCullModeIsPutBackForWhatFollows) {
    BspBuilder builder = Start();
    builder.AddPolygon(FrontSquare(-200.0f, 100.0f), 0, 0);
    builder.AddPatch(3, 3, FrontPatch(-150.0f, 50.0f), 0, 0);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    std::vector<std::string> trace;
    D3D9SetTrace(GetDevice(), &trace);
    Centre(world, false);
    D3D9SetTrace(GetDevice(), nullptr);
    // The cull modes set over the frame: the world's (strips clockwise,
    // polygons counter-clockwise, nearest first), then the mode it found.
    std::string modes;
    for (const std::string& line : trace) {
        const std::string prefix = "SetRenderState(D3DRS_CULLMODE, ";
        if (line.rfind(prefix, 0) == 0) modes += line.substr(prefix.size(), 1);
    }
    EXPECT_NE(modes.find("1231"), std::string::npos) << modes;
}

TEST_F(WorldSides, BrushEntitiesAreDrawnWhereTheFilePutsThemWhileTheirBoxIsInView) {
    // The world's own face far off to the side; the door's face, listed by no
    // leaf, in front of the camera.
    BspBuilder builder = Start();
    std::vector<BspVertex> far = FrontSquare(-5000.0f, 10.0f);
    for (BspVertex& point : far) point.position[0] += 3000.0f;
    builder.AddPolygon(far, 0, 0);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();  // lists faces 0 and 1
    const int32_t door = builder.AddPolygon(FrontSquare(-200.0f, 100.0f), 0, 0);
    builder.AddModel({{-100, -100, -210}, {100, 100, -190}}, door, 1);
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    ASSERT_EQ(world->Data().models.size(), 1u);

    EXPECT_TRUE(IsGreen(Centre(world, false)));
    // Not without materials.
    r_materials.intValue = 0;
    EXPECT_FALSE(IsGreen(Centre(world, false)));
    r_materials.intValue = 1;

    // Its box decides: a box behind the camera keeps the face out.
    world->Data().models[0].mins[2] = 10.0f;
    world->Data().models[0].maxs[2] = 20.0f;
    EXPECT_FALSE(IsGreen(Centre(world, false)));
    g_renderer.EmptyCaches();
    RunWorldFrame(&*world);
    EXPECT_EQ(g_renderer.TgaSet().lists[0].used, 2u);  // the world's far face and mesh only
    g_renderer.EmptyCaches();

    // A face both a leaf and a model name is gathered once.
    world->Data().models[0].mins[2] = -6000.0f;
    world->Data().models[0].firstFace = 0;
    world->Data().models[0].numFaces = 3;
    RunWorldFrame(&*world);
    EXPECT_EQ(g_renderer.TgaSet().lists[0].used, 3u);
    g_renderer.EmptyCaches();
}

TEST_F(WorldSides, WithoutMaterialsTheFrameIsTheOneOfAWorldWithoutEntitiesOrCulling) {
    // Faces seen from behind, a brush entity and a shader that draws only
    // the back: with r_materials 0 none of it counts, byte for byte.
    folder_.Write("scripts/test.shader", "textures/test/white\n{\n\tcull back\n\t{\n\t\tmap $lightmap\n\t}\n}\n");
    BspBuilder plain = Start();
    std::vector<BspVertex> away = FrontSquare(-200.0f, 100.0f);
    std::reverse(away.begin(), away.end());
    plain.AddPolygon(away, 0, 0);
    plain.AddPatch(3, 3, FrontPatch(-150.0f, 50.0f), 0, plain.AddLightmap(32, 32, 32));
    AddHiddenMesh(&plain);
    plain.BuildSingleLeafTree();
    BspBuilder entities = plain;
    const int32_t door = entities.AddPolygon(FrontSquare(-100.0f, 20.0f), 0, 0);
    entities.AddModel({{-20, -20, -110}, {20, 20, -90}}, door, 1);

    const auto frame = [&](bool withMaterials) {
        r_materials.intValue = withMaterials ? 1 : 0;
        std::vector<std::string> trace;
        D3D9SetTrace(GetDevice(), &trace);
        std::vector<uint32_t> argb = Frame(dynamic_cast<World*>(world_.get()), D3DXVECTOR3(0.0f, 0.0f, 0.0f));
        D3D9SetTrace(GetDevice(), nullptr);
        // Nothing but the states of before: the cull mode is never asked for
        // nor set to cull.
        for (const std::string& line : trace) {
            if (!withMaterials) {
                EXPECT_EQ(line.find("GetRenderState(D3DRS_CULLMODE"), std::string::npos);
                EXPECT_NE(line, "SetRenderState(D3DRS_CULLMODE, 2)");
                EXPECT_NE(line, "SetRenderState(D3DRS_CULLMODE, 3)");
            }
        }
        return argb;
    };
    ASSERT_NE(Load(entities), nullptr) << ::testing::PrintToString(loadLines_);
    const std::vector<uint32_t> on = frame(true);
    const std::vector<uint32_t> off = frame(false);

    world_.reset();
    std::filesystem::remove(folder_.Path() + "/scripts/test.shader");
    ForgetWorldShaders();
    ASSERT_NE(Load(plain), nullptr) << ::testing::PrintToString(loadLines_);
    const std::vector<uint32_t> before = frame(false);
    ASSERT_FALSE(before.empty());
    EXPECT_TRUE(off == before);
    EXPECT_FALSE(on == before);  // the same world with materials is another picture
}
