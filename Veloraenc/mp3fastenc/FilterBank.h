// The analysis side of one channel of the Layer III encoder: polyphase filter bank, attack
// detector and MDCT with its 50 % overlap. Each granule takes two calls so that the block
// types of two channels can be agreed on between them:
//   type = analyser.Analyse(samples);           // per channel
//   common = SynchroniseBlockTypes(type0, type1);  // two coded channels
//   analyser.Transform(common, spectrum);          // per channel
//
// Timing: the spectrum made after Analyse of granule g holds the MDCT blocks over the subband
// samples of granules g-1 and g (slots 0..35, granule g from slot 18). The polyphase filter
// puts an input sample about 7 slots after its own: granule g's samples land in slots 25..43,
// inside the short windows (slots 24..47) of the next spectrum. The detector looks at
// granule g's own samples and answers with a start block, so that next spectrum is the
// short one. No look-ahead beyond the granule is needed.
//
// Scale: the spectrum is on the scale of the input (the decoder's inverse stages return the
// input at unity gain); the attack detector's threshold assumes samples on the +-32768 scale.
#pragma once

#include <cstdint>

#include "AttackDetector.h"
#include "Layer3Granule.h"
#include "PolyphaseAnalysis.h"

namespace velora::enc {

// Input sample n (counted from the first sample analysed after Reset) is sample
// n + kFilterBankDelay of what the decoder's IMDCT, overlap-add and polyphase synthesis
// produce from the spectra (counted from the first spectrum): one granule for the MDCT
// overlap plus the polyphase pair's delay.
constexpr int kFilterBankDelay = kGranuleLines + kPolyphaseDelay;

class GranuleAnalyser {
public:
    void Reset();
    // Runs the polyphase analysis and the attack detector over the granule's 576 new
    // samples; returns the detector's block type for the granule.
    int32_t Analyse(const float samples[kGranuleLines]);
    // The spectrum of the granule last analysed with the block type to code (the detector's,
    // or the one agreed with the other channel).
    void Transform(int32_t blockType, GranuleSpectrum& out) const;

    const AttackDetector& Detector() const { return detector_; }

private:
    PolyphaseAnalysis polyphase_;
    AttackDetector detector_;
    // Subband samples of the last two granules, [granule][subband][slot], with the
    // frequency inversion of the odd subbands applied; `current_` is the newer.
    float subbands_[2][kSubbands][kSubbandSamples] = {};
    int current_ = 0;
};

}  // namespace velora::enc
