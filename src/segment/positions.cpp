// positions.cpp: the line's public position results, made from the last
// build of its character windows.
//
// Each position reports its mark and cell in the working line image's
// client frame, and carries a character record whose image views look at
// the line images over the cell (no pixels are copied) through a transform
// that puts the client origin at the character's reference point. A reader
// can then measure every character in the same frame, wherever it sits on
// the line.
#include <algorithm>

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "segment/positions.hpp"

namespace koc::segment {

namespace {

constexpr double kOne16 = 65536.0;

int32_t ceilToInt(double v, int32_t* out) noexcept
{
    double c = 0.0;
    KOC_RETURN_IF_FAILED(kmath_double_ceil(v, &c));
    *out = static_cast<int32_t>(c);
    return 0;
}

// Context margin along one axis: half the mark or a quarter of the cell,
// whichever is larger, and never less than two pixels.
int32_t contextMargin(int32_t markExtent, int32_t cellExtent, int32_t* margin) noexcept
{
    int32_t fromMark = 0;
    int32_t fromCell = 0;
    KOC_RETURN_IF_FAILED(ceilToInt(0.5 * markExtent, &fromMark));
    KOC_RETURN_IF_FAILED(ceilToInt(0.25 * cellExtent, &fromCell));
    *margin = std::max({fromMark, fromCell, 2});
    return 0;
}

int32_t viewOverCell(kimg_image* view, const kimg_image* image, const kstd_rect32* cellRect,
                     const kmath_xformLinear* charXform) noexcept
{
    KOC_RETURN_IF_FAILED(kimg_image_assign(view, image));
    KOC_RETURN_IF_FAILED(kimg_imageConst_setWindowRect(view, cellRect, 0));
    return kimg_imageConst_setLinearImageFromClientXform(view, charXform);
}

}  // namespace

int32_t positionsFromBestPath(koc_charSegmentLineResult* line) noexcept
{
    KOC_ASSERT(line != nullptr && line->lineData != nullptr);
    LineData* data = line->lineData;
    const int32_t* path = nullptr;
    int32_t pathLength = 0;
    KOC_RETURN_IF_FAILED(kstd_vector32s_getBeginSizeConst(&data->runContext.bestPath, &path, &pathLength));
    if (pathLength == 0) {
        // No path chosen: the finishing pass's windows stand.
        return 0;
    }
    const koc_charFragmentSet* sets = nullptr;
    int32_t setCount = 0;
    KOC_RETURN_IF_FAILED(
        kstd_vector_koc_charFragmentSet_getBeginSizeConst(&data->tree.fragmentSets, &sets, &setCount));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_resize(&data->charElements, pathLength));
    koc_charSegmentElementInfo* elements = nullptr;
    int32_t elementCount = 0;
    KOC_RETURN_IF_FAILED(
        kstd_vector_koc_charSegmentElementInfo_getBeginSize(&data->charElements, &elements, &elementCount));
    int32_t copied = 0;
    for (int32_t i = 0; i < pathLength; ++i) {
        const int32_t set = path[i];
        KOC_ASSERT(set >= -1 && set < setCount);
        if (set >= 0) {
            KOC_RETURN_IF_FAILED(koc_charSegmentElementInfo_assign(&elements[copied++], &sets[set].mergedElement));
        }
    }
    if (copied < pathLength) {
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_resize(&data->charElements, copied));
    }
    return buildCharWindows(line, &data->runContext.runParams, 1);
}

