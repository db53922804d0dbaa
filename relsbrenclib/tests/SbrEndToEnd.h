// The encoder end to end for the tests: full-rate signal -> SBR encoder (one payload per
// 1152 samples) and 2:1 decimator -> core PCM -> the project's SBR decoder -> output at the
// full rate; then band energies of output and original compared over 1024-sample segments
// in the SBR bands, after aligning them by the measured delay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SbrData.h"
#include "SbrEncoder.h"
#include "SbrHandoff.h"

namespace velora::sbr::test {

constexpr int kRate = 44100;
constexpr int kFrame = 1152;
// Output delay of the decoder's QMF path (32-band analysis, 64-band synthesis, the row lag
// of the high band), in full-rate samples; measured once on noise.
constexpr int kDecoderPathDelay = 962;

struct RunOptions {
    int codedChannels = 1;
    bool lcStereo = false;
    int stereoCoding = 2;
    int startFreq = 10;
    int stopFreq = 9;
    int32_t tuning[5] = {};
    bool enhancement = true;  // the decoder's switch
    // What the decoder gets as its core (one vector per core channel; empty: the input, as
    // a perfect core would keep it) and what the encoder is told the core kept of each
    // low-band QMF band (empty: nothing told).
    std::vector<std::vector<float>> core;
    std::vector<float> sourceShare;
};

struct RunResult {
    bool created = false;
    float crossover = 0.0f;
    int coreDelay = 0;                  // the decimator's delay, full-rate samples
    int outputDelay = 0;                // input -> output: core delay + kDecoderPathDelay
    int measuredDelay = 0;              // the same measured on the core band (noise-like input)
    std::vector<std::vector<float>> output;  // per output channel
    std::vector<velora::SbrFrame> payloads;
    int decodeErrors = 0;               // Process results other than 0
    int parseErrors = 0;                // frames the parser marked erroneous or left without data
    std::vector<int> badFrames;
    int headers = 0;
    std::vector<int> headerFrames;
    double meanPayloadBits = 0.0;
    int maxPayloadBytes = 0;
    std::vector<SbrFrameInfo> grids;     // channel 0's parsed grid per frame
    std::vector<int> coupledFrames;      // 1 when the frame's pair was coupled
    std::vector<int> widthIndex;         // parsed pseudo-stereo width per frame
    std::vector<int> limiterGains;       // the decoder's limiter_gains per frame (3: off)
    std::vector<int> outputModeOne;      // single-channel payloads asking for pseudo stereo
    SbrFreqData freq;                    // the decoder's tables after the first header
};

// `input` holds one vector per input channel (1, or 2 for pairs and LC stereo), each a
// multiple of kFrame long.
RunResult Run(const std::vector<std::vector<float>>& input, const RunOptions& options);

struct BandStats {
    double meanAbsDb = 0.0;
    double within6Db = 0.0;  // share of band segments within 6 dB
    int segments = 0;        // band segments compared
    double meanDb = 0.0;     // mean signed difference, output - original
};

// Per SBR band of `freq` (kx to the stop band), 1024-sample Hann segments of `original`
// against `output` shifted by `delay`; segments whose original band power lies more than
// `floorDb` below the loudest segment of that band, or within 6 dB of the quietest band the
// payload can describe, are left out.
BandStats CompareBands(const std::vector<float>& original, const std::vector<float>& output, int delay,
                       const SbrFreqData& freq, double floorDb = 50.0);

// One band segment CompareBands judges: its SBR band, segment index (from the first
// compared segment), the original's power in dB and output - original in dB.
struct BandSegment {
    int band = 0;
    int segment = 0;
    double originalDb = 0.0;
    double diffDb = 0.0;
};

// The band segments behind CompareBands, in band order.
std::vector<BandSegment> CompareBandSegments(const std::vector<float>& original, const std::vector<float>& output,
                                             int delay, const SbrFreqData& freq, double floorDb = 50.0);

// Mean power per sample of `x` between two frequencies over 1024-sample Hann segments from
// `start` to `end`.
double BandPower(const std::vector<float>& x, double f1, double f2, std::size_t start, std::size_t end);

// Signals, full scale +-32768.
std::vector<float> TiltedNoise(int frames, float level, uint32_t seed);  // falling ~6 dB/octave
std::vector<float> WhiteNoise(int frames, float level, uint32_t seed);
std::vector<float> Sine(int frames, double hz, float amplitude);
std::vector<float> ToneAndNoise(int frames, uint32_t seed);
std::vector<float> Castanets(int frames, uint32_t seed);  // decaying bursts every 0.3 s
// Noise between two frequencies: `count` sines of random phase spread evenly over the band,
// each of amplitude `level`.
std::vector<float> BandNoise(int frames, double f1, double f2, float level, uint32_t seed, int count = 120);
// x with each run of `period` samples scaled by gains[i % gains.size()].
std::vector<float> Gated(const std::vector<float>& x, size_t period, const std::vector<float>& gains);
std::vector<float> Square(int frames, double hz, float amplitude);
std::vector<float> Add(const std::vector<float>& a, const std::vector<float>& b, float gainB = 1.0f);

}  // namespace velora::sbr::test
