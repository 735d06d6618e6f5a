// Drawing with compiled HLSL: primitive types, indices with base vertex,
// depth, render targets sampled afterwards, texture addressing, the
// half-pixel convention and sampled depth; plus the D3DX helpers.
#include <stb_image_write.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "tests/video/d3d9_test_support.h"
#include "video/d3d9/d3dx9.h"

namespace {

const char kVertexHlsl[] = R"(
float4x4 transform : register(c0);
struct VsOut { float4 position : SV_Position; float2 tex : TEXCOORD0; float4 color : COLOR0; };
VsOut main(float4 position : POSITION, float2 tex : TEXCOORD0, float4 color : COLOR0) {
    VsOut result;
    result.position = mul(position, transform);
    result.tex = tex;
    result.color = color;
    return result;
}
)";

const char kColorHlsl[] = R"(
float4 main(float2 tex : TEXCOORD0, float4 color : COLOR0) : COLOR0 { return color; }
)";

const char kTextureHlsl[] = R"(
sampler2D s0 : register(s0);
float4 main(float2 tex : TEXCOORD0, float4 color : COLOR0) : COLOR0 { return tex2D(s0, tex); }
)";

class D3D9ShaderDrawTest : public D3D9DeviceTest {
protected:
    void SetUp() override {
        D3D9DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        vertexShader_ = VertexShader(kVertexHlsl);
        colorShader_ = PixelShader(kColorHlsl);
        textureShader_ = PixelShader(kTextureHlsl);
        ASSERT_NE(vertexShader_, nullptr);
        ASSERT_NE(colorShader_, nullptr);
        ASSERT_NE(textureShader_, nullptr);
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        device_->SetVertexShaderConstantF(0, identity, 4);
        device_->SetVertexShader(vertexShader_);
        device_->SetPixelShader(colorShader_);
        device_->SetFVF(kEngineFvf);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    }
    void TearDown() override {
        if (device_ != nullptr) {
            device_->SetVertexShader(nullptr);
            device_->SetPixelShader(nullptr);
            for (DWORD stage = 0; stage < 8; ++stage) device_->SetTexture(stage, nullptr);
        }
        for (IUnknown* object : std::initializer_list<IUnknown*>{vertexShader_, colorShader_, textureShader_}) {
            if (object != nullptr) object->Release();
        }
        D3D9DeviceTest::TearDown();
    }

    IDirect3DVertexBuffer9* Buffer(const std::vector<EngineVertex>& vertices) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        EXPECT_EQ(device_->CreateVertexBuffer(static_cast<UINT>(vertices.size() * sizeof(EngineVertex)), 0, kEngineFvf,
                                              D3DPOOL_DEFAULT, &buffer, nullptr),
                  D3D_OK);
        void* data = nullptr;
        EXPECT_EQ(buffer->Lock(0, 0, &data, 0), D3D_OK);
        std::memcpy(data, vertices.data(), vertices.size() * sizeof(EngineVertex));
        EXPECT_EQ(buffer->Unlock(), D3D_OK);
        return buffer;
    }

    // Full-screen quad as a strip, moved by half a pixel as the engine does.
    void FullScreenQuad(float maxU = 1.0f, float z = 0.0f) {
        const float dx = 1.0f / kSize;
        const float dy = 1.0f / kSize;
        const EngineVertex quad[4] = {
            MakeVertex(-1 - dx, 1 + dy, z, 0xFFFFFFFF, 0, 0), MakeVertex(1 - dx, 1 + dy, z, 0xFFFFFFFF, maxU, 0),
            MakeVertex(-1 - dx, -1 + dy, z, 0xFFFFFFFF, 0, 1), MakeVertex(1 - dx, -1 + dy, z, 0xFFFFFFFF, maxU, 1)};
        ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(EngineVertex)), D3D_OK);
    }

    IDirect3DVertexShader9* vertexShader_ = nullptr;
    IDirect3DPixelShader9* colorShader_ = nullptr;
    IDirect3DPixelShader9* textureShader_ = nullptr;
};

