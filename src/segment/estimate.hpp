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
// slantIsFalse (may be null) is set when the line's slant (skewAngle
// against lineAngle) reads from diagonal strokes of upright glyphs: taken
// upright, the ink leaves at least as many columns between glyphs empty as
// deslanted (and some).
int32_t measureExtractedLine(const koc_lineExtractResult* line, koc_runParamsEstimate* m,
                             uint32_t* slantIsFalse = nullptr) noexcept;

// out = base with every field not pinned replaced by what the measures
// call for. The result passes validate whenever base does.
void chooseRunParams(const koc_runParamsEstimate& m, const koc_charSegmentRunParams& base, uint64_t pinned,
                     koc_charSegmentRunParams* out) noexcept;

// The angle and slant ranges of the measuring search.
constexpr double kEstimateLineAngle = 15.0;
constexpr double kEstimateSkewAngle = 15.0;

// The slant of a line's columns against its rows (the shear search runs
// around the rotation), signed, in the search's whole-degree steps. The
// angles may be signed or in [0, 360).
int32_t slantDegrees(double skewAngle, double lineAngle) noexcept;

// On upright print the shear search settles up to two steps off upright
// (the diagonals and serifs of upright glyphs lean the column profile a
// little), and a slant that small parts no glyphs that upright columns do
// not. A line measured this close to upright is taken upright (and, unless
// it is rotated, noisy or touching, segmented without a slant search); a
// larger slant is first checked against the line taken upright.
constexpr int32_t kUprightSlantDegrees = 2;

}  // namespace koc::segment
