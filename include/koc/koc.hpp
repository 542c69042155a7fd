/* koc.hpp: a thin, header-only C++ layer over the flat interface of koc.h.
 *
 * C++17 or later; uses only the installed C headers, so it adds nothing to
 * link. What it gives a host:
 *   - owners (RAII) of the records a host handles: Image (8/16-bit, fresh
 *     pixels or a view of the caller's buffer), RangeImage, RunParams (with
 *     field access by name), Result (the result tree) and LineStats;
 *   - koc::segment(image, rects, params[, extensions]) returning the result
 *     tree, koc::estimateRunParams for the run-parameter estimator and
 *     koc::segmentAuto for the auto road;
 *   - results as std::vectors of small value types (Rect with Po, Px, Py;
 *     Position; Line; Paragraph), usable with range-for and algorithms.
 *
 * Errors. The library never throws; this layer does, with koc::Error
 * (code, name, message), when a call fails. Every throwing call also has a
 * non-throwing twin taking std::nothrow as its first argument: it returns
 * the library's code and writes its output through a reference, so hosts
 * built without exceptions (-fno-exceptions) use those only (the throwing
 * ones are then left out). Calls on an empty owner (moved from, or whose
 * construction failed) give KOC_E_BAD_ARGUMENT instead of reaching the
 * library with a null record.
 *
 * Ownership. Owners move (the source is left empty, nothing is released
 * twice). RunParams copies by value (its record holds plain values).
 * Image, RangeImage, Result and LineStats are move-only, because a copy
 * allocates and a copy constructor could not report a failure without
 * exceptions; clone() makes a deep copy (an image clone gets fresh
 * pixels). Threads: as koc.h says, one owner on one thread at a time. */
#ifndef KOC_KOC_HPP
#define KOC_KOC_HPP

#include <koc/koc.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__cpp_exceptions) || defined(__EXCEPTIONS)
#define KOC_HPP_EXCEPTIONS 1
#include <stdexcept>
#else
#define KOC_HPP_EXCEPTIONS 0
#endif

namespace koc {

// ---- errors ------------------------------------------------------------------

inline const char* resultName(int32_t code) noexcept { return koc_resultName(code); }
inline const char* resultMessage(int32_t code) noexcept { return koc_resultMessage(code); }

#if KOC_HPP_EXCEPTIONS
// A failed library call: its code with the code's name and message.
class Error : public std::runtime_error {
public:
    explicit Error(int32_t code)
        : std::runtime_error(std::string(koc_resultName(code)) + ": " + koc_resultMessage(code)), code_(code)
    {
    }
    int32_t code() const noexcept { return code_; }
    const char* name() const noexcept { return koc_resultName(code_); }
    const char* message() const noexcept { return koc_resultMessage(code_); }

private:
    int32_t code_;
};

// Throws koc::Error for a failure code; passes success codes through.
inline int32_t check(int32_t code)
{
    if (code < 0) {
        throw Error(code);
    }
    return code;
}
#endif

// Owner of one record of the flat interface with its construct/destruct
// pair (the classes below use it; hosts may use it for any other record,
// e.g. Owner<koc_lineExtractResult, koc_lineExtractResult_construct,
// koc_lineExtractResult_destruct>). A failed construct leaves the owner
// empty with the code in status(), so the record is destructed exactly when
// it was constructed. Move-only.
template <class T, int32_t (*Construct)(T*), int32_t (*Destruct)(T*)>
class Owner {
public:
    Owner() noexcept : status_(Construct(&value_)) {}
    ~Owner() { release(); }
    Owner(Owner&& other) noexcept : value_(other.value_), status_(other.status_)
    {
        // The records move bitwise (the library's vectors relocate them the
        // same way); the source keeps nothing to release.
        other.status_ = KOC_E_BAD_ARGUMENT;
        std::memset(static_cast<void*>(&other.value_), 0, sizeof(T));
    }
    Owner& operator=(Owner&& other) noexcept
    {
        if (this != &other) {
            release();
            std::memcpy(static_cast<void*>(&value_), static_cast<const void*>(&other.value_), sizeof(T));
            status_ = other.status_;
            other.status_ = KOC_E_BAD_ARGUMENT;
            std::memset(static_cast<void*>(&other.value_), 0, sizeof(T));
        }
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    // False when moved from or when construction failed.
    bool valid() const noexcept { return status_ >= 0; }
    // The construct code, or KOC_E_BAD_ARGUMENT once moved from.
    int32_t status() const noexcept { return status_; }
    // The C record, for calls of the flat interface; null when empty.
    T* get() noexcept { return valid() ? &value_ : nullptr; }
    const T* get() const noexcept { return valid() ? &value_ : nullptr; }
    T* operator->() noexcept { return &value_; }
    const T* operator->() const noexcept { return &value_; }

private:
    void release() noexcept
    {
        if (status_ >= 0) {
            Destruct(&value_);
            status_ = KOC_E_BAD_ARGUMENT;
        }
    }
    T value_{};
    int32_t status_;
};

namespace detail {

// Owner of a typed vector of affine rectangles.
struct RectVector {
    kstd_vector_kmath_shapeAffineRect v{};
    int32_t status;
    RectVector() noexcept : status(kstd_vector_kmath_shapeAffineRect_constructEmpty(&v)) {}
    ~RectVector()
    {
        if (status >= 0) {
            kstd_vector_kmath_shapeAffineRect_destruct(&v);
        }
    }
    RectVector(const RectVector&) = delete;
    RectVector& operator=(const RectVector&) = delete;
};

inline int32_t errorOf(int32_t status) noexcept { return status < 0 ? status : KOC_E_BAD_ARGUMENT; }

} // namespace detail

// ---- geometry values ---------------------------------------------------------------

struct Point {
    double x = 0.0;
    double y = 0.0;
    friend bool operator==(const Point& a, const Point& b) noexcept { return a.x == b.x && a.y == b.y; }
    friend bool operator!=(const Point& a, const Point& b) noexcept { return !(a == b); }
};

// An affine rectangle by three corners: Po the origin, Px the end of the x
// side, Py the end of the y side (the fourth corner is Px + Py - Po).
struct Rect {
    Point po, px, py;

