/* koc_extensions.h: opt-in help for hard input, beside the segmentation
 * entry points.
 *
 * The koc_segmentCharactersExt* functions take the same arguments as their
 * koc_segmentCharacters* twins plus one koc_charSegmentExtensions record.
 * A record with every switch off (the constructed state) makes them behave
 * exactly as the twins; each switch changes only what it says:
 *
 * - splitTouchingGlyphs: in refinement, before the wide split and again
 *   after it, an element at least one and a half glyphs wide is cut where a
 *   path from its top to its bottom crosses at most half a stroke width of
 *   ink (rounded up); one at least 1.7 glyphs wide (two glyphs pushed into
 *   each other) also where such a path near an even division of its width
 *   crosses at most a stroke width. The path may slant or bend, so it parts
 *   W from A and A from V, whose columns overlap. One glyph's width comes
 *   from the line's isolated glyphs; a W or an M alone has no such path and
 *   stays whole. Each piece's mark is its own ink box.
 * - walkNodeBudget: the hypothesis walk of a line visits at most this many
 *   path prefixes per fragment of the line (0: no limit beyond the walk's
 *   own cap on complete paths). It never stops before its first complete
 *   path, so a line always gets a segmentation.
 * - bandAwareElements: a paragraph of one text line (numLines 1) finds its
 *   line as the band of the characters' ink (elements far smaller than the
 *   characters count for nothing, however many) that agrees with the band
 *   line extraction found, not as the band of the most blobs; an element
 *   is on it when most of its ink is; and no merge makes an element taller
 *   than that band plus a third of it above and below (ascenders,
 *   descenders). Specks above and below the line then stay out of its
 *   marks. Over several lines elements are chosen as without the switch.
 *
 * Codes: those of the twins, and KOC_E_BAD_ARGUMENT from validate (and from
 * the entry points) for a switch other than 0 or 1 or a negative budget. */
#ifndef KOC_EXTENSIONS_H
#define KOC_EXTENSIONS_H

#include "koc/koc_lifecycle.h"
#include "koc/koc_segment.h"

KOC_EXTERN_C_BEGIN

typedef struct koc_charSegmentExtensions {
    uint32_t splitTouchingGlyphs; /* 0 or 1 */
    int32_t walkNodeBudget;       /* prefixes per fragment; 0: none */
    uint32_t bandAwareElements;   /* 0 or 1 */
} koc_charSegmentExtensions;

KOC_DECLARE_LIFECYCLE(koc_charSegmentExtensions)
KOC_API int32_t koc_charSegmentExtensions_validate(const koc_charSegmentExtensions* ext) KOC_NOEXCEPT;

KOC_API int32_t koc_segmentCharactersExt8(const kimg_imageConst* image, const kstd_vector_kmath_shapeAffineRect* rects,
                                          const koc_charSegmentRunParams* params,
                                          const koc_charSegmentExtensions* ext,
                                          koc_charSegmentResult* result) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharactersExt16(const kimg_imageConst* image16,
                                           const kstd_vector_kmath_shapeAffineRect* rects,
                                           const koc_charSegmentRunParams* params,
                                           const koc_charSegmentExtensions* ext,
                                           koc_charSegmentResult* result) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharactersRangeImageExt16(const k3img_rangeImage16Const* range,
                                                     const kstd_vector_kmath_shapeAffineRect* rects,
                                                     const koc_charSegmentRunParams* params,
                                                     const koc_charSegmentExtensions* ext,
                                                     koc_charSegmentResult* result) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharactersParagraphExt8(const kimg_imageConst* image, const kmath_shapeAffineRect* rect,
                                                   const koc_charSegmentRunParams* params,
                                                   const koc_charSegmentExtensions* ext,
                                                   koc_charSegmentParagraphResult* result) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharactersParagraphExt16(const kimg_imageConst* image16, const kmath_shapeAffineRect* rect,
                                                    const koc_charSegmentRunParams* params,
                                                    const koc_charSegmentExtensions* ext,
                                                    koc_charSegmentParagraphResult* result) KOC_NOEXCEPT;
KOC_API int32_t koc_segmentCharactersParagraphRangeImageExt16(const k3img_rangeImage16Const* range,
                                                              const kmath_shapeAffineRect* rect,
                                                              const koc_charSegmentRunParams* params,
                                                              const koc_charSegmentExtensions* ext,
                                                              koc_charSegmentParagraphResult* result) KOC_NOEXCEPT;
/* The segmentation step of the two-step road (koc_segmentCharactersOnly_)
 * with extensions. */
KOC_API int32_t koc_segmentCharactersOnlyExt_(const koc_lineExtractResult* line, const koc_charSegmentRunParams* params,
                                              const koc_charSegmentExtensions* ext,
                                              koc_charSegmentParagraphResult* result) KOC_NOEXCEPT;

KOC_EXTERN_C_END

#endif
