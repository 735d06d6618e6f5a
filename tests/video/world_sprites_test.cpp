// Quads turned towards the eye: squarely (autosprite) keeping their centre,
// size and upright image, or about their long axis (autosprite2) keeping
// that axis.
#include "video/world_sprites.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

GpuVertex Corner(float x, float y, float z, float s, float t) {
    GpuVertex v{};
    v.position[0] = x;
    v.position[1] = y;
    v.position[2] = z;
    v.texCoord[0] = s;
    v.texCoord[1] = t;
    v.colour = 0xFF102030;
    return v;
}

float Distance(const float* a, const float* b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

// The unit normal of the plane through the first three corners.
void Normal(const GpuVertex* q, float* n) {
    const float a[3] = {q[1].position[0] - q[0].position[0], q[1].position[1] - q[0].position[1],
                        q[1].position[2] - q[0].position[2]};
    const float b[3] = {q[2].position[0] - q[0].position[0], q[2].position[1] - q[0].position[1],
                        q[2].position[2] - q[0].position[2]};
    n[0] = a[1] * b[2] - a[2] * b[1];
    n[1] = a[2] * b[0] - a[0] * b[2];
    n[2] = a[0] * b[1] - a[1] * b[0];
    const float length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int k = 0; k < 3; ++k) n[k] /= length;
}

TEST(WorldSprites, AQuadTurnsSquarelyToTheEyeKeepingItsCentreSizeAndUprightImage) {
    // A flat quad on the floor, 20 wide, centred at (100, 0, 0); the eye
    // level with it, 100 units along -Z.
    const GpuVertex floor[4] = {Corner(90, 0, -10, 0, 0), Corner(110, 0, -10, 1, 0), Corner(110, 0, 10, 1, 1),
                                Corner(90, 0, 10, 0, 1)};
    const float eye[3] = {100, 0, -100};
    const float up[3] = {0, 1, 0};
    GpuVertex turned[4];
    TurnQuad(floor, turned, false, eye, up);
    float centre[3] = {0, 0, 0};
    for (const GpuVertex& v : turned) {
        for (int k = 0; k < 3; ++k) centre[k] += v.position[k] / 4.0f;
        EXPECT_EQ(v.colour, 0xFF102030u);
    }
    EXPECT_NEAR(centre[0], 100.0f, 1e-3f);
    EXPECT_NEAR(centre[1], 0.0f, 1e-3f);
    EXPECT_NEAR(centre[2], 0.0f, 1e-3f);
    float n[3];
    Normal(turned, n);
    EXPECT_NEAR(std::fabs(n[2]), 1.0f, 1e-4f);  // square to the way to the eye
    EXPECT_NEAR(Distance(turned[0].position, turned[1].position), 20.0f, 1e-3f);
    EXPECT_NEAR(Distance(turned[1].position, turned[2].position), 20.0f, 1e-3f);
    // The image's top row (t 0) above its bottom row.
    EXPECT_GT(turned[0].position[1], turned[3].position[1]);
    EXPECT_GT(turned[1].position[1], turned[2].position[1]);
    EXPECT_FLOAT_EQ(turned[2].texCoord[0], 1.0f);
}

TEST(WorldSprites, ABeamTurnsAboutItsLongAxisOnly) {
    // A tall thin quad along Y, facing +Z; the eye off to +X.
    const GpuVertex beam[4] = {Corner(-5, 0, 0, 0, 1), Corner(-5, 100, 0, 0, 0), Corner(5, 100, 0, 1, 0),
                               Corner(5, 0, 0, 1, 1)};
    const float eye[3] = {200, 50, 0};
    const float up[3] = {0, 1, 0};
    GpuVertex turned[4];
    TurnQuad(beam, turned, true, eye, up);
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(turned[i].position[1], beam[i].position[1], 1e-3f) << i;  // along the axis as before
        EXPECT_NEAR(turned[i].position[0], 0.0f, 1e-3f) << i;                  // the width now across the view
        EXPECT_NEAR(std::fabs(turned[i].position[2]), 5.0f, 1e-3f) << i;
    }
    EXPECT_NEAR(Distance(turned[0].position, turned[3].position), 10.0f, 1e-3f);

    // An eye on the axis itself, or at the centre, leaves finite corners.
    const float onAxis[3] = {0, 500, 0};
    TurnQuad(beam, turned, true, onAxis, up);
    const float atCentre[3] = {0, 50, 0};
    TurnQuad(beam, turned, false, atCentre, up);
    for (const GpuVertex& v : turned) {
        for (float p : v.position) EXPECT_TRUE(std::isfinite(p));
    }
}

}  // namespace
