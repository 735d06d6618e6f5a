// The renderer: draws every frame. World drawing fills its per-texture caches
// of render items during the game frame; the renderer's own frame, later in
// the same engine frame, draws the sky and those items through the render
// path chosen by vid_effectmode, then the overlay, then presents.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "base/subsystem.h"
#include "video/d3d9/d3d9.h"
#include "video/materials.h"
#include "video/post_process.h"
#include "video/shader_scripts.h"
#include "video/video_system.h"

// One draw of world geometry, filled by world drawing.
struct RenderItem {
    IDirect3DVertexBuffer9* vertexBuffer;  // not owned
    IDirect3DIndexBuffer9* indexBuffer;    // not owned; may be null
    int32_t primitiveType;                 // list, strip or fan
    IDirect3DTexture9* surfaceTexture;     // only a list's first item is consulted
    IDirect3DTexture9* lightmapTexture;
    int32_t startIndex;
    int32_t baseVertex;                    // base vertex (lists, strips) or first vertex (fans)
    int32_t spareCount;
    int32_t count;                         // below 1 ends the list
    // How far the item lies from the eye (squared, any unit that orders):
    // opaque items are drawn nearest first so that the depth test spares
    // the shading of what they hide. 0 when unknown.
    float distance;
    // The index buffer's contents as the caller keeps them (32-bit), so that
    // merged draws read them without locking the buffer; null when the
    // caller keeps none, and then the item is drawn on its own.
    const int32_t* sourceIndices;
    uint32_t sourceIndexCount;
    // 1 + the fog volume (SetFogVolumes) the face lies in; 0 for none.
    uint32_t fogVolume;
};

// A volume of fog: what lies inside its box is hidden by its colour in
// proportion to how much of the way from the eye to it runs through the
// box, entirely at opaqueDistance.
struct FogVolume {
    float bounds[6];  // low corner, then high
    float colour[3];
    float opaqueDistance;
};
constexpr uint32_t kMaxFogVolumes = 256;
constexpr uint32_t kFogItemCapacity = 8192;

// The items of one texture: preallocated, handed out by bumping a counter.
struct RenderList {
    std::vector<RenderItem> items;
    uint32_t capacity = 0;
    uint32_t used = 0;
};

struct RenderCacheSet {
    std::vector<RenderList> lists;
};

constexpr uint32_t kTgaListCapacity = 1024;
constexpr uint32_t kMainListCapacity = 4096;
constexpr int kSkyFaceCount = 5;
// Merged draws: within one texture list, items that share vertex buffer and
// lightmap are drawn together as one triangle list whose indices are built
// each frame into one dynamic index buffer. A list's items are grouped by
// vertex buffer and lightmap first (the depth test makes their order within
// one texture free); groups smaller than kBatchMinItems are drawn item by
// item, and so is what does not fit the buffer or the tables below.
constexpr uint32_t kBatchIndexCapacity = 1u << 18;
constexpr uint32_t kBatchRunCapacity = 16384;
constexpr uint32_t kBatchOrderCapacity = 65536;
constexpr uint32_t kBatchMinItems = 2;
constexpr uint32_t kNoBatchOrder = 0xFFFFFFFFu;

// Opaque draws are put in order, nearest first, this many at a time.
constexpr uint32_t kDrawUnitCapacity = 32768;
constexpr uint32_t kNoBatchRun = 0xFFFFFFFFu;

// One draw of the world: positions first..end-1 of list `list` in its
// drawing order, merged as batch run `batch` or a single item (kNoBatchRun).
struct DrawUnit {
    float distance;  // the nearest of its items
    uint32_t list;
    uint32_t first;
    uint32_t end;
    uint32_t batch;
};

// One merged draw: positions first..end-1 of list `list` in drawing order.
struct BatchRun {
    uint32_t list;
    uint32_t first;
    uint32_t end;
    uint32_t startIndex;  // in the batch index buffer
    uint32_t triangles;
    uint32_t lowestVertex;
    uint32_t highestVertex;
};

