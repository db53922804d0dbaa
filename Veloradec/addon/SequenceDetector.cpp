#include "SequenceDetector.h"

namespace velora {

void SequenceDetector::Reset() {
    *this = SequenceDetector{};
}

void SequenceDetector::Add(int32_t value) {
    if (count_ < kCapacity) values_[count_] = value;
    for (int period = 1; period <= kCapacity; ++period) {
        const uint32_t bit = 1u << (period - 1);
        if ((candidates_ & bit) == 0 || count_ < period) continue;
        // values_[count_ % period] is one of the first `period` values, always kept.
        if (value != values_[count_ % period]) candidates_ &= ~bit;
    }
    ++count_;
}

int SequenceDetector::Period() const {
    if (count_ == 0) return 0;
    for (int period = 1; period <= kCapacity; ++period) {
        if ((candidates_ & (1u << (period - 1))) == 0) continue;
        if (count_ > period || period == 1) return period;
    }
    return 0;
}

int64_t SequenceDetector::PeriodSum() const {
    const int period = Period();
    int64_t sum = 0;
    for (int i = 0; i < period; ++i) sum += values_[i];
    return sum;
}

}  // namespace velora
