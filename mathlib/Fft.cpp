#include "Fft.h"

#include <cmath>
#include <new>

namespace velora::math {
namespace {

constexpr double kPi = 3.14159265358979323846;

template <typename T>
std::unique_ptr<T[]> NewArray(int count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]());
}

bool IsPowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

// The first two stages together: each group of four (in bit-reversed order) is a 4-point
// transform whose only twiddle is -i, so it needs no table.
void FirstStages(float* __restrict re, float* __restrict im, int size) {
    if (size == 2) {
        const float r = re[0] - re[1];
        const float i = im[0] - im[1];
        re[0] += re[1];
        im[0] += im[1];
        re[1] = r;
        im[1] = i;
        return;
    }
    for (int k = 0; k < size; k += 4) {
        const float a0r = re[k] + re[k + 1], a0i = im[k] + im[k + 1];
        const float a1r = re[k] - re[k + 1], a1i = im[k] - im[k + 1];
        const float a2r = re[k + 2] + re[k + 3], a2i = im[k + 2] + im[k + 3];
        const float a3r = re[k + 2] - re[k + 3], a3i = im[k + 2] - im[k + 3];
        re[k] = a0r + a2r;
        im[k] = a0i + a2i;
        re[k + 2] = a0r - a2r;
        im[k + 2] = a0i - a2i;
        re[k + 1] = a1r + a3i;
        im[k + 1] = a1i - a3r;
        re[k + 3] = a1r - a3i;
        im[k + 3] = a1i + a3r;
    }
}

// One radix-2 stage combining pairs of half-length `half` transforms.
void Stage(float* __restrict re, float* __restrict im, int size, int half,
           const float* __restrict wRe, const float* __restrict wIm) {
    for (int k = 0; k < size; k += 2 * half) {
        float* __restrict aRe = re + k;
        float* __restrict aIm = im + k;
        float* __restrict bRe = re + k + half;
        float* __restrict bIm = im + k + half;
        for (int j = 0; j < half; ++j) {
            const float tr = wRe[j] * bRe[j] - wIm[j] * bIm[j];
            const float ti = wRe[j] * bIm[j] + wIm[j] * bRe[j];
            bRe[j] = aRe[j] - tr;
            bIm[j] = aIm[j] - ti;
            aRe[j] += tr;
            aIm[j] += ti;
        }
    }
}

// Two radix-2 stages at once, of half-lengths `half` and 2 * half: the same twiddles as
// Stage twice, but every value is loaded and stored once instead of twice. The four
// quarters come in as separate pointers so that the compiler knows they do not overlap.
void FourQuarters(float* __restrict r0, float* __restrict i0, float* __restrict r1,
                  float* __restrict i1, float* __restrict r2, float* __restrict i2,
                  float* __restrict r3, float* __restrict i3, int count,
                  const float* __restrict wRe, const float* __restrict wIm,
                  const float* __restrict uRe, const float* __restrict uIm) {
    for (int j = 0; j < count; ++j) {
        const float t1r = wRe[j] * r1[j] - wIm[j] * i1[j];
        const float t1i = wRe[j] * i1[j] + wIm[j] * r1[j];
        const float t3r = wRe[j] * r3[j] - wIm[j] * i3[j];
        const float t3i = wRe[j] * i3[j] + wIm[j] * r3[j];
        const float b0r = r0[j] + t1r, b0i = i0[j] + t1i;
        const float b1r = r0[j] - t1r, b1i = i0[j] - t1i;
        const float b2r = r2[j] + t3r, b2i = i2[j] + t3i;
        const float b3r = r2[j] - t3r, b3i = i2[j] - t3i;
        // The second stage's twiddle for the upper quarter is -i times the first's.
        const float v2r = uRe[j] * b2r - uIm[j] * b2i;
        const float v2i = uRe[j] * b2i + uIm[j] * b2r;
        const float v3r = uRe[j] * b3r - uIm[j] * b3i;
        const float v3i = uRe[j] * b3i + uIm[j] * b3r;
        r0[j] = b0r + v2r;
        i0[j] = b0i + v2i;
        r2[j] = b0r - v2r;
        i2[j] = b0i - v2i;
        r1[j] = b1r + v3i;
        i1[j] = b1i - v3r;
        r3[j] = b1r - v3i;
        i3[j] = b1i + v3r;
    }
}

void DoubleStage(float* re, float* im, int size, int half, const float* wRe, const float* wIm,
                 const float* uRe, const float* uIm) {
    for (int k = 0; k < size; k += 4 * half) {
        float* r = re + k;
        float* i = im + k;
        FourQuarters(r, i, r + half, i + half, r + 2 * half, i + 2 * half, r + 3 * half,
                     i + 3 * half, half, wRe, wIm, uRe, uIm);
    }
}

}  // namespace

