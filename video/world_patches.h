// Curved surfaces as the device draws them: each sub-patch of a patch face
// (see world/patch_grid.h) evaluated as a biquadratic Bezier surface on a
// 9 x 9 grid and held as eight triangle strips of 18 vertices in buffers of
// its own.
#pragma once

#include <cstdint>
#include <vector>

#include "video/d3d9/d3d9.h"
#include "video/video_system.h"
#include "world/bsp_format.h"
#include "world/patch_grid.h"

static_assert(sizeof(GpuVertex) == kDrawnVertexBytes, "the patch memory budget counts drawn vertices");

struct SubPatch {
    SubPatch() = default;
    ~SubPatch();
    SubPatch(SubPatch&& other) noexcept;
    SubPatch& operator=(SubPatch&& other) noexcept;
    SubPatch(const SubPatch&) = delete;
    SubPatch& operator=(const SubPatch&) = delete;

    BspVertex control[9] = {};           // row by row
    std::vector<BspVertex> grid;         // 81 evaluated points
    std::vector<int32_t> stripIndices;   // 144
    std::vector<GpuVertex> gpuGrid;      // 81
    std::vector<GpuVertex> stripVertices;  // 144, strip s at 18s
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;

    // Releases the two buffers (the arrays stay).
    void ReleaseBuffers();
};

struct PatchEntry {
    std::vector<SubPatch> subPatches;
};

// The quadratic Bezier blend of position, normal (not renormalised), texture
// and lightmap coordinates; the colour is left zero.
BspVertex BlendVertex(float t, const BspVertex& p0, const BspVertex& p1, const BspVertex& p2);
// A world vertex as the GPU draws it: white, third lightmap coordinate 0.
// White unless vertexColour: then the vertex's own colour, which lights
// faces that have no lightmap.
GpuVertex ToGpuVertex(const BspVertex& vertex, bool vertexColour = false);
// The 144 strip indices: strip s is (9s + k, 9s + 9 + k) for k = 0..8.
void StripOrder(int32_t* indices);
// Fills grid (81 points, grid[b][i] at b * 9 + i) and gpuGrid from control.
void EvaluateSubPatch(SubPatch* patch, bool vertexColour = false);
// Fills stripIndices and stripVertices from gpuGrid; false (with its message)
// when the arrays cannot be allocated.
bool FillStrips(SubPatch* patch);
// The sub-patch's 6912-byte vertex buffer and 18-index buffer; false with the
// failing step's message.
bool CreateSubPatchBuffers(IDirect3DDevice9* device, SubPatch* patch);
// Cuts one patch face into sub-patches, evaluates them and gives each its
// buffers, in index order. vertices are the world's vertices after the Y/Z
// exchange. A face whose grid does not fit gets an empty entry. False (with
// the message) when an allocation or a buffer fails.
bool BuildPatchEntry(IDirect3DDevice9* device, const BspFace& face, const std::vector<BspVertex>& vertices,
                     PatchEntry* entry);
