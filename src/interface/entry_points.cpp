// entry_points.cpp: the segmentation entry points and the paragraph flow:
// validate, check the image and each rectangle, extract the line, segment it.
#include <cmath>

#include "services/guard.hpp"
#include "koc/koc.h"
#include "segment/driver.hpp"
#include "services/range_fill.hpp"

namespace koc::interface {

namespace {

int32_t checkImageUsable(const kimg_image* image) noexcept
{
    int32_t flag = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(image, &flag));
    if (flag == 0) {
        return KOC_E_IMAGE_UNBOUND;
    }
    KOC_RETURN_IF_FAILED(kimg_image_getIsLinearXform(image, &flag));
    if (flag == 0) {
        return KOC_E_NOT_LINEAR_XFORM;
    }
    return 0;
}

// Corners count as inside up to 1e-7 pixel, so a rectangle drawn exactly on
// the image border (with rounding noise from the client transform) passes.
int32_t checkRectInImage(const kmath_shapeAffineRect* rect, const kimg_image* image) noexcept
{
    int32_t degenerate = 0;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getIsDegenerate(rect, &degenerate));
    if (degenerate != 0) {
        return KOC_E_RECT_DEGENERATE;
    }
    kmath_xformLinear toPixels;
    KOC_RETURN_IF_FAILED(kimg_imageConst_getLinearImageFromClientXform(image, &toPixels));
    kmath_shapeAffineRect inImage;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&inImage, &toPixels, rect));
    kmath_shapeAffineRectPoints p;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&inImage, &p));
    kmath_vect popp;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRectPoints_getPopp(&p, &popp));
    for (const kmath_vect* side : {&p.px, &p.py}) {
        double length = 0.0;
        KOC_RETURN_IF_FAILED(kmath_vect_getDistance(&p.po, side, &length));
        if (!(length >= 1.0)) {
            return KOC_E_RECT_SIDE_TOO_SHORT;
        }
    }
    kstd_rect32 w;
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(image, &w));
    constexpr double kSlack = 1e-7;
    const double x0 = w.x - kSlack, x1 = static_cast<double>(w.x) + w.width + kSlack;
    const double y0 = w.y - kSlack, y1 = static_cast<double>(w.y) + w.height + kSlack;
    int inside = 0;
    for (const kmath_vect* c : {&p.po, &p.px, &p.py, &popp}) {
        inside += c->x >= x0 && c->x <= x1 && c->y >= y0 && c->y <= y1 ? 1 : 0;
    }
    if (inside == 0) {
        return KOC_E_RECT_OUTSIDE_IMAGE;
    }
    return inside < 4 ? KOC_E_RECT_PARTLY_OUTSIDE : 0;
}

// Fills the masked-out pixels over rect padded by 10 pixels, clipped to the
// range image's window.
int32_t fillRangeImageGaps(const k3img_rangeImage16* range, const kstd_rect32& rect, k3img_rangeImage16* out) noexcept
{
    k3img_rangeImage16 copy;
    KOC_RETURN_IF_FAILED(k3img_rangeImage16_construct(&copy));
    Always dropCopy([&] { k3img_rangeImage16_destruct(&copy); });
    KOC_RETURN_IF_FAILED(k3img_rangeImage16_assign(&copy, range));
    kstd_rect32 w;
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(&range->image, &w));
    constexpr int64_t kMargin = 10;
    const int64_t left = std::max<int64_t>(int64_t{rect.x} - kMargin, w.x);
    const int64_t top = std::max<int64_t>(int64_t{rect.y} - kMargin, w.y);
    const int64_t right = std::min<int64_t>(int64_t{rect.x} + rect.width + kMargin, int64_t{w.x} + w.width);
    const int64_t bottom = std::min<int64_t>(int64_t{rect.y} + rect.height + kMargin, int64_t{w.y} + w.height);
    if (right - left < 1 || bottom - top < 1) {
        return KOC_E_RECT_OUTSIDE_IMAGE;
    }
    // Rectangles far apart make a union much larger than any of them.
    if ((right - left) * (bottom - top) > KOC_MAX_FILL_PIXELS) {
        return KOC_E_LIMIT_EXCEEDED;
    }
    const kstd_rect32 padded{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(right - left),
                             static_cast<int32_t>(bottom - top)};
    KOC_RETURN_IF_FAILED(k3img_rangeImage16Const_setWindowRect(&copy, &padded));
    uint16_t fill = 0;
    KOC_RETURN_IF_FAILED(services::rangeImageFillValue(&copy, &fill));
    return services::fillMissingPelsRange16(&copy, fill, out);
}

