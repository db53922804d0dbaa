// Envelope decoding: delta decoding with mixed resolutions, range checks, dequantisation,
// coupled pairs and concealment, on hand-made band tables.
#include "SbrEnvelopeDecoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

namespace velora::sbr {
namespace {

// High-resolution bands 10 11 12 13 15 17 (5 bands, odd); low resolution takes the first
// high band alone, then pairs: 10 11 13 17; two noise bands 10 13 17.
SbrFreqData Tables() {
    SbrFreqData f;
    f.k0 = 10;
    f.k2 = 17;
    f.masterBands = 5;
    f.highBands = 5;
    const int high[] = {10, 11, 12, 13, 15, 17};
    for (int k = 0; k < 6; ++k) f.master[k] = f.high[k] = high[k];
    f.lowBands = 3;
    const int low[] = {10, 11, 13, 17};
    for (int k = 0; k < 4; ++k) f.low[k] = low[k];
    f.kx = 10;
    f.upper = 17;
    f.m = 7;
    f.noiseBandCount = 2;
    f.noise[0] = 10;
    f.noise[1] = 13;
    f.noise[2] = 17;
    return f;
}

// A frame of one envelope (borders 0..9) and one noise envelope.
SbrChannelData Frame(bool highRes, bool overTime, std::initializer_list<int> values,
                     bool noiseOverTime, std::initializer_list<int> noise) {
    SbrChannelData c;
    c.grid.envelopes = 1;
    c.grid.borders[0] = 0;
    c.grid.borders[1] = kFrameSlots;
    c.grid.freqRes[0] = highRes ? 1 : 0;
    c.grid.noiseEnvelopes = 1;
    c.grid.noiseBorders[0] = 0;
    c.grid.noiseBorders[1] = kFrameSlots;
    c.deltaTime[0] = overTime ? 1 : 0;
    c.noiseDeltaTime[0] = noiseOverTime ? 1 : 0;
    int i = 0;
    for (int v : values) c.envelope[0][i++] = v;
    i = 0;
    for (int v : noise) c.noise[0][i++] = v;
    c.valid = true;
    return c;
}

double Energy(double value, int ampRes) {
    return 64.0 * std::pow(2.0, value / (ampRes ? 1.0 : 2.0));
}
double NoiseLevel(double value) {
    return std::pow(2.0, 6.0 - value);
}

void ExpectEnergies(const SbrEnvelopeData& env, int e, std::initializer_list<double> values,
                    int ampRes) {
    int i = 0;
    for (double v : values) {
        EXPECT_FLOAT_EQ(env.envelope[e][i], static_cast<float>(Energy(v, ampRes))) << "band " << i;
        ++i;
    }
}

void ExpectReference(const SbrEnvelopeData& env, std::initializer_list<float> values) {
    int i = 0;
    for (float v : values) {
        EXPECT_EQ(env.referenceEnvelope[i], v) << "band " << i;
        ++i;
    }
}

TEST(sbr_envelope_Delta, OverFrequencyThenOverTimeWithMixedResolutions) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData env;
    ResetEnvelopes(env);

    // High resolution over frequency: 10, +2, -1, +3, 0.
    ASSERT_TRUE(DecodeEnvelopes(Frame(true, false, {10, 2, -1, 3, 0}, false, {5, 1}), f, 1, env));
    ExpectEnergies(env, 0, {10, 12, 11, 14, 14}, 1);
    ExpectReference(env, {10, 12, 11, 14, 14});
    EXPECT_FLOAT_EQ(env.noise[0][0], static_cast<float>(NoiseLevel(5)));
    EXPECT_FLOAT_EQ(env.noise[0][1], static_cast<float>(NoiseLevel(6)));

