// A platform back end that records what the operating-system subsystem asks
// of it, with a screen of any size.
#pragma once

#include <string>
#include <vector>

#include "platform/debug_console.h"
#include "platform/input_device.h"
#include "platform/platform_backend.h"
#include "platform/startup_dialog.h"
#include "platform/window_settings.h"

class FakeBackend : public PlatformBackend {
public:
    bool IsHeadless() const override { return true; }
    ScreenInfo QueryScreen() override { return screen; }
    void ShowMessageBox(const char* caption, const char* text, MessageBoxIcon) override {
        boxes.push_back(std::string(caption) + ": " + text);
    }
    int RunStartupDialog(StartupDialog* dialog) override {
        dialog->Initialise();
        return dialog->OnCommand(kIdOk);
    }
    bool CreateMainWindow(const WindowSettings& settings) override {
        created.push_back(settings);
        return windowsWork;
    }
    void DestroyMainWindow() override { ++mainDestroyed; }
    PlatformWindow* MainWindow() override { return nullptr; }
    std::unique_ptr<InputDevice> CreateInputDevice() override { return nullptr; }
    bool CreateDebugConsole(DebugConsole*) override {
        ++consolesCreated;
        return true;
    }
    void DestroyDebugConsole() override { ++consolesDestroyed; }
    void PumpEvents(PlatformEvents* events) override {
        ++pumps;
        if (closeOnNextPump) {
            closeOnNextPump = false;
            events->OnMainWindowClose();
        }
    }

    ScreenInfo screen{1920, 1080, true, true, 3};
    bool windowsWork = true;
    bool closeOnNextPump = false;
    std::vector<std::string> boxes;
    std::vector<WindowSettings> created;
    int mainDestroyed = 0, consolesCreated = 0, consolesDestroyed = 0, pumps = 0;
};
