#include "SbrQmfFrame.h"

#include <cstring>

#include "SbrTranspose.h"

namespace velora::sbr {
namespace {

constexpr int kHalf = kFrameSubsamples * kSynthesisBands;

void MoveMatrixRows(QmfMatrix& m) {
    CopyFloats(m.re[0], m.re[kFrameSubsamples], kHalf);
    CopyFloats(m.im[0], m.im[kFrameSubsamples], kHalf);
    ClearFloats(m.re[kFrameSubsamples], kHalf);
    ClearFloats(m.im[kFrameSubsamples], kHalf);
}

}  // namespace

void SbrQmfFrame::Reset() {
    analysis_.Reset();
    synthesis_.Reset();
    std::memset(&low_, 0, sizeof(low_));
    std::memset(&high_, 0, sizeof(high_));
}

void SbrQmfFrame::Analyse(const float* core, int stride) {
    static_assert(kFrameSubsamples <= kQmfMaxSlots, "a frame is one batch of the banks");
    analysis_.RunSlots(core, stride, kFrameSubsamples, low_.re[kHistoryRows], low_.im[kHistoryRows],
                       kSynthesisBands);
}

void SbrQmfFrame::Synthesise(int kx, int upper, float lowGain, float highGain, float* output,
                             int stride) {
    kx = kx < 0 ? 0 : (kx > kSynthesisBands ? kSynthesisBands : kx);
    upper = upper < kx ? kx : (upper > kSynthesisBands ? kSynthesisBands : upper);
    // Each sub-sample's row put together, then turned into the banks' lanes.
    alignas(16) float rowsRe[kFrameSubsamples][kSynthesisBands];
    alignas(16) float rowsIm[kFrameSubsamples][kSynthesisBands];
    for (int i = 0; i < kFrameSubsamples; ++i) {
        const float* lowRe = low_.re[i + kLowBandLag];
        const float* lowIm = low_.im[i + kLowBandLag];
        float* re = rowsRe[i];
        float* im = rowsIm[i];
        for (int k = 0; k < kx; ++k) {
            re[k] = lowRe[k] * lowGain;
            im[k] = lowIm[k] * lowGain;
        }
        for (int k = kx; k < upper; ++k) {
            re[k] = high_.re[i][k] * highGain;
            im[k] = high_.im[i][k] * highGain;
        }
        for (int k = upper; k < kSynthesisBands; ++k) re[k] = im[k] = 0.0f;
    }
    Transpose(rowsRe[0], kSynthesisBands, synthesisRe_[0], kQmfLanes, kFrameSubsamples, kSynthesisBands);
    Transpose(rowsIm[0], kSynthesisBands, synthesisIm_[0], kQmfLanes, kFrameSubsamples, kSynthesisBands);
    synthesis_.RunSlots(synthesisRe_, synthesisIm_, kFrameSubsamples, output, stride);
}

void SbrQmfFrame::MoveRows() {
    // Only the low band's history rows carry over: the next Analyse writes rows 8..25 and
    // nothing writes the low rows after them.
    constexpr int kHistory = kHistoryRows * kSynthesisBands;
    CopyFloats(low_.re[0], low_.re[kFrameSubsamples], kHistory);
    CopyFloats(low_.im[0], low_.im[kFrameSubsamples], kHistory);
    MoveMatrixRows(high_);
}

}  // namespace velora::sbr
