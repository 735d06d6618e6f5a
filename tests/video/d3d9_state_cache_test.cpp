// The device hands OpenGL only what changed since the last draw: repeated
// textures, states and constants cost nothing, while every real change, and
// every binding made behind the draw path's back (texture creation, clears,
// deleted names coming back), still reaches the picture.
#include <cstring>

#include "tests/video/d3d9_test_support.h"
#include "video/d3d9/d3dx9.h"

namespace {

const char kVertexHlsl[] = R"(
float4x4 transform : register(c0);
struct VsOut { float4 position : SV_Position; float2 tex : TEXCOORD0; };
VsOut main(float4 position : POSITION, float2 tex : TEXCOORD0) {
    VsOut result;
    result.position = mul(position, transform);
    result.tex = tex;
    return result;
}
)";

// Two registers, so that changing one must keep the other.
const char kTintHlsl[] = R"(
float4 tint : register(c0);
float4 extra : register(c1);
float4 main(float2 tex : TEXCOORD0) : COLOR0 { return tint + extra; }
)";

// Both texture stages, so that a stage whose binding goes stale shows.
const char kTwoTexturesHlsl[] = R"(
sampler2D s0 : register(s0);
sampler2D s1 : register(s1);
float4 main(float2 tex : TEXCOORD0) : COLOR0 { return tex2D(s0, tex) + tex2D(s1, tex); }
)";

class D3D9StateCacheTest : public D3D9DeviceTest {
protected:
    void SetUp() override {
        D3D9DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        vertexShader_ = VertexShader(kVertexHlsl);
        tintShader_ = PixelShader(kTintHlsl);
        texturesShader_ = PixelShader(kTwoTexturesHlsl);
        ASSERT_NE(vertexShader_, nullptr);
        ASSERT_NE(tintShader_, nullptr);
        ASSERT_NE(texturesShader_, nullptr);
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        device_->SetVertexShaderConstantF(0, identity, 4);
        device_->SetVertexShader(vertexShader_);
        device_->SetPixelShader(tintShader_);
        device_->SetFVF(kEngineFvf);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->SetRenderState(D3DRS_ZENABLE, FALSE);
        for (DWORD stage = 0; stage < 2; ++stage) {
            device_->SetSamplerState(stage, D3DSAMP_MINFILTER, D3DTEXF_POINT);
            device_->SetSamplerState(stage, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        }
        const EngineVertex quad[4] = {MakeVertex(-1, 1, 0.5f, 0xFFFFFFFF, 0, 0), MakeVertex(1, 1, 0.5f, 0xFFFFFFFF, 1, 0),
                                      MakeVertex(-1, -1, 0.5f, 0xFFFFFFFF, 0, 1),
                                      MakeVertex(1, -1, 0.5f, 0xFFFFFFFF, 1, 1)};
        ASSERT_EQ(device_->CreateVertexBuffer(sizeof quad, 0, kEngineFvf, D3DPOOL_DEFAULT, &quad_, nullptr), D3D_OK);
        void* data = nullptr;
        ASSERT_EQ(quad_->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, quad, sizeof quad);
        ASSERT_EQ(quad_->Unlock(), D3D_OK);
        device_->SetStreamSource(0, quad_, 0, sizeof(EngineVertex));
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    }
    void TearDown() override {
        if (device_ != nullptr) {
            device_->SetStreamSource(0, nullptr, 0, 0);
            device_->SetVertexShader(nullptr);
            device_->SetPixelShader(nullptr);
            for (DWORD stage = 0; stage < 8; ++stage) device_->SetTexture(stage, nullptr);
        }
        for (IUnknown* object : std::initializer_list<IUnknown*>{quad_, vertexShader_, tintShader_, texturesShader_}) {
            if (object != nullptr) object->Release();
        }
        D3D9DeviceTest::TearDown();
    }

    void Draw() { ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK); }
    void SetColor(DWORD reg, float r, float g, float b, float a = 1.0f) {
        const float value[4] = {r, g, b, a};
        device_->SetPixelShaderConstantF(reg, value, 1);
    }
    D3D9Counters Counters() {
        D3D9Counters counters;
        EXPECT_TRUE(D3D9GetCounters(device_, &counters));
        return counters;
    }

