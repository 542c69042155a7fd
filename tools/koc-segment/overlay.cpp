// overlay.cpp: nearest-neighbour enlargement and integer line drawing.
#include "overlay.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kocseg {

namespace {

struct Point {
    double x;
    double y;
};

// One-pixel 8-connected line between pixel centres (Bresenham).
void drawLine(RgbImage& image, Point a, Point b, const uint8_t colour[3])
{
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) {
        return;
    }
    // Far-away corners are clamped so the loop stays bounded; lines that
    // leave the picture are clipped pixel by pixel.
    const double limit = 4.0 * std::max(image.width, image.height) + 16.0;
    auto clampCoord = [limit](double v) { return std::clamp(v, -limit, limit); };
    int64_t x0 = static_cast<int64_t>(std::floor(clampCoord(a.x))), y0 = static_cast<int64_t>(std::floor(clampCoord(a.y)));
    const int64_t x1 = static_cast<int64_t>(std::floor(clampCoord(b.x))), y1 = static_cast<int64_t>(std::floor(clampCoord(b.y)));
    const int64_t dx = std::llabs(x1 - x0), dy = -std::llabs(y1 - y0);
    const int64_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int64_t err = dx + dy;
    for (;;) {
        image.set(static_cast<int32_t>(x0), static_cast<int32_t>(y0), colour);
        if (x0 == x1 && y0 == y1) {
            break;
        }
        const int64_t e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
}

bool isNull(const kmath_shapeAffineRectPoints& p)
{
    return p.po.x == 0 && p.po.y == 0 && p.px.x == 0 && p.px.y == 0 && p.py.x == 0 && p.py.y == 0;
}

Point unit(Point from, Point to)
{
    const double dx = to.x - from.x, dy = to.y - from.y, len = std::hypot(dx, dy);
    return len > 0 ? Point{dx / len, dy / len} : Point{0, 0};
}

// The rectangle's outline in picture pixels: corners scaled, then moved half
// a picture pixel outwards (grow > 0) or inwards (grow < 0) along its sides,
// so that the outline lands on the pixels just outside or just inside it.
void drawRect(RgbImage& image, const kmath_shapeAffineRectPoints& r, double scale, double grow, const uint8_t colour[3],
              bool cross = false)
{
    if (isNull(r)) {
        return;
    }
    const Point o{r.po.x * scale, r.po.y * scale}, x{r.px.x * scale, r.px.y * scale}, y{r.py.x * scale, r.py.y * scale};
    const Point u = unit(o, x), v = unit(o, y);
    auto at = [&](Point p, double su, double sv) { return Point{p.x + grow * (su * u.x + sv * v.x), p.y + grow * (su * u.y + sv * v.y)}; };
    const Point opp{x.x + y.x - o.x, x.y + y.y - o.y};
    const Point c0 = at(o, -1, -1), c1 = at(x, 1, -1), c2 = at(opp, 1, 1), c3 = at(y, -1, 1);
    drawLine(image, c0, c1, colour);
    drawLine(image, c1, c2, colour);
    drawLine(image, c2, c3, colour);
    drawLine(image, c3, c0, colour);
    if (cross) {
        drawLine(image, c0, c2, colour);
        drawLine(image, c1, c3, colour);
    }
}

} // namespace

RgbImage renderOverlay(const ImageReport& report, const GreyImage& grey, int32_t scale)
{
    if (scale <= 0) {
        const int32_t longer = std::max(std::max(grey.width, grey.height), 1);
        scale = std::clamp(1600 / longer, 1, 8);
    }
    while (scale > 1 && int64_t{grey.width} * grey.height * scale * scale > kMaxPixels) {
        --scale;
    }
    // 16-bit pictures are stretched from their darkest to their brightest value.
    uint32_t low = 0, high = 255;
    if (grey.bits == 16 && !grey.pixels.empty()) {
        const auto [mn, mx] = std::minmax_element(grey.pixels.begin(), grey.pixels.end());
        low = *mn;
        high = std::max<uint32_t>(*mx, low + 1);
    }
    RgbImage out;
    out.width = grey.width * scale;
    out.height = grey.height * scale;
    out.rgb.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 3);
    for (int32_t y = 0; y < out.height; ++y) {
        for (int32_t x = 0; x < out.width; ++x) {
            const uint32_t v = grey.at(x / scale, y / scale);
            const auto g = static_cast<uint8_t>(grey.bits == 16 ? (std::clamp(v, low, high) - low) * 255 / (high - low) : v);
            const uint8_t c[3] = {g, g, g};
            out.set(x, y, c);
        }
    }
    const double s = scale;
    for (const ParagraphReport& p : report.paragraphs) {
        drawRect(out, p.rect, s, -0.5, kSearchColour);
        if (p.lineFound) {
            drawRect(out, p.lineRect, s, -0.5, kLineColour);
        }
        const bool several = p.lines.size() > 1;
        for (size_t j = 0; j < p.lines.size(); ++j) {
            const LineReport& line = p.lines[j];
            const uint8_t* markColour = several ? kLinePalette[j % 4] : kMarkColour;
            if (several) {
                drawRect(out, line.band, s, -0.5, markColour);
            }
            for (const PositionReport& pos : line.positions) {
                if (pos.isSpace) {
                    drawRect(out, pos.cell, s, -0.5, kSpaceColour, true);
                } else {
                    drawRect(out, pos.cell, s, -0.5, kCellColour);
                }
            }
            for (const PositionReport& pos : line.positions) {
                if (!pos.isSpace) {
                    drawRect(out, pos.mark, s, 0.5, markColour);
                }
            }
        }
    }
    return out;
}

} // namespace kocseg
