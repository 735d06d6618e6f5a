#include "support/bsp_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

namespace {

constexpr float kWorldExtent = 65536.0f;
constexpr int kMaxBuildDepth = 16;

template <typename T>
void AppendRecords(std::vector<uint8_t>* out, const std::vector<T>& records) {
    const size_t at = out->size();
    out->resize(at + records.size() * sizeof(T));
    if (!records.empty()) std::memcpy(out->data() + at, records.data(), records.size() * sizeof(T));
}

bool Touches(const BspBox& a, const BspBox& b) {
    for (int k = 0; k < 3; ++k) {
        if (a.maxs[k] < b.mins[k] || a.mins[k] > b.maxs[k]) return false;
    }
    return true;
}

}  // namespace

BspBuilder BspBuilder::MinimalWorld() {
    BspBuilder b;
    b.AddTexture("textures/test/missing", 1);
    b.AddLightmap(128, 128, 128);
    b.AddPolygon({Vertex(-64, 0, -64, 0, 0), Vertex(-64, 0, 64, 0, 1), Vertex(64, 0, 64, 1, 1),
                  Vertex(64, 0, -64, 1, 0)});
    b.AddMesh({Vertex(0, 16, 0), Vertex(0, 16, 32), Vertex(32, 16, 0)}, {0, 1, 2});
    b.BuildSingleLeafTree();
    return b;
}

BspVertex BspBuilder::Vertex(float x, float y, float z, float s, float t, float ls, float lt) {
    BspVertex v{};
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = z;
    v.texCoord[0] = s;
    v.texCoord[1] = t;
    v.lightmapCoord[0] = ls;
    v.lightmapCoord[1] = lt;
    v.normal[1] = 1.0f;
    std::fill(v.colour, v.colour + 4, uint8_t{255});
    return v;
}

int32_t BspBuilder::AddModel(const BspBox& box, int32_t firstFace, int32_t numFaces) {
    if (models_.empty()) {
        // Model 0, the world: every face written so far.
        BspModel world{};
        world.numFaces = static_cast<int32_t>(faces_.size());
        models_.push_back(world);
    }
    BspModel model{};
    std::copy(box.mins, box.mins + 3, model.mins);
    std::copy(box.maxs, box.maxs + 3, model.maxs);
    model.firstFace = firstFace;
    model.numFaces = numFaces;
    models_.push_back(model);
    return static_cast<int32_t>(models_.size() - 1);
}

int32_t BspBuilder::AddFog(const std::string& shader, int32_t brush, int32_t visibleSide) {
    BspFog fog{};
    std::memcpy(fog.shader, shader.data(), std::min(shader.size(), sizeof fog.shader));
    fog.brush = brush;
    fog.visibleSide = visibleSide;
    fogs_.push_back(fog);
    return static_cast<int32_t>(fogs_.size() - 1);
}

int32_t BspBuilder::AddTexture(const std::string& name, int32_t contents, int32_t surfaceFlags) {
    BspTexture t{};
    std::memcpy(t.name, name.data(), std::min(name.size(), sizeof t.name));
    t.surfaceFlags = surfaceFlags;
    t.contents = contents;
    textures_.push_back(t);
    return static_cast<int32_t>(textures_.size() - 1);
}

int32_t BspBuilder::AddPlane(float nx, float ny, float nz, float dist) {
    planes_.push_back(BspPlane{{nx, ny, nz}, dist});
    return static_cast<int32_t>(planes_.size() - 1);
}

int32_t BspBuilder::AddNode(int32_t plane, int32_t front, int32_t back) {
    BspNode node{};
    node.plane = plane;
    node.front = front;
    node.back = back;
    nodes_.push_back(node);
    return static_cast<int32_t>(nodes_.size() - 1);
}

