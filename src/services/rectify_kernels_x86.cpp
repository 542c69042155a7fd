// rectify_kernels_x86.cpp: AVX2 row operation of the rectification kernel.
// Compiled for AVX2 by function attribute, not by a file-wide flag, so
// nothing else in the library starts to need the instruction set; the
// kernel is chosen at run time. Other targets get stubs that are never
// called (rectifyAvx2Available() is false there).
#include "services/rectify_kernels.hpp"

#include <algorithm>

#include "koc/ksys.h"
#include "services/cpu_features.hpp"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define KOC_HAVE_AVX2_RECTIFY 1
#include <immintrin.h>
#endif

namespace koc::services::simd {

bool rectifyAvx2Available() noexcept
{
#ifdef KOC_HAVE_AVX2_RECTIFY
    return (cpuFeatureBits() & KSYS_CPU_FEATURE_AVX2) != 0;
#else
    return false;
#endif
}

#ifdef KOC_HAVE_AVX2_RECTIFY

#define KOC_AVX2 __attribute__((target("avx2")))

namespace {

constexpr int32_t kBlock = 8;

// One sample as the portable kernel's clamped form blends it.
template <class Pixel>
Pixel blendOne(const Pixel* base, intptr_t pitch, int32_t maxX, int32_t maxY, int32_t x, int32_t y) noexcept
{
    const int32_t x0 = x >> 16;
    const int32_t y0 = y >> 16;
    const auto wx = static_cast<uint32_t>((x >> 8) & 0xff);
    const auto wy = static_cast<uint32_t>((y >> 8) & 0xff);
    const Pixel* a = base + std::clamp(y0, 0, maxY) * pitch;
    const Pixel* b = base + std::clamp(y0 + 1, 0, maxY) * pitch;
    const int32_t c0 = std::clamp(x0, 0, maxX);
    const int32_t c1 = std::clamp(x0 + 1, 0, maxX);
    const uint32_t top = a[c0] * (256 - wx) + a[c1] * wx;
    const uint32_t bottom = b[c0] * (256 - wx) + b[c1] * wx;
    return static_cast<Pixel>((top * (256 - wy) + bottom * wy + 32768) >> 16);
}

KOC_AVX2 inline __m256i weightOf(__m256i position) noexcept
{
    return _mm256_and_si256(_mm256_srli_epi32(position, 8), _mm256_set1_epi32(0xff));
}

// p0 * (256 - w) + p1 * w, formed as (p0 << 8) + (p1 - p0) * w: the same
// integer, below 2^24 for 16-bit pixels.
KOC_AVX2 inline __m256i blendPair(__m256i p0, __m256i p1, __m256i w) noexcept
{
    return _mm256_add_epi32(_mm256_slli_epi32(p0, 8), _mm256_mullo_epi32(_mm256_sub_epi32(p1, p0), w));
}

// top * (256 - wy) + bottom * wy + 32768, shifted down 16, formed as
// (top << 8) + (bottom - top) * wy + 32768: the same integer, and every
// step modulo 2^32 lands on it because the true value lies in [0, 2^32).
KOC_AVX2 inline __m256i blendRows(__m256i top, __m256i bottom, __m256i wy) noexcept
{
    return _mm256_srli_epi32(_mm256_add_epi32(blendPair(top, bottom, wy), _mm256_set1_epi32(32768)), 16);
}

// v clamped to [0, hi].
KOC_AVX2 inline __m256i clampTo(__m256i v, __m256i hi) noexcept
{
    return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_setzero_si256()), hi);
}

// What differs between the depths: how pixels are gathered and results stored.
template <class Pixel>
struct Depth;

