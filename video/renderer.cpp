#include "video/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>

#include "camera/camera.h"
#include "base/message_output.h"
#include "platform/operating_system.h"
#include "video/d3d9/d3dx9.h"
#include "video/console_overlay.h"
#include "video/post_process.h"
#include "video/shader_set.h"
#include "video/text_overlay.h"
#include "video/video_cvars.h"

const char* const kSkyImages[kSkyFaceCount] = {
    "textures\\negz.jpg", "textures\\posz.jpg", "textures\\posx.jpg",
    "textures\\negx.jpg", "textures\\posy.jpg",
};

namespace {

GpuVertex Vertex(float x, float y, float z, float nx, float ny, float nz, float u, float v) {
    return GpuVertex{{x, y, z}, {nx, ny, nz}, 0xFFFFFFFF, {u, v}, {0.0f, 0.0f, 0.0f}};
}

void Release(IDirect3DTexture9** texture) {
    if (*texture != nullptr) (*texture)->Release();
    *texture = nullptr;
}

// An item a merged draw can take: a fan of the vertex buffer, or a triangle
// list indexing an index buffer, with at least one triangle.
bool Batchable(const RenderItem& item) {
    if (item.vertexBuffer == nullptr || item.baseVertex < 0) return false;
    if (item.primitiveType == D3DPT_TRIANGLEFAN) return item.count >= 3;
    return item.primitiveType == D3DPT_TRIANGLELIST && item.indexBuffer != nullptr && item.startIndex >= 0 &&
           item.count >= 3;
}

// Indices an item adds to a merged draw: its list's whole triangles, or
// three per triangle of its fan.
uint32_t BatchIndexCount(const RenderItem& item) {
    const uint32_t count = static_cast<uint32_t>(item.count);
    return item.primitiveType == D3DPT_TRIANGLEFAN ? 3 * (count - 2) : count / 3 * 3;
}

// Writes a batchable item's triangles as absolute vertex numbers at out and
// returns where it stopped; lowest and highest take in the vertices used.
uint32_t* WriteBatchIndices(const RenderItem& item, uint32_t* out, uint32_t* lowest, uint32_t* highest) {
    const uint32_t base = static_cast<uint32_t>(item.baseVertex);
    if (item.primitiveType == D3DPT_TRIANGLEFAN) {
        // Fan triangle i is (0, i + 1, i + 2): the same corners, in the
        // same order, as a list.
        const uint32_t last = base + static_cast<uint32_t>(item.count) - 1;
        for (uint32_t v = base + 1; v < last; ++v) {
            *out++ = base;
            *out++ = v;
            *out++ = v + 1;
        }
        *lowest = std::min(*lowest, base);
        *highest = std::max(*highest, last);
        return out;
    }
    const uint32_t first = static_cast<uint32_t>(item.startIndex);
    const uint32_t count = BatchIndexCount(item);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t vertex = static_cast<uint32_t>(item.sourceIndices[first + i]) + base;
        *out++ = vertex;
        *lowest = std::min(*lowest, vertex);
        *highest = std::max(*highest, vertex);
    }
    return out;
}

// A list item's indices lie inside the copy its caller keeps of them.
bool HoldsSourceIndices(const RenderItem& item) {
    return item.sourceIndices != nullptr &&
           static_cast<uint64_t>(item.startIndex) + static_cast<uint32_t>(item.count) <= item.sourceIndexCount;
}

// An item a merged draw takes: batchable, and a fan or a list whose indices
// can be read without locking its buffer.
bool Mergeable(const RenderItem& item) {
    return Batchable(item) && (item.primitiveType == D3DPT_TRIANGLEFAN || HoldsSourceIndices(item));
}

// Numbers the (vertex buffer, lightmap) pairs of items in the order each is
// first met, so that items drawn together can be put next to each other
// alike in every run whatever addresses the buffers have; past kCapacity
// pairs the rest share the last number.
template <uint32_t kCapacity>
class FirstUseGroups {
public:
    uint32_t Of(const RenderItem& item) {
        uint32_t g = 0;
        while (g < count_ && (buffer_[g] != item.vertexBuffer || lightmap_[g] != item.lightmapTexture)) ++g;
        if (g < count_) return g;
        if (count_ == kCapacity) return kCapacity - 1;
        buffer_[count_] = item.vertexBuffer;
        lightmap_[count_] = item.lightmapTexture;
        return count_++;
    }

private:
    const void* buffer_[kCapacity];
    const void* lightmap_[kCapacity];
    uint32_t count_ = 0;
};

DWORD DeviceBlend(BlendFactor factor) {
    switch (factor) {
        case BlendFactor::kZero: return D3DBLEND_ZERO;
        case BlendFactor::kOne: return D3DBLEND_ONE;
        case BlendFactor::kSourceColor: return D3DBLEND_SRCCOLOR;
        case BlendFactor::kOneMinusSourceColor: return D3DBLEND_INVSRCCOLOR;
        case BlendFactor::kSourceAlpha: return D3DBLEND_SRCALPHA;
        case BlendFactor::kOneMinusSourceAlpha: return D3DBLEND_INVSRCALPHA;
        case BlendFactor::kDestinationColor: return D3DBLEND_DESTCOLOR;
        case BlendFactor::kOneMinusDestinationColor: return D3DBLEND_INVDESTCOLOR;
        case BlendFactor::kDestinationAlpha: return D3DBLEND_DESTALPHA;
        case BlendFactor::kOneMinusDestinationAlpha: return D3DBLEND_INVDESTALPHA;
        case BlendFactor::kSourceAlphaSaturate: return D3DBLEND_SRCALPHASAT;
    }
    return D3DBLEND_ONE;
}

uint8_t ColourByte(float value) {
    const float clamped = value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
    return static_cast<uint8_t>(clamped * 255.0f + 0.5f);
}

// Cloud heights beyond this put the shell so far out that the layers would
// be one texel across the sky; a hostile script's 1e30 stays harmless.
constexpr float kMaxCloudHeight = 65536.0f;

// The cull mode that draws the given sides of world faces drawn as
// primitive. Polygons and meshes wind clockwise around their normal in the
// file's Z-up space; exchanging Y and Z mirrors that, and under the camera's
// left-handed view their fronts come out clockwise on screen, which is
// Direct3D's front: D3DCULL_CCW leaves their backs out. The patches' strips
// run the other way round across their grid.
DWORD CullModeFor(FaceSides sides, int32_t primitive) {
    if (sides == FaceSides::kBoth) return D3DCULL_NONE;
    const bool strip = primitive == D3DPT_TRIANGLESTRIP;
    return (sides == FaceSides::kFront) != strip ? D3DCULL_CCW : D3DCULL_CW;
}

// The shaders bound when it is made, bound again when it goes.
class BoundShaders {
public:
    explicit BoundShaders(IDirect3DDevice9* device) : device_(device) {
        device_->GetVertexShader(&vertex_);
        device_->GetPixelShader(&pixel_);
    }
    ~BoundShaders() {
        device_->SetVertexShader(vertex_);
        device_->SetPixelShader(pixel_);
        if (vertex_ != nullptr) vertex_->Release();
        if (pixel_ != nullptr) pixel_->Release();
    }
    BoundShaders(const BoundShaders&) = delete;
    BoundShaders& operator=(const BoundShaders&) = delete;
    IDirect3DPixelShader9* Pixel() const { return pixel_; }

private:
    IDirect3DDevice9* device_;
    IDirect3DVertexShader9* vertex_ = nullptr;
    IDirect3DPixelShader9* pixel_ = nullptr;
};

