// locate_line.cpp: the line locator: the gradient-field method, the
// dispatch to the edgelet method (edgelet_locate.cpp), and the geometry both
// share.
//
// Rotation is searched in whole degrees over horizontal projections of the
// gradient field (the text band gives the sharpest profile), shear over
// vertical projections (upright strokes give the most peaked column
// profile). Geometry is done in the field's sample frame and mapped to
// client coordinates at the end. All fixed-point conversions round as the
// rest of the pipeline does: +0.5 for positive, -0.4999999999 for negative.
#include "lineextract/locate_line.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "lineextract/edgelet_locate.hpp"
#include "services/numeric.hpp"
#include "services/rectify.hpp"

namespace koc::lineextract {

namespace {

constexpr double kPi = std::numbers::pi;

// Saturates: a shear search centred on a found rotation can reach 90
// degrees, whose tangent has no 16.16 value.
int32_t toFixed16(double x) noexcept
{
    return services::saturatingInt32(x >= 0.0 ? x * 65536.0 + 0.5 : x * 65536.0 - 0.4999999999);
}

double radiansOf16(uint16_t a) noexcept
{
    return a * 2.0 * kPi / 65536.0;
}

struct Vectors {
    kstd_vector32s slopes{};
    kstd_vector_vector32s profiles{};
    Vectors()
    {
        kstd_vector32s_constructEmpty(&slopes);
        kstd_vector_vector32s_constructEmpty(&profiles);
    }
    ~Vectors()
    {
        kstd_vector32s_destruct(&slopes);
        kstd_vector_vector32s_destruct(&profiles);
    }
    Vectors(const Vectors&) = delete;
    Vectors& operator=(const Vectors&) = delete;
    const kstd_vector32s& profile(int32_t k) const
    {
        return static_cast<const kstd_vector32s*>(profiles.base.begin)[k];
    }
};

int32_t fillSlopes(kstd_vector32s* slopes, int32_t range, int32_t centre) noexcept
{
    KOC_RETURN_IF_FAILED(kstd_vector32s_resize(slopes, 2 * static_cast<intptr_t>(range) + 1));
    auto* t = static_cast<int32_t*>(slopes->base.begin);
    for (int32_t a = -range; a <= range; ++a) {
        t[a + range] = toFixed16(std::tan((a + centre) * kPi / 180.0));
    }
    return 0;
}

struct Projector {
    int32_t (*horizontal)(const kimg_imageConst*, const kstd_vector32s*, const int32_t*, int32_t,
                          kstd_vector_vector32s*) noexcept;
    int32_t (*vertical)(const kimg_imageConst*, const kstd_vector32s*, const int32_t*, int32_t,
                        kstd_vector_vector32s*) noexcept;
    int32_t (*field)(const kimg_imageConst*, const kmath_shapeAffineRect*, kimg_image*, int32_t*) noexcept;
};

constexpr Projector kProjector8{&koc_projectHorizGradientField, &koc_projectVertGradientField, &koc_getGradientField};
constexpr Projector kProjector16{&koc_projectHorizGradientField16, &koc_projectVertGradientField16,
                                 &koc_getGradientField16};

struct RotationFound {
    uint16_t rotation = 0;
    kmath_vect segment[2]{};
    double height = -1.0;
};

int32_t searchRotation(const Projector& p, const kimg_image* field, const int32_t* steps,
                       const koc_lineExtractParams* params, RotationFound* found) noexcept
{
    const auto range = static_cast<int32_t>(params->maxLineAngle + 0.5);
    Vectors v;
    KOC_RETURN_IF_FAILED(fillSlopes(&v.slopes, range, 0));
    KOC_RETURN_IF_FAILED(p.horizontal(field, &v.slopes, steps, 0, &v.profiles));
    int64_t bestPeak = -1;
    int32_t best = 0;
    for (int32_t k = 0; k <= 2 * range; ++k) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        const kstd_vector32s& prof = v.profile(k);
        const auto* bins = static_cast<const int32_t*>(prof.base.begin);
        int64_t peak = 0;
        for (intptr_t i = 0; i < prof.base.size; ++i) {
            peak = std::max<int64_t>(peak, std::abs(static_cast<int64_t>(bins[i])));
        }
        if (peak > bestPeak) {  // strictly larger: the lowest angle wins a tie
            bestPeak = peak;
            best = k;
        }
    }
    found->rotation = 0;
    found->height = -1.0;
    if (bestPeak <= 0) {
        return 0;
    }
    const int32_t a = best - range;
    const kstd_vector32s& prof = v.profile(best);
    int32_t top = 0, bottom = 0;
    KOC_RETURN_IF_FAILED(
        findTextBand(static_cast<const int32_t*>(prof.base.begin), static_cast<int32_t>(prof.base.size), &top, &bottom));
    // Bin r of a slope t > 0 meets row r at the last sample of the row, and
    // for t <= 0 at the first one: the band's ends are taken there, so they
    // lie on the band's own lines. Profiles count from the (trimmed)
    // window's first row and sample; the field's frame counts from its own
    // origin, so the window origin is added.
    kstd_rect32 window;
    KOC_RETURN_IF_FAILED(kimg_image_getWindow(field, &window));
    const double x0 = window.x >> 1;
    const double x = a > 0 ? x0 + (window.width >> 1) : x0;
    found->segment[0] = kmath_vect{x, static_cast<double>(window.y) + top};
    found->segment[1] = kmath_vect{x, static_cast<double>(window.y) + bottom + 1};
    found->height = (bottom + 1 - top) * std::cos(a * kPi / 180.0);
    found->rotation = angle16FromDegrees(a);
    return 0;
}

int32_t searchShear(const Projector& p, const kimg_image* field, const int32_t* steps,
                    const koc_lineExtractParams* params, int32_t centre, uint16_t* shear) noexcept
{
    const auto range = static_cast<int32_t>(params->maxSkewAngle + 0.5);
    *shear = angle16FromDegrees(centre);
    if (range == 0) {
        return 0;
    }
    Vectors v;
    KOC_RETURN_IF_FAILED(fillSlopes(&v.slopes, range, centre));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    KOC_RETURN_IF_FAILED(p.vertical(field, &v.slopes, steps, 0, &v.profiles));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    intptr_t longest = 0;
    for (int32_t k = 0; k <= 2 * range; ++k) {
        longest = std::max(longest, v.profile(k).base.size);
    }
    const auto m = static_cast<uint64_t>(longest);
    uint64_t bestScore = 0;
    for (int32_t k = 0; k <= 2 * range; ++k) {
        KOC_RETURN_IF_FAILED(ksys_attention_check());
        const kstd_vector32s& prof = v.profile(k);
        const auto* bins = static_cast<const int32_t*>(prof.base.begin);
        int64_t sum = 0, sumSq = 0;
        for (intptr_t i = 0; i < prof.base.size; ++i) {
            const int64_t value = (static_cast<int64_t>(bins[i]) + 128) >> 8;
            sum += value;
            sumSq += value * value;
        }
        // M^2 times the variance of the profile padded to the longest one;
        // compared unsigned, as the products may pass 2^63 on huge fields.
        const uint64_t score = m * static_cast<uint64_t>(sumSq) - static_cast<uint64_t>(sum) * static_cast<uint64_t>(sum);
        if (score > bestScore) {
            bestScore = score;
            *shear = angle16FromDegrees(k - range + centre);
        }
    }
    return 0;
}

int32_t placeLine(const kmath_xformLinear& frame, const kmath_shapeAffineRect* inputRect, const RotationFound& rotation,
                  uint16_t shear, LineLocation* loc, koc_lineExtractResult* result) noexcept;

// The edgelet method works on the input rectangle rectified at scale 1 (the
// driver always makes it); its edgelets stay in the result's record.
int32_t locateByEdgelets(const Projector& p, const kimg_image* image, bool isRectified,
                         const kmath_shapeAffineRect* inputRect, const koc_lineExtractParams* params, LineLocation* loc,
                         koc_lineExtractResult* result) noexcept
{
    // Edge magnitudes are 8-bit measures of 8-bit images: 16-bit input
    // needs the gradient method.
    if (&p != &kProjector8) {
        return KOC_E_NEEDS_GRADIENT_METHOD;
    }
    kimg_image own;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&own));
    Always dropOwn([&] { kimg_image_destruct(&own); });
    const kimg_image* rectified = image;
    if (!isRectified) {
        KOC_RETURN_IF_FAILED(services::affineRectifyImageRegion(image, inputRect, &own));
        rectified = &own;
    }
    EdgeletLine line;
    KOC_RETURN_IF_FAILED(locateEdgeletLine(rectified, params, result->lineEdgeletRecord, &line));
    if (!line.isFound) {
        return 0;
    }
    RotationFound rotation;
    rotation.rotation = line.rotation;
    rotation.segment[0] = line.segment[0];
    rotation.segment[1] = line.segment[1];
    rotation.height = line.height;
    return placeLine(line.frame, inputRect, rotation, line.shear, loc, result);
}

