#include "platform/operating_system.h"

#include <cstdio>
#include <cstring>

#include "base/message_output.h"
#include "platform/platform_cvars.h"
#include "platform/platform_window.h"

namespace {

// The instance whose windows show lines and message boxes.
constinit COperatingSystem* s_shown = nullptr;

void ShowInConsoleWindow(const char* line) {
    if (s_shown != nullptr) s_shown->Console().Append(line);
}

void ShowBoxThroughBackend(const char* caption, const char* text, MessageBoxIcon icon) {
    if (s_shown != nullptr && s_shown->Backend() != nullptr) {
        s_shown->Backend()->ShowMessageBox(caption, text, icon);
    } else {
        std::fprintf(stderr, "%s: %s\n", caption, text);
    }
}

}  // namespace

COperatingSystem::COperatingSystem(bool registerWithEngine) : registered_(registerWithEngine) {
    Setup("COperatingSystem");
    if (registered_) RegisterSubsystem(this);
    priority = 1;
    // The window size reads 0 until a window is created.
    window_.width = 0;
    window_.height = 0;
}

void COperatingSystem::Detach() {
    DestroyWindows();
    backend_ = nullptr;
    if (s_shown == this) s_shown = nullptr;
    SetMessageRoute(MessageRoute{});
    SetMessageBoxFunction(nullptr);
}

COperatingSystem::~COperatingSystem() {
    if (registered_) UnregisterSubsystem(this);
    Teardown();
    if (s_shown == this) {
        // Past this point no window can show a line or a message box.
        s_shown = nullptr;
        SetMessageRoute(MessageRoute{});
        SetMessageBoxFunction(nullptr);
    }
}

void COperatingSystem::Start(PlatformBackend* backend, std::unique_ptr<TimeSource> time) {
    backend_ = backend;
    time_ = std::move(time);
    clockOffset_ = 0.0;
    s_shown = this;
    SetMessageBoxFunction(ShowBoxThroughBackend);

    switch (lock_.Acquire(InstanceName())) {
        case InstanceLock::Result::kAcquired:
            break;
        case InstanceLock::Result::kHeldElsewhere:
            ::ReportError(
                "Project Osprel 2.0 is already running on this system\n"
                "Only one instance of Osprel can be run at a time.");
            finished = 1;
            guardFailed_ = true;
            break;
        case InstanceLock::Result::kFailed:
            ::ReportError("Error creating Osprel semaphore");
            finished = 1;
            guardFailed_ = true;
            break;
    }
    if (guardFailed_) return;

    screen_ = backend_->QueryScreen();
    if (!(screen_.width > 639) || !(screen_.height > 479)) {
        ::ReportError("Error: This program requires a resolution of 640x480 or higher");
        finished = 1;
    }
    if (!screen_.mousePresent) {
        ::ReportWarning(
            "OS: Mouse not detected\n"
            "Engine will still load, but a mouse is strongly recommended.");
    }
    if ((screen_.mouseButtons & 0xFF) < 3) {
        ::ReportWarning(
            "Less than 3 buttons detected on mouse.\n"
            "It is strongly recommended that a 3-button mouse be used with this application");
    }

    // The clock runs from here; frame time and delta start at 0.
    ReadClock();
    ReadClock();
    frameTime_ = 0.0;
    frameDelta_ = 0.0;
}

std::unique_ptr<TimeSource> COperatingSystem::SwapTimeSource(std::unique_ptr<TimeSource> next,
                                                             double continueFrom) {
    clockOffset_ = next ? continueFrom - next->Now() : 0.0;
    std::swap(time_, next);
    return next;
}

int32_t COperatingSystem::CreateMainWindow(const WindowSettings* settings) {
    if (settings == nullptr || windowExists_) {
        ::ReportError("Unable to create a window that is already initialized");
        return 0;
    }
    window_ = *settings;
    window_.title[sizeof window_.title - 1] = '\0';
    windowExists_ = window_.create != 0;
    debugConsoleEnabled_ = window_.debugConsole != 0;

    if (window_.create == 0 || window_.x < 0 || window_.x > screen_.width - 1 || window_.y < 0 ||
        window_.y > screen_.height - 1) {
        windowExists_ = false;
        return 0;
    }
    if (backend_ == nullptr || !backend_->CreateMainWindow(window_)) {
        windowExists_ = false;
        ::ReportError("Window Creation Failure");
        finished = 1;
        return 0;
    }

    if (PlatformWindow* created = backend_->MainWindow()) OnMainWindowResize(created->Width(), created->Height());

    if (debugConsoleEnabled_) {
        consoleWindowExists_ = backend_->CreateDebugConsole(&console_);
        if (consoleWindowExists_) console_.Show();
    }
    windowExists_ = true;
    UpdateMessageRoute();
    if (debugConsoleEnabled_ && consoleWindowExists_) ReplayPendingLines();
    return 1;
}

int32_t COperatingSystem::frame() {
    if (backend_ != nullptr) backend_->PumpEvents(this);

    if (++frameCounter_ == 100) {
        previousRateUpdate_ = lastRateUpdate_;
        lastRateUpdate_ = static_cast<float>(frameTime_);
        framesPerSecond_ = static_cast<float>(frameCounter_) /
                           ((lastRateUpdate_ - previousRateUpdate_) * 0.001f);
        frameCounter_ = 0;
    }

    if (windowExists_) {
        if (time_) time_->AdvanceFrame();
        previousFrameTime_ = frameTime_;
        frameTime_ = ReadClock();
        frameDelta_ = frameTime_ - previousFrameTime_;
    }
    return finished;
}

void COperatingSystem::shutdown(int32_t) {
    finished = 1;
    DestroyWindows();
}

// The video subsystem follows the window's size on its next frame; the
// variables show the real size.
void COperatingSystem::OnMainWindowResize(int width, int height) {
    if (width <= 0 || height <= 0) return;
    window_.width = width;
    window_.height = height;
    win_width.intValue = width;
    win_height.intValue = height;
}

void COperatingSystem::OnMainWindowClose() {
    ::ReportWarning("Note this is not the best way to shut down");
    finished = 1;
    DestroyWindows();
}

void COperatingSystem::OnActivation(bool active) {
    inputActive_ = active;
    if (activationListener_ != nullptr) activationListener_(active);
}

void COperatingSystem::DestroyWindows() {
    if (!windowExists_) return;
    if (debugConsoleEnabled_ && consoleWindowExists_) {
        backend_->DestroyDebugConsole();
        consoleWindowExists_ = false;
    }
    backend_->DestroyMainWindow();
    windowExists_ = false;
    UpdateMessageRoute();
}

void COperatingSystem::UpdateMessageRoute() {
    MessageRoute route;
    route.windowExists = windowExists_;
    route.debugConsoleEnabled = debugConsoleEnabled_;
    route.showInConsole = consoleWindowExists_ ? ShowInConsoleWindow : nullptr;
    SetMessageRoute(route);
}

PlatformWindow* FindPlatformWindow(const char* title) {
    if (title == nullptr || s_shown == nullptr || s_shown->Backend() == nullptr) return nullptr;
    PlatformWindow* window = s_shown->Backend()->MainWindow();
    if (window == nullptr || std::strcmp(window->Title(), title) != 0) return nullptr;
    return window;
}
