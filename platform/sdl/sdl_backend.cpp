// The back end for a display: SDL windows, SDL's message boxes, and the
// start-up dialog and debug console drawn with Dear ImGui in windows of their
// own.
#include <SDL.h>
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "platform/debug_console.h"
#include "platform/input_device.h"
#include "platform/platform_backend.h"
#include "platform/platform_window.h"
#include "platform/sdl/gl_driver_pin.h"
#include "platform/sdl/dialog_fonts.h"
#include "platform/sdl/imgui_surface.h"
#include "platform/sdl/sdl_keys.h"
#include "platform/startup_dialog.h"
#include "platform/window_settings.h"

namespace {

// The console redraws at most this often while the engine runs.
constexpr Uint32 kConsoleRedrawMs = 16;

ImVec2 PixelPosition(const DialogControl& c) {
    if (c.kind == ControlKind::kComboBox) {
        return ImVec2(static_cast<float>(c.pixelX), static_cast<float>(c.pixelY));
    }
    return ImVec2(static_cast<float>(StartupDialog::UnitsToPixelsX(c.x)),
                  static_cast<float>(StartupDialog::UnitsToPixelsY(c.y)));
}

ImVec2 PixelSize(const DialogControl& c) {
    return ImVec2(static_cast<float>(StartupDialog::UnitsToPixelsX(c.width)),
                  static_cast<float>(StartupDialog::UnitsToPixelsY(c.height)));
}

// What one drawn frame of the dialog asks for.
struct DialogFrame {
    int pressed = 0;        // the id of a button clicked, or 0
    bool listOpen = false;  // a combo box's list is dropped down
};

// Draws the dialog's controls from its table. closeList closes a dropped-down
// list (Enter or Escape reached it).
DialogFrame DrawDialog(StartupDialog* dialog, const DialogFonts& fonts, bool closeList) {
    DialogFrame frame;
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    ImGui::Begin("##dialog", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin = ImGui::GetWindowPos();
    for (DialogControl& c : dialog->Controls()) {
        const ImVec2 at = PixelPosition(c);
        const ImVec2 size = PixelSize(c);
        ImGui::PushID(&c);
        ImGui::BeginDisabled(c.disabled);
        switch (c.kind) {
            case ControlKind::kGroupBox: {
                const float textHeight = ImGui::GetTextLineHeight();
                const ImVec2 topLeft(origin.x + at.x, origin.y + at.y + textHeight * 0.5f);
                const ImVec2 bottomRight(origin.x + at.x + size.x, origin.y + at.y + size.y);
                draw->AddRect(topLeft, bottomRight, ImGui::GetColorU32(ImGuiCol_Border));
                const ImVec2 textAt(origin.x + at.x + 6.0f, origin.y + at.y);
                const ImVec2 textSize = ImGui::CalcTextSize(c.caption);
                draw->AddRectFilled(textAt, ImVec2(textAt.x + textSize.x + 4.0f, textAt.y + textSize.y),
                                    ImGui::GetColorU32(ImGuiCol_WindowBg));
                draw->AddText(ImVec2(textAt.x + 2.0f, textAt.y), ImGui::GetColorU32(ImGuiCol_Text),
                              c.caption);
                break;
            }
            case ControlKind::kComboBox: {
                // The box keeps its place and width; its font shrinks until
                // the longest entry shows whole.
                ImFont* font = ComboFont(fonts, c, ImGui::GetStyle());
                if (font != nullptr) ImGui::PushFont(font);
                ImGui::SetCursorPos(at);
                ImGui::SetNextItemWidth(static_cast<float>(c.pixelWidth));
                const char* preview =
                    c.selection >= 0 && c.selection < static_cast<int>(c.items.size())
                        ? c.items[static_cast<size_t>(c.selection)].c_str()
                        : "";
                if (ImGui::BeginCombo("##combo", preview)) {
                    frame.listOpen = true;
                    for (size_t i = 0; i < c.items.size(); ++i) {
                        const bool selected = static_cast<int>(i) == c.selection;
                        if (ImGui::Selectable(c.items[i].c_str(), selected)) {
                            c.selection = static_cast<int>(i);
                        }
                    }
                    if (closeList) ImGui::CloseCurrentPopup();
                    ImGui::EndCombo();
                }
                if (font != nullptr) ImGui::PopFont();
                break;
            }
            case ControlKind::kCheckBox:
                ImGui::SetCursorPos(at);
                ImGui::Checkbox(c.caption, &c.checked);
                break;
            case ControlKind::kPushButton:
            case ControlKind::kDefaultPushButton:
                ImGui::SetCursorPos(at);
                if (ImGui::Button(c.caption, size)) frame.pressed = c.id;
                break;
        }
        ImGui::EndDisabled();
        ImGui::PopID();
    }
    ImGui::End();
    return frame;
}

// The input line: blue text on white with a caret, scrolled sideways to keep
// the caret in view. It only shows the console's edit line; the keys that
// edit it come from SDL's events (see PumpEvents).
void DrawInputLine(const DebugConsole& console, float* scrollX) {
    const ImGuiStyle& style = ImGui::GetStyle();
    const ImVec2 topLeft = ImGui::GetCursorScreenPos();
    const ImVec2 size(ImGui::GetContentRegionAvail().x, ImGui::GetFrameHeight());
    ImGui::Dummy(size);
    const ImVec2 bottomRight(topLeft.x + size.x, topLeft.y + size.y);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(topLeft, bottomRight, IM_COL32_WHITE);
    draw->AddRect(topLeft, bottomRight, ImGui::GetColorU32(ImGuiCol_Border));

    const char* text = console.Input();
    const float width = ImGui::CalcTextSize(text).x;
    const float caret = ImGui::CalcTextSize(text, text + console.Cursor()).x;
    const float room = std::max(1.0f, size.x - style.FramePadding.x * 2.0f - 1.0f);
    *scrollX = std::clamp(*scrollX, 0.0f, std::max(0.0f, width - room));
    if (caret - *scrollX > room) *scrollX = caret - room;
    // Going back past the left edge shows a quarter of the line before the
    // caret too, as an edit control does.
    if (caret < *scrollX) *scrollX = std::max(0.0f, caret - room * 0.25f);

    const ImU32 blue = IM_COL32(0, 0, 255, 255);
    const ImVec2 textAt(topLeft.x + style.FramePadding.x - *scrollX, topLeft.y + style.FramePadding.y);
    draw->PushClipRect(ImVec2(topLeft.x + 1.0f, topLeft.y + 1.0f),
                       ImVec2(bottomRight.x - 1.0f, bottomRight.y - 1.0f), true);
    draw->AddText(textAt, blue, text);
    const float caretX = std::floor(textAt.x + caret) + 0.5f;
    draw->AddLine(ImVec2(caretX, textAt.y), ImVec2(caretX, textAt.y + ImGui::GetTextLineHeight()), blue);
    draw->PopClipRect();
}

void DrawConsole(const DebugConsole& console, bool scrollToEnd, float* inputScrollX) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    ImGui::Begin("##console", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings);
    const float inputHeight = ImGui::GetFrameHeightWithSpacing();
    ImGui::BeginChild("output", ImVec2(0.0f, -inputHeight), true,
                      ImGuiWindowFlags_HorizontalScrollbar);
    ImGui::TextUnformatted(console.Output().data(), console.Output().data() + console.Output().size());
    if (scrollToEnd) ImGui::SetScrollHereY(1.0f);
    ImGui::EndChild();
    DrawInputLine(console, inputScrollX);
    ImGui::End();
}

// The main window: an SDL window drawn into with OpenGL.
class SdlWindow : public PlatformWindow {
public:
    SdlWindow(SDL_Window* window, const WindowSettings& settings) : window_(window) {
        std::snprintf(title_, sizeof title_, "%s", settings.title);
    }
    ~SdlWindow() override { SDL_DestroyWindow(window_); }

