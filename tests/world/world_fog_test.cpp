// Fog volumes read from world files: each boxed by its brush, faces naming
// them by index, damaged fogs kept in place but never handed out; and the
// length of a sight line that runs through a fog's box.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support/bsp_builder.h"
#include "support/test_support.h"
#include "world/fog.h"
#include "world/world_parse.h"

namespace {

using Lines = std::vector<std::string>;

class WorldFogs : public ::testing::Test {
protected:
    // The records of a file that must load; null (with a failure) when not.
    std::unique_ptr<WorldData> Parse(const BspBuilder& b, Lines* lines = nullptr) {
        PrintCapture output;
        auto data = std::make_unique<WorldData>();
        const bool read = ParseWorldBytes(b.Bytes(), "maps/fog.lmf", data.get());
        if (lines != nullptr) *lines = output.Lines();
        if (read) return data;
        ADD_FAILURE() << ::testing::PrintToString(output.Lines());
        return nullptr;
    }

    // A brush of the given outward planes (world space, Y up).
    static int32_t Brush(BspBuilder* b, const std::vector<BspPlane>& planes) {
        const int32_t first = static_cast<int32_t>(b->BrushSides().size());
        for (const BspPlane& p : planes) b->AddBrushSide(b->AddPlane(p.normal[0], p.normal[1], p.normal[2], p.dist));
        return b->AddBrush(first, static_cast<int32_t>(planes.size()), 0);
    }

    static Lines Warnings(const Lines& lines) {
        Lines warnings;
        for (const std::string& line : lines) {
            if (line.rfind("Warning:", 0) == 0) warnings.push_back(line);
        }
        return warnings;
    }
};

void ExpectBox(const WorldFog& fog, const std::vector<float>& expected, float tolerance = 0.001f) {
    ASSERT_TRUE(fog.usable) << fog.shader;
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(fog.bounds[k], expected[static_cast<size_t>(k)], tolerance) << "bound " << k;
}

}  // namespace

TEST_F(WorldFogs, FogsTakeTheBoxOfTheirBrushAndFacesNameThem) {
    BspBuilder b = BspBuilder::MinimalWorld();
    const int32_t box = b.AddBoxBrush({{-40, -8, 16}, {24, 72, 80}}, 0);
    // A corner of a cube cut off by a slanted plane: no side faces +x, +y or
    // +z, so only the corners give the high end.
    const float slant = 1.0f / std::sqrt(3.0f);
    const int32_t wedge = Brush(&b, {{{-1, 0, 0}, 0}, {{0, -1, 0}, 0}, {{0, 0, -1}, 0}, {{slant, slant, slant}, 30 * slant}});
    // A column turned 45 degrees about Y: its box is wider than any side.
    const float half = std::sqrt(0.5f);
    const int32_t turned = Brush(&b, {{{half, 0, half}, 10},
                                      {{-half, 0, half}, 10},
                                      {{half, 0, -half}, 10},
                                      {{-half, 0, -half}, 10},
                                      {{0, 1, 0}, 50},
                                      {{0, -1, 0}, -20}});
    b.AddFog("textures/fog/box", box, 2);
    b.AddFog("textures/fog/wedge", wedge);
    b.AddFog("textures/fog/turned", turned);
    b.Faces()[0].effect = 1;
    b.Faces()[1].effect = -1;
    b.BuildSingleLeafTree();
    Lines lines;
    std::unique_ptr<WorldData> world = Parse(b, &lines);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(Warnings(lines), Lines{});

    ASSERT_EQ(world->fogs.size(), 3u);
    EXPECT_EQ(world->fogs[0].shader, "textures/fog/box");
    EXPECT_EQ(world->fogs[0].brush, box);
    EXPECT_EQ(world->fogs[0].visibleSide, 2);
    ExpectBox(world->fogs[0], {-40, -8, 16, 24, 72, 80});
    ExpectBox(world->fogs[1], {0, 0, 0, 30, 30, 30});
    const float reach = 10 * std::sqrt(2.0f);
    ExpectBox(world->fogs[2], {-reach, 20, -reach, reach, 50, reach});

    EXPECT_EQ(FaceFog(*world, 0), 1);
    EXPECT_EQ(FaceFog(*world, 1), -1);
    EXPECT_EQ(FaceFog(*world, world->faces.size()), -1);
}

