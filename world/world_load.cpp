// World loading. The whole file is read into memory once; every lump the
// loader uses is checked against the file's size, and every index the tree,
// leaves and brushes carry is checked against its target, before anything is
// built. A world that fails those checks is rejected with a line naming the
// problem. Faces are checked one by one: a face whose own vertex, mesh or
// patch references do not fit is kept but marked unusable (faceUsable = 0)
// and never drawn.
#include <strings.h>

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "camera/camera.h"
#include "base/message_output.h"
#include "base/paths.h"
#include "video/image_decode_queue.h"
#include "video/renderer.h"
#include "video/shader_scripts.h"
#include "video/video_system.h"
#include "world/shader_library.h"
#include "world/world.h"
#include "world/world_cvars.h"

static_assert(std::endian::native == std::endian::little, "world records are read in place as little-endian");

namespace {

constexpr size_t kHeaderBytes = sizeof(BspHeader);
constexpr size_t kDirectoryBytes = kLumpCount * sizeof(BspLumpEntry);

// Record size of each lump; 0 for lumps the loader never reads.
constexpr uint32_t kRecordSize[kLumpCount] = {
    0, sizeof(BspTexture), sizeof(BspPlane), sizeof(BspNode), sizeof(BspLeaf), 4, 4, 0, sizeof(BspBrush),
    sizeof(BspBrushSide), sizeof(BspVertex), 4, 0, sizeof(BspFace), kLightmapBytes, 0, 0};

constexpr const char* kLumpNames[kLumpCount] = {
    "entities", "textures", "planes",   "nodes",       "leaves",   "leaf faces",    "leaf brushes",
    "models",   "brushes",  "brush sides", "vertices", "mesh vertices", "effects", "faces",
    "lightmaps", "light volumes", "visibility"};

bool LumpIsRead(int lump) {
    return lump != kLumpEntities && lump != kLumpModels && lump != kLumpEffects && lump != kLumpLightVolumes;
}

// The file in memory with its directory; every read is a copy out of it.
struct WorldFile {
    std::vector<uint8_t> bytes;
    BspLumpEntry lumps[kLumpCount] = {};

    const uint8_t* LumpData(int lump) const { return bytes.data() + lumps[lump].offset; }
    uint32_t LumpLength(int lump) const { return static_cast<uint32_t>(lumps[lump].length); }
    // Whole records in the lump; a trailing partial record is ignored.
    uint32_t Count(int lump) const { return LumpLength(lump) / kRecordSize[lump]; }

    template <typename T>
    T Record(int lump, size_t index) const {
        T value;
        std::memcpy(&value, LumpData(lump) + index * sizeof(T), sizeof(T));
        return value;
    }
    template <typename T>
    void ReadAll(int lump, std::vector<T>* out) const {
        out->resize(Count(lump));
        if (!out->empty()) std::memcpy(out->data(), LumpData(lump), out->size() * sizeof(T));
    }
};

// Reads the whole file; false when it cannot be opened. Offsets and lengths
// are 32-bit, so nothing past 4 GiB can be named and nothing past it is read.
enum class ReadResult { kOk, kMissing, kNoMemory };
ReadResult ReadWholeFile(const char* path, std::vector<uint8_t>* bytes) {
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) return ReadResult::kMissing;
    uint64_t size = StreamLength(file);
    if (size > UINT32_MAX) size = UINT32_MAX;
    try {
        bytes->resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        std::fclose(file);
        return ReadResult::kNoMemory;
    }
    const size_t got = size > 0 ? std::fread(bytes->data(), 1, bytes->size(), file) : 0;
    bytes->resize(got);  // a file that shrank keeps what was there
    std::fclose(file);
    return ReadResult::kOk;
}

bool LumpsInsideFile(const WorldFile& file) {
    const uint64_t size = file.bytes.size();
    for (int lump = 0; lump < kLumpCount; ++lump) {
        if (!LumpIsRead(lump)) continue;
        const BspLumpEntry& entry = file.lumps[lump];
        if (entry.offset < 0 || entry.length < 0 ||
            static_cast<uint64_t>(entry.offset) + static_cast<uint64_t>(entry.length) > size) {
            PrintLine("Error: Lump %i (%s) lies outside the file: offset %i, length %i, file size %" PRIu64, lump,
                      kLumpNames[lump], entry.offset, entry.length, size);
            return false;
        }
    }
    return true;
}

