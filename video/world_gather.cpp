#include "video/world_gather.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "camera/camera.h"
#include "base/message_output.h"
#include "video/renderer.h"
#include "video/video_cvars.h"
#include "video/video_system.h"
#include "world/fog.h"
#include "world/visibility.h"
#include "world/world_cvars.h"

namespace {

void SetFillMode(IDirect3DDevice9* device) {
    switch (cg_fillmode.intValue) {
        case 0: device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID); break;
        case 1: device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME); break;
        case 2: device->SetRenderState(D3DRS_FILLMODE, D3DFILL_POINT); break;
        default: break;
    }
}

// Hands one face to the renderer's caches; distance (to its box) orders
// its draws (see RenderItem::distance).
void GatherFace(const WorldData& data, const WorldPictures& pictures, size_t index, float distance) {
    const BspFace& face = data.faces[index];
    if (!data.faceUsable[index]) return;
    if (face.lightmap >= 0 && static_cast<size_t>(face.lightmap) >= pictures.lightmaps.size()) return;
    // The renderer refuses a texture index outside its lists.
    const uint32_t texture = static_cast<uint32_t>(face.texture);
    const bool textureKnown = texture < pictures.textures.size();
    // The worlds' own light: lightmaps and vertex colours at the light they
    // mean, and self-lit faces at full intensity.
    const bool materials = r_materials.intValue != 0;
    IDirect3DTexture9* lightmap = nullptr;
    if (face.lightmap >= 0) {
        const size_t map = static_cast<size_t>(face.lightmap);
        lightmap = materials && map < pictures.scaledLightmaps.size() ? pictures.scaledLightmaps[map]
                                                                      : pictures.lightmaps[map];
    } else {
        // Lit by its vertex colours, unless its shader keeps it out of
        // sight (no surface, sky, fog, portal).
        if (bsp_vertexlit.intValue == 0 || pictures.vertexLight == nullptr) return;
        if (textureKnown && pictures.textures[texture].hidden) return;
        lightmap = pictures.vertexLight;
        if (materials && textureKnown && pictures.textures[texture].fullBright && pictures.fullBright != nullptr) {
            lightmap = pictures.fullBright;
        }
    }
    const uint32_t flags = textureKnown && pictures.textures[texture].fromTga ? 1u : 0u;
    // Faces in a drawn fog volume get its fog over them as well.
    uint32_t fogVolume = 0;
    if (materials) {
        const int32_t fog = FaceFog(data, index);
        if (fog >= 0 && static_cast<size_t>(fog) < pictures.fogVolumes.size() &&
            pictures.fogVolumes[static_cast<size_t>(fog)].opaqueDistance > 0.0f) {
            fogVolume = static_cast<uint32_t>(fog) + 1;
        }
    }
    IDirect3DTexture9* surface = textureKnown ? pictures.textures[texture].texture : nullptr;

    // Quads turned towards the eye come from the sprites' buffer, a fan each.
    if (materials && index < pictures.sprites.faceFirstQuad.size() &&
        pictures.sprites.faceFirstQuad[index] != kNoSprite && pictures.sprites.buffer != nullptr) {
        const uint32_t first = pictures.sprites.faceFirstQuad[index];
        for (uint32_t q = 0; q < pictures.sprites.faceQuads[index]; ++q) {
            RenderItem* item = AllocateRenderItem(texture, flags);
            if (item == nullptr) return;
            item->vertexBuffer = pictures.sprites.buffer;
            item->indexBuffer = nullptr;
            item->primitiveType = D3DPT_TRIANGLEFAN;
            item->surfaceTexture = surface;
            item->lightmapTexture = lightmap;
            item->baseVertex = static_cast<int32_t>(4 * (first + q));
            item->spareCount = 4;
            item->count = 4;
            item->distance = distance;
            item->fogVolume = fogVolume;
            if (fogVolume != 0) g_renderer.AddFogItem(*item);
        }
        return;
    }
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
            item->vertexBuffer = pictures.vertexBuffer;
            item->indexBuffer = mesh ? pictures.indexBuffer : nullptr;
            item->primitiveType = mesh ? D3DPT_TRIANGLELIST : D3DPT_TRIANGLEFAN;
            item->surfaceTexture = surface;
            item->lightmapTexture = lightmap;
            item->startIndex = mesh ? face.firstMeshVertex : 0;
            item->baseVertex = face.firstVertex;
            item->spareCount = mesh ? face.numMeshVertices : face.numVertices;
            item->count = item->spareCount;
            item->distance = distance;
            if (mesh) {
                item->sourceIndices = data.meshVertices.data();
                item->sourceIndexCount = static_cast<uint32_t>(data.meshVertices.size());
            }
            item->fogVolume = fogVolume;
            if (fogVolume != 0) g_renderer.AddFogItem(*item);
            break;
        }
        case kFacePatch: {
            const size_t patch = static_cast<size_t>(face.firstVertex);
            if (patch >= pictures.patches.size()) return;
            for (const SubPatch& sub : pictures.patches[patch].subPatches) {
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
                    item->fogVolume = fogVolume;
                    if (fogVolume != 0) g_renderer.AddFogItem(*item);
                }
            }
            break;
        }
        default:
            break;
    }
}

