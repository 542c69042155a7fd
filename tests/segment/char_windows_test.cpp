// char_windows_test.cpp: windows of a line, their filters, reference
// points and space scores.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "segment/char_windows.hpp"
#include "support/elements.hpp"
#include "support/fakes.hpp"

namespace {

constexpr int32_t kOne = 65536;
using Q = test::Q;
using test::element;
using test::q;

// A line 80 x 20, light ground (200): dark marks (30) at x 10..19 and
// 50..59 on rows 4..15, and a dark stripe x 30..31 on rows 3..16 that no
// element claims, so the space between the marks is not quite empty.
struct Line {
    koc_charSegmentLineResult line;
    koc_charSegmentRunParams params;
    kimg_image image = test::makeImage8(80, 20, [](int32_t x, int32_t y) {
        const bool mark = y >= 4 && y <= 15 && ((x >= 10 && x <= 19) || (x >= 50 && x <= 59));
        return mark || (y >= 3 && y <= 16 && (x == 30 || x == 31)) ? 30 : 200;
    });

    explicit Line(std::vector<koc_charSegmentElementInfo> tree = {element({10, 4, 10, 12}, 120),
                                                                  element({50, 4, 10, 12}, 120)})
    {
        koc_charSegmentLineResult_construct(&line);
        koc_charSegmentRunParams_construct(&params);
        params.polarity = 1;
        line.hasBinarizationThreshold = 1;
        line.binarizationThreshold = 128;
        line.thresholdPolarityFlag = 1;
        kstd_vector_koc_charSegmentElementInfo_assignElements(&line.lineData->treeElements, tree.data(),
                                                              intptr_t(tree.size()));
    }
    ~Line()
    {
        kimg_image_destruct(&image);
        koc_charSegmentRunParams_destruct(&params);
        koc_charSegmentLineResult_destruct(&line);
    }
    std::vector<koc_charWindow_> windows() const
    {
        const auto* w = static_cast<const koc_charWindow_*>(line.lineData->windows.base.begin);
        return std::vector<koc_charWindow_>(w, w + line.lineData->windows.base.size);
    }
};

// A turned client frame of 2 units per pixel: the line frame is 0.5 pixel
// per unit either way; elements span rows 2 .. 10.
TEST(WindowContext, PrepareTakesElementsScaleAndImages)
{
    Line l({element({0, 6, 4, 5}, 20), element({9, 2, 4, 3}, 12)});
    const kmath_xformLinear turnedByTwo{{0.0, 2.0, -2.0, 0.0}, {7.0, 9.0}};
    ASSERT_EQ(0, kimg_image_setLinearClientFromImageXform(&l.image, &turnedByTwo));
    koc_charSegmentLineResultData_* d = l.line.lineData;
    ASSERT_EQ(0, koc::segment::prepareLineContext(d, &l.image, 0, &l.image));
    const kmath_xformLinear& s = d->lineFrameScale;
    EXPECT_EQ((std::array<double, 7>{2, 9, 0.5, 0, 0, 0.5, 0}),
              (std::array<double, 7>{double(d->charElements.base.size), d->typicalElementHeight, s.matrix.a,
                                     s.matrix.b, s.matrix.c, s.matrix.d, s.trans.x}));
    EXPECT_NE(l.image.store, d->sourceImage.store);  // a copy of its own
    EXPECT_EQ(l.image.store, d->workingImage.store);
}

class WindowBuild : public ::testing::TestWithParam<uint32_t> {};

// Cells 9..20 and 49..60 over rows 3..16 (m = 1); the 14-pixel space at 28
// holds 28 stripe pixels of 196.
TEST_P(WindowBuild, RebuildInsertsAndScoresSpaces)
{
    Line l;
    l.params.spaceParams.spaceInsertionMode = 1;
    l.params.spaceParams.scoreSpaces = GetParam();
    ASSERT_EQ(0, koc::segment::prepareLineContext(l.line.lineData, &l.image, 1, &l.image));
    ASSERT_EQ(0, kstd_vector_koc_charSegmentPositionResult_resize(&l.line.positionResults, 4));
    ASSERT_EQ(0, koc::segment::buildCharWindows(&l.line, &l.params, 1));
    EXPECT_EQ(0, l.line.positionResults.base.size);
    const auto w = l.windows();
    ASSERT_EQ(3u, w.size());
    const Q cells[3] = {{9, 3, 12, 14}, {28, 3, 14, 14}, {49, 3, 12, 14}};
    const Q marks[3] = {{10, 4, 10, 12}, {0, 0, 0, 0}, {50, 4, 10, 12}};
    const int32_t refX[3] = {10, 28, 50};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(cells[i], q(w[i].generatedCellRect));
        EXPECT_EQ(cells[i], q(w[i].cellRect));
        EXPECT_EQ(marks[i], q(w[i].markRect));
        EXPECT_EQ((Q{0, 0, 80, 20}), q(w[i].imageWindow));
        EXPECT_EQ(1, w[i].polarity);
        EXPECT_EQ(i == 1, w[i].isSpace);
        EXPECT_EQ(i == 1 ? 32 : 0, w[i].key.code);
        EXPECT_EQ(i == 1 ? 0 : 120, w[i].markArea);
        EXPECT_EQ(refX[i] * kOne, w[i].referenceX);
        EXPECT_EQ(16 * kOne, w[i].referenceY);  // marks stand on row 16, the space on their mean
    }
    EXPECT_EQ(0, w[0].spaceScore);
    EXPECT_EQ(GetParam() == 1 ? 56174 : kOne, w[1].spaceScore);  // (1 - 28/196) * 65536

