// Gradient field and projections against naive references: a field sample is
// the Sobel response at floor of the sample point computed in doubles, and a
// profile bin is summed directly from the line through each sample (no
// running offsets). Every test runs on 8 and 16 bit.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

using test::Image;

template <class Pixel>
struct Kind;
template <>
struct Kind<uint8_t> {
    using Sample = int8_t;
    static constexpr int32_t depth = KIMG_DEPTH_8;
    static constexpr auto field = &koc_getGradientField;
    static constexpr auto horiz = &koc_projectHorizGradientField;
    static constexpr auto vert = &koc_projectVertGradientField;
};
template <>
struct Kind<uint16_t> {
    using Sample = int16_t;
    static constexpr int32_t depth = KIMG_DEPTH_16;
    static constexpr auto field = &koc_getGradientField16;
    static constexpr auto horiz = &koc_projectHorizGradientField16;
    static constexpr auto vert = &koc_projectVertGradientField16;
};

struct Profiles {
    kstd_vector_vector32s v;
    Profiles() { kstd_vector_vector32s_constructEmpty(&v); }
    ~Profiles() { kstd_vector_vector32s_destruct(&v); }
    std::vector<int32_t> at(int32_t s) const
    {
        const kstd_vector32s* p = nullptr;
        const int32_t* b = nullptr;
        int32_t n = 0;
        kstd_vector_vector32s_getElementConst(&v, s, &p);
        kstd_vector32s_getBeginSizeConst(p, &b, &n);
        return {b, b + n};
    }
};
struct Slopes {
    kstd_vector32s v;
    explicit Slopes(const std::vector<int32_t>& t) { kstd_vector32s_constructFromBlock(&v, t.data(), static_cast<intptr_t>(t.size())); }
    ~Slopes() { kstd_vector32s_destruct(&v); }
};

// Random pixels in a 120 x 90 store, optionally seen through the window
// (5, 3, 100, 80); client = scale * pixel + shift.
template <class Pixel>
struct Source {
    static constexpr int32_t W = 120, H = 90;
    std::vector<int32_t> px = std::vector<int32_t>(W * H);
    kstd_rect32 win{0, 0, W, H};
    double scale, shift;
    Image image;

    Source(bool windowed, double clientScale, unsigned seed) : scale(clientScale), shift(clientScale != 1.0 ? 7.0 : 0.0)
    {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int32_t> value(0, sizeof(Pixel) == 1 ? 255 : 65535);
        kimg_image_assignNew(&image.h, Kind<Pixel>::depth, W, H);
        kimg_window w;
        kimg_window_init(&w, &image.h);
        for (int32_t i = 0; i < W * H; ++i) {
            px[i] = value(rng);
            static_cast<Pixel*>(w.pixels)[i / W * w.pitch + i % W] = static_cast<Pixel>(px[i]);
        }
        if (windowed) {
            win = {5, 3, 100, 80};
            kimg_image_setWindowRect(&image.h, &win, 0);
        }
        kmath_xformLinear c;
        kmath_xformLinear_initMatrixTransElements(&c, scale, 0, 0, scale, shift, -shift);
        kimg_image_setLinearClientFromImageXform(&image.h, &c);
    }
    kmath_vect client(kmath_vect p) const { return {scale * p.x + shift, scale * p.y - shift}; }
    // Sobel / 8 at store pixel (x, y); zero on or beyond the window's frame.
    std::pair<int32_t, int32_t> sobel(int32_t x, int32_t y) const
    {
        if (x < win.x + 1 || x > win.x + win.width - 2 || y < win.y + 1 || y > win.y + win.height - 2) {
            return {0, 0};
        }
        auto a = [&](int dx, int dy) { return px[(y + dy) * W + x + dx]; };
        return {(a(1, -1) + 2 * a(1, 0) + a(1, 1) - a(-1, -1) - 2 * a(-1, 0) - a(-1, 1)) >> 3,
                (a(-1, 1) + 2 * a(0, 1) + a(1, 1) - a(-1, -1) - 2 * a(0, -1) - a(1, -1)) >> 3};
    }
};

template <class Pixel>
std::pair<int32_t, int32_t> sampleAt(const kimg_image& field, int32_t i, int32_t j)
{
    kimg_windowConst w;
    kimg_windowConst_init(&w, &field);
    const auto* row = static_cast<const typename Kind<Pixel>::Sample*>(w.pixels) + j * w.pitch;
    return {row[2 * i], row[2 * i + 1]};
}

