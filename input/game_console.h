// The console drawn over the game: `~` (or Shift+Esc) opens it, `~` or Esc
// closes it. While it is open the keyboard types into its edit line instead
// of running key bindings; Enter hands the line to the interpreter, as the
// debug console's Send does. It shows the newest printed lines above the
// edit line.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/console_line.h"

struct ConsoleOverlayContent;

class GameConsole {
public:
    // The newest printed lines kept for showing, each cut to kLineChars.
    static constexpr int kMaxLines = 128;
    static constexpr size_t kLineChars = 200;

    GameConsole() = default;
    GameConsole(const GameConsole&) = delete;
    GameConsole& operator=(const GameConsole&) = delete;

    bool IsOpen() const { return open_; }
    void Open();
    void Close();

    // A keyboard event, with whether a shift key is down. True when the
    // console took it: the key that opens or closes it (and that key's
    // release), and every key while it is open. Keys it does not take go on
    // to the bindings.
    bool TakeKey(uint8_t code, bool pressed, bool shift);
    // A typed character (or several) while open; dropped while closed.
    void TakeText(const char* text);

    const ConsoleLine& Line() const { return line_; }

    // Printed lines, oldest first.
    int LineCount() const { return count_; }
    const char* OutputLine(int index) const;
    void AddOutputLine(const char* text);
    void ClearOutput() { first_ = count_ = 0; }
    // Closed, with an empty edit line and history; the output stays.
    void Reset();

    // What the overlay draws: open or not, the lines, the edit line and its
    // caret. The lines and edit line point into this console.
    void FillOverlay(ConsoleOverlayContent* content) const;

private:
    bool open_ = false;
    bool swallowRelease_[256] = {};
    ConsoleLine line_;
    // A ring of fixed lines: printing never allocates.
    char lines_[kMaxLines][kLineChars + 1] = {};
    int first_ = 0;
    int count_ = 0;
};

// The one the input subsystem feeds and the renderer draws; it sees every
// printed line.
extern GameConsole g_gameConsole;

// Key codes the console reads.
constexpr uint8_t kKeyEscape = 1;
constexpr uint8_t kKeyGrave = 41;
constexpr uint8_t kKeyLeftShift = 42;
constexpr uint8_t kKeyRightShift = 54;
