// cpp_header_test.cpp: the C++ layer (koc/koc.hpp). Checked against the flat
// interface it wraps: the same positions, the same codes through the
// throwing and the non-throwing calls, ownership that frees every block
// exactly once, and nothing leaked when any allocation fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "koc/koc.hpp"
#include "support/fakes.hpp"
#include "support/text_image.hpp"

namespace {

test::TextLine smallLine()
{
    test::TextLine line;
    line.width = 200;
    line.height = 70;
    line.count = 5;
    line.originY = 20;
    line.glyphHeight = 20;
    line.glyphWidth = 11;
    line.pitch = 18;
    line.angleDeg = 3.0;
    return line;
}

// The rendered line's pixels as a caller's buffer (row pitch = width).
std::vector<uint8_t> renderBuffer(const test::TextLine& line)
{
    kimg_image image = line.render();
    std::vector<uint8_t> out(static_cast<size_t>(line.width) * static_cast<size_t>(line.height));
    kimg_windowConst w;
    kimg_windowConst_init(&w, &image);
    for (int32_t y = 0; y < w.height; ++y) {
        std::memcpy(&out[static_cast<size_t>(y * line.width)], static_cast<const uint8_t*>(w.pixels) + y * w.pitch,
                    static_cast<size_t>(line.width));
    }
    kimg_image_destruct(&image);
    return out;
}

koc::Rect wholeRect(const test::TextLine& line) { return koc::Rect::fromXYWH(0, 0, line.width, line.height); }

koc::RunParams searchingParams()
{
    koc::RunParams params;
    params.set("maxLineAngle", 10.0).set("maxSkewAngle", 5.0);
    return params;
}

TEST(CppHeader, SegmentsExactlyLikeTheFlatInterface)
{
    const test::TextLine line = smallLine();
    const std::vector<uint8_t> pixels = renderBuffer(line);
    const koc::RunParams params = searchingParams();

    // The flat interface on the same pixels.
    kimg_image image = line.render();
    kstd_vector_kmath_shapeAffineRect rects;
    kstd_vector_kmath_shapeAffineRect_constructEmpty(&rects);
    const kmath_shapeAffineRect whole = wholeRect(line).toC();
    kstd_vector_kmath_shapeAffineRect_pushBack(&rects, &whole);
    koc_charSegmentResult flat;
    koc_charSegmentResult_construct(&flat);
    ASSERT_EQ(koc_segmentCharacters8(&image, &rects, params.get(), &flat), 0);
    const koc_charSegmentParagraphResult* paragraph = nullptr;
    kstd_vector_koc_charSegmentParagraphResult_getElementConst(&flat.paragraphResults, 0, &paragraph);
    const koc_charSegmentLineResult* flatLine = nullptr;
    kstd_vector_koc_charSegmentLineResult_getElementConst(&paragraph->lineResults, 0, &flatLine);
    const koc_charSegmentPositionResult* flatPositions = nullptr;
    int32_t count = 0;
    kstd_vector_koc_charSegmentPositionResult_getBeginSizeConst(&flatLine->positionResults, &flatPositions, &count);

    const koc::Result result = koc::segment(koc::Image::view(pixels.data(), line.width, line.height), {wholeRect(line)}, params);
    const std::vector<koc::Paragraph> tree = result.paragraphs();
    ASSERT_EQ(tree.size(), 1u);
    ASSERT_EQ(tree[0].lines.size(), 1u);
    const koc::Line& l = tree[0].lines[0];
    EXPECT_TRUE(l.found);
    EXPECT_EQ(l.lineAngle, flatLine->lineAngle);
    EXPECT_EQ(l.skewAngle, flatLine->skewAngle);
    EXPECT_EQ(l.polarity, flatLine->polarity);
    EXPECT_EQ(l.threshold, flatLine->binarizationThreshold);
    EXPECT_TRUE(l.stats.computed());
    EXPECT_EQ(l.rectified.width(), flatLine->rectifiedLineImage.window.width);
    ASSERT_EQ(l.positions.size(), static_cast<size_t>(count));
    ASSERT_GE(count, line.count);
    for (int32_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const koc::Position& p = l.positions[static_cast<size_t>(i)];
        EXPECT_EQ(p.isSpace, flatPositions[i].isSpace != 0);
        EXPECT_EQ(p.area, flatPositions[i].area);
        EXPECT_EQ(p.spaceScore, flatPositions[i].spaceScore);
        EXPECT_EQ(p.mark, koc::Rect::fromC(flatPositions[i].markRect));
        EXPECT_EQ(p.cell, koc::Rect::fromC(flatPositions[i].cellRect));
    }
    koc_charSegmentResult_destruct(&flat);
    kstd_vector_kmath_shapeAffineRect_destruct(&rects);
    kimg_image_destruct(&image);
}

TEST(CppHeader, MovesLeaveTheSourceEmptyAndReleaseOnce)
{
    test::FailingAllocator heap;  // counts live blocks; outlives every owner below
    {
        const test::TextLine line = smallLine();
        const std::vector<uint8_t> pixels = renderBuffer(line);
        const koc::Image image = koc::Image::view(pixels.data(), line.width, line.height);
        koc::Result a = koc::segment(image, {wholeRect(line)});
        const long withOne = heap.liveBlocks();
        koc::Result b = std::move(a);
        EXPECT_EQ(a.get(), nullptr);
        EXPECT_FALSE(a.computed());
        std::vector<koc::Paragraph> out;
        EXPECT_EQ(a.paragraphs(std::nothrow, out), KOC_E_BAD_ARGUMENT);
        EXPECT_TRUE(b.computed());
        EXPECT_EQ(heap.liveBlocks(), withOne);

        // Move-assigning releases the destination's own tree first.
        koc::Result c = koc::segment(image, {wholeRect(line)});
        EXPECT_GT(heap.liveBlocks(), withOne);
        c = std::move(b);
        EXPECT_EQ(heap.liveBlocks(), withOne);
        EXPECT_EQ(b.get(), nullptr);
        ASSERT_EQ(c.paragraphs().at(0).lines.size(), 1u);

        // A clone is deep: it survives the original.
        koc::Result d = c.clone();
        c = koc::Result();
        EXPECT_EQ(d.paragraphs().at(0).lines.at(0).positions.size(), static_cast<size_t>(line.count));

        koc::Image moved = koc::Image::create(KIMG_DEPTH_16, 4, 3);
        koc::Image target(std::move(moved));
        EXPECT_FALSE(moved.bound());
        EXPECT_EQ(moved.get(), nullptr);
        EXPECT_EQ(target.depth(), KIMG_DEPTH_16);
        EXPECT_EQ(koc::segment(std::nothrow, moved, {wholeRect(line)}, koc::RunParams(), d), KOC_E_BAD_ARGUMENT);
    }
    EXPECT_EQ(heap.liveBlocks(), 0);
}

TEST(CppHeader, ViewSeesLaterWritesAndCloneDoesNot)
{
    std::vector<uint16_t> buffer(5 * 4, 100);
    const koc::Image view = koc::Image::view(buffer.data(), 4, 4, 5);  // pitch 5: one padding pixel per row
    const koc::Image copy = view.clone();
    buffer[3 * 5 + 2] = 7;
    EXPECT_EQ(view.pixels().at(3 * 4 + 2), 7);
    EXPECT_EQ(copy.pixels().at(3 * 4 + 2), 100);

    // The same through a segmentation: a blank buffer holds no line, the
    // text written into it afterwards is found.
    const test::TextLine line = smallLine();
    std::vector<uint8_t> pixels(static_cast<size_t>(line.width) * static_cast<size_t>(line.height), 220);
    const koc::Image image = koc::Image::view(pixels.data(), line.width, line.height);
    const koc::RunParams params = searchingParams();
    EXPECT_FALSE(koc::segment(image, {wholeRect(line)}, params).paragraphs().at(0).lines.at(0).found);
    const std::vector<uint8_t> text = renderBuffer(line);
    std::copy(text.begin(), text.end(), pixels.begin());  // into the same storage
    EXPECT_TRUE(koc::segment(image, {wholeRect(line)}, params).paragraphs().at(0).lines.at(0).found);
}

// Each failing call gives its exact code as koc::Error (with the code's name
// and message) and from its non-throwing twin.
TEST(CppHeader, EveryFailureSurfacesItsCodeThroughBothVariants)
{
    const test::TextLine line = smallLine();
    const std::vector<uint8_t> pixels = renderBuffer(line);
    const koc::Image image = koc::Image::view(pixels.data(), line.width, line.height);
    const std::vector<koc::Rect> whole{wholeRect(line)};
    koc::RunParams badParams;
    badParams->numLines = 0;
    koc::RunParams rowEdgelets;
    rowEdgelets->useGradientMethod = 0;
    const std::vector<uint16_t> pixels16(pixels.begin(), pixels.end());
    const koc::Image image16 = koc::Image::view(pixels16.data(), line.width, line.height);
    const std::vector<uint8_t> blank(pixels.size(), 200);
    const koc::Image blankImage = koc::Image::view(blank.data(), line.width, line.height);
    const koc::Image unbound;
    const koc::Image wrongMask = koc::Image::create(KIMG_DEPTH_8, 3, 3);

    struct Case {
        const char* what;
        int32_t code;
        std::function<void()> throwing;
        std::function<int32_t()> nonThrowing;
    };
    const Case cases[] = {
        {"invalid record", KOC_E_NUM_LINES, [&] { badParams.validate(); },
         [&] { return badParams.validate(std::nothrow); }},
        {"segment with an invalid record", KOC_E_NUM_LINES, [&] { koc::segment(image, whole, badParams); },
         [&] { koc::Result r; return koc::segment(std::nothrow, image, whole, badParams, r); }},
        {"no rectangles", KOC_E_NO_RECTS, [&] { koc::segment(image, {}); },
         [&] { koc::Result r; return koc::segment(std::nothrow, image, {}, koc::RunParams(), r); }},
        {"rectangle outside", KOC_E_RECT_OUTSIDE_IMAGE,
         [&] { koc::segment(image, {koc::Rect::fromXYWH(500, 500, 10, 10)}); },
         [&] { koc::Result r; return koc::segment(std::nothrow, image, {koc::Rect::fromXYWH(500, 500, 10, 10)}, koc::RunParams(), r); }},
        {"unbound image", KOC_E_IMAGE_UNBOUND, [&] { koc::segment(unbound, whole); },
         [&] { koc::Result r; return koc::segment(std::nothrow, unbound, whole, koc::RunParams(), r); }},
        {"16-bit without the gradient method", KOC_E_NEEDS_GRADIENT_METHOD,
         [&] { koc::segment(image16, whole, rowEdgelets); },
         [&] { koc::Result r; return koc::segment(std::nothrow, image16, whole, rowEdgelets, r); }},
        {"range image of an 8-bit image", KOC_E_IMAGE_DEPTH, [&] { koc::RangeImage::create(image, wrongMask); },
         [&] { koc::RangeImage r; return koc::RangeImage::create(std::nothrow, image, wrongMask, r); }},
        {"image of a bad depth", KOC_E_BAD_ARGUMENT, [&] { koc::Image::create(3, 4, 4); },
         [&] { koc::Image i; return koc::Image::create(std::nothrow, 3, 4, 4, i); }},
        {"view with pitch below width", KOC_E_BAD_ARGUMENT, [&] { koc::Image::view(pixels.data(), 10, 2, 5); },
         [&] { koc::Image i; return koc::Image::view(std::nothrow, pixels.data(), 10, 2, 5, i); }},
        {"unknown field", KOC_E_BAD_ARGUMENT, [&] { koc::RunParams().set("noSuchField", 1); },
         [&] { return koc::RunParams().set(std::nothrow, "noSuchField", 1); }},
        {"fraction into an integer field", KOC_E_BAD_ARGUMENT, [&] { koc::RunParams().set("numLines", 1.5); },
         [&] { return koc::RunParams().set(std::nothrow, "numLines", 1.5); }},
        {"negative into an unsigned field", KOC_E_BAD_ARGUMENT, [&] { koc::RunParams().set("polarity", -1); },
         [&] { return koc::RunParams().set(std::nothrow, "polarity", -1); }},
        {"tree of a result not computed", KOC_E_NOT_COMPUTED, [&] { koc::Result().paragraphs(); },
         [&] { std::vector<koc::Paragraph> p; return koc::Result().paragraphs(std::nothrow, p); }},
        {"binarised image of a missing line", KOC_E_INDEX_OUT_OF_RANGE,
         [&] { koc::segment(image, whole).binarizedLineImage(0, 1); },
         [&] {
             koc::Result r = koc::segment(image, whole);
             koc::Image out;
             return r.binarizedLineImage(std::nothrow, 0, 1, out);
         }},
        {"estimate on a blank line", KOC_E_NO_INK, [&] { koc::estimateRunParams(blankImage, whole[0]); },
         [&] { koc::Estimate e; return koc::estimateRunParams(std::nothrow, blankImage, whole[0], koc::RunParams(), 0, e); }},
        {"segment with a switch neither 0 nor 1", KOC_E_BAD_ARGUMENT,
         [&] { koc::segment(image, whole, koc::RunParams(), koc_charSegmentExtensions{2, 0, 0}); },
         [&] {
             koc::Result r;
             return koc::segment(std::nothrow, image, whole, koc::RunParams(), koc_charSegmentExtensions{2, 0, 0}, r);
         }},
        {"auto road with an invalid record", KOC_E_NUM_LINES, [&] { koc::segmentAuto(image, whole[0], badParams); },
         [&] {
             koc::AutoRun r;
             return koc::segmentAuto(std::nothrow, image, whole[0], badParams, 0, koc_charSegmentExtensions{}, 0, r);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.nonThrowing(), c.code);
        try {
            c.throwing();
            ADD_FAILURE() << "no exception";
        } catch (const koc::Error& e) {
            EXPECT_EQ(e.code(), c.code);
            EXPECT_STREQ(e.name(), koc_resultName(c.code));
            EXPECT_STREQ(e.message(), koc_resultMessage(c.code));
            EXPECT_NE(std::string(e.what()).find(koc_resultName(c.code)), std::string::npos);
        }
    }
    // A failed segmentation into a result that held a tree leaves it not computed.
    koc::Result reused = koc::segment(image, whole);
    EXPECT_EQ(koc::segment(std::nothrow, image, {}, koc::RunParams(), reused), KOC_E_NO_RECTS);
    EXPECT_FALSE(reused.computed());
    koc::AutoRun again = koc::segmentAuto(image, whole[0]);
    EXPECT_TRUE(again.result.computed());
    EXPECT_EQ(koc::segmentAuto(std::nothrow, image, koc::Rect::fromXYWH(500, 500, 10, 10), koc::RunParams(), 0,
                               koc_charSegmentExtensions{}, 0, again),
              KOC_E_RECT_OUTSIDE_IMAGE);
    EXPECT_FALSE(again.result.computed());
    EXPECT_EQ(again.report.isComputed, 0u);
}

// The auto road's one paragraph is what segment() gives with the record
// and extensions it reports (none on this clean line).
TEST(CppHeader, SegmentAutoIsSegmentWithWhatItChose)
{
    const test::TextLine line = smallLine();
    const std::vector<uint8_t> pixels = renderBuffer(line);
    const koc::Image image = koc::Image::view(pixels.data(), line.width, line.height);
    const koc::AutoRun run = koc::segmentAuto(image, wholeRect(line));
    ASSERT_EQ(run.report.isComputed, 1u);
    EXPECT_EQ(run.report.estimateCode, 0);
    EXPECT_EQ(run.report.extensions.splitTouchingGlyphs, 0u);
    EXPECT_EQ(run.report.extensions.walkNodeBudget, 0);
    const std::vector<koc::Paragraph> got = run.result.paragraphs();
    const std::vector<koc::Paragraph> want =
        koc::segment(image, {wholeRect(line)}, koc::RunParams(run.report.params), run.report.extensions).paragraphs();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].lines.size(), 1u);
    ASSERT_EQ(got[0].lines[0].positions.size(), want[0].lines[0].positions.size());
    ASSERT_GE(got[0].lines[0].positions.size(), static_cast<size_t>(line.count));
    for (size_t i = 0; i < got[0].lines[0].positions.size(); ++i) {
        EXPECT_EQ(got[0].lines[0].positions[i].mark, want[0].lines[0].positions[i].mark) << i;
    }
}

