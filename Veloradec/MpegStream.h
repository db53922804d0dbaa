// Frame synchronisation over the input bit buffer. Search looks for a header whose
// successor at the computed distance agrees in the sync-pattern bits; Track then follows
// the frames, still checking the next header during the first confirmation frames.
#pragma once

#include <cstdint>

#include "BitBuffer.h"
#include "Mp3Ssc.h"
#include "MpegHeader.h"

namespace velora {

class MpegStream {
public:
    static constexpr int kConfirmationFrames = 10;

    void Init(uint8_t* storage, int size);
    // Clears the buffer and header; state kSscSyncSearched, pattern 0, counts 0.
    void Reset();
    // After kSscSuccess the read position stands on the first bit of a complete frame's
    // header, and Header() describes it.
    Mp3Ssc NextFrame();

    int Feed(const uint8_t* bytes, int length) { return buffer_.Write(bytes, length); }
    void SetEndOfData() { buffer_.SetEndOfData(); }

    BitBuffer& Buffer() { return buffer_; }
    const MpegHeader& Header() const { return header_; }
    Mp3Ssc State() const { return state_; }
    uint32_t SyncPattern() const { return pattern_; }
    int ConfirmationCount() const { return confirmations_; }
    void ExtendConfirmation() { ++confirmations_; }
    int SearchSteps() const { return searchSteps_; }

private:
    Mp3Ssc Search();
    Mp3Ssc Track();
    void StepBack() { buffer_.Skip(-buffer_.Consumed()); }

    BitBuffer buffer_;
    MpegHeader header_;
    uint32_t pattern_ = 0;
    int confirmations_ = 0;
    int searchSteps_ = 0;
    Mp3Ssc state_ = kSscSyncSearched;
};

}  // namespace velora
