// single_line.cpp: finds the one text line of a paragraph as the strongest
// band of the elements' vertical ink profile and keeps its elements first.
// With a band given (the band-aware extension: the one line extraction
// found), the line is the characters' ink band that agrees with it, and an
// element belongs to it by the share of its ink inside it.
#include <algorithm>
#include <functional>

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "segment/segment_internal.hpp"
#include "services/numeric.hpp"

namespace koc::segment {

namespace {

constexpr uint32_t kFlagOutsideMask = 2;
constexpr uint32_t kFlagOtherLine = 8;

struct Edge {
    int32_t row;
    int32_t value;
};

struct Band {
    int32_t top;
    int32_t bottom;
};

// The band between a rising edge (a band's top) and a later falling edge
// (its bottom): the only pair when there is exactly one of each, else the
// pair with the largest (height x peak) whose inside never drops to
// nearly empty. With an agreement band, only the rows inside that band
// count towards the height, and *agreed tells whether any pair met it.
Band chooseBand(const services::Vector<Edge>& rising, const services::Vector<Edge>& falling,
                const services::Vector<int32_t>& smooth, int32_t length, const Band* agree, bool* agreed)
{
    *agreed = true;
    if (rising.size() == 1 && falling.size() == 1 && rising[0].row < falling[0].row) {
        return Band{rising[0].row, falling[0].row};
    }
    Band band{0, length - 1};
    int64_t bestScore = 0;
    for (const Edge& t : rising) {
        for (const Edge& b : falling) {
            if (t.row >= b.row) {
                continue;
            }
            int32_t lo = INT32_MAX, hi = INT32_MIN;
            for (int32_t r = t.row + 2; r <= b.row - 2; ++r) {
                lo = std::min(lo, smooth[static_cast<size_t>(r)]);
                hi = std::max(hi, smooth[static_cast<size_t>(r)]);
            }
            if (hi == INT32_MIN) {
                continue;  // no inner rows to judge the band by
            }
            const int32_t rows = agree == nullptr ? b.row - t.row
                                                  : std::min(b.row, agree->bottom) - std::max(t.row, agree->top);
            const int64_t score = static_cast<int64_t>(rows) * hi;
            if (score > 0 && score > bestScore && lo > hi / 20) {
                bestScore = score;
                band = Band{t.row, b.row};
            }
        }
    }
    *agreed = agree == nullptr || bestScore > 0;
    return band;
}

// Whether an element's ink lies on the band [top, bottom): at least
// minLineOverlap of its pixels in the band's rows. Ink rather than the
// element's box, so that a chain of specks grazing the band stays off while
// a glyph with a speck stuck to it stays on.
bool inkOnBand(const koc_charSegmentElementInfo& el, const services::BlobResultSet& blobs, int32_t top,
               int32_t bottom, double minLineOverlap)
{
    if (el.blobIndex < 0 || static_cast<size_t>(el.blobIndex) >= blobs.blobs.size()) {
        const int32_t overlap = std::min(el.rect.y + el.rect.height, bottom) - std::max(el.rect.y, top);
        return overlap > 0 && overlap >= minLineOverlap * el.rect.height;
    }
    const services::Blob& blob = blobs.blobs[static_cast<size_t>(el.blobIndex)];
    int64_t inside = 0, all = 0;
    for (int32_t r = 0; r < blob.runCount; ++r) {
        const services::BlobRun& run = blobs.runs[static_cast<size_t>(blob.firstRun + r)];
        all += run.length;
        if (run.y >= top && run.y < bottom) {
            inside += run.length;
        }
    }
    return inside > 0 && static_cast<double>(inside) >= minLineOverlap * static_cast<double>(all);
}

int32_t group(const koc_charSegmentRunParams* params, const services::BlobResultSet* blobs, const kstd_rect32* given,
              koc_charSegmentLineResult* lines, kstd_vector32s* counts)
{
    KOC_ASSERT(lines[0].lineData != nullptr);
    KOC_ASSERT(counts->base.size >= 1);
    LineData& data = *lines[0].lineData;
    auto* count = static_cast<int32_t*>(counts->base.begin);
    int32_t n = count[0];
    auto* e = static_cast<koc_charSegmentElementInfo*>(data.rawElements.base.begin);
    KOC_ASSERT(n >= 0 && n <= data.rawElements.base.size);

    int32_t bottom = 0, right = 0, smallestArea = INT32_MAX;
    for (int32_t i = 0; i < n; ++i) {
        bottom = std::max(bottom, e[i].rect.y + e[i].rect.height);
        right = std::max(right, e[i].rect.x + e[i].rect.width);
        smallestArea = std::min(smallestArea, e[i].area);
    }
    if (bottom < 4 || right < 4) {
        return 0;
    }
    // Profile of the rows the elements cover, weighted by area (a speck
    // counts once, anything twice its size twice). On a given band, by ink
    // measured against the characters' size instead: elements far smaller
    // than the characters (below a sixteenth of the size at which the
    // largest elements hold 30% of the ink) add nothing, however many, and
    // the others one to four by their ink in sixteenths of that size (not
    // ink per row, which would let the horizontal bars of display digits
    // split their line in three).
    const bool byInk = given != nullptr && blobs != nullptr;
    int64_t minInkArea = 0;
    if (byInk) {
        services::Vector<int32_t> areas;
        int64_t total = 0;
        for (int32_t i = 0; i < n; ++i) {
            areas.push_back(std::max(e[i].area, 0));
            total += std::max(e[i].area, 0);
        }
        std::sort(areas.begin(), areas.end(), std::greater<int32_t>());
        int64_t held = 0;
        for (const int32_t a : areas) {
            held += a;
            if (10 * held >= 3 * total) {
                minInkArea = a / 16;
                break;
            }
        }
    }
    const int32_t length = bottom + 3;
    services::Vector<int32_t> profile(static_cast<size_t>(length), 0);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t weight =
            byInk ? (e[i].area >= minInkArea && e[i].area > 0
                         ? static_cast<int32_t>(std::min<int64_t>(e[i].area / std::max<int64_t>(minInkArea, 1), 4))
                         : 0)
                  : std::min(smallestArea > 0 ? e[i].area / smallestArea : 2, 2);
        for (int32_t r = std::max(e[i].rect.y, 0); r <= e[i].rect.y + e[i].rect.height && r < length; ++r) {
            profile[static_cast<size_t>(r)] += weight;
        }
    }
    services::Vector<int32_t> smooth(static_cast<size_t>(length), 0);
    for (int32_t r = 2; r <= length - 3; ++r) {
        smooth[static_cast<size_t>(r)] = profile[r - 1] + profile[r] + profile[r + 1];
    }
    smooth[0] = smooth[1] = smooth[2];
    smooth[static_cast<size_t>(length - 2)] = smooth[static_cast<size_t>(length - 1)] =
        smooth[static_cast<size_t>(length - 3)];
    services::Vector<int32_t> d(static_cast<size_t>(length), 0);
    int32_t dPlus = 0, dMinus = 0;
    for (int32_t r = 1; r <= length - 2; ++r) {
        d[static_cast<size_t>(r)] = smooth[static_cast<size_t>(r + 1)] - smooth[static_cast<size_t>(r - 1)];
        dPlus = std::max(dPlus, d[static_cast<size_t>(r)]);
        dMinus = std::min(dMinus, d[static_cast<size_t>(r)]);
    }
    d[0] = d[1];
    d[static_cast<size_t>(length - 1)] = d[static_cast<size_t>(length - 2)];
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    services::Vector<Edge> rising, falling;
    for (int32_t r = 1; r <= length - 2; ++r) {
        const int32_t prev = d[static_cast<size_t>(r - 1)], cur = d[static_cast<size_t>(r)],
                      next = d[static_cast<size_t>(r + 1)];
        if (cur >= dPlus / 2 && prev < cur && next <= cur) {
            rising.push_back(Edge{r, cur});
        }
        if (cur <= dMinus / 2 && cur <= prev && cur < next) {
            falling.push_back(Edge{r, cur});
        }
    }
    // A given band (the one line extraction found) is the agreement band:
    // of the ink bands, the one that agrees with it; where none meets it
    // at all, the strongest, as without one.
    const Band agree = byInk ? Band{given->y, given->y + given->height} : Band{0, 0};
    bool agreed = true;
    Band band = chooseBand(rising, falling, smooth, length, byInk ? &agree : nullptr, &agreed);
    if (!agreed) {
        band = chooseBand(rising, falling, smooth, length, nullptr, &agreed);
    }
    const int32_t top = band.top, bandBottom = band.bottom, height = bandBottom - top;

