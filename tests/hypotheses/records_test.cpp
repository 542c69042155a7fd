// records_test.cpp: the per-line working records. A fragment set's index
// view must follow the set wherever it is copied; the line working data is
// created, replaced, copied and released through its own functions and
// must never leak or share with its source.
#include <gtest/gtest.h>

#include <climits>

#include "hypotheses/line_data.hpp"
#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

void fillSet(koc_charFragmentSet* s, std::initializer_list<int32_t> indices)
{
    ASSERT_EQ(0, kstd_vector32s_assignElements(&s->fragmentIndices, indices.begin(), intptr_t(indices.size())));
    s->count = int32_t(indices.size());
    s->indexView = static_cast<const int32_t*>(s->fragmentIndices.base.begin);
}

void expectOwnView(const koc_charFragmentSet& s, std::initializer_list<int32_t> indices)
{
    ASSERT_EQ(int32_t(indices.size()), s.count);
    ASSERT_EQ(s.fragmentIndices.base.begin, static_cast<const void*>(s.indexView));
    int k = 0;
    for (int32_t v : indices) EXPECT_EQ(v, s.indexView[k++]);
}

// ---- fragment sets ----

TEST(FragmentSet, CopiesInsideVectorsAndTreesKeepTheirOwnViews)
{
    koc_charHypothesisTree tree, treeCopy;
    ASSERT_EQ(0, koc_charHypothesisTree_construct(&tree));
    kstd_vector_koc_charFragmentSet* sets = nullptr;
    ASSERT_EQ(0, koc_charHypothesisTree_getFragmentSets(&tree, &sets));
    ASSERT_EQ(&tree.fragmentSets, sets);
    for (int32_t k = 0; k < 9; ++k) {  // enough to relocate the storage a few times
        koc_charFragmentSet s;
        koc_charFragmentSet_construct(&s);
        fillSet(&s, {k, k + 1});
        ASSERT_EQ(0, kstd_vector_koc_charFragmentSet_pushBack(sets, &s));
        koc_charFragmentSet_destruct(&s);
    }
    kstd_vector_koc_charFragmentSet assigned;  // starts with sets of its own, without indices
    ASSERT_EQ(0, kstd_vector_koc_charFragmentSet_construct(&assigned, 2));
    ASSERT_EQ(0, kstd_vector_koc_charFragmentSet_assign(&assigned, sets));
    ASSERT_EQ(0, koc_charHypothesisTree_constructCopy(&treeCopy, &tree));
    ASSERT_EQ(0, koc_charHypothesisTree_destruct(&tree));

    for (const auto* v : {&assigned, &treeCopy.fragmentSets}) {
        ASSERT_EQ(9, v->base.size);
        const auto* s = static_cast<const koc_charFragmentSet*>(v->base.begin);
        for (int32_t k = 0; k < 9; ++k) expectOwnView(s[k], {k, k + 1});
    }
    kstd_vector_koc_charFragmentSet_destruct(&assigned);
    koc_charHypothesisTree_destruct(&treeCopy);
}

TEST(FragmentSet, ResetDropsTheView)
{
    koc_charFragmentSet s;
    ASSERT_EQ(0, koc_charFragmentSet_construct(&s));
    fillSet(&s, {1, 2});
    s.isTooSmall = 1;
    ASSERT_EQ(0, koc_charFragmentSet_reset(&s));
    EXPECT_EQ(0, s.count);
    EXPECT_EQ(nullptr, s.indexView);
    EXPECT_EQ(0, s.isTooSmall);
    EXPECT_EQ(0, s.fragmentIndices.base.size);
    koc_charFragmentSet_destruct(&s);
}

// ---- line working data ----

