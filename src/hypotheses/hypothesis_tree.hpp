// hypothesis_tree.hpp: the pieces of the character hypothesis tree that the
// pitch pre-pass and the tests reach directly. A fragment set is one run of
// consecutive fragments taken as one character; the tree shares each run
// between every level and path that uses it.
#pragma once

#include "koc/koc_hypotheses.h"

namespace koc::hypotheses {

// Typed views of a vector's storage; the vectors stay the owners.
template <class T, class V>
inline const T* itemsOf(const V& v) noexcept
{
    return static_cast<const T*>(v.base.begin);
}

template <class T, class V>
inline T* itemsOf(V& v) noexcept
{
    return static_cast<T*>(v.base.begin);
}

template <class V>
inline int32_t sizeOf(const V& v) noexcept
{
    return static_cast<int32_t>(v.base.size);
}

// Folds element into merged: areas add (a negative merged area is unknown
// and is replaced), rectangles unite, flags OR; a union has no contrast.
int32_t mergeElementInfo(koc_charSegmentElementInfo* merged, const koc_charSegmentElementInfo* element) noexcept;

// Rebuilds set as the run fragments[first .. last]: indices, merged
// element and the sum of the positive gaps between neighbouring fragments.
// Leaves the too-small flag at 0; the caller judges size against its limits.
int32_t buildFragmentSet(koc_charFragmentSet* set, int32_t first, int32_t last,
                         const kstd_vector_koc_charSegmentElementInfo* fragments) noexcept;

// *index = the tree's set for the run [first .. last], appended (with its
// too-small flag from the tree's run parameters) when no set holds that run
// yet. Existing indices never change.
int32_t findOrAddFragmentSet(koc_charHypothesisTree* tree, int32_t first, int32_t last, int32_t* index) noexcept;
// Appends the set for the run [first .. last] without looking for one that
// holds it already; for callers that know none does.
int32_t appendFragmentSet(koc_charHypothesisTree* tree, int32_t first, int32_t last, int32_t* index) noexcept;

// koc_charHypothesisTree_walk with a bound on the work: when nodeBudget is
// positive the walk ends once it has visited that many path prefixes and at
// least one complete path (the complete-path cap holds as well). 0 means no
// budget, the exported walk's behaviour. *visited (may be null) receives the
// number of prefixes visited.
int32_t walkTree(const koc_charHypothesisTree* tree, koc_charHypothesisTreeVisitFn visit, void* visitContext,
                 koc_charHypothesisTreeOrderFn order, void* orderContext, int64_t nodeBudget,
                 int64_t* visited) noexcept;

}  // namespace koc::hypotheses
