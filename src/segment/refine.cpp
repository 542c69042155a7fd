// refine.cpp: from a line's raw elements (one per blob) to its tree
// elements, the fragments the hypothesis tree builds characters from.
//
// Blobs are not yet characters: a broken character is several blobs, an
// accent or a dot sits above its letter, a smudge joins a character to a
// descender of the line above, touching characters form one blob. So the
// elements are merged where they overlap or lie within an inner gap of each
// other, cropped to the allowed height where they are too tall (and
// analysed again inside the crop), and cut where they are too wide.
#include "segment/refine.hpp"

#include <algorithm>
#include <functional>
#include <utility>

#include "hypotheses/pitch.hpp"
#include "services/guard.hpp"
#include "koc/ksys.h"
#include "segment/char_windows.hpp"
#include "segment/touching.hpp"
#include "segment/wide_split.hpp"
#include "services/pel_ops.hpp"


#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace koc::segment {

namespace {

using ElementList = services::Vector<koc_charSegmentElementInfo>;

// Polling at every candidate of the merge scan would cost more than the
// test it guards.
constexpr int32_t kMergePollEvery = 16;
constexpr int32_t kRenderPollEvery = 32;
constexpr uint8_t kBlobValue = 255;

int32_t toInt32(int64_t v) noexcept
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, -kNoLimit - 1, kNoLimit));
}

int32_t readElements(Elements* elements, ElementList* out)
{
    koc_charSegmentElementInfo* e = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSize(elements, &e, &n));
    out->assign(e, e + n);
    return 0;
}

int32_t writeElements(Elements* elements, const ElementList& list) noexcept
{
    return kstd_vector_koc_charSegmentElementInfo_assignElements(elements, list.data(),
                                                                 static_cast<intptr_t>(list.size()));
}

// Sorts by x, equal x in list order (the key carries the old position, so
// the order does not depend on the sort's algorithm).
void sortByX(ElementList* list)
{
    services::Vector<std::pair<int32_t, int32_t>> keys(list->size());
    for (size_t i = 0; i < list->size(); ++i) {
        keys[i] = {(*list)[i].rect.x, static_cast<int32_t>(i)};
    }
    std::sort(keys.begin(), keys.end());
    ElementList sorted(list->size());
    for (size_t i = 0; i < keys.size(); ++i) {
        sorted[i] = (*list)[static_cast<size_t>(keys[i].second)];
    }
    *list = std::move(sorted);
}

// The first call (measure still unset) measures the line on its uncut
// elements; later calls cut with that measure.
int32_t splitTouching(Elements* elements, const kimg_image* blobImage, TouchingMeasure* measure, bool* measured) noexcept
{
    if (*measured) {
        const TouchingMeasure known = *measure;
        return splitTouchingGlyphs(elements, blobImage, measure, &known);
    }
    *measured = true;
    return splitTouchingGlyphs(elements, blobImage, measure);
}

}  // namespace

int32_t gapLimits(const koc_charSegmentRunParams* params, GapLimits* limits) noexcept
{
    KOC_ASSERT(params != nullptr && limits != nullptr);
    switch (params->gapMode) {
    case 1:
        *limits = {0, kNoLimit};
        return 0;
    case 2:
        *limits = {params->minCharGap, std::max(params->minCharGap - 1, 0)};
        return 0;
    case 4:
        *limits = {params->minCharGap, params->maxInnerGap};
        return 0;
    default:
        return KOC_E_GAP_MODE;
    }
}

int32_t lineMaxCharWidth(const Elements* elements, const koc_charSegmentRunParams* params, int32_t* width) noexcept
{
    KOC_ASSERT(elements != nullptr && params != nullptr && width != nullptr);
    if (params->limitAspect == 0) {
        *width = hypotheses::maxCharWidthForLine(params, -1.0);
        return 0;
    }
    int32_t h = 0;
    KOC_RETURN_IF_FAILED(elementsVerticalExtent(elements, &h));
    *width = h > 0 ? hypotheses::maxCharWidthForLine(params, static_cast<double>(h)) : kNoLimit;
    return 0;
}

