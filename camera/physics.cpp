#include "camera/physics.h"

#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "platform/operating_system.h"
#include "world/world.h"

void StepPhysics(World* world, Camera* camera, double frameMs) {
    const float t = static_cast<float>(frameMs);
    D3DXVECTOR3& position = camera->Position();
    camera->EyeOffset().y = kEyeHeight;

    position.y -= t * kFallRate;
    if (p_thrust.floatValue >= kThrustFloor) {
        position.y += t * p_thrust.floatValue * kMovementScale;
        p_thrust.floatValue -= t * kThrustDecay;
    } else {
        p_thrust.floatValue = 0.0f;
    }

    world->ResetSlideMoveCount();
    const D3DXVECTOR3 previous = camera->GetPreviousPosition();
    D3DXVECTOR3 result;
    if (world->SlideMove(&previous, &position, &result, true)) position = result;

    // The counter carries on: the probe is part of the same frame's moves.
    const D3DXVECTOR3 below(position.x, position.y - kGroundProbe, position.z);
    D3DXVECTOR3 scratch;
    p_ground.intValue = world->SlideMove(&position, &below, &scratch, false) ? 1 : 0;
}

void StepPhysics(World* world, Camera* camera) {
    StepPhysics(world, camera, g_operatingSystem.FrameDelta());
}
