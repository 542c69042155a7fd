// line_data.hpp: the working data of one text line: blob results, element
// lists at their successive stages, the hypothesis tree, the state of the
// tree walk, and the character windows. A line result owns one; the driver
// resets it before each run and the stages fill it in order.
#pragma once

#include "koc/koc_hypotheses.h"
#include "services/blob.hpp"

namespace koc::hypotheses {

// State shared by the walk callbacks and the pitch pre-pass.
struct LineRunContext {
    koc_charSegmentRunParams runParams;     // the driver's copy
    koc_stringStats bestStats;              // of the best complete path so far
    kstd_vector32s bestPath;                // fragment-set indices, -1 = left out
    int32_t currentDepth;
    kstd_vector_koc_stringStats depthStats; // entry d-1: the prefix of length d
    int32_t bestCost;                       // violation count of bestPath
};

int32_t construct(LineRunContext* c) noexcept;
int32_t destruct(LineRunContext* c) noexcept;
int32_t reset(LineRunContext* c) noexcept;
int32_t assign(LineRunContext* dst, const LineRunContext* src) noexcept;

}  // namespace koc::hypotheses

struct koc_charSegmentLineResultData_ {
    koc::services::BlobResultSet blobResults;
    uint32_t status = 0;  // 0 after reset and while an assign is under way
    kstd_vector32s listA;
    kstd_vector32s listB;
    kstd_rect32 bandRect;          // written by the line splitter
    kstd_rect32 inkRect;           // written by the line splitter
    int32_t minMergedGap;          // running extremes of inner gaps of merged pairs
    int32_t maxMergedGap;
    kimg_imageConst sourceImage;
    kimg_imageConst workingImage;  // normalised, possibly background-suppressed
    kmath_xformLinear lineFrameScale;
    double typicalElementHeight;
    int32_t croppedCount;          // elements cropped to the maximum character height
    kstd_vector_koc_charSegmentElementInfo rawElements;
    kstd_vector_koc_charSegmentElementInfo treeElements;
    kstd_vector_koc_charSegmentElementInfo thirdElements;
    koc_charHypothesisTree tree;
    koc::hypotheses::LineRunContext runContext;
    kstd_vector_koc_charWindow_ windows;
    kstd_vector_koc_charSegmentElementInfo charElements;
};

namespace koc::hypotheses {

int32_t construct(koc_charSegmentLineResultData_* d) noexcept;
int32_t destruct(koc_charSegmentLineResultData_* d) noexcept;

}  // namespace koc::hypotheses
