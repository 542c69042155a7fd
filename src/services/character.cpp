// character.cpp: the character record of a position, its key and metrics.
#include "services/lifecycle.hpp"
#include "koc/koc_char.h"

namespace {

// Metric kinds are single bits; client kinds 1, 4, 16 and pixel kinds 2, 8,
// 32 each index one slot.
int clientSlot(uint32_t kind) noexcept
{
    switch (kind) {
    case KOC_CHAR_METRIC_CELL_CLIENT: return 0;
    case KOC_CHAR_METRIC_MARK_CLIENT: return 1;
    case KOC_CHAR_METRIC_SPARE_CLIENT: return 2;
    default: return -1;
    }
}

int pixelSlot(uint32_t kind) noexcept
{
    switch (kind) {
    case KOC_CHAR_METRIC_CELL_PIXEL: return 0;
    case KOC_CHAR_METRIC_MARK_PIXEL: return 1;
    case KOC_CHAR_METRIC_SPARE_PIXEL: return 2;
    default: return -1;
    }
}

bool isMetricKind(uint32_t kind) noexcept
{
    return clientSlot(kind) >= 0 || pixelSlot(kind) >= 0;
}

}  // namespace

extern "C" {

// ---- key ----

KOC_API int32_t koc_charKey_reset(koc_charKey* key) noexcept
{
    KOC_ASSERT(key != nullptr);
    key->code = 0;
    key->variant = 0;
    return 0;
}

KOC_API int32_t koc_charKey_compareEqual(const koc_charKey* a, const koc_charKey* b, int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    *isEqual = a->code == b->code && a->variant == b->variant;
    return 0;
}

// ---- metrics ----

KOC_API int32_t koc_charMetrics_reset(koc_charMetrics* m) noexcept
{
    KOC_ASSERT(m != nullptr);
    *m = koc_charMetrics{};
    return 0;
}

KOC_API int32_t koc_charMetrics_setRectD(koc_charMetrics* m, uint32_t kind, const kstd_rectD* rect) noexcept
{
    KOC_ASSERT(m != nullptr && rect != nullptr);
    const int slot = clientSlot(kind);
    if (slot < 0) return KOC_E_BAD_ARGUMENT;
    m->clientRects[slot] = *rect;
    return 0;
}

KOC_API int32_t koc_charMetrics_setRect32(koc_charMetrics* m, uint32_t kind, const kstd_rect32* rect) noexcept
{
    KOC_ASSERT(m != nullptr && rect != nullptr);
    const int slot = pixelSlot(kind);
    if (slot < 0) return KOC_E_BAD_ARGUMENT;
    m->pixelRects[slot] = *rect;
    return 0;
}

KOC_API int32_t koc_charMetrics_getRectD(const koc_charMetrics* m, uint32_t kind, kstd_rectD* rect) noexcept
{
    KOC_ASSERT(m != nullptr && rect != nullptr);
    const int slot = clientSlot(kind);
    if (slot < 0) return KOC_E_BAD_ARGUMENT;
    *rect = m->clientRects[slot];
    return 0;
}

KOC_API int32_t koc_charMetrics_getRect32(const koc_charMetrics* m, uint32_t kind, kstd_rect32* rect) noexcept
{
    KOC_ASSERT(m != nullptr && rect != nullptr);
    const int slot = pixelSlot(kind);
    if (slot < 0) return KOC_E_BAD_ARGUMENT;
    *rect = m->pixelRects[slot];
    return 0;
}

KOC_API int32_t koc_charMetrics_setIsRectSpecified(koc_charMetrics* m, uint32_t kind, int32_t isSpecified) noexcept
{
    KOC_ASSERT(m != nullptr);
    if (!isMetricKind(kind)) return KOC_E_BAD_ARGUMENT;
    m->specifiedKinds = isSpecified != 0 ? (m->specifiedKinds | kind) : (m->specifiedKinds & ~kind);
    return 0;
}

KOC_API int32_t koc_charMetrics_setAdvance(koc_charMetrics* m, const kmath_vect* advance) noexcept
{
    KOC_ASSERT(m != nullptr && advance != nullptr);
    m->advance = *advance;
    return 0;
}

KOC_API int32_t koc_charMetrics_setIsAdvanceSpecified(koc_charMetrics* m, int32_t isSpecified) noexcept
{
    KOC_ASSERT(m != nullptr);
    m->isAdvanceSpecified = isSpecified != 0;
    return 0;
}

// ---- character ----

KOC_API int32_t koc_char_reset(koc_char* c) noexcept
{
    KOC_ASSERT(c != nullptr);
    KOC_RETURN_IF_FAILED(koc_charKey_reset(&c->key));
    c->polarity = KOC_POLARITY_UNDECIDED;
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(&c->sourceImage));
    KOC_RETURN_IF_FAILED(kimg_image_assignUnbound(&c->workingImage));
    c->hasBinarizationThreshold = 0;
    c->binarizationThreshold = 0;
    c->thresholdPolarityFlag = 0;
    c->reserved = 0;
    c->cellRect = kstd_rect32{0, 0, 0, 0};
    c->contextRect = kstd_rect32{0, 0, 0, 0};
    return koc_charMetrics_reset(&c->metrics);
}

