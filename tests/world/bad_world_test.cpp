// Hostile and broken world files: structural faults reject the world with a
// message naming them; faults of one face leave that face out; nothing reads
// out of bounds, loops or recurses without end.
#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <climits>
#include <limits>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "console/command_interpreter.h"
#include "engine/game_system.h"
#include "support/bsp_builder.h"
#include "support/test_support.h"
#include "support/world_fixture.h"
#include "video/resource_manager.h"
#include "engine/world.h"
#include "world/world_parse.h"

namespace {

using Lines = std::vector<std::string>;

// Structural checks need no device: the file is only read into records.
class WorldRecords : public ::testing::Test {
protected:
    // The last line of a parse that must fail.
    std::string Rejection(const std::vector<uint8_t>& bytes) {
        PrintCapture output;
        WorldData data;
        EXPECT_FALSE(ParseWorldBytes(bytes, "maps/test.lmf", &data)) << ::testing::PrintToString(output.Lines());
        return output.Last();
    }
    std::string Rejection(const BspBuilder& b) { return Rejection(b.Bytes()); }
    // The records of a file that must parse; null (with a failure) when not.
    std::unique_ptr<WorldData> Parse(const BspBuilder& b) {
        PrintCapture output;
        auto data = std::make_unique<WorldData>();
        if (ParseWorldBytes(b.Bytes(), "maps/test.lmf", data.get())) return data;
        ADD_FAILURE() << ::testing::PrintToString(output.Lines());
        return nullptr;
    }
};

class BadWorld : public WorldOnDevice {
protected:
    // The last line of a load that must fail.
    std::string Rejection(const std::vector<uint8_t>& bytes) {
        PrintCapture output;
        std::unique_ptr<World> world = LoadBytes(bytes);
        EXPECT_EQ(world, nullptr) << ::testing::PrintToString(output.Lines());
        return output.Last();
    }
    std::string Rejection(const BspBuilder& b) { return Rejection(b.Bytes()); }
};

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// A world with a bit of everything: box brushes and a real tree, polygon,
// mesh and patch faces, two lightmaps and visibility rows.
BspBuilder RichWorld() {
    BspBuilder b = BspBuilder::MinimalWorld();
    const int32_t solid = b.AddTexture("textures/test/solid", 1);
    b.AddBoxBrush({{-100, -20, -100}, {100, 0, 100}}, solid);
    b.AddBoxBrush({{-50, 0, -50}, {0, 20, 0}}, solid);
    b.AddBoxBrush({{60, 0, 60}, {90, 40, 90}}, 0);
    std::vector<BspVertex> points;
    for (int r = 0; r < 5; ++r) {
        for (int c = 0; c < 3; ++c) points.push_back(BspBuilder::Vertex(c * 8.0f, r * 4.0f, 30.0f));
    }
    b.AddPatch(3, 5, points);
    b.AddLightmap(10, 20, 30);
    b.Faces()[1].lightmap = 1;
    b.BuildTree(0);
    b.SetVisibility(2, 1, {0x03, 0x01});
    return b;
}

// Every index a loaded world holds points where drawing and collision will
// follow it.
void ExpectWorldConsistent(const WorldData& w, uint64_t vertexCount, size_t patchEntries) {
    ASSERT_FALSE(w.nodes.empty());
    for (size_t n = 0; n < w.nodes.size(); ++n) {
        const BspNode& node = w.nodes[n];
        ASSERT_GE(node.plane, 0);
        ASSERT_LT(static_cast<size_t>(node.plane), w.planes.size());
        for (int32_t child : {node.front, node.back}) {
            if (child >= 0) {
                ASSERT_GT(static_cast<size_t>(child), n);
                ASSERT_LT(static_cast<size_t>(child), w.nodes.size());
            } else {
                ASSERT_LT(static_cast<size_t>(-(child + 1)), w.leaves.size());
            }
        }
    }
    for (const BspLeaf& leaf : w.leaves) {
        ASSERT_GE(leaf.firstLeafFace, 0);
        ASSERT_GE(leaf.numLeafFaces, 0);
        ASSERT_LE(static_cast<size_t>(leaf.firstLeafFace) + static_cast<size_t>(leaf.numLeafFaces), w.leafFaces.size());
        ASSERT_GE(leaf.firstLeafBrush, 0);
        ASSERT_GE(leaf.numLeafBrushes, 0);
        ASSERT_LE(static_cast<size_t>(leaf.firstLeafBrush) + static_cast<size_t>(leaf.numLeafBrushes),
                  w.leafBrushes.size());
    }
    for (int32_t face : w.leafFaces) ASSERT_LT(static_cast<uint32_t>(face), w.faces.size());
    for (int32_t brush : w.leafBrushes) ASSERT_LT(static_cast<uint32_t>(brush), w.brushes.size());
    for (const BspBrush& brush : w.brushes) {
        ASSERT_GE(brush.firstSide, 0);
        ASSERT_GE(brush.numSides, 0);
        ASSERT_LE(static_cast<size_t>(brush.firstSide) + static_cast<size_t>(brush.numSides), w.brushSides.size());
        ASSERT_LT(static_cast<uint32_t>(brush.texture), w.textureRecords.size());
    }
    for (const BspBrushSide& side : w.brushSides) ASSERT_LT(static_cast<uint32_t>(side.plane), w.planes.size());
    ASSERT_GE(static_cast<uint64_t>(w.numClusters) * static_cast<uint64_t>(w.bytesPerCluster), w.visibility.size());
    ASSERT_EQ(w.faceUsable.size(), w.faces.size());
    size_t patchIndex = 0;
    for (size_t f = 0; f < w.faces.size(); ++f) {
        const BspFace& face = w.faces[f];
        if (face.type == kFacePatch) {
            ASSERT_EQ(face.firstVertex, static_cast<int32_t>(patchIndex));
            ++patchIndex;
            continue;
        }
        if (w.faceUsable[f] == 0 || (face.type != kFacePolygon && face.type != kFaceMesh)) continue;
        ASSERT_GE(face.firstVertex, 0);
        ASSERT_LE(static_cast<uint64_t>(face.firstVertex) + static_cast<uint64_t>(face.numVertices), vertexCount);
        if (face.type == kFaceMesh) {
            ASSERT_LE(static_cast<uint64_t>(face.firstMeshVertex) + static_cast<uint64_t>(face.numMeshVertices),
                      w.meshVertices.size());
            for (int32_t i = 0; i < face.numMeshVertices; ++i) {
                const int32_t index = w.meshVertices[static_cast<size_t>(face.firstMeshVertex + i)];
                ASSERT_GE(index, 0);
                ASSERT_LT(index, face.numVertices);
            }
        }
    }
    ASSERT_EQ(patchIndex, patchEntries);
}

// A loaded world's records against its pictures.
void ExpectWorldConsistent(const World& world) {
    ExpectWorldConsistent(world.Data(), world.Pictures().vertexCount, world.Pictures().patches.size());
}

// Records alone: the patch faces are counted.
void ExpectWorldConsistent(const WorldData& data) {
    ExpectWorldConsistent(data, data.vertices.size(), data.patchFaceCount);
}

const int kReadLumps[] = {kLumpTextures, kLumpPlanes,     kLumpNodes,    kLumpLeaves,    kLumpLeafFaces,
                          kLumpLeafBrushes, kLumpBrushes, kLumpBrushSides, kLumpVertices, kLumpMeshVertices,
                          kLumpFaces,    kLumpLightmaps,  kLumpVisibility};

}  // namespace

