#include "SbrQmf.h"

#include <cmath>
#include <cstring>

namespace velora::sbr {
namespace {

struct Modulation {
    // Analysis: 2 exp(i pi (k + 0.5)(2n - 0.5) / 64), k < 32, n < 64.
    float anaCos[kAnalysisBands][64];
    float anaSin[kAnalysisBands][64];
    // Synthesis: exp(i pi (k + 0.5)(2n - 255) / 128) / 64, n < 128, k < 64.
    float synCos[128][kSynthesisBands];
    float synSin[128][kSynthesisBands];
};

Modulation MakeModulation() {
    Modulation m{};
    for (int k = 0; k < kAnalysisBands; ++k) {
        for (int n = 0; n < 64; ++n) {
            const double a = M_PI * (k + 0.5) * (2 * n - 0.5) / 64.0;
            m.anaCos[k][n] = static_cast<float>(2.0 * std::cos(a));
            m.anaSin[k][n] = static_cast<float>(2.0 * std::sin(a));
        }
    }
    for (int n = 0; n < 128; ++n) {
        for (int k = 0; k < kSynthesisBands; ++k) {
            const double a = M_PI * (k + 0.5) * (2 * n - 255) / 128.0;
            m.synCos[n][k] = static_cast<float>(std::cos(a) / 64.0);
            m.synSin[n][k] = static_cast<float>(std::sin(a) / 64.0);
        }
    }
    return m;
}

const Modulation kModulation = MakeModulation();

}  // namespace

void QmfAnalysis::Reset() { std::memset(history_, 0, sizeof(history_)); }

void QmfAnalysis::Run(const float* input, int stride, float real[kAnalysisBands],
                      float imag[kAnalysisBands]) {
    std::memmove(history_ + 32, history_, sizeof(float) * (320 - 32));
    for (int n = 0; n < 32; ++n) history_[31 - n] = input[n * stride];

    float u[64];
    for (int n = 0; n < 64; ++n) {
        float sum = 0.0f;
        for (int j = 0; j < 5; ++j) sum += history_[n + 64 * j] * kQmfPrototype[2 * (n + 64 * j)];
        u[n] = sum;
    }
    for (int k = 0; k < kAnalysisBands; ++k) {
        float re = 0.0f;
        float im = 0.0f;
        for (int n = 0; n < 64; ++n) {
            re += u[n] * kModulation.anaCos[k][n];
            im += u[n] * kModulation.anaSin[k][n];
        }
        real[k] = re;
        imag[k] = im;
    }
}

void QmfSynthesis::Reset() { std::memset(v_, 0, sizeof(v_)); }

void QmfSynthesis::Run(const float real[kSynthesisBands], const float imag[kSynthesisBands],
                       float* output, int stride) {
    std::memmove(v_ + 128, v_, sizeof(float) * (1280 - 128));
    for (int n = 0; n < 128; ++n) {
        float sum = 0.0f;
        const float* c = kModulation.synCos[n];
        const float* s = kModulation.synSin[n];
        for (int k = 0; k < kSynthesisBands; ++k) sum += real[k] * c[k] - imag[k] * s[k];
        v_[n] = sum;
    }
    for (int j = 0; j < 64; ++j) {
        float sum = 0.0f;
        for (int i = 0; i < 5; ++i) {
            sum += v_[256 * i + j] * kQmfPrototype[128 * i + j];
            sum += v_[256 * i + 192 + j] * kQmfPrototype[128 * i + 64 + j];
        }
        output[j * stride] = sum;
    }
}

}  // namespace velora::sbr
