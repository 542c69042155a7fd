// line_split_test.cpp: the line splitter on hand-made elements: the ink
// profile's edges against a hand computation, the fallback band, an element
// straddling two lines, and the reinstatement of mask-rejected elements.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "hypotheses/line_split.hpp"

#include "support/elements.hpp"

namespace {

using koc::hypotheses::ProfileEdge;
using test::element;
using test::Q;
using test::q;

// A row of count glyph-sized elements starting at x, top at y.
void addRow(std::vector<koc_charSegmentElementInfo>& out, int32_t x, int32_t y, int32_t count)
{
    for (int32_t k = 0; k < count; ++k) out.push_back(element(x + 20 * k, y, 14, 24));
}

// The paragraph's line results, each holding a copy of the raw elements,
// of which the first good ones are counted.
struct Split {
    koc_charSegmentRunParams params;
    std::vector<koc_charSegmentLineResult> lines;
    kstd_vector32s counts;

    Split(int32_t numLines, const std::vector<koc_charSegmentElementInfo>& raw, int32_t good) : lines(size_t(numLines))
    {
        koc_charSegmentRunParams_construct(&params);
        params.numLines = numLines;
        for (auto& l : lines) {
            koc_charSegmentLineResult_construct(&l);
            kstd_vector_koc_charSegmentElementInfo_assignElements(&l.lineData->rawElements, raw.data(),
                                                                  intptr_t(raw.size()));
        }
        kstd_vector32s_constructEmpty(&counts);
        kstd_vector32s_resizeFill(&counts, numLines, &good);
    }
    ~Split()
    {
        kstd_vector32s_destruct(&counts);
        for (auto& l : lines) koc_charSegmentLineResult_destruct(&l);
        koc_charSegmentRunParams_destruct(&params);
    }
    int32_t run()
    {
        return koc::hypotheses::splitElementsAmongLines(&params, lines[0].lineData, nullptr, lines.data(), &counts);
    }
    int32_t count(int i) const { return static_cast<const int32_t*>(counts.base.begin)[i]; }
    const koc_charSegmentLineResultData_& data(int i) const { return *lines[size_t(i)].lineData; }
    std::vector<koc_charSegmentElementInfo> raw(int i) const
    {
        const auto& v = data(i).rawElements;
        const auto* b = static_cast<const koc_charSegmentElementInfo*>(v.base.begin);
        return {b, b + v.base.size};
    }
    // Left edges of line i's own elements, in list order.
    std::vector<int32_t> ownLefts(int i) const
    {
        std::vector<int32_t> x;
        const auto r = raw(i);
        for (int k = 0; k < count(i); ++k) x.push_back(r[size_t(k)].rect.x);
        return x;
    }
};

TEST(VerticalInkProfile, OneElementGivesOneBandAgainstAHandComputation)
{
    // Rows 10..20 hold weight 1; smoothed: 1, 2, 3 ... 3, 2 and the last two
    // rows copy the third-last. The derivative peaks at row 9 and falls
    // last at row 20.
    const auto e = element(10, 10, 20, 10);
    kstd_rect32 bounds;
    int32_t inked = -1;
    koc::services::Vector<int32_t> smooth;
    koc::services::Vector<ProfileEdge> falling, rising;
    ASSERT_EQ(0, koc::hypotheses::verticalInkProfile(&e, 1, &bounds, &inked, &smooth, &falling, &rising));
    EXPECT_EQ((Q{10, 10, 21, 11}), q(bounds));
    ASSERT_EQ(23u, smooth.size());
    EXPECT_EQ(1, smooth[9]);
    EXPECT_EQ(3, smooth[15]);
    EXPECT_EQ(2, smooth[22]);
    EXPECT_EQ(13, inked);  // rows 9..21
    ASSERT_EQ(1u, rising.size());
    ASSERT_EQ(1u, falling.size());
    EXPECT_EQ(9, rising[0].row);
    EXPECT_EQ(2, rising[0].strength);
    EXPECT_EQ(20, falling[0].row);
    EXPECT_EQ(-1, falling[0].strength);
}

TEST(VerticalInkProfile, EdgesComeStrongestFirst)
{
    // A weak line (specks) above a strong one (glyphs): the strong line's
    // edges lead both lists.
    std::vector<koc_charSegmentElementInfo> e;
    for (int k = 0; k < 3; ++k) e.push_back(element(10 + 20 * k, 10, 4, 10));
    for (int k = 0; k < 6; ++k) e.push_back(element(10 + 20 * k, 40, 14, 24));
    kstd_rect32 bounds;
    int32_t inked = 0;
    koc::services::Vector<int32_t> smooth;
    koc::services::Vector<ProfileEdge> falling, rising;
    ASSERT_EQ(0, koc::hypotheses::verticalInkProfile(e.data(), int32_t(e.size()), &bounds, &inked, &smooth,
                                                     &falling, &rising));
    ASSERT_GE(rising.size(), 2u);
    ASSERT_GE(falling.size(), 2u);
    EXPECT_NEAR(40, rising[0].row, 1);
    EXPECT_NEAR(64, falling[0].row, 1);
    for (size_t i = 1; i < rising.size(); ++i) EXPECT_GE(rising[i - 1].strength, rising[i].strength);
    for (size_t i = 1; i < falling.size(); ++i) EXPECT_LE(falling[i - 1].strength, falling[i].strength);
}

TEST(SplitElementsAmongLines, ElementsTooCloseToTheCornerStayWithEveryLine)
{
    const std::vector<koc_charSegmentElementInfo> raw{element(0, 0, 2, 2), element(0, 0, 3, 3)};
    Split s(2, raw, 2);
    ASSERT_EQ(0, s.run());
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(2, s.count(i));
        EXPECT_EQ((Q{0, 0, 0, 0}), q(s.data(i).bandRect));  // no band: rectangles untouched
    }
}

