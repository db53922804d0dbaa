// Cuts the continuous main-data stream into physical frames. Each frame is its header and
// side information followed by its share of main-data bytes; a frame's own main data begins
// main_data_begin bytes before that share, inside the space of earlier frames. A frame goes
// out once the stream has filled its space, so the assembler holds the last few frames.
// Fixed storage, no allocation.
#pragma once

#include <cstdint>

namespace velora::enc {

class FrameAssembler {
  public:
    // A frame waits until later main data fills its share. Near-empty frames (silence in
    // VBR) leave their shares to the reservoir, which holds up to 511 bytes; the smallest
    // share is 1 byte (24000 Hz stereo at 8 kbit/s with CRC), so up to 512 frames may wait.
    static constexpr int kMaxPendingFrames = 512;
    static constexpr int kMaxHeaderSideBytes = 38;  // header, CRC, 32 bytes of side information
    static constexpr int kStreamCapacity = 8192;

    void Reset();

    // Queues a frame of `frameBytes` whose header and side information are `headerSide`, and
    // appends its main data, which starts `mainDataBegin` bytes before the frame's share of
    // the stream. Bytes of earlier frames' space that no main data claims (main_data_begin
    // smaller than the room left) become zeros. False, with nothing queued, when the data
    // would overlap the previous frame's, run past the frame's own space, or not fit.
    bool Push(const uint8_t* headerSide, int headerSideBytes, int frameBytes, int mainDataBegin,
              const uint8_t* mainData, int mainDataBytes);

    // Copies complete frames in order, as many as fit into `capacity`; returns the bytes.
    int Emit(uint8_t* out, int capacity);
    // Bytes of complete frames waiting, and the first of them alone.
    int ReadyBytes() const;
    int NextFrameBytes() const;
    int PendingFrames() const { return count_; }
    // Fills the rest of the queued frames' space with zeros, which completes them all. False
    // when complete frames still wait and leave no room for that: Emit them first.
    bool Flush();
    // Unused bytes at the end of the stream's space: the next frame's largest
    // main_data_begin.
    int FreeBytes() const { return static_cast<int>(nextArea_ - streamEnd_); }

  private:
    struct Pending {
        uint8_t headerSide[kMaxHeaderSideBytes];
        int headerSideBytes;
        int frameBytes;
        int64_t areaStart;  // stream offset of the frame's share
    };

    bool Complete(const Pending& f) const {
        return f.areaStart + (f.frameBytes - f.headerSideBytes) <= streamEnd_;
    }
    void Compact();

    Pending frames_[kMaxPendingFrames];
    int first_ = 0;
    int count_ = 0;
    uint8_t stream_[kStreamCapacity];
    int64_t base_ = 0;       // stream offset of stream_[0]
    int64_t streamEnd_ = 0;  // stream offset after the last byte
    int64_t nextArea_ = 0;   // where the next frame's share begins
};

}  // namespace velora::enc
