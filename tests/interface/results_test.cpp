// results_test.cpp: the getters of the result tree refuse data that is not
// computed, the binarised line image is computed once and marks come out as
// 255 for either polarity, and resetting a line result honours the
// attention check before touching anything.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

// Eight columns of rising grey (0, 32, ..., 224), two rows.
constexpr int kRamp = 32;

class LineRecord {
public:
    LineRecord() { koc_charSegmentLineResult_construct(&line); }
    ~LineRecord() { koc_charSegmentLineResult_destruct(&line); }
    LineRecord(const LineRecord&) = delete;
    LineRecord& operator=(const LineRecord&) = delete;

    // A found line with a normalised image, a threshold and one position.
    void makeBinarizable(uint32_t threshold, int32_t polarityFlag)
    {
        line.isFound = 1;
        line.hasNormalizedRectifiedLineImage = 1;
        line.hasBinarizationThreshold = 1;
        line.binarizationThreshold = threshold;
        line.thresholdPolarityFlag = polarityFlag;
        kimg_image ramp = test::makeImage8(8, 2, [](int x, int) { return kRamp * x; });
        kimg_image_assign(&line.normalizedRectifiedLineImage, &ramp);
        kimg_image_assign(&line.rectifiedLineImage, &ramp);
        kimg_image_destruct(&ramp);
        kstd_vector_koc_charSegmentPositionResult_resize(&line.positionResults, 1);
    }

    koc_charSegmentLineResult line;
};

using test::Image;

TEST(ResultGetters, ResultAndParagraphRefuseUntilComputed)
{
    koc_charSegmentResult r;
    koc_charSegmentParagraphResult p;
    ASSERT_EQ(0, koc_charSegmentResult_construct(&r));
    ASSERT_EQ(0, koc_charSegmentParagraphResult_construct(&p));
    const kstd_vector_koc_charSegmentParagraphResult* paragraphs = nullptr;
    const kstd_vector_koc_charSegmentLineResult* lines = nullptr;
    EXPECT_EQ(KOC_E_NOT_COMPUTED, koc_charSegmentResult_getParagraphResults(&r, &paragraphs));
    EXPECT_EQ(KOC_E_NOT_COMPUTED, koc_charSegmentParagraphResult_getLineResults(&p, &lines));
    EXPECT_EQ(nullptr, paragraphs);
    EXPECT_EQ(nullptr, lines);

    r.isComputed = 1;
    p.isComputed = 1;
    EXPECT_EQ(0, koc_charSegmentResult_getParagraphResults(&r, &paragraphs));
    EXPECT_EQ(&r.paragraphResults, paragraphs);
    EXPECT_EQ(0, koc_charSegmentParagraphResult_getLineResults(&p, &lines));
    EXPECT_EQ(&p.lineResults, lines);

    ASSERT_EQ(0, koc_charSegmentResult_reset(&r));
    EXPECT_EQ(KOC_E_NOT_COMPUTED, koc_charSegmentResult_getParagraphResults(&r, &paragraphs));
    koc_charSegmentResult_destruct(&r);
    koc_charSegmentParagraphResult_destruct(&p);
}

// ---- line result getters on a line that was not found ----

struct LineGetter {
    const char* name;
    std::function<int32_t(koc_charSegmentLineResult*, kimg_image*)> call;
};

const LineGetter kLineGetters[] = {
    {"RectifiedImage", [](koc_charSegmentLineResult* r, kimg_image* i) {
         return koc_charSegmentLineResult_getRectifiedLineImage(r, i); }},
    {"HasNormalized", [](koc_charSegmentLineResult* r, kimg_image*) {
         int32_t has = 0;
         return koc_charSegmentLineResult_getHasNormalizedRectifiedLineImage(r, &has); }},
    {"NormalizedImage", [](koc_charSegmentLineResult* r, kimg_image* i) {
         return koc_charSegmentLineResult_getNormalizedRectifiedLineImage(r, i); }},
    {"HasBinarized", [](koc_charSegmentLineResult* r, kimg_image*) {
         int32_t has = 0;
         return koc_charSegmentLineResult_getHasBinarizedRectifiedLineImage(r, &has); }},
    {"BinarizedImage", [](koc_charSegmentLineResult* r, kimg_image* i) {
         return koc_charSegmentLineResult_getBinarizedRectifiedLineImage(r, i); }},
    {"PositionResults", [](koc_charSegmentLineResult* r, kimg_image*) {
         const kstd_vector_koc_charSegmentPositionResult* p = nullptr;
         return koc_charSegmentLineResult_getPositionResults(r, &p); }},
    {"Stats", [](koc_charSegmentLineResult* r, kimg_image*) {
         koc_charSegmentLineResultStats s;
         koc_charSegmentLineResultStats_construct(&s);
         const int32_t rc = koc_charSegmentLineResult_getStats(r, &s);
         koc_charSegmentLineResultStats_destruct(&s);
         return rc; }},
};

