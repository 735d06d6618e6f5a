// Worlds drawn as their shader scripts describe them: images found through
// scripts, sky boxes, faces lit by their vertex colours and faces that add
// their light.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/game_system.h"
#include "base/archive_files.h"
#include "support/loaded_world.h"
#include "support/zip_writer.h"
#include "video/video_cvars.h"
#include "video/shader_library.h"
#include "world/world_cvars.h"

namespace {

class WorldShaderScripts : public DrawnWorld {
protected:
    void SetUp() override {
        DrawnWorld::SetUp();
        // The colours below are those of the engine's doubling of the
        // stored light; the worlds' own light scale has its own tests
        // (world_light_test.cpp).
        r_materials.intValue = 0;
    }

    // One frame of the world from the origin looking down -Z; the pixel at
    // the centre of the screen as 0xRRGGBB.
    uint32_t CentrePixel(World* world) { return Pixel(world, D3DXVECTOR3(0.0f, 0.0f, 0.0f), 0.0f, 2); }
    // The same from position, pitched, at the middle of the row height / part.
    uint32_t Pixel(World* world, const D3DXVECTOR3& position, float pitch, int part) {
        return DrawnWorld::Pixel(world, position, 0.0f, pitch, part, 0);
    }
};

}  // namespace

TEST_F(WorldShaderScripts, ImagesAreFoundThroughTheScriptsAsTgaOrJpg) {
    folder_.Write("scripts/test.shader",
                  "textures/test/renamed\n{\n\t{\n\t\tmap $lightmap\n\t}\n\t{\n\t\tmap textures/real/stone.jpg\n"
                  "\t\tblendFunc GL_DST_COLOR GL_ZERO\n\t}\n}\n"
                  "textures/test/editor\n{\n\tqer_editorimage textures/real/editor.tga\n\t{\n\t\tmap $lightmap\n\t}\n}\n"
                  "textures/test/animated\n{\n\t{\n\t\tanimMap 5 textures/real/frame1.tga textures/real/frame2.tga\n"
                  "\t}\n}\n"
                  "textures/test/nothing\n{\n\t{\n\t\tmap textures/real/absent.tga\n\t}\n}\n");
    folder_.Write("textures/real/stone.tga", SolidTga(2, 2, 10, 20, 30));  // named .jpg, shipped .tga
    folder_.Write("textures/real/editor.tga", SolidTga(2, 2, 40, 50, 60));
    folder_.Write("textures/real/frame1.tga", SolidTga(2, 2, 70, 80, 90));

    BspBuilder builder = BspBuilder::MinimalWorld();
    builder.Textures().clear();
    for (const char* name : {"textures/test/renamed", "textures/test/editor", "textures/test/animated",
                             "textures/test/nothing", "textures/test/unscripted"}) {
        builder.AddTexture(name);
    }
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    std::vector<std::string> failed;
    for (const std::string& line : loadLines_) {
        if (line.rfind("Failed to load texture", 0) == 0 || line.rfind("Loaded", 0) == 0 ||
            line.rfind("Shader scripts:", 0) == 0) {
            failed.push_back(line.substr(0, line.rfind(" in ")));
        }
    }
    EXPECT_EQ(failed, (std::vector<std::string>{"Shader scripts: 4 shaders from 1 scripts", "Failed to load texture 3",
                                                "Failed to load texture 4", "Loaded 3 textures"}));
    // Each failure is followed by the names its image was looked for under,
    // the script's image included.
    const auto named = [&](const std::string& line) {
        return std::find(loadLines_.begin(), loadLines_.end(), line) != loadLines_.end();
    };
    EXPECT_TRUE(named("Texture 3 is textures/test/nothing; tried textures\\test\\nothing, textures/real/absent as "
                      ".tga and .jpg"))
        << ::testing::PrintToString(loadLines_);
    EXPECT_TRUE(named("Texture 4 is textures/test/unscripted; tried textures\\test\\unscripted as .tga and .jpg"));
    ASSERT_NE(world->Pictures().textures[0].texture, nullptr);
    EXPECT_TRUE(world->Pictures().textures[0].fromTga);
    EXPECT_NE(world->Pictures().textures[1].texture, nullptr);
    EXPECT_NE(world->Pictures().textures[2].texture, nullptr);
    EXPECT_EQ(world->Pictures().textures[3].texture, nullptr);
}

