#include "video/post_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/d3d9/d3dx9.h"
#include "video/renderer.h"
#include "video/shader_set.h"
#include "video/video_cvars.h"
#include "video/video_system.h"

namespace {

std::string Pointer(const void* object) {
    if (object == nullptr) return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%p", object);
    return text;
}

// Splits a trace line "Name(a, b, c)" into its name and arguments.
bool ParseCall(const std::string& line, std::string* name, std::vector<std::string>* args) {
    const size_t open = line.find('(');
    if (open == std::string::npos || line.back() != ')') return false;
    *name = line.substr(0, open);
    args->clear();
    const std::string inner = line.substr(open + 1, line.size() - open - 2);
    size_t start = 0;
    while (start <= inner.size() && !inner.empty()) {
        const size_t comma = inner.find(", ", start);
        args->push_back(inner.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 2;
    }
    return true;
}

// Sampler and fill state as the trace leaves it.
struct StateSnapshot {
    std::string fill = "?";
    std::string depthTest = "?";  // D3DRS_ZENABLE
    std::map<std::string, std::string> sampler;  // "s:D3DSAMP_X" -> value

    // The stage's three address modes when they agree ("1" wrap, "3" clamp).
    std::string Address(int stage) const { return Same(stage, {"D3DSAMP_ADDRESSU", "D3DSAMP_ADDRESSV", "D3DSAMP_ADDRESSW"}); }
    // The stage's three filters when they agree ("1" point, "2" linear).
    std::string Filter(int stage) const {
        return Same(stage, {"D3DSAMP_MINFILTER", "D3DSAMP_MAGFILTER", "D3DSAMP_MIPFILTER"});
    }
    std::string Same(int stage, std::initializer_list<const char*> states) const {
        std::string value;
        for (const char* state : states) {
            const auto it = sampler.find(std::to_string(stage) + ":" + state);
            if (it == sampler.end()) return "unset";
            if (!value.empty() && value != it->second) return "mixed";
            value = it->second;
        }
        return value;
    }
};

struct Event {
    std::string text;
    StateSnapshot state;
};

constexpr const char* kWrap = "1";
constexpr const char* kClamp = "3";
constexpr const char* kLinear = "2";
constexpr const char* kSolid = "3";
constexpr const char* kWireframe = "2";

// Records what a path asks of the scene into the device trace, so both read
// in one order.
class RecordingScene : public PostProcessScene {
public:
    explicit RecordingScene(std::vector<std::string>* sink) : sink_(sink) {}
    void DrawSky(IDirect3DDevice9*) override { sink_->push_back("#sky"); }
    void DrawCaches(IDirect3DDevice9*, bool empty) override {
        sink_->push_back(empty ? "#caches empty" : "#caches keep");
    }
    void DrawFullScreenQuad() override { sink_->push_back("#quad"); }

private:
    std::vector<std::string>* sink_;
};

// A video subsystem on a small headless window and a post-process object of
// the test's own, with names for its targets and the shader pairs.
class PostProcessTrace : public ::testing::Test {
protected:
    static constexpr int kSize = 64;

    void SetUp() override {
        folder_.CopyContent({"shaders.hlsl", "noshader.jpg"});
        window_ = std::make_unique<HeadlessWindow>(kSize, kSize);
        {
            PrintCapture quiet;
            ASSERT_EQ(g_videoSystem.Initialise(), 1);
        }
        device_ = GetDevice();
        effects_.CreateTargets(device_, kSize, kSize);
        NameTargets();
        vid_multisample.intValue = 0;
        r_wireframe.intValue = 0;
    }
    void TearDown() override {
        D3D9SetTrace(device_, nullptr);
        effects_.Release();
        vid_multisample.intValue = 0;
        r_wireframe.intValue = 0;
        vid_effectmode.intValue = 0;
        PrintCapture quiet;
        g_videoSystem.shutdown(0);
        window_.reset();
    }

    void NameTargets() {
        names_.clear();
        names_[Pointer(effects_.SceneTexture())] = "scene";
        names_[Pointer(effects_.SceneSurface())] = "scene";
        names_[Pointer(effects_.DepthTexture())] = "depth";
        names_[Pointer(effects_.DepthSurface())] = "depth";
        names_[Pointer(effects_.BrightPassTexture())] = "bright";
        names_[Pointer(effects_.BrightPassSurface())] = "bright";
        names_[Pointer(effects_.BackBuffer())] = "backbuffer";
        names_[Pointer(effects_.DefaultDepthStencil())] = "defaultdepth";
        for (int i = 0; i < kMotionFrameCount; ++i) {
            names_[Pointer(effects_.FrameTexture(i))] = "frame" + std::to_string(i);
            names_[Pointer(effects_.FrameSurface(i))] = "frame" + std::to_string(i);
        }
        for (int i = 0; i < kBrightHistoryCount; ++i) {
            names_[Pointer(effects_.HistoryTexture(i))] = "history" + std::to_string(i);
            names_[Pointer(effects_.HistorySurface(i))] = "history" + std::to_string(i);
        }
        names_[Pointer(effects_.GlowTexture())] = "glow";
        names_[Pointer(effects_.GlowSurface())] = "glow";
        names_[Pointer(effects_.TrailTexture())] = "trail";
        names_[Pointer(effects_.TrailSurface())] = "trail";
        names_[Pointer(effects_.TrailGlowTexture())] = "trailglow";
        names_[Pointer(effects_.TrailGlowSurface())] = "trailglow";
        names_[Pointer(effects_.DofBlurTexture())] = "dofblur";
        names_[Pointer(effects_.DofBlurSurface())] = "dofblur";
        names_[Pointer(effects_.DofHalfBlurTexture())] = "dofhalfblur";
        names_[Pointer(effects_.DofHalfBlurSurface())] = "dofhalfblur";
        for (int i = 0; i < 2; ++i) {
            IDirect3DTexture9* sum = effects_.MotionSumTexture(i);
            names_[Pointer(sum)] = "motionsum" + std::to_string(i);
            IDirect3DSurface9* level0 = nullptr;
            if (sum != nullptr && SUCCEEDED(sum->GetSurfaceLevel(0, &level0))) {
                names_[Pointer(level0)] = "motionsum" + std::to_string(i);
                level0->Release();
            }
        }
        ShaderSet& s = g_videoSystem.Shaders();
        const std::pair<const char*, std::pair<ShaderSlot, ShaderSlot>> pairs[] = {
            {"default", {kShaderDefMainVs, kShaderDefMainPs}},
            {"world", {kShaderQ3MainVs, kShaderQ3MainPs}},
            {"sky", {kShaderQ3MainVs, kShaderSkyMainPs}},
            {"brightpass", {kShaderQ3MainVs, kShaderHdrPrePs}},
            {"fakehdr", {kShaderDefMainVs, kShaderHdrPostPs}},
            {"motionblur", {kShaderDefMainVs, kShaderBlurPostPs}},
            {"hdrblur", {kShaderDefMainVs, kShaderBlurHdrPostPs}},
            {"depthoffield", {kShaderDefMainVs, kShaderDepthOfFieldPs}},
        };
        pairs_.clear();
        for (const auto& [name, slots] : pairs) {
            pairs_[Pointer(s.Vertex(slots.first)) + "+" + Pointer(s.Pixel(slots.second))] = name;
        }
        pairs_[Pointer(effects_.PassVertexShader()) + "+" + Pointer(effects_.GlowShader())] = "glowpass";
        pairs_[Pointer(effects_.PassVertexShader()) + "+" + Pointer(effects_.TrailShader())] = "trailpass";
        pairs_[Pointer(effects_.PassVertexShader()) + "+" + Pointer(effects_.TrailGlowShader())] = "trailglowpass";
        pairs_[Pointer(effects_.PassVertexShader()) + "+" + Pointer(effects_.DofBlurShader())] = "dofblurpass";
        pairs_[Pointer(effects_.PassVertexShader()) + "+" + Pointer(effects_.DofHalfBlurShader())] = "dofhalfblurpass";
        const std::string composite = Pointer(s.Vertex(kShaderDefMainVs)) + "+";
        pairs_[composite + Pointer(effects_.MotionSeedShader())] = "motionseed";
        pairs_[composite + Pointer(effects_.MotionStepShader())] = "motionstep";
    }

    std::string Name(const std::string& pointer) const {
        if (pointer == "null") return pointer;
        const auto it = names_.find(pointer);
        return it == names_.end() ? "?" + pointer : it->second;
    }

    // One frame of a path, traced: render targets, depth-stencil binds,
    // clears, shader pairs, textures and what it drew of the scene, each
    // with the sampler and fill state at that moment.
    std::vector<Event> RunTraced(int32_t mode, bool* ran = nullptr) {
        std::vector<std::string> trace;
        RecordingScene scene(&trace);
        D3D9SetTrace(device_, &trace);
        const bool result = effects_.Run(mode, device_, &scene);
        D3D9SetTrace(device_, nullptr);
        if (ran != nullptr) *ran = result;
        return Events(trace);
    }

    std::vector<Event> Events(const std::vector<std::string>& trace) const {
        std::vector<Event> events;
        StateSnapshot state;
        std::string vertexShader;
        for (const std::string& line : trace) {
            EXPECT_NE(line.rfind("error", 0), 0u) << line;
            if (line[0] == '#') {
                events.push_back({line, state});
                continue;
            }
            std::string name;
            std::vector<std::string> args;
            if (!ParseCall(line, &name, &args)) continue;
            if (name == "SetRenderTarget") {
                const std::string index = args.at(0) == "0" ? "" : args.at(0);
                events.push_back({"target" + index + " " + Name(args.at(1)), state});
            } else if (name == "SetDepthStencilSurface") {
                events.push_back({"depthstencil " + Name(args.at(0)), state});
            } else if (name == "Clear") {
                events.push_back({"clear " + args.at(1) + " " + args.at(2) + " " + args.at(3), state});
            } else if (name == "SetVertexShader") {
                vertexShader = args.at(0);
            } else if (name == "SetPixelShader") {
                const auto it = pairs_.find(vertexShader + "+" + args.at(0));
                events.push_back({"pair " + (it == pairs_.end() ? std::string("?") : it->second), state});
            } else if (name == "DrawPrimitiveUP") {  // the 256x256 passes of the effects' own
                events.push_back({"pass " + args.at(1), state});
            } else if (name == "SetRenderState" && args.at(0) == "D3DRS_ZENABLE") {
                state.depthTest = args.at(1);
            } else if (name == "SetTexture") {
                events.push_back({"texture " + args.at(0) + " " + Name(args.at(1)), state});
            } else if (name == "SetSamplerState") {
                state.sampler[args.at(0) + ":" + args.at(1)] = args.at(2);
            } else if (name == "SetRenderState" && args.at(0) == "D3DRS_FILLMODE") {
                state.fill = args.at(1);
            }
        }
        return events;
    }

    static std::vector<std::string> Texts(const std::vector<Event>& events) {
        std::vector<std::string> texts;
        for (const Event& e : events) texts.push_back(e.text);
        return texts;
    }
    static const Event& Find(const std::vector<Event>& events, const std::string& text, int nth = 0) {
        for (const Event& e : events) {
            if (e.text == text && nth-- == 0) return e;
        }
        static const Event kMissing{"missing", {}};
        ADD_FAILURE() << "no event " << text;
        return kMissing;
    }
    // The composite's stage 0 and 1: linear and clamped, solid fill.
    static void ExpectCompositeState(const StateSnapshot& s, int stages = 2) {
        EXPECT_EQ(s.fill, kSolid);
        for (int stage = 0; stage < stages; ++stage) {
            EXPECT_EQ(s.Address(stage), kClamp) << "stage " << stage;
            EXPECT_EQ(s.Filter(stage), kLinear) << "stage " << stage;
        }
    }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
    IDirect3DDevice9* device_ = nullptr;
    PostProcess effects_;
    std::map<std::string, std::string> names_;
    std::map<std::string, std::string> pairs_;
};

const char kClearBoth[] = "clear 0x3 0x00000000 1";

}  // namespace

// ---------------------------------------------------------------------------
// Targets
// ---------------------------------------------------------------------------

TEST_F(PostProcessTrace, TargetsAreMadeInOrderWithTheirSizesUsagesAndFormats) {
    std::vector<std::string> trace;
    D3D9SetTrace(device_, &trace);
    effects_.CreateTargets(device_, kSize, kSize);
    D3D9SetTrace(device_, nullptr);
    std::vector<std::string> expected = {
        "CreateTexture(64, 64, 1, 0x0, D3DFMT_D24S8, D3DPOOL_DEFAULT)",
        "CreateTexture(64, 64, 1, 0x1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT)",
        "CreateTexture(256, 256, 1, 0x1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT)",
    };
    for (int i = 0; i < kMotionFrameCount; ++i) expected.push_back(expected[1]);
    for (int i = 0; i < kBrightHistoryCount; ++i) expected.push_back(expected[2]);
    // The passes' own, last: the glow, the trail and its glow, the depth of
    // field's two blurs at a quarter of each side.
    expected.push_back("CreateTexture(128, 128, 1, 0x1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT)");
    for (int i = 0; i < 2; ++i) expected.push_back(expected[2]);
    for (int i = 0; i < 2; ++i) expected.push_back("CreateTexture(16, 16, 1, 0x1, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT)");
    // The motion blur's two running sums, 16 bits a channel.
    for (int i = 0; i < 2; ++i) expected.push_back("CreateTexture(64, 64, 1, 0x1, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT)");
    std::vector<std::string> created;
    for (const std::string& line : trace) {
        EXPECT_NE(line.rfind("error", 0), 0u) << line;
        if (line.rfind("CreateTexture", 0) == 0) created.push_back(line);
    }
    EXPECT_EQ(created, expected);

    // Every target is distinct, the bound surfaces are the textures' level 0
    // and the back buffer and default depth-stencil are the device's own.
    NameTargets();
    EXPECT_EQ(names_.size(), 2u * (10 + kMotionFrameCount + kBrightHistoryCount) + 2);
    IDirect3DSurface9* level0 = nullptr;
    ASSERT_EQ(effects_.FrameTexture(5)->GetSurfaceLevel(0, &level0), D3D_OK);
    EXPECT_EQ(level0, effects_.FrameSurface(5));
    level0->Release();
    IDirect3DSurface9* backBuffer = nullptr;
    device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
    EXPECT_EQ(backBuffer, effects_.BackBuffer());
    backBuffer->Release();
    D3DSURFACE_DESC desc{};
    effects_.HistoryTexture(6)->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Width, kBrightPassSize);
    const std::pair<IDirect3DTexture9*, UINT> passes[] = {{effects_.GlowTexture(), kGlowSize},
                                                          {effects_.TrailTexture(), kBrightPassSize},
                                                          {effects_.TrailGlowTexture(), kBrightPassSize},
                                                          {effects_.DofBlurTexture(), kSize / kDofBlurDivisor},
                                                          {effects_.DofHalfBlurTexture(), kSize / kDofBlurDivisor}};
    for (const auto& [pass, side] : passes) {
        ASSERT_NE(pass, nullptr);
        pass->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, side);
        EXPECT_EQ(desc.Height, side);
        EXPECT_EQ(desc.Usage, static_cast<DWORD>(D3DUSAGE_RENDERTARGET));
    }
    EXPECT_NE(effects_.PassVertexShader(), nullptr);
    EXPECT_NE(effects_.GlowShader(), nullptr);
    EXPECT_NE(effects_.TrailShader(), nullptr);
    EXPECT_NE(effects_.TrailGlowShader(), nullptr);
    EXPECT_NE(effects_.DofBlurShader(), nullptr);
    EXPECT_NE(effects_.DofHalfBlurShader(), nullptr);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    EXPECT_NE(effects_.MotionSeedShader(), nullptr);
    EXPECT_NE(effects_.MotionStepShader(), nullptr);
    EXPECT_FALSE(effects_.MotionSumKept());
}