constexpr float kSkyHalfSize = 100000.0f;
// The constant register (vertex and pixel stage) that switches the world's
// shaders to the worlds' own light scale; see shaders.hlsl.
constexpr uint32_t kLightScaleRegister = 4;

// A cloud layer of the world's sky shader: one image drawn over the sky box
// on a dome around the eye, blended onto what is behind it and moving with
// the frame clock.
constexpr int kMaxSkyLayers = 8;
struct SkyLayer {
    IDirect3DTexture9* texture = nullptr;
    BlendFactor sourceFactor = BlendFactor::kOne;
    BlendFactor destinationFactor = BlendFactor::kZero;
    TexCoordMotion motions[ShaderScriptStage::kMaxMotions];
    int motionCount = 0;
    float colour[3] = {1.0f, 1.0f, 1.0f};
    float alpha = 1.0f;
};

// The cloud dome: rings from the top of the sky down to below the horizon,
// each a strip of segments around it.
constexpr int kCloudRings = 12;
constexpr int kCloudSegments = 32;
// Beyond any world (their coordinates stay within +-65536), inside the box.
constexpr float kCloudDomeRadius = kSkyHalfSize * 0.9f;
// How far below the eye the centre of the clouds' sphere lies: the clouds
// are a shell cloudHeight thick over a ball of this radius, so that they
// curve down to the horizon.
constexpr float kCloudGroundRadius = 1024.0f;
// World units of cloud surface one repeat of a layer's image covers.
constexpr float kCloudImageSpan = 1024.0f;

// A layer's texture coordinates at a time: s' = scaleS * s + offsetS, and
// the same for t, with the offsets brought into [0, 1) since the images
// repeat.
struct SkyLayerTransform {
    float scaleS = 1.0f;
    float scaleT = 1.0f;
    float offsetS = 0.0f;
    float offsetT = 0.0f;
};
SkyLayerTransform SkyLayerTransformAt(const SkyLayer& layer, double milliseconds);
// The texture coordinates where the ray from the eye along direction (unit,
// Y up) meets the cloud shell cloudHeight above the eye.
void CloudTexCoord(const float direction[3], float cloudHeight, float* s, float* t);

class CRenderer : public Subsystem, private PostProcessScene {
public:
    CRenderer();
    ~CRenderer() override;

    int32_t frame() override;
    void shutdown(int32_t reason) override;

    // Replaces both cache sets with lists for count textures.
    void SetupRenderCaches(uint32_t textureCount);
    // A cleared item of the texture's list (bit 0 of flags: the tga set), or
    // null when there is no room or no such list.
    RenderItem* AllocateRenderItem(uint32_t textureIndex, uint32_t flags);

    // Forgets every gathered item, as drawing a frame does.
    void EmptyCaches();
    // The texture's items are drawn after all others, adding their light
    // to what is behind them without hiding it. Reset by SetupRenderCaches.
    void SetAdditive(uint32_t textureIndex);
    // With additive drawing off, the textures marked additive are drawn with
    // the opaque world like every other: the picture of worlds drawn without
    // their shader scripts' lighting. On until switched off.
    void SetAdditiveDrawing(bool on) { additiveDrawing_ = on; }
    bool IsAdditive(uint32_t textureIndex) const {
        return additiveDrawing_ && textureIndex < additive_.size() && additive_[textureIndex] != 0;
    }

    // The texture's material (kept by the caller until replaced), drawn
    // stage by stage while material drawing is on; null draws its faces as
    // image times lightmap. Reset by SetupRenderCaches.
    void SetMaterial(uint32_t textureIndex, const Material* material);
    // With material drawing off every texture is drawn as image times
    // lightmap, as before materials. Off until switched on.
    void SetMaterialDrawing(bool on) { materialDrawing_ = on; }
    // The world's fog volumes (copied; at most kMaxFogVolumes); a count of 0
    // drops them. Faces in fog are gathered twice: as any face, and with
    // AddFogItem, for the fog drawn over them after the rest of the world.
    void SetFogVolumes(const FogVolume* volumes, uint32_t count);
    void AddFogItem(const RenderItem& item);
    uint32_t FogVolumeCount() const { return fogVolumeCount_; }
    // Forgets every texture's material, before their owner lets them go.
    void ForgetMaterials() {
        std::fill(materials_.begin(), materials_.end(), nullptr);
        materialCount_ = 0;
    }
    bool HasMaterial(uint32_t textureIndex) const {
        return materialDrawing_ && stageShadersReady_ && textureIndex < materials_.size() &&
               materials_[textureIndex] != nullptr;
    }