TEST_F(D3D9ShaderDrawTest, ListsStripsAndFansHonourTheStartVertex) {
    // Vertex 0 is padding; each shape covers one quadrant (clip +y is the top).
    std::vector<EngineVertex> vertices = {MakeVertex(0, 0, 0, 0)};
    // Top-left quadrant as a list of two triangles, red.
    for (auto [x, y] : {std::pair{-1.f, 1.f}, {0.f, 1.f}, {-1.f, 0.f}, {0.f, 1.f}, {0.f, 0.f}, {-1.f, 0.f}}) {
        vertices.push_back(MakeVertex(x, y, 0.5f, 0xFFFF0000));
    }
    // Top-right as a strip, green.
    for (auto [x, y] : {std::pair{0.f, 1.f}, {1.f, 1.f}, {0.f, 0.f}, {1.f, 0.f}}) {
        vertices.push_back(MakeVertex(x, y, 0.5f, 0xFF00FF00));
    }
    // Bottom-left as a fan around its centre, blue.
    for (auto [x, y] : {std::pair{-0.5f, -0.5f}, {-1.f, 0.f}, {0.f, 0.f}, {0.f, -1.f}, {-1.f, -1.f}, {-1.f, 0.f}}) {
        vertices.push_back(MakeVertex(x, y, 0.5f, 0xFF0000FF));
    }
    IDirect3DVertexBuffer9* buffer = Buffer(vertices);
    device_->SetStreamSource(0, buffer, 0, sizeof(EngineVertex));
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 1, 2), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 7, 2), D3D_OK);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLEFAN, 11, 4), D3D_OK);
    EXPECT_EQ(Pixel(16, 16), 0xFFFF0000u);
    EXPECT_EQ(Pixel(48, 16), 0xFF00FF00u);
    EXPECT_EQ(Pixel(16, 48), 0xFF0000FFu);
    EXPECT_EQ(Pixel(48, 48), 0xFF000000u);
    EXPECT_EQ(Pixel(2, 33), 0xFF0000FFu);
    buffer->Release();
}

TEST_F(D3D9ShaderDrawTest, IndexedDrawingAddsTheBaseVertex) {
    std::vector<EngineVertex> vertices;
    for (uint32_t color : {0xFFFF0000u, 0xFF00FF00u}) {
        for (auto [x, y] : {std::pair{-1.f, 1.f}, {1.f, 1.f}, {-1.f, -1.f}, {1.f, -1.f}}) {
            vertices.push_back(MakeVertex(x, y, 0.5f, color));
        }
    }
    IDirect3DVertexBuffer9* buffer = Buffer(vertices);
    for (D3DFORMAT format : {D3DFMT_INDEX32, D3DFMT_INDEX16}) {
        const UINT size = format == D3DFMT_INDEX32 ? 4 : 2;
        IDirect3DIndexBuffer9* indices = nullptr;
        ASSERT_EQ(device_->CreateIndexBuffer(8 * size, 0, format, D3DPOOL_DEFAULT, &indices, nullptr), D3D_OK);
        void* data = nullptr;
        ASSERT_EQ(indices->Lock(0, 0, &data, 0), D3D_OK);
        const uint32_t values[8] = {9, 9, 0, 1, 2, 2, 1, 3};  // two unused, then the quad
        for (int i = 0; i < 8; ++i) {
            if (size == 4) {
                static_cast<uint32_t*>(data)[i] = values[i];
            } else {
                static_cast<uint16_t*>(data)[i] = static_cast<uint16_t>(values[i]);
            }
        }
        ASSERT_EQ(indices->Unlock(), D3D_OK);
        device_->SetStreamSource(0, buffer, 0, sizeof(EngineVertex));
        device_->SetIndices(indices);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 2, 2), D3D_OK);
        EXPECT_EQ(Pixel(5, 60), 0xFF00FF00u);
        EXPECT_EQ(Pixel(60, 5), 0xFF00FF00u);
        // Index 9 (+4) is outside the eight vertices: rejected, not read.
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 0, 1), D3DERR_INVALIDCALL);
        // A later lock of part of the buffer that writes an index past the
        // vertices is seen, though the buffer's range was worked out before.
        const auto store = [&](uint32_t value) {
            void* part = nullptr;
            ASSERT_EQ(indices->Lock(3 * size, size, &part, 0), D3D_OK);
            if (size == 4) *static_cast<uint32_t*>(part) = value;
            else *static_cast<uint16_t*>(part) = static_cast<uint16_t>(value);
            ASSERT_EQ(indices->Unlock(), D3D_OK);
        };
        store(20);
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 2, 2), D3DERR_INVALIDCALL);
        // Back in range (and a read-only lock between), the quad draws again.
        store(1);
        ASSERT_EQ(indices->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
        ASSERT_EQ(indices->Unlock(), D3D_OK);
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 2, 2), D3D_OK);
        EXPECT_EQ(Pixel(5, 60), 0xFF00FF00u);
        // A D3DLOCK_DISCARD lock of the quad's six indices leaves the two
        // before them undefined: draws reading them are refused, though the
        // values last written there (0 and 0) are in range.
        ASSERT_EQ(indices->Lock(0, 2 * size, &data, 0), D3D_OK);
        std::memset(data, 0, 2 * size);
        ASSERT_EQ(indices->Unlock(), D3D_OK);
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 1, 1), D3D_OK);
        ASSERT_EQ(indices->Lock(2 * size, 6 * size, &data, D3DLOCK_DISCARD), D3D_OK);
        for (int i = 0; i < 6; ++i) {
            if (size == 4) static_cast<uint32_t*>(data)[i] = values[2 + i];
            else static_cast<uint16_t*>(data)[i] = static_cast<uint16_t>(values[2 + i]);
        }
        ASSERT_EQ(indices->Unlock(), D3D_OK);
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 4, 0, 4, 2, 2), D3D_OK);
        EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 1, 1), D3DERR_INVALIDCALL);
        device_->SetIndices(nullptr);
        indices->Release();
    }
    buffer->Release();
}

