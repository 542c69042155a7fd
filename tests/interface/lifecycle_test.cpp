// lifecycle_test.cpp: the lifecycle contract every record keeps, checked once
// over all owning record types: nothing leaks, a failed construct or copy
// releases what it built, a failed assign leaves a destructible record whose
// computed flag reads "not computed", and a copy owns all of its memory.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "hypotheses/line_data.hpp"
#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

// Fills every released block with a pattern, so a copy that still points
// into its destroyed source reads garbage even without a sanitizer.
class PoisoningAllocator {
public:
    PoisoningAllocator()
    {
        const ksys_memoryHooks hooks{&allocate, &release, nullptr};
        ksys_memory_setHooks(&hooks);
    }
    ~PoisoningAllocator() { ksys_memory_setHooks(nullptr); }
    PoisoningAllocator(const PoisoningAllocator&) = delete;
    PoisoningAllocator& operator=(const PoisoningAllocator&) = delete;

private:
    static int32_t allocate(void*, intptr_t size, void** block)
    {
        auto* head = static_cast<std::max_align_t*>(std::malloc(sizeof(std::max_align_t) + size_t(size)));
        if (head == nullptr) return KOC_E_OUT_OF_MEMORY;
        *reinterpret_cast<intptr_t*>(head) = size;
        *block = head + 1;
        return 0;
    }
    static void release(void*, void* block)
    {
        auto* head = static_cast<std::max_align_t*>(block) - 1;
        std::memset(block, 0xDD, size_t(*reinterpret_cast<intptr_t*>(head)));
        std::free(head);
    }
};

template <class F>
void bindImage(kimg_image* target, int32_t width, int32_t height, F f)
{
    kimg_image image = test::makeImage8(width, height, f);
    kimg_image_assign(target, &image);
    kimg_image_destruct(&image);
}

template <class V, class E>
const E* at(const V& v, intptr_t i)
{
    return v.base.size > i ? static_cast<const E*>(v.base.begin) + i : nullptr;
}

// ---- one traits struct per record: lifecycle, a non-default filling that
// reaches every owned member, the check of that filling, the computed flag ----

