// pyramid.cpp: the Gaussian pyramid record, its padded levels with
// replicated borders, and the two-to-one binomial reduction.
#include "imageproc/pyramid.hpp"

#include <algorithm>
#include <cstring>

#include "services/guard.hpp"
#include "services/lifecycle.hpp"
#include "koc/kip_pyramid.h"
#include "koc/ksys.h"
#include "services/image_store.hpp"
#include "services/memory.hpp"
#include "services/pel_ops.hpp"

namespace koc::imageproc {
namespace {

using services::image::pixelAddress;

int64_t floorDiv2(int64_t v) noexcept
{
    return v >= 0 ? v / 2 : -((-v + 1) / 2);
}

bool fits32(int64_t v) noexcept
{
    return v >= INT32_MIN && v <= INT32_MAX;
}

bool rectInside(const kstd_rect32& outer, int64_t x, int64_t y, int64_t w, int64_t h) noexcept
{
    return x >= outer.x && y >= outer.y && x + w <= int64_t{outer.x} + outer.width &&
           y + h <= int64_t{outer.y} + outer.height;
}

int32_t checkImage8(const kimg_image* image) noexcept
{
    if (image->store == nullptr) {
        return KOC_E_IMAGE_UNBOUND;
    }
    return image->store->depth == KIMG_DEPTH_8 ? 0 : KOC_E_IMAGE_DEPTH;
}

// Pixel (i, j) covers [i, i+1) x [j, j+1), so the centre of level pixel i
// must land on the centre of pixel 2i below: p -> 2p - 0.5. Images without a
// linear transform pass theirs on unchanged.
int32_t setLevelXforms(kimg_image* level, const kimg_image* below) noexcept
{
    if (below->isLinearXform == 0) {
        return kimg_image_copyXforms(level, below);
    }
    const kmath_xformLinear up = {{2.0, 0.0, 0.0, 2.0}, {-0.5, -0.5}};
    kmath_xformLinear clientFromLevel;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_initCompose(&clientFromLevel, &up, &below->clientFromImage));
    return kimg_image_setLinearClientFromImageXform(level, &clientFromLevel);
}

// A level over the padded rectangle of window, showing window.
int32_t allocateLevel(kimg_image* level, const kstd_rect32& window) noexcept
{
    kstd_rect32 padded;
    KOC_RETURN_IF_FAILED(paddedPyramidRect(window, &padded));
    KOC_RETURN_IF_FAILED(kimg_image_assignNewRect(level, KIMG_DEPTH_8, &padded));
    return kimg_image_setWindowRect(level, &window, 0);
}

int32_t copyWindow8(const kimg_image* src, kimg_image* dst) noexcept
{
    kimg_windowConst from;
    kimg_window to;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&from, src));
    KOC_RETURN_IF_FAILED(kimg_window_init(&to, dst));
    for (int32_t j = 0; j < from.height; ++j) {
        std::memcpy(static_cast<uint8_t*>(to.pixels) + j * to.pitch,
                    static_cast<const uint8_t*>(from.pixels) + j * from.pitch, static_cast<size_t>(from.width));
    }
    return 0;
}

}  // namespace

int32_t pyramidLevelCount(const kstd_rect32& rect, int32_t maxLevels, int32_t minSize) noexcept
{
    int32_t n = std::min(rect.width, rect.height);
    int32_t levels = 1;
    while (n > std::max(minSize, 1)) {
        levels += 1;
        n /= 2;
    }
    return std::min(levels, maxLevels);
}

