// edgelet_locate.cpp: line finding from row edgelets.
//
// The rotation is the angle whose across-the-line projection of one edge
// polarity has the sharpest pair of bins (the top or bottom edges of the
// text line up there); the shear is the angle whose along-the-line
// projection has the largest variance (slanted strokes stack up when
// projected along their slant); the band is the shortest run of bins that
// holds most of the edge mass across the line. Projections use 10-bit
// fixed-point cosines, so every bin is an exact integer computation.
#include "lineextract/edgelet_locate.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "koc/ksys.h"
#include "lineextract/locate_line.hpp"
#include "services/guard.hpp"
#include "services/pel_ops.hpp"
#include "services/rectify.hpp"

namespace koc::lineextract {

namespace {

// Directions within this many 8-bit units of the expected edge direction
// count for one polarity in the rotation search.
constexpr int32_t kDirectionSpread = 40;
// One degree in 16-bit angle units, 182.0444... taken to the nearest integer.
constexpr int32_t kUnitsPerDegree = 182;
constexpr int32_t kMargin = 2;

int32_t wholeDegrees(double range) noexcept
{
    // The ranges are checked to lie in [0, 45] before any search.
    return static_cast<int32_t>(range + 0.5);
}

uint8_t angle8Of(uint16_t a) noexcept
{
    return static_cast<uint8_t>(((a + 128) >> 8) & 255);
}

using Mask = std::array<uint8_t, 256>;

Mask directionMask(uint8_t centre) noexcept
{
    Mask m{};
    for (int32_t d = -kDirectionSpread; d <= kDirectionSpread; ++d) {
        m[static_cast<size_t>((centre + d) & 255)] = 1;
    }
    return m;
}

struct ProfileStats {
    int64_t n = 0;
    double sum = 0.0;
    double sumSq = 0.0;
    double variance(int64_t m) const noexcept
    {
        // The variance of the profile padded with zeros to m bins.
        if (m <= 1) {
            return 0.0;
        }
        return (sumSq - sum * sum / static_cast<double>(m)) / static_cast<double>(m - 1);
    }
};

}  // namespace

int32_t detectLineEdgelets(const kimg_image* rectified, kip_rowEdgeletSet* set, kmath_xformLinear* frame) noexcept
{
    KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_reset(set));
    kip_rowEdgeletParams params;
    KOC_RETURN_IF_FAILED(kip_rowEdgeletParams_construct(&params));
    params.edgeParams.linkRatio = 0.89;
    params.edgeParams.magnitudeThreshold = 3.0;
    params.kernelMode = KIP_ROW_EDGELET_KERNEL_OPPOSITE;

    kimg_image magnitude, direction;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&magnitude));
    Always dropMagnitude([&] { kimg_image_destruct(&magnitude); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&direction));
    Always dropDirection([&] { kimg_image_destruct(&direction); });
    KOC_RETURN_IF_FAILED(kip_edgeDetectMagAng8_8(rectified, &magnitude, &direction));
    KOC_RETURN_IF_FAILED(kip_edgeDetectRowEdgeletsFromMagAng8(&magnitude, &direction, &params, set));

    int32_t count = 0;
    KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_getNumEdgelets(set, &count));
    if (count > 0) {
        std::array<uint32_t, 256> histogram{};
        int32_t rows = 0;
        KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_getNumRowSubsets(set, &rows));
        for (int32_t i = 0; i < rows; ++i) {
            const kip_rowEdgelet* e = nullptr;
            int32_t n = 0;
            kstd_pair32 origin;
            KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_getRowSubsetMinimalConst(set, i, &e, &n, &origin));
            for (int32_t k = 0; k < n; ++k) {
                ++histogram[e[k].magnitude];
            }
        }
        int32_t lower = 0, upper = 0;
        const int32_t rc = services::momentTails(histogram.data(), 256, 0.05, 0.95, 2, &lower, &upper);
        if (rc < 0 && rc != KOC_E_HISTOGRAM_NO_TAIL) {
            return rc;
        }
        // No usable tail (every edgelet at magnitude 0) keeps them all.
        const int32_t threshold = rc < 0 ? 0 : lower;
        KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_removeLowMagEdgelets(set, threshold));
    }
    return kimg_image_getLinearClientFromImageXform(rectified, frame);
}

