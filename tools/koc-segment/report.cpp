// report.cpp: the HTML report. Plain HTML, one style sheet and a few lines
// of script for the hover links, all in the page; pictures are PNG data
// URIs made with libpng's in-memory writer.
#include "report.hpp"

#include <png.h>

#include <cmath>
#include <cstdio>
#include <string_view>

#include "common/param_docs.hpp"
#include "output.hpp"
#include "overlay.hpp"
#include "params_json.hpp"

namespace kocseg {

namespace {

std::string escape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string base64(const std::vector<uint8_t>& bytes)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const uint32_t v = (uint32_t{bytes[i]} << 16) | (two ? uint32_t{bytes[i + 1]} << 8 : 0u);
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += two ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// "data:image/png;base64,..." of 8-bit grey (channels 1) or RGB (3) pixels;
// empty when libpng refuses.
std::string pngDataUri(int32_t width, int32_t height, int channels, const uint8_t* pixels)
{
    if (width <= 0 || height <= 0) {
        return {};
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr) == 0) {
        return {};
    }
    std::vector<uint8_t> png(size);
    if (png_image_write_to_memory(&image, png.data(), &size, 0, pixels, 0, nullptr) == 0) {
        return {};
    }
    png.resize(size);
    return "data:image/png;base64," + base64(png);
}

std::string fixed(double v, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string point(const kmath_vect& v)
{
    return fixed(v.x, 2) + "," + fixed(v.y, 2);
}

// The four corners in drawing order: Po, Px, the corner opposite Po, Py.
std::string polygonPoints(const kmath_shapeAffineRectPoints& q)
{
    const kmath_vect opposite{q.px.x + q.py.x - q.po.x, q.px.y + q.py.y - q.po.y};
    return point(q.po) + " " + point(q.px) + " " + point(opposite) + " " + point(q.py);
}

struct Box {
    double cx, cy, w, h;
};

Box boxOf(const kmath_shapeAffineRectPoints& q)
{
    return {(q.px.x + q.py.x) / 2.0, (q.px.y + q.py.y) / 2.0, std::hypot(q.px.x - q.po.x, q.px.y - q.po.y),
            std::hypot(q.py.x - q.po.x, q.py.y - q.po.y)};
}

const char* polarityName(uint32_t polarity)
{
    return polarity == 1 ? "dark on light" : polarity == 2 ? "light on dark" : "undecided";
}

std::string failureText(const Failure& f)
{
    return f.name + ": " + f.message + (f.detail.empty() ? "" : " (" + f.detail + ")");
}

std::string lineImageTag(const LineImage& image, const std::string& label)
{
    if (image.pixels.empty()) {
        return {};
    }
    const std::string uri = pngDataUri(image.width, image.height, 1, image.pixels.data());
    if (uri.empty()) {
        return "<p class=\"fail\">" + escape(label) + ": could not be encoded</p>\n";
    }
    // Shown at twice their size (line images are small), never wider than the page.
    return "<figure><img class=\"line\" alt=\"" + escape(label) + "\" width=\"" + std::to_string(2 * image.width) +
           "\" src=\"" + uri + "\"><figcaption>" + escape(label) + " (" + std::to_string(image.width) + "x" +
           std::to_string(image.height) + ")</figcaption></figure>\n";
}

// The fields where two records differ, as "name value" pairs.
std::string changedFields(const koc_charSegmentRunParams& from, const koc_charSegmentRunParams& to)
{
    std::string out;
    for (const ParamField& f : paramFields()) {
        const std::string a = fieldJson(from, f).dump(), b = fieldJson(to, f).dump();
        if (a != b) {
            out += (out.empty() ? "" : ", ") + std::string(f.name) + " " + b;
        }
    }
    return out.empty() ? "nothing changed" : out;
}

void appendParagraph(std::string& html, const ParagraphReport& p, const std::string& idBase, std::string& shapes)
{
    html += "<section class=\"paragraph\"><h3>Paragraph " + std::to_string(p.index) + "</h3>\n";
    html += "<p>Search rectangle Po " + point(p.rect.po) + ", Px " + point(p.rect.px) + ", Py " + point(p.rect.py);
    if (p.lineFound) {
        html += "; line rectangle Po " + point(p.lineRect.po) + ", Px " + point(p.lineRect.px) + ", Py " +
                point(p.lineRect.py);
    }
    html += "</p>\n";
    if (p.autoFailure) {
        html += "<p>Estimator: nothing measured (" + escape(failureText(*p.autoFailure)) +
                "); the given parameters were used.</p>\n";
    } else if (p.autoUsed) {
        const nlohmann::ordered_json measured = autoJson(p)["measured"];
        html += "<details><summary>Estimator: measured and chose</summary><table class=\"kv\">\n";
        for (const auto& [key, value] : measured.items()) {
            html += "<tr><th>" + escape(key) + "</th><td>" + escape(value.dump()) + "</td></tr>\n";
        }
        koc_charSegmentRunParams defaults;
        koc_charSegmentRunParams_construct(&defaults);
        html += "</table><p>Chosen (against the defaults): " + escape(changedFields(defaults, p.autoParams)) +
                "</p></details>\n";
        koc_charSegmentRunParams_destruct(&defaults);
    }
    if (p.failure) {
        html += "<p class=\"fail\">Failed: " + escape(failureText(*p.failure)) + "</p>\n";
    }
    for (size_t j = 0; j < p.lines.size(); ++j) {
        const LineReport& line = p.lines[j];
        html += "<h4>Line " + std::to_string(j) + "</h4>\n";
        if (!line.found) {
            html += "<p>Not found.</p>\n";
            continue;
        }
        html += "<p>Angle " + fixed(line.lineAngle, 2) + "&deg;, skew " + fixed(line.skewAngle, 2) + "&deg;, polarity " +
                std::to_string(line.polarity) + " (" + polarityName(line.polarity) + "), height " +
                fixed(line.lineHeight, 1) + " px, threshold " +
                (line.hasThreshold ? std::to_string(line.threshold) : std::string("-")) + ", " +
                std::to_string(line.positions.size()) + " positions</p>\n<div class=\"lines\">\n";
        const std::string label = "paragraph " + std::to_string(p.index) + " line " + std::to_string(j);
        html += lineImageTag(line.rectified, "rectified, " + label);
        html += lineImageTag(line.normalized, "normalised, " + label);
        html += lineImageTag(line.binarized, "binarised, " + label);
        html += "</div>\n";
        if (line.positions.empty()) {
            continue;
        }
        html += "<table class=\"positions\"><thead><tr><th>#</th><th>kind</th><th>mark centre</th><th>mark w x h</th>"
                "<th>cell centre</th><th>cell w x h</th><th>area</th><th>spaceScore</th></tr></thead><tbody>\n";
        for (size_t k = 0; k < line.positions.size(); ++k) {
            const PositionReport& pos = line.positions[k];
            const std::string id = idBase + "-p" + std::to_string(p.index) + "-l" + std::to_string(j) + "-k" +
                                   std::to_string(k);
            const Box m = boxOf(pos.mark), c = boxOf(pos.cell);
            html += "<tr class=\"pos\" data-pos=\"" + id + "\"><td>" + std::to_string(k) + "</td><td>" +
                    (pos.isSpace ? "space" : "mark") + "</td>";
            if (pos.isSpace) {
                html += "<td></td><td></td>";
            } else {
                html += "<td>" + fixed(m.cx, 1) + ", " + fixed(m.cy, 1) + "</td><td>" + fixed(m.w, 1) + " x " +
                        fixed(m.h, 1) + "</td>";
            }
            html += "<td>" + fixed(c.cx, 1) + ", " + fixed(c.cy, 1) + "</td><td>" + fixed(c.w, 1) + " x " +
                    fixed(c.h, 1) + "</td><td>" + (pos.isSpace ? std::string() : std::to_string(pos.area)) +
                    "</td><td>" + fixed(pos.spaceScore, 3) + "</td></tr>\n";
            shapes += "<g class=\"pos\" data-pos=\"" + id + "\"><polygon class=\"cell\" points=\"" +
                      polygonPoints(pos.cell) + "\"/>";
            if (!pos.isSpace) {
                shapes += "<polygon class=\"mark\" points=\"" + polygonPoints(pos.mark) + "\"/>";
            }
            shapes += "</g>\n";
        }
        html += "</tbody></table>\n";
    }
    html += "</section>\n";
}

const char* const kStyle = R"(
body { font: 14px/1.4 sans-serif; margin: 1em 2em; color: #222; }
h1 { font-size: 1.5em; } h2 { font-size: 1.25em; border-top: 2px solid #ccc; padding-top: .6em; }
h3 { font-size: 1.1em; } h4 { font-size: 1em; margin-bottom: .2em; }
table { border-collapse: collapse; margin: .4em 0; }
th, td { border: 1px solid #ddd; padding: 1px 6px; text-align: left; vertical-align: top; }
td.help { color: #555; font-size: .9em; }
table.positions td { font-family: monospace; text-align: right; }
tr.pos.hot { background: #ffe680; }
.fail { color: #b00020; font-weight: bold; }
.picture { position: relative; display: inline-block; max-width: 100%; }
.picture img { display: block; max-width: 100%; height: auto; image-rendering: pixelated; }
.picture svg { position: absolute; left: 0; top: 0; width: 100%; height: 100%; }
svg g.pos polygon { fill: none; stroke: none; pointer-events: all; }
svg g.pos.hot polygon.cell { fill: rgba(255, 230, 0, .25); stroke: #ffd000; stroke-width: 1.5; vector-effect: non-scaling-stroke; }
svg g.pos.hot polygon.mark { fill: rgba(255, 0, 0, .2); stroke: #ff2020; stroke-width: 2; vector-effect: non-scaling-stroke; }
div.lines { display: flex; flex-wrap: wrap; gap: .8em; }
figure { margin: 0; } figure img.line { max-width: 100%; height: auto; image-rendering: pixelated; border: 1px solid #ccc; }
figcaption { font-size: .85em; color: #555; }
)";

// Hover links between rows and shapes, and a console error for any picture
// that did not decode, so a broken page shows up in the browser's console.
const char* const kScript = R"(
(function () {
  function mark(id, on) {
    document.querySelectorAll('[data-pos="' + id + '"]').forEach(function (e) { e.classList.toggle('hot', on); });
  }
  document.querySelectorAll('[data-pos]').forEach(function (e) {
    var id = e.getAttribute('data-pos');
    e.addEventListener('mouseenter', function () { mark(id, true); });
    e.addEventListener('mouseleave', function () { mark(id, false); });
  });
  window.addEventListener('load', function () {
    document.querySelectorAll('img').forEach(function (i) {
      if (!i.complete || i.naturalWidth === 0) { console.error('picture did not decode: ' + i.alt); }
    });
  });
})();
)";

} // namespace

std::string reportSection(const ImageReport& report, const GreyImage* grey, int32_t overlayScale, size_t index)
{
    const std::string idBase = "i" + std::to_string(index);
    std::string html = "<section class=\"image\" id=\"" + idBase + "\"><h2>" + escape(report.name) + "</h2>\n";
    if (report.width > 0) {
        html += "<p>" + std::to_string(report.width) + "x" + std::to_string(report.height) + ", " +
                std::to_string(report.bits) + "-bit, " + std::to_string(report.paragraphs.size()) + " paragraph" +
                (report.paragraphs.size() == 1 ? "" : "s") + ", " + fixed(report.elapsedMs, 1) +
                " ms in the library</p>\n";
    }
    for (const Failure& f : report.failures) {
        if (f.paragraph < 0) {
            html += "<p class=\"fail\">Failed: " + escape(failureText(f)) + "</p>\n";
        }
    }
    if (grey == nullptr || grey->width <= 0) {
        return html + "</section>\n";
    }
    std::string shapes, paragraphs;
    for (const ParagraphReport& p : report.paragraphs) {
        appendParagraph(paragraphs, p, idBase, shapes);
    }
    const RgbImage overlay = renderOverlay(report, *grey, overlayScale);
    const std::string uri = pngDataUri(overlay.width, overlay.height, 3, overlay.rgb.data());
    if (uri.empty()) {
        html += "<p class=\"fail\">The overlay could not be encoded.</p>\n";
    } else {
        // The shapes live in image coordinates; the view box stretches them
        // over the (possibly enlarged) overlay.
        html += "<div class=\"picture\"><img alt=\"overlay of " + escape(report.name) + "\" width=\"" +
                std::to_string(overlay.width) + "\" height=\"" + std::to_string(overlay.height) + "\" src=\"" + uri +
                "\"><svg viewBox=\"0 0 " + std::to_string(grey->width) + " " + std::to_string(grey->height) +
                "\" preserveAspectRatio=\"none\">\n" + shapes + "</svg></div>\n";
    }
    return html + paragraphs + "</section>\n";
}

std::string reportPage(const std::vector<std::string>& sections, const std::vector<ImageReport>& reports,
                       const koc_charSegmentRunParams& params, bool autoParams)
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
                       "<title>koc-segment report</title>\n<style>" +
                       std::string(kStyle) + "</style></head><body>\n<h1>koc-segment report</h1>\n";
    html += "<table class=\"summary\"><thead><tr><th>image</th><th>size</th><th>paragraphs</th><th>lines found</th>"
            "<th>positions</th><th>result</th></tr></thead><tbody>\n";
    for (size_t k = 0; k < reports.size(); ++k) {
        const ImageReport& r = reports[k];
        size_t found = 0, positions = 0;
        for (const ParagraphReport& p : r.paragraphs) {
            for (const LineReport& l : p.lines) {
                found += l.found ? 1 : 0;
                positions += l.positions.size();
            }
        }
        html += "<tr><td><a href=\"#i" + std::to_string(k) + "\">" + escape(r.name) + "</a></td><td>" +
                (r.width > 0 ? std::to_string(r.width) + "x" + std::to_string(r.height) + ", " +
                                   std::to_string(r.bits) + "-bit"
                             : std::string("-")) +
                "</td><td>" + std::to_string(r.paragraphs.size()) + "</td><td>" + std::to_string(found) + "</td><td>" +
                std::to_string(positions) + "</td><td" + (r.failures.empty() ? ">ok" : " class=\"fail\">failed") +
                "</td></tr>\n";
    }
    html += "</tbody></table>\n";
    html += std::string("<details><summary>Run parameters") +
            (autoParams ? " (given; the estimator chose each paragraph's own, shown with it)" : "") +
            "</summary>\n<table class=\"params\"><thead><tr><th>field</th><th>value</th><th>what it does</th></tr>"
            "</thead><tbody>\n";
    for (const ParamField& f : paramFields()) {
        const koctools::ParamDoc* doc = koctools::findParamDoc(f.name);
        html += "<tr><td>" + (f.group ? std::string(f.group) + "." : std::string()) + f.name + "</td><td>" +
                escape(fieldJson(params, f).dump()) + "</td><td class=\"help\">" +
                (doc != nullptr ? escape(koctools::paramHelpLine(*doc)) : std::string()) + "</td></tr>\n";
    }
    html += "</tbody></table></details>\n";
    for (const std::string& s : sections) {
        html += s;
    }
    return html + "<script>" + kScript + "</script>\n</body></html>\n";
}

} // namespace kocseg
