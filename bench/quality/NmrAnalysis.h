// The noise-to-mask ratio of a decoded signal against its original, frame by frame with
// NmrModel, and its summary figures.
#pragma once

#include <cstddef>
#include <vector>

#include "NmrModel.h"
#include "Signal.h"

namespace velora::bench {

// A frame's band-averaged NMR when its error is exactly zero.
constexpr double kNmrFloorDb = -100.0;

struct NmrFrame {
    double startSeconds = 0.0;  // in the original
    double meanDb = 0.0;        // the band- and channel-averaged NMR (linear mean, in dB)
    double maxDb = 0.0;         // the largest band NMR of any channel
    int maxBand = 0;
    int maxChannel = 0;
};

struct NmrResult {
    int frames = 0;   // analysed
    int skipped = 0;  // neither the original nor the error above the threshold in quiet
    double meanDb = 0.0;          // mean over frames of NmrFrame::meanDb
    double meanMaxDb = 0.0;       // mean over frames of NmrFrame::maxDb (floored)
    double audibleShare = 0.0;    // frames with a band NMR above 0 dB
    double loudShare = 0.0;       // frames with a band NMR above 6 dB
    std::vector<double> bandMean;     // per band: mean linear NMR over frames and channels
    std::vector<double> bandAudible;  // per band: share of frames and channels above 0 dB
    std::vector<NmrFrame> frameList;
};

// `decoded` must be aligned with `original` (same sample indices) and have its channel
// count; frames of NmrModel::kFrameSize every NmrModel::kHop samples within [begin, end).
// `bands` above 0 judges only the lowest that many bands (the mask still comes from all).
NmrResult AnalyseNmr(const Signal& original, const Signal& decoded, size_t begin, size_t end, NmrModel& model,
                     int bands = 0);

}  // namespace velora::bench
