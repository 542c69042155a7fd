// range_fill.hpp: filling the masked-out pixels of a range image, so that
// gradient and normalisation see no artificial edges at the holes.
#pragma once

#include "koc/kimg.h"

namespace koc::services {

// The mean of the valid pixels of the range image's window, rounded
// ((sum + count/2) / count); 0 when no pixel is valid.
int32_t rangeImageFillValue(const k3img_rangeImage16* range, uint16_t* value) noexcept;

// out becomes a range image over range's window with every pixel valid
// (mask unbound): valid pixels are copied; a gap inside a row is filled by
// linear interpolation between the valid pixels on either side, a gap at a
// row's end by the nearest valid pixel, and a row with no valid pixel by
// fillValue. Transforms are kept.
int32_t fillMissingPelsRange16(const k3img_rangeImage16* range, uint16_t fillValue, k3img_rangeImage16* out) noexcept;

}  // namespace koc::services