KOC_API int32_t koc_char_construct(koc_char* c) noexcept
{
    KOC_ASSERT(c != nullptr);
    KOC_RETURN_IF_FAILED(kimg_image_construct(&c->sourceImage));
    koc::OnFailure dropSource([&] { kimg_image_destruct(&c->sourceImage); });
    KOC_RETURN_IF_FAILED(kimg_image_construct(&c->workingImage));
    koc::OnFailure dropWorking([&] { kimg_image_destruct(&c->workingImage); });
    KOC_RETURN_IF_FAILED(koc_char_reset(c));
    dropSource.dismiss();
    dropWorking.dismiss();
    return 0;
}

KOC_API int32_t koc_char_destruct(koc_char* c) noexcept
{
    KOC_ASSERT(c != nullptr);
    KOC_RETURN_IF_FAILED(kimg_image_destruct(&c->sourceImage));
    return kimg_image_destruct(&c->workingImage);
}

KOC_API int32_t koc_char_assign(koc_char* dst, const koc_char* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(kimg_image_assign(&dst->sourceImage, &src->sourceImage));
    KOC_RETURN_IF_FAILED(kimg_image_assign(&dst->workingImage, &src->workingImage));
    dst->key = src->key;
    dst->polarity = src->polarity;
    dst->hasBinarizationThreshold = src->hasBinarizationThreshold;
    dst->binarizationThreshold = src->binarizationThreshold;
    dst->thresholdPolarityFlag = src->thresholdPolarityFlag;
    dst->reserved = src->reserved;
    dst->cellRect = src->cellRect;
    dst->contextRect = src->contextRect;
    dst->metrics = src->metrics;
    return 0;
}

KOC_API int32_t koc_char_setKey(koc_char* c, const koc_charKey* key) noexcept
{
    KOC_ASSERT(c != nullptr && key != nullptr);
    c->key = *key;
    return 0;
}

KOC_API int32_t koc_char_getKey(const koc_char* c, koc_charKey* key) noexcept
{
    KOC_ASSERT(c != nullptr && key != nullptr);
    *key = c->key;
    return 0;
}

KOC_API int32_t koc_char_getMarkOrImageArea(const koc_char* c, kstd_rect32* rect) noexcept
{
    KOC_ASSERT(c != nullptr && rect != nullptr);
    if ((c->metrics.specifiedKinds & KOC_CHAR_METRIC_MARK_PIXEL) != 0) {
        *rect = c->metrics.pixelRects[pixelSlot(KOC_CHAR_METRIC_MARK_PIXEL)];
    } else if (c->cellRect.width > 0 && c->cellRect.height > 0) {
        *rect = c->cellRect;
    } else {
        *rect = c->sourceImage.window;
    }
    return 0;
}

}  // extern "C"

KOC_DEFINE_PLAIN_LIFECYCLE(koc_charKey)
KOC_DEFINE_PLAIN_LIFECYCLE(koc_charMetrics)
KOC_DEFINE_CONSTRUCT_COPY(koc_char)
