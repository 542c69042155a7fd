// gradient_field.cpp: the Sobel gradient field sampled along an affine
// rectangle's own axes, and its projections along families of slanted lines.
//
// Everything past the set-up is integer arithmetic with fixed binary points:
// positions and slopes in 16.16, unit normals in 14 fractional bits, step
// vectors in 20. The portable kernels are the reference; an optimised kernel
// must reproduce them bit for bit.
#include "lineextract/gradient_field.hpp"
#include "lineextract/gradient_kernels.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <type_traits>

#include "services/guard.hpp"
#include "services/attention.hpp"
#include "koc/ksys.h"
#include "services/memory.hpp"
#include "services/image_store.hpp"
#include "services/pel_ops.hpp"

namespace koc::lineextract {
namespace {

constexpr double kFixedOne = 65536.0;
constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

template <class Pixel>
constexpr int32_t kDepth = sizeof(Pixel) == 1 ? KIMG_DEPTH_8 : KIMG_DEPTH_16;

// Field pels are signed responses stored in the unsigned image of the same depth.
template <class Pixel>
using SampleOf = std::make_signed_t<Pixel>;

// x in 16.16: the half offset, then truncation toward zero. The negative
// offset is a hair under one half, so an exact half goes up on both sides of
// zero (2.5 units -> 3, -2.5 -> -2), as floor(v + 0.5) would: the grid has
// no seam at the origin. Values that do not fit 32 bits are refused.
int32_t toFixed(double x, int32_t* out) noexcept
{
    const double scaled = x >= 0.0 ? x * kFixedOne + 0.5 : x * kFixedOne - 0.4999999999;
    if (!(scaled > -2147483649.0 && scaled < 2147483648.0)) {  // also refuses NaN
        return KOC_E_BAD_ARGUMENT;
    }
    *out = static_cast<int32_t>(scaled);
    return 0;
}

// How many whole unit steps fit in a side's extent along one axis. A zero
// step says nothing about that axis, so it must not limit the count. 64-bit:
// the extent of a side spanning more than half the 16.16 range overflows 32.
int64_t stepsAlong(int64_t extent, int32_t step) noexcept
{
    return step == 0 ? kInt32Max : std::min(extent / step, kInt32Max);
}

// The sampling grid in window pixels: the first cell's centre and the two
// steps, 16.16. The start is unsigned so that the running positions wrap
// (as 32-bit positions do) instead of overflowing; a wrapped position only
// happens for a rectangle at the very edge of the 16.16 range.
struct SampleGrid {
    uint32_t startX = 0;
    uint32_t startY = 0;
    int32_t ux = 0;
    int32_t uy = 0;
    int32_t vx = 0;
    int32_t vy = 0;
    int32_t nx = 0;
    int32_t ny = 0;
};

// One row of samples at source pixels (x0 + i, y), i < n: the Sobel response
// where all eight neighbours exist, 0 elsewhere, as the general walk gives.
// Vectorised, the interior is the optimised kernel's row operation.
template <class Pixel, bool Vectorised>
void uprightRow(const kimg_windowConst& src, bool hasInterior, int32_t x0, int32_t y, int32_t n,
                SampleOf<Pixel>* out) noexcept
{
    using Sample = SampleOf<Pixel>;
    int32_t begin = n;
    int32_t end = n;
    if (hasInterior && y >= 1 && y <= src.height - 2) {
        // 1 <= x0 + i <= width - 2, in 64 bits against a wrapped x0.
        begin = static_cast<int32_t>(std::clamp<int64_t>(int64_t{1} - x0, 0, n));
        end = static_cast<int32_t>(std::clamp<int64_t>(int64_t{src.width} - 1 - x0, begin, n));
    }
    std::fill(out, out + 2 * begin, Sample{0});
    if (begin < end) {
        const Pixel* c = static_cast<const Pixel*>(src.pixels) + y * src.pitch + (x0 + begin);
        const Pixel* up = c - src.pitch;
        const Pixel* dn = c + src.pitch;
        Sample* o = out + 2 * begin;
        if constexpr (Vectorised) {
            simd::sobelRowAvx2(up, c, dn, end - begin, o);
            std::fill(out + 2 * end, out + 2 * n, Sample{0});
            return;
        }
        for (int32_t i = 0; i < end - begin; ++i) {
            const int32_t gx = up[i + 1] + 2 * c[i + 1] + dn[i + 1] - up[i - 1] - 2 * c[i - 1] - dn[i - 1];
            const int32_t gy = dn[i - 1] + 2 * dn[i] + dn[i + 1] - up[i - 1] - 2 * up[i] - up[i + 1];
            o[2 * i] = static_cast<Sample>(gx >> 3);
            o[2 * i + 1] = static_cast<Sample>(gy >> 3);
        }
    }
    std::fill(out + 2 * end, out + 2 * n, Sample{0});
}

// Each sample is the Sobel response at the pixel that holds the sample point
// (floor, no interpolation), divided by 8 so that the 8-bit field keeps the
// full response range of an 8-bit image in a signed byte (|g| <= 1020).
// Vectorised (the optimised kernel, 8-bit only) differs in the upright rows'
// arithmetic alone; a turned grid reads scattered pixels and walks as before.
template <class Pixel, bool Vectorised>
int32_t gradientFieldRows(const kimg_windowConst& src, const kimg_window& dst, const SampleGrid& g) noexcept
{
    using Sample = SampleOf<Pixel>;
    const auto* base = static_cast<const Pixel*>(src.pixels);
    const intptr_t pitch = src.pitch;
    // Only pixels off the window's outer frame have all eight neighbours:
    // 1 <= X <= w - 2, tested as one unsigned compare of X - 1.
    const bool hasInterior = src.width >= 3 && src.height >= 3;
    const auto lastX = static_cast<uint32_t>(src.width - 3);
    const auto lastY = static_cast<uint32_t>(src.height - 3);
    const auto ux = static_cast<uint32_t>(g.ux);
    const auto uy = static_cast<uint32_t>(g.uy);
    uint32_t rowX = g.startX;
    uint32_t rowY = g.startY;
    services::AttentionPacer pace;
    for (int32_t j = 0; j < g.ny; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(g.nx));
        auto* out = static_cast<Sample*>(dst.pixels) + j * dst.pitch;
        uint32_t px = rowX;
        uint32_t py = rowY;
        const int32_t x0 = static_cast<int32_t>(px) >> 16;
        if (g.ux == 65536 && g.uy == 0 && int64_t{x0} + g.nx <= 32767) {
            // An upright grid walks one pixel at a time along one source
            // row (its positions never wrapping): the same samples, with the
            // bounds worked out once per row.
            uprightRow<Pixel, Vectorised>(src, hasInterior, x0, static_cast<int32_t>(py) >> 16, g.nx, out);
            rowX += static_cast<uint32_t>(g.vx);
            rowY += static_cast<uint32_t>(g.vy);
            continue;
        }
        for (int32_t i = 0; i < g.nx; ++i, px += ux, py += uy) {
            const int32_t x = static_cast<int32_t>(px) >> 16;
            const int32_t y = static_cast<int32_t>(py) >> 16;
            int32_t gx = 0;
            int32_t gy = 0;
            if (hasInterior && static_cast<uint32_t>(x - 1) <= lastX && static_cast<uint32_t>(y - 1) <= lastY) {
                const Pixel* c = base + y * pitch + x;
                const Pixel* up = c - pitch;
                const Pixel* dn = c + pitch;
                gx = up[1] + 2 * c[1] + dn[1] - up[-1] - 2 * c[-1] - dn[-1];
                gy = dn[-1] + 2 * dn[0] + dn[1] - up[-1] - 2 * up[0] - up[1];
            }
            out[2 * i] = static_cast<Sample>(gx >> 3);
            out[2 * i + 1] = static_cast<Sample>(gy >> 3);
        }
        rowX += static_cast<uint32_t>(g.vx);
        rowY += static_cast<uint32_t>(g.vy);
    }
    return 0;
}

template <class Pixel>
int32_t getGradientField(const kimg_imageConst* image, const kmath_shapeAffineRect* rect, kimg_image* field,
                         int32_t* steps) noexcept
{
    KOC_ASSERT(image != nullptr && rect != nullptr && field != nullptr);
    // A caller may rebuild an image's own handle into its field: this
    // handle keeps the source pixels alive while the field is rebound.
    kimg_image keep;
    KOC_RETURN_IF_FAILED(kimg_image_constructUnbound(&keep));
    const Always releaseKeep([&keep] { kimg_image_destruct(&keep); });
    if (field == image) {
        KOC_RETURN_IF_FAILED(kimg_image_assign(&keep, image));
    }

    kmath_xformLinear imageFromClient;
    KOC_RETURN_IF_FAILED(kimg_imageConst_getLinearImageFromClientXform(image, &imageFromClient));
    kimg_windowConst src;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&src, image));
    if (src.depth != kDepth<Pixel>) {
        return KOC_E_IMAGE_DEPTH;
    }

    kmath_shapeAffineRect pixelRect;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&pixelRect, &imageFromClient, rect));
    kmath_shapeAffineRectPoints corners;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&pixelRect, &corners));
    kmath_vect u;
    kmath_vect v;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getUnitPoPx(&pixelRect, &u));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getUnitPoPy(&pixelRect, &v));

    SampleGrid g;
    KOC_RETURN_IF_FAILED(toFixed(u.x, &g.ux));
    KOC_RETURN_IF_FAILED(toFixed(u.y, &g.uy));
    KOC_RETURN_IF_FAILED(toFixed(v.x, &g.vx));
    KOC_RETURN_IF_FAILED(toFixed(v.y, &g.vy));
    if (steps != nullptr) {
        // 20 fractional bits, so the projections can rotate 14-bit normals
        // with 34-bit products and still round once.
        steps[0] = g.ux * 16;
        steps[1] = g.uy * 16;
        steps[2] = g.vx * 16;
        steps[3] = g.vy * 16;
    }
    int32_t sx = 0;
    int32_t sy = 0;
    KOC_RETURN_IF_FAILED(toFixed(corners.po.x - src.x, &sx));
    KOC_RETURN_IF_FAILED(toFixed(corners.po.y - src.y, &sy));

    // Samples to pixels: the quantised steps as columns, the quantised
    // corner as translation, so that the field's transform describes the
    // grid the kernel really walks. The window origin is added back because
    // the kernel works window-relative while the image's transform reaches
    // the whole pixel frame.
    kmath_matrix steps2x2;
    KOC_RETURN_IF_FAILED(kmath_matrix_init(&steps2x2, g.ux / kFixedOne, g.vx / kFixedOne, g.uy / kFixedOne, g.vy / kFixedOne));
    const kmath_vect origin{sx / kFixedOne + src.x, sy / kFixedOne + src.y};
    kmath_xformLinear pixelsFromSamples;
    kmath_xformLinear samplesFromPixels;
    kmath_xformLinear samplesFromClient;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_initMatrixTrans(&pixelsFromSamples, &steps2x2, &origin));
    KOC_RETURN_IF_FAILED(kmath_xformLinear_getInverse(&pixelsFromSamples, &samplesFromPixels));
    KOC_RETURN_IF_FAILED(kmath_xformLinear_initCompose(&samplesFromClient, &imageFromClient, &samplesFromPixels));

    // Sample (i, j) covers the cell (i, j)..(i + 1, j + 1); it is read at
    // the cell's centre, half a step along each side from the corner.
    g.startX = static_cast<uint32_t>(sx) + static_cast<uint32_t>((g.ux >> 1) + (g.vx >> 1));
    g.startY = static_cast<uint32_t>(sy) + static_cast<uint32_t>((g.uy >> 1) + (g.vy >> 1));

    // Whole samples per side, from the corners in 16.16 divided by the unit
    // step; the smaller axis count wins, so no sample centre leaves the side.
    int32_t p0x = 0, p0y = 0, pxx = 0, pxy = 0, pyx = 0, pyy = 0;
    KOC_RETURN_IF_FAILED(toFixed(corners.po.x, &p0x));
    KOC_RETURN_IF_FAILED(toFixed(corners.po.y, &p0y));
    KOC_RETURN_IF_FAILED(toFixed(corners.px.x, &pxx));
    KOC_RETURN_IF_FAILED(toFixed(corners.px.y, &pxy));
    KOC_RETURN_IF_FAILED(toFixed(corners.py.x, &pyx));
    KOC_RETURN_IF_FAILED(toFixed(corners.py.y, &pyy));
    const int64_t nx = std::min(stepsAlong(int64_t{pxx} - p0x, g.ux), stepsAlong(int64_t{pxy} - p0y, g.uy));
    const int64_t ny = std::min(stepsAlong(int64_t{pyx} - p0x, g.vx), stepsAlong(int64_t{pyy} - p0y, g.vy));
    KOC_ASSERT(nx >= 0);
    if (nx == 0 || ny <= 0) {
        return kimg_image_setUnbound(field);  // thinner than one sample: no field, no error
    }
    if (nx > kInt32Max / 2) {
        return KOC_E_BAD_ARGUMENT;  // two pels per sample must fit one row
    }
    g.nx = static_cast<int32_t>(nx);
    g.ny = static_cast<int32_t>(ny);

    // Both kernels write every sample of every row, so the field's pixels
    // are not zeroed first; it is handed over only once complete.
    services::ScopedImage fresh;
    KOC_RETURN_IF_FAILED(services::image::assignNewForOverwrite(fresh.get(), kDepth<Pixel>, {0, 0, 2 * g.nx, g.ny}));
    KOC_RETURN_IF_FAILED(kimg_image_setLinearImageFromClientXform(fresh.get(), &samplesFromClient));
    kimg_window dst;
    KOC_RETURN_IF_FAILED(kimg_window_init(&dst, fresh.get()));

    const auto portable = [&] { return gradientFieldRows<Pixel, false>(src, dst, g); };
    if constexpr (sizeof(Pixel) == 1) {
        const auto optimized = [&] {
            return simd::avx2Available() ? gradientFieldRows<Pixel, true>(src, dst, g) : KOC_E_NO_OPTIMIZED_KERNEL;
        };
        KOC_RETURN_IF_FAILED(runKernelSlot("koc_computeGradientField", optimized, portable));
    } else {
        KOC_RETURN_IF_FAILED(portable());
    }
    return kimg_image_assign(field, fresh.get());
}