    // Low resolution over time: band 10..11 reads high band 10 (10), band 11..13 reads
    // high band 11 (12), band 13..17 reads high band 13 (14); each writes all it covers.
    ASSERT_TRUE(DecodeEnvelopes(Frame(false, true, {1, 2, -3}, true, {-1, 2}), f, 1, env));
    ExpectEnergies(env, 0, {11, 14, 11}, 1);
    ExpectReference(env, {11, 14, 14, 11, 11});
    EXPECT_FLOAT_EQ(env.noise[0][0], static_cast<float>(NoiseLevel(4)));
    EXPECT_FLOAT_EQ(env.noise[0][1], static_cast<float>(NoiseLevel(8)));

    // High resolution over time from the low-resolution reference.
    ASSERT_TRUE(DecodeEnvelopes(Frame(true, true, {0, 1, 0, 0, -1}, true, {0, 0}), f, 1, env));
    ExpectEnergies(env, 0, {11, 15, 14, 11, 10}, 1);
    EXPECT_FALSE(env.frameError);
}

TEST(sbr_envelope_Delta, EnvelopesOfOneFrameChainOverTime) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData env;
    ResetEnvelopes(env);
    SbrChannelData c;
    c.grid.envelopes = 2;
    c.grid.borders[0] = 0;
    c.grid.borders[1] = 5;
    c.grid.borders[2] = kFrameSlots;
    c.grid.freqRes[0] = 0;  // low, over frequency
    c.grid.freqRes[1] = 1;  // high, over time from envelope 0
    c.deltaTime[0] = 0;
    c.deltaTime[1] = 1;
    c.envelope[0][0] = 20;
    c.envelope[0][1] = -4;
    c.envelope[0][2] = 6;
    for (int i = 0; i < 5; ++i) c.envelope[1][i] = i;
    c.grid.noiseEnvelopes = 2;
    c.grid.noiseBorders[0] = 0;
    c.grid.noiseBorders[1] = 5;
    c.grid.noiseBorders[2] = kFrameSlots;
    c.noise[0][0] = 7;
    c.noise[0][1] = 3;
    c.noiseDeltaTime[1] = 1;
    c.noise[1][0] = -2;
    c.noise[1][1] = 1;
    ASSERT_TRUE(DecodeEnvelopes(c, f, 0, env));
    ExpectEnergies(env, 0, {20, 16, 22}, 0);
    // Envelope 0 at high resolution: 20 | 16 16 | 22 22.
    ExpectEnergies(env, 1, {20 + 0, 16 + 1, 16 + 2, 22 + 3, 22 + 4}, 0);
    EXPECT_FLOAT_EQ(env.noise[0][0], static_cast<float>(NoiseLevel(7)));
    EXPECT_FLOAT_EQ(env.noise[0][1], static_cast<float>(NoiseLevel(10)));
    EXPECT_FLOAT_EQ(env.noise[1][0], static_cast<float>(NoiseLevel(5)));
    EXPECT_FLOAT_EQ(env.noise[1][1], static_cast<float>(NoiseLevel(11)));
    EXPECT_EQ(env.grid.envelopes, 2);
    EXPECT_EQ(env.previousLastBorder, kFrameSlots);
}

TEST(sbr_envelope_Dequantise, StepSizes) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData env;
    for (int ampRes : {0, 1}) {
        ResetEnvelopes(env);
        ASSERT_TRUE(
            DecodeEnvelopes(Frame(true, false, {0, 1, 1, 1, 31}, false, {0, 6}), f, ampRes, env));
        // 1.5 dB: 64 * 2^(v/2); 3.0 dB: 64 * 2^v.
        const double step = ampRes ? 2.0 : std::sqrt(2.0);
        double expected = 64.0;
        for (int i = 0; i < 4; ++i, expected *= step) {
            EXPECT_NEAR(env.envelope[0][i], expected, expected * 1e-6) << ampRes << " " << i;
        }
        EXPECT_NEAR(env.envelope[0][4], 64.0 * std::pow(step, 34), std::pow(step, 34) * 64e-6);
        EXPECT_EQ(env.noise[0][0], 64.0f);
        EXPECT_EQ(env.noise[0][1], 1.0f);
        EXPECT_EQ(env.ampRes, ampRes);
    }
}