bool ComplexFft::Init(int size) {
    size_ = 0;
    if (!IsPowerOfTwo(size)) return false;
    int bits = 0;
    while ((1 << bits) < size) ++bits;

    int swapCount = 0;
    for (int n = 0; n < size; ++n) {
        int r = 0;
        for (int b = 0; b < bits; ++b) r |= ((n >> b) & 1) << (bits - 1 - b);
        if (n < r) ++swapCount;
    }
    swaps_ = NewArray<int>(2 * swapCount + 1);
    twRe_ = NewArray<float>(size);
    twIm_ = NewArray<float>(size);
    if (!swaps_ || !twRe_ || !twIm_) return false;
    swapCount_ = 0;
    for (int n = 0; n < size; ++n) {
        int r = 0;
        for (int b = 0; b < bits; ++b) r |= ((n >> b) & 1) << (bits - 1 - b);
        if (n < r) {
            swaps_[2 * swapCount_] = n;
            swaps_[2 * swapCount_ + 1] = r;
            ++swapCount_;
        }
    }
    for (int half = 4; half < size; half *= 2) {
        for (int j = 0; j < half; ++j) {
            const double angle = -kPi * j / half;
            twRe_[half + j] = static_cast<float>(std::cos(angle));
            twIm_[half + j] = static_cast<float>(std::sin(angle));
        }
    }
    size_ = size;
    return true;
}

void ComplexFft::Permute(float* re, float* im) const {
    for (int s = 0; s < swapCount_; ++s) {
        const int a = swaps_[2 * s];
        const int b = swaps_[2 * s + 1];
        const float r = re[a];
        re[a] = re[b];
        re[b] = r;
        const float i = im[a];
        im[a] = im[b];
        im[b] = i;
    }
}

void ComplexFft::Forward(float* re, float* im) const {
    if (size_ < 2) return;
    Permute(re, im);
    FirstStages(re, im, size_);
    int half = 4;
    for (; 2 * half < size_; half *= 4) {
        DoubleStage(re, im, size_, half, twRe_.get() + half, twIm_.get() + half,
                    twRe_.get() + 2 * half, twIm_.get() + 2 * half);
    }
    if (half < size_) Stage(re, im, size_, half, twRe_.get() + half, twIm_.get() + half);
}

bool RealFft::Init(int size) {
    size_ = 0;
    if (!IsPowerOfTwo(size) || size < 2) return false;
    if (!half_.Init(size / 2)) return false;
    const int quarter = size / 4;
    splitRe_ = NewArray<float>(quarter + 1);
    splitIm_ = NewArray<float>(quarter + 1);
    if (!splitRe_ || !splitIm_) return false;
    for (int k = 0; k <= quarter; ++k) {
        const double angle = -2.0 * kPi * k / size;
        splitRe_[k] = static_cast<float>(std::cos(angle));
        splitIm_[k] = static_cast<float>(std::sin(angle));
    }
    size_ = size;
    return true;
}

// The even samples go into the real parts and the odd ones into the imaginary parts of a
// half-size transform Z; then X[k] = E[k] + W^k O[k] and X[N/2 - k] = conj(E[k] - W^k O[k]),
// with E = (Z[k] + conj Z[N/2 - k]) / 2, O = (Z[k] - conj Z[N/2 - k]) / 2i, W = exp(-2 pi i / N).
void RealFft::Forward(const float* input, float* re, float* im) const {
    const int half = size_ / 2;
    for (int n = 0; n < half; ++n) {
        re[n] = input[2 * n];
        im[n] = input[2 * n + 1];
    }
    half_.Forward(re, im);
    const float z0r = re[0];
    const float z0i = im[0];
    re[0] = z0r + z0i;
    im[0] = 0.0f;
    re[half] = z0r - z0i;
    im[half] = 0.0f;
    for (int k = 1; 2 * k <= half; ++k) {
        const int m = half - k;
        const float er = 0.5f * (re[k] + re[m]);
        const float ei = 0.5f * (im[k] - im[m]);
        const float orr = 0.5f * (im[k] + im[m]);
        const float oi = -0.5f * (re[k] - re[m]);
        const float tr = splitRe_[k] * orr - splitIm_[k] * oi;
        const float ti = splitRe_[k] * oi + splitIm_[k] * orr;
        re[k] = er + tr;
        im[k] = ei + ti;
        re[m] = er - tr;
        im[m] = -(ei - ti);
    }
}

// The reverse of Forward's split: Z[k] = A + iC and Z[N/2 - k] = conj A + i conj C with
// A = X[k] + conj X[N/2 - k] and C = (X[k] - conj X[N/2 - k]) conj W^k, which is twice the
// half-size spectrum, so the unscaled half-size inverse gives N times the signal.
void RealFft::Inverse(float* re, float* im, float* output) const {
    const int half = size_ / 2;
    const float x0 = re[0];
    const float xh = re[half];
    re[0] = x0 + xh;
    im[0] = x0 - xh;
    for (int k = 1; 2 * k <= half; ++k) {
        const int m = half - k;
        const float ar = re[k] + re[m];
        const float ai = im[k] - im[m];
        const float br = re[k] - re[m];
        const float bi = im[k] + im[m];
        // C = B * conj(W^k)
        const float cr = br * splitRe_[k] + bi * splitIm_[k];
        const float ci = bi * splitRe_[k] - br * splitIm_[k];
        re[k] = ar - ci;
        im[k] = ai + cr;
        re[m] = ar + ci;
        im[m] = cr - ai;
    }
    half_.Inverse(re, im);
    for (int n = 0; n < half; ++n) {
        output[2 * n] = re[n];
        output[2 * n + 1] = im[n];
    }
}

}  // namespace velora::math
