// entry_points_test.cpp: the paragraph flow through the public entry points:
// validation and rectangle checks with their codes, result sizing, the three
// image kinds.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "koc/koc.h"
#include "support/fakes.hpp"
#include "support/text_image.hpp"

namespace {

struct Call {
    koc_charSegmentRunParams params;
    koc_charSegmentResult result;
    kstd_vector_kmath_shapeAffineRect rects;
    Call()
    {
        koc_charSegmentRunParams_construct(&params);
        koc_charSegmentResult_construct(&result);
        kstd_vector_kmath_shapeAffineRect_constructEmpty(&rects);
    }
    ~Call()
    {
        kstd_vector_kmath_shapeAffineRect_destruct(&rects);
        koc_charSegmentResult_destruct(&result);
        koc_charSegmentRunParams_destruct(&params);
    }
    void add(const kmath_shapeAffineRect& r) { kstd_vector_kmath_shapeAffineRect_pushBack(&rects, &r); }
    const koc_charSegmentParagraphResult& paragraph(int i) const
    {
        return static_cast<const koc_charSegmentParagraphResult*>(result.paragraphResults.base.begin)[i];
    }
    const koc_charSegmentLineResult& line(int p, int l) const
    {
        return static_cast<const koc_charSegmentLineResult*>(paragraph(p).lineResults.base.begin)[l];
    }
};

using test::Owned;

Owned textImage()
{
    return Owned(test::TextLine{}.render());
}

TEST(EntryPoints, EmptyRectangleVectorKeepsTheParagraphsButNotTheComputedFlag)
{
    Owned image = textImage();
    Call call;
    call.add(test::boxRect(10, 10, 280, 60));
    ASSERT_EQ(0, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));
    kstd_vector_kmath_shapeAffineRect none;
    kstd_vector_kmath_shapeAffineRect_constructEmpty(&none);
    EXPECT_EQ(KOC_E_NO_RECTS, koc_segmentCharacters8(&image.img, &none, &call.params, &call.result));
    kstd_vector_kmath_shapeAffineRect_destruct(&none);
    EXPECT_EQ(0, call.result.isComputed);
    EXPECT_EQ(1, call.result.paragraphResults.base.size);
}

// Every early failure on a result left computed by an earlier call: the
// flags must come down whichever check fails first.
TEST(EntryPoints, FailedCallsOnReusedResultsLeaveThemNotComputed)
{
    Owned image = textImage();
    kimg_image unbound;
    kimg_image_construct(&unbound);
    const std::function<int32_t(Call&)> failures[] = {
        [&](Call& c) {
            c.params.numLines = 0;
            return koc_segmentCharacters8(&image.img, &c.rects, &c.params, &c.result);
        },
        [&](Call& c) { return koc_segmentCharacters8(&unbound, &c.rects, &c.params, &c.result); },
        [&](Call& c) {
            test::TrippingAttention cancel(0);
            return koc_segmentCharacters8(&image.img, &c.rects, &c.params, &c.result);
        },
    };
    for (const auto& fail : failures) {
        Call call;
        call.add(test::boxRect(10, 10, 280, 60));
        ASSERT_EQ(0, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));
        ASSERT_EQ(1, call.result.isComputed);
        EXPECT_LT(fail(call), 0);
        EXPECT_EQ(0, call.result.isComputed);
    }
    // The one-paragraph and extraction steps keep the same rule.
    Call call;
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, 280, 60);
    koc_charSegmentParagraphResult paragraph;
    koc_charSegmentParagraphResult_construct(&paragraph);
    koc_lineExtractResult line;
    koc_lineExtractResult_construct(&line);
    ASSERT_EQ(0, koc_segmentCharactersParagraph8(&image.img, &rect, &call.params, &paragraph));
    ASSERT_EQ(0, koc_extractLineAndNormalize_(&image.img, nullptr, nullptr, &rect, &call.params, &line));
    ASSERT_EQ(1, line.isLineFound);
    call.params.numLines = 0;
    EXPECT_EQ(KOC_E_NUM_LINES, koc_segmentCharactersParagraph8(&image.img, &rect, &call.params, &paragraph));
    EXPECT_EQ(0, paragraph.isComputed);
    EXPECT_EQ(KOC_E_NUM_LINES, koc_extractLineAndNormalize_(&image.img, nullptr, nullptr, &rect, &call.params, &line));
    EXPECT_EQ(0, line.isLineFound);
    EXPECT_EQ(0, line.isLineImageValid);
    koc_lineExtractResult_destruct(&line);
    koc_charSegmentParagraphResult_destruct(&paragraph);
    kimg_image_destruct(&unbound);
}

