// normalize.cpp: the per-mode normalisers, the stretch table, the polarity
// decision by border blobs, and the mask fill. One template body per design;
// the 8- and 16-bit differences are the centre level, the top level, the
// fixed-point unit of the local-contrast gains and, for 16 bit, the
// odd-kernel local-range normaliser in place of the mean subtraction.
#include "lineextract/normalize.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "services/attention.hpp"
#include "services/guard.hpp"
#include "services/blob_label.hpp"
#include "services/local_filter.hpp"
#include "services/pel_ops.hpp"

namespace koc::lineextract {

namespace {

using services::PixelRows;
using services::PixelTraits;
using services::ScopedImage;
using services::Vector;

// Nearest integer, halves away from zero.
double nearest(double v) noexcept
{
    double r = 0.0;
    kmath_double_round(v, &r);
    return r;
}

// Fixed-point shift of the local-contrast step: gains are in units of
// 2^(shift - 1) and the outer slope is gain / 2^shift, i.e. half the gain.
template <class Pixel>
constexpr int kContrastShift = sizeof(Pixel) == 1 ? 16 : 8;

bool isLocalMode(uint32_t mode) noexcept
{
    return mode == kNormalizeLocalMean || mode == kNormalizeLocalContrast;
}

// The stretch slope in 16.16 fixed point: 1.5 deviations over the longer
// side of the threshold, at most the centre level. spread > 0.
template <class Pixel>
int64_t stretchGain(int32_t t, double spread) noexcept
{
    constexpr int32_t kCentre = PixelTraits<Pixel>::kCentre;
    constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
    const int32_t m = std::max(t, kMax - t);
    const double g = std::min(2.0 * m / (3.0 * spread), static_cast<double>(kCentre));
    return static_cast<int64_t>(g * 65536.0 + 0.5);
}

template <class Pixel>
int32_t stretchLutT(int32_t t, double spread, Pixel* table) noexcept
{
    constexpr int32_t kCentre = PixelTraits<Pixel>::kCentre;
    constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
    KOC_ASSERT(table != nullptr);
    if (t < 0 || t > kMax || !(spread >= 0.0)) {
        return KOC_E_BAD_ARGUMENT;
    }
    if (spread == 0.0) {
        std::fill_n(table, PixelTraits<Pixel>::kLevels, static_cast<Pixel>(kCentre));
        return 0;
    }
    const int64_t gain = stretchGain<Pixel>(t, spread);
    for (int32_t v = 0; v <= kMax; ++v) {
        int64_t out = kCentre;
        if (v < t) {
            out = kCentre - std::min<int64_t>(((t - v) * gain + 0x8000) >> 16, kCentre);
        } else if (v > t) {
            out = kCentre + std::min<int64_t>(((v - t) * gain + 0x8000) >> 16, kMax - kCentre);
        }
        table[v] = static_cast<Pixel>(out);
    }
    return 0;
}

#if defined(__SSE2__)
// One 8-bit row through the stretch table, computed instead of looked up
// (a byte lookup per pixel is the one pass here that does not vectorise).
// The table's step (d * gain + 0x8000) >> 16, with d = |v - t| < 256 and gain
// at most 128 * 2^16, splits at the 16-bit boundary of the gain: d * (gain >>
// 16), plus the high half of d * (gain & 0xFFFF), plus one where its low half
// is at least 0x8000. Every partial result fits unsigned 16 bits, and the
// clamp is min(r, cap) = r - max(r - cap, 0) in unsigned saturation. The
// last pixels of the row come from the table itself.
void stretchRow8(const uint8_t* from, uint8_t* to, int32_t width, int32_t t, int64_t gain,
                 const uint8_t* table) noexcept
{
    constexpr int32_t kCentre = PixelTraits<uint8_t>::kCentre;
    const __m128i zero = _mm_setzero_si128();
    const __m128i threshold = _mm_set1_epi16(static_cast<int16_t>(t));
    const __m128i gainHigh = _mm_set1_epi16(static_cast<int16_t>(gain >> 16));
    const __m128i gainLow = _mm_set1_epi16(static_cast<int16_t>(static_cast<uint16_t>(gain & 0xFFFF)));
    const __m128i centre = _mm_set1_epi16(kCentre);
    const __m128i capBelow = _mm_set1_epi16(kCentre);
    const __m128i capAbove = _mm_set1_epi16(PixelTraits<uint8_t>::kMax - kCentre);
    const auto stretch = [&](__m128i v) {
        const __m128i diff = _mm_sub_epi16(v, threshold);
        const __m128i below = _mm_cmpgt_epi16(threshold, v);
        const __m128i d = _mm_max_epi16(diff, _mm_sub_epi16(zero, diff));
        __m128i r = _mm_add_epi16(_mm_mullo_epi16(d, gainHigh), _mm_mulhi_epu16(d, gainLow));
        r = _mm_add_epi16(r, _mm_srli_epi16(_mm_mullo_epi16(d, gainLow), 15));
        const __m128i cap = _mm_or_si128(_mm_and_si128(below, capBelow), _mm_andnot_si128(below, capAbove));
        r = _mm_sub_epi16(r, _mm_subs_epu16(r, cap));
        return _mm_or_si128(_mm_and_si128(below, _mm_sub_epi16(centre, r)),
                            _mm_andnot_si128(below, _mm_add_epi16(centre, r)));
    };
    int32_t i = 0;
    for (; i + 16 <= width; i += 16) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i out =
            _mm_packus_epi16(stretch(_mm_unpacklo_epi8(px, zero)), stretch(_mm_unpackhi_epi8(px, zero)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), out);
    }
    for (; i < width; ++i) {
        to[i] = table[from[i]];
    }
}

// The whole 8-bit image through stretchRow8, into a fresh image.
int32_t stretchRows8(const kimg_image* image, int32_t t, int64_t gain, const uint8_t* table, kimg_image* out)
{
    PixelRows<const uint8_t> src;
    KOC_RETURN_IF_FAILED(services::viewPixels(image, &src));
    ScopedImage fresh;
    KOC_RETURN_IF_FAILED(services::newImageLikeForOverwrite(image, KIMG_DEPTH_8, fresh.get()));
    PixelRows<uint8_t> dst;
    KOC_RETURN_IF_FAILED(services::viewPixels(fresh.get(), &dst));
    services::AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        stretchRow8(src.row(j), dst.row(j), src.width, t, gain, table);
    }
    return kimg_image_assign(out, fresh.get());
}
#endif

