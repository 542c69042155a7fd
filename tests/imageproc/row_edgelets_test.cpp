// row_edgelets_test.cpp: the magnitude-and-direction detector against
// floating-point references, row edgelets on step edges and thin strokes,
// the detector against a naive suppression written here, the filter, and
// failures that leave the set reset.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "imageproc/edge_detect.hpp"
#include "koc/koc.h"
#include "support/fakes.hpp"

namespace kip = koc::imageproc;

namespace {

struct Image {
    kimg_image h;
    Image() { kimg_image_construct(&h); }
    template <class F>
    Image(int32_t w, int32_t hgt, F f) : h(test::makeImage8(w, hgt, f)) {}
    ~Image() { kimg_image_destruct(&h); }
    int at(int32_t x, int32_t y) const
    {
        kimg_windowConst w;
        kimg_windowConst_init(&w, &h);
        return static_cast<const uint8_t*>(w.pixels)[(y - w.y) * w.pitch + (x - w.x)];
    }
};

struct Set {
    kip_rowEdgeletSet s{};
    Set() { kip_rowEdgeletSet_construct(&s); }
    ~Set() { kip_rowEdgeletSet_destruct(&s); }
    int32_t count() const
    {
        int32_t n = -1;
        kip_rowEdgeletSet_getNumEdgelets(&s, &n);
        return n;
    }
    struct Row {
        int32_t x, y;
        std::vector<kip_rowEdgelet> e;
    };
    std::vector<Row> rows() const
    {
        int32_t n = 0;
        kip_rowEdgeletSet_getNumRowSubsets(&s, &n);
        std::vector<Row> out;
        for (int32_t i = 0; i < n; ++i) {
            const kip_rowEdgelet* e = nullptr;
            int32_t c = 0;
            kstd_pair32 o;
            kip_rowEdgeletSet_getRowSubsetMinimalConst(&s, i, &e, &c, &o);
            out.push_back({o.first, o.second, std::vector<kip_rowEdgelet>(e, e + c)});
        }
        return out;
    }
};

kip_rowEdgeletParams paramsOf(int32_t mode, double threshold)
{
    kip_rowEdgeletParams p;
    kip_rowEdgeletParams_construct(&p);
    p.kernelMode = mode;
    p.edgeParams.magnitudeThreshold = threshold;
    return p;
}

int32_t detectFromImage(const kimg_image& image, int32_t mode, Set* set)
{
    Image mag, dir;
    const int32_t rc = kip_edgeDetectMagAng8_8(&image, &mag.h, &dir.h);
    if (rc < 0) return rc;
    const kip_rowEdgeletParams p = paramsOf(mode, 3.0);
    return kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &p, &set->s);
}

TEST(EdgeDetectPieces, MagnitudeAndDirectionMatchFloatingPoint)
{
    for (uint32_t v : {0u, 1u, 3u, 4u, 99u, 100u, 65535u, 65536u, 2080800u, 4294967295u}) {
        const auto r = static_cast<uint64_t>(kip::integerSqrt(v));
        EXPECT_LE(r * r, v);
        EXPECT_GT((r + 1) * (r + 1), v);
    }
    for (int32_t gy = -1020; gy <= 1020; gy += 17) {
        for (int32_t gx = -1020; gx <= 1020; gx += 13) {
            const double m = std::floor(std::sqrt(double(gx) * gx + double(gy) * gy));
            EXPECT_EQ(std::min(255, (int(m) + 2) >> 2), kip::gradientMagnitude8(gx, gy));
            if (gx == 0 && gy == 0) continue;
            const double a = std::atan2(double(gy), double(gx)) * 128.0 / M_PI;
            const int expected = int(std::lround(a)) & 255;
            const int got = kip::gradientDirection8(gx, gy);
            // Off by one only where the angle lies within a hair of a half unit.
            if (got != expected) {
                EXPECT_NEAR(0.5, std::fabs(a - std::floor(a)), 1e-4) << gx << "," << gy;
            }
        }
    }
    EXPECT_EQ(0, kip::gradientDirection8(0, 0));
    EXPECT_EQ(64, kip::gradientDirection8(0, 5));
    EXPECT_EQ(128, kip::gradientDirection8(-5, 0));
    EXPECT_EQ(224, kip::gradientDirection8(7, -7));
}

