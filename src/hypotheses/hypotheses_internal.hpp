// hypotheses_internal.hpp: the hypothesis road of one line, as the
// segmentation driver runs it: build the tree from the line's tree elements,
// try the pitch pre-pass, and walk the tree unless the pre-pass settled the
// line. Each leaves its choice in the run context's best path.
#pragma once

#include "hypotheses/line_data.hpp"

namespace koc::hypotheses {

// Copies the run parameters into the line's run context and builds the
// line's hypothesis tree from its tree elements.
int32_t buildLineTree(koc_charSegmentLineResultData_* data, const koc_charSegmentRunParams* params,
                      const kimg_image* workingImage) noexcept;

// The pitch pre-pass over the line's tree. *settled is true when it found a
// regular path without violations; that path is then the run context's best
// path and the walk is not needed.
int32_t runPitchPrePass(koc_charSegmentLineResultData_* data, const koc_charSegmentRunParams* params,
                        const kimg_image* workingImage, bool* settled) noexcept;

// Walks the line's tree with the path ordering and scoring callbacks; the
// best complete path ends up in the run context. A positive nodeBudget
// bounds the path prefixes visited (see walkTree); *visited (may be null)
// receives their number.
int32_t walkLineTree(koc_charSegmentLineResultData_* data, int64_t nodeBudget = 0,
                     int64_t* visited = nullptr) noexcept;

}  // namespace koc::hypotheses
