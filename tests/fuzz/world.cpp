// Fuzz target: the bytes as a world file read into the world's records by
// the engine's world reader, then swept by the collision code, swept by the
// physics step's sliding moves and walked by the visibility code; the brush
// entities' models it kept are checked against the faces. None of it
// needs the device: the checks that guard drawing and collision are the
// reader's.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "camera/physics.h"
#include "base/message_output.h"
#include "world/collision.h"
#include "world/visibility.h"
#include "world/world_parse.h"

namespace {

// Sweeps through the middle of the world and along its axes: the tree,
// leaves and brushes the reader accepted must carry every sweep to an end.
void Sweep(const WorldData& world) {
    const D3DXVECTOR3 points[] = {{0, 0, 0}, {512, 64, -256}, {-300, 100, 300}, {1e6f, -1e6f, 1e6f}};
    for (const D3DXVECTOR3& a : points) {
        for (const D3DXVECTOR3& b : points) {
            const float fraction = SweepSphere(world, a, b).fraction;
            if (std::isnan(fraction)) std::abort();
            SlideMover mover(world);
            D3DXVECTOR3 result{};
            mover.SlideMove(&a, &b, &result, true);
        }
        // Every brush entity's faces are faces of the world, under a box.
        for (const BspModel& model : world.models) {
            if (model.firstFace < 0 || model.numFaces < 0 ||
                static_cast<size_t>(model.firstFace) + static_cast<size_t>(model.numFaces) > world.faces.size()) {
                std::abort();
            }
            for (int axis = 0; axis < 3; ++axis) {
                if (!(model.mins[axis] <= model.maxs[axis])) std::abort();
            }
        }
        // Every visible leaf's faces are faces of the world.
        const auto everything = [](const D3DXVECTOR3&, const D3DXVECTOR3&) { return true; };
        ForEachVisibleLeaf(world, ViewCluster(world, a), everything, [&world](const BspLeaf& leaf) {
            for (int32_t i = 0; i < leaf.numLeafFaces; ++i) {
                const int32_t face = world.leafFaces[static_cast<size_t>(leaf.firstLeafFace + i)];
                if (face < 0 || static_cast<size_t>(face) >= world.faces.size()) std::abort();
            }
        });
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // OSPREL_FUZZ_VERBOSE=1 keeps the reader's lines, to see why an input fails.
    if (std::getenv("OSPREL_FUZZ_VERBOSE") != nullptr) SetPrintTap(StandardOutputTap());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WorldData world;
    if (ParseWorldBytes(std::vector<uint8_t>(data, data + size), "maps/fuzz.lmf", &world)) Sweep(world);
    return 0;
}
