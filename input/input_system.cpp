#include "input/input_system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/message_output.h"
#include "console/config_script.h"
#include "input/game_console.h"
#include "platform/operating_system.h"

namespace {

// Constant-initialised: the engine installs its hooks from a global, which
// may be constructed before or after this file's.
constinit InputHooks s_hooks = {};

struct ResultName {
    const char* name;
    uint32_t code;
};

// DirectInput's result codes; several share a value and the first wins.
const ResultName kResultNames[46] = {
    {"DI_BUFFEROVERFLOW", 0x00000001},          {"DI_DOWNLOADSKIPPED", 0x00000003},
    {"DI_EFFECTRESTARTED", 0x00000004},         {"DI_NOEFFECT", 0x00000001},
    {"DI_NOTATTACHED", 0x00000001},             {"DI_OK", 0x00000000},
    {"DI_POLLEDDEVICE", 0x00000002},            {"DI_PROPNOEFFECT", 0x00000001},
    {"DI_SETTINGSNOTSAVED", 0x0000000B},        {"DI_TRUNCATED", 0x00000008},
    {"DI_TRUNCATEDANDRESTARTED", 0x0000000C},   {"DI_WRITEPROTECT", 0x00000013},
    {"DIERR_ACQUIRED", 0x800700AA},             {"DIERR_ALREADYINITIALIZED", 0x800704DF},
    {"DIERR_BADDRIVERVER", 0x80070077},         {"DIERR_BETADIRECTINPUTVERSION", 0x80070481},
    {"DIERR_DEVICEFULL", 0x80040201},           {"DIERR_DEVICENOTREG", 0x80040154},
    {"DIERR_EFFECTPLAYING", 0x80040208},        {"DIERR_GENERIC", 0x80004005},
    {"DIERR_HANDLEEXISTS", 0x80070005},         {"DIERR_HASEFFECTS", 0x80040204},
    {"DIERR_INCOMPLETEEFFECT", 0x80040206},     {"DIERR_INPUTLOST", 0x8007001E},
    {"DIERR_INVALIDPARAM", 0x80070057},         {"DIERR_MAPFILEFAIL", 0x8004020B},
    {"DIERR_MOREDATA", 0x80040202},             {"DIERR_NOAGGREGATION", 0x80040110},
    {"DIERR_NOINTERFACE", 0x80004002},          {"DIERR_NOTACQUIRED", 0x8007000C},
    {"DIERR_NOTBUFFERED", 0x80040207},          {"DIERR_NOTDOWNLOADED", 0x80040203},
    {"DIERR_NOTEXCLUSIVEACQUIRED", 0x80040205}, {"DIERR_NOTFOUND", 0x80070002},
    {"DIERR_NOTINITIALIZED", 0x80070015},       {"DIERR_OBJECTNOTFOUND", 0x80070002},
    {"DIERR_OLDDIRECTINPUTVERSION", 0x8007047E}, {"DIERR_OTHERAPPHASPRIO", 0x80070005},
    {"DIERR_OUTOFMEMORY", 0x8007000E},          {"DIERR_READONLY", 0x80070005},
    {"DIERR_REPORTFULL", 0x80040209},           {"DIERR_UNPLUGGED", 0x8004020A},
    {"DIERR_UNSUPPORTED", 0x80004001},          {"E_HANDLE", 0x80070006},
    {"E_PENDING", 0x8000000A},                  {"E_POINTER", 0x80004003},
};

int32_t BindCommand(int32_t, int32_t argc, int32_t, const ConsoleArgument* argv) {
    return g_inputSystem.Bind(argc, argv);
}

ConsoleCommand bind("bind", BindCommand);

void WriteBindings(std::string& script) { g_inputSystem.AppendBindings(script); }

bool RunsWhileHeld(const ConsoleObject* object) { return object->keyRepeat == KeyRepeat::kWhileHeld; }

void RunCommand(const ConsoleObject* object, int32_t first, int32_t second, int32_t third) {
    if (object != nullptr && object->kind == kConsoleCommand && object->handler != nullptr) {
        object->handler(first, second, third, nullptr);
    }
}

void OnActivation(bool active) {
    g_inputSystem.SetPolling(active ? 0 : 1, active ? 0 : 1);
    if (!active) g_inputSystem.ReleaseHeldKeys();
}

}  // namespace

InputHooks SetInputHooks(const InputHooks& hooks) {
    const InputHooks previous = s_hooks;
    s_hooks = hooks;
    return previous;
}

const char* LookupInputResultName(uint32_t code) {
    for (const ResultName& row : kResultNames) {
        if (row.code == code) return row.name;
    }
    return nullptr;
}

