// stats.cpp: the scoring accumulators, the element record and the
// statistics of a finished line.
#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "services/lifecycle.hpp"
#include "koc/koc_stats.h"

using koc::doublesEqual;

namespace {

// 32-bit two's-complement arithmetic: the accumulators wrap like the 32-bit
// integers they are, without the undefined behaviour of signed overflow.
int32_t wrapAdd(int32_t a, int32_t b) noexcept
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// a - b without negating b: -INT32_MIN would overflow.
int32_t wrapSub(int32_t a, int32_t b) noexcept
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

int32_t wrapMul(int32_t a, int32_t b) noexcept
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

bool rectsEqual(const kstd_rect32& a, const kstd_rect32& b) noexcept
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

bool xformsEqual(const kmath_xformLinear& a, const kmath_xformLinear& b) noexcept
{
    return doublesEqual(a.matrix.a, b.matrix.a) && doublesEqual(a.matrix.b, b.matrix.b) &&
           doublesEqual(a.matrix.c, b.matrix.c) && doublesEqual(a.matrix.d, b.matrix.d) &&
           doublesEqual(a.trans.x, b.trans.x) && doublesEqual(a.trans.y, b.trans.y);
}

void setIdentity(kmath_xformLinear* x) noexcept
{
    *x = kmath_xformLinear{{1.0, 0.0, 0.0, 1.0}, {0.0, 0.0}};
}

// The six element-statistics lists, in declaration order.
template <class Stats, class F>
int32_t forEachList(Stats* s, F&& f) noexcept
{
    for (auto* list : {&s->rawElements, &s->rawAccepted, &s->rawRejected, &s->charElements, &s->charAccepted,
                       &s->charRejected}) {
        KOC_RETURN_IF_FAILED(f(list));
    }
    return 0;
}

}  // namespace

extern "C" {

// ---- koc_statistics32 ----

KOC_API int32_t koc_statistics32_reset(koc_statistics32* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->count = 0;
    s->sum = 0;
    s->min = INT32_MAX;
    s->max = INT32_MIN;
    s->useIntegerSquares = 1;
    s->sumOfSquares32 = 0;
    s->sumOfSquares = 0.0;
    return 0;
}

KOC_API int32_t koc_statistics32_add(koc_statistics32* s, int32_t value) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->count = wrapAdd(s->count, 1);
    if (value < s->min) s->min = value;
    if (value > s->max) s->max = value;
    s->sum = wrapAdd(s->sum, value);
    if (s->useIntegerSquares != 0) {
        s->sumOfSquares32 = wrapAdd(s->sumOfSquares32, wrapMul(value, value));
    } else {
        const double v = value;
        s->sumOfSquares += v * v;
    }
    return 0;
}

KOC_API int32_t koc_statistics32_getVariance(const koc_statistics32* s, double* variance) noexcept
{
    KOC_ASSERT(s != nullptr && variance != nullptr);
    const int32_t n = s->count;
    if (n == 0) {
        return KOC_E_NO_SAMPLES;
    }
    const double sum = s->sum;
    const double squares = s->useIntegerSquares != 0 ? static_cast<double>(s->sumOfSquares32) : s->sumOfSquares;
    const double mean = sum / n;
    const double v = n >= 2 ? (squares - sum * mean) / (n - 1) : 0.0;
    *variance = v > 0.0 ? v : 0.0;  // rounding (or NaN) never gives a negative variance
    return 0;
}

KOC_API int32_t koc_statistics32_getStdDev(const koc_statistics32* s, double* stdDev) noexcept
{
    KOC_ASSERT(stdDev != nullptr);
    double v = 0.0;
    KOC_RETURN_IF_FAILED(koc_statistics32_getVariance(s, &v));
    *stdDev = std::sqrt(v);
    return 0;
}

// ---- koc_stringSpacingStats ----

KOC_API int32_t koc_stringSpacingStats_reset(koc_stringSpacingStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->widthCount = 0;
    s->hasLeftToLeft = 0;
    s->hasCentreToCentre = 0;
    s->hasRightToRight = 0;
    s->smallGapCount = 0;
    s->smallPitchCount = 0;
    for (koc_statistics32* acc : {&s->widthStats, &s->gapStats, &s->leftToLeftStats, &s->centreToCentreStats,
                                  &s->rightToRightStats}) {
        KOC_RETURN_IF_FAILED(koc_statistics32_reset(acc));
    }
    return 0;
}

