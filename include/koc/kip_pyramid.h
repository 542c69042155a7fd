/* kip_pyramid.h: a Gaussian pyramid of an 8-bit image.
 *
 * Level 0 is a copy of the image's window; each further level is the
 * previous one smoothed with the 5-tap binomial kernel (1 4 6 4 1) / 16 in
 * both directions and sampled at every second pixel: level pixel (i, j) sits
 * over pixel (2i, 2j) of the level below, so a level's window covers the even
 * coordinates of the window below (width w at an even x gives ceil(w / 2)).
 * Every level is stored over a padded rectangle (even origin, even sizes,
 * wide enough for the filter passes of all coarser levels) whose pixels
 * outside the level's window repeat the nearest window pixel. A level's
 * client transform is the image's, scaled by 2^level, so client coordinates
 * agree across levels.
 *
 * The pyramid owns its level vector; assign and constructCopy share the
 * levels' pixels (as image handles do). One pyramid belongs to one thread at
 * a time. */
#ifndef KOC_KIP_PYRAMID_H
#define KOC_KIP_PYRAMID_H

#include "koc/kimg.h"
#include "koc/koc_lifecycle.h"

KOC_EXTERN_C_BEGIN

/* An 8-bit image handle (the same handle, by convention of depth 1). */
typedef kimg_image kimg_image8;

KSTD_DECLARE_VECTOR_FAMILY(vector_kimg_image8, kimg_image8)

typedef struct kip_imagePyramid_ {
    kstd_vector_kimg_image8 levels; /* level 0 first */
} kip_imagePyramid_;

KOC_API int32_t kip_imagePyramid__construct(kip_imagePyramid_* pyramid) KOC_NOEXCEPT; /* no levels */
KOC_API int32_t kip_imagePyramid__constructCopy(kip_imagePyramid_* dst, const kip_imagePyramid_* src) KOC_NOEXCEPT;
KOC_API int32_t kip_imagePyramid__assign(kip_imagePyramid_* dst, const kip_imagePyramid_* src) KOC_NOEXCEPT;
KOC_API int32_t kip_imagePyramid__destruct(kip_imagePyramid_* pyramid) KOC_NOEXCEPT;
KOC_API int32_t kip_imagePyramid__clear(kip_imagePyramid_* pyramid) KOC_NOEXCEPT;

/* Builds the pyramid of image's window. The level count comes from the
 * window's smaller side n: one level, plus one for each integer halving of n
 * while n exceeds minSize, at most maxLevels (a 100 x 40 window with minimum
 * 8 gives 4). Both counts must be at least 1 (asserted). KOC_E_IMAGE_UNBOUND,
 * KOC_E_IMAGE_DEPTH (not 8-bit) and KOC_E_BAD_ARGUMENT (empty window, or a
 * padded rectangle beyond 32 bits) refuse the image; a failure later keeps
 * the levels built so far. Polls the attention check between levels. */
KOC_API int32_t kip_imagePyramid__generateGauss2(kip_imagePyramid_* pyramid, const kimg_image8* image,
                                                 int32_t maxLevels, int32_t minSize) KOC_NOEXCEPT;

/* Destination level i = source level i minus source level i + k brought back
 * to level i's scale (bilinear enlargement by 2^k), for the n - k levels that
 * have a partner (none when k >= n: an empty destination and 0). Modes: 1
 * absolute difference; 3 difference clamped at 0; 4 difference modulo 256;
 * 32 difference modulo 256 as a signed byte plus 128; 33 signed difference
 * about 128, scaled down by 127 / m when the largest difference m of the
 * level reaches 128. KOC_E_NORMALIZATION_MODE for another mode,
 * KOC_E_BAD_ARGUMENT for a negative k; destination must not be source. */
KOC_API int32_t kip_imagePyramid__generateDiffPyramid(const kip_imagePyramid_* source, int32_t k, int32_t mode,
                                                      kip_imagePyramid_* destination) KOC_NOEXCEPT;

/* The number of levels, and a handle on level index (sharing its pixels;
 * its window is the level's valid window). KOC_E_INDEX_OUT_OF_RANGE for an
 * index outside 0 .. count - 1. */
KOC_API int32_t kip_imagePyramid__getLevelCount(const kip_imagePyramid_* pyramid, int32_t* count) KOC_NOEXCEPT;
KOC_API int32_t kip_imagePyramid__getLevel(const kip_imagePyramid_* pyramid, int32_t index, kimg_image8* level) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
