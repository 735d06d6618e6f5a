// Timedemo: a demo played once as a benchmark. The demo and its world are
// loaded, the frame clock steps a fixed 16 ms per frame so that every run
// applies the same packets in the same frames, frames are drawn as fast as
// the machine allows, and the real time each frame took is measured. When the
// demo ends, one line reports the run:
//   timedemo: N frames, S seconds, F fps, frame ms min/median/max A/B/C
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr double kTimedemoFrameMs = 16.0;

struct FrameTimeSummary {
    size_t frames = 0;
    double seconds = 0.0;
    double framesPerSecond = 0.0;
    double minimumMs = 0.0;
    double medianMs = 0.0;  // the mean of the middle two for an even count
    double maximumMs = 0.0;
};

FrameTimeSummary SummariseFrameTimes(std::vector<double> frameMs);
std::string TimedemoLine(const FrameTimeSummary& summary);

enum class TimedemoState {
    kNone,      // no run yet
    kStarting,  // demo and world loaded; playback starts after one settling frame
    kRunning,   // playing, one frame time measured per engine frame
    kEnding,    // the last packet was applied; its frame is being measured
    kFinished,  // the line was printed
    kFailed,    // could not start (a line said why)
    kStopped,   // playback ended before the demo's end
};

// The demo file a name stands for: the name itself when such a file exists,
// else a bare name such as "demo003" in the demos folder.
std::string FindDemoFile(const char* name);

// Loads the demo and, when another one is loaded, the demo's world, and puts
// the frame clock on the fixed step; false, with a line saying why, when the
// run cannot start. The frames that follow play it. A demo playing gives way;
// a recording does not.
bool StartTimedemo(const char* name);

TimedemoState CurrentTimedemoState();
// Starting, running or ending.
bool TimedemoActive();
// The line that ended the last run: its report when it finished, else why
// it could not start or stopped early. Empty while a run is under way.
const std::string& TimedemoResult();

// Called in the input subsystem's frame around the demo playback step
// (engine/demo_input.cpp).
void TimedemoBeforePlayback();
void TimedemoAfterPlayback();

// Ends a run that has not reached its demo's end (the engine is stopping):
// says so and gives the frame clock its own time source back.
void StopTimedemo();

// Forgets any run, giving the clock back first (tests).
void ResetTimedemoState();