    // The sides of the texture's faces drawn while culling is on; the front
    // until set. Reset by SetupRenderCaches.
    void SetFaceSides(uint32_t textureIndex, FaceSides sides);
    FaceSides Sides(uint32_t textureIndex) const {
        return textureIndex < sides_.size() ? static_cast<FaceSides>(sides_[textureIndex]) : FaceSides::kFront;
    }
    // With culling on, the world's faces are drawn only from the sides their
    // texture's shader names, and the cull mode is put back after the world;
    // off, every face is drawn from both sides without touching the cull
    // mode, as worlds were always drawn. Off until switched on.
    void SetCulling(bool on) { culling_ = on; }
    bool Culling() const { return culling_; }

    // The loaded world's own sky box (five images in the sky's face order),
    // drawn instead of the engine's sky; null goes back to the engine's.
    // The renderer keeps a reference to each image until it is replaced.
    void SetWorldSky(IDirect3DTexture9* const* faces);
    // Goes back to the engine's sky when faces is the world sky in use.
    void ForgetWorldSky(IDirect3DTexture9* const* faces);
    bool HasWorldSky() const { return worldSky_[0] != nullptr; }
    // The cloud layers of the world's sky shader (at most kMaxSkyLayers),
    // drawn over its box, or over black when it has none, while r_materials
    // is 1. The renderer keeps a reference to each image until replaced;
    // count 0 drops them.
    void SetWorldClouds(const SkyLayer* layers, int count, float cloudHeight);
    // Drops the clouds when layers are the ones in use.
    void ForgetWorldClouds(const SkyLayer* layers);
    int WorldCloudCount() const { return cloudCount_; }
    const GpuVertex* WorldSkyFace(int face) const { return worldSkyVertices_[face]; }

    // Creates the post-process targets at the window's size (moving the
    // full-screen quad by half a pixel), then loads the sky faces and the
    // loading image on the new device.
    void CreateImages(IDirect3DDevice9* device);
    // Lets go of the targets and images, before their device goes.
    void ReleaseImages();
    // New post-process targets (and full-screen quad) for a back buffer of
    // a new size; the images stay.
    void ResizeTargets(IDirect3DDevice9* device, int32_t width, int32_t height);
    // The loading screen with one line of text.
    void ShowLoadingScreen(const char* text);

