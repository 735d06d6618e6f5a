// Helpers shared by the engine's tests.
#pragma once

#include <string>
#include <vector>

#include "base/message_output.h"

// Collects every line printed while it lives.
class PrintCapture {
public:
    PrintCapture();
    ~PrintCapture();
    PrintCapture(const PrintCapture&) = delete;
    PrintCapture& operator=(const PrintCapture&) = delete;

    const std::vector<std::string>& Lines() const { return lines_; }
    std::string Last() const { return lines_.empty() ? std::string() : lines_.back(); }
    bool Contains(const std::string& line) const;
    void Clear() { lines_.clear(); }

private:
    static void Collect(const char* text, void* self);
    std::vector<std::string> lines_;
    PrintTap previous_;
};

// A fresh temporary folder that is the working directory while it lives.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return path_; }
    // Writes a file (relative names are inside the folder).
    void Write(const std::string& name, const std::string& contents) const;
    std::string Read(const std::string& name) const;
    bool Exists(const std::string& name) const;
    // Copies files of the engine's installed content folder into this one.
    void CopyContent(const std::vector<std::string>& names) const;

private:
    std::string path_;
    std::string previous_;
};

// Runs a program through the shell and collects standard output (and the
// exit code); standard error goes to stderr_file when one is given.
struct ProgramResult {
    int exitCode = -1;
    std::string output;
};
ProgramResult RunProgram(const std::string& command);
std::string ShellQuote(const std::string& text);
// A shell command that runs `run` (the rest of an xvfb-run command line: a
// program and its arguments) on a virtual X display of its own, its
// standard output and error into log. Where the engine says in
// engineOutput (log when empty) that no display could be reached (when two
// servers start side by side on a busy machine, one now and then refuses
// its first client), it is run again, at most three times in all. The
// command's status is the last run's.
std::string OnVirtualDisplay(const std::string& run, const std::string& log, const std::string& engineOutput = "");
std::vector<std::string> SplitLines(const std::string& text);
