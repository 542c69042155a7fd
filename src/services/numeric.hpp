// numeric.hpp: double-to-integer conversion that is defined for every
// double. Host-given factors (margins, scales) can be huge, infinite or NaN
// while still passing their records' rules; a plain cast of such a product
// is undefined behaviour.
#pragma once

#include <cmath>
#include <cstdint>

namespace koc::services {

// Truncates toward zero like static_cast, saturating at the int32 range;
// NaN gives 0.
inline int32_t saturatingInt32(double v) noexcept
{
    if (!(v == v)) {
        return 0;
    }
    if (v >= 2147483647.0) {
        return INT32_MAX;
    }
    if (v <= -2147483648.0) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(v);
}

}  // namespace koc::services
