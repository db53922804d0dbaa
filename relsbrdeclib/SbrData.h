// Records of the SBR decoder shared by the payload parser, the frequency tables and the
// envelope decoding: the stored header, one channel's parsed element, its frequency
// tables and its decoded envelopes.
#pragma once

#include <cstdint>

namespace velora::sbr {

constexpr int kMaxEnvelopes = 4;
constexpr int kMaxNoiseEnvelopes = 2;
constexpr int kMaxMasterBands = 48;
constexpr int kMaxNoiseBands = 5;
constexpr int kMaxLimiterBands = 12;
constexpr int kMaxEnvelopeValues = 192;  // over all envelopes of a frame
constexpr int kQmfBands = 64;
constexpr int kFrameSlots = 9;           // SBR time slots per frame (2 QMF sub-samples each)
constexpr int kMaxWaveformGroups = 4;
constexpr int kMaxWaveformBands = 4;
constexpr int kFrameSubsamples = 18;

// Result codes of payload parsing and processing.
constexpr int kSbrOk = 0;
constexpr int kSbrErrElement = 11;  // unknown element kind
constexpr int kSbrErrReinit = 12;   // re-initialisation after a header change failed twice
constexpr int kSbrErrUnusable = 13; // payload unusable and nothing to conceal with

enum class ChannelMode : int32_t { kUnset = 0, kMono = 1, kStereo = 2, kMonoAfterStereo = 3 };

// The stored SBR header; the defaults are the values before the first header.
struct SbrHeader {
    int32_t version = 0;
    int32_t ampRes = 1;        // 1 = 3.0 dB steps, 0 = 1.5 dB
    int32_t startFreq = 5;
    int32_t stopFreq = 0;
    int32_t xoverBand = 0;
    int32_t flagA = 0;         // every element carries the 3-bit patch mode
    int32_t pseudoStereoWidth = 2;
    bool keepWidth = false;    // read and drop the width field
    int32_t freqScale = 2;
    int32_t alterScale = 1;
    int32_t noiseBands = 2;
    int32_t limiterBands = 2;
    int32_t limiterGains = 2;
    int32_t interpolFreq = 1;
    int32_t smoothingMode = 0;
    ChannelMode channelMode = ChannelMode::kUnset;
    int32_t streamFlag = 1;    // 0 when the core rate is above 24000 Hz
    bool received = false;     // a valid header has been received
};

// The time grid of one channel and frame.
struct SbrFrameInfo {
    int32_t frameClass = 0;  // 0 FIXFIX, 1 FIXVAR, 2 VARFIX, 3 VARVAR
    int32_t envelopes = 1;
    int32_t borders[kMaxEnvelopes + 1] = {0, kFrameSlots};
    int32_t freqRes[kMaxEnvelopes] = {1};  // 1 = high resolution
    int32_t pointer = 0;                   // stored pointer (transient envelope index)
    int32_t noiseEnvelopes = 1;
    int32_t noiseBorders[kMaxNoiseEnvelopes + 1] = {0, kFrameSlots};
};

struct SbrWaveformGroup {
    int32_t firstBand = 0;
    int32_t bands = 0;      // 1..4
    int32_t timeRange = 0;  // 1: sub-samples 9..17, 2: 0..8, 3: 0..17
    int32_t fadeOut = 0;
    int32_t width[kMaxWaveformBands] = {};       // 4 or 5
    int32_t scaleIndex[kMaxWaveformBands] = {};  // 0..31
    int32_t values[kMaxWaveformBands][kFrameSubsamples] = {};  // signed
};

// One channel's parsed element (what the payload says, before delta decoding).
struct SbrChannelData {
    SbrFrameInfo grid;
    int32_t deltaTime[kMaxEnvelopes] = {};       // per envelope: 1 = over time, 0 = over frequency
    int32_t noiseDeltaTime[kMaxNoiseEnvelopes] = {};
    int32_t invfMode = 0;
    int32_t previousInvfMode = 0;
    int32_t secondField = 0;                     // the 2-bit field after the mode
    int32_t patchMode = 0;                       // the 3-bit field (header flag A)
    bool balance = false;                        // second channel of a coupled pair
    bool coupled = false;
    // Coded values per envelope and band: the first value absolute when over frequency,
    // then deltas; balance values already doubled.
    int32_t envelope[kMaxEnvelopes][kMaxMasterBands] = {};
    int32_t noise[kMaxNoiseEnvelopes][kMaxNoiseBands] = {};
    int32_t waveformGroups = 0;                  // 0 = none
    SbrWaveformGroup waveform[kMaxWaveformGroups];
    bool frameError = false;  // this frame is concealed from the previous one
    bool errorState = false;  // stays until a frame whose first envelope is over frequency
    bool valid = false;       // the channel has SBR data to apply
};

// Frequency band tables of one channel, rebuilt on every header reset.
struct SbrFreqData {
    int32_t k0 = 0;
    int32_t k2 = 0;
    int32_t masterBands = 0;
    int32_t master[kMaxMasterBands + 1] = {};
    int32_t highBands = 0;  // N_high
    int32_t high[kMaxMasterBands + 1] = {};
    int32_t lowBands = 0;   // N_low
    int32_t low[kMaxMasterBands + 1] = {};
    int32_t kx = 0;
    int32_t upper = 0;      // upper edge of the SBR range
    int32_t m = 0;          // upper - kx
    int32_t noiseBandCount = 0;  // N_Q
    int32_t noise[kMaxNoiseBands + 1] = {};
    int32_t limiterBandCount[4] = {};
    int32_t limiter[4][kMaxLimiterBands + 1] = {};  // relative to kx
    float tilt[kQmfBands] = {};                      // for bands kx..upper-1
};

// Decoded envelopes of one channel and frame.
struct SbrEnvelopeData {
    SbrFrameInfo grid;
    float envelope[kMaxEnvelopes][kMaxMasterBands] = {};  // energies after dequantisation
    float noise[kMaxNoiseEnvelopes][kMaxNoiseBands] = {};  // noise-floor levels
    // References for time-direction deltas: the last envelope at high resolution and the
    // last noise envelope, as quantised values.
    float referenceEnvelope[kMaxMasterBands] = {};
    float referenceNoise[kMaxNoiseBands] = {};
    int32_t ampRes = 1;
    bool balance = false;
    bool frameError = false;
    int32_t previousLastBorder = kFrameSlots;
};

}  // namespace velora::sbr
