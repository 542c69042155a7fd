// image.cpp: image handles over shared, reference-counted pixel stores;
// windows, client transforms, pixel windows, masks, three-plane and range
// images, and the two pixel maps the records need.
//
// Every operation that produces pixels builds them in a fresh store first
// and only then rebinds the destination, so a failure leaves the
// destination as it was and a destination that shares its store with the
// source (or is the source) never sees its pixels overwritten.
#include <cstring>
#include <limits>
#include <type_traits>

#include "services/guard.hpp"
#include "services/image_store.hpp"

namespace koc::services::image {

namespace {

constexpr intptr_t kRowAlignment = 16;
constexpr intptr_t kHeaderBytes =
    (static_cast<intptr_t>(sizeof(kimg_pixelStore_)) + kRowAlignment - 1) / kRowAlignment * kRowAlignment;

}  // namespace

int32_t createStore(int32_t depth, const kstd_rect32& rect, kimg_pixelStore_** store, StoreFill fill) noexcept
{
    *store = nullptr;
    if (depth != KIMG_DEPTH_8 && depth != KIMG_DEPTH_16 && depth != KIMG_DEPTH_32) {
        return KOC_E_BAD_ARGUMENT;
    }
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    if (rect.width < 0 || rect.height < 0 || int64_t{rect.x} + rect.width > kMax ||
        int64_t{rect.y} + rect.height > kMax) {
        return KOC_E_BAD_ARGUMENT;
    }
    const int64_t rowBytes = (int64_t{rect.width} * depth + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    const int64_t limit = std::numeric_limits<intptr_t>::max() - kHeaderBytes;
    if (rect.height != 0 && rowBytes > limit / rect.height) {
        return KOC_E_OUT_OF_MEMORY;
    }
    const intptr_t pixelBytes = static_cast<intptr_t>(rowBytes * rect.height);
    void* block = nullptr;
    const int32_t rc = ksys_memory_alloc_internal(kHeaderBytes + pixelBytes, &block);
    if (rc < 0) {
        return rc;
    }
    auto* s = ::new (block) kimg_pixelStore_;
    s->depth = depth;
    s->rect = rect;
    s->pitch = static_cast<intptr_t>(rowBytes / depth);
    s->pixels = static_cast<uint8_t*>(block) + kHeaderBytes;
    if (fill == StoreFill::Zeroed) {
        std::memset(s->pixels, 0, static_cast<size_t>(pixelBytes));
    } else if (const int64_t used = int64_t{rect.width} * depth; used < rowBytes) {
        // Vector kernels may read a row's padding; it reads as zero either way.
        for (int32_t j = 0; j < rect.height; ++j) {
            std::memset(s->pixels + j * rowBytes + used, 0, static_cast<size_t>(rowBytes - used));
        }
    }
    *store = s;
    return 0;
}

int32_t createExternalStore(int32_t depth, void* pixels, int32_t width, int32_t height, intptr_t pitch,
                            kimg_pixelStore_** store) noexcept
{
    *store = nullptr;
    if (depth != KIMG_DEPTH_8 && depth != KIMG_DEPTH_16 && depth != KIMG_DEPTH_32) {
        return KOC_E_BAD_ARGUMENT;
    }
    // Rows are read at pixels + y * pitch * depth up to the last row's end,
    // so that span must be addressable; pixels of a deeper image must sit on
    // their own alignment, as the kernels read them as whole words.
    if (width < 0 || height < 0 || pitch < width ||
        (width > 0 && height > 0 &&
         (pixels == nullptr || reinterpret_cast<uintptr_t>(pixels) % static_cast<uintptr_t>(depth) != 0 ||
          pitch > std::numeric_limits<intptr_t>::max() / depth / height))) {
        return KOC_E_BAD_ARGUMENT;
    }
    void* block = nullptr;
    const int32_t rc = ksys_memory_alloc_internal(kHeaderBytes, &block);
    if (rc < 0) {
        return rc;
    }
    // Only the header is ours: releasing the last handle frees it and leaves
    // the caller's pixels alone.
    auto* s = ::new (block) kimg_pixelStore_;
    s->depth = depth;
    s->rect = kstd_rect32{0, 0, width, height};
    s->pitch = pitch;
    s->pixels = static_cast<uint8_t*>(pixels);
    *store = s;
    return 0;
}

void retainStore(kimg_pixelStore_* store) noexcept
{
    if (store != nullptr) {
        store->references.fetch_add(1, std::memory_order_relaxed);
    }
}

void releaseStore(kimg_pixelStore_* store) noexcept
{
    // acq_rel: the last owner must see every other owner's writes before it
    // frees the block.
    if (store != nullptr && store->references.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        store->~kimg_pixelStore_();
        void* block = store;
        ksys_memory_free_internal(&block);
    }
}

}  // namespace koc::services::image

namespace {

using namespace koc::services::image;

constexpr kmath_xformLinear kIdentity{{1.0, 0.0, 0.0, 1.0}, {0.0, 0.0}};

// The transform part of a handle, saved before the handle is rebound (the
// destination may be the source).
struct Xforms {
    kmath_xformLinear clientFromImage;
    kmath_xformLinear imageFromClient;
    int32_t isLinear;
};

Xforms xformsOf(const kimg_image* image) noexcept
{
    return {image->clientFromImage, image->imageFromClient, image->isLinearXform};
}

void setXforms(kimg_image* image, const Xforms& x) noexcept
{
    image->clientFromImage = x.clientFromImage;
    image->imageFromClient = x.imageFromClient;
    image->isLinearXform = x.isLinear;
}

void constructHandle(kimg_image* image) noexcept
{
    image->store = nullptr;
    image->window = kstd_rect32{0, 0, 0, 0};
    setXforms(image, {kIdentity, kIdentity, 1});
}

// Takes over one reference to store (null unbinds) and shows it whole.
void rebind(kimg_image* image, kimg_pixelStore_* store) noexcept
{
    releaseStore(image->store);
    image->store = store;
    image->window = store != nullptr ? store->rect : kstd_rect32{0, 0, 0, 0};
}

void shareInto(kimg_image* dst, const kimg_image* src) noexcept
{
    if (dst == src) {
        return;
    }
    retainStore(src->store);  // before the release: both may hold the same store
    releaseStore(dst->store);
    *dst = *src;
}

// inner inside outer, both well formed (non-negative sizes), in 64 bits so
// no edge can overflow.
bool rectInside(const kstd_rect32& outer, const kstd_rect32& inner) noexcept
{
    return inner.x >= outer.x && inner.y >= outer.y &&
           int64_t{inner.x} + inner.width <= int64_t{outer.x} + outer.width &&
           int64_t{inner.y} + inner.height <= int64_t{outer.y} + outer.height;
}

// One notion of "singular" for the whole library: the geometry service's.
int32_t invert(const kmath_xformLinear& x, kmath_xformLinear* inverse) noexcept
{
    return kmath_xformLinear_getInverse(&x, inverse);
}

// The window's first pixel; an empty window points at the store's first
// pixel so the address never leaves the block.
uint8_t* windowAddress(const kimg_pixelStore_* store, const kstd_rect32& rect) noexcept
{
    if (rect.width == 0 || rect.height == 0) {
        return store->pixels;
    }
    return pixelAddress(store, rect.x, rect.y);
}

template <class Window>
int32_t fillWindow(Window* w, const kimg_image* image, const kstd_rect32& rect) noexcept
{
    const kimg_pixelStore_* s = image->store;
    w->pixels = windowAddress(s, rect);
    w->width = rect.width;
    w->height = rect.height;
    w->pitch = s->pitch;
    w->depth = s->depth;
    w->x = rect.x;
    w->y = rect.y;
    return 0;
}

template <class Window>
int32_t initWindowRect(Window* w, const kimg_image* image, const kstd_rect32* rect, int32_t flags) noexcept
{
    if (flags != 0 || rect->width < 0 || rect->height < 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    if (image->store == nullptr) {
        return KOC_E_IMAGE_UNBOUND;
    }
    if (!rectInside(image->window, *rect)) {
        return KOC_E_WINDOW_OUTSIDE_IMAGE;
    }
    return fillWindow(w, image, *rect);
}

template <class Window>
int32_t narrowWindow(Window* w, int64_t x, int64_t y, int32_t width, int32_t height, int32_t flags) noexcept
{
    if (flags != 0 || width < 0 || height < 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    if (x < 0 || y < 0 || x + width > w->width || y + height > w->height) {
        return KOC_E_WINDOW_OUTSIDE_IMAGE;
    }
    if (width != 0 && height != 0) {
        using Byte = std::conditional_t<std::is_const_v<std::remove_pointer_t<decltype(w->pixels)>>, const uint8_t, uint8_t>;
        w->pixels = static_cast<Byte*>(w->pixels) + (y * w->pitch + x) * w->depth;
    }
    w->x = static_cast<int32_t>(w->x + x);
    w->y = static_cast<int32_t>(w->y + y);
    w->width = width;
    w->height = height;
    return 0;
}

// A fresh store holding a copy of the image's window.
int32_t copyWindow(const kimg_image* src, kimg_pixelStore_** out) noexcept
{
    const kimg_pixelStore_* s = src->store;
    const kstd_rect32 r = src->window;
    kimg_pixelStore_* fresh = nullptr;
    KOC_RETURN_IF_FAILED(createStore(s->depth, r, &fresh, StoreFill::PaddingOnly));  // every row copied below
    const size_t rowBytes = static_cast<size_t>(r.width) * static_cast<size_t>(s->depth);
    if (rowBytes != 0) {
        const uint8_t* from = pixelAddress(s, r.x, r.y);
        uint8_t* to = fresh->pixels;
        const intptr_t fromStep = s->pitch * s->depth;
        const intptr_t toStep = fresh->pitch * fresh->depth;
        for (int32_t j = 0; j < r.height; ++j, from += fromStep, to += toStep) {
            std::memcpy(to, from, rowBytes);
        }
    }
    *out = fresh;
    return 0;
}

// dst shows store (one reference taken over) with src's window and
// transforms; src may be dst.
void bindLike(kimg_image* dst, kimg_pixelStore_* store, const kimg_image* src) noexcept
{
    const Xforms x = xformsOf(src);
    rebind(dst, store);
    setXforms(dst, x);
}

int32_t assignCopyOf(kimg_image* dst, const kimg_image* src) noexcept
{
    kimg_pixelStore_* fresh = nullptr;
    if (src->store != nullptr) {
        KOC_RETURN_IF_FAILED(copyWindow(src, &fresh));
    }
    bindLike(dst, fresh, src);
    return 0;
}

}  // namespace

extern "C" {

/* ---- handle lifecycle ---- */

KOC_API int32_t kimg_image_construct(kimg_image* image) noexcept
{
    KOC_ASSERT(image != nullptr);
    constructHandle(image);
    return 0;
}

KOC_API int32_t kimg_image_constructUnbound(kimg_image* image) noexcept
{
    return kimg_image_construct(image);
}

KOC_API int32_t kimg_image_constructRect(kimg_image* image, int32_t depth, const kstd_rect32* rect) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(rect != nullptr);
    constructHandle(image);
    return kimg_image_assignNewRect(image, depth, rect);
}

KOC_API int32_t kimg_image_constructCopy(kimg_image* image, const kimg_image* src) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(src != nullptr);
    retainStore(src->store);
    *image = *src;
    return 0;
}

KOC_API int32_t kimg_image_destruct(kimg_image* image) noexcept
{
    KOC_ASSERT(image != nullptr);
    rebind(image, nullptr);
    return 0;
}

KOC_API int32_t kimg_image_assign(kimg_image* dst, const kimg_image* src) noexcept
{
    KOC_ASSERT(dst != nullptr);
    KOC_ASSERT(src != nullptr);
    shareInto(dst, src);
    return 0;
}

KOC_API int32_t kimg_image_assignNew(kimg_image* image, int32_t depth, int32_t width, int32_t height) noexcept
{
    const kstd_rect32 rect{0, 0, width, height};
    return kimg_image_assignNewRect(image, depth, &rect);
}

KOC_API int32_t kimg_image_assignNewRect(kimg_image* image, int32_t depth, const kstd_rect32* rect) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(rect != nullptr);
    kimg_pixelStore_* fresh = nullptr;
    KOC_RETURN_IF_FAILED(createStore(depth, *rect, &fresh));
    rebind(image, fresh);
    return 0;
}

}  // extern "C"

