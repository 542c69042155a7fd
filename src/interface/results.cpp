// results.cpp: the result tree (result, paragraph, line and position
// results), its getters and the cached binarised line image.
#include "services/lifecycle.hpp"
#include "koc/koc_results.h"
#include "koc/ksys.h"

namespace {

constexpr kmath_xformLinear kIdentity{{1.0, 0.0, 0.0, 1.0}, {0.0, 0.0}};

int32_t refuseUnless(int32_t flag) noexcept
{
    return flag != 0 ? 0 : KOC_E_NOT_COMPUTED;
}

void setLineDefaults(koc_charSegmentLineResult* r) noexcept
{
    r->isFound = 0;
    r->hasNormalizedRectifiedLineImage = 0;
    r->hasBinarizationThreshold = 0;
    r->binarizationThreshold = 128;
    r->thresholdPolarityFlag = 0;
    r->isBinarizedImageCached = 0;
    r->lineAngle = 0.0;
    r->skewAngle = 0.0;
    r->polarity = 4;
}

}  // namespace

extern "C" {

// ---- result ----

KOC_API int32_t koc_charSegmentResult_construct(koc_charSegmentResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isComputed = 0;
    return kstd_vector_koc_charSegmentParagraphResult_constructEmpty(&r->paragraphResults);
}

KOC_API int32_t koc_charSegmentResult_reset(koc_charSegmentResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isComputed = 0;
    return kstd_vector_koc_charSegmentParagraphResult_clear(&r->paragraphResults);
}

KOC_API int32_t koc_charSegmentResult_destruct(koc_charSegmentResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isComputed = 0;
    return kstd_vector_koc_charSegmentParagraphResult_destruct(&r->paragraphResults);
}

KOC_API int32_t koc_charSegmentResult_assign(koc_charSegmentResult* dst, const koc_charSegmentResult* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    dst->isComputed = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentParagraphResult_assign(&dst->paragraphResults, &src->paragraphResults));
    dst->isComputed = src->isComputed;
    return 0;
}

KOC_API int32_t koc_charSegmentResult_getIsComputed(const koc_charSegmentResult* r, int32_t* isComputed) noexcept
{
    KOC_ASSERT(r != nullptr && isComputed != nullptr);
    *isComputed = r->isComputed;
    return 0;
}

KOC_API int32_t koc_charSegmentResult_getParagraphResults(const koc_charSegmentResult* r,
                                                          const kstd_vector_koc_charSegmentParagraphResult** out) noexcept
{
    KOC_ASSERT(r != nullptr && out != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isComputed));
    *out = &r->paragraphResults;
    return 0;
}

// ---- paragraph result ----

KOC_API int32_t koc_charSegmentParagraphResult_construct(koc_charSegmentParagraphResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isComputed = 0;
    return kstd_vector_koc_charSegmentLineResult_constructEmpty(&r->lineResults);
}

KOC_API int32_t koc_charSegmentParagraphResult_reset(koc_charSegmentParagraphResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isComputed = 0;
    return kstd_vector_koc_charSegmentLineResult_clear(&r->lineResults);
}

KOC_API int32_t koc_charSegmentParagraphResult_destruct(koc_charSegmentParagraphResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isComputed = 0;
    return kstd_vector_koc_charSegmentLineResult_destruct(&r->lineResults);
}

KOC_API int32_t koc_charSegmentParagraphResult_assign(koc_charSegmentParagraphResult* dst,
                                                      const koc_charSegmentParagraphResult* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    dst->isComputed = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentLineResult_assign(&dst->lineResults, &src->lineResults));
    dst->isComputed = src->isComputed;
    return 0;
}

KOC_API int32_t koc_charSegmentParagraphResult_getIsComputed(const koc_charSegmentParagraphResult* r,
                                                             int32_t* isComputed) noexcept
{
    KOC_ASSERT(r != nullptr && isComputed != nullptr);
    *isComputed = r->isComputed;
    return 0;
}

KOC_API int32_t koc_charSegmentParagraphResult_getLineResults(const koc_charSegmentParagraphResult* r,
                                                              const kstd_vector_koc_charSegmentLineResult** out) noexcept
{
    KOC_ASSERT(r != nullptr && out != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isComputed));
    *out = &r->lineResults;
    return 0;
}

