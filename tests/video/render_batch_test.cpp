// Merged draws: runs of items of one texture list that share vertex buffer
// and lightmap are drawn as one triangle list from the renderer's batch
// index buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "camera/camera.h"
#include "support/headless_window.h"
#include "support/test_support.h"
#include "video/d3d9/d3dx9.h"
#include "video/renderer.h"
#include "video/video_cvars.h"
#include "video/video_system.h"

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr float kDepth = -100.0f;  // the camera looks down -z
constexpr int kFaces = 4;
// Each face is a square of four vertices; the buffer holds the faces'
// vertices after two unused ones, so that no item starts at vertex 0.
constexpr int kLeadingVertices = 2;
// A square as a list: six indices relative to its first vertex, after three
// leading indices that no item uses. The index buffer holds them, and the
// items carry this copy for merged draws, as the world's faces do.
constexpr int32_t kSquareList[9] = {7, 7, 7, 0, 1, 2, 0, 2, 3};
constexpr float kHalf = 12.0f;
const float kCentres[kFaces] = {-60.0f, -20.0f, 20.0f, 60.0f};

class RenderBatches : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.CopyContent({"shaders.hlsl", "noshader.jpg", "loading.jpg", "textures/negz.jpg",
                             "textures/posz.jpg", "textures/posx.jpg", "textures/negx.jpg",
                             "textures/posy.jpg"});
        window_ = std::make_unique<HeadlessWindow>(kWidth, kHeight);
        ASSERT_EQ(g_videoSystem.Initialise(), 1);
        device_ = GetDevice();
        ASSERT_NE(device_, nullptr);
        g_camera.SetProjection(1.5707964f, 0.1f, 10000000.0f, static_cast<float>(kWidth),
                               static_cast<float>(kHeight));
        savedPosition_ = g_camera.GetPosition();
        g_camera.SetPosition(D3DXVECTOR3(0.0f, 0.0f, 0.0f));
        g_camera.ResetView(0.0f, 0.0f, 0.0f);
        vid_effectmode.intValue = 0;
        MakeGeometry();
        surface_ = Solid(0xFFFFFFFF);
        lightmapA_ = Solid(0xFF402010);
        lightmapB_ = Solid(0xFF104020);
        ASSERT_NE(surface_, nullptr);
        ASSERT_NE(lightmapA_, nullptr);
        ASSERT_NE(lightmapB_, nullptr);
    }
    void TearDown() override {
        D3D9SetTrace(device_, nullptr);
        g_renderer.EmptyCaches();
        SetupRenderCaches(0);
        for (IDirect3DTexture9* texture : {surface_, lightmapA_, lightmapB_}) {
            if (texture != nullptr) texture->Release();
        }
        if (vertices_ != nullptr) vertices_->Release();
        if (indices_ != nullptr) indices_->Release();
        g_videoSystem.shutdown(0);
        window_.reset();
        g_camera.SetPosition(savedPosition_);
    }

    // Four squares side by side, kDepth ahead of the camera.
    void MakeGeometry() {
        const UINT count = kLeadingVertices + 4 * kFaces;
        ASSERT_EQ(device_->CreateVertexBuffer(count * sizeof(GpuVertex), D3DUSAGE_WRITEONLY, kGpuVertexFvf,
                                              D3DPOOL_DEFAULT, &vertices_, nullptr),
                  D3D_OK);
        void* data = nullptr;
        ASSERT_EQ(vertices_->Lock(0, 0, &data, 0), D3D_OK);
        GpuVertex* v = static_cast<GpuVertex*>(data);
        for (UINT i = 0; i < count; ++i) v[i] = GpuVertex{{0, 0, kDepth}, {0, 0, 1}, 0xFFFFFFFF, {0, 0}, {0, 0, 0}};
        for (int f = 0; f < kFaces; ++f) {
            GpuVertex* square = v + kLeadingVertices + 4 * f;
            const float x = kCentres[f];
            const float corners[4][2] = {{x - kHalf, -kHalf}, {x - kHalf, kHalf}, {x + kHalf, kHalf}, {x + kHalf, -kHalf}};
            for (int c = 0; c < 4; ++c) {
                square[c].position[0] = corners[c][0];
                square[c].position[1] = corners[c][1];
                square[c].texCoord[0] = 0.5f;
                square[c].texCoord[1] = 0.5f;
                square[c].lightmapCoord[0] = 0.5f;
                square[c].lightmapCoord[1] = 0.5f;
            }
        }
        ASSERT_EQ(vertices_->Unlock(), D3D_OK);

        const int32_t* list = kSquareList;
        ASSERT_EQ(device_->CreateIndexBuffer(sizeof kSquareList, 0, D3DFMT_INDEX32, D3DPOOL_DEFAULT, &indices_,
                                             nullptr),
                  D3D_OK);
        ASSERT_EQ(indices_->Lock(0, 0, &data, 0), D3D_OK);
        std::copy(list, list + 9, static_cast<int32_t*>(data));
        ASSERT_EQ(indices_->Unlock(), D3D_OK);
    }

    IDirect3DTexture9* Solid(uint32_t argb) {
        IDirect3DTexture9* texture = nullptr;
        if (FAILED(device_->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr))) {
            return nullptr;
        }
        D3DLOCKED_RECT locked;
        if (FAILED(texture->LockRect(0, &locked, nullptr, 0))) return texture;
        *static_cast<uint32_t*>(locked.pBits) = argb;
        texture->UnlockRect(0);
        return texture;
    }

    // Face f as a fan (even faces) or as an indexed list (odd faces).
    void Gather(uint32_t texture, int f, IDirect3DTexture9* lightmap, int32_t count = -1, float distance = 0.0f) {
        RenderItem* item = AllocateRenderItem(texture, 0);
        ASSERT_NE(item, nullptr);
        lastItem_ = item;
        item->vertexBuffer = vertices_;
        item->surfaceTexture = surface_;
        item->lightmapTexture = lightmap;
        item->baseVertex = kLeadingVertices + 4 * f;
        if (f % 2 == 0) {
            item->primitiveType = D3DPT_TRIANGLEFAN;
            item->count = 4;
        } else {
            item->primitiveType = D3DPT_TRIANGLELIST;
            item->indexBuffer = indices_;
            item->sourceIndices = kSquareList;
            item->sourceIndexCount = 9;
            item->startIndex = 3;
            item->count = 6;
        }
        if (count >= 0) item->count = count;
        item->spareCount = item->count;
        item->distance = distance;
    }

    // World draws: what the renderer issues for items (the sky and overlay
    // draw with DrawPrimitiveUP and triangle-list DrawPrimitive).
    static bool WorldDraw(const std::string& line) {
        return line.rfind("DrawIndexedPrimitive(", 0) == 0 || line.rfind("DrawPrimitive(D3DPT_TRIANGLEFAN", 0) == 0;
    }

    // Draws one frame; its world draw calls come back in trace, its full
    // trace in lines, and in worldDraws the draw calls that reached OpenGL
    // by the device's counter, less those of the sky and overlay.
    std::vector<uint32_t> Frame(std::vector<std::string>* trace = nullptr, uint64_t* worldDraws = nullptr,
                                std::vector<std::string>* lines = nullptr) {
        std::vector<std::string> all;
        D3D9Counters before;
        EXPECT_TRUE(D3D9GetCounters(device_, &before));
        D3D9SetTrace(device_, &all);
        g_renderer.frame();
        D3D9SetTrace(device_, nullptr);
        D3D9Counters after;
        EXPECT_TRUE(D3D9GetCounters(device_, &after));
        uint64_t other = 0;
        for (const std::string& line : all) {
            EXPECT_NE(line.rfind("error", 0), 0u) << line;
            if (WorldDraw(line)) {
                if (trace != nullptr) trace->push_back(line);
            } else if (line.rfind("Draw", 0) == 0) {
                ++other;
            }
        }
        if (worldDraws != nullptr) *worldDraws = after.draws - before.draws - other;
        if (lines != nullptr) *lines = all;
        std::vector<uint32_t> pixels;
        int width = 0, height = 0;
        EXPECT_TRUE(D3D9ReadBackBuffer(device_, &pixels, &width, &height));
        EXPECT_EQ(width, kWidth);
        return pixels;
    }

    // The pixel where the camera sees world point (x, y, kDepth).
    uint32_t At(const std::vector<uint32_t>& pixels, float x, float y) const {
        D3DXMATRIX viewProjection;
        D3DXMatrixMultiply(&viewProjection, &g_camera.View(), &g_camera.Projection());
        const float* m = viewProjection;
        const float in[4] = {x, y, kDepth, 1.0f};
        float clip[4] = {};
        for (int c = 0; c < 4; ++c) {
            for (int r = 0; r < 4; ++r) clip[c] += in[r] * m[r * 4 + c];
        }
        const int px = static_cast<int>((clip[0] / clip[3] + 1.0f) * 0.5f * kWidth);
        const int py = static_cast<int>((1.0f - clip[1] / clip[3]) * 0.5f * kHeight);
        EXPECT_TRUE(px >= 0 && px < kWidth && py >= 0 && py < kHeight) << px << "," << py;
        return pixels[static_cast<size_t>(std::clamp(py, 0, kHeight - 1)) * kWidth + std::clamp(px, 0, kWidth - 1)];
    }

    static int Channel(uint32_t argb, int shift) { return static_cast<int>((argb >> shift) & 0xFF); }
    static bool Near(uint32_t a, uint32_t b) {
        for (int shift : {0, 8, 16}) {
            if (std::abs(Channel(a, shift) - Channel(b, shift)) > 2) return false;
        }
        return true;
    }

    size_t Count(const std::vector<std::string>& trace, const std::string& prefix) const {
        return static_cast<size_t>(std::count_if(trace.begin(), trace.end(), [&](const std::string& line) {
            return line.rfind(prefix, 0) == 0;
        }));
    }

    ScratchFolder folder_;
    std::unique_ptr<HeadlessWindow> window_;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DVertexBuffer9* vertices_ = nullptr;
    IDirect3DIndexBuffer9* indices_ = nullptr;
    RenderItem* lastItem_ = nullptr;  // the item Gather made last
    IDirect3DTexture9* surface_ = nullptr;
    IDirect3DTexture9* lightmapA_ = nullptr;
    IDirect3DTexture9* lightmapB_ = nullptr;
    D3DXVECTOR3 savedPosition_;
};

}  // namespace