// ---- projections ----

// One family of parallel lines: its slope, its unit normal in the axes of
// the field's samples, its profile and its 16.16 running offset.
struct SlopeLines {
    int32_t slope = 0;
    int16_t normalX = 0;  // 14 fractional bits
    int16_t normalY = 0;
    int64_t offset = 0;
    int64_t extent = 0;  // (|t| * span) >> 16: the bins the slant adds
    int32_t* bins = nullptr;
    int64_t size = 0;
    size_t firstRun = 0;  // horizontal only: this slope's runs of samples
    size_t endRun = 0;
};

// The sample dotted with the normal, scaled by 1/64 with rounding: a sample
// step of one unit along the normal counts 256. 16-bit operands with 32-bit
// products let the compiler use widening multiplies. Each product is at most
// 2^30 in magnitude; only the sum of two extreme products reaches 2^31, so it
// is formed in unsigned arithmetic, where wrapping is defined.
template <bool Absolute>
inline uint32_t contribution(int16_t gx, int16_t gy, int16_t normalX, int16_t normalY) noexcept
{
    const uint32_t sum = static_cast<uint32_t>(int32_t{gx} * normalX) + static_cast<uint32_t>(int32_t{gy} * normalY) + 32u;
    const int32_t d = static_cast<int32_t>(sum) >> 6;
    return static_cast<uint32_t>(Absolute ? std::abs(d) : d);
}

