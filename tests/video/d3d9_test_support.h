// A headless Direct3D 9 device for rendering tests: a 64 x 64 X8R8G8B8 back
// buffer with a D24S8 depth buffer, read back pixel by pixel.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/headless/virtual_window.h"
#include "video/d3d9/d3d9.h"
#include "video/d3d9/hlsl_compiler.h"

// The headless run's own window, named for these tests.
class HeadlessTestWindow : public VirtualWindow {
public:
    HeadlessTestWindow(int width, int height) : VirtualWindow("d3d9 test", width, height) {}
};

// The engine's 48-byte vertex (FVF 0x40252).
struct EngineVertex {
    float x, y, z;
    float nx, ny, nz;
    uint32_t color;
    float u, v;
    float u2, v2, w2;
};
constexpr DWORD kEngineFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2 | D3DFVF_TEXCOORDSIZE3(1);

// The overlay's 28-byte pre-transformed vertex.
struct ScreenVertex {
    float x, y, z, rhw;
    uint32_t color;
    float u, v;
};
constexpr DWORD kScreenFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

inline EngineVertex MakeVertex(float x, float y, float z, uint32_t color, float u = 0.0f, float v = 0.0f) {
    return EngineVertex{x, y, z, 0.0f, 0.0f, 1.0f, color, u, v, 0.0f, 0.0f, 0.0f};
}

class D3D9DeviceTest : public ::testing::Test {
protected:
    static constexpr int kSize = 64;

    void SetUp() override {
        direct3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(direct3d_, nullptr);
        D3DPRESENT_PARAMETERS parameters = {};
        parameters.BackBufferWidth = kSize;
        parameters.BackBufferHeight = kSize;
        parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
        parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
        parameters.hDeviceWindow = &window_;
        parameters.Windowed = TRUE;
        parameters.EnableAutoDepthStencil = TRUE;
        parameters.AutoDepthStencilFormat = D3DFMT_D24S8;
        parameters.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        ASSERT_EQ(direct3d_->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &window_,
                                          D3DCREATE_HARDWARE_VERTEXPROCESSING, &parameters, &device_),
                  D3D_OK);
        ASSERT_NE(device_, nullptr);
    }

    void TearDown() override {
        if (device_ != nullptr) device_->Release();
        if (direct3d_ != nullptr) direct3d_->Release();
    }

    std::vector<uint32_t> ReadBack() {
        std::vector<uint32_t> pixels;
        int width = 0;
        int height = 0;
        EXPECT_TRUE(D3D9ReadBackBuffer(device_, &pixels, &width, &height));
        EXPECT_EQ(width, kSize);
        EXPECT_EQ(height, kSize);
        return pixels;
    }
    uint32_t Pixel(int x, int y) { return ReadBack()[static_cast<size_t>(y) * kSize + x]; }

    // A shader from HLSL through the engine's compiler and the device.
    IDirect3DVertexShader9* VertexShader(const std::string& hlsl) {
        CompiledShader compiled;
        std::string messages;
        EXPECT_TRUE(CompileHlsl(hlsl, "main", "vs_2_0", &compiled, &messages)) << messages;
        const std::vector<uint8_t> bytes = SerializeShader(compiled);
        IDirect3DVertexShader9* shader = nullptr;
        EXPECT_EQ(device_->CreateVertexShader(reinterpret_cast<const DWORD*>(bytes.data()), &shader), D3D_OK);
        return shader;
    }
    IDirect3DPixelShader9* PixelShader(const std::string& hlsl) {
        CompiledShader compiled;
        std::string messages;
        EXPECT_TRUE(CompileHlsl(hlsl, "main", "ps_2_0", &compiled, &messages)) << messages;
        const std::vector<uint8_t> bytes = SerializeShader(compiled);
        IDirect3DPixelShader9* shader = nullptr;
        EXPECT_EQ(device_->CreatePixelShader(reinterpret_cast<const DWORD*>(bytes.data()), &shader), D3D_OK);
        return shader;
    }

    // A texture filled from ARGB words, top row first.
    IDirect3DTexture9* MakeTexture(int width, int height, const std::vector<uint32_t>& argb) {
        IDirect3DTexture9* texture = nullptr;
        EXPECT_EQ(device_->CreateTexture(width, height, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
                  D3D_OK);
        D3DLOCKED_RECT locked;
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
        for (int y = 0; y < height; ++y) {
            std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, &argb[static_cast<size_t>(y) * width],
                        static_cast<size_t>(width) * 4);
        }
        EXPECT_EQ(texture->UnlockRect(0), D3D_OK);
        return texture;
    }

    HeadlessTestWindow window_{kSize, kSize};
    IDirect3D9* direct3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
};

// Colour channels within tolerance of each other (alpha ignored).
inline ::testing::AssertionResult NearColor(uint32_t actual, uint32_t expected, int tolerance = 3) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance) {
            char text[64];
            std::snprintf(text, sizeof(text), "0x%08X is not near 0x%08X", actual, expected);
            return ::testing::AssertionFailure() << text;
        }
    }
    return ::testing::AssertionSuccess();
}
