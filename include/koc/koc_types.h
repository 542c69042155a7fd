/* koc_types.h: the lists of record types that the lifecycle, typed-vector
 * and type-check families are generated from, and the type-check
 * declarations. Adding a record means adding one line here. */
#ifndef KOC_TYPES_H
#define KOC_TYPES_H

#include "koc/koc_lineextract.h"
#include "koc/koc_results.h"
#include "koc/koc_segment.h"
#include "koc/koc_autoparams.h"
#include "koc/kip_edgelets.h"
#include "koc/koc_extensions.h"
#include "koc/kip_pyramid.h"

KOC_EXTERN_C_BEGIN

/* Every record type of the library. */
#define KOC_FOR_EACH_RECORD_TYPE(X)       \
    X(koc_charSegmentRunParams)           \
    X(koc_cellRectGenerationParams)       \
    X(koc_charSegmentSpaceParams)         \
    X(koc_charSegmentResult)              \
    X(koc_charSegmentParagraphResult)     \
    X(koc_charSegmentLineResult)          \
    X(koc_charSegmentPositionResult)      \
    X(koc_lineExtractParams)              \
    X(koc_lineExtractResult)              \
    X(koc_statistics32)                   \
    X(koc_stringSpacingStats)             \
    X(koc_stringStats)                    \
    X(koc_charSegmentElementInfo)         \
    X(koc_charSegmentElementStats)        \
    X(koc_charSegmentAllElementsStats)    \
    X(koc_charSegmentLineResultStats)     \
    X(koc_charWindow_)                    \
    X(koc_charFragmentSet)                \
    X(koc_charHypothesisTree)             \
    X(koc_charHypothesisTreeNode_)        \
    X(koc_char)                           \
    X(koc_charKey)                        \
    X(koc_charMetrics)                    \
    X(koc_charSegmentLineResultData_)     \
    X(koc_runParamsEstimate)                \
    X(koc_charSegmentExtensions)            \
    X(koc_autoSegmentReport)                \
    X(kip_imagePyramid_)                  \
    X(kip_rowEdgeletParams)               \
    X(kip_rowEdgeletSet)

/* Typed vectors: X(family, element type). */
#define KOC_FOR_EACH_VECTOR_FAMILY(X)                                                              \
    X(vector32s, int32_t)                                                                          \
    X(vector_vector32s, kstd_vector32s)                                                            \
    X(vector_kmath_shapeAffineRect, kmath_shapeAffineRect)                                         \
    X(vector_koc_charSegmentResult, koc_charSegmentResult)                                         \
    X(vector_koc_charSegmentParagraphResult, koc_charSegmentParagraphResult)                       \
    X(vector_koc_charSegmentLineResult, koc_charSegmentLineResult)                                 \
    X(vector_koc_charSegmentPositionResult, koc_charSegmentPositionResult)                         \
    X(vector_koc_charSegmentElementStats, koc_charSegmentElementStats)                             \
    X(vector_koc_charSegmentElementInfo, koc_charSegmentElementInfo)                               \
    X(vector_koc_stringStats, koc_stringStats)                                                     \
    X(vector_koc_lineExtractResult, koc_lineExtractResult)                                         \
    X(vector_vector_koc_lineExtractResult, kstd_vector_koc_lineExtractResult)                      \
    X(vector_koc_charFragmentSet, koc_charFragmentSet)                                             \
    X(vector_koc_charWindow_, koc_charWindow_)                                                     \
    X(vector_koc_charHypothesisTreeNode_, koc_charHypothesisTreeNode_)                             \
    X(vector_vector_koc_charHypothesisTreeNode_, kstd_vector_koc_charHypothesisTreeNode_)                \
    X(vector_kimg_image8, kimg_image8)

#define KOC_DECLARE_RECORD_TYPE_CHECKS(T) KOC_DECLARE_TYPE_CHECKS(T)
#define KOC_DECLARE_VECTOR_TYPE_CHECKS(family, T) KOC_DECLARE_TYPE_CHECKS(kstd_##family)
KOC_FOR_EACH_RECORD_TYPE(KOC_DECLARE_RECORD_TYPE_CHECKS)
KOC_FOR_EACH_VECTOR_FAMILY(KOC_DECLARE_VECTOR_TYPE_CHECKS)
#undef KOC_DECLARE_RECORD_TYPE_CHECKS
#undef KOC_DECLARE_VECTOR_TYPE_CHECKS

KOC_EXTERN_C_END

#endif
