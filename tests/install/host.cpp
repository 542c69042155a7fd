// host.cpp: a C++ host built against the installed library through
// koc/koc.hpp. It draws a line of bars, segments it through the C++ layer
// and through the flat interface, and checks that both give the same
// positions.
#include <koc/koc.hpp>

#include <cstdio>
#include <vector>

int main()
{
    const int32_t width = 160, height = 50;
    std::vector<uint8_t> pixels(static_cast<size_t>(width * height), 210);
    for (int32_t k = 0; k < 6; ++k) {  // six dark bars, 6 wide, 20 high
        for (int32_t y = 15; y < 35; ++y) {
            for (int32_t x = 0; x < 6; ++x) {
                pixels[static_cast<size_t>(y * width + 20 + k * 20 + x)] = 40;
            }
        }
    }
    const koc::Rect rect = koc::Rect::fromXYWH(0, 0, width, height);
    std::vector<koc::Position> viaHeader;
    try {
        const koc::Image image = koc::Image::view(pixels.data(), width, height);
        viaHeader = koc::segment(image, {rect}).paragraphs().at(0).lines.at(0).positions;
    } catch (const koc::Error& e) {
        std::printf("koc::Error %s (%d): %s\n", e.name(), e.code(), e.message());
        return 1;
    }

    kimg_image image;
    kimg_image_construct(&image);
    kimg_image_assignNew(&image, KIMG_DEPTH_8, width, height);
    kimg_window w;
    kimg_window_init(&w, &image);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = pixels[static_cast<size_t>(y * width + x)];
        }
    }
    kmath_shapeAffineRect cRect = rect.toC();
    kstd_vector_kmath_shapeAffineRect rects;
    kstd_vector_kmath_shapeAffineRect_constructEmpty(&rects);
    kstd_vector_kmath_shapeAffineRect_pushBack(&rects, &cRect);
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    koc_charSegmentResult result;
    koc_charSegmentResult_construct(&result);
    int32_t rc = koc_segmentCharacters8(&image, &rects, &params, &result);
    const koc_charSegmentParagraphResult* paragraph = nullptr;
    const koc_charSegmentLineResult* line = nullptr;
    const koc_charSegmentPositionResult* positions = nullptr;
    int32_t count = 0;
    if (rc >= 0) rc = kstd_vector_koc_charSegmentParagraphResult_getElementConst(&result.paragraphResults, 0, &paragraph);
    if (rc >= 0) rc = kstd_vector_koc_charSegmentLineResult_getElementConst(&paragraph->lineResults, 0, &line);
    if (rc >= 0) rc = kstd_vector_koc_charSegmentPositionResult_getBeginSizeConst(&line->positionResults, &positions, &count);
    int status = rc < 0 ? 2 : 0;
    if (status == 0 && (count != 6 || viaHeader.size() != static_cast<size_t>(count))) {
        std::printf("positions: %d through C, %zu through C++\n", count, viaHeader.size());
        status = 3;
    }
    for (int32_t i = 0; status == 0 && i < count; ++i) {
        if (viaHeader[static_cast<size_t>(i)].mark != koc::Rect::fromC(positions[i].markRect) ||
            viaHeader[static_cast<size_t>(i)].cell != koc::Rect::fromC(positions[i].cellRect)) {
            std::printf("position %d differs\n", i);
            status = 4;
        }
    }
    koc_charSegmentResult_destruct(&result);
    koc_charSegmentRunParams_destruct(&params);
    kstd_vector_kmath_shapeAffineRect_destruct(&rects);
    kimg_image_destruct(&image);
    if (status == 0) {
        std::printf("c++ host ok: %d positions\n", count);
    }
    return status;
}
