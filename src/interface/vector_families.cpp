// vector_families.cpp: every typed vector family and every type check,
// expanded from the type lists of koc_types.h.
#include <algorithm>

#include "interface/vector_family.hpp"
#include "koc/koc.h"

#define KOC_RECORD_TABLE(T) KOC_DEFINE_ELEMENT_TABLE(T, T##_construct, T##_constructCopy, T##_assign, T##_destruct)
KOC_RECORD_TABLE(koc_charSegmentResult)
KOC_RECORD_TABLE(koc_charSegmentParagraphResult)
KOC_RECORD_TABLE(koc_charSegmentLineResult)
KOC_RECORD_TABLE(koc_charSegmentPositionResult)
KOC_RECORD_TABLE(koc_charSegmentElementStats)
KOC_RECORD_TABLE(koc_charSegmentElementInfo)
KOC_RECORD_TABLE(koc_stringStats)
KOC_RECORD_TABLE(koc_lineExtractResult)
KOC_RECORD_TABLE(koc_charFragmentSet)
KOC_RECORD_TABLE(koc_charWindow_)
KOC_RECORD_TABLE(koc_charHypothesisTreeNode_)
#undef KOC_RECORD_TABLE
// Image handles: copies share pixels, as the handle's assign does.
KOC_DEFINE_ELEMENT_TABLE(kimg_image, kimg_image_construct, kimg_image_constructCopy, kimg_image_assign,
                         kimg_image_destruct)

