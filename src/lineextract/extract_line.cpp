// extract_line.cpp: the line-extraction driver: locate the line, cut it out,
// normalise it and decide its polarity, for 8-bit and 16-bit images.
#include <algorithm>
#include <array>
#include <cmath>

#include "services/guard.hpp"
#include "services/lifecycle.hpp"
#include "koc/koc_segment.h"
#include "koc/ksys.h"
#include "lineextract/edgelet_record.hpp"
#include "lineextract/locate_line.hpp"
#include "lineextract/normalize.hpp"
#include "services/attention.hpp"
#include "services/rectify.hpp"

namespace koc::lineextract {

namespace {

// Everything that differs between the 8-bit and the 16-bit road.
struct Road {
    int32_t (*locate)(const kimg_image*, bool, const kmath_shapeAffineRect*, const koc_lineExtractParams*,
                      LineLocation*, koc_lineExtractResult*) noexcept;
    int32_t (*normalize)(const kimg_image*, const kimg_imageRle*, const koc_lineExtractParams*, double, uint32_t*,
                         kimg_image*) noexcept;
    int32_t (*storeLine)(const kimg_image* line, kimg_image* stored) noexcept;
    int32_t (*storeNormalized)(const kimg_image* normalized, kimg_image* stored) noexcept;
    int32_t depth;
};

int32_t assignAsIs(const kimg_image* image, kimg_image* stored) noexcept
{
    return kimg_image_assign(stored, image);
}

// Walks every pixel of a 16-bit image's window.
template <class F>
void forEachPixel16(const kimg_windowConst& w, F&& f)
{
    for (int32_t y = 0; y < w.height; ++y) {
        const auto* row = static_cast<const uint16_t*>(w.pixels) + y * w.pitch;
        for (int32_t x = 0; x < w.width; ++x) {
            f(row[x]);
        }
    }
}

// Maps a 16-bit image through a 65536-entry table into a fresh 8-bit image
// of the same window and transforms.
int32_t mapTo8(const kimg_image* image16, const services::Vector<uint8_t>& table, kimg_image* stored)
{
    kimg_windowConst in;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&in, image16));
    kimg_image out;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&out));
    Always dropOut([&] { kimg_image_destruct(&out); });
    const kstd_rect32 rect{in.x, in.y, in.width, in.height};
    KOC_RETURN_IF_FAILED(kimg_image_assignNewRect(&out, KIMG_DEPTH_8, &rect));
    KOC_RETURN_IF_FAILED(kimg_image_copyXforms(&out, image16));
    kimg_window o;
    KOC_RETURN_IF_FAILED(kimg_window_init(&o, &out));
    services::AttentionPacer pace;
    for (int32_t y = 0; y < in.height; ++y) {
        KOC_RETURN_IF_FAILED(pace.add(in.width));
        const auto* src = static_cast<const uint16_t*>(in.pixels) + y * in.pitch;
        auto* dst = static_cast<uint8_t*>(o.pixels) + y * o.pitch;
        for (int32_t x = 0; x < in.width; ++x) {
            dst[x] = table[src[x]];
        }
    }
    return kimg_image_assign(stored, &out);
}

// Contrast stretch of a 16-bit line image to 8 bits: mean +- 2.5 standard
// deviations, within the image's own range, spread over 0..255.
int32_t lineImageTo8(const kimg_image* image16, kimg_image* stored) noexcept
{
    return guarded([&]() -> int32_t {
        kimg_windowConst in;
        KOC_RETURN_IF_FAILED(kimg_windowConst_init(&in, image16));
        uint64_t n = 0, sum = 0;
        double sumSq = 0.0;  // may pass 2^64 on large images
        uint32_t lo16 = 65535, hi16 = 0;
        forEachPixel16(in, [&](uint16_t p) {
            ++n;
            sum += p;
            sumSq += static_cast<double>(p) * p;
            lo16 = std::min<uint32_t>(lo16, p);
            hi16 = std::max<uint32_t>(hi16, p);
        });
        uint32_t low = lo16, high = hi16;
        if (n > 1) {
            const double mean = static_cast<double>(sum) / static_cast<double>(n);
            double variance = (sumSq - static_cast<double>(sum) * mean) / static_cast<double>(n - 1);
            variance = variance > 0.0 ? variance : 0.0;
            const double s = std::sqrt(variance);
            const double l = mean - 2.5 * s;
            const double h = mean + 2.5 * s;
            low = l > 0.0 ? static_cast<uint32_t>(static_cast<uint16_t>(l)) : 0;
            high = h < 65535.0 ? static_cast<uint32_t>(static_cast<uint16_t>(h)) : 65535;
            low = std::max(low, lo16);
            high = std::min(high, hi16);
        }
        services::Vector<uint8_t> table(65536, 128);
        if (high != low) {
            const double gain = 255.0 / (static_cast<double>(high) - static_cast<double>(low));
            for (uint32_t p = 0; p < 65536; ++p) {
                if (p <= low) {
                    table[p] = 0;
                } else if (p >= high) {
                    table[p] = 255;
                } else {
                    table[p] = static_cast<uint8_t>((p - low) * gain);
                }
            }
        }
        return mapTo8(image16, table, stored);
    });
}

