// road_bench.cpp: the whole road of one paragraph through the public entry
// point: a 600 x 48 line of 40 characters, extraction plus segmentation.
#include <benchmark/benchmark.h>

#include "koc/koc.h"
#include "support/text_image.hpp"

namespace {

// Times whole paragraphs of one image and reports how many positions came
// back; releases the image and the parameters.
void timeParagraph(benchmark::State& state, kimg_image* image, const kmath_shapeAffineRect& rect,
                   koc_charSegmentRunParams* params)
{
    koc_charSegmentParagraphResult result;
    koc_charSegmentParagraphResult_construct(&result);
    for (auto _ : state) {
        koc_segmentCharactersParagraph8(image, &rect, params, &result);
        benchmark::DoNotOptimize(result.isComputed);
    }
    const auto* l = static_cast<const koc_charSegmentLineResult*>(result.lineResults.base.begin);
    state.counters["positions"] = static_cast<double>(l->positionResults.base.size);
    koc_charSegmentParagraphResult_destruct(&result);
    koc_charSegmentRunParams_destruct(params);
    kimg_image_destruct(image);
}

void BM_SegmentParagraph(benchmark::State& state)
{
    const test::TextLine line = test::fortyCharacterLine();
    kimg_image image = line.render();
    kmath_shapeAffineRect rect = test::boxRect(2, 2, 596, 44);
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.segmentationMethod = static_cast<uint32_t>(state.range(0));
    params.maxLineAngle = static_cast<double>(state.range(1));
    params.minCharArea = 10;
    timeParagraph(state, &image, rect, &params);
}
BENCHMARK(BM_SegmentParagraph)->Args({1, 0})->Args({1, 5})->Args({2, 0})->Args({2, 5})->Unit(benchmark::kMicrosecond);

// The same 40 characters turned by 6 degrees and slanted by 12, found by
// searching +-10 degrees of rotation and +-20 of slant (default road).
void BM_SegmentSearchedParagraph(benchmark::State& state)
{
    test::TextLine line;
    line.count = 40;
    line.pitch = 14;
    line.glyphWidth = 10;
    line.glyphHeight = 20;
    line.originX = 16;
    line.originY = 14;
    line.angleDeg = 6.0;
    line.shearDeg = 12.0;
    line.width = 600;
    line.height = 110;
    kimg_image image = line.render();
    kmath_shapeAffineRect rect = test::boxRect(2, 2, 596, 106);
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.maxLineAngle = 10;
    params.maxSkewAngle = 20;
    params.minCharArea = 10;
    timeParagraph(state, &image, rect, &params);
}
BENCHMARK(BM_SegmentSearchedParagraph)->Unit(benchmark::kMicrosecond);

// A 40-character dot-matrix line: 5 x 7 dots of 3 pixels at a 4-pixel step,
// every dot its own blob, through the default (hypothesis) road.
void BM_SegmentDotMatrixLine(benchmark::State& state)
{
    constexpr int kCount = 40, kPitch = 26, kStep = 4, kDot = 3;
    const int width = 20 + kCount * kPitch, height = 50;
    kimg_image image;
    kimg_image_construct(&image);
    kimg_image_assignNew(&image, KIMG_DEPTH_8, width, height);
    kimg_window w;
    kimg_window_init(&w, &image);
    auto* px = static_cast<uint8_t*>(w.pixels);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) px[y * w.pitch + x] = 220;
    for (int k = 0; k < kCount; ++k)
        for (int r = 0; r < 7; ++r)
            for (int c = 0; c < 5; ++c)
                if ((r + c + k) % 3 != 0 || c == 0 || c == 4)  // varied, always five columns wide
                    for (int j = 0; j < kDot; ++j)
                        for (int i = 0; i < kDot; ++i)
                            px[(10 + r * kStep + j) * w.pitch + 10 + k * kPitch + c * kStep + i] = 30;
    kmath_shapeAffineRect rect = test::boxRect(2, 2, width - 4, height - 4);
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    // Dot-matrix settings: dots one pixel apart belong together, characters
    // are at least three pixels apart.
    params.gapMode = 4;
    params.maxInnerGap = 2;
    params.minCharGap = 3;
    params.minCharHeight = 20;
    params.minCharArea = 40;
    timeParagraph(state, &image, rect, &params);
}
BENCHMARK(BM_SegmentDotMatrixLine)->Unit(benchmark::kMicrosecond);

}  // namespace
