// pel_ops.hpp: pixel services over 8- and 16-bit image handles: typed pixel
// views, statistics (histogram, sums, extremes), maps through tables,
// window fills, and the two histogram statistics the normalisation needs
// (two-class threshold, tail levels). Local (box) filters are in
// local_filter.hpp.
//
// Every operation works on the image's window; outputs get fresh pixels over
// the source window with the source's transforms, built on the side, so a
// failure leaves the destination as it was and the destination may be the
// source. Unbound images give KOC_E_IMAGE_UNBOUND, a depth other than the
// Pixel type's KOC_E_IMAGE_DEPTH. Templates are instantiated for uint8_t and
// uint16_t only. Distinct images may be processed on distinct threads.
#pragma once

#include <cstdint>
#include <type_traits>

#include "koc/kimg.h"
#include "koc/koc_result.h"

namespace koc::services {

template <class Pixel>
struct PixelTraits;

template <>
struct PixelTraits<uint8_t> {
    static constexpr int32_t kDepth = KIMG_DEPTH_8;
    static constexpr int32_t kLevels = 256;
    static constexpr int32_t kMax = 255;
    static constexpr int32_t kCentre = 128;
};

template <>
struct PixelTraits<uint16_t> {
    static constexpr int32_t kDepth = KIMG_DEPTH_16;
    static constexpr int32_t kLevels = 65536;
    static constexpr int32_t kMax = 65535;
    static constexpr int32_t kCentre = 32768;
};

// A typed view of an image's window: row j starts at first + j * pitch.
template <class P>
struct PixelRows {
    P* first = nullptr;
    intptr_t pitch = 0;  // in pixels, >= width
    int32_t width = 0;
    int32_t height = 0;
    int32_t x = 0;  // window origin, image coordinates
    int32_t y = 0;
    P* row(int32_t j) const noexcept { return first + j * pitch; }
};

template <class Pixel>
int32_t viewPixels(const kimg_image* image, PixelRows<const Pixel>* view) noexcept
{
    kimg_windowConst w;
    const int32_t rc = kimg_windowConst_init(&w, image);
    if (rc < 0) {
        return rc;
    }
    if (w.depth != PixelTraits<Pixel>::kDepth) {
        return KOC_E_IMAGE_DEPTH;
    }
    *view = {static_cast<const Pixel*>(w.pixels), w.pitch, w.width, w.height, w.x, w.y};
    return 0;
}

template <class Pixel>
    requires(!std::is_const_v<Pixel>)
int32_t viewPixels(kimg_image* image, PixelRows<Pixel>* view) noexcept
{
    kimg_window w;
    const int32_t rc = kimg_window_init(&w, image);
    if (rc < 0) {
        return rc;
    }
    if (w.depth != PixelTraits<Pixel>::kDepth) {
        return KOC_E_IMAGE_DEPTH;
    }
    *view = {static_cast<Pixel*>(w.pixels), w.pitch, w.width, w.height, w.x, w.y};
    return 0;
}

// Owns one image handle for a scope (scratch images, outputs built on the side).
class ScopedImage {
public:
    ScopedImage() noexcept { kimg_image_construct(&image_); }
    ~ScopedImage() { kimg_image_destruct(&image_); }
    ScopedImage(const ScopedImage&) = delete;
    ScopedImage& operator=(const ScopedImage&) = delete;
    kimg_image* get() noexcept { return &image_; }
    const kimg_image* get() const noexcept { return &image_; }

private:
    kimg_image image_;
};

// Binds out to fresh zeroed pixels of depth over src's window, with src's
// transforms. out must not be src.
int32_t newImageLike(const kimg_image* src, int32_t depth, kimg_image* out) noexcept;

// newImageLike for a producer that writes every pixel of the window itself:
// only the rows' padding is zeroed (a line's scratch images were zeroed in
// full just to be overwritten, a few percent of a small line's time).
int32_t newImageLikeForOverwrite(const kimg_image* src, int32_t depth, kimg_image* out) noexcept;

// bins[v] = number of window pixels of value v; bins has kLevels entries and
// is zeroed first.
template <class Pixel>
int32_t pelHistogram(const kimg_image* image, uint32_t* bins) noexcept;

// Pixel count, sum and sum of squares of the window (64-bit: exact for any
// image the handles can hold).
template <class Pixel>
int32_t pelSumAndSumSq(const kimg_image* image, uint64_t* count, uint64_t* sum, uint64_t* sumSq) noexcept;

// Smallest and largest pixel of the window; both 0 for an empty window.
template <class Pixel>
int32_t pelMinMax(const kimg_image* image, Pixel* minValue, Pixel* maxValue) noexcept;

// dst = table[src] pixel by pixel; table has kLevels entries.
template <class Pixel>
int32_t pelMap(const kimg_image* src, const Pixel* table, kimg_image* dst) noexcept;

// Sets the pixels of rect (image coordinates, inside the window, else
// KOC_E_WINDOW_OUTSIDE_IMAGE) to value, in place.
template <class Pixel>
int32_t pelSetWindow(kimg_image* image, const kstd_rect32& rect, Pixel value) noexcept;

// Sample variance from a count, a sum and a sum of squares:
// (sumSq - sum * mean) / (n - 1), 0 when n <= 1 or when rounding makes it
// negative.
inline double sampleVariance(double n, double sum, double sumSq) noexcept
{
    if (n <= 1.0) {
        return 0.0;
    }
    const double v = (sumSq - sum * (sum / n)) / (n - 1.0);
    return v > 0.0 ? v : 0.0;
}

// Two-class (within-group-variance) threshold of a histogram. The lower
// class holds the levels below threshold, the upper class the levels at or
// above it. Standard deviations are population deviations within each class,
// so count * (sd^2 + mean^2) gives back the class's sum of squares.
struct ThresholdResult {
    int32_t found = 0;  // 0: fewer than two occupied levels, nothing else is set
    int32_t threshold = 0;
    double lowerCount = 0.0;
    double lowerMean = 0.0;
    double lowerStdDev = 0.0;
    double upperCount = 0.0;
    double upperMean = 0.0;
    double upperStdDev = 0.0;
};

// Threshold from a histogram indexed by grey level, over the levels firstBin
// .. firstBin + binCount - 1 (the others take no part). The cut maximises the between-class variance; the cuts that give
// the same two classes (an empty gap between two occupied levels) are
// equivalent, and the one reported lies in the middle of the gap,
// (lastLowerLevel + 1 + firstUpperLevel) / 2, so levels 0 and 255 cut at 128.
// Among different partitions with equal variance the lowest wins.
// KOC_E_BAD_ARGUMENT for a negative first bin or a non-positive count.
int32_t threshFromHistogram(const uint32_t* hist, int32_t firstBin, int32_t binCount,
                            ThresholdResult* result) noexcept;

// Tail levels of a histogram of binCount levels whose mass is weighted by
// the moment of the given order: level v weighs hist[v] * v^order (order 0:
// plain counts, 2: squared level, so strong levels dominate). With W the
// total weight:
//   lower = the smallest level v with weight(levels <= v) >  lowerFraction * W,
//   upper = the largest  level v with weight(levels >= v) >  upperFraction * W;
// i.e. at most the given share of the weight lies below lower (above upper).
// A fraction of 0 gives the lowest (highest) level that carries weight.
// KOC_E_HISTOGRAM_NO_TAIL when W is 0 (no pixels, or with order > 0 all of
// them at level 0); outputs 0 then. KOC_E_BAD_ARGUMENT for fractions outside
// [0, 1), a negative order or a non-positive count.
int32_t momentTails(const uint32_t* hist, int32_t binCount, double lowerFraction, double upperFraction,
                    int32_t order, int32_t* lower, int32_t* upper) noexcept;

}  // namespace koc::services
