// gradient_kernels_x86.cpp: AVX2 row operations of the gradient kernels.
// They are compiled for AVX2 by function attribute, not by a file-wide
// flag, so nothing else in the library starts to need the instruction set;
// the kernels choose them at run time. Other targets get stubs that are
// never called (avx2Available() is false there).
#include "lineextract/gradient_kernels.hpp"

#include <cstdlib>

#include "koc/ksys.h"
#include "services/cpu_features.hpp"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define KOC_HAVE_AVX2_KERNELS 1
#include <immintrin.h>
#endif

namespace koc::lineextract::simd {

bool avx2Available() noexcept
{
#ifdef KOC_HAVE_AVX2_KERNELS
    return (services::cpuFeatureBits() & KSYS_CPU_FEATURE_AVX2) != 0;
#else
    return false;
#endif
}

#ifdef KOC_HAVE_AVX2_KERNELS

#define KOC_AVX2 __attribute__((target("avx2")))

namespace {

// One sample's contribution, as the portable kernel forms it (the sum in
// unsigned arithmetic, so that extreme products wrap instead of overflow).
inline uint32_t contribution(int16_t gx, int16_t gy, int16_t normalX, int16_t normalY, bool absolute) noexcept
{
    const uint32_t sum = static_cast<uint32_t>(int32_t{gx} * normalX) + static_cast<uint32_t>(int32_t{gy} * normalY) + 32u;
    const int32_t d = static_cast<int32_t>(sum) >> 6;
    return static_cast<uint32_t>(absolute ? std::abs(d) : d);
}

KOC_AVX2 inline __m256i widen16(const uint8_t* p) noexcept
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

// (gx, gy) pairs times the normal, rounded down to 1/64: one pmaddwd forms
// gx * normalX + gy * normalY exactly (each product is below 2^30 in
// magnitude, so the pair sum fits 32 bits).
KOC_AVX2 inline __m256i contributions8(const int16_t* samples, __m256i normal, bool absolute) noexcept
{
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples));
    __m256i d = _mm256_srai_epi32(_mm256_add_epi32(_mm256_madd_epi16(s, normal), _mm256_set1_epi32(32)), 6);
    if (absolute) {
        d = _mm256_abs_epi32(d);
    }
    return d;
}

KOC_AVX2 inline __m256i normalPairs(int16_t normalX, int16_t normalY) noexcept
{
    const uint32_t pair = (uint32_t{static_cast<uint16_t>(normalY)} << 16) | static_cast<uint16_t>(normalX);
    return _mm256_set1_epi32(static_cast<int32_t>(pair));
}

}  // namespace

KOC_AVX2 void sobelRowAvx2(const uint8_t* up, const uint8_t* c, const uint8_t* dn, int32_t n, int8_t* out) noexcept
{
    int32_t i = 0;
    const __m256i lowByte = _mm256_set1_epi16(0x00ff);
    for (; i + 16 <= n; i += 16) {
        const __m256i ul = widen16(up + i - 1);
        const __m256i uc = widen16(up + i);
        const __m256i ur = widen16(up + i + 1);
        const __m256i cl = widen16(c + i - 1);
        const __m256i cr = widen16(c + i + 1);
        const __m256i dl = widen16(dn + i - 1);
        const __m256i dc = widen16(dn + i);
        const __m256i dr = widen16(dn + i + 1);
        // |g| <= 4 * 255: 16-bit lanes hold every response exactly.
        const __m256i right = _mm256_add_epi16(_mm256_add_epi16(ur, dr), _mm256_add_epi16(cr, cr));
        const __m256i left = _mm256_add_epi16(_mm256_add_epi16(ul, dl), _mm256_add_epi16(cl, cl));
        const __m256i below = _mm256_add_epi16(_mm256_add_epi16(dl, dr), _mm256_add_epi16(dc, dc));
        const __m256i above = _mm256_add_epi16(_mm256_add_epi16(ul, ur), _mm256_add_epi16(uc, uc));
        const __m256i gx = _mm256_srai_epi16(_mm256_sub_epi16(right, left), 3);
        const __m256i gy = _mm256_srai_epi16(_mm256_sub_epi16(below, above), 3);
        // Little-endian words with gx in the low byte and gy in the high one
        // are the interleaved (gx, gy) byte pairs of the field.
        const __m256i pairs = _mm256_or_si256(_mm256_and_si256(gx, lowByte), _mm256_slli_epi16(gy, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * i), pairs);
    }
    for (; i < n; ++i) {
        const int32_t gx = up[i + 1] + 2 * c[i + 1] + dn[i + 1] - up[i - 1] - 2 * c[i - 1] - dn[i - 1];
        const int32_t gy = dn[i - 1] + 2 * dn[i] + dn[i + 1] - up[i - 1] - 2 * up[i] - up[i + 1];
        out[2 * i] = static_cast<int8_t>(gx >> 3);
        out[2 * i + 1] = static_cast<int8_t>(gy >> 3);
    }
}