namespace koc::services::image {

int32_t assignNewForOverwrite(kimg_image* image, int32_t depth, const kstd_rect32& rect) noexcept
{
    KOC_ASSERT(image != nullptr);
    kimg_pixelStore_* fresh = nullptr;
    KOC_RETURN_IF_FAILED(createStore(depth, rect, &fresh, StoreFill::PaddingOnly));
    rebind(image, fresh);
    return 0;
}

}  // namespace koc::services::image

extern "C" {

KOC_API int32_t kimg_image_assignExternal(kimg_image* image, int32_t depth, void* pixels, int32_t width,
                                          int32_t height, intptr_t pitch) noexcept
{
    KOC_ASSERT(image != nullptr);
    kimg_pixelStore_* fresh = nullptr;
    KOC_RETURN_IF_FAILED(createExternalStore(depth, pixels, width, height, pitch, &fresh));
    rebind(image, fresh);
    return 0;
}

KOC_API int32_t kimg_image_assignUnbound(kimg_image* image) noexcept
{
    KOC_ASSERT(image != nullptr);
    rebind(image, nullptr);
    return 0;
}

KOC_API int32_t kimg_image_setUnbound(kimg_image* image) noexcept
{
    return kimg_image_assignUnbound(image);
}

KOC_API int32_t kimg_image_getIsBound(const kimg_image* image, int32_t* isBound) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(isBound != nullptr);
    *isBound = image->store != nullptr ? 1 : 0;
    return 0;
}

