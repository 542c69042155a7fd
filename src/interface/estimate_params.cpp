// estimate_params.cpp: the run-parameter estimator's entry points and the
// lifecycle of its report: extract the line with a search, measure it,
// choose the record.
#include <algorithm>
#include <cmath>

#include "services/guard.hpp"
#include "services/lifecycle.hpp"
#include "koc/koc.h"
#include "koc/koc_autoparams.h"
#include "segment/estimate.hpp"

namespace koc::interface {

namespace {

// Line extraction reports angles in [0, 360); the ranges want them signed.
double signedDegrees(double a) noexcept
{
    a = std::fmod(a, 360.0);
    if (a > 180.0) {
        a -= 360.0;
    } else if (a <= -180.0) {
        a += 360.0;
    }
    return a;
}

// Slot 0: 8-bit image, 1: 16-bit image (as koc_extractLineAndNormalize_).
template <int Slot>
int32_t estimateRunParams(const kimg_image* image, const kmath_shapeAffineRect* rect,
                          const koc_charSegmentRunParams* base, uint64_t pinned, koc_charSegmentRunParams* out,
                          koc_runParamsEstimate* report) noexcept
{
    KOC_ASSERT(image != nullptr && rect != nullptr && base != nullptr && out != nullptr);
    // Clear first: a failure below must leave the report not computed.
    if (report != nullptr) {
        koc_runParamsEstimate_reset(report);
    }
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_validate(base));

    // The measuring extraction: the caller's record with a search wide
    // enough for modestly rotated or slanted lines and the local mean
    // normalisation, which always runs the locator (so a text height is
    // found) and copes with uneven lighting. Pinned angles and polarity are
    // the caller's word and are searched as given.
    koc_charSegmentRunParams probe = *base;
    if ((pinned & KOC_PIN_MAX_LINE_ANGLE) == 0) {
        probe.maxLineAngle = std::max(probe.maxLineAngle, segment::kEstimateLineAngle);
    }
    if ((pinned & KOC_PIN_MAX_SKEW_ANGLE) == 0) {
        probe.maxSkewAngle = std::max(probe.maxSkewAngle, segment::kEstimateSkewAngle);
    }
    if ((pinned & KOC_PIN_POLARITY) == 0) {
        probe.polarity = 4;
    }
    probe.normalizationMode = 4;
    probe.limitCharHeight = 0;
    koc_lineExtractResult line;
    KOC_RETURN_IF_FAILED(koc_lineExtractResult_construct(&line));
    Always dropLine([&] { koc_lineExtractResult_destruct(&line); });
    const auto extract = [&](koc_lineExtractResult* into) -> int32_t {
        if constexpr (Slot == 0) {
            return koc_extractLineAndNormalize_(image, nullptr, nullptr, rect, &probe, into);
        } else {
            return koc_extractLineAndNormalize_(nullptr, image, nullptr, rect, &probe, into);
        }
    };
    KOC_RETURN_IF_FAILED(extract(&line));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    // The slant search can lock onto the diagonals of upright glyphs (a
    // line of 0, 7, W, Y and Z reads some 15 degrees slanted). A slant worth
    // the check is weighed against the line taken upright (columns square
    // to the line) by the gaps between glyphs: italic print opens them only
    // once deslanted, upright print only upright. Upright wins ties, and a
    // line whose glyphs all touch opens no gap either way and keeps its
    // slant. Only a false slant costs a second extraction, without the
    // slant search.
    const bool checkSlant =
        (pinned & KOC_PIN_MAX_SKEW_ANGLE) == 0 && line.isLineFound != 0 &&
        std::abs(segment::slantDegrees(line.skewAngle, line.lineAngle)) > segment::kUprightSlantDegrees;
    koc_runParamsEstimate measured;
    koc_runParamsEstimate_reset(&measured);
    uint32_t slantIsFalse = 0;
    KOC_RETURN_IF_FAILED(segment::measureExtractedLine(&line, &measured, checkSlant ? &slantIsFalse : nullptr));
    if (slantIsFalse != 0) {
        probe.maxSkewAngle = 0.0;
        KOC_RETURN_IF_FAILED(extract(&line));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        koc_runParamsEstimate_reset(&measured);
        KOC_RETURN_IF_FAILED(segment::measureExtractedLine(&line, &measured));
    }
    measured.lineAngle = signedDegrees(line.lineAngle);
    measured.skewAngle = signedDegrees(line.skewAngle);
    koc_charSegmentRunParams chosen;
    segment::chooseRunParams(measured, *base, pinned, &chosen);
    // The choosing keeps every rule; a record that broke one would be our
    // fault, and the caller's record must not change then.
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_validate(&chosen));
    *out = chosen;
    if (report != nullptr) {
        *report = measured;
        report->isComputed = 1;
    }
    return 0;
}

}  // namespace

}  // namespace koc::interface

extern "C" {

KOC_API int32_t koc_runParamsEstimate_reset(koc_runParamsEstimate* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    *r = koc_runParamsEstimate{};
    r->polarity = 4;
    return 0;
}

KOC_API int32_t koc_estimateRunParams8(const kimg_imageConst* image, const kmath_shapeAffineRect* rect,
                                       const koc_charSegmentRunParams* base, uint64_t pinnedFields,
                                       koc_charSegmentRunParams* out, koc_runParamsEstimate* report) noexcept
{
    return koc::interface::estimateRunParams<0>(image, rect, base, pinnedFields, out, report);
}

KOC_API int32_t koc_estimateRunParams16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                        const koc_charSegmentRunParams* base, uint64_t pinnedFields,
                                        koc_charSegmentRunParams* out, koc_runParamsEstimate* report) noexcept
{
    return koc::interface::estimateRunParams<1>(image16, rect, base, pinnedFields, out, report);
}

}  // extern "C"

KOC_DEFINE_PLAIN_LIFECYCLE(koc_runParamsEstimate)
