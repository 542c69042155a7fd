// estimate.hpp: run parameters measured from an extracted line. The
// measuring reads the rectified line image of a line-extraction result; the
// choosing turns the measures into a run-parameter record. Both are called
// by koc_estimateRunParams8/16 (src/interface/estimate_params.cpp).
#pragma once

#include <cstdint>

#include "koc/koc_autoparams.h"
#include "koc/koc_lineextract.h"

namespace koc::segment {

// Fills every measure of m except isComputed, lineAngle and skewAngle from
// the line image (its valid pixels only) and the decided polarity.
// KOC_E_NO_INK when the line was not found or holds no mark big enough to
// measure.
// slantIsFalse (may be null) is set when the line's slant (skewAngle)
// reads from diagonal strokes of upright glyphs: taken upright, the ink
// leaves at least as many columns between glyphs empty as deslanted (and
// some).
int32_t measureExtractedLine(const koc_lineExtractResult* line, koc_runParamsEstimate* m,
                             uint32_t* slantIsFalse = nullptr) noexcept;

// out = base with every field not pinned replaced by what the measures
// call for. The result passes validate whenever base does.
void chooseRunParams(const koc_runParamsEstimate& m, const koc_charSegmentRunParams& base, uint64_t pinned,
                     koc_charSegmentRunParams* out) noexcept;

// The angle and slant ranges of the measuring search.
constexpr double kEstimateLineAngle = 15.0;
constexpr double kEstimateSkewAngle = 15.0;

}  // namespace koc::segment
