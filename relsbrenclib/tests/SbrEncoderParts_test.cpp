// The encoder's parts against the decoder's own code: every grid the chooser makes passes
// the parser's checks and comes back unchanged through the writer; the delta coder's
// values are what the decoder's envelope decoding rebuilds; the quantiser inverts the
// dequantisation; the transient detector and the stereo-parameter estimator on signals
// whose answer is known.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "SbrBitReader.h"
#include "SbrDeltaCoder.h"
#include "SbrEnvelopeDecoder.h"
#include "SbrFreqTables.h"
#include "SbrGridChooser.h"
#include "SbrPayloadParser.h"
#include "SbrPayloadWriter.h"
#include "SbrQuantiser.h"
#include "SbrStereoParameters.h"
#include "SbrTransientDetector.h"

namespace velora::sbr {
namespace {

constexpr int kRate = 44100;

SbrFreqData Tables(int start = 10, int stop = 9) {
    SbrHeader h;
    h.startFreq = start;
    h.stopFreq = stop;
    h.xoverBand = 0;
    SbrFreqData f;
    EXPECT_TRUE(BuildFreqTables(h, kRate, f));
    return f;
}

// A single-channel payload holding `grid`, parsed back by the decoder's parser.
bool RoundTripGrid(const SbrFrameInfo& grid, SbrFrameInfo& parsed) {
    const SbrFreqData f = Tables();
    SbrHeader h;
    h.startFreq = 10;
    h.stopFreq = 9;
    SbrChannelData c;
    c.grid = grid;
    SbrWriteOptions o;
    o.writeHeader = true;
    SbrPayloadWriter writer;
    velora::SbrFrame frame{};
    if (!writer.Write(h, o, &c, f, frame)) return false;
    SbrParserState state;
    if (!InitParserState(state, kRate)) return false;
    if (ParsePayload(state, frame) != kSbrOk || state.channel[0].frameError) return false;
    parsed = state.channel[0].grid;
    return true;
}

TEST(relsbrenc_parts_Grid, EveryRequestGivesACodableGrid) {
    for (int start = 0; start <= 3; ++start) {
        for (int transient = -1; transient <= kMaxLastBorder; ++transient) {
            for (int fixed : {1, 2, 4}) {
                GridRequest r;
                r.start = start;
                r.transient = transient;
                r.fixedEnvelopes = fixed;
                SbrFrameInfo g;
                ChooseGrid(r, g);
                SCOPED_TRACE(testing::Message() << "start " << start << " transient " << transient);
                ASSERT_TRUE(CheckSbrGrid(g));
                SbrFrameInfo parsed;
                ASSERT_TRUE(RoundTripGrid(g, parsed));
                EXPECT_EQ(parsed.frameClass, g.frameClass);
                ASSERT_EQ(parsed.envelopes, g.envelopes);
                for (int i = 0; i <= g.envelopes; ++i) EXPECT_EQ(parsed.borders[i], g.borders[i]);
                EXPECT_EQ(parsed.pointer, g.pointer);
                ASSERT_EQ(parsed.noiseEnvelopes, g.noiseEnvelopes);
                for (int i = 0; i <= g.noiseEnvelopes; ++i) EXPECT_EQ(parsed.noiseBorders[i], g.noiseBorders[i]);
                // The frame continues where the previous one ended.
                EXPECT_EQ(g.borders[0], start);
                if (transient >= start && transient < kFrameSlots) {
                    // A border at the transient, marked by the pointer unless it opens the frame.
                    bool found = false;
                    for (int i = 0; i <= g.envelopes; ++i) found = found || g.borders[i] == transient;
                    EXPECT_TRUE(found);
                    if (transient > start) {
                        ASSERT_GT(g.pointer, 0);
                        EXPECT_EQ(g.borders[g.pointer], transient);
                    }
                } else if (transient >= kFrameSlots) {
                    // The frame ends at the transient and hands it on.
                    EXPECT_EQ(g.borders[g.envelopes], transient);
                    EXPECT_EQ(g.pointer, g.envelopes);
                } else if (start == 0) {
                    EXPECT_EQ(g.frameClass, 0);
                    EXPECT_EQ(g.envelopes, fixed);
                }
            }
        }
    }
}

// Random quantised values through the delta coder, the writer, the parser and the decoder's
// envelope decoding: the decoder must rebuild exactly the values the coder reports.
TEST(relsbrenc_parts_DeltaCoder, DecoderRebuildsTheCodedValues) {
    std::mt19937 rng(5);
    // The band tables of every crossover the encoder offers: low- and high-resolution band
    // counts differ between them, and time deltas across resolutions must map bands alike.
    struct StartStop {
        int start;
        int stop;
    };
    for (const StartStop t : {StartStop{10, 9}, StartStop{9, 9}, StartStop{8, 9}, StartStop{7, 7}, StartStop{7, 9},
                              StartStop{11, 10}, StartStop{11, 11}, StartStop{12, 11}, StartStop{6, 9}})
    for (int ampRes = 0; ampRes <= 1; ++ampRes) {
        SCOPED_TRACE(::testing::Message() << "start " << t.start << " stop " << t.stop << " amp_res " << ampRes);
        const SbrFreqData f = Tables(t.start, t.stop);
        SbrPayloadWriter writer;
        ASSERT_TRUE(writer.Ready());
        DeltaReference reference;
        SbrEnvelopeData decoded;
        ResetEnvelopes(decoded);
        SbrParserState parser;
        ASSERT_TRUE(InitParserState(parser, kRate));
        SbrHeader h;
        h.ampRes = ampRes;
        h.startFreq = t.start;
        h.stopFreq = t.stop;
        int level = 10;
        for (int frame = 0; frame < 200; ++frame) {
            QuantisedChannel q;
            GridRequest r;
            r.transient = static_cast<int>(rng() % 14) - 2;
            r.fixedEnvelopes = 1 << (rng() % 3);
            ChooseGrid(r, q.grid);
            const int limit = EnvelopeLimit(ampRes);
            // A random walk with occasional jumps larger than any codebook holds.
            for (int e = 0; e < q.grid.envelopes; ++e) {
                const int bands = q.grid.freqRes[e] != 0 ? f.highBands : f.lowBands;
                for (int b = 0; b < bands; ++b) {
                    level += static_cast<int>(rng() % 7) - 3;
                    if (rng() % 23 == 0) level = static_cast<int>(rng() % static_cast<unsigned>(limit + 1));
                    level = level < 0 ? 0 : (level > limit ? limit : level);
                    q.envelope[e][b] = level;
                }
            }
            for (int n = 0; n < q.grid.noiseEnvelopes; ++n)
                for (int b = 0; b < f.noiseBandCount; ++b) q.noise[n][b] = static_cast<int>(rng() % 31);
            SbrChannelData c;
            DeltaOptions o;
            o.ampRes = ampRes;
            o.firstOverFrequency = frame == 0;
            DeltaCode(writer, f, o, q, reference, c);
            if (frame == 0) {
                EXPECT_EQ(c.deltaTime[0], 0);
            }
            SbrWriteOptions w;
            w.writeHeader = frame == 0;
            velora::SbrFrame payload{};
            ASSERT_TRUE(writer.Write(h, w, &c, f, payload)) << frame;
            ASSERT_EQ(ParsePayload(parser, payload), kSbrOk);
            ASSERT_FALSE(parser.channel[0].frameError) << frame;
            ASSERT_TRUE(DecodeEnvelopes(parser.channel[0], parser.freq[0], ampRes, decoded)) << frame;
            for (int e = 0; e < q.grid.envelopes; ++e) {
                const int bands = q.grid.freqRes[e] != 0 ? f.highBands : f.lowBands;
                for (int b = 0; b < bands; ++b) {
                    const double expected = 64.0 * std::exp2(q.envelope[e][b] / (2.0 - ampRes));
                    ASSERT_NEAR(decoded.envelope[e][b], expected, expected * 1e-5) << frame << " " << e << " " << b;
                }
            }
            for (int n = 0; n < q.grid.noiseEnvelopes; ++n)
                for (int b = 0; b < f.noiseBandCount; ++b)
                    ASSERT_NEAR(decoded.noise[n][b], std::exp2(6.0 - q.noise[n][b]), 1e-6 * std::exp2(6.0 - q.noise[n][b]));
            // Values within the codebooks' reach come through unchanged; only jumps are limited.
            for (int b = 0; b < f.highBands; ++b) EXPECT_EQ(reference.envelope[b], static_cast<int>(decoded.referenceEnvelope[b]));
        }
    }
}

// A coupled pair through the coder and the decoder's coupled decoding gives each channel's
// energy within half a quantiser step of the balance and level.
TEST(relsbrenc_parts_DeltaCoder, CoupledPairRebuildsBothChannels) {
    const SbrFreqData f = Tables();
    SbrPayloadWriter writer;
    SbrParserState parser;
    ASSERT_TRUE(InitParserState(parser, kRate));
    SbrHeader h;
    h.startFreq = 10;
    h.stopFreq = 9;
    DeltaReference refL, refR;
    SbrEnvelopeData left, right;
    ResetEnvelopes(left);
    ResetEnvelopes(right);
    std::mt19937 rng(9);
    for (int frame = 0; frame < 60; ++frame) {
        QuantisedChannel level, balance;
        GridRequest r;
        ChooseGrid(r, level.grid);
        balance.grid = level.grid;
        balance.balance = true;
        float el[kMaxEnvelopes][kMaxMasterBands], er[kMaxEnvelopes][kMaxMasterBands];
        for (int e = 0; e < level.grid.envelopes; ++e) {
            for (int b = 0; b < f.highBands; ++b) {
                el[e][b] = static_cast<float>(std::exp2(10.0 + static_cast<double>(rng() % 200) / 10.0));
                er[e][b] = el[e][b] * static_cast<float>(std::exp2((static_cast<double>(rng() % 200) - 100.0) / 10.0));
                QuantiseCoupledEnergy(el[e][b], er[e][b], 1, level.envelope[e][b], balance.envelope[e][b]);
            }
        }
        for (int n = 0; n < level.grid.noiseEnvelopes; ++n)
            for (int b = 0; b < f.noiseBandCount; ++b)
                QuantiseCoupledNoise(0.5f, 0.5f, level.noise[n][b], balance.noise[n][b]);
        SbrChannelData c[2];
        DeltaOptions o;
        o.firstOverFrequency = frame == 0;
        DeltaCode(writer, f, o, level, refL, c[0]);
        DeltaCode(writer, f, o, balance, refR, c[1]);
        SbrWriteOptions w;
        w.writeHeader = frame == 0;
        w.stereo = true;
        w.coupled = true;
        velora::SbrFrame payload{};
        ASSERT_TRUE(writer.Write(h, w, c, f, payload));
        ASSERT_EQ(ParsePayload(parser, payload), kSbrOk);
        ASSERT_TRUE(DecodeCoupledEnvelopes(parser.channel[0], parser.channel[1], parser.freq[0], 1, left, right));
        for (int e = 0; e < level.grid.envelopes; ++e) {
            for (int b = 0; b < f.highBands; ++b) {
                // 3 dB level steps and 6 dB balance steps: within 2 level steps in each channel.
                EXPECT_NEAR(std::log2(left.envelope[e][b] / el[e][b]), 0.0, 2.01) << frame;
                EXPECT_NEAR(std::log2(right.envelope[e][b] / er[e][b]), 0.0, 2.01) << frame;
                // Their sum is the level, which is held to half a step.
                EXPECT_NEAR(std::log2((left.envelope[e][b] + right.envelope[e][b]) / (el[e][b] + er[e][b])), 0.0, 0.51);
            }
        }
        for (int b = 0; b < f.noiseBandCount; ++b) {
            EXPECT_NEAR(left.noise[0][b], 0.5f, 1e-4f);
            EXPECT_NEAR(right.noise[0][b], 0.5f, 1e-4f);
        }
    }
}

TEST(relsbrenc_parts_Quantiser, InvertsTheDequantisation) {
    for (int ampRes = 0; ampRes <= 1; ++ampRes) {
        for (int v = 0; v <= EnvelopeLimit(ampRes); ++v) {
            const float e = static_cast<float>(64.0 * std::exp2(v / (2.0 - ampRes)));
            EXPECT_EQ(QuantiseEnergy(e, ampRes), v);
            EXPECT_EQ(QuantiseEnergy(e * 1.1f, ampRes), v);
            EXPECT_EQ(QuantiseEnergy(e * 0.9f, ampRes), v);
        }
        EXPECT_EQ(QuantiseEnergy(0.0f, ampRes), 0);
        EXPECT_EQ(QuantiseEnergy(1e30f, ampRes), EnvelopeLimit(ampRes));
    }
    for (int v = 0; v <= kMaxNoiseValue; ++v) EXPECT_EQ(QuantiseNoise(static_cast<float>(std::exp2(6.0 - v))), v);
    int level = 0, balance = 0;
    QuantiseCoupledEnergy(1000.0f, 1000.0f, 1, level, balance);
    EXPECT_EQ(balance, 12);  // neutral at 3 dB steps
    QuantiseCoupledEnergy(1000.0f, 1000.0f, 0, level, balance);
    EXPECT_EQ(balance, 24);  // neutral at 1.5 dB steps
    EXPECT_EQ(level, QuantiseEnergy(1000.0f, 0));
    QuantiseCoupledNoise(1.0f, 1.0f, level, balance);
    EXPECT_EQ(balance, 12);
    EXPECT_EQ(level, QuantiseNoise(1.0f));
}

// Energies of one frame of 18 QMF slots in 64 bands.
struct Slots {
    float e[18][64];
};

TEST(relsbrenc_parts_Transient, StationaryNoiseStaysQuietAnOnsetIsFound) {
    SbrTransientDetector d;
    ASSERT_TRUE(d.Init(18, 25, 36, 47, TransientRule::kOr, 2.0f));
    std::mt19937 rng(3);
    std::exponential_distribution<float> noise(1.0f);
    auto frameOf = [&](float level, int onset, float after) {
        Slots s{};
        for (int i = 0; i < 18; ++i)
            for (int m = 0; m < 64; ++m) s.e[i][m] = (i >= onset ? after : level) * noise(rng);
        return s;
    };
    int falseAlarms = 0;
    for (int f = 0; f < 200; ++f) {
        const Slots s = frameOf(1e8f, 99, 0.0f);
        if (d.Detect([&](int i) { return s.e[i]; }).present) ++falseAlarms;
    }
    EXPECT_LE(falseAlarms, 2) << "of 200 stationary frames";
    for (int onset : {1, 6, 11, 17}) {
        const Slots s = frameOf(1e8f, onset, 3e9f);
        const TransientResult r = d.Detect([&](int i) { return s.e[i]; });
        EXPECT_TRUE(r.present) << onset;
        EXPECT_EQ(r.qmfSlot, onset);
        EXPECT_EQ(r.slot, onset / 2);
        // Back to the quiet level for the thresholds to settle.
        for (int f = 0; f < 6; ++f) {
            const Slots q = frameOf(1e8f, 99, 0.0f);
            d.Detect([&](int i) { return q.e[i]; });
        }
    }
    // Below the threshold floor nothing counts, however sharp.
    d.Reset();
    const Slots faint = frameOf(10.0f, 9, 5000.0f);
    EXPECT_FALSE(d.Detect([&](int i) { return faint.e[i]; }).present);
}

TEST(relsbrenc_parts_Transient, RulesCombineTheTwoParts) {
    // An onset in the upper part only.
    std::mt19937 rng(4);
    std::exponential_distribution<float> noise(1.0f);
    Slots quiet{}, upper{};
    for (int i = 0; i < 18; ++i)
        for (int m = 0; m < 64; ++m) {
            quiet.e[i][m] = 1e8f * noise(rng);
            upper.e[i][m] = (m >= 36 && i >= 8 ? 3e9f : 1e8f) * noise(rng);
        }
    const TransientRule rules[4] = {TransientRule::kExclusiveOr, TransientRule::kOr, TransientRule::kAnd,
                                    TransientRule::kLowerOnly};
    const bool expected[4] = {true, true, false, false};
    for (int r = 0; r < 4; ++r) {
        SbrTransientDetector d;
        ASSERT_TRUE(d.Init(18, 25, 36, 47, rules[r], 2.0f));
        for (int f = 0; f < 4; ++f) d.Detect([&](int i) { return quiet.e[i]; });
        EXPECT_EQ(d.Detect([&](int i) { return upper.e[i]; }).present, expected[r]) << r;
    }
}

TEST(relsbrenc_parts_StereoParameters, WidthFollowsTheSideToMidRatio) {
    std::mt19937 rng(8);
    std::normal_distribution<float> n(0.0f, 3000.0f);
    std::vector<float> l(1152), r(1152);
    auto run = [&](float sideGain, int frames) {
        SbrStereoParameters p;
        p.Reset();
        for (int f = 0; f < frames; ++f) {
            for (int i = 0; i < 1152; ++i) {
                const float m = n(rng);
                const float s = sideGain * n(rng);
                l[static_cast<size_t>(i)] = m + s;
                r[static_cast<size_t>(i)] = m - s;
            }
            p.Update(l.data(), r.data(), 1152);
        }
        return p.WidthIndex();
    };
    EXPECT_EQ(run(0.0f, 20), 0);   // mono
    EXPECT_EQ(run(0.05f, 20), 0);  // -26 dB side
    EXPECT_EQ(run(0.5f, 20), 2);   // -6 dB side
    EXPECT_EQ(run(1.0f, 20), 3);   // unrelated channels
    // Hysteresis: a ratio hovering at a split does not toggle the index every frame.
    SbrStereoParameters p;
    p.Reset();
    int changes = 0;
    for (int f = 0; f < 100; ++f) {
        const float g = (f & 1) != 0 ? 0.68f : 0.74f;  // -3.3 dB and -2.6 dB
        for (int i = 0; i < 1152; ++i) {
            const float m = n(rng);
            const float s = g * n(rng);
            l[static_cast<size_t>(i)] = m + s;
            r[static_cast<size_t>(i)] = m - s;
        }
        if (p.Update(l.data(), r.data(), 1152)) ++changes;
    }
    EXPECT_LE(changes, 1);
}

}  // namespace
}  // namespace velora::sbr