    // Centre, side lengths, the x side's direction in degrees and the slant
    // of the y side away from the x side's perpendicular, in degrees (the
    // y side's direction is angle + 90 + skew). Angles are measured in the
    // image frame, x to the right and y down: a positive angle turns the x
    // side towards +y.
    static Rect fromCenter(double cx, double cy, double width, double height, double angleDeg = 0.0,
                           double skewDeg = 0.0) noexcept
    {
        constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;
        const kmath_vect centre{cx, cy};
        const double xRotation = angleDeg * kRadiansPerDegree;
        const double yRotation = xRotation + (90.0 + skewDeg) * kRadiansPerDegree;
        kmath_shapeAffineRect r{};
        kmath_shapeAffineRect_initCenter(&r, &centre, width, height, xRotation, yRotation);
        return fromC(r);
    }
    // An axis-aligned rectangle covering pixels x .. x+width-1, y .. y+height-1.
    static Rect fromXYWH(double x, double y, double width, double height) noexcept
    {
        return Rect{{x, y}, {x + width, y}, {x, y + height}};
    }
    static Rect fromC(const kmath_shapeAffineRect& r) noexcept
    {
        kmath_shapeAffineRectPoints p{};
        kmath_shapeAffineRect_getPoints(&r, &p);
        return Rect{{p.po.x, p.po.y}, {p.px.x, p.px.y}, {p.py.x, p.py.y}};
    }
    kmath_shapeAffineRect toC() const noexcept
    {
        const kmath_vect o{po.x, po.y}, x{px.x, px.y}, y{py.x, py.y};
        kmath_shapeAffineRect r{};
        kmath_shapeAffineRect_initPoints(&r, &o, &x, &y);
        return r;
    }
    friend bool operator==(const Rect& a, const Rect& b) noexcept { return a.po == b.po && a.px == b.px && a.py == b.py; }
    friend bool operator!=(const Rect& a, const Rect& b) noexcept { return !(a == b); }
};

// ---- images --------------------------------------------------------------------------

// An 8-bit or 16-bit grey image handle: unbound, fresh pixels, or a view of
// the caller's pixels.
class Image {
public:
    Image() noexcept = default; // unbound

    // Fresh zeroed pixels, depth KIMG_DEPTH_8 or KIMG_DEPTH_16.
    static int32_t create(std::nothrow_t, int32_t depth, int32_t width, int32_t height, Image& out) noexcept
    {
        if (!out.h_.valid()) {
            return detail::errorOf(out.h_.status());
        }
        return kimg_image_assignNew(out.h_.get(), depth, width, height);
    }
    // A view of the caller's pixels without copying (pitch in pixels, >=
    // width; 0 means width). Later writes to the buffer are seen; the buffer
    // must outlive the image and everything that shares its pixels. The
    // library reads such an image and never writes it when it is handed
    // over as input.
    static int32_t view(std::nothrow_t, const uint8_t* pixels, int32_t width, int32_t height, intptr_t pitch,
                        Image& out) noexcept
    {
        return out.bindExternal(KIMG_DEPTH_8, pixels, width, height, pitch);
    }
    static int32_t view(std::nothrow_t, const uint16_t* pixels, int32_t width, int32_t height, intptr_t pitch,
                        Image& out) noexcept
    {
        return out.bindExternal(KIMG_DEPTH_16, pixels, width, height, pitch);
    }
    int32_t clone(std::nothrow_t, Image& out) const noexcept
    {
        if (!h_.valid() || !out.h_.valid()) {
            return detail::errorOf(h_.valid() ? out.h_.status() : h_.status());
        }
        return kimg_image_assignCopy(out.h_.get(), h_.get());
    }
#if KOC_HPP_EXCEPTIONS
    static Image create(int32_t depth, int32_t width, int32_t height)
    {
        Image out;
        check(create(std::nothrow, depth, width, height, out));
        return out;
    }
    static Image view(const uint8_t* pixels, int32_t width, int32_t height, intptr_t pitch = 0)
    {
        Image out;
        check(view(std::nothrow, pixels, width, height, pitch, out));
        return out;
    }
    static Image view(const uint16_t* pixels, int32_t width, int32_t height, intptr_t pitch = 0)
    {
        Image out;
        check(view(std::nothrow, pixels, width, height, pitch, out));
        return out;
    }
    Image clone() const
    {
        Image out;
        check(clone(std::nothrow, out));
        return out;
    }
#endif

