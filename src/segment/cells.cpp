// cells.cpp: cell rectangles and space insertion.
//
// A cell is the mark widened sideways into the free space around it and
// stretched to one top and bottom for the whole line, so that the positions
// of a line line up and a reader can cut characters at comparable sizes.
// Between cells whose gap is wide enough, space positions are inserted.
//
// Edges are held as 64-bit values: the guard pairs sit a computed distance
// outside the outer marks, and with a single mark method 2's distance comes
// from a gap of 2^31 - 1 (no pair of marks to measure), which does not fit
// 32 bits. With 64 bits the guards simply lie far away and the lone cell
// grows by its full limit, cellRectMaxMargin, on each side.
#include "segment/cells.hpp"

#include <algorithm>
#include <climits>

#include "services/guard.hpp"
#include "koc/ksys.h"

namespace koc::segment {

namespace {

using Edges = services::Vector<int64_t>;

// Left and right edge of cell i; i = -1 is the front guard, i = n the back one.
struct EdgeArray {
    Edges e;
    explicit EdgeArray(int32_t n) : e(2 * static_cast<size_t>(n) + 4, 0) {}
    int64_t& left(int32_t i) { return e[static_cast<size_t>(2 * (i + 1))]; }
    int64_t& right(int32_t i) { return e[static_cast<size_t>(2 * (i + 1) + 1)]; }
};

struct MarkStats {
    int64_t maxW = 0;
    int64_t maxH = 0;
    int64_t avgW = 0;
};

MarkStats markStats(const kstd_rect32* marks, int32_t n)
{
    MarkStats s;
    int64_t sum = 0;
    for (int32_t i = 0; i < n; ++i) {
        s.maxW = std::max<int64_t>(s.maxW, marks[i].width);
        s.maxH = std::max<int64_t>(s.maxH, marks[i].height);
        sum += marks[i].width;
    }
    s.avgW = sum / n;
    return s;
}

// The margin scales with the text size (the larger of the mean width and
// the tallest mark), never below one pixel nor below the caller's floor.
int64_t marginFor(const MarkStats& s, int32_t marginFloor, int32_t marginFraction)
{
    const int64_t size = std::max(s.avgW, s.maxH);
    int64_t m = (size * marginFraction + 32768) >> 16;
    if (m < 1) m = 1;
    if (m < marginFloor) m = marginFloor;
    return m;
}

void startOutputs(const kstd_rect32* marks, int32_t n, Rects* cells, Rects* marksOut, Flags* isSpace)
{
    marksOut->assign(marks, marks + n);
    cells->assign(static_cast<size_t>(n), kstd_rect32{0, 0, 0, 0});
    isSpace->assign(static_cast<size_t>(n), 0);
}

struct RowSpan {
    int64_t top;
    int64_t bottom;  // inclusive
};

RowSpan lineRows(const kstd_rect32* marks, int32_t n, int64_t m, const kstd_rect32* clip)
{
    int64_t top = INT64_MAX;
    int64_t bottom = INT64_MIN;
    for (int32_t i = 0; i < n; ++i) {
        top = std::min<int64_t>(top, marks[i].y);
        bottom = std::max<int64_t>(bottom, int64_t{marks[i].y} + marks[i].height - 1);
    }
    top -= m;
    bottom += m;
    if (clip != nullptr) {
        top = std::max<int64_t>(top, clip->y);
        bottom = std::min<int64_t>(bottom, int64_t{clip->y} + clip->height - 1);
    }
    return {top, bottom};
}

// Inner cells lie between their neighbours; only the outer two can stick
// out of the image sideways.
int32_t clipOuterCells(Rects* cells, const kstd_rect32* clip)
{
    if (clip == nullptr || cells->empty()) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(kstd_rect32_intersect(&cells->front(), &cells->front(), clip));
    return kstd_rect32_intersect(&cells->back(), &cells->back(), clip);
}

}  // namespace

int32_t countSpaces(int32_t gap, int32_t onePerGap, int32_t minWidth, int32_t spaceWidth, int32_t* count) noexcept
{
    KOC_ASSERT(count != nullptr);
    KOC_ASSERT(minWidth >= 1 && spaceWidth >= minWidth);
    if (gap < minWidth) {
        *count = 0;
    } else if (onePerGap != 0) {
        *count = 1;
    } else {
        *count = std::max(gap / spaceWidth, 1);
    }
    return 0;
}

int32_t placeSpaces(int32_t gapLeft, int32_t gapRight, int32_t top, int32_t bottom, int32_t onePerGap,
                    int32_t minWidth, int32_t spaceWidth, kstd_rect32* prevCell, kstd_rect32* nextCell,
                    int32_t* count, Rects* spaceCells) noexcept
{
    KOC_ASSERT(prevCell != nullptr && nextCell != nullptr && count != nullptr && spaceCells != nullptr);
    *count = 0;
    const int32_t g = gapRight - gapLeft + 1;
    if (g < minWidth) {
        return 0;
    }
    int32_t k = 0;
    KOC_RETURN_IF_FAILED(countSpaces(g, onePerGap, minWidth, spaceWidth, &k));
    if (k == 0) {
        return 0;
    }
    const int32_t w = k == 1 ? std::min(g, spaceWidth) : std::min(std::max(g / k, minWidth), spaceWidth);
    KOC_ASSERT(minWidth <= w && w <= spaceWidth);
    KOC_ASSERT(int64_t{w} * k <= g);
    KOC_ASSERT(onePerGap != 0 || int64_t{w} * (k + 1) > g);
    KOC_ASSERT(w == spaceWidth || int64_t{w + 1} * k > g);
    // The slack is spread as equal spacing between the spaces, half of it
    // in front of the first, so the spaces sit centred in the gap.
    const int32_t slack = g - w * k;
    const int32_t spacing = slack / k;
    const int32_t leadIn = spacing >> 1;
    return guarded([&]() -> int32_t {
        const size_t first = spaceCells->size();
        for (int32_t j = 0; j < k; ++j) {
            spaceCells->push_back(kstd_rect32{gapLeft + leadIn + j * (w + spacing), top, w, bottom - top + 1});
        }
        // Cells and spaces must not overlap; a neighbour gives way.
        const kstd_rect32& firstSpace = (*spaceCells)[first];
        const kstd_rect32& lastSpace = spaceCells->back();
        const int64_t overPrev = int64_t{prevCell->x} + prevCell->width - firstSpace.x;
        if (overPrev > 0) {
            prevCell->width -= static_cast<int32_t>(overPrev);
            KOC_ASSERT(prevCell->width > 0);
        }
        const int64_t overNext = int64_t{lastSpace.x} + lastSpace.width - nextCell->x;
        if (overNext > 0) {
            nextCell->x += static_cast<int32_t>(overNext);
            nextCell->width -= static_cast<int32_t>(overNext);
            KOC_ASSERT(nextCell->width > 0);
        }
        *count = k;
        return 0;
    });
}

int32_t insertSpaces(const koc_charSegmentSpaceParams* spaceParams, int32_t /*margin*/, int32_t widestMark,
                     int32_t top, int32_t bottom, Rects* marks, Rects* cells, Flags* isSpace) noexcept
{
    KOC_ASSERT(spaceParams != nullptr && marks != nullptr && cells != nullptr && isSpace != nullptr);
    if (spaceParams->spaceInsertionMode == 0) {
        return 0;
    }
    KOC_ASSERT(marks->size() == cells->size() && isSpace->size() == cells->size());
    const int32_t onePerGap = spaceParams->spaceInsertionMode == 1 ? 1 : 0;
    const size_t n = cells->size();
    if (n < 2) {
        return 0;
    }
    // A space is as wide as a full character: the widest mark or the line
    // height, within the caller's bounds.
    int32_t spaceWidth = std::max(widestMark, bottom - top + 1);
    spaceWidth = std::max(spaceWidth, spaceParams->minSpaceWidth);
    spaceWidth = std::min(spaceWidth, spaceParams->maxSpaceWidth);
    return guarded([&]() -> int32_t {
        Rects spaces;
        Flags perGap(n, 0);  // entry i: spaces between positions i-1 and i
        size_t total = 0;
        for (size_t i = 1; i < n; ++i) {
            kstd_rect32& prev = (*cells)[i - 1];
            kstd_rect32& next = (*cells)[i];
            const int64_t g = int64_t{next.x} - (int64_t{prev.x} + prev.width);
            if (g <= 0) {
                continue;
            }
            int32_t k = 0;
            KOC_RETURN_IF_FAILED(countSpaces(static_cast<int32_t>(g), onePerGap, spaceParams->minSpaceWidth,
                                             spaceWidth, &k));
            if (k > 0) {
                KOC_RETURN_IF_FAILED(placeSpaces(prev.x + prev.width, next.x - 1, top, bottom, onePerGap,
                                                 spaceParams->minSpaceWidth, spaceWidth, &prev, &next, &k,
                                                 &spaces));
            }
            perGap[i] = k;
            total += static_cast<size_t>(k);
        }
        if (total == 0) {
            return 0;
        }
        // Rebuild in place from the back: every position moves right by the
        // number of spaces in front of it, so nothing is overwritten unread.
        cells->resize(n + total);
        marks->resize(n + total);
        isSpace->resize(n + total);
        size_t dst = n + total - 1;
        size_t nextSpace = spaces.size();
        auto movePosition = [&](size_t src) {
            (*cells)[dst] = (*cells)[src];
            (*marks)[dst] = (*marks)[src];
            (*isSpace)[dst] = 0;
            --dst;
        };
        movePosition(n - 1);
        for (size_t i = n - 1; i >= 1; --i) {
            for (int32_t j = 0; j < perGap[i]; ++j) {
                (*cells)[dst] = spaces[--nextSpace];
                KOC_RETURN_IF_FAILED(kstd_rect32_initNull(&(*marks)[dst]));
                (*isSpace)[dst] = 1;
                --dst;
            }
            movePosition(i - 1);
        }
        return 0;
    });
}

int32_t growCellsByWidth(const kstd_rect32* marks, int32_t n, int32_t marginFloor, int32_t marginFraction,
                         const kstd_rect32* clip, const koc_charSegmentSpaceParams* spaceParams, Rects* cells,
                         Rects* marksOut, Flags* isSpace) noexcept
{
    KOC_ASSERT(cells != nullptr && marksOut != nullptr && isSpace != nullptr);
    KOC_ASSERT(n >= 0 && (n == 0 || marks != nullptr));
    return guarded([&]() -> int32_t {
        startOutputs(marks, n, cells, marksOut, isSpace);
        if (n == 0) {
            return 0;
        }
        const MarkStats st = markStats(marks, n);
        const int64_t m = marginFor(st, marginFloor, marginFraction);
        const int64_t maxW = st.maxW;

        // Right edges are inclusive here. The guards are cells of the widest
        // width, far enough out that the outer cells grow as freely as the
        // inner ones.
        EdgeArray edges(n);
        for (int32_t i = 0; i < n; ++i) {
            edges.left(i) = marks[i].x;
            edges.right(i) = int64_t{marks[i].x} + marks[i].width - 1;
        }
        const int64_t guardGap = maxW + 1 + 2 * m;
        edges.right(-1) = edges.left(0) - guardGap;
        edges.left(-1) = edges.right(-1) - maxW;
        edges.left(n) = edges.right(n - 1) + guardGap;
        edges.right(n) = edges.left(n) + maxW;
        auto width = [&](int32_t i) { return edges.right(i) - edges.left(i) + 1; };

        // Narrow cells, each a local minimum of width, widen by one pixel per
        // side and pass toward the widest mark, as long as the gap beside
        // them keeps more than two margins free.
        services::Vector<unsigned char> flagged(static_cast<size_t>(n), 0);
        for (bool changed = true; changed;) {
            changed = false;
            int64_t prevW = maxW;
            for (int32_t i = 0; i < n; ++i) {
                const int64_t w = width(i);
                flagged[static_cast<size_t>(i)] = w < maxW && w <= prevW && w <= width(i + 1);
                prevW = w;
            }
            for (int32_t i = 0; i < n; ++i) {
                if (flagged[static_cast<size_t>(i)] == 0) {
                    continue;
                }
                const int64_t gapL = edges.left(i) - edges.right(i - 1) - 1;
                const int64_t gapR = edges.left(i + 1) - edges.right(i) - 1;
                int64_t w = width(i);
                KOC_ASSERT(w < maxW);
                if (gapL > 2 * m) {
                    --edges.left(i);
                    ++w;
                    changed = true;
                }
                if (gapR > 2 * m && w < maxW) {
                    ++edges.right(i);
                    changed = true;
                }
            }
        }
        // Margin: the full m to the left, at most half the gap to the right,
        // so the next cell's left margin still finds room.
        for (int32_t i = 0; i < n; ++i) {
            const int64_t gapL = edges.left(i) - edges.right(i - 1) - 1;
            if (gapL > 0) {
                edges.left(i) -= std::min(m, gapL);
            }
            const int64_t gapR = edges.left(i + 1) - edges.right(i) - 1;
            if (gapR > 0) {
                edges.right(i) += std::min(m, (gapR + 1) >> 1);
            }
        }

        const RowSpan rows = lineRows(marks, n, m, clip);
        const int64_t h = rows.bottom - rows.top + 1;
        for (int32_t i = 0; i < n; ++i) {
            (*cells)[static_cast<size_t>(i)] = kstd_rect32{static_cast<int32_t>(edges.left(i)),
                                                           static_cast<int32_t>(rows.top),
                                                           static_cast<int32_t>(width(i)), static_cast<int32_t>(h)};
        }
        KOC_RETURN_IF_FAILED(clipOuterCells(cells, clip));
        if (spaceParams != nullptr && spaceParams->spaceInsertionMode != 0) {
            return insertSpaces(spaceParams, static_cast<int32_t>(m), static_cast<int32_t>(maxW),
                                static_cast<int32_t>(rows.top), static_cast<int32_t>(rows.bottom), marksOut, cells,
                                isSpace);
        }
        return 0;
    });
}

int32_t growCellsByGap(const kstd_rect32* marks, int32_t n, int32_t marginFloor, int32_t marginFraction,
                       const kstd_rect32* clip, const koc_charSegmentSpaceParams* spaceParams,
                       const koc_cellRectGenerationParams* cellParams, Rects* cells, Rects* marksOut,
                       Flags* isSpace) noexcept
{
    KOC_ASSERT(cellParams != nullptr && cells != nullptr && marksOut != nullptr && isSpace != nullptr);
    KOC_ASSERT(n >= 0 && (n == 0 || marks != nullptr));
    return guarded([&]() -> int32_t {
        startOutputs(marks, n, cells, marksOut, isSpace);
        if (n == 0) {
            return 0;
        }
        // Each edge may take half the narrowest gap of the line, within the
        // caller's bounds: a tight line gets tight cells everywhere.
        int64_t minGap = INT32_MAX;
        for (int32_t i = 0; i + 1 < n; ++i) {
            minGap = std::min(minGap, int64_t{marks[i + 1].x} - (int64_t{marks[i].x} + marks[i].width - 1));
        }
        const int64_t limit = std::min(std::max(minGap / 2, int64_t{cellParams->cellRectMinMargin}),
                                       int64_t{cellParams->cellRectMaxMargin});
        const MarkStats st = markStats(marks, n);
        const int64_t m = marginFor(st, marginFloor, marginFraction);

        // Right edges are exclusive here.
        EdgeArray edges(n);
        for (int32_t i = 0; i < n; ++i) {
            edges.left(i) = marks[i].x;
            edges.right(i) = int64_t{marks[i].x} + marks[i].width;
        }
        edges.right(-1) = edges.left(0) - 2 * minGap;
        edges.left(-1) = edges.right(-1) - st.maxW;
        edges.left(n) = edges.right(n - 1) + 2 * minGap;
        edges.right(n) = edges.left(n) + st.maxW;

        services::Vector<int64_t> grownLeft(static_cast<size_t>(n), 0);
        services::Vector<int64_t> grownRight(static_cast<size_t>(n), 0);
        for (bool changed = true; changed;) {
            changed = false;
            for (int32_t i = 0; i < n; ++i) {
                const auto k = static_cast<size_t>(i);
                if (edges.left(i) - edges.right(i - 1) > 0 && grownLeft[k] < limit) {
                    --edges.left(i);
                    ++grownLeft[k];
                    changed = true;
                }
                if (edges.left(i + 1) - edges.right(i) > 0 && grownRight[k] < limit) {
                    ++edges.right(i);
                    ++grownRight[k];
                    changed = true;
                }
            }
        }

        const RowSpan rows = lineRows(marks, n, m, clip);
        const int64_t h = rows.bottom - rows.top + 1;
        for (int32_t i = 0; i < n; ++i) {
            (*cells)[static_cast<size_t>(i)] =
                kstd_rect32{static_cast<int32_t>(edges.left(i)), static_cast<int32_t>(rows.top),
                            static_cast<int32_t>(edges.right(i) - edges.left(i)), static_cast<int32_t>(h)};
        }
        KOC_RETURN_IF_FAILED(clipOuterCells(cells, clip));
        if (spaceParams != nullptr && spaceParams->spaceInsertionMode != 0) {
            return insertSpaces(spaceParams, 1, static_cast<int32_t>(st.maxW), static_cast<int32_t>(rows.top),
                                static_cast<int32_t>(rows.bottom), marksOut, cells, isSpace);
        }
        return 0;
    });
}

int32_t generateCellRects(const koc_charSegmentElementInfo* elements, int32_t n, int32_t marginFloor,
                          int32_t marginFraction, const kstd_rect32* clip, int32_t generate,
                          const koc_charSegmentSpaceParams* spaceParams, const koc_charSegmentRunParams* params,
                          Rects* cells, Rects* marks, Flags* isSpace) noexcept
{
    KOC_ASSERT(params != nullptr && cells != nullptr && marks != nullptr && isSpace != nullptr);
    KOC_ASSERT(n >= 0 && (n == 0 || elements != nullptr));
    return guarded([&]() -> int32_t {
        Rects rects(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) {
            rects[static_cast<size_t>(i)] = elements[i].rect;
        }
        if (generate == 0) {
            *cells = rects;
            *marks = rects;
            isSpace->assign(static_cast<size_t>(n), 0);
            return 0;
        }
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        if (params->cellRectParams.cellRectMode == 1) {
            return growCellsByWidth(rects.data(), n, marginFloor, marginFraction, clip, spaceParams, cells, marks,
                                    isSpace);
        }
        return growCellsByGap(rects.data(), n, marginFloor, marginFraction, clip, spaceParams,
                              &params->cellRectParams, cells, marks, isSpace);
    });
}

}  // namespace koc::segment