// Blending off and depth written: the state the opaque world is drawn in.
void SetOpaqueState(IDirect3DDevice9* device) {
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
}

}  // namespace

SkyLayerTransform SkyLayerTransformAt(const SkyLayer& layer, double milliseconds) {
    // A cloud layer moves by its scales and scrolls alone.
    TexCoordMotion motions[ShaderScriptStage::kMaxMotions];
    int count = 0;
    for (int i = 0; i < std::min(std::max(layer.motionCount, 0), ShaderScriptStage::kMaxMotions); ++i) {
        const TexCoordMotion& motion = layer.motions[i];
        if (motion.kind == TexCoordMotion::Kind::kScale || motion.kind == TexCoordMotion::Kind::kScroll) {
            motions[count++] = motion;
        }
    }
    TexCoordMatrix before, after;
    const TexCoordMotion* turb = nullptr;
    TexCoordTransformsAt(motions, count, true, milliseconds / 1000.0, &before, &after, &turb);
    SkyLayerTransform transform;
    transform.scaleS = before.m[0];
    transform.scaleT = before.m[4];
    transform.offsetS = before.m[2] - std::floor(before.m[2]);
    transform.offsetT = before.m[5] - std::floor(before.m[5]);
    return transform;
}

void CloudTexCoord(const float direction[3], float cloudHeight, float* s, float* t) {
    const float height = cloudHeight > 0.0f ? std::min(cloudHeight, kMaxCloudHeight) : 128.0f;
    // The ray eye + distance * direction meets the sphere of radius
    // ground + height around the point ground below the eye.
    const float ground = kCloudGroundRadius;
    const float shell = ground + height;
    const float up = direction[1];
    const float distance = -ground * up + std::sqrt(ground * ground * up * up + shell * shell - ground * ground);
    *s = direction[0] * distance / kCloudImageSpan;
    *t = direction[2] * distance / kCloudImageSpan;
}

const char* EffectLabel(int32_t mode) {
    switch (mode) {
        case 1: return "Render Effect: Fake HDR";
        case 2: return "Render Effect: 8x Motion Blur";
        case 3: return "Render Effect: HDR Blur";
        case 4: return "Render Effect: Depth of Field";
        default: return "Render Effect: None";
    }
}

CRenderer::CRenderer() {
    Setup("CRenderer");
    RegisterSubsystem(this);
    priority = 35;

    SetQuad(0, 0);
    drawUnits_.resize(kDrawUnitCapacity);
    materialUnits_.resize(kDrawUnitCapacity);
    materialScratch_.resize(kDrawUnitCapacity);
    fogItems_.resize(kFogItemCapacity);

    const float s = kSkyHalfSize;
    const GpuVertex faces[kSkyFaceCount][4] = {
        {Vertex(-s, s, -s, 0, 0, 1, 0, 0), Vertex(s, s, -s, 0, 0, 1, 1, 0),
         Vertex(-s, -s, -s, 0, 0, 1, 0, 1), Vertex(s, -s, -s, 0, 0, 1, 1, 1)},
        {Vertex(s, s, s, 0, 0, -1, 0, 0), Vertex(-s, s, s, 0, 0, -1, 1, 0),
         Vertex(s, -s, s, 0, 0, -1, 0, 1), Vertex(-s, -s, s, 0, 0, -1, 1, 1)},
        {Vertex(s, s, -s, -1, 0, 0, 0, 0), Vertex(s, s, s, -1, 0, 0, 1, 0),
         Vertex(s, -s, -s, -1, 0, 0, 0, 1), Vertex(s, -s, s, -1, 0, 0, 1, 1)},
        {Vertex(-s, s, s, 1, 0, 0, 0, 0), Vertex(-s, s, -s, 1, 0, 0, 1, 0),
         Vertex(-s, -s, s, 1, 0, 0, 0, 1), Vertex(-s, -s, -s, 1, 0, 0, 1, 1)},
        {Vertex(-s, s, -s, 0, -1, 0, 0, 0), Vertex(s, s, -s, 0, -1, 0, 1, 0),
         Vertex(-s, s, s, 0, -1, 0, 0, 1), Vertex(s, s, s, 0, -1, 0, 1, 1)},
    };
    std::memcpy(sky_, faces, sizeof sky_);
    std::memcpy(blackSky_, faces, sizeof blackSky_);
    for (auto& face : blackSky_) {
        for (GpuVertex& vertex : face) vertex.colour = 0xFF000000;
    }
    for (int ring = 0; ring <= kCloudRings; ++ring) {
        const float elevation = 1.5707964f - 3.1415927f * static_cast<float>(ring) / kCloudRings;
        for (int segment = 0; segment <= kCloudSegments; ++segment) {
            const float around = 6.2831855f * static_cast<float>(segment) / kCloudSegments;
            float* direction = cloudDirections_[ring][segment];
            direction[0] = std::cos(elevation) * std::cos(around);
            direction[1] = std::sin(elevation);
            direction[2] = std::cos(elevation) * std::sin(around);
        }
    }
    SetWorldClouds(nullptr, 0, 128.0f);

    // The worlds' sky boxes: each image as seen from inside the box, upright.
    // Turning right from _rt (+X) come _ft (-Z), _lf (-X) and _bk (+Z); _up
    // (+Y) meets _rt with its lower edge and _ft with its right edge.
    for (int face = 0; face < kSkyFaceCount; ++face) {
        for (int corner = 0; corner < 4; ++corner) {
            GpuVertex& vertex = worldSkyVertices_[face][corner];
            vertex = sky_[face][corner];
            const float x = vertex.position[0] / (2.0f * s);
            const float y = vertex.position[1] / (2.0f * s);
            const float z = vertex.position[2] / (2.0f * s);
            float u = 0.0f;
            float v = 0.5f - y;
            switch (face) {
                case 0: u = 0.5f - x; break;  // -Z: _ft
                case 1: u = 0.5f + x; break;  // +Z: _bk
                case 2: u = 0.5f - z; break;  // +X: _rt
                case 3: u = 0.5f + z; break;  // -X: _lf
                default:                      // +Y: _up
                    u = 0.5f - z;
                    v = 0.5f + x;
                    break;
            }
            vertex.texCoord[0] = u;
            vertex.texCoord[1] = v;
        }
    }
}

CRenderer::~CRenderer() {
    UnregisterSubsystem(this);
    Teardown();
}

void CRenderer::shutdown(int32_t) { finished = 1; }

void CRenderer::SetQuad(int32_t width, int32_t height) {
    quad_[0] = Vertex(-1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f);
    quad_[1] = Vertex(1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 0.0f);
    quad_[2] = Vertex(-1.0f, -1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 1.0f);
    quad_[3] = Vertex(1.0f, -1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f);
    if (width <= 0 || height <= 0) return;
    // Direct3D 9 samples texel centres half a texel off its pixel centres;
    // moving the quad half a pixel left and up maps target texels 1:1 onto
    // back-buffer pixels.
    for (GpuVertex& vertex : quad_) {
        vertex.position[0] -= (2.0f / static_cast<float>(width)) * 0.5f;
        vertex.position[1] += (2.0f / static_cast<float>(height)) * 0.5f;
    }
}