int32_t locate(const Projector& p, const kimg_image* image, bool isRectified, const kmath_shapeAffineRect* inputRect,
               const koc_lineExtractParams* params, LineLocation* loc, koc_lineExtractResult* result) noexcept
{
    KOC_ASSERT(image != nullptr && inputRect != nullptr && params != nullptr && loc != nullptr && result != nullptr);
    KOC_ASSERT(result->lineEdgeletRecord != nullptr);
    loc->fullRect = *inputRect;
    loc->tightRect = *inputRect;
    loc->segment[0] = kmath_vect{0.0, 0.0};
    loc->segment[1] = kmath_vect{0.0, 0.0};
    loc->height = -1.0;
    if (params->useGradientMethod == 0) {
        return locateByEdgelets(p, image, isRectified, inputRect, params, loc, result);
    }
    // The gradient method samples the source image along the rectangle
    // itself; the driver never hands it a rectified region.
    if (isRectified) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    kimg_image field;
    KOC_RETURN_IF_FAILED(kimg_image_construct(&field));
    Always dropField([&] { kimg_image_destruct(&field); });
    int32_t steps[4] = {0, 0, 0, 0};
    KOC_RETURN_IF_FAILED(p.field(image, inputRect, &field, steps));
    int32_t bound = 0;
    KOC_RETURN_IF_FAILED(kimg_image_getIsBound(&field, &bound));
    kstd_rect32 window{};
    if (bound != 0) {
        KOC_RETURN_IF_FAILED(kimg_image_getWindow(&field, &window));
    }
    if (bound == 0 || window.width < 6 || window.height < 3) {
        return 0;
    }
    // One sample (two pels) off each row end, one row off the top and bottom:
    // the outermost samples see the rectangle's border, not the text.
    KOC_RETURN_IF_FAILED(kstd_rect32_trim(&window, 2, 1, 2, 1));
    KOC_RETURN_IF_FAILED(kimg_image_setWindowRect(&field, &window, 0));
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    kmath_xformLinear frame;  // sample coordinates -> client coordinates
    KOC_RETURN_IF_FAILED(kimg_image_getLinearClientFromImageXform(&field, &frame));

    RotationFound rotation;
    KOC_RETURN_IF_FAILED(searchRotation(p, &field, steps, params, &rotation));
    if (rotation.height == -1.0) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(ksys_attention_check());
    uint16_t shear = 0;
    KOC_RETURN_IF_FAILED(searchShear(p, &field, steps, params, (rotation.rotation + 91) / 182, &shear));

    return placeLine(frame, inputRect, rotation, shear, loc, result);
}

