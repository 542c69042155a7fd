// multiline_road_test.cpp: paragraphs of several text lines through the
// public entry points: every line result gets exactly its own glyphs, with
// both segmentation methods and both polarities, and lines beyond the text
// stay empty but well formed.
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "support/paragraph.hpp"
#include "support/text_image.hpp"

namespace {

using test::Owned;
using test::Paragraph;

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
    para.params.minCharArea = 10;
    para.params.numLines = static_cast<int32_t>(c.layout.lines.size());
    para.params.segmentationMethod = c.method;
    ASSERT_EQ(0, para.run8(image.img, rect));
    ASSERT_EQ(para.params.numLines, para.lineCount());
    for (int i = 0; i < para.params.numLines; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(1, para.line(i).isFound);
        EXPECT_EQ(c.lightOnDark ? 2u : 1u, para.line(i).polarity);
        test::expectMarksOnGlyphs(c.layout.lines[static_cast<size_t>(i)], para.marks(i));
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
    para.params.minCharArea = 10;
    para.params.numLines = 3;
    ASSERT_EQ(0, para.run8(image.img, rect));
    ASSERT_EQ(3, para.lineCount());
    test::expectMarksOnGlyphs(layout.lines[0], para.marks(0));
    test::expectMarksOnGlyphs(layout.lines[1], para.marks(1));
    EXPECT_EQ(1, para.line(2).isFound);
    EXPECT_EQ(0, para.line(2).positionResults.base.size);
    EXPECT_EQ(1, para.line(2).hasNormalizedRectifiedLineImage);
}

}  // namespace
