// pitch_test.cpp: the pitch pre-pass. Candidate pitches (with the fractions
// a wide gap proposes), the clamped lists, the balanced evaluation of a
// grouping, the gap and coverage checks, whether a line is settled without
// the walk, and that the ring of tried paths keeps trying cheap.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "hypotheses/hypotheses_internal.hpp"
#include "hypotheses/pitch.hpp"
#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

using namespace koc::hypotheses;
using Ints = std::vector<int32_t>;
using FragmentRun = std::pair<int32_t, int32_t>;

struct Piece {
    int32_t x, width;
};

koc_charSegmentRunParams defaults()
{
    koc_charSegmentRunParams p;
    koc_charSegmentRunParams_construct(&p);
    return p;
}

Ints asInts(const IndexList& v) { return Ints(v.begin(), v.end()); }

std::vector<FragmentRun> runsOf(const koc_charHypothesisTree& tree, const int32_t* path, size_t n)
{
    const auto* sets = static_cast<const koc_charFragmentSet*>(tree.fragmentSets.base.begin);
    std::vector<FragmentRun> runs;
    for (size_t k = 0; k < n; ++k) {
        const koc_charFragmentSet& set = sets[path[k]];
        runs.push_back({set.indexView[0], set.indexView[set.count - 1]});
    }
    return runs;
}

// A line of elements of one height, its tree holding only the fragments:
// the pre-pass adds the fragment sets it needs.
struct Line {
    kstd_vector_koc_charSegmentElementInfo elements;
    koc_charHypothesisTree tree;

    Line(const std::vector<Piece>& pieces, const koc_charSegmentRunParams& p, int32_t height = 20, int32_t area = 50)
    {
        kstd_vector_koc_charSegmentElementInfo_constructEmpty(&elements);
        koc_charHypothesisTree_construct(&tree);
        for (const Piece& piece : pieces) {
            koc_charSegmentElementInfo e;
            koc_charSegmentElementInfo_construct(&e);
            e.rect = kstd_rect32{piece.x, 0, piece.width, height};
            e.area = area;
            kstd_vector_koc_charSegmentElementInfo_pushBack(&elements, &e);
        }
        kstd_vector_koc_charSegmentElementInfo_assign(&tree.fragmentInfos, &elements);
        tree.runParams = p;
    }
    ~Line()
    {
        koc_charHypothesisTree_destruct(&tree);
        kstd_vector_koc_charSegmentElementInfo_destruct(&elements);
    }
};

// ---- limits and candidate lists ----

struct WidthCase {
    uint32_t limitWidth; int32_t maxWidth; uint32_t limitAspect; double ratio;
    uint32_t limitHeight; int32_t maxHeight; double lineHeight; int32_t expected;
};

class PitchMaxCharWidth : public ::testing::TestWithParam<WidthCase> {};

// The aspect limit divides by the 16.16 ratio: 30 / 0.8 is 37.5 in doubles
// but 37 through 52429.
TEST_P(PitchMaxCharWidth, TakesTheTighterOfWidthAndAspectLimit)
{
    const WidthCase& c = GetParam();
    koc_charSegmentRunParams p = defaults();
    p.limitCharWidth = c.limitWidth;
    p.maxCharWidth = c.maxWidth;
    p.limitAspect = c.limitAspect;
    p.minAspectRatio = c.ratio;
    p.limitCharHeight = c.limitHeight;
    p.maxCharHeight = c.maxHeight;
    EXPECT_EQ(c.expected, maxCharWidthForLine(&p, c.lineHeight));
}

INSTANTIATE_TEST_SUITE_P(Pitch, PitchMaxCharWidth,
                         ::testing::Values(WidthCase{0, 100, 0, 0.8, 0, 100, 30, INT32_MAX},
                                           WidthCase{1, 40, 0, 0.8, 0, 100, 30, 40},
                                           WidthCase{0, 100, 1, 0.8, 0, 100, 30, 37},
                                           WidthCase{0, 100, 1, 0.8, 1, 20, 30, 25},
                                           WidthCase{1, 20, 1, 0.8, 0, 100, 30, 20},
                                           WidthCase{0, 100, 1, 0.0, 0, 100, 30, INT32_MAX},
                                           WidthCase{0, 100, 1, 0.8, 0, 100, 0, INT32_MAX}));

