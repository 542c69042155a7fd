// vector_test.cpp: the generic vector through its typed families: element
// lifecycles, aliasing, failure atomicity, new/newClone/delete.
#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

std::vector<int32_t> values(const kstd_vector32s& v)
{
    const auto* b = static_cast<const int32_t*>(v.base.begin);
    return std::vector<int32_t>(b, b + v.base.size);
}

struct Ints {
    Ints() { EXPECT_EQ(0, kstd_vector32s_constructEmpty(&v)); }
    explicit Ints(std::initializer_list<int32_t> init)
    {
        EXPECT_EQ(0, kstd_vector32s_constructFromBlock(&v, init.begin(), static_cast<intptr_t>(init.size())));
    }
    ~Ints() { kstd_vector32s_destruct(&v); }
    kstd_vector32s v;
};

TEST(VectorInts, InsertEraseAndIndexChecks)
{
    Ints a{1, 2, 3};
    const int32_t block[] = {7, 8};
    ASSERT_EQ(0, kstd_vector32s_insert(&a.v, 1, block, 2));
    EXPECT_EQ((std::vector<int32_t>{1, 7, 8, 2, 3}), values(a.v));
    ASSERT_EQ(0, kstd_vector32s_erase(&a.v, 0, 2));
    EXPECT_EQ((std::vector<int32_t>{8, 2, 3}), values(a.v));
    EXPECT_EQ(KOC_E_INDEX_OUT_OF_RANGE, kstd_vector32s_insert(&a.v, 4, block, 1));
    EXPECT_EQ(KOC_E_INDEX_OUT_OF_RANGE, kstd_vector32s_erase(&a.v, 2, 2));
    int32_t* e = nullptr;
    EXPECT_EQ(KOC_E_INDEX_OUT_OF_RANGE, kstd_vector32s_getElement(&a.v, 3, &e));
    EXPECT_EQ(KOC_E_INDEX_OUT_OF_RANGE, kstd_vector32s_getElement(&a.v, -1, &e));
    ASSERT_EQ(0, kstd_vector32s_getElement(&a.v, 2, &e));
    EXPECT_EQ(3, *e);
    ASSERT_EQ(0, kstd_vector32s_popBack(&a.v));
    ASSERT_EQ(0, kstd_vector32s_popBack(&a.v));
    ASSERT_EQ(0, kstd_vector32s_popBack(&a.v));
    EXPECT_EQ(KOC_E_INDEX_OUT_OF_RANGE, kstd_vector32s_popBack(&a.v));
}

// Growing while the value comes from the vector itself must not read freed
// storage (sanitizer builds would catch it).
TEST(VectorInts, PushingOwnElementsWhileGrowingIsSafe)
{
    Ints a{5};
    for (int k = 0; k < 40; ++k) {
        const int32_t* last = static_cast<const int32_t*>(a.v.base.begin) + a.v.base.size - 1;
        ASSERT_EQ(0, kstd_vector32s_pushBack(&a.v, last));
    }
    EXPECT_EQ(41, a.v.base.size);
    const std::vector<int32_t> grown = values(a.v);
    EXPECT_TRUE(std::all_of(grown.begin(), grown.end(), [](int32_t x) { return x == 5; }));
    ASSERT_EQ(0, kstd_vector32s_append(&a.v, &a.v));
    EXPECT_EQ(82, a.v.base.size);
    ASSERT_EQ(0, kstd_vector32s_resizeFill(&a.v, 200, static_cast<const int32_t*>(a.v.base.begin)));
    EXPECT_EQ(5, static_cast<const int32_t*>(a.v.base.begin)[199]);
}

TEST(VectorInts, ResizeZeroesNewElementsAndCursorVisitsEach)
{
    Ints a{4, 4};
    ASSERT_EQ(0, kstd_vector32s_resize(&a.v, 5));
    EXPECT_EQ((std::vector<int32_t>{4, 4, 0, 0, 0}), values(a.v));
    int visited = 0;
    const int32_t* cursor = nullptr;
    for (kstd_vector32s_getNextElementConst(&a.v, &cursor); cursor != nullptr;
         kstd_vector32s_getNextElementConst(&a.v, &cursor)) {
        ++visited;
    }
    EXPECT_EQ(5, visited);
}

