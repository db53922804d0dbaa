#include "SbrSourceFill.h"

#include "SbrPatchSource.h"

namespace velora::sbr {
namespace {

// A source band counts as empty when the core kept less than this share of its energy.
constexpr float kEmptyShare = 0.1f;
// A noise band gets the fill when empty sources feed more than this share of its energy.
constexpr double kEmptyPart = 0.1;
// The fill: noise 9 dB above the generated part, so the band arrives within 0.5 dB of its
// energy with no source at all. With the core's own output as the oracle, 8 tracked music
// closer than 2, 4 or 16.
constexpr float kFillNoise = 8.0f;

}  // namespace

void FillMissingSources(const SbrQmfRows& rows, const SbrFreqData& freq, const SbrPatches& patches,
                        const float* share, NoiseFloorResult& noise) {
    for (int n = 0; n < freq.noiseBandCount && n < kMaxNoiseBands; ++n) {
        double all = 0.0;
        double empty = 0.0;
        for (int k = freq.noise[n]; k < freq.noise[n + 1] && k < kEncoderQmfBands; ++k) {
            const int s = PatchSource(patches, k);
            if (s < 0 || s >= kEncoderQmfBands) continue;
            double wanted = 0.0;
            for (int r = 0; r < 2 * kFrameSlots; ++r) wanted += static_cast<double>(rows.Energy(r)[k]);
            all += wanted;
            if (share[s] < kEmptyShare) empty += wanted;
        }
        if (all > 0.0 && empty > kEmptyPart * all && noise.noise[n] < kFillNoise) noise.noise[n] = kFillNoise;
    }
}

}  // namespace velora::sbr
