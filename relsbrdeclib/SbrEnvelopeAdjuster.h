// The envelope adjuster: scales the generated high band so that each envelope and band gets
// the transmitted energy, adds the transmitted share of noise, and keeps gains from jumping
// (limiter, boost compensation, smoothing over envelopes, cross-fade between envelopes).
#pragma once

#include <cstdint>

#include "SbrData.h"

namespace velora::sbr {

struct QmfMatrix;

constexpr int kCrossfadeSubsamples = 6;
constexpr int kMaxSmoothingLength = 5;
// The limiter's compensation may raise a limiter band by at most 4 dB.
constexpr float kMaxBoost = 1.584893f;

// Per channel, from frame to frame.
struct AdjusterState {
    float gain[kQmfBands];        // gain applied at the last sub-sample
    float noise[kQmfBands];       // noise amplitude applied at the last sub-sample
    float gainHistory[kMaxSmoothingLength][kQmfBands];   // newest first
    float noiseHistory[kMaxSmoothingLength][kQmfBands];
    int32_t historyCount;
    int32_t noiseIndex;           // position in the noise table
    int32_t previousEnvelopes;    // envelopes of the previous frame
    int32_t previousPointer;      // its transient envelope (0 none)
};

void ResetAdjuster(AdjusterState& state);

struct AdjusterSettings {
    float limiterGainOverride = 1000.0f;  // 1000: the header's limiter_gains
    int32_t smoothingFilter = 4;          // 0..4
};

// Adjusts the high band of rows [2 x first border, 2 x last border) of `high` by the
// decoded envelopes of one channel. Bands kx .. upper - 1 are touched.
void AdjustEnvelopes(const SbrEnvelopeData& env, const SbrFreqData& freq, const SbrHeader& header,
                     const AdjusterSettings& settings, AdjusterState& state, QmfMatrix& high);

// The smoothing filter of index 0..4 (coefficients oldest first) and its length.
const float* SmoothingFilter(int index, int* length);

}  // namespace velora::sbr
