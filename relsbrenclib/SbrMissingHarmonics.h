// Missing harmonics: a strong, steady sinusoid in the original high band whose QMF band the
// patches fill from a source without one. The decoder cannot rebuild it from the low band,
// so the frame carries the band's sub-samples as a waveform component instead.
#pragma once

#include "SbrData.h"
#include "SbrHfGenerator.h"
#include "SbrQmfRows.h"
#include "SbrTonality.h"

namespace velora::sbr {

// The QMF band of the strongest missing harmonic, or -1.
int DetectMissingHarmonic(const BandTonality& tonality, const SbrFreqData& freq, const SbrPatches& patches);

// Codes band `band` over the frame's sub-samples 0..17 (rows of `rows`) as one waveform
// group: the sub-samples projected on the decoder's weight of the band, scaled by sqrt(2)
// so the band keeps its energy, 5-bit values and the smallest scale that holds them.
void CodeWaveform(const SbrQmfRows& rows, int band, SbrChannelData& out);

}  // namespace velora::sbr
