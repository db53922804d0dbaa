#include "WaveOutDevice.h"

#include "PacedDevice.h"
#include "SdlDevice.h"

#include <cstring>

namespace tessura {

uint32_t WaveOutFormat::bytesPerSecond() const {
    if (rate <= 0 || channels <= 0 || bits < 8) return 0;
    return static_cast<uint32_t>(rate) * static_cast<uint32_t>(channels) * static_cast<uint32_t>(bits / 8);
}

namespace {
class UnknownBackend final : public WaveOutDevice {
  public:
    bool open(const WaveOutFormat&, DoneCallback, std::string& error) override {
        error = "unknown sound backend (TESSURA_AUDIO takes sdl, null or wav:PATH)";
        return false;
    }
    void write(const WaveOutBuffer&) override {}
    void pause() override {}
    void restart() override {}
    void reset() override {}
    void close() override {}
    void setVolume(uint32_t) override {}
    uint32_t volume() const override { return 0xFFFFFFFFu; }
};
}  // namespace

std::unique_ptr<WaveOutDevice> createWaveOutDevice(const AudioBackendChoice& backend, int deviceNumber) {
    switch (backend.kind) {
    case AudioBackendChoice::Kind::Sdl:
        return std::make_unique<SdlDevice>(deviceNumber);
    case AudioBackendChoice::Kind::Null:
        return std::make_unique<NullDevice>();
    case AudioBackendChoice::Kind::Wav:
        return std::make_unique<WavFileDevice>(backend.wavPath);
    case AudioBackendChoice::Kind::Invalid:
        break;
    }
    return std::make_unique<UnknownBackend>();
}

std::unique_ptr<WaveOutDevice> createWaveOutDevice(const std::string& backend, int deviceNumber) {
    return createWaveOutDevice(parseAudioBackend(backend.c_str()), deviceNumber);
}

std::vector<std::string> waveOutDeviceNames(const AudioBackendChoice& backend) {
    if (backend.kind == AudioBackendChoice::Kind::Sdl) return SdlDevice::deviceNames();
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
