// tree_test.cpp: which characters each level of the hypothesis tree offers
// under the size, gap, width and aspect limits, how runs are shared, the
// invariants every generated tree keeps, and the walk over its paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "hypotheses/hypothesis_tree.hpp"
#include "koc/koc.h"

namespace {

using namespace koc::hypotheses;
using Ints = std::vector<int32_t>;
using Nodes = kstd_vector_koc_charHypothesisTreeNode_;
using Frags = std::vector<koc_charSegmentElementInfo>;

koc_charSegmentElementInfo frag(int32_t x, int32_t w, int32_t h = 20, int32_t area = 50, int32_t y = 0)
{
    koc_charSegmentElementInfo e;
    koc_charSegmentElementInfo_reset(&e);
    e.rect = {x, y, w, h};
    e.area = area;
    e.flags = 1u << (x & 7);
    return e;
}

// Permissive limits unless a test says otherwise: any fragment is big
// enough, no width or aspect limit, any gap.
struct Tree {
    koc_charHypothesisTree t;
    koc_charSegmentRunParams p;
    Tree()
    {
        koc_charHypothesisTree_construct(&t);
        koc_charSegmentRunParams_construct(&p);
        p.minCharArea = p.minCharWidth = p.minCharHeight = 1;
        p.limitAspect = 0;
    }
    ~Tree() { koc_charHypothesisTree_destruct(&t); }
    int32_t generate(const Frags& f)
    {
        kstd_vector_koc_charSegmentElementInfo v;
        kstd_vector_koc_charSegmentElementInfo_constructFromBlock(&v, f.data(), intptr_t(f.size()));
        const int32_t rc = koc_charHypothesisTree_generateHypotheses(&t, &v, &p, nullptr);
        kstd_vector_koc_charSegmentElementInfo_destruct(&v);
        return rc;
    }
    // n touching fragments 4 wide, each alone or paired: Fibonacci(n + 1) paths.
    void generatePairs(int32_t n)
    {
        p.limitCharWidth = 1;
        p.maxCharWidth = 8;
        Frags f;
        for (int32_t k = 0; k < n; ++k) f.push_back(frag(4 * k, 4));
        ASSERT_EQ(0, generate(f));
    }
    const koc_charFragmentSet& set(int32_t s) const { return itemsOf<koc_charFragmentSet>(t.fragmentSets)[s]; }
    int32_t count(int32_t i) const { return sizeOf(itemsOf<Nodes>(t.levels)[i]); }
    koc_charHypothesisTreeNode_ node(int32_t i, int32_t k) const
    {
        return itemsOf<koc_charHypothesisTreeNode_>(itemsOf<Nodes>(t.levels)[i])[k];
    }
    // Per node of level i: the last fragment of its run, -1 for a left-out fragment.
    Ints ends(int32_t i) const
    {
        Ints out;
        for (int32_t k = 0; k < count(i); ++k) out.push_back(node(i, k).fragmentSetIndex < 0 ? -1 : node(i, k).nextLevel - 1);
        return out;
    }
};

// Fragments w wide, h high at xs; level 0 under the limits (maxWidth 0: no
// width limit). Aspect limits use the default ratio 0.8.
struct LevelCase { const char* name; Ints xs; int32_t w, h; uint32_t gapMode; int32_t minGap, maxInner, minWidth,
                   maxWidth; uint32_t aspect; int32_t rc; Ints level0; };
class Levels : public testing::TestWithParam<LevelCase> {};
TEST_P(Levels, OfferTheRunsTheLimitsAllow)
{
    const LevelCase& c = GetParam();
    Tree tree;
    tree.p.gapMode = c.gapMode;
    tree.p.minCharGap = c.minGap;
    tree.p.maxInnerGap = c.maxInner;
    tree.p.minCharWidth = c.minWidth;
    tree.p.limitCharWidth = c.maxWidth > 0;
    tree.p.maxCharWidth = c.maxWidth;
    tree.p.limitAspect = c.aspect;
    Frags f;
    for (int32_t x : c.xs) f.push_back(frag(x, c.w, c.h));
    ASSERT_EQ(c.rc, tree.generate(f)) << c.name;
    ASSERT_EQ(int32_t(f.size()), sizeOf(tree.t.levels));  // sized even when the gap mode is refused
    EXPECT_EQ(c.level0, c.rc == 0 && !f.empty() ? tree.ends(0) : Ints{}) << c.name;
}
const Ints kGap1{0, 10, 21};  // touching, then a gap of 1
INSTANTIATE_TEST_SUITE_P(Table, Levels, testing::Values(
    LevelCase{"gap mode 1: any gap", kGap1, 10, 20, 1, 1, 0, 1, 0, 0, 0, {0, 1, 2}},
    LevelCase{"gap mode 2, minCharGap 1: touching only", kGap1, 10, 20, 2, 1, 0, 1, 0, 0, 0, {0, 1}},
    LevelCase{"gap mode 2: below minCharGap", kGap1, 10, 20, 2, 2, 0, 1, 0, 0, 0, {0, 1, 2}},
    LevelCase{"gap mode 4: up to maxInnerGap", kGap1, 10, 20, 4, 1, 0, 1, 0, 0, 0, {0, 1}},
    LevelCase{"gap mode 4: one more", kGap1, 10, 20, 4, 1, 1, 1, 0, 0, 0, {0, 1, 2}},
    LevelCase{"gap mode 3 refused", kGap1, 10, 20, 3, 1, 0, 1, 0, 0, KOC_E_GAP_MODE, {}},
    LevelCase{"lone wide fragment passes both limits", {0, 40}, 40, 20, 1, 1, 0, 1, 30, 1, 0, {0}},
    LevelCase{"run of two beyond maxCharWidth stops", {0, 10, 20}, 10, 30, 1, 1, 0, 1, 15, 0, 0, {0}},
    LevelCase{"runs within maxCharWidth", {0, 10, 20}, 10, 30, 1, 1, 0, 1, 25, 0, 0, {0, 1}},
    LevelCase{"aspect 1.0 kept, 0.67 stops", {0, 10, 20}, 10, 20, 1, 1, 0, 1, 0, 1, 0, {0, 1}},
    // 16 / 20 is 0.8, but 0.8 in 16.16 rounds up: rejected, and no longer run is tried
    LevelCase{"aspect at 0.8 rejected", {0, 10, 20}, 10, 16, 1, 1, 0, 1, 0, 1, 0, {0}},
    LevelCase{"too narrow runs grow on", {0, 1, 2, 3}, 1, 20, 1, 1, 0, 3, 0, 0, 0, {2, 3}},
    LevelCase{"too narrow lone fragment left out", {0}, 2, 20, 1, 1, 0, 3, 0, 0, 0, {-1}},
    LevelCase{"no fragments, no levels", {}, 2, 20, 1, 1, 0, 3, 0, 0, 0, {}}));

TEST(HypothesisTree, GapsAreMeasuredToTheUnionAndRunsSharedByIndex)
{
    // Fragment 1 lies under fragment 0; fragment 2 touches fragment 0 only.
    Tree tree;
    tree.p.gapMode = 2;  // only touching fragments join
    ASSERT_EQ(0, tree.generate({frag(0, 20, 30, 200), frag(5, 3, 4, 6, -6), frag(20, 10, 30, 100)}));
    EXPECT_EQ((Ints{0, 1, 2}), tree.ends(0));
    EXPECT_EQ((Ints{1}), tree.ends(1));

    const int32_t before = sizeOf(tree.t.fragmentSets);
    int32_t s = -1;
    ASSERT_EQ(0, findOrAddFragmentSet(&tree.t, 0, 2, &s));
    EXPECT_EQ(before, sizeOf(tree.t.fragmentSets));  // found, not added
    const koc_charFragmentSet& run = tree.set(s);
    ASSERT_EQ(3, run.count);
    EXPECT_EQ(run.fragmentIndices.base.begin, static_cast<const void*>(run.indexView));
    EXPECT_EQ(12, run.innerGapTotal);  // 2 to 1's right edge; 1 overlaps 0 and adds nothing
    const koc_charSegmentElementInfo& m = run.mergedElement;
    EXPECT_EQ((Ints{0, -6, 30, 36, 306, -1}), (Ints{m.rect.x, m.rect.y, m.rect.width, m.rect.height, m.area, m.contrast}));
    EXPECT_EQ(1u | 32u | 16u, m.flags);

    tree.t.runParams.minCharArea = 1000;  // a new run is judged by the tree's own limits
    ASSERT_EQ(0, findOrAddFragmentSet(&tree.t, 1, 2, &s));
    EXPECT_EQ(before, s);
    EXPECT_EQ(1, tree.set(s).isTooSmall);
}

TEST(HypothesisTree, RandomRowsKeepTheInvariants)
{
    std::mt19937 rng(7);
    auto draw = [&](int32_t lo, int32_t n) { return lo + int32_t(rng() % uint32_t(n)); };
    for (int round = 0; round < 200; ++round) {
        Tree tree;
        tree.p.gapMode = uint32_t(1 << draw(0, 3));
        tree.p.minCharGap = draw(0, 4);
        tree.p.maxInnerGap = draw(0, 4);
        tree.p.minCharWidth = draw(1, 8);
        tree.p.limitCharWidth = uint32_t(draw(0, 2));
        tree.p.maxCharWidth = draw(10, 20);
        tree.p.limitAspect = uint32_t(draw(0, 2));
        Frags f;
        for (int32_t k = 0, x = 0, n = draw(0, 12); k < n; ++k, x += draw(-2, 14))
            f.push_back(frag(x, draw(1, 12), draw(5, 20), draw(1, 80)));
        ASSERT_EQ(0, tree.generate(f));
        const int32_t n = int32_t(f.size());
        ASSERT_EQ(n, sizeOf(tree.t.levels));
        std::set<Ints> runs;
        for (int32_t s = 0; s < sizeOf(tree.t.fragmentSets); ++s) {
            const Ints run(tree.set(s).indexView, tree.set(s).indexView + tree.set(s).count);
            for (size_t k = 1; k < run.size(); ++k) ASSERT_EQ(run[0] + int32_t(k), run[k]);
            EXPECT_TRUE(runs.insert(run).second) << "run held twice";
        }
        for (int32_t i = 0; i < n; ++i) {
            ASSERT_GT(tree.count(i), 0);
            for (int32_t k = 0; k < tree.count(i); ++k) {
                const int32_t s = tree.node(i, k).fragmentSetIndex, next = tree.node(i, k).nextLevel;
                ASSERT_LE(next, n);  // and set s's run starts here and ends just before next:
                ASSERT_EQ((s < 0 ? Ints{i, 1} : Ints{tree.set(s).indexView[0], tree.set(s).count}), (Ints{i, next - i}));
            }
        }
    }
}

// ---- the walk ----

struct Log {
    std::vector<Ints> prefixes;
    Ints complete;
    int pruneWhen = 0;  // 1: every prefix, 2: complete ones
    size_t failAt = 0;
    static int32_t visit(const koc_charHypothesisTree*, const int32_t* path, int32_t n, int32_t isComplete, void* c,
                         int32_t* prune, int32_t* stop)
    {
        auto* log = static_cast<Log*>(c);
        EXPECT_EQ(0, *prune + *stop);
        log->prefixes.emplace_back(path, path + n);
        log->complete.push_back(isComplete);
        *prune = log->pruneWhen == 1 || (log->pruneWhen == 2 && isComplete);
        return log->prefixes.size() == log->failAt ? KOC_E_CANCELLED : 0;
    }
    int32_t walk(const Tree& tree, koc_charHypothesisTreeOrderFn order = nullptr)
    {
        return koc_charHypothesisTree_walk(&tree.t, &Log::visit, this, order, nullptr);
    }
};

int32_t reverseOrder(const koc_charHypothesisTree* t, void*, kstd_vector_vector32s* order)
{
    kstd_vector_vector32s_resize(order, t->levels.base.size);
    for (int32_t i = 0; i < sizeOf(t->levels); ++i) {
        Ints r(size_t(sizeOf(itemsOf<Nodes>(t->levels)[i])));
        for (size_t k = 0; k < r.size(); ++k) r[k] = int32_t(r.size() - 1 - k);
        kstd_vector32s_assignElements(&itemsOf<kstd_vector32s>(*order)[i], r.data(), intptr_t(r.size()));
    }
    return 0;
}

TEST(Walk, VisitsEveryPrefixDepthFirstInTheGivenOrder)
{
    Tree tree;
    tree.generatePairs(3);  // sets: 0 [0], 1 [0..1] | 2 [1], 3 [1..2] | 4 [2]
    Log stored, reversed, prunedComplete, prunedAll;
    ASSERT_EQ(0, stored.walk(tree));
    EXPECT_EQ((std::vector<Ints>{{0}, {0, 2}, {0, 2, 4}, {0, 3}, {1}, {1, 4}}), stored.prefixes);
    EXPECT_EQ((Ints{0, 0, 1, 1, 0, 1}), stored.complete);
    ASSERT_EQ(0, reversed.walk(tree, &reverseOrder));
    EXPECT_EQ((std::vector<Ints>{{1}, {1, 4}, {0}, {0, 3}, {0, 2}, {0, 2, 4}}), reversed.prefixes);
    prunedComplete.pruneWhen = 2;  // a leaf has nothing below it to skip
    ASSERT_EQ(0, prunedComplete.walk(tree));
    EXPECT_EQ(stored.prefixes, prunedComplete.prefixes);
    prunedAll.pruneWhen = 1;
    ASSERT_EQ(0, prunedAll.walk(tree));
    EXPECT_EQ((std::vector<Ints>{{0}, {1}}), prunedAll.prefixes);
}

TEST(Walk, StopsAtTheCapAndOnFailure)
{
    Tree tree, empty;
    tree.generatePairs(16);  // 1597 complete paths
    Log all, failed, none;
    ASSERT_EQ(0, all.walk(tree));
    EXPECT_EQ(1000, std::count(all.complete.begin(), all.complete.end(), 1));
    EXPECT_EQ(1, all.complete.back());
    failed.failAt = 5;
    EXPECT_EQ(KOC_E_CANCELLED, failed.walk(tree));
    EXPECT_EQ(5u, failed.prefixes.size());
    ASSERT_EQ(0, empty.generate({}));  // no levels: neither callback is called
    ASSERT_EQ(0, none.walk(empty, [](const koc_charHypothesisTree*, void*, kstd_vector_vector32s*) {
        return static_cast<int32_t>(KOC_E_CANCELLED);
    }));
    EXPECT_TRUE(none.prefixes.empty());
}

}  // namespace
