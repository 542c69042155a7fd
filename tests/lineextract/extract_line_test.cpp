// extract_line_test.cpp: line extraction end to end on synthetic lines: the
// no-search road, rotation and height found, polarity, 16-bit conversion.
#include <cmath>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "support/fakes.hpp"
#include "support/text_image.hpp"

namespace {

struct Extraction {
    koc_lineExtractParams params;
    koc_lineExtractResult result;
    Extraction()
    {
        koc_lineExtractParams_construct(&params);
        koc_lineExtractResult_construct(&result);
    }
    ~Extraction()
    {
        koc_lineExtractResult_destruct(&result);
        koc_lineExtractParams_destruct(&params);
    }
};

using test::Owned;

// The default line in a 320 x 120 picture, turned by angle degrees.
test::TextLine turnedLine(double angle)
{
    test::TextLine line;
    line.width = 320;
    line.height = 120;
    line.originY = 40;
    line.angleDeg = angle;
    return line;
}

double angleDistance(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

TEST(ExtractLine, WithoutSearchTheLineImageIsTheWholeRectangle)
{
    test::TextLine line;
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, 260, 60);
    Extraction e;
    e.params.normalizationMode = 1;
    ASSERT_EQ(0, koc_extractLine(&image.img, &rect, &e.params, &e.result));
    EXPECT_EQ(-1.0, e.result.lineHeight);
    int32_t maskBound = 1;
    kimg_imageRle_getIsBound(&e.result.lineMask, &maskBound);
    EXPECT_EQ(0, maskBound);
    kstd_rect32 w;
    kimg_image_getWindow(&e.result.lineImage, &w);
    EXPECT_EQ(260, w.width);
    EXPECT_EQ(60, w.height);
    EXPECT_EQ(1u, e.result.polarity);  // dark marks on a light ground
    EXPECT_EQ(1, e.result.isLineFound);
    EXPECT_EQ(0.0, e.result.lineAngle);
}

struct RotationCase {
    double angle;
    uint32_t mode;
};

class ExtractRotated : public ::testing::TestWithParam<RotationCase> {};

// The locator finds the rotation to the degree, the text height within a
// couple of pixels, and a tight rectangle around the glyphs.
TEST_P(ExtractRotated, FindsAngleHeightAndBand)
{
    const test::TextLine line = turnedLine(GetParam().angle);
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(8, 8, 300, 104);
    Extraction e;
    e.params.maxLineAngle = 10;
    e.params.normalizationMode = GetParam().mode;
    ASSERT_EQ(0, koc_extractLine(&image.img, &rect, &e.params, &e.result));
    ASSERT_EQ(1, e.result.isLineFound);
    EXPECT_LE(angleDistance(e.result.lineAngle, line.angleDeg), 1.01) << e.result.lineAngle;
    EXPECT_NEAR(line.glyphHeight, e.result.lineHeight, 3.0);
    EXPECT_EQ(1u, e.result.polarity);
    // The tight rectangle's y side is about the text height long.
    double yLength = 0.0;
    kmath_shapeAffineRect_getYLength(&e.result.lineRect, &yLength);
    EXPECT_NEAR(line.glyphHeight, yLength, 4.0);
    int32_t normalizedBound = 0;
    kimg_image_getIsBound(&e.result.normalizedImage, &normalizedBound);
    EXPECT_EQ(1, normalizedBound);
    // Every glyph's corners lie in the tight rectangle (within two pixels
    // across the band: its outermost bins are trimmed by design).
    kmath_xformLinear toLocal;
    ASSERT_EQ(0, kmath_xformLinear_getInverse(&e.result.lineRect.xform, &toLocal));
    double xLength = 0.0;
    kmath_shapeAffineRect_getXLength(&e.result.lineRect, &xLength);
    const double a = line.angleDeg * M_PI / 180.0;
    for (int k = 0; k < line.count; ++k) {
        for (const double u : {k * line.pitch + 0.0, k * line.pitch + line.glyphWidth + 0.0}) {
            for (const double v : {0.0, line.glyphHeight + 0.0}) {
                const kmath_vect p{line.originX + u * std::cos(a) - v * std::sin(a),
                                   line.originY + u * std::sin(a) + v * std::cos(a)};
                kmath_vect q;
                kmath_xformLinear_mapPoint(&toLocal, &p, &q);
                EXPECT_GE(q.x * xLength, -0.5) << "glyph " << k;
                EXPECT_LE(q.x * xLength, xLength + 0.5) << "glyph " << k;
                EXPECT_GE(q.y * yLength, -2.0) << "glyph " << k;
                EXPECT_LE(q.y * yLength, yLength + 2.0) << "glyph " << k;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Angles, ExtractRotated,
                         ::testing::Values(RotationCase{0.0, 4}, RotationCase{4.0, 4}, RotationCase{-6.0, 8},
                                           RotationCase{3.0, 2}, RotationCase{-10.0, 4}, RotationCase{9.0, 8}));

// A half-degree range rounds up: 2.5 searches -3 .. 3 degrees and finds 3.
TEST(ExtractLine, HalfDegreeRangeRoundsUp)
{
    Owned image(turnedLine(3.0).render());
    const kmath_shapeAffineRect rect = test::boxRect(8, 8, 300, 104);
    Extraction e;
    e.params.maxLineAngle = 2.5;
    ASSERT_EQ(0, koc_extractLine(&image.img, &rect, &e.params, &e.result));
    EXPECT_DOUBLE_EQ(2.999267578125, e.result.lineAngle);
}

TEST(ExtractLine, LightOnDarkIsDecidedAsPolarityTwo)
{
    test::TextLine line;
    line.ink = 230;
    line.ground = 25;
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, 280, 60);
    Extraction e;
    e.params.maxLineAngle = 2;
    ASSERT_EQ(0, koc_extractLine(&image.img, &rect, &e.params, &e.result));
    EXPECT_EQ(2u, e.result.polarity);
    EXPECT_EQ(1, e.result.isLineFound);
}

TEST(ExtractLine, BlankRegionFindsNoLine)
{
    Owned image(test::makeImage8(200, 60, [](int, int) { return 128; }));
    const kmath_shapeAffineRect rect = test::boxRect(5, 5, 190, 50);
    Extraction e;
    e.params.maxLineAngle = 5;
    ASSERT_EQ(0, koc_extractLine(&image.img, &rect, &e.params, &e.result));
    EXPECT_EQ(0, e.result.isLineFound);
    EXPECT_EQ(-1.0, e.result.lineHeight);
}

TEST(ExtractLine, SixteenBitLineMatchesTheEightBitOne)
{
    test::TextLine line;
    Owned image8(line.render(KIMG_DEPTH_8));
    Owned image16(line.render(KIMG_DEPTH_16, 256));
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, 280, 60);
    Extraction e8, e16;
    e8.params.maxLineAngle = e16.params.maxLineAngle = 5;
    ASSERT_EQ(0, koc_extractLine(&image8.img, &rect, &e8.params, &e8.result));
    ASSERT_EQ(0, koc_extractLine16(&image16.img, &rect, &e16.params, &e16.result));
    EXPECT_EQ(e8.result.isLineFound, e16.result.isLineFound);
    EXPECT_EQ(e8.result.polarity, e16.result.polarity);
    EXPECT_EQ(e8.result.lineAngle, e16.result.lineAngle);
    EXPECT_NEAR(e8.result.lineHeight, e16.result.lineHeight, 1.0);
    int32_t depth = 0;
    kimg_image_getDepth(&e16.result.lineImage, &depth);
    EXPECT_EQ(KIMG_DEPTH_8, depth);
    kimg_image_getDepth(&e16.result.normalizedImage, &depth);
    EXPECT_EQ(KIMG_DEPTH_8, depth);
    // Wrong depth for the road is refused, not misread.
    EXPECT_EQ(KOC_E_IMAGE_DEPTH, koc_extractLine(&image16.img, &rect, &e8.params, &e8.result));
}

TEST(ExtractLine, FlatSixteenBitLineBecomesMidGrey)
{
    kimg_image flat;
    kimg_image_construct(&flat);
    kimg_image_assignNew(&flat, KIMG_DEPTH_16, 50, 20);  // all zero
    Owned image(flat);
    const kmath_shapeAffineRect rect = test::boxRect(0, 0, 50, 20);
    Extraction e;
    e.params.normalizationMode = 1;
    e.params.polarity = 1;
    ASSERT_EQ(0, koc_extractLine16(&image.img, &rect, &e.params, &e.result));
    EXPECT_EQ(128, test::pixel8(e.result.lineImage, 0, 0));
    EXPECT_EQ(128, test::pixel8(e.result.lineImage, 49, 19));
}

TEST(ExtractLine, AttentionTripEndsTheCallWithItsCodeAndNoLine)
{
    test::TextLine line;
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, 280, 60);
    for (long trip = 0; trip < 8; ++trip) {
        Extraction e;
        e.params.maxLineAngle = 3;
        test::TrippingAttention attention(trip);
        EXPECT_EQ(KOC_E_CANCELLED, koc_extractLine(&image.img, &rect, &e.params, &e.result)) << trip;
        EXPECT_EQ(0, e.result.isLineFound);
    }
}

// Upright strokes of the text decide the shear: slanted glyphs report their
// slant (upright ones may tie with a neighbouring degree, so only slanted
// lines are asserted).
TEST(ExtractLine, SlantedGlyphsReportTheirShear)
{
    for (const double shear : {-10.0, 10.0}) {
        test::TextLine line;
        line.shearDeg = shear;
        line.width = 340;
        line.height = 90;
        line.originX = 40;
        Owned image(line.render());
        const kmath_shapeAffineRect rect = test::boxRect(10, 10, 320, 70);
        Extraction e;
        e.params.maxLineAngle = 3;
        e.params.maxSkewAngle = 15;
        ASSERT_EQ(0, koc_extractLine(&image.img, &rect, &e.params, &e.result));
        EXPECT_LE(angleDistance(e.result.skewAngle, shear), 1.01) << e.result.skewAngle;
        EXPECT_LE(angleDistance(e.result.lineAngle, 0.0), 1.01);
    }
}

// Hosts fill the extraction parameters themselves: every field that sizes
// the work or feeds a conversion is refused with the run parameters' code.
TEST(ExtractLineRequests, BadParametersGetTheirCodeBeforeAnyWork)
{
    Owned image(test::TextLine{}.render());
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, 280, 60);
    struct Case {
        void (*set)(koc_lineExtractParams&);
        int32_t code;
    };
    const Case cases[] = {
        {[](koc_lineExtractParams& p) { p.maxLineAngle = std::nan(""); }, KOC_E_MAX_LINE_ANGLE},
        {[](koc_lineExtractParams& p) { p.maxLineAngle = 100000; }, KOC_E_MAX_LINE_ANGLE},
        {[](koc_lineExtractParams& p) { p.maxSkewAngle = -1; }, KOC_E_MAX_SKEW_ANGLE},
        {[](koc_lineExtractParams& p) { p.maxSkewAngle = INFINITY; }, KOC_E_MAX_SKEW_ANGLE},
        {[](koc_lineExtractParams& p) { p.polarity = 3; }, KOC_E_POLARITY},
        {[](koc_lineExtractParams& p) { p.normalizationMode = 16; }, KOC_E_NORMALIZATION_MODE},
        {[](koc_lineExtractParams& p) { p.maxHeight = 0; }, KOC_E_MAX_CHAR_HEIGHT},
        {[](koc_lineExtractParams& p) { p.useGradientMethod = 7; }, KOC_E_USE_GRADIENT_METHOD},
    };
    for (const Case& c : cases) {
        Extraction e;
        c.set(e.params);
        test::FailingAllocator counting;
        EXPECT_EQ(c.code, koc_extractLine(&image.img, &rect, &e.params, &e.result));
        EXPECT_EQ(0, counting.allocations());
        EXPECT_EQ(0, e.result.isLineFound);
    }
}

