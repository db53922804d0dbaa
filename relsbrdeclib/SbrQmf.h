// The complex QMF banks of the enhancement layer: a 32-band analysis bank on the core
// signal and a 64-band synthesis bank at twice the core rate, both from the 640-tap
// prototype. Analysis followed by synthesis with an empty high band reproduces the core
// signal at the doubled rate, delayed by a constant number of samples.
#pragma once

namespace velora::sbr {

constexpr int kAnalysisBands = 32;
constexpr int kSynthesisBands = 64;

// The prototype c[0..639] in standard order.
extern const float kQmfPrototype[640];

class QmfAnalysis {
public:
    void Reset();
    // 32 new core samples (read with `stride`) in, 32 complex subband samples out.
    void Run(const float* input, int stride, float real[kAnalysisBands],
             float imag[kAnalysisBands]);

private:
    // Ten blocks of 32 samples used as a ring, so nothing moves per sub-sample; newest_
    // is where the newest block starts (it holds that block newest sample first).
    float history_[320] = {};
    int newest_ = 0;
};

class QmfSynthesis {
public:
    void Reset();
    // 64 complex subband samples in, 64 output samples out (written with `stride`).
    void Run(const float real[kSynthesisBands], const float imag[kSynthesisBands], float* output,
             int stride);

private:
    // Ten blocks of 128 values used as a ring; newest_ is where the newest block starts.
    float v_[1280] = {};
    int newest_ = 0;
};

}  // namespace velora::sbr
