// estimate.cpp: measuring an extracted line (ink, strokes, gaps, pitch,
// noise, background) and choosing run parameters from the measures.
#include "segment/estimate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "koc/koc_segment.h"
#include "services/guard.hpp"
#include "services/blob_label.hpp"
#include "services/memory.hpp"
#include "services/pel_ops.hpp"
#include "services/stroke_width.hpp"

namespace koc::segment {

namespace {

using services::Vector;

// The value at fraction q of the sorted values (nearest rank); 0 for none.
template <class T>
double quantile(Vector<T> values, double q)
{
    if (values.empty()) {
        return 0.0;
    }
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(q * static_cast<double>(values.size() - 1) + 0.5));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return static_cast<double>(values[k]);
}

// The line as the measuring sees it: ink dark whatever the polarity, and
// which pixels are valid (inside the line mask).
struct LineView {
    int32_t width = 0;
    int32_t height = 0;
    Vector<uint8_t> dark;
    Vector<uint8_t> valid;
};

int32_t buildView(const koc_lineExtractResult* line, LineView* view) noexcept
{
    kimg_windowConst w;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&w, &line->lineImage));
    if (w.depth != KIMG_DEPTH_8) {
        return KOC_E_IMAGE_DEPTH;
    }
    int32_t masked = 0;
    KOC_RETURN_IF_FAILED(kimg_imageRle_getIsBound(&line->lineMask, &masked));
    kstd_rect32 maskRect{0, 0, 0, 0};
    const int32_t* rowStart = nullptr;
    const kimg_run* runs = nullptr;
    if (masked != 0) {
        KOC_RETURN_IF_FAILED(kimg_imageRle_getEncoding(&line->lineMask, &maskRect, &rowStart, &runs));
    }
    return guarded([&]() -> int32_t {
        const size_t n = static_cast<size_t>(w.width) * static_cast<size_t>(w.height);
        view->width = w.width;
        view->height = w.height;
        view->dark.assign(n, 0);
        view->valid.assign(n, masked != 0 ? 0 : 1);
        const bool invert = line->polarity == 2;
        for (int32_t y = 0; y < w.height; ++y) {
            const uint8_t* row = static_cast<const uint8_t*>(w.pixels) + y * w.pitch;
            for (int32_t x = 0; x < w.width; ++x) {
                view->dark[static_cast<size_t>(y) * static_cast<size_t>(w.width) + static_cast<size_t>(x)] =
                    invert ? static_cast<uint8_t>(255 - row[x]) : row[x];
            }
        }
        if (masked == 0) {
            return 0;
        }
        for (int32_t r = 0; r < maskRect.height; ++r) {
            const int32_t y = maskRect.y + r - w.y;
            if (y < 0 || y >= w.height) {
                continue;
            }
            for (int32_t k = rowStart[r]; k < rowStart[r + 1]; ++k) {
                const int32_t x0 = std::max(runs[k].x - w.x, 0);
                const int32_t x1 = std::min(runs[k].x + runs[k].length - w.x, w.width);
                for (int32_t x = x0; x < x1; ++x) {
                    view->valid[static_cast<size_t>(y) * static_cast<size_t>(w.width) + static_cast<size_t>(x)] = 1;
                }
            }
        }
        return 0;
    });
}

// Background and contrast along the line. The line is cut into blocks about
// two text heights wide; in each, the background is a high quantile of the
// valid pixels (ink rarely covers a fifth of a block) and the ink a low one.
// The contrast is the median over the blocks that hold ink; the background
// between block centres is interpolated, so a lighting gradient moves the
// threshold with it.
struct Background {
    Vector<double> centres;
    Vector<double> levels;
    double contrast = 0.0;
    double slope = 0.0;

    double at(double x) const noexcept
    {
        if (levels.size() == 1 || x <= centres.front()) {
            return levels.front();
        }
        if (x >= centres.back()) {
            return levels.back();
        }
        size_t k = 1;
        while (centres[k] < x) {
            ++k;
        }
        const double t = (x - centres[k - 1]) / (centres[k] - centres[k - 1]);
        return levels[k - 1] + t * (levels[k] - levels[k - 1]);
    }
};

void measureBackground(const LineView& v, double heightHint, Background* bg)
{
    const int32_t blockWidth = std::max(8, static_cast<int32_t>(std::lround(2.0 * heightHint)));
    const int32_t blocks = std::max(1, v.width / blockWidth);
    Vector<double> spreads;
    Vector<uint8_t> values;
    for (int32_t b = 0; b < blocks; ++b) {
        const int32_t x0 = b * v.width / blocks;
        const int32_t x1 = (b + 1) * v.width / blocks;
        values.clear();
        for (int32_t y = 0; y < v.height; ++y) {
            for (int32_t x = x0; x < x1; ++x) {
                const size_t i = static_cast<size_t>(y) * static_cast<size_t>(v.width) + static_cast<size_t>(x);
                if (v.valid[i] != 0) {
                    values.push_back(v.dark[i]);
                }
            }
        }
        // A block mostly outside the mask says little about the background.
        if (values.size() * 4 < static_cast<size_t>(x1 - x0) * static_cast<size_t>(v.height)) {
            continue;
        }
        const double level = quantile(values, 0.8);
        bg->centres.push_back(0.5 * (x0 + x1 - 1));
        bg->levels.push_back(level);
        spreads.push_back(level - quantile(values, 0.01));
    }
    if (spreads.empty()) {
        return;
    }
    const double widest = *std::max_element(spreads.begin(), spreads.end());
    Vector<double> inked;
    for (double s : spreads) {
        if (s >= 0.5 * widest) {
            inked.push_back(s);
        }
    }
    bg->contrast = quantile(inked, 0.5);
    const auto [lo, hi] = std::minmax_element(bg->levels.begin(), bg->levels.end());
    bg->slope = bg->contrast > 0.0 ? (*hi - *lo) / bg->contrast : 0.0;
}

