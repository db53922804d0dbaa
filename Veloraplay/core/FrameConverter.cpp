#include "FrameConverter.h"

#include <algorithm>

namespace veloraplay {

void FrameConverter::setOutput(int channels, int sampleRate) {
    channels_ = std::clamp(channels, 1, 2);
    sampleRate_ = sampleRate;
    mixedDown_ = 0;
    resampled_ = 0;
    rateMismatch_ = false;
    reset();
}

void FrameConverter::reset() {
    last_[0] = last_[1] = 0;
    started_ = false;
}

const int16_t* FrameConverter::convert(const int16_t* in, size_t samples, int channels,
                                       int sampleRate, size_t* outSamples) {
    const int16_t* data = in;
    size_t count = samples;
    if (channels != channels_ && channels >= 1) {
        if (channels > channels_) ++mixedDown_;
        const size_t frames = samples / static_cast<size_t>(channels);
        mixed_.resize(frames * static_cast<size_t>(channels_));
        for (size_t i = 0; i < frames; ++i) {
            if (channels == 1) {
                for (int c = 0; c < channels_; ++c) {
                    mixed_[i * static_cast<size_t>(channels_) + static_cast<size_t>(c)] = in[i];
                }
            } else {
                const size_t at = i * static_cast<size_t>(channels);
                mixed_[i] = static_cast<int16_t>((in[at] + in[at + 1]) / 2);
            }
        }
        data = mixed_.data();
        count = mixed_.size();
    }

    const size_t ch = static_cast<size_t>(channels_);
    const size_t frames = count / ch;
    if (2 * sampleRate == sampleRate_) {
        // Each sample is preceded by the mean of it and the one before.
        rated_.resize(2 * frames * ch);
        for (size_t i = 0; i < frames; ++i) {
            for (size_t c = 0; c < ch; ++c) {
                const int now = data[i * ch + c];
                const int before = started_ ? last_[c] : now;
                rated_[2 * i * ch + c] = static_cast<int16_t>((before + now) / 2);
                rated_[(2 * i + 1) * ch + c] = static_cast<int16_t>(now);
                last_[c] = now;
            }
        }
        started_ = started_ || frames > 0;
        ++resampled_;
        data = rated_.data();
        count = rated_.size();
    } else if (sampleRate == 2 * sampleRate_) {
        // Pairs of samples are averaged.
        rated_.resize(frames / 2 * ch);
        for (size_t i = 0; i < frames / 2; ++i) {
            for (size_t c = 0; c < ch; ++c) {
                rated_[i * ch + c] =
                    static_cast<int16_t>((data[2 * i * ch + c] + data[(2 * i + 1) * ch + c]) / 2);
            }
        }
        ++resampled_;
        data = rated_.data();
        count = rated_.size();
    } else if (sampleRate != sampleRate_) {
        rateMismatch_ = true;
    }
    *outSamples = count;
    return data;
}

}  // namespace veloraplay