// first .. first + count - 1 inside 0 .. total - 1, without overflow.
bool RangeInside(int32_t first, int32_t count, uint64_t total) {
    return first >= 0 && count >= 0 &&
           static_cast<uint64_t>(first) + static_cast<uint64_t>(count) <= total;
}

bool IndexInside(int32_t index, uint64_t total) { return index >= 0 && static_cast<uint64_t>(index) < total; }

bool CheckTree(const WorldFile& file) {
    const uint32_t nodes = file.Count(kLumpNodes);
    const uint32_t leaves = file.Count(kLumpLeaves);
    const uint32_t planes = file.Count(kLumpPlanes);
    if (nodes == 0) {
        PrintLine("Error: The BSP tree has no nodes");
        return false;
    }
    // Children always come after their parent, so one pass in index order
    // sees every parent before its children: no cycles, and depths come out
    // without walking the tree.
    std::vector<int32_t> depth(nodes, 0);
    depth[0] = 1;
    for (uint32_t n = 0; n < nodes; ++n) {
        const BspNode node = file.Record<BspNode>(kLumpNodes, n);
        if (!IndexInside(node.plane, planes)) {
            PrintLine("Error: Node %u uses plane %i, but there are %u planes", n, node.plane, planes);
            return false;
        }
        const int32_t children[2] = {node.front, node.back};
        for (int32_t child : children) {
            if (child >= 0) {
                if (static_cast<uint32_t>(child) >= nodes || static_cast<uint32_t>(child) <= n) {
                    PrintLine("Error: Node %u has child node %i; children must follow their parent among %u nodes",
                              n, child, nodes);
                    return false;
                }
                if (depth[n] > 0 && depth[n] + 1 > depth[static_cast<size_t>(child)]) {
                    depth[static_cast<size_t>(child)] = depth[n] + 1;
                    if (depth[static_cast<size_t>(child)] > kMaxTreeDepth) {
                        PrintLine("Error: The BSP tree is deeper than %i nodes", kMaxTreeDepth);
                        return false;
                    }
                }
            } else {
                const int32_t leaf = -(child + 1);
                if (static_cast<uint32_t>(leaf) >= leaves) {
                    PrintLine("Error: Node %u uses leaf %i, but there are %u leaves", n, leaf, leaves);
                    return false;
                }
            }
        }
    }
    return true;
}

bool CheckLeaves(const WorldFile& file) {
    const uint32_t leaves = file.Count(kLumpLeaves);
    const uint32_t leafFaces = file.Count(kLumpLeafFaces);
    const uint32_t leafBrushes = file.Count(kLumpLeafBrushes);
    for (uint32_t l = 0; l < leaves; ++l) {
        const BspLeaf leaf = file.Record<BspLeaf>(kLumpLeaves, l);
        if (!RangeInside(leaf.firstLeafFace, leaf.numLeafFaces, leafFaces)) {
            PrintLine("Error: Leaf %u lists leaf faces %i (+%i), but there are %u", l, leaf.firstLeafFace,
                      leaf.numLeafFaces, leafFaces);
            return false;
        }
        if (!RangeInside(leaf.firstLeafBrush, leaf.numLeafBrushes, leafBrushes)) {
            PrintLine("Error: Leaf %u lists leaf brushes %i (+%i), but there are %u", l, leaf.firstLeafBrush,
                      leaf.numLeafBrushes, leafBrushes);
            return false;
        }
    }
    const uint32_t faces = file.Count(kLumpFaces);
    for (uint32_t i = 0; i < leafFaces; ++i) {
        const int32_t face = file.Record<int32_t>(kLumpLeafFaces, i);
        if (!IndexInside(face, faces)) {
            PrintLine("Error: Leaf face %u names face %i, but there are %u faces", i, face, faces);
            return false;
        }
    }
    const uint32_t brushes = file.Count(kLumpBrushes);
    for (uint32_t i = 0; i < leafBrushes; ++i) {
        const int32_t brush = file.Record<int32_t>(kLumpLeafBrushes, i);
        if (!IndexInside(brush, brushes)) {
            PrintLine("Error: Leaf brush %u names brush %i, but there are %u brushes", i, brush, brushes);
            return false;
        }
    }
    return true;
}

