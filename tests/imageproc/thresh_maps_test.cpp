// thresh_maps_test.cpp: within-group-variance thresholds and the hard and
// soft maps: two-level images, nothing to threshold, the soft ramp's shape,
// and argument checks.
#include <limits>
#include <numeric>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "koc/kip_thresh.h"
#include "support/fakes.hpp"

namespace {

using Map = std::vector<uint8_t>;

kip_threshResult found(int32_t t, double lowerMean, double upperMean, double lowerWeight = 0.5)
{
    return {1, t, 1, lowerWeight, lowerMean, 1.0 - lowerWeight, upperMean};
}

TEST(ThreshMaps, TwoLevelImageSplitsBetweenItsLevels)
{
    kimg_image image = test::makeImage8(20, 10, [](int x, int) { return x < 6 ? 50 : 200; });
    for (const int32_t invert : {0, 1}) {
        Map hard(256);
        ASSERT_EQ(0, kip_threshComputeWGVHardMapFromImage(&image, invert, hard.data()));
        EXPECT_EQ(invert ? 255 : 0, hard[50]);
        EXPECT_EQ(invert ? 0 : 255, hard[200]);
        kimg_image out;
        kimg_image_construct(&out);
        ASSERT_EQ(0, kip_threshWGVHardPelMap8(&image, invert, &out));
        kimg_window w;
        kimg_window_init(&w, &out);
        EXPECT_EQ(invert ? 255 : 0, static_cast<uint8_t*>(w.pixels)[0]);
        EXPECT_EQ(invert ? 0 : 255, static_cast<uint8_t*>(w.pixels)[10]);
        kimg_image_destruct(&out);
    }
    uint32_t histogram[256] = {};
    histogram[50] = 60;
    histogram[200] = 140;
    kip_threshParams params;
    kip_threshParams_init(&params);
    params.computeClassStats = 1;
    kip_threshResult r;
    ASSERT_EQ(0, kip_threshComputeWGVThresholdFromHistogram(histogram, 256, 0, 256, &params, &r));
    EXPECT_EQ(1, r.isFound);
    EXPECT_EQ(125, r.threshold);  // the middle of the empty levels 51 .. 199
    EXPECT_EQ(1, r.hasClassStats);
    EXPECT_DOUBLE_EQ(0.3, r.lowerWeight);
    EXPECT_DOUBLE_EQ(50.0, r.lowerMean);
    EXPECT_DOUBLE_EQ(200.0, r.upperMean);
    // The soft map sends the two levels to the ends and the threshold to 128.
    Map soft(256);
    ASSERT_EQ(0, kip_threshWGVSoftPelMap8(&image, &image));  // in place
    kimg_window w;
    kimg_window_init(&w, &image);
    EXPECT_EQ(0, static_cast<uint8_t*>(w.pixels)[0]);
    EXPECT_EQ(255, static_cast<uint8_t*>(w.pixels)[10]);
    kimg_image_destruct(&image);
}

TEST(ThreshMaps, NothingToThresholdGivesIdentityAndAllGround)
{
    kimg_image constant = test::makeImage8(8, 8, [](int, int) { return 90; });
    uint32_t empty[256] = {};
    Map identity(256);
    std::iota(identity.begin(), identity.end(), uint8_t{0});
    Map soft(256), hard(256), inverted(256);
    ASSERT_EQ(0, kip_threshComputeWGVSoftMapFromImage(&constant, soft.data()));
    ASSERT_EQ(0, kip_threshComputeWGVHardMapFromImage(&constant, 0, hard.data()));
    ASSERT_EQ(0, kip_threshComputeWGVHardMapFromImage(&constant, 1, inverted.data()));
    EXPECT_EQ(identity, soft);
    EXPECT_EQ(Map(256, 255), hard);
    EXPECT_EQ(Map(256, 0), inverted);
    soft.assign(256, 7);
    ASSERT_EQ(0, kip_threshComputeWGVSoftMapFromHistogram(empty, 256, 0, 256, soft.data()));
    ASSERT_EQ(0, kip_threshComputeWGVHardMapFromHistogram(empty, 256, 0, 256, 0, hard.data()));
    EXPECT_EQ(identity, soft);
    EXPECT_EQ(Map(256, 255), hard);
    // Two levels, but only one inside the levels considered.
    uint32_t split[256] = {};
    split[10] = 5;
    split[240] = 5;
    ASSERT_EQ(0, kip_threshComputeWGVSoftMapFromHistogram(split, 256, 0, 128, soft.data()));
    EXPECT_EQ(identity, soft);
    kimg_image_destruct(&constant);
}

TEST(ThreshMaps, SoftRampRisesThroughTheThresholdBetweenTheClassMeans)
{
    Map map(256);
    const kip_threshResult r = found(100, 40.4, 180.6);
    ASSERT_EQ(0, kip_threshComputeSoftMapFromResult(&r, map.data()));
    for (int g = 0; g <= 40; ++g) EXPECT_EQ(0, map[g]) << g;
    EXPECT_EQ(2, map[41]);    // round(128 / 60)
    EXPECT_EQ(126, map[99]);  // round(59 * 128 / 60) = round(125.87)
    EXPECT_EQ(128, map[100]);
    EXPECT_EQ(130, map[101]);  // round(128 + 127 / 81) = round(129.57)
    for (int g = 181; g <= 255; ++g) EXPECT_EQ(255, map[g]) << g;
    for (int g = 1; g < 256; ++g) EXPECT_LE(map[g - 1], map[g]) << g;

    // A lower mean at or above the threshold is pulled down to t - 1, an
    // upper mean below it raised to t.
    const kip_threshResult inverted = found(100, 120.0, 90.0);
    ASSERT_EQ(0, kip_threshComputeSoftMapFromResult(&inverted, map.data()));
    EXPECT_EQ(0, map[99]);
    EXPECT_EQ(255, map[100]);
    // Without class statistics, or with an empty class: the hard map.
    kip_threshResult bare = found(100, 40.0, 180.0);
    bare.hasClassStats = 0;
    ASSERT_EQ(0, kip_threshComputeSoftMapFromResult(&bare, map.data()));
    EXPECT_EQ(0, map[99]);
    EXPECT_EQ(255, map[100]);
    const kip_threshResult oneSided = found(100, 40.0, 180.0, 0.0);
    ASSERT_EQ(0, kip_threshComputeSoftMapFromResult(&oneSided, map.data()));
    EXPECT_EQ(255, map[100]);

    // A real image: monotone, 128 at its threshold.
    kimg_image image = test::makeImage8(64, 16, [](int x, int y) { return x < 20 ? 30 + (x * y) % 40 : 150 + (x + y) % 90; });
    ASSERT_EQ(0, kip_threshComputeWGVSoftMapFromImage(&image, map.data()));
    for (int g = 1; g < 256; ++g) EXPECT_LE(map[g - 1], map[g]) << g;
    uint32_t histogram[256] = {};
    kimg_window w;
    kimg_window_init(&w, &image);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x) ++histogram[static_cast<uint8_t*>(w.pixels)[y * w.pitch + x]];
    kip_threshParams params;
    kip_threshParams_init(&params);
    kip_threshResult r2;
    ASSERT_EQ(0, kip_threshComputeWGVThresholdFromHistogram(histogram, 256, 0, 256, &params, &r2));
    ASSERT_EQ(1, r2.isFound);
    EXPECT_EQ(0, r2.hasClassStats);  // not asked for
    EXPECT_EQ(128, map[r2.threshold]);
    kimg_image_destruct(&image);
}

