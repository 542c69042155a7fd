// wide_split.cpp: touching characters reach the refinement as one element
// wider than any character may be. Such an element is cut into pieces of
// about a character's width, every piece is narrowed to its heaviest
// character width when still too wide, and blob analysis then runs inside
// each piece so that the pieces fit their marks again.
//
// Two cut rules: a comb of equally wide windows laid over the ink of the
// line blob image, where the pitch and gap that catch the most ink per
// window column win (refinementMode 2, for evenly spaced print); or cuts at
// the valleys of the grey column profile, the deepest first, then cut evenly
// where no valley helps (every other mode).
#include "segment/wide_split.hpp"

#include <algorithm>
#include <cmath>

#include "services/guard.hpp"
#include "koc/ksys.h"

namespace koc::segment {

namespace {

constexpr double kMarginShare = 0.01;       // of the ink that a trimmed margin may hold
constexpr double kValleySpacing = 0.25;     // of the width: a valley nearer a cut is a poor cut
constexpr uint32_t kNoValue = 4294967295u;  // above every column sum

int32_t roundToInt(double v, int64_t* out) noexcept
{
    double r = 0.0;
    KOC_RETURN_IF_FAILED(kmath_double_round(v, &r));
    *out = static_cast<int64_t>(r);
    return 0;
}

int32_t isBound(const kimg_image* image, bool* bound) noexcept
{
    int32_t b = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(image, &b));
    *bound = b != 0;
    return 0;
}

// Ink counts high: with dark marks, a sum over count pixels becomes its
// distance from all-white.
int32_t invertSums(Profile* sums, int32_t count) noexcept
{
    const uint64_t white = uint64_t{255} * static_cast<uint64_t>(count);
    for (uint32_t& s : *sums) {
        KOC_ASSERT(s <= white);
        s = static_cast<uint32_t>(white - s);
    }
    return 0;
}

void cumulate(const uint32_t* profile, int32_t n, Cumulative* c)
{
    c->assign(static_cast<size_t>(n) + 1, 0);
    for (int32_t i = 0; i < n; ++i) {
        (*c)[static_cast<size_t>(i) + 1] = (*c)[static_cast<size_t>(i)] + profile[i];
    }
}

uint64_t phaseMass(const Cumulative& c, int32_t n, int32_t p, int32_t gap, int32_t shortest, int32_t phase)
{
    uint64_t total = 0;
    for (int64_t pos = phase; pos < n; pos += int64_t{p} + gap) {
        const auto len = static_cast<int32_t>(std::min<int64_t>(p, n - pos));
        if (len < shortest) {
            break;
        }
        total += c[static_cast<size_t>(pos + len)] - c[static_cast<size_t>(pos)];
    }
    return total;
}

int32_t elementAt(Elements* elements, int32_t index, koc_charSegmentElementInfo** e) noexcept
{
    koc_charSegmentElementInfo* begin = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSize(elements, &begin, &n));
    KOC_ASSERT(index >= 0 && index < n);
    *e = begin + index;
    return 0;
}

// Piece elements: copies of e over the pieces' columns, marked for
// re-segmentation.
int32_t pieceElements(const koc_charSegmentElementInfo& e, const Pieces& pieces,
                      services::Vector<koc_charSegmentElementInfo>* out)
{
    out->clear();
    for (const kstd_pair32& piece : pieces) {
        KOC_ASSERT(piece.second >= 1 && piece.first >= e.rect.x &&
                   int64_t{piece.first} + piece.second <= int64_t{e.rect.x} + e.rect.width);
        koc_charSegmentElementInfo part = e;
        part.rect = kstd_rect32{piece.first, e.rect.y, piece.second, e.rect.height};
        part.area = -1;
        out->push_back(part);
    }
    return 0;
}

