// The build's step that puts our own content into the content folder: the
// shipped demos come back after a run replaced or deleted them, and nothing
// else is touched.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kSourceContent = std::string(OSPREL_TEST_SOURCE_DIR) + "/../content";

ProgramResult Install(const std::string& target) {
    return RunProgram("cmake -DSOURCE=" + ShellQuote(kSourceContent) + " -DTARGET=" + ShellQuote(target) +
                      " -P " + ShellQuote(std::string(OSPREL_TEST_SOURCE_DIR) + "/../tools/install_own_content.cmake") +
                      " 2>&1");
}

std::string Shipped(const std::string& name) {
    std::ifstream file(kSourceContent + "/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

}  // namespace

TEST(ContentInstall, ShippedDemosAreRestoredAndNothingElseIsTouched) {
    ScratchFolder folder;
    const std::string target = folder.Path() + "/content";
    ProgramResult first = Install(target);
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_EQ(first.output.find("content: "), std::string::npos) << first.output;  // a first install says nothing
    for (const char* demo : {"demos/demo001.dem", "demos/demo002.dem", "demos/demo003.dem"}) {
        ASSERT_EQ(folder.Read(target + "/" + demo), Shipped(demo)) << demo;
    }

    // A run saved over one demo and deleted another; the user keeps a demo
    // of their own beside them.
    folder.Write(target + "/demos/demo001.dem", "another world's flight");
    fs::remove(target + "/demos/demo003.dem");
    folder.Write(target + "/demos/mine.dem", "the user's own");
    const fs::file_time_type old = fs::last_write_time(target + "/shaders.hlsl") - std::chrono::hours(1);
    fs::last_write_time(target + "/shaders.hlsl", old);

    ProgramResult again = Install(target);
    ASSERT_EQ(again.exitCode, 0) << again.output;
    EXPECT_EQ(folder.Read(target + "/demos/demo001.dem"), Shipped("demos/demo001.dem"));
    EXPECT_EQ(folder.Read(target + "/demos/demo003.dem"), Shipped("demos/demo003.dem"));
    EXPECT_NE(again.output.find("content: demos/demo001.dem was changed by a run; the shipped demo is back"),
              std::string::npos)
        << again.output;
    EXPECT_NE(again.output.find("content: demos/demo003.dem was missing; the shipped demo is back"),
              std::string::npos)
        << again.output;
    EXPECT_EQ(again.output.find("demo002"), std::string::npos) << again.output;
    EXPECT_EQ(folder.Read(target + "/demos/mine.dem"), "the user's own");
    // An unchanged file is not copied again.
    EXPECT_EQ(fs::last_write_time(target + "/shaders.hlsl"), old);
}