template <>
struct Depth<uint8_t> {
    // A 32-bit gather reads three bytes past each pixel; the fetch reads no
    // later than three before the last pixel and shifts the wanted byte down.
    static constexpr int32_t kReadAhead = 3;
    KOC_AVX2 static __m256i gather(const uint8_t* base, __m256i offsets) noexcept
    {
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(base), offsets, 1);
    }
    KOC_AVX2 static __m256i fetch(const uint8_t* base, __m256i offsets, __m256i lastRead) noexcept
    {
        const __m256i at = _mm256_min_epi32(offsets, lastRead);
        const __m256i bits = _mm256_slli_epi32(_mm256_sub_epi32(offsets, at), 3);
        return _mm256_and_si256(_mm256_srlv_epi32(gather(base, at), bits), _mm256_set1_epi32(0xff));
    }
    // Both neighbours of each lane's pixel from one gather (bytes 0 and 1).
    KOC_AVX2 static void fetchPair(const uint8_t* base, __m256i offsets, __m256i* p0, __m256i* p1) noexcept
    {
        const __m256i g = gather(base, offsets);
        *p0 = _mm256_and_si256(g, _mm256_set1_epi32(0xff));
        *p1 = _mm256_and_si256(_mm256_srli_epi32(g, 8), _mm256_set1_epi32(0xff));
    }
    KOC_AVX2 static void store(uint8_t* dst, __m256i v) noexcept
    {
        // Byte 0 of each lane to the low four bytes of its 128-bit half,
        // then the two halves' words together.
        const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                                                  12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
        const __m256i packed =
            _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, lowBytes), _mm256_setr_epi32(0, 4, 1, 1, 1, 1, 1, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(packed));
    }
};

template <>
struct Depth<uint16_t> {
    static constexpr int32_t kReadAhead = 1;
    KOC_AVX2 static __m256i gather(const uint16_t* base, __m256i offsets) noexcept
    {
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(base), offsets, 2);
    }
    KOC_AVX2 static __m256i fetch(const uint16_t* base, __m256i offsets, __m256i lastRead) noexcept
    {
        const __m256i at = _mm256_min_epi32(offsets, lastRead);
        const __m256i bits = _mm256_slli_epi32(_mm256_sub_epi32(offsets, at), 4);
        return _mm256_and_si256(_mm256_srlv_epi32(gather(base, at), bits), _mm256_set1_epi32(0xffff));
    }
    KOC_AVX2 static void fetchPair(const uint16_t* base, __m256i offsets, __m256i* p0, __m256i* p1) noexcept
    {
        const __m256i g = gather(base, offsets);
        *p0 = _mm256_and_si256(g, _mm256_set1_epi32(0xffff));
        *p1 = _mm256_srli_epi32(g, 16);
    }
    KOC_AVX2 static void store(uint16_t* dst, __m256i v) noexcept
    {
        // Every value is at most 65535: the saturating pack keeps it.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(v, v), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(packed));
    }
};

// An 8-bit block of a nearly level row (its samples span at most two pixel
// rows and eight pixel columns) without gathers: the three source rows it
// can touch are loaded sixteen pixels at a time from its leftmost clamped
// column, one byte shuffle per row picks each lane's clamped pair of
// columns, and a per-lane choice of row makes the upper and lower pairs.
// Returns false, doing nothing, when a load would pass the window's last
// pixel.
KOC_AVX2 inline __m128i pickPairs(const uint8_t* from, __m128i control) noexcept
{
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)), control);
}

struct LevelBlock {
    __m256i top;
    __m256i bottom;
};

