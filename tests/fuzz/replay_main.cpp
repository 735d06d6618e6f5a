// Replays a fuzz target's corpus as an ordinary program: every file of the
// folders named on the command line goes through LLVMFuzzerTestOneInput once,
// in name order. A fault in the engine shows as a crash (or, under the
// sanitizers, as their report); a folder without files is itself a failure,
// so that a lost corpus cannot pass unnoticed.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Targets that set up something for the whole process define this, as
// libFuzzer would call it.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER...\n", argv[0]);
        return 2;
    }
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    for (int a = 1; a < argc; ++a) {
        std::vector<std::filesystem::path> files;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(argv[a], error)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
        if (error || files.empty()) {
            std::fprintf(stderr, "%s: no corpus files\n", argv[a]);
            return 1;
        }
        std::sort(files.begin(), files.end());
        for (const std::filesystem::path& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (!in.good() && !in.eof()) {
                std::fprintf(stderr, "%s: unreadable\n", file.c_str());
                return 1;
            }
            std::printf("replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        }
        std::printf("%zu inputs of %s replayed\n", files.size(), argv[a]);
    }
    return 0;
}