#define KOC_LIFECYCLE_OF(R)                                                              \
    using T = R;                                                                         \
    static constexpr const char* name = #R;                                              \
    static int32_t construct(T* o) { return R##_construct(o); }                          \
    static int32_t constructCopy(T* d, const T* s) { return R##_constructCopy(d, s); }   \
    static int32_t assign(T* d, const T* s) { return R##_assign(d, s); }                 \
    static int32_t destruct(T* o) { return R##_destruct(o); }                            \
    static int32_t reset(T* o) { return R##_reset(o); }

struct NoFlag {
    template <class T>
    static int32_t* flag(T*) { return nullptr; }
};

struct RunParams : NoFlag {
    KOC_LIFECYCLE_OF(koc_charSegmentRunParams)
    static void fill(T* p)
    {
        p->numLines = 3;
        p->cellRectParams.cellRectMode = 2;
        p->spaceParams.minSpaceWidth = 7;
    }
    static void check(const T* p)
    {
        EXPECT_EQ(3, p->numLines);
        EXPECT_EQ(2u, p->cellRectParams.cellRectMode);
        EXPECT_EQ(7, p->spaceParams.minSpaceWidth);
    }
};

struct StringStats : NoFlag {
    KOC_LIFECYCLE_OF(koc_stringStats)
    static void fill(T* s)
    {
        s->charCount = 4;
        koc_stringSpacingStats_addWidth(&s->spacingStats, 5);
    }
    static void check(const T* s)
    {
        EXPECT_EQ(4, s->charCount);
        EXPECT_EQ(5, s->spacingStats.widthStats.max);
    }
};

#define KOC_ELEMENT_LISTS(s) \
    {&(s)->rawElements, &(s)->rawAccepted, &(s)->rawRejected, &(s)->charElements, &(s)->charAccepted, &(s)->charRejected}

struct LineStats {
    KOC_LIFECYCLE_OF(koc_charSegmentLineResultStats)
    static int32_t* flag(T* s) { return &s->isComputed; }
    static void fill(T* s)
    {
        s->isComputed = 1;
        s->minGap = 3;
        koc_charSegmentElementStats e;
        koc_charSegmentElementStats_construct(&e);
        for (auto* list : KOC_ELEMENT_LISTS(s)) {
            ++e.area;
            kstd_vector_koc_charSegmentElementStats_pushBack(list, &e);
        }
    }
    static void check(const T* s)
    {
        EXPECT_EQ(1, s->isComputed);
        EXPECT_EQ(3, s->minGap);
        int32_t area = 0;
        for (auto* list : KOC_ELEMENT_LISTS(s)) {
            const auto* e = at<kstd_vector_koc_charSegmentElementStats, koc_charSegmentElementStats>(*list, 0);
            ASSERT_NE(nullptr, e);
            EXPECT_EQ(++area, e->area);
        }
    }
};

struct Char : NoFlag {
    KOC_LIFECYCLE_OF(koc_char)
    static void fill(T* c)
    {
        c->key = koc_charKey{'C', 3};
        bindImage(&c->sourceImage, 5, 5, [](int, int) { return 11; });
        const kstd_rect32 mark{1, 2, 3, 4};
        koc_charMetrics_setRect32(&c->metrics, KOC_CHAR_METRIC_MARK_PIXEL, &mark);
    }
    static void check(const T* c)
    {
        EXPECT_EQ(3, c->key.variant);
        EXPECT_EQ(11, test::pixel8(c->sourceImage, 4, 4));
        EXPECT_EQ(4, c->metrics.pixelRects[1].height);
    }
};

struct Position {
    KOC_LIFECYCLE_OF(koc_charSegmentPositionResult)
    static int32_t* flag(T* p) { return &p->isComputed; }
    static void fill(T* p)
    {
        p->isComputed = 1;
        p->area = 42;
        Char::fill(&p->character);
    }
    static void check(const T* p)
    {
        EXPECT_EQ(1, p->isComputed);
        EXPECT_EQ(42, p->area);
        Char::check(&p->character);
    }
};

struct Line {
    KOC_LIFECYCLE_OF(koc_charSegmentLineResult)
    static int32_t* flag(T* l) { return &l->isFound; }
    static void fill(T* l)
    {
        l->isFound = 1;
        l->polarity = 2;
        l->hasNormalizedRectifiedLineImage = 1;
        bindImage(&l->rectifiedLineImage, 8, 4, [](int x, int y) { return x + 8 * y; });
        bindImage(&l->normalizedRectifiedLineImage, 8, 4, [](int x, int) { return 30 * x; });
        koc_charSegmentPositionResult p;
        koc_charSegmentPositionResult_construct(&p);
        Position::fill(&p);
        kstd_vector_koc_charSegmentPositionResult_pushBack(&l->positionResults, &p);
        koc_charSegmentPositionResult_destruct(&p);
        LineStats::fill(&l->stats);
        for (int32_t v : {5, 6}) kstd_vector32s_pushBack(&l->lineData->listA, &v);
    }
    static void check(const T* l)
    {
        EXPECT_EQ(1, l->isFound);
        EXPECT_EQ(2u, l->polarity);
        EXPECT_EQ(1, l->hasNormalizedRectifiedLineImage);
        EXPECT_EQ(19, test::pixel8(l->rectifiedLineImage, 3, 2));
        EXPECT_EQ(60, test::pixel8(l->normalizedRectifiedLineImage, 2, 3));
        const auto* p = at<kstd_vector_koc_charSegmentPositionResult, koc_charSegmentPositionResult>(l->positionResults, 0);
        ASSERT_NE(nullptr, p);
        Position::check(p);
        LineStats::check(&l->stats);
        ASSERT_NE(nullptr, l->lineData);
        const int32_t* listA = at<kstd_vector32s, int32_t>(l->lineData->listA, 1);
        ASSERT_NE(nullptr, listA);
        EXPECT_EQ(6, *listA);
    }
};

struct Paragraph {
    KOC_LIFECYCLE_OF(koc_charSegmentParagraphResult)
    static int32_t* flag(T* p) { return &p->isComputed; }
    static void fill(T* p)
    {
        p->isComputed = 1;
        ASSERT_EQ(0, kstd_vector_koc_charSegmentLineResult_resize(&p->lineResults, 1));
        Line::fill(static_cast<koc_charSegmentLineResult*>(p->lineResults.base.begin));
    }
    static void check(const T* p)
    {
        EXPECT_EQ(1, p->isComputed);
        const auto* l = at<kstd_vector_koc_charSegmentLineResult, koc_charSegmentLineResult>(p->lineResults, 0);
        ASSERT_NE(nullptr, l);
        Line::check(l);
    }
};

struct Result {
    KOC_LIFECYCLE_OF(koc_charSegmentResult)
    static int32_t* flag(T* r) { return &r->isComputed; }
    static void fill(T* r)
    {
        r->isComputed = 1;
        ASSERT_EQ(0, kstd_vector_koc_charSegmentParagraphResult_resize(&r->paragraphResults, 1));
        Paragraph::fill(static_cast<koc_charSegmentParagraphResult*>(r->paragraphResults.base.begin));
    }
    static void check(const T* r)
    {
        EXPECT_EQ(1, r->isComputed);
        const auto* p =
            at<kstd_vector_koc_charSegmentParagraphResult, koc_charSegmentParagraphResult>(r->paragraphResults, 0);
        ASSERT_NE(nullptr, p);
        Paragraph::check(p);
    }
};

// A vertical step: one edgelet on each of the 6 rows inside the border.
void fillStepEdgelets(kip_rowEdgeletSet* set)
{
    kimg_image step = test::makeImage8(8, 8, [](int x, int) { return x < 4 ? 20 : 200; });
    kimg_image mag, dir;
    kimg_image_construct(&mag);
    kimg_image_construct(&dir);
    kip_rowEdgeletParams params;
    kip_rowEdgeletParams_construct(&params);
    kip_edgeDetectMagAng8_8(&step, &mag, &dir);
    kip_edgeDetectRowEdgeletsFromMagAng8(&mag, &dir, &params, set);
    kimg_image_destruct(&step);
    kimg_image_destruct(&mag);
    kimg_image_destruct(&dir);
}

void checkStepEdgelets(const kip_rowEdgeletSet* set)
{
    int32_t n = 0;
    EXPECT_EQ(0, kip_rowEdgeletSet_getNumEdgelets(set, &n));
    EXPECT_EQ(6, n);
    const kip_rowEdgelet* e = nullptr;
    kstd_pair32 origin{};
    ASSERT_EQ(0, kip_rowEdgeletSet_getRowSubsetMinimalConst(set, 3, &e, &n, &origin));
    EXPECT_EQ(1, n);
    EXPECT_EQ(180, e[0].magnitude);
    EXPECT_EQ(3, e[0].column);
    EXPECT_EQ(4, origin.second);
}

struct RowEdgelets : NoFlag {
    KOC_LIFECYCLE_OF(kip_rowEdgeletSet)
    static void fill(T* s) { fillStepEdgelets(s); }
    static void check(const T* s) { checkStepEdgelets(s); }
};

struct LineExtract {
    KOC_LIFECYCLE_OF(koc_lineExtractResult)
    static int32_t* flag(T* r) { return &r->isLineFound; }
    static void fill(T* r)
    {
        r->isLineFound = 1;
        r->params.maxHeight = 55;
        bindImage(&r->lineImage, 6, 3, [](int, int) { return 9; });
        const kstd_rect32 rect{0, 0, 6, 3};
        kimg_imageRle_assignEmpty(&r->lineMask, &rect);
        kimg_imageRle_addRun(&r->lineMask, 1, 2, 3);
        fillStepEdgelets(&r->lineEdgeletRecord->edgelets);
        r->lineEdgeletRecord->isValid = 1;
    }
    static void check(const T* r)
    {
        EXPECT_EQ(1, r->isLineFound);
        EXPECT_EQ(55, r->params.maxHeight);
        EXPECT_EQ(9, test::pixel8(r->lineImage, 5, 2));
        kstd_rect32 rect;
        const int32_t* rowStart = nullptr;
        const kimg_run* runs = nullptr;
        ASSERT_EQ(0, kimg_imageRle_getEncoding(&r->lineMask, &rect, &rowStart, &runs));
        ASSERT_EQ(3, rect.height);
        ASSERT_EQ(1, rowStart[2] - rowStart[1]);
        EXPECT_EQ(3, runs[rowStart[1]].length);
        ASSERT_NE(nullptr, r->lineEdgeletRecord);
        EXPECT_EQ(1u, r->lineEdgeletRecord->isValid);
        checkStepEdgelets(&r->lineEdgeletRecord->edgelets);
    }
};

struct Window : NoFlag {
    KOC_LIFECYCLE_OF(koc_charWindow_)
    static void fill(T* w)
    {
        w->key.code = 'B';
        w->markRect = kstd_rect32{1, 2, 3, 4};
    }
    static void check(const T* w)
    {
        EXPECT_EQ('B', w->key.code);
        EXPECT_EQ(4, w->markRect.height);
    }
};

struct FragmentSet : NoFlag {
    KOC_LIFECYCLE_OF(koc_charFragmentSet)
    static void fill(T* s)
    {
        for (int32_t v : {3, 4, 5}) kstd_vector32s_pushBack(&s->fragmentIndices, &v);
        s->count = 3;
        s->indexView = static_cast<const int32_t*>(s->fragmentIndices.base.begin);
        s->mergedElement.area = 77;
    }
    static void check(const T* s)
    {
        ASSERT_EQ(3, s->count);
        ASSERT_EQ(s->fragmentIndices.base.begin, static_cast<const void*>(s->indexView));
        EXPECT_EQ(5, s->indexView[2]);
        EXPECT_EQ(77, s->mergedElement.area);
    }
};

struct Tree : NoFlag {
    KOC_LIFECYCLE_OF(koc_charHypothesisTree)
    using Level = kstd_vector_koc_charHypothesisTreeNode_;
    static void fill(T* t)
    {
        t->runParams.numLines = 2;
        ASSERT_EQ(0, kstd_vector_koc_charFragmentSet_resize(&t->fragmentSets, 1));
        FragmentSet::fill(static_cast<koc_charFragmentSet*>(t->fragmentSets.base.begin));
        ASSERT_EQ(0, kstd_vector_vector_koc_charHypothesisTreeNode__resize(&t->levels, 1));
        const koc_charHypothesisTreeNode_ node{0, 1};
        kstd_vector_koc_charHypothesisTreeNode__pushBack(static_cast<Level*>(t->levels.base.begin), &node);
    }
    static void check(const T* t)
    {
        EXPECT_EQ(2, t->runParams.numLines);
        const auto* set = at<kstd_vector_koc_charFragmentSet, koc_charFragmentSet>(t->fragmentSets, 0);
        ASSERT_NE(nullptr, set);
        FragmentSet::check(set);
        const auto* level = at<kstd_vector_vector_koc_charHypothesisTreeNode_, Level>(t->levels, 0);
        ASSERT_NE(nullptr, level);
        const auto* node = at<Level, koc_charHypothesisTreeNode_>(*level, 0);
        ASSERT_NE(nullptr, node);
        EXPECT_EQ(1, node->nextLevel);
    }
};

struct TraitsName {
    template <class Traits>
    static std::string GetName(int) { return Traits::name; }
};

template <class Traits>
class RecordLifecycle : public ::testing::Test {
protected:
    using T = typename Traits::T;

    // Source filled, destination fresh but marked computed, so that a failed
    // assign has a flag to clear.
    static void setUp(T* src, T* dst)
    {
        ASSERT_EQ(0, Traits::construct(src));
        Traits::fill(src);
        ASSERT_EQ(0, Traits::construct(dst));
        if (int32_t* f = Traits::flag(dst)) *f = 1;
    }
    static long setUpAllocations()
    {
        test::FailingAllocator counter;
        T src, dst;
        setUp(&src, &dst);
        Traits::destruct(&dst);
        Traits::destruct(&src);
        return counter.allocations();
    }
};

using RecordTypes = ::testing::Types<RunParams, Result, Paragraph, Line, Position, LineExtract, StringStats,
                                     LineStats, Window, FragmentSet, Tree, Char, RowEdgelets>;
TYPED_TEST_SUITE(RecordLifecycle, RecordTypes, TraitsName);

TYPED_TEST(RecordLifecycle, EveryPathReleasesEverything)
{
    using Tr = TypeParam;
    test::FailingAllocator alloc;
    typename Tr::T a, b, c;
    ASSERT_EQ(0, Tr::construct(&a));
    Tr::fill(&a);
    ASSERT_EQ(0, Tr::constructCopy(&b, &a));
    ASSERT_EQ(0, Tr::reset(&a));
    if (int32_t* f = Tr::flag(&a)) {
        EXPECT_EQ(0, *f);
    }
    Tr::fill(&a);  // a reset record is fully usable again
    Tr::check(&a);
    ASSERT_EQ(0, Tr::construct(&c));
    EXPECT_EQ(0, Tr::assign(&c, &b));
    EXPECT_EQ(0, Tr::assign(&b, &a));  // onto a record that owns data already
    Tr::check(&b);
    Tr::check(&c);
    EXPECT_EQ(0, Tr::destruct(&a));
    EXPECT_EQ(0, Tr::destruct(&b));
    EXPECT_EQ(0, Tr::destruct(&c));
    EXPECT_EQ(0, alloc.liveBlocks());
}

TYPED_TEST(RecordLifecycle, SelfAssignChangesNothing)
{
    using Tr = TypeParam;
    typename Tr::T a;
    ASSERT_EQ(0, Tr::construct(&a));
    Tr::fill(&a);
    std::vector<unsigned char> before(sizeof a);
    std::memcpy(before.data(), &a, sizeof a);
    EXPECT_EQ(0, Tr::assign(&a, &a));
    EXPECT_EQ(0, std::memcmp(before.data(), &a, sizeof a));
    Tr::check(&a);
    Tr::destruct(&a);
}

// Exhaustion from allocation failAt on, and a single refused allocation:
// either way the failure code comes back unchanged and nothing stays behind.
TYPED_TEST(RecordLifecycle, FailedConstructReleasesWhatItBuilt)
{
    using Tr = TypeParam;
    for (const bool failAll : {true, false}) {
        for (long failAt = 0;; ++failAt) {
            test::FailingAllocator alloc(failAt, failAll);
            typename Tr::T obj;
            const int32_t rc = Tr::construct(&obj);
            if (rc < 0) {
                EXPECT_EQ(KOC_E_OUT_OF_MEMORY, rc) << failAt;
            } else {
                EXPECT_EQ(0, Tr::destruct(&obj));
            }
            EXPECT_EQ(0, alloc.liveBlocks()) << "failAt " << failAt << " failAll " << failAll;
            if (!alloc.failed()) break;
            ASSERT_LT(failAt, 200);
        }
    }
}

TYPED_TEST(RecordLifecycle, FailedCopyReleasesWhatItBuilt)
{
    using Tr = TypeParam;
    typename Tr::T src;
    ASSERT_EQ(0, Tr::construct(&src));
    Tr::fill(&src);
    for (long failAt = 0;; ++failAt) {
        test::FailingAllocator alloc(failAt, true);
        typename Tr::T copy;
        const int32_t rc = Tr::constructCopy(&copy, &src);
        if (rc < 0) {
            EXPECT_EQ(KOC_E_OUT_OF_MEMORY, rc) << failAt;
        } else {
            Tr::check(&copy);
            EXPECT_EQ(0, Tr::destruct(&copy));
        }
        EXPECT_EQ(0, alloc.liveBlocks()) << failAt;
        if (!alloc.failed()) break;
        ASSERT_LT(failAt, 200);
    }
    Tr::destruct(&src);
}

TYPED_TEST(RecordLifecycle, FailedAssignLeavesDestinationNotComputed)
{
    using Tr = TypeParam;
    const long setUpCount = TestFixture::setUpAllocations();
    for (long k = 0;; ++k) {
        test::FailingAllocator alloc(setUpCount + k, true);
        typename Tr::T src, dst;
        TestFixture::setUp(&src, &dst);
        const int32_t rc = Tr::assign(&dst, &src);
        if (rc < 0) {
            EXPECT_EQ(KOC_E_OUT_OF_MEMORY, rc) << k;
            if (int32_t* f = Tr::flag(&dst)) {
                EXPECT_EQ(0, *f) << "allocation " << k << " failed";
            }
        } else {
            Tr::check(&dst);
        }
        EXPECT_EQ(0, Tr::destruct(&dst));
        EXPECT_EQ(0, Tr::destruct(&src));
        EXPECT_EQ(0, alloc.liveBlocks()) << k;
        if (!alloc.failed()) break;
        ASSERT_LT(k, 200);
    }
}

TYPED_TEST(RecordLifecycle, CopyOutlivesItsSource)
{
    using Tr = TypeParam;
    PoisoningAllocator poison;
    typename Tr::T src, copy, target;
    ASSERT_EQ(0, Tr::construct(&src));
    Tr::fill(&src);
    ASSERT_EQ(0, Tr::constructCopy(&copy, &src));
    ASSERT_EQ(0, Tr::construct(&target));
    Tr::fill(&target);
    ASSERT_EQ(0, Tr::assign(&target, &src));
    ASSERT_EQ(0, Tr::destruct(&src));
    Tr::check(&copy);
    Tr::check(&target);
    Tr::destruct(&copy);
    Tr::destruct(&target);
}

// ---- vectors of line results ----

class LineVectorAssign : public ::testing::TestWithParam<int> {};

// The destination starts shorter, equal and longer than the source, so the
// element-wise assign, the copy-construct and the destruct paths all run.
TEST_P(LineVectorAssign, CopiesEveryLineDeeply)
{
    PoisoningAllocator poison;
    kstd_vector_koc_charSegmentLineResult src, dst;
    ASSERT_EQ(0, kstd_vector_koc_charSegmentLineResult_construct(&src, 2));
    ASSERT_EQ(0, kstd_vector_koc_charSegmentLineResult_construct(&dst, GetParam()));
    auto* lines = static_cast<koc_charSegmentLineResult*>(src.base.begin);
    for (int i = 0; i < 2; ++i) {
        Line::fill(&lines[i]);
        lines[i].skewAngle = i;
    }
    ASSERT_EQ(0, kstd_vector_koc_charSegmentLineResult_assign(&dst, &src));
    ASSERT_EQ(0, kstd_vector_koc_charSegmentLineResult_destruct(&src));
    ASSERT_EQ(2, dst.base.size);
    for (int i = 0; i < 2; ++i) {
        const auto* line = at<kstd_vector_koc_charSegmentLineResult, koc_charSegmentLineResult>(dst, i);
        Line::check(line);
        EXPECT_EQ(i, line->skewAngle);
    }
    kstd_vector_koc_charSegmentLineResult_destruct(&dst);
}

INSTANTIATE_TEST_SUITE_P(DestinationSize, LineVectorAssign, ::testing::Values(0, 2, 3));

// ---- a copy of a record whose reset failed ----

// A reset that cannot allocate fresh working data leaves the record without
// any; a copy of it must not keep working data of its own earlier run.
template <class Tr, class IsEmpty>
void copyAfterFailedReset(IsEmpty isEmpty)
{
    typename Tr::T src, dst;
    const auto setUp = [&] {
        ASSERT_EQ(0, Tr::construct(&src));
        ASSERT_EQ(0, Tr::construct(&dst));
        Tr::fill(&dst);
    };
    long setUpCount = 0;
    {
        test::FailingAllocator counter;
        setUp();
        setUpCount = counter.allocations();
        Tr::destruct(&src);
        Tr::destruct(&dst);
    }
    test::FailingAllocator alloc(setUpCount, false);  // the reset's allocation only
    setUp();
    EXPECT_EQ(KOC_E_OUT_OF_MEMORY, Tr::reset(&src));
    EXPECT_EQ(0, Tr::assign(&dst, &src));
    EXPECT_TRUE(isEmpty(dst));
    Tr::destruct(&src);
    Tr::destruct(&dst);
    EXPECT_EQ(0, alloc.liveBlocks());
}

TEST(FailedReset, CopyKeepsNoStaleWorkingData)
{
    copyAfterFailedReset<Line>([](const koc_charSegmentLineResult& l) {
        return l.lineData == nullptr || l.lineData->listA.base.size == 0;
    });
    copyAfterFailedReset<LineExtract>([](const koc_lineExtractResult& r) {
        int32_t n = -1;
        return r.lineEdgeletRecord == nullptr ||
               (kip_rowEdgeletSet_getNumEdgelets(&r.lineEdgeletRecord->edgelets, &n) == 0 && n == 0);
    });
}

// ---- line statistics equality ----

TEST(LineStatsCompare, NaNMatchesButListLengthsMustAgree)
{
    koc_charSegmentLineResultStats a, b;
    ASSERT_EQ(0, koc_charSegmentLineResultStats_construct(&a));
    LineStats::fill(&a);
    ASSERT_EQ(0, koc_charSegmentLineResultStats_constructCopy(&b, &a));
    int32_t equal = -1;

    a.foldedSkewAngle = std::numeric_limits<double>::quiet_NaN();
    b.foldedSkewAngle = 1.0;
    ASSERT_EQ(0, koc_charSegmentLineResultStats_compareEqual(&a, &b, &equal));
    EXPECT_EQ(1, equal);

    koc_charSegmentElementStats extra;
    koc_charSegmentElementStats_construct(&extra);
    kstd_vector_koc_charSegmentElementStats_pushBack(&b.charRejected, &extra);
    ASSERT_EQ(0, koc_charSegmentLineResultStats_compareEqual(&a, &b, &equal));
    EXPECT_EQ(0, equal);
    ASSERT_EQ(0, koc_charSegmentLineResultStats_compareEqual(&b, &a, &equal));
    EXPECT_EQ(0, equal);

    kstd_vector_koc_charSegmentElementStats_popBack(&b.charRejected);
    static_cast<koc_charSegmentElementStats*>(b.rawElements.base.begin)->area += 1;
    ASSERT_EQ(0, koc_charSegmentLineResultStats_compareEqual(&a, &b, &equal));
    EXPECT_EQ(0, equal);

    koc_charSegmentLineResultStats_destruct(&a);
    koc_charSegmentLineResultStats_destruct(&b);
}

}  // namespace
