// stats_archive.cpp: what the statistics records and affine rectangles
// write into archives (type identifiers, version bytes, field order), and
// the byte-buffer pair of the three statistics records.
//
// A record's body is read straight into the destination, so a failing load
// leaves the fields read so far changed; the line statistics' computed flag
// is the exception: cleared first and set last, so a half-read record never
// reads as computed.
#include <array>

#include "services/guard.hpp"
#include "koc/karca.h"
#include "services/archive.hpp"

namespace ar = koc::services::archive;

// The element statistics and their vector are archived only inside the line
// statistics and through the buffer pair: internal names, same pattern.
extern "C" {
#define KOC_INTERNAL_ARCHIVE_FUNCTIONS(T)                                                             \
    int32_t karca_archiveObjectSave_pushBack_##T(karca_archiveObjectSave* object, const T* value) noexcept; \
    int32_t karca_archiveObjectLoad_popFront_##T(karca_archiveObjectLoad* object, T* value) noexcept;       \
    int32_t karca_archiveObjectSave_byValue_##T(karca_archiveObjectSave* object, const T* value) noexcept;  \
    int32_t karca_archiveObjectLoad_byValue_##T(karca_archiveObjectLoad* object, T* value) noexcept;        \
    int32_t karca_archiveSave_byValue_##T(karca_archiveSave* archive, const T* value) noexcept;             \
    int32_t karca_archiveLoad_byValue_##T(karca_archiveLoad* archive, T* value) noexcept;
KOC_INTERNAL_ARCHIVE_FUNCTIONS(koc_charSegmentElementStats)
KOC_INTERNAL_ARCHIVE_FUNCTIONS(kstd_vector_koc_charSegmentElementStats)
#undef KOC_INTERNAL_ARCHIVE_FUNCTIONS
}

