// Fuzz target: an image file's bytes through the decoder every texture goes
// through (JPEG, TGA and BMP). A decoded image must hold its whole mip chain,
// each level exactly the size its sides say.
#include <cstdint>
#include <cstdlib>

#include "video/d3d9/d3dx9.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    D3DXDecodedImage image;
    if (FAILED(D3DXDecodeImage(data, size, 8192, &image))) return 0;
    if (image.width == 0 || image.height == 0 || image.width > 8192 || image.height > 8192 || image.levels.empty()) {
        std::abort();
    }
    UINT width = image.width;
    UINT height = image.height;
    for (const std::vector<uint8_t>& level : image.levels) {
        if (level.size() != static_cast<size_t>(width) * height * 4) std::abort();
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
    return 0;
}
