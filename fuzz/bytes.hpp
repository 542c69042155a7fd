// bytes.hpp: reads the fuzzer's bytes as a stream of small values. Past the
// end every read gives zero, so any input decodes to some request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzz {

class Bytes {
public:
    Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
    uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
    // An integer in [lo, hi].
    int32_t range(int32_t lo, int32_t hi) { return lo + static_cast<int32_t>(u32() % static_cast<uint32_t>(hi - lo + 1)); }
    // Mostly ordinary values, sometimes the nasty ones a host may send.
    double real(double lo, double hi)
    {
        switch (u8() % 16) {
        case 0: return -0.0;
        case 1: return 1e300;
        case 2: return -1e300;
        case 3: return __builtin_nan("");
        case 4: return __builtin_inf();
        default: return lo + (hi - lo) * (u16() / 65535.0);
        }
    }
    size_t left() const { return size_ - pos_; }
    const uint8_t* rest() const { return data_ + pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace fuzz
