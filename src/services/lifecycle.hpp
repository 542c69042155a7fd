// lifecycle.hpp: the pieces of the record lifecycle family that every record
// shares: constructCopy from construct + assign, the plain-value family, and
// the double-equality rule of compareEqual.
#pragma once

#include "services/guard.hpp"

namespace koc {

// Doubles are equal unless one is less than the other, so a NaN matches
// any value: records compared after a NaN crept in still compare stable.
inline bool doublesEqual(double a, double b) noexcept
{
    return !(a < b) && !(b < a);
}

// For a closed range check: NaN fails the upper test.
inline bool outsideRange(double v, double lo, double hi) noexcept
{
    return v < lo || !(v <= hi);
}

}  // namespace koc

// constructCopy = construct, then assign; a failing assign destructs again.
#define KOC_DEFINE_CONSTRUCT_COPY(T)                                          \
    extern "C" KOC_API int32_t T##_constructCopy(T* dst, const T* src) noexcept \
    {                                                                         \
        KOC_ASSERT(dst != nullptr && src != nullptr);                         \
        KOC_RETURN_IF_FAILED(T##_construct(dst));                             \
        const int32_t rc = T##_assign(dst, src);                              \
        if (rc < 0) {                                                         \
            T##_destruct(dst);                                                \
        }                                                                     \
        return rc;                                                            \
    }

// Plain values: construct is reset, destruct only checks its argument,
// assign copies every field. T##_reset is written beside the record.
#define KOC_DEFINE_PLAIN_LIFECYCLE(T)                                         \
    extern "C" KOC_API int32_t T##_construct(T* obj) noexcept                 \
    {                                                                         \
        KOC_ASSERT(obj != nullptr);                                           \
        return T##_reset(obj);                                                \
    }                                                                         \
    extern "C" KOC_API int32_t T##_assign(T* dst, const T* src) noexcept      \
    {                                                                         \
        KOC_ASSERT(dst != nullptr && src != nullptr);                         \
        if (dst != src) {                                                     \
            *dst = *src;                                                      \
        }                                                                     \
        return 0;                                                             \
    }                                                                         \
    extern "C" KOC_API int32_t T##_destruct(T* obj) noexcept                  \
    {                                                                         \
        KOC_ASSERT(obj != nullptr);                                           \
        return 0;                                                             \
    }                                                                         \
    KOC_DEFINE_CONSTRUCT_COPY(T)
