// vector.cpp: the generic vector under every typed vector.
//
// Elements are relocated bitwise (memcpy/memmove) when storage grows or a
// range shifts: every record of the library is a plain C struct whose heap
// members are reached through pointers and that never points into itself,
// so a bitwise move keeps it valid. Element construction, copying,
// assignment and destruction go through the element type table. Growing
// operations that fail leave the vector as it was.
#include <algorithm>
#include <cstring>

#include "services/guard.hpp"
#include "koc/ksys.h"

namespace {

char* elementAt(const kstd_vector_* v, intptr_t i) noexcept
{
    return static_cast<char*>(v->begin) + i * v->elementSize;
}

bool pointsInside(const kstd_vector_* v, const void* p) noexcept
{
    if (v->begin == nullptr || p == nullptr) {
        return false;
    }
    const char* c = static_cast<const char*>(p);
    const char* b = static_cast<const char*>(v->begin);
    return c >= b && c < b + v->capacity * v->elementSize;
}

int32_t allocateBlock(const kstd_vector_* v, intptr_t bytes, void** block) noexcept
{
    *block = nullptr;
    if (v->mtable != nullptr) {
        const int32_t rc = v->mtable->allocate(v->mtable->context, bytes, block);
        if (rc < 0 || *block == nullptr) {
            *block = nullptr;
            return rc < 0 ? rc : KOC_E_OUT_OF_MEMORY;
        }
        return 0;
    }
    return ksys_memory_alloc_internal(bytes, block);
}

void releaseBlock(const kstd_vector_* v, void* block) noexcept
{
    if (block == nullptr) {
        return;
    }
    if (v->mtable != nullptr) {
        v->mtable->release(v->mtable->context, block);
    } else {
        ksys_memory_free_internal(&block);
    }
}

// Destructs [first, first+n); goes on past a failing element so nothing
// leaks, and reports the first failure.
int32_t destructRange(kstd_vector_* v, intptr_t first, intptr_t n) noexcept
{
    int32_t result = 0;
    if (v->table == nullptr) {
        return 0;
    }
    for (intptr_t k = 0; k < n; ++k) {
        const int32_t rc = v->table->destruct(elementAt(v, first + k));
        if (rc < 0 && result == 0) {
            result = rc;
        }
    }
    return result;
}

int32_t constructRange(kstd_vector_* v, intptr_t first, intptr_t n) noexcept
{
    if (v->table == nullptr) {
        std::memset(elementAt(v, first), 0, static_cast<size_t>(n * v->elementSize));
        return 0;
    }
    for (intptr_t k = 0; k < n; ++k) {
        const int32_t rc = v->table->construct(elementAt(v, first + k));
        if (rc < 0) {
            destructRange(v, first, k);
            return rc;
        }
    }
    return 0;
}

// Copy-constructs n elements at first from source; step is the distance in
// elements between consecutive sources (0 repeats one value).
int32_t copyConstructRange(kstd_vector_* v, intptr_t first, const void* source, intptr_t n, intptr_t step) noexcept
{
    const char* src = static_cast<const char*>(source);
    if (v->table == nullptr) {
        if (step == 1) {
            std::memcpy(elementAt(v, first), src, static_cast<size_t>(n * v->elementSize));
        } else {
            for (intptr_t k = 0; k < n; ++k) {
                std::memcpy(elementAt(v, first + k), src, static_cast<size_t>(v->elementSize));
            }
        }
        return 0;
    }
    for (intptr_t k = 0; k < n; ++k) {
        const int32_t rc = v->table->constructCopy(elementAt(v, first + k), src + k * step * v->elementSize);
        if (rc < 0) {
            destructRange(v, first, k);
            return rc;
        }
    }
    return 0;
}

int32_t reallocate(kstd_vector_* v, intptr_t capacity) noexcept
{
    if (capacity > PTRDIFF_MAX / std::max<intptr_t>(v->elementSize, 1)) {
        return KOC_E_OUT_OF_MEMORY;
    }
    void* block = nullptr;
    KOC_RETURN_IF_FAILED(allocateBlock(v, capacity * v->elementSize, &block));
    if (v->size > 0) {
        std::memcpy(block, v->begin, static_cast<size_t>(v->size * v->elementSize));
    }
    releaseBlock(v, v->begin);
    v->begin = block;
    v->capacity = capacity;
    return 0;
}

// Room for at least n elements, growing geometrically so that repeated
// pushBack stays amortised constant.
int32_t ensureCapacity(kstd_vector_* v, intptr_t n) noexcept
{
    if (n <= v->capacity) {
        return 0;
    }
    const intptr_t grown = v->capacity > PTRDIFF_MAX / 2 ? n : v->capacity * 2;
    return reallocate(v, std::max<intptr_t>({n, grown, 4}));
}

void initEmpty(kstd_vector_* v, intptr_t elementSize, const kstd_elementTypeTable* table,
               const kstd_memoryTable* mtable) noexcept
{
    v->begin = nullptr;
    v->size = 0;
    v->capacity = 0;
    v->elementSize = elementSize;
    v->table = table;
    v->mtable = mtable;
}

void freeStorage(kstd_vector_* v) noexcept
{
    releaseBlock(v, v->begin);
    v->begin = nullptr;
    v->capacity = 0;
}

// A private copy of elements that may live inside v's own storage, for the
// operations that would invalidate them by growing.
struct Staging {
    kstd_vector_ copy{};
    bool used = false;
    ~Staging()
    {
        if (used) {
            kstd_vector__destruct(&copy);
        }
    }
};

int32_t stageIfInside(kstd_vector_* v, const void** block, intptr_t n, Staging* staging) noexcept
{
    if (!pointsInside(v, *block)) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(
        kstd_vector__constructFromBlockWithVtable(&staging->copy, v->elementSize, v->table, *block, n));
    staging->used = true;
    *block = staging->copy.begin;
    return 0;
}

int32_t checkSize(intptr_t n) noexcept
{
    return n < 0 ? KOC_E_INDEX_OUT_OF_RANGE : 0;
}

}  // namespace

