// The video subsystem on a real device: a headless window and Mesa through
// EGL, as the engine runs without a display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/operating_system.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/post_process.h"
#include "video/renderer.h"
#include "video/resource_manager.h"
#include "video/video_cvars.h"
#include "video/video_system.h"



TEST(VideoResultNames, TableAndUnknownCodes) {
    EXPECT_STREQ(LookupResultName(S_OK), "S_OK");
    EXPECT_STREQ(LookupResultName(D3DERR_INVALIDCALL), "D3DERR_INVALIDCALL");
    EXPECT_STREQ(LookupResultName(D3DERR_OUTOFVIDEOMEMORY), "D3DERR_OUTOFVIDEOMEMORY");
    EXPECT_EQ(LookupResultName(E_FAIL), nullptr);
}

TEST(VideoSystemTest, FrameWithoutADeviceStopsTheEngine) {
    PrintCapture output;
    EXPECT_EQ(GetVideoSystem(), nullptr);
    EXPECT_EQ(GetDevice(), nullptr);
    EXPECT_EQ(g_videoSystem.frame(), 1);
    EXPECT_EQ(output.Last(),
              "[Error] VID Error: You cannot update the video system without initializing it first.\n"
              "Shutting down.");
}

TEST(VideoSystemTest, WithoutAWindowThereIsNothingToDrawInto) {
    PrintCapture output;
    EXPECT_EQ(g_videoSystem.Initialise(), 0);
    EXPECT_EQ(output.Last(), "VID Error: Unable to capture current window. Is OSH active?");
}

TEST(VideoSystemTest, ComesUpOnTheHeadlessWindowAndGoesDownOnce) {
    ScratchFolder folder;
    folder.CopyContent({"shaders.hlsl", "noshader.jpg"});
    HeadlessWindow window;
    PrintCapture output;
    ASSERT_EQ(g_videoSystem.Initialise(), 1) << ::testing::PrintToString(output.Lines());
    EXPECT_TRUE(output.Contains("Width: 800 Height: 600"));
    for (const std::string& line : output.Lines()) EXPECT_EQ(line.find("VID Error"), std::string::npos) << line;
    EXPECT_STRNE(vid_driver.stringValue, "Default Driver");
    EXPECT_STRNE(vid_device.stringValue, "Default Device");
    EXPECT_STRNE(vid_description.stringValue, "Default Description");
    ASSERT_NE(GetDevice(), nullptr);
    EXPECT_EQ(g_videoSystem.frame(), 0);

    output.Clear();
    EXPECT_EQ(g_videoSystem.Initialise(), 0);
    EXPECT_EQ(output.Last(), "VID Error: Cannot initialize an already initialized device");

    // A jpg loads as a texture of format 2 into list 2.
    CResourceManager manager;
    manager.Initialise();
    Resource* texture = manager.LoadResource("noshader.jpg");
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->formatIndex, 2);
    EXPECT_EQ(manager.List(2).size(), 1u);
    EXPECT_GE(manager.TotalBytes(), 64 * 64 * 4);
    output.Clear();
    manager.ListResources();
    EXPECT_TRUE(output.Contains("2    noshader.jpg"));
    delete texture;

    output.Clear();
    g_videoSystem.shutdown(0);
    EXPECT_EQ(output.Lines(), (std::vector<std::string>{"Shutting down CVideoSystem"}));
    EXPECT_EQ(GetDevice(), nullptr);
    g_videoSystem.shutdown(0);
    EXPECT_EQ(output.Last(), "VID Error: Cannot shutdown an un-initialized device");
}

TEST(VideoSystemTest, MissingFallbackTextureLeavesTheSubsystemDown) {
    ScratchFolder folder;
    folder.CopyContent({"shaders.hlsl"});
    HeadlessWindow window;
    PrintCapture output;
    EXPECT_EQ(g_videoSystem.Initialise(), static_cast<int32_t>(E_FAIL));
    EXPECT_EQ(output.Last(), "[Warning] Error loading noshader.jpg");
    EXPECT_EQ(GetVideoSystem(), nullptr);
}

TEST(VideoSystemTest, ShaderFileMissingAnEntryPointFailsOnce) {
    ScratchFolder folder;
    folder.CopyContent({"shaders.hlsl", "noshader.jpg"});
    std::string source = folder.Read("shaders.hlsl");
    const size_t at = source.find("sky_main_ps(");
    ASSERT_NE(at, std::string::npos);
    source.replace(at, 11, "sky_main_xx");
    folder.Write("shaders.hlsl", source);
    HeadlessWindow window;
    PrintCapture output;
    EXPECT_EQ(g_videoSystem.Initialise(), 0);
    EXPECT_EQ(output.Last(), "Error initializing shaders.");
    int failures = 0;
    for (const std::string& line : output.Lines()) failures += line == "Error initializing shaders." ? 1 : 0;
    EXPECT_EQ(failures, 1);
    // The failed start lets go of the shaders that did build, and of its
    // device, while the window's context still exists.
    EXPECT_EQ(g_videoSystem.Shaders().Vertex(kShaderQ3MainVs), nullptr);
    EXPECT_EQ(g_videoSystem.Shaders().Pixel(kShaderQ3MainPs), nullptr);
    EXPECT_EQ(g_videoSystem.Shaders().Pixel(kShaderSkyMainPs), nullptr);
    EXPECT_EQ(GetDevice(), nullptr);
}

