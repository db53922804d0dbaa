// The encoder's 64-band complex QMF analysis of the full-rate signal: the counterpart of the
// decoder's 64-band synthesis, so that its sub-sample energies are those the decoder's
// payload energies refer to (core signal at +-32768, before the synthesis scaling).
#pragma once

#include "Fft.h"

namespace velora::sbr {

constexpr int kEncoderQmfBands = 64;

class SbrQmfAnalysis64 {
public:
    // Builds the tables and the FFT; false when memory is short. The only allocation.
    bool Init();
    void Reset();
    // 64 new samples, oldest first, in; one complex sub-sample of 64 bands out.
    void Run(const float* input, float real[kEncoderQmfBands], float imag[kEncoderQmfBands]);

private:
    // Ten blocks of 64 samples used as a ring, newest block at newest_, each block newest
    // sample first, so nothing moves per sub-sample.
    float history_[640] = {};
    int newest_ = 0;
    math::ComplexFft fft_;
    float preRe_[32] = {}, preIm_[32] = {};    // exp(-i pi (n + 0.25) / 64)
    float midRe_[32] = {}, midIm_[32] = {};    // exp(-i pi p / 64)
    float postRe_[64] = {}, postIm_[64] = {};  // the modulation's phase offset per band
};

}  // namespace velora::sbr
