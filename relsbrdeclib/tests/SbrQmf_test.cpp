// The QMF banks: the prototype as the data file gives it, both banks against a direct
// double-precision evaluation of their definitions, and analysis followed by synthesis
// reproducing the core signal at twice the rate with a constant delay.
#include "SbrQmf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "DataFileRows.h"

namespace velora::sbr {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(sbr_qmf_Prototype, MatchesTheDataFile) {
    const auto rows = test::DataFileRows(VELORA_SOURCE_DIR "/relsbrdeclib/tables/qmf_window.txt");
    int count = 0;
    for (const std::vector<double>& row : rows) {
        ASSERT_EQ(row.size(), 2u);
        const int index = static_cast<int>(row[0]);
        ASSERT_GE(index, 0);
        ASSERT_LT(index, 640);
        EXPECT_EQ(kQmfPrototype[index], static_cast<float>(row[1])) << index;
        ++count;
    }
    EXPECT_EQ(count, 640);
    // The peak of the prototype.
    EXPECT_NEAR(kQmfPrototype[320], 0.8537385f, 1e-7f);
}

// The analysis bank evaluated as defined, in double: the history newest first, windowed
// with every second prototype coefficient, then
// X[k] = sum_n u[n] 2 exp(i pi (k + 0.5)(2n - 0.5) / 64).
class DirectAnalysis {
public:
    DirectAnalysis() {
        for (int k = 0; k < kAnalysisBands; ++k) {
            for (int n = 0; n < 64; ++n) {
                const double a = kPi * (k + 0.5) * (2 * n - 0.5) / 64.0;
                cos_[k][n] = 2.0 * std::cos(a);
                sin_[k][n] = 2.0 * std::sin(a);
            }
        }
    }

    void Run(const float* input, int stride, double real[kAnalysisBands],
             double imag[kAnalysisBands]) {
        for (int n = 319; n >= 32; --n) history_[n] = history_[n - 32];
        for (int n = 0; n < 32; ++n) history_[31 - n] = input[n * stride];
        double u[64];
        for (int n = 0; n < 64; ++n) {
            u[n] = 0.0;
            for (int j = 0; j < 5; ++j) {
                u[n] += history_[n + 64 * j] * static_cast<double>(kQmfPrototype[2 * (n + 64 * j)]);
            }
        }
        for (int k = 0; k < kAnalysisBands; ++k) {
            real[k] = 0.0;
            imag[k] = 0.0;
            for (int n = 0; n < 64; ++n) {
                real[k] += u[n] * cos_[k][n];
                imag[k] += u[n] * sin_[k][n];
            }
        }
    }

private:
    double cos_[kAnalysisBands][64];
    double sin_[kAnalysisBands][64];
    double history_[320] = {};
};

// The synthesis bank evaluated as defined, in double:
// v[n] = sum_k Re(X[k] exp(i pi (k + 0.5)(2n - 255) / 128)) / 64, newest 128 first, then the
// windowed sum over alternate halves of the blocks.
class DirectSynthesis {
public:
    DirectSynthesis() {
        for (int n = 0; n < 128; ++n) {
            for (int k = 0; k < kSynthesisBands; ++k) {
                const double a = kPi * (k + 0.5) * (2 * n - 255) / 128.0;
                cos_[n][k] = std::cos(a) / 64.0;
                sin_[n][k] = std::sin(a) / 64.0;
            }
        }
    }

