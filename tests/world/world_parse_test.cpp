// Reading world files into records, without a device: what the reader
// accepts, how it converts, and what a load keeps once the device holds its
// copies. Rejections are in bad_world_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/bsp_builder.h"
#include "support/test_support.h"
#include "engine/world.h"
#include "world/world_parse.h"

namespace {

using Lines = std::vector<std::string>;

class WorldReader : public ::testing::Test {
protected:
    // The records of a file that must be read; null when it is not.
    std::unique_ptr<WorldData> Parse(const BspBuilder& b, Lines* lines = nullptr) {
        PrintCapture output;
        auto data = std::make_unique<WorldData>();
        const bool read = ParseWorldBytes(b.Bytes(), "maps/test.lmf", data.get());
        if (lines != nullptr) *lines = output.Lines();
        return read ? std::move(data) : nullptr;
    }
};

// A load that fails while reading the file stops before the device: these
// run without one.
class WorldFileFailures : public ::testing::Test {
protected:
    std::unique_ptr<World> LoadBytes(const std::vector<uint8_t>& bytes) {
        folder_.Write("maps/test.lmf", std::string(bytes.begin(), bytes.end()));
        auto world = std::make_unique<World>();
        if (!world->Load("maps/test.lmf")) return nullptr;
        return world;
    }
    Lines FailureLines(const BspBuilder& b) {
        PrintCapture output;
        EXPECT_EQ(LoadBytes(b.Bytes()), nullptr);
        return output.Lines();
    }

    ScratchFolder folder_;
};

}  // namespace

TEST_F(WorldReader, RecordsAreInTheEnginesSpaceAndPatchFacesCarryTheirIndex) {
    BspBuilder b = BspBuilder::MinimalWorld();  // a lightmapped polygon and mesh
    std::vector<BspVertex> grid;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) grid.push_back(BspBuilder::Vertex(c * 8.0f, 4.0f, r * 8.0f));
    }
    const int32_t patch = b.AddPatch(3, 3, grid, 0, -1);  // lit by its vertices
    const std::vector<BspVertex> tri = {BspBuilder::Vertex(0, 0, 0), BspBuilder::Vertex(1, 0, 0),
                                        BspBuilder::Vertex(0, 0, 1)};
    const int32_t vertexLit = b.AddPolygon(tri, 0, -1);
    b.BuildSingleLeafTree();
    const std::vector<BspFace> written = b.Faces();
    std::unique_ptr<WorldData> world = Parse(b);
    ASSERT_NE(world, nullptr);

    // Memory is Y up, as the builder's points are given.
    ASSERT_EQ(world->vertices.size(), 7u + 9u + 3u);
    EXPECT_EQ(world->vertices[0].position[0], -64.0f);
    EXPECT_EQ(world->vertices[0].position[1], 0.0f);
    EXPECT_EQ(world->vertices[0].position[2], -64.0f);
    EXPECT_EQ(world->vertices[7 + 8].position[1], 4.0f);
    EXPECT_EQ(world->vertices[7 + 8].position[2], 16.0f);

    // The patch face's first vertex becomes its patch index; its grid start
    // is kept beside it.
    ASSERT_EQ(world->patchFaceCount, 1u);
    EXPECT_EQ(world->faces[static_cast<size_t>(patch)].firstVertex, 0);
    EXPECT_EQ(world->patchFirstVertex, (std::vector<int32_t>{written[static_cast<size_t>(patch)].firstVertex}));
    EXPECT_EQ(world->faceBounds[static_cast<size_t>(patch)], (std::array<float, 6>{0, 4, 0, 16, 4, 16}));

    // Only vertices of faces without a lightmap take their colour.
    ASSERT_EQ(world->vertexLit.size(), world->vertices.size());
    for (size_t v = 0; v < world->vertices.size(); ++v) {
        const bool ofTheTriangle = v >= static_cast<size_t>(written[static_cast<size_t>(vertexLit)].firstVertex);
        EXPECT_EQ(world->vertexLit[v], ofTheTriangle ? 1 : 0) << v;
    }
    EXPECT_EQ(world->lightmapCount, 1u);
    EXPECT_EQ(world->lightmapBytes.size(), kLightmapBytes);

    // Once the device holds its copies the staging goes, and what drawing
    // and collision read stays.
    const uint64_t before = world->SizeInBytes();
    world->ReleaseStaging();
    EXPECT_TRUE(world->vertices.empty());
    EXPECT_TRUE(world->vertexLit.empty());
    EXPECT_TRUE(world->lightmapBytes.empty());
    EXPECT_TRUE(world->patchFirstVertex.empty());
    EXPECT_EQ(world->faces.size(), written.size());
    EXPECT_EQ(world->faceUsable.size(), written.size());
    EXPECT_FALSE(world->nodes.empty());
    EXPECT_LT(world->SizeInBytes(), before);
}