TEST_F(WorldFogs, FogsWithoutABoxStayInPlaceButAreNeverHandedOut) {
    BspBuilder b = BspBuilder::MinimalWorld();
    const int32_t good = b.AddBoxBrush({{0, 0, 0}, {10, 10, 10}}, 0);
    // A box without its +x side: open towards +x.
    const int32_t open = Brush(&b, {{{-1, 0, 0}, 0}, {{0, 1, 0}, 1}, {{0, -1, 0}, 0}, {{0, 0, 1}, 1}, {{0, 0, -1}, 0}});
    // Open too, though its corners alone span a box (x = 0 .. 1).
    const float half = std::sqrt(0.5f);
    const int32_t slantedOpen = Brush(
        &b, {{{-1, 0, 0}, 0}, {{-half, half, 0}, 0}, {{0, 1, 0}, 1}, {{0, -1, 0}, 0}, {{0, 0, 1}, 1}, {{0, 0, -1}, 0}});
    // Sides that no point satisfies together.
    const int32_t empty = Brush(&b, {{{1, 0, 0}, 0},
                                     {{-1, 0, 0}, -10},
                                     {{0, 1, 0}, 1},
                                     {{0, -1, 0}, 0},
                                     {{0, 0, 1}, 1},
                                     {{0, 0, -1}, 0}});
    // A flat brush: no thickness along y.
    const int32_t flat = Brush(&b, {{{1, 0, 0}, 1}, {{-1, 0, 0}, 0}, {{0, 1, 0}, 5}, {{0, -1, 0}, -5}, {{0, 0, 1}, 1},
                                    {{0, 0, -1}, 0}});
    const int32_t brushes = static_cast<int32_t>(b.Brushes().size());
    b.AddFog("textures/fog/missing", brushes);
    b.AddFog("textures/fog/negative", -1);
    b.AddFog("textures/fog/open", open);
    b.AddFog("textures/fog/slanted", slantedOpen);
    b.AddFog("textures/fog/empty", empty);
    b.AddFog("textures/fog/flat", flat);
    b.AddFog("textures/fog/good", good);
    b.Faces()[0].effect = 6;  // the good one, after the damaged fogs
    b.Faces()[1].effect = 2;
    b.BuildSingleLeafTree();
    Lines lines;
    std::unique_ptr<WorldData> world = Parse(b, &lines);
    ASSERT_NE(world, nullptr);

    const std::string count = std::to_string(brushes);
    auto noBox = [](int fog, const char* name, int32_t brush) {
        return "Warning: fog " + std::to_string(fog) + " (textures/fog/" + name + ") of maps/fog.lmf: brush " +
               std::to_string(brush) + " encloses no box; left out";
    };
    EXPECT_EQ(Warnings(lines),
              (Lines{"Warning: fog 0 (textures/fog/missing) of maps/fog.lmf names brush " + count + ", but there are " +
                         count + " brushes; left out",
                     "Warning: fog 1 (textures/fog/negative) of maps/fog.lmf names brush -1, but there are " + count +
                         " brushes; left out",
                     noBox(2, "open", open), noBox(3, "slanted", slantedOpen), noBox(4, "empty", empty),
                     noBox(5, "flat", flat)}));
    ASSERT_EQ(world->fogs.size(), 7u);
    for (size_t f = 0; f < 6; ++f) EXPECT_FALSE(world->fogs[f].usable) << f;
    ExpectBox(world->fogs[6], {0, 0, 0, 10, 10, 10});
    EXPECT_EQ(FaceFog(*world, 0), 6);
    EXPECT_EQ(FaceFog(*world, 1), -1);

    // A face naming a fog past the end of the list.
    world->faces[1].effect = 7;
    EXPECT_EQ(FaceFog(*world, 1), -1);
}

TEST_F(WorldFogs, ADamagedFogsLumpCostsOnlyTheFogs) {
    BspBuilder b = BspBuilder::MinimalWorld();
    b.AddFog("textures/fog/a", b.AddBoxBrush({{0, 0, 0}, {8, 8, 8}}, 0));
    b.Faces()[0].effect = 0;
    b.BuildSingleLeafTree();

    BspBuilder partial = b;
    partial.PadLump(kLumpEffects, 5);
    Lines lines;
    std::unique_ptr<WorldData> world = Parse(partial, &lines);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(Warnings(lines), Lines{"Warning: the fogs of maps/fog.lmf take 77 bytes, not a whole number of "
                                     "72-byte records; no fogs"});
    EXPECT_TRUE(world->fogs.empty());
    EXPECT_EQ(FaceFog(*world, 0), -1);

    BspBuilder outside = b;
    outside.OverrideLump(kLumpEffects, 64, 1 << 30);
    world = Parse(outside, &lines);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(Warnings(lines), Lines{"Warning: the fogs of maps/fog.lmf lie outside the file; no fogs"});
    EXPECT_EQ(FaceFog(*world, 0), -1);

    world = Parse(b);
    ASSERT_NE(world, nullptr);
    EXPECT_EQ(FaceFog(*world, 0), 0);
}