int32_t enclosingImageRect(const kimg_image* image, const kmath_shapeAffineRect* rect, kstd_rect32* out) noexcept
{
    kmath_xformLinear toPixels;
    KOC_RETURN_IF_FAILED(kimg_imageConst_getLinearImageFromClientXform(image, &toPixels));
    kmath_shapeAffineRect inImage;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&inImage, &toPixels, rect));
    return kmath_shapeAffineRect_getEncloseImageRect(&inImage, out);
}

int32_t hasBoundMask(const k3img_rangeImage16* range, bool* bound) noexcept
{
    int32_t flag = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(&range->mask, &flag));
    *bound = flag != 0;
    return 0;
}

// The one-paragraph functions of the three image kinds.
// The extensions record as the driver takes it; null is the plain road.
// KOC_E_BAD_ARGUMENT for a record validate refuses.
int32_t optionsOf(const koc_charSegmentExtensions* ext, segment::SegmentOptions* options) noexcept
{
    *options = segment::SegmentOptions{};
    if (ext == nullptr) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(koc_charSegmentExtensions_validate(ext));
    options->splitTouchingGlyphs = ext->splitTouchingGlyphs != 0;
    options->walkNodeBudget = ext->walkNodeBudget;
    options->bandAwareElements = ext->bandAwareElements != 0;
    return 0;
}

int32_t segmentCharactersOnly(const koc_lineExtractResult* line, const koc_charSegmentRunParams* params,
                              const segment::SegmentOptions& options, koc_charSegmentParagraphResult* result) noexcept;

