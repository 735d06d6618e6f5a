#include "video/world_pictures.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/message_output.h"
#include "base/paths.h"
#include "video/d3d9/d3dx9.h"
#include "video/image_decode_queue.h"
#include "video/renderer.h"
#include "video/shader_library.h"
#include "video/shader_scripts.h"
#include "video/video_cvars.h"
#include "video/video_system.h"
#include "world/world_parse.h"
#include "world/world_cvars.h"

namespace {

const char* CreateFailureWord(HRESULT result) {
    switch (result) {
        case D3DERR_INVALIDCALL:
            return "Invalid Call";
        case D3DERR_OUTOFVIDEOMEMORY:
            return "Out of Vid Mem";
        case E_OUTOFMEMORY:
            return "out of mem";
        default:
            return nullptr;
    }
}

template <typename T>
void Free(std::vector<T>* array) {
    std::vector<T>().swap(*array);
}

// Surface flags the map compiler copies from a texture's shader.
constexpr int32_t kSurfaceSky = 0x4;
constexpr int32_t kSurfaceNoDraw = 0x80;

// An image named by a script, without the extension it was named with:
// scripts often name a ".tga" and the archives ship a ".jpg", or the other
// way round.
std::string ImageBase(const std::string& image) {
    const size_t slash = image.find_last_of("/\\");
    const size_t dot = image.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return image;
    return image.substr(0, dot);
}

// What the texture's shader says about drawing its faces.
void ReadSurfaceKind(const BspTexture& record, const ShaderDefinition* shader, WorldTexture* entry) {
    entry->hidden = (record.surfaceFlags & (kSurfaceSky | kSurfaceNoDraw)) != 0 ||
                    (shader != nullptr && (shader->nodraw || shader->sky || shader->fog || shader->portal));
    entry->additive = shader != nullptr && FirstDrawnStageBlend(*shader) == BlendKind::kAdditive;
    entry->fullBright = shader != nullptr && !AsksForVertexLight(*shader);
    entry->sides = shader != nullptr ? shader->sides : FaceSides::kFront;
}

// The files a texture record may be drawn from, in the order they are tried:
// the record's name as ".tga", then ".jpg"; then the image its shader script
// draws (the first stage that is not the lightmap, else the editor image),
// again as ".tga" or ".jpg".
std::vector<std::string> TextureCandidates(const BspTexture& record, const ShaderDefinition* shader) {
    std::string name = RecordName(record);
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    std::vector<std::string> candidates = {name + ".tga", name + ".jpg"};
    if (shader != nullptr) {
        for (const std::string& image : {ShaderImage(*shader), shader->editorImage}) {
            if (image.empty()) continue;
            const std::string base = ImageBase(image);
            candidates.push_back(base + ".tga");
            candidates.push_back(base + ".jpg");
        }
    }
    return candidates;
}

bool EndsWithTga(const std::string& name) {
    return name.size() >= 4 && ::strcasecmp(name.c_str() + name.size() - 4, ".tga") == 0;
}

// A texture made from the first of a list of image files that loads.
struct LoadedImage {
    IDirect3DTexture9* texture = nullptr;
    size_t candidate = 0;  // which file it came from
};

// Loads, for each list of candidate files, the first file that loads. The
// files are opened here, in list order; reading and decoding them runs on
// worker threads a few lists ahead, and the decoded images are made into textures here, in
// list order again. The outcome is that of trying each list's files one after
// another: a file that exists but does not decode falls through to the next.
std::vector<LoadedImage> LoadFirstImages(IDirect3DDevice9* device,
                                         const std::vector<std::vector<std::string>>& candidates) {
    const size_t count = candidates.size();
    std::vector<LoadedImage> loaded(count);
    std::vector<size_t> queuedFile(count);
    // Decoded images waiting for their turn cost memory: keep few ahead.
    const size_t kAhead = 4;
    ImageDecodeQueue queue(D3DXMaxTextureSide(device), ImageDecodeQueue::DefaultWorkers());
    size_t queued = 0;
    for (size_t i = 0; i < count; ++i) {
        for (; queued < count && queued <= i + kAhead; ++queued) {
            const std::vector<std::string>& files = candidates[queued];
            queuedFile[queued] = files.size();
            for (size_t c = 0; c < files.size(); ++c) {
                if (std::FILE* file = OpenFile(files[c].c_str(), "rb")) {
                    queuedFile[queued] = c;
                    queue.Submit(queued, file);
                    break;
                }
            }
        }
        size_t used = queuedFile[i];
        if (used >= candidates[i].size()) continue;
        IDirect3DTexture9* texture = nullptr;
        D3DXDecodedImage image;
        if (FAILED(queue.Take(i, &image)) || FAILED(D3DXCreateTextureFromImage(device, image, &texture))) {
            texture = nullptr;
            for (++used; used < candidates[i].size(); ++used) {
                if (SUCCEEDED(D3DXCreateTextureFromFileA(device, candidates[i][used].c_str(), &texture))) break;
                texture = nullptr;
            }
        }
        loaded[i] = LoadedImage{texture, used};
    }
    return loaded;
}

// Says which texture record found no image and under which names it was
// looked for, so that the user can supply one. Each name was tried as ".tga"
// and ".jpg" (TextureCandidates).
std::string MissingImageLine(size_t index, const std::string& name, const std::vector<std::string>& tried) {
    std::string line = "Texture " + std::to_string(index) + " is " + name + "; tried";
    for (size_t c = 0; c < tried.size(); c += 2) line += (c == 0 ? " " : ", ") + ImageBase(tried[c]);
    line += " as .tga and .jpg";
    return PrintableBytes(line.data(), line.size());
}

// Loads every texture record's image (see TextureCandidates) and reads how
// its faces are drawn.
int32_t LoadWorldTextures(IDirect3DDevice9* device, const ShaderTable& shaders, const WorldData& data,
                          WorldPictures* pictures) {
    const size_t count = pictures->textures.size();
    std::vector<const ShaderDefinition*> recordShaders(count);
    std::vector<std::vector<std::string>> candidates(count);
    for (size_t i = 0; i < count; ++i) {
        const BspTexture& record = data.textureRecords[i];
        recordShaders[i] = shaders.Find(RecordName(record));
        candidates[i] = TextureCandidates(record, recordShaders[i]);
    }
    const std::vector<LoadedImage> images = LoadFirstImages(device, candidates);
    int32_t loaded = 0;
    for (size_t i = 0; i < count; ++i) {
        WorldTexture& entry = pictures->textures[i];
        entry.texture = images[i].texture;
        if (entry.texture != nullptr) entry.file = candidates[i][images[i].candidate];
        entry.fromTga = entry.texture != nullptr && EndsWithTga(entry.file);
        ReadSurfaceKind(data.textureRecords[i], recordShaders[i], &entry);
        if (entry.texture != nullptr) {
            ++loaded;
        } else {
            PrintLine("Failed to load texture %i", static_cast<int32_t>(i));
            PrintLine("%s", MissingImageLine(i, RecordName(data.textureRecords[i]), candidates[i]).c_str());
        }
    }
    return loaded;
}

// The box of the first sky shader that names one: its _rt, _ft, _lf, _bk and
// _up images on the renderer's faces (the file's Z is our Y, so _rt faces +X,
// _ft -Z, _lf -X, _bk +Z and _up +Y). All five or none.
void LoadSkyBox(IDirect3DDevice9* device, const ShaderTable& shaders, const WorldData& data, WorldPictures* pictures) {
    for (const BspTexture& record : data.textureRecords) {
        const ShaderDefinition* shader = shaders.Find(RecordName(record));
        if (shader == nullptr || !shader->sky || shader->skyBox.empty() ||
            ::strcasecmp(shader->skyBox.c_str(), "full") == 0) {
            continue;
        }
        // In the renderer's face order: -Z, +Z, +X, -X, +Y.
        static constexpr const char* kSuffixes[kWorldSkyFaces] = {"_ft", "_bk", "_rt", "_lf", "_up"};
        std::vector<std::vector<std::string>> candidates;
        for (const char* suffix : kSuffixes) {
            const std::string base = shader->skyBox + suffix;
            candidates.push_back({base + ".tga", base + ".jpg"});
        }
        const std::vector<LoadedImage> images = LoadFirstImages(device, candidates);
        for (int face = 0; face < kWorldSkyFaces; ++face) pictures->sky[face] = images[face].texture;
        for (int face = 0; face < kWorldSkyFaces; ++face) {
            if (images[face].texture != nullptr) continue;
            PrintLine("Warning: the sky box %s has no image %s%s; the engine's sky is drawn", shader->skyBox.c_str(),
                      shader->skyBox.c_str(), kSuffixes[face]);
            for (IDirect3DTexture9*& loaded : pictures->sky) {
                if (loaded != nullptr) loaded->Release();
                loaded = nullptr;
            }
            return;
        }
        pictures->skyName = shader->skyBox;
        return;
    }
}

// The cloud layers of the first sky shader that has any: each stage that
// draws an image (not the lightmap, not a white image), up to kMaxSkyLayers,
// with its blend, tcMod scale and scroll, and colour. A layer whose image
// is missing is left out with one line for the shader.
void LoadSkyClouds(IDirect3DDevice9* device, const ShaderTable& shaders, const WorldData& data,
                   WorldPictures* pictures) {
    for (const BspTexture& record : data.textureRecords) {
        const ShaderDefinition* shader = shaders.Find(RecordName(record));
        if (shader == nullptr || !shader->sky) continue;
        std::vector<const ShaderScriptStage*> stages;
        std::vector<std::vector<std::string>> candidates;
        for (const ShaderScriptStage& stage : shader->stages) {
            if (stages.size() == static_cast<size_t>(kMaxSkyLayers)) break;
            if (stage.map.empty() || stage.isLightmap || stage.isWhiteImage) continue;
            const std::string base = ImageBase(stage.map);
            stages.push_back(&stage);
            candidates.push_back({base + ".tga", base + ".jpg"});
        }
        if (stages.empty()) continue;
        const std::vector<LoadedImage> images = LoadFirstImages(device, candidates);
        std::string missing;
        for (size_t i = 0; i < stages.size(); ++i) {
            if (images[i].texture == nullptr) {
                missing += (missing.empty() ? "" : ", ") + ImageBase(stages[i]->map);
                continue;
            }
            const ShaderScriptStage& stage = *stages[i];
            SkyLayer& layer = pictures->clouds[pictures->cloudCount++];
            layer.texture = images[i].texture;
            layer.sourceFactor = stage.sourceFactor;
            layer.destinationFactor = stage.destinationFactor;
            layer.motionCount = stage.motionCount;
            for (int m = 0; m < stage.motionCount; ++m) layer.motions[m] = stage.motions[m];
            for (int c = 0; c < 3; ++c) layer.colour[c] = stage.colour[c];
            layer.alpha = stage.alpha;
        }
        pictures->cloudHeight = shader->cloudHeight;
        if (!missing.empty() && r_materials.intValue != 0) {
            const std::string line = "Warning: the sky " + shader->name + " has no image " + missing +
                                     "; its clouds there are left out";
            PrintLine("%s", PrintableBytes(line.data(), line.size()).c_str());
        }
        return;
    }
}

// The images a stage draws: its animation frames, or its one map ("" none).
std::vector<std::string> StageImages(const ShaderScriptStage& stage) {
    if (!stage.frames.empty()) return stage.frames;
    if (stage.map.empty()) return {};
    return {stage.map};
}

// The materials of the texture records whose shader draws more than its
// image times the lightmap (see IsPlainLightmapped). Each stage's images
// are loaded once per world, however many stages name them; a stage
// whose image is missing is left out, and a shader left without stages
// is drawn as image times lightmap.
void LoadWorldMaterials(IDirect3DDevice9* device, const ShaderTable& shaders, const WorldData& data,
                        WorldPictures* pictures) {
    const size_t count = pictures->textures.size();
    pictures->materials.assign(count, Material{});
    // Every image by its lower-case base: the records' own first, so that a
    // stage drawing a record's image shares its texture instead of loading
    // the file again.
    std::unordered_map<std::string, IDirect3DTexture9*> loaded;
    for (const WorldTexture& entry : pictures->textures) {
        if (entry.texture != nullptr) loaded.emplace(ShaderNameKey(ImageBase(entry.file)), entry.texture);
    }
    std::vector<const ShaderDefinition*> recordShaders(count, nullptr);
    std::vector<std::string> names;                 // each image to load, once
    for (size_t i = 0; i < count; ++i) {
        if (pictures->textures[i].hidden) continue;
        const ShaderDefinition* shader = shaders.Find(RecordName(data.textureRecords[i]));
        if (shader == nullptr || DrawnStageCount(*shader) == 0 || IsPlainLightmapped(*shader)) continue;
        recordShaders[i] = shader;
        for (const ShaderScriptStage& stage : shader->stages) {
            if (stage.isLightmap || stage.isWhiteImage) continue;
            for (const std::string& image : StageImages(stage)) {
                if (loaded.emplace(ShaderNameKey(ImageBase(image)), nullptr).second) names.push_back(ImageBase(image));
            }
        }
    }
    std::vector<std::vector<std::string>> candidates;
    candidates.reserve(names.size());
    for (const std::string& name : names) candidates.push_back({name + ".tga", name + ".jpg"});
    const std::vector<LoadedImage> images = LoadFirstImages(device, candidates);
    pictures->materialImages.reserve(images.size());
    for (size_t n = 0; n < names.size(); ++n) {
        pictures->materialImages.push_back(images[n].texture);
        loaded[ShaderNameKey(names[n])] = images[n].texture;
    }

    int32_t made = 0;
    for (size_t i = 0; i < count; ++i) {
        const ShaderDefinition* shader = recordShaders[i];
        if (shader == nullptr) continue;
        Material& material = pictures->materials[i];
        for (const ShaderScriptStage& stage : shader->stages) {
            if (material.stageCount == kMaxMaterialStages) break;
            if (!StageDraws(stage)) continue;
            MaterialStage& out = material.stages[material.stageCount];
            out = MaterialStage{};
            out.script = stage;
            if (stage.isLightmap) {
                out.image = MaterialStage::Image::kLightmap;
            } else if (stage.isWhiteImage) {
                out.image = MaterialStage::Image::kWhite;
            } else {
                out.image = MaterialStage::Image::kTexture;
                for (const std::string& image : StageImages(stage)) {
                    if (out.frameCount == ShaderScriptStage::kMaxFrames) break;
                    const auto found = loaded.find(ShaderNameKey(ImageBase(image)));
                    if (found != loaded.end() && found->second != nullptr) out.frames[out.frameCount++] = found->second;
                }
                if (out.frameCount == 0) continue;
            }
            ++material.stageCount;
        }
        if (material.stageCount == 0) continue;
        ReadMaterialShader(*shader, &material);
        ++made;
    }
    if (made > 0) PrintLine("Materials: %i of %i textures drawn by their shader stages", made, static_cast<int32_t>(count));
}

}  // namespace

