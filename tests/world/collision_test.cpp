// Sphere sweeps, traces and sliding moves against small worlds built in
// memory: axis-aligned box brushes under a hand-made BSP tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "camera/camera_cvars.h"
#include "support/test_support.h"
#include "camera/physics.h"
#include "engine/world.h"
#include "world/collision.h"
#include "world/world_parse.h"

namespace {

constexpr int kSolid = 0;     // contents 1
constexpr int kWater = 1;     // contents 0x20: bit 0 clear
constexpr int kPlayerClip = 2;  // contents 0x10001: bit 0 set among others

int32_t Leaf(int32_t leaf) { return -(leaf + 1); }

int32_t AddPlane(WorldData& w, float nx, float ny, float nz, float dist) {
    w.planes.push_back(BspPlane{{nx, ny, nz}, dist});
    return static_cast<int32_t>(w.planes.size() - 1);
}

void AddTextures(WorldData& w) {
    for (int32_t contents : {0x1, 0x20, 0x10001}) {
        BspTexture t{};
        t.contents = contents;
        w.textureRecords.push_back(t);
    }
}

// A box brush; its six planes face out of it.
int32_t AddBox(WorldData& w, D3DXVECTOR3 lo, D3DXVECTOR3 hi, int32_t texture = kSolid) {
    const int32_t first = static_cast<int32_t>(w.brushSides.size());
    w.brushSides.push_back({AddPlane(w, 1, 0, 0, hi.x), 0});
    w.brushSides.push_back({AddPlane(w, -1, 0, 0, -lo.x), 0});
    w.brushSides.push_back({AddPlane(w, 0, 1, 0, hi.y), 0});
    w.brushSides.push_back({AddPlane(w, 0, -1, 0, -lo.y), 0});
    w.brushSides.push_back({AddPlane(w, 0, 0, 1, hi.z), 0});
    w.brushSides.push_back({AddPlane(w, 0, 0, -1, -lo.z), 0});
    w.brushes.push_back(BspBrush{first, 6, texture});
    return static_cast<int32_t>(w.brushes.size() - 1);
}

int32_t AddLeaf(WorldData& w, const std::vector<int32_t>& brushList) {
    BspLeaf leaf{};
    leaf.firstLeafBrush = static_cast<int32_t>(w.leafBrushes.size());
    leaf.numLeafBrushes = static_cast<int32_t>(brushList.size());
    w.leafBrushes.insert(w.leafBrushes.end(), brushList.begin(), brushList.end());
    w.leaves.push_back(leaf);
    return static_cast<int32_t>(w.leaves.size() - 1);
}

int32_t AddNode(WorldData& w, int32_t plane, int32_t front, int32_t back) {
    BspNode node{};
    node.plane = plane;
    node.front = front;
    node.back = back;
    w.nodes.push_back(node);
    return static_cast<int32_t>(w.nodes.size() - 1);
}

// Node 0 sends every segment whole to leaf 0, which holds the brushes.
void OneLeafTree(WorldData& w, const std::vector<int32_t>& brushList) {
    const int32_t leaf = AddLeaf(w, brushList);
    AddNode(w, AddPlane(w, 0, 1, 0, 1e6f), Leaf(leaf), Leaf(leaf));
}

// The last sweep's outcome, for its normal.
TraceResult lastTrace;

float TraceOf(const WorldData& w, D3DXVECTOR3 s, D3DXVECTOR3 e) {
    lastTrace = SweepSphere(w, s, e);
    return lastTrace.fraction;
}

// The free fraction of a sweep that first meets a plane at distance d1 from
// the start and d2 from the end (both measured from the pushed-out plane).
float EnterFraction(float d1, float d2) { return (d1 - kTraceEpsilon) / (d1 - d2); }

void ExpectVector(const D3DXVECTOR3& v, float x, float y, float z, float tolerance = 1e-4f) {
    EXPECT_NEAR(v.x, x, tolerance);
    EXPECT_NEAR(v.y, y, tolerance);
    EXPECT_NEAR(v.z, z, tolerance);
}

class CollisionTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedGround_ = p_ground.intValue;
        AddTextures(world);
    }
    void TearDown() override { p_ground.intValue = savedGround_; }

    // A wall filling x in [100, 200]; its pushed-out face lies at x = 75.
    int32_t AddWallAtX100() { return AddBox(world, {100, -1000, -1000}, {200, 1000, 1000}); }

    WorldData world;
    // The moves of one physics step over the world.
    SlideMover mover{world};

