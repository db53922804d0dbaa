#include "InputGatherer.h"

#include <algorithm>
#include <cstring>

#include "EncoderApi.h"

namespace velora::enc {
namespace {

constexpr float kFullScale = 32768.0f;

}  // namespace

bool InputGatherer::Configure(int inputChannels, int sampleFormat, int frameSamples, bool mixDown) {
    if (inputChannels < 1 || inputChannels > kMaxChannels || frameSamples < 1 ||
        frameSamples > kMaxFrameSamples || (sampleFormat != kInputInt16 && sampleFormat != kInputFloat32) ||
        (mixDown && inputChannels != 2))
        return false;
    inputChannels_ = inputChannels;
    sampleFormat_ = sampleFormat;
    sampleBytes_ = sampleFormat == kInputInt16 ? 2 : 4;
    frameBytes_ = sampleBytes_ * inputChannels;
    frameSamples_ = frameSamples;
    mixDown_ = mixDown;
    Clear();
    return true;
}

void InputGatherer::Clear() {
    filled_ = 0;
    partialBytes_ = 0;
}

void InputGatherer::PadWithZeros() {
    const int channels = OutputChannels();
    std::fill(samples_ + filled_ * channels, samples_ + frameSamples_ * channels, 0.0f);
    filled_ = frameSamples_;
    partialBytes_ = 0;
}

void InputGatherer::Store(const uint8_t* frame) {
    float v[kMaxChannels] = {};
    for (int ch = 0; ch < inputChannels_; ++ch) {
        const uint8_t* p = frame + ch * sampleBytes_;
        if (sampleFormat_ == kInputInt16) {
            int16_t s = 0;
            std::memcpy(&s, p, sizeof(s));
            v[ch] = static_cast<float>(s);
        } else {
            float f = 0.0f;
            std::memcpy(&f, p, sizeof(f));
            // Non-finite or huge values would reach float-to-integer conversions in the
            // core; the decoded stream cannot show more than full scale anyway.
            v[ch] = f == f ? std::clamp(f, -kFullScale, kFullScale) : 0.0f;
        }
    }
    if (mixDown_) {
        samples_[filled_] = (v[0] + v[1]) * 0.5f;
    } else {
        for (int ch = 0; ch < inputChannels_; ++ch) samples_[filled_ * inputChannels_ + ch] = v[ch];
    }
    ++filled_;
}

int InputGatherer::Gather(const uint8_t* bytes, int count) {
    if (bytes == nullptr || count <= 0) return 0;
    int taken = 0;
    // Complete a sample frame cut by the previous call.
    if (partialBytes_ > 0 && filled_ < frameSamples_) {
        const int n = std::min(count, frameBytes_ - partialBytes_);
        std::memcpy(partial_ + partialBytes_, bytes, static_cast<size_t>(n));
        partialBytes_ += n;
        taken += n;
        if (partialBytes_ < frameBytes_) return taken;
        Store(partial_);
        partialBytes_ = 0;
    }
    while (filled_ < frameSamples_ && count - taken >= frameBytes_) {
        Store(bytes + taken);
        taken += frameBytes_;
    }
    if (filled_ < frameSamples_ && taken < count) {
        const int n = count - taken;  // less than one sample frame
        std::memcpy(partial_, bytes + taken, static_cast<size_t>(n));
        partialBytes_ = n;
        taken += n;
    }
    return taken;
}

}  // namespace velora::enc