TEST_F(RenderBatches, ARunOfFansAndListsIsOneDrawThatLooksLikeItsItems) {
    // Every face in a list of its own: nothing to merge, one draw a face.
    SetupRenderCaches(kFaces);
    const std::vector<uint32_t> sky = Frame();
    for (int f = 0; f < kFaces; ++f) Gather(static_cast<uint32_t>(f), f, lightmapA_);
    uint64_t apartDraws = 0;
    const std::vector<uint32_t> apart = Frame(nullptr, &apartDraws);
    EXPECT_EQ(apartDraws, static_cast<uint64_t>(kFaces));

    // The same faces in one list: one draw of all eight triangles.
    for (int f = 0; f < kFaces; ++f) Gather(0, f, lightmapA_);
    std::vector<std::string> trace;
    uint64_t mergedDraws = 0;
    const std::vector<uint32_t> merged = Frame(&trace, &mergedDraws);
    EXPECT_EQ(mergedDraws, 1u);
    EXPECT_EQ(g_renderer.ItemsDrawn(), static_cast<uint32_t>(kFaces));
    const std::string batch = "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, ";
    EXPECT_EQ(Count(trace, batch), 1u);
    EXPECT_EQ(Count(trace, "DrawPrimitive(D3DPT_TRIANGLEFAN"), 0u);
    const auto line = std::find_if(trace.begin(), trace.end(), [&](const std::string& l) { return l.rfind(batch, 0) == 0; });
    ASSERT_NE(line, trace.end());
    // Vertices 2..17, from index 0 of the batch buffer, 8 triangles.
    EXPECT_EQ(*line, "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 16, 0, 8)");

    for (int f = 0; f < kFaces; ++f) {
        const uint32_t lit = At(merged, kCentres[f], 0.0f);
        EXPECT_FALSE(Near(lit, At(sky, kCentres[f], 0.0f))) << "face " << f << " not drawn";
        EXPECT_TRUE(Near(lit, At(apart, kCentres[f], 0.0f))) << "face " << f;
        // Near each corner, inside both of the square's triangles.
        for (float dx : {-0.7f * kHalf, 0.7f * kHalf}) {
            for (float dy : {-0.7f * kHalf, 0.7f * kHalf}) {
                EXPECT_TRUE(Near(At(merged, kCentres[f] + dx, dy), lit)) << "face " << f << " corner " << dx << "," << dy;
            }
        }
        // Between the faces the sky still shows.
        const float gap = kCentres[f] + 20.0f;
        EXPECT_TRUE(Near(At(merged, gap, 0.0f), At(sky, gap, 0.0f))) << "gap after face " << f;
    }
    size_t differing = 0;
    for (size_t i = 0; i < merged.size(); ++i) differing += Near(merged[i], apart[i]) ? 0 : 1;
    EXPECT_EQ(differing, 0u);
}

