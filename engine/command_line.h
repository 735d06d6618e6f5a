// The options a Linux user starts the engine with. They decide where the
// engine runs and how it is driven; the engine's own behaviour stays with its
// console.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CommandLine {
    std::string basedir;             // empty: the content folder the build installs
    bool headless = false;
    std::vector<std::string> execLines;
    int64_t frames = -1;             // -1: run until quit
    double fixedFrameMs = 0.0;       // > 0: the frame clock advances this much per frame
    bool acceptDefaults = false;
    bool stats = false;              // print the run's statistics line at exit
    std::string inputScript;         // headless input: timed key, mouse and console events
    std::string screenshot;          // PNG written from the last presented frame at exit
    std::vector<std::pair<std::string, std::string>> dialogSettings;  // --set NAME=VALUE
    std::vector<std::string> dataFolders;  // --data DIR: archives searched before the installed ones
    std::string world;               // a world to open at once: a name or a file
    std::string timedemo;            // a demo to play once as a benchmark, then quit
    bool noMessageBoxes = false;     // boxes' caption and text to standard error, nothing blocks
    // +set NAME VALUE: console variables set after autoexec.cfg, before the
    // start-up level or the world opens.
    std::vector<std::pair<std::string, std::string>> consoleVariables;
};

enum class CommandLineAction { kRun, kExit, kUsageError };

// Parses argv. kExit means --help or --version was answered on standard
// output; kUsageError means a message is in *error.
CommandLineAction ParseCommandLine(int argc, const char* const* argv, CommandLine* options,
                                   std::string* error);

const char* CommandLineHelp();
