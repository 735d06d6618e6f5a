#include "console/command_interpreter.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "base/message_output.h"

namespace {

constinit bool s_interpreterExists = false;
constinit ConsoleObjectList* s_objects = nullptr;
constinit ConsoleObject* s_pendingHead = nullptr;
constinit ConsoleObject* s_pendingTail = nullptr;

struct QueuedLine {
    std::string text;
    bool typed;  // echoed as "] text" when it runs
};

// Lines queued from the debug console.
std::deque<QueuedLine>& CommandQueue() {
    static std::deque<QueuedLine> queue;
    return queue;
}

int32_t Enqueue(const char* line, bool typed) {
    if (line == nullptr) line = "";
    std::deque<QueuedLine>& queue = CommandQueue();
    queue.push_back(QueuedLine{std::string(line, strnlen(line, kMaxQueuedLineChars)), typed});
    return static_cast<int32_t>(queue.size());
}

// atoi's reading of a token (leading decimal integer, 0 if none), held to the
// range of a 32-bit integer instead of overflowing.
int32_t ParseInteger(const char* text) {
    errno = 0;
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

void RunCommand(const ConsoleObject* object, int32_t position,
                const std::vector<std::string>& tokens) {
    const int32_t argc = static_cast<int32_t>(tokens.size()) - 1;
    if (argc == 0) {
        object->handler(position, 0, 0, nullptr);
        return;
    }
    std::vector<ConsoleArgument> arguments;
    arguments.reserve(static_cast<size_t>(argc));
    for (size_t i = 1; i < tokens.size(); ++i) arguments.push_back({tokens[i].c_str(), 0});
    object->handler(position, argc, 0, arguments.data());
}

void ShowOrSet(ConsoleObject* object, const std::vector<std::string>& tokens) {
    const bool setting = tokens.size() > 1;
    if (setting && object->readOnly) {
        PrintLine("%s is readonly.", object->name);
        return;
    }
    const char* value = setting ? tokens[1].c_str() : nullptr;
    switch (object->kind) {
        case kConsoleFloat:
            if (setting) object->floatValue = static_cast<float>(std::atof(value));
            PrintLine(setting ? "%s set \"%f\"" : "%s is \"%f\"", object->name,
                      static_cast<double>(object->floatValue));
            break;
        case kConsoleString:
            if (setting) object->SetString(value);
            PrintLine(setting ? "%s set \"%s\"" : "%s is \"%s\"", object->name,
                      object->stringValue != nullptr ? object->stringValue : "");
            break;
        case kConsoleInteger:
            if (setting) object->intValue = ParseInteger(value);
            PrintLine(setting ? "%s set \"%i\"" : "%s is \"%i\"", object->name, object->intValue);
            break;
        default:
            break;
    }
}

}  // namespace

bool InterpreterExists() { return s_interpreterExists; }

void AddConsoleObject(ConsoleObject* object) {
    if (s_interpreterExists) {
        s_objects->Insert(object);
        return;
    }
    object->pendingNext = nullptr;
    if (s_pendingTail != nullptr) s_pendingTail->pendingNext = object;
    else s_pendingHead = object;
    s_pendingTail = object;
}

void RemoveConsoleObject(ConsoleObject* object) {
    if (s_interpreterExists) {
        s_objects->Remove(object);
        return;
    }
    ConsoleObject* previous = nullptr;
    for (ConsoleObject* at = s_pendingHead; at != nullptr; previous = at, at = at->pendingNext) {
        if (at != object) continue;
        if (previous != nullptr) previous->pendingNext = at->pendingNext;
        else s_pendingHead = at->pendingNext;
        if (s_pendingTail == at) s_pendingTail = previous;
        return;
    }
}

ConsoleObject* FindConsoleObject(const char* name) {
    if (s_objects == nullptr || name == nullptr) return nullptr;
    return s_objects->Find(name);
}

CCommandInterpreter::CCommandInterpreter() {
    Setup("CCommandInterpreter");
    RegisterSubsystem(this);
    priority = 10;
    s_objects = &objects_;
    s_interpreterExists = true;
    // Objects constructed before the interpreter go in by name like every
    // later one, so the list is in name order whichever order the linker
    // gave the globals.
    ConsoleObject* object = s_pendingHead;
    while (object != nullptr) {
        ConsoleObject* next = object->pendingNext;
        object->pendingNext = nullptr;
        objects_.Insert(object);
        object = next;
    }
    s_pendingHead = nullptr;
    s_pendingTail = nullptr;
}

CCommandInterpreter::~CCommandInterpreter() {
    UnregisterSubsystem(this);
    Teardown();
    objects_.Clear();
    // Console objects destroyed after this have no list to leave.
    s_interpreterExists = false;
    s_objects = nullptr;
}

int32_t CCommandInterpreter::frame() {
    // Lines queued while these run wait for the next frame.
    std::deque<QueuedLine> lines;
    lines.swap(CommandQueue());
    for (const QueuedLine& line : lines) {
        if (line.typed) PrintLine("] %s", line.text.c_str());
        ExecuteLine(line.text.c_str());
    }
    return finished;
}

std::vector<std::string> SplitConsoleLine(const char* line) {
    std::vector<std::string> tokens;
    if (line == nullptr) return tokens;
    const char* p = line;
    while (*p != '\0') {
        while (*p == ' ') ++p;
        if (*p == '\0') break;
        const char* start = p;
        // A space between double quotes belongs to the token, so a file name
        // with spaces can be given quoted. The quotes stay in the token: a
        // line without a quoted space splits as it always did, and the
        // commands that take a file name drop them (UnquotedArgument).
        bool quoted = false;
        while (*p != '\0' && (quoted || *p != ' ')) {
            if (*p == '"') quoted = !quoted;
            ++p;
        }
        tokens.emplace_back(start, static_cast<size_t>(p - start));
    }
    return tokens;
}

std::string UnquotedArgument(const char* argument) {
    std::string text;
    if (argument == nullptr) return text;
    for (const char* p = argument; *p != '\0'; ++p) {
        if (*p != '"') text += *p;
    }
    return text;
}

int32_t ExecuteLine(const char* line) {
    const std::vector<std::string> tokens = SplitConsoleLine(line);
    if (tokens.empty() || s_objects == nullptr) return 1;

    int32_t position = 0;
    ConsoleObject* object = s_objects->Find(tokens[0].c_str(), &position);
    if (object == nullptr) {
        PrintLine("%s: Unknown command.", line);
        return 1;
    }
    if (object->kind == kConsoleCommand) {
        if (object->handler != nullptr) RunCommand(object, position, tokens);
    } else {
        ShowOrSet(object, tokens);
    }
    return 1;
}

int32_t QueueLine(const char* line) { return Enqueue(line, false); }

int32_t QueueTypedLine(const char* line) { return Enqueue(line, true); }

int32_t QueuedLineCount() { return static_cast<int32_t>(CommandQueue().size()); }
