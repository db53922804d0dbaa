#include "SbrPseudoStereo.h"

#include <cmath>

namespace velora::sbr {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The decorrelated copy starts 4 ms late: inside the precedence window, so the direct
// (mid) sound still fixes the image in the centre, yet far enough behind it to be
// uncorrelated with it for broadband content.
constexpr double kBaseDelayMs = 4.0;
// A sparse FIR like a few early reflections, at uneven spacings so that the combs of the
// single taps do not line up. The first tap outweighs the others together (1 against 0.8),
// so the response never dips below -15 dB and no tone loses its width. The gains are
// scaled to unit energy in Init: broadband energy passes unchanged.
constexpr double kTapMs[SbrPseudoStereo::kFirTaps] = {0.0, 0.73, 1.91, 3.37};
constexpr double kTapGain[SbrPseudoStereo::kFirTaps] = {1.0, -0.4, 0.25, -0.15};
// An all-pass (energy-preserving) diffuses the taps into a tail; 5.3 ms is not a multiple
// of the tap spacing, and g = 0.5 lets the tail fall by 60 dB within about 50 ms so it
// does not sound like reverberation.
constexpr double kAllpassMs = 5.3;
constexpr float kAllpassGain = 0.5f;

// Width smoothing per block (24 ms at 48000 Hz): widening by at most 0.05 opens the image
// over about 15 blocks instead of jumping when a header raises the width; narrowing closes
// 30% of the remaining gap per block, prompt but click-free. Below 0.001 the width snaps
// to the target so that a mono request becomes exactly mono.
constexpr float kWidthRisePerBlock = 0.05f;
constexpr float kWidthFallPole = 0.3f;
constexpr float kWidthSnap = 0.001f;

// Keeps decaying feedback states out of the slow denormal range in silence.
constexpr float kTiny = 1e-20f;
float Flush(float v) { return std::fabs(v) < kTiny ? 0.0f : v; }

int Samples(double ms, int rate, int most) {
    const int n = static_cast<int>(std::lround(ms * 0.001 * rate));
    return n < 1 ? 1 : (n > most ? most : n);
}

}  // namespace

void SbrPseudoStereo::Init(int outputRate) {
    const int rate = outputRate < 16000 ? 16000 : (outputRate > 48000 ? 48000 : outputRate);

    // Butterworth high-pass by the bilinear transform with the cut-off pre-warped.
    const double k = std::tan(kPi * kPseudoStereoCrossoverHz / rate);
    const double norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
    b0_ = static_cast<float>(norm);
    b1_ = static_cast<float>(-2.0 * norm);
    b2_ = static_cast<float>(norm);
    a1_ = static_cast<float>(2.0 * (k * k - 1.0) * norm);
    a2_ = static_cast<float>((1.0 - std::sqrt(2.0) * k + k * k) * norm);

    double energy = 0.0;
    for (double g : kTapGain) energy += g * g;
    const double scale = 1.0 / std::sqrt(energy);
    for (int t = 0; t < kFirTaps; ++t) {
        tapDelay_[t] = Samples(kBaseDelayMs + kTapMs[t], rate, kHistorySize - 1);
        tapGain_[t] = static_cast<float>(kTapGain[t] * scale);
    }
    allpassDelay_ = Samples(kAllpassMs, rate, kAllpassSize);
    Reset();
}

void SbrPseudoStereo::Reset() {
    s1_ = 0.0f;
    s2_ = 0.0f;
    for (float& v : history_) v = 0.0f;
    for (float& v : allpass_) v = 0.0f;
    historyPos_ = 0;
    allpassPos_ = 0;
    width_ = 0.0f;
    mid_ = 1.0f;
}

float SbrPseudoStereo::HighPass(float x) {
    const float y = b0_ * x + s1_;
    s1_ = Flush(b1_ * x - a1_ * y + s2_);
    s2_ = Flush(b2_ * x - a2_ * y);
    return y;
}

float SbrPseudoStereo::Decorrelate(float high) {
    constexpr int historyMask = kHistorySize - 1;
    constexpr int allpassMask = kAllpassSize - 1;
    history_[historyPos_] = high;
    float fir = 0.0f;
    for (int t = 0; t < kFirTaps; ++t) {
        fir += tapGain_[t] * history_[(historyPos_ - tapDelay_[t]) & historyMask];
    }
    historyPos_ = (historyPos_ + 1) & historyMask;

    const float delayed = allpass_[(allpassPos_ - allpassDelay_) & allpassMask];
    const float v = Flush(fir + kAllpassGain * delayed);
    allpass_[allpassPos_] = v;
    allpassPos_ = (allpassPos_ + 1) & allpassMask;
    return delayed - kAllpassGain * v;
}

void SbrPseudoStereo::NextWidth(int widthIndex) {
    const int index = widthIndex < 0 ? 0 : (widthIndex > 3 ? 3 : widthIndex);
    const float target = kPseudoStereoWidths[index];
    if (target > width_) {
        width_ = std::fmin(target, width_ + kWidthRisePerBlock);
    } else {
        width_ += kWidthFallPole * (target - width_);
        if (width_ - target < kWidthSnap) width_ = target;
    }
    mid_ = std::sqrt(1.0f - width_ * width_);
}

void SbrPseudoStereo::Process(float* samples, int frames, int widthIndex) {
    if (samples == nullptr || frames <= 0) return;
    const float startWidth = width_;
    const float startMid = mid_;
    NextWidth(widthIndex);
    const float widthStep = (width_ - startWidth) / static_cast<float>(frames);
    const float midStep = (mid_ - startMid) / static_cast<float>(frames);

    for (int n = 0; n < frames; ++n) {
        const float x = samples[2 * n];
        const float high = HighPass(x);
        const float decorrelated = Decorrelate(high);
        const float ramp = static_cast<float>(n + 1);
        const float w = startWidth + widthStep * ramp;
        const float m = startMid + midStep * ramp;
        // low + m*high written as x + (m-1)*high: at m = 1, w = 0 the input passes bit-exact.
        const float mid = x + (m - 1.0f) * high;
        const float side = w * decorrelated;
        samples[2 * n] = mid + side;
        samples[2 * n + 1] = mid - side;
    }
}

}  // namespace velora::sbr
