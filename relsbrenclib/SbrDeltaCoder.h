// Delta coding of one channel's quantised values: per envelope (and noise envelope) over
// frequency or over time, whichever costs fewer bits with the payload's codebooks, against
// references kept exactly as the decoder keeps them (the last envelope at high resolution,
// the last noise envelope). Deltas outside a codebook are limited, and the limited values
// are what the references and the decoder get.
#pragma once

#include "SbrData.h"
#include "SbrPayloadWriter.h"
#include "SbrQuantiser.h"

namespace velora::sbr {

struct DeltaReference {
    int32_t envelope[kMaxMasterBands] = {};
    int32_t noise[kMaxNoiseBands] = {};
};

struct DeltaOptions {
    int ampRes = 1;
    bool firstOverFrequency = false;  // no valid reference (first frame, header reset)
};

// Codes `values` into `out` (grid, directions, envelope and noise deltas; other fields are
// left alone), updates `reference` and returns the bits of the envelope and noise data.
// `values` is updated to the values the decoder will decode.
int DeltaCode(const SbrPayloadWriter& writer, const SbrFreqData& freq, const DeltaOptions& options,
              QuantisedChannel& values, DeltaReference& reference, SbrChannelData& out);

// The high-resolution bands [first, end) that low-resolution band k covers, as the decoder
// maps them.
void CoveredHighBands(const SbrFreqData& freq, int k, int& first, int& end);

}  // namespace velora::sbr
