// How much of the spectrum a frame's quantisation keeps, per slice of 18 long-block lines:
// the width of one band of the SBR decoder's analysis of the core's output. Where the core
// leaves such a slice (nearly) empty, the bands the SBR decoder copies from it come out
// empty too unless the SBR layer fills them with noise; the SBR encoder reads this to know.
#pragma once

#include "Layer3Granule.h"
#include "PsychoacousticModel.h"

namespace velora::enc {

constexpr int kShareSlices = kSubbands;  // 32 slices of 18 lines

struct CodedShare {
    // Per output channel (left, right as a decoder puts them out): energy the decoder
    // rebuilds over the original's energy, per slice; 1 where nothing was measured yet.
    float share[2][kShareSlices];
    CodedShare();
};

// Accumulates one granule. `original` holds the left/right records of the model, `coded`
// the records the quantiser coded (mid/side when `midSide`), `quantised` its result;
// `intensityLine` the first line of the second channel carried by intensity positions
// (kGranuleLines when none), where the second channel keeps what the first one keeps.
// Granules with short blocks in either channel are left out.
class CodedShareMeter {
public:
    void Reset();
    void AddGranule(const QuantiserInput* original, const QuantiserInput* coded, const QuantisedGranule* quantised,
                    int channels, bool midSide, int intensityLine);
    // Writes the shares of the granules added since Reset into `out` (slices without any
    // original energy keep their value).
    void Finish(CodedShare& out) const;

private:
    double original_[2][kShareSlices] = {};
    double coded_[2][kShareSlices] = {};
    int channels_ = 0;
    bool any_ = false;
};

}  // namespace velora::enc
