#include "RateControl.h"

#include <algorithm>
#include <cmath>


namespace velora::enc {

void PaddingClock::Init(int bitrate, int samplesPerFrame, int sampleRate) {
    numerator_ = int64_t{bitrate} * samplesPerFrame;
    denominator_ = int64_t{8} * sampleRate;
    remainder_ = 0;
}

bool PaddingClock::Next() {
    // Whole bytes per frame are numerator / denominator; the fractions add up to padding.
    remainder_ += numerator_ % denominator_;
    if (remainder_ >= denominator_) {
        remainder_ -= denominator_;
        return true;
    }
    return false;
}

namespace {

// Entropy after raising every band's threshold by `raiseDb` weighted by its noisiness.
float RaisedEntropy(const QuantiserInput* in, int channels, float raiseDb) {
    float pe = 0.0f;
    for (int ch = 0; ch < channels; ++ch) {
        const QuantiserInput& q = in[ch];
        for (int b = 0; b < q.usedBands; ++b) {
            const float weight = 0.2f + 0.8f * (1.0f - q.tonality[b]);
            const float t = q.threshold[b] * std::pow(10.0f, 0.1f * raiseDb * weight);
            const float e = q.energy[b];
            if (e > t && t > 0.0f) pe += static_cast<float>(q.bounds[b + 1] - q.bounds[b]) * 0.5f * std::log2(e / t);
        }
    }
    return pe;
}

}  // namespace

float RaiseToAllowance(QuantiserInput* in, int channels, float allowance) {
    if (RaisedEntropy(in, channels, 0.0f) <= allowance) return 0.0f;
    float lo = 0.0f;
    float hi = 10.0f;
    while (RaisedEntropy(in, channels, hi) > allowance && hi < 160.0f) hi *= 2.0f;
    for (int i = 0; i < 14; ++i) {
        const float mid = 0.5f * (lo + hi);
        if (RaisedEntropy(in, channels, mid) > allowance)
            lo = mid;
        else
            hi = mid;
    }
    for (int ch = 0; ch < channels; ++ch) {
        QuantiserInput& q = in[ch];
        for (int b = 0; b < q.usedBands; ++b) {
            const float weight = 0.2f + 0.8f * (1.0f - q.tonality[b]);
            q.threshold[b] *= std::pow(10.0f, 0.1f * hi * weight);
        }
        q.perceptualEntropy = PerceptualEntropy(q);
    }
    return hi;
}

float RaiseToAllowance(QuantiserInput& in, float allowance) {
    return RaiseToAllowance(&in, 1, allowance);
}

void ShareBits(const float* entropy, int channels, float* fractions) {
    if (channels == 1) {
        fractions[0] = 1.0f;
        return;
    }
    float sum = 0.0f;
    for (int ch = 0; ch < channels; ++ch) sum += entropy[ch];
    for (int ch = 0; ch < channels; ++ch) {
        fractions[ch] = sum > 0.0f ? 0.15f + (1.0f - 0.15f * static_cast<float>(channels)) * entropy[ch] / sum
                                   : 0.15f;
    }
}

float CbrAllowance::Allowance(float meanBits, float reservoirBits, bool shortBlocks) const {
    // 0.9 of the mean with an empty reservoir, rising with its fill up to 1.5 times the mean
    // (2 times for short blocks, which need the reservoir most).
    const float limit = shortBlocks ? 2.0f : 1.5f;
    if (meanBits <= 0.0f) return 0.0f;
    return k_ * 1.18f * meanBits * std::min(limit, 0.95f * reservoirBits / meanBits + 0.9f);
}

void CbrAllowance::Update(int targetBits, int usedBits) {
    // Granules that need fewer bits than they were given let the next ones plan for more,
    // and the other way round, within a factor of two.
    if (targetBits <= 0) return;
    const float ratio = static_cast<float>(usedBits) / static_cast<float>(targetBits);
    if (ratio < 0.9f) k_ *= 1.02f;
    else if (ratio > 1.0f) k_ *= 0.98f;
    k_ = std::clamp(k_, 0.5f, 2.0f);
}

}  // namespace velora::enc
