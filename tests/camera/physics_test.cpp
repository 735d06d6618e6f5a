#include <gtest/gtest.h>

#include "engine/game_system.h"
#include "camera/camera_cvars.h"
#include "camera/physics.h"
#include "console/command_interpreter.h"
#include "support/loaded_world.h"
#include "world/world_cvars.h"

namespace {

// A floor whose top is y = 0, a low step (20 high) and a high step (40 high)
// further along -Z, and a wall at x = 300.
class Physics : public LoadedWorld {
protected:
    void SetUp() override {
        LoadedWorld::SetUp();
        BspBuilder b = BspBuilder::MinimalWorld();
        const int32_t solid = b.AddTexture("textures/test/solid", 1);
        b.AddBoxBrush({{-1000, -100, -1000}, {1000, 0, 1000}}, solid);
        b.AddBoxBrush({{-200, 0, -400}, {200, 20, -200}}, solid);
        b.AddBoxBrush({{-200, 0, -800}, {200, 60, -600}}, solid);
        b.AddBoxBrush({{300, 0, -1000}, {400, 300, 1000}}, solid);
        b.BuildTree();
        world = Load(b);
        ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
        bsp_noclip.intValue = 0;
        p_thrust.floatValue = 0.0f;
        p_ground.intValue = 1;
    }
    void TearDown() override {
        bsp_noclip.intValue = 0;
        p_thrust.floatValue = 0.0f;
        p_ground.intValue = 1;
        g_camera.EyeOffset() = D3DXVECTOR3(0.0f, 0.0f, 0.0f);  // the physics step raised the eye
        LoadedWorld::TearDown();
    }

    // Frames of 10 ms: physics, then the view update that remembers the position.
    void Frames(int count, const char* held = nullptr) {
        for (int i = 0; i < count; ++i) {
            g_operatingSystem.frame();
            if (held != nullptr) ExecuteLine(held);
            StepPhysics(world->Data(), &g_camera, 10.0);
            g_camera.UpdateView(0.0f, 0.0f, 0.0f);
        }
    }

    World* world = nullptr;
};

}  // namespace

TEST_F(Physics, OneStepOverTenMillisecondsInTheOpen) {
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 500.0f, 0.0f));
    StepPhysics(world->Data(), &g_camera, 10.0);
    EXPECT_FLOAT_EQ(g_camera.GetPosition().y, 500.0f - 2.25f);  // thrust 0 adds nothing
    EXPECT_FLOAT_EQ(p_thrust.floatValue, -0.1f);
    EXPECT_EQ(g_camera.EyeOffset().y, 15.0f);
    EXPECT_EQ(p_ground.intValue, 0);  // nothing within 55 below

    // A frame of 0 ms moves nothing; thrust below -1 is reset to 0.
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 500.0f, 0.0f));
    p_thrust.floatValue = -1.5f;
    StepPhysics(world->Data(), &g_camera, 0.0);
    EXPECT_FLOAT_EQ(g_camera.GetPosition().y, 500.0f);
    EXPECT_EQ(p_thrust.floatValue, 0.0f);
}

TEST_F(Physics, TheViewerFallsToTheFloorAndStaysOnIt) {
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 200.0f, 0.0f));
    Frames(200);
    const float y = g_camera.GetPosition().y;
    EXPECT_GT(y, 24.9f);  // the sphere's radius above the floor
    EXPECT_LT(y, 26.0f);
    EXPECT_EQ(p_ground.intValue, 1);
    Frames(100);
    EXPECT_NEAR(g_camera.GetPosition().y, y, 0.5f);
}

TEST_F(Physics, JumpRisesAndComesBack) {
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 26.0f, 0.0f));
    Frames(20);
    ExecuteLine("+jump");
    EXPECT_EQ(p_thrust.floatValue, 8.0f);
    const float before = g_camera.GetPosition().y;
    Frames(30);
    EXPECT_GT(g_camera.GetPosition().y, before + 20.0f);
    Frames(300);
    EXPECT_LT(g_camera.GetPosition().y, 26.0f);
}

TEST_F(Physics, WalkingClimbsALowStepButNotAHighOne) {
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 26.0f, -100.0f));
    Frames(20);
    // Walk along -Z onto the 20-unit step.
    Frames(60, "+forward");
    EXPECT_LT(g_camera.GetPosition().z, -200.0f);
    EXPECT_GT(g_camera.GetPosition().y, 40.0f);
    // On to the 60-unit block: the walk stops in front of it.
    Frames(200, "+forward");
    EXPECT_GT(g_camera.GetPosition().z, -600.0f);
}

TEST_F(Physics, WalkingIntoAWallSlidesAlongIt) {
    g_camera.SetPosition(D3DXVECTOR3(250.0f, 26.0f, 500.0f));
    g_camera.ResetView(45.0f, 0.0f, 0.0f);  // facing -Z turned 45 degrees towards +X
    Frames(20);
    const float startZ = g_camera.GetPosition().z;
    Frames(100, "+forward");
    EXPECT_LT(g_camera.GetPosition().x, 300.0f - 24.0f);  // kept out of the wall
    EXPECT_LT(g_camera.GetPosition().z, startZ - 50.0f);  // but still moving along it
}

TEST_F(Physics, NoClipFliesWithoutGravity) {
    bsp_noclip.intValue = 1;
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 200.0f, 0.0f));
    p_thrust.floatValue = 3.0f;
    for (int i = 0; i < 10; ++i) RunWorldFrame(&*world);
    EXPECT_EQ(g_camera.GetPosition().y, 200.0f);
    EXPECT_EQ(p_thrust.floatValue, 3.0f);
}
