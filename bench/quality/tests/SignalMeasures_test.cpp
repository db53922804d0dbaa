// The lag search, SNR, segmental SNR and bandwidth on signals with known answers.
#include <gtest/gtest.h>

#include <cmath>

#include "Alignment.h"
#include "BandEnvelope.h"
#include "Fft.h"
#include "SignalMeasures.h"
#include "TestSignals.h"

namespace velora::bench {
namespace {

using test::Mix;
using test::Silence;
using test::WhiteNoise;

constexpr int kRate = 44100;

TEST(BenchQualityMeasures, LagSearchFindsTheDelayEitherWay) {
    const Signal original = WhiteNoise(kRate, 2, 3 * kRate, 2000.0, 11);
    const Signal noise = WhiteNoise(kRate, 2, 3 * kRate, 2000.0, 12);
    // A decoder's output: delayed (or early), with coding noise 10 dB down.
    const Signal coded = Mix(original, noise, std::pow(10.0, -10.0 / 20.0));
    for (const long lag : {0L, 1201L, 1105L, -300L, 8000L}) {
        const Signal decoded = Shift(coded, -lag, coded.Length() + 9000);
        const Alignment a = FindLag(MonoSum(original), MonoSum(decoded), 8192);
        EXPECT_EQ(a.lag, lag);
        EXPECT_GT(a.correlation, 0.9);
        EXPECT_LT(a.correlation, 0.99);
        // Shifting back lines it up again.
        const Signal aligned = Shift(decoded, a.lag, original.Length());
        size_t begin = 0;
        size_t end = 0;
        OverlapRange(a.lag, original.Length(), decoded.Length(), begin, end);
        EXPECT_NEAR(SnrDb(original, aligned, begin, end), 10.0, 0.1);
    }
}

TEST(BenchQualityMeasures, LagSearchTakesTheNearestOfEqualLagsOfAPeriodicSignal) {
    // A pure tone matches itself at every whole number of periods: a copy is not delayed,
    // and a copy delayed by less than a period keeps that delay.
    Signal original = Silence(kRate, 2, 3 * kRate);
    test::AddTone(original, 440.0, 10000.0);
    for (const long lag : {0L, 40L, -60L}) {
        const Signal decoded = Shift(original, -lag, original.Length());
        EXPECT_EQ(FindLag(MonoSum(original), MonoSum(decoded), 8192).lag, lag);
    }
}

TEST(BenchQualityMeasures, SnrAndSegmentalSnrOfKnownNoise) {
    const Signal original = WhiteNoise(kRate, 2, kRate, 3000.0, 13);
    const Signal noise = WhiteNoise(kRate, 2, kRate, 3000.0, 14);
    const Signal decoded = Mix(original, noise, 0.1);
    EXPECT_NEAR(SnrDb(original, decoded, 0, original.Length()), 20.0, 0.1);
    EXPECT_NEAR(SegmentalSnrDb(original, decoded, 0, original.Length()), 20.0, 0.3);
    EXPECT_TRUE(std::isinf(SnrDb(original, original, 0, original.Length())));
    // Each segment's figure is clamped: a copy scores the ceiling, noise alone the floor.
    EXPECT_DOUBLE_EQ(SegmentalSnrDb(original, original, 0, original.Length()), 35.0);
    const Signal awful = Mix(original, noise, 10.0);
    EXPECT_DOUBLE_EQ(SegmentalSnrDb(original, awful, 0, original.Length()), -10.0);
}

TEST(BenchQualityMeasures, BandwidthOfBrickwallFilteredNoise) {
    constexpr int kSize = 1 << 17;
    for (const double cutoff : {8000.0, 16000.0}) {
        Signal s = WhiteNoise(kRate, 1, kSize, 3000.0, 15);
        // Cut in one long FFT: the spectrum above the cut-off is exactly zero.
        math::RealFft fft;
        ASSERT_TRUE(fft.Init(kSize));
        std::vector<float> re(kSize / 2 + 1), im(kSize / 2 + 1);
        fft.Forward(s.channels[0].data(), re.data(), im.data());
        for (size_t k = 0; k < re.size(); ++k)
            if (static_cast<double>(k) * kRate / kSize > cutoff) re[k] = im[k] = 0.0f;
        fft.Inverse(re.data(), im.data(), s.channels[0].data());
        EXPECT_NEAR(BandwidthHz(s, 0, s.Length()), cutoff, 150.0);
        // 20 dB down is reached in the same place: the edge is steep.
        EXPECT_NEAR(BandwidthHz(s, 0, s.Length(), 20.0), cutoff, 100.0);
    }
}

// The envelope measure: a copy matches exactly, a level change shows as that many dB in
// every segment, an emptied band as far below, and a rebuilt band of other noise with the
// same level lands near 0 dB (its waveform does not matter).
TEST(BenchQualityMeasures, EnvelopeFollowsBandEnergyNotWaveform) {
    const std::vector<double> edges = {8000.0, 10000.0, 12000.0, 16000.0};
    const Signal original = WhiteNoise(kRate, 2, 4 * kRate, 3000.0, 21);
    EnvelopeResult e = CompareEnvelope(original, original, 0, original.Length(), edges);
    ASSERT_GT(e.segments, 0);
    EXPECT_NEAR(e.meanAbsDb, 0.0, 1e-6);
    EXPECT_DOUBLE_EQ(e.within6Share, 1.0);

    const Signal louder = Mix(Silence(kRate, 2, original.Length()), original, 2.0);
    e = CompareEnvelope(original, louder, 0, original.Length(), edges);
    EXPECT_NEAR(e.meanDb, 20.0 * std::log10(2.0), 0.01);

    const Signal other = WhiteNoise(kRate, 2, 4 * kRate, 3000.0, 22);
    e = CompareEnvelope(original, other, 0, original.Length(), edges);
    EXPECT_NEAR(e.meanDb, 0.0, 0.5);
    EXPECT_LT(e.meanAbsDb, 2.0);
    EXPECT_GT(e.within6Share, 0.95);

    const Signal empty = Silence(kRate, 2, original.Length());
    e = CompareEnvelope(original, empty, 0, original.Length(), edges);
    EXPECT_LT(e.meanDb, -100.0);
    EXPECT_DOUBLE_EQ(e.within6Share, 0.0);
}

}  // namespace
}  // namespace velora::bench
