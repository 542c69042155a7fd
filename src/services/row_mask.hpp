// row_mask.hpp: the pixels of one image row that lie strictly beyond a
// threshold, as a bit mask (64 pixels to a word), and the runs of that mask.
// Against a byte flag per pixel (row_runs.hpp) this reads the pixels once
// and writes eight times less: for 8-bit pixels on x86-64 the mask comes
// straight from SSE2 compares, sixteen pixels at a time. A row of a noisy
// ground holds a run every few pixels, so this per-pixel part is as costly as
// the labelling that follows it.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "services/memory.hpp"
#include "services/pel_ops.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace koc::services {

class RowMask {
public:
    // Sized for rows of width pixels. Must run inside koc::guarded (it
    // allocates).
    explicit RowMask(int32_t width)
        : words_(static_cast<size_t>(width / 64 + 1), 0),
          flags_(static_cast<size_t>(width / 64 + 1) * 64, 0),
          bounds_(static_cast<size_t>(width) + 2),
          width_(width)
    {
    }

    // Bit i of the mask: pixel i is above threshold (kBelow false) or below
    // it (kBelow true). Bits past the width stay 0.
    template <class Pixel, bool kBelow>
    void mark(const Pixel* row, int32_t threshold) noexcept
    {
        if constexpr (std::is_same_v<Pixel, uint8_t>) {
#if defined(__SSE2__)
            if (inRange<Pixel, kBelow>(threshold)) {
                markBytes<kBelow>(row, threshold);
                return;
            }
#endif
        }
        markByFlags<Pixel, kBelow>(row, threshold);
    }

    // above.mark<Pixel, false>(row, aboveThreshold) and
    // below.mark<Pixel, true>(row, belowThreshold) with one read of the row.
    template <class Pixel>
    static void markBoth(const Pixel* row, int32_t aboveThreshold, int32_t belowThreshold, RowMask& above,
                         RowMask& below) noexcept
    {
        if constexpr (std::is_same_v<Pixel, uint8_t>) {
#if defined(__SSE2__)
            if (above.width_ == below.width_ && inRange<Pixel, false>(aboveThreshold) &&
                inRange<Pixel, true>(belowThreshold)) {
                markBothBytes(row, aboveThreshold, belowThreshold, above, below);
                return;
            }
#endif
        }
        above.mark<Pixel, false>(row, aboveThreshold);
        below.mark<Pixel, true>(row, belowThreshold);
    }

    // The mask's runs of set bits, left to right: run i starts at
    // bounds()[2i] and ends (exclusive) at bounds()[2i + 1]. Returns 2 x the
    // run count. Listing the bounds first keeps the branch on which end a
    // transition is out of the loop, and leaves the caller a plain loop.
    int32_t findRuns() noexcept
    {
        // A transition is a bit that differs from its left neighbour; the
        // zero bits past the width (there is always at least one) close a run
        // that reaches the end.
        int32_t* out = bounds_.data();
        int32_t n = 0;
        uint64_t left = 0;  // the previous word's top bit
        for (size_t w = 0; w < words_.size(); ++w) {
            const uint64_t m = words_[w];
            uint64_t change = m ^ ((m << 1) | left);
            left = m >> 63;
            const auto base = static_cast<int32_t>(w * 64);
            while (change != 0) {
                out[n++] = base + std::countr_zero(change);
                change &= change - 1;
            }
        }
        return n;
    }

    const int32_t* bounds() const noexcept { return bounds_.data(); }

    // Calls fn(start, end) for each run of set bits, left to right, end
    // exclusive.
    template <class Fn>
    void forEachRun(Fn&& fn)
    {
        const int32_t n = findRuns();
        const int32_t* b = bounds_.data();
        for (int32_t i = 0; i < n; i += 2) {
            fn(b[i], b[i + 1]);
        }
    }

private:
    // Whether the comparison splits the pixel range; a threshold outside it
    // makes every pixel's answer the same.
    template <class Pixel, bool kBelow>
    static bool inRange(int32_t threshold) noexcept
    {
        constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
        return kBelow ? threshold > 0 && threshold <= kMax : threshold >= 0 && threshold < kMax;
    }

