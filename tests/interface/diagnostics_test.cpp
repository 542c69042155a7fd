// diagnostics_test.cpp: the drawing hook runs, reads nothing, and passes an
// allocation failure on without leaking the lists it already made.
#include <gtest/gtest.h>

#include "koc/koc.h"
#include "koc/koc_diags.h"
#include "support/fakes.hpp"

namespace {

TEST(DrawDiags, RunsWithoutTouchingItsArgumentsAndReleasesEveryList)
{
    EXPECT_EQ(0, koc_drawDiags(nullptr, nullptr, nullptr));
    int32_t a = 1, b = 2, c = 3;
    for (long failAt = 0;; ++failAt) {
        test::FailingAllocator alloc(failAt);
        const int32_t rc = koc_drawDiags(&a, &b, &c);
        EXPECT_EQ(0, alloc.liveBlocks()) << "failAt=" << failAt;
        if (!alloc.failed()) {
            EXPECT_EQ(0, rc);
            EXPECT_EQ(7, alloc.allocations());  // one working list and six more
            break;
        }
        EXPECT_EQ(KOC_E_OUT_OF_MEMORY, rc);
    }
    EXPECT_EQ(1, a);
    EXPECT_EQ(2, b);
    EXPECT_EQ(3, c);
}

}  // namespace
