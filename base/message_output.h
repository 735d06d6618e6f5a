// Message output: the only paths by which the engine prints. Every line goes
// to the log while the log says it is on (the runtime log, com_log), and to
// the debug console once it exists; lines printed before that wait in a
// bounded pending list.
#pragma once

#include <cstddef>
#include <cstdint>

#define OSPREL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

void PrintLine(const char* format, ...) OSPREL_PRINTF(1, 2);
// Message box captioned "Osprel Error", then the line "[Error] <text>".
void ReportError(const char* format, ...) OSPREL_PRINTF(1, 2);
// Message box captioned "Osprel Warning", then the line "[Warning] <text>".
void ReportWarning(const char* format, ...) OSPREL_PRINTF(1, 2);

// The log every printed line goes to, CR LF included, while enabled() says
// so. The runtime log (console/runtime_log.h) installs itself here when the
// program's globals are constructed; until then, and with none, nothing is
// logged.
struct LogWriter {
    bool (*enabled)() = nullptr;
    void (*append)(const char* line) = nullptr;
};
void SetLogWriter(const LogWriter& writer);

// Where lines go, as the operating-system subsystem decides it.
struct MessageRoute {
    bool windowExists = false;
    bool debugConsoleEnabled = false;
    // Shows one line (ending in CR LF) in the debug console window; null while
    // that window does not exist.
    void (*showInConsole)(const char* line) = nullptr;
};
void SetMessageRoute(const MessageRoute& route);
MessageRoute GetMessageRoute();

// Message boxes. The platform back end installs the real one; until then the
// caption and text go to standard error and nothing blocks.
enum class MessageBoxIcon { kError, kWarning };
using MessageBoxFunction = void (*)(const char* caption, const char* text, MessageBoxIcon icon);
void SetMessageBoxFunction(MessageBoxFunction show);
// Shows a box through the installed function, as ReportError and
// ReportWarning do, for texts of any length.
void ShowMessageBox(const char* caption, const char* text, MessageBoxIcon icon);
// With boxes turned off (--no-message-boxes, for scripted runs) every box's
// caption and text go to standard error and nothing blocks, whatever
// function is installed.
void SetMessageBoxesOff(bool off);
bool MessageBoxesOff();

// A tap sees every printed line after formatting (without CR LF). Headless
// runs tap standard output; tests tap a capture buffer. Returns the previous.
struct PrintTap {
    void (*function)(const char* text, void* context) = nullptr;
    void* context = nullptr;
};
PrintTap SetPrintTap(PrintTap tap);
// The tap that writes each line to standard output.
PrintTap StandardOutputTap();

// The console drawn over the game sees every printed line (without CR LF),
// whatever else taps the output. Returns the previous one.
using ConsoleSink = void (*)(const char* text);
ConsoleSink SetConsoleSink(ConsoleSink sink);

// Status text such as the loading screen's line: never logged or shown in
// the console, but echoed on standard output when the engine runs headless,
// where standard output stands for the screen.
void SetStatusEcho(bool echo);
void ShowStatusText(const char* text);

// The pending list: the newest lines printed while no console was showing
// them, at most kMaxPendingLines of them.
constexpr int kMaxPendingLines = 1024;
constexpr int kPendingLineChars = 250;
int PendingLineCount();
const char* PendingLine(int index);  // oldest first
// Prints every pending line again, as plain text, in order, then empties the
// list. The operating-system subsystem does this when the debug console opens.
void ReplayPendingLines();
void ClearPendingLines();
