#pragma once
// The encoder window's own texts and the paths it derives, as plain functions.
#include <cstdint>
#include <string>

namespace veloraplay {

// "WAVE 44100 Hz Stereo - Linear PCM - 00:03:25": the data's length at the file's rate.
std::string encoderInfoLine(int sampleRate, int channels, uint64_t dataBytes);

// The output path an input suggests: in `defaultDirectory` when one is set, else beside the
// input; the file name's extension (if any) replaced by ".mp3". A '.' in a folder name is
// not an extension.
std::string derivedOutputPath(const std::string& inputPath, const std::string& defaultDirectory);

// A parameter list entry: "64 kbps - 44100 Hz Velora" (or "... mp3" when the encoder codes
// that point without SBR).
std::string parameterEntryText(int kbps, int inputRate, bool sbr);

// The job's status line without monitor playback:
// "Duration: 00:01:05  Time: 00:00:02  Speed: 32.5".
std::string encodeStatusLine(uint64_t bytesRead, int bytesPerSecond, int elapsedSeconds);
// With monitor playback: "Encoding: 00:01:05 - 44100 Hz stereo - Velora".
std::string monitorStatusLine(uint64_t bytesRead, int bytesPerSecond, int outputRate, int outputChannels, bool sbr);

// The status line is rewritten at most once per elapsed second: due when the whole seconds
// elapsed exceed those of the last line shown.
class StatusThrottle {
  public:
    bool due(int elapsedSeconds) {
        if (elapsedSeconds <= shown_) return false;
        shown_ = elapsedSeconds;
        return true;
    }

  private:
    int shown_ = 0;
};

}  // namespace veloraplay
