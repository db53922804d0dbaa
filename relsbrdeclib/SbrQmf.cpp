#include "SbrQmf.h"

#include <cmath>
#include <cstring>

#include "SbrMultiversion.h"
#include "SbrTranspose.h"

// Both banks modulate through DCT-IVs computed with a half-size complex FFT.
//
// Analysis, X[k] = 2 sum_{n<64} u[n] exp(i pi (k + 0.5)(n - 0.25) / 32), k < 32: with
// n - 0.25 = (n + 0.5) - 0.75, X[k] = 2 exp(-i 0.75 pi (k + 0.5) / 32) (C[k] + i S[k]),
// where C is the 32-point DCT-IV of u[n] - u[63 - n] and S the DST-IV of u[n] + u[63 - n].
//
// Synthesis, v[n] = sum_{k<64} Re(X[k] exp(i pi (k + 0.5)(n - 127.5) / 64)) / 64, n < 128:
// with P the 64-point DCT-IV of Re X and Q the DST-IV of Im X, v[m] = (Q[m] - P[m]) / 64
// and v[127 - m] = (P[m] + Q[m]) / 64 for m < 64.
//
// A DST-IV is a DCT-IV of the reversed input with every odd output negated. A DCT-IV of
// length N packs x[2n] + i x[N - 1 - 2n] into N/2 complex values, turns them by
// exp(-i pi (n + 0.25) / N), transforms them and turns the result by exp(-i pi p / N);
// output 2p is then the real part and output N - 1 - 2p minus the imaginary part.
//
// The transforms run on several sub-samples at once, one per vector lane (value n of every
// sub-sample in one row of kQmfLanes floats), so every butterfly is whole-vector arithmetic
// and the bit reversal only picks rows.
namespace velora::sbr {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Radix-2 decimation-in-time FFT of fixed size (exp(-2 pi i n p / N)), split real and
// imaginary arrays, input in bit-reversed order, output in natural order.
template <int N>
struct Fft {
    static_assert(N >= 8 && (N & (N - 1)) == 0, "power of two from 8");
    static constexpr int kTwiddles = N - 4;  // stages of half-size 4, 8, ..., N / 2

    int reversed[N];
    float twRe[kTwiddles];
    float twIm[kTwiddles];

    Fft() {
        int bits = 0;
        while ((1 << bits) < N) ++bits;
        for (int n = 0; n < N; ++n) {
            int r = 0;
            for (int b = 0; b < bits; ++b) r |= ((n >> b) & 1) << (bits - 1 - b);
            reversed[n] = r;
        }
        int t = 0;
        for (int half = 4; half < N; half *= 2) {
            for (int j = 0; j < half; ++j, ++t) {
                const double a = kPi * j / half;
                twRe[t] = static_cast<float>(std::cos(a));
                twIm[t] = static_cast<float>(-std::sin(a));
            }
        }
    }

    void Run(float* re, float* im) const {
        // The first two stages need no multiplications.
        for (int s = 0; s < N; s += 4) {
            const float r0 = re[s] + re[s + 1];
            const float i0 = im[s] + im[s + 1];
            const float r1 = re[s] - re[s + 1];
            const float i1 = im[s] - im[s + 1];
            const float r2 = re[s + 2] + re[s + 3];
            const float i2 = im[s + 2] + im[s + 3];
            const float r3 = re[s + 2] - re[s + 3];
            const float i3 = im[s + 2] - im[s + 3];
            re[s] = r0 + r2;
            im[s] = i0 + i2;
            re[s + 2] = r0 - r2;
            im[s + 2] = i0 - i2;
            // Times -i.
            re[s + 1] = r1 + i3;
            im[s + 1] = i1 - r3;
            re[s + 3] = r1 - i3;
            im[s + 3] = i1 + r3;
        }
        // The remaining stages as a plain loop: GCC vectorises it better than stages
        // unrolled at compile time.
        const float* wr = twRe;
        const float* wi = twIm;
        for (int half = 4; half < N; half *= 2) {
            for (int s = 0; s < N; s += 2 * half) {
                float* ar = re + s;
                float* ai = im + s;
                float* br = re + s + half;
                float* bi = im + s + half;
                for (int j = 0; j < half; ++j) {
                    const float xr = br[j] * wr[j] - bi[j] * wi[j];
                    const float xi = br[j] * wi[j] + bi[j] * wr[j];
                    br[j] = ar[j] - xr;
                    bi[j] = ai[j] - xi;
                    ar[j] += xr;
                    ai[j] += xi;
                }
            }
            wr += half;
            wi += half;
        }
    }

