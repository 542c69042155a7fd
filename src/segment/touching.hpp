// touching.hpp: cutting glyphs that touch their neighbours apart along the
// cheapest path through the ink, which may slant or bend where the glyphs'
// columns overlap (W beside A, A beside V). Off unless a caller asks for it
// through the segmentation extensions. Open to the tests.
#pragma once

#include <cstdint>

#include "segment/segment_internal.hpp"
#include "services/memory.hpp"

namespace koc::segment {

// What the split measured on a line: the width of one glyph (from the
// full-height elements that are not multiples of another, at least two of
// them), the text height and stroke width, and the cuts made. Widths 0
// when nothing could be measured; then nothing is cut.
struct TouchingMeasure {
    int32_t glyphWidth = 0;
    int32_t textHeight = 0;
    int32_t strokeWidth = 0;
    int32_t cuts = 0;
};

// Replaces every element that is at least one and a half glyphs wide and
// can be cut top to bottom through at most half a stroke width of ink
// (rounded up) where two glyphs touch -- on the element's first or last
// rows, or between strokes more than twice as wide as the ink crossed, not
// through a thin spot of one glyph's stroke -- or, when it is at least 1.7
// glyphs wide, through at most a stroke width near one of the even
// divisions of its width -- by the
// pieces either side of the cut (recursively), each with its own ink box
// and ink count. Elements stay sorted by x. blobImage is the line blob
// image (255 on the line's blobs). measure may be null. known, when not
// null, is what an earlier call measured on the same line's uncut
// elements: it is used instead of measuring again, since pieces cut apart
// in between (by this split or the wide split) would pass for narrow
// glyphs and shrink the glyph width; a known glyph width of 0 cuts nothing.
int32_t splitTouchingGlyphs(Elements* elements, const kimg_image* blobImage, TouchingMeasure* measure,
                            const TouchingMeasure* known = nullptr) noexcept;

// The cheapest top-to-bottom path through a height x width grid of ink
// flags (row-major, non-zero = ink), moving at most one column per row and
// staying inside columns [lo[y], hi[y]) of each row. A diagonal step between
// two ink pixels that touch at a corner counts as crossing ink. *columns
// receives one column per row, *ink the ink pixels crossed; *ink is -1 when
// some row leaves no column to pass.
int32_t cheapestCutPath(const uint8_t* ink, int32_t width, int32_t height, const services::Vector<int32_t>& lo,
                        const services::Vector<int32_t>& hi, services::Vector<int32_t>* columns,
                        int32_t* inkCrossed) noexcept;

}  // namespace koc::segment