// Standard deviation of the pixel noise from the median absolute difference
// of horizontal neighbours: edges are too few to move the median, and a
// smooth background gradient cancels out.
double measureNoise(const LineView& v)
{
    Vector<int32_t> diffs;
    diffs.reserve(v.dark.size());
    for (int32_t y = 0; y < v.height; ++y) {
        for (int32_t x = 0; x + 1 < v.width; ++x) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(v.width) + static_cast<size_t>(x);
            if (v.valid[i] != 0 && v.valid[i + 1] != 0) {
                diffs.push_back(std::abs(int32_t{v.dark[i + 1]} - int32_t{v.dark[i]}));
            }
        }
    }
    return 1.4826 * quantile(diffs, 0.5) / std::sqrt(2.0);
}

uint8_t median3(uint8_t a, uint8_t b, uint8_t c) noexcept
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Width of the ink's edges: pixels between a quarter and three quarters
// of the contrast below the local background, per pixel of the ink's
// boundary (ink at half the contrast with a neighbour that is not). Sharp
// print, anti-aliased or not, has edges about a pixel wide; blur widens
// them (by some 1.35 blur radii).
double measureEdgeWidth(const LineView& v, const Background& bg, bool noisy)
{
    const int32_t W = v.width;
    const int32_t H = v.height;
    const auto at = [&](int32_t x, int32_t y) { return static_cast<size_t>(y) * static_cast<size_t>(W) + static_cast<size_t>(x); };
    // Noise goes through a 3 x 3 median taken row-wise and then column-wise
    // (the outermost rows and columns as they are), which keeps edges.
    Vector<uint8_t> smooth;
    const Vector<uint8_t>* values = &v.dark;
    if (noisy && W >= 3 && H >= 3) {
        Vector<uint8_t> rows(v.dark);
        for (int32_t y = 0; y < H; ++y) {
            for (int32_t x = 1; x + 1 < W; ++x) {
                rows[at(x, y)] = median3(v.dark[at(x - 1, y)], v.dark[at(x, y)], v.dark[at(x + 1, y)]);
            }
        }
        smooth = rows;
        for (int32_t y = 1; y + 1 < H; ++y) {
            for (int32_t x = 0; x < W; ++x) {
                smooth[at(x, y)] = median3(rows[at(x, y - 1)], rows[at(x, y)], rows[at(x, y + 1)]);
            }
        }
        values = &smooth;
    }
    // Depth below the background in 1/256 of the contrast; -1 where invalid.
    Vector<int16_t> depth(v.dark.size(), -1);
    for (int32_t x = 0; x < W; ++x) {
        const double level = bg.at(x);
        for (int32_t y = 0; y < H; ++y) {
            if (v.valid[at(x, y)] != 0) {
                const double d = (level - (*values)[at(x, y)]) / bg.contrast;
                depth[at(x, y)] = static_cast<int16_t>(std::clamp(std::lround(256.0 * d), 0L, 1024L));
            }
        }
    }
    int64_t edge = 0;
    int64_t boundary = 0;
    const auto light = [&](int32_t x, int32_t y) {
        const int16_t d = depth[at(x, y)];
        return d >= 0 && d < 128;
    };
    for (int32_t y = 0; y < H; ++y) {
        for (int32_t x = 0; x < W; ++x) {
            const int16_t d = depth[at(x, y)];
            edge += d >= 64 && d < 192 ? 1 : 0;
            if (d < 128) {
                continue;
            }
            const bool open = (x > 0 && light(x - 1, y)) || (x + 1 < W && light(x + 1, y)) || (y > 0 && light(x, y - 1)) ||
                              (y + 1 < H && light(x, y + 1));
            boundary += open ? 1 : 0;
        }
    }
    return boundary > 0 ? static_cast<double>(edge) / static_cast<double>(boundary) : 0.0;
}

// The ink image: 255 where the (smoothed, when noisy) dark view lies below
// the local background by more than half the contrast.
int32_t binarize(const LineView& v, const Background& bg, bool smooth, kimg_image* ink) noexcept
{
    KOC_RETURN_IF_FAILED(kimg_image_assignNew(ink, KIMG_DEPTH_8, v.width, v.height));
    kimg_window w;
    KOC_RETURN_IF_FAILED(kimg_window_init(&w, ink));
    const double half = 0.5 * bg.contrast;
    for (int32_t x = 0; x < v.width; ++x) {
        const double cut = bg.at(x) - half;
        for (int32_t y = 0; y < v.height; ++y) {
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(v.width) + static_cast<size_t>(x);
            if (v.valid[i] == 0) {
                continue;
            }
            double value = v.dark[i];
            if (smooth) {
                int32_t sum = 0;
                int32_t count = 0;
                for (int32_t dy = -1; dy <= 1; ++dy) {
                    for (int32_t dx = -1; dx <= 1; ++dx) {
                        const int32_t xx = x + dx;
                        const int32_t yy = y + dy;
                        if (xx < 0 || yy < 0 || xx >= v.width || yy >= v.height) {
                            continue;
                        }
                        const size_t j = static_cast<size_t>(yy) * static_cast<size_t>(v.width) + static_cast<size_t>(xx);
                        if (v.valid[j] != 0) {
                            sum += v.dark[j];
                            ++count;
                        }
                    }
                }
                value = static_cast<double>(sum) / count;
            }
            static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = value < cut ? 255 : 0;
        }
    }
    return 0;
}

struct Box {
    int32_t x0, x1, y0, y1;  // x1 and y1 exclusive
};

