#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "camera/camera_cvars.h"
#include "console/command_interpreter.h"
#include "engine/demo.h"
#include "engine/demo_mode.h"
#include "engine/game_system.h"
#include "input/input_system.h"
#include "support/bsp_builder.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/resource_manager.h"
#include "video/video_system.h"

namespace {

float FloatAt(const std::string& bytes, size_t offset, bool bigEndian) {
    uint8_t b[4];
    std::memcpy(b, bytes.data() + offset, 4);
    if (bigEndian) {
        std::swap(b[0], b[3]);
        std::swap(b[1], b[2]);
    }
    float value;
    std::memcpy(&value, b, 4);
    return value;
}

int32_t IntAt(const std::string& bytes, size_t offset, bool bigEndian) {
    float f = FloatAt(bytes, offset, bigEndian);
    int32_t value;
    std::memcpy(&value, &f, 4);
    return value;
}

Demo SampleDemo(int packets) {
    Demo demo;
    std::strcpy(demo.world, "maps/tower.lmf");
    demo.startPosition[0] = 274.0f;
    demo.startPosition[1] = 478.0f;
    demo.startPosition[2] = 435.0f;
    demo.startAngles[0] = -30.0f;
    demo.startAngles[1] = 10.0f;
    demo.captureStart = 1000.0f;
    demo.invertAtCapture = 1;
    for (int i = 0; i < packets; ++i) {
        DemoPacket p{};
        p.pressed = i % 2 == 0 ? 0x80 : 0;
        p.key = 17;
        p.dx = i;
        p.dy = -i;
        p.position[0] = 274.0f + i;
        p.position[1] = 478.0f;
        p.position[2] = 435.0f - 10.0f * i;
        p.angles[0] = -30.0f + i;
        p.time = 1000.0f + 100.0f * i;
        demo.packets.push_back(p);
    }
    return demo;
}

// A started engine without a world: window, clock, video device.
class Demos : public ::testing::Test {
protected:
    void SetUp() override {
        folder.CopyContent({"shaders.hlsl", "materials.hlsl", "noshader.jpg"});
        window = std::make_unique<HeadlessWindow>();
        ResetDemoState();
        m_invert.intValue = 0;
    }
    void TearDown() override {
        ResetDemoState();
        m_invert.intValue = 0;
        window.reset();
    }
    void Frames(int count) {
        for (int i = 0; i < count; ++i) {
            g_operatingSystem.frame();
            DemoPlaybackStep();
        }
    }
    ScratchFolder folder;
    std::unique_ptr<HeadlessWindow> window;
    PrintCapture output;
};

}  // namespace

TEST_F(Demos, EmptyDemoIsExactlyTheHeader) {
    Demo demo = SampleDemo(0);
    ASSERT_TRUE(WriteDemoFile("empty.dem", &demo));
    EXPECT_EQ(folder.Read("empty.dem").size(), kDemoHeaderSize);
    Demo back;
    ASSERT_TRUE(ReadDemoFile("empty.dem", &back));
    EXPECT_TRUE(back.packets.empty());
    EXPECT_EQ(output.Last(), "This demo was recorded on world maps/tower.lmf");
}

TEST_F(Demos, FileLayoutIsByteForByte) {
    folder.Write("demos/keep", "");
    Demo demo = SampleDemo(2);
    ASSERT_TRUE(WriteDemoFile("demos\\demo001.dem", &demo));
    const std::string bytes = folder.Read("demos/demo001.dem");
    ASSERT_EQ(bytes.size(), kDemoHeaderSize + 2 * 44);
    EXPECT_EQ(std::string(bytes.data(), 17), "demos\\demo001.dem");  // the name is the path
    EXPECT_EQ(std::string(bytes.data() + 80), "maps/tower.lmf");
    EXPECT_EQ(FloatAt(bytes, 340, true), 274.0f);
    EXPECT_EQ(FloatAt(bytes, 348, true), 435.0f);
    EXPECT_EQ(FloatAt(bytes, 352, true), -30.0f);
    EXPECT_EQ(FloatAt(bytes, 364, true), 1000.0f);
    EXPECT_EQ(IntAt(bytes, 368, false), 1);  // little-endian
    EXPECT_EQ(IntAt(bytes, 372, true), 2);
    const size_t second = kDemoHeaderSize + 44;
    EXPECT_EQ(IntAt(bytes, second + 0, false), 0);    // pressed, little-endian
    EXPECT_EQ(IntAt(bytes, second + 4, false), 17);   // key, little-endian
    EXPECT_EQ(IntAt(bytes, second + 8, true), 1);     // dx
    EXPECT_EQ(IntAt(bytes, second + 12, true), -1);   // dy
    EXPECT_EQ(FloatAt(bytes, second + 24, true), 425.0f);
    EXPECT_EQ(FloatAt(bytes, second + 40, true), 1100.0f);
}

