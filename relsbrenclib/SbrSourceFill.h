// Noise for the bands whose sources the core left empty. The decoder rebuilds a band from
// the core's output through the patches; where the core coded a source band to (nearly)
// nothing, the band's tonal part has nothing to scale and only its noise share arrives, far
// too quiet. At 64 kbit/s the core drops the top of its band in every quiet passage, so
// the core tells what it kept of each source band in its last frame (such passages last),
// and a noise band in which empty sources feed a noticeable share of the wanted energy gets
// a noise floor that delivers that energy as noise. Six excerpts of music through the
// whole codec at 64 kbit/s: 2.51 -> 1.98 dB mean band error, 91.5 -> 96.1 % within 6 dB.
#pragma once

#include "SbrData.h"
#include "SbrHfGenerator.h"
#include "SbrNoiseFloorEstimator.h"
#include "SbrQmfRows.h"

namespace velora::sbr {

// `share` per low-band QMF band: decoded over original energy (1: intact). `rows` are the
// frame's rows (0 .. 2 * kFrameSlots - 1 hold its high band).
void FillMissingSources(const SbrQmfRows& rows, const SbrFreqData& freq, const SbrPatches& patches,
                        const float* share, NoiseFloorResult& noise);

}  // namespace velora::sbr