KOC_AVX2 void widenSamplesAvx2(const int8_t* row, int32_t nx, int16_t* out) noexcept
{
    const int32_t values = 2 * nx;
    int32_t i = 0;
    for (; i + 16 <= values; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cvtepi8_epi16(bytes));
    }
    for (; i < values; ++i) {
        out[i] = row[i];
    }
    for (; i < 2 * paddedSamples(nx); ++i) {
        out[i] = 0;
    }
}

KOC_AVX2 void bandColumnsAvx2(const int16_t* const* rows, int32_t padded, int32_t* columns) noexcept
{
    for (int32_t k = 0; k < padded; k += kSampleBlock) {
        __m256i r[kSampleBlock];
        for (int32_t j = 0; j < kSampleBlock; ++j) {
            r[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[j] + 2 * k));
        }
        // An 8 x 8 transpose of 32-bit pairs: rows interleaved by two, by
        // four, then the 128-bit halves swapped between the two sets of four.
        __m256i t[kSampleBlock];
        for (int32_t j = 0; j < kSampleBlock; j += 2) {
            t[j] = _mm256_unpacklo_epi32(r[j], r[j + 1]);
            t[j + 1] = _mm256_unpackhi_epi32(r[j], r[j + 1]);
        }
        __m256i u[kSampleBlock];
        for (int32_t j = 0; j < kSampleBlock; j += 4) {
            u[j] = _mm256_unpacklo_epi64(t[j], t[j + 2]);
            u[j + 1] = _mm256_unpackhi_epi64(t[j], t[j + 2]);
            u[j + 2] = _mm256_unpacklo_epi64(t[j + 1], t[j + 3]);
            u[j + 3] = _mm256_unpackhi_epi64(t[j + 1], t[j + 3]);
        }
        auto* out = reinterpret_cast<__m256i*>(columns + k * kSampleBlock);
        for (int32_t j = 0; j < 4; ++j) {
            _mm256_storeu_si256(out + j, _mm256_permute2x128_si256(u[j], u[j + 4], 0x20));
            _mm256_storeu_si256(out + j + 4, _mm256_permute2x128_si256(u[j], u[j + 4], 0x31));
        }
    }
}

namespace {

// A run's columns summed: eight rows' contributions.
template <bool Absolute>
KOC_AVX2 inline __m256i runSum(const int32_t* columns, int32_t k, int32_t end, __m256i normal) noexcept
{
    __m256i sum = _mm256_setzero_si256();
    for (; k < end; ++k) {
        // A column's pairs have the layout of eight widened samples.
        sum = _mm256_add_epi32(sum, contributions8(reinterpret_cast<const int16_t*>(columns + k * kSampleBlock), normal,
                                                   Absolute));
    }
    return sum;
}

KOC_AVX2 inline void addMasked(int32_t* at, int32_t bin, int32_t limit, __m256i sum) noexcept
{
    const __m256i lanes = _mm256_add_epi32(_mm256_set1_epi32(bin), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(limit), lanes);
    _mm256_maskstore_epi32(at, mask, _mm256_add_epi32(_mm256_maskload_epi32(at, mask), sum));
}

inline void addScalar(int32_t* bins, int32_t bin, int32_t limit, int32_t value) noexcept
{
    if (bin < limit) {
        bins[bin] = static_cast<int32_t>(static_cast<uint32_t>(bins[bin]) + static_cast<uint32_t>(value));
    }
}

// Runs whose bins step by one: consecutive runs' eight bins overlap in
// seven, so the pending bins stay in a register that slides by one lane per
// run, and the one bin no later run reaches leaves it for memory (adding
// each run's eight bins in memory would load what the previous run's store
// has not yet written, and wait for it).
template <bool Absolute, bool Down>
KOC_AVX2 inline void addSteppingRuns(const int32_t* columns, const BinRun* runs, int32_t runCount, __m256i normal,
                                     int32_t limit, int32_t* bins) noexcept
{
    const __m256i zero = _mm256_setzero_si256();
    // Down: bins fall by one per run; lane 7 leaves and the rest move up.
    const __m256i slide = Down ? _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6) : _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 0);
    __m256i pending = zero;
    int32_t k = 0;
    for (int32_t n = 0; n < runCount; ++n) {
        pending = _mm256_add_epi32(pending, runSum<Absolute>(columns, k, runs[n].end, normal));
        k = runs[n].end;
        if (n + 1 == runCount) {
            addMasked(bins + runs[n].bin, runs[n].bin, limit, pending);
            break;
        }
        if constexpr (Down) {
            const __m256i moved = _mm256_permutevar8x32_epi32(pending, slide);
            addScalar(bins, runs[n].bin + 7, limit, _mm256_cvtsi256_si32(moved));
            pending = _mm256_blend_epi32(moved, zero, 0x01);
        } else {
            addScalar(bins, runs[n].bin, limit, _mm256_cvtsi256_si32(pending));
            pending = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(pending, slide), zero, 0x80);
        }
    }
}

