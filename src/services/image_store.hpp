// image_store.hpp: what stands behind the opaque image and run-length
// handles. Kept private so the layout can change without touching hosts.
#pragma once

#include <atomic>
#include <cstdint>

#include "koc/kimg.h"
#include "services/memory.hpp"

// One block from the process allocator: this header, then the pixels. Rows
// are padded to 16 bytes so a row starts on a boundary vector code likes;
// callers must therefore always step rows by pitch, never by width.
struct kimg_pixelStore_ {
    std::atomic<int32_t> references{1};
    int32_t depth = 0;
    kstd_rect32 rect{};   // the pixels held, in image coordinates
    intptr_t pitch = 0;   // in pixels
    uint8_t* pixels = nullptr;
};

// Runs in compressed-row form: rowStart has rect.height + 1 entries and the
// runs of row rect.y + r are runs[rowStart[r] .. rowStart[r+1]-1]. Runs of a
// row are sorted, disjoint and maximal (touching runs are merged).
struct kimg_rleStore_ {
    kstd_rect32 rect{};
    koc::services::Vector<int32_t> rowStart;
    koc::services::Vector<kimg_run> runs;
};

namespace koc::services::image {

// What a fresh store's pixels hold: all zero, or (for a producer that
// writes every pixel of every row itself) zero in each row's padding alone.
enum class StoreFill { Zeroed, PaddingOnly };

// A zeroed store of depth 1, 2 or 4 over rect, reference count 1.
// KOC_E_BAD_ARGUMENT for a bad depth or rectangle; the allocator's code when
// it refuses.
int32_t createStore(int32_t depth, const kstd_rect32& rect, kimg_pixelStore_** store,
                    StoreFill fill = StoreFill::Zeroed) noexcept;

// Binds image (its transforms kept) to a fresh store over rect whose row
// padding is zero and whose pixels are left for the caller, which must write
// every one before anything reads them.
int32_t assignNewForOverwrite(kimg_image* image, int32_t depth, const kstd_rect32& rect) noexcept;
// A store over the caller's pixels (pitch in pixels): only the header is
// allocated, and freeing the store leaves the pixels alone.
// KOC_E_BAD_ARGUMENT for a bad depth, size, pitch or misaligned pointer.
int32_t createExternalStore(int32_t depth, void* pixels, int32_t width, int32_t height, intptr_t pitch,
                            kimg_pixelStore_** store) noexcept;
void retainStore(kimg_pixelStore_* store) noexcept;
// Frees the store with its last reference; null is allowed.
void releaseStore(kimg_pixelStore_* store) noexcept;

// Address of pixel (x, y), image coordinates, which must lie in the store.
inline uint8_t* pixelAddress(const kimg_pixelStore_* store, int32_t x, int32_t y) noexcept
{
    const intptr_t offset =
        (static_cast<intptr_t>(y - store->rect.y) * store->pitch + (x - store->rect.x)) * store->depth;
    return store->pixels + offset;
}

}  // namespace koc::services::image
