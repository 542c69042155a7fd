// stroke_width.cpp: minimum stroke width by run-length passes. The
// horizontal runs come from one scan per row. For the vertical and the two
// diagonal directions a forward pass (top to bottom) counts, per pixel, the
// mark pixels of its run up to and including itself; a backward pass
// (bottom to top) then hands each run's total, held by its last pixel, back
// up the run and folds it into the minimum. Every pass walks rows, so the
// directions that cross rows stay cache-friendly, and the cost is linear in
// the pixels whatever the stroke widths.
#include "services/stroke_width.hpp"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <utility>

#include "services/attention.hpp"
#include "services/blob_label.hpp"
#include "services/guard.hpp"
#include "services/memory.hpp"
#include "services/row_runs.hpp"

namespace koc::services {

namespace {

// Mark test as one unsigned compare (v - lo <= span), which vectorises
// where a table lookup would not.
struct MarkRange {
    uint8_t lo;
    uint8_t span;
    // 0xFF for a mark grey value, 0 otherwise.
    uint8_t mask(uint8_t v) const noexcept
    {
        return static_cast<uint8_t>(static_cast<uint8_t>(v - lo) <= span ? 0xFF : 0);
    }
};

// Frees a scratch block taken from Allocator<uint8_t>.
struct ScratchRelease {
    size_t size = 0;
    void operator()(uint8_t* p) const noexcept { Allocator<uint8_t>().deallocate(p, size); }
};

constexpr uint8_t saturatingInc(uint8_t v) noexcept
{
    return static_cast<uint8_t>(v == 255 ? 255 : v + 1);
}

int32_t horizontalRuns(const PixelRows<const uint8_t>& src, const MarkRange& mark, const PixelRows<uint8_t>& out)
{
    AttentionPacer pace;
    RowRuns runs(src.width);
    uint8_t* flags = runs.flags();
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const uint8_t* s = src.row(j);
        uint8_t* o = out.row(j);
        for (int32_t i = 0; i < src.width; ++i) {
            flags[i] = static_cast<uint8_t>(mark.mask(s[i]) & 1);
            o[i] = 0;
        }
        runs.forEachRun([o](int32_t start, int32_t end) {
            const auto length = static_cast<uint8_t>(std::min(end - start, 255));
            for (int32_t i = start; i < end; ++i) {
                o[i] = length;
            }
        });
    }
    return 0;
}

// Runs along (d, 1): the successor of (x, y) is (x + d, y + 1), d in
// {-1, 0, 1}. count is a width x height scratch buffer.
int32_t crossRowRuns(const PixelRows<const uint8_t>& src, const MarkRange& mark, int32_t d, uint8_t* count,
                     const PixelRows<uint8_t>& out)
{
    AttentionPacer pace;
    const int32_t w = src.width;
    const auto rowOf = [count, w](int32_t j) { return count + static_cast<intptr_t>(j) * w; };
    // Columns whose predecessor (x - d, y - 1) lies outside the window.
    const int32_t lo = d > 0 ? 1 : 0;
    const int32_t hi = d < 0 ? w - 1 : w;

    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(w));
        const uint8_t* s = src.row(j);
        uint8_t* c = rowOf(j);
        if (j == 0) {
            for (int32_t i = 0; i < w; ++i) {
                c[i] = static_cast<uint8_t>(mark.mask(s[i]) & 1);
            }
            continue;
        }
        const uint8_t* prev = rowOf(j - 1);
        for (int32_t i = 0; i < lo; ++i) {
            c[i] = static_cast<uint8_t>(mark.mask(s[i]) & 1);
        }
        for (int32_t i = lo; i < hi; ++i) {
            c[i] = static_cast<uint8_t>(saturatingInc(prev[i - d]) & mark.mask(s[i]));
        }
        for (int32_t i = std::max(hi, lo); i < w; ++i) {
            c[i] = static_cast<uint8_t>(mark.mask(s[i]) & 1);
        }
    }

    for (int32_t j = src.height - 1; j >= 0; --j) {
        KOC_RETURN_IF_FAILED(pace.add(w));
        uint8_t* c = rowOf(j);
        uint8_t* o = out.row(j);
        if (j + 1 < src.height) {
            const uint8_t* next = rowOf(j + 1);
            const int32_t from = std::max(0, -d);
            const int32_t to = std::min(w, w - d);
            for (int32_t i = from; i < to; ++i) {
                const uint8_t total = next[i + d];
                c[i] = (c[i] != 0 && total != 0) ? total : c[i];
            }
        }
        for (int32_t i = 0; i < w; ++i) {
            o[i] = std::min(o[i], c[i]);
        }
    }
    return 0;
}

