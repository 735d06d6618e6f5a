#include "engine/world.h"

#include <cstdio>

#include "base/message_output.h"
#include "video/renderer.h"
#include "video/world_gather.h"
#include "camera/camera.h"
#include "world/collision.h"
#include "world/world_parse.h"

namespace {

// The world's steps in load order: the file and its checks, then each group
// of records followed by what the device makes of it.
bool LoadWorld(const char* path, WorldData* data, WorldPictures* pictures) {
    WorldFile file;
    if (!ReadWorldFile(path, &file) || !CheckWorldFile(&file)) return false;
    if (!ReadGeometry(file, data) || !BuildWorldGeometry(*data, pictures)) return false;
    if (!ReadSurfaces(file, data) || !BuildWorldSurfaces(*data, pictures)) return false;
    if (!ReadTree(file, data)) return false;
    ReadEntities(file, path, data);
    ReadModels(file, path, data);
    ReadFogs(file, path, data);
    BuildWorldFogs(*data, pictures);
    // The device holds its copies now.
    data->ReleaseStaging();
    return true;
}

CBSPFormat_t s_worldFormat;
CBSPFormat_t s_archiveWorldFormat("bsp");
// Index 3: worlds; index 4: worlds as the archives name them.
const FormatRegistration s_worldFormats({&s_worldFormat, &s_archiveWorldFormat});

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
    if (!LoadWorld(path, &data_, &pictures_)) {
        ReleaseAll();
        return false;
    }
    char name[260] = {};
    std::snprintf(name, sizeof name, "%s", path);
    SetName(name);
    loaded = 1;
    ShowLoadingMessage("Loading complete!");
    UseWorldPictures(pictures_);
    return true;
}

bool World::Unload() {
    if (loaded == 0) return false;
    ReleaseAll();
    return true;
}

void World::ReleaseAll() {
    ReleaseWorldPictures(&pictures_);
    data_ = WorldData{};
    loaded = 0;
}

int32_t World::Draw() { return GatherWorld(data_, &pictures_, g_camera); }

float World::Trace(const D3DXVECTOR3* start, const D3DXVECTOR3* end, int32_t enabled) {
    if (start == nullptr || end == nullptr || enabled == 0) return -1.0f;
    const TraceResult result = SweepSphere(data_, *start, *end);
    traceFraction = result.fraction;
    traceNormal = result.normal;
    return traceFraction;
}

uint64_t World::SizeInBytes() const { return data_.SizeInBytes() + pictures_.SizeInBytes(); }

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