    IDirect3DVertexBuffer9* quad_ = nullptr;
    IDirect3DVertexShader9* vertexShader_ = nullptr;
    IDirect3DPixelShader9* tintShader_ = nullptr;
    IDirect3DPixelShader9* texturesShader_ = nullptr;
};

TEST_F(D3D9StateCacheTest, RepeatedDrawsHandOverOnlyWhatChanged) {
    IDirect3DTexture9* red = MakeTexture(1, 1, {0xFF800000});
    IDirect3DTexture9* green = MakeTexture(1, 1, {0xFF008000});
    IDirect3DTexture9* blue = MakeTexture(1, 1, {0xFF000080});
    device_->SetPixelShader(texturesShader_);
    device_->SetTexture(0, red);
    device_->SetTexture(1, green);
    Draw();

    // The same textures, states and constants again: nothing new to bind.
    D3D9Counters before = Counters();
    device_->SetTexture(0, red);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    device_->SetVertexShaderConstantF(0, identity, 4);
    Draw();
    D3D9Counters after = Counters();
    EXPECT_EQ(after.draws - before.draws, 1u);
    EXPECT_EQ(after.textureBinds - before.textureBinds, 0u);
    EXPECT_EQ(after.constantUploads - before.constantUploads, 0u);
    EXPECT_EQ(after.stateApplies - before.stateApplies, 0u);

    // One stage changes: one bind, and the picture shows the new pair.
    before = after;
    device_->SetTexture(1, blue);
    Draw();
    after = Counters();
    EXPECT_EQ(after.textureBinds - before.textureBinds, 1u);

    // A changed render state is set again.
    before = after;
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED);
    Draw();
    after = Counters();
    EXPECT_EQ(after.stateApplies - before.stateApplies, 1u);
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF800080u);

    for (DWORD stage = 0; stage < 2; ++stage) device_->SetTexture(stage, nullptr);
    for (IDirect3DTexture9* texture : {red, green, blue}) texture->Release();
}

TEST_F(D3D9StateCacheTest, ChangedConstantsReachTheShaderAndOnlyTheyAreWritten) {
    SetColor(0, 1, 0, 0);
    SetColor(1, 0, 0, 0, 0);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFFFF0000u);

    // c1 alone changes: c0 stays red, one register's bytes are written.
    SetColor(1, 0, 0, 1, 0);
    const D3D9Counters before = Counters();
    Draw();
    const D3D9Counters after = Counters();
    EXPECT_EQ(after.constantUploads - before.constantUploads, 1u);
    EXPECT_EQ(after.constantBytes - before.constantBytes, 16u);
    EXPECT_EQ(Pixel(32, 32), 0xFFFF00FFu);

    // Writing the value a register already holds uploads nothing.
    SetColor(1, 0, 0, 1, 0);
    const D3D9Counters again = Counters();
    Draw();
    EXPECT_EQ(Counters().constantUploads - again.constantUploads, 0u);

    // A new transform moves the quad: the vertex stage's block follows too.
    // The registers hold the matrix's columns: x' = x + 1 keeps the right half.
    const float shift[16] = {1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    device_->SetVertexShaderConstantF(0, shift, 4);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    SetColor(0, 0, 1, 0);
    SetColor(1, 0, 0, 0, 0);
    Draw();
    EXPECT_EQ(Pixel(48, 32), 0xFF00FF00u);
    EXPECT_EQ(Pixel(16, 32), 0xFF000000u);
}

TEST_F(D3D9StateCacheTest, ConstantsFromAnotherShaderOrAStateBlockAreNotLost) {
    // Two programs share the registers; each keeps its own block, so a
    // change made while the other one draws must still reach it.
    IDirect3DTexture9* white = MakeTexture(1, 1, {0xFFFFFFFF});
    SetColor(0, 1, 0, 0);
    SetColor(1, 0, 0, 0, 0);
    Draw();
    device_->SetPixelShader(texturesShader_);
    device_->SetTexture(0, white);
    Draw();
    SetColor(0, 0, 1, 0);
    Draw();
    device_->SetPixelShader(tintShader_);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF00FF00u);

    // Constants applied from a state block bypass the Set calls.
    IDirect3DStateBlock9* block = nullptr;
    ASSERT_EQ(device_->BeginStateBlock(), D3D_OK);
    SetColor(0, 0, 0, 1);
    ASSERT_EQ(device_->EndStateBlock(&block), D3D_OK);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF00FF00u);
    ASSERT_EQ(block->Apply(), D3D_OK);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF0000FFu);
    block->Release();
    device_->SetTexture(0, nullptr);
    white->Release();
}

