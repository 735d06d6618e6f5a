// The edit line both consoles share (the debug console window and the
// console drawn over the game): a 249-character line edited key by key, the
// history of typed lines for Up and Down, and Tab completion of console
// object names and of world names after "map ".
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

// The editing keys of the input line. Printable characters arrive as text.
enum class ConsoleKey { kEnter, kBackspace, kDelete, kLeft, kRight, kHome, kEnd, kUp, kDown, kTab };

// The newest typed lines, walked from the newest back with Older and forward
// again with Newer. The line being edited when the walk began is kept and
// comes back after the newest.
class LineHistory {
public:
    static constexpr size_t kMaxLines = 32;

    // Adds a line as the newest (the oldest goes beyond kMaxLines) and ends
    // any walk.
    void Add(const std::string& line);
    // Ends a walk without adding a line.
    void Rewind();
    // The next older line; false when there is none. editing is what the
    // input line holds, kept when the walk starts.
    bool Older(const std::string& editing, std::string* line);
    // The next newer line, or the kept one after the newest; false when the
    // walk is not under way.
    bool Newer(std::string* line);

    size_t Size() const { return lines_.size(); }

private:
    std::deque<std::string> lines_;
    size_t position_ = 0;  // lines_.size() while not walking
    std::string editing_;
};

// What Tab makes of a line: the word under completion extended to the longest
// prefix that all candidates starting with it share (a unique candidate also
// gets the space that ends it), and every such candidate.
struct LineCompletion {
    std::string line;
    std::vector<std::string> candidates;  // byte order, each once
};
// Completes the command word from names. After the command word "map" and a
// space, the world name is completed from worlds instead; other arguments
// are left alone.
LineCompletion CompleteLine(const std::string& line, const std::vector<std::string>& names,
                            const std::vector<std::string>& worlds = {});

// The names of the interpreter's live console objects.
std::vector<std::string> ConsoleObjectNames();
// Where Tab finds the names `map` takes. The engine's world catalogue
// installs itself when the program's globals are constructed; with none,
// no world name is offered. Returns the source installed before.
using WorldNameSource = std::vector<std::string> (*)();
WorldNameSource SetWorldNameSource(WorldNameSource source);
// The names `map` takes, from the installed source.
std::vector<std::string> WorldNames();

class ConsoleLine {
public:
    // 249 characters and the terminating zero.
    static constexpr size_t kSize = 250;

    char* Text() { return text_; }
    const char* Text() const { return text_; }
    // Where the caret stands, in bytes.
    size_t Cursor() const;

    // Typed text, inserted at the caret. Control characters are dropped and
    // what does not fit the 249 characters is lost, as in an edit control
    // with a text limit.
    void InsertText(const char* text);
    // Pasted text: a one-line edit takes it up to its first line break.
    void Paste(const char* text);
    // Every key but Enter edits, moves, walks the history or completes;
    // Enter is left to the console, which sends with TakeLine.
    void HandleKey(ConsoleKey key);
    // The line as sent: added to the history when not empty, and the edit
    // line emptied.
    std::string TakeLine();
    // Forgets the text (the history stays).
    void Clear();

    const LineHistory& History() const { return history_; }

private:
    void Complete();
    size_t Length() const;
    void SetText(const std::string& text);

    char text_[kSize] = {};
    size_t cursor_ = 0;
    LineHistory history_;
};