// Bins are 32-bit; a very tall 16-bit field can exceed that, and then a bin
// wraps modulo 2^32 rather than invoking undefined behaviour.
inline void addToBin(int32_t& bin, uint32_t amount) noexcept
{
    bin = static_cast<int32_t>(static_cast<uint32_t>(bin) + amount);
}

// Bins run down the field: sample k of row r lands in bin
// (r * 65536 + offset - k * t) >> 16. As r * 65536 moves that by whole bins,
// every row sees row 0's pattern shifted down by r: the runs of samples that
// share a bin are found once per slope (findBinRuns), and each row sums its
// runs without per-sample position arithmetic. Integer sums are exact in any
// order, so this is the stated per-sample accumulation.
template <class Sample, bool Absolute>
int32_t projectHorizPortable(const kimg_windowConst& fw, int32_t nx, int32_t ny, const SlopeLines* lines,
                             int32_t count, const BinRun* runs, uint32_t* scratch) noexcept
{
    const auto* base = static_cast<const Sample*>(fw.pixels);
    for (int32_t r = 0; r < ny; ++r) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        const Sample* row = base + r * fw.pitch;
        for (int32_t s = 0; s < count; ++s) {
            const SlopeLines& line = lines[s];
            const int16_t normalX = line.normalX;
            const int16_t normalY = line.normalY;
            // The row's contributions first, in a loop without the runs'
            // bookkeeping (it vectorises), then the runs' sums over them.
            for (int32_t k = 0; k < nx; ++k) {
                scratch[k] = contribution<Absolute>(row[2 * k], row[2 * k + 1], normalX, normalY);
            }
            int32_t* bins = line.bins + r;
            int32_t k = 0;
            for (const BinRun* run = runs + line.firstRun; run != runs + line.endRun; ++run) {
                uint32_t sum = 0;
                for (; k < run->end; ++k) {
                    sum += scratch[k];
                }
                addToBin(bins[run->bin], sum);
            }
        }
    }
    return 0;
}

