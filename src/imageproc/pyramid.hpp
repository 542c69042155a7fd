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

// dst = src enlarged by (fx, fy) >= 1: fresh pixels over src's window with
// origin and size multiplied, src pixel (x, y) at (fx x, fy y) and bilinear
// interpolation between, the last row and column repeating themselves;
// src's transforms. One routine serves every factor, 2 and 4 included.
int32_t expandImage(const kimg_image* src, kimg_image* dst, int32_t fx, int32_t fy) noexcept;

// dst = a - b over a's window (b read at the nearest pixel of its own
// window), fresh pixels with a's transforms. Modes: 1 |a - b|; 3 a - b
// clamped at 0; 4 a - b modulo 256; 32 (a - b) modulo 256 read as a signed
// byte, plus 128; 33 the signed difference about 128, scaled by 127 / m when
// the largest difference m reaches 128. KOC_E_NORMALIZATION_MODE (the
// unsupported-mode code) otherwise.
int32_t differenceImage(const kimg_image* a, const kimg_image* b, int32_t mode, kimg_image* dst) noexcept;

}  // namespace koc::imageproc
