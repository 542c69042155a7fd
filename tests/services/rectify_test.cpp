// rectify_test.cpp: resampling a parallelogram at scale 1, its transform and
// its intersection mask; gap filling of range images.
#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "services/range_fill.hpp"
#include "services/rectify.hpp"
#include "support/fakes.hpp"
#include "support/text_image.hpp"

namespace {

struct Image {
    kimg_image img;
    Image() { kimg_image_construct(&img); }
    explicit Image(kimg_image taken) : img(taken) {}
    ~Image() { kimg_image_destruct(&img); }
    uint32_t at(int32_t x, int32_t y) const
    {
        kimg_windowConst w;
        kimg_windowConst_init(&w, &img);
        const auto* base = static_cast<const uint8_t*>(w.pixels) + (y * w.pitch + x) * w.depth;
        return w.depth == 1 ? *base : *reinterpret_cast<const uint16_t*>(base);
    }
};

using test::boxRect;

// A sw x sh image of the given depth filled with random samples.
void fillRandom(Image& image, int32_t depth, int32_t sw, int32_t sh, std::mt19937& rng)
{
    ASSERT_EQ(0, kimg_image_assignNew(&image.img, depth, sw, sh));
    kimg_window w;
    ASSERT_EQ(0, kimg_window_init(&w, &image.img));
    for (int32_t y = 0; y < sh; ++y)
        for (int32_t x = 0; x < sw; ++x) {
            const uint32_t v = rng() & (depth == KIMG_DEPTH_8 ? 0xffu : 0xffffu);
            if (depth == KIMG_DEPTH_8)
                static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint8_t>(v);
            else
                static_cast<uint16_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint16_t>(v);
        }
}

// The bilinear sample at 16.16 fixed-point source position (sx, sy), every
// neighbour clamped into the image, weights taken to 8 bits: the reference
// the library's fast paths must reproduce.
uint64_t clampedBilinear(const Image& src, int32_t sw, int32_t sh, int64_t sx, int64_t sy)
{
    const auto x0 = static_cast<int32_t>(sx >> 16), y0 = static_cast<int32_t>(sy >> 16);
    const uint64_t wx = (sx >> 8) & 0xff, wy = (sy >> 8) & 0xff;
    const auto v = [&](int32_t qx, int32_t qy) {
        return uint64_t{src.at(std::clamp(qx, 0, sw - 1), std::clamp(qy, 0, sh - 1))};
    };
    const uint64_t top = v(x0, y0) * (256 - wx) + v(x0 + 1, y0) * wx;
    const uint64_t bottom = v(x0, y0 + 1) * (256 - wx) + v(x0 + 1, y0 + 1) * wx;
    return (top * (256 - wy) + bottom * wy + 32768) >> 16;
}

TEST(Rectify, AxisAlignedIntegerRectangleCopiesPixelsExactly)
{
    Image src(test::makeImage8(40, 30, [](int x, int y) { return (x * 7 + y * 13) & 0xff; }));
    const kmath_shapeAffineRect r = boxRect(5, 4, 20, 10);
    Image out;
    ASSERT_EQ(0, koc::services::affineRectifyImageRegion(&src.img, &r, &out.img));
    kstd_rect32 w;
    kimg_image_getWindow(&out.img, &w);
    EXPECT_EQ(20, w.width);
    EXPECT_EQ(10, w.height);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(src.at(x + 5, y + 4), out.at(x, y)) << x << "," << y;
    // Out pixel (0,0) maps back to the rectangle's Po in client coordinates.
    kmath_xformLinear c;
    ASSERT_EQ(0, kimg_image_getLinearClientFromImageXform(&out.img, &c));
    const kmath_vect origin{0, 0};
    kmath_vect p;
    kmath_xformLinear_mapPoint(&c, &origin, &p);
    EXPECT_NEAR(5.0, p.x, 1e-9);
    EXPECT_NEAR(4.0, p.y, 1e-9);
}

// Upright rectangles at fractional offsets, reaching past every border of
// the window, against the bilinear walk written out per pixel: the row fast
// path must give the same values as the general one, 8 and 16 bit.
TEST(Rectify, UprightRectanglesMatchThePerPixelBilinearWalk)
{
    std::mt19937 rng(5);
    for (const int32_t depth : {KIMG_DEPTH_8, KIMG_DEPTH_16}) {
        const int32_t sw = 23, sh = 17;
        Image src;
        fillRandom(src, depth, sw, sh, rng);
        const double offsets[] = {0.0, 0.25, 0.5, 0.75, 1.0 / 3.0, 0.999};
        for (const double fx : offsets)
            for (const double fy : offsets)
                for (const auto& [x, y, rw, rh] : {std::array<int, 4>{-3, -2, 29, 21}, std::array<int, 4>{2, 3, 9, 5},
                                                 std::array<int, 4>{15, 12, 7, 4}, std::array<int, 4>{-1, 8, 5, 9}}) {
                    const kmath_shapeAffineRect r = boxRect(x + fx, y + fy, rw, rh);
                    Image out;
                    ASSERT_EQ(0, koc::services::affineRectifyImageRegion(&src.img, &r, &out.img));
                    for (int32_t j = 0; j < rh; ++j)
                        for (int32_t i = 0; i < rw; ++i) {
                            // Centre of out pixel (i, j) in source pixel coordinates.
                            const auto px = static_cast<int64_t>(std::floor((x + fx - 0.5 + 0.5) * 65536.0 + 0.5)) +
                                            int64_t{i} * 65536;
                            const auto py = static_cast<int64_t>(std::floor((y + fy - 0.5 + j + 0.5) * 65536.0 + 0.5));
                            ASSERT_EQ(clampedBilinear(src, sw, sh, px, py), out.at(i, j))
                                << "depth " << depth << " rect " << x + fx << "," << y + fy << " pixel " << i << ","
                                << j;
                        }
                }
    }
}

// Turned and slanted parallelograms (sides along Pythagorean directions, so
// that their unit vectors are the same doubles here as in the library)
// reaching past the window, against the fixed-point walk written out per
// sample with every neighbour clamped: the unclamped run inside a row must
// give the same values as the clamped form around it, 8 and 16 bit.
TEST(Rectify, TurnedParallelogramsMatchTheClampedPerSampleWalk)
{
    std::mt19937 rng(9);
    const int32_t sw = 31, sh = 19;
    const std::array<std::array<double, 2>, 6> dirs = {
        {{3, 4}, {4, -3}, {-5, 12}, {12, 5}, {15, -8}, {-8, -15}}};
    for (const int32_t depth : {KIMG_DEPTH_8, KIMG_DEPTH_16}) {
        Image src;
        fillRandom(src, depth, sw, sh, rng);
        for (int trial = 0; trial < 60; ++trial) {
            const auto& d1 = dirs[static_cast<size_t>(trial) % dirs.size()];
            const auto& d2 = dirs[static_cast<size_t>(trial / 6 + 1) % dirs.size()];
            if (d1[0] * d2[1] - d1[1] * d2[0] == 0) continue;
            const double n1 = std::sqrt(d1[0] * d1[0] + d1[1] * d1[1]);
            const double n2 = std::sqrt(d2[0] * d2[0] + d2[1] * d2[1]);
            const double k1 = 1 + static_cast<double>(rng() % 3), k2 = 1 + static_cast<double>(rng() % 2);
            const kmath_vect po{-6.0 + 0.25 * static_cast<double>(rng() % 160), -4.0 + 0.25 * static_cast<double>(rng() % 100)};
            const kmath_vect px{po.x + k1 * d1[0], po.y + k1 * d1[1]};
            const kmath_vect py{po.x + k2 * d2[0], po.y + k2 * d2[1]};
            kmath_shapeAffineRect r;
            ASSERT_EQ(0, kmath_shapeAffineRect_initPoints(&r, &po, &px, &py));
            Image out;
            ASSERT_EQ(0, koc::services::affineRectifyImageRegion(&src.img, &r, &out.img));
            const kmath_vect e1{k1 * d1[0] / (k1 * n1), k1 * d1[1] / (k1 * n1)};
            const kmath_vect e2{k2 * d2[0] / (k2 * n2), k2 * d2[1] / (k2 * n2)};
            const auto fixed = [](double v) { return static_cast<int64_t>(std::floor(v * 65536.0 + 0.5)); };
            const auto rw = static_cast<int32_t>(std::floor(k1 * n1 + 0.5));
            const auto rh = static_cast<int32_t>(std::floor(k2 * n2 + 0.5));
            for (int32_t j = 0; j < rh; ++j)
                for (int32_t i = 0; i < rw; ++i) {
                    const double cx = (po.x - 0.5) + (j + 0.5) * e2.x + 0.5 * e1.x;
                    const double cy = (po.y - 0.5) + (j + 0.5) * e2.y + 0.5 * e1.y;
                    const int64_t sx = fixed(cx) + int64_t{i} * fixed(e1.x);
                    const int64_t sy = fixed(cy) + int64_t{i} * fixed(e1.y);
                    ASSERT_EQ(clampedBilinear(src, sw, sh, sx, sy), out.at(i, j))
                        << "depth " << depth << " trial " << trial << " sample " << i << "," << j;
                }
        }
    }
}

// A rectangle turned by 90 degrees reads the source column by column.
TEST(Rectify, QuarterTurnTransposesAndTheTransformFollows)
{
    Image src(test::makeImage8(20, 20, [](int x, int y) { return x * 10 + y; }));
    kmath_shapeAffineRect r;
    const kmath_vect po{12, 2}, px{12, 10}, py{4, 2};  // x side down, y side to the left
    kmath_shapeAffineRect_initPoints(&r, &po, &px, &py);
    Image out;
    ASSERT_EQ(0, koc::services::affineRectifyImageRegion(&src.img, &r, &out.img));
    // Out pixel (i, j) has its centre at source (12 - j - 0.5, 2 + i + 0.5): pixel (11 - j, 2 + i).
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i) ASSERT_EQ(src.at(11 - j, 2 + i), out.at(i, j)) << i << "," << j;
}