    bool bound() const noexcept { return h_.valid() && h_->store != nullptr; }
    // KIMG_DEPTH_8, KIMG_DEPTH_16 (or KIMG_DEPTH_32); 0 when unbound.
    int32_t depth() const noexcept
    {
        int32_t d = 0;
        if (h_.valid()) {
            kimg_image_getDepth(h_.get(), &d);
        }
        return d;
    }
    int32_t width() const noexcept { return h_.valid() ? h_->window.width : 0; }
    int32_t height() const noexcept { return h_.valid() ? h_->window.height : 0; }
    // Direct pixel access: pixel (x, y) at pixels + (y * pitch + x) * depth.
    int32_t window(std::nothrow_t, kimg_windowConst& out) const noexcept
    {
        return h_.valid() ? kimg_windowConst_init(&out, h_.get()) : detail::errorOf(h_.status());
    }
    int32_t window(std::nothrow_t, kimg_window& out) noexcept
    {
        return h_.valid() ? kimg_window_init(&out, h_.get()) : detail::errorOf(h_.status());
    }
    // The window's pixels row by row without padding, as 16-bit values
    // (8-bit pixels widened); empty when unbound.
    std::vector<uint16_t> pixels() const
    {
        std::vector<uint16_t> out;
        kimg_windowConst w{};
        if (window(std::nothrow, w) < 0) {
            return out;
        }
        out.reserve(static_cast<size_t>(w.width) * static_cast<size_t>(w.height));
        for (int32_t y = 0; y < w.height; ++y) {
            for (int32_t x = 0; x < w.width; ++x) {
                const intptr_t at = y * w.pitch + x;
                out.push_back(w.depth == KIMG_DEPTH_16 ? static_cast<const uint16_t*>(w.pixels)[at]
                                                       : static_cast<const uint8_t*>(w.pixels)[at]);
            }
        }
        return out;
    }