TEST_F(RenderBatches, TheBatchBufferHoldsAbsoluteIndicesAndFansBecomeTriangles) {
    SetupRenderCaches(1);
    for (int f = 0; f < kFaces; ++f) Gather(0, f, lightmapA_);
    Frame();
    IDirect3DIndexBuffer9* batch = g_renderer.BatchIndices();
    ASSERT_NE(batch, nullptr);
    void* data = nullptr;
    ASSERT_EQ(batch->Lock(0, 24 * 4, &data, D3DLOCK_READONLY), D3D_OK);
    const uint32_t* got = static_cast<const uint32_t*>(data);
    std::vector<uint32_t> expected;
    for (int f = 0; f < kFaces; ++f) {
        const uint32_t b = static_cast<uint32_t>(kLeadingVertices + 4 * f);
        // Fans (0, 1, 2), (0, 2, 3); the list's own indices 0 1 2 0 2 3 read
        // from index 3 of its buffer: the same triangles.
        for (uint32_t i : {0u, 1u, 2u, 0u, 2u, 3u}) expected.push_back(b + i);
    }
    EXPECT_EQ(std::vector<uint32_t>(got, got + 24), expected);
    batch->Unlock();
}

TEST_F(RenderBatches, ADifferentLightmapSplitsARun) {
    SetupRenderCaches(1);
    Gather(0, 0, lightmapA_);
    Gather(0, 1, lightmapA_);
    Gather(0, 2, lightmapB_);
    Gather(0, 3, lightmapB_);
    std::vector<std::string> trace;
    const std::vector<uint32_t> pixels = Frame(&trace);
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 8, 0, 4)");
    EXPECT_EQ(trace[1], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 10, 8, 12, 4)");
    EXPECT_EQ(g_renderer.ItemsDrawn(), 4u);
    // Each pair lit by its own lightmap.
    EXPECT_TRUE(Near(At(pixels, kCentres[0], 0.0f), At(pixels, kCentres[1], 0.0f)));
    EXPECT_TRUE(Near(At(pixels, kCentres[2], 0.0f), At(pixels, kCentres[3], 0.0f)));
    EXPECT_FALSE(Near(At(pixels, kCentres[1], 0.0f), At(pixels, kCentres[2], 0.0f)));

    // Alternating lightmaps: the items of each lightmap are drawn together,
    // the two fans as one draw, the list by itself.
    Gather(0, 0, lightmapA_);
    Gather(0, 1, lightmapB_);
    Gather(0, 2, lightmapA_);
    trace.clear();
    const std::vector<uint32_t> grouped = Frame(&trace);
    ASSERT_EQ(trace.size(), 2u);
    std::sort(trace.begin(), trace.end());
    EXPECT_EQ(trace[0], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 12, 0, 4)");
    EXPECT_EQ(trace[1], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 6, 0, 6, 3, 2)");
    EXPECT_EQ(g_renderer.ItemsDrawn(), 3u);
    EXPECT_TRUE(Near(At(grouped, kCentres[0], 0.0f), At(pixels, kCentres[0], 0.0f)));
    EXPECT_TRUE(Near(At(grouped, kCentres[1], 0.0f), At(pixels, kCentres[2], 0.0f)));
    EXPECT_TRUE(Near(At(grouped, kCentres[2], 0.0f), At(grouped, kCentres[0], 0.0f)));
}

