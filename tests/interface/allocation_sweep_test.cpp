// allocation_sweep_test.cpp: every allocation of a whole call fails once in
// turn. Each failure must come back as the out-of-memory code, with nothing
// leaked and the reused result marked not computed, whichever stage it hits
// (records, rotation and slant search, extraction, segmentation, gap fill).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "koc/koc.h"
#include "support/fakes.hpp"
#include "support/text_image.hpp"

namespace {

enum class Entry { Image8, Image16, Range16, Extract8, Extract16 };

struct Case {
    Entry entry;
    bool search;
    std::string name;
};

// Two short lines, one per paragraph, small enough that a sweep over every
// allocation stays quick under the sanitizers.
test::TextLine sweepLine()
{
    test::TextLine line;
    line.width = 200;
    line.height = 90;
    line.count = 4;
    line.originY = 10;
    line.glyphHeight = 18;
    line.glyphWidth = 10;
    line.pitch = 16;
    line.angleDeg = 2.0;
    return line;
}

struct Images {
    kimg_image image8{};
    kimg_image image16{};
    kimg_image mask{};
    k3img_rangeImage16 range{};
    Images()
    {
        const test::TextLine line = sweepLine();
        image8 = line.render(KIMG_DEPTH_8);
        image16 = line.render(KIMG_DEPTH_16, 256);
        mask = test::makeImage8(line.width, line.height, [](int x, int y) { return (x % 23 == 5 && y % 7 == 2) ? 0 : 255; });
        k3img_rangeImage16_construct(&range);
        k3img_rangeImage16_init(&range, &image16, &mask);
    }
    ~Images()
    {
        k3img_rangeImage16_destruct(&range);
        kimg_image_destruct(&mask);
        kimg_image_destruct(&image16);
        kimg_image_destruct(&image8);
    }
};

// The records of one call, built and torn down inside the allocator's
// lifetime so its live-block count covers everything.
struct Records {
    koc_charSegmentRunParams params{};
    koc_charSegmentResult result{};
    kstd_vector_kmath_shapeAffineRect rects{};
    koc_lineExtractParams lineParams{};
    koc_lineExtractResult line{};
    explicit Records(bool search)
    {
        koc_charSegmentRunParams_construct(&params);
        koc_charSegmentResult_construct(&result);
        kstd_vector_kmath_shapeAffineRect_constructEmpty(&rects);
        koc_lineExtractParams_construct(&lineParams);
        koc_lineExtractResult_construct(&line);
        for (const auto& r : {test::boxRect(2, 2, 196, 40), test::boxRect(2, 44, 196, 40)}) {
            kstd_vector_kmath_shapeAffineRect_pushBack(&rects, &r);
        }
        params.maxLineAngle = search ? 4 : 0;
        params.maxSkewAngle = search ? 4 : 0;
        lineParams.maxLineAngle = params.maxLineAngle;
        lineParams.maxSkewAngle = params.maxSkewAngle;
    }
    ~Records()
    {
        koc_lineExtractResult_destruct(&line);
        koc_lineExtractParams_destruct(&lineParams);
        kstd_vector_kmath_shapeAffineRect_destruct(&rects);
        koc_charSegmentResult_destruct(&result);
        koc_charSegmentRunParams_destruct(&params);
    }
    int32_t run(Entry entry, const Images& images)
    {
        const auto* first = static_cast<const kmath_shapeAffineRect*>(rects.base.begin);
        switch (entry) {
        case Entry::Image8: return koc_segmentCharacters8(&images.image8, &rects, &params, &result);
        case Entry::Image16: return koc_segmentCharacters16(&images.image16, &rects, &params, &result);
        case Entry::Range16: return koc_segmentCharactersRangeImage16(&images.range, &rects, &params, &result);
        case Entry::Extract8: return koc_extractLine(&images.image8, first, &lineParams, &line);
        case Entry::Extract16: return koc_extractLine16(&images.image16, first, &lineParams, &line);
        }
        return KOC_E_INTERNAL;
    }
    int32_t computed(Entry entry) const
    {
        return entry == Entry::Extract8 || entry == Entry::Extract16 ? line.isLineFound : result.isComputed;
    }
};

class AllocationSweep : public testing::TestWithParam<Case> {};

TEST_P(AllocationSweep, EveryFailureReturnsOutOfMemoryLeaksNothingAndLeavesTheResultNotComputed)
{
    const Case c = GetParam();
    const Images images;
    // A first pass counts the allocations of the set-up (records and a
    // successful call that fills them) and of the call under test.
    long setup = 0, total = 0;
    {
        test::FailingAllocator counting;
        {
            Records r(c.search);
            ASSERT_EQ(0, r.run(c.entry, images));
            ASSERT_EQ(1, r.computed(c.entry));
            setup = counting.allocations();
            ASSERT_EQ(0, r.run(c.entry, images));
            total = counting.allocations() - setup;
        }
        ASSERT_EQ(0, counting.liveBlocks());
    }
    ASSERT_GT(total, 0);
    for (long k = 0; k < total; ++k) {
        test::FailingAllocator failing(setup + k);
        int32_t rc = 0;
        int32_t computed = 0;
        {
            Records r(c.search);
            ASSERT_EQ(0, r.run(c.entry, images));  // leaves the result computed
            ASSERT_EQ(setup, failing.allocations());
            rc = r.run(c.entry, images);
            computed = r.computed(c.entry);
        }
        ASSERT_TRUE(failing.failed()) << "allocation " << k << " of " << total;
        ASSERT_EQ(KOC_E_OUT_OF_MEMORY, rc) << "allocation " << k << " of " << total;
        ASSERT_EQ(0, computed) << "allocation " << k << " of " << total;
        ASSERT_EQ(0, failing.liveBlocks()) << "allocation " << k << " of " << total;
    }
}

INSTANTIATE_TEST_SUITE_P(
    WholeCalls, AllocationSweep,
    testing::Values(Case{Entry::Image8, false, "Image8"}, Case{Entry::Image8, true, "Image8Search"},
                    Case{Entry::Image16, false, "Image16"}, Case{Entry::Image16, true, "Image16Search"},
                    Case{Entry::Range16, false, "Range16"}, Case{Entry::Range16, true, "Range16Search"},
                    Case{Entry::Extract8, false, "Extract8"}, Case{Entry::Extract8, true, "Extract8Search"},
                    Case{Entry::Extract16, false, "Extract16"}, Case{Entry::Extract16, true, "Extract16Search"}),
    [](const testing::TestParamInfo<Case>& p) { return p.param.name; });

}  // namespace
