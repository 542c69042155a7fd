// driver.hpp: the segmentation driver: turns the extracted line of one
// paragraph into filled line results.
#pragma once

#include "koc/koc_params.h"
#include "koc/koc_results.h"

namespace koc::segment {

// The opt-in extensions of the road (koc_extensions.h); the default is the
// plain road.
struct SegmentOptions {
    bool splitTouchingGlyphs = false;
    int32_t walkNodeBudget = 0;  // prefixes per fragment; 0: none
    bool bandAwareElements = false;
    // The text band line extraction found, in the line image's pixels
    // (bandAwareElements only; height 0: none).
    kstd_rect32 band{0, 0, 0, 0};
};

// lines points at the paragraph's params->numLines line results; line 0
// already holds the rectified line image and angles. params->polarity must
// be decided (1 or 2), else KOC_E_POLARITY_UNDECIDED.
int32_t segmentCharactersCore(const kimg_image* lineImage, int32_t isNormalized, int32_t shareSourceImage,
                              const kimg_imageRle* lineMask, const koc_charSegmentRunParams* params,
                              double lineHeight, koc_charSegmentLineResult* lines,
                              const SegmentOptions& options = {}) noexcept;

}  // namespace koc::segment
