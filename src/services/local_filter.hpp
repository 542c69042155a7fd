// local_filter.hpp: box filters over 8- and 16-bit images: local mean, local
// mean with local standard deviation, and local-mean subtraction about the
// centre grey level (the 16-bit form stands in for the range-image
// normaliser).
//
// The kernel is kw x kh pixels (each 1 .. 32768, else KOC_E_BAD_ARGUMENT),
// centred: floor(k / 2) pixels before the centre (left, above) and the rest
// after it. Outside the window the nearest window pixel stands in
// (replicated borders), so every output pixel averages exactly kw * kh values
// and the outputs cover the whole source window; no later border fill is
// needed. Outputs are fresh images over the source window with its
// transforms, written only on success. Unbound or wrong-depth sources give
// the pel_ops codes.
#pragma once

#include <cstdint>

#include "koc/kimg.h"

namespace koc::services {

// mean = the kernel mean rounded to nearest (halves up).
template <class Pixel>
int32_t pelLocalMean(const kimg_image* src, int32_t kw, int32_t kh, kimg_image* mean) noexcept;

// mean as above; stdDev = the population deviation of the same kernel
// values, times *scale / 65536, rounded to nearest. The scale is always
// 65536 here: deviations are in grey levels.
template <class Pixel>
int32_t pelLocalMeanAndStdDev(const kimg_image* src, int32_t kw, int32_t kh, kimg_image* mean, kimg_image* stdDev,
                              int32_t* scale) noexcept;

// dst = src - (local mean, rounded as above) + centre, clamped to the pixel
// range: 128 for 8 bit, 32768 for 16 bit.
template <class Pixel>
int32_t pelSubLocalMeanAddCentre(const kimg_image* src, int32_t kw, int32_t kh, kimg_image* dst) noexcept;

inline int32_t pelSubLocalMeanShiftAdd128_8(const kimg_image* src8, int32_t kw, int32_t kh, kimg_image* dst8) noexcept
{
    return pelSubLocalMeanAddCentre<uint8_t>(src8, kw, kh, dst8);
}

// The 16-bit local-range normalisation: pelSubLocalMeanAddCentre about 32768
// with a kernel whose sides must both be odd (KOC_E_BAD_ARGUMENT otherwise),
// so the kernel has a true centre pixel.
int32_t normalizeLocalRange16(const kimg_image* src16, int32_t kw, int32_t kh, kimg_image* dst16) noexcept;

}  // namespace koc::services
