// run_params.cpp: the run parameters and their two nested records: defaults,
// validation in a fixed rule order, equality.
#include <initializer_list>

#include "services/lifecycle.hpp"
#include "koc/koc_params.h"

using koc::doublesEqual;
using koc::outsideRange;

extern "C" {

// ---- cell rectangles ----

KOC_API int32_t koc_cellRectGenerationParams_reset(koc_cellRectGenerationParams* p) noexcept
{
    KOC_ASSERT(p != nullptr);
    p->cellRectMode = 1;
    p->cellRectMinMargin = 2;
    p->cellRectMaxMargin = 5;
    return 0;
}

KOC_API int32_t koc_cellRectGenerationParams_validate(const koc_cellRectGenerationParams* p) noexcept
{
    KOC_ASSERT(p != nullptr);
    if (p->cellRectMode != 1 && p->cellRectMode != 2) return KOC_E_CELL_RECT_MODE;
    if (p->cellRectMinMargin < 0) return KOC_E_CELL_RECT_MIN_MARGIN;
    if (p->cellRectMaxMargin < 0) return KOC_E_CELL_RECT_MAX_MARGIN;
    if (p->cellRectMinMargin > p->cellRectMaxMargin) return KOC_E_CELL_RECT_MARGIN_ORDER;
    return 0;
}

KOC_API int32_t koc_cellRectGenerationParams_compareEqual(const koc_cellRectGenerationParams* a,
                                                          const koc_cellRectGenerationParams* b,
                                                          int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    *isEqual = a->cellRectMode == b->cellRectMode && a->cellRectMinMargin == b->cellRectMinMargin &&
               a->cellRectMaxMargin == b->cellRectMaxMargin;
    return 0;
}

// ---- spaces ----

KOC_API int32_t koc_charSegmentSpaceParams_reset(koc_charSegmentSpaceParams* p) noexcept
{
    KOC_ASSERT(p != nullptr);
    p->spaceInsertionMode = 0;
    p->scoreSpaces = 1;
    p->minSpaceWidth = 10;
    p->maxSpaceWidth = 100;
    return 0;
}

KOC_API int32_t koc_charSegmentSpaceParams_validate(const koc_charSegmentSpaceParams* p) noexcept
{
    KOC_ASSERT(p != nullptr);
    if (p->spaceInsertionMode > 2) return KOC_E_SPACE_INSERTION_MODE;
    if (p->scoreSpaces > 1) return KOC_E_SCORE_SPACES;
    if (p->minSpaceWidth < 1) return KOC_E_MIN_SPACE_WIDTH;
    if (p->maxSpaceWidth < 1) return KOC_E_MAX_SPACE_WIDTH;
    if (p->minSpaceWidth > p->maxSpaceWidth) return KOC_E_SPACE_WIDTH_ORDER;
    return 0;
}

KOC_API int32_t koc_charSegmentSpaceParams_compareEqual(const koc_charSegmentSpaceParams* a,
                                                        const koc_charSegmentSpaceParams* b,
                                                        int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    *isEqual = a->spaceInsertionMode == b->spaceInsertionMode && a->scoreSpaces == b->scoreSpaces &&
               a->minSpaceWidth == b->minSpaceWidth && a->maxSpaceWidth == b->maxSpaceWidth;
    return 0;
}

// ---- run parameters ----

KOC_API int32_t koc_charSegmentRunParams_reset(koc_charSegmentRunParams* p) noexcept
{
    KOC_ASSERT(p != nullptr);
    p->polarity = 4;
    p->useGradientMethod = 1;
    p->maxLineAngle = 0.0;
    p->maxSkewAngle = 0.0;
    p->normalizationMode = 4;
    p->enableBackgroundSuppression = 1;
    p->thresholdFraction = 0.5;
    p->useLineMaskTest = 0;
    p->blobSizeLimit = 15;
    p->textHeightScale = 30.0;
    p->minCharArea = 30;
    p->minCharWidth = 3;
    p->minCharHeight = 3;
    p->minLineOverlap = 0.5;
    p->lineBandMargin = 0.0;
    p->gapMode = 1;
    p->refinementFraction = 0.0;
    p->minCharGap = 1;
    p->maxInnerGap = 0;
    p->limitCharHeight = 0;
    p->maxCharHeight = 100;
    p->limitCharWidth = 0;
    p->maxCharWidth = 100;
    p->limitAspect = 1;
    p->minAspectRatio = 0.8;
    p->refinementMode = 1;
    p->segmentationMethod = 2;
    KOC_RETURN_IF_FAILED(koc_cellRectGenerationParams_reset(&p->cellRectParams));
    p->pitchMeasure = 1;
    p->regularitySource = 1;
    p->minPitch = 0;
    KOC_RETURN_IF_FAILED(koc_charSegmentSpaceParams_reset(&p->spaceParams));
    p->numLines = 1;
    p->skipLineStats = 0;
    return 0;
}

KOC_API int32_t koc_charSegmentRunParams_construct(koc_charSegmentRunParams* p) noexcept
{
    KOC_ASSERT(p != nullptr);
    KOC_RETURN_IF_FAILED(koc_charSegmentSpaceParams_construct(&p->spaceParams));
    koc::OnFailure dropSpace([&] { koc_charSegmentSpaceParams_destruct(&p->spaceParams); });
    KOC_RETURN_IF_FAILED(koc_cellRectGenerationParams_construct(&p->cellRectParams));
    koc::OnFailure dropCells([&] { koc_cellRectGenerationParams_destruct(&p->cellRectParams); });
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_reset(p));
    dropSpace.dismiss();
    dropCells.dismiss();
    return 0;
}

