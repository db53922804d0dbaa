#include "FftDecimator.h"

#include <cmath>
#include <cstring>
#include <new>

namespace velora::resample {
namespace {

template <typename T>
std::unique_ptr<T[]> NewArray(long long count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]());
}

int FftSizeFor(int samples) {
    int size = 2;
    while (size < samples) size *= 2;
    return size;
}

}  // namespace

int FftDecimator::ChooseSegment(int length, int blockFrames) {
    int best = 0;
    double bestCost = 0.0;
    // A segment shorter than the history would spend most of each transform on old input.
    for (int segment = length - 1 > 1 ? length - 1 : 1; segment <= blockFrames; ++segment) {
        if (blockFrames % segment != 0) continue;
        const long long needed = static_cast<long long>(segment) + length - 1;
        if (needed > kMaxFftSize) break;
        const int size = FftSizeFor(static_cast<int>(needed));
        // A forward and an inverse transform (about size log2 size each) plus the spectrum
        // product and the copies, per input sample.
        const double cost = size * (std::log2(static_cast<double>(size)) + 4.0) / segment;
        if (best == 0 || cost < bestCost) {
            best = segment;
            bestCost = cost;
        }
    }
    return best;
}

bool FftDecimator::Init(const double* taps, int length, int down, int blockFrames, int channels) {
    segment_ = ChooseSegment(length, blockFrames);
    if (segment_ == 0) return false;
    channels_ = channels;
    down_ = down;
    history_ = length - 1;
    const int size = FftSizeFor(segment_ + history_);
    if (!fft_.Init(size)) return false;
    const int bins = size / 2 + 1;
    filterRe_ = NewArray<float>(bins);
    filterIm_ = NewArray<float>(bins);
    time_ = NewArray<float>(static_cast<long long>(channels) * (history_ + segment_));
    work_ = NewArray<float>(size);
    spectrumRe_ = NewArray<float>(bins);
    spectrumIm_ = NewArray<float>(bins);
    if (!filterRe_ || !filterIm_ || !time_ || !work_ || !spectrumRe_ || !spectrumIm_) return false;

    for (int n = 0; n < length; ++n) work_[n] = static_cast<float>(taps[n]);
    fft_.Forward(work_.get(), filterRe_.get(), filterIm_.get());
    const float scale = 1.0f / static_cast<float>(size);
    for (int k = 0; k < bins; ++k) {
        filterRe_[k] *= scale;
        filterIm_[k] *= scale;
    }
    fill_ = 0;
    next_ = 0;
    return true;
}

int FftDecimator::Run(const float* input, int frames, float* output) {
    int written = 0;
    int i = 0;
    while (i < frames) {
        const int take = frames - i < segment_ - fill_ ? frames - i : segment_ - fill_;
        for (int c = 0; c < channels_; ++c) {
            float* dst =
                time_.get() + static_cast<long long>(c) * (history_ + segment_) + history_ + fill_;
            if (input) {
                const float* src = input + static_cast<long long>(i) * channels_ + c;
                for (int f = 0; f < take; ++f) dst[f] = src[static_cast<long long>(f) * channels_];
            } else {
                std::memset(dst, 0, sizeof(float) * static_cast<size_t>(take));
            }
        }
        fill_ += take;
        i += take;
        if (fill_ == segment_) {
            written += FilterSegment(output + static_cast<long long>(written) * channels_);
            fill_ = 0;
        }
    }
    return written;
}

int FftDecimator::FilterSegment(float* output) {
    const int size = fft_.Size();
    const int bins = size / 2 + 1;
    const int span = history_ + segment_;
    const int count = next_ < segment_ ? (segment_ - next_ + down_ - 1) / down_ : 0;
    for (int c = 0; c < channels_; ++c) {
        float* time = time_.get() + static_cast<long long>(c) * span;
        std::memcpy(work_.get(), time, sizeof(float) * static_cast<size_t>(span));
        std::memset(work_.get() + span, 0, sizeof(float) * static_cast<size_t>(size - span));
        fft_.Forward(work_.get(), spectrumRe_.get(), spectrumIm_.get());
        for (int k = 0; k < bins; ++k) {
            const float re = spectrumRe_[k] * filterRe_[k] - spectrumIm_[k] * filterIm_[k];
            const float im = spectrumRe_[k] * filterIm_[k] + spectrumIm_[k] * filterRe_[k];
            spectrumRe_[k] = re;
            spectrumIm_[k] = im;
        }
        fft_.Inverse(spectrumRe_.get(), spectrumIm_.get(), work_.get());
        // Outputs before index history_ would have wrapped around the circular convolution.
        const float* filtered = work_.get() + history_ + next_;
        for (int q = 0; q < count; ++q) {
            output[static_cast<long long>(q) * channels_ + c] =
                filtered[static_cast<long long>(q) * down_];
        }
        std::memmove(time, time + segment_, sizeof(float) * static_cast<size_t>(history_));
    }
    next_ += count * down_ - segment_;
    return count;
}

}  // namespace velora::resample
