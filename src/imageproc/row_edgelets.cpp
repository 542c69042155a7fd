// row_edgelets.cpp: the row-edgelet set, its parameters, the detector over
// a magnitude and a direction image, the queries and the magnitude filter.
#include "imageproc/row_edgelets.hpp"

#include <algorithm>
#include <cmath>

#include "koc/ksys.h"
#include "services/guard.hpp"

namespace koc::imageproc {

namespace {

using services::Vector;

// Blocks hold at most this many rows, so a tall region grows block by
// block instead of reallocating one huge buffer.
constexpr int32_t kRowsPerBlock = 16;
// Columns are 16-bit; a row slot never needs more than this many entries.
constexpr int32_t kMaxPerRow = 65533;

void clearStore(kip_rowEdgeletStore_* s) noexcept
{
    s->rect = kstd_rect32{0, 0, 0, 0};
    s->enclose = kstd_rect32{0, 0, 0, 0};
    s->magScale = 1.0;
    s->count = 0;
    s->rowsPerBlock = 0;
    s->perRow = 0;
    s->blocks.clear();
    s->rows.clear();
    s->table.clear();
    s->building = 0;
    s->finished = 0;
}

void refreshHandle(kip_rowEdgeletSet* set) noexcept
{
    set->rowSubsets = set->store->table.empty() ? nullptr : set->store->table.data();
}

// Drops empty rows, sorts the rest, rebuilds the table, the count and the
// enclosing rectangle. Allocation-free once the table has its capacity.
void finishStore(kip_rowEdgeletStore_* s)
{
    auto& rows = s->rows;
    rows.erase(std::remove_if(rows.begin(), rows.end(), [](const RowRecord& r) { return r.count == 0; }), rows.end());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const RowRecord& a, const RowRecord& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    s->table.clear();
    s->table.reserve(rows.size());
    s->count = 0;
    int32_t x0 = INT32_MAX, x1 = INT32_MIN;
    for (const RowRecord& r : rows) {
        const kip_rowEdgelet* e = s->blocks[static_cast<size_t>(r.block)].data() + r.offset;
        s->table.push_back(kip_rowEdgeletRowSubset_{e, r.count, r.x, r.y});
        s->count += r.count;
        // Columns are in order within a row: the first and last bound it.
        x0 = std::min(x0, r.x + e[0].column);
        x1 = std::max(x1, r.x + e[r.count - 1].column);
    }
    if (rows.empty()) {
        s->enclose = kstd_rect32{0, 0, 0, 0};
    } else {
        const int32_t y0 = rows.front().y, y1 = rows.back().y;
        s->enclose = kstd_rect32{x0, y0, x1 - x0 + 1, y1 - y0 + 1};
    }
    s->building = 0;
    s->finished = 1;
}

int32_t copyStore(const kip_rowEdgeletStore_& src, kip_rowEdgeletStore_* dst)
{
    dst->rect = src.rect;
    dst->enclose = src.enclose;
    dst->magScale = src.magScale;
    dst->count = src.count;
    dst->rowsPerBlock = src.rowsPerBlock;
    dst->perRow = src.perRow;
    dst->blocks = src.blocks;
    dst->rows = src.rows;
    dst->building = 0;
    dst->finished = src.finished;
    // The table points into the blocks: rebuild it over the copies.
    dst->table.clear();
    dst->table.reserve(src.table.size());
    for (const RowRecord& r : dst->rows) {
        dst->table.push_back(
            kip_rowEdgeletRowSubset_{dst->blocks[static_cast<size_t>(r.block)].data() + r.offset, r.count, r.x, r.y});
    }
    return 0;
}

// Direction code of an 8-bit angle: eight sectors of 32 units centred on
// the codes 0 (+x), 1 (+x+y), ... 7 (+x-y).
inline int32_t directionCode(uint8_t a) noexcept
{
    return ((a + 16) >> 5) & 7;
}

// Two codes are opposite when they lie 3 to 5 sectors apart.
inline bool opposite(int32_t k, int32_t other) noexcept
{
    const int32_t d = (other - k) & 7;
    return d >= 3 && d <= 5;
}

int32_t magnitudeThreshold(double value) noexcept
{
    // Magnitudes are 0..255: a threshold below 0 keeps every pixel and one
    // above 255 none, so the floor is clamped into 0..256.
    if (!(value > 0.0)) {
        return 0;
    }
    return value >= 256.0 ? 256 : static_cast<int32_t>(std::floor(value));
}

struct Neighbours {
    intptr_t offset[8];
    explicit Neighbours(intptr_t s) noexcept : offset{1, s + 1, s, s - 1, -1, -1 - s, -s, 1 - s} {}
};

// One row: candidates gathered without branches, then the suppression
// tests. Writes the row's edgelets to out; returns their count.
int32_t detectRow(const uint8_t* m, const uint8_t* a, int32_t width, const Neighbours& nm, const Neighbours& na,
                  int32_t threshold, int32_t mode, uint16_t* columns, kip_rowEdgelet* out) noexcept
{
    int32_t n = 0;
    for (int32_t c = 0; c < width; ++c) {
        columns[n] = static_cast<uint16_t>(c);
        n += m[c] >= threshold ? 1 : 0;
    }
    int32_t kept = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t c = columns[i];
        const int32_t mc = m[c];
        const uint8_t ac = a[c];
        const int32_t k = directionCode(ac);
        const int32_t ahead = m[c + nm.offset[k]];
        const int32_t behind = m[c - nm.offset[k]];
        bool keep = ahead < mc && behind <= mc;
        if (!keep && mode == KIP_ROW_EDGELET_KERNEL_OPPOSITE) {
            // A neighbour whose gradient points back at this one is the
            // other side of a thin stroke, not a stronger part of this edge.
            keep = (behind <= mc && opposite(k, directionCode(a[c + na.offset[k]]))) ||
                   (ahead < mc && opposite(k, directionCode(a[c - na.offset[k]])));
        }
        out[kept] = kip_rowEdgelet{static_cast<uint16_t>(c), static_cast<uint8_t>(mc), ac};
        kept += keep ? 1 : 0;
    }
    return kept;
}

int32_t windowOf(const kimg_image* image, kimg_windowConst* w, kstd_rect32* rect) noexcept
{
    int32_t depth = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getDepth(image, &depth));
    if (depth == 0) {
        return KOC_E_IMAGE_UNBOUND;
    }
    if (depth != KIMG_DEPTH_8) {
        return KOC_E_IMAGE_DEPTH;
    }
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(w, image));
    return kimg_windowConst_getWindow(w, rect);
}