private:
    int32_t savedGround_ = 0;
};

using CollisionTraceTest = CollisionTest;
using CollisionRobustnessTest = CollisionTest;
using CollisionSlideMoveTest = CollisionTest;

// ---------------------------------------------------------------- Trace

TEST_F(CollisionTraceTest, MissingArgumentOrDisabledReturnsMinusOneWithoutSweeping) {
    OneLeafTree(world, {AddWallAtX100()});
    World loaded;  // the records only: a trace needs no pictures
    loaded.Data() = world;
    D3DXVECTOR3 s(0, 0, 0), e(200, 0, 0);
    loaded.traceFraction = 0.5f;
    EXPECT_EQ(loaded.Trace(nullptr, &e, 1), -1.0f);
    EXPECT_EQ(loaded.Trace(&s, nullptr, 1), -1.0f);
    EXPECT_EQ(loaded.Trace(&s, &e, 0), -1.0f);
    EXPECT_EQ(loaded.traceFraction, 0.5f);
    EXPECT_FLOAT_EQ(loaded.Trace(&s, &e, 7), EnterFraction(75, -125));
    ExpectVector(loaded.traceNormal, -1, 0, 0, 0);
}

TEST_F(CollisionTraceTest, HitsTheFacePushedOutByTheRadiusWithItsNormal) {
    OneLeafTree(world, {AddWallAtX100(), AddBox(world, {-1000, -200, -1000}, {1000, -100, 1000})});

    EXPECT_FLOAT_EQ(TraceOf(world, {0, 0, 0}, {200, 0, 0}), EnterFraction(75, -125));
    ExpectVector(lastTrace.normal, -1, 0, 0, 0);
    EXPECT_FLOAT_EQ(TraceOf(world, {300, 0, 0}, {100, 0, 0}), EnterFraction(75, -125));  // from behind
    ExpectVector(lastTrace.normal, 1, 0, 0, 0);
    EXPECT_FLOAT_EQ(TraceOf(world, {0, 0, 0}, {0, -100, 0}), EnterFraction(75, -25));  // the floor below
    ExpectVector(lastTrace.normal, 0, 1, 0, 0);

    // Ending just short of the pushed-out face is free and puts the normal
    // back to zero; ending on it is a hit.
    EXPECT_EQ(TraceOf(world, {0, 0, 0}, {74.99f, 0, 0}), 1.0f);
    ExpectVector(lastTrace.normal, 0, 0, 0, 0);
    EXPECT_FLOAT_EQ(TraceOf(world, {0, 0, 0}, {75, 0, 0}), EnterFraction(75, 0));
}

