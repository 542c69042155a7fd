// blob_label.cpp: run-based connected components. One pass cuts every row
// into foreground runs and unites each run with the runs of the row above
// that touch it (8-connectivity: overlapping or diagonally adjacent), in a
// union-find forest whose root is always the lowest run index, i.e. the
// component's first run in raster order. A second pass numbers the roots in
// that order and gathers each blob's rectangle, area, grey sum and runs.
#include "services/blob_label.hpp"

#include <algorithm>
#include <bit>
#include <limits>

#include "services/guard.hpp"
#include "services/pel_ops.hpp"
#include "services/attention.hpp"

namespace koc::services {

namespace {

struct Segment {
    int32_t y;
    int32_t x;
    int32_t length;
    int64_t greySum;
};

struct BorderRun {
    int32_t x;       // window-relative start
    int32_t length;  // at a component's root, after summing: its area
    uint8_t sides;   // window sides touched: 1 top, 2 bottom, 4 left, 8 right
};

struct Extent {
    int32_t x0, y0, x1, y1;  // inclusive
};

int32_t findRoot(Vector<int32_t>& parent, int32_t i) noexcept
{
    while (parent[static_cast<size_t>(i)] != i) {
        // Path halving keeps the trees flat without a second walk.
        const int32_t grand = parent[static_cast<size_t>(parent[static_cast<size_t>(i)])];
        parent[static_cast<size_t>(i)] = grand;
        i = grand;
    }
    return i;
}

void unite(Vector<int32_t>& parent, int32_t a, int32_t b) noexcept
{
    const int32_t ra = findRoot(parent, a);
    const int32_t rb = findRoot(parent, b);
    if (ra < rb) {
        parent[static_cast<size_t>(rb)] = ra;
    } else if (rb < ra) {
        parent[static_cast<size_t>(ra)] = rb;
    }
}

// Appends the foreground runs of one row. kBelow selects the side of the
// threshold at compile time so the scan loop carries no flag test.
template <class Pixel, bool kBelow>
void cutRow(const Pixel* row, int32_t width, int32_t threshold, int32_t y, int32_t x0, Vector<Segment>& segments,
            Vector<int32_t>& parent)
{
    const auto inside = [threshold](int32_t v) { return kBelow ? v < threshold : v > threshold; };
    int32_t i = 0;
    while (i < width) {
        if (!inside(row[i])) {
            ++i;
            continue;
        }
        const int32_t start = i;
        int64_t sum = 0;
        while (i < width && inside(row[i])) {
            sum += row[i];
            ++i;
        }
        parent.push_back(static_cast<int32_t>(segments.size()));
        segments.push_back({y, x0 + start, i - start, sum});
    }
}

template <class Pixel, bool kBelow>
int32_t label(const PixelRows<const Pixel>& src, int32_t threshold, BlobResultSet* blobs)
{
    Vector<Segment> segments;
    Vector<int32_t> parent;
    size_t previousBegin = 0;
    size_t previousEnd = 0;
    AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const size_t begin = segments.size();
        cutRow<Pixel, kBelow>(src.row(j), src.width, threshold, src.y + j, src.x, segments, parent);
        if (segments.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
            return KOC_E_OUT_OF_MEMORY;  // run indices are 32-bit
        }
        // Runs above that end left of s.x - 1 cannot touch s or any later run
        // of this row, so k only moves forward.
        size_t k = previousBegin;
        for (size_t s = begin; s < segments.size(); ++s) {
            const Segment& cur = segments[s];
            while (k < previousEnd && segments[k].x + segments[k].length < cur.x) {
                ++k;
            }
            for (size_t m = k; m < previousEnd && segments[m].x <= cur.x + cur.length; ++m) {
                unite(parent, static_cast<int32_t>(s), static_cast<int32_t>(m));
            }
        }
        previousBegin = begin;
        previousEnd = segments.size();
    }

    // Roots precede their members, so one forward pass numbers every run.
    const size_t runCount = segments.size();
    Vector<int32_t> blobOf(runCount, 0);
    int32_t blobCount = 0;
    for (size_t s = 0; s < runCount; ++s) {
        const auto root = static_cast<size_t>(findRoot(parent, static_cast<int32_t>(s)));
        blobOf[s] = root == s ? blobCount++ : blobOf[root];
    }

