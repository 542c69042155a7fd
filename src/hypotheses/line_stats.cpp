// line_stats.cpp: the statistics of a finished line: extremes over its
// positions and elements, every element with its verdict, the line's
// geometry in client coordinates and the reasons elements were rejected.
#include "hypotheses/line_stats.hpp"

#include <algorithm>
#include <cmath>

#include "hypotheses/line_data.hpp"
#include "services/guard.hpp"
#include "koc/ksys.h"

namespace koc::hypotheses {

namespace {

using Element = koc_charSegmentElementInfo;
using Summary = koc_charSegmentAllElementsStats;

constexpr uint32_t kRawRejectMask = 2 | 8;          // outside the mask, on another line
constexpr uint32_t kCharRejectMask = 32 | 64 | 128;  // too small in area, width, height
constexpr uint32_t kFlagSmallArea = 32;
constexpr uint32_t kFlagNarrow = 64;
constexpr uint32_t kFlagLow = 128;

void widen(int32_t* lo, int32_t* hi, int32_t value)
{
    *lo = std::min(*lo, value);
    *hi = std::max(*hi, value);
}

// Words 1 to 7: filled, area, contrast, top and bottom.
void addElementExtents(Summary* s, const Element& e)
{
    s->isFilled = 1;
    widen(&s->minArea, &s->maxArea, e.area);
    widen(&s->minContrast, &s->maxContrast, e.contrast);
    s->minTop = std::min(s->minTop, e.rect.y);
    s->maxBottom = std::max(s->maxBottom, e.rect.y + e.rect.height);
}

koc_charSegmentElementStats entryOf(const Element& e, uint32_t flags, uint32_t rejectMask)
{
    koc_charSegmentElementStats s;
    koc_charSegmentElementStats_reset(&s);
    s.rect = e.rect;
    s.area = e.area;
    s.contrast = e.contrast;
    s.outOfBandFraction = e.outOfBandFraction;
    s.inBandFraction = e.inBandFraction;
    s.flags = flags;
    s.isAccepted = (flags & rejectMask) == 0 ? 1 : 0;
    return s;
}

int32_t append(kstd_vector_koc_charSegmentElementStats* all, kstd_vector_koc_charSegmentElementStats* accepted,
               kstd_vector_koc_charSegmentElementStats* rejected, const koc_charSegmentElementStats& entry)
{
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementStats_pushBack(all, &entry));
    return kstd_vector_koc_charSegmentElementStats_pushBack(entry.isAccepted != 0 ? accepted : rejected, &entry);
}

bool centreIn(const kstd_rect32& r, const kstd_rect32& of)
{
    const int32_t cx = r.x + r.width / 2, cy = r.y + r.height / 2;
    return of.x <= cx && cx < of.x + of.width && of.y <= cy && cy < of.y + of.height;
}

// Folds an angle of either sense to its acute size, 0 to 90 degrees.
double fold(double degrees)
{
    const double a = std::fabs(degrees);
    return a > 90.0 ? 180.0 - a : a;
}

int32_t positionExtents(koc_charSegmentLineResultStats* s, const kstd_vector_koc_charSegmentPositionResult& v)
{
    const auto* p = static_cast<const koc_charSegmentPositionResult*>(v.base.begin);
    const auto n = static_cast<int32_t>(v.base.size);
    for (int32_t i = 0; i < n; ++i) {
        kstd_rect32 r;
        KOC_RETURN_IF_FAILED(koc_char_getMarkOrImageArea(&p[i].character, &r));
        if (p[i].isSpace != 0) {
            widen(&s->positionStats.minSpaceWidth, &s->positionStats.maxSpaceWidth, r.width);
            continue;
        }
        widen(&s->positionStats.minMarkArea, &s->positionStats.maxMarkArea, p[i].area);
        widen(&s->positionStats.minWidth, &s->positionStats.maxWidth, r.width);
        widen(&s->positionStats.minHeight, &s->positionStats.maxHeight, r.height);
        if (i + 1 < n && p[i + 1].isSpace == 0) {
            kstd_rect32 next;
            KOC_RETURN_IF_FAILED(koc_char_getMarkOrImageArea(&p[i + 1].character, &next));
            widen(&s->minGap, &s->maxGap, next.x - (r.x + r.width));
            widen(&s->minPitch, &s->maxPitch, next.x - r.x);
        }
    }
    return 0;
}

int32_t rawElementStats(koc_charSegmentLineResultStats* s, const kstd_vector_koc_charSegmentElementInfo& v)
{
    const auto* e = static_cast<const Element*>(v.base.begin);
    for (intptr_t i = 0; i < v.base.size; ++i) {
        const koc_charSegmentElementStats entry = entryOf(e[i], e[i].flags, kRawRejectMask);
        KOC_RETURN_IF_FAILED(append(&s->rawElements, &s->rawAccepted, &s->rawRejected, entry));
        addElementExtents(entry.isAccepted != 0 ? &s->positionStats : &s->elementStats, e[i]);
        s->numRawTouchingBorder += (e[i].flags & 2) != 0 ? 1 : 0;
        s->numRawOutsideBand += (e[i].flags & 8) != 0 ? 1 : 0;
    }
    return 0;
}

// Tree elements that no chosen character covers (nor covers one) were left
// out of the line's path; their entries say which size rule they break.
// Only examined when there are more tree elements than characters: with as
// many, every fragment became a character of its own.
int32_t unmatchedTreeElements(koc_charSegmentLineResultStats* s, const koc_charSegmentRunParams* params,
                              const koc_charSegmentLineResultData_& data)
{
    const auto* tree = static_cast<const Element*>(data.treeElements.base.begin);
    const auto* chars = static_cast<const Element*>(data.charElements.base.begin);
    const intptr_t numTree = data.treeElements.base.size, numChars = data.charElements.base.size;
    if (numTree <= numChars) {
        return 0;
    }
    for (intptr_t i = 0; i < numTree; ++i) {
        const Element& t = tree[i];
        bool matched = false;
        for (intptr_t c = 0; c < numChars && !matched; ++c) {
            matched = centreIn(t.rect, chars[c].rect) || centreIn(chars[c].rect, t.rect);
        }
        if (matched) {
            continue;
        }
        uint32_t flags = t.flags;
        if (t.rect.width < params->minCharWidth) {
            flags |= kFlagNarrow;
            ++s->numUnmatchedNarrow;
        }
        if (t.rect.height < params->minCharHeight) {
            flags |= kFlagLow;
            ++s->numUnmatchedLow;
        }
        if (t.area < params->minCharArea) {
            flags |= kFlagSmallArea;
            ++s->numUnmatchedSmallArea;
        }
        s->elementStats.isFilled = 1;
        widen(&s->elementStats.minMarkArea, &s->elementStats.maxMarkArea, t.area);
        widen(&s->elementStats.minWidth, &s->elementStats.maxWidth, t.rect.width);
        widen(&s->elementStats.minHeight, &s->elementStats.maxHeight, t.rect.height);
        KOC_RETURN_IF_FAILED(
            append(&s->charElements, &s->charAccepted, &s->charRejected, entryOf(t, flags, kCharRejectMask)));
    }
    return 0;
}

int32_t compute(const koc_charSegmentRunParams* params, koc_charSegmentLineResult* line)
{
    koc_charSegmentLineResultStats* s = &line->stats;
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultStats_reset(s));
    if (params->skipLineStats != 0) {
        return 0;
    }
    KOC_ASSERT(line->lineData != nullptr);
    const koc_charSegmentLineResultData_& data = *line->lineData;

