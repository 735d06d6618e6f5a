// A loaded world: the level's geometry in Direct3D buffers, its textures and
// lightmaps, its BSP tree, leaves, visibility rows, brushes and planes, ready
// for drawing and collision. Made by the world format through the resource
// manager and owned by the game subsystem.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "video/d3d9/d3dx9.h"
#include "video/resource_manager.h"
#include "world/bsp_format.h"
#include "world/entities.h"
#include "world/patch.h"

struct WorldTexture {
    IDirect3DTexture9* texture = nullptr;  // none when no image was found, directly or through its shader
    bool fromTga = false;
    // From the texture's shader script and surface flags: never drawn (no
    // surface, sky, fog, portal), and drawn by adding its light.
    bool hidden = false;
    bool additive = false;
};

// The world's sky box, when its sky shader names one: the images of the
// renderer's five sky faces, in the renderer's face order.
constexpr int kWorldSkyFaces = 5;

// The sphere the viewer collides as, and the sweep's constants.
constexpr float kTraceRadius = 25.0f;
constexpr float kTraceEpsilon = 0.03125f;
constexpr float kGroundProbe = 55.0f;
constexpr float kStepHeight = 25.0f;
constexpr int kSlideMoveLimit = 10;

class World : public Resource {
public:
    World();
    ~World() override;

    // Reads a world file; prints its progress and errors. A world broken in
    // its structure is rejected; faces with bad references are left out.
    virtual bool Load(const char* path);
    // Releases everything; false when the world never finished loading.
    virtual bool Unload();
    // One frame: physics, view, visible leaves, faces into the renderer's
    // caches. 1 when the frame was gathered.
    virtual int32_t Draw();
    // The free fraction of the segment for a sphere of radius 25; -1 when an
    // argument is missing or enabled is 0.
    virtual float Trace(const D3DXVECTOR3* start, const D3DXVECTOR3* end, int32_t enabled);

    // The sliding move of the physics step; see the collision code.
    bool SlideMove(const D3DXVECTOR3* start, const D3DXVECTOR3* end, D3DXVECTOR3* result, bool slide);
    // The physics step resets the shared call counter once per frame.
    void ResetSlideMoveCount() { slideMoveCalls = 0; }

    uint64_t SizeInBytes() const override;

    // Counts.
    uint32_t vertexCount = 0;
    uint32_t patchFaceCount = 0;

    // Lumps after the conversions; faces keep their patch index in
    // firstVertex for patch faces.
    std::vector<BspFace> faces;
    std::vector<int32_t> meshVertices;
    std::vector<PatchEntry> patches;  // one entry per patch face, in face order
    std::vector<BspTexture> textureRecords;
    // Where players start, from the entity text; may be empty.
    std::vector<SpawnPoint> spawnPoints;
    std::vector<BspNode> nodes;
    std::vector<BspLeaf> leaves;
    std::vector<int32_t> leafFaces;
    std::vector<BspPlane> planes;
    std::vector<BspBrush> brushes;
    std::vector<BspBrushSide> brushSides;
    std::vector<int32_t> leafBrushes;
    // One bit per face: drawn this frame.
    std::vector<uint8_t> faceDrawn;
    // Faces whose own references (vertex range, mesh range, indices, patch
    // grid) lie inside the file: 1, else 0 and never drawn.
    std::vector<uint8_t> faceUsable;
    // Each face's box (its vertices, or a patch's control points, which
    // enclose the surface), low corner then high, in drawing coordinates;
    // it orders the draws nearest first.
    std::vector<std::array<float, 6>> faceBounds;

    int32_t numClusters = 0;
    int32_t bytesPerCluster = 0;
    std::vector<uint8_t> visibility;  // empty: everything is visible

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    std::vector<WorldTexture> textures;
    std::vector<IDirect3DTexture9*> lightmaps;
    // The light of faces without a lightmap comes from their vertex colours;
    // this white texture stands in for their lightmap.
    IDirect3DTexture9* vertexLight = nullptr;
    // The sky box of the world's sky shader (all five or none), drawn
    // instead of the engine's own sky while the world is loaded.
    IDirect3DTexture9* sky[kWorldSkyFaces] = {};
    std::string skyName;  // the box's name, e.g. "env/space1"; empty without one

    int32_t loaded = 0;

    // The last trace's result.
    float traceFraction = 1.0f;
    D3DXVECTOR3 traceNormal{0.0f, 0.0f, 0.0f};
    int32_t slideMoveCalls = 0;

private:
    // Sweeps (collision).
    int32_t SweepNode(int32_t node, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                      float endFraction, int depth);
    int32_t SweepLeaf(int32_t leaf, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                      float endFraction);
    int32_t SweepBrush(int32_t brush, const D3DXVECTOR3& start, const D3DXVECTOR3& end, float startFraction,
                       float endFraction);
    bool BrushIsSolid(const BspBrush& brush) const;
    // Node visits left to the sweep under way; a tree visits each node at
    // most once, so only a broken one (shared or looping children) runs out.
    int32_t sweepNodeBudget = 0;
    // Hands one face to the renderer's caches (drawing); distance (to its
    // box) orders its draws (see RenderItem::distance).
    void GatherFace(size_t index, float distance);
    void ReleaseAll();
};

// Worlds come as "lmf" (the engine's own name for them) and as "bsp" (as the
// game's archives ship them); one format object per extension.
class CBSPFormat_t : public ResourceFormat {
public:
    explicit CBSPFormat_t(const char* extension = "lmf");
    Resource* Load(const char* path) override;
    int32_t FormatWrite(void* destination, const void* source) override;
};

// The deepest BSP tree a world may have; deeper trees are rejected at load so
// that the recursive sweep can never exhaust the stack.
constexpr int kMaxTreeDepth = 2048;