    // Assign: inside the band (with the margin) or mostly overlapping it;
    // on a given band, by the share of ink on it.
    const int64_t margin = services::saturatingInt32(params->lineBandMargin * height + 0.5);
    int32_t inkTop = INT32_MAX, inkBottom = INT32_MIN, left = INT32_MAX, xRight = INT32_MIN;
    for (int32_t i = 0; i < n; ++i) {
        koc_charSegmentElementInfo& el = e[i];
        const int32_t t = el.rect.y, b = el.rect.y + el.rect.height;
        const int32_t overlap = std::min(b, bandBottom) - std::max(t, top);
        const double inside = el.rect.height > 0 ? static_cast<double>(overlap) / el.rect.height : 0.0;
        el.inBandFraction = std::max(inside, 0.0);
        const int32_t outside = std::max(b - bandBottom, top - t);
        el.outOfBandFraction = outside > 0 && height != 0 ? static_cast<double>(outside) / height : 0.0;
        const bool on = byInk ? (top - margin <= t && b <= bandBottom + margin) ||
                                    inkOnBand(el, *blobs, top, bandBottom, params->minLineOverlap)
                              : (top - margin <= t && b <= bandBottom + margin) ||
                                    el.inBandFraction >= params->minLineOverlap;
        if (on) {
            inkTop = std::min(inkTop, t);
            inkBottom = std::max(inkBottom, b);
            left = std::min(left, el.rect.x);
            xRight = std::max(xRight, el.rect.x + el.rect.width);
        } else {
            el.flags |= kFlagOtherLine;
        }
    }
    if (left == INT32_MAX) {  // no element on the line: empty extents
        left = xRight = 0;
        inkTop = inkBottom = top;
    }
    data.bandRect = kstd_rect32{left, top, xRight - left, height};
    data.inkRect = kstd_rect32{left, inkTop, xRight - left, inkBottom - inkTop};

