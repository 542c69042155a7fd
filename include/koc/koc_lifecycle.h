/* koc_lifecycle.h: the declaration macros of the record lifecycle family and
 * of the per-type checks.
 *
 * Every record has construct, constructCopy, assign, destruct and reset
 * (assign onto itself returns 0 and changes nothing; assign copies deeply,
 * images excepted, which share pixels). A record is usable between a
 * successful construct and destruct; after a failed construct nothing needs
 * to be destructed. Records with computed flags are assigned so that a
 * failure leaves the destination marked not computed. One exception to
 * shared pixels: a line result (and its working data) copies its line
 * images, so a copy survives the next run on the source. */
#ifndef KOC_LIFECYCLE_H
#define KOC_LIFECYCLE_H

#include "koc/koc_export.h"

#define KOC_DECLARE_LIFECYCLE(T)                                                 \
    KOC_API int32_t T##_construct(T* obj) KOC_NOEXCEPT;                          \
    KOC_API int32_t T##_constructCopy(T* dst, const T* src) KOC_NOEXCEPT;        \
    KOC_API int32_t T##_assign(T* dst, const T* src) KOC_NOEXCEPT;               \
    KOC_API int32_t T##_destruct(T* obj) KOC_NOEXCEPT;                           \
    KOC_API int32_t T##_reset(T* obj) KOC_NOEXCEPT;

/* Compile-time type checks: each takes one pointer of exactly its type (an
 * object, a pointer variable, a destructor, a delete function) and does
 * nothing, so code that registers an object with its release function can
 * have the pairing checked by the compiler. */
#define KOC_DECLARE_TYPE_CHECKS(T)                                                         \
    KOC_API int32_t ksys_typeCheck_##T(const T* obj) KOC_NOEXCEPT;                         \
    KOC_API int32_t ksys_typeCheckPtr_##T(T* const* ptr) KOC_NOEXCEPT;                     \
    KOC_API int32_t ksys_typeCheckFunc_##T(int32_t (*destruct)(T*)) KOC_NOEXCEPT;          \
    KOC_API int32_t ksys_typeCheckFuncPtr_##T(int32_t (*deleteFn)(T**)) KOC_NOEXCEPT;

#endif
