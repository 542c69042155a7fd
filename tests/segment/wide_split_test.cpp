// Wide-element split: expected piece counts and the even split, the valley
// rule's scan order and piece merging, the ink comb with its pitch, gap and
// phase search and the growth of narrow pieces, margin trimming, and the
// best-window narrowing after a cut.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <tuple>
#include <utility>
#include <vector>

#include "segment/wide_split.hpp"
#include "support/elements.hpp"
#include "support/fakes.hpp"

namespace {

using koc::segment::Pieces;
using Q = test::Q;
using test::ElementVec;
using test::element;
using test::in;
using test::q;
using P = std::pair<int32_t, int32_t>;

std::vector<P> pairs(const Pieces& p)
{
    std::vector<P> out;
    for (const auto& x : p) out.emplace_back(x.first, x.second);
    return out;
}

// A working image (marks `ink`, ground `ground`) and the blob image of its
// marks (255 on every mark pixel).
struct Images {
    kimg_image working;
    kimg_image blobs;
    Images(int32_t w, int32_t h, const std::function<bool(int32_t, int32_t)>& mark, int32_t ink = 0,
           int32_t ground = 255)
        : working(test::makeImage8(w, h, [&](int32_t x, int32_t y) { return mark(x, y) ? ink : ground; })),
          blobs(test::makeImage8(w, h, [&](int32_t x, int32_t y) { return mark(x, y) ? 255 : 0; }))
    {
    }
    ~Images()
    {
        kimg_image_destruct(&working);
        kimg_image_destruct(&blobs);
    }
};

class SplitPieceCount : public ::testing::TestWithParam<std::tuple<int32_t, int32_t, int32_t>> {};

TEST_P(SplitPieceCount, MeanWidthNearestLimit)
{
    const auto [n, w, expected] = GetParam();
    int32_t k = 0;
    ASSERT_EQ(0, koc::segment::expectedPieceCount(n, w, &k));
    EXPECT_EQ(expected, k);
}

// 25/3 lies nearer 10 than 25/2; 15 → 2 (7.5 beats 15); 11 stays one
// piece; 4 over 3 is a tie (2 vs 4), which goes to more pieces.
INSTANTIATE_TEST_SUITE_P(Table, SplitPieceCount,
                         ::testing::Values(std::tuple(25, 10, 3), std::tuple(20, 10, 2), std::tuple(15, 10, 2),
                                           std::tuple(11, 10, 1), std::tuple(10, 10, 1), std::tuple(4, 3, 2),
                                           std::tuple(5, 10, 1)));

TEST(SplitEvenly, RoundsCumulativeSteps)
{
    Pieces p;
    ASSERT_EQ(0, koc::segment::splitEvenly({20, 25}, 10, &p));
    EXPECT_EQ((std::vector<P>{{20, 8}, {28, 9}, {37, 8}}), pairs(p));
}

// Found by fuzzing: an empty piece (two equal cuts) or no usable width
// splits nothing instead of tripping the assertion hook.
TEST(SplitEvenly, DegenerateInputSplitsNothing)
{
    test::AssertionCatcher asserts;
    Pieces p;
    ASSERT_EQ(0, koc::segment::splitEvenly({20, 0}, 10, &p));
    EXPECT_TRUE(pairs(p).empty());
    ASSERT_EQ(0, koc::segment::splitEvenly({20, 25}, 0, &p));
    EXPECT_EQ((std::vector<P>{{20, 25}}), pairs(p));
    EXPECT_EQ(0, asserts.count());
}

// n = 60, W = 40 (valley spacing 10), a flat profile of 100 with two
// valleys: the first cut chosen.
struct ValleyCase {
    int32_t firstCol, firstValue, secondCol, secondValue, expectedFirstCut;
};
class SplitValleyOrder : public ::testing::TestWithParam<ValleyCase> {};

TEST_P(SplitValleyOrder, FirstCut)
{
    const auto c = GetParam();
    std::vector<uint32_t> p(60, 100);
    p[size_t(c.firstCol)] = uint32_t(c.firstValue);
    p[size_t(c.secondCol)] = uint32_t(c.secondValue);
    koc::services::Vector<int32_t> cuts;
    ASSERT_EQ(0, koc::segment::chooseValleyCuts(p.data(), 60, 40, &cuts));
    ASSERT_FALSE(cuts.empty());
    EXPECT_EQ(c.expectedFirstCut, cuts[0]);
}

// A near valley may be best until a far one is seen, but the far one must
// be deeper to displace it; once a far valley is best, a deeper near one
// cannot displace it.
INSTANTIATE_TEST_SUITE_P(Table, SplitValleyOrder,
                         ::testing::Values(ValleyCase{4, 5, 20, 7, 4}, ValleyCase{20, 7, 56, 5, 20},
                                           ValleyCase{4, 7, 20, 5, 20}));

TEST(SplitValley, MergesSmallestFittingPairFirst)
{
    Pieces p{{0, 3}, {3, 3}, {6, 2}, {8, 5}};
    ASSERT_EQ(0, koc::segment::mergeAdjacentPieces(6, &p));
    EXPECT_EQ((std::vector<P>{{0, 3}, {3, 5}, {8, 5}}), pairs(p));
}

// Cuts go in until no stretch exceeds W, then neighbours that fit merge:
// valleys at 12, 25 and 38 of 50 columns with W = 20.
TEST(SplitValley, CutsUntilStretchesFit)
{
    std::vector<uint32_t> p(50, 100);
    p[12] = 10;
    p[25] = 5;
    p[38] = 20;
    Pieces pieces;
    ASSERT_EQ(0, koc::segment::findValleyCuts(p.data(), 50, 100, 20, &pieces));
    EXPECT_EQ((std::vector<P>{{100, 12}, {112, 13}, {125, 13}, {138, 12}}), pairs(pieces));
}

// Three 6-column marks with 2-column gaps, W = 8: three windows are
// expected; pitch 7 with gap 1 at phase 0 catches all the ink in 21 window
// columns; no narrow piece finds a heavy free column to grow into.
TEST(SplitComb, PitchAndGapSearch)
{
    std::vector<uint32_t> p(22, 0);
    for (int32_t i = 0; i < 22; ++i) {
        if (in(i, 0, 5) || in(i, 8, 13) || in(i, 16, 21)) p[size_t(i)] = 2550;
    }
    Pieces pieces;
    ASSERT_EQ(0, koc::segment::placeCombCuts(p.data(), 22, 50, 8, 3, &pieces));
    EXPECT_EQ((std::vector<P>{{50, 7}, {58, 7}, {66, 6}}), pairs(pieces));
}

// Both sides free and heavy enough: the left grows on a tie, the right
// when heavier; a column below the mean stops the growth.
TEST(SplitComb, GrowsNarrowPieces)
{
    const std::vector<uint32_t> p{0, 5, 5, 5, 5, 0};
    koc::segment::Cumulative c{0};
    for (const auto v : p) c.push_back(c.back() + v);
    Pieces pieces{{12, 2}};
    ASSERT_EQ(0, koc::segment::growNarrowPieces(p.data(), c, 6, 10, 4, &pieces));
    EXPECT_EQ((std::vector<P>{{11, 4}}), pairs(pieces));
}

// A 12 x 10 block at x 5..16, rows 2..11, with one stray mark pixel at
// (4, 6) (under 1% of the ink), inside the rectangle (3, 1, 16, 12). The
// blank rows and columns go; the stray column goes only at a 1% share.
struct MarginCase {
    int32_t ink, ground;
    uint32_t polarity;
    double columnShare;
    Q expected;
};
class SplitMargins : public ::testing::TestWithParam<MarginCase> {};

TEST_P(SplitMargins, TrimsFaintEdges)
{
    const auto c = GetParam();
    Images images(30, 14, [](int32_t x, int32_t y) { return (in(x, 5, 16) && in(y, 2, 11)) || (x == 4 && y == 6); },
                  c.ink, c.ground);
    auto e = element({3, 1, 16, 12}, 500);
    ASSERT_EQ(0, koc::segment::trimElementMargins(&images.working, &images.blobs, c.polarity, 0.01, c.columnShare, &e));
    EXPECT_EQ(c.expected, q(e.rect));
    EXPECT_EQ(c.expected[2] * c.expected[3], e.area);
}

INSTANTIATE_TEST_SUITE_P(Table, SplitMargins,
                         ::testing::Values(MarginCase{0, 255, 1, 0.01, {5, 2, 12, 10}},
                                           MarginCase{0, 255, 1, 0.005, {4, 2, 13, 10}},
                                           MarginCase{255, 0, 2, 0.01, {5, 2, 12, 10}}));

// Two blocks joined by a one-row bar (x 28..30): the valley at the bar's
// first column cuts 8 | 11 columns; the 11-column piece is narrowed to its
// 10 heaviest blob-image columns.
TEST(SplitCut, ValleyCutThenBestWindow)
{
    Images images(50, 20, [](int32_t x, int32_t y) {
        return (in(y, 6, 15) && (in(x, 20, 27) || in(x, 31, 38))) || (y == 10 && in(x, 28, 30));
    });
    ElementVec v({element({20, 6, 19, 10}, 163)});
    int32_t inserted = 0;
    ASSERT_EQ(0, koc::segment::cutWideElement(&images.working, &images.blobs, &v.v, 0, 1, 10, 3, 1, 0.01, &inserted));
    EXPECT_EQ(1, inserted);
    const auto out = v.get();
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ((Q{20, 6, 8, 10}), q(out[0].rect));
    EXPECT_EQ((Q{29, 6, 10, 10}), q(out[1].rect));
    EXPECT_EQ(-1, out[0].area);
    EXPECT_EQ(-1, out[1].area);
}

// A solid 20-column block: without a width limit only the margins are
// trimmed (the element keeps its area, nothing is re-segmented); exactly
// W = 20 is never cut; W = 19 narrows it to its heaviest 19 columns, which
// are then re-segmented.
class SplitWide : public ::testing::TestWithParam<std::tuple<uint32_t, int32_t, Q, int32_t>> {};

TEST_P(SplitWide, CutsOnlyAboveLimit)
{
    const auto [limit, width, expected, area] = GetParam();
    Images images(40, 16, [](int32_t x, int32_t y) { return in(x, 10, 29) && in(y, 3, 12); });
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.polarity = 1;
    params.limitAspect = 0;
    params.limitCharWidth = limit;
    params.maxCharWidth = width;
    ElementVec v({element({9, 3, 22, 10}, 200)});
    int32_t changed = -1;
    ASSERT_EQ(0, koc::segment::splitWideElements(&v.v, &images.working, &images.blobs, &params, 1, 0, &changed));
    EXPECT_EQ(0, changed);
    const auto out = v.get();
    ASSERT_EQ(1u, out.size());
    EXPECT_EQ(expected, q(out[0].rect));
    EXPECT_EQ(area, out[0].area);
    koc_charSegmentRunParams_destruct(&params);
}

INSTANTIATE_TEST_SUITE_P(Table, SplitWide,
                         ::testing::Values(std::tuple(0u, 100, Q{10, 3, 20, 10}, 200),
                                           std::tuple(1u, 20, Q{10, 3, 20, 10}, 200),
                                           std::tuple(1u, 19, Q{10, 3, 19, 10}, 190)));

}  // namespace
