/* kimg.h: grey images, run-length masks and range images.
 *
 * A kimg_image is a handle: unbound (no pixels) or bound to a reference-
 * counted pixel store of one depth (1 = 8-bit, 2 = 16-bit, 4 = 32-bit
 * pixels). Assigning a handle shares the store; assignNew* gives fresh
 * pixels. Each handle has a window (the visible pixels, in the store's pixel
 * coordinates, which need not start at 0) and a client transform between
 * pixel and client coordinates. kimg_imageConst is the same handle used
 * read-only. Handles must be constructed before use and destructed after;
 * a store is freed with its last handle. Distinct handles may be used on
 * distinct threads even when they share a store, as long as nobody writes
 * the shared pixels. */
#ifndef KOC_KIMG_H
#define KOC_KIMG_H

#include "koc/kmath.h"

KOC_EXTERN_C_BEGIN

enum { KIMG_DEPTH_8 = 1, KIMG_DEPTH_16 = 2, KIMG_DEPTH_32 = 4 };

typedef struct kimg_pixelStore_ kimg_pixelStore_; /* opaque, shared by reference */

typedef struct kimg_image {
    kimg_pixelStore_* store;           /* null when unbound */
    kstd_rect32 window;                /* visible pixels, store coordinates */
    kmath_xformLinear clientFromImage; /* pixel -> client */
    kmath_xformLinear imageFromClient; /* client -> pixel */
    int32_t isLinearXform;             /* 1 when the two transforms above hold */
} kimg_image;

typedef kimg_image kimg_imageConst;

/* Direct pixel access to a window: pixel (i, j) of the window is at
 * (uint8_t*)pixels + (j * pitch + i) * depth. */
typedef struct kimg_window {
    void* pixels;
    int32_t width;
    int32_t height;
    intptr_t pitch; /* in pixels */
    int32_t depth;
    int32_t x; /* the window's origin in the image's pixel coordinates */
    int32_t y;
} kimg_window;

typedef struct kimg_windowConst {
    const void* pixels;
    int32_t width;
    int32_t height;
    intptr_t pitch;
    int32_t depth;
    int32_t x;
    int32_t y;
} kimg_windowConst;

/* ---- handle lifecycle ---- */
KOC_API int32_t kimg_image_construct(kimg_image* image) KOC_NOEXCEPT;       /* unbound, identity transform */
KOC_API int32_t kimg_image_constructUnbound(kimg_image* image) KOC_NOEXCEPT;
/* On failure the handle is still constructed, unbound. */
KOC_API int32_t kimg_image_constructRect(kimg_image* image, int32_t depth, const kstd_rect32* rect) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_constructCopy(kimg_image* image, const kimg_image* src) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_destruct(kimg_image* image) KOC_NOEXCEPT;
/* dst shows src's pixels (shared), window and transforms. */
KOC_API int32_t kimg_image_assign(kimg_image* dst, const kimg_image* src) KOC_NOEXCEPT;
/* Fresh zeroed pixels over (0, 0, width, height) or over rect; transforms kept.
 * KOC_E_BAD_ARGUMENT for a depth other than 1, 2, 4 or a negative size; on
 * any failure the handle is unchanged. */
KOC_API int32_t kimg_image_assignNew(kimg_image* image, int32_t depth, int32_t width, int32_t height) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_assignNewRect(kimg_image* image, int32_t depth, const kstd_rect32* rect) KOC_NOEXCEPT;
/* Binds the handle, without copying, to the caller's pixels: width x height
 * pixels of the given depth, row y starting at (uint8_t*)pixels + y * pitch
 * * depth (pitch in pixels, >= width), window (0, 0, width, height),
 * transforms kept. The pixels stay the caller's: they must outlive every
 * handle sharing them (copies made with assign included), later writes to
 * them are seen through the handle, and the library writes them only where
 * a call is documented to write its image. KOC_E_BAD_ARGUMENT for a depth
 * other than 1, 2, 4, a negative size, pitch < width, or a null or
 * misaligned pointer of a non-empty image; the handle is unchanged then. */
