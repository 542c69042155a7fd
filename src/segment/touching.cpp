// touching.cpp: touching glyphs cut apart along the cheapest path through
// their ink.
//
// Where two glyphs touch, a path from the top of the blob to its bottom can
// pass between them crossing only the pixel or two where they meet, while
// any path through one glyph (the middle of a W, the arch of an m) must
// cross a whole stroke. So a blob is cut only where such a path exists, and
// only when it is wide enough to be more than one glyph; the width of one
// glyph comes from the line's own isolated glyphs. Rasterised strokes thin
// out in places (a diagonal's pinch, a hairline), so the pixel or two a
// path crosses counts as a touch only where the strokes beside it are far
// wider, or where the glyphs meet at their feet or heads. The path may
// move one column per row, so it follows the slanted gap between A and V,
// which no vertical cut finds.
#include "segment/touching.hpp"

#include <algorithm>
#include <array>

#include "koc/ksys.h"
#include "segment/refine.hpp"
#include "services/guard.hpp"
#include "services/pel_ops.hpp"
#include "services/stroke_width.hpp"

namespace koc::segment {

namespace {

using ElementList = services::Vector<koc_charSegmentElementInfo>;

// Costs in sixteenths of an ink pixel: a diagonal step costs one sixteenth,
// so of two paths through the same ink the straighter wins.
constexpr int32_t kInkCost = 16;
constexpr int32_t kBendCost = 1;
constexpr int32_t kUnreachable = INT32_MAX / 4;
constexpr uint8_t kBlobValue = 255;

// An element's ink as a grid of flags, and the columns [lo, hi) of each row
// that belong to one piece of it.
struct Grid {
    services::Vector<uint8_t> ink;
    services::Vector<uint8_t> strokes;  // minimum stroke width of each ink pixel
    int32_t width = 0;
    int32_t height = 0;
    uint8_t at(int32_t x, int32_t y) const noexcept
    {
        return ink[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
    uint8_t strokeAt(int32_t x, int32_t y) const noexcept
    {
        return strokes[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

struct Piece {
    services::Vector<int32_t> lo;
    services::Vector<int32_t> hi;
};

struct InkBox {
    int32_t left = INT32_MAX, right = -1, top = INT32_MAX, bottom = -1;
    int32_t count = 0;
    int32_t width() const noexcept { return count > 0 ? right - left + 1 : 0; }
};

InkBox inkBox(const Grid& g, const Piece& p)
{
    InkBox b;
    for (int32_t y = 0; y < g.height; ++y) {
        for (int32_t x = p.lo[static_cast<size_t>(y)]; x < p.hi[static_cast<size_t>(y)]; ++x) {
            if (g.at(x, y) != 0) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
                ++b.count;
            }
        }
    }
    return b;
}

struct Settings {
    int32_t glyphWidth;
    int32_t maxInk;      // ink a cut may cross
    int32_t overlapInk;  // ink a cut may cross in a piece of two glyphs or more
    int32_t reach;       // rows and columns either side of a crossing that show what it joins
};

// Whether the ink a cheap path crosses in piece is where two glyphs meet
// rather than a thin spot of one glyph's own stroke. Rasterised strokes
// pinch: a diagonal two pixels wide steps across the pixel rows and
// narrows to one on the way, and a hairline diagonal (a W, a K's arm) is
// one pixel all along, so a path through one or two pixels of ink inside a
// glyph is no evidence of a touch. Two glyphs that meet inside the band do
// so by a pixel or two between strokes of their full width, so there the
// strokes either side of the crossing (the piece's ink within reach of the
// crossing rows, left and right of the path; the median minimum stroke
// width of each side) must be more than twice as wide as the ink the path
// crosses. Glyphs that meet at their feet or heads (serifs, bars, stroke
// ends on the baseline or the cap line) join on the piece's first or last
// rows, where stroke ends press against each other and the join may be as
// thick as the thinner of them: within reach of the piece's top or bottom,
// a crossing no wider than the narrower side's strokes and narrower than
// the wider side's is a touch (where two strokes of the same width meet in
// a point, the tip of a V or an M's vertex, they are one glyph). A path
// that crosses no ink parts marks that were never joined.
bool crossesTouch(const Grid& g, const Piece& piece, const services::Vector<int32_t>& path, int32_t reach)
{
    int32_t crossed = 0;
    int32_t top = g.height, bottom = -1;
    for (int32_t y = 0; y < g.height; ++y) {
        const int32_t x = path[static_cast<size_t>(y)];
        if (x >= 0 && x < g.width && g.at(x, y) != 0) {
            ++crossed;
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (crossed == 0) {
        return true;
    }
    int32_t inkTop = g.height, inkBottom = -1;
    for (int32_t y = 0; y < g.height; ++y) {
        const auto r = static_cast<size_t>(y);
        for (int32_t x = piece.lo[r]; x < piece.hi[r]; ++x) {
            if (g.at(x, y) != 0) {
                inkTop = std::min(inkTop, y);
                inkBottom = std::max(inkBottom, y);
                break;
            }
        }
    }
    const bool atRim = bottom <= inkTop + reach || top >= inkBottom - reach;
    std::array<uint32_t, 256> left{}, right{};
    uint32_t leftCount = 0, rightCount = 0;
    for (int32_t y = std::max(0, top - reach); y <= std::min(g.height - 1, bottom + reach); ++y) {
        const auto r = static_cast<size_t>(y);
        const int32_t x0 = std::max(piece.lo[r], path[r] - reach);
        const int32_t x1 = std::min(piece.hi[r], path[r] + reach + 1);
        for (int32_t x = x0; x < x1; ++x) {
            if (x == path[r] || g.at(x, y) == 0) {
                continue;
            }
            if (x < path[r]) {
                ++left[g.strokeAt(x, y)];
                ++leftCount;
            } else {
                ++right[g.strokeAt(x, y)];
                ++rightCount;
            }
        }
    }
    const auto median = [](const std::array<uint32_t, 256>& h, uint32_t n) {
        uint32_t cum = 0;
        for (int32_t v = 0; v < 256; ++v) {
            cum += h[static_cast<size_t>(v)];
            if (2 * cum >= n) {
                return v;
            }
        }
        return 255;
    };
    if (leftCount == 0 || rightCount == 0) {
        return false;
    }
    const int32_t narrower = std::min(median(left, leftCount), median(right, rightCount));
    const int32_t wider = std::max(median(left, leftCount), median(right, rightCount));
    return atRim ? narrower >= crossed && wider > crossed : narrower > crossed && wider > 2 * crossed;
}

// Cuts piece while a cheap path parts it into two sides that each hold a
// glyph's worth of ink; appends the pieces' ink boxes to out.
int32_t cutPiece(const Grid& g, const Piece& piece, const Settings& s, int32_t depth, services::Vector<InkBox>* out,
                 int32_t* cuts)
{
    const InkBox box = inkBox(g, piece);
    if (box.count == 0) {
        return 0;
    }
    // A piece narrower than one and a half glyphs is one glyph; the depth
    // bound only guards against pathological blobs.
    if (2 * int64_t{box.width()} < 3 * int64_t{s.glyphWidth} || depth > 64) {
        out->push_back(box);
        return 0;
    }
    // First anywhere at least 40 % of a glyph in from the piece's ends,
    // through at most half a stroke: where glyphs only touch, the path
    // finds the gap however unequal they are (W beside A).
    const int32_t margin = std::max(2, s.glyphWidth * 2 / 5);
    services::Vector<int32_t> path;
    int32_t crossed = -1;
    {
        services::Vector<int32_t> lo(piece.lo), hi(piece.hi);
        for (int32_t y = 0; y < g.height; ++y) {
            lo[static_cast<size_t>(y)] = std::max(lo[static_cast<size_t>(y)], box.left + margin);
            hi[static_cast<size_t>(y)] = std::min(hi[static_cast<size_t>(y)], box.right + 1 - margin);
        }
        KOC_RETURN_IF_FAILED(cheapestCutPath(g.ink.data(), g.width, g.height, lo, hi, &path, &crossed));
    }
    // Glyphs that overlap (tight or negative spacing, blur) meet over a
    // stroke or more. A piece at least 1.7 glyphs wide holds two glyphs
    // whatever they are (a W or an M alone is narrower), so there a path
    // through up to a whole stroke may part them, but only near one of
    // the k - 1 even divisions of its width (a third of a glyph either
    // side), where the boundary of k glyphs of about one width lies.
    int32_t limit = s.maxInk;
    bool overlapping = false;
    if ((crossed < 0 || crossed > s.maxInk) && 10 * int64_t{box.width()} >= 17 * int64_t{s.glyphWidth}) {
        const int32_t k = std::max(2, (box.width() + s.glyphWidth / 2) / s.glyphWidth);
        const int32_t slack = std::max(2, s.glyphWidth / 3);
        for (int32_t j = 1; j < k; ++j) {
            const int32_t centre = box.left + static_cast<int32_t>(int64_t{j} * box.width() / k);
            const int32_t from = std::max(box.left + margin, centre - slack);
            const int32_t to = std::min(box.right + 1 - margin, centre + slack + 1);
            if (from >= to) {
                continue;
            }
            services::Vector<int32_t> lo(piece.lo), hi(piece.hi);
            for (int32_t y = 0; y < g.height; ++y) {
                lo[static_cast<size_t>(y)] = std::max(lo[static_cast<size_t>(y)], from);
                hi[static_cast<size_t>(y)] = std::min(hi[static_cast<size_t>(y)], to);
            }
            services::Vector<int32_t> candidate;
            int32_t cost = -1;
            KOC_RETURN_IF_FAILED(cheapestCutPath(g.ink.data(), g.width, g.height, lo, hi, &candidate, &cost));
            if (cost >= 0 && (crossed < 0 || cost < crossed)) {
                crossed = cost;
                path = std::move(candidate);
            }
        }
        limit = s.overlapInk;
        overlapping = true;
    }
    if (crossed < 0 || crossed > limit || (!overlapping && !crossesTouch(g, piece, path, s.reach))) {
        out->push_back(box);
        return 0;
    }
    Piece left{piece.lo, piece.hi};
    Piece right{piece.lo, piece.hi};
    for (int32_t y = 0; y < g.height; ++y) {
        const auto r = static_cast<size_t>(y);
        left.hi[r] = std::max(piece.lo[r], std::min(piece.hi[r], path[r]));
        right.lo[r] = std::min(piece.hi[r], std::max(piece.lo[r], path[r]));
    }
    // Both sides must hold a glyph: ink at least a quarter of the smaller
    // share a glyph of this piece would have, and a third of a glyph wide.
    const InkBox a = inkBox(g, left);
    const InkBox b = inkBox(g, right);
    const int32_t minInk = box.count / (4 * std::max(2, box.width() / std::max(1, s.glyphWidth)));
    if (a.count <= minInk || b.count <= minInk || 3 * a.width() < s.glyphWidth || 3 * b.width() < s.glyphWidth) {
        out->push_back(box);
        return 0;
    }
    ++*cuts;
    KOC_RETURN_IF_FAILED(cutPiece(g, left, s, depth + 1, out, cuts));
    return cutPiece(g, right, s, depth + 1, out, cuts);
}

int32_t median(services::Vector<int32_t> v)
{
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[(v.size() - 1) / 2];
}

// Stroke width of the line: the median minimum stroke width over the ink
// of the given elements.
int32_t lineStrokeWidth(const kimg_image* blobImage, const ElementList& elements, int32_t* width)
{
    *width = 0;
    services::StrokeDetectParams range;
    range.markLow = kBlobValue;
    range.markHigh = kBlobValue;
    services::StrokeDetectResult strokes;
    KOC_RETURN_IF_FAILED(services::strokeDetect8(blobImage, &range, &strokes));
    services::ScopedImage widths;
    KOC_RETURN_IF_FAILED(services::strokeDetectMinStrokeWidthImage(&strokes, widths.get()));
    services::PixelRows<const uint8_t> w;
    KOC_RETURN_IF_FAILED(services::viewPixels(widths.get(), &w));
    std::array<uint64_t, 256> hist{};
    uint64_t total = 0;
    for (const auto& e : elements) {
        const int32_t x0 = std::max(e.rect.x, w.x), x1 = std::min(e.rect.x + e.rect.width, w.x + w.width);
        const int32_t y0 = std::max(e.rect.y, w.y), y1 = std::min(e.rect.y + e.rect.height, w.y + w.height);
        for (int32_t y = y0; y < y1; ++y) {
            const uint8_t* row = w.row(y - w.y);
            for (int32_t x = x0; x < x1; ++x) {
                if (row[x - w.x] != 0) {
                    ++hist[row[x - w.x]];
                    ++total;
                }
            }
        }
    }
    uint64_t cum = 0;
    for (int32_t v = 1; v < 256; ++v) {
        cum += hist[static_cast<size_t>(v)];
        if (total > 0 && 2 * cum >= total) {
            *width = v;
            break;
        }
    }
    return 0;
}

// Cuts the elements e[0..n) with the line's measure *m (a glyph width of
// at least 2 and a stroke width of at least 1); replaces elements' contents
// when something was cut.
int32_t cutElements(const koc_charSegmentElementInfo* e, int32_t n, const kimg_image* blobImage, TouchingMeasure* m,
                    Elements* elements)
{
    const Settings settings{m->glyphWidth, std::max(1, (m->strokeWidth + 1) / 2), m->strokeWidth,
                            std::max(2, m->strokeWidth + 1)};

    services::PixelRows<const uint8_t> view;
    KOC_RETURN_IF_FAILED(services::viewPixels(blobImage, &view));
    // The stroke widths of the line's ink, made when the first element
    // wide enough to cut comes up.
    services::ScopedImage strokeImage;
    services::PixelRows<const uint8_t> strokeView;
    bool haveStrokes = false;
    ElementList out;
    bool cut = false;
    for (int32_t i = 0; i < n; ++i) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        const kstd_rect32 r = e[i].rect;
        const bool inside = r.x >= view.x && r.y >= view.y && r.x + r.width <= view.x + view.width &&
                            r.y + r.height <= view.y + view.height;
        if (!inside || r.width <= 0 || r.height <= 0 || 2 * int64_t{r.width} < 3 * int64_t{m->glyphWidth}) {
            out.push_back(e[i]);
            continue;
        }
        if (!haveStrokes) {
            services::StrokeDetectParams range;
            range.markLow = kBlobValue;
            range.markHigh = kBlobValue;
            services::StrokeDetectResult strokes;
            KOC_RETURN_IF_FAILED(services::strokeDetect8(blobImage, &range, &strokes));
            KOC_RETURN_IF_FAILED(services::strokeDetectMinStrokeWidthImage(&strokes, strokeImage.get()));
            KOC_RETURN_IF_FAILED(services::viewPixels(strokeImage.get(), &strokeView));
            haveStrokes = true;
        }
        Grid g;
        g.width = r.width;
        g.height = r.height;
        g.ink.resize(static_cast<size_t>(r.width) * static_cast<size_t>(r.height));
        g.strokes.resize(g.ink.size());
        for (int32_t y = 0; y < r.height; ++y) {
            const uint8_t* row = view.row(r.y + y - view.y) + (r.x - view.x);
            const uint8_t* widths = strokeView.row(r.y + y - strokeView.y) + (r.x - strokeView.x);
            for (int32_t x = 0; x < r.width; ++x) {
                const size_t k = static_cast<size_t>(y) * static_cast<size_t>(r.width) + static_cast<size_t>(x);
                g.ink[k] = row[x] == kBlobValue ? 1 : 0;
                g.strokes[k] = g.ink[k] != 0 ? widths[x] : 0;
            }
        }
        Piece whole{services::Vector<int32_t>(static_cast<size_t>(r.height), 0),
                    services::Vector<int32_t>(static_cast<size_t>(r.height), r.width)};
        services::Vector<InkBox> boxes;
        int32_t cuts = 0;
        KOC_RETURN_IF_FAILED(cutPiece(g, whole, settings, 0, &boxes, &cuts));
        if (cuts == 0) {
            out.push_back(e[i]);
            continue;
        }
        cut = true;
        m->cuts += cuts;
        for (const InkBox& b : boxes) {
            koc_charSegmentElementInfo piece = e[i];
            piece.rect = {r.x + b.left, r.y + b.top, b.right - b.left + 1, b.bottom - b.top + 1};
            piece.area = b.count;
            piece.contrast = -1;
            piece.blobIndex = -1;
            out.push_back(piece);
        }
    }
    if (!cut) {
        return 0;
    }
    return kstd_vector_koc_charSegmentElementInfo_assignElements(elements, out.data(),
                                                                 static_cast<intptr_t>(out.size()));
}

}  // namespace

int32_t cheapestCutPath(const uint8_t* ink, int32_t width, int32_t height, const services::Vector<int32_t>& lo,
                        const services::Vector<int32_t>& hi, services::Vector<int32_t>* columns,
                        int32_t* inkCrossed) noexcept
{
    KOC_ASSERT(ink != nullptr && columns != nullptr && inkCrossed != nullptr);
    KOC_ASSERT(width > 0 && height > 0 && lo.size() == static_cast<size_t>(height) && hi.size() == lo.size());
    *inkCrossed = -1;
    return guarded([&]() -> int32_t {
        const auto w = static_cast<size_t>(width);
        auto at = [&](int32_t x, int32_t y) -> int32_t { return ink[static_cast<size_t>(y) * w + static_cast<size_t>(x)] != 0 ? 1 : 0; };
        services::Vector<int32_t> prev(w, kUnreachable), cur(w, kUnreachable);
        services::Vector<int8_t> step(w * static_cast<size_t>(height), 0);
        for (int32_t x = std::max(0, lo[0]); x < std::min(width, hi[0]); ++x) {
            prev[static_cast<size_t>(x)] = kInkCost * at(x, 0);
        }
        for (int32_t y = 1; y < height; ++y) {
            std::fill(cur.begin(), cur.end(), kUnreachable);
            const int32_t from = std::max(0, lo[static_cast<size_t>(y)]);
            const int32_t to = std::min(width, hi[static_cast<size_t>(y)]);
            for (int32_t x = from; x < to; ++x) {
                int32_t best = kUnreachable;
                int8_t bestStep = 0;
                for (const int8_t d : {int8_t{0}, int8_t{-1}, int8_t{1}}) {
                    const int32_t px = x + d;
                    if (px < 0 || px >= width || prev[static_cast<size_t>(px)] >= kUnreachable) {
                        continue;
                    }
                    int32_t c = prev[static_cast<size_t>(px)];
                    if (d != 0) {
                        // Slipping between two ink pixels that meet at a
                        // corner would cut an 8-connected stroke for free.
                        c += kBendCost + kInkCost * (at(x, y - 1) & at(px, y));
                    }
                    if (c < best) {
                        best = c;
                        bestStep = d;
                    }
                }
                if (best < kUnreachable) {
                    cur[static_cast<size_t>(x)] = best + kInkCost * at(x, y);
                    step[static_cast<size_t>(y) * w + static_cast<size_t>(x)] = bestStep;
                }
            }
            std::swap(prev, cur);
        }
        // The cheapest end; of equal ones the one nearest the middle of the
        // allowed columns.
        const int32_t from = std::max(0, lo.back()), to = std::min(width, hi.back());
        const int32_t middle = from + to;  // twice the middle
        int32_t end = -1;
        for (int32_t x = from; x < to; ++x) {
            const int32_t c = prev[static_cast<size_t>(x)];
            if (c >= kUnreachable) {
                continue;
            }
            if (end < 0 || c < prev[static_cast<size_t>(end)] ||
                (c == prev[static_cast<size_t>(end)] && std::abs(2 * x - middle) < std::abs(2 * end - middle))) {
                end = x;
            }
        }
        if (end < 0) {
            return 0;
        }
        columns->assign(static_cast<size_t>(height), 0);
        int32_t x = end;
        int32_t crossed = 0;
        for (int32_t y = height - 1; y >= 0; --y) {
            (*columns)[static_cast<size_t>(y)] = x;
            crossed += at(x, y);
            if (y > 0) {
                const int32_t px = x + step[static_cast<size_t>(y) * w + static_cast<size_t>(x)];
                if (px != x) {
                    crossed += at(x, y - 1) & at(px, y);
                }
                x = px;
            }
        }
        *inkCrossed = crossed;
        return 0;
    });
}

int32_t splitTouchingGlyphs(Elements* elements, const kimg_image* blobImage, TouchingMeasure* measure,
                            const TouchingMeasure* known) noexcept
{
    KOC_ASSERT(elements != nullptr && blobImage != nullptr);
    TouchingMeasure local;
    TouchingMeasure& m = measure != nullptr ? *measure : local;
    m = TouchingMeasure{};
    int32_t bound = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(blobImage, &bound));
    if (bound == 0) {
        return 0;
    }
    koc_charSegmentElementInfo* e = nullptr;
    int32_t n = 0;
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementInfo_getBeginSize(elements, &e, &n));
    if (n < (known != nullptr ? 1 : 2)) {
        return 0;
    }
    const int32_t rc = guarded([&]() -> int32_t {
        if (known != nullptr) {
            m.glyphWidth = known->glyphWidth;
            m.textHeight = known->textHeight;
            m.strokeWidth = known->strokeWidth;
            return m.glyphWidth >= 2 && m.strokeWidth >= 1 ? cutElements(e, n, blobImage, &m, elements) : 0;
        }
        // Text height: the height three quarters of the elements reach
        // (specks and punctuation below it, a few tall merges above).
        services::Vector<int32_t> heights;
        for (int32_t i = 0; i < n; ++i) {
            heights.push_back(e[i].rect.height);
        }
        std::sort(heights.begin(), heights.end());
        const int32_t textHeight = heights[std::min(heights.size() - 1, heights.size() * 3 / 4)];
        ElementList full;
        services::Vector<int32_t> widths;
        for (int32_t i = 0; i < n; ++i) {
            if (10 * int64_t{e[i].rect.height} >= 6 * int64_t{textHeight} && e[i].rect.width > 0) {
                full.push_back(e[i]);
                widths.push_back(e[i].rect.width);
            }
        }
        if (widths.size() < 2 || textHeight <= 0) {
            return 0;
        }
        // One glyph's width: the median of the narrow cluster, the widths
        // up to 1.4 times the lower quartile (pairs and triples of touching
        // glyphs lie above it).
        std::sort(widths.begin(), widths.end());
        const int32_t quartile = widths[(widths.size() - 1) / 4];
        services::Vector<int32_t> single;
        for (const int32_t w : widths) {
            if (10 * int64_t{w} <= 14 * int64_t{quartile}) {
                single.push_back(w);
            }
        }
        // One isolated glyph is no measure: it may be an I or an L beside
        // a line fused into a few blobs, and its width would cut them all.
        if (single.size() < 2) {
            return 0;
        }
        m.glyphWidth = median(single);
        m.textHeight = textHeight;
        KOC_RETURN_IF_FAILED(lineStrokeWidth(blobImage, full, &m.strokeWidth));
        if (m.glyphWidth < 2 || m.strokeWidth < 1) {
            m.glyphWidth = 0;
            return 0;
        }
        return cutElements(e, n, blobImage, &m, elements);
    });
    KOC_RETURN_IF_FAILED(rc);
    return m.cuts > 0 ? sortElementsByX(elements) : 0;
}

}  // namespace koc::segment