namespace {

// columns[x] += row[x]. Written out for SSE2: the bytes may alias the sums
// as far as the compiler knows, so its own loop stays scalar.
void addColumns(const uint8_t* row, int32_t width, uint32_t* columns) noexcept
{
    int32_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; x + 16 <= width; x += 16) {
        const __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const __m128i low = _mm_unpacklo_epi8(px, zero);
        const __m128i high = _mm_unpackhi_epi8(px, zero);
        const __m128i parts[4] = {_mm_unpacklo_epi16(low, zero), _mm_unpackhi_epi16(low, zero),
                                  _mm_unpacklo_epi16(high, zero), _mm_unpackhi_epi16(high, zero)};
        for (int32_t k = 0; k < 4; ++k) {
            auto* c = reinterpret_cast<__m128i*>(columns + x + 4 * k);
            _mm_storeu_si128(c, _mm_add_epi32(_mm_loadu_si128(c), parts[k]));
        }
    }
#endif
    for (; x < width; ++x) {
        columns[x] += row[x];
    }
}

}  // namespace

int32_t projectRect(const kimg_image* image, const kstd_rect32& rect, Profile* columns, Profile* rows) noexcept
{
    KOC_ASSERT(image != nullptr);
    kimg_windowConst w;
    KOC_RETURN_IF_FAILED(kimg_windowConst_initWindow(&w, image, &rect, 0));
    if (w.depth != KIMG_DEPTH_8) {
        return KOC_E_IMAGE_DEPTH;
    }
    return guarded([&]() -> int32_t {
        if (columns != nullptr) {
            columns->assign(static_cast<size_t>(w.width), 0u);
        }
        if (rows != nullptr) {
            rows->assign(static_cast<size_t>(w.height), 0u);
        }
        // Separate loops for the two profiles, so that each vectorises.
        for (int32_t y = 0; y < w.height; ++y) {
            const uint8_t* row = static_cast<const uint8_t*>(w.pixels) + y * w.pitch;
            if (columns != nullptr) {
                addColumns(row, w.width, columns->data());
            }
            if (rows != nullptr) {
                uint32_t sum = 0;
                for (int32_t x = 0; x < w.width; ++x) {
                    sum += row[x];
                }
                (*rows)[static_cast<size_t>(y)] = sum;
            }
        }
        return 0;
    });
}

int32_t renderLineBlobs(const services::BlobResultSet* blobs, const services::Vector<int32_t>& indices,
                        kimg_image* image) noexcept
{
    KOC_ASSERT(blobs != nullptr && image != nullptr);
    if (indices.empty()) {
        return kimg_image_assignUnbound(image);
    }
    kstd_rect32 box{0, 0, 0, 0};
    for (const int32_t i : indices) {
        KOC_ASSERT(i >= 0 && static_cast<size_t>(i) < blobs->blobs.size());
        KOC_RETURN_IF_FAILED(kstd_rect32_encloseRect(&box, &blobs->blobs[static_cast<size_t>(i)].rect));
    }
    KOC_RETURN_IF_FAILED(kimg_image_assignNewRect(image, KIMG_DEPTH_8, &box));  // zeroed
    services::PixelRows<uint8_t> view;
    KOC_RETURN_IF_FAILED(services::viewPixels(image, &view));
    for (size_t k = 0; k < indices.size(); ++k) {
        if (k % kRenderPollEvery == 0) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
        }
        const services::Blob& blob = blobs->blobs[static_cast<size_t>(indices[k])];
        for (int32_t r = 0; r < blob.runCount; ++r) {
            const services::BlobRun& run = blobs->runs[static_cast<size_t>(blob.firstRun + r)];
            uint8_t* row = view.row(run.y - view.y);
            std::fill(row + (run.x - view.x), row + (run.x - view.x + run.length), kBlobValue);
        }
    }
    return 0;
}

int32_t shouldMergeElements(const koc_charSegmentElementInfo& a, const koc_charSegmentElementInfo& b,
                            const kstd_rect32& groupRect, uint32_t gapMode, int32_t fraction8, int32_t minGap,
                            int32_t maxInnerGap, int32_t largestWidth, int32_t* gap, int32_t* merge) noexcept
{
    KOC_ASSERT(gap != nullptr && merge != nullptr);
    const int64_t aLeft = a.rect.x;
    const int64_t aRight = aLeft + a.rect.width;
    const int64_t bLeft = b.rect.x;
    const int64_t bRight = bLeft + b.rect.width;
    const int64_t gLeft = groupRect.x;
    const int64_t gRight = gLeft + groupRect.width;
    const int64_t overlap = std::min(aRight, bRight) - std::max(aLeft, bLeft);
    *gap = 0;
    *merge = 0;
    // Joining across a gap must not build something no character can be.
    if (overlap <= 0 && (std::max(aRight, bRight) - std::min(aLeft, bLeft) > largestWidth ||
                         std::max(aRight, gRight) - std::min(aLeft, gLeft) > largestWidth)) {
        return 0;
    }
    if (gapMode != 1) {
        if (overlap <= 0) {
            *gap = toInt32(-overlap);
            if (-overlap > maxInnerGap || -overlap >= minGap) {
                return 0;
            }
        }
        *merge = 1;
        return 0;
    }
    const int64_t narrower = std::min(a.rect.width, b.rect.width);
    if (overlap > 0 && 256 * overlap >= int64_t{fraction8} * narrower) {
        *merge = 1;
    }
    return 0;
}

