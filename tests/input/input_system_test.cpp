#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "console/command_interpreter.h"
#include "console/config_script.h"
#include "input/game_console.h"
#include "input/input_system.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"

namespace {

// A keyboard and mouse whose events the test lines up.
class TestDevice : public InputDevice {
public:
    struct Shared {
        std::deque<KeyboardEvent> keys;
        std::deque<std::pair<int32_t, int32_t>> moves;
        bool failOpen = false;
        bool textInput = false;  // as the input subsystem last set it
    };
    explicit TestDevice(Shared* shared) : shared_(shared) {}
    bool Open(std::string* error) override {
        if (shared_->failOpen) *error = "IN Error: Failed to create keyboard";
        return !shared_->failOpen;
    }
    void Close() override {}
    void ReadMouse(int32_t* dx, int32_t* dy) override {
        *dx = *dy = 0;
        if (shared_->moves.empty()) return;
        *dx = shared_->moves.front().first;
        *dy = shared_->moves.front().second;
        shared_->moves.pop_front();
    }
    int ReadKeyboard(KeyboardEvent* events, int max) override {
        int n = 0;
        while (n < max && !shared_->keys.empty()) {
            events[n++] = shared_->keys.front();
            shared_->keys.pop_front();
        }
        return n;
    }
    void SetTextInput(bool on) override { shared_->textInput = on; }

private:
    Shared* shared_;
};

// Every key event the input subsystem sees.
struct Seen {
    uint8_t code;
    int32_t pressed, first, second;
};
std::vector<Seen> g_seen;
void Capture(uint8_t code, int32_t pressed, int32_t first, int32_t second, int32_t) {
    g_seen.push_back({code, pressed, first, second});
}

struct ProbeCall {
    int32_t a, b, c;
    bool nullArguments;
};
std::vector<ProbeCall> g_calls;
int32_t Probe(int32_t a, int32_t b, int32_t c, const ConsoleArgument* argv) {
    g_calls.push_back({a, b, c, argv == nullptr});
    return 1;
}
// Global like every console object: key bindings keep pointing at it after
// the test that bound it.
ConsoleCommand g_probe("zz_probe", Probe);
std::vector<ProbeCall> g_onceCalls;
int32_t OnceProbe(int32_t a, int32_t b, int32_t c, const ConsoleArgument* argv) {
    g_onceCalls.push_back({a, b, c, argv == nullptr});
    return 1;
}
ConsoleCommand g_onceProbe("zz_once", OnceProbe, KeyRepeat::kOncePerPress);

// What the demo hooks saw: each key event with how many events the test's
// capture had seen by then, and each frame step with how many commands had
// run by then.
struct HookCall {
    bool step;
    int32_t code, pressed, first, second;
    size_t before;
    bool operator==(const HookCall&) const = default;
};
std::vector<HookCall> g_hookCalls;
void HookKey(uint8_t code, int32_t pressed, int32_t first, int32_t second) {
    g_hookCalls.push_back({false, code, pressed, first, second, g_seen.size()});
}
void HookStep() { g_hookCalls.push_back({true, 0, 0, 0, 0, g_calls.size()}); }

// Puts the test's hooks in place of the engine's demo hooks while it lives.
class HooksInPlace {
public:
    HooksInPlace() : engine_(SetInputHooks(InputHooks{HookKey, HookStep})) { g_hookCalls.clear(); }
    ~HooksInPlace() { SetInputHooks(engine_); }
    HooksInPlace(const HooksInPlace&) = delete;
    HooksInPlace& operator=(const HooksInPlace&) = delete;

private:
    InputHooks engine_;
};

class Input : public ::testing::Test {
protected:
    void SetUp() override {
        g_seen.clear();
        g_calls.clear();
        g_onceCalls.clear();
        g_inputSystem.SetCapture(Capture);
        ASSERT_EQ(g_inputSystem.OpenDevices(std::make_unique<TestDevice>(&device)), 1);
    }
    void TearDown() override {
        g_inputSystem.SetCapture(nullptr);
        // The next test opens the devices afresh, with no key held.
        PrintCapture quiet;
        const std::vector<int> held = g_inputSystem.HeldKeys();
        for (int code : held) g_inputSystem.KeyEvent(code, 0, 0, 0, 0);
        g_inputSystem.SetPolling(0, 0);  // as an active window has it
        g_inputSystem.shutdown(0);
        g_inputSystem.finished = 0;
    }