TEST_F(D3D9ShaderDrawTest, DepthTestKeepsTheNearerSurface) {
    const auto quad = [&](float z, uint32_t color) {
        const EngineVertex v[4] = {MakeVertex(-1, 1, z, color), MakeVertex(1, 1, z, color),
                                   MakeVertex(-1, -1, z, color), MakeVertex(1, -1, z, color)};
        ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(EngineVertex)), D3D_OK);
    };
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    quad(0.5f, 0xFFFF0000);
    quad(0.7f, 0xFF00FF00);  // behind: hidden
    EXPECT_EQ(Pixel(32, 32), 0xFFFF0000u);
    quad(0.3f, 0xFF0000FF);  // in front
    EXPECT_EQ(Pixel(32, 32), 0xFF0000FFu);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    quad(0.2f, 0xFFFFFFFF);
    device_->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    quad(0.25f, 0xFF00FF00);  // depth still 0.3: passes
    EXPECT_EQ(Pixel(32, 32), 0xFF00FF00u);
}

TEST_F(D3D9ShaderDrawTest, RenderTargetIsDrawnThenSampled) {
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(device_->CreateTexture(32, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target,
                                     nullptr),
              D3D_OK);
    IDirect3DSurface9* surface = nullptr;
    IDirect3DSurface9* backBuffer = nullptr;
    ASSERT_EQ(target->GetSurfaceLevel(0, &surface), D3D_OK);
    ASSERT_EQ(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer), D3D_OK);
    ASSERT_EQ(device_->SetRenderTarget(0, surface), D3D_OK);
    D3DVIEWPORT9 viewport;
    device_->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 32u);
    EXPECT_EQ(viewport.Height, 32u);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);  // the 64 x 64 depth buffer stays bound
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    // Top half red: the top of a render target is v = 0 when sampled.
    const EngineVertex top[4] = {MakeVertex(-1, 1, 0, 0xFFFF0000), MakeVertex(1, 1, 0, 0xFFFF0000),
                                 MakeVertex(-1, 0, 0, 0xFFFF0000), MakeVertex(1, 0, 0, 0xFFFF0000)};
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, top, sizeof(EngineVertex)), D3D_OK);

    ASSERT_EQ(device_->SetRenderTarget(0, backBuffer), D3D_OK);
    device_->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 64u);
    device_->SetPixelShader(textureShader_);
    device_->SetTexture(0, target);
    FullScreenQuad();
    EXPECT_EQ(Pixel(32, 8), 0xFFFF0000u);
    EXPECT_EQ(Pixel(32, 56), 0xFF0000FFu);
    device_->SetTexture(0, nullptr);
    surface->Release();
    backBuffer->Release();
    target->Release();
}

