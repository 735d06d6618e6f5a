#include "engine/command_line.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/console_object.h"
#include "engine/version.h"
#include "platform/startup_dialog.h"

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

bool ParseFrameMs(const char* text, double* ms) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !(value > 0.0) || value > 1.0e6) return false;
    *ms = value;
    return true;
}

// The words after a +command: up to the next +command or --option.
std::vector<std::string> AliasArguments(int argc, const char* const* argv, int* i) {
    std::vector<std::string> words;
    while (*i + 1 < argc) {
        const char* next = argv[*i + 1];
        if (next[0] == '+' || (next[0] == '-' && next[1] == '-')) break;
        words.emplace_back(next);
        ++*i;
    }
    return words;
}

// The habits of this format's engines: +set NAME VALUE, +map NAME and
// +exec FILE, each with the words that follow it.
bool ParseAlias(const char* alias, const std::vector<std::string>& words, CommandLine* options,
                std::string* error) {
    const std::string name(alias);
    if (name == "+set") {
        if (words.size() != 2) {
            *error = "+set takes NAME VALUE (a console variable and one word)";
            return false;
        }
        const ConsoleObject* object = FindConsoleObject(words[0].c_str());
        if (object == nullptr || !object->IsVariable()) {
            *error = "+set: no console variable is called '" + words[0] + "'";
            return false;
        }
        options->consoleVariables.emplace_back(words[0], words[1]);
        return true;
    }
    if (name == "+map") {
        if (words.size() != 1 || words[0].empty()) {
            *error = "+map takes one world";
            return false;
        }
        if (!options->world.empty()) {
            *error = "one world at a time: '" + options->world + "' and '" + words[0] + "'";
            return false;
        }
        options->world = words[0];
        return true;
    }
    if (name == "+exec") {
        if (words.size() != 1 || words[0].empty()) {
            *error = "+exec takes one config file";
            return false;
        }
        options->execLines.push_back("loadConfig " + words[0]);
        return true;
    }
    *error = "unknown command '" + name + "' (+set, +map and +exec are known)";
    return false;
}

}  // namespace

