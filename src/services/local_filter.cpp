// local_filter.cpp: separable running box sums with replicated borders, and
// the local mean, deviation and mean-subtraction filters built on them.
#include "services/local_filter.hpp"

#include <algorithm>
#include <cmath>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "services/guard.hpp"
#include "services/attention.hpp"
#include "services/exact_divide.hpp"
#include "services/memory.hpp"
#include "services/pel_ops.hpp"

namespace koc::services {

namespace {

// Keeps kernel sums of squares below 2^62 (2^30 values of at most 2^32).
constexpr int32_t kMaxKernelSide = 1 << 15;

#if defined(__SSE2__)
// out[i] = s + d[1] + ... + d[i] for i in [1, n), where d[i] = p[i + span] -
// p[i], four lanes at a time: an in-register prefix of each four steps, then
// the running total carried in from the lanes before. Wrap-around makes the
// order of the additions free, so the sums equal the one-by-one ones. Returns
// the first index left for the caller.
inline size_t runningStepSums32(const uint32_t* p, size_t span, size_t n, uint32_t s, uint32_t* out) noexcept
{
    __m128i carry = _mm_set1_epi32(static_cast<int32_t>(s));
    size_t i = 1;
    for (; i + 4 <= n; i += 4) {
        __m128i d = _mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + span)),
                                  _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        d = _mm_add_epi32(d, _mm_slli_si128(d, 4));
        d = _mm_add_epi32(d, _mm_slli_si128(d, 8));
        d = _mm_add_epi32(d, carry);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), d);
        carry = _mm_shuffle_epi32(d, 0xFF);
    }
    return i;
}
#endif

// Feeds rowFn(j, sums, sumsSq) with the kernel sums (and, when kSquares, the
// kernel sums of squares) of every pixel of window row j, rows in order.
// Column sums are kept for the current row and slid down one row at a time;
// each row is then slid across. Both slides add the entering value and
// subtract the leaving one in unsigned arithmetic, where wrap-around
// cancels, so the running sums stay exact as long as the whole kernel's sum
// fits Sum (the caller picks 32 bits when it does). Clamped indices
// replicate the border pixels: the column sums live inside a row padded with
// the replicated end values, so the slide across needs no clamping. Must run
// inside koc::guarded (it allocates).
template <class Pixel, bool kSquares, class Sum, class RowFn>
int32_t boxSums(const PixelRows<const Pixel>& src, int32_t kw, int32_t kh, RowFn&& rowFn)
{
    const int32_t width = src.width;
    const int32_t height = src.height;
    if (width == 0 || height == 0) {
        return 0;
    }
    const int32_t left = kw / 2;
    const int32_t right = kw - 1 - left;
    const int32_t above = kh / 2;
    const int32_t below = kh - 1 - above;
    const auto n = static_cast<size_t>(width);
    // Padded slot k holds column clamp(k - left - 1): one slot before the
    // first kernel so that every step reads the value leaving. Columns
    // 0 .. n - 1 are slots left + 1 .. left + n.
    const size_t padded = n + static_cast<size_t>(left) + static_cast<size_t>(right) + 1;
    const size_t first = static_cast<size_t>(left) + 1;
    Vector<Sum> pad(padded, 0);
    Vector<uint64_t> padSq(kSquares ? padded : 0, 0);
    Vector<Sum> sums(n, 0);
    Vector<uint64_t> sumsSq(kSquares ? n : 0, 0);
    Sum* col = pad.data() + first;
    uint64_t* colSq = kSquares ? padSq.data() + first : nullptr;

    const auto clampRow = [&](int32_t j) { return std::clamp(j, 0, height - 1); };
    const auto addRow = [&](int32_t j) {
        const Pixel* row = src.row(clampRow(j));
        for (int32_t i = 0; i < width; ++i) {
            const Sum v = row[i];
            col[i] += v;
            if constexpr (kSquares) {
                colSq[i] += uint64_t{v} * v;
            }
        }
    };
    // Row j + below enters and row j - 1 - above leaves, in one pass.
    const auto slideDown = [&](int32_t entering, int32_t leaving) {
        const Pixel* in = src.row(clampRow(entering));
        const Pixel* out = src.row(clampRow(leaving));
        for (int32_t i = 0; i < width; ++i) {
            col[i] += Sum{in[i]} - Sum{out[i]};
            if constexpr (kSquares) {
                colSq[i] += uint64_t{in[i]} * in[i] - uint64_t{out[i]} * out[i];
            }
        }
    };
    const auto slideAcross = [&]<class T>(Vector<T>& p, Vector<T>& out) {
        std::fill(p.begin(), p.begin() + left + 1, p[first]);
        std::fill(p.begin() + static_cast<ptrdiff_t>(first + n), p.end(), p[first + n - 1]);
        T s = 0;
        for (size_t k = 1; k <= static_cast<size_t>(left + right + 1); ++k) {
            s += p[k];
        }
        out[0] = s;
        const size_t span = static_cast<size_t>(left + right + 1);
        size_t i = 1;
#if defined(__SSE2__)
        if constexpr (std::is_same_v<T, uint32_t>) {
            i = runningStepSums32(p.data(), span, n, s, out.data());
            s = out[i - 1];
        }
#endif
        for (; i < n; ++i) {
            s += p[i + span] - p[i];
            out[i] = s;
        }
    };

    for (int32_t d = -above; d <= below; ++d) {
        addRow(d);
    }
    AttentionPacer pace;
    for (int32_t j = 0; j < height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(width));
        if (j > 0) {
            slideDown(j + below, j - 1 - above);
        }
        slideAcross(pad, sums);
        if constexpr (kSquares) {
            slideAcross(padSq, sumsSq);
        }
        KOC_RETURN_IF_FAILED(rowFn(j, sums.data(), sumsSq.data()));
    }
    return 0;
}

