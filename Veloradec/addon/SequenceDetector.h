// Finds a short repeating pattern in a sequence of per-frame values (frame lengths, bit
// rates). Only the first kCapacity values are kept; every later value is checked against
// the kept value one candidate period back, so the whole sequence is tested without
// storing it.
#pragma once

#include <cstdint>

namespace velora {

class SequenceDetector {
  public:
    static constexpr int kCapacity = 4;

    void Reset();
    void Add(int32_t value);

    // The shortest period (1..kCapacity) that every value seen so far follows, or 0. A
    // period longer than one counts only once it has been seen to repeat (more values than
    // its length); a single value is constant, period 1.
    int Period() const;
    // Sum of the values over one period; 0 when there is none.
    int64_t PeriodSum() const;
    int64_t Count() const { return count_; }

  private:
    int32_t values_[kCapacity] = {};
    int64_t count_ = 0;
    // Bit p - 1 set while period p still fits every value.
    uint32_t candidates_ = (1u << kCapacity) - 1;
};

}  // namespace velora
