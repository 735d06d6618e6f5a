// Fuzz target: the bytes as one shader script read into a fresh table. Every
// shader the reader says it added must be in the table, and the problem lines
// stay within their caps.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "video/shader_scripts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShaderTable table;
    std::vector<std::string> problems;
    const int added = table.AddScript("fuzz.shader", reinterpret_cast<const char*>(data), size, &problems);
    if (added < 0 || static_cast<size_t>(added) != table.Size()) std::abort();
    // The faults, the line that stops them, and the notes on unknown keywords
    // with the line that ends those.
    const size_t mostLines = ShaderTable::kMaxProblemsPerScript + 1 + ShaderTable::kMaxNoteLinesPerScript + 1;
    if (problems.size() > mostLines) std::abort();
    // The first bytes as an argument: every wave form stays within [-1, 1]
    // for any number at all.
    if (size >= sizeof(double)) {
        double x = 0.0;
        std::memcpy(&x, data, sizeof x);
        for (int form = 0; form <= static_cast<int>(WaveForm::kNoise); ++form) {
            const float value = WaveShape(static_cast<WaveForm>(form), x);
            if (!(value >= -1.0f && value <= 1.0f)) std::abort();
        }
    }
    return 0;
}
