// line_split.cpp: the line splitter: finds a paragraph's text lines as bands
// of the elements' vertical ink profile and hands every line its elements.
#include "hypotheses/line_split.hpp"

#include <algorithm>
#include <cstdlib>

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "services/numeric.hpp"

namespace koc::hypotheses {

namespace {

constexpr uint32_t kFlagOutsideMask = 2;
constexpr uint32_t kFlagOtherLine = 8;

using Element = koc_charSegmentElementInfo;

struct Candidate {
    int32_t top;
    int32_t bottom;
    int64_t score;
    int32_t state;  // 0 open, k > 0 selected k-th, -k eliminated by the k-th
};

// Closed range of coordinates; empty until something extends it.
struct Range {
    int32_t lo = INT32_MAX;
    int32_t hi = INT32_MIN;
    bool empty() const { return lo > hi; }
    void extend(int32_t a, int32_t b)
    {
        lo = std::min(lo, a);
        hi = std::max(hi, b);
    }
};

struct LineBand {
    int32_t top;
    int32_t bottom;
    Range core;  // x-range of the elements lying wholly inside the band
    Range x;     // the line's x-range
    Range ink;   // the line's ink y-range
};

Element* rawBegin(koc_charSegmentLineResult& line)
{
    return static_cast<Element*>(line.lineData->rawElements.base.begin);
}

int32_t rawSize(const koc_charSegmentLineResult& line)
{
    return static_cast<int32_t>(line.lineData->rawElements.base.size);
}

int32_t profile(const Element* e, int32_t n, kstd_rect32* bounds, int32_t* inkedRows,
                services::Vector<int32_t>* smoothed, services::Vector<ProfileEdge>* falling,
                services::Vector<ProfileEdge>* rising)
{
    int32_t top = INT32_MAX, bottom = INT32_MIN, left = INT32_MAX, right = INT32_MIN;
    int32_t smallestArea = INT32_MAX, largestArea = INT32_MIN;
    for (int32_t i = 0; i < n; ++i) {
        top = std::min(top, e[i].rect.y);
        bottom = std::max(bottom, e[i].rect.y + e[i].rect.height);
        left = std::min(left, e[i].rect.x);
        right = std::max(right, e[i].rect.x + e[i].rect.width);
        smallestArea = std::min(smallestArea, e[i].area);
        largestArea = std::max(largestArea, e[i].area);
    }
    if (n <= 0) {
        *bounds = kstd_rect32{0, 0, 0, 0};
        return 0;
    }
    *bounds = kstd_rect32{left, top, right - left + 1, bottom - top + 1};
    if (bottom < 4 || right < 4) {
        return 0;
    }
    // Rows weighted by area: a speck counts once, anything at least twice
    // the smallest element's size twice, so noise cannot outweigh text.
    const int32_t length = bottom + 3;
    const auto at = [](int32_t r) { return static_cast<size_t>(r); };
    services::Vector<int32_t> p(at(length), 0);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t weight = std::min(smallestArea > 0 ? e[i].area / smallestArea : 2, 2);
        for (int32_t r = std::max(e[i].rect.y, 0); r <= e[i].rect.y + e[i].rect.height && r < length; ++r) {
            p[at(r)] += weight;
        }
    }
    services::Vector<int32_t>& s = *smoothed;
    s.assign(at(length), 0);
    for (int32_t r = 2; r <= length - 3; ++r) {
        s[at(r)] = p[at(r - 1)] + p[at(r)] + p[at(r + 1)];
    }
    s[0] = s[1] = s[2];
    s[at(length - 1)] = s[at(length - 2)] = s[at(length - 3)];
    services::Vector<int32_t> d(at(length), 0);
    for (int32_t r = 1; r <= length - 2; ++r) {
        d[at(r)] = s[at(r + 1)] - s[at(r - 1)];
    }
    *inkedRows = 0;
    for (int32_t r = 0; r < length - 1; ++r) {
        *inkedRows += s[at(r)] > 0 ? 1 : 0;
    }
    rising->clear();
    falling->clear();
    // The first and last rows carry a zero derivative and so are never edges.
    for (int32_t r = 1; r <= length - 2; ++r) {
        const int32_t prev = d[at(r - 1)], cur = d[at(r)], next = d[at(r + 1)];
        if (cur > 0 && prev < cur && next <= cur) {
            rising->push_back(ProfileEdge{r, cur});
        }
        if (cur < 0 && cur <= prev && cur < next) {
            falling->push_back(ProfileEdge{r, cur});
        }
    }
    // Stable, so equal strengths stay in row order and runs repeat exactly.
    std::stable_sort(rising->begin(), rising->end(),
                     [](const ProfileEdge& a, const ProfileEdge& b) { return a.strength > b.strength; });
    std::stable_sort(falling->begin(), falling->end(),
                     [](const ProfileEdge& a, const ProfileEdge& b) { return a.strength < b.strength; });
    return 0;
}

// Every (top, bottom) pair of edges that could be one of numLines lines of
// about the expected height, scored by its height (shrunk by its deviation
// from the expected one), its ink and the strength of its weaker edge.
services::Vector<Candidate> candidateBands(const koc_charSegmentRunParams* params,
                                           const services::Vector<int32_t>& s,
                                           const services::Vector<ProfileEdge>& rising,
                                           const services::Vector<ProfileEdge>& falling, int32_t expected)
{
    services::Vector<Candidate> out;
    if (rising.size() == 1 && falling.size() == 1 && rising[0].row < falling[0].row) {
        out.push_back(Candidate{rising[0].row, falling[0].row, 1, 0});
        return out;
    }
    const int32_t minHeight = std::max(params->minCharHeight, 5);
    int32_t maxHeight = INT32_MAX;
    if (params->limitCharHeight != 0) {
        maxHeight = static_cast<int32_t>(static_cast<int64_t>(params->maxCharHeight) * 12 / 10);
        expected = std::min(expected, maxHeight);
    }
    for (const ProfileEdge& t : rising) {
        for (const ProfileEdge& b : falling) {
            int32_t h = b.row - t.row;
            if (h < minHeight || h > maxHeight) {
                continue;
            }
            const int64_t e = 2 * static_cast<int64_t>(std::min(std::abs(b.strength), t.strength));
            const int32_t deviation = std::abs(h - expected);
            if (deviation >= expected) {
                continue;
            }
            if (deviation >= 1) {
                h = static_cast<int32_t>(h * (1.0 - static_cast<double>(deviation) / expected));
            }
            int32_t lo = INT32_MAX, hi = INT32_MIN;
            for (int32_t r = t.row + 2; r <= b.row - 2; ++r) {
                lo = std::min(lo, s[static_cast<size_t>(r)]);
                hi = std::max(hi, s[static_cast<size_t>(r)]);
            }
            // A band with an almost empty row inside is two lines or none.
            if (!(lo > hi / 20)) {
                continue;
            }
            out.push_back(Candidate{t.row, b.row, static_cast<int64_t>(h) * (static_cast<int64_t>(hi) + lo + e), 0});
        }
    }
    return out;
}

// Picks up to numLines bands by score. A chosen band knocks out every open
// candidate sharing at least a quarter of its rows and weakens the ones
// sharing fewer (more than 2). A quarter, the stricter end of what is
// allowed (at most half): text lines of one paragraph share only the rows a
// descender reaches into the line below, far less than a quarter of a
// line, while a band sharing a quarter of a chosen line is that same line
// seen between other edges (its x-height, say). Knocking those out keeps
// the extra bands of an over-counted paragraph from becoming ghost lines.
services::Vector<LineBand> selectBands(services::Vector<Candidate>& candidates, int32_t numLines)
{
    services::Vector<LineBand> bands;
    int32_t selected = 0;
    while (selected < numLines) {
        Candidate* best = nullptr;
        for (Candidate& c : candidates) {
            if (c.state == 0 && c.score > 0 && (best == nullptr || c.score > best->score)) {
                best = &c;
            }
        }
        if (best == nullptr) {
            break;
        }
        best->state = ++selected;
        const int32_t threshold = (best->bottom - best->top) / 4;
        for (Candidate& c : candidates) {
            if (c.state != 0) {
                continue;
            }
            const int32_t overlap = std::min(c.bottom, best->bottom) - std::max(c.top, best->top);
            if (overlap <= 2) {
                continue;
            }
            if (overlap >= threshold) {
                c.state = -selected;
            } else {
                c.score /= overlap;
            }
        }
        bands.push_back(LineBand{best->top, best->bottom, {}, {}, {}});
    }
    std::stable_sort(bands.begin(), bands.end(), [](const LineBand& a, const LineBand& b) { return a.top < b.top; });
    return bands;
}

// Decides for one element whether it belongs to the band: the overlap
// fractions are written to the element in any case; an element of another
// line gets flag 8; a tall element reaching across the band is cropped to it.
void assignElement(const koc_charSegmentRunParams* params, LineBand& band, Element& el)
{
    const int32_t T = band.top, B = band.bottom, height = B - T;
    const int32_t top = el.rect.y, bottom = el.rect.y + el.rect.height;
    const int64_t margin = services::saturatingInt32(params->lineBandMargin * height + 0.5);
    const int32_t overlap = std::min(bottom, B) - std::max(top, T);
    const double inside = el.rect.height > 0 ? static_cast<double>(overlap) / el.rect.height : 0.0;
    el.inBandFraction = std::max(inside, 0.0);
    const int32_t outside = std::max(bottom - B, T - top);
    el.outOfBandFraction = outside > 0 && height > 0 ? static_cast<double>(outside) / height : 0.0;
    if ((T - margin <= top && bottom <= B + margin) || el.inBandFraction >= params->minLineOverlap) {
        if (height > 0 && static_cast<double>(el.rect.height - overlap) / height < params->minLineOverlap) {
            band.ink.extend(top, bottom);
        }
        band.x.extend(el.rect.x, el.rect.x + el.rect.width);
        return;
    }
    const int32_t extended = height + 2 * margin;
    const double shareOfBand = extended > 0 ? static_cast<double>(overlap) / extended : 0.0;
    // An element with no core to stand under (no element lies wholly in the
    // band) cannot be vouched for either.
    if (shareOfBand < params->minLineOverlap || band.core.empty() || el.rect.x < band.core.lo ||
        el.rect.x + el.rect.width > band.core.hi) {
        el.flags |= kFlagOtherLine;
        return;
    }
    const int32_t limit = params->limitCharHeight != 0 ? params->maxCharHeight : height;
    if (el.rect.height > limit) {
        const int32_t excess = el.rect.height - limit;
        el.rect.height = limit;
        if (bottom > B) {
            if (top < T) {
                el.rect.y = T;
            }
        } else {
            el.rect.y += excess;
        }
    }
    band.x.extend(el.rect.x, el.rect.x + el.rect.width);
}

// Moves every flagged element among the first n behind them, keeping the
// order of the rest; returns how many stay in front.
int32_t moveFlaggedBack(kstd_vector_koc_charSegmentElementInfo* raw, int32_t n, int32_t* kept)
{
    for (int32_t i = 0; i < n;) {
        const Element* first = static_cast<const Element*>(raw->base.begin);
        if (first[i].flags == 0) {
            ++i;
            continue;
        }
        const Element moved = first[i];
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_eraseElement(raw, i));
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_pushBack(raw, &moved));
        --n;
    }
    *kept = n;
    return 0;
}

