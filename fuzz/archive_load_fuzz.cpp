// archive_load_fuzz.cpp: arbitrary bytes loaded as each archivable record.
//
// Byte 0 picks the record (low three bits) and whether the rest is the whole
// buffer (bit 3 clear) or the body of one object archive inside a well-formed
// archive (bit 3 set, so the fuzzer spends its time in the record readers
// rather than on the framing). What must always hold: a code from the
// documented set; a line-statistics record never marked computed after a
// failed load; a record that loaded saves and loads again to an equal record
// and to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "koc/koc.h"

namespace {

void check(bool ok)
{
    if (!ok) {
        std::abort();
    }
}

bool documented(int32_t rc)
{
    switch (rc) {
    case 0:
    case KOC_E_ARCHIVE_NO_OBJECT:
    case KOC_E_ARCHIVE_WRONG_TYPE:
    case KOC_E_ARCHIVE_VERSION:
    case KOC_E_ARCHIVE_TRUNCATED:
    case KOC_E_ARCHIVE_MALFORMED:
    case KOC_E_ARCHIVE_BUFFER_REFUSED:
    case KOC_E_ARCHIVE_BAD_BUFFER:
    case KOC_E_SINGULAR_XFORM:  // a version-0 line record whose transform has no inverse
        return true;
    default:
        return false;
    }
}

std::vector<uint8_t> wrapped(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> b = {'K', 'A', 'R', 'C', 1, 0, 0, 0};
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(size >> (8 * i)));
    b.insert(b.end(), data, data + size);
    return b;
}

// The buffer pair of the three statistics records: load, and when that
// works, save, load again and compare.
template <class T, class Construct, class Destruct, class Get, class Set, class Equal>
void bufferRoundTrip(const std::vector<uint8_t>& bytes, Construct construct, Destruct destruct, Get get, Set set,
                     Equal equal, bool hasComputedFlag)
{
    T record;
    check(construct(&record) == 0);
    const int32_t rc = set(&record, bytes.data(), static_cast<int32_t>(bytes.size()));
    check(documented(rc));
    if (rc < 0) {
        if constexpr (requires { record.isComputed; }) {
            check(!hasComputedFlag || record.isComputed == 0);
        }
        destruct(&record);
        return;
    }
    void* first = nullptr;
    int32_t firstSize = 0;
    check(get(&record, &first, &firstSize) == 0);
    T again;
    check(construct(&again) == 0);
    check(set(&again, first, firstSize) == 0);
    int32_t same = 0;
    check(equal(&record, &again, &same) == 0 && same == 1);
    void* second = nullptr;
    int32_t secondSize = 0;
    check(get(&again, &second, &secondSize) == 0);
    check(firstSize == secondSize && std::memcmp(first, second, static_cast<size_t>(firstSize)) == 0);
    ksys_memory_free_internal(&first);
    ksys_memory_free_internal(&second);
    destruct(&again);
    destruct(&record);
}

// Affine rectangles and their vector go through the archive-level functions.
void loadRects(const std::vector<uint8_t>& bytes, bool asVector)
{
    karca_archiveLoad archive;
    check(karca_archiveLoad_construct(&archive) == 0);
    int32_t rc = karca_archiveLoad_setBuffer(&archive, bytes.data(), static_cast<int32_t>(bytes.size()));
    check(documented(rc));
    if (rc >= 0) {
        if (asVector) {
            kstd_vector_kmath_shapeAffineRect rects;
            check(kstd_vector_kmath_shapeAffineRect_constructEmpty(&rects) == 0);
            // Every object of the archive in turn, until one fails.
            while ((rc = karca_archiveLoad_byValue_kstd_vector_kmath_shapeAffineRect(&archive, &rects)) >= 0) {
            }
            check(documented(rc));
            kstd_vector_kmath_shapeAffineRect_destruct(&rects);
        } else {
            kmath_shapeAffineRect rect;
            while ((rc = karca_archiveLoad_byValue_kmath_shapeAffineRect(&archive, &rect)) >= 0) {
            }
            check(documented(rc));
        }
    }
    karca_archiveLoad_destruct(&archive);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) {
        return 0;
    }
    const uint8_t selector = data[0];
    const std::vector<uint8_t> bytes =
        (selector & 8) != 0 ? wrapped(data + 1, size - 1) : std::vector<uint8_t>(data + 1, data + size);
    switch (selector & 7) {
    case 0:
        bufferRoundTrip<koc_charSegmentElementStats>(
            bytes, koc_charSegmentElementStats_construct, koc_charSegmentElementStats_destruct,
            koc_charSegmentElementStats_archive_getBuffer, koc_charSegmentElementStats_archive_setBuffer,
            koc_charSegmentElementStats_compareEqual, false);
        break;
    case 1:
        bufferRoundTrip<koc_charSegmentAllElementsStats>(
            bytes, koc_charSegmentAllElementsStats_construct, koc_charSegmentAllElementsStats_destruct,
            koc_charSegmentAllElementsStats_archive_getBuffer, koc_charSegmentAllElementsStats_archive_setBuffer,
            koc_charSegmentAllElementsStats_compareEqual, false);
        break;
    case 2:
    case 3:
        bufferRoundTrip<koc_charSegmentLineResultStats>(
            bytes, koc_charSegmentLineResultStats_construct, koc_charSegmentLineResultStats_destruct,
            koc_charSegmentLineResultStats_archive_getBuffer, koc_charSegmentLineResultStats_archive_setBuffer,
            koc_charSegmentLineResultStats_compareEqual, true);
        break;
    case 4:
    case 5:
        loadRects(bytes, false);
        break;
    default:
        loadRects(bytes, true);
        break;
    }
    return 0;
}