// A vertical step in either polarity, in an image whose window does not
// start at the store's origin: one edgelet per row, on the bright side's
// first column (of the two equal Sobel maxima the one ahead along the
// gradient wins), pointing from dark to bright, in both kernel modes.
TEST(RowEdgelets, VerticalStepGivesOneEdgeletPerRow)
{
    for (const bool darkLeft : {true, false}) {
        for (const int32_t mode : {1, 2}) {
            Image image(24, 12, [&](int x, int) { return (x < 11) == darkLeft ? 40 : 210; });
            const kstd_rect32 window{2, 1, 20, 10};
            ASSERT_EQ(0, kimg_image_setWindowRect(&image.h, &window, 0));
            Set set;
            ASSERT_EQ(0, detectFromImage(image.h, mode, &set));
            const auto rows = set.rows();
            ASSERT_EQ(8u, rows.size());  // the window's rows but its first and last
            for (size_t i = 0; i < rows.size(); ++i) {
                EXPECT_EQ(3, rows[i].x);
                EXPECT_EQ(int32_t(2 + i), rows[i].y);
                ASSERT_EQ(1u, rows[i].e.size()) << "row " << i;
                EXPECT_EQ(darkLeft ? 11 : 10, rows[i].x + rows[i].e[0].column);
                EXPECT_EQ(darkLeft ? 0 : 128, rows[i].e[0].direction);
                EXPECT_EQ(170, rows[i].e[0].magnitude);
            }
            kstd_rect32 r;
            kip_rowEdgeletSet_getEncloseImageRect(&set.s, &r);
            EXPECT_EQ(darkLeft ? 11 : 10, r.x);
            EXPECT_EQ(2, r.y);
            EXPECT_EQ(1, r.width);
            EXPECT_EQ(8, r.height);
        }
    }
}

TEST(RowEdgelets, FlatImageAndTinyWindowsGiveNone)
{
    Image flat(30, 20, [](int, int) { return 90; });
    Set set;
    ASSERT_EQ(0, detectFromImage(flat.h, 1, &set));
    EXPECT_EQ(0, set.count());
    int32_t rows = -1;
    kip_rowEdgeletSet_getNumRowSubsets(&set.s, &rows);
    EXPECT_EQ(0, rows);
    kstd_rect32 r;
    kip_rowEdgeletSet_getRect(&set.s, &r);
    EXPECT_EQ(28, r.width);

    // Under 3 x 3 in common: success, and the set keeps what it held.
    Image step(10, 10, [](int x, int) { return x < 5 ? 0 : 200; });
    ASSERT_EQ(0, detectFromImage(step.h, 1, &set));
    const int32_t before = set.count();
    ASSERT_GT(before, 0);
    Image mag(10, 2, [](int, int) { return 50; }), dir(10, 2, [](int, int) { return 0; });
    const kip_rowEdgeletParams p = paramsOf(1, 3.0);
    EXPECT_EQ(0, kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &p, &set.s));
    EXPECT_EQ(before, set.count());
}

// Hand-made magnitude rows (direction 0 everywhere but where stated): only
// maxima along the gradient survive; of a plateau of two, the one ahead.
TEST(RowEdgelets, SuppressionKeepsOnlyMaximaAlongTheGradient)
{
    const std::vector<int> row = {0, 5, 10, 20, 10, 5, 0, 30, 30, 0, 7, 6, 9, 0};
    const auto w = static_cast<int32_t>(row.size());
    Image mag(w, 3, [&](int x, int y) { return y == 1 ? row[size_t(x)] : 0; });
    Image dir(w, 3, [](int, int) { return 0; });
    const kip_rowEdgeletParams p = paramsOf(2, 3.0);
    Set set;
    ASSERT_EQ(0, kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &p, &set.s));
    const auto rows = set.rows();
    ASSERT_EQ(1u, rows.size());
    std::vector<int> columns;
    for (const auto& e : rows[0].e) columns.push_back(rows[0].x + e.column);
    EXPECT_EQ((std::vector<int>{3, 8, 10, 12}), columns);
}

