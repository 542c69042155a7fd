// edgelet_record.hpp: the line's edgelet record (declared in
// koc_lineextract.h): the row edgelets the edgelet locator found on the
// rectified input region, and whether they still describe the line image.
#pragma once

#include "koc/koc_lineextract.h"
