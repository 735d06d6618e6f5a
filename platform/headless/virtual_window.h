// A window that nobody sees: the main window of a run without a display.
// It has a size and a title but no OpenGL of its own, so the video layer
// draws its frames offscreen.
#pragma once

#include <cstdio>

#include "platform/platform_window.h"

class VirtualWindow : public PlatformWindow {
public:
    VirtualWindow(const char* title, int width, int height) : width_(width), height_(height) {
        std::snprintf(title_, sizeof title_, "%s", title);
    }
    const char* Title() const override { return title_; }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    bool HasDisplay() const override { return false; }
    void* CreateGlContext() override { return nullptr; }
    void MakeGlCurrent(void*) override {}
    void SwapGlBuffers() override {}
    void DestroyGlContext(void*) override {}
    // What a window manager's resize does to a real window.
    void Resize(int width, int height) {
        width_ = width;
        height_ = height;
    }

private:
    char title_[251];
    int width_;
    int height_;
};
