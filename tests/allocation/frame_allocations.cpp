// A running world must not allocate per frame: gathering, the five render
// paths and the overlay draw from storage made at load time. This program
// replaces the global operator new and delete to count the allocations the
// main thread makes while the counting window is open.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "engine/game_system.h"
#include "engine/demo_mode.h"
#include "support/loaded_world.h"
#include "video/renderer.h"
#include "video/shader_library.h"
#include "video/video_cvars.h"
#include "video/video_system.h"
#include "world/world_cvars.h"

namespace {

thread_local bool t_counting = false;
std::atomic<uint64_t> g_allocations{0};

void* Allocate(std::size_t size) {
    if (t_counting) g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
    throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
    if (t_counting) g_allocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t align = static_cast<std::size_t>(alignment);
    if (void* memory = std::aligned_alloc(align, (size + align - 1) / align * align)) return memory;
    throw std::bad_alloc();
}

// Counts this thread's allocations from construction to Count().
class AllocationWindow {
public:
    AllocationWindow() : start_(g_allocations.load()) { t_counting = true; }
    ~AllocationWindow() { t_counting = false; }
    uint64_t Count() {
        t_counting = false;
        return g_allocations.load() - start_;
    }

private:
    uint64_t start_;
};

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return AllocateAligned(size, alignment); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }

namespace {

class FrameAllocations : public LoadedWorld {
protected:
    void SetUp() override {
        LoadedWorld::SetUp();
        bsp_noclip.intValue = 1;  // the camera stays where it is put
    }
    void TearDown() override {
        bsp_noclip.intValue = 0;
        vid_effectmode.intValue = 0;
        g_renderer.EmptyCaches();
        LoadedWorld::TearDown();
    }

    // One engine frame's drawing work: gather, then draw through the path.
    static void Frame(World* world) {
        RunWorldFrame(&*world);
        g_renderer.frame();
    }
};

// The small world with a curved patch, so that fans, lists and strips are
// all drawn.
BspBuilder WorldWithPatch() {
    BspBuilder b = BspBuilder::MinimalWorld();
    std::vector<BspVertex> points;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 5; ++c) points.push_back(BspBuilder::Vertex(c * 10.0f - 20.0f, 0.0f, r * 10.0f - 10.0f));
    }
    b.AddPatch(5, 3, points);
    b.BuildSingleLeafTree();
    return b;
}

}  // namespace

TEST_F(FrameAllocations, RunningFramesAllocateNothingOnAnyPath) {
    World* world = Load(WorldWithPatch());
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 50.0f, 200.0f));
    g_camera.ResetView(0.0f, 0.0f, 0.0f);
    for (int path = 0; path <= 4; ++path) {
        vid_effectmode.intValue = path;
        // The first frames of a path may make what it keeps (programs, blocks).
        for (int i = 0; i < 5; ++i) Frame(world);
        ASSERT_GT(g_renderer.ItemsDrawn(), 0u) << "path " << path << " drew no world";
        // The polygon and the mesh share texture and lightmap: one merged
        // draw, whose indices are built every frame, takes the polygon's fan.
        std::vector<std::string> trace;
        D3D9SetTrace(GetDevice(), &trace);
        Frame(world);
        D3D9SetTrace(GetDevice(), nullptr);
        EXPECT_EQ(std::count_if(trace.begin(), trace.end(),
                                [](const std::string& line) { return line.rfind("DrawPrimitive(D3DPT_TRIANGLEFAN", 0) == 0; }),
                  0) << "path " << path;
        AllocationWindow window;
        for (int i = 0; i < 100; ++i) Frame(world);
        EXPECT_EQ(window.Count(), 0u) << "allocations in 100 frames of path " << path;
    }
}

TEST_F(FrameAllocations, CloudLayersAllocateNothingEitherOnAnyPath) {
    folder_.Write("scripts/sky.shader",
                  "textures/skies/clouds\n{\n\tsurfaceparm sky\n\tskyParms - 512 -\n"
                  "\t{\n\t\tmap env/clouds.tga\n\t\ttcMod scale 3 2\n\t\ttcMod scroll 0.05 0.03\n\t}\n"
                  "\t{\n\t\tmap env/clouds.tga\n\t\tblendFunc blend\n\t\talphaGen const 0.5\n\t}\n}\n");
    folder_.Write("env/clouds.tga", SolidTga(2, 2, 0x60, 0x60, 0x60));
    ForgetWorldShaders();
    BspBuilder builder = WorldWithPatch();
    builder.AddTexture("textures/skies/clouds");
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    ASSERT_EQ(g_renderer.WorldCloudCount(), 2);
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 50.0f, 200.0f));
    g_camera.ResetView(0.0f, 0.0f, 0.0f);
    for (int path = 0; path <= 4; ++path) {
        vid_effectmode.intValue = path;
        for (int i = 0; i < 5; ++i) Frame(world);
        // Fewer frames than above: each draws the sky's dome twice over.
        AllocationWindow window;
        for (int i = 0; i < 20; ++i) Frame(world);
        EXPECT_EQ(window.Count(), 0u) << "allocations in 20 frames of path " << path;
    }
    world_.reset();
    ForgetWorldShaders();
}