CInputSystem::CInputSystem() {
    Setup("CInputSystem");
    RegisterSubsystem(this);
    priority = 3;
    for (int code = 0; code < kKeyCount; ++code) {
        const char* name = KeyName(code);
        if (name != nullptr) std::strncpy(bindings_[code].name, name, sizeof bindings_[code].name - 1);
    }
    BindDefault("w", "+forward");
    BindDefault("s", "+back");
    BindDefault("a", "+left");
    BindDefault("d", "+right");
    BindDefault("mousemove", "+rotate");
    BindDefault("space", "+jump");
    BindDefault("k", "record");
    BindDefault("j", "stop");
    BindDefault("i", "play");
    BindDefault("m", "load");
    BindDefault("n", "save");
    BindDefault("o", "v_noclip");
    BindDefault("p", "v_incEffect");
    BindDefault("l", "v_decEffect");
    BindDefault("x", "v_invert");
    BindDefault("esc", "quit");
    SetConfigBindingWriter(WriteBindings);
    taps_.reserve(2 * kKeyboardBufferSize);  // no heap work in a frame
}

CInputSystem::~CInputSystem() {
    UnregisterSubsystem(this);
    Teardown();
    SetConfigBindingWriter(nullptr);
}

// The commands are registered by name as globals of other files, which may
// be constructed after this subsystem: a default waits in the table as a
// name until the first lookup finds it.
void CInputSystem::BindDefault(const char* key, const char* command) {
    const int code = KeyCodeOfName(key);
    if (code < 0) return;
    ConsoleObject* object = FindConsoleObject(command);
    if (object != nullptr) {
        bindings_[code].bound = object;
    } else {
        pendingDefaults_.push_back({code, command});
    }
}

void CInputSystem::ResolveDefaults() {
    for (auto it = pendingDefaults_.begin(); it != pendingDefaults_.end();) {
        ConsoleObject* object = FindConsoleObject(it->second);
        if (object != nullptr) {
            if (bindings_[it->first].bound == nullptr) bindings_[it->first].bound = object;
            it = pendingDefaults_.erase(it);
        } else {
            ++it;
        }
    }
}

int32_t CInputSystem::OpenDevices(std::unique_ptr<InputDevice> device) {
    ResolveDefaults();
    if (initialised_) {
        PrintLine("IN Error: Cannot initialize already initialized device");
        return 0;
    }
    if (device == nullptr) {
        PrintLine("IN Error: Failed to create DirectInput8 (err=%s)", "DIERR_NOTINITIALIZED");
        return 0;
    }
    std::string error;
    if (!device->Open(&error)) {
        PrintLine("%s", error.c_str());
        return 0;
    }
    device_ = std::move(device);
    device_->SetTextInput(g_gameConsole.IsOpen());
    g_operatingSystem.SetActivationListener(OnActivation);
    initialised_ = 1;
    return 1;
}

bool CInputSystem::SetPolling(int32_t mouse, int32_t keyboard) {
    if (mouse == 0) mousePolling_ = 1;
    else if (mouse == 1) mousePolling_ = 0;
    if (keyboard == 0) keyboardPolling_ = 1;
    else if (keyboard == 1) keyboardPolling_ = 0;
    return mousePolling_ || keyboardPolling_;
}

int32_t CInputSystem::frame() {
    for (KeyboardEvent& record : keyboard_) record = KeyboardEvent{0, false};
    keyboardCount_ = 0;
    int32_t dx = 0, dy = 0;
    if (device_ != nullptr) {
        device_->ReadMouse(&dx, &dy);
        keyboardCount_ = device_->ReadKeyboard(keyboard_, kKeyboardBufferSize);
    }
    if (mousePolling_) {
        if ((dx != 0 || dy != 0) && !g_gameConsole.IsOpen()) {
            mouseMoving_ = true;
            KeyEvent(kKeyMouseMove, 1, dx, dy, 0);
        } else if (mouseMoving_) {
            KeyEvent(kKeyMouseMove, 0, 0, 0, 0);
            mouseMoving_ = false;
        }
    }
    if (keyboardPolling_) {
        for (int i = 0; i < keyboardCount_; ++i) {
            if (ConsoleTakes(keyboard_[i])) continue;
            KeyEvent(keyboard_[i].code, keyboard_[i].pressed ? 0x80 : 0, 0, 0, 0);
        }
    }
    RunHeldKeys();
    if (s_hooks.frameStep != nullptr) s_hooks.frameStep();
    return finished;
}

bool CInputSystem::ConsoleTakes(const KeyboardEvent& record) {
    if (record.IsText()) {
        g_gameConsole.TakeText(record.text);
        return true;
    }
    if (record.code == kKeyLeftShift) shiftDown_[0] = record.pressed;
    if (record.code == kKeyRightShift) shiftDown_[1] = record.pressed;
    const bool wasOpen = g_gameConsole.IsOpen();
    if (!g_gameConsole.TakeKey(record.code, record.pressed, shiftDown_[0] || shiftDown_[1])) return false;
    const bool open = g_gameConsole.IsOpen();
    if (open != wasOpen) {
        // Keys held when the console opens would keep moving the camera
        // while their releases go to the console.
        if (open) ReleaseHeldKeys();
        if (device_ != nullptr) device_->SetTextInput(open);
    }
    return true;
}

void CInputSystem::shutdown(int32_t) {
    finished = 1;
    if (!initialised_) {
        PrintLine("IN Error: Cannot shutdown an un-initialized device");
        return;
    }
    device_->Close();
    device_.reset();
    initialised_ = 0;
}

