/* koc.h: everything a host needs. The library keeps no state between calls
 * and reads no files or environment; distinct records may be used on
 * distinct threads at once, one record by one thread at a time. */
#ifndef KOC_H
#define KOC_H

#include "koc/koc_result.h"
#include "koc/ksys.h"
#include "koc/kstd.h"
#include "koc/kmath.h"
#include "koc/kimg.h"
#include "koc/koc_char.h"
#include "koc/koc_params.h"
#include "koc/koc_stats.h"
#include "koc/karca.h"
#include "koc/koc_hypotheses.h"
#include "koc/koc_lineextract.h"
#include "koc/koc_results.h"
#include "koc/koc_segment.h"
#include "koc/koc_autoparams.h"
#include "koc/kip_edgelets.h"
#include "koc/koc_extensions.h"
#include "koc/kip_pyramid.h"
#include "koc/kip_thresh.h"
#include "koc/koc_diags.h"
#include "koc/koc_types.h"

#endif
