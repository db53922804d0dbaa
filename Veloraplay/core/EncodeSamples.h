// Encodes samples from any source through the encoder's 32-bit float input, for inputs the
// encoder window's WAVE reader does not take (other widths, float, FLAC, a pipe). The stream
// is the one EncodeWaveFile writes for the same samples: the same options, the VBR header
// frame first and rewritten at the end, and a tag appended. The output may be a pipe: a VBR
// header then keeps its placeholder counts, and the outcome says so.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "EncodeJob.h"

namespace veloraplay {

// Interleaved frames at the encoder's full scale (+-32768), at a rate and channel count
// the encoder takes.
class SampleSource {
  public:
    virtual ~SampleSource() = default;
    virtual int Rate() const = 0;
    virtual int Channels() const = 0;
    // The frames to come in all, 0 when not known (a pipe).
    virtual uint64_t TotalFrames() const = 0;
    // Up to `frames` frames into `samples`; 0 at the end, -1 on a read error.
    virtual long Read(float* samples, long frames) = 0;
    // Why the last Read failed.
    virtual std::string Error() const = 0;
};

struct SampleEncodeOutcome : EncodeOutcome {
    // The output could not seek, so the VBR header frame was left as its placeholder.
    bool vbrHeaderNotRewritten = false;
    uint64_t frames = 0;  // frames read from the source
};

// Called after each read with the frames read so far and the total (0 when not known).
using SampleProgress = std::function<void(uint64_t framesRead, uint64_t totalFrames)>;

// `tag`, when not null, is the 128-byte tag appended at the end. On failure `out` holds
// garbage and the caller discards it.
SampleEncodeOutcome EncodeSamples(SampleSource& source, std::FILE* out, const EncodeOptions& options,
                                  const uint8_t* tag, const std::atomic<bool>& cancel, const SampleProgress& progress);

// The input rates the encoder codes with these options for `channels`, ascending.
std::vector<int> InputRatesFor(int channels, const EncodeOptions& options);

}  // namespace veloraplay