// Row 0's runs for one horizontal slope, in 64-bit positions like the offset.
int32_t findBinRuns(SlopeLines& line, int32_t nx, services::Vector<BinRun>& runs) noexcept
{
    return guarded([&]() -> int32_t {
        line.firstRun = runs.size();
        int64_t pos = line.offset;
        for (int32_t k = 1; k <= nx; ++k) {
            const int64_t next = pos - line.slope;
            if (k == nx || (next >> 16) != (pos >> 16)) {
                runs.push_back({k, static_cast<int32_t>(pos >> 16)});
            }
            pos = next;
        }
        line.endRun = runs.size();
        return 0;
    });
}

// Widens the band of rows r0 .. r0 + kSampleBlock - 1 into widened (rows of
// paddedSamples(nx) samples, polling attention per row, rows past the field
// zero) and points band at them. Returns the rows in the field.
int32_t widenBand(const kimg_windowConst& fw, int32_t nx, int32_t ny, int32_t r0, int16_t* widened, const int16_t** band,
                  int32_t* rows) noexcept
{
    const auto* base = static_cast<const int8_t*>(fw.pixels);
    const int32_t padded = simd::paddedSamples(nx);
    *rows = std::min(simd::kSampleBlock, ny - r0);
    for (int32_t j = 0; j < simd::kSampleBlock; ++j) {
        int16_t* row = widened + 2 * static_cast<intptr_t>(padded) * j;
        band[j] = row;
        if (j < *rows) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
            simd::widenSamplesAvx2(base + (r0 + j) * fw.pitch, nx, row);
        } else {
            std::fill_n(row, 2 * padded, int16_t{0});  // rows past the field add nothing
        }
    }
    return 0;
}

