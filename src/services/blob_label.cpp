// blob_label.cpp: run-based connected components. One pass cuts every row
// into foreground runs and unites each run with the runs of the row above
// that touch it (8-connectivity: overlapping or diagonally adjacent), in a
// union-find forest whose root is always the lowest run index, i.e. the
// component's first run in raster order. A second pass numbers the roots in
// that order and gathers each blob's rectangle, area, grey sum and runs.
#include "services/blob_label.hpp"

#include <algorithm>
#include <limits>

#include "services/guard.hpp"
#include "services/pel_ops.hpp"
#include "services/attention.hpp"
#include "services/row_mask.hpp"

namespace koc::services {

namespace {

struct Segment {
    int32_t y;
    int32_t x;
    int32_t length;
    int64_t greySum;
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

// The root of run s when every earlier run already points at its root, as
// a pass in run order leaves them: every link points to a lower index, so
// s's parent is final and its parent is the root. Records it for s.
inline int32_t rootInOrder(Vector<int32_t>& parent, size_t s) noexcept
{
    const int32_t root = parent[static_cast<size_t>(parent[s])];
    parent[s] = root;
    return root;
}

// Unites each run of the current row [begin, end), still its own root, with
// the runs of the row above [previousBegin, previousEnd) that touch it
// (8-connectivity: overlapping or diagonally adjacent). The run's root is
// carried along its overlaps, so each overlap costs one root search, and the
// lower of two roots always wins: a component's root stays its first run.
// Runs above that end left of x - 1 cannot touch the run or any later run of
// the row, so k only moves forward.
template <class Run>
void joinToRowAbove(const Vector<Run>& runs, Vector<int32_t>& parent, size_t begin, size_t end, size_t previousBegin,
                    size_t previousEnd) noexcept
{
    size_t k = previousBegin;
    for (size_t s = begin; s < end; ++s) {
        const Run& cur = runs[s];
        while (k < previousEnd && runs[k].x + runs[k].length < cur.x) {
            ++k;
        }
        auto root = static_cast<int32_t>(s);
        for (size_t m = k; m < previousEnd && runs[m].x <= cur.x + cur.length; ++m) {
            const int32_t r = findRoot(parent, static_cast<int32_t>(m));
            if (r < root) {
                parent[static_cast<size_t>(root)] = r;
                root = r;
            } else if (r > root) {
                parent[static_cast<size_t>(r)] = root;
            }
        }
    }
}

// Room for the runs of a typical line image up front, so that the run and
// parent lists grow a few times rather than a dozen: one run per 16 pixels,
// capped so a large, sparse image does not reserve megabytes it never uses.
size_t expectedRuns(int32_t width, int32_t height) noexcept
{
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    return static_cast<size_t>(std::min<uint64_t>(pixels / 16 + 16, uint64_t{1} << 16));
}

// Appends the foreground runs of one row.
template <class Pixel, bool kBelow>
void cutRow(RowMask& finder, const Pixel* row, int32_t threshold, int32_t y, int32_t x0, Vector<Segment>& segments,
            Vector<int32_t>& parent)
{
    finder.mark<Pixel, kBelow>(row, threshold);
    finder.forEachRun([&](int32_t start, int32_t end) {
        int64_t sum = 0;
        for (int32_t i = start; i < end; ++i) {
            sum += row[i];
        }
        parent.push_back(static_cast<int32_t>(segments.size()));
        segments.push_back({y, x0 + start, end - start, sum});
    });
}

template <class Pixel, bool kBelow>
int32_t label(const PixelRows<const Pixel>& src, int32_t threshold, BlobResultSet* blobs)
{
    Vector<Segment> segments;
    Vector<int32_t> parent;
    segments.reserve(expectedRuns(src.width, src.height));
    parent.reserve(segments.capacity());
    size_t previousBegin = 0;
    size_t previousEnd = 0;
    RowMask finder(src.width);
    AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const size_t begin = segments.size();
        cutRow<Pixel, kBelow>(finder, src.row(j), threshold, src.y + j, src.x, segments, parent);
        if (segments.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
            return KOC_E_OUT_OF_MEMORY;  // run indices are 32-bit
        }
        joinToRowAbove(segments, parent, begin, segments.size(), previousBegin, previousEnd);
        previousBegin = begin;
        previousEnd = segments.size();
    }

