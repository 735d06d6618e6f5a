// The movement commands, meant to be held on keys: each run moves the camera
// by the frame time. None rebuilds the view; the next frame does.
#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "camera/physics.h"
#include "console/console_object.h"
#include "platform/operating_system.h"
#include "world/world_cvars.h"

namespace {

const D3DXVECTOR3 kResetPosition(-50.0f, 80.0f, 0.0f);

// Distance covered in this frame.
float Step() {
    return static_cast<float>(g_operatingSystem.FrameDelta()) * p_speed.floatValue * kMovementScale;
}

void Forward(float s) {
    D3DXVECTOR3& position = g_camera.Position();
    if (bsp_noclip.intValue == 0) {
        position.x += s * g_camera.LevelForward().x;
        position.z += s * g_camera.LevelForward().z;
    } else {
        position.x += s * g_camera.Look().x;
        position.y += s * g_camera.Look().y;
        position.z += s * g_camera.Look().z;
    }
}

void Sideways(float s) {
    D3DXVECTOR3& position = g_camera.Position();
    position.x += kSidewaysFactor * s * g_camera.Left().x;
    position.z += kSidewaysFactor * s * g_camera.Left().z;
}

int32_t MoveForward(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    Forward(Step());
    return 1;
}

int32_t MoveBack(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    Forward(-Step());
    return 1;
}

// Up and down keep the engine's own sense: "moveup" goes along -Y.
int32_t MoveUp(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    g_camera.Position().y -= Step() * g_camera.Up().y;
    return 1;
}

int32_t MoveDown(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    g_camera.Position().y += Step() * g_camera.Up().y;
    return 1;
}

int32_t MoveLeft(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    Sideways(Step());
    return 1;
}

int32_t MoveRight(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    Sideways(-Step());
    return 1;
}

// A held mouse passes its horizontal and vertical movement.
int32_t Rotate(int32_t dx, int32_t dy, int32_t, const ConsoleArgument*) {
    const float frame = static_cast<float>(g_operatingSystem.FrameDelta());
    g_camera.Yaw(frame * -static_cast<float>(dx) * sensitivity.floatValue * kMouseScale);
    float q = -static_cast<float>(dy) * sensitivity.floatValue * kMouseScale;
    if (m_invert.intValue != 0) q = -q;
    g_camera.Pitch(frame * q);
    return 1;
}

int32_t Reset(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    g_camera.SetPosition(kResetPosition);
    return 1;
}

int32_t Jump(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    ConsoleObject* thrust = FindConsoleObject("p_thrust");
    ConsoleObject* ground = FindConsoleObject("p_ground");
    if (thrust != nullptr && thrust->floatValue <= 0.0f && ground != nullptr && ground->intValue != 0) {
        thrust->floatValue = kJumpThrust;
    }
    return 1;
}

ConsoleCommand forwardCommand("+forward", MoveForward);
ConsoleCommand backCommand("+back", MoveBack);
ConsoleCommand moveUpCommand("+moveup", MoveUp);
ConsoleCommand moveDownCommand("+movedown", MoveDown);
ConsoleCommand leftCommand("+left", MoveLeft);
ConsoleCommand rightCommand("+right", MoveRight);
ConsoleCommand rotateCommand("+rotate", Rotate);
ConsoleCommand resetCommand("+reset", Reset);
ConsoleCommand jumpCommand("+jump", Jump);

}  // namespace