int32_t setCharMetrics(koc_char* character, const kstd_rect32* cellRect, const kstd_rect32* markRect) noexcept
{
    KOC_ASSERT(character != nullptr && cellRect != nullptr && markRect != nullptr);
    kmath_xformLinear x;
    KOC_RETURN_IF_FAILED(kimg_imageConst_getLinearClientFromImageXform(&character->sourceImage, &x));
    if (x.matrix.b != 0.0 || x.matrix.c != 0.0) {
        return KOC_E_CHAR_XFORM_NOT_SCALE;
    }
    // The pipeline builds only uniform scales (a = d); each axis takes its
    // own diagonal term all the same.
    auto toClient = [&x](const kstd_rect32& r) {
        return kstd_rectD{r.x * x.matrix.a + x.trans.x, r.y * x.matrix.d + x.trans.y, r.width * x.matrix.a,
                          r.height * x.matrix.d};
    };
    const kstd_rectD cellClient = toClient(*cellRect);
    const kstd_rectD markClient = toClient(*markRect);
    kstd_rectD nullD;
    KOC_RETURN_IF_FAILED(kstd_rectD_initNull(&nullD));
    kstd_rect32 null32;
    KOC_RETURN_IF_FAILED(kstd_rect32_initNull(&null32));
    koc_charMetrics* m = &character->metrics;
    KOC_RETURN_IF_FAILED(koc_charMetrics_setRectD(m, KOC_CHAR_METRIC_CELL_CLIENT, &cellClient));
    KOC_RETURN_IF_FAILED(koc_charMetrics_setRectD(m, KOC_CHAR_METRIC_MARK_CLIENT, &markClient));
    KOC_RETURN_IF_FAILED(koc_charMetrics_setRectD(m, KOC_CHAR_METRIC_SPARE_CLIENT, &nullD));
    KOC_RETURN_IF_FAILED(koc_charMetrics_setRect32(m, KOC_CHAR_METRIC_CELL_PIXEL, cellRect));
    KOC_RETURN_IF_FAILED(koc_charMetrics_setRect32(m, KOC_CHAR_METRIC_MARK_PIXEL, markRect));
    KOC_RETURN_IF_FAILED(koc_charMetrics_setRect32(m, KOC_CHAR_METRIC_SPARE_PIXEL, &null32));
    for (uint32_t kind : {KOC_CHAR_METRIC_CELL_CLIENT, KOC_CHAR_METRIC_CELL_PIXEL, KOC_CHAR_METRIC_MARK_CLIENT,
                          KOC_CHAR_METRIC_MARK_PIXEL}) {
        KOC_RETURN_IF_FAILED(koc_charMetrics_setIsRectSpecified(m, kind, 1));
    }
    KOC_RETURN_IF_FAILED(koc_charMetrics_setIsRectSpecified(m, KOC_CHAR_METRIC_SPARE_CLIENT, 0));
    KOC_RETURN_IF_FAILED(koc_charMetrics_setIsRectSpecified(m, KOC_CHAR_METRIC_SPARE_PIXEL, 0));
    // Characters follow each other cell by cell.
    kmath_vect advance;
    KOC_RETURN_IF_FAILED(kmath_vect_init(&advance, cellClient.width, 0.0));
    KOC_RETURN_IF_FAILED(koc_charMetrics_setAdvance(m, &advance));
    return koc_charMetrics_setIsAdvanceSpecified(m, 1);
}

int32_t buildPositionCharacter(koc_char* character, const kimg_image* sourceImage, const kimg_image* workingImage,
                               const kmath_xformLinear* charXform, int32_t polarity, const kstd_rect32* cellRect,
                               const kstd_rect32* markRect, const koc_charKey* key, int32_t hasBinarization,
                               uint32_t threshold, int32_t thresholdPolarityFlag) noexcept
{
    KOC_ASSERT(character != nullptr && sourceImage != nullptr && workingImage != nullptr && charXform != nullptr &&
               cellRect != nullptr && markRect != nullptr && key != nullptr);
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    character->polarity = static_cast<koc_charPolarity>(polarity);
    KOC_RETURN_IF_FAILED(koc_char_setKey(character, key));

    // The context lets a reader see the neighbourhood of the cell, but only
    // where both line images have pixels.
    kstd_rect32 sourceWindow;
    kstd_rect32 workingWindow;
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(sourceImage, &sourceWindow));
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(workingImage, &workingWindow));
    kstd_rect32 clip;
    KOC_RETURN_IF_FAILED(kstd_rect32_intersect(&clip, &sourceWindow, &workingWindow));
    int32_t px = 0;
    int32_t py = 0;
    KOC_RETURN_IF_FAILED(contextMargin(markRect->width, cellRect->width, &px));
    KOC_RETURN_IF_FAILED(contextMargin(markRect->height, cellRect->height, &py));
    kstd_rect32 context = *cellRect;
    KOC_RETURN_IF_FAILED(kstd_rect32_trim(&context, -px, -py, -px, -py));
    KOC_RETURN_IF_FAILED(kstd_rect32_intersect(&context, &context, &clip));

    character->reserved = 0;
    character->hasBinarizationThreshold = hasBinarization;
    character->binarizationThreshold = threshold;
    character->thresholdPolarityFlag = thresholdPolarityFlag;
    KOC_RETURN_IF_FAILED(viewOverCell(&character->sourceImage, sourceImage, cellRect, charXform));
    KOC_RETURN_IF_FAILED(viewOverCell(&character->workingImage, workingImage, cellRect, charXform));
    character->cellRect = *cellRect;
    character->contextRect = context;
    return setCharMetrics(character, cellRect, markRect);
}

