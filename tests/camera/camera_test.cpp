#include <gtest/gtest.h>

#include <cmath>

#include "camera/camera.h"
#include "console/command_interpreter.h"
#include "support/test_support.h"

namespace {

void ExpectVector(const D3DXVECTOR3& v, float x, float y, float z) {
    EXPECT_NEAR(v.x, x, 1e-5f);
    EXPECT_NEAR(v.y, y, 1e-5f);
    EXPECT_NEAR(v.z, z, 1e-5f);
}

}  // namespace

TEST(CameraPitch, StepsPastEightyNineDegreesAreRefusedWhole) {
    Camera camera;
    camera.Pitch(90.0f);
    EXPECT_EQ(camera.GetAngles().pitch, 0.0f);
    ExpectVector(camera.Look(), 0.0f, 0.0f, -1.0f);

    camera.Pitch(89.0f);
    EXPECT_EQ(camera.GetAngles().pitch, 89.0f);
    const float radians = static_cast<float>(89.0 * kDegreesToRadians);
    ExpectVector(camera.Look(), 0.0f, std::sin(radians), -std::cos(radians));

    const D3DXVECTOR3 before = camera.Look();
    camera.Pitch(1.0f);
    EXPECT_EQ(camera.GetAngles().pitch, 89.0f);
    ExpectVector(camera.Look(), before.x, before.y, before.z);
    camera.Pitch(-178.0f);
    EXPECT_EQ(camera.GetAngles().pitch, -89.0f);
}

TEST(CameraYaw, NinetyDegreesTurnsToTheViewersLeft) {
    Camera camera;
    camera.Yaw(90.0f);
    EXPECT_EQ(camera.GetAngles().yaw, -90.0f);
    ExpectVector(camera.Look(), 1.0f, 0.0f, 0.0f);
    ExpectVector(camera.Left(), 0.0f, 0.0f, 1.0f);
    ExpectVector(camera.LevelForward(), 1.0f, 0.0f, 0.0f);
    ExpectVector(camera.Up(), 0.0f, 1.0f, 0.0f);

    // Replaying the angles through ResetView gives the same orientation.
    Camera replay;
    const CameraAngles angles = camera.GetAngles();
    replay.ResetView(-angles.yaw, angles.pitch, angles.roll);
    ExpectVector(replay.Look(), 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(replay.GetAngles().yaw, -90.0f);
}

TEST(CameraYaw, AnglesWrapPastAFullTurn) {
    Camera camera;
    for (int i = 0; i < 5; ++i) camera.Yaw(-90.0f);
    EXPECT_EQ(camera.GetAngles().yaw, 90.0f);  // 450 wraps to 90
    ExpectVector(camera.Look(), -1.0f, 0.0f, 0.0f);
}

TEST(CameraView, FrustumCullsBoxesBehindAndBesideTheViewer) {
    Camera camera;
    camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, 800.0f, 600.0f);
    camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    camera.UpdateView(0.0f, 0.0f, 0.0f);
    // Looking down -Z.
    EXPECT_TRUE(camera.BoxInFrustum(D3DXVECTOR3(-1, -1, -20), D3DXVECTOR3(1, 1, -10)));
    EXPECT_FALSE(camera.BoxInFrustum(D3DXVECTOR3(-1, -1, 10), D3DXVECTOR3(1, 1, 20)));
    EXPECT_FALSE(camera.BoxInFrustum(D3DXVECTOR3(100, -1, -20), D3DXVECTOR3(120, 1, -10)));
    // A box around the eye straddles every plane.
    EXPECT_TRUE(camera.BoxInFrustum(D3DXVECTOR3(-1, -1, -1), D3DXVECTOR3(1, 1, 1)));
    // With the engine's far distance the far plane vanishes in float
    // precision; it must then cull nothing rather than everything.
    EXPECT_TRUE(camera.BoxInFrustum(D3DXVECTOR3(-1, -1, -2000000), D3DXVECTOR3(1, 1, -1000000)));
    // The sixth plane (w + z) faces along the view: -Z here.
    EXPECT_NEAR(camera.FrustumPlane(5).c, -1.0f, 1e-4f);

    // Planes are normalised by the length of their normal.
    camera.SetProjection(1.5707964f, 0.1f, 1000.0f, 800.0f, 600.0f);
    camera.UpdateView(0.0f, 0.0f, 0.0f);
    for (int i = 0; i < 6; ++i) {
        const Plane& p = camera.FrustumPlane(i);
        EXPECT_NEAR(p.a * p.a + p.b * p.b + p.c * p.c, 1.0f, 1e-4f) << i;
    }
    EXPECT_FALSE(camera.BoxInFrustum(D3DXVECTOR3(-1, -1, -3000), D3DXVECTOR3(1, 1, -2000)));
}

TEST(CameraView, EyeOffsetRaisesTheViewNotThePosition) {
    Camera camera;
    camera.SetProjection(1.5707964f, 0.1f, 1000.0f, 800.0f, 600.0f);
    camera.EyeOffset().y = 15.0f;
    camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
    camera.UpdateView(0.0f, 0.0f, 0.0f);
    // The world point at eye height straight ahead lands at the screen centre.
    const D3DXMATRIX& v = camera.View();
    const float y = 0.0f * v.m[0][1] + 15.0f * v.m[1][1] + -10.0f * v.m[2][1] + v.m[3][1];
    EXPECT_NEAR(y, 0.0f, 1e-4f);
    ExpectVector(camera.GetPosition(), 0.0f, 0.0f, 0.0f);
}

TEST(CameraCommands, SetViewAndSetPosition) {
    PrintCapture output;
    ExecuteLine("v_setview 30 90 45");
    const CameraAngles angles = g_camera.GetAngles();
    EXPECT_EQ(angles.pitch, 30.0f);
    EXPECT_EQ(angles.yaw, -90.0f);
    EXPECT_EQ(angles.roll, 0.0f);

    ExecuteLine("v_setpos 745 115 -415");
    ExpectVector(g_camera.GetPosition(), 745.0f, 115.0f, -415.0f);
    ExpectVector(g_camera.GetPreviousPosition(), 745.0f, 115.0f, -415.0f);

    ExecuteLine("v_setpos 1 2");
    EXPECT_EQ(output.Last(), "syntax: v_setpos x y z");
    ExpectVector(g_camera.GetPosition(), 745.0f, 115.0f, -415.0f);
    ExecuteLine("v_setview 1 2 3 4");
    EXPECT_EQ(output.Last(), "syntax: v_setview pitch yaw roll");

    ExecuteLine("v_setpos abc 2x 3");
    ExpectVector(g_camera.GetPosition(), 0.0f, 2.0f, 3.0f);
}
