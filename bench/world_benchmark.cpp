// Benchmarks over the largest installed OpenArena world: loading without
// textures, one frame of world work, and sphere traces. Run by hand:
//   build/bench/osprel_benchmarks [--benchmark_repetitions=5]
// The frame benchmark also counts heap allocations per frame.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "camera/camera.h"
#include "engine/file_helpers.h"
#include "platform/message_output.h"
#include "platform/operating_system.h"
#include "video/renderer.h"
#include "video/resource_manager.h"
#include "video/video_system.h"
#include "world/world.h"
#include "world/world_cvars.h"

namespace {

std::atomic<uint64_t> g_allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

namespace fs = std::filesystem;

// A started engine (headless window, video device) in a scratch folder that
// holds the world and the engine's content but no world textures.
class Bench {
public:
    static Bench& Get() {
        static Bench bench;
        return bench;
    }
    const std::string& WorldName() const { return world_; }
    bool Ready() const { return ready_; }

private:
    Bench() {
        const fs::path content = OSPREL_BENCH_CONTENT_DIR;
        fs::path largest;
        std::uintmax_t size = 0;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(content / "maps", error)) {
            if (entry.path().extension() == ".lmf" && entry.file_size() > size) {
                size = entry.file_size();
                largest = entry.path();
            }
        }
        if (largest.empty()) return;
        char pattern[] = "/tmp/osprel-bench-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) return;
        folder_ = pattern;
        fs::create_directories(folder_ / "maps");
        for (const char* name : {"shaders.hlsl", "noshader.jpg"}) fs::copy_file(content / name, folder_ / name);
        fs::copy_file(largest, folder_ / "maps" / largest.filename());
        world_ = "maps/" + largest.filename().string();
        fs::current_path(folder_);

        SetPrintTap(PrintTap{});
        ::setenv("OSPREL_INSTANCE_NAME", ("osprel-bench-" + std::to_string(::getpid())).c_str(), 1);
        backend_ = CreateHeadlessBackend();
        g_operatingSystem.Start(backend_.get(), std::make_unique<FixedStepTimeSource>(10.0));
        WindowSettings settings;
        settings.fullscreen = 0;
        g_operatingSystem.CreateMainWindow(&settings);
        ready_ = g_videoSystem.Initialise() == 1;
        g_resourceManager.Initialise();
        g_camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, 800.0f, 600.0f);
    }
    ~Bench() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    fs::path folder_;
    std::string world_;
    std::unique_ptr<PlatformBackend> backend_;
    bool ready_ = false;
};

World* LoadWorld(const std::string& name) {
    return dynamic_cast<World*>(g_resourceManager.LoadResource(name.c_str()));
}

// The start-up level's position when the world is the tower, else the
// centre of the first leaf with a cluster and faces.
D3DXVECTOR3 InsidePoint(const World& world) {
    // The tower start-up level is ctf_compromise.
    if (Bench::Get().WorldName() == "maps/tower.lmf") return D3DXVECTOR3(274.0f, 478.0f, 435.0f);
    for (const BspLeaf& leaf : world.leaves) {
        if (leaf.cluster >= 0 && leaf.numLeafFaces > 0) {
            return D3DXVECTOR3((leaf.mins[0] + leaf.maxs[0]) * 0.5f, (leaf.mins[1] + leaf.maxs[1]) * 0.5f,
                               (leaf.mins[2] + leaf.maxs[2]) * 0.5f);
        }
    }
    return D3DXVECTOR3(0.0f, 0.0f, 0.0f);
}

// The benchmark's world, loaded; null (the run marked skipped) when there is
// no installed world or no video device.
World* StartWorld(benchmark::State& state) {
    Bench& bench = Bench::Get();
    if (!bench.Ready()) {
        state.SkipWithError("no installed world or no video device");
        return nullptr;
    }
    World* world = LoadWorld(bench.WorldName());
    if (world == nullptr) state.SkipWithError("the world did not load");
    return world;
}

void BM_WorldLoadWithoutTextures(benchmark::State& state) {
    Bench& bench = Bench::Get();
    if (!bench.Ready()) {
        state.SkipWithError("no installed world or no video device");
        return;
    }
    for (auto _ : state) {
        World* world = LoadWorld(bench.WorldName());
        benchmark::DoNotOptimize(world);
        if (world == nullptr) {
            state.SkipWithError("the world did not load");
            return;
        }
        delete world;
    }
    state.SetLabel(bench.WorldName());
}
BENCHMARK(BM_WorldLoadWithoutTextures)->Unit(benchmark::kMillisecond);

// One frame of world work, the caches emptied between frames the way the
// renderer does, and the heap allocations the frame makes.
void BM_WorldGather(benchmark::State& state) {
    World* world = StartWorld(state);
    if (world == nullptr) return;
    // Free flight keeps the view still, so every frame gathers the same.
    bsp_noclip.intValue = 1;
    g_camera.SetPosition(InsidePoint(*world));
    g_camera.ResetView(0.0f, 0.0f, 0.0f);
    uint64_t allocations = 0;
    uint64_t gathered = 0;
    uint64_t frames = 0;
    for (auto _ : state) {
        const uint64_t before = g_allocations.load(std::memory_order_relaxed);
        benchmark::DoNotOptimize(world->Draw());
        allocations += g_allocations.load(std::memory_order_relaxed) - before;
        ++frames;
        state.PauseTiming();
        for (const RenderList& list : g_renderer.MainSet().lists) gathered += list.used;
        for (const RenderList& list : g_renderer.TgaSet().lists) gathered += list.used;
        g_renderer.EmptyCaches();
        state.ResumeTiming();
    }
    state.counters["allocations_per_frame"] =
        frames > 0 ? static_cast<double>(allocations) / static_cast<double>(frames) : 0.0;
    state.counters["items_per_frame"] =
        frames > 0 ? static_cast<double>(gathered) / static_cast<double>(frames) : 0.0;
    delete world;
}
BENCHMARK(BM_WorldGather)->Unit(benchmark::kMicrosecond);

void BM_Traces(benchmark::State& state) {
    World* world = StartWorld(state);
    if (world == nullptr) return;
    const D3DXVECTOR3 centre = InsidePoint(*world);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> offset(-512.0f, 512.0f);
    std::vector<std::pair<D3DXVECTOR3, D3DXVECTOR3>> segments(4096);
    for (auto& s : segments) {
        s.first = D3DXVECTOR3(centre.x + offset(random), centre.y + offset(random), centre.z + offset(random));
        s.second = D3DXVECTOR3(centre.x + offset(random), centre.y + offset(random), centre.z + offset(random));
    }
    size_t i = 0;
    for (auto _ : state) {
        const auto& s = segments[i++ & 4095];
        benchmark::DoNotOptimize(world->Trace(&s.first, &s.second, 1));
    }
    state.SetItemsProcessed(state.iterations());
    delete world;
}
BENCHMARK(BM_Traces);

}  // namespace

BENCHMARK_MAIN();