// Boxes sorted by x0, joined while the next one starts at most maxGap
// columns after the union so far ends (a negative maxGap joins only
// overlapping ones). gaps receives the gaps between the joined boxes.
Vector<Box> joinColumns(Vector<Box> boxes, int32_t maxGap, Vector<int32_t>* gaps)
{
    std::stable_sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a.x0 < b.x0; });
    Vector<Box> out;
    for (const Box& b : boxes) {
        if (!out.empty() && b.x0 - out.back().x1 <= maxGap) {
            Box& u = out.back();
            u.x1 = std::max(u.x1, b.x1);
            u.y0 = std::min(u.y0, b.y0);
            u.y1 = std::max(u.y1, b.y1);
        } else {
            out.push_back(b);
        }
    }
    if (gaps != nullptr) {
        gaps->clear();
        for (size_t k = 1; k < out.size(); ++k) {
            gaps->push_back(out[k].x0 - out[k - 1].x1);
        }
    }
    return out;
}

// The largest gap inside a character of broken-stroke print: the gaps form
// two clusters (between dots or segments, between characters); the split is
// the largest ratio between neighbouring sorted gaps. The limit sits at
// 0.6 of the smallest character gap, so a missing dot column inside a
// character still joins, but never below the largest inner gap seen.
int32_t innerGapOf(Vector<int32_t> gaps)
{
    std::sort(gaps.begin(), gaps.end());
    double best = 1.5;
    int32_t lowMax = -1;
    int32_t highMin = -1;
    for (size_t k = 0; k + 1 < gaps.size(); ++k) {
        const double ratio = (gaps[k + 1] + 1.0) / (gaps[k] + 1.0);
        if (ratio > best) {
            best = ratio;
            lowMax = gaps[k];
            highMin = gaps[k + 1];
        }
    }
    if (lowMax < 0) {
        return 0;
    }
    return std::max(lowMax, std::min(highMin - 1, static_cast<int32_t>(std::floor(0.6 * highMin))));
}

// The glyphs of every line with marks joined across gaps up to `inner`,
// and what they tell: text height, widths, gaps, pitch, touching.
struct GlyphLayout {
    Vector<int32_t> gaps;        // between neighbouring glyphs of a line
    Vector<int32_t> fullWidths;  // of the glyphs at least half the text height
    size_t glyphCount = 0;
    size_t stepCount = 0;        // neighbour pairs on the same line
    double textHeight = 0.0;
    double pitch = 0.0;
    bool isTouching = false;
    uint32_t isFixedPitch = 0;
};

GlyphLayout layoutGlyphs(const Vector<Vector<Box>>& lineColumns, int32_t inner)
{
    GlyphLayout out;
    Vector<Vector<Box>> lineGlyphs;
    for (const Vector<Box>& columns : lineColumns) {
        Vector<int32_t> lineGaps;
        lineGlyphs.push_back(joinColumns(columns, inner, &lineGaps));
        out.gaps.insert(out.gaps.end(), lineGaps.begin(), lineGaps.end());
        out.glyphCount += lineGlyphs.back().size();
    }

    Vector<int32_t> heights;
    for (const Vector<Box>& glyphs : lineGlyphs) {
        for (const Box& g : glyphs) {
            heights.push_back(g.y1 - g.y0);
        }
    }
    out.textHeight = quantile(heights, 0.8);
    for (const Vector<Box>& glyphs : lineGlyphs) {
        for (const Box& g : glyphs) {
            if (g.y1 - g.y0 >= 0.5 * out.textHeight) {
                out.fullWidths.push_back(g.x1 - g.x0);
            }
        }
    }
    // Touching glyphs: joined runs much wider than a glyph is high.
    int32_t wide = 0;
    for (int32_t w : out.fullWidths) {
        wide += w > 1.2 * out.textHeight ? 1 : 0;
    }
    out.isTouching = !out.fullWidths.empty() && wide * 10 >= static_cast<int32_t>(out.fullWidths.size()) * 3;
    // Neighbour distances of glyph left edges, centres and right edges
    // (in half pixels), between neighbours on the same line; the pitch
    // is the median centre distance. Fixed pitch: by one of the three,
    // seven in ten distances are the pitch or a whole multiple of it (a
    // space). Narrow glyphs sit in the middle of a monospaced cell but
    // to one side of a display's cell, so no single measure suits both.
    Vector<int32_t> steps[3];
    for (const Vector<Box>& glyphs : lineGlyphs) {
        for (size_t k = 1; k < glyphs.size(); ++k) {
            steps[0].push_back(2 * (glyphs[k].x0 - glyphs[k - 1].x0));
            steps[1].push_back((glyphs[k].x0 + glyphs[k].x1) - (glyphs[k - 1].x0 + glyphs[k - 1].x1));
            steps[2].push_back(2 * (glyphs[k].x1 - glyphs[k - 1].x1));
        }
    }
    out.stepCount = steps[1].size();
    out.pitch = 0.5 * quantile(steps[1], 0.5);
    int32_t regular = 0;
    for (const Vector<int32_t>& measure : steps) {
        const double p = 0.5 * quantile(measure, 0.5);
        // A step much shorter than a character is wide is the pitch of
        // pieces, not of characters, and everything is a multiple of it.
        if (p < 0.4 * out.textHeight) {
            continue;
        }
        const double tolerance = std::max(1.5, 0.1 * p);
        int32_t hits = 0;
        for (int32_t s : measure) {
            const double d = 0.5 * s;
            const double multiple = std::max(1.0, std::round(d / std::max(p, 1.0)));
            hits += std::abs(d - multiple * p) <= tolerance * multiple ? 1 : 0;
        }
        regular = std::max(regular, hits);
    }
    out.isFixedPitch =
        !out.isTouching && out.stepCount >= 3 && regular * 10 >= static_cast<int32_t>(out.stepCount) * 7 ? 1 : 0;
    return out;
}

