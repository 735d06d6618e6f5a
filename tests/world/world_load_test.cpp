#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/bsp_builder.h"
#include "support/test_support.h"
#include "support/world_fixture.h"
#include "video/resource_manager.h"
#include "engine/world.h"

namespace {

using Lines = std::vector<std::string>;

class WorldLoad : public WorldOnDevice {
protected:
    // Loads and returns the lines printed.
    std::unique_ptr<World> LoadCapturing(const BspBuilder& b, Lines* lines) {
        PrintCapture output;
        std::unique_ptr<World> world = Load(b);
        *lines = output.Lines();
        return world;
    }
    Lines FailureLines(const BspBuilder& b) {
        Lines lines;
        EXPECT_EQ(LoadCapturing(b, &lines), nullptr);
        return lines;
    }
};

template <typename T>
std::vector<T> ReadBack(IDirect3DVertexBuffer9* vb) {
    void* data = nullptr;
    D3DVERTEXBUFFER_DESC desc{};
    vb->GetDesc(&desc);
    std::vector<T> out(desc.Size / sizeof(T));
    if (SUCCEEDED(vb->Lock(0, 0, &data, D3DLOCK_READONLY))) {
        std::memcpy(out.data(), data, out.size() * sizeof(T));
        vb->Unlock();
    }
    return out;
}

std::vector<uint32_t> ReadBack(IDirect3DIndexBuffer9* ib) {
    void* data = nullptr;
    D3DINDEXBUFFER_DESC desc{};
    ib->GetDesc(&desc);
    std::vector<uint32_t> out(desc.Size / 4);
    if (SUCCEEDED(ib->Lock(0, 0, &data, D3DLOCK_READONLY))) {
        std::memcpy(out.data(), data, out.size() * 4);
        ib->Unlock();
    }
    return out;
}

}  // namespace

TEST_F(WorldLoad, MinimalWorldPrintsEveryStepInOrderAndHoldsItsLumps) {
    Lines lines;
    std::unique_ptr<World> world = LoadCapturing(BspBuilder::MinimalWorld(), &lines);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines, (Lines{"Attempting to load world: maps/test.lmf", "Loading level maps/test.lmf",
                            "BSP Vertices: 7", "BSP Meshes: 3", "BSP Faces: 2", "BSP Textures: 1",
                            "BSP Lightmaps: 1", "Failed to load texture 0",
                            "Texture 0 is textures/test/missing; tried textures\\test\\missing as .tga and .jpg",
                            "Error: Zero textures loaded",
                            "AnyValid: 0", "Initializing render caches for 1 textures"}));
    EXPECT_EQ(world->loaded, 1);
    EXPECT_STREQ(world->Name(), "maps/test.lmf");
    EXPECT_EQ(world->Pictures().vertexCount, 7u);
    EXPECT_EQ(world->Data().faces.size(), 2u);
    EXPECT_EQ(world->Data().meshVertices, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(world->Data().faceUsable, (std::vector<uint8_t>{1, 1}));
    EXPECT_EQ(world->Pictures().faceDrawn.size(), 1u);
    // Each face's box, in drawing coordinates (as the builder's vertices
    // are given): the floor square and the triangle above it.
    ASSERT_EQ(world->Data().faceBounds.size(), 2u);
    EXPECT_EQ(world->Data().faceBounds[0], (std::array<float, 6>{-64, 0, -64, 64, 0, 64}));
    EXPECT_EQ(world->Data().faceBounds[1], (std::array<float, 6>{0, 16, 0, 32, 16, 32}));
    EXPECT_EQ(world->Pictures().textures.size(), 1u);
    EXPECT_EQ(world->Pictures().textures[0].texture, nullptr);
    EXPECT_FALSE(world->Pictures().textures[0].fromTga);
    EXPECT_EQ(world->Data().textureRecords.size(), 1u);
    EXPECT_STREQ(world->Data().textureRecords[0].name, "textures/test/missing");
    EXPECT_EQ(world->Pictures().lightmaps.size(), 1u);
    EXPECT_EQ(world->Data().nodes.size(), 1u);
    EXPECT_EQ(world->Data().leaves.size(), 1u);
    EXPECT_EQ(world->Data().leafFaces, (std::vector<int32_t>{0, 1}));
    EXPECT_TRUE(world->Pictures().patches.empty());
    EXPECT_EQ(world->Data().patchFaceCount, 0u);
    EXPECT_TRUE(world->Data().visibility.empty());
    EXPECT_GT(world->SizeInBytes(), 7u * sizeof(GpuVertex));
}

