// How closely a decoded signal's band energies follow the original's over time: the measure
// for a rebuilt high band, whose waveform differs from the original by design (so a noise
// measure cannot judge it) while its energy envelope should match.
#pragma once

#include <cstddef>
#include <vector>

#include "Signal.h"

namespace velora::bench {

struct EnvelopeResult {
    int segments = 0;          // band segments compared, over bands and channels
    double meanAbsDb = 0.0;    // mean |decoded - original| in dB
    double meanDb = 0.0;       // mean signed difference
    double within6Share = 0.0; // share of band segments within 6 dB
};

// Bands between consecutive `edgesHz`; 1024-sample Hann segments without overlap over
// [begin, end) of both (aligned) signals. A segment of a band is left out when the
// original's power there lies more than `floorDb` below that band's loudest segment, or
// below -100 dB of full scale.
EnvelopeResult CompareEnvelope(const Signal& original, const Signal& decoded, size_t begin, size_t end,
                               const std::vector<double>& edgesHz, double floorDb = 50.0);

}  // namespace velora::bench
