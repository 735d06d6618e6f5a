#include <gtest/gtest.h>

#include <vector>

#include "base/subsystem.h"
#include "engine/main_loop.h"
#include "support/test_support.h"

namespace {

// Counts frames; asks to stop at a chosen frame.
class Counter : public Subsystem {
public:
    explicit Counter(int64_t stopAt = -1) : stopAt_(stopAt) { Setup("Counter"); }
    ~Counter() override { Teardown(); }
    int32_t frame() override { return ++frames == stopAt_ ? 1 : 0; }
    int64_t frames = 0;

private:
    int64_t stopAt_;
};

// A demo of a fixed number of packets, one applied per frame.
class FakeDemo : public DemoLoopPlayer {
public:
    FakeDemo(Counter* counter, int64_t packets) : counter_(counter), packets_(packets) {}
    bool HasPackets() const override { return packets_ > 0; }
    void Play() override {
        ++plays;
        startFrame_ = counter_->frames;
    }
    void Stop() override { ++stops; }
    bool Playing() const override { return counter_->frames - startFrame_ < packets_; }
    // Another world is loaded from this frame on (-1: never).
    bool InItsWorld() const override { return worldLeftAt < 0 || counter_->frames < worldLeftAt; }
    int plays = 0, stops = 0;
    int64_t worldLeftAt = -1;

private:
    Counter* counter_;
    int64_t packets_;
    int64_t startFrame_ = 0;
};

struct Rig {
    explicit Rig(int64_t stopAt) : counter(stopAt) { registry.Append(&counter); }
    ~Rig() { registry.RemoveByName("Counter"); }
    Counter counter;
    SubsystemRegistry registry;
};

}  // namespace

TEST(InteractiveLoop, RunsUntilAFrameAsksToStop) {
    Rig rig(5);
    CBaseEngine engine(&rig.registry);
    FrameDriver frames(&engine, -1);
    EXPECT_EQ(RunInteractiveLoop(&frames), 0);
    EXPECT_EQ(rig.counter.frames, 5);
}

TEST(InteractiveLoop, StopsAtTheFrameLimit) {
    Rig rig(-1);
    CBaseEngine engine(&rig.registry);
    FrameDriver frames(&engine, 3);
    EXPECT_EQ(RunInteractiveLoop(&frames), 0);
    EXPECT_EQ(rig.counter.frames, 3);
    EXPECT_TRUE(frames.Exhausted());
}

TEST(DemoLoop, RestartsTheDemoAfterItsLastPacket) {
    Rig rig(-1);
    CBaseEngine engine(&rig.registry);
    FakeDemo demo(&rig.counter, 4);
    FrameDriver frames(&engine, 1 + 4 * 3);
    PrintCapture output;
    EXPECT_EQ(RunDemoLoop(&frames, &demo), 0);
    EXPECT_EQ(rig.counter.frames, 13);
    EXPECT_EQ(demo.stops, 3);
    EXPECT_EQ(demo.plays, 4);  // the fourth pass was cut short by the limit
    EXPECT_TRUE(output.Lines().empty());
}

TEST(DemoLoop, QuitDuringTheDemoIsReportedOnce) {
    Rig rig(7);
    CBaseEngine engine(&rig.registry);
    FakeDemo demo(&rig.counter, 4);
    FrameDriver frames(&engine, -1);
    PrintCapture output;
    EXPECT_EQ(RunDemoLoop(&frames, &demo), 0);
    EXPECT_EQ(rig.counter.frames, 7);
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Error during osprel frame"}));
}

// Runs the engine's shutdown pass from its frame, as quit does.
class Quitter : public Subsystem {
public:
    Quitter(CBaseEngine* engine, int64_t quitAt) : engine_(engine), quitAt_(quitAt) { Setup("Quitter"); }
    ~Quitter() override { Teardown(); }
    int32_t frame() override {
        if (++frames_ == quitAt_) engine_->shutdown(0);
        return 0;
    }

private:
    CBaseEngine* engine_;
    int64_t quitAt_;
    int64_t frames_ = 0;
};

