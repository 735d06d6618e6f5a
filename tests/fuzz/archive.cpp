// Fuzz target: the bytes as a .pk3 archive mounted the way the data folders
// are, then every folder walked and every file opened and read to its end.
// A file must read exactly as long as its stream says. Everything is
// unmounted again before the next input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/archive_files.h"
#include "fuzz/fuzz_support.h"

namespace {

// Hostile archives may nest folders deeply or hold many names: walk a bounded
// part of them, which is all the engine would ever look at either.
constexpr int kMaxDepth = 12;
constexpr int kMaxFiles = 256;

void ReadEntry(const std::string& path) {
    std::FILE* stream = OpenArchiveFile(path.c_str());
    if (stream == nullptr) return;  // damaged entries may refuse to open
    uint64_t length = 0;
    if (!ArchiveStreamLength(stream, &length)) std::abort();
    uint64_t total = 0;
    char block[16384];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, stream)) > 0) total += got;
    const bool failed = std::ferror(stream) != 0;
    std::fclose(stream);
    // A damaged deflate stream stops short with an error; it never runs long.
    if (total > length || (!failed && total != length)) std::abort();
}

void Walk(const std::string& folder, int depth, int* files) {
    for (const ArchiveEntry& entry : ListArchiveFolder(folder.c_str())) {
        if (++*files > kMaxFiles) return;
        ReadEntry(entry.path);
    }
    if (depth == kMaxDepth) return;
    for (const std::string& sub : ListArchiveSubfolders(folder.c_str())) Walk(sub, depth + 1, files);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string folder = fuzz::ScratchFolder() + "/data";
    fuzz::WriteFile(folder + "/fuzz.pk3", data, size);
    if (MountDataFolders({folder}) == 1) {
        int files = 0;
        Walk("", 0, &files);
    }
    UnmountDataFolders();
    return 0;
}
