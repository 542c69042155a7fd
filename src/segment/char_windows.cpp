// char_windows.cpp: character windows, the positions of a line with their
// cells, marks, spaces and space scores.
//
// The windows are built twice per line: in the finishing pass straight from
// the refined elements (no cells, no spaces), and once more at the end from
// the chosen characters, with generated cells and inserted, scored spaces.
// The position results are made from the last build.
#include <algorithm>
#include <cmath>

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "segment/cells.hpp"
#include "segment/char_windows.hpp"

namespace koc::segment {

namespace {

constexpr int32_t kSpaceCode = 32;
constexpr int32_t kOne16 = 65536;
// Cell margins of 1/16 of the text size, without a floor.
constexpr int32_t kCellMarginFraction = 4096;

int32_t toFixed16(int64_t v) noexcept
{
    return static_cast<int32_t>(v * kOne16);
}

bool survivesFilter(const koc_charSegmentRunParams& p, const kstd_rect32& r, int32_t area) noexcept
{
    // A negative area is unknown (still to be re-segmented): only size counts.
    return r.width >= p.minCharWidth && r.height >= p.minCharHeight && (area < 0 || area >= p.minCharArea);
}

}  // namespace

int32_t elementsVerticalExtent(const Elements* elements, int32_t* extent) noexcept
{
    KOC_ASSERT(elements != nullptr && extent != nullptr);
    const koc_charSegmentElementInfo* e = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSizeConst(elements, &e, &n));
    if (n == 0) {
        *extent = 0;
        return 0;
    }
    int64_t top = e[0].rect.y;
    int64_t bottom = int64_t{e[0].rect.y} + e[0].rect.height;
    for (int32_t i = 1; i < n; ++i) {
        top = std::min<int64_t>(top, e[i].rect.y);
        bottom = std::max<int64_t>(bottom, int64_t{e[i].rect.y} + e[i].rect.height);
    }
    *extent = static_cast<int32_t>(bottom - top);
    return 0;
}

int32_t prepareLineContext(LineData* data, const kimg_image* sourceImage, int32_t shareSourceImage,
                           const kimg_image* workingImage) noexcept
{
    KOC_ASSERT(data != nullptr && sourceImage != nullptr && workingImage != nullptr);
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_assign(&data->charElements, &data->treeElements));

    // The line frame is the client frame scaled isotropically to pixel size:
    // s pixels per client unit, from the area scale of the image transform.
    kmath_xformLinear imageFromClient;
    KOC_RETURN_IF_FAILED(kimg_imageConst_getLinearImageFromClientXform(workingImage, &imageFromClient));
    double area = 0.0;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_mapArea(&imageFromClient, 1.0, &area));
    const double s = std::sqrt(std::fabs(area));
    KOC_RETURN_IF_FAILED(kmath_xformLinear_initMatrixTransElements(&data->lineFrameScale, s, 0.0, 0.0, s, 0.0, 0.0));

    if (shareSourceImage == 1) {
        KOC_RETURN_IF_FAILED(kimg_image_assign(&data->sourceImage, sourceImage));
    } else {
        KOC_RETURN_IF_FAILED(kip_pelAssignCopyEntireConst8(&data->sourceImage, sourceImage));
    }
    KOC_RETURN_IF_FAILED(kimg_image_assign(&data->workingImage, workingImage));

    int32_t extent = 0;
    KOC_RETURN_IF_FAILED(elementsVerticalExtent(&data->charElements, &extent));
    data->typicalElementHeight = static_cast<double>(extent);
    return ksys_attention_check();
}

int32_t initCharWindow(const kimg_image* sourceImage, int32_t hasBinarization, const kstd_rect32* markRect,
                       const kstd_rect32* cellRect, int32_t isSpace, int32_t area,
                       const koc_charSegmentRunParams* params, koc_charWindow_* window) noexcept
{
    KOC_ASSERT(sourceImage != nullptr && markRect != nullptr && cellRect != nullptr && params != nullptr &&
               window != nullptr);
    KOC_RETURN_IF_FAILED(koc_charKey_reset(&window->key));
    window->polarity = static_cast<int32_t>(params->polarity);
    if (isSpace != 0) {
        window->key.code = kSpaceCode;
        window->markArea = 0;
        window->isSpace = 1;
        window->spaceScore = kOne16;  // empty until scored
    } else {
        // Without a binarisation the element's pixel count means nothing.
        KOC_ASSERT(hasBinarization == 0 || area >= 1);
        window->markArea = hasBinarization != 0 ? area : 0;
        window->isSpace = 0;
        window->spaceScore = 0;
    }
    window->generatedCellRect = *cellRect;
    window->cellRect = *cellRect;
    window->markRect = *markRect;
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(sourceImage, &window->imageWindow));
    window->referenceX = 0;
    window->referenceY = 0;
    return 0;
}