TEST_F(Demos, SavedAndLoadedDemosAreTheSame) {
    Demo demo = SampleDemo(5);
    ASSERT_TRUE(WriteDemoFile("round.dem", &demo));
    Demo back;
    ASSERT_TRUE(ReadDemoFile("round.dem", &back));
    EXPECT_EQ(back.Name(), "round.dem");
    EXPECT_STREQ(back.world, "maps/tower.lmf");
    EXPECT_EQ(back.startPosition[2], 435.0f);
    EXPECT_EQ(back.startAngles[0], -30.0f);
    EXPECT_EQ(back.captureStart, 1000.0f);
    EXPECT_EQ(back.invertAtCapture, 1);
    ASSERT_EQ(back.packets.size(), 5u);
    EXPECT_EQ(std::memcmp(back.packets.data(), demo.packets.data(), 5 * sizeof(DemoPacket)), 0);
}

TEST_F(Demos, TruncatedFiles) {
    Demo demo = SampleDemo(3);
    ASSERT_TRUE(WriteDemoFile("full.dem", &demo));
    const std::string bytes = folder.Read("full.dem");
    // Inside the last packet: it loads, the missing bytes zero.
    folder.Write("short.dem", bytes.substr(0, bytes.size() - 10));
    Demo cut;
    ASSERT_TRUE(ReadDemoFile("short.dem", &cut));
    ASSERT_EQ(cut.packets.size(), 3u);
    EXPECT_EQ(cut.packets[2].angles[2], 0.0f);
    EXPECT_EQ(cut.packets[2].pressed, demo.packets[2].pressed);
    // Before a packet: that packet's index is reported.
    folder.Write("shorter.dem", bytes.substr(0, kDemoHeaderSize + 44));
    Demo partial;
    EXPECT_FALSE(ReadDemoFile("shorter.dem", &partial));
    EXPECT_EQ(output.Last(), "Error parsing demo packet 1 from demo file.");
    EXPECT_EQ(partial.packets.size(), 1u);
    // Inside the header.
    folder.Write("header.dem", bytes.substr(0, 350));
    Demo header;
    EXPECT_FALSE(ReadDemoFile("header.dem", &header));
    EXPECT_EQ(output.Last(), "Error parsing demo start angles from demo file.");
    EXPECT_FALSE(ReadDemoFile("missing.dem", &header));
    EXPECT_EQ(output.Last(), "Error trying to read file missing.dem");
}

TEST_F(Demos, HostileCountsDoNotExhaustMemory) {
    Demo demo = SampleDemo(1);
    ASSERT_TRUE(WriteDemoFile("one.dem", &demo));
    std::string bytes = folder.Read("one.dem");
    bytes[372] = '\x7f';  // count (big-endian) becomes about two billion
    folder.Write("huge.dem", bytes);
    Demo huge;
    EXPECT_FALSE(ReadDemoFile("huge.dem", &huge));
    EXPECT_EQ(huge.packets.size(), 1u);
}

TEST_F(Demos, LongNamesFillTheirFieldButAreNeverReadPastIt) {
    Demo demo = SampleDemo(0);
    const std::string path(90, 'n');
    ASSERT_TRUE(WriteDemoFile(path.c_str(), &demo));
    EXPECT_EQ(demo.Name(), std::string(80, 'n'));
    const std::string bytes = folder.Read(path);
    EXPECT_EQ(bytes.substr(0, 80), std::string(80, 'n'));
    EXPECT_EQ(bytes.substr(80, 14), "maps/tower.lmf");  // the world field begins right after
}