// A text line as a band of rows [y0, y1) and the ink in it.
struct RowBand {
    int32_t y0, y1;
    int64_t mass;
};

// The text lines of a paragraph: runs of rows the ink covers. Every blob
// counts, specks too: the dots of fine dot-matrix print are speck-sized,
// and leaving them out would open gaps inside a line. Rows with next to no
// ink (a fiftieth of the fullest row) count as empty. The rows of dots or segments of one line lie about a stroke
// apart, lines further, so gaps up to one and a half strokes close. Runs
// much lower than the tallest (an underline, a row of i-dots) or with
// little ink are no line of their own. Always at least one band.
Vector<RowBand> findLineBands(const services::BlobResultSet& blobs, int32_t height, double stroke)
{
    Vector<int64_t> rows(static_cast<size_t>(height), 0);
    for (const services::BlobRun& r : blobs.runs) {
        rows[static_cast<size_t>(r.y)] += r.length;
    }
    const int64_t peak = *std::max_element(rows.begin(), rows.end());
    const int32_t closeGap = std::max(2, static_cast<int32_t>(std::lround(1.5 * stroke)));
    Vector<RowBand> runs;
    for (int32_t y = 0; y < height; ++y) {
        const int64_t ink = rows[static_cast<size_t>(y)];
        if (ink * 50 <= peak) {
            continue;
        }
        if (!runs.empty() && y - runs.back().y1 <= closeGap) {
            runs.back().y1 = y + 1;
            runs.back().mass += ink;
        } else {
            runs.push_back({y, y + 1, ink});
        }
    }
    if (runs.empty()) {
        return Vector<RowBand>(1, RowBand{0, height, 0});
    }
    int32_t tallest = 0;
    int64_t heaviest = 0;
    for (const RowBand& r : runs) {
        tallest = std::max(tallest, r.y1 - r.y0);
        heaviest = std::max(heaviest, r.mass);
    }
    Vector<RowBand> bands;
    for (const RowBand& r : runs) {
        if ((r.y1 - r.y0) * 5 >= tallest * 2 && r.mass * 20 >= heaviest) {
            bands.push_back(r);
        }
    }
    return bands;
}

// The band a mark spanning rows [top, bottom) belongs to: the one it
// overlaps most, else the nearest.
size_t nearestBand(const Vector<RowBand>& bands, int32_t top, int32_t bottom)
{
    size_t best = 0;
    int32_t bestScore = std::numeric_limits<int32_t>::min();
    for (size_t k = 0; k < bands.size(); ++k) {
        // Overlap when positive, minus the distance when apart.
        const int32_t score = std::min(bottom, bands[k].y1) - std::max(top, bands[k].y0);
        if (score > bestScore) {
            bestScore = score;
            best = k;
        }
    }
    return best;
}

// Columns without ink between the first and the last inked one, with the
// ink sheared by t about the middle row (column x + (y - mid) * t): the
// gaps between glyphs, which open fully only where the strokes stand
// upright.
int32_t emptyColumns(const kimg_image* ink, double t)
{
    kimg_windowConst w;
    if (kimg_windowConst_init(&w, ink) < 0 || w.width <= 0 || w.height <= 0) {
        return 0;
    }
    const double mid = 0.5 * (w.height - 1);
    const int32_t reach = static_cast<int32_t>(std::ceil(std::abs(t) * mid)) + 1;
    Vector<int32_t> columns(static_cast<size_t>(w.width + 2 * reach), 0);
    for (int32_t y = 0; y < w.height; ++y) {
        const uint8_t* row = static_cast<const uint8_t*>(w.pixels) + y * w.pitch;
        const double shift = (y - mid) * t;
        for (int32_t x = 0; x < w.width; ++x) {
            if (row[x] != 0) {
                ++columns[static_cast<size_t>(reach + std::lround(x + shift))];
            }
        }
    }
    const auto first = std::find_if(columns.begin(), columns.end(), [](int32_t c) { return c != 0; });
    if (first == columns.end()) {
        return 0;
    }
    const auto last = std::find_if(columns.rbegin(), columns.rend(), [](int32_t c) { return c != 0; }).base();
    return static_cast<int32_t>(std::count(first, last, 0));
}