TEST_F(PostProcessTrace, TargetsThatCannotBeMadePrintTheirMessagesAndThePathsStillRun) {
    PrintCapture output;
    effects_.CreateTargets(device_, 0, 0);  // no texture is 0 x 0; the 256 x 256 ones are fine
    std::vector<std::string> expected = {"Error creating destination depth stencil texture",
                                         "Error creating destination renderer texture"};
    for (int i = 0; i < kMotionFrameCount; ++i) {
        expected.push_back("Error creating destination motion texture " + std::to_string(i));
    }
    // The motion blur's running sums are screen-size too.
    for (int i = 0; i < 2; ++i) expected.push_back("Error creating destination renderer texture");
    EXPECT_EQ(output.Lines(), expected);
    EXPECT_EQ(effects_.SceneTexture(), nullptr);
    EXPECT_EQ(effects_.FrameTexture(7), nullptr);
    EXPECT_NE(effects_.BrightPassTexture(), nullptr);
    EXPECT_NE(effects_.HistoryTexture(6), nullptr);
    EXPECT_NE(effects_.BackBuffer(), nullptr);

    NameTargets();
    for (int mode = kEffectFakeHdr; mode <= kEffectDepthOfField; ++mode) {
        const std::vector<std::string> texts = Texts(RunTraced(mode));  // no device call is refused
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "#quad"), 1) << mode;
    }
    EXPECT_EQ(effects_.MotionIndex(), 1);
    EXPECT_EQ(effects_.HistoryIndex(), 1);
}