struct RectCase {
    const char* name;
    kmath_shapeAffineRect rect;
    int32_t code;
};

class RectangleCheck : public ::testing::TestWithParam<RectCase> {};

// The image is 300 x 80 pixels with an identity client transform.
TEST_P(RectangleCheck, GivesItsCode)
{
    Owned image = textImage();
    Call call;
    call.params.normalizationMode = 1;
    call.add(GetParam().rect);
    EXPECT_EQ(GetParam().code, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));
}

kmath_shapeAffineRect flat()
{
    kmath_shapeAffineRect r;
    const kmath_vect po{10, 10}, px{50, 10}, py{90, 10};
    kmath_shapeAffineRect_initPoints(&r, &po, &px, &py);
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RectangleCheck,
    ::testing::Values(RectCase{"inside", test::boxRect(10, 10, 200, 50), 0},
                      RectCase{"onTheBorder", test::boxRect(-1e-8, -1e-8, 300 + 2e-8, 80 + 2e-8), 0},
                      RectCase{"halfPixelSide", test::boxRect(10, 10, 0.5, 50), KOC_E_RECT_SIDE_TOO_SHORT},
                      RectCase{"degenerate", flat(), KOC_E_RECT_DEGENERATE},
                      RectCase{"partlyOutside", test::boxRect(250, 10, 100, 50), KOC_E_RECT_PARTLY_OUTSIDE},
                      RectCase{"whollyOutside", test::boxRect(400, 10, 100, 50), KOC_E_RECT_OUTSIDE_IMAGE}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(EntryPoints, FailingRectangleKeepsEarlierParagraphsAndLeavesTheResultNotComputed)
{
    Owned image = textImage();
    Call call;
    call.params.normalizationMode = 1;
    call.add(test::boxRect(10, 10, 280, 60));
    call.add(test::boxRect(400, 10, 100, 50));
    EXPECT_EQ(KOC_E_RECT_OUTSIDE_IMAGE, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));
    EXPECT_EQ(0, call.result.isComputed);
    EXPECT_EQ(1, call.paragraph(0).isComputed);
    EXPECT_EQ(0, call.paragraph(1).isComputed);
}

// One text line read as three: the line keeps its glyphs, the two lines
// beyond it are copies of the paragraph's line with no positions.
TEST(EntryPoints, EachParagraphHoldsNumLinesLineResultsWithTheFirstFound)
{
    Owned image = textImage();
    Call call;
    call.params.numLines = 3;
    call.params.maxLineAngle = 2;
    call.add(test::boxRect(10, 10, 280, 60));
    call.add(test::boxRect(5, 5, 100, 70));  // glyphs 0 to 3, the last one cut
    ASSERT_EQ(0, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));
    EXPECT_EQ(1, call.result.isComputed);
    ASSERT_EQ(2, call.result.paragraphResults.base.size);
    const test::TextLine text;
    for (int p = 0; p < 2; ++p) {
        SCOPED_TRACE(p);
        ASSERT_EQ(3, call.paragraph(p).lineResults.base.size);
        EXPECT_EQ(1, call.line(p, 0).isFound);
        EXPECT_EQ(1u, call.line(p, 0).polarity);
        const auto& first = call.line(p, 0).positionResults;
        ASSERT_EQ(p == 0 ? 10 : 4, first.base.size);
        const auto* pos = static_cast<const koc_charSegmentPositionResult*>(first.base.begin);
        for (int k = 0; k < (p == 0 ? 10 : 3); ++k) {
            kmath_shapeAffineRectPoints pts;
            kmath_shapeAffineRect_getPoints(&pos[k].markRect, &pts);
            EXPECT_NEAR(text.originX + text.glyphLeft(k), pts.po.x, 1.0) << k;
            EXPECT_NEAR(text.originY, pts.po.y, 1.0) << k;
        }
        for (int l = 1; l < 3; ++l) {
            EXPECT_EQ(1, call.line(p, l).isFound);
            EXPECT_EQ(1u, call.line(p, l).polarity);
            EXPECT_EQ(0, call.line(p, l).positionResults.base.size);
        }
        int32_t bound = 0;
        kimg_image_getIsBound(&call.line(p, 0).rectifiedLineImage, &bound);
        EXPECT_EQ(1, bound);
    }
    EXPECT_EQ(4u, call.params.polarity);  // the caller's parameters are never changed
}

