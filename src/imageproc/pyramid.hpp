// pyramid.hpp: the pieces of the Gaussian pyramid that tests reach
// directly: level count, padded rectangles, the two-to-one reduction and
// border replication.
#pragma once

#include <cstdint>

#include "koc/kimg.h"

namespace koc::imageproc {

// Levels for a window: n = min(width, height); 1 + the integer halvings of
// n while n > max(minSize, 1); at most maxLevels.
int32_t pyramidLevelCount(const kstd_rect32& rect, int32_t maxLevels, int32_t minSize) noexcept;

// rect grown by 4 * (levels to one pixel - 1) on every side, then widened to
// an even origin and even sizes. KOC_E_BAD_ARGUMENT when it leaves 32 bits.
int32_t paddedPyramidRect(const kstd_rect32& rect, kstd_rect32* padded) noexcept;

// The window of a two-to-one step: the even coordinates of src, halved.
kstd_rect32 gauss2GetDestRect(const kstd_rect32& src) noexcept;

// dst's window pixel (i, j) = the (1 4 6 4 1) / 16 kernel in both directions
// around src pixel (2i, 2j), rounded to nearest (halves up). Reads two
// pixels beyond src's window on each side, which must lie in src's store
// (KOC_E_WINDOW_OUTSIDE_IMAGE otherwise); dst's window must be
// gauss2GetDestRect of src's (KOC_E_BAD_ARGUMENT otherwise). 8-bit only.
int32_t gauss2Smooth8(const kimg_image* src, kimg_image* dst) noexcept;

// Every store pixel outside the image's window takes the value of the
// nearest window pixel (rows first, then whole rows above and below).
int32_t pelReplicateBorders8(kimg_image* image) noexcept;

}  // namespace koc::imageproc
