// rectify.cpp: bilinear resampling of a parallelogram at scale 1.
//
// Interpolation is bilinear with 8-bit weights: a grey line image needs no
// sharper kernel for edge and blob analysis, and bilinear never overshoots,
// so 8-bit and 16-bit outputs stay in range without clamping. Positions are
// walked in 16.16 fixed point along a row, so the inner loop has no
// division and no floating point.
#include "services/rectify.hpp"

#include <algorithm>
#include <cmath>

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "services/attention.hpp"
#include "services/kernel_slot.hpp"
#include "services/rectify_kernels.hpp"

namespace koc::services {

namespace {

struct Frame {
    kmath_vect po;     // rect's Po in src pixel coordinates
    kmath_vect e1;     // unit vector along Po->Px, src pixels
    kmath_vect e2;     // unit vector along Po->Py
    int32_t width = 0;
    int32_t height = 0;
};

int32_t frameOf(const kimg_image* src, const kmath_shapeAffineRect* rect, Frame* frame) noexcept
{
    kmath_xformLinear imageFromClient;
    KOC_RETURN_IF_FAILED(kimg_image_getLinearImageFromClientXform(src, &imageFromClient));
    kmath_shapeAffineRect inImage;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&inImage, &imageFromClient, rect));
    int32_t degenerate = 0;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getIsDegenerate(&inImage, &degenerate));
    if (degenerate != 0) {
        return KOC_E_RECT_DEGENERATE;
    }
    kmath_shapeAffineRectPoints pts;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&inImage, &pts));
    double l1 = 0.0, l2 = 0.0;
    KOC_RETURN_IF_FAILED(kmath_vect_getDistance(&pts.po, &pts.px, &l1));
    KOC_RETURN_IF_FAILED(kmath_vect_getDistance(&pts.po, &pts.py, &l2));
    // A line image is small; anything near 2^24 pixels a side is a caller error.
    if (!(l1 < 16777216.0) || !(l2 < 16777216.0)) {
        return KOC_E_BAD_ARGUMENT;
    }
    frame->po = pts.po;
    frame->e1 = kmath_vect{(pts.px.x - pts.po.x) / l1, (pts.px.y - pts.po.y) / l1};
    frame->e2 = kmath_vect{(pts.py.x - pts.po.x) / l2, (pts.py.y - pts.po.y) / l2};
    frame->width = std::max(1, static_cast<int32_t>(std::floor(l1 + 0.5)));
    frame->height = std::max(1, static_cast<int32_t>(std::floor(l2 + 0.5)));
    return 0;
}

int32_t toFixed(double v) noexcept
{
    return static_cast<int32_t>(std::floor(v * 65536.0 + 0.5));
}

template <class Pixel>
const Pixel* rowAt(const kimg_windowConst& in, int32_t y) noexcept
{
    return reinterpret_cast<const Pixel*>(static_cast<const uint8_t*>(in.pixels) + y * in.pitch * in.depth);
}

// One bilinear sample from two rows with 8-bit weights. Every term fits 32
// bits for 16-bit pixels too: top and bottom stay below 2^24 and the blend
// below 65535 * 65536 + 32768.
template <class Pixel>
Pixel blend(const Pixel* row0, const Pixel* row1, int32_t x0, int32_t x1, uint32_t wx, uint32_t wy) noexcept
{
    const uint32_t top = row0[x0] * (256 - wx) + row0[x1] * wx;
    const uint32_t bottom = row1[x0] * (256 - wx) + row1[x1] * wx;
    return static_cast<Pixel>((top * (256 - wy) + bottom * wy + 32768) >> 16);
}

