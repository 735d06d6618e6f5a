// Worlds by name, from the content folder and the archives, and the camera at
// their spawn points.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "base/archive_files.h"
#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "camera/physics.h"
#include "console/command_interpreter.h"
#include "engine/game_system.h"
#include "engine/world_catalogue.h"
#include "support/bsp_builder.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "support/zip_writer.h"
#include "video/resource_manager.h"
#include "video/video_system.h"
#include "engine/world.h"
#include "world/world_cvars.h"

namespace {

// A floor with a spawn point (or none) in the entity text.
BspBuilder WorldWithSpawns(const std::string& entities) {
    BspBuilder builder = BspBuilder::MinimalWorld();
    builder.SetEntities(entities);
    return builder;
}

std::string FileOf(const BspBuilder& builder) {
    const std::vector<uint8_t> bytes = builder.Bytes();
    return std::string(bytes.begin(), bytes.end());
}

const char* kTwoSpawns =
    "{ \"classname\" \"worldspawn\" }\n"
    "{ \"classname\" \"info_player_deathmatch\" \"origin\" \"100 200 30\" \"angle\" \"90\" }\n"
    "{ \"classname\" \"info_player_deathmatch\" \"origin\" \"-50 0 10\" \"angle\" \"180\" }\n";

class WorldsByName : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.CopyContent({"shaders.hlsl", "materials.hlsl", "noshader.jpg"});
        window_ = std::make_unique<HeadlessWindow>();
        ASSERT_EQ(g_videoSystem.Initialise(), 1);
        g_resourceManager.Initialise();
        g_gameSystem.InitGame();
        savedNoclip_ = bsp_noclip.intValue;
    }
    void TearDown() override {
        g_gameSystem.shutdown(0);
        g_gameSystem.finished = 0;
        g_videoSystem.shutdown(0);
        window_.reset();
        UnmountDataFolders();
        bsp_noclip.intValue = savedNoclip_;
        g_camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
        g_camera.EyeOffset() = D3DXVECTOR3(0.0f, 0.0f, 0.0f);  // the physics step raises the eye
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
    }

    void MountArchive(const ZipWriter& zip, const std::string& name = "pak0.pk3") {
        ASSERT_TRUE(zip.WriteTo(folder_.Path() + "/data/" + name));
        MountDataFolders({folder_.Path() + "/data"});
    }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
    int savedNoclip_ = 1;
};

}  // namespace

TEST(WorldNames, OnlyBareNamesAreLookedUpByName) {
    EXPECT_TRUE(IsWorldName("oa_dm1"));
    EXPECT_TRUE(IsWorldName("ctf-compromise_2"));
    EXPECT_FALSE(IsWorldName("maps/oa_dm1"));
    EXPECT_FALSE(IsWorldName("maps\\oa_dm1"));
    EXPECT_FALSE(IsWorldName("oa_dm1.bsp"));
    EXPECT_FALSE(IsWorldName(".."));
    EXPECT_FALSE(IsWorldName(""));
    EXPECT_FALSE(IsWorldName(nullptr));
    EXPECT_FALSE(IsWorldName(std::string(64, 'a').c_str()));
}

TEST_F(WorldsByName, LmfBeforeBspAndTheContentFolderBeforeTheArchives) {
    ZipWriter zip;
    const std::string world = FileOf(WorldWithSpawns(kTwoSpawns));
    zip.Add("maps/both.bsp", world);
    zip.Add("maps/both.lmf", world);
    zip.Add("maps/archived.bsp", world);
    zip.Add("maps/Shadowed.bsp", world);
    zip.Add("maps/notes.txt", "not a world");
    MountArchive(zip);
    folder_.Write("maps/shadowed.lmf", world);
    folder_.Write("maps/local.bsp", world);

    EXPECT_EQ(FindWorldByName("both"), "maps/both.lmf");
    EXPECT_EQ(FindWorldByName("archived"), "maps/archived.bsp");
    EXPECT_EQ(FindWorldByName("ARCHIVED"), "maps/ARCHIVED.bsp");  // found ignoring case, as every path
    EXPECT_EQ(FindWorldByName("local"), "maps/local.bsp");
    EXPECT_EQ(FindWorldByName("nothing"), "");

    const std::string pak = folder_.Path() + "/data/pak0.pk3";
    std::vector<std::string> listed;
    for (const WorldListing& entry : ListWorlds()) listed.push_back(entry.name + " " + entry.path + " " + entry.source);
    EXPECT_EQ(listed, (std::vector<std::string>{"archived maps/archived.bsp " + pak, "both maps/both.lmf " + pak,
                                                "local maps/local.bsp content folder",
                                                "shadowed maps/shadowed.lmf content folder"}));

    PrintCapture output;
    ExecuteLine("maps");
    ASSERT_EQ(output.Lines().size(), 5u);
    EXPECT_EQ(output.Lines()[2], "local                    maps/local.bsp (content folder)");
    EXPECT_EQ(output.Last(), "4 worlds");
}