// Rotation, shear and band found in the method's frame: the full line
// rectangle along the two angles around the input rectangle, snapped to the
// input's grid when it is that close, and the tight one cut to the band.
int32_t placeLine(const kmath_xformLinear& frame, const kmath_shapeAffineRect* inputRect, const RotationFound& rotation,
                  uint16_t shear, LineLocation* loc, koc_lineExtractResult* result) noexcept
{
    result->lineAngle = rotation.rotation * 360.0 / 65536.0;
    result->skewAngle = shear * 360.0 / 65536.0;
    KOC_RETURN_IF_FAILED(ksys_attention_check());

    kmath_xformLinear toFrame;
    KOC_RETURN_IF_FAILED(kmath_xformLinear_getInverse(&frame, &toFrame));
    kmath_shapeAffineRect input;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&input, &toFrame, inputRect));
    const double alpha = radiansOf16(rotation.rotation);
    const double beta = radiansOf16(shear);

    kmath_shapeAffineRectPoints corners;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&input, &corners));
    kmath_vect points[4] = {corners.po, corners.px, corners.py, {}};
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRectPoints_getPopp(&corners, &points[3]));
    kmath_shapeAffineRect bounding;
    KOC_RETURN_IF_FAILED(boundingParallelogram(points, 4, alpha, beta, &bounding));

    kmath_vect centre;
    double xLength = 0.0, yLength = 0.0;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getCenter(&input, &centre));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getXLength(&input, &xLength));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getYLength(&input, &yLength));
    kmath_shapeAffineRect centred;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initCenter(&centred, &centre, xLength, yLength, alpha, beta + kPi / 2.0));

    // Align the bounding rectangle's origin with the centred rectangle's
    // pixel grid, rounding away from it so the text is never cut.
    kmath_vect ex, ey;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getUnitPoPx(&bounding, &ex));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getUnitPoPy(&bounding, &ey));
    kmath_shapeAffineRectPoints b, c;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&bounding, &b));
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&centred, &c));
    const kmath_vect d{b.po.x - c.po.x, b.po.y - c.po.y};
    const double dx = d.x * ex.x + d.y * ex.y;
    const double dy = d.x * ey.x + d.y * ey.y;
    const double rx = dx < 0.0 ? std::floor(dx) : std::ceil(dx);
    const double ry = dy < 0.0 ? std::floor(dy) : std::ceil(dy);
    const kmath_vect moved{b.po.x + (rx - dx) * ex.x + (ry - dy) * ey.x, b.po.y + (rx - dx) * ex.y + (ry - dy) * ey.y};
    const kmath_vect three[3] = {moved, b.px, b.py};
    kmath_shapeAffineRect aligned;
    KOC_RETURN_IF_FAILED(boundingParallelogram(three, 3, alpha, beta, &aligned));

    kmath_shapeAffineRectPoints a;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(&aligned, &a));
    const auto near = [](const kmath_vect& u, const kmath_vect& w) {
        return std::fabs(u.x - w.x) < 1.01 && std::fabs(u.y - w.y) < 1.01;
    };
    const kmath_shapeAffineRect& chosen = near(a.po, c.po) && near(a.px, c.px) && near(a.py, c.py) ? centred : aligned;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_initMap(&loc->fullRect, &frame, &chosen));
    loc->tightRect = loc->fullRect;

    KOC_RETURN_IF_FAILED(kmath_xformLinear_mapPoint(&frame, &rotation.segment[0], &loc->segment[0]));
    KOC_RETURN_IF_FAILED(kmath_xformLinear_mapPoint(&frame, &rotation.segment[1], &loc->segment[1]));
    loc->height = rotation.height;
    return tightLineRect(&loc->fullRect, loc->segment, &loc->tightRect);
}

}  // namespace

