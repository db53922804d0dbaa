#include "FrameAssembler.h"

#include <cstring>

namespace velora::enc {

void FrameAssembler::Reset() {
    first_ = 0;
    count_ = 0;
    base_ = 0;
    streamEnd_ = 0;
    nextArea_ = 0;
}

bool FrameAssembler::Push(const uint8_t* headerSide, int headerSideBytes, int frameBytes,
                          int mainDataBegin, const uint8_t* mainData, int mainDataBytes) {
    if (count_ >= kMaxPendingFrames || headerSide == nullptr || headerSideBytes <= 0 ||
        headerSideBytes > kMaxHeaderSideBytes || frameBytes < headerSideBytes ||
        mainDataBegin < 0 || mainDataBytes < 0 || (mainDataBytes > 0 && mainData == nullptr))
        return false;
    const int64_t start = nextArea_ - mainDataBegin;
    const int64_t end = start + mainDataBytes;
    const int64_t areaEnd = nextArea_ + (frameBytes - headerSideBytes);
    if (start < streamEnd_ || end > areaEnd || end - base_ > kStreamCapacity) return false;

    std::memset(stream_ + (streamEnd_ - base_), 0, static_cast<size_t>(start - streamEnd_));
    if (mainDataBytes > 0)
        std::memcpy(stream_ + (start - base_), mainData, static_cast<size_t>(mainDataBytes));
    streamEnd_ = end;

    Pending& f = frames_[(first_ + count_) % kMaxPendingFrames];
    std::memcpy(f.headerSide, headerSide, static_cast<size_t>(headerSideBytes));
    f.headerSideBytes = headerSideBytes;
    f.frameBytes = frameBytes;
    f.areaStart = nextArea_;
    ++count_;
    nextArea_ = areaEnd;
    return true;
}

int FrameAssembler::ReadyBytes() const {
    int bytes = 0;
    for (int i = 0; i < count_; ++i) {
        const Pending& f = frames_[(first_ + i) % kMaxPendingFrames];
        if (!Complete(f)) break;
        bytes += f.frameBytes;
    }
    return bytes;
}

int FrameAssembler::NextFrameBytes() const {
    if (count_ == 0 || !Complete(frames_[first_])) return 0;
    return frames_[first_].frameBytes;
}

int FrameAssembler::Emit(uint8_t* out, int capacity) {
    int written = 0;
    while (count_ > 0 && out != nullptr) {
        const Pending& f = frames_[first_];
        if (!Complete(f) || written + f.frameBytes > capacity) break;
        std::memcpy(out + written, f.headerSide, static_cast<size_t>(f.headerSideBytes));
        const int share = f.frameBytes - f.headerSideBytes;
        std::memcpy(out + written + f.headerSideBytes, stream_ + (f.areaStart - base_),
                    static_cast<size_t>(share));
        written += f.frameBytes;
        first_ = (first_ + 1) % kMaxPendingFrames;
        --count_;
    }
    Compact();
    return written;
}

void FrameAssembler::Compact() {
    // Bytes before the oldest queued frame's share are out (or, with no frame queued, before
    // the end of the stream: only later main data can follow).
    const int64_t keepFrom = count_ > 0 ? frames_[first_].areaStart : streamEnd_;
    const int64_t drop = keepFrom - base_;
    if (drop <= 0) return;
    std::memmove(stream_, stream_ + drop, static_cast<size_t>(streamEnd_ - keepFrom));
    base_ = keepFrom;
}

bool FrameAssembler::Flush() {
    if (nextArea_ <= streamEnd_) return true;
    if (nextArea_ - base_ > kStreamCapacity) return false;
    std::memset(stream_ + (streamEnd_ - base_), 0, static_cast<size_t>(nextArea_ - streamEnd_));
    streamEnd_ = nextArea_;
    return true;
}

}  // namespace velora::enc