int32_t projectEdgelets(const kip_rowEdgeletSet* set, const uint8_t* mask, uint16_t theta, EdgeletProfile* profile) noexcept
{
    return guarded([&]() -> int32_t {
        kstd_rect32 r;
        KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_getEncloseImageRect(set, &r));
        int32_t c = 0, s = 0;
        KOC_RETURN_IF_FAILED(kmath_cos16FixedPoint(theta, 10, &c));
        KOC_RETURN_IF_FAILED(kmath_sin16FixedPoint(theta, 10, &s));
        // Extremes over the corners (the projection is linear, so every
        // edgelet falls between them); >> on negatives floors.
        int64_t lo = 0, hi = 0;
        for (const int64_t x : {int64_t{0}, int64_t{r.width} - 1}) {
            for (const int64_t y : {int64_t{0}, int64_t{r.height} - 1}) {
                const int64_t p = (x * c + y * s) >> 10;
                lo = std::min(lo, p);
                hi = std::max(hi, p);
            }
        }
        const int64_t n = hi - lo + 1;
        services::Vector<int32_t> padded(static_cast<size_t>(n + 2 * kMargin), 0);
        int32_t rows = 0;
        KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_getNumRowSubsets(set, &rows));
        for (int32_t i = 0; i < rows; ++i) {
            const kip_rowEdgelet* e = nullptr;
            int32_t count = 0;
            kstd_pair32 origin;
            KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_getRowSubsetMinimalConst(set, i, &e, &count, &origin));
            const int64_t base = int64_t{origin.first - r.x} * c + int64_t{origin.second - r.y} * s;
            for (int32_t k = 0; k < count; ++k) {
                if (mask != nullptr && mask[e[k].direction] == 0) {
                    continue;
                }
                const int64_t index = ((e[k].column * int64_t{c} + base) >> 10) - lo + kMargin;
                KOC_ASSERT(index >= 0 && index < n + 2 * kMargin);
                padded[static_cast<size_t>(index)] += e[k].magnitude;
            }
        }
        // Fold the margins into the end bins.
        for (int32_t m = 0; m < kMargin; ++m) {
            padded[kMargin] += padded[static_cast<size_t>(m)];
            padded[static_cast<size_t>(n + kMargin - 1)] += padded[static_cast<size_t>(n + kMargin + m)];
        }
        profile->bins.assign(padded.begin() + kMargin, padded.begin() + kMargin + n);
        profile->p0 = kmath_vect{static_cast<double>(r.x + ((lo * c) >> 10)), static_cast<double>(r.y + ((lo * s) >> 10))};
        profile->p1 = kmath_vect{profile->p0.x + static_cast<double>((n * c) >> 10),
                                 profile->p0.y + static_cast<double>((n * s) >> 10)};
        return 0;
    });
}

int64_t profilePeak(const int32_t* bins, int32_t n) noexcept
{
    if (n <= 0) {
        return 0;
    }
    if (n == 1) {
        return bins[0];
    }
    int64_t peak = INT64_MIN;
    for (int32_t i = 0; i + 1 < n; ++i) {
        peak = std::max(peak, int64_t{bins[i]} + bins[i + 1]);
    }
    return peak;
}

void shortestRawMassWindow(const int32_t* bins, int32_t n, double q, int32_t* start, int32_t* end) noexcept
{
    *start = 0;
    *end = n - 1;
    if (n <= 0) {
        return;
    }
    int64_t total = 0;
    for (int32_t i = 0; i < n; ++i) {
        total += bins[i];
    }
    // Bins are sums of magnitudes (never negative). The total can pass 32
    // bits on a huge region, so the target is kept in 64.
    const auto target = static_cast<int64_t>(static_cast<double>(total) * (1.0 - q));
    shortestWindowReaching(n, static_cast<uint64_t>(std::max<int64_t>(target, 0)),
                           [bins](int32_t i) { return static_cast<uint64_t>(std::max(bins[i], 0)); }, start, end);
}

void edgeletBandBins(const int32_t* bins, int32_t n, int32_t* top, int32_t* bottom) noexcept
{
    int32_t s1 = 0, e1 = 0, s2 = 0, e2 = 0;
    shortestRawMassWindow(bins, n, 0.1, &s1, &e1);
    // The 90 % window stretched back to the whole band, as if 5 % of the
    // mass lay beyond each end.
    const double width = (e1 - s1 + 1) / (1.0 - 2 * 0.05);
    const double centre = (s1 + e1) * 0.5;
    const auto lo = static_cast<int32_t>(std::floor(centre - width / 2.0));
    const auto hi = static_cast<int32_t>(std::ceil(centre + width / 2.0));
    shortestRawMassWindow(bins, n, 0.02, &s2, &e2);
    *top = std::max(lo, s2);
    *bottom = std::min(hi, e2);
}

