// multiline_road_test.cpp: paragraphs of several text lines through the
// public entry points: every line result gets exactly its own glyphs, with
// both segmentation methods and both polarities, and lines beyond the text
// stay empty but well formed.
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "support/text_image.hpp"

namespace {

using test::Owned;

struct Paragraph {
    koc_charSegmentRunParams params;
    koc_charSegmentParagraphResult result;
    Paragraph()
    {
        koc_charSegmentRunParams_construct(&params);
        koc_charSegmentParagraphResult_construct(&result);
        params.minCharArea = 10;
    }
    ~Paragraph()
    {
        koc_charSegmentParagraphResult_destruct(&result);
        koc_charSegmentRunParams_destruct(&params);
    }
    intptr_t lineCount() const { return result.lineResults.base.size; }
    const koc_charSegmentLineResult& line(int i) const
    {
        return static_cast<const koc_charSegmentLineResult*>(result.lineResults.base.begin)[i];
    }
    std::vector<kmath_shapeAffineRectPoints> marks(int i) const
    {
        std::vector<kmath_shapeAffineRectPoints> out;
        const auto* p = static_cast<const koc_charSegmentPositionResult*>(line(i).positionResults.base.begin);
        for (intptr_t k = 0; k < line(i).positionResults.base.size; ++k) {
            if (p[k].isSpace != 0) continue;
            kmath_shapeAffineRectPoints pts;
            kmath_shapeAffineRect_getPoints(&p[k].markRect, &pts);
            out.push_back(pts);
        }
        return out;
    }
};

// Each position of line i lies at the ink box of the matching glyph of
// text line i, in order.
void expectLineHoldsItsGlyphs(const Paragraph& para, int i, const test::TextLine& text)
{
    SCOPED_TRACE("line " + std::to_string(i));
    const auto marks = para.marks(i);
    ASSERT_EQ(static_cast<size_t>(text.count), marks.size());
    for (int k = 0; k < text.count; ++k) {
        const auto box = text.glyphBox(k);
        const auto& m = marks[static_cast<size_t>(k)];
        EXPECT_NEAR(box[0], m.po.x, 1.0) << "glyph " << k;
        EXPECT_NEAR(box[1], m.po.y, 1.0) << "glyph " << k;
        EXPECT_NEAR(box[0] + box[2], m.px.x, 1.0) << "glyph " << k;
        EXPECT_NEAR(box[1] + box[3], m.py.y, 1.0) << "glyph " << k;
    }
}

struct Layout {
    const char* name;
    std::vector<test::TextLine> lines;
    int32_t width;
    int32_t height;
};

test::TextLine textLine(double x, double y, int32_t count)
{
    test::TextLine t;
    t.originX = x;
    t.originY = y;
    t.count = count;
    return t;
}

// A ten-glyph line over a six-glyph one.
Layout twoLengths()
{
    return {"twoLengths", {textLine(30, 25, 10), textLine(30, 65, 6)}, 300, 110};
}

// Three lines, the middle one indented by three glyphs.
Layout threeIndented()
{
    return {"threeIndented", {textLine(30, 25, 9), textLine(96, 65, 6), textLine(30, 105, 8)}, 280, 150};
}

// Descenders of the upper line reach down towards ascenders of the lower
// one, leaving only four clear rows between them.
Layout tails()
{
    test::TextLine upper = textLine(30, 25, 10), lower = textLine(30, 65, 10);
    upper.tailEvery = 3;
    upper.descender = 6;
    lower.tailEvery = 4;
    lower.ascender = 6;
    return {"descendersOverAscenders", {upper, lower}, 300, 110};
}

struct RoadCase {
    Layout layout;
    bool lightOnDark;
    uint32_t method;
};

class MultiLineRoad : public ::testing::TestWithParam<RoadCase> {};

TEST_P(MultiLineRoad, EachLineGetsItsOwnGlyphs)
{
    const RoadCase c = GetParam();
    test::TextLine look;
    look.width = c.layout.width;
    look.height = c.layout.height;
    if (c.lightOnDark) std::swap(look.ink, look.ground);
    Owned image(look.renderLines(c.layout.lines));
    const kmath_shapeAffineRect rect = test::boxRect(10, 5, look.width - 20, look.height - 10);
    Paragraph para;
    para.params.numLines = static_cast<int32_t>(c.layout.lines.size());
    para.params.segmentationMethod = c.method;
    ASSERT_EQ(0, koc_segmentCharactersParagraph8(&image.img, &rect, &para.params, &para.result));
    ASSERT_EQ(para.params.numLines, para.lineCount());
    for (int i = 0; i < para.params.numLines; ++i) {
        EXPECT_EQ(1, para.line(i).isFound);
        EXPECT_EQ(c.lightOnDark ? 2u : 1u, para.line(i).polarity);
        expectLineHoldsItsGlyphs(para, i, c.layout.lines[static_cast<size_t>(i)]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Paragraphs, MultiLineRoad,
    ::testing::Values(RoadCase{twoLengths(), false, 2}, RoadCase{twoLengths(), true, 2},
                      RoadCase{threeIndented(), false, 2}, RoadCase{threeIndented(), true, 1},
                      RoadCase{tails(), false, 2}, RoadCase{tails(), true, 1}),
    [](const auto& row) {
        return std::string(row.param.layout.name) + (row.param.lightOnDark ? "LightOnDark" : "DarkOnLight") +
               "Method" + std::to_string(row.param.method);
    });

// Two text lines asked for as three: the two lines come back as they would
// for two; the third is found (a copy of the paragraph's line) but holds no
// positions. (The expected band height is the inked rows over the number of
// lines, so a request far above the text's line count finds bands of the
// wrong height: the count must be roughly right.)
TEST(MultiLineRoad, LinesBeyondTheTextStayEmptyButWellFormed)
{
    const Layout layout = twoLengths();
    test::TextLine look;
    look.width = layout.width;
    look.height = layout.height;
    Owned image(look.renderLines(layout.lines));
    const kmath_shapeAffineRect rect = test::boxRect(10, 5, look.width - 20, look.height - 10);
    Paragraph para;
    para.params.numLines = 3;
    ASSERT_EQ(0, koc_segmentCharactersParagraph8(&image.img, &rect, &para.params, &para.result));
    ASSERT_EQ(3, para.lineCount());
    expectLineHoldsItsGlyphs(para, 0, layout.lines[0]);
    expectLineHoldsItsGlyphs(para, 1, layout.lines[1]);
    EXPECT_EQ(1, para.line(2).isFound);
    EXPECT_EQ(0, para.line(2).positionResults.base.size);
    EXPECT_EQ(1, para.line(2).hasNormalizedRectifiedLineImage);
}

// A one-line paragraph read as one line and as part of a two-line request
// over the same picture: the single-line selection is unchanged.
TEST(MultiLineRoad, OneTextLineAsFirstOfTwoMatchesTheSingleLineResult)
{
    test::TextLine text;
    Owned image(text.render());
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, 280, 60);
    Paragraph one, two;
    two.params.numLines = 2;
    ASSERT_EQ(0, koc_segmentCharactersParagraph8(&image.img, &rect, &one.params, &one.result));
    ASSERT_EQ(0, koc_segmentCharactersParagraph8(&image.img, &rect, &two.params, &two.result));
    expectLineHoldsItsGlyphs(one, 0, text);
    expectLineHoldsItsGlyphs(two, 0, text);
    EXPECT_EQ(0, two.line(1).positionResults.base.size);
}

}  // namespace
