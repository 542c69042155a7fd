// hypothesis_tree.cpp: the character hypothesis tree of a text line and its
// depth-first walk.
//
// Level i of the tree lists every character that can start at fragment i:
// a run [i .. j] of consecutive fragments that is big enough, not too wide,
// not too flat and has no inner gap above the gap mode's limit. A node says
// "the next character is this run, the one after starts at j + 1", so a
// root-to-leaf path is one complete segmentation of the line. Runs are
// fragment sets shared by every level and path that reach them.
#include "hypotheses/hypothesis_tree.hpp"

#include <cmath>
#include <cstdint>

#include "hypotheses/hypotheses_internal.hpp"
#include "services/guard.hpp"
#include "services/memory.hpp"

namespace koc::hypotheses {

namespace {

using Node = koc_charHypothesisTreeNode_;
using NodeList = kstd_vector_koc_charHypothesisTreeNode_;
using Info = koc_charSegmentElementInfo;

// The walk never keeps more than this many complete paths' worth of time:
// lines with a combinatorial number of groupings stay bounded.
constexpr int32_t kMaxCompletePaths = 1000;

// 16.16, rounded half away from zero; saturates instead of overflowing.
int32_t toFixed16(double x) noexcept
{
    if (std::isnan(x)) {
        return 0;
    }
    const double scaled = x >= 0.0 ? x * 65536.0 + 0.5 : x * 65536.0 - 0.4999999999;
    if (scaled >= 2147483647.0) return INT32_MAX;
    if (scaled <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(scaled);
}

struct LevelLimits {
    int32_t minWidth;
    int32_t minHeight;
    int32_t minArea;
    bool limitWidth;
    int32_t maxWidth;
    bool limitAspect;
    int32_t minAspect16;  // height / width, 16.16
    int32_t largestInnerGap;
};

bool bigEnough(const LevelLimits& l, const kstd_rect32& r, int64_t area) noexcept
{
    return r.width >= l.minWidth && r.height >= l.minHeight && area >= l.minArea;
}

int32_t appendNode(NodeList* level, int32_t set, int32_t next) noexcept
{
    const Node node{set, next};
    return kstd_vector_koc_charHypothesisTreeNode__pushBack(level, &node);
}

// A single fragment that is big enough is always a character: only the
// earlier stages may cut it, so no width or aspect limit rejects it here.
// Runs of several fragments grow while each next fragment lies within the
// largest inner gap of the run so far; once a big-enough run breaks the
// width or aspect limit, every longer run from this start breaks it too.
int32_t buildHypothesisLevel(koc_charHypothesisTree* tree, int32_t i, const LevelLimits& limits) noexcept
{
    NodeList* level = &itemsOf<NodeList>(tree->levels)[i];
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charHypothesisTreeNode__clear(level));
    const Info* f = itemsOf<Info>(tree->fragmentInfos);
    const int32_t n = sizeOf(tree->fragmentInfos);

    // The levels are built in order on an emptied set list, and level i adds
    // only runs that start at i, one per end: no run here has a set yet, so
    // each is appended without a search.
    int32_t set = -1;
    if (bigEnough(limits, f[i].rect, f[i].area)) {
        KOC_RETURN_IF_FAILED(appendFragmentSet(tree, i, i, &set));
        KOC_RETURN_IF_FAILED(appendNode(level, set, i + 1));
    }

    kstd_rect32 unionRect = f[i].rect;
    int64_t areaSum = f[i].area;
    for (int32_t j = i + 1; j < n; ++j) {
        const int64_t gap = int64_t{f[j].rect.x} - (int64_t{unionRect.x} + unionRect.width);
        if (gap > limits.largestInnerGap) {
            break;
        }
        KOC_RETURN_IF_FAILED(kstd_rect32_encloseRect(&unionRect, &f[j].rect));
        areaSum += f[j].area;
        if (!bigEnough(limits, unionRect, areaSum)) {
            continue;
        }
        if (limits.limitWidth && unionRect.width > limits.maxWidth) {
            break;
        }
        if (limits.limitAspect &&
            int64_t{unionRect.height} * 65536 < int64_t{unionRect.width} * limits.minAspect16) {
            break;
        }
        KOC_RETURN_IF_FAILED(appendFragmentSet(tree, i, j, &set));
        KOC_RETURN_IF_FAILED(appendNode(level, set, j + 1));
    }

    if (sizeOf(*level) == 0) {
        KOC_RETURN_IF_FAILED(appendNode(level, -1, i + 1));  // no character starts here
    }
    return 0;
}

int32_t wrapAdd(int32_t a, int32_t b) noexcept
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

// One entry of the walk's stack: where a path node came from, so the walk
// can resume with its next sibling.
struct WalkFrame {
    int32_t level;
    int32_t child;  // position in the level's (ordered) node list
    int32_t count;  // nodes in the level
};

}  // namespace

int32_t mergeElementInfo(koc_charSegmentElementInfo* merged, const koc_charSegmentElementInfo* element) noexcept
{
    KOC_ASSERT(merged != nullptr && element != nullptr);
    // The rectangle first: it is the only step that can fail, and it leaves
    // merged unchanged when it does.
    KOC_RETURN_IF_FAILED(kstd_rect32_encloseRect(&merged->rect, &element->rect));
    merged->area = merged->area < 0 ? element->area : wrapAdd(merged->area, element->area);
    merged->flags |= element->flags;
    merged->contrast = -1;
    return 0;
}

int32_t buildFragmentSet(koc_charFragmentSet* set, int32_t first, int32_t last,
                         const kstd_vector_koc_charSegmentElementInfo* fragments) noexcept
{
    KOC_ASSERT(set != nullptr && fragments != nullptr);
    KOC_ASSERT(first >= 0 && first <= last && last < sizeOf(*fragments));
    set->count = 0;
    set->indexView = nullptr;
    set->isTooSmall = 0;
    set->innerGapTotal = 0;
    const int32_t count = last - first + 1;
    KOC_RETURN_IF_FAILED(kstd_vector32s_resize(&set->fragmentIndices, count));
    KOC_RETURN_IF_FAILED(koc_charSegmentElementInfo_reset(&set->mergedElement));

    const Info* f = itemsOf<Info>(*fragments);
    int32_t* indices = itemsOf<int32_t>(set->fragmentIndices);
    int64_t gaps = 0;
    for (int32_t k = first; k <= last; ++k) {
        indices[k - first] = k;
        KOC_RETURN_IF_FAILED(mergeElementInfo(&set->mergedElement, &f[k]));
        if (k > first) {
            // To the previous fragment, not to the union: a fragment tucked
            // under an earlier one's overhang still reports its own gap.
            const int64_t g = int64_t{f[k].rect.x} - (int64_t{f[k - 1].rect.x} + f[k - 1].rect.width);
            if (g > 0) {
                gaps += g;
            }
        }
    }
    set->innerGapTotal = static_cast<int32_t>(gaps);
    set->count = count;
    set->indexView = indices;
    return 0;
}

int32_t findOrAddFragmentSet(koc_charHypothesisTree* tree, int32_t first, int32_t last, int32_t* index) noexcept
{
    KOC_ASSERT(tree != nullptr && index != nullptr);
    KOC_ASSERT(first >= 0 && first <= last && last < sizeOf(tree->fragmentInfos));
    *index = -1;
    const int32_t count = last - first + 1;
    const int32_t setCount = sizeOf(tree->fragmentSets);
    const auto* sets = itemsOf<koc_charFragmentSet>(tree->fragmentSets);
    for (int32_t s = 0; s < setCount; ++s) {
        if (sets[s].count != count || sizeOf(sets[s].fragmentIndices) != count) {
            continue;
        }
        const int32_t* indices = itemsOf<int32_t>(sets[s].fragmentIndices);
        bool same = true;
        for (int32_t k = 0; k < count && same; ++k) {
            same = indices[k] == first + k;
        }
        if (same) {
            *index = s;
            return 0;
        }
    }
    return appendFragmentSet(tree, first, last, index);
}

int32_t appendFragmentSet(koc_charHypothesisTree* tree, int32_t first, int32_t last, int32_t* index) noexcept
{
    KOC_ASSERT(tree != nullptr && index != nullptr);
    KOC_ASSERT(first >= 0 && first <= last && last < sizeOf(tree->fragmentInfos));
    *index = -1;
    const int32_t setCount = sizeOf(tree->fragmentSets);
    // Built in place at the end: no copy of the index vector, and a failure
    // takes the half-built set out again.
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charFragmentSet_resize(&tree->fragmentSets, setCount + 1));
    koc_charFragmentSet* created = &itemsOf<koc_charFragmentSet>(tree->fragmentSets)[setCount];
    const int32_t rc = buildFragmentSet(created, first, last, &tree->fragmentInfos);
    if (rc < 0) {
        kstd_vector_koc_charFragmentSet_resize(&tree->fragmentSets, setCount);
        return rc;
    }
    const koc_charSegmentRunParams& p = tree->runParams;
    const Info& m = created->mergedElement;
    created->isTooSmall =
        (m.rect.width < p.minCharWidth || m.rect.height < p.minCharHeight || m.area < p.minCharArea) ? 1 : 0;
    *index = setCount;
    return 0;
}

