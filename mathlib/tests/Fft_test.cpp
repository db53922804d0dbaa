// The FFTs against a direct DFT in double precision, round trips, and the sizes Init refuses.
#include "Fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace velora::math {
namespace {

constexpr double kPi = 3.14159265358979323846;

using Spectrum = std::vector<std::complex<double>>;

Spectrum DirectDft(const std::vector<float>& re, const std::vector<float>& im, int sign) {
    const size_t n = re.size();
    Spectrum out(n);
    for (size_t k = 0; k < n; ++k) {
        std::complex<double> sum = 0.0;
        for (size_t t = 0; t < n; ++t) {
            const double angle =
                sign * 2.0 * kPi * static_cast<double>((k * t) % n) / static_cast<double>(n);
            sum += std::complex<double>(re[t], im[t]) *
                   std::complex<double>(std::cos(angle), std::sin(angle));
        }
        out[k] = sum;
    }
    return out;
}

std::vector<float> Noise(size_t n, size_t seed) {
    std::mt19937 rng(static_cast<unsigned>(seed));
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v) x = u(rng);
    return v;
}

// Largest error relative to the largest reference magnitude.
double RelativeError(const Spectrum& reference, const float* re, const float* im, size_t n) {
    double peak = 0.0;
    double error = 0.0;
    for (size_t k = 0; k < n; ++k) {
        peak = std::max(peak, std::abs(reference[k]));
        error = std::max(error, std::abs(reference[k] - std::complex<double>(re[k], im[k])));
    }
    return error / peak;
}

TEST(mathlib_ComplexFft, MatchesTheDirectTransformBothWays) {
    for (int size = 1; size <= 1024; size *= 2) {
        const size_t n = static_cast<size_t>(size);
        const std::vector<float> re0 = Noise(n, 1u + n);
        const std::vector<float> im0 = Noise(n, 1000u + n);
        ComplexFft fft;
        ASSERT_TRUE(fft.Init(size));
        EXPECT_EQ(fft.Size(), size);

        std::vector<float> re = re0, im = im0;
        fft.Forward(re.data(), im.data());
        EXPECT_LT(RelativeError(DirectDft(re0, im0, -1), re.data(), im.data(), n), 2e-6) << size;

        re = re0;
        im = im0;
        fft.Inverse(re.data(), im.data());
        EXPECT_LT(RelativeError(DirectDft(re0, im0, +1), re.data(), im.data(), n), 2e-6) << size;
    }
}

TEST(mathlib_ComplexFft, RoundTripReturnsTheSignalTimesTheSize) {
    const int size = 1 << 14;
    std::vector<float> re = Noise(size, 7), im = Noise(size, 8);
    const std::vector<float> re0 = re, im0 = im;
    ComplexFft fft;
    ASSERT_TRUE(fft.Init(size));
    fft.Forward(re.data(), im.data());
    fft.Inverse(re.data(), im.data());
    double worst = 0.0;
    for (int i = 0; i < size; ++i) {
        worst = std::max(worst, static_cast<double>(std::abs(re[i] / size - re0[i])));
        worst = std::max(worst, static_cast<double>(std::abs(im[i] / size - im0[i])));
    }
    EXPECT_LT(worst, 1e-5);
}

TEST(mathlib_ComplexFft, RefusesSizesThatAreNotPowersOfTwo) {
    ComplexFft fft;
    for (int size : {0, -4, 3, 6, 1000}) {
        EXPECT_FALSE(fft.Init(size)) << size;
        EXPECT_EQ(fft.Size(), 0);
    }
}

TEST(mathlib_RealFft, MatchesTheDirectTransform) {
    for (int size = 2; size <= 2048; size *= 2) {
        const size_t n = static_cast<size_t>(size);
        const std::vector<float> x = Noise(n, 50u + n);
        RealFft fft;
        ASSERT_TRUE(fft.Init(size));
        std::vector<float> re(n / 2 + 1, 99.0f), im(n / 2 + 1, 99.0f);
        fft.Forward(x.data(), re.data(), im.data());
        const Spectrum reference = DirectDft(x, std::vector<float>(n, 0.0f), -1);
        EXPECT_LT(RelativeError(reference, re.data(), im.data(), n / 2 + 1), 2e-6) << size;
        EXPECT_EQ(im[0], 0.0f);
        EXPECT_EQ(im[n / 2], 0.0f);
    }
}

TEST(mathlib_RealFft, InverseOfAnySpectrumMatchesTheDirectSum) {
    // A spectrum that is not the transform of anything seen before: the inverse must give
    // N times the real signal whose half spectrum it is.
    for (int size = 2; size <= 512; size *= 2) {
        const size_t n = static_cast<size_t>(size);
        std::vector<float> re = Noise(n / 2 + 1, 300u + n), im = Noise(n / 2 + 1, 400u + n);
        im[0] = 0.0f;
        im[n / 2] = 0.0f;
        std::vector<float> fullRe(n), fullIm(n);
        for (size_t k = 0; k <= n / 2; ++k) {
            fullRe[k] = re[k];
            fullIm[k] = im[k];
            fullRe[(n - k) % n] = re[k];
            fullIm[(n - k) % n] = -im[k];
        }
        const Spectrum reference = DirectDft(fullRe, fullIm, +1);
        RealFft fft;
        ASSERT_TRUE(fft.Init(size));
        std::vector<float> out(n, 99.0f);
        fft.Inverse(re.data(), im.data(), out.data());
        double peak = 0.0, error = 0.0;
        for (size_t t = 0; t < n; ++t) {
            EXPECT_NEAR(reference[t].imag(), 0.0, 1e-9);
            peak = std::max(peak, std::abs(reference[t].real()));
            error = std::max(error, std::abs(reference[t].real() - static_cast<double>(out[t])));
        }
        EXPECT_LT(error / peak, 2e-6) << size;
    }
}

TEST(mathlib_RealFft, RoundTripAndRefusedSizes) {
    const int size = 4096;
    const std::vector<float> x = Noise(size, 11);
    RealFft fft;
    ASSERT_TRUE(fft.Init(size));
    std::vector<float> re(size / 2 + 1), im(size / 2 + 1), y(size);
    fft.Forward(x.data(), re.data(), im.data());
    fft.Inverse(re.data(), im.data(), y.data());
    for (int i = 0; i < size; ++i) ASSERT_NEAR(y[i] / size, x[i], 1e-5f) << i;

    for (int bad : {0, 1, 12, -8}) {
        EXPECT_FALSE(fft.Init(bad)) << bad;
        EXPECT_EQ(fft.Size(), 0);
    }
}

}  // namespace
}  // namespace velora::math
