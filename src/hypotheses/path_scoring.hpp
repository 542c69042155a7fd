// path_scoring.hpp: how a path through the hypothesis tree is scored, and
// the two callbacks with which the line's walk uses that score.
//
// A path is an array of fragment-set indices, -1 for a fragment left out.
// Its string statistics count violations (small gaps, small pitches, and
// characters that are missing or below the size limits); among paths with
// the fewest violations, more ink weighted by the regularity of the pitch or
// gap wins, then more characters.
#pragma once

#include "hypotheses/line_data.hpp"

namespace koc::hypotheses {

// smallGapCount + smallPitchCount + invalidCharCount.
int32_t violationCount(const koc_stringStats& stats) noexcept;

// Adds the last entry of path[0 .. length-1] to stats, which must hold the
// statistics of the first length - 1 entries. Spacing is measured from the
// nearest earlier entry that is not -1. params supplies the size, gap and
// pitch limits.
int32_t addCharToStringStats(const koc_charHypothesisTree* tree, const koc_charSegmentRunParams* params,
                             const int32_t* path, int32_t length, koc_stringStats* stats) noexcept;

// stats = the statistics of the whole path (reset, then every entry added).
int32_t evaluatePath(const koc_charHypothesisTree* tree, const koc_charSegmentRunParams* params,
                     const int32_t* path, int32_t length, koc_stringStats* stats) noexcept;

// 1 / (1 + standard deviation); 1.0 with fewer than two samples.
double regularityOf(const koc_statistics32& stats) noexcept;

// True when candidate should replace best: fewer violations; on a tie the
// greater mark area weighted by the regularity the run parameters select;
// on a tie again more characters. An empty candidate never wins, anything
// beats an empty best.
bool isBetterStringStats(const koc_stringStats& candidate, const koc_stringStats& best,
                         const koc_charSegmentRunParams& params) noexcept;

// The fewest spacing violations (small gaps + small pitches) between set
// setIndex and any character that can start at level nextLevel; 0 when a
// fragment may be left out there (nothing to violate) or none can start.
int32_t childSpacingCost(const koc_charHypothesisTree* tree, const koc_charSegmentRunParams* params,
                         int32_t setIndex, int32_t nextLevel, int32_t* cost) noexcept;

// Walk callbacks (koc_charHypothesisTreeOrderFn / VisitFn). orderChildren's
// context is the run parameters: a koc_charSegmentRunParams or a
// LineRunContext (whose first member they are). visitPath's context is the
// line's LineRunContext; it keeps the per-depth statistics, the best
// complete path and its cost, and prunes prefixes already worse than it.
int32_t orderChildren(const koc_charHypothesisTree* tree, void* context, kstd_vector_vector32s* order) noexcept;
int32_t visitPath(const koc_charHypothesisTree* tree, const int32_t* path, int32_t pathLength, int32_t isComplete,
                  void* context, int32_t* prune, int32_t* stop) noexcept;

// Readies context for a fresh walk over a tree of levelCount levels: no best
// path, best cost 2147483647, depth 0, room for every depth's statistics and
// for the best path, so the walk itself allocates nothing per path.
int32_t prepareRunContext(LineRunContext* context, int32_t levelCount) noexcept;

}  // namespace koc::hypotheses