TEST_F(WorldLoad, FaceDrawnHasOneBitPerFaceInWholeBytes) {
    for (int faces : {8, 9, 17}) {
        BspBuilder b = BspBuilder::MinimalWorld();
        while (static_cast<int>(b.Faces().size()) < faces) b.AddFace(b.Faces()[0]);
        std::unique_ptr<World> world = Load(b);
        ASSERT_NE(world, nullptr);
        EXPECT_EQ(world->Pictures().faceDrawn.size(), static_cast<size_t>((faces + 7) / 8)) << faces;
    }
}

TEST_F(WorldLoad, PositionsNormalsAndLeafBoundsAreExchangedBetweenFileAndMemory) {
    BspBuilder b = BspBuilder::MinimalWorld();
    BspVertex v = BspBuilder::Vertex(1.0f, 2.0f, 3.0f, 0.25f, 0.5f, 0.75f, 0.125f);
    v.normal[0] = 0.1f;
    v.normal[1] = 0.2f;
    v.normal[2] = 0.3f;
    b.AddPolygon({v, v, v});
    b.Planes().push_back(BspPlane{{0.0f, 0.6f, 0.8f}, 5.0f});
    b.Leaves()[0].mins[0] = -1;
    b.Leaves()[0].mins[1] = -2;
    b.Leaves()[0].mins[2] = -3;
    b.Leaves()[0].maxs[0] = 4;
    b.Leaves()[0].maxs[1] = 5;
    b.Leaves()[0].maxs[2] = 6;

    // The file holds Z up.
    const std::vector<uint8_t> bytes = b.Bytes();
    const size_t vertex7 = static_cast<size_t>(BspBuilder::LumpEntry(bytes, kLumpVertices).offset) + 7 * 44;
    EXPECT_EQ(BspBuilder::GetFloat(bytes, vertex7 + 4), 3.0f);
    EXPECT_EQ(BspBuilder::GetFloat(bytes, vertex7 + 8), 2.0f);
    EXPECT_EQ(BspBuilder::GetFloat(bytes, vertex7 + 32), 0.2f);  // normals are not exchanged
    const size_t plane1 = static_cast<size_t>(BspBuilder::LumpEntry(bytes, kLumpPlanes).offset) + 16;
    EXPECT_EQ(BspBuilder::GetFloat(bytes, plane1 + 4), 0.8f);
    const size_t leaf0 = static_cast<size_t>(BspBuilder::LumpEntry(bytes, kLumpLeaves).offset);
    EXPECT_EQ(BspBuilder::GetInt32(bytes, leaf0 + 12), -3);
    EXPECT_EQ(BspBuilder::GetInt32(bytes, leaf0 + 24), 6);

    // Memory holds Y up again.
    std::unique_ptr<World> world = Load(b);
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->Data().planes.size(), 2u);
    EXPECT_EQ(world->Data().planes[1].normal[1], 0.6f);
    EXPECT_EQ(world->Data().planes[1].normal[2], 0.8f);
    EXPECT_EQ(world->Data().planes[1].dist, 5.0f);
    EXPECT_EQ(world->Data().leaves[0].mins[1], -2);
    EXPECT_EQ(world->Data().leaves[0].mins[2], -3);
    EXPECT_EQ(world->Data().leaves[0].maxs[1], 5);
    EXPECT_EQ(world->Data().leaves[0].maxs[2], 6);

    const std::vector<GpuVertex> gpu = ReadBack<GpuVertex>(world->Pictures().vertexBuffer);
    ASSERT_EQ(gpu.size(), 10u);
    const GpuVertex& g = gpu[7];
    EXPECT_EQ(g.position[0], 1.0f);
    EXPECT_EQ(g.position[1], 2.0f);
    EXPECT_EQ(g.position[2], 3.0f);
    EXPECT_EQ(g.normal[0], 0.1f);
    EXPECT_EQ(g.normal[1], 0.2f);
    EXPECT_EQ(g.normal[2], 0.3f);
    EXPECT_EQ(g.colour, 0xFFFFFFFFu);
    EXPECT_EQ(g.texCoord[0], 0.25f);
    EXPECT_EQ(g.texCoord[1], 0.5f);
    EXPECT_EQ(g.lightmapCoord[0], 0.75f);
    EXPECT_EQ(g.lightmapCoord[1], 0.125f);
    EXPECT_EQ(g.lightmapCoord[2], 0.0f);
    EXPECT_EQ(gpu[0].position[0], -64.0f);
    EXPECT_EQ(gpu[0].position[2], -64.0f);
}