TEST_F(D3D9ShaderDrawTest, ASecondRenderTargetTakesTheSecondOutputAndKeepsSixteenBitsAChannel) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_GE(caps.NumSimultaneousRTs, 2u);
    IDirect3DSurface9* bound = reinterpret_cast<IDirect3DSurface9*>(&caps);
    EXPECT_EQ(device_->GetRenderTarget(1, &bound), D3DERR_NOTFOUND);
    EXPECT_EQ(bound, nullptr);

    IDirect3DTexture9* wide = nullptr;
    ASSERT_EQ(device_->CreateTexture(kSize, kSize, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A16B16G16R16, D3DPOOL_DEFAULT,
                                     &wide, nullptr),
              D3D_OK);
    IDirect3DSurface9* wideSurface = nullptr;
    ASSERT_EQ(wide->GetSurfaceLevel(0, &wideSurface), D3D_OK);
    IDirect3DPixelShader9* twoOutputs = PixelShader(R"(
struct PsOut { float4 first : COLOR0; float4 second : COLOR1; };
PsOut main(float2 tex : TEXCOORD0, float4 color : COLOR0) {
    PsOut result;
    result.first = color;
    result.second = float4(1000.0 / 65535.0, 0.5, 0.25, 1.0);
    return result;
}
)");
    // Reads stage 0 with its red made 64 times brighter: what 16 bits keep
    // of a small value shows, where 8 bits would round it to 4/255.
    IDirect3DPixelShader9* magnify = PixelShader(R"(
sampler2D s0 : register(s0);
float4 main(float2 tex : TEXCOORD0, float4 color : COLOR0) : COLOR0 {
    float4 t = tex2D(s0, tex);
    return float4(t.r * 64.0, t.g, t.b, 1.0);
}
)");
    ASSERT_NE(twoOutputs, nullptr);
    ASSERT_NE(magnify, nullptr);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);

    // A clear reaches every bound target.
    ASSERT_EQ(device_->SetRenderTarget(1, wideSurface), D3D_OK);
    ASSERT_EQ(device_->GetRenderTarget(1, &bound), D3D_OK);
    EXPECT_EQ(bound, wideSurface);
    bound->Release();
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    ASSERT_EQ(device_->SetRenderTarget(1, nullptr), D3D_OK);
    device_->SetPixelShader(textureShader_);
    device_->SetTexture(0, wide);
    FullScreenQuad();
    EXPECT_TRUE(NearColor(Pixel(32, 32), 0xFF00FF00u, 1));

    // Each output goes to its own target.
    ASSERT_EQ(device_->SetRenderTarget(1, wideSurface), D3D_OK);
    device_->SetTexture(0, nullptr);
    device_->SetPixelShader(twoOutputs);
    const float dx = 1.0f / kSize;
    const float dy = 1.0f / kSize;
    const EngineVertex red[4] = {MakeVertex(-1 - dx, 1 + dy, 0, 0xFFFF0000), MakeVertex(1 - dx, 1 + dy, 0, 0xFFFF0000),
                                 MakeVertex(-1 - dx, -1 + dy, 0, 0xFFFF0000), MakeVertex(1 - dx, -1 + dy, 0, 0xFFFF0000)};
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, red, sizeof(EngineVertex)), D3D_OK);
    EXPECT_TRUE(NearColor(Pixel(32, 32), 0xFFFF0000u, 1));
    ASSERT_EQ(device_->SetRenderTarget(1, nullptr), D3D_OK);
    EXPECT_EQ(device_->GetRenderTarget(1, &bound), D3DERR_NOTFOUND);

    device_->SetPixelShader(magnify);
    device_->SetTexture(0, wide);
    FullScreenQuad();
    // 1000 / 65535 * 64 = 0.977 of full red (249); green 0.5, blue 0.25.
    EXPECT_TRUE(NearColor(Pixel(32, 32), 0xFFF98040u, 1)) << std::hex << Pixel(32, 32);

    device_->SetTexture(0, nullptr);
    twoOutputs->Release();
    magnify->Release();
    wideSurface->Release();
    wide->Release();
}

TEST_F(D3D9ShaderDrawTest, WrapRepeatsAndClampStretchesTheEdge) {
    IDirect3DTexture9* texture = MakeTexture(2, 1, {0xFFFF0000, 0xFF0000FF});
    device_->SetPixelShader(textureShader_);
    device_->SetTexture(0, texture);
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    FullScreenQuad(2.0f);  // u 0..2 across the screen
    EXPECT_EQ(Pixel(8, 32), 0xFFFF0000u);
    EXPECT_EQ(Pixel(24, 32), 0xFF0000FFu);
    EXPECT_EQ(Pixel(40, 32), 0xFFFF0000u);
    device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    FullScreenQuad(2.0f);
    EXPECT_EQ(Pixel(8, 32), 0xFFFF0000u);
    EXPECT_EQ(Pixel(40, 32), 0xFF0000FFu);
    device_->SetTexture(0, nullptr);
    texture->Release();
}

