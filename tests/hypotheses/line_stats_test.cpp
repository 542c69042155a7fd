// line_stats_test.cpp: the statistics of a finished line, on hand-made lines
// (angle folding, empty ranges, the skip switch, raw and unmatched element
// verdicts) and on a rendered line with a known number of specks.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>
#include <vector>

#include "hypotheses/line_data.hpp"
#include "hypotheses/line_stats.hpp"
#include "koc/koc.h"
#include "support/paragraph.hpp"
#include "support/text_image.hpp"

namespace {

koc_charSegmentElementInfo element(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags = 0, int32_t area = -1)
{
    koc_charSegmentElementInfo e;
    koc_charSegmentElementInfo_construct(&e);
    e.rect = kstd_rect32{x, y, w, h};
    e.area = area < 0 ? w * h / 2 : area;
    e.contrast = 65536 * (x % 7 + 1);
    e.flags = flags;
    return e;
}

struct Line {
    koc_charSegmentRunParams params;
    koc_charSegmentLineResult line;
    Line()
    {
        koc_charSegmentRunParams_construct(&params);
        koc_charSegmentLineResult_construct(&line);
    }
    ~Line()
    {
        koc_charSegmentLineResult_destruct(&line);
        koc_charSegmentRunParams_destruct(&params);
    }
    koc_charSegmentLineResultData_& data() { return *line.lineData; }
    static void set(kstd_vector_koc_charSegmentElementInfo* v, const std::vector<koc_charSegmentElementInfo>& e)
    {
        kstd_vector_koc_charSegmentElementInfo_assignElements(v, e.data(), intptr_t(e.size()));
    }
    // A position whose mark is the given pixel rectangle.
    void addPosition(int32_t x, int32_t w, bool space = false)
    {
        koc_charSegmentPositionResult p;
        koc_charSegmentPositionResult_construct(&p);
        p.isSpace = space ? 1 : 0;
        p.area = space ? 0 : w * 10;
        const kstd_rect32 mark{x, 5, w, 20};
        koc_charMetrics_setRect32(&p.character.metrics, KOC_CHAR_METRIC_MARK_PIXEL, &mark);
        koc_charMetrics_setIsRectSpecified(&p.character.metrics, KOC_CHAR_METRIC_MARK_PIXEL, 1);
        kstd_vector_koc_charSegmentPositionResult_pushBack(&line.positionResults, &p);
        koc_charSegmentPositionResult_destruct(&p);
    }
    int32_t compute() { return koc::hypotheses::computeLineStatistics(&params, &line); }
    const koc_charSegmentLineResultStats& stats() const { return line.stats; }
    size_t size(const kstd_vector_koc_charSegmentElementStats& v) const { return size_t(v.base.size); }
    const koc_charSegmentElementStats& at(const kstd_vector_koc_charSegmentElementStats& v, int i) const
    {
        return static_cast<const koc_charSegmentElementStats*>(v.base.begin)[i];
    }
};

class AngleFolding : public ::testing::TestWithParam<std::tuple<double, double, double, double>> {};

// (line angle, shear angle) -> (folded line angle, folded skew).
TEST_P(AngleFolding, BothAnglesFoldIntoZeroToNinety)
{
    const auto [lineAngle, shear, line, skew] = GetParam();
    Line l;
    l.line.lineAngle = lineAngle;
    l.line.skewAngle = shear;
    ASSERT_EQ(0, l.compute());
    EXPECT_NEAR(line, l.stats().foldedLineAngle, 1e-9);
    EXPECT_NEAR(skew, l.stats().foldedSkewAngle, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Angles, AngleFolding,
                         ::testing::Values(std::tuple(-170.0, -170.0, 10.0, 0.0), std::tuple(190.0, 195.0, 10.0, 5.0),
                                           std::tuple(350.0, 355.0, 10.0, 5.0), std::tuple(30.0, 10.0, 30.0, 20.0),
                                           std::tuple(95.0, 95.0, 85.0, 0.0), std::tuple(-175.0, 175.0, 5.0, 10.0)));

TEST(LineStatistics, ALineWithoutPositionsKeepsEmptyRangesAndCopiesItsLineFields)
{
    Line l;
    l.line.binarizationThreshold = 117;
    l.line.thresholdPolarityFlag = 1;
    l.line.polarity = 2;
    l.data().maxMergedGap = 6;  // minimum still at its reset value
    l.data().croppedCount = 3;
    ASSERT_EQ(0, l.compute());
    const auto& s = l.stats();
    EXPECT_EQ(1, s.isComputed);
    EXPECT_EQ((std::vector<int32_t>{INT32_MAX, 0, INT32_MAX, 0}), (std::vector<int32_t>{s.minGap, s.maxGap, s.minPitch, s.maxPitch}));
    EXPECT_EQ(INT32_MAX, s.minBandHeight);  // no band
    EXPECT_EQ(0, s.positionStats.isFilled);
    EXPECT_EQ(6, s.minMergedGap);
    EXPECT_EQ(6, s.maxMergedGap);
    EXPECT_EQ(3, s.numCroppedTall);
    EXPECT_EQ(117u, s.binarizationThreshold);
    EXPECT_EQ(1, s.thresholdPolarityFlag);
    EXPECT_EQ(2u, s.polarity);
}

TEST(LineStatistics, SkipLeavesTheRecordReset)
{
    Line l;
    l.line.lineAngle = 20;
    l.line.stats.isComputed = 1;  // as a previous run left it
    l.line.stats.numRawOutsideBand = 9;
    l.line.stats.minGap = 4;
    const auto e = element(1, 1, 5, 5);
    koc_charSegmentElementStats entry;
    koc_charSegmentElementStats_construct(&entry);
    kstd_vector_koc_charSegmentElementStats_pushBack(&l.line.stats.rawElements, &entry);
    Line::set(&l.data().rawElements, {e});
    l.params.skipLineStats = 1;
    ASSERT_EQ(0, l.compute());
    koc_charSegmentLineResultStats fresh;
    koc_charSegmentLineResultStats_construct(&fresh);
    int32_t equal = 0;
    koc_charSegmentLineResultStats_compareEqual(&fresh, &l.line.stats, &equal);
    EXPECT_EQ(1, equal);
    EXPECT_EQ(KOC_E_NOT_COMPUTED, koc_charSegmentLineResultStats_checkIsComputed(&l.line.stats));
    koc_charSegmentLineResultStats_destruct(&fresh);
}

TEST(LineStatistics, GapsAndPitchesRunBetweenNeighbouringMarksOnly)
{
    Line l;
    l.addPosition(10, 8);
    l.addPosition(20, 6);          // gap 2, pitch 10 from the first
    l.addPosition(26, 14, true);   // a space breaks the chain
    l.addPosition(40, 9);          // gap 5, pitch 14 from... nothing: a space precedes it
    l.addPosition(52, 7);          // gap 3, pitch 12
    ASSERT_EQ(0, l.compute());
    const auto& s = l.stats();
    EXPECT_EQ(2, s.minGap);
    EXPECT_EQ(3, s.maxGap);
    EXPECT_EQ(10, s.minPitch);
    EXPECT_EQ(12, s.maxPitch);
    EXPECT_EQ(6, s.positionStats.minWidth);
    EXPECT_EQ(9, s.positionStats.maxWidth);
    EXPECT_EQ(14, s.positionStats.minSpaceWidth);
    EXPECT_EQ(14, s.positionStats.maxSpaceWidth);
    EXPECT_EQ(60, s.positionStats.minMarkArea);
    EXPECT_EQ(90, s.positionStats.maxMarkArea);
}

TEST(LineStatistics, RawElementsAreSortedByTheirFlagsAndCounted)
{
    Line l;
    Line::set(&l.data().rawElements, {element(10, 20, 10, 20), element(30, 2, 4, 4, 8), element(40, 22, 3, 3, 2),
                                      element(50, 60, 6, 6, 10), element(60, 18, 10, 24)});
    auto* raw = static_cast<koc_charSegmentElementInfo*>(l.data().rawElements.base.begin);
    raw[0].inBandFraction = 0.75;
    raw[0].outOfBandFraction = 0.25;
    ASSERT_EQ(0, l.compute());
    const auto& s = l.stats();
    EXPECT_EQ(5u, l.size(s.rawElements));
    EXPECT_EQ(2u, l.size(s.rawAccepted));
    EXPECT_EQ(3u, l.size(s.rawRejected));
    EXPECT_EQ(2, s.numRawTouchingBorder);
    EXPECT_EQ(2, s.numRawOutsideBand);
    // Entries carry the element's fractions crosswise into named fields.
    EXPECT_DOUBLE_EQ(0.75, l.at(s.rawAccepted, 0).inBandFraction);
    EXPECT_DOUBLE_EQ(0.25, l.at(s.rawAccepted, 0).outOfBandFraction);
    EXPECT_EQ(1, l.at(s.rawElements, 0).isAccepted);
    EXPECT_EQ(0, l.at(s.rawElements, 1).isAccepted);
    // Accepted elements shape the position summary, rejected ones the other.
    EXPECT_EQ(18, s.positionStats.minTop);
    EXPECT_EQ(42, s.positionStats.maxBottom);
    EXPECT_EQ(1, s.elementStats.isFilled);
    EXPECT_EQ(2, s.elementStats.minTop);
    EXPECT_EQ(66, s.elementStats.maxBottom);
    EXPECT_EQ(4, s.elementStats.minArea);  // 3 x 3 / 2
}

class UnmatchedTreeElements : public ::testing::TestWithParam<bool> {};

// Two characters; the tree holds them plus a speck between them. The speck
// is examined only when it makes the tree elements outnumber the characters.
TEST_P(UnmatchedTreeElements, CountedOnlyWhenTheyOutnumberTheCharacters)
{
    const bool extraSpeck = GetParam();
    Line l;
    l.params.minCharArea = 30;
    l.params.minCharWidth = 3;
    l.params.minCharHeight = 3;
    std::vector<koc_charSegmentElementInfo> tree{element(10, 10, 12, 20), element(30, 18, 2, 4, 0, 5),
                                                 element(40, 10, 12, 20)};
    std::vector<koc_charSegmentElementInfo> chars{element(10, 10, 12, 20), element(40, 10, 12, 20)};
    if (!extraSpeck) chars.insert(chars.begin() + 1, element(28, 10, 8, 20));  // a character over the speck
    Line::set(&l.data().treeElements, tree);
    Line::set(&l.data().charElements, chars);
    ASSERT_EQ(0, l.compute());
    const auto& s = l.stats();
    if (!extraSpeck) {
        EXPECT_EQ(3u, l.size(s.charElements));
        EXPECT_EQ(0, s.numUnmatchedNarrow + s.numUnmatchedLow + s.numUnmatchedSmallArea);
        EXPECT_EQ(0, s.elementStats.isFilled);
        return;
    }
    ASSERT_EQ(3u, l.size(s.charElements));
    EXPECT_EQ(2u, l.size(s.charAccepted));
    ASSERT_EQ(1u, l.size(s.charRejected));
    EXPECT_EQ(64u | 32u, l.at(s.charRejected, 0).flags);  // narrow and small, not low
    EXPECT_EQ(1, s.numUnmatchedNarrow);
    EXPECT_EQ(0, s.numUnmatchedLow);
    EXPECT_EQ(1, s.numUnmatchedSmallArea);
    EXPECT_EQ(5, s.elementStats.minMarkArea);
    EXPECT_EQ(2, s.elementStats.maxWidth);
    // The tree element itself is left as it was.
    EXPECT_EQ(0u, static_cast<const koc_charSegmentElementInfo*>(l.data().treeElements.base.begin)[1].flags);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnmatchedTreeElements, ::testing::Bool());

// A rendered line with specks too small to be characters in the gaps between
// its glyphs: the hypothesis road leaves them out, and the statistics count
// exactly those specks as too small.
TEST(LineStatisticsRoad, SpecksBetweenGlyphsAreCountedAsTooSmall)
{
    test::TextLine text;
    text.pitch = 44;
    text.count = 8;
    text.width = 420;
    kimg_image image = text.render();
    kimg_window w;
    kimg_window_init(&w, &image);
    const int specks = 5;
    for (int k = 0; k < specks; ++k) {
        const int x0 = int(text.originX + text.glyphLeft(k) + text.glyphWidth + 13), y0 = int(text.originY) + 10;
        for (int y = y0; y < y0 + 4; ++y)
            for (int x = x0; x < x0 + 4; ++x) static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = uint8_t(text.ink);
    }
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, text.width - 20, 60);
    test::Paragraph para;
    ASSERT_EQ(0, para.run8(image, rect));
    kimg_image_destruct(&image);
    const auto& s = para.line(0).stats;
    ASSERT_EQ(1, s.isComputed);
    EXPECT_EQ(text.count, para.line(0).positionResults.base.size);
    EXPECT_EQ(specks, s.numUnmatchedSmallArea);
    EXPECT_EQ(specks, s.charRejected.base.size);
    EXPECT_EQ(0, s.numRawOutsideBand);
    EXPECT_EQ(text.count + specks, s.rawAccepted.base.size);
    EXPECT_EQ(30, s.minGap);  // 44 - 14: the specks are no positions
    EXPECT_EQ(30, s.maxGap);
    EXPECT_EQ(44, s.minPitch);
    EXPECT_EQ(44, s.maxPitch);
    EXPECT_NEAR(0.0, s.foldedLineAngle, 1.0);
}

}  // namespace
