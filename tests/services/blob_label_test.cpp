// The run-based labeller against a breadth-first flood fill written here,
// on random images of both depths, both threshold sides and an offset
// window; plus strictness at the threshold and allocation failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

#include "koc/koc.h"
#include "services/blob_label.hpp"
#include "services/pel_ops.hpp"
#include "support/fakes.hpp"

namespace {

using koc::services::BlobResultSet;
using koc::services::PixelTraits;

struct Image {
    kimg_image h;
    Image() { kimg_image_construct(&h); }
    ~Image() { kimg_image_destruct(&h); }
};

// An image over (x0, y0, w, h) filled by f(i, j) in window-relative coordinates.
template <class Pixel, class F>
void makeImage(Image& im, int32_t x0, int32_t y0, int32_t w, int32_t h, F f)
{
    const kstd_rect32 rect{x0, y0, w, h};
    ASSERT_EQ(0, kimg_image_assignNewRect(&im.h, PixelTraits<Pixel>::kDepth, &rect));
    kimg_window win;
    ASSERT_EQ(0, kimg_window_init(&win, &im.h));
    for (int32_t j = 0; j < h; ++j) {
        for (int32_t i = 0; i < w; ++i) {
            static_cast<Pixel*>(win.pixels)[j * win.pitch + i] = static_cast<Pixel>(f(i, j));
        }
    }
}

struct Component {
    int32_t x0, y0, x1, y1;
    int32_t area = 0;
    int64_t greySum = 0;
};

// Labels (window-relative, -1 = background) and components in the order a
// raster scan first meets them.
std::vector<Component> floodFill(const std::vector<int32_t>& value, const std::vector<bool>& fg, int32_t w,
                                 int32_t h, std::vector<int32_t>& label)
{
    std::vector<Component> out;
    label.assign(value.size(), -1);
    for (int32_t start = 0; start < w * h; ++start) {
        if (!fg[static_cast<size_t>(start)] || label[static_cast<size_t>(start)] >= 0) {
            continue;
        }
        const auto id = static_cast<int32_t>(out.size());
        Component c{start % w, start / w, start % w, start / w};
        std::deque<int32_t> queue{start};
        label[static_cast<size_t>(start)] = id;
        while (!queue.empty()) {
            const int32_t p = queue.front();
            queue.pop_front();
            const int32_t x = p % w, y = p / w;
            c.x0 = std::min(c.x0, x);
            c.x1 = std::max(c.x1, x);
            c.y0 = std::min(c.y0, y);
            c.y1 = std::max(c.y1, y);
            ++c.area;
            c.greySum += value[static_cast<size_t>(p)];
            for (int32_t dy = -1; dy <= 1; ++dy) {
                for (int32_t dx = -1; dx <= 1; ++dx) {
                    const int32_t nx = x + dx, ny = y + dy;
                    const int32_t q = ny * w + nx;
                    if (nx >= 0 && nx < w && ny >= 0 && ny < h && fg[static_cast<size_t>(q)] &&
                        label[static_cast<size_t>(q)] < 0) {
                        label[static_cast<size_t>(q)] = id;
                        queue.push_back(q);
                    }
                }
            }
        }
        out.push_back(c);
    }
    return out;
}

template <class Pixel>
class BlobLabel : public ::testing::Test {};
using Depths = ::testing::Types<uint8_t, uint16_t>;
TYPED_TEST_SUITE(BlobLabel, Depths);

TYPED_TEST(BlobLabel, MatchesFloodFillOnRandomImages)
{
    using Pixel = TypeParam;
    constexpr int32_t kT = PixelTraits<Pixel>::kCentre;
    std::mt19937 rng(21);
    for (int trial = 0; trial < 120; ++trial) {
        // Some rows past two 64-pixel words, to cross word ends and chunk tails.
        const int32_t w = 1 + static_cast<int32_t>(rng() % (trial % 3 == 2 ? 200 : 70));
        const int32_t h = 1 + static_cast<int32_t>(rng() % 25);
        const double density = 0.15 + 0.1 * (trial % 6);
        const uint32_t flag = trial % 2;
        std::bernoulli_distribution on(density);
        std::vector<int32_t> value(static_cast<size_t>(w * h));
        std::vector<bool> fg(value.size());
        for (size_t k = 0; k < value.size(); ++k) {
            const bool inside = on(rng);
            // Foreground strictly beyond the threshold; the threshold itself is background.
            const int32_t offset = 1 + static_cast<int32_t>(rng() % 90);
            const int32_t beyond = flag == 1 ? kT - offset : kT + offset;
            value[k] = inside ? beyond : (rng() % 4 == 0 ? kT : (flag == 1 ? kT + offset - 1 : kT - offset + 1));
            fg[k] = inside;
        }
        Image im;
        makeImage<Pixel>(im, 7, -3, w, h, [&](int32_t i, int32_t j) { return value[static_cast<size_t>(j * w + i)]; });
        std::vector<int32_t> refLabel;
        const auto ref = floodFill(value, fg, w, h, refLabel);

        BlobResultSet set;
        ASSERT_EQ(0, koc::services::labelBlobs<Pixel>(&im.h, kT, flag, &set));
        SCOPED_TRACE(::testing::Message() << "trial " << trial << " " << w << "x" << h);
        ASSERT_EQ(ref.size(), set.blobs.size());
        std::vector<int32_t> label(value.size(), -1);
        for (size_t b = 0; b < ref.size(); ++b) {
            const auto& blob = set.blobs[b];
            const auto& c = ref[b];
            EXPECT_EQ(7 + c.x0, blob.rect.x);
            EXPECT_EQ(-3 + c.y0, blob.rect.y);
            EXPECT_EQ(c.x1 - c.x0 + 1, blob.rect.width);
            EXPECT_EQ(c.y1 - c.y0 + 1, blob.rect.height);
            EXPECT_EQ(c.area, blob.area);
            EXPECT_EQ(c.greySum, blob.greySum);
            int32_t previousY = INT32_MIN, previousEnd = INT32_MIN;
            for (int32_t r = blob.firstRun; r < blob.firstRun + blob.runCount; ++r) {
                const auto& run = set.runs[static_cast<size_t>(r)];
                // Top to bottom, left to right, not touching within a row.
                ASSERT_TRUE(run.y > previousY || (run.y == previousY && run.x > previousEnd));
                previousEnd = run.x + run.length;
                previousY = run.y;
                for (int32_t x = run.x; x < run.x + run.length; ++x) {
                    label[static_cast<size_t>((run.y + 3) * w + (x - 7))] = static_cast<int32_t>(b);
                }
            }
        }
        EXPECT_EQ(refLabel, label);

        // The border-touching area without blob records: the flood fill's
        // components on two or more window sides.
        double refArea = 0.0;
        for (const auto& c : ref) {
            refArea += ((c.x0 == 0) + (c.y0 == 0) + (c.x1 == w - 1) + (c.y1 == h - 1)) >= 2 ? c.area : 0;
        }
        double area = -1.0;
        ASSERT_EQ(0, koc::services::borderComponentArea<Pixel>(&im.h, kT, flag, &area));
        EXPECT_EQ(refArea, area);
        // Both sides at once give what one side at a time gives.
        double otherSide = -1.0;
        ASSERT_EQ(0, koc::services::borderComponentArea<Pixel>(&im.h, kT, 1 - flag, &otherSide));
        double above = -1.0, below = -1.0;
        ASSERT_EQ(0, koc::services::borderComponentAreas<Pixel>(&im.h, kT, kT, &above, &below));
        EXPECT_EQ(flag == 1 ? refArea : otherSide, below);
        EXPECT_EQ(flag == 1 ? otherSide : refArea, above);

        // Both sides at the thresholds the polarity decision uses, one step
        // either side of the centre, so that the centre value is on both.
        auto borderArea = [&](auto beyond) {
            std::vector<bool> side(value.size());
            for (size_t k = 0; k < value.size(); ++k) {
                side[k] = beyond(value[k]);
            }
            std::vector<int32_t> unused;
            double sum = 0.0;
            for (const auto& c : floodFill(value, side, w, h, unused)) {
                sum += ((c.x0 == 0) + (c.y0 == 0) + (c.x1 == w - 1) + (c.y1 == h - 1)) >= 2 ? c.area : 0;
            }
            return sum;
        };
        ASSERT_EQ(0, koc::services::borderComponentAreas<Pixel>(&im.h, kT - 1, kT + 1, &above, &below));
        EXPECT_EQ(borderArea([](int32_t v) { return v > kT - 1; }), above);
        EXPECT_EQ(borderArea([](int32_t v) { return v < kT + 1; }), below);
    }
}

TEST(BlobLabelCases, DiagonalNeighboursJoinAndTheThresholdLevelIsBackground)
{
    // A checkerboard of 200s on 128s: 8-connected, one blob; at threshold 128
    // the 128s belong to neither side.
    Image im;
    makeImage<uint8_t>(im, 0, 0, 6, 5, [](int32_t i, int32_t j) { return (i + j) % 2 == 0 ? 200 : 128; });
    BlobResultSet above, below;
    ASSERT_EQ(0, koc::services::labelBlobs<uint8_t>(&im.h, 128, koc::services::kBlobsAboveThreshold, &above));
    ASSERT_EQ(0, koc::services::labelBlobs<uint8_t>(&im.h, 128, koc::services::kBlobsBelowThreshold, &below));
    ASSERT_EQ(1u, above.blobs.size());
    EXPECT_EQ(15, above.blobs[0].area);
    EXPECT_TRUE(below.blobs.empty());
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, koc::services::labelBlobs<uint8_t>(&im.h, 128, 2, &below));
}

