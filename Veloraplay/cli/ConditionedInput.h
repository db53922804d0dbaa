// The input as the encoder takes it: the file's frames, mixed to stereo when asked
// (`--downmix`) and brought to the encoder's rate by the project's own converter, its
// delay taken off and its length kept (input frames times the ratio, rounded).
#pragma once

#include <memory>
#include <vector>

#include "EncodeSamples.h"
#include "SoundFileInput.h"
#include "StereoDownmix.h"

namespace velora::resample {
struct Resampler;
}

namespace veloraplay {

class ConditionedInput final : public SampleSource {
  public:
    ConditionedInput(SoundFileInput& input, bool downmix);
    ~ConditionedInput() override;
    ConditionedInput(const ConditionedInput&) = delete;
    ConditionedInput& operator=(const ConditionedInput&) = delete;

    // Converts to `rate` from here on (before the first Read). False when the converter
    // cannot be made for the two rates.
    bool ConvertTo(int rate);

    int Rate() const override { return outputRate_; }
    int Channels() const override { return channels_; }
    uint64_t TotalFrames() const override;
    long Read(float* samples, long frames) override;
    std::string Error() const override { return input_.Error(); }

  private:
    // The file's frames after the downmix; -1 on a read error.
    long ReadMixed(float* samples, long frames);
    // Runs the converter over one block of input; false on a read error.
    bool Refill();

    SoundFileInput& input_;
    int channels_ = 0;
    int outputRate_ = 0;
    bool downmix_ = false;
    StereoWeights weights_;
    std::vector<float> raw_;

    velora::resample::Resampler* resampler_ = nullptr;
    int blockFrames_ = 0;
    std::vector<float> block_;
    std::vector<float> converted_;
    size_t convertedAt_ = 0;        // samples of converted_ already handed out
    long long skipFrames_ = 0;      // the converter's delay, in output frames, still to drop
    unsigned long long inputFrames_ = 0;
    unsigned long long delivered_ = 0;
    bool inputEnded_ = false;
};

}  // namespace veloraplay
