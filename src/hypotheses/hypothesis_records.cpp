// hypothesis_records.cpp: lifecycles of the character window, the fragment
// set, the tree node and the hypothesis tree.
#include "services/lifecycle.hpp"
#include "koc/koc_hypotheses.h"

extern "C" {

// ---- character window ----

KOC_API int32_t koc_charWindow__reset(koc_charWindow_* w) noexcept
{
    KOC_ASSERT(w != nullptr);
    KOC_RETURN_IF_FAILED(koc_charKey_reset(&w->key));
    w->polarity = 4;
    w->markArea = 0;
    w->isSpace = 0;
    w->spaceScore = 0;
    w->generatedCellRect = kstd_rect32{0, 0, 0, 0};
    w->cellRect = kstd_rect32{0, 0, 0, 0};
    w->markRect = kstd_rect32{0, 0, 0, 0};
    w->imageWindow = kstd_rect32{0, 0, 0, 0};
    w->referenceX = 0;
    w->referenceY = 0;
    return 0;
}

KOC_API int32_t koc_charWindow__construct(koc_charWindow_* w) noexcept
{
    KOC_ASSERT(w != nullptr);
    KOC_RETURN_IF_FAILED(koc_charKey_construct(&w->key));
    return koc_charWindow__reset(w);
}

KOC_API int32_t koc_charWindow__destruct(koc_charWindow_* w) noexcept
{
    KOC_ASSERT(w != nullptr);
    return koc_charKey_destruct(&w->key);
}

KOC_API int32_t koc_charWindow__assign(koc_charWindow_* dst, const koc_charWindow_* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    dst->polarity = src->polarity;
    dst->markArea = src->markArea;
    dst->isSpace = src->isSpace;
    dst->spaceScore = src->spaceScore;
    dst->referenceX = src->referenceX;
    dst->referenceY = src->referenceY;
    dst->generatedCellRect = src->generatedCellRect;
    dst->cellRect = src->cellRect;
    dst->markRect = src->markRect;
    dst->imageWindow = src->imageWindow;
    return koc_charKey_assign(&dst->key, &src->key);
}

// ---- fragment set ----

KOC_API int32_t koc_charFragmentSet_reset(koc_charFragmentSet* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->count = 0;
    s->indexView = nullptr;
    s->isTooSmall = 0;
    s->innerGapTotal = 0;
    KOC_RETURN_IF_FAILED(koc_charSegmentElementInfo_reset(&s->mergedElement));
    return kstd_vector32s_clear(&s->fragmentIndices);
}

KOC_API int32_t koc_charFragmentSet_construct(koc_charFragmentSet* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->count = 0;
    s->indexView = nullptr;
    s->isTooSmall = 0;
    s->innerGapTotal = 0;
    KOC_RETURN_IF_FAILED(koc_charSegmentElementInfo_construct(&s->mergedElement));
    return kstd_vector32s_constructEmpty(&s->fragmentIndices);
}

KOC_API int32_t koc_charFragmentSet_destruct(koc_charFragmentSet* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->count = 0;
    s->indexView = nullptr;
    KOC_RETURN_IF_FAILED(koc_charSegmentElementInfo_destruct(&s->mergedElement));
    return kstd_vector32s_destruct(&s->fragmentIndices);
}

// The index view is re-pointed at the destination's own indices before the
// count is copied: a copied set never points into its source.
KOC_API int32_t koc_charFragmentSet_assign(koc_charFragmentSet* dst, const koc_charFragmentSet* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    dst->count = 0;
    dst->indexView = nullptr;
    dst->isTooSmall = src->isTooSmall;
    dst->innerGapTotal = src->innerGapTotal;
    KOC_RETURN_IF_FAILED(koc_charSegmentElementInfo_assign(&dst->mergedElement, &src->mergedElement));
    KOC_RETURN_IF_FAILED(kstd_vector32s_assign(&dst->fragmentIndices, &src->fragmentIndices));
    dst->indexView = static_cast<const int32_t*>(dst->fragmentIndices.base.begin);
    dst->count = src->count;
    return 0;
}

// ---- tree node ----

KOC_API int32_t koc_charHypothesisTreeNode__reset(koc_charHypothesisTreeNode_* n) noexcept
{
    KOC_ASSERT(n != nullptr);
    n->fragmentSetIndex = -1;
    n->nextLevel = -1;
    return 0;
}

// ---- tree ----

KOC_API int32_t koc_charHypothesisTree_construct(koc_charHypothesisTree* t) noexcept
{
    KOC_ASSERT(t != nullptr);
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_construct(&t->runParams));
    koc::OnFailure dropParams([&] { koc_charSegmentRunParams_destruct(&t->runParams); });
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_constructEmpty(&t->fragmentInfos));
    koc::OnFailure dropInfos([&] { kstd_vector_koc_charSegmentElementInfo_destruct(&t->fragmentInfos); });
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charFragmentSet_constructEmpty(&t->fragmentSets));
    koc::OnFailure dropSets([&] { kstd_vector_koc_charFragmentSet_destruct(&t->fragmentSets); });
    KOC_RETURN_IF_FAILED(kstd_vector_vector_koc_charHypothesisTreeNode__constructEmpty(&t->levels));
    dropParams.dismiss();
    dropInfos.dismiss();
    dropSets.dismiss();
    return 0;
}

KOC_API int32_t koc_charHypothesisTree_destruct(koc_charHypothesisTree* t) noexcept
{
    KOC_ASSERT(t != nullptr);
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_destruct(&t->runParams));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_destruct(&t->fragmentInfos));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charFragmentSet_destruct(&t->fragmentSets));
    return kstd_vector_vector_koc_charHypothesisTreeNode__destruct(&t->levels);
}

KOC_API int32_t koc_charHypothesisTree_reset(koc_charHypothesisTree* t) noexcept
{
    KOC_ASSERT(t != nullptr);
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_reset(&t->runParams));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_clear(&t->fragmentInfos));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charFragmentSet_clear(&t->fragmentSets));
    return kstd_vector_vector_koc_charHypothesisTreeNode__clear(&t->levels);
}

KOC_API int32_t koc_charHypothesisTree_assign(koc_charHypothesisTree* dst, const koc_charHypothesisTree* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_assign(&dst->runParams, &src->runParams));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_assign(&dst->fragmentInfos, &src->fragmentInfos));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charFragmentSet_assign(&dst->fragmentSets, &src->fragmentSets));
    return kstd_vector_vector_koc_charHypothesisTreeNode__assign(&dst->levels, &src->levels);
}

KOC_API int32_t koc_charHypothesisTree_getFragmentInfos(koc_charHypothesisTree* t,
                                                        kstd_vector_koc_charSegmentElementInfo** infos) noexcept
{
    KOC_ASSERT(t != nullptr && infos != nullptr);
    *infos = &t->fragmentInfos;
    return 0;
}

KOC_API int32_t koc_charHypothesisTree_getFragmentSets(koc_charHypothesisTree* t,
                                                       kstd_vector_koc_charFragmentSet** sets) noexcept
{
    KOC_ASSERT(t != nullptr && sets != nullptr);
    *sets = &t->fragmentSets;
    return 0;
}

}  // extern "C"

KOC_DEFINE_CONSTRUCT_COPY(koc_charWindow_)
KOC_DEFINE_CONSTRUCT_COPY(koc_charFragmentSet)
KOC_DEFINE_PLAIN_LIFECYCLE(koc_charHypothesisTreeNode_)
KOC_DEFINE_CONSTRUCT_COPY(koc_charHypothesisTree)
