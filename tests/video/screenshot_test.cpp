// The screenshot command: where pictures go, and that they hold the frame as
// it was presented in every render path.
#include "video/screenshot.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "console/command_interpreter.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/d3d9/jpeg_decoder.h"
#include "video/renderer.h"
#include "video/video_cvars.h"
#include "video/video_system.h"

namespace {

// The picture as 0xAARRGGBB, top row first; empty when it cannot be read.
std::vector<uint32_t> ReadPng(const std::string& path, int* width, int* height) {
    int channels = 0;
    unsigned char* rgba = stbi_load(path.c_str(), width, height, &channels, 4);
    std::vector<uint32_t> argb;
    if (rgba == nullptr) return argb;
    const size_t count = static_cast<size_t>(*width) * static_cast<size_t>(*height);
    argb.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* p = rgba + i * 4;
        argb[i] = (uint32_t{p[3]} << 24) | (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
    }
    stbi_image_free(rgba);
    return argb;
}

// Overlay glyph pixels in the top-left corner, where "Project Osprel" stands.
int WhiteInOverlayCorner(const std::vector<uint32_t>& argb, int width) {
    int white = 0;
    for (int y = 10; y < 24; ++y) {
        for (int x = 10; x < 110; ++x) {
            const uint32_t p = argb[static_cast<size_t>(y) * width + x];
            if (((p >> 16) & 0xFF) > 240 && ((p >> 8) & 0xFF) > 240 && (p & 0xFF) > 240) ++white;
        }
    }
    return white;
}

}  // namespace

TEST(ScreenshotNames, NextFreeNumberFromZeroUpInTheScreenshotsFolder) {
    ScratchFolder folder;
    std::string error;
    EXPECT_EQ(NextScreenshotPath(&error), "screenshots/shot0000.png");
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path() + "/screenshots"));
    EXPECT_EQ(NextScreenshotPath(&error), "screenshots/shot0000.png");  // nothing written yet

    folder.Write("screenshots/shot0000.png", "x");
    folder.Write("screenshots/shot0002.png", "x");
    EXPECT_EQ(NextScreenshotPath(&error), "screenshots/shot0001.png");  // a gap is filled first
    folder.Write("screenshots/SHOT0001.PNG", "x");                       // taken in another case
    EXPECT_EQ(NextScreenshotPath(&error), "screenshots/shot0003.png");
    EXPECT_TRUE(error.empty());
}

TEST(ScreenshotNames, AFileInTheFoldersPlaceIsReported) {
    ScratchFolder folder;
    folder.Write("screenshots", "not a folder");
    std::string error;
    EXPECT_EQ(NextScreenshotPath(&error), "");
    EXPECT_EQ(error, "cannot make the folder screenshots");
}

TEST(ScreenshotNames, GivenNamesGetThePngExtensionOnlyWhenTheyHaveNone) {
    EXPECT_EQ(ScreenshotFileName("tower"), "tower.png");
    EXPECT_EQ(ScreenshotFileName("tower.png"), "tower.png");
    EXPECT_EQ(ScreenshotFileName("tower.PNG"), "tower.PNG");
    EXPECT_EQ(ScreenshotFileName("shots.v2/tower"), "shots.v2/tower.png");  // a dot in a folder is no extension
    EXPECT_EQ(ScreenshotFileName("shots.v2\\tower"), "shots.v2\\tower.png");
    EXPECT_EQ(ScreenshotFileName("shots/.hidden"), "shots/.hidden.png");
}