int32_t sortElementsByX(Elements* elements) noexcept
{
    KOC_ASSERT(elements != nullptr);
    return guarded([&]() -> int32_t {
        ElementList list;
        KOC_RETURN_IF_FAILED(readElements(elements, &list));
        sortByX(&list);
        for (size_t i = 0; i < list.size(); ++i) {
            list[i].auxIndex = static_cast<int32_t>(i);
        }
        return writeElements(elements, list);
    });
}

int32_t mergeTouchingElements(LineData* data, Elements* elements, const koc_charSegmentRunParams* params,
                              int32_t maxGroupHeight) noexcept
{
    KOC_ASSERT(data != nullptr && elements != nullptr && params != nullptr);
    koc_charSegmentElementInfo* e = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSize(elements, &e, &n));
    if (n == 0) {
        return 0;
    }
    int32_t largestWidth = 0;
    KOC_RETURN_IF_FAILED(lineMaxCharWidth(elements, params, &largestWidth));
    double fraction = 0.0;
    KOC_RETURN_IF_FAILED(kmath_double_round(256.0 * params->refinementFraction, &fraction));
    const auto fraction8 = static_cast<int32_t>(fraction);
    GapLimits limits;
    KOC_RETURN_IF_FAILED(gapLimits(params, &limits));
    for (int32_t i = 0; i < n; ++i) {
        e[i].auxIndex = -1;
    }

    // The groups are those of a scan in list order that, after every join,
    // starts again behind the group's first element and joins the first
    // element any member accepts. Scanning again costs cubic time on lines
    // of many specks, so the same joins are found without it:
    //  - a join only ever makes the group rectangle wider, and a wider
    //    rectangle only turns joins down, never makes one possible: a test
    //    that failed stays failed, so each (element, member) pair needs
    //    testing once, when the member joins;
    //  - an element can only join through a member it overlaps or lies
    //    within `reach` columns of, so a member's partners are found in the
    //    elements sorted by x;
    //  - the elements some member accepted wait in a min-heap of list
    //    positions; the smallest is tested again against every member in
    //    order under the current rectangle, which is exactly what the scan
    //    would find next (and gives the same member, hence the same gap).
    const int64_t reach =
        params->gapMode == 1 ? 0 : std::max<int64_t>(0, std::min<int64_t>(limits.maxInnerGap, int64_t{limits.minGap} - 1) + 1);
    const int32_t rc = guarded([&]() -> int32_t {
        services::Vector<int32_t> byX(static_cast<size_t>(n));
        int64_t widest = 0;
        for (int32_t k = 0; k < n; ++k) {
            byX[static_cast<size_t>(k)] = k;
            widest = std::max<int64_t>(widest, e[k].rect.width);
        }
        std::sort(byX.begin(), byX.end(), [&](int32_t a, int32_t b) {
            return e[a].rect.x != e[b].rect.x ? e[a].rect.x < e[b].rect.x : a < b;
        });
        services::Vector<int32_t> xs(static_cast<size_t>(n));
        for (size_t k = 0; k < byX.size(); ++k) {
            xs[k] = e[byX[k]].rect.x;
        }

        ElementList groups;
        services::Vector<int32_t> members;
        services::Vector<int32_t> heap;  // min-heap of list positions
        // Position in `members` of the member that queued an element, -1
        // while it waits for none.
        services::Vector<int32_t> queuedBy(static_cast<size_t>(n), -1);
        uint32_t tests = 0;
        const auto byPosition = std::greater<int32_t>();
        for (int32_t i = 0; i < n; ++i) {
            if (e[i].auxIndex != -1) {
                continue;
            }
            const auto g = static_cast<int32_t>(groups.size());
            e[i].auxIndex = g;
            koc_charSegmentElementInfo group;
            KOC_RETURN_IF_FAILED(koc_charSegmentElementInfo_reset(&group));
            group.rect = e[i].rect;
            group.area = e[i].area;
            group.contrast = -1;
            group.auxIndex = g;
            members.assign(1, i);
            heap.clear();

            // Queues the unassigned elements behind i that member m accepts
            // under the current group rectangle.
            auto collect = [&](int32_t memberPos) -> int32_t {
                const int32_t m = members[static_cast<size_t>(memberPos)];
                const int64_t left = int64_t{e[m].rect.x} - reach - widest;
                const int64_t right = int64_t{e[m].rect.x} + e[m].rect.width + reach;
                auto it = std::lower_bound(xs.begin(), xs.end(), left,
                                           [](int32_t x, int64_t v) { return int64_t{x} < v; });
                for (; it != xs.end() && int64_t{*it} < right; ++it) {
                    const int32_t k = byX[static_cast<size_t>(it - xs.begin())];
                    if (k <= i || e[k].auxIndex != -1 || queuedBy[static_cast<size_t>(k)] != -1) {
                        continue;
                    }
                    if (++tests % kMergePollEvery == 0) {
                        KOC_RETURN_IF_FAILED(ksys_attention_check());
                    }
                    int32_t gap = 0;
                    int32_t merge = 0;
                    KOC_RETURN_IF_FAILED(shouldMergeElements(e[k], e[m], group.rect, params->gapMode, fraction8,
                                                             limits.minGap, limits.maxInnerGap, largestWidth, &gap,
                                                             &merge));
                    if (merge != 0) {
                        queuedBy[static_cast<size_t>(k)] = memberPos;
                        heap.push_back(k);
                        std::push_heap(heap.begin(), heap.end(), byPosition);
                    }
                }
                return 0;
            };
            KOC_RETURN_IF_FAILED(collect(0));
            while (!heap.empty()) {
                std::pop_heap(heap.begin(), heap.end(), byPosition);
                const int32_t j = heap.back();
                heap.pop_back();
                // Members before the one that queued j turned it down or
                // never reached it; the later ones passed it over while it
                // waited.
                const auto from = static_cast<size_t>(queuedBy[static_cast<size_t>(j)]);
                queuedBy[static_cast<size_t>(j)] = -1;
                // The height a join would give depends on the group alone,
                // and the group only grows: refused now, refused for good.
                const int64_t joinedTop = std::min(group.rect.y, e[j].rect.y);
                const int64_t joinedBottom = std::max(int64_t{group.rect.y} + group.rect.height,
                                                      int64_t{e[j].rect.y} + e[j].rect.height);
                if (joinedBottom - joinedTop > maxGroupHeight) {
                    continue;
                }
                for (size_t p = from; p < members.size(); ++p) {
                    const int32_t m = members[p];
                    int32_t gap = 0;
                    int32_t merge = 0;
                    KOC_RETURN_IF_FAILED(shouldMergeElements(e[j], e[m], group.rect, params->gapMode, fraction8,
                                                             limits.minGap, limits.maxInnerGap, largestWidth, &gap,
                                                             &merge));
                    if (merge == 0) {
                        continue;
                    }
                    data->minMergedGap = std::min(data->minMergedGap, gap);
                    data->maxMergedGap = std::max(data->maxMergedGap, gap);
                    e[j].auxIndex = g;
                    members.push_back(j);
                    KOC_RETURN_IF_FAILED(kstd_rect32_encloseRect(&group.rect, &e[j].rect));
                    group.area += e[j].area;
                    KOC_RETURN_IF_FAILED(collect(static_cast<int32_t>(members.size()) - 1));
                    break;
                }
            }
            groups.push_back(group);
        }
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        return writeElements(elements, groups);
    });
    KOC_RETURN_IF_FAILED(rc);
    return sortElementsByX(elements);
}