    TestDevice::Shared device;
    PrintCapture output;
};

}  // namespace

TEST_F(Input, BindFollowsItsRules) {
    ExecuteLine("bind w");
    EXPECT_EQ(output.Last(), "Key w is bound to +forward");
    ExecuteLine("bind W +forward");
    EXPECT_EQ(output.Last(), "Invalid key and/or command.");
    ExecuteLine("bind q nosuchcommand");
    EXPECT_EQ(output.Last(), "Invalid command, key not bound.");
    ExecuteLine("bind shift +jump extra");
    EXPECT_EQ(output.Last(), "Key shift set to +jump");
    EXPECT_EQ(g_inputSystem.Binding(42).bound, FindConsoleObject("+jump"));
    EXPECT_EQ(g_inputSystem.Binding(54).bound, nullptr);

    // A variable can be bound; pressing it does nothing.
    ExecuteLine("bind q fov");
    EXPECT_EQ(output.Last(), "Key q set to fov");
    output.Clear();
    g_inputSystem.KeyEvent(16, 1, 0, 0, 0);
    g_inputSystem.RunHeldKeys();
    EXPECT_TRUE(output.Lines().empty());
}

TEST_F(Input, BindWithoutACommandShowsBindingsInsteadOfFailing) {
    // A key alone shows what it runs, and changes nothing.
    ExecuteLine("bind esc");
    EXPECT_EQ(output.Last(), "Key esc is bound to quit");
    EXPECT_EQ(g_inputSystem.Binding(1).bound, FindConsoleObject("quit"));
    ExecuteLine("bind f9");
    EXPECT_EQ(output.Last(), "Key f9 is not bound.");
    EXPECT_EQ(g_inputSystem.Binding(67).bound, nullptr);
    ExecuteLine("bind ESC");
    EXPECT_EQ(output.Last(), "Invalid key and/or command.");

    // bind alone: how to use it, then every binding in key code order.
    output.Clear();
    ExecuteLine("bind");
    const std::vector<std::string>& lines = output.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "usage: bind KEY COMMAND, or bind KEY to show what the key runs");
    const auto at = [&](const std::string& line) { return std::find(lines.begin(), lines.end(), line) - lines.begin(); };
    const auto count = static_cast<std::ptrdiff_t>(lines.size());
    EXPECT_LT(at("Key esc is bound to quit"), at("Key w is bound to +forward"));
    EXPECT_LT(at("Key w is bound to +forward"), at("Key mousemove is bound to +rotate"));
    EXPECT_LT(at("Key mousemove is bound to +rotate"), count);
    for (const std::string& line : lines) EXPECT_EQ(line.find("Unable to bind key"), std::string::npos) << line;

    // Run from a key there is no argument list: that is still refused.
    output.Clear();
    const ConsoleObject* bind = FindConsoleObject("bind");
    ASSERT_NE(bind, nullptr);
    EXPECT_EQ(bind->handler(0, 1, 0, nullptr), 0);
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Unable to bind key. (y=1)"}));
}

TEST_F(Input, DefaultBindingsAreInPlace) {
    EXPECT_EQ(g_inputSystem.Binding(17).bound, FindConsoleObject("+forward"));
    EXPECT_EQ(g_inputSystem.Binding(233).bound, FindConsoleObject("+rotate"));
    EXPECT_EQ(g_inputSystem.Binding(57).bound, FindConsoleObject("+jump"));
    EXPECT_EQ(g_inputSystem.Binding(25).bound, FindConsoleObject("v_incEffect"));
    EXPECT_EQ(g_inputSystem.Binding(1).bound, FindConsoleObject("quit"));
}

