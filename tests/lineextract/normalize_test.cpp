// Line normalisation and polarity: the kernel and stretch-table examples,
// polarity decided on synthetic dark-on-light and light-on-dark lines for
// every mode and depth, the flat-image and undecided cases, the mask fill
// against a direct per-pixel reference, border blobs, the attention cadence
// of the local-contrast pass and allocation failures.
#include <gtest/gtest.h>

#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "koc/koc.h"
#include "lineextract/normalize.hpp"
#include "services/blob_label.hpp"
#include "services/pel_ops.hpp"
#include "support/fakes.hpp"

namespace {

using test::Image;
using test::Rle;

using namespace koc::lineextract;
using koc::services::PixelTraits;

template <class Pixel, class F>
void makeImage(Image& im, int32_t w, int32_t h, F f)
{
    ASSERT_EQ(0, kimg_image_assignNew(&im.h, PixelTraits<Pixel>::kDepth, w, h));
    kimg_window win;
    ASSERT_EQ(0, kimg_window_init(&win, &im.h));
    for (int32_t j = 0; j < h; ++j) {
        for (int32_t i = 0; i < w; ++i) {
            static_cast<Pixel*>(win.pixels)[j * win.pitch + i] = static_cast<Pixel>(f(i, j));
        }
    }
}

template <class Pixel>
int32_t at(const kimg_image& im, int32_t x, int32_t y)
{
    kimg_windowConst w;
    EXPECT_EQ(0, kimg_windowConst_init(&w, &im));
    return static_cast<const Pixel*>(w.pixels)[(y - w.y) * w.pitch + (x - w.x)];
}

// One run [x0, x1) on every row y0 .. y1 - 1.
void makeBoxMask(Rle& m, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    const kstd_rect32 rect{x0, y0, x1 - x0, y1 - y0};
    ASSERT_EQ(0, kimg_imageRle_assignEmpty(&m.h, &rect));
    for (int32_t y = y0; y < y1; ++y) {
        ASSERT_EQ(0, kimg_imageRle_addRun(&m.h, y, x0, x1 - x0));
    }
}

koc_lineExtractParams paramsFor(uint32_t polarity, uint32_t mode)
{
    koc_lineExtractParams p{};
    p.polarity = polarity;
    p.normalizationMode = mode;
    return p;
}

template <class Pixel>
int32_t normalizeLine(const kimg_image* im, const kimg_imageRle* mask, const koc_lineExtractParams* p, double height,
                      uint32_t* polarity, kimg_image* out)
{
    if constexpr (sizeof(Pixel) == 1) {
        return normalizeLineImage(im, mask, p, height, polarity, out);
    } else {
        return normalizeLineImage16(im, mask, p, height, polarity, out);
    }
}

// ---- kernel and stretch table ----

class NormalizeKernelSize : public ::testing::TestWithParam<std::pair<double, int32_t>> {};

TEST_P(NormalizeKernelSize, IsHalfTheHeightRoundedAndAtLeastOne)
{
    int32_t w = -7, h = -7;
    ASSERT_EQ(0, localMeanKernelSize(GetParam().first, &w, &h));
    EXPECT_EQ(GetParam().second, w);
    EXPECT_EQ(GetParam().second, h);
}
INSTANTIATE_TEST_SUITE_P(Normalize, NormalizeKernelSize,
                         ::testing::Values(std::pair{3.0, 2}, std::pair{2.0, 1}, std::pair{-1.0, 0},
                                           std::pair{0.0, 1}, std::pair{4.9, 2}, std::pair{7.0, 4},
                                           std::pair{40.0, 20}));

// One table entry, 8-bit or 16-bit.
struct LutEntry {
    bool wide;
    int32_t t;
    double s;
    int32_t v;
    int32_t expected;
};

class StretchLutEntries : public ::testing::TestWithParam<LutEntry> {};

TEST_P(StretchLutEntries, MatchHandComputedValues)
{
    const LutEntry e = GetParam();
    std::vector<uint8_t> narrow(256);
    std::vector<uint16_t> wide(65536);
    ASSERT_EQ(0, e.wide ? stretchLut(e.t, e.s, wide.data()) : stretchLut(e.t, e.s, narrow.data()));
    EXPECT_EQ(e.expected, e.wide ? wide[static_cast<size_t>(e.v)] : narrow[static_cast<size_t>(e.v)]);
}
// (128, 40): G = 139810, one level off the threshold moves 2; both clamps reached.
// (40, 30): m = 215, G = 313116; 0 clamps at -128.
// 16 bit (32768, 10240) has the same gain as (128, 40). Spread 0: all centre.
INSTANTIATE_TEST_SUITE_P(Stretch, StretchLutEntries,
                         ::testing::Values(LutEntry{false, 128, 40.0, 127, 126}, LutEntry{false, 128, 40.0, 0, 0},
                                           LutEntry{false, 128, 40.0, 255, 255}, LutEntry{false, 128, 40.0, 129, 130},
                                           LutEntry{false, 40, 30.0, 41, 133}, LutEntry{false, 40, 30.0, 39, 123},
                                           LutEntry{false, 40, 30.0, 60, 224}, LutEntry{false, 40, 30.0, 0, 0},
                                           LutEntry{false, 90, 0.0, 3, 128}, LutEntry{true, 32768, 10240.0, 32767, 32766},
                                           LutEntry{true, 32768, 10240.0, 0, 0},
                                           LutEntry{true, 32768, 10240.0, 65535, 65535},
                                           LutEntry{true, 1000, 0.0, 5, 32768}));

// The 8-bit stretch is computed per pixel rather than looked up: it must
// give the table's value for every level, threshold and gain, including the
// capped gain of a tiny spread and both clamps, on widths that leave a tail.
TEST(StretchImage8, EqualsTheTableOnEveryLevel)
{
    std::mt19937 rng(7);
    const double spreads[] = {0.001, 0.4, 1.0, 3.7, 12.0, 40.0, 97.5, 400.0, 1e6};
    for (const int32_t width : {1, 15, 16, 17, 256, 263}) {
        Image src;
        makeImage<uint8_t>(src, width, 3, [&](int32_t i, int32_t j) { return (i * 37 + j * 101 + width) & 0xFF; });
        for (const double spread : spreads) {
            const int32_t t = static_cast<int32_t>(rng() % 256);
            for (const int32_t threshold : {0, 1, 127, 128, 255, t}) {
                std::vector<uint8_t> table(256);
                ASSERT_EQ(0, stretchLut(threshold, spread, table.data()));
                Image out;
                ASSERT_EQ(0, stretchImage8(&src.h, threshold, spread, &out.h));
                for (int32_t j = 0; j < 3; ++j) {
                    for (int32_t i = 0; i < width; ++i) {
                        ASSERT_EQ(table[static_cast<size_t>(at<uint8_t>(src.h, i, j))], at<uint8_t>(out.h, i, j))
                            << "width " << width << " t " << threshold << " spread " << spread << " x " << i;
                    }
                }
            }
        }
    }
}

// ---- polarity on synthetic lines ----

// Strokes 3 wide on rows 12 .. 31 (text height 20) every 9 pixels, on a
// 100 x 44 line; the mask leaves a 3-pixel frame outside.
constexpr int32_t kLineW = 100, kLineH = 44;
bool isStroke(int32_t x, int32_t y)
{
    return y >= 12 && y < 32 && x >= 8 && x < 92 && (x - 8) % 9 < 3;
}

class PolarityOnLines : public ::testing::TestWithParam<std::tuple<uint32_t, bool, bool, bool>> {
protected:
    template <class Pixel>
    void run(uint32_t mode, bool darkMarks, bool decide)
    {
        constexpr int32_t kScale = sizeof(Pixel) == 1 ? 1 : 257;
        const int32_t bg = (darkMarks ? 200 : 50) * kScale;
        const int32_t ink = (darkMarks ? 50 : 200) * kScale;
        Image line;
        makeImage<Pixel>(line, kLineW, kLineH, [&](int32_t x, int32_t y) { return isStroke(x, y) ? ink : bg; });
        Rle mask;
        makeBoxMask(mask, 3, 3, kLineW - 3, kLineH - 3);
        const uint32_t expected = darkMarks ? kPolarityDarkOnLight : kPolarityLightOnDark;
        const auto params = paramsFor(decide ? kPolarityUndecided : expected, mode);
        uint32_t polarity = 0;
        Image out;
        ASSERT_EQ(0, normalizeLine<Pixel>(&line.h, &mask.h, &params, 20.0, &polarity, &out.h));
        EXPECT_EQ(expected, polarity);
        int32_t bound = 0;
        kimg_image_getIsBound(&out.h, &bound);
        ASSERT_EQ(1, bound);
        double inkSum = 0, inkN = 0, bgSum = 0, bgN = 0;
        for (int32_t y = 3; y < kLineH - 3; ++y) {
            for (int32_t x = 3; x < kLineW - 3; ++x) {
                (isStroke(x, y) ? inkSum : bgSum) += at<Pixel>(out.h, x, y);
                (isStroke(x, y) ? inkN : bgN) += 1;
            }
        }
        if (darkMarks) {
            EXPECT_LT(inkSum / inkN, bgSum / bgN);
        } else {
            EXPECT_GT(inkSum / inkN, bgSum / bgN);
        }
        // Outside the mask: the background end of the range.
        EXPECT_EQ(darkMarks ? PixelTraits<Pixel>::kMax : 0, at<Pixel>(out.h, 1, 20));
        EXPECT_EQ(darkMarks ? PixelTraits<Pixel>::kMax : 0, at<Pixel>(out.h, 50, kLineH - 1));
    }
};

TEST_P(PolarityOnLines, IsDecidedOrKeptAndMarksEndOnTheirSide)
{
    const auto [mode, wide, darkMarks, decide] = GetParam();
    if (wide) {
        run<uint16_t>(mode, darkMarks, decide);
    } else {
        run<uint8_t>(mode, darkMarks, decide);
    }
}
INSTANTIATE_TEST_SUITE_P(Polarity, PolarityOnLines,
                         ::testing::Combine(::testing::Values(1u, 2u, 4u, 8u), ::testing::Bool(), ::testing::Bool(),
                                            ::testing::Bool()));

// ---- flat and undecided images, typed over the depths ----

template <class Pixel>
class NormalizeDepth : public ::testing::Test {};
using Depths = ::testing::Types<uint8_t, uint16_t>;
TYPED_TEST_SUITE(NormalizeDepth, Depths);

TYPED_TEST(NormalizeDepth, FlatLineWithPolarity2IsCentreInsideTheMaskAndBlackOutside)
{
    using Pixel = TypeParam;
    Image line;
    makeImage<Pixel>(line, 30, 12, [](int32_t, int32_t) { return 90 * (sizeof(Pixel) == 1 ? 1 : 257); });
    Rle mask;
    makeBoxMask(mask, 5, 2, 25, 10);
    const auto params = paramsFor(kPolarityLightOnDark, kNormalizeLocalMean);
    uint32_t polarity = 0;
    Image out;
    ASSERT_EQ(0, normalizeLine<Pixel>(&line.h, &mask.h, &params, 10.0, &polarity, &out.h));
    EXPECT_EQ(kPolarityLightOnDark, polarity);
    for (int32_t y = 0; y < 12; ++y) {
        for (int32_t x = 0; x < 30; ++x) {
            const bool inside = x >= 5 && x < 25 && y >= 2 && y < 10;
            ASSERT_EQ(inside ? PixelTraits<Pixel>::kCentre : 0, at<Pixel>(out.h, x, y)) << x << "," << y;
        }
    }
}

TYPED_TEST(NormalizeDepth, EqualBorderAreasLeaveThePolarityOpenAndTheImageUnpainted)
{
    using Pixel = TypeParam;
    constexpr int32_t kCentre = PixelTraits<Pixel>::kCentre;
    Image line;
    makeImage<Pixel>(line, 20, 9, [](int32_t, int32_t) { return kCentre; });
    uint32_t decided = 0;
    ASSERT_EQ(0, decidePolarity(&line.h, &line.h, &decided));
    EXPECT_EQ(kPolarityUndecided, decided);

    Rle mask;
    makeBoxMask(mask, 2, 2, 18, 7);
    const auto params = paramsFor(kPolarityUndecided, kNormalizeCopy);
    uint32_t polarity = 0;
    Image out;
    ASSERT_EQ(0, normalizeLine<Pixel>(&line.h, &mask.h, &params, -1.0, &polarity, &out.h));
    EXPECT_EQ(kPolarityUndecided, polarity);
    EXPECT_EQ(kCentre, at<Pixel>(out.h, 0, 0));
    EXPECT_EQ(kCentre, at<Pixel>(out.h, 19, 8));
}

TEST(NormalizeByModeCases, UnknownModeIsRefused)
{
    Image line, out;
    makeImage<uint8_t>(line, 8, 8, [](int32_t x, int32_t) { return x * 20; });
    EXPECT_EQ(KOC_E_NORMALIZATION_MODE, normalizeByMode8(&line.h, 3, 10.0, kPolarityDarkOnLight, &out.h));
}

// Both polarities from one centred image: opposite thresholds, so the
// dark-marks table maps the centre above the light-marks table.
TEST(NormalizeByModeCases, SecondOutputStretchesForTheSecondPolarity)
{
    Image line, dark, light;
    makeImage<uint8_t>(line, kLineW, kLineH, [](int32_t x, int32_t y) { return isStroke(x, y) ? 60 : 190; });
    ASSERT_EQ(0, normalizeByMode8(&line.h, kNormalizeLocalMean, 20.0, kPolarityDarkOnLight, &dark.h,
                                  kPolarityLightOnDark, &light.h));
    // Far background sits exactly at the centre before the stretch.
    EXPECT_GT(at<uint8_t>(dark.h, 50, 2), 128);
    EXPECT_LT(at<uint8_t>(light.h, 50, 2), 128);
}

// Columns of 100 with spikes of +150 (x = 10), +60 (x = 30) and +30 (x = 50)
// on 101 columns, constant down the rows, under a 3 x 3 kernel: spike columns
// have d = 100, 40, 20 with sigma 71, 28, 14; the strong spike's neighbours
// d = -50. The squared-deviation tail gives T = 71 (the strong spike holds
// under 5% of the pixels but most of the weight), floor 21, sigmaMax 71: the
// +60 spike's outer slope is raised by 71/28 (gain 83090 of 32768; 320 of
// 128 in 16 bit), the +30 spike lies below the floor and the strong one at
// sigmaMax, so both keep slope 1/2; neighbours stay inside the band.
class NormalizeLocalContrast : public ::testing::TestWithParam<bool> {};

TEST_P(NormalizeLocalContrast, RaisesWeakContrastOutsideTheDeadBand)
{
    const bool wide = GetParam();
    const int32_t scale = wide ? 257 : 1;
    const auto value = [&](int32_t x, int32_t) {
        return (x == 10 ? 250 : x == 30 ? 160 : x == 50 ? 130 : 100) * scale;
    };
    Image line, out;
    if (wide) {
        makeImage<uint16_t>(line, 101, 6, value);
        ASSERT_EQ(0, localContrastImage16(&line.h, 3, 3, &out.h));
    } else {
        makeImage<uint8_t>(line, 101, 6, value);
        ASSERT_EQ(0, localContrastImage8(&line.h, 3, 3, &out.h));
    }
    const auto px = [&](int32_t x) { return wide ? at<uint16_t>(out.h, x, 3) : at<uint8_t>(out.h, x, 3); };
    // x: flat, strong neighbour, strong spike, weak spike, spike below the floor.
    const std::vector<int32_t> xs{0, 9, 10, 30, 50};
    const std::vector<int32_t> expected8{128, 103, 178, 157, 138};
    const std::vector<int32_t> expected16{32768, 26343, 45618, 40166, 35338};
    for (size_t k = 0; k < xs.size(); ++k) {
        EXPECT_EQ((wide ? expected16 : expected8)[k], px(xs[k])) << "x=" << xs[k];
    }
}
INSTANTIATE_TEST_SUITE_P(Normalize, NormalizeLocalContrast, ::testing::Bool());

// Four levels, 25 pixels each: the classes {40, 60} and {190, 210} cut at
// 125 (16 bit: 32125); the pooled sample deviation is 76.04 (19543.5), so
// G = 74690 in both depths.
class NormalizeGlobalStretch : public ::testing::TestWithParam<bool> {};

TEST_P(NormalizeGlobalStretch, StretchesAboutTheTwoClassCutWithThePooledDeviation)
{
    const bool wide = GetParam();
    const int32_t levels[4] = {40, 60, 190, 210};
    const auto value = [&](int32_t x, int32_t y) { return levels[(y * 10 + x) / 25] * (wide ? 257 : 1); };
    Image line, out;
    std::vector<int32_t> expected;
    if (wide) {
        makeImage<uint16_t>(line, 10, 10, value);
        ASSERT_EQ(0, normalizeByMode16(&line.h, kNormalizeGlobalStretch, -1.0, kPolarityUndecided, &out.h));
        expected = {7872, 13730, 51806, 57664};
    } else {
        makeImage<uint8_t>(line, 10, 10, value);
        ASSERT_EQ(0, normalizeByMode8(&line.h, kNormalizeGlobalStretch, -1.0, kPolarityUndecided, &out.h));
        expected = {31, 54, 202, 225};
    }
    for (int32_t k = 0; k < 4; ++k) {
        const int32_t x = (k * 25) % 10, y = (k * 25) / 10;
        EXPECT_EQ(expected[static_cast<size_t>(k)], wide ? at<uint16_t>(out.h, x, y) : at<uint8_t>(out.h, x, y));
    }
}
INSTANTIATE_TEST_SUITE_P(Normalize, NormalizeGlobalStretch, ::testing::Bool());

// ---- mask fill ----

template <class Pixel>
class NormalizeFillOutsideMask : public ::testing::Test {};
TYPED_TEST_SUITE(NormalizeFillOutsideMask, Depths);

TYPED_TEST(NormalizeFillOutsideMask, PaintsExactlyThePixelsNoRunCovers)
{
    using Pixel = TypeParam;
    std::mt19937 rng(8);
    for (int trial = 0; trial < 40; ++trial) {
        // Window (4, 3, 21, 14); the mask rows start above or inside it and end
        // inside or below it; runs may overhang the window or cover it whole.
        const kstd_rect32 store{0, 0, 30, 20};
        Image im;
        ASSERT_EQ(0, kimg_image_assignNewRect(&im.h, PixelTraits<Pixel>::kDepth, &store));
        const kstd_rect32 window{4, 3, 21, 14};
        ASSERT_EQ(0, kimg_image_setWindowRect(&im.h, &window, 0));
        const int32_t y0 = static_cast<int32_t>(rng() % 10), y1 = y0 + 1 + static_cast<int32_t>(rng() % 12);
        Rle mask;
        const kstd_rect32 maskRect{0, y0, 30, y1 - y0};
        ASSERT_EQ(0, kimg_imageRle_assignEmpty(&mask.h, &maskRect));
        std::vector<std::pair<int32_t, int32_t>> runs;
        for (int32_t y = y0; y < y1; ++y) {
            const int32_t a = static_cast<int32_t>(rng() % 29);
            const int32_t b = rng() % 5 == 0 ? 30 : a + 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(29 - a));
            const auto run = rng() % 6 == 0 ? std::pair{0, 30} : std::pair{a, b};
            runs.push_back(run);
            ASSERT_EQ(0, kimg_imageRle_addRun(&mask.h, y, run.first, run.second - run.first));
        }
        const auto value = static_cast<Pixel>(PixelTraits<Pixel>::kMax - 3);
        if constexpr (sizeof(Pixel) == 1) {
            ASSERT_EQ(0, fillOutsideLineMask8(&im.h, &mask.h, value));
        } else {
            ASSERT_EQ(0, fillOutsideLineMask16(&im.h, &mask.h, value));
        }
        for (int32_t y = 3; y < 17; ++y) {
            for (int32_t x = 4; x < 25; ++x) {
                const bool covered = y >= y0 && y < y1 && x >= runs[static_cast<size_t>(y - y0)].first &&
                                     x < runs[static_cast<size_t>(y - y0)].second;
                ASSERT_EQ(covered ? 0 : value, at<Pixel>(im.h, x, y)) << "trial " << trial << " at " << x << "," << y;
            }
        }
        // Nothing outside the window is touched.
        ASSERT_EQ(0, kimg_image_setWindowRect(&im.h, &store, 0));
        ASSERT_EQ(0, at<Pixel>(im.h, 3, 3));
        ASSERT_EQ(0, at<Pixel>(im.h, 10, 17));
    }
}

