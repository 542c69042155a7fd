// thresh_maps.cpp: the within-group-variance threshold of a histogram and
// the hard and soft 256-entry maps built from it.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "services/guard.hpp"
#include "koc/kip_thresh.h"
#include "services/pel_ops.hpp"

namespace {

// Rounds a class mean into a grey level; false when it does not land in 0 .. 255.
bool roundToLevel(double v, int32_t* level) noexcept
{
    double r = 0.0;
    kmath_double_round(v, &r);
    if (!(r >= 0.0 && r <= 255.0)) {  // NaN fails too
        return false;
    }
    *level = static_cast<int32_t>(r);
    return true;
}

uint8_t roundByte(double v) noexcept
{
    double r = 0.0;
    kmath_double_round(v, &r);
    return static_cast<uint8_t>(std::clamp(r, 0.0, 255.0));
}

int32_t imageHistogram(const kimg_image* image, uint32_t* histogram) noexcept
{
    return koc::services::pelHistogram<uint8_t>(image, histogram);
}

}  // namespace

extern "C" {

KOC_API int32_t kip_threshParams_init(kip_threshParams* params) noexcept
{
    KOC_ASSERT(params != nullptr);
    params->method = 1;
    params->computeClassStats = 0;
    return 0;
}

KOC_API int32_t kip_threshResult_construct(kip_threshResult* result) noexcept
{
    KOC_ASSERT(result != nullptr);
    *result = kip_threshResult{0, 0, 0, 0.0, 0.0, 0.0, 0.0};
    return 0;
}

KOC_API int32_t kip_threshResult_destruct(kip_threshResult* result) noexcept
{
    KOC_ASSERT(result != nullptr);
    return 0;
}

KOC_API int32_t kip_threshComputeWGVThresholdFromHistogram(const uint32_t* histogram, int32_t count, int32_t first,
                                                           int32_t second, const kip_threshParams* params,
                                                           kip_threshResult* result) noexcept
{
    KOC_ASSERT(histogram != nullptr && params != nullptr && result != nullptr);
    kip_threshResult_construct(result);
    // The maps have 256 entries, so a threshold must be a grey level.
    if (params->method != 1 || count > 256 || first < 0 || second <= first || second > count) {
        return KOC_E_BAD_ARGUMENT;
    }
    koc::services::ThresholdResult r;
    KOC_RETURN_IF_FAILED(koc::services::threshFromHistogram(histogram, first, second - first, &r));
    if (r.found == 0) {
        return 0;
    }
    result->threshold = r.threshold;
    if (params->computeClassStats != 0) {
        const double total = r.lowerCount + r.upperCount;
        result->lowerWeight = r.lowerCount / total;
        result->lowerMean = r.lowerMean;
        result->upperWeight = r.upperCount / total;
        result->upperMean = r.upperMean;
        result->hasClassStats = 1;
    }
    result->isFound = 1;
    return 0;
}

KOC_API int32_t kip_threshCreateHardPelMap8(uint8_t* map, uint8_t threshold, uint8_t low, uint8_t high) noexcept
{
    KOC_ASSERT(map != nullptr);
    std::fill(map, map + threshold, low);
    std::fill(map + threshold, map + 256, high);
    return 0;
}

KOC_API int32_t kip_threshComputeHardMapFromResult(const kip_threshResult* result, int32_t invert, uint8_t* map) noexcept
{
    KOC_ASSERT(result != nullptr && map != nullptr);
    const uint8_t low = invert != 0 ? 255 : 0;
    const uint8_t high = invert != 0 ? 0 : 255;
    if (result->isFound == 0) {
        // No threshold: everything is ground.
        std::fill(map, map + 256, high);
        return 0;
    }
    return kip_threshCreateHardPelMap8(map, static_cast<uint8_t>(result->threshold & 0xFF), low, high);
}

KOC_API int32_t kip_threshComputeSoftMapFromResult(const kip_threshResult* result, uint8_t* map) noexcept
{
    KOC_ASSERT(result != nullptr && map != nullptr);
    if (result->isFound == 0) {
        std::iota(map, map + 256, uint8_t{0});
        return 0;
    }
    const int32_t t = result->threshold;
    if (t < 0 || t > 255) {
        return KOC_E_BAD_ARGUMENT;
    }
    if (result->hasClassStats == 0 || result->lowerWeight == 0.0 || result->upperWeight == 0.0) {
        return kip_threshCreateHardPelMap8(map, static_cast<uint8_t>(t), 0, 255);
    }
    int32_t lo = 0, hi = 0;
    if (!roundToLevel(result->lowerMean, &lo) || !roundToLevel(result->upperMean, &hi)) {
        return KOC_E_BAD_ARGUMENT;
    }
    // Keep the ramp's ends on their side of the threshold.
    if (lo >= t) {
        lo = std::max(t - 1, 0);
    }
    if (hi < t) {
        hi = t;
    }
    std::fill(map, map + lo + 1, uint8_t{0});
    std::fill(map + hi, map + 256, uint8_t{255});
    if (lo < t - 1) {
        const double s = 128.0 / (t - lo);
        for (int32_t g = lo + 1; g <= t - 1; ++g) {
            map[g] = roundByte((g - lo) * s);
        }
    }
    if (t < hi) {
        const double s = 127.0 / (hi - t);
        for (int32_t g = t; g <= hi - 1; ++g) {
            map[g] = roundByte((g - t) * s + 128.0);
        }
    }
    return 0;
}

KOC_API int32_t kip_threshComputeWGVSoftMapFromHistogram(const uint32_t* histogram, int32_t count, int32_t first,
                                                         int32_t second, uint8_t* map) noexcept
{
    KOC_ASSERT(histogram != nullptr && map != nullptr);
    kip_threshParams params;
    kip_threshParams_init(&params);
    params.computeClassStats = 1;  // the ramp runs between the class means
    kip_threshResult result;
    kip_threshResult_construct(&result);
    KOC_RETURN_IF_FAILED(kip_threshComputeWGVThresholdFromHistogram(histogram, count, first, second, &params, &result));
    return kip_threshComputeSoftMapFromResult(&result, map);
}

KOC_API int32_t kip_threshComputeWGVHardMapFromHistogram(const uint32_t* histogram, int32_t count, int32_t first,
                                                         int32_t second, int32_t invert, uint8_t* map) noexcept
{
    KOC_ASSERT(histogram != nullptr && map != nullptr);
    kip_threshParams params;
    kip_threshParams_init(&params);
    kip_threshResult result;
    kip_threshResult_construct(&result);
    KOC_RETURN_IF_FAILED(kip_threshComputeWGVThresholdFromHistogram(histogram, count, first, second, &params, &result));
    return kip_threshComputeHardMapFromResult(&result, invert, map);
}

KOC_API int32_t kip_threshComputeWGVSoftMapFromImage(const kimg_image* image8, uint8_t* map) noexcept
{
    KOC_ASSERT(image8 != nullptr && map != nullptr);
    uint32_t histogram[256];
    KOC_RETURN_IF_FAILED(imageHistogram(image8, histogram));
    return kip_threshComputeWGVSoftMapFromHistogram(histogram, 256, 0, 256, map);
}

KOC_API int32_t kip_threshComputeWGVHardMapFromImage(const kimg_image* image8, int32_t invert, uint8_t* map) noexcept
{
    KOC_ASSERT(image8 != nullptr && map != nullptr);
    uint32_t histogram[256];
    KOC_RETURN_IF_FAILED(imageHistogram(image8, histogram));
    return kip_threshComputeWGVHardMapFromHistogram(histogram, 256, 0, 256, invert, map);
}

KOC_API int32_t kip_threshWGVSoftPelMap8(const kimg_image* src8, kimg_image* dst8) noexcept
{
    KOC_ASSERT(src8 != nullptr && dst8 != nullptr);
    uint8_t map[256];
    KOC_RETURN_IF_FAILED(kip_threshComputeWGVSoftMapFromImage(src8, map));
    return koc::services::pelMap<uint8_t>(src8, map, dst8);
}

KOC_API int32_t kip_threshWGVHardPelMap8(const kimg_image* src8, int32_t invert, kimg_image* dst8) noexcept
{
    KOC_ASSERT(src8 != nullptr && dst8 != nullptr);
    uint8_t map[256];
    KOC_RETURN_IF_FAILED(kip_threshComputeWGVHardMapFromImage(src8, invert, map));
    return koc::services::pelMap<uint8_t>(src8, map, dst8);
}

}  // extern "C"