TEST_F(D3D9ShaderDrawTest, HalfPixelShiftedQuadMapsTexelsOneToOne) {
    // Every texel distinct; linear filtering would mix neighbours if texel
    // centres and pixel centres did not coincide.
    std::vector<uint32_t> texels(kSize * kSize);
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) texels[y * kSize + x] = 0xFF000000u | (x * 4) << 16 | (y * 4) << 8 | ((x + y) & 1) * 255;
    }
    IDirect3DTexture9* texture = MakeTexture(kSize, kSize, texels);
    device_->SetPixelShader(textureShader_);
    device_->SetTexture(0, texture);
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    FullScreenQuad();
    const std::vector<uint32_t> pixels = ReadBack();
    int wrong = 0;
    for (int i = 0; i < kSize * kSize; ++i) wrong += !NearColor(pixels[i], texels[i], 1);
    EXPECT_EQ(wrong, 0);
    device_->SetTexture(0, nullptr);
    texture->Release();
}

TEST_F(D3D9ShaderDrawTest, DepthTextureIsSampledAsDepth) {
    IDirect3DTexture9* depth = nullptr;
    IDirect3DTexture9* scene = nullptr;
    ASSERT_EQ(device_->CreateTexture(kSize, kSize, 1, 0, D3DFMT_D24S8, D3DPOOL_DEFAULT, &depth, nullptr), D3D_OK);
    ASSERT_EQ(device_->CreateTexture(kSize, kSize, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &scene,
                                     nullptr),
              D3D_OK);
    IDirect3DSurface9* depthSurface = nullptr;
    IDirect3DSurface9* sceneSurface = nullptr;
    IDirect3DSurface9* backBuffer = nullptr;
    IDirect3DSurface9* defaultDepth = nullptr;
    depth->GetSurfaceLevel(0, &depthSurface);
    scene->GetSurfaceLevel(0, &sceneSurface);
    device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
    ASSERT_EQ(device_->GetDepthStencilSurface(&defaultDepth), D3D_OK);

    ASSERT_EQ(device_->SetRenderTarget(0, sceneSurface), D3D_OK);
    ASSERT_EQ(device_->SetDepthStencilSurface(depthSurface), D3D_OK);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    const EngineVertex left[4] = {MakeVertex(-1, 1, 0.25f, 0xFFFFFFFF), MakeVertex(0, 1, 0.25f, 0xFFFFFFFF),
                                  MakeVertex(-1, -1, 0.25f, 0xFFFFFFFF), MakeVertex(0, -1, 0.25f, 0xFFFFFFFF)};
    ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, left, sizeof(EngineVertex)), D3D_OK);

    device_->SetRenderTarget(0, backBuffer);
    device_->SetDepthStencilSurface(defaultDepth);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device_->SetPixelShader(textureShader_);
    device_->SetTexture(0, depth);
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    FullScreenQuad();
    EXPECT_TRUE(NearColor(Pixel(16, 32), 0xFF404040, 2));  // 0.25
    EXPECT_TRUE(NearColor(Pixel(48, 32), 0xFFFFFFFF, 1));  // cleared to 1
    device_->SetTexture(0, nullptr);
    for (IUnknown* object : std::initializer_list<IUnknown*>{depthSurface, sceneSurface, backBuffer, defaultDepth, depth,
                                                             scene}) {
        object->Release();
    }
}

TEST(D3DX9Test, MatricesFollowTheLeftHandedRowVectorFormulas) {
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 1.5707963f, 2.0f, 1.0f, 11.0f);
    EXPECT_NEAR(projection._11, 0.5f, 1e-5f);
    EXPECT_NEAR(projection._22, 1.0f, 1e-5f);
    EXPECT_NEAR(projection._33, 1.1f, 1e-5f);
    EXPECT_EQ(projection._34, 1.0f);
    EXPECT_NEAR(projection._43, -1.1f, 1e-5f);
    EXPECT_EQ(projection._44, 0.0f);

    // Eye at (1,2,3) looking down +x with y up: world +x becomes view +z.
    const D3DXVECTOR3 eye(1, 2, 3);
    const D3DXVECTOR3 at(5, 2, 3);
    const D3DXVECTOR3 up(0, 1, 0);
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    const float point[4] = {6, 2, 3, 1};  // 5 units ahead
    float result[4] = {};
    for (int column = 0; column < 4; ++column) {
        for (int k = 0; k < 4; ++k) result[column] += point[k] * view.m[k][column];
    }
    EXPECT_NEAR(result[0], 0.0f, 1e-5f);
    EXPECT_NEAR(result[1], 0.0f, 1e-5f);
    EXPECT_NEAR(result[2], 5.0f, 1e-5f);

    D3DXMATRIX product;
    D3DXMatrixMultiply(&product, &view, &projection);
    EXPECT_NEAR(product._43, view._43 * projection._33 + projection._43, 1e-4f);
    EXPECT_NEAR(product._44, view._43, 1e-4f);
}

