// auto_road_test.cpp: the auto road for one rectangle: a line with one
// fused pair takes the second run with the touching split; its answers are
// the Ext entry point's with the record and extensions it reports, on every
// image kind; what the caller pinned or set wins; bad input fails with a
// clear code and leaves nothing looking computed.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "koc/koc.h"
#include "support/fakes.hpp"
#include "support/paragraph.hpp"
#include "support/text_image.hpp"

namespace {

using test::Owned;

// Everything one call fills, constructed and destructed together.
struct AutoCall {
    koc_charSegmentRunParams base;
    koc_charSegmentExtensions ext;
    koc_lineExtractResult line;
    koc_charSegmentParagraphResult result;
    koc_autoSegmentReport report;
    AutoCall()
    {
        koc_charSegmentRunParams_construct(&base);
        koc_charSegmentExtensions_construct(&ext);
        koc_lineExtractResult_construct(&line);
        koc_charSegmentParagraphResult_construct(&result);
        koc_autoSegmentReport_construct(&report);
    }
    ~AutoCall()
    {
        koc_autoSegmentReport_destruct(&report);
        koc_charSegmentParagraphResult_destruct(&result);
        koc_lineExtractResult_destruct(&line);
        koc_charSegmentExtensions_destruct(&ext);
        koc_charSegmentRunParams_destruct(&base);
    }
    AutoCall(const AutoCall&) = delete;
    AutoCall& operator=(const AutoCall&) = delete;
    int32_t run(const kimg_image& image, const kmath_shapeAffineRect& rect, uint64_t pinned = 0,
                uint32_t given = 0, int depth = 8)
    {
        return depth == 8 ? koc_segmentCharactersParagraphAuto8(&image, &rect, &base, pinned, &ext, given, &line,
                                                                 &result, &report)
                          : koc_segmentCharactersParagraphAuto16(&image, &rect, &base, pinned, &ext, given, &line,
                                                                 &result, &report);
    }
};

using Marks = std::vector<test::MarkBox>;
using test::markBoxes;

// The paragraph the Ext entry point gives with the record and extensions
// the auto road reports.
Marks extMarks(const kimg_image& image, const kmath_shapeAffineRect& rect,
                                            const koc_charSegmentRunParams& params,
                                            const koc_charSegmentExtensions& ext, int depth = 8)
{
    koc_charSegmentParagraphResult result;
    koc_charSegmentParagraphResult_construct(&result);
    const int32_t rc = depth == 8 ? koc_segmentCharactersParagraphExt8(&image, &rect, &params, &ext, &result)
                                  : koc_segmentCharactersParagraphExt16(&image, &rect, &params, &ext, &result);
    EXPECT_EQ(0, rc);
    Marks out = markBoxes(result);
    koc_charSegmentParagraphResult_destruct(&result);
    return out;
}

// Ten blocky glyphs of proportional widths (frames 24 high, strokes 3
// thick, a middle bar), 4 pixels apart, glyphs 3 and 4 joined by a
// hairline across their gap at mid-height: one fused pair on a line of
// separate glyphs, too few for the estimator to call the line touching, and
// narrow enough together to pass the aspect limit whole.
constexpr int32_t kFusedLeft = 3;
constexpr int32_t kGlyphWidths[] = {9, 14, 11, 9, 10, 16, 9, 12, 10, 13};
constexpr int32_t kGap = 4, kLeft = 30, kTop = 23, kHeight = 24;

struct Layout {
    int32_t width = 0;
    int32_t height = 70;
    int32_t left[10] = {};
};

Layout layout()
{
    Layout l;
    int32_t x = kLeft;
    for (int32_t k = 0; k < 10; ++k) {
        l.left[k] = x;
        x += kGlyphWidths[k] + kGap;
    }
    l.width = x + kLeft;
    return l;
}

kimg_image renderFusedPair(int32_t depth = KIMG_DEPTH_8)
{
    const Layout l = layout();
    const auto ink = [&](int32_t x, int32_t y) {
        const int32_t v = y - kTop;
        if (v < 0 || v >= kHeight) {
            return false;
        }
        for (int32_t k = 0; k < 10; ++k) {
            const int32_t u = x - l.left[k];
            if (u >= 0 && u < kGlyphWidths[k]) {
                return u < 3 || u >= kGlyphWidths[k] - 3 || v < 3 || v >= kHeight - 3 || std::abs(v - 12) < 2;
            }
        }
        const int32_t bridge0 = l.left[kFusedLeft] + kGlyphWidths[kFusedLeft];
        return x >= bridge0 && x < bridge0 + kGap && v == 12;
    };
    kimg_image image;
    kimg_image_construct(&image);
    kimg_image_assignNew(&image, depth, l.width, l.height);
    kimg_window w;
    kimg_window_init(&w, &image);
    for (int32_t y = 0; y < l.height; ++y) {
        for (int32_t x = 0; x < l.width; ++x) {
            const uint32_t g = ink(x, y) ? 30u : 215u;
            if (depth == KIMG_DEPTH_8) {
                static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint8_t>(g);
            } else {
                static_cast<uint16_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint16_t>(g * 256u);
            }
        }
    }
    return image;
}

kmath_shapeAffineRect fusedRect()
{
    const Layout l = layout();
    return test::boxRect(5, 5, l.width - 10, l.height - 10);
}

kmath_shapeAffineRect wholeOf(const test::TextLine& line)
{
    return test::boxRect(5, 5, line.width - 10, line.height - 10);
}

TEST(AutoRoad, FusedPairTakesTheSplitRunOnBothDepths)
{
    for (const int depth : {8, 16}) {
        SCOPED_TRACE(depth);
        Owned image(renderFusedPair(depth == 8 ? KIMG_DEPTH_8 : KIMG_DEPTH_16));
        const kmath_shapeAffineRect rect = fusedRect();
        AutoCall call;
        ASSERT_EQ(0, call.run(image.img, rect, 0, 0, depth));
        ASSERT_EQ(1u, call.report.isComputed);
        EXPECT_EQ(0, call.report.estimateCode);
        ASSERT_EQ(1u, call.report.estimate.isComputed);
        EXPECT_EQ(0u, call.report.estimate.isTouching);
        EXPECT_EQ(1u, call.report.isSplitRetried);
        EXPECT_EQ(1u, call.report.extensions.splitTouchingGlyphs);
        EXPECT_EQ(1, call.result.isComputed);
        EXPECT_EQ(1, call.line.isLineFound);

        // The plain run keeps the pair as one mark; the kept run parts it,
        // each piece within its glyph's columns.
        koc_charSegmentExtensions plain = call.report.extensions;
        plain.splitTouchingGlyphs = 0;
        EXPECT_EQ(9u, extMarks(image.img, rect, call.report.params, plain, depth).size());
        const Marks got = markBoxes(call.result);
        ASSERT_EQ(10u, got.size());
        const Layout l = layout();
        for (const int32_t k : {kFusedLeft, kFusedLeft + 1}) {
            EXPECT_NEAR(l.left[k], got[static_cast<size_t>(k)][0], 2.0) << k;
            EXPECT_NEAR(l.left[k] + kGlyphWidths[k], got[static_cast<size_t>(k)][2], 2.0) << k;
        }
        // And the answers are the Ext entry point's with what it reports.
        EXPECT_EQ(got, extMarks(image.img, rect, call.report.params, call.report.extensions, depth));
    }
}

// A range image is measured on its 16-bit image and segmented with its gaps
// filled, as the range image's Ext entry point does.
TEST(AutoRoad, RangeImageTwinAgreesWithItsExtEntryPoint)
{
    Owned image(renderFusedPair(KIMG_DEPTH_16));
    const kmath_shapeAffineRect rect = fusedRect();
    Owned mask(test::makeImage8(layout().width, layout().height,
                                [](int x, int y) { return (x * 7 + y * 3) % 97 == 0 ? 0 : 255; }));
    k3img_rangeImage16 range;
    ASSERT_EQ(0, k3img_rangeImage16_construct(&range));
    ASSERT_EQ(0, k3img_rangeImage16_init(&range, &image.img, &mask.img));
    AutoCall call;
    ASSERT_EQ(0, koc_segmentCharactersParagraphRangeImageAuto16(&range, &rect, &call.base, 0, nullptr, 0, nullptr,
                                                                &call.result, &call.report));
    EXPECT_EQ(1u, call.report.isComputed);
    koc_charSegmentParagraphResult ext;
    koc_charSegmentParagraphResult_construct(&ext);
    ASSERT_EQ(0, koc_segmentCharactersParagraphRangeImageExt16(&range, &rect, &call.report.params,
                                                               &call.report.extensions, &ext));
    EXPECT_EQ(markBoxes(call.result), markBoxes(ext));
    EXPECT_GE(markBoxes(ext).size(), 9u);
    koc_charSegmentParagraphResult_destruct(&ext);
    k3img_rangeImage16_destruct(&range);
}

TEST(AutoRoad, PinnedFieldsAndGivenExtensionsWin)
{
    Owned image(renderFusedPair());
    const kmath_shapeAffineRect rect = fusedRect();
    AutoCall call;
    call.base.minCharArea = 77;
    call.ext.splitTouchingGlyphs = 0;
    call.ext.walkNodeBudget = 5;
    ASSERT_EQ(0, call.run(image.img, rect, KOC_PIN_MIN_CHAR_AREA,
                          KOC_PIN_EXT_SPLIT_TOUCHING_GLYPHS | KOC_PIN_EXT_WALK_NODE_BUDGET));
    EXPECT_EQ(77, call.report.params.minCharArea);
    // The split the caller turned off is neither chosen nor retried.
    EXPECT_EQ(0u, call.report.extensions.splitTouchingGlyphs);
    EXPECT_EQ(0u, call.report.isSplitRetried);
    EXPECT_EQ(5, call.report.extensions.walkNodeBudget);
    EXPECT_EQ(9u, markBoxes(call.result).size());
    EXPECT_EQ(markBoxes(call.result), extMarks(image.img, rect, call.report.params, call.report.extensions));

    // Switches the caller set but did not pin are chosen: off on this clean line.
    AutoCall unpinned;
    unpinned.ext.walkNodeBudget = 5;
    unpinned.ext.bandAwareElements = 1;
    ASSERT_EQ(0, unpinned.run(image.img, rect));
    EXPECT_EQ(0, unpinned.report.extensions.walkNodeBudget);
    EXPECT_EQ(0u, unpinned.report.extensions.bandAwareElements);

    // A split the caller turned on runs once, with it.
    AutoCall on;
    on.ext.splitTouchingGlyphs = 1;
    ASSERT_EQ(0, on.run(image.img, rect, 0, KOC_PIN_EXT_SPLIT_TOUCHING_GLYPHS));
    EXPECT_EQ(1u, on.report.extensions.splitTouchingGlyphs);
    EXPECT_EQ(0u, on.report.isSplitRetried);
    EXPECT_EQ(10u, markBoxes(on.result).size());
}

// On a noisy line the walk's budget and band-aware elements come on, unless
// the caller set them.
TEST(AutoRoad, NoisyLineGetsTheBudgetAndTheBandUnlessSet)
{
    test::TextLine line;
    kimg_image clean = line.render();
    uint32_t seed = 12345;
    kimg_window w;
    kimg_window_init(&w, &clean);
    for (int32_t y = 0; y < line.height; ++y) {
        for (int32_t x = 0; x < line.width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int32_t noise = static_cast<int32_t>(seed >> 24) % 121 - 60;  // spread about 35
            uint8_t& px = static_cast<uint8_t*>(w.pixels)[y * w.pitch + x];
            px = static_cast<uint8_t>(std::clamp(px + noise, 0, 255));
        }
    }
    Owned image(clean);
    const kmath_shapeAffineRect rect = wholeOf(line);
    AutoCall call;
    ASSERT_EQ(0, call.run(image.img, rect));
    ASSERT_GT(call.report.estimate.noiseLevel * 8.0, call.report.estimate.contrast);
    EXPECT_EQ(64, call.report.extensions.walkNodeBudget);
    EXPECT_EQ(1u, call.report.extensions.bandAwareElements);

    AutoCall set;
    ASSERT_EQ(0, set.run(image.img, rect, 0, KOC_PIN_EXT_WALK_NODE_BUDGET | KOC_PIN_EXT_BAND_AWARE_ELEMENTS));
    EXPECT_EQ(0, set.report.extensions.walkNodeBudget);
    EXPECT_EQ(0u, set.report.extensions.bandAwareElements);
}

// A blank rectangle is not a failure: the given record and extensions run,
// and the report says nothing was measured.
TEST(AutoRoad, NoInkRunsTheGivenRecord)
{
    Owned image(test::makeImage8(200, 60, [](int, int) { return 200; }));
    AutoCall call;
    call.base.minCharArea = 9;
    call.ext.walkNodeBudget = 3;
    ASSERT_EQ(0, call.run(image.img, test::boxRect(5, 5, 190, 50)));
    EXPECT_EQ(1u, call.report.isComputed);
    EXPECT_EQ(KOC_E_NO_INK, call.report.estimateCode);
    EXPECT_EQ(0u, call.report.estimate.isComputed);
    int32_t same = 0;
    ASSERT_EQ(0, koc_charSegmentRunParams_compareEqual(&call.base, &call.report.params, &same));
    EXPECT_EQ(1, same);
    EXPECT_EQ(3, call.report.extensions.walkNodeBudget);
    EXPECT_EQ(1, call.result.isComputed);
    EXPECT_EQ(0, call.line.isLineFound);
}

// Every failure leaves the result, the line and the report not computed,
// also when they held a previous success.
TEST(AutoRoad, BadInputFailsAndLeavesOutputsNotComputed)
{
    Owned image(renderFusedPair());
    const kmath_shapeAffineRect rect = fusedRect();
    struct Bad {
        const char* name;
        int32_t code;
        void (*spoil)(AutoCall&, kmath_shapeAffineRect&, uint32_t&);
    };
    const Bad cases[] = {
        {"empty rectangle", KOC_E_RECT_DEGENERATE,
         [](AutoCall&, kmath_shapeAffineRect& r, uint32_t&) { r = test::boxRect(5, 5, 0, 0); }},
        {"rectangle outside", KOC_E_RECT_OUTSIDE_IMAGE,
         [](AutoCall&, kmath_shapeAffineRect& r, uint32_t&) { r = test::boxRect(900, 900, 20, 20); }},
        {"invalid base", KOC_E_NUM_LINES, [](AutoCall& c, kmath_shapeAffineRect&, uint32_t&) { c.base.numLines = 0; }},
        {"invalid extensions", KOC_E_BAD_ARGUMENT,
         [](AutoCall& c, kmath_shapeAffineRect&, uint32_t&) { c.ext.splitTouchingGlyphs = 2; }},
        {"unknown extension bit", KOC_E_BAD_ARGUMENT,
         [](AutoCall&, kmath_shapeAffineRect&, uint32_t& given) { given = 1u << 7; }},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.name);
        AutoCall call;
        ASSERT_EQ(0, call.run(image.img, rect));
        ASSERT_EQ(1, call.result.isComputed);
        kmath_shapeAffineRect r = rect;
        uint32_t given = 0;
        c.spoil(call, r, given);
        EXPECT_EQ(c.code, call.run(image.img, r, 0, given));
        EXPECT_EQ(0, call.result.isComputed);
        EXPECT_EQ(0, call.line.isLineFound);
        EXPECT_EQ(0u, call.report.isComputed);
    }

    // Null required pointers go to the assertion hook, not to a crash.
    test::AssertionCatcher caught;
    AutoCall call;
    EXPECT_LT(koc_segmentCharactersParagraphAuto8(nullptr, &rect, &call.base, 0, nullptr, 0, nullptr, &call.result,
                                                  nullptr),
              0);
    EXPECT_LT(koc_segmentCharactersParagraphAuto8(&image.img, &rect, &call.base, 0, nullptr, 0, nullptr, nullptr,
                                                  nullptr),
              0);
    EXPECT_EQ(2, caught.count());
}

}  // namespace
