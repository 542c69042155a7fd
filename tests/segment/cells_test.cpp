// cells_test.cpp: cell growth by width and by gap, and space insertion.
// Expected rectangles are worked out by hand from the growth rules.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "segment/cells.hpp"

namespace {

using Q = std::array<int32_t, 4>;
using Marks = std::vector<kstd_rect32>;

std::vector<Q> qs(const koc::segment::Rects& v)
{
    std::vector<Q> out;
    for (const kstd_rect32& r : v) out.push_back({r.x, r.y, r.width, r.height});
    return out;
}

struct Out {
    koc::segment::Rects cells, marks;
    koc::segment::Flags isSpace;
    void expectMarks(const Marks& in) const
    {
        EXPECT_EQ(qs(koc::segment::Rects(in.begin(), in.end())), qs(marks));
        EXPECT_EQ(koc::segment::Flags(in.size(), 0), isSpace);
    }
};

const Marks kNarrowMiddle = {{0, 0, 10, 16}, {30, 0, 4, 16}, {60, 0, 10, 16}};
const Marks kSingle = {{20, 5, 8, 12}};

struct GrowCase {
    Marks marks;
    int32_t fraction, floor, minMargin, maxMargin;  // margins: method 2 only
    bool clip;
    std::vector<Q> cells;
};

class CellWidth : public ::testing::TestWithParam<GrowCase> {};

// Narrow cells grow one pixel per side and pass to the widest mark, never
// into a gap of 2m or less; then each cell takes its margin m.
TEST_P(CellWidth, GrowsTowardWidestThenTakesMargins)
{
    const GrowCase& c = GetParam();
    const kstd_rect32 clip{0, 0, 100, 16};
    Out o;
    ASSERT_EQ(0, koc::segment::growCellsByWidth(c.marks.data(), int32_t(c.marks.size()), c.floor, c.fraction,
                                                c.clip ? &clip : nullptr, nullptr, &o.cells, &o.marks, &o.isSpace));
    EXPECT_EQ(c.cells, qs(o.cells));
    o.expectMarks(c.marks);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, CellWidth,
    ::testing::Values(  // three marks 16 high: m = 1
        GrowCase{kNarrowMiddle, 4096, 0, 0, 0, false, {{-1, -1, 12, 18}, {26, -1, 12, 18}, {59, -1, 12, 18}}},
        GrowCase{{{0, 0, 10, 16}, {31, 0, 5, 16}, {60, 0, 10, 16}}, 4096, 0, 0, 0, false,  // right side stops at 10
                 {{-1, -1, 12, 18}, {27, -1, 12, 18}, {59, -1, 12, 18}}},
        GrowCase{{{0, 0, 10, 16}, {13, 0, 4, 16}, {60, 0, 10, 16}}, 4096, 0, 0, 0, false,  // left gap 3 -> 2m
                 {{-1, -1, 12, 18}, {11, -1, 12, 18}, {59, -1, 12, 18}}},
        GrowCase{kNarrowMiddle, 4096, 0, 0, 0, true, {{0, 0, 11, 16}, {26, 0, 12, 16}, {59, 0, 12, 16}}},
        // a single mark, size 12: m = round(12 * fraction), at least 1 and the floor
        GrowCase{kSingle, 16384, 0, 0, 0, false, {{17, 2, 14, 18}}},
        GrowCase{kSingle, 0, 0, 0, 0, false, {{19, 4, 10, 14}}},
        GrowCase{kSingle, 4096, 5, 0, 0, false, {{15, 0, 18, 22}}}));

class CellGap : public ::testing::TestWithParam<GrowCase> {};

// Each edge grows by at most half the narrowest gap within the margin
// bounds; in a shared gap the neighbours take turns.
TEST_P(CellGap, EdgesGrowWithinLimitTakingTurns)
{
    const GrowCase& c = GetParam();
    const koc_cellRectGenerationParams params{2, c.minMargin, c.maxMargin};
    Out o;
    ASSERT_EQ(0, koc::segment::growCellsByGap(c.marks.data(), int32_t(c.marks.size()), c.floor, c.fraction, nullptr,
                                              nullptr, &params, &o.cells, &o.marks, &o.isSpace));
    EXPECT_EQ(c.cells, qs(o.cells));
    o.expectMarks(c.marks);
}

INSTANTIATE_TEST_SUITE_P(
    Cells, CellGap,
    ::testing::Values(  // marks 10 x 20: m = 1
        GrowCase{{{0, 0, 10, 20}, {20, 0, 10, 20}}, 4096, 0, 2, 5, false, {{-5, -1, 20, 22}, {15, -1, 20, 22}}},
        GrowCase{{{0, 0, 10, 20}, {20, 0, 10, 20}}, 4096, 0, 2, 3, false, {{-3, -1, 16, 22}, {17, -1, 16, 22}}},
        // gap 10..12, limit 2: the right edge gets two turns, the left edge one
        GrowCase{{{0, 0, 10, 20}, {13, 0, 10, 20}}, 4096, 0, 2, 5, false, {{-2, -1, 14, 22}, {12, -1, 13, 22}}},
        GrowCase{{{0, 0, 10, 20}, {12, 0, 10, 20}}, 4096, 0, 2, 5, false, {{-2, -1, 13, 22}, {11, -1, 13, 22}}},
        GrowCase{kSingle, 4096, 0, 2, 5, false, {{15, 4, 18, 14}}}));  // alone: the full maximum

struct PlaceCase {
    int32_t gap, onePerGap;
    std::vector<int32_t> offsets;  // of each space from the gap's left end
    int32_t width;
};

class SpacePlacement : public ::testing::TestWithParam<PlaceCase> {};

// Minimum width 10, space width 12, gap from x 100, rows 2 .. 17.
TEST_P(SpacePlacement, SpacesSpreadEvenlyOverTheGap)
{
    const PlaceCase& c = GetParam();
    kstd_rect32 prev{80, 0, 20, 20};
    kstd_rect32 next{100 + c.gap, 0, 20, 20};
    koc::segment::Rects spaces;
    int32_t count = -1;
    ASSERT_EQ(0, koc::segment::placeSpaces(100, 100 + c.gap - 1, 2, 17, c.onePerGap, 10, 12, &prev, &next, &count,
                                           &spaces));
    std::vector<Q> expected;
    for (int32_t o : c.offsets) expected.push_back({100 + o, 2, c.width, 16});
    EXPECT_EQ(int32_t(expected.size()), count);
    EXPECT_EQ(expected, qs(spaces));
    EXPECT_EQ(20, prev.width);
    EXPECT_EQ(100 + c.gap, next.x);
}

INSTANTIATE_TEST_SUITE_P(Spaces, SpacePlacement,
                         ::testing::Values(PlaceCase{35, 1, {11}, 12},     // slack 23 = spacing, lead-in 11
                                           PlaceCase{35, 0, {2, 19}, 12},  // 35 / 12 = 2; slack 11, spacing 5
                                           PlaceCase{10, 0, {0}, 10},      // one narrow space fills the gap
                                           PlaceCase{9, 1, {}, 0}, PlaceCase{9, 0, {}, 0}));  // below the minimum

struct InsertCase {
    uint32_t mode;
    int32_t generate, minSpaceWidth;
    std::vector<int32_t> isSpace, spaceX;
};

class SpaceInsertion : public ::testing::TestWithParam<InsertCase> {};

// Marks 10 x 12 at x 10, 50, 90 give cells 9..20, 49..60, 89..100 over
// rows 3..16 (m = 1): gaps of 28 pixels, spaces 14 wide.
TEST_P(SpaceInsertion, SpacesFollowTheirLeftPosition)
{
    const InsertCase& c = GetParam();
    koc_charSegmentRunParams params;
    ASSERT_EQ(0, koc_charSegmentRunParams_construct(&params));
    params.spaceParams.spaceInsertionMode = c.mode;
    params.spaceParams.minSpaceWidth = c.minSpaceWidth;
    koc_charSegmentElementInfo elements[3];
    for (int i = 0; i < 3; ++i) {
        koc_charSegmentElementInfo_construct(&elements[i]);
        elements[i].rect = kstd_rect32{10 + 40 * i, 4, 10, 12};
    }
    Out o;
    ASSERT_EQ(0, koc::segment::generateCellRects(elements, 3, 0, 4096, nullptr, c.generate, &params.spaceParams,
                                                 &params, &o.cells, &o.marks, &o.isSpace));
    EXPECT_EQ(koc::segment::Flags(c.isSpace.begin(), c.isSpace.end()), o.isSpace);
    std::vector<Q> cells, marks;
    for (size_t i = 0, mark = 0, space = 0; i < c.isSpace.size(); ++i) {
        if (c.isSpace[i] != 0) {
            cells.push_back({c.spaceX[space++], 3, 14, 14});
            marks.push_back({0, 0, 0, 0});
        } else {
            const kstd_rect32& r = elements[mark++].rect;
            cells.push_back(c.generate != 0 ? Q{r.x - 1, 3, 12, 14} : Q{r.x, 4, 10, 12});
            marks.push_back({r.x, 4, 10, 12});
        }
    }
    EXPECT_EQ(cells, qs(o.cells));
    EXPECT_EQ(marks, qs(o.marks));
    koc_charSegmentRunParams_destruct(&params);
}

INSTANTIATE_TEST_SUITE_P(Spaces, SpaceInsertion,
                         ::testing::Values(InsertCase{1, 1, 10, {0, 1, 0, 1, 0}, {28, 68}},
                                           InsertCase{2, 1, 10, {0, 1, 1, 0, 1, 1, 0}, {21, 35, 61, 75}},
                                           InsertCase{2, 1, 30, {0, 0, 0}, {}},  // gaps below the minimum
                                           InsertCase{0, 1, 10, {0, 0, 0}, {}},  // insertion off
                                           InsertCase{1, 0, 10, {0, 0, 0}, {}})); // no generation: cells are marks

}  // namespace
