// glyphs.cpp: FreeType glyph bitmaps, seven-segment bars and dot-matrix
// conversion, each into a coverage tile at its pen position.
#include "glyphs.hpp"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <memory>

namespace kocrender {

namespace {

// ---- seven-segment ---------------------------------------------------------

// A bar with pointed ends: across its axis within half the thickness of the
// centre line, along it between lo and hi, the tips cut at 45 degrees.
struct Bar {
    bool horizontal;
    double centre, lo, hi;
};

// Segments a..g (bit 0 = a, top; then clockwise b, c, d, e, f; g middle).
int segmentsOf(char32_t c)
{
    static const int digits[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};
    if (c >= U'0' && c <= U'9') return digits[c - U'0'];
    if (c == U'-') return 0x40;
    return -1;
}

// Supersampled coverage of a set of bars and squares.
void fillShapes(Tile& tile, const std::vector<Bar>& bars, const std::vector<Box>& squares, double thickness)
{
    constexpr int kSub = 8;
    const double half = thickness / 2;
    for (int y = 0; y < tile.h; ++y)
        for (int x = 0; x < tile.w; ++x) {
            int inside = 0;
            for (int sy = 0; sy < kSub; ++sy)
                for (int sx = 0; sx < kSub; ++sx) {
                    const double px = tile.x0 + x + (sx + 0.5) / kSub, py = tile.y0 + y + (sy + 0.5) / kSub;
                    bool in = false;
                    for (const Bar& b : bars) {
                        const double along = b.horizontal ? px : py, d = std::fabs((b.horizontal ? py : px) - b.centre);
                        in = in || (d <= half && along - b.lo >= d && b.hi - along >= d);
                    }
                    for (const Box& q : squares) in = in || (px >= q.x0 && px < q.x1 && py >= q.y0 && py < q.y1);
                    inside += in ? 1 : 0;
                }
            tile.at(x, y) = static_cast<float>(inside) / (kSub * kSub);
        }
}

// Digit cell: width size/2, height size (baseline to top), bars size/8
// thick. The bars' pointed ends leave an open corner between any two bars.
// Every cell has a quarter of the size as clearance, split on both sides.
bool sevenSegmentGlyph(char32_t c, double size, double penX, Tile& tile, double& advance)
{
    const double t = size / 8, w = size / 2, h = size, clearance = size / 4;
    const double gap = std::max(1.0, t / 4); // tip to corner point, so bars are at least 1.4 gap apart
    const double left = penX + clearance / 2;
    advance = (c == U':' ? t : w) + clearance;
    if (c == U' ') return true;
    const int segments = c == U':' ? 0 : segmentsOf(c);
    if (segments < 0) return false;
    const int x0 = static_cast<int>(std::floor(left)) - 1, y0 = static_cast<int>(std::floor(-h)) - 1;
    tile.resize(x0, y0, static_cast<int>(std::ceil(w)) + 3, static_cast<int>(std::ceil(h)) + 3);
    std::vector<Box> squares;
    if (c == U':')
        for (double cy : {-2 * h / 3, -h / 3}) squares.push_back(Box{left, cy - t / 2, left + t, cy + t / 2});
    // Corner points on the bars' centre lines.
    const double xl = left + t / 2, xr = left + w - t / 2, yt = -h + t / 2, ym = -h / 2, yb = -t / 2;
    const Bar all[7] = {
        {true, yt, xl + gap, xr - gap},  // a
        {false, xr, yt + gap, ym - gap}, // b
        {false, xr, ym + gap, yb - gap}, // c
        {true, yb, xl + gap, xr - gap},  // d
        {false, xl, ym + gap, yb - gap}, // e
        {false, xl, yt + gap, ym - gap}, // f
        {true, ym, xl + gap, xr - gap},  // g
    };
    std::vector<Bar> bars;
    for (int s = 0; s < 7; ++s)
        if ((segments >> s) & 1) bars.push_back(all[s]);
    fillShapes(tile, bars, squares, t);
    return true;
}

// ---- FreeType --------------------------------------------------------------

struct FtLibrary {
    FT_Library lib = nullptr;
    ~FtLibrary()
    {
        if (lib != nullptr) FT_Done_FreeType(lib);
    }
};

struct FtFace {
    FT_Face face = nullptr;
    ~FtFace()
    {
        if (face != nullptr) FT_Done_Face(face);
    }
};

std::string ftError(FT_Error e)
{
    const char* s = FT_Error_String(e);
    return s != nullptr ? std::string(s) : "FreeType error " + std::to_string(e);
}

// Renders one character with its origin at (penX, 0); the fractional part
// of penX goes to FreeType as a translation so the bitmap is exact.
bool fontGlyph(FT_Face face, char32_t c, double penX, Tile& tile, double& advance, std::string& error)
{
    const double whole = std::floor(penX);
    FT_Vector delta{static_cast<FT_Pos>(std::lround((penX - whole) * 64)), 0};
    FT_Set_Transform(face, nullptr, &delta);
    const FT_Error e = FT_Load_Char(face, c, FT_LOAD_RENDER);
    if (e != 0) {
        error = "cannot render U+" + std::to_string(static_cast<uint32_t>(c)) + ": " + ftError(e);
        return false;
    }
    const FT_GlyphSlot slot = face->glyph;
    advance = static_cast<double>(slot->advance.x) / 64.0;
    const FT_Bitmap& bm = slot->bitmap;
    if (bm.width == 0 || bm.rows == 0) return true;
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY) {
        error = "the font gives no grey bitmap (not an outline font?)";
        return false;
    }
    tile.resize(static_cast<int>(whole) + slot->bitmap_left, -slot->bitmap_top, static_cast<int>(bm.width),
                static_cast<int>(bm.rows));
    const double scale = bm.num_grays > 1 ? 1.0 / (bm.num_grays - 1) : 1.0;
    for (int y = 0; y < tile.h; ++y) {
        const unsigned char* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
        for (int x = 0; x < tile.w; ++x) tile.at(x, y) = static_cast<float>(row[x] * scale);
    }
    return true;
}

// Bilinear coverage at a line-space point (pixel centres at +0.5).
double sample(const Tile& tile, double x, double y)
{
    const double fx = x - 0.5 - tile.x0, fy = y - 0.5 - tile.y0;
    const int ix = static_cast<int>(std::floor(fx)), iy = static_cast<int>(std::floor(fy));
    const double ax = fx - ix, ay = fy - iy;
    auto px = [&](int xx, int yy) -> double {
        return xx < 0 || yy < 0 || xx >= tile.w || yy >= tile.h ? 0.0 : tile.at(xx, yy);
    };
    return (1 - ay) * ((1 - ax) * px(ix, iy) + ax * px(ix + 1, iy)) +
           ay * ((1 - ax) * px(ix, iy + 1) + ax * px(ix + 1, iy + 1));
}

} // namespace

