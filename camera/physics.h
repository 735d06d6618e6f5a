// The viewer's physics, one step per frame while clipping is on: gravity,
// the jump's thrust, sliding collision and the ground probe.
#pragma once

#include <cstdint>

#include "video/d3d9/d3dx9.h"
#include "world/collision.h"
#include "world/world_data.h"

class Camera;

constexpr float kFallRate = 0.225f;       // units per millisecond
constexpr float kThrustDecay = 0.01f;     // per millisecond
constexpr float kThrustFloor = -1.0f;
constexpr float kJumpThrust = 8.0f;
constexpr float kEyeHeight = 15.0f;
constexpr float kMovementScale = 0.05f;
constexpr float kSidewaysFactor = 0.75f;
constexpr float kMouseScale = 0.01f;

// The collision response of one physics step: moves that stop at the first
// brush in the way, climb steps, or slide along the face they meet. The
// moves of one step share a call counter that bounds them.
class SlideMover {
public:
    explicit SlideMover(const WorldData& world) : world_(world) {}

    // Moves from start towards end. False when the move is free (the caller
    // keeps its end), when an argument is missing or shared, or when the
    // step has used its moves up; else true with where the move ends in
    // result: at the hit when slide is false, else slid along the face.
    // Clears the ground flag.
    bool SlideMove(const D3DXVECTOR3* start, const D3DXVECTOR3* end, D3DXVECTOR3* result, bool slide);
    void ResetSlideMoveCount() { slideMoveCalls = 0; }

    int32_t slideMoveCalls = 0;
    // Where the last move's sweeps ended: their fraction and the normal of
    // the last face hit.
    TraceResult lastTrace;

private:
    const WorldData& world_;
};

// One step over frameMs milliseconds.
void StepPhysics(const WorldData& world, Camera* camera, double frameMs);
// The same over the frame clock's last frame time.
void StepPhysics(const WorldData& world, Camera* camera);
