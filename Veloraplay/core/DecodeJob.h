// Decodes a whole compressed stream into a sink (a WAVE file, later the sound output): every
// audio frame (an ID3v2 tag, a
// VBR header frame and tags at the end are passed over), with the encoder's delay and
// padding trimmed where the header records them. The format is the decoder's output format,
// which for a Velora stream is twice the coded rate; should the enhancement drop out later,
// the core-rate frames are resampled to keep time. The channel count is the most any frame
// has (read from the frame headers ahead of decoding when the input is seekable, else from
// the first two frames); frames with fewer channels are widened, with more mixed down.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>


namespace veloraplay {

struct DecodeOptions {
    int downsamplingShift = 0;
    bool mono = false;
    bool enhancement = true;
    // Trim the encoder delay and padding a Xing/Info (encoder extension) or VBRI header
    // records; false keeps every decoded sample after the header frame.
    bool gapless = true;
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
    bool headerFrame = false;       // a VBR header frame was passed over
    long long trimmedStart = 0;     // samples per channel of encoder delay left out
    long long trimmedEnd = 0;       // and of padding
    // Frames with more channels than the file, mixed down: an input that cannot be read
    // ahead, whose first frames had fewer channels than a later one.
    long long mixedDownFrames = 0;
    std::string incomplete;  // what the input lacks, e.g. "the last frame is cut: N of M bytes"
};

// Called now and then with the input bytes consumed so far and frames decoded.
using DecodeProgress = std::function<void(uint64_t bytesRead, long long frames)>;

// Where the decoded PCM goes: interleaved 16-bit samples in the format given to Open, which is
// called once, before the first Write. A false return ends the decode with a write error.
class DecodeSink {
public:
    virtual ~DecodeSink() = default;
    virtual bool Open(int channels, int sampleRate) = 0;
    virtual bool Write(const int16_t* samples, size_t count) = 0;
    // After the last Write of a decode that went well.
    virtual bool Finish() = 0;
};

DecodeOutcome DecodeStream(std::FILE* in, DecodeSink& sink, const DecodeOptions& options,
                           const std::atomic<bool>& cancel, const DecodeProgress& progress);

// DecodeStream into a 16-bit PCM WAVE file written to `out`.
DecodeOutcome DecodeToWave(std::FILE* in, std::FILE* out, const DecodeOptions& options,
                           const std::atomic<bool>& cancel, const DecodeProgress& progress);

}  // namespace veloraplay
