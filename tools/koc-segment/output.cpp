// output.cpp: JSON building and the table printer.
#include "output.hpp"

#include "params_json.hpp"

#include <climits>
#include <cmath>
#include <cstdio>
#include <string>

namespace kocseg {

namespace {

// A (smallest, largest) pair as [min, max]; null while nothing widened it
// (the smallest still at its reset value 2147483647).
nlohmann::ordered_json rangeJson(int32_t lo, int32_t hi)
{
    if (lo == INT32_MAX) {
        return nullptr;
    }
    return nlohmann::ordered_json::array({lo, hi});
}

nlohmann::ordered_json allElementsJson(const koc_charSegmentAllElementsStats& s)
{
    return {{"filled", s.isFilled != 0},
            {"area", rangeJson(s.minArea, s.maxArea)},
            {"contrast", s.minContrast == INT32_MAX ? nlohmann::ordered_json(nullptr)
                                                   : nlohmann::ordered_json::array({round3(s.minContrast / 65536.0),
                                                                                    round3(s.maxContrast / 65536.0)})},
            {"rows", rangeJson(s.minTop, s.maxBottom)},
            {"markArea", rangeJson(s.minMarkArea, s.maxMarkArea)},
            {"width", rangeJson(s.minWidth, s.maxWidth)},
            {"height", rangeJson(s.minHeight, s.maxHeight)},
            {"spaceWidth", rangeJson(s.minSpaceWidth, s.maxSpaceWidth)}};
}

nlohmann::ordered_json elementListJson(const kstd_vector_koc_charSegmentElementStats& v)
{
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    const koc_charSegmentElementStats* e = nullptr;
    int32_t n = 0;
    if (kstd_vector_koc_charSegmentElementStats_getBeginSizeConst(&v, &e, &n) < 0) {
        return out;
    }
    for (int32_t i = 0; i < n; ++i) {
        out.push_back({{"rect", {e[i].rect.x, e[i].rect.y, e[i].rect.width, e[i].rect.height}},
                       {"area", e[i].area},
                       {"contrast", round3(e[i].contrast / 65536.0)},
                       {"inBandFraction", round3(e[i].inBandFraction)},
                       {"outOfBandFraction", round3(e[i].outOfBandFraction)},
                       {"flags", e[i].flags},
                       {"accepted", e[i].isAccepted != 0}});
    }
    return out;
}

nlohmann::ordered_json xformJson(const kmath_xformLinear& x)
{
    return {{"matrix", {x.matrix.a, x.matrix.b, x.matrix.c, x.matrix.d}}, {"trans", {x.trans.x, x.trans.y}}};
}

kmath_shapeAffineRectPoints pointsOf(const kmath_shapeAffineRect& rect)
{
    kmath_shapeAffineRectPoints p{};
    kmath_shapeAffineRect_getPoints(&rect, &p);
    return p;
}

nlohmann::ordered_json failureJson(const Failure& f)
{
    nlohmann::ordered_json out = {{"name", f.name}, {"message", f.message}, {"detail", f.detail}};
    out["paragraph"] = f.paragraph >= 0 ? nlohmann::ordered_json(f.paragraph) : nlohmann::ordered_json(nullptr);
    return out;
}

std::string fixed(double v, int decimals)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v);
    return buffer;
}

std::string point(const kmath_vect& v)
{
    return "(" + fixed(v.x, 1) + ", " + fixed(v.y, 1) + ")";
}

std::string quadText(const kmath_shapeAffineRectPoints& p)
{
    return "po " + point(p.po) + " px " + point(p.px) + " py " + point(p.py);
}

struct Box {
    double cx, cy, w, h;
};

Box boxOf(const kmath_shapeAffineRectPoints& p)
{
    const double ux = p.px.x - p.po.x, uy = p.px.y - p.po.y, vx = p.py.x - p.po.x, vy = p.py.y - p.po.y;
    return {p.po.x + (ux + vx) / 2, p.po.y + (uy + vy) / 2, std::hypot(ux, uy), std::hypot(vx, vy)};
}

