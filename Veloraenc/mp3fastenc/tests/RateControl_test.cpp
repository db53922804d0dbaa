// Rate control: frame lengths and padding for an exact mean rate, reservoir limits, the
// bit shares and the raising of thresholds to an entropy allowance.
#include "RateControl.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velora::enc {
namespace {

TEST(mp3enc_rate, PaddingKeepsTheMeanRateExact) {
    struct Case {
        int rate;
        int samples;
        int kbps;
    };
    for (const Case c : {Case{44100, 1152, 128}, Case{22050, 576, 64}, Case{11025, 576, 32}, Case{48000, 1152, 64}}) {
        PaddingClock clock;
        clock.Init(c.kbps * 1000, c.samples, c.rate);
        const int64_t wholeBytes = int64_t{c.kbps} * 1000 * c.samples / 8 / c.rate;
        const int frames = 10000;
        int64_t bits = 0;
        for (int f = 0; f < frames; ++f) bits += 8 * (wholeBytes + (clock.Next() ? 1 : 0));
        const double seconds = static_cast<double>(frames) * c.samples / c.rate;
        EXPECT_NEAR(static_cast<double>(bits) / seconds, c.kbps * 1000.0, 8.0 / seconds) << c.rate;
    }
}

TEST(mp3enc_rate, SharesKeepAFloorOfFifteenPercent) {
    float f[2];
    const float pe[2] = {1000.0f, 0.0f};
    ShareBits(pe, 2, f);
    EXPECT_FLOAT_EQ(f[0], 0.85f);
    EXPECT_FLOAT_EQ(f[1], 0.15f);
    const float none[2] = {0.0f, 0.0f};
    ShareBits(none, 2, f);
    EXPECT_FLOAT_EQ(f[0], 0.15f);
    const float one[1] = {5.0f};
    ShareBits(one, 1, f);
    EXPECT_FLOAT_EQ(f[0], 1.0f);
}

TEST(mp3enc_rate, ThresholdsRiseUntilTheEntropyFits) {
    QuantiserInput in;
    in.bands = in.usedBands = 4;
    for (int b = 0; b <= 4; ++b) in.bounds[b] = 10 * b;
    for (int b = 0; b < 4; ++b) {
        in.energy[b] = 1.0f;
        in.threshold[b] = 1e-4f;  // 40 dB of signal to mask: 40 x 0.5 x log2(1e4) bits
        in.tonality[b] = b < 2 ? 1.0f : 0.0f;
    }
    const float before = PerceptualEntropy(in);
    EXPECT_NEAR(before, 40.0f * 0.5f * std::log2(1e4f), 0.1f);
    const float raise = RaiseToAllowance(in, 0.5f * before);
    EXPECT_GT(raise, 0.0f);
    EXPECT_NEAR(PerceptualEntropy(in), 0.5f * before, 0.01f * before);
    EXPECT_GT(in.threshold[3], 10.0f * in.threshold[0]) << "noise-like bands rise first";
    // Within the allowance nothing changes.
    const float t0 = in.threshold[0];
    EXPECT_EQ(RaiseToAllowance(in, 1e9f), 0.0f);
    EXPECT_EQ(in.threshold[0], t0);
}

TEST(mp3enc_rate, AllowanceGrowsWithTheReservoirAndAdapts) {
    CbrAllowance a;
    a.Reset();
    EXPECT_FLOAT_EQ(a.Allowance(1000.0f, 0.0f, false), 1.18f * 900.0f);
    EXPECT_FLOAT_EQ(a.Allowance(1000.0f, 5000.0f, false), 1.18f * 1500.0f);
    EXPECT_FLOAT_EQ(a.Allowance(1000.0f, 5000.0f, true), 1.18f * 2000.0f);
    for (int i = 0; i < 10; ++i) a.Update(1000, 500);
    EXPECT_GT(a.Factor(), 1.1f);
    for (int i = 0; i < 100; ++i) a.Update(1000, 1500);
    EXPECT_FLOAT_EQ(a.Factor(), 0.5f);
}

// The reservoir plan, granule by granule after a steady run that sets the mean entropy to
// 1000: easy granules save (never past the reservoir's room), dense ones and short blocks
// spend, a nearly full reservoir gives back its overflow.
TEST(mp3enc_rate, ReservoirPlanSavesInEasyGranulesAndSpendsOnHardOnes) {
    struct Case {
        float reservoir;
        float entropy;
        bool shortBlocks;
        float low, high;  // the target's range
    };
    constexpr float kMean = 1500.0f;
    constexpr float kMax = 4088.0f;  // 511 bytes
    const Case cases[] = {
        {0.0f, 1000.0f, false, kMean, kMean},                 // average: the mean
        {1000.0f, 1000.0f, false, kMean, kMean},
        {1000.0f, 200.0f, false, 0.85f * kMean, 0.95f * kMean},  // easy: saves
        {0.0f, 0.0f, false, 0.85f * kMean, 0.95f * kMean},      // the most it saves
        {kMax - 20.0f, 0.0f, false, kMean + 300.0f, kMean + 400.0f},  // full: overflow, no saving
        {1000.0f, 2000.0f, false, kMean + 200.0f, kMean + 400.0f},   // dense: draws the reservoir
        {1000.0f, 9000.0f, false, kMean + 200.0f, kMean + 400.0f},   // no more than its share
        {1000.0f, 1000.0f, true, kMean + 500.0f, kMean + 700.0f},    // attack: the most
        {0.0f, 9000.0f, true, kMean, kMean},                         // nothing left to draw
    };
    for (const Case& c : cases) {
        ReservoirPlanner p;
        p.Reset();
        for (int i = 0; i < 10; ++i) p.Target(kMean, 0.0f, kMax, 1000.0f, false);
        ASSERT_FLOAT_EQ(p.MeanEntropy(), 1000.0f);
        const float target = p.Target(kMean, c.reservoir, kMax, c.entropy, c.shortBlocks);
        EXPECT_GE(target, c.low) << c.reservoir << " " << c.entropy << " " << c.shortBlocks;
        EXPECT_LE(target, c.high) << c.reservoir << " " << c.entropy << " " << c.shortBlocks;
        if (c.shortBlocks) {
            EXPECT_FLOAT_EQ(p.MeanEntropy(), 1000.0f) << "short blocks leave the mean alone";
        }
    }
    // Saving stops at the reservoir's room: what is saved must fit.
    ReservoirPlanner p;
    p.Reset();
    p.Target(kMean, 0.0f, kMax, 1000.0f, false);
    EXPECT_FLOAT_EQ(p.Target(kMean, kMax - 10.0f, kMax, 0.0f, false), kMean - 10.0f + (kMax - 10.0f - 0.9f * kMax));
}

}  // namespace
}  // namespace velora::enc
