// path_scoring_test.cpp: the order in which the walk tries characters, the
// running score that prunes and keeps the best path, the string comparison
// behind it, and the walk's allocations on the line road.
#include <gtest/gtest.h>

#include <vector>

#include "hypotheses/hypotheses_internal.hpp"
#include "hypotheses/hypothesis_tree.hpp"
#include "hypotheses/path_scoring.hpp"
#include "koc/koc.h"
#include "support/fakes.hpp"

namespace {

using namespace koc::hypotheses;
using Ints = std::vector<int32_t>;
using Frags = std::vector<koc_charSegmentElementInfo>;

koc_charSegmentElementInfo frag(int32_t x, int32_t w, int32_t area = 50)
{
    koc_charSegmentElementInfo e;
    koc_charSegmentElementInfo_reset(&e);
    e.rect = {x, 0, w, 20};
    e.area = area;
    return e;
}

template <class V>
Ints toInts(const V& v) { return Ints(itemsOf<int32_t>(v), itemsOf<int32_t>(v) + sizeOf(v)); }

// One line's working data with its tree built from fragments, default limits.
struct Line {
    koc_charSegmentLineResultData_ d;
    koc_charSegmentRunParams p;
    Line() { construct(&d); koc_charSegmentRunParams_construct(&p); }
    ~Line() { destruct(&d); }
    void build(const Frags& f)
    {
        ASSERT_EQ(0, kstd_vector_koc_charSegmentElementInfo_assignElements(&d.treeElements, f.data(), intptr_t(f.size())));
        ASSERT_EQ(0, buildLineTree(&d, &p, nullptr));
    }
    // A broken third character: its halves as two characters leave a gap of
    // 2, below minCharGap 3; joined they make a clean line.
    void buildBroken()
    {
        p.minCharGap = 3;
        build({frag(0, 10, 100), frag(14, 10, 100), frag(28, 4, 40), frag(34, 4, 40), frag(42, 10, 100)});
    }
    const koc_charFragmentSet& set(int32_t s) const { return itemsOf<koc_charFragmentSet>(d.tree.fragmentSets)[s]; }
};

TEST(LineWalk, TriesCleanSuccessorsFirstAndFindsTheCleanSegmentation)
{
    Line line;
    line.buildBroken();
    kstd_vector_vector32s order;
    kstd_vector_vector32s_constructEmpty(&order);
    ASSERT_EQ(0, orderChildren(&line.d.tree, &line.d.runContext, &order));
    ASSERT_EQ(5, sizeOf(order));
    // Level 1: [1] (then [2], gap 4), [1..2] (then [3] or [3..4], gap 2), [1..3] (then [4], gap 4).
    EXPECT_EQ((Ints{0, 2, 1}), toInts(itemsOf<kstd_vector32s>(order)[1]));
    kstd_vector_vector32s_destruct(&order);

    ASSERT_EQ(0, walkLineTree(&line.d));
    const LineRunContext& c = line.d.runContext;
    Ints runs;  // first fragment and count of each chosen character
    for (int32_t s : toInts(c.bestPath)) runs.insert(runs.end(), {line.set(s).indexView[0], line.set(s).count});
    EXPECT_EQ((Ints{0, 1, 1, 1, 2, 2, 4, 1}), runs);
    EXPECT_EQ((Ints{0, 4, 380}), (Ints{c.bestCost, c.bestStats.charCount, c.bestStats.markAreaSum}));
}

TEST(VisitPath, PrunesAboveTheBestCostOnlyAndNeverKeepsAnEmptyString)
{
    Line line;
    line.build({frag(0, 10), frag(30, 10)});  // too flat together: sets 0 [0], 1 [1]
    LineRunContext& c = line.d.runContext;
    ASSERT_EQ(0, prepareRunContext(&c, 2));
    c.bestCost = 1;
    int32_t prune = 1, stop = 1;
    const Ints gaps{-1, -1}, chars{0, 1};
    ASSERT_EQ(0, visitPath(&line.d.tree, gaps.data(), 1, 0, &c, &prune, &stop));
    EXPECT_EQ(0, prune + stop);  // cost 1 = best: may still win on ink
    ASSERT_EQ(0, visitPath(&line.d.tree, gaps.data(), 2, 1, &c, &prune, &stop));
    EXPECT_EQ(1, prune);
    EXPECT_EQ(0, sizeOf(c.bestPath));  // no characters: never the best
    ASSERT_EQ(0, visitPath(&line.d.tree, chars.data(), 1, 0, &c, &prune, &stop));
    ASSERT_EQ(0, visitPath(&line.d.tree, chars.data(), 2, 1, &c, &prune, &stop));
    EXPECT_EQ(0, c.bestCost);
    EXPECT_EQ(chars, toInts(c.bestPath));
}

TEST(LineWalk, AllocatesNothingPerVisitedPath)
{
    auto walkAllocations = [](Frags f, uint32_t gapMode) {
        Line line;
        line.p.limitAspect = 0;
        line.p.limitCharWidth = 1;
        line.p.maxCharWidth = 8;
        line.p.minCharGap = 0;
        line.p.gapMode = gapMode;
        line.build(f);
        EXPECT_EQ(0, walkLineTree(&line.d));  // sizes the run context once
        test::FailingAllocator counter;
        EXPECT_EQ(0, walkLineTree(&line.d));
        return counter.allocations();
    };
    Frags touching, apart;
    for (int32_t k = 0; k < 16; ++k) {
        touching.push_back(frag(4 * k, 4));  // each alone or paired: 1597 paths
        apart.push_back(frag(10 * k, 4));    // nothing joins across a gap in mode 4: one path
    }
    const long a = walkAllocations(touching, 1);
    EXPECT_EQ(walkAllocations(apart, 4), a);
    EXPECT_LE(a, 16 + 8);  // the walk's arrays and one order list per level
}

// A line of 2000 specks that may pair up every way: with a node budget
// below what the walk would visit, it stops once the budget is spent and
// still returns a complete segmentation.
TEST(LineWalk, NodeBudgetBoundsAWalkOfTwoThousandSpecks)
{
    Line line;
    line.p.limitAspect = 0;
    line.p.limitCharWidth = 1;
    line.p.maxCharWidth = 6;
    line.p.minCharWidth = line.p.minCharHeight = line.p.minCharArea = 1;
    Frags specks;
    for (int32_t k = 0; k < 2000; ++k) specks.push_back(frag(3 * k + (k % 3 == 0 ? 1 : 0), 2, 4));
    line.build(specks);
    int64_t unbounded = 0, visited = 0;
    ASSERT_EQ(0, walkLineTree(&line.d, 0, &unbounded));
    ASSERT_GT(unbounded, 3000);
    ASSERT_EQ(0, walkLineTree(&line.d, 3000, &visited));
    EXPECT_EQ(3000, visited);
    // The budget never cuts the first descent short: a path covers the line.
    int32_t covered = 0;
    const int32_t* best = itemsOf<int32_t>(line.d.runContext.bestPath);
    for (int32_t k = 0; k < sizeOf(line.d.runContext.bestPath); ++k) covered += best[k] < 0 ? 1 : line.set(best[k]).count;
    EXPECT_EQ(2000, covered);

    // A budget below the depth of the first descent still lets it finish.
    Line small;
    small.build({frag(0, 10), frag(14, 10), frag(28, 10)});
    ASSERT_EQ(0, walkLineTree(&small.d, 1, &visited));
    EXPECT_EQ(3, visited);
    EXPECT_EQ(3, sizeOf(small.d.runContext.bestPath));
}

// One side of a comparison: characters, violations, ink, pitch and gap samples.
struct Side { int32_t chars, violations, area; Ints pitches, gaps; };
struct BetterCase { const char* name; Side c, b; uint32_t source; bool better; };
class Better : public testing::TestWithParam<BetterCase> {};
TEST_P(Better, OrdersStrings)
{
    auto make = [](const Side& s) {
        koc_stringStats t;
        koc_stringStats_construct(&t);
        t.charCount = s.chars;
        t.invalidCharCount = s.violations;
        t.markAreaSum = s.area;
        koc_stringSpacingStats& sp = t.spacingStats;
        for (int32_t v : s.pitches)
            for (auto* acc : {&sp.leftToLeftStats, &sp.centreToCentreStats, &sp.rightToRightStats}) koc_statistics32_add(acc, v);
        for (int32_t v : s.gaps) koc_statistics32_add(&sp.gapStats, v);
        return t;
    };
    const BetterCase& k = GetParam();
    koc_charSegmentRunParams p;
    koc_charSegmentRunParams_construct(&p);
    p.regularitySource = k.source;
    EXPECT_EQ(k.better, isBetterStringStats(make(k.c), make(k.b), p)) << k.name;
}
const Ints kEven{10, 10}, kUneven{10, 20}, kTight{4, 4}, kLoose{4, 8};
INSTANTIATE_TEST_SUITE_P(Table, Better, testing::Values(
    BetterCase{"empty candidate never wins", {0, 0, 0, {}, {}}, {0, 0, 0, {}, {}}, 8, false},
    BetterCase{"anything beats an empty best", {1, 5, 1, {}, {}}, {0, 0, 0, {}, {}}, 8, true},
    BetterCase{"fewer violations beat more ink", {2, 0, 10, {}, {}}, {3, 1, 500, {}, {}}, 8, true},
    BetterCase{"more ink wins a violation tie", {2, 1, 300, {}, {}}, {3, 1, 200, {}, {}}, 8, true},
    BetterCase{"equal ink: more characters", {3, 0, 200, {}, {}}, {2, 0, 200, {}, {}}, 8, true},
    BetterCase{"full tie keeps the earlier", {2, 0, 200, {}, {}}, {2, 0, 200, {}, {}}, 8, false},
    BetterCase{"regular pitch outweighs ink", {2, 0, 100, kEven, kLoose}, {2, 0, 150, kUneven, kLoose}, 2, true},
    BetterCase{"gaps alone", {2, 0, 100, kUneven, kTight}, {2, 0, 100, kEven, kLoose}, 4, true},
    BetterCase{"the most regular measure counts", {2, 0, 100, kUneven, kTight}, {2, 0, 100, kUneven, kLoose}, 1, true},
    BetterCase{"pitch only: equally irregular", {2, 0, 100, kUneven, kTight}, {2, 0, 100, kUneven, kLoose}, 2, false}));

}  // namespace
