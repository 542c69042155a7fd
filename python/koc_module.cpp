// koc_module.cpp: the Python module `koc`, on numpy. Everything goes
// through koc/koc.hpp; this file only turns Python objects into the
// header's values and back. The library works with the GIL released, on
// views of the caller's arrays (no copy of the pixels).
#include <pybind11/eval.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <koc/koc.hpp>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "common/param_docs.hpp"
#include "koc-segment/sample.hpp"

namespace py = pybind11;

namespace {

// koc.Error, created at import (see PYBIND11_MODULE below). A bare
// reference held for the life of the process: a py::object here would be
// released after the interpreter is gone.
PyObject* errorType = nullptr;

[[noreturn]] void raise(int32_t code)
{
    PyErr_SetObject(errorType,
                    py::make_tuple(code, koc_resultName(code), koc_resultMessage(code)).ptr());
    throw py::error_already_set();
}

void check(int32_t code)
{
    if (code < 0) {
        raise(code);
    }
}

// ---- arguments ---------------------------------------------------------------

// A 2-D uint8 or uint16 array whose rows are contiguous (any row stride that
// is a whole number of pixels): the library reads it in place.
struct ArrayImage {
    py::array array; // keeps the pixels alive during the call
    koc::Image image;
};

void viewArray(const py::handle& object, const char* what, ArrayImage& out)
{
    if (!py::isinstance<py::array>(object)) {
        throw py::type_error(std::string(what) + " must be a numpy array of uint8 or uint16, got " +
                             std::string(py::str(py::type::of(object).attr("__name__"))));
    }
    py::array a = py::reinterpret_borrow<py::array>(object);
    const bool is8 = a.dtype().is(py::dtype::of<uint8_t>());
    const bool is16 = a.dtype().is(py::dtype::of<uint16_t>()) ||
                      (a.dtype().kind() == 'u' && a.itemsize() == 2 && a.dtype().byteorder() != '>');
    if (!is8 && !is16) {
        throw py::type_error(std::string(what) + " must have dtype uint8 or uint16, got " +
                             std::string(py::str(a.dtype())));
    }
    if (a.ndim() != 2) {
        throw py::value_error(std::string(what) + " must be 2-D (rows, columns), got " + std::to_string(a.ndim()) +
                              " dimensions");
    }
    const py::ssize_t item = a.itemsize();
    const py::ssize_t height = a.shape(0), width = a.shape(1);
    if (height > INT32_MAX || width > INT32_MAX) {
        throw py::value_error(std::string(what) + " is too large");
    }
    // An empty array's strides mean nothing; the library refuses its
    // rectangles on its own.
    const bool empty = width == 0 || height == 0;
    if (!empty && width > 1 && a.strides(1) != item) {
        throw py::value_error(std::string(what) +
                              " must have contiguous rows (use numpy.ascontiguousarray); its column stride is " +
                              std::to_string(a.strides(1)) + " bytes");
    }
    const py::ssize_t rowStride = !empty && height > 1 ? a.strides(0) : width * item;
    if (rowStride < width * item || rowStride % item != 0) {
        throw py::value_error(std::string(what) +
                              " must have rows stored top to bottom without overlap (use numpy.ascontiguousarray)");
    }
    const int32_t rc =
        is8 ? koc::Image::view(std::nothrow, static_cast<const uint8_t*>(a.data()), static_cast<int32_t>(width),
                               static_cast<int32_t>(height), rowStride / item, out.image)
            : koc::Image::view(std::nothrow, static_cast<const uint16_t*>(a.data()), static_cast<int32_t>(width),
                               static_cast<int32_t>(height), rowStride / item, out.image);
    check(rc);
    out.array = a;
}

double number(const py::handle& value, const std::string& what)
{
    if (py::isinstance<py::bool_>(value) || !(py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value) ||
                                              py::hasattr(value, "__index__") || py::hasattr(value, "__float__"))) {
        throw py::type_error(what + " must be a number, got " +
                             std::string(py::str(py::type::of(value).attr("__name__"))));
    }
    return py::cast<double>(value.attr("__float__")());
}

