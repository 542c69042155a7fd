// main.cpp: koc-render draws one line of text into a grey PNG and writes
// the exact box of every character as JSON (the shape is in output.hpp).
// Exit status: 0 done, 1 a font or file failed, 2 a usage error.
#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>

#include "glyphs.hpp"
#include "output.hpp"
#include "raster.hpp"

namespace {

using namespace kocrender;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr double kMaxPixels = double(int64_t{1} << 28);

int fail(int status, const std::string& message)
{
    std::cerr << "koc-render: " << message << "\n";
    return status;
}

struct Options {
    std::string font;
    double size = 32;
    std::string text;
    double spacing = 0;
    double lineSpacing = 1.3;
    double rotate = 0;
    double shear = 0;
    int polarity = 1;
    double fg = std::numeric_limits<double>::quiet_NaN();
    double bg = std::numeric_limits<double>::quiet_NaN();
    double gradient = 0;
    double blur = 0;
    double noise = 0;
    uint64_t seed = 1;
    int margin = 20;
    int depth = 8;
    double dotPitch = 0;
    double dotDiameter = 0;
    bool sevenSegment = false;
    std::string out;
    std::string truth;
};

// An empty string when the options make sense, else the reason.
std::string checkOptions(const Options& o)
{
    if (o.font.empty() && !o.sevenSegment) return "--font is required (or use --seven-segment)";
    if (o.text.empty()) return "--text must not be empty";
    if (o.text.find("\n\n") != std::string::npos || o.text.front() == '\n' || o.text.back() == '\n')
        return "every line of --text must hold a character";
    if (!(o.lineSpacing >= 0.5 && o.lineSpacing <= 10)) return "--line-spacing must lie in [0.5, 10]";
    if (!(o.size > 0 && o.size <= 2000)) return "--size must lie in (0, 2000]";
    for (double v : {o.spacing, o.rotate, o.gradient, o.blur, o.noise, o.dotPitch, o.dotDiameter})
        if (!std::isfinite(v)) return "numbers must be finite";
    if (!(std::fabs(o.shear) < 80)) return "--shear must lie in (-80, 80) degrees";
    if (!std::isnan(o.fg) && !(o.fg >= 0 && o.fg <= 255)) return "--fg must lie in [0, 255]";
    if (!std::isnan(o.bg) && !(o.bg >= 0 && o.bg <= 255)) return "--bg must lie in [0, 255]";
    if (o.gradient < 0 || o.blur < 0 || o.noise < 0) return "--gradient, --blur and --noise must not be negative";
    if (o.margin < 0) return "--margin must not be negative";
    if ((o.dotPitch > 0) != (o.dotDiameter > 0) || o.dotPitch < 0 || o.dotDiameter < 0)
        return "--dot-pitch and --dot-diameter go together, both positive";
    return "";
}

} // namespace

