// image_source.hpp: decodes an image from the fuzzer's bytes: either raw
// pixels, or a synthetic text line (bars at a pitch, optional noise) so that
// random inputs also reach the stages behind line finding.
#pragma once

#include <cmath>

#include "bytes.hpp"
#include "koc/koc.h"

namespace fuzz {

struct OwnedImage {
    kimg_image image{};
    OwnedImage() { kimg_image_construct(&image); }
    ~OwnedImage() { kimg_image_destruct(&image); }
    OwnedImage(const OwnedImage&) = delete;
    OwnedImage& operator=(const OwnedImage&) = delete;
};

// Fills image (depth 8 or 16) of width x height from the bytes.
inline bool decodeImage(Bytes& in, int32_t depth, int32_t width, int32_t height, kimg_image* image)
{
    if (kimg_image_assignNew(image, depth, width, height) != 0) {
        return false;
    }
    kimg_window w;
    if (kimg_window_init(&w, image) != 0) {
        return false;
    }
    const bool raw = in.u8() % 4 == 0;
    const int32_t pitch = in.range(4, 40), glyph = in.range(2, 30), top = in.range(0, height), tall = in.range(1, 60);
    const int32_t ink = in.u8(), ground = in.u8(), noise = in.u8() % 64;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            int32_t v = 0;
            if (raw) {
                v = in.u8();
            } else {
                const bool mark = y >= top && y < top + tall && x % pitch < glyph && (x / pitch + y) % 5 != 0;
                v = (mark ? ink : ground) + (noise != 0 ? static_cast<int32_t>(in.u8() % (noise + 1)) - noise / 2 : 0);
                v = v < 0 ? 0 : (v > 255 ? 255 : v);
            }
            if (depth == KIMG_DEPTH_8) {
                static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint8_t>(v);
            } else {
                static_cast<uint16_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint16_t>(v * 257);
            }
        }
    }
    return true;
}

// What a segmentation target runs on: kind 0 an 8-bit image, 1 a 16-bit
// one, 2 a 16-bit range image (its mask decoded later, by decodeRangeMask).
struct Subject {
    uint8_t kind = 0;
    int32_t width = 0, height = 0;
    OwnedImage image, mask;
};

// The subject's kind, size and pixels from the bytes.
inline bool decodeSubject(Bytes& in, Subject& s)
{
    s.kind = in.u8() % 3;
    s.width = in.range(1, 160);
    s.height = in.range(1, 64);
    return decodeImage(in, s.kind == 0 ? KIMG_DEPTH_8 : KIMG_DEPTH_16, s.width, s.height, &s.image.image);
}

// The range image's mask, all valid or with scattered holes, then whether to
// pass it at all; false when the range image refuses them.
inline bool decodeRangeMask(Bytes& in, Subject& s, k3img_rangeImage16* range)
{
    const uint8_t holes = in.u8();
    kimg_image_assignNew(&s.mask.image, KIMG_DEPTH_8, s.width, s.height);
    kimg_window m;
    kimg_window_init(&m, &s.mask.image);
    for (int32_t y = 0; y < s.height; ++y) {
        for (int32_t x = 0; x < s.width; ++x) {
            static_cast<uint8_t*>(m.pixels)[y * m.pitch + x] =
                holes != 0 && (x * 31 + y * 17) % (holes + 1) == 0 ? 0 : 255;
        }
    }
    return k3img_rangeImage16_init(range, &s.image.image, in.u8() % 4 == 0 ? nullptr : &s.mask.image) == 0;
}

// An affine rectangle around (or past) an image of width x height.
inline kmath_shapeAffineRect decodeRect(Bytes& in, int32_t width, int32_t height)
{
    const kmath_vect centre{in.real(-20, width + 20), in.real(-20, height + 20)};
    const double w = in.real(0.25, 2.0 * width), h = in.real(0.25, 2.0 * height);
    const double angle = in.real(-50, 50) * M_PI / 180.0, skew = in.real(-50, 50) * M_PI / 180.0;
    kmath_shapeAffineRect r{};
    kmath_shapeAffineRect_initCenter(&r, &centre, w, h, angle, angle + M_PI / 2 + skew);
    return r;
}

}  // namespace fuzz
