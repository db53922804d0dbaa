#include "Mdct.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "Layer3Tables.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velora::enc {
namespace {

constexpr double kPi = std::numbers::pi;

// Twiddles of an N-point DCT-IV computed through an N/2-point complex DFT.
template <int N>
struct Dct4Twiddles {
    static constexpr int M = N / 2;
    float preCos[M];
    float preSin[M];
    float postCos[M];  // include the output scale
    float postSin[M];
};

template <int N>
Dct4Twiddles<N> MakeTwiddles(double scale) {
    Dct4Twiddles<N> t{};
    for (int n = 0; n < N / 2; ++n) {
        const double pre = kPi * (4 * n + 1) / (4.0 * N);
        t.preCos[n] = static_cast<float>(std::cos(pre));
        t.preSin[n] = static_cast<float>(std::sin(pre));
        const double post = kPi * n / N;
        t.postCos[n] = static_cast<float>(scale * std::cos(post));
        t.postSin[n] = static_cast<float>(scale * std::sin(post));
    }
    return t;
}

double LongWindow(int blockType, int i) {
    const double normal = std::sin(kPi / 36.0 * (i + 0.5));
    if (blockType == kBlockStart) {
        if (i < 18) return normal;
        if (i < 24) return 1.0;
        if (i < 30) return std::sin(kPi / 12.0 * (i - 18 + 0.5));
        return 0.0;
    }
    if (blockType == kBlockStop) {
        if (i < 6) return 0.0;
        if (i < 12) return std::sin(kPi / 12.0 * (i - 6 + 0.5));
        if (i < 18) return 1.0;
    }
    return normal;
}

struct MdctTables {
    float longWindow[4][36];  // by block type; [2] unused
    float shortWindow[12];
    Dct4Twiddles<18> dct18;
    Dct4Twiddles<6> dct6;
    float aliasCs[8];
    float aliasCa[8];
    float sqrt3Half;
    float ninth[3][3][2];  // [b][c]: cos and sin of 2 pi b c / 9
};

MdctTables MakeTables() {
    MdctTables t{};
    for (int type = 0; type < 4; ++type) {
        for (int i = 0; i < 36; ++i) t.longWindow[type][i] = static_cast<float>(LongWindow(type, i));
    }
    for (int i = 0; i < 12; ++i) t.shortWindow[i] = static_cast<float>(std::sin(kPi / 12.0 * (i + 0.5)));
    // Forward scales 2/18 and 2/6 make the unnormalised inverse an exact inverse.
    t.dct18 = MakeTwiddles<18>(1.0 / 9.0);
    t.dct6 = MakeTwiddles<6>(1.0 / 3.0);
    for (int i = 0; i < 8; ++i) {
        const double c = kAliasCoefficients[i];
        const double norm = std::sqrt(1.0 + c * c);
        t.aliasCs[i] = static_cast<float>(1.0 / norm);
        t.aliasCa[i] = static_cast<float>(c / norm);
    }
    t.sqrt3Half = static_cast<float>(std::sqrt(3.0) / 2.0);
    for (int b = 0; b < 3; ++b) {
        for (int c = 0; c < 3; ++c) {
            t.ninth[b][c][0] = static_cast<float>(std::cos(2.0 * kPi * b * c / 9.0));
            t.ninth[b][c][1] = static_cast<float>(std::sin(2.0 * kPi * b * c / 9.0));
        }
    }
    return t;
}

const MdctTables kTables = MakeTables();

// Four subbands side by side, one in each lane: every operation of the transforms below
// is done on the four at once, in the same order as for one, so the results are the same.
struct Lanes4 {
#if defined(__SSE2__)
    __m128 v;
    static Lanes4 All(float x) { return {_mm_set1_ps(x)}; }
    friend Lanes4 operator+(Lanes4 a, Lanes4 b) { return {_mm_add_ps(a.v, b.v)}; }
    friend Lanes4 operator-(Lanes4 a, Lanes4 b) { return {_mm_sub_ps(a.v, b.v)}; }
    friend Lanes4 operator*(Lanes4 a, Lanes4 b) { return {_mm_mul_ps(a.v, b.v)}; }
    friend Lanes4 operator-(Lanes4 a) { return {_mm_xor_ps(a.v, _mm_set1_ps(-0.0f))}; }
#else
    float v[4];
    static Lanes4 All(float x) { return {{x, x, x, x}}; }
    template <typename F>
    static Lanes4 Each(Lanes4 a, Lanes4 b, F f) {
        return {{f(a.v[0], b.v[0]), f(a.v[1], b.v[1]), f(a.v[2], b.v[2]), f(a.v[3], b.v[3])}};
    }
    friend Lanes4 operator+(Lanes4 a, Lanes4 b) { return Each(a, b, [](float x, float y) { return x + y; }); }
    friend Lanes4 operator-(Lanes4 a, Lanes4 b) { return Each(a, b, [](float x, float y) { return x - y; }); }
    friend Lanes4 operator*(Lanes4 a, Lanes4 b) { return Each(a, b, [](float x, float y) { return x * y; }); }
    friend Lanes4 operator-(Lanes4 a) { return {{-a.v[0], -a.v[1], -a.v[2], -a.v[3]}}; }
#endif
    Lanes4& operator+=(Lanes4 b) { return *this = *this + b; }
};
inline Lanes4 operator*(Lanes4 a, float b) { return a * Lanes4::All(b); }
inline Lanes4 operator*(float a, Lanes4 b) { return Lanes4::All(a) * b; }

// 3-point DFT with the kernel exp(-2 pi i nk / 3) of the values at indices i0, i1, i2.
template <typename T>
[[gnu::always_inline]] inline void Dft3(T* re, T* im, int i0, int i1, int i2) {
    const T sumRe = re[i1] + re[i2];
    const T sumIm = im[i1] + im[i2];
    const T midRe = re[i0] - 0.5f * sumRe;
    const T midIm = im[i0] - 0.5f * sumIm;
    // -i sqrt(3)/2 (x1 - x2)
    const T rotRe = kTables.sqrt3Half * (im[i1] - im[i2]);
    const T rotIm = -kTables.sqrt3Half * (re[i1] - re[i2]);
    re[i0] += sumRe;
    im[i0] += sumIm;
    re[i1] = midRe + rotRe;
    im[i1] = midIm + rotIm;
    re[i2] = midRe - rotRe;
    im[i2] = midIm - rotIm;
}

// In-place DFT of M = 3 or 9 points (kernel exp(-2 pi i nk / M)); 9 = 3 x 3 with input
// n = 3a + b and output k = c + 3d.
template <int M, typename T>
[[gnu::always_inline]] inline void Dft(T* re, T* im) {
    if constexpr (M == 3) {
        Dft3(re, im, 0, 1, 2);
    } else {
        static_assert(M == 9);
        for (int b = 0; b < 3; ++b) Dft3(re, im, b, b + 3, b + 6);  // T[b][c] at 3c + b
        for (int b = 1; b < 3; ++b) {
            for (int c = 1; c < 3; ++c) {
                const float wc = kTables.ninth[b][c][0];
                const float ws = kTables.ninth[b][c][1];
                const int i = 3 * c + b;
                const T r = re[i];
                re[i] = r * wc + im[i] * ws;
                im[i] = im[i] * wc - r * ws;
            }
        }
        T outRe[9];
        T outIm[9];
        for (int c = 0; c < 3; ++c) {
            T* rowRe = re + 3 * c;
            T* rowIm = im + 3 * c;
            Dft3(rowRe, rowIm, 0, 1, 2);
            for (int d = 0; d < 3; ++d) {
                outRe[c + 3 * d] = rowRe[d];
                outIm[c + 3 * d] = rowIm[d];
            }
        }
        for (int k = 0; k < 9; ++k) {
            re[k] = outRe[k];
            im[k] = outIm[k];
        }
    }
}

// Scaled DCT-IV, out[k] = scale sum_n u[n] cos(pi (2n + 1)(2k + 1) / 4N), through the
// complex sequence u[2n] + i u[N-1-2n]: twisted by exp(-i pi (4n + 1) / 4N), transformed
// by an N/2-point DFT and twisted again by exp(-i pi k / N), its real parts are the even
// outputs and its negated imaginary parts the odd ones from the top.
template <int N, typename T>
[[gnu::always_inline]] inline void Dct4(const Dct4Twiddles<N>& tw, const T* u, T* out) {
    constexpr int M = N / 2;
    T re[M];
    T im[M];
    for (int n = 0; n < M; ++n) {
        const T a = u[2 * n];
        const T b = u[N - 1 - 2 * n];
        re[n] = a * tw.preCos[n] + b * tw.preSin[n];
        im[n] = b * tw.preCos[n] - a * tw.preSin[n];
    }
    Dft<M>(re, im);
    for (int k = 0; k < M; ++k) {
        out[2 * k] = re[k] * tw.postCos[k] + im[k] * tw.postSin[k];
        out[N - 1 - 2 * k] = re[k] * tw.postSin[k] - im[k] * tw.postCos[k];
    }
}

// The MDCT of 2N windowed values z = (a, b, c, d) is the DCT-IV of (-c_r - d, a - b_r),
// where _r reverses a quarter.
template <int N, typename T>
[[gnu::always_inline]] inline void FoldMdct(const T* z, T* u) {
    constexpr int Q = N / 2;
    for (int m = 0; m < Q; ++m) {
        u[m] = -z[3 * Q - 1 - m] - z[3 * Q + m];
        u[Q + m] = z[m] - z[N - 1 - m];
    }
}

// LongMdct of four neighbouring subbands at once.
void LongMdct4(const float previous[][kSubbandSamples], const float current[][kSubbandSamples], int32_t type,
               float* out) {
    const float* w = kTables.longWindow[type];
    Lanes4 z[36];
    for (int i = 0; i < 18; ++i) {
#if defined(__SSE2__)
        const Lanes4 p{_mm_setr_ps(previous[0][i], previous[1][i], previous[2][i], previous[3][i])};
        const Lanes4 c{_mm_setr_ps(current[0][i], current[1][i], current[2][i], current[3][i])};
#else
        const Lanes4 p{{previous[0][i], previous[1][i], previous[2][i], previous[3][i]}};
        const Lanes4 c{{current[0][i], current[1][i], current[2][i], current[3][i]}};
#endif
        z[i] = p * w[i];
        z[18 + i] = c * w[18 + i];
    }
    Lanes4 u[18];
    FoldMdct<18>(z, u);
    Lanes4 lines[18];
    Dct4<18>(kTables.dct18, u, lines);
    alignas(16) float lanes[18][4];
    for (int k = 0; k < 18; ++k) {
#if defined(__SSE2__)
        _mm_store_ps(lanes[k], lines[k].v);
#else
        for (int j = 0; j < 4; ++j) lanes[k][j] = lines[k].v[j];
#endif
    }
    for (int j = 0; j < 4; ++j) {
        for (int k = 0; k < 18; ++k) out[18 * j + k] = lanes[k][j];
    }
}

}  // namespace

