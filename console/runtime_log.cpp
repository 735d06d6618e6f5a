#include "console/runtime_log.h"

#include <cstdio>
#include <cstring>

#include "platform/paths.h"

ConsoleVariable com_log("com_log", 0);

bool RuntimeLogEnabled() { return com_log.kind == kConsoleInteger && com_log.intValue != 0; }

void AppendToRuntimeLog(const char* line) {
    std::FILE* file = OpenFile(kRuntimeLogName, "ab");
    if (file == nullptr) return;
    std::fwrite(line, 1, std::strlen(line), file);
    std::fclose(file);
}

void ResetRuntimeLog() { RemoveFile(kRuntimeLogName); }
