// row_runs.hpp: the runs of marked pixels in one image row, found from a
// byte flag per pixel instead of a branch per pixel: rows of text alternate
// between mark and ground too often for such a branch to be predicted. The
// caller writes the flags (0 or 1, in a loop that vectorises); the run ends
// are the bytes where a flag differs from its left neighbour, found eight at
// a time by comparing two overlapping 64-bit words.
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
        // The word at i compares flags [i, i + 8) with [i - 1, i + 7); the
        // zero after the last pixel closes a run that reaches the end, and
        // the padding beyond it is zero, so no transition is found there.
        bool inside = false;
        int32_t start = 0;
        for (int32_t i = 0; i <= width_; i += 8) {
            uint64_t now = 0;
            uint64_t left = 0;
            std::memcpy(&now, f + i, 8);
            std::memcpy(&left, f + i - 1, 8);
            uint64_t change = now ^ left;  // one bit (bit 0 of its byte) per transition
            while (change != 0) {
                const int32_t at = i + lowestByte(change);
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
    static constexpr size_t kPad = 8;

    // The byte index (in address order) of the lowest-addressed set byte.
    static int32_t lowestByte(uint64_t word) noexcept
    {
        if constexpr (std::endian::native == std::endian::little) {
            return std::countr_zero(word) / 8;
        } else {
            return std::countl_zero(word) / 8;
        }
    }

    Vector<uint8_t> flags_;
    int32_t width_;
};

}  // namespace koc::services