bool CheckBrushes(const WorldFile& file) {
    const uint32_t brushes = file.Count(kLumpBrushes);
    const uint32_t sides = file.Count(kLumpBrushSides);
    const uint32_t textures = file.Count(kLumpTextures);
    const uint32_t planes = file.Count(kLumpPlanes);
    for (uint32_t b = 0; b < brushes; ++b) {
        const BspBrush brush = file.Record<BspBrush>(kLumpBrushes, b);
        if (!RangeInside(brush.firstSide, brush.numSides, sides)) {
            PrintLine("Error: Brush %u lists sides %i (+%i), but there are %u", b, brush.firstSide, brush.numSides,
                      sides);
            return false;
        }
        if (!IndexInside(brush.texture, textures)) {
            PrintLine("Error: Brush %u uses texture %i, but there are %u textures", b, brush.texture, textures);
            return false;
        }
    }
    for (uint32_t s = 0; s < sides; ++s) {
        const BspBrushSide side = file.Record<BspBrushSide>(kLumpBrushSides, s);
        if (!IndexInside(side.plane, planes)) {
            PrintLine("Error: Brush side %u uses plane %i, but there are %u planes", s, side.plane, planes);
            return false;
        }
    }
    return true;
}

bool CheckVisibility(const WorldFile& file) {
    const uint32_t length = file.LumpLength(kLumpVisibility);
    if (length == 0) return true;
    if (length < 8) {
        PrintLine("Error: The visibility data is too short (%u bytes)", length);
        return false;
    }
    const int32_t clusters = file.Record<int32_t>(kLumpVisibility, 0);
    const int32_t rowBytes = file.Record<int32_t>(kLumpVisibility, 1);
    if (clusters < 0 || rowBytes < 0 ||
        static_cast<uint64_t>(clusters) * static_cast<uint64_t>(rowBytes) > static_cast<uint64_t>(length - 8)) {
        PrintLine("Error: The visibility rows (%i clusters of %i bytes) do not fit the %u bytes of data", clusters,
                  rowBytes, length - 8);
        return false;
    }
    return true;
}

bool CheckPatchBudget(const WorldFile& file) {
    const uint32_t faces = file.Count(kLumpFaces);
    const uint32_t vertices = file.Count(kLumpVertices);
    uint64_t total = 0;
    for (uint32_t f = 0; f < faces; ++f) {
        const BspFace face = file.Record<BspFace>(kLumpFaces, f);
        if (face.type != kFacePatch || !PatchGridFits(face, vertices)) continue;
        total += SubPatchTotal(face);
        if (total > kMaxSubPatches) {
            PrintLine("Error: The patches need more than %" PRIu64 " sub-patches", kMaxSubPatches);
            return false;
        }
        if (total * kSubPatchVertexBytes > kMaxPatchVertexBytes) {
            PrintLine("Error: The patches need more than %" PRIu64 " MB of vertices (%" PRIu64 " sub-patches so far)",
                      kMaxPatchVertexBytes >> 20, total);
            return false;
        }
    }
    return true;
}

// The face's mesh-vertex range lies inside the mesh table and every index
// in it names one of the face's own vertices.
bool MeshIndicesFit(const BspFace& face, const std::vector<int32_t>& mesh) {
    if (!RangeInside(face.firstMeshVertex, face.numMeshVertices, mesh.size())) return false;
    if (face.numMeshVertices <= 0) return false;
    const size_t first = static_cast<size_t>(face.firstMeshVertex);
    for (size_t i = 0; i < static_cast<size_t>(face.numMeshVertices); ++i) {
        const int32_t index = mesh[first + i];
        if (index < 0 || index >= face.numVertices) return false;
    }
    return true;
}

// A face's own references: its vertices, its mesh indices, its patch grid.
bool FaceUsable(const BspFace& face, size_t vertexCount, const std::vector<int32_t>& mesh) {
    switch (face.type) {
        case kFacePolygon:
            // A fan of no vertices would also end the renderer's item list.
            if (!RangeInside(face.firstVertex, face.numVertices, vertexCount) || face.numVertices <= 0) return false;
            // Polygons with three or more mesh vertices are drawn from them.
            return face.numMeshVertices < 3 || MeshIndicesFit(face, mesh);
        case kFaceMesh:
            return RangeInside(face.firstVertex, face.numVertices, vertexCount) && MeshIndicesFit(face, mesh);
        case kFacePatch:
            return PatchGridFits(face, vertexCount);
        default:
            return true;  // never drawn; nothing of it is used
    }
}