// The colour of a texture's first texel as 0xRRGGBB.
uint32_t FirstTexel(IDirect3DTexture9* texture) {
    D3DLOCKED_RECT locked;
    if (texture == nullptr || FAILED(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY))) return 0xDEAD;
    const uint32_t argb = *static_cast<const uint32_t*>(locked.pBits);
    texture->UnlockRect(0);
    return argb & 0xFFFFFF;
}

TEST_F(WorldShaderScripts, EachRecordGetsItsOwnImageAndADamagedFileFallsThrough) {
    // More records than images decoded ahead of the upload, each its own colour.
    BspBuilder builder = BspBuilder::MinimalWorld();
    builder.Textures().clear();
    for (int i = 0; i < 12; ++i) {
        const std::string name = "textures/many/t" + std::to_string(i);
        folder_.Write(name + ".tga", SolidTga(2, 2, static_cast<uint8_t>(i * 20), 7, 9));
        builder.AddTexture(name.c_str());
    }
    // A record whose .tga is damaged: its .jpg is absent, so the image of its
    // script is drawn; one whose every file is damaged fails.
    folder_.Write("textures/many/broken.tga", "\0\0\2 not a picture");
    folder_.Write("textures/real/fallback.tga", SolidTga(2, 2, 1, 2, 3));
    folder_.Write("textures/many/hopeless.tga", std::string(18, '\xff'));
    folder_.Write("scripts/many.shader", "textures/many/broken\n{\n\t{\n\t\tmap textures/real/fallback.tga\n\t}\n}\n");
    builder.AddTexture("textures/many/broken");
    builder.AddTexture("textures/many/hopeless");
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(FirstTexel(world->Pictures().textures[i].texture), static_cast<uint32_t>(i * 20) << 16 | 0x0709) << i;
        EXPECT_TRUE(world->Pictures().textures[i].fromTga);
    }
    EXPECT_EQ(FirstTexel(world->Pictures().textures[12].texture), 0x010203u);
    EXPECT_EQ(world->Pictures().textures[13].texture, nullptr);
    std::vector<std::string> outcome;
    for (const std::string& line : loadLines_) {
        if (line.rfind("Failed to load texture", 0) == 0 || line.rfind("Loaded", 0) == 0) outcome.push_back(line);
    }
    EXPECT_EQ(outcome, (std::vector<std::string>{"Failed to load texture 13", "Loaded 13 textures"}));
}

TEST_F(WorldShaderScripts, TheContentFolderWinsThenTheArchiveSearchedFirst) {
    ZipWriter early, late;
    early.Add("scripts/base.shader", "textures/a/one\n{\n\tqer_editorimage early/one\n}\n"
                                     "textures/a/two\n{\n\tqer_editorimage early/two\n}\n");
    late.Add("scripts/patch.shader", "textures/a/one\n{\n\tqer_editorimage late/one\n}\n"
                                     "textures/a/three\n{\n\tqer_editorimage late/three\n}\n");
    ASSERT_TRUE(early.WriteTo(folder_.Path() + "/data/pak0.pk3"));
    ASSERT_TRUE(late.WriteTo(folder_.Path() + "/data/pak1.pk3"));
    folder_.Write("scripts/mine.shader", "textures/a/three\n{\n\tqer_editorimage mine/three\n}\n"
                                         "textures/a/broken\n{\n\t{\n\t\tmap x\n}\n");
    MountDataFolders({folder_.Path() + "/data"});

    PrintCapture output;
    const ShaderTable& table = WorldShaders();
    ASSERT_NE(table.Find("textures/a/one"), nullptr);
    EXPECT_EQ(table.Find("textures/a/one")->editorImage, "late/one");
    EXPECT_EQ(table.Find("textures/a/two")->editorImage, "early/two");
    EXPECT_EQ(table.Find("TEXTURES\\A\\THREE")->editorImage, "mine/three");
    EXPECT_EQ(table.Find("textures/a/broken"), nullptr);
    ASSERT_EQ(output.Lines().size(), 2u) << ::testing::PrintToString(output.Lines());
    EXPECT_EQ(output.Lines()[0].rfind("Warning: scripts/mine.shader:", 0), 0u);
    EXPECT_EQ(output.Lines()[1].rfind("Shader scripts: 3 shaders from 3 scripts in ", 0), 0u) << output.Lines()[1];

    // Read once: later worlds reuse the table until the archives change.
    output.Clear();
    WorldShaders();
    EXPECT_TRUE(output.Lines().empty());
    UnmountDataFolders();
    EXPECT_EQ(WorldShaders().Find("textures/a/one"), nullptr);
    EXPECT_EQ(output.Last().rfind("Shader scripts: 1 shaders from 1 scripts", 0), 0u);
}

