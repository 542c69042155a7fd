// positions_test.cpp: characters from the best path, and the position
// results with their character records.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "segment/positions.hpp"
#include "support/elements.hpp"
#include "support/fakes.hpp"

namespace {

constexpr int32_t kOne = 65536;
using Q = test::Q;
using test::element;
using test::q;
using D = std::array<double, 4>;
using Corners = std::array<double, 6>;  // Po, Px, Py
D d(const kstd_rectD& r) { return {r.x, r.y, r.width, r.height}; }

Corners corners(const kmath_shapeAffineRect& r)
{
    kmath_shapeAffineRectPoints p;
    kmath_shapeAffineRect_getPoints(&r, &p);
    return {p.po.x, p.po.y, p.px.x, p.px.y, p.py.x, p.py.y};
}

struct ContextCase {
    kstd_rect32 source, working;  // the images' windows
    Q context;
};

class PositionCharacter : public ::testing::TestWithParam<ContextCase> {};

// A 4 x 6 mark in a 20 x 30 cell: margins max(2, 5, 2) = 5 and
// max(3, 8, 2) = 8, clipped to where both images have pixels.
TEST_P(PositionCharacter, ContextAndViewsOverTheCell)
{
    const ContextCase& c = GetParam();
    kimg_image source, working;
    ASSERT_EQ(0, kimg_image_constructRect(&source, KIMG_DEPTH_8, &c.source));
    ASSERT_EQ(0, kimg_image_constructRect(&working, KIMG_DEPTH_8, &c.working));
    koc_char ch;
    ASSERT_EQ(0, koc_char_construct(&ch));
    const kstd_rect32 cell{10, 5, 20, 30};
    const kstd_rect32 mark{18, 15, 4, 6};
    const koc_charKey key{32, 3};
    const kmath_xformLinear f{{1, 0, 0, 1}, {18, 21}};
    ASSERT_EQ(0, koc::segment::buildPositionCharacter(&ch, &source, &working, &f, 2, &cell, &mark, &key, 1, 140, 0));
    EXPECT_EQ(c.context, q(ch.contextRect));
    EXPECT_EQ(q(cell), q(ch.cellRect));
    EXPECT_EQ((std::array<int64_t, 6>{32, 3, 2, 1, 140, 0}),
              (std::array<int64_t, 6>{ch.key.code, ch.key.variant, ch.polarity, ch.hasBinarizationThreshold,
                                      ch.binarizationThreshold, ch.thresholdPolarityFlag}));
    EXPECT_EQ(source.store, ch.sourceImage.store);  // views, no pixels copied
    EXPECT_EQ(working.store, ch.workingImage.store);
    EXPECT_EQ(q(cell), q(ch.sourceImage.window));
    EXPECT_EQ(q(cell), q(ch.workingImage.window));
    koc_char_destruct(&ch);
    kimg_image_destruct(&working);
    kimg_image_destruct(&source);
}

INSTANTIATE_TEST_SUITE_P(Positions, PositionCharacter,
                         ::testing::Values(ContextCase{{-10, -10, 120, 120}, {-10, -10, 120, 120}, {5, -3, 30, 46}},
                                           ContextCase{{0, 0, 40, 40}, {-10, -10, 120, 120}, {5, 0, 30, 40}},
                                           ContextCase{{-10, -10, 120, 120}, {0, 0, 32, 100}, {5, 0, 27, 43}}));

TEST(PositionCharacter, MetricsRefuseRotationAndShear)
{
    const kstd_rect32 cell{0, 0, 10, 10};
    const kmath_xformLinear turned{{0, -1, 1, 0}, {0, 0}};
    const kmath_xformLinear sheared{{1, 0.5, 0, 1}, {0, 0}};
    for (const kmath_xformLinear& x : {turned, sheared}) {
        koc_char ch;
        ASSERT_EQ(0, koc_char_construct(&ch));
        ASSERT_EQ(0, kimg_image_setLinearImageFromClientXform(&ch.sourceImage, &x));
        EXPECT_EQ(KOC_E_CHAR_XFORM_NOT_SCALE, koc::segment::setCharMetrics(&ch, &cell, &cell));
        koc_char_destruct(&ch);
    }
}

// Line image whose client frame is twice the pixels, shifted by (100, 50);
// the line frame has the same scale. The mark stands on (10, 11), where
// the character frame has its origin.
TEST(PositionResult, RectanglesInClientFrameAndCharacterAtReference)
{
    kimg_image image = test::makeImage8(60, 40, [](int32_t, int32_t) { return 0; });
    const kmath_xformLinear clientFromImage{{2, 0, 0, 2}, {100, 50}};
    ASSERT_EQ(0, kimg_image_setLinearClientFromImageXform(&image, &clientFromImage));
    koc_charWindow_ w;
    ASSERT_EQ(0, koc_charWindow__construct(&w));
    w.polarity = 1;
    w.markArea = 24;
    w.generatedCellRect = w.cellRect = kstd_rect32{8, 2, 9, 20};
    w.markRect = kstd_rect32{10, 5, 4, 6};
    w.referenceX = 10 * kOne;
    w.referenceY = 11 * kOne;
    const kmath_xformLinear scaleInverse{{2, 0, 0, 2}, {0, 0}};
    koc_charSegmentPositionResult p;
    ASSERT_EQ(0, koc_charSegmentPositionResult_construct(&p));
    ASSERT_EQ(0, koc::segment::fillPositionResult(&p, &w, &image, &image, &scaleInverse, &clientFromImage, 1, 128, 1));
    EXPECT_EQ((Q{1, 24, 0, 0}), (Q{p.isComputed, p.area, p.isSpace, p.spaceScore}));
    EXPECT_EQ((Corners{120, 60, 128, 60, 120, 72}), corners(p.markRect));
    EXPECT_EQ((Corners{116, 54, 134, 54, 116, 94}), corners(p.cellRect));
    EXPECT_EQ(100.0, p.clientFromLineImageXform.trans.x);
    const kmath_xformLinear& charFromPixels = p.character.sourceImage.clientFromImage;  // 2 (p - reference)
    EXPECT_EQ((Corners{2, 0, 0, 2, -20, -22}),
              (Corners{charFromPixels.matrix.a, charFromPixels.matrix.b, charFromPixels.matrix.c,
                       charFromPixels.matrix.d, charFromPixels.trans.x, charFromPixels.trans.y}));
    const koc_charMetrics& m = p.character.metrics;
    EXPECT_EQ((D{-4, -18, 18, 40}), d(m.clientRects[0]));  // cell
    EXPECT_EQ((D{0, -12, 8, 12}), d(m.clientRects[1]));    // mark: bottom-left at the origin
    EXPECT_EQ((D{0, 0, 0, 0}), d(m.clientRects[2]));
    EXPECT_EQ((Q{8, 2, 9, 20}), q(m.pixelRects[0]));
    EXPECT_EQ((Q{10, 5, 4, 6}), q(m.pixelRects[1]));
    EXPECT_EQ(uint32_t(KOC_CHAR_METRIC_CELL_CLIENT | KOC_CHAR_METRIC_CELL_PIXEL | KOC_CHAR_METRIC_MARK_CLIENT |
                       KOC_CHAR_METRIC_MARK_PIXEL),
              m.specifiedKinds);
    EXPECT_EQ(18.0, m.advance.x);
    EXPECT_EQ(1, m.isAdvanceSpecified);
    koc_charSegmentPositionResult_destruct(&p);
    koc_charWindow__destruct(&w);
    kimg_image_destruct(&image);
}

// A line 80 x 20 with dark marks at x 10..19 and 50..59 on rows 4..15;
// fragment set 0 is the right mark, set 1 a speck, set 2 the left mark.
struct PathLine {
    koc_charSegmentLineResult line;
    kimg_image image = test::makeImage8(80, 20, [](int32_t x, int32_t y) {
        return y >= 4 && y <= 15 && ((x >= 10 && x <= 19) || (x >= 50 && x <= 59)) ? 30 : 200;
    });

