#include "camera/physics.h"

#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "platform/operating_system.h"
#include "world/collision.h"

namespace {

inline float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

}  // namespace

bool SlideMover::SlideMove(const D3DXVECTOR3* start, const D3DXVECTOR3* end, D3DXVECTOR3* result, bool slide) {
    if (start == nullptr || end == nullptr || result == nullptr) return false;
    if (start == end || static_cast<const D3DXVECTOR3*>(result) == start ||
        static_cast<const D3DXVECTOR3*>(result) == end) {
        return false;
    }

    // The counter also bounds the recursion of the slide below.
    ++slideMoveCalls;
    if (slideMoveCalls >= kSlideMoveLimit) return false;

    p_ground.intValue = 0;
    D3DXVECTOR3 s = *start;
    D3DXVECTOR3 e = *end;

    // Each sweep starts free; only a hit replaces the normal found before.
    TraceResult& trace = lastTrace;
    trace = SweepSphere(world_, *start, *end);
    if (trace.fraction < 0.0f || trace.fraction >= 1.0f) return false;  // free: the caller keeps its end
    const auto sweepAgain = [this, &trace](const D3DXVECTOR3& from, const D3DXVECTOR3& to) {
        const TraceResult next = SweepSphere(world_, from, to);
        if (next.hit) {
            trace = next;
        } else {
            trace.fraction = next.fraction;
        }
    };

    if (trace.normal.y == 0.0f) {
        // A vertical face: try the same move one step higher.
        s.y += kStepHeight;
        e.y += kStepHeight;
        sweepAgain(s, e);
        if (trace.fraction >= 0.0f && trace.fraction < 1.0f) {
            // Blocked up there as well; that hit stands.
            s.y -= kStepHeight;
            e.y -= kStepHeight;
        } else {
            // Free up there: probe down for the step's top and stand 55
            // above where the probe stops.
            s = e;
            const D3DXVECTOR3 down(e.x, e.y - kGroundProbe, e.z);
            sweepAgain(e, down);
            if (trace.fraction >= 0.0f && trace.fraction < 1.0f) {
                e.y += kGroundProbe - kGroundProbe * trace.fraction;
            }
        }
    }

    const D3DXVECTOR3 stop(start->x + (e.x - s.x) * trace.fraction, start->y + (e.y - s.y) * trace.fraction,
                           start->z + (e.z - s.z) * trace.fraction);
    if (!slide) {
        *result = stop;
        return true;
    }

    // Slide: drop the part of the remaining motion that runs into the face.
    const D3DXVECTOR3 n = trace.normal;
    const D3DXVECTOR3 remaining(e.x - stop.x, e.y - stop.y, e.z - stop.z);
    const float k = Dot(remaining, n);
    const D3DXVECTOR3 target(e.x - k * n.x, e.y - k * n.y, e.z - k * n.z);
    D3DXVECTOR3 slid;
    *result = SlideMove(&stop, &target, &slid, true) ? slid : target;
    return true;
}

void StepPhysics(const WorldData& world, Camera* camera, double frameMs) {
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

    // The step's moves share one counter.
    SlideMover mover(world);
    const D3DXVECTOR3 previous = camera->GetPreviousPosition();
    D3DXVECTOR3 result;
    if (mover.SlideMove(&previous, &position, &result, true)) position = result;

    // The counter carries on: the probe is part of the same frame's moves.
    const D3DXVECTOR3 below(position.x, position.y - kGroundProbe, position.z);
    D3DXVECTOR3 scratch;
    p_ground.intValue = mover.SlideMove(&position, &below, &scratch, false) ? 1 : 0;
}

void StepPhysics(const WorldData& world, Camera* camera) {
    StepPhysics(world, camera, g_operatingSystem.FrameDelta());
}
