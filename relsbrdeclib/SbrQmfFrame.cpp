#include "SbrQmfFrame.h"

#include <cstring>

#include "SbrTranspose.h"

namespace velora::sbr {
namespace {

}  // namespace

void SbrQmfFrame::Reset() {
    analysis_.Reset();
    synthesis_.Reset();
    std::memset(&low_, 0, sizeof(low_));
    std::memset(&high_, 0, sizeof(high_));
}

void SbrQmfFrame::Analyse(const float* core, int stride) {
    // Bands 32..63 of the low band stay as Reset left them: zero (kx is at most 32, so
    // nothing writes there).
    static_assert(kFrameSubsamples <= kQmfMaxSlots, "a frame is one batch of the banks");
    analysis_.RunSlots(core, stride, kFrameSubsamples, low_.re[kHistoryRows], low_.im[kHistoryRows],
                       kSynthesisBands);
}

void SbrQmfFrame::Synthesise(int kx, int upper, float lowGain, float highGain, float* output,
                             int stride) {
    kx = kx < 0 ? 0 : (kx > kSynthesisBands ? kSynthesisBands : kx);
    upper = upper < kx ? kx : (upper > kSynthesisBands ? kSynthesisBands : upper);
    // Each band range straight into the banks' lanes, scaled on the way. All kQmfLanes
    // rows go, so the tiles come out whole: the lanes after the frame's do not matter, and
    // the matrices have the rows.
    static_assert(kLowBandLag + kQmfLanes <= kMatrixRows, "the low rows the lanes read exist");
    Transpose(low_.re[kLowBandLag], kSynthesisBands, synthesisRe_[0], kQmfLanes, kQmfLanes, kx, lowGain,
              kSynthesisBands);
    Transpose(low_.im[kLowBandLag], kSynthesisBands, synthesisIm_[0], kQmfLanes, kQmfLanes, kx, lowGain,
              kSynthesisBands);
    Transpose(high_.re[0] + kx, kSynthesisBands, synthesisRe_[kx], kQmfLanes, kQmfLanes, upper - kx, highGain,
              kSynthesisBands - kx);
    Transpose(high_.im[0] + kx, kSynthesisBands, synthesisIm_[kx], kQmfLanes, kQmfLanes, upper - kx, highGain,
              kSynthesisBands - kx);
    for (int k = upper; k < kSynthesisBands; ++k) {
        ClearFloats(synthesisRe_[k], kQmfLanes);
        ClearFloats(synthesisIm_[k], kQmfLanes);
    }
    synthesis_.RunSlots(synthesisRe_, synthesisIm_, kFrameSubsamples, output, stride);
}

void SbrQmfFrame::MoveRows(int highRowsUsed) {
    // Only the low band's history rows carry over: the next Analyse writes rows 8..25 and
    // nothing writes the low rows after them.
    constexpr int kHistory = kHistoryRows * kSynthesisBands;
    CopyFloats(low_.re[0], low_.re[kFrameSubsamples], kHistory);
    CopyFloats(low_.im[0], low_.im[kFrameSubsamples], kHistory);
    // Rows 18 .. used - 1 move down and are cleared; the rows they leave empty below 18 are
    // cleared; rows from `used` on are zero already and stay so.
    const int used = highRowsUsed < kFrameSubsamples ? kFrameSubsamples
                     : (highRowsUsed > kMatrixRows ? kMatrixRows : highRowsUsed);
    const int moved = (used - kFrameSubsamples) * kSynthesisBands;
    const int cleared = (kMatrixRows - used) * kSynthesisBands;
    // Rows are addressed by row, not by an offset into row 0, which would index past it.
    CopyFloats(high_.re[0], high_.re[kFrameSubsamples], moved);
    CopyFloats(high_.im[0], high_.im[kFrameSubsamples], moved);
    ClearFloats(high_.re[used - kFrameSubsamples], cleared);
    ClearFloats(high_.im[used - kFrameSubsamples], cleared);
    ClearFloats(high_.re[kFrameSubsamples], moved);
    ClearFloats(high_.im[kFrameSubsamples], moved);
}

}  // namespace velora::sbr
