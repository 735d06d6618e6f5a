// The D3DX 9 helpers the engine calls: left-handed matrix helpers (row
// vectors, row-order storage), texture loading and HLSL compilation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "video/d3d9/d3d9.h"

constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);

struct D3DXVECTOR3 : public D3DVECTOR {
    D3DXVECTOR3() : D3DVECTOR{0.0f, 0.0f, 0.0f} {}
    D3DXVECTOR3(float ax, float ay, float az) : D3DVECTOR{ax, ay, az} {}
};

struct D3DXMATRIX : public D3DMATRIX {
    D3DXMATRIX() : D3DMATRIX{} {}
    explicit D3DXMATRIX(const float* sixteen);
    float& operator()(UINT row, UINT column) { return m[row][column]; }
    float operator()(UINT row, UINT column) const { return m[row][column]; }
    operator float*() { return &_11; }
    operator const float*() const { return &_11; }
};

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
// out = m1 * m2 (m1 applied first to row vectors). out may alias either input.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2);
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear, float zFar);
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);

class ID3DXBuffer : public IUnknown {
public:
    virtual void* GetBufferPointer() = 0;
    virtual DWORD GetBufferSize() = 0;
};
typedef ID3DXBuffer* LPD3DXBUFFER;

// Constant tables are not produced: D3DXCompileShaderFromFileA sets the
// requested pointer to null. Constants are bound by register instead.
class ID3DXConstantTable : public IUnknown {};
typedef ID3DXConstantTable* LPD3DXCONSTANTTABLE;

struct D3DXMACRO {
    const char* Name;
    const char* Definition;
};
class ID3DXInclude;  // include handlers are not supported; pass null
typedef ID3DXInclude* LPD3DXINCLUDE;

// A buffer of size bytes, zeroed; null on allocation failure.
HRESULT D3DXCreateBuffer(DWORD size, ID3DXBuffer** buffer);

// Loads a jpg, tga or bmp image into a D3DFMT_A8R8G8B8 texture with a
// full mip chain, in the managed pool. The file is read through the engine's
// path layer ("\" separators, case-insensitive fallback).
HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* srcFile, IDirect3DTexture9** texture);

// The three steps of D3DXCreateTextureFromFileA, for loaders that decode on
// other threads while the device thread uploads (this layer's own, not D3DX's).
// An image decoded into its whole mip chain, each level in A8R8G8B8 memory
// order, tightly packed.
struct D3DXDecodedImage {
    UINT width = 0;
    UINT height = 0;
    std::vector<std::vector<uint8_t>> levels;
};
// Reads an open image file to its end, closes it and decodes it (as
// D3DXDecodeImage). Safe on any thread that owns the stream.
HRESULT D3DXDecodeImageFile(std::FILE* file, UINT maxSide, D3DXDecodedImage* image);
// Decodes an image file's bytes, refusing sides over maxSide and more than
// 64 MB of pixels. Touches nothing shared: safe on any thread.
HRESULT D3DXDecodeImage(const uint8_t* data, size_t size, UINT maxSide, D3DXDecodedImage* image);
// The largest texture side the device takes (what D3DXDecodeImage is given).
UINT D3DXMaxTextureSide(IDirect3DDevice9* device);
// A managed A8R8G8B8 texture holding the decoded levels.
HRESULT D3DXCreateTextureFromImage(IDirect3DDevice9* device, const D3DXDecodedImage& image,
                                   IDirect3DTexture9** texture);

// Compiles one entry point of an HLSL file. shader receives the bytes for
// CreateVertexShader/CreatePixelShader; errorMsgs (when not null) the
// compiler's text, zero-terminated, or null when it had nothing to say.
// Macro definitions and include handlers are not supported (must be null);
// flags are ignored.
HRESULT D3DXCompileShaderFromFileA(const char* srcFile, const D3DXMACRO* defines, LPD3DXINCLUDE include,
                                   const char* functionName, const char* profile, DWORD flags,
                                   LPD3DXBUFFER* shader, LPD3DXBUFFER* errorMsgs,
                                   LPD3DXCONSTANTTABLE* constantTable);