int32_t replaceByElements(Elements* elements, int32_t index, const services::Vector<koc_charSegmentElementInfo>& parts,
                          int32_t* inserted) noexcept
{
    *inserted = 0;
    if (parts.empty()) {
        return 0;
    }
    koc_charSegmentElementInfo* e = nullptr;
    KOC_RETURN_IF_FAILED(elementAt(elements, index, &e));
    *e = parts[0];
    const auto extra = static_cast<intptr_t>(parts.size()) - 1;
    if (extra > 0) {
        KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_insert(elements, index + 1, parts.data() + 1, extra));
    }
    *inserted = static_cast<int32_t>(extra);
    return 0;
}

}  // namespace

int32_t edgeTrim(const uint32_t* profile, int32_t n, uint64_t t, int32_t* lead, int32_t* trail) noexcept
{
    KOC_ASSERT(lead != nullptr && trail != nullptr && (n == 0 || profile != nullptr));
    *lead = n;
    *trail = 0;
    uint64_t sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        sum += profile[i];
        if (sum > t) {
            *lead = i;
            break;
        }
    }
    if (*lead == n) {
        return 0;
    }
    sum = 0;
    for (int32_t j = 0; j < n; ++j) {
        sum += profile[n - 1 - j];
        if (sum > t) {
            *trail = j;
            break;
        }
    }
    return 0;
}

int32_t trimElementMargins(const kimg_image* workingImage, const kimg_image* blobImage, uint32_t polarity,
                           double rowShare, double columnShare, koc_charSegmentElementInfo* e) noexcept
{
    MarginScratch scratch;
    return trimElementMargins(workingImage, blobImage, polarity, rowShare, columnShare, e, &scratch);
}

int32_t trimElementMargins(const kimg_image* workingImage, const kimg_image* /*blobImage*/, uint32_t polarity,
                           double rowShare, double columnShare, koc_charSegmentElementInfo* e,
                           MarginScratch* scratch) noexcept
{
    KOC_ASSERT(workingImage != nullptr && e != nullptr && scratch != nullptr);
    bool bound = false;
    KOC_RETURN_IF_FAILED(isBound(workingImage, &bound));
    if (!bound) {
        return 0;
    }
    return guarded([&]() -> int32_t {
        Profile& columns = scratch->columns;
        Profile& rows = scratch->rows;
        KOC_RETURN_IF_FAILED(projectRect(workingImage, e->rect, &columns, &rows));
        if (polarity == 1) {
            KOC_RETURN_IF_FAILED(invertSums(&rows, e->rect.width));
            KOC_RETURN_IF_FAILED(invertSums(&columns, e->rect.height));
        }
        uint64_t total = 0;
        for (const uint32_t s : rows) {
            total += s;
        }
        int64_t tRows = 0;
        int64_t tColumns = 0;
        KOC_RETURN_IF_FAILED(roundToInt(rowShare * static_cast<double>(total), &tRows));
        KOC_RETURN_IF_FAILED(roundToInt(columnShare * static_cast<double>(total), &tColumns));
        if (tRows == 0 && tColumns == 0) {
            return 0;
        }
        int32_t top = 0, bottom = 0, left = 0, right = 0;
        KOC_RETURN_IF_FAILED(edgeTrim(rows.data(), static_cast<int32_t>(rows.size()), static_cast<uint64_t>(tRows),
                                      &top, &bottom));
        KOC_RETURN_IF_FAILED(edgeTrim(columns.data(), static_cast<int32_t>(columns.size()),
                                      static_cast<uint64_t>(tColumns), &left, &right));
        KOC_RETURN_IF_FAILED(kstd_rect32_trim(&e->rect, left, top, right, bottom));
        if (e->area >= 0) {
            e->area = static_cast<int32_t>(
                std::min<int64_t>(e->area, int64_t{e->rect.width} * e->rect.height));
        }
        return 0;
    });
}

int32_t expectedPieceCount(int32_t n, int32_t w, int32_t* k) noexcept
{
    KOC_ASSERT(k != nullptr && n >= 1 && w >= 1);
    if (w >= n) {
        *k = 1;
        return 0;
    }
    int32_t count = n / w;
    // The count whose mean piece width lies nearest w; a tie goes to more
    // pieces.
    const double dn = n;
    const double dw = w;
    if (n % w != 0 && std::fabs(dw - dn / (count + 1)) <= std::fabs(dw - dn / count)) {
        ++count;
    }
    *k = count;
    return 0;
}

