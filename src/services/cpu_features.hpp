// cpu_features.hpp: what the processor offers the optimised kernels. The
// answer is the processor's and never changes within a process: it is
// found on first use and kept, and kernels ask it per call.
#pragma once

#include <cstdint>

namespace koc::services {

// KSYS_CPU_FEATURE_* bits this processor (and this build) can run.
uint32_t cpuFeatureBits() noexcept;

}  // namespace koc::services
