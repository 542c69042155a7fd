// text_image.hpp: synthetic text lines for end-to-end tests: blocky glyphs
// (strokes as filled bars) on a plain ground, optionally rotated and
// sheared, 8-bit or 16-bit.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "koc/koc.h"

namespace test {

struct TextLine {
    int32_t width = 300;
    int32_t height = 80;
    double originX = 30;      // left end of the baseline's glyph box top, image pixels
    double originY = 25;
    int32_t glyphHeight = 24; // text height in pixels
    int32_t glyphWidth = 14;
    int32_t pitch = 22;
    int32_t count = 10;
    double angleDeg = 0.0;    // rotation of the line, y down (positive turns clockwise on screen)
    double shearDeg = 0.0;    // slant of the glyphs
    int32_t ink = 30;
    int32_t ground = 220;
    int32_t wordEvery = 0;   // when > 0, a word gap follows every wordEvery glyphs
    int32_t wordGap = 0;     // extra pixels of that gap
    int32_t tailEvery = 0;   // when > 0, glyphs k with k % tailEvery == 1 carry a tail on their left stem:
    int32_t ascender = 0;    //   that many pixels above the glyph box
    int32_t descender = 0;   //   and that many below it

    bool hasTail(int32_t k) const { return tailEvery > 0 && k % tailEvery == 1; }
    // Ink box of glyph k in image pixels (upright lines only): x, y, width, height.
    std::array<double, 4> glyphBox(int32_t k) const
    {
        const double up = hasTail(k) ? ascender : 0, down = hasTail(k) ? descender : 0;
        return {originX + glyphLeft(k), originY - up, double(glyphWidth), glyphHeight + up + down};
    }

    // Left edge of glyph k along the line.
    double glyphLeft(int32_t k) const
    {
        return k * pitch + (wordEvery > 0 ? (k / wordEvery) * wordGap : 0);
    }

    // Glyph k is a box outline with a middle bar: dark strokes 3 pixels thick.
    bool isInk(double u, double v) const
    {
        if (v < -ascender || v >= glyphHeight + descender) return false;
        const double su = u + v * std::tan(shearDeg * M_PI / 180.0);
        if (su < 0) return false;
        int32_t k = 0;
        while (k + 1 < count && glyphLeft(k + 1) <= su) ++k;
        const double x = su - glyphLeft(k);
        if (x >= glyphWidth) return false;
        if (v < 0 || v >= glyphHeight) return hasTail(k) && x < 3;
        const bool left = x < 3, right = x >= glyphWidth - 3;
        const bool top = v < 3, bottom = v >= glyphHeight - 3;
        const bool middle = std::fabs(v - glyphHeight / 2.0) < 1.5;
        return left || top || bottom || (k % 2 == 0 ? right : middle);
    }

    // Supersampled 4x4 coverage so rotated edges are smooth.
    double coverage(int32_t px, int32_t py) const
    {
        const double a = angleDeg * M_PI / 180.0, c = std::cos(a), s = std::sin(a);
        int hits = 0;
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i) {
                const double x = px + (i + 0.5) / 4 - originX, y = py + (j + 0.5) / 4 - originY;
                hits += isInk(c * x + s * y, -s * x + c * y) ? 1 : 0;
            }
        return hits / 16.0;
    }

    kimg_image render(int32_t depth = KIMG_DEPTH_8, int32_t scale = 1) const
    {
        return renderLines({*this}, depth, scale);
    }

    // Several lines in one picture, of this line's size and colours.
    kimg_image renderLines(const std::vector<TextLine>& lines, int32_t depth = KIMG_DEPTH_8, int32_t scale = 1) const
    {
        kimg_image image;
        kimg_image_construct(&image);
        kimg_image_assignNew(&image, depth, width, height);
        kimg_window w;
        kimg_window_init(&w, &image);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                double c = 0;
                for (const TextLine& l : lines) c = std::max(c, l.coverage(x, y));
                const double g = ground + (ink - ground) * c;
                const auto v = static_cast<uint32_t>(std::lround(g * scale));
                if (depth == KIMG_DEPTH_8)
                    static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint8_t>(v);
                else
                    static_cast<uint16_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint16_t>(v);
            }
        return image;
    }
};

// The benchmarks' plain line: 600 x 48, 40 glyphs 20 high on a pitch of 14.
inline TextLine fortyCharacterLine()
{
    TextLine line;
    line.count = 40;
    line.pitch = 14;
    line.glyphWidth = 10;
    line.glyphHeight = 20;
    line.originX = 16;
    line.originY = 14;
    line.width = 600;
    line.height = 48;
    return line;
}

inline kmath_shapeAffineRect boxRect(double x, double y, double w, double h)
{
    kmath_shapeAffineRect r;
    const kmath_vect po{x, y}, px{x + w, y}, py{x, y + h};
    kmath_shapeAffineRect_initPoints(&r, &po, &px, &py);
    return r;
}

// Destructs a rendered image when the test is done with it.
struct Owned {
    kimg_image img;
    explicit Owned(kimg_image i) : img(i) {}
    ~Owned() { kimg_image_destruct(&img); }
};

}  // namespace test
