// glyphs.hpp: the upright line before any transform. Each character becomes
// a coverage tile (from a font, from seven-segment bars, optionally turned
// into round dots) placed at its pen position. Line space has x to the
// right, y down and the baseline at y = 0; pixel (i, j) covers
// [i, i+1) x [j, j+1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kocrender {

// Coverage in 0..1 over a pixel-aligned rectangle of line space.
struct Tile {
    int x0 = 0;
    int y0 = 0;
    int w = 0;
    int h = 0;
    std::vector<float> cov;

    float at(int x, int y) const { return cov[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)]; }
    float& at(int x, int y) { return cov[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)]; }
    void resize(int x, int y, int width, int height)
    {
        x0 = x;
        y0 = y;
        w = width;
        h = height;
        cov.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0.0f);
    }
};

// An upright rectangle [x0, x1) x [y0, y1) in line space.
struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

struct Glyph {
    std::string text;      // the character, UTF-8
    bool isSpace = false;
    double penX = 0;       // start of its advance
    double nextPenX = 0;   // start of the next character's advance
    Tile tile;
    bool hasInk = false;
    Box box;               // ink box, or the advance box when there is no ink
    int line = 0;          // text line, counted from the top
};

struct LayoutOptions {
    std::string fontPath;  // unused for seven-segment
    double size = 32;      // em height in pixels
    double spacing = 0;    // extra pixels after every character
    bool sevenSegment = false;
    double dotPitch = 0;   // > 0: dot-matrix
    double dotDiameter = 0;
};

// Splits UTF-8 into code points; false on malformed input.
bool decodeUtf8(const std::string& text, std::vector<char32_t>& codes, std::vector<std::string>& pieces);

// Lays out the text. On failure returns false with the reason in error.
bool layoutLine(const std::string& text, const LayoutOptions& options, std::vector<Glyph>& glyphs, std::string& error);

// Replaces a tile's ink by discs of the given diameter on a grid of the
// given pitch anchored at (originX, 0): a disc wherever the tile's bilinear
// coverage at a grid point is at least 0.5.
Tile toDots(const Tile& tile, double originX, double pitch, double diameter);

// The tight box of a tile's pixels with coverage > 0; false when it has none.
bool inkBox(const Tile& tile, Box& box);

} // namespace kocrender
