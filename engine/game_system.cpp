#include "engine/game_system.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "console/console_object.h"
#include "console/command_interpreter.h"
#include "console/config_script.h"
#include "engine/world.h"
#include "engine/world_catalogue.h"
#include "camera/physics.h"
#include "engine/demo.h"
#include "engine/demo_mode.h"
#include "base/message_output.h"
#include "platform/operating_system.h"
#include "video/d3d9/d3dx9.h"
#include "video/renderer.h"
#include "video/resource_manager.h"
#include "video/video_system.h"
#include "world/world_cvars.h"

namespace {

// The projection the engine draws with: 90 degrees vertically.
constexpr float kFieldOfView = 1.5707964f;
constexpr float kNearPlane = 0.1f;
constexpr float kFarPlane = 10000000.0f;

int32_t MapCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    if (argc < 1 || argv == nullptr) return g_gameSystem.Map(nullptr);
    // A quoted file name may hold spaces.
    const std::string name = UnquotedArgument(argv[0].text);
    return g_gameSystem.Map(name.c_str());
}

// The eye of a player standing at a spawn point is this far above its origin.
constexpr float kSpawnEyeHeight = 26.0f;

int32_t SpawnCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    return g_gameSystem.Spawn(argc > 0 && argv != nullptr ? argv[0].text : nullptr);
}

ConsoleCommand map("map", MapCommand);
ConsoleCommand spawn("spawn", SpawnCommand);

}  // namespace

int32_t RunWorldFrame(World* world) {
    if (GetVideoSystem() == nullptr || GetDevice() == nullptr) {
        PrintLine("Error drawing frame - unable to capture video device");
        return 0;
    }
    Camera& camera = g_camera;
    if (bsp_noclip.intValue == 0) StepPhysics(world->Data(), &camera);
    // A demo being played sets the view itself.
    if (CurrentDemoMode() != kDemoPlayback) camera.UpdateView(0.0f, 0.0f, 0.0f);
    return world->Draw();
}

CGameSystem::CGameSystem() {
    Setup("CGameSystem");
    RegisterSubsystem(this);
    priority = 15;
}

CGameSystem::~CGameSystem() {
    UnregisterSubsystem(this);
    Teardown();
}

void CGameSystem::InitGame() {
    if (initialised_) {
        PrintLine("Error: Cannot re-initialize game system");
        return;
    }
    camera_ = &g_camera;

    // Without a window the size is unknown; the projection then keeps the
    // window settings' size so that it is never degenerate.
    float width = static_cast<float>(g_operatingSystem.WindowWidth());
    float height = static_cast<float>(g_operatingSystem.WindowHeight());
    if (width <= 0.0f || height <= 0.0f) {
        width = static_cast<float>(g_windowSettings.width);
        height = static_cast<float>(g_windowSettings.height);
    }
    camera_->SetProjection(kFieldOfView, kNearPlane, kFarPlane, width, height);

    IDirect3DDevice9* device = GetDevice();
    if (device == nullptr || FAILED(D3DXCreateTextureFromFileA(device, kTestTextureName, &testTexture_))) {
        testTexture_ = nullptr;
        PrintLine("Error loading 'test.tga'");
    }
    initialised_ = 1;
    LoadConfigFile(kStartupScript);
}

int32_t CGameSystem::frame() {
    if (!initialised_) return 1;
    const int32_t result = (worldPresent_ && world_ != nullptr && world_->loaded) ? RunWorldFrame(world_) : 1;
    finished &= result;
    return finished;
}

World* CGameSystem::GetCurrentWorld() const { return active ? world_ : nullptr; }

