/* kmath.h: 2-D vectors, linear (affine) transforms, affine rectangles, lines,
 * 16-bit angles and the numeric helpers the pipeline relies on.
 *
 * Conventions: angles in this header are radians unless a name says 16
 * (65536 units per full turn) or degree. A transform maps p to M·p + t with
 * M = [a b; c d]. initCompose(out, first, second) applies first, then
 * second. An affine rectangle is the image of the unit square under its
 * transform: Po = t, Px = t + (a, c), Py = t + (b, d). An integer rectangle
 * (x, y, w, h) covers pixels x .. x+w-1, so as an affine rectangle its
 * corners are Po (x, y), Px (x+w, y), Py (x, y+h). All functions are pure
 * and thread-safe; they return 0 unless noted. */
#ifndef KOC_KMATH_H
#define KOC_KMATH_H

#include "koc/kstd.h"

KOC_EXTERN_C_BEGIN

typedef struct kmath_vect {
    double x;
    double y;
} kmath_vect;

typedef struct kmath_matrix {
    double a, b; /* first row */
    double c, d; /* second row */
} kmath_matrix;

typedef struct kmath_xformLinear {
    kmath_matrix matrix;
    kmath_vect trans;
} kmath_xformLinear;

/* Held as the transform of the unit square; see above. The null rectangle
 * has an all-zero transform. */
typedef struct kmath_shapeAffineRect {
    kmath_xformLinear xform;
} kmath_shapeAffineRect;

typedef struct kmath_shapeAffineRectPoints {
    kmath_vect po;
    kmath_vect px;
    kmath_vect py;
} kmath_shapeAffineRectPoints;

/* A line through point along direction (direction need not be a unit vector). */
typedef struct kshape_line {
    kmath_vect point;
    kmath_vect direction;
} kshape_line;

/* A vector of affine rectangles (one per paragraph for the entry points). */
KSTD_DECLARE_VECTOR_FAMILY(vector_kmath_shapeAffineRect, kmath_shapeAffineRect)

/* ---- vectors ---- */
KOC_API int32_t kmath_vect_init(kmath_vect* v, double x, double y) KOC_NOEXCEPT;
KOC_API int32_t kmath_vect_initAdd(kmath_vect* out, const kmath_vect* a, const kmath_vect* b) KOC_NOEXCEPT;
KOC_API int32_t kmath_vect_initSubtract(kmath_vect* out, const kmath_vect* a, const kmath_vect* b) KOC_NOEXCEPT;
KOC_API int32_t kmath_vect_initMultiply(kmath_vect* out, const kmath_vect* v, double factor) KOC_NOEXCEPT;
/* (x, y) -> (-y, x): a quarter turn counter-clockwise in a y-up frame. */
KOC_API int32_t kmath_vect_initPerpendicular(kmath_vect* out, const kmath_vect* v) KOC_NOEXCEPT;
KOC_API int32_t kmath_vect_initLengthAngle(kmath_vect* out, double length, double angle) KOC_NOEXCEPT;
/* KOC_E_BAD_ARGUMENT for the zero vector. */
KOC_API int32_t kmath_vect_getUnit(const kmath_vect* v, kmath_vect* unit) KOC_NOEXCEPT;
KOC_API int32_t kmath_vect_getLength(const kmath_vect* v, double* length) KOC_NOEXCEPT;
KOC_API int32_t kmath_vect_getDistance(const kmath_vect* a, const kmath_vect* b, double* distance) KOC_NOEXCEPT;
/* *isEqual = 1 when both coordinates differ by at most epsilon. */
KOC_API int32_t kmath_vect_epsilonEqual(const kmath_vect* a, const kmath_vect* b, double epsilon, int32_t* isEqual) KOC_NOEXCEPT;

/* ---- matrices and transforms ---- */
KOC_API int32_t kmath_matrix_init(kmath_matrix* m, double a, double b, double c, double d) KOC_NOEXCEPT;
/* Rotation by angle followed by a uniform scale. */
KOC_API int32_t kmath_matrix_initRotationScale(kmath_matrix* m, double angle, double scale) KOC_NOEXCEPT;
KOC_API int32_t kmath_xformLinear_initIdentity(kmath_xformLinear* x) KOC_NOEXCEPT;
KOC_API int32_t kmath_xformLinear_initMatrixTrans(kmath_xformLinear* x, const kmath_matrix* m, const kmath_vect* t) KOC_NOEXCEPT;
KOC_API int32_t kmath_xformLinear_initMatrixTransElements(kmath_xformLinear* x, double a, double b, double c, double d, double tx, double ty) KOC_NOEXCEPT;
/* out = second ∘ first; out may alias either argument. */
KOC_API int32_t kmath_xformLinear_initCompose(kmath_xformLinear* out, const kmath_xformLinear* first, const kmath_xformLinear* second) KOC_NOEXCEPT;
/* KOC_E_SINGULAR_XFORM when the matrix cannot be inverted; *inverse unchanged then.
 * Singular means |det| is at most 1e-12 times the product of the column
 * lengths (the same test as getIsDegenerate), or a value of the
 * transform or of its inverse is not finite. */
KOC_API int32_t kmath_xformLinear_getInverse(const kmath_xformLinear* x, kmath_xformLinear* inverse) KOC_NOEXCEPT;
KOC_API int32_t kmath_xformLinear_mapPoint(const kmath_xformLinear* x, const kmath_vect* p, kmath_vect* out) KOC_NOEXCEPT;
/* *out = area × det(M): the signed area that a region of the given area maps to. */
KOC_API int32_t kmath_xformLinear_mapArea(const kmath_xformLinear* x, double area, double* out) KOC_NOEXCEPT;
/* Doubles compare equal unless one is less than the other (NaN equals anything). */
KOC_API int32_t kmath_xformLinear_compareEqual(const kmath_xformLinear* a, const kmath_xformLinear* b, int32_t* isEqual) KOC_NOEXCEPT;

