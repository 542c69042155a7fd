// elements.hpp: element records for tests of the stages that take a list of
// elements (single-line selection, the line splitter).
#pragma once

#include <array>
#include <cstdint>

#include "koc/koc.h"

namespace test {

using Q = std::array<int32_t, 4>;
inline Q q(const kstd_rect32& r) { return {r.x, r.y, r.width, r.height}; }

// A constructed element with the given box, half of it inked.
inline koc_charSegmentElementInfo element(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t flags = 0)
{
    koc_charSegmentElementInfo e;
    koc_charSegmentElementInfo_construct(&e);
    e.rect = kstd_rect32{x, y, w, h};
    e.area = w * h / 2;
    e.flags = flags;
    return e;
}

}  // namespace test