int32_t searchRotationEdgelets(const kip_rowEdgeletSet* set, const koc_lineExtractParams* params, uint16_t start,
                               uint16_t* rotation) noexcept
{
    *rotation = start;
    const int32_t range = wholeDegrees(params->maxLineAngle);
    if (range == 0) {
        return 0;
    }
    return guarded([&]() -> int32_t {
        int64_t bestScore = 0;
        EdgeletProfile profile;
        for (int32_t k = -range; k <= range; ++k) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
            const auto a = static_cast<uint16_t>(start + kUnitsPerDegree * k);
            const auto axis = static_cast<uint16_t>(a + 16384);
            const uint8_t a8 = angle8Of(a);
            // Edges whose gradient points one way across the line, then the
            // other polarity.
            int64_t score = 0;
            for (const int32_t turn : {64, 192}) {
                const Mask mask = directionMask(static_cast<uint8_t>((a8 + turn) & 255));
                KOC_RETURN_IF_FAILED(projectEdgelets(set, mask.data(), axis, &profile));
                score = std::max(score, profilePeak(profile.bins.data(), static_cast<int32_t>(profile.bins.size())));
            }
            if (score > bestScore) {  // strictly: the first best in the order of k wins
                bestScore = score;
                *rotation = a;
            }
        }
        return 0;
    });
}

int32_t searchShearEdgelets(const kip_rowEdgeletSet* set, const koc_lineExtractParams* params, uint16_t rotation,
                            uint16_t* shear) noexcept
{
    *shear = rotation;
    const int32_t range = wholeDegrees(params->maxSkewAngle);
    if (range == 0) {
        return 0;
    }
    return guarded([&]() -> int32_t {
        EdgeletProfile profile;
        ProfileStats best;  // starts as an empty profile at the rotation
        int64_t longest = 0;
        for (int32_t k = -range; k <= range; ++k) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
            const auto a = static_cast<uint16_t>(rotation + kUnitsPerDegree * k);
            KOC_RETURN_IF_FAILED(projectEdgelets(set, nullptr, static_cast<uint16_t>(a + 32768), &profile));
            ProfileStats stats;
            stats.n = static_cast<int64_t>(profile.bins.size());
            int64_t sum = 0;
            for (const int32_t v : profile.bins) {
                sum += v;
                stats.sumSq += static_cast<double>(v) * v;
            }
            stats.sum = static_cast<double>(sum);
            // Profiles of different angles differ in length: each is compared
            // padded to the longest seen so far, the best one re-evaluated.
            longest = std::max(longest, stats.n);
            if (stats.variance(longest) > best.variance(longest)) {
                best = stats;
                *shear = a;
            }
        }
        return 0;
    });
}

int32_t findEdgeletBand(const kip_rowEdgeletSet* set, uint16_t rotation, kmath_vect segment[2], double* height) noexcept
{
    return guarded([&]() -> int32_t {
        EdgeletProfile profile;
        KOC_RETURN_IF_FAILED(projectEdgelets(set, nullptr, static_cast<uint16_t>(rotation + 16384), &profile));
        const auto n = static_cast<int32_t>(profile.bins.size());
        int32_t top = 0, bottom = 0;
        edgeletBandBins(profile.bins.data(), n, &top, &bottom);
        const auto along = [&](double f) {
            return kmath_vect{profile.p0.x + (profile.p1.x - profile.p0.x) * f,
                              profile.p0.y + (profile.p1.y - profile.p0.y) * f};
        };
        segment[0] = along(static_cast<double>(top) / n);
        segment[1] = along(static_cast<double>(bottom + 1) / n);
        *height = bottom - top + 1;
        return 0;
    });
}

int32_t locateEdgeletLine(const kimg_image* rectified, const koc_lineExtractParams* params,
                          koc_lineEdgeletRecord_* record, EdgeletLine* line) noexcept
{
    KOC_ASSERT(rectified != nullptr && params != nullptr && record != nullptr && line != nullptr);
    *line = EdgeletLine{};
    KOC_RETURN_IF_FAILED(detectLineEdgelets(rectified, &record->edgelets, &line->frame));
    record->isValid = 1;
    int32_t count = 0;
    KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_getNumEdgelets(&record->edgelets, &count));
    if (count == 0) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(searchRotationEdgelets(&record->edgelets, params, 0, &line->rotation));
    KOC_RETURN_IF_FAILED(searchShearEdgelets(&record->edgelets, params, line->rotation, &line->shear));
    KOC_RETURN_IF_FAILED(findEdgeletBand(&record->edgelets, line->rotation, line->segment, &line->height));
    line->isFound = true;
    return 0;
}

}  // namespace koc::lineextract
