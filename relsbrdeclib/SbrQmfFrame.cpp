#include "SbrQmfFrame.h"

#include <cstring>

namespace velora::sbr {
namespace {

void MoveMatrixRows(QmfMatrix& m) {
    constexpr size_t kHalf = sizeof(float) * kFrameSubsamples * kSynthesisBands;
    std::memmove(m.re[0], m.re[kFrameSubsamples], kHalf);
    std::memmove(m.im[0], m.im[kFrameSubsamples], kHalf);
    std::memset(m.re[kFrameSubsamples], 0, kHalf);
    std::memset(m.im[kFrameSubsamples], 0, kHalf);
}

}  // namespace

void SbrQmfFrame::Reset() {
    analysis_.Reset();
    synthesis_.Reset();
    std::memset(&low_, 0, sizeof(low_));
    std::memset(&high_, 0, sizeof(high_));
}

void SbrQmfFrame::Analyse(const float* core, int stride) {
    for (int slot = 0; slot < kFrameSubsamples; ++slot) {
        float* re = low_.re[kHistoryRows + slot];
        float* im = low_.im[kHistoryRows + slot];
        analysis_.Run(core + slot * kAnalysisBands * stride, stride, re, im);
        for (int k = kAnalysisBands; k < kSynthesisBands; ++k) re[k] = im[k] = 0.0f;
    }
}

void SbrQmfFrame::Synthesise(int kx, int upper, float lowGain, float highGain, float* output,
                             int stride) {
    kx = kx < 0 ? 0 : (kx > kSynthesisBands ? kSynthesisBands : kx);
    upper = upper < kx ? kx : (upper > kSynthesisBands ? kSynthesisBands : upper);
    float re[kSynthesisBands];
    float im[kSynthesisBands];
    for (int i = 0; i < kFrameSubsamples; ++i) {
        const float* lowRe = low_.re[i + kLowBandLag];
        const float* lowIm = low_.im[i + kLowBandLag];
        for (int k = 0; k < kx; ++k) {
            re[k] = lowRe[k] * lowGain;
            im[k] = lowIm[k] * lowGain;
        }
        for (int k = kx; k < kSynthesisBands; ++k) re[k] = im[k] = 0.0f;
        for (int k = kx; k < upper; ++k) {
            re[k] = high_.re[i][k] * highGain;
            im[k] = high_.im[i][k] * highGain;
        }
        synthesis_.Run(re, im, output + i * kSynthesisBands * stride, stride);
    }
}

void SbrQmfFrame::MoveRows() {
    MoveMatrixRows(low_);
    MoveMatrixRows(high_);
}

}  // namespace velora::sbr