TEST(DemoLoop, QuitDuringTheDemoSaysThatNothingFailed) {
    Rig rig(-1);
    CBaseEngine engine(&rig.registry);
    Quitter quitter(&engine, 6);
    rig.registry.Append(&quitter);
    FakeDemo demo(&rig.counter, 4);
    FrameDriver frames(&engine, -1);
    PrintCapture output;
    EXPECT_EQ(RunDemoLoop(&frames, &demo), 0);
    rig.registry.RemoveByName("Quitter");
    EXPECT_EQ(rig.counter.frames, 6);
    EXPECT_EQ(demo.plays, 2);
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{
                                  "Error during osprel frame",
                                  "The demo loop ended because quit was asked for; nothing failed."}));
}

TEST(DemoLoop, ADemoThatPlaysNothingFallsBackToTheInteractiveLoop) {
    Rig rig(-1);
    CBaseEngine engine(&rig.registry);
    FakeDemo demo(&rig.counter, 0);
    FrameDriver frames(&engine, 10);
    EXPECT_EQ(RunDemoLoop(&frames, &demo), 0);
    EXPECT_EQ(rig.counter.frames, 10);
    EXPECT_EQ(demo.plays, 1);
}

TEST(DemoLoop, ADemoWhoseWorldWasReplacedIsNotTakenUpAgain) {
    // Replaced during the first pass: that pass ends, the rest is interactive.
    {
        Rig rig(-1);
        CBaseEngine engine(&rig.registry);
        FakeDemo demo(&rig.counter, 4);
        demo.worldLeftAt = 3;
        FrameDriver frames(&engine, 20);
        EXPECT_EQ(RunDemoLoop(&frames, &demo), 0);
        EXPECT_EQ(rig.counter.frames, 20);
        EXPECT_EQ(demo.plays, 1);
        EXPECT_EQ(demo.stops, 1);
    }
    // Replaced before the loop began (a map line given at start-up): no pass.
    {
        Rig rig(-1);
        CBaseEngine engine(&rig.registry);
        FakeDemo demo(&rig.counter, 4);
        demo.worldLeftAt = 0;
        FrameDriver frames(&engine, 20);
        EXPECT_EQ(RunDemoLoop(&frames, &demo), 0);
        EXPECT_EQ(rig.counter.frames, 20);
        EXPECT_EQ(demo.plays, 0);
    }
}

namespace {

// Whether the loop under test should go on: for five frames of the counter.
Counter* s_watched = nullptr;
bool FewerThanFiveFrames() { return s_watched->frames < 5; }

}  // namespace

TEST(RunWhile, StopsWhenTheConditionFailsAFrameAsksOrTheLimitIsReached) {
    {
        Rig rig(-1);
        CBaseEngine engine(&rig.registry);
        FrameDriver frames(&engine, -1);
        s_watched = &rig.counter;
        EXPECT_EQ(RunWhile(&frames, FewerThanFiveFrames), 0);
        EXPECT_EQ(rig.counter.frames, 5);
    }
    {
        Rig rig(3);  // the third frame asks to stop
        CBaseEngine engine(&rig.registry);
        FrameDriver frames(&engine, -1);
        s_watched = &rig.counter;
        RunWhile(&frames, FewerThanFiveFrames);
        EXPECT_EQ(rig.counter.frames, 3);
    }
    {
        Rig rig(-1);
        CBaseEngine engine(&rig.registry);
        FrameDriver frames(&engine, 2);
        s_watched = &rig.counter;
        RunWhile(&frames, FewerThanFiveFrames);
        EXPECT_EQ(rig.counter.frames, 2);
        EXPECT_TRUE(frames.Exhausted());
    }
    s_watched = nullptr;
}