int32_t computeSpaceScore(const koc_charSegmentLineResult* line, const kimg_image* workingImage,
                          const kstd_rect32* cellRect, int32_t* score) noexcept
{
    KOC_ASSERT(line != nullptr && workingImage != nullptr && cellRect != nullptr && score != nullptr);
    *score = 0;
    if (line->hasBinarizationThreshold == 0 || cellRect->width <= 0 || cellRect->height <= 0) {
        return 0;
    }
    const int64_t total = int64_t{cellRect->width} * cellRect->height;
    KOC_ASSERT(total <= INT32_MAX);
    kimg_windowConst w;
    KOC_RETURN_IF_FAILED(kimg_windowConst_initWindow(&w, workingImage, cellRect, 0));
    if (w.depth != KIMG_DEPTH_8) {
        return KOC_E_IMAGE_DEPTH;
    }
    const auto threshold = static_cast<uint8_t>(line->binarizationThreshold & 0xFFu);
    int64_t atOrAbove = 0;
    for (int32_t y = 0; y < w.height; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(w.pixels) + y * w.pitch;
        int32_t rowCount = 0;
        for (int32_t x = 0; x < w.width; ++x) {
            rowCount += row[x] >= threshold ? 1 : 0;
        }
        atOrAbove += rowCount;
    }
    // Light marks lie at or above the threshold, dark marks below it.
    const int64_t markPixels = line->thresholdPolarityFlag == 0 ? atOrAbove : total - atOrAbove;
    const double emptyShare = 1.0 - static_cast<double>(markPixels) / static_cast<double>(total);
    *score = static_cast<int32_t>(emptyShare * kOne16 + 0.5);
    return 0;
}

int32_t filterCharElements(const koc_charSegmentRunParams* params, Elements* elements) noexcept
{
    KOC_ASSERT(params != nullptr && elements != nullptr);
    for (int32_t i = 0;;) {
        koc_charSegmentElementInfo* e = nullptr;
        int32_t n = 0;
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSize(elements, &e, &n));
        if (i >= n) {
            return 0;
        }
        if (survivesFilter(*params, e[i].rect, e[i].area)) {
            ++i;
        } else {
            KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_eraseElement(elements, i));
        }
    }
}

int32_t filterCharWindows(const koc_charSegmentRunParams* params, Windows* windows) noexcept
{
    KOC_ASSERT(params != nullptr && windows != nullptr);
    for (int32_t i = 0;;) {
        koc_charWindow_* w = nullptr;
        int32_t n = 0;
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__getBeginSize(windows, &w, &n));
        if (i >= n) {
            return 0;
        }
        if (survivesFilter(*params, w[i].generatedCellRect, w[i].markArea)) {
            ++i;
        } else {
            KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__eraseElement(windows, i));
        }
    }
}

int32_t setWindowReferencePoints(Windows* windows) noexcept
{
    KOC_ASSERT(windows != nullptr);
    koc_charWindow_* w = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__getBeginSize(windows, &w, &n));
    // The reference point is the mark's bottom-left corner, the baseline
    // where the mark stands on it.
    int64_t bottomSum = 0;
    int32_t count = 0;
    bool anyDegenerate = false;
    for (int32_t i = 0; i < n; ++i) {
        int32_t isDegen = 0;
        KOC_RETURN_IF_FAILED(kstd_rect32_getIsDegen(&w[i].markRect, &isDegen));
        if (isDegen != 0) {
            anyDegenerate = true;
            continue;
        }
        const int64_t bottom = int64_t{w[i].markRect.y} + w[i].markRect.height;
        w[i].referenceX = toFixed16(w[i].markRect.x);
        w[i].referenceY = toFixed16(bottom);
        bottomSum += bottom;
        ++count;
    }
    if (!anyDegenerate) {
        return 0;
    }
    // Positions without a mark (spaces) stand on the mean baseline of the
    // line; only when there is none, on their own cell's bottom.
    const double meanBottom = count > 0 ? static_cast<double>(bottomSum) / count : 0.0;
    double meanBottom16 = 0.0;
    KOC_RETURN_IF_FAILED(kmath_double_round(meanBottom * kOne16, &meanBottom16));
    for (int32_t i = 0; i < n; ++i) {
        int32_t isDegen = 0;
        KOC_RETURN_IF_FAILED(kstd_rect32_getIsDegen(&w[i].markRect, &isDegen));
        if (isDegen == 0) {
            continue;
        }
        w[i].referenceX = toFixed16(w[i].cellRect.x);
        w[i].referenceY = count > 0 ? static_cast<int32_t>(meanBottom16)
                                    : toFixed16(int64_t{w[i].cellRect.y} + w[i].cellRect.height);
    }
    return 0;
}

