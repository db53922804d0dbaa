// Pseudo stereo for a single-channel core: the mono output, copied to both channels, is
// widened by adding a decorrelated copy of its upper band to the left channel and
// subtracting it from the right. The part below the crossover and the mono sum (L+R)/2
// never carry the decorrelated signal, so bass stays centred and a mono downmix hears no
// comb filtering.
//
//   high = 2nd-order Butterworth high-pass of x at kPseudoStereoCrossoverHz, low = x - high
//   d    = all-pass(FIR(delay(high)))
//   L    = low + m*high + w*d,   R = low + m*high - w*d,   m = sqrt(1 - w*w)
//
// w follows the header's width index block by block (rising by a fixed step, falling
// along a one-pole curve); w and m ramp linearly across each block.
#pragma once

namespace velora::sbr {

// Target width w per pseudo-stereo width index.
constexpr float kPseudoStereoWidths[4] = {0.0f, 0.0f, 0.44806250f, 0.70710677f};
// Interaural time cues weaken above about 1.5 kHz, so decorrelation from there on is heard
// as width rather than as a smeared, phasey image; below it the signal stays mono.
constexpr double kPseudoStereoCrossoverHz = 1500.0;

class SbrPseudoStereo {
public:
    SbrPseudoStereo() { Init(48000); }

    // Sets the filters for `outputRate` Hz (clamped to 16000..48000) and clears the state.
    void Init(int outputRate);
    // Clears delay lines, filter states and the smoothed width/gains (width starts at 0).
    void Reset();
    // `samples`: `frames` interleaved stereo frames whose two channels are equal on entry
    // (the left one is read); rewritten in place. `widthIndex` 0..3 (values outside are
    // clamped).
    void Process(float* samples, int frames, int widthIndex);

    static constexpr int kFirTaps = 4;

private:
    // Powers of two that hold the longest delays at 48000 Hz (7.37 ms and 5.3 ms).
    static constexpr int kHistorySize = 512;
    static constexpr int kAllpassSize = 256;

    float HighPass(float x);
    float Decorrelate(float high);
    void NextWidth(int widthIndex);

    // High-pass biquad (transposed direct form II).
    float b0_ = 0.0f, b1_ = 0.0f, b2_ = 0.0f, a1_ = 0.0f, a2_ = 0.0f;
    float s1_ = 0.0f, s2_ = 0.0f;

    // High band history read by the FIR; tap k sits tapDelay_[k] samples back.
    float history_[kHistorySize] = {};
    int historyPos_ = 0;
    int tapDelay_[kFirTaps] = {};
    float tapGain_[kFirTaps] = {};

    // Schroeder all-pass: its delay line holds the feedback sum.
    float allpass_[kAllpassSize] = {};
    int allpassPos_ = 0;
    int allpassDelay_ = 1;

    float width_ = 0.0f;  // smoothed width reached at the end of the last block
    float mid_ = 1.0f;    // sqrt(1 - width_^2)
};

}  // namespace velora::sbr