TEST_F(D3D9StateCacheTest, BindingsMadeOutsideTheDrawPathDoNotGoStale) {
    device_->SetPixelShader(texturesShader_);
    IDirect3DTexture9* red = MakeTexture(1, 1, {0xFF800000});
    IDirect3DTexture9* dim = MakeTexture(1, 1, {0xFF000040});
    device_->SetTexture(0, red);
    device_->SetTexture(1, dim);
    Draw();  // stage 1 bound last: its unit is the active one

    // Making and filling a texture binds on the active unit behind the
    // draw path; the stages must still show their own textures.
    IDirect3DTexture9* made = MakeTexture(1, 1, {0xFF00FF00});
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF800040u);

    // A texture deleted while its unit still holds it (the stage was unset
    // without a draw); its name comes back for the next one made.
    device_->SetTexture(0, made);
    Draw();
    device_->SetTexture(0, red);
    Draw();  // the active unit is stage 0's now
    device_->SetTexture(1, nullptr);
    dim->Release();
    IDirect3DTexture9* blue = MakeTexture(1, 1, {0xFF000080});
    device_->SetTexture(1, blue);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF800080u);

    // A clear sets the write masks itself; the next draw restores the state's.
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_BLUE);
    Draw();
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF000080u);
    device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);

    // A vertex buffer deleted and replaced: its name may be reused.
    device_->SetStreamSource(0, nullptr, 0, 0);
    quad_->Release();
    const EngineVertex left[4] = {MakeVertex(-1, 1, 0.5f, 0xFFFFFFFF, 0, 0), MakeVertex(0, 1, 0.5f, 0xFFFFFFFF, 1, 0),
                                  MakeVertex(-1, -1, 0.5f, 0xFFFFFFFF, 0, 1), MakeVertex(0, -1, 0.5f, 0xFFFFFFFF, 1, 1)};
    quad_ = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(sizeof left, 0, kEngineFvf, D3DPOOL_DEFAULT, &quad_, nullptr), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(quad_->Lock(0, 0, &data, 0), D3D_OK);
    std::memcpy(data, left, sizeof left);
    ASSERT_EQ(quad_->Unlock(), D3D_OK);
    device_->SetStreamSource(0, quad_, 0, sizeof(EngineVertex));
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    Draw();
    EXPECT_EQ(Pixel(16, 32), 0xFF800080u);
    EXPECT_EQ(Pixel(48, 32), 0xFF000000u);

    for (DWORD stage = 0; stage < 2; ++stage) device_->SetTexture(stage, nullptr);
    for (IDirect3DTexture9* texture : {red, made, blue}) texture->Release();
}

}  // namespace

TEST_F(D3D9StateCacheTest, SampleCountsAddThePixelsThatPassTheDepthTest) {
    const uint64_t pixels = static_cast<uint64_t>(kSize) * kSize;
    device_->SetRenderState(D3DRS_ZENABLE, TRUE);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    SetColor(0, 1, 0, 0);
    const uint64_t start = Counters().samplesPassed;

    // The full-screen quad at depth 0.5 twice: the second fails the test
    // (less than), so only the first counts.
    EXPECT_TRUE(D3D9CountSamples(device_, true));
    EXPECT_FALSE(D3D9CountSamples(device_, true));  // one count at a time
    Draw();
    Draw();
    EXPECT_TRUE(D3D9CountSamples(device_, false));
    EXPECT_FALSE(D3D9CountSamples(device_, false));
    // The quad covers the screen, less the edge its half-pixel offset moves
    // out of it.
    const uint64_t quad = Counters().samplesPassed - start;
    EXPECT_LE(quad, pixels);
    EXPECT_GE(quad, pixels - 2 * kSize);

    // Draws outside a count add nothing; another count adds to the total.
    device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    Draw();
    EXPECT_EQ(Counters().samplesPassed - start, quad);
    device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_TRUE(D3D9CountSamples(device_, true));
        Draw();
        device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        ASSERT_TRUE(D3D9CountSamples(device_, false));
    }
    EXPECT_EQ(Counters().samplesPassed - start, 4 * quad);
    EXPECT_EQ(Pixel(10, 10), 0xFFFF0000u);
    EXPECT_FALSE(D3D9CountSamples(nullptr, true));
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
}

