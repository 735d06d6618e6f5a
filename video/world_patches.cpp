#include "video/world_patches.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "base/message_output.h"

SubPatch::~SubPatch() { ReleaseBuffers(); }

SubPatch::SubPatch(SubPatch&& other) noexcept { *this = std::move(other); }

SubPatch& SubPatch::operator=(SubPatch&& other) noexcept {
    if (this == &other) return *this;
    ReleaseBuffers();
    std::memcpy(control, other.control, sizeof control);
    grid = std::move(other.grid);
    stripIndices = std::move(other.stripIndices);
    gpuGrid = std::move(other.gpuGrid);
    stripVertices = std::move(other.stripVertices);
    vertexBuffer = other.vertexBuffer;
    indexBuffer = other.indexBuffer;
    other.vertexBuffer = nullptr;
    other.indexBuffer = nullptr;
    return *this;
}

void SubPatch::ReleaseBuffers() {
    if (vertexBuffer != nullptr) vertexBuffer->Release();
    if (indexBuffer != nullptr) indexBuffer->Release();
    vertexBuffer = nullptr;
    indexBuffer = nullptr;
}

namespace {

float Blend(float t, float p0, float p1, float p2) {
    const float s = 1.0f - t;
    return s * s * p0 + 2.0f * t * s * p1 + t * t * p2;
}

}  // namespace

BspVertex BlendVertex(float t, const BspVertex& p0, const BspVertex& p1, const BspVertex& p2) {
    BspVertex out{};
    for (int k = 0; k < 3; ++k) {
        out.position[k] = Blend(t, p0.position[k], p1.position[k], p2.position[k]);
        out.normal[k] = Blend(t, p0.normal[k], p1.normal[k], p2.normal[k]);
    }
    for (int k = 0; k < 2; ++k) {
        out.texCoord[k] = Blend(t, p0.texCoord[k], p1.texCoord[k], p2.texCoord[k]);
        out.lightmapCoord[k] = Blend(t, p0.lightmapCoord[k], p1.lightmapCoord[k], p2.lightmapCoord[k]);
    }
    // The weights are positive and sum to 1, so colours stay within a byte.
    for (int k = 0; k < 4; ++k) {
        const float c = Blend(t, p0.colour[k], p1.colour[k], p2.colour[k]);
        out.colour[k] = static_cast<uint8_t>(std::clamp(c + 0.5f, 0.0f, 255.0f));
    }
    return out;
}

GpuVertex ToGpuVertex(const BspVertex& v, bool vertexColour) {
    GpuVertex out{};
    std::memcpy(out.position, v.position, sizeof out.position);
    std::memcpy(out.normal, v.normal, sizeof out.normal);
    // The alpha always comes along: stages blend by it (terrain layers)
    // whether the face is lightmapped or not.
    out.colour = vertexColour ? D3DCOLOR_ARGB(v.colour[3], v.colour[0], v.colour[1], v.colour[2])
                              : D3DCOLOR_ARGB(v.colour[3], 255, 255, 255);
    out.texCoord[0] = v.texCoord[0];
    out.texCoord[1] = v.texCoord[1];
    out.lightmapCoord[0] = v.lightmapCoord[0];
    out.lightmapCoord[1] = v.lightmapCoord[1];
    out.lightmapCoord[2] = 0.0f;
    return out;
}

void StripOrder(int32_t* indices) {
    for (int s = 0; s < kPatchStripCount; ++s) {
        for (int k = 0; k < kPatchGridSide; ++k) {
            indices[s * kPatchStripLength + 2 * k] = kPatchGridSide * s + k;
            indices[s * kPatchStripLength + 2 * k + 1] = kPatchGridSide * (s + 1) + k;
        }
    }
}

void EvaluateSubPatch(SubPatch* patch, bool vertexColour) {
    const float step = 1.0f / static_cast<float>(kPatchLevel);
    const BspVertex* c = patch->control;  // c[r * 3 + col]
    patch->grid.assign(kPatchGridPoints, BspVertex{});

    // Row 0 runs down the first column of control points.
    for (int i = 0; i < kPatchGridSide; ++i) {
        patch->grid[i] = BlendVertex(static_cast<float>(i) * step, c[0], c[3], c[6]);
    }
    for (int b = 1; b < kPatchGridSide; ++b) {
        const float x = static_cast<float>(b) * step;
        const BspVertex q0 = BlendVertex(x, c[0], c[1], c[2]);
        const BspVertex q1 = BlendVertex(x, c[3], c[4], c[5]);
        const BspVertex q2 = BlendVertex(x, c[6], c[7], c[8]);
        for (int i = 0; i < kPatchGridSide; ++i) {
            patch->grid[b * kPatchGridSide + i] = BlendVertex(static_cast<float>(i) * step, q0, q1, q2);
        }
    }

    patch->gpuGrid.resize(kPatchGridPoints);
    for (int n = 0; n < kPatchGridPoints; ++n) patch->gpuGrid[n] = ToGpuVertex(patch->grid[n], vertexColour);
}

