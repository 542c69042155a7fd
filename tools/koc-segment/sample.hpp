// sample.hpp: the embedded sample, a dot-matrix code line of the kind an
// inkjet printer puts on packaging, rendered at start-up.
#pragma once

#include "image_io.hpp"

namespace kocseg {

// The text of the sample line.
const char* sampleText();

// The sample: sampleText() in 5x7 dot-matrix glyphs (dark dots on a light,
// slightly uneven ground with a little noise), 8-bit. The same pixels on
// every call.
GreyImage renderSample();

} // namespace kocseg