KOC_API int32_t kimg_image_getDepth(const kimg_image* image, int32_t* depth) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(depth != nullptr);
    *depth = image->store != nullptr ? image->store->depth : 0;
    return 0;
}

KOC_API int32_t kimg_image_assignCopy(kimg_image* dst, const kimg_image* src) noexcept
{
    KOC_ASSERT(dst != nullptr);
    KOC_ASSERT(src != nullptr);
    return assignCopyOf(dst, src);
}

/* ---- windows and transforms ---- */

KOC_API int32_t kimg_image_getWindow(const kimg_image* image, kstd_rect32* rect) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(rect != nullptr);
    *rect = image->window;
    return 0;
}

KOC_API int32_t kimg_image_setWindowRect(kimg_image* image, const kstd_rect32* rect, int32_t flags) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(rect != nullptr);
    if (flags != 0 || rect->width < 0 || rect->height < 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    if (image->store == nullptr) {
        return KOC_E_IMAGE_UNBOUND;
    }
    if (!rectInside(image->store->rect, *rect)) {
        return KOC_E_WINDOW_OUTSIDE_IMAGE;
    }
    image->window = *rect;
    return 0;
}

KOC_API int32_t kimg_image_getIsLinearXform(const kimg_image* image, int32_t* isLinear) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(isLinear != nullptr);
    *isLinear = image->isLinearXform;
    return 0;
}

