// pitch.cpp: the pitch pre-pass.
//
// Printed text mostly keeps a constant pitch. Pairs of plausible neighbouring
// characters (runs of elements whose widths lie between the smallest and the
// largest character width) propose pitches; a wide gap between the two also
// proposes the fractions of the pitch that would fit further characters into
// it. For every proposed pitch the elements are grouped greedily from the
// left into characters no wider than that pitch. A grouping is judged by its
// violations (too small pitches, uncovered elements, bad gaps), then by its
// regularity, then by the smaller mean pitch. A clean, regular winner is the
// line's segmentation; otherwise the tree walk decides.
//
// Trying a path must stay cheap on long lines: all buffers are sized once
// per line and the ring of tried paths overwrites its entries in place.
#include "hypotheses/pitch.hpp"

#include <algorithm>
#include <climits>
#include <cmath>

#include "hypotheses/hypotheses_internal.hpp"
#include "hypotheses/hypothesis_tree.hpp"
#include "services/guard.hpp"
#include "koc/kmath.h"
#include "koc/ksys.h"
#include "services/numeric.hpp"

namespace koc::hypotheses {

namespace {

constexpr int32_t kOne16 = 65536;
constexpr int kMaxBalancePasses = 5;

int32_t clampToInt32(double v) noexcept
{
    return services::saturatingInt32(v);  // NaN (from a NaN factor) gives 0
}

int32_t clampToInt32(int64_t v) noexcept
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// 16.16 with halves away from zero, as every fixed-point ratio of the library.
int32_t toFixed16(double x) noexcept
{
    return clampToInt32(x >= 0.0 ? x * kOne16 + 0.5 : x * kOne16 - 0.4999999999);
}

int32_t roundToInt32(double v) noexcept
{
    double r = 0.0;
    kmath_double_round(v, &r);
    return clampToInt32(r);
}

// ---- candidates ----

// p is the pitch between characters A = [aL, aR) and B = [bL, bR). A gap
// between them as wide as r characters may hold r characters we did not
// see as such, so p / 2 ... p / (r + 1) are candidates as well.
void addPitchCandidate(IndexList* list, int32_t p, int32_t aL, int32_t aR, int32_t bL, int32_t bR)
{
    list->push_back(p);
    if (aR >= bL) {
        return;
    }
    const int32_t span = std::max(bR - bL, aR - aL);
    if (span <= 0) {
        return;
    }
    const int32_t r = roundToInt32(static_cast<double>(bL - aR) / span);
    for (int32_t d = 1; d <= r; ++d) {
        list->push_back(p / (d + 1));
    }
}

int32_t gatherPitchCandidates(PitchAnalysis* a)
{
    const int32_t n = a->elementCount;
    const int32_t lo = a->minCharWidth;
    const int32_t hi = a->maxCharWidth;
    const int32_t* left = a->leftEdges.data();
    const int32_t* right = a->rightEdges.data();
    for (int32_t i = 0; i < n; ++i) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        // A = elements i .. j grows until it is too wide for a character.
        for (int32_t j = i; j + 1 < n; ++j) {
            const int32_t wA = right[j] - left[i];
            if (wA > hi) {
                break;
            }
            if (wA < lo) {
                continue;
            }
            const int32_t k = j + 1;
            const int32_t aL = left[i];
            const int32_t aR = right[j];
            const int32_t bL = left[k];
            for (int32_t m = k; m < n; ++m) {
                const int32_t wB = right[m] - left[k];
                if (wB < lo) {
                    continue;
                }
                if (wB > hi) {
                    break;
                }
                const int32_t bR = right[m];
                if (a->useLeftToLeft != 0 && m == k) {
                    addPitchCandidate(&a->leftToLeftCandidates, bL - aL, aL, aR, bL, bR);
                }
                if (a->useRightToRight != 0) {
                    addPitchCandidate(&a->rightToRightCandidates, bR - aR, aL, aR, bL, bR);
                }
                if (a->useCentreToCentre != 0) {
                    addPitchCandidate(&a->centreToCentreCandidates,
                                      (bL + ((wB + 1) >> 1)) - (aL + ((wA + 1) >> 1)), aL, aR, bL, bR);
                }
            }
        }
    }
    return 0;
}

int32_t clampSortedPitchList(IndexList* list, int32_t q)
{
    if (list->empty()) {
        list->push_back(q);
        return 0;
    }
    if (list->front() >= q) {
        return 0;
    }
    const auto p = std::find_if(list->begin(), list->end(), [q](int32_t v) { return v >= q; });
    if (p == list->end()) {
        list->assign(1, q);
    } else if (*p == q) {
        list->erase(list->begin(), p);
    } else {
        list->erase(list->begin(), p);
        list->insert(list->begin(), q);
    }
    return 0;
}

int32_t finishPitchList(const IndexList& candidates, IndexList* pitches, int32_t q)
{
    pitches->assign(candidates.begin(), candidates.end());
    std::sort(pitches->begin(), pitches->end());
    pitches->erase(std::unique(pitches->begin(), pitches->end()), pitches->end());
    return clampSortedPitchList(pitches, q);
}

int32_t fillLineFields(PitchAnalysis* a, const koc_charSegmentRunParams* params)
{
    int64_t top = INT64_MAX;
    int64_t bottom = INT64_MIN;
    for (const koc_charSegmentElementInfo& e : a->elements) {
        top = std::min<int64_t>(top, e.rect.y);
        bottom = std::max<int64_t>(bottom, int64_t{e.rect.y} + e.rect.height);
    }
    a->lineHeight = clampToInt32(bottom - top);
    const double h = a->lineHeight;
    a->minCharWidth = params->minCharWidth;
    // A character is at most twice as wide as the line is high.
    a->maxCharWidth = clampToInt32(
        std::min(static_cast<double>(maxCharWidthForLine(params, h)), std::ceil(h / 0.5)));
    switch (params->gapMode) {
    case 1:
        a->minCharGap = 0;
        a->maxInnerGap = INT32_MAX;
        break;
    case 2:
        a->minCharGap = params->minCharGap;
        a->maxInnerGap = std::max(params->minCharGap - 1, 0);
        break;
    case 4:
        a->minCharGap = params->minCharGap;
        a->maxInnerGap = params->maxInnerGap;
        break;
    default:
        return KOC_E_GAP_MODE;
    }
    // Characters closer than a third of the line height are not a pitch.
    a->minPitch = std::max({clampToInt32(std::ceil(h / 3.3)), params->minPitch, params->minCharWidth});
    const uint32_t measure = params->pitchMeasure;
    a->useLeftToLeft = (measure == 1 || measure == kLeftToLeft) ? 1 : 0;
    a->useRightToRight = (measure == 1 || measure == kRightToRight) ? 1 : 0;
    a->useCentreToCentre = (measure == 1 || measure == kCentreToCentre) ? 1 : 0;
    return 0;
}

void fillEdgeLists(PitchAnalysis* a)
{
    const size_t n = a->elements.size();
    a->leftEdges.resize(n);
    a->rightEdges.resize(n);
    for (size_t k = 0; k < n; ++k) {
        const kstd_rect32& r = a->elements[k].rect;
        a->leftEdges[k] = r.x;
        a->rightEdges[k] = r.x + r.width;
    }
    a->gaps.resize(n - 1);
    a->gapCentres.resize(n - 1);
    for (size_t k = 0; k + 1 < n; ++k) {
        const int32_t nextLeft = a->leftEdges[k + 1];
        a->gaps[k] = std::max(nextLeft - a->rightEdges[k], 0);
        a->gapCentres[k] =
            clampToInt32((int64_t{nextLeft} + 1 + std::min(a->rightEdges[k], nextLeft)) >> 1);
    }
}

// ---- one greedy path ----

const koc_charFragmentSet* setAt(const koc_charHypothesisTree* tree, int32_t index) noexcept
{
    return itemsOf<koc_charFragmentSet>(tree->fragmentSets) + index;
}

// Groups the elements from the left into characters no wider than the
// pitch; a character starts wherever the previous one ended. Runs too small
// for a character are left out.
int32_t pathForPitch(const PitchAnalysis& a, koc_charHypothesisTree* tree, int32_t pitch, int32_t measure,
                     PitchScratch* s)
{
    IndexList* path = &s->path;
    KOC_ASSERT(measure != 1);
    KOC_ASSERT(pitch >= 0);
    const int32_t limit = std::min(pitch, a.maxCharWidth);
    const int32_t n = a.elementCount;
    const int32_t* left = a.leftEdges.data();
    const int32_t* right = a.rightEdges.data();
    path->clear();
    int32_t i = 0;
    while (i < n) {
        int32_t j = i;
        if (right[i] - left[i] < limit) {
            while (j + 1 < n && right[j + 1] - left[i] <= limit) {
                ++j;
            }
        }
        int32_t& index = s->runSets[static_cast<size_t>(i)];
        if (s->runEnds[static_cast<size_t>(i)] != j) {
            s->runEnds[static_cast<size_t>(i)] = -1;  // until the lookup has succeeded
            KOC_RETURN_IF_FAILED(findOrAddFragmentSet(tree, i, j, &index));
            s->runEnds[static_cast<size_t>(i)] = j;
        }
        KOC_ASSERT(index >= 0 && index < sizeOf(tree->fragmentSets));
        if (setAt(tree, index)->isTooSmall == 0) {
            path->push_back(index);
        }
        i = j + 1;
    }
    return 0;
}

// ---- evaluation ----

// Shrinks every estimate towards the smallest one as far as its character's
// width allows, then lets the smallest grow up to the new largest within its
// own limit, until nothing moves. What stays apart afterwards is real
// irregularity, not a wide gap that a cell could absorb.
int32_t balanceCellPitches(const kstd_rect32* rects, int32_t m, int32_t* v, const int32_t* limit)
{
    for (int pass = 0; pass < kMaxBalancePasses; ++pass) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        const int32_t lo = *std::min_element(v, v + m);
        const int32_t hi = *std::max_element(v, v + m);
        if (lo == hi) {
            break;
        }
        bool changed = false;
        for (int32_t k = 0; k < m; ++k) {
            if (v[k] > lo && rects[k].width < v[k]) {
                v[k] = std::max(rects[k].width, lo);
                changed = true;
            }
        }
        const int32_t shrunkHi = *std::max_element(v, v + m);
        if (lo == shrunkHi) {
            break;
        }
        for (int32_t k = 0; k < m; ++k) {
            if (v[k] == lo && v[k] < limit[k]) {
                const int32_t grown = std::min(limit[k], shrunkHi);
                changed = changed || grown != v[k];
                v[k] = grown;
            }
        }
        if (!changed) {
            break;
        }
    }
    return 0;
}