TEST_F(WorldLoad, WorldBuffersAreStaticDefaultPoolWithTheEngineVertexAndIndexFormats) {
    BspBuilder b = BspBuilder::MinimalWorld();
    b.AddMesh({BspBuilder::Vertex(0, 0, 0), BspBuilder::Vertex(1, 0, 0), BspBuilder::Vertex(0, 0, 1),
               BspBuilder::Vertex(1, 0, 1)},
              {0, 1, 2, 2, 1, 3});
    std::unique_ptr<World> world = Load(b);
    ASSERT_NE(world, nullptr);
    D3DVERTEXBUFFER_DESC vd{};
    ASSERT_EQ(world->Pictures().vertexBuffer->GetDesc(&vd), D3D_OK);
    EXPECT_EQ(vd.Size, 11u * 48u);
    EXPECT_EQ(vd.FVF, 0x40252u);
    EXPECT_EQ(vd.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(vd.Usage, 0u);
    D3DINDEXBUFFER_DESC id{};
    ASSERT_EQ(world->Pictures().indexBuffer->GetDesc(&id), D3D_OK);
    EXPECT_EQ(id.Format, D3DFMT_INDEX32);
    EXPECT_EQ(id.Pool, D3DPOOL_DEFAULT);
    EXPECT_EQ(ReadBack(world->Pictures().indexBuffer), (std::vector<uint32_t>{0, 1, 2, 0, 1, 2, 2, 1, 3}));
    EXPECT_EQ(world->Data().faces[2].firstMeshVertex, 3);
    EXPECT_EQ(world->Data().faces[2].firstVertex, 7);
}

TEST_F(WorldLoad, LightmapsBecomeManagedArgbTexturesWrittenBlueGreenRedOpaque) {
    BspBuilder b = BspBuilder::MinimalWorld();
    std::vector<uint8_t> rgb(kLightmapBytes);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>((i * 7 + i / 384) & 0xFF);
    b.AddLightmap(rgb);
    std::unique_ptr<World> world = Load(b);
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->Pictures().lightmaps.size(), 2u);
    IDirect3DTexture9* lightmap = world->Pictures().lightmaps[1];
    ASSERT_NE(lightmap, nullptr);
    EXPECT_EQ(lightmap->GetLevelCount(), 1u);
    D3DSURFACE_DESC desc{};
    ASSERT_EQ(lightmap->GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 128u);
    EXPECT_EQ(desc.Height, 128u);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);

    D3DLOCKED_RECT locked{};
    ASSERT_EQ(lightmap->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    const uint8_t* bits = static_cast<const uint8_t*>(locked.pBits);
    for (int y : {0, 1, 77, 127}) {
        for (int x : {0, 5, 127}) {
            const uint8_t* texel = bits + y * locked.Pitch + x * 4;
            const uint8_t* in = rgb.data() + (y * 128 + x) * 3;
            EXPECT_EQ(texel[0], in[2]) << x << "," << y;
            EXPECT_EQ(texel[1], in[1]);
            EXPECT_EQ(texel[2], in[0]);
            EXPECT_EQ(texel[3], 255);
        }
    }
    lightmap->UnlockRect(0);
}