int32_t BspBuilder::AddLeaf(int32_t cluster, const BspBox& bounds, const std::vector<int32_t>& faces,
                            const std::vector<int32_t>& brushes) {
    BspLeaf leaf{};
    leaf.cluster = cluster;
    for (int k = 0; k < 3; ++k) {
        leaf.mins[k] = static_cast<int32_t>(std::floor(bounds.mins[k]));
        leaf.maxs[k] = static_cast<int32_t>(std::ceil(bounds.maxs[k]));
    }
    leaf.firstLeafFace = static_cast<int32_t>(leafFaces_.size());
    leaf.numLeafFaces = static_cast<int32_t>(faces.size());
    leafFaces_.insert(leafFaces_.end(), faces.begin(), faces.end());
    leaf.firstLeafBrush = static_cast<int32_t>(leafBrushes_.size());
    leaf.numLeafBrushes = static_cast<int32_t>(brushes.size());
    leafBrushes_.insert(leafBrushes_.end(), brushes.begin(), brushes.end());
    return AddLeafRecord(leaf);
}

int32_t BspBuilder::AddLeafRecord(const BspLeaf& leaf) {
    leaves_.push_back(leaf);
    return static_cast<int32_t>(leaves_.size() - 1);
}

int32_t BspBuilder::AddLeafFace(int32_t face) {
    leafFaces_.push_back(face);
    return static_cast<int32_t>(leafFaces_.size() - 1);
}

int32_t BspBuilder::AddLeafBrush(int32_t brush) {
    leafBrushes_.push_back(brush);
    return static_cast<int32_t>(leafBrushes_.size() - 1);
}

int32_t BspBuilder::AddBrushSide(int32_t plane, int32_t texture) {
    brushSides_.push_back(BspBrushSide{plane, texture});
    return static_cast<int32_t>(brushSides_.size() - 1);
}

int32_t BspBuilder::AddBrush(int32_t firstSide, int32_t numSides, int32_t texture) {
    brushes_.push_back(BspBrush{firstSide, numSides, texture});
    return static_cast<int32_t>(brushes_.size() - 1);
}

int32_t BspBuilder::AddBoxBrush(const BspBox& box, int32_t texture) {
    const int32_t firstSide = static_cast<int32_t>(brushSides_.size());
    for (int axis = 0; axis < 3; ++axis) {
        float normal[3] = {0.0f, 0.0f, 0.0f};
        normal[axis] = 1.0f;
        AddBrushSide(AddPlane(normal[0], normal[1], normal[2], box.maxs[axis]), texture);
        normal[axis] = -1.0f;
        AddBrushSide(AddPlane(normal[0], normal[1], normal[2], -box.mins[axis]), texture);
    }
    const int32_t brush = AddBrush(firstSide, 6, texture);
    boxes_.push_back(BoxBrush{brush, box});
    return brush;
}

int32_t BspBuilder::AddVertex(const BspVertex& vertex) {
    vertices_.push_back(vertex);
    return static_cast<int32_t>(vertices_.size() - 1);
}

int32_t BspBuilder::AddMeshVertex(int32_t index) {
    meshVertices_.push_back(index);
    return static_cast<int32_t>(meshVertices_.size() - 1);
}

int32_t BspBuilder::AddFace(const BspFace& face) {
    faces_.push_back(face);
    return static_cast<int32_t>(faces_.size() - 1);
}

int32_t BspBuilder::AddPolygon(const std::vector<BspVertex>& points, int32_t texture, int32_t lightmap) {
    BspFace face{};
    face.texture = texture;
    face.type = kFacePolygon;
    face.firstVertex = static_cast<int32_t>(vertices_.size());
    face.numVertices = static_cast<int32_t>(points.size());
    face.firstMeshVertex = static_cast<int32_t>(meshVertices_.size());
    face.lightmap = lightmap;
    face.normal[1] = 1.0f;
    for (const BspVertex& p : points) AddVertex(p);
    return AddFace(face);
}