void scoreCellPitches(const int32_t* pitches, const int32_t* v, int32_t m, int32_t minPitch, PathEvaluation* e)
{
    e->smallPitchCount = static_cast<int32_t>(std::count_if(pitches, pitches + (m - 1),
                                                            [minPitch](int32_t p) { return p < minPitch; }));
    e->minCellPitch = *std::min_element(v, v + m);
    e->maxCellPitch = *std::max_element(v, v + m);
    int64_t sum = 0;
    for (int32_t k = 0; k < m; ++k) {
        sum += v[k];
    }
    e->meanPitch = roundToInt32(static_cast<double>(sum) / m);
    if (e->maxCellPitch == 0) {
        e->pitchRatio = 0;
        e->isRegular = 0;
        return;
    }
    e->pitchRatio = toFixed16(static_cast<double>(e->minCellPitch) / e->maxCellPitch);
    e->isRegular = e->pitchRatio >= kRegularRatio ? 1 : 0;
}

int32_t evaluateRects(const kstd_rect32* rects, int32_t m, int32_t measure, int32_t minPitch, PitchScratch* s,
                      PathEvaluation* e)
{
    KOC_ASSERT(measure == kLeftToLeft || measure == kRightToRight || measure == kCentreToCentre);
    *e = PathEvaluation{};
    e->measure = measure;
    e->charCount = m;
    if (m == 0) {
        return 0;
    }
    if (m == 1) {
        e->isRegular = 1;
        e->pitchRatio = kOne16;
        e->minGapBetween = 0;
        e->maxGapInside = 0;
        e->meanPitch = e->minCellPitch = e->maxCellPitch = rects[0].width;
        return 0;
    }
    s->pitches.resize(static_cast<size_t>(m - 1));
    s->values.resize(static_cast<size_t>(m));
    s->limits.resize(static_cast<size_t>(m));
    int32_t* pitch = s->pitches.data();
    for (int32_t k = 0; k + 1 < m; ++k) {
        const kstd_rect32& a = rects[k];
        const kstd_rect32& b = rects[k + 1];
        int64_t p = 0;
        if (measure == kLeftToLeft) {
            p = int64_t{b.x} - a.x;
        } else if (measure == kRightToRight) {
            p = (int64_t{b.x} + b.width) - (int64_t{a.x} + a.width);
        } else {
            p = (int64_t{b.x} + ((b.width + 1) >> 1)) - (int64_t{a.x} + ((a.width + 1) >> 1));
        }
        pitch[k] = clampToInt32(std::max<int64_t>(p, 0));
    }
    // Each character's own pitch: the distance to the neighbour the measure
    // looks at; the character at the open end keeps at least its width and
    // may grow without bound while balancing.
    const int32_t last = m - 1;
    for (int32_t k = 0; k < m; ++k) {
        const int32_t w = rects[k].width;
        int32_t estimate = 0;
        bool open = false;
        if (measure == kLeftToLeft) {
            open = k == last;
            estimate = open ? std::max(pitch[last - 1], w) : pitch[k];
        } else if (measure == kRightToRight) {
            open = k == 0;
            estimate = open ? std::max(pitch[0], w) : pitch[k - 1];
        } else if (k == 0) {
            estimate = std::max(pitch[0], w);
        } else if (k == last) {
            estimate = std::max(pitch[last - 1], w);
        } else {
            estimate = clampToInt32((int64_t{pitch[k]} + 1 + pitch[k - 1]) >> 1);
        }
        s->values[static_cast<size_t>(k)] = std::max(w, estimate);
        s->limits[static_cast<size_t>(k)] = open ? INT32_MAX : s->values[static_cast<size_t>(k)];
    }
    KOC_RETURN_IF_FAILED(balanceCellPitches(rects, m, s->values.data(), s->limits.data()));
    scoreCellPitches(pitch, s->values.data(), m, minPitch, e);
    return 0;
}

