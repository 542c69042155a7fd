// band_elements_test.cpp: band-aware element building keeps a clean line's
// marks on their glyphs beside a speck field that the plain road chains into
// them, and with the switch off the road is unchanged.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "koc/koc.h"
#include "support/paragraph.hpp"
#include "support/text_image.hpp"

namespace {

// The default test line (10 glyphs 14 x 24, pitch 22, top at 25) with a
// field of `speck` x `speck` specks in `depth` rows above and below it,
// starting `gap` pixels from the glyphs; one speck per `cell` x `cell`
// pixels, each at a pseudo-random place in its cell (a fixed sequence, so
// the field is the same on every run).
kimg_image lineWithSpeckField(const test::TextLine& line, int32_t speck, int32_t gap, int32_t depth, int32_t cell)
{
    kimg_image image = line.render();
    kimg_window w;
    kimg_window_init(&w, &image);
    auto* px = static_cast<uint8_t*>(w.pixels);
    uint32_t state = 12345;
    auto next = [&](uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int32_t>((state >> 16) % n);
    };
    const int32_t top = static_cast<int32_t>(line.originY);
    const int32_t bottom = top + line.glyphHeight;
    const std::array<std::array<int32_t, 2>, 2> fields{{{top - gap - depth, top - gap}, {bottom + gap, bottom + gap + depth}}};
    for (const auto& [y0, y1] : fields)
        for (int32_t cy = y0; cy + cell <= y1; cy += cell)
            for (int32_t cx = 2; cx + cell <= line.width - 2; cx += cell) {
                const int32_t x = cx + next(static_cast<uint32_t>(cell - speck + 1));
                const int32_t y = cy + next(static_cast<uint32_t>(cell - speck + 1));
                for (int32_t j = 0; j < speck; ++j)
                    for (int32_t i = 0; i < speck; ++i) px[(y + j) * w.pitch + x + i] = static_cast<uint8_t>(line.ink);
            }
    return image;
}

struct Marks {
    int32_t rc = 0;
    std::vector<test::MarkBox> boxes;
};

Marks segment(const kimg_image& image, const test::TextLine& line, uint32_t bandAware)
{
    const kmath_shapeAffineRect rect = test::boxRect(0, 0, line.width, line.height);
    koc_charSegmentRunParams params;
    koc_charSegmentRunParams_construct(&params);
    params.minCharArea = 10;
    koc_charSegmentExtensions ext;
    koc_charSegmentExtensions_construct(&ext);
    ext.bandAwareElements = bandAware;
    koc_charSegmentParagraphResult result;
    koc_charSegmentParagraphResult_construct(&result);
    Marks m;
    m.rc = koc_segmentCharactersParagraphExt8(&image, &rect, &params, &ext, &result);
    if (m.rc == 0) m.boxes = test::markBoxes(result);
    koc_charSegmentParagraphResult_destruct(&result);
    koc_charSegmentRunParams_destruct(&params);
    return m;
}

// 3 x 3 specks, one per 6 x 6 pixels (a quarter of the field's pixels), in
// 12 rows from 3 pixels above and below the glyphs: one mark per glyph, each
// within one pixel of its glyph's ink box.
TEST(BandAwareElements, SpeckFieldBesideACleanLineLeavesEveryMarkOnItsGlyph)
{
    const test::TextLine line;
    kimg_image image = lineWithSpeckField(line, 3, 3, 12, 6);
    const Marks m = segment(image, line, 1);
    ASSERT_EQ(0, m.rc);
    test::expectMarksOnGlyphs(line, m.boxes);
    kimg_image_destruct(&image);
}

// The same field defeats the plain road (its marks reach into the specks),
// which is why the switch exists; on the clean line alone both agree.
TEST(BandAwareElements, PlainRoadChainsTheSpecksAndCleanLinesAgree)
{
    const test::TextLine line;
    kimg_image noisy = lineWithSpeckField(line, 3, 3, 12, 6);
    const Marks plain = segment(noisy, line, 0);
    ASSERT_EQ(0, plain.rc);
    bool reaches = plain.boxes.size() != size_t(line.count);
    for (const auto& b : plain.boxes) reaches = reaches || b[1] < line.originY - 1 || b[3] > line.originY + line.glyphHeight + 1;
    EXPECT_TRUE(reaches);
    kimg_image_destruct(&noisy);

    kimg_image clean = line.render();
    EXPECT_EQ(segment(clean, line, 0).boxes, segment(clean, line, 1).boxes);
    kimg_image_destruct(&clean);
}

}  // namespace