TYPED_TEST(BlobLabel, ThresholdsOutsideThePixelRangeTakeEveryPixelOrNone)
{
    using Pixel = TypeParam;
    constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
    Image im;
    makeImage<Pixel>(im, 0, 0, 19, 3, [](int32_t i, int32_t j) { return (i * 7 + j) % 3 == 0 ? 0 : kMax; });
    const struct {
        int32_t threshold;
        uint32_t flag;
        size_t blobs;
        int32_t area;
    } cases[] = {
        {-1, koc::services::kBlobsAboveThreshold, 1, 57}, {kMax, koc::services::kBlobsAboveThreshold, 0, 0},
        {kMax + 1, koc::services::kBlobsBelowThreshold, 1, 57}, {0, koc::services::kBlobsBelowThreshold, 0, 0},
    };
    for (const auto& c : cases) {
        BlobResultSet set;
        ASSERT_EQ(0, koc::services::labelBlobs<Pixel>(&im.h, c.threshold, c.flag, &set));
        ASSERT_EQ(c.blobs, set.blobs.size()) << c.threshold;
        if (c.blobs != 0) {
            EXPECT_EQ(c.area, set.blobs[0].area);
        }
        double area = -1.0;
        ASSERT_EQ(0, koc::services::borderComponentArea<Pixel>(&im.h, c.threshold, c.flag, &area));
        EXPECT_EQ(static_cast<double>(c.area), area);
    }
}

TEST(BlobLabelCases, FailedAllocationReturnsTheCodeAndLeaksNothing)
{
    std::mt19937 rng(4);
    Image im;
    makeImage<uint8_t>(im, 0, 0, 30, 20, [&](int32_t, int32_t) { return rng() % 3 == 0 ? 250 : 10; });
    for (long failAt = 0;; ++failAt) {
        test::FailingAllocator alloc(failAt);
        int32_t rc = 0;
        {
            BlobResultSet set;
            rc = koc::services::labelBlobs<uint8_t>(&im.h, 128, 0, &set);
        }
        EXPECT_EQ(0, alloc.liveBlocks()) << "failAt=" << failAt;
        if (!alloc.failed()) {
            EXPECT_EQ(0, rc);
            break;
        }
        EXPECT_EQ(alloc.failureCode(), rc) << "failAt=" << failAt;
    }
}

}  // namespace