TEST_F(WorldReader, FileVariationsTheFormatAllows) {
    // Any version; no visibility; unread lumps of any content; trailing
    // partial records ignored.
    BspBuilder b = BspBuilder::MinimalWorld();
    b.SetVersion(-12345);
    b.SetEntities(std::string(13, '\xFF'));
    b.SetLumpBytes(kLumpModels, std::vector<uint8_t>(3, 0xAB));
    b.OverrideLump(kLumpEffects, -50, -1);
    b.OverrideLump(kLumpLightVolumes, 0x7FFFFFFF, 0x7FFFFFFF);
    b.PadLump(kLumpVertices, 43, 0xEE);
    b.PadLump(kLumpFaces, 103, 0xEE);
    b.PadLump(kLumpTextures, 71, 0xEE);
    b.PadLump(kLumpLightmaps, 49151, 0xEE);
    b.PadLump(kLumpMeshVertices, 3, 0xEE);
    b.PadLump(kLumpPlanes, 15, 0xEE);
    b.PadLump(kLumpNodes, 35, 0xEE);
    b.PadLump(kLumpLeaves, 47, 0xEE);
    Lines lines;
    std::unique_ptr<WorldData> world = Parse(b, &lines);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(lines);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "BSP Vertices: 7");
    EXPECT_EQ(lines[1], "BSP Meshes: 3");
    EXPECT_EQ(lines[2], "BSP Faces: 2");
    EXPECT_EQ(lines[3], "BSP Textures: 1");
    EXPECT_EQ(lines[4], "BSP Lightmaps: 1");
    EXPECT_EQ(world->planes.size(), 1u);
    EXPECT_EQ(world->nodes.size(), 1u);
    EXPECT_EQ(world->leaves.size(), 1u);
    EXPECT_TRUE(world->visibility.empty());
}

TEST_F(WorldReader, VisibilityRowsAreKeptAsStored) {
    BspBuilder b = BspBuilder::MinimalWorld();
    b.SetVisibility(3, 2, {0x01, 0x00, 0x02, 0x80, 0xFF, 0x7F, 0x55});  // one spare byte after the rows
    std::unique_ptr<WorldData> world = Parse(b);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->numClusters, 3);
    EXPECT_EQ(world->bytesPerCluster, 2);
    EXPECT_EQ(world->visibility, (std::vector<uint8_t>{0x01, 0x00, 0x02, 0x80, 0xFF, 0x7F}));

    // Rows of no bytes leave no array: everything counts as visible.
    b.SetVisibility(4, 0, {});
    world = Parse(b);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->numClusters, 4);
    EXPECT_TRUE(world->visibility.empty());
}

