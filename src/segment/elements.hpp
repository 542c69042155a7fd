// elements.hpp: the helpers behind runBlobAnalysis and
// buildElementsFromBlobs (segment_internal.hpp), open to the tests.
#pragma once

#include "koc/koc_params.h"
#include "koc/koc_stats.h"
#include "services/blob.hpp"
#include "services/blob_run.hpp"

namespace koc::segment {

// One row of the line mask: its single run, relative to the mask origin.
struct MaskRow {
    int32_t start;
    int32_t length;
};

// The blob run parameters for the segmentation: hard threshold and side
// from computeHardThreshold, 8-connected, full records, the size limit and
// the text-height scale (8.8) from the run parameters. Returns t and p.
int32_t initBlobRunParams(const koc_charSegmentRunParams* params, services::BlobRunParams* blobParams,
                          int32_t* threshold, int32_t* polarityFlag) noexcept;

// Fills element from blob blobIndex (rect, area, contrast, flags; the
// indices are the caller's). The mask test runs only with useLineMaskTest
// on and skipMaskTest 0; a blob not inside the mask gets flag 2.
int32_t elementFromBlob(koc_charSegmentElementInfo* element, const services::BlobResultSet* blobs, int32_t blobIndex,
                        const MaskRow* maskRows, int32_t maskRowCount, kstd_pair32 maskOrigin,
                        const koc_charSegmentRunParams* params, int32_t skipMaskTest, int32_t threshold) noexcept;

// *inside = 0 when the blob touches the image border (not interior) or the
// line mask's boundary, else 1. maskRows[r] is the run of mask row
// maskOrigin.second + r; an empty table only checks the interior flag. The
// blob's rows must lie within the mask's rows (assertion).
int32_t isBlobInsideLineMask(const services::BlobResultSet* blobs, int32_t blobIndex, const MaskRow* maskRows,
                             int32_t maskRowCount, kstd_pair32 maskOrigin, int32_t* inside) noexcept;

}  // namespace koc::segment