int32_t detect(const kimg_image* magnitude, const kimg_image* direction, const kip_rowEdgeletParams* params,
               kip_rowEdgeletSet* set)
{
    const int32_t mode = params->kernelMode;
    if (mode != KIP_ROW_EDGELET_KERNEL_OPPOSITE && mode != KIP_ROW_EDGELET_KERNEL_PLAIN) {
        return KOC_E_BAD_ARGUMENT;
    }
    kimg_windowConst wm, wa;
    kstd_rect32 rm, ra, r;
    KOC_RETURN_IF_FAILED(windowOf(magnitude, &wm, &rm));
    KOC_RETURN_IF_FAILED(windowOf(direction, &wa, &ra));
    KOC_RETURN_IF_FAILED(kstd_rect32_intersect(&r, &rm, &ra));
    if (r.width < 3 || r.height < 3) {
        return 0;  // no pixel with all eight neighbours: nothing to detect
    }
    // Every pixel of R has its eight neighbours inside both windows.
    KOC_RETURN_IF_FAILED(kstd_rect32_trim(&r, 1, 1, 1, 1));
    if (r.width > 65535) {
        return KOC_E_LIMIT_EXCEEDED;  // columns are 16-bit
    }
    KOC_RETURN_IF_FAILED(kimg_windowConst_windowRect(&wm, &r));
    KOC_RETURN_IF_FAILED(kimg_windowConst_windowRect(&wa, &r));

    kip_rowEdgeletStore_* s = set->store;
    std::lock_guard<std::mutex> hold(s->lock);
    clearStore(s);
    set->rowSubsets = nullptr;
    s->rect = r;
    s->rowsPerBlock = std::min(r.height, kRowsPerBlock);
    s->perRow = std::min(r.width, kMaxPerRow);
    s->building = 1;

    const int32_t threshold = magnitudeThreshold(params->edgeParams.magnitudeThreshold);
    const Neighbours nm(wm.pitch), na(wa.pitch);
    Vector<uint16_t> columns(static_cast<size_t>(r.width));
    Vector<kip_rowEdgelet> row(static_cast<size_t>(r.width));
    const auto* mBase = static_cast<const uint8_t*>(wm.pixels);
    const auto* aBase = static_cast<const uint8_t*>(wa.pixels);
    for (int32_t y = 0; y < r.height; ++y) {
        if ((y & 63) == 0) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
        }
        const int32_t kept = detectRow(mBase + y * wm.pitch, aBase + y * wa.pitch, r.width, nm, na, threshold, mode,
                                       columns.data(), row.data());
        if (kept == 0) {
            continue;
        }
        const auto block = static_cast<size_t>(y / s->rowsPerBlock);
        if (s->blocks.size() <= block) {
            s->blocks.resize(block + 1);
            s->blocks[block].reserve(static_cast<size_t>(s->rowsPerBlock) * static_cast<size_t>(s->perRow));
        }
        auto& b = s->blocks[block];
        const auto offset = static_cast<int32_t>(b.size());
        b.insert(b.end(), row.begin(), row.begin() + kept);
        s->rows.push_back(RowRecord{r.x, r.y + y, static_cast<int32_t>(block), offset, kept});
    }
    finishStore(s);
    refreshHandle(set);
    return 0;
}