class LineGetterRefusal : public ::testing::TestWithParam<LineGetter> {};

// Everything but the flag is in place, so only the flag can be the reason.
TEST_P(LineGetterRefusal, RefusesALineNotFound)
{
    LineRecord r;
    r.makeBinarizable(128, 0);
    r.line.isFound = 0;
    Image out;
    EXPECT_EQ(KOC_E_NOT_COMPUTED, GetParam().call(&r.line, &out.h));
    EXPECT_EQ(0, r.line.isBinarizedImageCached);
}

INSTANTIATE_TEST_SUITE_P(Line, LineGetterRefusal, ::testing::ValuesIn(kLineGetters),
                         [](const ::testing::TestParamInfo<LineGetter>& p) { return std::string(p.param.name); });

// The statistics carry their own computed flag: a line not found may still
// report why it was rejected.
TEST(LineGetters, StatsFollowTheirOwnFlagNotTheLine)
{
    LineRecord r;
    r.line.stats.isComputed = 1;
    r.line.stats.minGap = 4;
    koc_charSegmentLineResultStats s;
    ASSERT_EQ(0, koc_charSegmentLineResultStats_construct(&s));
    ASSERT_EQ(0, koc_charSegmentLineResult_getStats(&r.line, &s));
    EXPECT_EQ(4, s.minGap);
    EXPECT_EQ(1, s.isComputed);

    r.line.isFound = 1;
    r.line.stats.isComputed = 0;
    EXPECT_EQ(KOC_E_NOT_COMPUTED, koc_charSegmentLineResult_getStats(&r.line, &s));
    koc_charSegmentLineResultStats_destruct(&s);
}

TEST(LineGetters, FoundLineWithoutThresholdHasNoBinarizedImage)
{
    LineRecord r;
    r.makeBinarizable(128, 0);
    r.line.hasBinarizationThreshold = 0;
    int32_t has = -1;
    EXPECT_EQ(0, koc_charSegmentLineResult_getHasBinarizedRectifiedLineImage(&r.line, &has));
    EXPECT_EQ(0, has);
    Image out;
    EXPECT_EQ(KOC_E_NOT_COMPUTED, koc_charSegmentLineResult_getBinarizedRectifiedLineImage(&r.line, &out.h));

    r.line.hasBinarizationThreshold = 1;
    r.line.hasNormalizedRectifiedLineImage = 0;
    EXPECT_EQ(0, koc_charSegmentLineResult_getHasBinarizedRectifiedLineImage(&r.line, &has));
    EXPECT_EQ(0, has);
    EXPECT_EQ(KOC_E_NOT_COMPUTED, koc_charSegmentLineResult_getNormalizedRectifiedLineImage(&r.line, &out.h));
}

// ---- the binarised image ----

class Binarized : public ::testing::TestWithParam<int32_t> {};

TEST_P(Binarized, MarksAre255AndTheImageIsComputedOnce)
{
    const int32_t flag = GetParam();
    LineRecord r;
    r.makeBinarizable(100, flag);  // columns 0..3 lie below 100, 4..7 at or above
    test::TrippingAttention attention(1000000);
    int32_t has = 0;
    ASSERT_EQ(0, koc_charSegmentLineResult_getHasBinarizedRectifiedLineImage(&r.line, &has));
    ASSERT_EQ(1, has);

    Image first, second;
    ASSERT_EQ(0, koc_charSegmentLineResult_getBinarizedRectifiedLineImage(&r.line, &first.h));
    const long pollsAfterFirst = attention.polls();
    EXPECT_GT(pollsAfterFirst, 0);
    for (int x = 0; x < 8; ++x) {
        const bool below = kRamp * x < 100;
        const bool mark = flag != 0 ? below : !below;
        EXPECT_EQ(mark ? 255 : 0, test::pixel8(first.h, x, 1)) << "x " << x;
    }

    ASSERT_EQ(0, koc_charSegmentLineResult_getBinarizedRectifiedLineImage(&r.line, &second.h));
    EXPECT_EQ(pollsAfterFirst, attention.polls());
    EXPECT_EQ(first.h.store, second.h.store);

}