TEST_F(BadWorld, TheRichWorldItselfLoadsConsistently) {
    PrintCapture output;
    std::unique_ptr<World> world = Load(RichWorld());
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(output.Lines());
    ExpectWorldConsistent(*world);
    EXPECT_GT(world->Data().nodes.size(), 1u);
    EXPECT_EQ(world->Pictures().patches.size(), 1u);
    EXPECT_EQ(world->Pictures().patches[0].subPatches.size(), 2u);
}

TEST_F(WorldRecords, LumpsReachingOutsideTheFileAreRejected) {
    const std::vector<uint8_t> good = RichWorld().Bytes();
    const int32_t size = static_cast<int32_t>(good.size());
    for (int lump : kReadLumps) {
        const BspLumpEntry entry = BspBuilder::LumpEntry(good, lump);
        const BspLumpEntry broken[] = {
            {entry.offset, size - entry.offset + 1},  // one byte past the end
            {size + 1, 0},                            // starts past the end
            {entry.offset, -1},                       // negative length
            {-4, entry.length},                       // negative offset
            {INT_MAX, INT_MAX},                       // the sum overflows 32 bits
            {INT_MAX - 3, 8},
        };
        for (const BspLumpEntry& bad : broken) {
            std::vector<uint8_t> bytes = good;
            BspBuilder::PutInt32(&bytes, 8 + lump * 8, bad.offset);
            BspBuilder::PutInt32(&bytes, 12 + lump * 8, bad.length);
            const std::string line = Rejection(bytes);
            EXPECT_TRUE(StartsWith(line, "Error: Lump " + std::to_string(lump) + " (")) << line;
        }
    }
}

