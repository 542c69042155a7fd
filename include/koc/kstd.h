/* kstd.h: containers and integer rectangles.
 *
 * kstd_vector_ is the one generic vector; every typed vector (kstd_vector32s,
 * kstd_vector_koc_charSegmentLineResult, ...) is a one-member struct around it
 * with a generated family of typed functions. Elements are relocated bitwise
 * when storage grows, and constructed, copied, assigned and destructed
 * through the element type table given at construction (a null table means
 * plain values copied bytewise). A vector must be constructed before use and
 * destructed after. One vector must not be used by two threads at once. */
#ifndef KOC_KSTD_H
#define KOC_KSTD_H

#include "koc/koc_export.h"
#include "koc/koc_result.h"

KOC_EXTERN_C_BEGIN

/* ---- rectangles and pairs -------------------------------------------------- */

/* Integer rectangle; a null rectangle has width and height 0. */
typedef struct kstd_rect32 {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
} kstd_rect32;

typedef struct kstd_rectD {
    double x;
    double y;
    double width;
    double height;
} kstd_rectD;

typedef struct kstd_pair32 {
    int32_t first;
    int32_t second;
} kstd_pair32;

KOC_API int32_t kstd_rect32_init(kstd_rect32* rect, int32_t x, int32_t y, int32_t width, int32_t height) KOC_NOEXCEPT;
KOC_API int32_t kstd_rect32_initNull(kstd_rect32* rect) KOC_NOEXCEPT;
/* out = a ∩ b; a null rectangle when they share no pixel (touching edges do
 * not overlap). out may alias a or b. */
KOC_API int32_t kstd_rect32_intersect(kstd_rect32* out, const kstd_rect32* a, const kstd_rect32* b) KOC_NOEXCEPT;
/* Grows acc to the smallest box holding acc and other. A rectangle with no
 * area (width or height <= 0) encloses nothing: it is ignored on either side.
 * KOC_E_BAD_ARGUMENT (acc unchanged) when the box does not fit 32 bits. */
KOC_API int32_t kstd_rect32_encloseRect(kstd_rect32* acc, const kstd_rect32* other) KOC_NOEXCEPT;
/* *contains = 1 when inner (with area) lies wholly inside outer. */
KOC_API int32_t kstd_rect32_containsRect(const kstd_rect32* outer, const kstd_rect32* inner, int32_t* contains) KOC_NOEXCEPT;
/* Moves each edge inwards by its amount (negative amounts grow the rectangle).
 * A width or height that would become negative becomes 0; x and y still
 * move by left and top. KOC_E_BAD_ARGUMENT (rect unchanged) when the result
 * does not fit 32 bits. */
KOC_API int32_t kstd_rect32_trim(kstd_rect32* rect, int32_t left, int32_t top, int32_t right, int32_t bottom) KOC_NOEXCEPT;
/* Degenerate: width or height <= 0. Null: width and height both 0. */
KOC_API int32_t kstd_rect32_getIsDegen(const kstd_rect32* rect, int32_t* isDegen) KOC_NOEXCEPT;
KOC_API int32_t kstd_rect32_getIsNull(const kstd_rect32* rect, int32_t* isNull) KOC_NOEXCEPT;
KOC_API int32_t kstd_rect32_compareEqual(const kstd_rect32* a, const kstd_rect32* b, int32_t* isEqual) KOC_NOEXCEPT;
/* Smallest integer rectangle holding the double rectangle: floor of the low
 * edges, ceil of the high edges. Fails with KOC_E_BAD_ARGUMENT (out
 * unchanged) when an edge is not finite or does not fit 32 bits, or the width
 * or height is negative. */
KOC_API int32_t kstd_rect32_initMinEnclosingRect(kstd_rect32* out, const kstd_rectD* rect) KOC_NOEXCEPT;
KOC_API int32_t kstd_rectD_init(kstd_rectD* rect, double x, double y, double width, double height) KOC_NOEXCEPT;
KOC_API int32_t kstd_rectD_initNull(kstd_rectD* rect) KOC_NOEXCEPT;