    void Run(const float real[kSynthesisBands], const float imag[kSynthesisBands],
             double output[kSynthesisBands]) {
        for (int n = 1279; n >= 128; --n) v_[n] = v_[n - 128];
        for (int n = 0; n < 128; ++n) {
            v_[n] = 0.0;
            for (int k = 0; k < kSynthesisBands; ++k) {
                v_[n] += static_cast<double>(real[k]) * cos_[n][k] -
                         static_cast<double>(imag[k]) * sin_[n][k];
            }
        }
        for (int j = 0; j < 64; ++j) {
            output[j] = 0.0;
            for (int i = 0; i < 5; ++i) {
                output[j] += v_[256 * i + j] * static_cast<double>(kQmfPrototype[128 * i + j]) +
                             v_[256 * i + 192 + j] * static_cast<double>(kQmfPrototype[128 * i + 64 + j]);
            }
        }
    }

private:
    double cos_[128][kSynthesisBands];
    double sin_[128][kSynthesisBands];
    double v_[1280] = {};
};

// Largest deviation of `fast` from `exact`, relative to the RMS of `exact`.
double RelativeMaxError(const std::vector<float>& fast, const std::vector<double>& exact) {
    double energy = 0.0;
    double worst = 0.0;
    for (size_t n = 0; n < exact.size(); ++n) {
        energy += exact[n] * exact[n];
        worst = std::max(worst, std::fabs(static_cast<double>(fast[n]) - exact[n]));
    }
    return worst / std::sqrt(energy / static_cast<double>(exact.size()));
}

constexpr int kSubsamples = 400;  // the history rings wrap many times

// Analysis of random core samples read with `stride`, `batch` sub-samples per call (the last
// call takes what is left): fast bank and direct evaluation, real and imaginary parts of every
// sub-sample in one list each.
void AnalyseRandom(int stride, int batch, std::vector<float>* fast, std::vector<double>* exact) {
    std::mt19937 random(1234u + static_cast<unsigned>(stride));
    std::uniform_real_distribution<float> sample(-32768.0f, 32768.0f);
    std::vector<float> input(static_cast<size_t>(32 * kSubsamples * stride));
    for (float& x : input) x = sample(random);
    QmfAnalysis analysis;
    analysis.Reset();
    auto direct = std::make_unique<DirectAnalysis>();
    float re[kQmfMaxSlots][kAnalysisBands];
    float im[kQmfMaxSlots][kAnalysisBands];
    double exactRe[kAnalysisBands];
    double exactIm[kAnalysisBands];
    for (int slot = 0; slot < kSubsamples; slot += batch) {
        const int count = std::min(batch, kSubsamples - slot);
        const float* in = input.data() + 32 * slot * stride;
        if (count == 1) {
            analysis.Run(in, stride, re[0], im[0]);
        } else {
            analysis.RunSlots(in, stride, count, re[0], im[0], kAnalysisBands);
        }
        for (int s = 0; s < count; ++s) {
            direct->Run(in + 32 * s * stride, stride, exactRe, exactIm);
            for (int k = 0; k < kAnalysisBands; ++k) {
                fast->push_back(re[s][k]);
                fast->push_back(im[s][k]);
                exact->push_back(exactRe[k]);
                exact->push_back(exactIm[k]);
            }
        }
    }
}

// Synthesis of random subband samples written with `stride`, `batch` sub-samples per call:
// fast bank and direct evaluation.
void SynthesiseRandom(int stride, int batch, std::vector<float>* fast, std::vector<double>* exact) {
    std::mt19937 random(99u + static_cast<unsigned>(stride));
    std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
    QmfSynthesis synthesis;
    synthesis.Reset();
    auto direct = std::make_unique<DirectSynthesis>();
    std::vector<float> output(static_cast<size_t>(64 * kQmfMaxSlots * stride), -12345.0f);
    float re[kSynthesisBands];
    float im[kSynthesisBands];
    float lanesRe[kSynthesisBands][kQmfLanes] = {};
    float lanesIm[kSynthesisBands][kQmfLanes] = {};
    std::vector<double> exactOut(static_cast<size_t>(64 * kQmfMaxSlots));
    for (int slot = 0; slot < kSubsamples; slot += batch) {
        const int count = std::min(batch, kSubsamples - slot);
        for (int s = 0; s < count; ++s) {
            for (int k = 0; k < kSynthesisBands; ++k) {
                re[k] = value(random);
                im[k] = value(random);
                lanesRe[k][s] = re[k];
                lanesIm[k][s] = im[k];
            }
            direct->Run(re, im, exactOut.data() + 64 * s);
        }
        std::fill(output.begin(), output.end(), -12345.0f);
        if (count == 1) {
            synthesis.Run(re, im, output.data(), stride);
        } else {
            synthesis.RunSlots(lanesRe, lanesIm, count, output.data(), stride);
        }
        for (int j = 0; j < kSynthesisBands * count; ++j) {
            fast->push_back(output[static_cast<size_t>(j * stride)]);
            exact->push_back(exactOut[static_cast<size_t>(j)]);
        }
        // Samples between the strided ones and beyond the last stay untouched.
        for (size_t n = 0; n < output.size(); ++n) {
            if (n % static_cast<size_t>(stride) != 0 || n >= static_cast<size_t>(64 * count * stride)) {
                ASSERT_EQ(output[n], -12345.0f) << n;
            }
        }
    }
}

TEST(sbr_qmf_Exact, BanksMatchTheDirectEvaluation) {
    // One sub-sample per call, and whole frames (the last call shorter).
    struct Case {
        bool analysis;
        int stride;
        int batch;
    };
    for (const Case c : {Case{true, 1, 1}, Case{true, 3, 1}, Case{true, 1, kQmfMaxSlots},
                         Case{true, 3, kQmfMaxSlots}, Case{false, 1, 1}, Case{false, 2, 1},
                         Case{false, 1, kQmfMaxSlots}, Case{false, 2, kQmfMaxSlots}}) {
        std::vector<float> fast;
        std::vector<double> exact;
        if (c.analysis) {
            AnalyseRandom(c.stride, c.batch, &fast, &exact);
        } else {
            SynthesiseRandom(c.stride, c.batch, &fast, &exact);
        }
        ASSERT_EQ(fast.size(), exact.size());
        const double error = RelativeMaxError(fast, exact);
        std::printf("%s, stride %d, %d per call: max error / RMS %.3g\n",
                    c.analysis ? "analysis" : "synthesis", c.stride, c.batch, error);
        EXPECT_LT(error, 1e-5) << c.analysis << " " << c.stride << " " << c.batch;
    }
}

TEST(sbr_qmf_Exact, ResetForgetsThePast) {
    std::mt19937 random(7u);
    std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
    std::vector<float> input(32 * 30);
    for (float& x : input) x = value(random);
    QmfAnalysis used;
    QmfSynthesis usedSynthesis;
    used.Reset();
    usedSynthesis.Reset();
    float re[kSynthesisBands] = {};
    float im[kSynthesisBands] = {};
    float out[kSynthesisBands];
    for (int slot = 0; slot < 13; ++slot) {  // leave the rings part way round
        used.Run(input.data() + 32 * slot, 1, re, im);
        usedSynthesis.Run(re, im, out, 1);
    }
    used.Reset();
    usedSynthesis.Reset();
    QmfAnalysis fresh;
    QmfSynthesis freshSynthesis;
    fresh.Reset();
    freshSynthesis.Reset();
    float freshRe[kSynthesisBands] = {};
    float freshIm[kSynthesisBands] = {};
    float freshOut[kSynthesisBands];
    for (int slot = 13; slot < 30; ++slot) {
        used.Run(input.data() + 32 * slot, 1, re, im);
        fresh.Run(input.data() + 32 * slot, 1, freshRe, freshIm);
        usedSynthesis.Run(re, im, out, 1);
        freshSynthesis.Run(freshRe, freshIm, freshOut, 1);
        for (int k = 0; k < kSynthesisBands; ++k) {
            ASSERT_EQ(re[k], freshRe[k]) << slot << " " << k;
            ASSERT_EQ(im[k], freshIm[k]) << slot << " " << k;
            ASSERT_EQ(out[k], freshOut[k]) << slot << " " << k;
        }
    }
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
