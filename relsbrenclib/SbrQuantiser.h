// Quantisation of envelope energies and noise floors to payload values, as the decoder
// dequantises them: energy 64 x 2^(v / (2 - amp_res)), noise floor 2^(6 - v); for a coupled
// pair a level (the mean of both channels) and a balance (their ratio, stored doubled with
// its neutral value in the middle).
#pragma once

#include "SbrData.h"

namespace velora::sbr {

constexpr int kMaxNoiseValue = 30;

// The values of one channel and frame, absolute (balance values doubled as the parser
// leaves them), per envelope and band of its resolution.
struct QuantisedChannel {
    SbrFrameInfo grid;
    int32_t envelope[kMaxEnvelopes][kMaxMasterBands] = {};
    int32_t noise[kMaxNoiseEnvelopes][kMaxNoiseBands] = {};
    bool balance = false;
};

int QuantiseEnergy(float energy, int ampRes);
int QuantiseNoise(float noiseFloor);

// Level and balance values of a coupled pair from the two channels' energies.
void QuantiseCoupledEnergy(float left, float right, int ampRes, int& level, int& balance);
// Level and balance values of a coupled pair's noise floors.
void QuantiseCoupledNoise(float left, float right, int& level, int& balance);

// Largest balance symbol (the stored value is twice the symbol); the neutral balance is
// half of it.
constexpr int MaxBalanceSymbol(int ampRes) { return ampRes != 0 ? 12 : 24; }
constexpr int kMaxNoiseBalanceSymbol = 12;

}  // namespace velora::sbr
