// The debug console window's behaviour, apart from how it is drawn: an output
// that every printed line is appended to, and an input line that the user
// edits key by key and whose text goes to the interpreter's queue when the
// user presses Enter. The edit line is the one the in-game console has too.
#pragma once

#include <cstddef>
#include <string>

#include "platform/console_line.h"

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
    static constexpr size_t kInputSize = ConsoleLine::kSize;
    // The output keeps this much of its newest text.
    static constexpr size_t kMaxOutput = 1 << 20;

    // Appends a line (ending in CR LF) at the end of the output.
    void Append(const char* line);
    const std::string& Output() const { return output_; }

    char* Input() { return line_.Text(); }
    const char* Input() const { return line_.Text(); }
    // Where the caret stands in the input line, in bytes.
    size_t Cursor() const { return line_.Cursor(); }

    void InsertText(const char* text) { line_.InsertText(text); }
    void Paste(const char* text) { line_.Paste(text); }
    // An editing key: Enter sends, the others edit, move, walk the history
    // or complete.
    void HandleKey(ConsoleKey key);
    const LineHistory& History() const { return line_.History(); }

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
    ConsoleLine line_;
    bool visible_ = false;
    bool scroll_ = false;
};