int32_t combPlacement(const Cumulative& cumulative, int32_t n, int32_t p, int32_t minCharWidth, int32_t gap,
                      services::Vector<int32_t>* starts, services::Vector<uint64_t>* masses,
                      int32_t* count) noexcept
{
    KOC_ASSERT(starts != nullptr && masses != nullptr && count != nullptr);
    KOC_ASSERT(p >= 1 && gap >= 0 && n >= 0 && cumulative.size() == static_cast<size_t>(n) + 1);
    *count = 0;
    return guarded([&]() -> int32_t {
        starts->clear();
        masses->clear();
        if (p > n) {
            return 0;
        }
        const int64_t period = int64_t{p} + gap;
        const int64_t windows = period < n ? std::max<int64_t>((n + int64_t{gap}) / period, 1) : 1;
        const int64_t slack = std::max<int64_t>(n - (windows * p + (windows - 1) * gap), 0);
        // A window cut short by the end of the element still counts when it
        // is nearly full.
        const int32_t shortest = std::max(minCharWidth, std::max(p - 1, 1));
        int32_t bestPhase = 0;
        uint64_t best = phaseMass(cumulative, n, p, gap, shortest, 0);
        for (int32_t s = 1; s <= slack; ++s) {
            const uint64_t mass = phaseMass(cumulative, n, p, gap, shortest, s);
            if (mass > best) {
                best = mass;
                bestPhase = s;
            }
        }
        for (int64_t pos = bestPhase; pos < n; pos += period) {
            const auto len = static_cast<int32_t>(std::min<int64_t>(p, n - pos));
            if (len < shortest) {
                break;
            }
            starts->push_back(static_cast<int32_t>(pos));
            masses->push_back(cumulative[static_cast<size_t>(pos + len)] - cumulative[static_cast<size_t>(pos)]);
        }
        *count = static_cast<int32_t>(starts->size());
        return 0;
    });
}

int32_t growNarrowPieces(const uint32_t* profile, const Cumulative& cumulative, int32_t n, int32_t x0, int32_t w,
                         Pieces* pieces) noexcept
{
    KOC_ASSERT(profile != nullptr && pieces != nullptr && cumulative.size() == static_cast<size_t>(n) + 1);
    Pieces& ps = *pieces;
    bool grew = true;
    while (grew) {
        grew = false;
        for (size_t q = 0; q < ps.size(); ++q) {
            const int32_t width = ps[q].second;
            if (width >= w) {
                continue;
            }
            const int32_t l = ps[q].first - x0;
            KOC_ASSERT(l >= 0 && width >= 1 && l + width <= n);
            int64_t mean = 0;
            const auto mass = static_cast<double>(cumulative[static_cast<size_t>(l + width)] -
                                                  cumulative[static_cast<size_t>(l)]);
            KOC_RETURN_IF_FAILED(roundToInt(mass / width, &mean));
            const bool leftFree = l > 0 && (q == 0 || ps[q - 1].first - x0 + ps[q - 1].second - 1 < l - 1);
            const bool rightFree = l + width < n && (q + 1 == ps.size() || ps[q + 1].first - x0 > l + width);
            const bool growLeft = leftFree && profile[l - 1] >= mean;
            const bool growRight = rightFree && profile[l + width] >= mean;
            if (growRight && (!growLeft || profile[l + width] > profile[l - 1])) {
                ps[q].second += 1;
                grew = true;
            } else if (growLeft) {
                ps[q].first -= 1;
                ps[q].second += 1;
                grew = true;
            }
        }
    }
    return 0;
}

