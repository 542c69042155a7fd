// run.hpp: one image through the library, paragraph by paragraph, into a
// plain report that owns no library records.
#pragma once

#include <koc/koc.hpp>

#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image_io.hpp"

namespace kocseg {

// A failure: a library result code (code != 0: name and message are
// koc_resultName and koc_resultMessage), or one of the tool's own
// (code == 0: a file that cannot be read or written).
struct Failure {
    int32_t code = 0;
    std::string name;
    std::string message;
    std::string detail;  // the field, file or stage concerned
    int32_t paragraph = -1; // -1: not about one paragraph
};

Failure libraryFailure(int32_t code, std::string detail, int32_t paragraph = -1);

struct PositionReport {
    bool isSpace = false;
    double spaceScore = 0.0; // the 16.16 score / 65536
    int32_t area = 0;
    kmath_shapeAffineRectPoints mark{};
    kmath_shapeAffineRectPoints cell{};
};

// An 8-bit view of one of a line's images (16-bit values shifted down,
// binary images spread to 0 and 255); empty when the line has none.
struct LineImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

struct LineReport {
    bool found = false;
    double lineAngle = 0.0; // signed degrees in (-180, 180]
    double skewAngle = 0.0;
    uint32_t polarity = 4;
    double lineHeight = -1.0;
    bool hasThreshold = false;
    uint32_t threshold = 0;
    std::vector<PositionReport> positions;
    kmath_shapeAffineRectPoints band{}; // the line's band (all zero: none)
    // The library's record, copied when the run asks for it (--json) and
    // turned into JSON only when the output is written: a record of a few
    // arrays rather than a tree of small blocks kept per line for the whole
    // run (which also left every later line's scratch on fresh pages).
    std::shared_ptr<koc::LineStats> stats;
    // Kept only when the run asks for them (RunRequest::keepLineImages).
    LineImage rectified, normalized, binarized;
};

struct ParagraphReport {
    int32_t index = 0;
    kmath_shapeAffineRectPoints rect{};
    bool lineFound = false;
    kmath_shapeAffineRectPoints lineRect{};
    std::vector<LineReport> lines;
    std::optional<Failure> failure;
    // --auto: what the estimator measured and the record the paragraph ran
    // with, or why it measured nothing (the paragraph then ran with the
    // given record).
    bool autoUsed = false;
    koc_charSegmentRunParams autoParams{};
    koc_runParamsEstimate estimate{};
    std::optional<Failure> autoFailure;
};

struct ImageReport {
    std::string name; // the path, or "(embedded sample)"
    int32_t width = 0;
    int32_t height = 0;
    int32_t bits = 0;
    std::vector<ParagraphReport> paragraphs;
    std::vector<Failure> failures; // in the order they happened
    double elapsedMs = 0.0;         // time spent in the library
};

// What the command line asked for, shared read-only by all workers.
struct RunRequest {
    koc_charSegmentRunParams params{};
    std::vector<kmath_shapeAffineRect> rects; // empty: the whole image
    const GreyImage* mask = nullptr;         // --range-mask, loaded once
    std::string overlayPath;                 // per image, already made unique
    int32_t overlayScale = 0;                // 0: automatic
    std::string dumpDir;
    std::string dumpStem;                    // per image
    bool autoParams = false;                 // measure each paragraph's run parameters
    uint64_t pinned = 0;                     // fields the user set: the estimator keeps them
    bool estimateOnly = false;               // stop after measuring (--print-params --auto)
    bool keepLineImages = false;             // fill LineReport's images (--report)
    bool keepStats = false;                  // fill LineReport's stats (--json; nothing else shows them)
    koc_charSegmentExtensions ext{};         // --split-touching, --walk-budget, --params "extensions"
    unsigned extGiven = 0;                   // kExtSplitTouching, kExtWalkBudget: the user set it
};

// Segments one image (already read) into report; report.failures lists each
// paragraph and each written file that failed. Never throws for bad input.
void runImage(const RunRequest& request, const GreyImage& image, ImageReport& report);

} // namespace kocseg