TEST_F(RenderBatches, ALoneItemOfADifferentLightmapIsDrawnAsBefore) {
    SetupRenderCaches(1);
    Gather(0, 0, lightmapA_);
    Gather(0, 1, lightmapB_);
    std::vector<std::string> trace;
    Frame(&trace);
    ASSERT_EQ(trace.size(), 2u);
    std::sort(trace.begin(), trace.end());
    EXPECT_EQ(trace[0], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 6, 0, 6, 3, 2)");
    EXPECT_EQ(trace[1], "DrawPrimitive(D3DPT_TRIANGLEFAN, 2, 2)");
}

TEST_F(RenderBatches, ListsWithoutTheirIndicesAtHandOrPastThemAreDrawnOnTheirOwn) {
    // Merging reads the indices the caller keeps; a list whose caller keeps
    // none, or whose range runs past them, is drawn from its buffer alone.
    SetupRenderCaches(1);
    for (int f = 0; f < kFaces; ++f) {
        Gather(0, f, lightmapA_);
        if (f == 1) lastItem_->sourceIndices = nullptr;
        if (f == 3) lastItem_->sourceIndexCount = 8;  // one short of its range
    }
    std::vector<std::string> trace;
    Frame(&trace);
    EXPECT_EQ(Count(trace, "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 6, 0, 6, 3, 2)"), 1u);
    EXPECT_EQ(Count(trace, "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 14, 0, 6, 3, 2)"), 1u);
    // Nothing is left to run alongside the fans between them.
    EXPECT_EQ(Count(trace, "DrawPrimitive(D3DPT_TRIANGLEFAN"), 2u);
    EXPECT_EQ(trace.size(), 4u);
}