int32_t placeCombCuts(const uint32_t* profile, int32_t n, int32_t x0, int32_t w, int32_t minCharWidth,
                      Pieces* pieces) noexcept
{
    KOC_ASSERT(profile != nullptr && pieces != nullptr && n >= 1 && w >= 1);
    w = std::min(w, n);
    return guarded([&]() -> int32_t {
        Cumulative c;
        cumulate(profile, n, &c);
        int32_t k = 0;
        KOC_RETURN_IF_FAILED(expectedPieceCount(n, w, &k));
        const int32_t minPitch = std::min(std::max(n / k, minCharWidth), w);

        services::Vector<int32_t> starts, bestStarts;
        services::Vector<uint64_t> masses;
        bool have = false;
        int32_t bestCount = 0;
        int32_t bestPitch = 0;
        double bestMass = 0.0;
        double bestSpan = 0.0;
        for (int32_t p = minPitch; p <= w; ++p) {
            for (int32_t gap = 0; gap <= w / 2; ++gap) {
                int32_t m = 0;
                KOC_RETURN_IF_FAILED(combPlacement(c, n, p, minCharWidth, gap, &starts, &masses, &m));
                uint64_t sum = 0;
                for (const uint64_t v : masses) {
                    sum += v;
                }
                const auto mass = static_cast<double>(sum);
                const double span = static_cast<double>(m) * p;
                bool take = !have;
                if (have) {
                    // Reaching the expected count matters first; then the
                    // ink caught per window column.
                    const bool bestReaches = k <= bestCount;
                    const bool newReaches = k <= m;
                    take = bestReaches == newReaches ? mass * bestSpan > bestMass * span : newReaches;
                }
                if (take) {
                    have = true;
                    bestStarts = starts;
                    bestCount = m;
                    bestPitch = p;
                    bestMass = mass;
                    bestSpan = span;
                }
            }
        }
        pieces->clear();
        for (const int32_t s : bestStarts) {
            pieces->push_back({x0 + s, std::min(bestPitch, n - s)});
        }
        return growNarrowPieces(profile, c, n, x0, w, pieces);
    });
}

int32_t replaceByPieces(Elements* elements, int32_t index, const Pieces& pieces, int32_t* inserted) noexcept
{
    KOC_ASSERT(elements != nullptr && inserted != nullptr);
    *inserted = 0;
    koc_charSegmentElementInfo* e = nullptr;
    KOC_RETURN_IF_FAILED(elementAt(elements, index, &e));
    const koc_charSegmentElementInfo whole = *e;
    return guarded([&]() -> int32_t {
        services::Vector<koc_charSegmentElementInfo> parts;
        KOC_RETURN_IF_FAILED(pieceElements(whole, pieces, &parts));
        return replaceByElements(elements, index, parts, inserted);
    });
}

int32_t splitByInkComb(const kimg_image* blobImage, Elements* elements, int32_t index, int32_t w,
                       int32_t minCharWidth, int32_t* inserted) noexcept
{
    KOC_ASSERT(blobImage != nullptr && elements != nullptr && inserted != nullptr);
    *inserted = 0;
    koc_charSegmentElementInfo* e = nullptr;
    KOC_RETURN_IF_FAILED(elementAt(elements, index, &e));
    const koc_charSegmentElementInfo whole = *e;
    bool bound = false;
    KOC_RETURN_IF_FAILED(isBound(blobImage, &bound));
    if (whole.rect.width <= w || !bound) {
        return 0;
    }
    return guarded([&]() -> int32_t {
        Profile p;
        KOC_RETURN_IF_FAILED(projectRect(blobImage, whole.rect, &p, nullptr));
        Pieces pieces;
        KOC_RETURN_IF_FAILED(placeCombCuts(p.data(), whole.rect.width, whole.rect.x, w, minCharWidth, &pieces));
        // No usable width (w < 1 from extreme parameters) places no cut at
        // all: the element stays whole.
        if (pieces.empty()) {
            return 0;
        }
        return replaceByPieces(elements, index, pieces, inserted);
    });
}

int32_t mergeAdjacentPieces(int32_t w, Pieces* pieces) noexcept
{
    KOC_ASSERT(pieces != nullptr);
    Pieces& ps = *pieces;
    for (;;) {
        size_t best = ps.size();
        int64_t bestSpan = 0;
        for (size_t q = 0; q + 1 < ps.size(); ++q) {
            const int64_t span = int64_t{ps[q + 1].first} + ps[q + 1].second - ps[q].first;
            if (span <= w && (best == ps.size() || span < bestSpan)) {
                best = q;
                bestSpan = span;
            }
        }
        if (best == ps.size()) {
            return 0;
        }
        ps[best].second = static_cast<int32_t>(bestSpan);
        ps.erase(ps.begin() + static_cast<std::ptrdiff_t>(best) + 1);
    }
}

