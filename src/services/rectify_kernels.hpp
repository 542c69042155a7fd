// rectify_kernels.hpp: the row operation of the optimised rectification
// kernel: the bilinear blend of a turned row. The walk around it (frame,
// rows, the upright fast path, attention checks) is shared with the
// portable kernel in rectify.cpp, and the blend must give the portable
// results bit for bit.
//
// Callers check rectifyAvx2Available() first; the functions assume it.
#pragma once

#include <cstdint>

namespace koc::services::simd {

bool rectifyAvx2Available() noexcept;

// One turned row: sample i < count is read at the 16.16 position
// (x + i * dx, y + i * dy) relative to the window at base (width by height
// pixels, rows pitch elements apart), pixel centres at integer positions,
// and blended bilinearly from the pixel holding it, the one after it and
// the same two a row down, each clamped into the window. The caller makes
// sure that every position of the row (i <= count) fits 32 bits, that the
// window holds at least 4 pixels and that the element offset of its last
// pixel is below 2^31 - 4.
void blendTurnedRowAvx2(const uint8_t* base, intptr_t pitch, int32_t width, int32_t height, int32_t x, int32_t y,
                        int32_t dx, int32_t dy, int32_t count, uint8_t* dst) noexcept;
void blendTurnedRowAvx2(const uint16_t* base, intptr_t pitch, int32_t width, int32_t height, int32_t x, int32_t y,
                        int32_t dx, int32_t dy, int32_t count, uint16_t* dst) noexcept;

}  // namespace koc::services::simd
