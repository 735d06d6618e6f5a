#include "video/materials.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kTwoPi = 6.283185307179586;

float Clamp01(float value) { return value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value); }

// The fractional part, kept in [0, 1) for negative and huge arguments alike.
double Fraction(double value) {
    if (!std::isfinite(value)) return 0.0;
    return value - std::floor(value);
}

void Set(float* r, float x, float y, float z, float w) {
    r[0] = x;
    r[1] = y;
    r[2] = z;
    r[3] = w;
}

// A texture coordinate transform while it is being put together: in double
// precision, since scrolls grow with the clock and later tcMods scale them.
struct Affine {
    double m[6] = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0};
};

// a then b: (b . a)(p) = b(a(p)).
Affine Then(const Affine& a, const Affine& b) {
    Affine out;
    out.m[0] = b.m[0] * a.m[0] + b.m[1] * a.m[3];
    out.m[1] = b.m[0] * a.m[1] + b.m[1] * a.m[4];
    out.m[2] = b.m[0] * a.m[2] + b.m[1] * a.m[5] + b.m[2];
    out.m[3] = b.m[3] * a.m[0] + b.m[4] * a.m[3];
    out.m[4] = b.m[3] * a.m[1] + b.m[4] * a.m[4];
    out.m[5] = b.m[3] * a.m[2] + b.m[4] * a.m[5] + b.m[5];
    return out;
}

// Scaling around the middle of the image (0.5, 0.5).
Affine AroundMiddle(double a, double b, double c, double d) {
    Affine out;
    out.m[0] = a;
    out.m[1] = b;
    out.m[2] = 0.5 - 0.5 * a - 0.5 * b;
    out.m[3] = c;
    out.m[4] = d;
    out.m[5] = 0.5 - 0.5 * c - 0.5 * d;
    return out;
}

Affine MotionAffine(const TexCoordMotion& motion, double seconds) {
    Affine out;
    switch (motion.kind) {
        case TexCoordMotion::Kind::kScale:
            out.m[0] = motion.s;
            out.m[4] = motion.t;
            break;
        case TexCoordMotion::Kind::kScroll:
            out.m[2] = motion.s * seconds;
            out.m[5] = motion.t * seconds;
            break;
        case TexCoordMotion::Kind::kRotate: {
            // A whole turn changes nothing: only its fraction is kept.
            const double angle = -Fraction(motion.s * seconds / 360.0) * kTwoPi;
            out = AroundMiddle(std::cos(angle), -std::sin(angle), std::sin(angle), std::cos(angle));
            break;
        }
        case TexCoordMotion::Kind::kStretch: {
            const double value = WaveValue(motion.wave, seconds);
            const double p = std::fabs(value) > 1e-4 ? 1.0 / value : 1e4;
            out = AroundMiddle(p, 0.0, 0.0, p);
            break;
        }
        case TexCoordMotion::Kind::kTransform:
            out.m[0] = motion.matrix[0];
            out.m[1] = motion.matrix[2];
            out.m[2] = motion.matrix[4];
            out.m[3] = motion.matrix[1];
            out.m[4] = motion.matrix[3];
            out.m[5] = motion.matrix[5];
            break;
        case TexCoordMotion::Kind::kTurb:
            break;
    }
    return out;
}

// Offsets past this many repeats of an image that repeats are brought back
// by whole repeats, which change nothing drawn: below it a float still
// places a texel to a few thousandths.
constexpr double kRepeatsKept = 256.0;

TexCoordMatrix ToMatrix(const Affine& affine, bool repeats) {
    TexCoordMatrix out;
    for (int i = 0; i < 6; ++i) {
        double value = affine.m[i];
        if ((i == 2 || i == 5) && repeats && std::fabs(value) >= kRepeatsKept) value = Fraction(value);
        const float single = static_cast<float>(value);
        // What overflows keeps the identity's value.
        out.m[i] = std::isfinite(single) ? single : (i == 0 || i == 4 ? 1.0f : 0.0f);
    }
    return out;
}

