// gradient_bench.cpp: the gradient field of a slightly rotated text-line
// rectangle and its two projections, at a short code line (600 x 48) and a
// long document line (2000 x 120), 8 and 16 bit. The slope sets are those of
// a rotation search over -20..20 degrees and a shear search over -10..10.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "koc/koc.h"

namespace {

struct Setup {
    kimg_image image;
    kimg_image field;
    kmath_shapeAffineRect rect;
    int32_t steps[4] = {};
    kstd_vector32s rotationSlopes;
    kstd_vector32s shearSlopes;
    kstd_vector_vector32s profiles;

    Setup(int32_t depth, int32_t width, int32_t height)
    {
        kimg_image_construct(&image);
        kimg_image_construct(&field);
        kimg_image_assignNew(&image, depth, width + 64, height + 64);
        kimg_window w;
        kimg_window_init(&w, &image);
        std::mt19937 rng(1);
        for (int32_t y = 0; y < w.height; ++y) {
            for (int32_t x = 0; x < w.width; ++x) {
                const auto v = static_cast<uint32_t>(rng());
                if (depth == KIMG_DEPTH_8) {
                    static_cast<uint8_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint8_t>(v);
                } else {
                    static_cast<uint16_t*>(w.pixels)[y * w.pitch + x] = static_cast<uint16_t>(v);
                }
            }
        }
        const double a = 3.0 * 3.14159265358979 / 180.0;
        const kmath_vect po{32, 16}, px{32 + width * std::cos(a), 16 + width * std::sin(a)},
            py{32 - height * std::sin(a), 16 + height * std::cos(a)};
        kmath_shapeAffineRect_initPoints(&rect, &po, &px, &py);
        kstd_vector32s_constructEmpty(&rotationSlopes);
        kstd_vector32s_constructEmpty(&shearSlopes);
        for (int deg = -20; deg <= 20; ++deg) {
            const auto t = static_cast<int32_t>(std::lround(std::tan(deg * 3.14159265358979 / 180.0) * 65536.0));
            kstd_vector32s_pushBack(&rotationSlopes, &t);
            if (deg >= -10 && deg <= 10) {
                kstd_vector32s_pushBack(&shearSlopes, &t);
            }
        }
        kstd_vector_vector32s_constructEmpty(&profiles);
        if (depth == KIMG_DEPTH_8) {
            koc_getGradientField(&image, &rect, &field, steps);
        } else {
            koc_getGradientField16(&image, &rect, &field, steps);
        }
    }
    ~Setup()
    {
        kstd_vector_vector32s_destruct(&profiles);
        kstd_vector32s_destruct(&shearSlopes);
        kstd_vector32s_destruct(&rotationSlopes);
        kimg_image_destruct(&field);
        kimg_image_destruct(&image);
    }
};

int64_t samples(const benchmark::State& state)
{
    return state.iterations() * state.range(0) * state.range(1);
}

template <int32_t Depth>
void BM_GradientField(benchmark::State& state)
{
    Setup s(Depth, static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    kimg_image field;
    kimg_image_construct(&field);
    for (auto _ : state) {
        const int32_t rc = Depth == KIMG_DEPTH_8 ? koc_getGradientField(&s.image, &s.rect, &field, s.steps)
                                                 : koc_getGradientField16(&s.image, &s.rect, &field, s.steps);
        benchmark::DoNotOptimize(rc);
    }
    kimg_image_destruct(&field);
    state.SetItemsProcessed(samples(state));
}

template <int32_t Depth>
void BM_ProjectHoriz(benchmark::State& state)
{
    Setup s(Depth, static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    for (auto _ : state) {
        const int32_t rc = Depth == KIMG_DEPTH_8
            ? koc_projectHorizGradientField(&s.field, &s.rotationSlopes, s.steps, 0, &s.profiles)
            : koc_projectHorizGradientField16(&s.field, &s.rotationSlopes, s.steps, 0, &s.profiles);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(samples(state) * 41);
}

template <int32_t Depth>
void BM_ProjectVert(benchmark::State& state)
{
    Setup s(Depth, static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    for (auto _ : state) {
        const int32_t rc = Depth == KIMG_DEPTH_8
            ? koc_projectVertGradientField(&s.field, &s.shearSlopes, s.steps, 0, &s.profiles)
            : koc_projectVertGradientField16(&s.field, &s.shearSlopes, s.steps, 0, &s.profiles);
        benchmark::DoNotOptimize(rc);
    }
    state.SetItemsProcessed(samples(state) * 21);
}

// items/s counts field samples for the builder and sample-slope pairs for
// the projections.
#define KOC_GRADIENT_SIZES ->Args({600, 48})->Args({1000, 100})->Args({2000, 120})->Unit(benchmark::kMicrosecond)
BENCHMARK_TEMPLATE(BM_GradientField, KIMG_DEPTH_8) KOC_GRADIENT_SIZES;
BENCHMARK_TEMPLATE(BM_GradientField, KIMG_DEPTH_16) KOC_GRADIENT_SIZES;
BENCHMARK_TEMPLATE(BM_ProjectHoriz, KIMG_DEPTH_8) KOC_GRADIENT_SIZES;
BENCHMARK_TEMPLATE(BM_ProjectHoriz, KIMG_DEPTH_16) KOC_GRADIENT_SIZES;
BENCHMARK_TEMPLATE(BM_ProjectVert, KIMG_DEPTH_8) KOC_GRADIENT_SIZES;
BENCHMARK_TEMPLATE(BM_ProjectVert, KIMG_DEPTH_16) KOC_GRADIENT_SIZES;

}  // namespace
