// Which parts of the world can be seen from a point: the cluster the point
// lies in, the clusters its row of the visibility data names, and of those
// leaves the ones whose box a view volume holds.
#pragma once

#include <cstdint>

#include "video/d3d9/d3dx9.h"
#include "world/world_data.h"

// The cluster the point is in; -1 when the tree names none (or is empty),
// and -1 as well for a cluster the visibility rows do not cover: such a
// point sees everything.
int32_t ViewCluster(const WorldData& world, const D3DXVECTOR3& point);

// Whether a leaf of leafCluster may be seen from viewCluster: always without
// visibility data or outside every cluster, else by the row's bit.
bool PotentiallyVisible(const WorldData& world, int32_t viewCluster, int32_t leafCluster);

// Calls visit(leaf) for each leaf, in order, that lies in a cluster visible
// from viewCluster and whose box inView(low, high) accepts. Leaves outside
// every cluster hold no faces in real worlds and are never visited.
template <typename InView, typename Visit>
void ForEachVisibleLeaf(const WorldData& world, int32_t viewCluster, const InView& inView, Visit&& visit) {
    for (const BspLeaf& leaf : world.leaves) {
        if (leaf.cluster < 0) continue;
        if (!PotentiallyVisible(world, viewCluster, leaf.cluster)) continue;
        const D3DXVECTOR3 low(static_cast<float>(leaf.mins[0]), static_cast<float>(leaf.mins[1]),
                              static_cast<float>(leaf.mins[2]));
        const D3DXVECTOR3 high(static_cast<float>(leaf.maxs[0]), static_cast<float>(leaf.maxs[1]),
                               static_cast<float>(leaf.maxs[2]));
        if (!inView(low, high)) continue;
        visit(leaf);
    }
}
