// paragraph.hpp: one paragraph through the public entry points, for the
// road tests: run parameters and result owned together, the marks of a line
// read back as ink boxes, and the check that every mark sits on its glyph.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "support/text_image.hpp"

namespace test {

// A mark rectangle as the ink box it should be: Po's x and y, Px's x, Py's y.
using MarkBox = std::array<double, 4>;

// Line i of a paragraph result, or null when there is no such line.
inline const koc_charSegmentLineResult* lineOf(const koc_charSegmentParagraphResult& result, intptr_t i = 0)
{
    if (i >= result.lineResults.base.size) return nullptr;
    return static_cast<const koc_charSegmentLineResult*>(result.lineResults.base.begin) + i;
}

// The mark boxes of line i's positions, spaces left out, in order.
inline std::vector<MarkBox> markBoxes(const koc_charSegmentParagraphResult& result, intptr_t i = 0)
{
    std::vector<MarkBox> out;
    const koc_charSegmentLineResult* line = lineOf(result, i);
    if (line == nullptr) return out;
    const auto* p = static_cast<const koc_charSegmentPositionResult*>(line->positionResults.base.begin);
    for (intptr_t k = 0; k < line->positionResults.base.size; ++k) {
        if (p[k].isSpace != 0) continue;
        kmath_shapeAffineRectPoints q;
        kmath_shapeAffineRect_getPoints(&p[k].markRect, &q);
        out.push_back({q.po.x, q.po.y, q.px.x, q.py.y});
    }
    return out;
}

// One mark per glyph of text, in order, each side within a pixel of the
// glyph's ink box (upright lines).
inline void expectMarksOnGlyphs(const TextLine& text, const std::vector<MarkBox>& marks)
{
    ASSERT_EQ(static_cast<size_t>(text.count), marks.size());
    for (int32_t k = 0; k < text.count; ++k) {
        const auto g = text.glyphBox(k);
        const MarkBox& m = marks[static_cast<size_t>(k)];
        EXPECT_NEAR(g[0], m[0], 1.0) << "glyph " << k;
        EXPECT_NEAR(g[1], m[1], 1.0) << "glyph " << k;
        EXPECT_NEAR(g[0] + g[2], m[2], 1.0) << "glyph " << k;
        EXPECT_NEAR(g[1] + g[3], m[3], 1.0) << "glyph " << k;
    }
}

// Run parameters (defaults) and a paragraph result, released together.
struct Paragraph {
    koc_charSegmentRunParams params;
    koc_charSegmentParagraphResult result;
    Paragraph()
    {
        koc_charSegmentRunParams_construct(&params);
        koc_charSegmentParagraphResult_construct(&result);
    }
    ~Paragraph()
    {
        koc_charSegmentParagraphResult_destruct(&result);
        koc_charSegmentRunParams_destruct(&params);
    }
    Paragraph(const Paragraph&) = delete;
    Paragraph& operator=(const Paragraph&) = delete;

    int32_t run8(const kimg_image& image, const kmath_shapeAffineRect& rect)
    {
        return koc_segmentCharactersParagraph8(&image, &rect, &params, &result);
    }
    intptr_t lineCount() const { return result.lineResults.base.size; }
    const koc_charSegmentLineResult& line(intptr_t i = 0) const { return *lineOf(result, i); }
    koc_charSegmentLineResult& line(intptr_t i = 0)
    {
        return static_cast<koc_charSegmentLineResult*>(result.lineResults.base.begin)[i];
    }
    std::vector<MarkBox> marks(intptr_t i = 0) const { return markBoxes(result, i); }
};

}  // namespace test