TEST_F(CollisionTraceTest, SplitSegmentKeepsFractionsOfTheWholeTrace) {
    const int32_t leaf = AddLeaf(world, {AddWallAtX100()});
    AddNode(world, AddPlane(world, 1, 0, 0, 50), Leaf(leaf), Leaf(leaf));
    // Starting behind the node plane and starting in front of it.
    EXPECT_NEAR(TraceOf(world, {0, 0, 0}, {200, 0, 0}), EnterFraction(75, -125), 1e-6f);
    EXPECT_NEAR(TraceOf(world, {60, 0, 0}, {160, 0, 0}), EnterFraction(15, -85), 1e-6f);
    EXPECT_NEAR(TraceOf(world, {-400, 0, 0}, {400, 0, 0}), EnterFraction(475, -325), 1e-6f);

    // Node plane x = 0 with a wall on each side, each only in its own child:
    // the near child gets the start, the far child the end.
    const int32_t back = AddLeaf(world, {AddBox(world, {-200, -1000, -1000}, {-100, 1000, 1000})});
    const int32_t front = AddLeaf(world, {AddBox(world, {100, -1000, -1000}, {200, 1000, 1000})});
    world.nodes[0] = BspNode{AddPlane(world, 1, 0, 0, 0), Leaf(front), Leaf(back), {}, {}};
    EXPECT_NEAR(TraceOf(world, {-50, 0, 0}, {150, 0, 0}), EnterFraction(125, -75), 1e-6f);
    ExpectVector(lastTrace.normal, -1, 0, 0, 0);
    EXPECT_NEAR(TraceOf(world, {50, 0, 0}, {-150, 0, 0}), EnterFraction(125, -75), 1e-6f);
    ExpectVector(lastTrace.normal, 1, 0, 0, 0);
    // A post in front of the plane, known to the front child only, met on
    // the way from front to back.
    const int32_t post = AddBox(world, {20, -1000, -10}, {40, 1000, 10});
    world.leaves[static_cast<size_t>(front)].firstLeafBrush = static_cast<int32_t>(world.leafBrushes.size());
    world.leafBrushes.push_back(post);
    EXPECT_NEAR(TraceOf(world, {60, 0, -100}, {-60, 0, 100}), EnterFraction(65, -135), 1e-6f);
    ExpectVector(lastTrace.normal, 0, 0, -1, 0);
}

TEST_F(CollisionTraceTest, ZeroLengthSegmentNeverHits) {
    OneLeafTree(world, {AddWallAtX100()});
    for (float x : {0.0f, 74.0f, 74.97f, 75.0f, 75.01f, 100.0f, 150.0f, 225.0f}) {
        EXPECT_EQ(TraceOf(world, {x, 0, 0}, {x, 0, 0}), 1.0f) << "at x = " << x;
    }
}

TEST_F(CollisionTraceTest, ParallelSegmentInsideTheSlabSweepsBothChildrenWhole) {
    // Node plane z = 0. Each brush sits in the child its side does not name;
    // a segment on the other side meets it only through its far child.
    const int32_t front = AddLeaf(world, {AddBox(world, {100, -1000, -50}, {200, 1000, 0})});
    const int32_t back = AddLeaf(world, {AddBox(world, {100, -1000, 0}, {200, 1000, 50})});
    AddNode(world, AddPlane(world, 0, 0, 1, 0), Leaf(front), Leaf(back));

    for (float z : {10.0f, 24.9f, -10.0f, -25.0f}) {
        world.leaves[static_cast<size_t>(front)].numLeafBrushes = z < 0 ? 1 : 0;
        world.leaves[static_cast<size_t>(back)].numLeafBrushes = z < 0 ? 0 : 1;
        std::feclearexcept(FE_ALL_EXCEPT);
        const float fraction = TraceOf(world, {0, 0, z}, {200, 0, z});
        EXPECT_FALSE(std::fetestexcept(FE_DIVBYZERO | FE_INVALID)) << "at z = " << z;
        EXPECT_FLOAT_EQ(fraction, EnterFraction(75, -125)) << "at z = " << z;
        EXPECT_FLOAT_EQ(TraceOf(world, {300, 0, z}, {-300, 0, z}), EnterFraction(75, -525)) << "at z = " << z;
    }
}

TEST_F(CollisionTraceTest, SegmentsBeyondTheSlabReachOnlyTheirOwnSide) {
    // Node plane x = 0; each leaf holds a brush lying on the other side, as
    // only a sweep of that leaf can reveal.
    const int32_t front = AddLeaf(world, {AddBox(world, {-40, -1000, 100}, {-10, 1000, 200})});
    const int32_t back = AddLeaf(world, {AddBox(world, {10, -1000, 100}, {40, 1000, 200})});
    AddNode(world, AddPlane(world, 1, 0, 0, 0), Leaf(front), Leaf(back));

    const float hit = EnterFraction(75, -225);
    EXPECT_FLOAT_EQ(TraceOf(world, {24.9f, 0, 0}, {24.9f, 0, 300}), hit);  // inside the slab: both
    EXPECT_EQ(TraceOf(world, {25, 0, 0}, {25, 0, 300}), 1.0f);             // at +25: front only
    EXPECT_EQ(TraceOf(world, {25, 0, 0}, {40, 0, 300}), 1.0f);
    EXPECT_FLOAT_EQ(TraceOf(world, {-25, 0, 0}, {-25, 0, 300}), hit);      // at -25: still both
    EXPECT_EQ(TraceOf(world, {-25.5f, 0, 0}, {-25.5f, 0, 300}), 1.0f);    // below -25: back only
}