int32_t chooseValleyCuts(const uint32_t* profile, int32_t n, int32_t w, services::Vector<int32_t>* cuts) noexcept
{
    KOC_ASSERT(cuts != nullptr && (n == 0 || profile != nullptr));
    return guarded([&]() -> int32_t {
        cuts->clear();
        services::Vector<int32_t> candidates;
        if (w < n) {
            for (int32_t i = 1; i + 1 < n; ++i) {
                if (profile[i] < profile[i - 1] && profile[i] <= profile[i + 1]) {
                    candidates.push_back(i);
                }
            }
        }
        if (candidates.empty()) {
            return 0;
        }
        int64_t spacing = 0;
        KOC_RETURN_IF_FAILED(roundToInt(kValleySpacing * w, &spacing));

        // The deepest valley first, but a valley near a cut (or an end) only
        // while no far one has been seen: cutting a sliver off helps nobody.
        services::Vector<char> chosen(candidates.size(), 0);
        services::Vector<int32_t> sorted;  // the cuts so far, ascending
        for (;;) {
            size_t best = candidates.size();
            uint32_t bestValue = kNoValue;
            bool bestNear = true;
            for (size_t q = 0; q < candidates.size(); ++q) {
                const int32_t pos = candidates[q];
                if (chosen[q] != 0 || !(profile[pos] < bestValue)) {
                    continue;
                }
                const auto right = std::upper_bound(sorted.begin(), sorted.end(), pos);
                const int32_t rightCut = right == sorted.end() ? n : *right;
                const int32_t leftCut = right == sorted.begin() ? 0 : *(right - 1);
                const bool near = std::min(pos - leftCut, rightCut - pos) < spacing;
                if (near && !bestNear) {
                    continue;
                }
                best = q;
                bestValue = profile[pos];
                bestNear = near;
            }
            if (best == candidates.size()) {
                return 0;
            }
            chosen[best] = 1;
            cuts->push_back(candidates[best]);
            sorted.insert(std::upper_bound(sorted.begin(), sorted.end(), candidates[best]), candidates[best]);
            bool fits = true;
            int32_t previous = 0;
            for (const int32_t cut : sorted) {
                fits = fits && cut - previous <= w;
                previous = cut;
            }
            if (fits && n - previous <= w) {
                return 0;
            }
        }
    });
}

int32_t findValleyCuts(const uint32_t* profile, int32_t n, int32_t x0, int32_t w, Pieces* pieces) noexcept
{
    KOC_ASSERT(pieces != nullptr);
    return guarded([&]() -> int32_t {
        pieces->clear();
        services::Vector<int32_t> cuts;
        KOC_RETURN_IF_FAILED(chooseValleyCuts(profile, n, w, &cuts));
        std::sort(cuts.begin(), cuts.end());
        int32_t start = 0;
        for (const int32_t cut : cuts) {
            pieces->push_back({x0 + start, cut - start});
            start = cut;
        }
        pieces->push_back({x0 + start, n - start});
        return mergeAdjacentPieces(w, pieces);
    });
}

int32_t splitEvenly(kstd_pair32 piece, int32_t w, Pieces* pieces) noexcept
{
    KOC_ASSERT(pieces != nullptr);
    // Degenerate input (an empty piece between two equal cuts, or no usable
    // character width) splits nothing instead of breaking the count's
    // precondition.
    if (piece.second < 1 || w < 1) {
        return guarded([&]() -> int32_t {
            pieces->clear();
            if (piece.second >= 1) {
                pieces->push_back(piece);
            }
            return 0;
        });
    }
    int32_t k = 0;
    KOC_RETURN_IF_FAILED(expectedPieceCount(piece.second, w, &k));
    return guarded([&]() -> int32_t {
        pieces->clear();
        if (k == 1) {
            pieces->push_back(piece);
            return 0;
        }
        const double step = static_cast<double>(piece.second) / k;
        const int64_t end = int64_t{piece.first} + piece.second;
        int64_t pos = piece.first;
        for (int32_t i = 0; i < k; ++i) {
            int64_t length = 0;
            KOC_RETURN_IF_FAILED(roundToInt((i + 1) * step - static_cast<double>(pos - piece.first), &length));
            length = std::min(length, end - pos);
            KOC_ASSERT(length >= 1);
            pieces->push_back({static_cast<int32_t>(pos), static_cast<int32_t>(length)});
            pos += length;
        }
        return 0;
    });
}

