// driver.cpp: the segmentation driver.
//
// The character stages (threshold, blobs, elements, windows, positions) are
// not wired in yet: a found line comes back with its rectified and
// normalised images and no positions.
#include "segment/driver.hpp"

#include "interface/guard.hpp"
#include "koc/ksys.h"

namespace koc::segment {

int32_t segmentCharactersCore(const kimg_image* lineImage, int32_t isNormalized, int32_t /*isFirstPass*/,
                              const kimg_imageRle* /*lineMask*/, const koc_charSegmentRunParams* params,
                              double /*lineHeight*/, koc_charSegmentLineResult* lines) noexcept
{
    KOC_ASSERT(lineImage != nullptr && params != nullptr && lines != nullptr);
    if (params->polarity != 1 && params->polarity != 2) {
        return KOC_E_POLARITY_UNDECIDED;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    koc_charSegmentLineResult& first = lines[0];
    if (isNormalized != 0) {
        KOC_RETURN_IF_FAILED(kimg_image_assign(&first.normalizedRectifiedLineImage, lineImage));
        first.hasNormalizedRectifiedLineImage = 1;
    }
    return kstd_vector_koc_charSegmentPositionResult_clear(&first.positionResults);
}

}  // namespace koc::segment