struct ClampCase {
    Ints list, expected;
};

class PitchClamp : public ::testing::TestWithParam<ClampCase> {};

TEST_P(PitchClamp, ListStartsAtTheMinimumPitch)
{
    IndexList list(GetParam().list.begin(), GetParam().list.end());
    ASSERT_EQ(0, clampPitchList(&list, 7));
    EXPECT_EQ(GetParam().expected, asInts(list));
}

INSTANTIATE_TEST_SUITE_P(Pitch, PitchClamp,
                         ::testing::Values(ClampCase{{}, {7}}, ClampCase{{8, 9}, {8, 9}},
                                           ClampCase{{3, 7, 9}, {7, 9}}, ClampCase{{3, 8}, {7, 8}},
                                           ClampCase{{3, 5}, {7}}));

struct CandidateCase {
    uint32_t pitchMeasure;
    int32_t minPitch;
    Ints leftToLeft, rightToRight, centreToCentre;  // the finished lists
};

class PitchCandidates : public ::testing::TestWithParam<CandidateCase> {};

// Three characters 10 wide at 0, 20 and 60: the gap of 30 before the last
// holds three characters of the middle one's width (pitch 40 proposes 20,
// 13 and 10) but only one of the pair in front of it (60 proposes 30).
TEST_P(PitchCandidates, PairsOfCharactersAndWideGapsProposePitches)
{
    const CandidateCase& c = GetParam();
    koc_charSegmentRunParams p = defaults();
    p.limitAspect = 0;  // the width limit is then twice the line height
    p.pitchMeasure = c.pitchMeasure;
    p.minPitch = c.minPitch;
    Line line({{0, 10}, {20, 10}, {60, 10}}, p);
    PitchAnalysis a;
    ASSERT_EQ(0, collectPitchCandidates(&a, &line.elements, &p, nullptr));
    EXPECT_EQ(20, a.lineHeight);
    EXPECT_EQ(40, a.maxCharWidth);
    EXPECT_EQ(std::max(7, c.minPitch), a.minPitch);  // ceil(20 / 3.3)
    EXPECT_EQ(c.leftToLeft, asInts(a.leftToLeftPitches));
    EXPECT_EQ(c.rightToRight, asInts(a.rightToRightPitches));
    EXPECT_EQ(c.centreToCentre, asInts(a.centreToCentrePitches));
}

INSTANTIATE_TEST_SUITE_P(Pitch, PitchCandidates,
                         ::testing::Values(CandidateCase{1, 0, {10, 13, 20, 30, 40, 60}, {10, 13, 20, 40},
                                                         {10, 13, 20, 25, 40, 50}},
                                           CandidateCase{2, 15, {15, 20, 30, 40, 60}, {15}, {15}}));

// ---- evaluation of one grouping ----

struct EvalCase {
    int32_t measure;
    std::vector<kstd_rect32> rects;
    int32_t minPitch, minCell, maxCell, mean, ratio, regular, smallPitches;
};

class PitchEvaluate : public ::testing::TestWithParam<EvalCase> {};

TEST_P(PitchEvaluate, BalancedPitchesGiveTheRegularity)
{
    const EvalCase& c = GetParam();
    PitchScratch scratch;
    PathEvaluation e;
    ASSERT_EQ(0, evaluateCharRects(c.rects.data(), int32_t(c.rects.size()), c.measure, c.minPitch, &scratch, &e));
    EXPECT_EQ((Ints{c.minCell, c.maxCell, c.mean, c.ratio, c.regular, c.smallPitches}),
              (Ints{e.minCellPitch, e.maxCellPitch, e.meanPitch, e.pitchRatio, e.isRegular, e.smallPitchCount}));
}

