// Images decoded into their mip chains, on worker threads or not, and levels
// written, locked and read again in any order.
#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <cstdio>
#include <string>
#include <vector>

#include "d3d9_test_support.h"
#include "video/d3d9/d3dx9.h"
#include "video/image_decode_queue.h"

namespace {

// A TGA of width x height RGBA pixels, as file bytes.
std::vector<uint8_t> Tga(int width, int height, const std::vector<uint8_t>& rgba) {
    std::vector<uint8_t> bytes;
    stbi_write_tga_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<uint8_t>*>(context);
            out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &bytes, width, height, 4, rgba.data());
    return bytes;
}

// A one-colour TGA written to a temporary file; the file's path.
std::string WriteTga(const std::string& name, uint8_t red) {
    const std::string path = ::testing::TempDir() + name;
    const std::vector<uint8_t> rgba = {red, 1, 2, 255, red, 1, 2, 255, red, 1, 2, 255, red, 1, 2, 255};
    const std::vector<uint8_t> bytes = Tga(2, 2, rgba);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

}  // namespace

TEST(ImageDecode, AWholeMipChainOfRoundedAveragesInArgbMemoryOrder) {
    // 4 x 2: red, green, blue, white / black, black, grey, grey.
    const std::vector<uint8_t> rgba = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255,
                                       0, 0, 0, 255,   0, 0, 0, 255,   100, 100, 100, 1, 100, 100, 100, 1};
    const std::vector<uint8_t> tga = Tga(4, 2, rgba);
    D3DXDecodedImage image;
    ASSERT_EQ(D3DXDecodeImage(tga.data(), tga.size(), 8192, &image), D3D_OK);
    EXPECT_EQ(image.width, 4u);
    EXPECT_EQ(image.height, 2u);
    ASSERT_EQ(image.levels.size(), 3u);  // 4x2, 2x1, 1x1
    ASSERT_EQ(image.levels[0].size(), 32u);
    EXPECT_EQ((std::vector<uint8_t>(image.levels[0].begin(), image.levels[0].begin() + 8)),
              (std::vector<uint8_t>{0, 0, 255, 255, 0, 255, 0, 255}));  // B, G, R, A
    ASSERT_EQ(image.levels[1].size(), 8u);
    // (red + green + 2 black) / 4 and (blue + white + 2 grey) / 4, rounded.
    EXPECT_EQ(image.levels[1], (std::vector<uint8_t>{0, 64, 64, 255, 178, 114, 114, 128}));
    ASSERT_EQ(image.levels[2].size(), 4u);
    EXPECT_EQ(image.levels[2], (std::vector<uint8_t>{89, 89, 89, 192}));  // a side of 1 stays 1

    // A JPEG lands in the same order: a red image's texels are B 0, G 0, R 255.
    std::vector<uint8_t> jpeg;
    std::vector<uint8_t> red(8 * 8 * 3, 0);
    for (size_t i = 0; i < red.size(); i += 3) red[i] = 255;
    stbi_write_jpg_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<uint8_t>*>(context);
            out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
        },
        &jpeg, 8, 8, 3, red.data(), 95);
    D3DXDecodedImage fromJpeg;
    ASSERT_EQ(D3DXDecodeImage(jpeg.data(), jpeg.size(), 8192, &fromJpeg), D3D_OK);
    ASSERT_EQ(fromJpeg.levels.size(), 4u);  // 8, 4, 2, 1
    for (const std::vector<uint8_t>& level : fromJpeg.levels) {
        ASSERT_GE(level.size(), 4u);
        EXPECT_LT(level[0], 8);
        EXPECT_LT(level[1], 8);
        EXPECT_GT(level[2], 247);
        EXPECT_EQ(level[3], 255);
    }

    // Larger than the device takes, empty, or not an image: refused.
    EXPECT_EQ(D3DXDecodeImage(tga.data(), tga.size(), 3, &image), D3DXERR_INVALIDDATA);
    EXPECT_TRUE(image.levels.empty());
    EXPECT_EQ(D3DXDecodeImage(tga.data(), 0, 8192, &image), D3DXERR_INVALIDDATA);
    const uint8_t junk[] = "not an image at all";
    EXPECT_EQ(D3DXDecodeImage(junk, sizeof junk, 8192, &image), D3DXERR_INVALIDDATA);
}