TEST_F(Demos, PlayNeedsAnIdleDemoWithPackets) {
    PlayDemo();
    EXPECT_EQ(CurrentDemoMode(), kDemoIdle);
    ExecuteLine("load nothing.dem");
    ASSERT_NE(CurrentDemo(), nullptr);
    output.Clear();
    PlayDemo();  // empty after a failed load
    EXPECT_EQ(CurrentDemoMode(), kDemoIdle);
    EXPECT_TRUE(output.Lines().empty());
}

TEST_F(Demos, RecordNeedsAWorld) {
    ExecuteLine("record");
    EXPECT_EQ(output.Last(), "You can only record a demo in a valid world.");
    EXPECT_EQ(CurrentDemo(), nullptr);
    EXPECT_EQ(CurrentDemoMode(), kDemoIdle);
}

TEST_F(Demos, LoadFromAKeyReportsAndDoesNothing) {
    ConsoleObject* load = FindConsoleObject("load");
    ASSERT_NE(load, nullptr);
    EXPECT_EQ(load->handler(0, 0, 0, nullptr), 0);
    EXPECT_EQ(output.Last(), "Error: load needs the path of a demo file.");
}

TEST_F(Demos, DuePacketsAreAppliedTogetherAndInvertIsRestored) {
    Demo sample = SampleDemo(4);
    ASSERT_TRUE(WriteDemoFile("play.dem", &sample));
    ExecuteLine("load play.dem");
    ASSERT_EQ(CurrentDemo()->packets.size(), 4u);
    Frames(1);
    PlayDemo();
    EXPECT_EQ(CurrentDemoMode(), kDemoPlayback);
    EXPECT_EQ(m_invert.intValue, 1);  // recorded with 1
    EXPECT_EQ(g_camera.GetPosition().x, 274.0f);
    // Packet times 1000..1300 from a capture start of 1000: due 0, 100, 200, 300 ms after play.
    DemoPlaybackStep();
    EXPECT_EQ(CurrentDemo()->played, 1u);
    Frames(21);  // 210 ms later: the next two fall due in one step
    EXPECT_EQ(CurrentDemo()->played, 3u);
    EXPECT_EQ(g_camera.GetPosition().z, 435.0f - 20.0f);
    output.Clear();
    Frames(10);
    EXPECT_EQ(CurrentDemo()->played, 4u);
    EXPECT_EQ(output.Last(), "Demo finished.");
    EXPECT_EQ(CurrentDemoMode(), kDemoIdle);
    EXPECT_EQ(m_invert.intValue, 0);
}

TEST_F(Demos, PacketsFromNowhereLeaveTheCameraWhereItIs) {
    Demo sample = SampleDemo(5);  // packet i: x = 274 + i, z = 435 - 10 i, yaw = i - 30
    sample.packets[1].position[1] = std::numeric_limits<float>::quiet_NaN();  // position refused
    sample.packets[2].angles[1] = std::numeric_limits<float>::infinity();      // angles refused
    sample.packets[3].position[0] = 3.0e9f;                                     // beyond any world
    sample.packets[4].angles[0] = -1.0e30f;
    ASSERT_TRUE(WriteDemoFile("wild.dem", &sample));
    ExecuteLine("load wild.dem");
    Frames(1);
    PlayDemo();
    DemoPlaybackStep();  // packet 0
    EXPECT_EQ(g_camera.GetPosition().x, 274.0f);
    Frames(10);  // packet 1: angles only
    EXPECT_EQ(g_camera.GetPosition().x, 274.0f);
    EXPECT_NEAR(g_camera.GetAngles().yaw, -29.0f, 1e-3f);
    Frames(10);  // packet 2: position only
    EXPECT_EQ(g_camera.GetPosition().x, 276.0f);
    EXPECT_NEAR(g_camera.GetAngles().yaw, -29.0f, 1e-3f);
    Frames(10);  // packet 3: angles only
    EXPECT_EQ(g_camera.GetPosition().x, 276.0f);
    EXPECT_NEAR(g_camera.GetAngles().yaw, -27.0f, 1e-3f);
    Frames(10);  // packet 4: position only
    EXPECT_EQ(g_camera.GetPosition().x, 278.0f);
    EXPECT_NEAR(g_camera.GetAngles().yaw, -27.0f, 1e-3f);
    EXPECT_EQ(CurrentDemo()->played, 5u);
}

