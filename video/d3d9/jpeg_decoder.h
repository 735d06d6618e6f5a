// JPEG images through libjpeg-turbo: made for files from anywhere, and
// several times faster than a general-purpose decoder on the engine's
// textures. A damaged file is a failed decode, never an exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// True when the bytes start like a JPEG file.
bool LooksLikeJpeg(const uint8_t* data, size_t size);

// The order of each pixel's four bytes in memory.
enum class PixelOrder { kRgba, kBgra };

// Decodes to 8-bit RGBA (or BGRA, the memory order of an A8R8G8B8 texture),
// rows top first, alpha 255. Refuses images whose declared size is zero,
// larger than maxSide on a side, or more than maxPixels in all, before any
// pixel is decoded; false on any error.
bool DecodeJpeg(const uint8_t* data, size_t size, uint32_t maxSide, uint64_t maxPixels, std::vector<uint8_t>* rgba,
                int* width, int* height, PixelOrder order = PixelOrder::kRgba);
