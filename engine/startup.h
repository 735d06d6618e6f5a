// Start-up: everything the program does between its entry and the main loop,
// in the engine's order.
#pragma once

struct CommandLine;
struct StartupChoices;

// Runs the engine as the command line asks; returns the process exit code.
int RunOsprel(const CommandLine& options);

// The content folder the build installs, used when --basedir is not given.
const char* DefaultContentFolder();

// Puts what the start-up dialog chose into the console variables: window
// size, mouse, full screen, cursor, debug window, collision, render path.
void ApplyStartupChoices(const StartupChoices& choices);
