// Plain decimation by M with a short filter, by fast convolution (overlap-save): the input is
// collected into fixed segments, each is filtered through one real FFT and its inverse, and
// every M-th filtered sample is output, the offset of the next one carried into the next
// segment.
#pragma once

#include <memory>

#include "Fft.h"

namespace velora::resample {

class FftDecimator {
  public:
    // Largest transform the decimator uses; a block that needs more is better served by the
    // time-domain filter.
    static constexpr int kMaxFftSize = 1 << 16;

    // The segment length (a divisor of `blockFrames`, so that segments never straddle a
    // block, and at least the filter's history) that costs least per input sample, or 0
    // when none fits kMaxFftSize.
    static int ChooseSegment(int length, int blockFrames);

    // False when memory is short or no segment fits.
    bool Init(const double* taps, int length, int down, int blockFrames, int channels);

    // Consumes `frames` interleaved input frames (null: zeros); returns the output frames
    // written, all of them from segments this call completed.
    int Run(const float* input, int frames, float* output);

    int SegmentFrames() const { return segment_; }
    int FftSize() const { return fft_.Size(); }

  private:
    int FilterSegment(float* output);

    int channels_ = 0;
    int down_ = 1;
    int history_ = 0;  // taps - 1 samples kept from the previous segment
    int segment_ = 0;
    int fill_ = 0;  // frames of the current segment collected
    int next_ = 0;  // index of the next output sample within the current segment
    math::RealFft fft_;
    std::unique_ptr<float[]> filterRe_;  // the filter's spectrum, scaled by 1 / FFT size
    std::unique_ptr<float[]> filterIm_;
    std::unique_ptr<float[]> time_;  // per channel: history, then the segment
    std::unique_ptr<float[]> work_;
    std::unique_ptr<float[]> spectrumRe_;
    std::unique_ptr<float[]> spectrumIm_;
};

}  // namespace velora::resample
