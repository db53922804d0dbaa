// Byte positions of a stream's frames, thinned out as the stream grows: every stored position
// lies a power-of-two number of frames after the previous one, and at most 300 are stored
// however long the stream is.
#pragma once

#include <cstdint>

namespace velora::enc {

class SeekTable {
public:
    static constexpr int kCapacity = 300;
    static constexpr int kDoublingCount = 200;

    // Offers the position of the next frame.
    void Offer(uint32_t position);

    int32_t StoredCount() const { return count_; }
    int32_t FramesPerEntry() const { return framesPerEntry_; }
    uint32_t FramesOffered() const { return framesOffered_; }
    uint32_t LastPosition() const { return lastPosition_; }
    uint32_t Stored(int i) const { return stored_[i]; }

    // The table as a reader sees it.
    int32_t LogicalCount() const;
    uint32_t LogicalEntry(int i) const;
    // Frames between logical entries. Right after a doubling or a compaction (200 stored)
    // the stored entries are still one old step apart while FramesPerEntry() has doubled.
    int32_t LogicalFramesPerEntry() const;

private:
    int32_t count_ = 0;
    int32_t framesPerEntry_ = 1;
    uint32_t stored_[kCapacity] = {};
    uint32_t lastPosition_ = 0;
    uint32_t framesOffered_ = 0;
};

}  // namespace velora::enc
