// A world built in code, written to a scratch content folder and loaded the
// way the engine loads one: headless window, video device, resource manager.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "camera/camera.h"
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
        folder_.CopyContent({"shaders.hlsl", "noshader.jpg"});
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