// ---- line result ----

KOC_API int32_t koc_charSegmentLineResult_construct(koc_charSegmentLineResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    setLineDefaults(r);
    r->lineData = nullptr;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&r->rectifiedLineImage));
    koc::OnFailure dropRectified([&] { kimg_image_destruct(&r->rectifiedLineImage); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&r->normalizedRectifiedLineImage));
    koc::OnFailure dropNormalized([&] { kimg_image_destruct(&r->normalizedRectifiedLineImage); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&r->binarizedRectifiedLineImage));
    koc::OnFailure dropBinarized([&] { kimg_image_destruct(&r->binarizedRectifiedLineImage); });
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentPositionResult_constructEmpty(&r->positionResults));
    koc::OnFailure dropPositions([&] { kstd_vector_koc_charSegmentPositionResult_destruct(&r->positionResults); });
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultStats_construct(&r->stats));
    koc::OnFailure dropStats([&] { koc_charSegmentLineResultStats_destruct(&r->stats); });
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultData__new(&r->lineData));
    dropRectified.dismiss();
    dropNormalized.dismiss();
    dropBinarized.dismiss();
    dropPositions.dismiss();
    dropStats.dismiss();
    return 0;
}

KOC_API int32_t koc_charSegmentLineResult_reset(koc_charSegmentLineResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    setLineDefaults(r);
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(&r->rectifiedLineImage));
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(&r->normalizedRectifiedLineImage));
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(&r->binarizedRectifiedLineImage));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentPositionResult_clear(&r->positionResults));
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultStats_reset(&r->stats));
    return koc_charSegmentLineResultData__new(&r->lineData);  // deletes the old data
}

KOC_API int32_t koc_charSegmentLineResult_destruct(koc_charSegmentLineResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isFound = 0;
    KOC_RETURN_IF_FAILED(kimg_image_destruct(&r->rectifiedLineImage));
    KOC_RETURN_IF_FAILED(kimg_image_destruct(&r->normalizedRectifiedLineImage));
    KOC_RETURN_IF_FAILED(kimg_image_destruct(&r->binarizedRectifiedLineImage));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentPositionResult_destruct(&r->positionResults));
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultStats_destruct(&r->stats));
    return koc_charSegmentLineResultData__delete(&r->lineData);
}

// Line images are copied, not shared: a copied line result must stay intact
// when the source's working images are reused by the next run.
KOC_API int32_t koc_charSegmentLineResult_assign(koc_charSegmentLineResult* dst, const koc_charSegmentLineResult* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    dst->isFound = 0;
    dst->hasNormalizedRectifiedLineImage = 0;
    dst->hasBinarizationThreshold = 0;
    dst->isBinarizedImageCached = 0;
    dst->binarizationThreshold = src->binarizationThreshold;
    dst->thresholdPolarityFlag = src->thresholdPolarityFlag;
    dst->lineAngle = src->lineAngle;
    dst->skewAngle = src->skewAngle;
    dst->polarity = src->polarity;
    KOC_RETURN_IF_FAILED(kip_pelAssignCopyEntireConst8(&dst->rectifiedLineImage, &src->rectifiedLineImage));
    KOC_RETURN_IF_FAILED(
        kip_pelAssignCopyEntireConst8(&dst->normalizedRectifiedLineImage, &src->normalizedRectifiedLineImage));
    KOC_RETURN_IF_FAILED(
        kip_pelAssignCopyEntireConst8(&dst->binarizedRectifiedLineImage, &src->binarizedRectifiedLineImage));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentPositionResult_assign(&dst->positionResults, &src->positionResults));
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultStats_assign(&dst->stats, &src->stats));
    if (src->lineData != nullptr) {
        if (dst->lineData == nullptr) {
            KOC_RETURN_IF_FAILED(koc_charSegmentLineResultData__new(&dst->lineData));
        }
        KOC_RETURN_IF_FAILED(koc_charSegmentLineResultData__assign(dst->lineData, src->lineData));
    } else if (dst->lineData != nullptr) {
        // The source lost its data to a failed reset: the copy must not keep
        // working data of its own earlier run either.
        KOC_RETURN_IF_FAILED(koc_charSegmentLineResultData__reset(dst->lineData));
    }
    dst->hasNormalizedRectifiedLineImage = src->hasNormalizedRectifiedLineImage;
    dst->hasBinarizationThreshold = src->hasBinarizationThreshold;
    dst->isBinarizedImageCached = src->isBinarizedImageCached;
    dst->isFound = src->isFound;
    return 0;
}

