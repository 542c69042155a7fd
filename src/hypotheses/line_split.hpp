// line_split.hpp: splitting a paragraph's elements among its text lines.
// The text lines are horizontal bands of a vertical ink profile of the
// elements; each line keeps its own elements at the front of its raw list.
// Not thread-safe on one set of line results.
#pragma once

#include "hypotheses/line_data.hpp"
#include "koc/koc_results.h"
#include "services/memory.hpp"

namespace koc::hypotheses {

// A row of the ink profile's derivative and its value there.
struct ProfileEdge {
    int32_t row;
    int32_t strength;
};

// Vertical ink profile of the first n elements. *bounds is their bounding
// rectangle (inclusive of the last row and column). When the elements end
// above row 4 or left of column 4 nothing else is written. Otherwise
// *smoothed is the 3-row smoothed profile, *inkedRows the number of its
// rows (before the last) holding ink, *rising the band tops strongest first
// and *falling the band bottoms most negative first.
int32_t verticalInkProfile(const koc_charSegmentElementInfo* elements, int32_t n, kstd_rect32* bounds,
                           int32_t* inkedRows, services::Vector<int32_t>* smoothed,
                           services::Vector<ProfileEdge>* falling, services::Vector<ProfileEdge>* rising) noexcept;

// Splits line 0's first elementCountPerLine[0] raw elements among the
// paragraph's params->numLines lines. Every line result must already hold a
// copy of line 0's working data; each line's raw list is reordered so that
// its own elements come first, and entry i of elementCountPerLine becomes
// their number (0 for a line that found no band). Rectangles A and B of a
// line's working data are written only when the line received a band.
// workingImage is accepted for the line geometry and not read.
int32_t splitElementsAmongLines(const koc_charSegmentRunParams* params, koc_charSegmentLineResultData_* firstLine,
                                const kimg_image* workingImage, koc_charSegmentLineResult* lines,
                                kstd_vector32s* elementCountPerLine) noexcept;

}  // namespace koc::hypotheses
