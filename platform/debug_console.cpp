#include "platform/debug_console.h"

#include <algorithm>
#include <cstring>

#include "console/command_interpreter.h"
#include "platform/message_output.h"

namespace {

// The input line holds UTF-8; the caret moves and deletes by whole characters.
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

LineCompletion CompleteLine(const std::string& line, const std::vector<std::string>& names) {
    LineCompletion completion{line, {}};
    // Runs of spaces separate words, so leading ones are kept as typed.
    const size_t start = line.find_first_not_of(' ');
    const size_t wordStart = start == std::string::npos ? line.size() : start;
    const std::string word = line.substr(wordStart);
    // Only the command word is completed; past it come arguments.
    if (word.find(' ') != std::string::npos) return completion;

    for (const std::string& name : names) {
        if (!name.empty() && name.compare(0, word.size(), word) == 0) completion.candidates.push_back(name);
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

void DebugConsole::Append(const char* line) {
    // The output shows plain line feeds.
    for (const char* p = line; *p != '\0'; ++p) {
        if (*p != '\r') output_ += *p;
    }
    if (output_.size() > kMaxOutput) {
        size_t cut = output_.find('\n', output_.size() - kMaxOutput);
        output_.erase(0, cut == std::string::npos ? output_.size() - kMaxOutput : cut + 1);
    }
    scroll_ = true;
}

size_t DebugConsole::Length() const { return strnlen(input_, kInputSize - 1); }

size_t DebugConsole::Cursor() const { return std::min(cursor_, Length()); }

void DebugConsole::InsertText(const char* text) {
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
        if (length + count > kInputSize - 1) break;  // full: the rest is lost
        std::memmove(input_ + cursor + count, input_ + cursor, length - cursor + 1);
        std::memcpy(input_ + cursor, p, count);
        cursor += count;
        length += count;
        p += count;
    }
    cursor_ = cursor;
}

void DebugConsole::Paste(const char* text) {
    if (text == nullptr) return;
    const std::string firstLine(text, std::strcspn(text, "\r\n"));
    InsertText(firstLine.c_str());
}

void DebugConsole::SetInput(const std::string& text) {
    std::memset(input_, 0, sizeof input_);
    size_t length = std::min(text.size(), kInputSize - 1);
    // Never end on half a character.
    if (length < text.size()) {
        while (length > 0 && IsContinuation(text[length])) --length;
    }
    std::memcpy(input_, text.data(), length);
    cursor_ = length;
}

void DebugConsole::HandleKey(ConsoleKey key) {
    const size_t length = Length();
    const size_t cursor = Cursor();
    std::string line;
    switch (key) {
        case ConsoleKey::kEnter:
            OnCommand(kConsoleSendId);
            break;
        case ConsoleKey::kBackspace:
            if (cursor > 0) {
                const size_t from = PreviousCharacter(input_, cursor);
                std::memmove(input_ + from, input_ + cursor, length - cursor + 1);
                cursor_ = from;
            }
            break;
        case ConsoleKey::kDelete:
            if (cursor < length) {
                const size_t to = NextCharacter(input_, cursor, length);
                std::memmove(input_ + cursor, input_ + to, length - to + 1);
                cursor_ = cursor;
            }
            break;
        case ConsoleKey::kLeft:
            cursor_ = PreviousCharacter(input_, cursor);
            break;
        case ConsoleKey::kRight:
            cursor_ = NextCharacter(input_, cursor, length);
            break;
        case ConsoleKey::kHome:
            cursor_ = 0;
            break;
        case ConsoleKey::kEnd:
            cursor_ = length;
            break;
        case ConsoleKey::kUp:
            if (history_.Older(std::string(input_, length), &line)) SetInput(line);
            break;
        case ConsoleKey::kDown:
            if (history_.Newer(&line)) SetInput(line);
            break;
        case ConsoleKey::kTab:
            Complete();
            break;
    }
}

void DebugConsole::Complete() {
    const std::string typed(input_, Length());
    const LineCompletion completion = CompleteLine(typed, ConsoleObjectNames());
    if (completion.candidates.size() > 1) {
        // The choices go to the output, under the line as far as it is settled.
        PrintLine("] %s", completion.line.c_str());
        for (const std::string& name : completion.candidates) PrintLine("    %s", name.c_str());
    }
    if (completion.line != typed) SetInput(completion.line);
}

void DebugConsole::OnCommand(int id) {
    if (id == kConsoleSendId) Send();
    // OK and Cancel are swallowed so that keys cannot close the console.
}

void DebugConsole::Send() {
    input_[kInputSize - 1] = '\0';
    if (input_[0] != '\0') {
        history_.Add(input_);
        QueueTypedLine(input_);
    } else {
        history_.Rewind();
    }
    std::memset(input_, 0, sizeof input_);
    cursor_ = 0;
    scroll_ = true;
}

bool DebugConsole::TakeScrollRequest() {
    const bool scroll = scroll_;
    scroll_ = false;
    return scroll;
}