// Maps image through stretchLut(t, spread). Runs inside guarded.
template <class Pixel>
int32_t mapThroughStretch(const kimg_image* image, int32_t t, double spread, kimg_image* out)
{
    Vector<Pixel> table(static_cast<size_t>(PixelTraits<Pixel>::kLevels));
    KOC_RETURN_IF_FAILED(stretchLutT<Pixel>(t, spread, table.data()));
#if defined(__SSE2__)
    if constexpr (sizeof(Pixel) == 1) {
        if (spread > 0.0) {
            return stretchRows8(image, t, stretchGain<Pixel>(t, spread), table.data(), out);
        }
    }
#endif
    return services::pelMap<Pixel>(image, table.data(), out);
}

// Mode 2: stretch about the two-class threshold with the deviation of all
// pixels, pooled from the two classes as the threshold reports them.
template <class Pixel>
int32_t globalStretch(const kimg_image* image, kimg_image* out)
{
    Vector<uint32_t> hist(static_cast<size_t>(PixelTraits<Pixel>::kLevels));
    KOC_RETURN_IF_FAILED(services::pelHistogram<Pixel>(image, hist.data()));
    services::ThresholdResult r;
    KOC_RETURN_IF_FAILED(services::threshFromHistogram(hist.data(), 0, PixelTraits<Pixel>::kLevels, &r));
    if (r.found == 0) {
        return kimg_image_assignCopy(out, image);
    }
    const double n = r.lowerCount + r.upperCount;
    const double sum = r.lowerCount * r.lowerMean + r.upperCount * r.upperMean;
    const double sumSq = r.lowerCount * (r.lowerStdDev * r.lowerStdDev + r.lowerMean * r.lowerMean) +
                         r.upperCount * (r.upperStdDev * r.upperStdDev + r.upperMean * r.upperMean);
    const double spread = std::sqrt(services::sampleVariance(n, sum, sumSq));
    return mapThroughStretch<Pixel>(image, r.threshold, spread, out);
}