// A normalised 16-bit image is centred on 32768; each side is mapped on its
// own so the centre lands on 128. A side without pixels maps to 128 (only
// the centre itself can be on it).
int32_t normalizedTo8(const kimg_image* image16, kimg_image* stored) noexcept
{
    int32_t bound = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(image16, &bound));
    if (bound == 0) {
        return kimg_image_assignUnbound(stored);
    }
    return guarded([&]() -> int32_t {
        kimg_windowConst in;
        KOC_RETURN_IF_FAILED(kimg_windowConst_init(&in, image16));
        uint32_t lo = 65535, hi = 0;
        forEachPixel16(in, [&](uint16_t p) {
            lo = std::min<uint32_t>(lo, p);
            hi = std::max<uint32_t>(hi, p);
        });
        services::Vector<uint8_t> table(65536, 128);
        if (lo != hi && in.width > 0 && in.height > 0) {
            const double below = lo < 32768 ? 128.0 / (32768.0 - lo) : 0.0;
            const double above = hi > 32768 ? 127.0 / (hi - 32768.0) : 0.0;
            // Entries for values outside [lo, hi] are never read, but they
            // must not convert out-of-range doubles: clamped, they are.
            const auto to8 = [](double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)); };
            for (uint32_t p = 0; p < 65536; ++p) {
                table[p] = p < 32768 ? to8((static_cast<double>(p) - lo) * below) : to8(128.0 + (p - 32768.0) * above);
            }
        }
        return mapTo8(image16, table, stored);
    });
}

const Road kRoad8{&locateTextLine, &normalizeLineImage, &assignAsIs, &assignAsIs, KIMG_DEPTH_8};
const Road kRoad16{&locateTextLine16, &normalizeLineImage16, &lineImageTo8, &normalizedTo8, KIMG_DEPTH_16};

// The line rectangle in the line image's pixels: the enclosing double box
// and the smallest integer rectangle around it.
int32_t getLineRectInImage(const kimg_image* lineImage, const kmath_shapeAffineRect* rect, kstd_rectD* bounds,
                           kstd_rect32* bounds32) noexcept
{
    kmath_xformLinear imageFromClient;
    KOC_RETURN_IF_FAILED(kimg_image_getLinearImageFromClientXform(lineImage, &imageFromClient));
    kmath_shapeAffineRect inImage;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&inImage, &imageFromClient, rect));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getEncloseRect(&inImage, bounds));
    return kstd_rect32_initMinEnclosingRect(bounds32, bounds);
}

int32_t setLineRect(koc_lineExtractResult* result, const kmath_shapeAffineRect* rect) noexcept
{
    result->lineRect = *rect;
    if (result->isLineImageValid == 0) {
        result->lineRectBounds = kstd_rectD{0.0, 0.0, 0.0, 0.0};
        result->lineRectBounds32 = kstd_rect32{0, 0, 0, 0};
        return 0;
    }
    return getLineRectInImage(&result->lineImage, rect, &result->lineRectBounds, &result->lineRectBounds32);
}