namespace {

// Type identifiers written into the preambles.
enum : uint16_t {
    kIdAffineRect = 335,
    kIdLineResultStats = 338,
    kIdAllElementsStats = 341,
    kIdElementStats = 342,
    kIdElementStatsVector = 343,
    kIdAffineRectVector = 348,
};

constexpr uint8_t kElementStatsVersion = 1;
constexpr uint8_t kAllElementsStatsVersion = 0;
constexpr uint8_t kLineResultStatsVersion = 3;

// Smallest bodies, for checking a stored count before sizing by it.
constexpr size_t kMinElementStatsBody = 1 + 4 + 1 + 4 + 16 + 4;  // version 0: no doubles
constexpr size_t kAffineRectBody = 6 * 8;

// The fourteen pairs words of the all-elements statistics in stream order
// (words 5, 3, 7, 4, 2, 6, 13, 9, 11, 12, 8, 10, 15, 14, counting the flag
// as word 1).
template <class S>
auto streamOrder(S* s)
{
    return std::to_array({&s->maxContrast, &s->maxArea, &s->maxBottom, &s->minContrast, &s->minArea, &s->minTop,
                          &s->maxHeight, &s->maxMarkArea, &s->maxWidth, &s->minHeight, &s->minMarkArea,
                          &s->minWidth, &s->maxSpaceWidth, &s->minSpaceWidth});
}

template <class V>
auto lists(V* s)
{
    return std::to_array({&s->rawElements, &s->rawAccepted, &s->rawRejected, &s->charElements, &s->charAccepted,
                          &s->charRejected});
}

// Object record around a body writer: preamble, body, length patch.
template <class Body>
int32_t saveRecord(karca_archiveObjectSave* out, uint16_t typeId, Body&& body) noexcept
{
    size_t start = 0;
    KOC_RETURN_IF_FAILED(ar::writePreamble(out, 1, typeId, &start));
    KOC_RETURN_IF_FAILED(body());
    return ar::patchLength(out, start);
}

template <class Body>
int32_t loadRecord(karca_archiveObjectLoad* in, uint16_t typeId, Body&& body) noexcept
{
    ar::RecordScope scope;
    KOC_RETURN_IF_FAILED(ar::beginRecord(in, typeId, &scope));
    const int32_t rc = body();
    ar::endRecord(in, scope, rc >= 0);
    return rc;
}

// One object archive holding one record, appended to the archive.
template <class SaveObject>
int32_t saveToArchive(karca_archiveSave* archive, SaveObject&& saveObject) noexcept
{
    KOC_ASSERT(archive != nullptr);
    karca_archiveObjectSave object{};
    KOC_RETURN_IF_FAILED(karca_archiveObjectSave_construct(&object));
    koc::Always drop([&] { karca_archiveObjectSave_destruct(&object); });
    KOC_RETURN_IF_FAILED(saveObject(&object));
    return karca_archiveSave_appendObject(archive, &object);
}

template <class LoadObject>
int32_t loadFromArchive(karca_archiveLoad* archive, LoadObject&& loadObject) noexcept
{
    KOC_ASSERT(archive != nullptr);
    karca_archiveObjectLoad object{};
    KOC_RETURN_IF_FAILED(karca_archiveObjectLoad_construct(&object));
    koc::Always drop([&] { karca_archiveObjectLoad_destruct(&object); });
    KOC_RETURN_IF_FAILED(karca_archiveLoad_popFrontArchiveObjectLoad(archive, &object));
    return loadObject(&object);
}

// The buffer pair: a fresh archive holding the record by value, its bytes
// handed over; and back. The archive is released on every exit: on success
// its bytes already belong to the caller.
template <class Save>
int32_t recordToBuffer(void** buffer, int32_t* size, Save&& save) noexcept
{
    KOC_ASSERT(buffer != nullptr && size != nullptr);
    karca_archiveSave archive{};
    KOC_RETURN_IF_FAILED(karca_archiveSave_construct(&archive));
    koc::Always drop([&] { karca_archiveSave_destruct(&archive); });
    KOC_RETURN_IF_FAILED(save(&archive));
    return karca_archiveSave_getBuffer(&archive, buffer, size);
}

template <class Load>
int32_t bufferToRecord(const void* buffer, int32_t size, Load&& load) noexcept
{
    karca_archiveLoad archive{};
    KOC_RETURN_IF_FAILED(karca_archiveLoad_construct(&archive));
    koc::Always drop([&] { karca_archiveLoad_destruct(&archive); });
    const int32_t rc = karca_archiveLoad_setBuffer(&archive, buffer, size);
    // The one place where a sibling's code is replaced by our own.
    if (rc == KOC_E_ARCHIVE_BUFFER_REFUSED) {
        return KOC_E_ARCHIVE_BAD_BUFFER;
    }
    KOC_RETURN_IF_FAILED(rc);
    return load(&archive);
}

int32_t readVersion(karca_archiveObjectLoad* in, uint8_t highest, uint8_t* version) noexcept
{
    KOC_RETURN_IF_FAILED(ar::readUInt8(in, version));
    return *version > highest ? KOC_E_ARCHIVE_VERSION : 0;
}

}  // namespace