// ---- border blobs ----

TEST(PolarityBorderBlobs, OnlyBlobsOnTwoOrMoreSidesOfTheWindowCount)
{
    // Corner blob (left + top, 6), left-only blob (4), full-width band (left +
    // right, 20), interior blob (4) on a 20 x 12 image.
    Image im;
    makeImage<uint8_t>(im, 20, 12, [](int32_t x, int32_t y) {
        const bool corner = x < 3 && y < 2;
        const bool leftOnly = x < 2 && y >= 4 && y < 6;
        const bool band = y == 8;
        const bool interior = x >= 10 && x < 12 && y >= 2 && y < 4;
        return corner || leftOnly || band || interior ? 200 : 30;
    });
    double area = 0;
    ASSERT_EQ(0, borderBlobArea(&im.h, 127, koc::services::kBlobsAboveThreshold, &area));
    EXPECT_DOUBLE_EQ(26.0, area);
    // The dark side, cut in two by the band, touches three sides either way.
    ASSERT_EQ(0, borderBlobArea(&im.h, 129, koc::services::kBlobsBelowThreshold, &area));
    EXPECT_DOUBLE_EQ(240.0 - 34.0, area);
}

// ---- attention and allocation ----

// Local contrast polls at least once per 64 rows of its passes, and any
// poll answering with a code ends the call with that code.
TEST(NormalizeAttention, LocalContrastPollsAsItGoesAndReturnsTheAnswer)
{
    const auto polls = [](int32_t rows) {
        Image line, out;
        makeImage<uint8_t>(line, 16, rows, [](int32_t x, int32_t y) { return (x * 7 + y * 3) % 256; });
        test::TrippingAttention counting(1L << 40);
        EXPECT_EQ(0, normalizeByMode8(&line.h, kNormalizeLocalContrast, 10.0, kPolarityDarkOnLight, &out.h));
        return counting.polls();
    };
    const long few = polls(128);
    EXPECT_GE(polls(1024) - few, (1024 - 128) / 64);
    for (long k = 0; k < few; ++k) {
        Image line, out;
        makeImage<uint8_t>(line, 16, 128, [](int32_t x, int32_t y) { return (x * 7 + y * 3) % 256; });
        test::TrippingAttention attention(k);
        EXPECT_EQ(KOC_E_CANCELLED,
                  normalizeByMode8(&line.h, kNormalizeLocalContrast, 10.0, kPolarityDarkOnLight, &out.h))
            << "poll " << k;
    }
}

