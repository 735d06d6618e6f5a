// Timedemo: the frame-time statistics, and a demo played once on the fixed
// step in a world loaded the way the map command loads one.
#include "engine/timedemo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "console/command_interpreter.h"
#include "engine/demo.h"
#include "engine/demo_mode.h"
#include "engine/game_system.h"
#include "input/input_system.h"
#include "platform/operating_system.h"
#include "support/bsp_builder.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/resource_manager.h"
#include "video/video_system.h"
#include "engine/world.h"

TEST(TimedemoStatistics, MinimumMedianMaximumAndRate) {
    const FrameTimeSummary even = SummariseFrameTimes({4.0, 1.0, 3.0, 2.0});
    EXPECT_EQ(even.frames, 4u);
    EXPECT_DOUBLE_EQ(even.seconds, 0.010);
    EXPECT_DOUBLE_EQ(even.framesPerSecond, 400.0);
    EXPECT_DOUBLE_EQ(even.minimumMs, 1.0);
    EXPECT_DOUBLE_EQ(even.medianMs, 2.5);  // between the middle two
    EXPECT_DOUBLE_EQ(even.maximumMs, 4.0);
    EXPECT_EQ(TimedemoLine(even), "timedemo: 4 frames, 0.010 seconds, 400.0 fps, frame ms min/median/max 1.00/2.50/4.00");

    const FrameTimeSummary odd = SummariseFrameTimes({20.0, 5.0, 9.0});
    EXPECT_DOUBLE_EQ(odd.medianMs, 9.0);
    EXPECT_EQ(TimedemoLine(odd), "timedemo: 3 frames, 0.034 seconds, 88.2 fps, frame ms min/median/max 5.00/9.00/20.00");

    const FrameTimeSummary none = SummariseFrameTimes({});
    EXPECT_EQ(TimedemoLine(none), "timedemo: 0 frames, 0.000 seconds, 0.0 fps, frame ms min/median/max 0.00/0.00/0.00");
}

namespace {

// A demo of the world maps/test.lmf: packets at the given times after a
// capture start of 1000 ms, key 17 pressed and released in turn, the camera
// stepping 10 units along -Z from (274, 478, 435) with each packet.
Demo BenchDemo(const std::vector<float>& times) {
    Demo demo;
    std::strcpy(demo.world, "maps/test.lmf");
    demo.startPosition[0] = 274.0f;
    demo.startPosition[1] = 478.0f;
    demo.startPosition[2] = 435.0f;
    demo.captureStart = 1000.0f;
    demo.invertAtCapture = 1;
    for (size_t i = 0; i < times.size(); ++i) {
        DemoPacket p{};
        p.pressed = i % 2 == 0 ? 0x80 : 0;
        p.key = 17;
        p.position[0] = 274.0f + static_cast<float>(i);
        p.position[1] = 478.0f;
        p.position[2] = 435.0f - 10.0f * static_cast<float>(i);
        p.time = 1000.0f + times[i];
        demo.packets.push_back(p);
    }
    return demo;
}

// A started engine with a loaded world, driven one frame at a time through
// the clock and the input subsystem (which plays demos).
class Timedemos : public ::testing::Test {
protected:
    void SetUp() override {
        folder.CopyContent({"shaders.hlsl", "materials.hlsl", "noshader.jpg"});
        window = std::make_unique<HeadlessWindow>();  // its clock steps 10 ms
        ResetDemoState();
        ResetTimedemoState();
        m_invert.intValue = 0;
        PrintCapture quiet;
        ASSERT_EQ(g_videoSystem.Initialise(), 1);
        g_resourceManager.Initialise();
        g_gameSystem.InitGame();
        ASSERT_TRUE(BspBuilder::MinimalWorld().WriteTo(folder.Path() + "/maps/test.lmf"));
        Demo demo = BenchDemo({0.0f, 100.0f, 200.0f, 300.0f});
        ASSERT_TRUE(WriteDemoFile("bench.dem", &demo));
    }
    void TearDown() override {
        PrintCapture quiet;
        ResetTimedemoState();
        ResetDemoState();
        g_inputSystem.KeyEvent(17, 0, 0, 0, 0);  // a run stopped halfway may leave w held
        m_invert.intValue = 0;
        g_gameSystem.shutdown(0);
        g_videoSystem.shutdown(0);
        window.reset();
    }
    void Frame() {
        g_operatingSystem.frame();
        g_inputSystem.frame();
    }
    // Frames until the run is over; how many (at most limit).
    int FramesUntilDone(int limit = 200) {
        int frames = 0;
        while (TimedemoActive() && frames < limit) {
            Frame();
            ++frames;
        }
        return frames;
    }

    ScratchFolder folder;
    std::unique_ptr<HeadlessWindow> window;
    PrintCapture output;
};

}  // namespace

