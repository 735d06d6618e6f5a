// A window of a new size: the device's back buffer, the render targets and
// the projection follow it, and the picture fills the window in every path.
#include <gtest/gtest.h>

#include <stb_image.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "d3d9_test_support.h"
#include "platform/headless/input_script.h"
#include "support/test_support.h"

TEST_F(D3D9DeviceTest, ResetGivesNewBackAndDepthBuffersOfTheSizeAskedFor) {
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 100;
    parameters.BackBufferHeight = 40;
    parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFMT_D24S8;
    // A second render target bound before the reset is unbound by it.
    IDirect3DTexture9* second = nullptr;
    ASSERT_EQ(device_->CreateTexture(8, 8, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &second,
                                     nullptr),
              D3D_OK);
    IDirect3DSurface9* secondSurface = nullptr;
    second->GetSurfaceLevel(0, &secondSurface);
    ASSERT_EQ(device_->SetRenderTarget(1, secondSurface), D3D_OK);
    secondSurface->Release();
    second->Release();
    ASSERT_EQ(device_->Reset(&parameters), D3D_OK);
    IDirect3DSurface9* bound = nullptr;
    EXPECT_EQ(device_->GetRenderTarget(1, &bound), D3DERR_NOTFOUND);

    D3DVIEWPORT9 viewport{};
    device_->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 100u);
    EXPECT_EQ(viewport.Height, 40u);
    IDirect3DSurface9* back = nullptr;
    ASSERT_EQ(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back), D3D_OK);
    D3DSURFACE_DESC description{};
    back->GetDesc(&description);
    EXPECT_EQ(description.Width, 100u);
    EXPECT_EQ(description.Height, 40u);
    back->Release();

    // The whole new buffer is drawn to and read back.
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF00FF00, 1.0f, 0);
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    std::vector<uint32_t> argb;
    int width = 0, height = 0;
    ASSERT_TRUE(D3D9ReadBackBuffer(device_, &argb, &width, &height));
    EXPECT_EQ(width, 100);
    EXPECT_EQ(height, 40);
    EXPECT_EQ(argb.back() & 0xFFFFFF, 0x00FF00u);

    // A size the device cannot take is refused and the old buffers stay.
    parameters.BackBufferWidth = 1u << 20;
    EXPECT_EQ(device_->Reset(&parameters), D3DERR_INVALIDCALL);
    device_->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 100u);
    EXPECT_EQ(device_->Reset(nullptr), D3DERR_INVALIDCALL);
    device_->BeginScene();
    parameters.BackBufferWidth = 32;
    EXPECT_EQ(device_->Reset(&parameters), D3DERR_INVALIDCALL);  // not inside a scene
    device_->EndScene();
}

TEST(InputScriptResize, ResizeEventsAreReadAndChecked) {
    InputScript script;
    std::string error;
    ASSERT_TRUE(ParseInputScript("5 resize 1024 768\n", &script, &error)) << error;
    ASSERT_EQ(script.events.size(), 1u);
    EXPECT_EQ(script.events[0].kind, InputScriptEvent::Kind::kResize);
    EXPECT_EQ(script.events[0].dx, 1024);
    EXPECT_EQ(script.events[0].dy, 768);
    for (const char* bad : {"1 resize 0 100\n", "1 resize 100\n", "1 resize 100 x\n", "1 resize 20000 10\n",
                            "1 resize 10 10 10\n"}) {
        InputScript ignored;
        EXPECT_FALSE(ParseInputScript(bad, &ignored, &error)) << bad;
        EXPECT_EQ(error, "line 1: resize takes the new width and height, 1 to 16384 each") << bad;
    }
}

TEST(WindowResize, ThePictureFillsTheResizedWindowInEveryPath) {
    if (::access((std::string(OSPREL_TEST_CONTENT_DIR) + "/maps/tower.lmf").c_str(), F_OK) != 0) {
        GTEST_SKIP() << "the OpenArena worlds are not installed";
    }
    ScratchFolder folder;
    folder.Write("resize.txt", "3 resize 1024 700\n");
    for (int path = 0; path <= 4; ++path) {
        const std::string shot = folder.Path() + "/shot" + std::to_string(path) + ".png";
        ProgramResult run = RunProgram(
            "OSPREL_INSTANCE_NAME=osprel-resize-" + std::to_string(::getpid()) + " timeout 120 " +
            ShellQuote(OSPREL_BINARY) + " --headless --basedir " + ShellQuote(OSPREL_TEST_CONTENT_DIR) +
            " --set level=2 --set demo=3 --set path=" + std::to_string(path) + " --input-script " +
            ShellQuote(folder.Path() + "/resize.txt") + " --frames 8 --fixed-frame-ms 16 --exec 'win_width' " +
            "--screenshot " + ShellQuote(shot) + " --stats </dev/null");
        ASSERT_EQ(run.exitCode, 0) << run.output;
        EXPECT_NE(run.output.find("Width: 1024 Height: 700\n"), std::string::npos) << path;
        int width = 0, height = 0, channels = 0;
        unsigned char* pixels = stbi_load(shot.c_str(), &width, &height, &channels, 3);
        ASSERT_NE(pixels, nullptr) << path;
        EXPECT_EQ(width, 1024);
        EXPECT_EQ(height, 700);
        // The picture reaches the new right and bottom edges: the tower's
        // floor fills the bottom-right corner, which the old 800x600
        // picture did not cover.
        long lit = 0;
        for (int y = 620; y < 700; ++y) {
            for (int x = 900; x < 1024; ++x) {
                const unsigned char* p = pixels + (static_cast<size_t>(y) * width + x) * 3;
                lit += (p[0] + p[1] + p[2]) > 30 ? 1 : 0;
            }
        }
        stbi_image_free(pixels);
        EXPECT_GT(lit, 80 * 124 / 2) << "path " << path;
    }
}
