// Clears, the pre-transformed fixed-function path, alpha test and blend,
// state blocks, buffers, validation and the trace: everything that needs no
// compiled shader.
#include <cstring>

#include "tests/video/d3d9_test_support.h"

namespace {

// A quad covering pixels [left, right) x [top, bottom) with Direct3D 9's
// integer pixel centres: its edges sit half a pixel off the centres.
void Quad(ScreenVertex out[4], float left, float top, float right, float bottom, uint32_t color) {
    out[0] = {left - 0.5f, top - 0.5f, 0.5f, 1.0f, color, 0.0f, 0.0f};
    out[1] = {right - 0.5f, top - 0.5f, 0.5f, 1.0f, color, 1.0f, 0.0f};
    out[2] = {left - 0.5f, bottom - 0.5f, 0.5f, 1.0f, color, 0.0f, 1.0f};
    out[3] = {right - 0.5f, bottom - 0.5f, 0.5f, 1.0f, color, 1.0f, 1.0f};
}

class D3D9FixedFunctionTest : public D3D9DeviceTest {
protected:
    void DrawQuad(float left, float top, float right, float bottom, uint32_t color) {
        ScreenVertex vertices[4];
        Quad(vertices, left, top, right, bottom, color);
        ASSERT_EQ(device_->SetFVF(kScreenFvf), D3D_OK);
        ASSERT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, vertices, sizeof(ScreenVertex)), D3D_OK);
    }
};

TEST_F(D3D9FixedFunctionTest, ClearFillsTheViewportOnly) {
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFF0000, 1.0f, 0), D3D_OK);
    EXPECT_EQ(Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(Pixel(63, 63), 0xFFFF0000u);

    D3DVIEWPORT9 viewport = {8, 16, 10, 4, 0.0f, 1.0f};
    ASSERT_EQ(device_->SetViewport(&viewport), D3D_OK);
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0), D3D_OK);
    const std::vector<uint32_t> pixels = ReadBack();
    EXPECT_EQ(pixels[16 * kSize + 8], 0xFF0000FFu);    // viewport's top-left
    EXPECT_EQ(pixels[19 * kSize + 17], 0xFF0000FFu);   // its bottom-right
    EXPECT_EQ(pixels[15 * kSize + 8], 0xFFFF0000u);    // row above
    EXPECT_EQ(pixels[16 * kSize + 18], 0xFFFF0000u);   // column right of it
}

TEST_F(D3D9FixedFunctionTest, PretransformedPixelLandsExactlyOnItsPixel) {
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    DrawQuad(10, 20, 11, 21, 0xFF00FF00);
    const std::vector<uint32_t> pixels = ReadBack();
    int lit = 0;
    for (uint32_t pixel : pixels) lit += pixel != 0xFF000000u;
    EXPECT_EQ(lit, 1);
    EXPECT_EQ(pixels[20 * kSize + 10], 0xFF00FF00u);
}

TEST_F(D3D9FixedFunctionTest, TextureModulatesDiffuseTopRowFirst) {
    // 2 x 2: red, green / blue, white.
    IDirect3DTexture9* texture = MakeTexture(2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF});
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device_->SetTexture(0, texture);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    DrawQuad(0, 0, 2, 2, 0xFF808080);
    const std::vector<uint32_t> pixels = ReadBack();
    EXPECT_TRUE(NearColor(pixels[0], 0xFF800000));
    EXPECT_TRUE(NearColor(pixels[1], 0xFF008000));
    EXPECT_TRUE(NearColor(pixels[kSize], 0xFF000080));
    EXPECT_TRUE(NearColor(pixels[kSize + 1], 0xFF808080));
    device_->SetTexture(0, nullptr);
    texture->Release();
}

TEST_F(D3D9FixedFunctionTest, AlphaTestDiscardsAndAlphaBlendMixes) {
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF0000FF, 1.0f, 0);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    device_->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device_->SetRenderState(D3DRS_ALPHAREF, 0x80);
    device_->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    DrawQuad(0, 0, 8, 8, 0x40FF0000);    // alpha below the reference: discarded
    DrawQuad(8, 0, 16, 8, 0x80FF0000);   // equal: kept
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    DrawQuad(16, 0, 24, 8, 0x80FF0000);  // half red over blue
    const std::vector<uint32_t> pixels = ReadBack();
    EXPECT_EQ(pixels[4 * kSize + 4], 0xFF0000FFu);
    EXPECT_EQ(pixels[4 * kSize + 12], 0xFFFF0000u);
    EXPECT_TRUE(NearColor(pixels[4 * kSize + 20], 0xFF80007F, 2));
}

