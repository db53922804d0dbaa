// The SBR random noise table: 512 complex values added, scaled, to the adjusted high band.
// Generated at build time from tables/sbr_noise_table.txt.
#pragma once

namespace velora::sbr {

constexpr int kNoiseTableSize = 512;
extern const float kNoiseTableReal[kNoiseTableSize];
extern const float kNoiseTableImag[kNoiseTableSize];

}  // namespace velora::sbr
