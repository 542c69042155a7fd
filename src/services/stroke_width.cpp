// stroke_width.cpp: minimum stroke width by run-length passes. A run's
// length through a pixel is its count of mark pixels from one end up to the
// pixel plus the count from the other end, less one. Four row passes,
// alternately down and up the image, find them all: the first takes the
// horizontal runs from one scan per row, and each cross-row direction
// (vertical and the two diagonals) is counted one way into a scratch plane
// by one pass and the other way by the next, which meets the plane's counts
// there. Every pass walks rows, so the directions that cross rows stay
// cache-friendly, and the cost is linear in the pixels whatever the stroke
// widths.
#include "services/stroke_width.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include "services/attention.hpp"
#include "services/blob_label.hpp"
#include "services/guard.hpp"
#include "services/memory.hpp"
#include "services/row_runs.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// Sixteen pixels at a time: the compiler's own vector forms of the
// saturating steps below are compare-and-blend sequences about three times
// as long as the saturating adds SSE2 has for them.
struct MarkRange16 {
    __m128i lo;
    __m128i span;
    explicit MarkRange16(const MarkRange& m) noexcept
        : lo(_mm_set1_epi8(static_cast<char>(m.lo))), span(_mm_set1_epi8(static_cast<char>(m.span)))
    {
    }
    __m128i mask(const uint8_t* v) const noexcept
    {
        const __m128i d = _mm_sub_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v)), lo);
        return _mm_cmpeq_epi8(_mm_min_epu8(d, span), d);
    }
};

inline __m128i load16(const uint8_t* p) noexcept
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline void store16(uint8_t* p, __m128i v) noexcept
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
#endif

// Frees a scratch block taken from Allocator<uint8_t>.
struct ScratchRelease {
    size_t size = 0;
    void operator()(uint8_t* p) const noexcept { Allocator<uint8_t>().deallocate(p, size); }
};

constexpr uint8_t saturatingInc(uint8_t v) noexcept
{
    return static_cast<uint8_t>(v == 255 ? 255 : v + 1);
}

constexpr uint8_t saturatingAdd(uint8_t a, uint8_t b) noexcept
{
    const auto sum = static_cast<uint8_t>(a + b);
    return static_cast<uint8_t>(sum < a ? 255 : sum);
}

// A run's length through a pixel is its count one way (the run's mark
// pixels up to and including the pixel) plus its count the other way, less
// one. Both are counted clamped to 255, and a + (b - 1), added with
// saturation, is still the length clamped to 255. For a ground pixel b - 1
// wraps to 255, but its horizontal width is already 0, which the minimum
// keeps.
constexpr uint8_t runLength(uint8_t a, uint8_t b) noexcept
{
    return saturatingAdd(a, static_cast<uint8_t>(b - 1));
}

// Scratch for the cross-row directions: one count plane with a zero row
// above and below and a zero column on either side, so that a neighbour
// outside the window counts as ground without a test (the rows above and
// below also stand for the rolling counts' row outside the window), and two
// rolling rows padded the same way. Only the padding is zeroed up front:
// each pass writes a row before any later row reads it.
class CountScratch {
public:
    CountScratch(int32_t width, int32_t height)
        : stride_(static_cast<size_t>(width) + 2),
          size_(stride_ * (static_cast<size_t>(height) + 4)),
          block_(Allocator<uint8_t>().allocate(size_), {size_}),
          height_(height)
    {
        uint8_t* b = block_.get();
        std::memset(b, 0, stride_);
        std::memset(b + stride_ * (static_cast<size_t>(height) + 1), 0, 3 * stride_);
        for (int32_t j = 0; j < height; ++j) {
            plane(j)[-1] = 0;
            plane(j)[width] = 0;
        }
    }

    // Row j of the plane, -1 <= j <= height.
    uint8_t* plane(int32_t j) const noexcept
    {
        return block_.get() + stride_ * static_cast<size_t>(j + 1) + 1;
    }

    // Two rows for the counts of the direction a pass meets the plane with:
    // only their padding is read before a pass writes them.
    uint8_t* rolling(int32_t k) const noexcept { return plane(height_ + 1 + k); }

private:
    size_t stride_;
    size_t size_;
    std::unique_ptr<uint8_t[], ScratchRelease> block_;
    int32_t height_;
};

// One row of a pass after the first: the rolling counts of the direction
// the pass meets (from the row last written at column i + kLast, into cur)
// meet the plane row's counts of that direction the other way; with
// kRefill, the plane row then takes the next direction's counts (from the
// plane row last written at column i + kPlaneLast). What the pointers reach
// never overlaps, so the loop vectorises.
template <int32_t kLast, bool kRefill, int32_t kPlaneLast>
void meetRow(const uint8_t* __restrict s, const MarkRange mark, const int32_t w, const uint8_t* __restrict last,
             uint8_t* __restrict cur, uint8_t* __restrict o, uint8_t* __restrict plane,
             const uint8_t* __restrict planeLast) noexcept
{
    int32_t i = 0;
#if defined(__SSE2__)
    const MarkRange16 mark16(mark);
    const __m128i one = _mm_set1_epi8(1);
    for (; i + 16 <= w; i += 16) {
        const __m128i m = mark16.mask(s + i);
        const __m128i count = _mm_and_si128(_mm_adds_epu8(load16(last + i + kLast), one), m);
        store16(cur + i, count);
        const __m128i length = _mm_adds_epu8(load16(plane + i), _mm_sub_epi8(count, one));
        store16(o + i, _mm_min_epu8(load16(o + i), length));
        if constexpr (kRefill) {
            store16(plane + i, _mm_and_si128(_mm_adds_epu8(load16(planeLast + i + kPlaneLast), one), m));
        }
    }
#endif
    for (; i < w; ++i) {
        const uint8_t m = mark.mask(s[i]);
        const auto count = static_cast<uint8_t>(saturatingInc(last[i + kLast]) & m);
        cur[i] = count;
        o[i] = std::min(o[i], runLength(plane[i], count));
        if constexpr (kRefill) {
            plane[i] = static_cast<uint8_t>(saturatingInc(planeLast[i + kPlaneLast]) & m);
        }
    }
}

