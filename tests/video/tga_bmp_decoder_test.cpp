// TGA and BMP files from anywhere: what they declare is checked against
// their length and the limits before a pixel is decoded, and no other format
// is read under their names.
#include "video/d3d9/tga_bmp_decoder.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
}

std::vector<uint8_t> Pattern(int width, int height) {
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    for (size_t i = 0; i < rgba.size(); ++i) rgba[i] = static_cast<uint8_t>(i * 7 + 3);
    for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 255;  // BMP keeps alpha only as opaque
    return rgba;
}

std::vector<uint8_t> Tga(int width, int height, const std::vector<uint8_t>& rgba, bool runLength) {
    std::vector<uint8_t> bytes;
    stbi_write_tga_with_rle = runLength ? 1 : 0;
    stbi_write_tga_to_func(Append, &bytes, width, height, 4, rgba.data());
    stbi_write_tga_with_rle = 1;
    return bytes;
}

std::vector<uint8_t> Bmp(int width, int height, const std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> bytes;
    stbi_write_bmp_to_func(Append, &bytes, width, height, 4, rgba.data());
    return bytes;
}

// An uncompressed 32-bit TGA header declaring width x height, without pixels.
std::vector<uint8_t> TgaHeader(int width, int height) {
    std::vector<uint8_t> header(18, 0);
    header[2] = 2;
    header[12] = static_cast<uint8_t>(width);
    header[13] = static_cast<uint8_t>(width >> 8);
    header[14] = static_cast<uint8_t>(height);
    header[15] = static_cast<uint8_t>(height >> 8);
    header[16] = 32;
    return header;
}

bool Decode(const std::vector<uint8_t>& file, std::vector<uint8_t>* rgba, int* width, int* height,
            uint32_t maxSide = 8192) {
    return DecodeTgaOrBmp(file.data(), file.size(), maxSide, (64ull << 20) / 4, rgba, width, height);
}

}  // namespace

TEST(TgaBmpDecoder, PlainAndRunLengthTgaAndBmpDecodeExactly) {
    const std::vector<uint8_t> pixels = Pattern(5, 3);
    for (const auto& [name, file] : {std::pair{"tga", Tga(5, 3, pixels, false)},
                                     std::pair{"rle tga", Tga(5, 3, pixels, true)}, std::pair{"bmp", Bmp(5, 3, pixels)}}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> rgba;
        int width = 0, height = 0;
        ASSERT_TRUE(Decode(file, &rgba, &width, &height));
        EXPECT_EQ(width, 5);
        EXPECT_EQ(height, 3);
        EXPECT_EQ(rgba, pixels);
        // Every file shorter than the whole is refused or decodes without
        // reading past its end; none cut before its pixels decodes.
        for (size_t cut = 0; cut < file.size(); ++cut) {
            const std::vector<uint8_t> part(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
            rgba.clear();
            if (Decode(part, &rgba, &width, &height)) {
                EXPECT_EQ(rgba.size(), pixels.size()) << cut;
            }
        }
    }
}

TEST(TgaBmpDecoder, DeclaredSizesAreCheckedBeforeAnythingIsDecoded) {
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    // 16384 x 16384 declared by 18 bytes: refused at once, nothing allocated.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Decode(TgaHeader(16384, 16384), &rgba, &width, &height));
    std::vector<uint8_t> padded = TgaHeader(4096, 4096);
    padded.resize(1000, 0x7f);
    EXPECT_FALSE(Decode(padded, &rgba, &width, &height));  // 64 MB declared, 1 KB given
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(rgba.empty());
    // Sides past the device's limit, and an empty image.
    const std::vector<uint8_t> pixels = Pattern(4, 4);
    EXPECT_FALSE(Decode(Tga(4, 4, pixels, false), &rgba, &width, &height, 3));
    EXPECT_FALSE(Decode(TgaHeader(0, 4), &rgba, &width, &height));
    // A run-length TGA too short for one packet per 128 pixels.
    std::vector<uint8_t> runs = TgaHeader(1024, 1024);
    runs[2] = 10;
    runs.resize(18 + 100, 0);
    EXPECT_FALSE(Decode(runs, &rgba, &width, &height));
    // A BMP whose rows reach past its end.
    std::vector<uint8_t> bmp = Bmp(8, 8, Pattern(8, 8));
    bmp.resize(bmp.size() - 1);
    EXPECT_FALSE(Decode(bmp, &rgba, &width, &height));
}

TEST(TgaBmpDecoder, OtherFormatsUnderTheseNamesAreRefused) {
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    std::vector<uint8_t> png;
    const std::vector<uint8_t> pixels = Pattern(2, 2);
    stbi_write_png_to_func(Append, &png, 2, 2, 4, pixels.data(), 8);
    EXPECT_FALSE(Decode(png, &rgba, &width, &height));
    for (const std::string& text : {std::string("P6\n2 2\n65535\n") + std::string(24, '\xff'),  // 16-bit PPM
                                   std::string("GIF89a\x02\x00\x02\x00\x00\x00\x00", 13) + std::string(20, '\0'),
                                   std::string("8BPS\x00\x01", 6) + std::string(40, '\0'),
                                   std::string("#?RADIANCE\n\n-Y 2 +X 2\n") + std::string(16, '\x01')}) {
        const std::vector<uint8_t> file(text.begin(), text.end());
        EXPECT_FALSE(Decode(file, &rgba, &width, &height)) << text.substr(0, 6);
    }
    EXPECT_FALSE(DecodeTgaOrBmp(nullptr, 10, 8192, 1 << 24, &rgba, &width, &height));
}
