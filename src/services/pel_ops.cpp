// pel_ops.cpp: pixel statistics, table maps, window fills, and the
// two-class threshold and tail levels of a histogram.
#include "services/pel_ops.hpp"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "services/guard.hpp"
#include "services/attention.hpp"
#include "services/image_store.hpp"

namespace koc::services {

int32_t newImageLike(const kimg_image* src, int32_t depth, kimg_image* out) noexcept
{
    KOC_ASSERT(src != nullptr);
    KOC_ASSERT(out != nullptr && out != src);
    kstd_rect32 window;
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(src, &window));
    KOC_RETURN_IF_FAILED(kimg_image_assignNewRect(out, depth, &window));
    return kimg_image_copyXforms(out, src);
}

int32_t newImageLikeForOverwrite(const kimg_image* src, int32_t depth, kimg_image* out) noexcept
{
    KOC_ASSERT(src != nullptr);
    KOC_ASSERT(out != nullptr && out != src);
    kstd_rect32 window;
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(src, &window));
    KOC_RETURN_IF_FAILED(image::assignNewForOverwrite(out, depth, window));
    return kimg_image_copyXforms(out, src);
}

template <class Pixel>
int32_t pelHistogram(const kimg_image* image, uint32_t* bins) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(bins != nullptr);
    PixelRows<const Pixel> src;
    KOC_RETURN_IF_FAILED(viewPixels(image, &src));
    std::fill_n(bins, PixelTraits<Pixel>::kLevels, 0u);
    if constexpr (sizeof(Pixel) == 1) {
        // Four interleaved partial histograms: a run of equal pixels (a flat
        // ground is mostly one level) no longer makes every increment wait
        // for the previous one's store.
        uint32_t part[4][256] = {};
        AttentionPacer pace;
        for (int32_t j = 0; j < src.height; ++j) {
            KOC_RETURN_IF_FAILED(pace.add(src.width));
            const Pixel* row = src.row(j);
            int32_t i = 0;
            for (; i + 4 <= src.width; i += 4) {
                ++part[0][row[i]];
                ++part[1][row[i + 1]];
                ++part[2][row[i + 2]];
                ++part[3][row[i + 3]];
            }
            for (; i < src.width; ++i) {
                ++part[0][row[i]];
            }
        }
        for (size_t v = 0; v < 256; ++v) {
            bins[v] = part[0][v] + part[1][v] + part[2][v] + part[3][v];
        }
    } else {
        AttentionPacer pace;
        for (int32_t j = 0; j < src.height; ++j) {
            KOC_RETURN_IF_FAILED(pace.add(src.width));
            const Pixel* row = src.row(j);
            for (int32_t i = 0; i < src.width; ++i) {
                ++bins[row[i]];
            }
        }
    }
    return 0;
}

namespace {

#if defined(__SSE2__)
// Adds the sum and the sum of squares of the row's leading multiple of 16
// pixels and returns how many it took. Sums of absolute differences against
// zero give the sums; pairwise multiply-adds of the pixels widened to 16
// bits give the squares in 32-bit lanes, each lane at most 2^18 per step and
// so flushed to 64 bits every 4096 steps, long before it could wrap.
int32_t sumAndSumSqRow8(const uint8_t* row, int32_t width, uint64_t* sum, uint64_t* sumSq) noexcept
{
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    uint64_t squares = 0;
    int32_t i = 0;
    while (i + 16 <= width) {
        __m128i sq = zero;
        for (int32_t step = 0; step < 4096 && i + 16 <= width; ++step, i += 16) {
            const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
            sums = _mm_add_epi64(sums, _mm_sad_epu8(px, zero));
            const __m128i low = _mm_unpacklo_epi8(px, zero);
            const __m128i high = _mm_unpackhi_epi8(px, zero);
            sq = _mm_add_epi32(sq, _mm_add_epi32(_mm_madd_epi16(low, low), _mm_madd_epi16(high, high)));
        }
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sq);
        squares += uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
    }
    alignas(16) uint64_t halves[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(halves), sums);
    *sum += halves[0] + halves[1];
    *sumSq += squares;
    return i;
}
#endif

}  // namespace

template <class Pixel>
int32_t pelSumAndSumSq(const kimg_image* image, uint64_t* count, uint64_t* sum, uint64_t* sumSq) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(count != nullptr && sum != nullptr && sumSq != nullptr);
    PixelRows<const Pixel> src;
    KOC_RETURN_IF_FAILED(viewPixels(image, &src));
    uint64_t s = 0;
    uint64_t s2 = 0;
    AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const Pixel* row = src.row(j);
        int32_t i = 0;
