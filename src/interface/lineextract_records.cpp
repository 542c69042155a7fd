// lineextract_records.cpp: lifecycles of the line-extraction parameters and
// result.
#include "services/lifecycle.hpp"
#include "koc/koc_lineextract.h"

namespace {

void setDefaults(koc_lineExtractResult* r) noexcept
{
    r->isLineFound = 0;
    r->lineHeight = 0.0;
    r->lineRect = kmath_shapeAffineRect{};
    r->polarity = 4;
    r->isLineImageValid = 0;
    r->isNormalizedImageValid = 0;
    r->extractedRect = kmath_shapeAffineRect{};
    r->lineRectBounds = kstd_rectD{0.0, 0.0, 0.0, 0.0};
    r->lineRectBounds32 = kstd_rect32{0, 0, 0, 0};
    r->lineAngle = 0.0;
    r->skewAngle = 0.0;
}

}  // namespace

extern "C" {

KOC_API int32_t koc_lineExtractParams_reset(koc_lineExtractParams* p) noexcept
{
    KOC_ASSERT(p != nullptr);
    p->limitHeight = 0;
    p->maxHeight = 100;
    p->useGradientMethod = 1;
    p->maxLineAngle = 0.0;
    p->maxSkewAngle = 0.0;
    p->polarity = 4;
    p->normalizationMode = 4;
    return 0;
}

KOC_API int32_t koc_lineExtractResult_construct(koc_lineExtractResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    setDefaults(r);
    r->lineEdgeletRecord = nullptr;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&r->lineImage));
    koc::OnFailure dropLine([&] { kimg_image_destruct(&r->lineImage); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&r->normalizedImage));
    koc::OnFailure dropNormalized([&] { kimg_image_destruct(&r->normalizedImage); });
    KOC_RETURN_IF_FAILED(kimg_imageRle_construct(&r->lineMask));
    koc::OnFailure dropMask([&] { kimg_imageRle_destruct(&r->lineMask); });
    KOC_RETURN_IF_FAILED(koc_lineEdgeletRecord__new(&r->lineEdgeletRecord));
    koc::OnFailure dropEdgelets([&] { koc_lineEdgeletRecord__delete(&r->lineEdgeletRecord); });
    KOC_RETURN_IF_FAILED(koc_lineExtractParams_construct(&r->params));
    dropLine.dismiss();
    dropNormalized.dismiss();
    dropMask.dismiss();
    dropEdgelets.dismiss();
    return 0;
}

KOC_API int32_t koc_lineExtractResult_reset(koc_lineExtractResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    setDefaults(r);
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(&r->lineImage));
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(&r->normalizedImage));
    KOC_RETURN_IF_FAILED(kimg_imageRle_setUnbound(&r->lineMask));
    KOC_RETURN_IF_FAILED(koc_lineEdgeletRecord__new(&r->lineEdgeletRecord));  // deletes the old one
    return koc_lineExtractParams_reset(&r->params);
}

KOC_API int32_t koc_lineExtractResult_destruct(koc_lineExtractResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isLineFound = 0;
    KOC_RETURN_IF_FAILED(kimg_image_destruct(&r->lineImage));
    KOC_RETURN_IF_FAILED(kimg_image_destruct(&r->normalizedImage));
    KOC_RETURN_IF_FAILED(kimg_imageRle_destruct(&r->lineMask));
    KOC_RETURN_IF_FAILED(koc_lineEdgeletRecord__delete(&r->lineEdgeletRecord));
    return koc_lineExtractParams_destruct(&r->params);
}

KOC_API int32_t koc_lineExtractResult_assign(koc_lineExtractResult* dst, const koc_lineExtractResult* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    // Clear first: a failure below leaves the destination reading as not found.
    dst->isLineFound = 0;
    dst->isLineImageValid = 0;
    dst->isNormalizedImageValid = 0;
    dst->lineAngle = src->lineAngle;
    dst->skewAngle = src->skewAngle;
    dst->lineHeight = src->lineHeight;
    dst->lineRect = src->lineRect;
    dst->polarity = src->polarity;
    dst->extractedRect = src->extractedRect;
    dst->lineRectBounds = src->lineRectBounds;
    dst->lineRectBounds32 = src->lineRectBounds32;
    KOC_RETURN_IF_FAILED(kimg_image_assign(&dst->lineImage, &src->lineImage));
    KOC_RETURN_IF_FAILED(kimg_image_assign(&dst->normalizedImage, &src->normalizedImage));
    KOC_RETURN_IF_FAILED(kimg_imageRle_assign(&dst->lineMask, &src->lineMask));
    dst->isLineImageValid = src->isLineImageValid;
    dst->isNormalizedImageValid = src->isNormalizedImageValid;
    // A source without a record (its reset failed) has no edgelets: the copy
    // gets an empty record rather than keeping its own old ones.
    if (dst->lineEdgeletRecord == nullptr || src->lineEdgeletRecord == nullptr) {
        KOC_RETURN_IF_FAILED(koc_lineEdgeletRecord__new(&dst->lineEdgeletRecord));
    }
    if (src->lineEdgeletRecord != nullptr) {
        KOC_RETURN_IF_FAILED(koc_lineEdgeletRecord__assign(dst->lineEdgeletRecord, src->lineEdgeletRecord));
    }
    KOC_RETURN_IF_FAILED(koc_lineExtractParams_assign(&dst->params, &src->params));
    dst->isLineFound = src->isLineFound;
    return 0;
}

}  // extern "C"

KOC_DEFINE_PLAIN_LIFECYCLE(koc_lineExtractParams)
KOC_DEFINE_CONSTRUCT_COPY(koc_lineExtractResult)
