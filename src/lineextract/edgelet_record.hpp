// edgelet_record.hpp: the row edgelets found on an extracted line, kept by
// the line-extraction result for later inspection.
#pragma once

#include "koc/koc_lineextract.h"
#include "services/memory.hpp"

namespace koc::lineextract {

// One edge point on a row: position in 16.16 line-image pixels, gradient
// magnitude and direction (16-bit angle).
struct RowEdgelet {
    int32_t x = 0;
    int32_t y = 0;
    uint16_t magnitude = 0;
    uint16_t angle = 0;
};

}  // namespace koc::lineextract

struct koc_lineEdgeletRecord_ {
    // Set when the edgelets were found on the rectified input region; cleared
    // when the line image had to be resampled, since they are in that frame.
    uint32_t isValid = 0;
    koc::services::Vector<koc::lineextract::RowEdgelet> edgelets;
};
