// edgelet_bench.cpp: the edgelet line finder on a 1000 x 100 region of a
// rendered text line: edge detection, row edgelets, and line finding by
// edgelets next to line finding by the gradient field (both searching
// +-10 degrees of rotation and of slant).
#include <benchmark/benchmark.h>

#include "koc/koc.h"
#include "lineextract/locate_line.hpp"
#include "services/rectify.hpp"
#include "support/text_image.hpp"

namespace {

struct Region {
    kimg_image source{};
    kimg_image rectified{};
    kmath_shapeAffineRect rect{};
    Region()
    {
        test::TextLine line;
        line.width = 1040;
        line.height = 140;
        line.originX = 40;
        line.originY = 50;
        line.glyphHeight = 40;
        line.glyphWidth = 24;
        line.pitch = 34;
        line.count = 28;
        line.angleDeg = 3.0;
        line.shearDeg = 8.0;
        source = line.render();
        rect = test::boxRect(20, 20, 1000, 100);
        kimg_image_construct(&rectified);
        koc::services::affineRectifyImageRegion(&source, &rect, &rectified);
    }
    ~Region()
    {
        kimg_image_destruct(&rectified);
        kimg_image_destruct(&source);
    }
};

const Region& region()
{
    static const Region r;
    return r;
}

void BM_EdgeDetectMagAng(benchmark::State& state)
{
    kimg_image mag, dir;
    kimg_image_construct(&mag);
    kimg_image_construct(&dir);
    for (auto _ : state) {
        kip_edgeDetectMagAng8_8(&region().rectified, &mag, &dir);
        benchmark::DoNotOptimize(mag.store);
    }
    state.SetItemsProcessed(state.iterations() * 1000 * 100);
    kimg_image_destruct(&mag);
    kimg_image_destruct(&dir);
}
BENCHMARK(BM_EdgeDetectMagAng)->Unit(benchmark::kMicrosecond);

void BM_RowEdgelets(benchmark::State& state)
{
    kimg_image mag, dir;
    kimg_image_construct(&mag);
    kimg_image_construct(&dir);
    kip_edgeDetectMagAng8_8(&region().rectified, &mag, &dir);
    kip_rowEdgeletParams params;
    kip_rowEdgeletParams_construct(&params);
    params.edgeParams.magnitudeThreshold = 3.0;
    params.kernelMode = static_cast<int32_t>(state.range(0));
    kip_rowEdgeletSet set;
    kip_rowEdgeletSet_construct(&set);
    int32_t count = 0;
    for (auto _ : state) {
        kip_edgeDetectRowEdgeletsFromMagAng8(&mag, &dir, &params, &set);
        kip_rowEdgeletSet_getNumEdgelets(&set, &count);
        benchmark::DoNotOptimize(count);
    }
    state.counters["edgelets"] = count;
    state.SetItemsProcessed(state.iterations() * 1000 * 100);
    kip_rowEdgeletSet_destruct(&set);
    kimg_image_destruct(&mag);
    kimg_image_destruct(&dir);
}
BENCHMARK(BM_RowEdgelets)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The locator alone: method 0 on the rectified region (as the driver hands
// it), method 1 on the source image.
void BM_LocateLine(benchmark::State& state)
{
    const bool edgelets = state.range(0) == 0;
    koc_lineExtractParams params;
    koc_lineExtractParams_construct(&params);
    params.useGradientMethod = edgelets ? 0 : 1;
    params.maxLineAngle = 10;
    params.maxSkewAngle = 10;
    koc_lineExtractResult result;
    koc_lineExtractResult_construct(&result);
    koc::lineextract::LineLocation location;
    int32_t rc = 0;
    for (auto _ : state) {
        rc = koc::lineextract::locateTextLine(edgelets ? &region().rectified : &region().source, edgelets, &region().rect,
                                         &params, &location, &result);
        benchmark::ClobberMemory();
    }
    state.counters["angle"] = benchmark::Counter(result.lineAngle);
    state.counters["skew"] = benchmark::Counter(result.skewAngle);
    state.counters["height"] = benchmark::Counter(location.height);
    state.counters["rc"] = rc;
    state.SetLabel(edgelets ? "edgelets" : "gradient field");
    koc_lineExtractResult_destruct(&result);
}
BENCHMARK(BM_LocateLine)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