// A field value from Python: booleans count as 0/1 for the integer fields.
void setField(koc::RunParams& params, const std::string& name, const py::handle& value)
{
    const koc::ParamField* f = koc::findParamField(name.c_str());
    if (f == nullptr) {
        throw py::value_error("unknown run parameter '" + name + "'");
    }
    double v = 0.0;
    if (py::isinstance<py::bool_>(value) && f->kind != koc::FieldKind::Double) {
        v = value.cast<bool>() ? 1.0 : 0.0;
    } else {
        v = number(value, "run parameter '" + name + "'");
    }
    if (koc::writeParamField(*params.get(), *f, v) < 0) {
        throw py::value_error("run parameter '" + name + "': " + std::string(py::repr(value)) + " is not " +
                              (f->kind == koc::FieldKind::Unsigned32 ? "a whole number in 0..4294967295"
                                                                     : "a whole number in -2147483648..2147483647"));
    }
}

// Run parameters from a dict of field names (nested records either as
// dicts under their own names or flat); the names given are also what the
// estimator keeps (pinned).
koc::RunParams paramsOf(const py::handle& object, uint64_t* pinned = nullptr)
{
    koc::RunParams params;
    if (object.is_none()) {
        return params;
    }
    if (!py::isinstance<py::dict>(object)) {
        throw py::type_error("params must be a dict of run-parameter names, got " +
                             std::string(py::str(py::type::of(object).attr("__name__"))));
    }
    const auto apply = [&](const std::string& name, const py::handle& value) {
        setField(params, name, value);
        if (pinned != nullptr) {
            *pinned |= koc::findParamField(name.c_str())->pin;
        }
    };
    for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(object)) {
        if (!py::isinstance<py::str>(key)) {
            throw py::type_error("run-parameter names must be strings");
        }
        const std::string name = key.cast<std::string>();
        if (name == "cellRectParams" || name == "spaceParams") {
            if (!py::isinstance<py::dict>(value)) {
                throw py::type_error(name + " must be a dict");
            }
            for (const auto& [innerKey, innerValue] : py::reinterpret_borrow<py::dict>(value)) {
                const std::string inner = py::str(innerKey);
                const koc::ParamField* f = koc::findParamField(inner.c_str());
                if (f == nullptr || f->group == nullptr || name != f->group) {
                    throw py::value_error("unknown run parameter '" + name + "." + inner + "'");
                }
                apply(inner, innerValue);
            }
        } else {
            apply(name, value);
        }
    }
    return params;
}

py::dict paramsDict(const koc_charSegmentRunParams& params)
{
    py::dict out;
    for (const koc::ParamField& f : koc::paramFields()) {
        const double v = koc::readParamField(params, f);
        py::object value = f.kind == koc::FieldKind::Double ? py::object(py::float_(v))
                                                            : py::object(py::int_(static_cast<int64_t>(v)));
        if (f.group == nullptr) {
            out[f.name] = value;
        } else {
            if (!out.contains(f.group)) {
                out[f.group] = py::dict();
            }
            out[f.group][f.name] = value;
        }
    }
    return out;
}

// Extensions from a dict of their field names, the way params are taken:
// a name missing keeps its switch off, and the names given are the
// caller's choice, which the auto road keeps (their KOC_PIN_EXT_* bits in
// *given). Switches take True/False (or 0/1), the budget a whole number;
// anything else is refused here with the field's name rather than later as
// the library's bare KOC_E_BAD_ARGUMENT.
koc_charSegmentExtensions extensionsOf(const py::handle& object, uint32_t* given)
{
    koc_charSegmentExtensions ext{};
    if (object.is_none()) {
        return ext;
    }
    if (!py::isinstance<py::dict>(object)) {
        throw py::type_error("extensions must be a dict of extension names, got " +
                             std::string(py::str(py::type::of(object).attr("__name__"))));
    }
    for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(object)) {
        if (!py::isinstance<py::str>(key)) {
            throw py::type_error("extension names must be strings");
        }
        const std::string name = key.cast<std::string>();
        const std::string what = "extension '" + name + "'";
        if (name == "splitTouchingGlyphs" || name == "bandAwareElements") {
            uint32_t on = 0;
            if (py::isinstance<py::bool_>(value)) {
                on = value.cast<bool>() ? 1u : 0u;
            } else {
                double v = 0.0;
                try {
                    v = number(value, what);
                } catch (const py::type_error&) {
                    throw py::type_error(what + " must be True or False, got " +
                                         std::string(py::str(py::type::of(value).attr("__name__"))));
                }
                if (v != 0.0 && v != 1.0) {
                    throw py::value_error(what + ": " + std::string(py::repr(value)) + " is not True or False");
                }
                on = v != 0.0 ? 1u : 0u;
            }
            if (name == "splitTouchingGlyphs") {
                ext.splitTouchingGlyphs = on;
                *given |= KOC_PIN_EXT_SPLIT_TOUCHING_GLYPHS;
            } else {
                ext.bandAwareElements = on;
                *given |= KOC_PIN_EXT_BAND_AWARE_ELEMENTS;
            }
        } else if (name == "walkNodeBudget") {
            const double v = number(value, what);
            if (!(v >= 0.0 && v <= INT32_MAX) || v != std::trunc(v)) {
                throw py::value_error(what + ": " + std::string(py::repr(value)) +
                                      " is not a whole number in 0..2147483647 (0: no budget)");
            }
            ext.walkNodeBudget = static_cast<int32_t>(v);
            *given |= KOC_PIN_EXT_WALK_NODE_BUDGET;
        } else {
            throw py::value_error("unknown extension '" + name +
                                  "' (splitTouchingGlyphs, walkNodeBudget, bandAwareElements)");
        }
    }
    return ext;
}