void CRenderer::CreateImages(IDirect3DDevice9* device) {
    // The post-process targets first, at the window's size; the quad that
    // shows them moves by half a pixel with them (from its unshifted corners,
    // so a second device does not move it twice).
    const int32_t width = g_operatingSystem.WindowWidth();
    const int32_t height = g_operatingSystem.WindowHeight();
    postProcess_.CreateTargets(device, static_cast<UINT>(width), static_cast<UINT>(height));
    SetQuad(width, height);

    for (int face = 0; face < kSkyFaceCount; ++face) {
        Release(&skyTextures_[face]);
        if (FAILED(D3DXCreateTextureFromFileA(device, kSkyImages[face], &skyTextures_[face]))) {
            skyTextures_[face] = nullptr;
            PrintLine("Error creating sky texture %i", face);
        }
    }
    Release(&loadingImage_);
    if (FAILED(D3DXCreateTextureFromFileA(device, kLoadingImage, &loadingImage_))) {
        loadingImage_ = nullptr;
        PrintLine("Error loading 'loading.jpg'");
    }

    if (batchIndices_ != nullptr) batchIndices_->Release();
    batchIndices_ = nullptr;
    if (FAILED(device->CreateIndexBuffer(kBatchIndexCapacity * 4, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                         D3DFMT_INDEX32, D3DPOOL_DEFAULT, &batchIndices_, nullptr))) {
        batchIndices_ = nullptr;  // every item is drawn by itself
    }
    Release(&whiteTexture_);
    if (FAILED(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &whiteTexture_, nullptr))) {
        whiteTexture_ = nullptr;
    } else {
        D3DLOCKED_RECT locked{};
        if (SUCCEEDED(whiteTexture_->LockRect(0, &locked, nullptr, 0)) && locked.pBits != nullptr) {
            std::memset(locked.pBits, 0xFF, 4);
            whiteTexture_->UnlockRect(0);
        }
    }
    batchRuns_.resize(kBatchRunCapacity);
    batchOrder_.resize(kBatchOrderCapacity);
    batchGroup_.resize(kBatchOrderCapacity);
}

void CRenderer::ResizeTargets(IDirect3DDevice9* device, int32_t width, int32_t height) {
    postProcess_.Release();
    postProcess_.CreateTargets(device, static_cast<UINT>(width), static_cast<UINT>(height));
    SetQuad(width, height);
}

void CRenderer::ReleaseImages() {
    SetWorldSky(nullptr);
    SetWorldClouds(nullptr, 0, 128.0f);
    if (cloudPs_ != nullptr) cloudPs_->Release();
    cloudPs_ = nullptr;
    cloudPsTried_ = false;
    Release(&whiteTexture_);
    if (stageVs_ != nullptr) stageVs_->Release();
    if (stagePs_ != nullptr) stagePs_->Release();
    if (stageBrightPs_ != nullptr) stageBrightPs_->Release();
    stageVs_ = nullptr;
    stagePs_ = nullptr;
    stageBrightPs_ = nullptr;
    if (fogVs_ != nullptr) fogVs_->Release();
    fogVs_ = nullptr;
    stageShadersTried_ = false;
    stageShadersReady_ = false;
    postProcess_.Release();
    for (IDirect3DTexture9*& texture : skyTextures_) Release(&texture);
    Release(&loadingImage_);
    if (batchIndices_ != nullptr) batchIndices_->Release();
    batchIndices_ = nullptr;
}

void CRenderer::SetupRenderCaches(uint32_t textureCount) {
    tgaSet_.lists.clear();
    mainSet_.lists.clear();
    additive_.assign(textureCount, 0);
    materials_.assign(textureCount, nullptr);
    materialCount_ = 0;
    sides_.assign(textureCount, static_cast<uint8_t>(FaceSides::kFront));
    batchOrderStart_.assign(textureCount, kNoBatchOrder);
    batchOrderCount_.assign(textureCount, 0);
    anyAdditive_ = false;
    tgaSet_.lists.resize(textureCount);
    mainSet_.lists.resize(textureCount);
    PrintLine("Initializing render caches for %i textures", static_cast<int32_t>(textureCount));
    if (tgaSet_.lists.size() != textureCount || mainSet_.lists.size() != textureCount) {
        PrintLine("Error allocating render caches.");
        finished = 1;
        return;
    }
    for (uint32_t t = 0; t < textureCount; ++t) {
        RenderList& tga = tgaSet_.lists[t];
        RenderList& main = mainSet_.lists[t];
        tga.items.assign(kTgaListCapacity, RenderItem{});
        main.items.assign(kMainListCapacity, RenderItem{});
        tga.capacity = static_cast<uint32_t>(tga.items.size());
        main.capacity = static_cast<uint32_t>(main.items.size());
        if (tga.capacity != kTgaListCapacity || main.capacity != kMainListCapacity) {
            PrintLine("Error allocating render sub-caches.");
            finished = 1;
        }
    }
    active = 1;
}

void CRenderer::SetAdditive(uint32_t textureIndex) {
    if (textureIndex >= additive_.size()) return;
    additive_[textureIndex] = 1;
    anyAdditive_ = true;
}

void CRenderer::SetMaterial(uint32_t textureIndex, const Material* material) {
    if (textureIndex >= materials_.size()) return;
    if (materials_[textureIndex] != nullptr) --materialCount_;
    materials_[textureIndex] = material;
    if (material != nullptr) ++materialCount_;
}

void CRenderer::SetFogVolumes(const FogVolume* volumes, uint32_t count) {
    if (volumes == nullptr) count = 0;
    fogVolumeCount_ = std::min(count, kMaxFogVolumes);
    for (uint32_t i = 0; i < fogVolumeCount_; ++i) fogVolumes_[i] = volumes[i];
    fogItemCount_ = 0;
}

void CRenderer::AddFogItem(const RenderItem& item) {
    if (item.fogVolume == 0 || item.fogVolume > fogVolumeCount_ || fogItemCount_ >= fogItems_.size()) return;
    fogItems_[fogItemCount_++] = item;
}

void CRenderer::SetFaceSides(uint32_t textureIndex, FaceSides sides) {
    if (textureIndex < sides_.size()) sides_[textureIndex] = static_cast<uint8_t>(sides);
}

void CRenderer::SetWorldSky(IDirect3DTexture9* const* faces) {
    for (int face = 0; face < kSkyFaceCount; ++face) {
        IDirect3DTexture9* next = faces != nullptr ? faces[face] : nullptr;
        if (next != nullptr) next->AddRef();
        if (worldSky_[face] != nullptr) worldSky_[face]->Release();
        worldSky_[face] = next;
    }
}

void CRenderer::ForgetWorldSky(IDirect3DTexture9* const* faces) {
    if (faces != nullptr && faces[0] != nullptr && faces[0] == worldSky_[0]) SetWorldSky(nullptr);
}

void CRenderer::SetWorldClouds(const SkyLayer* layers, int count, float cloudHeight) {
    if (layers == nullptr || count < 0) count = 0;
    count = std::min(count, kMaxSkyLayers);
    for (int i = 0; i < count; ++i) {
        if (layers[i].texture != nullptr) layers[i].texture->AddRef();
    }
    for (int i = 0; i < cloudCount_; ++i) {
        if (clouds_[i].texture != nullptr) clouds_[i].texture->Release();
    }
    for (int i = 0; i < kMaxSkyLayers; ++i) clouds_[i] = i < count ? layers[i] : SkyLayer();
    cloudCount_ = count;
    for (int ring = 0; ring <= kCloudRings; ++ring) {
        for (int segment = 0; segment <= kCloudSegments; ++segment) {
            CloudTexCoord(cloudDirections_[ring][segment], cloudHeight, &cloudCoords_[ring][segment][0],
                          &cloudCoords_[ring][segment][1]);
        }
    }
}

