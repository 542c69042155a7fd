// services_bench.cpp: the services every stage leans on: growing index
// vectors, copying record vectors, thresholding and copying line images.
#include <benchmark/benchmark.h>

#include "koc/koc.h"

namespace {

void BM_Vector32sPushBack(benchmark::State& state)
{
    const auto n = state.range(0);
    for (auto _ : state) {
        kstd_vector32s v;
        kstd_vector32s_constructEmpty(&v);
        for (int32_t i = 0; i < n; ++i) {
            kstd_vector32s_pushBack(&v, &i);
        }
        benchmark::DoNotOptimize(v.base.begin);
        kstd_vector32s_destruct(&v);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_Vector32sPushBack)->Arg(64)->Arg(4096);

void BM_FragmentSetVectorCopy(benchmark::State& state)
{
    kstd_vector_koc_charFragmentSet sets;
    kstd_vector_koc_charFragmentSet_construct(&sets, state.range(0));
    for (auto _ : state) {
        kstd_vector_koc_charFragmentSet copy;
        kstd_vector_koc_charFragmentSet_constructCopy(&copy, &sets);
        benchmark::DoNotOptimize(copy.base.begin);
        kstd_vector_koc_charFragmentSet_destruct(&copy);
    }
    kstd_vector_koc_charFragmentSet_destruct(&sets);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FragmentSetVectorCopy)->Arg(40)->Arg(400);

// Line-image sizes: a short code line to a long document line.
void BM_HardThreshold8(benchmark::State& state)
{
    kimg_image src, dst;
    kimg_image_construct(&src);
    kimg_image_construct(&dst);
    kimg_image_assignNew(&src, KIMG_DEPTH_8, static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    for (auto _ : state) {
        kip_pelMapHardThreshold8(&src, 128, 255, 0, &dst);
        benchmark::DoNotOptimize(dst.store);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(1));
    kimg_image_destruct(&src);
    kimg_image_destruct(&dst);
}
BENCHMARK(BM_HardThreshold8)->Args({600, 48})->Args({2400, 96});

void BM_CopyLineImage8(benchmark::State& state)
{
    kimg_image src, dst;
    kimg_image_construct(&src);
    kimg_image_construct(&dst);
    kimg_image_assignNew(&src, KIMG_DEPTH_8, static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    for (auto _ : state) {
        kip_pelAssignCopyEntireConst8(&dst, &src);
        benchmark::DoNotOptimize(dst.store);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) * state.range(1));
    kimg_image_destruct(&src);
    kimg_image_destruct(&dst);
}
BENCHMARK(BM_CopyLineImage8)->Args({600, 48})->Args({2400, 96});

}  // namespace
