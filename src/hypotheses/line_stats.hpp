// line_stats.hpp: the statistics record of a finished line.
#pragma once

#include "koc/koc_results.h"

namespace koc::hypotheses {

// Resets line->stats, then (unless params->skipLineStats) fills it from the
// line's positions and working data and marks it computed. Failures of the
// vectors or the attention check come back unchanged; the record then holds
// what was filled so far.
int32_t computeLineStatistics(const koc_charSegmentRunParams* params, koc_charSegmentLineResult* line) noexcept;

}  // namespace koc::hypotheses
