// The sound-device output: a ring of 4 buffers of 14 blocks each. The device stays paused until
// three buffers have been filled (two queued and the third full), so playback starts with a
// pre-roll; a reset drops what is queued and pre-rolls again. One user at a time in the
// process: a second open while a PcmOut is open fails.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "AudioDevice.h"
#include "PcmSink.h"

namespace veloraplay {

class PcmOut final : public PcmSink {
  public:
    static constexpr int kBuffers = 4;
    static constexpr int kBlocksPerBuffer = 14;

    // `device` may be null (no backend): every open then fails.
    explicit PcmOut(std::unique_ptr<AudioDevice> device);
    ~PcmOut() override;
    PcmOut(const PcmOut&) = delete;
    PcmOut& operator=(const PcmOut&) = delete;

    bool open(int channels, int sampleRate, int samplesPerBlock) override;
    int16_t* nextBlock(Event* stop) override;
    void setLastBlockLength(size_t samples) override { lastBlockLength_ = samples; }
    // Queues what was handed out (a stream shorter than the pre-roll starts the device, so it
    // is heard) and waits until the device has played it, `stop` is signalled, or the ring's
    // length and a second more have passed.
    void drain(Event* stop) override;
    void close() override;
    void reset() override;
    void abort() override {}

    // Level 0..100 (0 while muted); applied now when open, else at the next open.
    void setVolume(int level);
    bool isOpen() const { return open_.load(); }

  private:
    void submitCurrent(size_t samples);
    int16_t* blockAt(int buffer, int block) {
        return buffers_[buffer].data() + static_cast<size_t>(block) * blockSamples_;
    }

    std::unique_ptr<AudioDevice> device_;
    std::vector<int16_t> buffers_[kBuffers];
    std::atomic<bool> done_[kBuffers];
    int channels_ = 0;
    int sampleRate_ = 0;
    size_t blockSamples_ = 0;
    int current_ = 0;
    int handedOut_ = 0;  // blocks of the current buffer given out
    size_t lastBlockLength_ = 0;  // samples of the last block handed out that count
    bool startPending_ = false;
    std::atomic<bool> open_{false};
    // The volume is set from the interface thread while the worker opens, resets and closes
    // the device: the lock keeps the level and the device's state together.
    std::mutex deviceLock_;
    int volume_ = 100;
};

// The process's device output over the backend VELORAPLAY_AUDIO names, made on first use.
PcmOut& deviceOutput();

}  // namespace veloraplay