template <int Slot, class Image>
int32_t paragraph(const Image* image, const kmath_shapeAffineRect* rect, const koc_charSegmentRunParams* params,
                  koc_charSegmentParagraphResult* result, const koc_charSegmentExtensions* ext = nullptr) noexcept
{
    KOC_ASSERT(image != nullptr && rect != nullptr && params != nullptr && result != nullptr);
    result->isComputed = 0;  // as for the full-image calls: down before any step can fail
    segment::SegmentOptions options;
    KOC_RETURN_IF_FAILED(optionsOf(ext, &options));
    koc_lineExtractResult line;
    KOC_RETURN_IF_FAILED(koc_lineExtractResult_construct(&line));
    Always dropLine([&] { koc_lineExtractResult_destruct(&line); });
    if constexpr (Slot == 0) {
        KOC_RETURN_IF_FAILED(koc_extractLineAndNormalize_(image, nullptr, nullptr, rect, params, &line));
    } else if constexpr (Slot == 1) {
        KOC_RETURN_IF_FAILED(koc_extractLineAndNormalize_(nullptr, image, nullptr, rect, params, &line));
    } else {
        KOC_RETURN_IF_FAILED(koc_extractLineAndNormalize_(nullptr, nullptr, image, rect, params, &line));
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    return segmentCharactersOnly(&line, params, options, result);
}

template <int Slot, class Image>
int32_t allParagraphs(const Image* image, const kstd_vector_kmath_shapeAffineRect* rects,
                      const koc_charSegmentRunParams* params, koc_charSegmentResult* result,
                      const koc_charSegmentExtensions* ext = nullptr) noexcept
{
    KOC_ASSERT(image != nullptr && rects != nullptr && params != nullptr && result != nullptr);
    // A reused result must never look computed after a failed call, whatever
    // step fails. The full reset comes later (an empty rectangle vector leaves
    // the paragraphs as they were), but the flag goes down before any check.
    result->isComputed = 0;
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_validate(params));
    if (params->numLines > KOC_MAX_NUM_LINES) {
        return KOC_E_LIMIT_EXCEEDED;
    }
    segment::SegmentOptions unused;
    KOC_RETURN_IF_FAILED(optionsOf(ext, &unused));
    if constexpr (Slot == 2) {
        KOC_RETURN_IF_FAILED(checkImageUsable(&image->image));
    } else {
        KOC_RETURN_IF_FAILED(checkImageUsable(image));
    }
    k3img_rangeImage16 filled;
    if constexpr (Slot == 2) {
        KOC_RETURN_IF_FAILED(k3img_rangeImage16_construct(&filled));
    }
    Always dropFilled([&] {
        if constexpr (Slot == 2) {
            k3img_rangeImage16_destruct(&filled);
        }
    });
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    const kmath_shapeAffineRect* rect = nullptr;
    int32_t count = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_kmath_shapeAffineRect_getBeginSizeConst(rects, &rect, &count));
    if (count == 0) {
        return KOC_E_NO_RECTS;
    }
    const Image* source = image;
    if constexpr (Slot == 2) {
        bool masked = false;
        KOC_RETURN_IF_FAILED(hasBoundMask(image, &masked));
        if (masked) {
            // Fill once over the union of all rectangles, for every paragraph.
            kstd_rect32 all{0, 0, 0, 0};
            for (int32_t i = 0; i < count; ++i) {
                kstd_rect32 r;
                KOC_RETURN_IF_FAILED(enclosingImageRect(&image->image, &rect[i], &r));
                if (i == 0) {
                    all = r;
                } else {
                    KOC_RETURN_IF_FAILED(kstd_rect32_encloseRect(&all, &r));
                }
            }
            KOC_RETURN_IF_FAILED(fillRangeImageGaps(image, all, &filled));
            source = &filled;
        }
    }
    KOC_RETURN_IF_FAILED(koc_charSegmentResult_reset(result));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentParagraphResult_resize(&result->paragraphResults, count));
    auto* paragraphs = static_cast<koc_charSegmentParagraphResult*>(result->paragraphResults.base.begin);
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    for (int32_t i = 0; i < count; ++i) {
        KOC_RETURN_IF_FAILED(paragraph<Slot>(source, &rect[i], params, &paragraphs[i], ext));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
    }
    result->isComputed = 1;
    return 0;
}

int32_t segmentCharactersOnly(const koc_lineExtractResult* line, const koc_charSegmentRunParams* params,
                              const segment::SegmentOptions& options, koc_charSegmentParagraphResult* result) noexcept
{
    KOC_ASSERT(line != nullptr && params != nullptr && result != nullptr);
    result->isComputed = 0;
    if (params->numLines > KOC_MAX_NUM_LINES) {
        return KOC_E_LIMIT_EXCEEDED;
    }
    KOC_RETURN_IF_FAILED(koc_charSegmentParagraphResult_reset(result));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentLineResult_resize(&result->lineResults, params->numLines));
    auto* lines = static_cast<koc_charSegmentLineResult*>(result->lineResults.base.begin);
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    if (line->isLineFound == 0) {
        result->isComputed = 1;
        return 0;
    }
    koc_charSegmentRunParams working;
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_constructCopy(&working, params));
    Always dropWorking([&] { koc_charSegmentRunParams_destruct(&working); });
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(kimg_image_assign(&lines[0].rectifiedLineImage, &line->lineImage));
    lines[0].lineAngle = line->lineAngle;
    lines[0].skewAngle = line->skewAngle;
    lines[0].polarity = line->polarity;
    lines[0].isFound = 1;
    // The polarity line extraction decided replaces the requested one, in
    // the working copy only.
    working.polarity = line->polarity;
    const bool normalized = line->isNormalizedImageValid != 0;
    segment::SegmentOptions withBand = options;
    if (options.bandAwareElements) {
        withBand.band = line->lineRectBounds32;
    }
    KOC_RETURN_IF_FAILED(segment::segmentCharactersCore(normalized ? &line->normalizedImage : &line->lineImage,
                                                             normalized ? 1 : 0, 1, &line->lineMask, &working,
                                                             line->lineHeight, lines, withBand));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    result->isComputed = 1;
    return 0;
}

}  // namespace

}  // namespace koc::interface