// Stretches a centred image about a threshold pushed off the centre by 0.3
// deviations towards the background side, so the faint fringe of the
// background falls with it rather than with the marks.
template <class Pixel>
int32_t polarityStretch(const kimg_image* centred, uint32_t polarity, kimg_image* out)
{
    constexpr int32_t kCentre = PixelTraits<Pixel>::kCentre;
    constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
    uint64_t n = 0;
    uint64_t sum = 0;
    uint64_t sumSq = 0;
    KOC_RETURN_IF_FAILED(services::pelSumAndSumSq<Pixel>(centred, &n, &sum, &sumSq));
    const double sigma = std::sqrt(services::sampleVariance(static_cast<double>(n), static_cast<double>(sum),
                                                            static_cast<double>(sumSq)));
    const auto off = std::max(static_cast<int32_t>(nearest(0.3 * sigma)), 1);
    int32_t t = kCentre;
    switch (polarity) {
    case kPolarityDarkOnLight:
        t = std::max(kCentre - off, 1);
        break;
    case kPolarityLightOnDark:
        t = std::min(kCentre + off, kMax);
        break;
    case kPolarityUndecided:
        break;
    default:
        return KOC_E_POLARITY;
    }
    return mapThroughStretch<Pixel>(centred, t, sigma, out);
}

// The local-mean-centred image: 8 bit by mean subtraction, 16 bit by the
// local-range normaliser, whose kernel must be odd.
template <class Pixel>
int32_t centreByLocalMean(const kimg_image* image, int32_t kw, int32_t kh, kimg_image* out) noexcept
{
    if constexpr (sizeof(Pixel) == 1) {
        return services::pelSubLocalMeanShiftAdd128_8(image, kw, kh, out);
    } else {
        return services::normalizeLocalRange16(image, kw | 1, kh | 1, out);
    }
}