// The optimised horizontal kernel: eight rows at a time, widened and laid
// side by side once, so that one vector holds a sample column of the band;
// per slope a run's columns are summed in a register and added to the
// band's eight bins of that run at once. The band's rows poll attention as
// they are widened, so the cadence is the portable kernel's.
template <bool Absolute>
int32_t projectHorizAvx2(const kimg_windowConst& fw, int32_t nx, int32_t ny, const SlopeLines* lines, int32_t count,
                         const BinRun* runs, int16_t* widened, int32_t* columns) noexcept
{
    const int32_t padded = simd::paddedSamples(nx);
    const int16_t* band[simd::kSampleBlock];
    for (int32_t r0 = 0; r0 < ny; r0 += simd::kSampleBlock) {
        int32_t rows = 0;
        KOC_RETURN_IF_FAILED(widenBand(fw, nx, ny, r0, widened, band, &rows));
        simd::bandColumnsAvx2(band, padded, columns);
        for (int32_t s = 0; s < count; ++s) {
            const SlopeLines& line = lines[s];
            // Up to 45 degrees a sample moves the bin by at most one, so
            // the runs' bins step by one (down for a positive slope).
            const int32_t binStep = std::abs(int64_t{line.slope}) > 65536 ? 0 : line.slope > 0 ? -1 : 1;
            simd::addBandRunsAvx2(columns, runs + line.firstRun, static_cast<int32_t>(line.endRun - line.firstRun),
                                  line.normalX, line.normalY, Absolute, binStep, static_cast<int32_t>(line.size - r0),
                                  line.bins + r0);
        }
    }
    return 0;
}