TEST_F(Input, HeldKeysRunInFirstPressOrderWithTheirLatestValues) {
    ExecuteLine("bind q zz_probe");
    ExecuteLine("bind e zz_probe");
    EXPECT_EQ(g_inputSystem.KeyEvent(18, 1, 5, 6, 7), 1);  // e
    EXPECT_EQ(g_inputSystem.KeyEvent(16, 1, 1, 2, 3), 2);  // q
    EXPECT_EQ(g_inputSystem.KeyEvent(18, 1, 8, 9, 0), 2);  // e again: still once, newer values
    EXPECT_EQ(g_inputSystem.HeldKeys(), (std::vector<int>{18, 16}));
    g_calls.clear();
    g_inputSystem.RunHeldKeys();
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].a, 8);
    EXPECT_EQ(g_calls[0].b, 9);
    EXPECT_TRUE(g_calls[0].nullArguments);
    EXPECT_EQ(g_calls[1].a, 1);

    EXPECT_EQ(g_inputSystem.KeyEvent(18, 0, 0, 0, 0), 1);
    EXPECT_EQ(g_inputSystem.Binding(18).pressTime, 0.0f);
    EXPECT_EQ(g_inputSystem.HeldKeys(), (std::vector<int>{16}));
}

TEST_F(Input, UnboundAndInvalidKeysAreReported) {
    EXPECT_EQ(g_inputSystem.KeyEvent(35, 1, 0, 0, 0), 0);  // h
    EXPECT_EQ(output.Last(), "Key h is not bound.");
    output.Clear();
    g_inputSystem.KeyEvent(35, 0, 0, 0, 0);
    EXPECT_TRUE(output.Lines().empty());
    EXPECT_EQ(g_inputSystem.KeyEvent(0, 1, 0, 0, 0), 0);
    EXPECT_EQ(output.Last(), "Error: Invalid key pressed.");
    g_inputSystem.KeyEvent(240, 1, 0, 0, 0);
    EXPECT_EQ(output.Last(), "Error: Invalid key pressed.");
}

TEST_F(Input, DemoHooksSeeEveryKeyFirstAndStepAfterTheHeldKeysRan) {
    ExecuteLine("bind q zz_probe");
    g_calls.clear();
    {
        HooksInPlace hooks;
        g_inputSystem.KeyEvent(16, 0x80, 3, 4, 5);  // q
        g_inputSystem.KeyEvent(0, 1, 0, 0, 0);      // rejected, but seen first
        g_inputSystem.frame();
        EXPECT_EQ(g_hookCalls, (std::vector<HookCall>{{false, 16, 0x80, 3, 4, 0},
                                                      {false, 0, 1, 0, 0, 1},
                                                      {true, 0, 0, 0, 0, 1}}));
    }
    EXPECT_EQ(g_seen.size(), 2u);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].a, 3);
}

TEST_F(Input, TwentyKeyboardEventsPerFrameTheRestLater) {
    for (int i = 0; i < 25; ++i) device.keys.push_back(KeyboardEvent{static_cast<uint8_t>(59 + i % 10), i % 2 == 0});
    g_inputSystem.frame();
    EXPECT_EQ(g_seen.size(), 20u);
    g_inputSystem.frame();
    ASSERT_EQ(g_seen.size(), 25u);
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(g_seen[static_cast<size_t>(i)].code, 59 + i % 10);
        EXPECT_EQ(g_seen[static_cast<size_t>(i)].pressed != 0, i % 2 == 0);
    }
}

TEST_F(Input, MouseMotionIsOnePressPerMovingFrameAndOneRelease) {
    device.moves = {{3, -2}, {1, 4}, {0, 0}, {0, 0}};
    for (int i = 0; i < 4; ++i) g_inputSystem.frame();
    ASSERT_EQ(g_seen.size(), 3u);
    EXPECT_EQ(g_seen[0].code, kKeyMouseMove);
    EXPECT_EQ(g_seen[0].pressed, 1);
    EXPECT_EQ(g_seen[0].first, 3);
    EXPECT_EQ(g_seen[0].second, -2);
    EXPECT_EQ(g_seen[1].first, 1);
    EXPECT_EQ(g_seen[2].pressed, 0);
}