#if defined(__SSE2__)
        if constexpr (sizeof(Pixel) == 1) {
            i = sumAndSumSqRow8(row, src.width, &s, &s2);
        }
#endif
        // Row sums stay far below 2^64 (width < 2^31, squares < 2^32).
        for (; i < src.width; ++i) {
            const uint64_t v = row[i];
            s += v;
            s2 += v * v;
        }
    }
    *count = static_cast<uint64_t>(src.width) * static_cast<uint64_t>(src.height);
    *sum = s;
    *sumSq = s2;
    return 0;
}

template <class Pixel>
int32_t pelMinMax(const kimg_image* image, Pixel* minValue, Pixel* maxValue) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(minValue != nullptr && maxValue != nullptr);
    PixelRows<const Pixel> src;
    KOC_RETURN_IF_FAILED(viewPixels(image, &src));
    if (src.width == 0 || src.height == 0) {
        *minValue = 0;
        *maxValue = 0;
        return 0;
    }
    Pixel lo = src.row(0)[0];
    Pixel hi = lo;
    AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const Pixel* row = src.row(j);
        for (int32_t i = 0; i < src.width; ++i) {
            lo = std::min(lo, row[i]);
            hi = std::max(hi, row[i]);
        }
    }
    *minValue = lo;
    *maxValue = hi;
    return 0;
}

template <class Pixel>
int32_t pelMap(const kimg_image* srcImage, const Pixel* table, kimg_image* dstImage) noexcept
{
    KOC_ASSERT(srcImage != nullptr);
    KOC_ASSERT(table != nullptr);
    KOC_ASSERT(dstImage != nullptr);
    PixelRows<const Pixel> src;
    KOC_RETURN_IF_FAILED(viewPixels(srcImage, &src));
    ScopedImage fresh;
    KOC_RETURN_IF_FAILED(newImageLikeForOverwrite(srcImage, PixelTraits<Pixel>::kDepth, fresh.get()));
    PixelRows<Pixel> dst;
    KOC_RETURN_IF_FAILED(viewPixels(fresh.get(), &dst));
    AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const Pixel* from = src.row(j);
        Pixel* to = dst.row(j);
        for (int32_t i = 0; i < src.width; ++i) {
            to[i] = table[from[i]];
        }
    }
    return kimg_image_assign(dstImage, fresh.get());
}

template <class Pixel>
int32_t pelSetWindow(kimg_image* image, const kstd_rect32& rect, Pixel value) noexcept
{
    KOC_ASSERT(image != nullptr);
    kimg_window w;
    KOC_RETURN_IF_FAILED(kimg_window_initWindow(&w, image, &rect, 0));
    if (w.depth != PixelTraits<Pixel>::kDepth) {
        return KOC_E_IMAGE_DEPTH;
    }
    auto* first = static_cast<Pixel*>(w.pixels);
    AttentionPacer pace;
    for (int32_t j = 0; j < w.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(w.width));
        std::fill_n(first + j * w.pitch, w.width, value);
    }
    return 0;
}

#define KOC_INSTANTIATE_PEL_OPS(Pixel)                                                                     \
    template int32_t pelHistogram<Pixel>(const kimg_image*, uint32_t*) noexcept;                           \
    template int32_t pelSumAndSumSq<Pixel>(const kimg_image*, uint64_t*, uint64_t*, uint64_t*) noexcept;   \
    template int32_t pelMinMax<Pixel>(const kimg_image*, Pixel*, Pixel*) noexcept;                         \
    template int32_t pelMap<Pixel>(const kimg_image*, const Pixel*, kimg_image*) noexcept;                 \
    template int32_t pelSetWindow<Pixel>(kimg_image*, const kstd_rect32&, Pixel) noexcept;
KOC_INSTANTIATE_PEL_OPS(uint8_t)
KOC_INSTANTIATE_PEL_OPS(uint16_t)
#undef KOC_INSTANTIATE_PEL_OPS

