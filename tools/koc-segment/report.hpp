// report.hpp: --report, one self-contained HTML page for all images of a
// run: every picture is a data URI, the page needs no network and no
// framework. Built in two steps so the workers can render each image's
// section while its pixels are still in memory.
#pragma once

#include <string>
#include <vector>

#include <koc/koc.h>

#include "image_io.hpp"
#include "run.hpp"

namespace kocseg {

// One image's section: its overlay with the positions drawn over it as
// shapes, per paragraph what the estimator measured and chose (when it
// ran), per line the rectified, normalised and binarised images and the
// table of positions. Hovering a position's row highlights its mark and
// cell in the picture (and hovering a shape highlights its row). index
// makes the element ids unique on the page. grey may be null (the image
// could not be read): the section then lists the failures only.
std::string reportSection(const ImageReport& report, const GreyImage* grey, int32_t overlayScale, size_t index);

// The whole page: a summary of the run, the run parameters with their help
// lines, then the sections in input order.
std::string reportPage(const std::vector<std::string>& sections, const std::vector<ImageReport>& reports,
                       const koc_charSegmentRunParams& params, bool autoParams);

} // namespace kocseg