TEST_F(Demos, StopRestoresInvertToo) {
    Demo sample = SampleDemo(2);
    ASSERT_TRUE(WriteDemoFile("stop.dem", &sample));
    ExecuteLine("load stop.dem");
    Frames(1);
    ExecuteLine("play");
    EXPECT_EQ(m_invert.intValue, 1);
    ExecuteLine("stop");
    EXPECT_EQ(m_invert.intValue, 0);
    EXPECT_EQ(CurrentDemo()->played, 0u);
}

// Recording, in a world loaded the way the map command loads one.
TEST_F(Demos, RecordCaptureSaveOncePerSecond) {
    folder.Write("demos/keep", "");
    ASSERT_EQ(g_videoSystem.Initialise(), 1);
    g_resourceManager.Initialise();
    g_gameSystem.InitGame();
    ASSERT_TRUE(BspBuilder::MinimalWorld().WriteTo(folder.Path() + "/maps/test.lmf"));
    ASSERT_EQ(g_gameSystem.Map("maps/test.lmf"), 1);
    g_camera.SetPosition(D3DXVECTOR3(1.0f, 2.0f, 3.0f));
    Frames(1);
    ExecuteLine("record");
    ASSERT_EQ(CurrentDemoMode(), kDemoRecording);
    EXPECT_STREQ(CurrentDemo()->world, "maps/test.lmf");
    g_inputSystem.KeyEvent(17, 0x80, 0, 0, 0);
    g_inputSystem.KeyEvent(0, 1, 0, 0, 0);  // invalid codes are recorded too
    ASSERT_EQ(CurrentDemo()->packets.size(), 2u);
    EXPECT_EQ(CurrentDemo()->packets[0].position[2], 3.0f);
    EXPECT_EQ(CurrentDemo()->packets[1].key, 0);

    output.Clear();
    ExecuteLine("save");
    ExecuteLine("save");  // within a second: nothing
    int saves = 0;
    for (const std::string& line : output.Lines()) saves += line == "Saving a demo to disk...Please wait" ? 1 : 0;
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(output.Contains("Finished writing demo demos\\demo001.dem (88 bytes)"));
    EXPECT_EQ(CurrentDemo()->unsaved, 0);
    EXPECT_EQ(CurrentDemoMode(), kDemoRecording);  // saving does not stop recording
    Frames(101);
    ExecuteLine("save");
    saves = 0;
    for (const std::string& line : output.Lines()) saves += line == "Saving a demo to disk...Please wait" ? 1 : 0;
    EXPECT_EQ(saves, 2);

    // A save that cannot be written leaves the demo unsaved.
    CurrentDemo()->unsaved = 1;  // as after recording anew
    std::filesystem::remove_all(folder.Path() + "/demos");
    folder.Write("demos", "a file where the folder was");
    Frames(101);
    output.Clear();
    ExecuteLine("save");
    EXPECT_TRUE(output.Contains("Error writing demo file demos\\demo001.dem"));
    EXPECT_EQ(CurrentDemo()->unsaved, 1);
    g_gameSystem.shutdown(0);
    g_videoSystem.shutdown(0);
}

namespace {

// Demos with the game subsystem up and two small worlds on disk.
class DemosAndWorlds : public Demos {
protected:
    void SetUp() override {
        Demos::SetUp();
        folder.Write("demos/keep", "");
        ASSERT_EQ(g_videoSystem.Initialise(), 1);
        g_resourceManager.Initialise();
        g_gameSystem.InitGame();
        ASSERT_TRUE(BspBuilder::MinimalWorld().WriteTo(folder.Path() + "/maps/test.lmf"));
        ASSERT_TRUE(BspBuilder::MinimalWorld().WriteTo(folder.Path() + "/maps/other.lmf"));
        ASSERT_EQ(g_gameSystem.Map("maps/test.lmf"), 1);
    }
    void TearDown() override {
        g_inputSystem.ReleaseHeldKeys();
        g_gameSystem.shutdown(0);
        g_videoSystem.shutdown(0);
        Demos::TearDown();
    }
    // Plays a demo recorded on world.
    void PlayDemoOf(const char* world) {
        Demo sample = SampleDemo(4);
        std::strcpy(sample.world, world);
        ASSERT_TRUE(WriteDemoFile("play.dem", &sample));
        ExecuteLine("load play.dem");
        Frames(1);
        PlayDemo();
        DemoPlaybackStep();  // packet 0 presses a key
        ASSERT_EQ(CurrentDemoMode(), kDemoPlayback);
    }
    int Count(const std::string& line) const {
        int n = 0;
        for (const std::string& printed : output.Lines()) n += printed == line ? 1 : 0;
        return n;
    }
};

}  // namespace