const char* polarityText(uint32_t polarity)
{
    switch (polarity) {
    case 1:
        return "dark on light";
    case 2:
        return "light on dark";
    default:
        return "undecided";
    }
}

} // namespace

double round3(double v)
{
    if (!std::isfinite(v)) {
        return v;
    }
    const double r = std::round(v * 1000.0) / 1000.0;
    return r == 0.0 ? 0.0 : r; // no "-0"
}

nlohmann::ordered_json quadJson(const kmath_shapeAffineRectPoints& p)
{
    return {{"po", {round3(p.po.x), round3(p.po.y)}},
            {"px", {round3(p.px.x), round3(p.px.y)}},
            {"py", {round3(p.py.x), round3(p.py.y)}}};
}

nlohmann::ordered_json lineStatsJson(const koc_charSegmentLineResultStats& s)
{
    if (koc_charSegmentLineResultStats_checkIsComputed(&s) < 0) {
        return nlohmann::ordered_json::object();
    }
    return {{"foldedLineAngle", round3(s.foldedLineAngle)},
            {"foldedSkewAngle", round3(s.foldedSkewAngle)},
            {"bandRect", quadJson(pointsOf(s.bandRect))},
            {"inkRect", quadJson(pointsOf(s.inkRect))},
            {"clientFromImage", xformJson(s.clientFromImage)},
            {"imageFromClient", xformJson(s.imageFromClient)},
            {"binarizationThreshold", s.binarizationThreshold},
            {"thresholdPolarityFlag", s.thresholdPolarityFlag},
            {"polarity", s.polarity},
            {"gapRange", rangeJson(s.minGap, s.maxGap)},
            {"mergedGapRange", rangeJson(s.minMergedGap, s.maxMergedGap)},
            {"pitchRange", rangeJson(s.minPitch, s.maxPitch)},
            {"minBandHeight", s.minBandHeight == INT32_MAX ? nlohmann::ordered_json(nullptr)
                                                           : nlohmann::ordered_json(s.minBandHeight)},
            {"numRawTouchingBorder", s.numRawTouchingBorder},
            {"numRawOutsideBand", s.numRawOutsideBand},
            {"numUnmatchedSmallArea", s.numUnmatchedSmallArea},
            {"numUnmatchedNarrow", s.numUnmatchedNarrow},
            {"numUnmatchedLow", s.numUnmatchedLow},
            {"numCroppedTall", s.numCroppedTall},
            {"positionStats", allElementsJson(s.positionStats)},
            {"elementStats", allElementsJson(s.elementStats)},
            {"rawElements", elementListJson(s.rawElements)},
            {"rawAccepted", elementListJson(s.rawAccepted)},
            {"rawRejected", elementListJson(s.rawRejected)},
            {"charElements", elementListJson(s.charElements)},
            {"charAccepted", elementListJson(s.charAccepted)},
            {"charRejected", elementListJson(s.charRejected)}};
}

nlohmann::ordered_json autoJson(const ParagraphReport& p)
{
    if (p.autoFailure) {
        return {{"error", failureJson(*p.autoFailure)}};
    }
    if (!p.autoUsed) {
        return nullptr;
    }
    const koc_runParamsEstimate& e = p.estimate;
    return {{"params", paramsToJson(p.autoParams)},
            {"measured",
             {{"polarity", e.polarity},
              {"lineAngle", round3(e.lineAngle)},
              {"skewAngle", round3(e.skewAngle)},
              {"textHeight", round3(e.textHeight)},
              {"strokeWidth", round3(e.strokeWidth)},
              {"medianGlyphWidth", round3(e.medianGlyphWidth)},
              {"glyphCount", e.glyphCount},
              {"innerGap", e.innerGap},
              {"charGap", e.charGap},
              {"pitch", round3(e.pitch)},
              {"isFixedPitch", e.isFixedPitch != 0},
              {"isBrokenStroke", e.isBrokenStroke != 0},
              {"isTouching", e.isTouching != 0},
              {"contrast", round3(e.contrast)},
              {"noiseLevel", round3(e.noiseLevel)},
              {"backgroundSlope", round3(e.backgroundSlope)},
              {"lineCount", e.lineCount},
              {"widestGlyphWidth", round3(e.widestGlyphWidth)},
              {"edgeWidth", round3(e.edgeWidth)}}}};
}