// Cuts the line out along the full line rectangle. When the rectified input
// region already is that rectangle (first three corners within 1/256 pixel)
// it is reused; otherwise the line is resampled over the part of the line
// rectangle that lies in the input rectangle, with a mask of those pixels.
int32_t extractLineImage(const kimg_image* image, const kmath_shapeAffineRect* inputRect, const kimg_image* rectified,
                         const kmath_shapeAffineRect* fullRect, kimg_image* lineImage, bool* resampled,
                         kimg_imageRle* lineMask) noexcept
{
    *resampled = false;
    KOC_RETURN_IF_FAILED(kimg_imageRle_setUnbound(lineMask));
    int32_t haveRectified = 0;
    if (rectified != nullptr) {
        KOC_RETURN_IF_FAILED(kimg_image_getIsBound(rectified, &haveRectified));
    }
    if (haveRectified != 0) {
        kmath_xformLinear toPixels;
        KOC_RETURN_IF_FAILED(kimg_image_getLinearImageFromClientXform(rectified, &toPixels));
        kmath_shapeAffineRect a, b;
        KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&a, &toPixels, inputRect));
        KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&b, &toPixels, fullRect));
        kmath_shapeAffineRectPoints pa, pb;
        KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&a, &pa));
        KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&b, &pb));
        int32_t same0 = 0, same1 = 0, same2 = 0;
        constexpr double kTolerance = 0.00390625;  // 1/256 pixel
        KOC_RETURN_IF_FAILED(kmath_vect_epsilonEqual(&pa.po, &pb.po, kTolerance, &same0));
        KOC_RETURN_IF_FAILED(kmath_vect_epsilonEqual(&pa.px, &pb.px, kTolerance, &same1));
        KOC_RETURN_IF_FAILED(kmath_vect_epsilonEqual(&pa.py, &pb.py, kTolerance, &same2));
        if (same0 != 0 && same1 != 0 && same2 != 0) {
            return kimg_image_assign(lineImage, rectified);
        }
    }
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(lineImage));
    KOC_RETURN_IF_FAILED(services::affineRectifyImageRegionIntersection(image, fullRect, inputRect, lineImage, lineMask));
    *resampled = true;
    return 0;
}

// The extraction parameters come straight from hosts as well as from the
// run parameters: every field that sizes work or feeds a conversion is
// checked with the run parameters' code for the same rule, in their order.
int32_t checkParams(const koc_lineExtractParams* p) noexcept
{
    if (p->polarity != 1 && p->polarity != 2 && p->polarity != 4) return KOC_E_POLARITY;
    if (outsideRange(p->maxLineAngle, 0.0, 45.0)) return KOC_E_MAX_LINE_ANGLE;
    if (outsideRange(p->maxSkewAngle, 0.0, 45.0)) return KOC_E_MAX_SKEW_ANGLE;
    const uint32_t m = p->normalizationMode;
    if (m != 1 && m != 2 && m != 4 && m != 8) return KOC_E_NORMALIZATION_MODE;
    if (p->maxHeight < 1) return KOC_E_MAX_CHAR_HEIGHT;
    if (p->useGradientMethod > 1) return KOC_E_USE_GRADIENT_METHOD;
    return 0;
}