TEST(PostProcessQuad, MovesHalfAPixelLeftAndUpWhenTheTargetsAreMadeAndOnlyOnce) {
    ScratchFolder folder;
    folder.CopyContent({"shaders.hlsl", "noshader.jpg"});
    for (int run = 0; run < 2; ++run) {  // a second device does not move it again
        HeadlessWindow window(80, 50);
        PrintCapture quiet;
        ASSERT_EQ(g_videoSystem.Initialise(), 1);
        const GpuVertex* quad = g_renderer.FullScreenQuad();
        const float dx = 1.0f / 80.0f, dy = 1.0f / 50.0f;
        const float corners[4][4] = {{-1, 1, 0, 0}, {1, 1, 1, 0}, {-1, -1, 0, 1}, {1, -1, 1, 1}};
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(quad[i].position[0], corners[i][0] - dx) << i;
            EXPECT_FLOAT_EQ(quad[i].position[1], corners[i][1] + dy) << i;
            EXPECT_EQ(quad[i].position[2], 0.0f);
            EXPECT_EQ(quad[i].texCoord[0], corners[i][2]);
            EXPECT_EQ(quad[i].texCoord[1], corners[i][3]);
        }
        EXPECT_NE(g_renderer.Effects().FrameTexture(0), nullptr);
        EXPECT_NE(g_renderer.Effects().GlowTexture(), nullptr);
        EXPECT_NE(g_renderer.Effects().TrailShader(), nullptr);
        // A new window size makes the targets again; the glow stays 128 x 128,
        // the depth of field's blurs follow the window.
        g_renderer.ResizeTargets(GetDevice(), 40, 30);
        D3DSURFACE_DESC desc{};
        ASSERT_NE(g_renderer.Effects().GlowTexture(), nullptr);
        g_renderer.Effects().GlowTexture()->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, kGlowSize);
        ASSERT_NE(g_renderer.Effects().DofBlurTexture(), nullptr);
        g_renderer.Effects().DofBlurTexture()->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, 10u);
        EXPECT_EQ(desc.Height, 7u);
        ASSERT_NE(g_renderer.Effects().TrailTexture(), nullptr);
        g_renderer.Effects().FrameTexture(0)->GetLevelDesc(0, &desc);
        EXPECT_EQ(desc.Width, 40u);
        EXPECT_NE(g_renderer.Effects().GlowShader(), nullptr);
        g_videoSystem.shutdown(0);
        EXPECT_EQ(g_renderer.Effects().FrameTexture(0), nullptr);  // gone with the device
        EXPECT_EQ(g_renderer.Effects().GlowTexture(), nullptr);
        EXPECT_EQ(g_renderer.Effects().TrailTexture(), nullptr);
        EXPECT_EQ(g_renderer.Effects().GlowShader(), nullptr);
    }
}

// ---------------------------------------------------------------------------
// The paths, step by step
// ---------------------------------------------------------------------------

TEST_F(PostProcessTrace, OtherModesAreNotPostProcessPaths) {
    for (int32_t mode : {0, 5, 7, -1}) {
        bool ran = true;
        EXPECT_TRUE(RunTraced(mode, &ran).empty()) << mode;
        EXPECT_FALSE(ran) << mode;
    }
}