TEST_F(Input, InactiveWindowStopsEventsButHeldKeysKeepRunning) {
    ExecuteLine("bind q zz_probe");
    device.keys.push_back(KeyboardEvent{16, true});
    g_inputSystem.frame();
    EXPECT_FALSE(g_inputSystem.SetPolling(1, 1));
    device.keys.push_back(KeyboardEvent{16, false});
    device.moves = {{5, 5}};
    g_calls.clear();
    g_seen.clear();
    g_inputSystem.frame();
    EXPECT_TRUE(g_seen.empty());
    EXPECT_EQ(g_calls.size(), 1u);  // q still held
    EXPECT_TRUE(g_inputSystem.SetPolling(0, 7));
    EXPECT_TRUE(g_inputSystem.MousePolling());
    EXPECT_FALSE(g_inputSystem.KeyboardPolling());
}

TEST_F(Input, ReleasingHeldKeysLetsEachGoAsAKeyRelease) {
    ExecuteLine("bind q zz_probe");
    ExecuteLine("bind e zz_probe");
    device.keys = {KeyboardEvent{16, true}, KeyboardEvent{18, true}};
    device.moves = {{4, 0}};
    g_inputSystem.frame();
    ASSERT_EQ(g_inputSystem.HeldKeys().size(), 3u);  // q, e and the mouse movement
    g_seen.clear();
    g_inputSystem.ReleaseHeldKeys();
    EXPECT_TRUE(g_inputSystem.HeldKeys().empty());
    ASSERT_EQ(g_seen.size(), 3u);  // each release went the ordinary way
    for (const Seen& seen : g_seen) EXPECT_EQ(seen.pressed, 0);
    g_calls.clear();
    g_inputSystem.RunHeldKeys();
    EXPECT_TRUE(g_calls.empty());
    // The mouse, still, is a new movement next time, not a continued one.
    device.moves = {{0, 0}};
    g_seen.clear();
    g_inputSystem.frame();
    EXPECT_TRUE(g_seen.empty());
}

TEST_F(Input, OpeningTwiceAndClosingTwice) {
    EXPECT_EQ(g_inputSystem.OpenDevices(std::make_unique<TestDevice>(&device)), 0);
    EXPECT_EQ(output.Last(), "IN Error: Cannot initialize already initialized device");
    g_inputSystem.shutdown(0);
    EXPECT_EQ(g_inputSystem.finished, 1);
    g_inputSystem.shutdown(0);
    EXPECT_EQ(output.Last(), "IN Error: Cannot shutdown an un-initialized device");
}

TEST(InputResults, NamesOfSharedCodesAreTheFirst) {
    EXPECT_STREQ(LookupInputResultName(1), "DI_BUFFEROVERFLOW");
    EXPECT_STREQ(LookupInputResultName(0x80070005), "DIERR_HANDLEEXISTS");
    EXPECT_STREQ(LookupInputResultName(0x80070002), "DIERR_NOTFOUND");
    EXPECT_STREQ(LookupInputResultName(0), "DI_OK");
    EXPECT_EQ(LookupInputResultName(0x12345678), nullptr);
}

TEST_F(Input, SavedConfigWritesBindingsInKeyOrderAndRestoresThem) {
    ScratchFolder folder;
    ExecuteLine("bind f1 v_noclip");
    ExecuteLine("bind shift +jump");
    ExecuteLine("saveConfig keys.cfg");
    const std::string text = folder.Read("keys.cfg");
    const size_t w = text.find("\nbind w \"+forward\"");
    const size_t a = text.find("\nbind a \"+left\"");
    const size_t f1 = text.find("\nbind f1 \"v_noclip\"");
    const size_t lastVariable = text.find("\nwin_debug");
    ASSERT_NE(w, std::string::npos);
    ASSERT_NE(f1, std::string::npos);
    EXPECT_LT(lastVariable, w);  // after the variables
    EXPECT_LT(w, a);             // code 17 before code 30
    EXPECT_LT(a, f1);
    EXPECT_NE(text.find("\nbind mousemove \"+rotate\""), std::string::npos);

    ExecuteLine("bind f1 fov");
    ExecuteLine("bind w +back");
    ExecuteLine("loadConfig keys.cfg");
    EXPECT_EQ(g_inputSystem.Binding(59).bound, FindConsoleObject("v_noclip"));
    EXPECT_EQ(g_inputSystem.Binding(17).bound, FindConsoleObject("+forward"));
    EXPECT_EQ(g_inputSystem.Binding(42).bound, FindConsoleObject("+jump"));
}

