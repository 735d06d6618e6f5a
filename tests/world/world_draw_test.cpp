#include <gtest/gtest.h>

#include <algorithm>

#include "engine/game_system.h"
#include "engine/demo_mode.h"
#include "support/loaded_world.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"

namespace {

class WorldDraw : public LoadedWorld {
protected:
    void SetUp() override {
        LoadedWorld::SetUp();
        bsp_noclip.intValue = 1;  // no physics: the camera stays put
    }
    void TearDown() override {
        bsp_noclip.intValue = 0;
        bsp_vertexlit.intValue = 1;
        r_materials.intValue = 1;
        cg_fillmode.intValue = 0;
        SetDemoMode(kDemoIdle);
        g_renderer.EmptyCaches();
        LoadedWorld::TearDown();
    }

    // Looking down -Z from z = 200 at the world's origin.
    void Look() {
        g_camera.SetPosition(D3DXVECTOR3(0.0f, 50.0f, 200.0f));
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
    }

    uint32_t Used(uint32_t texture, bool tga = false) const {
        const RenderCacheSet& set = tga ? g_renderer.TgaSet() : g_renderer.MainSet();
        return texture < set.lists.size() ? set.lists[texture].used : 0;
    }
    const RenderItem& Item(uint32_t texture, uint32_t k) const {
        return g_renderer.MainSet().lists[texture].items[k];
    }
};

// Two leaves split at x = 0 that both list the same faces.
BspBuilder SharedFaces() {
    BspBuilder b = BspBuilder::MinimalWorld();
    b.Nodes().clear();
    b.Leaves().clear();
    b.LeafFaces().clear();
    b.LeafBrushes().clear();
    const int32_t plane = b.AddPlane(1, 0, 0, 0);
    b.AddLeaf(0, {{0, -10, -100}, {100, 10, 100}}, {0, 1}, {});
    b.AddLeaf(0, {{-100, -10, -100}, {0, 10, 100}}, {1, 0}, {});
    b.AddNode(plane, BspBuilder::LeafChild(0), BspBuilder::LeafChild(1));
    return b;
}

}  // namespace

TEST_F(WorldDraw, EachFaceIsGatheredOnceWithItsItemFields) {
    World* world = Load(SharedFaces());
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    Look();
    EXPECT_EQ(RunWorldFrame(&*world), 1);
    ASSERT_EQ(Used(0), 2u);

    const BspFace& polygon = world->Data().faces[0];
    const RenderItem& fan = Item(0, 0);
    EXPECT_EQ(fan.vertexBuffer, world->Pictures().vertexBuffer);
    EXPECT_EQ(fan.indexBuffer, nullptr);
    EXPECT_EQ(fan.primitiveType, D3DPT_TRIANGLEFAN);
    // The lightmap at the light it means (r_materials 1, the default), or
    // as stored.
    ASSERT_EQ(world->Pictures().scaledLightmaps.size(), world->Pictures().lightmaps.size());
    EXPECT_EQ(fan.lightmapTexture, world->Pictures().scaledLightmaps[0]);
    r_materials.intValue = 0;
    g_renderer.EmptyCaches();
    EXPECT_EQ(RunWorldFrame(&*world), 1);
    r_materials.intValue = 1;
    ASSERT_EQ(Used(0), 2u);
    EXPECT_EQ(fan.lightmapTexture, world->Pictures().lightmaps[0]);
    EXPECT_EQ(fan.surfaceTexture, nullptr);  // its image is missing
    EXPECT_EQ(fan.baseVertex, polygon.firstVertex);
    EXPECT_EQ(fan.count, polygon.numVertices);
    EXPECT_EQ(fan.spareCount, polygon.numVertices);

    const BspFace& mesh = world->Data().faces[1];
    const RenderItem& list = Item(0, 1);
    EXPECT_EQ(list.indexBuffer, world->Pictures().indexBuffer);
    EXPECT_EQ(list.primitiveType, D3DPT_TRIANGLELIST);
    EXPECT_EQ(list.startIndex, mesh.firstMeshVertex);
    EXPECT_EQ(list.baseVertex, mesh.firstVertex);
    EXPECT_EQ(list.count, mesh.numMeshVertices);

    // The renderer draws and empties the caches; the next frame gathers again.
    g_renderer.EmptyCaches();
    EXPECT_EQ(RunWorldFrame(&*world), 1);
    EXPECT_EQ(Used(0), 2u);
}