TEST(VectorInts, SortUniqueAndCompareEqual)
{
    Ints a{5, -1, 3, 5, 3, -1, 9};
    Ints b{-1, 3, 5, 9};
    ASSERT_EQ(0, kstd_vector32s_sortUnique(&a.v));
    int32_t eq = 0;
    kstd_vector32s_compareEqual(&a.v, &b.v, &eq);
    EXPECT_EQ(1, eq);
    kstd_vector32s_popBack(&b.v);
    kstd_vector32s_compareEqual(&a.v, &b.v, &eq);
    EXPECT_EQ(0, eq);
    Ints empty;
    ASSERT_EQ(0, kstd_vector32s_sortUnique(&empty.v));
}

TEST(VectorInts, FailedGrowthLeavesTheVectorAsItWas)
{
    Ints a{1, 2, 3, 4};
    kstd_vector32s_clearAndFreeMemory(&a.v);
    const int32_t block[] = {1, 2, 3, 4};
    kstd_vector32s_assignElements(&a.v, block, 4);
    const void* storage = a.v.base.begin;
    {
        test::FailingAllocator failing(0, true);
        const int32_t more[] = {9, 9, 9, 9, 9, 9};
        EXPECT_EQ(test::FailingAllocator::failureCode(), kstd_vector32s_insert(&a.v, 2, more, 6));
        EXPECT_EQ(test::FailingAllocator::failureCode(), kstd_vector32s_reserve(&a.v, 100));
    }
    EXPECT_EQ(storage, a.v.base.begin);
    EXPECT_EQ((std::vector<int32_t>{1, 2, 3, 4}), values(a.v));
}

TEST(VectorFamilyNew, NewReleasesWhatThePointerHeldAndDeleteOfNullIsFine)
{
    test::FailingAllocator counting;
    kstd_vector32s* v = nullptr;
    ASSERT_EQ(0, kstd_vector32s_new(&v));
    const int32_t x = 3;
    kstd_vector32s_pushBack(v, &x);
    ASSERT_EQ(0, kstd_vector32s_new(&v));  // the old vector and its block go
    EXPECT_EQ(0, v->base.size);
    EXPECT_EQ(1, counting.liveBlocks());
    ASSERT_EQ(0, kstd_vector32s_delete(&v));
    EXPECT_EQ(nullptr, v);
    EXPECT_EQ(0, kstd_vector32s_delete(&v));
    EXPECT_EQ(0, counting.liveBlocks());
}

TEST(VectorFamilyNew, NewCloneCopiesAndNullSourceClears)
{
    test::FailingAllocator counting;
    Ints src{1, 2};
    kstd_vector32s* v = nullptr;
    ASSERT_EQ(0, kstd_vector32s_newClone(&v, &src.v));
    EXPECT_EQ((std::vector<int32_t>{1, 2}), values(*v));
    EXPECT_NE(src.v.base.begin, v->base.begin);
    ASSERT_EQ(0, kstd_vector32s_newClone(&v, nullptr));
    EXPECT_EQ(nullptr, v);
    kstd_vector32s_destruct(&src.v);
    kstd_vector32s_constructEmpty(&src.v);
    EXPECT_EQ(0, counting.liveBlocks());
}

TEST(VectorFamilyNew, FailingCloneLeavesNoVectorBehind)
{
    Ints src{1, 2, 3};
    for (long failAt = 0; failAt < 2; ++failAt) {
        test::FailingAllocator failing(failAt);
        kstd_vector32s* v = nullptr;
        EXPECT_EQ(test::FailingAllocator::failureCode(), kstd_vector32s_newClone(&v, &src.v));
        EXPECT_EQ(nullptr, v);
        EXPECT_EQ(0, failing.liveBlocks());
    }
}

