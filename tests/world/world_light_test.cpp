// The worlds' own light scale (r_materials 1): lightmaps and vertex colours
// at four times their stored value, scaled down as a whole where they would
// pass 255, and faces that give light drawn at full intensity; with
// r_materials 0 the engine's doubling as before.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/game_system.h"
#include "support/loaded_world.h"
#include "video/shader_library.h"
#include "video/video_cvars.h"
#include "video/world_pictures.h"
#include "world/world_cvars.h"

namespace {

// The colour of a texture's first texel as 0xRRGGBB, and its alpha.
uint32_t FirstTexel(IDirect3DTexture9* texture, uint32_t* alpha = nullptr) {
    D3DLOCKED_RECT locked;
    if (texture == nullptr || FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return 0xDEAD;
    const uint32_t argb = *static_cast<const uint32_t*>(locked.pBits);
    texture->UnlockRect(0);
    if (alpha != nullptr) *alpha = argb >> 24;
    return argb & 0xFFFFFF;
}

class WorldLightScale : public DrawnWorld {
protected:
    void SetUp() override {
        DrawnWorld::SetUp();
        r_materials.intValue = 1;
        folder_.Write("textures/test/white.tga", SolidTga(2, 2, 255, 255, 255));
    }

    // One frame from the origin looking down -Z: the whole back buffer.
    std::vector<uint32_t> Frame(World* world) { return DrawnWorld::Frame(world, D3DXVECTOR3(0.0f, 0.0f, 0.0f)); }
    // The pixel at the centre of the screen as 0xRRGGBB.
    uint32_t CentrePixel(World* world) {
        return Pixel(world, D3DXVECTOR3(0.0f, 0.0f, 0.0f), 0.0f, 0.0f, 2, 0xDEADDEAD);
    }

    // A white face with the lightmap's colour in front of the camera.
    World* LightmappedWall(uint8_t r, uint8_t g, uint8_t b) {
        BspBuilder builder;
        builder.AddTexture("textures/test/white");
        builder.AddLightmap(r, g, b);
        builder.AddPolygon(Square(-100.0f, 60.0f, 255, 255, 255), 0, 0);
        AddHiddenMesh(&builder);
        builder.BuildSingleLeafTree();
        return Load(builder);
    }
    // A face of the texture without a lightmap, its vertices of one colour.
    World* VertexLitWall(const char* texture, uint8_t r, uint8_t g, uint8_t b) {
        BspBuilder builder;
        builder.AddTexture(texture);
        builder.AddLightmap(128, 128, 128);
        builder.AddPolygon(Square(-100.0f, 60.0f, r, g, b), 0, -1);
        AddHiddenMesh(&builder);
        builder.BuildSingleLeafTree();
        return Load(builder);
    }
};

}  // namespace

TEST(StoredLight, IsFourTimesTheStoredValueKeepingItsHueWhereItWouldPass255) {
    const auto scaled = [](uint8_t r, uint8_t g, uint8_t b) {
        const uint8_t in[3] = {r, g, b};
        uint8_t out[3] = {1, 2, 3};
        ScaleStoredLight(in, out);
        return std::vector<int>{out[0], out[1], out[2]};
    };
    EXPECT_EQ(scaled(200, 100, 50), (std::vector<int>{255, 127, 63}));
    EXPECT_EQ(scaled(40, 30, 20), (std::vector<int>{160, 120, 80}));
    EXPECT_EQ(scaled(63, 0, 63), (std::vector<int>{252, 0, 252}));  // the brightest that stays x4
    EXPECT_EQ(scaled(64, 32, 0), (std::vector<int>{255, 127, 0}));  // 256 is scaled down
    EXPECT_EQ(scaled(0, 0, 0), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(scaled(255, 255, 255), (std::vector<int>{255, 255, 255}));
    EXPECT_EQ(scaled(10, 255, 1), (std::vector<int>{10, 255, 1}));
}

TEST_F(WorldLightScale, LightmapsAreDrawnAtFourTimesTheirTexelsKeepingTheHue) {
    World* world = LightmappedWall(200, 100, 50);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    ASSERT_EQ(world->Pictures().scaledLightmaps.size(), 1u);
    EXPECT_EQ(FirstTexel(world->Pictures().lightmaps[0]), 0xC86432u);
    EXPECT_EQ(FirstTexel(world->Pictures().scaledLightmaps[0]), 0xFF7F3Fu);

    // Passing 255: scaled down as a whole, so red light stays red.
    EXPECT_RGB_NEAR(CentrePixel(world), 255, 127, 63, 1);
    // Switched off: the engine's doubling, clamped per channel (orange).
    r_materials.intValue = 0;
    EXPECT_RGB_NEAR(CentrePixel(world), 255, 200, 100, 1);

    // Under 255: four times the texel.
    world = LightmappedWall(40, 30, 20);
    ASSERT_NE(world, nullptr);
    r_materials.intValue = 1;
    EXPECT_RGB_NEAR(CentrePixel(world), 160, 120, 80, 1);
    r_materials.intValue = 0;
    EXPECT_RGB_NEAR(CentrePixel(world), 80, 60, 40, 1);
}

TEST_F(WorldLightScale, VertexColoursAreDrawnAtFourTimesTheirValueKeepingTheHue) {
    // No script: the face is lit by its vertex colours.
    World* world = VertexLitWall("textures/test/white", 200, 100, 50);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    EXPECT_FALSE(world->Pictures().textures[0].fullBright);
    EXPECT_RGB_NEAR(CentrePixel(world), 255, 127, 63, 1);
    r_materials.intValue = 0;
    EXPECT_RGB_NEAR(CentrePixel(world), 255, 200, 100, 1);

    world = VertexLitWall("textures/test/white", 40, 30, 20);
    ASSERT_NE(world, nullptr);
    r_materials.intValue = 1;
    EXPECT_RGB_NEAR(CentrePixel(world), 160, 120, 80, 1);
    r_materials.intValue = 0;
    EXPECT_RGB_NEAR(CentrePixel(world), 80, 60, 40, 1);
}

TEST_F(WorldLightScale, FacesThatGiveLightAreFullBrightUnlessTheirScriptAsksForVertexLight) {
    folder_.Write("scripts/test.shader",
                  "textures/test/lava\n{\n\t{\n\t\tmap textures/test/lava.tga\n\t}\n}\n"
                  "textures/test/lit\n{\n\t{\n\t\tmap textures/test/lava.tga\n\t\trgbGen exactVertex\n\t}\n}\n"
                  "textures/test/lit2\n{\n\t{\n\t\tmap textures/test/lava.tga\n\t\trgbGen identity\n\t}\n"
                  "\t{\n\t\tmap textures/test/lava.tga\n\t\tblendFunc filter\n\t\tRGBGEN Vertex\n\t}\n}\n");
    folder_.Write("textures/test/lava.tga", SolidTga(2, 2, 200, 60, 20));

    // Dark vertices do not darken lava.
    World* world = VertexLitWall("textures/test/lava", 10, 10, 10);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    EXPECT_TRUE(world->Pictures().textures[0].fullBright);
    EXPECT_RGB_NEAR(CentrePixel(world), 200, 60, 20, 1);
    // Switched off: lit by its vertices, as before (x2).
    r_materials.intValue = 0;
    EXPECT_RGB_NEAR(CentrePixel(world), 16, 5, 2, 1);

    // Scripts that ask for vertex light keep it: x4. The second multiplies
    // the image lit by its vertices onto the image.
    const struct {
        const char* name;
        int r, g, b;
    } lit[] = {{"textures/test/lit", 100, 30, 10}, {"textures/test/lit2", 78, 7, 1}};
    for (const auto& c : lit) {
        world = VertexLitWall(c.name, 32, 32, 32);
        ASSERT_NE(world, nullptr) << c.name;
        EXPECT_FALSE(world->Pictures().textures[0].fullBright) << c.name;
        r_materials.intValue = 1;
        EXPECT_RGB_NEAR(CentrePixel(world), c.r, c.g, c.b, 1);
        r_materials.intValue = 0;
        EXPECT_RGB_NEAR(CentrePixel(world), 50, 15, 5, 1);
    }

    // A face with a lightmap whose script draws no lightmap stage shows its
    // stages alone: the lava at full intensity.
    BspBuilder builder;
    builder.AddTexture("textures/test/lava");
    builder.AddLightmap(16, 16, 16);
    builder.AddPolygon(Square(-100.0f, 60.0f, 255, 255, 255), 0, 0);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    world = Load(builder);
    ASSERT_NE(world, nullptr);
    r_materials.intValue = 1;
    EXPECT_RGB_NEAR(CentrePixel(world), 200, 60, 20, 1);

    // The full-bright stand-in is white with alpha 0; the vertex light's is
    // opaque white.
    uint32_t alpha = 1;
    EXPECT_EQ(FirstTexel(world->Pictures().fullBright, &alpha), 0xFFFFFFu);
    EXPECT_EQ(alpha, 0u);
    EXPECT_EQ(FirstTexel(world->Pictures().vertexLight, &alpha), 0xFFFFFFu);
    EXPECT_EQ(alpha, 255u);
}

TEST_F(WorldLightScale, SwitchedOffTheFrameIsTheEnginesDoublingExactlyAndTheSwitchNeedsNoReload) {
    folder_.Write("scripts/test.shader", "textures/test/lava\n{\n\t{\n\t\tmap textures/test/lava.tga\n\t}\n}\n");
    folder_.Write("textures/test/lava.tga", SolidTga(2, 2, 200, 60, 20));
    BspBuilder builder;
    const int32_t wall = builder.AddTexture("textures/test/white");
    const int32_t lava = builder.AddTexture("textures/test/lava");
    builder.AddLightmap(64, 32, 16);
    builder.AddLightmap(200, 100, 50);
    builder.AddPolygon(Square(-300.0f, 2000.0f, 255, 255, 255), wall, 0);
    builder.AddPolygon(Square(-200.0f, 60.0f, 255, 255, 255), wall, 1);
    builder.AddPolygon(Square(-100.0f, 20.0f, 90, 40, 10), lava, -1);
    builder.AddPolygon(Square(-90.0f, 8.0f, 90, 40, 10), wall, -1);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);

    // The plain path, the fake HDR (the world drawn again into the bright
    // pass) and the depth of field; the blurs keep frames of before.
    for (int mode : {0, 1, 4}) {
        vid_effectmode.intValue = mode;
        r_materials.intValue = 0;
        const std::vector<uint32_t> before = Frame(world);
        ASSERT_FALSE(before.empty());
        if (mode == 0) {
            // The doubling, where it is exact: 64 x 2 = 128, 32 x 2, 16 x 2
            // over the white wall's first lightmap at the screen's edge.
            const uint32_t edge = before[static_cast<size_t>(height_ / 2) * width_ + 4] & 0xFFFFFF;
            EXPECT_EQ(edge, 0x804020u) << std::hex << edge;
        }
        r_materials.intValue = 1;
        const std::vector<uint32_t> lit = Frame(world);
        EXPECT_FALSE(lit == before) << mode;
        if (mode == 0) {
            const uint32_t edge = lit[static_cast<size_t>(height_ / 2) * width_ + 4] & 0xFFFFFF;
            EXPECT_RGB_NEAR(edge, 255, 127, 63, 1);  // 256 scaled down
        }
        // Back off on the next frame, byte for byte; and on again.
        r_materials.intValue = 0;
        EXPECT_TRUE(Frame(world) == before) << mode;
        r_materials.intValue = 1;
        EXPECT_TRUE(Frame(world) == lit) << mode;
    }
}

TEST_F(WorldLightScale, SwitchedOffTheStoredLightmapsAndTheVertexLightStandInAreDrawn) {
    folder_.Write("scripts/test.shader", "textures/test/lava\n{\n\t{\n\t\tmap textures/test/lava.tga\n\t}\n}\n");
    folder_.Write("textures/test/lava.tga", SolidTga(2, 2, 200, 60, 20));
    BspBuilder builder;
    const int32_t wall = builder.AddTexture("textures/test/white");
    const int32_t lava = builder.AddTexture("textures/test/lava");
    builder.AddLightmap(64, 32, 16);
    builder.AddPolygon(Square(-200.0f, 60.0f, 255, 255, 255), wall, 0);
    builder.AddPolygon(Square(-100.0f, 20.0f, 90, 40, 10), lava, -1);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    const WorldPictures& pictures = world->Pictures();

    // The lightmaps the gathered items carry.
    const auto lightmapsOf = [&](int32_t texture) {
        std::vector<IDirect3DTexture9*> seen;
        // Both images are .tga files: their items are in the tga set.
        const RenderList& list = g_renderer.TgaSet().lists[static_cast<size_t>(texture)];
        for (uint32_t i = 0; i < list.used; ++i) seen.push_back(list.items[i].lightmapTexture);
        return seen;
    };
    const auto gather = [&] {
        g_renderer.EmptyCaches();
        g_camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
        EXPECT_EQ(RunWorldFrame(world), 1);
    };
    r_materials.intValue = 0;
    gather();
    // The wall's texture draws the wall and the mesh behind the camera.
    EXPECT_EQ(lightmapsOf(wall), std::vector<IDirect3DTexture9*>(2, pictures.lightmaps[0]));
    EXPECT_EQ(lightmapsOf(lava), std::vector<IDirect3DTexture9*>{pictures.vertexLight});
    r_materials.intValue = 1;
    gather();
    EXPECT_EQ(lightmapsOf(wall), std::vector<IDirect3DTexture9*>(2, pictures.scaledLightmaps[0]));
    EXPECT_EQ(lightmapsOf(lava), std::vector<IDirect3DTexture9*>{pictures.fullBright});
    g_renderer.EmptyCaches();

    // The copies count in the world's size, and go with it.
    EXPECT_GE(world->SizeInBytes(), 2u * kLightmapSize * kLightmapSize * 4);
}

TEST_F(WorldLightScale, TheFakeHdrGlowStaysOnTheLightsAtTheNewScale) {
    // A wall lit to about half (32 x 4 = 128) and, in front of it, a white
    // face that gives light; both fill the screen where they are looked at.
    folder_.Write("scripts/test.shader", "textures/test/lamp\n{\n\t{\n\t\tmap textures/test/white.tga\n\t}\n}\n");
    BspBuilder builder;
    const int32_t wall = builder.AddTexture("textures/test/white");
    builder.AddLightmap(32, 32, 32);
    builder.AddPolygon(Square(-100.0f, 2000.0f, 255, 255, 255), wall, 0);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    vid_effectmode.intValue = 1;

    // The wall is below the bright pass: the tone map of its light alone,
    // 1 - exp(-1.8 x 0.502) = 0.595, where a glow would add a tenth.
    const uint32_t wallPixel = CentrePixel(world);
    EXPECT_RGB_NEAR(wallPixel, 152, 152, 152, 3);

    builder.AddTexture("textures/test/lamp");
    builder.AddPolygon(Square(-50.0f, 1000.0f, 20, 20, 20), 1, -1);
    builder.BuildSingleLeafTree();
    world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    // The lamp at full intensity glows past the tone map of its own light
    // (1 - exp(-1.8) = 0.835, 213).
    EXPECT_GT(Red(CentrePixel(world)), 222);
}