// Whether every kernel sum fits 32 bits, so the sliding sums can be 32-bit.
template <class Pixel>
bool sumsFit32(int32_t kw, int32_t kh) noexcept
{
    return static_cast<uint64_t>(kw) * static_cast<uint64_t>(kh) * PixelTraits<Pixel>::kMax <= 0xffffffffu;
}

// Nearest integer to the population deviation sqrt(count * sumSq - sum^2) /
// count. The numerator is exact in 64 bits while count < 2^16 (both terms
// stay below count^2 * 2^32); larger kernels fall back to doubles.
inline uint64_t roundedDeviation(uint64_t sum, uint64_t sumSq, uint64_t count) noexcept
{
    double variance = 0.0;
    if (count < (uint64_t{1} << 16)) {
        const uint64_t numerator = count * sumSq - sum * sum;
        variance = static_cast<double>(numerator) / static_cast<double>(count * count);
    } else {
        const double mean = static_cast<double>(sum) / static_cast<double>(count);
        variance = std::max(0.0, static_cast<double>(sumSq) / static_cast<double>(count) - mean * mean);
    }
    return static_cast<uint64_t>(std::round(std::sqrt(variance)));
}

// One row of 8-bit mean subtraction about the centre from 32-bit kernel
// sums, through RoundedMean::narrow: clamp(from - mean + 128, 0, 255).
// With SSE2, sixteen pixels per step: each lane's 32 x 32-bit product comes
// from one unsigned even-lane multiply (the compiler's own vector form
// builds it as a 64 x 64-bit product from three), and the signed and
// unsigned saturating packs are the clamp.
void centreRowNarrow8(const uint8_t* from, const uint32_t* sums, uint8_t* to, int32_t width,
                      const RoundedMean& roundedMean) noexcept
{
    int32_t i = 0;
#if defined(__SSE2__)
    const __m128i half = _mm_set1_epi32(static_cast<int32_t>(roundedMean.narrowHalf()));
    const __m128i multiplier = _mm_set1_epi32(static_cast<int32_t>(roundedMean.narrowDivider().multiplier()));
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int32_t>(roundedMean.narrowDivider().shift()));
    const __m128i centre = _mm_set1_epi32(PixelTraits<uint8_t>::kCentre);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= width; i += 16) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
        const __m128i low = _mm_unpacklo_epi8(px, zero);
        const __m128i high = _mm_unpackhi_epi8(px, zero);
        const __m128i pixels[4] = {_mm_unpacklo_epi16(low, zero), _mm_unpackhi_epi16(low, zero),
                                   _mm_unpacklo_epi16(high, zero), _mm_unpackhi_epi16(high, zero)};
        __m128i centred[4];
        for (int32_t k = 0; k < 4; ++k) {
            const __m128i n =
                _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i + 4 * k)), half);
            // Lanes 0 and 2, then lanes 1 and 3; every quotient fits the
            // low half of its 64-bit product lane.
            const __m128i even = _mm_srl_epi64(_mm_mul_epu32(n, multiplier), shift);
            const __m128i odd = _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(n, 32), multiplier), shift);
            const __m128i mean = _mm_or_si128(even, _mm_slli_epi64(odd, 32));
            centred[k] = _mm_add_epi32(_mm_sub_epi32(pixels[k], mean), centre);
        }
        const __m128i packed =
            _mm_packus_epi16(_mm_packs_epi32(centred[0], centred[1]), _mm_packs_epi32(centred[2], centred[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), packed);
    }