// A rectangle reaching far past a narrowed image window is cut to the part
// that meets it: the work (and the line image) follows the image, and the
// kept part samples exactly as the same rectangle drawn inside the window.
TEST(ExtractLineRequests, RectangleFarPastTheImageIsCutToThePartThatMeetsIt)
{
    test::TextLine line;
    Owned image(line.render());
    const kstd_rect32 window{0, 0, 150, 80};
    ASSERT_EQ(0, kimg_image_setWindowRect(&image.img, &window, 0));
    Extraction wide, inside;
    wide.params.normalizationMode = 1;
    inside.params.normalizationMode = 1;
    wide.params.polarity = inside.params.polarity = 1;
    const kmath_shapeAffineRect far = test::boxRect(10, 10, 27392, 60);
    const kmath_shapeAffineRect near = test::boxRect(10, 10, 140, 60);
    ASSERT_EQ(0, koc_extractLine(&image.img, &far, &wide.params, &wide.result));
    ASSERT_EQ(0, koc_extractLine(&image.img, &near, &inside.params, &inside.result));
    kstd_rect32 a, b;
    ASSERT_EQ(0, kimg_image_getWindow(&wide.result.lineImage, &a));
    ASSERT_EQ(0, kimg_image_getWindow(&inside.result.lineImage, &b));
    EXPECT_EQ(b.width, a.width);
    EXPECT_EQ(b.height, a.height);
    kimg_windowConst wa, wb;
    kimg_windowConst_init(&wa, &wide.result.lineImage);
    kimg_windowConst_init(&wb, &inside.result.lineImage);
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t x = 0; x < b.width; ++x)
            ASSERT_EQ(static_cast<const uint8_t*>(wb.pixels)[y * wb.pitch + x],
                      static_cast<const uint8_t*>(wa.pixels)[y * wa.pitch + x]) << x << "," << y;
    const kmath_shapeAffineRect away = test::boxRect(400, 10, 27392, 60);
    EXPECT_EQ(KOC_E_RECT_OUTSIDE_IMAGE, koc_extractLine(&image.img, &away, &wide.params, &wide.result));
}

