// A masking model of its own for judging coded audio, independent of the encoder's:
// 2048-point Hann-windowed frames, half-Bark bands, Schroeder's spreading function, a
// masking offset set by each band's tonality, and the threshold in quiet at a fixed
// playback level. The constants and their reasons are in README.md beside this file.
#pragma once

#include <vector>

#include "Fft.h"

namespace velora::bench {

struct NmrBand {
    int firstBin = 0;  // [firstBin, endBin) of the frame's spectrum
    int endBin = 0;
    double lowHz = 0.0;
    double highHz = 0.0;
    double centreBark = 0.0;
    double quiet = 0.0;  // threshold in quiet, as band energy
};

class NmrModel {
public:
    static constexpr int kFrameSize = 2048;
    static constexpr int kHop = kFrameSize / 2;
    // Playback level: a full-scale sine (amplitude 32768) plays at this many dB SPL.
    static constexpr double kFullScaleSineSpl = 92.0;
    static constexpr double kBandBark = 0.5;
    // Offsets of the masked threshold below the spread energy: noise masking noise, and tone
    // masking noise (this plus the band's Bark number).
    static constexpr double kNoiseMaskingDb = 5.5;
    static constexpr double kToneMaskingDb = 14.5;
    // A band whose neighbourhood has this spectral flatness (or less) counts as a pure tone.
    static constexpr double kToneFlatnessDb = -20.0;

    // False for a rate the model cannot band (below 8000 Hz) or when memory is short.
    bool Init(int sampleRate);
    int SampleRate() const { return rate_; }
    int BandCount() const { return static_cast<int>(bands_.size()); }
    const NmrBand& Band(int b) const { return bands_[static_cast<size_t>(b)]; }

    // Band energies of one frame (kFrameSize samples, full scale +-32768) through the Hann
    // window, in units of sound intensity: 10 log10(energy) is the level in dB SPL.
    void BandEnergies(const float* frame, double* energy);
    // The masked threshold that one frame of the original sets, per band, in the same units;
    // also keeps the original's band energies and tonalities (below).
    void MaskedThreshold(const float* original, double* threshold);
    double LastEnergy(int band) const { return energy_[static_cast<size_t>(band)]; }
    double LastTonality(int band) const { return tonality_[static_cast<size_t>(band)]; }

    static double Bark(double hz);
    // Terhardt's approximation, in dB SPL.
    static double QuietThresholdDb(double hz);
    // Schroeder's spreading function at `dz` Bark from the masker (positive: above it), in dB.
    static double SpreadingDb(double dz);

private:
    void PowerSpectrum(const float* frame);

    int rate_ = 0;
    math::RealFft fft_;
    std::vector<float> window_;
    std::vector<float> windowed_;
    std::vector<float> re_;
    std::vector<float> im_;
    std::vector<double> power_;  // per bin, sound-intensity units
    double powerScale_ = 0.0;
    std::vector<NmrBand> bands_;
    std::vector<double> spread_;  // [maskee * bands + masker], linear
    std::vector<double> spreadNorm_;
    // The bins whose flatness sets each band's tonality: [first, end).
    std::vector<int> tonalFirst_;
    std::vector<int> tonalEnd_;
    std::vector<double> energy_;
    std::vector<double> tonality_;
};

}  // namespace velora::bench