int32_t valleyCuts(const uint32_t* profile, int32_t n, int32_t x0, int32_t w, Pieces* pieces) noexcept
{
    KOC_ASSERT(pieces != nullptr);
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    return guarded([&]() -> int32_t {
        Pieces raw;
        KOC_RETURN_IF_FAILED(findValleyCuts(profile, n, x0, w, &raw));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        pieces->clear();
        Pieces parts;
        for (const kstd_pair32& piece : raw) {
            KOC_RETURN_IF_FAILED(splitEvenly(piece, w, &parts));
            pieces->insert(pieces->end(), parts.begin(), parts.end());
        }
        return 0;
    });
}

int32_t splitAtValleys(const kimg_image* workingImage, const kimg_image* blobImage, Elements* elements,
                       int32_t index, int32_t w, uint32_t polarity, double share, int32_t* inserted) noexcept
{
    KOC_ASSERT(workingImage != nullptr && elements != nullptr && inserted != nullptr);
    *inserted = 0;
    koc_charSegmentElementInfo* e = nullptr;
    KOC_RETURN_IF_FAILED(elementAt(elements, index, &e));
    const koc_charSegmentElementInfo whole = *e;
    bool bound = false;
    KOC_RETURN_IF_FAILED(isBound(workingImage, &bound));
    if (whole.rect.width <= w || !bound) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    return guarded([&]() -> int32_t {
        Profile p;
        KOC_RETURN_IF_FAILED(projectRect(workingImage, whole.rect, &p, nullptr));
        if (polarity == 1) {
            KOC_RETURN_IF_FAILED(invertSums(&p, whole.rect.height));
        }
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        Pieces pieces;
        KOC_RETURN_IF_FAILED(valleyCuts(p.data(), whole.rect.width, whole.rect.x, w, &pieces));
        services::Vector<koc_charSegmentElementInfo> parts;
        KOC_RETURN_IF_FAILED(pieceElements(whole, pieces, &parts));
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        // A cut through a valley leaves the piece's faint edge columns; only
        // the columns are trimmed, the rows stay the element's.
        MarginScratch scratch;
        for (auto& part : parts) {
            KOC_RETURN_IF_FAILED(trimElementMargins(workingImage, blobImage, polarity, 0.0, share, &part, &scratch));
        }
        return replaceByElements(elements, index, parts, inserted);
    });
}

int32_t bestMassWindow(const uint32_t* profile, int32_t n, int32_t w, int32_t* first, int32_t* last) noexcept
{
    KOC_ASSERT(first != nullptr && last != nullptr && (n == 0 || profile != nullptr));
    *first = 0;
    *last = n - 1;
    if (w >= n || w < 1) {
        return 0;
    }
    uint64_t sum = 0;
    for (int32_t i = 0; i < w; ++i) {
        sum += profile[i];
    }
    uint64_t best = sum;
    for (int32_t s = 1; s + w <= n; ++s) {
        sum += profile[s + w - 1];
        sum -= profile[s - 1];
        if (sum > best) {
            best = sum;
            *first = s;
        }
    }
    *last = *first + w - 1;
    return 0;
}

