// What a material's stages draw with at a given time: the texture
// coordinate transforms of their tcMods in order, the animation frame,
// the colour and alpha sources and the alpha test as the stage shader
// reads them, and which scripts need no material at all.
#include "video/materials.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "video/shader_scripts.h"

namespace {

// (s, t) through a matrix.
void Apply(const TexCoordMatrix& m, float s, float t, float* outS, float* outT) {
    *outS = m.m[0] * s + m.m[1] * t + m.m[2];
    *outT = m.m[3] * s + m.m[4] * t + m.m[5];
}

TexCoordMotion Motion(TexCoordMotion::Kind kind, float s, float t) {
    TexCoordMotion motion;
    motion.kind = kind;
    motion.s = s;
    motion.t = t;
    return motion;
}

ShaderDefinition Parse(const std::string& text) {
    ShaderTable table;
    EXPECT_EQ(table.AddScript("test.shader", text.data(), text.size(), nullptr), 1);
    const ShaderDefinition* shader = table.Find("textures/test/x");
    return shader != nullptr ? *shader : ShaderDefinition();
}

TEST(MaterialTexCoords, TcModsApplyInTheOrderWritten) {
    ShaderScriptStage stage;
    stage.motions[0] = Motion(TexCoordMotion::Kind::kScale, 2.0f, 4.0f);
    stage.motions[1] = Motion(TexCoordMotion::Kind::kScroll, 0.25f, 0.5f);
    stage.motionCount = 2;
    TexCoordMatrix before, after;
    const TexCoordMotion* turb = nullptr;
    TexCoordTransformsAt(stage, 1.0, &before, &after, &turb);
    EXPECT_EQ(turb, nullptr);
    float s = 0, t = 0;
    Apply(before, 0.1f, 0.1f, &s, &t);  // scaled, then moved
    EXPECT_NEAR(s, 0.45f, 1e-5f);
    EXPECT_NEAR(t, 0.9f, 1e-5f);

    std::swap(stage.motions[0], stage.motions[1]);  // moved, then scaled
    TexCoordTransformsAt(stage, 1.0, &before, &after, &turb);
    Apply(before, 0.1f, 0.1f, &s, &t);
    EXPECT_NEAR(s, 0.7f, 1e-5f);
    EXPECT_NEAR(t, 2.4f, 1e-5f);
}

TEST(MaterialTexCoords, ScrollsStayPreciseAfterHoursOnTheClock) {
    ShaderScriptStage stage;
    stage.motions[0] = Motion(TexCoordMotion::Kind::kScroll, 0.3f, -0.7f);
    stage.motionCount = 1;
    TexCoordMatrix before, after;
    const TexCoordMotion* turb = nullptr;
    TexCoordTransformsAt(stage, 10.0 * 3600.0 + 0.5, &before, &after, &turb);
    EXPECT_GE(before.m[2], 0.0f);
    EXPECT_LT(before.m[2], 1.0f);
    EXPECT_NEAR(before.m[2], 0.15f, 1e-3f);
    EXPECT_NEAR(before.m[5], 0.65f, 1e-3f);
}

TEST(MaterialTexCoords, AScrollThenAFractionalScaleMovesTheImageSmoothly) {
    // Scrolled 1.5 images in two seconds, then halved: 0.75 of an image. A
    // whole image dropped before the halving would put it at 0.25.
    ShaderScriptStage stage;
    stage.motions[0] = Motion(TexCoordMotion::Kind::kScroll, 0.75f, 0.0f);
    stage.motions[1] = Motion(TexCoordMotion::Kind::kScale, 0.5f, 1.0f);
    stage.motionCount = 2;
    TexCoordMatrix before, after;
    const TexCoordMotion* turb = nullptr;
    for (const double seconds : {2.0, 2.0 + 4000.0}) {  // and hours later, whole repeats on
        TexCoordTransformsAt(stage, seconds, &before, &after, &turb);
        const float offset = before.m[2] - std::floor(before.m[2]);
        EXPECT_NEAR(offset, 0.75f, 1e-3f) << seconds;
    }
    // Through a turb the offset before it lands after it, halved alike.
    stage.motions[2] = stage.motions[1];
    stage.motions[1] = Motion(TexCoordMotion::Kind::kTurb, 0.0f, 0.0f);
    stage.motionCount = 3;
    TexCoordTransformsAt(stage, 2.0, &before, &after, &turb);
    EXPECT_EQ(turb, &stage.motions[1]);
    EXPECT_FLOAT_EQ(before.m[2], 0.0f);
    EXPECT_NEAR(after.m[2] - std::floor(after.m[2]), 0.75f, 1e-5f);
}

TEST(MaterialTexCoords, RotateStretchAndTransformKeepTheirCentres) {
    ShaderScriptStage stage;
    stage.motions[0] = Motion(TexCoordMotion::Kind::kRotate, 90.0f, 0.0f);
    stage.motionCount = 1;
    TexCoordMatrix before, after;
    const TexCoordMotion* turb = nullptr;
    TexCoordTransformsAt(stage, 1.0, &before, &after, &turb);
    float s = 0, t = 0;
    Apply(before, 0.5f, 0.5f, &s, &t);  // the middle stays
    EXPECT_NEAR(s, 0.5f, 1e-5f);
    EXPECT_NEAR(t, 0.5f, 1e-5f);
    Apply(before, 1.0f, 0.5f, &s, &t);  // a quarter turn moves the right edge's middle to top or bottom
    EXPECT_NEAR(s, 0.5f, 1e-5f);
    EXPECT_NEAR(std::fabs(t - 0.5f), 0.5f, 1e-5f);

    stage.motions[0].kind = TexCoordMotion::Kind::kStretch;
    stage.motions[0].wave.form = WaveForm::kSquare;
    stage.motions[0].wave.base = 2.0f;  // square at 0: +1, so the value is 2 + 0 * 1
    TexCoordTransformsAt(stage, 0.0, &before, &after, &turb);
    Apply(before, 1.0f, 0.5f, &s, &t);
    EXPECT_NEAR(s, 0.75f, 1e-5f);  // shrunk by half around the middle
    EXPECT_NEAR(t, 0.5f, 1e-5f);

    stage.motions[0].kind = TexCoordMotion::Kind::kTransform;
    const float matrix[6] = {0.0f, 1.0f, 1.0f, 0.0f, 0.25f, 0.5f};  // s and t exchanged, then moved
    std::copy(matrix, matrix + 6, stage.motions[0].matrix);
    TexCoordTransformsAt(stage, 0.0, &before, &after, &turb);
    Apply(before, 0.1f, 0.3f, &s, &t);
    EXPECT_NEAR(s, 0.55f, 1e-5f);
    EXPECT_NEAR(t, 0.6f, 1e-5f);
}

TEST(MaterialTexCoords, ATurbSplitsTheTransformsAroundIt) {
    ShaderScriptStage stage;
    stage.motions[0] = Motion(TexCoordMotion::Kind::kScale, 2.0f, 2.0f);
    stage.motions[1] = Motion(TexCoordMotion::Kind::kTurb, 0.0f, 0.0f);
    stage.motions[2] = Motion(TexCoordMotion::Kind::kScale, 3.0f, 3.0f);
    stage.motions[3] = Motion(TexCoordMotion::Kind::kTurb, 0.0f, 0.0f);
    stage.motionCount = 4;
    TexCoordMatrix before, after;
    const TexCoordMotion* turb = nullptr;
    TexCoordTransformsAt(stage, 0.0, &before, &after, &turb);
    EXPECT_EQ(turb, &stage.motions[1]);  // the first; the second is left out
    EXPECT_FLOAT_EQ(before.m[0], 2.0f);
    EXPECT_FLOAT_EQ(after.m[0], 3.0f);

    stage.motionCount = 1000;  // a count past the table reads no further than it
    TexCoordTransformsAt(stage, 0.0, &before, &after, &turb);
    EXPECT_FLOAT_EQ(after.m[0], 3.0f);
}

TEST(MaterialFrames, AnimationsCycleThroughTheirFramesAtAnyTime) {
    MaterialStage stage;
    stage.frameCount = 3;
    stage.script.framesPerSecond = 4.0f;
    EXPECT_EQ(StageFrameAt(stage, 0.0), 0);
    EXPECT_EQ(StageFrameAt(stage, 260.0), 1);
    EXPECT_EQ(StageFrameAt(stage, 510.0), 2);
    EXPECT_EQ(StageFrameAt(stage, 760.0), 0);
    EXPECT_EQ(StageFrameAt(stage, -260.0), 1);  // frame -2, counted from the end
    EXPECT_EQ(StageFrameAt(stage, 1e18), StageFrameAt(stage, 1e18));
    const int huge = StageFrameAt(stage, 1e300);
    EXPECT_GE(huge, 0);
    EXPECT_LT(huge, 3);
    stage.script.framesPerSecond = std::numeric_limits<float>::infinity();
    EXPECT_EQ(StageFrameAt(stage, 100.0), 0);
    stage.frameCount = 1;
    EXPECT_EQ(StageFrameAt(stage, 760.0), 0);
}

TEST(MaterialConstants, ColourAlphaAndAlphaTestAsTheShaderReadsThem) {
    Material material;
    MaterialStage stage;
    const float eye[3] = {0, 0, 0};
    StageConstants constants;

    // One minus the vertex colour: 1 - vertex.
    stage.script.colourSource = ColourSource::kOneMinusVertex;
    stage.script.alphaSource = AlphaSource::kConst;
    stage.script.alpha = 0.25f;
    ComputeStageConstants(material, stage, 0.0, eye, &constants);
    EXPECT_FLOAT_EQ(constants.vertex[10][0], 1.0f);
    EXPECT_FLOAT_EQ(constants.vertex[11][0], -1.0f);
    EXPECT_FLOAT_EQ(constants.vertex[10][3], 0.25f);
    EXPECT_FLOAT_EQ(constants.vertex[11][3], 0.0f);

    // A colour wave is clamped to what a colour can be.
    stage.script.colourSource = ColourSource::kWave;
    stage.script.colourWave.form = WaveForm::kSquare;
    stage.script.colourWave.base = 0.5f;
    stage.script.colourWave.amplitude = 2.0f;
    ComputeStageConstants(material, stage, 0.0, eye, &constants);
    EXPECT_FLOAT_EQ(constants.vertex[10][1], 1.0f);

    // The lightmap stage takes the vertices' light where a face has none.
    stage.image = MaterialStage::Image::kLightmap;
    stage.script.colourSource = ColourSource::kIdentity;
    ComputeStageConstants(material, stage, 0.0, eye, &constants);
    EXPECT_FLOAT_EQ(constants.vertex[10][0], 0.0f);
    EXPECT_FLOAT_EQ(constants.vertex[11][0], 1.0f);

    // The alpha test keeps a pixel where alpha * x + y >= 0.
    const struct {
        AlphaTest test;
        float keptAlpha, droppedAlpha;
    } tests[] = {{AlphaTest::kGreaterThanZero, 1.0f / 255.0f, 0.0f},
                 {AlphaTest::kAtLeastHalf, 128.0f / 255.0f, 127.0f / 255.0f},
                 {AlphaTest::kLessThanHalf, 127.0f / 255.0f, 128.0f / 255.0f}};
    for (const auto& c : tests) {
        stage.script.alphaTest = c.test;
        ComputeStageConstants(material, stage, 0.0, eye, &constants);
        const float* k = constants.pixel[0];
        EXPECT_GE(c.keptAlpha * k[0] + k[1], 0.0f);
        EXPECT_LT(c.droppedAlpha * k[0] + k[1], 0.0f);
    }
    stage.script.alphaTest = AlphaTest::kNone;
    ComputeStageConstants(material, stage, 0.0, eye, &constants);
    EXPECT_GE(0.0f * constants.pixel[0][0] + constants.pixel[0][1], 0.0f);
}

TEST(MaterialConstants, DeformsMoveAlongTheirDirection) {
    Material material;
    material.deformed = true;
    material.deform.kind = VertexDeform::Kind::kMove;
    material.deform.moveVector[0] = 1.0f;
    material.deform.moveVector[1] = 2.0f;  // the file's Y is our Z
    material.deform.moveVector[2] = 3.0f;
    material.deform.wave.form = WaveForm::kInverseSawtooth;
    material.deform.wave.base = 1.0f;
    material.deform.wave.amplitude = 4.0f;
    MaterialStage stage;
    const float eye[3] = {0, 0, 0};
    StageConstants constants;
    ComputeStageConstants(material, stage, 0.0, eye, &constants);
    EXPECT_FLOAT_EQ(constants.vertex[15][0], 1.0f);
    EXPECT_FLOAT_EQ(constants.vertex[15][1], 3.0f);
    EXPECT_FLOAT_EQ(constants.vertex[15][2], 2.0f);
    EXPECT_FLOAT_EQ(constants.vertex[15][3], 0.0f);  // not along the normal
    // An inverse sawtooth is a sawtooth turned over: 5 - 4 * frac(x).
    EXPECT_FLOAT_EQ(constants.vertex[13][0], 5.0f);
    EXPECT_FLOAT_EQ(constants.vertex[13][1], -4.0f);
    EXPECT_FLOAT_EQ(constants.vertex[14][3], 1.0f);
    EXPECT_FLOAT_EQ(constants.normal[0], 0.0f);  // no wobble asked for

    // The normals' wobble: its amplitude, and its phase at 0.25 s of 2 Hz.
    material.normalAmplitude = 0.5f;
    material.normalFrequency = 2.0f;
    ComputeStageConstants(material, stage, 250.0, eye, &constants);
    EXPECT_FLOAT_EQ(constants.normal[0], 0.5f);
    EXPECT_FLOAT_EQ(constants.normal[1], 0.5f);
}

TEST(MaterialScripts, OnlyImageTimesLightmapNeedsNoMaterial) {
    const char* plain[] = {
        "{\n{\nmap $lightmap\n}\n{\nmap textures/a.tga\nblendFunc filter\n}\n}",
        "{\n{\nmap textures/a.tga\n}\n{\nmap $lightmap\nblendFunc GL_DST_COLOR GL_ZERO\n}\n}",
        "{\n{\nmap textures/a.tga\nrgbGen identity\n}\n{\nmap $lightmap\nblendFunc GL_ZERO GL_SRC_COLOR\n}\n}",
    };
    for (const char* body : plain) {
        SCOPED_TRACE(body);
        EXPECT_TRUE(IsPlainLightmapped(Parse(std::string("textures/test/x\n") + body)));
    }
    const char* drawn[] = {
        "{\n{\nmap textures/a.tga\n}\n}",  // no lightmap: full bright
        "{\n{\nmap $lightmap\n}\n{\nmap textures/a.tga\nblendFunc add\n}\n}",
        "{\n{\nmap textures/a.tga\ntcMod scroll 1 0\n}\n{\nmap $lightmap\nblendFunc filter\n}\n}",
        "{\n{\nmap textures/a.tga\nalphaFunc GE128\n}\n{\nmap $lightmap\nblendFunc filter\n}\n}",
        "{\ndeformVertexes wave 100 sin 0 1 0 1\n{\nmap textures/a.tga\n}\n{\nmap $lightmap\nblendFunc filter\n}\n}",
        "{\nsort additive\n{\nmap textures/a.tga\n}\n{\nmap $lightmap\nblendFunc filter\n}\n}",
        "{\n{\nmap textures/a.tga\n}\n{\nmap $lightmap\nblendFunc filter\n}\n{\nmap textures/b.tga\nblendFunc add\n}\n}",
    };
    for (const char* body : drawn) {
        SCOPED_TRACE(body);
        EXPECT_FALSE(IsPlainLightmapped(Parse(std::string("textures/test/x\n") + body)));
    }
}

}  // namespace