// The share of all mark pixels that the largest components must hold for
// the smallest of them to stand for the characters' size, and how much
// smaller than that a speck is. A third leaves room for noise that holds
// most of the mark pixels; a sixteenth keeps periods and the dots of a
// dot-matrix print whose dots run together here and there.
constexpr double kSpeckReferenceShare = 0.3;
constexpr int64_t kSpeckAreaRatio = 16;
// A speck is at least this much thinner than the strokes.
constexpr int32_t kSpeckThinnerBy = 1;
// Specks are cleared only when they hold at least this share of the mark
// pixels.
constexpr double kSpeckFieldShare = 0.05;

// Drops the blobs at the given indices (ascending), keeping the others and
// their runs in order: what labelling the set's pixels without them gives,
// since a whole component leaves the others as they were.
void dropBlobs(const Vector<size_t>& dropped, BlobResultSet* set)
{
    size_t keptBlobs = 0;
    size_t keptRuns = 0;
    size_t next = 0;
    for (size_t b = 0; b < set->blobs.size(); ++b) {
        if (next < dropped.size() && dropped[next] == b) {
            ++next;
            continue;
        }
        Blob blob = set->blobs[b];
        for (int32_t k = 0; k < blob.runCount; ++k) {
            set->runs[keptRuns + static_cast<size_t>(k)] = set->runs[static_cast<size_t>(blob.firstRun + k)];
        }
        blob.firstRun = static_cast<int32_t>(keptRuns);
        keptRuns += static_cast<size_t>(blob.runCount);
        set->blobs[keptBlobs++] = blob;
    }
    set->blobs.resize(keptBlobs);
    set->runs.resize(keptRuns);
}

// Sets the widths of speck components to 0 (see strokeDetect8); blobs
// receives the components of the pixels that keep a width.
int32_t clearSpecks(const kimg_image* widthImage, const PixelRows<uint8_t>& out, BlobResultSet& blobs)
{
    KOC_RETURN_IF_FAILED(labelBlobs<uint8_t>(widthImage, 0, kBlobsAboveThreshold, &blobs));
    if (blobs.blobs.size() < 2) {
        return 0;
    }
    // The characters' size comes from components that can be characters:
    // a mark as wide as half the line or as high as the whole image is
    // ground that reads as mark (a shadow, a lit border), and would make
    // the characters themselves look like specks.
    PixelRows<const uint8_t> window;
    KOC_RETURN_IF_FAILED(viewPixels(widthImage, &window));
    auto canBeCharacter = [&](const Blob& b) {
        return 2 * int64_t{b.rect.width} < window.width && b.rect.height < window.height;
    };
    Vector<int32_t> areas;
    areas.reserve(blobs.blobs.size());
    int64_t total = 0;
    for (const Blob& b : blobs.blobs) {
        total += b.area;
        if (canBeCharacter(b)) {
            areas.push_back(b.area);
        }
    }
    int64_t characterTotal = 0;
    for (const int32_t a : areas) {
        characterTotal += a;
    }
    std::sort(areas.begin(), areas.end(), std::greater<int32_t>());
    int64_t reference = 0;
    int64_t held = 0;
    for (const int32_t a : areas) {
        held += a;
        reference = a;
        if (static_cast<double>(held) >= kSpeckReferenceShare * static_cast<double>(characterTotal)) {
            break;
        }
    }

    auto forEachPixel = [&](const Blob& b, auto&& f) {
        for (int32_t r = 0; r < b.runCount; ++r) {
            const BlobRun& run = blobs.runs[static_cast<size_t>(b.firstRun + r)];
            uint8_t* row = out.row(run.y - out.y) + (run.x - out.x);
            for (int32_t i = 0; i < run.length; ++i) {
                f(row[i]);
            }
        }
    };
    AttentionPacer pace;
    std::array<uint64_t, 256> hist{};
    uint64_t counted = 0;
    for (const Blob& b : blobs.blobs) {
        if (int64_t{b.area} * 4 >= reference && canBeCharacter(b)) {
            KOC_RETURN_IF_FAILED(pace.add(b.area));
            forEachPixel(b, [&](uint8_t w) { ++hist[w]; });
            counted += static_cast<uint64_t>(b.area);
        }
    }
    int32_t stroke = 0;
    for (uint64_t cum = 0; stroke < 255; ++stroke) {
        cum += hist[static_cast<size_t>(stroke)];
        if (2 * cum >= counted) {
            break;
        }
    }
    Vector<size_t> specks;
    int64_t speckPixels = 0;
    for (size_t k = 0; k < blobs.blobs.size(); ++k) {
        const Blob& b = blobs.blobs[k];
        if (int64_t{b.area} * kSpeckAreaRatio >= reference) {
            continue;
        }
        KOC_RETURN_IF_FAILED(pace.add(b.area));
        // How thick the component is: its widest minimum stroke width,
        // but at least its mean width across its longer side (every pixel
        // of a 2 x 2 block is a corner of width 1), and never more than its
        // shorter side.
        int32_t widest = 0;
        forEachPixel(b, [&](uint8_t w) { widest = std::max<int32_t>(widest, w); });
        const int32_t longer = std::max(b.rect.width, b.rect.height);
        const int32_t shorter = std::min(b.rect.width, b.rect.height);
        const int32_t thickness = std::min(shorter, std::max(widest, (b.area + longer - 1) / std::max(longer, 1)));
        if (thickness + kSpeckThinnerBy <= stroke) {
            specks.push_back(k);
            speckPixels += b.area;
        }
    }
    // A few stray specks do not move the thin tail; only a field of them
    // is cleared, so clean print keeps every pixel it had.
    if (static_cast<double>(speckPixels) < kSpeckFieldShare * static_cast<double>(total)) {
        return 0;
    }
    for (const size_t k : specks) {
        forEachPixel(blobs.blobs[k], [](uint8_t& w) { w = 0; });
    }
    dropBlobs(specks, &blobs);
    return 0;
}

}  // namespace

