// edgelet_record.cpp: lifecycle of the line's edgelet record.
#include "lineextract/edgelet_record.hpp"

#include "services/guard.hpp"

extern "C" {

KOC_API int32_t koc_lineEdgeletRecord__delete(koc_lineEdgeletRecord_** record) noexcept
{
    KOC_ASSERT(record != nullptr);
    koc::services::destroyObject(*record);
    *record = nullptr;
    return 0;
}

KOC_API int32_t koc_lineEdgeletRecord__new(koc_lineEdgeletRecord_** record) noexcept
{
    KOC_ASSERT(record != nullptr);
    KOC_RETURN_IF_FAILED(koc_lineEdgeletRecord__delete(record));
    int32_t rc = 0;
    *record = koc::services::newObject<koc_lineEdgeletRecord_>(&rc);
    return rc;
}

KOC_API int32_t koc_lineEdgeletRecord__assign(koc_lineEdgeletRecord_* dst, const koc_lineEdgeletRecord_* src) noexcept
{
    KOC_ASSERT(dst != nullptr && src != nullptr);
    if (dst == src) {
        return 0;
    }
    return koc::guarded([&]() -> int32_t {
        dst->edgelets = src->edgelets;
        dst->isValid = src->isValid;
        return 0;
    });
}

KOC_API int32_t koc_lineEdgeletRecord__getNumEdgelets(const koc_lineEdgeletRecord_* record, int32_t* count) noexcept
{
    KOC_ASSERT(record != nullptr && count != nullptr);
    *count = static_cast<int32_t>(record->edgelets.size());
    return 0;
}

}  // extern "C"
