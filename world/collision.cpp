// Collision: the viewer is a sphere of radius 25 swept along a segment
// through the BSP tree down to the leaves and their brushes, with every brush
// plane pushed out by the radius. The sweep keeps its state in the world's
// traceFraction and traceNormal and allocates nothing. SlideMove builds the
// physics step's response on it: stop, step up, or slide along the face.
#include <cstddef>
#include <cstdint>
#include <limits>

#include "camera/camera_cvars.h"
#include "base/message_output.h"
#include "world/world.h"

namespace {

// Signed distance of p to the plane, with the plane moved out by offset.
inline float PlaneDistance(const BspPlane& plane, const D3DXVECTOR3& p, float offset) {
    return plane.normal[0] * p.x + plane.normal[1] * p.y + plane.normal[2] * p.z - (plane.dist + offset);
}

inline float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

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

}  // namespace

bool World::BrushIsSolid(const BspBrush& brush) const {
    if (brush.numSides <= 0) return false;
    if (!InRange(brush.texture, textureRecords)) return false;
    return (textureRecords[static_cast<size_t>(brush.texture)].contents & 1) != 0;
}

float World::Trace(const D3DXVECTOR3* start, const D3DXVECTOR3* end, int32_t enabled) {
    if (start == nullptr || end == nullptr || enabled == 0) return -1.0f;
    traceFraction = 1.0f;
    traceNormal = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    SweepNode(0, *start, *end, 0.0f, 1.0f, 0);
    return traceFraction;
}

