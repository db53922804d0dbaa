// The sound output driver under PcmOut: a device that plays queued 16-bit buffers and reports
// each one back when it has been consumed. Backends (chosen by VELORAPLAY_AUDIO): "sdl" (the
// default), "null" (consumed at the real-time rate, silent) and "wav:PATH" (what would be heard
// written to a WAVE file, paced in real time).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace veloraplay {

class AudioDevice {
  public:
    // Called with a buffer's tag once the device no longer needs its memory. It may run on the
    // device's own thread and must only record the fact.
    using DoneCallback = std::function<void(int tag)>;

    virtual ~AudioDevice() = default;
    // Opens for interleaved 16-bit samples at `sampleRate`; playback runs until pause().
    // False when the device or the format is unavailable (no fallback to another backend).
    virtual bool open(int channels, int sampleRate, DoneCallback done) = 0;
    // Queues `count` samples; the memory stays untouched by the caller until done(tag).
    virtual bool write(const int16_t* samples, size_t count, int tag) = 0;
    // Holds playback where it is; queued buffers stay queued.
    virtual void pause() = 0;
    // Resumes playback after pause().
    virtual void restart() = 0;
    // Drops every queued buffer, reporting each done before it returns; no done callback for
    // them runs afterwards.
    virtual void reset() = 0;
    // Output level 0..100, applied to both channels.
    virtual void setVolume(int level) = 0;
    // Resets and releases the device; open() may be called again.
    virtual void close() = 0;
};

// The device volume for a level 0..100: both channel halves of a 16-bit device value.
inline uint32_t deviceVolume(int level) {
    if (level < 0) level = 0;
    if (level > 100) level = 100;
    return static_cast<uint32_t>(level * 655.35);
}

// Scales a sample by a device volume (65535 = unity), rounded to the nearest.
inline int16_t applyVolume(int16_t sample, uint32_t volume) {
    if (volume >= 65535) return sample;
    const int64_t scaled = static_cast<int64_t>(sample) * volume;
    const int64_t half = scaled >= 0 ? 65535 / 2 : -(65535 / 2);
    return static_cast<int16_t>((scaled + half) / 65535);
}

// The backend named by `spec` ("" or "sdl", "null", "wav:PATH"); null for an unknown name.
std::unique_ptr<AudioDevice> makeAudioDevice(const std::string& spec);
// The backend VELORAPLAY_AUDIO names.
std::unique_ptr<AudioDevice> makeAudioDeviceFromEnvironment();

std::unique_ptr<AudioDevice> makeSdlAudioDevice();
std::unique_ptr<AudioDevice> makeNullAudioDevice();
std::unique_ptr<AudioDevice> makeWavAudioDevice(const std::string& path);

}  // namespace veloraplay
