// threshold.cpp: the hard threshold between marks and ground, and the
// suppression of mark-coloured structures thinner than the text's strokes
// (scratches, rules of one pixel, speckle) before any blob is searched.
#include <algorithm>
#include <array>

#include "interface/guard.hpp"
#include "koc/ksys.h"
#include "segment/segment_internal.hpp"
#include "services/pel_ops.hpp"
#include "services/stroke_width.hpp"
#include "services/attention.hpp"

namespace koc::segment {

namespace {

// The normalised line image is centred on 128 with a half-range of 127; a
// pixel more than half of a third of that (round(0.5 * 127 / 3) = 21) from
// the centre on the mark side is surely mark, whatever its stroke: the
// stroke analysis looks at 0 .. 107 for dark marks, 149 .. 255 for light.
constexpr int32_t kMarkOffset = 21;
constexpr double kTailFraction = 0.1;
// Strokes thinner than the text's thin tail by more than this are not text.
constexpr int32_t kCutBelowTail = 2;

// output = max(source, mask) for dark marks (below-cut pixels turn white),
// min(source, mask) for light marks (they turn black).
int32_t combine(const kimg_image* source, const kimg_image* mask, bool takeMax, kimg_image* output) noexcept
{
    services::PixelRows<const uint8_t> src;
    services::PixelRows<const uint8_t> msk;
    KOC_RETURN_IF_FAILED(services::viewPixels(source, &src));
    KOC_RETURN_IF_FAILED(services::viewPixels(mask, &msk));
    KOC_ASSERT(msk.width == src.width && msk.height == src.height);
    services::ScopedImage fresh;
    KOC_RETURN_IF_FAILED(services::newImageLike(source, KIMG_DEPTH_8, fresh.get()));
    services::PixelRows<uint8_t> dst;
    KOC_RETURN_IF_FAILED(services::viewPixels(fresh.get(), &dst));
    services::AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const uint8_t* a = src.row(j);
        const uint8_t* b = msk.row(j);
        uint8_t* o = dst.row(j);
        if (takeMax) {
            for (int32_t i = 0; i < src.width; ++i) {
                o[i] = std::max(a[i], b[i]);
            }
        } else {
            for (int32_t i = 0; i < src.width; ++i) {
                o[i] = std::min(a[i], b[i]);
            }
        }
    }
    return kimg_image_assign(output, fresh.get());
}

}  // namespace

int32_t computeHardThreshold(const koc_charSegmentRunParams* params, int32_t* threshold, int32_t* polarityFlag) noexcept
{
    KOC_ASSERT(params != nullptr);
    KOC_ASSERT(threshold != nullptr);
    KOC_ASSERT(polarityFlag != nullptr);
    double level = 0.0;
    if (params->polarity == 1) {
        KOC_RETURN_IF_FAILED(kmath_double_round(255.0 * params->thresholdFraction, &level));
    } else if (params->polarity == 2) {
        KOC_RETURN_IF_FAILED(kmath_double_round(255.0 * (1.0 - params->thresholdFraction), &level));
    } else {
        return KOC_E_POLARITY_UNDECIDED;
    }
    // Threshold 0 would leave no dark mark at all ("below 0"); 1 is the
    // lowest meaningful cut. Out-of-range fractions wrap, as an 8-bit level.
    const auto t = static_cast<int32_t>(level);
    *threshold = t == 0 ? 1 : (t & 0xFF);
    *polarityFlag = params->polarity == 1 ? 1 : 0;
    return 0;
}

int32_t suppressBackground(const kimg_image* source, uint32_t polarity, int32_t polarityFlag, kimg_image* output) noexcept
{
    KOC_ASSERT(source != nullptr);
    KOC_ASSERT(output != nullptr);
    KOC_ASSERT(polarity != 4);
    const int32_t base = std::clamp(polarity == 1 ? 128 - kMarkOffset : 128 + kMarkOffset, 1, 255);

    services::StrokeDetectParams range;
    if (polarityFlag == 1) {
        range.markLow = 0;
        range.markHigh = base;
    } else {
        range.markLow = base;
        range.markHigh = 255;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    services::StrokeDetectResult strokes;
    KOC_RETURN_IF_FAILED(services::strokeDetect8(source, &range, &strokes));
    services::ScopedImage widths;
    KOC_RETURN_IF_FAILED(services::strokeDetectMinStrokeWidthImage(&strokes, widths.get()));

    std::array<uint32_t, 256> hist{};
    KOC_RETURN_IF_FAILED(services::pelHistogram<uint8_t>(widths.get(), hist.data()));
    int32_t lowTail = 0;
    int32_t highTail = 0;
    const int32_t rc = services::strokeWidthTails(hist.data(), kTailFraction, kTailFraction, &lowTail, &highTail);
    if (rc == KOC_E_HISTOGRAM_NO_TAIL) {
        // No mark pixel at all: only the non-mark pixels (width 0) change.
        lowTail = 0;
    } else if (rc < 0) {
        return rc;
    }
    const int32_t cut = lowTail - kCutBelowTail > 1 ? lowTail - kCutBelowTail : 1;

    // Widths below the cut take the ground colour's extreme, the rest the
    // neutral element of the combining max (0) or min (255).
    const uint8_t below = polarity == 1 ? 255 : 0;
    const uint8_t atOrAbove = polarity == 1 ? 0 : 255;
    std::array<uint8_t, 256> table{};
    for (int32_t v = 0; v < 256; ++v) {
        table[static_cast<size_t>(v)] = v < cut ? below : atOrAbove;
    }
    services::ScopedImage mask;
    KOC_RETURN_IF_FAILED(services::pelMap<uint8_t>(widths.get(), table.data(), mask.get()));
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    KOC_RETURN_IF_FAILED(combine(source, mask.get(), polarity == 1, output));
    return ksys_attention_check();
}

}  // namespace koc::segment
