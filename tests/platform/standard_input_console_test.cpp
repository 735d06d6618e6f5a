// The headless debug console: lines arriving on a descriptor are queued as
// typed lines, whole lines only, and echoed when the interpreter runs them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "console/command_interpreter.h"
#include "platform/headless/standard_input_console.h"
#include "support/test_support.h"
#include "video/video_cvars.h"

namespace {

class StandardInput : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::pipe(fds_), 0); }
    void TearDown() override {
        if (fds_[1] >= 0) ::close(fds_[1]);
        ::close(fds_[0]);
        g_commandInterpreter.frame();  // nothing queued here outlives the test
        fov.floatValue = 90.0f;
    }
    void Write(const std::string& text) {
        ASSERT_EQ(::write(fds_[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void CloseWriter() {
        ::close(fds_[1]);
        fds_[1] = -1;
    }
    int ReadEnd() const { return fds_[0]; }

private:
    int fds_[2] = {-1, -1};
};

}  // namespace

TEST_F(StandardInput, WholeLinesAreQueuedAndEchoedWhenTheyRun) {
    StandardInputConsole console(ReadEnd());
    EXPECT_EQ(console.Pump(), 0);  // nothing has arrived: no wait, nothing queued

    Write("fov 60\r\n\nno_such_thing\nfo");
    EXPECT_EQ(console.Pump(), 2);  // the empty line does nothing; "fo" is not whole yet
    PrintCapture output;
    g_commandInterpreter.frame();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"] fov 60", "fov set \"60.000000\"",
                                                        "] no_such_thing",
                                                        "no_such_thing: Unknown command."}));

    // The rest of a line arrives later; the last line counts once input ends.
    output.Clear();
    Write("v\nfov");
    EXPECT_EQ(console.Pump(), 1);
    EXPECT_FALSE(console.AtEnd());
    CloseWriter();
    EXPECT_EQ(console.Pump(), 1);
    EXPECT_TRUE(console.AtEnd());
    g_commandInterpreter.frame();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"] fov", "fov is \"60.000000\"", "] fov",
                                                        "fov is \"60.000000\""}));
}

TEST_F(StandardInput, AnEndlessLineIsCutAtItsLimitAndTheNextLineStillRuns) {
    StandardInputConsole console(ReadEnd());
    PrintCapture output;
    // 200 KB without a line end, fed as a pipe takes it, then a real line.
    const std::string chunk(16 * 1024, 'x');
    int queued = 0;
    for (int i = 0; i < 12; ++i) {
        Write(chunk);
        queued += console.Pump();
    }
    EXPECT_EQ(queued, 0);
    int warnings = 0;
    for (const std::string& line : output.Lines()) warnings += line.find("longer than 64 KB") != std::string::npos;
    EXPECT_EQ(warnings, 1);
    Write(chunk + "\nfov 75\n");
    EXPECT_EQ(console.Pump(), 1);  // the tail of the long line is dropped, the next line runs
    output.Clear();
    g_commandInterpreter.frame();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"] fov 75", "fov set \"75.000000\""}));

    // A line of exactly the limit is still taken whole.
    Write(std::string(StandardInputConsole::kMaxLineBytes - 8, ' ') + "fov 30\n");
    int whole = 0;
    for (int i = 0; i < 4 && whole == 0; ++i) whole = console.Pump();
    EXPECT_EQ(whole, 1);
    CloseWriter();
    console.Pump();
}
