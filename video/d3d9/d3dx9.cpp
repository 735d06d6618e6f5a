// D3DX 9 helpers: left-handed matrices, image files into textures (JPEG
// through libjpeg-turbo, TGA and BMP through their own decoder), and HLSL files through the engine's HLSL compiler.
#include "video/d3d9/d3dx9.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/paths.h"
#include "video/d3d9/jpeg_decoder.h"
#include "video/d3d9/tga_bmp_decoder.h"
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

// Reads a stream to its end and closes it.
bool ReadWholeStream(std::FILE* file, std::vector<uint8_t>* bytes) {
    bytes->clear();
    // Straight into place when the length is known; a stream that turns out
    // longer (or shorter) than it said is still read to its real end.
    const uint64_t length = StreamLength(file);
    if (length > 0 && length < (uint64_t{1} << 31)) {
        bytes->resize(static_cast<size_t>(length));
        bytes->resize(std::fread(bytes->data(), 1, bytes->size(), file));
    }
    uint8_t chunk[65536];
    size_t read = 0;
    while ((read = std::fread(chunk, 1, sizeof(chunk), file)) > 0) bytes->insert(bytes->end(), chunk, chunk + read);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>* bytes) {
    std::FILE* file = OpenFile(path, "rb");
    return file != nullptr && ReadWholeStream(file, bytes);
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

// RGBA bytes turned, in place, into the B, G, R, A order of an A8R8G8B8 level.
void SwapRedAndBlue(std::vector<uint8_t>* pixels) {
    uint8_t* p = pixels->data();
    for (size_t i = 0, n = pixels->size(); i + 3 < n; i += 4) std::swap(p[i], p[i + 2]);
}

// The next mip level: each texel the rounded average of the (up to) four
// beneath it; a side of 1 stays 1.
std::vector<uint8_t> HalveLevel(const std::vector<uint8_t>& pixels, UINT width, UINT height) {
    const UINT outWidth = std::max(1u, width / 2);
    const UINT outHeight = std::max(1u, height / 2);
    std::vector<uint8_t> result(static_cast<size_t>(outWidth) * outHeight * 4);
    const size_t stride = static_cast<size_t>(width) * 4;
    for (UINT y = 0; y < outHeight; ++y) {
        const uint8_t* row0 = pixels.data() + std::min(y * 2, height - 1) * stride;
        const uint8_t* row1 = pixels.data() + std::min(y * 2 + 1, height - 1) * stride;
        uint8_t* out = result.data() + static_cast<size_t>(y) * outWidth * 4;
        if (width == outWidth * 2) {
            // Every output texel has two columns beneath it: a plain loop
            // the compiler can vectorise.
            for (size_t i = 0, n = static_cast<size_t>(outWidth) * 4; i < n; ++i) {
                const size_t at = (i / 4) * 8 + i % 4;
                out[i] = static_cast<uint8_t>((row0[at] + row0[at + 4] + row1[at] + row1[at + 4] + 2) >> 2);
            }
            continue;
        }
        for (UINT x = 0; x < outWidth; ++x) {
            const size_t x0 = static_cast<size_t>(std::min(x * 2, width - 1)) * 4;
            const size_t x1 = static_cast<size_t>(std::min(x * 2 + 1, width - 1)) * 4;
            for (int c = 0; c < 4; ++c) {
                out[x * 4 + c] = static_cast<uint8_t>((row0[x0 + c] + row0[x1 + c] + row1[x0 + c] + row1[x1 + c] + 2) / 4);
            }
        }
    }
    return result;
}

}  // namespace

HRESULT D3DXDecodeImageFile(std::FILE* file, UINT maxSide, D3DXDecodedImage* image) {
    if (image != nullptr) *image = D3DXDecodedImage{};
    if (file == nullptr || image == nullptr) {
        if (file != nullptr) std::fclose(file);
        return D3DERR_INVALIDCALL;
    }
    std::vector<uint8_t> bytes;
    if (!ReadWholeStream(file, &bytes)) return D3DERR_NOTAVAILABLE;
    return D3DXDecodeImage(bytes.data(), bytes.size(), maxSide, image);
}

UINT D3DXMaxTextureSide(IDirect3DDevice9* device) {
    D3DCAPS9 caps{};
    if (device == nullptr || FAILED(device->GetDeviceCaps(&caps)) || caps.MaxTextureWidth == 0) return 8192;
    return std::min(caps.MaxTextureWidth, caps.MaxTextureHeight > 0 ? caps.MaxTextureHeight : caps.MaxTextureWidth);
}

HRESULT D3DXDecodeImage(const uint8_t* data, size_t size, UINT maxSide, D3DXDecodedImage* image) {
    if (image == nullptr) return D3DERR_INVALIDCALL;
    *image = D3DXDecodedImage{};
    if (data == nullptr || size == 0 || size > static_cast<size_t>(INT32_MAX)) return D3DXERR_INVALIDDATA;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    if (LooksLikeJpeg(data, size)) {
        if (!DecodeJpeg(data, size, maxSide, kMaxImagePixels, &rgba, &width, &height, PixelOrder::kBgra)) {
            return D3DXERR_INVALIDDATA;
        }
    } else if (DecodeTgaOrBmp(data, size, maxSide, kMaxImagePixels, &rgba, &width, &height)) {
        SwapRedAndBlue(&rgba);
    } else {
        return D3DXERR_INVALIDDATA;
    }
    image->width = static_cast<UINT>(width);
    image->height = static_cast<UINT>(height);
    image->levels.push_back(std::move(rgba));
    for (UINT w = image->width, h = image->height; w > 1 || h > 1; w = std::max(1u, w / 2), h = std::max(1u, h / 2)) {
        image->levels.push_back(HalveLevel(image->levels.back(), w, h));
    }
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromImage(IDirect3DDevice9* device, const D3DXDecodedImage& image,
                                   IDirect3DTexture9** texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (device == nullptr || image.levels.empty()) return D3DERR_INVALIDCALL;
    IDirect3DTexture9* created = nullptr;
    const HRESULT result = device->CreateTexture(image.width, image.height, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                                 &created, nullptr);
    if (FAILED(result)) return result;
    const DWORD levels = std::min<DWORD>(created->GetLevelCount(), static_cast<DWORD>(image.levels.size()));
    for (DWORD level = 0; level < levels; ++level) {
        const UINT width = std::max(1u, image.width >> level);
        const UINT height = std::max(1u, image.height >> level);
        const std::vector<uint8_t>& pixels = image.levels[level];
        if (pixels.size() != static_cast<size_t>(width) * height * 4 ||
            FAILED(static_cast<d3d9::Texture*>(created)->WriteLevel(level, pixels.data()))) {
            created->Release();
            return E_FAIL;
        }
    }
    *texture = created;
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* srcFile, IDirect3DTexture9** texture) {
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (device == nullptr || srcFile == nullptr) return D3DERR_INVALIDCALL;
    std::FILE* file = OpenFile(srcFile, "rb");
    if (file == nullptr) return D3DERR_NOTAVAILABLE;
    D3DXDecodedImage image;
    const HRESULT decoded = D3DXDecodeImageFile(file, D3DXMaxTextureSide(device), &image);
    if (FAILED(decoded)) return decoded;
    return D3DXCreateTextureFromImage(device, image, texture);
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