KOC_AVX2 inline bool levelBlock8(const uint8_t* base, intptr_t pitch, int32_t maxX, int32_t maxY, int32_t lastOffset,
                                 int32_t xFirst, int32_t xLast, int32_t yFirst, int32_t yLast, __m256i x0, __m256i y0,
                                 __m256i weights, LevelBlock* out) noexcept
{
    const int32_t left = std::clamp(std::min(xFirst, xLast) >> 16, 0, maxX);
    const int32_t row0 = std::clamp(std::min(yFirst, yLast) >> 16, 0, maxY);
    const int32_t row1 = std::min(row0 + 1, maxY);
    const int32_t row2 = std::min(row0 + 2, maxY);
    if (row2 * pitch + left + 15 > lastOffset) {
        return false;
    }
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i maxXV = _mm256_set1_epi32(maxX);
    const __m256i maxYV = _mm256_set1_epi32(maxY);
    const __m256i leftV = _mm256_set1_epi32(left);
    const __m256i row0V = _mm256_set1_epi32(row0);
    // Columns relative to left (0..8) and rows relative to row0 (0..2).
    const __m256i c0 = _mm256_sub_epi32(clampTo(x0, maxXV), leftV);
    const __m256i c1 = _mm256_sub_epi32(clampTo(_mm256_add_epi32(x0, one), maxXV), leftV);
    const __m256i r0 = _mm256_sub_epi32(clampTo(y0, maxYV), row0V);
    const __m256i r1 = _mm256_sub_epi32(clampTo(_mm256_add_epi32(y0, one), maxYV), row0V);
    // The shuffle control: byte pairs (c0, c1) in the lanes' order.
    const __m256i pairs = _mm256_or_si256(c0, _mm256_slli_epi32(c1, 8));
    const __m128i control = _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi32(pairs, pairs), 0x08));
    // Row choices as 16-bit masks: upper pair from row 1, lower pair from
    // row 1 or more, lower pair from row 2.
    const __m256i upperLower =
        _mm256_permute4x64_epi64(_mm256_packs_epi32(_mm256_cmpgt_epi32(r0, _mm256_setzero_si256()),
                                                    _mm256_cmpgt_epi32(r1, _mm256_setzero_si256())),
                                 0xd8);
    const __m256i lowerTwo = _mm256_cmpgt_epi32(r1, one);
    const __m128i upperFrom1 = _mm256_castsi256_si128(upperLower);
    const __m128i lowerFrom1 = _mm256_extracti128_si256(upperLower, 1);
    const __m128i lowerFrom2 =
        _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packs_epi32(lowerTwo, lowerTwo), 0x08));
    const __m128i p0 = pickPairs(base + row0 * pitch + left, control);
    const __m128i p1 = pickPairs(base + row1 * pitch + left, control);
    const __m128i p2 = pickPairs(base + row2 * pitch + left, control);
    const __m128i upper = _mm_blendv_epi8(p0, p1, upperFrom1);
    const __m128i lower = _mm_blendv_epi8(_mm_blendv_epi8(p0, p1, lowerFrom1), p2, lowerFrom2);
    out->top = _mm256_madd_epi16(_mm256_cvtepu8_epi16(upper), weights);
    out->bottom = _mm256_madd_epi16(_mm256_cvtepu8_epi16(lower), weights);
    return true;
}