// A row whose fixed-point walk does not move vertically and steps exactly
// one source pixel at a time (the common case of an upright rectangle): the
// weights are the same for the whole row, so the interior needs no clamping
// and, with both weights 0, is a plain copy. Border samples take the clamped
// form; the values are those of the general walk.
template <class Pixel>
void sampleUnitRow(const kimg_windowConst& in, int64_t px, int64_t py, int32_t width, Pixel* dst) noexcept
{
    const int32_t maxX = in.width - 1;
    const int32_t maxY = in.height - 1;
    const auto xStart = static_cast<int32_t>(px >> 16);
    const auto yStart = static_cast<int32_t>(py >> 16);
    const auto wx = static_cast<uint32_t>((px >> 8) & 0xff);
    const auto wy = static_cast<uint32_t>((py >> 8) & 0xff);
    const Pixel* row0 = rowAt<Pixel>(in, std::clamp(yStart, 0, maxY));
    const Pixel* row1 = rowAt<Pixel>(in, std::clamp(yStart + 1, 0, maxY));
    // Samples i with 0 <= xStart + i and xStart + i + 1 <= maxX need no clamp.
    const int32_t begin = static_cast<int32_t>(std::clamp<int64_t>(-int64_t{xStart}, 0, width));
    const int32_t end = static_cast<int32_t>(std::clamp<int64_t>(int64_t{maxX} - xStart, begin, width));
    const auto clamped = [&](int32_t i) {
        const int32_t x0 = xStart + i;
        return blend(row0, row1, std::clamp(x0, 0, maxX), std::clamp(x0 + 1, 0, maxX), wx, wy);
    };
    for (int32_t i = 0; i < begin; ++i) {
        dst[i] = clamped(i);
    }
    const Pixel* a = row0 + xStart;
    const Pixel* b = row1 + xStart;
    if (wx == 0 && wy == 0) {
        std::copy(a + begin, a + end, dst + begin);
    } else if (wy == 0) {
        for (int32_t i = begin; i < end; ++i) {
            const uint32_t top = a[i] * (256 - wx) + a[i + 1] * wx;
            dst[i] = static_cast<Pixel>((top * 256 + 32768) >> 16);
        }
    } else {
        for (int32_t i = begin; i < end; ++i) {
            const uint32_t top = a[i] * (256 - wx) + a[i + 1] * wx;
            const uint32_t bottom = b[i] * (256 - wx) + b[i + 1] * wx;
            dst[i] = static_cast<Pixel>((top * (256 - wy) + bottom * wy + 32768) >> 16);
        }
    }
    for (int32_t i = end; i < width; ++i) {
        dst[i] = clamped(i);
    }
}

// A row walked in fixed point from (px, py) by (dx, dy) per sample. The
// samples whose two neighbours in x and in y both lie inside the window
// form one run (each bound is a half-line in the sample index), found from
// both ends; that run blends from one row address without a test per
// sample, and only the samples outside it clamp. Vectorised, the optimised
// kernel blends the row, clamped samples included, when its positions fit
// 32 bits (always but for a window some 32768 pixels away).
template <class Pixel, bool Vectorised>
void sampleTurnedRow(const kimg_windowConst& in, int64_t px, int64_t py, int32_t dx, int32_t dy, int32_t width,
                     Pixel* dst) noexcept
{
    if constexpr (Vectorised) {
        const auto fits = [](int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; };
        if (fits(px) && fits(py) && fits(px + int64_t{width} * dx) && fits(py + int64_t{width} * dy)) {
            simd::blendTurnedRowAvx2(static_cast<const Pixel*>(in.pixels), in.pitch, in.width, in.height,
                                     static_cast<int32_t>(px), static_cast<int32_t>(py), dx, dy, width, dst);
            return;
        }
    }
    const int32_t maxX = in.width - 1;
    const int32_t maxY = in.height - 1;
    const auto inside = [&](int32_t i) {
        const auto x0 = static_cast<int32_t>((px + int64_t{i} * dx) >> 16);
        const auto y0 = static_cast<int32_t>((py + int64_t{i} * dy) >> 16);
        return static_cast<uint32_t>(x0) < static_cast<uint32_t>(maxX) &&
               static_cast<uint32_t>(y0) < static_cast<uint32_t>(maxY);
    };
    const auto clamped = [&](int32_t i) {
        const int64_t x = px + int64_t{i} * dx;
        const int64_t y = py + int64_t{i} * dy;
        const auto x0 = static_cast<int32_t>(x >> 16);
        const auto y0 = static_cast<int32_t>(y >> 16);
        const auto wx = static_cast<uint32_t>((x >> 8) & 0xff);
        const auto wy = static_cast<uint32_t>((y >> 8) & 0xff);
        // Replicate the border: clamp both neighbours into the window.
        return blend(rowAt<Pixel>(in, std::clamp(y0, 0, maxY)), rowAt<Pixel>(in, std::clamp(y0 + 1, 0, maxY)),
                     std::clamp(x0, 0, maxX), std::clamp(x0 + 1, 0, maxX), wx, wy);
    };
    int32_t begin = 0;
    while (begin < width && !inside(begin)) {
        dst[begin] = clamped(begin);
        ++begin;
    }
    int32_t end = width;
    while (end > begin && !inside(end - 1)) {
        --end;
        dst[end] = clamped(end);
    }
    const auto* base = static_cast<const Pixel*>(in.pixels);
    const intptr_t pitch = in.pitch;
    // Inside the run x and y are non-negative and below 2^31.
    auto x = static_cast<uint32_t>(px + int64_t{begin} * dx);
    auto y = static_cast<uint32_t>(py + int64_t{begin} * dy);
    for (int32_t i = begin; i < end; ++i, x += static_cast<uint32_t>(dx), y += static_cast<uint32_t>(dy)) {
        const uint32_t wx = (x >> 8) & 0xff;
        const uint32_t wy = (y >> 8) & 0xff;
        const Pixel* a = base + static_cast<intptr_t>(y >> 16) * pitch + (x >> 16);
        const Pixel* b = a + pitch;
        const uint32_t top = a[0] * (256 - wx) + a[1] * wx;
        const uint32_t bottom = b[0] * (256 - wx) + b[1] * wx;
        dst[i] = static_cast<Pixel>((top * (256 - wy) + bottom * wy + 32768) >> 16);
    }
}

