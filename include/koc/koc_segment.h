/* koc_segment.h: the segmentation entry points.
 *
 * A call hands over one image (8-bit, 16-bit, or a 16-bit range image with
 * a validity mask), affine rectangles in the image's client coordinates (one
 * per paragraph), the run parameters and a result; paragraph i of the result
 * belongs to rectangle i. The run parameters are validated once per call and
 * never changed. The result is computed only when every paragraph
 * succeeded; on a failure the paragraphs before the failing one stay filled.
 * A failed call leaves the result marked not computed. Codes of our own:
 * KOC_E_NO_RECTS (empty rectangle vector; the paragraphs are left as they
 * were), KOC_E_LIMIT_EXCEEDED (see the limits below), KOC_E_IMAGE_UNBOUND, KOC_E_NOT_LINEAR_XFORM,
 * KOC_E_RECT_DEGENERATE, KOC_E_RECT_SIDE_TOO_SHORT, KOC_E_RECT_OUTSIDE_IMAGE,
 * KOC_E_RECT_PARTLY_OUTSIDE, KOC_E_NEEDS_GRADIENT_METHOD, and every validate
 * code. Calls on distinct results may run on distinct threads at once. */
#ifndef KOC_SEGMENT_H
#define KOC_SEGMENT_H

#include "koc/koc_lineextract.h"
#include "koc/koc_params.h"
#include "koc/koc_results.h"

KOC_EXTERN_C_BEGIN

/* Size limits of one call, checked before anything large is allocated; a
 * request beyond them gives KOC_E_LIMIT_EXCEEDED. With them, the working
 * memory of one paragraph stays well below 1 GiB whatever the request (a
 * rectangle at the limits with the widest search peaks near 140 MiB; a
 * typical text line needs a few MiB). Rectangle sizes are measured in image
 * pixels, after the line extraction has cut a rectangle down to the part
 * that meets the image. */
#define KOC_MAX_RECT_SIDE 16384          /* either side of a rectangle */
#define KOC_MAX_RECT_PIXELS (1 << 24)    /* a rectangle's area */
#define KOC_MAX_FILL_PIXELS (1 << 26)    /* the window a range image's gaps are filled over */
#define KOC_MAX_NUM_LINES 256            /* numLines of one paragraph */

KOC_API int32_t koc_segmentCharacters8(const kimg_imageConst* image, const kstd_vector_kmath_shapeAffineRect* rects,
                                       const koc_charSegmentRunParams* params, koc_charSegmentResult* result) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharacters16(const kimg_imageConst* image16, const kstd_vector_kmath_shapeAffineRect* rects,
                                        const koc_charSegmentRunParams* params, koc_charSegmentResult* result) KOC_NOEXCEPT;
/* Masked-out pixels are filled (over the rectangles' union plus a margin of
 * 10 pixels) before any paragraph is processed, when the mask is bound. */
KOC_API int32_t koc_segmentCharactersRangeImage16(const k3img_rangeImage16Const* range,
                                                  const kstd_vector_kmath_shapeAffineRect* rects,
                                                  const koc_charSegmentRunParams* params,
                                                  koc_charSegmentResult* result) KOC_NOEXCEPT;

/* One paragraph; the run parameters are validated by line extraction. */
KOC_API int32_t koc_segmentCharactersParagraph8(const kimg_imageConst* image, const kmath_shapeAffineRect* rect,
                                                const koc_charSegmentRunParams* params,
                                                koc_charSegmentParagraphResult* result) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharactersParagraph16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                                 const koc_charSegmentRunParams* params,
                                                 koc_charSegmentParagraphResult* result) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharactersParagraphRangeImage16(const k3img_rangeImage16Const* range,
                                                           const kmath_shapeAffineRect* rect,
                                                           const koc_charSegmentRunParams* params,
                                                           koc_charSegmentParagraphResult* result) KOC_NOEXCEPT;

/* The two steps of a paragraph, for the library's own layers and for hosts
 * that want to look between them. Exactly one image slot is used: the 8-bit
 * one when given, else the 16-bit one, else the range image. */
KOC_API int32_t koc_extractLineAndNormalize_(const kimg_imageConst* image8, const kimg_imageConst* image16,
                                             const k3img_rangeImage16Const* range, const kmath_shapeAffineRect* rect,
                                             const koc_charSegmentRunParams* params,
                                             koc_lineExtractResult* out) KOC_NOEXCEPT;
/* Sizes the paragraph to numLines line results; a line that was not found
 * gives a computed paragraph of line results with isFound 0. */
KOC_API int32_t koc_segmentCharactersOnly_(const koc_lineExtractResult* line, const koc_charSegmentRunParams* params,
                                           koc_charSegmentParagraphResult* result) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
