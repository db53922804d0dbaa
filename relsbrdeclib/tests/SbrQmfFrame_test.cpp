// Frames through the QMF domain: with an empty high band the core comes out at twice the
// rate, delayed by the banks plus the six sub-samples of low-band lag; bands from kx on
// come only from the high-band matrix.
#include "SbrQmfFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace velora::sbr {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<float> PassFrames(const std::vector<float>& core, int kx, int upper, bool fillHigh = false) {
    SbrQmfFrame frame;
    frame.Reset();
    std::vector<float> out(core.size() * 2);
    const size_t frames = core.size() / kCoreFrameSamples;
    for (size_t f = 0; f < frames; ++f) {
        frame.Analyse(core.data() + f * kCoreFrameSamples, 1);
        if (fillHigh) {
            // A steady complex tone in band 40 of every high-band row of this frame.
            for (int i = 0; i < kFrameSubsamples; ++i) {
                const double phase = kPi * (40 + 0.5) * static_cast<double>(f * kFrameSubsamples + i);
                frame.High().re[i][40] = static_cast<float>(1000.0 * std::cos(phase));
                frame.High().im[i][40] = static_cast<float>(1000.0 * std::sin(phase));
            }
        }
        frame.Synthesise(kx, upper, 1.0f, 1.0f, out.data() + f * kOutputFrameSamples, 1);
        frame.MoveRows();
    }
    return out;
}

std::vector<float> Sine(double frequency, double rate, size_t length) {
    std::vector<float> s(length);
    for (size_t n = 0; n < length; ++n) {
        s[n] = static_cast<float>(1000.0 * std::sin(2.0 * kPi * frequency * static_cast<double>(n) / rate));
    }
    return s;
}

double Energy(const std::vector<float>& x, size_t from) {
    double e = 0.0;
    for (size_t n = from; n < x.size(); ++n) e += static_cast<double>(x[n]) * static_cast<double>(x[n]);
    return e;
}

TEST(sbr_qmf_Frames, EmptyHighBandGivesTheCoreAtTwiceTheRate) {
    // An impulse finds the delay; sines at several frequencies then match at that delay.
    std::vector<float> impulse(kCoreFrameSamples * 8, 0.0f);
    const size_t at = kCoreFrameSamples * 3 + 100;
    impulse[at] = 1000.0f;
    const std::vector<float> response = PassFrames(impulse, 32, 32);
    size_t peak = 0;
    for (size_t n = 0; n < response.size(); ++n) {
        if (std::fabs(response[n]) > std::fabs(response[peak])) peak = n;
    }
    const int delay = static_cast<int>(peak) - static_cast<int>(2 * at);
    // The banks' own delay plus six sub-samples of 64 output samples.
    EXPECT_GT(delay, 6 * kSynthesisBands);

    for (const double f : {440.0, 2500.0, 7000.0}) {
        const std::vector<float> out = PassFrames(Sine(f, 22050.0, kCoreFrameSamples * 40), 32, 32);
        double dot = 0.0;
        double norm = 0.0;
        double error = 0.0;
        const size_t begin = 4 * kOutputFrameSamples;
        for (size_t n = begin; n < out.size(); ++n) {
            const double ideal = 1000.0 * std::sin(2.0 * kPi * f * (static_cast<double>(n) - delay) / 44100.0);
            dot += static_cast<double>(out[n]) * ideal;
            norm += ideal * ideal;
            const double e = static_cast<double>(out[n]) - ideal;
            error += e * e;
        }
        SCOPED_TRACE(f);
        EXPECT_NEAR(20.0 * std::log10(dot / norm), 0.0, 0.1);
        EXPECT_LT(10.0 * std::log10(error / norm), -50.0);
    }
}

TEST(sbr_qmf_Frames, BandsFromKxComeOnlyFromTheHighBand) {
    // 7150 Hz lies in QMF band 20 at 44.1 kHz: cut with kx 16; 1900 Hz (band 5) passes.
    const std::vector<float> cut = PassFrames(Sine(7150.0, 22050.0, kCoreFrameSamples * 20), 16, 64);
    const std::vector<float> kept = PassFrames(Sine(1900.0, 22050.0, kCoreFrameSamples * 20), 16, 64);
    EXPECT_LT(10.0 * std::log10(Energy(cut, 4096) / Energy(kept, 4096)), -40.0);

    // High-band data between kx and the upper edge reaches the output; above it, not.
    const std::vector<float> silence(kCoreFrameSamples * 20, 0.0f);
    const std::vector<float> high = PassFrames(silence, 16, 48, true);
    EXPECT_GT(Energy(high, 4096), 1e3);
    const std::vector<float> above = PassFrames(silence, 16, 40, true);
    EXPECT_EQ(Energy(above, 0), 0.0);
}

}  // namespace
}  // namespace velora::sbr
