// The attack detector and the block-type sequence it gives, on signals whose high-passed
// segment energies are known: a square wave at half the sample rate passes the high-pass at
// (almost exactly) unity gain, so a segment of amplitude a has the energy 192 a^2.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "AttackDetector.h"

namespace velora::enc {
namespace {

// Amplitudes of the segment signals. Their energies (192 a^2) in units of kLoud's, 7.7e8:
constexpr float kQuiet = 100.0f;    // 0.0025, far below the minimum (0.061)
constexpr float kLoud = 2000.0f;    // 1
constexpr float kLoud2 = 3000.0f;   // 2.25
constexpr float kLoud6 = 5000.0f;   // 6.25
constexpr float kLoud16 = 8000.0f;  // 16

struct Segments {
    float a0, a1, a2;
};

// One granule of the alternating signal with the given segment amplitudes.
std::vector<float> Granule(Segments s) {
    std::vector<float> x(kGranuleLines);
    const float amplitude[3] = {s.a0, s.a1, s.a2};
    for (int n = 0; n < kGranuleLines; ++n) {
        x[static_cast<size_t>(n)] = amplitude[n / 192] * ((n & 1) ? -1.0f : 1.0f);
    }
    return x;
}

std::vector<float> Silence() { return std::vector<float>(kGranuleLines, 0.0f); }

// Feeds the granules and returns the attack flags.
std::vector<bool> Attacks(AttackDetector& d, const std::vector<std::vector<float>>& granules) {
    std::vector<bool> attacks;
    for (const auto& g : granules) {
        d.Process(g.data());
        attacks.push_back(d.Attack());
    }
    return attacks;
}

// The segment signals have the energies the tests are built on.
TEST(mp3enc_fb_AttackDetector, SegmentEnergiesOfTheTestSignals) {
    AttackDetector d;
    d.Process(Granule({kQuiet, kLoud, kLoud2}).data());
    const float* e = d.SegmentEnergies();
    EXPECT_NEAR(e[0], 192.0f * kQuiet * kQuiet, 0.02f * 192.0f * kQuiet * kQuiet);
    EXPECT_NEAR(e[1], 192.0f * kLoud * kLoud, 0.02f * 192.0f * kLoud * kLoud);
    EXPECT_NEAR(e[2], 192.0f * kLoud2 * kLoud2, 0.02f * 192.0f * kLoud2 * kLoud2);
    EXPECT_LT(e[0], AttackDetector::kMinimumEnergy);
    EXPECT_GT(e[2], AttackDetector::kMinimumEnergy);
}

TEST(mp3enc_fb_AttackDetector, SilenceAndSteadySignalsStayLong) {
    AttackDetector d;
    for (int g = 0; g < 50; ++g) {
        EXPECT_EQ(d.Process(Silence().data()), kBlockLong);
        EXPECT_FALSE(d.Attack());
    }
    // A loud steady square wave: only its onset is an attack; afterwards it settles back to
    // long blocks and stays there.
    std::vector<int32_t> types;
    for (int g = 0; g < 20; ++g) types.push_back(d.Process(Granule({kLoud, kLoud, kLoud}).data()));
    std::vector<int32_t> expected(20, kBlockLong);
    expected[0] = kBlockStart;
    expected[1] = kBlockShort;
    expected[2] = kBlockStop;
    EXPECT_EQ(types, expected);
}

// The high-pass state runs on across segments and granules: a held DC level is an attack
// only where it steps up, not at every granule or segment start.
TEST(mp3enc_fb_AttackDetector, HeldLevelIsAnAttackOnlyAtItsStep) {
    AttackDetector d;
    d.Process(Silence().data());
    const std::vector<float> level(kGranuleLines, 20000.0f);
    d.Process(level.data());
    EXPECT_TRUE(d.Attack());
    for (int g = 0; g < 10; ++g) {
        d.Process(level.data());
        EXPECT_FALSE(d.Attack()) << g;
        EXPECT_LT(d.SegmentEnergies()[0], 1.0f);
    }
}

// A click after silence: start, one or more short blocks, stop, then long again.
TEST(mp3enc_fb_AttackDetector, ClickGivesStartShortStop) {
    for (int position : {0, 1, 100, 191, 192, 300, 383, 384, 500, 575}) {
        AttackDetector d;
        std::vector<int32_t> types;
        for (int g = 0; g < 12; ++g) {
            std::vector<float> x = Silence();
            if (g == 4) x[static_cast<size_t>(position)] = 30000.0f;
            types.push_back(d.Process(x.data()));
        }
        std::string sequence;
        for (int32_t t : types) sequence += static_cast<char>('0' + t);
        // Start at the click's granule, short blocks after it, then stop.
        EXPECT_EQ(sequence.substr(0, 5), "00001") << position;
        const size_t stop = sequence.find('3');
        ASSERT_NE(stop, std::string::npos) << sequence;
        EXPECT_GE(stop, 6u) << sequence;
        EXPECT_EQ(sequence.substr(5, stop - 5), std::string(stop - 5, '2')) << sequence;
        EXPECT_EQ(sequence.substr(stop + 1), std::string(sequence.size() - stop - 1, '0')) << sequence;
    }
}

// The attack flag of `last` after a steady signal of segment amplitude `level` (whose onset
// is an attack, its second granule not, which leaves no look back armed).
bool AttackAfterSteady(float level, std::vector<Segments> granules) {
    AttackDetector d;
    const std::vector<bool> history = Attacks(d, {Granule({level, level, level}), Granule({level, level, level})});
    EXPECT_EQ(history, (std::vector<bool>{true, false}));
    std::vector<std::vector<float>> signal;
    for (const Segments& g : granules) signal.push_back(Granule(g));
    return Attacks(d, signal).back();
}

// Last segment more than 4x above both others.
TEST(mp3enc_fb_AttackDetector, AttackInTheLastSegment) {
    EXPECT_TRUE(AttackAfterSteady(kLoud, {{kLoud, kLoud, kLoud16}}));
    EXPECT_FALSE(AttackAfterSteady(kLoud, {{kLoud, kQuiet, kLoud2}}));  // 2.25x the first only
    EXPECT_FALSE(AttackAfterSteady(kLoud, {{kQuiet, kLoud, kLoud2}}));  // 2.25x the middle only
}

// Middle segment more than 4x above the first one and the previous granule's last one.
TEST(mp3enc_fb_AttackDetector, AttackInTheMiddleSegment) {
    // The last segment as loud as the middle one, so only the middle segment's rule fires.
    EXPECT_TRUE(AttackAfterSteady(kLoud, {{kLoud, kLoud16, kLoud16}}));
    EXPECT_TRUE(AttackAfterSteady(kLoud, {{kQuiet, kLoud6, kLoud6}}));
    EXPECT_FALSE(AttackAfterSteady(kLoud, {{kLoud2, kLoud6, kLoud6}}));   // 2.8x the first
    EXPECT_FALSE(AttackAfterSteady(kLoud16, {{kLoud, kLoud16, kLoud16}}));  // as loud as before
}

// First segment more than 4x above the previous granule's last two.
TEST(mp3enc_fb_AttackDetector, AttackInTheFirstSegment) {
    EXPECT_TRUE(AttackAfterSteady(kLoud, {{kLoud6, kLoud6, kLoud6}}));
    EXPECT_TRUE(AttackAfterSteady(kLoud, {{kQuiet, kQuiet, kQuiet}, {kLoud2, kLoud2, kLoud2}}));
    EXPECT_FALSE(AttackAfterSteady(kLoud, {{kLoud2, kLoud2, kLoud2}}));  // 2.25x
    // Only the previous last segment quiet, or only the middle one.
    EXPECT_FALSE(AttackAfterSteady(kLoud, {{kLoud, kLoud, kQuiet}, {kLoud2, kLoud2, kLoud2}}));
    EXPECT_FALSE(AttackAfterSteady(kLoud, {{kLoud, kQuiet, kLoud}, {kLoud2, kLoud2, kLoud2}}));
}

TEST(mp3enc_fb_AttackDetector, QuietSegmentsAreAttacksOnlyOutOfSilence) {
    // Just above and just below the minimum energy (47110000 = 192 x 495.3^2): after a quiet
    // bed (192 x 10^2, over the silent 10^4) only the louder one is an attack.
    AttackDetector d;
    const auto bed = [](float a0, float a1, float a2) { return Granule({10.0f + a0, 10.0f + a1, 10.0f + a2}); };
    EXPECT_EQ(Attacks(d, {bed(0, 0, 0), bed(0, 0, 520.0f)}), (std::vector<bool>{false, true}));
    AttackDetector e;
    EXPECT_EQ(Attacks(e, {bed(0, 0, 0), bed(0, 0, 470.0f), bed(0, 0, 0), bed(0, 470.0f, 0), bed(0, 0, 0),
                          bed(470.0f, 0, 0)}),
              (std::vector<bool>(6, false)));
    // Out of digital silence an onset counts from 10^6 (192 x 72^2): a note after a pause or
    // at the start of a file, whose pre-echo would fall on silence.
    for (const Segments s : {Segments{0.0f, 0.0f, 470.0f}, Segments{0.0f, 470.0f, 0.0f}, Segments{470.0f, 0.0f, 0.0f},
                             Segments{0.0f, 0.0f, 80.0f}}) {
        AttackDetector f;
        EXPECT_EQ(Attacks(f, {Silence(), Granule(s)}), (std::vector<bool>{false, true})) << s.a0 << " " << s.a1 << " " << s.a2;
    }
    AttackDetector g;
    EXPECT_EQ(Attacks(g, {Silence(), Granule({0.0f, 0.0f, 60.0f})}), (std::vector<bool>{false, false}));
}

// After a granule with an attack, a first segment far above the second one, or a previous
// last segment far above this granule's first, still counts.
TEST(mp3enc_fb_AttackDetector, LookBackAfterAnAttack) {
    // The attack ends the previous granule; this granule starts loud and drops.
    AttackDetector d;
    EXPECT_EQ(Attacks(d, {Silence(), Granule({kQuiet, kQuiet, kLoud}), Granule({kLoud, kQuiet, kQuiet})}),
              (std::vector<bool>{false, true, true}));
    // The same granule without an attack before it: none.
    EXPECT_FALSE(AttackAfterSteady(kLoud, {{kLoud, kQuiet, kQuiet}}));

    // The loud previous segment against a quiet first one.
    AttackDetector f;
    EXPECT_EQ(Attacks(f, {Silence(), Granule({kQuiet, kQuiet, kLoud}), Granule({kQuiet, kQuiet, kQuiet})}),
              (std::vector<bool>{false, true, true}));
    EXPECT_FALSE(AttackAfterSteady(kLoud, {{kQuiet, kQuiet, kQuiet}}));
}

// An attack found by looking back does not arm another look back.
TEST(mp3enc_fb_AttackDetector, LookBackIsUsedOnce) {
    AttackDetector d;
    EXPECT_EQ(Attacks(d, {Silence(), Granule({kQuiet, kQuiet, kLoud}), Granule({kLoud, kQuiet, kLoud}),
                          Granule({kLoud, kQuiet, kQuiet})}),
              (std::vector<bool>{false, true, true, false}));
}

// Block types: an attack while a stop block is pending stays short, and the stop follows
// the last short block.
TEST(mp3enc_fb_AttackDetector, AttackDuringStopPendingStaysShort) {
    AttackDetector d;
    std::vector<int32_t> types;
    for (int g = 0; g < 10; ++g) {
        std::vector<float> x = Silence();
        if (g == 2 || g == 4) x[300] = 30000.0f;  // middle segments: no look back
        types.push_back(d.Process(x.data()));
    }
    EXPECT_EQ(types, (std::vector<int32_t>{0, 0, 1, 2, 2, 2, 3, 0, 0, 0}));
}

TEST(mp3enc_fb_AttackDetector, ResetStartsAfresh) {
    AttackDetector d;
    d.Process(Granule({kLoud, kLoud, kLoud}).data());
    EXPECT_TRUE(d.Attack());
    d.Reset();
    EXPECT_EQ(d.Process(Silence().data()), kBlockLong);
    EXPECT_FALSE(d.Attack());
    EXPECT_EQ(d.Process(Granule({kLoud, kLoud, kLoud}).data()), kBlockStart);
}

// Signals like music at 44.1 kHz, each run through the detector granule by granule: a
// castanet-like click train over a soft chord must fire at every click; a steady tone, a
// sustained chord with vibrato and steady noise must not fire once past their onset.
TEST(mp3enc_fb_AttackDetector, RealSignals) {
    constexpr double kRate = 44100.0;
    constexpr double kTwoPi = 6.283185307179586;
    constexpr int kGranules = 150;  // about 2 s
    // A sustained C major chord, six harmonics per note, 5 Hz vibrato; about -12 dBFS peak.
    const auto chord = [](double t) {
        double v = 0.0;
        for (double f : {261.63, 329.63, 392.0})
            for (int k = 1; k <= 6; ++k)
                v += 1500.0 / k * std::sin(kTwoPi * f * k * t + 0.2 * std::sin(kTwoPi * 5.0 * t));
        return v;
    };
    uint32_t state = 11;
    const auto uniform = [&state]() {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    };
    // Clicks every 130 ms (not a multiple of the granule) from 0.2 s on: 2 ms of noise
    // decaying with a 0.5 ms time constant, peak 12000, over the chord 12 dB down.
    const auto clickStart = [](int k) { return static_cast<size_t>((0.2 + 0.13 * k) * kRate); };
    struct Case {
        const char* name;
        bool clicks;
        std::function<double(size_t, double)> signal;  // sample index, time
    };
    const Case cases[] = {
        {"tone", false, [](size_t, double t) { return 20000.0 * std::sin(kTwoPi * 1000.0 * t); }},
        {"high tone", false, [](size_t, double t) { return 12000.0 * std::sin(kTwoPi * 7000.0 * t); }},
        {"chord", false, [&](size_t, double t) { return chord(t); }},
        {"noise", false, [&](size_t, double) { return 8000.0 * uniform(); }},
        {"click train", true,
         [&](size_t n, double t) {
             double v = 0.25 * chord(t);
             for (int k = 0; k < 15; ++k) {
                 const size_t at = clickStart(k);
                 if (n >= at && n < at + 88) v += 12000.0 * uniform() * std::exp(-static_cast<double>(n - at) / 22.0);
             }
             return v;
         }},
    };
    for (const Case& c : cases) {
        AttackDetector d;
        std::vector<bool> attacks;
        std::vector<float> x(kGranuleLines);
        for (int g = 0; g < kGranules; ++g) {
            for (int i = 0; i < kGranuleLines; ++i) {
                const size_t n = static_cast<size_t>(g * kGranuleLines + i);
                x[static_cast<size_t>(i)] = static_cast<float>(c.signal(n, static_cast<double>(n) / kRate));
            }
            d.Process(x.data());
            attacks.push_back(d.Attack());
        }
        if (!c.clicks) {
            // The onset from silence may fire; nothing after it.
            for (int g = 2; g < kGranules; ++g) EXPECT_FALSE(attacks[static_cast<size_t>(g)]) << c.name << " granule " << g;
            continue;
        }
        int found = 0;
        int clicks = 0;
        for (int k = 0; clickStart(k) + 2 * kGranuleLines < static_cast<size_t>(kGranules * kGranuleLines); ++k) {
            ++clicks;
            const size_t g = clickStart(k) / kGranuleLines;
            if (attacks[g]) ++found;
            // Fires in the click's own granule; the detector may look back into the next.
        }
        EXPECT_EQ(found, clicks) << c.name;
        // Between clicks (130 ms, over 9 granules) it settles: at most the click's granule
        // and the look back after it fire.
        int fired = 0;
        for (bool a : attacks) fired += a ? 1 : 0;
        EXPECT_LE(fired, 2 * clicks + 1) << c.name;
    }
}

TEST(mp3enc_fb_BlockSync, TableForAllPairs) {
    // Row: first channel, column: second.
    const int32_t expected[4][4] = {{0, 1, 2, 3}, {1, 1, 2, 2}, {2, 2, 2, 2}, {3, 2, 2, 3}};
    for (int32_t a = 0; a < 4; ++a) {
        for (int32_t b = 0; b < 4; ++b) {
            EXPECT_EQ(SynchroniseBlockTypes(a, b), expected[a][b]) << a << "," << b;
        }
    }
}

// Two channels with their own attacks, synchronised: the common sequence never puts a long
// window half next to a short one.
TEST(mp3enc_fb_BlockSync, SynchronisedSequencesAreLegal) {
    uint32_t state = 3;
    for (int run = 0; run < 50; ++run) {
        AttackDetector left;
        AttackDetector right;
        int32_t previous = kBlockLong;
        for (int g = 0; g < 200; ++g) {
            std::vector<float> x0 = Silence();
            std::vector<float> x1 = Silence();
            state = state * 1664525u + 1013904223u;
            if ((state >> 28) < 3) x0[(state >> 8) % kGranuleLines] = 30000.0f;
            state = state * 1664525u + 1013904223u;
            if ((state >> 28) < 3) x1[(state >> 8) % kGranuleLines] = 30000.0f;
            const int32_t common = SynchroniseBlockTypes(left.Process(x0.data()), right.Process(x1.data()));
            // The right half of start and short windows is short, so is the left half of
            // short and stop windows.
            const bool previousEndsShort = previous == kBlockStart || previous == kBlockShort;
            const bool startsShort = common == kBlockShort || common == kBlockStop;
            ASSERT_EQ(previousEndsShort, startsShort) << "run " << run << " granule " << g;
            previous = common;
        }
    }
}

}  // namespace
}  // namespace velora::enc
