// Intensity stereo for long blocks: above a start band both channels are rebuilt from one
// carrier signal, coded in the first channel, and a position per band, carried in the
// second channel's scale factors. Worth it where the ear follows only the channels' level
// difference: high bands whose channels are strongly correlated, or inaudible.
#pragma once

#include <cstdint>

#include "PsychoacousticModel.h"

namespace velora::enc {

// Positions 0..6 only: 7 is the illegal position of MPEG-1 and of some MPEG-2 decoders.
constexpr int kMaxIntensityPosition = 6;

struct IntensityPlan {
    int32_t band = kMaxQuantiserBands;  // first intensity band; none when >= the bands
    int32_t position[kMaxPartitions] = {};
    float left[kMaxPartitions] = {};    // the decoder's gains of the carrier per band
    float right[kMaxPartitions] = {};
};

// The decoder's left and right gains of a position (MPEG-1: tangent law; MPEG-2/2.5 with
// intensity_scale 1: steps of 2^(-1/2)).
void IntensityGains(int position, bool mpeg1, float& left, float& right);

// The lowest band at or above `firstBand` from which every band up to the used range can
// be intensity coded; `left.bands` when there is none. Long blocks of both channels only.
int ChooseIntensityBand(const QuantiserInput& left, const QuantiserInput& right, int firstBand);

// Positions from the channels' band energies.
void PlanIntensity(const QuantiserInput& left, const QuantiserInput& right, int band, bool mpeg1,
                   IntensityPlan& plan);

// Rewrites the two records the quantiser codes (`first` holds mid or left, `second` side
// or right): from the plan's band on, `first` carries the least-squares carrier of the
// original channels with a threshold that keeps its noise masked in both, and `second` is
// zero with the positions. The last band (no scale factor, decoders disagree on its
// position) is left empty.
void ApplyIntensity(const QuantiserInput& left, const QuantiserInput& right, const IntensityPlan& plan,
                    QuantiserInput& first, QuantiserInput& second);

}  // namespace velora::enc