void CRenderer::ForgetWorldClouds(const SkyLayer* layers) {
    if (layers != nullptr && cloudCount_ > 0 && layers[0].texture == clouds_[0].texture) {
        SetWorldClouds(nullptr, 0, 128.0f);
    }
}

void CRenderer::EmptyCaches() {
    for (RenderList& list : tgaSet_.lists) list.used = 0;
    for (RenderList& list : mainSet_.lists) list.used = 0;
}

RenderItem* CRenderer::AllocateRenderItem(uint32_t textureIndex, uint32_t flags) {
    if (!active) return nullptr;
    RenderCacheSet& set = (flags & 1) ? tgaSet_ : mainSet_;
    if (textureIndex >= set.lists.size()) return nullptr;
    RenderList& list = set.lists[textureIndex];
    if (list.used >= list.capacity) return nullptr;
    RenderItem* item = &list.items[list.used++];
    *item = RenderItem{};
    return item;
}

int32_t CRenderer::frame() {
    const int32_t result = DrawFrame();
    finished = result & finished;
    return finished;
}

int32_t CRenderer::DrawFrame() {
    if (!active) return 1;
    CVideoSystem* video = GetVideoSystem();
    if (video == nullptr || video->finished) return 0;
    IDirect3DDevice9* device = video->GetDevice();
    if (device == nullptr) return 1;

    video->BeginFrame();
    D3DXMATRIX viewProjection;
    D3DXMatrixMultiply(&viewProjection, &g_camera.View(), &g_camera.Projection());
    device->SetVertexShaderConstantF(0, viewProjection, 4);
    // c4 of both stages: 1 while the worlds' own light is drawn (r_materials),
    // when the world's shaders scale the vertex colours to the light they
    // mean and leave out the engine's doubling; 0 keeps both as they were.
    const float lightScale = r_materials.intValue != 0 ? 1.0f : 0.0f;
    const float light[4] = {lightScale, lightScale, 0.0f, 0.0f};
    device->SetVertexShaderConstantF(kLightScaleRegister, light, 1);
    device->SetPixelShaderConstantF(kLightScaleRegister, light, 1);
    device->SetFVF(kGpuVertexFvf);

    itemsDrawn_ = 0;
    worldDrawn_ = false;
    cloudsPending_ = false;
    const int32_t mode = vid_effectmode.intValue;
    if (!postProcess_.Run(mode, device, this)) DrawNoEffect(device);
    DrawOverlay(EffectLabel(mode));
    // Over everything else: the console is read over whatever the frame shows.
    DrawGameConsole(device, g_operatingSystem.WindowWidth(), g_operatingSystem.WindowHeight());

    video->EndFrame();
    return 1;
}

void CRenderer::DrawSky(IDirect3DDevice9* device) {
    SetClampAddress(device, 0);
    BindSkyShaders();
    g_videoSystem.BindFallbackTexture(1);
    const bool worldSky = HasWorldSky();
    // Clouds without a box are drawn over black, not over the engine's day.
    const bool clouds = cloudCount_ > 0 && r_materials.intValue != 0;
    for (int face = 0; face < kSkyFaceCount; ++face) {
        device->SetTexture(0, worldSky ? worldSky_[face] : skyTextures_[face]);
        const GpuVertex* engineFace = clouds ? blackSky_[face] : sky_[face];
        g_videoSystem.DrawQuadStrip(worldSky ? worldSkyVertices_[face] : engineFace, 4);
    }
    // The clouds wait for the opaque world, so that only the sky it leaves
    // uncovered pays for their layers; a path that draws the world first
    // gets them at once.
    if (clouds && worldDrawn_) {
        DrawClouds(device);
    } else {
        cloudsPending_ = clouds;
    }
}

// Each layer over the box in turn, on the dome around the eye, blended as
// its stage says, after the opaque world: the depth buffer is tested (the
// dome lies beyond the worlds) but not written, so the clouds show only
// where the world left the sky uncovered and stay behind everything drawn
// after them.
void CRenderer::DrawClouds(IDirect3DDevice9* device) {
    if (device == nullptr) return;
    DWORD cull = D3DCULL_CCW, zEnable = D3DZB_TRUE, zWrite = TRUE, blend = FALSE;
    DWORD source = D3DBLEND_ONE, destination = D3DBLEND_ZERO;
    device->GetRenderState(D3DRS_CULLMODE, &cull);
    device->GetRenderState(D3DRS_ZENABLE, &zEnable);
    device->GetRenderState(D3DRS_ZWRITEENABLE, &zWrite);
    device->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
    device->GetRenderState(D3DRS_SRCBLEND, &source);
    device->GetRenderState(D3DRS_DESTBLEND, &destination);
    DWORD zFunc = D3DCMP_LESSEQUAL;
    device->GetRenderState(D3DRS_ZFUNC, &zFunc);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    SetWrapAddress(device, 0);
    // The layers' pixel shader is made when clouds are first drawn on this
    // device, so that devices that never show any do not compile it.
    if (!cloudPsTried_) {
        cloudPsTried_ = true;
        cloudPs_ = CreateOptionalPixelShader(device, kShaderFile, "sky_layer_ps");
    }
    if (cloudPs_ != nullptr) device->SetPixelShader(cloudPs_);

    const D3DXVECTOR3& eye = g_camera.GetPosition();
    const double now = g_operatingSystem.FrameTime();
    for (int i = 0; i < cloudCount_; ++i) {
        const SkyLayer& layer = clouds_[i];
        if (layer.texture == nullptr) continue;
        const bool opaque = layer.sourceFactor == BlendFactor::kOne && layer.destinationFactor == BlendFactor::kZero;
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, opaque ? FALSE : TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, DeviceBlend(layer.sourceFactor));
        device->SetRenderState(D3DRS_DESTBLEND, DeviceBlend(layer.destinationFactor));
        device->SetTexture(0, layer.texture);
        const SkyLayerTransform transform = SkyLayerTransformAt(layer, now);
        const D3DCOLOR colour = D3DCOLOR_ARGB(ColourByte(layer.alpha), ColourByte(layer.colour[0]),
                                              ColourByte(layer.colour[1]), ColourByte(layer.colour[2]));
        for (int ring = 0; ring < kCloudRings; ++ring) {
            for (int segment = 0; segment <= kCloudSegments; ++segment) {
                for (int side = 0; side < 2; ++side) {
                    const float* direction = cloudDirections_[ring + side][segment];
                    const float* coord = cloudCoords_[ring + side][segment];
                    GpuVertex& vertex = cloudStrip_[2 * segment + side];
                    vertex.position[0] = eye.x + direction[0] * kCloudDomeRadius;
                    vertex.position[1] = eye.y + direction[1] * kCloudDomeRadius;
                    vertex.position[2] = eye.z + direction[2] * kCloudDomeRadius;
                    vertex.normal[0] = -direction[0];
                    vertex.normal[1] = -direction[1];
                    vertex.normal[2] = -direction[2];
                    vertex.colour = colour;
                    vertex.texCoord[0] = coord[0] * transform.scaleS + transform.offsetS;
                    vertex.texCoord[1] = coord[1] * transform.scaleT + transform.offsetT;
                    vertex.lightmapCoord[0] = vertex.lightmapCoord[1] = vertex.lightmapCoord[2] = 0.0f;
                }
            }
            g_videoSystem.DrawQuadStrip(cloudStrip_, 2 * (kCloudSegments + 1));
        }
    }

    BindSkyShaders();
    SetClampAddress(device, 0);
    device->SetRenderState(D3DRS_CULLMODE, cull);
    device->SetRenderState(D3DRS_ZENABLE, zEnable);
    device->SetRenderState(D3DRS_ZFUNC, zFunc);
    device->SetRenderState(D3DRS_ZWRITEENABLE, zWrite);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, blend);
    device->SetRenderState(D3DRS_SRCBLEND, source);
    device->SetRenderState(D3DRS_DESTBLEND, destination);
}

