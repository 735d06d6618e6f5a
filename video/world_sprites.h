// Faces whose shader turns them towards the eye (deformVertexes autosprite
// and autosprite2: flames, flares, beams): their quads are kept apart at
// load and written each frame, turned, into a vertex buffer of their own,
// which the renderer draws them from instead of the world's.
#pragma once

#include <cstdint>
#include <vector>

#include "video/d3d9/d3d9.h"
#include "video/materials.h"
#include "video/video_system.h"
#include "world/world_data.h"

constexpr uint32_t kNoSprite = 0xFFFFFFFFu;
// Quads past this many in one world are drawn as they lie.
constexpr uint32_t kMaxSpriteQuads = 16384;

struct WorldSprites {
    std::vector<GpuVertex> source;       // four per quad, as loaded
    std::vector<uint8_t> aroundAxis;     // per quad: turned about its long axis only
    std::vector<uint32_t> faceFirstQuad; // per face: its first quad, or kNoSprite
    std::vector<uint32_t> faceQuads;     // per face: how many
    std::vector<GpuVertex> turned;       // four per quad, this frame's
    IDirect3DVertexBuffer9* buffer = nullptr;

    uint32_t QuadCount() const { return static_cast<uint32_t>(aroundAxis.size()); }
};

// A quad (four corners in order around it) turned to face the eye:
// autosprite keeps its centre and size and faces the eye squarely, its
// image upright along `up`; autosprite2 (aroundLongAxis) keeps its long
// axis and turns about it. Texture coordinates and colours stay.
void TurnQuad(const GpuVertex* in, GpuVertex* out, bool aroundLongAxis, const float eye[3], const float up[3]);

// The quads of the faces whose texture's material turns them (polygons and
// meshes of a multiple of four vertices), and their buffer; a world
// without any has none. False only when the buffer cannot be made.
bool BuildWorldSprites(IDirect3DDevice9* device, const WorldData& data, const std::vector<Material>& materials,
                       WorldSprites* sprites);
// Turns every quad for this frame's eye and writes the buffer.
void TurnWorldSprites(WorldSprites* sprites, const float eye[3], const float up[3]);
void ReleaseWorldSprites(WorldSprites* sprites);