void CInputSystem::Release(int code) {
    if (unrun_[code]) {
        // Let go before the frame ran its command: the press still counts.
        unrun_[code] = false;
        const KeyBinding& binding = bindings_[code];
        if (std::find(held_.begin(), held_.end(), code) != held_.end()) {
            taps_.push_back(Tap{code, binding.first, binding.second, binding.third});
        }
    }
    held_.erase(std::remove(held_.begin(), held_.end(), code), held_.end());
    bindings_[code].pressTime = 0.0f;
}

int32_t CInputSystem::KeyEvent(uint8_t code, int32_t pressed, int32_t first, int32_t second,
                               int32_t third) {
    if (s_hooks.keyEvent != nullptr) s_hooks.keyEvent(code, pressed, first, second);
    if (capture_ != nullptr) capture_(code, pressed, first, second, third);
    if (!pendingDefaults_.empty()) ResolveDefaults();
    if (code == 0 || code >= kKeyCount) {
        PrintLine("Error: Invalid key pressed.");
        return 0;
    }
    KeyBinding& binding = bindings_[code];
    if (binding.bound == nullptr) {
        if (pressed) {
            PrintLine("Key %s is not bound.", binding.name);
            return 0;
        }
        Release(code);
        return static_cast<int32_t>(held_.size());
    }
    if (!pressed) {
        Release(code);
        return static_cast<int32_t>(held_.size());
    }
    binding.pressTime = static_cast<float>(g_operatingSystem.FrameTime());
    binding.first = first;
    binding.second = second;
    binding.third = third;
    unrun_[code] = true;
    if (std::find(held_.begin(), held_.end(), code) == held_.end()) held_.push_back(code);
    return static_cast<int32_t>(held_.size());
}

void CInputSystem::ReleaseHeldKeys() {
    // Newest first, each through the ordinary path (bindings, demo capture).
    while (!held_.empty()) {
        const int code = held_.back();
        KeyEvent(static_cast<uint8_t>(code), 0, 0, 0, 0);
        if (!held_.empty() && held_.back() == code) held_.pop_back();  // never stuck on a key
    }
    mouseMoving_ = false;
}

void CInputSystem::RunHeldKeys() {
    // By index and without a copy: no heap work per frame, and a command
    // that changes the list cannot invalidate the walk.
    for (size_t i = 0; i < held_.size(); ++i) {
        const int code = held_[i];
        const KeyBinding& binding = bindings_[code];
        const bool pressedSinceLastRun = unrun_[code];
        unrun_[code] = false;
        if (binding.bound == nullptr) continue;
        if (pressedSinceLastRun || RunsWhileHeld(binding.bound)) {
            RunCommand(binding.bound, binding.first, binding.second, binding.third);
        }
    }
    // A tap shorter than a frame runs its command once, whatever its kind.
    for (size_t i = 0; i < taps_.size(); ++i) {
        const Tap tap = taps_[i];
        RunCommand(bindings_[tap.code].bound, tap.first, tap.second, tap.third);
    }
    taps_.clear();
}

int32_t CInputSystem::Bind(int32_t argc, const ConsoleArgument* argv) {
    if (!pendingDefaults_.empty()) ResolveDefaults();
    if (argc == 0) {
        // bind alone (the interpreter hands no argument list then): how to
        // use it, then what is bound now, in key code order.
        PrintLine("usage: bind KEY COMMAND, or bind KEY to show what the key runs");
        for (int code = 0; code < kKeyCount; ++code) {
            const ConsoleObject* object = bindings_[code].bound;
            if (object != nullptr && object->name != nullptr) {
                PrintLine("Key %s is bound to %s", bindings_[code].name, object->name);
            }
        }
        return 0;
    }
    // Run from a key there is no argument list: nothing to bind or show.
    if (argc < 0 || argv == nullptr) {
        PrintLine("Unable to bind key. (y=%i)", argc);
        return 0;
    }
    const int code = KeyCodeOfName(argv[0].text);
    if (code < 0) {
        PrintLine("Invalid key and/or command.");
        return 0;
    }
    if (argc == 1) {
        const ConsoleObject* object = bindings_[code].bound;
        if (object != nullptr) {
            PrintLine("Key %s is bound to %s", argv[0].text, object->name);
        } else {
            PrintLine("Key %s is not bound.", argv[0].text);
        }
        return 1;
    }
    ConsoleObject* object = FindConsoleObject(argv[1].text);
    if (object == nullptr) {
        PrintLine("Invalid command, key not bound.");
        return 0;
    }
    bindings_[code].bound = object;
    PrintLine("Key %s set to %s", argv[0].text, object->name);
    return 1;
}

void CInputSystem::AppendBindings(std::string& script) {
    if (!pendingDefaults_.empty()) ResolveDefaults();
    char entry[64];
    for (int code = 0; code < kKeyCount; ++code) {
        const KeyBinding& binding = bindings_[code];
        if (binding.bound == nullptr || binding.bound->name == nullptr) continue;
        std::snprintf(entry, sizeof entry, "\nbind %s \"%s\"", binding.name, binding.bound->name);
        script += entry;
    }
}