// Bins run along the field: row r of the lines x + t * y = const is shifted
// by extent - (offset >> 16), the offset falling by t per row.
template <class Sample, bool Absolute>
int32_t projectVertPortable(const kimg_windowConst& fw, int32_t nx, int32_t ny, SlopeLines* lines, int32_t count) noexcept
{
    const auto* base = static_cast<const Sample*>(fw.pixels);
    for (int32_t r = 0; r < ny; ++r) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        const Sample* row = base + r * fw.pitch;
        for (int32_t s = 0; s < count; ++s) {
            SlopeLines& line = lines[s];
            const int64_t shift = line.extent - (line.offset >> 16);
            KOC_ASSERT(shift >= 0 && shift + nx <= line.size);
            int32_t* bins = line.bins + shift;
            const int16_t normalX = line.normalX;
            const int16_t normalY = line.normalY;
            for (int32_t k = 0; k < nx; ++k) {
                addToBin(bins[k], contribution<Absolute>(row[2 * k], row[2 * k + 1], normalX, normalY));
            }
            line.offset -= line.slope;
        }
    }
    return 0;
}

// The optimised vertical kernel: eight rows widened at a time; per slope the
// rows of the band that share a shift are summed in registers and added to
// the bins once.
template <bool Absolute>
int32_t projectVertAvx2(const kimg_windowConst& fw, int32_t nx, int32_t ny, SlopeLines* lines, int32_t count,
                        int16_t* widened) noexcept
{
    const int16_t* band[simd::kSampleBlock];
    for (int32_t r0 = 0; r0 < ny; r0 += simd::kSampleBlock) {
        int32_t rows = 0;
        KOC_RETURN_IF_FAILED(widenBand(fw, nx, ny, r0, widened, band, &rows));
        for (int32_t s = 0; s < count; ++s) {
            SlopeLines& line = lines[s];
            for (int32_t j = 0; j < rows;) {
                const int64_t bin = line.offset >> 16;
                int32_t shared = 1;
                line.offset -= line.slope;
                while (j + shared < rows && (line.offset >> 16) == bin) {
                    ++shared;
                    line.offset -= line.slope;
                }
                const int64_t shift = line.extent - bin;
                KOC_ASSERT(shift >= 0 && shift + nx <= line.size);
                simd::addRowContributionsAvx2(band + j, shared, nx, line.normalX, line.normalY, Absolute,
                                              line.bins + shift);
                j += shared;
            }
        }
    }
    return 0;
}

// The unit normal of a slope t (16.16) with 14 fractional bits: cs is the
// cosine of the slope angle, 2^30 / |(65536, t)| rounded; the sine is cs * t
// rounded back from 16.16. 64-bit: t^2 and cs * t exceed 32 bits.
int32_t slopeCosSin(int32_t t, int64_t* cs, int64_t* sn) noexcept
{
    uint64_t length = 0;
    const auto t2 = static_cast<uint64_t>(int64_t{t} * t);
    KOC_RETURN_IF_FAILED(kmath_sqrt64(t2 + (uint64_t{1} << 32), &length));
    *cs = static_cast<int64_t>(((uint64_t{1} << 30) + length / 2) / length);
    *sn = (*cs * t + 0x8000) >> 16;
    return 0;
}