using koc::interface::allParagraphs;
using koc::interface::paragraph;

extern "C" {

KOC_API int32_t koc_segmentCharacters8(const kimg_imageConst* image, const kstd_vector_kmath_shapeAffineRect* rects,
                                       const koc_charSegmentRunParams* params, koc_charSegmentResult* result) noexcept
{
    return allParagraphs<0>(image, rects, params, result);
}

KOC_API int32_t koc_segmentCharacters16(const kimg_imageConst* image16, const kstd_vector_kmath_shapeAffineRect* rects,
                                        const koc_charSegmentRunParams* params, koc_charSegmentResult* result) noexcept
{
    return allParagraphs<1>(image16, rects, params, result);
}

KOC_API int32_t koc_segmentCharactersRangeImage16(const k3img_rangeImage16Const* range,
                                                  const kstd_vector_kmath_shapeAffineRect* rects,
                                                  const koc_charSegmentRunParams* params,
                                                  koc_charSegmentResult* result) noexcept
{
    return allParagraphs<2>(range, rects, params, result);
}

KOC_API int32_t koc_segmentCharactersParagraph8(const kimg_imageConst* image, const kmath_shapeAffineRect* rect,
                                                const koc_charSegmentRunParams* params,
                                                koc_charSegmentParagraphResult* result) noexcept
{
    return paragraph<0>(image, rect, params, result);
}

KOC_API int32_t koc_segmentCharactersParagraph16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                                 const koc_charSegmentRunParams* params,
                                                 koc_charSegmentParagraphResult* result) noexcept
{
    return paragraph<1>(image16, rect, params, result);
}

KOC_API int32_t koc_segmentCharactersParagraphRangeImage16(const k3img_rangeImage16Const* range,
                                                           const kmath_shapeAffineRect* rect,
                                                           const koc_charSegmentRunParams* params,
                                                           koc_charSegmentParagraphResult* result) noexcept
{
    return paragraph<2>(range, rect, params, result);
}

