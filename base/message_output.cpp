#include "base/message_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// A pending line as the console list keeps it: up to 250 characters and the
// length the line had with its CR LF.
struct PendingLineRecord {
    char text[252];
    int32_t length;
};

// Plain constant-initialised storage, so printing stays safe both before any
// constructor and after every destructor of the run has executed.
constinit PendingLineRecord s_pending[kMaxPendingLines] = {};
constinit int s_pendingFirst = 0;
constinit int s_pendingCount = 0;
constinit MessageRoute s_route = {};
constinit PrintTap s_tap = {};
constinit MessageBoxFunction s_messageBox = nullptr;
constinit bool s_statusEcho = false;
constinit bool s_boxesOff = false;
constinit ConsoleSink s_consoleSink = nullptr;
constinit LogWriter s_log = {};

// Formatted messages are held to 257 characters so the CR LF always fits the
// 260-byte line buffer.
constexpr size_t kTextBufferSize = 260;
constexpr size_t kMaxMessageChars = 257;

void FormatText(char (&text)[kTextBufferSize], const char* format, va_list args) {
    std::vsnprintf(text, sizeof text, format, args);
    text[kMaxMessageChars] = '\0';
}

void AppendPending(const char* line) {
    int slot;
    if (s_pendingCount < kMaxPendingLines) {
        slot = (s_pendingFirst + s_pendingCount) % kMaxPendingLines;
        ++s_pendingCount;
    } else {
        // Full: the oldest line makes room for the newest.
        slot = s_pendingFirst;
        s_pendingFirst = (s_pendingFirst + 1) % kMaxPendingLines;
    }
    PendingLineRecord& record = s_pending[slot];
    std::memset(record.text, 0, sizeof record.text);
    const size_t lineLength = std::strlen(line);
    const size_t copied = lineLength < kPendingLineChars ? lineLength : kPendingLineChars;
    std::memcpy(record.text, line, copied);
    record.length = static_cast<int32_t>(lineLength);
    // Drop the last two characters copied: normally the CR LF.
    record.text[copied >= 2 ? copied - 2 : 0] = '\0';
}

void PrintText(const char* text) {
    // The text followed by CR LF.
    char line[kTextBufferSize];
    size_t length = std::strlen(text);
    if (length > kMaxMessageChars) length = kMaxMessageChars;
    std::memcpy(line, text, length);
    std::memcpy(line + length, "\r\n", 3);

    if (s_log.enabled != nullptr && s_log.append != nullptr && s_log.enabled()) s_log.append(line);

    if (s_route.windowExists && s_route.debugConsoleEnabled) {
        if (s_route.showInConsole != nullptr) s_route.showInConsole(line);
    } else {
        AppendPending(line);
    }

    if (s_consoleSink != nullptr) s_consoleSink(text);
    if (s_tap.function != nullptr) s_tap.function(text, s_tap.context);
}

void ShowBox(const char* caption, const char* text, MessageBoxIcon icon) {
    if (s_messageBox != nullptr && !s_boxesOff) {
        s_messageBox(caption, text, icon);
    } else {
        std::fprintf(stderr, "%s: %s\n", caption, text);
        std::fflush(stderr);
    }
}

void WriteToStandardOutput(const char* text, void*) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

ConsoleSink SetConsoleSink(ConsoleSink sink) {
    const ConsoleSink previous = s_consoleSink;
    s_consoleSink = sink;
    return previous;
}

void PrintLine(const char* format, ...) {
    char text[kTextBufferSize];
    va_list args;
    va_start(args, format);
    FormatText(text, format, args);
    va_end(args);
    PrintText(text);
}

void ReportError(const char* format, ...) {
    char text[kTextBufferSize];
    va_list args;
    va_start(args, format);
    FormatText(text, format, args);
    va_end(args);
    ShowBox("Osprel Error", text, MessageBoxIcon::kError);
    PrintLine("[Error] %s", text);
}

void ReportWarning(const char* format, ...) {
    char text[kTextBufferSize];
    va_list args;
    va_start(args, format);
    FormatText(text, format, args);
    va_end(args);
    ShowBox("Osprel Warning", text, MessageBoxIcon::kWarning);
    PrintLine("[Warning] %s", text);
}

void SetLogWriter(const LogWriter& writer) { s_log = writer; }
void SetMessageRoute(const MessageRoute& route) { s_route = route; }
MessageRoute GetMessageRoute() { return s_route; }
void SetMessageBoxFunction(MessageBoxFunction show) { s_messageBox = show; }
void ShowMessageBox(const char* caption, const char* text, MessageBoxIcon icon) { ShowBox(caption, text, icon); }
void SetMessageBoxesOff(bool off) { s_boxesOff = off; }
bool MessageBoxesOff() { return s_boxesOff; }

PrintTap SetPrintTap(PrintTap tap) {
    PrintTap previous = s_tap;
    s_tap = tap;
    return previous;
}

PrintTap StandardOutputTap() { return PrintTap{WriteToStandardOutput, nullptr}; }

void SetStatusEcho(bool echo) { s_statusEcho = echo; }

void ShowStatusText(const char* text) {
    if (!s_statusEcho || text == nullptr) return;
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int PendingLineCount() { return s_pendingCount; }

const char* PendingLine(int index) {
    if (index < 0 || index >= s_pendingCount) return nullptr;
    return s_pending[(s_pendingFirst + index) % kMaxPendingLines].text;
}

void ReplayPendingLines() {
    // Take the lines out first: printing them may append to the list again.
    const int count = s_pendingCount;
    const int first = s_pendingFirst;
    static PendingLineRecord replay[kMaxPendingLines];
    for (int i = 0; i < count; ++i) replay[i] = s_pending[(first + i) % kMaxPendingLines];
    ClearPendingLines();
    // The tap saw these lines when they were first printed.
    const PrintTap tap = SetPrintTap(PrintTap{});
    for (int i = 0; i < count; ++i) PrintLine("%s", replay[i].text);
    SetPrintTap(tap);
}

void ClearPendingLines() {
    s_pendingFirst = 0;
    s_pendingCount = 0;
}