// Mode 8: within a dead band of max(sigma, 6) grey levels around the local
// mean the slope is 1/2; beyond it the slope is 1/2 * gain, where the gain
// lifts a region's local contrast towards the strongest deviation present
// (sigmaMax). Deviations up to the floor (0.3 of the strong tail, at least 6)
// keep gain 1, so noise in flat regions is not amplified.
template <class Pixel>
int32_t localContrast(const kimg_image* image, int32_t kw, int32_t kh, kimg_image* out)
{
    constexpr int32_t kCentre = PixelTraits<Pixel>::kCentre;
    constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
    constexpr int32_t kLevels = PixelTraits<Pixel>::kLevels;
    constexpr int kShift = kContrastShift<Pixel>;
    constexpr int64_t kUnitGain = int64_t{1} << (kShift - 1);
    constexpr int32_t kMinBand = 6;

    ScopedImage meanImage;
    ScopedImage devImage;
    int32_t scale = 0;
    KOC_RETURN_IF_FAILED(
        services::pelLocalMeanAndStdDev<Pixel>(image, kw, kh, meanImage.get(), devImage.get(), &scale));
    if (scale != 65536) {
        return KOC_E_INTERNAL;  // the deviations must be in grey levels
    }

    Vector<uint32_t> hist(static_cast<size_t>(kLevels));
    KOC_RETURN_IF_FAILED(services::pelHistogram<Pixel>(devImage.get(), hist.data()));
    int32_t lowTail = 0;
    int32_t highTail = 0;
    const int32_t rc = services::momentTails(hist.data(), kLevels, 0.0, 0.05, 2, &lowTail, &highTail);
    if (rc == KOC_E_HISTOGRAM_NO_TAIL) {
        highTail = 0;
    } else if (rc < 0) {
        return rc;
    }
    const auto floorLevel = std::max(static_cast<int32_t>(nearest(0.3 * highTail)), kMinBand);
    int32_t sigmaMax = 0;
    for (int32_t s = kLevels - 1; s > 0; --s) {
        if (hist[static_cast<size_t>(s)] != 0) {
            sigmaMax = s;
            break;
        }
    }
    Vector<int32_t> gain(static_cast<size_t>(kLevels), static_cast<int32_t>(kUnitGain));
    for (int32_t s = floorLevel + 1; s < sigmaMax; ++s) {
        gain[static_cast<size_t>(s)] =
            static_cast<int32_t>(nearest(static_cast<double>(sigmaMax) / s * static_cast<double>(kUnitGain)));
    }

    PixelRows<const Pixel> src;
    PixelRows<const Pixel> mean;
    PixelRows<const Pixel> dev;
    KOC_RETURN_IF_FAILED(services::viewPixels(image, &src));
    KOC_RETURN_IF_FAILED(services::viewPixels(meanImage.get(), &mean));
    KOC_RETURN_IF_FAILED(services::viewPixels(devImage.get(), &dev));
    ScopedImage fresh;
    KOC_RETURN_IF_FAILED(services::newImageLikeForOverwrite(image, PixelTraits<Pixel>::kDepth, fresh.get()));
    PixelRows<Pixel> dst;
    KOC_RETURN_IF_FAILED(services::viewPixels(fresh.get(), &dst));
    for (int32_t j = 0; j < src.height; ++j) {
        if (j % 64 == 0) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
        }
        const Pixel* p = src.row(j);
        const Pixel* m = mean.row(j);
        const Pixel* s = dev.row(j);
        Pixel* o = dst.row(j);
        for (int32_t i = 0; i < src.width; ++i) {
            const int64_t d = int64_t{p[i]} - m[i];
            const int64_t b = std::max<int64_t>(s[i], kMinBand);
            const int64_t g = gain[s[i]];
            int64_t v = 0;
            if (d > b) {
                v = std::min<int64_t>(kCentre + (((b << (kShift - 1)) + (d - b) * g) >> kShift), kMax);
            } else if (d < -b) {
                v = std::max<int64_t>(kCentre + (((d + b) * g - (b << (kShift - 1))) >> kShift), 0);
            } else {
                v = std::clamp<int64_t>(kCentre + (d >> 1), 0, kMax);
            }
            o[i] = static_cast<Pixel>(v);
        }
    }
    return kimg_image_assign(out, fresh.get());
}

template <class Pixel>
int32_t normalizeByModeT(const kimg_image* image, uint32_t mode, double height, uint32_t polarity, kimg_image* out,
                         uint32_t secondPolarity, kimg_image* secondOut) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(out != nullptr && out != image);
    KOC_ASSERT(secondOut != out && secondOut != image);
    int32_t kw = 0;
    int32_t kh = 0;
    KOC_RETURN_IF_FAILED(localMeanKernelSize(height, &kw, &kh));
    return guarded([&]() -> int32_t {
        switch (mode) {
        case kNormalizeCopy:
            KOC_RETURN_IF_FAILED(kimg_image_assignCopy(out, image));
            break;
        case kNormalizeGlobalStretch:
            KOC_RETURN_IF_FAILED(globalStretch<Pixel>(image, out));
            break;
        case kNormalizeLocalMean:
        case kNormalizeLocalContrast: {
            ScopedImage centred;
            if (mode == kNormalizeLocalMean) {
                KOC_RETURN_IF_FAILED(centreByLocalMean<Pixel>(image, kw, kh, centred.get()));
            } else {
                KOC_RETURN_IF_FAILED(localContrast<Pixel>(image, kw, kh, centred.get()));
            }
            KOC_RETURN_IF_FAILED(polarityStretch<Pixel>(centred.get(), polarity, out));
            if (secondOut != nullptr) {
                return polarityStretch<Pixel>(centred.get(), secondPolarity, secondOut);
            }
            return 0;
        }
        default:
            return KOC_E_NORMALIZATION_MODE;
        }
        return secondOut != nullptr ? kimg_image_assign(secondOut, out) : 0;
    });
}

