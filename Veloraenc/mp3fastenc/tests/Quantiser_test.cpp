// The quantiser against a stand-in bit counter: the bit target holds, the noise follows the
// thresholds as far as the bits allow, the dequantisation matches the standard's formula,
// silence and extreme input.
#include "Quantiser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>

#include "Layer3Tables.h"
#include "PsychoacousticConfig.h"
#include "PsychoacousticModel.h"

namespace velora::enc {
namespace {

// Costs that grow with the magnitudes like Huffman codes do; scale factors above 15 cannot
// be carried.
class StandInCounter : public GranuleBitCounter {
public:
    int SpectrumBits(const QuantisedGranule& g) const override {
        // Zeros after the last non-zero value cost nothing, as in the real code.
        int last = kGranuleLines;
        while (last > 0 && g.values[last - 1] == 0) --last;
        int bits = 0;
        for (int k = 0; k < last; ++k) {
            const int m = std::abs(g.values[k]);
            bits += m == 0 ? 1 : 3 + 2 * static_cast<int>(std::log2(m + 1.0));
        }
        return bits;
    }
    int ScalefactorBits(const QuantisedGranule& g) const override {
        int bits = 0;
        for (int s : g.scalefactors) {
            if (s > 15) return -1;
            bits += s > 0 ? 4 : 0;
        }
        return bits;
    }
};

struct Lcg {
    uint32_t state = 99;
    float Next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<double>(state >> 8) / 8388608.0 - 1.0);
    }
};

class mp3enc_quant : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(BuildPsychoacousticConfig(22050, 64000, 11025.0f, false, false, config));
        model = std::make_unique<PsychoacousticModel>();
        model->Init(config);
        quantiser = std::make_unique<Quantiser>();
        quantiser->Init(16, false);
    }
    // Noise falling with frequency, like music.
    void Music(float level) {
        Lcg rng;
        spectrum.blockType = kBlockLong;
        for (int k = 0; k < kGranuleLines; ++k)
            spectrum.lines[k] = level * rng.Next() / (1.0f + static_cast<float>(k) / 20.0f);
        StereoDecision stereo;
        model->Analyse(&spectrum, 1, &input, stereo);
        // The model lets noise lie 5.5 dB under noise; 29 dB under gives the loops work at
        // these targets.
        for (int b = 0; b < input.usedBands; ++b)
            input.threshold[b] = std::max(input.energy[b] * 0.0012589254f, config.longBlocks.quiet[b]);
    }
    PsychoacousticConfig config;
    std::unique_ptr<PsychoacousticModel> model;
    std::unique_ptr<Quantiser> quantiser;
    StandInCounter counter;
    GranuleSpectrum spectrum;
    QuantiserInput input;
    QuantisedGranule out;
    QuantiserResult result;
};

TEST_F(mp3enc_quant, DequantisationFollowsTheStandardFormula) {
    Music(20000.0f);
    ASSERT_TRUE(quantiser->Quantise(input, 3000, counter, out, result));
    float noise[kMaxQuantiserBands];
    quantiser->BandNoise(input, out, noise);
    for (int b = 0; b < input.bands; ++b) {
        const int pre = out.preflag != 0 ? kPretab[b] : 0;
        const int sf = b < 21 ? out.scalefactors[b] : 0;
        const double gain = std::pow(2.0, (out.globalGain - 210) / 4.0) *
                            std::pow(2.0, -0.5 * (1 + out.scalefacScale) * (sf + pre));
        double sum = 0.0;
        for (int k = input.bounds[b]; k < input.bounds[b + 1]; ++k) {
            const double x = static_cast<double>(input.lines[k]) / 32768.0;
            const int q = out.values[k];
            ASSERT_EQ(q < 0, x < 0.0 && q != 0) << "sign of line " << k;
            const double y = (q < 0 ? -1.0 : 1.0) * std::pow(std::abs(q), 4.0 / 3.0) * gain;
            sum += (x - y) * (x - y);
            // The standard's rounding: nint((|x| / step)^(3/4) - 0.0946).
            const double v = std::pow(std::fabs(x) / gain, 0.75) - 0.0946 + 0.5;
            const double fraction = v - std::floor(v);
            if (fraction > 1e-4 && fraction < 1.0 - 1e-4) {
                EXPECT_EQ(std::abs(q), static_cast<int>(v)) << k;
            }
        }
        EXPECT_NEAR(noise[b], sum, 1e-4 * sum + 1e-12) << b;
    }
}

