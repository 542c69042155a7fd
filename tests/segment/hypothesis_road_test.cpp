// hypothesis_road_test.cpp: the default road end to end on lines drawn here:
// broken characters (dot matrix, seven segments, the dot of an i) come back
// as one position each, touching characters as two, and the pitch pre-pass
// settles a regular line without a walk.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hypotheses/line_data.hpp"
#include "koc/koc.h"
#include "support/fakes.hpp"
#include "support/paragraph.hpp"

namespace {

// A drawing of filled rectangles on a light ground.
struct Canvas {
    int32_t width, height;
    std::vector<uint8_t> pixels;
    Canvas(int32_t w, int32_t h) : width(w), height(h), pixels(static_cast<size_t>(w * h), 220) {}
    void box(int32_t x, int32_t y, int32_t w, int32_t h)
    {
        for (int32_t j = y; j < y + h; ++j)
            for (int32_t i = x; i < x + w; ++i) pixels[static_cast<size_t>(j * width + i)] = 30;
    }
    kimg_image image() const
    {
        return test::makeImage8(width, height, [&](int32_t x, int32_t y) { return pixels[size_t(y * width + x)]; });
    }
};

struct Segmenter : test::Paragraph {
    // Left edges (in image x) of the non-space positions.
    std::vector<double> marks(const Canvas& c)
    {
        test::Owned img(c.image());
        EXPECT_EQ(0, run8(img.img, test::boxRect(2, 2, c.width - 4.0, c.height - 4.0)));
        std::vector<double> lefts;
        for (const test::MarkBox& m : test::markBoxes(result)) lefts.push_back(m[0]);
        return lefts;
    }
    bool walked() const { return line().lineData->runContext.depthStats.base.size > 0; }
};

// 5 x 7 dot patterns, one string of 35 characters per glyph ('#' = dot).
const char* const kDotGlyphs[] = {
    "#####" "#...." "#...." "####." "#...." "#...." "#####",  // E
    "#...#" "#...#" "#...#" "#####" "#...#" "#...#" "#...#",  // H
    "..#.." ".##.." "..#.." "..#.." "..#.." "..#.." ".###.",  // 1
    ".###." "#...#" "#...#" "#...#" "#...#" "#...#" ".###.",  // 0
    "#####" "....#" "...#." "..#.." ".#..." ".#..." ".#...",  // 7
};

TEST(HypothesisRoad, DotMatrixCharactersComeBackWhole)
{
    constexpr int kDot = 4, kStep = 6, kPitch = 40, kCount = 6;
    Canvas c(30 + kCount * kPitch, 80);
    for (int k = 0; k < kCount; ++k) {
        const char* g = kDotGlyphs[k % 5];
        for (int r = 0; r < 7; ++r)
            for (int col = 0; col < 5; ++col)
                if (g[r * 5 + col] == '#') c.box(15 + k * kPitch + col * kStep, 18 + r * kStep, kDot, kDot);
    }
    Segmenter run;
    // Set for the glyph size, as a user would: a character is at least 10
    // pixels wide and 20 high, so a single dot column is not one.
    run.params.minCharWidth = 10;
    run.params.minCharHeight = 20;
    run.params.minCharArea = 60;
    const std::vector<double> lefts = run.marks(c);
    ASSERT_EQ(static_cast<size_t>(kCount), lefts.size());
    for (int k = 0; k < kCount; ++k) {
        const int firstColumn = k % 5 == 2 ? 1 : 0;  // the 1 starts one dot in
        EXPECT_NEAR(15 + k * kPitch + firstColumn * kStep, lefts[static_cast<size_t>(k)], 1.0) << k;
    }
}

// Segments a..g of a seven-segment digit as bars with open corners.
void drawDigit(Canvas& c, int x, int y, unsigned segments)
{
    constexpr int t = 4, l = 16;
    const int rects[7][4] = {{x + t + 1, y, l, t},
                             {x + t + l + 2, y + t + 1, t, l},
                             {x + t + l + 2, y + 2 * t + l + 3, t, l},
                             {x + t + 1, y + 2 * t + 2 * l + 4, l, t},
                             {x, y + 2 * t + l + 3, t, l},
                             {x, y + t + 1, t, l},
                             {x + t + 1, y + t + l + 2, l, t}};
    for (int s = 0; s < 7; ++s)
        if (segments & (1u << s)) c.box(rects[s][0], rects[s][1], rects[s][2], rects[s][3]);
}

TEST(HypothesisRoad, SevenSegmentDigitsComeBackWhole)
{
    const unsigned digits[] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f};  // 0..8
    constexpr int kPitch = 38;
    Canvas c(30 + 9 * kPitch, 80);
    for (int k = 0; k < 9; ++k) drawDigit(c, 15 + k * kPitch, 12, digits[k]);
    Segmenter run;
    run.params.minCharWidth = 4;  // a 1 is one bar wide
    run.params.minCharHeight = 20;
    run.params.minCharArea = 40;
    const std::vector<double> lefts = run.marks(c);
    EXPECT_EQ(9u, lefts.size());
}