bool decodeUtf8(const std::string& text, std::vector<char32_t>& codes, std::vector<std::string>& pieces)
{
    codes.clear();
    pieces.clear();
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > text.size()) return false;
        char32_t c = n == 1 ? b : b & (0x7f >> n);
        for (size_t k = 1; k < n; ++k) {
            const auto cont = static_cast<unsigned char>(text[i + k]);
            if ((cont >> 6) != 2) return false;
            c = (c << 6) | (cont & 0x3f);
        }
        static const char32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[n] || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) return false;
        codes.push_back(c);
        pieces.push_back(text.substr(i, n));
        i += n;
    }
    return true;
}

Tile toDots(const Tile& tile, double originX, double pitch, double diameter)
{
    const double r = diameter / 2;
    const int pad = static_cast<int>(std::ceil(r)) + 1;
    Tile out;
    out.resize(tile.x0 - pad, tile.y0 - pad, tile.w + 2 * pad, tile.h + 2 * pad);
    // Grid points at originX + (i + 0.5) pitch, -(k + 0.5) pitch.
    const int i0 = static_cast<int>(std::floor((tile.x0 - originX) / pitch)) - 1;
    const int i1 = static_cast<int>(std::ceil((tile.x0 + tile.w - originX) / pitch)) + 1;
    const int k0 = static_cast<int>(std::floor(-(tile.y0 + tile.h) / pitch)) - 1;
    const int k1 = static_cast<int>(std::ceil(-tile.y0 / pitch)) + 1;
    constexpr int kSub = 8; // supersampling per axis for the disc edges
    for (int k = k0; k <= k1; ++k) {
        for (int i = i0; i <= i1; ++i) {
            const double cx = originX + (i + 0.5) * pitch, cy = -(k + 0.5) * pitch;
            if (sample(tile, cx, cy) < 0.5) continue;
            const int x0 = static_cast<int>(std::floor(cx - r)), x1 = static_cast<int>(std::ceil(cx + r));
            const int y0 = static_cast<int>(std::floor(cy - r)), y1 = static_cast<int>(std::ceil(cy + r));
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) {
                    int inside = 0;
                    for (int sy = 0; sy < kSub; ++sy)
                        for (int sx = 0; sx < kSub; ++sx) {
                            const double dx = x + (sx + 0.5) / kSub - cx, dy = y + (sy + 0.5) / kSub - cy;
                            inside += dx * dx + dy * dy <= r * r ? 1 : 0;
                        }
                    if (inside == 0) continue;
                    const int tx = x - out.x0, ty = y - out.y0;
                    if (tx < 0 || ty < 0 || tx >= out.w || ty >= out.h) continue;
                    out.at(tx, ty) = std::min(1.0f, out.at(tx, ty) + static_cast<float>(inside) / (kSub * kSub));
                }
            }
        }
    }
    return out;
}

