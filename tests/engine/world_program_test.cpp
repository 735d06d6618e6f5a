// The engine on an installed OpenArena world, run as a user runs it.
#include <gtest/gtest.h>

#include <stb_image.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

bool TowerInstalled() { return fs::exists(fs::path(OSPREL_TEST_CONTENT_DIR) / "maps" / "tower.lmf"); }

std::string Engine(const std::string& arguments) {
    static int counter = 0;
    return "OSPREL_INSTANCE_NAME=osprel-world-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) +
           " timeout 300 " + ShellQuote(OSPREL_BINARY) + " --headless --basedir " +
           ShellQuote(OSPREL_TEST_CONTENT_DIR) + " " + arguments + " </dev/null";
}

// The camera's height in the stats line.
float StatsY(const std::string& output) {
    const size_t at = output.find(" pos=");
    float x = 0, y = 0, z = 0;
    if (at == std::string::npos || std::sscanf(output.c_str() + at, " pos=%f,%f,%f", &x, &y, &z) != 3) return NAN;
    return y;
}

}  // namespace

TEST(WorldProgram, MapPrintsTheFilesCountsAndCompletes) {
    if (!TowerInstalled()) GTEST_SKIP() << "the OpenArena worlds are not installed";
    ProgramResult run = RunProgram(Engine("--set demo=3 --exec 'map maps/tower.lmf' --frames 1"));
    ASSERT_EQ(run.exitCode, 0);
    for (const char* line : {"BSP Meshes: ", "BSP Faces: ", "BSP Textures: ", "BSP Lightmaps: "}) {
        EXPECT_NE(run.output.find(line), std::string::npos) << line;
    }
    EXPECT_NE(run.output.find("BSP Vertices: "), std::string::npos);
    EXPECT_NE(run.output.find("Loading complete!\n"), std::string::npos);
    EXPECT_EQ(run.output.find("Error loading world."), std::string::npos);
}