namespace {

// The quad's depth moved: z' = z + slope * x + shift (the registers hold
// the transform's columns).
void PlaceQuad(IDirect3DDevice9* device, float slope, float shift) {
    const float transform[16] = {1, 0, 0, 0, 0, 1, 0, 0, slope, 0, 1, shift, 0, 0, 0, 1};
    device->SetVertexShaderConstantF(0, transform, 4);
}

DWORD Bits(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// One step of the 24-bit depth buffer.
constexpr float kDepthStep = 1.0f / 16777215.0f;

}  // namespace

TEST_F(D3D9StateCacheTest, DepthBiasMovesDrawsByStepsOfTheDepthBuffer) {
    device_->SetRenderState(D3DRS_ZENABLE, TRUE);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    SetColor(0, 1, 0, 0);
    Draw();  // red, depth 0.5

    // The same plane again fails LESS, unless pulled towards the eye.
    SetColor(0, 0, 1, 0);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFFFF0000u);
    device_->SetRenderState(D3DRS_DEPTHBIAS, Bits(-1e-5f));
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF00FF00u);

    // Eight steps behind: a bias of four steps is not enough, sixteen is.
    device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER | D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    device_->SetRenderState(D3DRS_DEPTHBIAS, 0);
    SetColor(0, 1, 0, 0);
    Draw();
    PlaceQuad(device_, 0.0f, 8 * kDepthStep);
    SetColor(0, 0, 1, 0);
    device_->SetRenderState(D3DRS_DEPTHBIAS, Bits(-4 * kDepthStep));
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFFFF0000u);
    device_->SetRenderState(D3DRS_DEPTHBIAS, Bits(-16 * kDepthStep));
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF00FF00u);

    // Back to no bias: the quad at 0.5 is behind what the biased one wrote.
    device_->SetRenderState(D3DRS_DEPTHBIAS, 0);
    PlaceQuad(device_, 0.0f, 0.0f);
    SetColor(0, 0, 0, 1);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF00FF00u);
}

TEST_F(D3D9StateCacheTest, SlopeScaledBiasFollowsTheTiltOfTheDraw) {
    device_->SetRenderState(D3DRS_ZENABLE, TRUE);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    device_->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    // Red tilted from depth 0.25 at the left edge to 0.75 at the right: 1/128
    // per pixel. Then green flat at 0.499, in front of red at the centre.
    PlaceQuad(device_, 0.25f, 0.0f);
    SetColor(0, 1, 0, 0);
    Draw();
    PlaceQuad(device_, 0.0f, -0.001f);
    SetColor(0, 0, 1, 0);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF00FF00u);

    // Red's plane again, pulled forward one pixel's worth of its tilt
    // (about 0.008) by the slope alone: it passes green at the centre.
    PlaceQuad(device_, 0.25f, 0.0f);
    SetColor(0, 0, 0, 1);
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF00FF00u);
    device_->SetRenderState(D3DRS_SLOPESCALEDEPTHBIAS, Bits(-1.0f));
    Draw();
    EXPECT_EQ(Pixel(32, 32), 0xFF0000FFu);
}

TEST_F(D3D9StateCacheTest, DepthBiasStatesAreSetAgainOnlyWhenTheyChange) {
    device_->SetRenderState(D3DRS_ZENABLE, TRUE);
    device_->SetRenderState(D3DRS_DEPTHBIAS, Bits(-1e-5f));
    device_->SetRenderState(D3DRS_SLOPESCALEDEPTHBIAS, Bits(-1.0f));
    Draw();
    D3D9Counters before = Counters();
    device_->SetRenderState(D3DRS_DEPTHBIAS, Bits(-1e-5f));
    device_->SetRenderState(D3DRS_SLOPESCALEDEPTHBIAS, Bits(-1.0f));
    Draw();
    D3D9Counters after = Counters();
    EXPECT_EQ(after.stateApplies - before.stateApplies, 0u);

    for (D3DRENDERSTATETYPE state : {D3DRS_DEPTHBIAS, D3DRS_SLOPESCALEDEPTHBIAS}) {
        before = after;
        device_->SetRenderState(state, 0);
        Draw();
        after = Counters();
        EXPECT_EQ(after.stateApplies - before.stateApplies, 1u) << state;
    }
}
