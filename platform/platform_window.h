// The main window as the video layer sees it: a size, and OpenGL drawing into
// it. A window without a display (headless runs) has no OpenGL of its own;
// the video layer then draws offscreen.
#pragma once

class PlatformWindow {
public:
    virtual ~PlatformWindow() = default;

    virtual const char* Title() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;

    // False for a headless run's virtual window.
    virtual bool HasDisplay() const = 0;
    // An OpenGL 3.3 core context on this window, made current; null on failure.
    virtual void* CreateGlContext() = 0;
    virtual void MakeGlCurrent(void* context) = 0;
    // Shows what was drawn into the window's default framebuffer.
    virtual void SwapGlBuffers() = 0;
    virtual void DestroyGlContext(void* context) = 0;
};

// The main window whose title is title (class name and window name are the
// same here), or null when no such window exists.
PlatformWindow* FindPlatformWindow(const char* title);