KOC_API int32_t koc_charSegmentRunParams_destruct(koc_charSegmentRunParams* p) noexcept
{
    KOC_ASSERT(p != nullptr);
    KOC_RETURN_IF_FAILED(koc_cellRectGenerationParams_destruct(&p->cellRectParams));
    return koc_charSegmentSpaceParams_destruct(&p->spaceParams);
}

KOC_API int32_t koc_charSegmentRunParams_assign(koc_charSegmentRunParams* dst, const koc_charSegmentRunParams* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    koc_cellRectGenerationParams cells = dst->cellRectParams;
    koc_charSegmentSpaceParams space = dst->spaceParams;
    *dst = *src;
    // The nested records go through their own assign, so a nested record that
    // one day owns memory is copied properly.
    dst->cellRectParams = cells;
    dst->spaceParams = space;
    KOC_RETURN_IF_FAILED(koc_cellRectGenerationParams_assign(&dst->cellRectParams, &src->cellRectParams));
    return koc_charSegmentSpaceParams_assign(&dst->spaceParams, &src->spaceParams);
}

// The rule order is part of the contract: hosts and tests rely on which code
// comes back when several rules are broken at once.
KOC_API int32_t koc_charSegmentRunParams_validate(const koc_charSegmentRunParams* p) noexcept
{
    KOC_ASSERT(p != nullptr);
    const auto isOneOf = [](uint32_t v, std::initializer_list<uint32_t> allowed) {
        for (const uint32_t a : allowed) {
            if (v == a) return true;
        }
        return false;
    };
    if (p->numLines < 1) return KOC_E_NUM_LINES;
    if (!isOneOf(p->polarity, {1, 2, 4})) return KOC_E_POLARITY;
    if (outsideRange(p->maxLineAngle, 0.0, 45.0)) return KOC_E_MAX_LINE_ANGLE;
    if (outsideRange(p->maxSkewAngle, 0.0, 45.0)) return KOC_E_MAX_SKEW_ANGLE;
    if (!isOneOf(p->normalizationMode, {1, 2, 4, 8})) return KOC_E_NORMALIZATION_MODE;
    if (outsideRange(p->thresholdFraction, 0.0, 1.0)) return KOC_E_THRESHOLD_FRACTION;
    if (outsideRange(p->minLineOverlap, 0.0, 1.0)) return KOC_E_MIN_LINE_OVERLAP;
    if (p->lineBandMargin < 0.0) return KOC_E_LINE_BAND_MARGIN;
    if (p->blobSizeLimit < 1) return KOC_E_BLOB_SIZE_LIMIT;
    if (outsideRange(p->refinementFraction, 0.0, 1.0)) return KOC_E_REFINEMENT_FRACTION;
    if (p->textHeightScale < 0.0) return KOC_E_TEXT_HEIGHT_SCALE;
    if (p->minCharArea < 1) return KOC_E_MIN_CHAR_AREA;
    if (p->minCharWidth < 1) return KOC_E_MIN_CHAR_WIDTH;
    if (p->maxCharWidth < 1) return KOC_E_MAX_CHAR_WIDTH;
    if (p->limitCharWidth != 0 && p->minCharWidth > p->maxCharWidth) return KOC_E_CHAR_WIDTH_ORDER;
    if (p->minCharHeight < 1) return KOC_E_MIN_CHAR_HEIGHT;
    if (p->maxCharHeight < 1) return KOC_E_MAX_CHAR_HEIGHT;
    if (p->limitCharHeight != 0 && p->minCharHeight > p->maxCharHeight) return KOC_E_CHAR_HEIGHT_ORDER;
    if (!isOneOf(p->gapMode, {1, 2, 4})) return KOC_E_GAP_MODE;
    if (p->maxInnerGap < 0) return KOC_E_MAX_INNER_GAP;
    if (p->minAspectRatio < 0.0) return KOC_E_MIN_ASPECT_RATIO;
    if (!isOneOf(p->refinementMode, {1, 2, 4})) return KOC_E_REFINEMENT_MODE;
    if (p->minCharGap < 0) return KOC_E_MIN_CHAR_GAP;
    if (!isOneOf(p->segmentationMethod, {1, 2})) return KOC_E_SEGMENTATION_METHOD;
    if (!isOneOf(p->pitchMeasure, {1, 2, 4, 8})) return KOC_E_PITCH_MEASURE;
    if (!isOneOf(p->regularitySource, {1, 2, 4, 8})) return KOC_E_REGULARITY_SOURCE;
    if (p->minPitch < 0) return KOC_E_MIN_PITCH;
    if (p->useGradientMethod > 1) return KOC_E_USE_GRADIENT_METHOD;
    KOC_RETURN_IF_FAILED(koc_charSegmentSpaceParams_validate(&p->spaceParams));
    return koc_cellRectGenerationParams_validate(&p->cellRectParams);
}

