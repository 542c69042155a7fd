// diagnostics.cpp: the diagnostic-drawing hook. What a drawing would show is
// not decided, so the hook only prepares and releases its working lists;
// their failures are the only codes it can return.
#include <array>

#include "services/guard.hpp"
#include "koc/koc_diags.h"
#include "services/graphics_list.hpp"

using koc::services::kgr_list;

extern "C" KOC_API int32_t koc_drawDiags(const void*, const void*, void*) noexcept
{
    // One list for the whole drawing and six for its layers, each released
    // on every exit.
    std::array<kgr_list, 7> lists{};
    koc::Always release([&] {
        for (kgr_list& list : lists) {
            koc::services::kgr_list_destruct(&list);
        }
    });
    for (kgr_list& list : lists) {
        KOC_RETURN_IF_FAILED(koc::services::kgr_list_construct(&list));
    }
    return 0;
}