TEST_F(mp3enc_quant, TargetHoldsAndNoiseFallsWithMoreBits) {
    Music(20000.0f);
    float previous = 1e30f;
    for (int target : {600, 1200, 2400, 4000, 8000}) {
        ASSERT_TRUE(quantiser->Quantise(input, target, counter, out, result)) << target;
        EXPECT_LE(result.bits, target);
        EXPECT_EQ(result.bits, counter.SpectrumBits(out) + counter.ScalefactorBits(out));
        EXPECT_LE(result.overNoiseDb, previous + 1e-3f) << target;
        previous = result.overNoiseDb;
    }
    EXPECT_EQ(result.bandsOver, 0) << "8000 bits are enough for this granule";
}

TEST_F(mp3enc_quant, NoisyBandsGetFinerSteps) {
    Music(20000.0f);
    // One band demands far less noise than the others.
    const int band = 8;
    input.threshold[band] *= 1e-3f;
    ASSERT_TRUE(quantiser->Quantise(input, 6000, counter, out, result));
    int others = 0;
    for (int b = 0; b < 21; ++b) others = std::max(others, b == band ? 0 : out.scalefactors[b]);
    EXPECT_GT(out.scalefactors[band], others);
    EXPECT_GE(result.rounds, 2);
}

// At the full rates the start follows the thresholds' shape, and no band the input holds is
// emptied even where the thresholds (raised by a tight allowance) lie above its energy; the
// half rates start from one step, which leaves a quiet treble out.
TEST(mp3enc_quant_start, FullRatesKeepAQuietTrebleTheHalfRatesDrop) {
    struct Case {
        int rate;
        bool mpeg1;
        bool trebleKept;
    };
    for (const Case c : {Case{44100, true, true}, Case{22050, false, false}}) {
        SCOPED_TRACE(c.rate);
        PsychoacousticConfig config;
        ASSERT_TRUE(BuildPsychoacousticConfig(c.rate, 128000, 0.45f * static_cast<float>(c.rate), false, false, config));
        QuantiserInput input;
        input.blockType = kBlockLong;
        input.windows = 1;
        input.bands = config.longBlocks.count;
        input.usedBands = config.longBlocks.used;
        for (int b = 0; b <= input.bands; ++b) input.bounds[b] = config.longBlocks.bounds[b];
        // Loud lines in the low bands, a treble 60 dB down; every threshold 6 dB over the
        // treble's energy, a little over a tenth of the low bands' (the allowance at work).
        const int treble = 16;
        Lcg rng;
        for (int k = 0; k < kGranuleLines; ++k) {
            const int b = [&] {
                int at = 0;
                while (at + 1 < input.bands && input.bounds[at + 1] <= k) ++at;
                return at;
            }();
            const float level = b < 8 ? 20000.0f : (b >= treble && b < treble + 3 ? 20.0f : 0.0f);
            input.lines[k] = level * rng.Next();
        }
        for (int b = 0; b < input.bands; ++b) {
            double e = 0.0;
            for (int k = input.bounds[b]; k < input.bounds[b + 1]; ++k) e += std::pow(static_cast<double>(input.lines[k]) / 32768.0, 2);
            input.energy[b] = static_cast<float>(e);
        }
        for (int b = 0; b < input.bands; ++b)
            input.threshold[b] = b < 8 ? 0.08f * input.energy[b] : 4.0f * input.energy[treble];
        Quantiser quantiser;
        quantiser.Init(4, c.mpeg1);
        QuantisedGranule out;
        QuantiserResult result;
        StandInCounter counter;
        ASSERT_TRUE(quantiser.Quantise(input, 800, counter, out, result));
        int trebleValues = 0;
        for (int k = input.bounds[treble]; k < input.bounds[treble + 3]; ++k) trebleValues += out.values[k] != 0;
        if (c.trebleKept) {
            EXPECT_GT(trebleValues, 0) << "the treble left out";
        } else {
            EXPECT_EQ(trebleValues, 0);
        }
    }
}