KOC_API int32_t koc_stringSpacingStats_construct(koc_stringSpacingStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    // The accumulators are plain values: constructing them cannot fail and
    // leaves nothing to release.
    for (koc_statistics32* acc : {&s->widthStats, &s->gapStats, &s->leftToLeftStats, &s->centreToCentreStats,
                                  &s->rightToRightStats}) {
        KOC_RETURN_IF_FAILED(koc_statistics32_construct(acc));
    }
    return koc_stringSpacingStats_reset(s);
}

KOC_API int32_t koc_stringSpacingStats_destruct(koc_stringSpacingStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    for (koc_statistics32* acc : {&s->widthStats, &s->gapStats, &s->leftToLeftStats, &s->centreToCentreStats,
                                  &s->rightToRightStats}) {
        KOC_RETURN_IF_FAILED(koc_statistics32_destruct(acc));
    }
    return 0;
}

KOC_API int32_t koc_stringSpacingStats_assign(koc_stringSpacingStats* dst, const koc_stringSpacingStats* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst != src) {
        *dst = *src;  // all members are plain values
    }
    return 0;
}

KOC_API int32_t koc_stringSpacingStats_addWidth(koc_stringSpacingStats* s, int32_t width) noexcept
{
    KOC_ASSERT(s != nullptr);
    KOC_ASSERT(width >= 0);
    s->widthCount = wrapAdd(s->widthCount, 1);
    return koc_statistics32_add(&s->widthStats, width);
}

KOC_API int32_t koc_stringSpacingStats_addSpacingRects(koc_stringSpacingStats* s, const koc_charSegmentRunParams* runParams,
                                                       const kstd_rect32* a, const kstd_rect32* b) noexcept
{
    KOC_ASSERT(s != nullptr && runParams != nullptr && a != nullptr && b != nullptr);
    const int32_t aRight = wrapAdd(a->x, a->width);
    const int32_t bRight = wrapAdd(b->x, b->width);
    const int32_t gap = wrapSub(b->x, aRight);
    const int32_t leftToLeft = wrapSub(b->x, a->x);
    const int32_t rightToRight = wrapSub(bRight, aRight);
    // Half the width difference, rounded up, with an arithmetic shift.
    const int32_t halfDiff = wrapAdd(wrapSub(b->width, a->width), 1) >> 1;
    const int32_t centreToCentre = wrapAdd(leftToLeft, halfDiff);

    KOC_RETURN_IF_FAILED(koc_statistics32_add(&s->gapStats, gap));
    KOC_RETURN_IF_FAILED(koc_statistics32_add(&s->leftToLeftStats, leftToLeft));
    s->hasLeftToLeft = 1;
    KOC_RETURN_IF_FAILED(koc_statistics32_add(&s->centreToCentreStats, centreToCentre));
    s->hasCentreToCentre = 1;
    KOC_RETURN_IF_FAILED(koc_statistics32_add(&s->rightToRightStats, rightToRight));
    s->hasRightToRight = 1;

    if (runParams->minPitch != INT32_MAX) {
        const uint32_t m = runParams->pitchMeasure;
        int32_t pitch = INT32_MIN;
        if (m == 2 || m == 1) pitch = std::max(pitch, leftToLeft);
        if (m == 4 || m == 1) pitch = std::max(pitch, centreToCentre);
        if (m == 8 || m == 1) pitch = std::max(pitch, rightToRight);
        if (pitch < runParams->minPitch) {
            s->smallPitchCount = wrapAdd(s->smallPitchCount, 1);
        }
    }
    if (gap < runParams->minCharGap) {
        s->smallGapCount = wrapAdd(s->smallGapCount, 1);
    }
    return 0;
}

// ---- koc_stringStats ----

KOC_API int32_t koc_stringStats_reset(koc_stringStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->charCount = 0;
    s->markAreaSum = 0;
    s->rectAreaSum = 0;
    s->widthSum = 0;
    s->innerGapSum = 0;
    s->invalidCharCount = 0;
    return koc_stringSpacingStats_reset(&s->spacingStats);
}