/* ---- assertion ------------------------------------------------------------------ */

/* Reports a violated precondition (a caller bug, such as a null pointer)
 * through the handler installed with ksys_assert_setHandler; the default
 * handler prints the place to stderr and aborts. When a host's handler
 * returns, the function returns too and the caller goes on with a failure
 * code. */
KOC_API void kstd_assert_(int32_t line) KOC_NOEXCEPT;

/* ---- generic vector ------------------------------------------------------------- */

/* Lifecycle of one element, used by the generic vector. end is all bits set. */
typedef struct kstd_elementTypeTable {
    int32_t (*construct)(void* element);
    int32_t (*constructCopy)(void* element, const void* source);
    int32_t (*assign)(void* element, const void* source);
    int32_t (*destruct)(void* element);
    uintptr_t end;
} kstd_elementTypeTable;

/* Optional per-vector allocator. allocate stores a block of size bytes (or
 * null with a negative code); release frees a block. */
typedef struct kstd_memoryTable {
    int32_t (*allocate)(void* context, intptr_t size, void** block);
    void (*release)(void* context, void* block);
    void* context;
} kstd_memoryTable;

typedef struct kstd_vector_ {
    void* begin;
    intptr_t size;
    intptr_t capacity;
    intptr_t elementSize;
    const kstd_elementTypeTable* table; /* null: plain values */
    const kstd_memoryTable* mtable;     /* null: the process allocator */
} kstd_vector_;