template <class Pixel, bool Vectorised>
int32_t sampleRows(const kimg_windowConst& in, const Frame& f, const kimg_window& out) noexcept
{
    AttentionPacer pace;
    // Source positions are taken relative to the window origin, with pixel
    // centres at integer coordinates (hence the -0.5).
    const double ox = f.po.x - in.x - 0.5;
    const double oy = f.po.y - in.y - 0.5;
    const int32_t dx = toFixed(f.e1.x);
    const int32_t dy = toFixed(f.e1.y);
    for (int32_t j = 0; j < f.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(f.width));
        Pixel* dst = reinterpret_cast<Pixel*>(static_cast<uint8_t*>(out.pixels) + j * out.pitch * out.depth);
        const double cx = ox + (j + 0.5) * f.e2.x + 0.5 * f.e1.x;
        const double cy = oy + (j + 0.5) * f.e2.y + 0.5 * f.e1.y;
        // Positions stay well inside 32 bits: the frame is below 2^24 pixels
        // a side and the window below 2^15 pixels away in practice; clamp the
        // start to keep the fixed-point walk safe for any input.
        int64_t px = static_cast<int64_t>(std::floor(std::clamp(cx, -32768.0, 32767.0) * 65536.0 + 0.5));
        int64_t py = static_cast<int64_t>(std::floor(std::clamp(cy, -32768.0, 32767.0) * 65536.0 + 0.5));
        if (dx == 65536 && dy == 0) {
            sampleUnitRow<Pixel>(in, px, py, f.width, dst);
            continue;
        }
        sampleTurnedRow<Pixel, Vectorised>(in, px, py, dx, dy, f.width, dst);
    }
    return 0;
}

int32_t rectify(const kimg_image* src, const kmath_shapeAffineRect* rect, kimg_image* out, Frame* frame) noexcept
{
    KOC_ASSERT(src != nullptr && rect != nullptr && out != nullptr);
    int32_t depth = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getDepth(src, &depth));
    if (depth == 0) {
        return KOC_E_IMAGE_UNBOUND;
    }
    if (depth != KIMG_DEPTH_8 && depth != KIMG_DEPTH_16) {
        return KOC_E_IMAGE_DEPTH;
    }
    KOC_RETURN_IF_FAILED(frameOf(src, rect, frame));
    kimg_windowConst in;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&in, src));
    if (in.width < 1 || in.height < 1) {
        return KOC_E_IMAGE_UNBOUND;
    }
    kmath_xformLinear clientFromImage;
    KOC_RETURN_IF_FAILED(kimg_image_getLinearClientFromImageXform(src, &clientFromImage));

    kimg_image fresh;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&fresh));
    Always dropFresh([&] { kimg_image_destruct(&fresh); });
    KOC_RETURN_IF_FAILED(kimg_image_assignNew(&fresh, depth, frame->width, frame->height));
    kimg_window w;
    KOC_RETURN_IF_FAILED(kimg_window_init(&w, &fresh));
    const auto portable = [&]() -> int32_t {
        return depth == KIMG_DEPTH_8 ? sampleRows<uint8_t, false>(in, *frame, w) : sampleRows<uint16_t, false>(in, *frame, w);
    };
    // The vector blend addresses pixels by 32-bit element offsets, and
    // reads four bytes at a time from a window of at least four pixels.
    const int64_t lastOffset = int64_t{in.height - 1} * in.pitch + in.width - 1;
    const auto optimized = [&]() -> int32_t {
        if (!simd::rectifyAvx2Available() || lastOffset >= int64_t{0x7ffffff0} || int64_t{in.width} * in.height < 4) {
            return KOC_E_NO_OPTIMIZED_KERNEL;
        }
        return depth == KIMG_DEPTH_8 ? sampleRows<uint8_t, true>(in, *frame, w) : sampleRows<uint16_t, true>(in, *frame, w);
    };
    KOC_RETURN_IF_FAILED(runKernelSlot("kip_affineRectifyImageRegion", optimized, portable));
    // out pixel q maps to src pixel Po + q.x e1 + q.y e2, then to client.
    kmath_xformLinear outToSrc;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_initMatrixTransElements(&outToSrc, frame->e1.x, frame->e2.x, frame->e1.y,
                                                                   frame->e2.y, frame->po.x, frame->po.y));
    kmath_xformLinear clientFromOut;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_initCompose(&clientFromOut, &outToSrc, &clientFromImage));
    KOC_RETURN_IF_FAILED(kimg_image_setLinearClientFromImageXform(&fresh, &clientFromOut));
    return kimg_image_assign(out, &fresh);
}

}  // namespace