int main(int argc, char** argv)
{
    Options o;
    CLI::App app{"koc-render: draws one text line into a grey PNG, with the exact box of every character as JSON"};
    app.add_option("--font", o.font, "TTF or OTF font file (not needed with --seven-segment)");
    app.add_option("--size", o.size, "font size in pixels (the em height)")->capture_default_str();
    app.add_option("--text", o.text, "the text (UTF-8); newline characters start further lines")->required();
    app.add_option("--line-spacing", o.lineSpacing, "baseline to baseline distance of several lines, in ems")
        ->capture_default_str();
    app.add_option("--spacing", o.spacing, "extra pixels between characters, may be negative")->capture_default_str();
    app.add_option("--rotate", o.rotate, "turn of the line in degrees (y down: positive is clockwise)")->capture_default_str();
    app.add_option("--shear", o.shear, "slant in degrees: x += tan(shear) * (baseline - y)")->capture_default_str();
    app.add_option("--polarity", o.polarity, "1 dark on light, 2 light on dark")->check(CLI::IsMember({1, 2}))->capture_default_str();
    app.add_option("--fg", o.fg, "ink grey, 0..255 (default 30, or 220 for polarity 2)");
    app.add_option("--bg", o.bg, "ground grey, 0..255 (default 220, or 30 for polarity 2)");
    app.add_option("--gradient", o.gradient, "illumination: everything shifted from -N (left) to +N (right) grey levels")->capture_default_str();
    app.add_option("--blur", o.blur, "Gaussian blur sigma in pixels")->capture_default_str();
    app.add_option("--noise", o.noise, "additive Gaussian noise sigma in grey levels")->capture_default_str();
    app.add_option("--seed", o.seed, "noise seed")->capture_default_str();
    app.add_option("--margin", o.margin, "pixels around the line")->capture_default_str();
    app.add_option("--depth", o.depth, "8 or 16 bits (16: values times 257)")->check(CLI::IsMember({8, 16}))->capture_default_str();
    app.add_option("--dot-pitch", o.dotPitch, "dot-matrix: grid pitch in pixels");
    app.add_option("--dot-diameter", o.dotDiameter, "dot-matrix: dot diameter in pixels");
    app.add_flag("--seven-segment", o.sevenSegment, "draw 0-9, '-' and ':' as seven-segment bars instead of a font");
    app.add_option("--out", o.out, "output PNG")->required();
    app.add_option("--truth", o.truth, "output ground-truth JSON");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e); // prints help or the complaint
        return code == 0 ? 0 : kExitUsage;
    }
    if (const std::string bad = checkOptions(o); !bad.empty()) return fail(kExitUsage, bad);

    LayoutOptions layout;
    layout.fontPath = o.font;
    layout.size = o.size;
    layout.spacing = o.spacing;
    layout.sevenSegment = o.sevenSegment;
    layout.dotPitch = o.dotPitch;
    layout.dotDiameter = o.dotDiameter;
    // Several lines sit on baselines a whole number of pixels apart, each
    // starting at x = 0 (leading spaces indent a line).
    std::vector<Glyph> glyphs;
    std::string error;
    std::vector<std::string> lines;
    for (size_t start = 0;;) {
        const size_t end = o.text.find('\n', start);
        lines.push_back(o.text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    const int advance = static_cast<int>(std::lround(o.lineSpacing * o.size));
    for (size_t k = 0; k < lines.size(); ++k) {
        std::vector<Glyph> line;
        if (!layoutLine(lines[k], layout, line, error)) return fail(kExitFailed, error);
        const int dy = static_cast<int>(k) * advance;
        for (Glyph& g : line) {
            g.line = static_cast<int>(k);
            g.tile.y0 += dy;
            g.box.y0 += dy;
            g.box.y1 += dy;
            glyphs.push_back(std::move(g));
        }
    }

    // The picture holds every character's box, transformed, plus margins;
    // the shift is whole pixels so that an upright line is copied exactly.
    Affine map = Affine::lineMap(o.rotate, o.shear);
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool first = true;
    for (const Glyph& g : glyphs)
        for (const Point p : {map.map(g.box.x0, g.box.y0), map.map(g.box.x1, g.box.y0), map.map(g.box.x0, g.box.y1),
                              map.map(g.box.x1, g.box.y1)}) {
            x0 = first ? p.x : std::min(x0, p.x);
            y0 = first ? p.y : std::min(y0, p.y);
            x1 = first ? p.x : std::max(x1, p.x);
            y1 = first ? p.y : std::max(y1, p.y);
            first = false;
        }
    map.tx = o.margin - std::floor(x0);
    map.ty = o.margin - std::floor(y0);
    const double width = std::ceil(x1 + map.tx) + o.margin, height = std::ceil(y1 + map.ty) + o.margin;
    if (width * height > kMaxPixels) return fail(kExitUsage, "the picture would be too large");

    Look look;
    const bool dark = o.polarity == 1;
    look.fg = std::isnan(o.fg) ? (dark ? 30 : 220) : o.fg;
    look.bg = std::isnan(o.bg) ? (dark ? 220 : 30) : o.bg;
    look.gradient = o.gradient;
    look.blur = o.blur;
    look.noise = o.noise;
    look.seed = o.seed;
    look.depth = o.depth;
    const Picture picture =
        renderPicture(composeCoverage(glyphs), map, static_cast<int>(width), static_cast<int>(height), look);
    if (!writePicture(o.out, picture, o.depth, error)) return fail(kExitFailed, error);

    if (!o.truth.empty()) {
        TruthHeader header;
        header.image = std::filesystem::path(o.out).filename().string();
        header.text = o.text;
        header.depth = o.depth;
        header.polarity = o.polarity;
        header.angle = o.rotate;
        header.shear = o.shear;
        header.fontSize = o.size;
        header.lines = static_cast<int>(lines.size());
        std::ofstream file(o.truth, std::ios::binary);
        file << truthJson(header, picture, glyphs, map).dump() << "\n";
        file.close();
        if (!file) return fail(kExitFailed, o.truth + ": cannot write");
    }
    return 0;
}
