// The overlay font and the heads-up lines. The glyph atlas is built the way
// the engine's Windows build built it with GDI: the face is opened at an em
// height of the point size at 96 dpi, every character of 32..126 takes a cell
// of its advance width and the font's line height (ascent + descent) with a
// margin on either side, cells are packed row by row into a square power-of-
// two sheet, and the antialiased coverage keeps its upper four bits as the
// alpha of an otherwise white A4R4G4B4 texel.
#include "video/text_overlay.h"

#include <stb_truetype.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "camera/camera.h"
#include "platform/font_files.h"
#include "platform/operating_system.h"
#include "video/video_cvars.h"
#include "video/video_system.h"

namespace {

// GDI's logical pixels per inch on a default display.
constexpr int32_t kLogPixelsY = 96;
constexpr uint32_t kFirstAtlasSize = 128;

OverlayFont* g_overlayFont = nullptr;
OverlayDemoSource g_demoSource = nullptr;

uint16_t ReadU16(const uint8_t* at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }
uint32_t ReadU32(const uint8_t* at) {
    return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
           (static_cast<uint32_t>(at[2]) << 8) | at[3];
}

// The table directory of the face at fontStart, checked against the file's
// size: stb_truetype trusts the offsets it reads, so a truncated or foreign
// file must be turned away before it gets there. Fills the OS/2 table's
// position when there is one.
bool CheckTableDirectory(const std::vector<uint8_t>& data, uint32_t fontStart, uint32_t* os2Offset,
                         uint32_t* os2Length) {
    const size_t size = data.size();
    if (static_cast<size_t>(fontStart) + 12 > size) return false;
    const uint8_t* base = data.data() + fontStart;
    const uint32_t version = ReadU32(base);
    if (version != 0x00010000u && version != 0x74727565u /* true */ && version != 0x4F54544Fu /* OTTO */) {
        return false;
    }
    const uint32_t tables = ReadU16(base + 4);
    if (tables == 0 || static_cast<size_t>(fontStart) + 12 + 16 * static_cast<size_t>(tables) > size) return false;
    *os2Offset = 0;
    *os2Length = 0;
    for (uint32_t i = 0; i < tables; ++i) {
        const uint8_t* record = base + 12 + 16 * i;
        const uint32_t offset = ReadU32(record + 8);
        const uint32_t length = ReadU32(record + 12);
        if (static_cast<size_t>(offset) + length > size) return false;
        if (std::memcmp(record, "OS/2", 4) == 0) {
            *os2Offset = offset;
            *os2Length = length;
        }
    }
    return true;
}

// a × b / c rounded half away from zero, as Windows' MulDiv.
int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    return static_cast<int32_t>(std::llround(static_cast<double>(a) * b / c));
}

// Cell width and line height in pixels at one em height.
struct CellMetrics {
    float scale = 0.0f;  // font units to pixels
    uint32_t ascent = 0;
    uint32_t height = 0;
};

}  // namespace

struct OverlayFont::Rasteriser {
    stbtt_fontinfo info{};
    // Line ascent and descent in font units: Windows' own (OS/2 usWin*)
    // where the face has them, as GDI measures text, else the hhea ones.
    int32_t ascentUnits = 0;
    int32_t descentUnits = 0;

    CellMetrics Metrics(int32_t pixelHeight) const {
        CellMetrics metrics;
        if (pixelHeight <= 0) return metrics;
        metrics.scale = stbtt_ScaleForMappingEmToPixels(&info, static_cast<float>(pixelHeight));
        const auto ascent = static_cast<int32_t>(std::lround(ascentUnits * metrics.scale));
        const auto descent = static_cast<int32_t>(std::lround(descentUnits * metrics.scale));
        metrics.ascent = static_cast<uint32_t>(ascent > 0 ? ascent : 0);
        metrics.height = static_cast<uint32_t>(ascent + descent > 0 ? ascent + descent : 0);
        return metrics;
    }

    uint32_t Advance(int32_t c, const CellMetrics& metrics) const {
        int advance = 0;
        int bearing = 0;
        stbtt_GetCodepointHMetrics(&info, c, &advance, &bearing);
        const long width = std::lround(advance * metrics.scale);
        return static_cast<uint32_t>(width > 0 ? width : 0);
    }