TEST(ExtractLineRequests, RectanglesPastTheSizeLimitsAreRefusedBeforeAnyAllocation)
{
    // The image need not hold the pixels for the check: a window of the
    // limit's size over a small image is enough for the geometry.
    Owned image(test::makeImage8(20000, 2000, [](int, int) { return 128; }));
    Extraction e;
    const kmath_shapeAffineRect tooLong = test::boxRect(0, 0, KOC_MAX_RECT_SIDE + 1, 10);
    const kmath_shapeAffineRect tooLarge = test::boxRect(0, 0, 10000, 1700);
    const kmath_shapeAffineRect largest = test::boxRect(0, 0, KOC_MAX_RECT_SIDE, 10);
    test::FailingAllocator counting;
    EXPECT_EQ(KOC_E_LIMIT_EXCEEDED, koc_extractLine(&image.img, &tooLong, &e.params, &e.result));
    EXPECT_EQ(KOC_E_LIMIT_EXCEEDED, koc_extractLine(&image.img, &tooLarge, &e.params, &e.result));
    EXPECT_EQ(0, counting.allocations());
    EXPECT_EQ(0, koc_extractLine(&image.img, &largest, &e.params, &e.result));
}

// The widest searches on a steep line: the slant search is centred on the
// found rotation, so its slopes reach 90 degrees (no 16.16 tangent there);
// the call must stay defined and still find the line.
TEST(ExtractLineRequests, WidestSearchesOnASteepLineStayDefined)
{
    test::TextLine line;
    line.width = 200;
    line.height = 200;
    line.originX = 60;
    line.originY = 20;
    line.count = 5;
    line.angleDeg = 40;
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(0, 0, 200, 200);
    Extraction e;
    e.params.maxLineAngle = 45;
    e.params.maxSkewAngle = 45;
    ASSERT_EQ(0, koc_extractLine(&image.img, &rect, &e.params, &e.result));
    EXPECT_EQ(1, e.result.isLineFound);
}

}  // namespace