nlohmann::ordered_json reportJson(const ImageReport& report, const nlohmann::ordered_json& params)
{
    nlohmann::ordered_json paragraphs = nlohmann::ordered_json::array();
    for (const ParagraphReport& p : report.paragraphs) {
        nlohmann::ordered_json lines = nlohmann::ordered_json::array();
        for (const LineReport& line : p.lines) {
            nlohmann::ordered_json positions = nlohmann::ordered_json::array();
            for (const PositionReport& pos : line.positions) {
                positions.push_back({{"isSpace", pos.isSpace},
                                     {"spaceScore", round3(pos.spaceScore)},
                                     {"area", pos.area},
                                     {"markRect", quadJson(pos.mark)},
                                     {"cellRect", quadJson(pos.cell)}});
            }
            lines.push_back({{"found", line.found},
                             {"lineAngle", round3(line.lineAngle)},
                             {"skewAngle", round3(line.skewAngle)},
                             {"polarity", line.polarity},
                             {"lineHeight", round3(line.lineHeight)},
                             {"threshold", line.hasThreshold ? nlohmann::ordered_json(line.threshold) : nlohmann::ordered_json(nullptr)},
                             {"positions", positions},
                             {"stats", line.stats ? lineStatsJson(*line.stats->get()) : nlohmann::ordered_json::object()}});
        }
        nlohmann::ordered_json paragraph = {{"index", p.index}, {"rect", quadJson(p.rect)}, {"lines", lines}};
        if (p.failure) {
            paragraph["error"] = failureJson(*p.failure);
        }
        if (nlohmann::ordered_json a = autoJson(p); !a.is_null()) {
            paragraph["auto"] = std::move(a);
        }
        paragraphs.push_back(paragraph);
    }
    nlohmann::ordered_json out = {{"image", report.name},     {"width", report.width},
                          {"height", report.height},  {"params", params},
                          {"paragraphs", paragraphs}, {"elapsedMs", round3(report.elapsedMs)}};
    if (!report.failures.empty()) {
        out["error"] = failureJson(report.failures.front());
    }
    return out;
}