TEST_F(D3D9DeviceTest, TextureFilesLoadAndBadFilesFail) {
    const std::string png = ::testing::TempDir() + "d3dx_texture.tga";
    const uint8_t rgba[2 * 2 * 4] = {255, 0, 0, 255, 0, 255, 0, 128, 0, 0, 255, 255, 255, 255, 255, 0};
    ASSERT_NE(stbi_write_tga(png.c_str(), 2, 2, 4, rgba), 0);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(D3DXCreateTextureFromFileA(device_, png.c_str(), &texture), D3D_OK);
    EXPECT_EQ(texture->GetLevelCount(), 2u);
    D3DSURFACE_DESC desc;
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Width, 2u);
    D3DLOCKED_RECT locked;
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    const auto* row0 = static_cast<const uint32_t*>(locked.pBits);
    const auto* row1 = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(locked.pBits) + locked.Pitch);
    EXPECT_EQ(row0[0], 0xFFFF0000u);
    EXPECT_EQ(row0[1], 0x8000FF00u);
    EXPECT_EQ(row1[0], 0xFF0000FFu);
    texture->UnlockRect(0);
    texture->Release();

    // Corrupt and missing files fail without a texture; so does a PNG, a
    // format the engine does not read, named ".tga".
    ASSERT_NE(stbi_write_png(png.c_str(), 2, 2, 4, rgba, 8), 0);
    texture = nullptr;
    EXPECT_TRUE(FAILED(D3DXCreateTextureFromFileA(device_, png.c_str(), &texture)));
    EXPECT_EQ(texture, nullptr);
    std::FILE* file = std::fopen(png.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("\x89PNG\r\n\x1a\nnot really", file);
    std::fclose(file);
    texture = reinterpret_cast<IDirect3DTexture9*>(&file);
    EXPECT_TRUE(FAILED(D3DXCreateTextureFromFileA(device_, png.c_str(), &texture)));
    EXPECT_EQ(texture, nullptr);
    std::remove(png.c_str());
    EXPECT_TRUE(FAILED(D3DXCreateTextureFromFileA(device_, png.c_str(), &texture)));
}

TEST_F(D3D9DeviceTest, CompiledShaderFilesCreateShadersAndReportErrors) {
    const std::string path = ::testing::TempDir() + "d3dx_shader.hlsl";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(kColorHlsl, file);
    std::fclose(file);

    ID3DXBuffer* code = nullptr;
    ID3DXBuffer* errors = nullptr;
    ASSERT_EQ(D3DXCompileShaderFromFileA(path.c_str(), nullptr, nullptr, "main", "ps.2.0", 0, &code, &errors, nullptr),
              D3D_OK);
    ASSERT_NE(code, nullptr);
    IDirect3DPixelShader9* shader = nullptr;
    EXPECT_EQ(device_->CreatePixelShader(static_cast<const DWORD*>(code->GetBufferPointer()), &shader), D3D_OK);
    IDirect3DVertexShader9* wrongStage = nullptr;
    EXPECT_EQ(device_->CreateVertexShader(static_cast<const DWORD*>(code->GetBufferPointer()), &wrongStage),
              D3DERR_INVALIDCALL);
    if (shader != nullptr) shader->Release();
    code->Release();
    if (errors != nullptr) errors->Release();

    file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("float4 main(float4 c : COLOR0) : COLOR0 { return undefinedThing; }\n", file);
    std::fclose(file);
    EXPECT_TRUE(FAILED(D3DXCompileShaderFromFileA(path.c_str(), nullptr, nullptr, "main", "ps_2_0", 0, &code,
                                                  &errors, nullptr)));
    EXPECT_EQ(code, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_GT(std::strlen(static_cast<const char*>(errors->GetBufferPointer())), 0u);
    errors->Release();
    std::remove(path.c_str());

    EXPECT_TRUE(FAILED(D3DXCompileShaderFromFileA(path.c_str(), nullptr, nullptr, "main", "ps_2_0", 0, &code, &errors,
                                                  nullptr)));
    ASSERT_NE(errors, nullptr);
    EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("could not open"),
              std::string::npos);
    errors->Release();
}

}  // namespace