int32_t evaluatePathAllMeasures(const PitchAnalysis& a, const koc_charHypothesisTree* tree, const IndexList& path,
                                int32_t minPitch, PitchScratch* s, PathEvaluation* e)
{
    s->rects.clear();
    for (int32_t index : path) {
        s->rects.push_back(setAt(tree, index)->mergedElement.rect);
    }
    const int32_t m = static_cast<int32_t>(path.size());
    const int32_t measures[3] = {a.useLeftToLeft != 0 ? kLeftToLeft : 0, a.useRightToRight != 0 ? kRightToRight : 0,
                                 a.useCentreToCentre != 0 ? kCentreToCentre : 0};
    bool first = true;
    for (int32_t measure : measures) {
        if (measure == 0) {
            continue;
        }
        PathEvaluation em;
        KOC_RETURN_IF_FAILED(evaluateRects(s->rects.data(), m, measure, minPitch, s, &em));
        if (first || isBetterEvaluation(em, *e)) {
            *e = em;
        }
        first = false;
    }
    return 0;
}

// Counts gaps inside a character wider than allowed and gaps between
// characters narrower than required, and records the extremes of both.
void checkGaps(const PitchAnalysis& a, const koc_charHypothesisTree* tree, const IndexList& path, PathEvaluation* e)
{
    int32_t violations = 0;
    int32_t maxInside = 0;
    int32_t minBetween = INT32_MAX;
    int32_t previousLast = -1;
    for (int32_t index : path) {
        const koc_charFragmentSet* set = setAt(tree, index);
        const int32_t first = set->indexView[0];
        const int32_t lastInSet = set->indexView[set->count - 1];
        for (int32_t k = first; k < lastInSet; ++k) {
            const int32_t g = a.gaps[static_cast<size_t>(k)];
            violations += g > a.maxInnerGap ? 1 : 0;
            maxInside = std::max(maxInside, g);
        }
        if (previousLast >= 0) {
            const int32_t g = std::max(a.leftEdges[static_cast<size_t>(first)] -
                                           a.rightEdges[static_cast<size_t>(previousLast)], 0);
            violations += g < a.minCharGap ? 1 : 0;
            minBetween = std::min(minBetween, g);
        }
        previousLast = lastInSet;
    }
    e->gapViolations = violations;
    e->maxGapInside = maxInside;
    e->minGapBetween = minBetween;
}

