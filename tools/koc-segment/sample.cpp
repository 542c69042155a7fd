// sample.cpp: 5x7 dot-matrix glyphs drawn as overlapping round dots, so the
// strokes are continuous (diagonal neighbours touch too) with scalloped
// edges, on a ground with a gentle shading and a fixed pseudo-random noise.
#include "sample.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kocseg {

namespace {

struct Glyph {
    char c;
    const char* rows[7];
};

const Glyph kGlyphs[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'/', {"....#", "....#", "...#.", "..#..", ".#...", "#....", "#...."}},
};

const Glyph* findGlyph(char c)
{
    for (const Glyph& g : kGlyphs) {
        if (g.c == c) {
            return &g;
        }
    }
    return nullptr;
}

constexpr int kDotPitch = 4;      // pixels between dot centres
constexpr double kDotRadius = 3.3; // > pitch * sqrt(2) / 2: diagonal dots overlap
constexpr int kCharPitch = 7;     // dot columns per character cell (5 dots + 2 gap)
constexpr int kMarginX = 24;
constexpr int kMarginY = 20;
constexpr int kSuper = 4;         // supersampling per axis
constexpr double kGround = 192.0;
constexpr double kInk = 44.0;

} // namespace

const char* sampleText()
{
    return "LOT 2412A  EXP 12/27";
}

GreyImage renderSample()
{
    const char* text = sampleText();
    const int count = static_cast<int>(std::strlen(text));
    const double glyphW = 4 * kDotPitch + 2 * kDotRadius;
    const double glyphH = 6 * kDotPitch + 2 * kDotRadius;
    GreyImage image;
    image.width = static_cast<int32_t>(2 * kMarginX + (count - 1) * kCharPitch * kDotPitch + std::ceil(glyphW));
    image.height = static_cast<int32_t>(2 * kMarginY + std::ceil(glyphH));
    image.bits = 8;

    // Ink coverage at kSuper x kSuper samples per pixel.
    const int sw = image.width * kSuper, sh = image.height * kSuper;
    std::vector<uint8_t> ink(static_cast<size_t>(sw) * static_cast<size_t>(sh), 0);
    for (int k = 0; k < count; ++k) {
        const Glyph* g = findGlyph(text[k]);
        if (g == nullptr) {
            continue;
        }
        for (int row = 0; row < 7; ++row) {
            for (int col = 0; col < 5; ++col) {
                if (g->rows[row][col] != '#') {
                    continue;
                }
                const double cx = kMarginX + kDotRadius + (k * kCharPitch + col) * kDotPitch;
                const double cy = kMarginY + kDotRadius + row * kDotPitch;
                const int x0 = static_cast<int>((cx - kDotRadius) * kSuper), x1 = static_cast<int>((cx + kDotRadius) * kSuper) + 1;
                const int y0 = static_cast<int>((cy - kDotRadius) * kSuper), y1 = static_cast<int>((cy + kDotRadius) * kSuper) + 1;
                for (int sy = std::max(y0, 0); sy < std::min(y1, sh); ++sy) {
                    for (int sx = std::max(x0, 0); sx < std::min(x1, sw); ++sx) {
                        const double dx = (sx + 0.5) / kSuper - cx, dy = (sy + 0.5) / kSuper - cy;
                        if (dx * dx + dy * dy <= kDotRadius * kDotRadius) {
                            ink[static_cast<size_t>(sy) * static_cast<size_t>(sw) + static_cast<size_t>(sx)] = 1;
                        }
                    }
                }
            }
        }
    }

    image.pixels.resize(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
    uint32_t noise = 12345u;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            int hits = 0;
            for (int j = 0; j < kSuper; ++j) {
                for (int i = 0; i < kSuper; ++i) {
                    hits += ink[static_cast<size_t>(y * kSuper + j) * static_cast<size_t>(sw) +
                                static_cast<size_t>(x * kSuper + i)];
                }
            }
            const double cover = static_cast<double>(hits) / (kSuper * kSuper);
            // Ground brighter towards the middle-left, as under an off-centre lamp.
            const double u = static_cast<double>(x) / image.width - 0.4, v = static_cast<double>(y) / image.height - 0.5;
            const double ground = kGround + 18.0 - 40.0 * (u * u + v * v);
            noise = noise * 1664525u + 1013904223u;
            const double grain = static_cast<double>((noise >> 24) % 13) - 6.0;
            const double value = ground + (kInk - ground) * cover + grain;
            image.pixels[static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x)] =
                static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 255L));
        }
    }
    return image;
}

} // namespace kocseg
