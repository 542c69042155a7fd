// single_line_test.cpp: single-line selection on hand-made elements: the
// strongest band keeps its elements in front, others go behind the count,
// and mask-rejected elements return only under the mask test.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "koc/koc.h"
#include "segment/segment_internal.hpp"

#include "support/elements.hpp"

namespace {

using test::element;
using test::Q;
using test::q;

struct Selection {
    koc_charSegmentRunParams params;
    koc_charSegmentLineResult line;
    kstd_vector32s counts;

    Selection(const std::vector<koc_charSegmentElementInfo>& raw, int32_t good)
    {
        koc_charSegmentRunParams_construct(&params);
        koc_charSegmentLineResult_construct(&line);
        kstd_vector_koc_charSegmentElementInfo_assignElements(&line.lineData->rawElements, raw.data(),
                                                              intptr_t(raw.size()));
        kstd_vector32s_constructEmpty(&counts);
        kstd_vector32s_resizeFill(&counts, 1, &good);
    }
    ~Selection()
    {
        kstd_vector32s_destruct(&counts);
        koc_charSegmentLineResult_destruct(&line);
        koc_charSegmentRunParams_destruct(&params);
    }
    int32_t run() { return koc::segment::groupElementsSingleLine(&params, nullptr, &line, &counts); }
    int32_t count() const { return static_cast<const int32_t*>(counts.base.begin)[0]; }
    std::vector<koc_charSegmentElementInfo> raw() const
    {
        const auto& v = line.lineData->rawElements;
        const auto* b = static_cast<const koc_charSegmentElementInfo*>(v.base.begin);
        return {b, b + v.base.size};
    }
};

// Eight glyphs on one line, top at 20.
std::vector<koc_charSegmentElementInfo> glyphRow()
{
    std::vector<koc_charSegmentElementInfo> raw;
    for (int k = 0; k < 8; ++k) raw.push_back(element(10 + 20 * k, 20, 14, 24));
    return raw;
}

TEST(SingleLineSelection, ElementsOffTheBandGoBehindTheCountInOrder)
{
    auto raw = glyphRow();
    raw.insert(raw.begin() + 3, element(60, 70, 6, 6));   // a speck well below the line
    raw.insert(raw.begin() + 5, element(100, 2, 6, 12));  // a mark mostly above it
    Selection s(raw, int32_t(raw.size()));
    ASSERT_EQ(0, s.run());
    ASSERT_EQ(8, s.count());
    const auto out = s.raw();
    for (int k = 0; k < 8; ++k) EXPECT_EQ(10 + 20 * k, out[size_t(k)].rect.x) << k;  // order kept
    EXPECT_EQ((Q{60, 70, 6, 6}), q(out[8].rect));
    EXPECT_EQ((Q{100, 2, 6, 12}), q(out[9].rect));
    EXPECT_EQ(8u, out[8].flags);
    EXPECT_EQ(8u, out[9].flags);
    EXPECT_DOUBLE_EQ(0.0, out[8].inBandFraction);
    EXPECT_DOUBLE_EQ(1.0, out[0].inBandFraction);
    // Band and ink: the glyphs' x-range and rows.
    const auto& data = *s.line.lineData;
    EXPECT_EQ(10, data.bandRect.x);
    EXPECT_EQ(154, data.bandRect.width);
    EXPECT_EQ((Q{10, 20, 154, 24}), q(data.inkRect));
}

class SingleLineReinstatement : public ::testing::TestWithParam<int32_t> {};

// Behind the good glyphs: a mask-rejected glyph on the line, one outside the
// line's x-range and one rejected for another reason. Only the first comes
// back, and only under the mask test.
TEST_P(SingleLineReinstatement, OnlyAMaskRejectedElementOnTheBandReturns)
{
    auto raw = glyphRow();
    raw.push_back(element(300, 20, 14, 24, 2));  // right of the line
    raw.push_back(element(95, 22, 8, 20, 2 | 8));
    raw.push_back(element(75, 22, 8, 20, 2));  // on the line
    Selection s(raw, 8);
    s.params.useLineMaskTest = GetParam();
    ASSERT_EQ(0, s.run());
    const auto out = s.raw();
    if (GetParam() == 0) {
        EXPECT_EQ(8, s.count());
        EXPECT_EQ((Q{75, 22, 8, 20}), q(out.back().rect));
        EXPECT_EQ(2u, out.back().flags);
        return;
    }
    ASSERT_EQ(9, s.count());
    EXPECT_EQ((Q{75, 22, 8, 20}), q(out[8].rect));
    EXPECT_EQ(0u, out[8].flags);
    // The two others were pulled into the walk and sent back behind it.
    EXPECT_EQ(300, out[9].rect.x);
    EXPECT_EQ(95, out[10].rect.x);
    EXPECT_EQ(2u, out[9].flags);
}

INSTANTIATE_TEST_SUITE_P(MaskTest, SingleLineReinstatement, ::testing::Values(0, 1));

}  // namespace
