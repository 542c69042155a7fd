// attention.hpp: paces the host's attention check by work done, so that the
// stretch between two polls stays bounded whatever a line's size or shape:
// a pass over pixels reports each row, and the check runs on the pass's
// first row and then once per kBudget pixels (about a tenth of a
// millisecond of plain per-pixel work), so a small line pays for one poll
// per pass and a huge one stays cancellable within a few milliseconds.
#pragma once

#include <cstdint>

#include "koc/ksys.h"

namespace koc::services {

class AttentionPacer {
public:
    static constexpr int64_t kBudget = int64_t{1} << 16;

    // Records work units done (pixels, samples); polls when the budget is spent.
    int32_t add(int64_t work) noexcept
    {
        done_ += work;
        if (done_ < kBudget) {
            return 0;
        }
        done_ = 0;
        return ksys_attention_check();
    }

private:
    int64_t done_ = kBudget;  // the first row polls
};

}  // namespace koc::services