void CRenderer::DrawPendingClouds(IDirect3DDevice9* device) {
    cloudsPending_ = false;
    const BoundShaders bound(device);
    IDirect3DBaseTexture9* texture = nullptr;
    device->GetTexture(0, &texture);
    BindSkyShaders();
    DrawClouds(device);
    device->SetTexture(0, texture);
    SetWrapAddress(device, 0);
    if (texture != nullptr) texture->Release();
}

void CRenderer::DrawNoEffect(IDirect3DDevice9* device) {
    DrawSky(device);
    SetWrapAddress(device, 0);
    SetClampAddress(device, 1);
    SetSolidState(device);
    SetLinearFilter(device, 0);
    SetLinearFilter(device, 1);
    BindWorldShaders();
    DrawCaches(device, true);
}

void CRenderer::DrawCaches(IDirect3DDevice9* device, bool empty) {
    // The frame's first world draw is the one at the screen's size.
    const bool count = countWorldSamples_ && !worldDrawn_ && device != nullptr;
    worldDrawn_ = true;
    if (count) D3D9CountSamples(device, true);
    DrawWorld(device, empty);
    if (count) D3D9CountSamples(device, false);
}

void CRenderer::DrawWorld(IDirect3DDevice9* device, bool empty) {
    // What draws after the world (sky, overlay, composites) keeps its cull mode.
    DWORD cullMode = D3DCULL_NONE;
    const bool culling = culling_ && device != nullptr && SUCCEEDED(device->GetRenderState(D3DRS_CULLMODE, &cullMode));
    cullApplied_ = culling ? cullMode : kNoCullMode;
    if (materialDrawing_ && device != nullptr && (materialCount_ > 0 || fogVolumeCount_ > 0)) {
        PrepareStageShaders(device);
    }
    DrawCacheSet(device, &mainSet_, empty, true, false);
    DrawCacheSet(device, &tgaSet_, empty, false, false);
    if (culling) device->SetRenderState(D3DRS_CULLMODE, cullMode);
    cullApplied_ = culling ? cullMode : kNoCullMode;
    if (materialDrawing_ && stageShadersReady_ && device != nullptr) {
        // The clouds come between the opaque materials and the others.
        DrawMaterials(device, empty);
        if (culling) device->SetRenderState(D3DRS_CULLMODE, cullMode);
        cullApplied_ = culling ? cullMode : kNoCullMode;
    }
    if (device != nullptr && cloudsPending_) DrawPendingClouds(device);
    if (device != nullptr) DrawFog(device, empty);
    if (!anyAdditive_ || !additiveDrawing_ || device == nullptr) {
        cullApplied_ = kNoCullMode;
        return;
    }
    // Glows, beams and flares: added onto the opaque world, tested against
    // its depth but not hiding what lies behind them.
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    DrawCacheSet(device, &mainSet_, empty, false, true);
    DrawCacheSet(device, &tgaSet_, empty, false, true);
    if (culling) device->SetRenderState(D3DRS_CULLMODE, cullMode);
    cullApplied_ = kNoCullMode;
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}

void CRenderer::DrawFog(IDirect3DDevice9* device, bool empty) {
    const uint32_t count = fogItemCount_;
    if (empty) fogItemCount_ = 0;
    if (count == 0 || !materialDrawing_ || !stageShadersReady_) return;
    const BoundShaders shaders(device);
    DWORD cull = D3DCULL_NONE;
    device->GetRenderState(D3DRS_CULLMODE, &cull);
    device->SetVertexShader(fogVs_);
    device->SetPixelShader(stagePs_);
    device->SetTexture(0, whiteTexture_);
    const float keep[4] = {0.0f, 1.0f, 0.0f, 0.0f};  // no alpha test
    device->SetPixelShaderConstantF(kStagePixelRegister, keep, 1);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    const D3DXVECTOR3& eye = g_camera.GetPosition();
    uint32_t bound = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const RenderItem& item = fogItems_[i];
        if (item.fogVolume == 0 || item.fogVolume > fogVolumeCount_) continue;
        if (item.fogVolume != bound) {
            bound = item.fogVolume;
            const FogVolume& fog = fogVolumes_[bound - 1];
            const float distance = fog.opaqueDistance > 1.0f ? fog.opaqueDistance : 1.0f;
            const float constants[5][4] = {
                {fog.bounds[0], fog.bounds[1], fog.bounds[2], 0.0f},
                {fog.bounds[3], fog.bounds[4], fog.bounds[5], 0.0f},
                {1.0f / distance, 0.0f, 0.0f, 0.0f},
                {fog.colour[0], fog.colour[1], fog.colour[2], 1.0f},
                {eye.x, eye.y, eye.z, 1.0f},
            };
            device->SetVertexShaderConstantF(kFogFirstRegister, &constants[0][0], 5);
        }
        device->SetStreamSource(0, item.vertexBuffer, 0, sizeof(GpuVertex));
        DrawItem(device, item);
    }
    device->SetRenderState(D3DRS_CULLMODE, cull);
    SetOpaqueState(device);
}

void CRenderer::DrawFullScreenQuad() { g_videoSystem.DrawQuadStrip(quad_, 4); }

void CRenderer::DrawCacheSet(IDirect3DDevice9* device, RenderCacheSet* set, bool empty, bool mainSet,
                             bool additive) {
    if (mainSet) {
        if (device == nullptr) {
            PrintLine("Error: cannot render opaque buffer with an invalid d3d device");
            return;
        }
        device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    } else if (device == nullptr) {
        return;
    }
    PlanBatches(*set, additive);
    // The set's draws: each merged run, and each item no run took.
    uint32_t run = 0;
    uint32_t units = 0;
    for (size_t t = 0; t < set->lists.size(); ++t) {
        if (!InPhase(static_cast<uint32_t>(t), additive)) continue;
        const RenderList& list = set->lists[t];
        for (uint32_t k = 0; k < list.used; ++k) {
            const RenderItem& item = ItemAt(list, t, k);
            if (item.count < 1) break;
            if (units == kDrawUnitCapacity) {
                DrawUnits(device, *set, units, additive, empty);
                units = 0;
            }
            DrawUnit& unit = drawUnits_[units++];
            unit.list = static_cast<uint32_t>(t);
            unit.first = k;
            unit.distance = item.distance;
            if (run < batchRunCount_ && batchRuns_[run].list == t && batchRuns_[run].first == k) {
                const BatchRun& batch = batchRuns_[run];
                for (uint32_t m = batch.first + 1; m < batch.end; ++m) {
                    unit.distance = std::min(unit.distance, ItemAt(list, t, m).distance);
                }
                unit.end = batch.end;
                unit.batch = run++;
                k = batch.end - 1;
            } else {
                unit.end = k + 1;
                unit.batch = kNoBatchRun;
            }
        }
    }
    DrawUnits(device, *set, units, additive, empty);
    if (!empty) return;
    for (size_t t = 0; t < set->lists.size(); ++t) {
        if (InPhase(static_cast<uint32_t>(t), additive)) set->lists[t].used = 0;
    }
}