const char* CommandLineHelp() {
    return "Usage: osprel [OPTION]... [WORLD]\n"
           "Explore Quake III Arena BSP worlds.\n"
           "\n"
           "WORLD opens that world at once, at its first spawn point, without the\n"
           "start-up dialog or a demo: a name such as oa_dm1 (maps/oa_dm1.lmf or\n"
           "maps/oa_dm1.bsp in the content folder or the archives) or a world file\n"
           "such as ~/worlds/mine.bsp.\n"
           "\n"
           "  --basedir DIR   run in DIR, the content folder (default: the one the\n"
           "                  build installs)\n"
           "  --data DIR      also read the .pk3 archives of DIR, before the installed\n"
           "                  OpenArena data; repeatable, the first is searched first\n"
           "  --headless      no display: offscreen, console on standard input and\n"
           "                  output; chosen by itself when there is no display\n"
           "  --exec LINE     run LINE through the console after start-up; repeatable\n"
           "  --accept-defaults\n"
           "                  answer the start-up dialog with OK on its defaults\n"
           "  --set NAME=VALUE\n"
           "                  set one start-up dialog control, then OK without showing\n"
           "                  it: resolution=0..5 path=0..4 level=0..2 demo=0..3\n"
           "                  (list positions); fullscreen cursor debug invert log\n"
           "                  collision (0 or 1); repeatable\n"
           "  --input-script FILE\n"
           "                  headless input by frame: FRAME key NAME down|up,\n"
           "                  FRAME mouse DX DY, FRAME console LINE\n"
           "  --frames N      quit after N engine frames\n"
           "  --fixed-frame-ms MS\n"
           "                  the frame clock advances MS milliseconds per frame\n"
           "  --screenshot FILE\n"
           "                  at exit, write the last presented frame as PNG (JPEG when\n"
           "                  FILE ends in .jpg or .jpeg)\n"
           "  --stats         at exit, print frames, frames per second, camera position\n"
           "                  and angles, and render items drawn in the last frame\n"
           "  --no-message-boxes\n"
           "                  write message boxes' captions and texts to standard error\n"
           "                  instead of showing them, so that nothing waits for a click\n"
           "                  (for scripted runs; headless runs always do)\n"
           "  +set NAME VALUE set a console variable after autoexec.cfg, before the\n"
           "                  world opens\n"
           "  +map WORLD      the same as naming WORLD\n"
           "  +exec FILE      run the config file FILE, as --exec 'loadConfig FILE'\n"
           "  --timedemo FILE\n"
           "                  play the demo FILE (or a name in demos/, such as demo003)\n"
           "                  once in its world with the clock stepping 16 ms a frame,\n"
           "                  drawing as fast as possible; print frames, seconds, fps\n"
           "                  and frame times, then exit (no dialog, no start-up demo)\n"
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
        } else if (std::strcmp(arg, "--data") == 0) {
            if (!needsValue("a folder")) return CommandLineAction::kUsageError;
            options->dataFolders.emplace_back(value);
            ++i;
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
        } else if (std::strcmp(arg, "--fixed-frame-ms") == 0) {
            if (!needsValue("milliseconds")) return CommandLineAction::kUsageError;
            if (!ParseFrameMs(value, &options->fixedFrameMs)) {
                *error = std::string("invalid frame time '") + value + "'";
                return CommandLineAction::kUsageError;
            }
            ++i;
        } else if (std::strcmp(arg, "--input-script") == 0) {
            if (!needsValue("a file")) return CommandLineAction::kUsageError;
            options->inputScript = value;
            ++i;
        } else if (std::strcmp(arg, "--stats") == 0) {
            options->stats = true;
        } else if (std::strcmp(arg, "--screenshot") == 0) {
            if (!needsValue("a file name")) return CommandLineAction::kUsageError;
            options->screenshot = value;
            ++i;
        } else if (std::strcmp(arg, "--timedemo") == 0) {
            if (!needsValue("a demo file")) return CommandLineAction::kUsageError;
            if (*value == '\0') {
                *error = "the timedemo's file name is empty";
                return CommandLineAction::kUsageError;
            }
            options->timedemo = value;
            ++i;
        } else if (std::strcmp(arg, "--no-message-boxes") == 0) {
            options->noMessageBoxes = true;
        } else if (arg[0] == '+' && arg[1] != '\0') {
            const std::vector<std::string> words = AliasArguments(argc, argv, &i);
            if (!ParseAlias(arg, words, options, error)) return CommandLineAction::kUsageError;
        } else if (std::strcmp(arg, "--accept-defaults") == 0) {
            options->acceptDefaults = true;
        } else if (std::strcmp(arg, "--set") == 0) {
            if (!needsValue("NAME=VALUE")) return CommandLineAction::kUsageError;
            const std::string setting(value);
            const size_t equals = setting.find('=');
            if (equals == std::string::npos) {
                *error = "--set takes NAME=VALUE, not '" + setting + "'";
                return CommandLineAction::kUsageError;
            }
            const std::string name = setting.substr(0, equals);
            const std::string chosen = setting.substr(equals + 1);
            StartupDialog probe;  // checks the name and value against the real table
            probe.Initialise();
            if (!probe.SetByName(name, chosen, error)) return CommandLineAction::kUsageError;
            options->dialogSettings.emplace_back(name, chosen);
            ++i;
        } else if (arg[0] == '-' && arg[1] != '\0') {
            *error = std::string("unknown option '") + arg + "'";
            return CommandLineAction::kUsageError;
        } else if (!options->world.empty()) {
            *error = std::string("one world at a time: '") + options->world + "' and '" + arg + "'";
            return CommandLineAction::kUsageError;
        } else if (arg[0] == '\0') {
            *error = "the world's name is empty";
            return CommandLineAction::kUsageError;
        } else {
            options->world = arg;
        }
    }
    if (!options->timedemo.empty() && !options->world.empty()) {
        *error = "--timedemo plays in its demo's own world: name no world with it";
        return CommandLineAction::kUsageError;
    }
    return CommandLineAction::kRun;
}