// Work follows the rectangle, so a rectangle reaching far past the image is
// cut down to the part that meets the image window: the bounding box, in
// the rectangle's own frame, of its intersection with the window, widened
// to whole pixel steps so the kept part samples exactly as before. A
// rectangle inside the window is kept as it is; one that misses it is
// refused. Then the size limits apply to what is left.
int32_t clipRectToImage(const kimg_image* image, const kmath_shapeAffineRect* rect, kmath_shapeAffineRect* clipped) noexcept
{
    *clipped = *rect;
    kmath_xformLinear toPixels;
    KOC_RETURN_IF_FAILED(kimg_imageConst_getLinearImageFromClientXform(image, &toPixels));
    kmath_shapeAffineRect inImage;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&inImage, &toPixels, rect));
    kmath_shapeAffineRectPoints p;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&inImage, &p));
    const double ax = p.px.x - p.po.x, ay = p.px.y - p.po.y;  // x side
    const double bx = p.py.x - p.po.x, by = p.py.y - p.po.y;  // y side
    const double lengthX = std::hypot(ax, ay), lengthY = std::hypot(bx, by);
    const double det = ax * by - ay * bx;
    if (!std::isfinite(lengthX) || !std::isfinite(lengthY) || !std::isfinite(det) || det == 0.0) {
        return KOC_E_RECT_DEGENERATE;
    }
    kstd_rect32 w;
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(image, &w));
    constexpr double kSlack = 1e-7;
    const double x0 = w.x - kSlack, x1 = static_cast<double>(w.x) + w.width + kSlack;
    const double y0 = w.y - kSlack, y1 = static_cast<double>(w.y) + w.height + kSlack;
    // The parallelogram clipped by the four sides of the window.
    std::array<kmath_vect, 16> poly{}, next{};
    poly[0] = p.po;
    poly[1] = p.px;
    poly[2] = kmath_vect{p.px.x + bx, p.px.y + by};
    poly[3] = p.py;
    size_t n = 4;
    const auto clipSide = [&](auto inside, auto cross) {
        size_t m = 0;
        for (size_t i = 0; i < n; ++i) {
            const kmath_vect& a = poly[i];
            const kmath_vect& b = poly[(i + 1) % n];
            if (inside(a)) {
                next[m++] = a;
                if (!inside(b)) next[m++] = cross(a, b);
            } else if (inside(b)) {
                next[m++] = cross(a, b);
            }
        }
        poly = next;
        n = m;
    };
    const auto atX = [](double x) {
        return [x](const kmath_vect& a, const kmath_vect& b) {
            const double t = (x - a.x) / (b.x - a.x);
            return kmath_vect{x, a.y + t * (b.y - a.y)};
        };
    };
    const auto atY = [](double y) {
        return [y](const kmath_vect& a, const kmath_vect& b) {
            const double t = (y - a.y) / (b.y - a.y);
            return kmath_vect{a.x + t * (b.x - a.x), y};
        };
    };
    bool allInside = true;
    for (size_t i = 0; i < 4; ++i) {
        allInside = allInside && poly[i].x >= x0 && poly[i].x <= x1 && poly[i].y >= y0 && poly[i].y <= y1;
    }
    if (!allInside) {
        clipSide([&](const kmath_vect& v) { return v.x >= x0; }, atX(x0));
        clipSide([&](const kmath_vect& v) { return v.x <= x1; }, atX(x1));
        clipSide([&](const kmath_vect& v) { return v.y >= y0; }, atY(y0));
        clipSide([&](const kmath_vect& v) { return v.y <= y1; }, atY(y1));
        if (n < 3) {
            return KOC_E_RECT_OUTSIDE_IMAGE;
        }
    }
    double u0 = 0.0, u1 = 1.0, v0 = 0.0, v1 = 1.0;
    if (!allInside) {
        u0 = v0 = 1.0;
        u1 = v1 = 0.0;
        for (size_t i = 0; i < n; ++i) {
            const double dx = poly[i].x - p.po.x, dy = poly[i].y - p.po.y;
            const double u = (dx * by - dy * bx) / det, v = (ax * dy - ay * dx) / det;
            u0 = std::min(u0, u);
            u1 = std::max(u1, u);
            v0 = std::min(v0, v);
            v1 = std::max(v1, v);
        }
        // Whole pixel steps along each side, within the rectangle.
        // (The window's slack and rounding must not add a step.)
        constexpr double kEps = 1e-6;
        u0 = std::clamp(std::floor(u0 * lengthX + kEps) / lengthX, 0.0, 1.0);
        u1 = std::clamp(std::ceil(u1 * lengthX - kEps) / lengthX, 0.0, 1.0);
        v0 = std::clamp(std::floor(v0 * lengthY + kEps) / lengthY, 0.0, 1.0);
        v1 = std::clamp(std::ceil(v1 * lengthY - kEps) / lengthY, 0.0, 1.0);
        if (!((u1 - u0) * lengthX >= 1.0 && (v1 - v0) * lengthY >= 1.0)) {
            return KOC_E_RECT_OUTSIDE_IMAGE;
        }
    }
    const double keptX = (u1 - u0) * lengthX, keptY = (v1 - v0) * lengthY;
    if (keptX > KOC_MAX_RECT_SIDE || keptY > KOC_MAX_RECT_SIDE || keptX * keptY > KOC_MAX_RECT_PIXELS) {
        return KOC_E_LIMIT_EXCEEDED;
    }
    if (allInside) {
        return 0;
    }
    kmath_shapeAffineRectPoints c;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(rect, &c));
    const auto at = [&](double u, double v) {
        return kmath_vect{c.po.x + u * (c.px.x - c.po.x) + v * (c.py.x - c.po.x),
                          c.po.y + u * (c.px.y - c.po.y) + v * (c.py.y - c.po.y)};
    };
    const kmath_vect po = at(u0, v0), px = at(u1, v0), py = at(u0, v1);
    return kmath_shapeAffineRect_initPoints(clipped, &po, &px, &py);
}

