/* kip_thresh.h: within-group-variance thresholds of 8-bit images and the
 * 256-entry pixel maps built from them: a hard map that binarises at the
 * threshold, and a soft map that stretches contrast around it (0 at the
 * lower class mean, 128 at the threshold, 255 at the upper class mean).
 *
 * The threshold splits the occupied grey levels into a lower class (below
 * it) and an upper class (at or above it) so that the within-class variance
 * is least; when several cuts give the same two classes the threshold lies in
 * the middle of the empty levels between them (levels 0 and 255 give 128).
 * Fewer than two occupied levels (an empty histogram, a constant image) find
 * no threshold: the soft map is then the identity and the hard map all 255
 * (all 0 inverted). All functions are pure and thread-safe. */
#ifndef KOC_KIP_THRESH_H
#define KOC_KIP_THRESH_H

#include "koc/kimg.h"

KOC_EXTERN_C_BEGIN

typedef struct kip_threshParams {
    int32_t method;            /* 1: within-group variance, the only method */
    int32_t computeClassStats; /* 1: fill the class weights and means of the result */
} kip_threshParams;

typedef struct kip_threshResult {
    int32_t isFound;       /* 0: fewer than two occupied levels; nothing else is set */
    int32_t threshold;     /* first level of the upper class */
    int32_t hasClassStats; /* 1 when the four class values below hold */
    double lowerWeight;    /* share of the pixels in the lower class */
    double lowerMean;      /* its mean grey level */
    double upperWeight;
    double upperMean;
} kip_threshResult;

/* method 1, computeClassStats 0. */
KOC_API int32_t kip_threshParams_init(kip_threshParams* params) KOC_NOEXCEPT;
KOC_API int32_t kip_threshResult_construct(kip_threshResult* result) KOC_NOEXCEPT; /* not found */
KOC_API int32_t kip_threshResult_destruct(kip_threshResult* result) KOC_NOEXCEPT;

/* Threshold of histogram (count entries) over the levels first .. second - 1;
 * the other entries take no part. KOC_E_BAD_ARGUMENT unless
 * 0 <= first < second <= count <= 256 and method is 1. result is reset first. */
KOC_API int32_t kip_threshComputeWGVThresholdFromHistogram(const uint32_t* histogram, int32_t count, int32_t first,
                                                           int32_t second, const kip_threshParams* params,
                                                           kip_threshResult* result) KOC_NOEXCEPT;

/* Maps from a result. Hard: entries below the threshold's low byte get 0 and
 * the rest 255 (swapped when invert is non-zero). Soft: see above;
 * KOC_E_BAD_ARGUMENT for a found threshold outside 0 .. 255 or class means
 * that do not round into 0 .. 255. */
KOC_API int32_t kip_threshComputeHardMapFromResult(const kip_threshResult* result, int32_t invert, uint8_t* map) KOC_NOEXCEPT;
KOC_API int32_t kip_threshComputeSoftMapFromResult(const kip_threshResult* result, uint8_t* map) KOC_NOEXCEPT;
/* Entries 0 .. threshold - 1 get low, threshold .. 255 high. */
KOC_API int32_t kip_threshCreateHardPelMap8(uint8_t* map, uint8_t threshold, uint8_t low, uint8_t high) KOC_NOEXCEPT;

/* Threshold and map in one step, from a histogram (arguments as above) or
 * from the histogram of an 8-bit image's window. */
KOC_API int32_t kip_threshComputeWGVSoftMapFromHistogram(const uint32_t* histogram, int32_t count, int32_t first,
                                                         int32_t second, uint8_t* map) KOC_NOEXCEPT;
KOC_API int32_t kip_threshComputeWGVHardMapFromHistogram(const uint32_t* histogram, int32_t count, int32_t first,
                                                         int32_t second, int32_t invert, uint8_t* map) KOC_NOEXCEPT;
KOC_API int32_t kip_threshComputeWGVSoftMapFromImage(const kimg_image* image8, uint8_t* map) KOC_NOEXCEPT;
KOC_API int32_t kip_threshComputeWGVHardMapFromImage(const kimg_image* image8, int32_t invert, uint8_t* map) KOC_NOEXCEPT;

/* The image's own map applied to it: fresh pixels in dst over src's window,
 * with its transforms; dst may be src. KOC_E_IMAGE_UNBOUND, KOC_E_IMAGE_DEPTH
 * for an unbound or non-8-bit source. */
KOC_API int32_t kip_threshWGVSoftPelMap8(const kimg_image* src8, kimg_image* dst8) KOC_NOEXCEPT;
KOC_API int32_t kip_threshWGVHardPelMap8(const kimg_image* src8, int32_t invert, kimg_image* dst8) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
