// main.cpp: koc-segment, the command-line front end of the library: reads
// images, segments them in parallel, prints a table or JSON, draws overlays.
// Exit status: 0 all images done, 1 an image failed, 2 a usage or parameter
// error (nothing was run).
#include <koc/koc.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <new>
#include <numbers>
#include <sstream>
#include <system_error>
#include <thread>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "common/param_docs.hpp"
#include "image_io.hpp"
#include "output.hpp"
#include "params_json.hpp"
#include "report.hpp"
#include "run.hpp"
#include "sample.hpp"

namespace {

using namespace kocseg;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
const char* const kSampleName = "(embedded sample)";

int usageError(const std::string& message)
{
    std::cerr << "koc-segment: " << message << "\n";
    return kExitUsage;
}

// "1,2.5,-3" -> {1, 2.5, -3}; false unless every item is a finite number.
bool parseNumbers(const std::string& text, std::vector<double>& out)
{
    out.clear();
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        char* end = nullptr;
        const double v = std::strtod(item.c_str(), &end);
        if (item.empty() || end == item.c_str() || *end != '\0' || !std::isfinite(v)) {
            return false;
        }
        out.push_back(v);
    }
    return !text.empty() && text.back() != ',';
}

bool rectFromArgument(const std::string& text, bool corners, kmath_shapeAffineRect& rect, std::string& error)
{
    std::vector<double> v;
    if (corners) {
        if (!parseNumbers(text, v) || v.size() != 6) {
            error = "--corners: expected x0,y0,x1,y1,x2,y2 (Po, Px, Py), got '" + text + "'";
            return false;
        }
        const kmath_vect po{v[0], v[1]}, px{v[2], v[3]}, py{v[4], v[5]};
        kmath_shapeAffineRect_initPoints(&rect, &po, &px, &py);
        return true;
    }
    if (!parseNumbers(text, v) || v.size() < 4 || v.size() > 6) {
        error = "--rect: expected cx,cy,width,height[,angleDeg[,skewDeg]], got '" + text + "'";
        return false;
    }
    const double angle = (v.size() > 4 ? v[4] : 0.0) * std::numbers::pi / 180.0;
    const double skew = (v.size() > 5 ? v[5] : 0.0) * std::numbers::pi / 180.0;
    const kmath_vect centre{v[0], v[1]};
    kmath_shapeAffineRect_initCenter(&rect, &centre, v[2], v[3], angle, angle + std::numbers::pi / 2 + skew);
    return true;
}

std::string defaultText(const koc_charSegmentRunParams& defaults, const ParamField& field)
{
    // The one value only: building the whole record's JSON for each of the
    // forty flags was most of the start-up.
    const nlohmann::ordered_json value = fieldJson(defaults, field);
    const char* type = field.kind == FieldKind::Double ? "number" : field.kind == FieldKind::Signed32 ? "int32" : "uint32";
    const std::string typeAndDefault =
        std::string(type) + ", default " + value.dump() + (field.group ? std::string(", in ") + field.group : "");
    const koctools::ParamDoc* doc = koctools::findParamDoc(field.name);
    return doc == nullptr ? typeAndDefault : koctools::paramHelpLine(*doc) + " (" + typeAndDefault + ")";
}

// The overlay file of image k of n: the name itself for one image,
// NAME-k.EXT for several.
std::string perImagePath(const std::string& path, size_t k, size_t n)
{
    if (path.empty() || n == 1) {
        return path;
    }
    std::filesystem::path p(path);
    return (p.parent_path() / (p.stem().string() + "-" + std::to_string(k) + p.extension().string())).string();
}

// One line's scratch images take a few hundred KiB, freed when the line is
// done. By default glibc hands the heap's top back to the system whenever
// more than 128 KiB of it is free, so every further line of a run faulted
// its scratch in again (zeroed pages from the kernel: about a tenth of the
// library's time on a small line). A tool that runs line after line keeps
// that memory instead: up to 64 MiB free at the top before trimming, and
// blocks below 16 MiB from the heap rather than from their own mappings.
void keepScratchMemory()
{
#if defined(__GLIBC__)
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_MMAP_THRESHOLD, 16 << 20);
#endif
}

} // namespace

