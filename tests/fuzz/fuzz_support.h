// Helpers the fuzz targets share: a scratch folder for the inputs that the
// engine reads by path, kept for the whole process and removed at exit.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fuzz {

// The process's scratch folder (made on first use). The working directory is
// left alone: targets name files in it by absolute path, or change into it
// for the length of one input and back.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        // Every input is written and read back at least once: in memory
        // (/dev/shm) a run costs tens of microseconds, on disk milliseconds.
        // TMPDIR, when set, still decides.
        std::filesystem::path base = std::filesystem::temp_directory_path();
        std::error_code error;
        if (std::getenv("TMPDIR") == nullptr && std::filesystem::is_directory("/dev/shm", error) &&
            ::access("/dev/shm", W_OK) == 0) {
            base = "/dev/shm";
        }
        std::string pattern = (base / "osprel-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        static std::string removeAtExit;
        removeAtExit = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removeAtExit, ignored);
        });
        return pattern;
    }();
    return folder;
}

// Writes the input to a file; aborts when it cannot (that is a broken
// machine, not a finding).
inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

// The working directory set to a folder while it lives.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& folder) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder);
    }
    ~WorkingDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

}  // namespace fuzz
