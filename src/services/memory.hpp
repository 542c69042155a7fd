// memory.hpp: the one allocator behind every record, vector and image, so a
// host (or a test) can replace it or make it fail on demand.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "koc/ksys.h"

namespace koc::services {

// Allocates through the process allocator; throws std::bad_alloc on failure
// so standard containers can use it inside a guarded body.
template <class T>
struct Allocator {
    using value_type = T;
    Allocator() noexcept = default;
    template <class U>
    Allocator(const Allocator<U>&) noexcept {}

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T)) {
            throw std::bad_alloc();
        }
        void* block = nullptr;
        if (ksys_memory_alloc_internal(static_cast<intptr_t>(n * sizeof(T)), &block) < 0) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t) noexcept
    {
        void* block = p;
        ksys_memory_free_internal(&block);
    }
    template <class U>
    bool operator==(const Allocator<U>&) const noexcept { return true; }
};

template <class T>
using Vector = std::vector<T, Allocator<T>>;

// Allocates and constructs one object through the process allocator; null
// with *rc set on failure. The object is released with destroyObject.
template <class T, class... Args>
T* newObject(int32_t* rc, Args&&... args) noexcept
{
    void* block = nullptr;
    *rc = ksys_memory_alloc_internal(static_cast<intptr_t>(sizeof(T)), &block);
    if (*rc < 0) {
        return nullptr;
    }
    return ::new (block) T(std::forward<Args>(args)...);
}

template <class T>
void destroyObject(T* object) noexcept
{
    if (object != nullptr) {
        object->~T();
        void* block = object;
        ksys_memory_free_internal(&block);
    }
}

}  // namespace koc::services
