// row_runs.hpp: the runs of marked pixels in one image row, found from a
// byte flag per pixel instead of a branch per pixel: rows of text alternate
// between mark and ground too often for such a branch to be predicted. The
// caller writes the flags (0 or 1, in a loop that vectorises); the run ends
// are the bytes where a flag differs from its left neighbour, found as a bit
// mask sixty-four at a time.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "services/memory.hpp"


namespace koc::services {

class RowRuns {
public:
    // Sized for rows of width pixels. Must run inside koc::guarded (it
    // allocates).
    explicit RowRuns(int32_t width) : flags_(static_cast<size_t>(width) + 2 * kPad, 0), width_(width) {}

    int32_t width() const noexcept { return width_; }

    // The row's width flags, to be written before forEachRun. The bytes
    // around them stay 0.
    uint8_t* flags() noexcept { return flags_.data() + kPad; }

    // Calls fn(start, end) for each run of flagged pixels, left to right,
    // end exclusive.
    template <class Fn>
    void forEachRun(Fn&& fn) const
    {
        const uint8_t* f = flags_.data() + kPad;
        // The block at i compares flags [i, i + kBlock) with [i - 1, i +
        // kBlock - 1); the zero after the last pixel closes a run that
        // reaches the end, and the padding beyond it is zero, so no
        // transition is found there.
        bool inside = false;
        int32_t start = 0;
        for (int32_t i = 0; i <= width_; i += kBlock) {
            uint64_t change = transitions(f + i);  // bit k: a transition at i + k
            while (change != 0) {
                const int32_t at = i + std::countr_zero(change);
                change &= change - 1;
                if (!inside) {
                    start = at;
                } else {
                    fn(start, at);
                }
                inside = !inside;
            }
        }
    }

private:
    // Sixty-four flags per step (a text row is mostly long runs, so most
    // steps find no transition), eight at a time from two overlapping 64-bit
    // words: their XOR holds 1 in each byte where a flag differs from its
    // left neighbour, and the multiply gathers those bytes' low bits into the
    // top byte (the eight products land on distinct bits, so nothing carries).
    static constexpr int32_t kBlock = 64;

    static uint64_t transitions(const uint8_t* f) noexcept
    {
        uint64_t change = 0;
        for (int32_t k = 0; k < kBlock; k += 8) {
            if constexpr (std::endian::native == std::endian::little) {
                uint64_t now = 0;
                uint64_t left = 0;
                std::memcpy(&now, f + k, 8);
                std::memcpy(&left, f + k - 1, 8);
                if (const uint64_t bytes = now ^ left; bytes != 0) {
                    change |= ((bytes * 0x0102040810204080u) >> 56) << k;
                }
            } else {
                for (int32_t b = k; b < k + 8; ++b) {
                    change |= static_cast<uint64_t>(f[b] != f[b - 1]) << b;
                }
            }
        }
        return change;
    }

    // Before the flags: one byte for the first step's left neighbour; after
    // them: the terminating zero and the rest of the last step.
    static constexpr size_t kPad = kBlock;

    Vector<uint8_t> flags_;
    int32_t width_;
};

}  // namespace koc::services