KOC_API int32_t koc_stringStats_construct(koc_stringStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    KOC_RETURN_IF_FAILED(koc_stringSpacingStats_construct(&s->spacingStats));
    koc::OnFailure drop([&] { koc_stringSpacingStats_destruct(&s->spacingStats); });
    KOC_RETURN_IF_FAILED(koc_stringStats_reset(s));
    drop.dismiss();
    return 0;
}

KOC_API int32_t koc_stringStats_destruct(koc_stringStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    return koc_stringSpacingStats_destruct(&s->spacingStats);
}

KOC_API int32_t koc_stringStats_assign(koc_stringStats* dst, const koc_stringStats* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    dst->charCount = src->charCount;
    dst->markAreaSum = src->markAreaSum;
    dst->rectAreaSum = src->rectAreaSum;
    dst->widthSum = src->widthSum;
    dst->innerGapSum = src->innerGapSum;
    dst->invalidCharCount = src->invalidCharCount;
    return koc_stringSpacingStats_assign(&dst->spacingStats, &src->spacingStats);
}

// ---- element records ----

KOC_API int32_t koc_charSegmentElementInfo_reset(koc_charSegmentElementInfo* e) noexcept
{
    KOC_ASSERT(e != nullptr);
    e->rect = kstd_rect32{0, 0, 0, 0};
    e->area = -1;
    e->contrast = 0;
    e->blobIndex = -1;
    e->auxIndex = -1;
    e->flags = 0;
    e->inBandFraction = 0.0;
    e->outOfBandFraction = 0.0;
    return 0;
}

KOC_API int32_t koc_charSegmentElementStats_reset(koc_charSegmentElementStats* e) noexcept
{
    KOC_ASSERT(e != nullptr);
    e->rect = kstd_rect32{0, 0, 0, 0};
    e->area = 0;
    e->contrast = 0;
    e->outOfBandFraction = 0.0;
    e->inBandFraction = 0.0;
    e->flags = 0;
    e->isAccepted = 0;
    return 0;
}

KOC_API int32_t koc_charSegmentElementStats_compareEqual(const koc_charSegmentElementStats* a,
                                                         const koc_charSegmentElementStats* b, int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    *isEqual = rectsEqual(a->rect, b->rect) && a->area == b->area && a->contrast == b->contrast &&
               doublesEqual(a->outOfBandFraction, b->outOfBandFraction) &&
               doublesEqual(a->inBandFraction, b->inBandFraction) && a->flags == b->flags &&
               a->isAccepted == b->isAccepted;
    return 0;
}

KOC_API int32_t koc_charSegmentAllElementsStats_reset(koc_charSegmentAllElementsStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->isFilled = 0;
    // Smallest words start high and largest words at 0, so every word is
    // updated by a plain min or max.
    s->minArea = s->minContrast = s->minTop = s->minMarkArea = INT32_MAX;
    s->minWidth = s->minHeight = s->minSpaceWidth = INT32_MAX;
    s->maxArea = s->maxContrast = s->maxBottom = s->maxMarkArea = 0;
    s->maxWidth = s->maxHeight = s->maxSpaceWidth = 0;
    return 0;
}

KOC_API int32_t koc_charSegmentAllElementsStats_compareEqual(const koc_charSegmentAllElementsStats* a,
                                                             const koc_charSegmentAllElementsStats* b,
                                                             int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    *isEqual = a->isFilled == b->isFilled && a->minArea == b->minArea && a->maxArea == b->maxArea &&
               a->minContrast == b->minContrast && a->maxContrast == b->maxContrast && a->minTop == b->minTop &&
               a->maxBottom == b->maxBottom && a->minMarkArea == b->minMarkArea &&
               a->maxMarkArea == b->maxMarkArea && a->minWidth == b->minWidth && a->maxWidth == b->maxWidth &&
               a->minHeight == b->minHeight && a->maxHeight == b->maxHeight &&
               a->minSpaceWidth == b->minSpaceWidth && a->maxSpaceWidth == b->maxSpaceWidth;
    return 0;
}

// ---- koc_charSegmentLineResultStats ----

