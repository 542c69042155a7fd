// locate_line_test.cpp: the locator's pieces: mass windows, the text band,
// angle quantisation and the parallelogram geometry.
#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "lineextract/locate_line.hpp"

namespace {

using namespace koc::lineextract;
constexpr double kPi = std::numbers::pi;

TEST(LocateTextBand, BlockProfileGivesTheBandShrunkByOneBinEachSide)
{
    std::vector<int32_t> profile(30, 0);
    for (int i = 10; i <= 19; ++i) profile[i] = 100 * 256;
    int32_t s = 0, e = 0;
    ASSERT_EQ(0, shortestMassWindow(profile.data(), 30, 0.18, &s, &e));
    EXPECT_EQ(10, s);
    EXPECT_EQ(18, e);
    ASSERT_EQ(0, shortestMassWindow(profile.data(), 30, 0.16, &s, &e));
    EXPECT_EQ(10, s);
    EXPECT_EQ(18, e);
    int32_t top = 0, bottom = 0;
    ASSERT_EQ(0, findTextBand(profile.data(), 30, &top, &bottom));
    EXPECT_EQ(11, top);
    EXPECT_EQ(17, bottom);
}

// Against a brute-force search over every window.
TEST(LocateTextBand, ShortestMassWindowMatchesBruteForce)
{
    uint32_t seed = 7;
    for (int trial = 0; trial < 200; ++trial) {
        const int n = 1 + static_cast<int>(seed % 40);
        std::vector<int32_t> p(static_cast<size_t>(n));
        for (auto& v : p) {
            seed = seed * 1103515245u + 12345u;
            v = static_cast<int32_t>((seed >> 8) % 20000) - 10000;
        }
        std::vector<uint64_t> mass(static_cast<size_t>(n));
        uint64_t total = 0;
        for (int i = 0; i < n; ++i) total += mass[i] = static_cast<uint64_t>((std::abs(p[i]) + 128) >> 8);
        const uint64_t target = static_cast<uint32_t>(static_cast<double>(total) * (1.0 - 0.18));
        int bestS = 0, bestE = n - 1;
        for (int s = 0; s < n; ++s) {
            uint64_t m = 0;
            for (int e = s; e < n; ++e) {
                m += mass[e];
                if (m >= target) {
                    if (e - s < bestE - bestS) {
                        bestS = s;
                        bestE = e;
                    }
                    break;
                }
            }
        }
        int32_t s = -1, e = -1;
        ASSERT_EQ(0, shortestMassWindow(p.data(), n, 0.18, &s, &e));
        ASSERT_EQ(bestS, s) << "trial " << trial;
        ASSERT_EQ(bestE, e) << "trial " << trial;
    }
}

TEST(LocateAngles, WholeDegreesQuantiseToSixteenBitAngles)
{
    EXPECT_EQ(64990, angle16FromDegrees(-3));
    EXPECT_EQ(546, angle16FromDegrees(3));
    EXPECT_EQ(0, angle16FromDegrees(0));
    EXPECT_EQ(angle16FromDegrees(2), angle16FromDegrees(362));  // wraps like a 16-bit angle
    EXPECT_DOUBLE_EQ(357.000732421875, angle16FromDegrees(-3) * 360.0 / 65536.0);
    EXPECT_DOUBLE_EQ(2.999267578125, angle16FromDegrees(3) * 360.0 / 65536.0);
}

// Every point lies inside the parallelogram, and each side touches a point.
TEST(LocateGeometry, BoundingParallelogramEnclosesTightlyAtAnyAngles)
{
    const kmath_vect pts[] = {{0, 0}, {40, 3}, {38, 15}, {-2, 12}, {20, 8}};
    for (const double alpha : {-0.1, 0.0, 0.05}) {
        for (const double beta : {-0.2, 0.0, 0.15}) {
            kmath_shapeAffineRect r;
            ASSERT_EQ(0, boundingParallelogram(pts, 5, alpha, beta, &r));
            kmath_xformLinear inv;
            ASSERT_EQ(0, kmath_xformLinear_getInverse(&r.xform, &inv));
            double minU = 1, maxU = 0, minV = 1, maxV = 0;
            for (const auto& q : pts) {
                kmath_vect uv;
                kmath_xformLinear_mapPoint(&inv, &q, &uv);
                minU = std::min(minU, uv.x);
                maxU = std::max(maxU, uv.x);
                minV = std::min(minV, uv.y);
                maxV = std::max(maxV, uv.y);
            }
            EXPECT_NEAR(0.0, minU, 1e-9);
            EXPECT_NEAR(1.0, maxU, 1e-9);
            EXPECT_NEAR(0.0, minV, 1e-9);
            EXPECT_NEAR(1.0, maxV, 1e-9);
            double xRot = 0, yRot = 0;
            kmath_shapeAffineRect_getXRotation(&r, &xRot);
            kmath_shapeAffineRect_getYRotation(&r, &yRot);
            EXPECT_NEAR(alpha, xRot, 1e-9);
            EXPECT_NEAR(beta + kPi / 2, yRot, 1e-9);
        }
    }
}

TEST(LocateGeometry, TightRectangleKeepsTheLengthAndSpansTheBand)
{
    kmath_shapeAffineRect full;
    const kmath_vect po{0, 0}, px{50, 0}, py{0, 20};
    kmath_shapeAffineRect_initPoints(&full, &po, &px, &py);
    const kmath_vect segment[2] = {{3, 5}, {-4, 14}};  // only their heights matter
    kmath_shapeAffineRect tight;
    ASSERT_EQ(0, tightLineRect(&full, segment, &tight));
    kmath_shapeAffineRectPoints p;
    kmath_shapeAffineRect_getPoints(&tight, &p);
    EXPECT_NEAR(0, p.po.x, 1e-12);
    EXPECT_NEAR(5, p.po.y, 1e-12);
    EXPECT_NEAR(50, p.px.x, 1e-12);
    EXPECT_NEAR(5, p.px.y, 1e-12);
    EXPECT_NEAR(14, p.py.y, 1e-12);
}

}  // namespace
