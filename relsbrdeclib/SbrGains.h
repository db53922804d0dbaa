// Gains of the envelope adjuster for one envelope: from the transmitted energies and noise
// levels and the energy the generated high band already has, per QMF band of the SBR range,
// limited per limiter band.
#pragma once

namespace velora::sbr {

// The limiter gains selected by limiter_gains 0..3; 10^10 leaves the gains unlimited.
constexpr float kLimiterGains[4] = {0.70795f, 1.0f, 1.41254f, 1e10f};
constexpr float kMaxLimitedGain = 100000.0f;

struct GainInput {
    int bands = 0;                   // QMF bands from kx
    const float* energy = nullptr;   // transmitted envelope energy E per band
    const float* noise = nullptr;    // transmitted noise level Q per band
    const float* current = nullptr;  // mean energy of the generated band
    const int* limiterEdges = nullptr;  // relative to kx, limiterBands + 1 edges
    int limiterBands = 0;
    float limiterGain = 1.0f;
    bool withoutNoiseTerm = false;   // the adjuster's second gain mode
};

// Writes `gain` and `noiseAmplitude` for every band.
void ComputeGains(const GainInput& in, float* gain, float* noiseAmplitude);

}  // namespace velora::sbr