KOC_API int32_t kstd_vector__constructWithVtable(kstd_vector_* v, intptr_t elementSize, const kstd_elementTypeTable* table, intptr_t n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__constructWithVtableWithMtable(kstd_vector_* v, intptr_t elementSize, const kstd_elementTypeTable* table, intptr_t n, const kstd_memoryTable* mtable) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__constructWithVtableUninit(kstd_vector_* v, intptr_t elementSize, const kstd_elementTypeTable* table, intptr_t n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__constructFillWithVtable(kstd_vector_* v, intptr_t elementSize, const kstd_elementTypeTable* table, intptr_t n, const void* value) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__constructFromBlockWithVtable(kstd_vector_* v, intptr_t elementSize, const kstd_elementTypeTable* table, const void* block, intptr_t n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__constructCopy(kstd_vector_* v, const kstd_vector_* src) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__assign(kstd_vector_* v, const kstd_vector_* src) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__assignElements(kstd_vector_* v, const void* block, intptr_t n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__destruct(kstd_vector_* v) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__resize(kstd_vector_* v, intptr_t n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__resizeUninit(kstd_vector_* v, intptr_t n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__resizeFill(kstd_vector_* v, intptr_t n, const void* value) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__reserve(kstd_vector_* v, intptr_t n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getSize(const kstd_vector_* v, intptr_t* n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getSize32(const kstd_vector_* v, int32_t* n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getCapacity(const kstd_vector_* v, intptr_t* n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getElementSize(const kstd_vector_* v, intptr_t* n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getBeginEnd(kstd_vector_* v, void** begin, void** end) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getBeginEndConst(const kstd_vector_* v, const void** begin, const void** end) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getBegin(kstd_vector_* v, void** begin) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getBeginConst(const kstd_vector_* v, const void** begin) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getBeginSize(kstd_vector_* v, void** begin, intptr_t* n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getBeginSizeConst(const kstd_vector_* v, const void** begin, intptr_t* n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getBeginSize32(kstd_vector_* v, void** begin, int32_t* n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getBeginSize32Const(const kstd_vector_* v, const void** begin, int32_t* n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getElement(kstd_vector_* v, intptr_t index, void** element) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getElementConst(const kstd_vector_* v, intptr_t index, const void** element) KOC_NOEXCEPT;
/* Cursor iteration: a null cursor moves to the first element, the last moves to null. */
KOC_API int32_t kstd_vector__getNextElement(kstd_vector_* v, void** cursor) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__getNextElementConst(const kstd_vector_* v, const void** cursor) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__insert(kstd_vector_* v, intptr_t index, const void* block, intptr_t n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__insertElement(kstd_vector_* v, intptr_t index, const void* value) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__erase(kstd_vector_* v, intptr_t index, intptr_t n) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__eraseElement(kstd_vector_* v, intptr_t index) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__pushBack(kstd_vector_* v, const void* value) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__popBack(kstd_vector_* v) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__clear(kstd_vector_* v) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__clearAndFreeMemory(kstd_vector_* v) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__append(kstd_vector_* v, const kstd_vector_* other) KOC_NOEXCEPT;
KOC_API int32_t kstd_vector__swap(kstd_vector_* a, kstd_vector_* b) KOC_NOEXCEPT;

/* ---- typed vector families --------------------------------------------------- */

/* Declares struct kstd_<family> { kstd_vector_ base; } over elements of type T
 * and its functions kstd_<family>_<operation>. Failures of a growing
 * operation leave the vector as it was. Index arguments out of range give
 * KOC_E_INDEX_OUT_OF_RANGE. new(out) deletes what *out holds first, then
 * stores a new empty vector; newClone(out, null) is delete(out); delete(out)
 * on a null *out returns 0. */
#define KSTD_DECLARE_VECTOR_FAMILY(family, T)                                                                   \
    typedef struct kstd_##family {                                                                              \
        kstd_vector_ base;                                                                                      \
    } kstd_##family;                                                                                            \
    KOC_API int32_t kstd_##family##_construct(kstd_##family* v, intptr_t n) KOC_NOEXCEPT;                       \
    KOC_API int32_t kstd_##family##_constructWithMtable(kstd_##family* v, intptr_t n, const kstd_memoryTable* m) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_constructEmpty(kstd_##family* v) KOC_NOEXCEPT;                              \
    KOC_API int32_t kstd_##family##_constructEmptyWithMtable(kstd_##family* v, const kstd_memoryTable* m) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_constructUninit(kstd_##family* v, intptr_t n) KOC_NOEXCEPT;                 \
    KOC_API int32_t kstd_##family##_constructFill(kstd_##family* v, intptr_t n, const T* value) KOC_NOEXCEPT;   \
    KOC_API int32_t kstd_##family##_constructFromBlock(kstd_##family* v, const T* block, intptr_t n) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_constructCopy(kstd_##family* v, const kstd_##family* src) KOC_NOEXCEPT;     \
    KOC_API int32_t kstd_##family##_assign(kstd_##family* v, const kstd_##family* src) KOC_NOEXCEPT;            \
    KOC_API int32_t kstd_##family##_assignElements(kstd_##family* v, const T* block, intptr_t n) KOC_NOEXCEPT;  \
    KOC_API int32_t kstd_##family##_destruct(kstd_##family* v) KOC_NOEXCEPT;                                    \
    KOC_API int32_t kstd_##family##_resize(kstd_##family* v, intptr_t n) KOC_NOEXCEPT;                          \
    KOC_API int32_t kstd_##family##_resizeUninit(kstd_##family* v, intptr_t n) KOC_NOEXCEPT;                    \
    KOC_API int32_t kstd_##family##_resizeFill(kstd_##family* v, intptr_t n, const T* value) KOC_NOEXCEPT;      \
    KOC_API int32_t kstd_##family##_reserve(kstd_##family* v, intptr_t n) KOC_NOEXCEPT;                         \
    KOC_API int32_t kstd_##family##_getSize(const kstd_##family* v, int32_t* n) KOC_NOEXCEPT;                   \
    KOC_API int32_t kstd_##family##_getSize32(const kstd_##family* v, int32_t* n) KOC_NOEXCEPT;                 \
    KOC_API int32_t kstd_##family##_getSizeIntPtr(const kstd_##family* v, intptr_t* n) KOC_NOEXCEPT;            \
    KOC_API int32_t kstd_##family##_getCapacity(const kstd_##family* v, intptr_t* n) KOC_NOEXCEPT;              \
    KOC_API int32_t kstd_##family##_getElementSize(const kstd_##family* v, intptr_t* n) KOC_NOEXCEPT;           \
    KOC_API int32_t kstd_##family##_getBeginEnd(kstd_##family* v, T** begin, T** end) KOC_NOEXCEPT;             \
    KOC_API int32_t kstd_##family##_getBeginEndConst(const kstd_##family* v, const T** begin, const T** end) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_getBegin(kstd_##family* v, T** begin) KOC_NOEXCEPT;                         \
    KOC_API int32_t kstd_##family##_getBeginConst(const kstd_##family* v, const T** begin) KOC_NOEXCEPT;        \
    KOC_API int32_t kstd_##family##_getBeginSize(kstd_##family* v, T** begin, int32_t* n) KOC_NOEXCEPT;         \
    KOC_API int32_t kstd_##family##_getBeginSize32(kstd_##family* v, T** begin, int32_t* n) KOC_NOEXCEPT;       \
    KOC_API int32_t kstd_##family##_getBeginSizeConst(const kstd_##family* v, const T** begin, int32_t* n) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_getBeginSize32Const(const kstd_##family* v, const T** begin, int32_t* n) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_getBeginSizeIntPtr(kstd_##family* v, T** begin, intptr_t* n) KOC_NOEXCEPT;  \
    KOC_API int32_t kstd_##family##_getBeginSizeIntPtrConst(const kstd_##family* v, const T** begin, intptr_t* n) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_getElement(kstd_##family* v, intptr_t index, T** element) KOC_NOEXCEPT;     \
    KOC_API int32_t kstd_##family##_getElementConst(const kstd_##family* v, intptr_t index, const T** element) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_getNextElement(kstd_##family* v, T** cursor) KOC_NOEXCEPT;                  \
    KOC_API int32_t kstd_##family##_getNextElementConst(const kstd_##family* v, const T** cursor) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_insert(kstd_##family* v, intptr_t index, const T* block, intptr_t n) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_insertElement(kstd_##family* v, intptr_t index, const T* value) KOC_NOEXCEPT; \
    KOC_API int32_t kstd_##family##_erase(kstd_##family* v, intptr_t index, intptr_t n) KOC_NOEXCEPT;           \
    KOC_API int32_t kstd_##family##_eraseElement(kstd_##family* v, intptr_t index) KOC_NOEXCEPT;                \
    KOC_API int32_t kstd_##family##_pushBack(kstd_##family* v, const T* value) KOC_NOEXCEPT;                    \
    KOC_API int32_t kstd_##family##_popBack(kstd_##family* v) KOC_NOEXCEPT;                                     \
    KOC_API int32_t kstd_##family##_clear(kstd_##family* v) KOC_NOEXCEPT;                                       \
    KOC_API int32_t kstd_##family##_clearAndFreeMemory(kstd_##family* v) KOC_NOEXCEPT;                          \
    KOC_API int32_t kstd_##family##_append(kstd_##family* v, const kstd_##family* other) KOC_NOEXCEPT;          \
    KOC_API int32_t kstd_##family##_swap(kstd_##family* a, kstd_##family* b) KOC_NOEXCEPT;                      \
    KOC_API int32_t kstd_##family##_new(kstd_##family** out) KOC_NOEXCEPT;                                      \
    KOC_API int32_t kstd_##family##_newClone(kstd_##family** out, const kstd_##family* src) KOC_NOEXCEPT;       \
    KOC_API int32_t kstd_##family##_delete(kstd_##family** out) KOC_NOEXCEPT;

/* Vectors of 32-bit signed integers (element, fragment-set and path indices;
 * -1 marks an absent entry) and vectors of them. */
KSTD_DECLARE_VECTOR_FAMILY(vector32s, int32_t)
KSTD_DECLARE_VECTOR_FAMILY(vector_vector32s, kstd_vector32s)

/* Sorts ascending and removes repeated values. */
KOC_API int32_t kstd_vector32s_sortUnique(kstd_vector32s* v) KOC_NOEXCEPT;
/* *isEqual = 1 when both hold the same values in the same order. */
KOC_API int32_t kstd_vector32s_compareEqual(const kstd_vector32s* a, const kstd_vector32s* b, int32_t* isEqual) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