int32_t evaluatePitchPath(const PitchAnalysis& a, const koc_charHypothesisTree* tree,
                          const koc_charSegmentRunParams* params, PitchScratch* s, PitchSearchResult* result)
{
    const IndexList& path = s->path;
    PathEvaluation e;
    KOC_RETURN_IF_FAILED(evaluatePathAllMeasures(a, tree, path, params->minPitch, s, &e));
    int64_t covered = 0;
    for (int32_t index : path) {
        const koc_charFragmentSet* set = setAt(tree, index);
        covered += set->isTooSmall == 0 ? set->count : 0;
    }
    KOC_ASSERT(covered <= a.elementCount);
    e.uncoveredCount = a.elementCount - static_cast<int32_t>(covered);
    checkGaps(a, tree, path, &e);
    if (isBetterEvaluation(e, result->evaluation)) {
        KOC_RETURN_IF_FAILED(rememberTriedPath(result, result->bestPath, a.elementCount));
        result->bestPath.assign(path.begin(), path.end());
        result->evaluation = e;
        return 0;
    }
    return rememberTriedPath(result, path, a.elementCount);
}

int32_t tryPitchList(const PitchAnalysis& a, koc_charHypothesisTree* tree, const koc_charSegmentRunParams* params,
                     const IndexList& pitches, int32_t measure, PitchScratch* s, PitchSearchResult* result)
{
    for (int32_t pitch : pitches) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(pathForPitch(a, tree, pitch, measure, s));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        if (isNewPath(result, s->path)) {
            KOC_RETURN_IF_FAILED(evaluatePitchPath(a, tree, params, s, result));
        }
    }
    return 0;
}

}  // namespace

