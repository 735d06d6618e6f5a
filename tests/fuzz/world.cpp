// Fuzz target: the bytes as a world file loaded by the engine's world loader
// on the headless device (the loader makes its buffers and textures there),
// then swept by the collision code. The device comes up once per process; the
// world is released after each input, which leaves nothing of it behind.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "base/message_output.h"
#include "fuzz/fuzz_support.h"
#include "platform/font_files.h"
#include "support/headless_window.h"
#include "video/video_system.h"
#include "world/world.h"

namespace {

std::unique_ptr<HeadlessWindow> g_window;

// The folder the loads run in: it holds the engine's shader file and fallback
// texture, which the video subsystem loads as it starts.
const std::string& WorldFolder() {
    static const std::string folder = fuzz::ScratchFolder() + "/world";
    return folder;
}

void StopDevice() {
    g_videoSystem.shutdown(0);
    g_window.reset();
}

void StartDeviceOnce() {
    static const bool started = [] {
        std::filesystem::create_directories(WorldFolder() + "/maps");
        const auto overwrite = std::filesystem::copy_options::overwrite_existing;
        std::filesystem::copy_file(OSPREL_FUZZ_CONTENT_SOURCE "/shaders.hlsl", WorldFolder() + "/shaders.hlsl",
                                   overwrite);
        // The fallback texture the video subsystem loads as it starts; the
        // image target's corpus keeps a copy of the one the build makes.
        std::filesystem::copy_file(OSPREL_FUZZ_CORPUS "/image/noshader.jpg", WorldFolder() + "/noshader.jpg",
                                   overwrite);
        fuzz::WorkingDirectory inFolder(WorldFolder());
        // What the start-up says goes to standard output, so that a device
        // that does not come up explains itself; then the loads run quiet.
        const PrintTap previous = SetPrintTap(StandardOutputTap());
        g_window = std::make_unique<HeadlessWindow>(320, 240);
        if (g_videoSystem.Initialise() != 1 || GetDevice() == nullptr) {
            std::fprintf(stderr, "world fuzz target: the headless device did not start\n");
            std::abort();
        }
        // OSPREL_FUZZ_VERBOSE=1 keeps the loader's lines, to see why an input fails.
        if (std::getenv("OSPREL_FUZZ_VERBOSE") == nullptr) SetPrintTap(previous);
        // The overlay's font is made: fontconfig's caches go back now, as
        // they do when the video shuts down, and are never filled again.
        ReleaseFontLookup();
        std::atexit(StopDevice);
        return true;
    }();
    (void)started;
}

// Sweeps through the middle of the world and along its axes: the tree,
// leaves and brushes the loader accepted must carry every sweep to an end.
void Sweep(World* world) {
    const D3DXVECTOR3 points[] = {{0, 0, 0}, {512, 64, -256}, {-300, 100, 300}, {1e6f, -1e6f, 1e6f}};
    for (const D3DXVECTOR3& a : points) {
        for (const D3DXVECTOR3& b : points) {
            const float fraction = world->Trace(&a, &b, 1);
            if (std::isnan(fraction)) std::abort();
            D3DXVECTOR3 result{};
            world->SlideMove(&a, &b, &result, true);
            world->ResetSlideMoveCount();
        }
    }
}

}  // namespace

// The device starts before the first input, once for the process.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    StartDeviceOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    StartDeviceOnce();
    fuzz::WorkingDirectory inFolder(WorldFolder());
    fuzz::WriteFile(WorldFolder() + "/maps/fuzz.lmf", data, size);
    World world;
    if (world.Load("maps/fuzz.lmf")) Sweep(&world);
    return 0;
}