TEST_F(CollisionTraceTest, StartInsideASolidBrushNeverHitsIt) {
    const int32_t inside = AddWallAtX100();
    const int32_t beyond = AddBox(world, {400, -1000, -1000}, {500, 1000, 1000});
    OneLeafTree(world, {inside, beyond});
    EXPECT_EQ(TraceOf(world, {150, 0, 0}, {0, 0, 0}), 1.0f);
    EXPECT_EQ(TraceOf(world, {80, 0, 0}, {150, 0, 0}), 1.0f);  // inside the pushed-out faces only
    // Leaving through the far face and going on to the next brush.
    EXPECT_FLOAT_EQ(TraceOf(world, {150, 0, 0}, {550, 0, 0}), EnterFraction(225, -175));
}

TEST_F(CollisionTraceTest, OnlyBrushesWithContentsBitZeroAndSidesBlock) {
    OneLeafTree(world, {AddBox(world, {100, -1000, -1000}, {200, 1000, 1000}, kWater)});
    EXPECT_EQ(TraceOf(world, {0, 0, 0}, {300, 0, 0}), 1.0f);
    world.brushes[0].texture = 99;  // no such texture record
    EXPECT_EQ(TraceOf(world, {0, 0, 0}, {300, 0, 0}), 1.0f);
    world.brushes[0].texture = kSolid;
    world.brushes[0].numSides = 0;
    EXPECT_EQ(TraceOf(world, {0, 0, 0}, {300, 0, 0}), 1.0f);
    world.brushes[0].numSides = 6;
    world.brushes[0].texture = kPlayerClip;
    EXPECT_FLOAT_EQ(TraceOf(world, {0, 0, 0}, {300, 0, 0}), EnterFraction(75, -225));
}

TEST_F(CollisionTraceTest, FirstHitAlongTheSegmentWinsInEitherOrder) {
    const int32_t nearWall = AddWallAtX100();
    const int32_t farWall = AddBox(world, {300, -1000, -1000}, {400, 1000, 1000});
    OneLeafTree(world, {nearWall, farWall});
    AddLeaf(world, {farWall, nearWall});
    const float nearHit = EnterFraction(75, -425);
    EXPECT_FLOAT_EQ(TraceOf(world, {0, 0, 0}, {500, 0, 0}), nearHit);
    world.nodes[0].back = world.nodes[0].front = Leaf(1);
    EXPECT_FLOAT_EQ(TraceOf(world, {0, 0, 0}, {500, 0, 0}), nearHit);
    EXPECT_FLOAT_EQ(TraceOf(world, {500, 0, 0}, {0, 0, 0}), EnterFraction(75, -425));  // the far one now
    ExpectVector(lastTrace.normal, 1, 0, 0, 0);
}

// ---------------------------------------------------------------- bad worlds