int32_t cropTallElements(LineData* data, Elements* elements, const kimg_image* workingImage,
                         const kimg_image* blobImage, const koc_charSegmentRunParams* params,
                         int32_t* changed) noexcept
{
    KOC_ASSERT(data != nullptr && elements != nullptr && workingImage != nullptr && blobImage != nullptr);
    KOC_ASSERT(params != nullptr && changed != nullptr);
    *changed = 0;
    if (params->limitCharHeight == 0) {
        return 0;
    }
    const int32_t h = params->maxCharHeight;
    koc_charSegmentElementInfo* e = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSize(elements, &e, &n));
    int32_t tallest = 0;
    int32_t top = kNoLimit;
    int32_t bottom = -kNoLimit - 1;
    for (int32_t i = 0; i < n; ++i) {
        tallest = std::max(tallest, e[i].rect.height);
        top = std::min(top, e[i].rect.y);
        bottom = std::max(bottom, e[i].rect.y + e[i].rect.height - 1);
    }
    if (tallest <= h) {
        return 0;
    }

    // The text band is where the line's ink is heaviest: the run of h rows
    // of the blob image with the largest sum.
    int32_t bandTop = 0;
    const int32_t rc = guarded([&]() -> int32_t {
        kstd_rect32 window;
        KOC_RETURN_IF_FAILED(kimg_image_getWindow(blobImage, &window));
        Profile rows;
        KOC_RETURN_IF_FAILED(projectRect(blobImage, window, nullptr, &rows));
        KOC_ASSERT(static_cast<int32_t>(rows.size()) == window.height);
        KOC_ASSERT(top >= window.y && bottom < window.y + window.height);
        const uint32_t* p = rows.data() + (top - window.y);
        uint64_t sum = 0;
        for (int32_t r = 0; r < h; ++r) {
            sum += p[r];
        }
        uint64_t best = sum;
        int32_t bestOffset = 0;
        for (int32_t off = 1; off + h <= bottom - top + 1; ++off) {
            sum += p[off + h - 1];
            sum -= p[off - 1];
            if (sum > best) {
                best = sum;
                bestOffset = off;
            }
        }
        bandTop = top + bestOffset;
        return 0;
    });
    KOC_RETURN_IF_FAILED(rc);
    const int32_t bandBottom = bandTop + h - 1;

    // Keep the part of each tall element that lies nearest the band: its
    // bottom when it ends inside the band, else the band's top when it
    // starts above it, else its own top.
    for (int32_t i = 0; i < n; ++i) {
        kstd_rect32& r = e[i].rect;
        if (r.height <= h) {
            continue;
        }
        ++data->croppedCount;
        const int32_t excess = r.height - h;
        if (r.y + r.height - 1 <= bandBottom) {
            r.y += excess;
        } else if (r.y < bandTop) {
            r.y = bandTop;
        }
        r.height = h;
        e[i].area = -1;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    return resegmentMarkedElements(elements, workingImage, params, 1, changed);
}