    ASSERT_EQ(0, koc::segment::charElementsFromWindows(&l.line));
    const auto* e = static_cast<const koc_charSegmentElementInfo*>(l.line.lineData->charElements.base.begin);
    ASSERT_EQ(3, l.line.lineData->charElements.base.size);
    EXPECT_EQ(cells[1], q(e[1].rect));
    EXPECT_EQ(0, e[1].area);
    EXPECT_EQ(120, e[2].area);
    EXPECT_EQ(-1, e[0].contrast);
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowBuild, ::testing::Values(1u, 0u));

struct ScoreCase {
    int32_t hasBinarization;
    uint32_t threshold;
    int32_t polarityFlag;
    kstd_rect32 cell;
    int32_t score;
};

class SpaceScore : public ::testing::TestWithParam<ScoreCase> {};

TEST_P(SpaceScore, ShareOfCellWithoutMarkPixels)
{
    const ScoreCase& c = GetParam();
    Line l;  // dark marks at x 10..19 on rows 4..15, ground from x 20 to 29
    l.line.hasBinarizationThreshold = c.hasBinarization;
    l.line.binarizationThreshold = c.threshold;
    l.line.thresholdPolarityFlag = c.polarityFlag;
    int32_t score = -1;
    ASSERT_EQ(0, koc::segment::computeSpaceScore(&l.line, &l.image, &c.cell, &score));
    EXPECT_EQ(c.score, score);
}

INSTANTIATE_TEST_SUITE_P(Spaces, SpaceScore,
                         ::testing::Values(ScoreCase{1, 128, 1, {20, 4, 5, 10}, kOne},      // dark marks, empty
                                           ScoreCase{1, 128, 1, {10, 4, 5, 10}, 0},         // full
                                           ScoreCase{1, 0x180, 1, {16, 6, 8, 3}, kOne / 2}, // low 8 bits: 128
                                           ScoreCase{1, 128, 0, {20, 4, 5, 10}, 0},         // light marks
                                           ScoreCase{0, 128, 1, {20, 4, 5, 10}, 0}));       // no threshold

// Defaults: width and height at least 3, area at least 30 unless unknown
// (-1); survivors keep their order.
TEST(WindowFilter, ElementsAndWindowsShareTheRule)
{
    Line l({element({0, 0, 3, 3}, 30), element({10, 0, 2, 10}, 100), element({20, 0, 10, 2}, 100),
            element({30, 0, 10, 10}, 29), element({40, 0, 10, 10}, -1)});
    koc_charSegmentLineResultData_* d = l.line.lineData;
    ASSERT_EQ(0, kstd_vector_koc_charWindow__resize(&d->windows, 5));
    const auto* t = static_cast<const koc_charSegmentElementInfo*>(d->treeElements.base.begin);
    auto* w = static_cast<koc_charWindow_*>(d->windows.base.begin);
    for (int i = 0; i < 5; ++i) {
        w[i].generatedCellRect = t[i].rect;
        w[i].markArea = t[i].area;
    }
    ASSERT_EQ(0, koc::segment::filterCharElements(&l.params, &d->treeElements));
    ASSERT_EQ(0, koc::segment::filterCharWindows(&l.params, &d->windows));
    t = static_cast<const koc_charSegmentElementInfo*>(d->treeElements.base.begin);
    const auto windows = l.windows();
    ASSERT_EQ(2, d->treeElements.base.size);
    ASSERT_EQ(2u, windows.size());
    EXPECT_EQ((Q{0, 40, 0, 40}),
              (Q{t[0].rect.x, t[1].rect.x, windows[0].generatedCellRect.x, windows[1].generatedCellRect.x}));
}

struct ReferenceCase {
    std::vector<kstd_rect32> marks, cells;
    std::vector<int32_t> x, y;  // 16.16
};

class WindowReference : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(WindowReference, BottomLeftOfMarkOrOfTheLine)
{
    const ReferenceCase& c = GetParam();
    Line l;
    koc::segment::Windows* windows = &l.line.lineData->windows;
    ASSERT_EQ(0, kstd_vector_koc_charWindow__resize(windows, intptr_t(c.marks.size())));
    auto* w = static_cast<koc_charWindow_*>(windows->base.begin);
    for (size_t i = 0; i < c.marks.size(); ++i) {
        w[i].markRect = c.marks[i];
        w[i].cellRect = c.cells[i];
    }
    ASSERT_EQ(0, koc::segment::setWindowReferencePoints(windows));
    std::vector<int32_t> x, y;
    for (const auto& win : l.windows()) {
        x.push_back(win.referenceX);
        y.push_back(win.referenceY);
    }
    EXPECT_EQ(c.x, x);
    EXPECT_EQ(c.y, y);
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowReference,
    ::testing::Values(
        // a space between marks ending on rows 15 and 14 stands on their mean, 14.5
        ReferenceCase{{{10, 5, 4, 10}, {0, 0, 0, 0}, {30, 3, 4, 11}},
                      {{9, 0, 6, 20}, {20, 0, 5, 20}, {29, 0, 6, 20}},
                      {10 * kOne, 20 * kOne, 30 * kOne},
                      {15 * kOne, 14 * kOne + kOne / 2, 14 * kOne}},
        // no mark at all: each stands on its own cell's bottom
        ReferenceCase{{{0, 0, 0, 0}, {5, 5, 0, 3}}, {{0, 2, 5, 10}, {7, 1, 5, 12}}, {0, 7 * kOne},
                      {12 * kOne, 13 * kOne}}));

}  // namespace