KOC_API int32_t koc_charSegmentLineResult_getIsFound(const koc_charSegmentLineResult* r, int32_t* isFound) noexcept
{
    KOC_ASSERT(r != nullptr && isFound != nullptr);
    *isFound = r->isFound;
    return 0;
}

KOC_API int32_t koc_charSegmentLineResult_getStats(const koc_charSegmentLineResult* r,
                                                   koc_charSegmentLineResultStats* stats) noexcept
{
    KOC_ASSERT(r != nullptr && stats != nullptr);
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultStats_checkIsComputed(&r->stats));
    return koc_charSegmentLineResultStats_assign(stats, &r->stats);
}

KOC_API int32_t koc_charSegmentLineResult_getRectifiedLineImage(const koc_charSegmentLineResult* r,
                                                                kimg_imageConst* image) noexcept
{
    KOC_ASSERT(r != nullptr && image != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isFound));
    return kimg_image_assign(image, &r->rectifiedLineImage);
}

KOC_API int32_t koc_charSegmentLineResult_getHasNormalizedRectifiedLineImage(const koc_charSegmentLineResult* r,
                                                                             int32_t* has) noexcept
{
    KOC_ASSERT(r != nullptr && has != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isFound));
    *has = r->hasNormalizedRectifiedLineImage;
    return 0;
}

KOC_API int32_t koc_charSegmentLineResult_getNormalizedRectifiedLineImage(const koc_charSegmentLineResult* r,
                                                                          kimg_imageConst* image) noexcept
{
    KOC_ASSERT(r != nullptr && image != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isFound));
    KOC_RETURN_IF_FAILED(refuseUnless(r->hasNormalizedRectifiedLineImage));
    return kimg_image_assign(image, &r->normalizedRectifiedLineImage);
}

KOC_API int32_t koc_charSegmentLineResult_getHasBinarizedRectifiedLineImage(const koc_charSegmentLineResult* r,
                                                                            int32_t* has) noexcept
{
    KOC_ASSERT(r != nullptr && has != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isFound));
    int32_t bound = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(&r->normalizedRectifiedLineImage, &bound));
    *has = r->hasNormalizedRectifiedLineImage != 0 && r->hasBinarizationThreshold != 0 && bound != 0;
    return 0;
}

// Marks come out as 255 for either polarity: with dark marks (flag 1) the
// pixels below the threshold are the marks, with light marks those at or
// above it.
KOC_API int32_t koc_charSegmentLineResult_getBinarizedRectifiedLineImage(koc_charSegmentLineResult* r,
                                                                         kimg_imageConst* image) noexcept
{
    KOC_ASSERT(r != nullptr && image != nullptr);
    int32_t has = 0;
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResult_getHasBinarizedRectifiedLineImage(r, &has));
    KOC_RETURN_IF_FAILED(refuseUnless(has));
    if (r->isBinarizedImageCached == 0) {
        KOC_ASSERT(r->binarizationThreshold <= 255);
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        kimg_image binarized;
        KOC_RETURN_IF_FAILED(kimg_image_construct(&binarized));
        koc::Always dropBinarized([&] { kimg_image_destruct(&binarized); });
        const uint8_t below = r->thresholdPolarityFlag != 0 ? 255 : 0;
        const uint8_t atOrAbove = r->thresholdPolarityFlag != 0 ? 0 : 255;
        KOC_RETURN_IF_FAILED(kip_pelMapHardThreshold8(&r->normalizedRectifiedLineImage,
                                                      static_cast<uint8_t>(r->binarizationThreshold), below, atOrAbove,
                                                      &binarized));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(kimg_image_assign(&r->binarizedRectifiedLineImage, &binarized));
        r->isBinarizedImageCached = 1;
    }
    return kimg_image_assign(image, &r->binarizedRectifiedLineImage);
}