TEST_F(WorldDraw, FacesWithoutLightmapsOrOfOtherTypesNeverReachTheRenderer) {
    BspBuilder b = SharedFaces();
    b.Faces()[0].lightmap = -1;
    b.Faces()[1].lightmap = 5;  // only one lightmap exists
    BspFace odd = b.Faces()[0];
    odd.type = 4;
    odd.lightmap = 0;
    const int32_t oddIndex = b.AddFace(odd);
    b.Leaves()[0].numLeafFaces = 0;
    b.Leaves()[1].numLeafFaces = 0;
    b.LeafFaces().clear();
    b.Leaves()[0].firstLeafFace = 0;
    b.Leaves()[0].numLeafFaces = 3;
    b.AddLeafFace(0);
    b.AddLeafFace(1);
    b.AddLeafFace(oddIndex);
    World* world = Load(b);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    Look();
    bsp_vertexlit.intValue = 0;
    EXPECT_EQ(RunWorldFrame(&*world), 1);
    EXPECT_EQ(Used(0), 0u);

    // Lit by its vertex colours, the face without a lightmap is drawn, with
    // the world's white texture standing in for its lightmap; a lightmap
    // index past the lightmaps and an unknown type still draw nothing.
    bsp_vertexlit.intValue = 1;
    EXPECT_EQ(RunWorldFrame(&*world), 1);
    ASSERT_EQ(Used(0), 1u);
    EXPECT_EQ(Item(0, 0).lightmapTexture, world->Pictures().vertexLight);
    EXPECT_NE(world->Pictures().vertexLight, nullptr);
}

TEST_F(WorldDraw, PatchFacesBecomeEightStripsPerSubPatch) {
    BspBuilder b = BspBuilder::MinimalWorld();
    std::vector<BspVertex> points;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 5; ++c) points.push_back(BspBuilder::Vertex(c * 10.0f - 20.0f, 0.0f, r * 10.0f - 10.0f));
    }
    b.AddPatch(5, 3, points);  // two sub-patches side by side
    b.BuildSingleLeafTree();
    World* world = Load(b);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    Look();
    RunWorldFrame(&*world);
    // Polygon, mesh, then 2 x 8 strips.
    ASSERT_EQ(Used(0), 2u + 16u);
    const PatchEntry& patch = world->Pictures().patches[static_cast<size_t>(world->Data().faces[2].firstVertex)];
    ASSERT_EQ(patch.subPatches.size(), 2u);
    for (uint32_t k = 0; k < 16; ++k) {
        const RenderItem& strip = Item(0, 2 + k);
        EXPECT_EQ(strip.primitiveType, D3DPT_TRIANGLESTRIP);
        EXPECT_EQ(strip.vertexBuffer, patch.subPatches[k / 8].vertexBuffer);
        EXPECT_EQ(strip.indexBuffer, patch.subPatches[k / 8].indexBuffer);
        EXPECT_EQ(strip.baseVertex, static_cast<int32_t>(18 * (k % 8)));
        EXPECT_EQ(strip.count, 18);
    }
}

TEST_F(WorldDraw, VisibilityRowsAndTheFrustumChooseTheLeaves) {
    BspBuilder b = SharedFaces();
    // Leaf 0 (x >= 0) lists face 0 only, leaf 1 face 1 only, in clusters 0
    // and 1; cluster 0 sees itself, cluster 1 sees both.
    b.LeafFaces() = {0, 1};
    b.Leaves()[0].firstLeafFace = 0;
    b.Leaves()[0].numLeafFaces = 1;
    b.Leaves()[0].cluster = 0;
    b.Leaves()[1].firstLeafFace = 1;
    b.Leaves()[1].numLeafFaces = 1;
    b.Leaves()[1].cluster = 1;
    b.SetVisibility(2, 1, {0x01, 0x03});
    World* world = Load(b);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);

    g_camera.SetPosition(D3DXVECTOR3(50.0f, 50.0f, 200.0f));  // in leaf 0, cluster 0
    g_camera.ResetView(0.0f, 0.0f, 0.0f);
    RunWorldFrame(&*world);
    EXPECT_EQ(Used(0), 1u);
    EXPECT_EQ(Item(0, 0).primitiveType, D3DPT_TRIANGLEFAN);
    g_renderer.EmptyCaches();

    g_camera.SetPosition(D3DXVECTOR3(-50.0f, 50.0f, 200.0f));  // in leaf 1, cluster 1
    g_camera.ResetView(0.0f, 0.0f, 0.0f);
    RunWorldFrame(&*world);
    EXPECT_EQ(Used(0), 2u);
    g_renderer.EmptyCaches();

    // Turned around, nothing lies in the frustum.
    g_camera.ResetView(180.0f, 0.0f, 0.0f);
    RunWorldFrame(&*world);
    EXPECT_EQ(Used(0), 0u);
}