PitchSearchResult::PitchSearchResult() noexcept
{
    koc_stringStats_construct(&stringStats);
}

void reset(PitchAnalysis* a) noexcept
{
    a->elementCount = 0;
    a->lineHeight = 0;
    a->minCharWidth = 0;
    a->maxCharWidth = 0;
    a->minCharGap = 0;
    a->maxInnerGap = 0;
    a->minPitch = 0;
    a->useLeftToLeft = 1;
    a->useRightToRight = 1;
    a->useCentreToCentre = 1;
    // Cleared, not freed: the next line reuses the room.
    a->elements.clear();
    for (IndexList* list : {&a->leftEdges, &a->rightEdges, &a->gaps, &a->gapCentres, &a->leftToLeftCandidates,
                            &a->rightToRightCandidates, &a->centreToCentreCandidates, &a->leftToLeftPitches,
                            &a->rightToRightPitches, &a->centreToCentrePitches}) {
        list->clear();
    }
}

void reset(PitchSearchResult* r) noexcept
{
    r->evaluation = PathEvaluation{};
    koc_stringStats_reset(&r->stringStats);
    r->bestPath.clear();
    r->triedPaths.clear();
    r->ringPosition = 0;
}

bool settlesLine(const PathEvaluation& e) noexcept
{
    return e.smallPitchCount == 0 && e.uncoveredCount == 0 && e.gapViolations == 0 && e.isRegular != 0;
}

