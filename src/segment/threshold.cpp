// threshold.cpp: the hard threshold between marks and ground, and the
// suppression of mark-coloured structures thinner than the text's strokes
// (scratches, rules of one pixel, speckle) before any blob is searched.
#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "segment/segment_internal.hpp"
#include "services/pel_ops.hpp"
#include "services/stroke_width.hpp"
#include "services/attention.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The pixels whose stroke width is below cut take fill, the rest keep the
// source value: one pass for what a mask of the widths combined with the
// source by max (dark marks, fill 255) or min (light marks, fill 0) gives.
int32_t clearThinStrokes(const kimg_image* source, const kimg_image* widths, int32_t cut, uint8_t fill,
                         kimg_image* output) noexcept
{
    services::PixelRows<const uint8_t> src;
    services::PixelRows<const uint8_t> width;
    KOC_RETURN_IF_FAILED(services::viewPixels(source, &src));
    KOC_RETURN_IF_FAILED(services::viewPixels(widths, &width));
    KOC_ASSERT(width.width == src.width && width.height == src.height);
    services::ScopedImage fresh;
    KOC_RETURN_IF_FAILED(services::newImageLikeForOverwrite(source, KIMG_DEPTH_8, fresh.get()));
    services::PixelRows<uint8_t> dst;
    KOC_RETURN_IF_FAILED(services::viewPixels(fresh.get(), &dst));
    KOC_ASSERT(cut >= 1 && cut <= 256);
    const auto below = static_cast<uint8_t>(cut - 1);
    services::AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const uint8_t* a = src.row(j);
        const uint8_t* w = width.row(j);
        uint8_t* o = dst.row(j);
        // Branch-free (the widths of marks and ground alternate too often
        // for a branch to be predicted), and compared in 8 bits, so that
        // the loop vectorises sixteen pixels per step (against cut as a
        // 32-bit value the compiler widened every width to 32 bits).
        for (int32_t i = 0; i < src.width; ++i) {
            const auto thin = static_cast<uint8_t>(w[i] <= below ? 0xFF : 0);
            o[i] = static_cast<uint8_t>((fill & thin) | (a[i] & ~thin));
        }
    }
    return kimg_image_assign(output, fresh.get());
}

// The widths' histogram for their tails, which count the mark pixels alone
// (width 1 and up): bin 0 is left at 0, and a block of eight ground pixels
// (width 0, most of a line) is passed over with one test.
int32_t markWidthHistogram(const kimg_image* widths, uint32_t* hist)
{
    services::PixelRows<const uint8_t> src;
    KOC_RETURN_IF_FAILED(services::viewPixels(widths, &src));
    // Four partial histograms: the pixels of one stroke share a width, and
    // one bin's increments would each wait for the previous one's store.
    uint32_t part[4][256] = {};
    services::AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const uint8_t* row = src.row(j);
        int32_t i = 0;
        for (; i + 8 <= src.width; i += 8) {
            uint64_t block = 0;
            std::memcpy(&block, row + i, sizeof block);
            if (block == 0) {
                continue;
            }
            for (int32_t k = 0; k < 8; k += 4) {
                ++part[0][row[i + k]];
                ++part[1][row[i + k + 1]];
                ++part[2][row[i + k + 2]];
                ++part[3][row[i + k + 3]];
            }
        }
        for (; i < src.width; ++i) {
            ++part[0][row[i]];
        }
    }
    hist[0] = 0;
    for (int32_t v = 1; v < 256; ++v) {
        hist[v] = part[0][v] + part[1][v] + part[2][v] + part[3][v];
    }
    return 0;
}

// The thin tail is usually at width 3 or below, and then the cut is 1
// whatever the rest of the histogram holds. A histogram with the exact
// counts of widths 1 .. kNarrowWidths and every wider mark pixel in the
// next bin finds such a tail exactly; only a wider tail needs the full
// histogram. The counts come from byte compares without a branch per pixel
// or block, where the full histogram is a scalar increment per mark pixel.
constexpr int32_t kNarrowWidths = 3;
static_assert(kNarrowWidths - kCutBelowTail <= 1, "a tail at the narrow widths must give the cut 1");

