// The complex QMF banks of the enhancement layer: a 32-band analysis bank on the core
// signal and a 64-band synthesis bank at twice the core rate, both from the 640-tap
// prototype. Analysis followed by synthesis with an empty high band reproduces the core
// signal at the doubled rate, delayed by a constant number of samples.
#pragma once

namespace velora::sbr {

constexpr int kAnalysisBands = 32;
constexpr int kSynthesisBands = 64;
// Sub-samples transformed together, one per vector lane: a frame's 18 and room to keep the
// vectors whole.
constexpr int kQmfLanes = 20;
constexpr int kQmfMaxSlots = 18;

// The prototype c[0..639] in standard order.
extern const float kQmfPrototype[640];

class QmfAnalysis {
public:
    void Reset();
    // 32 new core samples (read with `stride`) in, 32 complex subband samples out.
    void Run(const float* input, int stride, float real[kAnalysisBands],
             float imag[kAnalysisBands]);
    // `count` (1..18) sub-samples at once: 32 x count core samples in; sub-sample s goes to
    // real/imag + s x rowStride (32 bands).
    void RunSlots(const float* input, int stride, int count, float* real, float* imag,
                  int rowStride);

private:
    // Sample i of block b (oldest first) at blocks_[i][b], one column per sub-sample: the
    // nine columns before the new ones hold the history the window reaches back to.
    alignas(32) float blocks_[32][32] = {};
};

class QmfSynthesis {
public:
    void Reset();
    // 64 complex subband samples in, 64 output samples out (written with `stride`).
    void Run(const float real[kSynthesisBands], const float imag[kSynthesisBands], float* output,
             int stride);
    // `count` (1..18) sub-samples at once, band k of sub-sample s at real[k][s] (lanes from
    // `count` on are read but do not matter); 64 x count output samples.
    void RunSlots(const float (*real)[kQmfLanes], const float (*imag)[kQmfLanes], int count,
                  float* output, int stride);

private:
    // Value n of block b (oldest first) at v_[n][b], one column per sub-sample: the nine
    // columns before the new ones hold the history the window reaches back to.
    alignas(32) float v_[128][32] = {};
};

}  // namespace velora::sbr
