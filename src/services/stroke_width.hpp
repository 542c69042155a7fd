// stroke_width.hpp: minimum stroke width per pixel of the marks of an 8-bit
// image, and the tail levels of its histogram.
//
// A mark pixel is one whose grey value lies in [markLow, markHigh]. Its
// stroke width is the shortest of the four runs of mark pixels through it
// (horizontal, vertical and the two diagonals), clamped to 255; pixels
// outside the mark range get 0. A one-pixel line therefore has width 1 in
// any direction it takes, an isolated pixel has width 1, and the inside of a
// bar w pixels thick has width w (its corners less: the diagonals through a
// corner are short).
#pragma once

#include <cstdint>

#include "koc/kimg.h"
#include "services/blob.hpp"
#include "services/pel_ops.hpp"

namespace koc::services {

struct StrokeDetectParams {
    int32_t markLow = 0;    // lowest grey value that counts as mark
    int32_t markHigh = 255; // highest grey value that counts as mark
    // When set, only pixels that belong to strokes keep a width: the pixels
    // of a speck, a connected group of mark pixels much smaller than the
    // image's characters and thinner than their strokes, get 0 like the
    // ground (see strokeDetect8).
    bool strokesOnly = false;
};

// Holds the minimum-stroke-width image of the last detection (unbound until
// then).
struct StrokeDetectResult {
    ScopedImage minStrokeWidth;
    // With strokesOnly: the 8-connected components of the pixels that keep
    // a width (every mark pixel but the cleared specks), as labelBlobs gives
    // them for the width image above 0, except that the grey sums are the
    // widths'. The speck test labels them anyway; a caller that binarises
    // the same pixels can take them instead of labelling again. Empty
    // without strokesOnly.
    BlobResultSet markBlobs;
};

// Fills result with an 8-bit image over the source window (source
// transforms kept). With strokesOnly, the mark pixels are grouped into
// 8-connected components; the characters' size is the area of the
// component at which the components from the largest down first hold
// kSpeckReferenceShare of all mark pixels, their stroke width the median
// width over the pixels of components at least a quarter that size. A
// component smaller than 1 / kSpeckAreaRatio of the characters' size and
// at least kSpeckThinnerBy pixels thinner than their strokes is a speck.
// The specks are cleared only when they hold kSpeckFieldShare of the mark
// pixels or more: a speck field, not a few strays, which leaves clean print
// untouched. Dots of a dot-matrix print, periods and the dots of i and j
// are about as thick as the strokes and stay; so does everything when the
// specks outnumber the text so far that no characters' size can be told. KOC_E_BAD_ARGUMENT when markLow > markHigh or either
// lies outside 0 .. 255; the image codes of pel_ops.hpp otherwise. On
// failure the result is unchanged. Cost: four row passes over the pixels, one
// 8-bit scratch plane.
int32_t strokeDetect8(const kimg_image* source, const StrokeDetectParams* params, StrokeDetectResult* result) noexcept;

// image shares the result's pixels.
int32_t strokeDetectMinStrokeWidthImage(const StrokeDetectResult* result, kimg_image* image) noexcept;

// Tail levels of a 256-bin stroke-width histogram, counting only levels
// 1 .. 255 (level 0 holds the non-mark pixels, which are not strokes). With
// N the counted pixels:
//   low  = the smallest level whose cumulative count from level 1 reaches
//          lowFraction * N,
//   high = the largest level whose cumulative count from level 255 down
//          reaches highFraction * N,
// both counted only where the cumulative count is non-zero, so a fraction
// of 0 gives the lowest (highest) occupied level.
// KOC_E_HISTOGRAM_NO_TAIL (outputs 0) when N is 0; KOC_E_BAD_ARGUMENT for a
// fraction outside [0, 1].
int32_t strokeWidthTails(const uint32_t* hist, double lowFraction, double highFraction, int32_t* low,
                         int32_t* high) noexcept;

}  // namespace koc::services
