#pragma once
// Where the encoder's monitor playback sends what it decoded: the sound output's block
// interface, reached through this so that the job runs without a sound card in tests.
#include <cstddef>
#include <cstdint>

namespace veloraplay {

class MonitorOutput {
  public:
    virtual ~MonitorOutput() = default;
    // Prepares for blocks of `samplesPerBlock` samples per channel; false when it cannot.
    virtual bool open(int channels, int sampleRate, int samplesPerBlock) = 0;
    // The next block to fill (samplesPerBlock x channels samples), or null when interrupted
    // or the output failed.
    virtual int16_t* nextBlock() = 0;
    // Only the first `samples` samples of the block handed out last count.
    virtual void setLastBlockLength(size_t samples) = 0;
    // Lets what was handed out be heard; returns early when interrupted.
    virtual void drain() = 0;
    virtual void close() = 0;
    // Any thread: a waiting nextBlock or drain returns now, and later ones do not wait, until
    // rearm().
    virtual void interrupt() = 0;
    virtual void rearm() = 0;
};

}  // namespace veloraplay