int32_t buildLineTree(koc_charSegmentLineResultData_* data, const koc_charSegmentRunParams* params,
                      const kimg_image* workingImage) noexcept
{
    KOC_ASSERT(data != nullptr && params != nullptr);
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_assign(&data->runContext.runParams, params));
    return koc_charHypothesisTree_generateHypotheses(&data->tree, &data->treeElements, params, workingImage);
}

}  // namespace koc::hypotheses

using namespace koc::hypotheses;

extern "C" {

KOC_API int32_t koc_charHypothesisTree_generateHypotheses(koc_charHypothesisTree* tree,
                                                          const kstd_vector_koc_charSegmentElementInfo* fragmentInfos,
                                                          const koc_charSegmentRunParams* runParams,
                                                          const kimg_imageConst* image) noexcept
{
    KOC_ASSERT(tree != nullptr && fragmentInfos != nullptr && runParams != nullptr);
    static_cast<void>(image);  // the tree is built from geometry alone

    // A reset by hand: the fragments may be the tree's own (regenerating
    // with other parameters), and a plain reset would clear them first.
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_assign(&tree->runParams, runParams));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charFragmentSet_clear(&tree->fragmentSets));
    KOC_RETURN_IF_FAILED(kstd_vector_vector_koc_charHypothesisTreeNode__clear(&tree->levels));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_assign(&tree->fragmentInfos, fragmentInfos));

    const koc_charSegmentRunParams& p = tree->runParams;
    LevelLimits limits{p.minCharWidth, p.minCharHeight, p.minCharArea,
                       p.limitCharWidth != 0, p.maxCharWidth,
                       p.limitAspect != 0, toFixed16(p.minAspectRatio), 0};
    const int32_t n = sizeOf(tree->fragmentInfos);
    if (n == 0) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(kstd_vector_vector_koc_charHypothesisTreeNode__resize(&tree->levels, n));

    switch (p.gapMode) {
    case 1: limits.largestInnerGap = INT32_MAX; break;  // any gap may fall inside a character
    case 2: limits.largestInnerGap = p.minCharGap > 1 ? p.minCharGap - 1 : 0; break;  // below a between-character gap
    case 4: limits.largestInnerGap = p.maxInnerGap; break;
    default: return KOC_E_GAP_MODE;
    }
    for (int32_t i = 0; i < n; ++i) {
        KOC_RETURN_IF_FAILED(buildHypothesisLevel(tree, i, limits));
    }
    return 0;
}

