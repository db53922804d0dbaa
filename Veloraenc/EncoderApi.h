// The encoder library's interface: a handle and seven calls that turn interleaved PCM into
// a Velora stream (an mp3 core at half the output rate whose frames carry the SBR payload),
// or into a plain mp3 stream when SBR is off.
//
// Open allocates everything a stream needs (a new output format or configuration
// re-creates the converters and the SBR encoder); the encoding call allocates nothing.
// No call throws; every call reports failure as 0 (or -1 for the encoding call) without a
// reason.
#pragma once

#include <cstdint>

namespace velora::enc {

enum ChannelMode : uint32_t {
    kChannelModeAuto = 0,
    kChannelModeMono = 1,
    kChannelModeStereo = 2,
    kChannelModeLcStereo = 3,  // one coded core channel from two, stereo carried by SBR
    kChannelModeDualMono = 4,
};

enum SbrMode : uint32_t {
    kSbrModeAuto = 0,
    kSbrModeOn = 1,
    kSbrModeOff = 2,
};

enum InputSampleFormat : int {
    kInputInt16 = 0,    // 16-bit signed, native byte order
    kInputFloat32 = 1,  // 32-bit float, full scale +-32768
};

// Zeros are "automatic"; mp3EncSetOutputFormat writes the chosen values back.
struct EncoderOutputFormat {
    uint32_t sampleRate = 0;   // Hz of the decoded stream (the core runs at half with SBR)
    uint32_t channelMode = 0;  // ChannelMode
    uint32_t sbrMode = 0;      // SbrMode
    uint32_t bitrate = 0;      // bit/s, SBR payload included; 0 with VBR
    uint32_t vbrQuality = 0;   // 0 constant bit rate, 1..100 VBR
};

// Edited in place between mp3EncGetConfiguration and mp3EncSetConfiguration.
struct EncoderConfiguration {
    int32_t qualityMode = 1;      // 0..2, 2 = best (also band-limits through the converter)
    int32_t intensityStereo = 0;  // permission; off in Dual Mono
    int32_t midSideStereo = 1;    // permission; off in Dual Mono
    // The core's low-bit-rate stereo stage: two coded channels, CBR, at most 48000 bit/s.
    int32_t lowBitrateStereo = 0;
    float bandwidth = 0.0f;       // Hz, 0 automatic; with SBR the crossover replaces it
    int32_t streamSetup = 0;      // for the core's frame header / bit-stream set-up
    int32_t rateControlMode = 0;  // 0..2, for the core's bit-rate control
    int32_t privateBit = 0;
    int32_t copyright = 0;
    int32_t original = 1;
};

constexpr int kEncodeOutputBytes = 4096;

struct Mp3EncInstance;
using Mp3EncHandle = Mp3EncInstance*;

// Input rates 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 or 48000 Hz, one or
// two channels, an InputSampleFormat. Chooses the output format for 64000 bit/s. Null on
// any failure.
Mp3EncHandle mp3EncOpen(int inputSampleRate, int inputChannels, int inputSampleFormat);

// 1 when the format (zeros chosen) is an operating point the tables offer; writes the final
// values back. 0 otherwise; the instance may then hold a partly changed format and can only
// be closed.
int mp3EncSetOutputFormat(Mp3EncHandle handle, EncoderOutputFormat* format);

// The instance's own record (null for a null handle).
EncoderConfiguration* mp3EncGetConfiguration(Mp3EncHandle handle);
// 1 when qualityMode and rateControlMode are 0..2 and the bandwidth is at most half the
// output rate; nothing changes on 0.
int mp3EncSetConfiguration(Mp3EncHandle handle, const EncoderConfiguration* configuration);

// Takes input bytes (whole sample frames or not; `*consumedBytes` says how many it took)
// and writes whole frames to `output`. Returns the bytes written, 0 when nothing is ready
// or everything has been flushed, -1 on error. A byte count of 0 flushes: call with 0
// until the result is 0. An output buffer smaller than two of the stream's largest frames
// is an error; kEncodeOutputBytes is always enough.
int VeloraencEncodeFrame(Mp3EncHandle handle, const void* input, int inputBytes, int* consumedBytes,
                         uint8_t* output, int outputSize, int reserved1, int reserved2);

// The VBRI header frame's length, 0 when VBR is off; writes the frame only when `size` is
// at least that long. Before the first frame it is a placeholder to be overwritten.
int mp3EncGetVbrHeader(Mp3EncHandle handle, uint8_t* buffer, int size);

// 1, or 0 for a null handle.
int mp3EncClose(Mp3EncHandle handle);

}  // namespace velora::enc