TEST_F(WorldShaderScripts, ScriptsReadAheadGiveTheSameTableAndLinesWhenFirstUsed) {
    ZipWriter archive;
    archive.Add("scripts/base.shader", "textures/a/one\n{\n\tqer_editorimage early/one\n}\n");
    ASSERT_TRUE(archive.WriteTo(folder_.Path() + "/data/pak0.pk3"));
    folder_.Write("scripts/mine.shader", "textures/a/two\n{\n\tqer_editorimage mine/two\n}\n"
                                         "textures/a/broken\n{\n\t{\n\t\tmap x\n}\n");
    MountDataFolders({folder_.Path() + "/data"});

    // Nothing is said while the scripts are read; the first use says it.
    PrintCapture output;
    ReadWorldShadersAhead();
    for (int i = 0; i < 3; ++i) ReadWorldShadersAhead();  // a new reading waits for the last
    const ShaderTable& table = WorldShaders();
    ASSERT_NE(table.Find("textures/a/one"), nullptr);
    EXPECT_EQ(table.Find("textures/a/one")->editorImage, "early/one");
    EXPECT_EQ(table.Find("textures/a/two")->editorImage, "mine/two");
    ASSERT_EQ(output.Lines().size(), 2u) << ::testing::PrintToString(output.Lines());
    EXPECT_EQ(output.Lines()[0].rfind("Warning: scripts/mine.shader:", 0), 0u);
    EXPECT_EQ(output.Lines()[1].rfind("Shader scripts: 2 shaders from 2 scripts in ", 0), 0u) << output.Lines()[1];
    output.Clear();
    WorldShaders();
    EXPECT_TRUE(output.Lines().empty());

    // A reading made before the archives changed is not used.
    ReadWorldShadersAhead();
    UnmountDataFolders();
    EXPECT_EQ(WorldShaders().Find("textures/a/one"), nullptr);
    EXPECT_NE(WorldShaders().Find("textures/a/two"), nullptr);
    ASSERT_EQ(output.Lines().size(), 2u) << ::testing::PrintToString(output.Lines());
    EXPECT_EQ(output.Last().rfind("Shader scripts: 1 shaders from 1 scripts", 0), 0u);
}

TEST_F(WorldShaderScripts, FacesWithoutALightmapAreLitByTheirVertexColours) {
    folder_.Write("textures/test/white.tga", SolidTga(2, 2, 255, 255, 255));
    BspBuilder builder;
    builder.AddTexture("textures/test/white");
    builder.AddLightmap(128, 128, 128);
    builder.AddPolygon(Square(-100.0f, 60.0f, 128, 32, 0), 0, -1);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);

    // White image x twice the vertex colour, as lightmaps are doubled.
    const uint32_t lit = CentrePixel(world);
    EXPECT_NEAR(static_cast<int>((lit >> 16) & 0xFF), 255, 2);
    EXPECT_NEAR(static_cast<int>((lit >> 8) & 0xFF), 64, 3);
    EXPECT_NEAR(static_cast<int>(lit & 0xFF), 0, 2);

    // Without vertex lighting the face is left out, as it always was: the sky
    // shows through.
    bsp_vertexlit.intValue = 0;
    const uint32_t sky = CentrePixel(world);
    EXPECT_NE(sky, lit);
    EXPECT_EQ(g_renderer.ItemsDrawn(), 1u);  // the mesh behind the camera only
}