// A 30-wide character among 10-wide ones at pitch 12 stays irregular under
// every measure (ratio 12/30); a wide gap alone is absorbed by balancing;
// a ratio of exactly 0.8 is regular.
const std::vector<kstd_rect32> kWideOne{{0, 0, 10, 20}, {12, 0, 10, 20}, {24, 0, 30, 20}, {56, 0, 10, 20}};
INSTANTIATE_TEST_SUITE_P(
    Pitch, PitchEvaluate,
    ::testing::Values(EvalCase{kLeftToLeft, kWideOne, 0, 12, 30, 21, 26214, 0, 0},
                      EvalCase{kRightToRight, kWideOne, 0, 12, 30, 21, 26214, 0, 0},
                      EvalCase{kCentreToCentre, kWideOne, 0, 12, 30, 20, 26214, 0, 0},
                      EvalCase{kLeftToLeft, {{0, 0, 10, 20}, {12, 0, 10, 20}, {40, 0, 10, 20}}, 0, 12, 12, 12,
                               65536, 1, 0},
                      EvalCase{kLeftToLeft, {{0, 0, 8, 20}, {8, 0, 10, 20}}, 0, 8, 10, 9, 52429, 1, 0},
                      EvalCase{kRightToRight, {{5, 0, 17, 20}}, 0, 17, 17, 17, 65536, 1, 0},
                      EvalCase{kLeftToLeft, {{0, 0, 10, 20}, {5, 0, 10, 20}}, 8, 10, 10, 10, 65536, 1, 1}));

TEST(PitchSearch, CountsBadGapsAndUncoveredFragments)
{
    koc_charSegmentRunParams p = defaults();
    p.pitchMeasure = 2;
    p.gapMode = 2;  // gaps of at least 2 between characters, at most 1 inside
    p.minCharGap = 2;
    // Pitch 10 groups the first two (inner gap 2); the third follows at gap
    // 1; the last is too narrow to be a character.
    Line line({{0, 4}, {6, 4}, {11, 8}, {40, 2}}, p);
    PitchAnalysis a;
    ASSERT_EQ(0, collectPitchCandidates(&a, &line.elements, &p, nullptr));
    EXPECT_EQ(2, a.minCharGap);
    EXPECT_EQ(1, a.maxInnerGap);
    a.leftToLeftPitches.assign({10});
    PitchSearchResult r;
    ASSERT_EQ(0, searchPitches(&a, &line.tree, &p, &r, nullptr));
    EXPECT_EQ((std::vector<FragmentRun>{{0, 1}, {2, 2}}), runsOf(line.tree, r.bestPath.data(), r.bestPath.size()));
    EXPECT_EQ(2, r.evaluation.gapViolations);
    EXPECT_EQ(2, r.evaluation.maxGapInside);
    EXPECT_EQ(1, r.evaluation.minGapBetween);
    EXPECT_EQ(1, r.evaluation.uncoveredCount);
    EXPECT_FALSE(settlesLine(r.evaluation));

    p.gapMode = 3;
    EXPECT_EQ(KOC_E_GAP_MODE, collectPitchCandidates(&a, &line.elements, &p, nullptr));
}

// ---- the pre-pass on a line ----

struct SettleCase {
    const char* name;
    std::vector<Piece> pieces;
    int32_t maxCharWidth, minPitch;  // maxCharWidth 0: no width limit
    bool settled;
    std::vector<FragmentRun> runs;  // of the run context's best path
};

class PitchPrePass : public ::testing::TestWithParam<SettleCase> {};

TEST_P(PitchPrePass, SettlesOnlyCleanRegularLines)
{
    const SettleCase& c = GetParam();
    koc_charSegmentRunParams p = defaults();
    p.limitCharWidth = c.maxCharWidth > 0 ? 1 : 0;
    p.maxCharWidth = c.maxCharWidth > 0 ? c.maxCharWidth : 100;
    p.minPitch = c.minPitch;
    Line line(c.pieces, p);
    koc_charSegmentLineResultData_* data = nullptr;
    ASSERT_EQ(0, koc_charSegmentLineResultData__new(&data));
    ASSERT_EQ(0, kstd_vector_koc_charSegmentElementInfo_assign(&data->treeElements, &line.elements));
    ASSERT_EQ(0, koc_charHypothesisTree_assign(&data->tree, &line.tree));

    bool settled = !c.settled;
    ASSERT_EQ(0, runPitchPrePass(data, &p, nullptr, &settled));
    EXPECT_EQ(c.settled, settled);
    const auto* path = static_cast<const int32_t*>(data->runContext.bestPath.base.begin);
    EXPECT_EQ(c.runs, runsOf(data->tree, path, size_t(data->runContext.bestPath.base.size)));
    koc_charSegmentLineResultData__delete(&data);
}