TEST_F(WorldsByName, ANameLoadsFromTheArchivesAndStartsAtTheFirstSpawnPoint) {
    ZipWriter zip;
    zip.Add("maps/arena2.bsp", FileOf(WorldWithSpawns(kTwoSpawns)));
    MountArchive(zip);
    g_camera.SetPosition(D3DXVECTOR3(1.0f, 2.0f, 3.0f));
    p_thrust.floatValue = 5.0f;

    PrintCapture output;
    ASSERT_EQ(g_gameSystem.Map("arena2"), 1) << ::testing::PrintToString(output.Lines());
    EXPECT_TRUE(output.Contains("Loading resource (4), maps/arena2.bsp"));
    EXPECT_EQ(output.Last(), "Spawn point 0 of 2: info_player_deathmatch at 100 30 200");
    // The eye stands above the origin (the file's Z is the engine's Y) and
    // faces the spawn's angle: 90 degrees is the file's +Y, the engine's +Z.
    const D3DXVECTOR3 position = g_camera.GetPosition();
    EXPECT_FLOAT_EQ(position.x, 100.0f);
    EXPECT_FLOAT_EQ(position.y, 56.0f);
    EXPECT_FLOAT_EQ(position.z, 200.0f);
    EXPECT_FLOAT_EQ(p_thrust.floatValue, 0.0f);
    const D3DXVECTOR3 look = g_camera.Look();
    EXPECT_NEAR(look.x, 0.0f, 1e-5f);
    EXPECT_NEAR(look.z, 1.0f, 1e-5f);

    output.Clear();
    ExecuteLine("map");
    EXPECT_EQ(output.Last(), "Current map is: maps/arena2.bsp");
}

TEST_F(WorldsByName, SpawnCyclesAndChecksItsArgument) {
    folder_.Write("maps/two.lmf", FileOf(WorldWithSpawns(kTwoSpawns)));
    ASSERT_EQ(g_gameSystem.Map("two"), 1);
    PrintCapture output;
    ExecuteLine("spawn");
    EXPECT_EQ(output.Last(), "Spawn point 1 of 2: info_player_deathmatch at -50 10 0");
    EXPECT_FLOAT_EQ(g_camera.GetPosition().x, -50.0f);
    EXPECT_NEAR(g_camera.Look().x, -1.0f, 1e-5f);  // 180 degrees: the file's -X
    ExecuteLine("spawn");
    EXPECT_EQ(output.Last(), "Spawn point 0 of 2: info_player_deathmatch at 100 30 200");
    ExecuteLine("spawn 1");
    EXPECT_EQ(output.Last(), "Spawn point 1 of 2: info_player_deathmatch at -50 10 0");

    const D3DXVECTOR3 before = g_camera.GetPosition();
    for (const char* bad : {"spawn 2", "spawn -1", "spawn x", "spawn 1x", "spawn 99999999999"}) {
        output.Clear();
        ExecuteLine(bad);
        EXPECT_EQ(output.Last(), "syntax: spawn [N], N from 0 to 1") << bad;
    }
    EXPECT_FLOAT_EQ(g_camera.GetPosition().x, before.x);
}

TEST_F(WorldsByName, WorldsWithoutSpawnPointsAndPathsKeepTheCamera) {
    folder_.Write("maps/empty.lmf", FileOf(WorldWithSpawns("{ \"classname\" \"worldspawn\" }")));
    folder_.Write("maps/two.lmf", FileOf(WorldWithSpawns(kTwoSpawns)));
    const D3DXVECTOR3 start(7.0f, 8.0f, 9.0f);
    g_camera.SetPosition(start);

    PrintCapture output;
    ASSERT_EQ(g_gameSystem.Map("empty"), 1);
    EXPECT_EQ(output.Last(), "maps/empty.lmf has no spawn points; the camera stays where it was");
    EXPECT_FLOAT_EQ(g_camera.GetPosition().x, start.x);

    // A path loads exactly as before: the camera stays where it is.
    output.Clear();
    ASSERT_EQ(g_gameSystem.Map("maps/two.lmf"), 1);
    for (const std::string& line : output.Lines()) EXPECT_EQ(line.find("Spawn point"), std::string::npos) << line;
    EXPECT_FLOAT_EQ(g_camera.GetPosition().x, start.x);
    EXPECT_FLOAT_EQ(g_camera.GetPosition().z, start.z);

    // A name that finds no world leaves the current one loaded.
    output.Clear();
    EXPECT_EQ(g_gameSystem.Map("nosuchworld"), 0);
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{
                                  "Error: no world named nosuchworld (neither maps/nosuchworld.lmf nor "
                                  "maps/nosuchworld.bsp exists)"}));
    output.Clear();
    ExecuteLine("map");
    EXPECT_EQ(output.Last(), "Current map is: maps/two.lmf");

    // A damaged entity text costs the spawn points, not the world.
    folder_.Write("maps/damaged.lmf", FileOf(WorldWithSpawns("{ \"classname\" \"info_player_start")));
    output.Clear();
    ASSERT_EQ(g_gameSystem.Map("damaged"), 1);
    EXPECT_TRUE(output.Contains("Warning: the entity text of maps/damaged.lmf is damaged: a quoted text does not "
                                "end on its line (line 1); 0 spawn points read before it"));
    EXPECT_EQ(output.Last(), "maps/damaged.lmf has no spawn points; the camera stays where it was");
}

