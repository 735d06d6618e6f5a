// Writes small world files ("IBSP", extension "lmf") in code, for tests:
// textures, planes, a BSP tree, leaves, box brushes, polygon, mesh and patch
// faces, lightmaps and visibility rows, and deliberately broken files.
//
// Coordinates. Everything a test hands the builder is in the engine's world
// space (Y up). The file's space is Z up, so the builder exchanges Y and Z of
// vertex positions, plane normals and leaf bounds as it writes; a loaded
// World then holds exactly the values the test gave. Nothing else (vertex
// normals, texture coordinates, indices) is converted, as in the loader.
//
// Typical use:
//   BspBuilder b = BspBuilder::MinimalWorld();         // loads as it is
//   int solid = b.AddTexture("textures/base/wall", 1);
//   b.AddBoxBrush({{-100, -10, -100}, {100, 0, 100}}, solid);  // a floor
//   b.BuildTree();                                       // replaces the tree
//   b.WriteTo("maps/test.lmf");
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "world/bsp_format.h"

// An axis-aligned box in world space (Y up).
struct BspBox {
    float mins[3];
    float maxs[3];
};

class BspBuilder {
public:
    BspBuilder() = default;

    // The smallest world that loads: texture 0 "textures/test/missing"
    // (contents 1, no image), lightmap 0 (mid grey), a square polygon face 0
    // (y = 0, x and z in -64..64, facing up), a mesh face 1 (one triangle,
    // mesh vertices 0, 1, 2 over its own three vertices) and a one-leaf tree.
    static BspBuilder MinimalWorld();

    // A vertex at (x, y, z), world space, with texture and lightmap
    // coordinates; normal (0, 1, 0), colour white.
    static BspVertex Vertex(float x, float y, float z, float s = 0.0f, float t = 0.0f, float ls = 0.0f,
                            float lt = 0.0f);
    // The child code of a leaf in a node record: -(leaf + 1).
    static int32_t LeafChild(int32_t leaf) { return -(leaf + 1); }

    // Records; each returns the new record's index.
    int32_t AddTexture(const std::string& name, int32_t contents = 1, int32_t surfaceFlags = 0);
    // normal . p - dist >= 0 is in front; normal in world space.
    int32_t AddPlane(float nx, float ny, float nz, float dist);
    // front and back as in the file: a node index, or LeafChild(leaf).
    int32_t AddNode(int32_t plane, int32_t front, int32_t back);
    // Appends the leaf's faces and brushes to the leaf-face and leaf-brush
    // lists and points the leaf at them.
    int32_t AddLeaf(int32_t cluster, const BspBox& bounds, const std::vector<int32_t>& faces,
                    const std::vector<int32_t>& brushes);
    int32_t AddLeafRecord(const BspLeaf& leaf);  // as given (world space bounds)
    int32_t AddLeafFace(int32_t face);
    int32_t AddLeafBrush(int32_t brush);
    int32_t AddBrushSide(int32_t plane, int32_t texture = 0);
    int32_t AddBrush(int32_t firstSide, int32_t numSides, int32_t texture);
    // Six outward planes (+x, -x, +y, -y, +z, -z), six sides and the brush;
    // the box is remembered for BuildTree.
    int32_t AddBoxBrush(const BspBox& box, int32_t texture);
    int32_t AddVertex(const BspVertex& vertex);
    int32_t AddMeshVertex(int32_t index);
    int32_t AddFace(const BspFace& face);
    // A polygon (type 1) over new vertices.
    int32_t AddPolygon(const std::vector<BspVertex>& points, int32_t texture = 0, int32_t lightmap = 0);
    // A mesh (type 3) over new vertices; indices relative to its first vertex.
    int32_t AddMesh(const std::vector<BspVertex>& points, const std::vector<int32_t>& indices, int32_t texture = 0,
                    int32_t lightmap = 0);
    // A patch (type 2): width x height control points, row by row.
    int32_t AddPatch(int32_t width, int32_t height, const std::vector<BspVertex>& points, int32_t texture = 0,
                     int32_t lightmap = 0);
    // A brush entity's model (the file's model 0, the world, is written
    // first when there is none): its box in world space and its faces.
    int32_t AddModel(const BspBox& box, int32_t firstFace, int32_t numFaces);
    // A fog volume (lump 12): its shader and the brush it fills.
    int32_t AddFog(const std::string& shader, int32_t brush, int32_t visibleSide = -1);
    // rgb: 128 x 128 texels, 3 bytes each, rows one after the other (49152
    // bytes; shorter data is padded with zeros).
    int32_t AddLightmap(const std::vector<uint8_t>& rgb);
    int32_t AddLightmap(uint8_t red, uint8_t green, uint8_t blue);
    // Lump 16: the two counts, then rows (written as given, any length).
    void SetVisibility(int32_t clusters, int32_t bytesPerCluster, const std::vector<uint8_t>& rows);
    void ClearVisibility() { visibility_.clear(); }
    void SetVersion(int32_t version) { version_ = version; }
    void SetMagic(const char* four) { magic_.assign(four, four + 4); }
    void SetEntities(const std::string& text) { entities_ = text; }

