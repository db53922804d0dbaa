// The 32-bit MPEG audio frame header and the values derived from it. Only Layer III
// headers with a bit-rate index of 1..14 and a sampling-frequency index of 0..2 are
// accepted; free format is rejected.
#pragma once

#include <cstdint>

namespace velora {

struct MpegHeader {
    uint32_t word = 0;
    int extensionBit = 0;   // 1 = MPEG-1 or MPEG-2, 0 = MPEG-2.5
    int id = 0;             // 1 = MPEG-1
    int layer = 0;          // 4 - layer code
    int protectionBit = 0;  // 0 = a CRC follows the header
    int bitrateIndex = 0;
    int samplingIndex = 0;
    int padding = 0;
    int privateBit = 0;
    int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int modeExtension = 0;  // bit 1: MS stereo, bit 0: intensity stereo
    int copyright = 0;
    int original = 0;
    int emphasis = 0;

    // Derived.
    int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int channels = 0;
    int samplingRate = 0;
    int bitrate = 0;  // bit/s
    int frameBits = 0;
    int headerBits = 0;  // 48 with CRC, 32 without
    bool crcPresent = false;
    float frameDurationMs = 0.0f;

    // Fills the record from a header word; a rejected word clears it and returns false.
    bool Parse(uint32_t headerWord);
    int SamplesPerFrame() const { return version == 0 ? 1152 : 576; }
    int FrameBits() const { return frameBits; }
    // Bytes of side information: 17/32 for MPEG-1, 9/17 for MPEG-2 and 2.5.
    int SideInfoBytes() const;
};

// Bits of the header that must stay the same within one stream: sync word, ID,
// extension bit, layer and sampling-frequency index.
constexpr uint32_t kSyncPatternMask = 0xFFFE0C00u;

}  // namespace velora
