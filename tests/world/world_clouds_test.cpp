// Cloud skies: the layers of a world's sky shader drawn over its box, or over
// black without one, moving with the frame clock while r_materials is 1; with
// r_materials 0 the sky is what it always was.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/game_system.h"
#include "platform/frame_clock.h"
#include "platform/operating_system.h"
#include "support/loaded_world.h"
#include "video/shader_library.h"
#include "video/video_cvars.h"
#include "world/world_cvars.h"

namespace {

// An uncompressed 24-bit TGA, width x 2, whose left half is one colour and
// right half another (colours as 0xRRGGBB).
std::string HalvesTga(int width, uint32_t left, uint32_t right) {
    std::string file(18, '\0');
    file[2] = 2;
    file[12] = static_cast<char>(width);
    file[14] = 2;
    file[16] = 24;
    for (int row = 0; row < 2; ++row) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = x < width / 2 ? left : right;
            file += {static_cast<char>(c & 0xFF), static_cast<char>((c >> 8) & 0xFF),
                     static_cast<char>((c >> 16) & 0xFF)};
        }
    }
    return file;
}

std::string Tga(uint32_t colour) { return HalvesTga(2, colour, colour); }

bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift : {0, 8, 16}) {
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > tolerance) {
            return false;
        }
    }
    return true;
}

class WorldClouds : public DrawnWorld {
protected:
    void SetUp() override {
        // The engine's own sky, so that it can be told from black.
        folder_.CopyContent({"textures/negz.jpg", "textures/posz.jpg", "textures/posx.jpg", "textures/negx.jpg",
                             "textures/posy.jpg"});
        DrawnWorld::SetUp();
        r_materials.intValue = 1;
    }

    // Puts the frame clock at ms milliseconds for the frames that follow.
    void SetClock(double ms) {
        g_operatingSystem.SwapTimeSource(std::make_unique<FixedStepTimeSource>(0.0), ms);
        g_operatingSystem.frame();
        ASSERT_EQ(g_operatingSystem.FrameTime(), ms);
    }

    // One frame from high above the origin, looking 30 degrees up.
    std::vector<uint32_t> Frame(World* world) {
        std::vector<uint32_t> argb = DrawnWorld::Frame(world, D3DXVECTOR3(0.0f, 500.0f, 0.0f), 0.0f, 30.0f);
        for (uint32_t& pixel : argb) pixel &= 0xFFFFFF;
        return argb;
    }
    // The pixel a quarter down the screen in its middle: sky.
    uint32_t SkyPixel(World* world) {
        return DrawnWorld::Pixel(world, D3DXVECTOR3(0.0f, 500.0f, 0.0f), 0.0f, 30.0f, 4, 0xFFFFFFFF);
    }

    World* LoadWithTexture(const char* texture) {
        BspBuilder builder = BspBuilder::MinimalWorld();
        builder.AddTexture(texture);
        return Load(builder);
    }
};

}  // namespace

TEST_F(WorldClouds, ALayerWithoutABoxIsAddedOverBlackAndScrollsWithTheFrameClock) {
    // Shrunk a thousand times, the layer shows one column of its image over
    // the whole sky: the one its scroll has reached, half an image a second.
    folder_.Write("scripts/sky.shader",
                  "textures/skies/clouds\n{\n\tsurfaceparm sky\n\tskyParms - 512 -\n"
                  "\t{\n\t\tmap env/clouds.tga\n\t\tblendFunc add\n"
                  "\t\ttcMod scale 0.001 0.001\n\t\ttcMod scroll 0.5 0\n\t}\n}\n");
    folder_.Write("env/clouds.tga", HalvesTga(64, 0xC80000, 0x00C800));
    World* world = LoadWithTexture("textures/skies/clouds");
    ASSERT_NE(world, nullptr);
    EXPECT_FALSE(g_renderer.HasWorldSky());
    ASSERT_EQ(g_renderer.WorldCloudCount(), 1);
    EXPECT_EQ(world->Pictures().cloudHeight, 512.0f);

    SetClock(500.0);  // a quarter of the image: its red half
    const uint32_t red = SkyPixel(world);
    EXPECT_TRUE(Near(red, 0xC80000, 2)) << std::hex << red;
    SetClock(1500.0);  // three quarters: green
    const uint32_t green = SkyPixel(world);
    EXPECT_TRUE(Near(green, 0x00C800, 2)) << std::hex << green;
    SetClock(2500.0);  // a whole image later: red again
    EXPECT_TRUE(Near(SkyPixel(world), 0xC80000, 2));

    // With r_materials 0 the frame is the engine's sky exactly as a world
    // whose sky shader has no layers draws it.
    r_materials.intValue = 0;
    const std::vector<uint32_t> without = Frame(world);
    folder_.Write("scripts/sky.shader", "textures/skies/clouds\n{\n\tsurfaceparm sky\n\tskyParms - 512 -\n}\n");
    ForgetWorldShaders();
    world = LoadWithTexture("textures/skies/clouds");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(g_renderer.WorldCloudCount(), 0);
    const std::vector<uint32_t> engineSky = Frame(world);
    EXPECT_TRUE(without == engineSky);
    ASSERT_GT(width_, 0);
    const uint32_t day = engineSky[engineSky.size() / width_ / 4 * width_ + width_ / 2];
    EXPECT_FALSE(Near(day, 0xC80000, 2) || Near(day, 0x00C800, 2) || Near(day, 0, 2)) << std::hex << day;
    // And it stays so with r_materials 1: no layers, no change.
    r_materials.intValue = 1;
    EXPECT_TRUE(Frame(world) == engineSky);
}

