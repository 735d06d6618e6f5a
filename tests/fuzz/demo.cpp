// Fuzz target: the bytes as a demo file read by the demo loader. A demo that
// reads must write back and read again to the same packets.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/demo.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = fuzz::ScratchFolder() + "/fuzz.dem";
    fuzz::WriteFile(path, data, size);
    Demo demo;
    if (!ReadDemoFile(path.c_str(), &demo)) return 0;
    if (demo.packets.size() > size / sizeof(DemoPacket)) std::abort();

    const std::string again = fuzz::ScratchFolder() + "/again.dem";
    if (!WriteDemoFile(again.c_str(), &demo)) std::abort();
    Demo back;
    if (!ReadDemoFile(again.c_str(), &back)) std::abort();
    if (back.packets.size() != demo.packets.size() ||
        std::memcmp(back.world, demo.world, sizeof demo.world) != 0 ||
        (!demo.packets.empty() &&
         std::memcmp(back.packets.data(), demo.packets.data(), demo.packets.size() * sizeof(DemoPacket)) != 0)) {
        std::abort();
    }
    return 0;
}