void CRenderer::DrawUnits(IDirect3DDevice9* device, const RenderCacheSet& set, uint32_t count, bool additive,
                          bool countItems) {
    DrawUnit* units = drawUnits_.data();
    if (!additive) {
        // Nearest first; ties in list order, so every run draws alike.
        std::sort(units, units + count, [](const DrawUnit& a, const DrawUnit& b) {
            if (a.distance != b.distance) return a.distance < b.distance;
            return a.list != b.list ? a.list < b.list : a.first < b.first;
        });
    }
    uint32_t boundList = 0xFFFFFFFFu;
    for (uint32_t u = 0; u < count; ++u) {
        const DrawUnit& unit = units[u];
        const RenderList& list = set.lists[unit.list];
        if (unit.list != boundList) {
            boundList = unit.list;
            const RenderItem& first = list.items[0];
            if (first.surfaceTexture != nullptr) device->SetTexture(0, first.surfaceTexture);
            else g_videoSystem.BindFallbackTexture(0);
        }
        const RenderItem& item = ItemAt(list, unit.list, unit.first);
        if (cullApplied_ != kNoCullMode) {
            // Merged runs hold fans and lists only, so the head's kind is theirs.
            const DWORD mode = CullModeFor(Sides(unit.list), item.primitiveType);
            if (mode != cullApplied_) {
                device->SetRenderState(D3DRS_CULLMODE, mode);
                cullApplied_ = mode;
            }
        }
        if (item.lightmapTexture != nullptr) device->SetTexture(1, item.lightmapTexture);
        else g_videoSystem.BindFallbackTexture(1);
        device->SetStreamSource(0, item.vertexBuffer, 0, sizeof(GpuVertex));
        if (unit.batch != kNoBatchRun) {
            // The whole run at once: its indices are absolute vertex numbers.
            const BatchRun& batch = batchRuns_[unit.batch];
            device->SetIndices(batchIndices_);
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, batch.lowestVertex,
                                         batch.highestVertex - batch.lowestVertex + 1, batch.startIndex,
                                         batch.triangles);
            // Paths that draw the caches twice count each item once.
            if (countItems) itemsDrawn_ += batch.end - batch.first;
            continue;
        }
        if (!DrawItem(device, item)) continue;
        if (countItems) ++itemsDrawn_;
    }
}

bool CRenderer::DrawItem(IDirect3DDevice9* device, const RenderItem& item) {
    if (item.indexBuffer != nullptr) device->SetIndices(item.indexBuffer);
    const UINT itemCount = static_cast<UINT>(item.count);
    switch (item.primitiveType) {
        case D3DPT_TRIANGLELIST:
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, item.baseVertex, 0, itemCount,
                                         static_cast<UINT>(item.startIndex), itemCount / 3);
            return true;
        case D3DPT_TRIANGLESTRIP:
            device->DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, item.baseVertex, 0, itemCount, 0, itemCount - 2);
            return true;
        case D3DPT_TRIANGLEFAN:
            device->DrawPrimitive(D3DPT_TRIANGLEFAN, static_cast<UINT>(item.baseVertex), itemCount - 2);
            return true;
        default:
            return false;
    }
}

bool CRenderer::PrepareStageShaders(IDirect3DDevice9* device) {
    if (stageShadersTried_) return stageShadersReady_;
    stageShadersTried_ = true;
    stageVs_ = CreateOptionalVertexShader(device, kMaterialShaderFile, "stage_vs");
    stagePs_ = CreateOptionalPixelShader(device, kMaterialShaderFile, "stage_ps");
    stageBrightPs_ = CreateOptionalPixelShader(device, kMaterialShaderFile, "stage_bright_ps");
    fogVs_ = CreateOptionalVertexShader(device, kMaterialShaderFile, "fog_vs");
    stageShadersReady_ = stageVs_ != nullptr && stagePs_ != nullptr && stageBrightPs_ != nullptr && fogVs_ != nullptr;
    // Without them the worlds are drawn as image times lightmap.
    if (!stageShadersReady_) {
        PrintLine("Warning: %s lacks the material shaders; worlds are drawn as image times lightmap",
                  kMaterialShaderFile);
    }
    return stageShadersReady_;
}

void CRenderer::DrawMaterials(IDirect3DDevice9* device, bool empty) {
    // Every item of every list with a material, keyed by its sort; opaque
    // materials keep their lists together (drawn nearest first within),
    // the others go farthest first.
    uint32_t count = 0;
    RenderCacheSet* sets[2] = {&mainSet_, &tgaSet_};
    for (int s = 0; s < 2; ++s) {
        RenderCacheSet& set = *sets[s];
        for (size_t t = 0; t < set.lists.size(); ++t) {
            if (!HasMaterial(static_cast<uint32_t>(t))) continue;
            const Material& material = *materials_[t];
            const RenderList& list = set.lists[t];
            for (uint32_t k = 0; k < list.used && count < kDrawUnitCapacity; ++k) {
                const RenderItem& item = list.items[k];
                if (item.count < 1) break;
                MaterialUnit& unit = materialUnits_[count++];
                unit.sort = material.sort;
                unit.distance = material.opaque ? item.distance : -item.distance;
                unit.list = static_cast<uint32_t>(t) | (s == 1 ? 0x80000000u : 0u);
                unit.item = k;
            }
        }
    }
    MaterialUnit* units = materialUnits_.data();
    std::sort(units, units + count, [this](const MaterialUnit& a, const MaterialUnit& b) {
        if (a.sort != b.sort) return a.sort < b.sort;
        const bool opaque = materials_[a.list & 0x7FFFFFFFu]->opaque;
        if (opaque && a.list != b.list) return a.list < b.list;
        if (a.distance != b.distance) return a.distance < b.distance;
        return a.list != b.list ? a.list < b.list : a.item < b.item;
    });

    // What the path had bound: the world's shaders, or its bright pass.
    const BoundShaders bound(device);
    CVideoSystem* video = GetVideoSystem();
    const bool bright = video != nullptr && bound.Pixel() != nullptr &&
                        bound.Pixel() == video->Shaders().Pixel(kShaderHdrPrePs);
    device->SetVertexShader(stageVs_);
    PlanMaterialDraws(count);

    for (uint32_t first = 0; first < count;) {
        uint32_t end = first + 1;
        while (end < count && units[end].list == units[first].list) ++end;
        if (cloudsPending_ && units[first].sort > static_cast<float>(kSortOpaque)) {
            DrawPendingClouds(device);
            device->SetVertexShader(stageVs_);
        }
        DrawMaterialRun(device, first, end, bright, empty);
        first = end;
    }

    SetOpaqueState(device);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    device->SetRenderState(D3DRS_DEPTHBIAS, 0);
    device->SetRenderState(D3DRS_SLOPESCALEDEPTHBIAS, 0);
    SetWrapAddress(device, 0);
    SetClampAddress(device, 1);
    if (!empty) return;
    for (int s = 0; s < 2; ++s) {
        RenderCacheSet& set = *sets[s];
        for (size_t t = 0; t < set.lists.size(); ++t) {
            if (HasMaterial(static_cast<uint32_t>(t))) set.lists[t].used = 0;
        }
    }
}