TEST(sbr_envelope_Range, ValueAboveLimitFallsBackToPreviousFrame) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData env;
    ResetEnvelopes(env);
    ASSERT_TRUE(DecodeEnvelopes(Frame(true, false, {40, 0, 0, -40, 0}, false, {3, 1}), f, 0, env));
    ExpectReference(env, {40, 40, 40, 0, 0});

    // 1.5 dB steps: 70 is the largest valid value, 71 damages the frame.
    SbrEnvelopeData ok = env;
    EXPECT_TRUE(DecodeEnvelopes(Frame(true, true, {30, 0, 0, 0, 0}, true, {0, 0}), f, 0, ok));
    EXPECT_FLOAT_EQ(ok.envelope[0][0], static_cast<float>(Energy(70, 0)));

    EXPECT_FALSE(DecodeEnvelopes(Frame(true, true, {31, 0, 0, 0, 0}, true, {9, 9}), f, 0, env));
    EXPECT_TRUE(env.frameError);
    // Concealed from the previous references: -1 above 0, +1 at 0; noise repeated.
    ExpectEnergies(env, 0, {39, 39, 39, 1, 1}, 0);
    ExpectReference(env, {39, 39, 39, 1, 1});
    EXPECT_FLOAT_EQ(env.noise[0][0], static_cast<float>(NoiseLevel(3)));
    EXPECT_FLOAT_EQ(env.noise[0][1], static_cast<float>(NoiseLevel(4)));
    EXPECT_EQ(env.grid.envelopes, 1);
    EXPECT_EQ(env.grid.freqRes[0], 1);

    // 3.0 dB steps: limit 35.
    ResetEnvelopes(env);
    EXPECT_TRUE(DecodeEnvelopes(Frame(true, false, {35, 0, 0, 0, 0}, false, {0, 0}), f, 1, env));
    EXPECT_FALSE(DecodeEnvelopes(Frame(true, false, {36, 0, 0, 0, 0}, false, {0, 0}), f, 1, env));
    ExpectReference(env, {34, 34, 34, 34, 34});
}

TEST(sbr_envelope_Range, NegativesAndNoiseClamped) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData env;
    ResetEnvelopes(env);
    // Over frequency the chain runs on the coded values: 2, -3, 1, 5, 0 -> clamped 2 0 1 5 0.
    ASSERT_TRUE(
        DecodeEnvelopes(Frame(true, false, {2, -5, 4, 4, -5}, false, {40, -50}), f, 1, env));
    ExpectEnergies(env, 0, {2, 0, 1, 5, 0}, 1);
    ExpectReference(env, {2, 0, 1, 5, 0});
    // Noise: 40 clamped to the limit 35, 40 - 50 = -10 clamped to 0.
    EXPECT_FLOAT_EQ(env.noise[0][0], static_cast<float>(NoiseLevel(35)));
    EXPECT_FLOAT_EQ(env.noise[0][1], static_cast<float>(NoiseLevel(0)));
    EXPECT_EQ(env.referenceNoise[0], 35.0f);
    EXPECT_EQ(env.referenceNoise[1], 0.0f);
    // Over time from a clamped reference.
    ASSERT_TRUE(DecodeEnvelopes(Frame(true, true, {-3, 1, 0, 0, 0}, true, {-1, 1}), f, 1, env));
    ExpectEnergies(env, 0, {0, 1, 1, 5, 0}, 1);
    EXPECT_FLOAT_EQ(env.noise[0][0], static_cast<float>(NoiseLevel(34)));
    EXPECT_FLOAT_EQ(env.noise[0][1], static_cast<float>(NoiseLevel(1)));
}