TEST_F(CollisionRobustnessTest, IndexErrorsPrintTheirMessageAndEndThatWalkOnly) {
    PrintCapture capture;
    const D3DXVECTOR3 s(0, 0, 0), e(200, 0, 0);
    EXPECT_EQ(TraceOf(world, s, e), 1.0f);  // no nodes at all
    EXPECT_EQ(capture.Lines(), std::vector<std::string>{"Error: node index out of bounds."});

    const int32_t wall = AddWallAtX100();
    OneLeafTree(world, {wall});
    BspNode& root = world.nodes[0];
    const float hit = EnterFraction(75, -125);
    const auto expectOnly = [&](const char* message, float fraction) {
        capture.Clear();
        EXPECT_FLOAT_EQ(TraceOf(world, s, e), fraction) << message;
        EXPECT_EQ(capture.Lines(), std::vector<std::string>{message});
    };
    root.plane = 7;  // a node plane outside the planes: the node is skipped
    capture.Clear();
    EXPECT_EQ(TraceOf(world, s, e), 1.0f);
    EXPECT_TRUE(capture.Lines().empty());
    root.plane = AddPlane(world, 0, 1, 0, 1e6f);

    root.back = 5;
    expectOnly("Error: node index out of bounds.", 1.0f);
    root.back = Leaf(3);
    expectOnly("Error: leaf index out of bounds.", 1.0f);
    root.back = Leaf(0);

    world.leaves[0].numLeafBrushes = 3;  // one good entry, then past the end
    expectOnly("Error: leaf brush index out of bounds.", hit);
    world.leaves[0].firstLeafBrush = -1;
    expectOnly("Error: leaf brush index out of bounds.", 1.0f);
    world.leaves[0].firstLeafBrush = 0;
    world.leaves[0].numLeafBrushes = 1;

    world.leafBrushes[0] = 42;  // names no brush: skipped quietly
    capture.Clear();
    EXPECT_EQ(TraceOf(world, s, e), 1.0f);
    EXPECT_TRUE(capture.Lines().empty());
    world.leafBrushes[0] = wall;

    world.brushes[wall].numSides = 7;  // six good sides, then past the end
    expectOnly("Error: brush side index out of bounds", hit);
    world.brushes[wall].numSides = 6;
    world.brushes[wall].firstSide = -3;
    expectOnly("Error: brush side index out of bounds", 1.0f);
    world.brushes[wall].firstSide = 0;

    world.brushSides[2].plane = -1;  // a side without its plane
    capture.Clear();
    EXPECT_EQ(TraceOf(world, s, e), 1.0f);
    EXPECT_TRUE(capture.Lines().empty());
}

TEST_F(CollisionRobustnessTest, LoopingSharedOrTooDeepTreesEnd) {
    const int32_t wall = AddLeaf(world, {AddWallAtX100()});
    const int32_t split = AddPlane(world, 1, 0, 0, 50);

    AddNode(world, split, 0, 0);  // a node that is its own child
    EXPECT_EQ(TraceOf(world, {0, 0, 0}, {200, 0, 0}), 1.0f);

    // Sixty nodes whose two children are both the next node: two to the
    // sixtieth paths if each were walked. The first path reaches the wall.
    world.nodes.clear();
    for (int32_t i = 0; i < 60; ++i) AddNode(world, split, i + 1, i + 1);
    world.nodes.back().front = world.nodes.back().back = Leaf(wall);
    EXPECT_NEAR(TraceOf(world, {0, 0, 0}, {200, 0, 0}), EnterFraction(75, -125), 1e-5f);

    // A chain as deep as a world may be reaches its leaf; a deeper one stops.
    const int32_t far = AddPlane(world, 0, 1, 0, 1e6f);
    for (int32_t depth : {kMaxTreeDepth, kMaxTreeDepth + 2}) {
        world.nodes.clear();
        for (int32_t i = 0; i < depth; ++i) AddNode(world, far, i + 1, i + 1);
        world.nodes.back().front = world.nodes.back().back = Leaf(wall);
        EXPECT_EQ(TraceOf(world, {0, 0, 0}, {200, 0, 0}) < 1.0f, depth <= kMaxTreeDepth) << depth;
    }
}

