// The engine run headless with scripted keys: the console over the game, and
// key presses shorter than a frame.
#include <gtest/gtest.h>

#include <stb_image.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

std::string Engine(const ScratchFolder& folder, const std::string& script, const std::string& extra) {
    static int counter = 0;
    folder.Write("input.txt", script);
    folder.CopyContent({"shaders.hlsl", "noshader.jpg", "autoexec.cfg", "test.tga", "loading.jpg"});
    // Generous: a busy machine runs the software rasteriser many times slower.
    return "OSPREL_INSTANCE_NAME=osprel-console-test-" + std::to_string(::getpid()) + "-" +
           std::to_string(++counter) + " timeout 300 " + ShellQuote(OSPREL_BINARY) + " --headless --basedir " +
           ShellQuote(folder.Path()) + " --input-script " + ShellQuote(folder.Path() + "/input.txt") + " " +
           extra + " </dev/null";
}

// The share of pixels in [x0, x1) x [y0, y1) of an RGB picture that have
// exactly the colour.
double ShareOfColour(const unsigned char* pixels, int width, int x0, int y0, int x1, int y1, uint32_t rgb) {
    long same = 0, all = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const unsigned char* p = pixels + (static_cast<size_t>(y) * width + x) * 3;
            const uint32_t colour = (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
            same += colour == rgb ? 1 : 0;
            ++all;
        }
    }
    return static_cast<double>(same) / static_cast<double>(all);
}

}  // namespace

TEST(GameConsoleProgram, GraveOpensTheConsoleOverTheFrameAndATypedLineRuns) {
    ScratchFolder folder;
    ProgramResult run = RunProgram(Engine(folder,
                                          "2 key grave down\n2 key grave up\n"
                                          "3 text fov 33\n3 key return down\n3 key return up\n",
                                          "--frames 5 --screenshot shot.png"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("] fov 33\nfov set \"33.000000\"\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("is not bound."), std::string::npos) << run.output;

    int width = 0, height = 0, channels = 0;
    unsigned char* pixels = stbi_load((folder.Path() + "/shot.png").c_str(), &width, &height, &channels, 3);
    ASSERT_NE(pixels, nullptr);
    ASSERT_EQ(width, 800);
    ASSERT_EQ(height, 600);
    // The backdrop covers the top half, right of where the lines of text
    // end; the bottom half is the frame as it was.
    const double top = ShareOfColour(pixels, width, 700, 40, 790, 260, 0x182038);
    const double bottom = ShareOfColour(pixels, width, 700, 340, 790, 590, 0x182038);
    stbi_image_free(pixels);
    EXPECT_GT(top, 0.9);
    EXPECT_EQ(bottom, 0.0);
}

TEST(GameConsoleProgram, EscapeTappedWithinOneFrameQuits) {
    ScratchFolder folder;
    ProgramResult run = RunProgram(Engine(folder, "2 key esc down\n2 key esc up\n", "--frames 6 --stats"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("stats: frames=2 "), std::string::npos) << run.output;
}

TEST(GameConsoleProgram, F12TakesOnePicturePerPressHeldOrTapped) {
    ScratchFolder folder;
    ProgramResult run = RunProgram(
        Engine(folder, "2 key f12 down\n5 key f12 up\n7 key f12 down\n7 key f12 up\n", "--frames 9"));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(folder.Exists("screenshots/shot0000.png")) << run.output;
    EXPECT_TRUE(folder.Exists("screenshots/shot0001.png")) << run.output;
    EXPECT_FALSE(folder.Exists("screenshots/shot0002.png")) << run.output;
}
