// wide_split.hpp: cutting elements wider than a character may be (touching
// characters) into pieces, either with a comb of equal windows over the ink
// of the line blob image (refinementMode 2) or at the valleys of the grey
// column profile of the working image (any other mode); the pieces are then
// re-segmented. Open to the tests.
#pragma once

#include <cstdint>

#include "segment/refine.hpp"

namespace koc::segment {

// (x, width) in line-image columns.
using Pieces = services::Vector<kstd_pair32>;
// cumulative[i] = profile[0] + ... + profile[i - 1] (n + 1 entries), so the
// mass of columns [a, b) is cumulative[b] - cumulative[a].
using Cumulative = services::Vector<uint64_t>;

// Trims the margins off every element (wideOnly 0) or off the wide ones,
// cuts every element wider than the line's character width, and
// re-segments the pieces with mode. *changed as resegmentMarkedElements.
int32_t splitWideElements(Elements* elements, const kimg_image* workingImage, const kimg_image* blobImage,
                          const koc_charSegmentRunParams* params, int32_t mode, int32_t wideOnly,
                          int32_t* changed) noexcept;

// Removes from each side of the element the rows (columns) that together
// hold no more than rowShare (columnShare) of its ink in the working image.
int32_t trimElementMargins(const kimg_image* workingImage, const kimg_image* blobImage, uint32_t polarity,
                           double rowShare, double columnShare, koc_charSegmentElementInfo* e) noexcept;
// The same with the two projections' storage kept in scratch, for callers
// that trim many elements: the profiles are allocated once, not per element.
struct MarginScratch {
    Profile columns;
    Profile rows;
};
int32_t trimElementMargins(const kimg_image* workingImage, const kimg_image* blobImage, uint32_t polarity,
                           double rowShare, double columnShare, koc_charSegmentElementInfo* e,
                           MarginScratch* scratch) noexcept;

// lead: the first index where the running sum from the front exceeds t (n
// when none does, and then trail 0); trail likewise from the back.
int32_t edgeTrim(const uint32_t* profile, int32_t n, uint64_t t, int32_t* lead, int32_t* trail) noexcept;

// Cuts element index when it is wider than w (refinementMode 2: ink comb,
// else valleys), then narrows every resulting piece still wider than w to
// its heaviest w columns. *inserted: pieces added behind the element.
int32_t cutWideElement(const kimg_image* workingImage, const kimg_image* blobImage, Elements* elements, int32_t index,
                       uint32_t refinementMode, int32_t w, int32_t minCharWidth, uint32_t polarity, double share,
                       int32_t* inserted) noexcept;

int32_t splitByInkComb(const kimg_image* blobImage, Elements* elements, int32_t index, int32_t w,
                       int32_t minCharWidth, int32_t* inserted) noexcept;
// The comb over profile (n columns from x0) with the best ink mass per
// window column, preferring combs that reach the expected piece count.
int32_t placeCombCuts(const uint32_t* profile, int32_t n, int32_t x0, int32_t w, int32_t minCharWidth,
                      Pieces* pieces) noexcept;
// The piece count whose mean width lies nearest w (ties: more pieces).
int32_t expectedPieceCount(int32_t n, int32_t w, int32_t* k) noexcept;
// Windows of pitch p, gap apart, at the phase with the most mass; starts
// and masses of its windows.
int32_t combPlacement(const Cumulative& cumulative, int32_t n, int32_t p, int32_t minCharWidth, int32_t gap,
                      services::Vector<int32_t>* starts, services::Vector<uint64_t>* masses,
                      int32_t* count) noexcept;
// Widens pieces narrower than w by one free column at a time, towards
// columns at least as heavy as the piece's mean column.
int32_t growNarrowPieces(const uint32_t* profile, const Cumulative& cumulative, int32_t n, int32_t x0, int32_t w,
                         Pieces* pieces) noexcept;

int32_t splitAtValleys(const kimg_image* workingImage, const kimg_image* blobImage, Elements* elements,
                       int32_t index, int32_t w, uint32_t polarity, double share, int32_t* inserted) noexcept;
int32_t valleyCuts(const uint32_t* profile, int32_t n, int32_t x0, int32_t w, Pieces* pieces) noexcept;
// Cuts at the deepest valleys of the ink profile (preferring valleys far
// from earlier cuts) until no stretch is wider than w, then merges
// neighbouring pieces that fit w together.
int32_t findValleyCuts(const uint32_t* profile, int32_t n, int32_t x0, int32_t w, Pieces* pieces) noexcept;
// The valley columns findValleyCuts cuts at, in the order they are chosen.
int32_t chooseValleyCuts(const uint32_t* profile, int32_t n, int32_t w, services::Vector<int32_t>* cuts) noexcept;
int32_t mergeAdjacentPieces(int32_t w, Pieces* pieces) noexcept;
// expectedPieceCount(width, w) parts of (nearly) equal width.
int32_t splitEvenly(kstd_pair32 piece, int32_t w, Pieces* pieces) noexcept;

// Replaces element index by one copy per piece (area -1, to be
// re-segmented); *inserted = pieces - 1.
int32_t replaceByPieces(Elements* elements, int32_t index, const Pieces& pieces, int32_t* inserted) noexcept;
// Narrows an element wider than w to its w heaviest consecutive columns of
// the blob image.
int32_t trimToBestWindow(const kimg_image* blobImage, koc_charSegmentElementInfo* e, int32_t w) noexcept;
// [first, last]: the w consecutive entries with the largest sum (the first
// of equal ones), or the whole range when w >= n.
int32_t bestMassWindow(const uint32_t* profile, int32_t n, int32_t w, int32_t* first, int32_t* last) noexcept;

}  // namespace koc::segment
