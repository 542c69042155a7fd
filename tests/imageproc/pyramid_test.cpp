// pyramid_test.cpp: level counts and windows, padded storage with
// replicated borders, the reduction against a naive clamped-border
// reference, transforms across levels, and failures.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "imageproc/pyramid.hpp"
#include "koc/koc.h"
#include "services/image_store.hpp"
#include "support/fakes.hpp"

namespace kip = koc::imageproc;

namespace {

struct Pyramid {
    kip_imagePyramid_ p{};
    Pyramid() { kip_imagePyramid__construct(&p); }
    ~Pyramid() { kip_imagePyramid__destruct(&p); }
    int32_t count() const { return static_cast<int32_t>(p.levels.base.size); }
    const kimg_image& level(int32_t i) const { return static_cast<const kimg_image*>(p.levels.base.begin)[i]; }
};

uint8_t at(const kimg_image& image, int32_t x, int32_t y)
{
    return *koc::services::image::pixelAddress(image.store, x, y);
}

// One level below -> one level up, written plainly: clamp to the window,
// (1 4 6 4 1) / 16 both ways around (2i, 2j), rounded half up.
std::vector<std::vector<int>> reduce(const std::vector<std::vector<int>>& src)
{
    const int h = static_cast<int>(src.size()), w = static_cast<int>(src[0].size());
    const int k[5] = {1, 4, 6, 4, 1};
    std::vector<std::vector<int>> out((h + 1) / 2, std::vector<int>((w + 1) / 2));
    for (int j = 0; j < (h + 1) / 2; ++j) {
        for (int i = 0; i < (w + 1) / 2; ++i) {
            int sum = 0;
            for (int dy = -2; dy <= 2; ++dy) {
                for (int dx = -2; dx <= 2; ++dx) {
                    const int y = std::clamp(2 * j + dy, 0, h - 1), x = std::clamp(2 * i + dx, 0, w - 1);
                    sum += k[dy + 2] * k[dx + 2] * src[static_cast<size_t>(y)][static_cast<size_t>(x)];
                }
            }
            out[static_cast<size_t>(j)][static_cast<size_t>(i)] = (sum + 128) / 256;
        }
    }
    return out;
}

std::vector<std::vector<int>> windowOf(const kimg_image& image)
{
    const kstd_rect32 w = image.window;
    std::vector<std::vector<int>> out(static_cast<size_t>(w.height), std::vector<int>(static_cast<size_t>(w.width)));
    for (int j = 0; j < w.height; ++j)
        for (int i = 0; i < w.width; ++i) out[static_cast<size_t>(j)][static_cast<size_t>(i)] = at(image, w.x + i, w.y + j);
    return out;
}

TEST(PyramidGeometry, LevelCountsAndWindowsForOddAndEvenSizes)
{
    EXPECT_EQ(4, kip::pyramidLevelCount({0, 0, 100, 40}, 10, 8));  // 40, 20, 10, 5
    EXPECT_EQ(1, kip::pyramidLevelCount({0, 0, 100, 40}, 1, 8));
    EXPECT_EQ(1, kip::pyramidLevelCount({0, 0, 1, 1}, 10, 1));
    EXPECT_EQ(6, kip::pyramidLevelCount({0, 0, 33, 64}, 10, 1));  // 33 16 8 4 2 1

    const kstd_rect32 even = kip::gauss2GetDestRect({0, 0, 10, 6});
    const kstd_rect32 odd = kip::gauss2GetDestRect({0, 0, 9, 5});
    const kstd_rect32 shifted = kip::gauss2GetDestRect({3, -3, 10, 7});  // columns 3..12, rows -3..3
    EXPECT_EQ((std::vector<int32_t>{0, 0, 5, 3}), (std::vector<int32_t>{even.x, even.y, even.width, even.height}));
    EXPECT_EQ((std::vector<int32_t>{0, 0, 5, 3}), (std::vector<int32_t>{odd.x, odd.y, odd.width, odd.height}));
    EXPECT_EQ((std::vector<int32_t>{2, -1, 5, 3}),  // even rows -2, 0, 2
              (std::vector<int32_t>{shifted.x, shifted.y, shifted.width, shifted.height}));

    kstd_rect32 padded{};
    ASSERT_EQ(0, kip::paddedPyramidRect({3, 5, 9, 7}, &padded));  // 7, 3, 1: three levels, margin 8
    EXPECT_EQ((std::vector<int32_t>{-6, -4, 26, 24}), (std::vector<int32_t>{padded.x, padded.y, padded.width, padded.height}));
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, kip::paddedPyramidRect({INT32_MIN + 1, 0, 16, 16}, &padded));
}

