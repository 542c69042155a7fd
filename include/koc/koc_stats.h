/* koc_stats.h: the accumulators that score a candidate segmentation, the
 * element record of the pipeline, and the statistics of a finished line.
 *
 * koc_statistics32 sums in 32-bit two's-complement arithmetic (wrapping, as
 * its users expect of a 32-bit accumulator); getVariance/getStdDev return
 * KOC_E_NO_SAMPLES on an empty accumulator. koc_charSegmentLineResultStats
 * owns six vectors; the other records are plain values. */
#ifndef KOC_STATS_H
#define KOC_STATS_H

#include "koc/kmath.h"
#include "koc/koc_char.h"
#include "koc/koc_params.h"

KOC_EXTERN_C_BEGIN

typedef struct koc_statistics32 {
    int32_t count;
    int32_t sum;
    int32_t min;               /* default 2147483647 */
    int32_t max;               /* default -2147483648 */
    int32_t useIntegerSquares; /* 1: squares go to sumOfSquares32 (default), 0: to sumOfSquares */
    int32_t sumOfSquares32;
    double sumOfSquares;
} koc_statistics32;

typedef struct koc_stringSpacingStats {
    int32_t widthCount;
    koc_statistics32 widthStats;
    koc_statistics32 gapStats;
    int32_t hasLeftToLeft;
    koc_statistics32 leftToLeftStats;
    int32_t hasCentreToCentre;
    koc_statistics32 centreToCentreStats;
    int32_t hasRightToRight;
    koc_statistics32 rightToRightStats;
    int32_t smallGapCount;   /* gaps below minCharGap */
    int32_t smallPitchCount; /* pitches below minPitch */
} koc_stringSpacingStats;

typedef struct koc_stringStats {
    int32_t charCount;
    int32_t markAreaSum;
    int32_t rectAreaSum;
    int32_t widthSum;
    int32_t innerGapSum;
    koc_stringSpacingStats spacingStats;
    int32_t invalidCharCount;
} koc_stringStats;

/* An element: a blob or a union of blobs, in line-image pixels. */
typedef struct koc_charSegmentElementInfo {
    kstd_rect32 rect;        /* default null */
    int32_t area;            /* mark pixels; -1 unknown (default) */
    int32_t contrast;        /* 16.16; -1 for merged elements */
    int32_t blobIndex;       /* default -1 */
    int32_t auxIndex;        /* default -1 */
    uint32_t flags;
    double inBandFraction;   /* share of the height inside the line band */
    double outOfBandFraction; /* overhang beyond the band, relative to the band height */
} koc_charSegmentElementInfo;

typedef struct koc_charSegmentElementStats {
    kstd_rect32 rect;
    int32_t area;
    int32_t contrast;         /* 16.16 */
    double outOfBandFraction; /* from the element's second double */
    double inBandFraction;    /* from the element's first double */
    uint32_t flags;
    int32_t isAccepted;
} koc_charSegmentElementStats;

/* Fifteen words: a filled flag and seven (smallest, largest) pairs. The
 * smallest words reset to 2147483647, the largest to 0. */
typedef struct koc_charSegmentAllElementsStats {
    int32_t isFilled;
    int32_t minArea, maxArea;
    int32_t minContrast, maxContrast;
    int32_t minTop, maxBottom;
    int32_t minMarkArea, maxMarkArea;
    int32_t minWidth, maxWidth;
    int32_t minHeight, maxHeight;
    int32_t minSpaceWidth, maxSpaceWidth;
} koc_charSegmentAllElementsStats;

KSTD_DECLARE_VECTOR_FAMILY(vector_koc_charSegmentElementStats, koc_charSegmentElementStats)
KSTD_DECLARE_VECTOR_FAMILY(vector_koc_charSegmentElementInfo, koc_charSegmentElementInfo)
KSTD_DECLARE_VECTOR_FAMILY(vector_koc_stringStats, koc_stringStats)