void BuildWorldFogs(const WorldData& data, WorldPictures* pictures) {
    const ShaderTable& shaders = WorldShaders();
    pictures->fogVolumes.assign(std::min<size_t>(data.fogs.size(), kMaxFogVolumes), FogVolume{});
    int32_t drawn = 0;
    for (size_t i = 0; i < pictures->fogVolumes.size(); ++i) {
        const WorldFog& fog = data.fogs[i];
        const ShaderDefinition* shader = shaders.Find(fog.shader);
        if (!fog.usable || shader == nullptr || !(shader->fogOpaqueDistance > 0.0f)) continue;
        FogVolume& volume = pictures->fogVolumes[i];
        std::memcpy(volume.bounds, fog.bounds, sizeof volume.bounds);
        std::memcpy(volume.colour, shader->fogColour, sizeof volume.colour);
        volume.opaqueDistance = shader->fogOpaqueDistance;
        ++drawn;
    }
    if (!data.fogs.empty()) PrintLine("Fog volumes: %i of %i drawn", drawn, static_cast<int32_t>(data.fogs.size()));
}

namespace {

IDirect3DTexture9* CreateWhiteTexture(IDirect3DDevice9* device, uint8_t alpha) {
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr))) return nullptr;
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0)) || locked.pBits == nullptr) {
        texture->Release();
        return nullptr;
    }
    std::memset(locked.pBits, 0xFF, 3);
    static_cast<uint8_t*>(locked.pBits)[3] = alpha;
    texture->UnlockRect(0);
    return texture;
}

