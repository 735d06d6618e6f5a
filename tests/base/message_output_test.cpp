#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/message_output.h"
#include "console/runtime_log.h"
#include "support/test_support.h"

namespace {

std::vector<std::string> g_consoleLines;
void ShowInConsole(const char* line) { g_consoleLines.emplace_back(line); }

struct Box {
    std::string caption, text;
    MessageBoxIcon icon;
};
std::vector<Box> g_boxes;
void RecordBox(const char* caption, const char* text, MessageBoxIcon icon) {
    g_boxes.push_back({caption, text, icon});
}

class MessageOutput : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = GetMessageRoute();
        SetMessageRoute(MessageRoute{});
        ClearPendingLines();
        g_consoleLines.clear();
        g_boxes.clear();
    }
    void TearDown() override {
        SetMessageRoute(saved_);
        SetMessageBoxFunction(nullptr);
        SetMessageBoxesOff(false);
        ClearPendingLines();
        com_log.intValue = 0;
    }
    MessageRoute saved_;
};

}  // namespace

TEST_F(MessageOutput, LinesWaitUntilTheConsoleExistsAndAreShownOnce) {
    PrintLine("first %d", 1);
    PrintLine("100%% sure");
    ASSERT_EQ(PendingLineCount(), 2);
    EXPECT_STREQ(PendingLine(0), "first 1");

    SetMessageRoute(MessageRoute{true, true, ShowInConsole});
    ReplayPendingLines();
    EXPECT_EQ(g_consoleLines, (std::vector<std::string>{"first 1\r\n", "100% sure\r\n"}));
    EXPECT_EQ(PendingLineCount(), 0);

    PrintLine("live");
    EXPECT_EQ(g_consoleLines.back(), "live\r\n");
    EXPECT_EQ(PendingLineCount(), 0);
}

TEST_F(MessageOutput, LongPendingLinesAreCut) {
    PrintLine("%s", std::string(300, 'a').c_str());
    PrintLine("%s", std::string(249, 'b').c_str());
    PrintLine("%s", std::string(248, 'c').c_str());
    EXPECT_EQ(std::string(PendingLine(0)), std::string(248, 'a'));
    EXPECT_EQ(std::string(PendingLine(1)), std::string(248, 'b'));
    EXPECT_EQ(std::string(PendingLine(2)), std::string(248, 'c'));
}

TEST_F(MessageOutput, PendingListKeepsTheNewestLines) {
    for (int i = 0; i < kMaxPendingLines + 10; ++i) PrintLine("line %d", i);
    EXPECT_EQ(PendingLineCount(), kMaxPendingLines);
    EXPECT_STREQ(PendingLine(0), "line 10");
    EXPECT_EQ(std::string(PendingLine(kMaxPendingLines - 1)),
              "line " + std::to_string(kMaxPendingLines + 9));
}

TEST_F(MessageOutput, ConsoleEnabledButNotYetOpenShowsNothing) {
    ScratchFolder folder;
    SetMessageRoute(MessageRoute{true, true, nullptr});
    com_log.intValue = 1;
    PrintLine("log only");
    EXPECT_EQ(PendingLineCount(), 0);
    EXPECT_EQ(folder.Read(kRuntimeLogName), "log only\r\n");
}

TEST_F(MessageOutput, DisabledConsoleKeepsLinesPendingAndLogsThem) {
    ScratchFolder folder;
    SetMessageRoute(MessageRoute{true, false, ShowInConsole});
    com_log.intValue = 1;
    PrintLine("kept");
    EXPECT_TRUE(g_consoleLines.empty());
    EXPECT_EQ(PendingLineCount(), 1);
    EXPECT_EQ(folder.Read(kRuntimeLogName), "kept\r\n");
}

TEST_F(MessageOutput, ReplayedLinesReachTheLogAgain) {
    ScratchFolder folder;
    com_log.intValue = 1;
    PrintLine("early");
    SetMessageRoute(MessageRoute{true, true, ShowInConsole});
    ReplayPendingLines();
    EXPECT_EQ(folder.Read(kRuntimeLogName), "early\r\nearly\r\n");
}

TEST_F(MessageOutput, ErrorsAndWarningsShowABoxThenALine) {
    SetMessageBoxFunction(RecordBox);
    PrintCapture output;
    ReportError("Window Creation Failure");
    ReportWarning("Less than %i buttons", 3);
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(g_boxes[0].caption, "Osprel Error");
    EXPECT_EQ(g_boxes[0].text, "Window Creation Failure");
    EXPECT_EQ(g_boxes[0].icon, MessageBoxIcon::kError);
    EXPECT_EQ(g_boxes[1].caption, "Osprel Warning");
    EXPECT_EQ(g_boxes[1].icon, MessageBoxIcon::kWarning);
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"[Error] Window Creation Failure",
                                                        "[Warning] Less than 3 buttons"}));
}

TEST_F(MessageOutput, OverlongMessagesAreCutButKeepTheirLineEnd) {
    SetMessageRoute(MessageRoute{true, true, ShowInConsole});
    PrintLine("%s", std::string(1000, 'z').c_str());
    ASSERT_EQ(g_consoleLines.size(), 1u);
    const std::string& line = g_consoleLines[0];
    EXPECT_EQ(line.size(), 257u + 2u);
    EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
}

TEST_F(MessageOutput, BoxesTurnedOffGoToStandardErrorAndBlockNothing) {
    SetMessageBoxFunction(RecordBox);
    SetMessageBoxesOff(true);
    EXPECT_TRUE(MessageBoxesOff());
    PrintCapture output;
    ::testing::internal::CaptureStderr();
    ReportError("Window Creation Failure");
    ReportWarning("Less than %i buttons", 3);
    ShowMessageBox("Osprel Error", std::string(400, 'w').c_str(), MessageBoxIcon::kError);
    const std::string error = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_EQ(error, "Osprel Error: Window Creation Failure\nOsprel Warning: Less than 3 buttons\n"
                     "Osprel Error: " + std::string(400, 'w') + "\n");
    // The lines are printed as with boxes shown.
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"[Error] Window Creation Failure",
                                                        "[Warning] Less than 3 buttons"}));

    // Turned on again, boxes reach the installed function, texts of any
    // length whole.
    SetMessageBoxesOff(false);
    ShowMessageBox("Osprel Error", std::string(400, 'w').c_str(), MessageBoxIcon::kError);
    ASSERT_EQ(g_boxes.size(), 1u);
    EXPECT_EQ(g_boxes[0].text.size(), 400u);
}
