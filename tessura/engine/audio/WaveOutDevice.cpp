#include "WaveOutDevice.h"

#include "PacedDevice.h"
#include "SdlDevice.h"

#include <cstdlib>
#include <cstring>

namespace tessura {

uint32_t WaveOutFormat::bytesPerSecond() const {
    if (rate <= 0 || channels <= 0 || bits < 8) return 0;
    return static_cast<uint32_t>(rate) * static_cast<uint32_t>(channels) * static_cast<uint32_t>(bits / 8);
}

namespace {
class UnknownBackend final : public WaveOutDevice {
  public:
    explicit UnknownBackend(std::string name) : name_(std::move(name)) {}
    bool open(const WaveOutFormat&, DoneCallback, std::string& error) override {
        error = "unknown audio backend '" + name_ + "' (TESSURA_AUDIO: sdl, null or wav:PATH)";
        return false;
    }
    void write(const WaveOutBuffer&) override {}
    void pause() override {}
    void restart() override {}
    void reset() override {}
    void close() override {}
    void setVolume(uint32_t) override {}
    uint32_t volume() const override { return 0xFFFFFFFFu; }

  private:
    std::string name_;
};
}  // namespace

std::unique_ptr<WaveOutDevice> createWaveOutDevice(std::string_view backend, int deviceNumber) {
    if (backend.empty() || backend == "sdl") return std::make_unique<SdlDevice>(deviceNumber);
    if (backend == "null") return std::make_unique<NullDevice>();
    if (backend.substr(0, 4) == "wav:" && backend.size() > 4)
        return std::make_unique<WavFileDevice>(std::string(backend.substr(4)));
    return std::make_unique<UnknownBackend>(std::string(backend));
}

std::string audioBackendFromEnvironment() {
    const char* value = std::getenv("TESSURA_AUDIO");
    return value != nullptr ? value : "";
}

std::vector<std::string> waveOutDeviceNames(std::string_view backend) {
    if (backend.empty() || backend == "sdl") return SdlDevice::deviceNames();
    return {};
}

void applyVolume(uint8_t* data, std::size_t length, int32_t bits, int32_t channels, uint32_t packed) {
    if (packed == 0xFFFFFFFFu) return;
    const uint32_t left = packed & 0xFFFF, right = packed >> 16;
    if (bits == 16) {
        for (std::size_t i = 0, n = 0; i + 1 < length; i += 2, ++n) {
            int16_t s;
            std::memcpy(&s, data + i, 2);
            const uint32_t level = (channels == 2 && (n & 1) != 0) ? right : left;
            s = static_cast<int16_t>(int32_t{s} * static_cast<int32_t>(level) / 65535);
            std::memcpy(data + i, &s, 2);
        }
    } else if (bits == 8) {
        for (std::size_t n = 0; n < length; ++n) {
            const uint32_t level = (channels == 2 && (n & 1) != 0) ? right : left;
            data[n] = static_cast<uint8_t>((int32_t{data[n]} - 128) * static_cast<int32_t>(level) / 65535 + 128);
        }
    }
}

}  // namespace tessura