    // The same transform on kQmfLanes sequences at once, value n of lane l at re[n][l].
    [[gnu::always_inline]] inline void RunLanes(float (*re)[kQmfLanes], float (*im)[kQmfLanes]) const {
        constexpr int L = kQmfLanes;
        for (int s = 0; s < N; s += 4) {
            float* __restrict r0p = re[s];
            float* __restrict r1p = re[s + 1];
            float* __restrict r2p = re[s + 2];
            float* __restrict r3p = re[s + 3];
            float* __restrict i0p = im[s];
            float* __restrict i1p = im[s + 1];
            float* __restrict i2p = im[s + 2];
            float* __restrict i3p = im[s + 3];
            for (int l = 0; l < L; ++l) {
                const float r0 = r0p[l] + r1p[l];
                const float i0 = i0p[l] + i1p[l];
                const float r1 = r0p[l] - r1p[l];
                const float i1 = i0p[l] - i1p[l];
                const float r2 = r2p[l] + r3p[l];
                const float i2 = i2p[l] + i3p[l];
                const float r3 = r2p[l] - r3p[l];
                const float i3 = i2p[l] - i3p[l];
                r0p[l] = r0 + r2;
                i0p[l] = i0 + i2;
                r2p[l] = r0 - r2;
                i2p[l] = i0 - i2;
                r1p[l] = r1 + i3;
                i1p[l] = i1 - r3;
                r3p[l] = r1 - i3;
                i3p[l] = i1 + r3;
            }
        }
        const float* wr = twRe;
        const float* wi = twIm;
        for (int half = 4; half < N; half *= 2) {
            for (int s = 0; s < N; s += 2 * half) {
                for (int j = 0; j < half; ++j) {
                    float* __restrict ar = re[s + j];
                    float* __restrict ai = im[s + j];
                    float* __restrict br = re[s + j + half];
                    float* __restrict bi = im[s + j + half];
                    const float cr = wr[j];
                    const float ci = wi[j];
                    for (int l = 0; l < L; ++l) {
                        const float xr = br[l] * cr - bi[l] * ci;
                        const float xi = br[l] * ci + bi[l] * cr;
                        br[l] = ar[l] - xr;
                        bi[l] = ai[l] - xi;
                        ar[l] += xr;
                        ai[l] += xi;
                    }
                }
            }
            wr += half;
            wi += half;
        }
    }
};

struct Tables {
    // Every second prototype coefficient: the analysis window.
    float anaWindow[320];
    // exp(-i pi (n + 0.25) / 32), exp(-i pi p / 32), and 2 exp(-i 0.75 pi (k + 0.5) / 32)
    // for the bands k = 2p and k = 31 - 2p.
    float anaPreRe[16], anaPreIm[16];
    float anaMidRe[16], anaMidIm[16];
    float anaEvenRe[16], anaEvenIm[16];
    float anaOddRe[16], anaOddIm[16];
    // exp(-i pi (n + 0.25) / 64) / 64, exp(-i pi p / 64).
    float synPreRe[32], synPreIm[32];
    float synPostRe[32], synPostIm[32];
    Fft<16> fft16;
    Fft<32> fft32;
};

Tables MakeTables() {
    Tables t{};
    for (int n = 0; n < 320; ++n) t.anaWindow[n] = kQmfPrototype[2 * n];
    for (int n = 0; n < 16; ++n) {
        const double pre = kPi * (n + 0.25) / 32.0;
        t.anaPreRe[n] = static_cast<float>(std::cos(pre));
        t.anaPreIm[n] = static_cast<float>(-std::sin(pre));
        const double mid = kPi * n / 32.0;
        t.anaMidRe[n] = static_cast<float>(std::cos(mid));
        t.anaMidIm[n] = static_cast<float>(-std::sin(mid));
    }
    for (int p = 0; p < 16; ++p) {
        const double even = 0.75 * kPi * (2 * p + 0.5) / 32.0;
        t.anaEvenRe[p] = static_cast<float>(2.0 * std::cos(even));
        t.anaEvenIm[p] = static_cast<float>(-2.0 * std::sin(even));
        const double odd = 0.75 * kPi * (31 - 2 * p + 0.5) / 32.0;
        t.anaOddRe[p] = static_cast<float>(2.0 * std::cos(odd));
        t.anaOddIm[p] = static_cast<float>(-2.0 * std::sin(odd));
    }
    for (int n = 0; n < 32; ++n) {
        const double pre = kPi * (n + 0.25) / 64.0;
        t.synPreRe[n] = static_cast<float>(std::cos(pre) / 64.0);
        t.synPreIm[n] = static_cast<float>(-std::sin(pre) / 64.0);
        const double post = kPi * n / 64.0;
        t.synPostRe[n] = static_cast<float>(std::cos(post));
        t.synPostIm[n] = static_cast<float>(-std::sin(post));
    }
    return t;
}

const Tables kTables = MakeTables();

constexpr int kLanes = kQmfLanes;
constexpr int kHistoryColumns = 9;  // blocks the window reaches back beyond the newest

// Analysis of the sub-samples whose newest blocks are columns 9 .. 9 + kLanes - 1 of
// `blocks`; band k of lane l comes out at outRe[k][l], outIm[k][l].
SBR_MULTIVERSION void AnalyseLanes(const float (*blocks)[32], float (*outRe)[kLanes],
                                   float (*outIm)[kLanes]) {
    const Tables& t = kTables;
    // u[m] = sum_j x[m + 64 j] c[2 (m + 64 j)], x newest first: x[32 a + m] of the sub-sample
    // in column c is sample 31 - m of block c - a.
    alignas(32) float u[64][kLanes];
    for (int m = 0; m < 32; ++m) {
        const float* __restrict row = blocks[31 - m] + kHistoryColumns;
        float* __restrict even = u[m];
        float* __restrict odd = u[32 + m];
        const float* w = t.anaWindow + m;
        for (int l = 0; l < kLanes; ++l) {
            even[l] = row[l] * w[0] + row[l - 2] * w[64] + row[l - 4] * w[128] +
                      row[l - 6] * w[192] + row[l - 8] * w[256];
            odd[l] = row[l - 1] * w[32] + row[l - 3] * w[96] + row[l - 5] * w[160] +
                     row[l - 7] * w[224] + row[l - 9] * w[288];
        }
    }

    alignas(32) float cRe[16][kLanes], cIm[16][kLanes], sRe[16][kLanes], sIm[16][kLanes];
    for (int n = 0; n < 16; ++n) {
        const float* __restrict a = u[2 * n];
        const float* __restrict b = u[63 - 2 * n];
        const float* __restrict c = u[31 - 2 * n];
        const float* __restrict d = u[32 + 2 * n];
        const float wr = t.anaPreRe[n];
        const float wi = t.anaPreIm[n];
        const int r = t.fft16.reversed[n];
        for (int l = 0; l < kLanes; ++l) {
            const float x0 = a[l] - b[l];
            const float x1 = c[l] - d[l];
            const float y0 = c[l] + d[l];
            const float y1 = a[l] + b[l];
            cRe[r][l] = x0 * wr - x1 * wi;
            cIm[r][l] = x0 * wi + x1 * wr;
            sRe[r][l] = y0 * wr - y1 * wi;
            sIm[r][l] = y0 * wi + y1 * wr;
        }
    }
    t.fft16.RunLanes(cRe, cIm);
    t.fft16.RunLanes(sRe, sIm);

    for (int p = 0; p < 16; ++p) {
        const float mr = t.anaMidRe[p];
        const float mi = t.anaMidIm[p];
        const float er = t.anaEvenRe[p];
        const float ei = t.anaEvenIm[p];
        const float orr = t.anaOddRe[p];
        const float oi = t.anaOddIm[p];
        float wcRe[kLanes], wcIm[kLanes], wsRe[kLanes], wsIm[kLanes];
        for (int l = 0; l < kLanes; ++l) {
            wcRe[l] = cRe[p][l] * mr - cIm[p][l] * mi;
            wcIm[l] = cRe[p][l] * mi + cIm[p][l] * mr;
            wsRe[l] = sRe[p][l] * mr - sIm[p][l] * mi;
            wsIm[l] = sRe[p][l] * mi + sIm[p][l] * mr;
        }
        // Band 2p is C + i S = wcRe + i wsRe; band 31 - 2p is -wcIm + i wsIm. One store
        // stream per loop: GCC keeps several apart only with run-time checks.
        float* __restrict evenRe = outRe[2 * p];
        for (int l = 0; l < kLanes; ++l) evenRe[l] = wcRe[l] * er - wsRe[l] * ei;
        float* __restrict evenIm = outIm[2 * p];
        for (int l = 0; l < kLanes; ++l) evenIm[l] = wcRe[l] * ei + wsRe[l] * er;
        float* __restrict oddRe = outRe[31 - 2 * p];
        for (int l = 0; l < kLanes; ++l) oddRe[l] = -wcIm[l] * orr - wsIm[l] * oi;
        float* __restrict oddIm = outIm[31 - 2 * p];
        for (int l = 0; l < kLanes; ++l) oddIm[l] = -wcIm[l] * oi + wsIm[l] * orr;
    }
}

// Synthesis of kLanes sub-samples (band k of lane l at re[k][l]): their blocks go to
// columns 9 .. 9 + kLanes - 1 of `v`, output sample j of lane l to out[j][l].
SBR_MULTIVERSION void SynthesiseLanes(const float (*re)[kLanes], const float (*im)[kLanes],
                                      float (*v)[32], float (*out)[kLanes]) {
    const Tables& t = kTables;

    // v[2p] and v[64 + 2p] come from D = W(Q) - W(P), v[127 - 2p] and v[63 - 2p] from
    // A = W(P) + W(Q), W the packed DCT-IV transform before taking parts; by linearity the
    // sums and differences can be formed on the packed input.
    alignas(32) float aRe[32][kLanes], aIm[32][kLanes], dRe[32][kLanes], dIm[32][kLanes];
    for (int n = 0; n < 32; ++n) {
        const float* __restrict r0 = re[2 * n];
        const float* __restrict i0 = im[2 * n];
        const float* __restrict r1 = re[63 - 2 * n];
        const float* __restrict i1 = im[63 - 2 * n];
        const float wr = t.synPreRe[n];
        const float wi = t.synPreIm[n];
        const int r = t.fft32.reversed[n];
        for (int l = 0; l < kLanes; ++l) {
            const float sr = r0[l] + i1[l];
            const float si = r1[l] + i0[l];
            const float dr = i1[l] - r0[l];
            const float di = i0[l] - r1[l];
            aRe[r][l] = sr * wr - si * wi;
            aIm[r][l] = sr * wi + si * wr;
            dRe[r][l] = dr * wr - di * wi;
            dIm[r][l] = dr * wi + di * wr;
        }
    }
    t.fft32.RunLanes(aRe, aIm);
    t.fft32.RunLanes(dRe, dIm);

    // One store stream per loop: GCC keeps several apart only with run-time checks.
    for (int p = 0; p < 32; ++p) {
        const float mr = t.synPostRe[p];
        const float mi = t.synPostIm[p];
        const float* __restrict pr = dRe[p];
        const float* __restrict pi = dIm[p];
        const float* __restrict qr = aRe[p];
        const float* __restrict qi = aIm[p];
        float* __restrict v0 = v[2 * p] + kHistoryColumns;
        for (int l = 0; l < kLanes; ++l) v0[l] = pr[l] * mr - pi[l] * mi;
        float* __restrict v1 = v[64 + 2 * p] + kHistoryColumns;
        for (int l = 0; l < kLanes; ++l) v1[l] = pr[l] * mi + pi[l] * mr;
        float* __restrict v2 = v[127 - 2 * p] + kHistoryColumns;
        for (int l = 0; l < kLanes; ++l) v2[l] = qr[l] * mr - qi[l] * mi;
        float* __restrict v3 = v[63 - 2 * p] + kHistoryColumns;
        for (int l = 0; l < kLanes; ++l) v3[l] = qr[l] * mi + qi[l] * mr;
    }

    // out[j] = sum_i v[256 i + j] c[128 i + j] + v[256 i + 192 + j] c[128 i + 64 + j]: the
    // first half of the blocks aged 2i and the second half of those aged 2i + 1.
    for (int j = 0; j < 64; ++j) {
        const float* __restrict first = v[j] + kHistoryColumns;
        const float* __restrict second = v[64 + j] + kHistoryColumns;
        const float* c = kQmfPrototype + j;
        float* __restrict o = out[j];
        for (int l = 0; l < kLanes; ++l) {
            o[l] = first[l] * c[0] + second[l - 1] * c[64] + first[l - 2] * c[128] +
                   second[l - 3] * c[192] + first[l - 4] * c[256] + second[l - 5] * c[320] +
                   first[l - 6] * c[384] + second[l - 7] * c[448] + first[l - 8] * c[512] +
                   second[l - 9] * c[576];
        }
    }
}

// The last nine of the columns just filled become the history.
template <int Rows>
void KeepHistory(float (*columns)[32], int count) {
    for (int r = 0; r < Rows; ++r) {
        float kept[kHistoryColumns];
        std::memcpy(kept, columns[r] + count, sizeof(kept));
        std::memcpy(columns[r], kept, sizeof(kept));
    }
}

}  // namespace

