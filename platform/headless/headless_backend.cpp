// The back end of a run without a display: a virtual window of the chosen
// size on a virtual 1920 x 1080 screen, message boxes on standard error, and
// the debug console on standard input (standard output already carries every
// printed line).
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/debug_console.h"
#include "platform/headless/scripted_input.h"
#include "platform/headless/standard_input_console.h"
#include "platform/headless/virtual_window.h"
#include "platform/platform_backend.h"
#include "platform/platform_window.h"
#include "platform/startup_dialog.h"
#include "platform/window_settings.h"

namespace {

class HeadlessBackend : public PlatformBackend {
public:
    explicit HeadlessBackend(std::shared_ptr<const InputScript> script) : script_(std::move(script)) {}

    bool IsHeadless() const override { return true; }

    ScreenInfo QueryScreen() override {
        ScreenInfo screen;
        screen.width = 1920;
        screen.height = 1080;
        screen.mousePresent = true;
        screen.wheelPresent = true;
        screen.mouseButtons = 3;
        return screen;
    }

    void ShowMessageBox(const char* caption, const char* text, MessageBoxIcon) override {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        std::fflush(stderr);
    }

    int RunStartupDialog(StartupDialog* dialog) override {
        // Nobody can answer it: OK on what the table holds.
        dialog->Initialise();
        return dialog->OnCommand(kIdOk);
    }

    bool CreateMainWindow(const WindowSettings& settings) override {
        window_ = std::make_unique<VirtualWindow>(settings.title, settings.width, settings.height);
        return true;
    }
    // Kept until the back end goes: the video device may still refer to it.
    void DestroyMainWindow() override {
        if (window_ != nullptr) retired_.push_back(std::move(window_));
    }
    PlatformWindow* MainWindow() override { return window_.get(); }

    bool CreateDebugConsole(DebugConsole*) override {
        consoleOpen_ = true;
        return true;
    }
    void DestroyDebugConsole() override { consoleOpen_ = false; }

    std::unique_ptr<InputDevice> CreateInputDevice() override {
        return std::make_unique<ScriptedInputDevice>(script_);
    }

    void PumpEvents(PlatformEvents* events) override {
        if (consoleOpen_) input_.Pump();
        // The script's resizes and focus changes, at the start of their engine frame (the
        // message pump runs first in every frame).
        ++frame_;
        if (script_ == nullptr || window_ == nullptr) return;
        for (const InputScriptEvent& event : script_->events) {
            if (event.frame != frame_) continue;
            if (event.kind == InputScriptEvent::Kind::kResize) {
                window_->Resize(event.dx, event.dy);
                if (events != nullptr) events->OnMainWindowResize(event.dx, event.dy);
            } else if (event.kind == InputScriptEvent::Kind::kFocus && events != nullptr) {
                events->OnActivation(event.pressed);
            }
        }
    }

private:
    std::shared_ptr<const InputScript> script_;
    std::unique_ptr<VirtualWindow> window_;
    std::vector<std::unique_ptr<VirtualWindow>> retired_;
    bool consoleOpen_ = false;
    StandardInputConsole input_;
    int64_t frame_ = 0;
};

}  // namespace

std::unique_ptr<PlatformBackend> CreateHeadlessBackend(std::shared_ptr<const InputScript> inputScript) {
    return std::make_unique<HeadlessBackend>(std::move(inputScript));
}