void ExchangeYZ(float* v) { std::swap(v[1], v[2]); }

// The box of a face's vertices (already in drawing coordinates); left empty
// when its vertex range is not inside the file, as faces of kinds never
// drawn may have.
void FaceBounds(const BspFace& face, const std::vector<BspVertex>& vertices, std::array<float, 6>* box) {
    if (face.numVertices <= 0 || !RangeInside(face.firstVertex, face.numVertices, vertices.size())) return;
    const size_t first = static_cast<size_t>(face.firstVertex);
    const size_t end = first + static_cast<size_t>(face.numVertices);
    for (int axis = 0; axis < 3; ++axis) {
        (*box)[axis] = vertices[first].position[axis];
        (*box)[3 + axis] = vertices[first].position[axis];
    }
    for (size_t v = first + 1; v < end; ++v) {
        for (int axis = 0; axis < 3; ++axis) {
            (*box)[axis] = std::min((*box)[axis], vertices[v].position[axis]);
            (*box)[3 + axis] = std::max((*box)[3 + axis], vertices[v].position[axis]);
        }
    }
}
void ExchangeYZ(int32_t* v) { std::swap(v[1], v[2]); }

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

// The record's name as text (it need not end in a zero byte).
std::string RecordName(const BspTexture& record) {
    return std::string(record.name, strnlen(record.name, sizeof record.name));
}

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

// Bytes from a file as text a terminal shows as it is: printable ASCII
// stays, anything else becomes a \xNN escape.
std::string PrintableBytes(const char* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            text += static_cast<char>(byte);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            text += escape;
        }
    }
    return text;
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
int32_t LoadWorldTextures(IDirect3DDevice9* device, const ShaderTable& shaders, World* world) {
    const size_t count = world->textures.size();
    std::vector<const ShaderDefinition*> recordShaders(count);
    std::vector<std::vector<std::string>> candidates(count);
    for (size_t i = 0; i < count; ++i) {
        const BspTexture& record = world->textureRecords[i];
        recordShaders[i] = shaders.Find(RecordName(record));
        candidates[i] = TextureCandidates(record, recordShaders[i]);
    }
    const std::vector<LoadedImage> images = LoadFirstImages(device, candidates);
    int32_t loaded = 0;
    for (size_t i = 0; i < count; ++i) {
        WorldTexture& entry = world->textures[i];
        entry.texture = images[i].texture;
        entry.fromTga = entry.texture != nullptr && EndsWithTga(candidates[i][images[i].candidate]);
        ReadSurfaceKind(world->textureRecords[i], recordShaders[i], &entry);
        if (entry.texture != nullptr) {
            ++loaded;
        } else {
            PrintLine("Failed to load texture %i", static_cast<int32_t>(i));
            PrintLine("%s", MissingImageLine(i, RecordName(world->textureRecords[i]), candidates[i]).c_str());
        }
    }
    return loaded;
}

// The box of the first sky shader that names one: its _rt, _ft, _lf, _bk and
// _up images on the renderer's faces (the file's Z is our Y, so _rt faces +X,
// _ft -Z, _lf -X, _bk +Z and _up +Y). All five or none.
void LoadSkyBox(IDirect3DDevice9* device, const ShaderTable& shaders, World* world) {
    for (const BspTexture& record : world->textureRecords) {
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
        for (int face = 0; face < kWorldSkyFaces; ++face) world->sky[face] = images[face].texture;
        for (int face = 0; face < kWorldSkyFaces; ++face) {
            if (images[face].texture != nullptr) continue;
            PrintLine("Warning: the sky box %s has no image %s%s; the engine's sky is drawn", shader->skyBox.c_str(),
                      shader->skyBox.c_str(), kSuffixes[face]);
            for (IDirect3DTexture9*& loaded : world->sky) {
                if (loaded != nullptr) loaded->Release();
                loaded = nullptr;
            }
            return;
        }
        world->skyName = shader->skyBox;
        return;
    }
}