    SDL_Window* Window() const { return window_; }
    const char* Title() const override { return title_; }
    // The drawable area as it is now: the window manager and full screen
    // change it.
    int Width() const override {
        int width = 0;
        SDL_GL_GetDrawableSize(window_, &width, nullptr);
        if (width <= 0) SDL_GetWindowSize(window_, &width, nullptr);
        return width;
    }
    int Height() const override {
        int height = 0;
        SDL_GL_GetDrawableSize(window_, nullptr, &height);
        if (height <= 0) SDL_GetWindowSize(window_, nullptr, &height);
        return height;
    }
    bool HasDisplay() const override { return true; }

    void* CreateGlContext() override {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GLContext context = SDL_GL_CreateContext(window_);
        if (context == nullptr) {
            std::fprintf(stderr, "osprel: SDL_GL_CreateContext: %s\n", SDL_GetError());
            return nullptr;
        }
        SDL_GL_MakeCurrent(window_, context);
        SDL_GL_SetSwapInterval(0);  // frames are presented immediately
        KeepGlDriversLoaded();
        return context;
    }
    void MakeGlCurrent(void* context) override { SDL_GL_MakeCurrent(window_, context); }
    void SwapGlBuffers() override { SDL_GL_SwapWindow(window_); }
    void DestroyGlContext(void* context) override {
        if (context != nullptr) SDL_GL_DeleteContext(static_cast<SDL_GLContext>(context));
    }

private:
    SDL_Window* window_;
    char title_[251];
};

// What the main window received since the input subsystem's last read.
struct SdlInputQueue {
    std::deque<KeyboardEvent> keys;  // presses, releases and typed characters, in order
    int32_t dx = 0;
    int32_t dy = 0;
    // Typed characters are queued only while the in-game console wants
    // them. SDL's own text input stays on: the debug console needs it.
    bool textWanted = false;
};

class SdlInputDevice : public InputDevice {
public:
    explicit SdlInputDevice(SdlInputQueue* queue) : queue_(queue) {}
    bool Open(std::string*) override { return true; }
    void Close() override {}
    void ReadMouse(int32_t* dx, int32_t* dy) override {
        *dx = queue_->dx;
        *dy = queue_->dy;
        queue_->dx = 0;
        queue_->dy = 0;
    }
    int ReadKeyboard(KeyboardEvent* events, int max) override {
        int count = 0;
        while (count < max && !queue_->keys.empty()) {
            events[count++] = queue_->keys.front();
            queue_->keys.pop_front();
        }
        return count;
    }
    void SetTextInput(bool on) override { queue_->textWanted = on; }

private:
    SdlInputQueue* queue_;
};

class SdlBackend : public PlatformBackend {
public:
    ~SdlBackend() override {
        console_.Destroy();
        main_.reset();
        retired_.clear();
        SDL_Quit();
    }

