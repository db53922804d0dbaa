#pragma once
// What the player window asks of the playback controller. The controller implements it over
// a worker thread and the sound device; the window's logic is tested against a recording fake.
#include <array>
#include <cstdint>
#include <string>

namespace veloraplay {

class PlaybackControl {
  public:
    static constexpr int kBandCount = 8;

    virtual ~PlaybackControl() = default;

    virtual void setFile(const std::string& name) = 0;
    virtual const std::string& file() const = 0;
    // The file set is a RIFF/WAVE file.
    virtual bool isWaveFile() const = 0;

    // Plays the file, or resumes a paused playback.
    virtual void start() = 0;
    // Ends the playback and waits for it.
    virtual void stop() = 0;
    virtual void togglePause() = 0;
    virtual bool isRunning() const = 0;
    virtual bool isPaused() const = 0;
    virtual bool decodingToFile() const = 0;
    // 0..100 percent of the file.
    virtual void requestSeek(int percent) = 0;

    // Inverts the live enhancement switch; returns the new state.
    virtual bool toggleEnhancement() = 0;
    virtual bool enhancement() const = 0;
    // The state each playback starts with.
    virtual void setEnhancementDefault(bool on) = 0;
    virtual bool enhancementDefault() const = 0;

    // Band gain steps 0..6, heard from the next decoded frame on.
    virtual void setBandGain(int band, int step) = 0;
    // Each band's peak level (0..127) since the last call, which starts them afresh.
    virtual std::array<uint8_t, kBandCount> takeBandPeaks() = 0;
};

}  // namespace veloraplay
