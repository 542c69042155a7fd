// edgelet_record.cpp: lifecycle of the line's edgelet record.
#include "lineextract/edgelet_record.hpp"

#include "services/guard.hpp"
#include "services/memory.hpp"

extern "C" {

KOC_API int32_t koc_lineEdgeletRecord__delete(koc_lineEdgeletRecord_** record) noexcept
{
    KOC_ASSERT(record != nullptr);
    if (*record != nullptr) {
        kip_rowEdgeletSet_destruct(&(*record)->edgelets);
        koc::services::destroyObject(*record);
        *record = nullptr;
    }
    return 0;
}

KOC_API int32_t koc_lineEdgeletRecord__new(koc_lineEdgeletRecord_** record) noexcept
{
    KOC_ASSERT(record != nullptr);
    KOC_RETURN_IF_FAILED(koc_lineEdgeletRecord__delete(record));
    int32_t rc = 0;
    koc_lineEdgeletRecord_* fresh = koc::services::newObject<koc_lineEdgeletRecord_>(&rc);
    KOC_RETURN_IF_FAILED(rc);
    fresh->isValid = 0;
    rc = kip_rowEdgeletSet_construct(&fresh->edgelets);
    if (rc < 0) {
        koc::services::destroyObject(fresh);
        return rc;
    }
    *record = fresh;
    return 0;
}

KOC_API int32_t koc_lineEdgeletRecord__assign(koc_lineEdgeletRecord_* dst, const koc_lineEdgeletRecord_* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    // The flag follows the edgelets: cleared first, so a failed copy never
    // reads as valid.
    dst->isValid = 0;
    KOC_RETURN_IF_FAILED(kip_rowEdgeletSet_assign(&dst->edgelets, &src->edgelets));
    dst->isValid = src->isValid;
    return 0;
}

}  // extern "C"