template <class Sample, bool Vertical>
int32_t projectGradientField(const kimg_imageConst* field, const kstd_vector32s* slopes, const int32_t* steps,
                             int32_t absolute, kstd_vector_vector32s* profiles, const char* kernelName) noexcept
{
    KOC_ASSERT(field != nullptr && slopes != nullptr && profiles != nullptr);
    kimg_windowConst fw;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&fw, field));
    if (fw.depth != static_cast<int32_t>(sizeof(Sample))) {
        return KOC_E_IMAGE_DEPTH;
    }
    // The field's current window: the caller may have trimmed its frame.
    const int32_t nx = fw.width >> 1;
    const int32_t ny = fw.height;

    const int32_t* t = nullptr;
    int32_t count = 0;
    KOC_RETURN_IF_FAILED(kstd_vector32s_getBeginSizeConst(slopes, &t, &count));
    KOC_RETURN_IF_FAILED(kstd_vector_vector32s_resize(profiles, count));
    kstd_vector32s* profile = nullptr;
    KOC_RETURN_IF_FAILED(kstd_vector_vector32s_getBegin(profiles, &profile));
    services::Vector<SlopeLines> lines;
    services::Vector<BinRun> runs;
    services::Vector<uint32_t> scratch;  // horizontal: one row's contributions
    KOC_RETURN_IF_FAILED(guarded([&]() -> int32_t {
        lines.resize(static_cast<size_t>(count));
        if (!Vertical) {
            scratch.resize(static_cast<size_t>(nx));
        }
        return 0;
    }));

    const int32_t pollEvery = Vertical ? 8 : 32;
    for (int32_t s = 0; s < count; ++s) {
        if (s % pollEvery == 0) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
        }
        SlopeLines& line = lines[static_cast<size_t>(s)];
        line.slope = t[s];
        int64_t cs = 0;
        int64_t sn = 0;
        KOC_RETURN_IF_FAILED(slopeCosSin(line.slope, &cs, &sn));
        // Horizontal: lines of slope t, normal (sin, -cos). Vertical: lines
        // x + t * y = const, normal (cos, sin).
        int64_t n0 = Vertical ? cs : sn;
        int64_t n1 = Vertical ? sn : -cs;
        if (steps != nullptr) {
            // The normal is in the rectangle's axes, the samples in the
            // image's: rotate it by the step vectors (20 bits), back to 14.
            // 64-bit: step times normal has 34 bits.
            const int64_t r0 = (int64_t{steps[0]} * n0 + int64_t{steps[2]} * n1 + 0x80000) >> 20;
            const int64_t r1 = (int64_t{steps[1]} * n0 + int64_t{steps[3]} * n1 + 0x80000) >> 20;
            n0 = r0;
            n1 = r1;
        }
        // Normals are 16-bit values; unit steps keep them within +-16385.
        line.normalX = static_cast<int16_t>(n0);
        line.normalY = static_cast<int16_t>(n1);

        const int64_t magnitude = line.slope < 0 ? -int64_t{line.slope} : int64_t{line.slope};
        line.extent = (magnitude * (Vertical ? ny : nx)) >> 16;
        line.size = (Vertical ? nx : ny) + line.extent;
        // 64-bit offsets: t * (nx - 1) and t * ny exceed 32 bits for steep slopes.
        if constexpr (!Vertical) {
            KOC_ASSERT(line.size >= 1);
            line.offset = line.slope > 0 ? int64_t{line.slope} * (nx - 1) : 0;
        } else {
            line.offset = line.slope > 0 ? int64_t{line.slope} * ny : 0;
        }
        KOC_RETURN_IF_FAILED(kstd_vector32s_resize(&profile[s], static_cast<intptr_t>(line.size)));
        KOC_RETURN_IF_FAILED(kstd_vector32s_getBegin(&profile[s], &line.bins));
        std::fill_n(line.bins, line.size, 0);
        if constexpr (!Vertical) {
            KOC_RETURN_IF_FAILED(findBinRuns(line, nx, runs));
        }
    }

    const auto portable = [&]() -> int32_t {
        if constexpr (Vertical) {
            const auto kernel = absolute != 0 ? projectVertPortable<Sample, true> : projectVertPortable<Sample, false>;
            return kernel(fw, nx, ny, lines.data(), count);
        } else {
            const auto kernel = absolute != 0 ? projectHorizPortable<Sample, true> : projectHorizPortable<Sample, false>;
            return kernel(fw, nx, ny, lines.data(), count, runs.data(), scratch.data());
        }
    };
    if constexpr (sizeof(Sample) == 1) {
        services::Vector<int16_t> widened;
        services::Vector<int32_t> columns;
        const auto optimized = [&]() -> int32_t {
            if (!simd::avx2Available()) {
                return KOC_E_NO_OPTIMIZED_KERNEL;
            }
            const auto padded = static_cast<size_t>(simd::paddedSamples(nx));
            KOC_RETURN_IF_FAILED(guarded([&]() -> int32_t {
                widened.resize(2 * padded * simd::kSampleBlock);
                if constexpr (!Vertical) {
                    columns.resize(padded * simd::kSampleBlock);
                }
                return 0;
            }));
            if constexpr (Vertical) {
                const auto kernel = absolute != 0 ? projectVertAvx2<true> : projectVertAvx2<false>;
                return kernel(fw, nx, ny, lines.data(), count, widened.data());
            } else {
                const auto kernel = absolute != 0 ? projectHorizAvx2<true> : projectHorizAvx2<false>;
                return kernel(fw, nx, ny, lines.data(), count, runs.data(), widened.data(), columns.data());
            }
        };
        return runKernelSlot(kernelName, optimized, portable);
    } else {
        return portable();
    }
}

}  // namespace
}  // namespace koc::lineextract

