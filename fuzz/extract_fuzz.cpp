// extract_fuzz.cpp: the exported line extraction (8 and 16 bit) with a
// host-filled parameter record, and the gradient field with both
// projections over arbitrary slopes.
#include <vector>

#include "image_source.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Bytes in(data, size);
    const bool sixteen = in.u8() % 2 == 1;
    const int32_t width = in.range(1, 160), height = in.range(1, 64);
    fuzz::OwnedImage image;
    if (!fuzz::decodeImage(in, sixteen ? KIMG_DEPTH_16 : KIMG_DEPTH_8, width, height, &image.image)) {
        return 0;
    }
    const kmath_shapeAffineRect rect = fuzz::decodeRect(in, width, height);
    if (in.u8() % 2 == 0) {
        koc_lineExtractParams params;
        koc_lineExtractParams_construct(&params);
        koc_lineExtractResult result;
        koc_lineExtractResult_construct(&result);
        params.limitHeight = in.u8() % 2;
        params.maxHeight = in.range(-2, 200);
        params.useGradientMethod = in.range(0, 2);
        params.maxLineAngle = in.real(-1, 46);
        params.maxSkewAngle = in.real(-1, 46);
        params.polarity = static_cast<uint32_t>(in.range(0, 5));
        params.normalizationMode = static_cast<uint32_t>(1u << in.range(0, 4));
        sixteen ? koc_extractLine16(&image.image, &rect, &params, &result)
                : koc_extractLine(&image.image, &rect, &params, &result);
        koc_lineExtractResult_destruct(&result);
        koc_lineExtractParams_destruct(&params);
        return 0;
    }
    fuzz::OwnedImage field;
    int32_t steps[4] = {0, 0, 0, 0};
    const int32_t rc = sixteen ? koc_getGradientField16(&image.image, &rect, &field.image, steps)
                               : koc_getGradientField(&image.image, &rect, &field.image, steps);
    if (rc < 0) {
        return 0;
    }
    kstd_vector32s slopes;
    kstd_vector32s_constructEmpty(&slopes);
    const int32_t n = in.range(0, 8);
    for (int32_t i = 0; i < n; ++i) {
        const int32_t t = static_cast<int32_t>(in.u32());
        kstd_vector32s_pushBack(&slopes, &t);
    }
    kstd_vector_vector32s profiles;
    kstd_vector_vector32s_constructEmpty(&profiles);
    const int32_t absolute = in.u8() % 2;
    const int32_t* s = in.u8() % 2 == 0 ? steps : nullptr;
    if (sixteen) {
        koc_projectHorizGradientField16(&field.image, &slopes, s, absolute, &profiles);
        koc_projectVertGradientField16(&field.image, &slopes, s, absolute, &profiles);
    } else {
        koc_projectHorizGradientField(&field.image, &slopes, s, absolute, &profiles);
        koc_projectVertGradientField(&field.image, &slopes, s, absolute, &profiles);
    }
    kstd_vector_vector32s_destruct(&profiles);
    kstd_vector32s_destruct(&slopes);
    return 0;
}