int32_t removeLow(kip_rowEdgeletSet* set, int32_t threshold)
{
    kip_rowEdgeletStore_* s = set->store;
    for (RowRecord& r : s->rows) {
        kip_rowEdgelet* e = s->blocks[static_cast<size_t>(r.block)].data() + r.offset;
        r.count = static_cast<int32_t>(
            std::remove_if(e, e + r.count, [&](const kip_rowEdgelet& x) { return x.magnitude < threshold; }) - e);
    }
    finishStore(s);
    refreshHandle(set);
    return 0;
}

}  // namespace

}  // namespace koc::imageproc

using koc::imageproc::clearStore;

extern "C" {

KOC_API int32_t kip_edgeletParams_init(kip_edgeletParams* params) noexcept
{
    KOC_ASSERT(params != nullptr);
    *params = kip_edgeletParams{0.5, 8.0, 0};
    return 0;
}

KOC_API int32_t kip_rowEdgeletParams_reset(kip_rowEdgeletParams* params) noexcept
{
    KOC_ASSERT(params != nullptr);
    KOC_RETURN_IF_FAILED(kip_edgeletParams_init(&params->edgeParams));
    params->reserved = 8;
    params->kernelMode = KIP_ROW_EDGELET_KERNEL_OPPOSITE;
    return 0;
}

KOC_API int32_t kip_rowEdgeletParams_construct(kip_rowEdgeletParams* params) noexcept
{
    return kip_rowEdgeletParams_reset(params);
}

KOC_API int32_t kip_rowEdgeletParams_assign(kip_rowEdgeletParams* dst, const kip_rowEdgeletParams* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    *dst = *src;
    return 0;
}

KOC_API int32_t kip_rowEdgeletParams_constructCopy(kip_rowEdgeletParams* dst, const kip_rowEdgeletParams* src) noexcept
{
    return kip_rowEdgeletParams_assign(dst, src);
}

KOC_API int32_t kip_rowEdgeletParams_destruct(kip_rowEdgeletParams* params) noexcept
{
    KOC_ASSERT(params != nullptr);
    return 0;
}

KOC_API int32_t kip_rowEdgeletSet_construct(kip_rowEdgeletSet* set) noexcept
{
    KOC_ASSERT(set != nullptr);
    set->rowSubsets = nullptr;
    int32_t rc = 0;
    set->store = koc::services::newObject<kip_rowEdgeletStore_>(&rc);
    return rc;
}

KOC_API int32_t kip_rowEdgeletSet_destruct(kip_rowEdgeletSet* set) noexcept
{
    KOC_ASSERT(set != nullptr);
    koc::services::destroyObject(set->store);
    set->store = nullptr;
    set->rowSubsets = nullptr;
    return 0;
}

KOC_API int32_t kip_rowEdgeletSet_reset(kip_rowEdgeletSet* set) noexcept
{
    KOC_ASSERT(set != nullptr && set->store != nullptr);
    clearStore(set->store);
    set->rowSubsets = nullptr;
    return 0;
}

KOC_API int32_t kip_rowEdgeletSet_assign(kip_rowEdgeletSet* dst, const kip_rowEdgeletSet* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr && dst->store != nullptr && src->store != nullptr);
    if (dst == src) {
        return 0;
    }
    // Copy into a fresh store and swap it in: a failed copy leaves dst as it was.
    int32_t rc = 0;
    kip_rowEdgeletStore_* copy = koc::services::newObject<kip_rowEdgeletStore_>(&rc);
    KOC_RETURN_IF_FAILED(rc);
    rc = koc::guarded([&] { return koc::imageproc::copyStore(*src->store, copy); });
    if (rc < 0) {
        koc::services::destroyObject(copy);
        return rc;
    }
    koc::services::destroyObject(dst->store);
    dst->store = copy;
    koc::imageproc::refreshHandle(dst);
    return 0;
}