// One lightmap's 128x128 RGB bytes into a locked A8R8G8B8 texture, at the
// stored light or (scaled) at the light it means.
void FillLightmap(const uint8_t* rgb, bool scaled, const D3DLOCKED_RECT& locked) {
    for (int row = 0; row < kLightmapSize; ++row) {
        uint8_t* out = static_cast<uint8_t*>(locked.pBits) + static_cast<ptrdiff_t>(row) * locked.Pitch;
        const uint8_t* in = rgb + static_cast<size_t>(row) * kLightmapSize * 3;
        for (int x = 0; x < kLightmapSize; ++x) {
            uint8_t texel[3] = {in[3 * x + 0], in[3 * x + 1], in[3 * x + 2]};
            if (scaled) ScaleStoredLight(in + 3 * x, texel);
            out[4 * x + 0] = texel[2];
            out[4 * x + 1] = texel[1];
            out[4 * x + 2] = texel[0];
            out[4 * x + 3] = 255;
        }
    }
}

void ReleaseAll(std::vector<IDirect3DTexture9*>* textures) {
    for (IDirect3DTexture9* texture : *textures) {
        if (texture != nullptr) texture->Release();
    }
    textures->clear();
}

}  // namespace

void ScaleStoredLight(const uint8_t* rgb, uint8_t* out) {
    int light[3];
    int brightest = 0;
    for (int k = 0; k < 3; ++k) {
        light[k] = rgb[k] * kStoredLightScale;
        brightest = light[k] > brightest ? light[k] : brightest;
    }
    for (int k = 0; k < 3; ++k) {
        out[k] = static_cast<uint8_t>(brightest > 255 ? light[k] * 255 / brightest : light[k]);
    }
}

