// The row run finder against a plain scan, on rows of every width up to a
// few of its sixty-four-flag steps: runs that start, end or span a step
// boundary, runs reaching either end of the row, and rows with none.
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "services/row_runs.hpp"

namespace {

using Runs = std::vector<std::pair<int32_t, int32_t>>;

Runs plainRuns(const std::vector<uint8_t>& flags)
{
    Runs runs;
    const auto n = static_cast<int32_t>(flags.size());
    for (int32_t i = 0; i < n;) {
        if (flags[static_cast<size_t>(i)] == 0) {
            ++i;
            continue;
        }
        int32_t end = i;
        while (end < n && flags[static_cast<size_t>(end)] != 0) {
            ++end;
        }
        runs.emplace_back(i, end);
        i = end;
    }
    return runs;
}

TEST(RowRuns, MatchesAPlainScanOnEveryWidthAndRunLength)
{
    std::mt19937 rng(7);
    for (int32_t width = 0; width <= 200; ++width) {
        koc::services::RowRuns finder(width);
        // Mean run lengths from single pixels to longer than a step.
        for (const int32_t meanRun : {1, 3, 40, 150}) {
            for (int trial = 0; trial < 4; ++trial) {
                std::vector<uint8_t> flags(static_cast<size_t>(width));
                uint8_t value = static_cast<uint8_t>(trial % 2);
                for (auto& f : flags) {
                    if (static_cast<int32_t>(rng() % static_cast<uint32_t>(meanRun)) == 0) {
                        value ^= 1u;
                    }
                    f = value;
                }
                std::copy(flags.begin(), flags.end(), finder.flags());
                Runs found;
                finder.forEachRun([&](int32_t start, int32_t end) { found.emplace_back(start, end); });
                ASSERT_EQ(plainRuns(flags), found) << "width " << width << ", mean run " << meanRun;
            }
        }
    }
}

}  // namespace
