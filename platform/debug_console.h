// The debug console window's behaviour, apart from how it is drawn: an output
// that every printed line is appended to, and an input line whose text goes
// to the interpreter's queue when the user presses Enter.
#pragma once

#include <cstddef>
#include <string>

// Control ids of the console.
constexpr int kConsoleOutputId = 1001;
constexpr int kConsoleInputId = 1002;
constexpr int kConsoleSendId = 1003;
constexpr int kCommandOk = 1;
constexpr int kCommandCancel = 2;

class DebugConsole {
public:
    static constexpr const char* kTitle = "Osprel 2.0 Debug Console";
    // Size in dialog units.
    static constexpr int kWidthUnits = 459;
    static constexpr int kHeightUnits = 255;
    // The input buffer: 249 characters and the terminating zero.
    static constexpr size_t kInputSize = 250;
    // The output keeps this much of its newest text.
    static constexpr size_t kMaxOutput = 1 << 20;

    // Appends a line (ending in CR LF) at the end of the output.
    void Append(const char* line);
    const std::string& Output() const { return output_; }

    char* Input() { return input_; }
    // A command from the window: OK and Cancel (Enter or Escape reaching the
    // window itself) do nothing, Send queues the input line.
    void OnCommand(int id);
    // The close box hides the console; the program goes on.
    void OnClose() { visible_ = false; }
    void Show() { visible_ = true; }
    bool Visible() const { return visible_; }

    // Set when the output grew; the front end scrolls to the end and clears it.
    bool TakeScrollRequest();

private:
    void Send();

    std::string output_;
    char input_[kInputSize] = {};
    bool visible_ = false;
    bool scroll_ = false;
};
