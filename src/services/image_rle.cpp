// image_rle.cpp: binary images as runs per row, in compressed-row form.
//
// The store is owned by exactly one handle (assign deep-copies), so it
// needs no reference count. Every change is built on the side or made with
// operations that have no effect when they fail, so a refused allocation
// leaves the handle as it was.
#include <cstring>
#include <limits>
#include <memory>

#include "services/guard.hpp"
#include "services/image_store.hpp"

namespace {

using koc::services::destroyObject;
using koc::services::newObject;

struct StoreDeleter {
    void operator()(kimg_rleStore_* store) const noexcept { destroyObject(store); }
};
using StorePtr = std::unique_ptr<kimg_rleStore_, StoreDeleter>;

int32_t newStore(StorePtr* out) noexcept
{
    int32_t rc = 0;
    kimg_rleStore_* store = newObject<kimg_rleStore_>(&rc);
    if (store == nullptr) {
        return rc;
    }
    out->reset(store);
    return 0;
}

void replaceStore(kimg_imageRle* rle, StorePtr fresh) noexcept
{
    destroyObject(rle->store);
    rle->store = fresh.release();
}

// Runs are indexed by int32_t in rowStart.
constexpr int64_t kMaxRuns = std::numeric_limits<int32_t>::max();

// The encoding of an unbound (empty) image: no rows.
const int32_t kNoRows[1] = {0};

}  // namespace