#endif
    for (; i < width; ++i) {
        const auto m = static_cast<int32_t>(roundedMean.narrow(sums[i]));
        to[i] = static_cast<uint8_t>(std::clamp(from[i] - m + PixelTraits<uint8_t>::kCentre, 0, 255));
    }
}

template <class Pixel>
int32_t checkKernel(const kimg_image* src, int32_t kw, int32_t kh, PixelRows<const Pixel>* view) noexcept
{
    KOC_RETURN_IF_FAILED(viewPixels(src, view));
    return kw >= 1 && kh >= 1 && kw <= kMaxKernelSide && kh <= kMaxKernelSide ? 0 : KOC_E_BAD_ARGUMENT;
}

// A fresh image of src's depth, window and transforms, and a view on it:
// every filter writes its result there and hands it over only when done.
// Each writes every pixel, so the image is not cleared first.
template <class Pixel>
int32_t newOutputLike(const kimg_image* src, ScopedImage* fresh, PixelRows<Pixel>* out) noexcept
{
    KOC_RETURN_IF_FAILED(newImageLikeForOverwrite(src, PixelTraits<Pixel>::kDepth, fresh->get()));
    return viewPixels(fresh->get(), out);
}

}  // namespace

template <class Pixel>
int32_t pelLocalMean(const kimg_image* src, int32_t kw, int32_t kh, kimg_image* mean) noexcept
{
    KOC_ASSERT(src != nullptr);
    KOC_ASSERT(mean != nullptr);
    PixelRows<const Pixel> in;
    KOC_RETURN_IF_FAILED(checkKernel(src, kw, kh, &in));
    return guarded([&]() -> int32_t {
        ScopedImage fresh;
        PixelRows<Pixel> out;
        KOC_RETURN_IF_FAILED(newOutputLike(src, &fresh, &out));
        const auto count = static_cast<uint64_t>(kw) * static_cast<uint64_t>(kh);
        const RoundedMean roundedMean(count, PixelTraits<Pixel>::kMax);
        const auto perRow = [&](int32_t j, const auto* sums, const uint64_t*) {
            Pixel* row = out.row(j);
            for (int32_t i = 0; i < in.width; ++i) {
                row[i] = static_cast<Pixel>(roundedMean(sums[i]));
            }
            return 0;
        };
        const auto perRowNarrow = [&](int32_t j, const uint32_t* sums, const uint64_t*) {
            Pixel* row = out.row(j);
            for (int32_t i = 0; i < in.width; ++i) {
                row[i] = static_cast<Pixel>(roundedMean.narrow(sums[i]));
            }
            return 0;
        };
        if (roundedMean.isNarrow()) {
            KOC_RETURN_IF_FAILED((boxSums<Pixel, false, uint32_t>(in, kw, kh, perRowNarrow)));
        } else if (sumsFit32<Pixel>(kw, kh)) {
            KOC_RETURN_IF_FAILED((boxSums<Pixel, false, uint32_t>(in, kw, kh, perRow)));
        } else {
            KOC_RETURN_IF_FAILED((boxSums<Pixel, false, uint64_t>(in, kw, kh, perRow)));
        }
        return kimg_image_assign(mean, fresh.get());
    });
}

template <class Pixel>
int32_t pelLocalMeanAndStdDev(const kimg_image* src, int32_t kw, int32_t kh, kimg_image* mean, kimg_image* stdDev,
                              int32_t* scale) noexcept
{
    KOC_ASSERT(src != nullptr);
    KOC_ASSERT(mean != nullptr && stdDev != nullptr && mean != stdDev);
    KOC_ASSERT(scale != nullptr);
    PixelRows<const Pixel> in;
    KOC_RETURN_IF_FAILED(checkKernel(src, kw, kh, &in));
    return guarded([&]() -> int32_t {
        ScopedImage freshMean;
        ScopedImage freshDev;
        PixelRows<Pixel> outMean;
        PixelRows<Pixel> outDev;
        KOC_RETURN_IF_FAILED(newOutputLike(src, &freshMean, &outMean));
        KOC_RETURN_IF_FAILED(newOutputLike(src, &freshDev, &outDev));
        const auto count = static_cast<uint64_t>(kw) * static_cast<uint64_t>(kh);
        const RoundedMean roundedMean(count, PixelTraits<Pixel>::kMax);
        const auto perRow = [&](int32_t j, const uint64_t* sums, const uint64_t* sq) {
            Pixel* m = outMean.row(j);
            Pixel* d = outDev.row(j);
            for (int32_t i = 0; i < in.width; ++i) {
                m[i] = static_cast<Pixel>(roundedMean(sums[i]));
                // At most half the pixel range, so it always fits.
                d[i] = static_cast<Pixel>(roundedDeviation(sums[i], sq[i], count));
            }
            return 0;
        };
        KOC_RETURN_IF_FAILED((boxSums<Pixel, true, uint64_t>(in, kw, kh, perRow)));
        KOC_RETURN_IF_FAILED(kimg_image_assign(mean, freshMean.get()));
        KOC_RETURN_IF_FAILED(kimg_image_assign(stdDev, freshDev.get()));
        *scale = 65536;
        return 0;
    });
}