TEST_F(DemosAndWorlds, LoadingAnotherWorldStopsTheDemoOfTheOldOne) {
    PlayDemoOf("maps/test.lmf");
    ASSERT_FALSE(g_inputSystem.HeldKeys().empty());

    // The same world again, however spelt, and a world that fails to load:
    // the demo is still in its world.
    ASSERT_EQ(g_gameSystem.Map("MAPS\\Test.lmf"), 1);
    EXPECT_EQ(g_gameSystem.Map("maps/nothing.lmf"), 0);
    EXPECT_EQ(CurrentDemoMode(), kDemoPlayback);
    EXPECT_TRUE(CurrentDemoInItsWorld());

    output.Clear();
    ASSERT_EQ(g_gameSystem.Map("maps/other.lmf"), 1);
    EXPECT_EQ(CurrentDemoMode(), kDemoIdle);
    EXPECT_FALSE(CurrentDemoInItsWorld());
    EXPECT_EQ(output.Last(), "Demo stopped: it was recorded in maps/test.lmf");
    EXPECT_TRUE(g_inputSystem.HeldKeys().empty());  // nothing of the demo flies on
    EXPECT_EQ(m_invert.intValue, 0);                 // as after stop
    const D3DXVECTOR3 at = g_camera.GetPosition();
    Frames(50);
    EXPECT_EQ(g_camera.GetPosition().x, at.x);
    EXPECT_EQ(g_camera.GetPosition().z, at.z);

    // Back in its world, the demo is its world's again.
    ASSERT_EQ(g_gameSystem.Map("maps/test.lmf"), 1);
    EXPECT_TRUE(CurrentDemoInItsWorld());
}

TEST_F(DemosAndWorlds, AnIdleDemoOfAnotherWorldIsOnlyMarked) {
    Demo sample = SampleDemo(2);
    std::strcpy(sample.world, "maps/test.lmf");
    ASSERT_TRUE(WriteDemoFile("idle.dem", &sample));
    ExecuteLine("load idle.dem");
    ASSERT_TRUE(CurrentDemoInItsWorld());
    output.Clear();
    ExecuteLine("map maps/other.lmf");
    EXPECT_FALSE(CurrentDemoInItsWorld());
    EXPECT_EQ(Count("Demo stopped: it was recorded in maps/test.lmf"), 0);

    // A demo that names no world belongs wherever it is.
    std::memset(sample.world, 0, sizeof sample.world);
    ASSERT_TRUE(WriteDemoFile("nowhere.dem", &sample));
    ExecuteLine("load nowhere.dem");
    ExecuteLine("map maps/test.lmf");
    EXPECT_TRUE(CurrentDemoInItsWorld());
}

TEST_F(DemosAndWorlds, LoadingAnotherWorldEndsARecording) {
    Frames(1);
    output.Clear();
    ExecuteLine("record");
    EXPECT_EQ(output.Lines(),
              (std::vector<std::string>{"Recording a demo in maps/test.lmf (stop ends it, save writes it)"}));
    g_inputSystem.KeyEvent(17, 0x80, 0, 0, 0);
    ExecuteLine("map maps/other.lmf");
    EXPECT_EQ(CurrentDemoMode(), kDemoIdle);
    EXPECT_EQ(output.Last(), "Recording stopped: the demo was recorded in maps/test.lmf");
    ASSERT_NE(CurrentDemo(), nullptr);
    EXPECT_EQ(CurrentDemo()->packets.size(), 1u);  // kept, to be saved
}