typedef struct koc_charSegmentLineResultStats {
    int32_t isComputed;
    koc_charSegmentAllElementsStats positionStats; /* over the non-space positions */
    koc_charSegmentAllElementsStats elementStats;  /* over rejected elements */
    kstd_vector_koc_charSegmentElementStats rawElements;
    kstd_vector_koc_charSegmentElementStats rawAccepted;
    kstd_vector_koc_charSegmentElementStats rawRejected;
    kstd_vector_koc_charSegmentElementStats charElements;
    kstd_vector_koc_charSegmentElementStats charAccepted;
    kstd_vector_koc_charSegmentElementStats charRejected;
    double foldedLineAngle; /* degrees in [0, 90] */
    double foldedSkewAngle;
    kmath_shapeAffineRect bandRect; /* client coordinates */
    kmath_shapeAffineRect inkRect;
    kmath_xformLinear clientFromImage;
    kmath_xformLinear imageFromClient;
    uint32_t binarizationThreshold;
    int32_t thresholdPolarityFlag;
    koc_charPolarity polarity; /* default 4 */
    int32_t minGap, maxGap;                 /* between neighbouring positions */
    int32_t minMergedGap, maxMergedGap;     /* inner gaps of merged element pairs */
    int32_t minPitch, maxPitch;
    int32_t minBandHeight;
    int32_t numRawTouchingBorder;  /* raw elements with flag bit 2 */
    int32_t numRawOutsideBand;     /* raw elements with flag bit 8 */
    int32_t numUnmatchedSmallArea;
    int32_t numUnmatchedNarrow;
    int32_t numUnmatchedLow;
    int32_t numCroppedTall;
} koc_charSegmentLineResultStats;

KOC_DECLARE_LIFECYCLE(koc_statistics32)
KOC_API int32_t koc_statistics32_add(koc_statistics32* s, int32_t value) KOC_NOEXCEPT;
KOC_API int32_t koc_statistics32_getVariance(const koc_statistics32* s, double* variance) KOC_NOEXCEPT;
KOC_API int32_t koc_statistics32_getStdDev(const koc_statistics32* s, double* stdDev) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_stringSpacingStats)
KOC_API int32_t koc_stringSpacingStats_addWidth(koc_stringSpacingStats* s, int32_t width) KOC_NOEXCEPT;
/* Adds the gap and the three pitches between a (before) and b; counts a gap
 * below runParams->minCharGap and a pitch below runParams->minPitch (unless
 * minPitch is 2147483647). */
KOC_API int32_t koc_stringSpacingStats_addSpacingRects(koc_stringSpacingStats* s, const koc_charSegmentRunParams* runParams, const kstd_rect32* a, const kstd_rect32* b) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_stringStats)
KOC_DECLARE_LIFECYCLE(koc_charSegmentElementInfo)

KOC_DECLARE_LIFECYCLE(koc_charSegmentElementStats)
KOC_API int32_t koc_charSegmentElementStats_compareEqual(const koc_charSegmentElementStats* a, const koc_charSegmentElementStats* b, int32_t* isEqual) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_charSegmentAllElementsStats)
KOC_API int32_t koc_charSegmentAllElementsStats_compareEqual(const koc_charSegmentAllElementsStats* a, const koc_charSegmentAllElementsStats* b, int32_t* isEqual) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_charSegmentLineResultStats)
KOC_API int32_t koc_charSegmentLineResultStats_compareEqual(const koc_charSegmentLineResultStats* a, const koc_charSegmentLineResultStats* b, int32_t* isEqual) KOC_NOEXCEPT;
/* 0 when computed, else KOC_E_NOT_COMPUTED. */
KOC_API int32_t koc_charSegmentLineResultStats_checkIsComputed(const koc_charSegmentLineResultStats* s) KOC_NOEXCEPT;

/* Each statistics record as one self-contained archive buffer and back.
 * getBuffer: *buffer is a block of *size bytes from ksys_memory_alloc_internal,
 * the caller's to release with ksys_memory_free_internal. setBuffer reads the
 * record from size bytes of buffer (which stays the caller's); a buffer that
 * is not an archive gives KOC_E_ARCHIVE_BAD_BUFFER, other load failures the
 * archive codes of karca.h. */
#define KOC_DECLARE_ARCHIVE_BUFFER(T)                                                                      \
    KOC_API int32_t T##_archive_getBuffer(const T* record, void** buffer, int32_t* size) KOC_NOEXCEPT;    \
    KOC_API int32_t T##_archive_setBuffer(T* record, const void* buffer, int32_t size) KOC_NOEXCEPT;
KOC_DECLARE_ARCHIVE_BUFFER(koc_charSegmentElementStats)
KOC_DECLARE_ARCHIVE_BUFFER(koc_charSegmentAllElementsStats)
KOC_DECLARE_ARCHIVE_BUFFER(koc_charSegmentLineResultStats)

KOC_EXTERN_C_END

#endif
