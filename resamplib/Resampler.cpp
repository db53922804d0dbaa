#include "Resampler.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>

#include "FftDecimator.h"
#include "KaiserDesign.h"
#include "PolyphasePath.h"

namespace velora::resample {

namespace {

constexpr double kStopBandDb = 90.0;
// Plain decimation goes through the FFT only below this filter length; longer filters are
// left to the time-domain path.
constexpr int kFastConvolutionTaps = 1024;

void Fail(CreateError* error, CreateError why) {
    if (error) *error = why;
}

}  // namespace

struct Resampler {
    ResamplerInfo info;
    int channels = 0;
    int blockFrames = 0;
    int blockFill = 0;  // frames of the current input block consumed so far
    PolyphasePath polyphase;
    FftDecimator decimator;

    int Run(const float* input, int frames, float* output) {
        switch (info.mode) {
            case ResamplerMode::kPassThrough: {
                const size_t bytes = sizeof(float) * static_cast<size_t>(frames) * channels;
                if (input) {
                    std::memcpy(output, input, bytes);
                } else {
                    std::memset(output, 0, bytes);
                }
                return frames;
            }
            case ResamplerMode::kExact:
            case ResamplerMode::kTable:
                return info.fastConvolution ? decimator.Run(input, frames, output)
                                            : polyphase.Run(input, frames, output);
        }
        return 0;
    }
};

Resampler* Create(const ResamplerSettings& s, ResamplerInfo* infoOut, CreateError* error) {
    Fail(error, CreateError::kNone);
    if (s.channels < 1 || s.channels > kMaxChannels) {
        Fail(error, CreateError::kBadChannels);
        return nullptr;
    }
    if (s.inputRate <= 0 || s.outputRate <= 0) {
        Fail(error, CreateError::kBadRate);
        return nullptr;
    }
    if (s.inputBlockSamples <= 0 || s.inputBlockSamples % s.channels != 0) {
        Fail(error, CreateError::kBadBlockSize);
        return nullptr;
    }
    // Negated comparisons so that NaN fails too.
    if (!(s.cutoffHz > 0.0) || !(s.transitionFactor > 0.0)) {
        Fail(error, CreateError::kBadFilter);
        return nullptr;
    }

    ResamplerInfo info;
    info.cutoffHz = std::min(s.cutoffHz, 0.5 * std::min(s.inputRate, s.outputRate));
    info.inputBlockSamples = s.inputBlockSamples;
    const int blockFrames = s.inputBlockSamples / s.channels;

    std::unique_ptr<double[]> taps;
    if (s.inputRate == s.outputRate && info.cutoffHz == 0.5 * s.inputRate) {
        info.mode = ResamplerMode::kPassThrough;
        info.outputBlockSamples = s.inputBlockSamples;
    } else {
        const int g = std::gcd(s.inputRate, s.outputRate);
        info.upFactor = s.outputRate / g;
        info.downFactor = s.inputRate / g;
        if (static_cast<long long>(info.upFactor) >
            static_cast<long long>(kPhaseLimit) * info.downFactor) {
            Fail(error, CreateError::kRatioTooLarge);
            return nullptr;
        }
        info.mode = info.upFactor < kPhaseLimit ? ResamplerMode::kExact : ResamplerMode::kTable;
        info.phases = std::min(info.upFactor, kPhaseLimit);

        const long long outFrames =
            (static_cast<long long>(blockFrames) * info.upFactor + info.downFactor - 1) /
            info.downFactor;
        if (outFrames * s.channels > 0x7fffffffLL) {
            Fail(error, CreateError::kBadBlockSize);
            return nullptr;
        }
        info.outputBlockSamples = static_cast<int>(outFrames * s.channels);

        // The filter runs at phases x the input rate.
        const double filterRate = static_cast<double>(info.phases) * s.inputRate;
        const double cutoff = info.cutoffHz / filterRate;
        const double transition = s.transitionFactor * info.cutoffHz / filterRate;
        long long length = KaiserLength(kStopBandDb, transition);
        // With one phase (plain decimation, or a low-pass at equal rates) an even filter
        // would centre between two input samples, half a sample away from the whole-sample
        // delay reported below; one more tap puts the centre on a sample.
        if (info.phases == 1 && length % 2 == 0) ++length;
        if (length < 1 || length > kMaxTaps) {
            Fail(error, CreateError::kBadFilter);
            return nullptr;
        }
        info.filterLength = static_cast<int>(length);
        info.tapsPerPhase = static_cast<int>((length + info.phases - 1) / info.phases);
        info.delay = info.tapsPerPhase / 2;

        taps.reset(new (std::nothrow) double[static_cast<size_t>(length)]);
        if (!taps) {
            Fail(error, CreateError::kOutOfMemory);
            return nullptr;
        }
        DesignLowPass(cutoff, KaiserBeta(kStopBandDb), info.phases, taps.get(), length);
        info.fastConvolution = info.upFactor == 1 && length < kFastConvolutionTaps &&
                               FftDecimator::ChooseSegment(info.filterLength, blockFrames) > 0;
    }
    if (infoOut) *infoOut = info;

    std::unique_ptr<Resampler> r(new (std::nothrow) Resampler);
    if (!r) {
        Fail(error, CreateError::kOutOfMemory);
        return nullptr;
    }
    r->info = info;
    r->channels = s.channels;
    r->blockFrames = blockFrames;
    bool ready = true;
    if (info.mode != ResamplerMode::kPassThrough) {
        ready = info.fastConvolution
                    ? r->decimator.Init(taps.get(), info.filterLength, info.downFactor, blockFrames,
                                        s.channels)
                    : r->polyphase.Init(taps.get(), info.filterLength, info.upFactor,
                                        info.downFactor, info.phases, info.delay, s.channels);
    }
    if (!ready) {
        Fail(error, CreateError::kOutOfMemory);
        return nullptr;
    }
    return r.release();
}

bool Process(Resampler* r, const float* input, int inputSamples, int* position, float* output,
             int outputCapacity, int* outputSamples, InputEnd end) {
    if (!r || !position || !outputSamples || !output) return false;
    if (*position < 0 || *position > inputSamples) return false;
    if (inputSamples > 0 && !input) return false;
    if (outputCapacity < r->info.outputBlockSamples) return false;

    const int available = (inputSamples - *position) / r->channels;
    const int room = r->blockFrames - r->blockFill;
    const int take = std::min(available, room);
    int pad = 0;
    if (end == InputEnd::kLast && take == available && r->blockFill + take > 0) {
        pad = room - take;
    }
    int written = r->Run(take > 0 ? input + *position : nullptr, take, output);
    written += r->Run(nullptr, pad, output + static_cast<long long>(written) * r->channels);
    r->blockFill = (r->blockFill + take + pad) % r->blockFrames;
    *position += take * r->channels;
    *outputSamples = written * r->channels;
    return true;
}

void Destroy(Resampler* resampler) {
    delete resampler;
}

}  // namespace velora::resample