template <class Pixel>
int32_t fillOutsideLineMaskT(kimg_image* image, const kimg_imageRle* mask, Pixel value) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(mask != nullptr);
    kstd_rect32 r;
    const int32_t* rowStart = nullptr;
    const kimg_run* runs = nullptr;
    KOC_RETURN_IF_FAILED(kimg_imageRle_getEncoding(mask, &r, &rowStart, &runs));
    for (int32_t k = 0; k < r.height; ++k) {
        KOC_ASSERT(rowStart[k + 1] - rowStart[k] == 1);
    }
    PixelRows<Pixel> px;
    KOC_RETURN_IF_FAILED(services::viewPixels(image, &px));
    const int32_t top = px.y;
    const int32_t bottom = px.y + px.height;  // exclusive
    const int32_t left = px.x;
    const int32_t maskTop = std::clamp(r.y, top, bottom);
    const int32_t maskBottom = std::clamp(r.y + r.height, maskTop, bottom);
    if (maskTop > top) {
        KOC_RETURN_IF_FAILED(services::pelSetWindow<Pixel>(image, {left, top, px.width, maskTop - top}, value));
    }
    if (bottom > maskBottom) {
        KOC_RETURN_IF_FAILED(
            services::pelSetWindow<Pixel>(image, {left, maskBottom, px.width, bottom - maskBottom}, value));
    }
    for (int32_t y = maskTop; y < maskBottom; ++y) {
        const kimg_run& run = runs[rowStart[y - r.y]];
        Pixel* row = px.row(y - top);
        // Window-relative run ends, clipped to the window.
        const int32_t runStart = std::clamp(run.x - left, 0, px.width);
        const int32_t runEnd = std::clamp(run.x + run.length - left, runStart, px.width);
        std::fill(row, row + runStart, value);
        std::fill(row + runEnd, row + px.width, value);
    }
    return 0;
}

