// Blob analysis and element records: the side of the threshold that is
// mark, the shape filter, the slot order of good and rejected elements,
// contrast, the line-mask test (quick and hull paths, on a mask made by the
// run-length image) and the attention cadence.
#include <gtest/gtest.h>

#include <tuple>
#include <type_traits>
#include <vector>

#include "koc/koc.h"
#include "segment/elements.hpp"
#include "segment/segment_internal.hpp"
#include "support/fakes.hpp"

namespace {

using koc::services::BlobResultSet;

// grey(x, y): a grey value, or a bool for mark (0) and ground (255).
template <class F>
BlobResultSet analyse(int32_t w, int32_t h, F grey, koc_charSegmentRunParams p, koc_charSegmentLineResult* line = nullptr)
{
    kimg_image image = test::makeImage8(w, h, [&](int32_t x, int32_t y) {
        const auto g = grey(x, y);
        return std::is_same_v<decltype(g), const bool> ? (g ? 0 : 255) : int(g);
    });
    BlobResultSet blobs;
    EXPECT_EQ(0, koc::segment::runBlobAnalysis(&image, &p, line, nullptr, &blobs));
    kimg_image_destruct(&image);
    return blobs;
}

koc_charSegmentRunParams runParams(uint32_t polarity = 1)
{
    koc_charSegmentRunParams p;
    koc_charSegmentRunParams_construct(&p);
    p.polarity = polarity;
    return p;
}

// Dark marks lie strictly below the threshold (128), light marks at or above.
TEST(BlobAnalysis, ThresholdSideAndLineFields)
{
    for (const auto& [polarity, ground, value, count] :
         {std::tuple(1u, 200, 127, 1u), std::tuple(1u, 200, 128, 0u), std::tuple(2u, 50, 128, 1u),
          std::tuple(2u, 50, 127, 0u)}) {
        koc_charSegmentLineResult line;
        koc_charSegmentLineResult_construct(&line);
        const int dot = value, rest = ground;  // (older compilers capture no structured bindings)
        const auto blobs = analyse(5, 5, [&](int32_t x, int32_t y) { return x == 2 && y == 2 ? dot : rest; },
                                   runParams(polarity), &line);
        EXPECT_EQ(count, blobs.blobs.size()) << polarity << " " << value;
        EXPECT_EQ(1, line.hasBinarizationThreshold);
        EXPECT_EQ(128u, line.binarizationThreshold);
        EXPECT_EQ(polarity == 1 ? 1 : 0, line.thresholdPolarityFlag);
        koc_charSegmentLineResult_destruct(&line);
    }
}

// Defaults: more than 15 times wider than tall, or more than 30 times taller
// than wide, is a rule or scratch.
class BlobShape : public ::testing::TestWithParam<std::tuple<int32_t, int32_t, size_t>> {};

TEST_P(BlobShape, DropsRulesAndScratches)
{
    const auto [w, h, kept] = GetParam();
    const int32_t bw = w, bh = h;  // (older compilers capture no structured bindings)
    const auto blobs = analyse(w + 4, h + 4, [&](int32_t x, int32_t y) { return x >= 2 && y >= 2 && x < bw + 2 && y < bh + 2; },
                               runParams());
    EXPECT_EQ(kept, blobs.blobs.size());
}

INSTANTIATE_TEST_SUITE_P(Table, BlobShape,
                         ::testing::Values(std::tuple(30, 2, 1u), std::tuple(31, 2, 0u), std::tuple(2, 60, 1u),
                                           std::tuple(2, 61, 0u)));

struct Elements {
    kstd_vector_koc_charSegmentElementInfo v;
    int32_t good = -1;
    Elements() { kstd_vector_koc_charSegmentElementInfo_constructEmpty(&v); }
    ~Elements() { kstd_vector_koc_charSegmentElementInfo_destruct(&v); }
    int32_t build(const BlobResultSet& blobs, const kimg_imageRle* mask, const koc_charSegmentRunParams& p,
                  int32_t keepRejected = 1)
    {
        return koc::segment::buildElementsFromBlobs(&blobs, mask, 128, &p, keepRejected, 0, &v, &good);
    }
    std::vector<std::tuple<int32_t, uint32_t>> blobAndFlags()
    {
        koc_charSegmentElementInfo* b = nullptr;
        int32_t n = 0;
        kstd_vector_koc_charSegmentElementInfo_getBeginSize(&v, &b, &n);
        std::vector<std::tuple<int32_t, uint32_t>> out;
        for (int32_t i = 0; i < n; ++i) out.emplace_back(b[i].blobIndex, b[i].flags);
        return out;
    }
};

// Five one-pixel blobs of grey sum 100; 1 and 3 touch the image border.
BlobResultSet fiveBlobs()
{
    BlobResultSet set;
    for (int32_t i = 0; i < 5; ++i) {
        koc::services::Blob b;
        b.rect = {10 * i, 5, 1, 1};
        b.area = 1;
        b.greySum = 100;
        b.isInterior = i % 2 == 0;
        set.blobs.push_back(b);
    }
    return set;
}

TEST(ElementSlots, GoodFirstThenRejectedReversed)
{
    using Order = std::vector<std::tuple<int32_t, uint32_t>>;
    koc_charSegmentRunParams p = runParams();
    Elements all;  // the mask test is off by default and never rejects
    ASSERT_EQ(0, all.build(fiveBlobs(), nullptr, p));
    EXPECT_EQ((Order{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}), all.blobAndFlags());
    EXPECT_EQ(5, all.good);
    p.useLineMaskTest = 1;
    Elements kept, dropped;
    ASSERT_EQ(0, kept.build(fiveBlobs(), nullptr, p));
    EXPECT_EQ((Order{{0, 0}, {2, 0}, {4, 0}, {3, 2}, {1, 2}}), kept.blobAndFlags());
    EXPECT_EQ(3, kept.good);
    ASSERT_EQ(0, dropped.build(fiveBlobs(), nullptr, p, 0));
    EXPECT_EQ((Order{{0, 0}, {2, 0}, {4, 0}}), dropped.blobAndFlags());
}

TEST(ElementSlots, ContrastIsDistanceOfMeanFromThreshold)
{
    BlobResultSet blobs = fiveBlobs();
    blobs.blobs[0].greySum = 128;  // mean equals the threshold
    blobs.blobs[1].area = 2;
    blobs.blobs[1].greySum = 257;  // 128.5
    Elements e;
    ASSERT_EQ(0, e.build(blobs, nullptr, runParams()));
    koc_charSegmentElementInfo* b = nullptr;
    kstd_vector_koc_charSegmentElementInfo_getBegin(&e.v, &b);
    EXPECT_EQ(0, b[0].contrast);
    EXPECT_EQ(1 << 15, b[1].contrast);
    EXPECT_EQ(2, b[1].area);
    EXPECT_EQ(28 << 16, b[2].contrast);
}

// Polls: on entry, before blobs 0 and 32, at the end.
TEST(ElementSlots, AttentionTripReturnsItsCode)
{
    BlobResultSet blobs;
    for (int32_t i = 0; i < 8; ++i) {
        const BlobResultSet five = fiveBlobs();
        blobs.blobs.insert(blobs.blobs.end(), five.blobs.begin(), five.blobs.end());
    }
    for (long trip = 0; trip <= 4; ++trip) {
        test::TrippingAttention attention(trip, KOC_E_CANCELLED);
        Elements e;
        EXPECT_EQ(trip < 4 ? KOC_E_CANCELLED : 0, e.build(blobs, nullptr, runParams())) << trip;
    }
}

// A slanted mask on a 100 x 30 line: mask row r (image row r + 1) runs from
// x = r to r + 59. A rule on row 0 is labelled first and dropped, so the
// hull comes from moved runs.
using MaskCase = std::tuple<const char*, bool (*)(int32_t, int32_t), uint32_t>;

class LineMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(LineMask, RejectsBlobsOnTheMaskBoundary)
{
    const auto [name, isMark, flags] = GetParam();
    const auto mark = isMark;  // (older compilers capture no structured bindings)
    koc_charSegmentRunParams p = runParams();
    p.useLineMaskTest = 1;
    const auto blobs = analyse(100, 30, [&](int32_t x, int32_t y) { return (y == 0 && x >= 60) || mark(x, y); }, p);
    ASSERT_EQ(1u, blobs.blobs.size());
    kimg_imageRle mask;
    kimg_imageRle_construct(&mask);
    const kstd_rect32 rect{0, 1, 100, 28};
    ASSERT_EQ(0, kimg_imageRle_assignEmpty(&mask, &rect));
    for (int32_t r = 0; r < 28; ++r) ASSERT_EQ(0, kimg_imageRle_addRun(&mask, r + 1, r, 60));
    Elements e;
    ASSERT_EQ(0, e.build(blobs, &mask, p));
    EXPECT_EQ(flags, std::get<1>(e.blobAndFlags().at(0))) << name;
    kimg_imageRle_destruct(&mask);
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineMask,
    ::testing::Values(
        MaskCase{"inside (quick)", [](int32_t x, int32_t y) { return x >= 30 && x < 34 && y >= 10 && y < 15; }, 0},
        MaskCase{"left edge", [](int32_t x, int32_t y) { return x >= 10 && x < 14 && y >= 11 && y < 16; }, 2},
        // Three pixels in along the slant: the box pokes past the row
        // below's start, the hull never meets the edge.
        MaskCase{"along the edge", [](int32_t x, int32_t y) { return y >= 11 && y < 16 && x >= y + 2 && x < y + 6; }, 0},
        MaskCase{"one pixel in", [](int32_t x, int32_t y) { return y >= 11 && y < 16 && x >= y && x < y + 4; }, 2},
        MaskCase{"first mask row", [](int32_t x, int32_t y) { return x >= 30 && x < 34 && y >= 1 && y < 4; }, 0},
        MaskCase{"right edge", [](int32_t x, int32_t y) { return x >= 50 && x < 79 && y >= 20 && y < 23; }, 2}));

}  // namespace
