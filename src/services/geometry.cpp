// geometry.cpp: 2-D vectors, linear transforms, affine rectangles, lines,
// 16-bit angles and numeric helpers.
//
// A transform maps p to M·p + t. An affine rectangle is the image of the unit
// square under its transform, so its columns are the sides: (a, c) = Px - Po
// and (b, d) = Py - Po. That makes mapping a rectangle a plain composition
// and its degeneracy the same test as the transform's singularity; both use
// one relative tolerance so the two questions never disagree.
#include <cmath>
#include <cstdint>

#include "services/guard.hpp"
#include "koc/kmath.h"

namespace {

// A cross product (or determinant) smaller than this fraction of the product
// of its two vectors' lengths is treated as zero: the vectors are parallel to
// within rounding of a few operations on their coordinates.
constexpr double kRelativeParallel = 1e-12;

double cross(double ax, double ay, double bx, double by) noexcept
{
    return ax * by - ay * bx;
}

// True when the vectors (ax, ay) and (bx, by) span no area up to rounding, or
// when anything about them is not finite.
bool spansNoArea(double ax, double ay, double bx, double by) noexcept
{
    const double det = cross(ax, ay, bx, by);
    const double scale = std::hypot(ax, ay) * std::hypot(bx, by);
    if (!std::isfinite(det) || !std::isfinite(scale)) {
        return true;
    }
    return std::fabs(det) <= kRelativeParallel * scale;
}

bool sameDouble(double a, double b) noexcept
{
    return !(a < b) && !(b < a);
}

kmath_vect mapPoint(const kmath_xformLinear& x, const kmath_vect& p) noexcept
{
    const kmath_matrix& m = x.matrix;
    return kmath_vect{m.a * p.x + m.b * p.y + x.trans.x, m.c * p.x + m.d * p.y + x.trans.y};
}

// second ∘ first.
kmath_xformLinear compose(const kmath_xformLinear& first, const kmath_xformLinear& second) noexcept
{
    const kmath_matrix& f = first.matrix;
    const kmath_matrix& s = second.matrix;
    kmath_xformLinear out;
    out.matrix = kmath_matrix{s.a * f.a + s.b * f.c, s.a * f.b + s.b * f.d, s.c * f.a + s.d * f.c,
                              s.c * f.b + s.d * f.d};
    out.trans = mapPoint(second, first.trans);
    return out;
}

kmath_shapeAffineRectPoints pointsOf(const kmath_shapeAffineRect& r) noexcept
{
    const kmath_xformLinear& x = r.xform;
    const kmath_vect po = x.trans;
    return kmath_shapeAffineRectPoints{po, kmath_vect{po.x + x.matrix.a, po.y + x.matrix.c},
                                       kmath_vect{po.x + x.matrix.b, po.y + x.matrix.d}};
}

int32_t unitOf(double x, double y, kmath_vect* unit) noexcept
{
    const double length = std::hypot(x, y);
    if (!(length > 0.0) || !std::isfinite(length)) {
        return KOC_E_BAD_ARGUMENT;
    }
    *unit = kmath_vect{x / length, y / length};
    return 0;
}

// 16-bit angles: quarter turns are handled by exact symmetry, so values at
// multiples of a quarter turn are exact (0 and ±1), sin16(-a) == -sin16(a)
// and cos16(a) == sin16(a + 16384) bit for bit. Within a quarter turn the
// upper half uses cos of the complement, so the quarter turn itself is
// cos(0) == 1 without relying on how the math library rounds sin(pi/2).
constexpr double kRadiansPerUnit = 6.283185307179586476925286766559 / 65536.0;

// sin of r units, 0 <= r <= 16384.
double sinQuarter(uint32_t r) noexcept
{
    if (r <= 8192) {
        return std::sin(static_cast<double>(r) * kRadiansPerUnit);
    }
    return std::cos(static_cast<double>(16384 - r) * kRadiansPerUnit);
}

double sin16(uint16_t angle) noexcept
{
    const uint32_t quadrant = static_cast<uint32_t>(angle) >> 14;
    const uint32_t r = static_cast<uint32_t>(angle) & 0x3fffu;
    const double v = (quadrant & 1u) != 0 ? sinQuarter(16384 - r) : sinQuarter(r);
    // Negating an exact zero would give -0, which prints and compares
    // surprisingly in hosts; zero is zero.
    return quadrant >= 2 && v != 0.0 ? -v : v;
}

double cos16(uint16_t angle) noexcept
{
    return sin16(static_cast<uint16_t>(angle + 16384u));
}

int32_t toFixedPoint(double v, int32_t fractionBits, int32_t* out) noexcept
{
    if (fractionBits < 0 || fractionBits > 30) {
        return KOC_E_BAD_ARGUMENT;
    }
    // Scaling by a power of two is exact, so the only rounding is std::round
    // (halves away from zero); |v| <= 1 keeps the result within 2^30.
    *out = static_cast<int32_t>(std::round(std::ldexp(v, fractionBits)));
    return 0;
}

}  // namespace