KOC_API int32_t koc_charSegmentRunParams_compareEqual(const koc_charSegmentRunParams* a,
                                                      const koc_charSegmentRunParams* b, int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    int32_t cellsEqual = 0;
    KOC_RETURN_IF_FAILED(koc_cellRectGenerationParams_compareEqual(&a->cellRectParams, &b->cellRectParams, &cellsEqual));
    const bool rest =
        a->polarity == b->polarity && a->useGradientMethod == b->useGradientMethod &&
        doublesEqual(a->maxLineAngle, b->maxLineAngle) && doublesEqual(a->maxSkewAngle, b->maxSkewAngle) &&
        a->normalizationMode == b->normalizationMode &&
        a->enableBackgroundSuppression == b->enableBackgroundSuppression &&
        doublesEqual(a->thresholdFraction, b->thresholdFraction) && a->useLineMaskTest == b->useLineMaskTest &&
        a->blobSizeLimit == b->blobSizeLimit && doublesEqual(a->textHeightScale, b->textHeightScale) &&
        a->minCharArea == b->minCharArea && a->minCharWidth == b->minCharWidth &&
        a->minCharHeight == b->minCharHeight && doublesEqual(a->minLineOverlap, b->minLineOverlap) &&
        doublesEqual(a->lineBandMargin, b->lineBandMargin) && a->gapMode == b->gapMode &&
        doublesEqual(a->refinementFraction, b->refinementFraction) && a->minCharGap == b->minCharGap &&
        a->maxInnerGap == b->maxInnerGap && a->limitCharHeight == b->limitCharHeight &&
        a->maxCharHeight == b->maxCharHeight && a->limitCharWidth == b->limitCharWidth &&
        a->maxCharWidth == b->maxCharWidth && a->limitAspect == b->limitAspect &&
        doublesEqual(a->minAspectRatio, b->minAspectRatio) && a->refinementMode == b->refinementMode &&
        a->segmentationMethod == b->segmentationMethod && cellsEqual != 0 && a->pitchMeasure == b->pitchMeasure &&
        a->regularitySource == b->regularitySource && a->minPitch == b->minPitch && a->numLines == b->numLines &&
        a->skipLineStats == b->skipLineStats;
    if (!rest) {
        *isEqual = 0;
        return 0;
    }
    // The space parameters are compared only when everything else matched.
    return koc_charSegmentSpaceParams_compareEqual(&a->spaceParams, &b->spaceParams, isEqual);
}

}  // extern "C"

KOC_DEFINE_PLAIN_LIFECYCLE(koc_cellRectGenerationParams)
KOC_DEFINE_PLAIN_LIFECYCLE(koc_charSegmentSpaceParams)
KOC_DEFINE_CONSTRUCT_COPY(koc_charSegmentRunParams)