KOC_API int32_t kimg_image_getLinearClientFromImageXform(const kimg_image* image, kmath_xformLinear* xform) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(xform != nullptr);
    if (image->isLinearXform == 0) {
        return KOC_E_NOT_LINEAR_XFORM;
    }
    *xform = image->clientFromImage;
    return 0;
}

KOC_API int32_t kimg_image_getLinearImageFromClientXform(const kimg_image* image, kmath_xformLinear* xform) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(xform != nullptr);
    if (image->isLinearXform == 0) {
        return KOC_E_NOT_LINEAR_XFORM;
    }
    *xform = image->imageFromClient;
    return 0;
}

KOC_API int32_t kimg_image_setLinearClientFromImageXform(kimg_image* image, const kmath_xformLinear* xform) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(xform != nullptr);
    kmath_xformLinear inverse;
    KOC_RETURN_IF_FAILED(invert(*xform, &inverse));
    setXforms(image, {*xform, inverse, 1});
    return 0;
}

KOC_API int32_t kimg_image_setLinearImageFromClientXform(kimg_image* image, const kmath_xformLinear* xform) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(xform != nullptr);
    kmath_xformLinear inverse;
    KOC_RETURN_IF_FAILED(invert(*xform, &inverse));
    setXforms(image, {inverse, *xform, 1});
    return 0;
}

