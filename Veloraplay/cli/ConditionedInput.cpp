#include "ConditionedInput.h"

#include <algorithm>
#include <cmath>

#include "Resampler.h"

namespace veloraplay {
namespace {

namespace rs = velora::resample;

constexpr int kBlockFrames = 4096;

}  // namespace

ConditionedInput::ConditionedInput(SoundFileInput& input, bool downmix)
    : input_(input), outputRate_(input.Rate()), downmix_(downmix && input.Channels() > 2) {
    channels_ = downmix_ ? 2 : input.Channels();
    if (downmix_) weights_ = StereoDownmixWeights(input.Channels(), input.ChannelMap());
}

ConditionedInput::~ConditionedInput() { rs::Destroy(resampler_); }

bool ConditionedInput::ConvertTo(int rate) {
    if (rate == input_.Rate()) return true;
    rs::ResamplerSettings s;
    s.channels = channels_;
    s.inputRate = input_.Rate();
    s.outputRate = rate;
    s.inputBlockSamples = kBlockFrames * channels_;
    // A little below half the lower rate, so that the transition band ends before it.
    s.cutoffHz = 0.5 * std::min(s.inputRate, rate) / 1.1;
    s.transitionFactor = 0.1;
    rs::ResamplerInfo info;
    resampler_ = rs::Create(s, &info, nullptr);
    if (resampler_ == nullptr) return false;
    blockFrames_ = kBlockFrames;
    block_.resize(static_cast<size_t>(kBlockFrames * channels_));
    converted_.reserve(static_cast<size_t>(info.outputBlockSamples));
    skipFrames_ = std::llround(static_cast<double>(info.delay) * rate / s.inputRate);
    outputRate_ = rate;
    return true;
}

uint64_t ConditionedInput::TotalFrames() const {
    const uint64_t frames = input_.Frames();
    if (resampler_ == nullptr || frames == 0) return frames;
    return static_cast<uint64_t>(std::llround(static_cast<double>(frames) * outputRate_ / input_.Rate()));
}

long ConditionedInput::ReadMixed(float* samples, long frames) {
    if (!downmix_) return input_.Read(samples, frames);
    raw_.resize(static_cast<size_t>(frames * input_.Channels()));
    const long n = input_.Read(raw_.data(), frames);
    if (n > 0) MixToStereo(weights_, raw_.data(), n, samples);
    return n;
}

bool ConditionedInput::Refill() {
    long got = 0;
    if (!inputEnded_) {
        // A whole block, so that the converter sees its blocks as the stream's.
        while (got < blockFrames_) {
            const long n = ReadMixed(block_.data() + got * channels_, blockFrames_ - got);
            if (n < 0) return false;
            if (n == 0) {
                inputEnded_ = true;
                break;
            }
            got += n;
        }
        inputFrames_ += static_cast<unsigned long long>(got);
    }
    // After the end, zeros push the converter's delay out.
    std::fill(block_.begin() + got * channels_, block_.end(), 0.0f);
    converted_.resize(converted_.capacity());
    int position = 0;
    int written = 0;
    rs::Process(resampler_, block_.data(), static_cast<int>(block_.size()), &position, converted_.data(),
                static_cast<int>(converted_.size()), &written);
    converted_.resize(static_cast<size_t>(written));
    convertedAt_ = 0;
    const long long drop = std::min<long long>(skipFrames_, written / channels_);
    skipFrames_ -= drop;
    convertedAt_ = static_cast<size_t>(drop * channels_);
    return true;
}

long ConditionedInput::Read(float* samples, long frames) {
    if (resampler_ == nullptr) return ReadMixed(samples, frames);
    long given = 0;
    while (given < frames) {
        // Once the input has ended, the converted length: its frames times the ratio.
        const auto due = static_cast<unsigned long long>(
            std::llround(static_cast<double>(inputFrames_) * outputRate_ / input_.Rate()));
        if (inputEnded_ && delivered_ >= due) break;
        if (convertedAt_ >= converted_.size()) {
            if (!Refill()) return -1;
            continue;
        }
        long n = std::min<long>(frames - given, static_cast<long>((converted_.size() - convertedAt_) / channels_));
        if (inputEnded_) n = static_cast<long>(std::min<unsigned long long>(static_cast<unsigned long long>(n), due - delivered_));
        std::copy_n(converted_.begin() + static_cast<long>(convertedAt_), n * channels_, samples + given * channels_);
        convertedAt_ += static_cast<size_t>(n * channels_);
        given += n;
        delivered_ += static_cast<unsigned long long>(n);
    }
    return given;
}

}  // namespace veloraplay