KOC_API int32_t kimg_image_assignExternal(kimg_image* image, int32_t depth, void* pixels, int32_t width,
                                          int32_t height, intptr_t pitch) KOC_NOEXCEPT;
/* Releases the pixels; window becomes null, transforms kept. */
KOC_API int32_t kimg_image_assignUnbound(kimg_image* image) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_setUnbound(kimg_image* image) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_getIsBound(const kimg_image* image, int32_t* isBound) KOC_NOEXCEPT;
/* 0 for an unbound image. */
KOC_API int32_t kimg_image_getDepth(const kimg_image* image, int32_t* depth) KOC_NOEXCEPT;
/* Copies the pixels of src's window into fresh pixels of dst (same window and transforms). */
KOC_API int32_t kimg_image_assignCopy(kimg_image* dst, const kimg_image* src) KOC_NOEXCEPT;

/* ---- windows and transforms ---- */
KOC_API int32_t kimg_image_getWindow(const kimg_image* image, kstd_rect32* rect) KOC_NOEXCEPT;
/* Sets the visible window without copying: any rect inside the store, so a
 * narrowed window may be widened again. KOC_E_WINDOW_OUTSIDE_IMAGE when rect
 * is not inside the store, KOC_E_IMAGE_UNBOUND for an unbound image; the
 * window is unchanged then. flags must be 0. */
KOC_API int32_t kimg_image_setWindowRect(kimg_image* image, const kstd_rect32* rect, int32_t flags) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_getIsLinearXform(const kimg_image* image, int32_t* isLinear) KOC_NOEXCEPT;
/* KOC_E_NOT_LINEAR_XFORM when the image has no linear transform. */
KOC_API int32_t kimg_image_getLinearClientFromImageXform(const kimg_image* image, kmath_xformLinear* xform) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_getLinearImageFromClientXform(const kimg_image* image, kmath_xformLinear* xform) KOC_NOEXCEPT;
/* Set one direction; the other becomes its inverse (KOC_E_SINGULAR_XFORM if none). */
KOC_API int32_t kimg_image_setLinearClientFromImageXform(kimg_image* image, const kmath_xformLinear* xform) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_setLinearImageFromClientXform(kimg_image* image, const kmath_xformLinear* xform) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_setImageFromClientXformIdentity(kimg_image* image) KOC_NOEXCEPT;
/* Marks the client transform as not linear (a host's non-linear calibration). */
KOC_API int32_t kimg_image_setNonLinearXform(kimg_image* image) KOC_NOEXCEPT;
KOC_API int32_t kimg_image_copyXforms(kimg_image* dst, const kimg_image* src) KOC_NOEXCEPT;

/* Const-view spellings used by the pipeline; they act on the same handle. */
KOC_API int32_t kimg_imageConst_getLinearClientFromImageXform(const kimg_imageConst* image, kmath_xformLinear* xform) KOC_NOEXCEPT;
KOC_API int32_t kimg_imageConst_getLinearImageFromClientXform(const kimg_imageConst* image, kmath_xformLinear* xform) KOC_NOEXCEPT;
KOC_API int32_t kimg_imageConst_setLinearImageFromClientXform(kimg_imageConst* image, const kmath_xformLinear* xform) KOC_NOEXCEPT;
KOC_API int32_t kimg_imageConst_setWindowRect(kimg_imageConst* image, const kstd_rect32* rect, int32_t flags) KOC_NOEXCEPT;

/* ---- pixel access ---- */
/* KOC_E_IMAGE_UNBOUND for an unbound image. */
KOC_API int32_t kimg_window_init(kimg_window* window, kimg_image* image) KOC_NOEXCEPT;
KOC_API int32_t kimg_windowConst_init(kimg_windowConst* window, const kimg_image* image) KOC_NOEXCEPT;
/* A sub-rectangle (image pixel coordinates) of the image's window;
 * KOC_E_WINDOW_OUTSIDE_IMAGE when it does not fit. flags must be 0. */
