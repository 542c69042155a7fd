// rect.cpp: integer and double rectangles.
//
// An integer rectangle (x, y, w, h) covers the pixels x .. x+w-1 and
// y .. y+h-1. Edges are computed in 64 bits so that a rectangle near the ends
// of the 32-bit range never wraps; a result whose edges do not fit 32 bits
// is refused with KOC_E_BAD_ARGUMENT and the output is left as it was.
#include <cmath>
#include <cstdint>
#include <limits>

#include "services/guard.hpp"

namespace {

constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();

bool fits32(int64_t v) noexcept
{
    return v >= kMin32 && v <= kMax32;
}

bool hasArea(const kstd_rect32& r) noexcept
{
    return r.width > 0 && r.height > 0;
}

int64_t right(const kstd_rect32& r) noexcept
{
    return static_cast<int64_t>(r.x) + r.width;
}

int64_t bottom(const kstd_rect32& r) noexcept
{
    return static_cast<int64_t>(r.y) + r.height;
}

// Stores (x0, y0)-(x1, y1) when every member fits; the caller has already
// made sure x1 >= x0 and y1 >= y0.
int32_t storeEdges(kstd_rect32* out, int64_t x0, int64_t y0, int64_t x1, int64_t y1) noexcept
{
    if (!fits32(x0) || !fits32(y0) || !fits32(x1 - x0) || !fits32(y1 - y0)) {
        return KOC_E_BAD_ARGUMENT;
    }
    out->x = static_cast<int32_t>(x0);
    out->y = static_cast<int32_t>(y0);
    out->width = static_cast<int32_t>(x1 - x0);
    out->height = static_cast<int32_t>(y1 - y0);
    return 0;
}

// floor(lo) and ceil(hi) as 64-bit integers, or false when either is not
// finite or falls outside the 32-bit range (checked in double before the
// conversion, which would otherwise be undefined).
bool pixelSpan(double lo, double hi, int64_t* first, int64_t* end) noexcept
{
    const double f = std::floor(lo);
    const double c = std::ceil(hi);
    if (!std::isfinite(f) || !std::isfinite(c)) {
        return false;
    }
    if (f < static_cast<double>(kMin32) || c > static_cast<double>(kMax32)) {
        return false;
    }
    *first = static_cast<int64_t>(f);
    *end = static_cast<int64_t>(c);
    return true;
}

}  // namespace

