// The two main loops: the interactive loop, and the demo loop that replays
// the start-up demo forever.
#pragma once

#include <cstdint>

class CBaseEngine;

// Runs engine frames one at a time, counting them against an optional limit
// (the --frames option).
class FrameDriver {
public:
    FrameDriver(CBaseEngine* engine, int64_t limit) : engine_(engine), limit_(limit) {}

    bool Exhausted() const { return limit_ >= 0 && count_ >= limit_; }
    // One engine frame; returns its result.
    int32_t Step();
    int64_t Count() const { return count_; }
    // The engine ran its shutdown pass (quit): a stop asked for, not a
    // failure.
    bool ShutDown() const;

private:
    CBaseEngine* engine_;
    int64_t limit_;
    int64_t count_ = 0;
};

// The demo player as the demo loop drives it.
class DemoLoopPlayer {
public:
    virtual ~DemoLoopPlayer() = default;
    // A demo is loaded and holds packets.
    virtual bool HasPackets() const = 0;
    // Start and stop playback as the play and stop commands do.
    virtual void Play() = 0;
    virtual void Stop() = 0;
    // Playback has packets left to apply.
    virtual bool Playing() const = 0;
    // The demo's world is still the loaded one: a map command that loads
    // another world ends the loop, which then runs interactively.
    virtual bool InItsWorld() const = 0;
};

// Frames until one returns non-zero or the frame limit is reached; returns 0.
int RunInteractiveLoop(FrameDriver* frames);

// Frames while running() holds, until one returns non-zero or the frame
// limit is reached (a timedemo given on the command line). Returns 0.
int RunWhile(FrameDriver* frames, bool (*running)());

// One frame, then the demo from its start over and over while it is in its
// world; a non-zero frame prints "Error during osprel frame" and ends the
// loop, with a second line saying so when quit asked for the end. Returns 0.
int RunDemoLoop(FrameDriver* frames, DemoLoopPlayer* demo);
