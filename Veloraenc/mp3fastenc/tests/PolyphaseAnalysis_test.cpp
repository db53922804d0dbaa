// The fast polyphase analysis against a plain double-precision evaluation of the filter
// bank: window the 512 newest samples, fold them to 64 values and multiply by the 32 x 64
// cosine matrix.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "PolyphaseAnalysis.h"

namespace velora::enc {
namespace {

// The window as the data file gives it: "i k value" with C[i] = k / 2^21.
std::vector<double> ReadWindow() {
    std::ifstream in(std::string(VELORA_SOURCE_DIR) + "/Veloraenc/mp3fastenc/tables/analysis_window.txt");
    std::vector<double> c(512, std::nan(""));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        int i = -1;
        long k = 0;
        double printed = 0.0;
        fields >> i >> k >> printed;
        if (!fields || i < 0 || i >= 512) continue;
        c[static_cast<size_t>(i)] = static_cast<double>(k) / 2097152.0;
        EXPECT_NEAR(c[static_cast<size_t>(i)], printed, 1e-10) << "line of index " << i;
    }
    return c;
}

class ReferenceAnalysis {
public:
    explicit ReferenceAnalysis(std::vector<double> window) : c_(std::move(window)) {}

    void Run(const float in[32], double out[32]) {
        for (int i = 511; i >= 32; --i) x_[static_cast<size_t>(i)] = x_[static_cast<size_t>(i) - 32];
        for (int k = 0; k < 32; ++k) x_[static_cast<size_t>(31 - k)] = in[k];
        double y[64] = {};
        for (int i = 0; i < 64; ++i) {
            for (int j = 0; j < 8; ++j) {
                const size_t n = static_cast<size_t>(i + 64 * j);
                y[i] += c_[n] * x_[n];
            }
        }
        for (int k = 0; k < 32; ++k) {
            double s = 0.0;
            for (int i = 0; i < 64; ++i) {
                s += std::cos((2 * k + 1) * (i - 16) * std::numbers::pi / 64.0) * y[i];
            }
            out[k] = s;
        }
    }

private:
    std::vector<double> c_;
    std::array<double, 512> x_{};
};

TEST(mp3enc_fb_Polyphase, GeneratedWindowMatchesTheDataFile) {
    const std::vector<double> c = ReadWindow();
    for (int i = 0; i < 512; ++i) {
        EXPECT_EQ(static_cast<double>(kAnalysisWindowSteps[i]) / 2097152.0, c[static_cast<size_t>(i)]) << i;
    }
}

TEST(mp3enc_fb_Polyphase, MatchesTheDirectEvaluation) {
    PolyphaseAnalysis fast;
    ReferenceAnalysis reference(ReadWindow());
    uint32_t state = 99;
    double errorSquares = 0.0;
    double signalSquares = 0.0;
    double worst = 0.0;
    // Long enough for the history buffer to wrap several times; a tone plus noise so that
    // all subbands carry signal.
    for (int slot = 0; slot < 200; ++slot) {
        float in[32];
        for (int k = 0; k < 32; ++k) {
            state = state * 1664525u + 1013904223u;
            const double noise = static_cast<double>(state >> 8) / 8388608.0 - 1.0;
            const double n = 32.0 * slot + k;
            in[k] = static_cast<float>(20000.0 * std::sin(0.05 * n) + 8000.0 * noise);
        }
        float out[32];
        double expected[32];
        fast.Run(in, out);
        reference.Run(in, expected);
        for (int k = 0; k < 32; ++k) {
            const double e = static_cast<double>(out[k]) - expected[k];
            errorSquares += e * e;
            signalSquares += expected[k] * expected[k];
            worst = std::max(worst, std::fabs(e));
        }
    }
    const double rms = std::sqrt(signalSquares / (200.0 * 32.0));
    const double errorRms = std::sqrt(errorSquares / (200.0 * 32.0));
    EXPECT_LT(errorRms, 1e-5 * rms);
    EXPECT_LT(worst, 1e-4 * rms);
}

// One band at a time: a tone at the centre of subband k lands in subband k (and the
// neighbour it shares the edge with stays far below), which a mixed-up output order or sign
// of the folding would break.
TEST(mp3enc_fb_Polyphase, ToneLandsInItsSubband) {
    for (int band = 0; band < 32; ++band) {
        PolyphaseAnalysis analysis;
        const double w = std::numbers::pi * (band + 0.5) / 32.0;
        double energy[32] = {};
        for (int slot = 0; slot < 64; ++slot) {
            float in[32];
            for (int k = 0; k < 32; ++k) in[k] = static_cast<float>(10000.0 * std::cos(w * (32.0 * slot + k)));
            float out[32];
            analysis.Run(in, out);
            if (slot < 16) continue;  // the history fills first
            for (int k = 0; k < 32; ++k) energy[k] += static_cast<double>(out[k] * out[k]);
        }
        double others = 0.0;
        for (int k = 0; k < 32; ++k) {
            if (k != band) others += energy[k];
        }
        EXPECT_GT(energy[band], 1e6 * others) << "band " << band;
    }
}

TEST(mp3enc_fb_Polyphase, ResetForgetsTheHistory) {
    PolyphaseAnalysis a;
    PolyphaseAnalysis b;
    float loud[32];
    for (int k = 0; k < 32; ++k) loud[k] = 30000.0f * static_cast<float>(k % 3) - 20000.0f;
    float out[32];
    for (int i = 0; i < 40; ++i) a.Run(loud, out);
    a.Reset();
    float in[32];
    for (int slot = 0; slot < 20; ++slot) {
        for (int k = 0; k < 32; ++k) in[k] = static_cast<float>(slot * 32 + k);
        float outA[32];
        float outB[32];
        a.Run(in, outA);
        b.Run(in, outB);
        for (int k = 0; k < 32; ++k) ASSERT_EQ(outA[k], outB[k]) << slot << " " << k;
    }
}

}  // namespace
}  // namespace velora::enc