TEST_F(WorldRecords, EveryTruncationOfTheFileIsRejected) {
    const std::vector<uint8_t> good = RichWorld().Bytes();
    for (size_t cut = 0; cut < good.size(); cut += (cut < 200 ? 1 : 997)) {
        const std::string line = Rejection(std::vector<uint8_t>(good.begin(), good.begin() + cut));
        EXPECT_TRUE(StartsWith(line, "Error")) << cut << ": " << line;
    }
}

TEST_F(WorldRecords, TreeFaultsAreRejected) {
    struct Case {
        const char* what;
        void (*edit)(BspBuilder*);
        const char* message;
    };
    const Case cases[] = {
        {"no nodes", [](BspBuilder* b) { b->Nodes().clear(); }, "Error: The BSP tree has no nodes"},
        {"plane past the end", [](BspBuilder* b) { b->Nodes()[0].plane = static_cast<int32_t>(b->Planes().size()); },
         "Error: Node 0 uses plane"},
        {"negative plane", [](BspBuilder* b) { b->Nodes()[0].plane = -1; }, "Error: Node 0 uses plane -1"},
        {"child points at itself", [](BspBuilder* b) { b->Nodes()[0].front = 0; }, "Error: Node 0 has child node 0"},
        {"child points upward",
         [](BspBuilder* b) {
             b->AddNode(0, BspBuilder::LeafChild(0), 0);  // node 1 back to node 0
             b->Nodes()[0].front = 1;
         },
         "Error: Node 1 has child node 0"},
        {"child node past the end", [](BspBuilder* b) { b->Nodes()[0].back = 5; }, "Error: Node 0 has child node 5"},
        {"child leaf past the end",
         [](BspBuilder* b) { b->Nodes()[0].back = BspBuilder::LeafChild(1); }, "Error: Node 0 uses leaf 1"},
        {"most negative child", [](BspBuilder* b) { b->Nodes()[0].front = INT_MIN; },
         "Error: Node 0 uses leaf 2147483647"},
    };
    for (const Case& c : cases) {
        BspBuilder b = BspBuilder::MinimalWorld();
        c.edit(&b);
        const std::string line = Rejection(b);
        EXPECT_TRUE(StartsWith(line, c.message)) << c.what << ": " << line;
    }
}

TEST_F(WorldRecords, TreeDepthIsLimitedWithoutRecursing) {
    // A chain: node i's front is node i + 1, its back leaf 0.
    const auto chain = [](int length) {
        BspBuilder b = BspBuilder::MinimalWorld();
        b.Nodes().clear();
        for (int i = 0; i < length; ++i) {
            b.AddNode(0, i + 1 < length ? i + 1 : BspBuilder::LeafChild(0), BspBuilder::LeafChild(0));
        }
        return b;
    };
    std::unique_ptr<WorldData> world = Parse(chain(kMaxTreeDepth));
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->nodes.size(), static_cast<size_t>(kMaxTreeDepth));
    world.reset();
    EXPECT_EQ(Rejection(chain(kMaxTreeDepth + 1)),
              "Error: The BSP tree is deeper than " + std::to_string(kMaxTreeDepth) + " nodes");

    // Shared children (a lattice) are fine and cost no more than their depth.
    BspBuilder lattice = BspBuilder::MinimalWorld();
    lattice.Nodes().clear();
    for (int i = 0; i < 60; ++i) lattice.AddNode(0, i + 1 < 60 ? i + 1 : -1, i + 1 < 60 ? i + 1 : -1);
    world = Parse(lattice);
    ASSERT_NE(world, nullptr);
    ExpectWorldConsistent(*world);
}