void CRenderer::PlanMaterialDraws(uint32_t count) {
    MaterialUnit* units = materialUnits_.data();
    for (uint32_t u = 0; u < count; ++u) units[u].draw = kNoBatchRun;
    materialDrawCount_ = 0;
    if (batchIndices_ == nullptr) return;
    const auto itemOf = [this](const MaterialUnit& unit) -> const RenderItem& {
        const RenderCacheSet& set = (unit.list & 0x80000000u) ? tgaSet_ : mainSet_;
        return set.lists[unit.list & 0x7FFFFFFFu].items[unit.item];
    };
    // An opaque material's faces may be drawn in any order: those of one
    // vertex buffer and lightmap are put next to each other, in the order
    // their first one comes (so that every run orders them alike).
    for (uint32_t first = 0; first < count;) {
        uint32_t end = first + 1;
        while (end < count && units[end].list == units[first].list) ++end;
        if (materials_[units[first].list & 0x7FFFFFFFu]->opaque && end - first >= kBatchMinItems) {
            constexpr uint32_t kGroups = 64;
            FirstUseGroups<kGroups> groups;
            for (uint32_t u = first; u < end; ++u) units[u].group = groups.Of(itemOf(units[u]));
            // Stable, and without the buffer a stable sort would ask for.
            uint32_t start[kGroups + 1] = {};
            for (uint32_t u = first; u < end; ++u) ++start[units[u].group + 1];
            for (uint32_t g = 0; g < kGroups; ++g) start[g + 1] += start[g];
            MaterialUnit* scratch = materialScratch_.data();
            for (uint32_t u = first; u < end; ++u) scratch[start[units[u].group]++] = units[u];
            std::copy(scratch, scratch + (end - first), units + first);
        }
        first = end;
    }
    // Runs of following faces of one material, vertex buffer and lightmap
    // become one draw each.
    uint32_t used = 0;
    for (uint32_t u = 0; u < count && materialDrawCount_ < kBatchRunCapacity;) {
        const RenderItem& head = itemOf(units[u]);
        if (!Mergeable(head)) {
            ++u;
            continue;
        }
        uint32_t end = u + 1;
        uint32_t indices = BatchIndexCount(head);
        while (end < count && units[end].list == units[u].list) {
            const RenderItem& next = itemOf(units[end]);
            if (next.vertexBuffer != head.vertexBuffer || next.lightmapTexture != head.lightmapTexture ||
                !Mergeable(next) || indices + BatchIndexCount(next) > kBatchIndexCapacity - used) {
                break;
            }
            indices += BatchIndexCount(next);
            ++end;
        }
        if (end - u >= kBatchMinItems && indices <= kBatchIndexCapacity - used) {
            BatchRun& draw = batchRuns_[materialDrawCount_];
            draw.first = u;
            draw.end = end;
            draw.startIndex = used;
            draw.triangles = indices / 3;
            for (uint32_t k = u; k < end; ++k) units[k].draw = materialDrawCount_;
            ++materialDrawCount_;
            used += indices;
        }
        u = end;
    }
    if (materialDrawCount_ == 0) return;
    void* data = nullptr;
    if (FAILED(batchIndices_->Lock(0, used * 4, &data, D3DLOCK_DISCARD)) || data == nullptr) {
        for (uint32_t u = 0; u < count; ++u) units[u].draw = kNoBatchRun;
        materialDrawCount_ = 0;
        return;
    }
    uint32_t* out = static_cast<uint32_t*>(data);
    for (uint32_t d = 0; d < materialDrawCount_; ++d) {
        BatchRun& draw = batchRuns_[d];
        uint32_t lowest = 0xFFFFFFFFu;
        uint32_t highest = 0;
        for (uint32_t k = draw.first; k < draw.end; ++k) {
            const RenderItem& item = itemOf(units[k]);
            out = WriteBatchIndices(item, out, &lowest, &highest);
        }
        draw.lowestVertex = lowest;
        draw.highestVertex = highest;
    }
    batchIndices_->Unlock();
}

void CRenderer::DrawMaterialRun(IDirect3DDevice9* device, uint32_t first, uint32_t end, bool bright,
                                bool countItems) {
    const uint32_t texture = materialUnits_[first].list & 0x7FFFFFFFu;
    const RenderCacheSet& set = (materialUnits_[first].list & 0x80000000u) ? tgaSet_ : mainSet_;
    const RenderList& list = set.lists[texture];
    const Material& material = *materials_[texture];
    const double now = g_operatingSystem.FrameTime();
    const D3DXVECTOR3& eyePosition = g_camera.GetPosition();
    const float eye[3] = {eyePosition.x, eyePosition.y, eyePosition.z};
    // Decals are pulled a little towards the eye, so that they win over
    // the wall they lie on.
    const float bias = material.polygonOffset ? -1.0f / 65536.0f : 0.0f;
    const float slope = material.polygonOffset ? -1.0f : 0.0f;
    DWORD biasBits = 0, slopeBits = 0;
    std::memcpy(&biasBits, &bias, sizeof biasBits);
    std::memcpy(&slopeBits, &slope, sizeof slopeBits);
    device->SetRenderState(D3DRS_DEPTHBIAS, biasBits);
    device->SetRenderState(D3DRS_SLOPESCALEDEPTHBIAS, slopeBits);
    // nomipmaps: the full-size image at every distance.
    DWORD mipFilter = D3DTEXF_LINEAR;
    if (material.noMipmaps) {
        device->GetSamplerState(0, D3DSAMP_MIPFILTER, &mipFilter);
        device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
    }

    for (int s = 0; s < material.stageCount; ++s) {
        const MaterialStage& stage = material.stages[s];
        const ShaderScriptStage& script = stage.script;
        StageConstants constants;
        ComputeStageConstants(material, stage, now, eye, &constants);
        device->SetVertexShaderConstantF(kStageFirstRegister, &constants.vertex[0][0], kStageVertexRegisters);
        device->SetVertexShaderConstantF(kStageNormalRegister, constants.normal, 1);
        device->SetPixelShaderConstantF(kStagePixelRegister, &constants.pixel[0][0], kStagePixelRegisters);
        const bool blend = !(script.sourceFactor == BlendFactor::kOne && script.destinationFactor == BlendFactor::kZero);
        const bool multiplies = script.sourceFactor == BlendFactor::kDestinationColor ||
                                script.destinationFactor == BlendFactor::kSourceColor;
        device->SetPixelShader(bright && !multiplies ? stageBrightPs_ : stagePs_);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, blend ? TRUE : FALSE);
        device->SetRenderState(D3DRS_SRCBLEND, DeviceBlend(script.sourceFactor));
        device->SetRenderState(D3DRS_DESTBLEND, DeviceBlend(script.destinationFactor));
        device->SetRenderState(D3DRS_ZWRITEENABLE, !blend || script.depthWrite ? TRUE : FALSE);
        device->SetRenderState(D3DRS_ZFUNC, script.depthEqual ? D3DCMP_EQUAL : D3DCMP_LESSEQUAL);
        const bool lightmap = stage.image == MaterialStage::Image::kLightmap;
        if (lightmap || script.clamp) SetClampAddress(device, 0);
        else SetWrapAddress(device, 0);
        if (stage.image == MaterialStage::Image::kTexture) {
            IDirect3DTexture9* frame = stage.frames[StageFrameAt(stage, now)];
            if (frame != nullptr) device->SetTexture(0, frame);
            else g_videoSystem.BindFallbackTexture(0);
        } else if (stage.image == MaterialStage::Image::kWhite) {
            device->SetTexture(0, whiteTexture_);
        }
        for (uint32_t u = first; u < end; ++u) {
            const RenderItem& item = list.items[materialUnits_[u].item];
            const uint32_t merged = materialUnits_[u].draw;
            if (cullApplied_ != kNoCullMode) {
                const DWORD mode = CullModeFor(material.sides, item.primitiveType);
                if (mode != cullApplied_) {
                    device->SetRenderState(D3DRS_CULLMODE, mode);
                    cullApplied_ = mode;
                }
            }
            if (lightmap) {
                if (item.lightmapTexture != nullptr) device->SetTexture(0, item.lightmapTexture);
                else device->SetTexture(0, whiteTexture_);
            }
            device->SetStreamSource(0, item.vertexBuffer, 0, sizeof(GpuVertex));
            if (merged != kNoBatchRun && merged < materialDrawCount_ && batchRuns_[merged].first == u) {
                // The faces of one buffer and lightmap that follow, at once.
                const BatchRun& draw = batchRuns_[merged];
                device->SetIndices(batchIndices_);
                device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, draw.lowestVertex,
                                             draw.highestVertex - draw.lowestVertex + 1, draw.startIndex,
                                             draw.triangles);
                if (s == 0 && countItems) itemsDrawn_ += draw.end - draw.first;
                u = std::min(draw.end, end) - 1;
                continue;
            }
            if (DrawItem(device, item) && s == 0 && countItems) ++itemsDrawn_;
        }
    }
    if (material.noMipmaps) device->SetSamplerState(0, D3DSAMP_MIPFILTER, mipFilter);
}

