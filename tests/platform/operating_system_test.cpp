#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "platform/operating_system.h"
#include "support/fake_backend.h"
#include "support/test_support.h"

namespace {

// A private instance name, so tests never meet a running engine's lock.
class InstanceName_ {
public:
    InstanceName_() {
        name_ = "osprel-test-" + std::to_string(::getpid());
        ::setenv("OSPREL_INSTANCE_NAME", name_.c_str(), 1);
    }
    ~InstanceName_() { ::unsetenv("OSPREL_INSTANCE_NAME"); }
    const std::string& Name() const { return name_; }

private:
    std::string name_;
};

class OperatingSystem : public ::testing::Test {
protected:
    void SetUp() override { ClearPendingLines(); }
    void TearDown() override { ClearPendingLines(); }

    void Start(COperatingSystem* os, double stepMs = 10.0) {
        os->Start(&backend, std::make_unique<FixedStepTimeSource>(stepMs));
    }

    InstanceName_ instance;
    FakeBackend backend;
    PrintCapture output;
};

}  // namespace

TEST_F(OperatingSystem, ScreenOfExactly640By480Passes) {
    backend.screen.width = 640;
    backend.screen.height = 480;
    COperatingSystem os(false);
    Start(&os);
    EXPECT_EQ(os.finished, 0);
    EXPECT_TRUE(backend.boxes.empty());
}

TEST_F(OperatingSystem, ScreenNarrowerThan640Stops) {
    backend.screen.width = 639;
    backend.screen.height = 1000;
    COperatingSystem os(false);
    Start(&os);
    EXPECT_EQ(os.finished, 1);
    EXPECT_EQ(output.Last(), "[Error] Error: This program requires a resolution of 640x480 or higher");
    ASSERT_EQ(backend.boxes.size(), 1u);
    EXPECT_EQ(backend.boxes[0].rfind("Osprel Error: ", 0), 0u);
}

TEST_F(OperatingSystem, MouseWarningsDoNotStopLoading) {
    backend.screen.mousePresent = false;
    backend.screen.mouseButtons = 0x102;  // only the low 8 bits count
    COperatingSystem os(false);
    Start(&os);
    EXPECT_EQ(os.finished, 0);
    ASSERT_EQ(output.Lines().size(), 2u);
    EXPECT_EQ(output.Lines()[0].rfind("[Warning] OS: Mouse not detected\n", 0), 0u);
    EXPECT_EQ(output.Lines()[1].rfind("[Warning] Less than 3 buttons detected on mouse.\n", 0), 0u);
}

TEST_F(OperatingSystem, SecondCopyIsStoppedByTheInstanceGuard) {
    InstanceLock running;
    ASSERT_EQ(running.Acquire(instance.Name()), InstanceLock::Result::kAcquired);
    COperatingSystem os(false);
    Start(&os);
    EXPECT_TRUE(os.InstanceGuardFailed());
    EXPECT_EQ(os.finished, 1);
    EXPECT_EQ(output.Last(),
              "[Error] Project Osprel 2.0 is already running on this system\n"
              "Only one instance of Osprel can be run at a time.");

    // Once the first copy is gone the name is free again.
    running.Release();
    COperatingSystem again(false);
    Start(&again);
    EXPECT_FALSE(again.InstanceGuardFailed());
}

TEST_F(OperatingSystem, FramesPerSecondIsAveragedOverHundredFrames) {
    COperatingSystem os(false);
    Start(&os, 10.0);
    WindowSettings settings;
    settings.fullscreen = 0;
    ASSERT_EQ(os.CreateMainWindow(&settings), 1);
    for (int i = 0; i < 99; ++i) os.frame();
    EXPECT_EQ(os.FramesPerSecond(), 0.0f);
    EXPECT_DOUBLE_EQ(os.FrameTime(), 990.0);
    EXPECT_DOUBLE_EQ(os.FrameDelta(), 10.0);
    os.frame();  // the hundredth frame averages over the time up to the 99th
    EXPECT_FLOAT_EQ(os.FramesPerSecond(), 100.0f / 0.99f);
    for (int i = 0; i < 100; ++i) os.frame();
    EXPECT_FLOAT_EQ(os.FramesPerSecond(), 100.0f);
}

TEST_F(OperatingSystem, ClockStandsStillWithoutAWindow) {
    COperatingSystem os(false);
    Start(&os, 10.0);
    for (int i = 0; i < 5; ++i) os.frame();
    EXPECT_EQ(os.FrameTime(), 0.0);
    EXPECT_EQ(os.FrameDelta(), 0.0);
    EXPECT_EQ(os.WindowWidth(), 0);
    EXPECT_EQ(os.WindowTitle(), nullptr);
    EXPECT_EQ(backend.pumps, 5);
}