TEST(Rectify, SixteenBitSamplesAreInterpolatedWithoutOvershoot)
{
    kimg_image raw;
    kimg_image_construct(&raw);
    kimg_image_assignNew(&raw, KIMG_DEPTH_16, 4, 1);
    kimg_window w;
    kimg_window_init(&w, &raw);
    auto* row = static_cast<uint16_t*>(w.pixels);
    row[0] = 0;
    row[1] = 65535;
    row[2] = 65535;
    row[3] = 0;
    Image src(raw);
    const kmath_shapeAffineRect half = boxRect(0.5, 0, 3, 1);  // centres fall between pixels
    Image out;
    ASSERT_EQ(0, koc::services::affineRectifyImageRegion(&src.img, &half, &out.img));
    EXPECT_NEAR(32768.0, out.at(0, 0), 1.0);
    EXPECT_EQ(65535u, out.at(1, 0));
    EXPECT_NEAR(32768.0, out.at(2, 0), 1.0);
}

TEST(Rectify, IntersectionMaskHoldsOneRunPerRowInsideBothRectangles)
{
    Image src(test::makeImage8(50, 50, [](int, int) { return 100; }));
    const kmath_shapeAffineRect line = boxRect(10, 10, 20, 10);
    const kmath_shapeAffineRect input = boxRect(15, 12, 30, 30);
    Image out;
    kimg_imageRle mask;
    kimg_imageRle_construct(&mask);
    ASSERT_EQ(0, koc::services::affineRectifyImageRegionIntersection(&src.img, &line, &input, &out.img, &mask));
    kstd_rect32 rect;
    const int32_t* rowStart = nullptr;
    const kimg_run* runs = nullptr;
    ASSERT_EQ(0, kimg_imageRle_getEncoding(&mask, &rect, &rowStart, &runs));
    EXPECT_EQ(2, rect.y);       // rows 0 and 1 of the line lie above the input rectangle
    EXPECT_EQ(8, rect.height);
    for (int r = 0; r < rect.height; ++r) {
        ASSERT_EQ(1, rowStart[r + 1] - rowStart[r]);
        EXPECT_EQ(5, runs[rowStart[r]].x);  // from source x 15 on
        EXPECT_EQ(15, runs[rowStart[r]].length);
    }
    kimg_imageRle_destruct(&mask);
}