    KOC_RETURN_IF_FAILED(kimg_imageConst_getLinearClientFromImageXform(&data.workingImage, &s->clientFromImage));
    KOC_RETURN_IF_FAILED(kmath_xformLinear_getInverse(&s->clientFromImage, &s->imageFromClient));
    kmath_shapeAffineRect pixels;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initRect32(&pixels, &data.bandRect));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&s->bandRect, &s->clientFromImage, &pixels));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initRect32(&pixels, &data.inkRect));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&s->inkRect, &s->clientFromImage, &pixels));

    s->numCroppedTall = data.croppedCount;
    s->binarizationThreshold = line->binarizationThreshold;
    s->thresholdPolarityFlag = line->thresholdPolarityFlag;
    s->polarity = line->polarity;
    s->maxMergedGap = data.maxMergedGap;
    s->minMergedGap = std::min(data.minMergedGap, data.maxMergedGap);
    if (data.bandRect.height > 0) {
        s->minBandHeight = data.bandRect.height;
    }

    // The skew is measured from the line's direction. Its difference is
    // normalised as well, so a line near -180 and a shear near +180 fold to
    // the small angle between them rather than to a negative one.
    double a = 0.0, b = 0.0, skew = 0.0;
    KOC_RETURN_IF_FAILED(kmath_degree_signedNorm(line->lineAngle, &a));
    KOC_RETURN_IF_FAILED(kmath_degree_signedNorm(line->skewAngle, &b));
    KOC_RETURN_IF_FAILED(kmath_degree_signedNorm(b - a, &skew));
    s->foldedLineAngle = fold(a);
    s->foldedSkewAngle = fold(skew);
    s->isComputed = 1;
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    KOC_RETURN_IF_FAILED(positionExtents(s, line->positionResults));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(rawElementStats(s, data.rawElements));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    const auto* chars = static_cast<const Element*>(data.charElements.base.begin);
    for (intptr_t i = 0; i < data.charElements.base.size; ++i) {
        KOC_RETURN_IF_FAILED(append(&s->charElements, &s->charAccepted, &s->charRejected,
                                    entryOf(chars[i], chars[i].flags, kCharRejectMask)));
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(unmatchedTreeElements(s, params, data));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    s->isComputed = 1;
    return 0;
}

}  // namespace

int32_t computeLineStatistics(const koc_charSegmentRunParams* params, koc_charSegmentLineResult* line) noexcept
{
    KOC_ASSERT(params != nullptr && line != nullptr);
    return guarded([&] { return compute(params, line); });
}

}  // namespace koc::hypotheses
