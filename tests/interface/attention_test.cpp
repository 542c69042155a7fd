// attention_test.cpp: a call stays cancellable whatever a line's size: the
// host's attention check is polled in proportion to the pixels worked on,
// not only between stages, so the stretch between two polls is bounded.
#include <gtest/gtest.h>

#include "koc/koc.h"
#include "support/fakes.hpp"
#include "support/paragraph.hpp"
#include "support/text_image.hpp"

namespace {

// Polls of one whole segmentation of a line scaled by s in both directions
// (same characters, s^2 times the pixels).
long pollsAtScale(int32_t s, bool search)
{
    test::TextLine line;
    line.width = 600 * s;
    line.height = 80 * s;
    line.originX = 30.0 * s;
    line.originY = 25.0 * s;
    line.glyphHeight = 24 * s;
    line.glyphWidth = 14 * s;
    line.pitch = 22 * s;
    line.count = 10;
    test::Owned image(line.render());
    test::Paragraph para;
    para.params.maxLineAngle = search ? 3 : 0;
    para.params.maxSkewAngle = search ? 3 : 0;
    test::TrippingAttention counting(1L << 40);
    EXPECT_EQ(0, para.run8(image.img, test::boxRect(0, 0, line.width, line.height)));
    return counting.polls();
}

TEST(Attention, PollsGrowWithTheAreaOfTheLine)
{
    for (const bool search : {false, true}) {
        const long p2 = pollsAtScale(2, search);
        const long p6 = pollsAtScale(6, search);
        // Every pass over the pixels polls at least once per 64k pixels; a
        // call makes several such passes, so the extra pixels alone must
        // bring at least one poll per 64k of them.
        const long extraPixels = 600L * 80 * (36 - 4);
        EXPECT_GE(p6 - p2, extraPixels / 65536 * 3) << (search ? "with search" : "without search");
    }
}

}  // namespace
