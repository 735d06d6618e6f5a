// The overlay font on a headless device: the glyph atlas, the quads a string
// becomes, the draw batches, the states it leaves behind, and the overlay's
// lines.
#include "video/text_overlay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "console/command_interpreter.h"
#include "d3d9_test_support.h"
#include "engine/demo.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/video_cvars.h"
#include "video/video_system.h"

namespace {

std::vector<std::string> DrawCalls(const std::vector<std::string>& trace) {
    std::vector<std::string> draws;
    for (const std::string& line : trace) {
        if (line.rfind("DrawPrimitive(", 0) == 0) draws.push_back(line);
    }
    return draws;
}

std::vector<std::string> Errors(const std::vector<std::string>& trace) {
    std::vector<std::string> errors;
    for (const std::string& line : trace) {
        if (line.rfind("error:", 0) == 0) errors.push_back(line);
    }
    return errors;
}

class OverlayFontTest : public D3D9DeviceTest {
protected:
    void SetUp() override {
        D3D9DeviceTest::SetUp();
        font_ = OverlayFont::Create("Courier New", 10, 0);
        ASSERT_NE(font_, nullptr);
        ASSERT_EQ(font_->BuildGlyphTexture(device_), D3D_OK);
        D3D9SetTrace(device_, &trace_);
        ASSERT_EQ(font_->CreateDeviceObjects(), D3D_OK);
        D3D9SetTrace(device_, nullptr);
        ASSERT_EQ(Errors(trace_), std::vector<std::string>{});
        trace_.clear();
    }
    void TearDown() override {
        D3D9SetTrace(device_, nullptr);
        font_.reset();
        D3D9DeviceTest::TearDown();
    }

