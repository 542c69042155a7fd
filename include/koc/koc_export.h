/* koc_export.h: export and linkage macros shared by every public header.
 *
 * The library is built with hidden visibility; only declarations marked
 * KOC_API leave the binary. Headers are plain C so that C hosts and foreign
 * function bindings can use every record as it is. */
#ifndef KOC_EXPORT_H
#define KOC_EXPORT_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(KOC_BUILDING_LIBRARY)
#    define KOC_API __declspec(dllexport)
#  else
#    define KOC_API __declspec(dllimport)
#  endif
#else
#  define KOC_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#  define KOC_NOEXCEPT noexcept
#  define KOC_EXTERN_C_BEGIN extern "C" {
#  define KOC_EXTERN_C_END }
#else
#  define KOC_NOEXCEPT
#  define KOC_EXTERN_C_BEGIN
#  define KOC_EXTERN_C_END
#endif

#endif