// A rectangle in source pixels: corner, side lengths, the x side's angle and
// the y side's shear, in degrees.
struct RectCase {
    const char* name;
    kmath_vect po;
    double length, height, angle, shear;
    bool windowed;
    double clientScale;
    kmath_vect u() const { return {std::cos(angle * std::numbers::pi / 180), std::sin(angle * std::numbers::pi / 180)}; }
    kmath_vect v() const { return {std::cos((angle + 90 + shear) * std::numbers::pi / 180), std::sin((angle + 90 + shear) * std::numbers::pi / 180)}; }
    template <class Pixel>
    kmath_shapeAffineRect client(const Source<Pixel>& src) const
    {
        const kmath_vect p[3] = {src.client(po), src.client({po.x + length * u().x, po.y + length * u().y}),
                                 src.client({po.x + height * v().x, po.y + height * v().y})};
        kmath_shapeAffineRect r;
        kmath_shapeAffineRect_initPoints(&r, &p[0], &p[1], &p[2]);
        return r;
    }
};
const RectCase kRects[] = {
    {"axis 10x4 at (20,30)", {20, 30}, 10, 4, 0, 0, false, 1.0},
    {"rotated 17", {30, 12}, 60, 14, 17, 0, false, 1.0},
    {"rotated -33 in a window", {40, 60}, 50, 20, -33, 0, true, 1.0},
    {"upside down and sheared", {95, 70}, 70, 25, 185, 12, false, 1.0},
    {"crossing the near frame, scaled client", {-6.3, -2.7}, 40.5, 12.25, 4, 0, true, 0.5},
    {"crossing the far frame of a window", {88.6, 70.2}, 30, 20, 10, 0, true, 1.0},
    {"x side straight down", {10.3, 5.25}, 30, 8, 90, 0, false, 1.0},
    // Upright at fractional corners, over the frames: the row-wise walk.
    {"upright crossing the near frame", {-3.4, -1.6}, 40, 12, 0, 0, true, 1.0},
    {"upright crossing the far frame", {85.25, 66.75}, 30, 20, 0, 0, false, 1.0},
};

template <class Pixel>
class GradientField : public ::testing::Test {};
using Depths = ::testing::Types<uint8_t, uint16_t>;
TYPED_TEST_SUITE(GradientField, Depths);

TYPED_TEST(GradientField, SamplesAreSobelAtFlooredCellCentres)
{
    for (const RectCase& c : kRects) {
        SCOPED_TRACE(c.name);
        Source<TypeParam> src(c.windowed, c.clientScale, 7);
        const kmath_shapeAffineRect rect = c.client(src);
        Image field;
        int32_t steps[4] = {};
        ASSERT_EQ(Kind<TypeParam>::field(&src.image.h, &rect, &field.h, steps), 0);
        kstd_rect32 fw;
        kimg_image_getWindow(&field.h, &fw);
        const int32_t nx = fw.width / 2, ny = fw.height;
        EXPECT_TRUE(nx <= c.length && nx >= c.length - 1.0 && nx * 2 == fw.width) << nx;
        EXPECT_TRUE(ny <= c.height && ny >= c.height - 1.0) << ny;
        // Axis-aligned integer rectangles are exact: unit steps, whole
        // sample counts, corners mapped exactly.
        const bool exact = c.angle == 0 && c.shear == 0 && c.po.x == std::floor(c.po.x) && c.po.y == std::floor(c.po.y);
        const kmath_vect u = c.u(), v = c.v();
        const double want[4] = {u.x, u.y, v.x, v.y};
        for (int q = 0; q < 4; ++q) {
            EXPECT_NEAR(steps[q], want[q] * 1048576, exact ? 0.5 : 17) << q;
        }
        // 16.16 steps drift by up to 2^-17 pixel per step, so a sample point
        // that close to a pixel edge may honestly fall on either side.
        int32_t ambiguous = 0;
        for (int32_t j = 0; j < ny; ++j) {
            for (int32_t i = 0; i < nx; ++i) {
                const double x = c.po.x + (i + 0.5) * u.x + (j + 0.5) * v.x, y = c.po.y + (i + 0.5) * u.y + (j + 0.5) * v.y;
                const double e = (i + j + 8) / 131072.0;
                const auto got = sampleAt<TypeParam>(field.h, i, j);
                bool matched = false;
                for (double ex : {-e, e}) {
                    for (double ey : {-e, e}) {
                        matched |= got == src.sobel(static_cast<int32_t>(std::floor(x + ex)), static_cast<int32_t>(std::floor(y + ey)));
                    }
                }
                ambiguous += std::floor(x - e) != std::floor(x + e) || std::floor(y - e) != std::floor(y + e);
                ASSERT_TRUE(matched) << "sample " << i << "," << j;
            }
        }
        EXPECT_LE(ambiguous, nx * ny / 10);
        // Client corners land on the sample grid's corners.
        kmath_xformLinear fromClient;
        ASSERT_EQ(kimg_image_getLinearImageFromClientXform(&field.h, &fromClient), 0);
        kmath_shapeAffineRectPoints k;
        kmath_shapeAffineRect_getPoints(&rect, &k);
        const kmath_vect corner[3] = {k.po, k.px, k.py}, expect[3] = {{0, 0}, {c.length, 0}, {0, c.height}};
        for (int q = 0; q < 3; ++q) {
            kmath_vect s;
            kmath_xformLinear_mapPoint(&fromClient, &corner[q], &s);
            EXPECT_NEAR(s.x, expect[q].x, exact ? 1e-9 : 1e-2) << q;
            EXPECT_NEAR(s.y, expect[q].y, exact ? 1e-9 : 1e-2) << q;
        }
    }
}

