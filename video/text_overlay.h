// The text overlay: a bitmap font built once from a system font face into a
// 4-bit-alpha glyph atlas, strings drawn as pre-transformed textured quads,
// and the heads-up lines every rendered frame ends with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "video/d3d9/d3d9.h"

// The vertex text is drawn with: screen position in pixels, colour, atlas
// coordinate. 28 bytes, FVF 0x144.
struct OverlayTextVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
static_assert(sizeof(OverlayTextVertex) == 28, "the text vertex is 28 bytes");

constexpr DWORD kOverlayTextFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
static_assert(kOverlayTextFvf == 0x144, "the text vertex's flexible format");

// Room for 300 vertices of up to 32 bytes; a batch is drawn as soon as more
// than 294 vertices (49 glyphs) are pending, so 50 glyphs fill it.
constexpr UINT kOverlayVertexBufferBytes = 9600;
constexpr int32_t kOverlayFlushVertices = 294;

// Characters 32 to 127 have an entry in the glyph table.
constexpr int32_t kOverlayFirstChar = 32;
constexpr int32_t kOverlayGlyphCount = 96;

// A glyph's cell in atlas coordinates (0..1), margins included.
struct OverlayGlyphRect {
    float left, top, right, bottom;
};

class OverlayFont {
public:
    // Face, height in points, style flags (0 in this engine). Null when the
    // face cannot be resolved to a font file or the file cannot be read.
    static std::unique_ptr<OverlayFont> Create(const char* face, int32_t heightPoints, int32_t flags);
    // The same from an explicit font file, for tests and tools; null when
    // the file cannot be read or is not a font.
    static std::unique_ptr<OverlayFont> CreateFromFile(const char* path, const char* face, int32_t heightPoints,
                                                       int32_t flags);
    ~OverlayFont();

    OverlayFont(const OverlayFont&) = delete;
    OverlayFont& operator=(const OverlayFont&) = delete;

    // Keeps the device and builds the glyph atlas; 0 or a failure code.
    HRESULT BuildGlyphTexture(IDirect3DDevice9* device);
    // The vertex buffer and the two state blocks; 0 or the vertex buffer's
    // failure code.
    HRESULT CreateDeviceObjects();
    // Releases vertex buffer, state blocks and atlas and forgets the device.
    void DestroyDeviceObjects();
    // Draws text as given at pixel (x, y); the caller's states are restored.
    HRESULT DrawText(float x, float y, D3DCOLOR colour, const char* text);

    const char* FaceName() const { return faceName_; }
    int32_t Height() const { return height_; }
    int32_t Flags() const { return flags_; }
    const std::string& FontFile() const { return fontFile_; }
    IDirect3DTexture9* Texture() const { return texture_; }
    uint32_t TextureWidth() const { return textureWidth_; }
    uint32_t TextureHeight() const { return textureHeight_; }
    float TextScale() const { return textScale_; }
    uint32_t Spacing() const { return spacing_; }
    // How far DrawText's pen moves over the text (one line, in pixels), and
    // the height of a line.
    float MeasureText(const char* text) const;
    float LineHeight() const;
    // The cell of character c (32..127); all zero for characters outside.
    OverlayGlyphRect Glyph(int32_t c) const;
    // Whether alpha blending was found usable on the render target.
    bool BlendingSupported() const { return blendingSupported_; }

    // Rasteriser pixel height for a scale: the point height at 96 dpi.
    int32_t PixelHeight(float scale) const;
    // Lays the alphabet out at the given scale into a width x height atlas:
    // 0 when it fits, D3DERR_MOREDATA when it does not. With a coverage
    // sheet (width x height bytes) the glyphs are painted into it and the
    // glyph table is filled.
    HRESULT LayOut(float scale, uint32_t width, uint32_t height, std::vector<uint8_t>* coverage);
    // Picks the atlas size and text scale: doubling from 128 x 128 until the
    // alphabet fits, then, past the widest texture the device takes, the
    // largest scale (in steps of 0.9) that fits at that width.
    void ChooseAtlasSize(uint32_t maxTextureWidth);
    IDirect3DVertexBuffer9* VertexBuffer() const { return vertexBuffer_; }

private:
    OverlayFont() = default;
    // faceIndex picks a face inside a font collection.
    static std::unique_ptr<OverlayFont> Open(const char* path, int32_t faceIndex, const char* face,
                                             int32_t heightPoints, int32_t flags);

    char faceName_[80] = {};
    int32_t height_ = 0;
    int32_t flags_ = 0;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DTexture9* texture_ = nullptr;
    IDirect3DVertexBuffer9* vertexBuffer_ = nullptr;
    uint32_t textureWidth_ = 0;
    uint32_t textureHeight_ = 0;
    float textScale_ = 1.0f;
    OverlayGlyphRect glyphs_[kOverlayGlyphCount] = {};
    uint32_t spacing_ = 0;
    IDirect3DStateBlock9* savedState_ = nullptr;
    IDirect3DStateBlock9* drawState_ = nullptr;
    bool blendingSupported_ = true;

    std::string fontFile_;
    std::vector<uint8_t> fontData_;
    struct Rasteriser;
    std::unique_ptr<Rasteriser> rasteriser_;
};

// The font overlay text goes through; the video subsystem sets it once its
// font is built and clears it before destroying the font.
void SetOverlayFont(OverlayFont* font);
OverlayFont* GetOverlayFont();

// Formats (at most 259 characters) and draws through the video subsystem's
// font; nothing while the video subsystem is not initialised.
void DrawOverlayText(float x, float y, D3DCOLOR colour, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// The demo state the overlay shows; the demo subsystem installs a source.
// Until then there is no demo and the mode is 0.
struct OverlayDemoState {
    int32_t mode = 0;  // 1 recording, 2 playing
    bool exists = false;
    std::string name;
    std::string worldPath;
    int32_t unsavedFlag = 0;
};
// The source fills the state it is given; the overlay keeps one state for
// all frames, so assigning its strings reuses their storage.
using OverlayDemoSource = void (*)(OverlayDemoState* state);
void SetOverlayDemoSource(OverlayDemoSource source);

// One overlay line: where, in which colour, what.
struct OverlayLine {
    float x, y;
    D3DCOLOR colour;
    std::string text;
};
// The same line with its text in place, as the frame draws it.
struct OverlayText {
    float x, y;
    D3DCOLOR colour;
    char text[260];
};
constexpr int kMaxOverlayLines = 11;
// Fills lines with this frame's overlay lines, in drawing order, without
// allocating; returns how many there are.
int FillOverlayLines(const char* effectLabel, OverlayText (&lines)[kMaxOverlayLines]);
// The overlay lines of this frame, in drawing order.
std::vector<OverlayLine> BuildOverlayLines(const char* effectLabel);
// A camera coordinate as the whole units the overlay prints: truncated,
// held to the int32 range, and 0 for a value that is not a number.
int32_t WholeUnits(float value);
// The eleven overlay lines, in their order, with the render path's label.
void DrawOverlay(const char* effectLabel);