// The face, unless this frame has gathered it already.
void GatherOnce(const WorldData& data, WorldPictures* pictures, size_t face, const D3DXVECTOR3& eye) {
    uint8_t& bits = pictures->faceDrawn[face >> 3];
    const uint8_t bit = static_cast<uint8_t>(1u << (face & 7));
    if (bits & bit) return;
    bits |= bit;
    // The face's nearest point to the eye orders its draws.
    const std::array<float, 6>& box = data.faceBounds[face];
    const float dx = std::max({box[0] - eye.x, 0.0f, eye.x - box[3]});
    const float dy = std::max({box[1] - eye.y, 0.0f, eye.y - box[4]});
    const float dz = std::max({box[2] - eye.z, 0.0f, eye.z - box[5]});
    GatherFace(data, *pictures, face, dx * dx + dy * dy + dz * dz);
}

}  // namespace

int32_t GatherWorld(const WorldData& data, WorldPictures* pictures, const Camera& camera) {
    CVideoSystem* video = GetVideoSystem();
    IDirect3DDevice9* device = GetDevice();
    if (video == nullptr || device == nullptr) {
        PrintLine("Error drawing frame - unable to capture video device");
        return 0;
    }
    // Vertex lighting off gives back the picture of before the worlds' shader
    // scripts lit faces: no vertex-lit faces, and additive ones opaque.
    SetRenderCacheAdditiveDrawing(bsp_vertexlit.intValue != 0);

    // Drawn as the shader scripts say: faces culled to their sides, and the
    // brush entities.
    const bool materials = r_materials.intValue != 0;
    SetRenderCacheCulling(materials);
    g_renderer.SetMaterialDrawing(materials);

    std::memset(pictures->faceDrawn.data(), 0, pictures->faceDrawn.size());
    const D3DXVECTOR3 eye = camera.GetPosition();
    if (materials && pictures->sprites.buffer != nullptr) {
        const float eyeAt[3] = {eye.x, eye.y, eye.z};
        const D3DXVECTOR3& up = camera.Up();
        const float upAt[3] = {up.x, up.y, up.z};
        TurnWorldSprites(&pictures->sprites, eyeAt, upAt);
    }
    const auto inFrustum = [&camera](const D3DXVECTOR3& low, const D3DXVECTOR3& high) {
        return camera.BoxInFrustum(low, high);
    };
    ForEachVisibleLeaf(data, ViewCluster(data, eye), inFrustum, [&](const BspLeaf& leaf) {
        SetFillMode(device);
        for (int32_t i = 0; i < leaf.numLeafFaces; ++i) {
            GatherOnce(data, pictures, static_cast<size_t>(data.leafFaces[static_cast<size_t>(leaf.firstLeafFace + i)]),
                       eye);
        }
    });
    if (!materials) return 1;
    // The brush entities, where the file puts them: no leaf lists their faces.
    for (const BspModel& model : data.models) {
        if (!camera.BoxInFrustum(D3DXVECTOR3(model.mins[0], model.mins[1], model.mins[2]),
                                 D3DXVECTOR3(model.maxs[0], model.maxs[1], model.maxs[2]))) {
            continue;
        }
        for (int32_t i = 0; i < model.numFaces; ++i) {
            GatherOnce(data, pictures, static_cast<size_t>(model.firstFace + i), eye);
        }
    }
    return 1;
}
