#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "console/command_interpreter.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "world/world_cvars.h"

namespace {

// A frame clock that has just stepped 10 ms, and a camera at the origin.
class Movement : public ::testing::Test {
protected:
    void SetUp() override {
        g_operatingSystem.frame();  // one fixed 10 ms step
        ASSERT_DOUBLE_EQ(g_operatingSystem.FrameDelta(), 10.0);
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
        g_camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    }
    void TearDown() override {
        bsp_noclip.intValue = 0;
        m_invert.intValue = 0;
        p_thrust.floatValue = 0.0f;
        p_ground.intValue = 1;
    }
    HeadlessWindow window;
    PrintCapture output;
};

void ExpectPosition(float x, float y, float z) {
    EXPECT_NEAR(g_camera.GetPosition().x, x, 1e-4f);
    EXPECT_NEAR(g_camera.GetPosition().y, y, 1e-4f);
    EXPECT_NEAR(g_camera.GetPosition().z, z, 1e-4f);
}

}  // namespace

TEST_F(Movement, ForwardAndSidewaysOverTenMilliseconds) {
    ExecuteLine("+forward");
    ExpectPosition(0.0f, 0.0f, -2.125f);
    ExecuteLine("+back");
    ExpectPosition(0.0f, 0.0f, 0.0f);
    ExecuteLine("+left");
    ExpectPosition(1.59375f, 0.0f, 0.0f);
    ExecuteLine("+right");
    ExecuteLine("+right");
    ExpectPosition(-1.59375f, 0.0f, 0.0f);
}

TEST_F(Movement, WalkingStaysLevelWhileFlyingFollowsTheView) {
    g_camera.ResetView(0.0f, 45.0f, 0.0f);  // looking up 45 degrees
    ExecuteLine("+forward");
    ExpectPosition(0.0f, 0.0f, -2.125f);
    bsp_noclip.intValue = 1;
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    ExecuteLine("+forward");
    const float along = 2.125f * 0.70710678f;
    ExpectPosition(0.0f, along, -along);
}

TEST_F(Movement, UpAndDownKeepTheirInvertedSense) {
    ExecuteLine("+moveup");
    ExpectPosition(0.0f, -2.125f, 0.0f);
    ExecuteLine("+movedown");
    ExecuteLine("+movedown");
    ExpectPosition(0.0f, 2.125f, 0.0f);
}

TEST_F(Movement, ResetPlacesTheViewerAtTheResetPoint) {
    ExecuteLine("+reset");
    ExpectPosition(-50.0f, 80.0f, 0.0f);
    EXPECT_EQ(g_camera.GetPreviousPosition().y, 80.0f);
}

TEST_F(Movement, RotateTurnsByMouseMovementScaledByTheFrame) {
    ConsoleObject* rotate = FindConsoleObject("+rotate");
    ASSERT_NE(rotate, nullptr);
    rotate->handler(-100, 0, 0, nullptr);  // 10 ms x 100 x 0.05 x 0.01 = 0.5 degrees
    EXPECT_NEAR(g_camera.GetAngles().yaw, -0.5f, 1e-4f);
    rotate->handler(0, -100, 0, nullptr);
    EXPECT_NEAR(g_camera.GetAngles().pitch, 0.5f, 1e-4f);
    m_invert.intValue = 1;
    rotate->handler(0, -100, 0, nullptr);
    EXPECT_NEAR(g_camera.GetAngles().pitch, 0.0f, 1e-4f);
}

TEST_F(Movement, TheMostExtremeMouseMovementTurnsTheOtherWay) {
    ConsoleObject* rotate = FindConsoleObject("+rotate");
    ASSERT_NE(rotate, nullptr);
    // The smallest int32 has no int32 negation: the turn is worked out in float.
    rotate->handler(INT32_MIN, 0, 0, nullptr);
    EXPECT_TRUE(std::isfinite(g_camera.GetAngles().yaw));
    rotate->handler(0, INT32_MIN, 0, nullptr);  // a pitch that far is refused whole
    EXPECT_NEAR(g_camera.GetAngles().pitch, 0.0f, 1e-4f);
}

TEST_F(Movement, JumpNeedsGroundAndNoThrustLeft) {
    p_ground.intValue = 0;
    ExecuteLine("+jump");
    EXPECT_EQ(p_thrust.floatValue, 0.0f);
    p_ground.intValue = 1;
    ExecuteLine("+jump");
    EXPECT_EQ(p_thrust.floatValue, 8.0f);
    p_thrust.floatValue = 3.0f;  // still rising
    ExecuteLine("+jump");
    EXPECT_EQ(p_thrust.floatValue, 3.0f);
    p_thrust.floatValue = -0.5f;  // falling back: a jump may start again
    ExecuteLine("+jump");
    EXPECT_EQ(p_thrust.floatValue, 8.0f);
}
