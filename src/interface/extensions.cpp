// extensions.cpp: the record of the segmentation's opt-in extensions
// (koc_extensions.h); the entry points that take it live with the others in
// entry_points.cpp.
#include "koc/koc.h"
#include "services/guard.hpp"
#include "services/lifecycle.hpp"

extern "C" {

KOC_API int32_t koc_charSegmentExtensions_reset(koc_charSegmentExtensions* ext) noexcept
{
    KOC_ASSERT(ext != nullptr);
    *ext = koc_charSegmentExtensions{};
    return 0;
}

KOC_API int32_t koc_charSegmentExtensions_validate(const koc_charSegmentExtensions* ext) noexcept
{
    KOC_ASSERT(ext != nullptr);
    if (ext->splitTouchingGlyphs > 1 || ext->walkNodeBudget < 0 || ext->bandAwareElements > 1) {
        return KOC_E_BAD_ARGUMENT;
    }
    return 0;
}

}  // extern "C"

KOC_DEFINE_PLAIN_LIFECYCLE(koc_charSegmentExtensions)