// Vertices drawn only by faces without a lightmap carry their file colour,
// which lights those faces; every other vertex stays white, so that
// lightmapped faces look exactly as they always did.
std::vector<uint8_t> VertexLitVertices(const WorldFile& file, uint32_t vertexCount) {
    constexpr uint8_t kUnused = 0;
    constexpr uint8_t kVertexLit = 1;
    constexpr uint8_t kLightmapped = 2;
    std::vector<uint8_t> kinds(vertexCount, kUnused);
    const uint32_t faceCount = file.Count(kLumpFaces);
    for (uint32_t f = 0; f < faceCount; ++f) {
        const BspFace face = file.Record<BspFace>(kLumpFaces, f);
        if (face.type != kFacePolygon && face.type != kFaceMesh) continue;
        if (!RangeInside(face.firstVertex, face.numVertices, vertexCount)) continue;
        const uint8_t kind = face.lightmap < 0 ? kVertexLit : kLightmapped;
        for (int32_t v = 0; v < face.numVertices; ++v) {
            uint8_t& mark = kinds[static_cast<size_t>(face.firstVertex + v)];
            mark = mark == kLightmapped ? kLightmapped : kind;
        }
    }
    for (uint8_t& kind : kinds) kind = kind == kVertexLit ? 1 : 0;
    return kinds;
}

IDirect3DTexture9* CreateWhiteTexture(IDirect3DDevice9* device) {
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr))) return nullptr;
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, nullptr, 0)) || locked.pBits == nullptr) {
        texture->Release();
        return nullptr;
    }
    std::memset(locked.pBits, 0xFF, 4);
    texture->UnlockRect(0);
    return texture;
}

// The spawn points of the entity text. Nothing else of the world depends on
// that text, so a damaged one costs only the spawn points after the fault.
void ReadEntities(const WorldFile& file, const char* path, World* world) {
    const BspLumpEntry& entry = file.lumps[kLumpEntities];
    if (entry.length == 0) return;
    if (entry.offset < 0 || entry.length < 0 ||
        static_cast<uint64_t>(entry.offset) + static_cast<uint64_t>(entry.length) > file.bytes.size()) {
        PrintLine("Warning: the entity text of %s lies outside the file; no spawn points", path);
        return;
    }
    std::string problem;
    if (!ReadSpawnPoints(reinterpret_cast<const char*>(file.LumpData(kLumpEntities)),
                         static_cast<size_t>(entry.length), &world->spawnPoints, &problem)) {
        PrintLine("Warning: the entity text of %s is damaged: %s; %i spawn points read before it", path,
                  problem.c_str(), static_cast<int32_t>(world->spawnPoints.size()));
    }
}

