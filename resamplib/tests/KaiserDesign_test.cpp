// The Kaiser design: length and beta formulas at known points, the I0 series against the
// standard library, the window's shape, the designed low-pass's response, and the phase split.
#include "KaiserDesign.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace velora::resample {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(resample_Kaiser, LengthFollowsTheAttenuationAndTransition) {
    // (90 - 7.95) / (14.36 * dw) + 1, worked by hand.
    EXPECT_EQ(KaiserLength(90.0, 0.025), 229);                         // 228.55 + 1
    EXPECT_EQ(KaiserLength(90.0, 0.05), 115);                          // 114.28 + 1
    EXPECT_EQ(KaiserLength(90.0, 2205.0 / (147.0 * 48000.0)), 18285);  // 18284.1 + 1
    EXPECT_EQ(KaiserLength(60.0, 0.1), 37);                            // 36.25 + 1
}

TEST(resample_Kaiser, BetaInEachRangeOfAttenuation) {
    EXPECT_NEAR(KaiserBeta(90.0), 8.95926, 1e-9);
    EXPECT_NEAR(KaiserBeta(60.0), 5.65326, 1e-9);
    EXPECT_NEAR(KaiserBeta(140.0), 14.46926, 1e-9);
    // 0.5842 (A - 21)^0.4 + 0.07886 (A - 21)
    EXPECT_NEAR(KaiserBeta(40.0), 3.39532, 1e-4);
    EXPECT_NEAR(KaiserBeta(50.0), 4.53351, 1e-4);
    EXPECT_NEAR(KaiserBeta(25.0), 1.33259, 1e-4);
    EXPECT_EQ(KaiserBeta(24.9), 0.0);
    EXPECT_EQ(KaiserBeta(0.0), 0.0);
    EXPECT_EQ(KaiserBeta(150.0), 0.0);
}

TEST(resample_Kaiser, BesselSeriesMatchesTheLibrary) {
    for (double x : {0.0, 0.5, 1.0, 3.0, 8.95926, 14.5, 30.0}) {
        const double expected = std::cyl_bessel_i(0.0, x);
        EXPECT_NEAR(BesselI0(x), expected, 1e-14 * expected) << x;
    }
    EXPECT_NEAR(BesselI0(1.0), 1.2660658777520082, 1e-15);
}

TEST(resample_Kaiser, WindowIsSymmetricWithItsPeakAtTheCentre) {
    const double beta = 8.95926;
    const double i0 = BesselI0(beta);
    // Odd length: a centre tap of exactly 1.
    EXPECT_EQ(KaiserWindow(3, 7, beta, i0), 1.0);
    // Even length: symmetric about the half-sample point, no tap at the peak.
    EXPECT_LT(KaiserWindow(3, 8, beta, i0), 1.0);
    EXPECT_EQ(KaiserWindow(3, 8, beta, i0), KaiserWindow(4, 8, beta, i0));
    for (long long length : {7LL, 8LL, 229LL}) {
        EXPECT_NEAR(KaiserWindow(0, length, beta, i0), 1.0 / i0, 1e-15) << length;
        for (long long n = 0; n < length; ++n) {
            EXPECT_EQ(KaiserWindow(n, length, beta, i0),
                      KaiserWindow(length - 1 - n, length, beta, i0));
            if (2 * (n + 1) <= length - 1) {  // rising towards the centre
                EXPECT_LT(KaiserWindow(n, length, beta, i0), KaiserWindow(n + 1, length, beta, i0));
            }
        }
    }
    // Mid-way out: I0(beta sqrt(1 - 0.25)) / I0(beta).
    EXPECT_NEAR(KaiserWindow(1, 5, beta, i0),
                std::cyl_bessel_i(0.0, beta * std::sqrt(0.75)) / std::cyl_bessel_i(0.0, beta),
                1e-13);
}

