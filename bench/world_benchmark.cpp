// Benchmarks over the largest installed OpenArena world: loading without
// textures, one frame of world work, and sphere traces. Run by hand:
//   build/bench/osprel_benchmarks [--benchmark_repetitions=5]
// The frame benchmark also counts heap allocations per frame.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "camera/camera.h"
#include "base/file_helpers.h"
#include "base/archive_files.h"
#include "base/message_output.h"
#include "platform/operating_system.h"
#include "video/renderer.h"
#include "video/resource_manager.h"
#include "video/video_system.h"
#include "engine/game_system.h"
#include "engine/world.h"
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
    // The worlds measured: the content folder's largest (the tower), then
    // the installed world with the most faces, copied out of the archives
    // (which are not mounted while measuring, so no world has textures).
    std::string World(int64_t index) const { return index == 0 ? world_ : std::string(kManyFacesWorld); }
    static constexpr const char* kManyFacesWorld = "maps/oa_thor.bsp";
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
        CopyFromArchives(kManyFacesWorld);
        ready_ = g_videoSystem.Initialise() == 1;
        g_resourceManager.Initialise();
        g_camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, 800.0f, 600.0f);
    }
    ~Bench() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    // Copies an entry of the installed archives into the scratch folder.
    static void CopyFromArchives(const char* name) {
        MountDataFolders(DefaultDataFolders());
        MemoryFile file;
        const bool found = file.LoadFromFile(name) > 0;
        UnmountDataFolders();
        if (found) file.SaveToFile(name);
    }

    fs::path folder_;
    std::string world_;
    std::unique_ptr<PlatformBackend> backend_;
    bool ready_ = false;
};

World* LoadWorld(const std::string& name) {
    return dynamic_cast<World*>(g_resourceManager.LoadResource(name.c_str()));
}

// The start-up level's position when the world is the tower, else its first
// spawn point, else the centre of the first leaf with a cluster and faces.
D3DXVECTOR3 InsidePoint(const World& world) {
    // The tower start-up level is ctf_compromise.
    if (std::string(world.Name()) == "maps/tower.lmf") return D3DXVECTOR3(274.0f, 478.0f, 435.0f);
    if (!world.Data().spawnPoints.empty()) return world.Data().spawnPoints.front().origin;
    for (const BspLeaf& leaf : world.Data().leaves) {
        if (leaf.cluster >= 0 && leaf.numLeafFaces > 0) {
            return D3DXVECTOR3((leaf.mins[0] + leaf.maxs[0]) * 0.5f, (leaf.mins[1] + leaf.maxs[1]) * 0.5f,
                               (leaf.mins[2] + leaf.maxs[2]) * 0.5f);
        }
    }
    return D3DXVECTOR3(0.0f, 0.0f, 0.0f);
}

// The benchmark's world (its first argument picks it, see Bench::World),
// loaded; null (the run marked skipped) when there is no such world or no
// video device.
World* StartWorld(benchmark::State& state) {
    Bench& bench = Bench::Get();
    if (!bench.Ready()) {
        state.SkipWithError("no installed world or no video device");
        return nullptr;
    }
    const std::string name = bench.World(state.range(0));
    World* world = LoadWorld(name);
    if (world == nullptr) state.SkipWithError(("the world " + name + " did not load").c_str());
    state.SetLabel(name);
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
        benchmark::DoNotOptimize(RunWorldFrame(&*world));
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
BENCHMARK(BM_WorldGather)->ArgName("world")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Traces between random points within 512 units of the inside point: long
// ones (both ends anywhere in that cube), or short ones of 64 units, about a
// frame's movement (the second argument: 0 long, 1 short).
void BM_Traces(benchmark::State& state) {
    World* world = StartWorld(state);
    if (world == nullptr) return;
    const D3DXVECTOR3 centre = InsidePoint(*world);
    const bool shortTraces = state.range(1) == 1;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> offset(-512.0f, 512.0f);
    std::uniform_real_distribution<float> direction(-1.0f, 1.0f);
    std::vector<std::pair<D3DXVECTOR3, D3DXVECTOR3>> segments(4096);
    for (auto& s : segments) {
        s.first = D3DXVECTOR3(centre.x + offset(random), centre.y + offset(random), centre.z + offset(random));
        if (!shortTraces) {
            s.second = D3DXVECTOR3(centre.x + offset(random), centre.y + offset(random), centre.z + offset(random));
            continue;
        }
        float d[3];
        float length = 0.0f;
        do {
            length = 0.0f;
            for (float& v : d) {
                v = direction(random);
                length += v * v;
            }
        } while (length < 0.01f || length > 1.0f);
        const float scale = 64.0f / std::sqrt(length);
        s.second = D3DXVECTOR3(s.first.x + d[0] * scale, s.first.y + d[1] * scale, s.first.z + d[2] * scale);
    }
    size_t i = 0;
    for (auto _ : state) {
        const auto& s = segments[i++ & 4095];
        benchmark::DoNotOptimize(world->Trace(&s.first, &s.second, 1));
    }
    state.SetItemsProcessed(state.iterations());
    delete world;
}
BENCHMARK(BM_Traces)->ArgNames({"world", "short"})->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({1, 1});

}  // namespace

BENCHMARK_MAIN();