int32_t resegmentElement(const koc_charSegmentElementInfo& e, const kimg_image* workingImage,
                         const koc_charSegmentRunParams* params, int32_t mode,
                         services::Vector<koc_charSegmentElementInfo>* out) noexcept
{
    KOC_ASSERT(workingImage != nullptr && params != nullptr && out != nullptr);
    kimg_image view;
    KOC_RETURN_IF_FAILED(kimg_image_constructCopy(&view, workingImage));
    Always dropView([&] { kimg_image_destruct(&view); });
    KOC_RETURN_IF_FAILED(kimg_image_setWindowRect(&view, &e.rect, 0));
    services::BlobResultSet blobs;
    int32_t threshold = 0;
    KOC_RETURN_IF_FAILED(runBlobAnalysis(&view, params, nullptr, &threshold, &blobs));
    Elements found;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_constructEmpty(&found));
    Always dropFound([&] { kstd_vector_koc_charSegmentElementInfo_destruct(&found); });
    int32_t good = 0;
    // No mask and the mask test skipped: every blob inside the rectangle is
    // an element.
    KOC_RETURN_IF_FAILED(buildElementsFromBlobs(&blobs, nullptr, threshold, params, 0, 1, &found, &good));
    koc_charSegmentElementInfo* f = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSize(&found, &f, &n));
    if (n == 0) {
        return 0;
    }
    return guarded([&]() -> int32_t {
        if (mode != 0) {
            out->insert(out->end(), f, f + n);
            return 0;
        }
        koc_charSegmentElementInfo whole = f[0];
        for (int32_t i = 1; i < n; ++i) {
            KOC_RETURN_IF_FAILED(kstd_rect32_encloseRect(&whole.rect, &f[i].rect));
            whole.area += f[i].area;
            whole.flags |= f[i].flags;
        }
        whole.contrast = -1;
        whole.blobIndex = -1;
        whole.auxIndex = -1;
        out->push_back(whole);
        return 0;
    });
}