// The weights of sin, triangle, square and sawtooth that draw a form on the
// stage shader, with the base and amplitude that go with them (an inverse
// sawtooth is a sawtooth turned over).
void FormWeights(const Wave& wave, float* weights, float* base, float* amplitude) {
    weights[0] = weights[1] = weights[2] = weights[3] = 0.0f;
    *base = wave.base;
    *amplitude = wave.amplitude;
    switch (wave.form) {
        case WaveForm::kSin: weights[0] = 1.0f; break;
        case WaveForm::kTriangle: weights[1] = 1.0f; break;
        case WaveForm::kSquare: weights[2] = 1.0f; break;
        case WaveForm::kSawtooth: weights[3] = 1.0f; break;
        case WaveForm::kInverseSawtooth:
            weights[3] = 1.0f;
            *base = wave.base + wave.amplitude;
            *amplitude = -wave.amplitude;
            break;
        case WaveForm::kNoise: weights[0] = 1.0f; break;
    }
}

bool PlainImageStage(const ShaderScriptStage& stage) {
    return !stage.isLightmap && !stage.isWhiteImage && !stage.map.empty() && stage.frames.size() <= 1 &&
           stage.motionCount == 0 && stage.alphaTest == AlphaTest::kNone && !stage.depthEqual &&
           stage.colourSource == ColourSource::kIdentity && stage.alphaSource == AlphaSource::kIdentity &&
           stage.texCoordSource == TexCoordSource::kBase && !stage.detail;
}

bool PlainLightmapStage(const ShaderScriptStage& stage) {
    return stage.isLightmap && stage.motionCount == 0 && stage.alphaTest == AlphaTest::kNone &&
           stage.colourSource == ColourSource::kIdentity && stage.texCoordSource == TexCoordSource::kLightmap;
}

bool NoBlend(const ShaderScriptStage& stage) {
    return stage.sourceFactor == BlendFactor::kOne && stage.destinationFactor == BlendFactor::kZero;
}

// source x destination-colour (filter) or the same the other way round:
// a plain product with what is already there.
bool Multiplies(const ShaderScriptStage& stage) {
    return (stage.sourceFactor == BlendFactor::kDestinationColor && stage.destinationFactor == BlendFactor::kZero) ||
           (stage.sourceFactor == BlendFactor::kZero && stage.destinationFactor == BlendFactor::kSourceColor);
}

}  // namespace

bool IsPlainLightmapped(const ShaderDefinition& shader) {
    if (shader.stages.size() != 2 || shader.deformCount > 0 || shader.polygonOffset) return false;
    if (shader.sort != 0.0f && shader.sort != static_cast<float>(kSortOpaque)) return false;
    const ShaderScriptStage& first = shader.stages[0];
    const ShaderScriptStage& second = shader.stages[1];
    if (PlainLightmapStage(first) && NoBlend(first)) return PlainImageStage(second) && Multiplies(second);
    if (PlainImageStage(first) && NoBlend(first)) return PlainLightmapStage(second) && Multiplies(second);
    return false;
}

bool StageDraws(const ShaderScriptStage& stage) { return !stage.map.empty() || stage.isWhiteImage || stage.isLightmap; }

int DrawnStageCount(const ShaderDefinition& shader) {
    int count = 0;
    for (const ShaderScriptStage& stage : shader.stages) {
        if (count == kMaxMaterialStages) break;
        if (StageDraws(stage)) ++count;
    }
    return count;
}

void ReadMaterialShader(const ShaderDefinition& shader, Material* material) {
    material->sort = ShaderSortOf(shader);
    material->opaque = material->sort <= static_cast<float>(kSortOpaque);
    material->polygonOffset = shader.polygonOffset;
    material->noMipmaps = shader.noMipmaps;
    material->sides = shader.sides;
    for (int d = 0; d < shader.deformCount && d < ShaderDefinition::kMaxDeforms; ++d) {
        const VertexDeform& deform = shader.deforms[d];
        if (deform.kind == VertexDeform::Kind::kNormal && material->normalAmplitude == 0.0f) {
            material->normalAmplitude = deform.wave.amplitude;
            material->normalFrequency = deform.wave.frequency;
        } else if (deform.kind == VertexDeform::Kind::kAutosprite && material->sprite == Material::Sprite::kNone) {
            material->sprite = Material::Sprite::kFacing;
        } else if (deform.kind == VertexDeform::Kind::kAutosprite2 && material->sprite == Material::Sprite::kNone) {
            material->sprite = Material::Sprite::kAroundLongAxis;
        } else if ((deform.kind == VertexDeform::Kind::kWave || deform.kind == VertexDeform::Kind::kBulge ||
                    deform.kind == VertexDeform::Kind::kMove) &&
                   !material->deformed) {
            material->deformed = true;
            material->deform = deform;
        }
    }
    // Turned towards the eye, a sprite's winding says nothing of its sides.
    if (material->sprite != Material::Sprite::kNone) material->sides = FaceSides::kBoth;
}