TEST(Pyramid, BordersRepeatTheNearestWindowPixelOnEveryLevel)
{
    test::Image image(test::makeImage8(37, 22, [](int x, int y) { return (x * 7 + y * 13) % 251; }));
    kstd_rect32 window{3, 1, 31, 19};  // an odd origin, inside the image
    kimg_image_setWindowRect(&image.h, &window, 0);
    Pyramid pyr;
    ASSERT_EQ(0, kip_imagePyramid__generateGauss2(&pyr.p, &image.h, 10, 2));
    ASSERT_EQ(4, pyr.count());  // 19, 9, 4, 2
    for (int32_t l = 0; l < pyr.count(); ++l) {
        const kimg_image& level = pyr.level(l);
        const kstd_rect32 s = level.store->rect, w = level.window;
        EXPECT_EQ(0, s.x % 2);
        EXPECT_EQ(0, s.width % 2);
        EXPECT_EQ(0, s.height % 2);
        for (int32_t y = s.y; y < s.y + s.height; ++y) {
            for (int32_t x = s.x; x < s.x + s.width; ++x) {
                const int32_t nx = std::clamp(x, w.x, w.x + w.width - 1), ny = std::clamp(y, w.y, w.y + w.height - 1);
                ASSERT_EQ(at(level, nx, ny), at(level, x, y)) << "level " << l << " at " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(windowOf(image.h), windowOf(pyr.level(0)));
}

TEST(Pyramid, ReductionMatchesTheBinomialKernelWithClampedBorders)
{
    // An impulse on an even and on an odd pixel, and a busy texture.
    auto impulse = [](int px, int py) {
        return [px, py](int x, int y) { return x == px && y == py ? 160 : 0; };
    };
    const kimg_image sources[] = {test::makeImage8(32, 32, impulse(16, 16)), test::makeImage8(32, 32, impulse(17, 16)),
                                  test::makeImage8(23, 17, [](int x, int y) { return (x * x * 31 + y * 57) % 256; })};
    for (const kimg_image& source : sources) {
        const test::Image image(source);
        Pyramid pyr;
        ASSERT_EQ(0, kip_imagePyramid__generateGauss2(&pyr.p, &image.h, 3, 1));
        ASSERT_EQ(3, pyr.count());
        auto expected = windowOf(image.h);
        for (int32_t l = 1; l < 3; ++l) {
            expected = reduce(expected);
            EXPECT_EQ(expected, windowOf(pyr.level(l))) << "level " << l;
        }
    }
    // The impulse of 160 at (16, 16) spreads by the kernel's products: 36, 24, 16, 6, ... / 256.
    test::Image one(test::makeImage8(32, 32, impulse(16, 16)));
    Pyramid pyr;
    ASSERT_EQ(0, kip_imagePyramid__generateGauss2(&pyr.p, &one.h, 2, 1));
    EXPECT_EQ(23, at(pyr.level(1), 8, 8));  // 160 * 36 / 256 = 22.5
    EXPECT_EQ(4, at(pyr.level(1), 9, 8));   // 160 * 6 / 256 = 3.75
    EXPECT_EQ(1, at(pyr.level(1), 9, 9));   // 160 * 1 / 256 = 0.625
    EXPECT_EQ(0, at(pyr.level(1), 10, 8));
}

TEST(Pyramid, ConstantStaysConstantAndTransformsAgreeAcrossLevels)
{
    test::Image image(test::makeImage8(50, 30, [](int, int) { return 77; }));
    Pyramid pyr;
    ASSERT_EQ(0, kip_imagePyramid__generateGauss2(&pyr.p, &image.h, 10, 1));
    ASSERT_EQ(5, pyr.count());  // 30 15 7 3 1
    for (int32_t l = 0; l < pyr.count(); ++l) {
        const kimg_image& level = pyr.level(l);
        const kstd_rect32 s = level.store->rect;
        for (int32_t y = s.y; y < s.y + s.height; ++y)
            for (int32_t x = s.x; x < s.x + s.width; ++x) ASSERT_EQ(77, at(level, x, y)) << l;
    }
    // The centre of level-2 pixel (1, 2) is the centre of level-0 pixel (4, 8).
    kmath_vect p{1.5, 2.5}, q{};
    kmath_xformLinear_mapPoint(&pyr.level(2).clientFromImage, &p, &q);
    EXPECT_DOUBLE_EQ(4.5, q.x);
    EXPECT_DOUBLE_EQ(8.5, q.y);

    kimg_image level{};
    kimg_image_construct(&level);
    int32_t count = 0;
    EXPECT_EQ(0, kip_imagePyramid__getLevelCount(&pyr.p, &count));
    EXPECT_EQ(5, count);
    EXPECT_EQ(0, kip_imagePyramid__getLevel(&pyr.p, 4, &level));
    EXPECT_EQ(4, level.window.width);  // 50 25 13 7 4
    EXPECT_EQ(2, level.window.height); // 30 15 8 4 2
    EXPECT_EQ(KOC_E_INDEX_OUT_OF_RANGE, kip_imagePyramid__getLevel(&pyr.p, 5, &level));
    EXPECT_EQ(KOC_E_INDEX_OUT_OF_RANGE, kip_imagePyramid__getLevel(&pyr.p, -1, &level));
    kimg_image_destruct(&level);

    // A copy shares the levels and outlives a rebuild of its source.
    Pyramid copy;
    ASSERT_EQ(0, kip_imagePyramid__assign(&copy.p, &pyr.p));
    ASSERT_EQ(0, kip_imagePyramid__clear(&pyr.p));
    EXPECT_EQ(5, copy.count());
    EXPECT_EQ(77, at(copy.level(3), copy.level(3).window.x, copy.level(3).window.y));
}

TEST(Pyramid, RefusedImagesAndFailuresKeepOnlyCompleteLevels)
{
    Pyramid pyr;
    kimg_image unbound{};
    kimg_image_construct(&unbound);
    EXPECT_EQ(KOC_E_IMAGE_UNBOUND, kip_imagePyramid__generateGauss2(&pyr.p, &unbound, 4, 1));
    kimg_image_assignNew(&unbound, KIMG_DEPTH_16, 8, 8);
    EXPECT_EQ(KOC_E_IMAGE_DEPTH, kip_imagePyramid__generateGauss2(&pyr.p, &unbound, 4, 1));
    kimg_image_destruct(&unbound);

    test::Image image(test::makeImage8(64, 48, [](int x, int y) { return x ^ y; }));
    for (long failAt = 0;; ++failAt) {
        test::FailingAllocator alloc(failAt);
        const int32_t rc = kip_imagePyramid__generateGauss2(&pyr.p, &image.h, 5, 1);
        if (!alloc.failed()) {
            EXPECT_EQ(0, rc);
            EXPECT_EQ(5, pyr.count());
            break;
        }
        EXPECT_EQ(KOC_E_OUT_OF_MEMORY, rc);
        for (int32_t l = 0; l < pyr.count(); ++l) EXPECT_NE(nullptr, pyr.level(l).store) << "failAt=" << failAt;
    }
    test::TrippingAttention trip(2);
    EXPECT_EQ(KOC_E_CANCELLED, kip_imagePyramid__generateGauss2(&pyr.p, &image.h, 5, 1));
    EXPECT_LT(pyr.count(), 5);
}

}  // namespace

namespace {

// A one-row image from values.
kimg_image rowImage(std::vector<int> values)
{
    return test::makeImage8(static_cast<int32_t>(values.size()), 1, [&](int x, int) { return values[static_cast<size_t>(x)]; });
}

std::vector<int> rowOf(const kimg_image& image)
{
    return windowOf(image)[0];
}

TEST(PyramidDifference, ModesMapTheSignedDifference)
{
    kimg_image a = rowImage({100, 140, 60, 100, 0, 255});
    kimg_image b = rowImage({100, 100, 100, 99, 1, 0});
    kimg_image d;
    kimg_image_construct(&d);
    const std::vector<std::pair<int32_t, std::vector<int>>> cases = {
        {1, {0, 40, 40, 1, 1, 255}},
        {3, {0, 40, 0, 1, 0, 255}},
        {4, {0, 40, 216, 1, 255, 255}},
        {32, {128, 168, 88, 129, 127, 127}},  // 255 wraps to -1
    };
    for (const auto& [mode, expected] : cases) {
        ASSERT_EQ(0, kip::differenceImage(&a, &b, mode, &d)) << mode;
        EXPECT_EQ(expected, rowOf(d)) << mode;
    }
    // Mode 33 with the largest difference below 128: plain offsets about 128.
    kimg_image a2 = rowImage({100, 140, 60, 100});
    kimg_image b2 = rowImage({100, 100, 100, 40});
    ASSERT_EQ(0, kip::differenceImage(&a2, &b2, 33, &d));
    EXPECT_EQ((std::vector<int>{128, 168, 88, 188}), rowOf(d));  // +40 with m = 60 gives 168
    // ... and scaled by 127 / m from m = 128 on: 200 -> 255, 100 -> 128 + round(63.5), -50 -> 128 - round(31.75).
    kimg_image a3 = rowImage({250, 150, 0});
    kimg_image b3 = rowImage({50, 50, 50});
    ASSERT_EQ(0, kip::differenceImage(&a3, &b3, 33, &d));
    EXPECT_EQ((std::vector<int>{255, 192, 96}), rowOf(d));
    EXPECT_EQ(KOC_E_NORMALIZATION_MODE, kip::differenceImage(&a3, &b3, 2, &d));
    for (kimg_image* image : {&a, &b, &d, &a2, &b2, &a3, &b3}) kimg_image_destruct(image);
}

TEST(PyramidDifference, ExpansionPutsSourcePixelsOnMultiplesAndInterpolates)
{
    kimg_image src = rowImage({0, 100, 40});
    kimg_image out;
    kimg_image_construct(&out);
    ASSERT_EQ(0, kip::expandImage(&src, &out, 4, 2));
    EXPECT_EQ(12, out.window.width);
    EXPECT_EQ(2, out.window.height);
    const auto rows = windowOf(out);
    EXPECT_EQ((std::vector<int>{0, 25, 50, 75, 100, 85, 70, 55, 40, 40, 40, 40}), rows[0]);
    EXPECT_EQ(rows[0], rows[1]);  // the last row repeats
    kimg_image_destruct(&src);
    kimg_image_destruct(&out);
}

TEST(PyramidDifference, LevelsPairUpAndAConstantImageGivesTheCentre)
{
    test::Image image(test::makeImage8(40, 24, [](int, int) { return 90; }));
    Pyramid source, diff;
    ASSERT_EQ(0, kip_imagePyramid__generateGauss2(&source.p, &image.h, 4, 1));  // 24 12 6 3
    ASSERT_EQ(0, kip_imagePyramid__generateDiffPyramid(&source.p, 1, 33, &diff.p));
    ASSERT_EQ(3, diff.count());
    for (int32_t l = 0; l < 3; ++l) {
        const kstd_rect32 a = source.level(l).window, d = diff.level(l).window;
        EXPECT_EQ((std::vector<int32_t>{a.x, a.y, a.width, a.height}), (std::vector<int32_t>{d.x, d.y, d.width, d.height}));
        for (const auto& row : windowOf(diff.level(l)))
            for (int v : row) ASSERT_EQ(128, v) << "level " << l;
    }
    EXPECT_EQ(0, kip_imagePyramid__generateDiffPyramid(&source.p, 4, 33, &diff.p));
    EXPECT_EQ(0, diff.count());
    EXPECT_EQ(0, kip_imagePyramid__generateDiffPyramid(&source.p, 3, 4, &diff.p));
    EXPECT_EQ(1, diff.count());
    EXPECT_EQ(KOC_E_NORMALIZATION_MODE, kip_imagePyramid__generateDiffPyramid(&source.p, 1, 7, &diff.p));
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, kip_imagePyramid__generateDiffPyramid(&source.p, -1, 4, &diff.p));
}

}  // namespace
