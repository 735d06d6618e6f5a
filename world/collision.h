// Collision: the viewer is a sphere of radius 25 swept along a segment
// through the BSP tree down to the leaves and their brushes, with every brush
// plane pushed out by the radius. A sweep reads the world's records, keeps
// its state on the stack, allocates nothing and returns what it found.
#pragma once

#include <cstdint>

#include "video/d3d9/d3dx9.h"
#include "world/world_data.h"

// The sphere the viewer collides as, and the sweep's constants.
constexpr float kTraceRadius = 25.0f;
constexpr float kTraceEpsilon = 0.03125f;
constexpr float kGroundProbe = 55.0f;
constexpr float kStepHeight = 25.0f;
constexpr int kSlideMoveLimit = 10;

struct TraceResult {
    // The free part of the segment, 0 .. 1; 1 when nothing was hit.
    float fraction = 1.0f;
    // The plane of the brush side hit at fraction; (0, 0, 0) without a hit.
    D3DXVECTOR3 normal{0.0f, 0.0f, 0.0f};
    bool hit = false;
};

// Sweeps the sphere from start to end; the first brush hit along the way
// wins. A damaged tree (shared or looping children, indices outside their
// tables) ends the sweep early instead of reading outside the records.
TraceResult SweepSphere(const WorldData& world, const D3DXVECTOR3& start, const D3DXVECTOR3& end);

// Brushes of a texture whose contents are solid block; the others (player
// clips, water, fog) are passed through.
bool BrushIsSolid(const WorldData& world, const BspBrush& brush);
