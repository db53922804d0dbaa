// Envelope energies of one frame: per grid envelope and SBR band, the mean energy of the
// band's QMF sub-samples over the envelope's rows, which is what the decoder's adjuster
// restores in every QMF band of the SBR band.
#pragma once

#include "SbrData.h"
#include "SbrQmfRows.h"

namespace velora::sbr {

struct EnvelopeEnergies {
    float energy[kMaxEnvelopes][kMaxMasterBands] = {};
};

void EstimateEnvelopes(const SbrQmfRows& rows, const SbrFrameInfo& grid, const SbrFreqData& freq,
                       EnvelopeEnergies& out);

}  // namespace velora::sbr