TEST_F(PostProcessTrace, FakeHdrDrawsSceneAndBrightPassThenCombinesThem) {
    bool ran = false;
    const std::vector<Event> events = RunTraced(kEffectFakeHdr, &ran);
    EXPECT_TRUE(ran);
    const std::vector<std::string> expected = {
        "target scene",      kClearBoth,     "#sky",          "pair world",      "#caches keep",
        "target bright",     kClearBoth,     "pair brightpass", "#caches empty",
        "texture 1 bright",  "target glow",  "pair glowpass", "pass 2",         "target backbuffer",
        "pair fakehdr",      "texture 0 scene", "texture 1 glow", "#quad"};
    EXPECT_EQ(Texts(events), expected);
    // The glow pass reads the bright pass filtered and clamped, and leaves
    // the depth buffer alone.
    const StateSnapshot& glow = Find(events, "pass 2").state;
    EXPECT_EQ(glow.Address(1), kClamp);
    EXPECT_EQ(glow.Filter(1), kLinear);
    EXPECT_EQ(glow.depthTest, "0");
    EXPECT_EQ(Find(events, "#quad").state.depthTest, "1");

    const StateSnapshot& world = Find(events, "#caches keep").state;
    EXPECT_EQ(world.fill, kSolid);
    EXPECT_EQ(world.Address(0), kWrap);
    EXPECT_EQ(world.Address(1), kClamp);
    const StateSnapshot& bright = Find(events, "#caches empty").state;
    EXPECT_EQ(bright.Filter(0), kLinear);
    EXPECT_EQ(bright.Filter(1), kLinear);
    EXPECT_EQ(bright.Address(0), kWrap);
    ExpectCompositeState(Find(events, "#quad").state);
    EXPECT_EQ(effects_.MotionIndex(), 0);
    EXPECT_EQ(effects_.HistoryIndex(), 0);
}

TEST_F(PostProcessTrace, MotionBlurDrawsIntoFrameMAndStageSHoldsFrameMMinusS) {
    for (int frame = 0; frame < 10; ++frame) {
        const int m = frame % kMotionFrameCount;
        ASSERT_EQ(effects_.MotionIndex(), m);
        const std::vector<Event> events = RunTraced(kEffectMotionBlur);
        std::vector<std::string> expected = {"target frame" + std::to_string(m), "#sky", "pair world",
                                             "#caches empty", "target backbuffer", "pair motionblur"};
        for (int s = 0; s < kMotionFrameCount; ++s) {
            expected.push_back("texture " + std::to_string(s) + " frame" + std::to_string((m - s + 8) % 8));
        }
        // The first composite sums all eight and starts the running sum in
        // its second target; later ones read this frame, the sum the last
        // frame wrote (on stage 1) and frame m - 7, and write the other sum.
        const std::string written = "motionsum" + std::to_string((frame + 1) % 2);
        if (frame == 0) {
            expected.push_back("pair motionseed");
        } else {
            expected.push_back("texture 1 motionsum" + std::to_string(frame % 2));
            expected.push_back("pair motionstep");
        }
        expected.insert(expected.end(), {"target1 " + written, "#quad", "target1 null"});
        EXPECT_EQ(Texts(events), expected) << "frame " << frame;  // the frame texture is never cleared
        EXPECT_TRUE(effects_.MotionSumKept());

        const StateSnapshot& sky = Find(events, "#sky").state;
        EXPECT_EQ(sky.fill, kSolid);
        EXPECT_EQ(sky.Filter(0), kLinear);
        EXPECT_EQ(sky.Filter(1), kLinear);
        EXPECT_EQ(sky.Address(1), kClamp);
        EXPECT_EQ(Find(events, "#caches empty").state.Address(0), kWrap);
        ExpectCompositeState(Find(events, "#quad").state, kMotionFrameCount);
    }
    EXPECT_EQ(effects_.MotionIndex(), 2);
    EXPECT_EQ(effects_.HistoryIndex(), 0);
}

TEST_F(PostProcessTrace, HdrBlurKeepsSevenBrightPassesAndStageSHoldsTheOneOfSMinusOneFramesAgo) {
    for (int frame = 0; frame < 9; ++frame) {
        const int h = frame % kBrightHistoryCount;
        ASSERT_EQ(effects_.HistoryIndex(), h);
        const std::vector<Event> events = RunTraced(kEffectHdrBlur);
        const std::string history = "history" + std::to_string(h);
        std::vector<std::string> expected = {
            "pair world",   "target scene", kClearBoth,          "#caches keep",      "target " + history,
            kClearBoth,     "pair brightpass", "#caches empty"};
        // The trail sums the seven bright passes, stage s holding the one of
        // s - 1 frames ago; its glow reads the trail on stage 1, and the
        // composite the glow.
        for (int s = 1; s < kMotionFrameCount; ++s) {
            expected.push_back("texture " + std::to_string(s) + " history" + std::to_string((h + 8 - s) % 7));
        }
        for (const char* text : {"target trail", "pair trailpass", "pass 2", "texture 1 trail", "target trailglow",
                                 "pair trailglowpass", "pass 2", "target backbuffer", kClearBoth, "pair hdrblur",
                                 "texture 0 scene", "texture 1 trailglow"}) {
            expected.push_back(text);
        }
        for (int s = 2; s < kMotionFrameCount; ++s) {
            expected.push_back("texture " + std::to_string(s) + " history" + std::to_string((h + 8 - s) % 7));
        }
        expected.push_back("#quad");
        EXPECT_EQ(Texts(events), expected) << "frame " << frame;  // and no sky

        const StateSnapshot& world = Find(events, "#caches keep").state;
        EXPECT_EQ(world.fill, kSolid);
        EXPECT_EQ(world.Address(0), kWrap);
        EXPECT_EQ(world.Address(1), kClamp);
        EXPECT_EQ(world.Filter(0), kLinear);
        EXPECT_EQ(world.Filter(1), kLinear);
        ExpectCompositeState(Find(events, "#quad").state, kMotionFrameCount);
        const StateSnapshot& pass = Find(events, "pass 2").state;
        EXPECT_EQ(pass.depthTest, "0");
        for (int stage = 1; stage < kMotionFrameCount; ++stage) {
            EXPECT_EQ(pass.Address(stage), kClamp) << stage;
            EXPECT_EQ(pass.Filter(stage), kLinear) << stage;
        }
    }
    EXPECT_EQ(effects_.HistoryIndex(), 2);
    EXPECT_EQ(effects_.MotionIndex(), 0);
}

