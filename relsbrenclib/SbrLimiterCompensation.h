// The decoder's limiter caps each QMF band's gain at a multiple of its limiter band's mean
// gain and then boosts the whole limiter band (by at most 4 dB) to give back what the cap
// took. A band whose source is much weaker than its neighbours' therefore comes out too
// quiet and the neighbours too loud. The compensator models the decoder's gains from the
// patched sources' energies and moves the values of each envelope so that the limited and
// boosted result lands nearer the wanted energies, keeping a change only where the model
// says it helps after quantisation. Measured on music through the whole codec: 2.27 -> 2.09
// dB mean band error, 94.4 -> 95.5 % of segments within 6 dB, for about 8 more bits a
// stereo frame; a tone over noise (uneven sources) 2.37 -> 1.61 dB.
#pragma once

#include "SbrData.h"
#include "SbrEnvelopeEstimator.h"
#include "SbrHfGenerator.h"
#include "SbrNoiseFloorEstimator.h"
#include "SbrQmfRows.h"

namespace velora::sbr {

// The largest power gain, in dB, that the decoder's unlimited gains would apply to a QMF
// band of the frame: an envelope's wanted energy over its patched source's energy. A large
// one means a source far weaker than the band it must rebuild, which the core, coding that
// source coarsely, may make weaker still.
double PeakGainDb(const SbrQmfRows& rows, const SbrFrameInfo& grid, const SbrFreqData& freq,
                  const SbrPatches& patches, const EnvelopeEnergies& energies);

class SbrLimiterCompensator {
public:
    void Reset() { carried_ = false; }
    // `limiterBands` and `limiterGains` are the header's; `ampRes` its amplitude resolution.
    void Compensate(const SbrQmfRows& rows, const SbrFrameInfo& grid, const SbrFreqData& freq,
                    const SbrPatches& patches, const NoiseFloorResult& noise, int limiterBands, int limiterGains,
                    int ampRes, EnvelopeEnergies& energies);

private:
    bool carried_ = false;  // the previous frame ended at a transient
};

}  // namespace velora::sbr