TEST_F(WorldRecords, LeafBrushAndVisibilityFaultsAreRejected) {
    struct Case {
        const char* what;
        void (*edit)(BspBuilder*);
        const char* message;
    };
    const Case cases[] = {
        {"negative first leaf face", [](BspBuilder* b) { b->Leaves()[0].firstLeafFace = -1; },
         "Error: Leaf 0 lists leaf faces"},
        {"negative leaf face count", [](BspBuilder* b) { b->Leaves()[0].numLeafFaces = -1; },
         "Error: Leaf 0 lists leaf faces"},
        {"leaf faces past the end", [](BspBuilder* b) { b->Leaves()[0].numLeafFaces = 3; },
         "Error: Leaf 0 lists leaf faces"},
        {"leaf face range overflows",
         [](BspBuilder* b) {
             b->Leaves()[0].firstLeafFace = INT_MAX;
             b->Leaves()[0].numLeafFaces = INT_MAX;
         },
         "Error: Leaf 0 lists leaf faces"},
        {"leaf brushes past the end", [](BspBuilder* b) { b->Leaves()[0].numLeafBrushes = 1; },
         "Error: Leaf 0 lists leaf brushes"},
        {"negative first leaf brush", [](BspBuilder* b) { b->Leaves()[0].firstLeafBrush = INT_MIN; },
         "Error: Leaf 0 lists leaf brushes"},
        {"leaf face names a missing face", [](BspBuilder* b) { b->LeafFaces()[1] = 2; },
         "Error: Leaf face 1 names face 2"},
        {"leaf face negative", [](BspBuilder* b) { b->LeafFaces()[0] = -1; }, "Error: Leaf face 0 names face -1"},
        {"leaf brush names a missing brush", [](BspBuilder* b) { b->AddLeafBrush(0); },
         "Error: Leaf brush 0 names brush 0"},
        {"brush sides past the end",
         [](BspBuilder* b) { b->AddBrush(0, 1, 0); }, "Error: Brush 0 lists sides 0 (+1)"},
        {"brush sides negative",
         [](BspBuilder* b) {
             b->AddBoxBrush({{0, 0, 0}, {1, 1, 1}}, 0);
             b->Brushes()[0].numSides = -6;
         },
         "Error: Brush 0 lists sides"},
        {"brush texture past the end",
         [](BspBuilder* b) { b->AddBoxBrush({{0, 0, 0}, {1, 1, 1}}, 1); }, "Error: Brush 0 uses texture 1"},
        {"brush side plane past the end",
         [](BspBuilder* b) {
             b->AddBoxBrush({{0, 0, 0}, {1, 1, 1}}, 0);
             b->BrushSides()[4].plane = 99;
         },
         "Error: Brush side 4 uses plane 99"},
        {"visibility shorter than its counts",
         [](BspBuilder* b) { b->SetLumpBytes(kLumpVisibility, {1, 0, 0, 0, 1, 0, 0}); },
         "Error: The visibility data is too short (7 bytes)"},
        {"visibility one byte", [](BspBuilder* b) { b->SetLumpBytes(kLumpVisibility, {1}); },
         "Error: The visibility data is too short (1 bytes)"},
        {"negative clusters", [](BspBuilder* b) { b->SetVisibility(-1, 1, {0}); }, "Error: The visibility rows"},
        {"negative row bytes", [](BspBuilder* b) { b->SetVisibility(1, -1, {0}); }, "Error: The visibility rows"},
        {"rows longer than the lump", [](BspBuilder* b) { b->SetVisibility(2, 2, {1, 2, 3}); },
         "Error: The visibility rows (2 clusters of 2 bytes)"},
        {"rows whose size overflows 32 bits", [](BspBuilder* b) { b->SetVisibility(65536, 65536, {1}); },
         "Error: The visibility rows"},
    };
    for (const Case& c : cases) {
        BspBuilder b = BspBuilder::MinimalWorld();
        c.edit(&b);
        const std::string line = Rejection(b);
        EXPECT_TRUE(StartsWith(line, c.message)) << c.what << ": " << line;
    }
}

