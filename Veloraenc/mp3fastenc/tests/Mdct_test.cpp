// The fast MDCTs against their defining sums in double precision, the interleaved order of
// short-block lines, and the alias butterflies against the decoder's aliasing reduction.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>

#include "HybridFilter.h"
#include "Mdct.h"
#include "SideInfo.h"

namespace velora::enc {
namespace {

constexpr double kPi = std::numbers::pi;

struct Lcg {
    uint32_t state = 5;
    float Next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    }
};

double SineWindow(int length, int i) { return std::sin(kPi / length * (i + 0.5)); }

// The window shapes written out piece by piece.
double LongWindowShape(int32_t type, int i) {
    if (type == kBlockStart) {
        if (i < 18) return SineWindow(36, i);
        if (i < 24) return 1.0;
        if (i < 30) return SineWindow(12, i - 18);
        return 0.0;
    }
    if (type == kBlockStop) {
        if (i < 6) return 0.0;
        if (i < 12) return SineWindow(12, i - 6);
        if (i < 18) return 1.0;
        return SineWindow(36, i);
    }
    return SineWindow(36, i);
}

void ExpectClose(const float* actual, const double* expected, int count, const char* what) {
    double signal = 0.0;
    double error = 0.0;
    for (int i = 0; i < count; ++i) {
        const double e = static_cast<double>(actual[i]) - expected[i];
        signal += expected[i] * expected[i];
        error += e * e;
    }
    EXPECT_GT(signal, 0.0) << what;
    EXPECT_LT(std::sqrt(error), 1e-6 * std::sqrt(signal)) << what;
}

TEST(mp3enc_fb_Mdct, LongWindowsMatchTheDefinition) {
    Lcg rng;
    for (int32_t type : {kBlockLong, kBlockStart, kBlockStop}) {
        for (int trial = 0; trial < 20; ++trial) {
            float in[36];
            for (float& v : in) v = 1000.0f * rng.Next();
            float out[18];
            LongMdct(in, type, out);
            double expected[18];
            for (int k = 0; k < 18; ++k) {
                double s = 0.0;
                for (int n = 0; n < 36; ++n) {
                    s += LongWindowShape(type, n) * static_cast<double>(in[n]) * std::cos(kPi / 72.0 * (2 * n + 19) * (2 * k + 1));
                }
                expected[k] = s / 9.0;
            }
            ExpectClose(out, expected, 18, "long MDCT");
        }
    }
}

TEST(mp3enc_fb_Mdct, ShortWindowsMatchTheDefinitionInterleaved) {
    Lcg rng;
    for (int trial = 0; trial < 20; ++trial) {
        float in[36];
        for (float& v : in) v = 1000.0f * rng.Next();
        float out[18];
        ShortMdct(in, out);
        double expected[18];
        for (int w = 0; w < 3; ++w) {
            for (int k = 0; k < 6; ++k) {
                double s = 0.0;
                for (int n = 0; n < 12; ++n) {
                    s += SineWindow(12, n) * static_cast<double>(in[6 + 6 * w + n]) * std::cos(kPi / 24.0 * (2 * n + 7) * (2 * k + 1));
                }
                expected[3 * k + w] = s / 3.0;
            }
        }
        ExpectClose(out, expected, 18, "short MDCT");
    }
}

TEST(mp3enc_fb_Mdct, ShortWindowsSeeOnlyTheirSamples) {
    // The first and last six samples lie outside every short window.
    float in[36] = {};
    for (int i = 0; i < 6; ++i) {
        in[i] = 5000.0f;
        in[30 + i] = -7000.0f;
    }
    float out[18];
    ShortMdct(in, out);
    for (float v : out) EXPECT_EQ(v, 0.0f);
}

TEST(mp3enc_fb_Mdct, AliasButterfliesAreUndoneByTheDecoder) {
    Lcg rng;
    GranuleSpectrum spectrum;
    float original[kGranuleLines];
    for (int i = 0; i < kGranuleLines; ++i) original[i] = spectrum.lines[i] = 100.0f * rng.Next();
    AddAliasReduction(spectrum.lines);
    int changed = 0;
    for (int i = 0; i < kGranuleLines; ++i) changed += spectrum.lines[i] != original[i] ? 1 : 0;
    EXPECT_EQ(changed, 31 * 16);  // eight lines either side of each inner subband edge

    GranuleInfo info;
    info.nonzeroLines = kGranuleLines;
    ReduceAliasing(info, 2, 32, spectrum.lines);
    for (int i = 0; i < kGranuleLines; ++i) EXPECT_NEAR(spectrum.lines[i], original[i], 1e-4f) << i;
}

TEST(mp3enc_fb_Mdct, GranuleLayoutAndBlockType) {
    float previous[kSubbands][kSubbandSamples] = {};
    float current[kSubbands][kSubbandSamples] = {};
    // Only subband 5 carries signal.
    for (int t = 0; t < 18; ++t) {
        previous[5][t] = static_cast<float>(t + 1);
        current[5][t] = static_cast<float>(40 - t);
    }
    float in[36];
    for (int t = 0; t < 18; ++t) {
        in[t] = previous[5][t];
        in[18 + t] = current[5][t];
    }
    GranuleSpectrum spectrum;
    TransformGranule(kBlockShort, previous, current, spectrum);
    EXPECT_EQ(spectrum.blockType, kBlockShort);
    float expected[18];
    ShortMdct(in, expected);
    for (int i = 0; i < kGranuleLines; ++i) {
        const bool inBand = i >= 18 * 5 && i < 18 * 6;
        EXPECT_EQ(spectrum.lines[i], inBand ? expected[i - 90] : 0.0f) << i;
    }

    TransformGranule(kBlockStop, previous, current, spectrum);
    EXPECT_EQ(spectrum.blockType, kBlockStop);
    float lines[kGranuleLines] = {};
    LongMdct(in, kBlockStop, lines + 90);
    AddAliasReduction(lines);
    for (int i = 0; i < kGranuleLines; ++i) EXPECT_EQ(spectrum.lines[i], lines[i]) << i;

    TransformGranule(17, previous, current, spectrum);  // not a block type: coded as long
    EXPECT_EQ(spectrum.blockType, kBlockLong);
}

}  // namespace
}  // namespace velora::enc
