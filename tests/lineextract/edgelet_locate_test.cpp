// edgelet_locate_test.cpp: line finding from row edgelets: the profile
// pieces against hand-worked and brute-force answers, projections against a
// floating-point reference, and whole extractions of turned and slanted
// lines.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "lineextract/edgelet_locate.hpp"
#include "support/fakes.hpp"
#include "support/text_image.hpp"

namespace {

using namespace koc::lineextract;

using test::Owned;

struct Extraction {
    koc_lineExtractParams params;
    koc_lineExtractResult result;
    Extraction()
    {
        koc_lineExtractParams_construct(&params);
        koc_lineExtractResult_construct(&result);
        params.useGradientMethod = 0;
    }
    ~Extraction()
    {
        koc_lineExtractResult_destruct(&result);
        koc_lineExtractParams_destruct(&params);
    }
};

double angleDistance(double a, double b)
{
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

TEST(EdgeletProfiles, PeakIsTheLargestAdjacentPair)
{
    const int32_t p[] = {3, 9, 1, 8};
    EXPECT_EQ(12, profilePeak(p, 4));
    EXPECT_EQ(3, profilePeak(p, 1));
    EXPECT_EQ(0, profilePeak(p, 0));
}

// Mass evenly in bins 20..29 of 30: the 90 % window is nine bins, the 98 %
// one all ten, the band stretched from the first is 19..29 and cut to the
// second.
TEST(EdgeletProfiles, BandOfAnEvenBlock)
{
    std::vector<int32_t> p(30, 0);
    for (int i = 20; i <= 29; ++i) p[static_cast<size_t>(i)] = 10;
    int32_t s = 0, e = 0;
    shortestRawMassWindow(p.data(), 30, 0.1, &s, &e);
    EXPECT_EQ(20, s);
    EXPECT_EQ(28, e);
    shortestRawMassWindow(p.data(), 30, 0.02, &s, &e);
    EXPECT_EQ(20, s);
    EXPECT_EQ(29, e);
    int32_t top = 0, bottom = 0;
    edgeletBandBins(p.data(), 30, &top, &bottom);
    EXPECT_EQ(20, top);
    EXPECT_EQ(29, bottom);
}

TEST(EdgeletProfiles, ShortestRawWindowMatchesBruteForce)
{
    uint32_t seed = 11;
    for (int trial = 0; trial < 300; ++trial) {
        const int n = 1 + static_cast<int>(seed % 30);
        std::vector<int32_t> p(static_cast<size_t>(n));
        for (auto& v : p) {
            seed = seed * 1103515245u + 12345u;
            v = (seed >> 9) % 4 == 0 ? 0 : static_cast<int32_t>((seed >> 12) % 300);
        }
        const double q = trial % 2 == 0 ? 0.1 : 0.02;
        int64_t total = 0;
        for (int32_t v : p) total += v;
        const auto target = static_cast<int64_t>(static_cast<double>(total) * (1.0 - q));
        int bestS = 0, bestE = n - 1;
        for (int s = 0; s < n; ++s) {
            int64_t m = 0;
            for (int e = s; e < n; ++e) {
                m += p[static_cast<size_t>(e)];
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
        shortestRawMassWindow(p.data(), n, q, &s, &e);
        ASSERT_EQ(bestS, s) << "trial " << trial;
        ASSERT_EQ(bestE, e) << "trial " << trial;
    }
}

// Edgelets of a real line, projected at several angles, against the same
// sums done per edgelet in doubles (the bins agree except where the
// fixed-point position lands within 1/1024 of a bin boundary).
TEST(EdgeletProjection, MatchesAReferenceAndKeepsAllTheMass)
{
    test::TextLine line;
    line.angleDeg = 4.0;
    Owned image(line.render());
    kip_rowEdgeletSet set;
    ASSERT_EQ(0, kip_rowEdgeletSet_construct(&set));
    kmath_xformLinear frame;
    ASSERT_EQ(0, detectLineEdgelets(&image.img, &set, &frame));
    kstd_rect32 r;
    kip_rowEdgeletSet_getEncloseImageRect(&set, &r);
    int32_t rows = 0;
    kip_rowEdgeletSet_getNumRowSubsets(&set, &rows);
    ASSERT_GT(rows, 10);
    for (const uint16_t theta : {uint16_t{0}, uint16_t{16384 + 728}, uint16_t{32768 + 3640}, uint16_t{60000}}) {
        EdgeletProfile profile;
        ASSERT_EQ(0, projectEdgelets(&set, nullptr, theta, &profile));
        const double a = theta * 2.0 * M_PI / 65536.0;
        const double c = std::round(std::cos(a) * 1024) / 1024, s = std::round(std::sin(a) * 1024) / 1024;
        double lo = 0;
        for (const double x : {0.0, r.width - 1.0})
            for (const double y : {0.0, r.height - 1.0}) lo = std::min(lo, std::floor(x * c + y * s));
        std::vector<int64_t> expected(profile.bins.size(), 0);
        int64_t total = 0, got = 0;
        for (int32_t i = 0; i < rows; ++i) {
            const kip_rowEdgelet* e = nullptr;
            int32_t n = 0;
            kstd_pair32 o;
            kip_rowEdgeletSet_getRowSubsetMinimalConst(&set, i, &e, &n, &o);
            for (int32_t k = 0; k < n; ++k) {
                const double x = o.first + e[k].column - r.x, y = o.second - r.y;
                const auto bin = static_cast<size_t>(std::floor(x * c + y * s) - lo);
                ASSERT_LT(bin, expected.size());
                expected[bin] += e[k].magnitude;
                total += e[k].magnitude;
            }
        }
        for (int32_t v : profile.bins) got += v;
        EXPECT_EQ(total, got) << theta;
        for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i], profile.bins[i]) << theta << " bin " << i;
    }
    kip_rowEdgeletSet_destruct(&set);
}

struct Pose {
    double angle;
    double shear;
};

class EdgeletExtraction : public ::testing::TestWithParam<Pose> {};

// Turned by up to 10 degrees and slanted by up to 20, searched over the
// full ranges: the rotation within 1 degree, the slant within 2, the
// height within a few pixels, and the edgelets kept in the result.
TEST_P(EdgeletExtraction, FindsRotationSlantAndHeight)
{
    test::TextLine line;
    line.width = 360;
    line.height = 140;
    line.originX = 50;
    line.originY = 55;
    line.angleDeg = GetParam().angle;
    line.shearDeg = GetParam().shear;
    Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(8, 8, 344, 124);
    Extraction e;
    e.params.maxLineAngle = 10;
    e.params.maxSkewAngle = 20;
    ASSERT_EQ(0, koc_extractLine(&image.img, &rect, &e.params, &e.result));
    ASSERT_EQ(1, e.result.isLineFound);
    EXPECT_LE(angleDistance(e.result.lineAngle, line.angleDeg), 1.01) << e.result.lineAngle;
    EXPECT_LE(angleDistance(e.result.skewAngle, line.angleDeg + line.shearDeg), 2.01) << e.result.skewAngle;
    EXPECT_NEAR(line.glyphHeight, e.result.lineHeight, 4.0);
    EXPECT_EQ(1u, e.result.polarity);
    int32_t n = 0;
    kip_rowEdgeletSet_getNumEdgelets(&e.result.lineEdgeletRecord->edgelets, &n);
    EXPECT_GT(n, 100);
}

INSTANTIATE_TEST_SUITE_P(Poses, EdgeletExtraction,
                         ::testing::Values(Pose{0.0, 0.0}, Pose{10.0, 0.0}, Pose{-10.0, 0.0}, Pose{0.0, 20.0},
                                           Pose{0.0, -20.0}, Pose{6.0, -12.0}, Pose{-8.0, 15.0}, Pose{3.0, 8.0}));

// The edgelets stay valid only while the line image is the rectified input
// region they were found on.
TEST(EdgeletExtractionRecord, ValidOnlyWhenTheLineImageIsTheRectifiedRegion)
{
    for (const double angle : {0.0, 7.0}) {
        test::TextLine line;
        line.width = 360;
        line.height = 140;
        line.originY = 55;
        line.angleDeg = angle;
        Owned image(line.render());
        const kmath_shapeAffineRect rect = test::boxRect(8, 8, 344, 124);
        Extraction e;
        e.params.maxLineAngle = 10;
        ASSERT_EQ(0, koc_extractLine(&image.img, &rect, &e.params, &e.result));
        int32_t maskBound = 0;
        kimg_imageRle_getIsBound(&e.result.lineMask, &maskBound);
        // An upright line snaps to the input rectangle: no resampling.
        EXPECT_EQ(angle == 0.0 ? 1u : 0u, e.result.lineEdgeletRecord->isValid) << angle;
        EXPECT_EQ(angle == 0.0 ? 0 : 1, maskBound) << angle;
    }
}

TEST(EdgeletExtractionRecord, BlankRegionFindsNoLineAndSixteenBitIsRefused)
{
    Owned blank(test::makeImage8(120, 60, [](int, int) { return 128; }));
    const kmath_shapeAffineRect rect = test::boxRect(4, 4, 110, 50);
    Extraction e;
    e.params.maxLineAngle = 5;
    ASSERT_EQ(0, koc_extractLine(&blank.img, &rect, &e.params, &e.result));
    EXPECT_EQ(-1.0, e.result.lineHeight);
    EXPECT_EQ(0, e.result.isLineFound);
    EXPECT_EQ(1u, e.result.lineEdgeletRecord->isValid);

    test::TextLine line;
    Owned image16(line.render(KIMG_DEPTH_16, 256));
    EXPECT_EQ(KOC_E_NEEDS_GRADIENT_METHOD, koc_extractLine16(&image16.img, &rect, &e.params, &e.result));
    EXPECT_EQ(0, e.result.isLineFound);
}

}  // namespace