TEST_F(CollisionRobustnessTest, NanNeitherHitsNorLoops) {
    const int32_t leaf = AddLeaf(world, {AddWallAtX100()});
    AddNode(world, AddPlane(world, 1, 0, 0, 50), Leaf(leaf), Leaf(leaf));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(TraceOf(world, {nan, 0, 0}, {200, 0, 0}), 1.0f);
    EXPECT_EQ(TraceOf(world, {0, 0, 0}, {200, nan, 0}), 1.0f);
    world.planes[static_cast<size_t>(world.nodes[0].plane)].normal[0] = nan;
    EXPECT_EQ(TraceOf(world, {0, 0, 0}, {200, 0, 0}), 1.0f);

    mover.ResetSlideMoveCount();
    D3DXVECTOR3 s(0, 0, 0), e(200, nan, 0), r(1, 2, 3);
    EXPECT_FALSE(mover.SlideMove(&s, &e, &r, true));
    ExpectVector(r, 1, 2, 3, 0);
}

// ---------------------------------------------------------------- SlideMove

TEST_F(CollisionSlideMoveTest, MissingOrSharedArgumentsAreRefusedUncounted) {
    OneLeafTree(world, {AddWallAtX100()});
    D3DXVECTOR3 s(0, 0, 0), e(200, 0, 0), r(7, 7, 7);
    mover.ResetSlideMoveCount();
    EXPECT_FALSE(mover.SlideMove(nullptr, &e, &r, false));
    EXPECT_FALSE(mover.SlideMove(&s, nullptr, &r, false));
    EXPECT_FALSE(mover.SlideMove(&s, &e, nullptr, false));
    EXPECT_FALSE(mover.SlideMove(&s, &s, &r, false));
    EXPECT_FALSE(mover.SlideMove(&s, &e, &s, false));
    EXPECT_FALSE(mover.SlideMove(&s, &e, &e, false));
    EXPECT_EQ(mover.slideMoveCalls, 0);
    ExpectVector(r, 7, 7, 7, 0);
}

TEST_F(CollisionSlideMoveTest, FreeMoveReturnsFalseAndLeavesTheResult) {
    OneLeafTree(world, {AddWallAtX100()});
    D3DXVECTOR3 s(0, 0, 0), e(70, 0, 70), r(7, 7, 7);
    mover.ResetSlideMoveCount();
    EXPECT_FALSE(mover.SlideMove(&s, &e, &r, true));
    ExpectVector(r, 7, 7, 7, 0);
    EXPECT_EQ(mover.slideMoveCalls, 1);
}

TEST_F(CollisionSlideMoveTest, WallStopsTheMoveOrSlidesItAlongTheFace) {
    OneLeafTree(world, {AddWallAtX100(), AddBox(world, {-1000, -200, -1000}, {1000, -100, 1000})});
    D3DXVECTOR3 s(0, 0, 0), e(100, 0, 100), r;
    mover.ResetSlideMoveCount();
    EXPECT_TRUE(mover.SlideMove(&s, &e, &r, false));
    ExpectVector(r, 74.96875f, 0, 74.96875f);

    // At 45 degrees: the part into the wall goes, the part along it stays.
    mover.ResetSlideMoveCount();
    EXPECT_TRUE(mover.SlideMove(&s, &e, &r, true));
    ExpectVector(r, 74.96875f, 0, 100);
    EXPECT_EQ(mover.slideMoveCalls, 2);

    // Coming down at 45 degrees onto the floor: no step, a slide along it.
    s = D3DXVECTOR3(0, 0, 0);
    e = D3DXVECTOR3(-100, -100, 0);
    mover.ResetSlideMoveCount();
    EXPECT_TRUE(mover.SlideMove(&s, &e, &r, true));
    ExpectVector(r, -100, -74.96875f, 0);
}

