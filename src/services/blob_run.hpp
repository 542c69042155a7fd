// blob_run.hpp: blob analysis as the segmentation runs it: labelling on one
// side of a hard threshold, interior flags, the shape filter that drops
// rules and scratches, and blob hulls as run-length images.
#pragma once

#include <cstdint>

#include "koc/kimg.h"
#include "services/blob.hpp"

namespace koc::services {

// The first five fields are plain 32-bit words the segmentation sets one by
// one; the threshold and its side come last, through
// blobRunParamsSetHardThreshold.
struct BlobRunParams {
    // 1: 8-connected components, the only connectivity offered (marks of
    // printed text touch diagonally at stroke joints).
    int32_t connectivity = 1;
    // 1: keep every blob's runs, which hulls are built from; 0: blob records
    // only, runCount 0 (a cheaper count-and-box pass).
    int32_t fullRecords = 1;
    // A blob more than sizeLimit times wider than it is tall is a rule or a
    // scratch, not a character, and is dropped. 0: no limit.
    int32_t sizeLimit = 0;
    int32_t spare = 0;
    // 8.8 fixed point (7680 = 30.0): a blob more than this many times taller
    // than it is wide is a vertical rule or scratch and is dropped likewise.
    // 0: no limit.
    int32_t textHeightScale = 0;
    int32_t hardThreshold = 128;
    // 1: marks are the pixels below hardThreshold (dark marks); 0: the
    // pixels at or above it (light marks).
    int32_t polarityFlag = 1;
};

void blobRunParamsSetHardThreshold(BlobRunParams* params, int32_t threshold, int32_t polarityFlag) noexcept;

// Labels the marks of an 8-bit image's window into blobs (cleared first).
// Kept blobs stay in the labeller's order (raster order of their first
// pixel); each gets its interior flag. Blobs dropped by the shape limits
// leave no trace, their runs included. KOC_E_BAD_ARGUMENT for a
// connectivity other than 1, a full-records flag other than 0 or 1,
// negative limits or a polarity flag other than 0 or 1; the image codes of
// pel_ops.hpp otherwise.
int32_t blobRun8(const kimg_image* image, const BlobRunParams* params, BlobResultSet* blobs) noexcept;

// blobRun8 for a caller that already holds the labelling: marks must be
// what labelBlobs gives for exactly the pixels blobRun8 would take as marks
// of image (its grey sums may differ: they are recomputed from image's
// pixels). marks is taken over (left empty). Same checks and codes as
// blobRun8, which labels nothing twice this way.
int32_t blobRun8FromMarks(const kimg_image* image, const BlobRunParams* params, BlobResultSet* marks,
                          BlobResultSet* blobs) noexcept;

// The blob's hull: one run per row, from the row's leftmost to its
// rightmost blob pixel, over the blob's rectangle (so its origin is the
// blob's x, y). KOC_E_INDEX_OUT_OF_RANGE for a bad index, KOC_E_BAD_ARGUMENT
// for a blob without runs (labelled with fullRecords 0).
int32_t blobHullRle(const BlobResultSet* blobs, int32_t index, kimg_imageRle* hull) noexcept;

}  // namespace koc::services