namespace {

// A started video subsystem with the renderer's images, as the engine runs.
class ScreenshotOnDevice : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.CopyContent({"shaders.hlsl", "noshader.jpg", "loading.jpg", "textures/negz.jpg",
                             "textures/posz.jpg", "textures/posx.jpg", "textures/negx.jpg",
                             "textures/posy.jpg"});
        window_ = std::make_unique<HeadlessWindow>(320, 240);
        // An earlier shutdown in this process may have marked them finished,
        // and a finished video subsystem is not drawn to.
        videoFinished_ = g_videoSystem.finished;
        rendererFinished_ = g_renderer.finished;
        g_videoSystem.finished = 0;
        g_renderer.finished = 0;
        {
            PrintCapture quiet;
            ASSERT_EQ(g_videoSystem.Initialise(), 1);
        }
        g_camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, 320.0f, 240.0f);
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
        effectMode_ = vid_effectmode.intValue;
    }
    void TearDown() override {
        vid_effectmode.intValue = effectMode_;
        PrintCapture quiet;
        g_videoSystem.shutdown(0);
        window_.reset();
        g_videoSystem.finished = videoFinished_;
        g_renderer.finished = rendererFinished_;
    }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
    int32_t effectMode_ = 0;
    int32_t videoFinished_ = 0;
    int32_t rendererFinished_ = 0;
};

}  // namespace

TEST_F(ScreenshotOnDevice, EveryRenderPathIsPicturedAsPresentedWithItsOverlay) {
    for (int32_t mode = 0; mode <= 4; ++mode) {
        SCOPED_TRACE("vid_effectmode " + std::to_string(mode));
        vid_effectmode.intValue = mode;
        g_renderer.frame();  // the paths that blend earlier frames have one
        PrintCapture output;
        const std::string name = "path" + std::to_string(mode);
        ExecuteLine(("screenshot " + name).c_str());
        EXPECT_FALSE(folder_.Exists(name + ".png"));  // not before the frame is presented
        g_renderer.frame();
        EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Wrote " + name + ".png"}));

        std::vector<uint32_t> presented;
        int width = 0, height = 0;
        ASSERT_TRUE(D3D9ReadBackBuffer(GetDevice(), &presented, &width, &height));
        int shotWidth = 0, shotHeight = 0;
        const std::vector<uint32_t> shot = ReadPng(folder_.Path() + "/" + name + ".png", &shotWidth, &shotHeight);
        ASSERT_EQ(shotWidth, width);
        ASSERT_EQ(shotHeight, height);
        EXPECT_TRUE(shot == presented);
        EXPECT_GT(WhiteInOverlayCorner(shot, shotWidth), 20);
    }
}

TEST_F(ScreenshotOnDevice, UnnamedShotsTakeTheNextNumbersAndKeyPressesHaveNoArguments) {
    PrintCapture output;
    ExecuteLine("screenshot");
    // A bound key runs the command without an argument list.
    ConsoleObject* command = FindConsoleObject("screenshot");
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->handler(0, 0, 0, nullptr), 1);
    EXPECT_EQ(g_videoSystem.PendingScreenshots(), 2u);
    g_renderer.frame();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Wrote screenshots/shot0000.png",
                                                        "Wrote screenshots/shot0001.png"}));
    EXPECT_EQ(folder_.Read("screenshots/shot0000.png").substr(1, 3), "PNG");
    EXPECT_EQ(folder_.Read("screenshots/shot0000.png"), folder_.Read("screenshots/shot0001.png"));
    EXPECT_EQ(g_videoSystem.PendingScreenshots(), 0u);

    output.Clear();
    g_renderer.frame();  // one request, one picture
    EXPECT_TRUE(output.Lines().empty());
}

TEST_F(ScreenshotOnDevice, FailuresGetALineAndTheRunGoesOn) {
    PrintCapture output;
    ExecuteLine("screenshot no/such/folder/shot.png");
    g_renderer.frame();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Error: could not write screenshot no/such/folder/shot.png"}));

    // Asked for and never presented: the device goes first.
    output.Clear();
    ExecuteLine("screenshot late.png");
    g_videoSystem.shutdown(0);
    EXPECT_TRUE(output.Contains("Wrote late.png"));  // the last presented frame
    EXPECT_TRUE(folder_.Exists("late.png"));

    output.Clear();
    ConsoleObject* command = FindConsoleObject("screenshot");
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->handler(0, 0, 0, nullptr), 0);
    EXPECT_EQ(output.Last(), "Error: no video device to take a screenshot with");
    EXPECT_EQ(g_videoSystem.PendingScreenshots(), 0u);
}

