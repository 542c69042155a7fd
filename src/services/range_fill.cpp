// range_fill.cpp: gap filling of range images.
#include "services/range_fill.hpp"

#include "services/guard.hpp"

namespace koc::services {

namespace {

// A mask is valid when unbound (every pixel valid) or 8-bit over the image's window.
int32_t maskWindow(const k3img_rangeImage16* range, const kimg_windowConst& image, kimg_windowConst* mask,
                   bool* haveMask) noexcept
{
    int32_t bound = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(&range->mask, &bound));
    *haveMask = bound != 0;
    if (!*haveMask) {
        return 0;
    }
    const kstd_rect32 rect{image.x, image.y, image.width, image.height};
    return kimg_windowConst_initWindow(mask, &range->mask, &rect, 0);
}

}  // namespace

int32_t rangeImageFillValue(const k3img_rangeImage16* range, uint16_t* value) noexcept
{
    KOC_ASSERT(range != nullptr && value != nullptr);
    kimg_windowConst image, mask;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&image, &range->image));
    bool haveMask = false;
    KOC_RETURN_IF_FAILED(maskWindow(range, image, &mask, &haveMask));
    uint64_t sum = 0, count = 0;
    for (int32_t y = 0; y < image.height; ++y) {
        const auto* row = static_cast<const uint16_t*>(image.pixels) + y * image.pitch;
        const auto* valid = haveMask ? static_cast<const uint8_t*>(mask.pixels) + y * mask.pitch : nullptr;
        for (int32_t x = 0; x < image.width; ++x) {
            if (valid == nullptr || valid[x] != 0) {
                sum += row[x];
                ++count;
            }
        }
    }
    *value = count == 0 ? 0 : static_cast<uint16_t>((sum + count / 2) / count);
    return 0;
}

int32_t fillMissingPelsRange16(const k3img_rangeImage16* range, uint16_t fillValue, k3img_rangeImage16* out) noexcept
{
    KOC_ASSERT(range != nullptr && out != nullptr);
    kimg_windowConst image, mask;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&image, &range->image));
    bool haveMask = false;
    KOC_RETURN_IF_FAILED(maskWindow(range, image, &mask, &haveMask));

    kimg_image filled;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&filled));
    Always dropFilled([&] { kimg_image_destruct(&filled); });
    const kstd_rect32 rect{image.x, image.y, image.width, image.height};
    KOC_RETURN_IF_FAILED(kimg_image_assignNewRect(&filled, KIMG_DEPTH_16, &rect));
    KOC_RETURN_IF_FAILED(kimg_image_copyXforms(&filled, &range->image));
    kimg_window w;
    KOC_RETURN_IF_FAILED(kimg_window_init(&w, &filled));

    for (int32_t y = 0; y < image.height; ++y) {
        const auto* src = static_cast<const uint16_t*>(image.pixels) + y * image.pitch;
        const auto* valid = haveMask ? static_cast<const uint8_t*>(mask.pixels) + y * mask.pitch : nullptr;
        auto* dst = static_cast<uint16_t*>(w.pixels) + y * w.pitch;
        int32_t last = -1;  // the last valid pixel seen on this row
        for (int32_t x = 0; x < image.width; ++x) {
            if (valid != nullptr && valid[x] == 0) {
                continue;
            }
            dst[x] = src[x];
            if (last + 1 < x) {
                // Fill the gap (last, x): interpolate, or repeat src[x] at the row start.
                for (int32_t g = last + 1; g < x; ++g) {
                    if (last < 0) {
                        dst[g] = src[x];
                    } else {
                        const int64_t a = src[last], b = src[x];
                        dst[g] = static_cast<uint16_t>(a + ((b - a) * (g - last) + (x - last) / 2) / (x - last));
                    }
                }
            }
            last = x;
        }
        const uint16_t tail = last >= 0 ? src[last] : fillValue;
        for (int32_t g = last + 1; g < image.width; ++g) {
            dst[g] = tail;
        }
    }
    kimg_image none;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&none));
    Always dropNone([&] { kimg_image_destruct(&none); });
    return k3img_rangeImage16_init(out, &filled, &none);
}

}  // namespace koc::services