TEST_F(WorldShaderScripts, HiddenSurfacesStayOutAndAdditiveOnesAddTheirLight) {
    folder_.Write("scripts/test.shader",
                  "textures/test/glow\n{\n\t{\n\t\tmap textures/test/white.tga\n\t\tblendFunc add\n\t}\n}\n"
                  "textures/test/clip\n{\n\tsurfaceparm nodraw\n}\n"
                  "textures/test/fog\n{\n\tfogparms ( 0.5 0.5 0.5 ) 512\n}\n"
                  "textures/test/heaven\n{\n\tsurfaceparm sky\n}\n");
    folder_.Write("textures/test/white.tga", SolidTga(2, 2, 255, 255, 255));
    BspBuilder builder;
    const int32_t wall = builder.AddTexture("textures/test/white");
    const int32_t glow = builder.AddTexture("textures/test/glow");
    const int32_t clip = builder.AddTexture("textures/test/clip");
    const int32_t fog = builder.AddTexture("textures/test/fog");
    const int32_t heaven = builder.AddTexture("textures/test/heaven");
    const int32_t flagged = builder.AddTexture("textures/test/white_sky_by_flag", 1, 0x4);
    builder.AddLightmap(64, 64, 64);
    builder.AddPolygon(Square(-200.0f, 150.0f, 0, 0, 0), wall, 0);  // lightmap 64: grey 128
    builder.AddPolygon(Square(-100.0f, 60.0f, 0, 0, 32), glow, -1);  // adds blue 64
    for (int32_t hidden : {clip, fog, heaven, flagged}) builder.AddPolygon(Square(-50.0f, 20.0f, 255, 0, 0), hidden, -1);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    EXPECT_TRUE(world->Pictures().textures[static_cast<size_t>(glow)].additive);
    EXPECT_FALSE(world->Pictures().textures[static_cast<size_t>(wall)].additive);
    for (int32_t hidden : {clip, fog, heaven, flagged}) EXPECT_TRUE(world->Pictures().textures[static_cast<size_t>(hidden)].hidden);
    EXPECT_TRUE(g_renderer.IsAdditive(static_cast<uint32_t>(glow)));
    EXPECT_FALSE(g_renderer.IsAdditive(static_cast<uint32_t>(wall)));

    // Grey wall plus the glow in front of it; the hidden faces in front of
    // both are not drawn.
    const uint32_t pixel = CentrePixel(world);
    EXPECT_EQ(g_renderer.ItemsDrawn(), 3u);  // wall, glow and the mesh behind the camera
    EXPECT_NEAR(static_cast<int>((pixel >> 16) & 0xFF), 128, 3);
    EXPECT_NEAR(static_cast<int>((pixel >> 8) & 0xFF), 128, 3);
    EXPECT_NEAR(static_cast<int>(pixel & 0xFF), 192, 3);

    // The additive faces come last, blended and without writing depth, and
    // the state is put back afterwards.
    std::vector<std::string> trace;
    D3D9SetTrace(GetDevice(), &trace);
    CentrePixel(world);
    D3D9SetTrace(GetDevice(), nullptr);
    size_t draws = 0, zOff = 0, zOn = 0;
    for (size_t i = 0; i < trace.size(); ++i) {
        if (trace[i].find("DrawPrimitive") != std::string::npos || trace[i].find("DrawIndexedPrimitive") != std::string::npos) {
            ++draws;
        }
        if (trace[i].find("D3DRS_ZWRITEENABLE") != std::string::npos) {
            (trace[i].find("FALSE") != std::string::npos || trace[i].find(", 0") != std::string::npos ? zOff : zOn) = i;
        }
    }
    EXPECT_GT(draws, 0u);
    EXPECT_GT(zOff, 0u);
    EXPECT_LT(zOff, zOn);
    EXPECT_GT(zOn, 0u);
}

