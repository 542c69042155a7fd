// graphics_list.hpp: the graphics list that diagnostic drawing fills: a
// growable list of coloured lines and points in client coordinates. Only
// what the diagnostic hook needs; nothing draws into it yet.
#pragma once

#include <cstdint>

#include "services/memory.hpp"

namespace koc::services {

struct GraphicItem {
    int32_t kind;    // 1 line, 2 point
    uint32_t colour; // 0xRRGGBB
    double x0, y0, x1, y1;
};

struct GraphicsStore {
    Vector<GraphicItem> items;
};

struct kgr_list {
    GraphicsStore* store = nullptr;
};

// Gives the list its (empty) storage; the allocator's code on failure, the
// list unchanged then.
int32_t kgr_list_construct(kgr_list* list) noexcept;
int32_t kgr_list_destruct(kgr_list* list) noexcept;

}  // namespace koc::services