KOC_API int32_t kimg_image_setImageFromClientXformIdentity(kimg_image* image) noexcept
{
    KOC_ASSERT(image != nullptr);
    setXforms(image, {kIdentity, kIdentity, 1});
    return 0;
}

KOC_API int32_t kimg_image_setNonLinearXform(kimg_image* image) noexcept
{
    KOC_ASSERT(image != nullptr);
    image->isLinearXform = 0;
    return 0;
}

KOC_API int32_t kimg_image_copyXforms(kimg_image* dst, const kimg_image* src) noexcept
{
    KOC_ASSERT(dst != nullptr);
    KOC_ASSERT(src != nullptr);
    setXforms(dst, xformsOf(src));
    return 0;
}

KOC_API int32_t kimg_imageConst_getLinearClientFromImageXform(const kimg_imageConst* image, kmath_xformLinear* xform) noexcept
{
    return kimg_image_getLinearClientFromImageXform(image, xform);
}

KOC_API int32_t kimg_imageConst_getLinearImageFromClientXform(const kimg_imageConst* image, kmath_xformLinear* xform) noexcept
{
    return kimg_image_getLinearImageFromClientXform(image, xform);
}

KOC_API int32_t kimg_imageConst_setLinearImageFromClientXform(kimg_imageConst* image, const kmath_xformLinear* xform) noexcept
{
    return kimg_image_setLinearImageFromClientXform(image, xform);
}

KOC_API int32_t kimg_imageConst_setWindowRect(kimg_imageConst* image, const kstd_rect32* rect, int32_t flags) noexcept
{
    return kimg_image_setWindowRect(image, rect, flags);
}

/* ---- pixel access ---- */

KOC_API int32_t kimg_window_init(kimg_window* window, kimg_image* image) noexcept
{
    KOC_ASSERT(window != nullptr);
    KOC_ASSERT(image != nullptr);
    if (image->store == nullptr) {
        return KOC_E_IMAGE_UNBOUND;
    }
    return fillWindow(window, image, image->window);
}

KOC_API int32_t kimg_windowConst_init(kimg_windowConst* window, const kimg_image* image) noexcept
{
    KOC_ASSERT(window != nullptr);
    KOC_ASSERT(image != nullptr);
    if (image->store == nullptr) {
        return KOC_E_IMAGE_UNBOUND;
    }
    return fillWindow(window, image, image->window);
}

KOC_API int32_t kimg_window_initWindow(kimg_window* window, kimg_image* image, const kstd_rect32* rect, int32_t flags) noexcept
{
    KOC_ASSERT(window != nullptr);
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(rect != nullptr);
    return initWindowRect(window, image, rect, flags);
}

KOC_API int32_t kimg_windowConst_initWindow(kimg_windowConst* window, const kimg_image* image, const kstd_rect32* rect, int32_t flags) noexcept
{
    KOC_ASSERT(window != nullptr);
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(rect != nullptr);
    return initWindowRect(window, image, rect, flags);
}

KOC_API int32_t kimg_window_window(kimg_window* window, int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags) noexcept
{
    KOC_ASSERT(window != nullptr);
    return narrowWindow(window, x, y, width, height, flags);
}

KOC_API int32_t kimg_windowConst_window(kimg_windowConst* window, int32_t x, int32_t y, int32_t width, int32_t height, int32_t flags) noexcept
{
    KOC_ASSERT(window != nullptr);
    return narrowWindow(window, x, y, width, height, flags);
}

KOC_API int32_t kimg_windowConst_windowRect(kimg_windowConst* window, const kstd_rect32* rect) noexcept
{
    KOC_ASSERT(window != nullptr);
    KOC_ASSERT(rect != nullptr);
    return narrowWindow(window, int64_t{rect->x} - window->x, int64_t{rect->y} - window->y, rect->width, rect->height, 0);
}