bool BuildWorldGeometry(const WorldData& data, WorldPictures* pictures) {
    const uint32_t faceCount = static_cast<uint32_t>(data.faces.size());
    try {
        pictures->faceDrawn.assign((faceCount + 7) / 8, 0);
    } catch (const std::bad_alloc&) {
        PrintLine("Error: data allocation failed.");
        return false;
    }

    // Vertices.
    ShowLoadingMessage("Loading vertices...");
    IDirect3DDevice9* device = GetDevice();
    if (device == nullptr) {
        PrintLine("Error: Unable to capture video driver");
        return false;
    }
    const uint32_t vertexCount = static_cast<uint32_t>(data.vertices.size());
    std::vector<GpuVertex> staging;
    try {
        staging.reserve(vertexCount);
    } catch (const std::bad_alloc&) {
        PrintLine("Error: data allocation failed.");
        return false;
    }
    for (size_t v = 0; v < data.vertices.size(); ++v) {
        staging.push_back(ToGpuVertex(data.vertices[v], data.vertexLit[v] != 0));
    }
    pictures->vertexCount = vertexCount;
    const UINT vertexBytes = vertexCount * static_cast<UINT>(sizeof(GpuVertex));
    if (FAILED(device->CreateVertexBuffer(vertexBytes, 0, kGpuVertexFvf, D3DPOOL_DEFAULT, &pictures->vertexBuffer,
                                          nullptr))) {
        pictures->vertexBuffer = nullptr;
        PrintLine("Error: Failed to allocate vertex buffer for world geometry.");
        return false;
    }
    void* locked = nullptr;
    if (SUCCEEDED(pictures->vertexBuffer->Lock(0, 0, &locked, 0)) && locked != nullptr) {
        std::memcpy(locked, staging.data(), vertexBytes);
    }
    if (FAILED(pictures->vertexBuffer->Unlock())) {
        PrintLine("Error: Failed to initialize vertex buffer for world geometry.");
        return false;
    }
    Free(&staging);

    // Mesh vertices: one 32-bit index list. Merged draws read the records'
    // copy (WorldData::meshVertices) instead of locking this buffer.
    ShowLoadingMessage("Loading meshes...");
    const uint32_t meshCount = static_cast<uint32_t>(data.meshVertices.size());
    const UINT indexBytes = meshCount * 4u;
    if (FAILED(device->CreateIndexBuffer(indexBytes, 0, D3DFMT_INDEX32, D3DPOOL_DEFAULT, &pictures->indexBuffer,
                                         nullptr))) {
        pictures->indexBuffer = nullptr;
        PrintLine("Error: Failed to allocate index buffer for world geometry.");
        return false;
    }
    locked = nullptr;
    if (SUCCEEDED(pictures->indexBuffer->Lock(0, 0, &locked, 0)) && locked != nullptr) {
        std::memcpy(locked, data.meshVertices.data(), indexBytes);
    }
    if (FAILED(pictures->indexBuffer->Unlock())) {
        PrintLine("Error: Failed to initialize index buffer for world geometry.");
        return false;
    }

    // Patches.
    ShowLoadingMessage("Loading patches...");
    if (data.patchFaceCount > 0) {
        try {
            pictures->patches.resize(data.patchFaceCount);
        } catch (const std::bad_alloc&) {
            PrintLine("Error: n-patch allocation failed.");
            return false;
        }
        for (size_t f = 0; f < data.faces.size(); ++f) {
            const BspFace& face = data.faces[f];
            // An unusable patch keeps its (empty) entry so that patch indices
            // stay in face order.
            if (face.type != kFacePatch || data.faceUsable[f] == 0) continue;
            const size_t patch = static_cast<size_t>(face.firstVertex);
            BspFace grid = face;
            grid.firstVertex = data.patchFirstVertex[patch];
            if (!BuildPatchEntry(device, grid, data.vertices, &pictures->patches[patch])) return false;
        }
    }
    return true;
}