INSTANTIATE_TEST_SUITE_P(ThresholdPolarityFlag, Binarized, ::testing::Values(0, 1));

TEST(BinarizedImage, CancelledComputationIsNotCached)
{
    LineRecord r;
    r.makeBinarizable(100, 1);
    Image out;
    {
        test::TrippingAttention attention(0, KOC_E_INTERNAL);
        EXPECT_EQ(KOC_E_INTERNAL, koc_charSegmentLineResult_getBinarizedRectifiedLineImage(&r.line, &out.h));
        EXPECT_EQ(0, r.line.isBinarizedImageCached);
    }
    ASSERT_EQ(0, koc_charSegmentLineResult_getBinarizedRectifiedLineImage(&r.line, &out.h));
    EXPECT_EQ(255, test::pixel8(out.h, 0, 0));
    EXPECT_EQ(1, r.line.isBinarizedImageCached);
}

// ---- reset ----

TEST(LineReset, PollsTheAttentionCheckBeforeChangingAnything)
{
    LineRecord r;
    r.makeBinarizable(100, 1);
    {
        test::TrippingAttention attention(0, KOC_E_CANCELLED);
        EXPECT_EQ(KOC_E_CANCELLED, koc_charSegmentLineResult_reset(&r.line));
        EXPECT_EQ(1, attention.polls());
    }
    EXPECT_EQ(1, r.line.isFound);
    EXPECT_EQ(1, r.line.positionResults.base.size);
    EXPECT_NE(nullptr, r.line.normalizedRectifiedLineImage.store);

    ASSERT_EQ(0, koc_charSegmentLineResult_reset(&r.line));
    EXPECT_EQ(0, r.line.isFound);
    EXPECT_EQ(0, r.line.positionResults.base.size);
    EXPECT_EQ(nullptr, r.line.normalizedRectifiedLineImage.store);
    EXPECT_EQ(4u, r.line.polarity);
}

// ---- position results ----

TEST(PositionGetters, RefuseUntilComputedAndScoreOnlySpaces)
{
    koc_charSegmentPositionResult p;
    ASSERT_EQ(0, koc_charSegmentPositionResult_construct(&p));
    const koc_char* character = nullptr;
    int32_t isSpace = -1;
    int32_t score = -1;
    kmath_shapeAffineRect rect{};
    const auto all = [&] {
        return std::vector<int32_t>{koc_charSegmentPositionResult_getCharacter(&p, &character),
                                    koc_charSegmentPositionResult_getIsSpace(&p, &isSpace),
                                    koc_charSegmentPositionResult_getSpaceScore(&p, &score),
                                    koc_charSegmentPositionResult_getMarkRect(&p, &rect),
                                    koc_charSegmentPositionResult_getCellRect(&p, &rect)};
    };
    const int32_t nc = KOC_E_NOT_COMPUTED;
    EXPECT_EQ((std::vector<int32_t>{nc, nc, nc, nc, nc}), all());

    p.isComputed = 1;
    p.spaceScore = 65536;
    p.cellRect.xform.trans.x = 7.0;
    EXPECT_EQ((std::vector<int32_t>{0, 0, nc, 0, 0}), all());
    EXPECT_EQ(&p.character, character);
    EXPECT_EQ(0, isSpace);
    EXPECT_EQ(7.0, rect.xform.trans.x);

    p.isSpace = 1;
    EXPECT_EQ((std::vector<int32_t>{0, 0, 0, 0, 0}), all());
    EXPECT_EQ(65536, score);
    koc_charSegmentPositionResult_destruct(&p);
}

}  // namespace
