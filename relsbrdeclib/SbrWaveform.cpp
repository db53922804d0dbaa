#include "SbrWaveform.h"

#include <cmath>

#include "SbrQmfFrame.h"

namespace velora::sbr {

void WaveformWeight(int band, float* re, float* im) {
    // Equal cosine and sine parts, so a coded real waveform reaches both; the sign of the
    // real part alternates with the band like the phase of the QMF modulation.
    constexpr float kHalfRoot = 0.70710678f;
    *re = (band & 1) != 0 ? -kHalfRoot : kHalfRoot;
    *im = kHalfRoot;
}

bool ApplyWaveforms(const SbrChannelData& data, int kx, bool previousCarried, QmfMatrix& low,
                    QmfMatrix& high) {
    const int groups = data.waveformGroups < 0 ? 0
                       : (data.waveformGroups > kMaxWaveformGroups ? kMaxWaveformGroups
                                                                   : data.waveformGroups);
    for (int gi = 0; gi < groups; ++gi) {
        const SbrWaveformGroup& group = data.waveform[gi];
        int first = 0;
        int last = 0;
        switch (group.timeRange) {
            case 1: first = 9; last = 18; break;
            case 2: first = 0; last = 9; break;
            case 3: first = 0; last = 18; break;
            default: continue;
        }
        const int bands = group.bands > kMaxWaveformBands ? kMaxWaveformBands : group.bands;
        for (int j = 0; j < bands; ++j) {
            const int g = group.firstBand + j;
            if (g < 0 || g >= kQmfBands) continue;
            const int width = group.width[j] < 1 ? 1 : (group.width[j] > 16 ? 16 : group.width[j]);
            const float scale =
                std::exp2(static_cast<float>(32 + group.scaleIndex[j]) / 3.0f) /
                std::exp2(static_cast<float>(width - 1));
            float wRe = 0.0f;
            float wIm = 0.0f;
            WaveformWeight(g, &wRe, &wIm);
            float f = previousCarried ? 1.0f : 0.0f;
            for (int k = first; k < last; ++k) {
                if (group.fadeOut != 0 && k >= last - 9) {
                    f = f - 0.1f < 0.0f ? 0.0f : f - 0.1f;
                } else {
                    f = f + 0.1f > 1.0f ? 1.0f : f + 0.1f;
                }
                const float level = f * scale * static_cast<float>(group.values[j][k]);
                float* re = g < kx ? &low.re[k + kLowBandLag][g] : &high.re[k][g];
                float* im = g < kx ? &low.im[k + kLowBandLag][g] : &high.im[k][g];
                *re = (1.0f - f) * *re + level * wRe;
                *im = (1.0f - f) * *im + level * wIm;
            }
        }
    }
    return groups > 0;
}

}  // namespace velora::sbr