KOC_API int32_t kimg_windowConst_getWindow(const kimg_windowConst* window, kstd_rect32* rect) noexcept
{
    KOC_ASSERT(window != nullptr);
    KOC_ASSERT(rect != nullptr);
    *rect = kstd_rect32{window->x, window->y, window->width, window->height};
    return 0;
}

/* ---- masks, colour and range images ---- */

KOC_API int32_t kimg_maskImage_construct(kimg_maskImage* mask) noexcept
{
    KOC_ASSERT(mask != nullptr);
    return kimg_image_construct(&mask->image8);
}

KOC_API int32_t kimg_maskImage_destruct(kimg_maskImage* mask) noexcept
{
    KOC_ASSERT(mask != nullptr);
    return kimg_image_destruct(&mask->image8);
}

KOC_API int32_t kimg_maskImage_assign(kimg_maskImage* dst, const kimg_maskImage* src) noexcept
{
    KOC_ASSERT(dst != nullptr);
    KOC_ASSERT(src != nullptr);
    return kimg_image_assign(&dst->image8, &src->image8);
}

KOC_API int32_t kimg_maskImage_getImage8(const kimg_maskImage* mask, kimg_image* image8) noexcept
{
    KOC_ASSERT(mask != nullptr);
    KOC_ASSERT(image8 != nullptr);
    return kimg_image_assign(image8, &mask->image8);
}

KOC_API int32_t kimg_image3Plane8_construct(kimg_image3Plane8* image) noexcept
{
    KOC_ASSERT(image != nullptr);
    for (kimg_image& plane : image->planes) {
        constructHandle(&plane);
    }
    return 0;
}

KOC_API int32_t kimg_image3Plane8_destruct(kimg_image3Plane8* image) noexcept
{
    KOC_ASSERT(image != nullptr);
    for (kimg_image& plane : image->planes) {
        rebind(&plane, nullptr);
    }
    return 0;
}

KOC_API int32_t kimg_image3Plane8_assignNewRect(kimg_image3Plane8* image, const kstd_rect32* rect) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(rect != nullptr);
    // All three planes or none: the planes are only rebound once every store exists.
    kimg_pixelStore_* fresh[3] = {nullptr, nullptr, nullptr};
    for (int k = 0; k < 3; ++k) {
        const int32_t rc = createStore(KIMG_DEPTH_8, *rect, &fresh[k]);
        if (rc < 0) {
            for (int m = 0; m < k; ++m) {
                releaseStore(fresh[m]);
            }
            return rc;
        }
    }
    for (int k = 0; k < 3; ++k) {
        rebind(&image->planes[k], fresh[k]);
    }
    return 0;
}

KOC_API int32_t k3img_rangeImage16_construct(k3img_rangeImage16* range) noexcept
{
    KOC_ASSERT(range != nullptr);
    constructHandle(&range->image);
    constructHandle(&range->mask);
    return 0;
}

KOC_API int32_t k3img_rangeImage16_destruct(k3img_rangeImage16* range) noexcept
{
    KOC_ASSERT(range != nullptr);
    rebind(&range->image, nullptr);
    rebind(&range->mask, nullptr);
    return 0;
}

KOC_API int32_t k3img_rangeImage16_assign(k3img_rangeImage16* dst, const k3img_rangeImage16* src) noexcept
{
    KOC_ASSERT(dst != nullptr);
    KOC_ASSERT(src != nullptr);
    shareInto(&dst->image, &src->image);
    shareInto(&dst->mask, &src->mask);
    return 0;
}

KOC_API int32_t k3img_rangeImage16_init(k3img_rangeImage16* range, const kimg_image* image16, const kimg_image* mask8) noexcept
{
    KOC_ASSERT(range != nullptr);
    KOC_ASSERT(image16 != nullptr);
    if (image16->store == nullptr) {
        return KOC_E_IMAGE_UNBOUND;
    }
    if (image16->store->depth != KIMG_DEPTH_16) {
        return KOC_E_IMAGE_DEPTH;
    }
    const bool hasMask = mask8 != nullptr && mask8->store != nullptr;
    if (hasMask) {
        if (mask8->store->depth != KIMG_DEPTH_8) {
            return KOC_E_IMAGE_DEPTH;
        }
        const kstd_rect32& a = image16->window;
        const kstd_rect32& b = mask8->window;
        if (a.x != b.x || a.y != b.y || a.width != b.width || a.height != b.height) {
            return KOC_E_WINDOW_OUTSIDE_IMAGE;
        }
    }
    // Take the new references before dropping the old ones: range may
    // already hold these very stores.
    kimg_image image;
    kimg_image mask;
    kimg_image_constructCopy(&image, image16);
    constructHandle(&mask);
    if (hasMask) {
        kimg_image_constructCopy(&mask, mask8);
    }
    setXforms(&mask, xformsOf(image16));
    rebind(&range->image, nullptr);
    rebind(&range->mask, nullptr);
    range->image = image;
    range->mask = mask;
    return 0;
}

