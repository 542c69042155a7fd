// raster.hpp: from the upright line to the output picture: the affine map
// (shear, then rotation, then a shift into the image), sampling, grey
// levels, illumination gradient, blur, noise and quantisation.
#pragma once

#include <cstdint>
#include <vector>

#include "glyphs.hpp"

namespace kocrender {

struct Point {
    double x = 0, y = 0;
};

// Line space to image: first x += tan(shear) * (0 - y) (the baseline is
// y = 0, so positive shear leans the tops right), then a turn by the angle
// (y down, so positive turns clockwise on screen), then the shift.
struct Affine {
    double a = 1, b = 0, c = 0, d = 1; // x' = a x + b y, y' = c x + d y
    double tx = 0, ty = 0;

    static Affine lineMap(double angleDeg, double shearDeg);
    Point map(double x, double y) const { return {a * x + b * y + tx, c * x + d * y + ty}; }
    Affine inverse() const;
};

struct Look {
    double fg = 30, bg = 220;  // grey on the 8-bit scale
    double gradient = 0;       // shift from -gradient (left) to +gradient (right)
    double blur = 0;           // Gaussian sigma, pixels
    double noise = 0;          // additive Gaussian sigma, grey levels of the 8-bit scale
    uint64_t seed = 1;
    int depth = 8;
};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint16_t> pixels; // 0..255 or 0..65535
};

// Sums the glyph tiles into one coverage tile spanning all of them.
Tile composeCoverage(const std::vector<Glyph>& glyphs);

// Grey picture of the given size: coverage sampled through the inverse of
// map, then ink and ground, gradient, blur; the result is rounded to whole
// levels of the 8-bit scale, noise is added to those at the output depth's
// resolution, and everything is clamped. Without noise a 16-bit picture is
// therefore exactly the 8-bit one times 257.
Picture renderPicture(const Tile& coverage, const Affine& map, int width, int height, const Look& look);

} // namespace kocrender
