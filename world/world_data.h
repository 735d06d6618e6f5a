// A world as data: the records of a world file after the loader's checks
// and conversions, with nothing of the device in them. Drawing builds its
// buffers and textures from these; collision and visibility read them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "world/bsp_format.h"
#include "world/entities.h"
#include "world/fog.h"

struct WorldData {
    // Vertices with Y and Z exchanged (Y up), and per vertex whether its
    // colour lights it (1: drawn only by faces without a lightmap).
    std::vector<BspVertex> vertices;
    std::vector<uint8_t> vertexLit;
    // Faces as in the file; a patch face keeps its patch index (its place
    // among the patch faces, in face order) in firstVertex.
    std::vector<BspFace> faces;
    std::vector<int32_t> meshVertices;
    uint32_t patchFaceCount = 0;
    // Each patch face's first control point, in patch order.
    std::vector<int32_t> patchFirstVertex;
    // Faces whose own references (vertex range, mesh range, indices, patch
    // grid) lie inside the file: 1, else 0 and never drawn.
    std::vector<uint8_t> faceUsable;
    // Each face's box (its vertices, or a patch's control points, which
    // enclose the surface), low corner then high, in drawing coordinates;
    // it orders the draws nearest first.
    std::vector<std::array<float, 6>> faceBounds;
    std::vector<BspTexture> textureRecords;
    // The lightmaps as the file holds them: 128 x 128 RGB each, in order.
    std::vector<uint8_t> lightmapBytes;
    uint32_t lightmapCount = 0;

    // The tree, converted to Y up (leaf bounds, plane normals).
    std::vector<BspNode> nodes;
    std::vector<BspLeaf> leaves;
    std::vector<int32_t> leafFaces;
    std::vector<BspPlane> planes;
    std::vector<BspBrush> brushes;
    std::vector<BspBrushSide> brushSides;
    std::vector<int32_t> leafBrushes;

    int32_t numClusters = 0;
    int32_t bytesPerCluster = 0;
    std::vector<uint8_t> visibility;  // empty: everything is visible

    // The brush entities' models (every model after the world's own) whose
    // records are sound, box converted to Y up, in file order; their faces
    // lie inside faces. Drawn where the file puts them.
    std::vector<BspModel> models;

    // The fog volumes in file order; faces name them by index (FaceFog).
    // A fog whose brush or box could not be found stays, marked unusable.
    std::vector<WorldFog> fogs;

    // Where players start, from the entity text; may be empty.
    std::vector<SpawnPoint> spawnPoints;

    // Memory held by the records.
    uint64_t SizeInBytes() const;
    // Drops the vertices, the lightmaps and the patches' control points once
    // the device holds its copies.
    void ReleaseStaging();
};
