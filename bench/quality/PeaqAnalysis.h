// A PEAQ-style grade of a decoded signal against its original: PeaqChannel frame by frame
// on each channel, its values averaged into the model output variables of the basic
// version, and those mapped to an objective difference grade by PeaqNetwork.
#pragma once

#include <cstddef>
#include <vector>

#include "PeaqNetwork.h"
#include "Signal.h"

namespace velora::bench {

struct PeaqResult {
    bool ok = false;  // false: a rate the model cannot take, or nothing to judge
    int frames = 0;   // judged, per channel
    PeaqMovs movs;
    PeaqGrade grade;
    // Per band of the ear model, over frames and channels: where the noise lies. The mean
    // noise over mask (dB of the linear mean) and the share of frames in which the band is
    // disturbed (more than 1.5 dB over its mask, the test behind RelDistFrames).
    std::vector<double> bandCentreHz;
    std::vector<double> bandNmrDb;
    std::vector<double> bandDisturbed;
};

// `test` must be aligned with `reference` (same sample indices, same channel count); frames
// of PeaqEar::kFrameSize every PeaqEar::kHop samples within [begin, end), less the digital
// silence at either end.
PeaqResult AnalysePeaq(const Signal& reference, const Signal& test, size_t begin, size_t end);

}  // namespace velora::bench
