#include "world/patch_grid.h"

void SubPatchCounts(int width, int height, int* across, int* down) {
    // Integer halving toward zero; a side of 1 or 2 points holds no piece, and
    // neither does a nonsensical negative one.
    const int nw = (width - 1) / 2;
    const int nh = (height - 1) / 2;
    if (across != nullptr) *across = nw > 0 ? nw : 0;
    if (down != nullptr) *down = nh > 0 ? nh : 0;
}

bool PatchGridFits(const BspFace& face, size_t vertexCount) {
    const int64_t width = face.patchSize[0];
    const int64_t height = face.patchSize[1];
    if (width <= 0 || height <= 0 || face.firstVertex < 0) return false;
    const uint64_t first = static_cast<uint64_t>(face.firstVertex);
    if (first > vertexCount) return false;
    return static_cast<uint64_t>(width * height) <= vertexCount - first;
}

uint64_t SubPatchTotal(const BspFace& face) {
    int across = 0;
    int down = 0;
    SubPatchCounts(face.patchSize[0], face.patchSize[1], &across, &down);
    return static_cast<uint64_t>(across) * static_cast<uint64_t>(down);
}
