// One channel of a PEAQ-style comparison: the ear model of the reference and of the signal
// under test, the adaptation of their patterns to each other, and the frame's values of the
// model output variables (see PeaqAnalysis for how they are averaged).
#pragma once

#include <vector>

#include "Fft.h"
#include "PeaqEar.h"

namespace velora::bench {

struct PeaqFrameValues {
    double nmr = 0.0;          // mean over bands of noise over mask (linear)
    double maxNmrDb = 0.0;     // the largest band's, in dB
    bool bandwidthValid = false;
    double bandwidthRef = 0.0;   // in bins of a 2048-point frame at 48 kHz
    double bandwidthTest = 0.0;
    double modDiff1 = 0.0;
    double modDiff2 = 0.0;
    double modWeight = 0.0;
    double noiseLoudness = 0.0;  // sone
    double loudnessRef = 0.0;    // sone
    double loudnessTest = 0.0;
    double ehs = 0.0;            // harmonic structure of the error
    double detection = 0.0;      // probability that the frame's difference is heard
    double jnds = 0.0;           // just-noticeable differences spanned, summed over bands
};

class PeaqChannel {
public:
    bool Init(int sampleRate);
    void Reset();
    const PeaqEar& Ear() const { return ref_; }
    // Noise over mask of each band in the last frame (linear).
    const std::vector<double>& BandNmr() const { return bandNmr_; }
    // One frame of each (kFrameSize samples); `loudEnough` says whether the harmonic
    // structure of the error is judged in this frame.
    void Process(const float* reference, const float* test, bool loudEnough, PeaqFrameValues& out);

private:
    struct Modulation {
        std::vector<double> previous;  // E^0.3 of the last frame
        std::vector<double> mean;
        std::vector<double> change;
        std::vector<double> value;
        void Init(size_t bands);
        void Update(const PeaqEar& ear, const std::vector<double>& unsmeared, const std::vector<double>& smoothing);
    };

    void Adapt();
    double Loudness(const std::vector<double>& excitation) const;
    double NoiseLoudness() const;
    void Bandwidth(PeaqFrameValues& out) const;
    double HarmonicStructure();
    void Detection(PeaqFrameValues& out) const;

    PeaqEar ref_;
    PeaqEar test_;
    std::vector<double> adaptSmoothing_;
    std::vector<double> loudnessIndex_;  // the threshold index s of each band
    std::vector<double> noise_;          // per bin, then per band
    std::vector<double> noiseBands_;
    std::vector<double> bandNmr_;
    // Level and pattern adaptation.
    std::vector<double> levelRef_;
    std::vector<double> levelTest_;
    std::vector<double> corrNum_;
    std::vector<double> corrDen_;
    std::vector<double> ratioRef_;
    std::vector<double> ratioTest_;
    std::vector<double> pattRef_;
    std::vector<double> pattTest_;
    std::vector<double> adaptedRef_;
    std::vector<double> adaptedTest_;
    Modulation modRef_;
    Modulation modTest_;
    // The harmonic structure of the error.
    math::RealFft ehsFft_;
    std::vector<double> logRatio_;
    std::vector<float> ehsIn_;
    std::vector<float> ehsRe_;
    std::vector<float> ehsIm_;
    std::vector<float> ehsWindow_;
};

}  // namespace velora::bench