bool LoadWorld(World* world, const char* path, WorldFile* file) {
    // g_camera is a global and always exists before any world is loaded.
    const ReadResult read = ReadWholeFile(path, &file->bytes);
    if (read == ReadResult::kMissing) {
        PrintLine("Error: Unable to find map %s", path);
        return false;
    }
    PrintLine("Loading level %s", path);
    if (read == ReadResult::kNoMemory) {
        PrintLine("Error: data allocation failed.");
        return false;
    }

    if (file->bytes.size() < kHeaderBytes) {
        PrintLine("Error reading BSP header");
        return false;
    }
    BspHeader header;
    std::memcpy(&header, file->bytes.data(), sizeof header);
    if (std::memcmp(header.magic, "IBSP", 4) != 0) {
        PrintLine("Error: Invalid bsp magic id, expected IBSP, received: %s", PrintableBytes(header.magic, 4).c_str());
        return false;
    }
    if (file->bytes.size() < kHeaderBytes + kDirectoryBytes) {
        PrintLine("Error reading lumps from BSP file");
        return false;
    }
    std::memcpy(file->lumps, file->bytes.data() + kHeaderBytes, kDirectoryBytes);
    if (!LumpsInsideFile(*file)) return false;

    const uint32_t vertexCount = file->Count(kLumpVertices);
    const uint32_t meshCount = file->Count(kLumpMeshVertices);
    const uint32_t faceCount = file->Count(kLumpFaces);
    const uint32_t textureCount = file->Count(kLumpTextures);
    const uint32_t lightmapCount = file->Count(kLumpLightmaps);
    if (vertexCount == 0 || faceCount == 0 || textureCount == 0 || lightmapCount == 0 || meshCount == 0) {
        PrintLine("Error: This bsp file is missing data");
        return false;
    }
    PrintLine("BSP Vertices: %i", static_cast<int32_t>(vertexCount));
    PrintLine("BSP Meshes: %i", static_cast<int32_t>(meshCount));
    PrintLine("BSP Faces: %i", static_cast<int32_t>(faceCount));
    PrintLine("BSP Textures: %i", static_cast<int32_t>(textureCount));
    PrintLine("BSP Lightmaps: %i", static_cast<int32_t>(lightmapCount));

    // Every count is bounded by the file's size from here on.
    if (!CheckTree(*file) || !CheckLeaves(*file) || !CheckBrushes(*file) || !CheckVisibility(*file) ||
        !CheckPatchBudget(*file)) {
        return false;
    }

    std::vector<BspVertex> rawVertices;
    std::vector<GpuVertex> staging;
    try {
        rawVertices.reserve(vertexCount);
        staging.reserve(vertexCount);
        world->faces.reserve(faceCount);
        world->meshVertices.reserve(meshCount);
        world->faceDrawn.assign((faceCount + 7) / 8, 0);
        world->faceUsable.assign(faceCount, 0);
        world->faceBounds.assign(faceCount, std::array<float, 6>{});
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
    file->ReadAll(kLumpVertices, &rawVertices);
    const std::vector<uint8_t> vertexLit = VertexLitVertices(*file, vertexCount);
    for (size_t v = 0; v < rawVertices.size(); ++v) {
        BspVertex& vertex = rawVertices[v];
        ExchangeYZ(vertex.position);
        staging.push_back(ToGpuVertex(vertex, vertexLit[v] != 0));
    }
    world->vertexCount = vertexCount;
    const UINT vertexBytes = vertexCount * static_cast<UINT>(sizeof(GpuVertex));
    if (FAILED(device->CreateVertexBuffer(vertexBytes, 0, kGpuVertexFvf, D3DPOOL_DEFAULT, &world->vertexBuffer,
                                          nullptr))) {
        world->vertexBuffer = nullptr;
        PrintLine("Error: Failed to allocate vertex buffer for world geometry.");
        return false;
    }
    void* data = nullptr;
    if (SUCCEEDED(world->vertexBuffer->Lock(0, 0, &data, 0)) && data != nullptr) {
        std::memcpy(data, staging.data(), vertexBytes);
    }
    if (FAILED(world->vertexBuffer->Unlock())) {
        PrintLine("Error: Failed to initialize vertex buffer for world geometry.");
        return false;
    }
    Free(&staging);

    // Mesh vertices: one 32-bit index list.
    ShowLoadingMessage("Loading meshes...");
    file->ReadAll(kLumpMeshVertices, &world->meshVertices);
    const UINT indexBytes = meshCount * 4u;
    if (FAILED(device->CreateIndexBuffer(indexBytes, 0, D3DFMT_INDEX32, D3DPOOL_DEFAULT, &world->indexBuffer,
                                         nullptr))) {
        world->indexBuffer = nullptr;
        PrintLine("Error: Failed to allocate index buffer for world geometry.");
        return false;
    }
    data = nullptr;
    if (SUCCEEDED(world->indexBuffer->Lock(0, 0, &data, 0)) && data != nullptr) {
        std::memcpy(data, world->meshVertices.data(), indexBytes);
    }
    if (FAILED(world->indexBuffer->Unlock())) {
        PrintLine("Error: Failed to initialize index buffer for world geometry.");
        return false;
    }

    // Faces and patches.
    ShowLoadingMessage("Loading patches...");
    file->ReadAll(kLumpFaces, &world->faces);
    uint32_t patchCount = 0;
    for (uint32_t f = 0; f < faceCount; ++f) {
        const BspFace& face = world->faces[f];
        world->faceUsable[f] = FaceUsable(face, rawVertices.size(), world->meshVertices) ? 1 : 0;
        if (world->faceUsable[f] != 0) FaceBounds(face, rawVertices, &world->faceBounds[f]);
        if (face.type == kFacePatch) ++patchCount;
    }
    if (patchCount > 0) {
        try {
            world->patches.resize(patchCount);
        } catch (const std::bad_alloc&) {
            PrintLine("Error: n-patch allocation failed.");
            return false;
        }
        int32_t patchIndex = 0;
        for (uint32_t f = 0; f < faceCount; ++f) {
            BspFace& face = world->faces[f];
            if (face.type != kFacePatch) continue;
            // An unusable patch keeps its (empty) entry so that patch indices
            // stay in face order.
            if (world->faceUsable[f] != 0 &&
                !BuildPatchEntry(device, face, rawVertices, &world->patches[static_cast<size_t>(patchIndex)])) {
                return false;
            }
            face.firstVertex = patchIndex++;
        }
    }
    world->patchFaceCount = patchCount;

    // Textures.
    try {
        file->ReadAll(kLumpTextures, &world->textureRecords);
        world->textures.assign(textureCount, WorldTexture{});
        world->lightmaps.assign(lightmapCount, nullptr);
    } catch (const std::bad_alloc&) {
        PrintLine("Error: Unable to allocate space for textures");
        return false;
    }
    ShowLoadingMessage("Loading textures...");
    device = GetDevice();
    if (device == nullptr) {
        PrintLine("Error: Unable to capture video driver");
        return false;
    }
    // The scripts are looked at once per texture record.
    const ShaderTable& shaders = WorldShaders();
    const int32_t loadedTextures = LoadWorldTextures(device, shaders, world);
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
                                                     D3DPOOL_MANAGED, &world->lightmaps[i], nullptr);
        if (FAILED(result)) {
            world->lightmaps[i] = nullptr;
            if (const char* word = CreateFailureWord(result)) PrintLine("%s", word);
            PrintLine("Error: Unable to load lightmap %i", static_cast<int32_t>(i));
            return false;
        }
    }
    for (uint32_t i = 0; i < lightmapCount; ++i) {
        const uint8_t* rgb = file->LumpData(kLumpLightmaps) + static_cast<size_t>(i) * kLightmapBytes;
        D3DLOCKED_RECT locked{};
        const HRESULT result = world->lightmaps[i]->LockRect(0, &locked, nullptr, 0);
        if (FAILED(result) || locked.pBits == nullptr) {
            PrintLine("Error, hr failed with: 0x%x", static_cast<unsigned>(result));
            return false;
        }
        for (int row = 0; row < kLightmapSize; ++row) {
            uint8_t* out = static_cast<uint8_t*>(locked.pBits) + static_cast<ptrdiff_t>(row) * locked.Pitch;
            const uint8_t* in = rgb + static_cast<size_t>(row) * kLightmapSize * 3;
            for (int x = 0; x < kLightmapSize; ++x) {
                out[4 * x + 0] = in[3 * x + 2];
                out[4 * x + 1] = in[3 * x + 1];
                out[4 * x + 2] = in[3 * x + 0];
                out[4 * x + 3] = 255;
            }
        }
        world->lightmaps[i]->UnlockRect(0);
    }

    // The light of faces without a lightmap, and the world's own sky.
    world->vertexLight = CreateWhiteTexture(device);
    LoadSkyBox(device, shaders, world);

    // The tree, leaves and planes, converted to Y up.
    try {
        file->ReadAll(kLumpNodes, &world->nodes);
        file->ReadAll(kLumpLeaves, &world->leaves);
        file->ReadAll(kLumpLeafFaces, &world->leafFaces);
        file->ReadAll(kLumpPlanes, &world->planes);
        for (BspLeaf& leaf : world->leaves) {
            ExchangeYZ(leaf.mins);
            ExchangeYZ(leaf.maxs);
        }
        for (BspPlane& plane : world->planes) ExchangeYZ(plane.normal);

        if (file->LumpLength(kLumpVisibility) != 0) {
            world->numClusters = file->Record<int32_t>(kLumpVisibility, 0);
            world->bytesPerCluster = file->Record<int32_t>(kLumpVisibility, 1);
            const size_t rows = static_cast<size_t>(world->numClusters) * static_cast<size_t>(world->bytesPerCluster);
            const uint8_t* start = file->LumpData(kLumpVisibility) + 8;
            world->visibility.assign(start, start + rows);
        }

        file->ReadAll(kLumpBrushes, &world->brushes);
        file->ReadAll(kLumpBrushSides, &world->brushSides);
        file->ReadAll(kLumpLeafBrushes, &world->leafBrushes);
    } catch (const std::bad_alloc&) {
        PrintLine("Error: data allocation failed.");
        return false;
    }

    ReadEntities(*file, path, world);

    char name[260] = {};
    std::snprintf(name, sizeof name, "%s", path);
    world->SetName(name);
    world->loaded = 1;
    ShowLoadingMessage("Loading complete!");
    SetupRenderCaches(textureCount);
    for (uint32_t i = 0; i < textureCount; ++i) {
        if (world->textures[i].additive) SetRenderCacheAdditive(i);
    }
    SetRenderCacheAdditiveDrawing(bsp_vertexlit.intValue != 0);
    g_renderer.SetWorldSky(world->sky[0] != nullptr ? world->sky : nullptr);
    return true;
}

}  // namespace