INSTANTIATE_TEST_SUITE_P(
    Pitch, PitchPrePass,
    ::testing::Values(
        // Pitch 14 with the third character in two pieces 5 apart, closer
        // than minPitch: grouped into one, the line is regular.
        SettleCase{"RegularWithBrokenCharacter",
                   {{0, 10}, {14, 10}, {28, 4}, {33, 5}, {42, 10}, {56, 10}},
                   0, 10, true, {{0, 0}, {1, 1}, {2, 3}, {4, 4}, {5, 5}}},
        SettleCase{"OneElement", {{3, 10}}, 0, 0, true, {{0, 0}}},
        // A character 30 wide among 10-wide ones at pitch 12.
        SettleCase{"Irregular", {{0, 10}, {12, 10}, {24, 30}, {56, 10}}, 12, 0, false, {}},
        // Two characters 8 apart with minPitch 12, too wide to be one.
        SettleCase{"OneSmallPitch", {{0, 10}, {14, 10}, {28, 10}, {36, 10}, {50, 10}}, 12, 12, false, {}},
        // Narrower than a character and too far apart to be grouped.
        SettleCase{"AllTooSmall", {{0, 2}, {30, 2}, {60, 2}}, 0, 0, false, {}}),
    [](const auto& row) { return std::string(row.param.name); });

// ---- tried paths ----

TEST(PitchTriedPaths, RingKeepsTheLatestHundredAndForgetsOlderOnes)
{
    PitchSearchResult r;
    for (int32_t k = 0; k < 130; ++k) ASSERT_EQ(0, rememberTriedPath(&r, IndexList{k, k}, 4));
    ASSERT_EQ(0, rememberTriedPath(&r, IndexList{}, 4));  // nothing to remember
    EXPECT_EQ(size_t(kTriedPathCapacity), r.triedPaths.size());
    EXPECT_EQ(29, r.ringPosition);
    for (int32_t k = 0; k < 130; ++k) EXPECT_EQ(k < 30, isNewPath(&r, IndexList{k, k})) << k;

}

// 150 one-pixel fragments tried at every pitch from 1 to 300: 150 distinct
// groupings (two pitches each), each evaluated once, the first (mean pitch
// 2) the best. The second search finds every fragment set in the tree, so
// what it allocates is its buffers and the ring, not the tried paths.
TEST(PitchSearch, EvaluatesEachGroupingOnceWithoutAllocatingPerPath)
{
    koc_charSegmentRunParams p = defaults();
    p.minCharWidth = p.minCharHeight = p.minCharArea = 1;
    p.limitAspect = 0;
    p.pitchMeasure = 2;
    std::vector<Piece> pieces;
    for (int32_t k = 0; k < 150; ++k) pieces.push_back({2 * k, 1});
    Line line(pieces, p, 200, 1);
    PitchAnalysis a;
    ASSERT_EQ(0, collectPitchCandidates(&a, &line.elements, &p, nullptr));
    a.leftToLeftPitches.clear();
    for (int32_t pitch = 1; pitch <= 300; ++pitch) a.leftToLeftPitches.push_back(pitch);
    PitchSearchResult r;
    ASSERT_EQ(0, searchPitches(&a, &line.tree, &p, &r, nullptr));

    test::FailingAllocator counter;
    ASSERT_EQ(0, searchPitches(&a, &line.tree, &p, &r, nullptr));
    EXPECT_LE(counter.allocations(), kTriedPathCapacity + 8);
    EXPECT_EQ(size_t(kTriedPathCapacity), r.triedPaths.size());
    EXPECT_EQ(48, r.ringPosition);  // 149 remembered
    EXPECT_EQ(150u, r.bestPath.size());
    EXPECT_EQ(2, r.evaluation.meanPitch);
    EXPECT_TRUE(settlesLine(r.evaluation));
}

}  // namespace