    // Paints c with its origin at (x, baseline) into the sheet, clipped to
    // the clip rectangle; coverage only ever grows, as ink on black does.
    void Paint(int32_t c, const CellMetrics& metrics, int32_t x, int32_t baseline, const RECT& clip,
               uint32_t sheetWidth, std::vector<uint8_t>* sheet) const {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        stbtt_GetCodepointBitmapBox(&info, c, metrics.scale, metrics.scale, &x0, &y0, &x1, &y1);
        const int width = x1 - x0;
        const int height = y1 - y0;
        if (width <= 0 || height <= 0) return;
        std::vector<uint8_t> bitmap(static_cast<size_t>(width) * height);
        stbtt_MakeCodepointBitmap(&info, bitmap.data(), width, height, width, metrics.scale, metrics.scale, c);
        for (int row = 0; row < height; ++row) {
            const int ty = baseline + y0 + row;
            if (ty < clip.top || ty >= clip.bottom) continue;
            for (int column = 0; column < width; ++column) {
                const int tx = x + x0 + column;
                if (tx < clip.left || tx >= clip.right) continue;
                uint8_t& texel = (*sheet)[static_cast<size_t>(ty) * sheetWidth + static_cast<size_t>(tx)];
                const uint8_t value = bitmap[static_cast<size_t>(row) * width + column];
                if (value > texel) texel = value;
            }
        }
    }
};

// ---------------------------------------------------------------------------
// Construction
// ---------------------------------------------------------------------------
std::unique_ptr<OverlayFont> OverlayFont::Create(const char* face, int32_t heightPoints, int32_t flags) {
    if (face == nullptr) return nullptr;
    ::FontFile font;
    if (!FindOutlineFont(face, &font)) return nullptr;
    return Open(font.path.c_str(), font.index, face, heightPoints, flags);
}

std::unique_ptr<OverlayFont> OverlayFont::CreateFromFile(const char* path, const char* face, int32_t heightPoints,
                                                         int32_t flags) {
    return Open(path, 0, face, heightPoints, flags);
}

std::unique_ptr<OverlayFont> OverlayFont::Open(const char* path, int32_t faceIndex, const char* face,
                                               int32_t heightPoints, int32_t flags) {
    if (path == nullptr || faceIndex < 0) return nullptr;
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return nullptr;
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (data.size() < 12) return nullptr;

    uint32_t fontStart = 0;
    if (ReadU32(data.data()) == 0x74746366u /* ttcf: a collection of faces */) {
        const size_t entry = 12 + 4 * static_cast<size_t>(faceIndex);
        if (faceIndex >= static_cast<int32_t>(ReadU32(data.data() + 8)) || entry + 4 > data.size()) return nullptr;
        fontStart = ReadU32(data.data() + entry);
    } else if (faceIndex != 0) {
        return nullptr;
    }
    uint32_t os2Offset = 0, os2Length = 0;
    if (!CheckTableDirectory(data, fontStart, &os2Offset, &os2Length)) return nullptr;

    std::unique_ptr<OverlayFont> font(new OverlayFont());
    font->fontData_ = std::move(data);
    font->rasteriser_ = std::make_unique<Rasteriser>();
    Rasteriser& rasteriser = *font->rasteriser_;
    if (stbtt_InitFont(&rasteriser.info, font->fontData_.data(), static_cast<int>(fontStart)) == 0) return nullptr;
    if (os2Length >= 78) {
        const uint8_t* os2 = font->fontData_.data() + os2Offset;
        rasteriser.ascentUnits = ReadU16(os2 + 74);   // usWinAscent
        rasteriser.descentUnits = ReadU16(os2 + 76);  // usWinDescent
    }
    if (rasteriser.ascentUnits + rasteriser.descentUnits <= 0) {
        int ascent = 0, descent = 0, gap = 0;
        stbtt_GetFontVMetrics(&rasteriser.info, &ascent, &descent, &gap);
        rasteriser.ascentUnits = ascent;
        rasteriser.descentUnits = -descent;
    }

    std::snprintf(font->faceName_, sizeof(font->faceName_), "%s", face != nullptr ? face : "");
    font->height_ = heightPoints;
    font->flags_ = flags;
    font->fontFile_ = path;
    return font;
}

