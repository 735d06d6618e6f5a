#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "support/bsp_builder.h"
#include "support/test_support.h"
#include "support/world_fixture.h"
#include "video/world_patches.h"

namespace {

// A grid of control points at (10c, 0, 10r) with texture coordinates (c, r).
std::vector<BspVertex> Grid(int width, int height) {
    std::vector<BspVertex> points;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            points.push_back(BspBuilder::Vertex(10.0f * c, 0.0f, 10.0f * r, static_cast<float>(c),
                                                static_cast<float>(r)));
        }
    }
    return points;
}

bool SameVertex(const BspVertex& a, const BspVertex& b) {
    return std::memcmp(a.position, b.position, sizeof a.position) == 0 &&
           std::memcmp(a.texCoord, b.texCoord, sizeof a.texCoord) == 0;
}

class PatchOnDevice : public WorldOnDevice {};

}  // namespace

TEST(PatchCounts, HalvesEachSideTowardZero) {
    struct Case {
        int w, h, across, down;
    };
    const Case cases[] = {{3, 3, 1, 1}, {5, 3, 2, 1}, {3, 5, 1, 2}, {1, 5, 0, 2}, {2, 9, 0, 4}, {5, 1, 2, 0},
                          {4, 4, 1, 1}, {7, 9, 3, 4}, {0, 0, 0, 0}, {-5, 3, 0, 1}, {3, -9, 1, 0}};
    for (const Case& c : cases) {
        int across = -1;
        int down = -1;
        SubPatchCounts(c.w, c.h, &across, &down);
        EXPECT_EQ(across, c.across) << c.w << "x" << c.h;
        EXPECT_EQ(down, c.down) << c.w << "x" << c.h;
    }
}

TEST(PatchStrips, EachStripJoinsTwoNeighbouringGridRows) {
    int32_t indices[kPatchStripVertices];
    StripOrder(indices);
    EXPECT_EQ(std::vector<int32_t>(indices, indices + 18),
              (std::vector<int32_t>{0, 9, 1, 10, 2, 11, 3, 12, 4, 13, 5, 14, 6, 15, 7, 16, 8, 17}));
    EXPECT_EQ(std::vector<int32_t>(indices + 126, indices + 144),
              (std::vector<int32_t>{63, 72, 64, 73, 65, 74, 66, 75, 67, 76, 68, 77, 69, 78, 70, 79, 71, 80}));
}

TEST(PatchEvaluation, CornersAreExactAndTheInteriorIsTheBiquadraticBlend) {
    SubPatch patch;
    for (int i = 0; i < 9; ++i) {
        patch.control[i] = BspBuilder::Vertex(static_cast<float>(i) * 3.0f + 0.1f, -static_cast<float>(i) - 0.7f,
                                              static_cast<float>(i * i) / 3.0f, 0.3f * i, 0.1f * i, 0.01f * i,
                                              0.02f * i);
    }
    EvaluateSubPatch(&patch);
    ASSERT_EQ(patch.grid.size(), 81u);
    // grid[b][i] at b * 9 + i; i runs down the first control column, b across.
    EXPECT_TRUE(SameVertex(patch.grid[0], patch.control[0]));
    EXPECT_TRUE(SameVertex(patch.grid[8], patch.control[6]));
    EXPECT_TRUE(SameVertex(patch.grid[72], patch.control[2]));
    EXPECT_TRUE(SameVertex(patch.grid[80], patch.control[8]));

    // One raised middle point: the centre rises by (2 * 0.5 * 0.5)^2 = 1/4 of it.
    SubPatch bump;
    for (int i = 0; i < 9; ++i) bump.control[i] = BspBuilder::Vertex(0, 0, 0);
    bump.control[4] = BspBuilder::Vertex(0, 16, 0);
    bump.control[4].normal[1] = 0.0f;  // blended normals are not renormalised
    EvaluateSubPatch(&bump);
    EXPECT_FLOAT_EQ(bump.grid[4 * 9 + 4].position[1], 4.0f);
    EXPECT_FLOAT_EQ(bump.grid[4 * 9 + 4].normal[1], 0.75f);
    EXPECT_FLOAT_EQ(bump.grid[2 * 9 + 4].position[1], 16.0f * (2 * 0.25f * 0.75f) * 0.5f);
    EXPECT_EQ(bump.grid[4].position[1], 0.0f);  // the border row stays on the control border

    // The GPU copy is white with a zero third lightmap coordinate.
    ASSERT_EQ(patch.gpuGrid.size(), 81u);
    for (const GpuVertex& v : patch.gpuGrid) {
        EXPECT_EQ(v.colour, 0xFFFFFFFFu);
        EXPECT_EQ(v.lightmapCoord[2], 0.0f);
    }
    EXPECT_EQ(patch.gpuGrid[80].position[0], patch.control[8].position[0]);
    EXPECT_EQ(patch.gpuGrid[80].lightmapCoord[1], patch.control[8].lightmapCoord[1]);

    ASSERT_TRUE(FillStrips(&patch));
    ASSERT_EQ(patch.stripVertices.size(), 144u);
    EXPECT_EQ(std::memcmp(&patch.stripVertices[1], &patch.gpuGrid[9], sizeof(GpuVertex)), 0);
    EXPECT_EQ(std::memcmp(&patch.stripVertices[143], &patch.gpuGrid[80], sizeof(GpuVertex)), 0);
}

