/* koc_results.h: the result tree of a segmentation call: result ->
 * paragraph results (one per input rectangle) -> line results (numLines per
 * paragraph) -> position results (one per character position, spaces
 * included).
 *
 * Getters refuse data of a record not yet computed with KOC_E_NOT_COMPUTED.
 * A getter returning a vector returns a pointer into the record, valid until
 * the record changes; image and rectangle getters copy into the caller's
 * object. The binarised line image is computed on first request and cached,
 * so that getter writes the record: never call it on one record from two
 * threads at once. */
#ifndef KOC_RESULTS_H
#define KOC_RESULTS_H

#include "koc/koc_hypotheses.h"

KOC_EXTERN_C_BEGIN

typedef struct koc_charSegmentPositionResult {
    int32_t isComputed;
    koc_char character;         /* key 0x20 for a space */
    int32_t isSpace;
    int32_t spaceScore;         /* 16.16; 65536 = no mark pixel in the cell */
    kmath_shapeAffineRect markRect; /* client frame of the working line image */
    kmath_shapeAffineRect cellRect;
    kmath_xformLinear clientFromLineImageXform;
    int32_t area;               /* mark pixels; 0 for a space */
} koc_charSegmentPositionResult;

KSTD_DECLARE_VECTOR_FAMILY(vector_koc_charSegmentPositionResult, koc_charSegmentPositionResult)

typedef struct koc_charSegmentLineResult {
    int32_t isFound;
    kimg_imageConst rectifiedLineImage;
    int32_t hasNormalizedRectifiedLineImage;
    kimg_imageConst normalizedRectifiedLineImage;
    int32_t hasBinarizationThreshold;
    uint32_t binarizationThreshold; /* 1..255, default 128 */
    int32_t thresholdPolarityFlag;  /* 1 when the run's polarity is 1 */
    int32_t isBinarizedImageCached;
    kimg_imageConst binarizedRectifiedLineImage;
    double lineAngle;               /* degrees */
    double skewAngle;               /* degrees */
    uint32_t polarity;              /* decided 1 or 2; 4 undecided */
    kstd_vector_koc_charSegmentPositionResult positionResults;
    koc_charSegmentLineResultStats stats;
    koc_charSegmentLineResultData_* lineData; /* owned */
} koc_charSegmentLineResult;

KSTD_DECLARE_VECTOR_FAMILY(vector_koc_charSegmentLineResult, koc_charSegmentLineResult)

typedef struct koc_charSegmentParagraphResult {
    int32_t isComputed;
    kstd_vector_koc_charSegmentLineResult lineResults;
} koc_charSegmentParagraphResult;

KSTD_DECLARE_VECTOR_FAMILY(vector_koc_charSegmentParagraphResult, koc_charSegmentParagraphResult)

typedef struct koc_charSegmentResult {
    int32_t isComputed;
    kstd_vector_koc_charSegmentParagraphResult paragraphResults;
} koc_charSegmentResult;

KSTD_DECLARE_VECTOR_FAMILY(vector_koc_charSegmentResult, koc_charSegmentResult)

KOC_DECLARE_LIFECYCLE(koc_charSegmentResult)
KOC_API int32_t koc_charSegmentResult_getIsComputed(const koc_charSegmentResult* r, int32_t* isComputed) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentResult_getParagraphResults(const koc_charSegmentResult* r, const kstd_vector_koc_charSegmentParagraphResult** paragraphs) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_charSegmentParagraphResult)
KOC_API int32_t koc_charSegmentParagraphResult_getIsComputed(const koc_charSegmentParagraphResult* r, int32_t* isComputed) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentParagraphResult_getLineResults(const koc_charSegmentParagraphResult* r, const kstd_vector_koc_charSegmentLineResult** lines) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_charSegmentLineResult)
KOC_API int32_t koc_charSegmentLineResult_getIsFound(const koc_charSegmentLineResult* r, int32_t* isFound) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResult_getStats(const koc_charSegmentLineResult* r, koc_charSegmentLineResultStats* stats) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResult_getRectifiedLineImage(const koc_charSegmentLineResult* r, kimg_imageConst* image) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResult_getHasNormalizedRectifiedLineImage(const koc_charSegmentLineResult* r, int32_t* has) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResult_getNormalizedRectifiedLineImage(const koc_charSegmentLineResult* r, kimg_imageConst* image) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResult_getHasBinarizedRectifiedLineImage(const koc_charSegmentLineResult* r, int32_t* has) KOC_NOEXCEPT;
/* Computes and caches the image on first request (see above). */
KOC_API int32_t koc_charSegmentLineResult_getBinarizedRectifiedLineImage(koc_charSegmentLineResult* r, kimg_imageConst* image) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentLineResult_getPositionResults(const koc_charSegmentLineResult* r, const kstd_vector_koc_charSegmentPositionResult** positions) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_charSegmentPositionResult)
KOC_API int32_t koc_charSegmentPositionResult_getIsComputed(const koc_charSegmentPositionResult* r, int32_t* isComputed) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentPositionResult_getCharacter(const koc_charSegmentPositionResult* r, const koc_char** character) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentPositionResult_getIsSpace(const koc_charSegmentPositionResult* r, int32_t* isSpace) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentPositionResult_getSpaceScore(const koc_charSegmentPositionResult* r, int32_t* score) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentPositionResult_getMarkRect(const koc_charSegmentPositionResult* r, kmath_shapeAffineRect* rect) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentPositionResult_getCellRect(const koc_charSegmentPositionResult* r, kmath_shapeAffineRect* rect) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