template <class Pixel>
class NormalizeAllocation : public ::testing::Test {};
TYPED_TEST_SUITE(NormalizeAllocation, Depths);

TYPED_TEST(NormalizeAllocation, EveryFailedAllocationReturnsItsCodeLeavesNoImageAndLeaksNothing)
{
    using Pixel = TypeParam;
    Image line;
    makeImage<Pixel>(line, 40, 20, [](int32_t x, int32_t y) { return (x % 9 < 3 && y > 5 && y < 15) ? 10 : 150; });
    Rle mask;
    makeBoxMask(mask, 1, 1, 39, 19);
    for (uint32_t mode : {kNormalizeGlobalStretch, kNormalizeLocalContrast}) {
        const auto params = paramsFor(kPolarityUndecided, mode);
        for (long failAt = 0;; ++failAt) {
            Image out;
            test::FailingAllocator alloc(failAt);
            uint32_t polarity = 0;
            const int32_t rc = normalizeLine<Pixel>(&line.h, &mask.h, &params, 10.0, &polarity, &out.h);
            if (!alloc.failed()) {
                ASSERT_EQ(0, rc);
                EXPECT_EQ(kPolarityDarkOnLight, polarity);
                kimg_image_assignUnbound(&out.h);
                EXPECT_EQ(0, alloc.liveBlocks());
                break;
            }
            EXPECT_EQ(alloc.failureCode(), rc) << "mode " << mode << " failAt " << failAt;
            int32_t bound = 1;
            kimg_image_getIsBound(&out.h, &bound);
            EXPECT_EQ(0, bound);
            EXPECT_EQ(0, alloc.liveBlocks()) << "mode " << mode << " failAt " << failAt;
        }
    }
}

}  // namespace
