// segment_internal.hpp: the stages of the segmentation pipeline, in the order
// the driver calls them. Each returns 0 or a negative code, passed on
// unchanged; null required pointers go to the assertion hook.
#pragma once

#include "hypotheses/line_data.hpp"
#include "koc/koc_results.h"
#include "services/blob.hpp"

namespace koc::segment {

using LineData = koc_charSegmentLineResultData_;
using Elements = kstd_vector_koc_charSegmentElementInfo;
using Windows = kstd_vector_koc_charWindow_;

// ---- threshold and background suppression (threshold.cpp) ----

// Hard threshold (1..255) between marks and ground, and the polarity flag
// (1: dark marks, which lie below the threshold; 0: light marks, at or
// above it). KOC_E_POLARITY_UNDECIDED unless polarity is 1 or 2.
int32_t computeHardThreshold(const koc_charSegmentRunParams* params, int32_t* threshold, int32_t* polarityFlag) noexcept;
// Paints mark-coloured structures thinner than the text's strokes with the
// ground colour, into a new 8-bit image. With marks and marksExact given,
// *marksExact tells whether the output's marks at the hard threshold (as
// runBlobAnalysis binarises it) are exactly the pixels the stroke analysis
// kept, and then marks holds their components, labelled once already for
// the speck test (see runBlobAnalysis).
int32_t suppressBackground(const kimg_image* source, uint32_t polarity, int32_t polarityFlag, kimg_image* output,
                           int32_t threshold = 0, services::BlobResultSet* marks = nullptr,
                           bool* marksExact = nullptr) noexcept;

// ---- blobs and elements (elements.cpp) ----

// Labels the marks of the working line image into blobs. When line is given
// it receives the threshold and polarity flag (hasBinarizationThreshold 1).
// marks, when given, is the labelling of exactly the working image's marks
// (suppressBackground's, with marksExact) and is used instead of labelling
// again; it is left empty.
int32_t runBlobAnalysis(const kimg_image* workingImage, const koc_charSegmentRunParams* params,
                        koc_charSegmentLineResult* line, int32_t* threshold, services::BlobResultSet* blobs,
                        services::BlobResultSet* marks = nullptr) noexcept;
// One element per blob: good ones first in blob order, then the rejected
// ones in reverse blob order (when keepRejected); *goodCount good ones.
int32_t buildElementsFromBlobs(const services::BlobResultSet* blobs, const kimg_imageRle* lineMask, int32_t threshold,
                               const koc_charSegmentRunParams* params, int32_t keepRejected, int32_t skipMaskTest,
                               Elements* elements, int32_t* goodCount) noexcept;

// ---- line selection (single_line.cpp) ----

// Keeps the elements of the strongest text band at the front of line 0's
// raw elements; entry 0 of elementCountPerLine becomes their number. With a
// band of non-zero height (and blobs), that band is the line's and an
// element is on it when its box lies within it (with lineBandMargin) or at
// least minLineOverlap of its ink does.
int32_t groupElementsSingleLine(const koc_charSegmentRunParams* params, const services::BlobResultSet* blobs,
                                koc_charSegmentLineResult* lines, kstd_vector32s* elementCountPerLine,
                                const kstd_rect32* band = nullptr) noexcept;

// ---- refinement (refine.cpp) ----

// From the line's first count raw elements to its tree elements: broken
// characters merged, over-tall elements cropped and re-segmented, wide ones
// cut apart; left to right. With splitTouchingGlyphs, glyphs that still
// touch are then cut along the cheapest path through their ink (touching.hpp).
// No merge makes an element taller than maxGroupHeight rows.
int32_t refineLineElements(LineData* data, const koc_charSegmentElementInfo* elements, int32_t count,
                           const kimg_image* workingImage, const koc_charSegmentRunParams* params,
                           Elements* treeElements, bool splitTouchingGlyphs = false,
                           int32_t maxGroupHeight = INT32_MAX) noexcept;

// ---- character windows (char_windows.cpp) ----

int32_t prepareLineContext(LineData* data, const kimg_image* sourceImage, int32_t shareSourceImage,
                           const kimg_image* workingImage) noexcept;
// rebuild 0: windows straight from the character elements; 1: filtered
// elements, generated cells, inserted and scored spaces.
int32_t buildCharWindows(koc_charSegmentLineResult* line, const koc_charSegmentRunParams* params, int32_t rebuild) noexcept;
int32_t filterCharElements(const koc_charSegmentRunParams* params, Elements* elements) noexcept;
int32_t filterCharWindows(const koc_charSegmentRunParams* params, Windows* windows) noexcept;
int32_t setWindowReferencePoints(Windows* windows) noexcept;
int32_t charElementsFromWindows(koc_charSegmentLineResult* line) noexcept;

// ---- position results (positions.cpp) ----

// Character elements from the run context's best path, then windows rebuilt.
int32_t positionsFromBestPath(koc_charSegmentLineResult* line) noexcept;
int32_t fillPositionResults(koc_charSegmentLineResult* line) noexcept;

}  // namespace koc::segment
