// Patch construction, chirp factors and the covariance-method prediction of the
// high-band generator.
#include "SbrHfGenerator.h"

#include <gtest/gtest.h>

#include <complex>
#include <random>
#include <vector>

#include "SbrFreqTables.h"
#include "SbrQmfFrame.h"

namespace velora::sbr {
namespace {

SbrFreqData MasterTable(std::vector<int> edges, int kx) {
    SbrFreqData f;
    f.masterBands = static_cast<int>(edges.size()) - 1;
    for (size_t i = 0; i < edges.size(); ++i) f.master[i] = edges[i];
    f.k0 = edges.front();
    f.k2 = edges.back();
    f.kx = kx;
    return f;
}

TEST(sbr_hf_Patches, WorkedExample) {
    // fs 44100, k0 = kx = 17, k2 = 46, a master edge at 33, b0 = 1, no guard.
    const SbrFreqData f = MasterTable({17, 19, 21, 23, 25, 27, 29, 31, 33, 36, 39, 42, 46}, 17);
    SbrPatches p;
    ASSERT_TRUE(BuildPatches(f, 44100, 1, 0, 0, p));
    ASSERT_EQ(p.count, 2);
    // Patch 0 copies bands 1..16 to 17..32.
    EXPECT_EQ(p.targetStart[0], 17);
    EXPECT_EQ(p.shift[0], 16);
    EXPECT_EQ(p.sourceStart[0], 1);
    EXPECT_EQ(p.sourceEnd[0], 17);
    EXPECT_EQ(p.width[0], 16);
    // Patch 1 copies bands 3..15 to 33..45.
    EXPECT_EQ(p.targetStart[1], 33);
    EXPECT_EQ(p.shift[1], 30);
    EXPECT_EQ(p.sourceStart[1], 3);
    EXPECT_EQ(p.sourceEnd[1], 16);
    EXPECT_EQ(p.width[1], 13);
    EXPECT_EQ(p.end, 46);
    EXPECT_EQ(p.lowestSource, 1);
    EXPECT_EQ(p.highestSource, 17);
    // Start frequency floor(0.5 * 44100 * 17 / 64) = 5857 Hz: the 5000..5999 row.
    EXPECT_EQ(p.chirpRow, 1);
}

TEST(sbr_hf_Patches, RefusedWhenTheLowBandIsTooNarrowOrEmpty) {
    SbrPatches p;
    // k0 - b0 < 4.
    EXPECT_FALSE(BuildPatches(MasterTable({4, 8, 12, 16}, 4), 44100, 1, 0, 0, p));
    // kx at or above k2: nothing to patch.
    EXPECT_FALSE(BuildPatches(MasterTable({17, 20, 24}, 24), 44100, 1, 0, 0, p));
}

// Every patch of every usable header copies existing low bands into the SBR range without
// overlapping, in even shifts.
TEST(sbr_hf_Patches, EveryUsableHeaderGivesConsistentPatches) {
    int built = 0;
    for (const int rate : {32000, 44100, 48000}) {
        for (int start = 0; start < 16; ++start) {
            for (int stop = 0; stop < 16; ++stop) {
                for (int scale = 0; scale < 4; ++scale) {
                    for (int xover = 0; xover < 8; ++xover) {
                        SbrHeader h;
                        h.startFreq = start;
                        h.stopFreq = stop;
                        h.freqScale = scale;
                        h.xoverBand = xover;
                        SbrFreqData f;
                        if (!BuildFreqTables(h, rate, f)) continue;
                        SbrPatches p;
                        if (!BuildPatches(f, rate, 1, 0, 0, p)) continue;
                        ++built;
                        int t = f.kx;
                        for (int i = 0; i < p.count; ++i) {
                            ASSERT_EQ(p.targetStart[i], t);
                            ASSERT_EQ(p.shift[i] % 2, 0);
                            ASSERT_GT(p.width[i], 0);
                            ASSERT_GE(p.sourceStart[i], 1);
                            ASSERT_LE(p.sourceEnd[i], f.kx);
                            ASSERT_EQ(p.sourceEnd[i] - p.sourceStart[i], p.width[i]);
                            t += p.width[i];
                        }
                        ASSERT_EQ(p.end, t);
                        ASSERT_LE(p.end, f.k2);
                    }
                }
            }
        }
    }
    EXPECT_GT(built, 1000);
}

TEST(sbr_hf_Chirp, RowsTargetsAndSmoothing) {
    EXPECT_EQ(ChirpRow(4999), 0);
    EXPECT_EQ(ChirpRow(5000), 1);
    EXPECT_EQ(ChirpRow(6499), 2);
    EXPECT_EQ(ChirpRow(6500), 3);
    EXPECT_EQ(ChirpRow(7999), 5);
    EXPECT_EQ(ChirpRow(9999), 7);
    EXPECT_EQ(ChirpRow(10000), 8);
    EXPECT_EQ(ChirpRow(20000), 8);

    EXPECT_FLOAT_EQ(ChirpTarget(1, 1, 0), 0.55f);
    EXPECT_FLOAT_EQ(ChirpTarget(1, 2, 0), 0.75f);
    EXPECT_FLOAT_EQ(ChirpTarget(1, 3, 0), 0.85f);
    EXPECT_FLOAT_EQ(ChirpTarget(1, 0, 0), 0.0f);
    EXPECT_FLOAT_EQ(ChirpTarget(1, 0, 1), 0.35f);
    EXPECT_FLOAT_EQ(ChirpTarget(8, 0, 1), 0.75f);
    EXPECT_FLOAT_EQ(ChirpTarget(1, 3, 0, 0.5f), 0.5f);

    // Falling: 0.75 target + 0.25 previous; rising: 0.90625 target + 0.09375 previous.
    EXPECT_FLOAT_EQ(SmoothChirp(0.4f, 0.8f), 0.75f * 0.4f + 0.25f * 0.8f);
    EXPECT_FLOAT_EQ(SmoothChirp(0.8f, 0.4f), 0.90625f * 0.8f + 0.09375f * 0.4f);
    EXPECT_EQ(SmoothChirp(0.0f, 0.06f), 0.0f);  // 0.015 is below 1/64
    EXPECT_GT(SmoothChirp(0.0f, 0.07f), 0.0f);
}

// A complex second-order autoregressive process: the prediction recovers its coefficients.
TEST(sbr_hf_Prediction, RecoversSecondOrderCoefficients) {
    const std::complex<double> a0(-1.2, 0.3);
    const std::complex<double> a1(0.5, -0.2);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<std::complex<double>> x(4002, 0.0);
    for (size_t n = 2; n < x.size(); ++n) {
        x[n] = -a0 * x[n - 1] - a1 * x[n - 2] + std::complex<double>(noise(rng), noise(rng));
    }
    std::vector<std::complex<float>> xf(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
        xf[n] = std::complex<float>(static_cast<float>(x[n].real()), static_cast<float>(x[n].imag()));
    }
    const Prediction p = PredictCovariance(xf.data(), 4000);
    EXPECT_NEAR(p.a0.real(), a0.real(), 0.05);
    EXPECT_NEAR(p.a0.imag(), a0.imag(), 0.05);
    EXPECT_NEAR(p.a1.real(), a1.real(), 0.05);
    EXPECT_NEAR(p.a1.imag(), a1.imag(), 0.05);
}

TEST(sbr_hf_Prediction, SilenceAndUnstableSolutionsGiveZero) {
    std::vector<std::complex<float>> silence(40, 0.0f);
    Prediction p = PredictCovariance(silence.data(), 38);
    EXPECT_EQ(p.a0, std::complex<float>(0.0f));
    EXPECT_EQ(p.a1, std::complex<float>(0.0f));
    // A sequence that grows by a factor 5 per step asks for |a0| >= 4: unusable.
    std::vector<std::complex<float>> growing(12);
    float v = 1e-6f;
    for (auto& s : growing) {
        s = v;
        v *= 5.0f;
    }
    p = PredictCovariance(growing.data(), 10);
    EXPECT_EQ(p.a0, std::complex<float>(0.0f));
    EXPECT_EQ(p.a1, std::complex<float>(0.0f));
}


// A low band whose every band carries a complex tone, so the prediction is near exact.
void FillTonalLowBand(QmfMatrix& low, double step) {
    for (int l = 0; l < kHistoryRows + kFrameSubsamples; ++l) {
        for (int b = 0; b < kAnalysisBands; ++b) {
            const std::complex<double> v = std::polar(100.0 + b, step * l + 0.3 * b);
            low.re[l][b] = static_cast<float>(v.real());
            low.im[l][b] = static_cast<float>(v.imag());
        }
    }
}

TEST(sbr_hf_Generate, WithoutChirpEveryPatchCopiesItsSourceTwoRowsLater) {
    const SbrFreqData f = MasterTable({17, 19, 21, 23, 25, 27, 29, 31, 33, 36, 39, 42, 46}, 17);
    SbrPatches p;
    ASSERT_TRUE(BuildPatches(f, 44100, 1, 0, 0, p));
    static QmfMatrix low{};
    static QmfMatrix high{};
    FillTonalLowBand(low, 0.7);
    for (int l = 0; l < kMatrixRows; ++l) high.re[l][50] = high.im[l][50] = 5.0f;  // outside the patches
    GenerateHighBand(low, p, 0.0f, 4, 22, high);
    for (int l = 4; l < 22; ++l) {
        for (int k = 17; k < 46; ++k) {
            const int source = k < 33 ? k - 16 : k - 30;
            EXPECT_EQ(high.re[l][k], low.re[l + 2][source]) << l << "," << k;
            EXPECT_EQ(high.im[l][k], low.im[l + 2][source]) << l << "," << k;
        }
        EXPECT_EQ(high.re[l][50], 0.0f) << "bands outside the patches are cleared";
    }
    EXPECT_EQ(high.re[3][50], 5.0f) << "rows outside the range stay";
    EXPECT_EQ(high.re[22][50], 5.0f);
}

TEST(sbr_hf_Generate, InverseFilteringFlattensATone) {
    // A pure tone is fully predictable: with chirp 1 the prediction error is all that is
    // left; a chirp of 0.5 removes part of it.
    const SbrFreqData f = MasterTable({17, 19, 21, 23, 25, 27, 29, 31, 33, 36, 39, 42, 46}, 17);
    SbrPatches p;
    ASSERT_TRUE(BuildPatches(f, 44100, 1, 0, 0, p));
    static QmfMatrix low{};
    static QmfMatrix high{};
    FillTonalLowBand(low, 1.1);
    auto energy = [&](float chirp) {
        GenerateHighBand(low, p, chirp, 0, 18, high);
        double e = 0.0;
        for (int l = 0; l < 18; ++l)
            for (int k = 17; k < 46; ++k) e += std::norm(std::complex<double>(high.re[l][k], high.im[l][k]));
        return e;
    };
    const double plain = energy(0.0f);
    const double half = energy(0.5f);
    const double full = energy(0.99f);
    EXPECT_LT(full, 1e-3 * plain);
    EXPECT_LT(half, 0.5 * plain);
    EXPECT_GT(half, 10.0 * full);
}

}  // namespace
}  // namespace velora::sbr