    // Roots precede their members, so one forward pass numbers every run.
    const size_t runCount = segments.size();
    Vector<int32_t> blobOf(runCount, 0);
    int32_t blobCount = 0;
    for (size_t s = 0; s < runCount; ++s) {
        const auto root = static_cast<size_t>(rootInOrder(parent, s));
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

// The border-touching area without blob records: the same runs and the same
// 8-connected unions as label, but only each component's area and the window
// sides it touches are kept, at its root. Which run is a root does not matter
// here, so the unions are done as the runs are found, each run joined to the
// row above's runs at once, and only the current and previous rows' run
// extents are kept.
class BorderComponents {
public:
    BorderComponents(int32_t width, int32_t height)
        : mask_(width),
          width_(width),
          height_(height),
          above_(static_cast<size_t>(width) / 2 + 1),
          here_(above_.size())
    {
        nodes_.reserve(expectedRuns(width, height));
    }

    // The row's mask, to be marked before addRow.
    RowMask& mask() noexcept { return mask_; }

    // Cuts row j's flags into runs and unites each with the runs of the row
    // above that touch it (overlapping or diagonally adjacent). A run only
    // needs a node of its own when it starts a component: otherwise it adds
    // to the root of the first run it touches, and the row below finds that
    // root through the run's span. Most runs of a row belong to the same
    // component (the ground), so their lengths are gathered in a local sum
    // and added to the root when the root changes, not one by one.
    int32_t addRow(int32_t j)
    {
        if (nodes_.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()) - here_.size()) {
            return KOC_E_OUT_OF_MEMORY;  // node indices are 32-bit
        }
        const uint32_t rowSides = (j == 0 ? 1u : 0u) | (j == height_ - 1 ? 2u : 0u);
        int32_t count = 0;
        int32_t k = 0;  // above runs before k end left of x - 1 for every later run of the row
        int32_t pendingRoot = -1;
        int64_t pendingArea = 0;
        auto flush = [&]() noexcept {
            if (pendingRoot >= 0) {
                nodes_[static_cast<size_t>(pendingRoot)].area += pendingArea;
            }
            pendingRoot = -1;
            pendingArea = 0;
        };
        const Span* above = above_.data();
        Span* here = here_.data();
        const int32_t aboveCount = aboveCount_;
        const int32_t bounds = mask_.findRuns();
        const int32_t* bound = mask_.bounds();
        for (int32_t b = 0; b < bounds; b += 2) {
            const int32_t start = bound[b];
            const int32_t end = bound[b + 1];
            while (k < aboveCount && above[k].end < start) {
                ++k;
            }
            int32_t root = -1;
            for (int32_t m = k; m < aboveCount && above[m].start <= end; ++m) {
                // The root seen when that run was cut, unless a union since
                // then has made it a member.
                int32_t r = above[m].root;
                if (nodes_[static_cast<size_t>(r)].parent != r) {
                    r = findRoot(r);
                }
                if (root < 0) {
                    root = r;
                } else if (r != root) {
                    flush();  // the pending root may stop being one
                    root = unite(root, r);
                }
            }
            if (root < 0) {
                root = static_cast<int32_t>(nodes_.size());
                nodes_.push_back({root, 0, 0});
            }
            if (root != pendingRoot) {
                flush();
                pendingRoot = root;
            }
            pendingArea += end - start;
            const uint32_t sides = rowSides | (start == 0 ? 4u : 0u) | (end == width_ ? 8u : 0u);
            if (sides != 0) {
                nodes_[static_cast<size_t>(root)].sides |= sides;
            }
            here[count++] = {start, end, root};
        }
        flush();
        std::swap(above_, here_);
        aboveCount_ = count;
        return 0;
    }

    // The summed area of the components on at least two window sides.
    double area() const noexcept
    {
        int64_t sum = 0;
        for (size_t s = 0; s < nodes_.size(); ++s) {
            const Node& n = nodes_[s];
            // At least two sides: more than one bit set.
            if (static_cast<size_t>(n.parent) == s && (n.sides & (n.sides - 1)) != 0) {
                sum += n.area;
            }
        }
        // Exact: any pixel count is far below 2^53.
        return static_cast<double>(sum);
    }

private:
    struct Span {
        int32_t start;
        int32_t end;   // exclusive
        int32_t root;  // the run's root when it was cut
    };

    struct Node {
        int32_t parent;
        uint32_t sides;  // window sides touched: 1 top, 2 bottom, 4 left, 8 right; a root's: its component's
        int64_t area;    // a root's: its component's
    };

    int32_t findRoot(int32_t i) noexcept
    {
        while (nodes_[static_cast<size_t>(i)].parent != i) {
            // Path halving keeps the trees flat without a second walk.
            const int32_t grand = nodes_[static_cast<size_t>(nodes_[static_cast<size_t>(i)].parent)].parent;
            nodes_[static_cast<size_t>(i)].parent = grand;
            i = grand;
        }
        return i;
    }

    // Merges two roots into the lower one and returns it.
    int32_t unite(int32_t a, int32_t b) noexcept
    {
        const int32_t lo = std::min(a, b);
        const int32_t hi = std::max(a, b);
        Node& keep = nodes_[static_cast<size_t>(lo)];
        Node& gone = nodes_[static_cast<size_t>(hi)];
        gone.parent = lo;
        keep.area += gone.area;
        keep.sides |= gone.sides;
        return lo;
    }

    RowMask mask_;
    int32_t width_;
    int32_t height_;
    Vector<Node> nodes_;
    Vector<Span> above_;  // the previous row's runs
    Vector<Span> here_;   // the current row's
    int32_t aboveCount_ = 0;
};

template <class Pixel, bool kBelow>
int32_t borderArea(const PixelRows<const Pixel>& src, int32_t threshold, double* area)
{
    BorderComponents components(src.width, src.height);
    AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        components.mask().mark<Pixel, kBelow>(src.row(j), threshold);
        KOC_RETURN_IF_FAILED(components.addRow(j));
    }
    *area = components.area();
    return 0;
}

template <class Pixel>
int32_t borderAreas(const PixelRows<const Pixel>& src, int32_t aboveThreshold, int32_t belowThreshold,
                    double* areaAbove, double* areaBelow)
{
    BorderComponents above(src.width, src.height);
    BorderComponents below(src.width, src.height);
    AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(2 * int64_t{src.width}));
        RowMask::markBoth<Pixel>(src.row(j), aboveThreshold, belowThreshold, above.mask(), below.mask());
        KOC_RETURN_IF_FAILED(above.addRow(j));
        KOC_RETURN_IF_FAILED(below.addRow(j));
    }
    *areaAbove = above.area();
    *areaBelow = below.area();
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
        return polarityFlag == kBlobsBelowThreshold ? borderArea<Pixel, true>(src, threshold, area)
                                                    : borderArea<Pixel, false>(src, threshold, area);
    });
}

