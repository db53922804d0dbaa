// The Velora / mp3 decoder object: raw file bytes in, one decoded frame of PCM out per call.
#pragma once

#include <cstdint>
#include <memory>

#include "Mp3Ssc.h"

namespace velora {

// Rewritten after every Decode call that got past frame sync.
struct FrameInfo {
    int32_t layer;
    int32_t version;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int32_t bitrate;  // bit/s
    int32_t bitrateIndex;
    int32_t codedChannels;
    int32_t codedSamplingRate;
    int32_t outputChannels;
    int32_t outputSamplingRate;
    int32_t outputBitsPerSample;
    int32_t frameBits;
    float frameDurationMs;
    int32_t crcError;
    int32_t missingMainData;
    int32_t sbrActive;
};

// Room for ancillary text Decode may write: two items and the terminating zero.
constexpr int kAncillaryTextBufferSize = 544;
constexpr int kEqualiserBands = 8;
// Largest output frame: 1152 samples x 2 channels.
constexpr int kMaxFrameSamples = 1152 * 2;

class Veloradecoder {
public:
    // `downsamplingShift` 0 (full rate), 1 (half) or 2 (quarter); null for any other value
    // or when memory is short.
    static Veloradecoder* Create(int downsamplingShift, bool monoOutput, bool floatOutput);
    static void Destroy(Veloradecoder* decoder);

    // Copies as many bytes as fit into the input buffer; the caller offers the rest again
    // after the next Decode.
    int Feed(const uint8_t* bytes, int length);
    // Decodes at most one frame into `destination`: interleaved 16-bit samples, or floats
    // when created for float output. `text` (kAncillaryTextBufferSize bytes) and
    // `textLength` may be null. A Velora stream (the first decoded frame and the next three
    // with audio carry SBR payloads that pass every check, see VeloraStream) comes out at
    // twice the coded rate, 1152 samples per channel, from the first frame on; `sbrEnable`
    // false keeps that format and leaves the high band empty. Before the first frame the
    // call answers kSscSyncNeedData until the input holds the frames the probe reads, is
    // full, or has ended (SetEndOfData). A
    // destination too small for the frame gives kSscErrBufferSize and stays untouched; the
    // next call with room delivers that frame.
    Mp3Ssc Decode(void* destination, int destinationSize, int* bytesWritten, bool sbrEnable,
                  char* text, int* textLength);
    const FrameInfo& Info() const;
    // The SBR probe of the first decoded frame found the stream to be Velora (payloads that
    // pass CRC, header, element, length and placement checks in the first frame and the
    // ones after it), whether or not its enhancement could be decoded (Info().sbrActive says
    // that).
    bool VeloraStream() const;
    void SetEndOfData();
    // For seeking or restarting; keeps the result of the SBR probe.
    void Reset();
    // `count` (1..32) display levels 0..127 of the last decoded granule's subbands.
    void BandLevels(int count, uint8_t* levels) const;
    // The eight equaliser gains of the enhancement layer, written between Decode calls.
    float* Gains();

protected:
    Veloradecoder() = default;
    ~Veloradecoder() = default;
};

struct VeloradecoderDeleter {
    void operator()(Veloradecoder* decoder) const { Veloradecoder::Destroy(decoder); }
};
using VeloradecoderPtr = std::unique_ptr<Veloradecoder, VeloradecoderDeleter>;

}  // namespace velora