    // Trees; both replace nodes, leaves, leaf faces and leaf brushes.
    // One node (plane y = 0) whose two children are leaf 0, which lists every
    // face and every brush.
    void BuildSingleLeafTree(int32_t cluster = 0);
    // Axis-aligned splits along the faces of the box brushes until each leaf
    // holds at most one box (or the tree is 16 deep); each leaf lists the
    // brushes and faces whose bounds touch its region, which is also its
    // bounding box. Node 0 always exists. Every leaf gets cluster.
    void BuildTree(int32_t cluster = 0);

    // The records as they stand, for hand edits (world space).
    std::vector<BspTexture>& Textures() { return textures_; }
    std::vector<BspPlane>& Planes() { return planes_; }
    std::vector<BspNode>& Nodes() { return nodes_; }
    std::vector<BspLeaf>& Leaves() { return leaves_; }
    std::vector<int32_t>& LeafFaces() { return leafFaces_; }
    std::vector<int32_t>& LeafBrushes() { return leafBrushes_; }
    std::vector<BspBrush>& Brushes() { return brushes_; }
    std::vector<BspBrushSide>& BrushSides() { return brushSides_; }
    std::vector<BspVertex>& Vertices() { return vertices_; }
    std::vector<int32_t>& MeshVertices() { return meshVertices_; }
    std::vector<BspFace>& Faces() { return faces_; }
    std::vector<uint8_t>& Lightmaps() { return lightmaps_; }
    std::vector<BspModel>& Models() { return models_; }  // model 0 included
    std::vector<BspFog>& Fogs() { return fogs_; }

    // Broken files. The lump's bytes as written, instead of its records.
    void SetLumpBytes(int lump, const std::vector<uint8_t>& bytes);
    // extra bytes after the lump's records (a partial trailing record).
    void PadLump(int lump, size_t extra, uint8_t fill = 0);
    // The directory entry as written, whatever the lump holds.
    void OverrideLump(int lump, int32_t offset, int32_t length);

    // The file: header, 17-entry directory, lumps in index order (each
    // starting on a 4-byte boundary).
    std::vector<uint8_t> Bytes() const;
    // Writes Bytes() to path (folders are created); false on failure.
    bool WriteTo(const std::string& path) const;

    // Reading and patching a built file.
    static BspLumpEntry LumpEntry(const std::vector<uint8_t>& file, int lump);
    static int32_t GetInt32(const std::vector<uint8_t>& file, size_t offset);
    static void PutInt32(std::vector<uint8_t>* file, size_t offset, int32_t value);
    static float GetFloat(const std::vector<uint8_t>& file, size_t offset);

private:
    struct BoxBrush {
        int32_t brush;
        BspBox box;
    };
    std::vector<uint8_t> LumpContent(int lump) const;
    bool FaceBounds(const BspFace& face, BspBox* box) const;
    int32_t BuildRegion(const BspBox& region, int depth, int32_t cluster);
    int32_t AddRegionLeaf(const BspBox& region, int32_t cluster);

    std::vector<char> magic_{'I', 'B', 'S', 'P'};
    int32_t version_ = 46;
    std::string entities_;
    std::vector<BspTexture> textures_;
    std::vector<BspPlane> planes_;
    std::vector<BspNode> nodes_;
    std::vector<BspLeaf> leaves_;
    std::vector<int32_t> leafFaces_;
    std::vector<int32_t> leafBrushes_;
    std::vector<BspBrush> brushes_;
    std::vector<BspBrushSide> brushSides_;
    std::vector<BspVertex> vertices_;
    std::vector<int32_t> meshVertices_;
    std::vector<BspFace> faces_;
    std::vector<uint8_t> lightmaps_;
    std::vector<BspModel> models_;
    std::vector<BspFog> fogs_;
    std::vector<uint8_t> visibility_;
    std::vector<BoxBrush> boxes_;

    bool rawSet_[kLumpCount] = {};
    std::vector<uint8_t> raw_[kLumpCount];
    size_t pad_[kLumpCount] = {};
    uint8_t padFill_[kLumpCount] = {};
    bool overridden_[kLumpCount] = {};
    BspLumpEntry override_[kLumpCount] = {};
};