extern "C" {

// ---- vectors ----

KOC_API int32_t kmath_vect_init(kmath_vect* v, double x, double y) noexcept
{
    KOC_ASSERT(v != nullptr);
    *v = kmath_vect{x, y};
    return 0;
}

KOC_API int32_t kmath_vect_initAdd(kmath_vect* out, const kmath_vect* a, const kmath_vect* b) noexcept
{
    KOC_ASSERT(out != nullptr && a != nullptr && b != nullptr);
    *out = kmath_vect{a->x + b->x, a->y + b->y};
    return 0;
}

KOC_API int32_t kmath_vect_initSubtract(kmath_vect* out, const kmath_vect* a, const kmath_vect* b) noexcept
{
    KOC_ASSERT(out != nullptr && a != nullptr && b != nullptr);
    *out = kmath_vect{a->x - b->x, a->y - b->y};
    return 0;
}

KOC_API int32_t kmath_vect_initMultiply(kmath_vect* out, const kmath_vect* v, double factor) noexcept
{
    KOC_ASSERT(out != nullptr && v != nullptr);
    *out = kmath_vect{v->x * factor, v->y * factor};
    return 0;
}

KOC_API int32_t kmath_vect_initPerpendicular(kmath_vect* out, const kmath_vect* v) noexcept
{
    KOC_ASSERT(out != nullptr && v != nullptr);
    *out = kmath_vect{-v->y, v->x};
    return 0;
}

KOC_API int32_t kmath_vect_initLengthAngle(kmath_vect* out, double length, double angle) noexcept
{
    KOC_ASSERT(out != nullptr);
    *out = kmath_vect{length * std::cos(angle), length * std::sin(angle)};
    return 0;
}

KOC_API int32_t kmath_vect_getUnit(const kmath_vect* v, kmath_vect* unit) noexcept
{
    KOC_ASSERT(v != nullptr && unit != nullptr);
    return unitOf(v->x, v->y, unit);
}

KOC_API int32_t kmath_vect_getLength(const kmath_vect* v, double* length) noexcept
{
    KOC_ASSERT(v != nullptr && length != nullptr);
    *length = std::hypot(v->x, v->y);
    return 0;
}

KOC_API int32_t kmath_vect_getDistance(const kmath_vect* a, const kmath_vect* b, double* distance) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && distance != nullptr);
    *distance = std::hypot(a->x - b->x, a->y - b->y);
    return 0;
}

KOC_API int32_t kmath_vect_epsilonEqual(const kmath_vect* a, const kmath_vect* b, double epsilon,
                                        int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    *isEqual = std::fabs(a->x - b->x) <= epsilon && std::fabs(a->y - b->y) <= epsilon ? 1 : 0;
    return 0;
}

// ---- matrices and transforms ----

