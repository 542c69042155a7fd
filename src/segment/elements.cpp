// elements.cpp: blob analysis of the working line image and one element
// record per blob. Elements whose blob touches the image border or the line
// mask's boundary are cut-off characters (or the rectangle's frame) and can
// be set apart as rejected, behind the good ones.
#include <cmath>

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "segment/elements.hpp"
#include "segment/segment_internal.hpp"
#include "services/blob_run.hpp"
#include "services/memory.hpp"
#include "services/numeric.hpp"

namespace koc::segment {

namespace {

constexpr uint32_t kFlagOutsideLineMask = 2;
// Polling every blob would cost more than the blob; every 32nd is enough.
constexpr int32_t kAttentionEvery = 32;

// Owns one run-length image for a scope.
class ScopedRle {
public:
    ScopedRle() noexcept { kimg_imageRle_construct(&rle_); }
    ~ScopedRle() { kimg_imageRle_destruct(&rle_); }
    ScopedRle(const ScopedRle&) = delete;
    ScopedRle& operator=(const ScopedRle&) = delete;
    kimg_imageRle* get() noexcept { return &rle_; }

private:
    kimg_imageRle rle_;
};

bool runInside(const MaskRow& row, int32_t left, int32_t right) noexcept
{
    return row.start < left && right < row.start + row.length;
}

}  // namespace

int32_t initBlobRunParams(const koc_charSegmentRunParams* params, services::BlobRunParams* blobParams,
                          int32_t* threshold, int32_t* polarityFlag) noexcept
{
    KOC_ASSERT(params != nullptr && blobParams != nullptr);
    KOC_ASSERT(threshold != nullptr && polarityFlag != nullptr);
    int32_t t = 0;
    int32_t p = 0;
    KOC_RETURN_IF_FAILED(computeHardThreshold(params, &t, &p));
    services::blobRunParamsSetHardThreshold(blobParams, t, p);
    blobParams->sizeLimit = params->blobSizeLimit;
    blobParams->fullRecords = 1;  // the mask test builds hulls from the runs
    blobParams->textHeightScale = services::saturatingInt32(256.0 * params->textHeightScale);
    blobParams->connectivity = 1;
    *threshold = t;
    *polarityFlag = p;
    return 0;
}

int32_t runBlobAnalysis(const kimg_image* workingImage, const koc_charSegmentRunParams* params,
                        koc_charSegmentLineResult* line, int32_t* threshold, services::BlobResultSet* blobs,
                        services::BlobResultSet* marks) noexcept
{
    KOC_ASSERT(workingImage != nullptr && params != nullptr && blobs != nullptr);
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    services::BlobRunParams blobParams;
    int32_t t = 0;
    int32_t p = 0;
    KOC_RETURN_IF_FAILED(initBlobRunParams(params, &blobParams, &t, &p));
    if (line != nullptr) {
        // Lets the line result binarise its image on demand.
        line->binarizationThreshold = static_cast<uint32_t>(t);
        line->thresholdPolarityFlag = p;
        line->hasBinarizationThreshold = 1;
    }
    if (threshold != nullptr) {
        *threshold = t;
    }
    if (marks != nullptr) {
        KOC_RETURN_IF_FAILED(services::blobRun8FromMarks(workingImage, &blobParams, marks, blobs));
    } else {
        KOC_RETURN_IF_FAILED(services::blobRun8(workingImage, &blobParams, blobs));
    }
    return ksys_attention_check();
}

int32_t isBlobInsideLineMask(const services::BlobResultSet* blobs, int32_t blobIndex, const MaskRow* maskRows,
                             int32_t maskRowCount, kstd_pair32 maskOrigin, int32_t* inside) noexcept
{
    KOC_ASSERT(blobs != nullptr && inside != nullptr);
    KOC_ASSERT(blobIndex >= 0 && static_cast<size_t>(blobIndex) < blobs->blobs.size());
    const services::Blob& blob = blobs->blobs[static_cast<size_t>(blobIndex)];
    *inside = blob.isInterior;
    if (*inside == 0 || maskRowCount <= 0) {
        return 0;
    }
    KOC_ASSERT(maskRows != nullptr);
    const int32_t top = blob.rect.y - maskOrigin.second;
    const int32_t bottom = top + blob.rect.height;
    const int32_t left = blob.rect.x - maskOrigin.first;
    const int32_t right = left + blob.rect.width;
    KOC_ASSERT(top >= 0 && bottom <= maskRowCount);

    // A convex mask that holds the blob's box, with a margin, in the rows
    // just above and below holds it in every row between.
    if (top > 0 && bottom < maskRowCount && runInside(maskRows[top - 1], left, right) &&
        runInside(maskRows[bottom], left, right)) {
        *inside = 1;
        return 0;
    }

    // Otherwise row by row: a hull row that starts or ends exactly where the
    // mask does in a neighbouring row lies on the mask's boundary. Rows
    // beyond the mask's first and last take no part.
    ScopedRle hull;
    KOC_RETURN_IF_FAILED(services::blobHullRle(blobs, blobIndex, hull.get()));
    kstd_rect32 hullRect;
    const int32_t* rowStart = nullptr;
    const kimg_run* runs = nullptr;
    KOC_RETURN_IF_FAILED(kimg_imageRle_getEncoding(hull.get(), &hullRect, &rowStart, &runs));
    KOC_ASSERT(hullRect.x == blob.rect.x && hullRect.y == blob.rect.y && hullRect.height == blob.rect.height);
    for (int32_t r = 0; r < hullRect.height; ++r) {
        KOC_ASSERT(rowStart[r + 1] - rowStart[r] == 1);
        const kimg_run& run = runs[rowStart[r]];
        const int32_t s = run.x - maskOrigin.first;
        const int32_t e = s + run.length;
        const int32_t m = top + r;
        for (int32_t k = m - 1; k <= m + 1; ++k) {
            if (k < 0 || k >= maskRowCount) {
                continue;
            }
            if (s == maskRows[k].start || e == maskRows[k].start + maskRows[k].length) {
                *inside = 0;
                return 0;
            }
        }
    }
    *inside = 1;
    return 0;
}

int32_t elementFromBlob(koc_charSegmentElementInfo* element, const services::BlobResultSet* blobs, int32_t blobIndex,
                        const MaskRow* maskRows, int32_t maskRowCount, kstd_pair32 maskOrigin,
                        const koc_charSegmentRunParams* params, int32_t skipMaskTest, int32_t threshold) noexcept
{
    KOC_ASSERT(element != nullptr && blobs != nullptr && params != nullptr);
    KOC_ASSERT(blobIndex >= 0 && static_cast<size_t>(blobIndex) < blobs->blobs.size());
    const services::Blob& blob = blobs->blobs[static_cast<size_t>(blobIndex)];
    KOC_ASSERT(blob.area > 0);
    uint32_t flags = 0;
    if (params->useLineMaskTest != 0 && skipMaskTest == 0) {
        int32_t inside = 1;
        KOC_RETURN_IF_FAILED(isBlobInsideLineMask(blobs, blobIndex, maskRows, maskRowCount, maskOrigin, &inside));
        if (inside == 0) {
            flags |= kFlagOutsideLineMask;
        }
    }
    const double mean = static_cast<double>(blob.greySum) / static_cast<double>(blob.area);
    element->rect = blob.rect;
    element->area = blob.area;
    element->contrast = static_cast<int32_t>(std::fabs(mean - threshold) * 65536.0 + 0.5);
    element->flags = flags;
    return 0;
}

int32_t buildElementsFromBlobs(const services::BlobResultSet* blobs, const kimg_imageRle* lineMask, int32_t threshold,
                               const koc_charSegmentRunParams* params, int32_t keepRejected, int32_t skipMaskTest,
                               Elements* elements, int32_t* goodCount) noexcept
{
    KOC_ASSERT(blobs != nullptr && params != nullptr && elements != nullptr && goodCount != nullptr);
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_clear(elements));
    *goodCount = 0;
    const auto n = static_cast<int32_t>(blobs->blobs.size());
    if (n == 0) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_resize(elements, n));
    koc_charSegmentElementInfo* slots = nullptr;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBegin(elements, &slots));

    return guarded([&]() -> int32_t {
        // The mask rows become a flat table once, so each blob's tests index
        // it directly.
        services::Vector<MaskRow> maskRows;
        kstd_pair32 origin{0, 0};
        int32_t isBound = 0;
        if (skipMaskTest == 0 && lineMask != nullptr) {
            KOC_RETURN_IF_FAILED(kimg_imageRle_getIsBound(lineMask, &isBound));
        }
        if (isBound != 0) {
            kstd_rect32 rect;
            const int32_t* rowStart = nullptr;
            const kimg_run* runs = nullptr;
            KOC_RETURN_IF_FAILED(kimg_imageRle_getEncoding(lineMask, &rect, &rowStart, &runs));
            maskRows.resize(static_cast<size_t>(rect.height));
            for (int32_t r = 0; r < rect.height; ++r) {
                KOC_ASSERT(rowStart[r + 1] - rowStart[r] == 1);
                const kimg_run& run = runs[rowStart[r]];
                maskRows[static_cast<size_t>(r)] = {run.x - rect.x, run.length};
            }
            origin = {rect.x, rect.y};
        }
        const auto rowCount = static_cast<int32_t>(maskRows.size());

        int32_t good = 0;
        int32_t rejected = 0;
        for (int32_t i = 0; i < n; ++i) {
            if (i % kAttentionEvery == 0) {
                KOC_RETURN_IF_FAILED(ksys_attention_check());
            }
            koc_charSegmentElementInfo element;
            KOC_RETURN_IF_FAILED(koc_charSegmentElementInfo_reset(&element));
            KOC_RETURN_IF_FAILED(elementFromBlob(&element, blobs, i, maskRows.data(), rowCount, origin, params,
                                                 skipMaskTest, threshold));
            int32_t slot = 0;
            if (element.flags == 0) {
                slot = good++;
            } else if (keepRejected != 0) {
                slot = n - 1 - rejected++;
            } else {
                continue;
            }
            KOC_ASSERT(slot >= 0 && slot < n);
            element.blobIndex = i;
            element.auxIndex = -1;
            slots[slot] = element;
        }

        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_ASSERT(keepRejected == 0 || good + rejected == n);
        *goodCount = good;
        if (good + rejected != n) {
            KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_resize(elements, good + rejected));
        }
        return 0;
    });
}

}  // namespace koc::segment
