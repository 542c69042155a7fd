/* ksys.h: process services: assertion reporting, the attention check that
 * lets a host cancel or time-limit a call, the allocator every record uses,
 * and the processor-feature enabler.
 *
 * Handlers are process-wide (and, for the attention check, also per thread).
 * Installing a handler is thread-safe; a handler itself must be thread-safe
 * when the library runs on several threads. */
#ifndef KOC_KSYS_H
#define KOC_KSYS_H

#include "koc/koc_export.h"

KOC_EXTERN_C_BEGIN

/* ---- assertion ---- */
/* Called for a violated precondition with the source file and line. The
 * default prints them to stderr and aborts. A handler that returns lets the
 * failing function return a failure code. */
typedef void (*ksys_assertHandler)(void* context, const char* file, int32_t line);

/* Installs handler (null restores the default); the previous handler and its
 * context are stored when the out pointers are not null. */
KOC_API int32_t ksys_assert_setHandler(ksys_assertHandler handler, void* context, ksys_assertHandler* previous, void** previousContext) KOC_NOEXCEPT;

/* ---- attention check ---- */
/* Returns 0 to let work go on, a negative code to stop it; that code is what
 * the running library call returns. */
typedef int32_t (*ksys_attentionHandler)(void* context);

/* Process-wide handler, and a handler for the calling thread only. Long calls
 * poll the thread's handler first, then the process-wide one. Null removes. */
KOC_API int32_t ksys_attention_setProcessHandler(ksys_attentionHandler handler, void* context) KOC_NOEXCEPT;
KOC_API int32_t ksys_attention_setThreadHandler(ksys_attentionHandler handler, void* context) KOC_NOEXCEPT;
/* 0, or the first negative answer of the installed handlers. */
KOC_API int32_t ksys_attention_check(void) KOC_NOEXCEPT;

/* ---- memory ---- */
/* All memory of records, vectors and images comes from here. */
KOC_API int32_t ksys_memory_alloc_internal(intptr_t size, void** block) KOC_NOEXCEPT;
/* Frees *block (null is allowed) and sets *block to null. */
KOC_API int32_t ksys_memory_free_internal(void** block) KOC_NOEXCEPT;

/* Replaces the process allocator (null pointers restore malloc/free). Only
 * change it while no library call runs and no block from the previous
 * allocator is alive. allocate stores a block of size bytes, or returns a
 * negative code. */
typedef struct ksys_memoryHooks {
    int32_t (*allocate)(void* context, intptr_t size, void** block);
    void (*release)(void* context, void* block);
    void* context;
} ksys_memoryHooks;
KOC_API int32_t ksys_memory_setHooks(const ksys_memoryHooks* hooks) KOC_NOEXCEPT;

/* ---- processor features ---- */
/* featureBits: the optimised kernels this processor can run. */
#define KSYS_CPU_FEATURE_AVX2 0x00000001u /* x86 AVX2: gradient field and projection kernels */

typedef struct ksys_cpuinfo {
    uint32_t featureBits;     /* KSYS_CPU_FEATURE_* bits; 0: portable code only */
    int32_t logicalProcessors;
} ksys_cpuinfo;

/* Enables processor features for the current thread for the length of a
 * call. The optimised kernels need nothing switched on, so it changes
 * nothing. */
KOC_API int32_t ksys_cpuinfo_init_(uint32_t mode, uint32_t features) KOC_NOEXCEPT;
KOC_API int32_t ksys_cpuinfo_get(ksys_cpuinfo* info) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