OverlayFont::~OverlayFont() {
    if (g_overlayFont == this) g_overlayFont = nullptr;
    DestroyDeviceObjects();
}

OverlayGlyphRect OverlayFont::Glyph(int32_t c) const {
    if (c < kOverlayFirstChar || c >= kOverlayFirstChar + kOverlayGlyphCount) return {};
    return glyphs_[c - kOverlayFirstChar];
}

// ---------------------------------------------------------------------------
// The glyph atlas
// ---------------------------------------------------------------------------
int32_t OverlayFont::PixelHeight(float scale) const {
    return MulDiv(height_, static_cast<int32_t>(static_cast<float>(kLogPixelsY) * scale), 72);
}

HRESULT OverlayFont::LayOut(float scale, uint32_t width, uint32_t height, std::vector<uint8_t>* coverage) {
    if (rasteriser_ == nullptr) return E_FAIL;
    if (coverage != nullptr && coverage->size() < static_cast<size_t>(width) * height) return E_FAIL;
    const CellMetrics metrics = rasteriser_->Metrics(PixelHeight(scale));
    // Every character is as tall as the line, "x" included.
    spacing_ = (metrics.height * 3 + 9) / 10;

    uint32_t x = spacing_;
    uint32_t y = 0;
    for (int32_t c = kOverlayFirstChar; c < 127; ++c) {
        const uint32_t cw = rasteriser_->Advance(c, metrics);
        const uint32_t ch = metrics.height;
        if (x + cw + spacing_ > width) {
            x = spacing_;
            y += ch + 1;
        }
        if (y + ch > height) return D3DERR_MOREDATA;
        if (coverage != nullptr) {
            const RECT cell = {static_cast<LONG>(x - spacing_), static_cast<LONG>(y),
                               static_cast<LONG>(x + cw + spacing_), static_cast<LONG>(y + ch)};
            rasteriser_->Paint(c, metrics, static_cast<int32_t>(x), static_cast<int32_t>(y + metrics.ascent), cell,
                               width, coverage);
            glyphs_[c - kOverlayFirstChar] = {static_cast<float>(x - spacing_) / static_cast<float>(width),
                                              static_cast<float>(y) / static_cast<float>(height),
                                              static_cast<float>(x + cw + spacing_) / static_cast<float>(width),
                                              static_cast<float>(y + ch) / static_cast<float>(height)};
        }
        x += cw + 2 * spacing_;
    }
    return D3D_OK;
}

void OverlayFont::ChooseAtlasSize(uint32_t maxTextureWidth) {
    textScale_ = 1.0f;
    textureWidth_ = textureHeight_ = kFirstAtlasSize;
    while (LayOut(textScale_, textureWidth_, textureHeight_, nullptr) == D3DERR_MOREDATA) {
        textureWidth_ *= 2;
        textureHeight_ *= 2;
    }
    if (maxTextureWidth == 0 || textureWidth_ <= maxTextureWidth) return;
    // Too wide for the device: the widest texture it takes, and the font
    // made smaller until the alphabet fits in it. A scale small enough
    // leaves no pixels at all, which always fits.
    textScale_ = static_cast<float>(maxTextureWidth) / static_cast<float>(textureWidth_);
    textureWidth_ = textureHeight_ = maxTextureWidth;
    while (LayOut(textScale_, textureWidth_, textureHeight_, nullptr) == D3DERR_MOREDATA) textScale_ *= 0.9f;
}

