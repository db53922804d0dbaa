// One channel's pass of a frame through the QMF domain: the 576 core samples are analysed
// into the low-band matrix, the synthesis takes the low band (below kx) two rows later
// and the high band (kx up to the upper edge) from the high-band matrix, and both
// matrices move on by a frame. High-band generation fills the high-band matrix between
// Analyse and Synthesise.
#pragma once

#include "SbrData.h"
#include "SbrQmf.h"

namespace velora::sbr {

constexpr int kMatrixRows = 36;
constexpr int kHistoryRows = 8;   // low-band rows kept from the previous frame
constexpr int kLowBandLag = 2;    // low-band row of output sub-sample i: i + 2
constexpr int kCoreFrameSamples = kFrameSubsamples * kAnalysisBands;    // 576
constexpr int kOutputFrameSamples = kFrameSubsamples * kSynthesisBands; // 1152

struct QmfMatrix {
    float re[kMatrixRows][kSynthesisBands];
    float im[kMatrixRows][kSynthesisBands];
};

class SbrQmfFrame {
public:
    void Reset();
    // Analyses 576 core samples read with `stride` into bands 0..31 of low-band rows 8..25
    // (bands 32..63 stay zero: nothing writes them).
    void Analyse(const float* core, int stride);
    // Writes 1152 samples with `stride`: bands below `kx` from the low band scaled by
    // `lowGain`, bands kx..upper-1 from the high band scaled by `highGain`.
    void Synthesise(int kx, int upper, float lowGain, float highGain, float* output, int stride);
    // High-band rows 18..35 become rows 0..17 and 18..35 are cleared; low-band rows 18..25
    // become the history rows 0..7 (the low rows from 26 on are never written, and the next
    // Analyse fills rows 8..25). A caller that knows the high-band rows from
    // `highRowsUsed` on are still zero (nothing wrote them since the last move) saves
    // moving them.
    void MoveRows(int highRowsUsed = kMatrixRows);

    QmfMatrix& Low() { return low_; }
    QmfMatrix& High() { return high_; }

private:
    QmfAnalysis analysis_;
    QmfSynthesis synthesis_;
    QmfMatrix low_{};
    QmfMatrix high_{};
    // The synthesis input of a frame, band k of sub-sample i at [k][i].
    alignas(32) float synthesisRe_[kSynthesisBands][kQmfLanes] = {};
    alignas(32) float synthesisIm_[kSynthesisBands][kQmfLanes] = {};
};

}  // namespace velora::sbr