    // The construct code, or KOC_E_BAD_ARGUMENT once moved from.
    int32_t status() const noexcept { return h_.status(); }
    kimg_image* get() noexcept { return h_.get(); }
    const kimg_image* get() const noexcept { return h_.get(); }

private:
    int32_t bindExternal(int32_t depth, const void* pixels, int32_t width, int32_t height, intptr_t pitch) noexcept
    {
        if (!h_.valid()) {
            return detail::errorOf(h_.status());
        }
        // The handle type has no read-only flavour; the library only reads
        // an image it is given as input (see view above).
        return kimg_image_assignExternal(h_.get(), depth, const_cast<void*>(pixels), width, height,
                                         pitch == 0 ? width : pitch);
    }
    Owner<kimg_image, kimg_image_construct, kimg_image_destruct> h_;
};

// A 16-bit image with an 8-bit mask of valid pixels (unbound mask: all valid).
class RangeImage {
public:
    RangeImage() noexcept = default;
    static int32_t create(std::nothrow_t, const Image& image16, const Image& mask8, RangeImage& out) noexcept
    {
        if (!out.h_.valid() || image16.get() == nullptr || mask8.get() == nullptr) {
            return detail::errorOf(out.h_.status());
        }
        return k3img_rangeImage16_init(out.h_.get(), image16.get(), mask8.get());
    }
#if KOC_HPP_EXCEPTIONS
    static RangeImage create(const Image& image16, const Image& mask8)
    {
        RangeImage out;
        check(create(std::nothrow, image16, mask8, out));
        return out;
    }
#endif
    int32_t status() const noexcept { return h_.status(); }
    k3img_rangeImage16* get() noexcept { return h_.get(); }
    const k3img_rangeImage16* get() const noexcept { return h_.get(); }

private:
    Owner<k3img_rangeImage16, k3img_rangeImage16_construct, k3img_rangeImage16_destruct> h_;
};

// ---- run parameters -------------------------------------------------------------

enum class FieldKind { Unsigned32, Signed32, Double };

// One field of koc_charSegmentRunParams, nested ones included: its name
// (also the name hosts use for it in files and on command lines), the
// nested record holding it (nullptr at the top level, else "cellRectParams"
// or "spaceParams"), its type, its estimator pin bit (KOC_PIN_*) and where
// it lives in a record.
struct ParamField {
    const char* name;
    const char* group;
    FieldKind kind;
    uint64_t pin;
    void* (*slot)(koc_charSegmentRunParams& params);
};

namespace detail {
template <class T>
constexpr FieldKind kindOf() noexcept
{
    if constexpr (std::is_same_v<T, uint32_t>) {
        return FieldKind::Unsigned32;
    } else if constexpr (std::is_same_v<T, int32_t>) {
        return FieldKind::Signed32;
    } else {
        static_assert(std::is_same_v<T, double>, "run parameters hold uint32_t, int32_t and double fields only");
        return FieldKind::Double;
    }
}
} // namespace detail

#define KOC_HPP_FIELD(path, name, group, pin)                                                                \
    ParamField{name, group, detail::kindOf<decltype(koc_charSegmentRunParams::path)>(), pin,                   \
               [](koc_charSegmentRunParams& p) -> void* { return &p.path; }}

// Every field in declaration order (the order of the pin bits).
inline const std::array<ParamField, 39>& paramFields() noexcept
{
    static const std::array<ParamField, 39> fields = {{
        KOC_HPP_FIELD(polarity, "polarity", nullptr, KOC_PIN_POLARITY),
        KOC_HPP_FIELD(useGradientMethod, "useGradientMethod", nullptr, KOC_PIN_USE_GRADIENT_METHOD),
        KOC_HPP_FIELD(maxLineAngle, "maxLineAngle", nullptr, KOC_PIN_MAX_LINE_ANGLE),
        KOC_HPP_FIELD(maxSkewAngle, "maxSkewAngle", nullptr, KOC_PIN_MAX_SKEW_ANGLE),
        KOC_HPP_FIELD(normalizationMode, "normalizationMode", nullptr, KOC_PIN_NORMALIZATION_MODE),
        KOC_HPP_FIELD(enableBackgroundSuppression, "enableBackgroundSuppression", nullptr,
                      KOC_PIN_ENABLE_BACKGROUND_SUPPRESSION),
        KOC_HPP_FIELD(thresholdFraction, "thresholdFraction", nullptr, KOC_PIN_THRESHOLD_FRACTION),
        KOC_HPP_FIELD(useLineMaskTest, "useLineMaskTest", nullptr, KOC_PIN_USE_LINE_MASK_TEST),
        KOC_HPP_FIELD(blobSizeLimit, "blobSizeLimit", nullptr, KOC_PIN_BLOB_SIZE_LIMIT),
        KOC_HPP_FIELD(textHeightScale, "textHeightScale", nullptr, KOC_PIN_TEXT_HEIGHT_SCALE),
        KOC_HPP_FIELD(minCharArea, "minCharArea", nullptr, KOC_PIN_MIN_CHAR_AREA),
        KOC_HPP_FIELD(minCharWidth, "minCharWidth", nullptr, KOC_PIN_MIN_CHAR_WIDTH),
        KOC_HPP_FIELD(minCharHeight, "minCharHeight", nullptr, KOC_PIN_MIN_CHAR_HEIGHT),
        KOC_HPP_FIELD(minLineOverlap, "minLineOverlap", nullptr, KOC_PIN_MIN_LINE_OVERLAP),
        KOC_HPP_FIELD(lineBandMargin, "lineBandMargin", nullptr, KOC_PIN_LINE_BAND_MARGIN),
        KOC_HPP_FIELD(gapMode, "gapMode", nullptr, KOC_PIN_GAP_MODE),
        KOC_HPP_FIELD(refinementFraction, "refinementFraction", nullptr, KOC_PIN_REFINEMENT_FRACTION),
        KOC_HPP_FIELD(minCharGap, "minCharGap", nullptr, KOC_PIN_MIN_CHAR_GAP),
        KOC_HPP_FIELD(maxInnerGap, "maxInnerGap", nullptr, KOC_PIN_MAX_INNER_GAP),
        KOC_HPP_FIELD(limitCharHeight, "limitCharHeight", nullptr, KOC_PIN_LIMIT_CHAR_HEIGHT),
        KOC_HPP_FIELD(maxCharHeight, "maxCharHeight", nullptr, KOC_PIN_MAX_CHAR_HEIGHT),
        KOC_HPP_FIELD(limitCharWidth, "limitCharWidth", nullptr, KOC_PIN_LIMIT_CHAR_WIDTH),
        KOC_HPP_FIELD(maxCharWidth, "maxCharWidth", nullptr, KOC_PIN_MAX_CHAR_WIDTH),
        KOC_HPP_FIELD(limitAspect, "limitAspect", nullptr, KOC_PIN_LIMIT_ASPECT),
        KOC_HPP_FIELD(minAspectRatio, "minAspectRatio", nullptr, KOC_PIN_MIN_ASPECT_RATIO),
        KOC_HPP_FIELD(refinementMode, "refinementMode", nullptr, KOC_PIN_REFINEMENT_MODE),
        KOC_HPP_FIELD(segmentationMethod, "segmentationMethod", nullptr, KOC_PIN_SEGMENTATION_METHOD),
        KOC_HPP_FIELD(cellRectParams.cellRectMode, "cellRectMode", "cellRectParams", KOC_PIN_CELL_RECT_MODE),
        KOC_HPP_FIELD(cellRectParams.cellRectMinMargin, "cellRectMinMargin", "cellRectParams",
                      KOC_PIN_CELL_RECT_MIN_MARGIN),
        KOC_HPP_FIELD(cellRectParams.cellRectMaxMargin, "cellRectMaxMargin", "cellRectParams",
                      KOC_PIN_CELL_RECT_MAX_MARGIN),
        KOC_HPP_FIELD(pitchMeasure, "pitchMeasure", nullptr, KOC_PIN_PITCH_MEASURE),
        KOC_HPP_FIELD(regularitySource, "regularitySource", nullptr, KOC_PIN_REGULARITY_SOURCE),
        KOC_HPP_FIELD(minPitch, "minPitch", nullptr, KOC_PIN_MIN_PITCH),
        KOC_HPP_FIELD(spaceParams.spaceInsertionMode, "spaceInsertionMode", "spaceParams",
                      KOC_PIN_SPACE_INSERTION_MODE),
        KOC_HPP_FIELD(spaceParams.scoreSpaces, "scoreSpaces", "spaceParams", KOC_PIN_SCORE_SPACES),
        KOC_HPP_FIELD(spaceParams.minSpaceWidth, "minSpaceWidth", "spaceParams", KOC_PIN_MIN_SPACE_WIDTH),
        KOC_HPP_FIELD(spaceParams.maxSpaceWidth, "maxSpaceWidth", "spaceParams", KOC_PIN_MAX_SPACE_WIDTH),
        KOC_HPP_FIELD(numLines, "numLines", nullptr, KOC_PIN_NUM_LINES),
        KOC_HPP_FIELD(skipLineStats, "skipLineStats", nullptr, KOC_PIN_SKIP_LINE_STATS),
    }};
    return fields;
}
#undef KOC_HPP_FIELD

// The field called name (a nested field by its own name), or nullptr.
inline const ParamField* findParamField(const char* name) noexcept
{
    for (const ParamField& f : paramFields()) {
        if (std::strcmp(f.name, name) == 0) {
            return &f;
        }
    }
    return nullptr;
}

// Reads a field as a double (every uint32_t and int32_t value is exact).
inline double readParamField(const koc_charSegmentRunParams& params, const ParamField& field) noexcept
{
    const void* slot = field.slot(const_cast<koc_charSegmentRunParams&>(params));
    switch (field.kind) {
    case FieldKind::Unsigned32:
        return *static_cast<const uint32_t*>(slot);
    case FieldKind::Signed32:
        return *static_cast<const int32_t*>(slot);
    case FieldKind::Double:
        break;
    }
    return *static_cast<const double*>(slot);
}

// Stores value into the field when it fits the field's type (a whole number
// in range for the integer fields, anything for a double);
// KOC_E_BAD_ARGUMENT and no change otherwise. Range rules beyond the type
// are validate's job.
inline int32_t writeParamField(koc_charSegmentRunParams& params, const ParamField& field, double value) noexcept
{
    void* slot = field.slot(params);
    if (field.kind == FieldKind::Double) {
        *static_cast<double*>(slot) = value;
        return 0;
    }
    const bool isUnsigned = field.kind == FieldKind::Unsigned32;
    const double low = isUnsigned ? 0.0 : -2147483648.0;
    const double high = isUnsigned ? 4294967295.0 : 2147483647.0;
    // !(in range) also refuses NaN; the truncation test refuses fractions.
    if (!(value >= low && value <= high) || static_cast<double>(static_cast<int64_t>(value)) != value) {
        return KOC_E_BAD_ARGUMENT;
    }
    if (isUnsigned) {
        *static_cast<uint32_t*>(slot) = static_cast<uint32_t>(value);
    } else {
        *static_cast<int32_t*>(slot) = static_cast<int32_t>(value);
    }
    return 0;
}

// The run parameters, defaults on construction. Copies by value.
class RunParams {
public:
    RunParams() noexcept { koc_charSegmentRunParams_construct(&p_); }
    explicit RunParams(const koc_charSegmentRunParams& p) noexcept : p_(p) {}

