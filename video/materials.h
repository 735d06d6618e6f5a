// Materials: how the faces of a texture with a shader script are drawn when
// the worlds are drawn as their scripts describe them (r_materials 1). A
// material is its script's stages, each drawn over the last with its own
// image, blend, alpha test, depth state, colour and texture coordinates,
// and the per-shader state around them (sort, polygon offset, a vertex
// deform). What moves is worked out here from the frame clock, into the
// constants of the stage shaders (stage_vs and stage_ps in shaders.hlsl).
#pragma once

#include <cstdint>

#include "video/d3d9/d3d9.h"
#include "video/shader_scripts.h"

// Stages past this many in one shader are not drawn.
constexpr int kMaxMaterialStages = 8;

struct MaterialStage {
    // What the stage's sampler reads: its own image (one per animation
    // frame), the face's lightmap, or white.
    enum class Image : unsigned char { kTexture, kLightmap, kWhite };
    Image image = Image::kWhite;
    IDirect3DTexture9* frames[ShaderScriptStage::kMaxFrames] = {};  // owned by the world's pictures
    int frameCount = 0;
    ShaderScriptStage script;  // the stage as written
};

struct Material {
    MaterialStage stages[kMaxMaterialStages];
    int stageCount = 0;
    float sort = kSortOpaque;
    bool polygonOffset = false;
    bool noMipmaps = false;
    // The first deform the stage shader can draw (wave, bulge, move); the
    // others are left out.
    bool deformed = false;
    VertexDeform deform;
    // deformVertexes normal: the normals wobble by its amplitude at its
    // frequency (what reflections and highlights see); 0 for none.
    float normalAmplitude = 0.0f;
    float normalFrequency = 0.0f;
    // autosprite / autosprite2: the faces' quads turn towards the eye (see
    // world_sprites.h).
    enum class Sprite : unsigned char { kNone, kFacing, kAroundLongAxis };
    Sprite sprite = Sprite::kNone;
    FaceSides sides = FaceSides::kFront;
    // Whether the first stage hides what is behind it (no blend): the
    // material's faces are then drawn nearest first, else farthest first.
    bool opaque = true;
};

// Whether a script draws exactly its image times the lightmap, the picture
// of a texture drawn without a material: one image stage without blend,
// motion, alpha test or colour of its own and one lightmap stage that
// multiplies the other, in either order, with nothing else in the shader
// that changes the picture.
bool IsPlainLightmapped(const ShaderDefinition& shader);

// Whether a stage draws anything: an image, the lightmap or white.
bool StageDraws(const ShaderScriptStage& stage);
// The stages of a script a material draws (at most kMaxMaterialStages).
int DrawnStageCount(const ShaderDefinition& shader);
// The material's state that comes from its shader as a whole: sort,
// opaqueness, polygon offset, mipmaps, sides, the first deform of each
// kind it draws and sprites (drawn from both sides).
void ReadMaterialShader(const ShaderDefinition& shader, Material* material);

// The registers of the stage shaders (see materials.hlsl): vertex c5 to
// c21 and c28, pixel c22; the fog's vertex shader reads c23 to c27. Every
// constant of the file has a register of its own.
constexpr uint32_t kStageFirstRegister = 5;
constexpr int kStageVertexRegisters = 17;
constexpr uint32_t kStageNormalRegister = 28;
constexpr uint32_t kStagePixelRegister = 22;
constexpr int kStagePixelRegisters = 1;
constexpr uint32_t kFogFirstRegister = 23;

struct StageConstants {
    float vertex[kStageVertexRegisters][4];
    float normal[4];  // c28: amplitude, phase now (the normal wobble)
    float pixel[kStagePixelRegisters][4];
};

// The stage's constants at a time (milliseconds of the frame clock) seen
// from eye (drawing coordinates).
void ComputeStageConstants(const Material& material, const MaterialStage& stage, double milliseconds,
                           const float eye[3], StageConstants* out);

// The frame of an animated stage shown at a time: frame
// floor(seconds * framesPerSecond) modulo the frame count; frame 0 for
// stages that do not animate.
int StageFrameAt(const MaterialStage& stage, double milliseconds);

// A stage's texture coordinate transform, as a 2x3 matrix:
// s' = m[0] s + m[1] t + m[2], t' = m[3] s + m[4] t + m[5].
struct TexCoordMatrix {
    float m[6] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f};
};
// The tcMods before the first turb (all of them when there is none) as
// `before`, those after it as `after`; *turb is the turb or null. Composed
// exactly, then (for images that repeat) offsets past a few hundred repeats
// are brought back by whole repeats, so that they stay precise hours into
// a run.
void TexCoordTransformsAt(const TexCoordMotion* motions, int count, bool repeats, double seconds,
                          TexCoordMatrix* before, TexCoordMatrix* after, const TexCoordMotion** turb);
// The same for a stage's tcMods (clampMap images do not repeat).
void TexCoordTransformsAt(const ShaderScriptStage& stage, double seconds, TexCoordMatrix* before,
                          TexCoordMatrix* after, const TexCoordMotion** turb);
