// The visibility walk on records built in memory: which cluster a point is
// in, which clusters its row lets through, and which leaves a view volume
// keeps. No device: drawing's use of it is in world_draw_test.cpp.
#include <gtest/gtest.h>

#include <vector>

#include "world/visibility.h"

namespace {

int32_t Leaf(int32_t leaf) { return -(leaf + 1); }

// Two leaves split by the plane x = 0: leaf 0 (cluster 0) in front, leaf 1
// (cluster 1) behind; leaf 2 lies outside every cluster.
WorldData TwoRooms() {
    WorldData w;
    w.planes.push_back(BspPlane{{1, 0, 0}, 0});
    w.nodes.push_back(BspNode{0, Leaf(0), Leaf(1), {}, {}});
    for (int32_t cluster : {0, 1, -1}) {
        BspLeaf leaf{};
        leaf.cluster = cluster;
        leaf.mins[0] = cluster == 1 ? -100 : 0;
        leaf.maxs[0] = cluster == 1 ? 0 : 100;
        w.leaves.push_back(leaf);
    }
    return w;
}

std::vector<int32_t> VisibleClusters(const WorldData& w, const D3DXVECTOR3& eye, float lowestX = -1e9f) {
    std::vector<int32_t> seen;
    const auto inView = [lowestX](const D3DXVECTOR3&, const D3DXVECTOR3& high) { return high.x > lowestX; };
    ForEachVisibleLeaf(w, ViewCluster(w, eye), inView, [&seen](const BspLeaf& leaf) { seen.push_back(leaf.cluster); });
    return seen;
}

}  // namespace

TEST(Visibility, TheRowOfTheEyesClusterChoosesTheLeaves) {
    WorldData w = TwoRooms();
    EXPECT_EQ(ViewCluster(w, D3DXVECTOR3(50, 0, 0)), -1);  // no rows: every cluster is out of range
    EXPECT_EQ(VisibleClusters(w, D3DXVECTOR3(50, 0, 0)), (std::vector<int32_t>{0, 1}));

    // Cluster 0 sees only itself; cluster 1 sees both.
    w.numClusters = 2;
    w.bytesPerCluster = 1;
    w.visibility = {0x01, 0x03};
    EXPECT_EQ(ViewCluster(w, D3DXVECTOR3(50, 0, 0)), 0);
    EXPECT_EQ(ViewCluster(w, D3DXVECTOR3(-50, 0, 0)), 1);
    EXPECT_EQ(VisibleClusters(w, D3DXVECTOR3(50, 0, 0)), (std::vector<int32_t>{0}));
    EXPECT_EQ(VisibleClusters(w, D3DXVECTOR3(-50, 0, 0)), (std::vector<int32_t>{0, 1}));
    // The view volume has the last word.
    EXPECT_EQ(VisibleClusters(w, D3DXVECTOR3(-50, 0, 0), 10.0f), (std::vector<int32_t>{0}));
}

TEST(Visibility, DamagedRecordsSeeEverythingOrNothingButNeverReadOutside) {
    WorldData w = TwoRooms();
    w.numClusters = 2;
    w.bytesPerCluster = 1;
    w.visibility = {0x01};  // the second row is missing
    EXPECT_EQ(VisibleClusters(w, D3DXVECTOR3(-50, 0, 0)), (std::vector<int32_t>{}));
    EXPECT_FALSE(PotentiallyVisible(w, 0, 8));  // past the row's bytes

    // A node naming a missing plane or child ends the descent: no cluster.
    w.nodes[0].plane = 5;
    EXPECT_EQ(ViewCluster(w, D3DXVECTOR3(50, 0, 0)), -1);
    w.nodes[0] = BspNode{0, 7, Leaf(9), {}, {}};
    EXPECT_EQ(ViewCluster(w, D3DXVECTOR3(50, 0, 0)), -1);
    EXPECT_EQ(ViewCluster(w, D3DXVECTOR3(-50, 0, 0)), -1);
    w.nodes.clear();
    EXPECT_EQ(ViewCluster(w, D3DXVECTOR3(50, 0, 0)), -1);
}
