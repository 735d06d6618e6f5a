#include "console/runtime_log.h"

#include <cstdio>
#include <cstring>

#include "base/message_output.h"
#include "base/paths.h"

ConsoleVariable com_log("com_log", 0);

namespace {

// Message output sits below the console and cannot name com_log: the log
// hands it its switch and its writer while the globals are constructed,
// before anything can set com_log.
struct LogRegistration {
    LogRegistration() { SetLogWriter(LogWriter{RuntimeLogEnabled, AppendToRuntimeLog}); }
};
LogRegistration s_logRegistration;

}  // namespace

bool RuntimeLogEnabled() { return com_log.kind == kConsoleInteger && com_log.intValue != 0; }

void AppendToRuntimeLog(const char* line) {
    std::FILE* file = OpenFile(kRuntimeLogName, "ab");
    if (file == nullptr) return;
    std::fwrite(line, 1, std::strlen(line), file);
    std::fclose(file);
}

void ResetRuntimeLog() { RemoveFile(kRuntimeLogName); }
