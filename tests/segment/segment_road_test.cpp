// segment_road_test.cpp: the whole road through the public entry points with
// the direct method: one position per glyph at its ink box, spaces at the
// word gaps, both polarities and all three image kinds.
#include <cmath>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "support/fakes.hpp"
#include "support/paragraph.hpp"
#include "support/text_image.hpp"

namespace {

using test::Owned;
using test::Paragraph;

struct RoadCase {
    int32_t glyphHeight;
    int32_t glyphWidth;
    int32_t pitch;
    bool lightOnDark;
    int32_t depth;
};

class DirectRoad : public ::testing::TestWithParam<RoadCase> {};

TEST_P(DirectRoad, OnePositionPerGlyphAtItsInkBox)
{
    const RoadCase c = GetParam();
    test::TextLine line;
    line.glyphHeight = c.glyphHeight;
    line.glyphWidth = c.glyphWidth;
    line.pitch = c.pitch;
    line.count = 8;
    line.height = c.glyphHeight + 50;
    line.width = 60 + line.count * c.pitch;
    if (c.lightOnDark) std::swap(line.ink, line.ground);
    Owned image(line.render(c.depth, c.depth == KIMG_DEPTH_16 ? 256 : 1));
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, line.width - 20, line.height - 20);
    Paragraph para;
    para.params.segmentationMethod = 1;
    para.params.minCharArea = 10;
    const int32_t rc = c.depth == KIMG_DEPTH_8
                           ? koc_segmentCharactersParagraph8(&image.img, &rect, &para.params, &para.result)
                           : koc_segmentCharactersParagraph16(&image.img, &rect, &para.params, &para.result);
    ASSERT_EQ(0, rc);
    ASSERT_EQ(1, para.line().isFound);
    EXPECT_EQ(c.lightOnDark ? 2u : 1u, para.line().polarity);
    test::expectMarksOnGlyphs(line, para.marks());
    // No spaces unless asked for.
    EXPECT_EQ(para.marks().size(), size_t(para.line().positionResults.base.size));
}

INSTANTIATE_TEST_SUITE_P(Lines, DirectRoad,
                         ::testing::Values(RoadCase{24, 14, 22, false, KIMG_DEPTH_8},
                                           RoadCase{24, 14, 22, true, KIMG_DEPTH_8},
                                           RoadCase{40, 22, 34, false, KIMG_DEPTH_8},
                                           RoadCase{16, 10, 15, true, KIMG_DEPTH_8},
                                           RoadCase{24, 14, 22, false, KIMG_DEPTH_16},
                                           RoadCase{40, 22, 34, true, KIMG_DEPTH_16}));

// A field of one-pixel specks on 3% of the pixels around a clean
// line (never touching a glyph): the specks outnumber the glyphs' pixels at
// the thin end of the stroke widths, yet the suppression must still remove
// them, so every mark stays at its glyph and no speck becomes a character.
class SpeckRoad : public ::testing::TestWithParam<std::pair<bool, uint32_t>> {};

TEST_P(SpeckRoad, SpecksBesideTheLineNeverReachTheMarks)
{
    const auto [lightOnDark, method] = GetParam();
    test::TextLine line;
    line.count = 10;
    line.height = 90;
    line.width = 60 + line.count * line.pitch;
    if (lightOnDark) std::swap(line.ink, line.ground);
    Owned image(line.render());
    kimg_window w;
    kimg_window_init(&w, &image.img);
    auto* px = static_cast<uint8_t*>(w.pixels);
    uint32_t seed = 99;
    auto next = [&](int32_t n) { seed = seed * 1664525u + 1013904223u; return int32_t((seed >> 8) % uint32_t(n)); };
    auto nearGlyph = [&](int32_t x, int32_t y) {
        for (int k = 0; k < line.count; ++k) {
            const auto b = line.glyphBox(k);
            if (x >= b[0] - 3 && x <= b[0] + b[2] + 2 && y >= b[1] - 3 && y <= b[1] + b[3] + 2) return true;
        }
        return false;
    };
    const int32_t specks = line.width * line.height * 3 / 100;
    for (int32_t k = 0; k < specks; ++k) {
        const int32_t x = next(line.width - 1), y = next(line.height - 1), size = 1;
        if (nearGlyph(x, y)) continue;
        for (int32_t j = 0; j < size; ++j)
            for (int32_t i = 0; i < size; ++i) px[(y + j) * w.pitch + x + i] = uint8_t(line.ink);
    }
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, line.width - 20, line.height - 20);
    Paragraph para;
    para.params.segmentationMethod = method;
    para.params.minCharArea = 10;
    ASSERT_EQ(0, para.run8(image.img, rect));
    ASSERT_EQ(1, para.line().isFound);
    test::expectMarksOnGlyphs(line, para.marks());
}