TEST_F(OperatingSystem, SwappedTimeSourcesCarryTheClockOnWithoutAJump) {
    COperatingSystem os(false);
    Start(&os, 10.0);
    WindowSettings settings;
    settings.fullscreen = 0;
    ASSERT_EQ(os.CreateMainWindow(&settings), 1);
    for (int i = 0; i < 3; ++i) os.frame();
    ASSERT_DOUBLE_EQ(os.FrameTime(), 30.0);

    // A fixed 16 ms step that goes on from 31 ms (its own reading starts at 0).
    std::unique_ptr<TimeSource> previous = os.SwapTimeSource(std::make_unique<FixedStepTimeSource>(16.0), 31.0);
    ASSERT_NE(previous, nullptr);
    EXPECT_DOUBLE_EQ(os.FrameTime(), 30.0);  // the frame under way keeps its time
    os.frame();
    EXPECT_DOUBLE_EQ(os.FrameTime(), 47.0);
    EXPECT_DOUBLE_EQ(os.FrameDelta(), 17.0);
    os.frame();
    EXPECT_DOUBLE_EQ(os.FrameTime(), 63.0);
    EXPECT_DOUBLE_EQ(os.FrameDelta(), 16.0);

    // The replaced source comes back where the clock stands, though its own
    // reading lies far behind.
    std::unique_ptr<TimeSource> fixed = os.SwapTimeSource(std::move(previous), os.FrameTime());
    os.frame();
    EXPECT_DOUBLE_EQ(os.FrameTime(), 73.0);
    EXPECT_DOUBLE_EQ(os.FrameDelta(), 10.0);
    EXPECT_DOUBLE_EQ(fixed->Now(), 32.0);  // the step source stopped where it was left
}

TEST_F(OperatingSystem, PendingLinesAreShownOnceWhenTheConsoleOpens) {
    COperatingSystem os(false);
    Start(&os);
    PrintLine("before the window");
    WindowSettings settings;
    settings.debugConsole = 1;
    settings.width = 1024;
    ASSERT_EQ(os.CreateMainWindow(&settings), 1);
    EXPECT_EQ(backend.consolesCreated, 1);
    EXPECT_EQ(os.Console().Output(), "before the window\n");
    EXPECT_EQ(PendingLineCount(), 0);
    PrintLine("after");
    EXPECT_EQ(os.Console().Output(), "before the window\nafter\n");
    EXPECT_EQ(os.WindowWidth(), 1024);
    EXPECT_STREQ(os.WindowTitle(), "Osprel 2.0b");
    EXPECT_TRUE(os.Console().Visible());
    // The tap saw the replayed line only once, when it was printed.
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"before the window", "after"}));
    os.Detach();
}

TEST_F(OperatingSystem, WithoutTheConsoleLinesStayPending) {
    COperatingSystem os(false);
    Start(&os);
    WindowSettings settings;
    settings.debugConsole = 0;
    ASSERT_EQ(os.CreateMainWindow(&settings), 1);
    PrintLine("kept");
    EXPECT_EQ(backend.consolesCreated, 0);
    EXPECT_EQ(PendingLineCount(), 1);
    os.Detach();
}

TEST_F(OperatingSystem, WindowCreationRefusalsAndFailures) {
    COperatingSystem os(false);
    Start(&os);
    EXPECT_EQ(os.CreateMainWindow(nullptr), 0);
    EXPECT_EQ(output.Last(), "[Error] Unable to create a window that is already initialized");

    WindowSettings offScreen;
    offScreen.x = 1920;  // past the screen's last column: refused without a word
    output.Clear();
    EXPECT_EQ(os.CreateMainWindow(&offScreen), 0);
    EXPECT_TRUE(output.Lines().empty());
    EXPECT_TRUE(backend.created.empty());

    backend.windowsWork = false;
    WindowSettings settings;
    EXPECT_EQ(os.CreateMainWindow(&settings), 0);
    EXPECT_EQ(output.Last(), "[Error] Window Creation Failure");
    EXPECT_EQ(os.finished, 1);
}

TEST_F(OperatingSystem, SecondWindowIsRefused) {
    COperatingSystem os(false);
    Start(&os);
    WindowSettings settings;
    ASSERT_EQ(os.CreateMainWindow(&settings), 1);
    EXPECT_EQ(os.CreateMainWindow(&settings), 0);
    EXPECT_EQ(output.Last(), "[Error] Unable to create a window that is already initialized");
    os.Detach();
}

TEST_F(OperatingSystem, CloseBoxWarnsAndEndsTheRun) {
    COperatingSystem os(false);
    Start(&os);
    WindowSettings settings;
    settings.debugConsole = 1;
    ASSERT_EQ(os.CreateMainWindow(&settings), 1);
    backend.closeOnNextPump = true;
    EXPECT_EQ(os.frame(), 1);
    EXPECT_EQ(output.Last(), "[Warning] Note this is not the best way to shut down");
    EXPECT_EQ(backend.consolesDestroyed, 1);
    EXPECT_EQ(backend.mainDestroyed, 1);
    EXPECT_FALSE(os.WindowExists());
    // Shutting down afterwards finds nothing left to destroy.
    os.shutdown(0);
    EXPECT_EQ(backend.mainDestroyed, 1);
}

TEST(InstanceLockTest, LockPathLivesInTheRuntimeFolder) {
    const std::string path = InstanceLock::PathFor("Project Osprel 2.0");
    EXPECT_EQ(path.substr(path.size() - std::string("/Project Osprel 2.0.lock").size()),
              "/Project Osprel 2.0.lock");
    EXPECT_EQ(InstanceLock::PathFor("a/b").find("a/b"), std::string::npos);
}
