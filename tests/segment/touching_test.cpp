// touching_test.cpp: glyph pairs that touch at one pixel are cut apart along
// the cheapest path through their ink, each piece at its glyph; a W or an M
// alone has no cheap path and stays whole, also once its neighbours have
// been cut; the path slips through no corner of an 8-connected stroke.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "segment/refine.hpp"
#include "segment/touching.hpp"
#include "support/fakes.hpp"
#include "support/paragraph.hpp"
#include "support/text_image.hpp"

namespace {

using Pixels = std::set<std::pair<int32_t, int32_t>>;
using Stroke = std::vector<std::array<double, 2>>;

// A glyph as polylines in a 24-pixel-high box, drawn 3 pixels thick (radius
// 1.5) or, with radius 0.5, as one-pixel hairlines.
Pixels draw(const std::vector<Stroke>& strokes, double radius = 1.5)
{
    Pixels p;
    for (const auto& s : strokes)
        for (size_t k = 0; k + 1 < s.size(); ++k) {
            const auto [ax, ay] = s[k];
            const auto [bx, by] = s[k + 1];
            for (int32_t y = -2; y < 28; ++y)
                for (int32_t x = -2; x < 40; ++x) {
                    const double dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
                    const double t = std::clamp(((x - ax) * dx + (y - ay) * dy) / len2, 0.0, 1.0);
                    if (std::hypot(x - ax - t * dx, y - ay - t * dy) <= radius) p.insert({x, y});
                }
        }
    return p;
}

Pixels glyph(char c)
{
    switch (c) {
    case 'W': return draw({{{0, 0}, {5.5, 23}, {11, 6}, {16.5, 23}, {22, 0}}});
    case 'A': return draw({{{0, 23}, {8, 0}, {16, 23}}, {{4, 15}, {12, 15}}});
    case 'V': return draw({{{0, 0}, {6, 23}, {12, 0}}});
    case 'Z': return draw({{{0, 0}, {16, 0}, {0, 23}, {16, 23}}});
    case 'M': return draw({{{0, 23}, {0, 0}, {9, 14}, {18, 0}, {18, 23}}});
    case 'r': return draw({{{0, 8}, {0, 23}}, {{0, 12}, {4, 8}, {9, 8}}});
    case 'n': return draw({{{0, 8}, {0, 23}}, {{0, 12}, {4, 8}, {8, 8}, {11, 12}, {11, 23}}});
    // A W and an M of a face whose diagonals are hairlines.
    case 'w': return draw({{{0, 0}, {5.5, 23}, {11, 6}, {16.5, 23}, {22, 0}}}, 0.5);
    case 'm': return draw({{{0, 23}, {0, 0}, {12, 20}, {24, 0}, {24, 23}}}, 0.5);
    default: return draw({{{0, 0}, {0, 23}}, {{12, 0}, {12, 23}}, {{0, 11}, {12, 11}}});  // H
    }
}

Pixels shifted(const Pixels& p, int32_t dx)
{
    Pixels out;
    for (const auto& [x, y] : p) out.insert({x + dx, y});
    return out;
}

bool connected(const Pixels& a, const Pixels& b)
{
    for (const auto& [x, y] : b)
        for (int32_t j = -1; j <= 1; ++j)
            for (int32_t i = -1; i <= 1; ++i)
                if (a.count({x + i, y + j}) != 0) return true;
    return false;
}

struct InkBox { int32_t x0 = 1 << 20, y0 = 1 << 20, x1 = -1, y1 = -1; };
InkBox boxOf(const Pixels& p)
{
    InkBox b;
    for (const auto& [x, y] : p) b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
    return b;
}

// "H H <text> <tail> H H" on a white line; the glyphs of text touch their
// neighbour at one pixel (the second is moved left as far as they stay
// apart, and one pixel joins them), or with overlap > 0 are moved that many
// pixels further left, into their neighbour. Returns the ink boxes of
// text's glyphs.
struct Line {
    std::vector<InkBox> boxes;
    Pixels ink;
    std::vector<InkBox> tailBoxes;  // of the glyphs of tail
    explicit Line(const std::string& text, int32_t overlap = 0, int32_t before = 2, int32_t after = 2,
                  const std::string& tail = "")
    {
        int32_t x = 4;
        auto place = [&](char c, bool touch) {
            Pixels g = glyph(c);
            const InkBox b = boxOf(g);
            int32_t at = x;
            if (touch) {
                // As close as they come apart, then one pixel between the
                // nearest two joins them.
                while (connected(ink, shifted(g, at))) ++at;
                while (!connected(ink, shifted(g, at - 1))) --at;
                at -= overlap > 0 ? overlap + 1 : 0;
            }
            g = shifted(g, at);
            if (touch && overlap == 0) {
                std::pair<int32_t, int32_t> bridge{0, 0};
                int32_t best = 1 << 20;
                for (const auto& [qx, qy] : g)
                    for (const auto& [px, py] : ink) {
                        const int32_t d = std::max(std::abs(qx - px), std::abs(qy - py));
                        if (d < best) best = d, bridge = {(qx + px) / 2, (qy + py) / 2};
                    }
                ink.insert(bridge);
            }
            ink.insert(g.begin(), g.end());
            x = at + b.x1 + 8;
            return boxOf(g);
        };
        for (int32_t k = 0; k < before; ++k) place('H', false);
        for (size_t k = 0; k < text.size(); ++k) boxes.push_back(place(text[k], k > 0));
        for (const char c : tail) tailBoxes.push_back(place(c, false));
        for (int32_t k = 0; k < after; ++k) place('H', false);
    }
};

// Blob analysis of the line, one element per blob, the line blob image, and
// the touching split; the marks' rectangles come back sorted by x. With
// halveH every H element is first replaced by its two halves, as a cut
// made before the split would leave them; known is passed on.
std::vector<kstd_rect32> splitLine(const Line& line, koc::segment::TouchingMeasure* m,
                                   const koc::segment::TouchingMeasure* known = nullptr, bool halveH = false)
{
    kimg_image image = test::makeImage8(200, 40, [&](int32_t x, int32_t y) {
        return line.ink.count({x, y - 8}) != 0 ? 0 : 255;
    });
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.polarity = 1;
    koc::services::BlobResultSet blobs;
    int32_t t = 0, good = 0;
    EXPECT_EQ(0, koc::segment::runBlobAnalysis(&image, &params, nullptr, &t, &blobs));
    kstd_vector_koc_charSegmentElementInfo v;
    kstd_vector_koc_charSegmentElementInfo_constructEmpty(&v);
    EXPECT_EQ(0, koc::segment::buildElementsFromBlobs(&blobs, nullptr, t, &params, 1, 1, &v, &good));
    EXPECT_EQ(0, koc::segment::sortElementsByX(&v));
    koc::services::Vector<int32_t> all;
    for (int32_t i = 0; i < int32_t(blobs.blobs.size()); ++i) all.push_back(i);
    kimg_image blobImage;
    kimg_image_construct(&blobImage);
    EXPECT_EQ(0, koc::segment::renderLineBlobs(&blobs, all, &blobImage));
    if (halveH) {
        std::vector<koc_charSegmentElementInfo> halves;
        const auto* e = static_cast<const koc_charSegmentElementInfo*>(v.base.begin);
        for (intptr_t i = 0; i < v.base.size; ++i) {
            const kstd_rect32 r = e[i].rect;
            const bool holdsText = std::any_of(line.boxes.begin(), line.boxes.end(), [&](const InkBox& b) {
                return b.x0 >= r.x && b.x1 < r.x + r.width;
            });
            if (holdsText) {
                halves.push_back(e[i]);
                continue;
            }
            koc_charSegmentElementInfo a = e[i], b = e[i];
            a.rect.width = r.width / 2;
            b.rect.x = r.x + r.width / 2;
            b.rect.width = r.width - r.width / 2;
            halves.push_back(a);
            halves.push_back(b);
        }
        EXPECT_EQ(0, kstd_vector_koc_charSegmentElementInfo_assignElements(&v, halves.data(),
                                                                           static_cast<intptr_t>(halves.size())));
    }
    EXPECT_EQ(0, koc::segment::splitTouchingGlyphs(&v, &blobImage, m, known));
    std::vector<kstd_rect32> rects;
    const auto* e = static_cast<const koc_charSegmentElementInfo*>(v.base.begin);
    for (intptr_t i = 0; i < v.base.size; ++i) rects.push_back(e[i].rect);
    kstd_vector_koc_charSegmentElementInfo_destruct(&v);
    kimg_image_destruct(&blobImage);
    kimg_image_destruct(&image);
    koc_charSegmentRunParams_destruct(&params);
    return rects;
}

class TouchingGlyphPair : public ::testing::TestWithParam<std::string> {};

TEST_P(TouchingGlyphPair, SplitsIntoItsGlyphs)
{
    const Line line(GetParam());
    ASSERT_EQ(2u, line.boxes.size());
    koc::segment::TouchingMeasure m;
    const auto rects = splitLine(line, &m);
    EXPECT_EQ(1, m.cuts) << "glyph " << m.glyphWidth << " stroke " << m.strokeWidth << " height " << m.textHeight
                         << " pair width " << (rects.size() > 2 ? rects[2].width : 0);
    ASSERT_EQ(6u, rects.size());  // H H, the pair's two glyphs, H H
    for (size_t k = 0; k < 2; ++k) {
        const kstd_rect32& r = rects[2 + k];
        const InkBox& b = line.boxes[k];
        EXPECT_NEAR(b.x0, r.x, 2) << "glyph " << k;
        EXPECT_NEAR(b.x1, r.x + r.width - 1, 2) << "glyph " << k;
        EXPECT_NEAR(b.y0 + 8, r.y, 2) << "glyph " << k;
        EXPECT_NEAR(b.y1 + 8, r.y + r.height - 1, 2) << "glyph " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Pairs, TouchingGlyphPair, ::testing::Values("WA", "AV", "rn"));

// Glyphs pushed two pixels into each other cross over a whole stroke, more
// than a touch; a piece that wide is two glyphs all the same and parts
// between them: two marks, each covering its glyph's columns with an
// intersection over union of at least 0.75 (the cut runs through the
// shared ink, so a few columns of one glyph may go with the other).
class OverlappingGlyphPair : public ::testing::TestWithParam<std::string> {};

TEST_P(OverlappingGlyphPair, SplitsIntoItsGlyphs)
{
    const Line line(GetParam(), 2);
    koc::segment::TouchingMeasure m;
    const auto rects = splitLine(line, &m);
    ASSERT_EQ(6u, rects.size()) << "glyph " << m.glyphWidth << " stroke " << m.strokeWidth;
    for (size_t k = 0; k < 2; ++k) {
        const kstd_rect32& r = rects[2 + k];
        const InkBox& b = line.boxes[k];
        const double inter = std::min(b.x1 + 1, r.x + r.width) - std::max(b.x0, r.x);
        const double uni = std::max(b.x1 + 1, r.x + r.width) - std::min(b.x0, r.x);
        EXPECT_GE(inter / uni, 0.75) << "glyph " << k << ": ink " << b.x0 << ".." << b.x1 << ", mark " << r.x
                                     << ".." << r.x + r.width - 1;
    }
}

INSTANTIATE_TEST_SUITE_P(Pairs, OverlappingGlyphPair, ::testing::Values("ZW", "AZ", "ZH", "WZ"));

class WideGlyphAlone : public ::testing::TestWithParam<std::string> {};

TEST_P(WideGlyphAlone, StaysWhole)
{
    koc::segment::TouchingMeasure m;
    const auto rects = splitLine(Line(GetParam()), &m);
    EXPECT_GT(m.glyphWidth, 0);
    EXPECT_EQ(0, m.cuts);
    EXPECT_EQ(5u, rects.size());
}

INSTANTIATE_TEST_SUITE_P(Glyphs, WideGlyphAlone, ::testing::Values("W", "M"));

// Once its neighbours have been cut into halves, a W measured against them
// would be three of their widths; cutting with what the uncut line measured
// keeps it whole.
TEST(WideGlyphAlone, StaysWholeBesideCutPiecesWithTheLineMeasure)
{
    const Line line("W");
    koc::segment::TouchingMeasure first;
    splitLine(line, &first);
    ASSERT_GT(first.glyphWidth, 0);
    koc::segment::TouchingMeasure m;
    const auto rects = splitLine(line, &m, &first, true);
    EXPECT_EQ(first.glyphWidth, m.glyphWidth);
    EXPECT_EQ(0, m.cuts);
    ASSERT_EQ(9u, rects.size());  // four H in halves and the W
    EXPECT_EQ(line.boxes[0].x0, rects[4].x);
    EXPECT_EQ(line.boxes[0].x1, rects[4].x + rects[4].width - 1);
}

// A cut through one pixel crosses a hairline anywhere, so a W or an M in
// hairlines, wide enough to be two glyphs, has cheap paths through its own
// strokes; only the join of a touching pair is thinner than the strokes
// beside it. On one line the pair splits and the hairline glyph stays one
// mark on its ink.
class HairlineGlyph : public ::testing::TestWithParam<char> {};

TEST_P(HairlineGlyph, StaysWholeWhileATouchingPairSplits)
{
    const Line line("AV", 0, 2, 2, std::string(1, GetParam()));
    koc::segment::TouchingMeasure m;
    const auto rects = splitLine(line, &m);
    ASSERT_GT(m.glyphWidth, 0);
    const InkBox& b = line.tailBoxes[0];
    ASSERT_GE(2 * (b.x1 - b.x0 + 1), 3 * m.glyphWidth) << "wide enough to be looked at";
    EXPECT_EQ(1, m.cuts);
    ASSERT_EQ(7u, rects.size());  // H H, A, V, the hairline glyph, H H
    EXPECT_EQ(b.x0, rects[4].x);
    EXPECT_EQ(b.x1, rects[4].x + rects[4].width - 1);
}

INSTANTIATE_TEST_SUITE_P(Glyphs, HairlineGlyph, ::testing::Values('w', 'm'));

// A line fused into blobs but for one glyph has no glyph width to cut by:
// the one glyph may be the narrowest of the font.
TEST(TouchingGlyphs, OneIsolatedGlyphGivesNoMeasure)
{
    const Line line("WAVA", 0, 1, 0);
    koc::segment::TouchingMeasure m;
    const auto rects = splitLine(line, &m);
    EXPECT_EQ(0, m.glyphWidth);
    EXPECT_EQ(0, m.cuts);
    EXPECT_EQ(2u, rects.size());
}

// Two 1-pixel diagonal strokes crossing: a path may not slip between the
// corner-touching pixels of either for free.
TEST(CheapestCutPath, CountsCornerCrossings)
{
    constexpr int32_t w = 9, h = 9;
    std::vector<uint8_t> ink(w * h, 0);
    for (int32_t k = 0; k < 9; ++k) ink[k * w + k] = 1;  // "\": corners only
    koc::services::Vector<int32_t> lo(h, 2), hi(h, 7), path;
    int32_t crossed = -1;
    ASSERT_EQ(0, koc::segment::cheapestCutPath(ink.data(), w, h, lo, hi, &path, &crossed));
    EXPECT_GE(crossed, 1);
    ASSERT_EQ(size_t(h), path.size());
    for (int32_t y = 1; y < h; ++y) EXPECT_LE(std::abs(path[y] - path[y - 1]), 1);
}

// The extension entry points with every switch off are the plain road; a
// record validate refuses is refused before anything runs, and the result
// reads as not computed.
TEST(ExtensionEntryPoints, OffIsThePlainRoadAndBadRecordsAreRefused)
{
    test::TextLine line;
    test::Owned image(line.render());
    const kmath_shapeAffineRect rect = test::boxRect(10, 10, line.width - 20, line.height - 20);
    test::Paragraph plain, extended;
    plain.params.minCharArea = 10;
    koc_charSegmentExtensions ext;
    koc_charSegmentExtensions_construct(&ext);
    ASSERT_EQ(0, plain.run8(image.img, rect));
    ASSERT_EQ(0, koc_segmentCharactersParagraphExt8(&image.img, &rect, &plain.params, &ext, &extended.result));
    EXPECT_EQ(plain.marks(), extended.marks());
    EXPECT_EQ(size_t(line.count), extended.marks().size());
    ext.splitTouchingGlyphs = 2;
    EXPECT_EQ(KOC_E_BAD_ARGUMENT,
              koc_segmentCharactersParagraphExt8(&image.img, &rect, &plain.params, &ext, &extended.result));
    EXPECT_EQ(0u, extended.result.isComputed);
    ext.splitTouchingGlyphs = 1;
    ext.walkNodeBudget = -1;
    EXPECT_EQ(KOC_E_BAD_ARGUMENT, koc_charSegmentExtensions_validate(&ext));
}

}  // namespace