HRESULT OverlayFont::BuildGlyphTexture(IDirect3DDevice9* device) {
    if (device == nullptr || rasteriser_ == nullptr) return E_FAIL;
    device_ = device;
    if (texture_ != nullptr) {
        texture_->Release();
        texture_ = nullptr;
    }
    D3DCAPS9 caps{};
    HRESULT result = device_->GetDeviceCaps(&caps);
    if (FAILED(result)) return result;
    ChooseAtlasSize(caps.MaxTextureWidth);

    result = device_->CreateTexture(textureWidth_, textureHeight_, 1, 0, D3DFMT_A4R4G4B4, D3DPOOL_MANAGED, &texture_,
                                    nullptr);
    if (FAILED(result)) {
        texture_ = nullptr;
        return result;
    }

    std::vector<uint8_t> coverage(static_cast<size_t>(textureWidth_) * textureHeight_, 0);
    result = LayOut(textScale_, textureWidth_, textureHeight_, &coverage);
    if (FAILED(result)) return E_FAIL;

    D3DLOCKED_RECT locked{};
    result = texture_->LockRect(0, &locked, nullptr, 0);
    if (FAILED(result)) return result;
    for (uint32_t row = 0; row < textureHeight_; ++row) {
        auto* texels = reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(locked.pBits) +
                                                   static_cast<size_t>(row) * static_cast<size_t>(locked.Pitch));
        const uint8_t* source = coverage.data() + static_cast<size_t>(row) * textureWidth_;
        for (uint32_t column = 0; column < textureWidth_; ++column) {
            const auto alpha = static_cast<uint16_t>((source[column] >> 4) & 0xF);
            texels[column] = alpha > 0 ? static_cast<uint16_t>((alpha << 12) | 0x0FFF) : 0;
        }
    }
    return texture_->UnlockRect(0);
}

// ---------------------------------------------------------------------------
// Device objects
// ---------------------------------------------------------------------------
namespace {

// Whether the render target's format blends after the pixel shader.
bool CheckBlending(IDirect3DDevice9* device) {
    bool supported = true;
    IDirect3D9* direct3D = nullptr;
    IDirect3DSurface9* target = nullptr;
    D3DCAPS9 caps{};
    D3DDISPLAYMODE mode{};
    D3DSURFACE_DESC description{};
    if (SUCCEEDED(device->GetDirect3D(&direct3D)) && direct3D != nullptr && SUCCEEDED(device->GetDeviceCaps(&caps)) &&
        SUCCEEDED(device->GetDisplayMode(0, &mode)) && SUCCEEDED(device->GetRenderTarget(0, &target)) &&
        target != nullptr && SUCCEEDED(target->GetDesc(&description))) {
        if (FAILED(direct3D->CheckDeviceFormat(caps.AdapterOrdinal, caps.DeviceType, mode.Format,
                                               D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING | D3DUSAGE_RENDERTARGET,
                                               D3DRTYPE_SURFACE, description.Format))) {
            supported = false;
        }
    }
    if (target != nullptr) target->Release();
    if (direct3D != nullptr) direct3D->Release();
    return supported;
}

void SetTextStates(IDirect3DDevice9* device, IDirect3DTexture9* texture, int32_t flags, bool blending) {
    device->SetTexture(0, texture);
    device->SetRenderState(D3DRS_ZENABLE, (flags & 4) != 0 ? D3DZB_TRUE : D3DZB_FALSE);
    if (blending) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    } else {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    }
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAREF, 0x08);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    device->SetRenderState(D3DRS_CLIPPING, TRUE);
    device->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    device->SetRenderState(D3DRS_VERTEXBLEND, D3DVBF_DISABLE);
    device->SetRenderState(D3DRS_INDEXEDVERTEXBLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);
    device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    device->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    device->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_NONE);
}

}  // namespace

HRESULT OverlayFont::CreateDeviceObjects() {
    if (device_ == nullptr) return E_FAIL;
    if (vertexBuffer_ != nullptr) vertexBuffer_->Release();
    if (savedState_ != nullptr) savedState_->Release();
    if (drawState_ != nullptr) drawState_->Release();
    vertexBuffer_ = nullptr;
    savedState_ = drawState_ = nullptr;

    HRESULT result = device_->CreateVertexBuffer(kOverlayVertexBufferBytes, D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC, 0,
                                                 D3DPOOL_DEFAULT, &vertexBuffer_, nullptr);
    if (FAILED(result)) {
        vertexBuffer_ = nullptr;
        return result;
    }
    blendingSupported_ = CheckBlending(device_);

    // The same states twice: one block captures the caller's values of
    // exactly these states, the other sets them for text.
    for (IDirect3DStateBlock9** block : {&savedState_, &drawState_}) {
        result = device_->BeginStateBlock();
        if (FAILED(result)) return result;
        SetTextStates(device_, texture_, flags_, blendingSupported_);
        result = device_->EndStateBlock(block);
        if (FAILED(result)) return result;
    }
    return D3D_OK;
}