int StageFrameAt(const MaterialStage& stage, double milliseconds) {
    if (stage.frameCount <= 1) return 0;
    const double frames = std::floor(milliseconds / 1000.0 * stage.script.framesPerSecond);
    if (!std::isfinite(frames)) return 0;
    const double index = std::fmod(frames, static_cast<double>(stage.frameCount));
    const int frame = static_cast<int>(index < 0.0 ? index + stage.frameCount : index);
    return std::min(std::max(frame, 0), stage.frameCount - 1);
}

void TexCoordTransformsAt(const TexCoordMotion* motions, int count, bool repeats, double seconds,
                          TexCoordMatrix* before, TexCoordMatrix* after, const TexCoordMotion** turb) {
    Affine first, second;
    *turb = nullptr;
    count = std::min(std::max(count, 0), ShaderScriptStage::kMaxMotions);
    for (int i = 0; i < count; ++i) {
        const TexCoordMotion& motion = motions[i];
        if (motion.kind == TexCoordMotion::Kind::kTurb) {
            // One turb is drawn; later ones are left out.
            if (*turb == nullptr) *turb = &motion;
            continue;
        }
        Affine& target = *turb == nullptr ? first : second;
        target = Then(target, MotionAffine(motion, seconds));
    }
    if (*turb != nullptr) {
        // The offset before the turb goes through the transforms after it,
        // so that it is brought back by whole repeats where it lands.
        Affine offset;
        offset.m[2] = first.m[2];
        offset.m[5] = first.m[5];
        second = Then(offset, second);
        first.m[2] = first.m[5] = 0.0;
    }
    *before = ToMatrix(first, repeats);
    *after = ToMatrix(second, repeats);
}

void TexCoordTransformsAt(const ShaderScriptStage& stage, double seconds, TexCoordMatrix* before,
                          TexCoordMatrix* after, const TexCoordMotion** turb) {
    TexCoordTransformsAt(stage.motions, stage.motionCount, !stage.clamp, seconds, before, after, turb);
}