// slantIsFalse (may be null): set when the ink, taken upright (sheared by
// slantTangent), leaves at least as many columns between glyphs empty as
// the line image does, and some.
int32_t measureInk(const LineView& v, const Background& bg, double noise, double slantTangent, uint32_t* slantIsFalse,
                   koc_runParamsEstimate* m) noexcept
{
    services::ScopedImage ink;
    KOC_RETURN_IF_FAILED(binarize(v, bg, noise > 0.1 * bg.contrast, ink.get()));
    if (slantIsFalse != nullptr) {
        KOC_RETURN_IF_FAILED(guarded([&]() -> int32_t {
            const int32_t deslanted = emptyColumns(ink.get(), 0.0);
            const int32_t upright = emptyColumns(ink.get(), slantTangent);
            *slantIsFalse = upright > 0 && upright >= deslanted ? 1 : 0;
            return 0;
        }));
    }
    services::BlobResultSet blobs;
    KOC_RETURN_IF_FAILED(services::labelBlobs<uint8_t>(ink.get(), 128, services::kBlobsAboveThreshold, &blobs));
    services::StrokeDetectParams strokeParams;
    strokeParams.markLow = 255;
    strokeParams.markHigh = 255;
    services::StrokeDetectResult strokes;
    KOC_RETURN_IF_FAILED(services::strokeDetect8(ink.get(), &strokeParams, &strokes));
    services::ScopedImage widthImage;
    KOC_RETURN_IF_FAILED(services::strokeDetectMinStrokeWidthImage(&strokes, widthImage.get()));
    kimg_windowConst sw;
    KOC_RETURN_IF_FAILED(kimg_windowConst_init(&sw, widthImage.get()));

    return guarded([&]() -> int32_t {
        const auto strokeOf = [&](const services::Blob& b, Vector<uint8_t>* out) {
            for (int32_t k = 0; k < b.runCount; ++k) {
                const services::BlobRun& r = blobs.runs[static_cast<size_t>(b.firstRun + k)];
                const uint8_t* row = static_cast<const uint8_t*>(sw.pixels) + (r.y - sw.y) * sw.pitch;
                for (int32_t x = r.x; x < r.x + r.length; ++x) {
                    out->push_back(row[x - sw.x]);
                }
            }
        };
        // A first stroke width from the blobs that can hold a stroke at all
        // sets the speck size; then the width again without the specks.
        Vector<uint8_t> widths;
        for (const services::Blob& b : blobs.blobs) {
            if (b.area >= 4) {
                strokeOf(b, &widths);
            }
        }
        if (widths.empty()) {
            for (const services::Blob& b : blobs.blobs) {
                strokeOf(b, &widths);
            }
        }
        if (widths.empty()) {
            return KOC_E_NO_INK;
        }
        const double s0 = std::max(1.0, quantile(widths, 0.5));
        const bool noisy = noise > 0.08 * bg.contrast;
        const int32_t speck = noisy ? std::max(3, static_cast<int32_t>(std::lround(0.6 * s0 * s0)))
                                    : std::max(2, static_cast<int32_t>(std::lround(0.25 * s0 * s0)));
        Vector<const services::Blob*> kept;
        widths.clear();
        for (const services::Blob& b : blobs.blobs) {
            if (b.area >= speck) {
                kept.push_back(&b);
                strokeOf(b, &widths);
            }
        }
        if (kept.empty()) {
            return KOC_E_NO_INK;
        }
        const double stroke = std::max(1.0, quantile(widths, 0.5));

        // A dot is its own stroke: its box is a better width than the
        // shortest runs through a disc, which its rim makes short.
        Vector<int32_t> dotSizes;
        for (const services::Blob* b : kept) {
            const kstd_rect32& r = b->rect;
            if (std::max(r.width, r.height) <= 3.0 * stroke) {
                dotSizes.push_back(std::min(r.width, r.height));
            }
        }
        const double dotSize = dotSizes.size() * 2 >= kept.size() ? quantile(dotSizes, 0.5) : 0.0;

        // The text lines, measured one by one: glyphs of different lines
        // must neither join into one tall column nor count as neighbours.
        const Vector<RowBand> bands = findLineBands(blobs, v.height, std::max(stroke, dotSize));
        Vector<Vector<const services::Blob*>> members(bands.size());
        for (const services::Blob* b : kept) {
            members[nearestBand(bands, b->rect.y, b->rect.y + b->rect.height)].push_back(b);
        }

        // Broken-stroke print (dots, display segments): most marks span
        // less than half the band of rows their line's ink fills, where the
        // marks of solid glyphs span most of it (lowercase x-height letters
        // still reach 0.55 of a band with descenders).
        size_t fragments = 0;
        for (const Vector<const services::Blob*>& line : members) {
            Vector<int32_t> tops;
            Vector<int32_t> bottoms;
            for (const services::Blob* b : line) {
                tops.push_back(b->rect.y);
                bottoms.push_back(b->rect.y + b->rect.height);
            }
            const double band = quantile(bottoms, 0.9) - quantile(tops, 0.1);
            for (const services::Blob* b : line) {
                fragments += b->rect.height < 0.5 * band ? 1 : 0;
            }
        }
        const bool broken = kept.size() >= 6 && fragments * 2 >= kept.size();
        const double strokeWidth = broken && dotSize > 0.0 ? std::max(stroke, dotSize) : stroke;

        // Columns first (marks that overlap horizontally), then the inner
        // gap from all lines' column gaps, then each line's glyphs.
        Vector<Vector<Box>> lineColumns;
        Vector<int32_t> columnGaps;
        for (const Vector<const services::Blob*>& line : members) {
            Vector<Box> boxes;
            for (const services::Blob* b : line) {
                const kstd_rect32& r = b->rect;
                boxes.push_back({r.x, r.x + r.width, r.y, r.y + r.height});
            }
            Vector<int32_t> lineGaps;
            lineColumns.push_back(joinColumns(std::move(boxes), -1, &lineGaps));
            columnGaps.insert(columnGaps.end(), lineGaps.begin(), lineGaps.end());
        }
        int32_t inner = broken ? innerGapOf(columnGaps) : 0;
        GlyphLayout layout = layoutGlyphs(lineColumns, inner);
        // Segmented display print (fourteen segments) is mostly solid, but
        // some glyphs (N, Y, 4) fall apart into a bar and a shorter stroke
        // a pixel or two apart, which breaks the pitch. Joining across the
        // small cluster of gaps is right only when the joins are mostly of
        // such short strokes and restore a fixed pitch; proportional text,
        // whose close pairs ('ri', ':2') must stay apart, has no pitch to
        // restore, and two full glyphs whose serifs nearly touch are no
        // strokes of one glyph.
        if (!broken && layout.isFixedPitch == 0) {
            const int32_t candidate = innerGapOf(columnGaps);
            int32_t joins = 0;
            int32_t strokeJoins = 0;
            for (const Vector<Box>& columns : lineColumns) {
                for (size_t k = 1; k < columns.size(); ++k) {
                    if (columns[k].x0 - columns[k - 1].x1 <= candidate) {
                        ++joins;
                        const int32_t shorter = std::min(columns[k].y1 - columns[k].y0, columns[k - 1].y1 - columns[k - 1].y0);
                        strokeJoins += shorter < 0.75 * layout.textHeight ? 1 : 0;
                    }
                }
            }
            if (candidate > 0 && joins > 0 && strokeJoins * 2 >= joins) {
                GlyphLayout joined = layoutGlyphs(lineColumns, candidate);
                if (joined.isFixedPitch != 0 && joined.stepCount >= 4) {
                    layout = std::move(joined);
                    inner = candidate;
                }
            }
        }
        const double textHeight = layout.textHeight;
        const Vector<int32_t>& fullWidths = layout.fullWidths;
        const Vector<int32_t>& gaps = layout.gaps;
        const size_t glyphCount = layout.glyphCount;
        const double pitch = layout.pitch;
        const bool touching = layout.isTouching;

        m->textHeight = textHeight;
        m->strokeWidth = strokeWidth;
        m->medianGlyphWidth = quantile(fullWidths, 0.5);
        // The widest glyph that is one character: one blob of full height
        // (marks that merely overlap, a kerned 'AJ', are two), since a 'W'
        // or 'M' is inked in one piece. It reaches 1.35 text heights and,
        // in a font whose pitch only looks fixed, 1.5 pitches; two glyphs
        // that touch span two pitches less a gap, more than that.
        int32_t widest = 0;
        for (const services::Blob* b : kept) {
            const int32_t w = b->rect.width;
            if (b->rect.height >= 0.5 * textHeight && w <= 1.5 * textHeight && (pitch <= 0.0 || w <= 1.6 * pitch)) {
                widest = std::max(widest, w);
            }
        }
        m->widestGlyphWidth = broken ? m->medianGlyphWidth : widest;
        m->glyphCount = static_cast<int32_t>(glyphCount);
        m->lineCount = static_cast<int32_t>(bands.size());
        m->innerGap = inner;
        m->charGap = static_cast<int32_t>(quantile(gaps, 0.5));
        m->pitch = pitch;
        m->isFixedPitch = layout.isFixedPitch;
        m->isTouching = touching ? 1 : 0;
        m->isBrokenStroke = broken ? 1 : 0;
        return 0;
    });
}

}  // namespace

