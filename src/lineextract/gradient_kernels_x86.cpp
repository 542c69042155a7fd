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

KOC_AVX2 void contributionPrefixAvx2(const int16_t* samples, int32_t padded, int16_t normalX, int16_t normalY,
                                     bool absolute, uint32_t* prefix) noexcept
{
    const __m256i normal = normalPairs(normalX, normalY);
    const __m256i last = _mm256_set1_epi32(7);
    __m256i carry = _mm256_setzero_si256();
    prefix[0] = 0;
    for (int32_t k = 0; k < padded; k += kSampleBlock) {
        __m256i x = contributions8(samples + 2 * k, normal, absolute);
        // Running sums within each 128-bit half, then the low half's total
        // carried into the high half, then the blocks before this one.
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 4));
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 8));
        x = _mm256_add_epi32(x, _mm256_shuffle_epi32(_mm256_permute2x128_si256(x, x, 0x08), 0xff));
        x = _mm256_add_epi32(x, carry);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(prefix + 1 + k), x);
        carry = _mm256_permutevar8x32_epi32(x, last);
    }
}

KOC_AVX2 void addContributionsAvx2(const int16_t* samples, int32_t nx, int16_t normalX, int16_t normalY, bool absolute,
                                   int32_t* bins) noexcept
{
    const __m256i normal = normalPairs(normalX, normalY);
    int32_t k = 0;
    for (; k + kSampleBlock <= nx; k += kSampleBlock) {
        __m256i* b = reinterpret_cast<__m256i*>(bins + k);
        _mm256_storeu_si256(b, _mm256_add_epi32(_mm256_loadu_si256(b), contributions8(samples + 2 * k, normal, absolute)));
    }
    for (; k < nx; ++k) {
        const uint32_t d = contribution(samples[2 * k], samples[2 * k + 1], normalX, normalY, absolute);
        bins[k] = static_cast<int32_t>(static_cast<uint32_t>(bins[k]) + d);
    }
}

#else  // no AVX2 kernels on this target: never called, avx2Available() is false

void sobelRowAvx2(const uint8_t*, const uint8_t*, const uint8_t*, int32_t, int8_t*) noexcept {}
void widenSamplesAvx2(const int8_t*, int32_t, int16_t*) noexcept {}
void contributionPrefixAvx2(const int16_t*, int32_t, int16_t, int16_t, bool, uint32_t*) noexcept {}
void addContributionsAvx2(const int16_t*, int32_t, int16_t, int16_t, bool, int32_t*) noexcept {}

#endif

}  // namespace koc::lineextract::simd
