// D3DX 9 helpers: left-handed matrices, image files into textures through
// stb_image, and HLSL files through the engine's HLSL compiler.
#include "video/d3d9/d3dx9.h"

#include <stb_image.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "video/d3d9/jpeg_decoder.h"
#include "video/d3d9/d3d9_internal.h"
#include "video/d3d9/hlsl_compiler.h"

// ---------------------------------------------------------------------------
// Matrices
// ---------------------------------------------------------------------------
D3DXMATRIX::D3DXMATRIX(const float* sixteen) : D3DMATRIX{} {
    if (sixteen != nullptr) std::memcpy(m, sixteen, sizeof(m));
}

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    if (out == nullptr) return nullptr;
    *out = D3DXMATRIX();
    out->_11 = out->_22 = out->_33 = out->_44 = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* m1, const D3DXMATRIX* m2) {
    if (out == nullptr || m1 == nullptr || m2 == nullptr) return nullptr;
    D3DXMATRIX product;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += m1->m[row][k] * m2->m[k][column];
            product.m[row][column] = sum;
        }
    }
    *out = product;
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear, float zFar) {
    if (out == nullptr) return nullptr;
    const float yScale = 1.0f / std::tan(fovY * 0.5f);
    const float xScale = yScale / aspect;
    *out = D3DXMATRIX();
    out->_11 = xScale;
    out->_22 = yScale;
    out->_33 = zFar / (zFar - zNear);
    out->_34 = 1.0f;
    out->_43 = -zNear * zFar / (zFar - zNear);
    return out;
}

namespace {

// The most pixels one image may have (64 MB of RGBA): a file that declares
// more is refused before it is decoded.
constexpr uint64_t kMaxImagePixels = (64ull << 20) / 4;

D3DXVECTOR3 Subtract(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
D3DXVECTOR3 Normalize(const D3DXVECTOR3& v) {
    const float length = std::sqrt(Dot(v, v));
    if (length == 0.0f) return v;
    return {v.x / length, v.y / length, v.z / length};
}

}  // namespace

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up) {
    if (out == nullptr || eye == nullptr || at == nullptr || up == nullptr) return nullptr;
    const D3DXVECTOR3 zAxis = Normalize(Subtract(*at, *eye));
    const D3DXVECTOR3 xAxis = Normalize(Cross(*up, zAxis));
    const D3DXVECTOR3 yAxis = Cross(zAxis, xAxis);
    *out = D3DXMATRIX();
    out->_11 = xAxis.x;
    out->_12 = yAxis.x;
    out->_13 = zAxis.x;
    out->_21 = xAxis.y;
    out->_22 = yAxis.y;
    out->_23 = zAxis.y;
    out->_31 = xAxis.z;
    out->_32 = yAxis.z;
    out->_33 = zAxis.z;
    out->_41 = -Dot(xAxis, *eye);
    out->_42 = -Dot(yAxis, *eye);
    out->_43 = -Dot(zAxis, *eye);
    out->_44 = 1.0f;
    return out;
}

