// Pseudo stereo: widths 0 and 1 are exact mono; at larger widths the mid equals the input
// with its high band (from an independent reference high-pass) scaled by sqrt(1 - w^2),
// the high band decorrelates while the bass stays mono, the energy holds, and width
// changes ramp instead of stepping.
#include "SbrPseudoStereo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace velora::sbr {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kBlock = 1152;
constexpr double kWidth3 = 0.70710677;  // widths of indexes 2 and 3
constexpr double kWidth2 = 0.44806250;

std::vector<float> Noise(size_t length, float amplitude, uint32_t seed = 12345) {
    std::vector<float> s(length);
    for (float& v : s) {
        seed = seed * 1664525u + 1013904223u;
        v = amplitude * (static_cast<float>(seed >> 8) / 8388608.0f - 1.0f);
    }
    return s;
}

std::vector<float> Tone(double frequency, double rate, size_t length, double amplitude) {
    std::vector<float> s(length);
    for (size_t n = 0; n < length; ++n) {
        s[n] = static_cast<float>(amplitude * std::sin(2.0 * kPi * frequency * static_cast<double>(n) / rate));
    }
    return s;
}

// Runs whole blocks of `mono` with the width index of each block; returns left and right.
struct Stereo {
    std::vector<double> left, right;
};
Stereo RunBlocks(SbrPseudoStereo& ps, const std::vector<float>& mono, const std::vector<int>& widths) {
    Stereo out{std::vector<double>(mono.size()), std::vector<double>(mono.size())};
    std::vector<float> block(2 * kBlock);
    for (size_t b = 0; (b + 1) * kBlock <= mono.size(); ++b) {
        for (int n = 0; n < kBlock; ++n) block[2 * n] = block[2 * n + 1] = mono[b * kBlock + n];
        ps.Process(block.data(), kBlock, widths[b < widths.size() ? b : widths.size() - 1]);
        for (int n = 0; n < kBlock; ++n) {
            out.left[b * kBlock + n] = static_cast<double>(block[2 * n]);
            out.right[b * kBlock + n] = static_cast<double>(block[2 * n + 1]);
        }
    }
    return out;
}

// Butterworth high-pass from the audio-EQ cookbook form, in double (direct form I).
std::vector<double> ReferenceHighPass(const std::vector<float>& x, double rate) {
    const double w0 = 2.0 * kPi * kPseudoStereoCrossoverHz / rate;
    const double alpha = std::sin(w0) / (2.0 * std::sqrt(0.5));
    const double a0 = 1.0 + alpha;
    const double b0 = (1.0 + std::cos(w0)) / 2.0 / a0, b1 = -2.0 * b0, b2 = b0;
    const double a1 = -2.0 * std::cos(w0) / a0, a2 = (1.0 - alpha) / a0;
    std::vector<double> y(x.size());
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (size_t n = 0; n < x.size(); ++n) {
        y[n] = b0 * static_cast<double>(x[n]) + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1, x1 = static_cast<double>(x[n]), y2 = y1, y1 = y[n];
    }
    return y;
}

// Sums over samples from `from` on: a.b
template <class A, class B>
double Dot(const A& a, const B& b, size_t from) {
    double s = 0.0;
    for (size_t n = from; n < a.size(); ++n) s += static_cast<double>(a[n]) * static_cast<double>(b[n]);
    return s;
}

TEST(sbr_pseudo_Mono, WidthsZeroAndOneLeaveTheInputUntouched) {
    SbrPseudoStereo ps;
    ps.Init(44100);
    const std::vector<float> x = Noise(kBlock * 80, 20000.0f);
    // From the start (width starts at 0), then back to mono after a wide stretch; a
    // negative index counts as 0.
    std::vector<int> widths(80, 0);
    for (int b = 10; b < 20; ++b) widths[b] = 1;
    for (int b = 20; b < 40; ++b) widths[b] = 3;
    for (int b = 40; b < 80; ++b) widths[b] = (b % 2 == 0) ? 0 : -4;
    const Stereo out = RunBlocks(ps, x, widths);
    for (size_t n = 0; n < x.size(); ++n) {
        const bool mono = n < 20 * kBlock || n >= 60 * kBlock;  // 20 blocks to settle
        if (!mono) continue;
        ASSERT_EQ(out.left[n], static_cast<double>(x[n])) << n;
        ASSERT_EQ(out.right[n], static_cast<double>(x[n])) << n;
    }
    // The wide stretch did widen.
    EXPECT_NE(out.left[30 * kBlock], out.right[30 * kBlock]);
}

