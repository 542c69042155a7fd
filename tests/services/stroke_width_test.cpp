// Minimum stroke width against walks in every direction on random images
// (grey values at and just past both range ends, an offset window, one-pixel
// lines, a solid block past the 255 clamp), and the tail levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "koc/koc.h"
#include "services/pel_ops.hpp"
#include "services/stroke_width.hpp"

namespace {

struct Case {
    int32_t x0, y0, w, h;
    double density;
};

class StrokeWidthRandom : public ::testing::TestWithParam<Case> {};

TEST_P(StrokeWidthRandom, MatchesDirectionalWalks)
{
    const Case c = GetParam();
    constexpr int32_t kLo = 40, kHi = 90;
    std::mt19937 rng(static_cast<uint32_t>(c.w * 131 + c.h));
    std::bernoulli_distribution inRange(c.density);
    std::vector<uint8_t> grey(static_cast<size_t>(c.w * c.h));
    for (auto& g : grey) g = static_cast<uint8_t>(inRange(rng) ? (rng() & 1 ? kLo : kHi) : (rng() & 1 ? kLo - 1 : kHi + 1));
    kimg_image image, widths;
    kimg_image_construct(&image);
    kimg_image_construct(&widths);
    const kstd_rect32 rect{c.x0, c.y0, c.w, c.h};
    ASSERT_EQ(0, kimg_image_assignNewRect(&image, KIMG_DEPTH_8, &rect));
    kimg_window win;
    kimg_window_init(&win, &image);
    for (int32_t j = 0; j < c.h; ++j)
        std::copy_n(&grey[static_cast<size_t>(j * c.w)], c.w, static_cast<uint8_t*>(win.pixels) + j * win.pitch);

    const koc::services::StrokeDetectParams params{kLo, kHi};
    koc::services::StrokeDetectResult result;
    ASSERT_EQ(0, koc::services::strokeDetect8(&image, &params, &result));
    ASSERT_EQ(0, koc::services::strokeDetectMinStrokeWidthImage(&result, &widths));
    koc::services::PixelRows<const uint8_t> out;
    ASSERT_EQ(0, koc::services::viewPixels(&widths, &out));
    EXPECT_EQ(c.x0, out.x);
    EXPECT_EQ(c.y0, out.y);

    const auto mark = [&](int32_t i, int32_t j) {
        if (i < 0 || j < 0 || i >= c.w || j >= c.h) return false;
        const uint8_t g = grey[static_cast<size_t>(j * c.w + i)];
        return g >= kLo && g <= kHi;
    };
    const int32_t dirs[4][2] = {{1, 0}, {0, 1}, {1, 1}, {1, -1}};
    int32_t mismatches = 0;
    for (int32_t j = 0; j < c.h; ++j)
        for (int32_t i = 0; i < c.w; ++i) {
            int32_t expected = mark(i, j) ? 255 : 0;
            for (const auto& d : dirs) {
                int32_t run = 1;
                for (int32_t k = 1; mark(i, j) && mark(i + k * d[0], j + k * d[1]); ++k) ++run;
                for (int32_t k = 1; mark(i, j) && mark(i - k * d[0], j - k * d[1]); ++k) ++run;
                if (mark(i, j)) expected = std::min(expected, run);
            }
            if (out.row(j)[i] != expected && mismatches++ < 3) ADD_FAILURE() << "at " << i << ", " << j;
        }
    EXPECT_EQ(0, mismatches);
    kimg_image_destruct(&widths);
    kimg_image_destruct(&image);
}

INSTANTIATE_TEST_SUITE_P(Images, StrokeWidthRandom,
                         ::testing::Values(Case{0, 0, 37, 23, 0.5}, Case{0, 0, 64, 48, 0.8}, Case{5, 3, 41, 29, 0.95},
                                           Case{0, 0, 1, 30, 0.7}, Case{0, 0, 30, 1, 0.7}, Case{2, 7, 260, 258, 1.0}));

// Level 0 (non-marks) never counts; "reaches" includes equality.
TEST(StrokeWidthTails, CountsMarkLevelsOnly)
{
    uint32_t hist[256] = {};
    int32_t low = -1, high = -1;
    EXPECT_EQ(KOC_E_HISTOGRAM_NO_TAIL, koc::services::strokeWidthTails(hist, 0.1, 0.1, &low, &high));
    hist[0] = 100000, hist[1] = 10, hist[5] = 80, hist[7] = 10;
    ASSERT_EQ(0, koc::services::strokeWidthTails(hist, 0.1, 0.1, &low, &high));
    EXPECT_EQ(1, low);
    EXPECT_EQ(7, high);
}

// With strokesOnly, a field of specks (components far smaller than the
// characters and thinner than their strokes) reads as ground; strokes, dots
// as thick as the strokes (a period, a dot-matrix dot) and a long one-pixel
// rule keep their widths, so the rule is still left to the suppression's
// cut. A few stray specks are left alone.
TEST(StrokesOnly, ClearsSpecksKeepsStrokesDotsAndRules)
{
    constexpr int32_t kW = 200, kH = 40;
    std::vector<uint8_t> ink(static_cast<size_t>(kW * kH), 0);
    auto fill = [&](int32_t x, int32_t y, int32_t w, int32_t h) {
        for (int32_t j = y; j < y + h; ++j)
            for (int32_t i = x; i < x + w; ++i) ink[static_cast<size_t>(j * kW + i)] = 1;
    };
    for (int32_t k = 0; k < 8; ++k) {  // "H"-like glyphs, strokes 4 wide
        fill(10 + 20 * k, 8, 4, 20);
        fill(19 + 20 * k, 8, 4, 20);
        fill(10 + 20 * k, 17, 13, 4);
    }
    fill(172, 24, 4, 4);   // a period
    fill(182, 10, 4, 4);   // a dot
    fill(0, 37, 200, 1);   // a one-pixel rule
    std::vector<std::pair<int32_t, int32_t>> specks;  // a field of 1 x 1 and 2 x 2 specks above and below
    for (int32_t x = 3; x < 195; x += 7) specks.insert(specks.end(), {{x, 2}, {x + 3, 32}});
    for (const auto& [x, y] : specks) fill(x, y, (x % 2) + 1, (x % 2) + 1);
    kimg_image image, widths, plainWidths;
    kimg_image_construct(&image);
    kimg_image_construct(&widths);
    kimg_image_construct(&plainWidths);
    ASSERT_EQ(0, kimg_image_assignNew(&image, KIMG_DEPTH_8, kW, kH));
    kimg_window win;
    kimg_window_init(&win, &image);
    for (int32_t j = 0; j < kH; ++j)
        for (int32_t i = 0; i < kW; ++i)
            static_cast<uint8_t*>(win.pixels)[j * win.pitch + i] = ink[static_cast<size_t>(j * kW + i)] ? 20 : 230;

    koc::services::StrokeDetectParams params{0, 100};
    koc::services::StrokeDetectResult plain, strokes;
    ASSERT_EQ(0, koc::services::strokeDetect8(&image, &params, &plain));
    params.strokesOnly = true;
    ASSERT_EQ(0, koc::services::strokeDetect8(&image, &params, &strokes));
    ASSERT_EQ(0, koc::services::strokeDetectMinStrokeWidthImage(&plain, &plainWidths));
    ASSERT_EQ(0, koc::services::strokeDetectMinStrokeWidthImage(&strokes, &widths));
    koc::services::PixelRows<const uint8_t> a, b;
    ASSERT_EQ(0, koc::services::viewPixels(&plainWidths, &a));
    ASSERT_EQ(0, koc::services::viewPixels(&widths, &b));
    auto isSpeck = [&](int32_t i, int32_t j) {
        for (const auto& [x, y] : specks)
            if (i >= x && i <= x + (x % 2) && j >= y && j <= y + (x % 2)) return true;
        return false;
    };
    int32_t wrong = 0;
    for (int32_t j = 0; j < kH; ++j)
        for (int32_t i = 0; i < kW; ++i) {
            const uint8_t expected = isSpeck(i, j) ? 0 : a.row(j)[i];
            if (b.row(j)[i] != expected && wrong++ < 3) ADD_FAILURE() << "at " << i << ", " << j;
        }
    EXPECT_EQ(0, wrong);
    EXPECT_GT(a.row(2)[3], 0);  // the speck was a mark before

    // One stray speck is no field: nothing changes.
    for (int32_t j = 0; j < kH; ++j)
        for (int32_t i = 0; i < kW; ++i)
            if ((j < 4 || (j > 30 && j < 36)) && !(i < 8 && j < 4))
                static_cast<uint8_t*>(win.pixels)[j * win.pitch + i] = 230;
    koc::services::StrokeDetectResult fewPlain, few;
    params.strokesOnly = false;
    ASSERT_EQ(0, koc::services::strokeDetect8(&image, &params, &fewPlain));
    params.strokesOnly = true;
    ASSERT_EQ(0, koc::services::strokeDetect8(&image, &params, &few));
    ASSERT_EQ(0, koc::services::strokeDetectMinStrokeWidthImage(&fewPlain, &plainWidths));
    ASSERT_EQ(0, koc::services::strokeDetectMinStrokeWidthImage(&few, &widths));
    ASSERT_EQ(0, koc::services::viewPixels(&plainWidths, &a));
    ASSERT_EQ(0, koc::services::viewPixels(&widths, &b));
    for (int32_t j = 0; j < kH; ++j) EXPECT_TRUE(std::equal(a.row(j), a.row(j) + kW, b.row(j))) << "row " << j;
    EXPECT_GT(b.row(2)[3], 0);
    kimg_image_destruct(&plainWidths);
    kimg_image_destruct(&widths);
    kimg_image_destruct(&image);
}

}  // namespace
