/* koc_lineextract.h: the parameters and the result of line extraction for
 * one affine rectangle.
 *
 * The result owns its images, its run-length mask and its edgelet record;
 * assigning a result shares image pixels and copies everything else. A
 * failed assign leaves isLineFound cleared. */
#ifndef KOC_LINEEXTRACT_H
#define KOC_LINEEXTRACT_H

#include "koc/kimg.h"
#include "koc/koc_lifecycle.h"

KOC_EXTERN_C_BEGIN

typedef struct koc_lineExtractParams {
    uint32_t limitHeight;       /* non-zero: clip the reported height to maxHeight */
    int32_t maxHeight;          /* default 100 */
    uint32_t useGradientMethod; /* 1 gradient field (default), 0 row edgelets */
    double maxLineAngle;        /* rotation search half-range, degrees */
    double maxSkewAngle;        /* shear search half-range, degrees */
    uint32_t polarity;          /* 1 or 2 fixed, 4 decide (default) */
    uint32_t normalizationMode; /* 1, 2, 4 or 8 (default 4) */
} koc_lineExtractParams;

/* The row edgelets found on a line (opaque; owned by the result). */
typedef struct koc_lineEdgeletRecord_ koc_lineEdgeletRecord_;

typedef struct koc_lineExtractResult {
    int32_t isLineFound;
    double lineHeight;              /* pixels; -1 unknown */
    kmath_shapeAffineRect lineRect; /* the tight line rectangle */
    uint32_t polarity;              /* decided 1 or 2; 4 undecided */
    int32_t isLineImageValid;
    int32_t isNormalizedImageValid;
    kmath_shapeAffineRect extractedRect;
    kstd_rectD lineRectBounds;      /* line-image pixels */
    kstd_rect32 lineRectBounds32;
    kimg_imageConst lineImage;
    kimg_imageConst normalizedImage;
    kimg_imageRle lineMask;         /* valid pixels of lineImage */
    koc_lineEdgeletRecord_* lineEdgeletRecord;
    double lineAngle;               /* degrees */
    double skewAngle;               /* degrees */
    koc_lineExtractParams params;
} koc_lineExtractResult;

KOC_DECLARE_LIFECYCLE(koc_lineExtractParams)
KOC_DECLARE_LIFECYCLE(koc_lineExtractResult)

KSTD_DECLARE_VECTOR_FAMILY(vector_koc_lineExtractResult, koc_lineExtractResult)
KSTD_DECLARE_VECTOR_FAMILY(vector_vector_koc_lineExtractResult, kstd_vector_koc_lineExtractResult)

/* Edgelet record lifecycle, for the library's own layers. */
KOC_API int32_t koc_lineEdgeletRecord__new(koc_lineEdgeletRecord_** record) KOC_NOEXCEPT;
KOC_API int32_t koc_lineEdgeletRecord__delete(koc_lineEdgeletRecord_** record) KOC_NOEXCEPT;
KOC_API int32_t koc_lineEdgeletRecord__assign(koc_lineEdgeletRecord_* dst, const koc_lineEdgeletRecord_* src) KOC_NOEXCEPT;
KOC_API int32_t koc_lineEdgeletRecord__getNumEdgelets(const koc_lineEdgeletRecord_* record, int32_t* count) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
