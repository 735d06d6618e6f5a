// The viewer's physics, one step per frame while clipping is on: gravity,
// the jump's thrust, sliding collision and the ground probe.
#pragma once

class Camera;
class World;

constexpr float kFallRate = 0.225f;       // units per millisecond
constexpr float kThrustDecay = 0.01f;     // per millisecond
constexpr float kThrustFloor = -1.0f;
constexpr float kJumpThrust = 8.0f;
constexpr float kEyeHeight = 15.0f;
constexpr float kMovementScale = 0.05f;
constexpr float kSidewaysFactor = 0.75f;
constexpr float kMouseScale = 0.01f;

// One step over frameMs milliseconds.
void StepPhysics(World* world, Camera* camera, double frameMs);
// The same over the frame clock's last frame time.
void StepPhysics(World* world, Camera* camera);