// Depth-first over the paths with O(levels) state: the current path and,
// per path node, where it sits among its level's nodes. Nothing is
// allocated per visited path.
KOC_API int32_t koc_charHypothesisTree_walk(const koc_charHypothesisTree* tree, koc_charHypothesisTreeVisitFn visit,
                                            void* visitContext, koc_charHypothesisTreeOrderFn order,
                                            void* orderContext) noexcept
{
    KOC_ASSERT(tree != nullptr && visit != nullptr);
    return koc::hypotheses::walkTree(tree, visit, visitContext, order, orderContext, 0, nullptr);
}

}  // extern "C"

namespace koc::hypotheses {

int32_t walkTree(const koc_charHypothesisTree* tree, koc_charHypothesisTreeVisitFn visit, void* visitContext,
                 koc_charHypothesisTreeOrderFn order, void* orderContext, int64_t nodeBudget,
                 int64_t* visited) noexcept
{
    KOC_ASSERT(tree != nullptr && visit != nullptr);
    if (visited != nullptr) {
        *visited = 0;
    }
    const int32_t levelCount = sizeOf(tree->levels);
    if (levelCount == 0) {
        return 0;
    }
    const int32_t setCount = sizeOf(tree->fragmentSets);
    const auto* levels = itemsOf<NodeList>(tree->levels);

    kstd_vector_vector32s orderOut;
    KOC_RETURN_IF_FAILED(kstd_vector_vector32s_constructEmpty(&orderOut));
    koc::Always dropOrder([&] { kstd_vector_vector32s_destruct(&orderOut); });
    const kstd_vector32s* orderLevels = nullptr;
    if (order != nullptr) {
        KOC_RETURN_IF_FAILED(order(tree, orderContext, &orderOut));
        KOC_ASSERT(sizeOf(orderOut) == levelCount);
        orderLevels = itemsOf<kstd_vector32s>(orderOut);
        for (int32_t i = 0; i < levelCount; ++i) {
            KOC_ASSERT(sizeOf(orderLevels[i]) == sizeOf(levels[i]));
        }
    }

    return koc::guarded([&]() -> int32_t {
        koc::services::Vector<int32_t> path(static_cast<size_t>(levelCount));
        koc::services::Vector<WalkFrame> stack(static_cast<size_t>(levelCount));
        int32_t level = 0;
        int32_t child = 0;
        int32_t length = 0;
        int32_t completePaths = 0;
        int64_t nodes = 0;
        for (;;) {
            const int32_t count = sizeOf(levels[level]);
            KOC_ASSERT(child < count);
            const int32_t k = orderLevels != nullptr ? itemsOf<int32_t>(orderLevels[level])[child] : child;
            KOC_ASSERT(k >= 0 && k < count);
            const Node node = itemsOf<Node>(levels[level])[k];
            KOC_ASSERT(node.fragmentSetIndex >= -1 && node.fragmentSetIndex < setCount);
            KOC_ASSERT(node.nextLevel >= 0 && node.nextLevel <= levelCount);
            KOC_ASSERT(length < levelCount);  // a node pointing backwards would overrun the path

            stack[static_cast<size_t>(length)] = WalkFrame{level, child, count};
            path[static_cast<size_t>(length)] = node.fragmentSetIndex;
            ++length;

            const int32_t isComplete = node.nextLevel == levelCount ? 1 : 0;
            int32_t prune = 0;
            int32_t stop = 0;
            KOC_RETURN_IF_FAILED(visit(tree, path.data(), length, isComplete, visitContext, &prune, &stop));
            ++nodes;
            if (visited != nullptr) {
                *visited = nodes;
            }
            if (isComplete != 0 && ++completePaths >= kMaxCompletePaths) {
                stop = 1;
            }
            // The node budget never ends a walk before its first complete
            // path: the first descent reaches a leaf within one visit per
            // level, so a line always gets a segmentation.
            if (nodeBudget > 0 && nodes >= nodeBudget && completePaths > 0) {
                stop = 1;
            }
            if (stop != 0) {
                return 0;
            }

            const int32_t next = prune != 0 ? levelCount : node.nextLevel;
            if (next < levelCount) {
                level = next;  // descend; the node just visited stays on the path
                child = 0;
                continue;
            }
            // Backtrack to the nearest path node that still has an untried sibling.
            for (;;) {
                if (length == 0) {
                    return 0;
                }
                const WalkFrame top = stack[static_cast<size_t>(--length)];
                if (top.child < top.count - 1) {
                    level = top.level;
                    child = top.child + 1;
                    break;
                }
            }
        }
    });
}

}  // namespace koc::hypotheses
