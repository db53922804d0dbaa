// The QMF banks: the prototype as the data file gives it, and analysis followed by
// synthesis reproducing the core signal at twice the rate with a constant delay.
#include "SbrQmf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace velora::sbr {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(sbr_qmf_Prototype, MatchesTheDataFile) {
    std::ifstream in(VELORA_SOURCE_DIR "/relsbrdeclib/tables/qmf_window.txt");
    ASSERT_TRUE(in);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        int index = 0;
        double value = 0.0;
        ASSERT_TRUE(s >> index >> value);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, 640);
        EXPECT_EQ(kQmfPrototype[index], static_cast<float>(value)) << index;
        ++count;
    }
    EXPECT_EQ(count, 640);
    // The peak of the prototype.
    EXPECT_NEAR(kQmfPrototype[320], 0.8537385f, 1e-7f);
}

// Runs `input` (core rate) through analysis and synthesis with the high band empty.
std::vector<float> Reconstruct(const std::vector<float>& input, int emptyFrom = kAnalysisBands) {
    QmfAnalysis analysis;
    QmfSynthesis synthesis;
    analysis.Reset();
    synthesis.Reset();
    std::vector<float> output(input.size() * 2);
    float re[kSynthesisBands];
    float im[kSynthesisBands];
    for (size_t slot = 0; slot + 32 <= input.size(); slot += 32) {
        for (int k = 0; k < kSynthesisBands; ++k) re[k] = im[k] = 0.0f;
        analysis.Run(input.data() + slot, 1, re, im);
        for (int k = emptyFrom; k < kSynthesisBands; ++k) re[k] = im[k] = 0.0f;
        synthesis.Run(re, im, output.data() + 2 * slot, 1);
    }
    return output;
}

std::vector<float> Sine(double frequency, double rate, double amplitude, size_t length) {
    std::vector<float> s(length);
    for (size_t n = 0; n < length; ++n) {
        s[n] = static_cast<float>(amplitude * std::sin(2.0 * kPi * frequency * static_cast<double>(n) / rate));
    }
    return s;
}

// The delay of the bank pair in output samples: where an impulse comes out.
int ImpulseDelay() {
    std::vector<float> impulse(32 * 100, 0.0f);
    const size_t at = 32 * 40;
    impulse[at] = 1000.0f;
    const std::vector<float> out = Reconstruct(impulse);
    size_t peak = 0;
    for (size_t n = 0; n < out.size(); ++n) {
        if (std::fabs(out[n]) > std::fabs(out[peak])) peak = n;
    }
    return static_cast<int>(peak) - static_cast<int>(2 * at);
}

// Gain and residual of `output` against the ideal doubled-rate sine delayed by `delay`,
// over the steady part.
void FitSine(const std::vector<float>& output, double frequency, double rate, int delay,
             double* gainDb, double* residualDb) {
    const size_t begin = 4096;
    const size_t end = output.size() - 1024;
    double dot = 0.0;
    double norm = 0.0;
    for (size_t n = begin; n < end; ++n) {
        const double ideal = std::sin(2.0 * kPi * frequency * (static_cast<double>(n) - delay) / rate);
        dot += static_cast<double>(output[n]) * ideal;
        norm += ideal * ideal;
    }
    const double gain = dot / norm;
    double signal = 0.0;
    double error = 0.0;
    for (size_t n = begin; n < end; ++n) {
        const double ideal =
            gain * std::sin(2.0 * kPi * frequency * (static_cast<double>(n) - delay) / rate);
        signal += ideal * ideal;
        const double e = static_cast<double>(output[n]) - ideal;
        error += e * e;
    }
    *gainDb = 20.0 * std::log10(std::fabs(gain) / 1000.0);
    *residualDb = 10.0 * std::log10(error / signal);
}

TEST(sbr_qmf_Banks, ReconstructTheCoreAtTwiceTheRateWithConstantDelay) {
    const double coreRate = 22050.0;
    const int delay = ImpulseDelay();
    EXPECT_GT(delay, 0);
    std::printf("analysis + synthesis delay: %d output samples\n", delay);
    for (const double f : {300.0, 1000.0, 3100.0, 6000.0, 9000.0}) {
        const std::vector<float> out = Reconstruct(Sine(f, coreRate, 1000.0, 32 * 400));
        double gainDb = 0.0;
        double residualDb = 0.0;
        FitSine(out, f, 2.0 * coreRate, delay, &gainDb, &residualDb);
        SCOPED_TRACE(f);
        EXPECT_NEAR(gainDb, 0.0, 0.1);
        EXPECT_LT(residualDb, -50.0);  // the same delay holds at every frequency
    }
}

TEST(sbr_qmf_Banks, BandsLeftEmptyDoNotPass) {
    // A tone in QMF band 20 (about 7.1 kHz at 44.1 kHz) vanishes when bands from 16 are empty;
    // one in band 5 stays.
    const double coreRate = 22050.0;
    const std::vector<float> high = Reconstruct(Sine(7150.0, coreRate, 1000.0, 32 * 300), 16);
    const std::vector<float> low = Reconstruct(Sine(1900.0, coreRate, 1000.0, 32 * 300), 16);
    double highEnergy = 0.0;
    double lowEnergy = 0.0;
    for (size_t n = 4096; n < high.size() - 512; ++n) {
        highEnergy += static_cast<double>(high[n]) * static_cast<double>(high[n]);
        lowEnergy += static_cast<double>(low[n]) * static_cast<double>(low[n]);
    }
    EXPECT_LT(10.0 * std::log10(highEnergy / lowEnergy), -40.0);
}

}  // namespace
}  // namespace velora::sbr
