// A device without hardware: a thread consumes the queued buffers at the real-time rate of the
// format and reports each done. The null and WAVE backends differ only in consume().
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "AudioDevice.h"

namespace veloraplay {

class PacedDevice : public AudioDevice {
  public:
    ~PacedDevice() override;
    bool open(int channels, int sampleRate, DoneCallback done) override;
    bool write(const int16_t* samples, size_t count, int tag) override;
    void pause() override;
    void restart() override;
    void reset() override;
    void setVolume(int level) override;
    void close() override;

  protected:
    // Called when a buffer has been played, under the device lock, before its done callback.
    virtual void consume(const int16_t* samples, size_t count, uint32_t volume) = 0;
    // Called by open() before the thread starts; false fails the open.
    virtual bool begin(int channels, int sampleRate) = 0;
    // Called by close() after the thread has ended.
    virtual void end() = 0;
    // Derived destructors call this before their members go.
    void shutDown();

  private:
    struct Queued {
        const int16_t* samples;
        size_t count;
        int tag;
        std::chrono::steady_clock::duration played{};
    };
    void run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Queued> queue_;
    std::thread thread_;
    DoneCallback done_;
    int channels_ = 0;
    int sampleRate_ = 0;
    uint32_t volume_ = 65535;
    bool open_ = false;
    bool paused_ = false;
    bool quit_ = false;
    unsigned generation_ = 0;  // bumped by reset, so the thread drops the head it timed
};

}  // namespace veloraplay