    bool IsHeadless() const override { return false; }

    ScreenInfo QueryScreen() override {
        ScreenInfo screen;
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(0, &mode) == 0) {
            screen.width = mode.w;
            screen.height = mode.h;
        }
        // SDL cannot tell whether a mouse is attached or how many buttons it
        // has: take the usual three-button mouse with a wheel.
        screen.mousePresent = true;
        screen.wheelPresent = true;
        screen.mouseButtons = 3;
        return screen;
    }

    void ShowMessageBox(const char* caption, const char* text, MessageBoxIcon icon) override {
        const Uint32 flags =
            icon == MessageBoxIcon::kError ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_WARNING;
        if (SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) != 0) {
            std::fprintf(stderr, "%s: %s\n", caption, text);
        }
    }

    int RunStartupDialog(StartupDialog* dialog) override {
        dialog->Initialise();
        ImGuiSurface surface;
        if (!surface.Create(StartupDialog::kTitle, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                            StartupDialog::UnitsToPixelsX(StartupDialog::kWidthUnits),
                            StartupDialog::UnitsToPixelsY(StartupDialog::kHeightUnits), true)) {
            std::fprintf(stderr, "osprel: cannot open the start-up dialog: %s\n", SDL_GetError());
            return 0;
        }
        const DialogFonts fonts = LoadDialogFonts(surface.Fonts());
        int result = -1;
        bool listOpen = false;   // as the last frame drew it
        bool closeList = false;  // a key asked the open list to close
        while (result < 0) {
            SDL_Event event;
            if (SDL_WaitEventTimeout(&event, 50)) {
                do {
                    if (event.type == SDL_WINDOWEVENT && event.window.windowID == surface.WindowId() &&
                        event.window.event == SDL_WINDOWEVENT_CLOSE) {
                        result = dialog->OnClose();
                    } else if (event.type == SDL_QUIT) {
                        result = dialog->OnClose();
                    } else if (event.type == SDL_KEYDOWN && event.key.repeat == 0 &&
                               event.key.windowID == surface.WindowId()) {
                        // Keys are taken from their events: a press and
                        // release between two frames still counts.
                        DialogKey key;
                        if (DialogKeyFor(event.key.keysym.sym, &key)) {
                            const int command = dialog->CommandForKey(key, listOpen);
                            if (command != 0) result = dialog->OnCommand(command);
                            else if (listOpen) closeList = true;
                        }
                    }
                    surface.ProcessEvent(event);
                } while (result < 0 && SDL_PollEvent(&event));
            }
            if (result >= 0) break;
            surface.BeginFrame();
            const DialogFrame frame = DrawDialog(dialog, fonts, closeList);
            surface.EndFrame();
            listOpen = frame.listOpen && !closeList;
            closeList = false;
            if (frame.pressed != 0) result = dialog->OnCommand(frame.pressed);
        }
        surface.Destroy();
        return result;
    }

    bool CreateMainWindow(const WindowSettings& settings) override {
        Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE |
                       (settings.visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN);
        int x = settings.x, y = settings.y, width = settings.width, height = settings.height;
        SDL_DisplayMode mode{};
        bool switchMode = false;
        SDL_Rect desktop{0, 0, 0, 0};
        if (settings.fullscreen) {
            // The chosen resolution where the display can switch to it,
            // otherwise a borderless window over the whole desktop (which
            // needs no window manager's help to cover the screen).
            switchMode = FindDisplayMode(settings.width, settings.height, &mode);
            if (switchMode) {
                flags |= SDL_WINDOW_FULLSCREEN;
                x = 0;
                y = 0;
            } else if (SDL_GetDisplayBounds(0, &desktop) == 0 && desktop.w > 0 && desktop.h > 0) {
                flags |= SDL_WINDOW_BORDERLESS;
                x = desktop.x;
                y = desktop.y;
                width = desktop.w;
                height = desktop.h;
            }
        }
        SDL_Window* window = SDL_CreateWindow(settings.title, x, y, width, height, flags);
        if (window == nullptr) {
            std::fprintf(stderr, "osprel: SDL_CreateWindow: %s\n", SDL_GetError());
            return false;
        }
        if (switchMode) SDL_SetWindowDisplayMode(window, &mode);
        windowedBounds_ = SDL_Rect{settings.x, settings.y, settings.width, settings.height};
        fullScreen_ = settings.fullscreen != 0;
        main_ = std::make_unique<SdlWindow>(window, settings);
        SDL_ShowCursor(settings.showCursor ? SDL_ENABLE : SDL_DISABLE);
        // Without a cursor the mouse is captured, so it can turn the view
        // without end; with one, its motion still turns the view.
        if (!settings.showCursor) SDL_SetRelativeMouseMode(SDL_TRUE);
        return true;
    }

    // The video device may still hold the window and its OpenGL context (the
    // engine destroys its windows before it releases the device), so the
    // window is hidden and kept until the back end goes.
    void DestroyMainWindow() override {
        if (main_ == nullptr) return;
        SDL_HideWindow(main_->Window());
        retired_.push_back(std::move(main_));
    }
    PlatformWindow* MainWindow() override { return main_.get(); }

    std::unique_ptr<InputDevice> CreateInputDevice() override {
        return std::make_unique<SdlInputDevice>(&input_);
    }

    bool CreateDebugConsole(DebugConsole* console) override {
        console_.Destroy();
        const int width = StartupDialog::UnitsToPixelsX(DebugConsole::kWidthUnits);
        const int height = StartupDialog::UnitsToPixelsY(DebugConsole::kHeightUnits);
        // Beside the main window where the screen has room, and on the
        // screen in any case.
        int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
        if (main_ != nullptr) {
            int mainX = 0, mainY = 0, mainW = 0;
            SDL_GetWindowPosition(main_->Window(), &mainX, &mainY);
            SDL_GetWindowSize(main_->Window(), &mainW, nullptr);
            SDL_Rect screen{0, 0, 0, 0};
            SDL_GetDisplayBounds(0, &screen);
            x = std::max(0, std::min(mainX + mainW + 8, screen.w - width));
            y = std::max(0, std::min(mainY, screen.h - height));
        }
        if (!console_.Create(DebugConsole::kTitle, x, y, width, height, true)) return false;
        console_state_ = console;
        if (main_ != nullptr) SDL_RaiseWindow(main_->Window());  // the main window keeps the focus
        return true;
    }

    void DestroyDebugConsole() override {
        console_.Destroy();
        console_state_ = nullptr;
    }

    void PumpEvents(PlatformEvents* events) override {
        bool consoleInput = false;
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            const Uint32 windowId = EventWindow(event);
            if (console_.Exists() && windowId == console_.WindowId()) {
                if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) {
                    console_state_->OnClose();
                    SDL_HideWindow(console_.Window());
                } else if (!TakeConsoleKey(event)) {
                    console_.ProcessEvent(event);
                }
                consoleInput = true;
                continue;
            }
            if (main_ != nullptr && windowId == SDL_GetWindowID(main_->Window())) {
                if (ToggleFullScreen(event)) continue;
                TakeInput(event);
            }
            if (event.type == SDL_WINDOWEVENT && main_ != nullptr &&
                event.window.windowID == SDL_GetWindowID(main_->Window())) {
                switch (event.window.event) {
                    case SDL_WINDOWEVENT_CLOSE:
                        events->OnMainWindowClose();
                        break;
                    case SDL_WINDOWEVENT_FOCUS_GAINED:
                        events->OnActivation(true);
                        break;
                    case SDL_WINDOWEVENT_FOCUS_LOST:
                        events->OnActivation(false);
                        break;
                    case SDL_WINDOWEVENT_SIZE_CHANGED:
                        events->OnMainWindowResize(main_->Width(), main_->Height());
                        break;
                    default:
                        break;
                }
            }
        }
        RedrawConsole(consoleInput);
    }