    blobs->blobs.resize(static_cast<size_t>(blobCount));
    Vector<Extent> extent(static_cast<size_t>(blobCount), Extent{0, 0, 0, 0});
    for (size_t s = 0; s < runCount; ++s) {
        const Segment& seg = segments[s];
        const auto b = static_cast<size_t>(blobOf[s]);
        Blob& blob = blobs->blobs[b];
        Extent& e = extent[b];
        if (blob.runCount == 0) {
            e = {seg.x, seg.y, seg.x + seg.length - 1, seg.y};
        } else {
            e.x0 = std::min(e.x0, seg.x);
            e.x1 = std::max(e.x1, seg.x + seg.length - 1);
            e.y1 = seg.y;  // runs arrive top to bottom
        }
        ++blob.runCount;
        blob.area += seg.length;
        blob.greySum += seg.greySum;
    }
    int32_t next = 0;
    for (size_t b = 0; b < blobs->blobs.size(); ++b) {
        Blob& blob = blobs->blobs[b];
        const Extent& e = extent[b];
        blob.rect = {e.x0, e.y0, e.x1 - e.x0 + 1, e.y1 - e.y0 + 1};
        blob.firstRun = next;
        next += blob.runCount;
    }
    // A stable scatter keeps each blob's runs in raster order.
    blobs->runs.resize(runCount);
    Vector<int32_t> fill(static_cast<size_t>(blobCount), 0);
    for (size_t s = 0; s < runCount; ++s) {
        const auto b = static_cast<size_t>(blobOf[s]);
        const Segment& seg = segments[s];
        blobs->runs[static_cast<size_t>(blobs->blobs[b].firstRun + fill[b]++)] = {seg.y, seg.x, seg.length};
    }
    return 0;
}

// The border-touching area without blob records: the same runs and the
// same 8-connected unions as label, but a run carries only its length and the
// window sides it lies on, and components are summed at their roots. The
// run and parent lists come from the caller so that repeated calls reuse
// their storage.
template <class Pixel, bool kBelow>
int32_t borderArea(const PixelRows<const Pixel>& src, int32_t threshold, Vector<BorderRun>& runs,
                   Vector<int32_t>& parent, double* area)
{
    runs.clear();
    parent.clear();
    const auto inside = [threshold](int32_t v) { return kBelow ? v < threshold : v > threshold; };
    size_t previousBegin = 0;
    size_t previousEnd = 0;
    AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const Pixel* row = src.row(j);
        const size_t begin = runs.size();
        const uint8_t rowSides = static_cast<uint8_t>((j == 0 ? 1 : 0) | (j == src.height - 1 ? 2 : 0));
        int32_t i = 0;
        while (i < src.width) {
            if (!inside(row[i])) {
                ++i;
                continue;
            }
            const int32_t start = i;
            while (i < src.width && inside(row[i])) {
                ++i;
            }
            const uint8_t sides =
                static_cast<uint8_t>(rowSides | (start == 0 ? 4 : 0) | (i == src.width ? 8 : 0));
            parent.push_back(static_cast<int32_t>(runs.size()));
            runs.push_back({start, i - start, sides});
        }
        if (runs.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
            return KOC_E_OUT_OF_MEMORY;  // run indices are 32-bit
        }
        size_t k = previousBegin;
        for (size_t s = begin; s < runs.size(); ++s) {
            const BorderRun& cur = runs[s];
            while (k < previousEnd && runs[k].x + runs[k].length < cur.x) {
                ++k;
            }
            for (size_t m = k; m < previousEnd && runs[m].x <= cur.x + cur.length; ++m) {
                unite(parent, static_cast<int32_t>(s), static_cast<int32_t>(m));
            }
        }
        previousBegin = begin;
        previousEnd = runs.size();
    }
    // Roots precede their members: one backward pass moves every run's
    // length and sides onto its root (a member's root has a lower index).
    for (size_t s = runs.size(); s-- > 0;) {
        const auto root = static_cast<size_t>(findRoot(parent, static_cast<int32_t>(s)));
        if (root != s) {
            runs[root].length += runs[s].length;
            runs[root].sides = static_cast<uint8_t>(runs[root].sides | runs[s].sides);
        }
    }
    double sum = 0.0;
    for (size_t s = 0; s < runs.size(); ++s) {
        const uint32_t sides = runs[s].sides;
        if (static_cast<size_t>(parent[s]) == s && std::popcount(sides) >= 2) {
            sum += runs[s].length;
        }
    }
    *area = sum;
    return 0;
}

}  // namespace

template <class Pixel>
int32_t labelBlobs(const kimg_image* image, int32_t threshold, uint32_t polarityFlag, BlobResultSet* blobs) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(blobs != nullptr);
    blobs->clear();
    if (polarityFlag != kBlobsAboveThreshold && polarityFlag != kBlobsBelowThreshold) {
        return KOC_E_BAD_ARGUMENT;
    }
    PixelRows<const Pixel> src;
    KOC_RETURN_IF_FAILED(viewPixels(image, &src));
    return guarded([&]() -> int32_t {
        return polarityFlag == kBlobsBelowThreshold ? label<Pixel, true>(src, threshold, blobs)
                                                    : label<Pixel, false>(src, threshold, blobs);
    });
}

template <class Pixel>
int32_t borderComponentArea(const kimg_image* image, int32_t threshold, uint32_t polarityFlag, double* area) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(area != nullptr);
    *area = 0.0;
    if (polarityFlag != kBlobsAboveThreshold && polarityFlag != kBlobsBelowThreshold) {
        return KOC_E_BAD_ARGUMENT;
    }
    PixelRows<const Pixel> src;
    KOC_RETURN_IF_FAILED(viewPixels(image, &src));
    return guarded([&]() -> int32_t {
        Vector<BorderRun> runs;
        Vector<int32_t> parent;
        return polarityFlag == kBlobsBelowThreshold ? borderArea<Pixel, true>(src, threshold, runs, parent, area)
                                                    : borderArea<Pixel, false>(src, threshold, runs, parent, area);
    });
}

template int32_t borderComponentArea<uint8_t>(const kimg_image*, int32_t, uint32_t, double*) noexcept;
template int32_t borderComponentArea<uint16_t>(const kimg_image*, int32_t, uint32_t, double*) noexcept;
template int32_t labelBlobs<uint8_t>(const kimg_image*, int32_t, uint32_t, BlobResultSet*) noexcept;
template int32_t labelBlobs<uint16_t>(const kimg_image*, int32_t, uint32_t, BlobResultSet*) noexcept;

}  // namespace koc::services