static_assert(kHistoryColumns + kLanes <= 32, "the lanes fit the columns");
static_assert(kQmfMaxSlots <= kLanes, "a frame fits the lanes");

void QmfAnalysis::Reset() {
    std::memset(blocks_, 0, sizeof(blocks_));
}

void QmfAnalysis::RunSlots(const float* input, int stride, int count, float* real, float* imag,
                           int rowStride) {
    count = count < 1 ? 1 : (count > kQmfMaxSlots ? kQmfMaxSlots : count);
    if (stride == 1) {
        Transpose(input, 32, &blocks_[0][kHistoryColumns], 32, count, 32);
    } else {
        for (int s = 0; s < count; ++s) {
            const float* in = input + s * 32 * stride;
            for (int i = 0; i < 32; ++i) blocks_[i][kHistoryColumns + s] = in[i * stride];
        }
    }
    alignas(32) float re[kAnalysisBands][kLanes];
    alignas(32) float im[kAnalysisBands][kLanes];
    AnalyseLanes(blocks_, re, im);
    Transpose(re[0], kLanes, real, rowStride, kAnalysisBands, count);
    Transpose(im[0], kLanes, imag, rowStride, kAnalysisBands, count);
    for (int s = 0; s < count; ++s) {
        float* rowRe = real + s * rowStride;
        float* rowIm = imag + s * rowStride;
        if (rowStride >= kSynthesisBands) {
            std::memset(rowRe + kAnalysisBands, 0, sizeof(float) * (kSynthesisBands - kAnalysisBands));
            std::memset(rowIm + kAnalysisBands, 0, sizeof(float) * (kSynthesisBands - kAnalysisBands));
        }
    }
    KeepHistory<32>(blocks_, count);
}