int32_t threshFromHistogram(const uint32_t* hist, int32_t firstBin, int32_t binCount,
                            ThresholdResult* result) noexcept
{
    KOC_ASSERT(hist != nullptr);
    KOC_ASSERT(result != nullptr);
    *result = ThresholdResult{};
    if (firstBin < 0 || binCount <= 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    const int32_t end = firstBin + binCount;
    // Counts and level sums stay exact in 64 bits (2^32 pixels of level < 2^31).
    uint64_t n = 0;
    uint64_t s = 0;
    for (int32_t v = firstBin; v < end; ++v) {
        n += hist[v];
        s += uint64_t{hist[v]} * static_cast<uint64_t>(v);
    }
    // Only cuts between two occupied levels change the partition, so the scan
    // visits those; each is scored by n0 * n1 * (m0 - m1)^2, the between-class
    // variance times n^2.
    uint64_t n0 = 0;
    uint64_t s0 = 0;
    double best = -1.0;
    int32_t lastLower = -1;
    int32_t firstUpper = -1;
    int32_t previous = -1;
    for (int32_t v = firstBin; v < end; ++v) {
        const uint32_t h = hist[v];
        if (h == 0) {
            continue;
        }
        if (previous >= 0) {
            const uint64_t n1 = n - n0;
            const double m0 = static_cast<double>(s0) / static_cast<double>(n0);
            const double m1 = static_cast<double>(s - s0) / static_cast<double>(n1);
            const double score = static_cast<double>(n0) * static_cast<double>(n1) * (m1 - m0) * (m1 - m0);
            if (score > best) {
                best = score;
                lastLower = previous;
                firstUpper = v;
            }
        }
        n0 += h;
        s0 += uint64_t{h} * static_cast<uint64_t>(v);
        previous = v;
    }
    if (firstUpper < 0) {
        return 0;  // a single occupied level (or none): one class would be empty
    }
    const int32_t t = (lastLower + 1 + firstUpper) / 2;
    // Class statistics by a second pass about each mean, which keeps the
    // deviations free of the cancellation of sumSq - n * mean^2.
    double count[2] = {0.0, 0.0};
    double sum[2] = {0.0, 0.0};
    for (int32_t v = firstBin; v < end; ++v) {
        const int c = v < t ? 0 : 1;
        count[c] += hist[v];
        sum[c] += static_cast<double>(hist[v]) * v;
    }
    const double mean[2] = {sum[0] / count[0], sum[1] / count[1]};
    double dev[2] = {0.0, 0.0};
    for (int32_t v = firstBin; v < end; ++v) {
        const int c = v < t ? 0 : 1;
        const double d = v - mean[c];
        dev[c] += static_cast<double>(hist[v]) * d * d;
    }
    result->found = 1;
    result->threshold = t;
    result->lowerCount = count[0];
    result->lowerMean = mean[0];
    result->lowerStdDev = std::sqrt(dev[0] / count[0]);
    result->upperCount = count[1];
    result->upperMean = mean[1];
    result->upperStdDev = std::sqrt(dev[1] / count[1]);
    return 0;
}

int32_t momentTails(const uint32_t* hist, int32_t binCount, double lowerFraction, double upperFraction,
                    int32_t order, int32_t* lower, int32_t* upper) noexcept
{
    KOC_ASSERT(hist != nullptr);
    KOC_ASSERT(lower != nullptr && upper != nullptr);
    *lower = 0;
    *upper = 0;
    if (binCount <= 0 || order < 0 || !(lowerFraction >= 0.0 && lowerFraction < 1.0) ||
        !(upperFraction >= 0.0 && upperFraction < 1.0)) {
        return KOC_E_BAD_ARGUMENT;
    }
    const auto weight = [&](int32_t v) {
        double w = hist[v];
        for (int32_t k = 0; k < order; ++k) {
            w *= v;
        }
        return w;
    };
    double total = 0.0;
    for (int32_t v = 0; v < binCount; ++v) {
        total += weight(v);
    }
    if (total <= 0.0) {
        return KOC_E_HISTOGRAM_NO_TAIL;
    }
    // Strict comparisons make a fraction of 0 land on the first level that
    // carries weight, not on an empty level before it.
    const double lowerLimit = lowerFraction * total;
    double below = 0.0;
    int32_t lo = binCount - 1;
    for (int32_t v = 0; v < binCount; ++v) {
        below += weight(v);
        if (below > lowerLimit) {
            lo = v;
            break;
        }
    }
    const double upperLimit = upperFraction * total;
    double above = 0.0;
    int32_t hi = lo;  // reached only if rounding keeps the backward sum at the limit
    for (int32_t v = binCount - 1; v >= 0; --v) {
        above += weight(v);
        if (above > upperLimit) {
            hi = v;
            break;
        }
    }
    *lower = lo;
    *upper = hi;
    return 0;
}

}  // namespace koc::services