TEST_F(PostProcessTrace, WithoutTheirShadersTheGlowAndTrailPassesAreSkippedAndTheCompositesStillRun) {
    std::string source = folder_.Read("shaders.hlsl");
    for (const std::string entry : {"hdr_glow_ps(", "hdr_trail_ps(", "dof_blur_ps("}) {
        const size_t at = source.find(entry);
        ASSERT_NE(at, std::string::npos) << entry;
        source.replace(at, entry.size() - 1, "unused_" + entry.substr(0, entry.size() - 1));
    }
    folder_.Write("shaders.hlsl", source);
    {
        PrintCapture quiet;  // the compiler says what it missed
        effects_.CreateTargets(device_, kSize, kSize);
    }
    NameTargets();
    EXPECT_EQ(effects_.GlowShader(), nullptr);
    EXPECT_EQ(effects_.TrailShader(), nullptr);
    EXPECT_EQ(effects_.DofBlurShader(), nullptr);
    ASSERT_NE(effects_.GlowTexture(), nullptr);

    // The composites read the raw bright pass of this frame instead.
    std::vector<std::string> texts = Texts(RunTraced(kEffectFakeHdr));
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "target glow"), 0);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "pass 2"), 0);
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[texts.size() - 3], "texture 0 scene");
    EXPECT_EQ(texts[texts.size() - 2], "texture 1 bright");
    EXPECT_EQ(texts.back(), "#quad");

    texts = Texts(RunTraced(kEffectHdrBlur));
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "target trail"), 0);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "#quad"), 1);
    // The trail's glow blurs this frame's bright pass instead.
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "target trailglow"), 1);
    const auto scene = std::find(texts.begin(), texts.end(), "texture 0 scene");
    ASSERT_NE(scene, texts.end());
    ASSERT_NE(scene + 1, texts.end());
    EXPECT_EQ(*(scene + 1), "texture 1 trailglow");
    EXPECT_EQ(effects_.HistoryIndex(), 1);

    // Depth of field without its widest blur: the composite's stage 2 holds
    // the sharp scene, the half blur is still drawn.
    texts = Texts(RunTraced(kEffectDepthOfField));
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "target dofblur"), 0);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "target dofhalfblur"), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "texture 2 scene"), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "texture 3 dofhalfblur"), 1);
    EXPECT_EQ(texts.back(), "#quad");
}

TEST_F(PostProcessTrace, DepthOfFieldDrawsSceneAndDepthThenTheSkyAndBlursByDepth) {
    for (int wireframe : {0, 1, 2}) {
        r_wireframe.intValue = wireframe;
        const std::vector<Event> events = RunTraced(kEffectDepthOfField);
        // Then the two blurs of the scene, at a quarter of each side, which
        // the composite reads on stages 2 and 3.
        const std::vector<std::string> expected = {
            "target scene",      "depthstencil depth",        kClearBoth,   "pair world",
            "#caches empty",     "#sky",                      "target backbuffer",
            "depthstencil defaultdepth", kClearBoth,          "texture 0 scene",
            "target dofblur",    "pair dofblurpass",          "pass 2",     "target dofhalfblur",
            "pair dofhalfblurpass", "pass 2",                 "target backbuffer",
            "pair depthoffield", "texture 0 scene",           "texture 1 depth",
            "texture 2 dofblur", "texture 3 dofhalfblur",     "#quad"};
        EXPECT_EQ(Texts(events), expected);
        // Only r_wireframe 1 means wireframe; the composite is always solid.
        const char* fill = wireframe == 1 ? kWireframe : kSolid;
        const StateSnapshot& world = Find(events, "#caches empty").state;
        EXPECT_EQ(world.fill, fill) << wireframe;
        EXPECT_EQ(Find(events, "#sky").state.fill, fill) << wireframe;
        EXPECT_EQ(world.Address(0), kWrap);
        EXPECT_EQ(world.Address(1), kClamp);
        EXPECT_EQ(world.Filter(0), kLinear);
        EXPECT_EQ(world.Filter(1), kLinear);
        ExpectCompositeState(Find(events, "#quad").state);
    }
}

TEST_F(PostProcessTrace, WireframeLeftOnTheDeviceNeverReachesTheOtherPaths) {
    r_wireframe.intValue = 1;
    for (int32_t mode : {kEffectFakeHdr, kEffectMotionBlur, kEffectHdrBlur}) {
        device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);  // as depth of field leaves it mid-frame
        const std::vector<Event> events = RunTraced(mode);
        for (const Event& e : events) {
            if (e.text[0] == '#') {
                EXPECT_EQ(e.state.fill, kSolid) << mode << " " << e.text;
            }
        }
    }
}

TEST_F(PostProcessTrace, WithMultisamplingMotionBlurAndHdrBlurDrawNothingAndKeepTheirIndices) {
    RunTraced(kEffectMotionBlur);
    RunTraced(kEffectHdrBlur);
    vid_multisample.intValue = 2;
    for (int frame = 0; frame < 3; ++frame) {
        bool ran = false;
        EXPECT_TRUE(RunTraced(kEffectMotionBlur, &ran).empty());
        EXPECT_TRUE(ran);
        EXPECT_TRUE(RunTraced(kEffectHdrBlur, &ran).empty());
        EXPECT_TRUE(ran);
    }
    EXPECT_EQ(effects_.MotionIndex(), 1);
    EXPECT_EQ(effects_.HistoryIndex(), 1);
    // Fake HDR and depth of field are not affected.
    EXPECT_EQ(Texts(RunTraced(kEffectFakeHdr)).size(), 18u);
    EXPECT_EQ(Texts(RunTraced(kEffectDepthOfField)).size(), 23u);
}

TEST_F(PostProcessTrace, EachIndexAdvancesOnlyInFramesOfItsOwnPath) {
    const int32_t modes[] = {2, 2, 3, 1, 4, 0, 2, 3, 3, 9, 2, 1};
    int m = 0, h = 0;
    for (int32_t mode : modes) {
        RunTraced(mode);
        if (mode == kEffectMotionBlur) m = (m + 1) % 8;
        if (mode == kEffectHdrBlur) h = (h + 1) % 7;
        EXPECT_EQ(effects_.MotionIndex(), m) << "after mode " << mode;
        EXPECT_EQ(effects_.HistoryIndex(), h) << "after mode " << mode;
    }
    EXPECT_EQ(m, 4);
    EXPECT_EQ(h, 3);
    // Fresh targets start both again.
    effects_.CreateTargets(device_, kSize, kSize);
    EXPECT_EQ(effects_.MotionIndex(), 0);
    EXPECT_EQ(effects_.HistoryIndex(), 0);
}

// ---------------------------------------------------------------------------
// Through the renderer
// ---------------------------------------------------------------------------

