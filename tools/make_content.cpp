// Writes the images the engine's content folder needs and that we make
// ourselves: the fallback texture and the test texture.
//   osprel_make_content FOLDER
#include <stb_image_write.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Magenta and black squares: the look of a surface whose texture is missing.
std::vector<uint8_t> Checker(int size, int square) {
    std::vector<uint8_t> rgb(static_cast<size_t>(size) * size * 3);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const bool lit = ((x / square) + (y / square)) % 2 == 0;
            uint8_t* p = &rgb[(static_cast<size_t>(y) * size + x) * 3];
            p[0] = lit ? 255 : 0;
            p[1] = 0;
            p[2] = lit ? 255 : 0;
        }
    }
    return rgb;
}

// A colour ramp with an opaque frame, to check that images arrive the right
// way up and in the right colours.
std::vector<uint8_t> TestPattern(int size) {
    std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            uint8_t* p = &rgba[(static_cast<size_t>(y) * size + x) * 4];
            const bool frame = x < 4 || y < 4 || x >= size - 4 || y >= size - 4;
            p[0] = frame ? 255 : static_cast<uint8_t>(x * 255 / (size - 1));
            p[1] = frame ? 255 : static_cast<uint8_t>(y * 255 / (size - 1));
            p[2] = frame ? 255 : 128;
            p[3] = 255;
        }
    }
    return rgba;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: osprel_make_content FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<uint8_t> checker = Checker(64, 8);
    const std::vector<uint8_t> pattern = TestPattern(64);
    bool ok = stbi_write_jpg((folder + "/noshader.jpg").c_str(), 64, 64, 3, checker.data(), 95) != 0;
    ok = stbi_write_tga((folder + "/test.tga").c_str(), 64, 64, 4, pattern.data()) != 0 && ok;
    if (!ok) {
        std::fprintf(stderr, "osprel_make_content: cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