TEST(PatchBuffers, WithoutADeviceThePieceFailsWithItsMessage) {
    SubPatch patch;
    EvaluateSubPatch(&patch);
    ASSERT_TRUE(FillStrips(&patch));
    PrintCapture output;
    EXPECT_FALSE(CreateSubPatchBuffers(nullptr, &patch));
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Error: Failed to allocate vertex buffer for patch geometry."}));
    EXPECT_EQ(patch.vertexBuffer, nullptr);
}

TEST_F(PatchOnDevice, PiecesShareTheirEdgeControlPoints) {
    BspFace face{};
    face.type = kFacePatch;
    face.firstVertex = 2;
    face.patchSize[0] = 5;
    face.patchSize[1] = 3;
    std::vector<BspVertex> vertices = Grid(1, 2);  // two vertices before the patch
    for (const BspVertex& v : Grid(5, 3)) vertices.push_back(v);

    PatchEntry across;
    ASSERT_TRUE(BuildPatchEntry(GetDevice(), face, vertices, &across));
    ASSERT_EQ(across.subPatches.size(), 2u);
    for (int r = 0; r < 3; ++r) {
        EXPECT_TRUE(SameVertex(across.subPatches[0].control[r * 3 + 2], across.subPatches[1].control[r * 3 + 0]));
        EXPECT_TRUE(SameVertex(across.subPatches[1].control[r * 3 + 2], vertices[2 + r * 5 + 4]));
    }

    face.patchSize[0] = 3;
    face.patchSize[1] = 5;
    PatchEntry down;
    ASSERT_TRUE(BuildPatchEntry(GetDevice(), face, vertices, &down));
    ASSERT_EQ(down.subPatches.size(), 2u);
    for (int c = 0; c < 3; ++c) {
        EXPECT_TRUE(SameVertex(down.subPatches[0].control[6 + c], down.subPatches[1].control[c]));
        EXPECT_TRUE(SameVertex(down.subPatches[1].control[6 + c], vertices[2 + 4 * 3 + c]));
    }
}