uint16_t angle16FromDegrees(int32_t degrees) noexcept
{
    const int64_t positive = degrees < 0 ? degrees + 360 : degrees;
    // Angles past a full turn wrap, as 16-bit angles do.
    return static_cast<uint16_t>((positive * 65536 + 180) / 360);
}

int32_t shortestMassWindow(const int32_t* profile, int32_t n, double q, int32_t* start, int32_t* end) noexcept
{
    *start = 0;
    *end = n - 1;
    if (n <= 0) {
        return 0;
    }
    // Each bin's mass is its magnitude in units of 256 (rounded).
    const auto massOf = [profile](int32_t i) {
        return static_cast<uint64_t>((std::abs(static_cast<int64_t>(profile[i])) + 128) >> 8);
    };
    uint64_t total = 0;
    for (int32_t i = 0; i < n; ++i) {
        total += massOf(i);
    }
    const auto target = static_cast<uint64_t>(static_cast<uint32_t>(static_cast<double>(total) * (1.0 - q)));
    shortestWindowReaching(n, target, massOf, start, end);
    return 0;
}

int32_t findTextBand(const int32_t* profile, int32_t n, int32_t* top, int32_t* bottom) noexcept
{
    int32_t s1 = 0, e1 = 0, s2 = 0, e2 = 0;
    KOC_RETURN_IF_FAILED(shortestMassWindow(profile, n, 2 * 0.09, &s1, &e1));
    const double width = (e1 - s1 + 1) / (1.0 - 2 * 0.09);
    const double centre = (s1 + e1) * 0.5;
    const auto lo = static_cast<int32_t>(std::floor(centre - width / 2.0));
    const auto hi = static_cast<int32_t>(std::ceil(centre + width / 2.0));
    KOC_RETURN_IF_FAILED(shortestMassWindow(profile, n, 2 * 0.08, &s2, &e2));
    *top = std::max(lo, s2) + 1;
    *bottom = std::max(std::min(hi, e2) - 1, *top);
    return 0;
}

