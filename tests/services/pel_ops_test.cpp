// Pixel statistics, maps, box filters and histogram statistics against
// naive references written here: direct loops over image coordinates, kernel
// sums over clamped coordinates, and every cut point of a histogram. Images
// have an offset window narrower than their pixels, so a wrong origin or
// pitch shows up. 8 and 16 bit share every kernel test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "koc/koc.h"
#include "services/local_filter.hpp"
#include "services/pel_ops.hpp"
#include "support/fakes.hpp"

namespace {

using test::Image;

using koc::services::PixelTraits;

template <class Pixel>
Pixel at(const kimg_image& im, int32_t x, int32_t y)
{
    kimg_windowConst w;
    EXPECT_EQ(0, kimg_windowConst_init(&w, &im));
    return static_cast<const Pixel*>(w.pixels)[(y - w.y) * w.pitch + (x - w.x)];
}

// Random pixels over a store larger than the window (-1, 4, w, h).
template <class Pixel>
void makeRandom(Image& im, int32_t w, int32_t h, std::mt19937& rng)
{
    const kstd_rect32 store{-3, 2, w + 6, h + 4};
    ASSERT_EQ(0, kimg_image_assignNewRect(&im.h, PixelTraits<Pixel>::kDepth, &store));
    kimg_window all;
    ASSERT_EQ(0, kimg_window_init(&all, &im.h));
    std::uniform_int_distribution<int32_t> value(0, PixelTraits<Pixel>::kMax);
    for (int32_t j = 0; j < all.height; ++j) {
        for (int32_t i = 0; i < all.width; ++i) {
            static_cast<Pixel*>(all.pixels)[j * all.pitch + i] = static_cast<Pixel>(value(rng));
        }
    }
    const kstd_rect32 window{-1, 4, w, h};
    ASSERT_EQ(0, kimg_image_setWindowRect(&im.h, &window, 0));
}

template <class Pixel>
class PelOps : public ::testing::Test {};
using Depths = ::testing::Types<uint8_t, uint16_t>;
TYPED_TEST_SUITE(PelOps, Depths);

TYPED_TEST(PelOps, StatisticsMatchDirectLoops)
{
    using Pixel = TypeParam;
    std::mt19937 rng(11);
    Image im;
    makeRandom<Pixel>(im, 23, 9, rng);
    std::vector<uint32_t> hist(PixelTraits<Pixel>::kLevels, 7u);  // stale content must be cleared
    ASSERT_EQ(0, koc::services::pelHistogram<Pixel>(&im.h, hist.data()));
    uint64_t n = 0, sum = 0, sumSq = 0;
    ASSERT_EQ(0, koc::services::pelSumAndSumSq<Pixel>(&im.h, &n, &sum, &sumSq));
    Pixel lo = 0, hi = 0;
    ASSERT_EQ(0, koc::services::pelMinMax<Pixel>(&im.h, &lo, &hi));

    std::vector<uint32_t> refHist(PixelTraits<Pixel>::kLevels, 0u);
    uint64_t refSum = 0, refSumSq = 0;
    Pixel refLo = at<Pixel>(im.h, -1, 4), refHi = refLo;
    for (int32_t y = 4; y < 13; ++y) {
        for (int32_t x = -1; x < 22; ++x) {
            const Pixel v = at<Pixel>(im.h, x, y);
            ++refHist[v];
            refSum += v;
            refSumSq += uint64_t{v} * v;
            refLo = std::min(refLo, v);
            refHi = std::max(refHi, v);
        }
    }
    EXPECT_EQ(refHist, hist);
    EXPECT_EQ(23u * 9u, n);
    EXPECT_EQ(refSum, sum);
    EXPECT_EQ(refSumSq, sumSq);
    EXPECT_EQ(refLo, lo);
    EXPECT_EQ(refHi, hi);
}

// A long row of the top level: the vector sums of squares must not wrap
// their 32-bit lanes (a row of 2^18 pixels of 255 would).
TEST(PelOps8, SumOfSquaresOfALongBrightRowIsExact)
{
    Image im;
    const int32_t width = 300001;
    ASSERT_EQ(0, kimg_image_assignNew(&im.h, KIMG_DEPTH_8, width, 1));
    kimg_window all;
    ASSERT_EQ(0, kimg_window_init(&all, &im.h));
    std::fill_n(static_cast<uint8_t*>(all.pixels), width, uint8_t{255});
    uint64_t n = 0, sum = 0, sumSq = 0;
    ASSERT_EQ(0, koc::services::pelSumAndSumSq<uint8_t>(&im.h, &n, &sum, &sumSq));
    EXPECT_EQ(uint64_t{width} * 255u, sum);
    EXPECT_EQ(uint64_t{width} * 255u * 255u, sumSq);
}

template <class Pixel>
class PelLocalFilter : public ::testing::Test {};
TYPED_TEST_SUITE(PelLocalFilter, Depths);

// Kernel values at (x, y): floor(k/2) before, the rest after, coordinates
// clamped into the window (-1, 4, w, h).
template <class Pixel>
std::vector<double> kernelValues(const kimg_image& im, int32_t w, int32_t h, int32_t x, int32_t y, int32_t kw,
                                 int32_t kh)
{
    std::vector<double> v;
    for (int32_t dy = -(kh / 2); dy < kh - kh / 2; ++dy) {
        for (int32_t dx = -(kw / 2); dx < kw - kw / 2; ++dx) {
            const int32_t cx = std::clamp(x + dx, -1, -1 + w - 1);
            const int32_t cy = std::clamp(y + dy, 4, 4 + h - 1);
            v.push_back(at<Pixel>(im, cx, cy));
        }
    }
    return v;
}

TYPED_TEST(PelLocalFilter, MeanDeviationAndCentringMatchDirectKernelSums)
{
    using Pixel = TypeParam;
    // Wide enough for two of the 8-bit centring's sixteen-pixel steps and a tail.
    constexpr int32_t kW = 37, kH = 8;
    constexpr int32_t kCentre = PixelTraits<Pixel>::kCentre;
    std::mt19937 rng(3);
    Image im;
    makeRandom<Pixel>(im, kW, kH, rng);
    const std::pair<int32_t, int32_t> kernels[] = {{1, 1}, {2, 3}, {4, 4}, {5, 1}, {3, 7}, {19, 11}};
    for (const auto& [kw, kh] : kernels) {
        Image mean, dev, mean2, centred;
        int32_t scale = 0;
        ASSERT_EQ(0, koc::services::pelLocalMeanAndStdDev<Pixel>(&im.h, kw, kh, &mean.h, &dev.h, &scale));
        ASSERT_EQ(0, koc::services::pelLocalMean<Pixel>(&im.h, kw, kh, &mean2.h));
        ASSERT_EQ(0, koc::services::pelSubLocalMeanAddCentre<Pixel>(&im.h, kw, kh, &centred.h));
        EXPECT_EQ(65536, scale);
        for (int32_t y = 4; y < 4 + kH; ++y) {
            for (int32_t x = -1; x < -1 + kW; ++x) {
                const auto values = kernelValues<Pixel>(im.h, kW, kH, x, y, kw, kh);
                const double n = static_cast<double>(values.size());
                double sum = 0.0;
                for (double v : values) {
                    sum += v;
                }
                const double exactMean = sum / n;
                double ss = 0.0;
                for (double v : values) {
                    ss += (v - exactMean) * (v - exactMean);
                }
                const auto m = static_cast<int32_t>(std::floor(exactMean + 0.5));  // halves up
                SCOPED_TRACE(::testing::Message() << kw << "x" << kh << " at " << x << "," << y);
                ASSERT_EQ(m, at<Pixel>(mean.h, x, y));
                ASSERT_EQ(m, at<Pixel>(mean2.h, x, y));
                // The nearest integer to the deviation; only summation order can move it.
                ASSERT_NEAR(std::sqrt(ss / n), at<Pixel>(dev.h, x, y), 0.5 + 1e-9);
                const int32_t c = std::clamp(at<Pixel>(im.h, x, y) - m + kCentre, 0, PixelTraits<Pixel>::kMax);
                ASSERT_EQ(c, at<Pixel>(centred.h, x, y));
            }
        }
    }
}

// ---- histogram statistics ----

std::vector<uint32_t> randomHistogram(std::mt19937& rng, int32_t levels, int shape)
{
    std::vector<uint32_t> h(static_cast<size_t>(levels), 0u);
    std::uniform_int_distribution<int32_t> level(0, levels - 1);
    switch (shape) {
    case 0:  // a few spikes
        for (int k = 0; k < 2 + static_cast<int>(rng() % 4); ++k) {
            h[static_cast<size_t>(level(rng))] += 1 + rng() % 1000;
        }
        break;
    case 1: {  // two bumps
        std::normal_distribution<double> a(levels * 0.3, levels * 0.05), b(levels * 0.7, levels * 0.08);
        for (int k = 0; k < 3000; ++k) {
            const double v = (k % 3 == 0) ? a(rng) : b(rng);
            ++h[static_cast<size_t>(std::clamp(static_cast<int32_t>(v), 0, levels - 1))];
        }
        break;
    }
    default:  // dense noise
        for (auto& c : h) {
            c = rng() % 50;
        }
    }
    return h;
}

struct ClassStats {
    long double n = 0, mean = 0, sd = 0;
};

ClassStats classOf(const std::vector<uint32_t>& h, int32_t from, int32_t to)
{
    ClassStats c;
    long double s = 0;
    for (int32_t v = from; v < to; ++v) {
        c.n += h[static_cast<size_t>(v)];
        s += static_cast<long double>(h[static_cast<size_t>(v)]) * v;
    }
    if (c.n == 0) {
        return c;
    }
    c.mean = s / c.n;
    long double d = 0;
    for (int32_t v = from; v < to; ++v) {
        d += h[static_cast<size_t>(v)] * (v - c.mean) * (v - c.mean);
    }
    c.sd = std::sqrt(d / c.n);
    return c;
}

class ThreshFromHistogram : public ::testing::TestWithParam<int32_t> {};

TEST_P(ThreshFromHistogram, CutReachesTheBestBetweenClassVarianceOfAllCutPoints)
{
    const int32_t levels = GetParam();
    std::mt19937 rng(static_cast<uint32_t>(levels));
    for (int trial = 0; trial < 60; ++trial) {
        const auto h = randomHistogram(rng, levels, trial % 3);
        // Every cut t (lower class: levels below t), scored with prefix sums.
        std::vector<long double> n0(static_cast<size_t>(levels) + 1, 0), s0(static_cast<size_t>(levels) + 1, 0);
        for (int32_t v = 0; v < levels; ++v) {
            n0[static_cast<size_t>(v) + 1] = n0[static_cast<size_t>(v)] + h[static_cast<size_t>(v)];
            s0[static_cast<size_t>(v) + 1] = s0[static_cast<size_t>(v)] + static_cast<long double>(h[static_cast<size_t>(v)]) * v;
        }
        const long double n = n0.back(), s = s0.back();
        const auto score = [&](int32_t t) -> long double {
            const long double a = n0[static_cast<size_t>(t)], b = n - a;
            if (a == 0 || b == 0) {
                return -1;
            }
            const long double d = s0[static_cast<size_t>(t)] / a - (s - s0[static_cast<size_t>(t)]) / b;
            return a * b * d * d;
        };
        long double best = -1;
        for (int32_t t = 1; t < levels; ++t) {
            best = std::max(best, score(t));
        }
        koc::services::ThresholdResult r;
        ASSERT_EQ(0, koc::services::threshFromHistogram(h.data(), 0, levels, &r));
        SCOPED_TRACE(trial);
        if (best < 0) {
            EXPECT_EQ(0, r.found);
            continue;
        }
        ASSERT_EQ(1, r.found);
        EXPECT_GE(score(r.threshold), best * (1 - 1e-12L));
        // In the middle of the empty gap between the two classes.
        int32_t lastLower = r.threshold - 1, firstUpper = r.threshold;
        while (h[static_cast<size_t>(lastLower)] == 0) --lastLower;
        while (h[static_cast<size_t>(firstUpper)] == 0) ++firstUpper;
        EXPECT_EQ((lastLower + 1 + firstUpper) / 2, r.threshold);
        const ClassStats lo = classOf(h, 0, r.threshold), hi = classOf(h, r.threshold, levels);
        EXPECT_DOUBLE_EQ(static_cast<double>(lo.n), r.lowerCount);
        EXPECT_DOUBLE_EQ(static_cast<double>(hi.n), r.upperCount);
        EXPECT_NEAR(static_cast<double>(lo.mean), r.lowerMean, 1e-9 * levels);
        EXPECT_NEAR(static_cast<double>(hi.mean), r.upperMean, 1e-9 * levels);
        EXPECT_NEAR(static_cast<double>(lo.sd), r.lowerStdDev, 1e-7 * levels);
        EXPECT_NEAR(static_cast<double>(hi.sd), r.upperStdDev, 1e-7 * levels);
    }
}
INSTANTIATE_TEST_SUITE_P(Thresh, ThreshFromHistogram, ::testing::Values(256, 65536));

// One level, or levels outside the range that would make two, leave no cut.
TEST(ThreshFromHistogramCases, OneLevelInTheRangeHasNoThreshold)
{
    std::vector<uint32_t> h(256, 0u);
    koc::services::ThresholdResult r;
    h[100] = 3;
    ASSERT_EQ(0, koc::services::threshFromHistogram(h.data(), 0, 256, &r));
    EXPECT_EQ(0, r.found);
    h[101] = 5;
    ASSERT_EQ(0, koc::services::threshFromHistogram(h.data(), 101, 155, &r));
    EXPECT_EQ(0, r.found);
}

// The tail definition checked directly: at most the share of the weight
// lies strictly beyond each tail level, and more than it at or beyond.
TEST(HistogramTails, LevelsSplitTheMomentWeightAtTheGivenShares)
{
    std::mt19937 rng(9);
    const std::pair<double, double> fractions[] = {{0.0, 0.05}, {0.1, 0.1}, {0.25, 0.5}, {0.0, 0.0}};
    for (int trial = 0; trial < 30; ++trial) {
        const auto h = randomHistogram(rng, 256, trial % 3);
        for (int32_t order = 0; order <= 2; ++order) {
            std::vector<long double> w(256);
            long double total = 0;
            for (int32_t v = 0; v < 256; ++v) {
                w[static_cast<size_t>(v)] = h[static_cast<size_t>(v)] * std::pow(static_cast<long double>(v), order);
                total += w[static_cast<size_t>(v)];
            }
            for (const auto& [fl, fu] : fractions) {
                int32_t lo = -1, hi = -1;
                ASSERT_EQ(0, koc::services::momentTails(h.data(), 256, fl, fu, order, &lo, &hi));
                long double below = 0, atOrBelow = 0, above = 0, atOrAbove = 0;
                for (int32_t v = 0; v < 256; ++v) {
                    below += v < lo ? w[static_cast<size_t>(v)] : 0;
                    atOrBelow += v <= lo ? w[static_cast<size_t>(v)] : 0;
                    above += v > hi ? w[static_cast<size_t>(v)] : 0;
                    atOrAbove += v >= hi ? w[static_cast<size_t>(v)] : 0;
                }
                SCOPED_TRACE(::testing::Message() << "trial " << trial << " order " << order << " " << fl << "/" << fu);
                EXPECT_LE(below, fl * total * (1 + 1e-12L));
                EXPECT_GT(atOrBelow, fl * total * (1 - 1e-12L));
                EXPECT_LE(above, fu * total * (1 + 1e-12L));
                EXPECT_GT(atOrAbove, fu * total * (1 - 1e-12L));
            }
        }
    }
}

TEST(HistogramTails, NoWeightMeansNoTail)
{
    std::vector<uint32_t> h(256, 0u);
    int32_t lo = 7, hi = 7;
    EXPECT_EQ(KOC_E_HISTOGRAM_NO_TAIL, koc::services::momentTails(h.data(), 256, 0.0, 0.05, 2, &lo, &hi));
    EXPECT_EQ(0, lo);
    EXPECT_EQ(0, hi);
    h[0] = 100;  // all pixels at level 0 carry no second-moment weight
    EXPECT_EQ(KOC_E_HISTOGRAM_NO_TAIL, koc::services::momentTails(h.data(), 256, 0.0, 0.05, 2, &lo, &hi));
}

}  // namespace
