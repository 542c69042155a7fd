// Element refinement: the gap rules of the merge, transitive grouping with
// the scan restart, cropping by the heaviest band with re-segmentation of
// the crop, and the whole refinement of a small line.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <vector>

#include "segment/refine.hpp"
#include "support/elements.hpp"
#include "support/fakes.hpp"

namespace {

using Q = test::Q;
using test::ElementVec;
using test::element;
using test::in;
using test::q;


// A line of dark marks (0) on white (255), its blobs in the line data, one
// raw element per blob and the line blob image. No aspect limit unless a
// test sets one.
struct TextLine {
    koc_charSegmentRunParams params;
    koc_charSegmentLineResult line;
    kimg_image image;
    kimg_image blobImage;
    std::vector<koc_charSegmentElementInfo> raw;

    TextLine(int32_t w, int32_t h, const std::function<bool(int32_t, int32_t)>& ink)
        : image(test::makeImage8(w, h, [&](int32_t x, int32_t y) { return ink(x, y) ? 0 : 255; }))
    {
        koc_charSegmentRunParams_construct(&params);
        params.polarity = 1;
        params.limitAspect = 0;
        koc_charSegmentLineResult_construct(&line);
        kimg_image_construct(&blobImage);
        int32_t t = 0;
        auto& blobs = line.lineData->blobResults;
        EXPECT_EQ(0, koc::segment::runBlobAnalysis(&image, &params, nullptr, &t, &blobs));
        ElementVec elements;
        int32_t good = 0;
        EXPECT_EQ(0, koc::segment::buildElementsFromBlobs(&blobs, nullptr, t, &params, 1, 1, &elements.v, &good));
        raw = elements.get();
        koc::services::Vector<int32_t> all;
        for (int32_t i = 0; i < int32_t(blobs.blobs.size()); ++i) all.push_back(i);
        EXPECT_EQ(0, koc::segment::renderLineBlobs(&blobs, all, &blobImage));
    }
    ~TextLine()
    {
        kimg_image_destruct(&blobImage);
        kimg_image_destruct(&image);
        koc_charSegmentLineResult_destruct(&line);
        koc_charSegmentRunParams_destruct(&params);
    }
    koc_charSegmentLineResultData_* data() { return line.lineData; }
};

// Two elements, b placed relative to a (width 10 each): a gap of g columns
// (negative: an overlap), under a gap mode. Widths are limited to 25 so that
// joining across a gap cannot build something wider.
struct GapCase {
    uint32_t mode;
    double fraction;
    int32_t minGap, maxInner;
    int32_t gap;
    int32_t bWidth;
    bool merged;
};

class RefineMergeGap : public ::testing::TestWithParam<GapCase> {};

TEST_P(RefineMergeGap, MergesAccordingToMode)
{
    const GapCase c = GetParam();
    TextLine line(4, 4, [](int32_t, int32_t) { return false; });
    line.params.gapMode = c.mode;
    line.params.refinementFraction = c.fraction;
    line.params.minCharGap = c.minGap;
    line.params.maxInnerGap = c.maxInner;
    line.params.limitCharWidth = 1;
    line.params.maxCharWidth = 25;
    ElementVec v({element({0, 0, 10, 10}, 10), element({10 + c.gap, 0, c.bWidth, 10}, 10)});
    ASSERT_EQ(0, koc::segment::mergeTouchingElements(line.data(), &v.v, &line.params));
    ASSERT_EQ(c.merged ? 1u : 2u, v.get().size());
    if (c.merged && c.gap >= 0) {
        EXPECT_EQ(c.gap, line.data()->minMergedGap);
        EXPECT_EQ(c.gap, line.data()->maxMergedGap);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefineMergeGap,
    ::testing::Values(
        // Mode 1, fraction 0: any overlap of one column merges, touching does not.
        GapCase{1, 0.0, 1, 0, -1, 10, true}, GapCase{1, 0.0, 1, 0, 0, 10, false},
        // Mode 1, fraction 0.5 (128/256) of the narrower width (8): 4 columns.
        GapCase{1, 0.5, 1, 0, -4, 8, true}, GapCase{1, 0.5, 1, 0, -3, 8, false},
        // Mode 2, minCharGap 3: gaps of 0, 1, 2 columns are inner gaps.
        GapCase{2, 0.0, 3, 0, 0, 10, true}, GapCase{2, 0.0, 3, 0, 2, 10, true},
        GapCase{2, 0.0, 3, 0, 3, 10, false},
        // ... unless the union would be wider than a character (2 + 10 + 14 > 25),
        GapCase{2, 0.0, 3, 0, 2, 14, false},
        // while overlapping elements merge whatever their width.
        GapCase{2, 0.0, 3, 0, -1, 30, true},
        // Mode 4: below minCharGap and at most maxInnerGap.
        GapCase{4, 0.0, 5, 2, 2, 10, true}, GapCase{4, 0.0, 5, 2, 3, 10, false},
        GapCase{4, 0.0, 2, 9, 2, 10, false}));

// b touches only c, c touches only a: c joins a, and the restarted scan then
// brings in b, which was passed over before. d stays alone; the groups come
// out sorted by x and numbered by position.
TEST(RefineMerge, JoinsTransitivelyAfterRestart)
{
    TextLine line(4, 4, [](int32_t, int32_t) { return false; });
    const auto d = element({100, 0, 5, 5}, 7);
    const auto a = element({0, 2, 10, 10}, 11);
    const auto b = element({18, 0, 10, 10}, 12);
    const auto c = element({9, 1, 10, 14}, 13);
    ElementVec v({d, a, b, c});
    ASSERT_EQ(0, koc::segment::mergeTouchingElements(line.data(), &v.v, &line.params));
    const auto out = v.get();
    ASSERT_EQ(2u, out.size());
    EXPECT_EQ((Q{0, 0, 28, 15}), q(out[0].rect));
    EXPECT_EQ(36, out[0].area);
    EXPECT_EQ(-1, out[0].contrast);
    EXPECT_EQ(-1, out[0].blobIndex);
    EXPECT_EQ(0, out[0].auxIndex);
    EXPECT_EQ((Q{100, 0, 5, 5}), q(out[1].rect));
    EXPECT_EQ(1, out[1].auxIndex);
}

// The merge finds its joins without scanning the list again after each
// one; it must still join exactly as that scan does. The scan is written
// out plainly here and both run on crowded random lines under every gap
// mode, with a width limit that turns joins down as groups grow.
std::vector<koc_charSegmentElementInfo> mergeByRestartingScan(std::vector<koc_charSegmentElementInfo> e,
                                                             const koc_charSegmentRunParams& p, int32_t largest,
                                                             int32_t* minGap, int32_t* maxGap)
{
    koc::segment::GapLimits lim;
    EXPECT_EQ(0, koc::segment::gapLimits(&p, &lim));
    const auto f8 = int32_t(256.0 * p.refinementFraction + 0.5);
    std::vector<int32_t> group(e.size(), -1);
    std::vector<koc_charSegmentElementInfo> out;
    for (size_t i = 0; i < e.size(); ++i) {
        if (group[i] != -1) continue;
        group[i] = int32_t(out.size());
        auto g = element(e[i].rect, e[i].area);
        g.contrast = -1;
        std::vector<size_t> members{i};
        for (size_t j = i + 1; j < e.size(); ++j) {
            if (group[j] != -1) continue;
            for (const size_t m : members) {
                int32_t gap = 0, merge = 0;
                koc::segment::shouldMergeElements(e[j], e[m], g.rect, p.gapMode, f8, lim.minGap, lim.maxInnerGap,
                                                  largest, &gap, &merge);
                if (merge == 0) continue;
                *minGap = std::min(*minGap, gap);
                *maxGap = std::max(*maxGap, gap);
                group[j] = group[i];
                members.push_back(j);
                kstd_rect32_encloseRect(&g.rect, &e[j].rect);
                g.area += e[j].area;
                j = i;
                break;
            }
        }
        out.push_back(g);
    }
    return out;
}

TEST(RefineMerge, JoinsAsTheRestartingScanDoes)
{
    uint32_t seed = 12345;
    auto next = [&](int32_t n) { seed = seed * 1103515245u + 12345u; return int32_t((seed >> 8) % uint32_t(n)); };
    const std::array<std::array<int32_t, 3>, 4> modes{{{1, 0, 0}, {2, 3, 0}, {4, 4, 2}, {4, 1, 5}}};
    for (int32_t round = 0; round < 120; ++round) {
        TextLine line(4, 4, [](int32_t, int32_t) { return false; });
        const auto& mode = modes[size_t(round) % modes.size()];
        line.params.gapMode = uint32_t(mode[0]);
        line.params.minCharGap = mode[1];
        line.params.maxInnerGap = mode[2];
        line.params.refinementFraction = round % 3 == 0 ? 0.0 : 0.5;
        line.params.limitCharWidth = 1;
        line.params.maxCharWidth = 12 + next(20);
        std::vector<koc_charSegmentElementInfo> e;
        const int32_t n = 5 + next(60);
        for (int32_t k = 0; k < n; ++k) {
            e.push_back(element({next(200), next(30), 1 + next(round % 2 == 0 ? 4 : 14), 1 + next(20)}, 1 + next(50)));
        }
        ElementVec v(e);
        int32_t largest = 0;
        ASSERT_EQ(0, koc::segment::lineMaxCharWidth(&v.v, &line.params, &largest));
        int32_t minGap = line.data()->minMergedGap, maxGap = line.data()->maxMergedGap;
        auto expected = mergeByRestartingScan(e, line.params, largest, &minGap, &maxGap);
        std::stable_sort(expected.begin(), expected.end(),
                         [](const auto& a, const auto& b) { return a.rect.x < b.rect.x; });
        ASSERT_EQ(0, koc::segment::mergeTouchingElements(line.data(), &v.v, &line.params));
        const auto got = v.get();
        ASSERT_EQ(expected.size(), got.size()) << "round " << round;
        for (size_t k = 0; k < got.size(); ++k) {
            EXPECT_EQ(q(expected[k].rect), q(got[k].rect)) << "round " << round << " group " << k;
            EXPECT_EQ(expected[k].area, got[k].area) << "round " << round << " group " << k;
        }
        EXPECT_EQ(minGap, line.data()->minMergedGap) << "round " << round;
        EXPECT_EQ(maxGap, line.data()->maxMergedGap) << "round " << round;
    }
}

// Rows 10..19 hold every mark: the band. T1 reaches below it (keeps its
// top), T2 above it (keeps its bottom, loses 5 rows), and U is two stems
// joined by a bar above the band, which fall apart once cropped.
TEST(RefineCrop, CropsToHeaviestBandAndResegments)
{
    TextLine line(70, 30, [](int32_t x, int32_t y) {
        const bool band = in(y, 10, 19);
        return (band && (in(x, 5, 10) || in(x, 15, 20))) || (in(x, 30, 35) && in(y, 10, 24)) ||
               (in(x, 40, 45) && in(y, 5, 19)) || ((in(x, 50, 52) || in(x, 56, 58)) && in(y, 4, 19)) ||
               (in(x, 50, 58) && in(y, 4, 6));
    });
    line.params.limitCharHeight = 1;
    line.params.maxCharHeight = 10;
    ElementVec v(line.raw);
    int32_t changed = 0;
    ASSERT_EQ(0, koc::segment::cropTallElements(line.data(), &v.v, &line.image, &line.blobImage, &line.params,
                                                &changed));
    EXPECT_EQ(1, changed);
    EXPECT_EQ(3, line.data()->croppedCount);
    EXPECT_EQ((std::vector<Q>{{5, 10, 6, 10}, {15, 10, 6, 10}, {30, 10, 6, 10}, {40, 10, 6, 10}, {50, 10, 3, 10},
                              {56, 10, 3, 10}}),
              v.rects());
    EXPECT_EQ(30, v.get()[4].area);
}

// An "i" (dot over stem) merges into one element; a 25-column block, where
// characters may be 10 wide, is cut evenly into 8, 9 and 8 columns, each
// re-segmented.
TEST(RefineLine, MergesBrokenAndCutsWide)
{
    TextLine line(60, 20, [](int32_t x, int32_t y) {
        return (in(x, 5, 7) && (in(y, 2, 3) || in(y, 6, 15))) || (in(x, 20, 44) && in(y, 6, 15));
    });
    line.params.limitCharWidth = 1;
    line.params.maxCharWidth = 10;
    ElementVec tree;
    ASSERT_EQ(0, koc::segment::refineLineElements(line.data(), line.raw.data(), int32_t(line.raw.size()),
                                                  &line.image, &line.params, &tree.v));
    EXPECT_EQ((std::vector<Q>{{5, 2, 3, 14}, {20, 6, 8, 10}, {28, 6, 9, 10}, {37, 6, 8, 10}}), tree.rects());
    EXPECT_EQ(36, tree.get()[0].area);
    EXPECT_EQ(90, tree.get()[2].area);
    EXPECT_EQ(0, line.data()->croppedCount);
}

TEST(RefineLine, StopsOnAttention)
{
    TextLine line(20, 10, [](int32_t x, int32_t y) { return in(x, 2, 5) && in(y, 2, 7); });
    test::TrippingAttention trip(2);
    ElementVec tree;
    EXPECT_EQ(KOC_E_CANCELLED, koc::segment::refineLineElements(line.data(), line.raw.data(),
                                                                int32_t(line.raw.size()), &line.image,
                                                                &line.params, &tree.v));
}

// Both profiles against direct sums, on sub-rectangles whose widths leave
// every tail of the sixteen-pixel column step and with bright pixels, so a
// lane that drops or wraps a byte shows.
TEST(RefineProfiles, MatchDirectSumsOnOddRectangles)
{
    const int32_t W = 70, H = 9;
    test::Image image(test::makeImage8(W, H, [](int32_t x, int32_t y) { return (x * 73 + y * 151 + 200) & 0xFF; }));
    for (const kstd_rect32 rect : {kstd_rect32{0, 0, 1, 1}, kstd_rect32{3, 1, 15, 5}, kstd_rect32{0, 0, 16, 9},
                                   kstd_rect32{5, 2, 17, 7}, kstd_rect32{1, 0, 69, 9}}) {
        koc::segment::Profile columns, rows;
        ASSERT_EQ(0, koc::segment::projectRect(&image.h, rect, &columns, &rows));
        koc::segment::Profile onlyColumns, onlyRows;
        ASSERT_EQ(0, koc::segment::projectRect(&image.h, rect, &onlyColumns, nullptr));
        ASSERT_EQ(0, koc::segment::projectRect(&image.h, rect, nullptr, &onlyRows));
        ASSERT_EQ(static_cast<size_t>(rect.width), columns.size());
        ASSERT_EQ(static_cast<size_t>(rect.height), rows.size());
        for (int32_t i = 0; i < rect.width; ++i) {
            uint32_t sum = 0;
            for (int32_t j = 0; j < rect.height; ++j) {
                sum += static_cast<uint32_t>(test::pixel8(image.h, rect.x + i, rect.y + j));
            }
            EXPECT_EQ(sum, columns[static_cast<size_t>(i)]) << "column " << i << " of width " << rect.width;
        }
        for (int32_t j = 0; j < rect.height; ++j) {
            uint32_t sum = 0;
            for (int32_t i = 0; i < rect.width; ++i) {
                sum += static_cast<uint32_t>(test::pixel8(image.h, rect.x + i, rect.y + j));
            }
            EXPECT_EQ(sum, rows[static_cast<size_t>(j)]) << "row " << j;
        }
        EXPECT_EQ(columns, onlyColumns);
        EXPECT_EQ(rows, onlyRows);
    }
}

}  // namespace
