#include "input/game_console.h"

#include <cstring>
#include <string>

#include "base/message_output.h"
#include "console/command_interpreter.h"
#include "video/console_overlay.h"

GameConsole g_gameConsole;

namespace {

void ShowPrintedLine(const char* text) { g_gameConsole.AddOutputLine(text); }

// Constructed after the console and destroyed before it: lines printed while
// the program winds down find no console.
struct PrintedLinesToTheConsole {
    PrintedLinesToTheConsole() { SetConsoleSink(ShowPrintedLine); }
    ~PrintedLinesToTheConsole() { SetConsoleSink(nullptr); }
} s_printedLines;

// Only an open console is read: a closed one costs the overlay nothing.
void ShowOnTheOverlay(ConsoleOverlayContent* content) {
    content->open = g_gameConsole.IsOpen();
    if (content->open) g_gameConsole.FillOverlay(content);
}

// As the printed lines: the overlay finds no console once this is gone.
struct ConsoleOnTheOverlay {
    ConsoleOnTheOverlay() { SetConsoleOverlaySource(ShowOnTheOverlay); }
    ~ConsoleOnTheOverlay() { SetConsoleOverlaySource(nullptr); }
} s_consoleOnTheOverlay;

// The editing keys among the key codes; false for the others.
bool EditingKey(uint8_t code, ConsoleKey* key) {
    switch (code) {
        case 14: *key = ConsoleKey::kBackspace; return true;
        case 15: *key = ConsoleKey::kTab; return true;
        case 28:
        case 156: *key = ConsoleKey::kEnter; return true;
        case 199: *key = ConsoleKey::kHome; return true;
        case 200: *key = ConsoleKey::kUp; return true;
        case 203: *key = ConsoleKey::kLeft; return true;
        case 205: *key = ConsoleKey::kRight; return true;
        case 207: *key = ConsoleKey::kEnd; return true;
        case 208: *key = ConsoleKey::kDown; return true;
        case 211: *key = ConsoleKey::kDelete; return true;
        default: return false;
    }
}

}  // namespace

void GameConsole::Open() { open_ = true; }

void GameConsole::Close() { open_ = false; }

void GameConsole::Reset() {
    open_ = false;
    for (bool& swallow : swallowRelease_) swallow = false;
    line_ = ConsoleLine();
}

bool GameConsole::TakeKey(uint8_t code, bool pressed, bool shift) {
    if (!open_) {
        if (!pressed) {
            // The release of the key that closed the console was the console's.
            const bool own = swallowRelease_[code];
            swallowRelease_[code] = false;
            return own;
        }
        if (code == kKeyGrave || (code == kKeyEscape && shift)) {
            Open();
            swallowRelease_[code] = false;
            return true;
        }
        return false;
    }
    if (!pressed) return true;
    if (code == kKeyGrave || code == kKeyEscape) {
        Close();
        swallowRelease_[code] = true;
        return true;
    }
    ConsoleKey key;
    if (!EditingKey(code, &key)) return true;  // characters come as text
    if (key == ConsoleKey::kEnter) {
        const std::string line = line_.TakeLine();
        if (!line.empty()) QueueTypedLine(line.c_str());
    } else {
        line_.HandleKey(key);
    }
    return true;
}

void GameConsole::TakeText(const char* text) {
    if (open_) line_.InsertText(text);
}

void GameConsole::FillOverlay(ConsoleOverlayContent* content) const {
    content->open = open_;
    content->lines.clear();
    for (int i = 0; i < count_; ++i) content->lines.push_back(OutputLine(i));
    content->editLine = line_.Text();
    content->cursor = line_.Cursor();
}

const char* GameConsole::OutputLine(int index) const {
    if (index < 0 || index >= count_) return "";
    return lines_[(first_ + index) % kMaxLines];
}

void GameConsole::AddOutputLine(const char* text) {
    int slot;
    if (count_ < kMaxLines) {
        slot = (first_ + count_) % kMaxLines;
        ++count_;
    } else {
        slot = first_;  // full: the oldest line makes room
        first_ = (first_ + 1) % kMaxLines;
    }
    std::strncpy(lines_[slot], text != nullptr ? text : "", kLineChars);
    lines_[slot][kLineChars] = '\0';
}