KOC_API int32_t k3img_rangeImage16Const_getImage(const k3img_rangeImage16Const* range, kimg_image* image16) noexcept
{
    KOC_ASSERT(range != nullptr);
    KOC_ASSERT(image16 != nullptr);
    shareInto(image16, &range->image);
    return 0;
}

KOC_API int32_t k3img_rangeImage16Const_getMask(const k3img_rangeImage16Const* range, kimg_image* mask8) noexcept
{
    KOC_ASSERT(range != nullptr);
    KOC_ASSERT(mask8 != nullptr);
    shareInto(mask8, &range->mask);
    return 0;
}

KOC_API int32_t k3img_rangeImage16Const_setWindowRect(k3img_rangeImage16Const* range, const kstd_rect32* rect) noexcept
{
    KOC_ASSERT(range != nullptr);
    KOC_ASSERT(rect != nullptr);
    if (rect->width < 0 || rect->height < 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    if (range->image.store == nullptr) {
        return KOC_E_IMAGE_UNBOUND;
    }
    // Both checked before either changes, so a refusal leaves the pair aligned.
    if (!rectInside(range->image.store->rect, *rect) ||
        (range->mask.store != nullptr && !rectInside(range->mask.store->rect, *rect))) {
        return KOC_E_WINDOW_OUTSIDE_IMAGE;
    }
    range->image.window = *rect;
    if (range->mask.store != nullptr) {
        range->mask.window = *rect;
    }
    return 0;
}

KOC_API int32_t k3img_rangeImage16Const_constructImage16(const k3img_rangeImage16Const* range, kimg_image* image16) noexcept
{
    KOC_ASSERT(range != nullptr);
    return kimg_image_constructCopy(image16, &range->image);
}

/* ---- pixel operations ---- */

KOC_API int32_t kip_pelMapHardThreshold8(const kimg_image* src, uint8_t threshold, uint8_t below, uint8_t atOrAbove, kimg_image* dst) noexcept
{
    KOC_ASSERT(src != nullptr);
    KOC_ASSERT(dst != nullptr);
    const kimg_pixelStore_* s = src->store;
    if (s == nullptr) {
        return KOC_E_IMAGE_UNBOUND;
    }
    if (s->depth != KIMG_DEPTH_8) {
        return KOC_E_IMAGE_DEPTH;
    }
    const kstd_rect32 r = src->window;
    kimg_pixelStore_* fresh = nullptr;
    KOC_RETURN_IF_FAILED(createStore(KIMG_DEPTH_8, r, &fresh));
    if (r.width != 0) {
        const uint8_t* from = pixelAddress(s, r.x, r.y);
        uint8_t* to = fresh->pixels;
        for (int32_t j = 0; j < r.height; ++j, from += s->pitch, to += fresh->pitch) {
            // A select, not a branch: the compiler turns this into vector compares.
            for (int32_t i = 0; i < r.width; ++i) {
                to[i] = from[i] < threshold ? below : atOrAbove;
            }
        }
    }
    bindLike(dst, fresh, src);
    return 0;
}

KOC_API int32_t kip_pelAssignCopyEntireConst8(kimg_image* dst, const kimg_image* src) noexcept
{
    KOC_ASSERT(dst != nullptr);
    KOC_ASSERT(src != nullptr);
    if (src->store != nullptr && src->store->depth != KIMG_DEPTH_8) {
        return KOC_E_IMAGE_DEPTH;
    }
    return assignCopyOf(dst, src);
}

}  // extern "C"