TYPED_TEST(GradientField, ThinRectangleLeavesFieldUnbound)
{
    Source<TypeParam> src(false, 1.0, 1);
    for (const RectCase& c : {RectCase{"", {20, 30}, 0.6, 10, 0, 0, false, 1}, RectCase{"", {20, 30}, 20, 0.9, 0, 0, false, 1}}) {
        Image field;
        kimg_image_assignNew(&field.h, Kind<TypeParam>::depth, 4, 4);
        const kmath_shapeAffineRect rect = c.client(src);
        EXPECT_EQ(Kind<TypeParam>::field(&src.image.h, &rect, &field.h, nullptr), 0);
        EXPECT_EQ(field.h.store, nullptr);
    }
}

// ---- projections ----

// The documented 14-bit normal of slope t, rotated by the steps when given.
std::pair<int64_t, int64_t> normalOf(int32_t t, bool vertical, const int32_t* steps)
{
    const uint64_t sq = static_cast<uint64_t>(int64_t{t} * t) + (uint64_t{1} << 32);
    auto l = static_cast<uint64_t>(std::sqrt(static_cast<double>(sq)));
    l -= l * l > sq;
    l += (l + 1) * (l + 1) <= sq;
    const auto cs = static_cast<int64_t>(((uint64_t{1} << 30) + l / 2) / l), sn = (cs * t + 0x8000) >> 16;
    const int64_t n0 = vertical ? cs : sn, n1 = vertical ? sn : -cs;
    if (steps == nullptr) {
        return {n0, n1};
    }
    return {(steps[0] * n0 + steps[2] * n1 + 0x80000) >> 20, (steps[1] * n0 + steps[3] * n1 + 0x80000) >> 20};
}

// Horizontal: sample (k, r) lies on the line that leaves the last column
// (t > 0) or the first (t <= 0) at row (r * 65536 + t * (nx - 1 - k)) / 65536
// or (r * 65536 - t * k) / 65536. Vertical: column k of row r moves right by
// the slant still to come below (t > 0) or already passed above (t < 0).
template <class Pixel>
std::vector<int32_t> refProfile(const kimg_image& field, int32_t t, bool vertical, const int32_t* steps, bool absolute)
{
    kimg_windowConst w;
    kimg_windowConst_init(&w, &field);
    const int64_t nx = w.width / 2, ny = w.height, at = std::llabs(t);
    const auto [n0, n1] = normalOf(t, vertical, steps);
    auto floor16 = [](int64_t a) { return static_cast<int64_t>(std::floor(static_cast<double>(a) / 65536.0)); };
    std::vector<int64_t> bins(static_cast<size_t>(vertical ? nx + ((at * ny) >> 16) : ny + ((at * nx) >> 16)));
    for (int64_t r = 0; r < ny; ++r) {
        const auto* row = static_cast<const typename Kind<Pixel>::Sample*>(w.pixels) + r * w.pitch;
        for (int64_t k = 0; k < nx; ++k) {
            const int64_t d = (row[2 * k] * n0 + row[2 * k + 1] * n1 + 32) >> 6;
            const int64_t bin = vertical ? k + ((at * ny) >> 16) - floor16(t > 0 ? t * (ny - r) : at * r)
                                         : floor16(r * 65536 + (t > 0 ? t * (nx - 1 - k) : -t * k));
            bins.at(static_cast<size_t>(bin)) += absolute ? std::llabs(d) : d;
        }
    }
    return {bins.begin(), bins.end()};
}

