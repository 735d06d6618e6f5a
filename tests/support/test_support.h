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
std::vector<std::string> SplitLines(const std::string& text);
