// output.hpp: the JSON document and the readable table of a report.
#pragma once

#include <ostream>

#include <nlohmann/json.hpp>

#include "run.hpp"

namespace kocseg {

// Rounded to a thousandth, the precision of every printed coordinate.
double round3(double v);

// {"po":[x,y],"px":[x,y],"py":[x,y]}
nlohmann::ordered_json quadJson(const kmath_shapeAffineRectPoints& p);

// The per-line statistics record as JSON; {} when not computed.
nlohmann::ordered_json lineStatsJson(const koc_charSegmentLineResultStats& stats);

// One image's result object (the README documents the shape); a failed
// image (its first failure) or paragraph also carries "error": {"name",
// "message", "detail", "paragraph"}.
nlohmann::ordered_json reportJson(const ImageReport& report, const nlohmann::ordered_json& params);

// A paragraph's --auto part: {"params": the record it ran with, "measured":
// the estimator's report}, or {"error": ...} when nothing could be measured;
// null when --auto was not given.
nlohmann::ordered_json autoJson(const ParagraphReport& paragraph);

// The readable table of one image.
void printTable(std::ostream& out, const ImageReport& report);

// "KOC_E_RECT_OUTSIDE_IMAGE: rectangle lies wholly outside the image (image
// a.png, paragraph 1: ...)", for standard error.
std::string failureLine(const std::string& image, const Failure& failure);

} // namespace kocseg