namespace {

class RendererPaths : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.CopyContent({"shaders.hlsl", "noshader.jpg"});
        window_ = std::make_unique<HeadlessWindow>(64, 64);
        {
            PrintCapture quiet;
            ASSERT_EQ(g_videoSystem.Initialise(), 1);
        }
        g_camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, 64.0f, 64.0f);
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
        vid_multisample.intValue = 0;
        IDirect3DDevice9* device = GetDevice();
        ASSERT_EQ(device->CreateVertexBuffer(3 * sizeof(GpuVertex), D3DUSAGE_WRITEONLY, kGpuVertexFvf,
                                             D3DPOOL_DEFAULT, &triangle_, nullptr),
                  D3D_OK);
        void* data = nullptr;
        triangle_->Lock(0, 0, &data, 0);
        GpuVertex* v = static_cast<GpuVertex*>(data);
        for (int i = 0; i < 3; ++i) v[i] = GpuVertex{{float(i), 1.0f, -10.0f}, {0, 0, 1}, 0xFFFFFFFF, {0, 0}, {0, 0, 0}};
        triangle_->Unlock();
        PrintCapture quiet;
        SetupRenderCaches(2);
    }
    void TearDown() override {
        D3D9SetTrace(GetDevice(), nullptr);
        vid_multisample.intValue = 0;
        vid_effectmode.intValue = 0;
        if (triangle_ != nullptr) triangle_->Release();
        PrintCapture quiet;
        SetupRenderCaches(0);
        g_videoSystem.shutdown(0);
        window_.reset();
    }

    // One item in texture 0's main list and one in texture 1's tga list.
    void Gather() {
        for (uint32_t set = 0; set < 2; ++set) {
            RenderItem* item = AllocateRenderItem(set, set);
            ASSERT_NE(item, nullptr);
            item->vertexBuffer = triangle_;
            item->primitiveType = D3DPT_TRIANGLEFAN;
            item->count = 3;
        }
    }
    uint32_t Used() const { return g_renderer.MainSet().lists[0].used + g_renderer.TgaSet().lists[1].used; }

    // Draws one frame in a mode; the lines of the trace that begin with prefix.
    size_t Frame(int32_t mode, const std::string& prefix) {
        std::vector<std::string> trace;
        vid_effectmode.intValue = mode;
        D3D9SetTrace(GetDevice(), &trace);
        EXPECT_EQ(g_renderer.frame(), 0);
        D3D9SetTrace(GetDevice(), nullptr);
        for (const std::string& line : trace) EXPECT_NE(line.rfind("error", 0), 0u) << line;
        return static_cast<size_t>(std::count_if(trace.begin(), trace.end(), [&](const std::string& line) {
            return line.rfind(prefix, 0) == 0;
        }));
    }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
    IDirect3DVertexBuffer9* triangle_ = nullptr;
};

}  // namespace

TEST_F(RendererPaths, EveryPathEmptiesBothCacheSetsOnceAFrame) {
    // Fake HDR and HDR blur draw the items twice (scene and bright pass).
    const size_t draws[] = {2, 4, 2, 4, 2};
    for (int32_t mode = 0; mode <= 4; ++mode) {
        Gather();
        ASSERT_EQ(Used(), 2u);
        EXPECT_EQ(Frame(mode, "DrawPrimitive(D3DPT_TRIANGLEFAN"), draws[mode]) << mode;
        EXPECT_EQ(Used(), 0u) << mode;
        EXPECT_EQ(g_renderer.ItemsDrawn(), 2u) << mode;
        EXPECT_EQ(Frame(mode, "DrawPrimitive(D3DPT_TRIANGLEFAN"), 0u) << mode;  // nothing left over
    }
}

TEST_F(RendererPaths, TheModeOfEachFramePicksItsPath) {
    const PostProcess& effects = g_renderer.Effects();
    const std::string frame0 = "SetRenderTarget(0, " + Pointer(effects.FrameSurface(0)) + ")";
    const std::string frame1 = "SetRenderTarget(0, " + Pointer(effects.FrameSurface(1)) + ")";
    const std::string history0 = "SetRenderTarget(0, " + Pointer(effects.HistorySurface(0)) + ")";
    const std::string depth = "SetDepthStencilSurface(" + Pointer(effects.DepthSurface()) + ")";
    const std::string bright = "SetRenderTarget(0, " + Pointer(effects.BrightPassSurface()) + ")";
    EXPECT_EQ(Frame(0, "SetRenderTarget"), 0u);
    EXPECT_EQ(Frame(7, "SetRenderTarget"), 0u);
    EXPECT_EQ(Frame(2, frame0), 1u);
    EXPECT_EQ(Frame(1, bright), 1u);
    EXPECT_EQ(Frame(3, history0), 1u);
    EXPECT_EQ(Frame(4, depth), 1u);
    EXPECT_EQ(Frame(2, frame1), 1u);
    EXPECT_EQ(effects.MotionIndex(), 2);
    EXPECT_EQ(effects.HistoryIndex(), 1);
}

TEST_F(RendererPaths, WithMultisamplingItemsPileUpInModes2And3UntilAnotherPathDrawsThem) {
    vid_multisample.intValue = 1;
    for (int32_t mode : {2, 3}) {
        for (uint32_t frame = 1; frame <= 3; ++frame) {
            Gather();
            EXPECT_EQ(Frame(mode, "DrawPrimitive(D3DPT_TRIANGLEFAN"), 0u);
            EXPECT_EQ(Used(), 2 * frame);
            EXPECT_EQ(Frame(mode, "Present"), 1u);  // the cleared back buffer and the overlay
        }
        // Depth of field and fake HDR still draw, and empty what piled up:
        // the three items of each list, alike but for the frame that
        // gathered them, are one merged draw per list and pass.
        EXPECT_EQ(Frame(mode == 2 ? 4 : 1, "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 3, "), mode == 2 ? 2u : 4u);
        EXPECT_EQ(g_renderer.ItemsDrawn(), 6u);
        EXPECT_EQ(Used(), 0u);
    }
    EXPECT_EQ(g_renderer.Effects().MotionIndex(), 0);
    EXPECT_EQ(g_renderer.Effects().HistoryIndex(), 0);
}

// ---------------------------------------------------------------------------
// What each path does to the picture
// ---------------------------------------------------------------------------

namespace {

// Grey rectangles facing the camera, given in screen coordinates (-1..1,
// y up) at a distance, with a black backdrop far away as the sky. Surfaces
// are lit by a half-bright lightmap, which the world shader doubles, so a
// rectangle shows its grey as it is.
class RectScene : public PostProcessScene {
public:
    explicit RectScene(IDirect3DDevice9* device) : device_(device) {
        black_ = Texture(0x00);
        lightmap_ = Texture(0x80);
        Add(-1.0f, 1.0f, -1.0f, 1.0f, 50000.0f, 0x00, &backdrop_);
    }
    ~RectScene() {
        Clear();
        Release(&backdrop_);
        black_->Release();
        lightmap_->Release();
    }

    void Add(float x0, float x1, float y0, float y1, float distance, uint8_t grey) {
        rects_.emplace_back();
        Add(x0, x1, y0, y1, distance, grey, &rects_.back());
    }
    void Clear() {
        for (Rect& rect : rects_) Release(&rect);
        rects_.clear();
    }

    void DrawSky(IDirect3DDevice9* device) override {
        SetClampAddress(device, 0);
        BindSkyShaders();
        device->SetTexture(0, black_);
        g_videoSystem.BindFallbackTexture(1);
        Draw(backdrop_, false);
    }
    void DrawCaches(IDirect3DDevice9*, bool) override {
        for (const Rect& rect : rects_) Draw(rect, true);
    }
    void DrawFullScreenQuad() override { g_videoSystem.DrawQuadStrip(g_renderer.FullScreenQuad(), 4); }

private:
    struct Rect {
        IDirect3DVertexBuffer9* buffer = nullptr;
        IDirect3DTexture9* texture = nullptr;
    };

