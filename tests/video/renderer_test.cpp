#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "engine/game_system.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/renderer.h"
#include "video/video_cvars.h"
#include "video/video_system.h"

namespace {

// A started video subsystem on a headless window, with the engine's content.
class RendererOnDevice : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.CopyContent({"shaders.hlsl", "noshader.jpg", "loading.jpg", "textures/negz.jpg",
                             "textures/posz.jpg", "textures/posx.jpg", "textures/negx.jpg",
                             "textures/posy.jpg"});
        window_ = std::make_unique<HeadlessWindow>(800, WindowHeight());
        ASSERT_EQ(g_videoSystem.Initialise(), 1);
        g_camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, 800.0f, static_cast<float>(WindowHeight()));
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
    }
    void TearDown() override {
        D3D9SetTrace(GetDevice(), nullptr);
        g_videoSystem.shutdown(0);
        window_.reset();
    }
    virtual int WindowHeight() const { return 600; }

    size_t Count(const std::vector<std::string>& trace, const std::string& prefix) const {
        return static_cast<size_t>(std::count_if(trace.begin(), trace.end(), [&](const std::string& line) {
            return line.rfind(prefix, 0) == 0;
        }));
    }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
};

class RendererOnTallWindow : public RendererOnDevice {
protected:
    int WindowHeight() const override { return 721; }
};

// A vertex buffer holding one triangle for items to point at.
IDirect3DVertexBuffer9* Triangle(IDirect3DDevice9* device) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(3 * sizeof(GpuVertex), D3DUSAGE_WRITEONLY, kGpuVertexFvf,
                                          D3DPOOL_DEFAULT, &buffer, nullptr))) {
        return nullptr;
    }
    void* data = nullptr;
    buffer->Lock(0, 0, &data, 0);
    GpuVertex* v = static_cast<GpuVertex*>(data);
    for (int i = 0; i < 3; ++i) v[i] = GpuVertex{{float(i), 0.0f, -10.0f}, {0, 0, 1}, 0xFFFFFFFF, {0, 0}, {0, 0, 0}};
    buffer->Unlock();
    return buffer;
}

}  // namespace

TEST(RenderCaches, NothingIsHandedOutBeforeTheCachesExist) {
    EXPECT_EQ(AllocateRenderItem(0, 0), nullptr);
    EXPECT_EQ(AllocateRenderItem(0, 1), nullptr);
}

TEST(RenderCaches, EachTextureListHoldsItsCapacityAndNoMore) {
    PrintCapture output;
    SetupRenderCaches(3);
    EXPECT_EQ(output.Last(), "Initializing render caches for 3 textures");
    ASSERT_EQ(g_renderer.TgaSet().lists.size(), 3u);
    ASSERT_EQ(g_renderer.MainSet().lists.size(), 3u);

    for (uint32_t i = 0; i < kTgaListCapacity; ++i) ASSERT_NE(AllocateRenderItem(1, 1), nullptr);
    EXPECT_EQ(AllocateRenderItem(1, 1), nullptr);
    for (uint32_t i = 0; i < kMainListCapacity; ++i) ASSERT_NE(AllocateRenderItem(1, 0), nullptr);
    EXPECT_EQ(AllocateRenderItem(1, 0), nullptr);
    EXPECT_EQ(AllocateRenderItem(3, 0), nullptr);                // index equal to the list count
    EXPECT_EQ(AllocateRenderItem(0xFFFFFFFFu, 0), nullptr);      // compared as unsigned
    RenderItem* item = AllocateRenderItem(2, 0x2);                // only bit 0 picks the set
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(g_renderer.MainSet().lists[2].used, 1u);
    EXPECT_EQ(item->count, 0);

    // A new world replaces both sets.
    SetupRenderCaches(1);
    EXPECT_EQ(g_renderer.MainSet().lists.size(), 1u);
    EXPECT_EQ(g_renderer.MainSet().lists[0].used, 0u);
    SetupRenderCaches(0);
    EXPECT_EQ(AllocateRenderItem(0, 0), nullptr);
    EXPECT_EQ(g_renderer.frame(), 0);  // no video: nothing drawn, keeps running
}

TEST(RenderEffects, LabelsOfTheModes) {
    EXPECT_STREQ(EffectLabel(0), "Render Effect: None");
    EXPECT_STREQ(EffectLabel(1), "Render Effect: Fake HDR");
    EXPECT_STREQ(EffectLabel(2), "Render Effect: 8x Motion Blur");
    EXPECT_STREQ(EffectLabel(3), "Render Effect: HDR Blur");
    EXPECT_STREQ(EffectLabel(4), "Render Effect: Depth of Field");
    EXPECT_STREQ(EffectLabel(7), "Render Effect: None");
    EXPECT_STREQ(EffectLabel(-1), "Render Effect: None");
}

