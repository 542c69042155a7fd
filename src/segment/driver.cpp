// driver.cpp: the segmentation driver: from the extracted line of one
// paragraph to filled line results, stage by stage in a fixed order.
//
// The order is load-bearing: the finishing pass builds windows from the
// refined (tree) elements; the final build works on the chosen characters;
// the position results read the windows of that last build.
#include "segment/driver.hpp"

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "lineextract/normalize.hpp"
#include "hypotheses/hypotheses_internal.hpp"
#include "hypotheses/line_split.hpp"
#include "hypotheses/line_stats.hpp"
#include "segment/segment_internal.hpp"

namespace koc::segment {

namespace {

// Runs the finishing stages of one line: context, windows without cells,
// filtered, referenced, and turned back into character elements.
int32_t finishLineSegmentation(const kimg_image* source, int32_t shareSourceImage, const kimg_image* working,
                               const koc_charSegmentRunParams* params, koc_charSegmentLineResult* line) noexcept
{
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_ASSERT(line->lineData != nullptr);
    KOC_RETURN_IF_FAILED(prepareLineContext(line->lineData, source, shareSourceImage, working));
    KOC_RETURN_IF_FAILED(buildCharWindows(line, params, 0));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(filterCharWindows(params, &line->lineData->windows));
    KOC_RETURN_IF_FAILED(setWindowReferencePoints(&line->lineData->windows));
    KOC_RETURN_IF_FAILED(charElementsFromWindows(line));
    return ksys_attention_check();
}

int32_t extractLineElements(const kimg_image* source, int32_t shareSourceImage, const kimg_image* working,
                            const kimg_imageRle* lineMask, const koc_charSegmentRunParams* params,
                            const SegmentOptions& options, koc_charSegmentLineResult* lines) noexcept
{
    kstd_vector32s counts;
    KOC_RETURN_IF_FAILED(kstd_vector32s_constructEmpty(&counts));
    Always dropCounts([&] { kstd_vector32s_destruct(&counts); });
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_ASSERT(lines[0].lineData != nullptr);
    LineData& first = *lines[0].lineData;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(buildElementsFromBlobs(&first.blobResults, lineMask,
                                                static_cast<int32_t>(lines[0].binarizationThreshold), params, 1, 0,
                                                &first.rawElements, &n));
    KOC_ASSERT(n >= 0);
    if (n == 0) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(kstd_vector32s_resizeFill(&counts, params->numLines, &n));
    // Band-aware building: the band line extraction found picks the line's
    // ink band, and merges stay within that band's height plus room for
    // ascenders and descenders (a third of the band each way: that covers
    // them in lower-case print, where the band is the x-height).
    const bool onBand = options.bandAwareElements && options.band.height > 0 && params->numLines == 1;
    int32_t maxGroupHeight = INT32_MAX;
    if (params->numLines == 1) {
        KOC_RETURN_IF_FAILED(groupElementsSingleLine(params, &first.blobResults, lines, &counts,
                                                     onBand ? &options.band : nullptr));
        if (onBand && first.bandRect.height > 0) {
            maxGroupHeight = first.bandRect.height + 2 * ((first.bandRect.height + 2) / 3);
        }
    } else {
        // Every line starts from the same images, blob results and elements;
        // the splitter then leaves each line its own share in front.
        for (int32_t i = 1; i < params->numLines; ++i) {
            KOC_RETURN_IF_FAILED(koc_charSegmentLineResult_assign(&lines[i], &lines[0]));
        }
        KOC_RETURN_IF_FAILED(hypotheses::splitElementsAmongLines(params, &first, working, lines, &counts));
    }
    for (int32_t i = 0; i < params->numLines; ++i) {
        KOC_ASSERT(lines[i].lineData != nullptr);
        LineData& data = *lines[i].lineData;
        const int32_t count = static_cast<const int32_t*>(counts.base.begin)[i];
        KOC_ASSERT(count <= data.rawElements.base.size);
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(refineLineElements(&data, static_cast<const koc_charSegmentElementInfo*>(data.rawElements.base.begin),
                                                count, working, params, &data.treeElements,
                                                options.splitTouchingGlyphs, maxGroupHeight));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(finishLineSegmentation(source, shareSourceImage, working, params, &lines[i]));
    }
    return ksys_attention_check();
}

}  // namespace

int32_t segmentCharactersCore(const kimg_image* lineImage, int32_t isNormalized, int32_t shareSourceImage,
                              const kimg_imageRle* lineMask, const koc_charSegmentRunParams* params,
                              double lineHeight, koc_charSegmentLineResult* lines,
                              const SegmentOptions& options) noexcept
{
    KOC_ASSERT(lineImage != nullptr && params != nullptr && lines != nullptr);
    if (params->polarity != 1 && params->polarity != 2) {
        return KOC_E_POLARITY_UNDECIDED;
    }
    KOC_ASSERT(params->segmentationMethod == 1 || params->segmentationMethod == 2);
    ksys_cpuinfo cpu;
    KOC_RETURN_IF_FAILED(ksys_cpuinfo_get(&cpu));
    KOC_RETURN_IF_FAILED(ksys_cpuinfo_init_(0, 14));
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    // The normalised image: as given, or made here with the line's height
    // (the window's height when the extraction found none).
    kimg_image normalized, suppressed, working;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&normalized));
    Always dropNormalized([&] { kimg_image_destruct(&normalized); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&suppressed));
    Always dropSuppressed([&] { kimg_image_destruct(&suppressed); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&working));
    Always dropWorking([&] { kimg_image_destruct(&working); });
    if (isNormalized != 0) {
        KOC_RETURN_IF_FAILED(kimg_image_assign(&normalized, lineImage));
    } else {
        kstd_rect32 window;
        KOC_RETURN_IF_FAILED(kimg_image_getWindow(lineImage, &window));
        const double height = lineHeight > 0.0 ? lineHeight : static_cast<double>(window.height);
        KOC_RETURN_IF_FAILED(lineextract::normalizeByMode8(lineImage, params->normalizationMode, height,
                                                           params->polarity, &normalized));
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    // The working image: thin background strokes suppressed, unless off.
    // The suppression labels the marks for its speck test; when the blob
    // analysis would binarise the same pixels, it takes that labelling.
    services::BlobResultSet marks;
    bool marksExact = false;
    if (params->enableBackgroundSuppression == 0) {
        KOC_RETURN_IF_FAILED(kimg_image_assign(&working, &normalized));
    } else {
        int32_t threshold = 0, polarityFlag = 0;
        KOC_RETURN_IF_FAILED(computeHardThreshold(params, &threshold, &polarityFlag));
        KOC_RETURN_IF_FAILED(suppressBackground(&normalized, params->polarity, polarityFlag, &suppressed, threshold,
                                                &marks, &marksExact));
        KOC_RETURN_IF_FAILED(kimg_image_assign(&working, &suppressed));
    }
    KOC_RETURN_IF_FAILED(kimg_image_assign(&lines[0].normalizedRectifiedLineImage, &working));
    lines[0].hasNormalizedRectifiedLineImage = 1;

    KOC_ASSERT(lines[0].lineData != nullptr);
    KOC_RETURN_IF_FAILED(koc_charSegmentLineResultData__reset(lines[0].lineData));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(runBlobAnalysis(&working, params, &lines[0], nullptr, &lines[0].lineData->blobResults,
                                         marksExact ? &marks : nullptr));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(extractLineElements(lineImage, shareSourceImage, &working, lineMask, params, options, lines));
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    for (int32_t i = 0; i < params->numLines; ++i) {
        koc_charSegmentLineResult* line = &lines[i];
        if (params->segmentationMethod == 2) {
            // The hypothesis road: tree, pitch pre-pass, walk unless the
            // pre-pass settled the line, then the chosen path's characters.
            KOC_ASSERT(line->lineData != nullptr);
            KOC_RETURN_IF_FAILED(hypotheses::buildLineTree(line->lineData, params, &working));
            KOC_RETURN_IF_FAILED(ksys_attention_check());
            bool settled = false;
            if (params->regularitySource != 4) {
                KOC_RETURN_IF_FAILED(hypotheses::runPitchPrePass(line->lineData, params, &working, &settled));
            }
            if (!settled) {
                // The budget grows with the line's fragments, so a long line
                // is not cut shorter than a short one.
                const int64_t budget = int64_t{options.walkNodeBudget} *
                                       static_cast<int64_t>(line->lineData->tree.levels.base.size);
                KOC_RETURN_IF_FAILED(hypotheses::walkLineTree(line->lineData, budget));
                KOC_RETURN_IF_FAILED(ksys_attention_check());
            }
            KOC_RETURN_IF_FAILED(positionsFromBestPath(line));
        } else {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
            KOC_RETURN_IF_FAILED(buildCharWindows(line, params, 1));
        }
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_RETURN_IF_FAILED(fillPositionResults(line));
        KOC_RETURN_IF_FAILED(hypotheses::computeLineStatistics(params, line));
    }
    return ksys_attention_check();
}

}  // namespace koc::segment