TEST(EntryPoints, BlankParagraphIsComputedWithNoLineFound)
{
    Owned image(test::makeImage8(120, 60, [](int, int) { return 90; }));
    Call call;
    call.add(test::boxRect(5, 5, 110, 50));
    ASSERT_EQ(0, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));
    EXPECT_EQ(1, call.paragraph(0).isComputed);
    EXPECT_EQ(0, call.line(0, 0).isFound);
}

TEST(EntryPoints, ValidationAndImageChecksComeFirst)
{
    Owned image = textImage();
    Call call;
    call.add(test::boxRect(10, 10, 100, 50));
    call.params.numLines = 0;
    EXPECT_EQ(KOC_E_NUM_LINES, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));
    call.params.numLines = 1;
    kimg_image unbound;
    kimg_image_construct(&unbound);
    EXPECT_EQ(KOC_E_IMAGE_UNBOUND, koc_segmentCharacters8(&unbound, &call.rects, &call.params, &call.result));
    kimg_image_destruct(&unbound);
    kimg_image_setNonLinearXform(&image.img);
    EXPECT_EQ(KOC_E_NOT_LINEAR_XFORM, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));
}

TEST(EntryPoints, SixteenBitImagesNeedTheGradientMethodButEightBitOnesTakeEither)
{
    test::TextLine line;
    Owned image8(line.render(KIMG_DEPTH_8));
    Owned image16(line.render(KIMG_DEPTH_16, 256));
    Call call;
    call.add(test::boxRect(10, 10, 280, 60));
    call.params.useGradientMethod = 0;
    EXPECT_EQ(KOC_E_NEEDS_GRADIENT_METHOD, koc_segmentCharacters16(&image16.img, &call.rects, &call.params, &call.result));
    k3img_rangeImage16 range;
    k3img_rangeImage16_construct(&range);
    k3img_rangeImage16_init(&range, &image16.img, nullptr);
    EXPECT_EQ(KOC_E_NEEDS_GRADIENT_METHOD,
              koc_segmentCharactersRangeImage16(&range, &call.rects, &call.params, &call.result));
    EXPECT_EQ(0, koc_segmentCharacters8(&image8.img, &call.rects, &call.params, &call.result));
    call.params.useGradientMethod = 1;
    EXPECT_EQ(0, koc_segmentCharacters16(&image16.img, &call.rects, &call.params, &call.result));
    EXPECT_EQ(1, call.line(0, 0).isFound);
    k3img_rangeImage16_destruct(&range);
}

