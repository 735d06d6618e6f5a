#include "platform/console_line.h"

#include <algorithm>
#include <cstring>

#include "base/message_output.h"
#include "console/command_interpreter.h"

namespace {

constinit WorldNameSource s_worldNames = nullptr;

// The line holds UTF-8; the caret moves and deletes by whole characters.
bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;  // a stray continuation byte or no lead at all
}

size_t PreviousCharacter(const char* text, size_t at) {
    if (at == 0) return 0;
    --at;
    while (at > 0 && IsContinuation(text[at])) --at;
    return at;
}

size_t NextCharacter(const char* text, size_t at, size_t length) {
    if (at >= length) return length;
    ++at;
    while (at < length && IsContinuation(text[at])) ++at;
    return at;
}

// Completes the word of line that starts at wordStart from the choices.
LineCompletion CompleteWord(const std::string& line, size_t wordStart, const std::vector<std::string>& choices) {
    LineCompletion completion{line, {}};
    const std::string word = line.substr(wordStart);
    for (const std::string& choice : choices) {
        if (!choice.empty() && choice.compare(0, word.size(), word) == 0) completion.candidates.push_back(choice);
    }
    std::sort(completion.candidates.begin(), completion.candidates.end());
    completion.candidates.erase(std::unique(completion.candidates.begin(), completion.candidates.end()),
                                completion.candidates.end());
    if (completion.candidates.empty()) return completion;

    if (completion.candidates.size() == 1) {
        completion.line = line.substr(0, wordStart) + completion.candidates[0] + " ";
        return completion;
    }
    // Sorted, the first and last candidates differ the soonest.
    const std::string& first = completion.candidates.front();
    const std::string& last = completion.candidates.back();
    size_t shared = 0;
    while (shared < first.size() && shared < last.size() && first[shared] == last[shared]) ++shared;
    completion.line = line.substr(0, wordStart) + first.substr(0, shared);
    return completion;
}

}  // namespace

void LineHistory::Add(const std::string& line) {
    lines_.push_back(line);
    while (lines_.size() > kMaxLines) lines_.pop_front();
    Rewind();
}

void LineHistory::Rewind() {
    position_ = lines_.size();
    editing_.clear();
}

bool LineHistory::Older(const std::string& editing, std::string* line) {
    if (position_ == 0) return false;
    if (position_ == lines_.size()) editing_ = editing;
    --position_;
    *line = lines_[position_];
    return true;
}

bool LineHistory::Newer(std::string* line) {
    if (position_ >= lines_.size()) return false;
    ++position_;
    *line = position_ == lines_.size() ? editing_ : lines_[position_];
    return true;
}

LineCompletion CompleteLine(const std::string& line, const std::vector<std::string>& names,
                            const std::vector<std::string>& worlds) {
    // Runs of spaces separate words, so leading ones are kept as typed.
    const size_t start = line.find_first_not_of(' ');
    const size_t wordStart = start == std::string::npos ? line.size() : start;
    const size_t wordEnd = line.find(' ', wordStart);
    if (wordEnd == std::string::npos) return CompleteWord(line, wordStart, names);

    // Past the command word come arguments; only map's world name is known.
    if (line.compare(wordStart, wordEnd - wordStart, "map") != 0) return LineCompletion{line, {}};
    const size_t argumentStart = line.find_first_not_of(' ', wordEnd);
    if (argumentStart == std::string::npos) return CompleteWord(line, line.size(), worlds);
    if (line.find(' ', argumentStart) != std::string::npos) return LineCompletion{line, {}};
    return CompleteWord(line, argumentStart, worlds);
}

std::vector<std::string> ConsoleObjectNames() {
    std::vector<std::string> names;
    const ConsoleObjectList& objects = g_commandInterpreter.Objects();
    for (int32_t i = 0; i < objects.Count(); ++i) {
        const ConsoleObject* object = objects.At(i);
        // Destroyed records stay in the list; lookups pass them over.
        if (object->kind == kConsoleDestroyed || object->name == nullptr) continue;
        names.emplace_back(object->name);
    }
    return names;
}

WorldNameSource SetWorldNameSource(WorldNameSource source) {
    const WorldNameSource previous = s_worldNames;
    s_worldNames = source;
    return previous;
}