int32_t paddedPyramidRect(const kstd_rect32& rect, kstd_rect32* padded) noexcept
{
    const int64_t m = 4 * int64_t{pyramidLevelCount(rect, INT32_MAX, 1)} - 4;
    int64_t x = rect.x - m, y = rect.y - m;
    int64_t w = rect.width + 2 * m, h = rect.height + 2 * m;
    if (x % 2 != 0) {
        x -= 1;
        w += 1;
    }
    if (y % 2 != 0) {
        y -= 1;
        h += 1;
    }
    w += w % 2;
    h += h % 2;
    if (!fits32(x) || !fits32(y) || !fits32(w) || !fits32(h) || !fits32(x + w) || !fits32(y + h)) {
        return KOC_E_BAD_ARGUMENT;
    }
    *padded = {static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(w), static_cast<int32_t>(h)};
    return 0;
}

kstd_rect32 gauss2GetDestRect(const kstd_rect32& src) noexcept
{
    // Even coordinates 2i inside [x, x + w - 1]: i from ceil(x / 2) to floor((x + w - 1) / 2).
    const int64_t first = floorDiv2(int64_t{src.x} + 1), last = floorDiv2(int64_t{src.x} + src.width - 1);
    const int64_t top = floorDiv2(int64_t{src.y} + 1), bottom = floorDiv2(int64_t{src.y} + src.height - 1);
    return {static_cast<int32_t>(first), static_cast<int32_t>(top), static_cast<int32_t>(std::max<int64_t>(0, last - first + 1)),
            static_cast<int32_t>(std::max<int64_t>(0, bottom - top + 1))};
}

int32_t gauss2Smooth8(const kimg_image* src, kimg_image* dst) noexcept
{
    KOC_ASSERT(src != nullptr && dst != nullptr && src != dst);
    KOC_RETURN_IF_FAILED(checkImage8(src));
    KOC_RETURN_IF_FAILED(checkImage8(dst));
    const kstd_rect32 d = dst->window;
    const kstd_rect32 expected = gauss2GetDestRect(src->window);
    if (d.x != expected.x || d.y != expected.y || d.width != expected.width || d.height != expected.height) {
        return KOC_E_BAD_ARGUMENT;
    }
    if (d.width == 0 || d.height == 0) {
        return 0;
    }
    // Source columns 2x - 2 .. 2(x + w - 1) + 2, and likewise rows.
    const int64_t x0 = 2 * int64_t{d.x} - 2, y0 = 2 * int64_t{d.y} - 2;
    const int64_t span = 2 * int64_t{d.width} + 3, rows = 2 * int64_t{d.height} + 3;
    if (!rectInside(src->store->rect, x0, y0, span, rows)) {
        return KOC_E_WINDOW_OUTSIDE_IMAGE;
    }
    return guarded([&]() -> int32_t {
        services::Vector<int32_t> column(static_cast<size_t>(span));
        const intptr_t pitch = src->store->pitch;
        for (int32_t j = 0; j < d.height; ++j) {
            if (j % 32 == 0) {
                KOC_RETURN_IF_FAILED(ksys_attention_check());
            }
            // Vertical pass over the five source rows around 2(d.y + j).
            const uint8_t* r0 = pixelAddress(src->store, static_cast<int32_t>(x0), static_cast<int32_t>(y0) + 2 * j);
            for (int64_t c = 0; c < span; ++c) {
                const uint8_t* p = r0 + c;
                column[static_cast<size_t>(c)] =
                    p[0] + 4 * p[pitch] + 6 * p[2 * pitch] + 4 * p[3 * pitch] + p[4 * pitch];
            }
            uint8_t* out = pixelAddress(dst->store, d.x, d.y + j);
            for (int32_t i = 0; i < d.width; ++i) {
                const int32_t* v = column.data() + 2 * i;
                const int32_t sum = v[0] + 4 * v[1] + 6 * v[2] + 4 * v[3] + v[4];
                out[i] = static_cast<uint8_t>((sum + 128) >> 8);
            }
        }
        return 0;
    });
}

