#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/command_interpreter.h"
#include "console/runtime_log.h"
#include "support/test_support.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"
#include "platform/platform_cvars.h"
#include "camera/camera_cvars.h"

namespace {

// What the last call of the probe command received.
struct ProbeCall {
    int calls = 0;
    int32_t position = -1;
    int32_t argc = -1;
    int32_t reserved = -1;
    bool nullArguments = false;
    std::vector<std::string> arguments;
};
ProbeCall g_probe;

int32_t Probe(int32_t position, int32_t argc, int32_t reserved, const ConsoleArgument* argv) {
    ++g_probe.calls;
    g_probe.position = position;
    g_probe.argc = argc;
    g_probe.reserved = reserved;
    g_probe.nullArguments = argv == nullptr;
    g_probe.arguments.clear();
    for (int32_t i = 0; i < argc; ++i) g_probe.arguments.emplace_back(argv[i].text);
    return 1;
}

class Interpreter : public ::testing::Test {
protected:
    void TearDown() override {
        fov.floatValue = 90.0f;
        p_ground.intValue = 1;
        com_log.intValue = 0;
    }
    PrintCapture output;
};

}  // namespace

TEST_F(Interpreter, ShowsAndSetsVariablesWithTheirMessages) {
    ExecuteLine("fov");
    ExecuteLine("fov 75 80");
    ExecuteLine("fov");
    ExecuteLine("FOV 75");
    ExecuteLine("win_width 640");
    ExecuteLine("p_ground abc");
    ExecuteLine("vid_driver");
    const std::vector<std::string> expected = {
        "fov is \"90.000000\"",
        "fov set \"75.000000\"",
        "fov is \"75.000000\"",
        "FOV 75: Unknown command.",
        "win_width is readonly.",
        "p_ground set \"0\"",
        "vid_driver is \"Default Driver\"",
    };
    EXPECT_EQ(output.Lines(), expected);
    EXPECT_EQ(win_width.intValue, 800);
    EXPECT_EQ(p_ground.intValue, 0);
}

TEST_F(Interpreter, ConvertsValuesAsAtoiAndAtofDo) {
    ExecuteLine("p_ground 12abc");
    EXPECT_EQ(p_ground.intValue, 12);
    ExecuteLine("p_ground -3");
    EXPECT_EQ(p_ground.intValue, -3);
    ExecuteLine("p_ground 99999999999999");
    EXPECT_EQ(p_ground.intValue, INT32_MAX);
    ExecuteLine("fov 1.5e1x");
    EXPECT_FLOAT_EQ(fov.floatValue, 15.0f);
    ExecuteLine("fov nonsense");
    EXPECT_EQ(fov.floatValue, 0.0f);
}

TEST_F(Interpreter, UnknownCommandQuotesTheWholeLine) {
    ExecuteLine("  nosuchthing  a b ");
    EXPECT_EQ(output.Last(), "  nosuchthing  a b : Unknown command.");
}

TEST_F(Interpreter, SplitsAtSpacesOnly) {
    EXPECT_EQ(SplitConsoleLine("  bind  w\t\"+forward\"  "),
              (std::vector<std::string>{"bind", "w\t\"+forward\""}));
    EXPECT_TRUE(SplitConsoleLine("").empty());
    EXPECT_TRUE(SplitConsoleLine("    ").empty());
    ExecuteLine("fov  60");
    EXPECT_EQ(output.Last(), "fov set \"60.000000\"");
    // A tab is part of the name, so nothing matches.
    ExecuteLine("fov\t60");
    EXPECT_EQ(output.Last(), "fov\t60: Unknown command.");
}

TEST_F(Interpreter, BlankLinesRunNothing) {
    ExecuteLine("");
    ExecuteLine("     ");
    EXPECT_TRUE(output.Lines().empty());
    EXPECT_EQ(ExecuteLine(nullptr), 1);
}

TEST_F(Interpreter, CommandsReceivePositionAndArguments) {
    ConsoleCommand probe("zz_test_probe", Probe);
    g_probe = {};
    ExecuteLine("zz_test_probe");
    EXPECT_EQ(g_probe.calls, 1);
    EXPECT_EQ(g_probe.argc, 0);
    EXPECT_TRUE(g_probe.nullArguments);
    EXPECT_EQ(g_probe.reserved, 0);
    EXPECT_EQ(g_commandInterpreter.Objects().At(g_probe.position), &probe);

    ExecuteLine("zz_test_probe  one \"two\"   three");
    EXPECT_EQ(g_probe.calls, 2);
    EXPECT_EQ(g_probe.argc, 3);
    EXPECT_FALSE(g_probe.nullArguments);
    EXPECT_EQ(g_probe.arguments, (std::vector<std::string>{"one", "\"two\"", "three"}));
    EXPECT_TRUE(output.Lines().empty());
}