bool BuildWorldSurfaces(const WorldData& data, WorldPictures* pictures) {
    const size_t textureCount = data.textureRecords.size();
    const uint32_t lightmapCount = data.lightmapCount;
    try {
        pictures->textures.assign(textureCount, WorldTexture{});
        pictures->lightmaps.assign(lightmapCount, nullptr);
        pictures->scaledLightmaps.reserve(lightmapCount);
    } catch (const std::bad_alloc&) {
        PrintLine("Error: Unable to allocate space for textures");
        return false;
    }
    ShowLoadingMessage("Loading textures...");
    IDirect3DDevice9* device = GetDevice();
    if (device == nullptr) {
        PrintLine("Error: Unable to capture video driver");
        return false;
    }
    // The scripts are looked at once per texture record.
    const ShaderTable& shaders = WorldShaders();
    const int32_t loadedTextures = LoadWorldTextures(device, shaders, data, pictures);
    if (loadedTextures > 0) {
        PrintLine("Loaded %i textures", loadedTextures);
    } else {
        PrintLine("Error: Zero textures loaded");
    }
    PrintLine("AnyValid: %i", loadedTextures > 0 ? 1 : 0);

    // Lightmaps: all textures first, then each is filled.
    ShowLoadingMessage("Loading lightmaps...");
    for (uint32_t i = 0; i < lightmapCount; ++i) {
        const HRESULT result = device->CreateTexture(kLightmapSize, kLightmapSize, 1, 0, D3DFMT_A8R8G8B8,
                                                     D3DPOOL_MANAGED, &pictures->lightmaps[i], nullptr);
        if (FAILED(result)) {
            pictures->lightmaps[i] = nullptr;
            if (const char* word = CreateFailureWord(result)) PrintLine("%s", word);
            PrintLine("Error: Unable to load lightmap %i", static_cast<int32_t>(i));
            return false;
        }
    }
    for (uint32_t i = 0; i < lightmapCount; ++i) {
        const uint8_t* rgb = data.lightmapBytes.data() + static_cast<size_t>(i) * kLightmapBytes;
        D3DLOCKED_RECT locked{};
        const HRESULT result = pictures->lightmaps[i]->LockRect(0, &locked, nullptr, 0);
        if (FAILED(result) || locked.pBits == nullptr) {
            PrintLine("Error, hr failed with: 0x%x", static_cast<unsigned>(result));
            return false;
        }
        FillLightmap(rgb, false, locked);
        pictures->lightmaps[i]->UnlockRect(0);
    }
    // Their copies at the light they mean; a world whose copies cannot be
    // made is drawn from the stored lightmaps, as with r_materials 0.
    for (uint32_t i = 0; i < lightmapCount; ++i) {
        IDirect3DTexture9* scaled = nullptr;
        if (FAILED(device->CreateTexture(kLightmapSize, kLightmapSize, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                         &scaled, nullptr))) {
            scaled = nullptr;
        }
        D3DLOCKED_RECT locked{};
        if (scaled != nullptr && (FAILED(scaled->LockRect(0, &locked, nullptr, 0)) || locked.pBits == nullptr)) {
            scaled->Release();
            scaled = nullptr;
        }
        if (scaled == nullptr) {
            ReleaseAll(&pictures->scaledLightmaps);
            break;
        }
        FillLightmap(data.lightmapBytes.data() + static_cast<size_t>(i) * kLightmapBytes, true, locked);
        scaled->UnlockRect(0);
        pictures->scaledLightmaps.push_back(scaled);
    }

    // The light of faces without a lightmap, and the world's own sky.
    pictures->vertexLight = CreateWhiteTexture(device, 0xFF);
    pictures->fullBright = CreateWhiteTexture(device, 0);
    LoadSkyBox(device, shaders, data, pictures);
    LoadSkyClouds(device, shaders, data, pictures);
    ShowLoadingMessage("Loading materials...");
    LoadWorldMaterials(device, shaders, data, pictures);
    return BuildWorldSprites(device, data, pictures->materials, &pictures->sprites);
}