TEST(ThreshMaps, HardMapsAndArgumentChecks)
{
    Map map(256);
    ASSERT_EQ(0, kip_threshCreateHardPelMap8(map.data(), 0, 3, 9));
    EXPECT_EQ(Map(256, 9), map);
    ASSERT_EQ(0, kip_threshCreateHardPelMap8(map.data(), 255, 3, 9));
    EXPECT_EQ(3, map[254]);
    EXPECT_EQ(9, map[255]);
    const kip_threshResult r = found(0x164, 40.0, 180.0);  // the hard map uses the low byte
    ASSERT_EQ(0, kip_threshComputeHardMapFromResult(&r, 0, map.data()));
    EXPECT_EQ(0, map[0x63]);
    EXPECT_EQ(255, map[0x64]);
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, kip_threshComputeSoftMapFromResult(&r, map.data()));
    const kip_threshResult nanMean = found(100, std::numeric_limits<double>::quiet_NaN(), 180.0);
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, kip_threshComputeSoftMapFromResult(&nanMean, map.data()));

    uint32_t histogram[300] = {};
    kip_threshParams params;
    kip_threshParams_init(&params);
    kip_threshResult out;
    for (const auto& [count, first, second] : std::vector<std::tuple<int, int, int>>{
             {257, 0, 256}, {256, -1, 256}, {256, 10, 10}, {256, 0, 257}, {0, 0, 0}}) {
        EXPECT_EQ(KOC_E_BAD_ARGUMENT,
                  kip_threshComputeWGVThresholdFromHistogram(histogram, count, first, second, &params, &out));
    }
    params.method = 2;
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, kip_threshComputeWGVThresholdFromHistogram(histogram, 256, 0, 256, &params, &out));
    kimg_image image16;
    kimg_image_construct(&image16);
    EXPECT_EQ(KOC_E_IMAGE_UNBOUND, kip_threshComputeWGVSoftMapFromImage(&image16, map.data()));
    kimg_image_assignNew(&image16, KIMG_DEPTH_16, 4, 4);
    EXPECT_EQ(KOC_E_IMAGE_DEPTH, kip_threshWGVHardPelMap8(&image16, 0, &image16));
    kimg_image_destruct(&image16);
}

}  // namespace