int32_t BspBuilder::AddMesh(const std::vector<BspVertex>& points, const std::vector<int32_t>& indices,
                            int32_t texture, int32_t lightmap) {
    BspFace face{};
    face.texture = texture;
    face.type = kFaceMesh;
    face.firstVertex = static_cast<int32_t>(vertices_.size());
    face.numVertices = static_cast<int32_t>(points.size());
    face.firstMeshVertex = static_cast<int32_t>(meshVertices_.size());
    face.numMeshVertices = static_cast<int32_t>(indices.size());
    face.lightmap = lightmap;
    for (const BspVertex& p : points) AddVertex(p);
    for (int32_t index : indices) AddMeshVertex(index);
    return AddFace(face);
}

int32_t BspBuilder::AddPatch(int32_t width, int32_t height, const std::vector<BspVertex>& points, int32_t texture,
                             int32_t lightmap) {
    BspFace face{};
    face.texture = texture;
    face.type = kFacePatch;
    face.firstVertex = static_cast<int32_t>(vertices_.size());
    face.numVertices = static_cast<int32_t>(points.size());
    face.firstMeshVertex = static_cast<int32_t>(meshVertices_.size());
    face.lightmap = lightmap;
    face.patchSize[0] = width;
    face.patchSize[1] = height;
    for (const BspVertex& p : points) AddVertex(p);
    return AddFace(face);
}

int32_t BspBuilder::AddLightmap(const std::vector<uint8_t>& rgb) {
    const size_t at = lightmaps_.size();
    lightmaps_.resize(at + kLightmapBytes, 0);
    std::memcpy(lightmaps_.data() + at, rgb.data(), std::min(rgb.size(), kLightmapBytes));
    return static_cast<int32_t>(at / kLightmapBytes);
}

int32_t BspBuilder::AddLightmap(uint8_t red, uint8_t green, uint8_t blue) {
    std::vector<uint8_t> rgb(kLightmapBytes);
    for (size_t i = 0; i < kLightmapBytes; i += 3) {
        rgb[i] = red;
        rgb[i + 1] = green;
        rgb[i + 2] = blue;
    }
    return AddLightmap(rgb);
}

void BspBuilder::SetVisibility(int32_t clusters, int32_t bytesPerCluster, const std::vector<uint8_t>& rows) {
    visibility_.assign(8, 0);
    std::memcpy(visibility_.data(), &clusters, 4);
    std::memcpy(visibility_.data() + 4, &bytesPerCluster, 4);
    visibility_.insert(visibility_.end(), rows.begin(), rows.end());
}

void BspBuilder::BuildSingleLeafTree(int32_t cluster) {
    nodes_.clear();
    leaves_.clear();
    leafFaces_.clear();
    leafBrushes_.clear();
    std::vector<int32_t> faces(faces_.size());
    for (size_t i = 0; i < faces.size(); ++i) faces[i] = static_cast<int32_t>(i);
    std::vector<int32_t> brushes(brushes_.size());
    for (size_t i = 0; i < brushes.size(); ++i) brushes[i] = static_cast<int32_t>(i);
    const BspBox everywhere{{-kWorldExtent, -kWorldExtent, -kWorldExtent}, {kWorldExtent, kWorldExtent, kWorldExtent}};
    const int32_t leaf = AddLeaf(cluster, everywhere, faces, brushes);
    AddNode(AddPlane(0.0f, 1.0f, 0.0f, 0.0f), LeafChild(leaf), LeafChild(leaf));
}

void BspBuilder::BuildTree(int32_t cluster) {
    nodes_.clear();
    leaves_.clear();
    leafFaces_.clear();
    leafBrushes_.clear();
    const BspBox everywhere{{-kWorldExtent, -kWorldExtent, -kWorldExtent}, {kWorldExtent, kWorldExtent, kWorldExtent}};
    const int32_t root = BuildRegion(everywhere, 0, cluster);
    if (root < 0) {
        // A single region: node 0 still has to exist.
        AddNode(AddPlane(0.0f, 1.0f, 0.0f, 0.0f), root, root);
    }
}