TEST_F(BadWorld, FacesWithBadReferencesAreKeptButUnusable) {
    BspBuilder b = BspBuilder::MinimalWorld();  // faces 0 (polygon) and 1 (mesh) are good
    const std::vector<BspVertex> tri = {BspBuilder::Vertex(0, 0, 0), BspBuilder::Vertex(1, 0, 0),
                                        BspBuilder::Vertex(0, 0, 1)};
    std::vector<BspVertex> grid(9, BspBuilder::Vertex(0, 0, 0));
    const int32_t polygonPastEnd = b.AddPolygon(tri);
    b.Faces()[static_cast<size_t>(polygonPastEnd)].numVertices = 1000;
    const int32_t polygonNegative = b.AddPolygon(tri);
    b.Faces()[static_cast<size_t>(polygonNegative)].firstVertex = -2;
    const int32_t polygonEmpty = b.AddPolygon({});
    const int32_t polygonOverflow = b.AddPolygon(tri);
    b.Faces()[static_cast<size_t>(polygonOverflow)].firstVertex = INT_MAX;
    b.Faces()[static_cast<size_t>(polygonOverflow)].numVertices = INT_MAX;
    const int32_t meshIndexTooBig = b.AddMesh(tri, {0, 1, 3});
    const int32_t meshIndexNegative = b.AddMesh(tri, {0, -1, 2});
    const int32_t meshRangePastEnd = b.AddMesh(tri, {0, 1, 2});
    b.Faces()[static_cast<size_t>(meshRangePastEnd)].numMeshVertices = 1000;
    const int32_t meshFirstNegative = b.AddMesh(tri, {0, 1, 2});
    b.Faces()[static_cast<size_t>(meshFirstNegative)].firstMeshVertex = -3;
    // Polygons with three or more mesh vertices are drawn from them: checked as meshes.
    const int32_t polygonMeshIndexTooBig = b.AddMesh(tri, {0, 1, 3});
    b.Faces()[static_cast<size_t>(polygonMeshIndexTooBig)].type = kFacePolygon;
    const int32_t polygonMeshPastEnd = b.AddMesh(tri, {0, 1, 2});
    b.Faces()[static_cast<size_t>(polygonMeshPastEnd)].type = kFacePolygon;
    b.Faces()[static_cast<size_t>(polygonMeshPastEnd)].firstMeshVertex = 1 << 30;
    const int32_t polygonMeshGood = b.AddMesh(tri, {2, 1, 0});
    b.Faces()[static_cast<size_t>(polygonMeshGood)].type = kFacePolygon;
    const int32_t patchTooBig = b.AddPatch(30, 30, grid);  // 900 points, far fewer after it
    const int32_t patchZero = b.AddPatch(0, 3, grid);
    const int32_t patchNegative = b.AddPatch(-3, -3, grid);
    const int32_t patchHuge = b.AddPatch(INT_MAX, INT_MAX, grid);
    const int32_t patchGood = b.AddPatch(3, 3, grid);
    const int32_t oddType = b.AddPolygon(tri);
    b.Faces()[static_cast<size_t>(oddType)].type = 77;
    b.Faces()[static_cast<size_t>(oddType)].firstVertex = -100;
    // A range that starts before the first vertex and ends inside the file.
    const int32_t oddTypeWrapping = b.AddPolygon(tri);
    b.Faces()[static_cast<size_t>(oddTypeWrapping)].type = 4;
    b.Faces()[static_cast<size_t>(oddTypeWrapping)].firstVertex = -2;
    b.Faces()[static_cast<size_t>(oddTypeWrapping)].numVertices = 5;
    const int32_t badTexture = b.AddPolygon(tri, 555, -7);  // texture and lightmap are drawing's business
    b.BuildSingleLeafTree();

    PrintCapture output;
    std::unique_ptr<World> world = Load(b);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(output.Lines());
    ExpectWorldConsistent(*world);
    const auto usable = [&](int32_t face) { return world->Data().faceUsable[static_cast<size_t>(face)]; };
    EXPECT_EQ(usable(0), 1);
    EXPECT_EQ(usable(1), 1);
    for (int32_t face : {polygonPastEnd, polygonNegative, polygonEmpty, polygonOverflow, meshIndexTooBig,
                         meshIndexNegative, meshRangePastEnd, meshFirstNegative, polygonMeshIndexTooBig,
                         polygonMeshPastEnd, patchZero, patchNegative, patchHuge}) {
        EXPECT_EQ(usable(face), 0) << face;
    }
    EXPECT_EQ(usable(patchTooBig), 0);
    EXPECT_EQ(usable(patchGood), 1);
    EXPECT_EQ(usable(polygonMeshGood), 1);
    EXPECT_EQ(usable(oddType), 1);
    EXPECT_EQ(usable(oddTypeWrapping), 1);
    // Faces never drawn keep an empty box: their vertices are not read.
    EXPECT_EQ(world->Data().faceBounds[static_cast<size_t>(oddType)], (std::array<float, 6>{}));
    EXPECT_EQ(world->Data().faceBounds[static_cast<size_t>(oddTypeWrapping)], (std::array<float, 6>{}));
    EXPECT_EQ(usable(badTexture), 1);
    // Every patch face keeps its entry; only the good one has a piece.
    ASSERT_EQ(world->Pictures().patches.size(), 5u);
    EXPECT_EQ(world->Data().faces[static_cast<size_t>(patchGood)].firstVertex, 4);
    for (size_t p = 0; p < 4; ++p) EXPECT_TRUE(world->Pictures().patches[p].subPatches.empty()) << p;
    EXPECT_EQ(world->Pictures().patches[4].subPatches.size(), 1u);
}