int32_t strokeDetect8(const kimg_image* source, const StrokeDetectParams* params, StrokeDetectResult* result) noexcept
{
    KOC_ASSERT(source != nullptr);
    KOC_ASSERT(params != nullptr);
    KOC_ASSERT(result != nullptr);
    if (params->markLow < 0 || params->markHigh > 255 || params->markLow > params->markHigh) {
        return KOC_E_BAD_ARGUMENT;
    }
    PixelRows<const uint8_t> src;
    KOC_RETURN_IF_FAILED(viewPixels(source, &src));
    ScopedImage fresh;
    KOC_RETURN_IF_FAILED(newImageLikeForOverwrite(source, KIMG_DEPTH_8, fresh.get()));  // horizontalRuns writes it all
    PixelRows<uint8_t> out;
    KOC_RETURN_IF_FAILED(viewPixels(fresh.get(), &out));

    const MarkRange mark{static_cast<uint8_t>(params->markLow),
                         static_cast<uint8_t>(params->markHigh - params->markLow)};
    BlobResultSet marks;
    const int32_t rc = guarded([&]() -> int32_t {
        KOC_RETURN_IF_FAILED(horizontalRuns(src, mark, out));
        // Not zeroed: each direction's forward pass writes a row before
        // the next row reads it.
        const size_t pixels = static_cast<size_t>(src.width) * static_cast<size_t>(src.height);
        const std::unique_ptr<uint8_t[], ScratchRelease> count(Allocator<uint8_t>().allocate(pixels), {pixels});
        for (const int32_t d : {0, 1, -1}) {
            KOC_RETURN_IF_FAILED(crossRowRuns(src, mark, d, count.get(), out));
        }
        return params->strokesOnly ? clearSpecks(fresh.get(), out, marks) : 0;
    });
    if (rc < 0) {
        return rc;
    }
    const int32_t assigned = kimg_image_assign(result->minStrokeWidth.get(), fresh.get());
    if (assigned >= 0) {
        std::swap(result->markBlobs, marks);
    }
    return assigned;
}

int32_t strokeDetectMinStrokeWidthImage(const StrokeDetectResult* result, kimg_image* image) noexcept
{
    KOC_ASSERT(result != nullptr);
    KOC_ASSERT(image != nullptr);
    return kimg_image_assign(image, result->minStrokeWidth.get());
}

int32_t strokeWidthTails(const uint32_t* hist, double lowFraction, double highFraction, int32_t* low,
                         int32_t* high) noexcept
{
    KOC_ASSERT(hist != nullptr);
    KOC_ASSERT(low != nullptr && high != nullptr);
    *low = 0;
    *high = 0;
    if (!(lowFraction >= 0.0 && lowFraction <= 1.0 && highFraction >= 0.0 && highFraction <= 1.0)) {
        return KOC_E_BAD_ARGUMENT;
    }
    uint64_t total = 0;
    for (int32_t v = 1; v < 256; ++v) {
        total += hist[v];
    }
    if (total == 0) {
        return KOC_E_HISTOGRAM_NO_TAIL;
    }
    const double n = static_cast<double>(total);
    uint64_t cum = 0;
    for (int32_t v = 1; v < 256; ++v) {
        cum += hist[v];
        if (cum > 0 && static_cast<double>(cum) >= lowFraction * n) {
            *low = v;
            break;
        }
    }
    cum = 0;
    for (int32_t v = 255; v >= 1; --v) {
        cum += hist[v];
        if (cum > 0 && static_cast<double>(cum) >= highFraction * n) {
            *high = v;
            break;
        }
    }
    return 0;
}

}  // namespace koc::services