template <class Pixel>
int32_t pelSubLocalMeanAddCentre(const kimg_image* src, int32_t kw, int32_t kh, kimg_image* dst) noexcept
{
    KOC_ASSERT(src != nullptr);
    KOC_ASSERT(dst != nullptr);
    PixelRows<const Pixel> in;
    KOC_RETURN_IF_FAILED(checkKernel(src, kw, kh, &in));
    return guarded([&]() -> int32_t {
        ScopedImage fresh;
        PixelRows<Pixel> out;
        KOC_RETURN_IF_FAILED(newOutputLike(src, &fresh, &out));
        const RoundedMean roundedMean(static_cast<uint64_t>(kw) * static_cast<uint64_t>(kh), PixelTraits<Pixel>::kMax);
        constexpr int32_t kCentre = PixelTraits<Pixel>::kCentre;
        constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
        const auto perRow = [&](int32_t j, const auto* sums, const uint64_t*) {
            const Pixel* from = in.row(j);
            Pixel* to = out.row(j);
            for (int32_t i = 0; i < in.width; ++i) {
                const auto m = static_cast<int32_t>(roundedMean(sums[i]));
                to[i] = static_cast<Pixel>(std::clamp(from[i] - m + kCentre, 0, kMax));
            }
            return 0;
        };
        // The same pixels through the one-multiply division (every kernel a
        // line's height asks for takes it); 8-bit rows by the row function
        // above.
        const auto perRowNarrow = [&](int32_t j, const uint32_t* sums, const uint64_t*) {
            const Pixel* from = in.row(j);
            Pixel* to = out.row(j);
            if constexpr (sizeof(Pixel) == 1) {
                centreRowNarrow8(from, sums, to, in.width, roundedMean);
            } else {
                for (int32_t i = 0; i < in.width; ++i) {
                    const auto m = static_cast<int32_t>(roundedMean.narrow(sums[i]));
                    to[i] = static_cast<Pixel>(std::clamp(from[i] - m + kCentre, 0, kMax));
                }
            }
            return 0;
        };
        if (roundedMean.isNarrow()) {
            KOC_RETURN_IF_FAILED((boxSums<Pixel, false, uint32_t>(in, kw, kh, perRowNarrow)));
        } else if (sumsFit32<Pixel>(kw, kh)) {
            KOC_RETURN_IF_FAILED((boxSums<Pixel, false, uint32_t>(in, kw, kh, perRow)));
        } else {
            KOC_RETURN_IF_FAILED((boxSums<Pixel, false, uint64_t>(in, kw, kh, perRow)));
        }
        return kimg_image_assign(dst, fresh.get());
    });
}

int32_t normalizeLocalRange16(const kimg_image* src16, int32_t kw, int32_t kh, kimg_image* dst16) noexcept
{
    if (kw % 2 == 0 || kh % 2 == 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    return pelSubLocalMeanAddCentre<uint16_t>(src16, kw, kh, dst16);
}

#define KOC_INSTANTIATE_LOCAL_FILTERS(Pixel)                                                                 \
    template int32_t pelLocalMean<Pixel>(const kimg_image*, int32_t, int32_t, kimg_image*) noexcept;         \
    template int32_t pelLocalMeanAndStdDev<Pixel>(const kimg_image*, int32_t, int32_t, kimg_image*,          \
                                                  kimg_image*, int32_t*) noexcept;                           \
    template int32_t pelSubLocalMeanAddCentre<Pixel>(const kimg_image*, int32_t, int32_t, kimg_image*) noexcept;
KOC_INSTANTIATE_LOCAL_FILTERS(uint8_t)
KOC_INSTANTIATE_LOCAL_FILTERS(uint16_t)
#undef KOC_INSTANTIATE_LOCAL_FILTERS

}  // namespace koc::services
