// estimate_test.cpp: run parameters measured from a line: the measures
// against lines drawn with known sizes, pinned fields, lines without ink,
// and the chosen record on the whole road.
#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "support/fakes.hpp"
#include "support/paragraph.hpp"
#include "support/text_image.hpp"

namespace {

using test::Owned;

struct Estimate {
    koc_charSegmentRunParams base;
    koc_charSegmentRunParams out;
    koc_runParamsEstimate report;
    Estimate()
    {
        koc_charSegmentRunParams_construct(&base);
        koc_charSegmentRunParams_construct(&out);
        koc_runParamsEstimate_construct(&report);
    }
    ~Estimate()
    {
        koc_runParamsEstimate_destruct(&report);
        koc_charSegmentRunParams_destruct(&out);
        koc_charSegmentRunParams_destruct(&base);
    }
    int32_t run(const kimg_image& image, const kmath_shapeAffineRect& rect, uint64_t pinned = 0, int depth = 8)
    {
        return depth == 8 ? koc_estimateRunParams8(&image, &rect, &base, pinned, &out, &report)
                          : koc_estimateRunParams16(&image, &rect, &base, pinned, &out, &report);
    }
};

// A 5 x 7 dot-matrix line: dots of `diameter` on a grid of `pitch`, two
// blank dot columns between characters. Every glyph is a frame with a
// middle bar, so its dot columns touch (no whole column is blank inside).
struct DotLine {
    int32_t pitch = 6;
    double diameter = 4.0;
    int32_t count = 8;
    int32_t originX = 20;
    int32_t originY = 15;
    int32_t width() const { return 2 * originX + count * 7 * pitch; }
    int32_t height() const { return 2 * originY + 7 * pitch; }
    bool dotAt(int32_t col, int32_t row) const
    {
        const int32_t c = col % 7;
        if (c >= 5) return false;
        return c == 0 || c == 4 || row == 0 || row == 6 || row == 3;
    }
    kimg_image render() const
    {
        return test::makeImage8(width(), height(), [&](int x, int y) {
            const double r = diameter / 2.0;
            for (int32_t col = 0; col < count * 7; ++col)
                for (int32_t row = 0; row < 7; ++row) {
                    if (!dotAt(col, row)) continue;
                    const double cx = originX + col * pitch + pitch / 2.0;
                    const double cy = originY + row * pitch + pitch / 2.0;
                    const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
                    if (dx * dx + dy * dy <= r * r) return 30;
                }
            return 220;
        });
    }
};

// Marks of the paragraph's first line when segmented with the chosen record.
int marksWith(const koc_charSegmentRunParams& params, const kimg_image& image, const kmath_shapeAffineRect& rect,
              int depth = 8)
{
    koc_charSegmentParagraphResult result;
    koc_charSegmentParagraphResult_construct(&result);
    const int32_t rc = depth == 8 ? koc_segmentCharactersParagraph8(&image, &rect, &params, &result)
                                  : koc_segmentCharactersParagraph16(&image, &rect, &params, &result);
    EXPECT_EQ(0, rc);
    const int n = static_cast<int>(test::markBoxes(result).size());
    koc_charSegmentParagraphResult_destruct(&result);
    return n;
}

struct Case {
    const char* name;
    bool lightOnDark;
    double angle;
    int depth;
};

class EstimateBlocky : public ::testing::TestWithParam<Case> {};

// The blocky test line: 24 high, strokes 3 thick, pitch 22, gaps 8.
TEST_P(EstimateBlocky, MeasuresHeightStrokePitchAndPolarity)
{
    const Case c = GetParam();
    test::TextLine line;
    line.angleDeg = c.angle;
    if (c.lightOnDark) std::swap(line.ink, line.ground);
    Owned image(line.render(c.depth == 8 ? KIMG_DEPTH_8 : KIMG_DEPTH_16, c.depth == 8 ? 1 : 256));
    const kmath_shapeAffineRect rect = test::boxRect(5, 5, line.width - 10, line.height - 10);
    Estimate e;
    ASSERT_EQ(0, e.run(image.img, rect, 0, c.depth));
    const koc_runParamsEstimate& m = e.report;
    EXPECT_EQ(1u, m.isComputed);
    EXPECT_EQ(c.lightOnDark ? 2u : 1u, m.polarity);
    EXPECT_NEAR(24.0, m.textHeight, 1.5);
    EXPECT_NEAR(3.0, m.strokeWidth, 1.0);
    EXPECT_NEAR(22.0, m.pitch, 1.5);
    EXPECT_NEAR(14.0, m.medianGlyphWidth, 1.5);
    EXPECT_NEAR(8, m.charGap, 1.5);
    EXPECT_EQ(0, m.innerGap);
    EXPECT_EQ(1u, m.isFixedPitch);
    EXPECT_EQ(0u, m.isBrokenStroke);
    EXPECT_EQ(10, m.glyphCount);
    EXPECT_NEAR(c.angle, m.lineAngle, 1.0);
    EXPECT_LT(m.noiseLevel, 3.0);
    EXPECT_LT(m.backgroundSlope, 0.1);
    EXPECT_EQ(0, koc_charSegmentRunParams_validate(&e.out));
    EXPECT_EQ(m.polarity, e.out.polarity);
    // A search around the found angle, sizes that keep a stroke-square dot.
    EXPECT_GE(e.out.maxLineAngle, std::fabs(c.angle));
    EXPECT_LE(e.out.minCharWidth, 3);
    EXPECT_LE(e.out.minCharArea, 9);
    // Marks may join across less than a character gap, never across one:
    // the road with the chosen record gives one position per glyph.
    EXPECT_LT(e.out.maxInnerGap, m.charGap);
    EXPECT_EQ(line.count, marksWith(e.out, image.img, rect, c.depth));
}

INSTANTIATE_TEST_SUITE_P(Lines, EstimateBlocky,
                         ::testing::Values(Case{"dark", false, 0.0, 8}, Case{"light", true, 0.0, 8},
                                           Case{"rotated", false, 6.0, 8}, Case{"sixteen", false, 0.0, 16}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Estimate, DotMatrixJoinsDotsButNotCharacters)
{
    DotLine dots;
    Owned image(dots.render());
    const kmath_shapeAffineRect rect = test::boxRect(2, 2, dots.width() - 4, dots.height() - 4);
    Estimate e;
    ASSERT_EQ(0, e.run(image.img, rect));
    const koc_runParamsEstimate& m = e.report;
    EXPECT_EQ(1u, m.isBrokenStroke);
    EXPECT_NEAR(7 * dots.pitch - (dots.pitch - dots.diameter), m.textHeight, 2.0);
    EXPECT_NEAR(dots.diameter, m.strokeWidth, 1.5);
    // The inner-gap limit covers the gap between dots (pitch - diameter = 2)
    // and stays below the gap between characters (2 pitches + 2).
    EXPECT_GE(m.innerGap, 2);
    EXPECT_LT(m.innerGap, 2 * dots.pitch + 2);
    EXPECT_EQ(dots.count, m.glyphCount);
    EXPECT_NEAR(7.0 * dots.pitch, m.pitch, 1.0);
    EXPECT_EQ(4u, e.out.gapMode);
    // Gaps up to the inner gap join outright; a wider one parts characters
    // unless the pitch says otherwise.
    EXPECT_EQ(m.innerGap + 1, e.out.minCharGap);

    // With the chosen record the road gives one position per character.
    EXPECT_EQ(dots.count, marksWith(e.out, image.img, rect));
}

// A paragraph of three lines (different lengths, one indented) is measured
// line by line: the count of lines, and the same height, pitch and gaps as
// one of its lines alone, not a column three lines tall. The chosen record
// asks for three line results, and the road finds every glyph on its line.
// A pinned numLines stays as given.
TEST(Estimate, ParagraphCountsItsLinesAndMeasuresEachAsALine)
{
    test::TextLine look;
    look.width = 320;
    look.height = 160;
    std::vector<test::TextLine> lines(3);
    for (size_t i = 0; i < lines.size(); ++i) {
        lines[i].originY = 20 + 42.0 * static_cast<double>(i);
        lines[i].count = 10 - 3 * static_cast<int32_t>(i);
        lines[i].originX = i == 1 ? 60 : 30;
    }
    Owned image(look.renderLines(lines));
    const kmath_shapeAffineRect rect = test::boxRect(5, 5, look.width - 10, look.height - 10);
    Estimate e;
    ASSERT_EQ(0, e.run(image.img, rect));
    const koc_runParamsEstimate& m = e.report;
    EXPECT_EQ(3, m.lineCount);
    EXPECT_NEAR(24.0, m.textHeight, 1.5);
    EXPECT_NEAR(22.0, m.pitch, 1.5);
    EXPECT_NEAR(8, m.charGap, 1.5);
    EXPECT_EQ(10 + 7 + 4, m.glyphCount);
    EXPECT_EQ(1u, m.isFixedPitch);
    EXPECT_EQ(0u, m.isBrokenStroke);
    EXPECT_EQ(3, e.out.numLines);

    test::Paragraph para;
    para.params = e.out;
    ASSERT_EQ(0, para.run8(image.img, rect));
    ASSERT_EQ(3, para.lineCount());
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(size_t(lines[i].count), para.marks(intptr_t(i)).size()) << i;

    e.base.numLines = 2;
    ASSERT_EQ(0, e.run(image.img, rect, KOC_PIN_NUM_LINES));
    EXPECT_EQ(3, e.report.lineCount);
    EXPECT_EQ(2, e.out.numLines);
}

// Dots of fine print lie farther apart than they are wide, and a row of
// i-dots or an underline is no line of its own: one line each.
TEST(Estimate, SparseDotRowsAndThinRowsStayOneLine)
{
    DotLine fine;
    fine.pitch = 4;
    fine.diameter = 1.6;
    Owned dots(fine.render());
    Estimate e;
    ASSERT_EQ(0, e.run(dots.img, test::boxRect(2, 2, fine.width() - 4, fine.height() - 4)));
    EXPECT_EQ(1, e.report.lineCount);
    EXPECT_EQ(1, e.out.numLines);

    test::TextLine text;
    Owned underlined(test::makeImage8(text.width, text.height, [&](int x, int y) {
        if (y >= 55 && y < 57 && x >= 30 && x < 240) return 30;  // an underline 6 px below the glyphs
        return static_cast<int>(std::lround(text.ground + (text.ink - text.ground) * text.coverage(x, y)));
    }));
    ASSERT_EQ(0, e.run(underlined.img, test::boxRect(5, 5, text.width - 10, text.height - 10)));
    EXPECT_EQ(1, e.report.lineCount);
}

// Display print whose odd glyphs fall apart into a bar, a short stroke and
// a bar two pixels apart (a segmented N): the pieces join into one glyph
// per cell and the pitch reads as fixed. Full-height glyphs that nearly
// touch (two pixels) on an irregular pitch stay apart.
TEST(Estimate, SegmentPiecesJoinButNearlyTouchingGlyphsDoNot)
{
    constexpr int32_t kCount = 10, kPitch = 22, kLeft = 30, kTop = 25, kHeight = 24;
    const auto segmented = [&](int x, int y) {
        const int32_t k = (x - kLeft) / kPitch, u = (x - kLeft) % kPitch, v = y - kTop;
        if (x < kLeft || k >= kCount || v < 0 || v >= kHeight || u >= 14) return 220;
        if (k % 2 == 0) return (u < 3 || u >= 11 || v < 3 || v >= kHeight - 3) ? 30 : 220;
        const bool bar = u < 3 || u >= 11;
        const bool stroke = u >= 5 && u < 9 && v >= 7 && v < 17;
        return bar || stroke ? 30 : 220;
    };
    Owned display(test::makeImage8(300, 80, segmented));
    Estimate e;
    ASSERT_EQ(0, e.run(display.img, test::boxRect(5, 5, 290, 70)));
    EXPECT_EQ(1u, e.report.isFixedPitch);
    EXPECT_EQ(kCount, e.report.glyphCount);
    EXPECT_GE(e.report.innerGap, 2);
    EXPECT_LT(e.report.innerGap, e.report.charGap);

    // Solid boxes 14 wide, 2 apart in pairs, 12 between pairs: the pairs are
    // two glyphs each, however close.
    const auto pairs = [&](int x, int y) {
        const int32_t v = y - kTop, u = (x - kLeft) % 42;
        if (x < kLeft || x >= kLeft + 5 * 42 || v < 0 || v >= kHeight) return 220;
        const bool inGlyph = u < 14 || (u >= 16 && u < 30);
        const int32_t w = u < 14 ? u : u - 16;
        return inGlyph && (w < 3 || w >= 11 || v < 3 || v >= kHeight - 3) ? 30 : 220;
    };
    Owned close(test::makeImage8(300, 80, pairs));
    ASSERT_EQ(0, e.run(close.img, test::boxRect(5, 5, 290, 70)));
    EXPECT_EQ(0, e.report.innerGap);
    EXPECT_EQ(10, e.report.glyphCount);
}

// Proportional print: an 'L' whose foot runs under the arm of the 'T' after
// it (kerned, the two never touch) stays two positions, and an 'i' whose
// dot stands over its stem stays one.
TEST(Estimate, KernedNeighboursStayApartAndStackedMarksJoin)
{
    constexpr int32_t kTop = 25, kHeight = 24, kStroke = 3;
    struct Glyph {
        char shape;
        int32_t x, width;
    };
    // Advances vary as in a proportional font; two kerned pairs overlap by
    // three columns.
    const std::vector<Glyph> glyphs = {{'O', 30, 14}, {'L', 50, 14}, {'T', 61, 16}, {'i', 83, 3},
                                       {'O', 92, 20}, {'L', 118, 12}, {'T', 127, 14}, {'O', 147, 10},
                                       {'i', 163, 3}, {'O', 172, 16}};
    const auto inked = [&](int x, int y) {
        const int32_t v = y - kTop;
        if (v < 0 || v >= kHeight) return false;
        for (const Glyph& g : glyphs) {
            const int32_t u = x - g.x;
            if (u < 0 || u >= g.width) continue;
            const bool left = u < kStroke, right = u >= g.width - kStroke;
            const bool top = v < kStroke, bottom = v >= kHeight - kStroke;
            const bool centre = std::abs(2 * u - g.width + 1) < kStroke;
            switch (g.shape) {
                case 'O': if (left || right || top || bottom) return true; break;
                case 'L': if (left || bottom) return true; break;
                case 'T': if (top || centre) return true; break;
                case 'i': if (top || v >= 2 * kStroke) return true; break;
            }
        }
        return false;
    };
    Owned image(test::makeImage8(220, 80, [&](int x, int y) { return inked(x, y) ? 30 : 220; }));
    const kmath_shapeAffineRect rect = test::boxRect(5, 5, 210, 70);
    Estimate e;
    ASSERT_EQ(0, e.run(image.img, rect));
    ASSERT_EQ(0u, e.report.isFixedPitch);
    ASSERT_EQ(0u, e.report.isBrokenStroke);
    EXPECT_EQ(static_cast<int>(glyphs.size()), marksWith(e.out, image.img, rect));
}

// A 'W' one and a half cells wide in print whose pitch reads as fixed (a
// proportional font with glyphs of even width) is one glyph: the width
// limit leaves room for the widest single blob the measuring saw.
TEST(Estimate, WideGlyphOnARegularPitchStaysWhole)
{
    constexpr int32_t kTop = 25, kHeight = 24, kStroke = 3, kPitch = 22, kWidth = 14, kWide = 30;
    const auto inked = [&](int x, int y) {
        const int32_t v = y - kTop;
        if (v < 0 || v >= kHeight || x < 30) return false;
        // Cells 0 to 9, the sixth holding the wide glyph, which pushes the
        // rest one extra pitch to the right.
        int32_t u = x - 30, width = kWidth;
        if (u >= 5 * kPitch && u < 5 * kPitch + kWide + 8) {
            u -= 5 * kPitch;
            width = kWide;
        } else {
            if (u >= 5 * kPitch) u -= kPitch;
            if (u >= 10 * kPitch) return false;
            u %= kPitch;
        }
        if (u >= width) return false;
        const bool bar = u < kStroke || u >= width - kStroke || std::abs(2 * u - width + 1) < kStroke;
        return bar || v >= kHeight - kStroke;
    };
    Owned image(test::makeImage8(320, 80, [&](int x, int y) { return inked(x, y) ? 30 : 220; }));
    const kmath_shapeAffineRect rect = test::boxRect(5, 5, 310, 70);
    Estimate e;
    ASSERT_EQ(0, e.run(image.img, rect));
    ASSERT_EQ(1u, e.report.isFixedPitch);
    EXPECT_NEAR(kWide, e.report.widestGlyphWidth, 1.0);
    EXPECT_GE(e.out.maxCharWidth, kWide);
    EXPECT_EQ(10, marksWith(e.out, image.img, rect));
}

// Edges: the blocky line drawn sharp measures edges about a pixel wide and
// keeps the threshold; blurred (Gaussian, sigma 2 px) they are more than two
// pixels wide, and the threshold moves in to the strokes' cores.
TEST(Estimate, BlurWidensTheEdgesAndMovesTheThresholdIn)
{
    test::TextLine line;
    Owned sharp(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(5, 5, line.width - 10, line.height - 10);
    Estimate e;
    ASSERT_EQ(0, e.run(sharp.img, rect));
    EXPECT_LT(e.report.edgeWidth, 1.5);
    EXPECT_EQ(e.base.thresholdFraction, e.out.thresholdFraction);

    constexpr double kSigma = 2.0;
    Owned blurred(test::makeImage8(line.width, line.height, [&](int x, int y) {
        double sum = 0.0, weight = 0.0;
        for (int dy = -4; dy <= 4; ++dy)
            for (int dx = -4; dx <= 4; ++dx) {
                const double w = std::exp(-(dx * dx + dy * dy) / (2.0 * kSigma * kSigma));
                sum += w * line.coverage(x + dx, y + dy);
                weight += w;
            }
        return static_cast<int>(std::lround(line.ground + (line.ink - line.ground) * sum / weight));
    }));
    ASSERT_EQ(0, e.run(blurred.img, rect));
    EXPECT_GE(e.report.edgeWidth, 2.0);
    EXPECT_LT(e.out.thresholdFraction, 0.5);
    // A threshold the caller pinned stays.
    e.base.thresholdFraction = 0.6;
    ASSERT_EQ(0, e.run(blurred.img, rect, KOC_PIN_THRESHOLD_FRACTION));
    EXPECT_EQ(0.6, e.out.thresholdFraction);
}

// Every bit keeps its field; the same fields move when not pinned.
TEST(Estimate, PinnedFieldsKeepTheBaseValuesAndTheRecordValid)
{
    test::TextLine line;
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(5, 5, line.width - 10, line.height - 10);
    Estimate e;
    e.base.minCharArea = 77;
    e.base.gapMode = 1;
    e.base.maxLineAngle = 0.0;
    e.base.normalizationMode = 1;
    e.base.segmentationMethod = 2;
    e.base.spaceParams.minSpaceWidth = 3;
    e.base.cellRectParams.cellRectMaxMargin = 9;
    const uint64_t pinned = KOC_PIN_MIN_CHAR_AREA | KOC_PIN_GAP_MODE | KOC_PIN_MAX_LINE_ANGLE |
                            KOC_PIN_NORMALIZATION_MODE | KOC_PIN_SEGMENTATION_METHOD | KOC_PIN_MIN_SPACE_WIDTH |
                            KOC_PIN_CELL_RECT_MAX_MARGIN;
    ASSERT_EQ(0, e.run(image.img, rect, pinned));
    EXPECT_EQ(77, e.out.minCharArea);
    EXPECT_EQ(1u, e.out.gapMode);
    EXPECT_EQ(0.0, e.out.maxLineAngle);
    EXPECT_EQ(1u, e.out.normalizationMode);
    EXPECT_EQ(2u, e.out.segmentationMethod);
    EXPECT_EQ(3, e.out.spaceParams.minSpaceWidth);
    EXPECT_EQ(9, e.out.cellRectParams.cellRectMaxMargin);
    EXPECT_EQ(0, koc_charSegmentRunParams_validate(&e.out));

    Estimate free;
    free.base = e.base;
    ASSERT_EQ(0, free.run(image.img, rect, 0));
    EXPECT_NE(77, free.out.minCharArea);
    EXPECT_EQ(4u, free.out.gapMode);
    EXPECT_GT(free.out.maxLineAngle, 0.0);
    EXPECT_NE(3, free.out.spaceParams.minSpaceWidth);

    // A pinned side of an ordered pair wins; the other side gives way, so the
    // record still validates.
    Estimate pair;
    pair.base.minCharWidth = 90;
    pair.base.maxCharWidth = 100;
    pair.base.limitCharWidth = 1;
    pair.base.cellRectParams.cellRectMinMargin = 40;
    pair.base.cellRectParams.cellRectMaxMargin = 40;
    pair.base.spaceParams.maxSpaceWidth = 2;
    pair.base.spaceParams.minSpaceWidth = 1;
    ASSERT_EQ(0, pair.run(image.img, rect,
                          KOC_PIN_MIN_CHAR_WIDTH | KOC_PIN_CELL_RECT_MIN_MARGIN | KOC_PIN_MAX_SPACE_WIDTH));
    EXPECT_EQ(0, koc_charSegmentRunParams_validate(&pair.out));
    EXPECT_EQ(90, pair.out.minCharWidth);
    EXPECT_EQ(40, pair.out.cellRectParams.cellRectMinMargin);
    EXPECT_EQ(2, pair.out.spaceParams.maxSpaceWidth);
}

struct Failing {
    const char* name;
    std::function<kimg_image()> image;
    kmath_shapeAffineRect rect;
    int32_t code;
};

// Nothing to measure: a clear code, the output record as it was and the
// report not computed.
TEST(Estimate, NoInkOrEmptyRectangleLeavesTheRecordUnchanged)
{
    const std::vector<Failing> cases = {
        {"blank", [] { return test::makeImage8(200, 60, [](int, int) { return 200; }); },
         test::boxRect(5, 5, 190, 50), KOC_E_NO_INK},
        {"faint", [] { return test::makeImage8(200, 60, [](int x, int) { return x % 50 == 0 ? 198 : 200; }); },
         test::boxRect(5, 5, 190, 50), KOC_E_NO_INK},
        {"empty rectangle", [] { return test::makeImage8(200, 60, [](int, int) { return 200; }); },
         test::boxRect(5, 5, 0, 0), KOC_E_RECT_DEGENERATE},
    };
    for (const Failing& c : cases) {
        SCOPED_TRACE(c.name);
        Owned image(c.image());
        Estimate e;
        e.out.minCharArea = 1234;  // a sentinel: nothing may be written
        koc_charSegmentRunParams before = e.out;
        e.report.isComputed = 1;
        EXPECT_EQ(c.code, e.run(image.img, c.rect));
        int32_t same = 0;
        ASSERT_EQ(0, koc_charSegmentRunParams_compareEqual(&before, &e.out, &same));
        EXPECT_EQ(1, same);
        EXPECT_EQ(0u, e.report.isComputed);
    }
}

TEST(Estimate, InvalidBaseIsRejectedBeforeAnyWork)
{
    test::TextLine line;
    Owned image(line.render());
    Estimate e;
    e.base.numLines = 0;
    EXPECT_EQ(KOC_E_NUM_LINES, e.run(image.img, test::boxRect(5, 5, 100, 50)));
}

// A failed allocation anywhere (sampled over all of them) gives the
// out-of-memory code, the output record untouched and no leak.
TEST(Estimate, AllocationFailureIsReported)
{
    test::TextLine line;
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(5, 5, line.width - 10, line.height - 10);
    long total = 0;
    {
        Estimate e;
        test::FailingAllocator count;
        ASSERT_EQ(0, e.run(image.img, rect));
        total = count.allocations();
    }
    ASSERT_GT(total, 0);
    for (long k = 0; k < total; k += std::max(1L, total / 40)) {
        SCOPED_TRACE(k);
        Estimate e;
        const koc_charSegmentRunParams before = e.out;
        test::FailingAllocator fail(k);
        EXPECT_EQ(KOC_E_OUT_OF_MEMORY, e.run(image.img, rect));
        int32_t same = 0;
        koc_charSegmentRunParams_compareEqual(&before, &e.out, &same);
        EXPECT_EQ(1, same);
        EXPECT_EQ(0u, e.report.isComputed);
    }
}

}  // namespace
