// exact_divide.hpp: division of many dividends by one divisor through a
// precomputed reciprocal, with the quotient of the plain integer division.
//
// For a divisor d >= 2 the reciprocal is c = floor((2^64 - 1) / d) + 1, and
// floor(n / d) is the high 64 bits of c * n for every n below 2^32 (the error
// of c is below 1 / d per unit of n, too small to cross an integer for a
// 32-bit n). The product is formed from 32-bit halves so that no 128-bit type
// is needed. Dividends of 2^32 or more, and a divisor of 1, take the plain
// division: callers keep their sums below 2^32 where it matters.
#pragma once

#include <cstdint>

namespace koc::services {

class ExactDivider {
public:
    explicit ExactDivider(uint64_t divisor) noexcept
        : divisor_(divisor), reciprocal_(divisor >= 2 ? ~uint64_t{0} / divisor + 1 : 0)
    {
    }

    // True when every dividend up to limit takes the reciprocal.
    bool isFastUpTo(uint64_t limit) const noexcept { return divisor_ >= 2 && limit <= 0xffffffffu; }

    // floor(n / divisor) for n below 2^32 and a divisor of at least 2.
    uint64_t divideSmall(uint64_t n) const noexcept
    {
        const uint64_t lo = reciprocal_ & 0xffffffffu;
        const uint64_t hi = reciprocal_ >> 32;
        return (hi * n + ((lo * n) >> 32)) >> 32;
    }

    uint64_t divide(uint64_t n) const noexcept
    {
        return divisor_ >= 2 && n <= 0xffffffffu ? divideSmall(n) : n / divisor_;
    }

    uint64_t divisor() const noexcept { return divisor_; }

private:
    uint64_t divisor_;
    uint64_t reciprocal_;
};

// The mean of count values of at most maxValue each, rounded to nearest with
// halves up: (sum + count / 2) / count, by the reciprocal whenever the
// largest possible dividend allows it (for the box filters: any kernel below
// 2^24 pixels for 8 bit, 2^16 for 16 bit).
class RoundedMean {
public:
    RoundedMean(uint64_t count, uint64_t maxValue) noexcept
        : div_(count), half_(count / 2), fast_(div_.isFastUpTo(count * maxValue + count / 2))
    {
    }
    uint64_t operator()(uint64_t sum) const noexcept
    {
        return fast_ ? div_.divideSmall(sum + half_) : (sum + half_) / div_.divisor();
    }

private:
    ExactDivider div_;
    uint64_t half_;
    bool fast_;
};

}  // namespace koc::services
