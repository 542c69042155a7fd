// exact_divide_test.cpp: the reciprocal division against the plain one, at
// the dividends where rounding errors would show first.
#include <cstdint>
#include <random>

#include <gtest/gtest.h>

#include "services/exact_divide.hpp"

namespace {

using koc::services::ExactDivider;

TEST(ExactDivider, EqualsPlainDivisionForEvery32BitDividendKind)
{
    std::mt19937_64 rng(11);
    std::vector<uint64_t> divisors;
    for (uint64_t d = 1; d <= 4100; ++d) divisors.push_back(d);
    for (int k = 0; k < 2000; ++k) divisors.push_back(1 + rng() % 0xffffffffu);
    for (const uint64_t d : {uint64_t{0xffffffff}, uint64_t{0x80000000}, uint64_t{0x7fffffff}, uint64_t{65535},
                             uint64_t{65537}, uint64_t{1} << 40})
        divisors.push_back(d);
    for (const uint64_t d : divisors) {
        const ExactDivider div(d);
        // Multiples and their neighbours, the top of the range, random values.
        std::vector<uint64_t> ns = {0, 1, 0xffffffffu, 0xfffffffeu, 0x100000000u, 0x123456789abcdefu};
        for (uint64_t q : {uint64_t{1}, uint64_t{7}, 0xffffffffu / d, 0xffffffffu / d - 1})
            for (int64_t e : {-1, 0, 1}) ns.push_back(q * d + static_cast<uint64_t>(e));
        for (int k = 0; k < 20; ++k) ns.push_back(rng() & 0xffffffffu);
        for (const uint64_t n : ns) ASSERT_EQ(n / d, div.divide(n)) << n << " / " << d;
    }
}

TEST(NarrowDivider, EqualsPlainDivisionBelow2To30)
{
    using koc::services::NarrowDivider;
    std::mt19937 rng(5);
    std::vector<uint32_t> divisors;
    for (uint32_t d = 1; d <= 3000; ++d) divisors.push_back(d);
    for (int k = 0; k < 2000; ++k) divisors.push_back(1 + static_cast<uint32_t>(rng()));
    for (const uint32_t d : {0xffffffffu, 0x80000000u, 0x7fffffffu, 0x40000001u, 65535u, 65537u})
        divisors.push_back(d);
    constexpr uint32_t kTop = NarrowDivider::kLimit - 1;
    for (const uint32_t d : divisors) {
        const NarrowDivider div(d);
        std::vector<uint32_t> ns = {0, 1, kTop, kTop - 1};
        for (uint32_t q : {1u, 7u, kTop / d, kTop / d - 1})
            for (int32_t e : {-1, 0, 1}) {
                const uint64_t n = uint64_t{q} * d + static_cast<uint64_t>(static_cast<int64_t>(e));
                if (n <= kTop) ns.push_back(static_cast<uint32_t>(n));
            }
        for (int k = 0; k < 20; ++k) ns.push_back(rng() & kTop);
        for (const uint32_t n : ns) ASSERT_EQ(n / d, div.divide(n)) << n << " / " << d;
    }
}

TEST(RoundedMean, NarrowPathGivesTheSameMeanForEverySumOfSmallKernels)
{
    using koc::services::RoundedMean;
    for (uint64_t count = 1; count <= 1200; count += (count < 64 ? 1 : 37)) {
        const RoundedMean mean(count, 255);
        ASSERT_TRUE(mean.isNarrow());
        for (uint64_t sum = 0; sum <= count * 255; ++sum)
            ASSERT_EQ((sum + count / 2) / count, mean.narrow(static_cast<uint32_t>(sum))) << sum << " / " << count;
    }
    EXPECT_FALSE(RoundedMean(uint64_t{1} << 16, 65535).isNarrow());
}

TEST(ExactDivider, FastPathOnlyBelow2To32AndForDivisorsAboveOne)
{
    EXPECT_TRUE(ExactDivider(3).isFastUpTo(0xffffffffu));
    EXPECT_FALSE(ExactDivider(3).isFastUpTo(0x100000000u));
    EXPECT_FALSE(ExactDivider(1).isFastUpTo(10));
}

}  // namespace
