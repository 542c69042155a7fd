/* koc_diags.h: the diagnostic-drawing hook.
 *
 * koc_drawDiags exists so that hosts written against a drawing hook link and
 * run: it prepares its seven working graphics lists and releases them again,
 * drawing nothing. None of its three arguments is read (any may be null); it
 * returns 0, or KOC_E_OUT_OF_MEMORY when a working list cannot be made.
 * Thread-safe. */
#ifndef KOC_DIAGS_H
#define KOC_DIAGS_H

#include "koc/koc_export.h"

KOC_EXTERN_C_BEGIN

KOC_API int32_t koc_drawDiags(const void* a, const void* b, void* c) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