// Returns 1 when the child swept as a whole reported a hit; a segment split
// between both children returns 0 and leaves its outcome in traceFraction.
int32_t World::SweepNode(int32_t node, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                         float endFraction, int depth) {
    if (node < 0) return SweepLeaf(-(node + 1), start, end, startFraction, endFraction);
    if (static_cast<size_t>(node) >= nodes.size()) {
        PrintLine("Error: node index out of bounds.");
        return 0;
    }

    // A loaded tree is no deeper than kMaxTreeDepth and reaches each node
    // once; one built otherwise must still end.
    if (depth == 0) {
        sweepNodeBudget = nodes.size() < static_cast<size_t>(std::numeric_limits<int32_t>::max())
                              ? static_cast<int32_t>(nodes.size())
                              : std::numeric_limits<int32_t>::max();
    }
    if (depth > kMaxTreeDepth || sweepNodeBudget <= 0) return 0;
    --sweepNodeBudget;

    const BspNode& n = nodes[static_cast<size_t>(node)];
    if (!InRange(n.plane, planes)) return 0;
    const BspPlane& plane = planes[static_cast<size_t>(n.plane)];

    const float d1 = PlaneDistance(plane, start, 0.0f);
    const float d2 = PlaneDistance(plane, end, 0.0f);

    if (d1 < -kTraceRadius && d2 < -kTraceRadius) {
        return SweepNode(n.back, start, end, startFraction, endFraction, depth + 1) != 0 ? 1 : 0;
    }
    if (d1 >= kTraceRadius && d2 >= kTraceRadius) {
        return SweepNode(n.front, start, end, startFraction, endFraction, depth + 1) != 0 ? 1 : 0;
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
    SweepNode(nearChild, start, middle1, startFraction, fraction1, depth + 1);
    SweepNode(farChild, middle2, end, fraction2, endFraction, depth + 1);
    return 0;
}

int32_t World::SweepLeaf(int32_t leaf, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                         float endFraction) {
    if (!InRange(leaf, leaves)) {
        PrintLine("Error: leaf index out of bounds.");
        return 0;
    }
    const BspLeaf& l = leaves[static_cast<size_t>(leaf)];

    int32_t hit = 0;
    for (int32_t i = 0; i < l.numLeafBrushes; ++i) {
        const int64_t index = static_cast<int64_t>(l.firstLeafBrush) + i;
        if (!InRange(index, leafBrushes)) {
            PrintLine("Error: leaf brush index out of bounds.");
            break;
        }
        const int32_t brush = leafBrushes[static_cast<size_t>(index)];
        if (!InRange(brush, brushes) || !BrushIsSolid(brushes[static_cast<size_t>(brush)])) continue;
        if (SweepBrush(brush, start, end, startFraction, endFraction) != 0) hit = 1;
    }
    return hit;
}

// 1 when this brush is hit before anything found so far on the whole trace.
int32_t World::SweepBrush(int32_t brush, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                          float endFraction) {
    if (!InRange(brush, brushes)) return 0;
    const BspBrush& b = brushes[static_cast<size_t>(brush)];
    if (b.numSides <= 0) return 0;

    bool startsOut = false;
    float enter = -1.0f;
    float leave = 1.0f;
    D3DXVECTOR3 hitNormal(0.0f, 0.0f, 0.0f);

    for (int32_t i = 0; i < b.numSides; ++i) {
        const int64_t sideIndex = static_cast<int64_t>(b.firstSide) + i;
        if (!InRange(sideIndex, brushSides)) {
            PrintLine("Error: brush side index out of bounds");
            break;
        }
        const BspBrushSide& side = brushSides[static_cast<size_t>(sideIndex)];
        // A side without its plane leaves the brush unbounded there: it
        // cannot be swept at all.
        if (!InRange(side.plane, planes)) return 0;
        const BspPlane& plane = planes[static_cast<size_t>(side.plane)];

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
    if (!(hit >= 0.0f && hit < 1.0f && hit <= traceFraction)) return 0;
    traceFraction = hit;
    traceNormal = hitNormal;
    return 1;
}

bool World::SlideMove(const D3DXVECTOR3* start, const D3DXVECTOR3* end, D3DXVECTOR3* result, bool slide) {
    if (start == nullptr || end == nullptr || result == nullptr) return false;
    if (start == end || static_cast<const D3DXVECTOR3*>(result) == start ||
        static_cast<const D3DXVECTOR3*>(result) == end) {
        return false;
    }

    // The counter also bounds the recursion of the slide below.
    ++slideMoveCalls;
    if (slideMoveCalls >= kSlideMoveLimit) return false;

    p_ground.intValue = 0;
    traceFraction = 1.0f;
    traceNormal = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    D3DXVECTOR3 s = *start;
    D3DXVECTOR3 e = *end;

    SweepNode(0, *start, *end, 0.0f, 1.0f, 0);
    if (traceFraction < 0.0f || traceFraction >= 1.0f) return false;  // free: the caller keeps its end

    if (traceNormal.y == 0.0f) {
        // A vertical face: try the same move one step higher.
        s.y += kStepHeight;
        e.y += kStepHeight;
        traceFraction = 1.0f;
        SweepNode(0, s, e, 0.0f, 1.0f, 0);
        if (traceFraction >= 0.0f && traceFraction < 1.0f) {
            // Blocked up there as well; that hit stands.
            s.y -= kStepHeight;
            e.y -= kStepHeight;
        } else {
            // Free up there: probe down for the step's top and stand 55
            // above where the probe stops.
            s = e;
            const D3DXVECTOR3 down(e.x, e.y - kGroundProbe, e.z);
            traceFraction = 1.0f;
            SweepNode(0, e, down, 0.0f, 1.0f, 0);
            if (traceFraction >= 0.0f && traceFraction < 1.0f) {
                e.y += kGroundProbe - kGroundProbe * traceFraction;
            }
        }
    }

    const D3DXVECTOR3 stop(start->x + (e.x - s.x) * traceFraction, start->y + (e.y - s.y) * traceFraction,
                           start->z + (e.z - s.z) * traceFraction);
    if (!slide) {
        *result = stop;
        return true;
    }

    // Slide: drop the part of the remaining motion that runs into the face.
    const D3DXVECTOR3 n = traceNormal;
    const D3DXVECTOR3 remaining(e.x - stop.x, e.y - stop.y, e.z - stop.z);
    const float k = Dot(remaining, n);
    const D3DXVECTOR3 target(e.x - k * n.x, e.y - k * n.y, e.z - k * n.z);
    D3DXVECTOR3 slid;
    *result = SlideMove(&stop, &target, &slid, true) ? slid : target;
    return true;
}