// Every allocation of a whole round (image, segmentation, tree, binarised
// image, clone, estimate, auto road) fails once in turn: each failure is the
// out-of-memory code and nothing is left allocated.
TEST(CppHeader, LeaksNothingWhenAnyAllocationFails)
{
    test::TextLine line = smallLine();
    line.angleDeg = 0.0;
    const std::vector<uint8_t> pixels = renderBuffer(line);
    const auto round = [&] {
        const koc::Image image = koc::Image::view(pixels.data(), line.width, line.height);
        const koc::Image copy = image.clone();
        koc::Result result = koc::segment(copy, {wholeRect(line)});
        const std::vector<koc::Paragraph> tree = result.paragraphs();
        const koc::Image binary = result.binarizedLineImage(0, 0);
        const koc::Result twin = result.clone();
        const koc::Estimate estimate = koc::estimateRunParams(image, wholeRect(line));
        const koc::AutoRun run = koc::segmentAuto(image, wholeRect(line));
        return tree.at(0).lines.at(0).positions.size() + static_cast<size_t>(binary.width()) +
               static_cast<size_t>(twin.computed()) + static_cast<size_t>(estimate.measured.glyphCount) +
               run.result.paragraphs().size();
    };
    long total = 0;
    {
        test::FailingAllocator counter;
        round();
        total = counter.allocations();
    }
    ASSERT_GT(total, 10);
    for (long failAt = 0; failAt < total; ++failAt) {
        test::FailingAllocator heap(failAt);
        try {
            round();
        } catch (const koc::Error& e) {
            EXPECT_EQ(e.code(), KOC_E_OUT_OF_MEMORY) << "allocation " << failAt;
        }
        EXPECT_TRUE(heap.failed()) << "allocation " << failAt;
        EXPECT_EQ(heap.liveBlocks(), 0) << "allocation " << failAt;
    }
}