TEST(sbr_envelope_Concealment, DriftOverRepeatedErrors) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData env;
    ResetEnvelopes(env);
    SbrChannelData good = Frame(true, false, {3, -3, 1, 1, 5}, false, {4, 2});
    // A FIXVAR-like grid ending at slot 12.
    good.grid.borders[1] = 12;
    good.grid.noiseBorders[1] = 12;
    ASSERT_TRUE(DecodeEnvelopes(good, f, 1, env));
    ExpectReference(env, {3, 0, 1, 2, 7});
    EXPECT_EQ(env.previousLastBorder, 12);

    SbrChannelData bad = good;
    bad.frameError = true;
    const float expected[4][5] = {
        {2, 1, 0, 1, 6}, {1, 0, 1, 0, 5}, {0, 1, 0, 1, 4}, {1, 0, 1, 0, 3}};
    for (int frame = 0; frame < 4; ++frame) {
        EXPECT_FALSE(DecodeEnvelopes(bad, f, 1, env));
        // From the previous frame's end (12 - 9 = 3, then 0) to the frame end.
        EXPECT_EQ(env.grid.borders[0], frame == 0 ? 3 : 0);
        EXPECT_EQ(env.grid.borders[1], kFrameSlots);
        EXPECT_EQ(env.grid.noiseBorders[0], env.grid.borders[0]);
        EXPECT_EQ(env.grid.noiseBorders[1], kFrameSlots);
        EXPECT_EQ(env.grid.envelopes, 1);
        EXPECT_EQ(env.grid.noiseEnvelopes, 1);
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(env.referenceEnvelope[i], expected[frame][i]) << frame << " " << i;
            EXPECT_FLOAT_EQ(env.envelope[0][i], static_cast<float>(Energy(expected[frame][i], 1)));
        }
        EXPECT_FLOAT_EQ(env.noise[0][0], static_cast<float>(NoiseLevel(4)));
        EXPECT_FLOAT_EQ(env.noise[0][1], static_cast<float>(NoiseLevel(6)));
        EXPECT_EQ(env.previousLastBorder, kFrameSlots);
    }

    // The error state conceals as well.
    SbrChannelData stuck = good;
    stuck.errorState = true;
    EXPECT_FALSE(DecodeEnvelopes(stuck, f, 1, env));
    EXPECT_EQ(env.referenceEnvelope[0], 0.0f);
}

TEST(sbr_envelope_Concealment, FirstGoodFrameJoinsTheConcealedOne) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData env;
    ResetEnvelopes(env);
    SbrChannelData bad = Frame(true, false, {0, 0, 0, 0, 0}, false, {0, 0});
    bad.frameError = true;
    EXPECT_FALSE(DecodeEnvelopes(bad, f, 1, env));
    ASSERT_EQ(env.previousLastBorder, kFrameSlots);

    // A VARFIX frame starting at slot 2 expects the previous frame to have covered 0..2;
    // the concealed one stopped at 0, so the first envelope is stretched to 0..5 and its
    // energy spread over 5 slots instead of 3.
    SbrChannelData next;
    next.grid.frameClass = 2;
    next.grid.envelopes = 2;
    next.grid.borders[0] = 2;
    next.grid.borders[1] = 5;
    next.grid.borders[2] = kFrameSlots;
    next.grid.freqRes[0] = 1;
    next.grid.freqRes[1] = 1;
    next.grid.noiseEnvelopes = 2;
    next.grid.noiseBorders[0] = 2;
    next.grid.noiseBorders[1] = 5;
    next.grid.noiseBorders[2] = kFrameSlots;
    for (int i = 0; i < 5; ++i) next.envelope[0][i] = i == 0 ? 10 : 0;
    next.deltaTime[1] = 1;
    ASSERT_TRUE(DecodeEnvelopes(next, f, 1, env));
    EXPECT_EQ(env.grid.borders[0], 0);
    EXPECT_EQ(env.grid.noiseBorders[0], 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_FLOAT_EQ(env.envelope[0][i], static_cast<float>(Energy(10, 1) * 3.0 / 5.0));
        EXPECT_FLOAT_EQ(env.envelope[1][i], static_cast<float>(Energy(10, 1)));
        EXPECT_EQ(env.referenceEnvelope[i], 10.0f);  // the references stay unscaled
    }
    // The frame after is decoded as sent.
    next.grid.borders[0] = 0;
    next.grid.noiseBorders[0] = 0;
    ASSERT_TRUE(DecodeEnvelopes(next, f, 1, env));
    EXPECT_FLOAT_EQ(env.envelope[0][0], static_cast<float>(Energy(10, 1)));
}