World::World() = default;

World::~World() {
    if (loaded != 0) Unload();
}

bool World::Load(const char* path) {
    PrintLine("Attempting to load world: %s", path != nullptr ? path : "");
    if (path == nullptr) {
        PrintLine("Error: Unable to find map %s", "");
        return false;
    }
    WorldFile file;
    if (!LoadWorld(this, path, &file)) {
        ReleaseAll();
        return false;
    }
    return true;
}

bool World::Unload() {
    if (loaded == 0) return false;
    ReleaseAll();
    return true;
}

void World::ReleaseAll() {
    for (WorldTexture& entry : textures) {
        if (entry.texture != nullptr) entry.texture->Release();
    }
    for (IDirect3DTexture9* lightmap : lightmaps) {
        if (lightmap != nullptr) lightmap->Release();
    }
    Free(&textures);
    Free(&lightmaps);
    if (vertexLight != nullptr) vertexLight->Release();
    vertexLight = nullptr;
    g_renderer.ForgetWorldSky(sky);
    for (IDirect3DTexture9*& face : sky) {
        if (face != nullptr) face->Release();
        face = nullptr;
    }
    skyName.clear();
    Free(&patches);  // each sub-patch releases its own buffers
    if (vertexBuffer != nullptr) vertexBuffer->Release();
    if (indexBuffer != nullptr) indexBuffer->Release();
    vertexBuffer = nullptr;
    indexBuffer = nullptr;

    Free(&faces);
    Free(&meshVertices);
    Free(&textureRecords);
    Free(&spawnPoints);
    Free(&nodes);
    Free(&leaves);
    Free(&leafFaces);
    Free(&planes);
    Free(&brushes);
    Free(&brushSides);
    Free(&leafBrushes);
    Free(&faceDrawn);
    Free(&faceUsable);
    Free(&faceBounds);
    Free(&visibility);
    numClusters = 0;
    bytesPerCluster = 0;
    vertexCount = 0;
    patchFaceCount = 0;
    loaded = 0;
}