// ---------------------------------------------------------------------------
// Buffers
// ---------------------------------------------------------------------------
namespace {

class Buffer final : public d3d9::RefCounted<ID3DXBuffer> {
public:
    explicit Buffer(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    void* GetBufferPointer() override { return bytes_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    std::vector<uint8_t> bytes_;
};

ID3DXBuffer* TextBuffer(const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back('\0');
    return new Buffer(std::move(bytes));
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes) {
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t read = 0;
    while ((read = std::fread(chunk, 1, sizeof(chunk), file)) > 0) bytes->insert(bytes->end(), chunk, chunk + read);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace

HRESULT D3DXCreateBuffer(DWORD size, ID3DXBuffer** buffer) {
    if (buffer == nullptr) return D3DERR_INVALIDCALL;
    *buffer = new Buffer(std::vector<uint8_t>(size, 0));
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Textures from files
// ---------------------------------------------------------------------------
namespace {

// Writes RGBA pixels into a locked A8R8G8B8 level (B, G, R, A in memory).
void WriteLevel(const std::vector<uint8_t>& rgba, int width, int height, const D3DLOCKED_RECT& locked) {
    for (int y = 0; y < height; ++y) {
        uint8_t* row = static_cast<uint8_t*>(locked.pBits) + static_cast<size_t>(y) * static_cast<size_t>(locked.Pitch);
        for (int x = 0; x < width; ++x) {
            const uint8_t* source = &rgba[(static_cast<size_t>(y) * width + x) * 4];
            row[x * 4 + 0] = source[2];
            row[x * 4 + 1] = source[1];
            row[x * 4 + 2] = source[0];
            row[x * 4 + 3] = source[3];
        }
    }
}

// The next mip level: each texel the average of (up to) four.
std::vector<uint8_t> HalveLevel(const std::vector<uint8_t>& rgba, int width, int height, int* outWidth,
                                int* outHeight) {
    *outWidth = std::max(1, width / 2);
    *outHeight = std::max(1, height / 2);
    std::vector<uint8_t> result(static_cast<size_t>(*outWidth) * *outHeight * 4);
    for (int y = 0; y < *outHeight; ++y) {
        for (int x = 0; x < *outWidth; ++x) {
            const int x0 = std::min(x * 2, width - 1);
            const int x1 = std::min(x * 2 + 1, width - 1);
            const int y0 = std::min(y * 2, height - 1);
            const int y1 = std::min(y * 2 + 1, height - 1);
            for (int c = 0; c < 4; ++c) {
                const int sum = rgba[(static_cast<size_t>(y0) * width + x0) * 4 + c] +
                                rgba[(static_cast<size_t>(y0) * width + x1) * 4 + c] +
                                rgba[(static_cast<size_t>(y1) * width + x0) * 4 + c] +
                                rgba[(static_cast<size_t>(y1) * width + x1) * 4 + c];
                result[(static_cast<size_t>(y) * *outWidth + x) * 4 + c] = static_cast<uint8_t>((sum + 2) / 4);
            }
        }
    }
    return result;
}

}  // namespace

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* srcFile, IDirect3DTexture9** texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (device == nullptr || srcFile == nullptr) return D3DERR_INVALIDCALL;
    std::vector<uint8_t> file;
    if (!ReadWholeFile(srcFile, &file)) return D3DERR_NOTAVAILABLE;
    if (file.empty() || file.size() > static_cast<size_t>(INT32_MAX)) return D3DXERR_INVALIDDATA;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    if (LooksLikeJpeg(file.data(), file.size())) {
        D3DCAPS9 caps{};
        device->GetDeviceCaps(&caps);
        const uint32_t maxSide = caps.MaxTextureWidth > 0 ? caps.MaxTextureWidth : 8192;
        if (!DecodeJpeg(file.data(), file.size(), maxSide, kMaxImagePixels, &rgba, &width, &height)) {
            return D3DXERR_INVALIDDATA;
        }
    } else {
        int channels = 0;
        stbi_uc* pixels =
            stbi_load_from_memory(file.data(), static_cast<int>(file.size()), &width, &height, &channels, 4);
        if (pixels == nullptr) return D3DXERR_INVALIDDATA;
        rgba.assign(pixels, pixels + static_cast<size_t>(width) * height * 4);
        stbi_image_free(pixels);
    }

    IDirect3DTexture9* created = nullptr;
    const HRESULT result = device->CreateTexture(static_cast<UINT>(width), static_cast<UINT>(height), 0, 0,
                                                 D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &created, nullptr);
    if (FAILED(result)) return result;
    const DWORD levels = created->GetLevelCount();
    for (DWORD level = 0; level < levels; ++level) {
        if (level > 0) {
            int nextWidth = 0;
            int nextHeight = 0;
            rgba = HalveLevel(rgba, width, height, &nextWidth, &nextHeight);
            width = nextWidth;
            height = nextHeight;
        }
        D3DLOCKED_RECT locked;
        if (FAILED(created->LockRect(level, &locked, nullptr, 0))) {
            created->Release();
            return E_FAIL;
        }
        WriteLevel(rgba, width, height, locked);
        created->UnlockRect(level);
    }
    *texture = created;
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Shaders
// ---------------------------------------------------------------------------
HRESULT D3DXCompileShaderFromFileA(const char* srcFile, const D3DXMACRO* defines, LPD3DXINCLUDE include,
                                   const char* functionName, const char* profile, DWORD, LPD3DXBUFFER* shader,
                                   LPD3DXBUFFER* errorMsgs, LPD3DXCONSTANTTABLE* constantTable) {
    if (shader != nullptr) *shader = nullptr;
    if (errorMsgs != nullptr) *errorMsgs = nullptr;
    if (constantTable != nullptr) *constantTable = nullptr;
    const auto fail = [&](HRESULT code, const std::string& message) {
        if (errorMsgs != nullptr && !message.empty()) *errorMsgs = TextBuffer(message);
        return code;
    };
    if (srcFile == nullptr || functionName == nullptr || profile == nullptr || shader == nullptr) {
        return fail(D3DERR_INVALIDCALL, "D3DXCompileShaderFromFileA: file, entry point, profile and output are needed");
    }
    if ((defines != nullptr && defines[0].Name != nullptr) || include != nullptr) {
        return fail(D3DERR_INVALIDCALL, "D3DXCompileShaderFromFileA: macro definitions and include handlers are not supported");
    }
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(srcFile, &bytes)) {
        return fail(E_FAIL, std::string(srcFile) + ": could not open the file");
    }
    const std::string source(bytes.begin(), bytes.end());
    CompiledShader compiled;
    std::string messages;
    const bool ok = CompileHlsl(source, functionName, profile, &compiled, &messages);
    if (errorMsgs != nullptr && !messages.empty()) *errorMsgs = TextBuffer(messages);
    if (!ok) return E_FAIL;
    *shader = new Buffer(SerializeShader(compiled));
    return D3D_OK;
}