TEST_F(RendererOnDevice, OneFrameDrawsSkyThenCachesThenOverlayThenPresents) {
    std::vector<std::string> trace;
    D3D9SetTrace(GetDevice(), &trace);
    vid_effectmode.intValue = 7;
    EXPECT_EQ(g_renderer.frame(), 0);
    vid_effectmode.intValue = 0;
    D3D9SetTrace(GetDevice(), nullptr);
    for (const std::string& line : trace) EXPECT_EQ(line.rfind("error", 0), std::string::npos) << line;

    auto at = [&](const std::string& prefix, size_t from = 0) {
        for (size_t i = from; i < trace.size(); ++i) {
            if (trace[i].rfind(prefix, 0) == 0) return i;
        }
        return trace.size();
    };
    const size_t begin = at("BeginScene");
    const size_t clear = at("Clear", begin);
    const size_t constants = at("SetVertexShaderConstantF(0", clear);
    const size_t firstSky = at("DrawPrimitiveUP", constants);
    const size_t world = at("SetSamplerState(0, D3DSAMP_ADDRESSU, 1)", firstSky);
    const size_t end = at("EndScene", world);
    const size_t present = at("Present", end);
    EXPECT_LT(begin, clear);
    EXPECT_LT(clear, constants);
    EXPECT_LT(constants, firstSky);
    EXPECT_LT(firstSky, world);
    EXPECT_LT(world, end);
    EXPECT_LT(end, present);
    EXPECT_LT(present, trace.size());
    // Five sky faces, then the overlay's text batches.
    EXPECT_EQ(Count(std::vector<std::string>(trace.begin() + static_cast<long>(firstSky),
                                             trace.begin() + static_cast<long>(world)),
                    "DrawPrimitiveUP"),
              5u);
    EXPECT_GE(Count(std::vector<std::string>(trace.begin() + static_cast<long>(world),
                                             trace.begin() + static_cast<long>(end)),
                    "DrawPrimitive(D3DPT_TRIANGLELIST"),
              1u);
}

TEST_F(RendererOnDevice, ItemWithCountZeroEndsItsTextureListAndListsAreEmptied) {
    IDirect3DVertexBuffer9* buffer = Triangle(GetDevice());
    ASSERT_NE(buffer, nullptr);
    SetupRenderCaches(2);
    for (int i = 0; i < 3; ++i) {
        RenderItem* item = AllocateRenderItem(0, 0);
        item->vertexBuffer = buffer;
        item->primitiveType = D3DPT_TRIANGLEFAN;
        item->count = i == 1 ? 0 : 3;
    }
    RenderItem* other = AllocateRenderItem(1, 1);
    other->vertexBuffer = buffer;
    other->primitiveType = D3DPT_TRIANGLEFAN;
    other->count = 3;
    RenderItem* odd = AllocateRenderItem(1, 1);
    odd->vertexBuffer = buffer;
    odd->primitiveType = 99;  // not a type the renderer draws
    odd->count = 3;

    std::vector<std::string> trace;
    D3D9SetTrace(GetDevice(), &trace);
    g_renderer.frame();
    D3D9SetTrace(GetDevice(), nullptr);
    EXPECT_EQ(g_renderer.ItemsDrawn(), 2u);  // item 0 of texture 0 and the tga item
    EXPECT_EQ(Count(trace, "DrawPrimitive(D3DPT_TRIANGLEFAN"), 2u);
    EXPECT_EQ(g_renderer.MainSet().lists[0].used, 0u);
    EXPECT_EQ(g_renderer.TgaSet().lists[1].used, 0u);

    g_renderer.frame();
    EXPECT_EQ(g_renderer.ItemsDrawn(), 0u);
    buffer->Release();
}

TEST_F(RendererOnDevice, SkyAndOverlayAppearOnScreen) {
    g_renderer.frame();
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(D3D9ReadBackBuffer(GetDevice(), &pixels, &width, &height));
    ASSERT_EQ(width, 800);
    // Straight ahead at the horizon the sky face is pale blue, not black.
    const uint32_t centre = pixels[static_cast<size_t>(300) * width + 400];
    EXPECT_GT((centre >> 0) & 0xFF, 120u);   // blue
    EXPECT_GT((centre >> 16) & 0xFF, 80u);   // red
    // "Project Osprel" at (10, 10): white glyph pixels in that corner.
    int white = 0;
    for (int y = 10; y < 24; ++y) {
        for (int x = 10; x < 110; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
            if (((p >> 16) & 0xFF) > 240 && ((p >> 8) & 0xFF) > 240 && (p & 0xFF) > 240) ++white;
        }
    }
    EXPECT_GT(white, 20);
}

TEST_F(RendererOnDevice, LoadingScreenShowsTheImageAndItsLine) {
    std::vector<std::string> trace;
    D3D9SetTrace(GetDevice(), &trace);
    ShowLoadingMessage("Loading: %s", "maps/arena.lmf");
    D3D9SetTrace(GetDevice(), nullptr);
    EXPECT_EQ(Count(trace, "Present"), 1u);
    EXPECT_EQ(Count(trace, "DrawPrimitiveUP"), 1u);
}

TEST_F(RendererOnDevice, MapDrawsItsLoadingScreenOnce) {
    std::vector<std::string> trace;
    PrintCapture output;
    D3D9SetTrace(GetDevice(), &trace);
    EXPECT_EQ(g_gameSystem.Map("maps/missing.lmf"), 0);
    D3D9SetTrace(GetDevice(), nullptr);
    EXPECT_TRUE(output.Contains("Error loading world.")) << ::testing::PrintToString(output.Lines());
    EXPECT_EQ(Count(trace, "Present"), 1u);
}

TEST_F(RendererOnTallWindow, WindowsTallerThan720RowsShowNoLoadingScreen) {
    std::vector<std::string> trace;
    D3D9SetTrace(GetDevice(), &trace);
    ShowLoadingMessage("Loading: %s", "maps/arena.lmf");
    D3D9SetTrace(GetDevice(), nullptr);
    EXPECT_EQ(Count(trace, "Present"), 0u);
}
