// Tonality of each QMF band: the share of its energy that a second-order linear predictor
// (covariance method, the one the decoder's inverse filtering uses) can predict. Near 1 for
// a sinusoid, near 0 for noise.
#pragma once

#include "SbrQmfRows.h"

namespace velora::sbr {

struct BandTonality {
    float energy[kEncoderQmfBands] = {};      // mean sub-sample energy over the window
    float predictable[kEncoderQmfBands] = {};  // 0..1
};

// Over rows [first, end) of the frame (two rows before `first` serve as history), for
// bands [lowBand, highBand).
void EstimateTonality(const SbrQmfRows& rows, int first, int end, int lowBand, int highBand,
                      BandTonality& out);

}  // namespace velora::sbr