    // The portable way: a byte flag per pixel in a loop that vectorises, then
    // eight flags to a byte of the mask by one multiply (the eight products
    // land on distinct bits of the top byte, so nothing carries).
    template <class Pixel, bool kBelow>
    void markByFlags(const Pixel* row, int32_t threshold) noexcept
    {
        constexpr int32_t kMax = PixelTraits<Pixel>::kMax;
        const auto n = static_cast<size_t>(width_);
        uint8_t* flags = flags_.data();
        if (kBelow ? threshold <= 0 : threshold >= kMax) {
            std::fill_n(flags, n, uint8_t{0});
        } else if (kBelow ? threshold > kMax : threshold < 0) {
            std::fill_n(flags, n, uint8_t{1});
        } else {
            const auto t = static_cast<Pixel>(threshold);
            for (size_t i = 0; i < n; ++i) {
                flags[i] = static_cast<uint8_t>(kBelow ? row[i] < t : row[i] > t);
            }
        }
        // flags_ past the width stay 0.
        for (size_t w = 0; w < words_.size(); ++w) {
            uint64_t bits = 0;
            for (size_t k = 0; k < 8; ++k) {
                const uint8_t* eight = flags + 64 * w + 8 * k;
                if constexpr (std::endian::native == std::endian::little) {
                    uint64_t word = 0;
                    std::memcpy(&word, eight, 8);
                    bits |= ((word * 0x0102040810204080u) >> 56) << (8 * k);
                } else {
                    for (size_t b = 0; b < 8; ++b) {
                        bits |= static_cast<uint64_t>(eight[b]) << (8 * k + b);
                    }
                }
            }
            words_[w] = bits;
        }
    }

#if defined(__SSE2__)
    // Unsigned bytes compared as signed after flipping the top bit.
    template <bool kBelow>
    static uint32_t compare16(__m128i flipped, __m128i threshold) noexcept
    {
        const __m128i beyond = kBelow ? _mm_cmplt_epi8(flipped, threshold) : _mm_cmpgt_epi8(flipped, threshold);
        return static_cast<uint32_t>(_mm_movemask_epi8(beyond));
    }

    static __m128i load16(const uint8_t* p) noexcept
    {
        return _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), _mm_set1_epi8(-128));
    }

    static __m128i flippedThreshold(int32_t threshold) noexcept
    {
        return _mm_set1_epi8(static_cast<char>(threshold ^ 0x80));
    }

    // The pixels past the last whole word, sixteen at a time:
    // fn(p, bit, skip, keep) for the sixteen bytes at p: the compare mask's
    // bits from skip on, those in keep, go to the tail word from bit on. The
    // last chunk ends at the row's end and overlaps the one before, so that
    // no byte past the row is read; a row shorter than a chunk is copied
    // into one first and only its own bits kept.
    template <class Fn>
    static void forEachTailChunk(const uint8_t* row, int32_t width, Fn&& fn) noexcept
    {
        const int32_t from = width / 64 * 64;
        int32_t i = from;
        for (; i + 16 <= width; i += 16) {
            fn(row + i, i - from, 0, 0xffffu);
        }
        if (i == width) {
            return;
        }
        if (width >= 16) {
            fn(row + width - 16, i - from, 16 - (width - i), 0xffffu);
            return;
        }
        alignas(16) uint8_t chunk[16] = {};
        std::memcpy(chunk, row, static_cast<size_t>(width));
        fn(chunk, 0, 0, (1u << width) - 1);
    }

    template <bool kBelow>
    void markBytes(const uint8_t* row, int32_t threshold) noexcept
    {
        const __m128i t = flippedThreshold(threshold);
        const int32_t whole = width_ / 64;
        for (int32_t w = 0; w < whole; ++w) {
            const uint8_t* p = row + 64 * w;
            uint64_t bits = 0;
            for (int32_t k = 0; k < 4; ++k) {
                bits |= static_cast<uint64_t>(compare16<kBelow>(load16(p + 16 * k), t)) << (16 * k);
            }
            words_[static_cast<size_t>(w)] = bits;
        }
        uint64_t tail = 0;
        forEachTailChunk(row, width_, [&](const uint8_t* p, int32_t bit, int32_t skip, uint32_t keep) {
            tail |= static_cast<uint64_t>((compare16<kBelow>(load16(p), t) >> skip) & keep) << bit;
        });
        words_[static_cast<size_t>(whole)] = tail;
    }

    static void markBothBytes(const uint8_t* row, int32_t aboveThreshold, int32_t belowThreshold, RowMask& above,
                              RowMask& below) noexcept
    {
        const __m128i ta = flippedThreshold(aboveThreshold);
        const __m128i tb = flippedThreshold(belowThreshold);
        const int32_t width = above.width_;
        const int32_t whole = width / 64;
        for (int32_t w = 0; w < whole; ++w) {
            const uint8_t* p = row + 64 * w;
            uint64_t a = 0;
            uint64_t b = 0;
            for (int32_t k = 0; k < 4; ++k) {
                const __m128i px = load16(p + 16 * k);
                a |= static_cast<uint64_t>(compare16<false>(px, ta)) << (16 * k);
                b |= static_cast<uint64_t>(compare16<true>(px, tb)) << (16 * k);
            }
            above.words_[static_cast<size_t>(w)] = a;
            below.words_[static_cast<size_t>(w)] = b;
        }
        uint64_t a = 0;
        uint64_t b = 0;
        forEachTailChunk(row, width, [&](const uint8_t* p, int32_t bit, int32_t skip, uint32_t keep) {
            const __m128i px = load16(p);
            a |= static_cast<uint64_t>((compare16<false>(px, ta) >> skip) & keep) << bit;
            b |= static_cast<uint64_t>((compare16<true>(px, tb) >> skip) & keep) << bit;
        });
        above.words_[static_cast<size_t>(whole)] = a;
        below.words_[static_cast<size_t>(whole)] = b;
    }
#endif

    Vector<uint64_t> words_;  // width / 64 + 1: the last holds the tail and at least one zero bit
    Vector<uint8_t> flags_;   // the portable way's byte flags, a whole number of words long
    Vector<int32_t> bounds_;  // at most width + 1 transitions
    int32_t width_;
};

}  // namespace koc::services