int32_t extract(const Road& road, const kimg_image* image, const kmath_shapeAffineRect* requestedRect,
                const koc_lineExtractParams* params, koc_lineExtractResult* result) noexcept
{
    KOC_ASSERT(image != nullptr && requestedRect != nullptr && params != nullptr && result != nullptr);
    // Down before any check: a failed call never leaves a reused result
    // reading as a found line.
    result->isLineFound = 0;
    result->isLineImageValid = 0;
    result->isNormalizedImageValid = 0;
    KOC_RETURN_IF_FAILED(checkParams(params));
    // Edgelets are found on 8-bit edge magnitudes of 8-bit images.
    if (params->useGradientMethod == 0 && road.depth == KIMG_DEPTH_16) {
        return KOC_E_NEEDS_GRADIENT_METHOD;
    }
    int32_t depth = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getDepth(image, &depth));
    if (depth == 0) {
        return KOC_E_IMAGE_UNBOUND;
    }
    if (depth != road.depth) {
        return KOC_E_IMAGE_DEPTH;
    }
    int32_t linear = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsLinearXform(image, &linear));
    if (linear == 0) {
        return KOC_E_NOT_LINEAR_XFORM;
    }
    kmath_shapeAffineRect clippedRect;
    KOC_RETURN_IF_FAILED(clipRectToImage(image, requestedRect, &clippedRect));
    const kmath_shapeAffineRect* inputRect = &clippedRect;
    ksys_cpuinfo cpu;
    KOC_RETURN_IF_FAILED(ksys_cpuinfo_get(&cpu));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(ksys_cpuinfo_init_(0, 14));
    KOC_RETURN_IF_FAILED(koc_lineExtractResult_reset(result));
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    kimg_image rectified, lineImage, normalized;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&rectified));
    Always dropRectified([&] { kimg_image_destruct(&rectified); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&lineImage));
    Always dropLine([&] { kimg_image_destruct(&lineImage); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&normalized));
    Always dropNormalized([&] { kimg_image_destruct(&normalized); });

    const bool localNormalization = params->normalizationMode == 4 || params->normalizationMode == 8;
    const bool noSearch = params->maxLineAngle == 0.0 && params->maxSkewAngle == 0.0 && !localNormalization;
    const bool rectifyFirst = noSearch || params->useGradientMethod == 0;
    if (rectifyFirst) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(services::affineRectifyImageRegion(image, inputRect, &rectified));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
    }

    // Locate and cut out the line.
    LineLocation location;
    location.fullRect = *inputRect;
    location.tightRect = *inputRect;
    KOC_RETURN_IF_FAILED(kimg_imageRle_setUnbound(&result->lineMask));
    if (rectifyFirst) {
        KOC_RETURN_IF_FAILED(kimg_image_assign(&lineImage, &rectified));
    }
    if (!noSearch) {
        KOC_RETURN_IF_FAILED(road.locate(rectifyFirst ? &rectified : image, rectifyFirst, inputRect, params, &location, result));
        if (location.height >= 0.0 && params->limitHeight != 0 && params->maxHeight < location.height) {
            location.height = params->maxHeight;
        }
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        bool resampled = false;
        KOC_RETURN_IF_FAILED(extractLineImage(image, inputRect, rectifyFirst ? &rectified : nullptr, &location.fullRect,
                                              &lineImage, &resampled, &result->lineMask));
        if (resampled && result->lineEdgeletRecord != nullptr) {
            result->lineEdgeletRecord->isValid = 0;
        }
    }
    kstd_rectD bounds;
    kstd_rect32 bounds32;
    KOC_RETURN_IF_FAILED(getLineRectInImage(&lineImage, &location.tightRect, &bounds, &bounds32));
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    uint32_t polarity = params->polarity;
    KOC_RETURN_IF_FAILED(road.normalize(&lineImage, &result->lineMask, params, location.height, &polarity, &normalized));
    result->polarity = polarity;
    result->lineHeight = location.height;

    KOC_RETURN_IF_FAILED(road.storeLine(&lineImage, &result->lineImage));
    result->isLineImageValid = 1;
    KOC_RETURN_IF_FAILED(road.storeNormalized(&normalized, &result->normalizedImage));
    int32_t normalizedBound = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(&result->normalizedImage, &normalizedBound));
    result->isNormalizedImageValid = normalizedBound;

    const bool found = normalizedBound != 0 && polarity != 4;
    if (found) {
        result->extractedRect = location.tightRect;
        KOC_RETURN_IF_FAILED(setLineRect(result, &location.tightRect));
    }
    // Set last: a failure anywhere above leaves the result reading as no line.
    result->isLineFound = found ? 1 : 0;
    return 0;
}

}  // namespace

}  // namespace koc::lineextract

extern "C" {

KOC_API int32_t koc_extractLine(const kimg_imageConst* image, const kmath_shapeAffineRect* rect,
                                const koc_lineExtractParams* params, koc_lineExtractResult* result) noexcept
{
    return koc::lineextract::extract(koc::lineextract::kRoad8, image, rect, params, result);
}

KOC_API int32_t koc_extractLine16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                  const koc_lineExtractParams* params, koc_lineExtractResult* result) noexcept
{
    return koc::lineextract::extract(koc::lineextract::kRoad16, image16, rect, params, result);
}

}  // extern "C"
