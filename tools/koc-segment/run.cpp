// run.cpp: per paragraph, line extraction then segmentation (the two steps
// of the library's paragraph flow, called one by one so that the
// extraction's line height and line rectangle can be reported), then the
// report, the line images and the overlay.
#include "run.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <utility>

#include "output.hpp"
#include "overlay.hpp"
#include "params_json.hpp"

namespace kocseg {

namespace {

using LineExtraction = koc::Owner<koc_lineExtractResult, koc_lineExtractResult_construct, koc_lineExtractResult_destruct>;
using ParagraphResult =
    koc::Owner<koc_charSegmentParagraphResult, koc_charSegmentParagraphResult_construct, koc_charSegmentParagraphResult_destruct>;

int32_t toLibraryImage(const GreyImage& grey, koc::Image& image)
{
    int32_t rc = koc::Image::create(std::nothrow, grey.bits == 16 ? KIMG_DEPTH_16 : KIMG_DEPTH_8, grey.width,
                                    grey.height, image);
    if (rc < 0) {
        return rc;
    }
    kimg_window w;
    if ((rc = image.window(std::nothrow, w)) < 0) {
        return rc;
    }
    for (int32_t y = 0; y < grey.height; ++y) {
        const uint16_t* from = grey.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(grey.width);
        const intptr_t row = y * w.pitch;
        if (grey.bits == 16) {
            std::copy_n(from, grey.width, static_cast<uint16_t*>(w.pixels) + row);
        } else {
            uint8_t* to = static_cast<uint8_t*>(w.pixels) + row;
            for (int32_t x = 0; x < grey.width; ++x) {
                to[x] = static_cast<uint8_t>(from[x]);
            }
        }
    }
    return 0;
}

kmath_shapeAffineRectPoints pointsOf(const kmath_shapeAffineRect& rect)
{
    kmath_shapeAffineRectPoints p{};
    kmath_shapeAffineRect_getPoints(&rect, &p);
    return p;
}

double signedDegrees(double degrees)
{
    double out = degrees;
    kmath_degree_signedNorm(degrees, &out);
    return out;
}

// The 8-bit view of a line image (16-bit values shifted down, binary
// images spread to 0 and 255); empty for an unbound or empty image.
LineImage lineImage8(const kimg_imageConst& image, bool binary)
{
    LineImage out;
    kimg_windowConst w;
    if (kimg_windowConst_init(&w, &image) < 0 || w.width <= 0 || w.height <= 0) {
        return out;
    }
    std::vector<uint8_t>& pixels = out.pixels;
    pixels.resize(static_cast<size_t>(w.width) * static_cast<size_t>(w.height));
    for (int32_t y = 0; y < w.height; ++y) {
        for (int32_t x = 0; x < w.width; ++x) {
            const intptr_t at = y * w.pitch + x;
            uint32_t v = w.depth == KIMG_DEPTH_16 ? static_cast<const uint16_t*>(w.pixels)[at] >> 8u
                                                  : static_cast<const uint8_t*>(w.pixels)[at];
            if (binary) {
                v = v != 0 ? 255 : 0;
            }
            pixels[static_cast<size_t>(y) * static_cast<size_t>(w.width) + static_cast<size_t>(x)] = static_cast<uint8_t>(v);
        }
    }
    out.width = w.width;
    out.height = w.height;
    return out;
}

bool writeLineImage(const LineImage& image, const std::string& path, std::string& error)
{
    return image.pixels.empty() || writePngGrey8(path, image.width, image.height, image.pixels, error);
}

// The line's rectified, normalised and binarised images (empty where the
// line has none).
void lineImages(koc_charSegmentLineResult& line, LineReport& out)
{
    koc::Image view;
    if (koc_charSegmentLineResult_getRectifiedLineImage(&line, view.get()) >= 0) {
        out.rectified = lineImage8(*view.get(), false);
    }
    int32_t has = 0;
    if (koc_charSegmentLineResult_getHasNormalizedRectifiedLineImage(&line, &has) >= 0 && has != 0 &&
        koc_charSegmentLineResult_getNormalizedRectifiedLineImage(&line, view.get()) >= 0) {
        out.normalized = lineImage8(*view.get(), false);
    }
    has = 0;
    if (koc_charSegmentLineResult_getHasBinarizedRectifiedLineImage(&line, &has) >= 0 && has != 0 &&
        koc_charSegmentLineResult_getBinarizedRectifiedLineImage(&line, view.get()) >= 0) {
        out.binarized = lineImage8(*view.get(), true);
    }
}

bool dumpLineImages(const LineReport& line, const std::string& base, std::string& error)
{
    return writeLineImage(line.rectified, base + "-rectified.png", error) &&
           writeLineImage(line.normalized, base + "-normalized.png", error) &&
           writeLineImage(line.binarized, base + "-binarized.png", error);
}

LineReport lineReport(const koc_charSegmentLineResult& line, double lineHeight, bool keepStats)
{
    LineReport out;
    out.found = line.isFound != 0;
    out.lineAngle = signedDegrees(line.lineAngle);
    out.skewAngle = signedDegrees(line.skewAngle);
    out.polarity = line.polarity;
    out.lineHeight = lineHeight;
    out.hasThreshold = line.hasBinarizationThreshold != 0;
    out.threshold = line.binarizationThreshold;
    const koc_charSegmentPositionResult* positions = nullptr;
    int32_t count = 0;
    if (kstd_vector_koc_charSegmentPositionResult_getBeginSizeConst(&line.positionResults, &positions, &count) >= 0) {
        for (int32_t i = 0; i < count; ++i) {
            const koc_charSegmentPositionResult& p = positions[i];
            PositionReport pos;
            pos.isSpace = p.isSpace != 0;
            pos.spaceScore = p.spaceScore / 65536.0;
            pos.area = p.area;
            pos.mark = pointsOf(p.markRect);
            pos.cell = pointsOf(p.cellRect);
            out.positions.push_back(pos);
        }
    }
    if (keepStats) {
        auto stats = std::make_shared<koc::LineStats>();
        if (stats->assign(std::nothrow, line.stats) < 0) {
            throw std::bad_alloc();
        }
        out.stats = std::move(stats);
    }
    if (line.stats.isComputed != 0 && line.stats.minBandHeight != INT32_MAX) {
        out.band = pointsOf(line.stats.bandRect);
    }
    return out;
}

// Extraction and segmentation of paragraph index; the report's lines and
// line rectangle are filled as far as the library got.
int32_t runParagraph(const RunRequest& request, const kimg_image* image8, const kimg_image* image16,
                     const k3img_rangeImage16* range, const kmath_shapeAffineRect& rect, ParagraphReport& out,
                     double& elapsedMs, const std::string& dumpBase, std::string& dumpError)
{
    LineExtraction extraction;
    ParagraphResult result;
    if (!extraction.valid()) {
        return extraction.status();
    }
    if (!result.valid()) {
        return result.status();
    }
    const auto start = std::chrono::steady_clock::now();
    int32_t rc = 0;
    if (request.autoParams && request.estimateOnly) {
        // A range image is measured on its 16-bit image as it is, as the
        // auto road does.
        koc_charSegmentRunParams chosen = request.params;
        koc_runParamsEstimate estimate;
        koc_runParamsEstimate_construct(&estimate);
        rc = image8 != nullptr
                 ? koc_estimateRunParams8(image8, &rect, &request.params, request.pinned, &chosen, &estimate)
                 : koc_estimateRunParams16(image16 != nullptr ? image16 : &range->image, &rect, &request.params,
                                           request.pinned, &chosen, &estimate);
        elapsedMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (rc == KOC_E_NO_INK) {
            out.autoFailure = libraryFailure(rc, "measuring the line", out.index);
        } else if (rc < 0) {
            return rc;
        } else {
            out.autoUsed = true;
            out.autoParams = chosen;
            out.estimate = estimate;
        }
        return 0;
    }
    if (request.autoParams) {
        // The library's auto road: measure, choose the record and the
        // extensions the user did not set, extract, segment (and on a line
        // with a few fused pairs try the touching split).
        koc_autoSegmentReport used;
        koc_autoSegmentReport_construct(&used);
        rc = image8 != nullptr ? koc_segmentCharactersParagraphAuto8(image8, &rect, &request.params, request.pinned,
                                                                     &request.ext, request.extGiven,
                                                                     extraction.get(), result.get(), &used)
             : image16 != nullptr
                 ? koc_segmentCharactersParagraphAuto16(image16, &rect, &request.params, request.pinned,
                                                        &request.ext, request.extGiven, extraction.get(),
                                                        result.get(), &used)
                 : koc_segmentCharactersParagraphRangeImageAuto16(range, &rect, &request.params, request.pinned,
                                                                  &request.ext, request.extGiven,
                                                                  extraction.get(), result.get(), &used);
        if (used.estimateCode == KOC_E_NO_INK) {
            out.autoFailure = libraryFailure(used.estimateCode, "measuring the line", out.index);
        } else if (used.estimate.isComputed != 0) {
            out.autoUsed = true;
            out.autoParams = used.params;
            out.estimate = used.estimate;
        }
    } else {
        rc = koc_extractLineAndNormalize_(image8, image16, range, &rect, &request.params, extraction.get());
        if (rc >= 0) {
            rc = koc_segmentCharactersOnlyExt_(extraction.get(), &request.params, &request.ext, result.get());
        }
    }
    if (extraction->isLineFound != 0) {
        out.lineFound = true;
        out.lineRect = pointsOf(extraction->lineRect);
    }
    elapsedMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (rc < 0) {
        return rc;
    }
    koc_charSegmentLineResult* lines = nullptr;
    int32_t count = 0;
    if ((rc = kstd_vector_koc_charSegmentLineResult_getBeginSize(&result->lineResults, &lines, &count)) < 0) {
        return rc;
    }
    for (int32_t j = 0; j < count; ++j) {
        out.lines.push_back(lineReport(lines[j], extraction->lineHeight, request.keepStats));
        LineReport& line = out.lines.back();
        const bool dump = !dumpBase.empty() && lines[j].isFound != 0 && dumpError.empty();
        if ((dump || request.keepLineImages) && lines[j].isFound != 0) {
            lineImages(lines[j], line);
        }
        if (dump) {
            std::string error;
            if (!dumpLineImages(line, dumpBase + "-l" + std::to_string(j), error)) {
                dumpError = error;
            }
        }
        if (!request.keepLineImages) {
            line.rectified = line.normalized = line.binarized = LineImage{};
        }
    }
    return 0;
}

void fail(ImageReport& report, Failure failure)
{
    report.failures.push_back(std::move(failure));
}

Failure fileFailure(const std::string& name, const std::string& detail)
{
    Failure f;
    f.name = name;
    f.message = detail;
    return f;
}

} // namespace

Failure libraryFailure(int32_t code, std::string detail, int32_t paragraph)
{
    Failure f;
    f.code = code;
    f.name = koc_resultName(code);
    f.message = koc_resultMessage(code);
    f.detail = std::move(detail);
    f.paragraph = paragraph;
    return f;
}

void runImage(const RunRequest& request, const GreyImage& grey, ImageReport& report)
{
    report.width = grey.width;
    report.height = grey.height;
    report.bits = grey.bits;
    koc::Image image;
    koc::Image maskImage;
    koc::RangeImage range;
    int32_t rc = toLibraryImage(grey, image);
    if (rc < 0) {
        fail(report, libraryFailure(rc, "preparing the image"));
        return;
    }
    const kimg_image* image8 = report.bits == 8 ? image.get() : nullptr;
    const kimg_image* image16 = report.bits == 16 ? image.get() : nullptr;
    const k3img_rangeImage16* rangeImage = nullptr;
    if (request.mask != nullptr) {
        rc = toLibraryImage(*request.mask, maskImage);
        if (rc >= 0) {
            rc = koc::RangeImage::create(std::nothrow, image, maskImage, range);
        }
        if (rc < 0) {
            fail(report, libraryFailure(rc, "range image from a " + std::to_string(report.bits) + "-bit " +
                                                std::to_string(report.width) + "x" + std::to_string(report.height) +
                                                " image and a " + std::to_string(request.mask->bits) + "-bit " +
                                                std::to_string(request.mask->width) + "x" +
                                                std::to_string(request.mask->height) + " mask"));
            return;
        }
        rangeImage = range.get();
        image8 = image16 = nullptr;
    }

    std::vector<kmath_shapeAffineRect> rects = request.rects;
    if (rects.empty()) {
        kmath_shapeAffineRect whole;
        const kmath_vect po{0.0, 0.0}, px{static_cast<double>(report.width), 0.0},
            py{0.0, static_cast<double>(report.height)};
        kmath_shapeAffineRect_initPoints(&whole, &po, &px, &py);
        rects.push_back(whole);
    }
    std::string dumpError;
    if (!request.dumpDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(request.dumpDir, ec);
        if (ec) {
            dumpError = request.dumpDir + ": " + ec.message();
        }
    }
    for (size_t i = 0; i < rects.size(); ++i) {
        ParagraphReport paragraph;
        paragraph.index = static_cast<int32_t>(i);
        paragraph.rect = pointsOf(rects[i]);
        const std::string dumpBase = request.dumpDir.empty()
                                         ? std::string()
                                         : (std::filesystem::path(request.dumpDir) /
                                            (request.dumpStem + "-p" + std::to_string(i)))
                                               .string();
        rc = runParagraph(request, image8, image16, rangeImage, rects[i], paragraph, report.elapsedMs, dumpBase,
                          dumpError);
        if (rc < 0) {
            paragraph.failure = libraryFailure(
                rc, fieldsOfCode(rc, paragraph.autoUsed ? paragraph.autoParams : request.params), paragraph.index);
            fail(report, *paragraph.failure);
        }
        report.paragraphs.push_back(std::move(paragraph));
    }
    if (!dumpError.empty()) {
        fail(report, fileFailure("WRITE_FAILED", dumpError));
    }
    if (!request.overlayPath.empty() && !request.estimateOnly) {
        std::string error;
        if (!writePngRgb(request.overlayPath, renderOverlay(report, grey, request.overlayScale), error)) {
            fail(report, fileFailure("WRITE_FAILED", error));
        }
    }
}

} // namespace kocseg
