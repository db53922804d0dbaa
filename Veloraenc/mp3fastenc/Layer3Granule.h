// Records that pass between the stages of the Layer III core encoder for one granule of one
// channel: the filter bank's spectrum with its block type, and the quantiser's result that
// the frame writer codes.
#pragma once

#include <cstdint>

namespace velora::enc {

constexpr int kGranuleLines = 576;
constexpr int kSubbands = 32;
constexpr int kSubbandSamples = 18;
constexpr int kShortWindows = 3;
constexpr int kShortLines = 192;  // per window

enum BlockType : int32_t { kBlockLong = 0, kBlockStart = 1, kBlockShort = 2, kBlockStop = 3 };

// The filter bank's output. Long, start and stop blocks: 576 lines in frequency order, after
// alias reduction. Short blocks: window w's line i (0..191) at index 3 * i + w, i.e. the
// order of the polyphase subbands with the three windows interleaved per line; the
// psychoacoustic model reorders band by band for the quantiser.
struct GranuleSpectrum {
    int32_t blockType = kBlockLong;
    float lines[kGranuleLines] = {};
};

// What the quantiser decided for one granule of one channel; the frame writer turns it into
// side information and main data.
struct QuantisedGranule {
    int32_t blockType = kBlockLong;
    int32_t globalGain = 210;     // 0..255
    int32_t scalefacScale = 0;    // 0 or 1
    int32_t preflag = 0;          // 0 or 1 (MPEG-1 only)
    int32_t subblockGain[kShortWindows] = {};  // 0..7, short blocks only
    // Long blocks: bands 0..20 (band 21 carries none). Short blocks: band b, window w at
    // index 3 * b + w for bands 0..11.
    int32_t scalefactors[39] = {};
    // Quantised lines, signed, in bitstream order: long blocks in frequency order, short
    // blocks band by band, window by window within a band (as the decoder reads them).
    int32_t values[kGranuleLines] = {};
    // MPEG-2 and 2.5: the right channel of an intensity-coded granule, whose scale factors
    // are coded with the intensity partition tables.
    bool intensityChannel = false;
    // That channel's intensity_scale (0 or 1), which MPEG-2 and 2.5 carry in bit 0 of its
    // scalefac_compress.
    int32_t intensityScale = 0;
};

}  // namespace velora::enc
