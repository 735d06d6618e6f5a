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
#include "video/shader_scripts.h"
#include "video/world_patches.h"
#include "world/world_data.h"

struct WorldTexture {
    IDirect3DTexture9* texture = nullptr;  // none when no image was found, directly or through its shader
    bool fromTga = false;
    // From the texture's shader script and surface flags: never drawn (no
    // surface, sky, fog, portal), and drawn by adding its light.
    bool hidden = false;
    bool additive = false;
    // The sides of its faces drawn while the world is culled.
    FaceSides sides = FaceSides::kFront;
};

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
    // The light of faces without a lightmap comes from their vertex colours;
    // this white texture stands in for their lightmap.
    IDirect3DTexture9* vertexLight = nullptr;
    // The sky box of the world's sky shader (all five or none), drawn
    // instead of the engine's own sky while the world is loaded.
    IDirect3DTexture9* sky[kWorldSkyFaces] = {};
    std::string skyName;  // the box's name, e.g. "env/space1"; empty without one
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
// Sets up the renderer's caches for the world's textures and hands it the
// world's sky; the last step of a load.
void UseWorldPictures(const WorldPictures& pictures);
// Releases everything and takes the world's sky back from the renderer.
void ReleaseWorldPictures(WorldPictures* pictures);
