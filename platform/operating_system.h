// The operating-system subsystem: the single-instance guard, the screen and
// mouse checks, the main window and debug console, the message pump and the
// frame clock every other part reads.
#pragma once

#include <cstdint>
#include <memory>

#include "base/subsystem.h"
#include "platform/debug_console.h"
#include "platform/frame_clock.h"
#include "platform/instance_lock.h"
#include "platform/platform_backend.h"
#include "platform/window_settings.h"

class COperatingSystem : public Subsystem, private PlatformEvents {
public:
    // The program's one instance registers with the engine; tests make
    // private ones that do not.
    explicit COperatingSystem(bool registerWithEngine = true);
    ~COperatingSystem() override;

    // The construction checks, run before the start-up dialog: instance
    // guard, screen size, mouse, clock. The back end stays in use for the run.
    void Start(PlatformBackend* backend, std::unique_ptr<TimeSource> time);
    // Closes the windows and lets go of the back end, which start-up is about
    // to destroy. Messages printed later go to the fallbacks.
    void Detach();
    // Whether the instance guard stopped this copy.
    bool InstanceGuardFailed() const { return guardFailed_; }

    // 1 on success, 0 on failure. The window's size is then its real size,
    // which full screen may have changed.
    int32_t CreateMainWindow(const WindowSettings* settings);

    int32_t frame() override;
    void shutdown(int32_t reason) override;

    // Puts another time source under the frame clock and returns the one it
    // replaces. The clock goes on from continueFrom (milliseconds): the next
    // frame reads continueFrom plus whatever the new source advanced, so
    // switching never makes time run backwards. Timedemo runs switch to a
    // fixed step and back this way.
    std::unique_ptr<TimeSource> SwapTimeSource(std::unique_ptr<TimeSource> next, double continueFrom);

    double FrameTime() const { return frameTime_; }
    double FrameDelta() const { return frameDelta_; }
    float FramesPerSecond() const { return framesPerSecond_; }
    int32_t WindowWidth() const { return window_.width; }
    int32_t WindowHeight() const { return window_.height; }
    // Null while no window exists.
    const char* WindowTitle() const { return windowExists_ ? window_.title : nullptr; }
    bool WindowExists() const { return windowExists_; }
    // Keyboard and mouse are polled only while the main window is active.
    bool InputActive() const { return inputActive_; }
    const ScreenInfo& Screen() const { return screen_; }
    PlatformBackend* Backend() const { return backend_; }
    DebugConsole& Console() { return console_; }

    // Told when the main window becomes active or inactive (input polling).
    using ActivationListener = void (*)(bool active);
    void SetActivationListener(ActivationListener listener) { activationListener_ = listener; }

    void ReportError(const char* text) { ::ReportError("%s", text); }
    void ReportWarning(const char* text) { ::ReportWarning("%s", text); }

private:
    void OnMainWindowClose() override;
    void OnActivation(bool active) override;
    void OnMainWindowResize(int width, int height) override;
    void DestroyWindows();
    void UpdateMessageRoute();
    double ReadClock() const { return time_ ? time_->Now() + clockOffset_ : 0.0; }

    bool registered_ = false;
    PlatformBackend* backend_ = nullptr;
    std::unique_ptr<TimeSource> time_;
    double clockOffset_ = 0.0;  // added to the source's reading (after a swap)
    InstanceLock lock_;
    bool guardFailed_ = false;
    ScreenInfo screen_;

    WindowSettings window_{};
    bool windowExists_ = false;
    bool debugConsoleEnabled_ = false;
    bool consoleWindowExists_ = false;
    bool inputActive_ = true;
    ActivationListener activationListener_ = nullptr;
    DebugConsole console_;

    double frameTime_ = 0.0;
    double previousFrameTime_ = 0.0;
    double frameDelta_ = 0.0;
    uint32_t frameCounter_ = 0;
    float lastRateUpdate_ = 0.0f;
    float previousRateUpdate_ = 0.0f;
    float framesPerSecond_ = 0.0f;
};

extern COperatingSystem g_operatingSystem;