    // Elements the mask test rejected come back when they sit squarely on
    // the line; the count then reaches past them.
    if (params->useLineMaskTest != 0) {
        for (int32_t k = n; k < static_cast<int32_t>(data.rawElements.base.size); ++k) {
            koc_charSegmentElementInfo& el = e[k];
            if (el.flags != kFlagOutsideMask || el.rect.x < left || el.rect.x + el.rect.width > xRight) {
                continue;
            }
            const int32_t overlap = std::min(el.rect.y + el.rect.height, bandBottom) - std::max(el.rect.y, top);
            if (overlap >= params->minLineOverlap * std::min(el.rect.height, height)) {
                el.flags &= ~kFlagOutsideMask;
                n = k + 1;
            }
        }
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    // Flagged elements go behind the count, order otherwise kept.
    for (int32_t i = 0; i < n;) {
        koc_charSegmentElementInfo* first = static_cast<koc_charSegmentElementInfo*>(data.rawElements.base.begin);
        if (first[i].flags == 0) {
            ++i;
            continue;
        }
        const koc_charSegmentElementInfo moved = first[i];
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_eraseElement(&data.rawElements, i));
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_pushBack(&data.rawElements, &moved));
        --n;
    }
    count[0] = n;
    return 0;
}

}  // namespace

int32_t groupElementsSingleLine(const koc_charSegmentRunParams* params, const services::BlobResultSet* blobs,
                                koc_charSegmentLineResult* lines, kstd_vector32s* elementCountPerLine,
                                const kstd_rect32* band) noexcept
{
    KOC_ASSERT(params != nullptr && lines != nullptr && elementCountPerLine != nullptr);
    const kstd_rect32* given = band != nullptr && band->height > 0 ? band : nullptr;
    return guarded([&] { return group(params, blobs, given, lines, elementCountPerLine); });
}

}  // namespace koc::segment