TEST_F(mp3enc_quant, SilenceCodesToNothing) {
    for (float& v : spectrum.lines) v = 0.0f;
    StereoDecision stereo;
    model->Analyse(&spectrum, 1, &input, stereo);
    ASSERT_TRUE(quantiser->Quantise(input, 100, counter, out, result));
    for (int v : out.values) ASSERT_EQ(v, 0);
    for (int s : out.scalefactors) ASSERT_EQ(s, 0);
    EXPECT_EQ(counter.ScalefactorBits(out), 0);
}

TEST_F(mp3enc_quant, ExtremeInputStaysWithinTheEscapeRange) {
    // A full-scale square wave's lines reach far above a sine's.
    spectrum.blockType = kBlockLong;
    for (int k = 0; k < kGranuleLines; ++k) spectrum.lines[k] = (k % 2 == 0 ? 1.0f : -1.0f) * 32768.0f * 40.0f;
    StereoDecision stereo;
    model->Analyse(&spectrum, 1, &input, stereo);
    quantiser->Quantise(input, 4000, counter, out, result);
    for (int v : out.values) ASSERT_LE(std::abs(v), kMaxQuantised);
    EXPECT_GE(out.globalGain, 0);
    EXPECT_LE(out.globalGain, 255);
}

TEST_F(mp3enc_quant, ShortBlocksUseTheirWindowsBands) {
    Lcg rng;
    spectrum.blockType = kBlockShort;
    for (int k = 0; k < kGranuleLines; ++k) spectrum.lines[k] = 8000.0f * rng.Next();
    StereoDecision stereo;
    model->Analyse(&spectrum, 1, &input, stereo);
    ASSERT_EQ(input.bands, 39);
    ASSERT_TRUE(quantiser->Quantise(input, 2000, counter, out, result));
    EXPECT_LE(result.bits, 2000);
    EXPECT_EQ(out.blockType, kBlockShort);
    // Band steps include the subblock gain of the window.
    QuantisedGranule g = out;
    g.subblockGain[1] = 2;
    EXPECT_EQ(Quantiser::BandStep(g, 3 * 4 + 1, 3), Quantiser::BandStep(out, 3 * 4 + 1, 3) - 16);
    EXPECT_EQ(Quantiser::BandStep(g, 3 * 4 + 2, 3), Quantiser::BandStep(out, 3 * 4 + 2, 3));
}

// Quantising to thresholds: every band that can be coded ends under its threshold, also when
// some bands are masked outright (they must not pull the global gain to the top, leaving
// the others scale factors no coding carries) or need steps near the escape limit.
TEST_F(mp3enc_quant, ThresholdsHoldBandByBand) {
    for (const float level : {20.0f, 2000.0f, 20000.0f, 32768.0f * 30.0f}) {
        Music(level);
        // Every third band masked whatever it holds.
        for (int b = 0; b < input.usedBands; b += 3) input.threshold[b] = 1e30f;
        ASSERT_TRUE(quantiser->QuantiseToThresholds(input, 1 << 20, counter, out, result)) << level;
        for (int v : out.values) ASSERT_LE(std::abs(v), kMaxQuantised);
        ASSERT_GE(counter.ScalefactorBits(out), 0);
        EXPECT_EQ(result.bandsOver, 0) << level;
        EXPECT_EQ(result.bits, counter.SpectrumBits(out) + counter.ScalefactorBits(out));
    }
}

TEST_F(mp3enc_quant, ThresholdsCostMoreBitsTheLowerTheyAre) {
    Music(20000.0f);
    const QuantiserInput base = input;
    int previous = -1;
    for (const float factor : {100.0f, 10.0f, 1.0f, 0.1f, 0.01f}) {
        input = base;
        for (int b = 0; b < input.bands; ++b) input.threshold[b] *= factor;
        ASSERT_TRUE(quantiser->QuantiseToThresholds(input, 1 << 20, counter, out, result)) << factor;
        EXPECT_GT(result.bits, previous) << factor;
        previous = result.bits;
    }
    // A limit below the need: the limit holds, the noise rises.
    input = base;
    quantiser->QuantiseToThresholds(input, previous / 4, counter, out, result);
    EXPECT_LE(result.bits, previous / 4);
    EXPECT_GT(result.bandsOver, 0);
}

}  // namespace
}  // namespace velora::enc