std::vector<std::string> WorldNames() {
    if (s_worldNames == nullptr) return {};
    return s_worldNames();
}

size_t ConsoleLine::Length() const { return strnlen(text_, kSize - 1); }

size_t ConsoleLine::Cursor() const { return std::min(cursor_, Length()); }

void ConsoleLine::InsertText(const char* text) {
    if (text == nullptr) return;
    size_t length = Length();
    size_t cursor = Cursor();
    const char* p = text;
    while (*p != '\0') {
        const unsigned char lead = static_cast<unsigned char>(*p);
        size_t count = SequenceLength(lead);
        bool whole = count > 0 && !(lead < 0x20 || lead == 0x7F);
        for (size_t i = 1; whole && i < count; ++i) whole = IsContinuation(p[i]);
        if (!whole) {
            ++p;  // a control character or a broken sequence
            continue;
        }
        if (length + count > kSize - 1) break;  // full: the rest is lost
        std::memmove(text_ + cursor + count, text_ + cursor, length - cursor + 1);
        std::memcpy(text_ + cursor, p, count);
        cursor += count;
        length += count;
        p += count;
    }
    cursor_ = cursor;
}

void ConsoleLine::Paste(const char* text) {
    if (text == nullptr) return;
    const std::string firstLine(text, std::strcspn(text, "\r\n"));
    InsertText(firstLine.c_str());
}

void ConsoleLine::SetText(const std::string& text) {
    std::memset(text_, 0, sizeof text_);
    size_t length = std::min(text.size(), kSize - 1);
    // Never end on half a character.
    if (length < text.size()) {
        while (length > 0 && IsContinuation(text[length])) --length;
    }
    std::memcpy(text_, text.data(), length);
    cursor_ = length;
}

void ConsoleLine::Clear() {
    std::memset(text_, 0, sizeof text_);
    cursor_ = 0;
}

void ConsoleLine::HandleKey(ConsoleKey key) {
    const size_t length = Length();
    const size_t cursor = Cursor();
    std::string line;
    switch (key) {
        case ConsoleKey::kEnter:
            break;
        case ConsoleKey::kBackspace:
            if (cursor > 0) {
                const size_t from = PreviousCharacter(text_, cursor);
                std::memmove(text_ + from, text_ + cursor, length - cursor + 1);
                cursor_ = from;
            }
            break;
        case ConsoleKey::kDelete:
            if (cursor < length) {
                const size_t to = NextCharacter(text_, cursor, length);
                std::memmove(text_ + cursor, text_ + to, length - to + 1);
                cursor_ = cursor;
            }
            break;
        case ConsoleKey::kLeft:
            cursor_ = PreviousCharacter(text_, cursor);
            break;
        case ConsoleKey::kRight:
            cursor_ = NextCharacter(text_, cursor, length);
            break;
        case ConsoleKey::kHome:
            cursor_ = 0;
            break;
        case ConsoleKey::kEnd:
            cursor_ = length;
            break;
        case ConsoleKey::kUp:
            if (history_.Older(std::string(text_, length), &line)) SetText(line);
            break;
        case ConsoleKey::kDown:
            if (history_.Newer(&line)) SetText(line);
            break;
        case ConsoleKey::kTab:
            Complete();
            break;
    }
}

void ConsoleLine::Complete() {
    const std::string typed(text_, Length());
    // The catalogue is only read when a world name is being completed.
    const size_t start = typed.find_first_not_of(' ');
    const bool afterMap = start != std::string::npos && typed.compare(start, 4, "map ") == 0;
    const LineCompletion completion =
        CompleteLine(typed, ConsoleObjectNames(), afterMap ? WorldNames() : std::vector<std::string>{});
    if (completion.candidates.size() > 1) {
        // The choices go to the output, under the line as far as it is settled.
        PrintLine("] %s", completion.line.c_str());
        for (const std::string& name : completion.candidates) PrintLine("    %s", name.c_str());
    }
    if (completion.line != typed) SetText(completion.line);
}

std::string ConsoleLine::TakeLine() {
    text_[kSize - 1] = '\0';
    std::string line(text_);
    if (!line.empty()) {
        history_.Add(line);
    } else {
        history_.Rewind();
    }
    Clear();
    return line;
}