    PathLine(uint32_t spaceMode, std::vector<int32_t> path)
    {
        koc_charSegmentLineResult_construct(&line);
        line.hasBinarizationThreshold = 1;
        line.binarizationThreshold = 128;
        line.thresholdPolarityFlag = 1;
        koc_charSegmentLineResultData_* data = line.lineData;
        data->runContext.runParams.polarity = 1;
        data->runContext.runParams.spaceParams.spaceInsertionMode = spaceMode;
        const koc_charSegmentElementInfo tree[2] = {element({10, 4, 10, 12}), element({50, 4, 10, 12})};
        kstd_vector_koc_charSegmentElementInfo_assignElements(&data->treeElements, tree, 2);
        for (const kstd_rect32& r :
             {kstd_rect32{50, 4, 10, 12}, kstd_rect32{30, 4, 3, 3}, kstd_rect32{10, 4, 10, 12}}) {
            koc_charFragmentSet s;
            koc_charFragmentSet_construct(&s);
            s.mergedElement = element(r);
            kstd_vector_koc_charFragmentSet_pushBack(&data->tree.fragmentSets, &s);
            koc_charFragmentSet_destruct(&s);
        }
        kstd_vector32s_assignElements(&data->runContext.bestPath, path.data(), intptr_t(path.size()));
        koc::segment::prepareLineContext(data, &image, 1, &image);
    }
    ~PathLine()
    {
        kimg_image_destruct(&image);
        koc_charSegmentLineResult_destruct(&line);
    }
};

class PositionPath : public ::testing::TestWithParam<uint32_t> {};

TEST_P(PositionPath, LeftOutFragmentsMakeNoCharacter)
{
    PathLine l(GetParam(), {2, -1, 0});
    ASSERT_EQ(0, koc::segment::positionsFromBestPath(&l.line));
    const auto* e = static_cast<const koc_charSegmentElementInfo*>(l.line.lineData->charElements.base.begin);
    ASSERT_EQ(2, l.line.lineData->charElements.base.size);
    EXPECT_EQ((Q{10, 4, 10, 12}), q(e[0].rect));
    EXPECT_EQ((Q{50, 4, 10, 12}), q(e[1].rect));

    ASSERT_EQ(0, koc::segment::fillPositionResults(&l.line));
    const auto* p = static_cast<const koc_charSegmentPositionResult*>(l.line.positionResults.base.begin);
    const bool spaces = GetParam() != 0;
    ASSERT_EQ(spaces ? 3 : 2, l.line.positionResults.base.size);
    const koc_charSegmentPositionResult& last = p[spaces ? 2 : 1];
    for (const auto* c : {&p[0], &last}) {
        EXPECT_EQ((std::array<int32_t, 5>{1, 0, 120, 0, 1}),
                  (std::array<int32_t, 5>{c->isComputed, c->isSpace, c->area, c->character.key.code,
                                          c->character.hasBinarizationThreshold}));
    }
    EXPECT_EQ((Corners{10, 4, 20, 4, 10, 16}), corners(p[0].markRect));
    EXPECT_EQ((Corners{9, 3, 21, 3, 9, 17}), corners(p[0].cellRect));  // a grown cell
    EXPECT_EQ((Corners{50, 4, 60, 4, 50, 16}), corners(last.markRect));
    if (spaces) {
        EXPECT_EQ((std::array<int32_t, 5>{1, 1, 0, 32, kOne}),
                  (std::array<int32_t, 5>{p[1].isComputed, p[1].isSpace, p[1].area, p[1].character.key.code,
                                          p[1].spaceScore}));
        EXPECT_EQ((Corners{0, 0, 0, 0, 0, 0}), corners(p[1].markRect));
        EXPECT_EQ((Corners{28, 3, 42, 3, 28, 17}), corners(p[1].cellRect));
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, PositionPath, ::testing::Values(0u, 1u));

TEST(PositionPath, EmptyPathKeepsFinishingWindows)
{
    PathLine l(1, {});
    ASSERT_EQ(0, koc::segment::buildCharWindows(&l.line, &l.line.lineData->runContext.runParams, 0));
    ASSERT_EQ(0, koc::segment::positionsFromBestPath(&l.line));
    const auto* w = static_cast<const koc_charWindow_*>(l.line.lineData->windows.base.begin);
    ASSERT_EQ(2, l.line.lineData->windows.base.size);
    EXPECT_EQ((Q{10, 4, 10, 12}), q(w[0].cellRect));  // marks, not grown cells
    EXPECT_EQ((Q{50, 4, 10, 12}), q(w[1].cellRect));
    EXPECT_EQ(2, l.line.lineData->charElements.base.size);
}

}  // namespace
