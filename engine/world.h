// A loaded world: its records (world/world_data.h) and its pictures on the
// device (video/world_pictures.h), made by the world format through the
// resource manager and owned by the game subsystem.
#pragma once

#include <cstdint>

#include "video/d3d9/d3dx9.h"
#include "video/resource_manager.h"
#include "video/world_pictures.h"
#include "world/world_data.h"

class World : public Resource {
public:
    World();
    ~World() override;

    // Reads a world file and builds its pictures; prints its progress and
    // errors. A world broken in its structure is rejected; faces with bad
    // references are left out.
    virtual bool Load(const char* path);
    // Releases everything; false when the world never finished loading.
    virtual bool Unload();
    // The frame's drawing part: the leaves the camera sees, their faces into
    // the renderer's caches. 1 when the frame was gathered. The rest of a
    // frame (physics, the view) is the game subsystem's; see RunWorldFrame.
    virtual int32_t Draw();
    // The free fraction of the segment for a sphere of radius 25; -1 when an
    // argument is missing or enabled is 0. Also kept in traceFraction and
    // traceNormal.
    virtual float Trace(const D3DXVECTOR3* start, const D3DXVECTOR3* end, int32_t enabled);

    uint64_t SizeInBytes() const override;

    const WorldData& Data() const { return data_; }
    WorldData& Data() { return data_; }
    const WorldPictures& Pictures() const { return pictures_; }

    int32_t loaded = 0;
    // The last Trace's result.
    float traceFraction = 1.0f;
    D3DXVECTOR3 traceNormal{0.0f, 0.0f, 0.0f};

private:
    void ReleaseAll();

    WorldData data_;
    WorldPictures pictures_;
};

// Worlds come as "lmf" (the engine's own name for them) and as "bsp" (as the
// game's archives ship them); one format object per extension, registered
// with the resource manager after its image formats.
class CBSPFormat_t : public ResourceFormat {
public:
    explicit CBSPFormat_t(const char* extension = "lmf");
    Resource* Load(const char* path) override;
    int32_t FormatWrite(void* destination, const void* source) override;
};
