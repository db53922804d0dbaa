#include "FilterBank.h"

#include <cstring>

#include "Mdct.h"

namespace velora::enc {

void GranuleAnalyser::Reset() {
    polyphase_.Reset();
    detector_.Reset();
    std::memset(subbands_, 0, sizeof subbands_);
    current_ = 0;
}

int32_t GranuleAnalyser::Analyse(const float samples[kGranuleLines]) {
    current_ ^= 1;
    float (*granule)[kSubbandSamples] = subbands_[current_];
    float slot[kSubbands];
    for (int t = 0; t < kSubbandSamples; ++t) {
        polyphase_.Run(samples + kSubbands * t, slot);
        // The decoder negates every other slot of the odd subbands after its IMDCT (they
        // come out mirrored in frequency); doing the same here cancels it.
        const float oddSign = (t & 1) ? -1.0f : 1.0f;
        for (int sb = 0; sb < kSubbands; sb += 2) {
            granule[sb][t] = slot[sb];
            granule[sb + 1][t] = oddSign * slot[sb + 1];
        }
    }
    return detector_.Process(samples);
}

void GranuleAnalyser::Transform(int32_t blockType, GranuleSpectrum& out) const {
    TransformGranule(blockType, subbands_[current_ ^ 1], subbands_[current_], out);
}

}  // namespace velora::enc
