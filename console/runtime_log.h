// The runtime log, "runtime.log" in the working directory: while com_log is
// set every printed line is appended to it and the file closed again, so a
// line is on disk before the next one is printed.
#pragma once

#include "console/console_object.h"

extern ConsoleVariable com_log;

constexpr const char* kRuntimeLogName = "runtime.log";

bool RuntimeLogEnabled();
// Appends the line exactly as given. A log that cannot be opened loses the
// line; the line still reaches every other output.
void AppendToRuntimeLog(const char* line);
// Deletes the log so that a run's log holds only that run's lines. Start-up
// does this once the working directory is the content folder.
void ResetRuntimeLog();
