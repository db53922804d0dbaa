#pragma once
// Turns what the output hears into visualisation-data blocks. The output chain's analysis tap
// hands in each block's PCM on the output's thread (any rate, 1 or more channels, 8-bit
// unsigned or 16/24/32-bit signed little-endian samples); every 512 frames become one block:
// the top 8 bits of the first two channels (a mono stream fills both), then their spectra.
// The window's thread takes a copy of the newest blocks; one mutex guards the hand-over.
#include "BuiltinProcessor.h"
#include "VisFrame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace tessura {

class VisAnalysis {
  public:
    static constexpr int kKeptBlocks = 4;

    // The output's thread.
    void addPcm(const uint8_t* pcm, std::size_t length, const PcmFormat& format);
    // addPcm as the output chain's analysis tap (OutputChain::setAnalysisTap); the analysis
    // must outlive the chain's use of it.
    std::function<void(const uint8_t*, std::size_t, const PcmFormat&)> tap();
    // Forgets the partial block and the kept ones (a new song, a stop).
    void reset();

    // The window's thread: the kept blocks, oldest first (at most kKeptBlocks).
    std::vector<VisBlock> newestBlocks() const;
    // How many blocks were made since the last reset.
    uint64_t blocksMade() const;

  private:
    void finishBlockLocked();

    mutable std::mutex mutex_;
    // Guarded by mutex_:
    std::array<int8_t, TESSURA_VIS_SAMPLES> left_{}, right_{};
    int filled_ = 0;
    PcmFormat format_{0, 0, 0};
    uint64_t framesHeard_ = 0;
    std::array<VisBlock, kKeptBlocks> kept_{};
    uint64_t made_ = 0;
    std::vector<uint8_t> carry_;  // a frame split between two calls
};

// The top 8 bits of one sample, as a signed value (8-bit samples are unsigned, centred at 128).
int8_t visSample(const uint8_t* sample, int bits);

}  // namespace tessura
