// raster.cpp: affine sampling, composition and the picture effects.
#include "raster.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kocrender {

namespace {

// splitmix64: small, fast and the same on every platform.
struct SplitMix {
    uint64_t state;
    uint64_t next()
    {
        uint64_t z = (state += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in (0, 1].
    double uniform() { return static_cast<double>((next() >> 11) + 1) * 0x1.0p-53; }
};

// Standard normal values by the Box-Muller transform, two at a time.
struct Gaussian {
    SplitMix rng;
    bool haveSpare = false;
    double spare = 0;
    double next()
    {
        if (haveSpare) {
            haveSpare = false;
            return spare;
        }
        const double r = std::sqrt(-2.0 * std::log(rng.uniform()));
        const double phi = 2.0 * std::numbers::pi * rng.uniform();
        spare = r * std::sin(phi);
        haveSpare = true;
        return r * std::cos(phi);
    }
};

// Separable Gaussian blur, edges replicated.
void blur(std::vector<double>& v, int width, int height, double sigma)
{
    const int radius = std::max(1, static_cast<int>(std::ceil(3 * sigma)));
    std::vector<double> kernel(static_cast<size_t>(2 * radius + 1));
    double sum = 0;
    for (int i = -radius; i <= radius; ++i) sum += kernel[static_cast<size_t>(i + radius)] = std::exp(-0.5 * i * i / (sigma * sigma));
    for (double& k : kernel) k /= sum;
    std::vector<double> tmp(v.size());
    auto idx = [width](int x, int y) { return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x); };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double s = 0;
            for (int i = -radius; i <= radius; ++i) s += kernel[static_cast<size_t>(i + radius)] * v[idx(std::clamp(x + i, 0, width - 1), y)];
            tmp[idx(x, y)] = s;
        }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double s = 0;
            for (int i = -radius; i <= radius; ++i) s += kernel[static_cast<size_t>(i + radius)] * tmp[idx(x, std::clamp(y + i, 0, height - 1))];
            v[idx(x, y)] = s;
        }
}

} // namespace

Affine Affine::lineMap(double angleDeg, double shearDeg)
{
    const double t = angleDeg * std::numbers::pi / 180.0;
    const double cs = std::cos(t), sn = std::sin(t), k = std::tan(shearDeg * std::numbers::pi / 180.0);
    // Rotation [[cs, -sn], [sn, cs]] after the shear [[1, -k], [0, 1]].
    Affine m;
    m.a = cs;
    m.b = -cs * k - sn;
    m.c = sn;
    m.d = -sn * k + cs;
    return m;
}

Affine Affine::inverse() const
{
    const double det = a * d - b * c;
    Affine m;
    m.a = d / det;
    m.b = -b / det;
    m.c = -c / det;
    m.d = a / det;
    m.tx = -(m.a * tx + m.b * ty);
    m.ty = -(m.c * tx + m.d * ty);
    return m;
}

Tile composeCoverage(const std::vector<Glyph>& glyphs)
{
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool any = false;
    for (const Glyph& g : glyphs) {
        if (g.tile.w == 0) continue;
        x0 = any ? std::min(x0, g.tile.x0) : g.tile.x0;
        y0 = any ? std::min(y0, g.tile.y0) : g.tile.y0;
        x1 = any ? std::max(x1, g.tile.x0 + g.tile.w) : g.tile.x0 + g.tile.w;
        y1 = any ? std::max(y1, g.tile.y0 + g.tile.h) : g.tile.y0 + g.tile.h;
        any = true;
    }
    Tile out;
    out.resize(x0, y0, x1 - x0, y1 - y0);
    for (const Glyph& g : glyphs)
        for (int y = 0; y < g.tile.h; ++y)
            for (int x = 0; x < g.tile.w; ++x) {
                float& c = out.at(g.tile.x0 + x - x0, g.tile.y0 + y - y0);
                c = std::min(1.0f, c + g.tile.at(x, y));
            }
    return out;
}

Picture renderPicture(const Tile& coverage, const Affine& map, int width, int height, const Look& look)
{
    const Affine inv = map.inverse();
    std::vector<double> grey(static_cast<size_t>(width) * static_cast<size_t>(height));
    auto cov = [&](int x, int y) -> double {
        return x < 0 || y < 0 || x >= coverage.w || y >= coverage.h ? 0.0 : coverage.at(x, y);
    };
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            // The output pixel's centre, back in line space, then bilinear
            // between the coverage pixels' centres.
            const Point p = inv.map(i + 0.5, j + 0.5);
            const double fx = p.x - 0.5 - coverage.x0, fy = p.y - 0.5 - coverage.y0;
            const double flx = std::floor(fx), fly = std::floor(fy);
            double c = 0;
            if (flx > -2 && fly > -2 && flx < coverage.w && fly < coverage.h) {
                const int ix = static_cast<int>(flx), iy = static_cast<int>(fly);
                const double ax = fx - flx, ay = fy - fly;
                c = (1 - ay) * ((1 - ax) * cov(ix, iy) + ax * cov(ix + 1, iy)) +
                    ay * ((1 - ax) * cov(ix, iy + 1) + ax * cov(ix + 1, iy + 1));
            }
            const double shift = look.gradient * (2.0 * (i + 0.5) / width - 1.0);
            grey[static_cast<size_t>(j) * static_cast<size_t>(width) + static_cast<size_t>(i)] =
                look.bg + (look.fg - look.bg) * c + shift;
        }
    }
    if (look.blur > 0) blur(grey, width, height, look.blur);

    Picture out;
    out.width = width;
    out.height = height;
    out.pixels.resize(grey.size());
    Gaussian noise{SplitMix{look.seed}};
    const double scale = look.depth == 16 ? 257.0 : 1.0, top = look.depth == 16 ? 65535.0 : 255.0;
    for (size_t k = 0; k < grey.size(); ++k) {
        double v = std::clamp(std::round(grey[k]), 0.0, 255.0);
        if (look.noise > 0) v += look.noise * noise.next();
        out.pixels[k] = static_cast<uint16_t>(std::clamp(std::round(v * scale), 0.0, top));
    }
    return out;
}

} // namespace kocrender
