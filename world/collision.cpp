#include "world/collision.h"

#include <cstddef>
#include <cstdint>
#include <limits>

#include "base/message_output.h"
#include "world/world_parse.h"

namespace {


// Signed distance of p to the plane, with the plane moved out by offset.
inline float PlaneDistance(const BspPlane& plane, const D3DXVECTOR3& p, float offset) {
    return plane.normal[0] * p.x + plane.normal[1] * p.y + plane.normal[2] * p.z - (plane.dist + offset);
}

// start + (end - start) * t
inline D3DXVECTOR3 Lerp(const D3DXVECTOR3& start, const D3DXVECTOR3& end, float t) {
    return D3DXVECTOR3(start.x + (end.x - start.x) * t, start.y + (end.y - start.y) * t,
                       start.z + (end.z - start.z) * t);
}

inline float Clamp01(float f) {
    if (f < 0.0f) return 0.0f;
    if (f > 1.0f) return 1.0f;
    return f;  // NaN stays NaN; no brush accepts a hit from it
}

// An index from the file is usable when it names an element of the array.
template <typename T>
inline bool InRange(int64_t index, const std::vector<T>& array) {
    return index >= 0 && static_cast<uint64_t>(index) < array.size();
}


// One sweep's state: what it found so far and the node visits it has left.
struct Sweep {
    const WorldData& world;
    TraceResult result;
    // Node visits left; a tree visits each node at most once, so only a
    // broken one (shared or looping children) runs out.
    int32_t nodeBudget = 0;