extern "C" {

KOC_API int32_t kstd_rect32_init(kstd_rect32* rect, int32_t x, int32_t y, int32_t width, int32_t height) noexcept
{
    KOC_ASSERT(rect != nullptr);
    *rect = kstd_rect32{x, y, width, height};
    return 0;
}

KOC_API int32_t kstd_rect32_initNull(kstd_rect32* rect) noexcept
{
    KOC_ASSERT(rect != nullptr);
    *rect = kstd_rect32{0, 0, 0, 0};
    return 0;
}

KOC_API int32_t kstd_rect32_intersect(kstd_rect32* out, const kstd_rect32* a, const kstd_rect32* b) noexcept
{
    KOC_ASSERT(out != nullptr && a != nullptr && b != nullptr);
    const int64_t x0 = a->x > b->x ? a->x : b->x;
    const int64_t y0 = a->y > b->y ? a->y : b->y;
    const int64_t x1 = right(*a) < right(*b) ? right(*a) : right(*b);
    const int64_t y1 = bottom(*a) < bottom(*b) ? bottom(*a) : bottom(*b);
    // Touching edges share no pixel; a degenerate input yields x1 <= x0 or
    // y1 <= y0 here as well, so it intersects nothing.
    if (x1 <= x0 || y1 <= y0) {
        *out = kstd_rect32{0, 0, 0, 0};
        return 0;
    }
    // Both extents are no larger than an input's, so they always fit.
    return storeEdges(out, x0, y0, x1, y1);
}

KOC_API int32_t kstd_rect32_encloseRect(kstd_rect32* acc, const kstd_rect32* other) noexcept
{
    KOC_ASSERT(acc != nullptr && other != nullptr);
    if (!hasArea(*other)) {
        return 0;
    }
    if (!hasArea(*acc)) {
        *acc = *other;
        return 0;
    }
    const int64_t x0 = acc->x < other->x ? acc->x : other->x;
    const int64_t y0 = acc->y < other->y ? acc->y : other->y;
    const int64_t x1 = right(*acc) > right(*other) ? right(*acc) : right(*other);
    const int64_t y1 = bottom(*acc) > bottom(*other) ? bottom(*acc) : bottom(*other);
    return storeEdges(acc, x0, y0, x1, y1);
}

KOC_API int32_t kstd_rect32_containsRect(const kstd_rect32* outer, const kstd_rect32* inner, int32_t* contains) noexcept
{
    KOC_ASSERT(outer != nullptr && inner != nullptr && contains != nullptr);
    *contains = hasArea(*inner) && inner->x >= outer->x && inner->y >= outer->y && right(*inner) <= right(*outer) &&
                        bottom(*inner) <= bottom(*outer)
                    ? 1
                    : 0;
    return 0;
}

KOC_API int32_t kstd_rect32_trim(kstd_rect32* rect, int32_t left, int32_t top, int32_t rightAmount,
                                 int32_t bottomAmount) noexcept
{
    KOC_ASSERT(rect != nullptr);
    const int64_t x = static_cast<int64_t>(rect->x) + left;
    const int64_t y = static_cast<int64_t>(rect->y) + top;
    int64_t w = static_cast<int64_t>(rect->width) - left - rightAmount;
    int64_t h = static_cast<int64_t>(rect->height) - top - bottomAmount;
    w = w < 0 ? 0 : w;
    h = h < 0 ? 0 : h;
    if (!fits32(x) || !fits32(y) || !fits32(w) || !fits32(h)) {
        return KOC_E_BAD_ARGUMENT;
    }
    *rect = kstd_rect32{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(w),
                        static_cast<int32_t>(h)};
    return 0;
}

KOC_API int32_t kstd_rect32_getIsDegen(const kstd_rect32* rect, int32_t* isDegen) noexcept
{
    KOC_ASSERT(rect != nullptr && isDegen != nullptr);
    *isDegen = hasArea(*rect) ? 0 : 1;
    return 0;
}

KOC_API int32_t kstd_rect32_getIsNull(const kstd_rect32* rect, int32_t* isNull) noexcept
{
    KOC_ASSERT(rect != nullptr && isNull != nullptr);
    *isNull = rect->width == 0 && rect->height == 0 ? 1 : 0;
    return 0;
}

KOC_API int32_t kstd_rect32_compareEqual(const kstd_rect32* a, const kstd_rect32* b, int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    *isEqual = a->x == b->x && a->y == b->y && a->width == b->width && a->height == b->height ? 1 : 0;
    return 0;
}

KOC_API int32_t kstd_rect32_initMinEnclosingRect(kstd_rect32* out, const kstd_rectD* rect) noexcept
{
    KOC_ASSERT(out != nullptr && rect != nullptr);
    // A negative extent describes no box at all; refusing it is safer than
    // guessing whether the caller meant the mirrored one.
    if (!(rect->width >= 0.0) || !(rect->height >= 0.0)) {
        return KOC_E_BAD_ARGUMENT;
    }
    int64_t x0 = 0;
    int64_t x1 = 0;
    int64_t y0 = 0;
    int64_t y1 = 0;
    if (!pixelSpan(rect->x, rect->x + rect->width, &x0, &x1) ||
        !pixelSpan(rect->y, rect->y + rect->height, &y0, &y1)) {
        return KOC_E_BAD_ARGUMENT;
    }
    return storeEdges(out, x0, y0, x1, y1);
}

KOC_API int32_t kstd_rectD_init(kstd_rectD* rect, double x, double y, double width, double height) noexcept
{
    KOC_ASSERT(rect != nullptr);
    *rect = kstd_rectD{x, y, width, height};
    return 0;
}

KOC_API int32_t kstd_rectD_initNull(kstd_rectD* rect) noexcept
{
    KOC_ASSERT(rect != nullptr);
    *rect = kstd_rectD{0.0, 0.0, 0.0, 0.0};
    return 0;
}

}  // extern "C"