KOC_API int32_t kmath_matrix_init(kmath_matrix* m, double a, double b, double c, double d) noexcept
{
    KOC_ASSERT(m != nullptr);
    *m = kmath_matrix{a, b, c, d};
    return 0;
}

KOC_API int32_t kmath_matrix_initRotationScale(kmath_matrix* m, double angle, double scale) noexcept
{
    KOC_ASSERT(m != nullptr);
    const double c = scale * std::cos(angle);
    const double s = scale * std::sin(angle);
    *m = kmath_matrix{c, -s, s, c};
    return 0;
}

KOC_API int32_t kmath_xformLinear_initIdentity(kmath_xformLinear* x) noexcept
{
    KOC_ASSERT(x != nullptr);
    *x = kmath_xformLinear{kmath_matrix{1.0, 0.0, 0.0, 1.0}, kmath_vect{0.0, 0.0}};
    return 0;
}

KOC_API int32_t kmath_xformLinear_initMatrixTrans(kmath_xformLinear* x, const kmath_matrix* m,
                                                  const kmath_vect* t) noexcept
{
    KOC_ASSERT(x != nullptr && m != nullptr && t != nullptr);
    *x = kmath_xformLinear{*m, *t};
    return 0;
}

KOC_API int32_t kmath_xformLinear_initMatrixTransElements(kmath_xformLinear* x, double a, double b, double c, double d,
                                                          double tx, double ty) noexcept
{
    KOC_ASSERT(x != nullptr);
    *x = kmath_xformLinear{kmath_matrix{a, b, c, d}, kmath_vect{tx, ty}};
    return 0;
}

KOC_API int32_t kmath_xformLinear_initCompose(kmath_xformLinear* out, const kmath_xformLinear* first,
                                              const kmath_xformLinear* second) noexcept
{
    KOC_ASSERT(out != nullptr && first != nullptr && second != nullptr);
    *out = compose(*first, *second);
    return 0;
}

KOC_API int32_t kmath_xformLinear_getInverse(const kmath_xformLinear* x, kmath_xformLinear* inverse) noexcept
{
    KOC_ASSERT(x != nullptr && inverse != nullptr);
    const kmath_matrix& m = x->matrix;
    if (spansNoArea(m.a, m.c, m.b, m.d)) {
        return KOC_E_SINGULAR_XFORM;
    }
    const double det = cross(m.a, m.c, m.b, m.d);
    kmath_xformLinear inv;
    inv.matrix = kmath_matrix{m.d / det, -m.b / det, -m.c / det, m.a / det};
    inv.trans = kmath_vect{0.0, 0.0};
    const kmath_vect t = mapPoint(inv, x->trans);
    inv.trans = kmath_vect{-t.x, -t.y};
    const kmath_matrix& im = inv.matrix;
    // A tiny but well-conditioned matrix can still have an inverse too large
    // to represent; that is as unusable as a singular one.
    if (!std::isfinite(im.a) || !std::isfinite(im.b) || !std::isfinite(im.c) || !std::isfinite(im.d) ||
        !std::isfinite(inv.trans.x) || !std::isfinite(inv.trans.y)) {
        return KOC_E_SINGULAR_XFORM;
    }
    *inverse = inv;
    return 0;
}

KOC_API int32_t kmath_xformLinear_mapPoint(const kmath_xformLinear* x, const kmath_vect* p, kmath_vect* out) noexcept
{
    KOC_ASSERT(x != nullptr && p != nullptr && out != nullptr);
    *out = mapPoint(*x, *p);
    return 0;
}

KOC_API int32_t kmath_xformLinear_mapArea(const kmath_xformLinear* x, double area, double* out) noexcept
{
    KOC_ASSERT(x != nullptr && out != nullptr);
    *out = area * cross(x->matrix.a, x->matrix.c, x->matrix.b, x->matrix.d);
    return 0;
}