    int32_t Node(int32_t node, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                 float endFraction, int depth);
    int32_t Leaf(int32_t leaf, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                 float endFraction);
    int32_t Brush(int32_t brush, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                  float endFraction);
};

// Returns 1 when the child swept as a whole reported a hit; a segment split
// between both children returns 0 and leaves its outcome in result.
int32_t Sweep::Node(int32_t node, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                         float endFraction, int depth) {
    if (node < 0) return Leaf(-(node + 1), start, end, startFraction, endFraction);
    if (static_cast<size_t>(node) >= world.nodes.size()) {
        PrintLine("Error: node index out of bounds.");
        return 0;
    }

    // A loaded tree is no deeper than kMaxTreeDepth and reaches each node
    // once; one built otherwise must still end.
    if (depth == 0) {
        nodeBudget = world.nodes.size() < static_cast<size_t>(std::numeric_limits<int32_t>::max())
                              ? static_cast<int32_t>(world.nodes.size())
                              : std::numeric_limits<int32_t>::max();
    }
    if (depth > kMaxTreeDepth || nodeBudget <= 0) return 0;
    --nodeBudget;

    const BspNode& n = world.nodes[static_cast<size_t>(node)];
    if (!InRange(n.plane, world.planes)) return 0;
    const BspPlane& plane = world.planes[static_cast<size_t>(n.plane)];

    const float d1 = PlaneDistance(plane, start, 0.0f);
    const float d2 = PlaneDistance(plane, end, 0.0f);

    if (d1 < -kTraceRadius && d2 < -kTraceRadius) {
        return Node(n.back, start, end, startFraction, endFraction, depth + 1) != 0 ? 1 : 0;
    }
    if (d1 >= kTraceRadius && d2 >= kTraceRadius) {
        return Node(n.front, start, end, startFraction, endFraction, depth + 1) != 0 ? 1 : 0;
    }

    // The segment meets the slab of ±25 around the plane. The near child
    // gets it up to where it leaves the slab on the far side, the far child
    // from where it enters the slab on the near side.
    float f1;
    float f2;
    if (d1 == d2) {
        // Parallel inside the slab: both children get the whole segment.
        f1 = 1.0f;
        f2 = 0.0f;
    } else {
        const float u = 1.0f / (d1 - d2);
        if (d1 < d2) {
            f1 = (d1 - kTraceRadius - kTraceEpsilon) * u;
            f2 = (d1 + kTraceRadius + kTraceEpsilon) * u;
        } else {
            f1 = (d1 + kTraceRadius + kTraceEpsilon) * u;
            f2 = (d1 - kTraceRadius - kTraceEpsilon) * u;
        }
        f1 = Clamp01(f1);
        f2 = Clamp01(f2);
    }

    const D3DXVECTOR3 middle1 = Lerp(start, end, f1);
    const float fraction1 = startFraction + f1 * (endFraction - startFraction);
    const D3DXVECTOR3 middle2 = Lerp(start, end, f2);
    const float fraction2 = startFraction + f2 * (endFraction - startFraction);

    // The side the segment comes from takes the first part, chosen by the
    // direction of travel: a start inside the slab moving away from the
    // plane must still reach every brush on its own side.
    const bool fromBack = d1 < d2;
    const int32_t nearChild = fromBack ? n.back : n.front;
    const int32_t farChild = fromBack ? n.front : n.back;
    Node(nearChild, start, middle1, startFraction, fraction1, depth + 1);
    Node(farChild, middle2, end, fraction2, endFraction, depth + 1);
    return 0;
}

int32_t Sweep::Leaf(int32_t leaf, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                         float endFraction) {
    if (!InRange(leaf, world.leaves)) {
        PrintLine("Error: leaf index out of bounds.");
        return 0;
    }
    const BspLeaf& l = world.leaves[static_cast<size_t>(leaf)];

    int32_t hit = 0;
    for (int32_t i = 0; i < l.numLeafBrushes; ++i) {
        const int64_t index = static_cast<int64_t>(l.firstLeafBrush) + i;
        if (!InRange(index, world.leafBrushes)) {
            PrintLine("Error: leaf brush index out of bounds.");
            break;
        }
        const int32_t brush = world.leafBrushes[static_cast<size_t>(index)];
        if (!InRange(brush, world.brushes) || !BrushIsSolid(world, world.brushes[static_cast<size_t>(brush)])) continue;
        if (Brush(brush, start, end, startFraction, endFraction) != 0) hit = 1;
    }
    return hit;
}

// 1 when this brush is hit before anything found so far on the whole trace.
int32_t Sweep::Brush(int32_t brush, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                          float endFraction) {
    if (!InRange(brush, world.brushes)) return 0;
    const BspBrush& b = world.brushes[static_cast<size_t>(brush)];
    if (b.numSides <= 0) return 0;

    bool startsOut = false;
    float enter = -1.0f;
    float leave = 1.0f;
    D3DXVECTOR3 hitNormal(0.0f, 0.0f, 0.0f);

    for (int32_t i = 0; i < b.numSides; ++i) {
        const int64_t sideIndex = static_cast<int64_t>(b.firstSide) + i;
        if (!InRange(sideIndex, world.brushSides)) {
            PrintLine("Error: brush side index out of bounds");
            break;
        }
        const BspBrushSide& side = world.brushSides[static_cast<size_t>(sideIndex)];
        // A side without its plane leaves the brush unbounded there: it
        // cannot be swept at all.
        if (!InRange(side.plane, world.planes)) return 0;
        const BspPlane& plane = world.planes[static_cast<size_t>(side.plane)];

        const float d1 = PlaneDistance(plane, start, kTraceRadius);
        const float d2 = PlaneDistance(plane, end, kTraceRadius);

        if (d1 > 0.0f) startsOut = true;
        if (d1 <= 0.0f && d2 <= 0.0f) continue;
        if (d1 > 0.0f && d2 > 0.0f) return 0;  // wholly outside this side

        if (d1 > d2) {
            const float f = (d1 - kTraceEpsilon) / (d1 - d2);
            if (f > enter) {
                enter = f;
                hitNormal = D3DXVECTOR3(plane.normal[0], plane.normal[1], plane.normal[2]);
            }
        } else {
            const float f = (d1 + kTraceEpsilon) / (d1 - d2);
            if (f < leave) leave = f;
        }
    }

    if (!startsOut) return 0;  // a start inside the brush never hits it
    if (enter >= leave) return 0;
    if (enter < 0.0f) enter = 0.0f;

    const float hit = startFraction + (endFraction - startFraction) * enter;
    // Written so that a NaN fraction is refused as well.
    if (!(hit >= 0.0f && hit < 1.0f && hit <= result.fraction)) return 0;
    result.fraction = hit;
    result.normal = hitNormal;
    result.hit = true;
    return 1;
}

}  // namespace

bool BrushIsSolid(const WorldData& world, const BspBrush& brush) {
    if (brush.numSides <= 0) return false;
    if (!InRange(brush.texture, world.textureRecords)) return false;
    return (world.textureRecords[static_cast<size_t>(brush.texture)].contents & 1) != 0;
}

TraceResult SweepSphere(const WorldData& world, const D3DXVECTOR3& start, const D3DXVECTOR3& end) {
    Sweep sweep{world, TraceResult{}, 0};
    sweep.Node(0, start, end, 0.0f, 1.0f, 0);
    return sweep.result;
}
