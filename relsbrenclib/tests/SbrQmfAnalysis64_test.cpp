// The encoder's 64-band analysis: against a direct double-precision evaluation of its
// definition, and followed by the decoder's synthesis, rebuilding the input at its own
// level with a constant delay (which fixes the energy domain of the payload).
#include "SbrQmfAnalysis64.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "SbrQmf.h"

namespace velora::sbr {
namespace {

constexpr double kPi = 3.14159265358979323846;

// X[k] = sum_{n<128} u[n] exp(i pi (k + 0.5)(2n - 1) / 128), u from the history (newest
// first) windowed by the full prototype.
class DirectAnalysis64 {
public:
    void Run(const float* input, double re[64], double im[64]) {
        for (int n = 639; n >= 64; --n) history_[n] = history_[n - 64];
        for (int n = 0; n < 64; ++n) history_[63 - n] = static_cast<double>(input[n]);
        double u[128] = {};
        for (int n = 0; n < 128; ++n)
            for (int j = 0; j < 5; ++j)
                u[n] += history_[n + 128 * j] * static_cast<double>(kQmfPrototype[n + 128 * j]);
        for (int k = 0; k < 64; ++k) {
            re[k] = im[k] = 0.0;
            for (int n = 0; n < 128; ++n) {
                const double a = kPi * (k + 0.5) * (2 * n - 1) / 128.0;
                re[k] += u[n] * std::cos(a);
                im[k] += u[n] * std::sin(a);
            }
        }
    }

private:
    double history_[640] = {};
};

TEST(relsbrenc_qmf_Analysis, MatchesTheDirectDefinition) {
    SbrQmfAnalysis64 fast;
    ASSERT_TRUE(fast.Init());
    DirectAnalysis64 direct;
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-20000.0f, 20000.0f);
    float block[64];
    double worst = 0.0;
    double peak = 0.0;
    for (int slot = 0; slot < 40; ++slot) {
        for (float& s : block) s = dist(rng);
        float re[64], im[64];
        double dre[64], dim[64];
        fast.Run(block, re, im);
        direct.Run(block, dre, dim);
        for (int k = 0; k < 64; ++k) {
            worst = std::max(worst, std::fabs(static_cast<double>(re[k]) - dre[k]));
            worst = std::max(worst, std::fabs(static_cast<double>(im[k]) - dim[k]));
            peak = std::max(peak, std::fabs(dre[k]));
        }
    }
    EXPECT_LT(worst, 1e-4 * peak) << "peak " << peak;
}

// Analysis followed by the decoder's synthesis gives back the input at the same level:
// the payload energies measured by the analysis are those the decoder reproduces.
TEST(relsbrenc_qmf_Analysis, DecoderSynthesisRebuildsTheInput) {
    SbrQmfAnalysis64 analysis;
    ASSERT_TRUE(analysis.Init());
    QmfSynthesis synthesis;
    synthesis.Reset();
    std::mt19937 rng(11);
    std::normal_distribution<float> dist(0.0f, 3000.0f);
    constexpr int kSlots = 200;
    std::vector<float> in(kSlots * 64), out(kSlots * 64);
    for (float& s : in) s = dist(rng);
    for (int slot = 0; slot < kSlots; ++slot) {
        float re[64], im[64];
        analysis.Run(&in[static_cast<size_t>(slot) * 64], re, im);
        synthesis.Run(re, im, &out[static_cast<size_t>(slot) * 64], 1);
    }
    // Find the delay and the gain by correlation.
    int bestDelay = -1;
    double bestCorr = 0.0;
    for (int d = 0; d < 1300; ++d) {
        double c = 0.0;
        for (int n = 2000; n < kSlots * 64 - 1400; ++n)
            c += static_cast<double>(out[static_cast<size_t>(n + d)]) * static_cast<double>(in[static_cast<size_t>(n)]);
        if (std::fabs(c) > std::fabs(bestCorr)) {
            bestCorr = c;
            bestDelay = d;
        }
    }
    double err = 0.0, ref = 0.0, gainNum = 0.0;
    for (int n = 2000; n < kSlots * 64 - 1400; ++n) {
        const double x = static_cast<double>(in[static_cast<size_t>(n)]);
        const double y = static_cast<double>(out[static_cast<size_t>(n + bestDelay)]);
        gainNum += x * y;
        ref += x * x;
    }
    const double gain = gainNum / ref;
    for (int n = 2000; n < kSlots * 64 - 1400; ++n) {
        const double x = static_cast<double>(in[static_cast<size_t>(n)]);
        const double y = static_cast<double>(out[static_cast<size_t>(n + bestDelay)]);
        err += (y - gain * x) * (y - gain * x);
    }
    EXPECT_NEAR(std::fabs(gain), 1.0, 0.01) << "delay " << bestDelay;
    EXPECT_EQ(bestDelay, 577);
    EXPECT_GT(10.0 * std::log10(ref / err), 50.0) << "delay " << bestDelay << " gain " << gain;
}

// The energy domain of the payload: white noise of variance v gives a mean sub-sample energy
// of 64 v in every band, and a sine's energy stays in its band and the next.
TEST(relsbrenc_qmf_Analysis, EnergiesOfNoiseAndSine) {
    SbrQmfAnalysis64 a;
    ASSERT_TRUE(a.Init());
    std::mt19937 rng(2);
    std::normal_distribution<float> dist(0.0f, 1000.0f);
    float block[64], re[64], im[64];
    double e[64] = {};
    int count = 0;
    for (int slot = 0; slot < 3000; ++slot) {
        for (float& s : block) s = dist(rng);
        a.Run(block, re, im);
        if (slot < 20) continue;
        ++count;
        for (int k = 0; k < 64; ++k) e[k] += static_cast<double>(re[k] * re[k] + im[k] * im[k]);
    }
    // Overlapping windows make neighbouring sub-samples correlated: each band alone is a
    // rough estimate, their mean a close one.
    double mean = 0.0;
    for (int k = 1; k < 63; ++k) {
        EXPECT_NEAR(e[k] / count / 1e6, 64.0, 10.0) << k;
        mean += e[k] / count / 1e6 / 62.0;
    }
    EXPECT_NEAR(mean, 64.0, 1.3);

    a.Reset();
    double band[64] = {};
    for (int slot = 0; slot < 200; ++slot) {
        for (int n = 0; n < 64; ++n)
            block[n] = static_cast<float>(10000.0 * std::sin(2.0 * kPi * 12000.0 * (slot * 64 + n) / 44100.0));
        a.Run(block, re, im);
        if (slot < 20) continue;
        for (int k = 0; k < 64; ++k) band[k] += static_cast<double>(re[k] * re[k] + im[k] * im[k]);
    }
    // 12 kHz lies in band 34 (344.5 Hz per band).
    double total = 0.0;
    for (double b : band) total += b;
    EXPECT_GT((band[34] + band[35]) / total, 0.999);
    EXPECT_GT(band[34], band[35]);
    // Amplitude A gives A^2 / 2 x 64 x 64 in the band pair: the level of the noise rule.
    EXPECT_NEAR((band[34] + band[35]) / 180.0 / (0.5e8 * 4096.0), 1.0, 0.05);
}

}  // namespace
}  // namespace velora::sbr