TEST_F(DemosAndWorlds, RecordStopAndPlaySayWhatTheyDid) {
    Frames(1);
    ExecuteLine("record");
    g_inputSystem.KeyEvent(17, 0x80, 0, 0, 0);
    Frames(2);
    g_inputSystem.KeyEvent(17, 0, 0, 0, 0);
    output.Clear();
    ExecuteLine("stop");
    ExecuteLine("stop");  // idle: nothing to say
    ExecuteLine("play");
    ExecuteLine("stop");
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Recording stopped: 2 packets",
                                                        "Playing back demo of size 88 bytes", "Playback stopped"}));
}

TEST_F(DemosAndWorlds, SaveNamesItsFileAndNeverReplacesAShippedDemoSilently) {
    Frames(1);
    ExecuteLine("record");
    g_inputSystem.KeyEvent(17, 0x80, 0, 0, 0);
    ExecuteLine("stop");

    output.Clear();
    ExecuteLine("save mine");
    EXPECT_TRUE(folder.Exists("demos/mine.dem"));
    EXPECT_EQ(output.Last(), "Demo saved to demos\\mine.dem");
    EXPECT_TRUE(output.Contains("Finished writing demo demos\\mine.dem (44 bytes)"));
    EXPECT_EQ(CurrentDemo()->unsaved, 0);
    ExecuteLine("save other");  // within a second: held back, and said so
    EXPECT_EQ(output.Last(), "Demo not saved to demos\\other.dem: the last save was less than a second ago");
    EXPECT_FALSE(folder.Exists("demos/other.dem"));
    Demo back;
    ASSERT_TRUE(ReadDemoFile("demos/mine.dem", &back));
    EXPECT_STREQ(back.world, "maps/test.lmf");
    EXPECT_EQ(back.packets.size(), 1u);

    // Again a second later: the file was there.
    Frames(101);
    output.Clear();
    ExecuteLine("save mine.dem");
    EXPECT_EQ(output.Last(), "Demo saved to demos\\mine.dem, over the demo that was there");

    // The fixed name over a shipped demo says so.
    folder.Write("demos/demo001.dem", "shipped");
    Frames(101);
    output.Clear();
    ExecuteLine("save");
    EXPECT_EQ(output.Last(),
              "Demo saved to demos\\demo001.dem, over the demo shipped there (the next build puts it back; "
              "save NAME writes demos\\NAME.dem)");

    // A fresh fixed file is simply reported.
    std::filesystem::remove(folder.Path() + "/demos/demo001.dem");
    Frames(101);
    output.Clear();
    ExecuteLine("save");
    EXPECT_EQ(output.Last(), "Demo saved to demos\\demo001.dem");
}

TEST_F(DemosAndWorlds, SaveRefusesNamesThatAreNotPlainFileNames) {
    Frames(1);
    ExecuteLine("record");
    ExecuteLine("stop");
    for (const char* name : {"../escape", "..", "a/b", "a\\b", ".hidden", "trailing.", "\"\"", "a*b",
                             "0123456789012345678901234567890123456789012345678901234567890123456789"}) {
        output.Clear();
        ExecuteLine((std::string("save ") + name).c_str());
        EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Error: save NAME takes a plain name (letters, digits, "
                                                            "\"-\", \"_\") and writes demos\\NAME.dem"}))
            << name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.Path() + "/escape.dem"));
    EXPECT_EQ(NamedDemoFile("v1.2_take-3"), "demos\\v1.2_take-3.dem");
    EXPECT_EQ(NamedDemoFile("Take.DEM"), "demos\\Take.dem");
    EXPECT_TRUE(IsShippedDemoFile("demos/DEMO002.dem"));
    EXPECT_TRUE(IsShippedDemoFile("./demos\\demo003.dem"));
    EXPECT_FALSE(IsShippedDemoFile("demos\\demo004.dem"));
    EXPECT_FALSE(IsShippedDemoFile("other/demo001.dem"));
}

TEST_F(DemosAndWorlds, AQuotedDemoPathMayHoldSpaces) {
    Demo sample = SampleDemo(3);
    folder.Write("my demos/keep", "");
    ASSERT_TRUE(WriteDemoFile("my demos/a b.dem", &sample));
    ExecuteLine("load \"my demos/a b.dem\"");
    ASSERT_NE(CurrentDemo(), nullptr);
    EXPECT_EQ(CurrentDemo()->packets.size(), 3u);
    EXPECT_EQ(output.Last(), "This demo was recorded on world maps/tower.lmf");
}
