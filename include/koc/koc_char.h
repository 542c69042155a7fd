/* koc_char.h: the character record of a segmented position: its key (the
 * character code, 0x20 for a space), its polarity, views of the line images
 * around its cell, and its metrics relative to its reference point.
 *
 * The library fills the key only for spaces; naming the other characters is
 * the caller's job. Thread-safety: one record per thread. */
#ifndef KOC_CHAR_H
#define KOC_CHAR_H

#include "koc/kimg.h"
#include "koc/koc_lifecycle.h"

KOC_EXTERN_C_BEGIN

/* Polarity of text: 1 dark marks on light ground, 2 light on dark, 4 undecided. */
typedef uint32_t koc_charPolarity;
enum { KOC_POLARITY_DARK_ON_LIGHT = 1, KOC_POLARITY_LIGHT_ON_DARK = 2, KOC_POLARITY_UNDECIDED = 4 };

typedef struct koc_charKey {
    int32_t code;    /* character code; 0 unknown, 0x20 space */
    int32_t variant; /* caller-defined variant (font, class); 0 by default */
} koc_charKey;

/* Kinds of metric rectangles: client-frame rectangles are odd powers of two
 * (1 cell, 4 mark, 16 spare), pixel rectangles even ones (2, 8, 32). */
enum {
    KOC_CHAR_METRIC_CELL_CLIENT = 1,
    KOC_CHAR_METRIC_CELL_PIXEL = 2,
    KOC_CHAR_METRIC_MARK_CLIENT = 4,
    KOC_CHAR_METRIC_MARK_PIXEL = 8,
    KOC_CHAR_METRIC_SPARE_CLIENT = 16,
    KOC_CHAR_METRIC_SPARE_PIXEL = 32
};

typedef struct koc_charMetrics {
    kstd_rectD clientRects[3];  /* kinds 1, 4, 16 */
    kstd_rect32 pixelRects[3];  /* kinds 2, 8, 32 */
    uint32_t specifiedKinds;    /* bit set of the kinds marked specified */
    kmath_vect advance;         /* to the next character's reference point, client units */
    int32_t isAdvanceSpecified;
} koc_charMetrics;

typedef struct koc_char {
    koc_charKey key;
    koc_charPolarity polarity;
    kimg_imageConst sourceImage;   /* view on the rectified line image over the cell */
    kimg_imageConst workingImage;  /* view on the normalised line image over the cell */
    int32_t hasBinarizationThreshold;
    uint32_t binarizationThreshold;
    int32_t thresholdPolarityFlag;
    int32_t reserved;              /* always 0 */
    kstd_rect32 cellRect;          /* line-image pixels */
    kstd_rect32 contextRect;       /* the cell grown by a margin, clipped to the images */
    koc_charMetrics metrics;
} koc_char;

KOC_DECLARE_LIFECYCLE(koc_charKey)
KOC_API int32_t koc_charKey_compareEqual(const koc_charKey* a, const koc_charKey* b, int32_t* isEqual) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_charMetrics)
/* kind is one of the KOC_CHAR_METRIC_* values of the matching frame;
 * KOC_E_BAD_ARGUMENT otherwise. */
KOC_API int32_t koc_charMetrics_setRectD(koc_charMetrics* m, uint32_t kind, const kstd_rectD* rect) KOC_NOEXCEPT;
KOC_API int32_t koc_charMetrics_setRect32(koc_charMetrics* m, uint32_t kind, const kstd_rect32* rect) KOC_NOEXCEPT;
KOC_API int32_t koc_charMetrics_getRectD(const koc_charMetrics* m, uint32_t kind, kstd_rectD* rect) KOC_NOEXCEPT;
KOC_API int32_t koc_charMetrics_getRect32(const koc_charMetrics* m, uint32_t kind, kstd_rect32* rect) KOC_NOEXCEPT;
KOC_API int32_t koc_charMetrics_setIsRectSpecified(koc_charMetrics* m, uint32_t kind, int32_t isSpecified) KOC_NOEXCEPT;
KOC_API int32_t koc_charMetrics_setAdvance(koc_charMetrics* m, const kmath_vect* advance) KOC_NOEXCEPT;
KOC_API int32_t koc_charMetrics_setIsAdvanceSpecified(koc_charMetrics* m, int32_t isSpecified) KOC_NOEXCEPT;

KOC_DECLARE_LIFECYCLE(koc_char)
KOC_API int32_t koc_char_setKey(koc_char* c, const koc_charKey* key) KOC_NOEXCEPT;
KOC_API int32_t koc_char_getKey(const koc_char* c, koc_charKey* key) KOC_NOEXCEPT;
/* The mark rectangle in pixels when its metric is specified, else the cell
 * (the window of the source view when no cell is set either). */
KOC_API int32_t koc_char_getMarkOrImageArea(const koc_char* c, kstd_rect32* rect) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
