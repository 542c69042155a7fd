// road_bench.cpp: the whole road of one paragraph through the public entry
// point: a 600 x 48 line of 40 characters, extraction plus segmentation.
#include <benchmark/benchmark.h>

#include "koc/koc.h"
#include "support/text_image.hpp"

namespace {

void BM_SegmentParagraph(benchmark::State& state)
{
    test::TextLine line;
    line.count = 40;
    line.pitch = 14;
    line.glyphWidth = 10;
    line.glyphHeight = 20;
    line.originX = 16;
    line.originY = 14;
    line.width = 600;
    line.height = 48;
    kimg_image image = line.render();
    kmath_shapeAffineRect rect = test::boxRect(2, 2, 596, 44);
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.segmentationMethod = static_cast<uint32_t>(state.range(0));
    params.maxLineAngle = static_cast<double>(state.range(1));
    params.minCharArea = 10;
    koc_charSegmentParagraphResult result;
    koc_charSegmentParagraphResult_construct(&result);
    for (auto _ : state) {
        koc_segmentCharactersParagraph8(&image, &rect, &params, &result);
        benchmark::DoNotOptimize(result.isComputed);
    }
    const auto* l = static_cast<const koc_charSegmentLineResult*>(result.lineResults.base.begin);
    state.counters["positions"] = static_cast<double>(l->positionResults.base.size);
    koc_charSegmentParagraphResult_destruct(&result);
    koc_charSegmentRunParams_destruct(&params);
    kimg_image_destruct(&image);
}
BENCHMARK(BM_SegmentParagraph)->Args({1, 0})->Args({1, 5})->Unit(benchmark::kMicrosecond);

}  // namespace