KOC_API int32_t kmath_xformLinear_compareEqual(const kmath_xformLinear* a, const kmath_xformLinear* b,
                                               int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    const kmath_matrix& p = a->matrix;
    const kmath_matrix& q = b->matrix;
    *isEqual = sameDouble(p.a, q.a) && sameDouble(p.b, q.b) && sameDouble(p.c, q.c) && sameDouble(p.d, q.d) &&
                       sameDouble(a->trans.x, b->trans.x) && sameDouble(a->trans.y, b->trans.y)
                   ? 1
                   : 0;
    return 0;
}

// ---- affine rectangles ----

KOC_API int32_t kmath_shapeAffineRect_initNull(kmath_shapeAffineRect* r) noexcept
{
    KOC_ASSERT(r != nullptr);
    *r = kmath_shapeAffineRect{kmath_xformLinear{kmath_matrix{0.0, 0.0, 0.0, 0.0}, kmath_vect{0.0, 0.0}}};
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_initRect32(kmath_shapeAffineRect* r, const kstd_rect32* rect) noexcept
{
    KOC_ASSERT(r != nullptr && rect != nullptr);
    *r = kmath_shapeAffineRect{
        kmath_xformLinear{kmath_matrix{static_cast<double>(rect->width), 0.0, 0.0, static_cast<double>(rect->height)},
                          kmath_vect{static_cast<double>(rect->x), static_cast<double>(rect->y)}}};
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_initPoints(kmath_shapeAffineRect* r, const kmath_vect* po, const kmath_vect* px,
                                                 const kmath_vect* py) noexcept
{
    KOC_ASSERT(r != nullptr && po != nullptr && px != nullptr && py != nullptr);
    *r = kmath_shapeAffineRect{kmath_xformLinear{
        kmath_matrix{px->x - po->x, py->x - po->x, px->y - po->y, py->y - po->y}, *po}};
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_initCenter(kmath_shapeAffineRect* r, const kmath_vect* center, double xLength,
                                                 double yLength, double xRotation, double yRotation) noexcept
{
    KOC_ASSERT(r != nullptr && center != nullptr);
    const double xSideX = xLength * std::cos(xRotation);
    const double xSideY = xLength * std::sin(xRotation);
    const double ySideX = yLength * std::cos(yRotation);
    const double ySideY = yLength * std::sin(yRotation);
    const kmath_vect po{center->x - 0.5 * (xSideX + ySideX), center->y - 0.5 * (xSideY + ySideY)};
    *r = kmath_shapeAffineRect{kmath_xformLinear{kmath_matrix{xSideX, ySideX, xSideY, ySideY}, po}};
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_initMap(kmath_shapeAffineRect* out, const kmath_xformLinear* xform,
                                              const kmath_shapeAffineRect* rect) noexcept
{
    KOC_ASSERT(out != nullptr && xform != nullptr && rect != nullptr);
    // The rectangle's own transform takes the unit square to it; xform comes after.
    out->xform = compose(rect->xform, *xform);
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_getPoints(const kmath_shapeAffineRect* r,
                                                kmath_shapeAffineRectPoints* points) noexcept
{
    KOC_ASSERT(r != nullptr && points != nullptr);
    *points = pointsOf(*r);
    return 0;
}

KOC_API int32_t kmath_shapeAffineRectPoints_getPopp(const kmath_shapeAffineRectPoints* points,
                                                    kmath_vect* popp) noexcept
{
    KOC_ASSERT(points != nullptr && popp != nullptr);
    *popp = kmath_vect{points->px.x + points->py.x - points->po.x, points->px.y + points->py.y - points->po.y};
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_getIsDegenerate(const kmath_shapeAffineRect* r, int32_t* isDegenerate) noexcept
{
    KOC_ASSERT(r != nullptr && isDegenerate != nullptr);
    const kmath_xformLinear& x = r->xform;
    const bool finiteOrigin = std::isfinite(x.trans.x) && std::isfinite(x.trans.y);
    *isDegenerate = !finiteOrigin || spansNoArea(x.matrix.a, x.matrix.c, x.matrix.b, x.matrix.d) ? 1 : 0;
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_getEncloseRect(const kmath_shapeAffineRect* r, kstd_rectD* out) noexcept
{
    KOC_ASSERT(r != nullptr && out != nullptr);
    const kmath_shapeAffineRectPoints p = pointsOf(*r);
    const kmath_vect corners[4] = {p.po, p.px, p.py,
                                   kmath_vect{p.px.x + p.py.x - p.po.x, p.px.y + p.py.y - p.po.y}};
    double x0 = corners[0].x;
    double x1 = corners[0].x;
    double y0 = corners[0].y;
    double y1 = corners[0].y;
    for (const kmath_vect& c : corners) {
        x0 = std::fmin(x0, c.x);
        x1 = std::fmax(x1, c.x);
        y0 = std::fmin(y0, c.y);
        y1 = std::fmax(y1, c.y);
    }
    *out = kstd_rectD{x0, y0, x1 - x0, y1 - y0};
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_getEncloseImageRect(const kmath_shapeAffineRect* r, kstd_rect32* out) noexcept
{
    KOC_ASSERT(r != nullptr && out != nullptr);
    kstd_rectD box;
    KOC_RETURN_IF_FAILED(kmath_shapeAffineRect_getEncloseRect(r, &box));
    return kstd_rect32_initMinEnclosingRect(out, &box);
}

KOC_API int32_t kmath_shapeAffineRect_getCenter(const kmath_shapeAffineRect* r, kmath_vect* center) noexcept
{
    KOC_ASSERT(r != nullptr && center != nullptr);
    const kmath_xformLinear& x = r->xform;
    *center = kmath_vect{x.trans.x + 0.5 * (x.matrix.a + x.matrix.b), x.trans.y + 0.5 * (x.matrix.c + x.matrix.d)};
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_getXLength(const kmath_shapeAffineRect* r, double* length) noexcept
{
    KOC_ASSERT(r != nullptr && length != nullptr);
    *length = std::hypot(r->xform.matrix.a, r->xform.matrix.c);
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_getYLength(const kmath_shapeAffineRect* r, double* length) noexcept
{
    KOC_ASSERT(r != nullptr && length != nullptr);
    *length = std::hypot(r->xform.matrix.b, r->xform.matrix.d);
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_getXRotation(const kmath_shapeAffineRect* r, double* angle) noexcept
{
    KOC_ASSERT(r != nullptr && angle != nullptr);
    *angle = std::atan2(r->xform.matrix.c, r->xform.matrix.a);
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_getYRotation(const kmath_shapeAffineRect* r, double* angle) noexcept
{
    KOC_ASSERT(r != nullptr && angle != nullptr);
    *angle = std::atan2(r->xform.matrix.d, r->xform.matrix.b);
    return 0;
}

KOC_API int32_t kmath_shapeAffineRect_getUnitPoPx(const kmath_shapeAffineRect* r, kmath_vect* unit) noexcept
{
    KOC_ASSERT(r != nullptr && unit != nullptr);
    return unitOf(r->xform.matrix.a, r->xform.matrix.c, unit);
}

KOC_API int32_t kmath_shapeAffineRect_getUnitPoPy(const kmath_shapeAffineRect* r, kmath_vect* unit) noexcept
{
    KOC_ASSERT(r != nullptr && unit != nullptr);
    return unitOf(r->xform.matrix.b, r->xform.matrix.d, unit);
}

KOC_API int32_t kmath_shapeAffineRect_compareEqual(const kmath_shapeAffineRect* a, const kmath_shapeAffineRect* b,
                                                   int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    return kmath_xformLinear_compareEqual(&a->xform, &b->xform, isEqual);
}

// ---- lines ----

KOC_API int32_t kshape_line_init(kshape_line* line, const kmath_vect* point, const kmath_vect* direction) noexcept
{
    KOC_ASSERT(line != nullptr && point != nullptr && direction != nullptr);
    *line = kshape_line{*point, *direction};
    return 0;
}

KOC_API int32_t kshape_line_intersection(const kshape_line* a, const kshape_line* b, kmath_vect* point,
                                         int32_t* isParallel) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && point != nullptr && isParallel != nullptr);
    // a.point + s·a.dir = b.point + u·b.dir; crossing both sides with b.dir
    // removes u. A zero direction spans nothing and counts as parallel.
    const kmath_vect& da = a->direction;
    const kmath_vect& db = b->direction;
    if (spansNoArea(da.x, da.y, db.x, db.y)) {
        *isParallel = 1;
        return 0;
    }
    const double s =
        cross(b->point.x - a->point.x, b->point.y - a->point.y, db.x, db.y) / cross(da.x, da.y, db.x, db.y);
    const kmath_vect p{a->point.x + s * da.x, a->point.y + s * da.y};
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
        *isParallel = 1;
        return 0;
    }
    *point = p;
    *isParallel = 0;
    return 0;
}

// ---- angles and numbers ----

KOC_API int32_t kmath_degree_signedNorm(double degrees, double* out) noexcept
{
    KOC_ASSERT(out != nullptr);
    // fmod is exact, and both corrections subtract numbers within a factor of
    // two of each other, so they are exact too: no drift for any input.
    double r = std::fmod(degrees, 360.0);
    if (r <= -180.0) {
        r += 360.0;
    } else if (r > 180.0) {
        r -= 360.0;
    }
    *out = r;
    return 0;
}

KOC_API int32_t kmath_sin16(uint16_t angle, double* out) noexcept
{
    KOC_ASSERT(out != nullptr);
    *out = sin16(angle);
    return 0;
}

KOC_API int32_t kmath_cos16(uint16_t angle, double* out) noexcept
{
    KOC_ASSERT(out != nullptr);
    *out = cos16(angle);
    return 0;
}

KOC_API int32_t kmath_sin16FixedPoint(uint16_t angle, int32_t fractionBits, int32_t* out) noexcept
{
    KOC_ASSERT(out != nullptr);
    return toFixedPoint(sin16(angle), fractionBits, out);
}

KOC_API int32_t kmath_cos16FixedPoint(uint16_t angle, int32_t fractionBits, int32_t* out) noexcept
{
    KOC_ASSERT(out != nullptr);
    return toFixedPoint(cos16(angle), fractionBits, out);
}

KOC_API int32_t kmath_double_round(double v, double* out) noexcept
{
    KOC_ASSERT(out != nullptr);
    *out = std::round(v);
    return 0;
}

KOC_API int32_t kmath_double_floor(double v, double* out) noexcept
{
    KOC_ASSERT(out != nullptr);
    *out = std::floor(v);
    return 0;
}

KOC_API int32_t kmath_double_ceil(double v, double* out) noexcept
{
    KOC_ASSERT(out != nullptr);
    *out = std::ceil(v);
    return 0;
}

KOC_API int32_t kmath_sqrt64(uint64_t v, uint64_t* out) noexcept
{
    KOC_ASSERT(out != nullptr);
    // The double estimate is within one or two of the answer (v itself is
    // rounded to 53 bits). Clamping to 2^32 - 1 keeps every square below in
    // 64 bits; the two loops then make r*r <= v < (r+1)*(r+1) exactly.
    constexpr uint64_t kMaxRoot = 0xffffffffu;
    uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(v)));
    if (r > kMaxRoot) {
        r = kMaxRoot;
    }
    while (r * r > v) {
        --r;
    }
    while (r < kMaxRoot && (r + 1) * (r + 1) <= v) {
        ++r;
    }
    *out = r;
    return 0;
}

}  // extern "C"