void fillData(koc_charSegmentLineResultData_* d)
{
    d->status = 3;
    d->croppedCount = 2;
    d->minMergedGap = 1;
    d->blobResults.blobs.push_back({kstd_rect32{1, 2, 3, 4}, 12, 0, 1, 0});
    d->blobResults.runs.push_back({2, 1, 3});
    for (int32_t v : {4, 5}) kstd_vector32s_pushBack(&d->listA, &v);
    kimg_image image = test::makeImage8(4, 3, [](int x, int y) { return 10 * y + x; });
    kimg_image_assign(&d->sourceImage, &image);
    kimg_image_destruct(&image);
    koc_charFragmentSet s;
    koc_charFragmentSet_construct(&s);
    fillSet(&s, {0, 1, 2});
    kstd_vector_koc_charFragmentSet_pushBack(&d->tree.fragmentSets, &s);
    koc_charFragmentSet_destruct(&s);
    const int32_t step = 1;
    kstd_vector32s_pushBack(&d->runContext.bestPath, &step);
    d->runContext.bestCost = 6;
    koc_charWindow_ w;
    koc_charWindow__construct(&w);
    w.markArea = 31;
    kstd_vector_koc_charWindow__pushBack(&d->windows, &w);
    koc_charWindow__destruct(&w);
}

void checkData(const koc_charSegmentLineResultData_& d)
{
    EXPECT_EQ(3u, d.status);
    EXPECT_EQ(2, d.croppedCount);
    EXPECT_EQ(1, d.minMergedGap);
    ASSERT_EQ(1u, d.blobResults.blobs.size());
    EXPECT_EQ(12, d.blobResults.blobs[0].area);
    ASSERT_EQ(1u, d.blobResults.runs.size());
    EXPECT_EQ(3, d.blobResults.runs[0].length);
    ASSERT_EQ(2, d.listA.base.size);
    EXPECT_EQ(5, static_cast<const int32_t*>(d.listA.base.begin)[1]);
    kimg_windowConst w;
    ASSERT_EQ(0, kimg_windowConst_init(&w, &d.sourceImage));
    EXPECT_EQ(23, static_cast<const uint8_t*>(w.pixels)[2 * w.pitch + 3]);
    ASSERT_EQ(1, d.tree.fragmentSets.base.size);
    expectOwnView(*static_cast<const koc_charFragmentSet*>(d.tree.fragmentSets.base.begin), {0, 1, 2});
    ASSERT_EQ(1, d.runContext.bestPath.base.size);
    EXPECT_EQ(6, d.runContext.bestCost);
    ASSERT_EQ(1, d.windows.base.size);
    EXPECT_EQ(31, static_cast<const koc_charWindow_*>(d.windows.base.begin)->markArea);
}

TEST(LineData, NewReplacesWhatThePointerHeldAndDeleteReleasesAll)
{
    test::FailingAllocator alloc;
    koc_charSegmentLineResultData_* data = nullptr;
    EXPECT_EQ(0, koc_charSegmentLineResultData__delete(&data));
    ASSERT_EQ(0, koc_charSegmentLineResultData__new(&data));
    fillData(data);
    ASSERT_EQ(0, koc_charSegmentLineResultData__new(&data));
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(0, data->listA.base.size);
    EXPECT_EQ(nullptr, data->sourceImage.store);
    EXPECT_EQ(0, koc_charSegmentLineResultData__delete(&data));
    EXPECT_EQ(nullptr, data);
    EXPECT_EQ(0, alloc.liveBlocks());
}