KOC_API int32_t koc_charSegmentLineResultStats_reset(koc_charSegmentLineResultStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->isComputed = 0;
    KOC_RETURN_IF_FAILED(koc_charSegmentAllElementsStats_reset(&s->positionStats));
    KOC_RETURN_IF_FAILED(koc_charSegmentAllElementsStats_reset(&s->elementStats));
    KOC_RETURN_IF_FAILED(forEachList(s, [](kstd_vector_koc_charSegmentElementStats* v) {
        return kstd_vector_koc_charSegmentElementStats_clear(v);
    }));
    s->foldedLineAngle = 0.0;
    s->foldedSkewAngle = 0.0;
    s->bandRect = kmath_shapeAffineRect{};
    s->inkRect = kmath_shapeAffineRect{};
    setIdentity(&s->clientFromImage);
    setIdentity(&s->imageFromClient);
    s->binarizationThreshold = 0;
    s->thresholdPolarityFlag = 0;
    s->polarity = 4;
    s->minGap = INT32_MAX;
    s->maxGap = 0;
    s->minMergedGap = INT32_MAX;
    s->maxMergedGap = 0;
    s->minPitch = INT32_MAX;
    s->maxPitch = 0;
    s->minBandHeight = INT32_MAX;
    s->numRawTouchingBorder = 0;
    s->numRawOutsideBand = 0;
    s->numUnmatchedSmallArea = 0;
    s->numUnmatchedNarrow = 0;
    s->numUnmatchedLow = 0;
    s->numCroppedTall = 0;
    return 0;
}

KOC_API int32_t koc_charSegmentLineResultStats_construct(koc_charSegmentLineResultStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    kstd_vector_koc_charSegmentElementStats* lists[] = {&s->rawElements, &s->rawAccepted, &s->rawRejected,
                                                         &s->charElements, &s->charAccepted, &s->charRejected};
    int built = 0;
    koc::OnFailure drop([&] {
        for (int k = 0; k < built; ++k) {
            kstd_vector_koc_charSegmentElementStats_destruct(lists[k]);
        }
    });
    for (auto* list : lists) {
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementStats_constructEmpty(list));
        ++built;
    }
    KOC_RETURN_IF_FAILED(koc_charSegmentAllElementsStats_construct(&s->positionStats));
    KOC_RETURN_IF_FAILED(koc_charSegmentAllElementsStats_construct(&s->elementStats));
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultStats_reset(s));
    drop.dismiss();
    return 0;
}

KOC_API int32_t koc_charSegmentLineResultStats_destruct(koc_charSegmentLineResultStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    s->isComputed = 0;
    return forEachList(s, [](kstd_vector_koc_charSegmentElementStats* v) {
        return kstd_vector_koc_charSegmentElementStats_destruct(v);
    });
}

KOC_API int32_t koc_charSegmentLineResultStats_assign(koc_charSegmentLineResultStats* dst,
                                                      const koc_charSegmentLineResultStats* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    // Clear first: if a list fails to copy, the destination reads as not computed.
    dst->isComputed = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementStats_assign(&dst->rawElements, &src->rawElements));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementStats_assign(&dst->rawAccepted, &src->rawAccepted));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementStats_assign(&dst->rawRejected, &src->rawRejected));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementStats_assign(&dst->charElements, &src->charElements));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementStats_assign(&dst->charAccepted, &src->charAccepted));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementStats_assign(&dst->charRejected, &src->charRejected));
    dst->positionStats = src->positionStats;
    dst->elementStats = src->elementStats;
    dst->foldedLineAngle = src->foldedLineAngle;
    dst->foldedSkewAngle = src->foldedSkewAngle;
    dst->bandRect = src->bandRect;
    dst->inkRect = src->inkRect;
    dst->clientFromImage = src->clientFromImage;
    dst->imageFromClient = src->imageFromClient;
    dst->binarizationThreshold = src->binarizationThreshold;
    dst->thresholdPolarityFlag = src->thresholdPolarityFlag;
    dst->polarity = src->polarity;
    dst->minGap = src->minGap;
    dst->maxGap = src->maxGap;
    dst->minMergedGap = src->minMergedGap;
    dst->maxMergedGap = src->maxMergedGap;
    dst->minPitch = src->minPitch;
    dst->maxPitch = src->maxPitch;
    dst->minBandHeight = src->minBandHeight;
    dst->numRawTouchingBorder = src->numRawTouchingBorder;
    dst->numRawOutsideBand = src->numRawOutsideBand;
    dst->numUnmatchedSmallArea = src->numUnmatchedSmallArea;
    dst->numUnmatchedNarrow = src->numUnmatchedNarrow;
    dst->numUnmatchedLow = src->numUnmatchedLow;
    dst->numCroppedTall = src->numCroppedTall;
    dst->isComputed = src->isComputed;
    return 0;
}