py::dict extensionsDict(const koc_charSegmentExtensions& ext)
{
    py::dict d;
    d["splitTouchingGlyphs"] = ext.splitTouchingGlyphs != 0;
    d["walkNodeBudget"] = ext.walkNodeBudget;
    d["bandAwareElements"] = ext.bandAwareElements != 0;
    return d;
}

// A rectangle: (cx, cy, w, h[, angle[, skew]]) in degrees, or three corners
// ((x, y) of Po, Px, Py, also a 3x2 array).
koc::Rect rectOf(const py::handle& object)
{
    const std::string usage = "a rectangle is (cx, cy, w, h[, angleDeg[, skewDeg]]) or three corners "
                              "((x0, y0), (x1, y1), (x2, y2)) for Po, Px, Py";
    if (!py::isinstance<py::sequence>(object) || py::isinstance<py::str>(object)) {
        throw py::type_error(usage + ", got " + std::string(py::str(py::type::of(object).attr("__name__"))));
    }
    const py::sequence s = py::reinterpret_borrow<py::sequence>(object);
    if (s.size() == 3 && py::isinstance<py::sequence>(s[0])) {
        koc::Point p[3];
        for (size_t i = 0; i < 3; ++i) {
            if (!py::isinstance<py::sequence>(s[i]) || py::len(s[i]) != 2) {
                throw py::value_error(usage);
            }
            const py::sequence xy = py::reinterpret_borrow<py::sequence>(s[i]);
            p[i] = koc::Point{number(xy[0], "a corner coordinate"), number(xy[1], "a corner coordinate")};
        }
        return koc::Rect{p[0], p[1], p[2]};
    }
    if (s.size() < 4 || s.size() > 6) {
        throw py::value_error(usage + ", got " + std::to_string(s.size()) + " values");
    }
    double v[6] = {0, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < s.size(); ++i) {
        v[i] = number(s[i], "a rectangle value");
    }
    return koc::Rect::fromCenter(v[0], v[1], v[2], v[3], v[4], v[5]);
}

// rects: None (the whole image), one rectangle, or a list of them.
std::vector<koc::Rect> rectsOf(const py::handle& object, const koc::Image& image)
{
    std::vector<koc::Rect> out;
    if (object.is_none()) {
        out.push_back(koc::Rect::fromXYWH(0, 0, image.width(), image.height()));
        return out;
    }
    if (!py::isinstance<py::sequence>(object) || py::isinstance<py::str>(object)) {
        throw py::type_error("rects must be a list of rectangles");
    }
    const py::sequence s = py::reinterpret_borrow<py::sequence>(object);
    // One rectangle given on its own: its first item is a number, or it is
    // a corner triple (three pairs of numbers; a list of rectangles never
    // holds pairs).
    const auto isPair = [](const py::handle& h) {
        if (!py::isinstance<py::sequence>(h) || py::isinstance<py::str>(h) || py::len(h) != 2) {
            return false;
        }
        const py::sequence pair = py::reinterpret_borrow<py::sequence>(h);
        return !py::isinstance<py::sequence>(pair[0]) && !py::isinstance<py::sequence>(pair[1]);
    };
    const bool single = s.size() > 0 && !py::isinstance<py::sequence>(s[0]);
    const bool cornerTriple = s.size() == 3 && isPair(s[0]) && isPair(s[1]) && isPair(s[2]);
    if (single || cornerTriple) {
        out.push_back(rectOf(object));
        return out;
    }
    for (const py::handle item : s) {
        out.push_back(rectOf(item));
    }
    return out;
}

