// The narrow interface between the operating-system subsystem and the system
// below it. Two back ends implement it: SDL (real windows) and headless (no
// display: a virtual window, the console on standard input and output).
#pragma once

#include <memory>

#include "base/message_output.h"

class DebugConsole;
class InputDevice;
class PlatformWindow;
class StartupDialog;
struct WindowSettings;

struct ScreenInfo {
    int width = 0;
    int height = 0;
    bool mousePresent = false;
    bool wheelPresent = false;
    int mouseButtons = 0;
};

// What the message pump reports to the operating-system subsystem.
class PlatformEvents {
public:
    virtual ~PlatformEvents() = default;
    // The main window's close box.
    virtual void OnMainWindowClose() = 0;
    // The main window became active (true) or inactive (false).
    virtual void OnActivation(bool active) = 0;
    // The main window's drawable area has a new size (resized, or full
    // screen turned on or off).
    virtual void OnMainWindowResize(int /*width*/, int /*height*/) {}
};

class PlatformBackend {
public:
    virtual ~PlatformBackend() = default;

    virtual bool IsHeadless() const = 0;
    virtual ScreenInfo QueryScreen() = 0;
    // Blocks until the user closes the box (headless: never blocks).
    virtual void ShowMessageBox(const char* caption, const char* text, MessageBoxIcon icon) = 0;

    // Runs the start-up dialog modally; 1 for OK, 0 for Exit or close.
    virtual int RunStartupDialog(StartupDialog* dialog) = 0;

    virtual bool CreateMainWindow(const WindowSettings& settings) = 0;
    virtual void DestroyMainWindow() = 0;
    // The main window while it exists, else null.
    virtual PlatformWindow* MainWindow() = 0;

    // The debug console's window; it shows console->Output() and hands its
    // input to the console.
    virtual bool CreateDebugConsole(DebugConsole* console) = 0;
    virtual void DestroyDebugConsole() = 0;

    // The keyboard and mouse of this back end.
    virtual std::unique_ptr<InputDevice> CreateInputDevice() = 0;

    // Delivers pending window-system events; never blocks.
    virtual void PumpEvents(PlatformEvents* events) = 0;
};

// A back end for a display when one can be reached, else null.
std::unique_ptr<PlatformBackend> CreateSdlBackend();
// inputScript: the timed events of --input-script (may be empty).
struct InputScript;
std::unique_ptr<PlatformBackend> CreateHeadlessBackend(std::shared_ptr<const InputScript> inputScript = nullptr);
