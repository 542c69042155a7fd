// line_data.cpp: lifecycle of the line working data and of the walk's run
// context.
#include "hypotheses/line_data.hpp"

#include <new>

#include "services/lifecycle.hpp"

namespace koc::hypotheses {

namespace {

void setIdentity(kmath_xformLinear* x) noexcept
{
    *x = kmath_xformLinear{{1.0, 0.0, 0.0, 1.0}, {0.0, 0.0}};
}

}  // namespace

int32_t construct(LineRunContext* c) noexcept
{
    KOC_ASSERT(c != nullptr);
    c->currentDepth = 0;
    c->bestCost = INT32_MAX;
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_construct(&c->runParams));
    OnFailure dropParams([&] { koc_charSegmentRunParams_destruct(&c->runParams); });
    KOC_RETURN_IF_FAILED(koc_stringStats_construct(&c->bestStats));
    OnFailure dropStats([&] { koc_stringStats_destruct(&c->bestStats); });
    KOC_RETURN_IF_FAILED(kstd_vector32s_constructEmpty(&c->bestPath));
    OnFailure dropPath([&] { kstd_vector32s_destruct(&c->bestPath); });
    KOC_RETURN_IF_FAILED(kstd_vector_koc_stringStats_constructEmpty(&c->depthStats));
    dropParams.dismiss();
    dropStats.dismiss();
    dropPath.dismiss();
    return 0;
}

int32_t destruct(LineRunContext* c) noexcept
{
    KOC_ASSERT(c != nullptr);
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_destruct(&c->runParams));
    KOC_RETURN_IF_FAILED(koc_stringStats_destruct(&c->bestStats));
    KOC_RETURN_IF_FAILED(kstd_vector32s_destruct(&c->bestPath));
    return kstd_vector_koc_stringStats_destruct(&c->depthStats);
}

int32_t reset(LineRunContext* c) noexcept
{
    KOC_ASSERT(c != nullptr);
    c->currentDepth = 0;
    c->bestCost = INT32_MAX;
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_reset(&c->runParams));
    KOC_RETURN_IF_FAILED(koc_stringStats_reset(&c->bestStats));
    KOC_RETURN_IF_FAILED(kstd_vector32s_clear(&c->bestPath));
    return kstd_vector_koc_stringStats_clear(&c->depthStats);
}

int32_t assign(LineRunContext* dst, const LineRunContext* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    dst->currentDepth = src->currentDepth;
    dst->bestCost = src->bestCost;
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_assign(&dst->runParams, &src->runParams));
    KOC_RETURN_IF_FAILED(koc_stringStats_assign(&dst->bestStats, &src->bestStats));
    KOC_RETURN_IF_FAILED(kstd_vector32s_assign(&dst->bestPath, &src->bestPath));
    return kstd_vector_koc_stringStats_assign(&dst->depthStats, &src->depthStats);
}

// Members are constructed in declaration order; on a failure the ones
// already built are released in reverse order by their guards.
int32_t construct(koc_charSegmentLineResultData_* d) noexcept
{
    KOC_ASSERT(d != nullptr);
    d->status = 0;
    d->bandRect = kstd_rect32{0, 0, 0, 0};
    d->inkRect = kstd_rect32{0, 0, 0, 0};
    d->minMergedGap = INT32_MAX;
    d->maxMergedGap = 0;
    setIdentity(&d->lineFrameScale);
    d->typicalElementHeight = 0.0;
    d->croppedCount = 0;

    KOC_RETURN_IF_FAILED(kstd_vector32s_constructEmpty(&d->listA));
    OnFailure dropA([&] { kstd_vector32s_destruct(&d->listA); });
    KOC_RETURN_IF_FAILED(kstd_vector32s_constructEmpty(&d->listB));
    OnFailure dropB([&] { kstd_vector32s_destruct(&d->listB); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&d->sourceImage));
    OnFailure dropSource([&] { kimg_image_destruct(&d->sourceImage); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&d->workingImage));
    OnFailure dropWorking([&] { kimg_image_destruct(&d->workingImage); });
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_constructEmpty(&d->rawElements));
    OnFailure dropRaw([&] { kstd_vector_koc_charSegmentElementInfo_destruct(&d->rawElements); });
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_constructEmpty(&d->treeElements));
    OnFailure dropTreeElements([&] { kstd_vector_koc_charSegmentElementInfo_destruct(&d->treeElements); });
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_constructEmpty(&d->thirdElements));
    OnFailure dropThird([&] { kstd_vector_koc_charSegmentElementInfo_destruct(&d->thirdElements); });
    KOC_RETURN_IF_FAILED(koc_charHypothesisTree_construct(&d->tree));
    OnFailure dropTree([&] { koc_charHypothesisTree_destruct(&d->tree); });
    KOC_RETURN_IF_FAILED(construct(&d->runContext));
    OnFailure dropContext([&] { destruct(&d->runContext); });
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__constructEmpty(&d->windows));
    OnFailure dropWindows([&] { kstd_vector_koc_charWindow__destruct(&d->windows); });
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_constructEmpty(&d->charElements));
    d->croppedCount = 0;

    dropA.dismiss();
    dropB.dismiss();
    dropSource.dismiss();
    dropWorking.dismiss();
    dropRaw.dismiss();
    dropTreeElements.dismiss();
    dropThird.dismiss();
    dropTree.dismiss();
    dropContext.dismiss();
    dropWindows.dismiss();
    return 0;
}