TEST_F(WorldsByName, WithCollisionTheViewerSettlesOnTheFloorUnderTheSpawnPoint) {
    // A floor whose top is at height 0 and a spawn point 24 above it.
    BspBuilder builder = WorldWithSpawns("{ \"classname\" \"info_player_start\" \"origin\" \"10 20 24\" }");
    const int32_t solid = builder.AddTexture("textures/test/solid", 1);
    builder.AddBoxBrush({{-1000, -100, -1000}, {1000, 0, 1000}}, solid);
    builder.BuildTree();
    folder_.Write("maps/floor.lmf", FileOf(builder));
    ASSERT_EQ(g_gameSystem.Map("floor"), 1);
    EXPECT_FLOAT_EQ(g_camera.GetPosition().y, 50.0f);

    bsp_noclip.intValue = 0;
    p_thrust.floatValue = 0.0f;
    World* world = g_gameSystem.GetCurrentWorld();
    ASSERT_NE(world, nullptr);
    for (int frame = 0; frame < 200; ++frame) {
        StepPhysics(world->Data(), &g_camera, 10.0);
        g_camera.UpdateView(0.0f, 0.0f, 0.0f);
    }
    EXPECT_GT(g_camera.GetPosition().y, 24.9f);  // resting on the floor, not through it
    EXPECT_LT(g_camera.GetPosition().y, 26.0f);
    EXPECT_FLOAT_EQ(g_camera.GetPosition().x, 10.0f);
    EXPECT_FLOAT_EQ(g_camera.GetPosition().z, 20.0f);
    EXPECT_EQ(p_ground.intValue, 1);
}

TEST(WorldNames, ClosestNamesComeByEditDistanceThenCommonBeginning) {
    const std::vector<std::string> names = {"oa_dm1", "oa_dm2", "oa_dm10", "oa_ctf1", "tower", "arena", "Canyon"};
    // oa_dm1 and oa_dm2 are one letter off, oa_dm10 two letters.
    EXPECT_EQ(ClosestNames("oa_dm9", names, 3), (std::vector<std::string>{"oa_dm1", "oa_dm2", "oa_dm10"}));
    EXPECT_EQ(ClosestNames("arenna", names, 1), (std::vector<std::string>{"arena"}));
    // Case is not a difference, and the listing's spelling is kept.
    EXPECT_EQ(ClosestNames("CANYON", names, 1), (std::vector<std::string>{"Canyon"}));
    // Equally far: the longer common beginning first, then by name.
    EXPECT_EQ(ClosestNames("towxx", {"zowex", "towez", "aowex"}, 3),
              (std::vector<std::string>{"towez", "aowex", "zowex"}));
    // Fewer names than asked for, and none at all.
    EXPECT_EQ(ClosestNames("x", {"a"}, 3), (std::vector<std::string>{"a"}));
    EXPECT_TRUE(ClosestNames("x", {}, 3).empty());
    EXPECT_TRUE(ClosestNames("x", names, 0).empty());
}

TEST_F(WorldsByName, ClosestWorldNamesComeFromTheContentFolderAndTheArchives) {
    ZipWriter zip;
    const std::string world = FileOf(WorldWithSpawns(kTwoSpawns));
    zip.Add("maps/oa_dm1.bsp", world);
    zip.Add("maps/oa_dm4.bsp", world);
    zip.Add("maps/oa_dm1.txt", "not a world");
    MountArchive(zip);
    folder_.Write("maps/oa_dm2.lmf", world);
    folder_.Write("maps/oa_ctf.lmf", world);
    EXPECT_EQ(ClosestWorldNames("oa_dm"), (std::vector<std::string>{"oa_dm1", "oa_dm2", "oa_dm4"}));
    EXPECT_EQ(ClosestWorldNames("oa_ctf2", 1), (std::vector<std::string>{"oa_ctf"}));
}
