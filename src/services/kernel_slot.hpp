// kernel_slot.hpp: the named kernel slot. Each hot loop that has an
// optimised variant keeps a portable one (the reference, which the optimised
// one must reproduce bit for bit); the host's hook may forbid the optimised
// variant by name.
#pragma once

#include <cstdint>

#include "koc/koc_lineextract.h"

namespace koc::services {

// A kernel says "not here, use the portable variant" with any code whose low
// 16 bits lie in 0x0600..0x061F, so future optimised kernels can tell why
// they declined without the caller learning new codes.
constexpr bool isNoOptimizedKernelCode(int32_t rc) noexcept
{
    return ((static_cast<uint32_t>(rc) & 0xffffu) >> 5) == 0x30u;
}

// Runs the optimised variant unless the host inhibits it for name, and the
// portable one whenever the optimised one declines. The decline code never
// reaches the caller.
template <class Optimized, class Portable>
int32_t runKernelSlot(const char* name, Optimized&& optimized, Portable&& portable)
{
    int32_t rc = KOC_E_NO_OPTIMIZED_KERNEL;
    const kprt_isOptimizationInhibitedFn inhibited = kprt_isOptimizationInhibitedFP;
    if (inhibited == nullptr || inhibited(name) == 0) {
        rc = optimized();
    }
    if (isNoOptimizedKernelCode(rc)) {
        rc = portable();
    }
    return rc;
}

}  // namespace koc::services
