#include "engine/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/version.h"

namespace {

bool ParseFrameCount(const char* text, int64_t* frames) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1) return false;
    *frames = value;
    return true;
}

}  // namespace

const char* CommandLineHelp() {
    return "Usage: osprel [OPTION]...\n"
           "Explore Quake III Arena BSP worlds.\n"
           "\n"
           "  --basedir DIR   run in DIR, the content folder (default: the one the\n"
           "                  build installs)\n"
           "  --headless      no display: offscreen, console on standard input and\n"
           "                  output; chosen by itself when there is no display\n"
           "  --exec LINE     run LINE through the console after start-up; repeatable\n"
           "  --frames N      quit after N engine frames\n"
           "  --help          show this help and exit\n"
           "  --version       show the version and exit\n";
}

CommandLineAction ParseCommandLine(int argc, const char* const* argv, CommandLine* options,
                                   std::string* error) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needsValue = [&](const char* what) {
            if (value != nullptr) return true;
            *error = std::string("option '") + arg + "' needs " + what;
            return false;
        };
        if (std::strcmp(arg, "--help") == 0) {
            std::fputs(CommandLineHelp(), stdout);
            return CommandLineAction::kExit;
        } else if (std::strcmp(arg, "--version") == 0) {
            std::printf("osprel %s\n", kOsprelVersion);
            return CommandLineAction::kExit;
        } else if (std::strcmp(arg, "--headless") == 0) {
            options->headless = true;
        } else if (std::strcmp(arg, "--basedir") == 0) {
            if (!needsValue("a folder")) return CommandLineAction::kUsageError;
            options->basedir = value;
            ++i;
        } else if (std::strcmp(arg, "--exec") == 0) {
            if (!needsValue("a console line")) return CommandLineAction::kUsageError;
            options->execLines.emplace_back(value);
            ++i;
        } else if (std::strcmp(arg, "--frames") == 0) {
            if (!needsValue("a frame count")) return CommandLineAction::kUsageError;
            if (!ParseFrameCount(value, &options->frames)) {
                *error = std::string("invalid frame count '") + value + "'";
                return CommandLineAction::kUsageError;
            }
            ++i;
        } else {
            *error = std::string("unknown option '") + arg + "'";
            return CommandLineAction::kUsageError;
        }
    }
    return CommandLineAction::kRun;
}