KOC_API int32_t kimg_window_initWindow(kimg_window* window, kimg_image* image, const kstd_rect32* rect, int32_t flags) KOC_NOEXCEPT;
KOC_API int32_t kimg_windowConst_initWindow(kimg_windowConst* window, const kimg_image* image, const kstd_rect32* rect, int32_t flags) KOC_NOEXCEPT;
/* Narrows a pixel window to (x, y, width, height) relative to its own origin. */
KOC_API int32_t kimg_window_window(kimg_window* window, int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags) KOC_NOEXCEPT;
KOC_API int32_t kimg_windowConst_window(kimg_windowConst* window, int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags) KOC_NOEXCEPT;
KOC_API int32_t kimg_windowConst_windowRect(kimg_windowConst* window, const kstd_rect32* rect) KOC_NOEXCEPT; /* rect in image coordinates */
KOC_API int32_t kimg_windowConst_getWindow(const kimg_windowConst* window, kstd_rect32* rect) KOC_NOEXCEPT;

/* ---- run-length images ---- */
/* A run of set pixels x .. x+length-1 on one row. */
typedef struct kimg_run {
    int32_t x;
    int32_t length;
} kimg_run;

typedef struct kimg_rleStore_ kimg_rleStore_; /* opaque, owned */

/* Binary image as runs per row over a bounding rectangle; assign deep-copies. */
typedef struct kimg_imageRle {
    kimg_rleStore_* store; /* null when unbound (empty) */
} kimg_imageRle;

KOC_API int32_t kimg_imageRle_construct(kimg_imageRle* rle) KOC_NOEXCEPT;
KOC_API int32_t kimg_imageRle_destruct(kimg_imageRle* rle) KOC_NOEXCEPT;
KOC_API int32_t kimg_imageRle_assign(kimg_imageRle* dst, const kimg_imageRle* src) KOC_NOEXCEPT;
KOC_API int32_t kimg_imageRle_setUnbound(kimg_imageRle* rle) KOC_NOEXCEPT;
KOC_API int32_t kimg_imageRle_getIsBound(const kimg_imageRle* rle, int32_t* isBound) KOC_NOEXCEPT;
/* Bound, with no runs, over rect (rows rect.y .. rect.y+height-1). */
KOC_API int32_t kimg_imageRle_assignEmpty(kimg_imageRle* rle, const kstd_rect32* rect) KOC_NOEXCEPT;
/* Appends a run to row y (image coordinates); rows may come in any order,
 * runs of a row must come left to right without overlap, inside the rect,
 * length > 0; KOC_E_BAD_ARGUMENT otherwise (also when unbound). A run that
 * starts where the row's last run ends extends it, so runs stay maximal. */
KOC_API int32_t kimg_imageRle_addRun(kimg_imageRle* rle, int32_t y, int32_t x, int32_t length) KOC_NOEXCEPT;
/* The runs: rowStart[r] .. rowStart[r+1]-1 index the runs of row rect.y + r
 * (rowStart has rect.height + 1 entries). Pointers stay valid until the
 * image changes. An unbound image reads as empty: null rect, rowStart {0}. */
KOC_API int32_t kimg_imageRle_getEncoding(const kimg_imageRle* rle, kstd_rect32* rect, const int32_t** rowStart, const kimg_run** runs) KOC_NOEXCEPT;
/* Runs of the non-zero pixels of an 8-bit image's window. */
KOC_API int32_t kimg_imageRle_initFromImage8(kimg_imageRle* rle, const kimg_image* image) KOC_NOEXCEPT;
/* Renders into a fresh 8-bit image over the rle's rectangle: value inside runs,
 * 0 elsewhere; the image's transforms are kept. An unbound rle unbinds image. */
KOC_API int32_t kimg_imageRle_render8(const kimg_imageRle* rle, uint8_t value, kimg_image* image) KOC_NOEXCEPT;