TEST_F(FrameAllocations, MaterialsFogAndSpritesAllocateNothingOnAnyPath) {
    folder_.Write("scripts/test.shader",
                  "textures/test/stages\n{\n\tdeformVertexes wave 100 sin 0 2 0 1\n"
                  "\t{\n\t\tmap env/grey.tga\n\t\ttcMod turb 0 0.1 0 1\n\t\ttcMod rotate 30\n\t}\n"
                  "\t{\n\t\tanimMap 4 env/grey.tga env/grey2.tga\n\t\tblendFunc add\n\t\trgbGen wave sin 0.5 0.5 0 1\n\t}\n"
                  "\t{\n\t\tmap $lightmap\n\t\tblendFunc filter\n\t}\n}\n"
                  "textures/test/flare\n{\n\tdeformVertexes autosprite\n\t{\n\t\tmap env/grey.tga\n"
                  "\t\tblendFunc blend\n\t\talphaGen const 0.5\n\t}\n}\n"
                  "textures/test/fog\n{\n\tsurfaceparm fog\n\tfogParms ( 0.5 0.5 0.5 ) 500\n}\n");
    folder_.Write("env/grey.tga", SolidTga(2, 2, 0x60, 0x60, 0x60));
    folder_.Write("env/grey2.tga", SolidTga(2, 2, 0x30, 0x30, 0x30));
    ForgetWorldShaders();
    BspBuilder builder = WorldWithPatch();
    const int32_t stages = builder.AddTexture("textures/test/stages");
    const int32_t flare = builder.AddTexture("textures/test/flare");
    const int32_t fog = builder.AddTexture("textures/test/fog");
    builder.AddPolygon({BspBuilder::Vertex(-20, 0, -20), BspBuilder::Vertex(20, 0, -20), BspBuilder::Vertex(20, 20, -20),
                        BspBuilder::Vertex(-20, 20, -20)},
                       stages, 0);
    builder.AddPolygon({BspBuilder::Vertex(-5, 10, 0, 0, 0), BspBuilder::Vertex(5, 10, 0, 1, 0),
                        BspBuilder::Vertex(5, 20, 0, 1, 1), BspBuilder::Vertex(-5, 20, 0, 0, 1)},
                       flare, 0);
    builder.AddFog("textures/test/fog", builder.AddBoxBrush({{-1000, -1000, -1000}, {1000, 1000, 1000}}, fog));
    for (BspFace& face : builder.Faces()) face.effect = 0;
    builder.BuildSingleLeafTree();
    World* world = Load(builder);
    ASSERT_NE(world, nullptr) << ::testing::PrintToString(loadLines_);
    ASSERT_EQ(world->Pictures().sprites.QuadCount(), 1u);
    ASSERT_EQ(g_renderer.FogVolumeCount(), 1u);
    g_camera.SetPosition(D3DXVECTOR3(0.0f, 50.0f, 200.0f));
    g_camera.ResetView(0.0f, 0.0f, 0.0f);
    for (int path = 0; path <= 4; ++path) {
        vid_effectmode.intValue = path;
        for (int i = 0; i < 5; ++i) Frame(world);
        AllocationWindow window;
        for (int i = 0; i < 50; ++i) Frame(world);
        EXPECT_EQ(window.Count(), 0u) << "allocations in 50 frames of path " << path;
    }
    world_.reset();
    ForgetWorldShaders();
}

TEST(AllocationCounter, CountsOnlyInsideTheWindow) {
    // The counter itself must see an allocation, or the test above proves nothing.
    AllocationWindow window;
    auto* value = new int(3);
    const uint64_t counted = window.Count();
    delete value;
    auto* after = new int(4);
    delete after;
    EXPECT_EQ(counted, 1u);
    EXPECT_EQ(window.Count(), 1u);
}
