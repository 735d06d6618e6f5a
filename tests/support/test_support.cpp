#include "support/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

PrintCapture::PrintCapture() { previous_ = SetPrintTap(PrintTap{Collect, this}); }
PrintCapture::~PrintCapture() { SetPrintTap(previous_); }

void PrintCapture::Collect(const char* text, void* self) {
    static_cast<PrintCapture*>(self)->lines_.emplace_back(text);
}

bool PrintCapture::Contains(const std::string& line) const {
    for (const std::string& l : lines_) {
        if (l == line) return true;
    }
    return false;
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "osprel-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void ScratchFolder::Write(const std::string& name, const std::string& contents) const {
    const std::filesystem::path file = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary);
    out << contents;
}

std::string ScratchFolder::Read(const std::string& name) const {
    std::ifstream in(std::filesystem::path(path_) / name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ScratchFolder::Exists(const std::string& name) const {
    return std::filesystem::exists(std::filesystem::path(path_) / name);
}

void ScratchFolder::CopyContent(const std::vector<std::string>& names) const {
    for (const std::string& name : names) {
        const std::filesystem::path target = std::filesystem::path(path_) / name;
        std::filesystem::create_directories(target.parent_path());
        std::filesystem::copy_file(std::filesystem::path(OSPREL_TEST_CONTENT_DIR) / name, target,
                                   std::filesystem::copy_options::overwrite_existing);
    }
}

ProgramResult RunProgram(const std::string& command) {
    ProgramResult result;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, pipe)) > 0) result.output.append(block, got);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string OnVirtualDisplay(const std::string& run, const std::string& log, const std::string& engineOutput) {
    const std::string checked = ShellQuote(engineOutput.empty() ? log : engineOutput);
    // A shell of its own, so that environment assignments may come before it.
    return "sh -c " + ShellQuote("for attempt in 1 2 3; do rm -f " + checked +
                                 "; { timeout 300 xvfb-run -a -n $((100 + ($$ + 97 * attempt) % 800)) "
                                 "-s '-screen 0 1280x1024x24' " + run + "; } > " + ShellQuote(log) +
                                 " 2>&1; status=$?; grep -qs 'osprel: no display can be reached' " + checked +
                                 " || break; done; exit $status");
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}
