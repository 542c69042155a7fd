// stats_test.cpp: the scoring accumulators: variance against a direct
// computation, 32-bit wrap-around, spacing of rectangle pairs.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"

namespace {

koc_statistics32 freshStats(int32_t useIntegerSquares = 1)
{
    koc_statistics32 s;
    koc_statistics32_construct(&s);
    s.useIntegerSquares = useIntegerSquares;
    return s;
}

TEST(Statistics32, EmptyAccumulatorRefusesVarianceAndLeavesOutputAlone)
{
    koc_statistics32 s = freshStats();
    double v = 42.0;
    EXPECT_EQ(KOC_E_NO_SAMPLES, koc_statistics32_getVariance(&s, &v));
    EXPECT_EQ(KOC_E_NO_SAMPLES, koc_statistics32_getStdDev(&s, &v));
    EXPECT_EQ(42.0, v);
}

TEST(Statistics32, VarianceMatchesTwoPassComputation)
{
    const std::vector<std::vector<int32_t>> samples = {{5}, {1, 3}, {2, 4, 4, 4, 5, 5, 7, 9}, {-300, 12, 7, 7, 1000}};
    for (const int32_t integerSquares : {0, 1}) {
        for (const auto& xs : samples) {
            koc_statistics32 s = freshStats(integerSquares);
            for (const int32_t x : xs) koc_statistics32_add(&s, x);
            double mean = 0.0;
            for (const int32_t x : xs) mean += x;
            mean /= static_cast<double>(xs.size());
            double expected = 0.0;
            for (const int32_t x : xs) expected += (x - mean) * (x - mean);
            expected = xs.size() > 1 ? expected / static_cast<double>(xs.size() - 1) : 0.0;
            double v = -1.0, sd = -1.0;
            ASSERT_EQ(0, koc_statistics32_getVariance(&s, &v));
            ASSERT_EQ(0, koc_statistics32_getStdDev(&s, &sd));
            EXPECT_NEAR(expected, v, 1e-9);
            EXPECT_NEAR(std::sqrt(expected), sd, 1e-9);
            EXPECT_EQ(static_cast<int32_t>(xs.size()), s.count);
        }
    }
}

TEST(Statistics32, IntegerSquaresWrapModulo2To32WhileDoubleSquaresDoNot)
{
    koc_statistics32 wrapped = freshStats(1);
    koc_statistics32 exact = freshStats(0);
    for (int k = 0; k < 3; ++k) {
        koc_statistics32_add(&wrapped, 50000);  // 2.5e9 per square: past 2^31
        koc_statistics32_add(&exact, 50000);
    }
    const uint64_t total = 3ull * 50000ull * 50000ull;
    EXPECT_EQ(static_cast<int32_t>(static_cast<uint32_t>(total & 0xffffffffu)), wrapped.sumOfSquares32);
    EXPECT_EQ(7.5e9, exact.sumOfSquares);
    EXPECT_EQ(0, exact.sumOfSquares32);
    EXPECT_EQ(150000, wrapped.sum);
    EXPECT_EQ(50000, wrapped.min);
    EXPECT_EQ(50000, wrapped.max);
}

TEST(Statistics32, SumWrapsInsteadOfOverflowing)
{
    koc_statistics32 s = freshStats();
    koc_statistics32_add(&s, INT32_MAX);
    koc_statistics32_add(&s, 1);
    EXPECT_EQ(INT32_MIN, s.sum);
    EXPECT_EQ(1, s.min);
    EXPECT_EQ(INT32_MAX, s.max);
}

struct Spacing {
    Spacing()
    {
        koc_stringSpacingStats_construct(&s);
        koc_charSegmentRunParams_construct(&params);
    }
    ~Spacing()
    {
        koc_stringSpacingStats_destruct(&s);
        koc_charSegmentRunParams_destruct(&params);
    }
    koc_stringSpacingStats s;
    koc_charSegmentRunParams params;
};

TEST(StringSpacingStats, GapAndThreePitchesOfARectanglePair)
{
    Spacing sp;
    sp.params.minCharGap = 3;
    const kstd_rect32 a{0, 0, 10, 10};
    const kstd_rect32 b{12, 0, 6, 10};
    ASSERT_EQ(0, koc_stringSpacingStats_addSpacingRects(&sp.s, &sp.params, &a, &b));
    EXPECT_EQ(2, sp.s.gapStats.sum);
    EXPECT_EQ(12, sp.s.leftToLeftStats.sum);
    EXPECT_EQ(8, sp.s.rightToRightStats.sum);
    EXPECT_EQ(10, sp.s.centreToCentreStats.sum);  // 12 + ((6 - 10 + 1) >> 1): arithmetic shift rounds down
    EXPECT_EQ(1, sp.s.hasLeftToLeft);
    EXPECT_EQ(1, sp.s.hasCentreToCentre);
    EXPECT_EQ(1, sp.s.hasRightToRight);
    EXPECT_EQ(1, sp.s.smallGapCount);  // 2 < minCharGap
    EXPECT_EQ(0, sp.s.smallPitchCount);
    koc_stringSpacingStats_addWidth(&sp.s, 7);
    EXPECT_EQ(1, sp.s.widthCount);
    EXPECT_EQ(7, sp.s.widthStats.sum);
}

struct PitchCase {
    uint32_t measure;
    int32_t minPitch;
    int32_t expectedSmall;
};

class SmallPitch : public ::testing::TestWithParam<PitchCase> {};

// a = (0,0,10,10), b = (12,0,6,10): left 12, centre 10, right 8.
TEST_P(SmallPitch, CountsAPitchBelowMinPitchByTheChosenMeasure)
{
    Spacing sp;
    sp.params.pitchMeasure = GetParam().measure;
    sp.params.minPitch = GetParam().minPitch;
    const kstd_rect32 a{0, 0, 10, 10};
    const kstd_rect32 b{12, 0, 6, 10};
    ASSERT_EQ(0, koc_stringSpacingStats_addSpacingRects(&sp.s, &sp.params, &a, &b));
    EXPECT_EQ(GetParam().expectedSmall, sp.s.smallPitchCount);
}

INSTANTIATE_TEST_SUITE_P(Measures, SmallPitch,
                         ::testing::Values(PitchCase{2, 12, 0}, PitchCase{2, 13, 1}, PitchCase{4, 10, 0},
                                           PitchCase{4, 11, 1}, PitchCase{8, 8, 0}, PitchCase{8, 9, 1},
                                           PitchCase{1, 12, 0},  // all three: the largest (12) counts
                                           PitchCase{1, 13, 1}, PitchCase{1, INT32_MAX, 0}));

}  // namespace
