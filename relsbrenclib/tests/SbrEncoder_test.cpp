// The SBR encoder end to end with the project's decoder: creation rules, the header
// schedule, payloads that parse in every frame, the regenerated band's energy against the
// original's, time alignment, grids around transients, stereo coding choices, LC stereo,
// extreme and random inputs.
#include "SbrEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "SbrEndToEnd.h"
#include "SbrPayloadParser.h"

namespace velora::sbr {
namespace {

using test::RunOptions;
using test::RunResult;

struct EncoderDeleter {
    void operator()(SbrEncoder* e) const { SbrEncoder::Destroy(e); }
};
using EncoderPtr = std::unique_ptr<SbrEncoder, EncoderDeleter>;

std::vector<std::vector<float>> Mono(std::vector<float> x) { return {std::move(x)}; }

TEST(relsbrenc_encoder_Create, AcceptsTheFrameLengthsAndChannelCounts) {
    SbrEncoderParams p;
    SbrExchange ex;
    for (int length : {960, 1024, 1152, 1920, 2048, 2304}) {
        p.frameLength = length;
        EncoderPtr e(SbrEncoder::Create(p, ex));
        EXPECT_NE(e, nullptr) << length;
    }
    for (int length : {0, 576, 1000, 1153, 4608}) {
        p.frameLength = length;
        EXPECT_EQ(EncoderPtr(SbrEncoder::Create(p, ex)), nullptr) << length;
    }
    p.frameLength = 1152;
    for (int channels : {0, 3, -1}) {
        p.channels = channels;
        EXPECT_EQ(EncoderPtr(SbrEncoder::Create(p, ex)), nullptr) << channels;
    }
    p.channels = 2;
    p.startFreq = 16;
    EXPECT_EQ(EncoderPtr(SbrEncoder::Create(p, ex)), nullptr);
    p.startFreq = 10;
    p.tuning[2] = 5;
    EXPECT_EQ(EncoderPtr(SbrEncoder::Create(p, ex)), nullptr) << "tuning value out of range";
}

TEST(relsbrenc_encoder_Create, PublishesTheCrossoverOfTheLowestBand) {
    SbrEncoderParams p;
    SbrExchange ex;
    EncoderPtr e(SbrEncoder::Create(p, ex));
    ASSERT_NE(e, nullptr);
    const RunResult r = test::Run(Mono(test::WhiteNoise(4, 1000.0f, 1)), RunOptions{});
    ASSERT_TRUE(r.created);
    EXPECT_FLOAT_EQ(ex.crossover, static_cast<float>(r.freq.kx) * 44100.0f / 128.0f);
    EXPECT_FLOAT_EQ(e->Crossover(), ex.crossover);
    EXPECT_FALSE(ex.adaptiveCrossover);
    EXPECT_EQ(ex.channels, 2);
    EXPECT_EQ(e->InputChannels(), 2);
    p.channels = 1;
    EXPECT_EQ(EncoderPtr(SbrEncoder::Create(p, ex))->InputChannels(), 1);
    p.monoCoreStereo = true;
    EXPECT_EQ(EncoderPtr(SbrEncoder::Create(p, ex))->InputChannels(), 2);
}

// Headers come every 38th frame (none periodic when the repetition is off) and wherever the
// limiter setting changes, which only a header can carry.
TEST(relsbrenc_encoder_Header, EveryThirtyEighthFrameAndNoPeriodicOneWhenOff) {
    const RunResult r = test::Run(Mono(test::TiltedNoise(120, 8000.0f, 2)), RunOptions{});
    ASSERT_TRUE(r.created);
    std::vector<int> periodic;
    for (const int f : r.headerFrames) {
        const size_t i = static_cast<size_t>(f);
        if (f > 0 && r.limiterGains[i] != r.limiterGains[i - 1]) continue;
        periodic.push_back(f);
    }
    EXPECT_EQ(periodic, (std::vector<int>{0, 38, 76, 114}));
    EXPECT_LE(r.headerFrames.size(), periodic.size() + 2) << "the limiter settles on steady noise";

    SbrEncoderParams p;
    p.channels = 1;
    p.headerRepetition = 0.0f;
    SbrExchange ex;
    EncoderPtr e(SbrEncoder::Create(p, ex));
    ASSERT_NE(e, nullptr);
    SbrParserState parser;
    ASSERT_TRUE(InitParserState(parser, test::kRate));
    const std::vector<float> x = test::WhiteNoise(100, 3000.0f, 3);
    int headers = 0;
    int limiter = -1;
    for (int f = 0; f < 100; ++f) {
        ASSERT_TRUE(e->EncodeFrame(ex, x.data() + f * 1152));
        velora::SbrFrame frame{};
        frame.present = 1;
        frame.kind = ex.header ? 13 : 12;
        frame.length = ex.bits / 8;
        std::copy_n(ex.buffer, frame.length, frame.payload);
        ASSERT_EQ(ParsePayload(parser, frame), kSbrOk);
        ASSERT_FALSE(parser.channel[0].frameError) << "frame " << f;
        if (ex.header) {
            ++headers;
            EXPECT_TRUE(f == 0 || parser.header.limiterGains != limiter) << "frame " << f << ": not periodic, limiter " << limiter << " -> " << parser.header.limiterGains;
        }
        limiter = parser.header.limiterGains;
    }
    EXPECT_GE(headers, 1);
    EXPECT_LE(headers, 3);
}

TEST(relsbrenc_encoder_Header, OnlyNineSlotFramesAreCoded) {
    SbrEncoderParams p;
    p.channels = 1;
    p.frameLength = 2048;
    SbrExchange ex;
    EncoderPtr e(SbrEncoder::Create(p, ex));
    ASSERT_NE(e, nullptr);
    std::vector<float> x(2048, 100.0f);
    EXPECT_FALSE(e->EncodeFrame(ex, x.data()));
    EXPECT_EQ(ex.bits, 0);
}

struct SignalCase {
    const char* name;
    std::vector<std::vector<float>> input;
    RunOptions options;
};

std::vector<SignalCase> AllSignals() {
    // 0.52 s: a header, a castanet attack (at 0.3 s) and a dozen frames of steady state.
    const int n = 20;
    RunOptions mono, pair, lc, dual;
    pair.codedChannels = 2;
    lc.lcStereo = true;
    dual.codedChannels = 2;
    dual.stereoCoding = 0;
    std::vector<SignalCase> cases;
    const std::vector<std::pair<const char*, std::vector<float>>> signals = {
        {"tilted noise", test::TiltedNoise(n, 20000.0f, 1)},
        {"sine", test::Sine(n, 5000.0, 20000.0f)},
        {"high sine", test::Sine(n, 14000.0, 20000.0f)},
        {"tone and noise", test::ToneAndNoise(n, 2)},
        {"castanets", test::Castanets(n, 3)},
        {"silence", std::vector<float>(static_cast<size_t>(n) * 1152, 0.0f)},
        {"full-scale square", test::Square(n, 441.0, 32768.0f)},
        {"dc", std::vector<float>(static_cast<size_t>(n) * 1152, 32767.0f)},
        {"white noise at 0 dB FS", test::WhiteNoise(n, 32768.0f, 4)},
    };
    for (const auto& s : signals) {
        cases.push_back({s.first, {s.second}, mono});
        std::vector<float> other = test::Add(s.second, test::TiltedNoise(n, 6000.0f, 9), 0.5f);
        cases.push_back({s.first, {s.second, other}, pair});
        cases.push_back({s.first, {s.second, other}, lc});
        cases.push_back({s.first, {other, s.second}, dual});
    }
    return cases;
}

// Every frame of every signal parses without error in the decoder's parser, decodes, and
// stays within the ancillary data's 510 bytes.
TEST(relsbrenc_encoder_Payload, ParsesInEveryFrameForEverySignal) {
    for (const SignalCase& c : AllSignals()) {
        SCOPED_TRACE(testing::Message() << c.name << ", " << c.options.codedChannels << " channel(s)"
                                        << (c.options.lcStereo ? " LC" : "")
                                        << (c.options.stereoCoding == 0 ? " dual mono" : ""));
        const RunResult r = test::Run(c.input, c.options);
        ASSERT_TRUE(r.created);
        EXPECT_EQ(r.parseErrors, 0);
        EXPECT_EQ(r.decodeErrors, 0);
        EXPECT_LE(r.maxPayloadBytes, 510);
        for (const velora::SbrFrame& f : r.payloads) EXPECT_GT(f.length, 0);
        if (c.options.stereoCoding == 0) {
            for (int coupled : r.coupledFrames) EXPECT_EQ(coupled, 0) << "dual mono never couples";
        }
    }
}

// The acceptance measure on synthetic signals: band energies of output and original per
// SBR band and 23 ms segment.
TEST(relsbrenc_encoder_Energy, RegeneratedBandTracksTheOriginal) {
    struct Case {
        const char* name;
        std::vector<float> x;
        // A tone in the low band makes the patched sources uneven. With the decoder's limiter
        // on for every frame this case came out 2.4 dB, 93 % and -1.4 dB unless the encoder
        // allowed for the limiter (then 1.61 dB, 99.4 %, -0.5 dB); the limiter is now off
        // where no source is far weaker than its band: 1.60 dB, 99.6 %, -1.0 dB.
        double maxMeanAbsDb = 2.0;
        double minWithin6 = 0.95;
        double maxBiasDb = 1.2;
    };
    const Case cases[] = {
        {"tilted noise", test::TiltedNoise(100, 20000.0f, 11)},
        {"white noise", test::WhiteNoise(100, 6000.0f, 12)},
        {"tone and noise", test::ToneAndNoise(100, 13), 1.8, 0.98},
        {"castanets", test::Castanets(100, 14)},
    };
    for (const Case& c : cases) {
        const RunResult r = test::Run(Mono(c.x), RunOptions{});
        ASSERT_TRUE(r.created);
        const test::BandStats s = test::CompareBands(c.x, r.output[0], r.outputDelay, r.freq);
        std::printf("[ energy   ] %-14s mean |dB| %.2f, within 6 dB %.1f %%, bias %+.2f dB\n", c.name,
                    s.meanAbsDb, 100.0 * s.within6Db, s.meanDb);
        EXPECT_GT(s.segments, 300) << c.name;
        EXPECT_LE(s.meanAbsDb, c.maxMeanAbsDb) << c.name;
        EXPECT_GE(s.within6Db, c.minWithin6) << c.name;
        EXPECT_LT(std::fabs(s.meanDb), c.maxBiasDb) << c.name << ": no level bias";
    }
}

TEST(relsbrenc_encoder_Energy, BothChannelsOfAPairTrack) {
    const std::vector<float> l = test::TiltedNoise(80, 20000.0f, 21);
    const std::vector<float> r = test::Add(test::WhiteNoise(80, 3000.0f, 22), l, 0.3f);
    RunOptions o;
    o.codedChannels = 2;
    const RunResult res = test::Run({l, r}, o);
    ASSERT_TRUE(res.created);
    ASSERT_EQ(res.output.size(), 2u);
    const test::BandStats sl = test::CompareBands(l, res.output[0], res.outputDelay, res.freq);
    const test::BandStats sr = test::CompareBands(r, res.output[1], res.outputDelay, res.freq);
    EXPECT_LE(sl.meanAbsDb, 2.0);
    EXPECT_LE(sr.meanAbsDb, 2.0);
    EXPECT_GE(sl.within6Db, 0.95);
    EXPECT_GE(sr.within6Db, 0.95);
}

// The high band steps 20 dB down and up every 0.3 s over a steady low band: the decoder
// fades each envelope in from its predecessor's gains, which the encoder must allow for or
// every quiet stretch starts too loud.
TEST(relsbrenc_encoder_Energy, HighBandStepsOverASteadyLowBand) {
    const int frames = 70;
    const std::vector<float> low = test::BandNoise(frames, 200.0, 8000.0, 300.0f, 91);
    const std::vector<float> high =
        test::Gated(test::BandNoise(frames, 8700.0, 16000.0, 150.0f, 92), 13230, {1.0f, 0.1f});
    const std::vector<float> x = test::Add(low, high);
    const RunResult r = test::Run(Mono(x), RunOptions{});
    ASSERT_TRUE(r.created);
    const test::BandStats s = test::CompareBands(x, r.output[0], r.outputDelay, r.freq);
    // Sent as measured: 1.55 dB and 97.2 %; allowing for the fade: 1.40 dB and 99.1 %.
    EXPECT_GT(s.segments, 400);
    EXPECT_LE(s.meanAbsDb, 1.48);
    EXPECT_GE(s.within6Db, 0.985);
    EXPECT_LT(std::fabs(s.meanDb), 0.5) << "no level bias";
}

// A steady, faint high band over a low band that pauses and comes back loud: a gain sized
// for the silent sources must not carry over into the loud ones (a burst of 20 dB and more).
TEST(relsbrenc_encoder_Energy, NoBurstWhenTheSourcesReturn) {
    const int frames = 70;
    const std::vector<float> low =
        test::Gated(test::BandNoise(frames, 200.0, 8000.0, 400.0f, 93), 8820, {1.0f, 0.0f, 0.0f});
    const std::vector<float> high = test::BandNoise(frames, 8700.0, 16000.0, 8.0f, 94);
    const std::vector<float> x = test::Add(low, high);
    const RunResult r = test::Run(Mono(x), RunOptions{});
    ASSERT_TRUE(r.created);
    const std::vector<test::BandSegment> segs = test::CompareBandSegments(x, r.output[0], r.outputDelay, r.freq);
    ASSERT_GT(segs.size(), 400u);
    int loud = 0;
    double worst = -100.0;
    for (const test::BandSegment& b : segs) {
        if (b.diffDb > 6.0) ++loud;
        worst = std::max(worst, b.diffDb);
    }
    // Without the cap 23 of 690 band segments come out more than 6 dB loud, the worst by
    // 29 dB; with it 8, the worst by 21 dB (the fade's first rows still carry some).
    EXPECT_LE(loud, 14) << "of " << segs.size() << ", worst +" << worst << " dB";
    EXPECT_LT(worst, 25.0);
}

// The limiter is switched on only for frames whose high band must be rebuilt from a far
// weaker source (the core codes such a source coarsely, and an unlimited gain could make a
// burst of it), and the switch reaches the decoder in a header each time.
TEST(relsbrenc_encoder_Limiter, OnOnlyOverWeakSources) {
    const int frames = 60;
    // Low band 50 dB below the high band for the second half of the signal.
    const std::vector<float> high = test::BandNoise(frames, 8700.0, 16000.0, 3000.0f, 71);
    const std::vector<float> low = test::BandNoise(frames, 200.0, 8000.0, 3000.0f, 72);
    const size_t half = static_cast<size_t>(frames / 2) * 1152;
    std::vector<float> x = test::Add(low, high);
    for (size_t i = half; i < x.size(); ++i) x[i] = low[i] * 0.003f + high[i];
    const RunResult r = test::Run(Mono(x), RunOptions{});
    ASSERT_TRUE(r.created);
    ASSERT_EQ(r.limiterGains.size(), static_cast<size_t>(frames));
    int offEarly = 0;
    int onLate = 0;
    for (int f = 3; f < frames / 2 - 3; ++f) offEarly += r.limiterGains[static_cast<size_t>(f)] == 3 ? 1 : 0;
    for (int f = frames / 2 + 4; f < frames - 2; ++f) onLate += r.limiterGains[static_cast<size_t>(f)] != 3 ? 1 : 0;
    // A transient in the noise now and then turns it on for three frames.
    EXPECT_GE(offEarly, frames / 2 - 6 - 3) << "even sources: no limiter";
    EXPECT_EQ(onLate, frames / 2 - 6) << "sources 50 dB down: limiter on";
    // Every change of the setting comes with a header.
    for (int f = 1; f < frames; ++f) {
        if (r.limiterGains[static_cast<size_t>(f)] == r.limiterGains[static_cast<size_t>(f - 1)]) continue;
        EXPECT_EQ(r.payloads[static_cast<size_t>(f)].kind, 13) << "frame " << f;
    }
}

// A core that drops the top of its band (as it does in quiet passages) leaves the bands
// copied from there without a source: told so, the encoder fills them with noise and they
// keep their energy; not told, they come out far too quiet.
TEST(relsbrenc_encoder_Energy, BandsWithoutSourceAreFilledWithNoise) {
    const int frames = 60;
    const std::vector<float> kept = test::BandNoise(frames, 200.0, 5000.0, 2000.0f, 81);
    const std::vector<float> dropped = test::BandNoise(frames, 5200.0, 8400.0, 600.0f, 82);
    const std::vector<float> high = test::BandNoise(frames, 8700.0, 16000.0, 300.0f, 83);
    const std::vector<float> x = test::Add(test::Add(kept, dropped), high);
    RunOptions told;
    told.core = {kept};
    // QMF bands of 344.5 Hz at the core rate: 0..14 kept, 15 and up dropped.
    told.sourceShare.assign(32, 0.0f);
    for (int k = 0; k < 15; ++k) told.sourceShare[static_cast<size_t>(k)] = 1.0f;
    RunOptions untold;
    untold.core = {kept};
    struct Result {
        double meanAbsDb = 0.0;
        double meanDb = 0.0;
    };
    auto measure = [&](const RunOptions& o) {
        const RunResult r = test::Run(Mono(x), o);
        EXPECT_TRUE(r.created);
        Result out;
        int n = 0;
        // The bands from QMF band 38 up copy QMF bands 16 and up.
        for (const test::BandSegment& b : test::CompareBandSegments(x, r.output[0], r.outputDelay, r.freq)) {
            if (r.freq.high[b.band] < 38 || b.segment < 8) continue;
            out.meanAbsDb += std::fabs(b.diffDb);
            out.meanDb += b.diffDb;
            ++n;
        }
        EXPECT_GT(n, 100);
        out.meanAbsDb /= std::max(n, 1);
        out.meanDb /= std::max(n, 1);
        return out;
    };
    const Result withShare = measure(told);
    const Result without = measure(untold);
    std::printf("[ fill     ] told: %.2f dB (bias %+.2f), not told: %.2f dB (bias %+.2f)\n", withShare.meanAbsDb,
                withShare.meanDb, without.meanAbsDb, without.meanDb);
    EXPECT_LT(without.meanDb, -3.5) << "the measure sees the missing sources";
    EXPECT_LT(withShare.meanAbsDb, 2.5);
    EXPECT_GT(withShare.meanDb, -1.5);
}

TEST(relsbrenc_encoder_Energy, EnhancementOffLeavesTheHighBandEmpty) {
    const std::vector<float> x = test::TiltedNoise(60, 20000.0f, 31);
    RunOptions o;
    o.enhancement = false;
    const RunResult off = test::Run(Mono(x), o);
    const RunResult on = test::Run(Mono(x), RunOptions{});
    ASSERT_TRUE(off.created && on.created);
    const double xo = static_cast<double>(on.crossover);
    const size_t end = off.output[0].size();
    const double high = test::BandPower(off.output[0], xo * 1.05, 20000.0, 8192, end);
    const double highOn = test::BandPower(on.output[0], xo * 1.05, 20000.0, 8192, end);
    const double low = test::BandPower(off.output[0], 500.0, xo * 0.9, 8192, end);
    EXPECT_LT(10.0 * std::log10(high / low), -60.0);
    EXPECT_GT(10.0 * std::log10(highOn / high), 50.0);
}

TEST(relsbrenc_encoder_Silence, GivesASmallPayloadAndASilentHighBand) {
    const std::vector<float> x(static_cast<size_t>(60) * 1152, 0.0f);
    const RunResult r = test::Run(Mono(x), RunOptions{});
    ASSERT_TRUE(r.created);
    EXPECT_EQ(r.parseErrors, 0);
    // Header frames aside, a silent frame needs only a few bytes (an unchanged value costs
    // two bits at 1.5 dB steps, one at 3 dB: 10 and 8 bytes).
    for (size_t f = 1; f < r.payloads.size(); ++f) {
        if (r.payloads[f].kind == 12) {
            EXPECT_LE(r.payloads[f].length, 10) << f;
        }
    }
    const double high = test::BandPower(r.output[0], static_cast<double>(r.crossover), 20000.0, 8192, r.output[0].size());
    EXPECT_LT(high, 1.0) << "the quietest band the payload can ask for (-90 dB FS)";
}

// A burst of high-band noise: the decoded band's energy envelope lines up with the
// original's to within one time slot (128 samples).
TEST(relsbrenc_encoder_Alignment, HighBandBurstLinesUpWithinOneSlot) {
    const int frames = 40;
    std::vector<float> x = test::WhiteNoise(frames, 300.0f, 41);  // a low bed for the patches
    const std::vector<float> burst = test::WhiteNoise(frames, 12000.0f, 42);
    const size_t begin = 20 * 1152 + 500;
    for (size_t i = begin; i < begin + 4000; ++i) x[i] += burst[i];
    const RunResult r = test::Run(Mono(x), RunOptions{});
    ASSERT_TRUE(r.created);
    EXPECT_EQ(r.measuredDelay, r.outputDelay) << "the core band's delay";
    // Envelope of the high band in 64-sample steps: energy above the crossover.
    auto onset = [&](const std::vector<float>& y, int delay) {
        // First 128-sample block whose high-band energy exceeds a tenth of the burst's.
        double peak = 0.0;
        std::vector<double> e;
        for (size_t s = 0; s + 128 + static_cast<size_t>(delay) <= y.size() && s < 30 * 1152; s += 32) {
            const double p = test::BandPower(y, static_cast<double>(r.crossover) * 1.1, 19000.0, s + static_cast<size_t>(delay),
                                             s + static_cast<size_t>(delay) + 1024);
            e.push_back(p);
            peak = std::max(peak, p);
        }
        for (size_t i = 0; i < e.size(); ++i)
            if (e[i] > 0.1 * peak) return static_cast<int>(i) * 32;
        return -1;
    };
    const int original = onset(x, 0);
    const int decoded = onset(r.output[0], r.outputDelay);
    ASSERT_GE(original, 0);
    EXPECT_LE(std::abs(decoded - original), 128) << "original " << original << " decoded " << decoded;
}

TEST(relsbrenc_encoder_Grid, TransientsGetBordersStationaryFramesDoNot) {
    const std::vector<float> x = test::Castanets(40, 51);
    const RunResult r = test::Run(Mono(x), RunOptions{});
    ASSERT_TRUE(r.created);
    // Attacks at every 0.3 s from 0.3 s on; the frame and slot of each, through the delay.
    const int period = static_cast<int>(0.3 * 44100);
    int checked = 0;
    for (int attack = period; attack + 2304 < static_cast<int>(x.size()); attack += period) {
        // The payload of frame k describes input from 384 + core delay samples before it;
        // a QMF row shows its input centred 320 samples (half the prototype) back.
        const int shifted = attack + 384 + r.coreDelay + 320;
        const int frame = shifted / 1152;
        const int slot = (shifted % 1152) / 128;
        bool bordered = false;
        for (int f = frame - 1; f <= frame + 1; ++f) {
            const SbrFrameInfo& g = r.grids[static_cast<size_t>(f)];
            for (int i = 0; i <= g.envelopes; ++i) {
                const int at = (f - frame) * 9 + g.borders[i];
                if (g.frameClass != 0 && std::abs(at - slot) <= 1) bordered = true;
            }
        }
        EXPECT_TRUE(bordered) << "attack at " << attack << " (frame " << frame << " slot " << slot << ")";
        ++checked;
    }
    EXPECT_GE(checked, 3);
    const RunResult steady = test::Run(Mono(test::TiltedNoise(40, 20000.0f, 52)), RunOptions{});
    for (size_t f = 2; f < steady.grids.size(); ++f) EXPECT_EQ(steady.grids[f].frameClass, 0) << f;
}

// Where each onset of `x` (at `first` and every `step` samples) gets its transient
// envelope, in slots from the onset's slot; -99 where no grid around it marks one.
std::vector<int> TransientOffsets(const std::vector<float>& x, int first, int step) {
    const RunResult r = test::Run(Mono(x), RunOptions{});
    std::vector<int> out;
    if (!r.created) return out;
    for (int onset = first; onset + 2304 < static_cast<int>(x.size()); onset += step) {
        // As in the test above: payload lag, core delay, half the QMF prototype.
        const int shifted = onset + 384 + r.coreDelay + 320;
        const int frame = shifted / 1152;
        const int slot = (shifted % 1152) / 128;
        int offset = -99;
        for (int f = frame - 1; f <= frame + 1 && offset == -99; ++f) {
            const SbrFrameInfo& g = r.grids[static_cast<size_t>(f)];
            if (g.frameClass == 0) continue;
            // The transient envelope starts at the pointer's border (0: at the frame's start).
            const int at = (f - frame) * 9 + g.borders[g.pointer <= g.envelopes ? g.pointer : 0];
            if (std::abs(at - slot) <= 2) offset = at - slot;
        }
        out.push_back(offset);
    }
    return out;
}

// The decoder fades into an envelope's gains over its first rows: an onset over a bed
// (here 8 dB up from the same noise) gets its envelope a slot early, so that the gains are
// in place when it arrives. Sharp attacks get theirs at the onset or a slot before, never
// after. (Where the sources start from silence the envelope is not moved earlier: see
// NoBurstWhenTheSourcesReturn, which fails without that.)
TEST(relsbrenc_encoder_Grid, TransientEnvelopesLeadOnsets) {
    const std::vector<int> steps =
        TransientOffsets(test::Gated(test::WhiteNoise(80, 3000.0f, 77), 4410, {0.4f, 1.0f}), 4410, 8820);
    int early = 0;
    int marked = 0;
    for (int o : steps) {
        if (o == -99) continue;
        ++marked;
        early += o == -1 ? 1 : 0;
        EXPECT_LE(o, 0);
    }
    EXPECT_GE(marked, 5);
    EXPECT_GE(early, marked - 1);
    const int period = static_cast<int>(0.3 * 44100);
    const std::vector<int> attacks = TransientOffsets(test::Castanets(60, 51), period, period);
    EXPECT_GE(attacks.size(), 4u);
    for (int o : attacks) {
        EXPECT_LE(o, 0);
        EXPECT_GE(o, -1);
    }
}

TEST(relsbrenc_encoder_Stereo, IdenticalChannelsCoupleUnrelatedOnesDoNot) {
    const std::vector<float> a = test::TiltedNoise(40, 20000.0f, 61);
    RunOptions o;
    o.codedChannels = 2;
    const RunResult same = test::Run({a, a}, o);
    int coupled = 0;
    for (int c : same.coupledFrames) coupled += c;
    EXPECT_GE(coupled, 38) << "of 40";
    // Unrelated: differently shaped channels whose levels jump independently every frame.
    std::vector<float> l = test::WhiteNoise(40, 8000.0f, 62);
    std::vector<float> r = test::TiltedNoise(40, 20000.0f, 63);
    std::mt19937 rng(64);
    for (size_t f = 0; f < 40; ++f) {
        const float gl = static_cast<float>(std::exp2(static_cast<double>(rng() % 6)));
        const float gr = static_cast<float>(std::exp2(static_cast<double>(rng() % 6)));
        for (size_t i = f * 1152; i < (f + 1) * 1152; ++i) {
            l[i] *= gl / 32.0f;
            r[i] *= gr / 32.0f;
        }
    }
    const RunResult apart = test::Run({l, r}, o);
    int apartCoupled = 0;
    for (int c : apart.coupledFrames) apartCoupled += c;
    EXPECT_LE(apartCoupled, 8) << "of 40";
    o.stereoCoding = 0;
    const RunResult dual = test::Run({a, a}, o);
    for (int c : dual.coupledFrames) EXPECT_EQ(c, 0);
}

TEST(relsbrenc_encoder_LcStereo, WidthFromTheInputPairAndPseudoStereoOutput) {
    RunOptions o;
    o.lcStereo = true;
    const std::vector<float> m = test::TiltedNoise(60, 20000.0f, 71);
    const RunResult mono = test::Run({m, m}, o);
    ASSERT_TRUE(mono.created);
    EXPECT_EQ(mono.parseErrors, 0);
    EXPECT_LE(mono.widthIndex.back(), 1);
    EXPECT_EQ(mono.outputModeOne.back(), 1);
    ASSERT_EQ(mono.output.size(), 2u) << "the decoder outputs pseudo stereo";
    for (const velora::SbrFrame& f : mono.payloads) EXPECT_EQ(f.stereo, 0) << "single-channel element";

    const std::vector<float> other = test::TiltedNoise(60, 20000.0f, 72);
    const RunResult wide = test::Run({m, other}, o);
    EXPECT_EQ(wide.widthIndex.back(), 3);
    // The mix's high band is what the decoder rebuilds in each output channel (pseudo
    // stereo keeps each channel's energy).
    std::vector<float> mix(m.size());
    for (size_t i = 0; i < m.size(); ++i) mix[i] = 0.5f * (m[i] + other[i]);
    for (const std::vector<float>& out : wide.output) {
        const test::BandStats s = test::CompareBands(mix, out, wide.outputDelay, wide.freq);
        EXPECT_LE(s.meanAbsDb, 2.0);
        EXPECT_GE(s.within6Db, 0.95);
    }

    // A change of width forces a header: mono for two seconds, then wide.
    std::vector<float> l = m, r = m;
    for (size_t i = r.size() / 2; i < r.size(); ++i) r[i] = other[i];
    const RunResult change = test::Run({l, r}, o);
    int switchFrame = -1;
    for (size_t f = 1; f < change.widthIndex.size(); ++f)
        if (change.widthIndex[f] != change.widthIndex[f - 1]) {
            switchFrame = static_cast<int>(f);
            break;
        }
    ASSERT_GE(switchFrame, 30) << "the input turns wide at frame 30";
    EXPECT_LE(switchFrame, 40);
    EXPECT_EQ(change.payloads[static_cast<size_t>(switchFrame)].kind, 13);
    EXPECT_NE(switchFrame % 38, 0) << "not a periodic header";
}

TEST(relsbrenc_encoder_AdaptiveCrossover, FollowsTheCoreBandwidthWithAHeader) {
    SbrEncoderParams p;
    p.channels = 1;
    SbrExchange ex;
    EncoderPtr e(SbrEncoder::Create(p, ex));
    ASSERT_NE(e, nullptr);
    const std::vector<float> x = test::TiltedNoise(20, 20000.0f, 81);
    const float initial = ex.crossover;
    for (int f = 0; f < 5; ++f) ASSERT_TRUE(e->EncodeFrame(ex, x.data() + f * 1152));
    EXPECT_FALSE(ex.header);
    ex.adaptiveCrossover = true;
    ex.coreBandwidth = initial - 1000.0f;
    ASSERT_TRUE(e->EncodeFrame(ex, x.data() + 5 * 1152));
    EXPECT_TRUE(ex.header) << "a changed crossover forces a header";
    EXPECT_LT(ex.crossover, initial);
    EXPECT_FLOAT_EQ(e->Crossover(), ex.crossover);
    EXPECT_LE(std::fabs(ex.crossover - ex.coreBandwidth), 44100.0f / 128.0f * 2.0f);
    ASSERT_TRUE(e->EncodeFrame(ex, x.data() + 6 * 1152));
    EXPECT_FALSE(ex.header) << "the same bandwidth again changes nothing";
}

// Random parameters and signals: whatever is created codes every frame into a payload the
// decoder's parser takes.
TEST(relsbrenc_encoder_Fuzz, RandomParametersAndSignals) {
    std::mt19937 rng(99);
    int created = 0;
    for (int trial = 0; trial < 25; ++trial) {
        RunOptions o;
        o.codedChannels = 1 + static_cast<int>(rng() % 2);
        o.lcStereo = o.codedChannels == 1 && rng() % 2 == 0;
        o.stereoCoding = static_cast<int>(rng() % 3);
        o.startFreq = static_cast<int>(rng() % 16);
        o.stopFreq = static_cast<int>(rng() % 16);
        for (int& t : o.tuning) t = static_cast<int>(rng() % 4);
        o.tuning[4] = static_cast<int>(rng() % 3);
        const int frames = 12;
        std::vector<std::vector<float>> in(2);
        for (auto& ch : in) {
            ch.resize(static_cast<size_t>(frames) * 1152);
            const float level = static_cast<float>(std::exp2(static_cast<double>(rng() % 16)));
            std::uniform_real_distribution<float> u(-level, level);
            size_t i = 0;
            while (i < ch.size()) {
                // Runs of noise, silence and clipped steps.
                const size_t run = 1 + rng() % 3000;
                const int kind = static_cast<int>(rng() % 3);
                for (size_t j = 0; j < run && i < ch.size(); ++j, ++i)
                    ch[i] = kind == 0 ? u(rng) : (kind == 1 ? 0.0f : (u(rng) > 0.0f ? 32767.0f : -32768.0f));
            }
        }
        if (o.codedChannels == 1 && !o.lcStereo) in.resize(1);
        const RunResult r = test::Run(in, o);
        if (!r.created) continue;
        ++created;
        SCOPED_TRACE(testing::Message() << "trial " << trial << " start " << o.startFreq << " stop " << o.stopFreq);
        EXPECT_EQ(r.parseErrors, 0);
        EXPECT_EQ(r.decodeErrors, 0);
        EXPECT_LE(r.maxPayloadBytes, 510);
    }
    EXPECT_GE(created, 5);
}

}  // namespace
}  // namespace velora::sbr
