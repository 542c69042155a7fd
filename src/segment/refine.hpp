// refine.hpp: the helpers behind refineLineElements (segment_internal.hpp):
// the line blob image, the transitive merge of broken characters, the crop
// of over-tall elements to the heaviest band of rows, and the
// re-segmentation of marked elements. Open to the tests and to the
// wide-element split (wide_split.hpp), which shares the width limit, the
// projections and the re-segmentation.
#pragma once

#include <cstdint>

#include "segment/segment_internal.hpp"
#include "services/memory.hpp"

namespace koc::segment {

// One sum of pixel values per column or per row of a rectangle.
using Profile = services::Vector<uint32_t>;

constexpr int32_t kNoLimit = 2147483647;

// The gap rules of gapMode: 1 sets no limit (the overlap fraction decides
// instead); 2 makes every gap below minCharGap an inner gap; 4 takes both
// limits from the parameters. KOC_E_GAP_MODE for any other mode.
struct GapLimits {
    int32_t minGap = 0;
    int32_t maxInnerGap = kNoLimit;
};
int32_t gapLimits(const koc_charSegmentRunParams* params, GapLimits* limits) noexcept;

// The widest a character may be on the line the elements form (from their
// vertical extent when limitAspect is on); kNoLimit when nothing limits it.
int32_t lineMaxCharWidth(const Elements* elements, const koc_charSegmentRunParams* params, int32_t* width) noexcept;

// Column sums (columns, rect.width entries) and row sums (rows, rect.height
// entries) of the pixels of rect, in image coordinates; either output may be
// null. KOC_E_WINDOW_OUTSIDE_IMAGE when rect leaves the image's window.
int32_t projectRect(const kimg_image* image, const kstd_rect32& rect, Profile* columns, Profile* rows) noexcept;

// An 8-bit image over the union of the listed blobs' boxes, 255 on their
// pixels and 0 elsewhere; unbound for an empty list.
int32_t renderLineBlobs(const services::BlobResultSet* blobs, const services::Vector<int32_t>& indices,
                        kimg_image* image) noexcept;

// Whether candidate a joins a group through member b (spans [x, x + width)).
// Overlapping elements always merge, except in gapMode 1, where the overlap
// must reach fraction8 / 256 of the narrower width. Separate ones merge only
// with gapMode 2 or 4, when the gap is an inner gap and neither a with b nor
// a with the group rectangle grows wider than largestWidth. *gap is the gap
// looked at (0 for overlaps and in gapMode 1).
int32_t shouldMergeElements(const koc_charSegmentElementInfo& a, const koc_charSegmentElementInfo& b,
                            const kstd_rect32& groupRect, uint32_t gapMode, int32_t fraction8, int32_t minGap,
                            int32_t maxInnerGap, int32_t largestWidth, int32_t* gap, int32_t* merge) noexcept;

// Groups the elements transitively in list order (after each join the scan
// restarts behind the group's first element) and replaces the list by one
// element per group, sorted by x. The line data's min/max merged gap take in
// the gap of every join. No group grows taller than maxGroupHeight rows.
int32_t mergeTouchingElements(LineData* data, Elements* elements, const koc_charSegmentRunParams* params,
                              int32_t maxGroupHeight = kNoLimit) noexcept;

// Sorts by x ascending (equal x keep their order) and numbers the elements
// by position in auxIndex.
int32_t sortElementsByX(Elements* elements) noexcept;

// Crops every element taller than maxCharHeight to that height, keeping the
// part nearest the heaviest band of maxCharHeight rows of the blob image,
// counts it in data->croppedCount and re-segments it (mode 1). Nothing
// unless limitCharHeight is on.
int32_t cropTallElements(LineData* data, Elements* elements, const kimg_image* workingImage,
                         const kimg_image* blobImage, const koc_charSegmentRunParams* params,
                         int32_t* changed) noexcept;

// Runs blob analysis inside each element marked with area < 0 and puts what
// it finds at the end of the list (mode 0: one element, the union; mode 1:
// one per blob). *changed when an element came back as another number of
// elements, or as one of another x or width; the list is re-sorted by x only
// when the number of elements changed.
int32_t resegmentMarkedElements(Elements* elements, const kimg_image* workingImage,
                                const koc_charSegmentRunParams* params, int32_t mode, int32_t* changed) noexcept;

// Blob analysis of the working image inside e's rectangle; appends one
// element (mode 0, the union of the blobs found) or one per blob (mode 1) to
// out. Nothing is appended when no blob is found.
int32_t resegmentElement(const koc_charSegmentElementInfo& e, const kimg_image* workingImage,
                         const koc_charSegmentRunParams* params, int32_t mode,
                         services::Vector<koc_charSegmentElementInfo>* out) noexcept;

}  // namespace koc::segment