int32_t maxCharWidthForLine(const koc_charSegmentRunParams* params, double lineHeight) noexcept
{
    KOC_ASSERT(params != nullptr);
    const int32_t byWidth = params->limitCharWidth != 0 ? params->maxCharWidth : INT32_MAX;
    int32_t byAspect = INT32_MAX;
    if (params->limitAspect != 0 && lineHeight > 0.0) {
        const int32_t ratio16 = toFixed16(params->minAspectRatio);
        if (ratio16 > 0) {
            const double h = params->limitCharHeight != 0
                                 ? std::min(lineHeight, static_cast<double>(params->maxCharHeight))
                                 : lineHeight;
            byAspect = roundToInt32(static_cast<double>(kOne16) * h / ratio16);
        }
    }
    return std::min(byWidth, byAspect);
}

int32_t clampPitchList(IndexList* list, int32_t minPitch) noexcept
{
    KOC_ASSERT(list != nullptr);
    return guarded([&] { return clampSortedPitchList(list, minPitch); });
}

int32_t evaluateCharRects(const kstd_rect32* rects, int32_t m, int32_t measure, int32_t minPitch,
                          PitchScratch* scratch, PathEvaluation* evaluation) noexcept
{
    KOC_ASSERT((rects != nullptr || m == 0) && m >= 0 && scratch != nullptr && evaluation != nullptr);
    return guarded([&] { return evaluateRects(rects, m, measure, minPitch, scratch, evaluation); });
}

bool isBetterEvaluation(const PathEvaluation& a, const PathEvaluation& b) noexcept
{
    if (a.charCount == 0) {
        return false;
    }
    if (b.charCount == 0) {
        return true;
    }
    const int64_t va = int64_t{a.smallPitchCount} + a.uncoveredCount + a.gapViolations;
    const int64_t vb = int64_t{b.smallPitchCount} + b.uncoveredCount + b.gapViolations;
    if (va != vb) {
        return va < vb;
    }
    if ((a.isRegular != 0) != (b.isRegular != 0)) {
        return a.isRegular != 0;
    }
    return a.meanPitch < b.meanPitch;
}

bool isNewPath(const PitchSearchResult* result, const IndexList& path) noexcept
{
    if (path == result->bestPath) {
        return false;
    }
    return std::none_of(result->triedPaths.begin(), result->triedPaths.end(),
                        [&path](const IndexList& tried) { return tried == path; });
}

int32_t rememberTriedPath(PitchSearchResult* result, const IndexList& path, int32_t reserveFor) noexcept
{
    KOC_ASSERT(result != nullptr);
    if (path.empty()) {
        return 0;
    }
    return guarded([&]() -> int32_t {
        auto& ring = result->triedPaths;
        if (ring.size() < static_cast<size_t>(kTriedPathCapacity)) {
            ring.reserve(static_cast<size_t>(kTriedPathCapacity));
            IndexList entry;
            entry.reserve(std::max(path.size(), static_cast<size_t>(std::max(reserveFor, 0))));
            entry.assign(path.begin(), path.end());
            ring.push_back(std::move(entry));
            result->ringPosition = static_cast<int32_t>(ring.size()) - 1;
            return 0;
        }
        result->ringPosition = result->ringPosition == kTriedPathCapacity - 1 ? 0 : result->ringPosition + 1;
        ring[static_cast<size_t>(result->ringPosition)].assign(path.begin(), path.end());
        return 0;
    });
}