int32_t split(const koc_charSegmentRunParams* params, koc_charSegmentLineResultData_* firstLine,
              koc_charSegmentLineResult* lines, kstd_vector32s* counts)
{
    const int32_t numLines = params->numLines;
    KOC_ASSERT(numLines >= 1 && counts->base.size >= numLines);
    auto* count = static_cast<int32_t*>(counts->base.begin);
    int32_t n = count[0];
    KOC_ASSERT(n >= 0 && n <= static_cast<int32_t>(firstLine->rawElements.base.size));
    for (int32_t i = 0; i < numLines; ++i) {
        KOC_ASSERT(lines[i].lineData != nullptr && rawSize(lines[i]) >= n);
    }

    kstd_rect32 bounds;
    int32_t inked = 0;
    services::Vector<int32_t> smooth;
    services::Vector<ProfileEdge> rising, falling;
    const auto* first = static_cast<const Element*>(firstLine->rawElements.base.begin);
    KOC_RETURN_IF_FAILED(profile(first, n, &bounds, &inked, &smooth, &falling, &rising));
    if (smooth.empty()) {
        return 0;  // too small to profile: every line keeps every element
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    services::Vector<Candidate> candidates = candidateBands(params, smooth, rising, falling, inked / numLines);
    services::Vector<LineBand> bands = selectBands(candidates, numLines);
    if (bands.empty()) {
        bands.push_back(LineBand{bounds.y, bounds.y + bounds.height - 1, {}, {}, {}});
    }
    const auto m = static_cast<int32_t>(bands.size());
    KOC_ASSERT(m <= numLines);
    for (LineBand& band : bands) {
        band.ink.extend(band.top, band.bottom);
        for (int32_t i = 0; i < n; ++i) {
            if (first[i].rect.y >= band.top && first[i].rect.y + first[i].rect.height <= band.bottom) {
                band.core.extend(first[i].rect.x, first[i].rect.x + first[i].rect.width);
            }
        }
    }
    for (int32_t i = m; i < numLines; ++i) {
        Element* e = rawBegin(lines[i]);
        for (int32_t k = 0; k < rawSize(lines[i]); ++k) {
            e[k].flags |= kFlagOtherLine;
        }
        count[i] = 0;
    }
    for (int32_t b = 0; b < m; ++b) {
        Element* e = rawBegin(lines[b]);
        for (int32_t i = 0; i < n; ++i) {
            assignElement(params, bands[static_cast<size_t>(b)], e[i]);
        }
        LineBand& band = bands[static_cast<size_t>(b)];
        if (band.x.empty()) {
            band.x.lo = band.x.hi = 0;
        }
        koc_charSegmentLineResultData_& data = *lines[b].lineData;
        data.bandRect = kstd_rect32{band.x.lo, band.top, band.x.hi - band.x.lo, band.bottom - band.top};
        data.inkRect = kstd_rect32{band.x.lo, band.ink.lo, band.x.hi - band.x.lo, band.ink.hi - band.ink.lo};
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    // Elements the mask test rejected come back to the first line on whose
    // band they sit squarely; the shared count then reaches past them.
    if (params->useLineMaskTest != 0) {
        const int32_t total = rawSize(lines[0]);
        for (int32_t k = n; k < total; ++k) {
            for (int32_t b = 0; b < m; ++b) {
                const LineBand& band = bands[static_cast<size_t>(b)];
                Element& el = rawBegin(lines[b])[k];
                if (el.flags != kFlagOutsideMask || el.rect.x < band.x.lo || el.rect.x + el.rect.width > band.x.hi) {
                    continue;
                }
                const int32_t overlap =
                    std::min(el.rect.y + el.rect.height, band.bottom) - std::max(el.rect.y, band.top);
                if (overlap >= params->minLineOverlap * std::min(el.rect.height, band.bottom - band.top)) {
                    el.flags &= ~kFlagOutsideMask;
                    n = k + 1;
                    break;
                }
            }
        }
    }
    for (int32_t b = 0; b < m; ++b) {
        KOC_RETURN_IF_FAILED(moveFlaggedBack(&lines[b].lineData->rawElements, n, &count[b]));
    }
    return ksys_attention_check();
}

}  // namespace

int32_t verticalInkProfile(const koc_charSegmentElementInfo* elements, int32_t n, kstd_rect32* bounds,
                           int32_t* inkedRows, services::Vector<int32_t>* smoothed,
                           services::Vector<ProfileEdge>* falling, services::Vector<ProfileEdge>* rising) noexcept
{
    KOC_ASSERT(n == 0 || elements != nullptr);
    KOC_ASSERT(bounds != nullptr && inkedRows != nullptr && smoothed != nullptr && falling != nullptr &&
               rising != nullptr);
    return guarded([&] { return profile(elements, n, bounds, inkedRows, smoothed, falling, rising); });
}

int32_t splitElementsAmongLines(const koc_charSegmentRunParams* params, koc_charSegmentLineResultData_* firstLine,
                                const kimg_image* /*workingImage*/, koc_charSegmentLineResult* lines,
                                kstd_vector32s* elementCountPerLine) noexcept
{
    KOC_ASSERT(params != nullptr && firstLine != nullptr && lines != nullptr && elementCountPerLine != nullptr);
    return guarded([&] { return split(params, firstLine, lines, elementCountPerLine); });
}

}  // namespace koc::hypotheses
