// auto_road.cpp: the road for a caller who gives only a rectangle: measure
// the line, choose the run parameters and the extensions from what was
// measured, extract and segment, and give a line with a few fused pairs a
// second run with the touching split.
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "services/guard.hpp"
#include "services/lifecycle.hpp"
#include "koc/koc.h"

namespace koc::interface {

namespace {

// A line is noisy for the walk's budget when the background's spread
// reaches an eighth of the contrast; 64 prefixes per fragment leave every
// clean line's walk as it is and bound a speck field's.
constexpr double kNoisyContrastShare = 8.0;
constexpr int32_t kAutoWalkBudget = 64;
// The estimator reports touching only where many glyphs touch; a line with
// a few fused pairs shows them as marks far wider than the glyphs it
// measured. A mark 1.8 measured glyph widths wide holds two glyphs (a W or
// an M alone rarely reaches it), so such a line runs again with the
// touching split, and the run whose mark count is nearer the glyphs the
// plain run's marks stand for by their widths is kept: the split also cuts
// wide single glyphs at their thin vertices (a V's foot, a W's peak), and
// a line where it cuts more than the widths call for keeps its plain marks.
// Not where strokes are one pixel wide, since there a cut through one pixel
// of ink crosses a stroke as readily as a touch, nor on display glyphs,
// whose segments the split would part, nor where the median mark is already
// one and a half measured glyphs wide: fused pairs are the exception on
// such a line, so the width was measured on pieces (strokes noise broke),
// not on glyphs.
constexpr double kFusedMarkGlyphs = 1.8;
constexpr double kMedianMarkGlyphs = 1.5;
constexpr double kMinSplitStroke = 2.0;
constexpr uint32_t kAllExtensionBits =
    KOC_PIN_EXT_SPLIT_TOUCHING_GLYPHS | KOC_PIN_EXT_WALK_NODE_BUDGET | KOC_PIN_EXT_BAND_AWARE_ELEMENTS;

struct MarkCount {
    int32_t marks = 0;
    int32_t glyphs = 0;  // each mark as its width in glyph widths, rounded, at least one
    double widest = 0.0;
    double median = 0.0;
};

// The marks of every found line of a paragraph (spaces aside), measured
// along the line. Builds a vector: run inside koc::guarded.
MarkCount countMarks(const koc_charSegmentParagraphResult& result, double glyphWidth)
{
    MarkCount c;
    std::vector<double> widths;
    const koc_charSegmentLineResult* lines = nullptr;
    int32_t count = 0;
    if (kstd_vector_koc_charSegmentLineResult_getBeginSizeConst(&result.lineResults, &lines, &count) < 0) {
        return c;
    }
    for (int32_t j = 0; j < count; ++j) {
        const koc_charSegmentPositionResult* positions = nullptr;
        int32_t n = 0;
        if (lines[j].isFound == 0 ||
            kstd_vector_koc_charSegmentPositionResult_getBeginSizeConst(&lines[j].positionResults, &positions, &n) < 0) {
            continue;
        }
        for (int32_t i = 0; i < n; ++i) {
            if (positions[i].isSpace != 0) {
                continue;
            }
            kmath_shapeAffineRectPoints p{};
            kmath_shapeAffineRect_getPoints(&positions[i].markRect, &p);
            const double width = std::hypot(p.px.x - p.po.x, p.px.y - p.po.y);
            ++c.marks;
            c.glyphs += std::max(1, static_cast<int32_t>(std::lround(width / glyphWidth)));
            c.widest = std::max(c.widest, width);
            widths.push_back(width);
        }
    }
    if (!widths.empty()) {
        std::sort(widths.begin(), widths.end());
        c.median = widths[(widths.size() - 1) / 2];
    }
    return c;
}

// Slot 0: 8-bit image, 1: 16-bit image, 2: range image (as
// koc_extractLineAndNormalize_ takes them).
template <int Slot, class Image>
int32_t autoParagraph(const Image* image, const kmath_shapeAffineRect* rect, const koc_charSegmentRunParams* base,
                      uint64_t pinned, const koc_charSegmentExtensions* baseExt, uint32_t givenExt,
                      koc_lineExtractResult* lineOut, koc_charSegmentParagraphResult* result,
                      koc_autoSegmentReport* report) noexcept
{
    KOC_ASSERT(image != nullptr && rect != nullptr && base != nullptr && result != nullptr);
    // Clear first: whatever fails below leaves nothing looking computed.
    result->isComputed = 0;
    if (lineOut != nullptr) {
        lineOut->isLineFound = 0;
        lineOut->isLineImageValid = 0;
        lineOut->isNormalizedImageValid = 0;
    }
    if (report != nullptr) {
        koc_autoSegmentReport_reset(report);
    }
    const int32_t rc = guarded([&]() -> int32_t {
        koc_charSegmentExtensions ext;
        koc_charSegmentExtensions_reset(&ext);
        if (baseExt != nullptr) {
            KOC_RETURN_IF_FAILED(koc_charSegmentExtensions_validate(baseExt));
            ext = *baseExt;
        }
        if ((givenExt & ~kAllExtensionBits) != 0) {
            return KOC_E_BAD_ARGUMENT;
        }
        koc_charSegmentRunParams chosen = *base;
        koc_runParamsEstimate estimate;
        koc_runParamsEstimate_reset(&estimate);
        int32_t estimateCode = 0;
        if constexpr (Slot == 0) {
            estimateCode = koc_estimateRunParams8(image, rect, base, pinned, &chosen, &estimate);
        } else if constexpr (Slot == 1) {
            estimateCode = koc_estimateRunParams16(image, rect, base, pinned, &chosen, &estimate);
        } else {
            // The gap filling only matters to the segmentation itself.
            estimateCode = koc_estimateRunParams16(&image->image, rect, base, pinned, &chosen, &estimate);
        }
        if (estimateCode < 0 && estimateCode != KOC_E_NO_INK) {
            return estimateCode;
        }
        double retryGlyphWidth = 0.0;  // > 0: the glyph width a fused mark is judged by
        if (estimateCode >= 0) {
            if ((givenExt & KOC_PIN_EXT_SPLIT_TOUCHING_GLYPHS) == 0) {
                ext.splitTouchingGlyphs = estimate.isTouching != 0 ? 1u : 0u;
                retryGlyphWidth = estimate.isTouching == 0 && estimate.isBrokenStroke == 0 &&
                                          estimate.strokeWidth >= kMinSplitStroke && estimate.medianGlyphWidth > 0.0
                                      ? estimate.medianGlyphWidth
                                      : 0.0;
            }
            // The walk's budget where noise leaves many fragments to group,
            // the band-aware elements where noise may chain specks into marks.
            const bool noisy = estimate.noiseLevel * kNoisyContrastShare > estimate.contrast;
            // Unpinned switches are chosen either way: off on a clean line,
            // whatever baseExt held.
            if ((givenExt & KOC_PIN_EXT_WALK_NODE_BUDGET) == 0) {
                ext.walkNodeBudget = noisy ? kAutoWalkBudget : 0;
            }
            if ((givenExt & KOC_PIN_EXT_BAND_AWARE_ELEMENTS) == 0) {
                ext.bandAwareElements = noisy ? 1u : 0u;
            }
        }
        if (report != nullptr) {
            // Filled before the segmentation, so that a chosen field it
            // refuses can be named.
            report->estimateCode = estimateCode < 0 ? estimateCode : 0;
            report->params = chosen;
            report->estimate = estimate;
            report->extensions = ext;
        }

        koc_lineExtractResult line;
        KOC_RETURN_IF_FAILED(koc_lineExtractResult_construct(&line));
        Always dropLine([&] { koc_lineExtractResult_destruct(&line); });
        if constexpr (Slot == 0) {
            KOC_RETURN_IF_FAILED(koc_extractLineAndNormalize_(image, nullptr, nullptr, rect, &chosen, &line));
        } else if constexpr (Slot == 1) {
            KOC_RETURN_IF_FAILED(koc_extractLineAndNormalize_(nullptr, image, nullptr, rect, &chosen, &line));
        } else {
            KOC_RETURN_IF_FAILED(koc_extractLineAndNormalize_(nullptr, nullptr, image, rect, &chosen, &line));
        }
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(koc_segmentCharactersOnlyExt_(&line, &chosen, &ext, result));
        uint32_t retried = 0;
        const MarkCount plain = retryGlyphWidth > 0.0 ? countMarks(*result, retryGlyphWidth) : MarkCount{};
        if (plain.marks > 0 && plain.widest >= kFusedMarkGlyphs * retryGlyphWidth &&
            plain.median < kMedianMarkGlyphs * retryGlyphWidth) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
            koc_charSegmentExtensions withSplit = ext;
            withSplit.splitTouchingGlyphs = 1;
            koc_charSegmentParagraphResult split;
            KOC_RETURN_IF_FAILED(koc_charSegmentParagraphResult_construct(&split));
            Always dropSplit([&] { koc_charSegmentParagraphResult_destruct(&split); });
            KOC_RETURN_IF_FAILED(koc_segmentCharactersOnlyExt_(&line, &chosen, &withSplit, &split));
            if (std::abs(countMarks(split, retryGlyphWidth).marks - plain.glyphs) <
                std::abs(plain.marks - plain.glyphs)) {
                // Records move bitwise; the first run leaves with split.
                std::swap(*result, split);
                ext = withSplit;
                retried = 1;
            }
        }
        if (lineOut != nullptr) {
            std::swap(*lineOut, line);  // the caller's former line leaves with dropLine
        }
        if (report != nullptr) {
            report->extensions = ext;
            report->isSplitRetried = retried;
            report->isComputed = 1;
        }
        return 0;
    });
    if (rc < 0) {
        result->isComputed = 0;
    }
    return rc;
}

}  // namespace

}  // namespace koc::interface

