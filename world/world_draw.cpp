// One frame of world work: physics, the view, the camera's leaf, the leaves
// that are potentially visible and inside the frustum, and every face of
// those leaves handed once to the renderer's caches. Nothing is drawn here
// and nothing is allocated.
#include <algorithm>
#include <cstring>

#include "camera/camera.h"
#include "camera/physics.h"
#include "engine/demo_mode.h"
#include "base/message_output.h"
#include "video/renderer.h"
#include "video/video_system.h"
#include "world/world.h"
#include "world/world_cvars.h"

namespace {

float Distance(const BspPlane& plane, const D3DXVECTOR3& p) {
    return plane.normal[0] * p.x + plane.normal[1] * p.y + plane.normal[2] * p.z - plane.dist;
}

// The cluster the point is in; -1 when the tree names none (or is empty).
int32_t FindCluster(const World& world, const D3DXVECTOR3& point) {
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

bool PotentiallyVisible(const World& world, int32_t cameraCluster, int32_t leafCluster) {
    if (world.visibility.empty() || cameraCluster < 0) return true;
    const size_t byte = static_cast<size_t>(cameraCluster) * static_cast<size_t>(world.bytesPerCluster) +
                        static_cast<size_t>(leafCluster / 8);
    if (leafCluster / 8 >= world.bytesPerCluster || byte >= world.visibility.size()) return false;
    return (world.visibility[byte] & (1u << (leafCluster & 7))) != 0;
}

void SetFillMode(IDirect3DDevice9* device) {
    switch (cg_fillmode.intValue) {
        case 0: device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID); break;
        case 1: device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME); break;
        case 2: device->SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT); break;
        default: break;
    }
}

}  // namespace

int32_t World::Draw() {
    CVideoSystem* video = GetVideoSystem();
    IDirect3DDevice9* device = GetDevice();
    if (video == nullptr || device == nullptr) {
        PrintLine("Error drawing frame - unable to capture video device");
        return 0;
    }
    // Vertex lighting off gives back the picture of before the worlds' shader
    // scripts lit faces: no vertex-lit faces, and additive ones opaque.
    SetRenderCacheAdditiveDrawing(bsp_vertexlit.intValue != 0);
    Camera& camera = g_camera;
    if (bsp_noclip.intValue == 0) StepPhysics(this, &camera);
    if (CurrentDemoMode() != kDemoPlayback) camera.UpdateView(0.0f, 0.0f, 0.0f);

    std::memset(faceDrawn.data(), 0, faceDrawn.size());

    const D3DXVECTOR3 eye = camera.GetPosition();
    int32_t cameraCluster = FindCluster(*this, eye);
    // A cluster the visibility rows do not cover sees everything.
    if (cameraCluster >= numClusters) cameraCluster = -1;

    for (const BspLeaf& leaf : leaves) {
        // Leaves outside every cluster hold no faces in real worlds.
        if (leaf.cluster < 0) continue;
        if (!PotentiallyVisible(*this, cameraCluster, leaf.cluster)) continue;
        const D3DXVECTOR3 lo(static_cast<float>(leaf.mins[0]), static_cast<float>(leaf.mins[1]),
                             static_cast<float>(leaf.mins[2]));
        const D3DXVECTOR3 hi(static_cast<float>(leaf.maxs[0]), static_cast<float>(leaf.maxs[1]),
                             static_cast<float>(leaf.maxs[2]));
        if (!camera.BoxInFrustum(lo, hi)) continue;
        SetFillMode(device);

        for (int32_t i = 0; i < leaf.numLeafFaces; ++i) {
            const size_t face = static_cast<size_t>(leafFaces[static_cast<size_t>(leaf.firstLeafFace + i)]);
            uint8_t& bits = faceDrawn[face >> 3];
            const uint8_t bit = static_cast<uint8_t>(1u << (face & 7));
            if (bits & bit) continue;
            bits |= bit;
            // The face's nearest point to the eye orders its draws.
            const std::array<float, 6>& box = faceBounds[face];
            const float dx = std::max({box[0] - eye.x, 0.0f, eye.x - box[3]});
            const float dy = std::max({box[1] - eye.y, 0.0f, eye.y - box[4]});
            const float dz = std::max({box[2] - eye.z, 0.0f, eye.z - box[5]});
            GatherFace(face, dx * dx + dy * dy + dz * dz);
        }
    }
    return 1;
}

void World::GatherFace(size_t index, float distance) {
    const BspFace& face = faces[index];
    if (!faceUsable[index]) return;
    if (face.lightmap >= 0 && static_cast<size_t>(face.lightmap) >= lightmaps.size()) return;
    // The renderer refuses a texture index outside its lists.
    const uint32_t texture = static_cast<uint32_t>(face.texture);
    const bool textureKnown = texture < textures.size();
    IDirect3DTexture9* lightmap = nullptr;
    if (face.lightmap >= 0) {
        lightmap = lightmaps[static_cast<size_t>(face.lightmap)];
    } else {
        // Lit by its vertex colours, unless its shader keeps it out of
        // sight (no surface, sky, fog, portal).
        if (bsp_vertexlit.intValue == 0 || vertexLight == nullptr) return;
        if (textureKnown && textures[texture].hidden) return;
        lightmap = vertexLight;
    }
    const uint32_t flags = textureKnown && textures[texture].fromTga ? 1u : 0u;
    IDirect3DTexture9* surface = textureKnown ? textures[texture].texture : nullptr;

    switch (face.type) {
        case kFacePolygon:
        case kFaceMesh: {
            RenderItem* item = AllocateRenderItem(texture, flags);
            if (item == nullptr) return;
            // Polygons are drawn from their mesh vertices as well when they
            // have them: the compiler's planar faces are triangle sets
            // whose vertices need not run around a convex outline, and a
            // fan over them leaves holes and slivers.
            const bool mesh = face.type == kFaceMesh || face.numMeshVertices >= 3;
            item->vertexBuffer = vertexBuffer;
            item->indexBuffer = mesh ? indexBuffer : nullptr;
            item->primitiveType = mesh ? D3DPT_TRIANGLELIST : D3DPT_TRIANGLEFAN;
            item->surfaceTexture = surface;
            item->lightmapTexture = lightmap;
            item->startIndex = mesh ? face.firstMeshVertex : 0;
            item->baseVertex = face.firstVertex;
            item->spareCount = mesh ? face.numMeshVertices : face.numVertices;
            item->count = item->spareCount;
            item->distance = distance;
            break;
        }
        case kFacePatch: {
            const size_t patch = static_cast<size_t>(face.firstVertex);
            if (patch >= patches.size()) return;
            for (const SubPatch& sub : patches[patch].subPatches) {
                for (int strip = 0; strip < kPatchStripCount; ++strip) {
                    RenderItem* item = AllocateRenderItem(texture, flags);
                    if (item == nullptr) continue;
                    item->vertexBuffer = sub.vertexBuffer;
                    item->indexBuffer = sub.indexBuffer;
                    item->primitiveType = D3DPT_TRIANGLESTRIP;
                    item->surfaceTexture = surface;
                    item->lightmapTexture = lightmap;
                    item->startIndex = 0;
                    item->baseVertex = kPatchStripLength * strip;
                    item->spareCount = kPatchStripLength;
                    item->count = kPatchStripLength;
                    item->distance = distance;
                }
            }
            break;
        }
        default:
            break;
    }
}
