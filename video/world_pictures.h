// A world's pictures: what the device draws it from, built from its records
// (world/world_data.h). The vertex and index buffers, the patches' buffers,
// a texture per texture record, the lightmaps, the white stand-in for faces
// lit by their vertices, the world's own sky box, and the renderer's caches
// set up for its textures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "video/d3d9/d3d9.h"
#include "video/materials.h"
#include "video/renderer.h"
#include "video/shader_scripts.h"
#include "video/world_patches.h"
#include "video/world_sprites.h"
#include "world/world_data.h"

struct WorldTexture {
    IDirect3DTexture9* texture = nullptr;  // none when no image was found, directly or through its shader
    std::string file;                      // the image file it came from; "" without one
    bool fromTga = false;
    // From the texture's shader script and surface flags: never drawn (no
    // surface, sky, fog, portal), and drawn by adding its light.
    bool hidden = false;
    bool additive = false;
    // Faces of this texture without a lightmap show their image at full
    // intensity when the worlds' own lighting is drawn (r_materials 1): the
    // texture has a shader script and none of its stages asks for the
    // vertex colours. Lava and other surfaces that give light are the
    // usual case.
    bool fullBright = false;
    // The sides of its faces drawn while the world is culled.
    FaceSides sides = FaceSides::kFront;
};

// The worlds' lightmaps and vertex colours are stored at a quarter of the
// light they mean: their light is the stored colour times four, scaled down
// as a whole (keeping its hue) where its brightest channel would pass 255.
constexpr int kStoredLightScale = 4;
void ScaleStoredLight(const uint8_t* rgb, uint8_t* out);

// The world's sky box, when its sky shader names one: the images of the
// renderer's five sky faces, in the renderer's face order.
constexpr int kWorldSkyFaces = 5;

struct WorldPictures {
    uint32_t vertexCount = 0;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    std::vector<PatchEntry> patches;  // one entry per patch face, in face order
    std::vector<WorldTexture> textures;
    std::vector<IDirect3DTexture9*> lightmaps;
    // The lightmaps at the light they mean (ScaleStoredLight per texel),
    // drawn instead of lightmaps while r_materials is 1. Same count.
    std::vector<IDirect3DTexture9*> scaledLightmaps;
    // The light of faces without a lightmap comes from their vertex colours;
    // this white texture stands in for their lightmap.
    IDirect3DTexture9* vertexLight = nullptr;
    // The stand-in lightmap of full-bright faces (WorldTexture::fullBright)
    // while r_materials is 1: white, with alpha 0 telling the world's pixel
    // shader to leave the vertex colours out.
    IDirect3DTexture9* fullBright = nullptr;
    // The sky box of the world's sky shader (all five or none), drawn
    // instead of the engine's own sky while the world is loaded.
    IDirect3DTexture9* sky[kWorldSkyFaces] = {};
    std::string skyName;  // the box's name, e.g. "env/space1"; empty without one
    // The cloud layers of the world's sky shader, each with its own image,
    // drawn over the box (or over black without one) while r_materials is 1.
    SkyLayer clouds[kMaxSkyLayers];
    int cloudCount = 0;
    float cloudHeight = 128.0f;
    // Per texture record: its material (stageCount 0 when it has none and
    // is drawn as image times lightmap), and the images the materials draw
    // beyond the records' own, held here (the records' own are shared).
    std::vector<Material> materials;
    std::vector<IDirect3DTexture9*> materialImages;
    // The quads of faces whose material turns them towards the eye.
    WorldSprites sprites;
    // Per fog of the world's records: its box and its shader's colour and
    // opaque distance (0 when the fog is not drawn).
    std::vector<FogVolume> fogVolumes;
    // One bit per face: handed to the renderer this frame.
    std::vector<uint8_t> faceDrawn;

    // The device memory held (and the frame's bits).
    uint64_t SizeInBytes() const;
};

// The steps of a world load on the device side, in the order a load runs
// them between the reading of the records; each prints its progress and,
// on failure, its line, and leaves what it made for ReleaseWorldPictures.
//   The vertex and index buffers and the patches' buffers.
bool BuildWorldGeometry(const WorldData& data, WorldPictures* pictures);
//   Textures (from the texture records' images or their shaders' images),
//   lightmaps, the vertex-light stand-in and the sky box.
bool BuildWorldSurfaces(const WorldData& data, WorldPictures* pictures);
//   The fog volumes: the fogs' boxes (after the tree is read) with their
//   shaders' colour and opaque distance; a fog whose volume was not found
//   or whose shader gives no distance is not drawn.
void BuildWorldFogs(const WorldData& data, WorldPictures* pictures);
// Sets up the renderer's caches for the world's textures and hands it the
// world's sky; the last step of a load.
void UseWorldPictures(const WorldPictures& pictures);
// Releases everything and takes the world's sky back from the renderer.
void ReleaseWorldPictures(WorldPictures* pictures);
