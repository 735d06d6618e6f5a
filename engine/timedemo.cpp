#include "engine/timedemo.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/message_output.h"
#include "base/paths.h"
#include "console/console_object.h"
#include "engine/demo.h"
#include "engine/demo_mode.h"
#include "engine/game_system.h"
#include "platform/operating_system.h"
#include "base/paths.h"
#include "engine/world.h"

namespace {

using WallClock = std::chrono::steady_clock;

// Frames drawn after loading and before playback: the first frame after a
// switch of the clock is a little longer than the step, and a fresh world's
// first frame pays for its uploads; neither belongs in the measurement.
constexpr int kSettlingFrames = 1;

struct TimedemoRun {
    TimedemoState state = TimedemoState::kNone;
    const Demo* demo = nullptr;  // the demo being played; owned by the demo state
    std::unique_ptr<TimeSource> ownClock;  // the clock's source while the run holds the step
    int settling = 0;
    WallClock::time_point lastFrame;
    std::vector<double> frameMs;
    std::string result;
};

TimedemoRun s_run;

void GiveClockBack() {
    if (s_run.ownClock == nullptr) return;
    g_operatingSystem.SwapTimeSource(std::move(s_run.ownClock), g_operatingSystem.FrameTime());
}

// The wall time since the last call, as the previous frame's time.
void MeasureFrame() {
    const WallClock::time_point now = WallClock::now();
    s_run.frameMs.push_back(std::chrono::duration<double, std::milli>(now - s_run.lastFrame).count());
    s_run.lastFrame = now;
}

// The line that ends a run, printed and kept for TimedemoResult.
void Report(TimedemoState state, const std::string& line) {
    s_run.state = state;
    s_run.result = line;
    PrintLine("%s", line.c_str());
}

bool Fail(const std::string& line) {
    Report(TimedemoState::kFailed, line);
    return false;
}

void EndStopped() {
    s_run.demo = nullptr;
    GiveClockBack();
    Report(TimedemoState::kStopped, "timedemo: stopped after " + std::to_string(s_run.frameMs.size()) +
                                        " frames, before the demo's end");
}

void EndFinished() {
    s_run.demo = nullptr;
    GiveClockBack();
    Report(TimedemoState::kFinished, TimedemoLine(SummariseFrameTimes(s_run.frameMs)));
}

// The demo's world, unless it is the one loaded already.
bool LoadDemoWorld(const Demo& demo) {
    const std::string world(demo.world, strnlen(demo.world, sizeof demo.world));
    if (world.empty()) return true;  // recorded without a world name: play where we are
    const World* current = g_gameSystem.GetCurrentWorld();
    if (current != nullptr && current->loaded && current->Name() != nullptr &&
        SameWorldFile(current->Name(), world.c_str())) {
        return true;
    }
    if (g_gameSystem.Map(world.c_str()) == 0) return Fail("timedemo: cannot load the demo's world " + world);
    return true;
}

int32_t TimedemoCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    // From a key there is no argument list.
    if (argc < 1 || argv == nullptr) {
        PrintLine("Error: timedemo needs the path of a demo file.");
        return 0;
    }
    return StartTimedemo(argv[0].text) ? 1 : 0;
}

ConsoleCommand timedemo("timedemo", TimedemoCommand);

}  // namespace

FrameTimeSummary SummariseFrameTimes(std::vector<double> frameMs) {
    FrameTimeSummary summary;
    summary.frames = frameMs.size();
    if (frameMs.empty()) return summary;
    std::sort(frameMs.begin(), frameMs.end());
    double total = 0.0;
    for (double ms : frameMs) total += ms;
    summary.seconds = total / 1000.0;
    summary.framesPerSecond = summary.seconds > 0.0 ? static_cast<double>(summary.frames) / summary.seconds : 0.0;
    summary.minimumMs = frameMs.front();
    summary.maximumMs = frameMs.back();
    const size_t middle = frameMs.size() / 2;
    summary.medianMs = frameMs.size() % 2 == 1 ? frameMs[middle] : (frameMs[middle - 1] + frameMs[middle]) / 2.0;
    return summary;
}

std::string TimedemoLine(const FrameTimeSummary& summary) {
    char line[200];
    std::snprintf(line, sizeof line,
                  "timedemo: %zu frames, %.3f seconds, %.1f fps, frame ms min/median/max %.2f/%.2f/%.2f",
                  summary.frames, summary.seconds, summary.framesPerSecond, summary.minimumMs, summary.medianMs,
                  summary.maximumMs);
    return line;
}

