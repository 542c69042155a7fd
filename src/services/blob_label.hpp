// blob_label.hpp: connected-component (blob) labelling of the pixels of an
// 8- or 16-bit image that lie on one side of a hard threshold.
//
// Foreground is the window pixels strictly above the threshold (polarity
// flag 0: light marks) or strictly below it (flag 1: dark marks); blobs are
// its 8-connected components. The result set is cleared first and then holds
// one Blob per component, ordered by the component's first pixel in raster
// order (top row first, left to right), with its bounding rectangle and run
// list in image coordinates, its area and grey sum; flags stay 0. Each
// blob's runs are stored together, top to bottom and left to right. On
// failure the set may be partly filled. Distinct result sets may be filled
// on distinct threads.
#pragma once

#include <cstdint>

#include "koc/kimg.h"
#include "services/blob.hpp"

namespace koc::services {

enum : uint32_t {
    kBlobsAboveThreshold = 0,
    kBlobsBelowThreshold = 1,
};

// KOC_E_BAD_ARGUMENT for a polarity flag other than 0 or 1; the image codes
// of pel_ops.hpp for an unbound or wrong-depth image.
template <class Pixel>
int32_t labelBlobs(const kimg_image* image, int32_t threshold, uint32_t polarityFlag, BlobResultSet* blobs) noexcept;

// The summed area of the blobs (as labelBlobs finds them) whose bounding
// rectangle lies on at least two sides of the image window, without building
// the blobs: what the polarity decision asks. Same codes as labelBlobs.
template <class Pixel>
int32_t borderComponentArea(const kimg_image* image, int32_t threshold, uint32_t polarityFlag, double* area) noexcept;

// The border-touching areas of one image above aboveThreshold and below
// belowThreshold, as two borderComponentArea calls give them, from one read
// of the image: the polarity decision asks both questions of the same image.
template <class Pixel>
int32_t borderComponentAreas(const kimg_image* image, int32_t aboveThreshold, int32_t belowThreshold,
                             double* areaAbove, double* areaBelow) noexcept;

}  // namespace koc::services
