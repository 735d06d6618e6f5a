// The operating-system subsystem with a headless window, as start-up leaves
// it before the video subsystem comes up.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/operating_system.h"

class HeadlessWindow {
public:
    explicit HeadlessWindow(int width = 800, int height = 600) {
        ::setenv("OSPREL_INSTANCE_NAME", ("osprel-window-test-" + std::to_string(::getpid())).c_str(), 1);
        backend_ = CreateHeadlessBackend();
        g_operatingSystem.Start(backend_.get(), std::make_unique<FixedStepTimeSource>(10.0));
        WindowSettings settings;
        settings.fullscreen = 0;
        settings.width = width;
        settings.height = height;
        g_operatingSystem.CreateMainWindow(&settings);
    }
    ~HeadlessWindow() { g_operatingSystem.Detach(); }
    HeadlessWindow(const HeadlessWindow&) = delete;
    HeadlessWindow& operator=(const HeadlessWindow&) = delete;

private:
    std::unique_ptr<PlatformBackend> backend_;
};
