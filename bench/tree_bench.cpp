// tree_bench.cpp: the hypothesis road of one line of 40 fragments: 32
// characters at a pitch of 14, every fourth broken into two halves 2 apart,
// with the default limits and a minimum gap of 3 between characters, so only
// the joined halves make a clean line. Building the tree, walking it with the
// ordering and scoring callbacks, and both in a row as the driver runs them.
#include <benchmark/benchmark.h>

#include <vector>

#include "hypotheses/hypotheses_internal.hpp"
#include "hypotheses/hypothesis_tree.hpp"
#include "koc/koc.h"

namespace {

using namespace koc::hypotheses;

std::vector<koc_charSegmentElementInfo> brokenLine()
{
    std::vector<koc_charSegmentElementInfo> f;
    auto add = [&](int32_t x, int32_t w, int32_t area) {
        koc_charSegmentElementInfo e;
        koc_charSegmentElementInfo_reset(&e);
        e.rect = {x, 4, w, 20};
        e.area = area;
        f.push_back(e);
    };
    for (int32_t k = 0; k < 32; ++k) {
        const int32_t x = 2 + 14 * k;
        if (k % 4 == 3) {
            add(x, 4, 40);
            add(x + 6, 4, 40);
        } else {
            add(x, 10, 100);
        }
    }
    return f;
}

struct Line {
    koc_charSegmentLineResultData_ d;
    koc_charSegmentRunParams p;
    Line()
    {
        construct(&d);
        koc_charSegmentRunParams_construct(&p);
        p.minCharGap = 3;
        const auto f = brokenLine();
        kstd_vector_koc_charSegmentElementInfo_assignElements(&d.treeElements, f.data(), static_cast<intptr_t>(f.size()));
    }
    ~Line() { destruct(&d); }
};

void BM_GenerateHypotheses(benchmark::State& state)
{
    Line line;
    for (auto _ : state) {
        benchmark::DoNotOptimize(buildLineTree(&line.d, &line.p, nullptr));
    }
    state.counters["sets"] = static_cast<double>(sizeOf(line.d.tree.fragmentSets));
}
BENCHMARK(BM_GenerateHypotheses)->Unit(benchmark::kMicrosecond);

void BM_WalkLineTree(benchmark::State& state)
{
    Line line;
    buildLineTree(&line.d, &line.p, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(walkLineTree(&line.d));
    }
    state.counters["chars"] = static_cast<double>(line.d.runContext.bestStats.charCount);
    state.counters["cost"] = static_cast<double>(line.d.runContext.bestCost);
}
BENCHMARK(BM_WalkLineTree)->Unit(benchmark::kMicrosecond);

void BM_GenerateAndWalk(benchmark::State& state)
{
    Line line;
    for (auto _ : state) {
        buildLineTree(&line.d, &line.p, nullptr);
        benchmark::DoNotOptimize(walkLineTree(&line.d));
    }
}
BENCHMARK(BM_GenerateAndWalk)->Unit(benchmark::kMicrosecond);

}  // namespace