// |H(f)| of a tap set, f normalised to its rate.
double Response(const std::vector<double>& h, double f) {
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < h.size(); ++n) {
        sum += h[n] * std::polar(1.0, -2.0 * kPi * f * static_cast<double>(n));
    }
    return std::abs(sum);
}

TEST(resample_Kaiser, LowPassMeetsItsBandsForOddAndEvenLengths) {
    const double attenuation = 90.0;
    const double beta = KaiserBeta(attenuation);
    for (int phases : {1, 3}) {
        const double cutoff = 0.2 / phases;
        const double transition = 0.1 * cutoff;
        for (long long extra : {0LL, 1LL}) {
            const long long length = KaiserLength(attenuation, transition) + extra;
            std::vector<double> h(static_cast<size_t>(length));
            DesignLowPass(cutoff, beta, phases, h.data(), length);
            for (long long n = 0; n < length; ++n) {
                ASSERT_EQ(h[static_cast<size_t>(n)], h[static_cast<size_t>(length - 1 - n)]);
            }
            double passMin = 1e9, passMax = 0.0, stopMax = 0.0;
            for (int i = 0; i <= 400; ++i) {
                const double pass = (cutoff - transition / 2) * i / 400.0;
                const double g = Response(h, pass) / phases;
                passMin = std::min(passMin, g);
                passMax = std::max(passMax, g);
                const double stop =
                    cutoff + transition / 2 + (0.5 - cutoff - transition / 2) * i / 400.0;
                stopMax = std::max(stopMax, Response(h, stop) / phases);
            }
            EXPECT_LT(20.0 * std::log10(passMax / passMin), 0.001) << length;
            EXPECT_NEAR(passMax, 1.0, 1e-4) << length;
            EXPECT_LT(20.0 * std::log10(stopMax), -88.0) << length;
            // The cut-off itself sits mid-way through the transition, at half the gain.
            EXPECT_NEAR(Response(h, cutoff) / phases, 0.5, 0.01) << length;
        }
    }
}

TEST(resample_Kaiser, PhaseSplitTakesEveryPthTap) {
    std::vector<double> ramp(11);
    for (size_t n = 0; n < ramp.size(); ++n) ramp[n] = static_cast<double>(n) + 1.0;
    const long long length = 11;
    // Tap k belongs to phase k mod 4 at index k / 4.
    EXPECT_EQ(PhaseTap(ramp.data(), length, 4, 0, 0), 1.0);
    EXPECT_EQ(PhaseTap(ramp.data(), length, 4, 3, 0), 4.0);
    EXPECT_EQ(PhaseTap(ramp.data(), length, 4, 1, 2), 10.0);
    EXPECT_EQ(PhaseTap(ramp.data(), length, 4, 2, 2), 11.0);
    EXPECT_EQ(PhaseTap(ramp.data(), length, 4, 3, 2), 0.0);  // tap 11 is past the end
    EXPECT_EQ(PhaseTap(ramp.data(), length, 4, 0, -1), 0.0);

    // Each sub-filter of a low-pass designed for P phases passes DC with unit gain.
    const int phases = 5;
    const double cutoff = 0.5 / phases;
    const long long n = KaiserLength(90.0, 0.1 * cutoff);
    std::vector<double> h(static_cast<size_t>(n));
    DesignLowPass(cutoff, KaiserBeta(90.0), phases, h.data(), n);
    const long long perPhase = (n + phases - 1) / phases;
    double total = 0.0;
    for (int p = 0; p < phases; ++p) {
        double sum = 0.0;
        for (long long i = 0; i < perPhase; ++i) sum += PhaseTap(h.data(), n, phases, p, i);
        EXPECT_NEAR(sum, 1.0, 1e-4) << p;
        total += sum;
    }
    double direct = 0.0;
    for (double v : h) direct += v;
    EXPECT_NEAR(total, direct, 1e-12);
}

}  // namespace
}  // namespace velora::resample