    // Unknown name or a value the field's type cannot hold:
    // KOC_E_BAD_ARGUMENT, record unchanged.
    int32_t set(std::nothrow_t, const char* name, double value) noexcept
    {
        const ParamField* f = findParamField(name);
        return f == nullptr ? KOC_E_BAD_ARGUMENT : writeParamField(p_, *f, value);
    }
    int32_t get(std::nothrow_t, const char* name, double& value) const noexcept
    {
        const ParamField* f = findParamField(name);
        if (f == nullptr) {
            return KOC_E_BAD_ARGUMENT;
        }
        value = readParamField(p_, *f);
        return 0;
    }
    // The code of the first rule broken, 0 when valid.
    int32_t validate(std::nothrow_t) const noexcept { return koc_charSegmentRunParams_validate(&p_); }
#if KOC_HPP_EXCEPTIONS
    RunParams& set(const char* name, double value)
    {
        check(set(std::nothrow, name, value));
        return *this;
    }
    double get(const char* name) const
    {
        double v = 0.0;
        check(get(std::nothrow, name, v));
        return v;
    }
    void validate() const { check(validate(std::nothrow)); }
#endif

    koc_charSegmentRunParams* get() noexcept { return &p_; }
    const koc_charSegmentRunParams* get() const noexcept { return &p_; }
    koc_charSegmentRunParams* operator->() noexcept { return &p_; }
    const koc_charSegmentRunParams* operator->() const noexcept { return &p_; }

private:
    koc_charSegmentRunParams p_{};
};

// ---- results --------------------------------------------------------------------------

// A line's statistics record (koc_stats.h), owned. Move-only; clone() copies.
class LineStats {
public:
    LineStats() noexcept = default;
    int32_t assign(std::nothrow_t, const koc_charSegmentLineResultStats& from) noexcept
    {
        return h_.valid() ? koc_charSegmentLineResultStats_assign(h_.get(), &from) : detail::errorOf(h_.status());
    }
    int32_t clone(std::nothrow_t, LineStats& out) const noexcept
    {
        return h_.valid() ? out.assign(std::nothrow, *h_.get()) : detail::errorOf(h_.status());
    }
#if KOC_HPP_EXCEPTIONS
    LineStats clone() const
    {
        LineStats out;
        check(clone(std::nothrow, out));
        return out;
    }
#endif
    bool computed() const noexcept { return h_.valid() && h_->isComputed != 0; }
    int32_t status() const noexcept { return h_.status(); }
    const koc_charSegmentLineResultStats* get() const noexcept { return h_.get(); }
    const koc_charSegmentLineResultStats* operator->() const noexcept { return h_.get(); }

private:
    Owner<koc_charSegmentLineResultStats, koc_charSegmentLineResultStats_construct,
                  koc_charSegmentLineResultStats_destruct>
        h_;
};

// One character position (a space included).
struct Position {
    bool isSpace = false;
    int32_t spaceScore = 0; // 16.16; 65536: no mark pixel in the cell
    int32_t area = 0;       // mark pixels; 0 for a space
    Rect mark;              // client frame of the image segmented
    Rect cell;
};

// One line of a paragraph. The images share pixels with the result's line
// (they stay valid after the result is gone); the normalised image is
// unbound when the line has none.
struct Line {
    bool found = false;
    double lineAngle = 0.0; // degrees
    double skewAngle = 0.0; // degrees
    uint32_t polarity = KOC_POLARITY_UNDECIDED;
    bool hasThreshold = false;
    uint32_t threshold = 0;
    std::vector<Position> positions;
    LineStats stats;
    Image rectified;
    Image normalized;
};

struct Paragraph {
    bool computed = false;
    std::vector<Line> lines;
};

namespace detail {
inline Position positionOf(const koc_charSegmentPositionResult& p)
{
    Position out;
    out.isSpace = p.isSpace != 0;
    out.spaceScore = p.spaceScore;
    out.area = p.area;
    out.mark = Rect::fromC(p.markRect);
    out.cell = Rect::fromC(p.cellRect);
    return out;
}

inline int32_t lineOf(const koc_charSegmentLineResult& line, Line& out)
{
    out.found = line.isFound != 0;
    out.lineAngle = line.lineAngle;
    out.skewAngle = line.skewAngle;
    out.polarity = line.polarity;
    out.hasThreshold = line.hasBinarizationThreshold != 0;
    out.threshold = line.binarizationThreshold;
    const koc_charSegmentPositionResult* positions = nullptr;
    int32_t count = 0;
    int32_t rc = kstd_vector_koc_charSegmentPositionResult_getBeginSizeConst(&line.positionResults, &positions, &count);
    if (rc < 0) {
        return rc;
    }
    out.positions.clear();
    out.positions.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        out.positions.push_back(positionOf(positions[i]));
    }
    if ((rc = out.stats.assign(std::nothrow, line.stats)) < 0) {
        return rc;
    }
    // A line that was not found has no images: the getters refuse them.
    if (koc_charSegmentLineResult_getRectifiedLineImage(&line, out.rectified.get()) < 0) {
        kimg_image_assignUnbound(out.rectified.get());
    }
    int32_t has = 0;
    if (koc_charSegmentLineResult_getHasNormalizedRectifiedLineImage(&line, &has) < 0 || has == 0 ||
        koc_charSegmentLineResult_getNormalizedRectifiedLineImage(&line, out.normalized.get()) < 0) {
        kimg_image_assignUnbound(out.normalized.get());
    }
    return 0;
}
} // namespace detail

// The result tree of a segmentation call. Move-only; clone() copies deeply.
class Result {
public:
    Result() noexcept = default;

