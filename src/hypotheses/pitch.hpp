// pitch.hpp: the pitch pre-pass of the hypothesis road. When a line's
// characters follow a nearly constant pitch, grouping its fragments greedily
// by that pitch finds the segmentation directly, and the tree walk is not
// needed. Candidate pitches come from pairs of plausible neighbouring
// characters; every candidate gives one greedy grouping, each grouping is
// evaluated over the pitch measures, and the best one is kept.
#pragma once

#include "koc/koc_hypotheses.h"
#include "services/memory.hpp"

namespace koc::hypotheses {

using IndexList = services::Vector<int32_t>;

// The pitch measures: how the distance between two neighbouring characters
// is taken (the run parameters' pitchMeasure bits; 1 there means all three).
inline constexpr int32_t kLeftToLeft = 2;
inline constexpr int32_t kCentreToCentre = 4;
inline constexpr int32_t kRightToRight = 8;

// A pitch ratio at or above 0.8 (16.16, rounded) makes a grouping regular.
inline constexpr int32_t kRegularRatio = 52429;

// How good one greedy grouping is. Copies are plain value copies.
struct PathEvaluation {
    int32_t charCount = 0;        // 0: nothing evaluated
    int32_t smallPitchCount = 0;  // neighbours closer than the run's minPitch
    int32_t uncoveredCount = 0;   // fragments in no character of the path
    int32_t gapViolations = 0;    // too wide inside, too narrow between
    int32_t isRegular = 0;        // pitchRatio >= kRegularRatio
    int32_t meanPitch = 0;        // rounded mean of the balanced pitches
    int32_t pitchRatio = 0;       // smallest / largest balanced pitch, 16.16
    int32_t minGapBetween = 0;    // INT32_MAX when the path has one character
    int32_t maxGapInside = 0;
    int32_t minCellPitch = 0;     // smallest balanced pitch
    int32_t maxCellPitch = 0;     // largest balanced pitch
    int32_t measure = 1;          // the measure that gave the values above
};

// What collectPitchCandidates learns about a line; searchPitches reads it.
struct PitchAnalysis {
    int32_t elementCount = 0;
    int32_t lineHeight = 0;    // max(y + height) - min(y)
    int32_t minCharWidth = 0;
    int32_t maxCharWidth = 0;  // also caps every greedy pitch
    int32_t minCharGap = 0;    // a gap between characters below this violates
    int32_t maxInnerGap = 0;   // a gap inside a character above this violates
    int32_t minPitch = 0;      // floor of every pitch list
    int32_t useLeftToLeft = 1;
    int32_t useRightToRight = 1;
    int32_t useCentreToCentre = 1;
    services::Vector<koc_charSegmentElementInfo> elements;
    IndexList leftEdges;   // x
    IndexList rightEdges;  // x + width
    IndexList gaps;        // gap k: between elements k and k + 1, >= 0
    IndexList gapCentres;
    IndexList leftToLeftCandidates;  // raw, with repeats
    IndexList rightToRightCandidates;
    IndexList centreToCentreCandidates;
    IndexList leftToLeftPitches;  // sorted, unique, clamped to minPitch
    IndexList rightToRightPitches;
    IndexList centreToCentrePitches;
};

inline constexpr int32_t kTriedPathCapacity = 100;

// The best grouping found and the groupings already tried.
struct PitchSearchResult {
    PitchSearchResult() noexcept;
    PathEvaluation evaluation;  // of bestPath
    koc_stringStats stringStats;  // kept reset; the pre-pass scores without it
    IndexList bestPath;  // fragment-set indices of the tree
    services::Vector<IndexList> triedPaths;  // a ring of at most kTriedPathCapacity
    int32_t ringPosition = 0;  // the entry written last
};

// Working buffers of one search, sized once per line so that trying a path
// allocates nothing.
struct PitchScratch {
    IndexList path;
    services::Vector<kstd_rect32> rects;
    IndexList pitches;
    IndexList values;
    IndexList limits;
    // Per start fragment, the run end most recently looked up and the
    // tree's set for that run: neighbouring pitches mostly group the same
    // runs, and the tree's sets only ever grow, so a remembered index stays
    // the one the tree's lookup would return.
    IndexList runEnds;
    IndexList runSets;
};

void reset(PitchAnalysis* analysis) noexcept;
void reset(PitchSearchResult* result) noexcept;

// Fills analysis from the line's elements (left to right). KOC_E_GAP_MODE
// for a gapMode other than 1, 2 or 4 (only when there are elements). image
// is accepted for symmetry with the tree and not read.
int32_t collectPitchCandidates(PitchAnalysis* analysis, const kstd_vector_koc_charSegmentElementInfo* elements,
                               const koc_charSegmentRunParams* params, const kimg_image* image) noexcept;

// Tries every pitch of every enabled measure over the tree built from the
// same elements, adding the fragment sets it needs, and leaves the best
// grouping in result. image is not read.
int32_t searchPitches(const PitchAnalysis* analysis, koc_charHypothesisTree* tree,
                      const koc_charSegmentRunParams* params, PitchSearchResult* result,
                      const kimg_image* image) noexcept;

// A grouping the walk cannot improve on: regular and free of violations.
bool settlesLine(const PathEvaluation& evaluation) noexcept;

// ---- the pieces, reachable for tests ----

// The widest character the run parameters allow on a line of height
// lineHeight: the width limit and the aspect limit, INT32_MAX when neither.
int32_t maxCharWidthForLine(const koc_charSegmentRunParams* params, double lineHeight) noexcept;

// Makes a sorted, unique list start at minPitch: entries below it go, and
// minPitch itself leads whenever something had to go (or the list was empty).
int32_t clampPitchList(IndexList* list, int32_t minPitch) noexcept;

// Evaluates the characters rects[0 .. m-1] under one measure: raw pitches,
// per-character pitch estimates balanced towards each other, and the
// resulting regularity. Gap and coverage fields stay 0.
int32_t evaluateCharRects(const kstd_rect32* rects, int32_t m, int32_t measure, int32_t minPitch,
                          PitchScratch* scratch, PathEvaluation* evaluation) noexcept;

bool isBetterEvaluation(const PathEvaluation& a, const PathEvaluation& b) noexcept;

// False when path equals the best path or a remembered one.
bool isNewPath(const PitchSearchResult* result, const IndexList& path) noexcept;

// Remembers a non-empty path in the ring; a new ring entry is given room for
// reserveFor indices so that later overwrites do not reallocate.
int32_t rememberTriedPath(PitchSearchResult* result, const IndexList& path, int32_t reserveFor) noexcept;

}  // namespace koc::hypotheses
