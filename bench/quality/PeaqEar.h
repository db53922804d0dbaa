// The FFT ear model of a PEAQ-style judge, after the published basic version of the
// objective measurement method: 2048-sample Hann frames every 1024 samples, outer and middle
// ear weighting, grouping into quarter-Bark bands from 80 Hz to 18 kHz, the ear's internal
// noise, level-dependent spreading across bands and forward smearing in time. One object per
// channel and signal: it keeps the smearing state from frame to frame.
#pragma once

#include <vector>

#include "Fft.h"

namespace velora::bench {

class PeaqEar {
public:
    static constexpr int kFrameSize = 2048;
    static constexpr int kHop = kFrameSize / 2;
    static constexpr int kBins = kFrameSize / 2 + 1;
    // Playback level: a full-scale sine (+-32768) peaks at this many dB SPL.
    static constexpr double kFullScaleSpl = 92.0;
    static constexpr double kBandBark = 0.25;

    // False for a rate below 16 kHz or when memory is short.
    bool Init(int sampleRate);
    void Reset();
    int SampleRate() const { return rate_; }
    int BandCount() const { return static_cast<int>(centreHz_.size()); }
    double CentreHz(int band) const { return centreHz_[static_cast<size_t>(band)]; }
    // The ear's internal noise in a band (the same units as the excitation).
    double InternalNoise(int band) const { return internalNoise_[static_cast<size_t>(band)]; }
    // The published per-frame smoothing of a time constant: tauMin at high frequencies,
    // rising towards tau100 at 100 Hz.
    double Smoothing(int band, double tauMin, double tau100) const;

    // One frame of kFrameSize samples (full scale +-32768).
    void Process(const float* frame);

    // Results of the last frame.
    const std::vector<double>& Power() const { return power_; }            // per bin, unweighted
    const std::vector<double>& Weighted() const { return weighted_; }      // per bin, through the outer ear
    const std::vector<double>& Unsmeared() const { return unsmeared_; }    // per band, spread in frequency
    const std::vector<double>& Excitation() const { return excitation_; }  // per band, also smeared in time
    const std::vector<double>& Mask() const { return mask_; }              // per band

    // Sums bin powers (kBins values) into the bands.
    void Group(const double* binPower, double* bandPower) const;

    static double Bark(double hz);

private:
    void Spread(const double* bands, double* out, bool normalise) const;

    int rate_ = 0;
    math::RealFft fft_;
    std::vector<float> window_;
    std::vector<float> windowed_;
    std::vector<float> re_;
    std::vector<float> im_;
    double scale_ = 0.0;
    std::vector<double> earWeight_;  // per bin, linear power
    // Band b takes weight share_[i] of bin firstBin_[b] + i - shareStart_[b] ... flattened.
    std::vector<int> firstBin_;
    std::vector<int> shareStart_;  // index into share_, one more entry than bands
    std::vector<double> share_;
    std::vector<double> centreHz_;
    std::vector<double> internalNoise_;
    std::vector<double> maskOffset_;  // linear divisor
    std::vector<double> smear_;       // per band, the forward smearing coefficient
    std::vector<double> lowerSpread_;  // per band distance in bands: linear factor, 27 dB/Bark
    std::vector<double> spreadNorm_;
    std::vector<double> grouped_;
    std::vector<double> terms_;
    std::vector<double> power_;
    std::vector<double> weighted_;
    std::vector<double> unsmeared_;
    std::vector<double> smeared_;
    std::vector<double> excitation_;
    std::vector<double> mask_;
};

}  // namespace velora::bench
