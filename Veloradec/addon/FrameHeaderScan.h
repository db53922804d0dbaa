// Follows a stream from frame header to frame header without decoding, over pieces of any
// size: how many frames, the most channels any frame has, and whether the last frame is cut.
// Used ahead of decoding on a seekable file (a stream that starts in mono may turn stereo)
// and alongside decoding on any input (a file cut inside its last frame).
#pragma once

#include <cstdint>

namespace velora {

class FrameHeaderScan {
  public:
    // Offers the next `length` bytes of the stream.
    void Feed(const uint8_t* bytes, int length);

    // Frames counted so far: a frame counts when the next header lies where it ends, or when
    // it followed its predecessor so and is complete (a tag may follow the last frame). A
    // header found by searching that is not followed by another is taken for junk.
    int64_t Frames() const { return frames_ + (PendingComplete() ? 1 : 0); }
    // The most channels of any counted frame; 0 before the first.
    int MaxChannels() const;
    // The bytes ended inside a frame that followed its predecessor (or started the stream):
    // LastFrameBytes of its LastFrameLength bytes are there.
    bool LastFrameCut() const { return inFrame_ && chained_ && have_ < length_; }
    int LastFrameBytes() const { return have_; }
    int LastFrameLength() const { return length_; }

  private:
    void AtHeaderPosition();
    void Count();
    bool PendingComplete() const { return inFrame_ && chained_ && have_ == length_; }

    uint8_t word_[4] = {};
    int wordFill_ = 0;
    bool inFrame_ = false;   // inside (or at the end of) a frame whose header was accepted
    bool chained_ = false;   // that frame lay where its predecessor ended, or began the stream
    bool searched_ = false;  // bytes were passed over since the last accepted header
    int have_ = 0;           // bytes of the current frame seen
    int length_ = 0;         // its length
    int channels_ = 0;       // its channels
    int64_t frames_ = 0;
    int maxChannels_ = 0;
};

}  // namespace velora
