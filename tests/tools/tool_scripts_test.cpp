#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

ProgramResult RunTool(const std::string& tool, const ScratchFolder& tree, const std::string& options = "") {
    return RunProgram("python3 " + ShellQuote(std::string(OSPREL_TEST_SOURCE_DIR) + "/../tools/" + tool) +
                      " --root " + ShellQuote(tree.Path()) + " " + options + " 2>&1");
}

bool HasLine(const std::string& output, const std::string& line) {
    for (const std::string& l : SplitLines(output)) {
        if (l == line) return true;
    }
    return false;
}

}  // namespace

TEST(IncludeGraphTool, CountsIncludeLinesPerFolderEdgeAndPassesWithoutACycle) {
    ScratchFolder tree;
    tree.Write("engine/a.cpp", "#include \"video/x.h\"\n#include \"video/y.h\"\n#include <vector>\n#include \"a.h\"\n");
    tree.Write("engine/a.h", "#include \"engine/b.h\"\n");
    tree.Write("video/x.h", "  #  include \"platform/p.h\"\n");
    // Tests and tools are not the engine: their includes draw no edge.
    tree.Write("tests/video/x_test.cpp", "#include \"engine/a.h\"\n");
    tree.Write("tools/t.cpp", "#include \"engine/a.h\"\n");
    ProgramResult run = RunTool("include-graph", tree);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(HasLine(run.output, "  engine             -> video                 2")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "  video              -> platform              1")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "No cycle.")) << run.output;
    EXPECT_EQ(run.output.find("-> engine"), std::string::npos) << run.output;
}

TEST(IncludeGraphTool, FailsOnACycleAndNamesTheEdgeThatClosesIt) {
    ScratchFolder tree;
    tree.Write("engine/a.cpp", "#include \"video/x.h\"\n");
    tree.Write("video/x.cpp", "#include \"engine/a.h\"\n#include \"engine/b.h\"\n");
    tree.Write("camera/c.cpp", "#include \"engine/a.h\"\n");
    ProgramResult run = RunTool("include-graph", tree);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_TRUE(HasLine(run.output, "Cycle 1: 2 folders: engine video")) << run.output;
    // Two lines lead from video to engine and one back: the lighter edge closes the cycle.
    EXPECT_TRUE(HasLine(run.output, "  edges pointing up, closing it (1, 1 include lines):")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "    engine             -> video                 1")) << run.output;
    EXPECT_EQ(run.output.find("Cycle 2"), std::string::npos) << run.output;
}

TEST(IncludeGraphTool, SubfoldersCountAsTheirTopFolderUnlessSplitButTheDeviceLayerStandsAlone) {
    ScratchFolder tree;
    tree.Write("platform/sdl/s.cpp", "#include \"platform/x.h\"\n");
    tree.Write("platform/x.h", "#include \"platform/sdl/s.h\"\n");
    ProgramResult joined = RunTool("include-graph", tree);
    EXPECT_EQ(joined.exitCode, 0) << joined.output;
    EXPECT_EQ(joined.output.find("->"), std::string::npos) << joined.output;
    ProgramResult split = RunTool("include-graph", tree, "--split");
    EXPECT_EQ(split.exitCode, 1) << split.output;
    EXPECT_TRUE(HasLine(split.output, "Cycle 1: 2 folders: platform platform/sdl")) << split.output;
    ProgramResult dot = RunTool("include-graph", tree, "--split --dot");
    EXPECT_TRUE(HasLine(dot.output, "  \"platform/sdl\" -> \"platform\" [label=\"1\"];")) << dot.output;

    // The device layer lies below world/ while video/ lies above it: the
    // two never merge, so world -> video/d3d9 -> ... is no cycle with video.
    tree.Write("video/d3d9/d.h", "\n");
    tree.Write("world/w.h", "#include \"video/d3d9/d.h\"\n");
    tree.Write("video/v.h", "#include \"world/w.h\"\n");
    ProgramResult layered = RunTool("include-graph", tree);
    EXPECT_TRUE(HasLine(layered.output, "  world              -> video/d3d9            1")) << layered.output;
    EXPECT_EQ(layered.output.find("world              -> video "), std::string::npos) << layered.output;
}

