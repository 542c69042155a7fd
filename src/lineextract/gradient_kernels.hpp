// gradient_kernels.hpp: the row and band operations of the optimised
// gradient-field and projection kernels. The set-up around them (grid,
// normals, runs, offsets) is shared with the portable kernels in
// gradient_field.cpp; the optimised projections walk the field eight rows
// at a time, and every result must be the portable one bit for bit.
//
// Callers check avx2Available() first; the functions themselves assume it.
#pragma once

#include <cstdint>

namespace koc::lineextract {

// A horizontal slope's run of samples: in row 0, the samples from the
// previous run's end up to end (exclusive) fall in bin.
struct BinRun {
    int32_t end;
    int32_t bin;
};

}  // namespace koc::lineextract

namespace koc::lineextract::simd {

// Samples handled per vector step; the widened rows are padded to a multiple
// of this with zero samples, whose contributions are zero.
constexpr int32_t kSampleBlock = 8;

constexpr int32_t paddedSamples(int32_t n) noexcept
{
    return (n + kSampleBlock - 1) / kSampleBlock * kSampleBlock;
}

bool avx2Available() noexcept;

// Sobel responses of pixels c[0..n) of an 8-bit row, divided by 8, stored as
// interleaved (gx, gy) signed bytes. c[-1], c[n] and the same columns of the
// rows above (up) and below (dn) must be readable.
void sobelRowAvx2(const uint8_t* up, const uint8_t* c, const uint8_t* dn, int32_t n, int8_t* out) noexcept;

// A row of nx 8-bit field samples widened to 16 bits, zero-padded to
// paddedSamples(nx) samples (2 * paddedSamples(nx) values).
void widenSamplesAvx2(const int8_t* row, int32_t nx, int16_t* out) noexcept;

// Rows of a band side by side: rows[j] (j < kSampleBlock) are widened rows
// of paddedSamples(nx) samples; columns[k * kSampleBlock + j] becomes sample
// k of row j as one 32-bit (gx, gy) pair, for k < paddedSamples(nx).
void bandColumnsAvx2(const int16_t* const* rows, int32_t padded, int32_t* columns) noexcept;

// One slope's horizontal projection of a band of kSampleBlock rows in
// columns (bandColumnsAvx2): sample k of the band's row j, in run n, adds
// its contribution (gx * normalX + gy * normalY + 32) >> 6 (its magnitude
// when absolute) to bins[runs[n].bin + j], modulo 2^32. Bins from limit on
// are neither read nor written (rows past the field must hold zero samples,
// whose contributions are zero). binStep is the step of the bin from one
// run to the next when every step is the same (1 or -1), else 0.
void addBandRunsAvx2(const int32_t* columns, const BinRun* runs, int32_t runCount, int16_t normalX, int16_t normalY,
                     bool absolute, int32_t binStep, int32_t limit, int32_t* bins) noexcept;

// bins[k] += the contributions of sample k of rows[0 .. rowCount), for
// k < nx (bins wrap modulo 2^32). Each row holds paddedSamples(nx) widened
// samples.
void addRowContributionsAvx2(const int16_t* const* rows, int32_t rowCount, int32_t nx, int16_t normalX, int16_t normalY,
                             bool absolute, int32_t* bins) noexcept;

}  // namespace koc::lineextract::simd