template <class Pixel>
int32_t borderComponentAreas(const kimg_image* image, int32_t aboveThreshold, int32_t belowThreshold,
                             double* areaAbove, double* areaBelow) noexcept
{
    KOC_ASSERT(image != nullptr);
    KOC_ASSERT(areaAbove != nullptr && areaBelow != nullptr);
    *areaAbove = 0.0;
    *areaBelow = 0.0;
    PixelRows<const Pixel> src;
    KOC_RETURN_IF_FAILED(viewPixels(image, &src));
    return guarded([&]() -> int32_t { return borderAreas<Pixel>(src, aboveThreshold, belowThreshold, areaAbove, areaBelow); });
}

template int32_t borderComponentAreas<uint8_t>(const kimg_image*, int32_t, int32_t, double*, double*) noexcept;
template int32_t borderComponentAreas<uint16_t>(const kimg_image*, int32_t, int32_t, double*, double*) noexcept;
template int32_t borderComponentArea<uint8_t>(const kimg_image*, int32_t, uint32_t, double*) noexcept;
template int32_t borderComponentArea<uint16_t>(const kimg_image*, int32_t, uint32_t, double*) noexcept;
template int32_t labelBlobs<uint8_t>(const kimg_image*, int32_t, uint32_t, BlobResultSet*) noexcept;
template int32_t labelBlobs<uint16_t>(const kimg_image*, int32_t, uint32_t, BlobResultSet*) noexcept;

}  // namespace koc::services
