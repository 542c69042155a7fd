// path_scoring.cpp: the order in which the walk tries each level's
// characters, and the running score of the path prefix it visits.
//
// The walk visits prefixes depth-first, so the statistics of a prefix of
// length d are those of length d - 1 plus one character: one entry per
// depth, each derived from the one above it, keeps the cost of a visit
// constant in the length of the path. A prefix that already has more
// violations than the best complete path cannot win (violations only grow
// along a path) and is pruned.
#include "hypotheses/path_scoring.hpp"

#include <algorithm>
#include <cstddef>
#include <type_traits>
#include <utility>

#include "hypotheses/hypotheses_internal.hpp"
#include "hypotheses/hypothesis_tree.hpp"
#include "services/guard.hpp"
#include "services/memory.hpp"

namespace koc::hypotheses {

// orderChildren takes either the run parameters or the run context, which
// starts with them.
static_assert(std::is_standard_layout_v<LineRunContext>);
static_assert(offsetof(LineRunContext, runParams) == 0);

namespace {

using Node = koc_charHypothesisTreeNode_;
using NodeList = kstd_vector_koc_charHypothesisTreeNode_;

int32_t wrapAdd(int32_t a, int32_t b) noexcept
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

bool isPitchSource(uint32_t source) noexcept { return source == 1 || source == 2; }
bool isGapSource(uint32_t source) noexcept { return source == 1 || source == 4; }

// The regularity that weighs a string's ink: that of its most regular
// spacing measure among those the run parameters select.
double regularityWeight(const koc_stringStats& s, const koc_charSegmentRunParams& p) noexcept
{
    if (p.regularitySource == 8) {
        return 1.0;
    }
    const koc_stringSpacingStats& sp = s.spacingStats;
    const koc_statistics32* list[4];
    int count = 0;
    if (isPitchSource(p.regularitySource)) {
        const uint32_t m = p.pitchMeasure;
        if (m == 1 || m == 2) list[count++] = &sp.leftToLeftStats;
        if (m == 1 || m == 4) list[count++] = &sp.centreToCentreStats;
        if (m == 1 || m == 8) list[count++] = &sp.rightToRightStats;
    }
    if (isGapSource(p.regularitySource)) {
        list[count++] = &sp.gapStats;
    }
    if (count == 0) {
        return 1.0;  // no measure selected: plain ink
    }
    double best = regularityOf(*list[0]);
    for (int k = 1; k < count; ++k) {
        best = std::max(best, regularityOf(*list[k]));  // the earlier entry stays on a tie
    }
    return best;
}

// Replaces the context's best path by path when its statistics beat the
// best so far.
int32_t keepBestPath(LineRunContext* c, const koc_stringStats& candidate, const int32_t* path, int32_t length) noexcept
{
    if (!isBetterStringStats(candidate, c->bestStats, c->runParams)) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(koc_stringStats_assign(&c->bestStats, &candidate));
    return kstd_vector32s_assignElements(&c->bestPath, path, length);
}

}  // namespace

int32_t violationCount(const koc_stringStats& s) noexcept
{
    return wrapAdd(wrapAdd(s.spacingStats.smallGapCount, s.spacingStats.smallPitchCount), s.invalidCharCount);
}

int32_t addCharToStringStats(const koc_charHypothesisTree* tree, const koc_charSegmentRunParams* params,
                             const int32_t* path, int32_t length, koc_stringStats* stats) noexcept
{
    KOC_ASSERT(tree != nullptr && params != nullptr && path != nullptr && stats != nullptr && length >= 1);
    const int32_t setCount = sizeOf(tree->fragmentSets);
    const auto* sets = itemsOf<koc_charFragmentSet>(tree->fragmentSets);
    const int32_t s = path[length - 1];
    KOC_ASSERT(s >= -1 && s < setCount);
    if (s == -1) {
        // A fragment left out is a missing character: it costs a violation
        // but adds no ink, width or spacing.
        stats->invalidCharCount = wrapAdd(stats->invalidCharCount, 1);
        return 0;
    }

    const kstd_rect32& r = sets[s].mergedElement.rect;
    const int32_t area = sets[s].mergedElement.area;
    const int32_t innerGap = sets[s].innerGapTotal;
    KOC_ASSERT(innerGap < r.width);
    stats->charCount = wrapAdd(stats->charCount, 1);
    stats->rectAreaSum = wrapAdd(stats->rectAreaSum, static_cast<int32_t>(int64_t{r.width} * r.height));
    stats->markAreaSum = wrapAdd(stats->markAreaSum, area);
    stats->widthSum = wrapAdd(stats->widthSum, r.width);
    stats->innerGapSum = wrapAdd(stats->innerGapSum, innerGap);
    KOC_ASSERT(stats->rectAreaSum >= 0 && stats->markAreaSum >= 0 && stats->widthSum >= 0 && stats->innerGapSum >= 0);
    if (r.width < params->minCharWidth || r.height < params->minCharHeight || area < params->minCharArea) {
        stats->invalidCharCount = wrapAdd(stats->invalidCharCount, 1);
    }
    KOC_RETURN_IF_FAILED(koc_stringSpacingStats_addWidth(&stats->spacingStats, r.width));

    // Spacing reaches across left-out fragments to the previous real character.
    for (int32_t k = length - 2; k >= 0; --k) {
        if (path[k] != -1) {
            KOC_ASSERT(path[k] < setCount);
            return koc_stringSpacingStats_addSpacingRects(&stats->spacingStats, params, &sets[path[k]].mergedElement.rect,
                                                          &r);
        }
    }
    return 0;
}

int32_t evaluatePath(const koc_charHypothesisTree* tree, const koc_charSegmentRunParams* params,
                     const int32_t* path, int32_t length, koc_stringStats* stats) noexcept
{
    KOC_ASSERT(stats != nullptr && (path != nullptr || length == 0) && length >= 0);
    KOC_RETURN_IF_FAILED(koc_stringStats_reset(stats));
    for (int32_t d = 1; d <= length; ++d) {
        KOC_RETURN_IF_FAILED(addCharToStringStats(tree, params, path, d, stats));
    }
    return 0;
}

double regularityOf(const koc_statistics32& stats) noexcept
{
    if (stats.count < 2) {
        return 1.0;
    }
    double deviation = 0.0;
    if (koc_statistics32_getStdDev(&stats, &deviation) < 0) {
        return 1.0;  // cannot happen with two samples or more
    }
    return 1.0 / (1.0 + deviation);
}

bool isBetterStringStats(const koc_stringStats& candidate, const koc_stringStats& best,
                         const koc_charSegmentRunParams& params) noexcept
{
    if (candidate.charCount == 0) {
        return false;
    }
    if (best.charCount == 0) {
        return true;
    }
    const int32_t candidateViolations = violationCount(candidate);
    const int32_t bestViolations = violationCount(best);
    if (candidateViolations != bestViolations) {
        return candidateViolations < bestViolations;
    }
    const double candidateScore = static_cast<double>(candidate.markAreaSum) * regularityWeight(candidate, params);
    const double bestScore = static_cast<double>(best.markAreaSum) * regularityWeight(best, params);
    if (candidateScore < bestScore || bestScore < candidateScore) {
        return candidateScore > bestScore;
    }
    return candidate.charCount > best.charCount;  // equal counts: the earlier path stays
}

int32_t childSpacingCost(const koc_charHypothesisTree* tree, const koc_charSegmentRunParams* params,
                         int32_t setIndex, int32_t nextLevel, int32_t* cost) noexcept
{
    KOC_ASSERT(tree != nullptr && params != nullptr && cost != nullptr);
    const int32_t setCount = sizeOf(tree->fragmentSets);
    KOC_ASSERT(setIndex >= 0 && setIndex < setCount);
    KOC_ASSERT(nextLevel >= 0 && nextLevel < sizeOf(tree->levels));
    const auto* sets = itemsOf<koc_charFragmentSet>(tree->fragmentSets);
    const NodeList& level = itemsOf<NodeList>(tree->levels)[nextLevel];
    const int32_t count = sizeOf(level);
    const Node* nodes = itemsOf<Node>(level);
    *cost = count == 0 ? 0 : INT32_MAX;
    koc_stringSpacingStats scratch;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t next = nodes[k].fragmentSetIndex;
        if (next == -1) {
            *cost = 0;
            break;
        }
        KOC_ASSERT(next < setCount);
        KOC_RETURN_IF_FAILED(koc_stringSpacingStats_reset(&scratch));
        KOC_RETURN_IF_FAILED(koc_stringSpacingStats_addSpacingRects(&scratch, params, &sets[setIndex].mergedElement.rect,
                                                                    &sets[next].mergedElement.rect));
        *cost = std::min(*cost, wrapAdd(scratch.smallGapCount, scratch.smallPitchCount));
    }
    return 0;
}

