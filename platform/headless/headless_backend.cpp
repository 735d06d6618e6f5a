// The back end of a run without a display: a virtual window of the chosen
// size on a virtual 1920 x 1080 screen, message boxes on standard error, and
// the debug console on standard input (standard output already carries every
// printed line).
#include <cstdio>

#include "platform/debug_console.h"
#include "platform/headless/standard_input_console.h"
#include "platform/platform_backend.h"
#include "platform/startup_dialog.h"

namespace {

class HeadlessBackend : public PlatformBackend {
public:
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

    bool CreateMainWindow(const WindowSettings&) override { return true; }
    void DestroyMainWindow() override {}

    bool CreateDebugConsole(DebugConsole*) override {
        consoleOpen_ = true;
        return true;
    }
    void DestroyDebugConsole() override { consoleOpen_ = false; }

    void PumpEvents(PlatformEvents*) override {
        if (consoleOpen_) input_.Pump();
    }

private:
    bool consoleOpen_ = false;
    StandardInputConsole input_;
};

}  // namespace

std::unique_ptr<PlatformBackend> CreateHeadlessBackend() {
    return std::make_unique<HeadlessBackend>();
}