TEST_F(WorldLoad, TexturesPreferTgaThenJpgThroughBackslashNamesAndCountWhatLoaded) {
    BspBuilder b = BspBuilder::MinimalWorld();
    b.Textures()[0] = BspTexture{};
    std::memcpy(b.Textures()[0].name, "textures/stone/both", 19);
    b.AddTexture("textures/stone/jpgonly");
    b.AddTexture("textures/stone/none");
    b.AddTexture("Textures/Stone/MixedCase");
    WriteTga("textures/stone/both.tga", 2, 2, 255, 0, 0);
    WriteJpg("textures/stone/both.jpg");
    WriteJpg("textures/stone/jpgonly.jpg");
    WriteTga("textures/stone/mixedcase.tga", 1, 1, 0, 0, 255);
    Lines lines;
    std::unique_ptr<World> world = LoadCapturing(b, &lines);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(lines);
    ASSERT_EQ(world->Pictures().textures.size(), 4u);
    EXPECT_NE(world->Pictures().textures[0].texture, nullptr);
    EXPECT_TRUE(world->Pictures().textures[0].fromTga);
    EXPECT_NE(world->Pictures().textures[1].texture, nullptr);
    EXPECT_FALSE(world->Pictures().textures[1].fromTga);
    EXPECT_EQ(world->Pictures().textures[2].texture, nullptr);
    EXPECT_FALSE(world->Pictures().textures[2].fromTga);
    EXPECT_NE(world->Pictures().textures[3].texture, nullptr);
    EXPECT_TRUE(world->Pictures().textures[3].fromTga);
    const Lines tail(lines.end() - 5, lines.end());
    EXPECT_EQ(tail, (Lines{"Failed to load texture 2",
                           "Texture 2 is textures/stone/none; tried textures\\stone\\none as .tga and .jpg",
                           "Loaded 3 textures", "AnyValid: 1", "Initializing render caches for 4 textures"}));
}

TEST_F(WorldLoad, UnloadReleasesOnceAndReportsWhetherThereWasAnything) {
    World never;
    EXPECT_FALSE(never.Unload());

    std::unique_ptr<World> world = Load(BspBuilder::MinimalWorld());
    ASSERT_NE(world, nullptr);
    EXPECT_TRUE(world->Unload());
    EXPECT_EQ(world->loaded, 0);
    EXPECT_EQ(world->Pictures().vertexCount, 0u);
    EXPECT_EQ(world->Pictures().vertexBuffer, nullptr);
    EXPECT_EQ(world->Pictures().indexBuffer, nullptr);
    EXPECT_TRUE(world->Data().faces.empty());
    EXPECT_TRUE(world->Pictures().textures.empty());
    EXPECT_TRUE(world->Pictures().lightmaps.empty());
    EXPECT_TRUE(world->Data().nodes.empty());
    EXPECT_FALSE(world->Unload());
}

TEST_F(WorldLoad, TheResourceManagerLoadsWorldsAsFormatThree) {
    BspBuilder::MinimalWorld().WriteTo("maps/test.lmf");
    CResourceManager manager;
    manager.Initialise();
    ASSERT_EQ(manager.FormatCount(), 5u);
    PrintCapture output;
    Resource* resource = manager.LoadResource("maps/test.lmf");
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(output.Lines().front(), "Loading resource (3), maps/test.lmf");
    World* world = dynamic_cast<World*>(resource);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(world->formatIndex, 3);
    EXPECT_EQ(manager.List(3).size(), 1u);
    delete world;
    EXPECT_TRUE(manager.List(3).empty());

    output.Clear();
    EXPECT_EQ(manager.LoadResource("maps/none.lmf"), nullptr);
    EXPECT_EQ(output.Last(), "Unable to load NULL resource");

    // The same file named .bsp, as the game's archives ship worlds.
    std::filesystem::copy_file("maps/test.lmf", "maps/test.bsp");
    output.Clear();
    std::unique_ptr<Resource> archived(manager.LoadResource("maps/test.bsp"));
    ASSERT_NE(dynamic_cast<World*>(archived.get()), nullptr);
    EXPECT_EQ(output.Lines().front(), "Loading resource (4), maps/test.bsp");
    EXPECT_EQ(manager.List(4).size(), 1u);

    CBSPFormat_t format;
    EXPECT_STREQ(format.Extension(), "lmf");
    EXPECT_EQ(format.Load(nullptr), nullptr);
    output.Clear();
    EXPECT_EQ(format.FormatWrite(nullptr, nullptr), 0);
    EXPECT_EQ(output.Lines(), (Lines{"Warning: CBSPFormat_t::FormatWrite is not implemented."}));
}

TEST(WorldLoadWithoutDevice, StopsBeforeBuildingBuffers) {
    ScratchFolder folder;
    ASSERT_TRUE(BspBuilder::MinimalWorld().WriteTo("maps/test.lmf"));
    PrintCapture output;
    World world;
    EXPECT_FALSE(world.Load("maps/test.lmf"));
    EXPECT_EQ(output.Last(), "Error: Unable to capture video driver");
    EXPECT_EQ(world.loaded, 0);
    EXPECT_EQ(world.Pictures().vertexBuffer, nullptr);
    EXPECT_TRUE(world.Data().faces.empty());
    EXPECT_FALSE(world.Unload());
}
