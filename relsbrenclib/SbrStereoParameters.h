// The stereo-parameter encoder of a one-channel core fed from a two-channel input: picks
// the decoder's pseudo-stereo width index from the input pair's width, measured as the
// ratio of side to mid energy (smoothed over frames) with hysteresis around the points
// halfway between the decoder's widths 0, 0.448 and 0.707.
//
// The decoder's pseudo stereo gives side / mid = w^2 / (1 - w^2) in the band it widens:
// -6 dB for index 2, 0 dB for index 3; halfway in width (w = 0.224 and 0.578) lie -12.8 dB
// and -3 dB.
#pragma once

namespace velora::sbr {

class SbrStereoParameters {
public:
    void Reset();
    // One frame of both input channels. True when the width index changed (the first frame
    // sets it without counting as a change).
    bool Update(const float* left, const float* right, int samples);
    int WidthIndex() const { return index_; }
    // The smoothed side-to-mid ratio in dB.
    float RatioDb() const { return ratioDb_; }

private:
    float mid_ = 0.0f;
    float side_ = 0.0f;
    float ratioDb_ = -100.0f;
    int index_ = 0;
    int held_ = 0;  // frames since the last change
    bool started_ = false;
};

}  // namespace velora::sbr
