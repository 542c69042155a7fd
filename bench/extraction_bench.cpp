// extraction_bench.cpp: the rest of line extraction on a 1000 x 100 region:
// rectification, each normalisation mode, and the whole extraction.
#include <cmath>

#include <benchmark/benchmark.h>

#include "koc/koc.h"
#include "lineextract/normalize.hpp"
#include "services/rectify.hpp"

namespace {

// A textured test pattern: strokes every 17 pixels on a gradient ground.
kimg_image pattern(int32_t width, int32_t height)
{
    kimg_image image;
    kimg_image_construct(&image);
    kimg_image_assignNew(&image, KIMG_DEPTH_8, width, height);
    kimg_window w;
    kimg_window_init(&w, &image);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const bool ink = (x % 17) < 3 && y > height / 4 && y < 3 * height / 4;
            static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint8_t>(ink ? 40 : 180 + (x + y) % 40);
        }
    return image;
}

kmath_shapeAffineRect rotated(double w, double h, double degrees)
{
    const double a = degrees * M_PI / 180.0;
    kmath_shapeAffineRect r;
    const kmath_vect po{20, 20 + w * std::sin(0.0)}, px{20 + w * std::cos(a), 20 + w * std::sin(a)},
        py{20 - h * std::sin(a), 20 + h * std::cos(a)};
    kmath_shapeAffineRect_initPoints(&r, &po, &px, &py);
    return r;
}

void BM_Rectify(benchmark::State& state)
{
    kimg_image src = pattern(1100, 200);
    kimg_image out;
    kimg_image_construct(&out);
    const kmath_shapeAffineRect rect = rotated(1000, 100, 3.0);
    for (auto _ : state) {
        koc::services::affineRectifyImageRegion(&src, &rect, &out);
        benchmark::DoNotOptimize(out.store);
    }
    state.SetItemsProcessed(state.iterations() * 1000 * 100);
    kimg_image_destruct(&out);
    kimg_image_destruct(&src);
}
BENCHMARK(BM_Rectify)->Unit(benchmark::kMicrosecond);

void BM_NormalizeByMode(benchmark::State& state)
{
    kimg_image src = pattern(1000, 100);
    kimg_image out;
    kimg_image_construct(&out);
    const auto mode = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        koc::lineextract::normalizeByMode8(&src, mode, 40.0, 1, &out);
        benchmark::DoNotOptimize(out.store);
    }
    state.SetItemsProcessed(state.iterations() * 1000 * 100);
    kimg_image_destruct(&out);
    kimg_image_destruct(&src);
}
BENCHMARK(BM_NormalizeByMode)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMicrosecond);

void BM_ExtractLine(benchmark::State& state)
{
    kimg_image src = pattern(1100, 200);
    const kmath_shapeAffineRect rect = rotated(1000, 100, 0.0);
    koc_lineExtractParams params;
    koc_lineExtractParams_construct(&params);
    params.maxLineAngle = static_cast<double>(state.range(0));
    params.maxSkewAngle = static_cast<double>(state.range(1));
    koc_lineExtractResult result;
    koc_lineExtractResult_construct(&result);
    for (auto _ : state) {
        koc_extractLine(&src, &rect, &params, &result);
        benchmark::DoNotOptimize(result.isLineFound);
    }
    koc_lineExtractResult_destruct(&result);
    kimg_image_destruct(&src);
}
BENCHMARK(BM_ExtractLine)->Args({0, 0})->Args({10, 0})->Args({10, 10})->Unit(benchmark::kMicrosecond);

}  // namespace
