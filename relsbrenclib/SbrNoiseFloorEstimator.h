// Inverse filtering and noise floor of one frame, from the tonality of the original high
// band and of the low-band sources the decoder's patches will copy into it.
//
// Per noise band: the original's tonal share t_o and the patched sources' share t_s. The
// inverse-filtering mode is picked by how much more tonal the sources are (in dB of
// tonal-to-noise ratio); the chirp of that mode weakens the sources' tonal part by about
// (1 - chirp)^2, giving the generated share t_g; the noise floor Q then brings the mix to
// the original's share: the decoder keeps 1 / (1 + Q) of the generated band, so
// t_g / (1 + Q) = t_o.
#pragma once

#include "SbrData.h"
#include "SbrHfGenerator.h"
#include "SbrTonality.h"

namespace velora::sbr {

struct NoiseFloorResult {
    int invfMode = 0;
    float noise[kMaxNoiseBands] = {};  // Q per noise band (noise-to-tonal ratio)
};

void EstimateNoiseFloor(const BandTonality& tonality, const SbrFreqData& freq, const SbrPatches& patches,
                        int previousInvfMode, NoiseFloorResult& out);

// Largest and smallest noise floor a payload value can give: 2^(6 - v), v = 0..30.
constexpr float kMaxNoiseFloor = 64.0f;
constexpr float kMinNoiseFloor = 1.0f / 16777216.0f;

}  // namespace velora::sbr
