// Fixtures for tests that load worlds through World::Load: a started video
// subsystem on a headless window, in a scratch folder that is the working
// directory.
//   WorldOnDevice: the device; tests own the worlds they load.
// support/loaded_world.h has the fixture that loads through the resource
// manager and keeps the world.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/bsp_builder.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "camera/camera.h"
#include "video/renderer.h"
#include "video/video_system.h"
#include "engine/world.h"

class WorldOnDevice : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.CopyContent({"shaders.hlsl", "materials.hlsl", "noshader.jpg"});
        window_ = std::make_unique<HeadlessWindow>(800, 600);
        ASSERT_EQ(g_videoSystem.Initialise(), 1);
        ASSERT_NE(GetDevice(), nullptr);
    }
    void TearDown() override {
        g_videoSystem.shutdown(0);
        window_.reset();
    }

    // Writes the builder's file to path and loads it; null when Load failed.
    std::unique_ptr<World> Load(const BspBuilder& builder, const char* path = "maps/test.lmf") {
        EXPECT_TRUE(builder.WriteTo(path));
        return LoadFile(path);
    }
    std::unique_ptr<World> LoadBytes(const std::vector<uint8_t>& bytes, const char* path = "maps/test.lmf") {
        folder_.Write(path, std::string(bytes.begin(), bytes.end()));
        return LoadFile(path);
    }
    std::unique_ptr<World> LoadFile(const char* path) {
        auto world = std::make_unique<World>();
        if (!world->Load(path)) return nullptr;
        return world;
    }

    // An uncompressed 24-bit TGA of one colour.
    void WriteTga(const std::string& name, int width, int height, uint8_t r, uint8_t g, uint8_t b) const {
        std::string file(18, '\0');
        file[2] = 2;
        file[12] = static_cast<char>(width & 0xFF);
        file[13] = static_cast<char>(width >> 8);
        file[14] = static_cast<char>(height & 0xFF);
        file[15] = static_cast<char>(height >> 8);
        file[16] = 24;
        for (int i = 0; i < width * height; ++i) {
            file += static_cast<char>(b);
            file += static_cast<char>(g);
            file += static_cast<char>(r);
        }
        folder_.Write(name, file);
    }
    // A copy of the engine's fallback image (a valid jpg).
    void WriteJpg(const std::string& name) const { folder_.Write(name, folder_.Read("noshader.jpg")); }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
};

