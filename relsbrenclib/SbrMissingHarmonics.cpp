#include "SbrMissingHarmonics.h"

#include <cmath>

#include "SbrPatchSource.h"
#include "SbrWaveform.h"

namespace velora::sbr {
namespace {

constexpr float kTonalShare = 0.97f;      // predictable share of a steady sinusoid
constexpr float kDominance = 0.6f;        // share of its SBR band's energy
constexpr float kSourceTonalShare = 0.6f;  // a source less tonal than this has no partner
constexpr float kMinEnergy = 1.0e7f;      // ignore faint components (about -50 dB FS)
constexpr int kWidth = 5;                  // sample width: magnitudes up to 15


}  // namespace

int DetectMissingHarmonic(const BandTonality& t, const SbrFreqData& freq, const SbrPatches& patches) {
    int best = -1;
    float bestEnergy = 0.0f;
    for (int b = 0; b < freq.highBands; ++b) {
        double total = 0.0;
        for (int k = freq.high[b]; k < freq.high[b + 1]; ++k) total += static_cast<double>(t.energy[k]);
        for (int k = freq.high[b]; k < freq.high[b + 1]; ++k) {
            const float e = t.energy[k];
            if (e < kMinEnergy || t.predictable[k] < kTonalShare) continue;
            if (static_cast<double>(e) < static_cast<double>(kDominance) * total) continue;
            const int s = PatchSource(patches, k);
            // A tonal source of similar strength is patched up as a harmonic already.
            if (s >= 0 && t.predictable[s] >= kSourceTonalShare && t.energy[s] >= 0.01f * e) continue;
            if (e > bestEnergy) {
                bestEnergy = e;
                best = k;
            }
        }
    }
    return best;
}

void CodeWaveform(const SbrQmfRows& rows, int band, SbrChannelData& out) {
    float wRe = 0.0f, wIm = 0.0f;
    WaveformWeight(band, &wRe, &wIm);
    float level[kFrameSubsamples];
    float peak = 0.0f;
    for (int i = 0; i < kFrameSubsamples; ++i) {
        level[i] = 1.41421356f * (rows.Re(i)[band] * wRe + rows.Im(i)[band] * wIm);
        peak = std::fabs(level[i]) > peak ? std::fabs(level[i]) : peak;
    }
    const int maxMagnitude = (1 << (kWidth - 1)) - 1;
    // scale = 2^((32 + index) / 3) / 2^(width - 1); the smallest index whose scale keeps
    // the peak within maxMagnitude steps.
    const float needed = peak * static_cast<float>(1 << (kWidth - 1)) / (static_cast<float>(maxMagnitude) + 0.5f);
    int index = needed > 0.0f ? static_cast<int>(std::ceil(3.0f * std::log2(needed))) - 32 : 0;
    index = index < 0 ? 0 : (index > 31 ? 31 : index);
    const float scale = std::exp2(static_cast<float>(32 + index) / 3.0f) / static_cast<float>(1 << (kWidth - 1));

    SbrWaveformGroup& g = out.waveform[0];
    g = SbrWaveformGroup{};
    g.firstBand = band;
    g.bands = 1;
    g.timeRange = 3;
    g.fadeOut = 0;
    g.width[0] = kWidth;
    g.scaleIndex[0] = index;
    for (int i = 0; i < kFrameSubsamples; ++i) {
        int v = static_cast<int>(std::lround(level[i] / scale));
        v = v < -maxMagnitude ? -maxMagnitude : (v > maxMagnitude ? maxMagnitude : v);
        g.values[0][i] = v;
    }
    out.waveformGroups = 1;
}

}  // namespace velora::sbr
