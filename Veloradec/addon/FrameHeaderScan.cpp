#include "FrameHeaderScan.h"

#include <algorithm>

#include "MpegHeader.h"

namespace velora {

void FrameHeaderScan::Feed(const uint8_t* bytes, int length) {
    if (bytes == nullptr) return;
    int i = 0;
    while (i < length) {
        if (inFrame_ && have_ < length_) {
            const int take = std::min(length_ - have_, length - i);
            have_ += take;
            i += take;
            continue;
        }
        word_[wordFill_++] = bytes[i++];
        if (wordFill_ == 4) AtHeaderPosition();
    }
}

int FrameHeaderScan::MaxChannels() const {
    return PendingComplete() ? std::max(maxChannels_, channels_) : maxChannels_;
}

void FrameHeaderScan::Count() {
    ++frames_;
    maxChannels_ = std::max(maxChannels_, channels_);
}

// Four bytes where a frame may start: the end of the frame before, or, out of sync, each
// byte position in turn.
void FrameHeaderScan::AtHeaderPosition() {
    const uint32_t word = uint32_t{word_[0]} << 24 | uint32_t{word_[1]} << 16 |
                          uint32_t{word_[2]} << 8 | uint32_t{word_[3]};
    MpegHeader header;
    const bool valid = header.Parse(word) && header.frameBits >= 32;
    const bool follows = inFrame_;  // the end of an accepted frame
    if (follows) {
        // A frame is confirmed by a header at its end; without one it still counts when it
        // followed its predecessor.
        if (valid || chained_) Count();
        inFrame_ = false;
    }
    if (valid) {
        chained_ = follows || (frames_ == 0 && !searched_);
        searched_ = false;
        inFrame_ = true;
        length_ = header.frameBits / 8;
        channels_ = header.channels;
        have_ = 4;
        wordFill_ = 0;
        return;
    }
    // Sync lost: search on from the next byte.
    searched_ = true;
    word_[0] = word_[1];
    word_[1] = word_[2];
    word_[2] = word_[3];
    wordFill_ = 3;
}

}  // namespace velora
