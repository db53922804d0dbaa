#include "SbrQmfAnalysis64.h"

#include <cmath>
#include <cstring>

#include "SbrQmf.h"

// X[k] = sum_{n<128} u[n] exp(i pi (k + 0.5)(n - 0.5) / 64), u the windowed and folded
// history (newest sample first); this phase is the one for which the decoder's synthesis
// reconstructs the input (others leave aliasing). With n - 0.5 = (n + 0.5) - 1 and the
// second half of u folded onto the first, X[k] = exp(-i pi (k + 0.5) / 64) (C[k] + i S[k]),
// C the 64-point DCT-IV of u[n] - u[127 - n] and S the DST-IV of u[n] + u[127 - n]. A
// DST-IV is a DCT-IV of the reversed input with every odd output negated; a DCT-IV of 64
// points is one 32-point complex FFT between two twiddles. With this scaling the decoder's
// synthesis (which divides by 64) rebuilds the input at its own level: white noise of
// variance v gives 64 v per band, a full-scale sine 64 x 2^35 in its band.
namespace velora::sbr {
namespace {

constexpr double kPi = 3.14159265358979323846;

}  // namespace

bool SbrQmfAnalysis64::Init() {
    if (!fft_.Init(32)) return false;
    for (int n = 0; n < 32; ++n) {
        const double pre = kPi * (n + 0.25) / 64.0;
        preRe_[n] = static_cast<float>(std::cos(pre));
        preIm_[n] = static_cast<float>(-std::sin(pre));
        const double mid = kPi * n / 64.0;
        midRe_[n] = static_cast<float>(std::cos(mid));
        midIm_[n] = static_cast<float>(-std::sin(mid));
    }
    for (int k = 0; k < 64; ++k) {
        const double post = -kPi * (k + 0.5) / 64.0;
        postRe_[k] = static_cast<float>(std::cos(post));
        postIm_[k] = static_cast<float>(std::sin(post));
    }
    Reset();
    return true;
}

void SbrQmfAnalysis64::Reset() {
    std::memset(history_, 0, sizeof(history_));
    newest_ = 0;
}

void SbrQmfAnalysis64::Run(const float* input, float real[kEncoderQmfBands],
                           float imag[kEncoderQmfBands]) {
    newest_ = newest_ == 0 ? 640 - 64 : newest_ - 64;
    float* newest = history_ + newest_;
    for (int n = 0; n < 64; ++n) newest[63 - n] = input[n];

    // u[n] = sum_j x[n + 128 j] c[n + 128 j], x the history newest first.
    const float* block[10];
    for (int age = 0; age < 10; ++age) {
        int start = newest_ + 64 * age;
        if (start >= 640) start -= 640;
        block[age] = history_ + start;
    }
    float u[128];
    for (int m = 0; m < 64; ++m) {
        float even = 0.0f;
        float odd = 0.0f;
        for (int j = 0; j < 5; ++j) {
            even += block[2 * j][m] * kQmfPrototype[128 * j + m];
            odd += block[2 * j + 1][m] * kQmfPrototype[128 * j + 64 + m];
        }
        u[m] = even;
        u[64 + m] = odd;
    }

    // Packed DCT-IV inputs: C from d[n] = u[n] - u[127 - n], S from the reversed
    // e[n] = u[n] + u[127 - n], i.e. e'[n] = e[63 - n].
    float cRe[32], cIm[32], sRe[32], sIm[32];
    for (int n = 0; n < 32; ++n) {
        const float d0 = u[2 * n] - u[127 - 2 * n];
        const float d1 = u[63 - 2 * n] - u[64 + 2 * n];
        const float e0 = u[63 - 2 * n] + u[64 + 2 * n];  // e'[2n] = e[63 - 2n]
        const float e1 = u[2 * n] + u[127 - 2 * n];      // e'[63 - 2n] = e[2n]
        const float wr = preRe_[n];
        const float wi = preIm_[n];
        cRe[n] = d0 * wr - d1 * wi;
        cIm[n] = d0 * wi + d1 * wr;
        sRe[n] = e0 * wr - e1 * wi;
        sIm[n] = e0 * wi + e1 * wr;
    }
    fft_.Forward(cRe, cIm);
    fft_.Forward(sRe, sIm);

    float c[64], s[64];
    for (int p = 0; p < 32; ++p) {
        const float mr = midRe_[p];
        const float mi = midIm_[p];
        c[2 * p] = cRe[p] * mr - cIm[p] * mi;
        c[63 - 2 * p] = -(cRe[p] * mi + cIm[p] * mr);
        // Outputs of the reversed-input DCT-IV; odd ones negated for the DST-IV.
        s[2 * p] = sRe[p] * mr - sIm[p] * mi;
        s[63 - 2 * p] = sRe[p] * mi + sIm[p] * mr;
    }
    for (int k = 0; k < 64; ++k) {
        real[k] = c[k] * postRe_[k] - s[k] * postIm_[k];
        imag[k] = c[k] * postIm_[k] + s[k] * postRe_[k];
    }
}

}  // namespace velora::sbr