// Fills out with the minimum over the four directions' run lengths in four
// row passes, alternating down and up. Each cross-row direction is counted
// into the plane by one pass and met by its counts the other way in the
// next, which overwrites the plane row it has just read with the next
// direction's counts:
//   down: horizontal runs; vertical prefix -> plane
//   up:   vertical suffix (rolling) meets the plane; (1, 1) suffix -> plane
//   down: (1, 1) prefix (rolling) meets the plane; (-1, 1) prefix -> plane
//   up:   (-1, 1) suffix (rolling) meets the plane
int32_t minimumRunLengths(const PixelRows<const uint8_t>& src, const MarkRange& mark, const PixelRows<uint8_t>& out)
{
    AttentionPacer pace;
    const int32_t w = src.width;
    const int32_t h = src.height;
    CountScratch scratch(w, h);
    RowRuns runs(w);
    uint8_t* flags = runs.flags();
#if defined(__SSE2__)
    const MarkRange16 mark16(mark);
    const __m128i one = _mm_set1_epi8(1);
#endif

    for (int32_t j = 0; j < h; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(w));
        const uint8_t* s = src.row(j);
        uint8_t* o = out.row(j);
        uint8_t* a = scratch.plane(j);
        const uint8_t* above = scratch.plane(j - 1);
        int32_t i = 0;
#if defined(__SSE2__)
        for (; i + 16 <= w; i += 16) {
            const __m128i m = mark16.mask(s + i);
            store16(flags + i, _mm_and_si128(m, one));
            store16(o + i, _mm_setzero_si128());
            store16(a + i, _mm_and_si128(_mm_adds_epu8(load16(above + i), one), m));
        }
#endif
        for (; i < w; ++i) {
            const uint8_t m = mark.mask(s[i]);
            flags[i] = static_cast<uint8_t>(m & 1);
            o[i] = 0;
            a[i] = static_cast<uint8_t>(saturatingInc(above[i]) & m);
        }
        runs.forEachRun([o](int32_t start, int32_t end) {
            const auto length = static_cast<uint8_t>(std::min(end - start, 255));
            std::memset(o + start, length, static_cast<size_t>(end - start));
        });
    }

    // The rolling counts: cur is written from the row last written (first
    // the zero row outside the window) and then takes its place.
    const uint8_t* last = scratch.plane(h);
    uint8_t* cur = scratch.rolling(0);
    uint8_t* spare = scratch.rolling(1);
    for (int32_t j = h - 1; j >= 0; --j) {
        KOC_RETURN_IF_FAILED(pace.add(w));
        meetRow<0, true, 1>(src.row(j), mark, w, last, cur, out.row(j), scratch.plane(j), scratch.plane(j + 1));
        last = cur;
        std::swap(cur, spare);
    }
    last = scratch.plane(-1);
    for (int32_t j = 0; j < h; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(w));
        meetRow<-1, true, 1>(src.row(j), mark, w, last, cur, out.row(j), scratch.plane(j), scratch.plane(j - 1));
        last = cur;
        std::swap(cur, spare);
    }
    last = scratch.plane(h);
    for (int32_t j = h - 1; j >= 0; --j) {
        KOC_RETURN_IF_FAILED(pace.add(w));
        meetRow<-1, false, 0>(src.row(j), mark, w, last, cur, out.row(j), scratch.plane(j), nullptr);
        last = cur;
        std::swap(cur, spare);
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
    // Four partial histograms, a pixel's by its place in the run: the
    // pixels of one stroke share a width, and one bin's increments would
    // each wait for the previous one's store.
    std::array<std::array<uint64_t, 256>, 4> parts{};
    uint64_t counted = 0;
    for (const Blob& b : blobs.blobs) {
        if (int64_t{b.area} * 4 >= reference && canBeCharacter(b)) {
            KOC_RETURN_IF_FAILED(pace.add(b.area));
            for (int32_t r = 0; r < b.runCount; ++r) {
                const BlobRun& run = blobs.runs[static_cast<size_t>(b.firstRun + r)];
                const uint8_t* row = out.row(run.y - out.y) + (run.x - out.x);
                int32_t i = 0;
                for (; i + 4 <= run.length; i += 4) {
                    ++parts[0][row[i]];
                    ++parts[1][row[i + 1]];
                    ++parts[2][row[i + 2]];
                    ++parts[3][row[i + 3]];
                }
                for (; i < run.length; ++i) {
                    ++parts[static_cast<size_t>(i & 3)][row[i]];
                }
            }
            counted += static_cast<uint64_t>(b.area);
        }
    }
    std::array<uint64_t, 256> hist{};
    for (size_t v = 0; v < hist.size(); ++v) {
        hist[v] = parts[0][v] + parts[1][v] + parts[2][v] + parts[3][v];
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
    KOC_RETURN_IF_FAILED(newImageLikeForOverwrite(source, KIMG_DEPTH_8, fresh.get()));  // written in full
    PixelRows<uint8_t> out;
    KOC_RETURN_IF_FAILED(viewPixels(fresh.get(), &out));

    const MarkRange mark{static_cast<uint8_t>(params->markLow),
                         static_cast<uint8_t>(params->markHigh - params->markLow)};
    BlobResultSet marks;
    const int32_t rc = guarded([&]() -> int32_t {
        KOC_RETURN_IF_FAILED(minimumRunLengths(src, mark, out));
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