TEST_F(PatchOnDevice, EachPieceHasItsStripVerticesAndEighteenIndices) {
    BspFace face{};
    face.type = kFacePatch;
    face.patchSize[0] = 3;
    face.patchSize[1] = 3;
    PatchEntry entry;
    ASSERT_TRUE(BuildPatchEntry(GetDevice(), face, Grid(3, 3), &entry));
    ASSERT_EQ(entry.subPatches.size(), 1u);
    const SubPatch& patch = entry.subPatches[0];

    D3DVERTEXBUFFER_DESC vd{};
    ASSERT_EQ(patch.vertexBuffer->GetDesc(&vd), D3D_OK);
    EXPECT_EQ(vd.Size, 6912u);
    EXPECT_EQ(vd.FVF, 0x40252u);
    EXPECT_EQ(vd.Pool, D3DPOOL_DEFAULT);
    void* data = nullptr;
    ASSERT_EQ(patch.vertexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(std::memcmp(data, patch.stripVertices.data(), 6912), 0);
    patch.vertexBuffer->Unlock();
    // Strip 0 starts with grid points 0 and 9: (0, 0, 0) and one step across.
    EXPECT_EQ(patch.stripVertices[0].position[0], 0.0f);
    EXPECT_EQ(patch.stripVertices[1].position[0], 2.5f);
    EXPECT_EQ(patch.stripVertices[1].position[2], 0.0f);
    EXPECT_EQ(patch.stripVertices[2].position[2], 2.5f);

    D3DINDEXBUFFER_DESC id{};
    ASSERT_EQ(patch.indexBuffer->GetDesc(&id), D3D_OK);
    EXPECT_EQ(id.Size, 72u);
    EXPECT_EQ(id.Format, D3DFMT_INDEX32);
    ASSERT_EQ(patch.indexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
    const uint32_t* indices = static_cast<const uint32_t*>(data);
    for (uint32_t i = 0; i < 18; ++i) EXPECT_EQ(indices[i], i);
    patch.indexBuffer->Unlock();

    // Moving a piece moves its buffers; the moved-from piece holds none.
    SubPatch moved = std::move(entry.subPatches[0]);
    EXPECT_NE(moved.vertexBuffer, nullptr);
    EXPECT_EQ(entry.subPatches[0].vertexBuffer, nullptr);
    EXPECT_EQ(entry.subPatches[0].indexBuffer, nullptr);
}

TEST_F(PatchOnDevice, LoadedPatchFacesTakeTableEntriesInFaceOrder) {
    BspBuilder b = BspBuilder::MinimalWorld();
    const int32_t flat = b.AddPatch(3, 3, Grid(3, 3));  // face 2
    b.AddPolygon({BspBuilder::Vertex(0, 0, 0), BspBuilder::Vertex(1, 0, 0), BspBuilder::Vertex(0, 0, 1)});
    const int32_t thin = b.AddPatch(1, 5, Grid(1, 5));   // an entry, no pieces
    const int32_t narrow = b.AddPatch(2, 7, Grid(2, 7)); // likewise
    const int32_t wide = b.AddPatch(5, 3, Grid(5, 3));
    b.BuildSingleLeafTree();
    const int32_t flatFirst = b.Faces()[static_cast<size_t>(flat)].firstVertex;

    std::unique_ptr<World> world = Load(b);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->Data().patchFaceCount, 4u);
    ASSERT_EQ(world->Pictures().patches.size(), 4u);
    EXPECT_EQ(world->Data().faces[static_cast<size_t>(flat)].firstVertex, 0);
    EXPECT_EQ(world->Data().faces[static_cast<size_t>(thin)].firstVertex, 1);
    EXPECT_EQ(world->Data().faces[static_cast<size_t>(narrow)].firstVertex, 2);
    EXPECT_EQ(world->Data().faces[static_cast<size_t>(wide)].firstVertex, 3);
    EXPECT_EQ(world->Data().faces[3].firstVertex, b.Faces()[3].firstVertex);  // the polygon keeps its own
    EXPECT_EQ(world->Pictures().patches[0].subPatches.size(), 1u);
    EXPECT_TRUE(world->Pictures().patches[1].subPatches.empty());
    EXPECT_TRUE(world->Pictures().patches[2].subPatches.empty());
    EXPECT_EQ(world->Pictures().patches[3].subPatches.size(), 2u);
    for (uint8_t usable : world->Data().faceUsable) EXPECT_EQ(usable, 1);

    // Control points come from the vertices after the Y/Z exchange.
    const BspVertex& corner = world->Pictures().patches[0].subPatches[0].control[8];
    EXPECT_EQ(corner.position[0], 20.0f);
    EXPECT_EQ(corner.position[1], 0.0f);
    EXPECT_EQ(corner.position[2], 20.0f);
    EXPECT_EQ(flatFirst, 7);
}