INSTANTIATE_TEST_SUITE_P(Fields, SpeckRoad,
                         ::testing::Values(std::pair{false, 1u}, std::pair{true, 1u}, std::pair{false, 2u}));

class SpaceRoad : public ::testing::TestWithParam<uint32_t> {};

// Word gaps of 40 extra pixels hold spaces; the ordinary 8-pixel gaps don't.
TEST_P(SpaceRoad, SpacesAppearExactlyAtTheWordGaps)
{
    test::TextLine line;
    line.count = 9;
    line.wordEvery = 3;
    line.wordGap = 40;
    line.width = 40 + 9 * 22 + 2 * 40 + 40;
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, line.width - 20, 60);
    Paragraph para;
    para.params.segmentationMethod = 1;
    para.params.spaceParams.spaceInsertionMode = GetParam();
    para.params.spaceParams.minSpaceWidth = 12;
    ASSERT_EQ(0, para.run8(image.img, rect));
    const auto* p = static_cast<const koc_charSegmentPositionResult*>(para.line().positionResults.base.begin);
    const intptr_t n = para.line().positionResults.base.size;
    int glyphs = 0;
    int spacesAfterWord[2] = {0, 0};
    for (intptr_t i = 0; i < n; ++i) {
        if (p[i].isSpace == 0) {
            ++glyphs;
            continue;
        }
        ASSERT_TRUE(glyphs == 3 || glyphs == 6) << "space after glyph " << glyphs;
        ++spacesAfterWord[glyphs / 3 - 1];
        EXPECT_GT(p[i].spaceScore, 65536 * 95 / 100);  // clean ground: nearly empty
        EXPECT_EQ(0, p[i].area);
        EXPECT_EQ(32, p[i].character.key.code);
    }
    EXPECT_EQ(9, glyphs);
    for (const int spaces : spacesAfterWord) {
        if (GetParam() == 1)
            EXPECT_EQ(1, spaces);
        else
            EXPECT_GE(spaces, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, SpaceRoad, ::testing::Values(1u, 2u));

TEST(SegmentRoad, BlankLineIsFoundWithoutPositions)
{
    // A blank region finds no line by itself; a requested polarity and a
    // global mode make it a line with nothing on it.
    Owned image(test::makeImage8(200, 60, [](int, int) { return 200; }));
    const kmath_shapeAffineRect rect = test::boxRect(5, 5, 190, 50);
    Paragraph para;
    para.params.segmentationMethod = 1;
    para.params.polarity = 1;
    para.params.normalizationMode = 2;
    ASSERT_EQ(0, para.run8(image.img, rect));
    ASSERT_EQ(1, para.line().isFound);
    EXPECT_EQ(0, para.line().positionResults.base.size);
}

TEST(SegmentRoad, RangeImageWithHolesSegmentsLikeTheIntactImage)
{
    test::TextLine line;
    Owned image16(line.render(KIMG_DEPTH_16, 256));
    Owned mask(test::makeImage8(line.width, line.height, [](int x, int y) { return (x < 6 || y > 74) ? 0 : 255; }));
    k3img_rangeImage16 range;
    k3img_rangeImage16_construct(&range);
    ASSERT_EQ(0, k3img_rangeImage16_init(&range, &image16.img, &mask.img));
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, 280, 60);
    Paragraph para;
    para.params.segmentationMethod = 1;
    para.params.minCharArea = 10;
    ASSERT_EQ(0, koc_segmentCharactersParagraphRangeImage16(&range, &rect, &para.params, &para.result));
    test::expectMarksOnGlyphs(line, para.marks());
    k3img_rangeImage16_destruct(&range);
}

TEST(SegmentRoad, BinarisedLineImageMarksTheGlyphs)
{
    test::TextLine line;
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, 280, 60);
    Paragraph para;
    para.params.segmentationMethod = 1;
    ASSERT_EQ(0, para.run8(image.img, rect));
    kimg_image unbound;
    kimg_image_construct(&unbound);
    Owned binarized(unbound);
    ASSERT_EQ(0, koc_charSegmentLineResult_getBinarizedRectifiedLineImage(&para.line(), &binarized.img));
    // Line pixel (x, y) is image pixel (x + 10, y + 10): glyph 0's left stroke is a mark.
    const int x = static_cast<int>(line.originX) - 10 + 1, y = static_cast<int>(line.originY) - 10 + 10;
    EXPECT_EQ(255, test::pixel8(binarized.img, x, y));
    EXPECT_EQ(0, test::pixel8(binarized.img, 2, 2));
}

}  // namespace
