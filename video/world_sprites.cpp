#include "video/world_sprites.h"

#include <cmath>
#include <cstring>
#include <new>

#include "base/message_output.h"
#include "video/world_patches.h"

namespace {

struct Vec {
    float x, y, z;
};
Vec Of(const float* p) { return {p[0], p[1], p[2]}; }
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(Vec a, float k) { return {a.x * k, a.y * k, a.z * k}; }
float Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Length(Vec a) { return std::sqrt(Dot(a, a)); }

// a / |a|, or fallback when a has no length to speak of.
Vec Unit(Vec a, Vec fallback) {
    const float length = Length(a);
    return length > 1e-6f && std::isfinite(length) ? a * (1.0f / length) : fallback;
}

// Any unit vector square to n (a unit vector).
Vec Square(Vec n) {
    const Vec other = std::fabs(n.y) < 0.9f ? Vec{0.0f, 1.0f, 0.0f} : Vec{1.0f, 0.0f, 0.0f};
    return Unit(Cross(n, other), Vec{1.0f, 0.0f, 0.0f});
}

void Put(GpuVertex* vertex, Vec p) {
    vertex->position[0] = p.x;
    vertex->position[1] = p.y;
    vertex->position[2] = p.z;
}

float Sign(float value) { return value < 0.0f ? -1.0f : 1.0f; }

}  // namespace

void TurnQuad(const GpuVertex* in, GpuVertex* out, bool aroundLongAxis, const float eye[3], const float up[3]) {
    Vec corner[4];
    Vec centre{0.0f, 0.0f, 0.0f};
    float s = 0.0f, t = 0.0f;
    for (int i = 0; i < 4; ++i) {
        out[i] = in[i];
        corner[i] = Of(in[i].position);
        centre = centre + corner[i] * 0.25f;
        s += in[i].texCoord[0] * 0.25f;
        t += in[i].texCoord[1] * 0.25f;
    }
    const Vec toEye = Unit(Of(eye) - centre, Vec{0.0f, 0.0f, 1.0f});
    if (!aroundLongAxis) {
        // Square to the eye, its image's up along the view's up.
        const float radius = Length(corner[0] - centre) * 0.70710678f;
        const Vec viewUp = Of(up);
        const Vec upright = Unit(viewUp - toEye * Dot(viewUp, toEye), Square(toEye));
        const Vec side = Cross(upright, toEye);
        for (int i = 0; i < 4; ++i) {
            const float across = Sign(in[i].texCoord[0] - s);
            const float down = Sign(in[i].texCoord[1] - t);
            Put(&out[i], centre + side * (across * radius) - upright * (down * radius));
        }
        return;
    }
    // About its long axis: each corner keeps its place along the axis and
    // takes its side of it square to the eye.
    const Vec a = corner[1] - corner[0];
    const Vec b = corner[3] - corner[0];
    const bool aLonger = Dot(a, a) >= Dot(b, b);
    const Vec axis = Unit(aLonger ? a : b, Vec{0.0f, 1.0f, 0.0f});
    const Vec across = Unit(aLonger ? b : a, Square(axis));
    const float halfWidth = Length(aLonger ? b : a) * 0.5f;
    const Vec side = Unit(Cross(axis, toEye), Square(axis));
    for (int i = 0; i < 4; ++i) {
        const Vec offset = corner[i] - centre;
        const float along = Dot(offset, axis);
        Put(&out[i], centre + axis * along + side * (Sign(Dot(offset, across)) * halfWidth));
    }
}

bool BuildWorldSprites(IDirect3DDevice9* device, const WorldData& data, const std::vector<Material>& materials,
                       WorldSprites* sprites) {
    ReleaseWorldSprites(sprites);
    try {
        for (size_t f = 0; f < data.faces.size(); ++f) {
            const BspFace& face = data.faces[f];
            if (face.type != kFacePolygon && face.type != kFaceMesh) continue;
            if (face.texture < 0 || static_cast<size_t>(face.texture) >= materials.size()) continue;
            const Material& material = materials[static_cast<size_t>(face.texture)];
            if (material.stageCount == 0 || material.sprite == Material::Sprite::kNone) continue;
            if (f >= data.faceUsable.size() || data.faceUsable[f] == 0) continue;
            if (face.numVertices < 4 || face.numVertices % 4 != 0) continue;
            const uint32_t quads = static_cast<uint32_t>(face.numVertices / 4);
            if (sprites->QuadCount() + quads > kMaxSpriteQuads) break;
            if (sprites->faceFirstQuad.empty()) {
                sprites->faceFirstQuad.assign(data.faces.size(), kNoSprite);
                sprites->faceQuads.assign(data.faces.size(), 0);
            }
            sprites->faceFirstQuad[f] = sprites->QuadCount();
            sprites->faceQuads[f] = quads;
            for (uint32_t q = 0; q < quads; ++q) {
                for (int v = 0; v < 4; ++v) {
                    const size_t index = static_cast<size_t>(face.firstVertex) + 4 * q + static_cast<size_t>(v);
                    sprites->source.push_back(ToGpuVertex(data.vertices[index], data.vertexLit[index] != 0));
                }
                sprites->aroundAxis.push_back(material.sprite == Material::Sprite::kAroundLongAxis ? 1 : 0);
            }
        }
        sprites->turned = sprites->source;
    } catch (const std::bad_alloc&) {
        PrintLine("Warning: no memory for the world's sprites; they are drawn as they lie");
        ReleaseWorldSprites(sprites);
        return true;
    }
    if (sprites->QuadCount() == 0) return true;
    const UINT bytes = static_cast<UINT>(sprites->turned.size() * sizeof(GpuVertex));
    if (FAILED(device->CreateVertexBuffer(bytes, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, kGpuVertexFvf,
                                          D3DPOOL_DEFAULT, &sprites->buffer, nullptr))) {
        sprites->buffer = nullptr;
        PrintLine("Error: Failed to allocate the vertex buffer of the world's sprites.");
        ReleaseWorldSprites(sprites);
        return false;
    }
    return true;
}

void TurnWorldSprites(WorldSprites* sprites, const float eye[3], const float up[3]) {
    if (sprites->buffer == nullptr) return;
    const uint32_t quads = sprites->QuadCount();
    for (uint32_t q = 0; q < quads; ++q) {
        TurnQuad(&sprites->source[4 * q], &sprites->turned[4 * q], sprites->aroundAxis[q] != 0, eye, up);
    }
    void* locked = nullptr;
    const UINT bytes = static_cast<UINT>(sprites->turned.size() * sizeof(GpuVertex));
    if (SUCCEEDED(sprites->buffer->Lock(0, bytes, &locked, D3DLOCK_DISCARD)) && locked != nullptr) {
        std::memcpy(locked, sprites->turned.data(), bytes);
    }
    sprites->buffer->Unlock();
}

void ReleaseWorldSprites(WorldSprites* sprites) {
    if (sprites->buffer != nullptr) sprites->buffer->Release();
    sprites->buffer = nullptr;
    std::vector<GpuVertex>().swap(sprites->source);
    std::vector<GpuVertex>().swap(sprites->turned);
    std::vector<uint8_t>().swap(sprites->aroundAxis);
    std::vector<uint32_t>().swap(sprites->faceFirstQuad);
    std::vector<uint32_t>().swap(sprites->faceQuads);
}
