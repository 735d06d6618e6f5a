// The video subsystem on a real device: a headless window and Mesa through
// EGL, as the engine runs without a display.
#include <gtest/gtest.h>

#include <string>

#include "platform/operating_system.h"
#include "support/headless_window.h"
#include "support/test_support.h"
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
