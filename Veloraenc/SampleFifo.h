// Interleaved float samples between two stages whose block sizes differ (a converter's
// output and the fixed frames of the SBR encoder and the core). Storage is allocated once.
#pragma once

#include <memory>

namespace velora::enc {

class SampleFifo {
public:
    // Room for `capacity` samples, all channels counted. False when memory is short.
    bool Allocate(int capacity);
    void Clear() { count_ = 0; }

    // False (nothing stored) when the samples do not fit.
    bool Append(const float* samples, int count);
    int Count() const { return count_; }
    const float* Front() const { return data_.get(); }
    // Drops the first `count` samples.
    void Drop(int count);
    // Space for up to Room() samples to be written at WritePosition(), then Commit(n).
    float* WritePosition() { return data_.get() + count_; }
    int Room() const { return capacity_ - count_; }
    void Commit(int count) { count_ += count; }

private:
    std::unique_ptr<float[]> data_;
    int capacity_ = 0;
    int count_ = 0;
};

}  // namespace velora::enc
