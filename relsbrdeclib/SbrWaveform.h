// Waveform components: sub-sample values coded directly in the payload for a few QMF bands
// (tonal components the patching cannot rebuild), faded in over the previous content.
#pragma once

#include "SbrData.h"

namespace velora::sbr {

struct QmfMatrix;

// Applies the components of `data` to the frame's rows: bands below `kx` in the low band
// (low row k + 2 for sub-sample k), the others in the high band (row k). The fade starts
// from full strength when the previous frame carried components. Returns true when this
// frame carried components.
bool ApplyWaveforms(const SbrChannelData& data, int kx, bool previousCarried, QmfMatrix& low,
                    QmfMatrix& high);

// The fixed complex weight of band g (its real and imaginary part).
void WaveformWeight(int band, float* re, float* im);

}  // namespace velora::sbr