int main(int argc, char** argv)
{
    keepScratchMemory();
    koc_charSegmentRunParams defaults;
    koc_charSegmentRunParams_construct(&defaults);

    CLI::App app{"Finds the text line in each search rectangle of an image and cuts it into character positions.\n"
                 "Images are PNG (grey or colour, 8 or 16 bits), PGM (8 or 16 bits), JPEG (grey or colour) or\n"
                 "TIFF (8 or 16 bits, grey or colour); with none, the embedded sample is used. Overlay colours: search rectangle blue, found line rectangle yellow, cells green,\n"
                 "marks red, spaces magenta with a cross; with --numLines above 1, each line's marks and band\n"
                 "in its own colour (red, orange, cyan, violet, repeating).\n"
                 "Exit status: 0 success, 1 an image failed, 2 bad usage or run parameters.",
                 "koc-segment"};
    app.set_version_flag("--version", KOC_SEGMENT_VERSION);

    std::vector<std::string> imagePaths;
    std::vector<std::string> rectArgs, cornerArgs;
    std::string maskPath, paramsPath, jsonPath, overlayPath, dumpDir, saveSamplePath, reportPath;
    bool printParams = false;
    bool autoParams = false;
    bool noAuto = false;
    bool splitTouching = false;
    bool bandAware = false;
    int32_t walkBudget = 0;
    int32_t overlayScale = 0;
    int32_t jobs = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));

    app.add_option("images", imagePaths, "PNG, PGM, JPEG or TIFF files (none: the embedded sample)");
    CLI::Option* rectOpt = app.add_option("--rect", rectArgs,
                                          "search rectangle cx,cy,width,height[,angleDeg[,skewDeg]], one paragraph "
                                          "each (repeatable)")
                               ->allow_extra_args(false)
                               ->type_name("CX,CY,W,H[,A[,S]]");
    CLI::Option* cornersOpt =
        app.add_option("--corners", cornerArgs, "search rectangle by its corners Po, Px, Py (repeatable)")
            ->allow_extra_args(false)
            ->type_name("X0,Y0,X1,Y1,X2,Y2");
    app.add_option("--range-mask", maskPath, "validity mask (8-bit, non-zero = valid): the 16-bit image becomes a range image")
        ->type_name("MASK");
    app.add_option("--params", paramsPath, "run parameters from a JSON file (flags win)")->type_name("FILE.json");
    app.add_flag("--print-params", printParams,
                 "print the effective run parameters as JSON and exit (with --auto and images: the measured ones, "
                 "per paragraph)");
    app.add_flag("--auto", autoParams,
                 "measure each paragraph's line and choose its run parameters; fields set by --params or flags are "
                 "kept (the default)");
    app.add_flag("--no-auto", noAuto, "run the given run parameters as they are, without measuring");
    CLI::Option* splitOpt =
        app.add_flag("--split-touching,!--no-split-touching", splitTouching,
                     "cut touching glyphs along the cheapest path through their ink (--auto: where glyphs touch)")
            ->group("Extensions");
    CLI::Option* bandOpt =
        app.add_flag("--band-aware,!--no-band-aware", bandAware,
                     "keep to the text band line extraction found: elements on it by their ink, merges no taller "
                     "than it (--auto: on noisy lines)")
            ->group("Extensions");
    CLI::Option* budgetOpt =
        app.add_option("--walk-budget", walkBudget,
                       "path prefixes the hypothesis walk may visit per fragment, 0: no limit (--auto: 64 on noisy lines)")
            ->group("Extensions")
            ->check(CLI::NonNegativeNumber);
    app.add_option("--json", jsonPath, "write the results as JSON to FILE ('-': standard output, no table)")
        ->type_name("FILE|-");
    app.add_option("--overlay", overlayPath, "draw the results over the image into a PNG (several images: FILE-k.png)")
        ->type_name("FILE.png");
    app.add_option("--overlay-scale", overlayScale, "enlargement of the overlay (default: automatic)")
        ->check(CLI::Range(1, 16));
    app.add_option("--dump-lines", dumpDir, "write each line's rectified, normalised and binarised images into DIR")
        ->type_name("DIR");
    app.add_option("--report", reportPath,
                   "write one self-contained HTML page for all images: overlays, line images, positions, parameters")
        ->type_name("FILE.html");
    app.add_option("--jobs", jobs, "images processed in parallel (default: number of cores)")->check(CLI::Range(1, 1024));
    app.add_option("--save-sample", saveSamplePath, "write the embedded sample as a PNG and exit")->type_name("FILE.png");

    const std::vector<ParamField>& fields = paramFields();
    std::vector<double> flagValues(fields.size(), 0.0);
    std::vector<CLI::Option*> flagOptions;
    // Each field's help line (its default and description) is written only
    // when the help is asked for: a run never shows it.
    for (size_t i = 0; i < fields.size(); ++i) {
        flagOptions.push_back(app.add_option(std::string("--") + fields[i].name, flagValues[i])
                                  ->group("Run parameters (the record's fields)")
                                  ->type_name("N"));
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        for (size_t i = 0; i < fields.size(); ++i) {
            flagOptions[i]->description(defaultText(defaults, fields[i]));
        }
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    if (!saveSamplePath.empty()) {
        const GreyImage sample = renderSample();
        std::vector<uint8_t> bytes(sample.pixels.begin(), sample.pixels.end());
        std::string error;
        if (!writePngGrey8(saveSamplePath, sample.width, sample.height, bytes, error)) {
            std::cerr << "koc-segment: " << error << "\n";
            return kExitFailed;
        }
        return 0;
    }

    // Run parameters: defaults, then the file, then the flags.
    RunRequest request;
    koc_charSegmentRunParams_construct(&request.params);
    if (!paramsPath.empty()) {
        std::string error;
        nlohmann::ordered_json json;
        if (!applyParamsFile(paramsPath, request.params, error, &json)) {
            return usageError(paramsPath + ": " + error);
        }
        if (!applyExtensionsJson(json, request.ext, request.extGiven, error)) {
            return usageError(paramsPath + ": " + error);
        }
        request.pinned |= pinnedByJson(json);
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        std::string error;
        if (flagOptions[i]->count() > 0 && !setParamField(request.params, fields[i], flagValues[i], error)) {
            return usageError("--" + error);
        }
        if (flagOptions[i]->count() > 0) {
            request.pinned |= pinBitOfField(i);
        }
    }
    if (splitOpt->count() > 0) {
        request.ext.splitTouchingGlyphs = splitTouching ? 1u : 0u;
        request.extGiven |= kExtSplitTouching;
    }
    if (bandOpt->count() > 0) {
        request.ext.bandAwareElements = bandAware ? 1u : 0u;
        request.extGiven |= kExtBandAware;
    }
    if (budgetOpt->count() > 0) {
        request.ext.walkNodeBudget = walkBudget;
        request.extGiven |= kExtWalkBudget;
    }
    // Measuring is the default: on lines it has not seen, a user who gives
    // only the image and a rectangle fares far better with it than with
    // the record's fixed defaults (bench/RESULTS.md).
    if (autoParams && noAuto) {
        return usageError("--auto and --no-auto exclude each other");
    }
    request.autoParams = !noAuto;
    // With --auto and images, --print-params prints what the measuring
    // chooses, after the images are read below.
    const bool printMeasured = printParams && autoParams && !imagePaths.empty();
    request.estimateOnly = printMeasured;
    // Built only for what prints it: the parameter dump and the JSON report.
    const nlohmann::ordered_json paramsJson =
        printParams || !jsonPath.empty() ? paramsToJson(request.params) : nlohmann::ordered_json();
    if (printParams && !printMeasured) {
        std::cout << paramsJson.dump(2) << "\n";
    }
    if (const int32_t rc = koc_charSegmentRunParams_validate(&request.params); rc < 0) {
        const std::string fieldsText = fieldsOfCode(rc, request.params);
        return usageError(std::string(koc_resultName(rc)) + ": " + koc_resultMessage(rc) +
                          (fieldsText.empty() ? "" : " (" + fieldsText + ")"));
    }
    if (printParams && !printMeasured) {
        return 0;
    }

    // Paragraphs, in the order given on the command line.
    std::map<const CLI::Option*, size_t> used;
    for (const CLI::Option* opt : app.parse_order()) {
        if (opt != rectOpt && opt != cornersOpt) {
            continue;
        }
        const std::string& text = opt->results().at(used[opt]++);
        kmath_shapeAffineRect rect;
        std::string error;
        if (!rectFromArgument(text, opt == cornersOpt, rect, error)) {
            return usageError(error);
        }
        request.rects.push_back(rect);
    }

    const bool jsonToStdout = jsonPath == "-";
    const bool useSample = imagePaths.empty();
    GreyImage sample;
    if (useSample) {
        sample = renderSample();
        (jsonToStdout ? std::cerr : std::cout)
            << "No image given: running on the embedded sample, the code line \"" << sampleText() << "\" ("
            << sample.width << "x" << sample.height << ", 8-bit).\n";
    }
    const size_t count = useSample ? 1 : imagePaths.size();

    GreyImage mask;
    std::string maskError;
    if (!maskPath.empty() && !readImageFile(maskPath, mask, maskError)) {
        maskError = maskPath + ": " + maskError;
    }
    if (!maskPath.empty() && maskError.empty()) {
        request.mask = &mask;
    }

    // Line-image names: the image's file stem, numbered when stems repeat.
    std::vector<std::string> stems(count);
    std::map<std::string, int> stemUses;
    for (size_t k = 0; k < count; ++k) {
        stems[k] = useSample ? "sample" : std::filesystem::path(imagePaths[k]).stem().string();
        stemUses[stems[k]]++;
    }
    for (size_t k = 0; k < count; ++k) {
        if (stemUses[stems[k]] > 1) {
            stems[k] += "-" + std::to_string(k);
        }
    }

    std::vector<ImageReport> reports(count);
    std::vector<std::string> sections(count); // --report: each image's part of the page
    request.keepLineImages = !reportPath.empty();
    request.keepStats = !jsonPath.empty();
    std::atomic<size_t> next{0};
    auto worker = [&] {
        for (size_t k = next++; k < count; k = next++) {
            ImageReport& report = reports[k];
            report.name = useSample ? kSampleName : imagePaths[k];
            try {
                if (!maskError.empty()) {
                    report.failures.push_back(Failure{0, "BAD_MASK_FILE", maskError, "", -1});
                    continue;
                }
                GreyImage image;
                std::string error;
                if (!useSample && !readImageFile(imagePaths[k], image, error)) {
                    report.failures.push_back(Failure{0, "BAD_IMAGE_FILE", error, "", -1});
                    continue;
                }
                RunRequest mine = request; // plain copy: the record owns nothing
                mine.overlayPath = perImagePath(overlayPath, k, count);
                mine.overlayScale = overlayScale;
                mine.dumpDir = dumpDir;
                mine.dumpStem = stems[k];
                runImage(mine, useSample ? sample : image, report);
                if (!reportPath.empty()) {
                    sections[k] = reportSection(report, useSample ? &sample : &image, overlayScale, k);
                }
            } catch (const std::bad_alloc&) {
                report.failures.push_back(Failure{0, "OUT_OF_MEMORY", "out of memory", "", -1});
            } catch (const std::exception& e) {
                report.failures.push_back(Failure{0, "INTERNAL", e.what(), "", -1});
            }
        }
    };
    const size_t threads = std::min(count, static_cast<size_t>(jobs));
    std::vector<std::thread> pool;
    try {
        for (size_t t = 1; t < threads; ++t) {
            pool.emplace_back(worker);
        }
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones running share the work.
    }
    worker();
    for (std::thread& t : pool) {
        t.join();
    }

    int status = 0;
    for (const ImageReport& report : reports) {
        for (const Failure& failure : report.failures) {
            std::cerr << "koc-segment: " << failureLine(report.name, failure) << "\n";
            status = kExitFailed;
        }
    }
    if (printMeasured) {
        nlohmann::ordered_json doc = nlohmann::ordered_json::array();
        for (const ImageReport& report : reports) {
            for (const ParagraphReport& p : report.paragraphs) {
                nlohmann::ordered_json entry = {{"image", report.name}, {"paragraph", p.index}};
                if (p.failure) {
                    entry["error"] = p.failure->name;
                }
                nlohmann::ordered_json a = autoJson(p);
                entry["params"] = a.contains("params") ? a["params"] : paramsJson;
                if (a.contains("measured")) {
                    entry["measured"] = a["measured"];
                } else if (a.contains("error")) {
                    entry["error"] = a["error"]["name"];
                }
                doc.push_back(entry);
            }
        }
        std::cout << doc.dump(2) << "\n";
        koc_charSegmentRunParams_destruct(&request.params);
        koc_charSegmentRunParams_destruct(&defaults);
        return status;
    }
    if (!jsonToStdout) {
        for (const ImageReport& report : reports) {
            printTable(std::cout, report);
        }
    }
    if (!reportPath.empty()) {
        for (size_t k = 0; k < count; ++k) {
            if (sections[k].empty()) { // not read: the section lists why
                sections[k] = reportSection(reports[k], nullptr, overlayScale, k);
            }
        }
        std::ofstream out(reportPath, std::ios::binary);
        out << reportPage(sections, reports, request.params, request.autoParams);
        if (!out) {
            std::cerr << "koc-segment: " << reportPath << ": cannot write\n";
            status = kExitFailed;
        }
    }
    if (!jsonPath.empty()) {
        nlohmann::ordered_json doc = nlohmann::ordered_json::array();
        for (const ImageReport& report : reports) {
            doc.push_back(reportJson(report, paramsJson));
        }
        const std::string text = (count == 1 ? doc[0] : doc).dump(2) + "\n";
        if (jsonToStdout) {
            std::cout << text;
        } else {
            std::ofstream out(jsonPath);
            out << text;
            if (!out) {
                std::cerr << "koc-segment: " << jsonPath << ": cannot write\n";
                status = kExitFailed;
            }
        }
    }
    koc_charSegmentRunParams_destruct(&request.params);
    koc_charSegmentRunParams_destruct(&defaults);
    return status;
}