TYPED_TEST(GradientField, ProjectionsEqualDirectSums)
{
    using K = Kind<TypeParam>;
    Source<TypeParam> src(false, 1.0, 11);
    const kmath_shapeAffineRect rect = RectCase{"", {14, 20}, 80, 30, 8, 3, false, 1}.client(src);
    Image field;
    int32_t steps[4] = {};
    ASSERT_EQ(K::field(&src.image.h, &rect, &field.h, steps), 0);
    // Trimmed as the line locator does: one sample off each row end, one
    // row off top and bottom. The projections must honour that window.
    kstd_rect32 fw = field.h.window;
    kstd_rect32_trim(&fw, 2, 1, 2, 1);
    ASSERT_EQ(kimg_image_setWindowRect(&field.h, &fw, 0), 0);

    Profiles horiz, vert;  // reused across calls: stale bins must be cleared
    for (const auto& set : {std::vector<int32_t>{-200000, -65536, -1144, 0, 1, 1144, 65536, 150001}, {-5, 40000}}) {
        Slopes t(set);
        for (const int32_t* st : {static_cast<const int32_t*>(steps), static_cast<const int32_t*>(nullptr)}) {
            for (int32_t absolute : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "steps " << (st != nullptr) << " absolute " << absolute);
                ASSERT_EQ(K::horiz(&field.h, &t.v, st, absolute, &horiz.v), 0);
                ASSERT_EQ(K::vert(&field.h, &t.v, st, absolute, &vert.v), 0);
                ASSERT_EQ(horiz.v.base.size, static_cast<intptr_t>(set.size()));
                for (int32_t s = 0; s < static_cast<int32_t>(set.size()); ++s) {
                    EXPECT_EQ(horiz.at(s), refProfile<TypeParam>(field.h, set[s], false, st, absolute != 0)) << set[s];
                    EXPECT_EQ(vert.at(s), refProfile<TypeParam>(field.h, set[s], true, st, absolute != 0)) << set[s];
                }
            }
        }
    }
}

TYPED_TEST(GradientField, AttentionPollsAtStatedCadenceAndEndsTheCall)
{
    using K = Kind<TypeParam>;
    Source<TypeParam> src(false, 1.0, 2);
    const kmath_shapeAffineRect rect = RectCase{"", {10, 5}, 10, 70, 0, 0, false, 1}.client(src);
    Slopes t(std::vector<int32_t>(33, 100));
    Image field;
    Profiles p;
    // Builder: its first row, then once per 64k samples. Horizontal: slopes 0
    // and 32, then every row.
    // Vertical: slopes 0, 8, 16, 24 and 32, then every row.
    const std::pair<std::function<int32_t()>, long> calls[] = {
        {[&] { return K::field(&src.image.h, &rect, &field.h, nullptr); }, 1},
        {[&] { return K::horiz(&field.h, &t.v, nullptr, 0, &p.v); }, 2 + 70},
        {[&] { return K::vert(&field.h, &t.v, nullptr, 1, &p.v); }, 5 + 70},
    };
    for (const auto& [call, polls] : calls) {
        {
            test::TrippingAttention never(1 << 30);
            ASSERT_EQ(call(), 0);
            EXPECT_EQ(never.polls(), polls);
        }
        test::TrippingAttention last(polls - 1, static_cast<int32_t>(0x80004242u));
        EXPECT_EQ(call(), static_cast<int32_t>(0x80004242u));
    }
}

std::vector<std::string> askedKernels;
int32_t inhibitAll(const char* name)
{
    askedKernels.emplace_back(name);
    return 1;
}

TYPED_TEST(GradientField, HookIsAskedPerKernelAndChangesNothing)
{
    using K = Kind<TypeParam>;
    Source<TypeParam> src(false, 1.0, 9);
    const kmath_shapeAffineRect rect = kRects[1].client(src);
    Slopes t({-3000, 0, 3000});
    auto run = [&] {
        Image field;
        Profiles horiz, vert;
        EXPECT_EQ(K::field(&src.image.h, &rect, &field.h, nullptr), 0);
        EXPECT_EQ(K::horiz(&field.h, &t.v, nullptr, 0, &horiz.v), 0);
        EXPECT_EQ(K::vert(&field.h, &t.v, nullptr, 0, &vert.v), 0);
        return std::vector<std::vector<int32_t>>{horiz.at(0), vert.at(2)};
    };
    const auto plain = run();
    askedKernels.clear();
    kprt_isOptimizationInhibitedFP = &inhibitAll;
    EXPECT_EQ(run(), plain);
    kprt_isOptimizationInhibitedFP = nullptr;
    const std::vector<std::string> named{"koc_computeGradientField", "koc_projectHorizGradientField", "koc_projectVertGradientField"};
    EXPECT_EQ(askedKernels, sizeof(TypeParam) == 1 ? named : std::vector<std::string>{});
}

}  // namespace