int32_t pelReplicateBorders8(kimg_image* image) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_RETURN_IF_FAILED(checkImage8(image));
    const kstd_rect32 s = image->store->rect;
    const kstd_rect32 w = image->window;
    if (w.width <= 0 || w.height <= 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    const int32_t left = w.x - s.x, right = (s.x + s.width) - (w.x + w.width);
    for (int32_t y = w.y; y < w.y + w.height; ++y) {
        uint8_t* row = pixelAddress(image->store, s.x, y);
        std::memset(row, row[left], static_cast<size_t>(left));
        std::memset(row + left + w.width, row[left + w.width - 1], static_cast<size_t>(right));
    }
    const size_t rowBytes = static_cast<size_t>(s.width);
    const uint8_t* first = pixelAddress(image->store, s.x, w.y);
    const uint8_t* last = pixelAddress(image->store, s.x, w.y + w.height - 1);
    for (int32_t y = s.y; y < w.y; ++y) {
        std::memcpy(pixelAddress(image->store, s.x, y), first, rowBytes);
    }
    for (int32_t y = w.y + w.height; y < s.y + s.height; ++y) {
        std::memcpy(pixelAddress(image->store, s.x, y), last, rowBytes);
    }
    return 0;
}

int32_t expandImage(const kimg_image* src, kimg_image* dst, int32_t fx, int32_t fy) noexcept
{
    KOC_ASSERT(src != nullptr && dst != nullptr && src != dst);
    KOC_ASSERT(fx >= 1 && fy >= 1);
    KOC_RETURN_IF_FAILED(checkImage8(src));
    const kstd_rect32 w = src->window;
    const int64_t x = int64_t{w.x} * fx, y = int64_t{w.y} * fy;
    const int64_t width = int64_t{w.width} * fx, height = int64_t{w.height} * fy;
    if (!fits32(x) || !fits32(y) || !fits32(width) || !fits32(height) || !fits32(x + width) || !fits32(y + height)) {
        return KOC_E_BAD_ARGUMENT;
    }
    const kstd_rect32 rect{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(width),
                           static_cast<int32_t>(height)};
    KOC_RETURN_IF_FAILED(kimg_image_assignNewRect(dst, KIMG_DEPTH_8, &rect));
    KOC_RETURN_IF_FAILED(kimg_image_copyXforms(dst, src));
    if (w.width == 0 || w.height == 0) {
        return 0;
    }
    const int64_t area = int64_t{fx} * fy;
    for (int32_t j = 0; j < rect.height; ++j) {
        if (j % 32 == 0) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
        }
        const int32_t sj = j / fy, rj = j % fy;
        const int32_t sj1 = std::min(sj + 1, w.height - 1);
        const uint8_t* row0 = pixelAddress(src->store, w.x, w.y + sj);
        const uint8_t* row1 = pixelAddress(src->store, w.x, w.y + sj1);
        uint8_t* out = pixelAddress(dst->store, rect.x, rect.y + j);
        for (int32_t i = 0; i < rect.width; ++i) {
            const int32_t si = i / fx, ri = i % fx;
            const int32_t si1 = std::min(si + 1, w.width - 1);
            // Integer bilinear weights, rounded to nearest.
            const int64_t v = int64_t{row0[si]} * (fx - ri) * (fy - rj) + int64_t{row0[si1]} * ri * (fy - rj) +
                              int64_t{row1[si]} * (fx - ri) * rj + int64_t{row1[si1]} * ri * rj;
            out[i] = static_cast<uint8_t>((v + area / 2) / area);
        }
    }
    return 0;
}