int32_t destruct(koc_charSegmentLineResultData_* d) noexcept
{
    KOC_ASSERT(d != nullptr);
    d->blobResults.clear();
    KOC_RETURN_IF_FAILED(kstd_vector32s_destruct(&d->listA));
    KOC_RETURN_IF_FAILED(kstd_vector32s_destruct(&d->listB));
    KOC_RETURN_IF_FAILED(kimg_image_destruct(&d->sourceImage));
    KOC_RETURN_IF_FAILED(kimg_image_destruct(&d->workingImage));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_destruct(&d->rawElements));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_destruct(&d->treeElements));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_destruct(&d->thirdElements));
    KOC_RETURN_IF_FAILED(koc_charHypothesisTree_destruct(&d->tree));
    KOC_RETURN_IF_FAILED(destruct(&d->runContext));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__destruct(&d->windows));
    return kstd_vector_koc_charSegmentElementInfo_destruct(&d->charElements);
}

}  // namespace koc::hypotheses

extern "C" {

KOC_API int32_t koc_charSegmentLineResultData__reset(koc_charSegmentLineResultData_* d) noexcept
{
    KOC_ASSERT(d != nullptr);
    d->status = 0;
    d->typicalElementHeight = 0.0;
    d->maxMergedGap = 0;
    d->minMergedGap = INT32_MAX;
    d->bandRect = kstd_rect32{0, 0, 0, 0};
    d->inkRect = kstd_rect32{0, 0, 0, 0};
    d->blobResults.clear();
    KOC_RETURN_IF_FAILED(kstd_vector32s_clear(&d->listA));
    KOC_RETURN_IF_FAILED(kstd_vector32s_clear(&d->listB));
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(&d->sourceImage));
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(&d->workingImage));
    koc::hypotheses::LineRunContext* context = &d->runContext;
    d->lineFrameScale = kmath_xformLinear{{1.0, 0.0, 0.0, 1.0}, {0.0, 0.0}};
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_clear(&d->rawElements));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_clear(&d->treeElements));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_clear(&d->thirdElements));
    KOC_RETURN_IF_FAILED(koc_charHypothesisTree_reset(&d->tree));
    KOC_RETURN_IF_FAILED(koc::hypotheses::reset(context));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__clear(&d->windows));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_clear(&d->charElements));
    d->croppedCount = 0;
    return 0;
}

// The status word stays 0 until everything is copied, so a failure part-way
// is visible in the destination.
KOC_API int32_t koc_charSegmentLineResultData__assign(koc_charSegmentLineResultData_* dst,
                                                      const koc_charSegmentLineResultData_* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    dst->status = 0;
    dst->typicalElementHeight = src->typicalElementHeight;
    dst->bandRect = src->bandRect;
    dst->inkRect = src->inkRect;
    dst->minMergedGap = src->minMergedGap;
    dst->maxMergedGap = src->maxMergedGap;
    KOC_RETURN_IF_FAILED(koc::guarded([&]() -> int32_t {
        dst->blobResults.blobs = src->blobResults.blobs;
        dst->blobResults.runs = src->blobResults.runs;
        return 0;
    }));
    KOC_RETURN_IF_FAILED(kstd_vector32s_assign(&dst->listA, &src->listA));
    KOC_RETURN_IF_FAILED(kstd_vector32s_assign(&dst->listB, &src->listB));
    KOC_RETURN_IF_FAILED(kip_pelAssignCopyEntireConst8(&dst->sourceImage, &src->sourceImage));
    KOC_RETURN_IF_FAILED(kip_pelAssignCopyEntireConst8(&dst->workingImage, &src->workingImage));
    dst->lineFrameScale = src->lineFrameScale;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_assign(&dst->rawElements, &src->rawElements));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_assign(&dst->treeElements, &src->treeElements));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_assign(&dst->thirdElements, &src->thirdElements));
    KOC_RETURN_IF_FAILED(koc_charHypothesisTree_assign(&dst->tree, &src->tree));
    KOC_RETURN_IF_FAILED(koc::hypotheses::assign(&dst->runContext, &src->runContext));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__assign(&dst->windows, &src->windows));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_assign(&dst->charElements, &src->charElements));
    dst->status = src->status;
    dst->croppedCount = src->croppedCount;
    return 0;
}

// The record holds C++ members (the blob results), so its lifetime starts
// and ends here as well: a failed construct leaves raw storage behind.
KOC_API int32_t koc_charSegmentLineResultData__construct(koc_charSegmentLineResultData_* d) noexcept
{
    KOC_ASSERT(d != nullptr);
    auto* record = ::new (static_cast<void*>(d)) koc_charSegmentLineResultData_;
    const int32_t rc = koc::hypotheses::construct(record);
    if (rc < 0) {
        record->~koc_charSegmentLineResultData_();
    }
    return rc;
}

KOC_API int32_t koc_charSegmentLineResultData__destruct(koc_charSegmentLineResultData_* d) noexcept
{
    KOC_ASSERT(d != nullptr);
    const int32_t rc = koc::hypotheses::destruct(d);
    d->~koc_charSegmentLineResultData_();
    return rc;
}

KOC_API int32_t koc_charSegmentLineResultData__delete(koc_charSegmentLineResultData_** data) noexcept
{
    KOC_ASSERT(data != nullptr);
    if (*data == nullptr) {
        return 0;
    }
    const int32_t rc = koc::hypotheses::destruct(*data);
    koc::services::destroyObject(*data);
    *data = nullptr;
    return rc;
}

KOC_API int32_t koc_charSegmentLineResultData__new(koc_charSegmentLineResultData_** data) noexcept
{
    KOC_ASSERT(data != nullptr);
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultData__delete(data));
    int32_t rc = 0;
    koc_charSegmentLineResultData_* d = koc::services::newObject<koc_charSegmentLineResultData_>(&rc);
    if (d == nullptr) {
        return rc;
    }
    rc = koc::hypotheses::construct(d);
    if (rc < 0) {
        koc::services::destroyObject(d);
        return rc;
    }
    *data = d;
    return 0;
}

}  // extern "C"