/* ---- masks, colour and range images ---- */
/* An 8-bit image whose non-zero pixels are valid. */
typedef struct kimg_maskImage {
    kimg_image image8;
} kimg_maskImage;

KOC_API int32_t kimg_maskImage_construct(kimg_maskImage* mask) KOC_NOEXCEPT;
KOC_API int32_t kimg_maskImage_destruct(kimg_maskImage* mask) KOC_NOEXCEPT;
KOC_API int32_t kimg_maskImage_assign(kimg_maskImage* dst, const kimg_maskImage* src) KOC_NOEXCEPT;
KOC_API int32_t kimg_maskImage_getImage8(const kimg_maskImage* mask, kimg_image* image8) KOC_NOEXCEPT;

typedef struct kimg_image3Plane8 {
    kimg_image planes[3];
} kimg_image3Plane8;

KOC_API int32_t kimg_image3Plane8_construct(kimg_image3Plane8* image) KOC_NOEXCEPT;
KOC_API int32_t kimg_image3Plane8_destruct(kimg_image3Plane8* image) KOC_NOEXCEPT;
KOC_API int32_t kimg_image3Plane8_assignNewRect(kimg_image3Plane8* image, const kstd_rect32* rect) KOC_NOEXCEPT;

/* A 16-bit image with an 8-bit mask of valid pixels (the mask may be unbound:
 * every pixel valid). The two share window and transforms. */
typedef struct k3img_rangeImage16 {
    kimg_image image;
    kimg_image mask;
} k3img_rangeImage16;

typedef k3img_rangeImage16 k3img_rangeImage16Const;

KOC_API int32_t k3img_rangeImage16_construct(k3img_rangeImage16* range) KOC_NOEXCEPT;
KOC_API int32_t k3img_rangeImage16_destruct(k3img_rangeImage16* range) KOC_NOEXCEPT;
KOC_API int32_t k3img_rangeImage16_assign(k3img_rangeImage16* dst, const k3img_rangeImage16* src) KOC_NOEXCEPT;
/* Binds to a 16-bit image and an 8-bit mask (or an unbound or null mask) of
 * the same window; the mask takes the image's transforms. KOC_E_IMAGE_UNBOUND,
 * KOC_E_IMAGE_DEPTH or KOC_E_WINDOW_OUTSIDE_IMAGE otherwise. */
KOC_API int32_t k3img_rangeImage16_init(k3img_rangeImage16* range, const kimg_image* image16, const kimg_image* mask8) KOC_NOEXCEPT;
KOC_API int32_t k3img_rangeImage16Const_getImage(const k3img_rangeImage16Const* range, kimg_image* image16) KOC_NOEXCEPT;
KOC_API int32_t k3img_rangeImage16Const_getMask(const k3img_rangeImage16Const* range, kimg_image* mask8) KOC_NOEXCEPT;
KOC_API int32_t k3img_rangeImage16Const_setWindowRect(k3img_rangeImage16Const* range, const kstd_rect32* rect) KOC_NOEXCEPT;
/* Constructs image16 as a handle on the range image's 16-bit pixels. */
KOC_API int32_t k3img_rangeImage16Const_constructImage16(const k3img_rangeImage16Const* range, kimg_image* image16) KOC_NOEXCEPT;

/* ---- pixel operations the records need ---- */
/* Every pixel of src's window becomes below when it is less than threshold,
 * else atOrAbove, in fresh 8-bit pixels of dst over the same window and
 * transforms. dst may be src. */
KOC_API int32_t kip_pelMapHardThreshold8(const kimg_image* src, uint8_t threshold, uint8_t below, uint8_t atOrAbove, kimg_image* dst) KOC_NOEXCEPT;
/* dst gets fresh pixels holding a copy of src's whole window, with its window
 * and transforms (unbound stays unbound); KOC_E_IMAGE_DEPTH unless 8-bit. */
KOC_API int32_t kip_pelAssignCopyEntireConst8(kimg_image* dst, const kimg_image* src) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