TEST_F(CollisionSlideMoveTest, StepLowerThanStepHeightIsClimbed) {
    // Floor top at y = 0, step top at y = 10 from x = 100; the viewer
    // stands 25.5 above the floor.
    OneLeafTree(world, {AddBox(world, {-1000, -100, -1000}, {1000, 0, 1000}),
                        AddBox(world, {100, -100, -1000}, {300, 10, 1000})});
    D3DXVECTOR3 s(0, 25.5f, 0), e(150, 25.5f, 0), r;
    // The probe from (150, 50.5) stops at 0.28125 of 55 on the step's
    // pushed-out top (y 35); E rises to 90.03125 and the stop point takes
    // that rise times the probe's fraction.
    const float y = 25.5f + (55.0f - 55.0f * 0.28125f) * 0.28125f;
    mover.ResetSlideMoveCount();
    EXPECT_TRUE(mover.SlideMove(&s, &e, &r, false));
    ExpectVector(r, 0, y, 0, 0);
    EXPECT_EQ(mover.lastTrace.fraction, 0.28125f);
    // Sliding carries the move on along the step's top.
    mover.ResetSlideMoveCount();
    EXPECT_TRUE(mover.SlideMove(&s, &e, &r, true));
    ExpectVector(r, 150, y, 0, 0);
}

TEST_F(CollisionSlideMoveTest, StepHigherThanStepHeightIsNotClimbed) {
    OneLeafTree(world, {AddBox(world, {-1000, -100, -1000}, {1000, 0, 1000}),
                        AddBox(world, {100, -100, -1000}, {300, 40, 1000})});
    D3DXVECTOR3 s(0, 25.5f, 0), e(150, 25.5f, 0), r;
    mover.ResetSlideMoveCount();
    EXPECT_TRUE(mover.SlideMove(&s, &e, &r, false));
    ExpectVector(r, 74.96875f, 25.5f, 0);
    ExpectVector(mover.lastTrace.normal, -1, 0, 0, 0);
    mover.ResetSlideMoveCount();
    EXPECT_TRUE(mover.SlideMove(&s, &e, &r, true));
    ExpectVector(r, 74.96875f, 25.5f, 0);
}

TEST_F(CollisionSlideMoveTest, CallsPastTheFrameLimitReturnFalseAtOnce) {
    OneLeafTree(world, {AddWallAtX100()});
    D3DXVECTOR3 s(0, 0, 0), free(50, 0, 0), blocked(200, 0, 0), r(7, 7, 7);
    mover.ResetSlideMoveCount();
    for (int32_t i = 1; i < kSlideMoveLimit; ++i) {
        p_ground.intValue = 1;
        EXPECT_FALSE(mover.SlideMove(&s, &free, &r, false));
        EXPECT_EQ(p_ground.intValue, 0);  // every counted call clears it
        EXPECT_EQ(mover.slideMoveCalls, i);
    }
    p_ground.intValue = 1;
    mover.lastTrace.fraction = 0.5f;
    EXPECT_FALSE(mover.SlideMove(&s, &blocked, &r, false));  // the tenth: no sweep, nothing touched
    EXPECT_EQ(mover.lastTrace.fraction, 0.5f);
    EXPECT_EQ(p_ground.intValue, 1);
    ExpectVector(r, 7, 7, 7, 0);

    mover.ResetSlideMoveCount();
    EXPECT_TRUE(mover.SlideMove(&s, &blocked, &r, false));
    EXPECT_EQ(p_ground.intValue, 0);
}

TEST_F(CollisionSlideMoveTest, SlideRecursionEndsAtTheCallLimit) {
    // Sliding along the wall at x = 100 runs into a second wall at z = 150.
    OneLeafTree(world, {AddWallAtX100(), AddBox(world, {-1000, -1000, 150}, {1000, 1000, 250})});
    D3DXVECTOR3 s(0, 0, 0), e(200, 0, 300), r;
    mover.ResetSlideMoveCount();
    EXPECT_TRUE(mover.SlideMove(&s, &e, &r, true));
    ExpectVector(r, 74.96875f, 0, 124.96875f, 1e-3f);
    EXPECT_LE(mover.slideMoveCalls, kSlideMoveLimit - 1);

    // With one call left the slide's target is taken without a sweep.
    mover.slideMoveCalls = kSlideMoveLimit - 2;
    EXPECT_TRUE(mover.SlideMove(&s, &e, &r, true));
    ExpectVector(r, 74.96875f, 0, 300, 1e-3f);
    EXPECT_EQ(mover.slideMoveCalls, kSlideMoveLimit);
}

// ---------------------------------------------------------------- a closed room