TEST(ImageDecode, TheQueueHandsEachImageToItsKeyWithOrWithoutWorkers) {
    std::vector<std::string> paths;
    for (int i = 0; i < 6; ++i) {
        paths.push_back(WriteTga("queue_" + std::to_string(i) + ".tga", static_cast<uint8_t>(10 * i)));
    }
    const std::string damaged = ::testing::TempDir() + "queue_damaged.tga";
    std::FILE* file = std::fopen(damaged.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("not an image", file);
    std::fclose(file);

    for (const int workers : {0, 1, 3}) {
        SCOPED_TRACE(workers);
        ImageDecodeQueue queue(8192, workers);
        for (size_t i = 0; i < paths.size(); ++i) queue.Submit(i, std::fopen(paths[i].c_str(), "rb"));
        queue.Submit(100, std::fopen(damaged.c_str(), "rb"));
        // Taken out of order: each key gets its own image.
        for (const size_t key : {size_t{3}, size_t{0}, size_t{5}, size_t{1}, size_t{4}, size_t{2}}) {
            D3DXDecodedImage image;
            ASSERT_EQ(queue.Take(key, &image), D3D_OK);
            ASSERT_FALSE(image.levels.empty());
            EXPECT_EQ(image.levels[0][2], 10 * key);  // red, third in memory
        }
        D3DXDecodedImage image;
        EXPECT_EQ(queue.Take(100, &image), D3DXERR_INVALIDDATA);
        EXPECT_EQ(queue.Take(100, &image), D3DERR_INVALIDCALL);  // taken already
        EXPECT_EQ(queue.Take(7, &image), D3DERR_INVALIDCALL);    // never submitted
        // Jobs still waiting when the queue goes are dropped, their files closed.
        queue.Submit(200, std::fopen(paths[0].c_str(), "rb"));
        queue.Submit(201, std::fopen(paths[1].c_str(), "rb"));
    }
    for (const std::string& path : paths) std::remove(path.c_str());
    std::remove(damaged.c_str());
}

TEST_F(D3D9DeviceTest, LockedLevelsKeepWhatWasWrittenAcrossLocks) {
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(4, 4, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    ASSERT_EQ(texture->GetLevelCount(), 3u);
    const auto texel = [](const D3DLOCKED_RECT& locked, int x, int y) {
        return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch)[x];
    };
    D3DLOCKED_RECT locked;
    // A level never written reads as zero.
    ASSERT_EQ(texture->LockRect(1, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(texel(locked, 1, 1), 0u);
    EXPECT_EQ(texture->UnlockRect(1), D3D_OK);

    ASSERT_EQ(texture->LockRect(1, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch)[x] =
                0xFF000000u | static_cast<uint32_t>(0x10 * (y * 2 + x + 1));
        }
    }
    EXPECT_EQ(texture->UnlockRect(1), D3D_OK);
    // A rectangle of one texel changes that texel only.
    const RECT one = {1, 0, 2, 1};
    ASSERT_EQ(texture->LockRect(1, &locked, &one, 0), D3D_OK);
    *static_cast<uint32_t*>(locked.pBits) = 0x80ABCDEFu;
    EXPECT_EQ(texture->UnlockRect(1), D3D_OK);
    ASSERT_EQ(texture->LockRect(1, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(texel(locked, 0, 0), 0xFF000010u);
    EXPECT_EQ(texel(locked, 1, 0), 0x80ABCDEFu);
    EXPECT_EQ(texel(locked, 0, 1), 0xFF000030u);
    EXPECT_EQ(texel(locked, 1, 1), 0xFF000040u);
    EXPECT_EQ(texture->UnlockRect(1), D3D_OK);
    // Other levels were not touched; a second lock of a locked level fails.
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    EXPECT_EQ(texel(locked, 3, 3), 0u);
    D3DLOCKED_RECT again;
    EXPECT_NE(texture->LockRect(0, &again, nullptr, 0), D3D_OK);
    EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
    EXPECT_NE(texture->UnlockRect(0), D3D_OK);
    texture->Release();
}

TEST_F(D3D9DeviceTest, DecodedImagesBecomeTexturesLevelByLevel) {
    const std::vector<uint8_t> rgba = {200, 100, 50, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
    const std::vector<uint8_t> tga = Tga(2, 2, rgba);
    D3DXDecodedImage image;
    ASSERT_EQ(D3DXDecodeImage(tga.data(), tga.size(), D3DXMaxTextureSide(device_), &image), D3D_OK);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromImage(device_, image, &texture), D3D_OK);
    ASSERT_EQ(texture->GetLevelCount(), 2u);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(*static_cast<const uint32_t*>(locked.pBits), 0xFFC86432u);
    texture->UnlockRect(0);
    ASSERT_EQ(texture->LockRect(1, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(*static_cast<const uint32_t*>(locked.pBits), 0xFF32190Du);  // the average, rounded
    texture->UnlockRect(1);
    texture->Release();

    // Levels that do not fit the image's size make no texture.
    image.levels[1].resize(3);
    texture = nullptr;
    EXPECT_TRUE(FAILED(D3DXCreateTextureFromImage(device_, image, &texture)));
    EXPECT_EQ(texture, nullptr);
    EXPECT_TRUE(FAILED(D3DXCreateTextureFromImage(device_, D3DXDecodedImage{}, &texture)));
    EXPECT_GT(D3DXMaxTextureSide(device_), 1024u);
}