int32_t boundingParallelogram(const kmath_vect* points, int32_t count, double alpha, double beta,
                              kmath_shapeAffineRect* rect) noexcept
{
    KOC_ASSERT(points != nullptr && count > 0 && rect != nullptr);
    kmath_vect d1, d2, w1, w2;
    KOC_RETURN_IF_FAILED(kmath_vect_initLengthAngle(&d1, 1.0, alpha));
    KOC_RETURN_IF_FAILED(kmath_vect_initLengthAngle(&d2, 1.0, beta + kPi / 2.0));
    KOC_RETURN_IF_FAILED(kmath_vect_initPerpendicular(&w1, &d1));
    kmath_vect perp2;
    KOC_RETURN_IF_FAILED(kmath_vect_initPerpendicular(&perp2, &d2));
    w2 = kmath_vect{-perp2.x, -perp2.y};
    double smin = INFINITY, smax = -INFINITY, tmin = INFINITY, tmax = -INFINITY;
    for (int32_t k = 0; k < count; ++k) {
        const double s = points[k].x * w1.x + points[k].y * w1.y;
        const double t = points[k].x * w2.x + points[k].y * w2.y;
        smin = std::min(smin, s);
        smax = std::max(smax, s);
        tmin = std::min(tmin, t);
        tmax = std::max(tmax, t);
    }
    const auto through = [](const kmath_vect& normal, double offset, const kmath_vect& dir) {
        return kshape_line{{normal.x * offset, normal.y * offset}, dir};
    };
    const kshape_line lineA = through(w1, smin, d1), lineB = through(w1, smax, d1);
    const kshape_line lineE = through(w2, tmin, d2), lineF = through(w2, tmax, d2);
    kmath_vect po, px, py;
    int32_t parallel = 0, anyParallel = 0;
    KOC_RETURN_IF_FAILED(kshape_line_intersection(&lineA, &lineE, &po, &parallel));
    anyParallel |= parallel;
    KOC_RETURN_IF_FAILED(kshape_line_intersection(&lineA, &lineF, &px, &parallel));
    anyParallel |= parallel;
    KOC_RETURN_IF_FAILED(kshape_line_intersection(&lineB, &lineE, &py, &parallel));
    anyParallel |= parallel;
    if (anyParallel != 0) {
        return KOC_E_RECT_DEGENERATE;  // rotation and shear 90 degrees apart: no parallelogram
    }
    return kmath_shapeAffineRect_initPoints(rect, &po, &px, &py);
}

int32_t tightLineRect(const kmath_shapeAffineRect* full, const kmath_vect segment[2], kmath_shapeAffineRect* tight) noexcept
{
    KOC_ASSERT(full != nullptr && segment != nullptr && tight != nullptr);
    kmath_shapeAffineRectPoints p;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getPoints(full, &p));
    const kmath_vect side{p.py.x - p.po.x, p.py.y - p.po.y};
    const double len2 = side.x * side.x + side.y * side.y;
    if (!(len2 > 0.0)) {
        return KOC_E_RECT_DEGENERATE;
    }
    // Nearest points on the line Po + u * side.
    const auto foot = [&](const kmath_vect& q) {
        const double u = ((q.x - p.po.x) * side.x + (q.y - p.po.y) * side.y) / len2;
        return kmath_vect{p.po.x + u * side.x, p.po.y + u * side.y};
    };
    const kmath_vect po = foot(segment[0]);
    const kmath_vect py = foot(segment[1]);
    const kmath_vect px{po.x + (p.px.x - p.po.x), po.y + (p.px.y - p.po.y)};
    return kmath_shapeAffineRect_initPoints(tight, &po, &px, &py);
}

int32_t locateTextLine(const kimg_image* image, bool isRectified, const kmath_shapeAffineRect* inputRect,
                       const koc_lineExtractParams* params, LineLocation* location, koc_lineExtractResult* result) noexcept
{
    return guarded([&] { return locate(kProjector8, image, isRectified, inputRect, params, location, result); });
}

int32_t locateTextLine16(const kimg_image* image16, bool isRectified, const kmath_shapeAffineRect* inputRect,
                         const koc_lineExtractParams* params, LineLocation* location, koc_lineExtractResult* result) noexcept
{
    return guarded(
        [&] { return locate(kProjector16, image16, isRectified, inputRect, params, location, result); });
}

}  // namespace koc::lineextract