int32_t narrowWidthHistogram(const kimg_image* widths, uint32_t* hist)
{
    services::PixelRows<const uint8_t> src;
    KOC_RETURN_IF_FAILED(services::viewPixels(widths, &src));
    // counts[0] counts ground (width 0), counts[v] width v.
    std::array<uint64_t, kNarrowWidths + 1> counts{};
    services::AttentionPacer pace;
    for (int32_t j = 0; j < src.height; ++j) {
        KOC_RETURN_IF_FAILED(pace.add(src.width));
        const uint8_t* row = src.row(j);
        int32_t i = 0;
#if defined(__SSE2__)
        // Byte counters, taken into the 64-bit counts before any can wrap.
        while (i + 16 <= src.width) {
            __m128i lanes[kNarrowWidths + 1];
            for (__m128i& lane : lanes) {
                lane = _mm_setzero_si128();
            }
            const int32_t stop = std::min(src.width - 15, i + 16 * 255);
            for (; i < stop; i += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
                for (int32_t k = 0; k <= kNarrowWidths; ++k) {
                    lanes[k] = _mm_sub_epi8(lanes[k], _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(k))));
                }
            }
            for (int32_t k = 0; k <= kNarrowWidths; ++k) {
                const __m128i sums = _mm_sad_epu8(lanes[k], _mm_setzero_si128());
                counts[static_cast<size_t>(k)] += static_cast<uint64_t>(_mm_cvtsi128_si32(sums)) +
                                                  static_cast<uint64_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
            }
        }
#endif
        for (; i < src.width; ++i) {
            if (row[i] <= kNarrowWidths) {
                ++counts[row[i]];
            }
        }
    }
    const uint64_t pixels = static_cast<uint64_t>(src.width) * static_cast<uint64_t>(src.height);
    uint64_t wider = pixels - counts[0];
    hist[0] = 0;
    for (int32_t v = 1; v <= kNarrowWidths; ++v) {
        hist[v] = static_cast<uint32_t>(counts[static_cast<size_t>(v)]);
        wider -= counts[static_cast<size_t>(v)];
    }
    hist[kNarrowWidths + 1] = static_cast<uint32_t>(wider);
    return 0;
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

int32_t suppressBackground(const kimg_image* source, uint32_t polarity, int32_t polarityFlag, kimg_image* output,
                           int32_t threshold, services::BlobResultSet* marks, bool* marksExact) noexcept
{
    KOC_ASSERT(source != nullptr);
    KOC_ASSERT(output != nullptr);
    KOC_ASSERT((marks == nullptr) == (marksExact == nullptr));
    if (marksExact != nullptr) {
        *marksExact = false;
        marks->clear();
    }
    KOC_ASSERT(polarity != 4);
    const int32_t base = std::clamp(polarity == 1 ? 128 - kMarkOffset : 128 + kMarkOffset, 1, 255);

    // Only strokes count: a field of specks would otherwise fill the thin
    // tail of the widths and pull the cut down to 1, so that nothing thin
    // is removed; the specks' pixels then read as ground.
    services::StrokeDetectParams range;
    range.strokesOnly = true;
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
    KOC_RETURN_IF_FAILED(narrowWidthHistogram(widths.get(), hist.data()));
    int32_t lowTail = 0;
    int32_t highTail = 0;  // not used
    int32_t rc = services::strokeWidthTails(hist.data(), kTailFraction, kTailFraction, &lowTail, &highTail);
    if (rc >= 0 && lowTail > kNarrowWidths) {
        KOC_RETURN_IF_FAILED(markWidthHistogram(widths.get(), hist.data()));
        rc = services::strokeWidthTails(hist.data(), kTailFraction, kTailFraction, &lowTail, &highTail);
    }
    if (rc == KOC_E_HISTOGRAM_NO_TAIL) {
        // No mark pixel at all: only the non-mark pixels (width 0) change.
        lowTail = 0;
    } else if (rc < 0) {
        return rc;
    }
    const int32_t cut = lowTail - kCutBelowTail > 1 ? lowTail - kCutBelowTail : 1;

    // Widths below the cut take the ground colour's extreme.
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(clearThinStrokes(source, widths.get(), cut, polarity == 1 ? 255 : 0, output));
    const int32_t attention = ksys_attention_check();
    if (attention < 0) {
        return attention;
    }

    // With the cut at 1 the output keeps the source value exactly where a
    // width remains (the marks but the cleared specks) and is the ground
    // extreme elsewhere. A threshold on the ground side of the mark range
    // then takes exactly those pixels as marks (fill 255 is never below a
    // threshold, fill 0 never at or above one of at least 1), so the speck
    // test's components are the blob analysis's. Any other cut or threshold
    // cuts into components, and the blob analysis labels for itself.
    if (marksExact != nullptr && cut == 1 && (polarityFlag == 1) == (polarity == 1)) {
        const bool groundSide = polarityFlag == 1 ? threshold > base && threshold <= 255
                                                  : threshold >= 1 && threshold <= base;
        if (groundSide) {
            std::swap(*marks, strokes.markBlobs);
            *marksExact = true;
        }
    }
    return attention;
}

}  // namespace koc::segment
