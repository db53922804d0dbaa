#pragma once
// The sound card through SDL2 (which reaches PipeWire, PulseAudio and ALSA). SDL's callback
// pulls the queued buffers; a buffer is done when its last byte went to SDL.
#include "WaveOutDevice.h"

#include <deque>
#include <mutex>

namespace tessura {

class SdlDevice final : public WaveOutDevice {
  public:
    explicit SdlDevice(int deviceNumber) : deviceNumber_(deviceNumber) {}
    ~SdlDevice() override;
    bool open(const WaveOutFormat& format, DoneCallback done, std::string& error) override;
    void write(const WaveOutBuffer& buffer) override;
    void pause() override;
    void restart() override;
    void reset() override;
    void close() override;
    void setVolume(uint32_t packed) override;
    uint32_t volume() const override;

    static std::vector<std::string> deviceNames();

  private:
    static void pull(void* self, uint8_t* stream, int length);
    void fill(uint8_t* stream, std::size_t length);

    const int deviceNumber_;
    uint32_t device_ = 0;  // SDL_AudioDeviceID; 0 = closed
    WaveOutFormat format_;
    DoneCallback done_;
    mutable std::mutex mutex_;  // guards queue_, offset_, volume_ (SDL's callback thread reads them)
    std::deque<WaveOutBuffer> queue_;
    std::size_t offset_ = 0;  // bytes of the head buffer already handed over
    uint32_t volume_ = 0xFFFFFFFFu;
};

}  // namespace tessura
