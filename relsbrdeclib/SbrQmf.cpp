#include "SbrQmf.h"

#include <cmath>
#include <cstring>

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

}  // namespace

void QmfAnalysis::Reset() {
    std::memset(history_, 0, sizeof(history_));
    newest_ = 0;
}

void QmfAnalysis::Run(const float* input, int stride, float real[kAnalysisBands],
                      float imag[kAnalysisBands]) {
    const Tables& t = kTables;
    newest_ = newest_ == 0 ? 320 - 32 : newest_ - 32;
    float* newest = history_ + newest_;
    for (int n = 0; n < 32; ++n) newest[31 - n] = input[n * stride];

    // u[n] = sum_j x[n + 64 j] c[2 (n + 64 j)], x the history newest first: the block aged
    // b holds x[32 b .. 32 b + 31].
    const float* block[10];
    for (int age = 0; age < 10; ++age) {
        int start = newest_ + 32 * age;
        if (start >= 320) start -= 320;
        block[age] = history_ + start;
    }
    float u[64];
    for (int m = 0; m < 32; ++m) {
        float even = 0.0f;
        float odd = 0.0f;
        for (int j = 0; j < 5; ++j) {
            even += block[2 * j][m] * t.anaWindow[64 * j + m];
            odd += block[2 * j + 1][m] * t.anaWindow[64 * j + 32 + m];
        }
        u[m] = even;
        u[32 + m] = odd;
    }

    // The cosine part (DCT-IV of u[n] - u[63 - n]) and the sine part (DCT-IV of the
    // reversed u[n] + u[63 - n]), packed, turned and put in bit-reversed order.
    float cRe[16], cIm[16], sRe[16], sIm[16];
    for (int n = 0; n < 16; ++n) {
        const float x0 = u[2 * n] - u[63 - 2 * n];        // difference at 2n
        const float x1 = u[31 - 2 * n] - u[32 + 2 * n];   // difference at 31 - 2n
        const float y0 = u[31 - 2 * n] + u[32 + 2 * n];   // sum at 31 - 2n
        const float y1 = u[2 * n] + u[63 - 2 * n];        // sum at 2n
        const float wr = t.anaPreRe[n];
        const float wi = t.anaPreIm[n];
        const int r = t.fft16.reversed[n];
        cRe[r] = x0 * wr - x1 * wi;
        cIm[r] = x0 * wi + x1 * wr;
        sRe[r] = y0 * wr - y1 * wi;
        sIm[r] = y0 * wi + y1 * wr;
    }
    t.fft16.Run(cRe, cIm);
    t.fft16.Run(sRe, sIm);

    for (int p = 0; p < 16; ++p) {
        const float mr = t.anaMidRe[p];
        const float mi = t.anaMidIm[p];
        const float wcRe = cRe[p] * mr - cIm[p] * mi;
        const float wcIm = cRe[p] * mi + cIm[p] * mr;
        const float wsRe = sRe[p] * mr - sIm[p] * mi;
        const float wsIm = sRe[p] * mi + sIm[p] * mr;
        // Band 2p is C + i S = wcRe + i wsRe; band 31 - 2p is -wcIm + i wsIm.
        real[2 * p] = wcRe * t.anaEvenRe[p] - wsRe * t.anaEvenIm[p];
        imag[2 * p] = wcRe * t.anaEvenIm[p] + wsRe * t.anaEvenRe[p];
        real[31 - 2 * p] = -wcIm * t.anaOddRe[p] - wsIm * t.anaOddIm[p];
        imag[31 - 2 * p] = -wcIm * t.anaOddIm[p] + wsIm * t.anaOddRe[p];
    }
}

void QmfSynthesis::Reset() {
    std::memset(v_, 0, sizeof(v_));
    newest_ = 0;
}

void QmfSynthesis::Run(const float real[kSynthesisBands], const float imag[kSynthesisBands],
                       float* output, int stride) {
    const Tables& t = kTables;

    // v[2p] and v[64 + 2p] come from D = W(Q) - W(P), v[127 - 2p] and v[63 - 2p] from
    // A = W(P) + W(Q), W the packed DCT-IV transform before taking parts; by linearity the
    // sums and differences can be formed on the packed input.
    float aRe[32], aIm[32], dRe[32], dIm[32];
    for (int n = 0; n < 32; ++n) {
        const float r0 = real[2 * n];
        const float i0 = imag[2 * n];
        const float r1 = real[63 - 2 * n];
        const float i1 = imag[63 - 2 * n];
        const float sr = r0 + i1;
        const float si = r1 + i0;
        const float dr = i1 - r0;
        const float di = i0 - r1;
        const float wr = t.synPreRe[n];
        const float wi = t.synPreIm[n];
        const int r = t.fft32.reversed[n];
        aRe[r] = sr * wr - si * wi;
        aIm[r] = sr * wi + si * wr;
        dRe[r] = dr * wr - di * wi;
        dIm[r] = dr * wi + di * wr;
    }
    t.fft32.Run(aRe, aIm);
    t.fft32.Run(dRe, dIm);

    newest_ = newest_ == 0 ? 1280 - 128 : newest_ - 128;
    float* v = v_ + newest_;
    for (int p = 0; p < 32; ++p) {
        const float mr = t.synPostRe[p];
        const float mi = t.synPostIm[p];
        v[2 * p] = dRe[p] * mr - dIm[p] * mi;
        v[64 + 2 * p] = dRe[p] * mi + dIm[p] * mr;
        v[127 - 2 * p] = aRe[p] * mr - aIm[p] * mi;
        v[63 - 2 * p] = aRe[p] * mi + aIm[p] * mr;
    }

    // out[j] = sum_i v[256 i + j] c[128 i + j] + v[256 i + 192 + j] c[128 i + 64 + j]: the
    // first half of the blocks aged 2i and the second half of those aged 2i + 1.
    const float* half[10];
    for (int age = 0; age < 10; ++age) {
        int start = newest_ + 128 * age;
        if (start >= 1280) start -= 1280;
        half[age] = v_ + start + 64 * (age & 1);
    }
    float out[64];
    for (int j = 0; j < 64; ++j) {
        float sum = 0.0f;
        for (int i = 0; i < 5; ++i) {
            sum += half[2 * i][j] * kQmfPrototype[128 * i + j];
            sum += half[2 * i + 1][j] * kQmfPrototype[128 * i + 64 + j];
        }
        out[j] = sum;
    }
    for (int j = 0; j < 64; ++j) output[j * stride] = out[j];
}

}  // namespace velora::sbr
