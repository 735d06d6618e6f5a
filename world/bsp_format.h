// The world file: Quake III Arena's BSP format (magic "IBSP"), kept under the
// extension "lmf". Plain records that mirror the file byte for byte; all
// numbers little-endian. The file's space is Z up; loading exchanges Y and Z
// of vertex positions, plane normals and leaf bounds so that Y is up in
// memory.
#pragma once

#include <cstddef>
#include <cstdint>

enum BspLump : int {
    kLumpEntities = 0,
    kLumpTextures = 1,
    kLumpPlanes = 2,
    kLumpNodes = 3,
    kLumpLeaves = 4,
    kLumpLeafFaces = 5,
    kLumpLeafBrushes = 6,
    kLumpModels = 7,
    kLumpBrushes = 8,
    kLumpBrushSides = 9,
    kLumpVertices = 10,
    kLumpMeshVertices = 11,
    kLumpEffects = 12,
    kLumpFaces = 13,
    kLumpLightmaps = 14,
    kLumpLightVolumes = 15,
    kLumpVisibility = 16,
    kLumpCount = 17
};

struct BspHeader {
    char magic[4];  // "IBSP"
    int32_t version;
};

struct BspLumpEntry {
    int32_t offset;
    int32_t length;
};

struct BspTexture {
    char name[64];  // path without extension, "/" separators, NUL-padded
    int32_t surfaceFlags;
    int32_t contents;  // bit 0: brushes naming this texture are solid
};

struct BspPlane {
    float normal[3];
    float dist;
};

struct BspNode {
    int32_t plane;
    int32_t front;  // node index if >= 0, else leaf -(value + 1)
    int32_t back;
    int32_t mins[3];
    int32_t maxs[3];
};

struct BspLeaf {
    int32_t cluster;  // negative: none
    int32_t area;
    int32_t mins[3];
    int32_t maxs[3];
    int32_t firstLeafFace;
    int32_t numLeafFaces;
    int32_t firstLeafBrush;
    int32_t numLeafBrushes;
};

struct BspBrush {
    int32_t firstSide;
    int32_t numSides;
    int32_t texture;
};

struct BspBrushSide {
    int32_t plane;  // faces out of the brush
    int32_t texture;
};

struct BspVertex {
    float position[3];
    float texCoord[2];
    float lightmapCoord[2];
    float normal[3];
    uint8_t colour[4];
};

// A model: model 0 is the world itself, whose faces the leaves list; the
// others are the brush entities (doors, lifts, platforms), whose faces no
// leaf lists. Box in the file's space until loaded.
struct BspModel {
    float mins[3];
    float maxs[3];
    int32_t firstFace;
    int32_t numFaces;
    int32_t firstBrush;
    int32_t numBrushes;
};

enum BspFaceType : int32_t { kFacePolygon = 1, kFacePatch = 2, kFaceMesh = 3 };

struct BspFace {
    int32_t texture;
    int32_t effect;
    int32_t type;
    int32_t firstVertex;  // for a patch, replaced in memory by its patch index
    int32_t numVertices;
    int32_t firstMeshVertex;
    int32_t numMeshVertices;
    int32_t lightmap;  // negative: none
    int32_t lightmapStart[2];
    int32_t lightmapSize[2];
    float lightmapOrigin[3];
    float lightmapVectors[2][3];
    float normal[3];
    int32_t patchSize[2];  // control grid width and height (patches)
};

// A fog volume: the shader that draws it and the brush it fills. visibleSide
// is the brush side (counted from its first) seen from outside, or -1.
struct BspFog {
    char shader[64];  // NUL-padded, as texture names
    int32_t brush;
    int32_t visibleSide;
};

constexpr int kLightmapSize = 128;
constexpr size_t kLightmapBytes = kLightmapSize * kLightmapSize * 3;

static_assert(sizeof(BspHeader) == 8);
static_assert(sizeof(BspLumpEntry) == 8);
static_assert(sizeof(BspTexture) == 72);
static_assert(sizeof(BspPlane) == 16);
static_assert(sizeof(BspNode) == 36);
static_assert(sizeof(BspLeaf) == 48);
static_assert(sizeof(BspBrush) == 12);
static_assert(sizeof(BspBrushSide) == 8);
static_assert(sizeof(BspVertex) == 44);
static_assert(sizeof(BspFace) == 104);
static_assert(sizeof(BspModel) == 40);
static_assert(sizeof(BspFog) == 72);
static_assert(kLightmapBytes == 49152);