int32_t fillPositionResult(koc_charSegmentPositionResult* position, const koc_charWindow_* window,
                           const kimg_image* sourceImage, const kimg_image* workingImage,
                           const kmath_xformLinear* lineFrameScaleInverse, const kmath_xformLinear* clientFromImage,
                           int32_t hasBinarization, uint32_t threshold, int32_t thresholdPolarityFlag) noexcept
{
    KOC_ASSERT(position != nullptr && window != nullptr && sourceImage != nullptr && workingImage != nullptr &&
               lineFrameScaleInverse != nullptr && clientFromImage != nullptr);
    // Pixels -> character frame: move the reference point (in pixels) to the
    // origin first, then scale to line-frame units, so the origin stays on
    // the reference point whatever the scale. The views want the other
    // direction.
    kmath_xformLinear toReference;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_initMatrixTransElements(
        &toReference, 1.0, 0.0, 0.0, 1.0, -window->referenceX / kOne16, -window->referenceY / kOne16));
    kmath_xformLinear charFromPixels;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_initCompose(&charFromPixels, &toReference, lineFrameScaleInverse));
    kmath_xformLinear charXform;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_getInverse(&charFromPixels, &charXform));

    KOC_RETURN_IF_FAILED(buildPositionCharacter(&position->character, sourceImage, workingImage, &charXform,
                                                window->polarity, &window->generatedCellRect, &window->markRect,
                                                &window->key, hasBinarization, threshold, thresholdPolarityFlag));
    kmath_shapeAffineRect pixels;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initRect32(&pixels, &window->markRect));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&position->markRect, clientFromImage, &pixels));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initRect32(&pixels, &window->cellRect));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&position->cellRect, clientFromImage, &pixels));
    position->clientFromLineImageXform = *clientFromImage;
    position->isSpace = window->isSpace;
    position->spaceScore = window->spaceScore;
    position->area = window->markArea;
    position->isComputed = 1;
    return 0;
}

int32_t fillPositionResults(koc_charSegmentLineResult* line) noexcept
{
    KOC_ASSERT(line != nullptr && line->lineData != nullptr);
    LineData* data = line->lineData;
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    const koc_charWindow_* windows = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__getBeginSizeConst(&data->windows, &windows, &n));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentPositionResult_clear(&line->positionResults));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentPositionResult_resize(&line->positionResults, n));
    koc_charSegmentPositionResult* positions = nullptr;
    KOC_RETURN_IF_FAILED(
        kstd_vector_koc_charSegmentPositionResult_getBeginSize(&line->positionResults, &positions, &n));

    kmath_xformLinear clientFromImage;
    KOC_RETURN_IF_FAILED(kimg_imageConst_getLinearClientFromImageXform(&data->workingImage, &clientFromImage));
    kmath_xformLinear scaleInverse;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_getInverse(&data->lineFrameScale, &scaleInverse));
    for (int32_t i = 0; i < n; ++i) {
        KOC_RETURN_IF_FAILED(fillPositionResult(&positions[i], &windows[i], &data->sourceImage, &data->workingImage,
                                                &scaleInverse, &clientFromImage, line->hasBinarizationThreshold,
                                                line->binarizationThreshold, line->thresholdPolarityFlag));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
    }
    return 0;
}

}  // namespace koc::segment
