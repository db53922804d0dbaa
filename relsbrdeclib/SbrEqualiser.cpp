#include "SbrEqualiser.h"

#include "SbrQmfFrame.h"

namespace velora::sbr {

void ApplyEqualiser(int count, const int* edges, const float* gains, QmfMatrix& low) {
    if (count <= 0 || edges == nullptr || gains == nullptr) return;
    // Flat settings (the usual case) would multiply every value by one.
    bool flat = true;
    for (int j = 0; j < count; ++j) flat = flat && gains[j] == 1.0f;
    if (flat) return;
    float bandGain[kSynthesisBands];
    int k = 0;
    for (int j = 0; j < count && k < kSynthesisBands; ++j) {
        const int end = j == count - 1 ? kSynthesisBands : (edges[j] > kSynthesisBands ? kSynthesisBands : edges[j]);
        for (; k < end; ++k) bandGain[k] = gains[j];
    }
    for (; k < kSynthesisBands; ++k) bandGain[k] = gains[count - 1];
    for (int row = kLowBandLag; row < kLowBandLag + kFrameSubsamples; ++row) {
        for (int b = 0; b < kSynthesisBands; ++b) {
            low.re[row][b] *= bandGain[b];
            low.im[row][b] *= bandGain[b];
        }
    }
}

}  // namespace velora::sbr