KOC_API int32_t kip_rowEdgeletSet_constructCopy(kip_rowEdgeletSet* dst, const kip_rowEdgeletSet* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_construct(dst));
    const int32_t rc = kip_rowEdgeletSet_assign(dst, src);
    if (rc < 0) {
        kip_rowEdgeletSet_destruct(dst);
    }
    return rc;
}

KOC_API int32_t kip_edgeDetectRowEdgeletsFromMagAng8(const kimg_imageConst* magnitude, const kimg_imageConst* direction,
                                                     const kip_rowEdgeletParams* params, kip_rowEdgeletSet* set) noexcept
{
    KOC_ASSERT(magnitude != nullptr && direction != nullptr && params != nullptr && set != nullptr);
    KOC_ASSERT(set->store != nullptr);
    const int32_t rc = koc::guarded([&] { return koc::imageproc::detect(magnitude, direction, params, set); });
    if (rc < 0) {
        kip_rowEdgeletSet_reset(set);
    }
    return rc;
}

KOC_API int32_t kip_rowEdgeletSet_removeLowMagEdgelets(kip_rowEdgeletSet* set, int32_t threshold) noexcept
{
    KOC_ASSERT(set != nullptr && set->store != nullptr);
    return koc::guarded([&] { return koc::imageproc::removeLow(set, threshold); });
}

KOC_API int32_t kip_rowEdgeletSet_getNumEdgelets(const kip_rowEdgeletSet* set, int32_t* count) noexcept
{
    KOC_ASSERT(set != nullptr && set->store != nullptr && count != nullptr);
    *count = set->store->count;
    return 0;
}

KOC_API int32_t kip_rowEdgeletSet_getMagScale(const kip_rowEdgeletSet* set, double* scale) noexcept
{
    KOC_ASSERT(set != nullptr && set->store != nullptr && scale != nullptr);
    *scale = set->store->magScale;
    return 0;
}

KOC_API int32_t kip_rowEdgeletSet_getRect(const kip_rowEdgeletSet* set, kstd_rect32* rect) noexcept
{
    KOC_ASSERT(set != nullptr && set->store != nullptr && rect != nullptr);
    *rect = set->store->rect;
    return 0;
}

KOC_API int32_t kip_rowEdgeletSet_getEncloseImageRect(const kip_rowEdgeletSet* set, kstd_rect32* rect) noexcept
{
    KOC_ASSERT(set != nullptr && set->store != nullptr && rect != nullptr);
    *rect = set->store->enclose;
    return 0;
}

KOC_API int32_t kip_rowEdgeletSet_getNumRowSubsets(const kip_rowEdgeletSet* set, int32_t* count) noexcept
{
    KOC_ASSERT(set != nullptr && set->store != nullptr && count != nullptr);
    *count = set->store->count == 0 ? 0 : static_cast<int32_t>(set->store->table.size());
    return 0;
}

KOC_API int32_t kip_rowEdgeletSet_getRowSubsetMinimalConst(const kip_rowEdgeletSet* set, int32_t index,
                                                           const kip_rowEdgelet** edgelets, int32_t* count,
                                                           kstd_pair32* origin) noexcept
{
    KOC_ASSERT(set != nullptr && set->store != nullptr && edgelets != nullptr && count != nullptr && origin != nullptr);
    KOC_ASSERT(index >= 0 && static_cast<size_t>(index) < set->store->table.size());
    const kip_rowEdgeletRowSubset_& row = set->store->table[static_cast<size_t>(index)];
    *edgelets = row.edgelets;
    *count = row.count;
    *origin = kstd_pair32{row.x, row.y};
    return 0;
}

}  // extern "C"