KOC_API int32_t koc_extractLineAndNormalize_(const kimg_imageConst* image8, const kimg_imageConst* image16,
                                             const k3img_rangeImage16Const* range, const kmath_shapeAffineRect* rect,
                                             const koc_charSegmentRunParams* params, koc_lineExtractResult* out) noexcept
{
    using namespace koc::interface;
    KOC_ASSERT(rect != nullptr && params != nullptr && out != nullptr);
    KOC_ASSERT(image8 != nullptr || image16 != nullptr || range != nullptr);
    // The result's flags go down before the checks, so a failed call on a
    // reused result never leaves the previous line marked found.
    out->isLineFound = 0;
    out->isLineImageValid = 0;
    out->isNormalizedImageValid = 0;
    KOC_RETURN_IF_FAILED(koc_charSegmentRunParams_validate(params));
    const kimg_image* image = image8 != nullptr ? image8 : image16;
    k3img_rangeImage16 filled;
    KOC_RETURN_IF_FAILED(k3img_rangeImage16_construct(&filled));
    koc::Always dropFilled([&] { k3img_rangeImage16_destruct(&filled); });
    if (image != nullptr) {
        KOC_RETURN_IF_FAILED(checkImageUsable(image));
        KOC_RETURN_IF_FAILED(checkRectInImage(rect, image));
        if (image8 == nullptr && params->useGradientMethod == 0) {
            return KOC_E_NEEDS_GRADIENT_METHOD;
        }
    } else {
        KOC_RETURN_IF_FAILED(checkImageUsable(&range->image));
        KOC_RETURN_IF_FAILED(checkRectInImage(rect, &range->image));
        if (params->useGradientMethod == 0) {
            return KOC_E_NEEDS_GRADIENT_METHOD;
        }
        image = &range->image;
        bool masked = false;
        KOC_RETURN_IF_FAILED(hasBoundMask(range, &masked));
        if (masked) {
            kstd_rect32 r;
            KOC_RETURN_IF_FAILED(enclosingImageRect(&range->image, rect, &r));
            KOC_RETURN_IF_FAILED(fillRangeImageGaps(range, r, &filled));
            image = &filled.image;
        }
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    koc_lineExtractParams lineParams;
    KOC_RETURN_IF_FAILED(koc_lineExtractParams_construct(&lineParams));
    koc::Always dropParams([&] { koc_lineExtractParams_destruct(&lineParams); });
    KOC_RETURN_IF_FAILED(koc_lineExtractResult_reset(out));
    lineParams.limitHeight = params->limitCharHeight;
    lineParams.maxHeight = params->maxCharHeight;
    lineParams.useGradientMethod = params->useGradientMethod == 1 ? 1 : 0;
    lineParams.maxLineAngle = params->maxLineAngle;
    lineParams.maxSkewAngle = params->maxSkewAngle;
    lineParams.polarity = params->polarity;
    lineParams.normalizationMode = params->normalizationMode;
    KOC_RETURN_IF_FAILED(image8 != nullptr ? koc_extractLine(image8, rect, &lineParams, out)
                                           : koc_extractLine16(image, rect, &lineParams, out));
    return koc_lineExtractParams_assign(&out->params, &lineParams);
}

KOC_API int32_t koc_segmentCharactersOnly_(const koc_lineExtractResult* line, const koc_charSegmentRunParams* params,
                                           koc_charSegmentParagraphResult* result) noexcept
{
    KOC_ASSERT(line != nullptr && params != nullptr && result != nullptr);
    return koc::interface::segmentCharactersOnly(line, params, koc::segment::SegmentOptions{}, result);
}

KOC_API int32_t koc_segmentCharactersOnlyExt_(const koc_lineExtractResult* line, const koc_charSegmentRunParams* params,
                                              const koc_charSegmentExtensions* ext,
                                              koc_charSegmentParagraphResult* result) noexcept
{
    KOC_ASSERT(line != nullptr && params != nullptr && ext != nullptr && result != nullptr);
    result->isComputed = 0;
    koc::segment::SegmentOptions options;
    KOC_RETURN_IF_FAILED(koc::interface::optionsOf(ext, &options));
    return koc::interface::segmentCharactersOnly(line, params, options, result);
}

#define KOC_EXT_ENTRY(name, slot, ImageT, RectsT, ResultT, call)                                          \
    KOC_API int32_t name(const ImageT* image, const RectsT* rects, const koc_charSegmentRunParams* params, \
                         const koc_charSegmentExtensions* ext, ResultT* result) noexcept                  \
    {                                                                                                     \
        KOC_ASSERT(ext != nullptr);                                                                       \
        return call<slot>(image, rects, params, result, ext);                                             \
    }
KOC_EXT_ENTRY(koc_segmentCharactersExt8, 0, kimg_imageConst, kstd_vector_kmath_shapeAffineRect, koc_charSegmentResult,
              allParagraphs)
KOC_EXT_ENTRY(koc_segmentCharactersExt16, 1, kimg_imageConst, kstd_vector_kmath_shapeAffineRect,
              koc_charSegmentResult, allParagraphs)
KOC_EXT_ENTRY(koc_segmentCharactersRangeImageExt16, 2, k3img_rangeImage16Const, kstd_vector_kmath_shapeAffineRect,
              koc_charSegmentResult, allParagraphs)
KOC_EXT_ENTRY(koc_segmentCharactersParagraphExt8, 0, kimg_imageConst, kmath_shapeAffineRect,
              koc_charSegmentParagraphResult, paragraph)
KOC_EXT_ENTRY(koc_segmentCharactersParagraphExt16, 1, kimg_imageConst, kmath_shapeAffineRect,
              koc_charSegmentParagraphResult, paragraph)
KOC_EXT_ENTRY(koc_segmentCharactersParagraphRangeImageExt16, 2, k3img_rangeImage16Const, kmath_shapeAffineRect,
              koc_charSegmentParagraphResult, paragraph)
#undef KOC_EXT_ENTRY

}  // extern "C"
