// locate_line.hpp: the line locator: rotation and slant of a text line inside
// a rectangle, its text band, the full and tight line rectangles and the
// text height.
#pragma once

#include <algorithm>
#include <cstdint>

#include "koc/koc_lineextract.h"
#include "services/memory.hpp"

namespace koc::lineextract {

struct LineLocation {
    kmath_shapeAffineRect fullRect{};   // along the found angles, enclosing the input
    kmath_shapeAffineRect tightRect{};  // the full one cut to the text band
    kmath_vect segment[2]{};            // top and bottom of the band, client coordinates
    double height = -1.0;               // text height in pixels; -1 when no line was found
};

// Finds the line in inputRect of image (client coordinates). Not finding one
// is success with location = the input rectangle and height -1. Writes
// lineAngle and skewAngle of result (degrees, 0..360 quantised to 16-bit
// angles). The 16-bit twin takes a 16-bit image.
int32_t locateTextLine(const kimg_image* image, bool isRectified, const kmath_shapeAffineRect* inputRect,
                       const koc_lineExtractParams* params, LineLocation* location,
                       koc_lineExtractResult* result) noexcept;
int32_t locateTextLine16(const kimg_image* image16, bool isRectified, const kmath_shapeAffineRect* inputRect,
                         const koc_lineExtractParams* params, LineLocation* location,
                         koc_lineExtractResult* result) noexcept;

// The window [start, end] of fewest bins holding all but the share q of the
// profile's mass (bins weighted (|p| + 128) >> 8); the first shortest wins.
// Needs no memory; returns 0.
int32_t shortestMassWindow(const int32_t* profile, int32_t n, double q, int32_t* start, int32_t* end) noexcept;

// The shortest run of bins [start, end] whose mass reaches target, the
// first such run on ties (one bin for a target of 0); start and end stay
// as they are when no run shorter than all n bins reaches it. massOf(i) is
// bin i's mass, never negative, so the first end reaching the target never
// moves left as the start moves right and one sweep finds every run.
template <class MassOf>
void shortestWindowReaching(int32_t n, uint64_t target, MassOf massOf, int32_t* start, int32_t* end) noexcept
{
    int32_t best = n;
    uint64_t mass = 0;  // of [s, e)
    int32_t e = 0;
    for (int32_t s = 0; s < n; ++s) {
        if (e < s) {
            e = s;
            mass = 0;
        }
        while (e < n && mass < target) {
            mass += massOf(e);
            ++e;
        }
        if (mass < target) {
            return;  // no later start reaches it either
        }
        const int32_t last = std::max(e - 1, s);
        if (last - s + 1 < best) {
            best = last - s + 1;
            *start = s;
            *end = last;
        }
        if (e > s) {
            mass -= massOf(s);
        }
    }
}

// Top and bottom bins of the text band of a horizontal profile.
int32_t findTextBand(const int32_t* profile, int32_t n, int32_t* top, int32_t* bottom) noexcept;
// The parallelogram with sides along alpha and beta + pi/2 (radians) that
// encloses the points.
int32_t boundingParallelogram(const kmath_vect* points, int32_t count, double alpha, double beta,
                              kmath_shapeAffineRect* rect) noexcept;
// The full rectangle cut across to the band between the two segment points.
int32_t tightLineRect(const kmath_shapeAffineRect* full, const kmath_vect segment[2], kmath_shapeAffineRect* tight) noexcept;

// 16-bit angle (65536 per turn) of whole degrees, as the locator quantises them.
uint16_t angle16FromDegrees(int32_t degrees) noexcept;

}  // namespace koc::lineextract
