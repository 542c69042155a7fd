// edge_detect.cpp: Sobel magnitude and direction of an 8-bit image, as
// 8-bit images, in integer arithmetic throughout.
#include "imageproc/edge_detect.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "koc/kip_edgelets.h"
#include "services/attention.hpp"
#include "services/guard.hpp"

namespace koc::imageproc {

namespace {

// Boundaries between 8-bit angle units in the first octant: unit q holds
// the ratios y/x in [tan((q - 0.5) pi/128), tan((q + 0.5) pi/128)), the
// tangents held with 24 fractional bits. Rounded once from the library's
// tangent; exact ties cannot occur for integer gradients of this size.
const std::array<int64_t, 32>& octantBounds() noexcept
{
    static const std::array<int64_t, 32> bounds = [] {
        std::array<int64_t, 32> b{};
        for (int k = 0; k < 32; ++k) {
            b[static_cast<size_t>(k)] =
                std::llround(std::tan((k + 0.5) * std::numbers::pi / 128.0) * static_cast<double>(1 << 24));
        }
        return b;
    }();
    return bounds;
}

// Units (0..32) of the angle of (big, small) with 0 <= small <= big, big > 0.
int32_t octantUnits(int64_t big, int64_t small, const std::array<int64_t, 32>& bounds) noexcept
{
    const int64_t scaled = small << 24;
    int32_t lo = 0, hi = 32;  // number of bounds with bound * big <= scaled
    while (lo < hi) {
        const int32_t mid = (lo + hi) / 2;
        if (bounds[static_cast<size_t>(mid)] * big <= scaled) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

}  // namespace

uint32_t integerSqrt(uint32_t v) noexcept
{
    auto r = static_cast<uint32_t>(std::sqrt(static_cast<double>(v)));
    // The double root can be one off near perfect squares; settle it exactly.
    while (static_cast<uint64_t>(r) * r > v) {
        --r;
    }
    while (static_cast<uint64_t>(r + 1) * (r + 1) <= v) {
        ++r;
    }
    return r;
}

uint8_t gradientMagnitude8(int32_t gx, int32_t gy) noexcept
{
    const auto sq = static_cast<uint32_t>(gx * gx + gy * gy);
    return static_cast<uint8_t>(std::min<uint32_t>(255, (integerSqrt(sq) + 2) >> 2));
}

uint8_t gradientDirection8(int32_t gx, int32_t gy) noexcept
{
    if (gx == 0 && gy == 0) {
        return 0;
    }
    const int64_t ax = std::abs(gx), ay = std::abs(gy);
    const auto& bounds = octantBounds();
    // Angle of (|gx|, |gy|) in 0..64 units, then folded into its quadrant.
    const int32_t q = ay <= ax ? octantUnits(ax, ay, bounds) : 64 - octantUnits(ay, ax, bounds);
    int32_t a = q;
    if (gx < 0 && gy >= 0) {
        a = 128 - q;
    } else if (gx < 0) {
        a = 128 + q;
    } else if (gy < 0) {
        a = 256 - q;
    }
    return static_cast<uint8_t>(a & 255);
}

}  // namespace koc::imageproc

extern "C" {

KOC_API int32_t kip_edgeDetectMagAng8_8(const kimg_imageConst* image, kimg_image* magnitude, kimg_image* direction) noexcept
{
    KOC_ASSERT(image != nullptr && magnitude != nullptr && direction != nullptr);
    return koc::guarded([&]() -> int32_t {
        int32_t depth = 0;
        KOC_RETURN_IF_FAILED(kimg_image_getDepth(image, &depth));
        if (depth == 0) {
            return KOC_E_IMAGE_UNBOUND;
        }
        if (depth != KIMG_DEPTH_8) {
            return KOC_E_IMAGE_DEPTH;
        }
        kimg_windowConst in;
        KOC_RETURN_IF_FAILED(kimg_windowConst_init(&in, image));
        const kstd_rect32 rect{in.x, in.y, in.width, in.height};
        // Fresh images first, bound to the caller's handles only at the end:
        // a failure leaves the caller's handles as they were.
        kimg_image mag, dir;
        KOC_RETURN_IF_FAILED(kimg_image_construct(&mag));
        koc::Always dropMag([&] { kimg_image_destruct(&mag); });
        KOC_RETURN_IF_FAILED(kimg_image_construct(&dir));
        koc::Always dropDir([&] { kimg_image_destruct(&dir); });
        KOC_RETURN_IF_FAILED(kimg_image_assignNewRect(&mag, KIMG_DEPTH_8, &rect));
        KOC_RETURN_IF_FAILED(kimg_image_assignNewRect(&dir, KIMG_DEPTH_8, &rect));
        KOC_RETURN_IF_FAILED(kimg_image_copyXforms(&mag, image));
        KOC_RETURN_IF_FAILED(kimg_image_copyXforms(&dir, image));
        kimg_window m, d;
        KOC_RETURN_IF_FAILED(kimg_window_init(&m, &mag));
        KOC_RETURN_IF_FAILED(kimg_window_init(&d, &dir));
        const auto* src = static_cast<const uint8_t*>(in.pixels);
        const intptr_t s = in.pitch;
        koc::services::AttentionPacer pace;
        for (int32_t y = 0; y < in.height; ++y) {
            KOC_RETURN_IF_FAILED(pace.add(in.width));
            auto* mrow = static_cast<uint8_t*>(m.pixels) + y * m.pitch;
            auto* drow = static_cast<uint8_t*>(d.pixels) + y * d.pitch;
            std::fill(mrow, mrow + in.width, uint8_t{0});
            std::fill(drow, drow + in.width, uint8_t{0});
            if (y == 0 || y == in.height - 1) {
                continue;
            }
            const uint8_t* c = src + y * s;
            for (int32_t x = 1; x + 1 < in.width; ++x) {
                const int32_t gx = (c[x + 1 - s] + 2 * c[x + 1] + c[x + 1 + s]) - (c[x - 1 - s] + 2 * c[x - 1] + c[x - 1 + s]);
                const int32_t gy = (c[x - 1 + s] + 2 * c[x + s] + c[x + 1 + s]) - (c[x - 1 - s] + 2 * c[x - s] + c[x + 1 - s]);
                mrow[x] = koc::imageproc::gradientMagnitude8(gx, gy);
                drow[x] = koc::imageproc::gradientDirection8(gx, gy);
            }
        }
        KOC_RETURN_IF_FAILED(kimg_image_assign(magnitude, &mag));
        return kimg_image_assign(direction, &dir);
    });
}

}  // extern "C"