// Key presses between frames: every press counts, however short.

TEST_F(Input, APressLetGoWithinOneFrameRunsTheCommandOnce) {
    ExecuteLine("bind q zz_probe");
    ExecuteLine("bind f12 zz_once");
    device.keys = {KeyboardEvent{16, true}, KeyboardEvent{16, false}, KeyboardEvent{88, true},
                   KeyboardEvent{88, false}};
    g_inputSystem.frame();
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_TRUE(g_calls[0].nullArguments);
    EXPECT_EQ(g_onceCalls.size(), 1u);
    EXPECT_TRUE(g_inputSystem.HeldKeys().empty());

    // Nothing is left over for the next frame.
    g_inputSystem.frame();
    EXPECT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_onceCalls.size(), 1u);

    // Two taps in one frame are two presses.
    device.keys = {KeyboardEvent{88, true}, KeyboardEvent{88, false}, KeyboardEvent{88, true},
                   KeyboardEvent{88, false}};
    g_inputSystem.frame();
    EXPECT_EQ(g_onceCalls.size(), 3u);
}

TEST_F(Input, AOncePerPressCommandRunsOnceHoweverLongItsKeyIsHeld) {
    ExecuteLine("bind f12 zz_once");
    ExecuteLine("bind q zz_probe");
    device.keys = {KeyboardEvent{88, true}, KeyboardEvent{16, true}};
    for (int i = 0; i < 4; ++i) g_inputSystem.frame();
    EXPECT_EQ(g_onceCalls.size(), 1u);
    EXPECT_EQ(g_calls.size(), 4u);  // the other command runs every frame it is held
    device.keys = {KeyboardEvent{88, false}};
    g_inputSystem.frame();
    EXPECT_EQ(g_onceCalls.size(), 1u);
    device.keys = {KeyboardEvent{88, true}};
    g_inputSystem.frame();
    g_inputSystem.frame();
    EXPECT_EQ(g_onceCalls.size(), 2u);
    // Pressed again without a release (a replayed demo can): a new press.
    g_inputSystem.KeyEvent(88, 1, 0, 0, 0);
    g_inputSystem.RunHeldKeys();
    EXPECT_EQ(g_onceCalls.size(), 3u);
}

// The console over the game takes the keyboard while it is open.

namespace {

void TypeInto(std::deque<KeyboardEvent>* keys, const char* text) { AppendTextRecords(text, keys); }

void Tap(std::deque<KeyboardEvent>* keys, uint8_t code) {
    keys->push_back(KeyboardEvent{code, true});
    keys->push_back(KeyboardEvent{code, false});
}

bool SawKey(uint8_t code) {
    return std::any_of(g_seen.begin(), g_seen.end(), [code](const Seen& seen) { return seen.code == code; });
}

class InputConsole : public Input {
protected:
    void SetUp() override {
        Input::SetUp();
        ExecuteLine("bind esc zz_once");  // nothing in here may end the test program
    }
    void TearDown() override {
        g_gameConsole.Reset();
        g_commandInterpreter.frame();
        fov.floatValue = 90.0f;
        {
            PrintCapture quiet;
            ExecuteLine("bind esc quit");
        }
        Input::TearDown();
    }
};

}  // namespace

