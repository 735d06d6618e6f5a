// The program's entry: parse the command line, then run the engine.
#include <cstdio>
#include <string>

#include "engine/command_line.h"
#include "engine/startup.h"
#include "platform/heap.h"

int main(int argc, char** argv) {
    KeepFreedMemoryInHeap();
    CommandLine options;
    std::string error;
    switch (ParseCommandLine(argc, argv, &options, &error)) {
        case CommandLineAction::kExit:
            return 0;
        case CommandLineAction::kUsageError:
            std::fprintf(stderr, "osprel: %s\nTry 'osprel --help' for more information.\n",
                         error.c_str());
            return 2;
        case CommandLineAction::kRun:
            break;
    }
    return RunOsprel(options);
}
