// blob_run.cpp: blob analysis on top of the run-based labeller.
#include "services/blob_run.hpp"

#include <utility>

#include "services/guard.hpp"
#include "services/blob_label.hpp"
#include "services/pel_ops.hpp"

namespace koc::services {

namespace {

bool isCharacterShaped(const Blob& blob, const BlobRunParams& params) noexcept
{
    const int64_t w = blob.rect.width;
    const int64_t h = blob.rect.height;
    if (params.sizeLimit > 0 && w > params.sizeLimit * h) {
        return false;
    }
    // height / width > scale / 256, without a division.
    return params.textHeightScale <= 0 || h * 256 <= params.textHeightScale * w;
}

// Drops the blobs that fail the shape limits, keeping order, and moves the
// kept blobs' runs together (or drops all runs without full records).
void filterAndFlag(const kimg_windowConst& window, const BlobRunParams& params, BlobResultSet* set) noexcept
{
    size_t keptBlobs = 0;
    size_t keptRuns = 0;
    for (size_t b = 0; b < set->blobs.size(); ++b) {
        Blob blob = set->blobs[b];
        if (!isCharacterShaped(blob, params)) {
            continue;
        }
        const kstd_rect32& r = blob.rect;
        blob.isInterior = (r.x > window.x && r.y > window.y && r.x + r.width < window.x + window.width &&
                           r.y + r.height < window.y + window.height)
                              ? 1
                              : 0;
        if (params.fullRecords != 0) {
            for (int32_t k = 0; k < blob.runCount; ++k) {
                set->runs[keptRuns + static_cast<size_t>(k)] = set->runs[static_cast<size_t>(blob.firstRun + k)];
            }
            blob.firstRun = static_cast<int32_t>(keptRuns);
            keptRuns += static_cast<size_t>(blob.runCount);
        } else {
            blob.firstRun = 0;
            blob.runCount = 0;
        }
        set->blobs[keptBlobs++] = blob;
    }
    set->blobs.resize(keptBlobs);
    set->runs.resize(keptRuns);
}

bool validParams(const BlobRunParams& params) noexcept
{
    return params.connectivity == 1 && (params.fullRecords == 0 || params.fullRecords == 1) &&
           params.sizeLimit >= 0 && params.textHeightScale >= 0 &&
           (params.polarityFlag == 0 || params.polarityFlag == 1);
}

}  // namespace

void blobRunParamsSetHardThreshold(BlobRunParams* params, int32_t threshold, int32_t polarityFlag) noexcept
{
    KOC_CHECK(params != nullptr);
    if (params != nullptr) {
        params->hardThreshold = threshold;
        params->polarityFlag = polarityFlag;
    }
}

int32_t blobRun8(const kimg_image* image, const BlobRunParams* params, BlobResultSet* blobs) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(params != nullptr);
    KOC_ASSERT(blobs != nullptr);
    blobs->clear();
    if (!validParams(*params)) {
        return KOC_E_BAD_ARGUMENT;
    }
    kimg_windowConst window;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&window, image));
    // The labeller takes strictly one side of its threshold: "below t" is the
    // dark marks as they are, "at or above t" is "above t - 1".
    if (params->polarityFlag == 1) {
        KOC_RETURN_IF_FAILED(labelBlobs<uint8_t>(image, params->hardThreshold, kBlobsBelowThreshold, blobs));
    } else {
        KOC_RETURN_IF_FAILED(labelBlobs<uint8_t>(image, params->hardThreshold - 1, kBlobsAboveThreshold, blobs));
    }
    filterAndFlag(window, *params, blobs);
    return 0;
}

int32_t blobRun8FromMarks(const kimg_image* image, const BlobRunParams* params, BlobResultSet* marks,
                          BlobResultSet* blobs) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(params != nullptr);
    KOC_ASSERT(marks != nullptr && blobs != nullptr && marks != blobs);
    blobs->clear();
    if (!validParams(*params)) {
        marks->clear();
        return KOC_E_BAD_ARGUMENT;
    }
    kimg_windowConst window;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&window, image));
    PixelRows<const uint8_t> src;
    KOC_RETURN_IF_FAILED(viewPixels(image, &src));
    std::swap(*blobs, *marks);
    marks->clear();
    for (Blob& blob : blobs->blobs) {
        int64_t sum = 0;
        for (int32_t k = 0; k < blob.runCount; ++k) {
            const BlobRun& run = blobs->runs[static_cast<size_t>(blob.firstRun + k)];
            const uint8_t* row = src.row(run.y - src.y) + (run.x - src.x);
            for (int32_t i = 0; i < run.length; ++i) {
                sum += row[i];
            }
        }
        blob.greySum = sum;
    }
    filterAndFlag(window, *params, blobs);
    return 0;
}

int32_t blobHullRle(const BlobResultSet* blobs, int32_t index, kimg_imageRle* hull) noexcept
{
    KOC_ASSERT(blobs != nullptr);
    KOC_ASSERT(hull != nullptr);
    if (index < 0 || static_cast<size_t>(index) >= blobs->blobs.size()) {
        return KOC_E_INDEX_OUT_OF_RANGE;
    }
    const Blob& blob = blobs->blobs[static_cast<size_t>(index)];
    if (blob.runCount <= 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    KOC_RETURN_IF_FAILED(kimg_imageRle_assignEmpty(hull, &blob.rect));
    // Runs come top to bottom, left to right within a row, and every row of
    // an 8-connected blob holds at least one.
    const BlobRun* run = blobs->runs.data() + blob.firstRun;
    const BlobRun* const end = run + blob.runCount;
    while (run != end) {
        const int32_t y = run->y;
        const int32_t left = run->x;
        int32_t right = run->x + run->length;
        for (++run; run != end && run->y == y; ++run) {
            right = run->x + run->length;
        }
        KOC_RETURN_IF_FAILED(kimg_imageRle_addRun(hull, y, left, right - left));
    }
    return 0;
}

}  // namespace koc::services