// The field table is the record: one field per slot, no two sharing bytes,
// pin bits in declaration order, and by-name access that stores exactly
// the values the field's type holds.
TEST(CppHeader, FieldTableCoversTheRecordOnce)
{
    koc_charSegmentRunParams record;
    std::memset(&record, 0, sizeof record);
    const auto* base = reinterpret_cast<const unsigned char*>(&record);
    std::set<std::string> names;
    size_t covered = 0;
    for (size_t i = 0; i < koc::paramFields().size(); ++i) {
        const koc::ParamField& f = koc::paramFields()[i];
        SCOPED_TRACE(f.name);
        EXPECT_TRUE(names.insert(f.name).second);
        EXPECT_EQ(f.pin, uint64_t{1} << i);
        auto* slot = static_cast<unsigned char*>(f.slot(record));
        const size_t size = f.kind == koc::FieldKind::Double ? sizeof(double) : sizeof(int32_t);
        ASSERT_LE(static_cast<size_t>(slot - base) + size, sizeof record);
        for (size_t b = 0; b < size; ++b) {
            EXPECT_EQ(slot[b], 0) << "bytes shared with another field";
            slot[b] = 0xA5;
        }
        covered += size;
    }
    // What is left is alignment padding only (less than one double per field).
    EXPECT_LT(sizeof record - covered, koc::paramFields().size() * 4);
    EXPECT_EQ(names.size(), 39u);

    koc::RunParams p;
    EXPECT_EQ(p.get("maxSpaceWidth"), 100.0);
    p.set("maxSpaceWidth", 120).set("thresholdFraction", 0.25).set("polarity", 4294967295.0);
    EXPECT_EQ(p->spaceParams.maxSpaceWidth, 120);
    EXPECT_EQ(p->thresholdFraction, 0.25);
    EXPECT_EQ(p->polarity, 4294967295u);
    EXPECT_EQ(p.set(std::nothrow, "minCharGap", 2147483648.0), KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(p.set(std::nothrow, "minCharGap", std::nan("")), KOC_E_BAD_ARGUMENT);
    EXPECT_EQ(p->minCharGap, 1);
    EXPECT_EQ(p.validate(std::nothrow), KOC_E_POLARITY);
}

}  // namespace