TEST_F(WorldDraw, ClustersOutsideTheRowsSeeEverythingAndNegativeLeavesAreSkipped) {
    BspBuilder b = SharedFaces();
    b.LeafFaces() = {0, 1};
    b.Leaves()[0].firstLeafFace = 0;
    b.Leaves()[0].numLeafFaces = 1;
    b.Leaves()[0].cluster = 7;  // beyond the two clusters the rows cover
    b.Leaves()[1].firstLeafFace = 1;
    b.Leaves()[1].numLeafFaces = 1;
    b.Leaves()[1].cluster = 1;
    b.SetVisibility(2, 1, {0x00, 0x00});  // nobody sees anything
    World* world = Load(b);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    g_camera.SetPosition(D3DXVECTOR3(50.0f, 50.0f, 200.0f));  // camera cluster 7
    g_camera.ResetView(0.0f, 0.0f, 0.0f);
    RunWorldFrame(&*world);
    EXPECT_EQ(Used(0), 2u);  // the camera's cluster is beyond the rows: it sees everything
    g_renderer.EmptyCaches();

    world->Data().leaves[1].cluster = -1;
    RunWorldFrame(&*world);
    EXPECT_EQ(Used(0), 1u);
}

TEST_F(WorldDraw, FillModeFollowsTheVariable) {
    World* world = Load(SharedFaces());
    ASSERT_NE(world, nullptr);
    Look();
    std::vector<std::string> trace;
    D3D9SetTrace(GetDevice(), &trace);
    cg_fillmode.intValue = 1;
    RunWorldFrame(&*world);
    cg_fillmode.intValue = 3;
    RunWorldFrame(&*world);
    D3D9SetTrace(GetDevice(), nullptr);
    const auto wireframe = std::count(trace.begin(), trace.end(), "SetRenderState(D3DRS_FILLMODE, 2)");
    EXPECT_EQ(wireframe, 2);  // two visible leaves in the first frame, none set in the second
    EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                            [](const std::string& l) { return l.rfind("SetRenderState(D3DRS_FILLMODE", 0) == 0; }),
              2);
}

TEST_F(WorldDraw, PlaybackLeavesTheViewToTheDemo) {
    World* world = Load(SharedFaces());
    ASSERT_NE(world, nullptr);
    Look();
    g_camera.Position().x = 10.0f;  // moved since the last view update
    SetDemoMode(kDemoPlayback);
    RunWorldFrame(&*world);
    EXPECT_EQ(g_camera.GetPreviousPosition().x, 0.0f);
    SetDemoMode(kDemoIdle);
    RunWorldFrame(&*world);
    EXPECT_EQ(g_camera.GetPreviousPosition().x, 10.0f);
}

TEST_F(WorldDraw, PolygonsWithMeshVerticesAreDrawnAsTriangleLists) {
    // A planar face the map compiler triangulated: its vertices need not run
    // around its outline, so a fan over them would leave holes.
    BspBuilder b = SharedFaces();
    b.Faces()[0].firstMeshVertex = b.Faces()[1].firstMeshVertex;
    b.Faces()[0].numMeshVertices = 3;
    World* world = Load(b);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    Look();
    RunWorldFrame(&*world);
    ASSERT_EQ(Used(0), 2u);
    const RenderItem& polygon = Item(0, 0);
    EXPECT_EQ(polygon.primitiveType, D3DPT_TRIANGLELIST);
    EXPECT_EQ(polygon.indexBuffer, world->Pictures().indexBuffer);
    EXPECT_EQ(polygon.startIndex, world->Data().faces[0].firstMeshVertex);
    EXPECT_EQ(polygon.baseVertex, world->Data().faces[0].firstVertex);
    EXPECT_EQ(polygon.count, 3);
}
