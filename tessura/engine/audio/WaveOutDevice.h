#pragma once
// The sound device under the built-in output, with the contract of the wave-out calls it stands
// in for: open a PCM format with a buffer-done callback, queue buffers, pause, restart, reset
// (every queued buffer returned at once), close, volume. Backends: SDL2 (the default), "null"
// (buffers consumed at the real-time rate) and "wav:PATH" (what would be heard written to a
// WAVE file, in real time), chosen by TESSURA_AUDIO.
#include "ProgramFolder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tessura {

struct WaveOutFormat {
    int32_t rate = 44100;
    int32_t channels = 2;
    int32_t bits = 16;
    uint32_t bytesPerSecond() const;
};

// One queued buffer. The device reads data/length; the rest is the output's own stamp.
struct WaveOutBuffer {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    int32_t songId = 0;
    int32_t positionMs = 0;
    bool positionValid = false;
    uint32_t durationMs = 0;
    std::size_t slot = 0;
};

class WaveOutDevice {
  public:
    // Runs on the device's thread (or the caller of reset) once per finished buffer; it must not
    // call back into the device.
    using DoneCallback = std::function<void(const WaveOutBuffer&)>;

    virtual ~WaveOutDevice() = default;
    // False with a readable reason when the device cannot be opened.
    virtual bool open(const WaveOutFormat& format, DoneCallback done, std::string& error) = 0;
    virtual void write(const WaveOutBuffer& buffer) = 0;
    virtual void pause() = 0;
    virtual void restart() = 0;
    // Stops at once; every queued buffer is reported done.
    virtual void reset() = 0;
    virtual void close() = 0;
    // Left level in the low 16 bits, right in the high 16 bits.
    virtual void setVolume(uint32_t packed) = 0;
    virtual uint32_t volume() const = 0;
};

// The device of the chosen backend (TESSURA_AUDIO, see ProgramFolder.h); `deviceNumber` -1 is
// the default device. A refused choice gives a device whose open fails and says why.
std::unique_ptr<WaveOutDevice> createWaveOutDevice(const AudioBackendChoice& backend, int deviceNumber);
// The same from the variable's text ("sdl", "null", "wav:PATH").
std::unique_ptr<WaveOutDevice> createWaveOutDevice(const std::string& backend, int deviceNumber);
// The names of the backend's playback devices, in device-number order.
std::vector<std::string> waveOutDeviceNames(const AudioBackendChoice& backend);

// PCM scaled by a packed volume (full scale leaves the samples as they are).
void applyVolume(uint8_t* data, std::size_t length, int32_t bits, int32_t channels, uint32_t packed);

}  // namespace tessura
