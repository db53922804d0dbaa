// Decodes a whole compressed stream into a WAVE writer: every decoded frame, in the format
// of the first one (later frames with another channel count are mixed or duplicated). The
// format is the decoder's output format, which for a Velora stream is twice the coded rate;
// should the enhancement drop out later, the core-rate frames are resampled to keep time.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "WaveFileWriter.h"

namespace veloraplay {

struct DecodeOptions {
    int downsamplingShift = 0;
    bool mono = false;
    bool enhancement = true;
};

struct DecodeOutcome {
    bool ok = false;
    std::string error;  // set when !ok
    long long frames = 0;
    long long crcErrors = 0;
    long long concealed = 0;
    int channels = 0;
    int sampleRate = 0;
    bool rateChanged = false;       // frames at another rate were written as they are
    long long resampledFrames = 0;  // frames at half the rate, brought to the output rate
};

// Called now and then with the input bytes consumed so far and frames decoded.
using DecodeProgress = std::function<void(uint64_t bytesRead, long long frames)>;

DecodeOutcome DecodeToWave(std::FILE* in, std::FILE* out, const DecodeOptions& options,
                           const std::atomic<bool>& cancel, const DecodeProgress& progress);

}  // namespace veloraplay
