/* koc_result.h: every result code the library can return, with its name and
 * a short English message.
 *
 * Every function returns a signed 32-bit code: 0 (or any non-negative value)
 * is success, a negative value of the form 0x8000xxxx is a failure. A callee's
 * negative code is passed on unchanged, so a caller may also receive a code
 * its own attention-check handler made up. koc_resultName and
 * koc_resultMessage answer for any value, known or not, and are thread-safe. */
#ifndef KOC_RESULT_H
#define KOC_RESULT_H

#include "koc/koc_export.h"

/* X(name, value, message): the only place a code is listed. */
#define KOC_FOR_EACH_RESULT_CODE(X)                                                                    \
    X(KOC_OK, 0x00000000, "success")                                                                   \
    X(KOC_E_OUT_OF_MEMORY, 0x80000101, "out of memory")                                                \
    X(KOC_E_INTERNAL, 0x80000102, "internal failure")                                                  \
    X(KOC_E_INDEX_OUT_OF_RANGE, 0x80000103, "index or count out of range")                             \
    X(KOC_E_IMAGE_DEPTH, 0x80000104, "image has the wrong pixel depth for this operation")            \
    X(KOC_E_WINDOW_OUTSIDE_IMAGE, 0x80000105, "window lies outside the image's pixels")               \
    X(KOC_E_SINGULAR_XFORM, 0x80000106, "transform cannot be inverted")                                \
    X(KOC_E_BAD_ARGUMENT, 0x80000107, "argument value out of range")                                   \
    X(KOC_E_CANCELLED, 0x80000108, "cancelled by the attention check")                                 \
    X(KOC_E_LIMIT_EXCEEDED, 0x80000109, "request exceeds the size limits of one call (KOC_MAX_*)")     \
    X(KOC_E_NO_SAMPLES, 0x80000542, "statistics accumulator holds no samples")                         \
    X(KOC_E_NO_OPTIMIZED_KERNEL, 0x80000601, "no optimised kernel for this operation")                 \
    X(KOC_E_ARCHIVE_NO_OBJECT, 0x80000d82, "archive holds no object here")                             \
    X(KOC_E_ARCHIVE_WRONG_TYPE, 0x80000d83, "archive object has another type")                         \
    X(KOC_E_ARCHIVE_VERSION, 0x80000d84, "archive object version is newer than supported")             \
    X(KOC_E_ARCHIVE_TRUNCATED, 0x80000d85, "archive record ends before the value being read")        \
    X(KOC_E_ARCHIVE_MALFORMED, 0x80000d86, "archive holds a flag byte or length that cannot be valid")  \
    X(KOC_E_ARCHIVE_BUFFER_REFUSED, 0x80000d88, "archive refused the buffer")                          \
    X(KOC_E_HISTOGRAM_NO_TAIL, 0x800010e3, "histogram has no usable tail")                             \
    X(KOC_E_NOT_COMPUTED, 0x800013ad, "record has not been computed")                                  \
    X(KOC_E_NOT_LINEAR_XFORM, 0x800013db, "image has no linear client transform")                      \
    X(KOC_E_IMAGE_UNBOUND, 0x800013dc, "image is not bound to pixel memory")                           \
    X(KOC_E_CHAR_XFORM_NOT_SCALE, 0x800013e5, "character transform has rotation or shear")             \
    X(KOC_E_ARCHIVE_BAD_BUFFER, 0x800013f8, "buffer is not a valid archive")                           \
    X(KOC_E_POLARITY_UNDECIDED, 0x8000140b, "text polarity must be 1 or 2 here")                       \
    X(KOC_E_NEEDS_GRADIENT_METHOD, 0x8000140f, "16-bit and range images need useGradientMethod 1")     \
    X(KOC_E_MIN_LINE_OVERLAP, 0x80001410, "minLineOverlap must lie in [0, 1]")                         \
    X(KOC_E_CELL_RECT_MODE, 0x80001411, "cellRectMode must be 1 or 2")                                 \
    X(KOC_E_CELL_RECT_MIN_MARGIN, 0x80001412, "cellRectMinMargin must be at least 0")                  \
    X(KOC_E_CELL_RECT_MAX_MARGIN, 0x80001413, "cellRectMaxMargin must be at least 0")                  \
    X(KOC_E_CELL_RECT_MARGIN_ORDER, 0x80001414, "cellRectMinMargin exceeds cellRectMaxMargin")         \
    X(KOC_E_SPACE_INSERTION_MODE, 0x80001420, "spaceInsertionMode must be 0, 1 or 2")                  \
    X(KOC_E_SCORE_SPACES, 0x80001421, "scoreSpaces must be 0 or 1")                                    \
    X(KOC_E_MIN_SPACE_WIDTH, 0x80001422, "minSpaceWidth must be at least 1")                           \
    X(KOC_E_MAX_SPACE_WIDTH, 0x80001423, "maxSpaceWidth must be at least 1")                           \
    X(KOC_E_NORMALIZATION_MODE, 0x80001424, "unsupported mode (normalizationMode must be 1, 2, 4 or 8)") \
    X(KOC_E_SEGMENTATION_METHOD, 0x80001425, "segmentationMethod must be 1 or 2")                      \
    X(KOC_E_POLARITY, 0x80001426, "polarity must be 1, 2 or 4")                                        \
    X(KOC_E_REFINEMENT_MODE, 0x80001427, "refinementMode must be 1, 2 or 4")                           \
    X(KOC_E_REGULARITY_SOURCE, 0x80001428, "regularitySource must be 1, 2, 4 or 8")                    \
    X(KOC_E_PITCH_MEASURE, 0x80001429, "pitchMeasure must be 1, 2, 4 or 8")                            \
    X(KOC_E_MAX_LINE_ANGLE, 0x8000142a, "maxLineAngle must lie in [0, 45] degrees")                    \
    X(KOC_E_MAX_SKEW_ANGLE, 0x8000142b, "maxSkewAngle must lie in [0, 45] degrees")                    \
    X(KOC_E_THRESHOLD_FRACTION, 0x8000142c, "thresholdFraction must lie in [0, 1]")                    \
    X(KOC_E_BLOB_SIZE_LIMIT, 0x8000142d, "blobSizeLimit must be at least 1")                           \
    X(KOC_E_REFINEMENT_FRACTION, 0x8000142e, "refinementFraction must lie in [0, 1]")                  \
    X(KOC_E_MIN_CHAR_AREA, 0x8000142f, "minCharArea must be at least 1")                               \
    X(KOC_E_MIN_CHAR_WIDTH, 0x80001430, "minCharWidth must be at least 1")                             \
    X(KOC_E_MAX_CHAR_WIDTH, 0x80001431, "maxCharWidth must be at least 1")                             \
    X(KOC_E_MIN_CHAR_HEIGHT, 0x80001432, "minCharHeight must be at least 1")                           \
    X(KOC_E_MAX_CHAR_HEIGHT, 0x80001433, "maxCharHeight must be at least 1")                           \
    X(KOC_E_MIN_CHAR_GAP, 0x80001434, "minCharGap must be at least 0")                                 \
    X(KOC_E_MAX_INNER_GAP, 0x80001435, "maxInnerGap must be at least 0")                               \
    X(KOC_E_MIN_ASPECT_RATIO, 0x80001436, "minAspectRatio must be at least 0")                         \
    X(KOC_E_MIN_PITCH, 0x80001437, "minPitch must be at least 0")                                      \
    X(KOC_E_NO_RECTS, 0x80001438, "the vector of rectangles is empty")                                 \
    X(KOC_E_RECT_OUTSIDE_IMAGE, 0x80001439, "rectangle lies wholly outside the image")                 \
    X(KOC_E_RECT_PARTLY_OUTSIDE, 0x8000143a, "rectangle lies partly outside the image")                \
    X(KOC_E_RECT_DEGENERATE, 0x8000143b, "rectangle is degenerate")                                    \
    X(KOC_E_CHAR_WIDTH_ORDER, 0x8000143c, "minCharWidth exceeds maxCharWidth")                         \
    X(KOC_E_CHAR_HEIGHT_ORDER, 0x8000143d, "minCharHeight exceeds maxCharHeight")                      \
    X(KOC_E_SPACE_WIDTH_ORDER, 0x8000143e, "minSpaceWidth exceeds maxSpaceWidth")                      \
    X(KOC_E_RECT_SIDE_TOO_SHORT, 0x80001440, "a rectangle side is shorter than one pixel")             \
    X(KOC_E_TEXT_HEIGHT_SCALE, 0x80001443, "textHeightScale must be at least 0")                       \
    X(KOC_E_LINE_BAND_MARGIN, 0x80001444, "lineBandMargin must be at least 0")                         \
    X(KOC_E_GAP_MODE, 0x8000144a, "mode out of range (gapMode must be 1, 2 or 4)")                     \
    X(KOC_E_NUM_LINES, 0x8000144d, "numLines must be at least 1")                                      \
    X(KOC_E_USE_GRADIENT_METHOD, 0x8000145b, "useGradientMethod must be 0 or 1")                       \
    X(KOC_E_NO_INK, 0x80001601, "no text line with ink in the rectangle to measure")

KOC_EXTERN_C_BEGIN

#ifdef __cplusplus
#define KOC_RESULT_ENUMERATOR(name, value, message) name = static_cast<int32_t>(value##u),
#else
#define KOC_RESULT_ENUMERATOR(name, value, message) name = (int32_t)(value##u),
#endif
/* Named result codes. The enumerators have type int32_t in value. */
enum koc_resultCode { KOC_FOR_EACH_RESULT_CODE(KOC_RESULT_ENUMERATOR) KOC_RESULT_CODE_END_ = 1 };
#undef KOC_RESULT_ENUMERATOR

/* The code's constant name ("KOC_E_NOT_COMPUTED"), "KOC_OK" for 0, "KOC_SUCCESS"
 * for other non-negative values and "KOC_E_UNKNOWN" for codes not listed above.
 * The string is static. */
KOC_API const char* koc_resultName(int32_t code) KOC_NOEXCEPT;

/* A short English sentence for the code; never null, static storage. */
KOC_API const char* koc_resultMessage(int32_t code) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