template <bool Absolute>
KOC_AVX2 inline void addBandRuns(const int32_t* columns, const BinRun* runs, int32_t runCount, __m256i normal,
                                 int32_t binStep, int32_t limit, int32_t* bins) noexcept
{
    if (binStep == -1) {
        addSteppingRuns<Absolute, true>(columns, runs, runCount, normal, limit, bins);
        return;
    }
    if (binStep == 1) {
        addSteppingRuns<Absolute, false>(columns, runs, runCount, normal, limit, bins);
        return;
    }
    int32_t k = 0;
    for (int32_t n = 0; n < runCount; ++n) {
        addMasked(bins + runs[n].bin, runs[n].bin, limit, runSum<Absolute>(columns, k, runs[n].end, normal));
        k = runs[n].end;
    }
}

}  // namespace

KOC_AVX2 void addBandRunsAvx2(const int32_t* columns, const BinRun* runs, int32_t runCount, int16_t normalX,
                              int16_t normalY, bool absolute, int32_t binStep, int32_t limit, int32_t* bins) noexcept
{
    const __m256i normal = normalPairs(normalX, normalY);
    if (absolute) {
        addBandRuns<true>(columns, runs, runCount, normal, binStep, limit, bins);
    } else {
        addBandRuns<false>(columns, runs, runCount, normal, binStep, limit, bins);
    }
}

namespace {

// Rows is the count of rows (1 .. kSampleBlock), fixed so that the sum
// over them unrolls.
template <bool Absolute, int32_t Rows>
KOC_AVX2 inline void addRowContributions(const int16_t* const* rows, int32_t nx, __m256i normal, int16_t normalX,
                                         int16_t normalY, int32_t* bins) noexcept
{
    const int16_t* r[Rows];
    for (int32_t j = 0; j < Rows; ++j) {
        r[j] = rows[j];
    }
    int32_t k = 0;
    for (; k + kSampleBlock <= nx; k += kSampleBlock) {
        __m256i sum = contributions8(r[0] + 2 * k, normal, Absolute);
        for (int32_t j = 1; j < Rows; ++j) {
            sum = _mm256_add_epi32(sum, contributions8(r[j] + 2 * k, normal, Absolute));
        }
        auto* b = reinterpret_cast<__m256i*>(bins + k);
        _mm256_storeu_si256(b, _mm256_add_epi32(_mm256_loadu_si256(b), sum));
    }
    for (; k < nx; ++k) {
        uint32_t sum = 0;
        for (int32_t j = 0; j < Rows; ++j) {
            sum += contribution(r[j][2 * k], r[j][2 * k + 1], normalX, normalY, Absolute);
        }
        bins[k] = static_cast<int32_t>(static_cast<uint32_t>(bins[k]) + sum);
    }
}

template <bool Absolute>
KOC_AVX2 inline void addRowContributions(const int16_t* const* rows, int32_t rowCount, int32_t nx, __m256i normal,
                                         int16_t normalX, int16_t normalY, int32_t* bins) noexcept
{
    switch (rowCount) {
    case 1: return addRowContributions<Absolute, 1>(rows, nx, normal, normalX, normalY, bins);
    case 2: return addRowContributions<Absolute, 2>(rows, nx, normal, normalX, normalY, bins);
    case 3: return addRowContributions<Absolute, 3>(rows, nx, normal, normalX, normalY, bins);
    case 4: return addRowContributions<Absolute, 4>(rows, nx, normal, normalX, normalY, bins);
    case 5: return addRowContributions<Absolute, 5>(rows, nx, normal, normalX, normalY, bins);
    case 6: return addRowContributions<Absolute, 6>(rows, nx, normal, normalX, normalY, bins);
    case 7: return addRowContributions<Absolute, 7>(rows, nx, normal, normalX, normalY, bins);
    default: return addRowContributions<Absolute, kSampleBlock>(rows, nx, normal, normalX, normalY, bins);
    }
}

}  // namespace

KOC_AVX2 void addRowContributionsAvx2(const int16_t* const* rows, int32_t rowCount, int32_t nx, int16_t normalX,
                                      int16_t normalY, bool absolute, int32_t* bins) noexcept
{
    const __m256i normal = normalPairs(normalX, normalY);
    if (absolute) {
        addRowContributions<true>(rows, rowCount, nx, normal, normalX, normalY, bins);
    } else {
        addRowContributions<false>(rows, rowCount, nx, normal, normalX, normalY, bins);
    }
}

#else  // no AVX2 kernels on this target: never called, avx2Available() is false

void sobelRowAvx2(const uint8_t*, const uint8_t*, const uint8_t*, int32_t, int8_t*) noexcept {}
void widenSamplesAvx2(const int8_t*, int32_t, int16_t*) noexcept {}
void bandColumnsAvx2(const int16_t* const*, int32_t, int32_t*) noexcept {}
void addBandRunsAvx2(const int32_t*, const BinRun*, int32_t, int16_t, int16_t, bool, int32_t, int32_t, int32_t*) noexcept
{
}
void addRowContributionsAvx2(const int16_t* const*, int32_t, int32_t, int16_t, int16_t, bool, int32_t*) noexcept {}

#endif

}  // namespace koc::lineextract::simd