int32_t differenceImage(const kimg_image* a, const kimg_image* b, int32_t mode, kimg_image* dst) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && dst != nullptr && dst != b);
    if (mode != 1 && mode != 3 && mode != 4 && mode != 32 && mode != 33) {
        return KOC_E_NORMALIZATION_MODE;
    }
    KOC_RETURN_IF_FAILED(checkImage8(a));
    KOC_RETURN_IF_FAILED(checkImage8(b));
    const kstd_rect32 wa = a->window, wb = b->window;
    if (wb.width <= 0 || wb.height <= 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    return guarded([&]() -> int32_t {
        // The signed differences first: mode 33 scales by the level's largest.
        services::Vector<int16_t> diff(static_cast<size_t>(wa.width) * static_cast<size_t>(std::max(wa.height, 0)));
        int32_t largest = 0;
        for (int32_t j = 0; j < wa.height; ++j) {
            const uint8_t* ra = pixelAddress(a->store, wa.x, wa.y + j);
            const uint8_t* rb = pixelAddress(b->store, wb.x, std::clamp(wa.y + j, wb.y, wb.y + wb.height - 1));
            for (int32_t i = 0; i < wa.width; ++i) {
                const int32_t ib = std::clamp(wa.x + i, wb.x, wb.x + wb.width - 1) - wb.x;
                const int32_t d = ra[i] - rb[ib];
                diff[static_cast<size_t>(j) * static_cast<size_t>(wa.width) + static_cast<size_t>(i)] =
                    static_cast<int16_t>(d);
                largest = std::max(largest, d < 0 ? -d : d);
            }
        }
        const double scale = largest < 128 ? 1.0 : 127.0 / largest;
        services::ScopedImage out;
        KOC_RETURN_IF_FAILED(services::newImageLike(a, KIMG_DEPTH_8, out.get()));
        for (int32_t j = 0; j < wa.height; ++j) {
            uint8_t* ro = pixelAddress(out.get()->store, wa.x, wa.y + j);
            for (int32_t i = 0; i < wa.width; ++i) {
                const int32_t d = diff[static_cast<size_t>(j) * static_cast<size_t>(wa.width) + static_cast<size_t>(i)];
                const auto wrapped = static_cast<uint8_t>(d & 0xFF);
                int32_t v = 0;
                switch (mode) {
                case 1: v = d < 0 ? -d : d; break;
                case 3: v = std::max(d, 0); break;
                case 4: v = wrapped; break;
                case 32: v = static_cast<int8_t>(wrapped) + 128; break;
                default: {
                    // Positive and negative parts mapped about 128; 0 stays 128.
                    double r = 0.0;
                    kmath_double_round(scale * (d < 0 ? -d : d), &r);
                    v = d == 0 ? 128 : (d > 0 ? 128 + static_cast<int32_t>(r) : 128 - static_cast<int32_t>(r));
                    break;
                }
                }
                ro[i] = static_cast<uint8_t>(v);
            }
        }
        return kimg_image_assign(dst, out.get());
    });
}

}  // namespace koc::imageproc

using namespace koc::imageproc;