TEST_F(WorldShaderScripts, WithoutVertexLightingAdditiveLightmappedFacesAreDrawnOpaqueAsBefore) {
    // A grey wall and, in front of it, a lightmapped blue face whose shader
    // adds its light.
    folder_.Write("scripts/test.shader",
                  "textures/test/glow\n{\n\t{\n\t\tmap textures/test/glow.tga\n\t\tblendFunc add\n\t}\n}\n");
    folder_.Write("textures/test/white.tga", SolidTga(2, 2, 255, 255, 255));
    folder_.Write("textures/test/glow.tga", SolidTga(2, 2, 0, 0, 255));
    BspBuilder builder;
    const int32_t wall = builder.AddTexture("textures/test/white");
    const int32_t glow = builder.AddTexture("textures/test/glow");
    builder.AddLightmap(64, 64, 64);
    builder.AddPolygon(Square(-200.0f, 150.0f, 0, 0, 0), wall, 0);
    builder.AddPolygon(Square(-100.0f, 60.0f, 0, 0, 0), glow, 0);
    AddHiddenMesh(&builder);
    builder.BuildSingleLeafTree();
    const auto frame = [&](World* world) {
        g_camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
        EXPECT_EQ(RunWorldFrame(&*world), 1);
        EXPECT_EQ(g_renderer.frame(), 0);
        std::vector<uint32_t> argb;
        int width = 0, height = 0;
        EXPECT_TRUE(D3D9ReadBackBuffer(GetDevice(), &argb, &width, &height));
        return argb;
    };

    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    ASSERT_TRUE(world->Pictures().textures[static_cast<size_t>(glow)].additive);
    // With vertex lighting the blue is added onto the grey wall.
    EXPECT_NEAR(static_cast<int>(CentrePixel(world) & 0xFF), 255, 3);
    EXPECT_NEAR(static_cast<int>((CentrePixel(world) >> 16) & 0xFF), 128, 3);

    // Switched off: the face hides the wall, blue x lightmap, as every
    // lightmapped face was drawn before the scripts lit faces.
    bsp_vertexlit.intValue = 0;
    const std::vector<uint32_t> off = frame(world);
    EXPECT_FALSE(g_renderer.IsAdditive(static_cast<uint32_t>(glow)));
    const uint32_t centre = CentrePixel(world);
    EXPECT_NEAR(static_cast<int>((centre >> 16) & 0xFF), 0, 2);
    EXPECT_NEAR(static_cast<int>((centre >> 8) & 0xFF), 0, 2);
    EXPECT_NEAR(static_cast<int>(centre & 0xFF), 128, 3);

    // Exactly the picture of the same world whose textures have no scripts.
    world_.reset();
    std::filesystem::remove(folder_.Path() + "/scripts/test.shader");
    ForgetWorldShaders();
    World* plain = Load(builder);
    ASSERT_NE(plain, nullptr) << ::testing::PrintToString(loadLines_);
    ASSERT_FALSE(plain->Pictures().textures[static_cast<size_t>(glow)].additive);
    const std::vector<uint32_t> expected = frame(plain);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(off == expected);

    // A world loaded while the switch is off is drawn opaque from its first
    // frame, and switching back on adds the light again.
    world_.reset();
    folder_.Write("scripts/test.shader",
                  "textures/test/glow\n{\n\t{\n\t\tmap textures/test/glow.tga\n\t\tblendFunc add\n\t}\n}\n");
    ForgetWorldShaders();
    world = Load(builder);
    ASSERT_NE(world, nullptr);
    EXPECT_FALSE(g_renderer.IsAdditive(static_cast<uint32_t>(glow)));
    EXPECT_TRUE(frame(world) == expected);
    bsp_vertexlit.intValue = 1;
    EXPECT_NEAR(static_cast<int>((CentrePixel(world) >> 16) & 0xFF), 128, 3);
    EXPECT_TRUE(g_renderer.IsAdditive(static_cast<uint32_t>(glow)));
}