uint64_t World::SizeInBytes() const {
    uint64_t bytes = 0;
    bytes += faces.size() * sizeof(BspFace) + meshVertices.size() * 4 + textureRecords.size() * sizeof(BspTexture);
    bytes += nodes.size() * sizeof(BspNode) + leaves.size() * sizeof(BspLeaf) + leafFaces.size() * 4;
    bytes += planes.size() * sizeof(BspPlane) + brushes.size() * sizeof(BspBrush);
    bytes += brushSides.size() * sizeof(BspBrushSide) + leafBrushes.size() * 4;
    bytes += faceDrawn.size() + faceUsable.size() + visibility.size();
    bytes += faceBounds.size() * sizeof(faceBounds[0]);
    // GPU copies: the world buffers, the lightmaps and each sub-patch.
    bytes += static_cast<uint64_t>(vertexCount) * sizeof(GpuVertex);
    bytes += lightmaps.size() * static_cast<uint64_t>(kLightmapSize * kLightmapSize * 4);
    constexpr uint64_t kSubPatchBytes = sizeof(SubPatch) + kPatchGridPoints * (sizeof(BspVertex) + sizeof(GpuVertex)) +
                                        kPatchStripVertices * (4 + 2 * sizeof(GpuVertex)) + kPatchStripLength * 4;
    for (const PatchEntry& entry : patches) bytes += entry.subPatches.size() * kSubPatchBytes;
    return bytes;
}

CBSPFormat_t::CBSPFormat_t(const char* extension) { SetExtension(extension); }

Resource* CBSPFormat_t::Load(const char* path) {
    if (path == nullptr) return nullptr;
    World* world = new World();
    if (!world->Load(path)) {
        delete world;
        return nullptr;
    }
    return world;
}

int32_t CBSPFormat_t::FormatWrite(void*, const void*) {
    PrintLine("Warning: CBSPFormat_t::FormatWrite is not implemented.");
    return 0;
}