// ---- results ---------------------------------------------------------------------

py::array_t<double> cornersArray(const koc::Rect& r)
{
    py::array_t<double> a({3, 2});
    auto m = a.mutable_unchecked<2>();
    m(0, 0) = r.po.x;
    m(0, 1) = r.po.y;
    m(1, 0) = r.px.x;
    m(1, 1) = r.px.y;
    m(2, 0) = r.py.x;
    m(2, 1) = r.py.y;
    return a;
}

py::object imageArray(const koc::Image& image, bool binary = false)
{
    kimg_windowConst w{};
    if (!image.bound() || image.window(std::nothrow, w) < 0) {
        return py::none();
    }
    const auto copyRows = [&](auto sample) {
        using T = decltype(sample);
        py::array_t<T> a({w.height, w.width});
        auto m = a.template mutable_unchecked<2>();
        for (int32_t y = 0; y < w.height; ++y) {
            const T* row = static_cast<const T*>(w.pixels) + y * w.pitch;
            for (int32_t x = 0; x < w.width; ++x) {
                m(y, x) = binary ? static_cast<T>(row[x] != 0 ? 255 : 0) : row[x];
            }
        }
        return py::object(a);
    };
    return w.depth == KIMG_DEPTH_16 ? copyRows(uint16_t{}) : copyRows(uint8_t{});
}

double sideLength(const koc::Point& a, const koc::Point& b) { return std::hypot(b.x - a.x, b.y - a.y); }

// The line's statistics that describe it as a whole (the per-element lists
// stay in the C record).
py::object statsDict(const koc::LineStats& stats)
{
    if (!stats.computed()) {
        return py::dict();
    }
    const koc_charSegmentLineResultStats& s = *stats.get();
    const auto range = [](int32_t low, int32_t high) -> py::object {
        return low > high ? py::object(py::none()) : py::object(py::make_tuple(low, high));
    };
    py::dict d;
    d["foldedLineAngle"] = s.foldedLineAngle;
    d["foldedSkewAngle"] = s.foldedSkewAngle;
    d["bandRect"] = cornersArray(koc::Rect::fromC(s.bandRect));
    d["inkRect"] = cornersArray(koc::Rect::fromC(s.inkRect));
    d["binarizationThreshold"] = s.binarizationThreshold;
    d["polarity"] = s.polarity;
    d["gapRange"] = range(s.minGap, s.maxGap);
    d["mergedGapRange"] = range(s.minMergedGap, s.maxMergedGap);
    d["pitchRange"] = range(s.minPitch, s.maxPitch);
    d["minBandHeight"] = s.minBandHeight == INT32_MAX ? py::object(py::none()) : py::object(py::int_(s.minBandHeight));
    d["numRawTouchingBorder"] = s.numRawTouchingBorder;
    d["numRawOutsideBand"] = s.numRawOutsideBand;
    d["numUnmatchedSmallArea"] = s.numUnmatchedSmallArea;
    d["numUnmatchedNarrow"] = s.numUnmatchedNarrow;
    d["numUnmatchedLow"] = s.numUnmatchedLow;
    d["numCroppedTall"] = s.numCroppedTall;
    return d;
}

double signedDegrees(double degrees)
{
    double out = degrees;
    kmath_degree_signedNorm(degrees, &out);
    return out;
}

