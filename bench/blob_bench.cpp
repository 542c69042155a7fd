// blob_bench.cpp: the blob stage of the segmentation on a long binary line
// (2000 x 200) of character-like shapes: blob analysis alone, element
// records from its blobs, and background suppression for comparison.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "koc/koc.h"
#include "segment/segment_internal.hpp"

namespace {

constexpr int32_t kWidth = 2000;
constexpr int32_t kHeight = 200;

// Box, H, T, L, E, I, U and F shapes, 60 x 120 with 10-pixel strokes, at a
// pitch of 80: 24 characters, dark on white.
bool isInk(int32_t x, int32_t y)
{
    constexpr int32_t kTop = 40, kH = 120, kW = 60, kPitch = 80, kLeft = 20, kS = 10;
    const int32_t u = x - kLeft, v = y - kTop;
    if (u < 0 || v < 0 || v >= kH || u / kPitch >= 24 || u % kPitch >= kW) {
        return false;
    }
    const int32_t gx = u % kPitch;
    const bool left = gx < kS, right = gx >= kW - kS, top = v < kS, bottom = v >= kH - kS;
    const bool middle = v >= kH / 2 - kS / 2 && v < kH / 2 + kS / 2;
    const bool stem = gx >= (kW - kS) / 2 && gx < (kW + kS) / 2;
    switch ((u / kPitch) % 8) {
    case 0: return left || right || top || bottom;
    case 1: return left || right || middle;
    case 2: return top || stem;
    case 3: return left || bottom;
    case 4: return left || top || middle || bottom;
    case 5: return stem;
    case 6: return left || right || bottom;
    default: return left || top || middle;
    }
}

struct Line {
    kimg_image image;
    koc_charSegmentRunParams params;
    Line()
    {
        kimg_image_construct(&image);
        kimg_image_assignNew(&image, KIMG_DEPTH_8, kWidth, kHeight);
        kimg_window w;
        kimg_window_init(&w, &image);
        for (int32_t y = 0; y < kHeight; ++y) {
            auto* row = static_cast<uint8_t*>(w.pixels) + y * w.pitch;
            for (int32_t x = 0; x < kWidth; ++x) {
                row[x] = isInk(x, y) ? 0 : 255;
            }
        }
        koc_charSegmentRunParams_construct(&params);
        params.polarity = 1;
    }
    ~Line() { kimg_image_destruct(&image); }
};

void BM_BlobAnalysis(benchmark::State& state)
{
    Line line;
    koc::services::BlobResultSet blobs;
    for (auto _ : state) {
        koc::segment::runBlobAnalysis(&line.image, &line.params, nullptr, nullptr, &blobs);
        benchmark::DoNotOptimize(blobs.blobs.data());
    }
    state.counters["blobs"] = static_cast<double>(blobs.blobs.size());
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_BlobAnalysis)->Unit(benchmark::kMicrosecond);

void BM_ElementsFromBlobs(benchmark::State& state)
{
    Line line;
    line.params.useLineMaskTest = 1;
    koc::services::BlobResultSet blobs;
    int32_t threshold = 0;
    koc::segment::runBlobAnalysis(&line.image, &line.params, nullptr, &threshold, &blobs);
    kstd_vector_koc_charSegmentElementInfo elements;
    kstd_vector_koc_charSegmentElementInfo_constructEmpty(&elements);
    int32_t good = 0;
    for (auto _ : state) {
        koc::segment::buildElementsFromBlobs(&blobs, nullptr, threshold, &line.params, 1, 0, &elements, &good);
        benchmark::DoNotOptimize(elements.base.begin);
    }
    kstd_vector_koc_charSegmentElementInfo_destruct(&elements);
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(blobs.blobs.size()));
}
BENCHMARK(BM_ElementsFromBlobs)->Unit(benchmark::kMicrosecond);

void BM_SuppressBackground(benchmark::State& state)
{
    Line line;
    kimg_image out;
    kimg_image_construct(&out);
    for (auto _ : state) {
        koc::segment::suppressBackground(&line.image, 1, 1, &out);
        benchmark::DoNotOptimize(out.store);
    }
    kimg_image_destruct(&out);
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_SuppressBackground)->Unit(benchmark::kMicrosecond);

}  // namespace