void UseWorldPictures(const WorldPictures& pictures) {
    const uint32_t textureCount = static_cast<uint32_t>(pictures.textures.size());
    SetupRenderCaches(textureCount);
    for (uint32_t i = 0; i < textureCount; ++i) {
        if (pictures.textures[i].additive) SetRenderCacheAdditive(i);
        SetRenderCacheFaceSides(i, pictures.textures[i].sides);
        if (i < pictures.materials.size() && pictures.materials[i].stageCount > 0) {
            g_renderer.SetMaterial(i, &pictures.materials[i]);
        }
    }
    SetRenderCacheAdditiveDrawing(bsp_vertexlit.intValue != 0);
    g_renderer.SetWorldSky(pictures.sky[0] != nullptr ? pictures.sky : nullptr);
    g_renderer.SetWorldClouds(pictures.clouds, pictures.cloudCount, pictures.cloudHeight);
    g_renderer.SetFogVolumes(pictures.fogVolumes.data(), static_cast<uint32_t>(pictures.fogVolumes.size()));
}

void ReleaseWorldPictures(WorldPictures* pictures) {
    for (WorldTexture& entry : pictures->textures) {
        if (entry.texture != nullptr) entry.texture->Release();
    }
    for (IDirect3DTexture9* lightmap : pictures->lightmaps) {
        if (lightmap != nullptr) lightmap->Release();
    }
    Free(&pictures->textures);
    Free(&pictures->lightmaps);
    g_renderer.ForgetMaterials();
    ReleaseWorldSprites(&pictures->sprites);
    g_renderer.SetFogVolumes(nullptr, 0);
    Free(&pictures->fogVolumes);
    for (IDirect3DTexture9* image : pictures->materialImages) {
        if (image != nullptr) image->Release();
    }
    Free(&pictures->materialImages);
    Free(&pictures->materials);
    ReleaseAll(&pictures->scaledLightmaps);
    Free(&pictures->scaledLightmaps);
    if (pictures->vertexLight != nullptr) pictures->vertexLight->Release();
    pictures->vertexLight = nullptr;
    if (pictures->fullBright != nullptr) pictures->fullBright->Release();
    pictures->fullBright = nullptr;
    g_renderer.ForgetWorldSky(pictures->sky);
    for (IDirect3DTexture9*& face : pictures->sky) {
        if (face != nullptr) face->Release();
        face = nullptr;
    }
    pictures->skyName.clear();
    g_renderer.ForgetWorldClouds(pictures->clouds);
    for (SkyLayer& layer : pictures->clouds) {
        if (layer.texture != nullptr) layer.texture->Release();
        layer = SkyLayer();
    }
    pictures->cloudCount = 0;
    pictures->cloudHeight = 128.0f;
    Free(&pictures->patches);  // each sub-patch releases its own buffers
    if (pictures->vertexBuffer != nullptr) pictures->vertexBuffer->Release();
    if (pictures->indexBuffer != nullptr) pictures->indexBuffer->Release();
    pictures->vertexBuffer = nullptr;
    pictures->indexBuffer = nullptr;
    Free(&pictures->faceDrawn);
    pictures->vertexCount = 0;
}

uint64_t WorldPictures::SizeInBytes() const {
    uint64_t bytes = faceDrawn.size();
    // The world buffers, the lightmaps and each sub-patch.
    bytes += static_cast<uint64_t>(vertexCount) * sizeof(GpuVertex);
    bytes += (lightmaps.size() + scaledLightmaps.size()) * static_cast<uint64_t>(kLightmapSize * kLightmapSize * 4);
    constexpr uint64_t kSubPatchBytes = sizeof(SubPatch) + kPatchGridPoints * (sizeof(BspVertex) + sizeof(GpuVertex)) +
                                        kPatchStripVertices * (4 + 2 * sizeof(GpuVertex)) + kPatchStripLength * 4;
    for (const PatchEntry& entry : patches) bytes += entry.subPatches.size() * kSubPatchBytes;
    return bytes;
}