extern "C" {

KOC_API int32_t kstd_vector__constructWithVtableWithMtable(kstd_vector_* v, intptr_t elementSize,
                                                           const kstd_elementTypeTable* table, intptr_t n,
                                                           const kstd_memoryTable* mtable) noexcept
{
    KOC_ASSERT(v != nullptr && elementSize > 0);
    initEmpty(v, elementSize, table, mtable);
    KOC_RETURN_IF_FAILED(checkSize(n));
    if (n == 0) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(reallocate(v, n));
    const int32_t rc = constructRange(v, 0, n);
    if (rc < 0) {
        freeStorage(v);
        return rc;
    }
    v->size = n;
    return 0;
}

KOC_API int32_t kstd_vector__constructWithVtable(kstd_vector_* v, intptr_t elementSize,
                                                 const kstd_elementTypeTable* table, intptr_t n) noexcept
{
    return kstd_vector__constructWithVtableWithMtable(v, elementSize, table, n, nullptr);
}

// Records are never left raw, so "uninitialised" construction constructs
// them anyway; plain values are zeroed, which costs little and keeps
// sanitizers quiet.
KOC_API int32_t kstd_vector__constructWithVtableUninit(kstd_vector_* v, intptr_t elementSize,
                                                       const kstd_elementTypeTable* table, intptr_t n) noexcept
{
    return kstd_vector__constructWithVtableWithMtable(v, elementSize, table, n, nullptr);
}

KOC_API int32_t kstd_vector__constructFillWithVtable(kstd_vector_* v, intptr_t elementSize,
                                                     const kstd_elementTypeTable* table, intptr_t n,
                                                     const void* value) noexcept
{
    KOC_ASSERT(v != nullptr && elementSize > 0 && value != nullptr);
    initEmpty(v, elementSize, table, nullptr);
    KOC_RETURN_IF_FAILED(checkSize(n));
    if (n == 0) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(reallocate(v, n));
    const int32_t rc = copyConstructRange(v, 0, value, n, 0);
    if (rc < 0) {
        freeStorage(v);
        return rc;
    }
    v->size = n;
    return 0;
}

KOC_API int32_t kstd_vector__constructFromBlockWithVtable(kstd_vector_* v, intptr_t elementSize,
                                                          const kstd_elementTypeTable* table, const void* block,
                                                          intptr_t n) noexcept
{
    KOC_ASSERT(v != nullptr && elementSize > 0 && (block != nullptr || n == 0));
    initEmpty(v, elementSize, table, nullptr);
    KOC_RETURN_IF_FAILED(checkSize(n));
    if (n == 0) {
        return 0;
    }
    KOC_RETURN_IF_FAILED(reallocate(v, n));
    const int32_t rc = copyConstructRange(v, 0, block, n, 1);
    if (rc < 0) {
        freeStorage(v);
        return rc;
    }
    v->size = n;
    return 0;
}

KOC_API int32_t kstd_vector__constructCopy(kstd_vector_* v, const kstd_vector_* src) noexcept
{
    KOC_ASSERT(v != nullptr && src != nullptr && v != src);
    initEmpty(v, src->elementSize, src->table, src->mtable);
    const int32_t rc = kstd_vector__assign(v, src);
    if (rc < 0) {
        kstd_vector__destruct(v);
    }
    return rc;
}

KOC_API int32_t kstd_vector__assignElements(kstd_vector_* v, const void* block, intptr_t n) noexcept
{
    KOC_ASSERT(v != nullptr && (block != nullptr || n == 0));
    KOC_RETURN_IF_FAILED(checkSize(n));
    if (block == v->begin && n == v->size) {
        return 0;
    }
    Staging staging;
    KOC_RETURN_IF_FAILED(stageIfInside(v, &block, n, &staging));
    KOC_RETURN_IF_FAILED(ensureCapacity(v, n));
    const char* src = static_cast<const char*>(block);
    const intptr_t common = std::min(n, v->size);
    if (v->table == nullptr) {
        if (n > 0) {
            std::memcpy(v->begin, src, static_cast<size_t>(n * v->elementSize));
        }
        v->size = n;
        return 0;
    }
    for (intptr_t k = 0; k < common; ++k) {
        KOC_RETURN_IF_FAILED(v->table->assign(elementAt(v, k), src + k * v->elementSize));
    }
    if (n > v->size) {
        KOC_RETURN_IF_FAILED(copyConstructRange(v, v->size, src + v->size * v->elementSize, n - v->size, 1));
        v->size = n;
        return 0;
    }
    const int32_t rc = destructRange(v, n, v->size - n);
    v->size = n;
    return rc;
}

KOC_API int32_t kstd_vector__assign(kstd_vector_* v, const kstd_vector_* src) noexcept
{
    KOC_ASSERT(v != nullptr && src != nullptr);
    if (v == src) {
        return 0;
    }
    KOC_ASSERT(v->elementSize == src->elementSize);
    return kstd_vector__assignElements(v, src->begin, src->size);
}

KOC_API int32_t kstd_vector__destruct(kstd_vector_* v) noexcept
{
    KOC_ASSERT(v != nullptr);
    const int32_t rc = destructRange(v, 0, v->size);
    v->size = 0;
    freeStorage(v);
    return rc;
}

KOC_API int32_t kstd_vector__resize(kstd_vector_* v, intptr_t n) noexcept
{
    KOC_ASSERT(v != nullptr);
    KOC_RETURN_IF_FAILED(checkSize(n));
    if (n <= v->size) {
        const int32_t rc = destructRange(v, n, v->size - n);
        v->size = n;
        return rc;
    }
    KOC_RETURN_IF_FAILED(ensureCapacity(v, n));
    KOC_RETURN_IF_FAILED(constructRange(v, v->size, n - v->size));
    v->size = n;
    return 0;
}

KOC_API int32_t kstd_vector__resizeUninit(kstd_vector_* v, intptr_t n) noexcept
{
    return kstd_vector__resize(v, n);
}

KOC_API int32_t kstd_vector__resizeFill(kstd_vector_* v, intptr_t n, const void* value) noexcept
{
    KOC_ASSERT(v != nullptr && value != nullptr);
    KOC_RETURN_IF_FAILED(checkSize(n));
    if (n <= v->size) {
        const int32_t rc = destructRange(v, n, v->size - n);
        v->size = n;
        return rc;
    }
    Staging staging;
    KOC_RETURN_IF_FAILED(stageIfInside(v, &value, 1, &staging));
    KOC_RETURN_IF_FAILED(ensureCapacity(v, n));
    KOC_RETURN_IF_FAILED(copyConstructRange(v, v->size, value, n - v->size, 0));
    v->size = n;
    return 0;
}

KOC_API int32_t kstd_vector__reserve(kstd_vector_* v, intptr_t n) noexcept
{
    KOC_ASSERT(v != nullptr);
    KOC_RETURN_IF_FAILED(checkSize(n));
    return n > v->capacity ? reallocate(v, n) : 0;
}

KOC_API int32_t kstd_vector__getSize(const kstd_vector_* v, intptr_t* n) noexcept
{
    KOC_ASSERT(v != nullptr && n != nullptr);
    *n = v->size;
    return 0;
}

KOC_API int32_t kstd_vector__getSize32(const kstd_vector_* v, int32_t* n) noexcept
{
    KOC_ASSERT(v != nullptr && n != nullptr);
    if (v->size > INT32_MAX) {
        return KOC_E_INDEX_OUT_OF_RANGE;
    }
    *n = static_cast<int32_t>(v->size);
    return 0;
}

KOC_API int32_t kstd_vector__getCapacity(const kstd_vector_* v, intptr_t* n) noexcept
{
    KOC_ASSERT(v != nullptr && n != nullptr);
    *n = v->capacity;
    return 0;
}

KOC_API int32_t kstd_vector__getElementSize(const kstd_vector_* v, intptr_t* n) noexcept
{
    KOC_ASSERT(v != nullptr && n != nullptr);
    *n = v->elementSize;
    return 0;
}

KOC_API int32_t kstd_vector__getBeginEnd(kstd_vector_* v, void** begin, void** end) noexcept
{
    KOC_ASSERT(v != nullptr && begin != nullptr && end != nullptr);
    *begin = v->begin;
    *end = v->begin != nullptr ? elementAt(v, v->size) : nullptr;
    return 0;
}

KOC_API int32_t kstd_vector__getBeginEndConst(const kstd_vector_* v, const void** begin, const void** end) noexcept
{
    KOC_ASSERT(v != nullptr && begin != nullptr && end != nullptr);
    *begin = v->begin;
    *end = v->begin != nullptr ? elementAt(v, v->size) : nullptr;
    return 0;
}

KOC_API int32_t kstd_vector__getBegin(kstd_vector_* v, void** begin) noexcept
{
    KOC_ASSERT(v != nullptr && begin != nullptr);
    *begin = v->begin;
    return 0;
}

KOC_API int32_t kstd_vector__getBeginConst(const kstd_vector_* v, const void** begin) noexcept
{
    KOC_ASSERT(v != nullptr && begin != nullptr);
    *begin = v->begin;
    return 0;
}

KOC_API int32_t kstd_vector__getBeginSize(kstd_vector_* v, void** begin, intptr_t* n) noexcept
{
    KOC_ASSERT(v != nullptr && begin != nullptr && n != nullptr);
    *begin = v->begin;
    *n = v->size;
    return 0;
}

KOC_API int32_t kstd_vector__getBeginSizeConst(const kstd_vector_* v, const void** begin, intptr_t* n) noexcept
{
    KOC_ASSERT(v != nullptr && begin != nullptr && n != nullptr);
    *begin = v->begin;
    *n = v->size;
    return 0;
}

KOC_API int32_t kstd_vector__getBeginSize32(kstd_vector_* v, void** begin, int32_t* n) noexcept
{
    KOC_ASSERT(begin != nullptr);
    KOC_RETURN_IF_FAILED(kstd_vector__getSize32(v, n));
    *begin = v->begin;
    return 0;
}

KOC_API int32_t kstd_vector__getBeginSize32Const(const kstd_vector_* v, const void** begin, int32_t* n) noexcept
{
    KOC_ASSERT(begin != nullptr);
    KOC_RETURN_IF_FAILED(kstd_vector__getSize32(v, n));
    *begin = v->begin;
    return 0;
}

KOC_API int32_t kstd_vector__getElement(kstd_vector_* v, intptr_t index, void** element) noexcept
{
    KOC_ASSERT(v != nullptr && element != nullptr);
    if (index < 0 || index >= v->size) {
        return KOC_E_INDEX_OUT_OF_RANGE;
    }
    *element = elementAt(v, index);
    return 0;
}

KOC_API int32_t kstd_vector__getElementConst(const kstd_vector_* v, intptr_t index, const void** element) noexcept
{
    KOC_ASSERT(v != nullptr && element != nullptr);
    if (index < 0 || index >= v->size) {
        return KOC_E_INDEX_OUT_OF_RANGE;
    }
    *element = elementAt(v, index);
    return 0;
}

KOC_API int32_t kstd_vector__getNextElementConst(const kstd_vector_* v, const void** cursor) noexcept
{
    KOC_ASSERT(v != nullptr && cursor != nullptr);
    if (v->size == 0) {
        *cursor = nullptr;
        return 0;
    }
    if (*cursor == nullptr) {
        *cursor = v->begin;
        return 0;
    }
    const char* next = static_cast<const char*>(*cursor) + v->elementSize;
    if (next < static_cast<const char*>(v->begin) || next >= elementAt(v, v->size)) {
        *cursor = nullptr;
        return 0;
    }
    *cursor = next;
    return 0;
}

KOC_API int32_t kstd_vector__getNextElement(kstd_vector_* v, void** cursor) noexcept
{
    KOC_ASSERT(cursor != nullptr);
    const void* c = *cursor;
    KOC_RETURN_IF_FAILED(kstd_vector__getNextElementConst(v, &c));
    *cursor = const_cast<void*>(c);
    return 0;
}

KOC_API int32_t kstd_vector__insert(kstd_vector_* v, intptr_t index, const void* block, intptr_t n) noexcept
{
    KOC_ASSERT(v != nullptr && (block != nullptr || n == 0));
    if (index < 0 || index > v->size || n < 0) {
        return KOC_E_INDEX_OUT_OF_RANGE;
    }
    if (n == 0) {
        return 0;
    }
    Staging staging;
    KOC_RETURN_IF_FAILED(stageIfInside(v, &block, n, &staging));
    KOC_RETURN_IF_FAILED(ensureCapacity(v, v->size + n));
    const intptr_t tail = v->size - index;
    const size_t tailBytes = static_cast<size_t>(tail * v->elementSize);
    if (tail > 0) {
        std::memmove(elementAt(v, index + n), elementAt(v, index), tailBytes);
    }
    const int32_t rc = copyConstructRange(v, index, block, n, 1);
    if (rc < 0) {
        if (tail > 0) {
            std::memmove(elementAt(v, index), elementAt(v, index + n), tailBytes);
        }
        return rc;
    }
    v->size += n;
    return 0;
}

KOC_API int32_t kstd_vector__insertElement(kstd_vector_* v, intptr_t index, const void* value) noexcept
{
    KOC_ASSERT(value != nullptr);
    return kstd_vector__insert(v, index, value, 1);
}

KOC_API int32_t kstd_vector__erase(kstd_vector_* v, intptr_t index, intptr_t n) noexcept
{
    KOC_ASSERT(v != nullptr);
    if (index < 0 || n < 0 || index > v->size || n > v->size - index) {
        return KOC_E_INDEX_OUT_OF_RANGE;
    }
    const int32_t rc = destructRange(v, index, n);
    const intptr_t tail = v->size - index - n;
    if (tail > 0) {
        std::memmove(elementAt(v, index), elementAt(v, index + n), static_cast<size_t>(tail * v->elementSize));
    }
    v->size -= n;
    return rc;
}

KOC_API int32_t kstd_vector__eraseElement(kstd_vector_* v, intptr_t index) noexcept
{
    return kstd_vector__erase(v, index, 1);
}

KOC_API int32_t kstd_vector__pushBack(kstd_vector_* v, const void* value) noexcept
{
    KOC_ASSERT(v != nullptr && value != nullptr);
    return kstd_vector__insert(v, v->size, value, 1);
}

KOC_API int32_t kstd_vector__popBack(kstd_vector_* v) noexcept
{
    KOC_ASSERT(v != nullptr);
    if (v->size == 0) {
        return KOC_E_INDEX_OUT_OF_RANGE;
    }
    return kstd_vector__erase(v, v->size - 1, 1);
}

KOC_API int32_t kstd_vector__clear(kstd_vector_* v) noexcept
{
    KOC_ASSERT(v != nullptr);
    const int32_t rc = destructRange(v, 0, v->size);
    v->size = 0;
    return rc;
}

KOC_API int32_t kstd_vector__clearAndFreeMemory(kstd_vector_* v) noexcept
{
    KOC_ASSERT(v != nullptr);
    const int32_t rc = kstd_vector__clear(v);
    freeStorage(v);
    return rc;
}

KOC_API int32_t kstd_vector__append(kstd_vector_* v, const kstd_vector_* other) noexcept
{
    KOC_ASSERT(v != nullptr && other != nullptr);
    KOC_ASSERT(v->elementSize == other->elementSize);
    return kstd_vector__insert(v, v->size, other->begin, other->size);
}

KOC_API int32_t kstd_vector__swap(kstd_vector_* a, kstd_vector_* b) noexcept
{
    KOC_ASSERT(a != nullptr && b != nullptr);
    KOC_ASSERT(a->elementSize == b->elementSize);
    std::swap(*a, *b);
    return 0;
}

}  // extern "C"