void LongMdct(const float in[36], int32_t blockType, float out[18]) {
    const int type = (blockType == kBlockStart || blockType == kBlockStop) ? blockType : kBlockLong;
    const float* w = kTables.longWindow[type];
    float z[36];
    for (int i = 0; i < 36; ++i) z[i] = in[i] * w[i];
    float u[18];
    FoldMdct<18>(z, u);
    Dct4<18>(kTables.dct18, u, out);
}

void ShortMdct(const float in[36], float out[18]) {
    for (int win = 0; win < 3; ++win) {
        const float* x = in + 6 + 6 * win;
        float z[12];
        for (int i = 0; i < 12; ++i) z[i] = x[i] * kTables.shortWindow[i];
        float u[6];
        FoldMdct<6>(z, u);
        float lines[6];
        Dct4<6>(kTables.dct6, u, lines);
        for (int k = 0; k < 6; ++k) out[3 * k + win] = lines[k];
    }
}

void AddAliasReduction(float lines[kGranuleLines]) {
    for (int sb = 1; sb < kSubbands; ++sb) {
        float* lower = lines + 18 * sb - 1;
        float* upper = lines + 18 * sb;
        for (int i = 0; i < 8; ++i) {
            const float below = lower[-i];
            const float above = upper[i];
            lower[-i] = below * kTables.aliasCs[i] + above * kTables.aliasCa[i];
            upper[i] = above * kTables.aliasCs[i] - below * kTables.aliasCa[i];
        }
    }
}

void TransformGranule(int32_t blockType, const float previous[kSubbands][kSubbandSamples],
                      const float current[kSubbands][kSubbandSamples], GranuleSpectrum& out) {
    const int32_t type = (blockType >= kBlockLong && blockType <= kBlockStop) ? blockType : kBlockLong;
    out.blockType = type;
    if (type != kBlockShort) {
        for (int sb = 0; sb < kSubbands; sb += 4) LongMdct4(previous + sb, current + sb, type, out.lines + 18 * sb);
        AddAliasReduction(out.lines);
        return;
    }
    float in[36];
    for (int sb = 0; sb < kSubbands; ++sb) {
        std::memcpy(in, previous[sb], sizeof(float) * 18);
        std::memcpy(in + 18, current[sb], sizeof(float) * 18);
        ShortMdct(in, out.lines + 18 * sb);
    }
}

}  // namespace velora::enc
