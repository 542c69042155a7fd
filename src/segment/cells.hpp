// cells.hpp: cell rectangles around a line's marks and the space positions
// inserted between them. Every rectangle is (x, y, width, height) in pixels
// of the line image.
#pragma once

#include "koc/koc_params.h"
#include "koc/koc_stats.h"
#include "services/memory.hpp"

namespace koc::segment {

using Rects = services::Vector<kstd_rect32>;
using Flags = services::Vector<int32_t>;

// One entry per position in each output: the marks in order with the
// inserted spaces among them (a space has the null rectangle as mark).
// generate 0 makes every cell its mark and inserts nothing; otherwise
// cellRectParams.cellRectMode picks the growth method. marginFraction is
// 16.16; clip (the source window) and spaceParams may be null.
int32_t generateCellRects(const koc_charSegmentElementInfo* elements, int32_t n, int32_t marginFloor,
                          int32_t marginFraction, const kstd_rect32* clip, int32_t generate,
                          const koc_charSegmentSpaceParams* spaceParams, const koc_charSegmentRunParams* params,
                          Rects* cells, Rects* marks, Flags* isSpace) noexcept;

// Method 1: narrow cells widen toward the widest mark, then every cell gets
// the margin m into the free space around it.
int32_t growCellsByWidth(const kstd_rect32* marks, int32_t n, int32_t marginFloor, int32_t marginFraction,
                         const kstd_rect32* clip, const koc_charSegmentSpaceParams* spaceParams, Rects* cells,
                         Rects* marksOut, Flags* isSpace) noexcept;

// Method 2: every edge grows into the free space beside it, one pixel per
// pass and at most cellParams' limit, neighbours taking turns in a shared gap.
int32_t growCellsByGap(const kstd_rect32* marks, int32_t n, int32_t marginFloor, int32_t marginFraction,
                       const kstd_rect32* clip, const koc_charSegmentSpaceParams* spaceParams,
                       const koc_cellRectGenerationParams* cellParams, Rects* cells, Rects* marksOut,
                       Flags* isSpace) noexcept;

// Inserts space positions into the gaps between consecutive cells (rows
// top .. bottom); the three vectors grow in step.
int32_t insertSpaces(const koc_charSegmentSpaceParams* spaceParams, int32_t margin, int32_t widestMark, int32_t top,
                     int32_t bottom, Rects* marks, Rects* cells, Flags* isSpace) noexcept;

// How many spaces a gap of `gap` pixels holds: none below minWidth, else one
// (onePerGap) or as many of spaceWidth as fit, at least one.
int32_t countSpaces(int32_t gap, int32_t onePerGap, int32_t minWidth, int32_t spaceWidth, int32_t* count) noexcept;

// Appends the spaces of the gap gapLeft .. gapRight (inclusive) to
// spaceCells, spread evenly; trims prevCell / nextCell where a space would
// overlap them.
int32_t placeSpaces(int32_t gapLeft, int32_t gapRight, int32_t top, int32_t bottom, int32_t onePerGap,
                    int32_t minWidth, int32_t spaceWidth, kstd_rect32* prevCell, kstd_rect32* nextCell,
                    int32_t* count, Rects* spaceCells) noexcept;

}  // namespace koc::segment