bool FillStrips(SubPatch* patch) {
    try {
        patch->stripIndices.assign(kPatchStripVertices, 0);
        patch->stripVertices.assign(kPatchStripVertices, GpuVertex{});
    } catch (const std::bad_alloc&) {
        patch->stripIndices.clear();
        patch->stripVertices.clear();
        PrintLine("Error: N-Patch index allocation failed");
        return false;
    }
    StripOrder(patch->stripIndices.data());
    for (int n = 0; n < kPatchStripVertices; ++n) {
        patch->stripVertices[n] = patch->gpuGrid[static_cast<size_t>(patch->stripIndices[n])];
    }
    return true;
}

bool CreateSubPatchBuffers(IDirect3DDevice9* device, SubPatch* patch) {
    constexpr UINT kVertexBytes = kPatchStripVertices * sizeof(GpuVertex);
    constexpr UINT kIndexBytes = kPatchStripLength * sizeof(uint32_t);
    static_assert(kVertexBytes == 6912 && kIndexBytes == 72);

    if (device == nullptr || patch->stripVertices.size() != static_cast<size_t>(kPatchStripVertices) ||
        FAILED(device->CreateVertexBuffer(kVertexBytes, 0, kGpuVertexFvf, D3DPOOL_DEFAULT, &patch->vertexBuffer,
                                          nullptr))) {
        patch->vertexBuffer = nullptr;
        PrintLine("Error: Failed to allocate vertex buffer for patch geometry.");
        return false;
    }
    void* data = nullptr;
    if (SUCCEEDED(patch->vertexBuffer->Lock(0, 0, &data, 0)) && data != nullptr) {
        std::memcpy(data, patch->stripVertices.data(), kVertexBytes);
    }
    if (FAILED(patch->vertexBuffer->Unlock())) {
        PrintLine("Error: Failed to initialize vertex buffer for patch geometry.");
        return false;
    }

    if (FAILED(device->CreateIndexBuffer(kIndexBytes, 0, D3DFMT_INDEX32, D3DPOOL_DEFAULT, &patch->indexBuffer,
                                         nullptr))) {
        patch->indexBuffer = nullptr;
        PrintLine("Error: Failed to allocate index buffer for patch geometry.");
        return false;
    }
    data = nullptr;
    if (SUCCEEDED(patch->indexBuffer->Lock(0, 0, &data, 0)) && data != nullptr) {
        uint32_t* indices = static_cast<uint32_t*>(data);
        for (uint32_t i = 0; i < static_cast<uint32_t>(kPatchStripLength); ++i) indices[i] = i;
    }
    if (FAILED(patch->indexBuffer->Unlock())) {
        PrintLine("Error: Failed to initialize index buffer for patch geometry.");
        return false;
    }
    return true;
}

bool BuildPatchEntry(IDirect3DDevice9* device, const BspFace& face, const std::vector<BspVertex>& vertices,
                     PatchEntry* entry) {
    if (entry == nullptr) return false;
    entry->subPatches.clear();
    // A grid that does not fit the vertices is left without pieces; the loader
    // has already marked such a face as not drawable.
    if (!PatchGridFits(face, vertices.size())) return true;

    const int width = face.patchSize[0];
    int across = 0;
    int down = 0;
    SubPatchCounts(face.patchSize[0], face.patchSize[1], &across, &down);
    const size_t count = static_cast<size_t>(across) * static_cast<size_t>(down);
    if (count == 0) return true;
    try {
        entry->subPatches.resize(count);
    } catch (const std::bad_alloc&) {
        PrintLine("Error: n-patch allocation failed.");
        return false;
    }

    const size_t first = static_cast<size_t>(face.firstVertex);
    for (int f = 0; f < down; ++f) {
        for (int d = 0; d < across; ++d) {
            SubPatch& patch = entry->subPatches[static_cast<size_t>(f) * across + d];
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) {
                    const size_t row = static_cast<size_t>(2 * f + r);
                    const size_t column = static_cast<size_t>(2 * d + c);
                    patch.control[r * 3 + c] = vertices[first + row * static_cast<size_t>(width) + column];
                }
            }
            try {
                // Patches without a lightmap are lit by their vertex colours.
                EvaluateSubPatch(&patch, face.lightmap < 0);
            } catch (const std::bad_alloc&) {
                PrintLine("Error: n-patch allocation failed.");
                return false;
            }
            if (!FillStrips(&patch)) return false;
            if (!CreateSubPatchBuffers(device, &patch)) return false;
        }
    }
    return true;
}
