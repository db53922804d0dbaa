// Synthetic signals for the tests of the quality measures.
#pragma once

#include <cmath>
#include <cstddef>
#include <random>
#include <vector>

#include "Signal.h"

namespace velora::bench::test {

constexpr double kPi = 3.14159265358979323846;

inline Signal Silence(int rate, int channels, size_t length) {
    Signal s;
    s.rate = rate;
    s.channels.assign(static_cast<size_t>(channels), std::vector<float>(length, 0.0f));
    return s;
}

// Gaussian white noise of the given RMS (full scale 32768), a different seed per channel.
inline Signal WhiteNoise(int rate, int channels, size_t length, double rms, unsigned seed) {
    Signal s = Silence(rate, channels, length);
    for (size_t c = 0; c < s.channels.size(); ++c) {
        std::mt19937 rng(seed + static_cast<unsigned>(c) * 7919u);
        std::normal_distribution<double> normal(0.0, rms);
        for (float& v : s.channels[c]) v = static_cast<float>(normal(rng));
    }
    return s;
}

// Adds a sine to every channel.
inline void AddTone(Signal& s, double hz, double amplitude) {
    for (std::vector<float>& c : s.channels)
        for (size_t n = 0; n < c.size(); ++n)
            c[n] += static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * static_cast<double>(n) / s.rate));
}

// Adds noise made of many sines of random phase spread evenly over [low, high] Hz, of the
// given RMS.
inline void AddBandNoise(Signal& s, double low, double high, double rms, unsigned seed) {
    constexpr int kTones = 40;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0.0, 2.0 * kPi);
    const double amplitude = rms * std::sqrt(2.0 / kTones);
    for (int t = 0; t < kTones; ++t) {
        const double hz = low + (high - low) * t / (kTones - 1);
        const double p = phase(rng);
        for (std::vector<float>& c : s.channels)
            for (size_t n = 0; n < c.size(); ++n)
                c[n] += static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * static_cast<double>(n) / s.rate + p));
    }
}

// a + gain * b, sample by sample.
inline Signal Mix(const Signal& a, const Signal& b, double gain) {
    Signal out = a;
    for (size_t c = 0; c < out.channels.size(); ++c)
        for (size_t n = 0; n < out.channels[c].size(); ++n)
            out.channels[c][n] += static_cast<float>(gain * static_cast<double>(b.channels[c][n]));
    return out;
}

}  // namespace velora::bench::test