TEST_F(Timedemos, PlaysTheDemoOnceOnASixteenMillisecondStepAndReports) {
    for (int i = 0; i < 3; ++i) Frame();
    ASSERT_DOUBLE_EQ(g_operatingSystem.FrameTime(), 30.0);
    ASSERT_EQ(g_gameSystem.GetCurrentWorld(), nullptr);

    ExecuteLine("timedemo bench.dem");
    EXPECT_EQ(CurrentTimedemoState(), TimedemoState::kStarting);
    // The demo's world is loaded with it.
    ASSERT_NE(g_gameSystem.GetCurrentWorld(), nullptr);
    EXPECT_STREQ(g_gameSystem.GetCurrentWorld()->Name(), "maps/test.lmf");
    EXPECT_EQ(CurrentDemoMode(), kDemoIdle);

    Frame();  // settling: the clock has switched to its step
    EXPECT_DOUBLE_EQ(g_operatingSystem.FrameTime(), 46.0);
    EXPECT_EQ(CurrentDemoMode(), kDemoIdle);
    Frame();  // playback starts and the first packet is due at once
    EXPECT_EQ(CurrentTimedemoState(), TimedemoState::kRunning);
    EXPECT_EQ(CurrentDemoMode(), kDemoPlayback);
    EXPECT_EQ(CurrentDemo()->played, 1u);
    EXPECT_EQ(m_invert.intValue, 1);

    output.Clear();
    int frames = 0;
    while (TimedemoActive() && frames < 200) {
        Frame();
        ++frames;
        if (TimedemoActive()) {
            EXPECT_DOUBLE_EQ(g_operatingSystem.FrameDelta(), 16.0);
        }
    }
    // The last packet, 300 ms in, falls due 19 steps after the start (304
    // ms): twenty frames played, measured when the one after begins.
    EXPECT_EQ(frames, 20);
    EXPECT_EQ(CurrentTimedemoState(), TimedemoState::kFinished);
    ASSERT_GE(output.Lines().size(), 2u);
    EXPECT_EQ(output.Lines()[output.Lines().size() - 2], "Demo finished.");
    EXPECT_EQ(output.Last(), TimedemoResult());
    EXPECT_TRUE(std::regex_match(TimedemoResult(),
                                 std::regex(R"(timedemo: 20 frames, \d+\.\d{3} seconds, \d+\.\d fps, )"
                                            R"(frame ms min/median/max \d+\.\d\d/\d+\.\d\d/\d+\.\d\d)")))
        << TimedemoResult();
    EXPECT_EQ(g_camera.GetPosition().z, 405.0f);  // at the last packet
    EXPECT_EQ(m_invert.intValue, 0);               // as after any playback

    // The clock has its own source back and goes on from where it stood.
    const double stoodAt = g_operatingSystem.FrameTime();
    Frame();
    EXPECT_DOUBLE_EQ(g_operatingSystem.FrameDelta(), 10.0);
    EXPECT_DOUBLE_EQ(g_operatingSystem.FrameTime(), stoodAt + 10.0);
    EXPECT_EQ(TimedemoResult(), output.Last());  // printed once
}

TEST_F(Timedemos, PacketsFallInTheSameFramesWhateverTheClockReadBefore) {
    // Packets on the 16 ms grid, as demos recorded on the fixed step are:
    // each one due exactly on a frame, where a clock off the whole
    // millisecond would round the start and shift it by a frame.
    Demo grid = BenchDemo({0.0f, 96.0f, 192.0f, 288.0f});
    ASSERT_TRUE(WriteDemoFile("grid.dem", &grid));
    auto appliedAt = [&](double stepBefore, int framesBefore) {
        std::unique_ptr<TimeSource> own =
            g_operatingSystem.SwapTimeSource(std::make_unique<FixedStepTimeSource>(stepBefore), 0.0);
        for (int i = 0; i < framesBefore; ++i) Frame();
        EXPECT_TRUE(StartTimedemo("grid.dem"));
        std::vector<uint32_t> played;  // packets applied after each frame
        for (int i = 0; i < 100 && TimedemoActive(); ++i) {
            Frame();
            played.push_back(CurrentDemo()->played);
        }
        g_operatingSystem.SwapTimeSource(std::move(own), g_operatingSystem.FrameTime());
        return played;
    };
    const std::vector<uint32_t> whole = appliedAt(10.0, 3);      // clock at 30 ms
    const std::vector<uint32_t> fraction = appliedAt(7.3, 3);    // clock at 21.9 ms
    const std::vector<uint32_t> another = appliedAt(0.35, 11);   // clock at 3.85 ms
    EXPECT_EQ(whole, fraction);
    EXPECT_EQ(whole, another);
    // Settling, then the packets at steps 0, 6, 12 and 18 of playback.
    ASSERT_GE(whole.size(), 20u);
    EXPECT_EQ(whole[1], 1u);
    EXPECT_EQ(whole[6], 1u);
    EXPECT_EQ(whole[7], 2u);
    EXPECT_EQ(whole[13], 3u);
    EXPECT_EQ(whole[19], 4u);
}