// Vectors of vectors: the element is itself a typed vector, constructed empty.
#define KOC_VECTOR_TABLE(V)                                                                              \
    KOC_DEFINE_ELEMENT_TABLE(kstd_##V, kstd_##V##_constructEmpty, kstd_##V##_constructCopy, kstd_##V##_assign, \
                             kstd_##V##_destruct)
KOC_VECTOR_TABLE(vector32s)
KOC_VECTOR_TABLE(vector_koc_lineExtractResult)
KOC_VECTOR_TABLE(vector_koc_charHypothesisTreeNode_)
#undef KOC_VECTOR_TABLE

#define KOC_DEFINE_VECTOR_FAMILY(family, T)                                                                        \
    using Family_##family = koc::VectorFamily<kstd_##family, T>;                                                   \
    extern "C" {                                                                                                   \
    KOC_API int32_t kstd_##family##_construct(kstd_##family* v, intptr_t n) noexcept                               \
    { return Family_##family::construct(v, n); }                                                                   \
    KOC_API int32_t kstd_##family##_constructWithMtable(kstd_##family* v, intptr_t n, const kstd_memoryTable* m) noexcept \
    { return Family_##family::constructWithMtable(v, n, m); }                                                      \
    KOC_API int32_t kstd_##family##_constructEmpty(kstd_##family* v) noexcept                                      \
    { return Family_##family::construct(v, 0); }                                                                   \
    KOC_API int32_t kstd_##family##_constructEmptyWithMtable(kstd_##family* v, const kstd_memoryTable* m) noexcept \
    { return Family_##family::constructWithMtable(v, 0, m); }                                                      \
    KOC_API int32_t kstd_##family##_constructUninit(kstd_##family* v, intptr_t n) noexcept                         \
    { return Family_##family::constructUninit(v, n); }                                                             \
    KOC_API int32_t kstd_##family##_constructFill(kstd_##family* v, intptr_t n, const T* value) noexcept           \
    { return Family_##family::constructFill(v, n, value); }                                                        \
    KOC_API int32_t kstd_##family##_constructFromBlock(kstd_##family* v, const T* block, intptr_t n) noexcept      \
    { return Family_##family::constructFromBlock(v, block, n); }                                                   \
    KOC_API int32_t kstd_##family##_constructCopy(kstd_##family* v, const kstd_##family* src) noexcept             \
    { return Family_##family::constructCopy(v, src); }                                                             \
    KOC_API int32_t kstd_##family##_assign(kstd_##family* v, const kstd_##family* src) noexcept                    \
    { KOC_ASSERT(v && src); return kstd_vector__assign(&v->base, &src->base); }                                    \
    KOC_API int32_t kstd_##family##_assignElements(kstd_##family* v, const T* block, intptr_t n) noexcept          \
    { KOC_ASSERT(v); return kstd_vector__assignElements(&v->base, block, n); }                                     \
    KOC_API int32_t kstd_##family##_destruct(kstd_##family* v) noexcept                                            \
    { KOC_ASSERT(v); return kstd_vector__destruct(&v->base); }                                                     \
    KOC_API int32_t kstd_##family##_resize(kstd_##family* v, intptr_t n) noexcept                                  \
    { KOC_ASSERT(v); return kstd_vector__resize(&v->base, n); }                                                    \
    KOC_API int32_t kstd_##family##_resizeUninit(kstd_##family* v, intptr_t n) noexcept                            \
    { KOC_ASSERT(v); return kstd_vector__resizeUninit(&v->base, n); }                                              \
    KOC_API int32_t kstd_##family##_resizeFill(kstd_##family* v, intptr_t n, const T* value) noexcept              \
    { KOC_ASSERT(v); return kstd_vector__resizeFill(&v->base, n, value); }                                         \
    KOC_API int32_t kstd_##family##_reserve(kstd_##family* v, intptr_t n) noexcept                                 \
    { KOC_ASSERT(v); return kstd_vector__reserve(&v->base, n); }                                                   \
    KOC_API int32_t kstd_##family##_getSize(const kstd_##family* v, int32_t* n) noexcept                           \
    { return Family_##family::getSize32(v, n); }                                                                   \
    KOC_API int32_t kstd_##family##_getSize32(const kstd_##family* v, int32_t* n) noexcept                         \
    { return Family_##family::getSize32(v, n); }                                                                   \
    KOC_API int32_t kstd_##family##_getSizeIntPtr(const kstd_##family* v, intptr_t* n) noexcept                    \
    { KOC_ASSERT(v); return kstd_vector__getSize(&v->base, n); }                                                   \
    KOC_API int32_t kstd_##family##_getCapacity(const kstd_##family* v, intptr_t* n) noexcept                      \
    { KOC_ASSERT(v); return kstd_vector__getCapacity(&v->base, n); }                                               \
    KOC_API int32_t kstd_##family##_getElementSize(const kstd_##family* v, intptr_t* n) noexcept                   \
    { KOC_ASSERT(v); return kstd_vector__getElementSize(&v->base, n); }                                            \
    KOC_API int32_t kstd_##family##_getBeginEnd(kstd_##family* v, T** b, T** e) noexcept                           \
    { KOC_ASSERT(v); return kstd_vector__getBeginEnd(&v->base, reinterpret_cast<void**>(b), reinterpret_cast<void**>(e)); } \
    KOC_API int32_t kstd_##family##_getBeginEndConst(const kstd_##family* v, const T** b, const T** e) noexcept    \
    { KOC_ASSERT(v); return kstd_vector__getBeginEndConst(&v->base, reinterpret_cast<const void**>(b), reinterpret_cast<const void**>(e)); } \
    KOC_API int32_t kstd_##family##_getBegin(kstd_##family* v, T** b) noexcept                                     \
    { KOC_ASSERT(v); return kstd_vector__getBegin(&v->base, reinterpret_cast<void**>(b)); }                        \
    KOC_API int32_t kstd_##family##_getBeginConst(const kstd_##family* v, const T** b) noexcept                    \
    { KOC_ASSERT(v); return kstd_vector__getBeginConst(&v->base, reinterpret_cast<const void**>(b)); }            \
    KOC_API int32_t kstd_##family##_getBeginSize(kstd_##family* v, T** b, int32_t* n) noexcept                     \
    { KOC_ASSERT(v); return kstd_vector__getBeginSize32(&v->base, reinterpret_cast<void**>(b), n); }               \
    KOC_API int32_t kstd_##family##_getBeginSize32(kstd_##family* v, T** b, int32_t* n) noexcept                   \
    { KOC_ASSERT(v); return kstd_vector__getBeginSize32(&v->base, reinterpret_cast<void**>(b), n); }               \
    KOC_API int32_t kstd_##family##_getBeginSizeConst(const kstd_##family* v, const T** b, int32_t* n) noexcept    \
    { KOC_ASSERT(v); return kstd_vector__getBeginSize32Const(&v->base, reinterpret_cast<const void**>(b), n); }    \
    KOC_API int32_t kstd_##family##_getBeginSize32Const(const kstd_##family* v, const T** b, int32_t* n) noexcept  \
    { KOC_ASSERT(v); return kstd_vector__getBeginSize32Const(&v->base, reinterpret_cast<const void**>(b), n); }    \
    KOC_API int32_t kstd_##family##_getBeginSizeIntPtr(kstd_##family* v, T** b, intptr_t* n) noexcept              \
    { KOC_ASSERT(v); return kstd_vector__getBeginSize(&v->base, reinterpret_cast<void**>(b), n); }                 \
    KOC_API int32_t kstd_##family##_getBeginSizeIntPtrConst(const kstd_##family* v, const T** b, intptr_t* n) noexcept \
    { KOC_ASSERT(v); return kstd_vector__getBeginSizeConst(&v->base, reinterpret_cast<const void**>(b), n); }      \
    KOC_API int32_t kstd_##family##_getElement(kstd_##family* v, intptr_t i, T** e) noexcept                       \
    { KOC_ASSERT(v); return kstd_vector__getElement(&v->base, i, reinterpret_cast<void**>(e)); }                   \
    KOC_API int32_t kstd_##family##_getElementConst(const kstd_##family* v, intptr_t i, const T** e) noexcept      \
    { KOC_ASSERT(v); return kstd_vector__getElementConst(&v->base, i, reinterpret_cast<const void**>(e)); }        \
    KOC_API int32_t kstd_##family##_getNextElement(kstd_##family* v, T** c) noexcept                               \
    { KOC_ASSERT(v); return kstd_vector__getNextElement(&v->base, reinterpret_cast<void**>(c)); }                  \
    KOC_API int32_t kstd_##family##_getNextElementConst(const kstd_##family* v, const T** c) noexcept              \
    { KOC_ASSERT(v); return kstd_vector__getNextElementConst(&v->base, reinterpret_cast<const void**>(c)); }       \
    KOC_API int32_t kstd_##family##_insert(kstd_##family* v, intptr_t i, const T* block, intptr_t n) noexcept      \
    { KOC_ASSERT(v); return kstd_vector__insert(&v->base, i, block, n); }                                          \
    KOC_API int32_t kstd_##family##_insertElement(kstd_##family* v, intptr_t i, const T* value) noexcept           \
    { KOC_ASSERT(v); return kstd_vector__insertElement(&v->base, i, value); }                                      \
    KOC_API int32_t kstd_##family##_erase(kstd_##family* v, intptr_t i, intptr_t n) noexcept                       \
    { KOC_ASSERT(v); return kstd_vector__erase(&v->base, i, n); }                                                  \
    KOC_API int32_t kstd_##family##_eraseElement(kstd_##family* v, intptr_t i) noexcept                            \
    { KOC_ASSERT(v); return kstd_vector__eraseElement(&v->base, i); }                                              \
    KOC_API int32_t kstd_##family##_pushBack(kstd_##family* v, const T* value) noexcept                            \
    { KOC_ASSERT(v); return kstd_vector__pushBack(&v->base, value); }                                              \
    KOC_API int32_t kstd_##family##_popBack(kstd_##family* v) noexcept                                             \
    { KOC_ASSERT(v); return kstd_vector__popBack(&v->base); }                                                      \
    KOC_API int32_t kstd_##family##_clear(kstd_##family* v) noexcept                                               \
    { KOC_ASSERT(v); return kstd_vector__clear(&v->base); }                                                        \
    KOC_API int32_t kstd_##family##_clearAndFreeMemory(kstd_##family* v) noexcept                                  \
    { KOC_ASSERT(v); return kstd_vector__clearAndFreeMemory(&v->base); }                                           \
    KOC_API int32_t kstd_##family##_append(kstd_##family* v, const kstd_##family* o) noexcept                      \
    { KOC_ASSERT(v && o); return kstd_vector__append(&v->base, &o->base); }                                        \
    KOC_API int32_t kstd_##family##_swap(kstd_##family* a, kstd_##family* b) noexcept                              \
    { KOC_ASSERT(a && b); return kstd_vector__swap(&a->base, &b->base); }                                          \
    KOC_API int32_t kstd_##family##_new(kstd_##family** out) noexcept                                              \
    { return Family_##family::newVector(out); }                                                                    \
    KOC_API int32_t kstd_##family##_newClone(kstd_##family** out, const kstd_##family* src) noexcept               \
    { return Family_##family::newClone(out, src); }                                                                \
    KOC_API int32_t kstd_##family##_delete(kstd_##family** out) noexcept                                           \
    { return Family_##family::deleteVector(out); }                                                                 \
    }

KOC_FOR_EACH_VECTOR_FAMILY(KOC_DEFINE_VECTOR_FAMILY)

#define KOC_DEFINE_TYPE_CHECKS(T)                                                           \
    extern "C" {                                                                            \
    KOC_API int32_t ksys_typeCheck_##T(const T*) noexcept { return 0; }                     \
    KOC_API int32_t ksys_typeCheckPtr_##T(T* const*) noexcept { return 0; }                 \
    KOC_API int32_t ksys_typeCheckFunc_##T(int32_t (*)(T*)) noexcept { return 0; }          \
    KOC_API int32_t ksys_typeCheckFuncPtr_##T(int32_t (*)(T**)) noexcept { return 0; }      \
    }
#define KOC_DEFINE_VECTOR_TYPE_CHECKS(family, T) KOC_DEFINE_TYPE_CHECKS(kstd_##family)
KOC_FOR_EACH_RECORD_TYPE(KOC_DEFINE_TYPE_CHECKS)
KOC_FOR_EACH_VECTOR_FAMILY(KOC_DEFINE_VECTOR_TYPE_CHECKS)

extern "C" {

KOC_API int32_t kstd_vector32s_sortUnique(kstd_vector32s* v) noexcept
{
    KOC_ASSERT(v != nullptr);
    int32_t* begin = static_cast<int32_t*>(v->base.begin);
    int32_t* end = begin + v->base.size;
    std::sort(begin, end);
    return kstd_vector__resize(&v->base, std::unique(begin, end) - begin);
}

KOC_API int32_t kstd_vector32s_compareEqual(const kstd_vector32s* a, const kstd_vector32s* b, int32_t* isEqual) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr && isEqual != nullptr);
    const int32_t* pa = static_cast<const int32_t*>(a->base.begin);
    const int32_t* pb = static_cast<const int32_t*>(b->base.begin);
    *isEqual = a->base.size == b->base.size && std::equal(pa, pa + a->base.size, pb) ? 1 : 0;
    return 0;
}

}  // extern "C"
