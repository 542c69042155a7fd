// archive.hpp: the byte layer under the karca_ handles: growable byte
// buffers, object preambles and the primitive writers and readers, in one
// fixed little-endian layout.
//
// Layout. An archive buffer is the magic "KARC", a UInt32 format (1), then
// each object archive as a UInt32 length and that many bytes. An object
// record starts with an 8-byte preamble: UInt16 type identifier, UInt8
// presence flag (1 object, 0 none), UInt8 0, UInt32 record length (preamble
// included), patched once the body is written.
//
// Readers never read past the current limit: the end of the object archive,
// or of the object record being read, whichever is nearer. Writers and
// readers return 0 or a negative code and never throw.
#pragma once

#include <cstddef>
#include <cstdint>

#include "koc/karca.h"
#include "services/memory.hpp"

struct karca_saveStore_ {
    koc::services::Vector<uint8_t> bytes;
};

struct karca_loadStore_ {
    koc::services::Vector<uint8_t> bytes;
    size_t position = 0;
    size_t limit = 0;  // reads stop here; bytes.size() outside any record
};

namespace koc::services::archive {

inline constexpr size_t kPreambleSize = 8;
inline constexpr uint8_t kMagic[4] = {'K', 'A', 'R', 'C'};
inline constexpr uint32_t kFormat = 1;
inline constexpr size_t kHeaderSize = 8;

// ---- writers ----
int32_t writeUInt8(karca_archiveObjectSave* out, uint8_t value) noexcept;
int32_t writeBool(karca_archiveObjectSave* out, int32_t value) noexcept;  // non-zero is written as 1
int32_t writeUInt16(karca_archiveObjectSave* out, uint16_t value) noexcept;
int32_t writeInt32(karca_archiveObjectSave* out, int32_t value) noexcept;
int32_t writeUInt32(karca_archiveObjectSave* out, uint32_t value) noexcept;
int32_t writeDouble(karca_archiveObjectSave* out, double value) noexcept;
int32_t writeXform(karca_archiveObjectSave* out, const kmath_xformLinear& value) noexcept;  // a, b, c, d, tx, ty
int32_t writePolarity(karca_archiveObjectSave* out, koc_charPolarity value) noexcept;   // as UInt32

// Starts an object record; *start receives its offset for patchLength.
int32_t writePreamble(karca_archiveObjectSave* out, uint8_t flag, uint16_t typeId, size_t* start) noexcept;
// Stores the record's length (all bytes since start) in its preamble.
// KOC_E_BAD_ARGUMENT when the record has outgrown 32 bits.
int32_t patchLength(karca_archiveObjectSave* out, size_t start) noexcept;

// ---- readers ----
// KOC_E_ARCHIVE_TRUNCATED when the value does not fit before the limit;
// nothing is consumed then.
int32_t readUInt8(karca_archiveObjectLoad* in, uint8_t* value) noexcept;
int32_t readBool(karca_archiveObjectLoad* in, int32_t* value) noexcept;  // KOC_E_ARCHIVE_MALFORMED unless 0 or 1
int32_t readInt32(karca_archiveObjectLoad* in, int32_t* value) noexcept;
int32_t readUInt32(karca_archiveObjectLoad* in, uint32_t* value) noexcept;
int32_t readDouble(karca_archiveObjectLoad* in, double* value) noexcept;
int32_t readXform(karca_archiveObjectLoad* in, kmath_xformLinear* value) noexcept;
int32_t readPolarity(karca_archiveObjectLoad* in, koc_charPolarity* value) noexcept;

// Bytes left before the limit.
size_t bytesLeft(const karca_archiveObjectLoad* in) noexcept;

// A count read from the stream, checked before anything is sized by it:
// KOC_E_ARCHIVE_MALFORMED when negative, KOC_E_ARCHIVE_TRUNCATED when count
// items of at least minBytesEach bytes cannot fit in what is left.
int32_t checkCount(const karca_archiveObjectLoad* in, int32_t count, size_t minBytesEach) noexcept;

// An object record being read. beginRecord reads the preamble:
// KOC_E_ARCHIVE_NO_OBJECT when the limit is reached or the flag says none,
// KOC_E_ARCHIVE_WRONG_TYPE for another identifier, KOC_E_ARCHIVE_TRUNCATED
// for a preamble or stored length that runs past the limit,
// KOC_E_ARCHIVE_MALFORMED for a bad flag byte or a length shorter than the
// preamble. On success reads are limited to the record until endRecord,
// which restores the outer limit and, when the body was read, moves to the
// record's end (also when the body was shorter than the stored length).
struct RecordScope {
    size_t end = 0;
    size_t outerLimit = 0;
};
int32_t beginRecord(karca_archiveObjectLoad* in, uint16_t typeId, RecordScope* scope) noexcept;
void endRecord(karca_archiveObjectLoad* in, const RecordScope& scope, bool bodyRead) noexcept;

}  // namespace koc::services::archive
