// A window of its own drawn with Dear ImGui: an SDL window with an OpenGL
// context and an ImGui context that nothing else shares.
#pragma once

#include <SDL.h>

struct ImFontAtlas;
struct ImGuiContext;

class ImGuiSurface {
public:
    ImGuiSurface() = default;
    ~ImGuiSurface() { Destroy(); }
    ImGuiSurface(const ImGuiSurface&) = delete;
    ImGuiSurface& operator=(const ImGuiSurface&) = delete;

    // x and y may be SDL_WINDOWPOS_CENTERED.
    bool Create(const char* title, int x, int y, int width, int height, bool shown);
    void Destroy();
    bool Exists() const { return window_ != nullptr; }

    uint32_t WindowId() const { return window_ != nullptr ? SDL_GetWindowID(window_) : 0; }
    SDL_Window* Window() const { return window_; }
    void ProcessEvent(const SDL_Event& event);
    // The surface's font atlas; fonts added before the first frame are used.
    ImFontAtlas* Fonts() const;

    // Between BeginFrame and EndFrame, ImGui calls draw into this surface.
    void BeginFrame();
    void EndFrame();

private:
    SDL_Window* window_ = nullptr;
    SDL_GLContext gl_ = nullptr;
    ImGuiContext* imgui_ = nullptr;
    ImGuiContext* previousImgui_ = nullptr;
    SDL_Window* previousWindow_ = nullptr;
    SDL_GLContext previousGl_ = nullptr;
};
