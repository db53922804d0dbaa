#pragma once
// The playlist's own random numbers, 0-32767 as the shuffle formulas expect. The C library's
// rand() gives up to RAND_MAX (2^31 - 1 with glibc), which would index far past the list.
#include <cstdint>

namespace tessura {

class Random15 {
  public:
    explicit Random15(uint32_t seed = 1) : state_(seed) {}
    void seed(uint32_t seed) { state_ = seed; }
    // The classic linear congruential step, top 15 bits of the low word.
    int next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }
    // A position below `count` as count * r / 32768.
    int below(int count) { return static_cast<int>(static_cast<int64_t>(count) * next() / 32768); }

  private:
    uint32_t state_;
};

}  // namespace tessura