template <class Pixel>
int32_t normalizeLineImageT(const kimg_image* lineImage, const kimg_imageRle* lineMask,
                            const koc_lineExtractParams* params, double height, uint32_t* polarityOut,
                            kimg_image* normalizedOut) noexcept
{
    KOC_ASSERT(lineImage != nullptr);
    KOC_ASSERT(lineMask != nullptr);
    KOC_ASSERT(params != nullptr);
    KOC_ASSERT(polarityOut != nullptr);
    KOC_ASSERT(normalizedOut != nullptr && normalizedOut != lineImage);
    const uint32_t mode = params->normalizationMode;
    const uint32_t polarity = params->polarity;
    *polarityOut = polarity;
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(normalizedOut));
    if (isLocalMode(mode) && !(height > 0.0)) {
        return 0;  // no text height: no local normalisation, no line
    }
    ScopedImage result;
    uint32_t decided = polarity;
    if (polarity == kPolarityDarkOnLight || polarity == kPolarityLightOnDark) {
        KOC_RETURN_IF_FAILED(normalizeByModeT<Pixel>(lineImage, mode, height, polarity, result.get(),
                                                     kPolarityUndecided, nullptr));
    } else if (polarity == kPolarityUndecided) {
        // The candidate is centred but not yet stretched in the local modes,
        // so the decision does not depend on a polarity guessed beforehand.
        ScopedImage candidate;
        if (isLocalMode(mode)) {
            int32_t kw = 0;
            int32_t kh = 0;
            KOC_RETURN_IF_FAILED(localMeanKernelSize(height, &kw, &kh));
            KOC_RETURN_IF_FAILED(centreByLocalMean<Pixel>(lineImage, kw, kh, candidate.get()));
        } else {
            KOC_RETURN_IF_FAILED(normalizeByModeT<Pixel>(lineImage, mode, height, kPolarityDarkOnLight,
                                                         candidate.get(), kPolarityUndecided, nullptr));
        }
        KOC_RETURN_IF_FAILED(decidePolarity(candidate.get(), candidate.get(), &decided));
        if (decided == kPolarityUndecided || !isLocalMode(mode)) {
            KOC_RETURN_IF_FAILED(kimg_image_assign(result.get(), candidate.get()));
        } else if (mode == kNormalizeLocalMean) {
            // The candidate is the mode's centred image already: only the
            // stretch for the decided polarity is left.
            KOC_RETURN_IF_FAILED(
                guarded([&]() { return polarityStretch<Pixel>(candidate.get(), decided, result.get()); }));
        } else {
            KOC_RETURN_IF_FAILED(normalizeByModeT<Pixel>(lineImage, mode, height, decided, result.get(),
                                                         kPolarityUndecided, nullptr));
        }
    } else {
        return KOC_E_POLARITY;
    }
    int32_t maskBound = 0;
    KOC_RETURN_IF_FAILED(kimg_imageRle_getIsBound(lineMask, &maskBound));
    if (decided != kPolarityUndecided && maskBound != 0) {
        const auto background =
            static_cast<Pixel>(decided == kPolarityLightOnDark ? 0 : PixelTraits<Pixel>::kMax);
        KOC_RETURN_IF_FAILED(fillOutsideLineMaskT<Pixel>(result.get(), lineMask, background));
    }
    KOC_RETURN_IF_FAILED(kimg_image_assign(normalizedOut, result.get()));
    *polarityOut = decided;
    return 0;
}

}  // namespace

int32_t localMeanKernelSize(double height, int32_t* width, int32_t* kernelHeight) noexcept
{
    KOC_ASSERT(width != nullptr);
    KOC_ASSERT(kernelHeight != nullptr);
    int32_t k = 0;
    if (height >= 0.0) {
        const double r = nearest(height * 0.5);
        k = r < 2.0 ? 1 : static_cast<int32_t>(std::min(r, static_cast<double>(std::numeric_limits<int32_t>::max())));
    }
    *width = k;
    *kernelHeight = k;
    return 0;
}

int32_t localContrastImage8(const kimg_image* image8, int32_t kw, int32_t kh, kimg_image* out) noexcept
{
    KOC_ASSERT(image8 != nullptr);
    KOC_ASSERT(out != nullptr && out != image8);
    return guarded([&]() -> int32_t { return localContrast<uint8_t>(image8, kw, kh, out); });
}

int32_t localContrastImage16(const kimg_image* image16, int32_t kw, int32_t kh, kimg_image* out) noexcept
{
    KOC_ASSERT(image16 != nullptr);
    KOC_ASSERT(out != nullptr && out != image16);
    return guarded([&]() -> int32_t { return localContrast<uint16_t>(image16, kw, kh, out); });
}

int32_t stretchLut(int32_t threshold, double spread, uint8_t* table256) noexcept
{
    return stretchLutT<uint8_t>(threshold, spread, table256);
}

int32_t stretchLut(int32_t threshold, double spread, uint16_t* table65536) noexcept
{
    return stretchLutT<uint16_t>(threshold, spread, table65536);
}

int32_t stretchImage8(const kimg_image* image8, int32_t threshold, double spread, kimg_image* out) noexcept
{
    KOC_ASSERT(image8 != nullptr);
    KOC_ASSERT(out != nullptr);
    return guarded([&]() { return mapThroughStretch<uint8_t>(image8, threshold, spread, out); });
}

int32_t normalizeByMode8(const kimg_image* image8, uint32_t mode, double height, uint32_t polarity, kimg_image* out,
                         uint32_t secondPolarity, kimg_image* secondOut) noexcept
{
    return normalizeByModeT<uint8_t>(image8, mode, height, polarity, out, secondPolarity, secondOut);
}

