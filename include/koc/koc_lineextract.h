/* koc_lineextract.h: the parameters and the result of line extraction for
 * one affine rectangle.
 *
 * The result owns its images, its run-length mask and its edgelet record;
 * assigning a result shares image pixels and copies everything else. A
 * failed assign leaves isLineFound cleared. */
#ifndef KOC_LINEEXTRACT_H
#define KOC_LINEEXTRACT_H

#include "koc/kimg.h"
#include "koc/kip_edgelets.h"
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

/* The row edgelets the edgelet method (useGradientMethod 0) found on the
 * rectified input region, in that image's pixel frame; owned by the result.
 * isValid is 1 when they were found and the line image is that region (it
 * is cleared when the line had to be resampled). */
typedef struct koc_lineEdgeletRecord_ {
    uint32_t isValid;
    kip_rowEdgeletSet edgelets;
} koc_lineEdgeletRecord_;

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

/* ---- line extraction ---- */

/* Finds the text line inside rect (client coordinates of image), cuts it out
 * as a rectified line image, decides its polarity and normalises it, into
 * result (reset first). Not finding a line is success with isLineFound 0.
 * Thread-safe for distinct results. */
KOC_API int32_t koc_extractLine(const kimg_imageConst* image, const kmath_shapeAffineRect* rect,
                                const koc_lineExtractParams* params, koc_lineExtractResult* result) KOC_NOEXCEPT;
/* The same for a 16-bit image; the stored line images are converted to 8 bit. */
KOC_API int32_t koc_extractLine16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                  const koc_lineExtractParams* params, koc_lineExtractResult* result) KOC_NOEXCEPT;

/* ---- gradient field and projections ---- */

/* Binds field to a grid of Sobel samples laid along rect's own axes: nx
 * samples per row, ny rows, each sample two pels (horizontal then vertical
 * response in source-image axes, divided by 8, signed 8-bit; signed 16-bit
 * for the 16-bit twin), so the field is 2*nx pels wide. The field's
 * image-from-client transform maps client coordinates to sample coordinates.
 * steps (optional, 4 values) receives the unit vectors of rect's x and y
 * sides in source pixels with 20 fractional bits. A rectangle less than one
 * sample wide or high leaves the field unbound and succeeds. */
KOC_API int32_t koc_getGradientField(const kimg_imageConst* image, const kmath_shapeAffineRect* rect, kimg_image* field,
                                     int32_t* steps) KOC_NOEXCEPT;
KOC_API int32_t koc_getGradientField16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                       kimg_image* field, int32_t* steps) KOC_NOEXCEPT;

/* One profile per slope (16.16 tangents) into profiles: the horizontal
 * projection sums along lines of each slope across the field (bins run down
 * the field), the vertical one along lines x + t*y = const (bins run along
 * it). Each contribution is the gradient dotted with the lines' unit normal
 * (14 fractional bits, in image axes when steps are given), scaled by 1/64
 * with rounding; absolute non-zero adds magnitudes. */
KOC_API int32_t koc_projectHorizGradientField(const kimg_imageConst* field, const kstd_vector32s* slopes,
                                              const int32_t* steps, int32_t absolute,
                                              kstd_vector_vector32s* profiles) KOC_NOEXCEPT;
KOC_API int32_t koc_projectVertGradientField(const kimg_imageConst* field, const kstd_vector32s* slopes,
                                             const int32_t* steps, int32_t absolute,
                                             kstd_vector_vector32s* profiles) KOC_NOEXCEPT;
KOC_API int32_t koc_projectHorizGradientField16(const kimg_imageConst* field, const kstd_vector32s* slopes,
                                                const int32_t* steps, int32_t absolute,
                                                kstd_vector_vector32s* profiles) KOC_NOEXCEPT;
KOC_API int32_t koc_projectVertGradientField16(const kimg_imageConst* field, const kstd_vector32s* slopes,
                                               const int32_t* steps, int32_t absolute,
                                               kstd_vector_vector32s* profiles) KOC_NOEXCEPT;

/* Host hook: when set and it answers non-zero for a kernel name (such as
 * "koc_computeGradientField"), no optimised kernel is used for it. The
 * optimised kernels give the portable ones' results bit for bit, so the
 * answer changes speed only. */
typedef int32_t (*kprt_isOptimizationInhibitedFn)(const char* kernelName);
KOC_API extern kprt_isOptimizationInhibitedFn kprt_isOptimizationInhibitedFP;

KOC_EXTERN_C_END

#endif
