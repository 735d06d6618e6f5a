// The input subsystem: reads the keyboard and the mouse once per frame, turns
// what it reads into key events, and runs the commands of the keys pressed
// and held. Most commands run in every frame while their key is held; those
// made to run once per press (KeyRepeat) run once for each press. Either
// runs once for a key pressed and let go again between two frames.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/subsystem.h"
#include "console/console_object.h"
#include "platform/input_device.h"
#include "platform/key_names.h"

constexpr int kKeyboardBufferSize = 20;

struct KeyBinding {
    int32_t first = 0;   // mouse x movement of the latest press
    int32_t second = 0;  // mouse y movement
    int32_t third = 0;
    char name[16] = {};
    ConsoleObject* bound = nullptr;
    float pressTime = 0.0f;  // frame time of the latest press; 0 after a release
};

// Sees every key event before it is handled (demo recording).
using KeyEventCapture = void (*)(uint8_t code, int32_t pressed, int32_t first, int32_t second,
                                 int32_t third);

// The engine's demos work inside this subsystem without it knowing them:
// keyEvent sees every key event first, before it is checked (recording),
// and frameStep runs once per frame, right after the held keys' commands
// (playback). The engine installs them when the program's globals are
// constructed. Returns the hooks installed before.
struct InputHooks {
    void (*keyEvent)(uint8_t code, int32_t pressed, int32_t first, int32_t second) = nullptr;
    void (*frameStep)() = nullptr;
};
InputHooks SetInputHooks(const InputHooks& hooks);

class CInputSystem : public Subsystem {
public:
    CInputSystem();
    ~CInputSystem() override;

    // Opens the devices of the given source; 1 on success.
    int32_t OpenDevices(std::unique_ptr<InputDevice> device);
    int32_t frame() override;
    void shutdown(int32_t reason) override;

    // Each value: 0 enables polling of that device, 1 disables it, others
    // leave it; returns whether either is enabled.
    bool SetPolling(int32_t mouse, int32_t keyboard);

    // A key event; returns the number of held keys, 0 when rejected.
    int32_t KeyEvent(uint8_t code, int32_t pressed, int32_t first, int32_t second, int32_t third);
    // Runs, with each key's values, in held-list order: the command of every
    // held key, a once-per-press command only when its key was pressed since
    // the last run; then, in order of release, the command of each key
    // pressed and let go again since the last run.
    void RunHeldKeys();
    // Releases every held key (the mouse movement included) as if its
    // release had arrived: a window that loses the focus never hears of the
    // keys let go while it is away.
    void ReleaseHeldKeys();

    // bind: key name, then command name.
    int32_t Bind(int32_t argc, const ConsoleArgument* argv);

    const KeyBinding& Binding(int code) const { return bindings_[code]; }
    const std::vector<int>& HeldKeys() const { return held_; }
    bool Initialised() const { return initialised_ != 0; }
    bool MousePolling() const { return mousePolling_ != 0; }
    bool KeyboardPolling() const { return keyboardPolling_ != 0; }

    void SetCapture(KeyEventCapture capture) { capture_ = capture; }

    // The config writer's bindings: "\nbind NAME \"COMMAND\"" per bound key.
    void AppendBindings(std::string& script);

private:
    // A key pressed and released before its command ran.
    struct Tap {
        int code;
        int32_t first, second, third;
    };

    void BindDefault(const char* key, const char* command);
    // Hands a keyboard record to the in-game console; true when it took it.
    bool ConsoleTakes(const KeyboardEvent& record);
    void ResolveDefaults();
    void Release(int code);

    std::unique_ptr<InputDevice> device_;
    KeyBinding bindings_[kKeyCount];
    std::vector<int> held_;  // codes in first-press order
    KeyboardEvent keyboard_[kKeyboardBufferSize] = {};
    int keyboardCount_ = 0;
    int32_t initialised_ = 0;
    int32_t mousePolling_ = 1;
    int32_t keyboardPolling_ = 1;
    bool mouseMoving_ = false;
    bool shiftDown_[2] = {};       // left, right
    bool unrun_[kKeyCount] = {};   // pressed since its command last ran
    std::vector<Tap> taps_;
    KeyEventCapture capture_ = nullptr;
    std::vector<std::pair<int, const char*>> pendingDefaults_;
};

extern CInputSystem g_inputSystem;

// The name of a DirectInput result code, or null.
const char* LookupInputResultName(uint32_t code);