TEST_F(Interpreter, AQuotedArgumentKeepsItsSpaces) {
    ConsoleCommand probe("zz_test_probe", Probe);
    g_probe = {};
    ExecuteLine("zz_test_probe \"my maps/x.bsp\"  after");
    EXPECT_EQ(g_probe.arguments, (std::vector<std::string>{"\"my maps/x.bsp\"", "after"}));
    EXPECT_EQ(UnquotedArgument(g_probe.arguments[0].c_str()), "my maps/x.bsp");

    // Two quoted runs in one token, and a quote left open to the line's end.
    ExecuteLine("zz_test_probe a\" b\"c\" d\" \"open to  the end");
    EXPECT_EQ(g_probe.arguments, (std::vector<std::string>{"a\" b\"c\" d\"", "\"open to  the end"}));
    EXPECT_EQ(UnquotedArgument(g_probe.arguments[1].c_str()), "open to  the end");
    EXPECT_EQ(UnquotedArgument(nullptr), "");
}

TEST_F(Interpreter, QueuedLinesRunInOrderDuringTheFrame) {
    ConsoleCommand probe("zz_test_probe", Probe);
    g_probe = {};
    QueueLine("fov 70");
    const int32_t count = QueueLine("zz_test_probe after");
    EXPECT_EQ(count, 2);
    EXPECT_EQ(g_probe.calls, 0);
    EXPECT_TRUE(output.Lines().empty());

    EXPECT_EQ(g_commandInterpreter.frame(), 0);
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"fov set \"70.000000\""}));
    EXPECT_EQ(g_probe.arguments, (std::vector<std::string>{"after"}));
    EXPECT_EQ(QueuedLineCount(), 0);
}

TEST_F(Interpreter, TypedLinesAreEchoedAboveTheirOwnOutputInTypingOrder) {
    QueueTypedLine("fov 70");
    QueueLine("fov");  // a line from a script is not echoed
    QueueTypedLine("cvarlcvarlist");
    EXPECT_TRUE(output.Lines().empty());  // nothing is echoed before the line runs
    g_commandInterpreter.frame();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{
                                  "] fov 70",
                                  "fov set \"70.000000\"",
                                  "fov is \"70.000000\"",
                                  "] cvarlcvarlist",
                                  "cvarlcvarlist: Unknown command.",
                              }));

    // The echo shows what runs: the line cut to 249 characters.
    output.Clear();
    QueueTypedLine(std::string(400, 'y').c_str());
    g_commandInterpreter.frame();
    ASSERT_FALSE(output.Lines().empty());
    EXPECT_EQ(output.Lines()[0], "] " + std::string(249, 'y'));
}

TEST_F(Interpreter, QueuedLinesAreCutTo249Characters) {
    ConsoleCommand probe("zz_test_probe", Probe);
    g_probe = {};
    const std::string argument(400, 'x');
    QueueLine(("zz_test_probe " + argument).c_str());
    g_commandInterpreter.frame();
    ASSERT_EQ(g_probe.arguments.size(), 1u);
    EXPECT_EQ(g_probe.arguments[0].size(), 249u - std::string("zz_test_probe ").size());
}

TEST_F(Interpreter, RuntimeLogStartsWithTheLineThatEnablesIt) {
    ScratchFolder folder;
    folder.Write(kRuntimeLogName, "last run\r\n");
    ResetRuntimeLog();
    EXPECT_FALSE(folder.Exists(kRuntimeLogName));

    PrintLine("before");
    EXPECT_FALSE(folder.Exists(kRuntimeLogName));
    ExecuteLine("com_log 1");
    PrintLine("with %s", "args");
    ExecuteLine("com_log 0");
    PrintLine("after");
    EXPECT_EQ(folder.Read(kRuntimeLogName), "com_log set \"1\"\r\nwith args\r\n");
}

TEST_F(Interpreter, UnwritableRuntimeLogStillPrints) {
    ScratchFolder folder;
    folder.Write(std::string(kRuntimeLogName) + "/blocked", "");  // a folder in its place
    ExecuteLine("com_log 1");
    PrintLine("still shown");
    EXPECT_EQ(output.Last(), "still shown");
}