using koc::interface::autoParagraph;

extern "C" {

KOC_API int32_t koc_autoSegmentReport_reset(koc_autoSegmentReport* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    *r = koc_autoSegmentReport{};
    koc_charSegmentRunParams_reset(&r->params);
    koc_runParamsEstimate_reset(&r->estimate);
    koc_charSegmentExtensions_reset(&r->extensions);
    return 0;
}

#define KOC_AUTO_ENTRY(name, slot, ImageT)                                                                     \
    KOC_API int32_t name(const ImageT* image, const kmath_shapeAffineRect* rect,                              \
                         const koc_charSegmentRunParams* base, uint64_t pinnedFields,                          \
                         const koc_charSegmentExtensions* baseExt, uint32_t givenExtensions,                   \
                         koc_lineExtractResult* line, koc_charSegmentParagraphResult* result,                  \
                         koc_autoSegmentReport* report) noexcept                                               \
    {                                                                                                          \
        return autoParagraph<slot>(image, rect, base, pinnedFields, baseExt, givenExtensions, line, result,    \
                                   report);                                                                    \
    }
KOC_AUTO_ENTRY(koc_segmentCharactersParagraphAuto8, 0, kimg_imageConst)
KOC_AUTO_ENTRY(koc_segmentCharactersParagraphAuto16, 1, kimg_imageConst)
KOC_AUTO_ENTRY(koc_segmentCharactersParagraphRangeImageAuto16, 2, k3img_rangeImage16Const)
#undef KOC_AUTO_ENTRY

}  // extern "C"

KOC_DEFINE_PLAIN_LIFECYCLE(koc_autoSegmentReport)