    bool computed() const noexcept { return h_.valid() && h_->isComputed != 0; }

    // The whole tree as values; KOC_E_NOT_COMPUTED before a successful call.
    int32_t paragraphs(std::nothrow_t, std::vector<Paragraph>& out) const noexcept
    {
        if (!h_.valid()) {
            return detail::errorOf(h_.status());
        }
        const kstd_vector_koc_charSegmentParagraphResult* paragraphs = nullptr;
        int32_t rc = koc_charSegmentResult_getParagraphResults(h_.get(), &paragraphs);
        if (rc < 0) {
            return rc;
        }
#if KOC_HPP_EXCEPTIONS
        try {
#endif
            out.clear();
            const koc_charSegmentParagraphResult* p = nullptr;
            int32_t np = 0;
            if ((rc = kstd_vector_koc_charSegmentParagraphResult_getBeginSizeConst(paragraphs, &p, &np)) < 0) {
                return rc;
            }
            out.resize(static_cast<size_t>(np));
            for (int32_t i = 0; i < np; ++i) {
                out[static_cast<size_t>(i)].computed = p[i].isComputed != 0;
                const koc_charSegmentLineResult* lines = nullptr;
                int32_t nl = 0;
                if ((rc = kstd_vector_koc_charSegmentLineResult_getBeginSizeConst(&p[i].lineResults, &lines, &nl)) < 0) {
                    return rc;
                }
                std::vector<Line>& dst = out[static_cast<size_t>(i)].lines;
                dst.resize(static_cast<size_t>(nl));
                for (int32_t j = 0; j < nl; ++j) {
                    if ((rc = detail::lineOf(lines[j], dst[static_cast<size_t>(j)])) < 0) {
                        return rc;
                    }
                }
            }
            return 0;
#if KOC_HPP_EXCEPTIONS
        } catch (const std::bad_alloc&) {
            return KOC_E_OUT_OF_MEMORY;
        }
#endif
    }
    // The binarised image of one line, computed on first request and cached
    // in the result (so this writes the result).
    int32_t binarizedLineImage(std::nothrow_t, int32_t paragraph, int32_t line, Image& out) noexcept
    {
        if (out.get() == nullptr) {
            return detail::errorOf(out.status());
        }
        koc_charSegmentLineResult* l = nullptr;
        const int32_t rc = lineAt(paragraph, line, l);
        return rc < 0 ? rc : koc_charSegmentLineResult_getBinarizedRectifiedLineImage(l, out.get());
    }
    int32_t clone(std::nothrow_t, Result& out) const noexcept
    {
        if (!h_.valid() || !out.h_.valid()) {
            return detail::errorOf(h_.valid() ? out.h_.status() : h_.status());
        }
        return koc_charSegmentResult_assign(out.h_.get(), h_.get());
    }
#if KOC_HPP_EXCEPTIONS
    std::vector<Paragraph> paragraphs() const
    {
        std::vector<Paragraph> out;
        check(paragraphs(std::nothrow, out));
        return out;
    }
    Image binarizedLineImage(int32_t paragraph, int32_t line)
    {
        Image out;
        check(binarizedLineImage(std::nothrow, paragraph, line, out));
        return out;
    }
    Result clone() const
    {
        Result out;
        check(clone(std::nothrow, out));
        return out;
    }
#endif