TEST(DeviceTestsTool, CountsTestsThatBringTheDeviceUpDirectlyThroughFixturesHelpersOrTheProgram) {
    ScratchFolder tree;
    tree.Write("tests/support/fixture.h",
               "class SharedOnDevice : public ::testing::Test {\n"
               "protected:\n    void SetUp() override { ASSERT_NE(GetDevice(), nullptr); }\n};\n");
    tree.Write("tests/video/a_test.cpp",
               "namespace {\n"
               "class OnDevice : public ::testing::Test {\n"
               "    void SetUp() override { g_videoSystem.Initialise(); }\n};\n"
               "class Derived : public OnDevice {};\n"
               "IDirect3D9* MakeDirect3D() {\n    return Direct3DCreate9(D3D_SDK_VERSION);\n}\n"
               "}  // namespace\n"
               "TEST_F(Derived, A) { EXPECT_TRUE(true); }\n"
               "TEST(Helper, B) {\n    EXPECT_NE(MakeDirect3D(), nullptr);\n}\n"
               "TEST(Plain, C) {\n    // GetDevice() would need the device.\n    EXPECT_EQ(1, 1);\n}\n");
    tree.Write("tests/world/b_test.cpp",
               "#include \"support/fixture.h\"\nTEST_F(SharedOnDevice, D) {}\nTEST(Plain, E) {}\n");
    // Markers inside string literals are text, not calls; a comment opener
    // inside one hides nothing.
    tree.Write("tests/engine/c_test.cpp",
               "TEST(Program, F) { RunProgram(ShellQuote(OSPREL_BINARY)); }\nTEST(Plain, G) { RunProgram(\"true\"); }\n"
               "TEST(Plain, I) { Write(\"OSPREL_BINARY GetDevice()\"); }\n");
    tree.Write("tests/console/d_test.cpp", "TEST(Plain, H) { Print(\"/* no comment\"); }\nTEST(Plain, J) {}\n");
    ProgramResult run = RunTool("device-tests", tree);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(HasLine(run.output, "2 of 4 test files, 3 of 10 tests need the device in process")) << run.output;
    EXPECT_TRUE(HasLine(run.output, "1 of 4 test files, 1 of 10 tests need the device through the program"))
        << run.output;
    EXPECT_TRUE(HasLine(run.output, "3 of 4 test files, 4 of 10 tests need the device")) << run.output;
}

TEST(IncludeGraphTool, TheEnginesFoldersAreLayeredWithoutACycle) {
    // The engine's own tree: every include points down the stack
    // base, console, platform, video/d3d9, world, camera, video, input, engine.
    const std::string root = std::string(OSPREL_TEST_SOURCE_DIR) + "/..";
    const ProgramResult run = RunProgram("python3 " + ShellQuote(root + "/tools/include-graph") + " --root " +
                                         ShellQuote(root) + " 2>&1");
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_TRUE(HasLine(run.output, "No cycle.")) << run.output;
    const std::vector<std::string> order = {"base", "console", "platform", "video/d3d9", "world",
                                            "camera", "video",   "input",    "engine"};
    for (const std::string& line : SplitLines(run.output)) {
        const size_t arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        const std::string from = line.substr(2, line.find(' ', 2) - 2);
        const size_t to_start = line.find_first_not_of(' ', arrow + 4);
        const std::string to = line.substr(to_start, line.find(' ', to_start) - to_start);
        const auto rank = [&order](const std::string& folder) {
            return std::find(order.begin(), order.end(), folder) - order.begin();
        };
        EXPECT_GT(rank(from), rank(to)) << line;
    }
}