extern "C" {

KOC_API int32_t kip_imagePyramid__construct(kip_imagePyramid_* pyramid) noexcept
{
    KOC_ASSERT(pyramid != nullptr);
    return kstd_vector_kimg_image8_constructEmpty(&pyramid->levels);
}

KOC_API int32_t kip_imagePyramid__assign(kip_imagePyramid_* dst, const kip_imagePyramid_* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    return kstd_vector_kimg_image8_assign(&dst->levels, &src->levels);
}

KOC_API int32_t kip_imagePyramid__destruct(kip_imagePyramid_* pyramid) noexcept
{
    KOC_ASSERT(pyramid != nullptr);
    return kstd_vector_kimg_image8_destruct(&pyramid->levels);
}

KOC_API int32_t kip_imagePyramid__clear(kip_imagePyramid_* pyramid) noexcept
{
    KOC_ASSERT(pyramid != nullptr);
    return kstd_vector_kimg_image8_clear(&pyramid->levels);
}

KOC_API int32_t kip_imagePyramid__generateGauss2(kip_imagePyramid_* pyramid, const kimg_image8* image,
                                                 int32_t maxLevels, int32_t minSize) noexcept
{
    KOC_ASSERT(pyramid != nullptr && image != nullptr);
    KOC_ASSERT(maxLevels >= 1 && minSize >= 1);
    KOC_RETURN_IF_FAILED(kip_imagePyramid__clear(pyramid));
    if (image->store == nullptr) {
        return KOC_E_IMAGE_UNBOUND;
    }
    if (image->store->depth != KIMG_DEPTH_8) {
        return KOC_E_IMAGE_DEPTH;
    }
    // An empty window has no pixel to replicate into a border.
    if (image->window.width <= 0 || image->window.height <= 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    const int32_t count = pyramidLevelCount(image->window, maxLevels, minSize);
    KOC_RETURN_IF_FAILED(kstd_vector_kimg_image8_resize(&pyramid->levels, count));
    kimg_image8* levels = static_cast<kimg_image8*>(pyramid->levels.base.begin);
    int32_t built = 0;
    // The levels built so far stay; the unfilled ones are dropped (shrinking
    // never fails), so every level a host finds is complete.
    koc::OnFailure keepBuilt([&] { kstd_vector_kimg_image8_resize(&pyramid->levels, built); });

    KOC_RETURN_IF_FAILED(allocateLevel(&levels[0], image->window));
    KOC_RETURN_IF_FAILED(copyWindow8(image, &levels[0]));
    KOC_RETURN_IF_FAILED(kimg_image_copyXforms(&levels[0], image));
    KOC_RETURN_IF_FAILED(pelReplicateBorders8(&levels[0]));
    built = 1;
    for (int32_t i = 1; i < count; ++i) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(allocateLevel(&levels[i], gauss2GetDestRect(levels[i - 1].window)));
        KOC_RETURN_IF_FAILED(gauss2Smooth8(&levels[i - 1], &levels[i]));
        KOC_RETURN_IF_FAILED(setLevelXforms(&levels[i], &levels[i - 1]));
        KOC_RETURN_IF_FAILED(pelReplicateBorders8(&levels[i]));
        built = i + 1;
    }
    keepBuilt.dismiss();
    return 0;
}

KOC_API int32_t kip_imagePyramid__generateDiffPyramid(const kip_imagePyramid_* source, int32_t k, int32_t mode,
                                                      kip_imagePyramid_* destination) noexcept
{
    KOC_ASSERT(source != nullptr && destination != nullptr && source != destination);
    KOC_RETURN_IF_FAILED(kip_imagePyramid__clear(destination));
    if (k < 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    const intptr_t n = source->levels.base.size;
    const intptr_t count = n - k > 0 ? n - k : 0;
    if (count == 0) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(kstd_vector_kimg_image8_resize(&destination->levels, count));
    const auto* src = static_cast<const kimg_image8*>(source->levels.base.begin);
    auto* dst = static_cast<kimg_image8*>(destination->levels.base.begin);
    koc::services::ScopedImage scratch;
    const auto factor = static_cast<int32_t>(int64_t{1} << std::min(k, 30));
    for (intptr_t j = n - 1; j >= k; --j) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(scratch.get()));
        KOC_RETURN_IF_FAILED(expandImage(&src[j], scratch.get(), factor, factor));
        KOC_RETURN_IF_FAILED(differenceImage(&src[j - k], scratch.get(), mode, &dst[j - k]));
    }
    return 0;
}

KOC_API int32_t kip_imagePyramid__getLevelCount(const kip_imagePyramid_* pyramid, int32_t* count) noexcept
{
    KOC_ASSERT(pyramid != nullptr && count != nullptr);
    return kstd_vector_kimg_image8_getSize32(&pyramid->levels, count);
}

KOC_API int32_t kip_imagePyramid__getLevel(const kip_imagePyramid_* pyramid, int32_t index, kimg_image8* level) noexcept
{
    KOC_ASSERT(pyramid != nullptr && level != nullptr);
    if (index < 0 || index >= pyramid->levels.base.size) {
        return KOC_E_INDEX_OUT_OF_RANGE;
    }
    return kimg_image_assign(level, &static_cast<const kimg_image8*>(pyramid->levels.base.begin)[index]);
}

}  // extern "C"

KOC_DEFINE_CONSTRUCT_COPY(kip_imagePyramid_)