TEST_F(WorldShaderScripts, ASkyShaderWithABoxReplacesTheEnginesSkyWhileItsWorldLives) {
    folder_.Write("scripts/sky.shader", "textures/skies/night\n{\n\tsurfaceparm sky\n\tskyParms env/night 512 -\n}\n"
                                        "textures/skies/broken\n{\n\tsurfaceparm sky\n\tskyParms env/none 512 -\n}\n");
    for (const char* side : {"rt", "lf", "ft", "bk", "up"}) {
        folder_.Write(std::string("env/night_") + side + ".tga", SolidTga(2, 2, 0, 0, 40));
    }
    BspBuilder builder = BspBuilder::MinimalWorld();
    builder.AddTexture("textures/skies/night");
    World* world = Load(builder);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->Pictures().skyName, "env/night");
    ASSERT_TRUE(g_renderer.HasWorldSky());

    // Looking into the sky: the box's dark blue, not the engine's sky.
    EXPECT_EQ(Pixel(world, D3DXVECTOR3(0.0f, 500.0f, 0.0f), 30.0f, 4), 0x000028u);
    EXPECT_EQ(Pixel(world, D3DXVECTOR3(0.0f, 500.0f, 0.0f), -30.0f, 4), 0x000028u);

    // The next world without a box goes back to the engine's sky.
    world_.reset();
    EXPECT_FALSE(g_renderer.HasWorldSky());
    BspBuilder broken = BspBuilder::MinimalWorld();
    broken.AddTexture("textures/skies/broken");
    ASSERT_NE(Load(broken), nullptr);
    EXPECT_FALSE(g_renderer.HasWorldSky());
    bool warned = false;
    for (const std::string& line : loadLines_) {
        warned |= line == "Warning: the sky box env/none has no image env/none_ft; the engine's sky is drawn";
    }
    EXPECT_TRUE(warned) << ::testing::PrintToString(loadLines_);
}

// The box's images meet edge to edge: walking along an edge the two faces
// share reads the same line of the box on both.
TEST(WorldSkyBox, NeighbouringImagesMeetAtTheirEdges) {
    // Faces in the renderer's order: -Z _ft, +Z _bk, +X _rt, -X _lf, +Y _up.
    enum { kFt = 0, kBk = 1, kRt = 2, kLf = 3, kUp = 4 };
    const float s = kSkyHalfSize;
    // Each corner of the box has the image corners the box's layout gives
    // it, on every face that meets there.
    auto uv = [](int face, float x, float y, float z) {
        const GpuVertex* v = g_renderer.WorldSkyFace(face);
        for (int i = 0; i < 4; ++i) {
            if (v[i].position[0] == x && v[i].position[1] == y && v[i].position[2] == z) {
                return std::pair<float, float>(v[i].texCoord[0], v[i].texCoord[1]);
            }
        }
        ADD_FAILURE() << "face " << face << " has no corner " << x << " " << y << " " << z;
        return std::pair<float, float>(-1, -1);
    };
    using UV = std::pair<float, float>;
    // Seen from inside, each side image is upright: its top at +Y.
    for (int face : {kFt, kBk, kRt, kLf}) {
        for (int i = 0; i < 4; ++i) {
            const GpuVertex& v = g_renderer.WorldSkyFace(face)[i];
            EXPECT_EQ(v.texCoord[1], v.position[1] > 0 ? 0.0f : 1.0f);
        }
    }
    // Turning right from _rt: _ft, _lf, _bk. The right edge of each meets
    // the left edge of the next.
    EXPECT_EQ(uv(kRt, s, s, -s), UV(1, 0));
    EXPECT_EQ(uv(kFt, s, s, -s), UV(0, 0));
    EXPECT_EQ(uv(kFt, -s, s, -s), UV(1, 0));
    EXPECT_EQ(uv(kLf, -s, s, -s), UV(0, 0));
    EXPECT_EQ(uv(kLf, -s, s, s), UV(1, 0));
    EXPECT_EQ(uv(kBk, -s, s, s), UV(0, 0));
    EXPECT_EQ(uv(kBk, s, s, s), UV(1, 0));
    EXPECT_EQ(uv(kRt, s, s, s), UV(0, 0));
    // _up meets _rt with its lower edge (left to right alike) and _ft with
    // its right edge.
    EXPECT_EQ(uv(kUp, s, s, s), UV(0, 1));
    EXPECT_EQ(uv(kUp, s, s, -s), UV(1, 1));
    EXPECT_EQ(uv(kUp, -s, s, -s), UV(1, 0));
    EXPECT_EQ(uv(kUp, -s, s, s), UV(0, 0));
}
