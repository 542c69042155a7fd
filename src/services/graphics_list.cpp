// graphics_list.cpp: lifecycle of the graphics list.
#include "services/graphics_list.hpp"

#include "services/guard.hpp"

namespace koc::services {

int32_t kgr_list_construct(kgr_list* list) noexcept
{
    KOC_ASSERT(list != nullptr);
    int32_t rc = 0;
    GraphicsStore* store = newObject<GraphicsStore>(&rc);
    if (store == nullptr) {
        return rc;
    }
    list->store = store;
    return 0;
}

int32_t kgr_list_destruct(kgr_list* list) noexcept
{
    KOC_ASSERT(list != nullptr);
    destroyObject(list->store);
    list->store = nullptr;
    return 0;
}

}  // namespace koc::services
