// Geometry and rectangle services, checked against independent oracles
// (sequential mapping, corner mapping, integer square bounds) and against
// hand-worked tables for the rounding and edge conventions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <tuple>
#include <utility>

#include "koc/koc.h"

static bool operator==(const kstd_rect32& a, const kstd_rect32& b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
static void PrintTo(const kstd_rect32& r, std::ostream* os)
{
    *os << "(" << r.x << ", " << r.y << ", " << r.width << " x " << r.height << ")";
}

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();

kmath_xformLinear xf(double a, double b, double c, double d, double tx, double ty)
{
    return kmath_xformLinear{kmath_matrix{a, b, c, d}, kmath_vect{tx, ty}};
}

kmath_vect map(const kmath_xformLinear& x, kmath_vect p)
{
    kmath_vect out;
    kmath_xformLinear_mapPoint(&x, &p, &out);
    return out;
}

void expectNear(kmath_vect got, kmath_vect want, double tol)
{
    EXPECT_NEAR(got.x, want.x, tol);
    EXPECT_NEAR(got.y, want.y, tol);
}

// Well-conditioned transforms with rotation, shear, reflection and translation.
const kmath_xformLinear kSamples[] = {
    xf(2, 0, 0, 3, 5, -7), xf(0.6, -0.8, 0.8, 0.6, 10, 20), xf(1, 0.5, 0, 1, -3, 4),
    xf(-1, 0, 0, 1, 100, 0), xf(1e-3, 2e-3, -3e-3, 5e-3, 0.25, 1e6), xf(-4.5, 2.25, 1.5, 7, 3, 3),
};
const kmath_vect kProbes[] = {{0, 0}, {1, -2}, {-3.5, 7}};

TEST(GeometryXform, ComposeAppliesFirstThenSecond)
{
    const kmath_xformLinear scale = xf(2, 0, 0, 2, 0, 0), shift = xf(1, 0, 0, 1, 1, 0);
    kmath_xformLinear c;
    kmath_xformLinear_initCompose(&c, &scale, &shift);
    expectNear(map(c, {1, 1}), {3, 2}, 0);  // the other order gives (4, 2)

    for (const auto& first : kSamples) {
        for (const auto& second : kSamples) {
            kmath_xformLinear out, aliasFirst = first, aliasSecond = second;
            kmath_xformLinear_initCompose(&out, &first, &second);
            kmath_xformLinear_initCompose(&aliasFirst, &aliasFirst, &second);
            kmath_xformLinear_initCompose(&aliasSecond, &first, &aliasSecond);
            for (kmath_vect p : kProbes) {
                const kmath_vect want = map(second, map(first, p));
                const double tol = 1e-9 * (1 + std::hypot(want.x, want.y));
                expectNear(map(out, p), want, tol);
                expectNear(map(aliasFirst, p), want, tol);
                expectNear(map(aliasSecond, p), want, tol);
            }
        }
    }
}

TEST(GeometryXform, InverseUndoesAndSingularIsRefused)
{
    for (const auto& x : kSamples) {
        kmath_xformLinear inv;
        ASSERT_EQ(kmath_xformLinear_getInverse(&x, &inv), 0);
        for (kmath_vect p : kProbes) {
            expectNear(map(inv, map(x, p)), p, 1e-6);
            expectNear(map(x, map(inv, p)), p, 1e-6);
        }
    }
    const kmath_xformLinear singular[] = {
        xf(0, 0, 0, 0, 1, 1),         xf(1, 2, 2, 4, 0, 0),       xf(1, 1, 1, 1 + 1e-14, 0, 0),
        xf(1e10, 1, 1e10, 1 + 1e-13, 0, 0), xf(kNan, 0, 0, 1, 0, 0), xf(1, 0, 0, 1, kInf, 0),
    };
    for (const auto& x : singular) {
        kmath_xformLinear inv = xf(9, 9, 9, 9, 9, 9);
        EXPECT_EQ(kmath_xformLinear_getInverse(&x, &inv), KOC_E_SINGULAR_XFORM);
        EXPECT_EQ(inv.matrix.a, 9.0);
    }
    // The test is relative: small but well-conditioned inverts.
    const kmath_xformLinear tiny = xf(1e-100, 0, 0, 1e-100, 0, 0);
    kmath_xformLinear inv;
    EXPECT_EQ(kmath_xformLinear_getInverse(&tiny, &inv), 0);
    EXPECT_DOUBLE_EQ(inv.matrix.a, 1e100);
}

TEST(GeometryXform, RotationSenseAreaAndEquality)
{
    kmath_matrix m;
    kmath_matrix_initRotationScale(&m, kPi / 2, 2);
    const kmath_xformLinear x{m, {0, 0}};
    const kmath_vect e{1, 0};
    kmath_vect perp;
    kmath_vect_initPerpendicular(&perp, &e);
    expectNear(map(x, e), {2 * perp.x, 2 * perp.y}, 1e-15);  // same turning sense

    const kmath_xformLinear mirror = xf(-1, 0, 0, 2, 3, 3);
    double area[2] = {0, 0};
    kmath_xformLinear_mapArea(&x, 1.5, &area[0]);
    kmath_xformLinear_mapArea(&mirror, 1.0, &area[1]);
    EXPECT_NEAR(area[0], 6.0, 1e-12);
    EXPECT_EQ(area[1], -2.0);  // a reflection turns the sign

    // NaN compares equal to anything; the next double does not.
    const kmath_xformLinear a = xf(1, 2, 3, 4, 5, 6), withNan = xf(1, kNan, 3, 4, 5, 6),
                            other = xf(1, 2, 3, 4, 5, std::nextafter(6.0, 7.0));
    int32_t eq[2] = {0, 1};
    kmath_xformLinear_compareEqual(&a, &withNan, &eq[0]);
    kmath_xformLinear_compareEqual(&a, &other, &eq[1]);
    EXPECT_TRUE(eq[0] == 1 && eq[1] == 0);
}

TEST(GeometryAffineRect, CornersMapAndPixelBoxes)
{
    const kstd_rect32 rect{-3, 5, 7, 2};
    kmath_shapeAffineRect r;
    kmath_shapeAffineRect_initRect32(&r, &rect);
    kmath_shapeAffineRectPoints p;
    kmath_shapeAffineRect_getPoints(&r, &p);
    expectNear(p.px, {4, 5}, 0);
    expectNear(p.py, {-3, 7}, 0);
    kstd_rect32 back;
    ASSERT_EQ(kmath_shapeAffineRect_getEncloseImageRect(&r, &back), 0);
    EXPECT_EQ(back, rect);

    // Mapping a rectangle maps its corners (output aliasing the input).
    for (const auto& x : kSamples) {
        kmath_shapeAffineRect out = r;
        kmath_shapeAffineRect_initMap(&out, &x, &out);
        kmath_shapeAffineRectPoints q;
        kmath_shapeAffineRect_getPoints(&out, &q);
        expectNear(q.po, map(x, p.po), 1e-6);
        expectNear(q.px, map(x, p.px), 1e-6);
        expectNear(q.py, map(x, p.py), 1e-6);
    }

    // Diamond with corners (0,0), (2,1), (-1,2), (1,3), shifted by (0.5, -0.25).
    const kmath_shapeAffineRect diamond{xf(2, -1, 1, 2, 0.5, -0.25)};
    kstd_rectD box;
    kmath_shapeAffineRect_getEncloseRect(&diamond, &box);
    EXPECT_EQ(std::make_tuple(box.x, box.y, box.width, box.height), std::make_tuple(-0.5, -0.25, 3.0, 3.0));
    ASSERT_EQ(kmath_shapeAffineRect_getEncloseImageRect(&diamond, &back), 0);
    EXPECT_EQ(back, (kstd_rect32{-1, -1, 4, 4}));

    // Centre form: Po lies half of each side back from the centre.
    const kmath_vect center{10, 20};
    kmath_shapeAffineRect_initCenter(&r, &center, 4, 2, 0, kPi / 2);
    kmath_shapeAffineRect_getPoints(&r, &p);
    expectNear(p.po, {8, 19}, 1e-12);
    expectNear(p.px, {12, 19}, 1e-12);
}

TEST(GeometryAffineRect, Degeneracy)
{
    const std::pair<kmath_xformLinear, int32_t> cases[] = {
        {xf(2, 0, 0, 3, 1, 1), 0},          {xf(1e-100, 0, 0, 1e-100, 0, 0), 0},  // small but square
        {xf(0, 0, 0, 0, 0, 0), 1},          {xf(2, 4, 1, 2, 0, 0), 1},            // parallel sides
        {xf(1e6, 1e6, 1, 1 + 1e-7, 0, 0), 1}, {xf(1, 0, 0, 1, kInf, 0), 1}, {xf(1, kNan, 0, 1, 0, 0), 1},
    };
    for (const auto& [x, want] : cases) {
        const kmath_shapeAffineRect r{x};
        int32_t d = -1;
        kmath_shapeAffineRect_getIsDegenerate(&r, &d);
        EXPECT_EQ(d, want) << x.matrix.a << " " << x.matrix.b << " " << x.trans.x;
    }
    const kmath_shapeAffineRect flat{xf(0, 1, 0, 1, 0, 0)};
    kmath_vect unit;
    EXPECT_EQ(kmath_shapeAffineRect_getUnitPoPx(&flat, &unit), KOC_E_BAD_ARGUMENT);
}

struct CenterCase {
    kmath_vect center;
    double xLength, yLength, xRotation, yRotation;
};
class GeometryCenterForm : public testing::TestWithParam<CenterCase> {};

TEST_P(GeometryCenterForm, RoundTrips)
{
    const CenterCase& c = GetParam();
    kmath_shapeAffineRect r;
    kmath_shapeAffineRect_initCenter(&r, &c.center, c.xLength, c.yLength, c.xRotation, c.yRotation);
    kmath_vect center;
    double xl = 0, yl = 0, xr = 0, yr = 0;
    kmath_shapeAffineRect_getCenter(&r, &center);
    kmath_shapeAffineRect_getXLength(&r, &xl);
    kmath_shapeAffineRect_getYLength(&r, &yl);
    kmath_shapeAffineRect_getXRotation(&r, &xr);
    kmath_shapeAffineRect_getYRotation(&r, &yr);
    expectNear(center, c.center, 1e-9);
    EXPECT_NEAR(xl, c.xLength, 1e-9);
    EXPECT_NEAR(yl, c.yLength, 1e-9);
    EXPECT_NEAR(xr, c.xRotation, 1e-12);
    EXPECT_NEAR(yr, c.yRotation, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(GeometryCases, GeometryCenterForm,
                         testing::Values(CenterCase{{0, 0}, 2, 1, 0, kPi / 2},
                                         CenterCase{{10, -4}, 30, 8, 0.3, 0.3 + kPi / 2},
                                         CenterCase{{-2.5, 7}, 5, 5, 3.0, -1.9},  // y direction wraps past pi
                                         CenterCase{{1, 1}, 4, 9, -0.7, 1.2}));  // sheared

TEST(GeometryLine, Intersection)
{
    struct Case {
        kshape_line a, b;
        int32_t parallel;
        kmath_vect point;
    };
    const Case cases[] = {
        {{{0, 0}, {1, 0}}, {{3, -5}, {0, 2}}, 0, {3, 0}},
        {{{-1, 3}, {-4, 1}}, {{5, 0}, {3, 7}}, 0, {5 + 18.0 / 31, 42.0 / 31}},
        {{{0, 0}, {1, 2}}, {{1, 0}, {-2, -4}}, 1, {}},  // parallel
        {{{0, 0}, {1, 2}}, {{1, 2}, {3, 6}}, 1, {}},    // coincident
        {{{0, 0}, {0, 0}}, {{1, 2}, {3, 6}}, 1, {}},    // no direction
        {{{0, 0}, {1e8, 1}}, {{0, 1}, {1e8, 1 + 1e-6}}, 1, {}},
    };
    for (const Case& c : cases) {
        kmath_vect p{-99, -99};
        int32_t parallel = -1;
        ASSERT_EQ(kshape_line_intersection(&c.a, &c.b, &p, &parallel), 0);
        EXPECT_EQ(parallel, c.parallel);
        expectNear(p, c.parallel ? kmath_vect{-99, -99} : c.point, 1e-12);
    }
}

TEST(GeometryNumbers, SignedNorm)
{
    const std::pair<double, double> norm[] = {{-170, -170}, {190, -170}, {180, 180},  {-180, 180},  {540, 180},
                                              {-540, 180},  {360, 0},    {-190, 170}, {720.5, 0.5}, {179.75, 179.75}};
    for (const auto& [in, want] : norm) {
        double out = 0;
        kmath_degree_signedNorm(in, &out);
        EXPECT_EQ(out, want) << in;
    }
}

TEST(GeometryNumbers, Sqrt64IsExactFloor)
{
    auto root = [](uint64_t v) {
        uint64_t r = 0;
        kmath_sqrt64(v, &r);
        return r;
    };
    // r = floor(sqrt(v)) exactly when r*r <= v < (r+1)^2; the latter is 2^64
    // (beyond any v) for the largest root.
    auto exact = [&](uint64_t v) {
        const uint64_t r = root(v);
        return r <= 0xffffffffu && r * r <= v && (r == 0xffffffffu || (r + 1) * (r + 1) > v);
    };
    EXPECT_EQ(root(~uint64_t{0}), 0xffffffffu);
    for (uint64_t k : {1ull, 2ull, 94906265ull, 94906266ull, 3037000499ull, 3037000500ull, 4294967295ull}) {
        EXPECT_EQ(root(k * k), k);
        EXPECT_EQ(root(k * k - 1), k - 1);
        EXPECT_TRUE(exact(k * k + 1)) << k;
    }
    for (uint64_t i = 0, s = 0x9e3779b97f4a7c15ull; i < 20000; ++i) {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        ASSERT_TRUE(exact(s >> (i % 40))) << (s >> (i % 40));
    }
}

TEST(GeometryNumbers, FixedPointSinCos)
{
    for (int32_t bits : {0, 1, 16, 30}) {
        const int32_t one = int32_t{1} << bits;
        const int32_t want[5] = {0, one, 0, -one, 0};  // sin at quarter q, cos at q is sin at q + 1
        for (int q = 0; q < 4; ++q) {
            int32_t s = 99, c = 99;
            kmath_sin16FixedPoint(static_cast<uint16_t>(q * 16384), bits, &s);
            kmath_cos16FixedPoint(static_cast<uint16_t>(q * 16384), bits, &c);
            EXPECT_TRUE(s == want[q] && c == want[q + 1]) << q << " bits " << bits;
        }
    }
    // Every angle: nearest rounding, odd sin, even cos, cos as shifted sin.
    for (uint32_t a = 0; a < 65536; ++a) {
        int32_t s = 0, sNeg = 0, c = 0, cNeg = 0, shifted = 0;
        kmath_sin16FixedPoint(static_cast<uint16_t>(a), 30, &s);
        kmath_sin16FixedPoint(static_cast<uint16_t>(65536 - a), 30, &sNeg);
        kmath_cos16FixedPoint(static_cast<uint16_t>(a), 30, &c);
        kmath_cos16FixedPoint(static_cast<uint16_t>(65536 - a), 30, &cNeg);
        kmath_sin16FixedPoint(static_cast<uint16_t>(a + 16384), 30, &shifted);
        ASSERT_NEAR(s, std::sin(2 * kPi * a / 65536) * (1 << 30), 0.5 + 1e-3) << a;
        ASSERT_EQ(sNeg, -s) << a;
        ASSERT_EQ(cNeg, c) << a;
        ASSERT_EQ(shifted, c) << a;
    }
    int32_t v = 42;
    EXPECT_EQ(kmath_sin16FixedPoint(1, -1, &v), KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(kmath_cos16FixedPoint(1, 31, &v), KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(v, 42);
    double d = 5;
    kmath_sin16(32768, &d);
    EXPECT_EQ(d, 0.0);
    EXPECT_FALSE(std::signbit(d));
}

// ---- integer rectangles ----

struct RectCase {
    kstd_rect32 a, b, want;
};
class RectIntersect : public testing::TestWithParam<RectCase> {};
class RectEnclose : public testing::TestWithParam<RectCase> {};

TEST_P(RectIntersect, IsSymmetricAndAliasSafe)
{
    const RectCase& c = GetParam();
    kstd_rect32 ab = c.a, ba = c.b;
    ASSERT_EQ(kstd_rect32_intersect(&ab, &ab, &c.b), 0);
    ASSERT_EQ(kstd_rect32_intersect(&ba, &c.a, &ba), 0);
    EXPECT_EQ(ab, c.want);
    EXPECT_EQ(ba, c.want);
}
INSTANTIATE_TEST_SUITE_P(
    RectTable, RectIntersect,
    testing::Values(RectCase{{0, 0, 10, 10}, {5, 3, 10, 4}, {5, 3, 5, 4}},
                    RectCase{{0, 0, 10, 10}, {2, 2, 3, 3}, {2, 2, 3, 3}},
                    RectCase{{0, 0, 10, 10}, {10, 0, 5, 5}, {0, 0, 0, 0}},    // touching
                    RectCase{{0, 0, 10, 10}, {-5, -5, 5, 20}, {0, 0, 0, 0}},  // touching
                    RectCase{{0, 0, 10, 10}, {3, 3, -4, 5}, {0, 0, 0, 0}},    // no width
                    RectCase{{kMin32, kMin32, kMax32, kMax32}, {kMax32 - 10, 0, kMax32, 5}, {0, 0, 0, 0}},
                    RectCase{{kMax32 - 10, 0, kMax32, 5}, {kMax32 - 4, -3, 2, 5}, {kMax32 - 4, 0, 2, 2}}));

TEST_P(RectEnclose, GrowsToHoldBoth)
{
    const RectCase& c = GetParam();
    kstd_rect32 acc = c.a;
    ASSERT_EQ(kstd_rect32_encloseRect(&acc, &c.b), 0);
    EXPECT_EQ(acc, c.want);
}
INSTANTIATE_TEST_SUITE_P(RectTable, RectEnclose,
                         testing::Values(RectCase{{0, 0, 2, 2}, {5, -1, 1, 1}, {0, -1, 6, 3}},
                                         RectCase{{0, 0, 10, 10}, {2, 2, 3, 3}, {0, 0, 10, 10}},
                                         RectCase{{0, 0, 0, 0}, {5, 6, 1, 2}, {5, 6, 1, 2}},
                                         RectCase{{-100, 50, 10, 0}, {5, 6, 1, 2}, {5, 6, 1, 2}},
                                         RectCase{{5, 6, 1, 2}, {0, 0, -3, 9}, {5, 6, 1, 2}}));

TEST(RectEdges, ContainsTrimAndOverflow)
{
    const kstd_rect32 outer{0, 0, 10, 10};
    const std::pair<kstd_rect32, int32_t> inside[] = {{{0, 0, 10, 10}, 1}, {{9, 9, 1, 1}, 1}, {{9, 9, 2, 1}, 0},
                                                      {{-1, 0, 2, 2}, 0},  {{5, 5, 0, 3}, 0}};
    for (const auto& [inner, want] : inside) {
        int32_t contains = -1;
        kstd_rect32_containsRect(&outer, &inner, &contains);
        EXPECT_EQ(contains, want) << testing::PrintToString(inner);
    }

    // Amounts (left, top, right, bottom) applied to (10, 20, 30, 30); in the
    // last the width clamps at 0 while x still moves.
    const std::pair<kstd_rect32, kstd_rect32> trims[] = {
        {{1, 2, 3, 4}, {11, 22, 26, 24}}, {{-1, -2, -3, -4}, {9, 18, 34, 36}}, {{25, 0, 10, 0}, {35, 20, 0, 30}}};
    for (const auto& [amounts, want] : trims) {
        kstd_rect32 r{10, 20, 30, 30};
        ASSERT_EQ(kstd_rect32_trim(&r, amounts.x, amounts.y, amounts.width, amounts.height), 0);
        EXPECT_EQ(r, want);
    }

    // Results beyond 32 bits are refused and leave the rectangle alone.
    kstd_rect32 acc{kMin32, 0, 1, 1};
    const kstd_rect32 far{kMax32 - 1, 0, 1, 1}, before = acc;
    EXPECT_EQ(kstd_rect32_encloseRect(&acc, &far), KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(kstd_rect32_trim(&acc, -5, 0, 0, 0), KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(acc, before);
}

TEST(RectMinEnclosing, FloorsLowAndCeilsHighEdges)
{
    const struct {
        kstd_rectD in;
        int32_t rc;
        kstd_rect32 want;
    } cases[] = {
        {{0.5, -0.5, 2.0, 1.0}, 0, {0, -1, 3, 2}}, {{1.0, 2.0, 3.0, 4.0}, 0, {1, 2, 3, 4}},
        {{2.5, 2.0, 0.0, 0.0}, 0, {2, 2, 1, 0}},
        {{-2147483648.0, 0, 2147483647.0, 1}, 0, {kMin32, 0, kMax32, 1}},
        {{-2.0, 0, 2147483648.0, 1}, KOC_E_BAD_ARGUMENT, {}},  // extent beyond 32 bits
        {{-2147483648.5, 0, 1, 1}, KOC_E_BAD_ARGUMENT, {}},
        {{kInf, 0, 1, 1}, KOC_E_BAD_ARGUMENT, {}},     {{0, kNan, 1, 1}, KOC_E_BAD_ARGUMENT, {}},
        {{0, 0, -1, 1}, KOC_E_BAD_ARGUMENT, {}},
    };
    for (const auto& c : cases) {
        kstd_rect32 out{7, 7, 7, 7};
        EXPECT_EQ(kstd_rect32_initMinEnclosingRect(&out, &c.in), c.rc) << c.in.x;
        EXPECT_EQ(out, c.rc == 0 ? c.want : (kstd_rect32{7, 7, 7, 7}));
    }
}

}  // namespace
