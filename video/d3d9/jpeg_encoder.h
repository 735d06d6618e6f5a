// JPEG files written through libjpeg-turbo, for screenshots named ".jpg".
#pragma once

#include <cstdint>
#include <vector>

// Encodes width x height 8-bit RGBA pixels (rows top first; alpha is
// dropped) at quality 1-100 into *jpeg. False on any error, with *jpeg empty.
bool EncodeJpeg(const uint8_t* rgba, int width, int height, int quality, std::vector<uint8_t>* jpeg);