int32_t buildCharWindows(koc_charSegmentLineResult* line, const koc_charSegmentRunParams* params,
                         int32_t rebuild) noexcept
{
    KOC_ASSERT(line != nullptr && params != nullptr && line->lineData != nullptr);
    LineData* data = line->lineData;
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    if (rebuild != 0) {
        KOC_RETURN_IF_FAILED(filterCharElements(params, &data->charElements));
    }
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentPositionResult_clear(&line->positionResults));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__clear(&data->windows));
    const koc_charSegmentElementInfo* elements = nullptr;
    int32_t elementCount = 0;
    KOC_RETURN_IF_FAILED(
        kstd_vector_koc_charSegmentElementInfo_getBeginSizeConst(&data->charElements, &elements, &elementCount));
    if (elementCount == 0) {
        return 0;
    }
    // Cells are clipped to the source image; an unbound one has no window
    // to clip to.
    kstd_rect32 clip{0, 0, 0, 0};
    int32_t isBound = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(&data->sourceImage, &isBound));
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(&data->sourceImage, &clip));

    return guarded([&]() -> int32_t {
        Rects cells;
        Rects marks;
        Flags isSpace;
        KOC_RETURN_IF_FAILED(generateCellRects(elements, elementCount, 0, kCellMarginFraction,
                                               isBound != 0 ? &clip : nullptr, rebuild,
                                               rebuild != 0 ? &params->spaceParams : nullptr, params, &cells, &marks,
                                               &isSpace));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        KOC_ASSERT(marks.size() == cells.size() && isSpace.size() == cells.size());
        const auto count = static_cast<int32_t>(cells.size());
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__resize(&data->windows, count));
        koc_charWindow_* windows = nullptr;
        int32_t windowCount = 0;
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__getBeginSize(&data->windows, &windows, &windowCount));

        int32_t nextElement = 0;
        bool anySpace = false;
        for (int32_t i = 0; i < count; ++i) {
            const auto k = static_cast<size_t>(i);
            int32_t area = -1;
            if (isSpace[k] != 0) {
                anySpace = true;
            } else {
                KOC_ASSERT(nextElement < elementCount);
                area = elements[nextElement++].area;
            }
            KOC_RETURN_IF_FAILED(initCharWindow(&data->sourceImage, line->hasBinarizationThreshold, &marks[k],
                                                &cells[k], isSpace[k], area, params, &windows[i]));
        }
        KOC_ASSERT(nextElement == elementCount);
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        if (anySpace) {
            KOC_ASSERT(params->spaceParams.scoreSpaces == 0 || params->spaceParams.scoreSpaces == 1);
            if (params->spaceParams.scoreSpaces == 1) {
                for (int32_t i = 0; i < count; ++i) {
                    if (windows[i].isSpace != 0) {
                        KOC_RETURN_IF_FAILED(computeSpaceScore(line, &data->workingImage, &windows[i].cellRect,
                                                               &windows[i].spaceScore));
                    }
                }
            }
        }
        return setWindowReferencePoints(&data->windows);
    });
}

int32_t charElementsFromWindows(koc_charSegmentLineResult* line) noexcept
{
    KOC_ASSERT(line != nullptr && line->lineData != nullptr);
    LineData* data = line->lineData;
    const koc_charWindow_* windows = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charWindow__getBeginSizeConst(&data->windows, &windows, &n));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_resize(&data->charElements, n));
    koc_charSegmentElementInfo* e = nullptr;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSize(&data->charElements, &e, &n));
    for (int32_t i = 0; i < n; ++i) {
        // blobIndex stays: it still names the blob the element came from.
        e[i].rect = windows[i].generatedCellRect;
        e[i].area = windows[i].markArea;
        e[i].contrast = -1;
        e[i].auxIndex = -1;
        e[i].flags = 0;
    }
    return 0;
}

}  // namespace koc::segment
