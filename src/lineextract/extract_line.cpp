// extract_line.cpp: the line-extraction driver: locate the line, cut it out,
// normalise it and decide its polarity, for 8-bit and 16-bit images.
#include <algorithm>
#include <cmath>

#include "interface/guard.hpp"
#include "koc/ksys.h"
#include "lineextract/edgelet_record.hpp"
#include "lineextract/locate_line.hpp"
#include "lineextract/normalize.hpp"
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
    for (int32_t y = 0; y < in.height; ++y) {
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

int32_t extract(const Road& road, const kimg_image* image, const kmath_shapeAffineRect* inputRect,
                const koc_lineExtractParams* params, koc_lineExtractResult* result) noexcept
{
    KOC_ASSERT(image != nullptr && inputRect != nullptr && params != nullptr && result != nullptr);
    int32_t depth = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getDepth(image, &depth));
    if (depth == 0) {
        return KOC_E_IMAGE_UNBOUND;
    }
    if (depth != road.depth) {
        return KOC_E_IMAGE_DEPTH;
    }
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
