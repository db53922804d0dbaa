// The envelope adjuster's handling over time: cross-fades between envelopes, smoothing over
// envelopes, no noise in a transient envelope; and the waveform components.
#include "SbrEnvelopeAdjuster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>

#include "SbrFreqTables.h"
#include "SbrQmfFrame.h"
#include "SbrWaveform.h"

namespace velora::sbr {
namespace {

class sbr_adjuster_Envelopes : public ::testing::Test {
protected:
    void SetUp() override {
        header.startFreq = 5;
        header.stopFreq = 9;
        header.smoothingMode = 1;
        header.limiterGains = 3;  // unlimited
        ASSERT_TRUE(BuildFreqTables(header, 44100, freq));
        ResetAdjuster(state);
        env = SbrEnvelopeData{};
    }

    // A generated band of unit magnitude everywhere (energy 1 per sub-sample).
    void FillHigh() {
        for (int l = 0; l < kMatrixRows; ++l)
            for (int k = 0; k < kQmfBands; ++k) {
                high.re[l][k] = 1.0f;
                high.im[l][k] = 0.0f;
            }
    }
    void Grid(std::initializer_list<int> borders, std::initializer_list<float> energies, float noise = 1e-9f) {
        env.grid = SbrFrameInfo{};
        env.grid.envelopes = static_cast<int>(borders.size()) - 1;
        int i = 0;
        for (int b : borders) env.grid.borders[i++] = b;
        env.grid.noiseEnvelopes = 1;
        env.grid.noiseBorders[0] = env.grid.borders[0];
        env.grid.noiseBorders[1] = env.grid.borders[env.grid.envelopes];
        i = 0;
        for (float e : energies) {
            env.grid.freqRes[i] = 1;
            for (int b = 0; b < kMaxMasterBands; ++b) env.envelope[i][b] = e;
            ++i;
        }
        for (int b = 0; b < kMaxNoiseBands; ++b) env.noise[0][b] = noise;
    }
    double Magnitude(int row, int k) const { return std::abs(std::complex<double>(high.re[row][k], high.im[row][k])); }

