// Test-side signal generation and measurement, in double precision and independent of the
// converter and of mathlib: a plain radix-2 FFT, a Kaiser-windowed amplitude spectrum, and
// the exact DFT at one bin.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <vector>

namespace velora::resample::testing {

constexpr double kPi = 3.14159265358979323846;

inline void ReferenceFft(std::vector<std::complex<double>>& x) {
    const size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        for (size_t i = 0; i < n; i += len) {
            for (size_t k = 0; k < len / 2; ++k) {
                const double angle = -2.0 * kPi * static_cast<double>(k) / static_cast<double>(len);
                const std::complex<double> w(std::cos(angle), std::sin(angle));
                const std::complex<double> t = w * x[i + k + len / 2];
                x[i + k + len / 2] = x[i + k] - t;
                x[i + k] += t;
            }
        }
    }
}

// Amplitude per bin of y[start .. start + n) (n a power of two) under a Kaiser window with
// beta 20, whose side lobes lie below -150 dB: a sinusoid of amplitude A reads about A at
// its peak. The main lobe spans about +-7 bins.
inline std::vector<double> WindowedAmplitudes(const std::vector<float>& y, size_t start, size_t n,
                                              size_t stride = 1, size_t channel = 0) {
    const double beta = 20.0;
    const double i0 = std::cyl_bessel_i(0.0, beta);
    std::vector<std::complex<double>> x(n);
    double sum = 0.0;
    for (size_t t = 0; t < n; ++t) {
        const double r = 2.0 * static_cast<double>(t) / static_cast<double>(n - 1) - 1.0;
        const double w = std::cyl_bessel_i(0.0, beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0;
        sum += w;
        x[t] = w * static_cast<double>(y[(start + t) * stride + channel]);
    }
    ReferenceFft(x);
    std::vector<double> amplitude(n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k) amplitude[k] = 2.0 * std::abs(x[k]) / sum;
    return amplitude;
}

// Complex amplitude of a sinusoid with exactly `bin` cycles in y[start .. start + n): for
// A cos(w t + p) with t counted from `start`, A exp(i p).
inline std::complex<double> BinAmplitude(const std::vector<float>& y, size_t start, size_t n,
                                         size_t bin, size_t stride = 1, size_t channel = 0) {
    std::complex<double> sum = 0.0;
    for (size_t t = 0; t < n; ++t) {
        const double angle =
            -2.0 * kPi * static_cast<double>((bin * t) % n) / static_cast<double>(n);
        sum += static_cast<double>(y[(start + t) * stride + channel]) *
               std::complex<double>(std::cos(angle), std::sin(angle));
    }
    return 2.0 * sum / static_cast<double>(n);
}

inline double Db(double ratio) {
    return 20.0 * std::log10(ratio);
}

struct Tone {
    double frequency;  // Hz
    double amplitude;
    double phase;  // radians, of the sine at t = 0
};

// Mono sum of sines at `rate`.
inline std::vector<float> Tones(const std::vector<Tone>& tones, double rate, size_t frames) {
    std::vector<float> x(frames);
    for (size_t n = 0; n < frames; ++n) {
        double v = 0.0;
        for (const Tone& t : tones) {
            v += t.amplitude *
                 std::sin(2.0 * kPi * t.frequency * static_cast<double>(n) / rate + t.phase);
        }
        x[n] = static_cast<float>(v);
    }
    return x;
}

// A linear sweep from f0 to f1 over `seconds`, faded in and out over `fade` seconds with
// raised-cosine ramps; zero outside [0, seconds]. Evaluated at any time.
struct Sweep {
    double f0, f1, seconds, fade;

    double operator()(double t) const {
        if (t < 0.0 || t > seconds) return 0.0;
        double envelope = 1.0;
        if (t < fade) envelope = 0.5 - 0.5 * std::cos(kPi * t / fade);
        if (t > seconds - fade) envelope = 0.5 - 0.5 * std::cos(kPi * (seconds - t) / fade);
        const double phase = 2.0 * kPi * (f0 * t + 0.5 * (f1 - f0) * t * t / seconds);
        return 0.5 * envelope * std::sin(phase);
    }
};

}  // namespace velora::resample::testing