int32_t normalizeByMode16(const kimg_image* image16, uint32_t mode, double height, uint32_t polarity,
                          kimg_image* out, uint32_t secondPolarity, kimg_image* secondOut) noexcept
{
    return normalizeByModeT<uint16_t>(image16, mode, height, polarity, out, secondPolarity, secondOut);
}

int32_t borderBlobArea(const kimg_image* image, int32_t threshold, uint32_t blobPolarityFlag, double* area) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(area != nullptr);
    *area = 0.0;
    int32_t depth = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getDepth(image, &depth));
    switch (depth) {
    case KIMG_DEPTH_8:
        return services::borderComponentArea<uint8_t>(image, threshold, blobPolarityFlag, area);
    case KIMG_DEPTH_16:
        return services::borderComponentArea<uint16_t>(image, threshold, blobPolarityFlag, area);
    case 0:
        return KOC_E_IMAGE_UNBOUND;
    default:
        return KOC_E_IMAGE_DEPTH;
    }
}

int32_t decidePolarity(const kimg_image* a, const kimg_image* b, uint32_t* polarity) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr);
    KOC_ASSERT(polarity != nullptr);
    int32_t depth = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getDepth(a, &depth));
    const int32_t centre = depth == KIMG_DEPTH_16 ? PixelTraits<uint16_t>::kCentre : PixelTraits<uint8_t>::kCentre;
    const int32_t top = depth == KIMG_DEPTH_16 ? PixelTraits<uint16_t>::kMax : PixelTraits<uint8_t>::kMax;
    double areaA = 0.0;
    double areaB = 0.0;
    const int32_t aboveThreshold = std::max(centre - 1, 1);
    const int32_t belowThreshold = std::min(centre + 1, top);
    if (a == b && depth == KIMG_DEPTH_8) {
        KOC_RETURN_IF_FAILED(
            services::borderComponentAreas<uint8_t>(a, aboveThreshold, belowThreshold, &areaA, &areaB));
    } else if (a == b && depth == KIMG_DEPTH_16) {
        KOC_RETURN_IF_FAILED(
            services::borderComponentAreas<uint16_t>(a, aboveThreshold, belowThreshold, &areaA, &areaB));
    } else {
        KOC_RETURN_IF_FAILED(borderBlobArea(a, aboveThreshold, services::kBlobsAboveThreshold, &areaA));
        KOC_RETURN_IF_FAILED(borderBlobArea(b, belowThreshold, services::kBlobsBelowThreshold, &areaB));
    }
    // The side of the centre that owns the border is the background.
    const double diff = areaA - areaB;
    *polarity = diff > 0.0 ? kPolarityDarkOnLight : diff < 0.0 ? kPolarityLightOnDark : kPolarityUndecided;
    return 0;
}

int32_t fillOutsideLineMask8(kimg_image* image8, const kimg_imageRle* mask, uint8_t value) noexcept
{
    return fillOutsideLineMaskT<uint8_t>(image8, mask, value);
}

int32_t fillOutsideLineMask16(kimg_image* image16, const kimg_imageRle* mask, uint16_t value) noexcept
{
    return fillOutsideLineMaskT<uint16_t>(image16, mask, value);
}

int32_t normalizeLineImage(const kimg_image* lineImage8, const kimg_imageRle* lineMask,
                           const koc_lineExtractParams* params, double height, uint32_t* polarityOut,
                           kimg_image* normalizedOut) noexcept
{
    return normalizeLineImageT<uint8_t>(lineImage8, lineMask, params, height, polarityOut, normalizedOut);
}

int32_t normalizeLineImage16(const kimg_image* lineImage16, const kimg_imageRle* lineMask,
                             const koc_lineExtractParams* params, double height, uint32_t* polarityOut,
                             kimg_image* normalizedOut16) noexcept
{
    return normalizeLineImageT<uint16_t>(lineImage16, lineMask, params, height, polarityOut, normalizedOut16);
}

}  // namespace koc::lineextract