TEST_F(BadWorld, PatchesSharingControlPointsCannotAskForUnboundedPieces) {
    // 65 x 65 control points make 32 x 32 = 1024 pieces (about 21 MB of
    // vertices); faces over the same points pass the 64 MB budget at the
    // fourth, before anything is allocated.
    BspBuilder b = BspBuilder::MinimalWorld();
    const int32_t face = b.AddPatch(65, 65, std::vector<BspVertex>(65 * 65, BspBuilder::Vertex(0, 0, 0)));
    for (int i = 0; i < 5; ++i) b.AddFace(b.Faces()[static_cast<size_t>(face)]);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Rejection(b), "Error: The patches need more than 64 MB of vertices (4096 sub-patches so far)");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    // Three such faces stay inside the budget and load.
    BspBuilder fits = BspBuilder::MinimalWorld();
    const int32_t first = fits.AddPatch(65, 65, std::vector<BspVertex>(65 * 65, BspBuilder::Vertex(0, 0, 0)));
    for (int i = 0; i < 2; ++i) fits.AddFace(fits.Faces()[static_cast<size_t>(first)]);
    fits.BuildSingleLeafTree();
    std::unique_ptr<World> world = Load(fits);
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->Pictures().patches.size(), 3u);
    EXPECT_EQ(world->Pictures().patches[2].subPatches.size(), 1024u);
}

TEST_F(BadWorld, NonFiniteNumbersLoadAndEvaluateWithoutTrouble) {
    BspBuilder b = BspBuilder::MinimalWorld();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<BspVertex> grid(9, BspBuilder::Vertex(nan, inf, -inf, nan, inf));
    b.AddPatch(3, 3, grid);
    b.BuildSingleLeafTree();
    for (BspPlane& plane : b.Planes()) plane = BspPlane{{nan, inf, -inf}, nan};
    std::unique_ptr<World> world = Load(b);
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->Pictures().patches[0].subPatches.size(), 1u);
    EXPECT_EQ(world->Pictures().patches[0].subPatches[0].stripVertices.size(), 144u);
}

