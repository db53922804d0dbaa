// Encodes a 16-bit PCM WAVE file into a Velora (or plain mp3) file the way the encoder
// window's job does: the encoder opened for the file, the output format and configuration
// applied, the data read in 2304-byte chunks, a VBR header frame written first as a
// placeholder and rewritten at offset 0 at the end, and the default tag appended.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "EncoderApi.h"

namespace veloraplay {

// The input rates the encoder may take, in the order they are offered, and the room one encode
// call's output needs.
inline constexpr int kEncoderInputRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
inline constexpr int kEncodeOutputBytes = 8192;

struct EncodeOptions {
    int bitrateKbps = 64;
    int vbrQuality = 0;        // 0 constant bit rate, 1..100 VBR
    uint32_t channelMode = 0;  // 0: Mono for a one-channel file, Stereo for two
    bool sbr = true;
    int qualityMode = 2;       // 0..2
    bool intensityStereo = true;
};

// Where an encode stopped short.
enum class EncodeFailure {
    None,
    Input,          // the WAVE file cannot be opened or is not 16-bit PCM
    EncoderOpen,    // the encoder has no operating point for the input's rate and channels
    OutputFormat,   // the asked bit rate, mode, SBR or VBR quality is not offered
    Configuration,  // the quality mode or stereo option was refused
    EncodeFrame,    // the encoder failed mid-stream; what was written is tagged and complete
    Output,         // a write or seek on the output failed
    Interrupted,    // the cancel flag was seen
};

struct EncodeOutcome {
    bool ok = false;
    EncodeFailure failure = EncodeFailure::None;
    std::string error;  // one line, set when !ok
    int inputRate = 0;
    int inputChannels = 0;
    int outputRate = 0;
    bool sbr = false;
    bool outputError = false;  // the error is the output's (a write or seek failed), not the input's
    std::string incomplete;    // what the input lacks, e.g. "the data chunk is N bytes short ..."
};

// Called now and then with the bytes of sample data read so far and their total.
using EncodeProgress = std::function<void(uint64_t bytesRead, uint64_t totalBytes)>;

// What the encoder window's job watches while a file is encoded, on the encoding thread.
class EncodeObserver {
  public:
    virtual ~EncodeObserver() = default;
    // After each read of the input: the sample bytes read so far and the total to encode
    // (the data chunk up to a multiple of 4; it may be 0).
    virtual void chunkRead(uint64_t bytesRead, uint64_t totalBytes) = 0;
    // The frames one encoder call produced, once written to the output (the VBR header
    // frame is not among them).
    virtual void encoded(const uint8_t* bytes, size_t count) = 0;
};

// Writes the stream to `out` (seekable, for the VBR header). On failure `out` holds
// garbage and the caller discards it.
EncodeOutcome EncodeWaveFile(const std::string& inputPath, std::FILE* out, const EncodeOptions& options,
                             const std::atomic<bool>& cancel, const EncodeProgress& progress);
// The same, watched by `observer`. A null `out` encodes without writing anything (a job that
// only listens to the result).
EncodeOutcome EncodeWaveFile(const std::string& inputPath, std::FILE* out, const EncodeOptions& options,
                             const std::atomic<bool>& cancel, EncodeObserver& observer);

// The VBR header frame at the start of `out` replaced by its final form, and the position
// back at the end. Only a header as long as the placeholder it replaces is written: a longer
// one would overwrite the first audio frame, a shorter one leave part of the old behind.
enum class HeaderRewrite { Done, LengthChanged, WriteFailed };
HeaderRewrite RewriteVbrHeader(std::FILE* out, const uint8_t* header, int length, int placeholderLength);

// One way the encoder can code an input: for VBR, a contiguous range of qualities that all
// give the same result, with the bit rate VBR's selection starts from.
struct OperatingPoint {
    bool vbr = false;
    int inputRate = 0;
    int channels = 0;
    uint32_t channelMode = 0;  // the encoder's channel mode, as in EncodeOptions
    bool sbr = false;          // as the encoder chose it
    int kbps = 0;
    int qualityLow = 0;  // VBR only
    int qualityHigh = 0;
    int outputRate = 0;  // the decoded rate
    bool operator==(const OperatingPoint&) const = default;
};

// Every operating point the encoder offers, found by asking it for every input rate, channel
// count, mode, SBR request and standard bit rate exactly as EncodeWaveFile would; the VBR
// points for the bit rate `vbrKbps`.
std::vector<OperatingPoint> ListOperatingPoints(int vbrKbps);

// A point as `velora encode --list` prints it:
//   cbr in=RATE ch=N mode=MODE sbr=on|off kbps=K out=RATE
//   vbr in=RATE ch=N mode=MODE sbr=on|off q=LOW..HIGH out=RATE kbps=K
std::string FormatOperatingPoint(const OperatingPoint& point);

// The constant-bit-rate points the encoder offers for this input in `channelMode` (1..4) with
// SBR asked for, as EncodeWaveFile would be asked for them, in ascending bit rate. `sbr` and
// `outputRate` tell what the encoder made of the request. False when it cannot code the
// input's rate and channel count at all.
bool OfferedOperatingPoints(int inputRate, int channels, uint32_t channelMode, std::vector<OperatingPoint>& points);

// The output format EncodeWaveFile asks the encoder for (zeros left to its choice).
velora::enc::EncoderOutputFormat RequestedOutputFormat(const EncodeOptions& options, int channels);
// The encoder opened for r.inputRate and r.inputChannels in `sampleFormat` with `options`
// applied, as EncodeWaveFile opens it; r.outputRate and r.sbr say what it chose. Null on
// failure, with r.failure and r.error telling what is offered instead.
velora::enc::Mp3EncHandle OpenEncoderFor(const EncodeOptions& options, int sampleFormat, EncodeOutcome& r);

// What the encoder accepts for this input with `asked`'s mode, SBR request and VBR quality,
// for error messages, found by asking it: the bit rates (for VBR those its selection may
// start from), or when there are none the modes that have some; for an input it cannot open,
// the input rates it takes.
std::string DescribeOperatingPoints(int inputRate, int channels, const EncodeOptions& asked);

}  // namespace veloraplay