// Records in a vector go through their own lifecycle: construct on resize,
// deep copy on assign, destruct on erase; a failing element copy midway
// leaves neither half-built elements nor leaks.
TEST(VectorOfRecords, ElementsAreConstructedCopiedAndDestructedThroughTheirLifecycle)
{
    test::FailingAllocator counting;
    {
        kstd_vector_koc_charFragmentSet a, b;
        ASSERT_EQ(0, kstd_vector_koc_charFragmentSet_construct(&a, 3));
        ASSERT_EQ(0, kstd_vector_koc_charFragmentSet_constructEmpty(&b));
        auto* sets = static_cast<koc_charFragmentSet*>(a.base.begin);
        EXPECT_EQ(-1, sets[1].mergedElement.area);  // constructed, so reset
        const int32_t idx[] = {4, 5};
        kstd_vector32s_assignElements(&sets[1].fragmentIndices, idx, 2);
        ASSERT_EQ(0, kstd_vector_koc_charFragmentSet_assign(&b, &a));
        auto* copies = static_cast<koc_charFragmentSet*>(b.base.begin);
        EXPECT_NE(sets[1].fragmentIndices.base.begin, copies[1].fragmentIndices.base.begin);
        EXPECT_EQ(5, static_cast<const int32_t*>(copies[1].fragmentIndices.base.begin)[1]);
        ASSERT_EQ(0, kstd_vector_koc_charFragmentSet_eraseElement(&a, 1));
        EXPECT_EQ(2, a.base.size);
        kstd_vector_koc_charFragmentSet_destruct(&a);
        kstd_vector_koc_charFragmentSet_destruct(&b);
    }
    EXPECT_EQ(0, counting.liveBlocks());
}

TEST(VectorOfRecords, FailedCopyMidwayReleasesTheElementsAlreadyCopied)
{
    kstd_vector_koc_charFragmentSet src;
    ASSERT_EQ(0, kstd_vector_koc_charFragmentSet_construct(&src, 4));
    auto* sets = static_cast<koc_charFragmentSet*>(src.base.begin);
    const int32_t idx[] = {1, 2, 3};
    for (int k = 0; k < 4; ++k) kstd_vector32s_assignElements(&sets[k].fragmentIndices, idx, 3);
    for (long failAt = 0;; ++failAt) {
        test::FailingAllocator failing(failAt);
        kstd_vector_koc_charFragmentSet copy;
        const int32_t rc = kstd_vector_koc_charFragmentSet_constructCopy(&copy, &src);
        if (rc == 0) {
            kstd_vector_koc_charFragmentSet_destruct(&copy);
            EXPECT_EQ(0, failing.liveBlocks());
            break;
        }
        EXPECT_EQ(test::FailingAllocator::failureCode(), rc);
        EXPECT_EQ(0, failing.liveBlocks()) << "failAt=" << failAt;
    }
    kstd_vector_koc_charFragmentSet_destruct(&src);
}

TEST(VectorOfVectors, InnerVectorsAreDeepCopied)
{
    kstd_vector_vector32s outer, copy;
    ASSERT_EQ(0, kstd_vector_vector32s_construct(&outer, 2));
    auto* inner = static_cast<kstd_vector32s*>(outer.base.begin);
    const int32_t x = 11;
    kstd_vector32s_pushBack(&inner[1], &x);
    ASSERT_EQ(0, kstd_vector_vector32s_constructCopy(&copy, &outer));
    kstd_vector32s_clear(&inner[1]);
    const auto* copied = static_cast<const kstd_vector32s*>(copy.base.begin);
    ASSERT_EQ(1, copied[1].base.size);
    EXPECT_EQ(11, static_cast<const int32_t*>(copied[1].base.begin)[0]);
    kstd_vector_vector32s_destruct(&outer);
    kstd_vector_vector32s_destruct(&copy);
}

}  // namespace