TEST(sbr_pseudo_Width, MidIsTheLowBandPlusMTimesTheHighBand) {
    for (int rate : {16000, 48000}) {
        for (int index : {2, 3}) {
            SbrPseudoStereo ps;
            ps.Init(rate);
            const std::vector<float> x = Noise(kBlock * 40, 10000.0f);
            const Stereo out = RunBlocks(ps, x, {index});
            const std::vector<double> high = ReferenceHighPass(x, rate);
            const double w = index == 3 ? kWidth3 : kWidth2;
            const double m = std::sqrt(1.0 - w * w);
            double worst = 0.0;
            for (size_t n = 20 * kBlock; n < x.size(); ++n) {
                const double mid = 0.5 * (out.left[n] + out.right[n]);
                worst = std::fmax(worst, std::fabs(mid - (static_cast<double>(x[n]) - high[n] + m * high[n])));
            }
            EXPECT_LT(worst, 0.05) << rate << " Hz, index " << index;  // rms input 5770
        }
    }
}

TEST(sbr_pseudo_Width, HighBandDecorrelatesBassStaysMonoEnergyHolds) {
    for (int rate : {16000, 32000, 48000}) {
        SbrPseudoStereo ps;
        ps.Init(rate);
        const size_t from = 20 * kBlock;
        const std::vector<float> x = Noise(kBlock * 60, 10000.0f);
        const std::vector<double> high = ReferenceHighPass(x, rate);
        const double inputEnergy = Dot(x, x, from);
        for (int index : {2, 3}) {
            ps.Reset();
            const Stereo out = RunBlocks(ps, x, {index});
            // High band of each channel: the channel minus the shared low band.
            std::vector<double> hl(x.size()), hr(x.size()), side(x.size());
            for (size_t n = 0; n < x.size(); ++n) {
                hl[n] = out.left[n] - (static_cast<double>(x[n]) - high[n]);
                hr[n] = out.right[n] - (static_cast<double>(x[n]) - high[n]);
                side[n] = 0.5 * (out.left[n] - out.right[n]);
            }
            const double corr = Dot(hl, hr, from) / std::sqrt(Dot(hl, hl, from) * Dot(hr, hr, from));
            // Mid and side gains m and w give (m^2 - w^2) / (m^2 + w^2): 0.6 and 0.
            const double expected = index == 3 ? 0.0 : 0.6;
            EXPECT_NEAR(corr, expected, 0.1) << rate << " Hz, index " << index;
            for (const std::vector<double>* channel : {&out.left, &out.right}) {
                const double db = 10.0 * std::log10(Dot(*channel, *channel, from) / inputEnergy);
                EXPECT_LT(std::fabs(db), 1.0) << rate << " Hz, index " << index;
            }
            // The decorrelator passes the high band's energy: side = w * d.
            const double w = index == 3 ? kWidth3 : kWidth2;
            const double sideDb = 10.0 * std::log10(Dot(side, side, from) / (w * w * Dot(high, high, from)));
            EXPECT_LT(std::fabs(sideDb), 0.3) << rate << " Hz, index " << index;
        }
        // A 200 Hz tone stays in the middle: side at least 30 dB below mid.
        ps.Reset();
        const std::vector<float> bass = Tone(200.0, rate, kBlock * 30, 20000.0);
        const Stereo out = RunBlocks(ps, bass, {3});
        double sideEnergy = 0.0, midEnergy = 0.0;
        for (size_t n = from; n < bass.size(); ++n) {
            const double s = 0.5 * (out.left[n] - out.right[n]);
            const double mid = 0.5 * (out.left[n] + out.right[n]);
            sideEnergy += s * s;
            midEnergy += mid * mid;
        }
        EXPECT_LT(10.0 * std::log10(sideEnergy / midEnergy), -30.0) << rate << " Hz";
    }
}

