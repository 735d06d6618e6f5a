// The game subsystem: ties start-up together (the camera's projection, the
// test texture, the start-up script) and drives the loaded world each frame.
#pragma once

#include <cstdint>

#include "base/subsystem.h"
#include "video/d3d9/d3d9.h"

class Camera;
class World;
struct WindowSettings;

constexpr const char* kTestTextureName = "test.tga";
constexpr const char* kStartupScript = "autoexec.cfg";

class CGameSystem : public Subsystem {
public:
    CGameSystem();
    ~CGameSystem() override;

    // Called once by start-up after the resource manager.
    void InitGame();
    int32_t frame() override;
    void shutdown(int32_t reason) override;

    bool Initialised() const { return initialised_ != 0; }
    // The world while the subsystem is active, else null.
    World* GetCurrentWorld() const;
    // The map command: no name reports the current world; a name replaces it.
    // A world name without folder or extension is looked up by name, and the
    // camera starts at the world's first spawn point.
    int32_t Map(const char* name);
    // The spawn command: the camera to spawn point N, or to the next one.
    int32_t Spawn(const char* argument);
    // Puts the camera at the eye of spawn point index (facing its angle);
    // false, with a line saying why, when there is no such point.
    bool PlaceAtSpawn(int32_t index);
    IDirect3DTexture9* TestTexture() const { return testTexture_; }

private:
    Camera* camera_ = nullptr;
    World* world_ = nullptr;
    int32_t initialised_ = 0;
    int32_t worldPresent_ = 0;
    int32_t nextSpawn_ = 0;  // where spawn without N goes
    IDirect3DTexture9* testTexture_ = nullptr;
};

extern CGameSystem g_gameSystem;

// One frame of a loaded world, in order: the physics step (unless clipping
// is off), the view (unless a demo is playing it), then the world's Draw:
// the visible leaves and their faces into the renderer's caches. 1 when the
// frame was gathered.
int32_t RunWorldFrame(World* world);