TEST_F(RenderBatches, RunsStayInsideTheirTextureListAndStopAtAnItemWithCountZero) {
    SetupRenderCaches(2);
    Gather(0, 0, lightmapA_);
    Gather(0, 1, lightmapA_);
    Gather(0, 2, lightmapA_, 0);  // ends texture 0's list
    Gather(0, 3, lightmapA_);
    Gather(1, 2, lightmapA_);
    Gather(1, 3, lightmapA_);
    std::vector<std::string> trace;
    Frame(&trace);
    ASSERT_EQ(trace.size(), 2u);
    // Texture 0's run of two, then texture 1's: the lists keep their order.
    EXPECT_EQ(trace[0], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 8, 0, 4)");
    EXPECT_EQ(trace[1], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 10, 8, 12, 4)");
    EXPECT_EQ(g_renderer.ItemsDrawn(), 4u);
    EXPECT_EQ(g_renderer.MainSet().lists[0].used, 0u);
    EXPECT_EQ(g_renderer.MainSet().lists[1].used, 0u);
}

TEST_F(RenderBatches, PatchStripsAreDrawnItemByItem) {
    SetupRenderCaches(1);
    for (int i = 0; i < 2; ++i) {
        RenderItem* item = AllocateRenderItem(0, 0);
        ASSERT_NE(item, nullptr);
        item->vertexBuffer = vertices_;
        item->indexBuffer = indices_;
        item->surfaceTexture = surface_;
        item->lightmapTexture = lightmapA_;
        item->primitiveType = D3DPT_TRIANGLESTRIP;
        item->baseVertex = kLeadingVertices + 4 * i;
        item->count = 4;
    }
    std::vector<std::string> trace;
    Frame(&trace);
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(trace[0], "DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 2, 0, 4, 0, 2)");
    EXPECT_EQ(trace[1], "DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 6, 0, 4, 0, 2)");
}