// A box glyph, 16 x 28, with strokes 4 thick.
void drawBox(Canvas& c, int x, int y)
{
    c.box(x, y, 16, 4);
    c.box(x, y + 24, 16, 4);
    c.box(x, y, 4, 28);
    c.box(x + 12, y, 4, 28);
}

class TouchingPair : public ::testing::TestWithParam<uint32_t> {};

TEST_P(TouchingPair, IsCutIntoTwoPositions)
{
    Canvas c(200, 70);
    drawBox(c, 20, 20);
    drawBox(c, 50, 20);
    drawBox(c, 66, 20);  // touches the one before
    drawBox(c, 100, 20);
    Segmenter run;
    run.params.refinementMode = GetParam();
    run.params.limitCharWidth = 1;  // the glyphs are 16 wide
    run.params.maxCharWidth = 20;
    const std::vector<double> lefts = run.marks(c);
    ASSERT_EQ(4u, lefts.size());
    EXPECT_NEAR(50, lefts[1], 3.0);
    // The cut falls near the touching strokes; the valley rule picks the
    // thinnest ink nearby, which for hollow glyphs may be a few pixels in.
    EXPECT_NEAR(66, lefts[2], 5.0);
}

INSTANTIATE_TEST_SUITE_P(Rules, TouchingPair, ::testing::Values(1u, 2u));

TEST(HypothesisRoad, AnIWithItsDotIsOnePosition)
{
    Canvas c(200, 70);
    drawBox(c, 20, 20);
    c.box(56, 20, 4, 5);   // the dot
    c.box(56, 28, 4, 20);  // the stem
    drawBox(c, 80, 20);
    Segmenter run;
    run.params.minCharArea = 20;
    run.params.minAspectRatio = 0.0;  // a narrow stroke is a character here
    const std::vector<double> lefts = run.marks(c);
    EXPECT_EQ(3u, lefts.size());
}

TEST(HypothesisRoad, RegularLineIsSettledByThePrePassAndAnIrregularOneIsWalked)
{
    Canvas regular(40 + 8 * 28, 70);
    for (int k = 0; k < 8; ++k) drawBox(regular, 20 + k * 28, 20);
    Segmenter settled;
    EXPECT_EQ(8u, settled.marks(regular).size());
    EXPECT_FALSE(settled.walked());

    // Boxes of mixed widths at mixed spacing: no pitch explains them.
    Canvas irregular(260, 70);
    const int xs[] = {20, 30, 70, 76, 120, 160}, ws[] = {8, 30, 4, 16, 30, 8};
    for (int k = 0; k < 6; ++k) {
        irregular.box(xs[k], 20, ws[k], 4);
        irregular.box(xs[k], 44, ws[k], 4);
        irregular.box(xs[k], 20, 4, 28);
        irregular.box(xs[k] + ws[k] - 4, 20, 4, 28);
    }
    Segmenter walked;
    const std::vector<double> lefts = walked.marks(irregular);
    ASSERT_EQ(6u, lefts.size());
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(xs[k], lefts[static_cast<size_t>(k)], 1.0) << k;
    EXPECT_TRUE(walked.walked());
}

}  // namespace
