// segment_fuzz.cpp: the three segmentation entry points (8-bit, 16-bit,
// range image) on an image, one or two rectangles and a run-parameter
// record whose every field comes from the bytes.
#include "image_source.hpp"
#include "params_source.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Bytes in(data, size);
    fuzz::Subject subject;
    if (!fuzz::decodeSubject(in, subject)) {
        return 0;
    }
    const int32_t width = subject.width, height = subject.height;
    kimg_image* const image = &subject.image.image;
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    koc_charSegmentResult result;
    koc_charSegmentResult_construct(&result);
    kstd_vector_kmath_shapeAffineRect rects;
    kstd_vector_kmath_shapeAffineRect_constructEmpty(&rects);
    const int32_t count = in.range(1, 2);
    for (int32_t i = 0; i < count; ++i) {
        const kmath_shapeAffineRect r = fuzz::decodeRect(in, width, height);
        kstd_vector_kmath_shapeAffineRect_pushBack(&rects, &r);
    }
    fuzz::decodeParams(in, params);
    if (subject.kind == 0) {
        koc_segmentCharacters8(image, &rects, &params, &result);
    } else if (subject.kind == 1) {
        koc_segmentCharacters16(image, &rects, &params, &result);
    } else {
        k3img_rangeImage16 range;
        k3img_rangeImage16_construct(&range);
        if (fuzz::decodeRangeMask(in, subject, &range)) {
            koc_segmentCharactersRangeImage16(&range, &rects, &params, &result);
        }
        k3img_rangeImage16_destruct(&range);
    }
    kstd_vector_kmath_shapeAffineRect_destruct(&rects);
    koc_charSegmentResult_destruct(&result);
    koc_charSegmentRunParams_destruct(&params);
    return 0;
}