TEST_F(CollisionTraceTest, RandomMovesNeverLeaveAClosedRoom) {
    // Inside x, y, z in [-500, 500]; the walls' pushed-out faces are at 475.
    std::vector<int32_t> walls;
    for (int axis = 0; axis < 3; ++axis) {
        for (float side : {-1.0f, 1.0f}) {
            float lo[3] = {-600, -600, -600}, hi[3] = {600, 600, 600};
            (side < 0 ? hi : lo)[axis] = 500 * side;
            walls.push_back(AddBox(world, {lo[0], lo[1], lo[2]}, {hi[0], hi[1], hi[2]}));
        }
    }
    // A real split of space: x at the root, then y on one side, z on the other.
    const int32_t l0 = AddLeaf(world, walls);
    const int32_t l1 = AddLeaf(world, std::vector<int32_t>(walls.rbegin(), walls.rend()));
    AddNode(world, AddPlane(world, 1, 0, 0, 0), 1, 2);
    AddNode(world, AddPlane(world, 0, 1, 0, 0), Leaf(l0), Leaf(l1));
    AddNode(world, AddPlane(world, 0, 0, 1, 10), Leaf(l1), Leaf(l0));

    const auto depth = [](const D3DXVECTOR3& p) {
        return std::max(std::fabs(p.x), std::max(std::fabs(p.y), std::fabs(p.z)));
    };
    const auto inside = [&](const D3DXVECTOR3& p) { return depth(p) <= 475.0f; };
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> start(-470, 470), end(-1500, 1500);
    int hits = 0;
    for (int i = 0; i < 3000; ++i) {
        const D3DXVECTOR3 s(start(random), start(random), start(random));
        const D3DXVECTOR3 e = i % 4 == 0 ? D3DXVECTOR3(start(random), start(random), start(random))
                                         : D3DXVECTOR3(end(random), end(random), end(random));
        const float f = TraceOf(world, s, e);
        ASSERT_TRUE(f >= 0.0f && f <= 1.0f);
        if (inside(e)) {
            ASSERT_EQ(f, 1.0f) << i;  // nothing in the way
        }
        hits += f < 1.0f;
        const D3DXVECTOR3 p(s.x + (e.x - s.x) * f, s.y + (e.y - s.y) * f, s.z + (e.z - s.z) * f);
        ASSERT_TRUE(inside(p)) << i << ": " << p.x << " " << p.y << " " << p.z;
        if (f < 1.0f) {  // a hit stops just short of the face it meets
            ASSERT_NEAR(depth(p), 475.0f - kTraceEpsilon, 2e-3f) << i;
        }

        for (bool slide : {false, true}) {
            D3DXVECTOR3 r = e;
            mover.ResetSlideMoveCount();
            mover.SlideMove(&s, &e, &r, slide);
            ASSERT_TRUE(inside(r)) << i << (slide ? " sliding: " : ": ") << r.x << " " << r.y << " " << r.z;
        }
    }
    EXPECT_GT(hits, 1500);
}

}  // namespace

TEST_F(CollisionTraceTest, StartInsideTheSlabMovingAwayStillMeetsBrushesOnItsOwnSide) {
    // Node plane x = 0; the front leaf holds a wall at x 200..300, the back
    // leaf a wall at x -300..-200. Segments start within 25 of the plane and
    // move away from it on the side they start on.
    const int32_t front = AddLeaf(world, {AddBox(world, {200, -1000, -1000}, {300, 1000, 1000})});
    const int32_t back = AddLeaf(world, {AddBox(world, {-300, -1000, -1000}, {-200, 1000, 1000})});
    AddNode(world, AddPlane(world, 1, 0, 0, 0), Leaf(front), Leaf(back));

    EXPECT_FLOAT_EQ(TraceOf(world, {10, 0, 0}, {400, 0, 0}), EnterFraction(165, -225));
    EXPECT_FLOAT_EQ(TraceOf(world, {-10, 0, 0}, {-400, 0, 0}), EnterFraction(165, -225));
}
