#include "world/world_parse.h"

#include <strings.h>

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/message_output.h"
#include "base/paths.h"
#include "world/patch_grid.h"

static_assert(std::endian::native == std::endian::little, "world records are read in place as little-endian");

namespace {

constexpr size_t kHeaderBytes = sizeof(BspHeader);
constexpr size_t kDirectoryBytes = kLumpCount * sizeof(BspLumpEntry);

// Record size of each lump; 0 for lumps the loader never reads. The models
// and the fogs are read apart (ReadModels, ReadFogs), after the checks, and
// never reject a file.
constexpr uint32_t kRecordSize[kLumpCount] = {
    0, sizeof(BspTexture), sizeof(BspPlane), sizeof(BspNode), sizeof(BspLeaf), 4, 4, sizeof(BspModel), sizeof(BspBrush),
    sizeof(BspBrushSide), sizeof(BspVertex), 4, sizeof(BspFog), sizeof(BspFace), kLightmapBytes, 0, 0};

// Plane tests the fogs' corner searches may spend in one world, and how many
// fogs left out are named one by one before the rest are only counted.
constexpr uint64_t kFogCornerBudget = uint64_t{1} << 25;
constexpr uint32_t kFogWarningsNamed = 8;

constexpr const char* kLumpNames[kLumpCount] = {
    "entities", "textures", "planes",   "nodes",       "leaves",   "leaf faces",    "leaf brushes",
    "models",   "brushes",  "brush sides", "vertices", "mesh vertices", "effects", "faces",
    "lightmaps", "light volumes", "visibility"};

bool LumpIsRead(int lump) {
    return lump != kLumpEntities && lump != kLumpModels && lump != kLumpEffects && lump != kLumpLightVolumes;
}

template <typename T>
T Record(const WorldFile& file, int lump, size_t index) {
    T value;
    std::memcpy(&value, file.LumpData(lump) + index * sizeof(T), sizeof(T));
    return value;
}

template <typename T>
void ReadAll(const WorldFile& file, int lump, std::vector<T>* out) {
    out->resize(file.Count(lump));
    if (!out->empty()) std::memcpy(out->data(), file.LumpData(lump), out->size() * sizeof(T));
}

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

// The lump's bytes lie inside the file.
bool LumpInsideFile(const WorldFile& file, int lump) {
    const BspLumpEntry& entry = file.lumps[lump];
    return entry.offset >= 0 && entry.length >= 0 &&
           static_cast<uint64_t>(entry.offset) + static_cast<uint64_t>(entry.length) <= file.bytes.size();
}

bool LumpsInsideFile(const WorldFile& file) {
    const uint64_t size = file.bytes.size();
    for (int lump = 0; lump < kLumpCount; ++lump) {
        if (!LumpIsRead(lump)) continue;
        const BspLumpEntry& entry = file.lumps[lump];
        if (!LumpInsideFile(file, lump)) {
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
        const BspNode node = Record<BspNode>(file, kLumpNodes, n);
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
        const BspLeaf leaf = Record<BspLeaf>(file, kLumpLeaves, l);
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
        const int32_t face = Record<int32_t>(file, kLumpLeafFaces, i);
        if (!IndexInside(face, faces)) {
            PrintLine("Error: Leaf face %u names face %i, but there are %u faces", i, face, faces);
            return false;
        }
    }
    const uint32_t brushes = file.Count(kLumpBrushes);
    for (uint32_t i = 0; i < leafBrushes; ++i) {
        const int32_t brush = Record<int32_t>(file, kLumpLeafBrushes, i);
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
        const BspBrush brush = Record<BspBrush>(file, kLumpBrushes, b);
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
        const BspBrushSide side = Record<BspBrushSide>(file, kLumpBrushSides, s);
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
    const int32_t clusters = Record<int32_t>(file, kLumpVisibility, 0);
    const int32_t rowBytes = Record<int32_t>(file, kLumpVisibility, 1);
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
        const BspFace face = Record<BspFace>(file, kLumpFaces, f);
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
        const BspFace face = Record<BspFace>(file, kLumpFaces, f);
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

// A brush entity's model: its faces inside the file's faces and a box of
// finite numbers, low corner below high.
bool ModelSound(const BspModel& model, uint32_t faceCount) {
    if (!RangeInside(model.firstFace, model.numFaces, faceCount)) return false;
    for (int axis = 0; axis < 3; ++axis) {
        if (!std::isfinite(model.mins[axis]) || !std::isfinite(model.maxs[axis])) return false;
        if (!(model.mins[axis] <= model.maxs[axis])) return false;
    }
    return true;
}

// Nothing else of the world depends on the entity text.
}  // namespace

void ReadFogs(const WorldFile& file, const char* path, WorldData* data) {
    data->fogs.clear();
    const BspLumpEntry& entry = file.lumps[kLumpEffects];
    if (entry.length == 0) return;
    if (!LumpInsideFile(file, kLumpEffects)) {
        PrintLine("Warning: the fogs of %s lie outside the file; no fogs", path);
        return;
    }
    if (file.LumpLength(kLumpEffects) % sizeof(BspFog) != 0) {
        PrintLine("Warning: the fogs of %s take %u bytes, not a whole number of %u-byte records; no fogs", path,
                  file.LumpLength(kLumpEffects), static_cast<uint32_t>(sizeof(BspFog)));
        return;
    }
    const uint32_t count = file.Count(kLumpEffects);
    const uint64_t brushCount = data->brushes.size();
    uint64_t budget = kFogCornerBudget;
    uint32_t dropped = 0;
    try {
        data->fogs.resize(count);
        for (uint32_t f = 0; f < count; ++f) {
            const BspFog record = Record<BspFog>(file, kLumpEffects, f);
            WorldFog& fog = data->fogs[f];
            fog.shader = PrintableBytes(record.shader, strnlen(record.shader, sizeof record.shader));
            fog.brush = record.brush;
            fog.visibleSide = record.visibleSide;
            const bool brushFound = IndexInside(record.brush, brushCount);
            fog.usable = brushFound && BrushBox(data->planes, data->brushSides,
                                                data->brushes[static_cast<size_t>(record.brush)], &budget, fog.bounds);
            if (fog.usable) continue;
            std::fill(fog.bounds, fog.bounds + 6, 0.0f);
            if (++dropped > kFogWarningsNamed) continue;
            if (brushFound) {
                PrintLine("Warning: fog %u (%s) of %s: brush %i encloses no box; left out", f, fog.shader.c_str(),
                          path, record.brush);
            } else {
                PrintLine("Warning: fog %u (%s) of %s names brush %i, but there are %" PRIu64 " brushes; left out", f,
                          fog.shader.c_str(), path, record.brush, brushCount);
            }
        }
    } catch (const std::bad_alloc&) {
        data->fogs.clear();
        PrintLine("Warning: no memory for the fogs of %s; no fogs", path);
        return;
    }
    if (dropped > kFogWarningsNamed) {
        PrintLine("Warning: %u more fogs of %s are left out", dropped - kFogWarningsNamed, path);
    }
}

void ReadModels(const WorldFile& file, const char* path, WorldData* data) {
    data->models.clear();
    const BspLumpEntry& entry = file.lumps[kLumpModels];
    if (entry.length == 0) return;
    if (!LumpInsideFile(file, kLumpModels)) {
        PrintLine("Warning: the models of %s lie outside the file; no brush entities", path);
        return;
    }
    const uint32_t count = file.Count(kLumpModels);
    const uint32_t faceCount = file.Count(kLumpFaces);
    uint32_t damaged = 0;
    try {
        // Model 0 is the world, drawn through its leaves.
        for (uint32_t m = 1; m < count; ++m) {
            BspModel model = Record<BspModel>(file, kLumpModels, m);
            if (!ModelSound(model, faceCount)) {
                ++damaged;
                continue;
            }
            ExchangeYZ(model.mins);
            ExchangeYZ(model.maxs);
            data->models.push_back(model);
        }
    } catch (const std::bad_alloc&) {
        data->models.clear();
        return;
    }
    if (damaged != 0) {
        PrintLine("Warning: %u of the %u brush entity models of %s are damaged and left out", damaged, count - 1,
                  path);
    }
}

void ReadEntities(const WorldFile& file, const char* path, WorldData* data) {
    const BspLumpEntry& entry = file.lumps[kLumpEntities];
    if (entry.length == 0) return;
    if (!LumpInsideFile(file, kLumpEntities)) {
        PrintLine("Warning: the entity text of %s lies outside the file; no spawn points", path);
        return;
    }
    std::string problem;
    if (!ReadSpawnPoints(reinterpret_cast<const char*>(file.LumpData(kLumpEntities)),
                         static_cast<size_t>(entry.length), &data->spawnPoints, &problem)) {
        PrintLine("Warning: the entity text of %s is damaged: %s; %i spawn points read before it", path,
                  problem.c_str(), static_cast<int32_t>(data->spawnPoints.size()));
    }
}


uint32_t WorldFile::Count(int lump) const { return LumpLength(lump) / kRecordSize[lump]; }

bool ReadWorldFile(const char* path, WorldFile* file) {
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
    return true;
}

bool CheckWorldFile(WorldFile* file) {
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
    return CheckTree(*file) && CheckLeaves(*file) && CheckBrushes(*file) && CheckVisibility(*file) &&
           CheckPatchBudget(*file);
}

bool ReadGeometry(const WorldFile& file, WorldData* data) {
    const uint32_t vertexCount = file.Count(kLumpVertices);
    const uint32_t faceCount = file.Count(kLumpFaces);
    try {
        ReadAll(file, kLumpVertices, &data->vertices);
        data->vertexLit = VertexLitVertices(file, vertexCount);
        ReadAll(file, kLumpMeshVertices, &data->meshVertices);
        ReadAll(file, kLumpFaces, &data->faces);
        data->faceUsable.assign(faceCount, 0);
        data->faceBounds.assign(faceCount, std::array<float, 6>{});
    } catch (const std::bad_alloc&) {
        PrintLine("Error: data allocation failed.");
        return false;
    }
    for (BspVertex& vertex : data->vertices) ExchangeYZ(vertex.position);

    // Patch faces carry their index among the patch faces from here on.
    uint32_t patchIndex = 0;
    for (uint32_t f = 0; f < faceCount; ++f) {
        BspFace& face = data->faces[f];
        data->faceUsable[f] = FaceUsable(face, data->vertices.size(), data->meshVertices) ? 1 : 0;
        if (data->faceUsable[f] != 0) FaceBounds(face, data->vertices, &data->faceBounds[f]);
        if (face.type != kFacePatch) continue;
        data->patchFirstVertex.push_back(face.firstVertex);
        face.firstVertex = static_cast<int32_t>(patchIndex++);
    }
    data->patchFaceCount = patchIndex;
    return true;
}

bool ReadSurfaces(const WorldFile& file, WorldData* data) {
    try {
        ReadAll(file, kLumpTextures, &data->textureRecords);
        data->lightmapCount = file.Count(kLumpLightmaps);
        const uint8_t* start = file.LumpData(kLumpLightmaps);
        data->lightmapBytes.assign(start, start + static_cast<size_t>(data->lightmapCount) * kLightmapBytes);
    } catch (const std::bad_alloc&) {
        PrintLine("Error: Unable to allocate space for textures");
        return false;
    }
    return true;
}

bool ReadTree(const WorldFile& file, WorldData* data) {
    try {
        ReadAll(file, kLumpNodes, &data->nodes);
        ReadAll(file, kLumpLeaves, &data->leaves);
        ReadAll(file, kLumpLeafFaces, &data->leafFaces);
        ReadAll(file, kLumpPlanes, &data->planes);
        for (BspLeaf& leaf : data->leaves) {
            ExchangeYZ(leaf.mins);
            ExchangeYZ(leaf.maxs);
        }
        for (BspPlane& plane : data->planes) ExchangeYZ(plane.normal);

        if (file.LumpLength(kLumpVisibility) != 0) {
            data->numClusters = Record<int32_t>(file, kLumpVisibility, 0);
            data->bytesPerCluster = Record<int32_t>(file, kLumpVisibility, 1);
            const size_t rows = static_cast<size_t>(data->numClusters) * static_cast<size_t>(data->bytesPerCluster);
            const uint8_t* start = file.LumpData(kLumpVisibility) + 8;
            data->visibility.assign(start, start + rows);
        }

        ReadAll(file, kLumpBrushes, &data->brushes);
        ReadAll(file, kLumpBrushSides, &data->brushSides);
        ReadAll(file, kLumpLeafBrushes, &data->leafBrushes);
    } catch (const std::bad_alloc&) {
        PrintLine("Error: data allocation failed.");
        return false;
    }
    return true;
}

namespace {

bool ReadRecords(WorldFile* file, const char* path, WorldData* data) {
    if (!CheckWorldFile(file) || !ReadGeometry(*file, data) || !ReadSurfaces(*file, data) ||
        !ReadTree(*file, data)) {
        *data = WorldData{};
        return false;
    }
    ReadEntities(*file, path, data);
    ReadModels(*file, path, data);
    ReadFogs(*file, path, data);
    return true;
}

}  // namespace

bool ParseWorld(const char* path, WorldData* data) {
    WorldFile file;
    if (!ReadWorldFile(path, &file)) return false;
    return ReadRecords(&file, path, data);
}

bool ParseWorldBytes(std::vector<uint8_t> bytes, const char* path, WorldData* data) {
    WorldFile file;
    file.bytes = std::move(bytes);
    return ReadRecords(&file, path, data);
}

std::string RecordName(const BspTexture& record) {
    return std::string(record.name, strnlen(record.name, sizeof record.name));
}

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


uint64_t WorldData::SizeInBytes() const {
    uint64_t bytes = 0;
    bytes += faces.size() * sizeof(BspFace) + meshVertices.size() * 4 + textureRecords.size() * sizeof(BspTexture);
    bytes += nodes.size() * sizeof(BspNode) + leaves.size() * sizeof(BspLeaf) + leafFaces.size() * 4;
    bytes += planes.size() * sizeof(BspPlane) + brushes.size() * sizeof(BspBrush);
    bytes += brushSides.size() * sizeof(BspBrushSide) + leafBrushes.size() * 4;
    bytes += faceUsable.size() + visibility.size();
    bytes += faceBounds.size() * sizeof(faceBounds[0]);
    bytes += patchFirstVertex.size() * 4 + models.size() * sizeof(BspModel);
    for (const WorldFog& fog : fogs) bytes += sizeof fog + fog.shader.capacity();
    bytes += vertices.size() * sizeof(BspVertex) + vertexLit.size() + lightmapBytes.size();
    return bytes;
}

void WorldData::ReleaseStaging() {
    std::vector<BspVertex>().swap(vertices);
    std::vector<uint8_t>().swap(vertexLit);
    std::vector<uint8_t>().swap(lightmapBytes);
    std::vector<int32_t>().swap(patchFirstVertex);
}
