/* koc_hypotheses.h: the per-line working records: character windows,
 * fragment sets and the character hypothesis tree, plus the line working
 * data that a line result owns.
 *
 * The line working data (koc_charSegmentLineResultData_) is opaque: a line
 * result creates, copies and releases it; hosts only pass it on. A copied
 * fragment set never points into its source. */
#ifndef KOC_HYPOTHESES_H
#define KOC_HYPOTHESES_H

#include "koc/kimg.h"
#include "koc/koc_stats.h"

KOC_EXTERN_C_BEGIN

/* One character position of a line, in line-image pixels. */
typedef struct koc_charWindow_ {
    koc_charKey key;            /* 32 for a space */
    int32_t polarity;           /* 1 or 2; 4 until set */
    int32_t markArea;           /* 0 for a space */
    int32_t isSpace;
    int32_t spaceScore;         /* 16.16; 65536 = no mark pixel in the cell */
    kstd_rect32 generatedCellRect;
    kstd_rect32 cellRect;       /* stands in for the mark when the mark is degenerate */
    kstd_rect32 markRect;
    kstd_rect32 imageWindow;
    int32_t referenceX;         /* 16.16: left edge of the mark */
    int32_t referenceY;         /* 16.16: bottom edge of the mark */
} koc_charWindow_;

KSTD_DECLARE_VECTOR_FAMILY(vector_koc_charWindow_, koc_charWindow_)

/* One character hypothesis: a run of consecutive fragments. indexView
 * always points at fragmentIndices' own data (or is null while count is 0). */
typedef struct koc_charFragmentSet {
    int32_t count;
    const int32_t* indexView;
    koc_charSegmentElementInfo mergedElement;
    int32_t isTooSmall;
    int32_t innerGapTotal;
    kstd_vector32s fragmentIndices;
} koc_charFragmentSet;

KSTD_DECLARE_VECTOR_FAMILY(vector_koc_charFragmentSet, koc_charFragmentSet)

/* A node of tree level i: the next character is fragment set
 * fragmentSetIndex (-1: fragment i is left out) and the character after it
 * starts at level nextLevel. */
typedef struct koc_charHypothesisTreeNode_ {
    int32_t fragmentSetIndex;
    int32_t nextLevel;
} koc_charHypothesisTreeNode_;

KSTD_DECLARE_VECTOR_FAMILY(vector_koc_charHypothesisTreeNode_, koc_charHypothesisTreeNode_)
KSTD_DECLARE_VECTOR_FAMILY(vector_vector_koc_charHypothesisTreeNode_, kstd_vector_koc_charHypothesisTreeNode_)

typedef struct koc_charHypothesisTree {
    koc_charSegmentRunParams runParams;
    kstd_vector_koc_charSegmentElementInfo fragmentInfos;
    kstd_vector_koc_charFragmentSet fragmentSets; /* append-only while the tree lives */
    kstd_vector_vector_koc_charHypothesisTreeNode_ levels; /* one per fragment */
} koc_charHypothesisTree;

KOC_DECLARE_LIFECYCLE(koc_charWindow_)
KOC_DECLARE_LIFECYCLE(koc_charFragmentSet)
KOC_DECLARE_LIFECYCLE(koc_charHypothesisTreeNode_)
KOC_DECLARE_LIFECYCLE(koc_charHypothesisTree)
KOC_API int32_t koc_charHypothesisTree_getFragmentInfos(koc_charHypothesisTree* tree, kstd_vector_koc_charSegmentElementInfo** infos) KOC_NOEXCEPT;
KOC_API int32_t koc_charHypothesisTree_getFragmentSets(koc_charHypothesisTree* tree, kstd_vector_koc_charFragmentSet** sets) KOC_NOEXCEPT;

/* ---- building and walking the tree ---- */

/* Fills order with one inner vector per level: a permutation of that
 * level's node indices, the order in which the walk tries them. */
typedef int32_t (*koc_charHypothesisTreeOrderFn)(const koc_charHypothesisTree* tree, void* context,
                                                 kstd_vector_vector32s* order);
/* Called for every path prefix from level 0: path[0 .. pathLength-1] are
 * fragment-set indices (-1: a fragment left out); isComplete is 1 when the
 * prefix ends the line. Set *prune to skip everything below the prefix,
 * *stop to end the walk; a negative return ends the walk with that code. */
typedef int32_t (*koc_charHypothesisTreeVisitFn)(const koc_charHypothesisTree* tree, const int32_t* path,
                                                 int32_t pathLength, int32_t isComplete, void* context,
                                                 int32_t* prune, int32_t* stop);

/* Builds the fragment sets and one level per fragment from the fragments
 * (left to right) and the run parameters' size, gap and aspect limits.
 * image is accepted for future use and not read. KOC_E_GAP_MODE for a
 * gapMode other than 1, 2 or 4. */
KOC_API int32_t koc_charHypothesisTree_generateHypotheses(koc_charHypothesisTree* tree,
                                                          const kstd_vector_koc_charSegmentElementInfo* fragmentInfos,
                                                          const koc_charSegmentRunParams* runParams,
                                                          const kimg_imageConst* image) KOC_NOEXCEPT;
/* Depth-first walk over the tree's paths, at most 1000 complete ones, with
 * O(levels) state. order may be null (nodes in stored order). */
KOC_API int32_t koc_charHypothesisTree_walk(const koc_charHypothesisTree* tree, koc_charHypothesisTreeVisitFn visit,
                                            void* visitContext, koc_charHypothesisTreeOrderFn order,
                                            void* orderContext) KOC_NOEXCEPT;

/* ---- line working data (opaque) ---- */
typedef struct koc_charSegmentLineResultData_ koc_charSegmentLineResultData_;

/* new deletes what *data holds first; delete of a null *data returns 0.
 * construct and destruct build and tear down a record in storage the caller
 * provides; as the record's size is private to the library, they serve its
 * own layers, and hosts use new and delete. */
KOC_API int32_t koc_charSegmentLineResultData__construct(koc_charSegmentLineResultData_* data) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResultData__destruct(koc_charSegmentLineResultData_* data) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResultData__new(koc_charSegmentLineResultData_** data) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResultData__delete(koc_charSegmentLineResultData_** data) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResultData__assign(koc_charSegmentLineResultData_* dst, const koc_charSegmentLineResultData_* src) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResultData__reset(koc_charSegmentLineResultData_* data) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