void ComputeStageConstants(const Material& material, const MaterialStage& stage, double milliseconds,
                           const float eye[3], StageConstants* out) {
    std::memset(out, 0, sizeof *out);
    const ShaderScriptStage& script = stage.script;
    const double seconds = milliseconds / 1000.0;
    float (*v)[4] = out->vertex;

    // Texture coordinates: where they come from (c5-c8).
    switch (script.texCoordSource) {
        case TexCoordSource::kBase:
            Set(v[0], 1, 0, 0, 0);
            Set(v[1], 0, 1, 0, 0);
            break;
        case TexCoordSource::kLightmap:
            Set(v[0], 0, 0, 1, 0);
            Set(v[1], 0, 0, 0, 1);
            break;
        case TexCoordSource::kEnvironment:
            v[2][3] = 1.0f;
            v[3][3] = 1.0f;
            break;
        case TexCoordSource::kVector:
            // Written in the file's axes (Z up); ours have Y up.
            for (int k = 0; k < 2; ++k) {
                const float* w = script.texCoordVectors[k];
                Set(v[2 + k], w[0], w[2], w[1], 0.0f);
            }
            break;
    }
    Set(v[4], eye[0], eye[1], eye[2], script.portalRange > 0.0f ? 1.0f / script.portalRange : 0.0f);

    // Their transforms (c10-c14).
    TexCoordMatrix before, after;
    const TexCoordMotion* turb = nullptr;
    TexCoordTransformsAt(script, seconds, &before, &after, &turb);
    Set(v[5], before.m[0], before.m[1], before.m[2], 0.0f);
    Set(v[6], before.m[3], before.m[4], before.m[5], 0.0f);
    if (turb != nullptr) {
        const float phase = static_cast<float>(Fraction(turb->wave.phase + seconds * turb->wave.frequency));
        Set(v[7], turb->wave.base, turb->wave.amplitude, phase, 1.0f);
    }
    Set(v[8], after.m[0], after.m[1], after.m[2], 0.0f);
    Set(v[9], after.m[3], after.m[4], after.m[5], 0.0f);

    // Colour (c15, c16): base + weight * vertex colour.
    float* base = v[10];
    float* weight = v[11];
    switch (script.colourSource) {
        case ColourSource::kIdentity:
        case ColourSource::kEntity: Set(base, 1, 1, 1, 0); break;
        case ColourSource::kVertex:
        case ColourSource::kLightingDiffuse: Set(weight, 1, 1, 1, 0); break;
        case ColourSource::kOneMinusVertex:
            Set(base, 1, 1, 1, 0);
            Set(weight, -1, -1, -1, 0);
            break;
        case ColourSource::kWave: {
            const float grey = Clamp01(WaveValue(script.colourWave, seconds));
            Set(base, grey, grey, grey, 0);
            break;
        }
        case ColourSource::kConst: Set(base, script.colour[0], script.colour[1], script.colour[2], 0); break;
        case ColourSource::kOneMinusEntity: break;
    }
    // The lightmap stage is lit by the vertices where a face has no lightmap
    // (its lightmap is then white); lightmapped faces have white vertices.
    if (stage.image == MaterialStage::Image::kLightmap && script.colourSource == ColourSource::kIdentity) {
        Set(base, 0, 0, 0, 0);
        Set(weight, 1, 1, 1, 0);
    }
    float* extra = v[12];
    switch (script.alphaSource) {
        case AlphaSource::kIdentity:
        case AlphaSource::kEntity: base[3] = 1.0f; break;
        case AlphaSource::kConst: base[3] = Clamp01(script.alpha); break;
        case AlphaSource::kWave: base[3] = Clamp01(WaveValue(script.alphaWave, seconds)); break;
        case AlphaSource::kVertex: weight[3] = 1.0f; break;
        case AlphaSource::kOneMinusVertex:
            base[3] = 1.0f;
            weight[3] = -1.0f;
            break;
        case AlphaSource::kLightingSpecular: extra[0] = 1.0f; break;
        case AlphaSource::kPortal: extra[1] = 1.0f; break;
        case AlphaSource::kOneMinusEntity: break;
    }

    // The vertex deform (c18-c21).
    if (material.deformed) {
        const VertexDeform& deform = material.deform;
        float forms[4];
        float waveBase = 0.0f, amplitude = 0.0f;
        switch (deform.kind) {
            case VertexDeform::Kind::kWave:
            case VertexDeform::Kind::kMove: {
                FormWeights(deform.wave, forms, &waveBase, &amplitude);
                float phase = static_cast<float>(Fraction(deform.wave.phase + seconds * deform.wave.frequency));
                if (deform.wave.form == WaveForm::kNoise) {
                    // No noise on the device: the whole surface moves together.
                    forms[0] = 0.0f;
                    waveBase = WaveValue(deform.wave, seconds);
                    amplitude = 0.0f;
                    phase = 0.0f;
                }
                const bool wave = deform.kind == VertexDeform::Kind::kWave;
                // The wave's phase runs along the surface by spread per unit
                // of x + y + z.
                Set(v[13], waveBase, amplitude, phase, wave ? deform.spread : 0.0f);
                std::memcpy(v[14], forms, sizeof forms);
                if (wave) {
                    Set(v[15], 0, 0, 0, 1);
                } else {
                    const float* m = deform.moveVector;
                    Set(v[15], m[0], m[2], m[1], 0);
                }
                break;
            }
            case VertexDeform::Kind::kBulge: {
                const float turns = static_cast<float>(Fraction(seconds * deform.bulgeSpeed / kTwoPi));
                Set(v[13], 0.0f, deform.bulgeHeight, turns, 0.0f);
                Set(v[14], 1, 0, 0, 0);
                Set(v[15], 0, 0, 0, 1);
                v[16][0] = static_cast<float>(deform.bulgeWidth / kTwoPi);
                break;
            }
            default: break;
        }
    }

    // The normal wobble (c28): its amplitude and where its period stands.
    if (material.normalAmplitude != 0.0f) {
        out->normal[0] = material.normalAmplitude;
        out->normal[1] = static_cast<float>(Fraction(seconds * material.normalFrequency));
    }

    // The alpha test (pixel c22): a pixel is kept where a * x + y >= 0; the
    // thresholds lie halfway between the 8-bit steps they part.
    float* test = out->pixel[0];
    switch (script.alphaTest) {
        case AlphaTest::kNone: Set(test, 0, 1, 0, 0); break;
        case AlphaTest::kGreaterThanZero: Set(test, 1, -0.5f / 255.0f, 0, 0); break;
        case AlphaTest::kLessThanHalf: Set(test, -1, 0.5f, 0, 0); break;
        case AlphaTest::kAtLeastHalf: Set(test, 1, -0.5f, 0, 0); break;
    }
}
