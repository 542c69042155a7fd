/* koc_autoparams.h: run parameters measured from the line in a rectangle.
 *
 * koc_estimateRunParams8 (16-bit twin: koc_estimateRunParams16) finds the
 * text line inside one affine rectangle the way the entry points do, with a
 * modest angle and slant search, and measures it: text height, stroke width,
 * glyph widths, the gaps inside and between characters, pitch, noise and
 * the background's slope. From these it fills a run-parameter record for
 * that rectangle, starting from a base record: sizes and areas in proportion
 * to the text, gap rules from the gap distribution, the segmentation
 * method, the normalisation, spaces and cell margins. Fields whose bit is
 * set in pinnedFields keep the base record's value. The chosen record
 * always passes koc_charSegmentRunParams_validate. The report record (may be
 * null) says what was measured.
 *
 * Codes of our own: KOC_E_NO_INK when the rectangle holds no text line to
 * measure; the codes of koc_extractLineAndNormalize_ for the image and the
 * rectangle (KOC_E_RECT_DEGENERATE for an empty rectangle); every validate
 * code of the base record. On any failure *out is left unchanged and the
 * report reads as not computed. Nothing is kept between calls; calls on
 * distinct output records may run on distinct threads at once. */
#ifndef KOC_AUTOPARAMS_H
#define KOC_AUTOPARAMS_H

#include "koc/koc_params.h"
#include "koc/koc_segment.h"

KOC_EXTERN_C_BEGIN

/* One bit per run-parameter field, in declaration order (nested fields
 * after their parent's position), for pinnedFields. */
#define KOC_PIN_POLARITY                    (UINT64_C(1) << 0)
#define KOC_PIN_USE_GRADIENT_METHOD         (UINT64_C(1) << 1)
#define KOC_PIN_MAX_LINE_ANGLE              (UINT64_C(1) << 2)
#define KOC_PIN_MAX_SKEW_ANGLE              (UINT64_C(1) << 3)
#define KOC_PIN_NORMALIZATION_MODE          (UINT64_C(1) << 4)
#define KOC_PIN_ENABLE_BACKGROUND_SUPPRESSION (UINT64_C(1) << 5)
#define KOC_PIN_THRESHOLD_FRACTION          (UINT64_C(1) << 6)
#define KOC_PIN_USE_LINE_MASK_TEST          (UINT64_C(1) << 7)
#define KOC_PIN_BLOB_SIZE_LIMIT             (UINT64_C(1) << 8)
#define KOC_PIN_TEXT_HEIGHT_SCALE           (UINT64_C(1) << 9)
#define KOC_PIN_MIN_CHAR_AREA               (UINT64_C(1) << 10)
#define KOC_PIN_MIN_CHAR_WIDTH              (UINT64_C(1) << 11)
#define KOC_PIN_MIN_CHAR_HEIGHT             (UINT64_C(1) << 12)
#define KOC_PIN_MIN_LINE_OVERLAP            (UINT64_C(1) << 13)
#define KOC_PIN_LINE_BAND_MARGIN            (UINT64_C(1) << 14)
#define KOC_PIN_GAP_MODE                    (UINT64_C(1) << 15)
#define KOC_PIN_REFINEMENT_FRACTION         (UINT64_C(1) << 16)
#define KOC_PIN_MIN_CHAR_GAP                (UINT64_C(1) << 17)
#define KOC_PIN_MAX_INNER_GAP               (UINT64_C(1) << 18)
#define KOC_PIN_LIMIT_CHAR_HEIGHT           (UINT64_C(1) << 19)
#define KOC_PIN_MAX_CHAR_HEIGHT             (UINT64_C(1) << 20)
#define KOC_PIN_LIMIT_CHAR_WIDTH            (UINT64_C(1) << 21)
#define KOC_PIN_MAX_CHAR_WIDTH              (UINT64_C(1) << 22)
#define KOC_PIN_LIMIT_ASPECT                (UINT64_C(1) << 23)
#define KOC_PIN_MIN_ASPECT_RATIO            (UINT64_C(1) << 24)
#define KOC_PIN_REFINEMENT_MODE             (UINT64_C(1) << 25)
#define KOC_PIN_SEGMENTATION_METHOD         (UINT64_C(1) << 26)
#define KOC_PIN_CELL_RECT_MODE              (UINT64_C(1) << 27)
#define KOC_PIN_CELL_RECT_MIN_MARGIN        (UINT64_C(1) << 28)
#define KOC_PIN_CELL_RECT_MAX_MARGIN        (UINT64_C(1) << 29)
#define KOC_PIN_PITCH_MEASURE               (UINT64_C(1) << 30)
#define KOC_PIN_REGULARITY_SOURCE           (UINT64_C(1) << 31)
#define KOC_PIN_MIN_PITCH                   (UINT64_C(1) << 32)
#define KOC_PIN_SPACE_INSERTION_MODE        (UINT64_C(1) << 33)
#define KOC_PIN_SCORE_SPACES                (UINT64_C(1) << 34)
#define KOC_PIN_MIN_SPACE_WIDTH             (UINT64_C(1) << 35)
#define KOC_PIN_MAX_SPACE_WIDTH             (UINT64_C(1) << 36)
#define KOC_PIN_NUM_LINES                   (UINT64_C(1) << 37)
#define KOC_PIN_SKIP_LINE_STATS             (UINT64_C(1) << 38)

/* What the estimator measured, in pixels of the rectified line unless said
 * otherwise. A plain value; isComputed is cleared first and set last. */
typedef struct koc_runParamsEstimate {
    uint32_t isComputed;
    uint32_t polarity;        /* 1 dark on light, 2 light on dark */
    double lineAngle;         /* degrees, as line extraction found them */
    double skewAngle;
    double textHeight;        /* height of the ink band of whole glyphs */
    double strokeWidth;       /* median of the shortest run through each ink pixel */
    double medianGlyphWidth;  /* of the glyphs after joining inner gaps */
    int32_t glyphCount;
    int32_t innerGap;         /* largest gap inside a character; 0 when glyphs are solid */
    int32_t charGap;          /* median gap between characters */
    double pitch;             /* median centre-to-centre distance of neighbouring glyphs */
    uint32_t isFixedPitch;    /* 1 when most neighbour distances match the pitch (or a multiple) */
    uint32_t isBrokenStroke;  /* 1 when glyphs are made of dots or segments */
    uint32_t isTouching;      /* 1 when many glyphs touch their neighbours */
    double contrast;          /* grey levels between ink and background */
    double noiseLevel;        /* standard deviation of the background, grey levels */
    double backgroundSlope;   /* background change along the line, per contrast */
    int32_t lineCount;        /* text lines found in the rectangle (bands of ink rows) */
    double widestGlyphWidth;  /* widest glyph that can be one character (W, M): at most 1.5 text
                                 heights and 1.6 pitches, so two glyphs side by side are not one */
    double edgeWidth;         /* ink edge pixels per boundary pixel: about 1 sharp, more when blurred */
} koc_runParamsEstimate;

KOC_DECLARE_LIFECYCLE(koc_runParamsEstimate)

KOC_API int32_t koc_estimateRunParams8(const kimg_imageConst* image, const kmath_shapeAffineRect* rect,
                                       const koc_charSegmentRunParams* base, uint64_t pinnedFields,
                                       koc_charSegmentRunParams* out, koc_runParamsEstimate* report) KOC_NOEXCEPT;
KOC_API int32_t koc_estimateRunParams16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                        const koc_charSegmentRunParams* base, uint64_t pinnedFields,
                                        koc_charSegmentRunParams* out, koc_runParamsEstimate* report) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