int32_t resegmentMarkedElements(Elements* elements, const kimg_image* workingImage,
                                const koc_charSegmentRunParams* params, int32_t mode, int32_t* changed) noexcept
{
    KOC_ASSERT(elements != nullptr && workingImage != nullptr && params != nullptr && changed != nullptr);
    *changed = 0;
    return guarded([&]() -> int32_t {
        ElementList all;
        KOC_RETURN_IF_FAILED(readElements(elements, &all));
        ElementList kept;
        ElementList marked;
        for (const auto& e : all) {
            (e.area < 0 ? marked : kept).push_back(e);
        }
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        bool resort = false;
        for (const auto& e : marked) {
            const size_t before = kept.size();
            KOC_RETURN_IF_FAILED(resegmentElement(e, workingImage, params, mode, &kept));
            const size_t added = kept.size() - before;
            if (added == 1) {
                const kstd_rect32& r = kept.back().rect;
                if (r.x != e.rect.x || r.width != e.rect.width) {
                    *changed = 1;
                }
            } else {
                *changed = 1;
                resort = true;
            }
        }
        // Only a changed element count re-sorts: an element that came back
        // as one stays at the end of the list.
        if (resort) {
            KOC_RETURN_IF_FAILED(ksys_attention_check());
            sortByX(&kept);
        }
        return writeElements(elements, kept);
    });
}

int32_t refineLineElements(LineData* data, const koc_charSegmentElementInfo* elements, int32_t count,
                           const kimg_image* workingImage, const koc_charSegmentRunParams* params,
                           Elements* treeElements, bool splitTouchingGlyphs, int32_t maxGroupHeight) noexcept
{
    KOC_ASSERT(data != nullptr && workingImage != nullptr && params != nullptr && treeElements != nullptr);
    KOC_ASSERT(count >= 0 && (count == 0 || elements != nullptr));
    services::ScopedImage blobImage;
    const int32_t rc = guarded([&]() -> int32_t {
        services::Vector<int32_t> indices(static_cast<size_t>(count));
        const auto blobCount = static_cast<int32_t>(data->blobResults.blobs.size());
        for (int32_t i = 0; i < count; ++i) {
            KOC_ASSERT(elements[i].blobIndex >= 0 && elements[i].blobIndex < blobCount);
            indices[static_cast<size_t>(i)] = elements[i].blobIndex;
        }
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        return renderLineBlobs(&data->blobResults, indices, blobImage.get());
    });
    KOC_RETURN_IF_FAILED(rc);
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_assignElements(treeElements, elements, count));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(mergeTouchingElements(data, treeElements, params, maxGroupHeight));
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    int32_t changed = 0;
    TouchingMeasure touching;
    bool measured = false;
    if (params->limitCharHeight != 0) {
        KOC_RETURN_IF_FAILED(cropTallElements(data, treeElements, workingImage, blobImage.get(), params, &changed));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        if (changed != 0) {
            KOC_RETURN_IF_FAILED(mergeTouchingElements(data, treeElements, params, maxGroupHeight));
            KOC_RETURN_IF_FAILED(ksys_attention_check());
        }
    }

    if (splitTouchingGlyphs) {
        // Before the wide split, whose cuts at even widths would cut
        // through glyphs that overlap their neighbours' columns.
        KOC_RETURN_IF_FAILED(sortElementsByX(treeElements));
        KOC_RETURN_IF_FAILED(splitTouching(treeElements, blobImage.get(), &touching, &measured));
    }
    KOC_RETURN_IF_FAILED(splitWideElements(treeElements, workingImage, blobImage.get(), params, 1, 0, &changed));
    if (changed == 0) {
        // The tree reads its fragments left to right: blob order is raster
        // order, and re-segmented pieces may land behind their neighbours.
        KOC_RETURN_IF_FAILED(sortElementsByX(treeElements));
        // Last, so that no merge joins the overlapping pieces of W and A
        // again.
        return splitTouchingGlyphs ? splitTouching(treeElements, blobImage.get(), &touching, &measured) : 0;
    }
    int32_t before = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getSize(treeElements, &before));
    KOC_RETURN_IF_FAILED(mergeTouchingElements(data, treeElements, params, maxGroupHeight));
    int32_t after = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getSize(treeElements, &after));
    if (after != before) {
        // The merge joined pieces again; cut only what is still too wide,
        // and keep each re-segmented piece as one element.
        KOC_RETURN_IF_FAILED(splitWideElements(treeElements, workingImage, blobImage.get(), params, 0, 1, &changed));
    }
    KOC_RETURN_IF_FAILED(sortElementsByX(treeElements));
    return splitTouchingGlyphs ? splitTouching(treeElements, blobImage.get(), &touching, &measured) : 0;
}

}  // namespace koc::segment