TEST_F(RenderBatches, OpaqueDrawsGoNearestFirstAndAdditiveOnesKeepTheirListOrder) {
    // Four lists, one face each, gathered far to near in a shuffled order;
    // a fifth list holds a run of two (drawn over faces 0 and 2 alike), one
    // of them the nearest item of all.
    SetupRenderCaches(5);
    const float distances[kFaces] = {40.0f, 10.0f, 30.0f, 20.0f};
    for (int f = 0; f < kFaces; ++f) Gather(static_cast<uint32_t>(f), f, lightmapA_, -1, distances[f]);
    Gather(4, 0, lightmapA_, -1, 50.0f);
    Gather(4, 2, lightmapA_, -1, 5.0f);
    std::vector<std::string> trace;
    const std::vector<uint32_t> sorted = Frame(&trace);
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[0], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 2, 12, 0, 4)");  // the run, at 5
    EXPECT_EQ(trace[1], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 6, 0, 6, 3, 2)");   // face 1, at 10
    EXPECT_EQ(trace[2], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 14, 0, 6, 3, 2)");  // face 3, at 20
    EXPECT_EQ(trace[3], "DrawPrimitive(D3DPT_TRIANGLEFAN, 10, 2)");                   // face 2, at 30
    EXPECT_EQ(trace[4], "DrawPrimitive(D3DPT_TRIANGLEFAN, 2, 2)");                    // face 0, at 40
    EXPECT_EQ(g_renderer.ItemsDrawn(), 6u);

    // The picture is that of drawing in list order.
    for (int f = 0; f < kFaces; ++f) Gather(static_cast<uint32_t>(f), f, lightmapA_);
    Gather(4, 0, lightmapA_);
    Gather(4, 2, lightmapA_);
    trace.clear();
    const std::vector<uint32_t> listed = Frame(&trace);
    ASSERT_EQ(trace.size(), 5u);
    EXPECT_EQ(trace[0], "DrawPrimitive(D3DPT_TRIANGLEFAN, 2, 2)");
    size_t differing = 0;
    for (size_t i = 0; i < sorted.size(); ++i) differing += Near(sorted[i], listed[i]) ? 0 : 1;
    EXPECT_EQ(differing, 0u);

    // Additive lists are drawn in list order whatever their distances.
    for (uint32_t t = 0; t < 5; ++t) g_renderer.SetAdditive(t);
    for (int f = 0; f < kFaces; ++f) Gather(static_cast<uint32_t>(f), f, lightmapA_, -1, distances[f]);
    trace.clear();
    Frame(&trace);
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0], "DrawPrimitive(D3DPT_TRIANGLEFAN, 2, 2)");
    EXPECT_EQ(trace[1], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 6, 0, 6, 3, 2)");
    EXPECT_EQ(trace[2], "DrawPrimitive(D3DPT_TRIANGLEFAN, 10, 2)");
    EXPECT_EQ(trace[3], "DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 14, 0, 6, 3, 2)");
}