// Children whose cleanest possible successor has the fewest spacing
// violations come first, so good complete paths are met early and the
// pruning bites sooner. Ties keep the order in which the tree found them.
int32_t orderChildren(const koc_charHypothesisTree* tree, void* context, kstd_vector_vector32s* order) noexcept
{
    KOC_ASSERT(tree != nullptr && context != nullptr && order != nullptr);
    const auto* params = static_cast<const koc_charSegmentRunParams*>(context);
    const int32_t levelCount = sizeOf(tree->levels);
    const auto* levels = itemsOf<NodeList>(tree->levels);
    KOC_RETURN_IF_FAILED(kstd_vector_vector32s_resize(order, levelCount));
    return guarded([&]() -> int32_t {
        services::Vector<std::pair<int32_t, int32_t>> keyed;
        int32_t widest = 0;
        for (int32_t i = 0; i < levelCount; ++i) {
            widest = std::max(widest, sizeOf(levels[i]));
        }
        keyed.reserve(static_cast<size_t>(widest));  // one scratch block for every level
        for (int32_t i = 0; i < levelCount; ++i) {
            const int32_t count = sizeOf(levels[i]);
            kstd_vector32s* out = &itemsOf<kstd_vector32s>(*order)[i];
            KOC_RETURN_IF_FAILED(kstd_vector32s_resize(out, count));
            if (count == 0) {
                continue;
            }
            const Node* nodes = itemsOf<Node>(levels[i]);
            keyed.clear();
            for (int32_t k = 0; k < count; ++k) {
                int32_t key = 0;
                if (nodes[k].fragmentSetIndex != -1 && nodes[k].nextLevel < levelCount) {
                    KOC_RETURN_IF_FAILED(childSpacingCost(tree, params, nodes[k].fragmentSetIndex, nodes[k].nextLevel, &key));
                }
                keyed.emplace_back(key, k);
            }
            std::sort(keyed.begin(), keyed.end());
            int32_t* slots = itemsOf<int32_t>(*out);
            for (int32_t k = 0; k < count; ++k) {
                slots[k] = keyed[static_cast<size_t>(k)].second;
            }
        }
        return 0;
    });
}

