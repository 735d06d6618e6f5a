#include "engine/startup.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/archive_files.h"
#include "base/message_output.h"
#include "base/paths.h"
#include "base/subsystem.h"
#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "console/command_interpreter.h"
#include "console/runtime_log.h"
#include "engine/command_line.h"
#include "engine/demo.h"
#include "engine/game_system.h"
#include "engine/main_loop.h"
#include "engine/timedemo.h"
#include "engine/world_catalogue.h"
#include "input/input_system.h"
#include "platform/headless/input_script.h"
#include "platform/operating_system.h"
#include "platform/platform_cvars.h"
#include "platform/startup_dialog.h"
#include "video/renderer.h"
#include "video/resource_manager.h"
#include "video/shader_set.h"
#include "video/video_cvars.h"
#include "video/video_system.h"
#include "video/shader_library.h"
#include "world/world_cvars.h"

#ifndef OSPREL_CONTENT_DIR
#define OSPREL_CONTENT_DIR "content"
#endif

namespace {

int32_t Quit(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    g_engine.shutdown(0);
    return 1;
}

int32_t RestartVideo(int32_t, int32_t, int32_t, const ConsoleArgument*) {
    PrintLine("Refreshing video settings...");
    return 1;
}

ConsoleCommand quit("quit", Quit, KeyRepeat::kOncePerPress);
ConsoleCommand vid_restart("vid_restart", RestartVideo);

// The start-up demo as the demo loop drives it.
class StartupDemo : public DemoLoopPlayer {
public:
    bool HasPackets() const override { return CurrentDemo() != nullptr && !CurrentDemo()->packets.empty(); }
    void Play() override { PlayDemo(); }
    void Stop() override { StopDemo(); }
    bool Playing() const override {
        const Demo* demo = CurrentDemo();
        return demo != nullptr && demo->played < demo->packets.size();
    }
    bool InItsWorld() const override { return CurrentDemoInItsWorld(); }
};

// One line a script can read: how the run went and where the camera ended.
// The second and third lines: the graphics work per frame of the run, so
// that a benchmark can tell why one view or path is slower than another.
void PrintStatistics(int64_t frames, double seconds, const D3D9Counters& start) {
    const D3DXVECTOR3& position = g_camera.GetPosition();
    const CameraAngles angles = g_camera.GetAngles();
    std::printf("stats: frames=%lld fps=%.1f pos=%.3f,%.3f,%.3f angles=%.3f,%.3f,%.3f items=%u\n",
                static_cast<long long>(frames), seconds > 0.0 ? frames / seconds : 0.0,
                static_cast<double>(position.x), static_cast<double>(position.y),
                static_cast<double>(position.z), static_cast<double>(angles.yaw),
                static_cast<double>(angles.pitch), static_cast<double>(angles.roll),
                g_renderer.ItemsDrawn());
    const D3D9Counters end = g_videoSystem.DeviceCounters();
    const double perFrame = frames > 0 ? 1.0 / static_cast<double>(frames) : 0.0;
    const auto rate = [perFrame](uint64_t later, uint64_t earlier) {
        return static_cast<double>(later >= earlier ? later - earlier : 0) * perFrame;
    };
    std::printf("stats: per frame: draws=%.1f texture_binds=%.1f constant_uploads=%.1f constant_bytes=%.0f\n",
                rate(end.draws, start.draws), rate(end.textureBinds, start.textureBinds),
                rate(end.constantUploads, start.constantUploads), rate(end.constantBytes, start.constantBytes));
    std::printf("stats: per frame: state_sets=%.1f clears=%.1f target_changes=%.1f ms=%.3f\n",
                rate(end.stateApplies, start.stateApplies), rate(end.clears, start.clears),
                rate(end.targetChanges, start.targetChanges), frames > 0 ? seconds * 1000.0 * perFrame : 0.0);
    // How many times over the world covers the screen in its draw at the
    // screen's size: what the depth test let the shaders write.
    const double pixels = static_cast<double>(g_operatingSystem.WindowWidth()) * g_operatingSystem.WindowHeight();
    std::printf("stats: per frame: world_fragments_per_pixel=%.2f\n",
                pixels > 0.0 ? rate(end.samplesPassed, start.samplesPassed) / pixels : 0.0);
    std::fflush(stdout);
}

std::unique_ptr<PlatformBackend> ChooseBackend(const CommandLine& options,
                                               std::shared_ptr<const InputScript> script) {
    if (!options.headless) {
        if (std::unique_ptr<PlatformBackend> sdl = CreateSdlBackend()) return sdl;
        std::fprintf(stderr, "osprel: no display can be reached; running headless\n");
    }
    return CreateHeadlessBackend(std::move(script));
}

std::unique_ptr<TimeSource> ChooseTimeSource(const CommandLine& options) {
    if (options.fixedFrameMs > 0.0) return std::make_unique<FixedStepTimeSource>(options.fixedFrameMs);
    return std::make_unique<SteadyTimeSource>();
}

// Keeps the lines printed while it lives, and passes them on to the tap
// that was there before.
class PrintedLines {
public:
    PrintedLines() : previous_(SetPrintTap(PrintTap{Keep, this})) {}
    ~PrintedLines() { SetPrintTap(previous_); }
    PrintedLines(const PrintedLines&) = delete;
    PrintedLines& operator=(const PrintedLines&) = delete;
    const std::vector<std::string>& Lines() const { return lines_; }

private:
    static void Keep(const char* text, void* context) {
        auto* self = static_cast<PrintedLines*>(context);
        self->lines_.emplace_back(text);
        if (self->previous_.function != nullptr) self->previous_.function(text, self->previous_.context);
    }
    PrintTap previous_;
    std::vector<std::string> lines_;
};

// The world named on the command line, at its first spawn point. A name
// finds its file and places the camera itself; a file is loaded as it is.
// The lines printed on the way are kept in *printed, to say why it failed.
bool OpenCommandLineWorld(const std::string& world, std::vector<std::string>* printed) {
    PrintedLines lines;
    const bool opened = g_gameSystem.Map(world.c_str()) != 0;
    *printed = lines.Lines();
    if (!opened) return false;
    if (!IsWorldName(world.c_str())) g_gameSystem.PlaceAtSpawn(0);
    return true;
}

// Why the world did not open, out of what the loading printed: its error
// lines, or the last line when none says error.
std::vector<std::string> FailureReasons(const std::vector<std::string>& printed) {
    std::vector<std::string> reasons;
    for (const std::string& line : printed) {
        if (line.find("rror") != std::string::npos || line.rfind("Unable", 0) == 0) reasons.push_back(line);
    }
    if (reasons.empty() && !printed.empty()) reasons.push_back(printed.back());
    return reasons;
}

// A world that cannot be opened ends the run, and whoever started it is told
// why wherever they look: standard error always, and a box in a window,
// where nothing else of the engine's output shows. A mistyped name gets the
// names closest to it.
void ReportWorldNotOpened(const std::string& world, const std::vector<std::string>& printed) {
    std::vector<std::string> lines = FailureReasons(printed);
    if (IsWorldName(world.c_str()) && FindWorldByName(world.c_str()).empty()) {
        const std::vector<std::string> closest = ClosestWorldNames(world);
        std::string names;
        for (const std::string& name : closest) names += (names.empty() ? "" : ", ") + name;
        lines.push_back(closest.empty() ? "No world is installed." : "The closest names: " + names + ".");
    }
    lines.push_back("The console command maps lists every world (osprel --headless --exec maps --frames 1).");

    std::fprintf(stderr, "osprel: cannot open the world '%s'\n", world.c_str());
    for (const std::string& line : lines) std::fprintf(stderr, "osprel: %s\n", line.c_str());
    std::fflush(stderr);
    if (g_operatingSystem.Backend()->IsHeadless() || MessageBoxesOff()) return;
    std::string text = "Cannot open the world '" + world + "'.\n";
    for (const std::string& line : lines) text += "\n" + line;
    ShowMessageBox("Osprel Error", text.c_str(), MessageBoxIcon::kError);
}

// --timedemo: the demo once, then the engine quits. Returns the exit code:
// 0 when the run reached the demo's end and printed its line.
int RunCommandLineTimedemo(const std::string& demo, FrameDriver* frames) {
    if (StartTimedemo(demo.c_str())) {
        RunWhile(frames, TimedemoActive);
        // Stopped by quit, a closed window or --frames before the end.
        StopTimedemo();
    }
    const bool finished = CurrentTimedemoState() == TimedemoState::kFinished;
    // Printed lines reach standard output only when headless; the run's
    // outcome is for whoever started it either way.
    if (!g_operatingSystem.Backend()->IsHeadless()) {
        std::fprintf(finished ? stdout : stderr, "%s\n", TimedemoResult().c_str());
    }
    if (!finished) std::fprintf(stderr, "osprel: the timedemo of '%s' did not complete\n", demo.c_str());
    std::fflush(stdout);
    return finished ? 0 : 1;
}

// Start-up after the checks, in the engine's order; returns the exit code.
int StartAndRun(const CommandLine& options) {
    const bool worldGiven = !options.world.empty();
    const bool timedemo = !options.timedemo.empty();
    // A demo that is not there stops the run before any window opens.
    if (timedemo && !FileExists(FindDemoFile(options.timedemo.c_str()).c_str())) {
        std::fprintf(stderr, "osprel: no demo file '%s'\n", options.timedemo.c_str());
        return 1;
    }
    StartupAnswers answers;
    answers.answerWithoutShowing =
        options.acceptDefaults || !options.dialogSettings.empty() || worldGiven || timedemo;
    // A world on the command line opens in an 800 x 600 window, where the
    // dialog's default would take the whole screen, unless --set chooses.
    if (worldGiven) answers.settings.emplace_back("fullscreen", "0");
    answers.settings.insert(answers.settings.end(), options.dialogSettings.begin(), options.dialogSettings.end());
    // A world on the command line is explored at once, and a timedemo brings
    // its own: no start-up demo plays.
    if (worldGiven || timedemo) answers.settings.emplace_back("demo", std::to_string(kNoDemoPosition));
    StartupChoices choices;
    if (ShowStartupDialog(g_operatingSystem.Backend(), answers, &choices) == 0) return 0;
    ApplyStartupChoices(choices);

    g_windowSettings.width = win_width.intValue;
    g_windowSettings.height = win_height.intValue;
    g_windowSettings.fullscreen = vid_fullscreen.intValue;
    g_windowSettings.showCursor = win_cursor.intValue;
    g_windowSettings.debugConsole = win_debug.intValue;

    if (g_subsystemRegistry.Count() > 0) SortSubsystems();
    g_operatingSystem.CreateMainWindow(&g_windowSettings);
    g_engine.PrintListing();

    // Failures here are reported by each part and do not stop start-up.
    g_videoSystem.Initialise();
    g_inputSystem.OpenDevices(g_operatingSystem.Backend()->CreateInputDevice());
    g_resourceManager.Initialise();
    ReportDataFolders();
    g_gameSystem.InitGame();
    // +set: over what autoexec.cfg chose, before any world opens.
    for (const auto& [name, value] : options.consoleVariables) ExecuteLine((name + " " + value).c_str());

    // The chosen level and demo (or the world named on the command line),
    // then the lines asked for on the command line.
    if (worldGiven) {
        std::vector<std::string> printed;
        if (!OpenCommandLineWorld(options.world, &printed)) {
            ReportWorldNotOpened(options.world, printed);
            if (g_engine.stop == 0) g_engine.shutdown(0);
            return 1;
        }
    } else if (!timedemo) {
        // (The timedemo loads its demo's world; the start level would be
        // loaded only to be replaced.)
        StartLevelAndDemo();
    }
    for (const std::string& line : options.execLines) ExecuteLine(line.c_str());

    if (!options.screenshot.empty()) g_videoSystem.SetExitScreenshot(options.screenshot.c_str());
    FrameDriver frames(&g_engine, options.frames);
    g_renderer.CountWorldSamples(options.stats);
    const D3D9Counters countersAtStart = g_videoSystem.DeviceCounters();
    const auto loopStart = std::chrono::steady_clock::now();
    int result = 0;
    if (timedemo) {
        result = RunCommandLineTimedemo(options.timedemo, &frames);
    } else {
        StartupDemo demo;
        result = demo.HasPackets() ? RunDemoLoop(&frames, &demo) : RunInteractiveLoop(&frames);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - loopStart).count();
    if (options.stats) PrintStatistics(frames.Count(), seconds, countersAtStart);
    g_renderer.CountWorldSamples(false);

    // A frame limit, like the end of a timedemo, ends the run as quit
    // would: every subsystem releases what it holds before the globals go.
    // The screenshot is taken before the device goes, however the run ended.
    if ((frames.Exhausted() || timedemo) && g_engine.stop == 0) g_engine.shutdown(0);
    g_videoSystem.SaveExitScreenshot();
    return result;
}

}  // namespace