bool BspBuilder::FaceBounds(const BspFace& face, BspBox* box) const {
    int64_t count = face.numVertices;
    if (face.type == kFacePatch) count = static_cast<int64_t>(face.patchSize[0]) * face.patchSize[1];
    if (face.firstVertex < 0 || count <= 0 || face.firstVertex + count > static_cast<int64_t>(vertices_.size())) {
        return false;
    }
    for (int k = 0; k < 3; ++k) {
        box->mins[k] = kWorldExtent;
        box->maxs[k] = -kWorldExtent;
    }
    for (int64_t i = 0; i < count; ++i) {
        const BspVertex& v = vertices_[static_cast<size_t>(face.firstVertex + i)];
        for (int k = 0; k < 3; ++k) {
            box->mins[k] = std::min(box->mins[k], v.position[k]);
            box->maxs[k] = std::max(box->maxs[k], v.position[k]);
        }
    }
    return true;
}

int32_t BspBuilder::AddRegionLeaf(const BspBox& region, int32_t cluster) {
    std::vector<int32_t> faces;
    for (size_t f = 0; f < faces_.size(); ++f) {
        BspBox bounds;
        if (FaceBounds(faces_[f], &bounds) && Touches(bounds, region)) faces.push_back(static_cast<int32_t>(f));
    }
    std::vector<int32_t> brushes;
    for (size_t b = 0; b < brushes_.size(); ++b) {
        bool listed = true;  // brushes that are not boxes go everywhere
        for (const BoxBrush& box : boxes_) {
            if (box.brush == static_cast<int32_t>(b)) listed = Touches(box.box, region);
        }
        if (listed) brushes.push_back(static_cast<int32_t>(b));
    }
    return LeafChild(AddLeaf(cluster, region, faces, brushes));
}

int32_t BspBuilder::BuildRegion(const BspBox& region, int depth, int32_t cluster) {
    int inside = 0;
    int axis = -1;
    float split = 0.0f;
    for (const BoxBrush& box : boxes_) {
        if (!Touches(box.box, region)) continue;
        ++inside;
        for (int k = 0; k < 3 && axis < 0; ++k) {
            for (float value : {box.box.mins[k], box.box.maxs[k]}) {
                if (value > region.mins[k] && value < region.maxs[k]) {
                    axis = k;
                    split = value;
                    break;
                }
            }
        }
    }
    if (depth >= kMaxBuildDepth || axis < 0 || inside <= 1) return AddRegionLeaf(region, cluster);
    float normal[3] = {0.0f, 0.0f, 0.0f};
    normal[axis] = 1.0f;
    const int32_t node = AddNode(AddPlane(normal[0], normal[1], normal[2], split), 0, 0);
    BspBox front = region;
    front.mins[axis] = split;
    BspBox back = region;
    back.maxs[axis] = split;
    const int32_t frontChild = BuildRegion(front, depth + 1, cluster);
    const int32_t backChild = BuildRegion(back, depth + 1, cluster);
    nodes_[static_cast<size_t>(node)].front = frontChild;
    nodes_[static_cast<size_t>(node)].back = backChild;
    return node;
}

void BspBuilder::SetLumpBytes(int lump, const std::vector<uint8_t>& bytes) {
    rawSet_[lump] = true;
    raw_[lump] = bytes;
}

void BspBuilder::PadLump(int lump, size_t extra, uint8_t fill) {
    pad_[lump] = extra;
    padFill_[lump] = fill;
}

void BspBuilder::OverrideLump(int lump, int32_t offset, int32_t length) {
    overridden_[lump] = true;
    override_[lump] = BspLumpEntry{offset, length};
}