bool inkBox(const Tile& tile, Box& box)
{
    int x0 = tile.w, y0 = tile.h, x1 = -1, y1 = -1;
    for (int y = 0; y < tile.h; ++y)
        for (int x = 0; x < tile.w; ++x)
            if (tile.at(x, y) > 0) {
                x0 = std::min(x0, x);
                x1 = std::max(x1, x);
                y0 = std::min(y0, y);
                y1 = std::max(y1, y);
            }
    if (x1 < 0) return false;
    box = Box{static_cast<double>(tile.x0 + x0), static_cast<double>(tile.y0 + y0), static_cast<double>(tile.x0 + x1 + 1),
              static_cast<double>(tile.y0 + y1 + 1)};
    return true;
}

bool layoutLine(const std::string& text, const LayoutOptions& options, std::vector<Glyph>& glyphs, std::string& error)
{
    std::vector<char32_t> codes;
    std::vector<std::string> pieces;
    if (!decodeUtf8(text, codes, pieces)) {
        error = "the text is not valid UTF-8";
        return false;
    }
    FtLibrary library;
    FtFace face;
    if (!options.sevenSegment) {
        FT_Error e = FT_Init_FreeType(&library.lib);
        if (e == 0) e = FT_New_Face(library.lib, options.fontPath.c_str(), 0, &face.face);
        if (e == 0) e = FT_Set_Char_Size(face.face, 0, static_cast<FT_F26Dot6>(std::lround(options.size * 64)), 72, 72);
        if (e != 0) {
            error = options.fontPath + ": " + ftError(e);
            return false;
        }
    }
    glyphs.assign(codes.size(), Glyph{});
    double pen = 0;
    FT_UInt previous = 0;
    for (size_t k = 0; k < codes.size(); ++k) {
        Glyph& g = glyphs[k];
        g.text = pieces[k];
        g.isSpace = codes[k] == U' ';
        double advance = 0;
        if (options.sevenSegment) {
            if (!sevenSegmentGlyph(codes[k], options.size, pen, g.tile, advance)) {
                error = "seven-segment mode draws only 0-9, '-', ':' and space, not '" + g.text + "'";
                return false;
            }
        } else {
            const FT_UInt index = FT_Get_Char_Index(face.face, codes[k]);
            if (previous != 0 && index != 0 && FT_HAS_KERNING(face.face)) {
                FT_Vector kern{0, 0};
                if (FT_Get_Kerning(face.face, previous, index, FT_KERNING_UNFITTED, &kern) == 0)
                    pen += static_cast<double>(kern.x) / 64.0;
            }
            previous = index;
            if (!fontGlyph(face.face, codes[k], pen, g.tile, advance, error)) return false;
        }
        if (options.dotPitch > 0 && g.tile.w > 0) g.tile = toDots(g.tile, pen, options.dotPitch, options.dotDiameter);
        g.penX = pen;
        pen += advance + options.spacing;
        g.nextPenX = pen;
        g.hasInk = !g.isSpace && inkBox(g.tile, g.box);
        if (g.isSpace) g.tile = Tile{};
    }
    // Spaces and inkless characters: their advance, at the line's ink height.
    double top = 0, bottom = 0;
    bool any = false;
    for (const Glyph& g : glyphs) {
        if (!g.hasInk) continue;
        top = any ? std::min(top, g.box.y0) : g.box.y0;
        bottom = any ? std::max(bottom, g.box.y1) : g.box.y1;
        any = true;
    }
    if (!any) {
        top = -std::round(options.size * 0.7);
        bottom = 0;
    }
    for (Glyph& g : glyphs)
        if (!g.hasInk) g.box = Box{std::min(g.penX, g.nextPenX), top, std::max(g.penX, g.nextPenX), bottom};
    return true;
}

} // namespace kocrender
