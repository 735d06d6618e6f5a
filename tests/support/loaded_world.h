// A world built in code, written to a scratch content folder and loaded the
// way the engine loads one: headless window, video device, resource manager.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "engine/game_system.h"
#include "video/shader_library.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"
#include "base/archive_files.h"
#include "support/bsp_builder.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/renderer.h"
#include "video/resource_manager.h"
#include "video/video_system.h"
#include "engine/world.h"

class LoadedWorld : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.CopyContent({"shaders.hlsl", "materials.hlsl", "noshader.jpg"});
        window_ = std::make_unique<HeadlessWindow>();
        ASSERT_EQ(g_videoSystem.Initialise(), 1);
        manager_.Initialise();
        g_camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, 800.0f, 600.0f);
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
    }
    void TearDown() override {
        world_.reset();
        g_videoSystem.shutdown(0);
        window_.reset();
    }

    // Writes and loads the world through the resource manager; null (with
    // the loader's lines kept) on failure.
    World* Load(const BspBuilder& builder) {
        world_.reset();
        if (!builder.WriteTo(folder_.Path() + "/maps/test.lmf")) return nullptr;
        PrintCapture quiet;
        world_.reset(manager_.LoadResource("maps/test.lmf"));
        World* world = dynamic_cast<World*>(world_.get());
        if (world != nullptr) world->loaded = 1;
        loadLines_ = quiet.Lines();
        return world;
    }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
    CResourceManager manager_;
    std::unique_ptr<Resource> world_;
    std::vector<std::string> loadLines_;
};

// The channels of a pixel read as 0xRRGGBB.
inline int Red(uint32_t rgb) { return static_cast<int>((rgb >> 16) & 0xFF); }
inline int Green(uint32_t rgb) { return static_cast<int>((rgb >> 8) & 0xFF); }
inline int Blue(uint32_t rgb) { return static_cast<int>(rgb & 0xFF); }

// Each channel of a 0xRRGGBB pixel within tolerance of r, g, b.
#define EXPECT_RGB_NEAR(pixel, r, g, b, tolerance)                      \
    do {                                                                \
        const uint32_t seen = (pixel);                                  \
        EXPECT_NEAR(Red(seen), (r), (tolerance)) << std::hex << seen;   \
        EXPECT_NEAR(Green(seen), (g), (tolerance)) << std::hex << seen; \
        EXPECT_NEAR(Blue(seen), (b), (tolerance)) << std::hex << seen;  \
    } while (0)

// An uncompressed 24-bit TGA of one colour.
inline std::string SolidTga(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    std::string file(18, '\0');
    file[2] = 2;
    file[12] = static_cast<char>(width);
    file[14] = static_cast<char>(height);
    file[16] = 24;
    for (int i = 0; i < width * height; ++i) file += {static_cast<char>(b), static_cast<char>(g), static_cast<char>(r)};
    return file;
}

// A square facing the camera at (0, 0, 0) looking down -Z, z units away: its
// front towards the camera, in the world file's winding; its vertices of one
// colour.
inline std::vector<BspVertex> Square(float z, float half, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<BspVertex> points = {BspBuilder::Vertex(-half, -half, z), BspBuilder::Vertex(half, -half, z),
                                     BspBuilder::Vertex(half, half, z), BspBuilder::Vertex(-half, half, z)};
    for (BspVertex& point : points) {
        point.colour[0] = r;
        point.colour[1] = g;
        point.colour[2] = b;
    }
    return points;
}

// Every world needs mesh vertices: one triangle behind the camera.
inline void AddHiddenMesh(BspBuilder* builder) {
    builder->AddMesh({BspBuilder::Vertex(0, 0, 500), BspBuilder::Vertex(1, 0, 500), BspBuilder::Vertex(0, 1, 500)},
                     {0, 1, 2}, 0, 0);
}

// Worlds whose frames are drawn as the engine draws them and read back:
// the plain path, no physics, the scripts read afresh; what a test changes
// of the drawing switches is put back.
class DrawnWorld : public LoadedWorld {
protected:
    void SetUp() override {
        LoadedWorld::SetUp();
        // An earlier shutdown in this process may have marked the
        // subsystems finished.
        g_videoSystem.finished = 0;
        g_renderer.finished = 0;
        ForgetWorldShaders();
        vid_effectmode.intValue = 0;
        bsp_noclip.intValue = 1;
    }
    void TearDown() override {
        r_materials.intValue = 1;
        bsp_vertexlit.intValue = 1;
        vid_effectmode.intValue = 0;
        bsp_noclip.intValue = 0;
        LoadedWorld::TearDown();
        UnmountDataFolders();
        ForgetWorldShaders();
        g_renderer.EmptyCaches();
    }

    // One frame from position, turned by yaw and pitch: the whole back
    // buffer as 0xAARRGGBB, its size in width_ and height_.
    std::vector<uint32_t> Frame(World* world, const D3DXVECTOR3& position, float yaw = 0.0f, float pitch = 0.0f) {
        g_camera.SetPosition(position);
        g_camera.ResetView(yaw, pitch, 0.0f);
        EXPECT_EQ(RunWorldFrame(world), 1);
        EXPECT_EQ(g_renderer.frame(), 0);
        std::vector<uint32_t> argb;
        width_ = 0;
        height_ = 0;
        EXPECT_TRUE(D3D9ReadBackBuffer(GetDevice(), &argb, &width_, &height_));
        return argb;
    }
    // The pixel of that frame at the middle of the row height / part, as
    // 0xRRGGBB; empty when the frame could not be read.
    uint32_t Pixel(World* world, const D3DXVECTOR3& position, float yaw, float pitch, int part, uint32_t empty) {
        const std::vector<uint32_t> argb = Frame(world, position, yaw, pitch);
        if (argb.empty()) return empty;
        return argb[static_cast<size_t>(height_ / part) * width_ + width_ / 2] & 0xFFFFFF;
    }

    int width_ = 0;
    int height_ = 0;
};