TEST_F(WorldClouds, LayersBlendOverTheBoxInTheirOrderAndGoWithTheirWorld) {
    // A filter layer halves the box's blue; a second layer, blended by its
    // constant alpha, lays a quarter of its red over that.
    folder_.Write("scripts/sky.shader",
                  "textures/skies/dusk\n{\n\tsurfaceparm sky\n\tskyParms env/dusk 256 -\n"
                  "\t{\n\t\tmap env/filter.tga\n\t\tblendFunc filter\n\t}\n"
                  "\t{\n\t\tmap env/glow\n\t\tblendFunc blend\n\t\talphaGen const 0.25\n\t}\n"
                  "\t{\n\t\tmap env/missing.tga\n\t\tblendFunc add\n\t}\n}\n");
    for (const char* side : {"rt", "lf", "ft", "bk", "up"}) {
        folder_.Write(std::string("env/dusk_") + side + ".tga", Tga(0x0000C8));
    }
    folder_.Write("env/filter.tga", Tga(0xFFFF80));
    folder_.Write("env/glow.tga", Tga(0xFF0000));
    SetClock(0.0);
    World* world = LoadWithTexture("textures/skies/dusk");
    ASSERT_NE(world, nullptr);
    ASSERT_TRUE(g_renderer.HasWorldSky());
    EXPECT_EQ(g_renderer.WorldCloudCount(), 2);
    int warnings = 0;
    for (const std::string& line : loadLines_) {
        warnings += line == "Warning: the sky textures/skies/dusk has no image env/missing; its clouds there are left out";
    }
    EXPECT_EQ(warnings, 1) << ::testing::PrintToString(loadLines_);

    // Blue 200 filtered by 128/255, then 0.25 red over 0.75 of that.
    const uint32_t pixel = SkyPixel(world);
    EXPECT_TRUE(Near(pixel, 0x40004B, 3)) << std::hex << pixel;
    r_materials.intValue = 0;
    EXPECT_EQ(SkyPixel(world), 0x0000C8u);

    // The next world without a sky shader draws neither box nor clouds.
    r_materials.intValue = 1;
    world_.reset();
    EXPECT_EQ(g_renderer.WorldCloudCount(), 0);
    world = LoadWithTexture("textures/plain/wall");
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(g_renderer.WorldCloudCount(), 0);
    EXPECT_FALSE(g_renderer.HasWorldSky());
}

TEST(WorldCloudLayer, ScaleAndScrollComposeInTheirOrderAndWrap) {
    SkyLayer layer;
    layer.motions[0].kind = TexCoordMotion::Kind::kScroll;
    layer.motions[0].s = 0.25f;
    layer.motions[0].t = -0.5f;
    layer.motions[1].kind = TexCoordMotion::Kind::kScale;
    layer.motions[1].s = 2.0f;
    layer.motions[1].t = 3.0f;
    layer.motionCount = 2;
    // Scroll first, then scale: (s + 0.25 t) * 2, (t - 0.5 t) * 3.
    SkyLayerTransform at = SkyLayerTransformAt(layer, 1000.0);
    EXPECT_EQ(at.scaleS, 2.0f);
    EXPECT_EQ(at.scaleT, 3.0f);
    EXPECT_FLOAT_EQ(at.offsetS, 0.5f);
    EXPECT_FLOAT_EQ(at.offsetT, 0.5f);  // -1.5 brought into [0, 1)
    // Scale first: the scroll is not scaled.
    std::swap(layer.motions[0], layer.motions[1]);
    at = SkyLayerTransformAt(layer, 3000.0);
    EXPECT_FLOAT_EQ(at.offsetS, 0.75f);
    EXPECT_FLOAT_EQ(at.offsetT, 0.5f);
    // Hours into a run the offset stays small and exact enough to draw.
    at = SkyLayerTransformAt(layer, 36'000'000.0 + 1000.0);
    EXPECT_NEAR(at.offsetS, 0.25, 1e-4);
    // A hostile count reads no further than the stage keeps.
    layer.motionCount = 1000;
    at = SkyLayerTransformAt(layer, 0.0);
    EXPECT_EQ(at.scaleS, 2.0f);
}

TEST(WorldCloudLayer, TheShellIsCloudHeightOverheadAndCurvesAwayToTheHorizon) {
    const float up[3] = {0.0f, 1.0f, 0.0f};
    float s = 1.0f;
    float t = 1.0f;
    CloudTexCoord(up, 128.0f, &s, &t);
    EXPECT_EQ(s, 0.0f);
    EXPECT_EQ(t, 0.0f);
    // Level with the eye the shell is further away the higher it is, and
    // finite even for a hostile height.
    const float level[3] = {1.0f, 0.0f, 0.0f};
    float low = 0.0f;
    float high = 0.0f;
    CloudTexCoord(level, 128.0f, &low, &t);
    CloudTexCoord(level, 1024.0f, &high, &t);
    EXPECT_GT(low, 0.0f);
    EXPECT_GT(high, low);
    const float slant[3] = {0.6f, 0.8f, 0.0f};
    float slanted = 0.0f;
    CloudTexCoord(slant, 128.0f, &slanted, &t);
    EXPECT_GT(slanted, 0.0f);
    EXPECT_LT(slanted, low);
    float huge = 0.0f;
    CloudTexCoord(level, 1e30f, &huge, &t);
    EXPECT_TRUE(std::isfinite(huge));
}