TEST(sbr_envelope_Concealment, UnusableGridIsConcealed) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData env;
    ResetEnvelopes(env);
    SbrChannelData c = Frame(true, false, {5, 0, 0, 0, 0}, false, {1, 0});
    c.grid.envelopes = 7;
    EXPECT_FALSE(DecodeEnvelopes(c, f, 1, env));
    c.grid.envelopes = 1;
    c.grid.borders[1] = 0;
    EXPECT_FALSE(DecodeEnvelopes(c, f, 1, env));
}

TEST(sbr_envelope_Reset, ClearsReferences) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData env;
    ASSERT_TRUE(DecodeEnvelopes(Frame(true, false, {9, 1, 1, 1, 1}, false, {5, 5}), f, 1, env));
    SbrChannelData bad = Frame(true, false, {0, 0, 0, 0, 0}, false, {0, 0});
    bad.frameError = true;
    EXPECT_FALSE(DecodeEnvelopes(bad, f, 1, env));
    ResetEnvelopes(env);
    EXPECT_FALSE(env.frameError);
    EXPECT_EQ(env.previousLastBorder, kFrameSlots);
    for (float v : env.referenceEnvelope) EXPECT_EQ(v, 0.0f);
    for (float v : env.referenceNoise) EXPECT_EQ(v, 0.0f);
    ASSERT_TRUE(DecodeEnvelopes(Frame(true, true, {1, 2, 3, 4, 5}, true, {1, 2}), f, 1, env));
    ExpectEnergies(env, 0, {1, 2, 3, 4, 5}, 1);
    EXPECT_FLOAT_EQ(env.noise[0][1], static_cast<float>(NoiseLevel(2)));
}

TEST(sbr_envelope_Coupled, LevelAndBalanceFormulas) {
    const SbrFreqData f = Tables();
    for (int ampRes : {0, 1}) {
        SbrEnvelopeData left;
        SbrEnvelopeData right;
        ResetEnvelopes(left);
        ResetEnvelopes(right);
        const int levels[5] = {20, 2, -1, 3, 0};    // 20 22 21 24 24
        const int balances[5] = {12, 4, -8, 2, 6};  // 12 16 8 10 16
        SbrChannelData level = Frame(true, false, {20, 2, -1, 3, 0}, false, {6, 2});
        SbrChannelData balance = Frame(true, false, {12, 4, -8, 2, 6}, false, {12, 6});
        level.coupled = balance.coupled = true;
        balance.balance = true;
        ASSERT_TRUE(DecodeCoupledEnvelopes(level, balance, f, ampRes, left, right));
        int l = 0;
        int b = 0;
        for (int i = 0; i < 5; ++i) {
            l += levels[i];
            b += balances[i];
            const double divisor = ampRes ? 1.0 : 2.0;
            const double energy = 64.0 * std::pow(2.0, l / divisor);
            const double ratio = std::pow(2.0, b / divisor - 12.0);
            const double r = 2.0 * energy / (1.0 + ratio);
            EXPECT_FLOAT_EQ(right.envelope[0][i], static_cast<float>(r)) << ampRes << " " << i;
            EXPECT_FLOAT_EQ(left.envelope[0][i], static_cast<float>(ratio * r))
                << ampRes << " " << i;
            // The two channels add up to twice the level energy only at the neutral ratio;
            // in general left / right is the ratio.
            EXPECT_NEAR(left.envelope[0][i] / right.envelope[0][i], ratio, ratio * 1e-5);
        }
        // Noise: level 6, 8 and balance 12, 18.
        const int n1[2] = {6, 8};
        const int n2[2] = {12, 18};
        for (int i = 0; i < 2; ++i) {
            const double y = std::pow(2.0, 5.0 - n1[i]);
            const double a = std::pow(2.0, 12.0 - n2[i]);
            EXPECT_FLOAT_EQ(left.noise[0][i], static_cast<float>(y * (a + 1.0)));
            EXPECT_FLOAT_EQ(right.noise[0][i], static_cast<float>(y * (1.0 + 1.0 / a)));
        }
        EXPECT_TRUE(right.balance);
        EXPECT_FALSE(left.balance);
    }
}

