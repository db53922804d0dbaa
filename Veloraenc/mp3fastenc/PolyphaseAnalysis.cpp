#include "PolyphaseAnalysis.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "Multiversion.h"

namespace velora::enc {
namespace {

struct AnalysisTables {
    float window[512];
    // [N]: 0.5 / cos(pi (2k + 1) / 2N), k < N / 2, for the DCT-III split at size N.
    float split32[16];
    float split16[8];
    float split8[4];
    float split4[2];
    float split2[1];
};

AnalysisTables MakeTables() {
    AnalysisTables t{};
    for (int i = 0; i < 512; ++i) t.window[i] = kAnalysisWindowSteps[i] * (1.0f / 2097152.0f);
    auto fill = [](float* out, int n) {
        for (int k = 0; k < n / 2; ++k) {
            out[k] = static_cast<float>(0.5 / std::cos(std::numbers::pi * (2 * k + 1) / (2.0 * n)));
        }
    };
    fill(t.split32, 32);
    fill(t.split16, 16);
    fill(t.split8, 8);
    fill(t.split4, 4);
    fill(t.split2, 2);
    return t;
}

const AnalysisTables kTables = MakeTables();

template <int N>
const float* SplitFactors() {
    if constexpr (N == 32) return kTables.split32;
    if constexpr (N == 16) return kTables.split16;
    if constexpr (N == 8) return kTables.split8;
    if constexpr (N == 4) return kTables.split4;
    return kTables.split2;
}

// Unnormalised DCT-III, X[k] = sum_m a[m] cos(pi m (2k + 1) / 2N). The even inputs form a
// half-size DCT-III that is symmetric in k <-> N-1-k; the odd ones, after summing
// neighbours (a[2r+1] + a[2r-1]), form another that only has to be divided by
// 2 cos(pi (2k + 1) / 2N), whose sign flips between k and N-1-k.
template <int N>
[[gnu::always_inline]] inline void Dct3(const float* a, float* out) {
    if constexpr (N == 1) {
        out[0] = a[0];
    } else {
        constexpr int H = N / 2;
        float even[H];
        float odd[H];
        even[0] = a[0];
        odd[0] = a[1];
        for (int r = 1; r < H; ++r) {
            even[r] = a[2 * r];
            odd[r] = a[2 * r + 1] + a[2 * r - 1];
        }
        float evenOut[H];
        float oddOut[H];
        Dct3<H>(even, evenOut);
        Dct3<H>(odd, oddOut);
        const float* split = SplitFactors<N>();
        for (int k = 0; k < H; ++k) {
            const float t = oddOut[k] * split[k];
            out[k] = evenOut[k] + t;
            out[N - 1 - k] = evenOut[k] - t;
        }
    }
}

// Windowing and folding of the eight 64-sample phases.
VELORA_ENC_MULTIVERSION void WindowPhases(const float* x, float y[64]) {
    const float* c = kTables.window;
    for (int i = 0; i < 64; ++i) y[i] = c[i] * x[i];
    for (int j = 1; j < 8; ++j) {
        const float* cj = c + 64 * j;
        const float* xj = x + 64 * j;
        for (int i = 0; i < 64; ++i) y[i] += cj[i] * xj[i];
    }
}

}  // namespace

void PolyphaseAnalysis::Reset() {
    std::memset(buffer_, 0, sizeof buffer_);
    start_ = kBufferSize - 512;
}

void PolyphaseAnalysis::Run(const float in[32], float out[32]) {
    if (start_ == 0) {
        // The newest 480 samples become ages 32..511 of this block.
        std::memmove(buffer_ + kBufferSize - 480, buffer_, sizeof(float) * 480);
        start_ = kBufferSize - 512;
    } else {
        start_ -= 32;
    }
    float* x = buffer_ + start_;
    for (int k = 0; k < 32; ++k) x[31 - k] = in[k];

    float y[64];
    WindowPhases(x, y);

    // S[k] = sum_i y[i] cos((2k + 1)(i - 16) pi / 64). The cosine is even in i - 16,
    // vanishes at i = 48 and changes sign under i - 16 -> 64 - (i - 16), which folds the
    // 64 terms into a 32-point DCT-III.
    float a[32];
    a[0] = y[16];
    for (int m = 1; m <= 16; ++m) a[m] = y[16 + m] + y[16 - m];
    for (int m = 17; m < 32; ++m) a[m] = y[16 + m] - y[80 - m];
    Dct3<32>(a, out);
}

}  // namespace velora::enc
