/* karca.h: byte archives, and the save and load functions of the archivable
 * records (line statistics, all-elements statistics, affine rectangles and
 * vectors of them).
 *
 * An archive (karca_archiveSave / karca_archiveLoad) is a sequence of object
 * archives; an object archive holds object records: a preamble (type
 * identifier, presence flag, record length), then the record's body. Values
 * are stored little-endian whatever the host's byte order, doubles as their
 * IEEE-754 bit pattern (NaN payloads survive). Every handle owns its bytes;
 * a load archive copies the buffer it is given. Handles must be constructed
 * before use and destructed after; one handle belongs to one thread at a time.
 *
 * Loading checks every length against the bytes that are there: a buffer
 * that is not an archive is refused (KOC_E_ARCHIVE_BUFFER_REFUSED); a record
 * that is absent, of another type or of a newer version gives
 * KOC_E_ARCHIVE_NO_OBJECT, KOC_E_ARCHIVE_WRONG_TYPE or KOC_E_ARCHIVE_VERSION;
 * a value or count that runs past its record gives KOC_E_ARCHIVE_TRUNCATED,
 * a flag byte or length that cannot be valid KOC_E_ARCHIVE_MALFORMED. A
 * failing load leaves the fields read so far changed, but never marks a
 * record computed. */
#ifndef KOC_KARCA_H
#define KOC_KARCA_H

#include "koc/koc_stats.h"

KOC_EXTERN_C_BEGIN

typedef struct karca_saveStore_ karca_saveStore_; /* opaque, owned */
typedef struct karca_loadStore_ karca_loadStore_; /* opaque, owned */

typedef struct karca_archiveSave {
    karca_saveStore_* store;
} karca_archiveSave;

typedef struct karca_archiveObjectSave {
    karca_saveStore_* store;
} karca_archiveObjectSave;

typedef struct karca_archiveLoad {
    karca_loadStore_* store;
} karca_archiveLoad;

typedef struct karca_archiveObjectLoad {
    karca_loadStore_* store;
} karca_archiveObjectLoad;

KOC_API int32_t karca_archiveSave_construct(karca_archiveSave* archive) KOC_NOEXCEPT;
KOC_API int32_t karca_archiveSave_destruct(karca_archiveSave* archive) KOC_NOEXCEPT;
/* Appends a copy of the object archive's records as the archive's next object. */
KOC_API int32_t karca_archiveSave_appendObject(karca_archiveSave* archive, const karca_archiveObjectSave* object) KOC_NOEXCEPT;
/* Hands the archive's bytes to the caller: *buffer is a block of *size bytes
 * from ksys_memory_alloc_internal, to be released with
 * ksys_memory_free_internal. The archive is empty afterwards, ready for
 * new objects. */
KOC_API int32_t karca_archiveSave_getBuffer(karca_archiveSave* archive, void** buffer, int32_t* size) KOC_NOEXCEPT;

KOC_API int32_t karca_archiveLoad_construct(karca_archiveLoad* archive) KOC_NOEXCEPT;
KOC_API int32_t karca_archiveLoad_destruct(karca_archiveLoad* archive) KOC_NOEXCEPT;
/* Copies size bytes of buffer into the archive and checks its framing;
 * KOC_E_ARCHIVE_BUFFER_REFUSED (archive emptied) when it is not an archive. */
KOC_API int32_t karca_archiveLoad_setBuffer(karca_archiveLoad* archive, const void* buffer, int32_t size) KOC_NOEXCEPT;
/* Moves the archive's next object into object (replacing what it held);
 * KOC_E_ARCHIVE_NO_OBJECT when none is left. */
KOC_API int32_t karca_archiveLoad_popFrontArchiveObjectLoad(karca_archiveLoad* archive, karca_archiveObjectLoad* object) KOC_NOEXCEPT;

KOC_API int32_t karca_archiveObjectSave_construct(karca_archiveObjectSave* object) KOC_NOEXCEPT;
KOC_API int32_t karca_archiveObjectSave_destruct(karca_archiveObjectSave* object) KOC_NOEXCEPT;
KOC_API int32_t karca_archiveObjectLoad_construct(karca_archiveObjectLoad* object) KOC_NOEXCEPT;
KOC_API int32_t karca_archiveObjectLoad_destruct(karca_archiveObjectLoad* object) KOC_NOEXCEPT;

/* Per archivable type T:
 *   karca_archiveObjectSave_pushBack_T  appends T's body;
 *   karca_archiveObjectLoad_popFront_T  reads T's body;
 *   karca_archiveObjectSave_byValue_T   appends an object record of T;
 *   karca_archiveObjectLoad_byValue_T   reads one, then moves past its stored length;
 *   karca_archiveSave_byValue_T         appends an object archive holding one record;
 *   karca_archiveLoad_byValue_T         reads the record from the archive's next object. */
#define KARCA_DECLARE_ARCHIVE_FUNCTIONS(T)                                                                       \
    KOC_API int32_t karca_archiveObjectSave_pushBack_##T(karca_archiveObjectSave* object, const T* value) KOC_NOEXCEPT; \
    KOC_API int32_t karca_archiveObjectLoad_popFront_##T(karca_archiveObjectLoad* object, T* value) KOC_NOEXCEPT;       \
    KOC_API int32_t karca_archiveObjectSave_byValue_##T(karca_archiveObjectSave* object, const T* value) KOC_NOEXCEPT;  \
    KOC_API int32_t karca_archiveObjectLoad_byValue_##T(karca_archiveObjectLoad* object, T* value) KOC_NOEXCEPT;        \
    KOC_API int32_t karca_archiveSave_byValue_##T(karca_archiveSave* archive, const T* value) KOC_NOEXCEPT;             \
    KOC_API int32_t karca_archiveLoad_byValue_##T(karca_archiveLoad* archive, T* value) KOC_NOEXCEPT;

KARCA_DECLARE_ARCHIVE_FUNCTIONS(koc_charSegmentAllElementsStats)
KARCA_DECLARE_ARCHIVE_FUNCTIONS(koc_charSegmentLineResultStats)
KARCA_DECLARE_ARCHIVE_FUNCTIONS(kmath_shapeAffineRect)
KARCA_DECLARE_ARCHIVE_FUNCTIONS(kstd_vector_kmath_shapeAffineRect)

KOC_EXTERN_C_END

#endif
