// The engine run headless with scripted keys: the console over the game, and
// key presses shorter than a frame.
#include <gtest/gtest.h>

#include <stb_image.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
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

TEST(GameConsoleProgram, KeysTypedIntoTheConsoleInAWindowRunTheLine) {
    if (std::system("command -v xvfb-run >/dev/null 2>&1 && command -v xdotool >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xvfb-run or xdotool is not installed";
    }
    ScratchFolder folder;
    folder.CopyContent({"shaders.hlsl", "noshader.jpg", "autoexec.cfg", "test.tga", "loading.jpg"});
    // No frame limit: Esc closes the console, and then (bound to quit) ends
    // the run, however slowly the machine goes.
    folder.Write("type.sh",
                 "#!/bin/sh\n"
                 "echo 'com_log 1' >> \"$2/autoexec.cfg\"\n"
                 "\"$1\" --basedir \"$2\" --set fullscreen=0 --set cursor=1 --set debug=0 > \"$2/run.out\" 2>&1 &\n"
                 "engine=$!\n"
                 "for i in $(seq 600); do w=$(xdotool search --name '^Osprel 2.0b$' 2>/dev/null | head -1); "
                 "[ -n \"$w\" ] && break; sleep 0.1; done\n"
                 "for i in $(seq 600); do grep -q 'demo' \"$2/runtime.log\" 2>/dev/null && break; sleep 0.1; done\n"
                 "sleep 1\n"
                 "xdotool windowfocus \"$w\" 2>/dev/null\n"
                 "xdotool key --window \"$w\" grave\n"
                 "sleep 1\n"
                 "xdotool type --window \"$w\" 'fov 33'\n"
                 "sleep 1\n"
                 "xdotool key --window \"$w\" Return\n"
                 "for i in $(seq 100); do grep -q 'fov set' \"$2/runtime.log\" && break; sleep 0.1; done\n"
                 "for i in $(seq 120); do kill -0 $engine 2>/dev/null || break; "
                 "xdotool windowfocus \"$w\" key Escape 2>/dev/null; sleep 0.5; done\n"
                 "kill $engine 2>/dev/null\n"
                 "wait $engine\n");
    const std::string command = "OSPREL_INSTANCE_NAME=osprel-console-window-" + std::to_string(::getpid()) + " " +
                                OnVirtualDisplay("sh " + ShellQuote(folder.Path() + "/type.sh") + " " +
                                                     ShellQuote(OSPREL_BINARY) + " " + ShellQuote(folder.Path()),
                                                 folder.Path() + "/xvfb.log", folder.Path() + "/run.out");
    RunProgram(command);
    const std::string log = folder.Read("runtime.log");
    EXPECT_NE(log.find("] fov 33\r\nfov set \"33.000000\"\r\n"), std::string::npos) << log << folder.Read("run.out");
    EXPECT_EQ(log.find("is not bound."), std::string::npos) << log;
}