void OverlayFont::DestroyDeviceObjects() {
    if (vertexBuffer_ != nullptr) vertexBuffer_->Release();
    if (savedState_ != nullptr) savedState_->Release();
    if (drawState_ != nullptr) drawState_->Release();
    if (texture_ != nullptr) texture_->Release();
    vertexBuffer_ = nullptr;
    savedState_ = drawState_ = nullptr;
    texture_ = nullptr;
    device_ = nullptr;
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------
float OverlayFont::MeasureText(const char* text) const {
    float width = 0.0f;
    for (const char* at = text; at != nullptr && *at != '\0'; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        if (c < 32 || c > 127) continue;
        const OverlayGlyphRect& glyph = glyphs_[c - kOverlayFirstChar];
        width += (glyph.right - glyph.left) * static_cast<float>(textureWidth_) / textScale_ -
                 2.0f * static_cast<float>(spacing_);
    }
    return width;
}

float OverlayFont::LineHeight() const {
    return (glyphs_[0].bottom - glyphs_[0].top) * static_cast<float>(textureHeight_) / textScale_;
}

HRESULT OverlayFont::DrawText(float x, float y, D3DCOLOR colour, const char* text) {
    if (device_ == nullptr || vertexBuffer_ == nullptr || savedState_ == nullptr || drawState_ == nullptr) {
        return E_FAIL;
    }
    // Nothing to draw: leave the device exactly as it is.
    if (text == nullptr || text[0] == '\0') return D3D_OK;

    savedState_->Capture();
    drawState_->Apply();
    device_->SetFVF(kOverlayTextFvf);
    device_->SetPixelShader(nullptr);
    device_->SetStreamSource(0, vertexBuffer_, 0, sizeof(OverlayTextVertex));

    const float spacing = static_cast<float>(spacing_);
    const float lineStart = x - spacing;
    const float lineHeight = (glyphs_[0].bottom - glyphs_[0].top) * static_cast<float>(textureHeight_);
    float sx = lineStart;

    void* locked = nullptr;
    HRESULT result = vertexBuffer_->Lock(0, 0, &locked, D3DLOCK_DISCARD);
    if (FAILED(result)) {
        savedState_->Apply();
        return result;
    }
    auto* vertices = static_cast<OverlayTextVertex*>(locked);
    UINT triangles = 0;

    for (const char* at = text; *at != '\0'; ++at) {
        const auto c = static_cast<unsigned char>(*at);
        if (c == '\n') {
            sx = lineStart;
            y += lineHeight;
        }
        if (c < 32 || c > 127) continue;

        const OverlayGlyphRect& glyph = glyphs_[c - kOverlayFirstChar];
        const float w = (glyph.right - glyph.left) * static_cast<float>(textureWidth_) / textScale_;
        const float h = (glyph.bottom - glyph.top) * static_cast<float>(textureHeight_) / textScale_;
        if (c != ' ') {
            const float left = sx - 0.5f;
            const float right = sx + w - 0.5f;
            const float top = y - 0.5f;
            const float bottom = y + h - 0.5f;
            OverlayTextVertex* quad = vertices + triangles * 3;
            quad[0] = {left, bottom, 0.9f, 1.0f, colour, glyph.left, glyph.bottom};
            quad[1] = {left, top, 0.9f, 1.0f, colour, glyph.left, glyph.top};
            quad[2] = {right, bottom, 0.9f, 1.0f, colour, glyph.right, glyph.bottom};
            quad[3] = {right, top, 0.9f, 1.0f, colour, glyph.right, glyph.top};
            quad[4] = {right, bottom, 0.9f, 1.0f, colour, glyph.right, glyph.bottom};
            quad[5] = {left, top, 0.9f, 1.0f, colour, glyph.left, glyph.top};
            triangles += 2;
            if (triangles * 3 > static_cast<UINT>(kOverlayFlushVertices)) {
                vertexBuffer_->Unlock();
                device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
                triangles = 0;
                result = vertexBuffer_->Lock(0, 0, &locked, D3DLOCK_DISCARD);
                if (FAILED(result)) {
                    savedState_->Apply();
                    return result;
                }
                vertices = static_cast<OverlayTextVertex*>(locked);
            }
        }
        sx += w - 2.0f * spacing;
    }

    vertexBuffer_->Unlock();
    if (triangles > 0) device_->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
    savedState_->Apply();
    return D3D_OK;
}

// ---------------------------------------------------------------------------
// Overlay text and lines
// ---------------------------------------------------------------------------
void SetOverlayFont(OverlayFont* font) { g_overlayFont = font; }
OverlayFont* GetOverlayFont() { return g_overlayFont; }

void DrawOverlayText(float x, float y, D3DCOLOR colour, const char* format, ...) {
    if (GetVideoSystem() == nullptr || g_overlayFont == nullptr || format == nullptr) return;
    char text[260];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    g_overlayFont->DrawText(x, y, colour, text);
}

void SetOverlayDemoSource(OverlayDemoSource source) { g_demoSource = source; }

int32_t WholeUnits(float value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0f) return INT32_MAX;  // the float just above the largest int32
    if (value <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(value);
}

int FillOverlayLines(const char* effectLabel, OverlayText (&lines)[kMaxOverlayLines]) {
    constexpr D3DCOLOR kWhite = 0xFFFFFFFF;
    constexpr D3DCOLOR kMark = 0x64A0A0A0;
    constexpr D3DCOLOR kDemo = 0xFF64FFFF;
    const int32_t width = g_operatingSystem.WindowWidth();
    const int32_t height = g_operatingSystem.WindowHeight();
    const float centreX = static_cast<float>(width / 2);
    const float centreY = static_cast<float>(height / 2);
    const D3DXVECTOR3& position = g_camera.GetPosition();
    // Kept between frames: the source assigns into strings that already
    // have their storage.
    static OverlayDemoState demo;
    demo.mode = 0;
    demo.exists = false;
    demo.unsavedFlag = 0;
    if (g_demoSource != nullptr) g_demoSource(&demo);

    int count = 0;
    const auto add = [&lines, &count](float x, float y, D3DCOLOR colour, const char* pattern, auto... values) {
        OverlayText& line = lines[count++];
        line.x = x;
        line.y = y;
        line.colour = colour;
        std::snprintf(line.text, sizeof line.text, pattern, values...);
    };
    add(10, 110, kWhite, "%s", effectLabel != nullptr ? effectLabel : "");
    add(10, 10, kWhite, "%s", "Project Osprel");
    add(static_cast<float>(width - 160), 10, kWhite, "FPS: %i",
        static_cast<int32_t>(g_operatingSystem.FramesPerSecond()));
    add(10, 30, kWhite, "Cam: %i %i %i", WholeUnits(position.x), WholeUnits(position.y), WholeUnits(position.z));
    add(10, 50, kWhite, "Screen: %ix%i", width, height);
    add(10, 70, kWhite, "Multisample: %ix", vid_multisample.intValue);
    add(centreX, centreY, kMark, "%s", "+");
    if (demo.mode == 1) {
        add(centreX - 140, centreY - 50, kMark, "%s", "Recording Demo");
    } else if (demo.mode == 2) {
        add(centreX, centreY, kMark, "%s", "Playing Demo");
    }
    if (demo.exists) {
        add(10, 130, kDemo, "Demo name: %s", demo.name.c_str());
        add(10, 150, kDemo, "Demo file: %s", demo.worldPath.c_str());
        if (demo.unsavedFlag == 0) {
            add(10, 170, kDemo, "%s", "Demo attrib: saved");
        } else if (demo.unsavedFlag == 1) {
            add(10, 170, kDemo, "%s", "Demo attrib: unsaved");
        }
    }
    return count;
}

std::vector<OverlayLine> BuildOverlayLines(const char* effectLabel) {
    OverlayText texts[kMaxOverlayLines];
    const int count = FillOverlayLines(effectLabel, texts);
    std::vector<OverlayLine> lines;
    for (int i = 0; i < count; ++i) lines.push_back({texts[i].x, texts[i].y, texts[i].colour, texts[i].text});
    return lines;
}

void DrawOverlay(const char* effectLabel) {
    if (GetVideoSystem() == nullptr) return;
    static OverlayText lines[kMaxOverlayLines];
    const int count = FillOverlayLines(effectLabel, lines);
    for (int i = 0; i < count; ++i) DrawOverlayText(lines[i].x, lines[i].y, lines[i].colour, "%s", lines[i].text);
}