int32_t trimToBestWindow(const kimg_image* blobImage, koc_charSegmentElementInfo* e, int32_t w) noexcept
{
    KOC_ASSERT(blobImage != nullptr && e != nullptr);
    if (e->rect.width <= w) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    bool bound = false;
    KOC_RETURN_IF_FAILED(isBound(blobImage, &bound));
    if (!bound) {
        return 0;
    }
    return guarded([&]() -> int32_t {
        Profile p;
        KOC_RETURN_IF_FAILED(projectRect(blobImage, e->rect, &p, nullptr));
        const int32_t n = e->rect.width;
        int32_t first = 0;
        int32_t last = 0;
        KOC_RETURN_IF_FAILED(bestMassWindow(p.data(), n, w, &first, &last));
        if (first != 0 || last != n - 1) {
            e->rect.x += first;
            e->rect.width = last - first + 1;
            e->area = -1;
        }
        return 0;
    });
}

int32_t cutWideElement(const kimg_image* workingImage, const kimg_image* blobImage, Elements* elements, int32_t index,
                       uint32_t refinementMode, int32_t w, int32_t minCharWidth, uint32_t polarity, double share,
                       int32_t* inserted) noexcept
{
    KOC_ASSERT(workingImage != nullptr && blobImage != nullptr && elements != nullptr && inserted != nullptr);
    *inserted = 0;
    koc_charSegmentElementInfo* e = nullptr;
    KOC_RETURN_IF_FAILED(elementAt(elements, index, &e));
    // Without a usable character width (w < 1, from extreme parameters)
    // there is nothing to cut to: the element stays whole.
    if (w < 1 || e->rect.width <= w) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    if (refinementMode == 2) {
        KOC_RETURN_IF_FAILED(splitByInkComb(blobImage, elements, index, w, minCharWidth, inserted));
    } else {
        KOC_RETURN_IF_FAILED(splitAtValleys(workingImage, blobImage, elements, index, w, polarity, share, inserted));
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    for (int32_t q = index; q <= index + *inserted; ++q) {
        KOC_RETURN_IF_FAILED(elementAt(elements, q, &e));
        KOC_RETURN_IF_FAILED(trimToBestWindow(blobImage, e, w));
    }
    return 0;
}

int32_t splitWideElements(Elements* elements, const kimg_image* workingImage, const kimg_image* blobImage,
                          const koc_charSegmentRunParams* params, int32_t mode, int32_t wideOnly,
                          int32_t* changed) noexcept
{
    KOC_ASSERT(elements != nullptr && workingImage != nullptr && blobImage != nullptr);
    KOC_ASSERT(params != nullptr && changed != nullptr);
    *changed = 0;
    int32_t w = 0;
    KOC_RETURN_IF_FAILED(lineMaxCharWidth(elements, params, &w));

    // Margins first: faint edge columns would widen an element past w.
    // A wide element may shed columns in proportion to how far it is over.
    koc_charSegmentElementInfo* e = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSize(elements, &e, &n));
    MarginScratch scratch;
    for (int32_t i = 0; i < n; ++i) {
        const bool wide = e[i].rect.width > w;
        const float ratio = wide ? static_cast<float>(w) / static_cast<float>(e[i].rect.width) : 1.0f;
        if (wideOnly == 0 || wide) {
            KOC_RETURN_IF_FAILED(trimElementMargins(workingImage, blobImage, params->polarity, kMarginShare,
                                                    static_cast<double>(ratio) * kMarginShare, &e[i], &scratch));
        }
    }

    bool cut = false;
    if (w < kNoLimit) {
        int32_t i = 0;
        while (i < n) {
            int32_t next = i + 1;
            KOC_RETURN_IF_FAILED(elementAt(elements, i, &e));
            if (e->rect.width > w) {
                cut = true;
                int32_t inserted = 0;
                KOC_RETURN_IF_FAILED(cutWideElement(workingImage, blobImage, elements, i, params->refinementMode, w,
                                                    params->minCharWidth, params->polarity, kMarginShare, &inserted));
                KOC_RETURN_IF_FAILED(ksys_attention_check());
                // The new pieces are not cut again in this pass.
                n += inserted;
                next += inserted;
            }
            i = next;
        }
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    if (cut) {
        KOC_RETURN_IF_FAILED(resegmentMarkedElements(elements, workingImage, params, mode, changed));
    }
    return ksys_attention_check();
}

}  // namespace koc::segment