// Holes in a range image (dropouts read as 0, as sensors deliver them) are
// filled before the line is searched, so the line is found as on the intact
// image.
TEST(EntryPoints, RangeImageWithMaskedHolesFindsTheLine)
{
    test::TextLine line;
    Owned image16(line.render(KIMG_DEPTH_16, 256));
    Owned mask(test::makeImage8(line.width, line.height, [](int x, int y) {
        return ((x / 9) % 7 == 3 && (y / 5) % 3 == 1) ? 0 : 255;  // scattered dropouts
    }));
    kimg_window w;
    kimg_window_init(&w, &image16.img);
    kimg_windowConst m;
    kimg_windowConst_init(&m, &mask.img);
    for (int y = 0; y < line.height; ++y)
        for (int x = 0; x < line.width; ++x)
            if (static_cast<const uint8_t*>(m.pixels)[y * m.pitch + x] == 0)
                static_cast<uint16_t*>(w.pixels)[y * w.pitch + x] = 0;
    k3img_rangeImage16 range;
    k3img_rangeImage16_construct(&range);
    ASSERT_EQ(0, k3img_rangeImage16_init(&range, &image16.img, &mask.img));
    Call call;
    call.params.maxLineAngle = 3;
    call.add(test::boxRect(10, 10, 280, 60));
    ASSERT_EQ(0, koc_segmentCharactersRangeImage16(&range, &call.rects, &call.params, &call.result));
    EXPECT_EQ(1, call.line(0, 0).isFound);
    EXPECT_LE(std::min(call.line(0, 0).lineAngle, 360.0 - call.line(0, 0).lineAngle), 1.01);
    k3img_rangeImage16_destruct(&range);
}

}  // namespace

namespace {

TEST(EntryPointLimits, TooManyLinesOrTooWideAGapFillAreRefusedUpFront)
{
    Owned image = textImage();
    Call call;
    call.add(test::boxRect(10, 10, 280, 60));
    call.params.numLines = KOC_MAX_NUM_LINES + 1;
    {
        test::FailingAllocator counting;
        EXPECT_EQ(KOC_E_LIMIT_EXCEEDED, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));
        EXPECT_EQ(0, counting.allocations());
    }
    EXPECT_EQ(0, call.result.isComputed);
    koc_charSegmentParagraphResult paragraph;
    koc_charSegmentParagraphResult_construct(&paragraph);
    const auto* first = static_cast<const kmath_shapeAffineRect*>(call.rects.base.begin);
    EXPECT_EQ(KOC_E_LIMIT_EXCEEDED, koc_segmentCharactersParagraph8(&image.img, first, &call.params, &paragraph));
    koc_charSegmentParagraphResult_destruct(&paragraph);
    call.params.numLines = KOC_MAX_NUM_LINES;
    call.params.normalizationMode = 1;
    EXPECT_EQ(0, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result));

    // Two small rectangles at opposite corners of a large range image: their
    // union is past the fill limit.
    Owned big16(test::makeImage8(1, 1, [](int, int) { return 0; }));
    kimg_image image16;
    kimg_image_construct(&image16);
    ASSERT_EQ(0, kimg_image_assignNew(&image16, KIMG_DEPTH_16, 9000, 8000));
    Owned mask(test::makeImage8(9000, 8000, [](int, int) { return 255; }));
    k3img_rangeImage16 range;
    k3img_rangeImage16_construct(&range);
    ASSERT_EQ(0, k3img_rangeImage16_init(&range, &image16, &mask.img));
    Call corners;
    corners.add(test::boxRect(10, 10, 100, 40));
    corners.add(test::boxRect(8800, 7900, 100, 40));
    EXPECT_EQ(KOC_E_LIMIT_EXCEEDED,
              koc_segmentCharactersRangeImage16(&range, &corners.rects, &corners.params, &corners.result));
    k3img_rangeImage16_destruct(&range);
    kimg_image_destruct(&image16);
}

}  // namespace

namespace {

// Factors that pass their rules but make no integer (a NaN or infinite
// band margin) must not turn into undefined conversions.
TEST(EntryPointLimits, UnboundedFactorsStayDefined)
{
    Owned image = textImage();
    for (const double margin : {std::nan(""), static_cast<double>(INFINITY), 1e300}) {
        for (const int32_t lines : {1, 2}) {
            Call call;
            call.add(test::boxRect(10, 10, 280, 60));
            call.params.lineBandMargin = margin;
            call.params.textHeightScale = margin;
            call.params.numLines = lines;
            EXPECT_EQ(0, koc_segmentCharacters8(&image.img, &call.rects, &call.params, &call.result)) << margin;
        }
    }
}

}  // namespace
