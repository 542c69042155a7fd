// gradient_field.hpp: the kernel slot as the gradient kernels use it (the
// slot itself is shared with the other optimised kernels, in services).
#pragma once

#include "services/kernel_slot.hpp"

namespace koc::lineextract {

using services::isNoOptimizedKernelCode;
using services::runKernelSlot;

}  // namespace koc::lineextract
