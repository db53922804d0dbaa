#include "Synthesis.h"

#include <cmath>

#include "Multiversion.h"
#include "SynthesisWindow.h"

namespace velora {
namespace {

// Unnormalised DCT-II, X[m] = sum_k x[k] cos(pi m (2k + 1) / 2N), by the even/odd split:
// even outputs are the half-size DCT of x[k] + x[N-1-k], odd outputs the sums of
// neighbouring outputs of the half-size DCT of (x[k] - x[N-1-k]) / (2 cos(pi (2k + 1) / 2N)).
struct DctFactors {
    float inv32[16];
    float inv16[8];
    float inv8[4];
    float inv4[2];
    float inv2[1];
};

DctFactors MakeFactors() {
    DctFactors f{};
    auto fill = [](float* out, int n) {
        for (int k = 0; k < n / 2; ++k) {
            out[k] = static_cast<float>(0.5 / std::cos(M_PI * (2 * k + 1) / (2.0 * n)));
        }
    };
    fill(f.inv32, 32);
    fill(f.inv16, 16);
    fill(f.inv8, 8);
    fill(f.inv4, 4);
    fill(f.inv2, 2);
    return f;
}

const DctFactors kFactors = MakeFactors();

template <int N>
const float* FactorsFor() {
    if constexpr (N == 32) return kFactors.inv32;
    if constexpr (N == 16) return kFactors.inv16;
    if constexpr (N == 8) return kFactors.inv8;
    if constexpr (N == 4) return kFactors.inv4;
    return kFactors.inv2;
}

template <int N>
[[gnu::always_inline]] inline void Dct(const float* x, float* out) {
    if constexpr (N == 1) {
        out[0] = x[0];
    } else {
        constexpr int H = N / 2;
        const float* inv = FactorsFor<N>();
        float sum[H];
        float diff[H];
        for (int k = 0; k < H; ++k) {
            sum[k] = x[k] + x[N - 1 - k];
            diff[k] = (x[k] - x[N - 1 - k]) * inv[k];
        }
        float even[H];
        float odd[H];
        Dct<H>(sum, even);
        Dct<H>(diff, odd);
        for (int r = 0; r < H; ++r) out[2 * r] = even[r];
        for (int r = 0; r < H - 1; ++r) out[2 * r + 1] = odd[r] + odd[r + 1];
        out[N - 1] = odd[H - 1];
    }
}

// The 2N matrixed values V[i] = sum_k cos((N/2 + i)(2k + 1) pi / 2N) S[k] from the N-point
// DCT X: V[i] = X[N/2 + i] below N/2, 0 at N/2, -X[3N/2 - i] up to 3N/2, -X[i - 3N/2] above.
template <int N>
void Matrix(const float* subbands, float* v) {
    float x[N];
    Dct<N>(subbands, x);
    constexpr int Q = N / 2;
    for (int i = 0; i < Q; ++i) v[i] = x[Q + i];
    v[Q] = 0.0f;
    for (int i = Q + 1; i < 3 * Q; ++i) v[i] = -x[3 * Q - i];
    for (int i = 3 * Q; i < 4 * Q; ++i) v[i] = -x[i - 3 * Q];
}

struct Windows {
    // [shift][i][j]: the window taps applied to the even and odd history blocks,
    // D[(2N i + j) << shift] and D[(2N i + N + j) << shift], N = 32 >> shift.
    float even[3][8][32];
    float odd[3][8][32];
};

Windows MakeWindows() {
    Windows w{};
    for (int shift = 0; shift < 3; ++shift) {
        const int n = 32 >> shift;
        for (int i = 0; i < 8; ++i) {
            for (int j = 0; j < n; ++j) {
                w.even[shift][i][j] = kSynthesisWindow[(2 * n * i + j) << shift];
                w.odd[shift][i][j] = kSynthesisWindow[(2 * n * i + n + j) << shift];
            }
        }
    }
    return w;
}

const Windows kWindows = MakeWindows();

}  // namespace

void Synthesis::Reset() {
    for (auto& block : history_) {
        for (float& v : block) v = 0.0f;
    }
    newest_ = 0;
}

namespace {

// The windowed sum over the 16 history blocks: the even blocks contribute their first N
// values, the odd blocks the N values after those.
template <int N, int Shift>
VELORA_MULTIVERSION void Window(const float (*history)[64], int newest, float* out, int stride) {
    float sum[N] = {};
    for (int i = 0; i < 8; ++i) {
        const float* even = history[(newest + 2 * i) & 15];
        const float* odd = history[(newest + 2 * i + 1) & 15] + N;
        const float* we = kWindows.even[Shift][i];
        const float* wo = kWindows.odd[Shift][i];
        for (int j = 0; j < N; ++j) sum[j] += even[j] * we[j] + odd[j] * wo[j];
    }
    for (int j = 0; j < N; ++j) out[j * stride] = sum[j];
}

}  // namespace

void Synthesis::Run(const float subbands[32], int shift, float* out, int stride) {
    newest_ = (newest_ + 15) & 15;
    float* v = history_[newest_];
    if (shift == 0) {
        Matrix<32>(subbands, v);
        Window<32, 0>(history_, newest_, out, stride);
    } else if (shift == 1) {
        Matrix<16>(subbands, v);
        Window<16, 1>(history_, newest_, out, stride);
    } else {
        Matrix<8>(subbands, v);
        Window<8, 2>(history_, newest_, out, stride);
    }
}

}  // namespace velora
