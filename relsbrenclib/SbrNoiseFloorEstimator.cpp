#include "SbrNoiseFloorEstimator.h"

#include <cmath>

#include "SbrPatchSource.h"

namespace velora::sbr {
namespace {

// Tonal-to-noise ratio in dB above which the sources need each mode of inverse filtering.
constexpr float kModeThresholdDb[3] = {4.0f, 10.0f, 16.0f};
// Below this mean sub-sample energy a source band counts as empty (the decoder's gain cannot
// raise it): the noise floor alone must carry the band.
constexpr float kEmptySource = 10.0f;

float TonalRatio(float share) {
    const float s = share > 0.999f ? 0.999f : share;
    return s / (1.0f - s);
}

struct BandShares {
    double weight = 0.0;  // original energy
    float original = 0.0f;
    float source = 0.0f;
    bool sourceEmpty = true;
};

}  // namespace

void EstimateNoiseFloor(const BandTonality& t, const SbrFreqData& freq, const SbrPatches& patches,
                        int previousInvfMode, NoiseFloorResult& out) {
    const int bands = freq.noiseBandCount < kMaxNoiseBands ? freq.noiseBandCount : kMaxNoiseBands;
    BandShares share[kMaxNoiseBands];
    double modeSum = 0.0;
    double weightSum = 0.0;
    int mode[kMaxNoiseBands] = {};
    for (int b = 0; b < bands; ++b) {
        double eo = 0.0, to = 0.0, es = 0.0, ts = 0.0;
        int width = 0;
        for (int k = freq.noise[b]; k < freq.noise[b + 1] && k < kEncoderQmfBands; ++k, ++width) {
            const double e = static_cast<double>(t.energy[k]);
            eo += e;
            to += e * static_cast<double>(t.predictable[k]);
            const int s = PatchSource(patches, k);
            if (s >= 0 && s < kEncoderQmfBands) {
                const double se = static_cast<double>(t.energy[s]);
                es += se;
                ts += se * static_cast<double>(t.predictable[s]);
            }
        }
        BandShares& sh = share[b];
        sh.weight = eo;
        sh.original = eo > 0.0 ? static_cast<float>(to / eo) : 0.0f;
        sh.source = es > 0.0 ? static_cast<float>(ts / es) : 0.0f;
        sh.sourceEmpty = width == 0 || es / width < static_cast<double>(kEmptySource);
        const float excess = 10.0f * std::log10(TonalRatio(sh.source) / TonalRatio(sh.original));
        while (mode[b] < 3 && excess >= kModeThresholdDb[mode[b]]) ++mode[b];
        if (!sh.sourceEmpty) {
            modeSum += eo * mode[b];
            weightSum += eo;
        }
    }
    out.invfMode = weightSum > 0.0 ? static_cast<int>(std::lround(modeSum / weightSum)) : 0;

    const float chirp = ChirpTarget(patches.chirpRow, out.invfMode, previousInvfMode);
    const float weakening = (1.0f - chirp) * (1.0f - chirp);
    for (int b = 0; b < bands; ++b) {
        const BandShares& sh = share[b];
        float q = kMaxNoiseFloor;
        if (!sh.sourceEmpty) {
            const float generatedRatio = TonalRatio(sh.source) * weakening;
            const float generated = generatedRatio / (1.0f + generatedRatio);
            const float original = sh.original > 0.01f ? sh.original : 0.01f;
            q = generated / original - 1.0f;
        }
        out.noise[b] = q < kMinNoiseFloor ? kMinNoiseFloor : (q > kMaxNoiseFloor ? kMaxNoiseFloor : q);
    }
}

}  // namespace velora::sbr
