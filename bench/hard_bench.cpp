// hard_bench.cpp: the worst cases of hard input. The merge pass of
// refinement over a speck field beside a line of characters, a whole noisy
// paragraph through the entry point, and the hypothesis walk over a line of
// 2000 specks with and without a node budget.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "hypotheses/hypotheses_internal.hpp"
#include "koc/koc.h"
#include "segment/refine.hpp"
#include "support/text_image.hpp"

namespace {

// Deterministic noise: the same field on every run and machine.
struct Lcg {
    uint32_t s = 20261206u;
    int32_t operator()(int32_t n)
    {
        s = s * 1664525u + 1013904223u;
        return static_cast<int32_t>((s >> 8) % static_cast<uint32_t>(n));
    }
};

koc_charSegmentElementInfo element(int32_t x, int32_t y, int32_t w, int32_t h, int32_t area)
{
    koc_charSegmentElementInfo e;
    koc_charSegmentElementInfo_reset(&e);
    e.rect = {x, y, w, h};
    e.area = area;
    return e;
}

// 40 characters 10 x 20 at a pitch of 14 on a 600 x 48 line, and
// state.range(0) specks of 1 to 3 pixels scattered over the whole line.
std::vector<koc_charSegmentElementInfo> speckField(int32_t specks)
{
    std::vector<koc_charSegmentElementInfo> e;
    Lcg rnd;
    for (int32_t k = 0; k < 40; ++k) {
        e.push_back(element(16 + 14 * k, 14, 10, 20, 100));
    }
    for (int32_t k = 0; k < specks; ++k) {
        const int32_t w = 1 + rnd(3), h = 1 + rnd(3);
        e.push_back(element(rnd(600 - w), rnd(48 - h), w, h, w * h));
    }
    return e;
}

void BM_MergeSpeckField(benchmark::State& state)
{
    const auto field = speckField(static_cast<int32_t>(state.range(0)));
    koc_charSegmentLineResultData_ data;
    koc::hypotheses::construct(&data);
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.gapMode = static_cast<uint32_t>(state.range(1));
    params.minCharGap = 3;
    kstd_vector_koc_charSegmentElementInfo v;
    kstd_vector_koc_charSegmentElementInfo_constructEmpty(&v);
    for (auto _ : state) {
        kstd_vector_koc_charSegmentElementInfo_assignElements(&v, field.data(), static_cast<intptr_t>(field.size()));
        benchmark::DoNotOptimize(koc::segment::mergeTouchingElements(&data, &v, &params));
    }
    state.counters["groups"] = static_cast<double>(v.base.size);
    kstd_vector_koc_charSegmentElementInfo_destruct(&v);
    koc_charSegmentRunParams_destruct(&params);
    koc::hypotheses::destruct(&data);
}
BENCHMARK(BM_MergeSpeckField)->Args({500, 1})->Args({2000, 1})->Args({2000, 2})->Unit(benchmark::kMicrosecond);

// A 40-character line with dark specks of 1 to 2 pixels on state.range(0)
// per mille of its pixels, through the default road.
void BM_SegmentNoisyLine(benchmark::State& state)
{
    const test::TextLine line = test::fortyCharacterLine();
    kimg_image image = line.render();
    kimg_window w;
    kimg_window_init(&w, &image);
    auto* px = static_cast<uint8_t*>(w.pixels);
    Lcg rnd;
    const int32_t specks = line.width * line.height * static_cast<int32_t>(state.range(0)) / 1000;
    for (int32_t k = 0; k < specks; ++k) {
        const int32_t x = rnd(line.width - 1), y = rnd(line.height - 1), s = 1 + rnd(2);
        for (int32_t j = 0; j < s; ++j)
            for (int32_t i = 0; i < s; ++i) px[(y + j) * w.pitch + x + i] = 30;
    }
    kmath_shapeAffineRect rect = test::boxRect(2, 2, line.width - 4, line.height - 4);
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.minCharArea = 10;
    koc_charSegmentParagraphResult result;
    koc_charSegmentParagraphResult_construct(&result);
    for (auto _ : state) {
        koc_segmentCharactersParagraph8(&image, &rect, &params, &result);
        benchmark::DoNotOptimize(result.isComputed);
    }
    koc_charSegmentParagraphResult_destruct(&result);
    koc_charSegmentRunParams_destruct(&params);
    kimg_image_destruct(&image);
}
BENCHMARK(BM_SegmentNoisyLine)->Arg(20)->Arg(60)->Unit(benchmark::kMicrosecond);

// 2000 specks 2 wide at a step of 3 that may each stand alone or pair up:
// far more paths than the walk can try. state.range(0) is the node budget
// (0: none, only the cap on complete paths).
void BM_WalkSpeckLine(benchmark::State& state)
{
    koc_charSegmentLineResultData_ data;
    koc::hypotheses::construct(&data);
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.limitAspect = 0;
    params.limitCharWidth = 1;
    params.maxCharWidth = 6;
    params.minCharWidth = params.minCharHeight = params.minCharArea = 1;
    std::vector<koc_charSegmentElementInfo> f;
    for (int32_t k = 0; k < 2000; ++k) {
        f.push_back(element(3 * k + (k % 3 == 0 ? 1 : 0), 0, 2, 20, 4));
    }
    kstd_vector_koc_charSegmentElementInfo_assignElements(&data.treeElements, f.data(), static_cast<intptr_t>(f.size()));
    koc::hypotheses::buildLineTree(&data, &params, nullptr);
    int64_t visited = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(koc::hypotheses::walkLineTree(&data, state.range(0), &visited));
    }
    state.counters["visited"] = static_cast<double>(visited);
    koc_charSegmentRunParams_destruct(&params);
    koc::hypotheses::destruct(&data);
}
BENCHMARK(BM_WalkSpeckLine)->Arg(0)->Arg(3000)->Unit(benchmark::kMicrosecond);

}  // namespace
