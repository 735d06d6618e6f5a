// JPEG decoding of files from anywhere: good files decode as the format
// says, damaged ones fail cleanly, oversized ones are refused unread.
#include <gtest/gtest.h>

#include <stb_image.h>
#include <stb_image_write.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "video/d3d9/jpeg_decoder.h"

namespace {

// A 40 x 24 gradient written as JPEG (quality 95).
std::vector<uint8_t> GradientJpeg(int width = 40, int height = 24) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(x * 255 / (width - 1));
            p[1] = static_cast<uint8_t>(y * 255 / (height - 1));
            p[2] = 128;
        }
    }
    std::vector<uint8_t> file;
    stbi_write_jpg_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<uint8_t>*>(context);
            out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &file, width, height, 3, rgb.data(), 95);
    return file;
}

bool Decode(const std::vector<uint8_t>& file, std::vector<uint8_t>* rgba, int* width, int* height) {
    return DecodeJpeg(file.data(), file.size(), 8192, 16u << 20, rgba, width, height);
}

}  // namespace

TEST(JpegDecoder, DecodesWhatAGeneralDecoderReads) {
    const std::vector<uint8_t> file = GradientJpeg();
    ASSERT_TRUE(LooksLikeJpeg(file.data(), file.size()));
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    ASSERT_TRUE(Decode(file, &rgba, &width, &height));
    EXPECT_EQ(width, 40);
    EXPECT_EQ(height, 24);
    ASSERT_EQ(rgba.size(), 40u * 24u * 4u);

    int w = 0, h = 0, channels = 0;
    stbi_uc* reference = stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &w, &h, &channels, 4);
    ASSERT_NE(reference, nullptr);
    long total = 0;
    for (size_t i = 0; i < rgba.size(); ++i) total += std::abs(static_cast<int>(rgba[i]) - reference[i]);
    stbi_image_free(reference);
    EXPECT_LT(static_cast<double>(total) / rgba.size(), 2.0);  // the decoders round a little differently
    EXPECT_EQ(rgba[3], 255);                                   // opaque
    EXPECT_GT(rgba[(23 * 40 + 39) * 4 + 0], 230);              // bottom right: red and green high
    EXPECT_GT(rgba[(23 * 40 + 39) * 4 + 1], 230);
    EXPECT_LT(rgba[0], 25);                                    // top left: dark

    // In texture memory order: the same pixels with red and blue swapped.
    std::vector<uint8_t> bgra;
    ASSERT_TRUE(DecodeJpeg(file.data(), file.size(), 8192, 16u << 20, &bgra, &width, &height, PixelOrder::kBgra));
    ASSERT_EQ(bgra.size(), rgba.size());
    for (size_t i = 0; i < rgba.size(); i += 4) {
        ASSERT_EQ(bgra[i], rgba[i + 2]) << i;
        ASSERT_EQ(bgra[i + 1], rgba[i + 1]) << i;
        ASSERT_EQ(bgra[i + 2], rgba[i]) << i;
        ASSERT_EQ(bgra[i + 3], 255) << i;
    }
}

TEST(JpegDecoder, DamagedFilesFailWithoutHarm) {
    const std::vector<uint8_t> file = GradientJpeg();
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    // Every cut of the file either decodes (libjpeg pads a short last scan)
    // or fails; neither reads past the bytes given.
    for (size_t cut = 0; cut < file.size(); cut += 7) {
        std::vector<uint8_t> part(file.begin(), file.begin() + static_cast<long>(cut));
        Decode(part, &rgba, &width, &height);
    }
    std::mt19937 random(99);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> broken = file;
        for (int k = 0; k < 6; ++k) broken[random() % broken.size()] = static_cast<uint8_t>(random());
        Decode(broken, &rgba, &width, &height);
    }
    EXPECT_FALSE(Decode({}, &rgba, &width, &height));
    EXPECT_FALSE(Decode({0xFF, 0xD8}, &rgba, &width, &height));
    EXPECT_FALSE(Decode({'G', 'I', 'F', '8', '9', 'a'}, &rgba, &width, &height));
    EXPECT_FALSE(LooksLikeJpeg(nullptr, 10));
}

TEST(JpegDecoder, ImagesDeclaringTooManyPixelsAreRefusedUnread) {
    std::vector<uint8_t> file = GradientJpeg();
    // The baseline frame header: FF C0, length, precision, height, width.
    size_t frame = 0;
    for (size_t i = 2; i + 8 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            frame = i;
            break;
        }
    }
    ASSERT_NE(frame, 0u);
    file[frame + 5] = 0xEA;  // height 60000
    file[frame + 6] = 0x60;
    file[frame + 7] = 0xEA;  // width 60000
    file[frame + 8] = 0x60;
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    EXPECT_FALSE(DecodeJpeg(file.data(), file.size(), 65535, 16u << 20, &rgba, &width, &height));
    EXPECT_TRUE(rgba.empty());  // nothing was allocated for it
    // Within the side limit but over the pixel budget, or over the side limit.
    const std::vector<uint8_t> good = GradientJpeg();
    EXPECT_FALSE(DecodeJpeg(good.data(), good.size(), 8192, 40 * 24 - 1, &rgba, &width, &height));
    EXPECT_FALSE(DecodeJpeg(good.data(), good.size(), 39, 16u << 20, &rgba, &width, &height));
    EXPECT_TRUE(DecodeJpeg(good.data(), good.size(), 40, 40 * 24, &rgba, &width, &height));
}
