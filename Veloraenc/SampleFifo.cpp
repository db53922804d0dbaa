#include "SampleFifo.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace velora::enc {

bool SampleFifo::Allocate(int capacity) {
    count_ = 0;
    if (capacity == capacity_ && data_) return true;
    data_.reset(new (std::nothrow) float[static_cast<size_t>(std::max(capacity, 1))]);
    capacity_ = data_ ? capacity : 0;
    return data_ != nullptr;
}

bool SampleFifo::Append(const float* samples, int count) {
    if (count < 0 || count > Room()) return false;
    std::memcpy(data_.get() + count_, samples, sizeof(float) * static_cast<size_t>(count));
    count_ += count;
    return true;
}

void SampleFifo::Drop(int count) {
    count = std::clamp(count, 0, count_);
    std::memmove(data_.get(), data_.get() + count, sizeof(float) * static_cast<size_t>(count_ - count));
    count_ -= count;
}

}  // namespace velora::enc
