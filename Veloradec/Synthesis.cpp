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

// Every operation works on all slots of a call at once: row k of an operand holds value k
// of each slot, so the loops run along the slots in whole vectors.
constexpr int L = kSlotLanes;

template <int N, int OutStride>
[[gnu::always_inline]] inline void Dct(const float* x, float* out) {
    if constexpr (N == 1) {
        for (int l = 0; l < L; ++l) out[l] = x[l];
    } else {
        constexpr int H = N / 2;
        const float* inv = FactorsFor<N>();
        float sum[H][L];
        float diff[H][L];
        for (int k = 0; k < H; ++k) {
            const float* a = x + k * L;
            const float* b = x + (N - 1 - k) * L;
            for (int l = 0; l < L; ++l) {
                sum[k][l] = a[l] + b[l];
                diff[k][l] = (a[l] - b[l]) * inv[k];
            }
        }
        float even[H][L];
        float odd[H][L];
        Dct<H, L>(sum[0], even[0]);
        Dct<H, L>(diff[0], odd[0]);
        for (int r = 0; r < H; ++r) {
            for (int l = 0; l < L; ++l) out[2 * r * OutStride + l] = even[r][l];
        }
        for (int r = 0; r < H - 1; ++r) {
            for (int l = 0; l < L; ++l) out[(2 * r + 1) * OutStride + l] = odd[r][l] + odd[r + 1][l];
        }
        for (int l = 0; l < L; ++l) out[(N - 1) * OutStride + l] = odd[H - 1][l];
    }
}

// The 2N matrixed values V[i] = sum_k cos((N/2 + i)(2k + 1) pi / 2N) S[k] follow from the
// N-point DCT X: V[i] = X[N/2 + i] below N/2, 0 at N/2, -X[3N/2 - i] up to 3N/2,
// -X[i - 3N/2] above. The window takes V[0..N) of the even history blocks and V[N..2N) of
// the odd ones, so for output j the even blocks give sign * X[evenRow[j]] and the odd ones
// -X[oddRow[j]]; the signs sit in the window taps.
struct Windows {
    // [shift][j][i], N = 32 >> shift: D[(2N i + j) << shift] and D[(2N i + N + j) << shift]
    // with the signs of the matrixed values.
    float even[3][32][8];
    float odd[3][32][8];
    int evenRow[3][32];
    int oddRow[3][32];
};

Windows MakeWindows() {
    Windows w{};
    for (int shift = 0; shift < 3; ++shift) {
        const int n = 32 >> shift;
        const int q = n / 2;
        for (int j = 0; j < n; ++j) {
            float evenSign = 1.0f;
            if (j < q) {
                w.evenRow[shift][j] = q + j;
            } else if (j == q) {
                w.evenRow[shift][j] = 0;
                evenSign = 0.0f;
            } else {
                w.evenRow[shift][j] = 3 * q - j;
                evenSign = -1.0f;
            }
            w.oddRow[shift][j] = j < q ? q - j : j - q;
            for (int i = 0; i < 8; ++i) {
                w.even[shift][j][i] = evenSign * kSynthesisWindow[(2 * n * i + j) << shift];
                w.odd[shift][j][i] = -kSynthesisWindow[(2 * n * i + n + j) << shift];
            }
        }
    }
    return w;
}

const Windows kWindows = MakeWindows();

template <int N>
VELORA_MULTIVERSION void Matrix(const float (*subbands)[L], float (*dct)[L + 15]) {
    Dct<N, L + 15>(subbands[0], dct[0] + 15);
}

// The windowed sum over the 16 history blocks of each slot: block age b of slot t is column
// 15 + t - b, even ages take the even taps. Even and odd ages are summed apart, which keeps
// two independent chains of multiply-adds in flight.
template <int N, int Shift, int Count>
VELORA_MULTIVERSION void Window(const float (*dct)[L + 15], float* out, int stride) {
    for (int j = 0; j < N; ++j) {
        const float* even = dct[kWindows.evenRow[Shift][j]] + 15;
        const float* odd = dct[kWindows.oddRow[Shift][j]] + 14;
        const float* we = kWindows.even[Shift][j];
        const float* wo = kWindows.odd[Shift][j];
        float sumEven[L] = {};
        float sumOdd[L] = {};
        // Unrolled, the sums stay in registers.
#pragma GCC unroll 8
        for (int i = 0; i < 8; ++i) {
            const float* e = even - 2 * i;
            const float* o = odd - 2 * i;
            for (int l = 0; l < L; ++l) {
                sumEven[l] += e[l] * we[i];
                sumOdd[l] += o[l] * wo[i];
            }
        }
        for (int t = 0; t < Count; ++t) out[(t * N + j) * stride] = sumEven[t] + sumOdd[t];
    }
}

}  // namespace

void Synthesis::Reset() {
    for (auto& row : dct_) {
        for (float& v : row) v = 0.0f;
    }
}

template <int N, int Count>
void Synthesis::Slots(const float (*subbands)[kSlotLanes], float* out, int stride) {
    static_assert(kColumns == L + 15 && kHistory == 15);
    Matrix<N>(subbands, dct_);
    constexpr int shift = N == 32 ? 0 : (N == 16 ? 1 : 2);
    Window<N, shift, Count>(dct_, out, stride);
    for (int k = 0; k < N; ++k) {
        float* row = dct_[k];
        for (int c = 0; c < kHistory; ++c) row[c] = row[c + Count];
    }
}

void Synthesis::RunGranule(const float (*subbands)[kSlotLanes], int shift, float* out,
                           int stride) {
    if (shift == 0) {
        Slots<32, kGranuleSlots>(subbands, out, stride);
    } else if (shift == 1) {
        Slots<16, kGranuleSlots>(subbands, out, stride);
    } else {
        Slots<8, kGranuleSlots>(subbands, out, stride);
    }
}

void Synthesis::Run(const float subbands[32], int shift, float* out, int stride) {
    float slot[32][kSlotLanes] = {};
    for (int sb = 0; sb < 32; ++sb) slot[sb][0] = subbands[sb];
    if (shift == 0) {
        Slots<32, 1>(slot, out, stride);
    } else if (shift == 1) {
        Slots<16, 1>(slot, out, stride);
    } else {
        Slots<8, 1>(slot, out, stride);
    }
}

}  // namespace velora