py::dict lineDict(const koc::Line& line, koc::Result& result, int32_t paragraph, int32_t index)
{
    py::list positions;
    for (const koc::Position& p : line.positions) {
        py::dict d;
        d["is_space"] = p.isSpace;
        d["space_score"] = p.spaceScore / 65536.0;
        d["area"] = p.area;
        d["mark"] = cornersArray(p.mark);
        d["cell"] = cornersArray(p.cell);
        positions.append(d);
    }
    py::dict d;
    d["found"] = line.found;
    d["angle"] = signedDegrees(line.lineAngle);
    d["skew"] = signedDegrees(line.skewAngle);
    d["polarity"] = line.polarity;
    // The text band's height across the line, in image pixels.
    const bool hasBand = line.stats.computed() && line.stats->minBandHeight != INT32_MAX;
    const koc::Rect band = koc::Rect::fromC(line.stats.computed() ? line.stats->bandRect : kmath_shapeAffineRect{});
    d["height"] = hasBand ? py::object(py::float_(sideLength(band.po, band.py))) : py::object(py::none());
    d["threshold"] = line.hasThreshold ? py::object(py::int_(line.threshold)) : py::object(py::none());
    d["stats"] = statsDict(line.stats);
    d["rectified"] = imageArray(line.rectified);
    d["normalized"] = imageArray(line.normalized);
    koc::Image binarized;
    d["binarized"] = line.found && result.binarizedLineImage(std::nothrow, paragraph, index, binarized) >= 0
                         ? imageArray(binarized, true)
                         : py::object(py::none());
    d["positions"] = positions;
    return d;
}

py::list paragraphsList(koc::Result& result, const std::vector<koc::Paragraph>& tree, int32_t firstIndex)
{
    py::list out;
    for (size_t i = 0; i < tree.size(); ++i) {
        py::list lines;
        for (size_t j = 0; j < tree[i].lines.size(); ++j) {
            lines.append(lineDict(tree[i].lines[j], result, static_cast<int32_t>(i), static_cast<int32_t>(j)));
        }
        py::dict d;
        d["index"] = firstIndex + static_cast<int32_t>(i);
        d["lines"] = lines;
        out.append(d);
    }
    return out;
}

py::dict measuredDict(const koc_runParamsEstimate& e)
{
    py::dict d;
    d["polarity"] = e.polarity;
    d["lineAngle"] = e.lineAngle;
    d["skewAngle"] = e.skewAngle;
    d["textHeight"] = e.textHeight;
    d["strokeWidth"] = e.strokeWidth;
    d["medianGlyphWidth"] = e.medianGlyphWidth;
    d["glyphCount"] = e.glyphCount;
    d["innerGap"] = e.innerGap;
    d["charGap"] = e.charGap;
    d["pitch"] = e.pitch;
    d["isFixedPitch"] = e.isFixedPitch != 0;
    d["isBrokenStroke"] = e.isBrokenStroke != 0;
    d["isTouching"] = e.isTouching != 0;
    d["contrast"] = e.contrast;
    d["noiseLevel"] = e.noiseLevel;
    d["backgroundSlope"] = e.backgroundSlope;
    d["lineCount"] = e.lineCount;
    d["widestGlyphWidth"] = e.widestGlyphWidth;
    d["edgeWidth"] = e.edgeWidth;
    return d;
}

// ---- entry points ------------------------------------------------------------------

// Segments with the GIL released; the arrays stay referenced by `image`.
// Without extensions the plain entry points run.
int32_t segmentUnlocked(const ArrayImage& image, const koc::RangeImage* range, const std::vector<koc::Rect>& rects,
                        const koc::RunParams& params, const koc_charSegmentExtensions* ext, koc::Result& result,
                        std::vector<koc::Paragraph>& tree)
{
    py::gil_scoped_release unlocked;
    int32_t rc = 0;
    if (ext == nullptr) {
        rc = range != nullptr ? koc::segment(std::nothrow, *range, rects, params, result)
                              : koc::segment(std::nothrow, image.image, rects, params, result);
    } else {
        rc = range != nullptr ? koc::segment(std::nothrow, *range, rects, params, *ext, result)
                              : koc::segment(std::nothrow, image.image, rects, params, *ext, result);
    }
    if (rc >= 0) {
        rc = result.paragraphs(std::nothrow, tree);
    }
    return rc;
}

