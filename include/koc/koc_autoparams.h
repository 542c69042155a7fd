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

#include "koc/koc_extensions.h"
#include "koc/koc_lineextract.h"
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

/* The whole road for a caller who gives only a rectangle, as koc-segment
 * --auto and the Python module's segment(auto=True) run it:
 * koc_segmentCharactersParagraphAuto8 (twins: ...Auto16 for a 16-bit image,
 * ...RangeImageAuto16 for a range image, measured on its 16-bit image as it
 * is) estimates the run parameters as koc_estimateRunParams8 does (base and
 * pinnedFields as there), chooses the extensions the measurements call for,
 * extracts the line with the chosen record and segments it into *result as
 * koc_segmentCharactersParagraphExt8 would with the chosen record and
 * extensions. The extensions start from baseExt (null: every switch off);
 * a field whose KOC_PIN_EXT_* bit is set in givenExtensions keeps
 * baseExt's value, the others are chosen:
 *
 * - splitTouchingGlyphs: on where the estimate reports touching glyphs.
 *   Where it does not (and the strokes are at least two pixels wide and
 *   whole, not dots or segments), a line whose widest mark is 1.8 measured
 *   glyph widths wide while its median mark is under 1.5 is segmented a
 *   second time with the split, and that run is kept when its mark count is
 *   nearer the number of glyphs the first run's marks stand for by their
 *   widths (isSplitRetried in the report; extensions then reads the split
 *   on).
 * - walkNodeBudget (64) and bandAwareElements (1): on a noisy line, where
 *   the background's spread times 8 exceeds the contrast.
 *
 * line (may be null) receives the line extraction as
 * koc_extractLineAndNormalize_ fills it; report (may be null) what was
 * used. Codes: those of the estimator and of the segmentation, and
 * KOC_E_BAD_ARGUMENT for a baseExt validate refuses or a givenExtensions
 * bit that names no field. KOC_E_NO_INK is not a failure here: the line
 * runs with base and baseExt as given, and the report says so
 * (estimateCode). On a failure result, line and report read as not
 * computed; a failure after the measuring leaves the report's params and
 * estimate filled, so the caller can tell which chosen field was refused. */

/* One bit per extension field, for givenExtensions. */
#define KOC_PIN_EXT_SPLIT_TOUCHING_GLYPHS (UINT32_C(1) << 0)
#define KOC_PIN_EXT_WALK_NODE_BUDGET      (UINT32_C(1) << 1)
#define KOC_PIN_EXT_BAND_AWARE_ELEMENTS   (UINT32_C(1) << 2)

/* What the auto road used for one rectangle. A plain value; isComputed is
 * cleared first and set last. */
typedef struct koc_autoSegmentReport {
    uint32_t isComputed;
    int32_t estimateCode;                 /* 0, or KOC_E_NO_INK: nothing measured, base and baseExt ran */
    koc_charSegmentRunParams params;      /* the record the line was extracted and segmented with */
    koc_runParamsEstimate estimate;       /* what was measured (not computed when estimateCode is not 0) */
    koc_charSegmentExtensions extensions; /* the extensions of the segmentation kept */
    uint32_t isSplitRetried;              /* 1: the second run with the touching split was kept */
} koc_autoSegmentReport;

KOC_DECLARE_LIFECYCLE(koc_autoSegmentReport)

KOC_API int32_t koc_segmentCharactersParagraphAuto8(const kimg_imageConst* image, const kmath_shapeAffineRect* rect,
                                                    const koc_charSegmentRunParams* base, uint64_t pinnedFields,
                                                    const koc_charSegmentExtensions* baseExt,
                                                    uint32_t givenExtensions, koc_lineExtractResult* line,
                                                    koc_charSegmentParagraphResult* result,
                                                    koc_autoSegmentReport* report) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharactersParagraphAuto16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                                     const koc_charSegmentRunParams* base, uint64_t pinnedFields,
                                                     const koc_charSegmentExtensions* baseExt,
                                                     uint32_t givenExtensions, koc_lineExtractResult* line,
                                                     koc_charSegmentParagraphResult* result,
                                                     koc_autoSegmentReport* report) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharactersParagraphRangeImageAuto16(
    const k3img_rangeImage16Const* range, const kmath_shapeAffineRect* rect, const koc_charSegmentRunParams* base,
    uint64_t pinnedFields, const koc_charSegmentExtensions* baseExt, uint32_t givenExtensions,
    koc_lineExtractResult* line, koc_charSegmentParagraphResult* result, koc_autoSegmentReport* report) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
