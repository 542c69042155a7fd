// rectify.hpp: resampling a parallelogram of an image into an upright image,
// one output pixel per source pixel along each side of the parallelogram.
#pragma once

#include "koc/kimg.h"

namespace koc::services {

// out gets fresh pixels of the depth of src (1 or 2): round(|Px-Po|) by
// round(|Py-Po|) pixels (at least 1 by 1) of rect, sampled bilinearly at
// the pixel centres; samples beyond src's window repeat its border pixels.
// out's client-from-image transform maps out pixel coordinates to src's
// client coordinates (rect's Po at out's (0, 0)). Fails with the codes of
// the image services (KOC_E_IMAGE_UNBOUND, KOC_E_NOT_LINEAR_XFORM, ...) and
// KOC_E_RECT_DEGENERATE for a degenerate rect.
int32_t affineRectifyImageRegion(const kimg_image* src, const kmath_shapeAffineRect* rect, kimg_image* out) noexcept;

// The same over lineRect, and mask gets the output pixels whose centres lie
// inside inputRect as well: one run per row, over the rows that have one.
int32_t affineRectifyImageRegionIntersection(const kimg_image* src, const kmath_shapeAffineRect* lineRect,
                                             const kmath_shapeAffineRect* inputRect, kimg_image* out,
                                             kimg_imageRle* mask) noexcept;

}  // namespace koc::services