int32_t slantDegrees(double skewAngle, double lineAngle) noexcept
{
    double d = std::fmod(skewAngle - lineAngle, 360.0);
    if (d > 180.0) {
        d -= 360.0;
    } else if (d <= -180.0) {
        d += 360.0;
    }
    return static_cast<int32_t>(std::lround(d));
}

int32_t measureExtractedLine(const koc_lineExtractResult* line, koc_runParamsEstimate* m, uint32_t* slantIsFalse) noexcept
{
    KOC_ASSERT(line != nullptr && m != nullptr);
    if (slantIsFalse != nullptr) {
        *slantIsFalse = 0;
    }
    if (line->isLineFound == 0 || line->isLineImageValid == 0 || (line->polarity != 1 && line->polarity != 2)) {
        return KOC_E_NO_INK;
    }
    LineView view;
    KOC_RETURN_IF_FAILED(buildView(line, &view));
    if (view.width < 2 || view.height < 2) {
        return KOC_E_NO_INK;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    Background bg;
    double noise = 0.0;
    KOC_RETURN_IF_FAILED(guarded([&]() -> int32_t {
        measureBackground(view, line->lineHeight > 0.0 ? line->lineHeight : view.height, &bg);
        noise = measureNoise(view);
        return 0;
    }));
    // Less than a few grey levels between ink and background is no ink at
    // all, whatever the normalisation would make of it.
    if (bg.levels.empty() || bg.contrast < std::max(6.0, 3.0 * noise)) {
        return KOC_E_NO_INK;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    // The line image's rows run along the line and its columns along the
    // slant found: the row axis turns by the slant, so a pixel (x, y) of
    // the line image lies in the column x - y sin(slant) of the rectangle
    // taken upright.
    const double slantTangent = -std::sin((line->skewAngle - line->lineAngle) * 3.14159265358979323846 / 180.0);
    KOC_RETURN_IF_FAILED(measureInk(view, bg, noise, slantTangent, slantIsFalse, m));
    m->polarity = line->polarity;
    m->contrast = bg.contrast;
    m->noiseLevel = noise;
    m->backgroundSlope = bg.slope;
    KOC_RETURN_IF_FAILED(guarded([&]() -> int32_t {
        m->edgeWidth = measureEdgeWidth(view, bg, noise > 0.1 * bg.contrast);
        return 0;
    }));
    return 0;
}

namespace {

// Two marks of solid print overlapping sideways by at least this share of
// the narrower one's width are parts of one glyph.
constexpr double kStackedOverlap = 0.3;

// Edges this many pixels wide (per boundary pixel) mark a blurred line;
// sharp print measures about one.
constexpr double kBlurredEdgeWidth = 2.0;
// The threshold that keeps only the cores of blurred strokes.
constexpr double kCoreThresholdFraction = 0.25;

int32_t atLeast(double v, int32_t floor) noexcept
{
    return std::max(floor, static_cast<int32_t>(std::min(v, 1e6)));
}

}  // namespace

void chooseRunParams(const koc_runParamsEstimate& m, const koc_charSegmentRunParams& base, uint64_t pinned,
                     koc_charSegmentRunParams* out) noexcept
{
    KOC_CHECK(out != nullptr);
    koc_charSegmentRunParams p = base;
    const auto set = [&](uint64_t bit, auto& field, auto value) {
        if ((pinned & bit) == 0) {
            field = static_cast<std::remove_reference_t<decltype(field)>>(value);
        }
    };
    const double h = std::max(m.textHeight, 1.0);
    const double s = std::max(m.strokeWidth, 1.0);
    const double pitch = m.pitch > 0.0 ? m.pitch : 0.7 * h;

    set(KOC_PIN_POLARITY, p.polarity, m.polarity);
    // One line result per text line found; the splitter shares the marks
    // out among them.
    set(KOC_PIN_NUM_LINES, p.numLines, std::clamp(m.lineCount, 1, KOC_MAX_NUM_LINES));
    // Search a little beyond what the measuring found, so the same line is
    // found again, and no more: a wide search costs time and can lock onto
    // the slant of single strokes.
    set(KOC_PIN_MAX_LINE_ANGLE, p.maxLineAngle, std::min(45.0, std::ceil(std::abs(m.lineAngle)) + 3.0));
    // The slant search runs around the line's rotation. Left a few degrees
    // on a line the measuring found upright, it settles on the lean of
    // serifs and diagonals and can join glyphs whose feet nearly meet (an
    // 'ii' in a serif face), so such a line is searched upright only.
    // Three kinds of line keep the search: a rotated one, whose rotation
    // is found to the nearest degree, so that its glyphs stand up to half a
    // degree off the line's normal and the slant search takes that up; a
    // noisy one, because a slanted line image is resampled between pixels,
    // which averages the noise down (an upright one is a plain copy); and
    // one whose glyphs touch, where the seams the cuts follow need not be
    // upright and a missed italic slant is at least partly recovered.
    const bool noisy = m.noiseLevel > std::max(2.0, 0.03 * m.contrast);
    const int32_t slant = std::abs(slantDegrees(m.skewAngle, m.lineAngle));
    const bool searchUpright =
        slant <= kUprightSlantDegrees && std::lround(m.lineAngle) == 0 && !noisy && m.isTouching == 0;
    set(KOC_PIN_MAX_SKEW_ANGLE, p.maxSkewAngle,
        searchUpright ? 0.0 : std::min(45.0, static_cast<double>(slant) + 3.0));
    // The local normalisations stretch flat background to full range, so
    // noise turns into ink; a global stretch keeps it below the threshold.
    // A background that slopes across the line needs the local mean though.
    const bool sloped = m.backgroundSlope > 0.25;
    set(KOC_PIN_NORMALIZATION_MODE, p.normalizationMode, noisy && !sloped ? 2u : 4u);
    // Blur fills the narrow gaps between glyphs with grey and joins them;
    // ink edges at least twice as wide as sharp print's say so. Glyphs
    // that touch mostly meet in a seam of partly covered pixels too. The
    // threshold then moves to the inner end of the edge band (three
    // quarters of the contrast), so only the strokes' cores count as ink
    // and the grey between glyphs does not. A stroke of one pixel has no
    // core to keep.
    if ((m.edgeWidth >= kBlurredEdgeWidth || m.isTouching != 0) && m.strokeWidth >= 2.0) {
        set(KOC_PIN_THRESHOLD_FRACTION, p.thresholdFraction, kCoreThresholdFraction);
    }
    // Background suppression whitens strokes thinner than the text's own.
    // Where the text's stroke is a single pixel nothing is thinner but the
    // glyphs' own partly covered pixels, the fainter steps of a diagonal,
    // and whitening those breaks a small 'W' or 'X' into pieces that meet
    // only at a corner. Noise specks are the one thing it would still catch,
    // so noisy lines keep it.
    if (m.strokeWidth < 1.5 && !noisy && m.isFixedPitch == 0) {
        set(KOC_PIN_ENABLE_BACKGROUND_SUPPRESSION, p.enableBackgroundSuppression, 0u);
    }

    // Sizes: a '.' is about one stroke square, '-' one stroke high, '1' and
    // 'i' one stroke wide; specks are smaller than half of that.
    set(KOC_PIN_MIN_CHAR_AREA, p.minCharArea, atLeast(std::floor((noisy ? 0.6 : 0.4) * s * s), 1));
    set(KOC_PIN_MIN_CHAR_WIDTH, p.minCharWidth, atLeast(std::floor(0.6 * s), 1));
    set(KOC_PIN_MIN_CHAR_HEIGHT, p.minCharHeight, atLeast(std::floor(0.6 * s), 1));
    set(KOC_PIN_MAX_CHAR_HEIGHT, p.maxCharHeight, atLeast(std::ceil(1.4 * h), 1));
    // Noise that touches a glyph makes it taller than the line: crop it.
    if (noisy) {
        set(KOC_PIN_LIMIT_CHAR_HEIGHT, p.limitCharHeight, 1u);
    }
    // Wide capitals (W, M) reach 1.35 text heights' width for every height
    // unit; two glyphs side by side are wider than that.
    set(KOC_PIN_MIN_ASPECT_RATIO, p.minAspectRatio, 0.65);
    if (m.isFixedPitch != 0) {
        // A glyph may fill its cell and a little more; a proportional font
        // whose pitch looks fixed has a 'W' or 'M' wider still, which the
        // measuring saw standing alone.
        set(KOC_PIN_LIMIT_CHAR_WIDTH, p.limitCharWidth, 1u);
        set(KOC_PIN_MAX_CHAR_WIDTH, p.maxCharWidth,
            atLeast(std::max(std::ceil(1.15 * pitch), std::ceil(m.widestGlyphWidth)), 1));
    } else if (m.isTouching != 0) {
        // Runs wider than a glyph are glyphs that touch, but the limit must
        // leave the wide glyphs whole: an 'M', 'W' or 'K' of a normal face
        // reaches about one text height (measured over whole runs, which
        // include descenders), while two touching glyphs of ordinary width
        // span more. Glyphs of dots or segments are display characters, at
        // most about 0.85 text heights wide; there "touching" means the
        // inner gap joined neighbours, which the limit must part again.
        set(KOC_PIN_LIMIT_CHAR_WIDTH, p.limitCharWidth, 1u);
        set(KOC_PIN_MAX_CHAR_WIDTH, p.maxCharWidth, atLeast(std::ceil((m.isBrokenStroke != 0 ? 0.85 : 1.0) * h), 1));
    } else {
        set(KOC_PIN_MAX_CHAR_WIDTH, p.maxCharWidth, atLeast(std::ceil(1.6 * h), 1));
    }

    // Gaps: in print of dots or segments, and on a fixed pitch, gaps up to
    // the measured inner-gap limit join marks and wider ones part
    // characters. Solid proportional glyphs have no gap inside them, so no
    // gap joins; marks join where one stands over the other (the dot on
    // 'i', the two of ':'), which shows as an overlap of at least a third of
    // the narrower one's width. Kerned neighbours ('LY', 'VJ', 'TJ') overlap
    // by a foot or an arm, far less, and stay apart, and so do separately
    // inked neighbours (':2', 'ri').
    int32_t inner = std::max(m.innerGap, 0);
    if (m.isFixedPitch != 0) {
        inner = std::max(inner, (m.charGap - 1) / 2);
    }
    if (m.isBrokenStroke != 0 || m.isFixedPitch != 0) {
        set(KOC_PIN_GAP_MODE, p.gapMode, 4u);
    } else {
        set(KOC_PIN_GAP_MODE, p.gapMode, 1u);
        set(KOC_PIN_REFINEMENT_FRACTION, p.refinementFraction, kStackedOverlap);
    }
    set(KOC_PIN_MIN_CHAR_GAP, p.minCharGap, inner + 1);
    // Where glyphs come in pieces on a fixed pitch, the tree may also group
    // pieces across a gap as wide as a character gap (a display's 'N' whose
    // diagonal stops short of its right bar): the pitch decides there, not
    // the gap. Solid print has no pieces to group, and there the wider
    // limit would only let narrow neighbours join.
    const bool piecesOnPitch = m.isFixedPitch != 0 && m.innerGap > 0;
    set(KOC_PIN_MAX_INNER_GAP, p.maxInnerGap, piecesOnPitch ? std::max(inner, m.charGap) : inner);
    // Proportional text has no pitch for the tree to exploit; its windows
    // are the characters already.
    set(KOC_PIN_SEGMENTATION_METHOD, p.segmentationMethod,
        m.isFixedPitch != 0 || m.isBrokenStroke != 0 || m.isTouching != 0 ? 2u : 1u);

    // Cells grow into the gaps by at most half a character gap, so a word
    // gap stays wider than any gap between letters when spaces are judged.
    const int32_t margin = atLeast(std::floor(0.5 * m.charGap), 1);
    set(KOC_PIN_CELL_RECT_MODE, p.cellRectParams.cellRectMode, 2u);
    set(KOC_PIN_CELL_RECT_MIN_MARGIN, p.cellRectParams.cellRectMinMargin, 0);
    set(KOC_PIN_CELL_RECT_MAX_MARGIN, p.cellRectParams.cellRectMaxMargin, margin);
    if (p.cellRectParams.cellRectMinMargin > p.cellRectParams.cellRectMaxMargin) {
        // Only one of the two was pinned: the other gives way.
        if ((pinned & KOC_PIN_CELL_RECT_MAX_MARGIN) == 0) {
            p.cellRectParams.cellRectMaxMargin = p.cellRectParams.cellRectMinMargin;
        } else {
            p.cellRectParams.cellRectMinMargin = p.cellRectParams.cellRectMaxMargin;
        }
    }

    // A space is a gap wider than a letter gap by half a pitch (a
    // monospaced space is a whole pitch; a proportional one about 0.45 text
    // heights), measured between cells.
    const double spaceGap = std::max({m.charGap + 0.45 * pitch, 2.0 * m.charGap + 1.0, 0.3 * h});
    const int32_t minSpace = atLeast(std::floor(spaceGap - 2.0 * p.cellRectParams.cellRectMaxMargin), 1);
    set(KOC_PIN_SPACE_INSERTION_MODE, p.spaceParams.spaceInsertionMode, 1u);
    set(KOC_PIN_MIN_SPACE_WIDTH, p.spaceParams.minSpaceWidth, minSpace);
    set(KOC_PIN_MAX_SPACE_WIDTH, p.spaceParams.maxSpaceWidth, atLeast(std::ceil(8.0 * pitch), 1));
    if (p.spaceParams.minSpaceWidth > p.spaceParams.maxSpaceWidth) {
        if ((pinned & KOC_PIN_MAX_SPACE_WIDTH) == 0) {
            p.spaceParams.maxSpaceWidth = p.spaceParams.minSpaceWidth;
        } else if ((pinned & KOC_PIN_MIN_SPACE_WIDTH) == 0) {
            p.spaceParams.minSpaceWidth = p.spaceParams.maxSpaceWidth;
        }
    }
    // The size limits keep their order where the caller pinned one side.
    if (p.limitCharWidth != 0 && p.minCharWidth > p.maxCharWidth) {
        if ((pinned & KOC_PIN_MAX_CHAR_WIDTH) == 0) {
            p.maxCharWidth = p.minCharWidth;
        } else if ((pinned & KOC_PIN_MIN_CHAR_WIDTH) == 0) {
            p.minCharWidth = p.maxCharWidth;
        }
    }
    if (p.limitCharHeight != 0 && p.minCharHeight > p.maxCharHeight) {
        if ((pinned & KOC_PIN_MAX_CHAR_HEIGHT) == 0) {
            p.maxCharHeight = p.minCharHeight;
        } else if ((pinned & KOC_PIN_MIN_CHAR_HEIGHT) == 0) {
            p.minCharHeight = p.maxCharHeight;
        }
    }
    *out = p;
}

}  // namespace koc::segment
