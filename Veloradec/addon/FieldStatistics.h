// Running statistics of one frame-header field over the frames of a block.
#pragma once

#include <cstdint>

namespace velora {

struct FieldStatistics {
    int32_t count = 0;
    int64_t sum = 0;
    int32_t first = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
    bool allEqual = true;  // every value so far equals the first one

    void Add(int32_t value) {
        if (count == 0) {
            first = value;
            minimum = value;
            maximum = value;
        } else {
            if (value != first) allEqual = false;
            if (value < minimum) minimum = value;
            if (value > maximum) maximum = value;
        }
        sum += value;
        ++count;
    }

    // Integer mean, truncated; 0 before the first value.
    int32_t Mean() const { return count > 0 ? static_cast<int32_t>(sum / count) : 0; }
};

}  // namespace velora