TEST_F(ScreenshotOnDevice, ARequestBeforeAnyFrameWasPresentedSaysSo) {
    PrintCapture output;
    ExecuteLine("screenshot first.png");
    ExecuteLine("screenshot");
    g_videoSystem.shutdown(0);
    EXPECT_TRUE(output.Contains("Error: screenshot first.png not written: no frame was presented"));
    EXPECT_TRUE(output.Contains("Error: screenshot (next number) not written: no frame was presented"));
    EXPECT_FALSE(folder_.Exists("first.png"));
    EXPECT_FALSE(folder_.Exists("screenshots"));  // no folder made for nothing
}

TEST_F(ScreenshotOnDevice, JpgAndJpegNamesAreWrittenAsJpegAndOthersAsPng) {
    g_renderer.frame();
    PrintCapture output;
    for (const char* line : {"screenshot shot.jpg", "screenshot shot2.JPEG", "screenshot shot3.png", "screenshot plain"}) {
        ExecuteLine(line);
    }
    g_renderer.frame();
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Wrote shot.jpg", "Wrote shot2.JPEG", "Wrote shot3.png",
                                                        "Wrote plain.png"}));
    std::vector<uint32_t> presented;
    int width = 0, height = 0;
    ASSERT_TRUE(D3D9ReadBackBuffer(GetDevice(), &presented, &width, &height));

    for (const char* name : {"shot.jpg", "shot2.JPEG"}) {
        SCOPED_TRACE(name);
        const std::string bytes = folder_.Read(name);
        ASSERT_GE(bytes.size(), 3u);
        EXPECT_EQ(bytes.substr(0, 3), "\xFF\xD8\xFF");
        std::vector<uint8_t> rgba;
        int shotWidth = 0, shotHeight = 0;
        ASSERT_TRUE(DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 4096, 1u << 24, &rgba,
                               &shotWidth, &shotHeight));
        ASSERT_EQ(shotWidth, width);
        ASSERT_EQ(shotHeight, height);
        // The same picture, within what JPEG's compression changes.
        long long difference = 0;
        for (size_t i = 0; i < presented.size(); ++i) {
            difference += std::abs(static_cast<int>(rgba[i * 4 + 0]) - static_cast<int>((presented[i] >> 16) & 0xFF));
            difference += std::abs(static_cast<int>(rgba[i * 4 + 1]) - static_cast<int>((presented[i] >> 8) & 0xFF));
            difference += std::abs(static_cast<int>(rgba[i * 4 + 2]) - static_cast<int>(presented[i] & 0xFF));
        }
        EXPECT_LT(static_cast<double>(difference) / static_cast<double>(presented.size() * 3), 4.0);
    }
    for (const char* name : {"shot3.png", "plain.png"}) EXPECT_EQ(folder_.Read(name).substr(1, 3), "PNG") << name;
}

TEST_F(ScreenshotOnDevice, ANameOfSeveralWordsIsRefusedUnlessQuotedNotCutToItsFirst) {
    g_renderer.frame();
    PrintCapture output;
    ExecuteLine("screenshot my first shot");
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{
                                  "usage: screenshot [FILE], FILE one word or in double quotes (.jpg or .jpeg: JPEG, else PNG)"}));
    EXPECT_EQ(g_videoSystem.PendingScreenshots(), 0u);
    g_renderer.frame();
    EXPECT_FALSE(folder_.Exists("my.png"));
    EXPECT_FALSE(folder_.Exists("screenshots"));

    // In double quotes the whole name is taken.
    ExecuteLine("screenshot \"my first shot\"");
    g_renderer.frame();
    EXPECT_TRUE(output.Contains("Wrote my first shot.png"));
    EXPECT_EQ(folder_.Read("my first shot.png").substr(1, 3), "PNG");
}