py::object segment(const py::object& imageObject, const py::object& rectsObject, const py::object& paramsObject,
                   const py::object& maskObject, bool autoParams, const py::object& extensionsObject)
{
    ArrayImage image;
    viewArray(imageObject, "image", image);
    uint64_t pinned = 0;
    const koc::RunParams params = paramsOf(paramsObject, &pinned);
    uint32_t givenExt = 0;
    const koc_charSegmentExtensions ext = extensionsOf(extensionsObject, &givenExt);
    const std::vector<koc::Rect> rects = rectsOf(rectsObject, image.image);
    ArrayImage mask;
    koc::RangeImage range;
    const koc::RangeImage* rangePtr = nullptr;
    if (!maskObject.is_none()) {
        viewArray(maskObject, "mask", mask);
        if (image.image.depth() != KIMG_DEPTH_16 || mask.image.depth() != KIMG_DEPTH_8) {
            throw py::type_error("a range image is a uint16 image with a uint8 mask");
        }
        if (mask.image.width() != image.image.width() || mask.image.height() != image.image.height()) {
            throw py::value_error("the mask must have the image's shape");
        }
        check(koc::RangeImage::create(std::nothrow, image.image, mask.image, range));
        rangePtr = &range;
    }
    if (!autoParams) {
        koc::Result result;
        std::vector<koc::Paragraph> tree;
        check(segmentUnlocked(image, rangePtr, rects, params, extensionsObject.is_none() ? nullptr : &ext, result,
                              tree));
        return paragraphsList(result, tree, 0);
    }
    // Each paragraph through the library's auto road, as koc-segment --auto
    // runs it: measured on its own, segmented with the record and the
    // extensions chosen (a range image is measured on its 16-bit image as
    // it is). The extensions named in `extensions` are kept as given, the
    // others chosen. A paragraph with no ink to measure runs with the given
    // record and extensions.
    py::list out;
    for (size_t i = 0; i < rects.size(); ++i) {
        koc::AutoRun run;
        std::vector<koc::Paragraph> tree;
        int32_t rc = 0;
        {
            py::gil_scoped_release unlocked;
            rc = rangePtr != nullptr
                     ? koc::segmentAuto(std::nothrow, *rangePtr, rects[i], params, pinned, ext, givenExt, run)
                     : koc::segmentAuto(std::nothrow, image.image, rects[i], params, pinned, ext, givenExt, run);
            if (rc >= 0) {
                rc = run.result.paragraphs(std::nothrow, tree);
            }
        }
        check(rc);
        py::list one = paragraphsList(run.result, tree, static_cast<int32_t>(i));
        py::dict paragraph = one[0].cast<py::dict>();
        paragraph["params"] = paramsDict(run.report.params);
        paragraph["measured"] = run.report.estimateCode == KOC_E_NO_INK ? py::object(py::none())
                                                                         : py::object(measuredDict(run.report.estimate));
        paragraph["extensions"] = extensionsDict(run.report.extensions);
        paragraph["isSplitRetried"] = run.report.isSplitRetried != 0;
        out.append(paragraph);
    }
    return out;
}

py::dict estimate(const py::object& imageObject, const py::object& rectObject, const py::object& paramsObject)
{
    ArrayImage image;
    viewArray(imageObject, "image", image);
    uint64_t pinned = 0;
    const koc::RunParams params = paramsOf(paramsObject, &pinned);
    const koc::Rect rect = rectObject.is_none() ? koc::Rect::fromXYWH(0, 0, image.image.width(), image.image.height())
                                                : rectOf(rectObject);
    koc::Estimate e;
    int32_t rc = 0;
    {
        py::gil_scoped_release unlocked;
        rc = koc::estimateRunParams(std::nothrow, image.image, rect, params, pinned, e);
    }
    check(rc);
    py::dict d;
    d["params"] = paramsDict(*e.params.get());
    d["measured"] = measuredDict(e.measured);
    return d;
}

py::array_t<uint8_t> sample()
{
    const kocseg::GreyImage grey = kocseg::renderSample();
    py::array_t<uint8_t> a({grey.height, grey.width});
    auto m = a.mutable_unchecked<2>();
    for (int32_t y = 0; y < grey.height; ++y) {
        for (int32_t x = 0; x < grey.width; ++x) {
            m(y, x) = static_cast<uint8_t>(grey.at(x, y));
        }
    }
    return a;
}

} // namespace