void ApplyStartupChoices(const StartupChoices& choices) {
    win_width.intValue = choices.width;
    win_height.intValue = choices.height;
    m_invert.intValue = choices.invertMouse ? 1 : 0;
    vid_fullscreen.intValue = choices.fullscreen ? 1 : 0;
    win_cursor.intValue = choices.showCursor ? 1 : 0;
    win_debug.intValue = choices.debugWindow ? 1 : 0;
    bsp_noclip.intValue = choices.collision ? 0 : 1;
    vid_effectmode.intValue = choices.effectMode;
}

const char* DefaultContentFolder() { return OSPREL_CONTENT_DIR; }

int RunOsprel(const CommandLine& given) {
    // Files named on the command line are relative to where the engine was
    // started, not to the content folder.
    CommandLine options = given;
    const std::string startFolder = CurrentDirectory();
    for (std::string* file : {&options.screenshot, &options.inputScript}) {
        if (!file->empty() && (*file)[0] != '/') *file = startFolder + "/" + *file;
    }
    for (std::string& folder : options.dataFolders) {
        if (!folder.empty() && folder[0] != '/') folder = startFolder + "/" + folder;
    }
    // A world given as a file that exists from here is opened from here;
    // anything else is a name or a path of the content folder and archives.
    if (!options.world.empty() && options.world[0] != '/' && IsRegularFile(options.world.c_str())) {
        options.world = startFolder + "/" + options.world;
    }
    // The timedemo's file likewise; else a file or a name in the content folder.
    if (!options.timedemo.empty() && options.timedemo[0] != '/' && IsRegularFile(options.timedemo.c_str())) {
        options.timedemo = startFolder + "/" + options.timedemo;
    }

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

    // The input script is read before anything starts, so a mistake in it
    // stops the run with its line number.
    auto script = std::make_shared<InputScript>();
    if (!options.inputScript.empty()) {
        std::string error;
        if (!LoadInputScript(options.inputScript, script.get(), &error)) {
            std::fprintf(stderr, "osprel: input script %s: %s\n", given.inputScript.c_str(), error.c_str());
            return 2;
        }
    }
    // Without its shaders the engine can draw nothing at all: say what is
    // missing and where it looked, rather than run blind.
    if (!IsRegularFile(kShaderFile)) {
        std::fprintf(stderr, "osprel: the content folder %s has no %s\n", CurrentDirectory().c_str(), kShaderFile);
        std::fprintf(stderr, "osprel: build it with 'make', or pass --basedir with the folder the build installs\n");
        return 1;
    }

    // Boxes off before anything can show one (the instance guard's comes first).
    SetMessageBoxesOff(options.noMessageBoxes);
    std::unique_ptr<PlatformBackend> backend = ChooseBackend(options, script);
    if (backend->IsHeadless()) {
        SetPrintTap(StandardOutputTap());
        SetStatusEcho(true);
    }

    // The guard, screen and mouse checks and the clock come before anything
    // else the user sees. A second copy stops here, before it could touch the
    // running copy's log.
    g_operatingSystem.Start(backend.get(), ChooseTimeSource(options));
    if (g_operatingSystem.InstanceGuardFailed()) {
        g_operatingSystem.Detach();
        SetMessageBoxesOff(false);
        return 1;
    }
    // Each run's log holds only that run's lines.
    ResetRuntimeLog();

    // Worlds and textures the content folder lacks come from the archives:
    // the folders named with --data first, then the installed OpenArena data.
    std::vector<std::string> dataFolders = options.dataFolders;
    for (const std::string& folder : DefaultDataFolders()) dataFolders.push_back(folder);
    MountDataFolders(dataFolders);
    // The worlds' shader scripts are read while the video starts.
    ReadWorldShadersAhead();

    const int result = StartAndRun(options);
    g_operatingSystem.Detach();
    ForgetWorldShaders();
    UnmountDataFolders();
    SetMessageBoxesOff(false);
    return result;
}