int32_t visitPath(const koc_charHypothesisTree* tree, const int32_t* path, int32_t pathLength, int32_t isComplete,
                  void* context, int32_t* prune, int32_t* stop) noexcept
{
    KOC_ASSERT(tree != nullptr && path != nullptr && context != nullptr && prune != nullptr && stop != nullptr);
    *prune = 0;
    *stop = 0;  // only the walk's own limit ends a walk
    auto* c = static_cast<LineRunContext*>(context);
    const int32_t d = pathLength;
    KOC_ASSERT(d >= 1 && d <= c->currentDepth + 1);
    if (sizeOf(c->depthStats) < d) {
        KOC_RETURN_IF_FAILED(kstd_vector_koc_stringStats_resize(&c->depthStats, d));
    }
    c->currentDepth = d;

    koc_stringStats* depth = itemsOf<koc_stringStats>(c->depthStats);
    koc_stringStats* stats = &depth[d - 1];
    if (d == 1) {
        KOC_RETURN_IF_FAILED(koc_stringStats_reset(stats));
    } else {
        KOC_RETURN_IF_FAILED(koc_stringStats_assign(stats, &depth[d - 2]));
    }
    KOC_RETURN_IF_FAILED(addCharToStringStats(tree, &c->runParams, path, d, stats));
    if (isComplete != 0) {
        KOC_RETURN_IF_FAILED(keepBestPath(c, *stats, path, d));
    }
    // Equal cost is kept: a tie may still win on weighted ink.
    const int32_t cost = violationCount(*stats);
    if (cost > c->bestCost) {
        *prune = 1;
    }
    if (isComplete != 0) {
        c->bestCost = std::min(c->bestCost, cost);
    }
    return 0;
}

int32_t prepareRunContext(LineRunContext* context, int32_t levelCount) noexcept
{
    KOC_ASSERT(context != nullptr && levelCount >= 0);
    context->currentDepth = 0;
    context->bestCost = INT32_MAX;
    KOC_RETURN_IF_FAILED(koc_stringStats_reset(&context->bestStats));
    KOC_RETURN_IF_FAILED(kstd_vector32s_clear(&context->bestPath));
    KOC_RETURN_IF_FAILED(kstd_vector32s_reserve(&context->bestPath, levelCount));
    if (sizeOf(context->depthStats) < levelCount) {
        KOC_RETURN_IF_FAILED(kstd_vector_koc_stringStats_resize(&context->depthStats, levelCount));
    }
    return 0;
}

int32_t walkLineTree(koc_charSegmentLineResultData_* data, int64_t nodeBudget, int64_t* visited) noexcept
{
    KOC_ASSERT(data != nullptr);
    LineRunContext* context = &data->runContext;
    KOC_RETURN_IF_FAILED(prepareRunContext(context, sizeOf(data->tree.levels)));
    return walkTree(&data->tree, &visitPath, context, &orderChildren, context, nodeBudget, visited);
}

}  // namespace koc::hypotheses