PYBIND11_MODULE(koc, m)
{
    m.doc() = "Text-line finding and character segmentation for machine vision, on numpy arrays.";

    // koc.Error carries the library's code with its name and message.
    py::dict scope;
    py::exec(R"(
class Error(Exception):
    """A failed library call: code (negative int), name (e.g. "KOC_E_NUM_LINES") and message."""
    def __init__(self, code, name, message):
        super().__init__(f"{name}: {message}")
        self.code = code
        self.name = name
        self.message = message
)",
             py::globals(), scope);
    py::object error = scope["Error"];
    error.attr("__module__") = "koc";
    errorType = error.inc_ref().ptr();
    m.attr("Error") = error;

    m.def("segment", &segment, py::arg("image"), py::arg("rects") = py::none(), py::arg("params") = py::none(),
          py::arg("mask") = py::none(), py::arg("auto") = false, py::arg("extensions") = py::none(),
          R"(Finds the text line in each rectangle and cuts it into character positions.

image: 2-D numpy array of uint8 or uint16 (rows contiguous; read in place).
rects: None (the whole image), one rectangle or a list of them; a rectangle is
  (cx, cy, w, h[, angle_deg[, skew_deg]]) or three corners ((x, y) of Po, Px, Py).
params: dict of run-parameter names (see default_params() and param_help()); nested records as
  dicts under "cellRectParams" / "spaceParams" or flat.
mask: uint8 array of the image's shape, non-zero = valid: makes a uint16 image
  a range image.
auto: the road koc-segment --auto takes: measure each paragraph's line,
  choose its run parameters (the names given in params are kept) and the
  extensions for hard input its measurements call for (the touching split,
  with a second run where a few marks hold fused pairs; on noisy lines the
  walk's budget and band-aware elements), then segment; each paragraph then
  also carries what it ran with: "params", "measured" (None when there was
  no ink to measure), "extensions" and "isSplitRetried" (the second run
  with the touching split was kept).
extensions: dict of extensions for hard input: "splitTouchingGlyphs" and
  "bandAwareElements" (True/False), "walkNodeBudget" (whole number >= 0,
  0: none); names left out are off. With auto the names given are kept as
  given and the road chooses only the others.

Returns a list of paragraphs (dicts with "index" and "lines"); a line is a
dict (found, angle, skew, polarity, height, threshold, stats, rectified,
normalized, binarized, positions); a position is a dict (is_space,
space_score, area, mark, cell), the rectangles as 3x2 arrays of Po, Px, Py.
Raises koc.Error for a failing call, TypeError/ValueError for bad arguments.)");
    m.def("default_params", [] { return paramsDict(*koc::RunParams().get()); },
          "The run parameters' defaults as a dict.");
    m.def(
        "validate",
        [](const py::object& params) {
            check(paramsOf(params).validate(std::nothrow));
        },
        py::arg("params"), "Raises koc.Error naming the first rule the run parameters break.");
    m.def("estimate", &estimate, py::arg("image"), py::arg("rect") = py::none(), py::arg("params") = py::none(),
          R"(Measures the line in rect (None: the whole image) and chooses run parameters;
the names given in params are kept. Returns {"params": ..., "measured": ...}.
Raises koc.Error (KOC_E_NO_INK when there is nothing to measure).)");
    m.def(
        "param_help",
        [](const py::object& name) -> py::object {
            if (name.is_none()) {
                py::dict all;
                for (const koctools::ParamDoc& doc : koctools::kParamDocs) {
                    all[doc.name] = koctools::paramHelpLine(doc);
                }
                return all;
            }
            if (!py::isinstance<py::str>(name)) {
                throw py::type_error("a run-parameter name must be a string");
            }
            const std::string n = name.cast<std::string>();
            const koctools::ParamDoc* doc = koctools::findParamDoc(n);
            if (doc == nullptr) {
                throw py::value_error("unknown run parameter '" + n + "'");
            }
            return py::str(koctools::paramHelpLine(*doc));
        },
        py::arg("name") = py::none(),
        "One line on a run parameter (what it does, unit, valid values, when to change it), the same text as "
        "koc-segment --help; without a name, a dict of every parameter's line.");
    m.def("param_names", [] {
        py::list names;
        for (const koc::ParamField& f : koc::paramFields()) {
            names.append(f.name);
        }
        return names;
    }, "Every run-parameter name in the record's order.");
    m.def("sample", &sample, "The embedded sample image (a dot-matrix code line), uint8.");
    m.def("sample_text", [] { return std::string(kocseg::sampleText()); }, "The text of the embedded sample.");
}
