// params_source.hpp: a run-parameter record whose every field comes from the
// fuzzer's bytes, through the field table every by-name use of the record
// shares.
#pragma once

#include <cmath>

#include "bytes.hpp"
#include "koc/koc.hpp"

namespace fuzz {

// Each field keeps its default or takes a value from the bytes: mostly
// small whole numbers (counts, modes, sizes), sometimes any double.
inline void decodeParams(Bytes& in, koc_charSegmentRunParams& params)
{
    for (const koc::ParamField& field : koc::paramFields()) {
        const uint8_t how = in.u8() % 4;
        if (how == 0) {
            continue;
        }
        double value = how == 3 ? in.real(-10, 300) : static_cast<double>(in.range(-2, 64));
        if (field.kind != koc::FieldKind::Double) {
            value = std::isfinite(value) ? std::trunc(value) : 0.0;
            value = std::fmin(std::fmax(value, field.kind == koc::FieldKind::Unsigned32 ? 0.0 : -2e9), 2e9);
        }
        koc::writeParamField(params, field, value);
    }
}

}  // namespace fuzz
