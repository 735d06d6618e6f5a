// --timedemo on the installed start-up demos, run as a user runs it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

bool DemosInstalled() {
    const fs::path content(OSPREL_TEST_CONTENT_DIR);
    return fs::exists(content / "maps" / "tower.lmf") && fs::exists(content / "maps" / "arena.lmf") &&
           fs::exists(content / "demos" / "demo003.dem") && fs::exists(content / "demos" / "demo001.dem");
}

std::string Engine(const std::string& arguments) {
    static int counter = 0;
    return "OSPREL_INSTANCE_NAME=osprel-timedemo-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) +
           " timeout 300 " + ShellQuote(OSPREL_BINARY) + " --headless --basedir " +
           ShellQuote(OSPREL_TEST_CONTENT_DIR) + " --set resolution=0 " + arguments + " </dev/null";
}

// The text after key up to the next blank or line end ("" when missing).
std::string Field(const std::string& output, const std::string& key) {
    const size_t at = output.find(key);
    if (at == std::string::npos) return {};
    const size_t begin = at + key.size();
    return output.substr(begin, output.find_first_of(" \n", begin) - begin);
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

}  // namespace

TEST(TimedemoProgram, TowerDemoPlaysOnceInTheSameFramesAndEndsInTheSamePlaceEveryRun) {
    if (!DemosInstalled()) GTEST_SKIP() << "the start-up worlds or demos are not installed";
    // The demo's last packet lies 6336 ms after its start: 396 steps of
    // 16 ms after the frame that starts it, 397 frames in all.
    const std::regex line(R"(\ntimedemo: 397 frames, \d+\.\d{3} seconds, \d+\.\d fps, )"
                          R"(frame ms min/median/max \d+\.\d\d/\d+\.\d\d/\d+\.\d\d\n)");
    ProgramResult first = RunProgram(Engine("--timedemo demos/demo003.dem --stats"));
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_TRUE(std::regex_search(first.output, line)) << first.output;
    // The demo's world once, and no start-up demo loop.
    EXPECT_EQ(Occurrences(first.output, "Attempting to load world: maps/tower.lmf"), 1u);
    EXPECT_EQ(Occurrences(first.output, "Playing back demo of size 10208 bytes"), 1u);
    EXPECT_EQ(Field(first.output, "stats: frames="), "399");  // with the settling and the measuring frame
    EXPECT_NE(first.output.find("Shutting down CVideoSystem"), std::string::npos);

    // A bare name finds the same demo; the run ends where the first did.
    ProgramResult second = RunProgram(Engine("--timedemo demo003 --stats"));
    ASSERT_EQ(second.exitCode, 0) << second.output;
    EXPECT_TRUE(std::regex_search(second.output, line)) << second.output;
    ASSERT_FALSE(Field(first.output, " pos=").empty());
    EXPECT_EQ(Field(second.output, " pos="), Field(first.output, " pos="));
    EXPECT_EQ(Field(second.output, " angles="), Field(first.output, " angles="));
}

TEST(TimedemoProgram, ARunCutShortByTheFrameLimitFails) {
    if (!DemosInstalled()) GTEST_SKIP() << "the start-up worlds or demos are not installed";
    ProgramResult run = RunProgram(Engine("--timedemo demos/demo001.dem --frames 40 2>&1"));
    EXPECT_EQ(run.exitCode, 1);
    // Settling, the frame that starts playback, then 38 frames that each
    // measure the one before.
    EXPECT_NE(run.output.find("timedemo: stopped after 38 frames, before the demo's end\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("osprel: the timedemo of 'demos/demo001.dem' did not complete"), std::string::npos);
    // The arena's demo plays in the arena; the dialog's tower is never loaded.
    EXPECT_NE(run.output.find("Attempting to load world: maps/arena.lmf"), std::string::npos);
    EXPECT_EQ(run.output.find("maps/tower.lmf"), std::string::npos);
}
