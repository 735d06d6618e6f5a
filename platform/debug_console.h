// The debug console window's behaviour, apart from how it is drawn: an output
// that every printed line is appended to, and an input line that the user
// edits key by key and whose text goes to the interpreter's queue when the
// user presses Enter. The edit line keeps the last typed lines for Up and
// Down and completes console object names with Tab.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

// Control ids of the console.
constexpr int kConsoleOutputId = 1001;
constexpr int kConsoleInputId = 1002;
constexpr int kConsoleSendId = 1003;
constexpr int kCommandOk = 1;
constexpr int kCommandCancel = 2;

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

// What Tab makes of a line: the first word completed to the longest prefix
// that all console object names starting with it share (a unique name also
// gets the space that ends it), and every such name.
struct LineCompletion {
    std::string line;
    std::vector<std::string> candidates;  // byte order, each once
};
LineCompletion CompleteLine(const std::string& line, const std::vector<std::string>& names);

// The names of the interpreter's live console objects.
std::vector<std::string> ConsoleObjectNames();

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
    const char* Input() const { return input_; }
    // Where the caret stands in the input line, in bytes.
    size_t Cursor() const;

    // Typed text, inserted at the caret. Control characters are dropped and
    // what does not fit the 249 characters is lost, as in an edit control
    // with a text limit.
    void InsertText(const char* text);
    // Pasted text: a one-line edit takes it up to its first line break.
    void Paste(const char* text);
    // An editing key: Enter sends, the others edit, move, walk the history
    // or complete.
    void HandleKey(ConsoleKey key);
    const LineHistory& History() const { return history_; }

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
    void Complete();
    size_t Length() const;
    void SetInput(const std::string& text);

    std::string output_;
    char input_[kInputSize] = {};
    size_t cursor_ = 0;
    LineHistory history_;
    bool visible_ = false;
    bool scroll_ = false;
};