void QmfAnalysis::Run(const float* input, int stride, float real[kAnalysisBands],
                      float imag[kAnalysisBands]) {
    RunSlots(input, stride, 1, real, imag, kAnalysisBands);
}

void QmfSynthesis::Reset() {
    std::memset(v_, 0, sizeof(v_));
}

void QmfSynthesis::RunSlots(const float (*real)[kQmfLanes], const float (*imag)[kQmfLanes],
                            int count, float* output, int stride) {
    count = count < 1 ? 1 : (count > kQmfMaxSlots ? kQmfMaxSlots : count);
    alignas(32) float out[kSynthesisBands][kLanes];
    SynthesiseLanes(real, imag, v_, out);
    if (stride == 1) {
        Transpose(out[0], kLanes, output, kSynthesisBands, kSynthesisBands, count);
    } else {
        for (int s = 0; s < count; ++s) {
            float* o = output + s * kSynthesisBands * stride;
            for (int j = 0; j < kSynthesisBands; ++j) o[j * stride] = out[j][s];
        }
    }
    KeepHistory<128>(v_, count);
}

void QmfSynthesis::Run(const float real[kSynthesisBands], const float imag[kSynthesisBands],
                       float* output, int stride) {
    alignas(32) float re[kSynthesisBands][kLanes] = {};
    alignas(32) float im[kSynthesisBands][kLanes] = {};
    for (int k = 0; k < kSynthesisBands; ++k) {
        re[k][0] = real[k];
        im[k][0] = imag[k];
    }
    RunSlots(re, im, 1, output, stride);
}

}  // namespace velora::sbr
