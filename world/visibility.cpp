#include "world/visibility.h"

namespace {

float Distance(const BspPlane& plane, const D3DXVECTOR3& p) {
    return plane.normal[0] * p.x + plane.normal[1] * p.y + plane.normal[2] * p.z - plane.dist;
}

// The cluster of the leaf the point falls in; -1 when the tree names none.
int32_t FindCluster(const WorldData& world, const D3DXVECTOR3& point) {
    if (world.nodes.empty()) return -1;
    int32_t node = 0;
    // Every child index is greater than its parent's, so this ends within
    // as many steps as there are nodes.
    for (size_t steps = 0; steps <= world.nodes.size(); ++steps) {
        if (node < 0) {
            const size_t leaf = static_cast<size_t>(-(node + 1));
            return leaf < world.leaves.size() ? world.leaves[leaf].cluster : -1;
        }
        if (static_cast<size_t>(node) >= world.nodes.size()) return -1;
        const BspNode& n = world.nodes[static_cast<size_t>(node)];
        if (n.plane < 0 || static_cast<size_t>(n.plane) >= world.planes.size()) return -1;
        node = Distance(world.planes[static_cast<size_t>(n.plane)], point) >= 0.0f ? n.front : n.back;
    }
    return -1;
}

}  // namespace

int32_t ViewCluster(const WorldData& world, const D3DXVECTOR3& point) {
    const int32_t cluster = FindCluster(world, point);
    return cluster >= world.numClusters ? -1 : cluster;
}

bool PotentiallyVisible(const WorldData& world, int32_t viewCluster, int32_t leafCluster) {
    if (world.visibility.empty() || viewCluster < 0) return true;
    const size_t byte = static_cast<size_t>(viewCluster) * static_cast<size_t>(world.bytesPerCluster) +
                        static_cast<size_t>(leafCluster / 8);
    if (leafCluster / 8 >= world.bytesPerCluster || byte >= world.visibility.size()) return false;
    return (world.visibility[byte] & (1u << (leafCluster & 7))) != 0;
}
