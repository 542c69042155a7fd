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

// floor(n / d) as (n * m) >> s with a multiplier m below 2^32, for every n
// below 2^30 and any divisor 1 <= d < 2^32. With s = 31 + floor(log2 d) and
// m = ceil(2^s / d), m * d = 2^s + e with 0 <= e < d <= 2^(s - 30), so
// n * m / 2^s = n / d + n * e / (d * 2^s), and the second term stays below
// 1 / d while n < 2^30: it cannot lift n / d across the next integer. The
// product is one 32 x 32 -> 64-bit multiply, which loops over many
// dividends vectorise (the 64-bit reciprocal above needs two).
class NarrowDivider {
public:
    static constexpr uint32_t kLimit = uint32_t{1} << 30;  // dividends below this

    explicit NarrowDivider(uint32_t divisor) noexcept
        : shift_(31 + floorLog2(divisor)),
          multiplier_(((uint64_t{1} << shift_) + divisor - 1) / divisor)
    {
    }

    uint32_t divide(uint32_t n) const noexcept { return static_cast<uint32_t>((n * multiplier_) >> shift_); }

    // The parts of divide(), for vector forms of it.
    uint32_t multiplier() const noexcept { return static_cast<uint32_t>(multiplier_); }
    uint32_t shift() const noexcept { return shift_; }

private:
    static uint32_t floorLog2(uint32_t d) noexcept
    {
        uint32_t r = 0;
        while (d > 1) {
            d >>= 1;
            ++r;
        }
        return r;
    }

    uint32_t shift_;
    uint64_t multiplier_;  // below 2^32
};

// The mean of count values of at most maxValue each, rounded to nearest with
// halves up: (sum + count / 2) / count, by the reciprocal whenever the
// largest possible dividend allows it (for the box filters: any kernel below
// 2^24 pixels for 8 bit, 2^16 for 16 bit).
class RoundedMean {
public:
    RoundedMean(uint64_t count, uint64_t maxValue) noexcept
        : div_(count),
          half_(count / 2),
          fast_(div_.isFastUpTo(count * maxValue + count / 2)),
          narrow_(count >= 1 && count * maxValue + count / 2 < NarrowDivider::kLimit),
          narrowDiv_(narrow_ ? static_cast<uint32_t>(count) : 1)
    {
    }
    uint64_t operator()(uint64_t sum) const noexcept
    {
        return fast_ ? div_.divideSmall(sum + half_) : (sum + half_) / div_.divisor();
    }

    // Whether every possible sum may go to narrow(): the largest dividend is
    // below NarrowDivider::kLimit (8-bit kernels below 2^22 pixels).
    bool isNarrow() const noexcept { return narrow_; }
    // The same mean, for a sum whose dividend is below NarrowDivider::kLimit.
    uint32_t narrow(uint32_t sum) const noexcept { return narrowDiv_.divide(sum + static_cast<uint32_t>(half_)); }
    // What narrow() adds before dividing, and its divider.
    uint32_t narrowHalf() const noexcept { return static_cast<uint32_t>(half_); }
    const NarrowDivider& narrowDivider() const noexcept { return narrowDiv_; }

private:
    ExactDivider div_;
    uint64_t half_;
    bool fast_;
    bool narrow_;
    NarrowDivider narrowDiv_;
};

}  // namespace koc::services