// Peak of |L - R| / 2 over `length` samples from `at`.
double SidePeak(const Stereo& s, size_t at, size_t length) {
    double peak = 0.0;
    for (size_t n = at; n < at + length; ++n) peak = std::fmax(peak, std::fabs(0.5 * (s.left[n] - s.right[n])));
    return peak;
}

TEST(sbr_pseudo_Width, ChangesRampAcrossBlocksWithoutSteps) {
    SbrPseudoStereo ps;
    ps.Init(48000);
    const std::vector<float> x = Tone(5000.0, 48000.0, kBlock * 70, 10000.0);
    std::vector<int> widths(70, 0);
    for (int b = 4; b < 40; ++b) widths[b] = 3;
    const Stereo out = RunBlocks(ps, x, widths);
    constexpr size_t kWindow = 48;  // 5 periods of the tone
    // The first wide block starts from nothing and grows along the block.
    EXPECT_EQ(SidePeak(out, 0, 4 * kBlock), 0.0);
    const double last = SidePeak(out, 5 * kBlock - kWindow, kWindow);
    EXPECT_GT(last, 10.0);
    EXPECT_LT(SidePeak(out, 4 * kBlock, kWindow), 0.1 * last);
    // Both while widening and while narrowing, no jump where blocks meet.
    for (size_t b = 5; b < 60; ++b) {
        const double before = SidePeak(out, b * kBlock - kWindow, kWindow);
        const double after = SidePeak(out, b * kBlock, kWindow);
        if (before < 1.0) continue;
        EXPECT_NEAR(after / before, 1.0, 0.15) << "block " << b;
    }
    // It does get wide (the decorrelator's gain for one tone varies with its frequency but
    // stays above -15 dB) and then narrow again.
    EXPECT_GT(SidePeak(out, 35 * kBlock, kBlock), 0.15 * 10000.0 * kWidth3);
    EXPECT_EQ(SidePeak(out, 65 * kBlock, kBlock), 0.0);
}

TEST(sbr_pseudo_Width, DecorrelatedPartArrivesAfterTheDirectSound) {
    // The direct sound comes first in both channels and fixes the image in the centre;
    // the decorrelated part follows a few ms later.
    SbrPseudoStereo ps;
    ps.Init(48000);
    std::vector<float> x(kBlock * 24, 0.0f);
    const size_t at = kBlock * 20 + 100;  // width 3 has settled by then
    x[at] = 10000.0f;
    const Stereo out = RunBlocks(ps, x, {3});
    EXPECT_GT(out.left[at] + out.right[at], 10000.0);
    EXPECT_EQ(SidePeak(out, 0, at + 96), 0.0);  // 2 ms
    EXPECT_GT(SidePeak(out, at + 96, 960), 1000.0);
}

TEST(sbr_pseudo_State, ResetRepeatsARunAndFullScaleStaysFinite) {
    SbrPseudoStereo ps;
    ps.Init(22050);
    std::vector<float> x = Noise(kBlock * 30, 32768.0f, 99);
    for (size_t n = kBlock * 10; n < kBlock * 20; ++n) x[n] = (n / 7) % 2 ? 32767.0f : -32768.0f;
    const std::vector<int> widths = {3, 3, 2, 99, 0, 3, 1, 3, 3, 2, 3};
    const Stereo first = RunBlocks(ps, x, widths);
    ps.Reset();
    const Stereo second = RunBlocks(ps, x, widths);
    for (size_t n = 0; n < x.size(); ++n) {
        ASSERT_EQ(first.left[n], second.left[n]) << n;
        ASSERT_EQ(first.right[n], second.right[n]) << n;
        ASSERT_TRUE(std::isfinite(first.left[n]) && std::isfinite(first.right[n])) << n;
        ASSERT_LT(std::fabs(first.left[n]) + std::fabs(first.right[n]), 8.0 * 32768.0) << n;
    }
    // An index above 3 is index 3.
    ps.Reset();
    const Stereo clamped = RunBlocks(ps, x, {99});
    ps.Reset();
    const Stereo three = RunBlocks(ps, x, {3});
    EXPECT_EQ(clamped.left, three.left);
    EXPECT_EQ(clamped.right, three.right);
}

}  // namespace
}  // namespace velora::sbr
