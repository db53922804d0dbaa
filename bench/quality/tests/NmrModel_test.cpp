// The masking model on signals whose audibility is known in advance: no error, an error
// far below or at the signal, an error beside or far from a loud tone, and a tone against
// the threshold in quiet.
#include <gtest/gtest.h>

#include <cmath>

#include "NmrAnalysis.h"
#include "NmrModel.h"
#include "TestSignals.h"

namespace velora::bench {
namespace {

using test::AddBandNoise;
using test::AddTone;
using test::Mix;
using test::Silence;
using test::WhiteNoise;

constexpr int kRate = 44100;
constexpr size_t kLength = 2 * kRate;

NmrResult Analyse(const Signal& original, const Signal& decoded) {
    NmrModel model;
    EXPECT_TRUE(model.Init(original.rate));
    return AnalyseNmr(original, decoded, 0, original.Length(), model);
}

// Music-like: a few tones over quiet noise.
Signal Program() {
    Signal s = WhiteNoise(kRate, 2, kLength, 300.0, 1);
    AddTone(s, 220.0, 6000.0);
    AddTone(s, 1375.0, 3000.0);
    AddTone(s, 5100.0, 1000.0);
    return s;
}

TEST(BenchQualityNmr, IdenticalSignalsHaveNoNoise) {
    const Signal s = Program();
    const NmrResult r = Analyse(s, s);
    ASSERT_GT(r.frames, 80);
    EXPECT_EQ(r.skipped, 0);
    EXPECT_DOUBLE_EQ(r.meanDb, kNmrFloorDb);
    EXPECT_EQ(r.audibleShare, 0.0);
}

TEST(BenchQualityNmr, NoiseFarBelowAndAtTheSignalLevel) {
    const Signal original = WhiteNoise(kRate, 2, kLength, 3000.0, 2);
    const Signal error = WhiteNoise(kRate, 2, kLength, 3000.0, 3);
    // 50 dB down: noise masks noise some 6 dB below itself, so about -44 dB.
    const NmrResult quiet = Analyse(original, Mix(original, error, std::pow(10.0, -50.0 / 20.0)));
    EXPECT_LT(quiet.meanDb, -35.0);
    EXPECT_GT(quiet.meanDb, -50.0);
    EXPECT_EQ(quiet.audibleShare, 0.0);
    // As loud as the signal: about +6 dB, in every frame.
    const NmrResult loud = Analyse(original, Mix(original, error, 1.0));
    EXPECT_GT(loud.meanDb, 3.0);
    EXPECT_LT(loud.meanDb, 15.0);
    EXPECT_EQ(loud.audibleShare, 1.0);
    EXPECT_GT(loud.loudShare, 0.5);
}

TEST(BenchQualityNmr, RatioFollowsTheNoiseLevel) {
    // Well above the threshold in quiet the mask does not depend on the error: 10 dB more
    // error is 10 dB more NMR in every frame.
    const Signal original = Program();
    const Signal error = WhiteNoise(kRate, 2, kLength, 100.0, 4);
    const NmrResult a = Analyse(original, Mix(original, error, 1.0));
    const NmrResult b = Analyse(original, Mix(original, error, std::sqrt(10.0)));
    EXPECT_NEAR(b.meanDb - a.meanDb, 10.0, 0.01);
    EXPECT_NEAR(b.meanMaxDb - a.meanMaxDb, 10.0, 0.01);
}

TEST(BenchQualityNmr, LoudToneMasksNoiseBesideItOnly) {
    Signal original = Silence(kRate, 1, kLength);
    AddTone(original, 1000.0, 16000.0);
    // The same narrow noise, 40 dB below the tone, just above it or four octaves higher.
    const double rms = 16000.0 / std::sqrt(2.0) * 0.01;
    Signal nearTone = original;
    AddBandNoise(nearTone, 1080.0, 1180.0, rms, 5);
    Signal farFromTone = original;
    AddBandNoise(farFromTone, 6000.0, 6100.0, rms, 5);
    const NmrResult hidden = Analyse(original, nearTone);
    const NmrResult exposed = Analyse(original, farFromTone);
    EXPECT_LT(hidden.meanMaxDb, 0.0);
    EXPECT_EQ(hidden.audibleShare, 0.0);
    EXPECT_GT(exposed.meanMaxDb, 20.0);
    EXPECT_EQ(exposed.audibleShare, 1.0);
}

TEST(BenchQualityNmr, MaskingSpreadsFurtherUpwardThanDownward) {
    // Noise 1.5 Bark above a 2 kHz tone hides better than the same noise 1.5 Bark below it.
    Signal original = Silence(kRate, 1, kLength);
    AddTone(original, 2000.0, 16000.0);
    const double rms = 16000.0 / std::sqrt(2.0) * 0.02;
    Signal above = original;
    AddBandNoise(above, 2450.0, 2550.0, rms, 7);
    Signal below = original;
    AddBandNoise(below, 1550.0, 1650.0, rms, 7);
    const NmrResult up = Analyse(original, above);
    const NmrResult down = Analyse(original, below);
    EXPECT_LT(up.meanMaxDb, down.meanMaxDb - 5.0);
}

TEST(BenchQualityNmr, ToneInSilenceAgainstTheThresholdInQuiet) {
    // At 22050 Hz a half-Bark band near 1 kHz holds a Hann lobe whole.
    constexpr int kLowRate = 22050;
    NmrModel model;
    ASSERT_TRUE(model.Init(kLowRate));
    int band = 0;
    while (model.Band(band).highHz <= 1000.0) ++band;
    const double hz = 0.5 * (model.Band(band).lowHz + model.Band(band).highHz);
    // The band's threshold is its lowest, at its top bin.
    const double quietDb = NmrModel::QuietThresholdDb(model.Band(band).highHz - kLowRate / 2048.0);
    const Signal silence = Silence(kLowRate, 1, kLowRate);
    for (const double spl : {quietDb + 15.0, quietDb - 10.0}) {
        Signal decoded = silence;
        AddTone(decoded, hz, 32768.0 * std::pow(10.0, (spl - NmrModel::kFullScaleSineSpl) / 20.0));
        const NmrResult r = AnalyseNmr(silence, decoded, 0, silence.Length(), model);
        if (spl > quietDb) {
            ASSERT_GT(r.frames, 15);
            EXPECT_NEAR(r.meanMaxDb, 15.0, 0.3);
            for (const NmrFrame& f : r.frameList) EXPECT_EQ(f.maxBand, band);
        } else {
            // Nothing audible in the original or the error: no frame to judge.
            EXPECT_EQ(r.frames, 0);
            EXPECT_GT(r.skipped, 15);
        }
    }
}

TEST(BenchQualityNmr, BandsCoverTheSpectrum) {
    for (const int rate : {22050, 44100, 48000}) {
        NmrModel model;
        ASSERT_TRUE(model.Init(rate));
        EXPECT_EQ(model.Band(0).firstBin, 0);
        EXPECT_EQ(model.Band(model.BandCount() - 1).endBin, NmrModel::kFrameSize / 2 + 1);
        for (int b = 1; b < model.BandCount(); ++b) {
            EXPECT_EQ(model.Band(b).firstBin, model.Band(b - 1).endBin);
            EXPECT_NEAR(model.Band(b).centreBark - model.Band(b - 1).centreBark, NmrModel::kBandBark, 0.3);
        }
        // Half-Bark bands up to Nyquist.
        EXPECT_NEAR(model.BandCount(), NmrModel::Bark(rate / 2.0) / NmrModel::kBandBark, 1.0);
    }
}

TEST(BenchQualityNmr, PureToneCountsAsTonalNoiseDoesNot) {
    NmrModel model;
    ASSERT_TRUE(model.Init(kRate));
    Signal tone = Silence(kRate, 1, NmrModel::kFrameSize);
    AddTone(tone, 1000.0, 10000.0);
    std::vector<double> mask(static_cast<size_t>(model.BandCount()));
    model.MaskedThreshold(tone.channels[0].data(), mask.data());
    int band = 0;
    while (model.Band(band).highHz <= 1000.0) ++band;
    EXPECT_DOUBLE_EQ(model.LastTonality(band), 1.0);
    const Signal noise = WhiteNoise(kRate, 1, NmrModel::kFrameSize, 3000.0, 6);
    model.MaskedThreshold(noise.channels[0].data(), mask.data());
    double sum = 0.0;
    for (int b = 0; b < model.BandCount(); ++b) {
        EXPECT_LT(model.LastTonality(b), 0.5) << "band " << b;
        sum += model.LastTonality(b);
    }
    EXPECT_LT(sum / model.BandCount(), 0.2);
}

}  // namespace
}  // namespace velora::bench
