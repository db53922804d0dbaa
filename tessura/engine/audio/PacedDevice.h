#pragma once
// A device without hardware: a worker consumes the queued buffers at the real-time rate of the
// format and reports each one done after its playing time.
#include "WaveOutDevice.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace tessura {

class PacedDevice : public WaveOutDevice {
  public:
    ~PacedDevice() override;
    bool open(const WaveOutFormat& format, DoneCallback done, std::string& error) override;
    void write(const WaveOutBuffer& buffer) override;
    void pause() override;
    void restart() override;
    void reset() override;
    void close() override;
    void setVolume(uint32_t packed) override;
    uint32_t volume() const override;

  protected:
    // Plays `times` faster than real time (tests that listen to whole lists).
    void setSpeed(unsigned times) { speed_ = times == 0 ? 1 : times; }
    // Called on the worker when a buffer starts to play (samples already scaled by the volume).
    virtual bool begin(const WaveOutFormat& format, std::string& error) = 0;
    virtual void consume(const uint8_t* data, std::size_t length) = 0;
    virtual void end() = 0;

  private:
    void run();

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable wake_;
    std::deque<WaveOutBuffer> queue_;
    WaveOutFormat format_;
    DoneCallback done_;
    std::thread worker_;
    bool open_ = false, paused_ = false, quit_ = false;
    bool headStarted_ = false;
    uint64_t generation_ = 0;  // bumped by reset, so a wait in progress restarts
    std::chrono::microseconds headLeft_{0};
    uint32_t volume_ = 0xFFFFFFFFu;
    unsigned speed_ = 1;
    std::vector<uint8_t> scratch_;
};

class NullDevice final : public PacedDevice {
  public:
    ~NullDevice() override { close(); }

  protected:
    bool begin(const WaveOutFormat&, std::string&) override { return true; }
    void consume(const uint8_t*, std::size_t) override {}
    void end() override {}
};

// Writes a PCM WAVE file; the header's sizes are brought up to date after every buffer, so the
// file is whole however the program ends. Opened again in the same format it goes on appending;
// a new format starts the next file of the series ("out.2.wav").
class WavFileDevice final : public PacedDevice {
  public:
    explicit WavFileDevice(std::string path) : path_(std::move(path)) {}
    ~WavFileDevice() override;

  protected:
    bool begin(const WaveOutFormat& format, std::string& error) override;
    void consume(const uint8_t* data, std::size_t length) override;
    void end() override;

  private:
    std::string path_;
    std::string written_;  // the file of the series this open writes
    int fd_ = -1;
    uint64_t dataBytes_ = 0;
};

}  // namespace tessura
