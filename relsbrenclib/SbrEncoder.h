// The SBR encoder: analyses the full-rate input (twice the core rate) and writes, once per
// core frame, the payload from which the decoder rebuilds the band above the crossover.
// One channel encoder per coded channel; for a one-channel core fed from a two-channel
// input, a stereo-parameter encoder that sets the decoder's pseudo-stereo width.
//
// Create is the only call that allocates; nothing throws.
#pragma once

#include <cstdint>

namespace velora::sbr {

constexpr int kSbrBitBufferBytes = 2048;

// Filled with defaults, then from the tuning table row of the operating point.
struct SbrEncoderParams {
    int32_t bitrate = 64000;       // total bit/s of the stream
    int32_t channels = 2;          // coded channels, 1 or 2
    int32_t coreRate = 22050;      // output rate / 2
    int32_t frameLength = 1152;    // full-rate samples per frame
    float headerRepetition = 1.0f; // seconds between periodic headers; <= 0: none
    int32_t startFreq = 10;
    int32_t stopFreq = 9;
    int32_t tuning[5] = {};        // further table parameters; 0 keeps the encoder's default
    int32_t stereoCoding = 2;      // the row's last parameter: 0 never couples two channels
    bool monoCoreStereo = false;   // one coded channel from a two-channel input
    // Delay of the core path (decimator, core encoder and decoder) in full-rate samples:
    // the encoder delays its analysis by the same amount so that the payload of a frame
    // describes the samples the decoder rebuilds in that frame.
    int32_t coreDelay = 0;
};

// Shared between the SBR encoder and the core, one per encoder instance.
struct SbrExchange {
    float crossover = 0.0f;        // Hz, the lowest frequency coded by SBR
    bool adaptiveCrossover = false;
    float coreBandwidth = 0.0f;    // Hz, what the core codes (read when adaptive)
    int32_t channels = 0;
    float allowedCrossover = 0.0f; // the allowed crossover nearest to `crossover`
    // The payload of the current frame as the decoder receives it (byte 0 = marker x 16 +
    // first nibble, then the bytes the length counts) and its length in bits.
    uint8_t buffer[kSbrBitBufferBytes] = {};
    int32_t bits = 0;
    bool header = false;           // the payload carries an SBR header
};

class SbrEncoder {
public:
    // Null for a channel count other than 1 or 2, a frame length other than 960, 1024,
    // 1152, 1920, 2048 or 2304, a core rate the frequency tables cannot serve, start and
    // stop parameters without a usable band table, or when memory is short. Publishes the
    // crossover and the adaptive flag in `exchange`.
    static SbrEncoder* Create(const SbrEncoderParams& params, SbrExchange& exchange);
    static void Destroy(SbrEncoder* encoder);

    // `samples` holds one frame per channel, channel 0's frameLength samples followed by
    // channel 1's (two blocks also for a one-channel core from a two-channel input), full
    // scale +-32768. Writes the frame's payload into `exchange`. False when it could not
    // be written (the exchange then holds an empty payload).
    bool EncodeFrame(SbrExchange& exchange, const float* samples);

    // What the core kept of each of its QMF bands in the last frame it coded (decoded over
    // original energy, `count` bands from 0) for coded channel `channel`. The next frames
    // fill the bands copied from a source the core left empty with noise. Without it the
    // encoder assumes the sources intact.
    void SetSourceShare(int channel, const float* share, int count);

    float Crossover() const;
    // Input channels EncodeFrame reads: 2 for two coded channels or a one-channel core
    // from a two-channel input, else 1.
    int InputChannels() const;

protected:
    SbrEncoder() = default;
    ~SbrEncoder() = default;
};

}  // namespace velora::sbr
