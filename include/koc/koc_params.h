/* koc_params.h: the run parameters handed to every segmentation entry point,
 * with their two nested records (cell rectangles, spaces).
 *
 * All three are plain values. reset (and so construct) sets the defaults
 * listed beside each field; validate checks the rules in a fixed order and
 * returns the code of the first one broken (KOC_E_NUM_LINES, KOC_E_POLARITY,
 * ... see koc_result.h). compareEqual treats two doubles as equal unless one
 * is less than the other, so NaN matches anything. */
#ifndef KOC_PARAMS_H
#define KOC_PARAMS_H

#include "koc/koc_lifecycle.h"

KOC_EXTERN_C_BEGIN

typedef struct koc_cellRectGenerationParams {
    uint32_t cellRectMode;     /* 1: grow cells by width, 2: by gap (default 1) */
    int32_t cellRectMinMargin; /* >= 0, default 2 */
    int32_t cellRectMaxMargin; /* >= cellRectMinMargin, default 5 */
} koc_cellRectGenerationParams;

typedef struct koc_charSegmentSpaceParams {
    uint32_t spaceInsertionMode; /* 0 none, 1 one per gap, 2 as many as fit (default 0) */
    uint32_t scoreSpaces;        /* 0 or 1 (default 1) */
    int32_t minSpaceWidth;       /* >= 1, default 10 */
    int32_t maxSpaceWidth;       /* >= minSpaceWidth, default 100 */
} koc_charSegmentSpaceParams;

typedef struct koc_charSegmentRunParams {
    uint32_t polarity;                   /* 1, 2 or 4 = decide (default 4) */
    uint32_t useGradientMethod;          /* 1 gradient field, 0 row edgelets (default 1) */
    double maxLineAngle;                 /* [0, 45] degrees (default 0) */
    double maxSkewAngle;                 /* [0, 45] degrees (default 0) */
    uint32_t normalizationMode;          /* 1, 2, 4 or 8 (default 4) */
    uint32_t enableBackgroundSuppression; /* non-zero on (default 1) */
    double thresholdFraction;            /* [0, 1] (default 0.5) */
    uint32_t useLineMaskTest;            /* non-zero on (default 0) */
    int32_t blobSizeLimit;               /* >= 1 (default 15) */
    double textHeightScale;              /* >= 0 (default 30) */
    int32_t minCharArea;                 /* >= 1 (default 30) */
    int32_t minCharWidth;                /* >= 1 (default 3) */
    int32_t minCharHeight;               /* >= 1 (default 3) */
    double minLineOverlap;               /* [0, 1] (default 0.5) */
    double lineBandMargin;               /* >= 0 (default 0) */
    uint32_t gapMode;                    /* 1, 2 or 4 (default 1) */
    double refinementFraction;           /* [0, 1] (default 0) */
    int32_t minCharGap;                  /* >= 0 (default 1) */
    int32_t maxInnerGap;                 /* >= 0 (default 0) */
    uint32_t limitCharHeight;            /* non-zero enables maxCharHeight (default 0) */
    int32_t maxCharHeight;               /* >= 1 (default 100) */
    uint32_t limitCharWidth;             /* non-zero enables maxCharWidth (default 0) */
    int32_t maxCharWidth;                /* >= 1 (default 100) */
    uint32_t limitAspect;                /* non-zero enables minAspectRatio (default 1) */
    double minAspectRatio;               /* height / width, >= 0 (default 0.8) */
    uint32_t refinementMode;             /* 1, 2 or 4 (default 1) */
    uint32_t segmentationMethod;         /* 1 direct, 2 hypothesis tree (default 2) */
    koc_cellRectGenerationParams cellRectParams;
    uint32_t pitchMeasure;               /* 1 all, 2 left, 4 centre, 8 right (default 1) */
    uint32_t regularitySource;           /* 1 both, 2 pitch, 4 gap, 8 none (default 1) */
    int32_t minPitch;                    /* >= 0 (default 0) */
    koc_charSegmentSpaceParams spaceParams;
    int32_t numLines;                    /* >= 1 (default 1) */
    uint32_t skipLineStats;              /* non-zero skips line statistics (default 0) */
} koc_charSegmentRunParams;

KOC_DECLARE_LIFECYCLE(koc_cellRectGenerationParams)
KOC_API int32_t koc_cellRectGenerationParams_validate(const koc_cellRectGenerationParams* p) KOC_NOEXCEPT;
KOC_API int32_t koc_cellRectGenerationParams_compareEqual(const koc_cellRectGenerationParams* a, const koc_cellRectGenerationParams* b, int32_t* isEqual) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_charSegmentSpaceParams)
KOC_API int32_t koc_charSegmentSpaceParams_validate(const koc_charSegmentSpaceParams* p) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentSpaceParams_compareEqual(const koc_charSegmentSpaceParams* a, const koc_charSegmentSpaceParams* b, int32_t* isEqual) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_charSegmentRunParams)
KOC_API int32_t koc_charSegmentRunParams_validate(const koc_charSegmentRunParams* p) KOC_NOEXCEPT;
KOC_API int32_t koc_charSegmentRunParams_compareEqual(const koc_charSegmentRunParams* a, const koc_charSegmentRunParams* b, int32_t* isEqual) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
