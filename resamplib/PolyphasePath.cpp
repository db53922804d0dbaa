#include "PolyphasePath.h"

#include <new>

#include "KaiserDesign.h"
#include "Resampler.h"

// Output k sits at u = k * step on a grid of unitsPerSample_ units per input sample. It is
// due once the input sample at or after its time has arrived, so that no window of B inputs
// yields more than ceil(B * up / down) outputs; the filter is centred `delay` input samples
// before it, so the output shows the input exactly `delay` samples late (to within half a
// phase when the prototype's centre falls between two taps).
namespace velora::resample {
namespace {

template <typename T>
std::unique_ptr<T[]> NewArray(long long count) {
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]());
}

long long FloorDiv(long long a, long long b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Eight independent sums: the compiler turns them into vector lanes, which it may not do
// for a single running sum without reassociating floating-point additions.
float Dot(const float* __restrict a, const float* __restrict b, int count) {
    float s[8] = {};
    for (int i = 0; i < count; i += 8) {
        for (int k = 0; k < 8; ++k) s[k] += a[i + k] * b[i + k];
    }
    return ((s[0] + s[4]) + (s[1] + s[5])) + ((s[2] + s[6]) + (s[3] + s[7]));
}

}  // namespace

bool PolyphasePath::Init(const double* taps, long long length, int up, int down, int phases,
                         int delay, int channels) {
    channels_ = channels;
    interpolate_ = phases != up;
    const int lookahead = interpolate_ ? 1 : 0;  // interpolation also needs the next phase
    const long long tapsPerPhase = (length + phases - 1) / phases;
    const long long rows = phases + lookahead;
    width_ = static_cast<int>((tapsPerPhase + lookahead + 7) / 8 * 8);
    ringLength_ = width_ + 1;
    table_ = NewArray<float>(rows * width_);
    rings_ = NewArray<float>(2LL * channels * ringLength_);
    if (!table_ || !rings_) return false;

    // Row r, entry j (from the newest input back) is tap (j - lookahead) of phase r; rows are
    // stored oldest first so that they line up with the history in memory. With the table,
    // row `phases` is phase 0 one input sample later.
    for (long long r = 0; r < rows; ++r) {
        float* row = table_.get() + r * width_;
        for (long long j = 0; j < tapsPerPhase + lookahead; ++j) {
            row[width_ - 1 - j] = static_cast<float>(
                PhaseTap(taps, length, phases, static_cast<int>(r), j - lookahead));
        }
    }

    phases_ = phases;
    unitsPerPhase_ = interpolate_ ? up : 1;
    unitsPerSample_ = phases * unitsPerPhase_;
    unitFraction_ = 1.0 / static_cast<double>(unitsPerPhase_);
    const long long step = interpolate_ ? static_cast<long long>(phases) * down : down;
    stepSamples_ = step / unitsPerSample_;
    stepUnits_ = step % unitsPerSample_;
    stepPhases_ = stepUnits_ / unitsPerPhase_;
    stepFraction_ = stepUnits_ % unitsPerPhase_;
    // The prototype's centre, rounded up to whole units, less the delay: where the filter
    // sits for output 0.
    const long long centreUnits = ((length - 1) * unitsPerPhase_ + 1) / 2;
    const long long offset = centreUnits - delay * unitsPerSample_;
    long long due = offset + lookahead * unitsPerSample_;
    if (due < 0) due = 0;
    emitRest_ = due % unitsPerSample_;
    pending_ = due / unitsPerSample_ + 1;
    const long long phaseSample = FloorDiv(offset, unitsPerSample_);
    const long long phaseRest = offset - phaseSample * unitsPerSample_;
    phase_ = phaseRest / unitsPerPhase_;
    fraction_ = phaseRest % unitsPerPhase_;
    lag_ = due / unitsPerSample_ - phaseSample - lookahead;
    write_ = 0;
    return true;
}

void PolyphasePath::Push(const float* frame) {
    for (int c = 0; c < channels_; ++c) {
        float* ring = rings_.get() + 2LL * c * ringLength_;
        const float v = frame ? frame[c] : 0.0f;
        ring[write_] = v;
        ring[write_ + ringLength_] = v;
    }
    write_ = write_ + 1 == ringLength_ ? 0 : write_ + 1;
}

void PolyphasePath::Emit(float* frame) const {
    const float* row = table_.get() + phase_ * width_;
    const long long start = write_ + 1 - lag_;
    const float* history = rings_.get() + start;
    const long long ringStride = 2LL * ringLength_;
    float y[kMaxChannels];
    int c;
    for (c = 0; c < channels_; ++c) y[c] = Dot(row, history + c * ringStride, width_);
    if (fraction_ != 0) {
        const float a = static_cast<float>(static_cast<double>(fraction_) * unitFraction_);
        float next[kMaxChannels];
        for (c = 0; c < channels_; ++c) {
            next[c] = Dot(row + width_, history + c * ringStride, width_);
        }
        for (c = 0; c < channels_; ++c) y[c] += a * (next[c] - y[c]);
    }
    for (c = 0; c < channels_; ++c) frame[c] = y[c];
}

// No divisions here: this runs once per output sample.
void PolyphasePath::Advance() {
    emitRest_ += stepUnits_;
    long long emitSamples = stepSamples_;
    if (emitRest_ >= unitsPerSample_) {
        emitRest_ -= unitsPerSample_;
        ++emitSamples;
    }
    pending_ += emitSamples;

    long long phaseSamples = stepSamples_;
    fraction_ += stepFraction_;
    phase_ += stepPhases_;
    if (fraction_ >= unitsPerPhase_) {
        fraction_ -= unitsPerPhase_;
        ++phase_;
    }
    if (phase_ >= phases_) {
        phase_ -= phases_;
        ++phaseSamples;
    }
    lag_ += emitSamples - phaseSamples;
}

int PolyphasePath::Run(const float* input, int frames, float* output) {
    int written = 0;
    for (int i = 0;; ++i) {
        while (pending_ == 0) {
            Emit(output + static_cast<long long>(written) * channels_);
            ++written;
            Advance();
        }
        if (i == frames) break;
        Push(input ? input + static_cast<long long>(i) * channels_ : nullptr);
        --pending_;
    }
    return written;
}

}  // namespace velora::resample
