#include "world/fog.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "world/world_data.h"

namespace {

// Brushes with more sides than this are boxed by their axis-aligned sides
// only: the corner search grows with the fourth power of the side count.
constexpr int32_t kMaxCornerSides = 64;
// A corner may lie this far outside a side's plane and still count.
constexpr double kCornerEpsilon = 0.01;
// The corner search closes every brush inside a cube this large; a corner on
// the cube means the brush itself is open on that side.
constexpr double kOuterLimit = 1048576.0;

struct Plane {
    double normal[3];
    double dist;
};

void Cross(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

double Dot(const double a[3], const double b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The corner where three planes meet; false when two of them are parallel.
bool Corner(const Plane& a, const Plane& b, const Plane& c, double out[3]) {
    double bc[3];
    double ca[3];
    double ab[3];
    Cross(b.normal, c.normal, bc);
    Cross(c.normal, a.normal, ca);
    Cross(a.normal, b.normal, ab);
    const double det = Dot(a.normal, bc);
    if (std::fabs(det) < 1e-9) return false;
    for (int axis = 0; axis < 3; ++axis) out[axis] = (a.dist * bc[axis] + b.dist * ca[axis] + c.dist * ab[axis]) / det;
    return true;
}

// Every point inside all planes, low and high corner; false when there is no
// such point, the volume is open, or it has no thickness along some axis.
bool CornerBox(const std::vector<Plane>& planes, size_t ownPlanes, float bounds[6]) {
    double low[3] = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                     std::numeric_limits<double>::max()};
    double high[3] = {-low[0], -low[1], -low[2]};
    bool found = false;
    const size_t count = planes.size();
    for (size_t i = 0; i < count; ++i) {
        for (size_t j = i + 1; j < count; ++j) {
            for (size_t k = j + 1; k < count; ++k) {
                double point[3];
                if (!Corner(planes[i], planes[j], planes[k], point)) continue;
                bool inside = true;
                for (const Plane& plane : planes) {
                    if (Dot(plane.normal, point) - plane.dist > kCornerEpsilon) {
                        inside = false;
                        break;
                    }
                }
                if (!inside) continue;
                // A corner on the outer cube: the brush does not close there.
                if (i >= ownPlanes || j >= ownPlanes || k >= ownPlanes) return false;
                found = true;
                for (int axis = 0; axis < 3; ++axis) {
                    low[axis] = std::min(low[axis], point[axis]);
                    high[axis] = std::max(high[axis], point[axis]);
                }
            }
        }
    }
    if (!found) return false;
    for (int axis = 0; axis < 3; ++axis) {
        if (!(high[axis] - low[axis] > kCornerEpsilon)) return false;
        bounds[axis] = static_cast<float>(low[axis]);
        bounds[3 + axis] = static_cast<float>(high[axis]);
    }
    return true;
}

// The box the brush's axis-aligned sides close, the tightest of each
// direction; false when a direction has no such side or the box is empty.
bool AxialBox(const std::vector<Plane>& planes, float bounds[6]) {
    constexpr double kOpen = std::numeric_limits<double>::infinity();
    double low[3] = {-kOpen, -kOpen, -kOpen};
    double high[3] = {kOpen, kOpen, kOpen};
    for (const Plane& plane : planes) {
        for (int axis = 0; axis < 3; ++axis) {
            const double along = plane.normal[axis];
            if (plane.normal[(axis + 1) % 3] != 0.0 || plane.normal[(axis + 2) % 3] != 0.0) continue;
            if (along == 1.0) high[axis] = std::min(high[axis], plane.dist);
            if (along == -1.0) low[axis] = std::max(low[axis], -plane.dist);
        }
    }
    for (int axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(low[axis]) || !std::isfinite(high[axis]) || !(high[axis] - low[axis] > kCornerEpsilon)) {
            return false;
        }
        bounds[axis] = static_cast<float>(low[axis]);
        bounds[3 + axis] = static_cast<float>(high[axis]);
    }
    return true;
}

}  // namespace

int32_t FaceFog(const WorldData& world, size_t face) {
    if (face >= world.faces.size()) return -1;
    const int32_t fog = world.faces[face].effect;
    if (fog < 0 || static_cast<size_t>(fog) >= world.fogs.size() || !world.fogs[static_cast<size_t>(fog)].usable) {
        return -1;
    }
    return fog;
}

bool BrushBox(const std::vector<BspPlane>& planes, const std::vector<BspBrushSide>& sides, const BspBrush& brush,
              uint64_t* budget, float bounds[6]) {
    if (brush.firstSide < 0 || brush.numSides <= 0 ||
        static_cast<uint64_t>(brush.firstSide) + static_cast<uint64_t>(brush.numSides) > sides.size()) {
        return false;
    }
    std::vector<Plane> own;
    own.reserve(static_cast<size_t>(std::min(brush.numSides, kMaxCornerSides)) + 6);
    for (int32_t s = 0; s < brush.numSides; ++s) {
        const int32_t index = sides[static_cast<size_t>(brush.firstSide + s)].plane;
        if (index < 0 || static_cast<size_t>(index) >= planes.size()) return false;
        const BspPlane& plane = planes[static_cast<size_t>(index)];
        Plane converted{{plane.normal[0], plane.normal[1], plane.normal[2]}, plane.dist};
        for (double value : {converted.normal[0], converted.normal[1], converted.normal[2], converted.dist}) {
            if (!std::isfinite(value)) return false;
        }
        own.push_back(converted);
    }

    const uint64_t count = own.size() + 6;
    const uint64_t cost = count * (count - 1) * (count - 2) / 6 * count;
    if (brush.numSides <= kMaxCornerSides && cost <= *budget) {
        *budget -= cost;
        const size_t ownPlanes = own.size();
        for (int axis = 0; axis < 3; ++axis) {
            Plane high{{0.0, 0.0, 0.0}, kOuterLimit};
            high.normal[axis] = 1.0;
            Plane low{{0.0, 0.0, 0.0}, kOuterLimit};
            low.normal[axis] = -1.0;
            own.push_back(high);
            own.push_back(low);
        }
        return CornerBox(own, ownPlanes, bounds);
    }
    return AxialBox(own, bounds);
}

float FogDepthInside(const float eye[3], const float point[3], const float bounds[6]) {
    for (int k = 0; k < 3; ++k) {
        if (!std::isfinite(eye[k]) || !std::isfinite(point[k]) || !std::isfinite(bounds[k]) ||
            !std::isfinite(bounds[3 + k]) || bounds[k] > bounds[3 + k]) {
            return 0.0f;
        }
    }
    // The part of the segment, as fractions enter .. leave of it, inside
    // every slab of the box.
    double enter = 0.0;
    double leave = 1.0;
    double squared = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double start = eye[axis];
        const double step = static_cast<double>(point[axis]) - start;
        squared += step * step;
        const double low = bounds[axis];
        const double high = bounds[3 + axis];
        if (step == 0.0) {
            // Along the slab: inside only strictly between its faces.
            if (!(start > low && start < high)) return 0.0f;
            continue;
        }
        double in = (low - start) / step;
        double out = (high - start) / step;
        if (in > out) std::swap(in, out);
        enter = std::max(enter, in);
        leave = std::min(leave, out);
        if (leave <= enter) return 0.0f;
    }
    return static_cast<float>((leave - enter) * std::sqrt(squared));
}
