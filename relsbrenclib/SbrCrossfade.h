// The decoder fades from one envelope's gains to the next over the first rows of each
// envelope, so an envelope sent as measured comes out partly at its predecessor's level:
// too loud after a louder one (decays), too quiet after a quieter one. The compensator
// models that fade per SBR band, with the generated band's energy taken from the low-band
// sources the patches copy, and moves each value part of the way towards the one whose
// faded result has the measured mean. It also caps a value whose gain, fading out over the
// next envelope's first rows, would burst where the sources grow loud there.
#pragma once

#include "SbrData.h"
#include "SbrEnvelopeEstimator.h"
#include "SbrHfGenerator.h"
#include "SbrNoiseFloorEstimator.h"
#include "SbrQmfRows.h"

namespace velora::sbr {

class SbrCrossfadeCompensator {
public:
    void Reset() {
        fresh_ = true;
        carried_ = false;
    }
    // Rewrites `energies` of `grid` in place; `ampRes` is the header's, whose quantisation
    // the decoder's gains carry into the next envelope.
    void Compensate(const SbrQmfRows& rows, const SbrFrameInfo& grid, const SbrFreqData& freq,
                    const SbrPatches& patches, const NoiseFloorResult& noise, int ampRes, EnvelopeEnergies& energies);

private:
    bool fresh_ = true;
    bool carried_ = false;  // the previous frame ended at a transient
    float gain_[kMaxMasterBands] = {};   // the decoder's last gain per SBR band (tonal part)
    float noise_[kMaxMasterBands] = {};  // and its noise amplitude
};

}  // namespace velora::sbr