TEST_F(InputConsole, GraveOpensItAndATypedLineRunsThroughTheInterpreter) {
    Tap(&device.keys, kKeyGrave);
    TypeInto(&device.keys, "fov 3");
    Tap(&device.keys, 14);  // back
    TypeInto(&device.keys, "33");
    Tap(&device.keys, 28);  // return
    g_inputSystem.frame();
    EXPECT_TRUE(g_gameConsole.IsOpen());
    EXPECT_TRUE(device.textInput);
    EXPECT_TRUE(g_seen.empty());  // no key event went to the bindings
    EXPECT_EQ(g_gameConsole.Line().Text(), std::string());
    g_commandInterpreter.frame();
    EXPECT_FLOAT_EQ(fov.floatValue, 33.0f);
    const std::vector<std::string>& lines = output.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "] fov 33");
    // The console shows what was printed.
    ASSERT_GE(g_gameConsole.LineCount(), 1);
    EXPECT_STREQ(g_gameConsole.OutputLine(g_gameConsole.LineCount() - 1), "fov set \"33.000000\"");

    // Up brings the line back; Tab completes over it.
    Tap(&device.keys, 200);
    g_inputSystem.frame();
    EXPECT_EQ(g_gameConsole.Line().Text(), std::string("fov 33"));
}

TEST_F(InputConsole, OpenConsoleKeepsKeysFromTheBindingsAndLetsHeldKeysGo) {
    ExecuteLine("bind q zz_probe");
    device.keys = {KeyboardEvent{16, true}};
    device.moves = {{4, 0}};
    g_inputSystem.frame();
    ASSERT_EQ(g_inputSystem.HeldKeys().size(), 2u);  // q and the mouse movement
    Tap(&device.keys, kKeyGrave);
    g_inputSystem.frame();
    EXPECT_TRUE(g_inputSystem.HeldKeys().empty());

    g_seen.clear();
    g_calls.clear();
    output.Clear();
    device.keys = {KeyboardEvent{16, false}, KeyboardEvent{16, true}, KeyboardEvent{35, true}};
    device.moves = {{5, 5}};
    g_inputSystem.frame();
    g_inputSystem.frame();
    EXPECT_TRUE(g_seen.empty());
    EXPECT_TRUE(g_calls.empty());
    EXPECT_TRUE(output.Lines().empty());  // not even "Key h is not bound."
    EXPECT_TRUE(g_inputSystem.HeldKeys().empty());
}

TEST_F(InputConsole, EscapeClosesItAndShiftEscapeOpensIt) {
    Tap(&device.keys, kKeyGrave);
    Tap(&device.keys, kKeyEscape);
    g_inputSystem.frame();
    EXPECT_FALSE(g_gameConsole.IsOpen());
    EXPECT_FALSE(device.textInput);
    EXPECT_TRUE(g_onceCalls.empty());  // Escape's command did not run
    EXPECT_FALSE(SawKey(kKeyEscape));  // nor did its release reach the bindings

    device.keys = {KeyboardEvent{kKeyRightShift, true}, KeyboardEvent{kKeyEscape, true},
                   KeyboardEvent{kKeyEscape, false}, KeyboardEvent{kKeyRightShift, false}};
    g_inputSystem.frame();
    EXPECT_TRUE(g_gameConsole.IsOpen());
    EXPECT_FALSE(SawKey(kKeyEscape));
    EXPECT_TRUE(g_onceCalls.empty());

    // Closed with the key that opened it; then Escape is Escape again.
    Tap(&device.keys, kKeyGrave);
    g_inputSystem.frame();
    EXPECT_FALSE(g_gameConsole.IsOpen());
    EXPECT_FALSE(SawKey(kKeyGrave));
    Tap(&device.keys, kKeyEscape);
    g_inputSystem.frame();
    EXPECT_EQ(g_onceCalls.size(), 1u);
}

TEST_F(InputConsole, CharactersTypedWhileItIsClosedAreDropped) {
    output.Clear();
    TypeInto(&device.keys, "abc");
    g_inputSystem.frame();
    EXPECT_TRUE(g_seen.empty());
    EXPECT_TRUE(output.Lines().empty());  // no "Error: Invalid key pressed."
    Tap(&device.keys, kKeyGrave);
    TypeInto(&device.keys, "d\xC3\xA9");
    g_inputSystem.frame();
    EXPECT_EQ(g_gameConsole.Line().Text(), std::string("d\xC3\xA9"));
}