int32_t collectPitchCandidates(PitchAnalysis* analysis, const kstd_vector_koc_charSegmentElementInfo* elements,
                               const koc_charSegmentRunParams* params, const kimg_image* /*image*/) noexcept
{
    KOC_ASSERT(analysis != nullptr && elements != nullptr && params != nullptr);
    reset(analysis);
    return guarded([&]() -> int32_t {
        const koc_charSegmentElementInfo* begin = itemsOf<koc_charSegmentElementInfo>(*elements);
        const int32_t n = sizeOf(*elements);
        analysis->elements.assign(begin, begin + n);
        analysis->elementCount = n;
        if (n == 0) {
            return 0;
        }
        KOC_RETURN_IF_FAILED(fillLineFields(analysis, params));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        fillEdgeLists(analysis);
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(gatherPitchCandidates(analysis));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        const int32_t q = analysis->minPitch;
        KOC_RETURN_IF_FAILED(finishPitchList(analysis->leftToLeftCandidates, &analysis->leftToLeftPitches, q));
        KOC_RETURN_IF_FAILED(finishPitchList(analysis->rightToRightCandidates, &analysis->rightToRightPitches, q));
        KOC_RETURN_IF_FAILED(
            finishPitchList(analysis->centreToCentreCandidates, &analysis->centreToCentrePitches, q));
        return ksys_attention_check();
    });
}

int32_t searchPitches(const PitchAnalysis* analysis, koc_charHypothesisTree* tree,
                      const koc_charSegmentRunParams* params, PitchSearchResult* result,
                      const kimg_image* /*image*/) noexcept
{
    KOC_ASSERT(analysis != nullptr && tree != nullptr && params != nullptr && result != nullptr);
    reset(result);
    const PitchAnalysis& a = *analysis;
    KOC_ASSERT(a.elementCount == 0 || sizeOf(tree->fragmentInfos) == a.elementCount);
    return guarded([&]() -> int32_t {
        const size_t n = static_cast<size_t>(a.elementCount);
        PitchScratch scratch;
        scratch.path.reserve(n);
        scratch.rects.reserve(n);
        scratch.pitches.reserve(n);
        scratch.values.reserve(n);
        scratch.limits.reserve(n);
        scratch.runEnds.assign(n, -1);
        scratch.runSets.assign(n, -1);
        result->bestPath.reserve(n);
        const struct {
            int32_t enabled;
            const IndexList* pitches;
            int32_t measure;
        } lists[3] = {{a.useLeftToLeft, &a.leftToLeftPitches, kLeftToLeft},
                      {a.useRightToRight, &a.rightToRightPitches, kRightToRight},
                      {a.useCentreToCentre, &a.centreToCentrePitches, kCentreToCentre}};
        for (const auto& list : lists) {
            if (list.enabled == 0) {
                continue;
            }
            KOC_RETURN_IF_FAILED(ksys_attention_check());
            KOC_RETURN_IF_FAILED(tryPitchList(a, tree, params, *list.pitches, list.measure, &scratch, result));
            KOC_RETURN_IF_FAILED(ksys_attention_check());
        }
        return 0;
    });
}

int32_t runPitchPrePass(koc_charSegmentLineResultData_* data, const koc_charSegmentRunParams* params,
                        const kimg_image* workingImage, bool* settled) noexcept
{
    KOC_ASSERT(data != nullptr && params != nullptr && settled != nullptr);
    *settled = false;
    // Gap regularity alone says nothing about the pitch.
    if (params->regularitySource == 4) {
        return 0;
    }
    PitchAnalysis analysis;
    PitchSearchResult result;
    KOC_RETURN_IF_FAILED(collectPitchCandidates(&analysis, &data->treeElements, params, workingImage));
    KOC_RETURN_IF_FAILED(searchPitches(&analysis, &data->tree, params, &result, workingImage));
    if (!settlesLine(result.evaluation)) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(kstd_vector32s_assignElements(&data->runContext.bestPath, result.bestPath.data(),
                                                       static_cast<intptr_t>(result.bestPath.size())));
    *settled = true;
    return 0;
}

}  // namespace koc::hypotheses
