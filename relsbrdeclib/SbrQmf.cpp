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

// Tables of a radix-2 decimation-in-time FFT of fixed size (exp(-2 pi i n p / N)), input
// in bit-reversed order, output in natural order; its first two stages (no
// multiplications) and its last are written out by the banks, fused with their twiddles.
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

    // The stages of half-size 4 .. N / 4 on kQmfLanes sequences at once (value n of lane l
    // at re[n][l]): the callers fuse the first two stages with their input twiddle and the
    // last with their output twiddle.
    [[gnu::always_inline]] inline void MiddleStagesLanes(float (*re)[kQmfLanes], float (*im)[kQmfLanes]) const {
        constexpr int L = kQmfLanes;
        const float* wr = twRe;
        const float* wi = twIm;
        for (int half = 4; half < N / 2; half *= 2) {
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
    // Twiddles of the last stage (half-size N / 2).
    const float* LastRe() const { return twRe + (N / 2 - 4); }
    const float* LastIm() const { return twIm + (N / 2 - 4); }
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

// The first two radix-2 stages on four values already in registers.
[[gnu::always_inline]] inline void Butterfly4(float* r, float* i) {
    const float r0 = r[0] + r[1];
    const float i0 = i[0] + i[1];
    const float r1 = r[0] - r[1];
    const float i1 = i[0] - i[1];
    const float r2 = r[2] + r[3];
    const float i2 = i[2] + i[3];
    const float r3 = r[2] - r[3];
    const float i3 = i[2] - i[3];
    r[0] = r0 + r2;
    i[0] = i0 + i2;
    r[2] = r0 - r2;
    i[2] = i0 - i2;
    // Times -i.
    r[1] = r1 + i3;
    i[1] = i1 - r3;
    r[3] = r1 - i3;
    i[3] = i1 + r3;
}

// Analysis of the sub-samples whose newest blocks are columns 9 .. 9 + kLanes - 1 of
// `blocks`; band k of lane l comes out at outRe[k][l], outIm[k][l].
SBR_MULTIVERSION void AnalyseLanes(const float (*blocks)[32], float (*outRe)[kLanes],
                                   float (*outIm)[kLanes]) {
    const Tables& t = kTables;
    alignas(32) float cRe[16][kLanes], cIm[16][kLanes], sRe[16][kLanes], sIm[16][kLanes];

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

    // The cosine part (DCT-IV of u[n] - u[63 - n]) and the sine part (DCT-IV of the
    // reversed u[n] + u[63 - n]), packed and turned, with the first two stages, in one
    // pass per group of four rows.
    for (int g = 0; g < 4; ++g) {
        const float* ua[4];
        const float* ub[4];
        const float* uc[4];
        const float* ud[4];
        float wr[4], wi[4];
        for (int q = 0; q < 4; ++q) {
            const int n = t.fft16.reversed[4 * g + q];
            ua[q] = u[2 * n];
            ub[q] = u[63 - 2 * n];
            uc[q] = u[31 - 2 * n];
            ud[q] = u[32 + 2 * n];
            wr[q] = t.anaPreRe[n];
            wi[q] = t.anaPreIm[n];
        }
        SBR_IVDEP
        for (int l = 0; l < kLanes; ++l) {
            float cr[4], ci[4], sr[4], si[4];
            for (int q = 0; q < 4; ++q) {
                const float x0 = ua[q][l] - ub[q][l];  // difference at 2n
                const float x1 = uc[q][l] - ud[q][l];  // difference at 31 - 2n
                const float y0 = uc[q][l] + ud[q][l];  // sum at 31 - 2n
                const float y1 = ua[q][l] + ub[q][l];  // sum at 2n
                cr[q] = x0 * wr[q] - x1 * wi[q];
                ci[q] = x0 * wi[q] + x1 * wr[q];
                sr[q] = y0 * wr[q] - y1 * wi[q];
                si[q] = y0 * wi[q] + y1 * wr[q];
            }
            Butterfly4(cr, ci);
            Butterfly4(sr, si);
            for (int q = 0; q < 4; ++q) {
                cRe[4 * g + q][l] = cr[q];
                cIm[4 * g + q][l] = ci[q];
                sRe[4 * g + q][l] = sr[q];
                sIm[4 * g + q][l] = si[q];
            }
        }
    }
    t.fft16.MiddleStagesLanes(cRe, cIm);
    t.fft16.MiddleStagesLanes(sRe, sIm);

    // The last stage and the output twiddles: p = j and p = j + 8.
    const float* lr = t.fft16.LastRe();
    const float* li = t.fft16.LastIm();
    for (int j = 0; j < 8; ++j) {
        const float tr = lr[j];
        const float ti = li[j];
        for (int h = 0; h < 2; ++h) {
            const int p = j + 8 * h;
            const float sign = h == 0 ? 1.0f : -1.0f;
            const float mr = t.anaMidRe[p];
            const float mi = t.anaMidIm[p];
            const float er = t.anaEvenRe[p];
            const float ei = t.anaEvenIm[p];
            const float orr = t.anaOddRe[p];
            const float oi = t.anaOddIm[p];
            float* __restrict evenRe = outRe[2 * p];
            float* __restrict evenIm = outIm[2 * p];
            float* __restrict oddRe = outRe[31 - 2 * p];
            float* __restrict oddIm = outIm[31 - 2 * p];
            SBR_IVDEP
            for (int l = 0; l < kLanes; ++l) {
                const float xcr = cRe[j + 8][l] * tr - cIm[j + 8][l] * ti;
                const float xci = cRe[j + 8][l] * ti + cIm[j + 8][l] * tr;
                const float xsr = sRe[j + 8][l] * tr - sIm[j + 8][l] * ti;
                const float xsi = sRe[j + 8][l] * ti + sIm[j + 8][l] * tr;
                const float ccr = cRe[j][l] + sign * xcr;
                const float cci = cIm[j][l] + sign * xci;
                const float csr = sRe[j][l] + sign * xsr;
                const float csi = sIm[j][l] + sign * xsi;
                const float wcRe = ccr * mr - cci * mi;
                const float wcIm = ccr * mi + cci * mr;
                const float wsRe = csr * mr - csi * mi;
                const float wsIm = csr * mi + csi * mr;
                // Band 2p is C + i S = wcRe + i wsRe; band 31 - 2p is -wcIm + i wsIm.
                evenRe[l] = wcRe * er - wsRe * ei;
                evenIm[l] = wcRe * ei + wsRe * er;
                oddRe[l] = -wcIm * orr - wsIm * oi;
                oddIm[l] = -wcIm * oi + wsIm * orr;
            }
        }
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
    // The packing, its twiddle and the first two stages in one pass per group of four rows.
    for (int g = 0; g < 8; ++g) {
        const float* r0[4];
        const float* i0[4];
        const float* r1[4];
        const float* i1[4];
        float wr[4], wi[4];
        for (int q = 0; q < 4; ++q) {
            const int n = t.fft32.reversed[4 * g + q];
            r0[q] = re[2 * n];
            i0[q] = im[2 * n];
            r1[q] = re[63 - 2 * n];
            i1[q] = im[63 - 2 * n];
            wr[q] = t.synPreRe[n];
            wi[q] = t.synPreIm[n];
        }
        SBR_IVDEP
        for (int l = 0; l < kLanes; ++l) {
            float ar[4], ai[4], dr[4], di[4];
            for (int q = 0; q < 4; ++q) {
                const float sr = r0[q][l] + i1[q][l];
                const float si = r1[q][l] + i0[q][l];
                const float xr = i1[q][l] - r0[q][l];
                const float xi = i0[q][l] - r1[q][l];
                ar[q] = sr * wr[q] - si * wi[q];
                ai[q] = sr * wi[q] + si * wr[q];
                dr[q] = xr * wr[q] - xi * wi[q];
                di[q] = xr * wi[q] + xi * wr[q];
            }
            Butterfly4(ar, ai);
            Butterfly4(dr, di);
            for (int q = 0; q < 4; ++q) {
                aRe[4 * g + q][l] = ar[q];
                aIm[4 * g + q][l] = ai[q];
                dRe[4 * g + q][l] = dr[q];
                dIm[4 * g + q][l] = di[q];
            }
        }
    }
    t.fft32.MiddleStagesLanes(aRe, aIm);
    t.fft32.MiddleStagesLanes(dRe, dIm);

    // The last stage and the output twiddles, p = j and p = j + 16.
    const float* lr = t.fft32.LastRe();
    const float* li = t.fft32.LastIm();
    for (int j = 0; j < 16; ++j) {
        const float tr = lr[j];
        const float ti = li[j];
        for (int h = 0; h < 2; ++h) {
            const int p = j + 16 * h;
            const float sign = h == 0 ? 1.0f : -1.0f;
            const float mr = t.synPostRe[p];
            const float mi = t.synPostIm[p];
            float* __restrict v0 = v[2 * p] + kHistoryColumns;
            float* __restrict v1 = v[64 + 2 * p] + kHistoryColumns;
            float* __restrict v2 = v[127 - 2 * p] + kHistoryColumns;
            float* __restrict v3 = v[63 - 2 * p] + kHistoryColumns;
            SBR_IVDEP
            for (int l = 0; l < kLanes; ++l) {
                const float xar = aRe[j + 16][l] * tr - aIm[j + 16][l] * ti;
                const float xai = aRe[j + 16][l] * ti + aIm[j + 16][l] * tr;
                const float xdr = dRe[j + 16][l] * tr - dIm[j + 16][l] * ti;
                const float xdi = dRe[j + 16][l] * ti + dIm[j + 16][l] * tr;
                const float par = aRe[j][l] + sign * xar;
                const float pai = aIm[j][l] + sign * xai;
                const float pdr = dRe[j][l] + sign * xdr;
                const float pdi = dIm[j][l] + sign * xdi;
                v0[l] = pdr * mr - pdi * mi;
                v1[l] = pdr * mi + pdi * mr;
                v2[l] = par * mr - pai * mi;
                v3[l] = par * mi + pai * mr;
            }
        }
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
    Transpose(re[0], kLanes, real, rowStride, kAnalysisBands, count, 1.0f, kLanes);
    Transpose(im[0], kLanes, imag, rowStride, kAnalysisBands, count, 1.0f, kLanes);
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
        Transpose(out[0], kLanes, output, kSynthesisBands, kSynthesisBands, count, 1.0f, kLanes);
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