using koc::lineextract::getGradientField;
using koc::lineextract::projectGradientField;

extern "C" {

KOC_API kprt_isOptimizationInhibitedFn kprt_isOptimizationInhibitedFP = nullptr;

KOC_API int32_t koc_getGradientField(const kimg_imageConst* image, const kmath_shapeAffineRect* rect, kimg_image* field,
                                     int32_t* steps) noexcept
{
    return getGradientField<uint8_t>(image, rect, field, steps);
}

KOC_API int32_t koc_getGradientField16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                       kimg_image* field, int32_t* steps) noexcept
{
    return getGradientField<uint16_t>(image16, rect, field, steps);
}

KOC_API int32_t koc_projectHorizGradientField(const kimg_imageConst* field, const kstd_vector32s* slopes,
                                              const int32_t* steps, int32_t absolute,
                                              kstd_vector_vector32s* profiles) noexcept
{
    return projectGradientField<int8_t, false>(field, slopes, steps, absolute, profiles, "koc_projectHorizGradientField");
}

KOC_API int32_t koc_projectVertGradientField(const kimg_imageConst* field, const kstd_vector32s* slopes,
                                             const int32_t* steps, int32_t absolute,
                                             kstd_vector_vector32s* profiles) noexcept
{
    return projectGradientField<int8_t, true>(field, slopes, steps, absolute, profiles, "koc_projectVertGradientField");
}

KOC_API int32_t koc_projectHorizGradientField16(const kimg_imageConst* field, const kstd_vector32s* slopes,
                                                const int32_t* steps, int32_t absolute,
                                                kstd_vector_vector32s* profiles) noexcept
{
    return projectGradientField<int16_t, false>(field, slopes, steps, absolute, profiles, nullptr);
}

KOC_API int32_t koc_projectVertGradientField16(const kimg_imageConst* field, const kstd_vector32s* slopes,
                                               const int32_t* steps, int32_t absolute,
                                               kstd_vector_vector32s* profiles) noexcept
{
    return projectGradientField<int16_t, true>(field, slopes, steps, absolute, profiles, nullptr);
}

}  // extern "C"