private:
    // A display mode of exactly width x height, if the display has one.
    static bool FindDisplayMode(int width, int height, SDL_DisplayMode* found) {
        const int count = SDL_GetNumDisplayModes(0);
        for (int i = 0; i < count; ++i) {
            SDL_DisplayMode mode{};
            if (SDL_GetDisplayMode(0, i, &mode) == 0 && mode.w == width && mode.h == height) {
                *found = mode;
                return true;
            }
        }
        return false;
    }

    // Alt+Enter turns full screen on and off: a borderless window over the
    // desktop, and back to the window's last place and size. The key is not
    // passed on to the bindings.
    bool ToggleFullScreen(const SDL_Event& event) {
        if (event.type != SDL_KEYDOWN && event.type != SDL_KEYUP) return false;
        const SDL_Keycode key = event.key.keysym.sym;
        if ((key != SDLK_RETURN && key != SDLK_KP_ENTER) || (event.key.keysym.mod & KMOD_ALT) == 0) return false;
        if (event.type == SDL_KEYDOWN && event.key.repeat == 0) SetFullScreen(!fullScreen_);
        return true;
    }

    void SetFullScreen(bool full) {
        SDL_Window* window = main_->Window();
        if (full) {
            SDL_Rect desktop{0, 0, 0, 0};
            if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &desktop) != 0 || desktop.w <= 0) return;
            SDL_GetWindowPosition(window, &windowedBounds_.x, &windowedBounds_.y);
            SDL_GetWindowSize(window, &windowedBounds_.w, &windowedBounds_.h);
            SDL_SetWindowBordered(window, SDL_FALSE);
            SDL_SetWindowPosition(window, desktop.x, desktop.y);
            SDL_SetWindowSize(window, desktop.w, desktop.h);
        } else {
            if ((SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN) != 0) SDL_SetWindowFullscreen(window, 0);
            SDL_SetWindowBordered(window, SDL_TRUE);
            SDL_SetWindowSize(window, windowedBounds_.w, windowedBounds_.h);
            SDL_SetWindowPosition(window, windowedBounds_.x, windowedBounds_.y);
        }
        fullScreen_ = full;
    }

    static Uint32 EventWindow(const SDL_Event& event) {
        switch (event.type) {
            case SDL_WINDOWEVENT: return event.window.windowID;
            case SDL_KEYDOWN:
            case SDL_KEYUP: return event.key.windowID;
            case SDL_TEXTINPUT: return event.text.windowID;
            case SDL_TEXTEDITING: return event.edit.windowID;
            case SDL_MOUSEMOTION: return event.motion.windowID;
            case SDL_MOUSEBUTTONDOWN:
            case SDL_MOUSEBUTTONUP: return event.button.windowID;
            case SDL_MOUSEWHEEL: return event.wheel.windowID;
            default: return 0;
        }
    }

    // Keys, typed characters and mouse motion of the main window, for the
    // input subsystem. Every press and release is queued as it comes, so a
    // tap between two frames is both. Auto-repeat is not passed on: a held
    // key is one press.
    void TakeInput(const SDL_Event& event) {
        switch (event.type) {
            case SDL_TEXTINPUT:
                if (input_.textWanted) AppendTextRecords(event.text.text, &input_.keys);
                break;
            case SDL_KEYDOWN:
            case SDL_KEYUP: {
                // The console's editing keys repeat while they are held, as
                // the typed characters do; no other key ever does.
                if (event.key.repeat != 0 && !(input_.textWanted && IsEditingKey(event.key.keysym.scancode))) break;
                const uint8_t code = DirectInputCode(event.key.keysym.scancode);
                if (code != 0) input_.keys.push_back(KeyboardEvent{code, event.type == SDL_KEYDOWN});
                break;
            }
            case SDL_MOUSEMOTION:
                input_.dx += event.motion.xrel;
                input_.dy += event.motion.yrel;
                break;
            default:
                break;
        }
    }

    static bool IsEditingKey(SDL_Scancode scancode) {
        switch (scancode) {
            case SDL_SCANCODE_BACKSPACE:
            case SDL_SCANCODE_DELETE:
            case SDL_SCANCODE_LEFT:
            case SDL_SCANCODE_RIGHT:
            case SDL_SCANCODE_UP:
            case SDL_SCANCODE_DOWN:
                return true;
            default:
                return false;
        }
    }

    // The console's keys and text go straight to its edit line, each event
    // as it comes and in order: ImGui 1.86 samples a key's state once a
    // frame, so a key pressed and released between two engine frames never
    // reached it. Held keys repeat. Returns false for the events ImGui gets.
    bool TakeConsoleKey(const SDL_Event& event) {
        switch (event.type) {
            case SDL_KEYDOWN: {
                const SDL_Keysym& key = event.key.keysym;
                ConsoleKey consoleKey;
                if (ConsoleKeyFor(key.sym, &consoleKey)) {
                    console_state_->HandleKey(consoleKey);
                } else if (((key.mod & KMOD_CTRL) != 0 && key.sym == SDLK_v) ||
                           ((key.mod & KMOD_SHIFT) != 0 && key.sym == SDLK_INSERT)) {
                    char* text = SDL_GetClipboardText();
                    console_state_->Paste(text);
                    SDL_free(text);
                }
                return true;
            }
            case SDL_KEYUP:
            case SDL_TEXTEDITING:
                return true;
            case SDL_TEXTINPUT:
                console_state_->InsertText(event.text.text);
                return true;
            default:
                return false;
        }
    }

    void RedrawConsole(bool force) {
        if (!console_.Exists() || console_state_ == nullptr || !console_state_->Visible()) return;
        const Uint32 now = SDL_GetTicks();
        if (!force && now - lastConsoleDraw_ < kConsoleRedrawMs) return;
        lastConsoleDraw_ = now;
        console_.BeginFrame();
        DrawConsole(*console_state_, console_state_->TakeScrollRequest(), &inputScrollX_);
        console_.EndFrame();
    }

    SdlInputQueue input_;
    std::unique_ptr<SdlWindow> main_;
    bool fullScreen_ = false;
    SDL_Rect windowedBounds_{0, 0, 800, 600};  // where Alt+Enter puts the window back
    std::vector<std::unique_ptr<SdlWindow>> retired_;
    ImGuiSurface console_;
    DebugConsole* console_state_ = nullptr;
    Uint32 lastConsoleDraw_ = 0;
    float inputScrollX_ = 0.0f;  // how far the input line is scrolled sideways
};

// Whether the SDL video driver of that name shows windows on a display.
bool IsDisplayDriver(const char* driver) {
    if (driver == nullptr || driver[0] == '\0') return false;
    for (const char* blind : {"offscreen", "dummy", "evdev"}) {
        if (SDL_strcasecmp(driver, blind) == 0) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<PlatformBackend> CreateSdlBackend() {
    // Ctrl+C ends the program as usual rather than arriving as a window event.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return nullptr;
    // Without a display SDL quietly falls back to drivers that show nothing
    // and read no keys: a run there could never be seen or ended. Such a run
    // is headless, where standard input and output stand for the screen.
    if (!IsDisplayDriver(SDL_GetCurrentVideoDriver())) {
        SDL_Quit();
        return nullptr;
    }
    return std::make_unique<SdlBackend>();
}