std::vector<uint8_t> BspBuilder::LumpContent(int lump) const {
    std::vector<uint8_t> out;
    if (rawSet_[lump]) {
        out = raw_[lump];
    } else {
        switch (lump) {
            case kLumpEntities:
                out.assign(entities_.begin(), entities_.end());
                break;
            case kLumpTextures:
                AppendRecords(&out, textures_);
                break;
            case kLumpPlanes: {
                std::vector<BspPlane> planes = planes_;
                for (BspPlane& p : planes) std::swap(p.normal[1], p.normal[2]);
                AppendRecords(&out, planes);
                break;
            }
            case kLumpNodes:
                AppendRecords(&out, nodes_);
                break;
            case kLumpLeaves: {
                std::vector<BspLeaf> leaves = leaves_;
                for (BspLeaf& l : leaves) {
                    std::swap(l.mins[1], l.mins[2]);
                    std::swap(l.maxs[1], l.maxs[2]);
                }
                AppendRecords(&out, leaves);
                break;
            }
            case kLumpModels: {
                std::vector<BspModel> models = models_;
                for (BspModel& m : models) {
                    std::swap(m.mins[1], m.mins[2]);
                    std::swap(m.maxs[1], m.maxs[2]);
                }
                AppendRecords(&out, models);
                break;
            }
            case kLumpLeafFaces:
                AppendRecords(&out, leafFaces_);
                break;
            case kLumpLeafBrushes:
                AppendRecords(&out, leafBrushes_);
                break;
            case kLumpBrushes:
                AppendRecords(&out, brushes_);
                break;
            case kLumpBrushSides:
                AppendRecords(&out, brushSides_);
                break;
            case kLumpVertices: {
                std::vector<BspVertex> vertices = vertices_;
                for (BspVertex& v : vertices) std::swap(v.position[1], v.position[2]);
                AppendRecords(&out, vertices);
                break;
            }
            case kLumpMeshVertices:
                AppendRecords(&out, meshVertices_);
                break;
            case kLumpEffects:
                AppendRecords(&out, fogs_);
                break;
            case kLumpFaces:
                AppendRecords(&out, faces_);
                break;
            case kLumpLightmaps:
                out = lightmaps_;
                break;
            case kLumpVisibility:
                out = visibility_;
                break;
            default:
                break;
        }
    }
    out.insert(out.end(), pad_[lump], padFill_[lump]);
    return out;
}

std::vector<uint8_t> BspBuilder::Bytes() const {
    std::vector<uint8_t> file(sizeof(BspHeader) + kLumpCount * sizeof(BspLumpEntry), 0);
    std::memcpy(file.data(), magic_.data(), 4);
    std::memcpy(file.data() + 4, &version_, 4);
    for (int lump = 0; lump < kLumpCount; ++lump) {
        while (file.size() % 4 != 0) file.push_back(0);
        const std::vector<uint8_t> content = LumpContent(lump);
        BspLumpEntry entry{static_cast<int32_t>(file.size()), static_cast<int32_t>(content.size())};
        if (overridden_[lump]) entry = override_[lump];
        std::memcpy(file.data() + 8 + lump * sizeof(BspLumpEntry), &entry, sizeof entry);
        file.insert(file.end(), content.begin(), content.end());
    }
    return file;
}

bool BspBuilder::WriteTo(const std::string& path) const {
    const std::filesystem::path file(path);
    std::error_code ignored;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ignored);
    const std::vector<uint8_t> bytes = Bytes();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

BspLumpEntry BspBuilder::LumpEntry(const std::vector<uint8_t>& file, int lump) {
    BspLumpEntry entry{};
    const size_t at = 8 + static_cast<size_t>(lump) * sizeof(BspLumpEntry);
    if (at + sizeof entry <= file.size()) std::memcpy(&entry, file.data() + at, sizeof entry);
    return entry;
}

int32_t BspBuilder::GetInt32(const std::vector<uint8_t>& file, size_t offset) {
    int32_t value = 0;
    if (offset + 4 <= file.size()) std::memcpy(&value, file.data() + offset, 4);
    return value;
}

void BspBuilder::PutInt32(std::vector<uint8_t>* file, size_t offset, int32_t value) {
    if (offset + 4 <= file->size()) std::memcpy(file->data() + offset, &value, 4);
}

float BspBuilder::GetFloat(const std::vector<uint8_t>& file, size_t offset) {
    float value = 0.0f;
    if (offset + 4 <= file.size()) std::memcpy(&value, file.data() + offset, 4);
    return value;
}