std::string FindDemoFile(const char* name) {
    if (name == nullptr) return {};
    const std::string given(name);
    if (given.empty() || FileExists(name) || given.find_first_of("/\\") != std::string::npos) return given;
    std::string inFolder = "demos\\" + given;
    if (given.find('.') == std::string::npos) inFolder += ".dem";
    return FileExists(inFolder.c_str()) ? inFolder : given;
}

bool StartTimedemo(const char* name) {
    if (TimedemoActive()) {
        // The run under way goes on; its state and line stay as they are.
        PrintLine("timedemo: a timedemo is running already");
        return false;
    }
    s_run.demo = nullptr;
    s_run.result.clear();
    if (name == nullptr || *name == '\0') return Fail("timedemo: no demo file named");
    if (CurrentDemoMode() == kDemoRecording) return Fail("timedemo: stop recording first");
    // A demo playing (the start-up demo, say) gives way.
    if (CurrentDemoMode() == kDemoPlayback) StopDemo();

    const std::string file = FindDemoFile(name);
    if (!LoadDemo(file.c_str())) return Fail("timedemo: cannot read demo " + file);
    const Demo* demo = CurrentDemo();
    if (demo == nullptr || demo->packets.empty()) return Fail("timedemo: demo " + file + " holds no packets");
    if (!LoadDemoWorld(*demo)) return false;

    // Packet times are float milliseconds and playback stores its start as a
    // float too. Starting the step on a whole millisecond keeps every frame
    // time exact in a float (for the first 4.6 hours of a run), so due times
    // compare the same way in every run whatever the real clock read.
    s_run.ownClock = g_operatingSystem.SwapTimeSource(std::make_unique<FixedStepTimeSource>(kTimedemoFrameMs),
                                                      std::ceil(g_operatingSystem.FrameTime()));
    s_run.demo = demo;
    s_run.settling = kSettlingFrames;
    s_run.frameMs.clear();
    // One measurement per frame of the demo's length, without growing on
    // the way; the length comes from the file, so it is capped.
    const double length = static_cast<double>(demo->packets.back().time) - static_cast<double>(demo->captureStart);
    const double frames = std::clamp(length / kTimedemoFrameMs + 2.0, 2.0, 1.0e6);
    s_run.frameMs.reserve(static_cast<size_t>(frames));
    s_run.state = TimedemoState::kStarting;
    return true;
}

TimedemoState CurrentTimedemoState() { return s_run.state; }

bool TimedemoActive() {
    return s_run.state == TimedemoState::kStarting || s_run.state == TimedemoState::kRunning ||
           s_run.state == TimedemoState::kEnding;
}

const std::string& TimedemoResult() { return s_run.result; }

void TimedemoBeforePlayback() {
    switch (s_run.state) {
        case TimedemoState::kStarting:
            if (s_run.settling > 0) {
                --s_run.settling;
                return;
            }
            // Something else took the demo player over since the start.
            if (CurrentDemo() != s_run.demo || CurrentDemoMode() != kDemoIdle) {
                EndStopped();
                return;
            }
            PlayDemo();
            s_run.lastFrame = WallClock::now();
            s_run.state = TimedemoState::kRunning;
            return;
        case TimedemoState::kRunning:
            MeasureFrame();
            // Playback ended without its last packet: stop, load or the like.
            if (CurrentDemo() != s_run.demo || CurrentDemoMode() != kDemoPlayback) EndStopped();
            return;
        case TimedemoState::kEnding:
            MeasureFrame();
            EndFinished();
            return;
        default:
            return;
    }
}

void TimedemoAfterPlayback() {
    if (s_run.state != TimedemoState::kRunning) return;
    const Demo* demo = CurrentDemo();
    // The demo's last packet was applied in this frame; the frame is
    // measured when the next one begins.
    if (demo == s_run.demo && CurrentDemoMode() == kDemoIdle && demo->played == demo->packets.size()) {
        s_run.state = TimedemoState::kEnding;
    }
}

void StopTimedemo() {
    if (TimedemoActive()) EndStopped();
}

void ResetTimedemoState() {
    GiveClockBack();
    s_run.state = TimedemoState::kNone;
    s_run.demo = nullptr;
    s_run.settling = 0;
    s_run.frameMs.clear();
    s_run.result.clear();
}
