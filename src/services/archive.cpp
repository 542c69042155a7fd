// archive.cpp: the karca_ handles (archives and object archives over
// growable byte buffers) and the primitive writers and readers.
#include "services/archive.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "services/guard.hpp"

namespace koc::services::archive {
namespace {

// Every growth goes through here so that bad_alloc stays inside.
int32_t append(karca_saveStore_* store, const uint8_t* data, size_t n) noexcept
{
    try {
        store->bytes.insert(store->bytes.end(), data, data + n);
    } catch (const std::bad_alloc&) {
        return KOC_E_OUT_OF_MEMORY;
    }
    return 0;
}

template <class U>
int32_t writeLittleEndian(karca_archiveObjectSave* out, U value) noexcept
{
    KOC_ASSERT(out != nullptr && out->store != nullptr);
    uint8_t b[sizeof(U)];
    for (size_t i = 0; i < sizeof(U); ++i) {
        b[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return append(out->store, b, sizeof(U));
}

template <class U>
U decodeLittleEndian(const uint8_t* p) noexcept
{
    U value = 0;
    for (size_t i = 0; i < sizeof(U); ++i) {
        value = static_cast<U>(value | static_cast<U>(static_cast<U>(p[i]) << (8 * i)));
    }
    return value;
}

template <class U>
int32_t readLittleEndian(karca_archiveObjectLoad* in, U* value) noexcept
{
    KOC_ASSERT(in != nullptr && in->store != nullptr && value != nullptr);
    karca_loadStore_* s = in->store;
    if (s->limit - s->position < sizeof(U)) {
        return KOC_E_ARCHIVE_TRUNCATED;
    }
    *value = decodeLittleEndian<U>(s->bytes.data() + s->position);
    s->position += sizeof(U);
    return 0;
}

}  // namespace

int32_t writeUInt8(karca_archiveObjectSave* out, uint8_t value) noexcept { return writeLittleEndian(out, value); }
int32_t writeBool(karca_archiveObjectSave* out, int32_t value) noexcept
{
    return writeLittleEndian(out, static_cast<uint8_t>(value != 0 ? 1 : 0));
}
int32_t writeUInt16(karca_archiveObjectSave* out, uint16_t value) noexcept { return writeLittleEndian(out, value); }
int32_t writeInt32(karca_archiveObjectSave* out, int32_t value) noexcept
{
    return writeLittleEndian(out, static_cast<uint32_t>(value));
}
int32_t writeUInt32(karca_archiveObjectSave* out, uint32_t value) noexcept { return writeLittleEndian(out, value); }
int32_t writeDouble(karca_archiveObjectSave* out, double value) noexcept
{
    return writeLittleEndian(out, std::bit_cast<uint64_t>(value));
}
int32_t writeXform(karca_archiveObjectSave* out, const kmath_xformLinear& x) noexcept
{
    for (const double v : {x.matrix.a, x.matrix.b, x.matrix.c, x.matrix.d, x.trans.x, x.trans.y}) {
        KOC_RETURN_IF_FAILED(writeDouble(out, v));
    }
    return 0;
}
int32_t writePolarity(karca_archiveObjectSave* out, koc_charPolarity value) noexcept
{
    return writeUInt32(out, value);
}

int32_t writePreamble(karca_archiveObjectSave* out, uint8_t flag, uint16_t typeId, size_t* start) noexcept
{
    KOC_ASSERT(out != nullptr && out->store != nullptr && start != nullptr);
    *start = out->store->bytes.size();
    KOC_RETURN_IF_FAILED(writeUInt16(out, typeId));
    KOC_RETURN_IF_FAILED(writeUInt8(out, flag));
    KOC_RETURN_IF_FAILED(writeUInt8(out, 0));
    // The preamble alone; patchLength replaces it once the body is there.
    return writeUInt32(out, static_cast<uint32_t>(kPreambleSize));
}

int32_t patchLength(karca_archiveObjectSave* out, size_t start) noexcept
{
    KOC_ASSERT(out != nullptr && out->store != nullptr);
    auto& bytes = out->store->bytes;
    KOC_ASSERT(start <= bytes.size() && bytes.size() - start >= kPreambleSize);
    const size_t length = bytes.size() - start;
    if (length > UINT32_MAX) {
        return KOC_E_BAD_ARGUMENT;
    }
    for (size_t i = 0; i < 4; ++i) {
        bytes[start + 4 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    return 0;
}

int32_t readUInt8(karca_archiveObjectLoad* in, uint8_t* value) noexcept { return readLittleEndian(in, value); }
int32_t readBool(karca_archiveObjectLoad* in, int32_t* value) noexcept
{
    KOC_ASSERT(in != nullptr && in->store != nullptr && value != nullptr);
    karca_loadStore_* s = in->store;
    if (s->limit == s->position) {
        return KOC_E_ARCHIVE_TRUNCATED;
    }
    const uint8_t b = s->bytes[s->position];
    // Strict: a writer only ever stores 0 or 1, so anything else is damage.
    if (b > 1) {
        return KOC_E_ARCHIVE_MALFORMED;
    }
    s->position += 1;
    *value = b;
    return 0;
}
int32_t readInt32(karca_archiveObjectLoad* in, int32_t* value) noexcept
{
    uint32_t u = 0;
    KOC_RETURN_IF_FAILED(readLittleEndian(in, &u));
    *value = static_cast<int32_t>(u);
    return 0;
}
int32_t readUInt32(karca_archiveObjectLoad* in, uint32_t* value) noexcept { return readLittleEndian(in, value); }
int32_t readDouble(karca_archiveObjectLoad* in, double* value) noexcept
{
    uint64_t u = 0;
    KOC_RETURN_IF_FAILED(readLittleEndian(in, &u));
    *value = std::bit_cast<double>(u);
    return 0;
}
int32_t readXform(karca_archiveObjectLoad* in, kmath_xformLinear* x) noexcept
{
    KOC_ASSERT(x != nullptr);
    // All or nothing: a truncated transform leaves the destination alone.
    if (bytesLeft(in) < 6 * sizeof(double)) {
        return KOC_E_ARCHIVE_TRUNCATED;
    }
    for (double* v : {&x->matrix.a, &x->matrix.b, &x->matrix.c, &x->matrix.d, &x->trans.x, &x->trans.y}) {
        KOC_RETURN_IF_FAILED(readDouble(in, v));
    }
    return 0;
}
int32_t readPolarity(karca_archiveObjectLoad* in, koc_charPolarity* value) noexcept
{
    return readUInt32(in, value);
}

size_t bytesLeft(const karca_archiveObjectLoad* in) noexcept
{
    return in->store->limit - in->store->position;
}

int32_t checkCount(const karca_archiveObjectLoad* in, int32_t count, size_t minBytesEach) noexcept
{
    if (count < 0) {
        return KOC_E_ARCHIVE_MALFORMED;
    }
    // Divide rather than multiply: no product can overflow.
    if (minBytesEach != 0 && static_cast<size_t>(count) > bytesLeft(in) / minBytesEach) {
        return KOC_E_ARCHIVE_TRUNCATED;
    }
    return 0;
}

int32_t beginRecord(karca_archiveObjectLoad* in, uint16_t typeId, RecordScope* scope) noexcept
{
    KOC_ASSERT(in != nullptr && in->store != nullptr && scope != nullptr);
    karca_loadStore_* s = in->store;
    const size_t left = s->limit - s->position;
    if (left == 0) {
        return KOC_E_ARCHIVE_NO_OBJECT;
    }
    if (left < kPreambleSize) {
        return KOC_E_ARCHIVE_TRUNCATED;
    }
    const uint8_t* p = s->bytes.data() + s->position;
    const uint16_t id = decodeLittleEndian<uint16_t>(p);
    const uint8_t flag = p[2];
    const uint32_t length = decodeLittleEndian<uint32_t>(p + 4);
    if (flag > 1 || p[3] != 0 || length < kPreambleSize) {
        return KOC_E_ARCHIVE_MALFORMED;
    }
    // Compared against what is left, so position + length cannot overflow.
    if (length > left) {
        return KOC_E_ARCHIVE_TRUNCATED;
    }
    if (flag == 0) {
        return KOC_E_ARCHIVE_NO_OBJECT;
    }
    if (id != typeId) {
        return KOC_E_ARCHIVE_WRONG_TYPE;
    }
    scope->end = s->position + length;
    scope->outerLimit = s->limit;
    s->position += kPreambleSize;
    s->limit = scope->end;
    return 0;
}

void endRecord(karca_archiveObjectLoad* in, const RecordScope& scope, bool bodyRead) noexcept
{
    karca_loadStore_* s = in->store;
    s->limit = scope.outerLimit;
    if (bodyRead) {
        s->position = scope.end;
    }
}

}  // namespace koc::services::archive

namespace {

using namespace koc::services::archive;
using koc::services::destroyObject;
using koc::services::newObject;

template <class Handle, class Store>
int32_t constructHandle(Handle* h) noexcept
{
    KOC_ASSERT(h != nullptr);
    int32_t rc = 0;
    h->store = newObject<Store>(&rc);
    return rc;
}

template <class Handle>
int32_t destructHandle(Handle* h) noexcept
{
    KOC_ASSERT(h != nullptr);
    destroyObject(h->store);
    h->store = nullptr;
    return 0;
}

// Checks the archive framing: header, then object archives whose lengths
// exactly fill the rest.
bool isArchive(const uint8_t* p, size_t size) noexcept
{
    if (size < kHeaderSize || std::memcmp(p, kMagic, 4) != 0) {
        return false;
    }
    uint32_t format = 0;
    for (size_t i = 0; i < 4; ++i) {
        format |= static_cast<uint32_t>(p[4 + i]) << (8 * i);
    }
    if (format != kFormat) {
        return false;
    }
    size_t at = kHeaderSize;
    while (at < size) {
        if (size - at < 4) {
            return false;
        }
        uint32_t length = 0;
        for (size_t i = 0; i < 4; ++i) {
            length |= static_cast<uint32_t>(p[at + i]) << (8 * i);
        }
        at += 4;
        if (length > size - at) {
            return false;
        }
        at += length;
    }
    return true;
}

}  // namespace

extern "C" {

// The archive's store holds its object archives only; getBuffer puts the
// header in front, so an archive whose bytes were handed over is at once an
// empty archive again.
KOC_API int32_t karca_archiveSave_construct(karca_archiveSave* archive) noexcept
{
    return constructHandle<karca_archiveSave, karca_saveStore_>(archive);
}

KOC_API int32_t karca_archiveSave_destruct(karca_archiveSave* archive) noexcept { return destructHandle(archive); }

KOC_API int32_t karca_archiveSave_appendObject(karca_archiveSave* archive, const karca_archiveObjectSave* object) noexcept
{
    KOC_ASSERT(archive != nullptr && archive->store != nullptr && object != nullptr && object->store != nullptr);
    const auto& body = object->store->bytes;
    if (body.size() > UINT32_MAX) {
        return KOC_E_BAD_ARGUMENT;
    }
    karca_archiveObjectSave view{archive->store};
    const size_t before = archive->store->bytes.size();
    int32_t rc = writeUInt32(&view, static_cast<uint32_t>(body.size()));
    if (rc >= 0) {
        rc = append(archive->store, body.data(), body.size());
    }
    if (rc < 0) {
        archive->store->bytes.resize(before);  // shrinking never allocates
    }
    return rc;
}

KOC_API int32_t karca_archiveSave_getBuffer(karca_archiveSave* archive, void** buffer, int32_t* size) noexcept
{
    KOC_ASSERT(archive != nullptr && archive->store != nullptr && buffer != nullptr && size != nullptr);
    auto& bytes = archive->store->bytes;
    if (bytes.size() > static_cast<size_t>(INT32_MAX) - kHeaderSize) {
        return KOC_E_BAD_ARGUMENT;
    }
    const size_t total = kHeaderSize + bytes.size();
    void* block = nullptr;
    KOC_RETURN_IF_FAILED(ksys_memory_alloc_internal(static_cast<intptr_t>(total), &block));
    auto* out = static_cast<uint8_t*>(block);
    std::memcpy(out, kMagic, 4);
    for (size_t i = 0; i < 4; ++i) {
        out[4 + i] = static_cast<uint8_t>(kFormat >> (8 * i));
    }
    if (!bytes.empty()) {
        std::memcpy(out + kHeaderSize, bytes.data(), bytes.size());
    }
    *buffer = block;
    *size = static_cast<int32_t>(total);
    koc::services::Vector<uint8_t>().swap(bytes);
    return 0;
}

KOC_API int32_t karca_archiveLoad_construct(karca_archiveLoad* archive) noexcept
{
    return constructHandle<karca_archiveLoad, karca_loadStore_>(archive);
}

KOC_API int32_t karca_archiveLoad_destruct(karca_archiveLoad* archive) noexcept { return destructHandle(archive); }

KOC_API int32_t karca_archiveLoad_setBuffer(karca_archiveLoad* archive, const void* buffer, int32_t size) noexcept
{
    KOC_ASSERT(archive != nullptr && archive->store != nullptr);
    karca_loadStore_* s = archive->store;
    s->bytes.clear();
    s->position = 0;
    s->limit = 0;
    if (size < 0 || (buffer == nullptr && size != 0)) {
        return KOC_E_ARCHIVE_BUFFER_REFUSED;
    }
    const auto* p = static_cast<const uint8_t*>(buffer);
    if (!isArchive(p, static_cast<size_t>(size))) {
        return KOC_E_ARCHIVE_BUFFER_REFUSED;
    }
    try {
        s->bytes.assign(p, p + size);
    } catch (const std::bad_alloc&) {
        return KOC_E_OUT_OF_MEMORY;
    }
    s->position = kHeaderSize;
    s->limit = s->bytes.size();
    return 0;
}

KOC_API int32_t karca_archiveLoad_popFrontArchiveObjectLoad(karca_archiveLoad* archive,
                                                             karca_archiveObjectLoad* object) noexcept
{
    KOC_ASSERT(archive != nullptr && archive->store != nullptr && object != nullptr && object->store != nullptr);
    karca_loadStore_* s = archive->store;
    // setBuffer checked the framing, so a length read here is in bounds; the
    // checks stay for an archive that was never given a buffer.
    if (s->limit - s->position < 4) {
        return KOC_E_ARCHIVE_NO_OBJECT;
    }
    karca_archiveObjectLoad view{s};
    uint32_t length = 0;
    KOC_RETURN_IF_FAILED(readUInt32(&view, &length));
    if (length > s->limit - s->position) {
        return KOC_E_ARCHIVE_TRUNCATED;
    }
    const uint8_t* p = s->bytes.data() + s->position;
    karca_loadStore_* o = object->store;
    try {
        o->bytes.assign(p, p + length);
    } catch (const std::bad_alloc&) {
        s->position -= 4;
        return KOC_E_OUT_OF_MEMORY;
    }
    o->position = 0;
    o->limit = o->bytes.size();
    s->position += length;
    return 0;
}

KOC_API int32_t karca_archiveObjectSave_construct(karca_archiveObjectSave* object) noexcept
{
    return constructHandle<karca_archiveObjectSave, karca_saveStore_>(object);
}

KOC_API int32_t karca_archiveObjectSave_destruct(karca_archiveObjectSave* object) noexcept
{
    return destructHandle(object);
}

KOC_API int32_t karca_archiveObjectLoad_construct(karca_archiveObjectLoad* object) noexcept
{
    return constructHandle<karca_archiveObjectLoad, karca_loadStore_>(object);
}

KOC_API int32_t karca_archiveObjectLoad_destruct(karca_archiveObjectLoad* object) noexcept
{
    return destructHandle(object);
}

}  // extern "C"