    // Draws text and returns the vertices of the last batch.
    std::vector<OverlayTextVertex> DrawAndCollect(float x, float y, D3DCOLOR colour, const char* text) {
        D3D9SetTrace(device_, &trace_);
        EXPECT_EQ(font_->DrawText(x, y, colour, text), D3D_OK);
        D3D9SetTrace(device_, nullptr);
        const std::vector<std::string> draws = DrawCalls(trace_);
        std::vector<OverlayTextVertex> vertices;
        if (draws.empty()) return vertices;
        unsigned triangles = 0;
        EXPECT_EQ(std::sscanf(draws.back().c_str(), "DrawPrimitive(D3DPT_TRIANGLELIST, 0, %u)", &triangles), 1)
            << draws.back();
        void* data = nullptr;
        EXPECT_EQ(font_->VertexBuffer()->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
        const auto* first = static_cast<const OverlayTextVertex*>(data);
        vertices.assign(first, first + triangles * 3);
        font_->VertexBuffer()->Unlock();
        return vertices;
    }

    float CellWidth(char c) const {
        const OverlayGlyphRect glyph = font_->Glyph(c);
        return (glyph.right - glyph.left) * static_cast<float>(font_->TextureWidth()) / font_->TextScale();
    }
    float CellHeight(char c) const {
        const OverlayGlyphRect glyph = font_->Glyph(c);
        return (glyph.bottom - glyph.top) * static_cast<float>(font_->TextureHeight()) / font_->TextScale();
    }

    std::unique_ptr<OverlayFont> font_;
    std::vector<std::string> trace_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Font files
// ---------------------------------------------------------------------------
TEST(OverlayFontFile, CourierNewResolvesToAReadableFace) {
    std::unique_ptr<OverlayFont> font = OverlayFont::Create("Courier New", 10, 0);
    ASSERT_NE(font, nullptr);
    EXPECT_FALSE(font->FontFile().empty());
    EXPECT_STREQ(font->FaceName(), "Courier New");
    EXPECT_EQ(font->Height(), 10);
    // 10 points at 96 dpi.
    EXPECT_EQ(font->PixelHeight(1.0f), 13);
    EXPECT_EQ(font->PixelHeight(0.5f), 7);

    // Any face name gets some font, as fontconfig always matches; the
    // stored name keeps 79 characters.
    const std::string longName(120, 'q');
    std::unique_ptr<OverlayFont> other = OverlayFont::Create(longName.c_str(), 10, 0);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(std::string(other->FaceName()), longName.substr(0, 79));
}

TEST(OverlayFontFile, MissingOrDamagedFilesGiveNoFont) {
    EXPECT_EQ(OverlayFont::CreateFromFile("/nonexistent/osprel/font.ttf", "x", 10, 0), nullptr);
    EXPECT_EQ(OverlayFont::CreateFromFile(nullptr, "x", 10, 0), nullptr);

    std::unique_ptr<OverlayFont> real = OverlayFont::Create("Courier New", 10, 0);
    ASSERT_NE(real, nullptr);
    std::ifstream stream(real->FontFile(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 1000u);

    ScratchFolder folder;
    folder.Write("empty.ttf", "");
    folder.Write("text.ttf", "this is not a font file, only some words in it");
    // The table directory survives, the tables it points at do not.
    folder.Write("cut.ttf", bytes.substr(0, 400));
    folder.Write("whole.ttf", bytes);
    EXPECT_EQ(OverlayFont::CreateFromFile("empty.ttf", "x", 10, 0), nullptr);
    EXPECT_EQ(OverlayFont::CreateFromFile("text.ttf", "x", 10, 0), nullptr);
    EXPECT_EQ(OverlayFont::CreateFromFile("cut.ttf", "x", 10, 0), nullptr);
    EXPECT_NE(OverlayFont::CreateFromFile("whole.ttf", "x", 10, 0), nullptr);
}

// ---------------------------------------------------------------------------
// The atlas
// ---------------------------------------------------------------------------
TEST_F(OverlayFontTest, AtlasIsTheSmallestSquareThatHoldsTheAlphabet) {
    const uint32_t size = font_->TextureWidth();
    EXPECT_EQ(font_->TextureHeight(), size);
    EXPECT_GE(size, 128u);
    EXPECT_EQ(size & (size - 1), 0u);
    EXPECT_FLOAT_EQ(font_->TextScale(), 1.0f);
    EXPECT_EQ(font_->LayOut(1.0f, size, size, nullptr), D3D_OK);
    if (size > 128) {
        EXPECT_EQ(font_->LayOut(1.0f, size / 2, size / 2, nullptr), D3DERR_MOREDATA);
    }

    D3DSURFACE_DESC description{};
    ASSERT_EQ(font_->Texture()->GetLevelDesc(0, &description), D3D_OK);
    EXPECT_EQ(description.Format, D3DFMT_A4R4G4B4);
    EXPECT_EQ(description.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(description.Width, size);
    EXPECT_EQ(font_->Texture()->GetLevelCount(), 1u);
}

TEST_F(OverlayFontTest, GlyphCellsAreMonospacedDisjointAndInside) {
    // A 13-pixel Courier: cells a line tall (about 15 pixels) with a margin of
    // 3/10 of that on either side of an 8-pixel advance.
    const float lineHeight = CellHeight('x');
    EXPECT_GE(lineHeight, 14.0f);
    EXPECT_LE(lineHeight, 16.0f);
    EXPECT_EQ(font_->Spacing(), static_cast<uint32_t>(std::ceil(lineHeight * 0.3f - 1e-4f)));
    EXPECT_FLOAT_EQ(CellWidth('x') - 2.0f * static_cast<float>(font_->Spacing()), 8.0f);

    for (int c = 32; c <= 126; ++c) {
        const OverlayGlyphRect a = font_->Glyph(c);
        EXPECT_GE(a.left, 0.0f) << c;
        EXPECT_GE(a.top, 0.0f) << c;
        EXPECT_LE(a.right, 1.0f) << c;
        EXPECT_LE(a.bottom, 1.0f) << c;
        EXPECT_FLOAT_EQ(CellWidth(static_cast<char>(c)), CellWidth('x')) << c;
        EXPECT_FLOAT_EQ(CellHeight(static_cast<char>(c)), lineHeight) << c;
        for (int d = c + 1; d <= 126; ++d) {
            const OverlayGlyphRect b = font_->Glyph(d);
            const bool apart = a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top;
            EXPECT_TRUE(apart) << c << " and " << d << " overlap";
        }
    }
    // The first cell starts at the left edge; 127 has no cell.
    EXPECT_FLOAT_EQ(font_->Glyph(' ').left, 0.0f);
    EXPECT_FLOAT_EQ(font_->Glyph(' ').top, 0.0f);
    const OverlayGlyphRect del = font_->Glyph(127);
    EXPECT_EQ(del.right - del.left, 0.0f);
}

TEST_F(OverlayFontTest, AtlasTexelsAreWhiteWithFourBitAlphaInsideTheCells) {
    const uint32_t size = font_->TextureWidth();
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(font_->Texture()->LockRect(0, &locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    int inked = 0;
    int opaque = 0;
    for (uint32_t y = 0; y < size; ++y) {
        const auto* row = reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch);
        for (uint32_t x = 0; x < size; ++x) {
            const uint16_t texel = row[x];
            if (texel == 0) continue;
            ASSERT_EQ(texel & 0x0FFF, 0x0FFF) << x << "," << y;
            ++inked;
            opaque += (texel >> 12) == 0xF ? 1 : 0;
            // Ink only inside a visible character's cell.
            const float u = (static_cast<float>(x) + 0.5f) / static_cast<float>(size);
            const float v = (static_cast<float>(y) + 0.5f) / static_cast<float>(size);
            bool inside = false;
            for (int c = 33; c <= 126 && !inside; ++c) {
                const OverlayGlyphRect g = font_->Glyph(c);
                inside = u >= g.left && u < g.right && v >= g.top && v < g.bottom;
            }
            ASSERT_TRUE(inside) << x << "," << y;
        }
    }
    font_->Texture()->UnlockRect(0);
    EXPECT_GT(inked, 500);
    EXPECT_GT(opaque, 100);
    EXPECT_LT(opaque, inked);  // antialiased edges
}

TEST(OverlayFontAtlas, ShrinksToTheWidestTextureTheDeviceTakes) {
    std::unique_ptr<OverlayFont> font = OverlayFont::Create("Courier New", 48, 0);
    ASSERT_NE(font, nullptr);
    font->ChooseAtlasSize(8192);
    EXPECT_FLOAT_EQ(font->TextScale(), 1.0f);
    const uint32_t natural = font->TextureWidth();
    ASSERT_GT(natural, 256u);

    font->ChooseAtlasSize(256);
    EXPECT_EQ(font->TextureWidth(), 256u);
    EXPECT_EQ(font->TextureHeight(), 256u);
    const float scale = font->TextScale();
    EXPECT_LT(scale, 256.0f / static_cast<float>(natural) + 1e-6f);
    EXPECT_EQ(font->LayOut(scale, 256, 256, nullptr), D3D_OK);
    // The first scale is max / natural width, then steps of 0.9: one step
    // less would not have fitted.
    if (scale < 256.0f / static_cast<float>(natural) - 1e-6f) {
        EXPECT_EQ(font->LayOut(scale / 0.9f, 256, 256, nullptr), D3DERR_MOREDATA);
    }
    EXPECT_LT(font->PixelHeight(scale), font->PixelHeight(1.0f));
}

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------
TEST_F(OverlayFontTest, EmptyStringDrawsNothingAndTouchesNoState) {
    D3D9SetTrace(device_, &trace_);
    EXPECT_EQ(font_->DrawText(5, 5, 0xFFFFFFFF, ""), D3D_OK);
    EXPECT_EQ(font_->DrawText(5, 5, 0xFFFFFFFF, nullptr), D3D_OK);
    D3D9SetTrace(device_, nullptr);
    EXPECT_EQ(trace_, std::vector<std::string>{});
}

TEST_F(OverlayFontTest, QuadGeometryAndPen) {
    const float spacing = static_cast<float>(font_->Spacing());
    const float w = CellWidth('a');
    const float h = CellHeight('a');
    const std::vector<OverlayTextVertex> v = DrawAndCollect(10.0f, 20.0f, 0x80FF0000, "ab");
    ASSERT_EQ(v.size(), 12u);
    const OverlayGlyphRect a = font_->Glyph('a');
    const float sx = 10.0f - spacing;
    const OverlayTextVertex expected[6] = {
        {sx - 0.5f, 20.0f + h - 0.5f, 0.9f, 1.0f, 0x80FF0000, a.left, a.bottom},
        {sx - 0.5f, 20.0f - 0.5f, 0.9f, 1.0f, 0x80FF0000, a.left, a.top},
        {sx + w - 0.5f, 20.0f + h - 0.5f, 0.9f, 1.0f, 0x80FF0000, a.right, a.bottom},
        {sx + w - 0.5f, 20.0f - 0.5f, 0.9f, 1.0f, 0x80FF0000, a.right, a.top},
        {sx + w - 0.5f, 20.0f + h - 0.5f, 0.9f, 1.0f, 0x80FF0000, a.right, a.bottom},
        {sx - 0.5f, 20.0f - 0.5f, 0.9f, 1.0f, 0x80FF0000, a.left, a.top},
    };
    for (int i = 0; i < 6; ++i) {
        EXPECT_FLOAT_EQ(v[i].x, expected[i].x) << i;
        EXPECT_FLOAT_EQ(v[i].y, expected[i].y) << i;
        EXPECT_FLOAT_EQ(v[i].z, 0.9f) << i;
        EXPECT_FLOAT_EQ(v[i].rhw, 1.0f) << i;
        EXPECT_EQ(v[i].colour, 0x80FF0000u) << i;
        EXPECT_FLOAT_EQ(v[i].u, expected[i].u) << i;
        EXPECT_FLOAT_EQ(v[i].v, expected[i].v) << i;
    }
    // b follows one advance (cell less both margins) later, on the same row.
    EXPECT_FLOAT_EQ(v[6].x, v[0].x + w - 2.0f * spacing);
    EXPECT_FLOAT_EQ(v[6].y, v[0].y);
    EXPECT_FLOAT_EQ(v[6].u, font_->Glyph('b').left);
}

TEST_F(OverlayFontTest, BlanksAdvanceWithoutQuadsAndLineFeedsReturnToTheLineStart) {
    const float advance = CellWidth('a') - 2.0f * static_cast<float>(font_->Spacing());
    std::vector<OverlayTextVertex> v = DrawAndCollect(10.0f, 20.0f, 0xFFFFFFFF, "a  b");
    ASSERT_EQ(v.size(), 12u);
    EXPECT_FLOAT_EQ(v[6].x, v[0].x + 3.0f * advance);

    trace_.clear();
    v = DrawAndCollect(10.0f, 20.0f, 0xFFFFFFFF, "ab\nb");
    ASSERT_EQ(v.size(), 18u);
    EXPECT_FLOAT_EQ(v[12].x, v[0].x);
    EXPECT_FLOAT_EQ(v[12].y, v[0].y + CellHeight(' '));

    // Control characters and bytes past 127 are skipped without moving the pen.
    trace_.clear();
    v = DrawAndCollect(10.0f, 20.0f, 0xFFFFFFFF, "a\x01\t\xC3\xA9" "b");
    ASSERT_EQ(v.size(), 12u);
    EXPECT_FLOAT_EQ(v[6].x, v[0].x + advance);
}

TEST_F(OverlayFontTest, FiftyGlyphsFillOneBatch) {
    const std::string sixty(60, 'W');
    DrawAndCollect(0, 0, 0xFFFFFFFF, sixty.c_str());
    EXPECT_EQ(DrawCalls(trace_), (std::vector<std::string>{"DrawPrimitive(D3DPT_TRIANGLELIST, 0, 100)",
                                                           "DrawPrimitive(D3DPT_TRIANGLELIST, 0, 20)"}));
    EXPECT_EQ(Errors(trace_), std::vector<std::string>{});

    trace_.clear();
    const std::string fortyNine(49, 'W');
    DrawAndCollect(0, 0, 0xFFFFFFFF, (fortyNine + "      ").c_str());
    EXPECT_EQ(DrawCalls(trace_), std::vector<std::string>{"DrawPrimitive(D3DPT_TRIANGLELIST, 0, 98)"});

    trace_.clear();
    DrawAndCollect(0, 0, 0xFFFFFFFF, "   ");
    EXPECT_EQ(DrawCalls(trace_), std::vector<std::string>{});
}

TEST_F(OverlayFontTest, CallersStatesComeBack) {
    IDirect3DTexture9* texture = MakeTexture(1, 1, {0xFF102030});
    device_->SetTexture(0, texture);
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
    device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
    device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);

    const D3DRENDERSTATETYPE renderStates[] = {D3DRS_ZENABLE,   D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND,
                                               D3DRS_DESTBLEND, D3DRS_ALPHATESTENABLE,  D3DRS_ALPHAREF,
                                               D3DRS_ALPHAFUNC, D3DRS_CULLMODE,         D3DRS_FILLMODE,
                                               D3DRS_FOGENABLE, D3DRS_COLORWRITEENABLE};
    const auto snapshot = [&] {
        std::vector<DWORD> values;
        DWORD value = 0;
        for (D3DRENDERSTATETYPE state : renderStates) {
            device_->GetRenderState(state, &value);
            values.push_back(value);
        }
        for (DWORD stage = 0; stage < 2; ++stage) {
            for (D3DTEXTURESTAGESTATETYPE state : {D3DTSS_COLOROP, D3DTSS_COLORARG1, D3DTSS_COLORARG2, D3DTSS_ALPHAOP,
                                                   D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2}) {
                device_->GetTextureStageState(stage, state, &value);
                values.push_back(value);
            }
        }
        for (D3DSAMPLERSTATETYPE state : {D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER}) {
            device_->GetSamplerState(0, state, &value);
            values.push_back(value);
        }
        IDirect3DBaseTexture9* bound = nullptr;
        device_->GetTexture(0, &bound);
        values.push_back(bound == texture ? 1u : 0u);
        if (bound != nullptr) bound->Release();
        return values;
    };
    const std::vector<DWORD> before = snapshot();
    DrawAndCollect(3, 3, 0xFFFFFFFF, "state");
    EXPECT_EQ(DrawCalls(trace_).size(), 1u);
    EXPECT_EQ(Errors(trace_), std::vector<std::string>{});
    EXPECT_EQ(snapshot(), before);
    texture->Release();
}

TEST_F(OverlayFontTest, TextShowsWhereItIsDrawnInItsColour) {
    device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(device_->BeginScene(), D3D_OK);
    // The caller's depth test and culling must not hide text.
    device_->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device_->SetRenderState(D3DRS_ZFUNC, D3DCMP_NEVER);
    ASSERT_EQ(font_->DrawText(10.0f, 10.0f, 0xFFFFFFFF, "##"), D3D_OK);
    ASSERT_EQ(font_->DrawText(10.0f, 40.0f, 0xFFFF0000, "#"), D3D_OK);
    ASSERT_EQ(device_->EndScene(), D3D_OK);
    const std::vector<uint32_t> pixels = ReadBack();

    const int advance = static_cast<int>(CellWidth('#')) - 2 * static_cast<int>(font_->Spacing());
    const int lineHeight = static_cast<int>(CellHeight('#'));
    int white = 0;
    int red = 0;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const uint32_t pixel = pixels[static_cast<size_t>(y) * kSize + x] & 0xFFFFFF;
            if (pixel == 0) continue;
            const bool firstLine = y >= 10 && y < 10 + lineHeight && x >= 9 && x <= 10 + 2 * advance;
            const bool secondLine = y >= 40 && y < 40 + lineHeight && x >= 9 && x <= 10 + advance;
            ASSERT_TRUE(firstLine || secondLine) << "ink at " << x << "," << y;
            const uint32_t r = pixel >> 16, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
            if (firstLine) {
                EXPECT_TRUE(r == g && g == b) << std::hex << pixel;
                white += r >= 0x80 ? 1 : 0;
            } else {
                EXPECT_EQ(g | b, 0u) << std::hex << pixel;
                red += r >= 0x80 ? 1 : 0;
            }
        }
    }
    // Antialiased strokes about a pixel wide: at least half the ink is strong.
    EXPECT_GT(white, 20);
    EXPECT_GT(red, 10);
}

TEST(OverlayFontDevice, WithoutADeviceNothingIsDrawn) {
    std::unique_ptr<OverlayFont> font = OverlayFont::Create("Courier New", 10, 0);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->DrawText(0, 0, 0xFFFFFFFF, "text"), E_FAIL);
    EXPECT_EQ(font->CreateDeviceObjects(), E_FAIL);
    EXPECT_EQ(font->BuildGlyphTexture(nullptr), E_FAIL);
}

// ---------------------------------------------------------------------------
// The overlay lines
// ---------------------------------------------------------------------------
namespace {

OverlayDemoState g_testDemo;
void TestDemo(OverlayDemoState* state) { *state = g_testDemo; }

struct OverlayDemoSourceReset {
    ~OverlayDemoSourceReset() { SetOverlayDemoSource(nullptr); }
};

std::vector<std::string> Texts(const std::vector<OverlayLine>& lines) {
    std::vector<std::string> texts;
    for (const OverlayLine& line : lines) texts.push_back(line.text);
    return texts;
}

const OverlayLine* FindLine(const std::vector<OverlayLine>& lines, const std::string& text) {
    for (const OverlayLine& line : lines) {
        if (line.text == text) return &line;
    }
    return nullptr;
}

}  // namespace

TEST(OverlayLines, WithoutADemo) {
    ResetDemoState();
    HeadlessWindow window(801, 601);
    g_camera.SetPosition(D3DXVECTOR3(12.9f, -3.7f, 100.2f));
    const int32_t multisample = vid_multisample.intValue;
    vid_multisample.intValue = 4;
    const std::vector<OverlayLine> lines = BuildOverlayLines("Render Effect: None");
    vid_multisample.intValue = multisample;

    const std::string fps = "FPS: " + std::to_string(static_cast<int>(g_operatingSystem.FramesPerSecond()));
    ASSERT_EQ(Texts(lines), (std::vector<std::string>{"Render Effect: None", "Project Osprel", fps,
                                                       "Cam: 12 -3 100", "Screen: 801x601", "Multisample: 4x", "+"}));
    const float where[7][2] = {{10, 110}, {10, 10}, {801 - 160, 10}, {10, 30}, {10, 50}, {10, 70}, {400, 300}};
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_FLOAT_EQ(lines[i].x, where[i][0]) << lines[i].text;
        EXPECT_FLOAT_EQ(lines[i].y, where[i][1]) << lines[i].text;
        EXPECT_EQ(lines[i].colour, i == 6 ? 0x64A0A0A0u : 0xFFFFFFFFu) << lines[i].text;
    }
}

TEST(OverlayLines, CameraCoordinatesBeyondAnyIntegerStillPrint) {
    EXPECT_EQ(WholeUnits(12.9f), 12);
    EXPECT_EQ(WholeUnits(-3.7f), -3);
    EXPECT_EQ(WholeUnits(3.0e9f), INT32_MAX);
    EXPECT_EQ(WholeUnits(2147483648.0f), INT32_MAX);
    EXPECT_EQ(WholeUnits(2147483520.0f), 2147483520);  // the largest float below 2^31
    EXPECT_EQ(WholeUnits(-2147483648.0f), INT32_MIN);
    EXPECT_EQ(WholeUnits(-1.0e30f), INT32_MIN);
    EXPECT_EQ(WholeUnits(std::numeric_limits<float>::infinity()), INT32_MAX);
    EXPECT_EQ(WholeUnits(std::numeric_limits<float>::quiet_NaN()), 0);

    ResetDemoState();
    HeadlessWindow window(800, 600);
    const D3DXVECTOR3 before = g_camera.GetPosition();
    ExecuteLine("v_setpos 3e9 -3e9 nan");
    const std::vector<std::string> texts = Texts(BuildOverlayLines("x"));
    g_camera.SetPosition(before);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Cam: 2147483647 -2147483648 0"), texts.end())
        << ::testing::PrintToString(texts);
}

TEST(OverlayLines, DemoStateLines) {
    HeadlessWindow window(800, 600);
    OverlayDemoSourceReset reset;
    SetOverlayDemoSource(TestDemo);

    g_testDemo = OverlayDemoState{};
    g_testDemo.mode = 1;
    std::vector<OverlayLine> lines = BuildOverlayLines("x");
    ASSERT_NE(FindLine(lines, "Recording Demo"), nullptr);
    EXPECT_FLOAT_EQ(FindLine(lines, "Recording Demo")->x, 400 - 140);
    EXPECT_FLOAT_EQ(FindLine(lines, "Recording Demo")->y, 300 - 50);
    EXPECT_EQ(FindLine(lines, "Recording Demo")->colour, 0x64A0A0A0u);
    EXPECT_EQ(lines.size(), 8u);  // no demo: no name, file or attribute line

    g_testDemo.mode = 2;
    g_testDemo.exists = true;
    g_testDemo.name = "demo001";
    g_testDemo.worldPath = "maps\\arena.lmf";
    g_testDemo.unsavedFlag = 0;
    lines = BuildOverlayLines("x");
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(Texts(lines).back(), "Demo attrib: saved");
    ASSERT_NE(FindLine(lines, "Playing Demo"), nullptr);
    EXPECT_FLOAT_EQ(FindLine(lines, "Playing Demo")->x, 400);
    EXPECT_FLOAT_EQ(FindLine(lines, "Playing Demo")->y, 300);
    const char* demoLines[] = {"Demo name: demo001", "Demo file: maps\\arena.lmf", "Demo attrib: saved"};
    for (int i = 0; i < 3; ++i) {
        const OverlayLine* line = FindLine(lines, demoLines[i]);
        ASSERT_NE(line, nullptr) << demoLines[i];
        EXPECT_FLOAT_EQ(line->x, 10);
        EXPECT_FLOAT_EQ(line->y, 130.0f + 20.0f * static_cast<float>(i));
        EXPECT_EQ(line->colour, 0xFF64FFFFu);
    }

    g_testDemo.mode = 3;
    g_testDemo.unsavedFlag = 1;
    lines = BuildOverlayLines("x");
    EXPECT_EQ(lines.size(), 10u);  // mode 3 has no line
    EXPECT_EQ(Texts(lines).back(), "Demo attrib: unsaved");

    g_testDemo.unsavedFlag = 2;
    lines = BuildOverlayLines("x");
    EXPECT_EQ(Texts(lines).back(), "Demo file: maps\\arena.lmf");
    EXPECT_EQ(FindLine(lines, "Demo attrib: saved"), nullptr);
    EXPECT_EQ(FindLine(lines, "Demo attrib: unsaved"), nullptr);
}

TEST(OverlayDraw, NothingWithoutTheVideoSubsystem) {
    std::unique_ptr<OverlayFont> font = OverlayFont::Create("Courier New", 10, 0);
    ASSERT_NE(font, nullptr);
    SetOverlayFont(font.get());
    ASSERT_EQ(GetVideoSystem(), nullptr);
    DrawOverlayText(0, 0, 0xFFFFFFFF, "%s", "text");  // a font without a device would fail if reached
    DrawOverlay("Render Effect: None");
    SetOverlayFont(nullptr);
}

TEST(OverlayDraw, ThroughTheVideoSubsystem) {
    ScratchFolder folder;
    folder.CopyContent({"shaders.hlsl", "noshader.jpg"});
    HeadlessWindow window;
    PrintCapture output;
    ASSERT_EQ(g_videoSystem.Initialise(), 1) << ::testing::PrintToString(output.Lines());
    ASSERT_NE(GetOverlayFont(), nullptr);
    IDirect3DDevice9* device = GetDevice();

    std::vector<std::string> trace;
    D3D9SetTrace(device, &trace);
    device->BeginScene();
    DrawOverlay("Render Effect: None");
    device->EndScene();
    D3D9SetTrace(device, nullptr);
    // One batch per line, each as many glyphs as the line has visible characters.
    const std::vector<std::string> draws = DrawCalls(trace);
    ASSERT_EQ(draws.size(), 7u);
    EXPECT_EQ(draws[1], "DrawPrimitive(D3DPT_TRIANGLELIST, 0, 26)");  // "Project Osprel"
    EXPECT_EQ(draws[6], "DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2)");   // "+"
    EXPECT_EQ(Errors(trace), std::vector<std::string>{});

    // Formatted text stops at 259 characters: 259 glyphs in six batches.
    trace.clear();
    D3D9SetTrace(device, &trace);
    DrawOverlayText(0, 0, 0xFFFFFFFF, "%s%s", std::string(200, 'x').c_str(), std::string(100, 'y').c_str());
    D3D9SetTrace(device, nullptr);
    EXPECT_EQ(DrawCalls(trace).size(), 6u);
    EXPECT_EQ(DrawCalls(trace).back(), "DrawPrimitive(D3DPT_TRIANGLELIST, 0, 18)");

    // The label, white, at (10, 110) on the black frame.
    std::vector<uint32_t> pixels;
    int width = 0, height = 0;
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    device->BeginScene();
    GetOverlayFont()->DrawText(10, 110, 0xFFFFFFFF, "Render Effect: None");
    device->EndScene();
    ASSERT_TRUE(D3D9ReadBackBuffer(device, &pixels, &width, &height));
    int lit = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if ((pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF) == 0) continue;
            EXPECT_TRUE(y >= 110 && y < 130 && x >= 9 && x < 10 + 19 * 8 + 2) << x << "," << y;
            ++lit;
        }
    }
    EXPECT_GT(lit, 100);
    g_videoSystem.shutdown(0);
    EXPECT_EQ(GetOverlayFont(), nullptr);
}