// Two equal magnitudes whose gradients point at each other (the two sides
// of a thin stroke): plain suppression drops both, mode 1 keeps both.
TEST(RowEdgelets, OppositeDirectionExceptionKeepsBothSidesOfAThinStroke)
{
    Image mag(8, 3, [](int x, int y) { return y == 1 && (x == 3 || x == 4) ? 60 : 0; });
    Image dir(8, 3, [](int x, int) { return x == 4 ? 128 : 0; });
    for (const int32_t mode : {1, 2}) {
        const kip_rowEdgeletParams p = paramsOf(mode, 3.0);
        Set set;
        ASSERT_EQ(0, kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &p, &set.s));
        EXPECT_EQ(mode == 1 ? 2 : 0, set.count()) << "mode " << mode;
    }
    // The same pair pointing the same way is one edge: mode 1 keeps one.
    Image same(8, 3, [](int, int) { return 0; });
    const kip_rowEdgeletParams p = paramsOf(1, 3.0);
    Set set;
    ASSERT_EQ(0, kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &same.h, &p, &set.s));
    EXPECT_EQ(1, set.count());
}

// Random magnitude and direction images against the rules written plainly.
TEST(RowEdgelets, DetectorMatchesANaiveReference)
{
    uint32_t seed = 3;
    const auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const auto code = [](int a) { return ((a + 16) >> 5) & 7; };
    const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1}, dy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
    for (int trial = 0; trial < 40; ++trial) {
        const int w = 5 + int(next() % 30), h = 4 + int(next() % 12);
        std::vector<int> m(size_t(w * h)), a(size_t(w * h));
        for (auto& v : m) v = int(next() % 6) * 9;  // few levels: many ties
        for (auto& v : a) v = int(next() % 256);
        const int mode = 1 + trial % 2;
        const double threshold = trial % 3 == 0 ? 0.0 : 17.5;
        Image mag(w, h, [&](int x, int y) { return m[size_t(y * w + x)]; });
        Image dir(w, h, [&](int x, int y) { return a[size_t(y * w + x)]; });
        const kip_rowEdgeletParams p = paramsOf(mode, threshold);
        Set set;
        ASSERT_EQ(0, kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &p, &set.s));
        std::vector<Set::Row> expected;
        for (int y = 1; y < h - 1; ++y) {
            Set::Row row{1, y, {}};
            for (int x = 1; x < w - 1; ++x) {
                const int mc = m[size_t(y * w + x)];
                if (mc < int(std::floor(threshold))) continue;
                const int k = code(a[size_t(y * w + x)]);
                const int fx = x + dx[k], fy = y + dy[k], bx = x - dx[k], by = y - dy[k];
                const int ahead = m[size_t(fy * w + fx)], behind = m[size_t(by * w + bx)];
                const auto opposite = [&](int other) {
                    const int d = std::abs(code(other) - k);
                    return d >= 3 && d <= 5;
                };
                bool keep = ahead < mc && behind <= mc;
                if (!keep && mode == 1)
                    keep = (behind <= mc && opposite(a[size_t(fy * w + fx)])) ||
                           (ahead < mc && opposite(a[size_t(by * w + bx)]));
                if (keep)
                    row.e.push_back({uint16_t(x - 1), uint8_t(mc), uint8_t(a[size_t(y * w + x)])});
            }
            if (!row.e.empty()) expected.push_back(row);
        }
        const auto got = set.rows();
        ASSERT_EQ(expected.size(), got.size()) << "trial " << trial;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(expected[i].y, got[i].y);
            ASSERT_EQ(expected[i].e.size(), got[i].e.size()) << "trial " << trial << " row " << i;
            for (size_t j = 0; j < got[i].e.size(); ++j) {
                EXPECT_EQ(expected[i].e[j].column, got[i].e[j].column);
                EXPECT_EQ(expected[i].e[j].magnitude, got[i].e[j].magnitude);
                EXPECT_EQ(expected[i].e[j].direction, got[i].e[j].direction);
            }
        }
    }
}