KOC_API int32_t koc_charSegmentLineResult_getPositionResults(const koc_charSegmentLineResult* r,
                                                             const kstd_vector_koc_charSegmentPositionResult** out) noexcept
{
    KOC_ASSERT(r != nullptr && out != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isFound));
    *out = &r->positionResults;
    return 0;
}

// ---- position result ----

KOC_API int32_t koc_charSegmentPositionResult_reset(koc_charSegmentPositionResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isComputed = 0;
    r->isSpace = 0;
    r->spaceScore = 0;
    r->area = 0;
    r->markRect = kmath_shapeAffineRect{};
    r->cellRect = kmath_shapeAffineRect{};
    r->clientFromLineImageXform = kIdentity;
    return koc_char_reset(&r->character);
}

KOC_API int32_t koc_charSegmentPositionResult_construct(koc_charSegmentPositionResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    KOC_RETURN_IF_FAILED(koc_char_construct(&r->character));
    koc::OnFailure dropCharacter([&] { koc_char_destruct(&r->character); });
    KOC_RETURN_IF_FAILED(koc_charSegmentPositionResult_reset(r));
    dropCharacter.dismiss();
    return 0;
}

KOC_API int32_t koc_charSegmentPositionResult_destruct(koc_charSegmentPositionResult* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    r->isComputed = 0;
    return koc_char_destruct(&r->character);
}

KOC_API int32_t koc_charSegmentPositionResult_assign(koc_charSegmentPositionResult* dst,
                                                     const koc_charSegmentPositionResult* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    dst->isComputed = 0;
    dst->isSpace = src->isSpace;
    dst->spaceScore = src->spaceScore;
    dst->markRect = src->markRect;
    dst->cellRect = src->cellRect;
    dst->clientFromLineImageXform = src->clientFromLineImageXform;
    dst->area = src->area;
    KOC_RETURN_IF_FAILED(koc_char_assign(&dst->character, &src->character));
    dst->isComputed = src->isComputed;
    return 0;
}

KOC_API int32_t koc_charSegmentPositionResult_getIsComputed(const koc_charSegmentPositionResult* r,
                                                            int32_t* isComputed) noexcept
{
    KOC_ASSERT(r != nullptr && isComputed != nullptr);
    *isComputed = r->isComputed;
    return 0;
}

KOC_API int32_t koc_charSegmentPositionResult_getCharacter(const koc_charSegmentPositionResult* r,
                                                           const koc_char** character) noexcept
{
    KOC_ASSERT(r != nullptr && character != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isComputed));
    *character = &r->character;
    return 0;
}

KOC_API int32_t koc_charSegmentPositionResult_getIsSpace(const koc_charSegmentPositionResult* r, int32_t* isSpace) noexcept
{
    KOC_ASSERT(r != nullptr && isSpace != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isComputed));
    *isSpace = r->isSpace;
    return 0;
}

KOC_API int32_t koc_charSegmentPositionResult_getSpaceScore(const koc_charSegmentPositionResult* r, int32_t* score) noexcept
{
    KOC_ASSERT(r != nullptr && score != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isComputed));
    KOC_RETURN_IF_FAILED(refuseUnless(r->isSpace));
    *score = r->spaceScore;
    return 0;
}

KOC_API int32_t koc_charSegmentPositionResult_getMarkRect(const koc_charSegmentPositionResult* r,
                                                          kmath_shapeAffineRect* rect) noexcept
{
    KOC_ASSERT(r != nullptr && rect != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isComputed));
    *rect = r->markRect;
    return 0;
}

KOC_API int32_t koc_charSegmentPositionResult_getCellRect(const koc_charSegmentPositionResult* r,
                                                          kmath_shapeAffineRect* rect) noexcept
{
    KOC_ASSERT(r != nullptr && rect != nullptr);
    KOC_RETURN_IF_FAILED(refuseUnless(r->isComputed));
    *rect = r->cellRect;
    return 0;
}

}  // extern "C"

KOC_DEFINE_CONSTRUCT_COPY(koc_charSegmentResult)
KOC_DEFINE_CONSTRUCT_COPY(koc_charSegmentParagraphResult)
KOC_DEFINE_CONSTRUCT_COPY(koc_charSegmentLineResult)
KOC_DEFINE_CONSTRUCT_COPY(koc_charSegmentPositionResult)
