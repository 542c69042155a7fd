// positions.hpp: the helpers behind the final position results
// (segment_internal.hpp declares the stage functions themselves).
#pragma once

#include "segment/segment_internal.hpp"

namespace koc::segment {

// One position from one window. lineFrameScaleInverse scales pixels to
// line-frame units; clientFromImage is the working image's client
// transform, by which the mark and cell rectangles are reported.
int32_t fillPositionResult(koc_charSegmentPositionResult* position, const koc_charWindow_* window,
                           const kimg_image* sourceImage, const kimg_image* workingImage,
                           const kmath_xformLinear* lineFrameScaleInverse, const kmath_xformLinear* clientFromImage,
                           int32_t hasBinarization, uint32_t threshold, int32_t thresholdPolarityFlag) noexcept;

// The position's character record: key, polarity, views of both line
// images over the cell with charXform (character client frame -> pixels)
// as their image-from-client transform, the context rectangle, the
// binarisation and the metrics.
int32_t buildPositionCharacter(koc_char* character, const kimg_image* sourceImage, const kimg_image* workingImage,
                               const kmath_xformLinear* charXform, int32_t polarity, const kstd_rect32* cellRect,
                               const kstd_rect32* markRect, const koc_charKey* key, int32_t hasBinarization,
                               uint32_t threshold, int32_t thresholdPolarityFlag) noexcept;

// Metrics in the character's client frame and in pixels; the character's
// source view must carry a scale-and-translation transform, else
// KOC_E_CHAR_XFORM_NOT_SCALE.
int32_t setCharMetrics(koc_char* character, const kstd_rect32* cellRect, const kstd_rect32* markRect) noexcept;

}  // namespace koc::segment