namespace {

// The pass shaders the post-process code uses when the file has them; the
// engine requires only the ten entries of the shader set.
const char* const kOptionalEntries[] = {"hdr_glow_ps",      "hdr_trail_ps",      "hdr_trail_glow_ps", "dof_blur_ps",
                                        "dof_half_blur_ps", "blur_post_seed_ps", "blur_post_step_ps"};

// The source without the definition of entry (its lines up to the closing
// brace at the start of a line); false when it has none.
bool RemoveDefinition(std::string* source, const std::string& entry) {
    for (const char* type : {"\nfloat4 ", "\nMotionOutput "}) {
        const size_t at = source->find(type + entry + "(");
        if (at == std::string::npos) continue;
        const size_t end = source->find("\n}\n", at);
        if (end == std::string::npos) return false;
        source->erase(at + 1, end + 2 - at);
        return true;
    }
    return false;
}

}  // namespace

TEST(VideoSystemTest, AShaderFileWithOnlyTheRequiredEntriesSaysSoOnceAndTheEffectsStillDraw) {
    ScratchFolder folder;
    folder.CopyContent({"shaders.hlsl", "noshader.jpg", "loading.jpg", "textures/negz.jpg", "textures/posz.jpg",
                        "textures/posx.jpg", "textures/negx.jpg", "textures/posy.jpg"});
    std::string source = folder.Read("shaders.hlsl");
    for (const char* entry : kOptionalEntries) ASSERT_TRUE(RemoveDefinition(&source, entry)) << entry;
    for (const char* entry : kOptionalEntries) ASSERT_EQ(source.find(std::string(entry) + "("), std::string::npos);
    folder.Write("shaders.hlsl", source);

    HeadlessWindow window(320, 240);
    const int32_t videoFinished = g_videoSystem.finished;
    const int32_t rendererFinished = g_renderer.finished;
    const int32_t effectMode = vid_effectmode.intValue;
    g_videoSystem.finished = 0;
    g_renderer.finished = 0;
    PrintCapture output;
    ASSERT_EQ(g_videoSystem.Initialise(), 1) << ::testing::PrintToString(output.Lines());
    // One line names every missing entry; the compiler's complaints about
    // them are not shown.
    std::vector<std::string> naming;
    for (const std::string& line : output.Lines()) {
        EXPECT_EQ(line.find("X3501"), std::string::npos) << line;
        EXPECT_EQ(line.find("not found"), std::string::npos) << line;
        for (const char* entry : kOptionalEntries) {
            if (line.find(entry) != std::string::npos) {
                naming.push_back(line);
                break;
            }
        }
    }
    EXPECT_EQ(naming, (std::vector<std::string>{
                          "shaders.hlsl has no hdr_glow_ps, hdr_trail_ps, hdr_trail_glow_ps, dof_blur_ps, "
                          "dof_half_blur_ps, blur_post_seed_ps, blur_post_step_ps; the effects do without those "
                          "passes"}));

    // Resizing makes the targets and pass shaders again, without a word.
    output.Clear();
    g_renderer.ResizeTargets(GetDevice(), 400, 300);
    g_renderer.ResizeTargets(GetDevice(), 320, 240);
    EXPECT_TRUE(output.Lines().empty()) << ::testing::PrintToString(output.Lines());

    // Every effect draws its frame through the fallbacks: the sky shows in
    // the paths that draw it.
    for (int32_t mode = kEffectFakeHdr; mode <= kEffectDepthOfField; ++mode) {
        SCOPED_TRACE("vid_effectmode " + std::to_string(mode));
        vid_effectmode.intValue = mode;
        for (int frame = 0; frame < 3; ++frame) EXPECT_EQ(g_renderer.frame(), 0);
        std::vector<uint32_t> argb;
        int width = 0, height = 0;
        ASSERT_TRUE(D3D9ReadBackBuffer(GetDevice(), &argb, &width, &height));
        ASSERT_EQ(argb.size(), 320u * 240u);
        if (mode != kEffectHdrBlur) {
            EXPECT_NE(argb[120 * 320 + 160] & 0xFFFFFF, 0u);
        }
    }
    EXPECT_TRUE(output.Lines().empty()) << ::testing::PrintToString(output.Lines());

    vid_effectmode.intValue = effectMode;
    g_videoSystem.shutdown(0);
    g_videoSystem.finished = videoFinished;
    g_renderer.finished = rendererFinished;
}
