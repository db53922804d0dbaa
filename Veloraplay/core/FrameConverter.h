// Brings decoded frames to one output format: mono widened to stereo, stereo mixed to mono,
// frames at half the output rate doubled (a Velora stream whose enhancement is off or has
// dropped out goes on at the core rate) and frames at twice the rate halved. State carried from
// frame to frame keeps the interpolation continuous; nothing is allocated after the first
// frames of the largest size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veloraplay {

class FrameConverter {
  public:
    // The format every frame is brought to; also forgets the carried state.
    void setOutput(int channels, int sampleRate);
    // Forgets the carried state (after a seek).
    void reset();

    // Converts `samples` interleaved samples of `channels` at `sampleRate`; the result stays
    // valid until the next call. A rate other than half, equal or double is passed through
    // as it is (rateMismatch() then tells).
    const int16_t* convert(const int16_t* in, size_t samples, int channels, int sampleRate,
                           size_t* outSamples);

    int channels() const { return channels_; }
    int sampleRate() const { return sampleRate_; }
    // Counts since setOutput: frames with more channels than the output, and resampled ones.
    long long mixedDown() const { return mixedDown_; }
    long long resampled() const { return resampled_; }
    bool rateMismatch() const { return rateMismatch_; }

  private:
    int channels_ = 0;
    int sampleRate_ = 0;
    int last_[2] = {0, 0};
    bool started_ = false;
    long long mixedDown_ = 0;
    long long resampled_ = 0;
    bool rateMismatch_ = false;
    std::vector<int16_t> mixed_;
    std::vector<int16_t> rated_;
};

}  // namespace veloraplay