TEST(WorldProgram, StartLevelLooksLikeItsReferenceImage) {
    if (!TowerInstalled()) GTEST_SKIP() << "the OpenArena worlds are not installed";
    ScratchFolder folder;
    // The reference shows the engine's own doubling of the stored light.
    ProgramResult run = RunProgram(Engine("--set resolution=0 --set level=2 --set demo=3 --set path=0 --frames 5 "
                                          "--exec 'r_materials 0' --fixed-frame-ms 10 --screenshot " + folder.Path() +
                                          "/shot.png"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    int w = 0, h = 0, w2 = 0, h2 = 0, channels = 0;
    unsigned char* shot = stbi_load((folder.Path() + "/shot.png").c_str(), &w, &h, &channels, 3);
    const std::string reference = std::string(OSPREL_TEST_SOURCE_DIR) + "/data/tower_reference.png";
    unsigned char* expected = stbi_load(reference.c_str(), &w2, &h2, &channels, 3);
    ASSERT_NE(shot, nullptr);
    ASSERT_NE(expected, nullptr);
    ASSERT_EQ(w, w2);
    ASSERT_EQ(h, h2);
    // Small rasteriser differences are allowed; a wrong image is not.
    long off = 0;
    double total = 0;
    const long values = static_cast<long>(w) * h * 3;
    for (long i = 0; i < values; ++i) {
        const int d = std::abs(static_cast<int>(shot[i]) - static_cast<int>(expected[i]));
        total += d;
        if (d > 24) ++off;
    }
    stbi_image_free(shot);
    stbi_image_free(expected);
    EXPECT_LT(total / values, 2.0);
    EXPECT_LT(off, values / 100);
}

TEST(WorldProgram, WithCollisionTheViewerFallsToTheFloorAndStaysThere) {
    if (!TowerInstalled()) GTEST_SKIP() << "the OpenArena worlds are not installed";
    const std::string start = "--set resolution=0 --set level=2 --set demo=3 --set collision=1 --fixed-frame-ms 10 --stats ";
    ProgramResult early = RunProgram(Engine(start + "--frames 100"));
    ProgramResult late = RunProgram(Engine(start + "--frames 200"));
    ASSERT_EQ(early.exitCode, 0) << early.output;
    ASSERT_EQ(late.exitCode, 0);
    const float yEarly = StatsY(early.output);
    const float yLate = StatsY(late.output);
    EXPECT_LT(yEarly, 478.0f);               // fell from the start position
    EXPECT_NEAR(yLate, yEarly, 1.0f);        // and stays on the floor
}

TEST(WorldProgram, StartUpDemoLoopsUntilQuit) {
    if (!TowerInstalled() || !fs::exists(fs::path(OSPREL_TEST_CONTENT_DIR) / "demos" / "demo003.dem")) {
        GTEST_SKIP() << "the OpenArena worlds or the demos are not installed";
    }
    ScratchFolder folder;
    // The demo lasts about six seconds; at 50 ms a frame it has started over
    // by frame 200.
    folder.Write("quit.txt", "200 console quit\n");
    // The dialog's defaults: tower world with its demo.
    ProgramResult run = RunProgram(Engine("--set resolution=0 --set path=0 --fixed-frame-ms 50 --input-script " +
                                          folder.Path() + "/quit.txt --frames 400 --stats"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const size_t first = run.output.find("Playing back demo of size");
    ASSERT_NE(first, std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Playing back demo of size", first + 1), std::string::npos);
    // The loop's end is reported once, and a second line says quit ended it.
    size_t errors = 0;
    for (size_t at = run.output.find("Error during osprel frame"); at != std::string::npos;
         at = run.output.find("Error during osprel frame", at + 1)) {
        ++errors;
    }
    EXPECT_EQ(errors, 1u);
    EXPECT_NE(run.output.find("The demo loop ended because quit was asked for; nothing failed."), std::string::npos);
    // It was quit that ended the run, long before the frame limit.
    const size_t stats = run.output.find("stats: frames=");
    ASSERT_NE(stats, std::string::npos) << run.output;
    EXPECT_LT(std::stoi(run.output.substr(stats + 14)), 400);
}

namespace {

bool ArchivedWorldsInstalled() { return fs::exists("/usr/share/games/openarena/baseoa/pak1-maps.pk3"); }

// The origin in "Spawn point N of M: CLASS at X Y Z".
bool SpawnOrigin(const std::string& output, float* x, float* y, float* z) {
    const size_t at = output.find("Spawn point 0 of ");
    if (at == std::string::npos) return false;
    const size_t origin = output.find(" at ", at);
    return origin != std::string::npos && std::sscanf(output.c_str() + origin, " at %f %f %f", x, y, z) == 3;
}

}  // namespace

TEST(WorldProgram, AWorldNamedOnTheCommandLineOpensFromTheArchivesAtItsSpawnPoint) {
    if (!ArchivedWorldsInstalled()) GTEST_SKIP() << "the OpenArena archives are not installed";
    ProgramResult run = RunProgram(Engine("oa_dm1 --frames 3 --stats"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Loading resource (4), maps/oa_dm1.bsp\n"), std::string::npos);
    EXPECT_EQ(run.output.find("Playing back demo"), std::string::npos);  // no demo, no start-up level
    EXPECT_EQ(run.output.find("maps/tower.lmf"), std::string::npos);
    float x = 0, y = 0, z = 0;
    ASSERT_TRUE(SpawnOrigin(run.output, &x, &y, &z)) << run.output;
    const size_t at = run.output.find(" pos=");
    ASSERT_NE(at, std::string::npos);
    float px = 0, py = 0, pz = 0;
    ASSERT_EQ(std::sscanf(run.output.c_str() + at, " pos=%f,%f,%f", &px, &py, &pz), 3);
    EXPECT_NEAR(px, x, 0.5f);
    EXPECT_NEAR(py, y + 26.0f, 0.5f);
    EXPECT_NEAR(pz, z, 0.5f);
    // The world draws: the renderer has items in its last frame.
    EXPECT_EQ(run.output.find(" items=0\n"), std::string::npos) << run.output;
}

TEST(WorldProgram, AWorldFileOutsideTheContentFolderOpensByItsPath) {
    if (!TowerInstalled()) GTEST_SKIP() << "the OpenArena worlds are not installed";
    ScratchFolder folder;
    // Dots in the folders' names do not hide the world's extension.
    fs::create_directories(fs::path(folder.Path()) / "my.worlds" / "v1.2");
    fs::copy_file(fs::path(OSPREL_TEST_CONTENT_DIR) / "maps" / "arena.lmf",
                  fs::path(folder.Path()) / "my.worlds" / "v1.2" / "arena copy.bsp");
    ProgramResult absolute =
        RunProgram(Engine(ShellQuote(folder.Path() + "/my.worlds/v1.2/arena copy.bsp") + " --frames 2 --stats"));
    ASSERT_EQ(absolute.exitCode, 0) << absolute.output;
    EXPECT_NE(absolute.output.find("Loading complete!"), std::string::npos);
    EXPECT_NE(absolute.output.find("Spawn point 0 of "), std::string::npos) << absolute.output;

    // A relative path is taken from where the engine was started.
    ProgramResult relative = RunProgram("cd " + ShellQuote(folder.Path() + "/my.worlds") + " && " +
                                        Engine(ShellQuote("v1.2/arena copy.bsp") + " --frames 2"));
    ASSERT_EQ(relative.exitCode, 0) << relative.output;
    EXPECT_NE(relative.output.find("Spawn point 0 of "), std::string::npos);

    ProgramResult missing = RunProgram(Engine("no_such_world --frames 2"));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("Error: no world named no_such_world"), std::string::npos) << missing.output;
    ProgramResult broken = RunProgram(Engine(ShellQuote(folder.Path() + "/nothing.bsp") + " --frames 2"));
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_NE(broken.output.find("Error loading world."), std::string::npos) << broken.output;
}

TEST(WorldProgram, MapsListsTheInstalledWorldsAndMapByNameLoadsThem) {
    if (!ArchivedWorldsInstalled()) GTEST_SKIP() << "the OpenArena archives are not installed";
    ProgramResult run = RunProgram(Engine("--set demo=3 --exec maps --exec 'map am_galmevish2' --frames 1"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const size_t total = run.output.find(" worlds\n");
    ASSERT_NE(total, std::string::npos);
    const size_t lineStart = run.output.rfind('\n', total) + 1;
    EXPECT_GE(std::stoi(run.output.substr(lineStart)), 70) << run.output.substr(lineStart, 20);
    EXPECT_NE(run.output.find("tower                    maps/tower.lmf (content folder)\n"), std::string::npos);
    EXPECT_NE(run.output.find("oa_dm1                   maps/oa_dm1.bsp (/usr/share/games/openarena/baseoa/"),
              std::string::npos);
    EXPECT_NE(run.output.find("Loading resource (4), maps/am_galmevish2.bsp\n"), std::string::npos);
    EXPECT_NE(run.output.find("Spawn point 0 of "), std::string::npos);
}

namespace {

size_t Occurrences(const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
}

bool StartUpDemoInstalled() {
    return TowerInstalled() && ArchivedWorldsInstalled() &&
           fs::exists(fs::path(OSPREL_TEST_CONTENT_DIR) / "demos" / "demo003.dem");
}

}  // namespace

// The dialog's defaults (tower world with its demo) and a map line given on
// the command line: the tower's demo never flies through the other world.
TEST(WorldProgram, AWorldLoadedAtStartUpEndsTheStartUpDemo) {
    if (!StartUpDemoInstalled()) GTEST_SKIP() << "the OpenArena worlds or the demos are not installed";
    ProgramResult run = RunProgram(Engine("--set resolution=0 --set path=0 --fixed-frame-ms 50 "
                                          "--exec 'map oa_dm1' --frames 40 --stats"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("Reading demo demos\\demo003.dem"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("Spawn point 0 of "), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Playing back demo of size"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(" items=0\n"), std::string::npos) << run.output;
}

// The same line typed while the demo plays: the demo stops there and does not
// come round again, and the new world is drawn.
TEST(WorldProgram, AWorldLoadedFromTheConsoleEndsTheStartUpDemo) {
    if (!StartUpDemoInstalled()) GTEST_SKIP() << "the OpenArena worlds or the demos are not installed";
    ScratchFolder folder;
    // The demo lasts about six seconds: at 50 ms a frame it would have
    // started over well before frame 300.
    folder.Write("map.txt", "30 console map oa_dm1\n");
    ProgramResult run = RunProgram(Engine("--set resolution=0 --set path=0 --fixed-frame-ms 50 --input-script " +
                                          folder.Path() + "/map.txt --frames 300 --stats"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(Occurrences(run.output, "Playing back demo of size"), 1u) << run.output;
    EXPECT_NE(run.output.find("Demo stopped: it was recorded in maps/tower.lmf"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("Demo finished."), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(" items=0\n"), std::string::npos) << run.output;
}