TEST(RowEdgelets, FilterDropsWeakEdgeletsAndEmptyRowsAndKeepsTheOrder)
{
    // Rows 1..4 hold magnitudes 10, 40, 10, 40 at columns 2 and 6 (and 25
    // at column 6 of row 3); direction 64 points across the rows.
    const auto magnitude = [](int x, int y) {
        if (y < 1 || y > 4 || (x != 2 && x != 6)) return 0;
        if (y == 3 && x == 6) return 25;
        return y % 2 == 1 ? 10 : 40;
    };
    Image mag(9, 6, magnitude), dir(9, 6, [](int, int) { return 0; });
    const kip_rowEdgeletParams p = paramsOf(2, 3.0);
    Set set;
    ASSERT_EQ(0, kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &p, &set.s));
    ASSERT_EQ(8, set.count());
    ASSERT_EQ(0, kip_rowEdgeletSet_removeLowMagEdgelets(&set.s, 25));
    const auto rows = set.rows();
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ(2, rows[0].y);
    EXPECT_EQ(3, rows[1].y);
    EXPECT_EQ(4, rows[2].y);
    EXPECT_EQ(2u, rows[0].e.size());
    ASSERT_EQ(1u, rows[1].e.size());
    EXPECT_EQ(5, rows[1].e[0].column);
    EXPECT_EQ(5, set.count());
    kstd_rect32 r;
    kip_rowEdgeletSet_getEncloseImageRect(&set.s, &r);
    EXPECT_EQ(2, r.y);
    EXPECT_EQ(3, r.height);

    ASSERT_EQ(0, kip_rowEdgeletSet_removeLowMagEdgelets(&set.s, 256));
    EXPECT_EQ(0, set.count());
    int32_t n = -1;
    kip_rowEdgeletSet_getNumRowSubsets(&set.s, &n);
    EXPECT_EQ(0, n);
}

// Every failure leaves the set reset, with its code unchanged.
TEST(RowEdgeletsFailures, LeaveTheSetReset)
{
    Image step(40, 40, [](int x, int) { return x < 20 ? 0 : 200; });
    Image mag, dir;
    ASSERT_EQ(0, kip_edgeDetectMagAng8_8(&step.h, &mag.h, &dir.h));
    const auto refill = [&](Set& set) {
        const kip_rowEdgeletParams p = paramsOf(1, 3.0);
        ASSERT_EQ(0, kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &p, &set.s));
        ASSERT_GT(set.count(), 0);
    };
    {
        Set set;
        refill(set);
        const kip_rowEdgeletParams bad = paramsOf(3, 3.0);
        EXPECT_EQ(KOC_E_BAD_ARGUMENT, kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &bad, &set.s));
        EXPECT_EQ(0, set.count());
    }
    {
        Set set;
        refill(set);
        test::TrippingAttention trip(0);
        const kip_rowEdgeletParams p = paramsOf(1, 3.0);
        EXPECT_EQ(KOC_E_CANCELLED, kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &p, &set.s));
        EXPECT_EQ(0, set.count());
    }
    for (long failAt = 0;; ++failAt) {
        Set set;
        refill(set);
        test::FailingAllocator alloc(failAt, true);
        const kip_rowEdgeletParams p = paramsOf(1, 3.0);
        const int32_t rc = kip_edgeDetectRowEdgeletsFromMagAng8(&mag.h, &dir.h, &p, &set.s);
        if (!alloc.failed()) {
            EXPECT_EQ(0, rc);
            break;
        }
        EXPECT_EQ(KOC_E_OUT_OF_MEMORY, rc) << failAt;
        EXPECT_EQ(0, set.count()) << failAt;
        ASSERT_LT(failAt, 50);
    }
    Image image16;
    const kstd_rect32 r{0, 0, 10, 10};
    ASSERT_EQ(0, kimg_image_assignNewRect(&image16.h, KIMG_DEPTH_16, &r));
    EXPECT_EQ(KOC_E_IMAGE_DEPTH, kip_edgeDetectMagAng8_8(&image16.h, &mag.h, &dir.h));
    Image unbound;
    EXPECT_EQ(KOC_E_IMAGE_UNBOUND, kip_edgeDetectMagAng8_8(&unbound.h, &mag.h, &dir.h));
}

}  // namespace
