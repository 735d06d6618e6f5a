// TGA and BMP images, the engine's other two texture formats, through a
// decoder built for those two formats only: a file of any other kind named
// ".tga" is refused, not decoded by whatever reader recognises it. The size a
// file declares is checked against the file's length and the limits before
// any pixel is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Decodes to 8-bit RGBA, rows top first. Refuses images whose declared size
// is zero, larger than maxSide on a side or more than maxPixels in all, and
// files too short to hold the pixels they declare; false on any error.
bool DecodeTgaOrBmp(const uint8_t* data, size_t size, uint32_t maxSide, uint64_t maxPixels,
                    std::vector<uint8_t>* rgba, int* width, int* height);