TEST_F(D3D9FixedFunctionTest, StateBlocksRecordCaptureAndApply) {
    // Recording changes the block, not the device.
    ASSERT_EQ(device_->BeginStateBlock(), D3D_OK);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device_->SetFVF(kScreenFvf);
    IDirect3DStateBlock9* recorded = nullptr;
    ASSERT_EQ(device_->EndStateBlock(&recorded), D3D_OK);
    DWORD value = 99;
    device_->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(FALSE));

    // A full block saves everything; applying it undoes later changes.
    IDirect3DStateBlock9* saved = nullptr;
    ASSERT_EQ(device_->CreateStateBlock(D3DSBT_ALL, &saved), D3D_OK);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    ASSERT_EQ(recorded->Apply(), D3D_OK);
    device_->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(TRUE));
    device_->GetSamplerState(0, D3DSAMP_MINFILTER, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DTEXF_LINEAR));
    device_->GetRenderState(D3DRS_ZFUNC, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DCMP_ALWAYS)) << "a recorded block touches only what it recorded";

    ASSERT_EQ(saved->Apply(), D3D_OK);
    device_->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, static_cast<DWORD>(FALSE));
    device_->GetRenderState(D3DRS_ZFUNC, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DCMP_LESSEQUAL));

    // Capture refreshes the block from the device.
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_GREATER);
    ASSERT_EQ(saved->Capture(), D3D_OK);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_NEVER);
    saved->Apply();
    device_->GetRenderState(D3DRS_ZFUNC, &value);
    EXPECT_EQ(value, static_cast<DWORD>(D3DCMP_GREATER));
    DWORD fvf = 0;
    device_->GetFVF(&fvf);
    EXPECT_EQ(fvf, 0u) << "the full block saved the FVF before the recorded one was applied";
    recorded->Release();
    saved->Release();
}

TEST_F(D3D9FixedFunctionTest, VertexBufferDiscardLockFeedsDrawPrimitive) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(8 * sizeof(ScreenVertex), D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0,
                                          D3DPOOL_DEFAULT, &buffer, nullptr),
              D3D_OK);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device_->SetFVF(kScreenFvf);
    device_->SetStreamSource(0, buffer, 0, sizeof(ScreenVertex));
    for (uint32_t color : {0xFFFF0000u, 0xFF00FF00u}) {
        void* data = nullptr;
        ASSERT_EQ(buffer->Lock(0, 0, &data, D3DLOCK_DISCARD), D3D_OK);
        ScreenVertex quad[4];
        Quad(quad, 0, 0, 4, 4, color);
        // Second half of the buffer: drawn from start vertex 4.
        std::memcpy(static_cast<ScreenVertex*>(data) + 4, quad, sizeof(quad));
        ASSERT_EQ(buffer->Unlock(), D3D_OK);
        ASSERT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 4, 2), D3D_OK);
        EXPECT_EQ(Pixel(2, 2), color);
    }
    buffer->Release();
}

