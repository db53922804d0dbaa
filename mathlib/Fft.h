// Small power-of-two FFTs on split real/imaginary float arrays. Init builds the bit-reversal
// and twiddle tables (the only allocation); the transforms then allocate nothing.
#pragma once

#include <memory>

namespace velora::math {

// Complex radix-2 FFT, in place: Forward gives X[k] = sum x[n] exp(-2 pi i n k / N), Inverse
// the same with exp(+...) and no 1/N scaling.
class ComplexFft {
  public:
    // False (and an unusable object) when `size` is not a power of two or memory is short.
    bool Init(int size);
    int Size() const { return size_; }

    void Forward(float* re, float* im) const;
    // An inverse transform is a forward one with the real and imaginary parts swapped.
    void Inverse(float* re, float* im) const { Forward(im, re); }

  private:
    void Permute(float* re, float* im) const;

    int size_ = 0;
    // Index pairs (i, j), i < j, that the bit-reversal permutation swaps.
    std::unique_ptr<int[]> swaps_;
    int swapCount_ = 0;
    // Stage with half-length h uses twiddles [h, 2h): exp(-2 pi i j / (2h)), j < h.
    std::unique_ptr<float[]> twRe_;
    std::unique_ptr<float[]> twIm_;
};

// Real FFT of size N through a complex FFT of N / 2. The spectrum is bins 0..N/2 (N/2 + 1
// values in each array; the imaginary parts of bins 0 and N/2 are zero).
class RealFft {
  public:
    // False when `size` is not a power of two from 2, or memory is short.
    bool Init(int size);
    int Size() const { return size_; }

    void Forward(const float* input, float* re, float* im) const;
    // Unscaled (the result is N times the signal); overwrites `re` and `im`.
    void Inverse(float* re, float* im, float* output) const;

  private:
    int size_ = 0;
    ComplexFft half_;
    // exp(-2 pi i k / N), k < N / 4 + 1, for splitting the half-size transform.
    std::unique_ptr<float[]> splitRe_;
    std::unique_ptr<float[]> splitIm_;
};

}  // namespace velora::math
