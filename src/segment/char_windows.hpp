// char_windows.hpp: the helpers behind the character-window stage
// (segment_internal.hpp declares the stage functions themselves).
#pragma once

#include "segment/segment_internal.hpp"

namespace koc::segment {

// Fills one window: for a space key code 32, area 0, score 65536 and the
// null mark; for a character the element's area when binarised (it must be
// at least 1 then), else 0. Both cell rectangles get cellRect; the image
// window is the source image's.
int32_t initCharWindow(const kimg_image* sourceImage, int32_t hasBinarization, const kstd_rect32* markRect,
                       const kstd_rect32* cellRect, int32_t isSpace, int32_t area,
                       const koc_charSegmentRunParams* params, koc_charWindow_* window) noexcept;

// How empty the cell is, 16.16 (65536: no mark pixel), judged by the line
// result's threshold on the working image; 0 when the line has no threshold
// or the cell no pixel.
int32_t computeSpaceScore(const koc_charSegmentLineResult* line, const kimg_image* workingImage,
                          const kstd_rect32* cellRect, int32_t* score) noexcept;

// Largest y + height minus smallest y over the elements; 0 when empty.
int32_t elementsVerticalExtent(const Elements* elements, int32_t* extent) noexcept;

}  // namespace koc::segment
