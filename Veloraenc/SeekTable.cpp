#include "SeekTable.h"

namespace velora::enc {

void SeekTable::Offer(uint32_t position) {
    lastPosition_ = position;
    if (framesOffered_ % static_cast<uint32_t>(framesPerEntry_) == 0) {
        stored_[count_++] = position;
        if (count_ == kDoublingCount) {
            framesPerEntry_ *= 2;
        } else if (count_ == kCapacity) {
            // Entries 0..199 are one step of the doubled spacing apart in pairs, 200..299
            // already at it: keep every second of the first part.
            for (int j = 0; j < 100; ++j) stored_[j] = stored_[2 * j];
            for (int j = 0; j < 100; ++j) stored_[100 + j] = stored_[200 + j];
            framesPerEntry_ *= 2;
            count_ = kDoublingCount;
        }
    }
    ++framesOffered_;
}

int32_t SeekTable::LogicalCount() const {
    return count_ <= kDoublingCount ? count_ : count_ - 100;
}

int32_t SeekTable::LogicalFramesPerEntry() const {
    return count_ == kDoublingCount ? framesPerEntry_ / 2 : framesPerEntry_;
}

uint32_t SeekTable::LogicalEntry(int i) const {
    if (count_ <= kDoublingCount) return stored_[i];
    return i < 100 ? stored_[2 * i] : stored_[i + 100];
}

}  // namespace velora::enc
