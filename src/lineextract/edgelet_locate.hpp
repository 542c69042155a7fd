// edgelet_locate.hpp: the edgelet method of the line locator: row edgelets
// of the rectified input region, projected along candidate angles to find
// the line's rotation, the slant of its strokes and its text band.
//
// All positions are in the rectified image's pixel frame; angles are 16-bit
// (65536 per turn), edgelet directions 8-bit (256 per turn).
#pragma once

#include <cstdint>

#include "koc/koc_lineextract.h"
#include "services/memory.hpp"

namespace koc::lineextract {

// A projection: bins[i] sums the magnitudes of the edgelets whose position
// projected on the axis falls in bin i; the axis runs from p0 to p1 in the
// frame, one bin per pixel along it.
struct EdgeletProfile {
    services::Vector<int32_t> bins;
    kmath_vect p0{};
    kmath_vect p1{};
};

// Detects the edgelets of the rectified region into set (reset first) and
// removes the weak ones (below the lower 5 % tail of the magnitudes' squared
// weight). frame receives the image's client-from-image transform.
int32_t detectLineEdgelets(const kimg_image* rectified, kip_rowEdgeletSet* set, kmath_xformLinear* frame) noexcept;

// Projects the set's edgelets on the axis at angle theta (16-bit); with a
// mask (256 flags indexed by direction) only the flagged directions count.
// The set must hold at least one edgelet.
int32_t projectEdgelets(const kip_rowEdgeletSet* set, const uint8_t* mask, uint16_t theta,
                        EdgeletProfile* profile) noexcept;

// The largest sum of two adjacent bins (one bin: that bin; none: 0).
int64_t profilePeak(const int32_t* bins, int32_t n) noexcept;

// The first shortest window of bins holding at least (1 - q) of the total,
// on the raw bin values.
void shortestRawMassWindow(const int32_t* bins, int32_t n, double q, int32_t* start, int32_t* end) noexcept;

// Top and bottom bin of the text band of an across-the-line profile.
void edgeletBandBins(const int32_t* bins, int32_t n, int32_t* top, int32_t* bottom) noexcept;

// Rotation (from start, whole degrees up to maxLineAngle), shear (around
// the rotation, up to maxSkewAngle), and the band: its two ends in the
// frame and its height in pixels.
int32_t searchRotationEdgelets(const kip_rowEdgeletSet* set, const koc_lineExtractParams* params, uint16_t start,
                               uint16_t* rotation) noexcept;
int32_t searchShearEdgelets(const kip_rowEdgeletSet* set, const koc_lineExtractParams* params, uint16_t rotation,
                            uint16_t* shear) noexcept;
int32_t findEdgeletBand(const kip_rowEdgeletSet* set, uint16_t rotation, kmath_vect segment[2], double* height) noexcept;

// The whole first stage for the locator: edgelets into the record (marked
// valid), then rotation, shear and band. isFound false (success) when the
// region holds no edgelet.
struct EdgeletLine {
    bool isFound = false;
    kmath_xformLinear frame{};
    uint16_t rotation = 0;
    uint16_t shear = 0;
    kmath_vect segment[2]{};  // in the frame
    double height = -1.0;
};
int32_t locateEdgeletLine(const kimg_image* rectified, const koc_lineExtractParams* params,
                          koc_lineEdgeletRecord_* record, EdgeletLine* line) noexcept;

}  // namespace koc::lineextract
