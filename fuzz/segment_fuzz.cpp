// segment_fuzz.cpp: the three segmentation entry points (8-bit, 16-bit,
// range image) on an image, one or two rectangles and a run-parameter
// record whose every field comes from the bytes.
#include "image_source.hpp"
#include "params_source.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Bytes in(data, size);
    const uint8_t kind = in.u8() % 3;
    const int32_t width = in.range(1, 160), height = in.range(1, 64);
    fuzz::OwnedImage image, mask;
    if (!fuzz::decodeImage(in, kind == 0 ? KIMG_DEPTH_8 : KIMG_DEPTH_16, width, height, &image.image)) {
        return 0;
    }
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
    if (kind == 0) {
        koc_segmentCharacters8(&image.image, &rects, &params, &result);
    } else if (kind == 1) {
        koc_segmentCharacters16(&image.image, &rects, &params, &result);
    } else {
        // Mask: all valid, or scattered holes from the bytes.
        const uint8_t holes = in.u8();
        kimg_image_assignNew(&mask.image, KIMG_DEPTH_8, width, height);
        kimg_window m;
        kimg_window_init(&m, &mask.image);
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
                static_cast<uint8_t*>(m.pixels)[y * m.pitch + x] = (holes != 0 && (x * 31 + y * 17) % (holes + 1) == 0) ? 0 : 255;
        k3img_rangeImage16 range;
        k3img_rangeImage16_construct(&range);
        if (k3img_rangeImage16_init(&range, &image.image, in.u8() % 4 == 0 ? nullptr : &mask.image) == 0) {
            koc_segmentCharactersRangeImage16(&range, &rects, &params, &result);
        }
        k3img_rangeImage16_destruct(&range);
    }
    kstd_vector_kmath_shapeAffineRect_destruct(&rects);
    koc_charSegmentResult_destruct(&result);
    koc_charSegmentRunParams_destruct(&params);
    return 0;
}
