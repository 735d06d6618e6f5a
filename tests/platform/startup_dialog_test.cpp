#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "console/runtime_log.h"
#include "engine/startup.h"
#include "platform/debug_console.h"
#include "platform/operating_system.h"
#include "platform/platform_cvars.h"
#include "platform/startup_dialog.h"
#include "console/command_interpreter.h"
#include "support/fake_backend.h"
#include "support/test_support.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"

namespace {

std::vector<std::string> g_boxes;
void RecordBox(const char* caption, const char* text, MessageBoxIcon) {
    g_boxes.push_back(std::string(caption) + ": " + text);
}

class Dialog : public ::testing::Test {
protected:
    void SetUp() override {
        dialog.Initialise();
        g_boxes.clear();
        SetMessageBoxFunction(RecordBox);
    }
    void TearDown() override {
        SetMessageBoxFunction(nullptr);
        win_width.intValue = 800;
        win_height.intValue = 600;
        vid_fullscreen.intValue = 0;
        win_cursor.intValue = 1;
        win_debug.intValue = 1;
        bsp_noclip.intValue = 0;
        vid_effectmode.intValue = 0;
        m_invert.intValue = 0;
        com_log.intValue = 0;
        g_operatingSystem.finished = 0;
        g_startupSelections = StartupSelections{};
    }
    StartupDialog dialog;
    PrintCapture output;
};

}  // namespace

TEST_F(Dialog, DefaultsGiveTowerWorldDemoThreeFullscreenFakeHdrAndNoClip) {
    EXPECT_EQ(dialog.Find(kIdDemo)->items,
              (std::vector<std::string>{"Demo001.dem", "Demo002.dem", "Demo003.dem",
                                        "No Demo (Interactive)"}));
    ASSERT_EQ(dialog.OnCommand(kIdOk), 1);
    ApplyStartupChoices(dialog.Choices());
    EXPECT_EQ(win_width.intValue, 800);
    EXPECT_EQ(win_height.intValue, 600);
    EXPECT_EQ(vid_fullscreen.intValue, 1);
    EXPECT_EQ(vid_effectmode.intValue, 1);
    EXPECT_EQ(bsp_noclip.intValue, 1);
    EXPECT_EQ(win_debug.intValue, 0);
    EXPECT_EQ(win_cursor.intValue, 0);
    EXPECT_EQ(com_log.intValue, 0);
    EXPECT_EQ(g_startupSelections.levelIndex, 2);
    EXPECT_EQ(g_startupSelections.demoPosition, 2);
    EXPECT_TRUE(g_boxes.empty());

    StartLevelAndDemo();
    EXPECT_TRUE(output.Contains("Error loading world."));  // no tower world in this folder
    EXPECT_TRUE(output.Contains("Reading demo demos\\demo003.dem"));  // not in this folder either
    EXPECT_EQ(output.Last(), "Error reading demo.");
    EXPECT_EQ(g_camera.GetPosition().x, 274.0f);
    EXPECT_EQ(g_camera.GetPosition().z, 435.0f);
}

TEST_F(Dialog, FirstDemoStartsArenaWorldWhateverTheLevelListShows) {
    dialog.Find(kIdDemo)->selection = 0;
    dialog.Find(kIdLevel)->selection = 2;
    ASSERT_EQ(dialog.OnCommand(kIdOk), 1);
    EXPECT_EQ(g_startupSelections.levelIndex, 0);
    StartLevelAndDemo();
    EXPECT_TRUE(output.Contains("Error loading world."));
    EXPECT_TRUE(output.Contains("Reading demo demos\\demo001.dem"));
    EXPECT_EQ(output.Last(), "Error reading demo.");
    EXPECT_EQ(g_camera.GetPosition().x, 745.0f);
}

TEST_F(Dialog, NoDemoTakesTheLevelFromTheLevelList) {
    dialog.Find(kIdDemo)->selection = kNoDemoPosition;
    dialog.Find(kIdLevel)->selection = 0;
    ASSERT_EQ(dialog.OnCommand(kIdOk), 1);
    StartLevelAndDemo();
    EXPECT_EQ(output.Last(), "Error loading world.");
    EXPECT_EQ(g_camera.GetPosition().z, -415.0f);
}

TEST_F(Dialog, ChoicesGoIntoTheConsoleVariables) {
    std::string error;
    ASSERT_TRUE(dialog.SetByName("resolution", "5", &error));
    ASSERT_TRUE(dialog.SetByName("path", "4", &error));
    ASSERT_TRUE(dialog.SetByName("fullscreen", "0", &error));
    ASSERT_TRUE(dialog.SetByName("cursor", "1", &error));
    ASSERT_TRUE(dialog.SetByName("debug", "1", &error));
    ASSERT_TRUE(dialog.SetByName("invert", "1", &error));
    ASSERT_TRUE(dialog.SetByName("collision", "1", &error));
    ASSERT_EQ(dialog.OnCommand(0x10000 | kIdOk), 1);  // only the low 16 bits name the command
    ApplyStartupChoices(dialog.Choices());
    EXPECT_EQ(win_width.intValue, 1920);
    EXPECT_EQ(win_height.intValue, 1080);
    EXPECT_EQ(vid_effectmode.intValue, 4);
    EXPECT_EQ(vid_fullscreen.intValue, 0);
    EXPECT_EQ(win_cursor.intValue, 1);
    EXPECT_EQ(win_debug.intValue, 1);
    EXPECT_EQ(m_invert.intValue, 1);
    EXPECT_EQ(bsp_noclip.intValue, 0);
}

