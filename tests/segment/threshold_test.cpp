// Hard threshold table, the mark range of the stroke analysis, and the
// point of background suppression: on a line of thick-stroke glyphs crossed
// by one-pixel scratches and speckle, the scratches and speckle go and
// every glyph keeps its mark box, in both polarities.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "koc/koc.h"
#include "segment/segment_internal.hpp"
#include "services/blob_run.hpp"
#include "services/stroke_width.hpp"
#include "support/fakes.hpp"

namespace {

using koc::segment::computeHardThreshold;
using koc::segment::suppressBackground;

class HardThreshold : public ::testing::TestWithParam<std::tuple<uint32_t, double, int32_t, int32_t, int32_t>> {};

TEST_P(HardThreshold, FromFractionAndPolarity)
{
    const auto [polarity, fraction, rc, threshold, flag] = GetParam();
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.polarity = polarity;
    params.thresholdFraction = fraction;
    int32_t t = -7, p = -7;
    EXPECT_EQ(rc, computeHardThreshold(&params, &t, &p));
    EXPECT_EQ(threshold, t);
    EXPECT_EQ(flag, p);
}

// 0 would leave no dark mark at all; 127.5 rounds up on both sides.
INSTANTIATE_TEST_SUITE_P(Table, HardThreshold,
                         ::testing::Values(std::tuple(1u, 0.0, 0, 1, 1), std::tuple(2u, 1.0, 0, 1, 0),
                                           std::tuple(1u, 0.5, 0, 128, 1), std::tuple(2u, 0.5, 0, 128, 0),
                                           std::tuple(2u, 0.3, 0, 179, 0),
                                           std::tuple(4u, 0.5, KOC_E_POLARITY_UNDECIDED, -7, -7)));

struct Image {
    kimg_image h;
    Image() { kimg_image_construct(&h); }
    explicit Image(const kimg_image& from) : h(from) {}
    ~Image() { kimg_image_destruct(&h); }
    int at(int32_t x, int32_t y) const
    {
        kimg_windowConst w;
        kimg_windowConst_init(&w, &h);
        return static_cast<const uint8_t*>(w.pixels)[y * w.pitch + x];
    }
};

// Grey 107 (dark marks) and 149 (light marks) are the last mark levels: a
// solid block there survives, one a level further is ground and takes the
// ground's extreme like the rest of it.
TEST(SuppressionBaseLevel, SeparatesMarkRangeFromGround)
{
    for (const auto& [polarity, ground, inside, outside, flat] :
         {std::tuple(1u, 200, 107, 108, 255), std::tuple(2u, 60, 149, 148, 0)}) {
        const int g = ground, in = inside, beyond = outside;  // (older compilers capture no structured bindings)
        Image src(test::makeImage8(40, 20, [&](int32_t x, int32_t y) {
            return y < 5 || y >= 15 ? g : x >= 5 && x < 15 ? in : x >= 25 && x < 35 ? beyond : g;
        }));
        Image out;
        ASSERT_EQ(0, suppressBackground(&src.h, polarity, polarity == 1 ? 1 : 0, &out.h));
        EXPECT_EQ(inside, out.at(10, 10));
        EXPECT_EQ(flat, out.at(30, 10));
        EXPECT_EQ(flat, out.at(20, 2));
    }
}

// Eight glyphs (box, H, T, L, E, I, U, F) of bars 7 and 8 pixels thick on a
// 340 x 90 line. The cut lies two widths below the thin tail (10%) of the
// marks' stroke widths, so one-pixel structures go when the strokes are
// well thicker and the scratches a small share of the marks (here ~6%).
std::vector<uint8_t> scratchedLine(std::vector<kstd_rect32>& boxes)
{
    constexpr int32_t kW = 340, kTop = 15, kH = 60, kGw = 30;
    std::vector<uint8_t> ink(kW * 90, 0);
    const auto fill = [&](int32_t x, int32_t y, int32_t w, int32_t h) {
        for (int32_t j = y; j < y + h; ++j) std::fill_n(&ink[static_cast<size_t>(j * kW + x)], w, 1);
    };
    const unsigned shapes[8] = {0b01111, 0b10011, 0b100100, 0b01001, 0b11101, 0b100000, 0b01011, 0b10101};
    for (int32_t k = 0; k < 8; ++k) {
        const int32_t s = 7 + k % 2, x = 12 + 40 * k, stem = x + (kGw - s) / 2;
        const unsigned m = shapes[k];  // left, right, top, bottom, middle, stem
        if (m & 1) fill(x, kTop, s, kH);
        if (m & 2) fill(x + kGw - s, kTop, s, kH);
        if (m & 4) fill(x, kTop, kGw, s);
        if (m & 8) fill(x, kTop + kH - s, kGw, s);
        if (m & 16) fill(x, kTop + kH / 2 - s / 2, kGw, s);
        if (m & 32) fill(stem, kTop, s, kH);
        boxes.push_back(m == 32 ? kstd_rect32{stem, kTop, s, kH} : kstd_rect32{x, kTop, kGw, kH});
    }
    fill(0, 52, 175, 1);  // bridges the first four glyphs
    fill(47, 0, 1, 90);   // in a gap, across the bridge
    for (int32_t x = 180; x < 330; ++x) fill(x, 28 + (x - 180) / 15, 1, 1);
    for (int32_t k = 0; k < 12; ++k) fill(7 + 26 * k, k % 2 ? 4 : 83, 1, 1);
    return ink;
}

std::vector<std::tuple<int32_t, int32_t, int32_t, int32_t>> markBoxes(const kimg_image* image, uint32_t polarity)
{
    koc::services::BlobRunParams run;
    koc::services::blobRunParamsSetHardThreshold(&run, 128, polarity == 1 ? 1 : 0);
    koc::services::BlobResultSet blobs;
    EXPECT_EQ(0, koc::services::blobRun8(image, &run, &blobs));
    std::vector<std::tuple<int32_t, int32_t, int32_t, int32_t>> boxes;
    for (const auto& b : blobs.blobs) boxes.emplace_back(b.rect.x, b.rect.y, b.rect.width, b.rect.height);
    std::sort(boxes.begin(), boxes.end());
    return boxes;
}

class Suppression : public ::testing::TestWithParam<uint32_t> {};

TEST_P(Suppression, RemovesScratchesAndSpeckleKeepsGlyphBoxes)
{
    const uint32_t polarity = GetParam();
    const int inkGrey = polarity == 1 ? 30 : 225, groundGrey = polarity == 1 ? 210 : 40;
    std::vector<kstd_rect32> glyphs;
    const std::vector<uint8_t> ink = scratchedLine(glyphs);
    Image src(test::makeImage8(340, 90, [&](int32_t x, int32_t y) { return ink[y * 340 + x] ? inkGrey : groundGrey; }));
    std::vector<std::tuple<int32_t, int32_t, int32_t, int32_t>> expected;
    for (const auto& g : glyphs) expected.emplace_back(g.x, g.y, g.width, g.height);
    std::sort(expected.begin(), expected.end());
    ASSERT_NE(expected, markBoxes(&src.h, polarity)) << "the scratches must matter";

    Image out;
    ASSERT_EQ(0, suppressBackground(&src.h, polarity, polarity == 1 ? 1 : 0, &out.h));
    EXPECT_EQ(expected, markBoxes(&out.h, polarity));
    EXPECT_EQ(inkGrey, out.at(14, 40));  // inside a stroke
}

INSTANTIATE_TEST_SUITE_P(Polarities, Suppression, ::testing::Values(1u, 2u));

// The suppression hands over the speck test's labelling when the blob
// analysis would binarise exactly the pixels it kept; the blobs taken from
// it must be those labelling the output gives, grey sums and run order
// included, with and without the shape filter. Bars three pixels thick
// (cut 1), tall and short, with and without a field of one-pixel specks
// that is cleared, and mark greys that vary, in both polarities and at
// thresholds on either side of the mark range's last level.
TEST(SuppressionMarks, HandedLabellingIsTheOutputsOwn)
{
    const auto same = [](const koc::services::BlobResultSet& a, const koc::services::BlobResultSet& b) {
        if (a.blobs.size() != b.blobs.size() || a.runs.size() != b.runs.size()) return false;
        for (size_t i = 0; i < a.blobs.size(); ++i) {
            const auto &x = a.blobs[i], &y = b.blobs[i];
            if (std::tuple(x.rect.x, x.rect.y, x.rect.width, x.rect.height, x.area, x.firstRun, x.runCount,
                           x.greySum, x.isInterior) != std::tuple(y.rect.x, y.rect.y, y.rect.width, y.rect.height,
                                                                  y.area, y.firstRun, y.runCount, y.greySum,
                                                                  y.isInterior)) {
                return false;
            }
        }
        for (size_t i = 0; i < a.runs.size(); ++i) {
            if (std::tuple(a.runs[i].y, a.runs[i].x, a.runs[i].length) !=
                std::tuple(b.runs[i].y, b.runs[i].x, b.runs[i].length)) {
                return false;
            }
        }
        return true;
    };
    for (const bool specks : {false, true}) {
        for (const auto& [polarity, threshold, exact] :
             {std::tuple(1u, 128, true), std::tuple(1u, 108, true), std::tuple(1u, 107, false),
              std::tuple(1u, 60, false), std::tuple(2u, 128, true), std::tuple(2u, 149, true),
              std::tuple(2u, 150, false)}) {
            const uint32_t pol = polarity;
            Image src(test::makeImage8(200, 60, [&](int32_t x, int32_t y) {
                const bool tall = (x - 10) / 20 % 2 == 0;
                const bool bar = y >= 10 && y < (tall ? 40 : 22) && (x - 10) % 20 < 3 && x >= 10 && x < 190;
                const bool speck = specks && y >= 45 && x % 5 == 0 && (y - 45) % 5 == 0;
                const int ink = 20 + (x * 7 + y * 3) % 60;
                if (bar || speck) return pol == 1 ? ink : 255 - ink;
                return pol == 1 ? 220 : 35;
            }));
            Image out;
            koc::services::BlobResultSet marks;
            bool marksExact = !exact;
            ASSERT_EQ(0, suppressBackground(&src.h, pol, pol == 1 ? 1 : 0, &out.h, threshold, &marks, &marksExact));
            EXPECT_EQ(exact, marksExact) << pol << " " << threshold;
            if (!marksExact) continue;
            EXPECT_EQ(9u, marks.blobs.size()) << "the specks are cleared";
            for (const int32_t scale : {0, 2304}) {  // 9.0 drops the tall bars
                if (scale != 0) {
                    ASSERT_EQ(0, suppressBackground(&src.h, pol, pol == 1 ? 1 : 0, &out.h, threshold, &marks,
                                                    &marksExact));
                }
                koc::services::BlobRunParams run;
                koc::services::blobRunParamsSetHardThreshold(&run, threshold, pol == 1 ? 1 : 0);
                run.textHeightScale = scale;
                koc::services::BlobResultSet labelled, handed;
                ASSERT_EQ(0, koc::services::blobRun8(&out.h, &run, &labelled));
                ASSERT_EQ(0, koc::services::blobRun8FromMarks(&out.h, &run, &marks, &handed));
                EXPECT_EQ(scale == 0 ? 9u : 4u, handed.blobs.size());
                EXPECT_TRUE(marks.blobs.empty());
                EXPECT_TRUE(same(labelled, handed)) << pol << " " << threshold << " " << scale;
            }
        }
    }
}

// The cut comes from a short count when the thin tail lies at the narrow
// widths and from the full width histogram otherwise; either way the output
// must be what the full histogram's cut gives. Random bars of one thickness
// per image (tails on both sides of the short count's reach) with a few
// one-pixel scratches and two-pixel bars, at widths off the sixteen-pixel step and one wider
// than the byte counters' 255 steps.
TEST(SuppressionCut, SameAsFullWidthHistogram)
{
    bool narrowTail = false, wideTail = false;
    int32_t seed = 0;
    for (const auto& size : {std::pair(37, 29), std::pair(303, 61), std::pair(4200, 9), std::pair(15, 40)}) {
        const int32_t w = size.first, h = size.second;  // (older compilers capture no structured bindings)
        for (const int32_t thickness : {1, 2, 3, 4, 6, 9, 12}) {
            std::mt19937 rng(static_cast<uint32_t>(++seed));
            std::vector<uint8_t> ink(static_cast<size_t>(w * h), 0);
            const auto fill = [&](int32_t x0, int32_t y0, int32_t bw, int32_t bh) {
                for (int32_t y = y0; y < std::min(h, y0 + bh); ++y)
                    for (int32_t x = x0; x < std::min(w, x0 + bw); ++x) ink[static_cast<size_t>(y * w + x)] = 1;
            };
            for (int32_t y0 = 1; y0 + thickness < h; y0 += thickness + 5)  // a long bar per 100-pixel cell
                for (int32_t x0 = 1; x0 + thickness < w; x0 += 100) fill(x0, y0, 60 + static_cast<int32_t>(rng() % 30), thickness);
            for (int32_t x = 0; x < w; x += 23) fill(x, x * 7 % h, 1, 1);
            for (int32_t x = 5; x < w; x += 120) fill(x, x * 3 % h, 10, 2);  // cleared only under a wide tail
            for (const uint32_t polarity : {1u, 2u}) {
                const int inkGrey = polarity == 1 ? 30 : 225, groundGrey = polarity == 1 ? 210 : 40;
                Image src(test::makeImage8(w, h, [&](int32_t x, int32_t y) {
                    return ink[static_cast<size_t>(y * w + x)] ? inkGrey : groundGrey;
                }));
                koc::services::StrokeDetectParams range;
                range.strokesOnly = true;
                range.markLow = polarity == 1 ? 0 : 149;
                range.markHigh = polarity == 1 ? 107 : 255;
                koc::services::StrokeDetectResult strokes;
                ASSERT_EQ(0, koc::services::strokeDetect8(&src.h, &range, &strokes));
                Image widths;
                ASSERT_EQ(0, koc::services::strokeDetectMinStrokeWidthImage(&strokes, &widths.h));
                uint32_t hist[256] = {};
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x) ++hist[widths.at(x, y)];
                int32_t low = 0, high = 0;
                ASSERT_EQ(0, koc::services::strokeWidthTails(hist, 0.1, 0.1, &low, &high));
                (low <= 3 ? narrowTail : wideTail) = true;
                const int32_t cut = std::max(low - 2, 1);

                Image out;
                ASSERT_EQ(0, suppressBackground(&src.h, polarity, polarity == 1 ? 1 : 0, &out.h));
                int32_t mismatches = 0;
                for (int32_t y = 0; y < h; ++y)
                    for (int32_t x = 0; x < w; ++x) {
                        const int expected = widths.at(x, y) < cut ? (polarity == 1 ? 255 : 0) : src.at(x, y);
                        mismatches += out.at(x, y) != expected;
                    }
                EXPECT_EQ(0, mismatches) << w << "x" << h << " thickness " << thickness << " polarity " << polarity;
            }
        }
    }
    EXPECT_TRUE(narrowTail && wideTail);
}

}  // namespace
