// blob.hpp: the result of connected-component analysis on a line image, as
// the line working data keeps it: one record per blob and the blob's runs.
#pragma once

#include "koc/kimg.h"
#include "services/memory.hpp"

namespace koc::services {

struct Blob {
    kstd_rect32 rect{0, 0, 0, 0};
    int32_t area = 0;        // pixel count
    int32_t firstRun = 0;    // index of the blob's first run in BlobResultSet::runs
    int32_t runCount = 0;
    uint32_t flags = 0;
    int64_t greySum = 0;     // sum of the blob's grey values
    int32_t isInterior = 0;  // 1 when the box touches no side of the labelled window (set by blobRun8)
};

// A run of blob pixels on row y.
struct BlobRun {
    int32_t y = 0;
    int32_t x = 0;
    int32_t length = 0;
};

struct BlobResultSet {
    Vector<Blob> blobs;
    Vector<BlobRun> runs;  // grouped by blob, each blob's runs top to bottom

    void clear() noexcept
    {
        blobs.clear();
        runs.clear();
    }
};

}  // namespace koc::services
