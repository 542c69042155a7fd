/* kip_edgelets.h: edge magnitude and direction of an 8-bit image, and row
 * edgelets: the edge pixels of a magnitude image found row by row, each with
 * its column, magnitude and gradient direction.
 *
 * Directions are 8-bit angles (256 units per turn) of the grey-level
 * gradient in image axes (x right, y down): 0 points to +x, 64 to +y, so a
 * dark-to-light step from left to right has direction 0.
 *
 * A row-edgelet set owns its edgelet store; assign and constructCopy copy it
 * deeply. One set belongs to one thread at a time. */
#ifndef KOC_KIP_EDGELETS_H
#define KOC_KIP_EDGELETS_H

#include "koc/kimg.h"
#include "koc/koc_lifecycle.h"

KOC_EXTERN_C_BEGIN

/* ---- magnitude and direction ---- */

/* Binds magnitude and direction to fresh 8-bit images over image's window
 * (with its transforms). At each pixel the 3x3 Sobel responses gx, gy give
 * magnitude = min(255, (isqrt(gx^2 + gy^2) + 2) >> 2) (a step of h grey
 * levels has magnitude h) and direction = the 8-bit angle of (gx, gy) to the
 * nearest unit (0 where both are 0). Pixels on the window's border, which
 * lack a neighbour, get magnitude 0 and direction 0. KOC_E_IMAGE_UNBOUND or
 * KOC_E_IMAGE_DEPTH (not 8-bit) refuse the image. */
KOC_API int32_t kip_edgeDetectMagAng8_8(const kimg_imageConst* image, kimg_image* magnitude,
                                        kimg_image* direction) KOC_NOEXCEPT;

/* ---- parameters ---- */

/* Edge parameters. Row-edgelet detection reads only magnitudeThreshold
 * (its floor: pixels below it are never edgelets); the other two values are
 * carried for hosts that link edge pixels into chains of their own. */
typedef struct kip_edgeletParams {
    double linkRatio;          /* 0.5 after init */
    double magnitudeThreshold; /* 8.0 after init */
    int64_t linkFlags;         /* 0 after init */
} kip_edgeletParams;

KOC_API int32_t kip_edgeletParams_init(kip_edgeletParams* params) KOC_NOEXCEPT;

/* Kernel modes of row-edgelet detection: a pixel is an edgelet when its
 * magnitude is a maximum along its gradient (strictly above the neighbour
 * ahead, at least the neighbour behind). Mode 1 also keeps a pixel whose
 * neighbour on the failing side has a gradient pointing the opposite way
 * (the two edges of a thin stroke); mode 2 does not. */
enum { KIP_ROW_EDGELET_KERNEL_OPPOSITE = 1, KIP_ROW_EDGELET_KERNEL_PLAIN = 2 };

typedef struct kip_rowEdgeletParams {
    kip_edgeletParams edgeParams;
    int32_t reserved;   /* 8 after reset; read by no operation here */
    int32_t kernelMode; /* 1 after reset */
} kip_rowEdgeletParams;

KOC_DECLARE_LIFECYCLE(kip_rowEdgeletParams)

/* ---- the edgelet set ---- */

/* One edgelet, 4 bytes: column relative to its row's origin, magnitude,
 * gradient direction (8-bit angle). */
typedef struct kip_rowEdgelet {
    uint16_t column;
    uint8_t magnitude;
    uint8_t direction;
} kip_rowEdgelet;

typedef struct kip_rowEdgeletStore_ kip_rowEdgeletStore_;       /* opaque, owned */
typedef struct kip_rowEdgeletRowSubset_ kip_rowEdgeletRowSubset_; /* opaque */

typedef struct kip_rowEdgeletSet {
    kip_rowEdgeletStore_* store;
    const kip_rowEdgeletRowSubset_* rowSubsets; /* the store's row table, refreshed by every change */
} kip_rowEdgeletSet;

KOC_DECLARE_LIFECYCLE(kip_rowEdgeletSet)

/* Detects the row edgelets of a magnitude image and its direction image
 * (both 8-bit) into set. Works over the two windows' intersection less one
 * pixel on every side (R); an intersection narrower or lower than 3 pixels
 * leaves the set untouched and succeeds. Each row of R contributes its
 * edgelets left to right with origin (R.x, row); rows without one are not
 * recorded. KOC_E_BAD_ARGUMENT for a kernel mode other than 1 or 2,
 * KOC_E_LIMIT_EXCEEDED for R wider than 65535 pixels, KOC_E_IMAGE_UNBOUND or
 * KOC_E_IMAGE_DEPTH for an unusable image; on any failure (attention check
 * and out of memory included) the set is reset. Polls the attention check
 * every 64 rows. */
KOC_API int32_t kip_edgeDetectRowEdgeletsFromMagAng8(const kimg_imageConst* magnitude, const kimg_imageConst* direction,
                                                     const kip_rowEdgeletParams* params,
                                                     kip_rowEdgeletSet* set) KOC_NOEXCEPT;

/* Keeps, in every row and in order, the edgelets whose magnitude is at least
 * threshold; rows left empty are dropped, and the count and the enclosing
 * rectangle follow what is left. */
KOC_API int32_t kip_rowEdgeletSet_removeLowMagEdgelets(kip_rowEdgeletSet* set, int32_t threshold) KOC_NOEXCEPT;

KOC_API int32_t kip_rowEdgeletSet_getNumEdgelets(const kip_rowEdgeletSet* set, int32_t* count) KOC_NOEXCEPT;
/* 1.0: the magnitudes are those of the magnitude image. */
KOC_API int32_t kip_rowEdgeletSet_getMagScale(const kip_rowEdgeletSet* set, double* scale) KOC_NOEXCEPT;
/* The processed rectangle R (null before detection). */
KOC_API int32_t kip_rowEdgeletSet_getRect(const kip_rowEdgeletSet* set, kstd_rect32* rect) KOC_NOEXCEPT;
/* The smallest rectangle holding every edgelet pixel (origin x + column,
 * origin y); null when the set has no edgelet. */
KOC_API int32_t kip_rowEdgeletSet_getEncloseImageRect(const kip_rowEdgeletSet* set, kstd_rect32* rect) KOC_NOEXCEPT;
/* Rows holding edgelets, sorted by origin y, then x. */
KOC_API int32_t kip_rowEdgeletSet_getNumRowSubsets(const kip_rowEdgeletSet* set, int32_t* count) KOC_NOEXCEPT;
/* Row index's edgelets (valid until the set changes), their count and the
 * row's origin (first = x, second = y). An index outside the rows is an
 * assertion failure. */
KOC_API int32_t kip_rowEdgeletSet_getRowSubsetMinimalConst(const kip_rowEdgeletSet* set, int32_t index,
                                                           const kip_rowEdgelet** edgelets, int32_t* count,
                                                           kstd_pair32* origin) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
