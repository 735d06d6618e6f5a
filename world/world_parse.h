// Reading a world file into plain records (WorldData). The whole file is read
// into memory once; every lump the loader uses is checked against the file's
// size, and every index the tree, leaves and brushes carry against its
// target, before anything is read out. A file that fails those checks is
// rejected with a line naming the problem. Faces are checked one by one: a
// face whose own vertex, mesh or patch references do not fit is kept but
// marked unusable (faceUsable = 0) and never drawn.
//
// Nothing here touches the device. A world load reads the file, checks it,
// and then reads the records a step at a time between the device's steps;
// ParseWorld does all of it at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "world/bsp_format.h"
#include "world/world_data.h"

// The deepest BSP tree a world may have; deeper trees are rejected at load so
// that the recursive sweep can never exhaust the stack.
constexpr int kMaxTreeDepth = 2048;

// The file in memory with its directory; every read is a copy out of it.
struct WorldFile {
    std::vector<uint8_t> bytes;
    BspLumpEntry lumps[kLumpCount] = {};

    const uint8_t* LumpData(int lump) const { return bytes.data() + lumps[lump].offset; }
    uint32_t LumpLength(int lump) const { return static_cast<uint32_t>(lumps[lump].length); }
    // Whole records in the lump; a trailing partial record is ignored.
    uint32_t Count(int lump) const;
};

// Reads the whole file ("Loading level ..."); false, with the line saying
// why, when it cannot be found or held in memory.
bool ReadWorldFile(const char* path, WorldFile* file);
// The header, the directory and every cross reference; prints the counts
// ("BSP Vertices: ...") and false, with the line saying why, for a file
// that cannot be a world.
bool CheckWorldFile(WorldFile* file);

// The readers, one group of lumps each, in the order a load runs them; each
// false (with its line) only when memory runs out. Only for a checked file.
//   Vertices (Y up), mesh vertices, faces, which faces are usable, their
//   boxes, and the patch faces' indices.
bool ReadGeometry(const WorldFile& file, WorldData* data);
//   The texture records and the lightmaps' bytes.
bool ReadSurfaces(const WorldFile& file, WorldData* data);
//   Nodes, leaves, leaf faces, planes (Y up), visibility rows, brushes,
//   brush sides and leaf brushes.
bool ReadTree(const WorldFile& file, WorldData* data);
//   The spawn points of the entity text; a damaged text costs only the
//   points after the fault (with a warning naming path).
void ReadEntities(const WorldFile& file, const char* path, WorldData* data);

//   The brush entities' models (all but model 0) whose face range and box
//   are sound; the others are left out with one warning naming path, and a
//   models lump outside the file costs only the models.
void ReadModels(const WorldFile& file, const char* path, WorldData* data);

//   The fog volumes, each boxed by its brush; needs the tree (ReadTree). A
//   fog whose brush is missing or encloses no box stays, unusable, with a
//   warning naming path; a fogs lump outside the file or of partial records
//   costs only the fogs.
void ReadFogs(const WorldFile& file, const char* path, WorldData* data);

// All of the above for the file at path; false when the file is not a world.
bool ParseWorld(const char* path, WorldData* data);
// The same for bytes already in memory.
bool ParseWorldBytes(std::vector<uint8_t> bytes, const char* path, WorldData* data);

// The record's name as text (it need not end in a zero byte).
std::string RecordName(const BspTexture& record);
// Bytes from a file as text a terminal shows as it is: printable ASCII
// stays, anything else becomes a \xNN escape.
std::string PrintableBytes(const char* bytes, size_t count);
