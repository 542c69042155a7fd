// elements.hpp: element records for tests of the stages that take a list of
// elements (single-line selection, the line splitter, refinement, the wide
// split, windows, positions): elements from boxes, a library vector of them
// owned by the test, and rectangles as arrays so expectations compare (and
// print) whole.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "koc/koc.h"

namespace test {

using Q = std::array<int32_t, 4>;  // x, y, width, height
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

// An element over rect; area defaults to the whole rectangle.
inline koc_charSegmentElementInfo element(kstd_rect32 rect, int32_t area = -1)
{
    koc_charSegmentElementInfo e;
    koc_charSegmentElementInfo_construct(&e);
    e.rect = rect;
    e.area = area < 0 ? rect.width * rect.height : area;
    return e;
}

struct ElementVec {
    kstd_vector_koc_charSegmentElementInfo v;
    ElementVec() { kstd_vector_koc_charSegmentElementInfo_constructEmpty(&v); }
    explicit ElementVec(const std::vector<koc_charSegmentElementInfo>& e) : ElementVec()
    {
        kstd_vector_koc_charSegmentElementInfo_assignElements(&v, e.data(), intptr_t(e.size()));
    }
    ~ElementVec() { kstd_vector_koc_charSegmentElementInfo_destruct(&v); }
    ElementVec(const ElementVec&) = delete;
    ElementVec& operator=(const ElementVec&) = delete;
    std::vector<koc_charSegmentElementInfo> get() const
    {
        const auto* b = static_cast<const koc_charSegmentElementInfo*>(v.base.begin);
        return {b, b + v.base.size};
    }
    std::vector<Q> rects() const
    {
        std::vector<Q> r;
        for (const auto& e : get()) r.push_back(q(e.rect));
        return r;
    }
};

inline bool in(int32_t v, int32_t lo, int32_t hi) { return v >= lo && v <= hi; }

}  // namespace test