TEST_F(Dialog, DebugLogWarnsBeforeTheDialogCloses) {
    dialog.Find(kIdDebugLog)->checked = true;
    ASSERT_EQ(dialog.OnCommand(kIdOk), 1);
    EXPECT_EQ(com_log.intValue, 1);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].rfind("Osprel Warning: Please be aware that selecting 'Debug Logging'", 0),
              0u);
}

TEST_F(Dialog, ExitAndCloseEndWithZero) {
    EXPECT_EQ(dialog.OnCommand(kIdServer), -1);
    EXPECT_EQ(dialog.OnCommand(kIdDebugWindow), -1);
    EXPECT_EQ(dialog.OnClose(), 0);
    EXPECT_EQ(g_operatingSystem.finished, 0);
    EXPECT_EQ(dialog.OnCommand(kIdExit), 0);
    EXPECT_EQ(g_operatingSystem.finished, 1);
    EXPECT_EQ(win_width.intValue, 800);
}

TEST_F(Dialog, CommandLineSettingsAreChecked) {
    std::string error;
    EXPECT_FALSE(dialog.SetByName("resolution", "6", &error));
    EXPECT_FALSE(dialog.SetByName("demo", "-1", &error));
    EXPECT_FALSE(dialog.SetByName("level", "", &error));
    EXPECT_FALSE(dialog.SetByName("log", "yes", &error));
    EXPECT_FALSE(dialog.SetByName("stereoscopic", "1", &error));
    EXPECT_NE(error.find("stereoscopic"), std::string::npos);
    EXPECT_TRUE(dialog.SetByName("demo", "3", &error));
}

TEST_F(Dialog, AnsweredWithoutShowingFromTheCommandLine) {
    FakeBackend backend;
    StartupAnswers answers;
    answers.answerWithoutShowing = true;
    answers.settings = {{"demo", "3"}, {"level", "1"}};
    StartupChoices choices;
    EXPECT_EQ(ShowStartupDialog(&backend, answers, &choices), 1);
    EXPECT_EQ(g_startupSelections.levelIndex, 1);
    EXPECT_EQ(g_startupSelections.demoPosition, 3);
}

TEST_F(Dialog, EnterPressesOkAndEscapePressesExitUnlessAListIsOpen) {
    EXPECT_EQ(dialog.CommandForKey(DialogKey::kEnter, false), kIdOk);
    EXPECT_EQ(dialog.CommandForKey(DialogKey::kKeypadEnter, false), kIdOk);
    EXPECT_EQ(dialog.CommandForKey(DialogKey::kEscape, false), kIdExit);
    // A dropped-down list takes the key for itself.
    EXPECT_EQ(dialog.CommandForKey(DialogKey::kEnter, true), 0);
    EXPECT_EQ(dialog.CommandForKey(DialogKey::kKeypadEnter, true), 0);
    EXPECT_EQ(dialog.CommandForKey(DialogKey::kEscape, true), 0);

    // The keys end the dialog as the buttons do.
    ASSERT_EQ(dialog.OnCommand(dialog.CommandForKey(DialogKey::kKeypadEnter, false)), 1);
    ApplyStartupChoices(dialog.Choices());
    EXPECT_EQ(win_width.intValue, 800);
    EXPECT_EQ(g_operatingSystem.finished, 0);
    EXPECT_EQ(dialog.OnCommand(dialog.CommandForKey(DialogKey::kEscape, false)), 0);
    EXPECT_EQ(g_operatingSystem.finished, 1);

    // A disabled button cannot be pressed by its key either.
    dialog.Find(kIdOk)->disabled = true;
    dialog.Find(kIdExit)->disabled = true;
    EXPECT_EQ(dialog.CommandForKey(DialogKey::kEnter, false), 0);
    EXPECT_EQ(dialog.CommandForKey(DialogKey::kEscape, false), 0);
}

TEST(DebugConsoleTest, EnterQueuesTheLineAndEmptyLinesDoNothing) {
    DebugConsole console;
    console.Show();
    const int32_t before = QueuedLineCount();
    console.OnCommand(kConsoleSendId);
    EXPECT_EQ(QueuedLineCount(), before);

    std::snprintf(console.Input(), DebugConsole::kInputSize, "%s", "fov 60");
    console.OnCommand(kConsoleSendId);
    EXPECT_EQ(QueuedLineCount(), before + 1);
    EXPECT_STREQ(console.Input(), "");

    PrintCapture output;
    g_commandInterpreter.frame();
    EXPECT_EQ(output.Last(), "fov set \"60.000000\"");
    fov.floatValue = 90.0f;
}

TEST(DebugConsoleTest, KeysCannotCloseItButTheCloseBoxHidesIt) {
    DebugConsole console;
    console.Show();
    console.OnCommand(kCommandOk);
    console.OnCommand(kCommandCancel);
    EXPECT_TRUE(console.Visible());
    console.OnClose();
    EXPECT_FALSE(console.Visible());
}

TEST(DebugConsoleTest, OutputShowsLinesAndKeepsItsNewestText) {
    DebugConsole console;
    console.Append("one\r\n");
    console.Append("two\r\n");
    EXPECT_EQ(console.Output(), "one\ntwo\n");
    EXPECT_TRUE(console.TakeScrollRequest());
    EXPECT_FALSE(console.TakeScrollRequest());
    const std::string line(1000, 'x');
    for (size_t i = 0; i < DebugConsole::kMaxOutput / 1000 + 10; ++i) console.Append((line + "\r\n").c_str());
    EXPECT_LE(console.Output().size(), DebugConsole::kMaxOutput);
    EXPECT_EQ(console.Output().substr(0, 1001), line + "\n");  // cut at a line start
}