TEST_F(BadWorld, RandomCorruptionNeverBreaksTheLoader) {
    const std::vector<uint8_t> good = RichWorld().Bytes();
    std::mt19937 random(20240611u);
    const int32_t interesting[] = {0, 1, -1, 2, 7, 8, 255, 65535, INT_MAX, INT_MIN, INT_MAX - 1, -2,
                                   static_cast<int32_t>(good.size()), static_cast<int32_t>(good.size()) - 4};
    int loaded = 0;
    int rejected = 0;
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            // Half of the edits land in the header, directory and the small
            // structural lumps before the vertices; the rest anywhere.
            const size_t limit = (random() & 1) != 0 ? std::min<size_t>(bytes.size(), 1600) : bytes.size();
            const size_t at = random() % limit;
            switch (random() % 3) {
                case 0:
                    bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8));
                    break;
                case 1:
                    bytes[at] = static_cast<uint8_t>(random());
                    break;
                default:
                    BspBuilder::PutInt32(&bytes, at & ~size_t{3},
                                         interesting[random() % (sizeof interesting / sizeof interesting[0])]);
                    break;
            }
        }
        if (random() % 16 == 0) bytes.resize(random() % bytes.size());
        std::unique_ptr<World> world;
        {
            PrintCapture quiet;
            world = LoadBytes(bytes);
        }
        if (world != nullptr) {
            ++loaded;
            ExpectWorldConsistent(*world);
            if (HasFatalFailure()) {
                ADD_FAILURE() << "round " << round;
                return;
            }
        } else {
            ++rejected;
        }
    }
    // Both outcomes are exercised.
    EXPECT_GT(loaded, 100);
    EXPECT_GT(rejected, 100);
}

namespace {

// The map command with the game subsystem up, in a world that loaded fine.
class BadWorldFromTheConsole : public BadWorld {
protected:
    void SetUp() override {
        BadWorld::SetUp();
        g_resourceManager.Initialise();
        g_gameSystem.InitGame();
        ASSERT_TRUE(RichWorld().WriteTo("maps/good.lmf"));
        ASSERT_EQ(g_gameSystem.Map("maps/good.lmf"), 1);
        good_ = g_gameSystem.GetCurrentWorld();
        ASSERT_NE(good_, nullptr);
    }
    void TearDown() override {
        g_gameSystem.shutdown(0);
        BadWorld::TearDown();
    }
    World* good_ = nullptr;
};

}  // namespace

TEST_F(BadWorldFromTheConsole, AFileThatIsNoGoodWorldKeepsTheCurrentOne) {
    std::vector<uint8_t> truncated = RichWorld().Bytes();
    truncated.resize(truncated.size() / 2);
    folder_.Write("maps/truncated.lmf", std::string(truncated.begin(), truncated.end()));
    folder_.Write("maps/text.lmf", "not a world at all, only some text of some length ............................");
    folder_.Write("maps/empty.bsp", "");
    WriteJpg("maps/picture.jpg");
    for (const char* file : {"maps/truncated.lmf", "maps/text.lmf", "maps/empty.bsp", "maps/picture.jpg",
                             "maps/missing.lmf"}) {
        PrintCapture output;
        ExecuteLine((std::string("map ") + file).c_str());
        EXPECT_TRUE(output.Contains("Error loading world.")) << file;
        EXPECT_EQ(output.Last(), "Still in maps/good.lmf") << file;
        output.Clear();
        ExecuteLine("map");
        EXPECT_EQ(output.Lines(), (Lines{"Current map is: maps/good.lmf"})) << file;
        ASSERT_EQ(g_gameSystem.GetCurrentWorld(), good_) << file;
        EXPECT_EQ(good_->loaded, 1) << file;
        EXPECT_EQ(g_gameSystem.frame(), 0) << file;  // still drawn
    }
}

TEST_F(BadWorldFromTheConsole, AQuotedPathWithSpacesLoads) {
    folder_.Write("my maps/keep", "");
    ASSERT_TRUE(RichWorld().WriteTo("my maps/x.bsp"));
    PrintCapture output;
    ExecuteLine("map \"my maps/x.bsp\"");
    EXPECT_FALSE(output.Contains("Error loading world.")) << ::testing::PrintToString(output.Lines());
    output.Clear();
    ExecuteLine("map");
    EXPECT_EQ(output.Lines(), (Lines{"Current map is: my maps/x.bsp"}));
    EXPECT_NE(g_gameSystem.GetCurrentWorld(), good_);
}
