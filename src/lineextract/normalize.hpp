// normalize.hpp: line normalisation and polarity decision. Turns a rectified
// line image into the normalised image the segmentation reads (text about
// the centre grey level 128, or 32768 for 16 bit; marks pushed to one end,
// background to the other; outside the line mask painted as background) and,
// when the polarity is left open (4), decides dark-on-light (1) or
// light-on-dark (2) from which side of the centre owns the border.
//
// Outputs are owned by the caller's handles and written only on success
// (normalizeLineImage unbinds its output first). Own codes:
// KOC_E_NORMALIZATION_MODE for a mode other than 1, 2, 4, 8 and
// KOC_E_POLARITY for a polarity other than 1, 2, 4; everything else comes
// from the pixel services unchanged. Distinct images may be normalised on
// distinct threads.
#pragma once

#include <cstdint>

#include "koc/koc_lineextract.h"

namespace koc::lineextract {

enum : uint32_t {
    kPolarityDarkOnLight = 1,
    kPolarityLightOnDark = 2,
    kPolarityUndecided = 4,
};

enum : uint32_t {
    kNormalizeCopy = 1,
    kNormalizeGlobalStretch = 2,
    kNormalizeLocalMean = 4,
    kNormalizeLocalContrast = 8,
};

// The driver's entry. polarityOut receives params->polarity, or the decided
// polarity when that is 4. A local mode (4, 8) without a positive height
// leaves normalizedOut unbound and succeeds. When the resulting polarity is
// decided and lineMask is bound, the pixels outside the mask are painted 0
// (polarity 2) or the top grey level (polarity 1).
int32_t normalizeLineImage(const kimg_image* lineImage8, const kimg_imageRle* lineMask,
                           const koc_lineExtractParams* params, double height, uint32_t* polarityOut,
                           kimg_image* normalizedOut) noexcept;
int32_t normalizeLineImage16(const kimg_image* lineImage16, const kimg_imageRle* lineMask,
                             const koc_lineExtractParams* params, double height, uint32_t* polarityOut,
                             kimg_image* normalizedOut16) noexcept;

// One normalisation: mode 1 copies, 2 stretches about the image's two-class
// threshold, 4 stretches the local-mean-centred image and 8 the
// local-contrast image about a threshold set by the polarity. The local
// kernel comes from height (localMeanKernelSize); a local mode with a
// negative height, or one above 65536 pixels, fails with KOC_E_BAD_ARGUMENT. When secondOut is given it
// receives the image for secondPolarity (modes 1, 2: the same image, shared).
int32_t normalizeByMode8(const kimg_image* image8, uint32_t mode, double height, uint32_t polarity, kimg_image* out,
                         uint32_t secondPolarity = kPolarityUndecided, kimg_image* secondOut = nullptr) noexcept;
int32_t normalizeByMode16(const kimg_image* image16, uint32_t mode, double height, uint32_t polarity,
                          kimg_image* out, uint32_t secondPolarity = kPolarityUndecided,
                          kimg_image* secondOut = nullptr) noexcept;

// The mode-8 image before its polarity stretch: about the centre level,
// slope 1/2 within max(local deviation, 6) of the local mean (kernel kw x
// kh), and beyond that band a slope raised by sigmaMax / sigma for local
// deviations between the floor (0.3 of the strong-deviation tail, at least
// 6) and the largest deviation sigmaMax. Polls the attention check every 64
// rows.
int32_t localContrastImage8(const kimg_image* image8, int32_t kw, int32_t kh, kimg_image* out) noexcept;
int32_t localContrastImage16(const kimg_image* image16, int32_t kw, int32_t kh, kimg_image* out) noexcept;

// Both sides k = the nearest integer to height / 2, raised to 1 when below 2;
// both 0 when the height is negative (or not a number).
int32_t localMeanKernelSize(double height, int32_t* width, int32_t* kernelHeight) noexcept;

// The stretch table about threshold (0 .. top level) with spread >= 0: the
// threshold maps to the centre and the slope is 2 * max(t, top - t) / (3 *
// spread), at most the centre level, in 16.16 fixed point; entries clamp at 0
// and the top level. A spread of 0 maps everything to the centre.
// KOC_E_BAD_ARGUMENT for a threshold outside the levels or a negative spread.
int32_t stretchLut(int32_t threshold, double spread, uint8_t* table256) noexcept;
int32_t stretchLut(int32_t threshold, double spread, uint16_t* table65536) noexcept;
// An 8-bit image through that table, into a fresh image in out.
int32_t stretchImage8(const kimg_image* image8, int32_t threshold, double spread, kimg_image* out) noexcept;

// Compares the border-touching area of the pixels above centre - 1 in a with
// that of the pixels below centre + 1 in b (centre 128 or 32768 by depth):
// larger above gives 1, larger below 2, equal 4.
int32_t decidePolarity(const kimg_image* a, const kimg_image* b, uint32_t* polarity) noexcept;

// Sum of the areas of the blobs (services::labelBlobs with threshold and
// flag) whose bounding box lies on at least two sides of the image window.
int32_t borderBlobArea(const kimg_image* image, int32_t threshold, uint32_t blobPolarityFlag, double* area) noexcept;

// Paints value over the window pixels outside mask, which must hold exactly
// one run per row (a precondition, checked before anything is painted).
// Window rows outside the mask's rows are painted whole.
int32_t fillOutsideLineMask8(kimg_image* image8, const kimg_imageRle* mask, uint8_t value) noexcept;
int32_t fillOutsideLineMask16(kimg_image* image16, const kimg_imageRle* mask, uint16_t value) noexcept;

}  // namespace koc::lineextract