    SbrHeader header;
    SbrFreqData freq;
    AdjusterState state;
    SbrEnvelopeData env;
    QmfMatrix high{};
    AdjusterSettings settings;
};

TEST_F(sbr_adjuster_Envelopes, GainChangesCrossFadeOverSixSubsamples) {
    const int k = freq.kx + 2;
    FillHigh();
    Grid({0, 9}, {100.0f});
    AdjustEnvelopes(env, freq, header, settings, state, high);
    // The gain of E / (1 + E_current) falls short by the 1, which the limiter's
    // compensation gives back: the band comes out with its energy E.
    const double g1 = std::sqrt(100.0);
    for (int l = 0; l < 18; ++l) EXPECT_NEAR(Magnitude(l, k), g1, 1e-3 * g1) << "first frame starts at its gain";

    FillHigh();
    Grid({0, 3, 9}, {100.0f, 1600.0f});
    AdjustEnvelopes(env, freq, header, settings, state, high);
    const double g2 = std::sqrt(1600.0);
    const double rise[6] = {0.0170371, 0.1464466, 0.3705905, 0.6294095, 0.8535534, 0.9829629};
    for (int l = 0; l < 6; ++l) EXPECT_NEAR(Magnitude(l, k), g1, 1e-3 * g1);
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(Magnitude(6 + i, k), (1.0 - rise[i]) * g1 + rise[i] * g2, 1e-3 * g2) << "ramp step " << i;
    for (int l = 12; l < 18; ++l) EXPECT_NEAR(Magnitude(l, k), g2, 1e-3 * g2);
    EXPECT_EQ(high.re[18][k], 1.0f) << "rows after the last border are untouched";
}

TEST_F(sbr_adjuster_Envelopes, SmoothingWeighsEarlierEnvelopes) {
    const int k = freq.kx + 2;
    header.smoothingMode = 0;
    settings.smoothingFilter = 2;  // 0.125, 0.375, 0.5, newest last
    FillHigh();
    Grid({0, 9}, {100.0f});
    AdjustEnvelopes(env, freq, header, settings, state, high);
    FillHigh();
    Grid({0, 9}, {1600.0f});
    AdjustEnvelopes(env, freq, header, settings, state, high);
    const double g1 = std::sqrt(100.0);
    const double g2 = std::sqrt(1600.0);
    // History g2, g1, g1 (newest first): 0.5 g2 + 0.375 g1 + 0.125 g1.
    EXPECT_NEAR(Magnitude(17, k), 0.5 * g1 + 0.5 * g2, 1e-3 * g2);
    // In a transient envelope the new gain applies at once (after the cross-fade).
    FillHigh();
    Grid({0, 9}, {1600.0f});
    env.grid.pointer = 0;
    env.grid.envelopes = 2;
    env.grid.borders[1] = 3;
    env.grid.borders[2] = 9;
    for (int b = 0; b < kMaxMasterBands; ++b) env.envelope[1][b] = 25600.0f;
    env.grid.freqRes[1] = 1;
    env.grid.pointer = 1;
    AdjustEnvelopes(env, freq, header, settings, state, high);
    EXPECT_NEAR(Magnitude(17, k), std::sqrt(25600.0), 1e-3 * std::sqrt(25600.0));
}

TEST_F(sbr_adjuster_Envelopes, TransientEnvelopeGetsNoNoise) {
    const int k = freq.kx + 2;
    for (int l = 0; l < kMatrixRows; ++l)
        for (int b = 0; b < kQmfBands; ++b) high.re[l][b] = high.im[l][b] = 0.0f;
    Grid({0, 4, 9}, {400.0f, 400.0f}, 1.0f);
    env.grid.pointer = 1;
    AdjustEnvelopes(env, freq, header, settings, state, high);
    EXPECT_GT(Magnitude(2, k), 1.0) << "noise fills the first envelope";
    // The second starts with the fade out of the first envelope's noise, then is silent.
    for (int l = 14; l < 18; ++l) EXPECT_EQ(Magnitude(l, k), 0.0) << l;
}

TEST(sbr_waveform, ComponentsFadeInAndLandInTheirMatrix) {
    static QmfMatrix low{};
    static QmfMatrix high{};
    for (int l = 0; l < kMatrixRows; ++l)
        for (int k = 0; k < kQmfBands; ++k) {
            low.re[l][k] = low.im[l][k] = 2.0f;
            high.re[l][k] = high.im[l][k] = 3.0f;
        }
    SbrChannelData data;
    data.waveformGroups = 2;
    data.waveform[0] = SbrWaveformGroup{};
    data.waveform[0].firstBand = 10;  // below kx: low band
    data.waveform[0].bands = 1;
    data.waveform[0].timeRange = 3;
    data.waveform[0].width[0] = 4;
    data.waveform[0].scaleIndex[0] = 1;
    for (int s = 0; s < kFrameSubsamples; ++s) data.waveform[0].values[0][s] = (s % 2) != 0 ? 5 : -3;
    data.waveform[1] = data.waveform[0];
    data.waveform[1].firstBand = 30;  // above kx: high band
    data.waveform[1].timeRange = 1;
    data.waveform[1].fadeOut = 1;
    ASSERT_TRUE(ApplyWaveforms(data, 20, false, low, high));

    const double scale = std::exp2(33.0 / 3.0) / 8.0;  // 2^((32 + 1) / 3) / 2^(4 - 1)
    float wRe = 0.0f;
    float wIm = 0.0f;
    WaveformWeight(10, &wRe, &wIm);
    for (int s = 0; s < kFrameSubsamples; ++s) {
        const double f = std::min(1.0, 0.1 * (s + 1));
        const double v = (s % 2) != 0 ? 5.0 : -3.0;
        EXPECT_NEAR(low.re[s + 2][10], (1.0 - f) * 2.0 + f * scale * v * static_cast<double>(wRe), 1e-2) << s;
        EXPECT_NEAR(low.im[s + 2][10], (1.0 - f) * 2.0 + f * scale * v * static_cast<double>(wIm), 1e-2) << s;
    }
    EXPECT_EQ(low.re[1][10], 2.0f);
    EXPECT_EQ(high.re[5][10], 3.0f) << "a low-band component stays out of the high band";
    // Sub-samples 9..17 only, fading out over all nine: 0.0 throughout (it starts at 0).
    for (int s = 0; s < 9; ++s) EXPECT_EQ(high.re[s][30], 3.0f) << s;
    for (int s = 9; s < 18; ++s) EXPECT_NEAR(high.re[s][30], 3.0f, 1e-6f) << s;
    // With components in the previous frame the fade starts at full strength and falls.
    data.waveformGroups = 1;
    data.waveform[0] = data.waveform[1];
    ASSERT_TRUE(ApplyWaveforms(data, 20, true, low, high));
    WaveformWeight(30, &wRe, &wIm);
    for (int s = 9; s < 18; ++s) {
        const double f = 1.0 - 0.1 * (s - 8);  // 0.9 down to 0.1
        const double v = (s % 2) != 0 ? 5.0 : -3.0;
        EXPECT_NEAR(high.re[s][30], (1.0 - f) * 3.0 + f * scale * v * static_cast<double>(wRe), 1e-2) << s;
    }
    data.waveformGroups = 0;
    EXPECT_FALSE(ApplyWaveforms(data, 20, true, low, high));
}

}  // namespace
}  // namespace velora::sbr