TEST_F(Timedemos, RunsThatCannotStartSayWhyAndLeaveTheClockAlone) {
    Frame();
    ExecuteLine("timedemo");
    EXPECT_EQ(output.Last(), "Error: timedemo needs the path of a demo file.");
    ConsoleObject* command = FindConsoleObject("timedemo");
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->handler(0, 0, 0, nullptr), 0);  // from a key

    ExecuteLine("timedemo missing.dem");
    EXPECT_EQ(output.Last(), "timedemo: cannot read demo missing.dem");
    EXPECT_EQ(CurrentTimedemoState(), TimedemoState::kFailed);
    EXPECT_EQ(TimedemoResult(), output.Last());

    Demo empty = BenchDemo({});
    ASSERT_TRUE(WriteDemoFile("empty.dem", &empty));
    ExecuteLine("timedemo empty.dem");
    EXPECT_EQ(output.Last(), "timedemo: demo empty.dem holds no packets");

    Demo elsewhere = BenchDemo({0.0f, 16.0f});
    std::strcpy(elsewhere.world, "maps/none.lmf");
    ASSERT_TRUE(WriteDemoFile("elsewhere.dem", &elsewhere));
    ExecuteLine("timedemo elsewhere.dem");
    EXPECT_EQ(output.Last(), "timedemo: cannot load the demo's world maps/none.lmf");

    ASSERT_EQ(g_gameSystem.Map("maps/test.lmf"), 1);
    ExecuteLine("record");
    ASSERT_EQ(CurrentDemoMode(), kDemoRecording);
    ExecuteLine("timedemo bench.dem");
    EXPECT_EQ(output.Last(), "timedemo: stop recording first");
    EXPECT_EQ(CurrentDemoMode(), kDemoRecording);  // the recording goes on
    ExecuteLine("stop");

    Frame();
    EXPECT_DOUBLE_EQ(g_operatingSystem.FrameDelta(), 10.0);
    EXPECT_FALSE(TimedemoActive());
}

TEST_F(Timedemos, StoppingPlaybackEndsTheRunEarly) {
    ASSERT_TRUE(StartTimedemo("bench.dem"));
    EXPECT_FALSE(StartTimedemo("bench.dem"));  // one at a time; the first goes on
    EXPECT_EQ(output.Last(), "timedemo: a timedemo is running already");
    EXPECT_TRUE(TimedemoActive());
    for (int i = 0; i < 5; ++i) Frame();
    ExecuteLine("stop");
    Frame();
    EXPECT_EQ(CurrentTimedemoState(), TimedemoState::kStopped);
    EXPECT_EQ(output.Last(), "timedemo: stopped after 4 frames, before the demo's end");
    Frame();
    EXPECT_DOUBLE_EQ(g_operatingSystem.FrameDelta(), 10.0);

    // The engine stopping halfway ends a run the same way.
    ASSERT_TRUE(StartTimedemo("bench.dem"));
    Frame();
    StopTimedemo();
    EXPECT_EQ(output.Last(), "timedemo: stopped after 0 frames, before the demo's end");
    Frame();
    EXPECT_DOUBLE_EQ(g_operatingSystem.FrameDelta(), 10.0);
}

TEST_F(Timedemos, ADemoAlreadyPlayingGivesWay) {
    ASSERT_TRUE(LoadDemo("bench.dem"));
    Frame();
    PlayDemo();
    Frame();
    ASSERT_EQ(CurrentDemo()->played, 1u);
    ASSERT_TRUE(StartTimedemo("bench.dem"));
    EXPECT_EQ(FramesUntilDone(), 22);  // settling, twenty played, one to measure the last
    EXPECT_EQ(CurrentTimedemoState(), TimedemoState::kFinished);
}

TEST_F(Timedemos, BareNamesAreLookedForInTheDemosFolder) {
    folder.Write("demos/demo003.dem", "x");
    folder.Write("local.dem", "x");
    EXPECT_EQ(FindDemoFile("demo003"), "demos\\demo003.dem");
    EXPECT_EQ(FindDemoFile("demo003.dem"), "demos\\demo003.dem");
    EXPECT_EQ(FindDemoFile("local.dem"), "local.dem");       // a file that exists wins
    EXPECT_EQ(FindDemoFile("demos/demo003.dem"), "demos/demo003.dem");
    EXPECT_EQ(FindDemoFile("other/demo003"), "other/demo003");  // with a folder, as given
    EXPECT_EQ(FindDemoFile("nothing"), "nothing");
}