    IDirect3DTexture9* Texture(uint8_t grey) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device_->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        D3DLOCKED_RECT locked{};
        texture->LockRect(0, &locked, nullptr, 0);
        *static_cast<uint32_t*>(locked.pBits) = 0xFF000000u | grey * 0x010101u;
        texture->UnlockRect(0);
        return texture;
    }
    // The camera looks down -z with screen right along -x; 90 degrees wide.
    void Add(float x0, float x1, float y0, float y1, float distance, uint8_t grey, Rect* rect) {
        device_->CreateVertexBuffer(4 * sizeof(GpuVertex), D3DUSAGE_WRITEONLY, kGpuVertexFvf, D3DPOOL_MANAGED,
                                    &rect->buffer, nullptr);
        void* data = nullptr;
        rect->buffer->Lock(0, 0, &data, 0);
        GpuVertex* v = static_cast<GpuVertex*>(data);
        const float corners[4][2] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
        for (int i = 0; i < 4; ++i) {
            v[i] = GpuVertex{{-corners[i][0] * distance, corners[i][1] * distance, -distance},
                             {0, 0, 1}, 0xFFFFFFFF, {0.5f, 0.5f}, {0.5f, 0.5f, 0.0f}};
        }
        rect->buffer->Unlock();
        rect->texture = Texture(grey);
    }
    void Draw(const Rect& rect, bool lit) {
        if (lit) {
            device_->SetTexture(0, rect.texture);
            device_->SetTexture(1, lightmap_);
        }
        device_->SetStreamSource(0, rect.buffer, 0, sizeof(GpuVertex));
        device_->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, 2);
    }
    static void Release(Rect* rect) {
        if (rect->buffer != nullptr) rect->buffer->Release();
        if (rect->texture != nullptr) rect->texture->Release();
        *rect = Rect{};
    }

    IDirect3DDevice9* device_;
    IDirect3DTexture9* black_ = nullptr;
    IDirect3DTexture9* lightmap_ = nullptr;
    Rect backdrop_;
    std::vector<Rect> rects_;
};

class PostProcessPixels : public ::testing::Test {
protected:
    // The 256 x 256 bright-pass targets share the back buffer's depth
    // buffer, so the back buffer is at least that large. Tests place things
    // in units of half a pixel (0..127 across).
    static constexpr int kSize = 256;

    void SetUp() override {
        folder_.CopyContent({"shaders.hlsl", "noshader.jpg"});
        window_ = std::make_unique<HeadlessWindow>(kSize, kSize);
        {
            PrintCapture quiet;
            ASSERT_EQ(g_videoSystem.Initialise(), 1);
        }
        device_ = GetDevice();
        effects_.CreateTargets(device_, kSize, kSize);
        scene_ = std::make_unique<RectScene>(device_);
        g_camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
        g_camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, kSize, kSize);
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
        vid_multisample.intValue = 0;
        r_wireframe.intValue = 0;
    }
    void TearDown() override {
        scene_.reset();
        effects_.Release();
        PrintCapture quiet;
        g_videoSystem.shutdown(0);
        window_.reset();
    }

    // One frame of a path (0: the scene drawn straight to the back buffer,
    // as without effects); the red channel of every pixel, top row first.
    std::vector<int> Frame(int32_t mode) {
        g_videoSystem.BeginFrame();
        D3DXMATRIX viewProjection;
        D3DXMatrixMultiply(&viewProjection, &g_camera.View(), &g_camera.Projection());
        device_->SetVertexShaderConstantF(0, viewProjection, 4);
        device_->SetFVF(kGpuVertexFvf);
        if (!effects_.Run(mode, device_, scene_.get())) {
            scene_->DrawSky(device_);
            SetWrapAddress(device_, 0);
            SetClampAddress(device_, 1);
            SetSolidState(device_);
            SetLinearFilter(device_, 0);
            SetLinearFilter(device_, 1);
            BindWorldShaders();
            scene_->DrawCaches(device_, true);
        }
        g_videoSystem.EndFrame();
        std::vector<uint32_t> argb;
        int width = 0, height = 0;
        EXPECT_TRUE(D3D9ReadBackBuffer(device_, &argb, &width, &height));
        EXPECT_EQ(width, kSize);
        std::vector<int> red;
        for (uint32_t p : argb) red.push_back(static_cast<int>((p >> 16) & 0xFF));
        return red;
    }
    static int At(const std::vector<int>& red, int x, int y) {
        return red[static_cast<size_t>(y * kSize / 128) * kSize + static_cast<size_t>(x * kSize / 128)];
    }
    // Screen coordinate of a column's left edge.
    static float Column(int x) { return -1.0f + 2.0f * static_cast<float>(x) / 128.0f; }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
    IDirect3DDevice9* device_ = nullptr;
    PostProcess effects_;
    std::unique_ptr<RectScene> scene_;
};

}  // namespace

TEST_F(PostProcessPixels, FakeHdrMakesHighlightsGlowButNotMidTones) {
    scene_->Add(Column(16), Column(48), -0.25f, 0.25f, 10.0f, 0xFF);  // columns 16-47: white
    scene_->Add(Column(80), Column(112), -0.25f, 0.25f, 10.0f, 0x30);  // columns 80-111: dark grey
    const std::vector<int> plain = Frame(kEffectNone);
    const std::vector<int> hdr = Frame(kEffectFakeHdr);
    ASSERT_GE(At(plain, 32, 64), 250);
    ASSERT_EQ(At(plain, 50, 64), 0);
    ASSERT_NEAR(At(plain, 96, 64), 0x30, 2);

    EXPECT_GE(At(hdr, 32, 64), 235);                // white stays (nearly) white
    EXPECT_GT(At(hdr, 50, 64), 20);                 // and glows beyond its edge
    EXPECT_GT(At(hdr, 32, 46), 20);                 // above it too
    EXPECT_GT(At(hdr, 50, 64), At(hdr, 56, 64));    // fading with distance
    EXPECT_LE(At(hdr, 78, 64), 2);                  // the dark grey does not glow
    EXPECT_GT(At(hdr, 96, 64), At(plain, 96, 64));  // though the tone curve lifts it
    EXPECT_EQ(At(hdr, 120, 10), 0);                 // black stays black
}

