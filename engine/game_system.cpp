#include "engine/game_system.h"

#include <cstring>

#include "camera/camera.h"
#include "console/console_object.h"
#include "console/config_script.h"
#include "platform/message_output.h"
#include "platform/operating_system.h"
#include "video/d3d9/d3dx9.h"
#include "video/renderer.h"
#include "video/resource_manager.h"
#include "video/video_system.h"
#include "world/world.h"

namespace {

// The projection the engine draws with: 90 degrees vertically.
constexpr float kFieldOfView = 1.5707964f;
constexpr float kNearPlane = 0.1f;
constexpr float kFarPlane = 10000000.0f;

int32_t MapCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    return g_gameSystem.Map(argc > 0 && argv != nullptr ? argv[0].text : nullptr);
}

ConsoleCommand map("map", MapCommand);

}  // namespace

CGameSystem::CGameSystem() {
    Setup("CGameSystem");
    RegisterSubsystem(this);
    priority = 15;
    std::strncpy(description_, "Osprel 2.0 Default", sizeof description_ - 1);
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
    windowInfo_ = g_operatingSystem.WindowExists() ? &g_operatingSystem : nullptr;
    videoSystem_ = GetVideoSystem();

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
    reserved_ = 0;
    LoadConfigFile(kStartupScript);
}

int32_t CGameSystem::frame() {
    if (!initialised_) return 1;
    const int32_t result = (worldPresent_ && world_ != nullptr && world_->loaded) ? world_->Draw() : 1;
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
    ShowLoadingMessage("Loading: %s", name);
    delete world_;
    world_ = nullptr;
    worldPresent_ = 0;
    ShowLoadingMessage("Loading: %s", name);
    Resource* resource = g_resourceManager.LoadResource(name);
    World* world = dynamic_cast<World*>(resource);
    if (world == nullptr) {
        // A name whose extension belongs to another format loads something
        // that is not a world.
        delete resource;
        PrintLine("Error loading world.");
        return 0;
    }
    world_ = world;
    worldPresent_ = 1;
    world_->loaded = 1;
    return 1;
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