TEST(SplitElementsAmongLines, TwoRowsGoToTheirOwnLinesWithTheirBandAndInk)
{
    std::vector<koc_charSegmentElementInfo> raw;
    addRow(raw, 10, 10, 6);
    addRow(raw, 30, 50, 4);
    Split s(2, raw, 10);
    ASSERT_EQ(0, s.run());
    EXPECT_EQ((std::vector<int32_t>{10, 30, 50, 70, 90, 110}), s.ownLefts(0));
    EXPECT_EQ((std::vector<int32_t>{30, 50, 70, 90}), s.ownLefts(1));
    // The other line's elements follow, flagged.
    for (int k = 6; k < 10; ++k) EXPECT_EQ(8u, s.raw(0)[size_t(k)].flags);
    // Bands run from the row above the ink to about its bottom; the x-range is the
    // line's own (10 .. 110 + 14 and 30 .. 90 + 14).
    EXPECT_EQ((Q{10, 9, 114, 26}), q(s.data(0).bandRect));
    EXPECT_EQ((Q{30, 49, 74, 25}), q(s.data(1).bandRect));
    EXPECT_EQ((Q{30, 49, 74, 25}), q(s.data(1).inkRect));  // the band holds all the ink
}

TEST(SplitElementsAmongLines, NoBandOfTheExpectedHeightGivesTheFirstLineEverything)
{
    // One row of tall and short glyphs read as four lines: the expected band
    // height is a quarter of the row, so no edge pair qualifies and the
    // elements' extent becomes the one band.
    std::vector<koc_charSegmentElementInfo> raw;
    addRow(raw, 10, 10, 5);
    for (size_t k = 1; k < raw.size(); k += 2) {
        raw[k].rect.y += 8;
        raw[k].rect.height -= 8;
    }
    Split s(4, raw, 5);
    ASSERT_EQ(0, s.run());
    EXPECT_EQ(5, s.count(0));
    for (int i = 1; i < 4; ++i) EXPECT_EQ(0, s.count(i));
    EXPECT_EQ((Q{10, 10, 94, 24}), q(s.data(0).bandRect));
    EXPECT_EQ((Q{0, 0, 0, 0}), q(s.data(3).bandRect));
    for (const auto& e : s.raw(3)) EXPECT_EQ(8u, e.flags);
}