TEST_F(WorldFileFailures, EarlyFailuresStopWithTheirMessage) {
    PrintCapture output;
    World world;
    EXPECT_FALSE(world.Load("maps/none.lmf"));
    EXPECT_EQ(output.Lines(),
              (Lines{"Attempting to load world: maps/none.lmf", "Error: Unable to find map maps/none.lmf"}));
    EXPECT_EQ(world.loaded, 0);

    std::vector<uint8_t> bytes = BspBuilder::MinimalWorld().Bytes();
    const auto failure = [&](const std::vector<uint8_t>& file) {
        output.Clear();
        EXPECT_EQ(LoadBytes(file), nullptr);
        return output.Lines();
    };
    std::vector<uint8_t> magic = bytes;
    std::memcpy(magic.data(), "VBSP", 4);
    EXPECT_EQ(failure(magic), (Lines{"Attempting to load world: maps/test.lmf", "Loading level maps/test.lmf",
                                     "Error: Invalid bsp magic id, expected IBSP, received: VBSP"}));
    // Bytes that are not text are shown as escapes, never sent raw to the
    // console.
    std::memcpy(magic.data(), "\x01\xFFZ\0", 4);
    EXPECT_EQ(failure(magic).back(), "Error: Invalid bsp magic id, expected IBSP, received: \\x01\\xFFZ\\x00");
    EXPECT_EQ(failure({}).back(), "Error reading BSP header");
    EXPECT_EQ(failure(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 7)).back(), "Error reading BSP header");
    EXPECT_EQ(failure(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8)).back(),
              "Error reading lumps from BSP file");
    EXPECT_EQ(failure(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 143)).back(),
              "Error reading lumps from BSP file");
}

TEST_F(WorldFileFailures, EachRequiredLumpMissingIsMissingData) {
    const int required[] = {kLumpVertices, kLumpMeshVertices, kLumpFaces, kLumpTextures, kLumpLightmaps};
    for (int lump : required) {
        BspBuilder b = BspBuilder::MinimalWorld();
        b.SetLumpBytes(lump, {});
        const Lines lines = FailureLines(b);
        EXPECT_EQ(lines, (Lines{"Attempting to load world: maps/test.lmf", "Loading level maps/test.lmf",
                                "Error: This bsp file is missing data"}))
            << lump;
    }
    // A lightmap lump one byte short of one lightmap.
    BspBuilder b = BspBuilder::MinimalWorld();
    b.SetLumpBytes(kLumpLightmaps, std::vector<uint8_t>(kLightmapBytes - 1, 9));
    EXPECT_EQ(FailureLines(b).back(), "Error: This bsp file is missing data");
}

TEST_F(WorldReader, BrushEntityModelsAreKeptYUpWithTheirFaces) {
    BspBuilder b = BspBuilder::MinimalWorld();  // faces 0 and 1, the world's
    const int32_t door = b.AddPolygon({BspBuilder::Vertex(0, 0, 0), BspBuilder::Vertex(0, 8, 0),
                                       BspBuilder::Vertex(8, 8, 0)});
    b.AddPolygon({BspBuilder::Vertex(0, 0, 4), BspBuilder::Vertex(0, 8, 4), BspBuilder::Vertex(8, 8, 4)});
    b.AddModel({{-1, -2, -3}, {10, 20, 30}}, door, 2);
    b.AddModel({{5, 6, 7}, {5, 6, 7}}, 0, 0);  // a trigger: a point box and no faces
    Lines lines;
    std::unique_ptr<WorldData> world = Parse(b, &lines);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(lines);

    // Model 0 is the world and is not among them.
    ASSERT_EQ(world->models.size(), 2u);
    const BspModel& model = world->models[0];
    EXPECT_EQ(model.firstFace, door);
    EXPECT_EQ(model.numFaces, 2);
    EXPECT_EQ(model.mins[0], -1.0f);
    EXPECT_EQ(model.mins[1], -2.0f);
    EXPECT_EQ(model.mins[2], -3.0f);
    EXPECT_EQ(model.maxs[1], 20.0f);
    EXPECT_EQ(model.maxs[2], 30.0f);
    EXPECT_EQ(world->models[1].numFaces, 0);
    EXPECT_EQ(world->models[1].mins[2], 7.0f);
    for (const std::string& line : lines) EXPECT_EQ(line.find("Warning"), std::string::npos) << line;

    // The file's own Z-up box: the same after the exchange.
    std::vector<uint8_t> bytes = b.Bytes();
    const BspLumpEntry lump = BspBuilder::LumpEntry(bytes, kLumpModels);
    EXPECT_EQ(lump.length, 3 * 40);
    EXPECT_EQ(BspBuilder::GetFloat(bytes, static_cast<size_t>(lump.offset) + 40 + 4), -3.0f);

    // Only model 0, or no models lump at all: nothing to draw.
    b.Models().resize(1);
    world = Parse(b);
    ASSERT_NE(world, nullptr);
    EXPECT_TRUE(world->models.empty());
    b.Models().clear();
    world = Parse(b);
    ASSERT_NE(world, nullptr);
    EXPECT_TRUE(world->models.empty());
}