void printTable(std::ostream& out, const ImageReport& report)
{
    out << report.name;
    if (report.width > 0) {
        out << ": " << report.width << "x" << report.height << " " << report.bits << "-bit, "
            << report.paragraphs.size() << (report.paragraphs.size() == 1 ? " paragraph, " : " paragraphs, ")
            << fixed(report.elapsedMs, 1) << " ms in the library";
    }
    out << "\n";
    for (const ParagraphReport& p : report.paragraphs) {
        out << "  paragraph " << p.index << ": search rectangle " << quadText(p.rect) << "\n";
        if (p.autoFailure) {
            out << "    auto: nothing measured (" << p.autoFailure->name << "): the given parameters were used\n";
        } else if (p.autoUsed) {
            const koc_runParamsEstimate& e = p.estimate;
            const koc_charSegmentRunParams& a = p.autoParams;
            out << "    auto: measured " << (e.lineCount > 1 ? std::to_string(e.lineCount) + " lines, " : std::string())
                << "height " << fixed(e.textHeight, 1) << " px, stroke " << fixed(e.strokeWidth, 1)
                << " px, glyph width " << fixed(e.medianGlyphWidth, 1) << " px, gaps " << e.innerGap << " inner / "
                << e.charGap << " between, pitch " << fixed(e.pitch, 1) << (e.isFixedPitch != 0 ? " (fixed)" : " (proportional)")
                << (e.isBrokenStroke != 0 ? ", dots or segments" : "") << (e.isTouching != 0 ? ", touching" : "") << ", noise " << fixed(e.noiseLevel, 1) << " of contrast "
                << fixed(e.contrast, 0) << ", background slope " << fixed(e.backgroundSlope, 2) << "\n";
            out << "    auto: chose minCharArea " << a.minCharArea << ", minCharWidth " << a.minCharWidth << ", minCharHeight "
                << a.minCharHeight << ", gapMode " << a.gapMode
                << (a.gapMode == 1 ? " (overlap >= " + fixed(a.refinementFraction, 2) + " joins)"
                                   : " (inner <= " + std::to_string(a.maxInnerGap) + ", between >= " +
                                         std::to_string(a.minCharGap) + ")")
                << ", segmentationMethod " << a.segmentationMethod << ", normalizationMode "
                << a.normalizationMode << ", maxLineAngle " << fixed(a.maxLineAngle, 0) << ", maxSkewAngle "
                << fixed(a.maxSkewAngle, 0) << ", spaces >= " << a.spaceParams.minSpaceWidth << " px"
                << (a.numLines > 1 ? ", numLines " + std::to_string(a.numLines) : std::string()) << "\n";
        }
        if (p.failure) {
            out << "    FAILED " << p.failure->name << ": " << p.failure->message
                << (p.failure->detail.empty() ? "" : " (" + p.failure->detail + ")") << "\n";
            continue;
        }
        if (p.lineFound) {
            out << "    line rectangle " << quadText(p.lineRect) << "\n";
        }
        for (size_t j = 0; j < p.lines.size(); ++j) {
            const LineReport& line = p.lines[j];
            out << "    line " << j << ": ";
            if (!line.found) {
                out << "not found\n";
                continue;
            }
            size_t spaces = 0;
            for (const PositionReport& pos : line.positions) {
                spaces += pos.isSpace ? 1 : 0;
            }
            out << "angle " << fixed(line.lineAngle, 2) << " deg, skew " << fixed(line.skewAngle, 2) << " deg, polarity "
                << line.polarity << " (" << polarityText(line.polarity) << "), height " << fixed(line.lineHeight, 1)
                << " px, threshold " << (line.hasThreshold ? std::to_string(line.threshold) : std::string("-")) << ", "
                << line.positions.size() << " positions (" << spaces << (spaces == 1 ? " space)\n" : " spaces)\n");
            if (line.positions.empty()) {
                continue;
            }
            char header[160];
            std::snprintf(header, sizeof header, "    %4s  %-5s  %14s  %13s  %14s  %13s  %6s  %s\n", "#", "kind", "mark centre",
                          "mark w x h", "cell centre", "cell w x h", "area", "spaceScore");
            out << header;
            for (size_t k = 0; k < line.positions.size(); ++k) {
                const PositionReport& pos = line.positions[k];
                const Box m = boxOf(pos.mark), c = boxOf(pos.cell);
                char row[256];
                if (pos.isSpace) {
                    std::snprintf(row, sizeof row, "    %4zu  %-5s  %14s  %13s  %7.1f,%6.1f  %5.1f x %5.1f  %6s  %5.3f\n", k,
                                  "space", "", "", c.cx, c.cy, c.w, c.h, "", pos.spaceScore);
                } else {
                    std::snprintf(row, sizeof row,
                                  "    %4zu  %-5s  %7.1f,%6.1f  %5.1f x %5.1f  %7.1f,%6.1f  %5.1f x %5.1f  %6d  %5.3f\n", k, "mark",
                                  m.cx, m.cy, m.w, m.h, c.cx, c.cy, c.w, c.h, pos.area, pos.spaceScore);
                }
                out << row;
            }
        }
    }
    for (const Failure& f : report.failures) {
        if (f.paragraph < 0) {
            out << "  FAILED " << f.name << ": " << f.message << (f.detail.empty() ? "" : " (" + f.detail + ")") << "\n";
        }
    }
}

std::string failureLine(const std::string& image, const Failure& failure)
{
    std::string line = image;
    if (failure.paragraph >= 0) {
        line += ", paragraph " + std::to_string(failure.paragraph);
    }
    line += ": " + failure.name + ": " + failure.message;
    if (!failure.detail.empty()) {
        line += " (" + failure.detail + ")";
    }
    return line;
}

} // namespace kocseg
