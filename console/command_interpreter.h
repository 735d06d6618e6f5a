// The command interpreter: the console subsystem. It owns the list of console
// objects, executes console lines, and runs the lines queued from the debug
// console during its frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/subsystem.h"
#include "console/console_object.h"
#include "console/console_object_list.h"

// A queued line holds at most this many characters.
constexpr size_t kMaxQueuedLineChars = 249;

class CCommandInterpreter : public Subsystem {
public:
    CCommandInterpreter();
    ~CCommandInterpreter() override;

    // Runs every queued line in queue order, then empties the queue.
    int32_t frame() override;

    ConsoleObjectList& Objects() { return objects_; }
    const ConsoleObjectList& Objects() const { return objects_; }

private:
    ConsoleObjectList objects_;
};

extern CCommandInterpreter g_commandInterpreter;

// Executes one console line at once. Always returns 1.
int32_t ExecuteLine(const char* line);
// Queues a line (cut to 249 characters) for the interpreter's next frame;
// returns the number of queued lines.
int32_t QueueLine(const char* line);
// Queues a line the user typed into the debug console. It runs like any
// queued line, but is first printed as "] line", so that the output shows
// each typed line above what it printed, in the order they were typed.
int32_t QueueTypedLine(const char* line);
int32_t QueuedLineCount();

// Splits a console line at spaces (runs of spaces separate, nothing else
// does); a space between double quotes does not split. Quotes stay in the
// tokens.
std::vector<std::string> SplitConsoleLine(const char* line);
// A command's argument without its double quotes, for arguments that name a
// file: a file name never holds one, and a quoted name may hold spaces.
std::string UnquotedArgument(const char* argument);

// Whether the interpreter has been constructed (never cleared again).
bool InterpreterExists();