TEST_F(PostProcessPixels, MotionBlurSpreadsAMovingBarOverItsLastEightPlaces) {
    // A bar 16 columns wide steps right by its width each frame.
    std::vector<int> blurred;
    for (int k = 0; k < 8; ++k) {
        scene_->Clear();
        scene_->Add(Column(16 * k), Column(16 * k + 16), -1.0f, 1.0f, 10.0f, 0xFF);
        blurred = Frame(kEffectMotionBlur);
    }
    const std::vector<int> plain = Frame(kEffectNone);
    for (int k = 0; k < 7; ++k) {
        EXPECT_EQ(At(plain, 16 * k + 8, 64), 0) << k;
        EXPECT_GT(At(blurred, 16 * k + 8, 64), 5) << k;  // every earlier place still shows
        EXPECT_LT(At(blurred, 16 * k + 8, 64), At(blurred, 16 * k + 24, 64)) << k;  // the newest most
    }
    EXPECT_LT(At(blurred, 16 * 7 + 8, 64), 128);  // the current place is only part of the picture
    EXPECT_GE(At(plain, 16 * 7 + 8, 64), 250);

    // Held still for eight frames, the trail is gone and the bar is solid.
    for (int k = 0; k < 8; ++k) blurred = Frame(kEffectMotionBlur);
    EXPECT_GE(At(blurred, 16 * 7 + 8, 64), 250);
    for (int k = 0; k < 7; ++k) EXPECT_LE(At(blurred, 16 * k + 8, 64), 1) << k;
    EXPECT_EQ(effects_.MotionIndex(), 0);
}

TEST_F(PostProcessPixels, MotionBlurIsTheWeightedSumOfTheLastEightFramesInEveryFrame) {
    // Frame s frames ago weighs c * r^s. The composite carries a running sum
    // from frame to frame, so check every frame against the eight frames
    // themselves: through other paths, skipped frames and fresh targets.
    const double r = 0.84;
    const double c = (1.0 - r) / (1.0 - std::pow(r, 8));
    // Frame k: a bar 16 columns wide at place (3k mod 8), of its own grey.
    const auto place = [](int k) { return (3 * k) % 8; };
    const auto grey = [](int k) { return static_cast<uint8_t>(40 + 23 * (k % 9)); };
    std::map<int, int> drawn;  // grey -> what the plain path draws of it
    for (int k = 0; k < 9; ++k) {
        scene_->Clear();
        scene_->Add(Column(0), Column(16), -1.0f, 1.0f, 10.0f, grey(k));
        drawn[grey(k)] = At(Frame(kEffectNone), 8, 64);
    }
    std::vector<int> shown;  // frame k's bar place and grey, by motion-blur frame
    int frame = 0;
    int checked = 0;
    const auto blurFrame = [&](bool check) {
        const int k = frame++;
        scene_->Clear();
        scene_->Add(Column(16 * place(k)), Column(16 * place(k) + 16), -1.0f, 1.0f, 10.0f, grey(k));
        shown.push_back(k);
        const std::vector<int> picture = Frame(kEffectMotionBlur);
        if (!check) return;
        ++checked;
        for (int p = 0; p < 8; ++p) {
            double expected = 0.0;
            for (int s = 0; s < 8; ++s) {
                const int old = shown[shown.size() - 1 - static_cast<size_t>(s)];
                if (place(old) == p) expected += c * std::pow(r, s) * drawn[grey(old)];
            }
            EXPECT_NEAR(At(picture, 16 * p + 8, 64), expected, 2.0) << "frame " << k << " place " << p;
        }
    };
    for (int k = 0; k < 8; ++k) blurFrame(false);  // fills the eight frame textures
    for (int k = 0; k < 6; ++k) blurFrame(true);
    EXPECT_TRUE(effects_.MotionSumKept());
    Frame(kEffectFakeHdr);  // other paths leave the frames and the sum alone
    Frame(kEffectNone);
    blurFrame(true);
    vid_multisample.intValue = 1;  // a frame the path skips
    Frame(kEffectMotionBlur);
    vid_multisample.intValue = 0;
    for (int k = 0; k < 10; ++k) blurFrame(true);

    effects_.CreateTargets(device_, kSize, kSize);  // as on a resize: the sum starts again
    EXPECT_FALSE(effects_.MotionSumKept());
    shown.clear();
    for (int k = 0; k < 8; ++k) blurFrame(false);
    for (int k = 0; k < 4; ++k) blurFrame(true);
    EXPECT_EQ(checked, 21);
}

TEST_F(PostProcessPixels, HdrBlurGlowOutlivesItsHighlightForSixFrames) {
    scene_->Add(Column(48), Column(80), -0.25f, 0.25f, 10.0f, 0xFF);
    for (int k = 0; k < 7; ++k) Frame(kEffectHdrBlur);
    std::vector<int> picture = Frame(kEffectHdrBlur);
    EXPECT_GE(At(picture, 64, 64), 235);
    EXPECT_GT(At(picture, 81, 64), 20);  // glow beyond the edge
    EXPECT_EQ(At(Frame(kEffectNone), 81, 64), 0);

    // The highlight goes; its glow fades over the next six frames and is
    // gone in the seventh, when its bright pass is overwritten.
    scene_->Clear();
    int previous = 256;
    for (int frame = 1; frame <= 6; ++frame) {
        picture = Frame(kEffectHdrBlur);
        EXPECT_GT(At(picture, 64, 64), 5) << frame;
        EXPECT_LT(At(picture, 64, 64), previous) << frame;
        previous = At(picture, 64, 64);
    }
    EXPECT_LE(At(Frame(kEffectHdrBlur), 64, 64), 1);
}

TEST_F(PostProcessPixels, DepthOfFieldBlursFarEdgesAndKeepsEdgesAtTheFocusSharp) {
    // Near (in focus: the centre is near): white columns 16-47, then black
    // over the centre. Far: white columns 80-111.
    scene_->Add(Column(16), Column(48), -1.0f, 1.0f, 10.0f, 0xFF);
    scene_->Add(Column(48), Column(80), -1.0f, 1.0f, 10.0f, 0x00);
    scene_->Add(Column(80), Column(112), -1.0f, 1.0f, 5000.0f, 0xFF);
    const std::vector<int> plain = Frame(kEffectNone);
    const std::vector<int> dof = Frame(kEffectDepthOfField);
    ASSERT_GE(At(plain, 47, 64), 250);
    ASSERT_EQ(At(plain, 48, 64), 0);
    ASSERT_GE(At(plain, 111, 64), 250);
    ASSERT_EQ(At(plain, 112, 64), 0);

    auto change = [&](int edge) {
        int sum = 0;
        for (int x = edge - 4; x < edge + 4; ++x) sum += std::abs(At(dof, x, 64) - At(plain, x, 64));
        return sum;
    };
    EXPECT_LE(change(48), 4);        // the near edge is as sharp as without the effect
    EXPECT_GT(change(112), 100);     // the far one is spread out
    EXPECT_GT(At(dof, 112, 64), 20);
    EXPECT_LT(At(dof, 111, 64), 240);
    EXPECT_GE(At(dof, 96, 64), 250);  // inside the far rectangle it is still white

    // Wireframe draws only the edges of the rectangles into the scene.
    r_wireframe.intValue = 1;
    const std::vector<int> wire = Frame(kEffectDepthOfField);
    r_wireframe.intValue = 0;
    EXPECT_LT(At(wire, 24, 40), 50);  // off the fan's diagonal
}
