#include <gtest/gtest.h>

#include "camera/camera_cvars.h"
#include "console/command_interpreter.h"
#include "platform/operating_system.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"

namespace {

// A window of 800 x 600 and a frame clock stepping 10 ms per frame.
class ViewCommands : public ::testing::Test {
protected:
    void Frames(int count, const char* line) {
        for (int i = 0; i < count; ++i) {
            g_operatingSystem.frame();
            ExecuteLine(line);
        }
    }
    HeadlessWindow window;
    PrintCapture output;
};

}  // namespace

TEST_F(ViewCommands, HoldingIncEffectForTwoAndAHalfSecondsStepsThreeTimes) {
    vid_effectmode.intValue = 0;
    Frames(250, "v_incEffect");
    EXPECT_EQ(vid_effectmode.intValue, 3);
}

TEST_F(ViewCommands, EffectStepsWrapBothWays) {
    vid_effectmode.intValue = 0;
    g_operatingSystem.frame();
    ExecuteLine("v_decEffect");
    EXPECT_EQ(vid_effectmode.intValue, 4);
    vid_effectmode.intValue = 4;
    ExecuteLine("v_incEffect");
    EXPECT_EQ(vid_effectmode.intValue, 0);
}

TEST_F(ViewCommands, FillModeCommandsKeepSeparateTimes) {
    r_wireframe.intValue = 0;
    g_operatingSystem.frame();
    ExecuteLine("fillmode++");
    ExecuteLine("fillmode--");
    EXPECT_EQ(r_wireframe.intValue, 0);  // flipped twice
    ExecuteLine("fillmode++");
    EXPECT_EQ(r_wireframe.intValue, 0);  // within a second of its own last flip
}

TEST_F(ViewCommands, FlipsAndSort) {
    m_invert.intValue = 5;
    bsp_noclip.intValue = 0;
    bsp_sort.intValue = 2;
    g_operatingSystem.frame();
    ExecuteLine("v_invert");
    ExecuteLine("v_noclip");
    ExecuteLine("v_toggleSort");
    EXPECT_EQ(m_invert.intValue, 0);
    EXPECT_EQ(bsp_noclip.intValue, 1);
    EXPECT_EQ(bsp_sort.intValue, 0);
    EXPECT_EQ(output.Last(), "Toggling sort mode!");
}

TEST_F(ViewCommands, SizesAreClampedToTheWindow) {
    vid_viewport_width.intValue = 790;
    vid_viewport_height.intValue = 590;
    ExecuteLine("v_incDrawLevel");
    EXPECT_EQ(vid_viewport_width.intValue, 799);
    EXPECT_EQ(vid_viewport_height.intValue, 599);
    ExecuteLine("v_incDrawLevel");
    EXPECT_EQ(vid_viewport_width.intValue, 799);
    vid_viewport_width.intValue = 780;  // exactly the window's width after the step: kept
    ExecuteLine("v_incDrawLevel");
    EXPECT_EQ(vid_viewport_width.intValue, 800);

    vid_scissor_width.intValue = 15;
    vid_scissor_height.intValue = 15;
    ExecuteLine("v_decScissorLevel");
    EXPECT_EQ(vid_scissor_width.intValue, 1);
    EXPECT_EQ(vid_scissor_height.intValue, 1);
    vid_scissor_width.intValue = -50;  // unsigned: far beyond the window
    ExecuteLine("v_incScissorLevel");
    EXPECT_EQ(vid_scissor_width.intValue, 799);
}
