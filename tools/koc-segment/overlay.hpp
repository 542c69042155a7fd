// overlay.hpp: the input image with the search rectangle, the found line
// rectangle, the cells, the marks and the spaces drawn over it in one-pixel
// lines without anti-aliasing.
#pragma once

#include "image_io.hpp"
#include "run.hpp"

namespace kocseg {

// Colours, also listed in the README and the help text.
inline constexpr uint8_t kSearchColour[3] = {40, 120, 255}; // blue
inline constexpr uint8_t kLineColour[3] = {255, 210, 0};    // yellow
inline constexpr uint8_t kCellColour[3] = {0, 200, 60};     // green
inline constexpr uint8_t kMarkColour[3] = {255, 40, 40};    // red
inline constexpr uint8_t kSpaceColour[3] = {230, 0, 230};   // magenta, with a cross
// Paragraphs of several lines: line k's marks and band in colour k (cycling);
// line 0 keeps the mark colour.
inline constexpr uint8_t kLinePalette[4][3] = {{255, 40, 40}, {255, 140, 0}, {0, 190, 230}, {160, 90, 255}};

// The overlay of report over the image grey, enlarged by scale (0: by the
// largest whole factor up to 8 that keeps the longer side within 1600
// pixels), then reduced until the picture holds at most kMaxPixels. Search,
// line and cell rectangles are drawn on their own border pixels, mark
// rectangles on the pixels just outside them, so the ink stays visible. In a
// paragraph of several lines each line's marks and band take its own colour.
RgbImage renderOverlay(const ImageReport& report, const GreyImage& grey, int32_t scale);

} // namespace kocseg