KOC_API int32_t koc_charSegmentLineResultStats_compareEqual(const koc_charSegmentLineResultStats* a,
                                                            const koc_charSegmentLineResultStats* b,
                                                            int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    *isEqual = 0;
    int32_t same = 0;
    KOC_RETURN_IF_FAILED(koc_charSegmentAllElementsStats_compareEqual(&a->positionStats, &b->positionStats, &same));
    if (same == 0) return 0;
    KOC_RETURN_IF_FAILED(koc_charSegmentAllElementsStats_compareEqual(&a->elementStats, &b->elementStats, &same));
    if (same == 0) return 0;
    const kstd_vector_koc_charSegmentElementStats* listsA[] = {&a->rawElements, &a->rawAccepted, &a->rawRejected,
                                                               &a->charElements, &a->charAccepted, &a->charRejected};
    const kstd_vector_koc_charSegmentElementStats* listsB[] = {&b->rawElements, &b->rawAccepted, &b->rawRejected,
                                                               &b->charElements, &b->charAccepted, &b->charRejected};
    for (int k = 0; k < 6; ++k) {
        const auto& va = listsA[k]->base;
        const auto& vb = listsB[k]->base;
        if (va.size != vb.size) return 0;
        const auto* ea = static_cast<const koc_charSegmentElementStats*>(va.begin);
        const auto* eb = static_cast<const koc_charSegmentElementStats*>(vb.begin);
        for (intptr_t i = 0; i < va.size; ++i) {
            KOC_RETURN_IF_FAILED(koc_charSegmentElementStats_compareEqual(&ea[i], &eb[i], &same));
            if (same == 0) return 0;
        }
    }
    *isEqual = a->isComputed == b->isComputed && doublesEqual(a->foldedLineAngle, b->foldedLineAngle) &&
               doublesEqual(a->foldedSkewAngle, b->foldedSkewAngle) &&
               xformsEqual(a->bandRect.xform, b->bandRect.xform) && xformsEqual(a->inkRect.xform, b->inkRect.xform) &&
               xformsEqual(a->clientFromImage, b->clientFromImage) &&
               xformsEqual(a->imageFromClient, b->imageFromClient) &&
               a->binarizationThreshold == b->binarizationThreshold &&
               a->thresholdPolarityFlag == b->thresholdPolarityFlag && a->polarity == b->polarity &&
               a->minGap == b->minGap && a->maxGap == b->maxGap && a->minMergedGap == b->minMergedGap &&
               a->maxMergedGap == b->maxMergedGap && a->minPitch == b->minPitch && a->maxPitch == b->maxPitch &&
               a->minBandHeight == b->minBandHeight && a->numRawTouchingBorder == b->numRawTouchingBorder &&
               a->numRawOutsideBand == b->numRawOutsideBand &&
               a->numUnmatchedSmallArea == b->numUnmatchedSmallArea &&
               a->numUnmatchedNarrow == b->numUnmatchedNarrow && a->numUnmatchedLow == b->numUnmatchedLow &&
               a->numCroppedTall == b->numCroppedTall;
    return 0;
}

KOC_API int32_t koc_charSegmentLineResultStats_checkIsComputed(const koc_charSegmentLineResultStats* s) noexcept
{
    KOC_ASSERT(s != nullptr);
    return s->isComputed != 0 ? 0 : KOC_E_NOT_COMPUTED;
}

}  // extern "C"

KOC_DEFINE_PLAIN_LIFECYCLE(koc_statistics32)
KOC_DEFINE_PLAIN_LIFECYCLE(koc_charSegmentElementInfo)
KOC_DEFINE_PLAIN_LIFECYCLE(koc_charSegmentElementStats)
KOC_DEFINE_PLAIN_LIFECYCLE(koc_charSegmentAllElementsStats)
KOC_DEFINE_CONSTRUCT_COPY(koc_stringSpacingStats)
KOC_DEFINE_CONSTRUCT_COPY(koc_stringStats)
KOC_DEFINE_CONSTRUCT_COPY(koc_charSegmentLineResultStats)