extern "C" {

KOC_API int32_t kimg_imageRle_construct(kimg_imageRle* rle) noexcept
{
    KOC_ASSERT(rle != nullptr);
    rle->store = nullptr;
    return 0;
}

KOC_API int32_t kimg_imageRle_destruct(kimg_imageRle* rle) noexcept
{
    KOC_ASSERT(rle != nullptr);
    replaceStore(rle, nullptr);
    return 0;
}

KOC_API int32_t kimg_imageRle_assign(kimg_imageRle* dst, const kimg_imageRle* src) noexcept
{
    KOC_ASSERT(dst != nullptr);
    KOC_ASSERT(src != nullptr);
    if (dst == src || dst->store == src->store) {
        return 0;
    }
    if (src->store == nullptr) {
        replaceStore(dst, nullptr);
        return 0;
    }
    return koc::guarded([&]() -> int32_t {
        StorePtr fresh;
        KOC_RETURN_IF_FAILED(newStore(&fresh));
        fresh->rect = src->store->rect;
        fresh->rowStart = src->store->rowStart;
        fresh->runs = src->store->runs;
        replaceStore(dst, std::move(fresh));
        return 0;
    });
}

KOC_API int32_t kimg_imageRle_setUnbound(kimg_imageRle* rle) noexcept
{
    return kimg_imageRle_destruct(rle);
}

KOC_API int32_t kimg_imageRle_getIsBound(const kimg_imageRle* rle, int32_t* isBound) noexcept
{
    KOC_ASSERT(rle != nullptr);
    KOC_ASSERT(isBound != nullptr);
    *isBound = rle->store != nullptr ? 1 : 0;
    return 0;
}

KOC_API int32_t kimg_imageRle_assignEmpty(kimg_imageRle* rle, const kstd_rect32* rect) noexcept
{
    KOC_ASSERT(rle != nullptr);
    KOC_ASSERT(rect != nullptr);
    if (rect->width < 0 || rect->height < 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    return koc::guarded([&]() -> int32_t {
        StorePtr fresh;
        KOC_RETURN_IF_FAILED(newStore(&fresh));
        fresh->rect = *rect;
        fresh->rowStart.assign(static_cast<size_t>(rect->height) + 1, 0);
        replaceStore(rle, std::move(fresh));
        return 0;
    });
}

KOC_API int32_t kimg_imageRle_addRun(kimg_imageRle* rle, int32_t y, int32_t x, int32_t length) noexcept
{
    KOC_ASSERT(rle != nullptr);
    kimg_rleStore_* s = rle->store;
    if (s == nullptr || length <= 0) {
        return KOC_E_BAD_ARGUMENT;
    }
    const kstd_rect32& r = s->rect;
    if (y < r.y || int64_t{y} >= int64_t{r.y} + r.height || x < r.x ||
        int64_t{x} + length > int64_t{r.x} + r.width) {
        return KOC_E_BAD_ARGUMENT;
    }
    const size_t row = static_cast<size_t>(int64_t{y} - r.y);
    const int32_t end = s->rowStart[row + 1];
    if (end > s->rowStart[row]) {
        kimg_run& last = s->runs[static_cast<size_t>(end) - 1];
        const int64_t lastEnd = int64_t{last.x} + last.length;
        if (x < lastEnd) {
            return KOC_E_BAD_ARGUMENT;
        }
        if (x == lastEnd) {
            // Keep runs maximal: consumers treat each run as one piece.
            last.length += length;
            return 0;
        }
    }
    if (static_cast<int64_t>(s->runs.size()) >= kMaxRuns) {
        return KOC_E_INDEX_OUT_OF_RANGE;
    }
    return koc::guarded([&]() -> int32_t {
        // A failed insert has no effect; the counts move only after it succeeded.
        s->runs.insert(s->runs.begin() + end, kimg_run{x, length});
        for (size_t k = row + 1; k < s->rowStart.size(); ++k) {
            ++s->rowStart[k];
        }
        return 0;
    });
}

KOC_API int32_t kimg_imageRle_getEncoding(const kimg_imageRle* rle, kstd_rect32* rect, const int32_t** rowStart, const kimg_run** runs) noexcept
{
    KOC_ASSERT(rle != nullptr);
    KOC_ASSERT(rect != nullptr);
    KOC_ASSERT(rowStart != nullptr);
    KOC_ASSERT(runs != nullptr);
    if (rle->store == nullptr) {
        *rect = kstd_rect32{0, 0, 0, 0};
        *rowStart = kNoRows;
        *runs = nullptr;
        return 0;
    }
    *rect = rle->store->rect;
    *rowStart = rle->store->rowStart.data();
    *runs = rle->store->runs.data();
    return 0;
}

KOC_API int32_t kimg_imageRle_initFromImage8(kimg_imageRle* rle, const kimg_image* image) noexcept
{
    KOC_ASSERT(rle != nullptr);
    KOC_ASSERT(image != nullptr);
    kimg_windowConst w;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&w, image));
    if (w.depth != KIMG_DEPTH_8) {
        return KOC_E_IMAGE_DEPTH;
    }
    return koc::guarded([&]() -> int32_t {
        StorePtr fresh;
        KOC_RETURN_IF_FAILED(newStore(&fresh));
        fresh->rect = kstd_rect32{w.x, w.y, w.width, w.height};
        fresh->rowStart.assign(static_cast<size_t>(w.height) + 1, 0);
        const auto* base = static_cast<const uint8_t*>(w.pixels);

        // Count first so the runs take one allocation of the exact size.
        int64_t total = 0;
        for (int32_t j = 0; j < w.height; ++j) {
            const uint8_t* row = base + j * w.pitch;
            int32_t starts = 0;
            uint8_t previous = 0;
            for (int32_t i = 0; i < w.width; ++i) {
                starts += static_cast<int32_t>(row[i] != 0 && previous == 0);
                previous = row[i];
            }
            total += starts;
            if (total > kMaxRuns) {
                return KOC_E_INDEX_OUT_OF_RANGE;
            }
            fresh->rowStart[static_cast<size_t>(j) + 1] = static_cast<int32_t>(total);
        }
        fresh->runs.resize(static_cast<size_t>(total));

        kimg_run* out = fresh->runs.data();
        for (int32_t j = 0; j < w.height; ++j) {
            const uint8_t* row = base + j * w.pitch;
            int32_t i = 0;
            while (i < w.width) {
                while (i < w.width && row[i] == 0) {
                    ++i;
                }
                const int32_t start = i;
                while (i < w.width && row[i] != 0) {
                    ++i;
                }
                if (i > start) {
                    *out++ = kimg_run{w.x + start, i - start};
                }
            }
        }
        replaceStore(rle, std::move(fresh));
        return 0;
    });
}

KOC_API int32_t kimg_imageRle_render8(const kimg_imageRle* rle, uint8_t value, kimg_image* image) noexcept
{
    KOC_ASSERT(rle != nullptr);
    KOC_ASSERT(image != nullptr);
    const kimg_rleStore_* s = rle->store;
    if (s == nullptr) {
        return kimg_image_assignUnbound(image);
    }
    KOC_RETURN_IF_FAILED(kimg_image_assignNewRect(image, KIMG_DEPTH_8, &s->rect));
    if (value == 0) {
        return 0;  // fresh pixels are already zero
    }
    kimg_window w;
    KOC_RETURN_IF_FAILED(kimg_window_init(&w, image));
    auto* base = static_cast<uint8_t*>(w.pixels);
    for (int32_t j = 0; j < s->rect.height; ++j) {
        uint8_t* row = base + j * w.pitch;
        const auto first = static_cast<size_t>(s->rowStart[static_cast<size_t>(j)]);
        const auto last = static_cast<size_t>(s->rowStart[static_cast<size_t>(j) + 1]);
        for (size_t k = first; k < last; ++k) {
            std::memset(row + (s->runs[k].x - s->rect.x), value, static_cast<size_t>(s->runs[k].length));
        }
    }
    return 0;
}

}  // extern "C"