TEST(sbr_envelope_Coupled, NeutralBalanceGivesEqualChannels) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData left;
    SbrEnvelopeData right;
    SbrEnvelopeData single;
    // At 3.0 dB steps the neutral balance is 12 (ratio 2^(12 - 12) = 1).
    SbrChannelData level = Frame(true, false, {20, 2, -1, 3, 0}, false, {6, 2});
    SbrChannelData balance = Frame(true, false, {12, 0, 0, 0, 0}, false, {12, 0});
    ASSERT_TRUE(DecodeCoupledEnvelopes(level, balance, f, 1, left, right));
    ASSERT_TRUE(DecodeEnvelopes(level, f, 1, single));
    for (int i = 0; i < 5; ++i) {
        EXPECT_FLOAT_EQ(left.envelope[0][i], right.envelope[0][i]);
        EXPECT_FLOAT_EQ(left.envelope[0][i], single.envelope[0][i]);
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_FLOAT_EQ(left.noise[0][i], right.noise[0][i]);
        EXPECT_FLOAT_EQ(left.noise[0][i], single.noise[0][i]);
    }
}

TEST(sbr_envelope_Coupled, ConcealmentDriftsBalanceToNeutral) {
    const SbrFreqData f = Tables();
    SbrEnvelopeData left;
    SbrEnvelopeData right;
    SbrChannelData level = Frame(true, false, {2, 0, 0, 0, 0}, false, {6, 0});
    SbrChannelData balance = Frame(true, false, {14, -4, 0, 2, 0}, false, {12, 0});
    ASSERT_TRUE(DecodeCoupledEnvelopes(level, balance, f, 1, left, right));
    // Balance references 14 10 10 12 12.
    level.frameError = true;
    const float expected[3][5] = {{13.5f, 10.5f, 10.5f, 12.5f, 12.5f},
                                  {13.0f, 11.0f, 11.0f, 12.0f, 12.0f},
                                  {12.5f, 11.5f, 11.5f, 12.5f, 12.5f}};
    for (int frame = 0; frame < 3; ++frame) {
        EXPECT_FALSE(DecodeCoupledEnvelopes(level, balance, f, 1, left, right));
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(right.referenceEnvelope[i], expected[frame][i]) << frame << " " << i;
        }
        EXPECT_TRUE(left.frameError);
        EXPECT_TRUE(right.frameError);
        EXPECT_EQ(right.grid.borders[0], left.grid.borders[0]);
    }
    // Level references 2 2 2 2 2 -> 1, 0, 1.
    EXPECT_EQ(left.referenceEnvelope[0], 1.0f);

    // A range error in the balance channel conceals both and restores both references.
    SbrEnvelopeData leftBefore = left;
    SbrEnvelopeData rightBefore = right;
    level.frameError = false;
    SbrChannelData loud = Frame(true, false, {40, 0, 0, 0, 0}, false, {12, 0});
    EXPECT_FALSE(DecodeCoupledEnvelopes(level, loud, f, 1, left, right));
    EXPECT_EQ(left.referenceEnvelope[0],
              leftBefore.referenceEnvelope[0] > 0 ? leftBefore.referenceEnvelope[0] - 1 : 1);
    EXPECT_EQ(right.referenceEnvelope[0], rightBefore.referenceEnvelope[0] - 0.5f);
}

}  // namespace
}  // namespace velora::sbr