// The object-archive functions of one type written out from its body pair.
#define KOC_DEFINE_ARCHIVE_RECORD_FUNCTIONS(LINKAGE, T, ID)                                                     \
    LINKAGE int32_t karca_archiveObjectSave_byValue_##T(karca_archiveObjectSave* object, const T* value) noexcept \
    {                                                                                                          \
        KOC_ASSERT(object != nullptr && value != nullptr);                                                     \
        return saveRecord(object, ID, [&] { return karca_archiveObjectSave_pushBack_##T(object, value); });    \
    }                                                                                                          \
    LINKAGE int32_t karca_archiveObjectLoad_byValue_##T(karca_archiveObjectLoad* object, T* value) noexcept    \
    {                                                                                                          \
        KOC_ASSERT(object != nullptr && value != nullptr);                                                     \
        return loadRecord(object, ID, [&] { return karca_archiveObjectLoad_popFront_##T(object, value); });    \
    }                                                                                                          \
    LINKAGE int32_t karca_archiveSave_byValue_##T(karca_archiveSave* archive, const T* value) noexcept         \
    {                                                                                                          \
        return saveToArchive(archive, [&](karca_archiveObjectSave* o) {                                        \
            return karca_archiveObjectSave_byValue_##T(o, value);                                              \
        });                                                                                                    \
    }                                                                                                          \
    LINKAGE int32_t karca_archiveLoad_byValue_##T(karca_archiveLoad* archive, T* value) noexcept               \
    {                                                                                                          \
        return loadFromArchive(archive, [&](karca_archiveObjectLoad* o) {                                      \
            return karca_archiveObjectLoad_byValue_##T(o, value);                                              \
        });                                                                                                    \
    }

#define KOC_DEFINE_ARCHIVE_BUFFER(T)                                                                           \
    KOC_API int32_t T##_archive_getBuffer(const T* record, void** buffer, int32_t* size) noexcept             \
    {                                                                                                          \
        KOC_ASSERT(record != nullptr);                                                                         \
        return recordToBuffer(buffer, size, [&](karca_archiveSave* a) { return karca_archiveSave_byValue_##T(a, record); }); \
    }                                                                                                          \
    KOC_API int32_t T##_archive_setBuffer(T* record, const void* buffer, int32_t size) noexcept               \
    {                                                                                                          \
        KOC_ASSERT(record != nullptr);                                                                         \
        return bufferToRecord(buffer, size, [&](karca_archiveLoad* a) { return karca_archiveLoad_byValue_##T(a, record); }); \
    }

extern "C" {

// ---- kmath_shapeAffineRect: its transform, no version byte ----

KOC_API int32_t karca_archiveObjectSave_pushBack_kmath_shapeAffineRect(karca_archiveObjectSave* object,
                                                                       const kmath_shapeAffineRect* value) noexcept
{
    KOC_ASSERT(object != nullptr && value != nullptr);
    return ar::writeXform(object, value->xform);
}

KOC_API int32_t karca_archiveObjectLoad_popFront_kmath_shapeAffineRect(karca_archiveObjectLoad* object,
                                                                       kmath_shapeAffineRect* value) noexcept
{
    KOC_ASSERT(object != nullptr && value != nullptr);
    return ar::readXform(object, &value->xform);
}

// ---- vector of kmath_shapeAffineRect: count, then the bodies ----

KOC_API int32_t karca_archiveObjectSave_pushBack_kstd_vector_kmath_shapeAffineRect(
    karca_archiveObjectSave* object, const kstd_vector_kmath_shapeAffineRect* value) noexcept
{
    KOC_ASSERT(object != nullptr && value != nullptr);
    if (value->base.size > INT32_MAX) {
        return KOC_E_BAD_ARGUMENT;
    }
    KOC_RETURN_IF_FAILED(ar::writeInt32(object, static_cast<int32_t>(value->base.size)));
    const auto* rects = static_cast<const kmath_shapeAffineRect*>(value->base.begin);
    for (intptr_t i = 0; i < value->base.size; ++i) {
        KOC_RETURN_IF_FAILED(karca_archiveObjectSave_pushBack_kmath_shapeAffineRect(object, &rects[i]));
    }
    return 0;
}

KOC_API int32_t karca_archiveObjectLoad_popFront_kstd_vector_kmath_shapeAffineRect(
    karca_archiveObjectLoad* object, kstd_vector_kmath_shapeAffineRect* value) noexcept
{
    KOC_ASSERT(object != nullptr && value != nullptr);
    int32_t count = 0;
    KOC_RETURN_IF_FAILED(ar::readInt32(object, &count));
    KOC_RETURN_IF_FAILED(ar::checkCount(object, count, kAffineRectBody));
    KOC_RETURN_IF_FAILED(kstd_vector_kmath_shapeAffineRect_resize(value, count));
    auto* rects = static_cast<kmath_shapeAffineRect*>(value->base.begin);
    for (int32_t i = 0; i < count; ++i) {
        KOC_RETURN_IF_FAILED(karca_archiveObjectLoad_popFront_kmath_shapeAffineRect(object, &rects[i]));
    }
    return 0;
}

// ---- koc_charSegmentElementStats, version 1 ----

int32_t karca_archiveObjectSave_pushBack_koc_charSegmentElementStats(karca_archiveObjectSave* object,
                                                                     const koc_charSegmentElementStats* e) noexcept
{
    KOC_ASSERT(object != nullptr && e != nullptr);
    KOC_RETURN_IF_FAILED(ar::writeUInt8(object, kElementStatsVersion));
    KOC_RETURN_IF_FAILED(ar::writeUInt32(object, e->flags));
    KOC_RETURN_IF_FAILED(ar::writeBool(object, e->isAccepted));
    KOC_RETURN_IF_FAILED(ar::writeInt32(object, e->contrast));
    for (const int32_t v : {e->rect.x, e->rect.y, e->rect.width, e->rect.height, e->area}) {
        KOC_RETURN_IF_FAILED(ar::writeInt32(object, v));
    }
    KOC_RETURN_IF_FAILED(ar::writeDouble(object, e->outOfBandFraction));
    return ar::writeDouble(object, e->inBandFraction);
}

int32_t karca_archiveObjectLoad_popFront_koc_charSegmentElementStats(karca_archiveObjectLoad* object,
                                                                     koc_charSegmentElementStats* e) noexcept
{
    KOC_ASSERT(object != nullptr && e != nullptr);
    uint8_t version = 0;
    KOC_RETURN_IF_FAILED(readVersion(object, kElementStatsVersion, &version));
    KOC_RETURN_IF_FAILED(ar::readUInt32(object, &e->flags));
    KOC_RETURN_IF_FAILED(ar::readBool(object, &e->isAccepted));
    KOC_RETURN_IF_FAILED(ar::readInt32(object, &e->contrast));
    for (int32_t* v : {&e->rect.x, &e->rect.y, &e->rect.width, &e->rect.height, &e->area}) {
        KOC_RETURN_IF_FAILED(ar::readInt32(object, v));
    }
    // Version 0 had no doubles; they keep their values.
    if (version >= 1) {
        KOC_RETURN_IF_FAILED(ar::readDouble(object, &e->outOfBandFraction));
        KOC_RETURN_IF_FAILED(ar::readDouble(object, &e->inBandFraction));
    }
    return 0;
}

// ---- vector of koc_charSegmentElementStats: count, then the bodies ----

int32_t karca_archiveObjectSave_pushBack_kstd_vector_koc_charSegmentElementStats(
    karca_archiveObjectSave* object, const kstd_vector_koc_charSegmentElementStats* value) noexcept
{
    KOC_ASSERT(object != nullptr && value != nullptr);
    if (value->base.size > INT32_MAX) {
        return KOC_E_BAD_ARGUMENT;
    }
    KOC_RETURN_IF_FAILED(ar::writeInt32(object, static_cast<int32_t>(value->base.size)));
    const auto* elements = static_cast<const koc_charSegmentElementStats*>(value->base.begin);
    for (intptr_t i = 0; i < value->base.size; ++i) {
        KOC_RETURN_IF_FAILED(karca_archiveObjectSave_pushBack_koc_charSegmentElementStats(object, &elements[i]));
    }
    return 0;
}

int32_t karca_archiveObjectLoad_popFront_kstd_vector_koc_charSegmentElementStats(
    karca_archiveObjectLoad* object, kstd_vector_koc_charSegmentElementStats* value) noexcept
{
    KOC_ASSERT(object != nullptr && value != nullptr);
    int32_t count = 0;
    KOC_RETURN_IF_FAILED(ar::readInt32(object, &count));
    KOC_RETURN_IF_FAILED(ar::checkCount(object, count, kMinElementStatsBody));
    KOC_RETURN_IF_FAILED(kstd_vector_koc_charSegmentElementStats_resize(value, count));
    auto* elements = static_cast<koc_charSegmentElementStats*>(value->base.begin);
    for (int32_t i = 0; i < count; ++i) {
        KOC_RETURN_IF_FAILED(karca_archiveObjectLoad_popFront_koc_charSegmentElementStats(object, &elements[i]));
    }
    return 0;
}

// ---- koc_charSegmentAllElementsStats, version 0 ----

KOC_API int32_t karca_archiveObjectSave_pushBack_koc_charSegmentAllElementsStats(
    karca_archiveObjectSave* object, const koc_charSegmentAllElementsStats* s) noexcept
{
    KOC_ASSERT(object != nullptr && s != nullptr);
    KOC_RETURN_IF_FAILED(ar::writeUInt8(object, kAllElementsStatsVersion));
    KOC_RETURN_IF_FAILED(ar::writeBool(object, s->isFilled));
    for (const int32_t* word : streamOrder(s)) {
        KOC_RETURN_IF_FAILED(ar::writeInt32(object, *word));
    }
    return 0;
}

KOC_API int32_t karca_archiveObjectLoad_popFront_koc_charSegmentAllElementsStats(
    karca_archiveObjectLoad* object, koc_charSegmentAllElementsStats* s) noexcept
{
    KOC_ASSERT(object != nullptr && s != nullptr);
    uint8_t version = 0;
    KOC_RETURN_IF_FAILED(readVersion(object, kAllElementsStatsVersion, &version));
    KOC_RETURN_IF_FAILED(ar::readBool(object, &s->isFilled));
    for (int32_t* word : streamOrder(s)) {
        KOC_RETURN_IF_FAILED(ar::readInt32(object, word));
    }
    return 0;
}

// ---- koc_charSegmentLineResultStats, version 3 ----

KOC_API int32_t karca_archiveObjectSave_pushBack_koc_charSegmentLineResultStats(
    karca_archiveObjectSave* object, const koc_charSegmentLineResultStats* s) noexcept
{
    KOC_ASSERT(object != nullptr && s != nullptr);
    KOC_RETURN_IF_FAILED(ar::writeUInt8(object, kLineResultStatsVersion));
    KOC_RETURN_IF_FAILED(ar::writeBool(object, s->isComputed));
    KOC_RETURN_IF_FAILED(karca_archiveObjectSave_pushBack_koc_charSegmentAllElementsStats(object, &s->positionStats));
    KOC_RETURN_IF_FAILED(karca_archiveObjectSave_pushBack_koc_charSegmentAllElementsStats(object, &s->elementStats));
    for (const auto* list : lists(s)) {
        KOC_RETURN_IF_FAILED(karca_archiveObjectSave_byValue_kstd_vector_koc_charSegmentElementStats(object, list));
    }
    KOC_RETURN_IF_FAILED(ar::writeDouble(object, s->foldedLineAngle));
    KOC_RETURN_IF_FAILED(ar::writeDouble(object, s->foldedSkewAngle));
    KOC_RETURN_IF_FAILED(ar::writeBool(object, s->thresholdPolarityFlag));
    // The rectangles go in as bodies, like the all-elements statistics above;
    // only the lists are object records of their own.
    KOC_RETURN_IF_FAILED(karca_archiveObjectSave_pushBack_kmath_shapeAffineRect(object, &s->bandRect));
    KOC_RETURN_IF_FAILED(karca_archiveObjectSave_pushBack_kmath_shapeAffineRect(object, &s->inkRect));
    KOC_RETURN_IF_FAILED(ar::writeXform(object, s->clientFromImage));
    KOC_RETURN_IF_FAILED(ar::writeXform(object, s->imageFromClient));
    for (const int32_t v : {s->maxGap, s->maxMergedGap, s->maxPitch, s->minGap, s->minMergedGap, s->minPitch}) {
        KOC_RETURN_IF_FAILED(ar::writeInt32(object, v));
    }
    KOC_RETURN_IF_FAILED(ar::writePolarity(object, s->polarity));
    KOC_RETURN_IF_FAILED(ar::writeInt32(object, s->minBandHeight));
    KOC_RETURN_IF_FAILED(ar::writeInt32(object, static_cast<int32_t>(s->binarizationThreshold)));
    for (const int32_t v : {s->numRawTouchingBorder, s->numRawOutsideBand, s->numUnmatchedSmallArea,
                            s->numUnmatchedNarrow, s->numUnmatchedLow, s->numCroppedTall}) {
        KOC_RETURN_IF_FAILED(ar::writeInt32(object, v));
    }
    return 0;
}

KOC_API int32_t karca_archiveObjectLoad_popFront_koc_charSegmentLineResultStats(
    karca_archiveObjectLoad* object, koc_charSegmentLineResultStats* s) noexcept
{
    KOC_ASSERT(object != nullptr && s != nullptr);
    // Clear first: a load that fails half-way must not read as computed.
    s->isComputed = 0;
    uint8_t version = 0;
    KOC_RETURN_IF_FAILED(readVersion(object, kLineResultStatsVersion, &version));
    int32_t isComputed = 0;
    KOC_RETURN_IF_FAILED(ar::readBool(object, &isComputed));
    KOC_RETURN_IF_FAILED(karca_archiveObjectLoad_popFront_koc_charSegmentAllElementsStats(object, &s->positionStats));
    KOC_RETURN_IF_FAILED(karca_archiveObjectLoad_popFront_koc_charSegmentAllElementsStats(object, &s->elementStats));
    for (auto* list : lists(s)) {
        KOC_RETURN_IF_FAILED(karca_archiveObjectLoad_byValue_kstd_vector_koc_charSegmentElementStats(object, list));
    }
    KOC_RETURN_IF_FAILED(ar::readDouble(object, &s->foldedLineAngle));
    KOC_RETURN_IF_FAILED(ar::readDouble(object, &s->foldedSkewAngle));
    KOC_RETURN_IF_FAILED(ar::readBool(object, &s->thresholdPolarityFlag));
    KOC_RETURN_IF_FAILED(karca_archiveObjectLoad_popFront_kmath_shapeAffineRect(object, &s->bandRect));
    KOC_RETURN_IF_FAILED(karca_archiveObjectLoad_popFront_kmath_shapeAffineRect(object, &s->inkRect));
    KOC_RETURN_IF_FAILED(ar::readXform(object, &s->clientFromImage));
    if (version >= 1) {
        KOC_RETURN_IF_FAILED(ar::readXform(object, &s->imageFromClient));
    } else {
        // Version 0 kept only the one direction.
        KOC_RETURN_IF_FAILED(kmath_xformLinear_getInverse(&s->clientFromImage, &s->imageFromClient));
    }
    for (int32_t* v : {&s->maxGap, &s->maxMergedGap, &s->maxPitch, &s->minGap, &s->minMergedGap, &s->minPitch}) {
        KOC_RETURN_IF_FAILED(ar::readInt32(object, v));
    }
    KOC_RETURN_IF_FAILED(ar::readPolarity(object, &s->polarity));
    KOC_RETURN_IF_FAILED(ar::readInt32(object, &s->minBandHeight));
    int32_t threshold = 0;
    KOC_RETURN_IF_FAILED(ar::readInt32(object, &threshold));
    s->binarizationThreshold = static_cast<uint32_t>(threshold);
    // Counters older versions did not keep were stored as placeholders; they
    // are read and dropped, and the record's counters keep their values.
    int32_t discarded = 0;
    KOC_RETURN_IF_FAILED(ar::readInt32(object, &s->numRawTouchingBorder));
    KOC_RETURN_IF_FAILED(ar::readInt32(object, version >= 2 ? &s->numRawOutsideBand : &discarded));
    KOC_RETURN_IF_FAILED(ar::readInt32(object, version >= 2 ? &s->numUnmatchedSmallArea : &discarded));
    KOC_RETURN_IF_FAILED(ar::readInt32(object, &s->numUnmatchedNarrow));
    KOC_RETURN_IF_FAILED(ar::readInt32(object, &s->numUnmatchedLow));
    KOC_RETURN_IF_FAILED(ar::readInt32(object, version >= 3 ? &s->numCroppedTall : &discarded));
    s->isComputed = isComputed;
    return 0;
}

KOC_DEFINE_ARCHIVE_RECORD_FUNCTIONS(KOC_API, kmath_shapeAffineRect, kIdAffineRect)
KOC_DEFINE_ARCHIVE_RECORD_FUNCTIONS(KOC_API, kstd_vector_kmath_shapeAffineRect, kIdAffineRectVector)
KOC_DEFINE_ARCHIVE_RECORD_FUNCTIONS(, koc_charSegmentElementStats, kIdElementStats)
KOC_DEFINE_ARCHIVE_RECORD_FUNCTIONS(, kstd_vector_koc_charSegmentElementStats, kIdElementStatsVector)
KOC_DEFINE_ARCHIVE_RECORD_FUNCTIONS(KOC_API, koc_charSegmentAllElementsStats, kIdAllElementsStats)
KOC_DEFINE_ARCHIVE_RECORD_FUNCTIONS(KOC_API, koc_charSegmentLineResultStats, kIdLineResultStats)

KOC_DEFINE_ARCHIVE_BUFFER(koc_charSegmentElementStats)
KOC_DEFINE_ARCHIVE_BUFFER(koc_charSegmentAllElementsStats)
KOC_DEFINE_ARCHIVE_BUFFER(koc_charSegmentLineResultStats)

}  // extern "C"