    int32_t status() const noexcept { return h_.status(); }
    koc_charSegmentResult* get() noexcept { return h_.get(); }
    const koc_charSegmentResult* get() const noexcept { return h_.get(); }

private:
    int32_t lineAt(int32_t paragraph, int32_t line, koc_charSegmentLineResult*& out) noexcept
    {
        if (!h_.valid()) {
            return detail::errorOf(h_.status());
        }
        if (h_->isComputed == 0) {
            return KOC_E_NOT_COMPUTED;
        }
        koc_charSegmentParagraphResult* p = nullptr;
        int32_t rc = kstd_vector_koc_charSegmentParagraphResult_getElement(&h_->paragraphResults, paragraph, &p);
        return rc < 0 ? rc : kstd_vector_koc_charSegmentLineResult_getElement(&p->lineResults, line, &out);
    }
    Owner<koc_charSegmentResult, koc_charSegmentResult_construct, koc_charSegmentResult_destruct> h_;
};

// ---- entry points ------------------------------------------------------------------

namespace detail {
inline int32_t rectsOf(const std::vector<Rect>& rects, RectVector& out) noexcept
{
    if (out.status < 0) {
        return out.status;
    }
    for (const Rect& r : rects) {
        const kmath_shapeAffineRect c = r.toC();
        const int32_t rc = kstd_vector_kmath_shapeAffineRect_pushBack(&out.v, &c);
        if (rc < 0) {
            return rc;
        }
    }
    return 0;
}
} // namespace detail

namespace detail {
// The rectangles converted, then call(rects) on the flat interface; a
// missing subject or result gives its construction error, and a failed
// conversion leaves no result standing.
template <class Subject, class Call>
int32_t segmentRects(const Subject& subject, const std::vector<Rect>& rects, Result& out, Call call) noexcept
{
    if (subject.get() == nullptr || out.get() == nullptr) {
        return errorOf(subject.get() == nullptr ? subject.status() : out.status());
    }
    RectVector v;
    const int32_t rc = rectsOf(rects, v);
    if (rc < 0) {
        koc_charSegmentResult_reset(out.get());
        return rc;
    }
    return call(&v.v);
}
} // namespace detail

// Segments one paragraph per rectangle (client coordinates of the image);
// an 8-bit or 16-bit image picks its entry point by depth.
inline int32_t segment(std::nothrow_t, const Image& image, const std::vector<Rect>& rects, const RunParams& params,
                       Result& out) noexcept
{
    return detail::segmentRects(image, rects, out, [&](const kstd_vector_kmath_shapeAffineRect* r) {
        return image.depth() == KIMG_DEPTH_16 ? koc_segmentCharacters16(image.get(), r, params.get(), out.get())
                                              : koc_segmentCharacters8(image.get(), r, params.get(), out.get());
    });
}
inline int32_t segment(std::nothrow_t, const RangeImage& range, const std::vector<Rect>& rects,
                       const RunParams& params, Result& out) noexcept
{
    return detail::segmentRects(range, rects, out, [&](const kstd_vector_kmath_shapeAffineRect* r) {
        return koc_segmentCharactersRangeImage16(range.get(), r, params.get(), out.get());
    });
}

// The same with extensions for hard input (koc_segmentCharactersExt*); ext
// with every switch off gives exactly what segment() gives.
inline int32_t segment(std::nothrow_t, const Image& image, const std::vector<Rect>& rects, const RunParams& params,
                       const koc_charSegmentExtensions& ext, Result& out) noexcept
{
    return detail::segmentRects(image, rects, out, [&](const kstd_vector_kmath_shapeAffineRect* r) {
        return image.depth() == KIMG_DEPTH_16 ? koc_segmentCharactersExt16(image.get(), r, params.get(), &ext, out.get())
                                              : koc_segmentCharactersExt8(image.get(), r, params.get(), &ext, out.get());
    });
}
inline int32_t segment(std::nothrow_t, const RangeImage& range, const std::vector<Rect>& rects,
                       const RunParams& params, const koc_charSegmentExtensions& ext, Result& out) noexcept
{
    return detail::segmentRects(range, rects, out, [&](const kstd_vector_kmath_shapeAffineRect* r) {
        return koc_segmentCharactersRangeImageExt16(range.get(), r, params.get(), &ext, out.get());
    });
}

// What the estimator chose and what it measured.
struct Estimate {
    RunParams params;
    koc_runParamsEstimate measured{};
};

// Measures the line in rect and fills every field of base whose KOC_PIN_*
// bit is not in pinned (KOC_E_NO_INK: nothing to measure).
inline int32_t estimateRunParams(std::nothrow_t, const Image& image, const Rect& rect, const RunParams& base,
                                 uint64_t pinned, Estimate& out) noexcept
{
    if (image.get() == nullptr) {
        return detail::errorOf(image.status());
    }
    const kmath_shapeAffineRect r = rect.toC();
    koc_runParamsEstimate_construct(&out.measured);
    return image.depth() == KIMG_DEPTH_16
               ? koc_estimateRunParams16(image.get(), &r, base.get(), pinned, out.params.get(), &out.measured)
               : koc_estimateRunParams8(image.get(), &r, base.get(), pinned, out.params.get(), &out.measured);
}

// The auto road on one rectangle: its result (one paragraph) and what it
// used (report.params, report.estimate, report.extensions; estimateCode
// KOC_E_NO_INK when nothing was measured and base ran as given).
struct AutoRun {
    Result result;
    koc_autoSegmentReport report{};
};

namespace detail {
// Fills out.result's one paragraph through call; a failure leaves it not
// computed.
template <class Call>
inline int32_t autoRunInto(AutoRun& out, Call call) noexcept
{
    koc_charSegmentResult* r = out.result.get();
    if (r == nullptr) {
        return errorOf(out.result.status());
    }
    koc_charSegmentParagraphResult* p = nullptr;
    int32_t rc = koc_charSegmentResult_reset(r);
    if (rc >= 0) {
        rc = kstd_vector_koc_charSegmentParagraphResult_resize(&r->paragraphResults, 1);
    }
    if (rc >= 0) {
        rc = kstd_vector_koc_charSegmentParagraphResult_getElement(&r->paragraphResults, 0, &p);
    }
    if (rc >= 0) {
        rc = call(p);
    }
    r->isComputed = rc >= 0 ? 1 : 0;
    return rc;
}
} // namespace detail

// Measures the line in rect, chooses the run parameters (the fields of base
// whose KOC_PIN_* bit is in pinned kept) and the extensions (the fields of
// ext whose KOC_PIN_EXT_* bit is in givenExt kept), and segments with them,
// as koc-segment --auto does (koc_segmentCharactersParagraphAuto8/16).
inline int32_t segmentAuto(std::nothrow_t, const Image& image, const Rect& rect, const RunParams& base,
                           uint64_t pinned, const koc_charSegmentExtensions& ext, uint32_t givenExt,
                           AutoRun& out) noexcept
{
    if (image.get() == nullptr) {
        return detail::errorOf(image.status());
    }
    const kmath_shapeAffineRect r = rect.toC();
    return detail::autoRunInto(out, [&](koc_charSegmentParagraphResult* p) {
        return image.depth() == KIMG_DEPTH_16
                   ? koc_segmentCharactersParagraphAuto16(image.get(), &r, base.get(), pinned, &ext, givenExt,
                                                          nullptr, p, &out.report)
                   : koc_segmentCharactersParagraphAuto8(image.get(), &r, base.get(), pinned, &ext, givenExt,
                                                         nullptr, p, &out.report);
    });
}
// A range image is measured on its 16-bit image as it is; the gap filling
// only matters to the segmentation.
inline int32_t segmentAuto(std::nothrow_t, const RangeImage& range, const Rect& rect, const RunParams& base,
                           uint64_t pinned, const koc_charSegmentExtensions& ext, uint32_t givenExt,
                           AutoRun& out) noexcept
{
    if (range.get() == nullptr) {
        return detail::errorOf(range.status());
    }
    const kmath_shapeAffineRect r = rect.toC();
    return detail::autoRunInto(out, [&](koc_charSegmentParagraphResult* p) {
        return koc_segmentCharactersParagraphRangeImageAuto16(range.get(), &r, base.get(), pinned, &ext, givenExt,
                                                              nullptr, p, &out.report);
    });
}

#if KOC_HPP_EXCEPTIONS
inline Result segment(const Image& image, const std::vector<Rect>& rects, const RunParams& params = RunParams())
{
    Result out;
    check(segment(std::nothrow, image, rects, params, out));
    return out;
}
inline Result segment(const RangeImage& range, const std::vector<Rect>& rects, const RunParams& params = RunParams())
{
    Result out;
    check(segment(std::nothrow, range, rects, params, out));
    return out;
}
inline Result segment(const Image& image, const std::vector<Rect>& rects, const RunParams& params,
                      const koc_charSegmentExtensions& ext)
{
    Result out;
    check(segment(std::nothrow, image, rects, params, ext, out));
    return out;
}
inline Result segment(const RangeImage& range, const std::vector<Rect>& rects, const RunParams& params,
                      const koc_charSegmentExtensions& ext)
{
    Result out;
    check(segment(std::nothrow, range, rects, params, ext, out));
    return out;
}
inline Estimate estimateRunParams(const Image& image, const Rect& rect, const RunParams& base = RunParams(),
                                  uint64_t pinned = 0)
{
    Estimate out;
    check(estimateRunParams(std::nothrow, image, rect, base, pinned, out));
    return out;
}
inline AutoRun segmentAuto(const Image& image, const Rect& rect, const RunParams& base = RunParams(),
                           uint64_t pinned = 0, const koc_charSegmentExtensions& ext = koc_charSegmentExtensions{},
                           uint32_t givenExt = 0)
{
    AutoRun out;
    check(segmentAuto(std::nothrow, image, rect, base, pinned, ext, givenExt, out));
    return out;
}
inline AutoRun segmentAuto(const RangeImage& range, const Rect& rect, const RunParams& base = RunParams(),
                           uint64_t pinned = 0, const koc_charSegmentExtensions& ext = koc_charSegmentExtensions{},
                           uint32_t givenExt = 0)
{
    AutoRun out;
    check(segmentAuto(std::nothrow, range, rect, base, pinned, ext, givenExt, out));
    return out;
}
#endif

} // namespace koc

#endif