    const RenderCacheSet& TgaSet() const { return tgaSet_; }
    const RenderCacheSet& MainSet() const { return mainSet_; }
    // Render items drawn in the last frame, each once however many passes
    // drew it.
    uint32_t ItemsDrawn() const { return itemsDrawn_; }
    const GpuVertex* FullScreenQuad() const { return quad_; }
    const GpuVertex* SkyFace(int face) const { return sky_[face]; }
    IDirect3DTexture9* SkyTexture(int face) const { return skyTextures_[face]; }
    IDirect3DTexture9* LoadingImage() const { return loadingImage_; }
    const PostProcess& Effects() const { return postProcess_; }
    // Benchmarks: the device counts the pixels each frame's world draw at
    // the screen's size writes (D3D9CountSamples), which waits for the draw.
    void CountWorldSamples(bool on) { countWorldSamples_ = on; }
    // The dynamic index buffer that merged draws read; null without a device.
    IDirect3DIndexBuffer9* BatchIndices() const { return batchIndices_; }

private:
    int32_t DrawFrame();
    // The quad's corners, moved half a pixel for a width x height target
    // (not moved for a size of 0).
    void SetQuad(int32_t width, int32_t height);
    void DrawSky(IDirect3DDevice9* device) override;
    void DrawClouds(IDirect3DDevice9* device);
    // The clouds DrawSky left for after the opaque world, with the shaders
    // and texture of the moment put back (DrawClouds puts back its states).
    void DrawPendingClouds(IDirect3DDevice9* device);
    void DrawCaches(IDirect3DDevice9* device, bool empty) override;
    // The opaque lists of both sets, then the materials, then the additive
    // ones.
    void DrawWorld(IDirect3DDevice9* device, bool empty);
    // Whether the texture's list is drawn with the opaque world (additive
    // false) or the additive one: neither when it has a material.
    bool InPhase(uint32_t textureIndex, bool additive) const {
        return !HasMaterial(textureIndex) && IsAdditive(textureIndex) == additive;
    }
    // The lists with materials, in the order of their sort, opaque ones
    // nearest first and the others farthest first, stage by stage.
    void DrawMaterials(IDirect3DDevice9* device, bool empty);
    // The fog over the faces in fog volumes, farthest first.
    void DrawFog(IDirect3DDevice9* device, bool empty);
    // Compiles the stage shaders on first use; false when they are missing.
    bool PrepareStageShaders(IDirect3DDevice9* device);
    // One run of items of one material, every stage over all of them.
    void DrawMaterialRun(IDirect3DDevice9* device, uint32_t first, uint32_t end, bool bright, bool countItems);
    // One item as it is (no state set).
    static bool DrawItem(IDirect3DDevice9* device, const RenderItem& item);
    void DrawFullScreenQuad() override;
    void DrawNoEffect(IDirect3DDevice9* device);
    // Draws the lists of the set whose additive flag equals additive.
    void DrawCacheSet(IDirect3DDevice9* device, RenderCacheSet* set, bool empty, bool mainSet, bool additive);
    // Puts the items of the set's lists (those whose additive flag equals
    // additive) in drawing order, finds the runs worth one draw each and
    // writes their indices into the batch index buffer; the runs go to
    // batchRuns_, in drawing order.
    void PlanBatches(const RenderCacheSet& set, bool additive);
    // Draws units [0, count) of drawUnits_, nearest first unless additive;
    // countItems adds their items to itemsDrawn_.
    void DrawUnits(IDirect3DDevice9* device, const RenderCacheSet& set, uint32_t count, bool additive,
                   bool countItems);
    // The item drawn at position pos of list t (its order from PlanBatches).
    const RenderItem& ItemAt(const RenderList& list, size_t t, uint32_t pos) const {
        const uint32_t start = batchOrderStart_[t];
        return start != kNoBatchOrder && pos < batchOrderCount_[t] ? list.items[batchOrder_[start + pos]]
                                                                  : list.items[pos];
    }

