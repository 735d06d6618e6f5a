#include <epoxy/gl.h>

#include "platform/sdl/imgui_surface.h"

#include "platform/sdl/gl_driver_pin.h"

#include <imgui.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>

bool ImGuiSurface::Create(const char* title, int x, int y, int width, int height, bool shown) {
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext previousGl = SDL_GL_GetCurrentContext();

    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    window_ = SDL_CreateWindow(title, x, y, width, height,
                               SDL_WINDOW_OPENGL | (shown ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN));
    if (window_ == nullptr) return false;
    gl_ = SDL_GL_CreateContext(window_);
    if (gl_ == nullptr) {
        SDL_DestroyWindow(window_);
        window_ = nullptr;
        return false;
    }
    KeepGlDriversLoaded();

    ImGuiContext* previousImgui = ImGui::GetCurrentContext();
    imgui_ = ImGui::CreateContext();
    ImGui::SetCurrentContext(imgui_);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;  // nothing to remember between runs
    ImGui::StyleColorsLight();
    ImGui::GetStyle().WindowRounding = 0.0f;
    ImGui_ImplSDL2_InitForOpenGL(window_, gl_);
    ImGui_ImplOpenGL3_Init("#version 330");
    ImGui::SetCurrentContext(previousImgui);

    SDL_GL_MakeCurrent(previousWindow, previousGl);
    return true;
}

void ImGuiSurface::Destroy() {
    if (window_ == nullptr) return;
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext previousGl = SDL_GL_GetCurrentContext();
    SDL_GL_MakeCurrent(window_, gl_);
    ImGuiContext* previousImgui = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(imgui_);
    ImGui_ImplOpenGL3_Shutdown();
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext(imgui_);
    ImGui::SetCurrentContext(previousImgui == imgui_ ? nullptr : previousImgui);
    SDL_GL_DeleteContext(gl_);
    SDL_DestroyWindow(window_);
    if (previousWindow != window_) SDL_GL_MakeCurrent(previousWindow, previousGl);
    window_ = nullptr;
    gl_ = nullptr;
    imgui_ = nullptr;
}

void ImGuiSurface::ProcessEvent(const SDL_Event& event) {
    if (window_ == nullptr) return;
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(imgui_);
    ImGui_ImplSDL2_ProcessEvent(&event);
    ImGui::SetCurrentContext(previous);
}

ImFontAtlas* ImGuiSurface::Fonts() const {
    if (window_ == nullptr) return nullptr;
    ImGuiContext* previous = ImGui::GetCurrentContext();
    ImGui::SetCurrentContext(imgui_);
    ImFontAtlas* fonts = ImGui::GetIO().Fonts;
    ImGui::SetCurrentContext(previous);
    return fonts;
}

void ImGuiSurface::BeginFrame() {
    previousWindow_ = SDL_GL_GetCurrentWindow();
    previousGl_ = SDL_GL_GetCurrentContext();
    previousImgui_ = ImGui::GetCurrentContext();
    SDL_GL_MakeCurrent(window_, gl_);
    ImGui::SetCurrentContext(imgui_);
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
}

void ImGuiSurface::EndFrame() {
    ImGui::Render();
    int width = 0, height = 0;
    SDL_GL_GetDrawableSize(window_, &width, &height);
    glViewport(0, 0, width, height);
    const ImVec4 background = ImGui::GetStyle().Colors[ImGuiCol_WindowBg];
    glClearColor(background.x, background.y, background.z, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    SDL_GL_SwapWindow(window_);
    ImGui::SetCurrentContext(previousImgui_);
    SDL_GL_MakeCurrent(previousWindow_, previousGl_);
}