TEST(SplitElementsAmongLines, ATallElementUnderBothLinesIsCroppedIntoEach)
{
    // A stroke from the top of the first row to the bottom of the second,
    // standing among both rows' glyphs: less than half of it lies in either
    // band, but it covers each band, so each line keeps it, cut to its band.
    std::vector<koc_charSegmentElementInfo> raw;
    addRow(raw, 10, 10, 6);
    addRow(raw, 10, 50, 6);
    raw.push_back(element(64, 10, 4, 64));
    Split s(2, raw, 13);
    ASSERT_EQ(0, s.run());
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(7, s.count(i));
        const auto tall = s.raw(i)[6];  // a copy: raw() returns a fresh vector
        const auto band = s.data(i).bandRect;
        EXPECT_EQ(64, tall.rect.x);
        EXPECT_EQ(band.height, tall.rect.height);
        EXPECT_GE(tall.rect.y, band.y);
        EXPECT_LE(tall.rect.y + tall.rect.height, band.y + band.height + 1);
        EXPECT_LT(tall.inBandFraction, 0.5);
        EXPECT_GT(tall.outOfBandFraction, 1.0);
    }
}

TEST(SplitElementsAmongLines, AStrayElementBesideTheCoreIsDropped)
{
    // The same tall stroke, but left of every glyph: nothing vouches for it.
    std::vector<koc_charSegmentElementInfo> raw;
    addRow(raw, 30, 10, 6);
    addRow(raw, 30, 50, 6);
    raw.push_back(element(2, 10, 4, 64));
    Split s(2, raw, 13);
    ASSERT_EQ(0, s.run());
    EXPECT_EQ(6, s.count(0));
    EXPECT_EQ(6, s.count(1));
    EXPECT_EQ(8u, s.raw(0).back().flags);
}

class Reinstatement : public ::testing::TestWithParam<int32_t> {};

// Behind the good elements: one mask-rejected element on the second line's
// band, one on no line. Only with the mask test on does the first come back,
// to the second line alone.
TEST_P(Reinstatement, MaskRejectedElementComesBackToTheLineItSitsOn)
{
    std::vector<koc_charSegmentElementInfo> raw;
    addRow(raw, 10, 10, 6);
    addRow(raw, 10, 50, 6);
    raw.push_back(element(200, 100, 14, 24, 2));  // below every line
    raw.push_back(element(75, 52, 8, 20, 2));     // on line 1, within its x-range
    Split s(2, raw, 12);
    s.params.useLineMaskTest = GetParam();
    ASSERT_EQ(0, s.run());
    EXPECT_EQ(6, s.count(0));
    const auto indexOfReturning = [&](int line) {
        const auto r = s.raw(line);
        for (size_t k = 0; k < r.size(); ++k)
            if (r[k].rect.x == 75) return k;
        return r.size();
    };
    if (GetParam() == 0) {
        EXPECT_EQ(6, s.count(1));
        EXPECT_EQ(2u, s.raw(1)[indexOfReturning(1)].flags);
        return;
    }
    ASSERT_EQ(7, s.count(1));
    EXPECT_EQ(6u, indexOfReturning(1));
    EXPECT_EQ(0u, s.raw(1)[6].flags);
    EXPECT_EQ(2u, s.raw(1).back().flags);  // the stray one stays rejected
    // Line 0 leaves it rejected behind its count.
    EXPECT_GE(indexOfReturning(0), 6u);
    EXPECT_EQ(2u, s.raw(0)[indexOfReturning(0)].flags);
}

INSTANTIATE_TEST_SUITE_P(MaskTest, Reinstatement, ::testing::Values(0, 1));

}  // namespace