    RenderCacheSet tgaSet_;
    RenderCacheSet mainSet_;
    uint32_t itemsDrawn_ = 0;
    bool countWorldSamples_ = false;
    bool worldDrawn_ = false;  // this frame has drawn the caches once
    GpuVertex quad_[4];
    GpuVertex sky_[kSkyFaceCount][4];
    IDirect3DTexture9* skyTextures_[kSkyFaceCount] = {};
    IDirect3DTexture9* worldSky_[kSkyFaceCount] = {};
    GpuVertex worldSkyVertices_[kSkyFaceCount][4];
    GpuVertex blackSky_[kSkyFaceCount][4];  // the box's faces in black, behind clouds without a box
    SkyLayer clouds_[kMaxSkyLayers];
    int cloudCount_ = 0;
    bool cloudsPending_ = false;  // DrawSky left them for the world's draw
    // Per dome point: the direction from the eye and the texture coordinates
    // of the cloud shell there, before a layer's transform.
    float cloudDirections_[kCloudRings + 1][kCloudSegments + 1][3];
    float cloudCoords_[kCloudRings + 1][kCloudSegments + 1][2];
    GpuVertex cloudStrip_[2 * (kCloudSegments + 1)];
    IDirect3DPixelShader9* cloudPs_ = nullptr;  // sky_layer_ps; sky_main_ps stands in without it
    bool cloudPsTried_ = false;
    std::vector<uint8_t> additive_;  // per texture
    bool anyAdditive_ = false;
    bool additiveDrawing_ = true;
    std::vector<const Material*> materials_;  // per texture; null: none
    uint32_t materialCount_ = 0;  // textures with one
    bool materialDrawing_ = false;
    // The stage shaders, compiled when materials are first drawn on this
    // device; stageShadersReady_ once all three are there.
    IDirect3DVertexShader9* stageVs_ = nullptr;
    IDirect3DPixelShader9* stagePs_ = nullptr;
    IDirect3DPixelShader9* stageBrightPs_ = nullptr;
    IDirect3DVertexShader9* fogVs_ = nullptr;
    bool stageShadersTried_ = false;
    bool stageShadersReady_ = false;
    IDirect3DTexture9* whiteTexture_ = nullptr;  // what white-image stages draw
    // One draw of a material's item: sorted by key, then run by material.
    struct MaterialUnit {
        float sort;
        float distance;  // signed: farthest first where it is negative
        uint32_t list;   // texture index; bit 31: the tga set
        uint32_t item;
        uint32_t group;  // its vertex buffer and lightmap, in order of first use
        uint32_t draw;   // the merged draw that takes it (batchRuns_), or kNoBatchRun
    };
    // Merged draws of the materials' faces: each run of following units of
    // one material, vertex buffer and lightmap, its indices written into
    // the batch index buffer, in batchRuns_ (first, end: unit positions).
    void PlanMaterialDraws(uint32_t count);
    uint32_t materialDrawCount_ = 0;
    std::vector<MaterialUnit> materialUnits_;    // kDrawUnitCapacity entries, made once
    std::vector<MaterialUnit> materialScratch_;  // as many, for putting them in order
    FogVolume fogVolumes_[kMaxFogVolumes];
    uint32_t fogVolumeCount_ = 0;
    std::vector<RenderItem> fogItems_;  // kFogItemCapacity entries, made once
    uint32_t fogItemCount_ = 0;
    std::vector<uint8_t> sides_;  // per texture, a FaceSides
    bool culling_ = false;
    // The cull mode last set while the world is drawn culled; kNoCullMode
    // while it is drawn without culling.
    DWORD cullApplied_ = kNoCullMode;
    static constexpr DWORD kNoCullMode = 0;
    IDirect3DTexture9* loadingImage_ = nullptr;
    PostProcess postProcess_;
    IDirect3DIndexBuffer9* batchIndices_ = nullptr;
    std::vector<BatchRun> batchRuns_;  // kBatchRunCapacity entries, made once
    uint32_t batchRunCount_ = 0;
    std::vector<uint16_t> batchOrder_;         // kBatchOrderCapacity entries, made once
    std::vector<uint16_t> batchGroup_;         // each ordered item's group, as many
    std::vector<uint32_t> batchOrderStart_;    // per texture: where its order begins, or kNoBatchOrder
    std::vector<uint32_t> batchOrderCount_;    // per texture: how many items its order holds
    std::vector<DrawUnit> drawUnits_;          // kDrawUnitCapacity entries, made once
};

extern CRenderer g_renderer;

// The overlay label of an effect mode.
const char* EffectLabel(int32_t mode);

// Free forms used by world loading and the map command.
void SetupRenderCaches(uint32_t textureCount);
void SetRenderCacheAdditive(uint32_t textureIndex);
void SetRenderCacheAdditiveDrawing(bool on);
void SetRenderCacheFaceSides(uint32_t textureIndex, FaceSides sides);
void SetRenderCacheCulling(bool on);
RenderItem* AllocateRenderItem(uint32_t textureIndex, uint32_t flags);
void ShowLoadingMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The images the renderer loads, in their order.
extern const char* const kSkyImages[kSkyFaceCount];
constexpr const char* kLoadingImage = "loading.jpg";