TEST(RangeFill, GapsAreInterpolatedAlongRowsAndEmptyRowsTakeTheFillValue)
{
    kimg_image image, mask;
    kimg_image_construct(&image);
    kimg_image_construct(&mask);
    kimg_image_assignNew(&image, KIMG_DEPTH_16, 6, 2);
    kimg_image_assignNew(&mask, KIMG_DEPTH_8, 6, 2);
    kimg_window wi, wm;
    kimg_window_init(&wi, &image);
    kimg_window_init(&wm, &mask);
    auto* r0 = static_cast<uint16_t*>(wi.pixels);
    auto* m0 = static_cast<uint8_t*>(wm.pixels);
    const uint16_t values[6] = {9, 100, 0, 0, 400, 7};
    const uint8_t valid[6] = {0, 1, 0, 0, 1, 0};
    for (int x = 0; x < 6; ++x) {
        r0[x] = values[x];
        m0[x] = valid[x];
    }
    k3img_rangeImage16 range, out;
    k3img_rangeImage16_construct(&range);
    k3img_rangeImage16_construct(&out);
    ASSERT_EQ(0, k3img_rangeImage16_init(&range, &image, &mask));
    uint16_t fill = 0;
    ASSERT_EQ(0, koc::services::rangeImageFillValue(&range, &fill));
    EXPECT_EQ(250, fill);  // (100 + 400 + 1) / 2
    ASSERT_EQ(0, koc::services::fillMissingPelsRange16(&range, fill, &out));
    Image result;
    kimg_image_assign(&result.img, &out.image);
    const uint32_t expected[6] = {100, 100, 200, 300, 400, 400};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(expected[x], result.at(x, 0)) << x;
    for (int x = 0; x < 6; ++x) EXPECT_EQ(250u, result.at(x, 1)) << x;
    k3img_rangeImage16_destruct(&range);
    k3img_rangeImage16_destruct(&out);
    kimg_image_destruct(&image);
    kimg_image_destruct(&mask);
}

}  // namespace