/* ---- affine rectangles ---- */
KOC_API int32_t kmath_shapeAffineRect_initNull(kmath_shapeAffineRect* r) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_initRect32(kmath_shapeAffineRect* r, const kstd_rect32* rect) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_initPoints(kmath_shapeAffineRect* r, const kmath_vect* po, const kmath_vect* px, const kmath_vect* py) KOC_NOEXCEPT;
/* Centre form: centre, side lengths, and the directions of the x side and of
 * the y side (for an unsheared rectangle yRotation = xRotation + pi/2). */
KOC_API int32_t kmath_shapeAffineRect_initCenter(kmath_shapeAffineRect* r, const kmath_vect* center, double xLength, double yLength, double xRotation, double yRotation) KOC_NOEXCEPT;
/* out = rect mapped through xform; out may alias rect. */
KOC_API int32_t kmath_shapeAffineRect_initMap(kmath_shapeAffineRect* out, const kmath_xformLinear* xform, const kmath_shapeAffineRect* rect) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_getPoints(const kmath_shapeAffineRect* r, kmath_shapeAffineRectPoints* points) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRectPoints_getPopp(const kmath_shapeAffineRectPoints* points, kmath_vect* popp) KOC_NOEXCEPT;
/* Degenerate: the sides span no area (|Px-Po × Py-Po| <= 1e-12 |Px-Po| |Py-Po|),
 * or a corner is not finite. */
KOC_API int32_t kmath_shapeAffineRect_getIsDegenerate(const kmath_shapeAffineRect* r, int32_t* isDegenerate) KOC_NOEXCEPT;
/* Axis-aligned box of the four corners. */
KOC_API int32_t kmath_shapeAffineRect_getEncloseRect(const kmath_shapeAffineRect* r, kstd_rectD* out) KOC_NOEXCEPT;
/* The pixels the rectangle touches: floor of the low edges, ceil of the high
 * edges of the enclosing box; KOC_E_BAD_ARGUMENT when not representable. */
KOC_API int32_t kmath_shapeAffineRect_getEncloseImageRect(const kmath_shapeAffineRect* r, kstd_rect32* out) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_getCenter(const kmath_shapeAffineRect* r, kmath_vect* center) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_getXLength(const kmath_shapeAffineRect* r, double* length) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_getYLength(const kmath_shapeAffineRect* r, double* length) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_getXRotation(const kmath_shapeAffineRect* r, double* angle) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_getYRotation(const kmath_shapeAffineRect* r, double* angle) KOC_NOEXCEPT;
/* KOC_E_BAD_ARGUMENT when the side has zero length. */
KOC_API int32_t kmath_shapeAffineRect_getUnitPoPx(const kmath_shapeAffineRect* r, kmath_vect* unit) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_getUnitPoPy(const kmath_shapeAffineRect* r, kmath_vect* unit) KOC_NOEXCEPT;
KOC_API int32_t kmath_shapeAffineRect_compareEqual(const kmath_shapeAffineRect* a, const kmath_shapeAffineRect* b, int32_t* isEqual) KOC_NOEXCEPT;

/* ---- lines ---- */
KOC_API int32_t kshape_line_init(kshape_line* line, const kmath_vect* point, const kmath_vect* direction) KOC_NOEXCEPT;
/* *isParallel = 1 (and *point unchanged) when the lines do not cross in one
 * point: directions parallel up to the relative tolerance above, a zero
 * direction, or a crossing too far away to represent. */
KOC_API int32_t kshape_line_intersection(const kshape_line* a, const kshape_line* b, kmath_vect* point, int32_t* isParallel) KOC_NOEXCEPT;

/* ---- angles and numbers ---- */
/* Degrees folded into (-180, 180]. */
KOC_API int32_t kmath_degree_signedNorm(double degrees, double* out) KOC_NOEXCEPT;
/* sin and cos of a 16-bit angle (65536 units per full turn). */
KOC_API int32_t kmath_sin16(uint16_t angle, double* out) KOC_NOEXCEPT;
KOC_API int32_t kmath_cos16(uint16_t angle, double* out) KOC_NOEXCEPT;
/* The same with fractionBits (0..30) fractional bits, rounded to nearest,
 * halves away from zero; exact at multiples of a quarter turn. Other
 * fractionBits give KOC_E_BAD_ARGUMENT. */
KOC_API int32_t kmath_sin16FixedPoint(uint16_t angle, int32_t fractionBits, int32_t* out) KOC_NOEXCEPT;
KOC_API int32_t kmath_cos16FixedPoint(uint16_t angle, int32_t fractionBits, int32_t* out) KOC_NOEXCEPT;
/* Nearest integer (halves away from zero), floor and ceiling, as doubles. */
KOC_API int32_t kmath_double_round(double v, double* out) KOC_NOEXCEPT;
KOC_API int32_t kmath_double_floor(double v, double* out) KOC_NOEXCEPT;
KOC_API int32_t kmath_double_ceil(double v, double* out) KOC_NOEXCEPT;
/* floor(sqrt(v)), exact for every 64-bit value. */
KOC_API int32_t kmath_sqrt64(uint64_t v, uint64_t* out) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