int32_t CGameSystem::Map(const char* name) {
    if (name == nullptr) {
        if (world_ != nullptr && world_->loaded) {
            PrintLine("Current map is: %s", world_->Name() != nullptr ? world_->Name() : "");
        } else {
            PrintLine("Currently no map is loaded.");
        }
        return 0;
    }
    // A world named without folder or extension is looked up as
    // maps/NAME.lmf or maps/NAME.bsp and starts at its first spawn point.
    const bool byName = IsWorldName(name);
    std::string found;
    if (byName) {
        found = FindWorldByName(name);
        if (found.empty()) {
            PrintLine("Error: no world named %s (neither maps/%s.lmf nor maps/%s.bsp exists)", name, name, name);
            return 0;
        }
        name = found.c_str();
    }
    // The new world loads beside the current one, which goes only once the
    // new one is complete: a missing, damaged or non-world file leaves the
    // world the user was in. (A world that fails to load releases all it
    // took and leaves the renderer's caches and sky as they were.)
    ShowLoadingMessage("Loading: %s", name);
    // The status line has always come twice (the old world used to go
    // between the two), and the start-up transcript keeps it; drawing the
    // same loading screen twice only cost a frame.
    char line[260];  // the loading message's own bound
    std::snprintf(line, sizeof line, "Loading: %s", name);
    ShowStatusText(line);
    Resource* resource = g_resourceManager.LoadResource(name);
    World* world = dynamic_cast<World*>(resource);
    if (world == nullptr) {
        // A name whose extension belongs to another format loads something
        // that is not a world.
        delete resource;
        PrintLine("Error loading world.");
        if (world_ != nullptr && world_->loaded) {
            PrintLine("Still in %s", world_->Name() != nullptr ? world_->Name() : "");
        }
        return 0;
    }
    delete world_;
    world_ = world;
    worldPresent_ = 1;
    world_->loaded = 1;
    nextSpawn_ = 0;
    // A demo of the world just left must not fly its path through this one.
    DemoWorldChanged(world_->Name());
    if (byName) PlaceAtSpawn(0);
    return 1;
}

bool CGameSystem::PlaceAtSpawn(int32_t index) {
    World* world = (worldPresent_ && world_ != nullptr && world_->loaded) ? world_ : nullptr;
    if (world == nullptr) {
        PrintLine("Error: no world is loaded");
        return false;
    }
    const int32_t count = static_cast<int32_t>(world->Data().spawnPoints.size());
    if (count == 0) {
        PrintLine("%s has no spawn points; the camera stays where it was", world->Name() != nullptr ? world->Name() : "");
        return false;
    }
    if (index < 0 || index >= count) {
        PrintLine("syntax: spawn [N], N from 0 to %i", count - 1);
        return false;
    }
    const SpawnPoint& point = world->Data().spawnPoints[static_cast<size_t>(index)];
    g_camera.SetPosition(D3DXVECTOR3(point.origin.x, point.origin.y + kSpawnEyeHeight, point.origin.z));
    g_camera.ResetView(SpawnYaw(point.angle), 0.0f, 0.0f);
    p_thrust.floatValue = 0.0f;  // no jump carries over
    nextSpawn_ = (index + 1) % count;
    PrintLine("Spawn point %i of %i: %s at %.0f %.0f %.0f", index, count, point.classname.c_str(),
              static_cast<double>(point.origin.x), static_cast<double>(point.origin.y),
              static_cast<double>(point.origin.z));
    return true;
}

int32_t CGameSystem::Spawn(const char* argument) {
    int32_t index = nextSpawn_;
    if (argument != nullptr) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(argument, &end, 10);
        if (end == argument || *end != '\0' || errno != 0 || value < 0 || value > INT32_MAX) {
            const int32_t count = world_ != nullptr ? static_cast<int32_t>(world_->Data().spawnPoints.size()) : 0;
            PrintLine("syntax: spawn [N], N from 0 to %i", count > 0 ? count - 1 : 0);
            return 0;
        }
        index = static_cast<int32_t>(value);
    }
    return PlaceAtSpawn(index) ? 1 : 0;
}

void CGameSystem::shutdown(int32_t) {
    finished = 1;
    if (!initialised_) {
        PrintLine("Error: Cannot shutdown un-initialized game system.");
        return;
    }
    if (world_ != nullptr) {
        if (world_->loaded) world_->Unload();
        delete world_;
        world_ = nullptr;
    }
    if (testTexture_ != nullptr) testTexture_->Release();
    testTexture_ = nullptr;
    initialised_ = 0;
    worldPresent_ = 0;
}