int32_t affineRectifyImageRegion(const kimg_image* src, const kmath_shapeAffineRect* rect, kimg_image* out) noexcept
{
    Frame frame;
    return rectify(src, rect, out, &frame);
}

int32_t affineRectifyImageRegionIntersection(const kimg_image* src, const kmath_shapeAffineRect* lineRect,
                                             const kmath_shapeAffineRect* inputRect, kimg_image* out,
                                             kimg_imageRle* mask) noexcept
{
    KOC_ASSERT(inputRect != nullptr && mask != nullptr);
    kimg_image line;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&line));
    Always dropLine([&] { kimg_image_destruct(&line); });
    Frame frame;
    KOC_RETURN_IF_FAILED(rectify(src, lineRect, &line, &frame));

    // The input rectangle in src pixels, as Q(s, t) = q0 + s a + t b with
    // (s, t) in [0, 1]^2; a pixel centre belongs when its (s, t) does.
    kmath_xformLinear imageFromClient;
    KOC_RETURN_IF_FAILED(kimg_image_getLinearImageFromClientXform(src, &imageFromClient));
    kmath_shapeAffineRect inputInImage;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&inputInImage, &imageFromClient, inputRect));
    kmath_xformLinear toLocal;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_getInverse(&inputInImage.xform, &toLocal));

    kimg_imageRle runs;
    KOC_RETURN_IF_FAILED(kimg_imageRle_construct(&runs));
    Always dropRuns([&] { kimg_imageRle_destruct(&runs); });
    const kstd_rect32 all{0, 0, frame.width, frame.height};
    KOC_RETURN_IF_FAILED(kimg_imageRle_assignEmpty(&runs, &all));
    constexpr double kSlack = 1e-9;  // centres exactly on the input border belong
    int32_t firstRow = -1, lastRow = -1;
    const kmath_matrix& m = toLocal.matrix;
    for (int32_t j = 0; j < frame.height; ++j) {
        // Local coordinates of centre i: c + i * d (affine in i).
        const double x0 = frame.po.x + 0.5 * frame.e1.x + (j + 0.5) * frame.e2.x;
        const double y0 = frame.po.y + 0.5 * frame.e1.y + (j + 0.5) * frame.e2.y;
        double lo = 0.0, hi = frame.width - 1.0;
        const double cs = m.a * x0 + m.b * y0 + toLocal.trans.x;
        const double ct = m.c * x0 + m.d * y0 + toLocal.trans.y;
        const double ds = m.a * frame.e1.x + m.b * frame.e1.y;
        const double dt = m.c * frame.e1.x + m.d * frame.e1.y;
        for (const auto& [c, d] : {std::pair{cs, ds}, std::pair{ct, dt}}) {
            if (std::fabs(d) < 1e-15) {
                if (c < -kSlack || c > 1.0 + kSlack) hi = -1.0;
                continue;
            }
            const double a = (-kSlack - c) / d;
            const double b = (1.0 + kSlack - c) / d;
            lo = std::max(lo, std::min(a, b));
            hi = std::min(hi, std::max(a, b));
        }
        const double first = std::ceil(lo);
        const double last = std::floor(hi);
        if (first > last) {
            continue;
        }
        KOC_RETURN_IF_FAILED(kimg_imageRle_addRun(&runs, j, static_cast<int32_t>(first),
                                                  static_cast<int32_t>(last - first) + 1));
        if (firstRow < 0) firstRow = j;
        lastRow = j;
    }
    // The mask spans only the rows that hold a run, so every row of it has one.
    KOC_RETURN_IF_FAILED(kimg_imageRle_setUnbound(mask));
    if (firstRow >= 0) {
        const kstd_rect32 rows{0, firstRow, frame.width, lastRow - firstRow + 1};
        KOC_RETURN_IF_FAILED(kimg_imageRle_assignEmpty(mask, &rows));
        kstd_rect32 rect;
        const int32_t* rowStart = nullptr;
        const kimg_run* list = nullptr;
        KOC_RETURN_IF_FAILED(kimg_imageRle_getEncoding(&runs, &rect, &rowStart, &list));
        for (int32_t j = firstRow; j <= lastRow; ++j) {
            for (int32_t k = rowStart[j]; k < rowStart[j + 1]; ++k) {
                KOC_RETURN_IF_FAILED(kimg_imageRle_addRun(mask, j, list[k].x, list[k].length));
            }
        }
    }
    return kimg_image_assign(out, &line);
}

}  // namespace koc::services
