// edge_detect.hpp: the per-pixel pieces of the magnitude-and-direction edge
// detector, for tests to check against a reference.
#pragma once

#include <cstdint>

namespace koc::imageproc {

// floor(sqrt(v)), exact for every 32-bit v.
uint32_t integerSqrt(uint32_t v) noexcept;

// min(255, (isqrt(gx^2 + gy^2) + 2) >> 2) for Sobel responses (|g| <= 1020).
uint8_t gradientMagnitude8(int32_t gx, int32_t gy) noexcept;

// The 8-bit angle (256 per turn, 0 = +x, 64 = +y) of (gx, gy) to the
// nearest unit; 0 for the zero vector.
uint8_t gradientDirection8(int32_t gx, int32_t gy) noexcept;

}  // namespace koc::imageproc