// Eight samples per step. A block whose samples all have their four pixels
// inside the window (and, 8-bit, whose gathers end inside it) reads each
// row's pair with one gather; any other block clamps each of the four
// pixels as the portable kernel does and fetches them one by one.
template <class Pixel>
KOC_AVX2 void blendRow(const Pixel* base, intptr_t pitch, int32_t width, int32_t height, int32_t x, int32_t y,
                       int32_t dx, int32_t dy, int32_t count, Pixel* dst) noexcept
{
    using D = Depth<Pixel>;
    const int32_t maxX = width - 1;
    const int32_t maxY = height - 1;
    const auto lastOffset = static_cast<int32_t>(maxY * pitch + maxX);
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i xs = _mm256_add_epi32(_mm256_set1_epi32(x), _mm256_mullo_epi32(lane, _mm256_set1_epi32(dx)));
    __m256i ys = _mm256_add_epi32(_mm256_set1_epi32(y), _mm256_mullo_epi32(lane, _mm256_set1_epi32(dy)));
    const __m256i stepX = _mm256_set1_epi32(dx * kBlock);
    const __m256i stepY = _mm256_set1_epi32(dy * kBlock);
    const __m256i pitchV = _mm256_set1_epi32(static_cast<int32_t>(pitch));
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i maxXV = _mm256_set1_epi32(maxX);
    const __m256i maxYV = _mm256_set1_epi32(maxY);
    const __m256i lastPairX = _mm256_set1_epi32(maxX - 1);
    const __m256i lastPairY = _mm256_set1_epi32(maxY - 1);
    const __m256i lastRead = _mm256_set1_epi32(lastOffset - D::kReadAhead);
    const __m256i lastPairRead = _mm256_set1_epi32(static_cast<int32_t>(lastOffset - D::kReadAhead - pitch));
    // Samples of a block span at most two pixel rows when seven steps move
    // less than one row.
    const bool level = int64_t{7} * (dy < 0 ? -int64_t{dy} : dy) < 65536;
    int32_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        const __m256i x0 = _mm256_srai_epi32(xs, 16);
        const __m256i y0 = _mm256_srai_epi32(ys, 16);
        const __m256i wx = weightOf(xs);
        const __m256i wy = weightOf(ys);
        if constexpr (sizeof(Pixel) == 1) {
            LevelBlock b;
            // (256 - wx, wx) as 16-bit pairs: one pmaddwd per row blends in x.
            const __m256i weights = _mm256_or_si256(_mm256_sub_epi32(_mm256_set1_epi32(256), wx), _mm256_slli_epi32(wx, 16));
            const auto xFirst = static_cast<int32_t>(x + int64_t{i} * dx);
            const auto yFirst = static_cast<int32_t>(y + int64_t{i} * dy);
            if (level && levelBlock8(base, pitch, maxX, maxY, lastOffset, xFirst, xFirst + 7 * dx, yFirst,
                                     yFirst + 7 * dy, x0, y0, weights, &b)) {
                D::store(dst + i, blendRows(b.top, b.bottom, wy));
                xs = _mm256_add_epi32(xs, stepX);
                ys = _mm256_add_epi32(ys, stepY);
                continue;
            }
        }
        const __m256i offsets = _mm256_add_epi32(_mm256_mullo_epi32(y0, pitchV), x0);
        // Sign bits: a negative coordinate, or a compare that failed.
        const __m256i outside = _mm256_or_si256(
            _mm256_or_si256(x0, y0),
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpgt_epi32(x0, lastPairX), _mm256_cmpgt_epi32(y0, lastPairY)),
                            _mm256_cmpgt_epi32(offsets, lastPairRead)));
        __m256i a0, a1, b0, b1;
        if (_mm256_movemask_ps(_mm256_castsi256_ps(outside)) == 0) {
            D::fetchPair(base, offsets, &a0, &a1);
            D::fetchPair(base + pitch, offsets, &b0, &b1);
        } else {
            const __m256i c0 = clampTo(x0, maxXV);
            const __m256i c1 = clampTo(_mm256_add_epi32(x0, one), maxXV);
            const __m256i r0 = _mm256_mullo_epi32(clampTo(y0, maxYV), pitchV);
            const __m256i r1 = _mm256_mullo_epi32(clampTo(_mm256_add_epi32(y0, one), maxYV), pitchV);
            a0 = D::fetch(base, _mm256_add_epi32(r0, c0), lastRead);
            a1 = D::fetch(base, _mm256_add_epi32(r0, c1), lastRead);
            b0 = D::fetch(base, _mm256_add_epi32(r1, c0), lastRead);
            b1 = D::fetch(base, _mm256_add_epi32(r1, c1), lastRead);
        }
        D::store(dst + i, blendRows(blendPair(a0, a1, wx), blendPair(b0, b1, wx), wy));
        xs = _mm256_add_epi32(xs, stepX);
        ys = _mm256_add_epi32(ys, stepY);
    }
    for (; i < count; ++i) {
        dst[i] = blendOne(base, pitch, maxX, maxY, static_cast<int32_t>(x + int64_t{i} * dx),
                          static_cast<int32_t>(y + int64_t{i} * dy));
    }
}

}  // namespace

void blendTurnedRowAvx2(const uint8_t* base, intptr_t pitch, int32_t width, int32_t height, int32_t x, int32_t y,
                        int32_t dx, int32_t dy, int32_t count, uint8_t* dst) noexcept
{
    blendRow(base, pitch, width, height, x, y, dx, dy, count, dst);
}

void blendTurnedRowAvx2(const uint16_t* base, intptr_t pitch, int32_t width, int32_t height, int32_t x, int32_t y,
                        int32_t dx, int32_t dy, int32_t count, uint16_t* dst) noexcept
{
    blendRow(base, pitch, width, height, x, y, dx, dy, count, dst);
}

#else  // no AVX2 kernel on this target: never called, rectifyAvx2Available() is false

void blendTurnedRowAvx2(const uint8_t*, intptr_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                        uint8_t*) noexcept
{
}
void blendTurnedRowAvx2(const uint16_t*, intptr_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                        uint16_t*) noexcept
{
}

#endif

}  // namespace koc::services::simd