TEST_F(WorldFogs, PastTheCornerBudgetFogsAreBoxedByAxialSidesAndWarningsAreCapped) {
    BspBuilder b = BspBuilder::MinimalWorld();
    // Sixty sides: a box and 54 copies of its top. Every fog names it, far
    // more than the corner search may afford; the rest are boxed by the
    // axis-aligned sides, to the same box.
    std::vector<BspPlane> sides = {{{1, 0, 0}, 5}, {{-1, 0, 0}, 5}, {{0, 1, 0}, 6},
                                   {{0, -1, 0}, 6}, {{0, 0, 1}, 7}, {{0, 0, -1}, 7}};
    while (sides.size() < 60) sides.push_back(sides[2]);
    const int32_t big = Brush(&b, sides);
    // The same many sides, all facing up: no box either way.
    const int32_t hopeless = Brush(&b, std::vector<BspPlane>(80, BspPlane{{0, 1, 0}, 1}));
    for (int f = 0; f < 100; ++f) b.AddFog("textures/fog/big", big);
    for (int f = 0; f < 20; ++f) b.AddFog("textures/fog/hopeless", hopeless);
    b.BuildSingleLeafTree();
    Lines lines;
    std::unique_ptr<WorldData> world = Parse(b, &lines);
    ASSERT_NE(world, nullptr);
    ASSERT_EQ(world->fogs.size(), 120u);
    for (size_t f = 0; f < 100; ++f) ExpectBox(world->fogs[f], {-5, -6, -7, 5, 6, 7});
    for (size_t f = 100; f < 120; ++f) EXPECT_FALSE(world->fogs[f].usable);

    // Eight fogs are named, the rest counted.
    const Lines warnings = Warnings(lines);
    ASSERT_EQ(warnings.size(), 9u);
    EXPECT_EQ(warnings[0], "Warning: fog 100 (textures/fog/hopeless) of maps/fog.lmf: brush " +
                               std::to_string(hopeless) + " encloses no box; left out");
    EXPECT_EQ(warnings[8], "Warning: 12 more fogs of maps/fog.lmf are left out");
}

TEST(FogDepth, TheLengthOfTheSightLineInsideTheBox) {
    const float box[6] = {0, 0, 0, 10, 20, 30};
    auto depth = [&box](std::vector<float> eye, std::vector<float> point) {
        return FogDepthInside(eye.data(), point.data(), box);
    };
    // Straight through along x, and the same line the other way.
    EXPECT_FLOAT_EQ(depth({-5, 10, 10}, {15, 10, 10}), 10.0f);
    EXPECT_FLOAT_EQ(depth({15, 10, 10}, {-5, 10, 10}), 10.0f);
    // Slanted through two faces: x 0 .. 10 at y = x + 5, so sqrt(200).
    EXPECT_NEAR(depth({-5, 0, 15}, {15, 20, 15}), std::sqrt(200.0f), 1e-4f);
    // From inside out through the top, a third of the way along a line of
    // length 50 (the far end z would leave only half way).
    EXPECT_NEAR(depth({5, 10, 10}, {5, 40, 50}), 50.0f / 3.0f, 1e-4f);
    // Both ends inside: the whole segment.
    EXPECT_NEAR(depth({1, 2, 3}, {4, 6, 3}), 5.0f, 1e-5f);
    // Into the box and stopping inside it.
    EXPECT_FLOAT_EQ(depth({5, 10, -20}, {5, 10, 4}), 4.0f);
}

TEST(FogDepth, MissesTouchesAndDegenerateInputsGiveNothing) {
    const float box[6] = {0, 0, 0, 10, 20, 30};
    auto depth = [&box](std::vector<float> eye, std::vector<float> point) {
        return FogDepthInside(eye.data(), point.data(), box);
    };
    EXPECT_EQ(depth({-5, 10, 10}, {-1, 10, 10}), 0.0f);   // stops short
    EXPECT_EQ(depth({-5, 30, 10}, {15, 30, 10}), 0.0f);   // passes above
    EXPECT_EQ(depth({-5, 5, 10}, {5, -5, 10}), 0.0f);     // meets only the edge x = y = 0
    EXPECT_EQ(depth({-5, 10, 10}, {0, 10, 10}), 0.0f);    // ends on a face
    EXPECT_EQ(depth({-5, 20, 10}, {15, 20, 10}), 0.0f);   // slides along the top face
    EXPECT_EQ(depth({-5, 15, 10}, {5, 25, 10}), 0.0f);    // meets only the top edge at x = 0
    EXPECT_EQ(depth({5, 10, 10}, {5, 10, 10}), 0.0f);     // no length, inside
    EXPECT_EQ(depth({50, 10, 10}, {50, 10, 10}), 0.0f);   // no length, outside

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_EQ(depth({nan, 10, 10}, {5, 10, 10}), 0.0f);
    EXPECT_EQ(depth({-inf, 10, 10}, {5, 10, 10}), 0.0f);
    const float inverted[6] = {10, 0, 0, 0, 20, 30};
    const float eye[3] = {-5, 10, 10};
    const float point[3] = {15, 10, 10};
    EXPECT_EQ(FogDepthInside(eye, point, inverted), 0.0f);
    const float open[6] = {0, 0, 0, inf, 20, 30};
    EXPECT_EQ(FogDepthInside(eye, point, open), 0.0f);
}