TEST_F(WorldReader, DamagedModelsAreLeftOutWithOneWarningAndTheWorldStillLoads) {
    BspBuilder b = BspBuilder::MinimalWorld();
    const int32_t faces = static_cast<int32_t>(b.Faces().size());  // 2
    b.AddModel({{0, 0, 0}, {1, 1, 1}}, 1, 1);                       // sound
    b.AddModel({{0, 0, 0}, {1, 1, 1}}, faces, 1);                   // past the faces
    b.AddModel({{0, 0, 0}, {1, 1, 1}}, 1, faces);                   // runs past them
    b.AddModel({{0, 0, 0}, {1, 1, 1}}, -1, 1);                      // negative first
    b.AddModel({{0, 0, 0}, {1, 1, 1}}, 0, -2);                      // negative count
    b.AddModel({{0, 0, 0}, {1, 1, 1}}, 0x7FFFFFFF, 0x7FFFFFFF);     // would overflow
    b.AddModel({{2, 0, 0}, {1, 1, 1}}, 0, 1);                       // box inside out
    b.AddModel({{0, 0, 0}, {NAN, 1, 1}}, 0, 1);                     // not a number
    b.AddModel({{0, -INFINITY, 0}, {1, 1, 1}}, 0, 1);               // not finite
    b.AddModel({{0, 0, 0}, {1, 1, 1}}, 0, faces);                   // sound: every face
    b.PadLump(kLumpModels, 39, 0xEE);                                // a partial record
    Lines lines;
    std::unique_ptr<WorldData> world = Parse(b, &lines);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(lines);
    ASSERT_EQ(world->models.size(), 2u);
    EXPECT_EQ(world->models[0].firstFace, 1);
    EXPECT_EQ(world->models[1].numFaces, faces);
    std::vector<std::string> warnings;
    for (const std::string& line : lines) {
        if (line.find("Warning") != std::string::npos) warnings.push_back(line);
    }
    EXPECT_EQ(warnings, Lines{"Warning: 8 of the 10 brush entity models of maps/test.lmf are damaged and left out"});
    // The rest of the world is read as without them.
    EXPECT_EQ(world->faces.size(), 2u);
    EXPECT_EQ(world->leaves.size(), 1u);

    // A models lump outside the file costs only the models.
    for (const auto& [offset, length] : {std::pair<int32_t, int32_t>{0x7FFFFFF0, 80}, {-8, 40}, {0, -40}}) {
        b.OverrideLump(kLumpModels, offset, length);
        world = Parse(b, &lines);
        ASSERT_NE(world, nullptr) << offset;
        EXPECT_TRUE(world->models.empty());
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string& line) { return line.find("Warning") != std::string::npos; }),
                  1);
        EXPECT_NE(std::find(lines.begin(), lines.end(),
                            "Warning: the models of maps/test.lmf lie outside the file; no brush entities"),
                  lines.end());
    }
}