TEST_F(D3D9FixedFunctionTest, BadCallsAreRejectedWithAReason) {
    std::vector<std::string> trace;
    D3D9SetTrace(device_, &trace);
    const auto lastError = [&]() { return trace.empty() ? std::string() : trace.back(); };

    EXPECT_EQ(device_->SetTexture(8, nullptr), D3DERR_INVALIDCALL);
    EXPECT_NE(lastError().find("error: SetTexture: stage 8"), std::string::npos) << lastError();
    EXPECT_EQ(device_->SetRenderState(static_cast<D3DRENDERSTATETYPE>(3), 0), D3DERR_INVALIDCALL);
    EXPECT_NE(lastError().find("unknown render state 3"), std::string::npos);
    EXPECT_EQ(device_->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(40), 0), D3DERR_INVALIDCALL);

    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(64, 0, 0, D3DPOOL_DEFAULT, &buffer, nullptr), D3D_OK);
    void* data = nullptr;
    EXPECT_EQ(buffer->Lock(60, 8, &data, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(data, nullptr);
    EXPECT_NE(lastError().find("past the end"), std::string::npos);
    EXPECT_EQ(buffer->Unlock(), D3DERR_INVALIDCALL);

    // Drawing with nothing bound, or reading past the buffer.
    device_->SetFVF(kScreenFvf);
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_NE(lastError().find("no vertex buffer"), std::string::npos);
    device_->SetStreamSource(0, buffer, 0, sizeof(ScreenVertex));
    EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1), D3DERR_INVALIDCALL);  // 3 x 28 > 64
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 2, 0, 1), D3DERR_INVALIDCALL);
    EXPECT_NE(lastError().find("no index buffer"), std::string::npos);
    device_->SetFVF(kEngineFvf);
    EXPECT_EQ(device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, trace.data(), 48), D3DERR_INVALIDCALL);
    EXPECT_NE(lastError().find("no vertex shader"), std::string::npos);
    EXPECT_EQ(device_->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(9), 0, 1), D3DERR_INVALIDCALL);

    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device_->CreateTexture(0, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture,
                                     nullptr),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(device_->CreateTexture(4, 4, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &texture,
                                     nullptr),
              D3D_OK);
    D3DLOCKED_RECT locked;
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture->LockRect(1, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->SetRenderTarget(4, nullptr), D3DERR_INVALIDCALL);  // four targets at most
    EXPECT_EQ(device_->EndScene(), D3DERR_INVALIDCALL);
    D3D9SetTrace(device_, nullptr);
    texture->Release();
    buffer->Release();
}

TEST_F(D3D9FixedFunctionTest, TraceRecordsCallsInOrder) {
    std::vector<std::string> trace;
    D3D9SetTrace(device_, &trace);
    device_->BeginScene();
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device_->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetFVF(kScreenFvf);
    ScreenVertex quad[4];
    Quad(quad, 0, 0, 2, 2, 0xFFFFFFFF);
    device_->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(ScreenVertex));
    device_->EndScene();
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    D3D9SetTrace(device_, nullptr);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);  // not traced any more

    const std::vector<std::string> expected = {
        "BeginScene()",
        "Clear(0, 0x7, 0x00000000, 1, 0)",
        "SetRenderState(D3DRS_ZENABLE, 1)",
        "SetSamplerState(1, D3DSAMP_ADDRESSU, 3)",
        "SetTextureStageState(0, D3DTSS_COLOROP, 4)",
        "SetFVF(0x144)",
        "DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, 28)",
        "EndScene()",
        "Present()",
    };
    EXPECT_EQ(trace, expected);
}

TEST_F(D3D9FixedFunctionTest, CapsIdentifierAndPresentedFrame) {
    D3DCAPS9 caps = {};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.VertexShaderVersion, 0xFFFE0200u);
    EXPECT_EQ(caps.PixelShaderVersion, 0xFFFF0200u);
    EXPECT_EQ(caps.MaxSimultaneousTextures, 8u);
    EXPECT_GE(caps.MaxTextureWidth, 2048u);
    D3DADAPTER_IDENTIFIER9 identifier = {};
    ASSERT_EQ(direct3d_->GetAdapterIdentifier(D3DADAPTER_DEFAULT, 0, &identifier), D3D_OK);
    EXPECT_GT(std::strlen(identifier.Driver), 0u);
    EXPECT_LT(std::strlen(identifier.DeviceName), sizeof(identifier.DeviceName));
    EXPECT_EQ(direct3d_->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL,
                                           D3DRTYPE_SURFACE, D3DFMT_D16),
              D3D_OK);
    EXPECT_NE(direct3d_->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DUSAGE_DEPTHSTENCIL,
                                           D3DRTYPE_SURFACE, D3DFMT_A8R8G8B8),
              D3D_OK);

    const std::string path = ::testing::TempDir() + "d3d9_last_frame.png";
    EXPECT_FALSE(D3D9SaveLastFrame(device_, path.c_str())) << "nothing presented yet";
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    device_->Present(nullptr, nullptr, nullptr, nullptr);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 1.0f, 0);
    EXPECT_TRUE(D3D9SaveLastFrame(device_, path.c_str()));
    std::remove(path.c_str());
}

}  // namespace
