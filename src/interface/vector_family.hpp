// vector_family.hpp: the typed vector family, written once over the generic
// vector; vector_families.cpp instantiates it for every listed type.
#pragma once

#include "services/guard.hpp"
#include "koc/ksys.h"
#include "services/memory.hpp"

namespace koc {

// The element type table of T; records specialise it (see
// KOC_DEFINE_ELEMENT_TABLE), plain values keep the null table.
template <class T>
struct ElementTable {
    static const kstd_elementTypeTable* get() noexcept { return nullptr; }
};

template <class V, class T>
struct VectorFamily {
    static kstd_vector_* base(V* v) noexcept { return &v->base; }
    static const kstd_vector_* base(const V* v) noexcept { return &v->base; }
    static constexpr intptr_t kSize = static_cast<intptr_t>(sizeof(T));

    static int32_t construct(V* v, intptr_t n) noexcept
    {
        KOC_ASSERT(v != nullptr);
        return kstd_vector__constructWithVtable(base(v), kSize, ElementTable<T>::get(), n);
    }
    static int32_t constructWithMtable(V* v, intptr_t n, const kstd_memoryTable* m) noexcept
    {
        KOC_ASSERT(v != nullptr);
        return kstd_vector__constructWithVtableWithMtable(base(v), kSize, ElementTable<T>::get(), n, m);
    }
    static int32_t constructUninit(V* v, intptr_t n) noexcept
    {
        KOC_ASSERT(v != nullptr);
        return kstd_vector__constructWithVtableUninit(base(v), kSize, ElementTable<T>::get(), n);
    }
    static int32_t constructFill(V* v, intptr_t n, const T* value) noexcept
    {
        KOC_ASSERT(v != nullptr);
        return kstd_vector__constructFillWithVtable(base(v), kSize, ElementTable<T>::get(), n, value);
    }
    static int32_t constructFromBlock(V* v, const T* block, intptr_t n) noexcept
    {
        KOC_ASSERT(v != nullptr);
        return kstd_vector__constructFromBlockWithVtable(base(v), kSize, ElementTable<T>::get(), block, n);
    }
    static int32_t constructCopy(V* v, const V* src) noexcept
    {
        KOC_ASSERT(v != nullptr && src != nullptr);
        return kstd_vector__constructCopy(base(v), base(src));
    }
    static int32_t getSize32(const V* v, int32_t* n) noexcept
    {
        KOC_ASSERT(v != nullptr);
        return kstd_vector__getSize32(base(v), n);
    }

    static int32_t newVector(V** out) noexcept
    {
        KOC_ASSERT(out != nullptr);
        KOC_RETURN_IF_FAILED(deleteVector(out));
        int32_t rc = 0;
        V* v = services::newObject<V>(&rc);
        if (v == nullptr) {
            return rc;
        }
        rc = construct(v, 0);
        if (rc < 0) {
            services::destroyObject(v);
            return rc;
        }
        *out = v;
        return 0;
    }
    static int32_t newClone(V** out, const V* src) noexcept
    {
        KOC_ASSERT(out != nullptr);
        if (src == nullptr) {
            return deleteVector(out);
        }
        if (*out == src) {
            return 0;  // already the clone of itself
        }
        KOC_RETURN_IF_FAILED(newVector(out));
        const int32_t rc = kstd_vector__assign(base(*out), base(src));
        if (rc < 0) {
            deleteVector(out);
        }
        return rc;
    }
    static int32_t deleteVector(V** out) noexcept
    {
        KOC_ASSERT(out != nullptr);
        if (*out == nullptr) {
            return 0;
        }
        const int32_t rc = kstd_vector__destruct(base(*out));
        services::destroyObject(*out);
        *out = nullptr;
        return rc;
    }
};

}  // namespace koc

// The element type table of a record type T, from its lifecycle functions.
#define KOC_DEFINE_ELEMENT_TABLE(T, constructFn, constructCopyFn, assignFn, destructFn)                 \
    template <>                                                                                         \
    struct koc::ElementTable<T> {                                                                       \
        static const kstd_elementTypeTable* get() noexcept                                              \
        {                                                                                               \
            static const kstd_elementTypeTable table = {                                                \
                [](void* e) -> int32_t { return constructFn(static_cast<T*>(e)); },                     \
                [](void* e, const void* s) -> int32_t {                                                 \
                    return constructCopyFn(static_cast<T*>(e), static_cast<const T*>(s));               \
                },                                                                                      \
                [](void* e, const void* s) -> int32_t {                                                 \
                    return assignFn(static_cast<T*>(e), static_cast<const T*>(s));                      \
                },                                                                                      \
                [](void* e) -> int32_t { return destructFn(static_cast<T*>(e)); },                      \
                ~static_cast<uintptr_t>(0)};                                                            \
            return &table;                                                                              \
        }                                                                                               \
    };
