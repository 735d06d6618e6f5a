#include "engine/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/command_interpreter.h"
#include "console/runtime_log.h"
#include "engine/command_line.h"
#include "engine/main_loop.h"
#include "engine/subsystem.h"
#include "platform/headless/standard_input_console.h"
#include "platform/message_output.h"
#include "platform/paths.h"

#ifndef OSPREL_CONTENT_DIR
#define OSPREL_CONTENT_DIR "content"
#endif

namespace {

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Until a window system back end exists every run is headless.
constexpr bool kWindowedBackend = false;

void PumpStandardInput(void* console) { static_cast<StandardInputConsole*>(console)->Pump(); }

int32_t Quit(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    g_engine.shutdown(0);
    return 1;
}

int32_t RestartVideo(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    PrintLine("Refreshing video settings...");
    return 1;
}

ConsoleCommand quit("quit", Quit);
ConsoleCommand vid_restart("vid_restart", RestartVideo);

}  // namespace

const char* DefaultContentFolder() { return OSPREL_CONTENT_DIR; }

int RunOsprel(const CommandLine& options) {
    // The working directory is the content folder: every name the engine
    // opens is relative to it.
    const char* folder = options.basedir.empty() ? DefaultContentFolder() : options.basedir.c_str();
    if (!ChangeDirectory(folder)) {
        std::fprintf(stderr, "osprel: cannot use content folder '%s': %s\n", folder,
                     std::strerror(errno));
        if (options.basedir.empty()) {
            std::fprintf(stderr, "osprel: build and install it with 'make run', or pass --basedir\n");
        }
        return 1;
    }
    // Each run's log holds only that run's lines.
    ResetRuntimeLog();

    const bool headless = options.headless || !HasDisplay() || !kWindowedBackend;
    if (headless) SetPrintTap(StandardOutputTap());

    // Copy the choices into the window settings, order the subsystems, open
    // the window and list what runs.
    if (g_subsystemRegistry.Count() > 0) SortSubsystems();
    g_engine.PrintListing();

    // The start-up level and demo lines come first, then the lines asked for
    // on the command line.
    for (const std::string& line : options.execLines) ExecuteLine(line.c_str());

    StandardInputConsole console;
    FrameDriver frames(&g_engine, options.frames);
    if (headless) frames.SetBeforeFrame(PumpStandardInput, &console);
    const int result = RunInteractiveLoop(&frames);

    // A frame limit ends the run as quit would: every subsystem releases
    // what it holds before the globals go.
    if (frames.Exhausted() && g_engine.stop == 0) g_engine.shutdown(0);
    return result;
}