void CRenderer::PlanBatches(const RenderCacheSet& set, bool additive) {
    batchRunCount_ = 0;
    for (size_t t = 0; t < set.lists.size() && t < batchOrderStart_.size(); ++t) batchOrderStart_[t] = kNoBatchOrder;
    if (batchIndices_ == nullptr || batchOrderStart_.size() < set.lists.size()) return;
    uint32_t used = 0;
    uint32_t ordered = 0;
    for (size_t t = 0; t < set.lists.size() && batchRunCount_ < kBatchRunCapacity; ++t) {
        if (!InPhase(static_cast<uint32_t>(t), additive)) continue;
        const RenderList& list = set.lists[t];
        // The items drawn: those before the first item with count 0.
        uint32_t live = 0;
        while (live < list.used && list.items[live].count >= 1) ++live;
        if (live < kBatchMinItems) continue;
        if (live <= kBatchOrderCapacity - ordered) {
            // Items of one vertex buffer and lightmap next to each other, in
            // gathering order among themselves; the groups in the order of
            // their first item, so that the order is the same in every run
            // whatever addresses the buffers and lightmaps have.
            uint16_t* order = batchOrder_.data() + ordered;
            uint16_t* group = batchGroup_.data() + ordered;
            const RenderItem* items = list.items.data();
            FirstUseGroups<256> groups;
            for (uint32_t i = 0; i < live; ++i) {
                order[i] = static_cast<uint16_t>(i);
                group[i] = static_cast<uint16_t>(groups.Of(items[i]));
            }
            std::sort(order, order + live, [group](uint16_t a, uint16_t b) {
                return group[a] != group[b] ? group[a] < group[b] : a < b;
            });
            batchOrderStart_[t] = ordered;
            batchOrderCount_[t] = live;
            ordered += live;
        }
        uint32_t k = 0;
        while (k < live && batchRunCount_ < kBatchRunCapacity) {
            const RenderItem& head = ItemAt(list, t, k);
            if (!Mergeable(head)) {
                ++k;
                continue;
            }
            // The run: following items of the same buffer and lightmap, up to
            // the room left in the buffer.
            uint32_t end = k + 1;
            uint32_t indices = BatchIndexCount(head);
            while (end < live) {
                const RenderItem& next = ItemAt(list, t, end);
                if (next.vertexBuffer != head.vertexBuffer || next.lightmapTexture != head.lightmapTexture ||
                    !Mergeable(next) || indices + BatchIndexCount(next) > kBatchIndexCapacity - used) {
                    break;
                }
                indices += BatchIndexCount(next);
                ++end;
            }
            if (end - k >= kBatchMinItems && indices <= kBatchIndexCapacity - used) {
                BatchRun& batch = batchRuns_[batchRunCount_++];
                batch.list = static_cast<uint32_t>(t);
                batch.first = k;
                batch.end = end;
                batch.startIndex = used;
                batch.triangles = indices / 3;
                used += indices;
            }
            k = end;
        }
    }
    if (batchRunCount_ == 0) return;

    // Only the part written is locked, so only that part is sent and checked.
    void* data = nullptr;
    if (FAILED(batchIndices_->Lock(0, used * 4, &data, D3DLOCK_DISCARD)) || data == nullptr) {
        batchRunCount_ = 0;
        return;
    }
    uint32_t* out = static_cast<uint32_t*>(data);
    for (uint32_t r = 0; r < batchRunCount_; ++r) {
        BatchRun& batch = batchRuns_[r];
        const RenderList& list = set.lists[batch.list];
        uint32_t lowest = 0xFFFFFFFFu;
        uint32_t highest = 0;
        for (uint32_t k = batch.first; k < batch.end; ++k) {
            out = WriteBatchIndices(ItemAt(list, batch.list, k), out, &lowest, &highest);
        }
        batch.lowestVertex = lowest;
        batch.highestVertex = highest;
    }
    batchIndices_->Unlock();
}

void CRenderer::ShowLoadingScreen(const char* text) {
    if (loadingImage_ == nullptr || g_operatingSystem.WindowHeight() > 720) return;
    CVideoSystem* video = GetVideoSystem();
    IDirect3DDevice9* device = video != nullptr ? video->GetDevice() : nullptr;
    if (device == nullptr) return;
    SetSolidState(device);
    SetPointFilter(device, 0);
    SetPointFilter(device, 1);
    BindDefaultShaders();
    video->BeginFrame();
    device->SetTexture(0, loadingImage_);
    video->DrawQuadStrip(quad_, 4);
    if (text != nullptr && text[0] != '\0') DrawOverlayText(10.0f, 10.0f, 0xFFFFFFFF, "%s", text);
    video->EndFrame();
}

void SetupRenderCaches(uint32_t textureCount) { g_renderer.SetupRenderCaches(textureCount); }

void SetRenderCacheAdditive(uint32_t textureIndex) { g_renderer.SetAdditive(textureIndex); }

void SetRenderCacheAdditiveDrawing(bool on) { g_renderer.SetAdditiveDrawing(on); }

void SetRenderCacheFaceSides(uint32_t textureIndex, FaceSides sides) { g_renderer.SetFaceSides(textureIndex, sides); }

void SetRenderCacheCulling(bool on) { g_renderer.SetCulling(on); }

RenderItem* AllocateRenderItem(uint32_t textureIndex, uint32_t flags) {
    return g_renderer.AllocateRenderItem(textureIndex, flags);
}

void ShowLoadingMessage(const char* format, ...) {
    char text[260];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ShowStatusText(text);
    g_renderer.ShowLoadingScreen(text);
}