TEST(LineData, AssignCopiesEverythingAndResetClearsIt)
{
    koc_charSegmentLineResultData_* src = nullptr;
    koc_charSegmentLineResultData_* dst = nullptr;
    ASSERT_EQ(0, koc_charSegmentLineResultData__new(&src));
    ASSERT_EQ(0, koc_charSegmentLineResultData__new(&dst));
    fillData(src);
    ASSERT_EQ(0, koc_charSegmentLineResultData__assign(dst, src));
    EXPECT_NE(src->sourceImage.store, dst->sourceImage.store);  // working pixels are not shared
    ASSERT_EQ(0, koc_charSegmentLineResultData__delete(&src));
    checkData(*dst);

    ASSERT_EQ(0, koc_charSegmentLineResultData__reset(dst));
    EXPECT_EQ(0u, dst->status);
    EXPECT_EQ(0, dst->croppedCount);
    EXPECT_EQ(INT32_MAX, dst->minMergedGap);
    EXPECT_TRUE(dst->blobResults.blobs.empty());
    EXPECT_EQ(0, dst->listA.base.size);
    EXPECT_EQ(nullptr, dst->sourceImage.store);
    EXPECT_EQ(0, dst->tree.fragmentSets.base.size);
    EXPECT_EQ(0, dst->runContext.bestPath.base.size);
    EXPECT_EQ(INT32_MAX, dst->runContext.bestCost);
    EXPECT_EQ(0, dst->windows.base.size);
    koc_charSegmentLineResultData__delete(&dst);
}

// A copy that fails part-way must read as unfinished (status 0) and still
// release everything.
TEST(LineData, FailedAssignLeavesStatusClear)
{
    const auto setUp = [](koc_charSegmentLineResultData_** src, koc_charSegmentLineResultData_** dst) {
        ASSERT_EQ(0, koc_charSegmentLineResultData__new(src));
        fillData(*src);
        ASSERT_EQ(0, koc_charSegmentLineResultData__new(dst));
        (*dst)->status = 1;
    };
    long setUpCount = 0;
    {
        test::FailingAllocator counter;
        koc_charSegmentLineResultData_* src = nullptr;
        koc_charSegmentLineResultData_* dst = nullptr;
        setUp(&src, &dst);
        setUpCount = counter.allocations();
        koc_charSegmentLineResultData__delete(&src);
        koc_charSegmentLineResultData__delete(&dst);
    }
    for (long k = 0;; ++k) {
        test::FailingAllocator alloc(setUpCount + k, true);
        koc_charSegmentLineResultData_* src = nullptr;
        koc_charSegmentLineResultData_* dst = nullptr;
        setUp(&src, &dst);
        const int32_t rc = koc_charSegmentLineResultData__assign(dst, src);
        if (rc < 0) {
            EXPECT_EQ(KOC_E_OUT_OF_MEMORY, rc) << k;
            EXPECT_EQ(0u, dst->status) << k;
        } else {
            checkData(*dst);
        }
        koc_charSegmentLineResultData__delete(&src);
        koc_charSegmentLineResultData__delete(&dst);
        EXPECT_EQ(0, alloc.liveBlocks()) << k;
        if (!alloc.failed()) break;
        ASSERT_LT(k, 200);
    }
}

// Construct in caller storage: every failing allocation comes back as its
// code and leaves nothing behind; a built record destructs to nothing.
TEST(LineData, ConstructInPlaceFailsCleanlyAndDestructsToNothing)
{
    alignas(koc_charSegmentLineResultData_) unsigned char storage[sizeof(koc_charSegmentLineResultData_)];
    auto* d = reinterpret_cast<koc_charSegmentLineResultData_*>(storage);
    for (long failAt = 0;; ++failAt) {
        test::FailingAllocator alloc(failAt);
        const int32_t rc = koc_charSegmentLineResultData__construct(d);
        if (rc == 0) {
            EXPECT_EQ(0, koc_charSegmentLineResultData__destruct(d));
            EXPECT_EQ(0, alloc.liveBlocks());
            break;
        }
        EXPECT_EQ(test::FailingAllocator::failureCode(), rc) << failAt;
        EXPECT_EQ(0, alloc.liveBlocks()) << failAt;
        ASSERT_LT(failAt, 100);
    }
    test::FailingAllocator counter;
    ASSERT_EQ(0, koc_charSegmentLineResultData__construct(d));
    fillData(d);
    checkData(*d);
    EXPECT_EQ(0, koc_charSegmentLineResultData__destruct(d));
    EXPECT_EQ(0, counter.liveBlocks());
}

}  // namespace
