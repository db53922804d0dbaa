// The PEAQ-style model on signals whose ranking by ear is known: no difference, white noise
// ever louder, a change of level against noise, noise beside a loud tone or far from it,
// and noise just before an attack (pre-echo, which nothing masks) or just after a burst
// (forward masking hides it).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "PeaqAnalysis.h"
#include "TestSignals.h"

namespace velora::bench {
namespace {

using test::AddBandNoise;
using test::AddTone;
using test::Mix;
using test::Silence;
using test::WhiteNoise;

constexpr int kRate = 44100;
constexpr size_t kLength = 3 * kRate;

PeaqResult Grade(const Signal& reference, const Signal& test) {
    const PeaqResult r = AnalysePeaq(reference, test, 0, reference.Length());
    EXPECT_TRUE(r.ok);
    std::printf("  odg %6.3f di %6.3f | bw %.0f %.0f nmr %.2f dB wmd %.2f adb %.3f ehs %.3f amd %.2f %.2f nl %.3f "
                "mfpd %.3f rdf %.3f\n",
                r.grade.odg, r.grade.distortionIndex, r.movs.bandwidthRef, r.movs.bandwidthTest, r.movs.totalNmrDb,
                r.movs.winModDiff1, r.movs.adb, r.movs.ehs, r.movs.avgModDiff1, r.movs.avgModDiff2,
                r.movs.rmsNoiseLoudness, r.movs.mfpd, r.movs.relDistFrames);
    return r;
}

// Music-like: tones over quiet wide-band noise.
Signal Program() {
    Signal s = Silence(kRate, 2, kLength);
    AddBandNoise(s, 100.0, 15000.0, 300.0, 1);
    AddTone(s, 220.0, 6000.0);
    AddTone(s, 1375.0, 3000.0);
    AddTone(s, 5100.0, 1000.0);
    return s;
}

double Gain(double db) {
    return std::pow(10.0, db / 20.0);
}

TEST(BenchQualityPeaq, IdenticalSignalsGradeImperceptible) {
    const Signal s = Program();
    const PeaqResult r = Grade(s, s);
    EXPECT_GT(r.frames, 120);
    EXPECT_GT(r.grade.odg, -0.3);
    EXPECT_LT(r.movs.totalNmrDb, -60.0);
    EXPECT_EQ(r.movs.mfpd, 0.0);
    EXPECT_EQ(r.movs.relDistFrames, 0.0);
}

TEST(BenchQualityPeaq, LouderWhiteNoiseGradesEverWorse) {
    const Signal original = Program();
    const Signal error = WhiteNoise(kRate, 2, kLength, 3000.0, 7);
    double previous = 1.0;
    double previousNmr = -1e9;
    for (double snr : {70.0, 60.0, 50.0, 44.0, 38.0, 32.0}) {
        std::printf("white noise %.0f dB below the program\n", snr);
        const PeaqResult r = Grade(original, Mix(original, error, Gain(-snr)));
        EXPECT_LT(r.grade.odg, previous) << snr;
        EXPECT_GT(r.movs.totalNmrDb, previousNmr) << snr;
        if (snr >= 70.0) {
            EXPECT_GT(r.grade.odg, -0.5);
        }
        if (snr <= 32.0) {
            EXPECT_LT(r.grade.odg, -3.0);
        }
        previous = r.grade.odg;
        previousNmr = r.movs.totalNmrDb;
    }
}

// A listener takes a slight change of level for no distortion at all; the same error energy
// as noise is plainly heard.
TEST(BenchQualityPeaq, AGainChangeIsNotNoise) {
    const Signal original = Program();
    const double gain = Gain(-0.5);
    const Signal quieter = Mix(original, original, gain - 1.0);
    const Signal error = WhiteNoise(kRate, 2, kLength, 3000.0, 7);
    double signal = 0.0;
    for (const double v : original.channels[0]) signal += v * v;
    double noise = 0.0;
    for (const double v : error.channels[0]) noise += v * v;
    std::printf("0.5 dB quieter\n");
    const PeaqResult g = Grade(original, quieter);
    std::printf("noise of the same energy as that difference\n");
    const PeaqResult n = Grade(original, Mix(original, error, (1.0 - gain) * std::sqrt(signal / noise)));
    EXPECT_GT(g.grade.odg, -0.5);
    EXPECT_GT(g.grade.odg, n.grade.odg + 1.0);
}

TEST(BenchQualityPeaq, ToneMasksNoiseBesideItNotFarAway) {
    Signal original = Silence(kRate, 1, kLength);
    AddTone(original, 1000.0, 20000.0);
    Signal near = original;
    Signal far = original;
    // The same narrow noise 30 dB under the tone: just above it, and three octaves up.
    AddBandNoise(near, 1050.0, 1150.0, 20000.0 * Gain(-30.0) / std::sqrt(2.0), 11);
    AddBandNoise(far, 8400.0, 9200.0, 20000.0 * Gain(-30.0) / std::sqrt(2.0), 11);
    std::printf("noise beside the tone\n");
    const PeaqResult n = Grade(original, near);
    std::printf("noise far from the tone\n");
    const PeaqResult f = Grade(original, far);
    EXPECT_GT(n.grade.odg, f.grade.odg + 0.5);
    EXPECT_LT(n.movs.totalNmrDb, f.movs.totalNmrDb - 10.0);
    EXPECT_LT(n.movs.rmsNoiseLoudness, f.movs.rmsNoiseLoudness);
    // The per-band report puts the far noise where it is: its bands disturbed in nearly
    // every frame, none below 5 kHz, and no band at all with the noise beside the tone.
    ASSERT_EQ(f.bandDisturbed.size(), f.bandCentreHz.size());
    for (size_t b = 0; b < f.bandCentreHz.size(); ++b) {
        const double hz = f.bandCentreHz[b];
        if (hz > 8600.0 && hz < 9000.0) {
            EXPECT_GT(f.bandDisturbed[b], 0.9) << hz;
        }
        if (hz < 5000.0) {
            EXPECT_EQ(f.bandDisturbed[b], 0.0) << hz;
        }
        EXPECT_EQ(n.bandDisturbed[b], 0.0) << hz;
    }
}

// Noise of the given RMS low-passed at 12 kHz (a windowed sinc), as coding noise and music
// are: the bandwidth variables then see the same top in every version.
std::vector<float> LowNoise(size_t length, double rms, unsigned seed) {
    constexpr int kTaps = 63;
    constexpr double kCutoff = 12000.0 / kRate;
    std::vector<double> taps(kTaps);
    double norm = 0.0;
    for (int i = 0; i < kTaps; ++i) {
        const double x = i - (kTaps - 1) / 2.0;
        const double sinc = x == 0.0 ? 2.0 * kCutoff : std::sin(2.0 * test::kPi * kCutoff * x) / (test::kPi * x);
        taps[static_cast<size_t>(i)] = sinc * (0.5 - 0.5 * std::cos(2.0 * test::kPi * i / (kTaps - 1)));
        norm += taps[static_cast<size_t>(i)] * taps[static_cast<size_t>(i)];
    }
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal(0.0, rms / std::sqrt(norm));
    std::vector<double> white(length + kTaps);
    for (double& v : white) v = normal(rng);
    std::vector<float> out(length);
    for (size_t n = 0; n < length; ++n) {
        double sum = 0.0;
        for (size_t i = 0; i < static_cast<size_t>(kTaps); ++i) sum += taps[i] * white[n + i];
        out[n] = static_cast<float>(sum);
    }
    return out;
}

constexpr size_t kClickStart = kRate / 4;
constexpr size_t kClickEvery = kRate / 2;

// A castanet-like click every half second: a burst of noise that dies away in 20 ms.
Signal Clicks() {
    Signal s = Silence(kRate, 1, kLength);
    const std::vector<float> noise = LowNoise(kLength, 8000.0, 5);
    for (size_t start = kClickStart; start + kRate / 10 < kLength; start += kClickEvery)
        for (size_t n = 0; n < kRate / 20; ++n)
            s.channels[0][start + n] += noise[start + n] * static_cast<float>(std::exp(-static_cast<double>(n) / (0.005 * kRate)));
    return s;
}

TEST(BenchQualityPeaq, PreEchoIsWorseThanTheSameNoiseAfterTheAttack) {
    const Signal original = Clicks();
    Signal before = original;
    Signal after = original;
    // 10 ms of noise 30 dB under the click: ending where it starts, or starting 30 ms later.
    const size_t span = kRate / 100;
    const std::vector<float> noise = LowNoise(kLength, 8000.0 * Gain(-30.0), 9);
    for (size_t start = kClickStart; start + kRate / 10 < kLength; start += kClickEvery)
        for (size_t n = 0; n < span; ++n) {
            const float v = noise[start + n];
            before.channels[0][start - span + n] += v;
            after.channels[0][start + 3 * span + n] += v;
        }
    std::printf("noise before the attack\n");
    const PeaqResult b = Grade(original, before);
    std::printf("noise after the attack\n");
    const PeaqResult a = Grade(original, after);
    EXPECT_LT(b.grade.odg, a.grade.odg);
    EXPECT_GT(b.movs.totalNmrDb, a.movs.totalNmrDb);
}

}  // namespace
}  // namespace velora::bench
