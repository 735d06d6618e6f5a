#include "video/d3d9/tga_bmp_decoder.h"

#include <climits>

// The decoder's own copy of stb_image, with every other format left out and
// nothing exported.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_TGA
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#define STBI_MAX_DIMENSIONS 16384
#include <stb_image.h>

namespace {

uint32_t Little16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
uint32_t Little32(const uint8_t* p) { return Little16(p) | Little16(p + 2) << 16; }

// The fewest bytes a BMP of this size can be (its pixel rows start at the
// offset its header names); 0 for a header too short to say.
uint64_t SmallestBmp(const uint8_t* data, size_t size, uint64_t width, uint64_t height) {
    if (size < 30) return 0;
    const uint64_t offset = Little32(data + 10);
    const uint64_t bits = Little16(data + 28);
    const uint64_t stride = (width * bits + 31) / 32 * 4;
    return offset + stride * height;
}

// The fewest bytes a TGA of this size can be: every pixel stored, or for a
// run-length coded one a one-byte packet with one pixel per 128.
uint64_t SmallestTga(const uint8_t* data, size_t size, uint64_t width, uint64_t height) {
    if (size < 18) return 0;
    const uint64_t idLength = data[0];
    const uint64_t mapBytes = data[1] != 0 ? Little16(data + 5) * ((data[7] + 7u) / 8u) : 0;
    const uint64_t pixelBytes = (data[16] + 7u) / 8u;
    const uint64_t pixels = width * height;
    const bool runLength = data[2] >= 8;
    const uint64_t body = runLength ? (pixels + 127) / 128 * (1 + pixelBytes) : pixels * pixelBytes;
    return 18 + idLength + mapBytes + body;
}

}  // namespace

bool DecodeTgaOrBmp(const uint8_t* data, size_t size, uint32_t maxSide, uint64_t maxPixels,
                    std::vector<uint8_t>* rgba, int* width, int* height) {
    if (data == nullptr || size == 0 || size > static_cast<size_t>(INT_MAX) || rgba == nullptr) return false;
    int w = 0, h = 0, channels = 0;
    const int length = static_cast<int>(size);
    if (stbi_info_from_memory(data, length, &w, &h, &channels) == 0) return false;
    if (w <= 0 || h <= 0 || static_cast<uint32_t>(w) > maxSide || static_cast<uint32_t>(h) > maxSide ||
        static_cast<uint64_t>(w) * static_cast<uint64_t>(h) > maxPixels) {
        return false;
    }
    const bool bmp = size >= 2 && data[0] == 'B' && data[1] == 'M';
    const uint64_t smallest = bmp ? SmallestBmp(data, size, static_cast<uint64_t>(w), static_cast<uint64_t>(h))
                                  : SmallestTga(data, size, static_cast<uint64_t>(w), static_cast<uint64_t>(h));
    if (smallest == 0 || size < smallest) return false;
    int decodedWidth = 0, decodedHeight = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, length, &decodedWidth, &decodedHeight, &channels, 4);
    if (pixels == nullptr) return false;
    if (decodedWidth != w || decodedHeight != h) {
        stbi_image_free(pixels);
        return false;
    }
    rgba->assign(pixels, pixels + static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    stbi_image_free(pixels);
    *width = w;
    *height = h;
    return true;
}
