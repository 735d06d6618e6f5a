// Fuzz target: the bytes as one shader script read into a fresh table. Every
// shader the reader says it added must be found again by its own name.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "video/shader_scripts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShaderTable table;
    std::vector<std::string> problems;
    const int added = table.AddScript("fuzz.shader", reinterpret_cast<const char*>(data), size, &problems);
    if (added < 0 || static_cast<size_t>(added) != table.Size()) std::abort();
    if (problems.size() > ShaderTable::kMaxProblemsPerScript + 1) std::abort();
    return 0;
}
