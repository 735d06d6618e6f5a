// The shape of a curved surface: a patch face's control grid, cut into
// sub-patches of 3 x 3 control points, each evaluated on a 9 x 9 grid. What
// the loader needs to check a patch face and to bound the memory its
// patches will take; the evaluation and the buffers are the drawing side's.
#pragma once

#include <cstddef>
#include <cstdint>

#include "world/bsp_format.h"

constexpr int kPatchLevel = 8;                        // steps along each side
constexpr int kPatchGridSide = kPatchLevel + 1;       // 9
constexpr int kPatchGridPoints = kPatchGridSide * kPatchGridSide;  // 81
constexpr int kPatchStripCount = kPatchLevel;         // 8
constexpr int kPatchStripLength = 2 * kPatchGridSide; // 18
constexpr int kPatchStripVertices = kPatchStripCount * kPatchStripLength;  // 144

// The size of one vertex as the device draws it.
constexpr uint64_t kDrawnVertexBytes = 48;

// The most sub-patches one world may hold. Patch faces may share control
// points, so a small file could otherwise ask for an unbounded number of
// pieces; real worlds stay far below this.
constexpr uint64_t kMaxSubPatches = 32768;
// The vertex memory one sub-patch holds: its evaluated grid (as read and as
// drawn), its strip vertices and their copy in the device's vertex buffer.
constexpr uint64_t kSubPatchVertexBytes =
    kPatchGridPoints * (sizeof(BspVertex) + kDrawnVertexBytes) + 2ull * kPatchStripVertices * kDrawnVertexBytes;
// The most vertex memory a world's patches may take: a damaged face count
// or grid size must not take the machine's memory.
constexpr uint64_t kMaxPatchVertexBytes = 64ull << 20;

// Sub-patches across and down a grid of width x height control points:
// (side - 1) / 2 each, rounded toward zero; never negative.
void SubPatchCounts(int width, int height, int* across, int* down);
// Sub-patches a patch face's grid asks for (across x down).
uint64_t SubPatchTotal(const BspFace& face);
// True when the face's control grid (patchSize, from firstVertex) is positive
// and lies inside vertexCount vertices.
bool PatchGridFits(const BspFace& face, size_t vertexCount);
